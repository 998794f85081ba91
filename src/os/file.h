// Files and folders through the native interface: opens by flags word,
// synchronous transfers, times, deletion, and the compact error codes.
#pragma once

#include <cstdint>

#include "base/error.h"
#include "base/pool.h"
#include "os/handle.h"

namespace sm {

// Flags word of file_open.
inline constexpr uint32_t OPEN_QUERY = 0x0001;
inline constexpr uint32_t OPEN_READ = 0x0002;
inline constexpr uint32_t OPEN_WRITE_ATTRIBUTES = 0x0004;
inline constexpr uint32_t OPEN_WRITE = 0x0008;
inline constexpr uint32_t OPEN_DENY_WRITE = 0x0020;
inline constexpr uint32_t OPEN_SHARE_WRITE = 0x0040;
inline constexpr uint32_t OPEN_CREATE = 0x0080;
inline constexpr uint32_t OPEN_TRUNCATE = 0x0100;
inline constexpr uint32_t OPEN_NO_BUFFERING = 0x0200;
inline constexpr uint32_t OPEN_ASYNC = 0x0400;
inline constexpr uint32_t OPEN_EXECUTE = 0x0800;

// Native access rights, share modes, attributes, dispositions and options.
inline constexpr uint32_t kAccessReadData = 0x1;
inline constexpr uint32_t kAccessWriteData = 0x2;
inline constexpr uint32_t kAccessExecute = 0x20;
inline constexpr uint32_t kAccessWriteAttributes = 0x110;  // attributes + extended attributes
inline constexpr uint32_t kAccessSynchronize = 0x100000;
inline constexpr uint32_t kAccessBaseRead = 0x120088;  // synchronize, read-control, read (extended) attributes
inline constexpr uint32_t kShareRead = 1;
inline constexpr uint32_t kShareWrite = 2;
inline constexpr uint32_t kShareDelete = 4;
inline constexpr uint32_t kShareAll = 7;
inline constexpr uint32_t kAttributeReadOnly = 0x1;
inline constexpr uint32_t kAttributeHidden = 0x2;
inline constexpr uint32_t kAttributeSystem = 0x4;
inline constexpr uint32_t kAttributeFolder = 0x10;
inline constexpr uint32_t kAttributeArchive = 0x20;
inline constexpr uint32_t kAttributeNormal = 0x80;
inline constexpr uint32_t kAttributeReparsePoint = 0x400;
inline constexpr uint32_t kAttributeNotContentIndexed = 0x2000;
inline constexpr uint32_t kDispositionCreateNew = 2;
inline constexpr uint32_t kDispositionOpen = 1;
inline constexpr uint32_t kDispositionOpenOrCreate = 3;
inline constexpr uint32_t kDispositionOverwrite = 4;
inline constexpr uint32_t kDispositionOverwriteOrCreate = 5;
inline constexpr uint32_t kOptionFolder = 0x1;
inline constexpr uint32_t kOptionNoBuffering = 0x8;
inline constexpr uint32_t kOptionSynchronous = 0x20;
inline constexpr uint32_t kOptionOpenReparsePoint = 0x200000;

// The native open that file_open computes from a flags word.
struct NativeOpen {
  uint32_t access;
  uint32_t share;
  uint32_t attributes;
  uint32_t disposition;
  uint32_t options;
};
NativeOpen open_flags_to_native(uint32_t flags);

// A counted native name (`\??\C:\x`), NUL-terminated as well.
struct NtName {
  uint16_t length;          // bytes, without the terminator
  uint16_t maximum_length;  // length + 2
  char16_t* text;
};

// Which standard handle std_handle answers.
enum class StdHandle { kInput, kOutput, kError };

ErrorCode file_open(FileHandle* handle, const char16_t* path, uint32_t flags);
ErrorCode nt_open(const char16_t* path, uint32_t access, uint32_t share, uint32_t attributes,
                  uint32_t disposition, uint32_t options, FileHandle* handle);
ErrorCode nt_name_from_path(ScratchPool& pool, const char16_t* path, NtName* name);

// Transfers at the handle's position in calls of at most 16 MiB. End of file,
// a full disk, a broken pipe and the like end the transfer with success and
// the count moved so far; compare it with the count asked for.
ErrorCode file_read(FileHandle handle, void* buffer, uint32_t count, uint32_t* done);
ErrorCode file_write(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done);
ErrorCode file_seek(FileHandle handle, uint32_t position_low, uint32_t position_high);
ErrorCode file_get_size(FileHandle handle, uint64_t* size);

void handle_close(FileHandle handle);
ErrorCode handle_duplicate(FileHandle* duplicate, FileHandle handle);
ErrorCode null_device_open(FileHandle* handle);
FileHandle std_handle(StdHandle which);

ErrorCode file_set_creation_time(FileHandle handle, int64_t time);
ErrorCode file_set_write_time(FileHandle handle, int64_t time);
ErrorCode file_mark_for_deletion(FileHandle handle);

ErrorCode path_delete(const char16_t* path);
ErrorCode path_query(const char16_t* path, bool* is_folder);
ErrorCode folder_create(const char16_t* path);

ErrorCode error_from_status(uint32_t status);
uint32_t error_to_compact(ErrorCode error);
ErrorCode compact_to_error(uint32_t compact);

inline bool is_no_handle(FileHandle handle) { return handle == nullptr || handle == kInvalidFileHandle; }

}  // namespace sm
