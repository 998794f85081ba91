// The few native (ntdll) calls and records the Windows backend uses,
// declared here so that no other header's view of them is needed.
#pragma once

#include <windows.h>

#include <cstddef>

static_assert(sizeof(wchar_t) == 2, "wide text is UTF-16");

namespace sm::nt {

using NtStatus = LONG;

inline constexpr NtStatus kStatusBufferOverflow = static_cast<NtStatus>(0x80000005);

struct IoStatusBlock {
  union {
    NtStatus status;
    void* pointer;
  };
  ULONG_PTR information;
};

struct UnicodeString {
  USHORT length;
  USHORT maximum_length;
  wchar_t* buffer;
};

struct ObjectAttributes {
  ULONG length;
  HANDLE root_directory;
  UnicodeString* object_name;
  ULONG attributes;
  void* security_descriptor;
  void* security_quality_of_service;
};

enum : ULONG {
  kFileBasicInformation = 4,
  kFileStandardInformation = 5,
  kFileDispositionInformation = 13,
  kFileAllInformation = 18,
  kFileAttributeTagInformation = 35,
  kFileIdInformation = 59,
  kFileFsVolumeInformation = 1,
};

struct BasicInformation {
  LONGLONG times[4];  // creation, last access, last write, change
  ULONG attributes;
};

struct StandardInformation {
  LONGLONG allocation_size;
  LONGLONG end_of_file;
  ULONG number_of_links;
  BOOLEAN delete_pending;
  BOOLEAN directory;
};

// FILE_ALL_INFORMATION up to the start of the name.
struct AllInformation {
  BasicInformation basic;
  StandardInformation standard;
  LONGLONG index_number;
  ULONG ea_size;
  ULONG access_flags;
  LONGLONG current_byte_offset;
  ULONG mode;
  ULONG alignment_requirement;
  ULONG name_length;
  WCHAR name[1];
};
static_assert(offsetof(AllInformation, standard) == 40);
static_assert(offsetof(AllInformation, index_number) == 64);
static_assert(offsetof(AllInformation, name_length) == 96);

struct AttributeTagInformation {
  ULONG attributes;
  ULONG reparse_tag;
};

struct IdInformation {
  ULONGLONG volume_serial;
  BYTE file_id[16];
};

struct VolumeInformation {
  LONGLONG creation_time;
  ULONG serial_number;
  ULONG label_length;
  BOOLEAN supports_objects;
  WCHAR label[1];
};

}  // namespace sm::nt

extern "C" {
sm::nt::NtStatus NTAPI NtCreateFile(HANDLE* handle, ACCESS_MASK access, sm::nt::ObjectAttributes* attributes,
                                    sm::nt::IoStatusBlock* io, LARGE_INTEGER* allocation_size, ULONG file_attributes,
                                    ULONG share, ULONG disposition, ULONG options, void* ea, ULONG ea_length);
sm::nt::NtStatus NTAPI NtQueryInformationFile(HANDLE handle, sm::nt::IoStatusBlock* io, void* buffer, ULONG length,
                                              ULONG info_class);
sm::nt::NtStatus NTAPI NtSetInformationFile(HANDLE handle, sm::nt::IoStatusBlock* io, void* buffer, ULONG length,
                                            ULONG info_class);
sm::nt::NtStatus NTAPI NtQueryVolumeInformationFile(HANDLE handle, sm::nt::IoStatusBlock* io, void* buffer,
                                                    ULONG length, ULONG info_class);
sm::nt::NtStatus NTAPI NtQueryDirectoryFile(HANDLE handle, HANDLE event, void* apc_routine, void* apc_context,
                                            sm::nt::IoStatusBlock* io, void* buffer, ULONG length, ULONG info_class,
                                            BOOLEAN single_entry, sm::nt::UnicodeString* name, BOOLEAN restart);
sm::nt::NtStatus NTAPI NtClose(HANDLE handle);
ULONG NTAPI RtlNtStatusToDosError(sm::nt::NtStatus status);
}
