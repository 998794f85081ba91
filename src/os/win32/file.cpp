// The file API on the Windows native interface.
#include <cstring>

#include "os/file.h"
#include "os/file_info.h"
#include "os/native.h"
#include "os/win32/nt_api.h"

namespace sm {
namespace {

HANDLE to_native(FileHandle handle) { return static_cast<HANDLE>(handle); }

bool error_mode_set = false;

ErrorCode status_result(nt::NtStatus status, const nt::IoStatusBlock& io) {
  if (status < 0) return error_from_status(static_cast<uint32_t>(status));
  if (io.status < 0) return error_from_status(static_cast<uint32_t>(io.status));
  return kOk;
}

ErrorCode query_information(FileHandle handle, void* buffer, ULONG length, ULONG info_class) {
  nt::IoStatusBlock io{};
  return status_result(NtQueryInformationFile(to_native(handle), &io, buffer, length, info_class), io);
}

ErrorCode set_information(FileHandle handle, void* buffer, ULONG length, ULONG info_class) {
  nt::IoStatusBlock io{};
  return status_result(NtSetInformationFile(to_native(handle), &io, buffer, length, info_class), io);
}

}  // namespace

namespace native {

void prepare_native_opens() {
  // Two threads racing here make the same call; that is harmless.
  if (error_mode_set) return;
  error_mode_set = true;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

ErrorCode transfer_once(FileHandle handle, void* buffer, uint32_t count, uint32_t* moved, bool write) {
  DWORD done = 0;
  BOOL ok = write ? WriteFile(to_native(handle), buffer, count, &done, nullptr)
                  : ReadFile(to_native(handle), buffer, count, &done, nullptr);
  *moved = done;
  return ok ? kOk : GetLastError();
}

ErrorCode set_delete_on_close(FileHandle handle) {
  BOOLEAN delete_file = TRUE;
  return set_information(handle, &delete_file, sizeof delete_file, nt::kFileDispositionInformation);
}

ErrorCode set_basic_information(FileHandle handle, const int64_t times[4], uint32_t attributes) {
  nt::BasicInformation basic{};
  for (int i = 0; i < 4; ++i) basic.times[i] = times[i];
  basic.attributes = attributes;
  return set_information(handle, &basic, sizeof basic, nt::kFileBasicInformation);
}

ErrorCode query_is_folder(FileHandle handle, bool* is_folder) {
  nt::StandardInformation standard{};
  ErrorCode result = query_information(handle, &standard, sizeof standard, nt::kFileStandardInformation);
  *is_folder = result == kOk && standard.directory;
  return result;
}

ErrorCode query_file_info(FileHandle handle, FileInfo* info, uint32_t* reparse_tag) {
  *info = FileInfo{};
  *reparse_tag = 0;
  alignas(8) unsigned char buffer[sizeof(nt::AllInformation) + 512];
  nt::IoStatusBlock io{};
  nt::NtStatus status = NtQueryInformationFile(to_native(handle), &io, buffer, sizeof buffer, nt::kFileAllInformation);
  // Only the name may not have fit; everything before it is there.
  if (status < 0 && status != nt::kStatusBufferOverflow) return error_from_status(static_cast<uint32_t>(status));
  const auto* all = reinterpret_cast<const nt::AllInformation*>(buffer);
  info->attributes = all->basic.attributes;
  info->creation_time = all->basic.times[0];
  info->last_access_time = all->basic.times[1];
  info->last_write_time = all->basic.times[2];
  info->change_time = all->basic.times[3];
  info->size = static_cast<uint64_t>(all->standard.end_of_file);
  int64_t index_number = all->index_number;

  if (info->attributes & kAttributeReparsePoint) {
    nt::AttributeTagInformation tag{};
    if (query_information(handle, &tag, sizeof tag, nt::kFileAttributeTagInformation) == kOk) {
      *reparse_tag = tag.reparse_tag;
    }
  }

  nt::IdInformation id{};
  if (query_information(handle, &id, sizeof id, nt::kFileIdInformation) == kOk) {
    info->volume_serial = id.volume_serial;
    memcpy(info->file_id, id.file_id, sizeof info->file_id);
  } else {
    alignas(8) unsigned char volume_buffer[sizeof(nt::VolumeInformation) + 64];
    nt::IoStatusBlock volume_io{};
    nt::NtStatus volume_status = NtQueryVolumeInformationFile(to_native(handle), &volume_io, volume_buffer,
                                                              sizeof volume_buffer, nt::kFileFsVolumeInformation);
    if (volume_status >= 0 || volume_status == nt::kStatusBufferOverflow) {
      info->volume_serial = reinterpret_cast<const nt::VolumeInformation*>(volume_buffer)->serial_number;
    }
    memcpy(info->file_id, &index_number, sizeof index_number);
  }
  return kOk;
}

ErrorCode query_directory(FileHandle handle, void* buffer, uint32_t size, uint32_t info_class, uint32_t* filled) {
  nt::IoStatusBlock io{};
  nt::NtStatus status =
      NtQueryDirectoryFile(to_native(handle), nullptr, nullptr, nullptr, &io, buffer, size, info_class, FALSE,
                           nullptr, FALSE);
  *filled = 0;
  ErrorCode result = status_result(status, io);
  // "No more files" is a warning status, not a failure, yet it ends the listing.
  if (result == kOk && status != 0) result = error_from_status(static_cast<uint32_t>(status));
  if (result == kOk) *filled = static_cast<uint32_t>(io.information);
  return result;
}

}  // namespace native

ErrorCode error_from_status(uint32_t status) { return RtlNtStatusToDosError(static_cast<nt::NtStatus>(status)); }

ErrorCode nt_open(const char16_t* path, uint32_t access, uint32_t share, uint32_t attributes, uint32_t disposition,
                  uint32_t options, FileHandle* handle) {
  *handle = kInvalidFileHandle;
  native::prepare_native_opens();
  ScratchPool pool;
  NtName name{};
  ErrorCode result = nt_name_from_path(pool, path, &name);
  if (result == kOk) {
    nt::UnicodeString native_name{name.length, name.maximum_length, reinterpret_cast<wchar_t*>(name.text)};
    nt::ObjectAttributes object{sizeof(nt::ObjectAttributes), nullptr, &native_name, 0x40, nullptr, nullptr};
    nt::IoStatusBlock io{};
    HANDLE native_handle = nullptr;
    nt::NtStatus status = NtCreateFile(&native_handle, access, &object, &io, nullptr, attributes, share, disposition,
                                       options, nullptr, 0);
    result = status_result(status, io);
    if (result == kOk) {
      *handle = native_handle;
    } else if (status >= 0 && native_handle) {
      NtClose(native_handle);
    }
  }
  pool.ReleaseAll();
  return result;
}

ErrorCode file_seek(FileHandle handle, uint32_t position_low, uint32_t position_high) {
  if (is_no_handle(handle)) return kErrorInvalidHandle;
  LONG high = static_cast<LONG>(position_high);
  SetLastError(0);
  DWORD low = SetFilePointer(to_native(handle), static_cast<LONG>(position_low), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != 0) return GetLastError();
  return kOk;
}

ErrorCode file_get_size(FileHandle handle, uint64_t* size) {
  *size = 0;
  if (is_no_handle(handle)) return kErrorInvalidHandle;
  LONG high = 0;
  SetLastError(0);
  DWORD low = SetFilePointer(to_native(handle), 0, &high, FILE_END);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != 0) return GetLastError();
  *size = (static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low;
  return kOk;
}

void handle_close(FileHandle handle) {
  if (is_no_handle(handle)) return;
  auto bits = reinterpret_cast<uintptr_t>(handle);
  if ((bits & 3) != 3) {
    NtClose(to_native(handle));
    return;
  }
  // A console handle: one of our own standard handles that the console still
  // serves stays open for the rest of the process.
  bool standard = handle == GetStdHandle(STD_INPUT_HANDLE) || handle == GetStdHandle(STD_OUTPUT_HANDLE) ||
                  handle == GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (standard && !GetConsoleMode(to_native(handle), &mode)) return;
  CloseHandle(to_native(handle));
}

ErrorCode handle_duplicate(FileHandle* duplicate, FileHandle handle) {
  *duplicate = kInvalidFileHandle;
  if (is_no_handle(handle)) return kErrorInvalidHandle;
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), to_native(handle), GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return GetLastError();
  }
  *duplicate = copy;
  return kOk;
}

ErrorCode null_device_open(FileHandle* handle) {
  // Synchronous I/O needs the synchronize right beside read and write data.
  return nt_open(u"\\\\.\\NUL", kAccessSynchronize | kAccessReadData | kAccessWriteData, kShareAll, 0,
                 kDispositionOpen, kOptionSynchronous, handle);
}

FileHandle std_handle(StdHandle which) {
  DWORD id = which == StdHandle::kInput ? STD_INPUT_HANDLE
             : which == StdHandle::kOutput ? STD_OUTPUT_HANDLE
                                           : STD_ERROR_HANDLE;
  return GetStdHandle(id);
}

}  // namespace sm
