#include "os/file.h"

#include "base/text.h"
#include "os/native.h"
#include "os/transfer.h"

namespace sm {
namespace {

ErrorCode read_call(void* handle, void* buffer, uint32_t count, uint32_t* moved) {
  return native::transfer_once(static_cast<FileHandle>(handle), buffer, count, moved, false);
}

ErrorCode write_call(void* handle, void* buffer, uint32_t count, uint32_t* moved) {
  return native::transfer_once(static_cast<FileHandle>(handle), buffer, count, moved, true);
}

ErrorCode check_path(const char16_t* path) {
  if (!path) return kErrorOutOfMemory;
  if (!path[0]) return kErrorInvalidName;
  return kOk;
}

ErrorCode set_one_time(FileHandle handle, int index, int64_t time) {
  if (is_no_handle(handle)) return kErrorInvalidHandle;
  // -1 leaves a time alone and stops the system updating it through this handle.
  int64_t times[4] = {-1, -1, -1, -1};
  times[index] = time;
  return native::set_basic_information(handle, times, 0);
}

}  // namespace

ErrorCode file_open(FileHandle* handle_out, const char16_t* path, uint32_t flags) {
  if (handle_out) *handle_out = kInvalidFileHandle;
  if (ErrorCode error = check_path(path)) return error;
  NativeOpen open = open_flags_to_native(flags);
  FileHandle handle = kInvalidFileHandle;
  ErrorCode result = nt_open(path, open.access, open.share, open.attributes, open.disposition, open.options, &handle);
  if (result == kErrorAccessDenied && (flags & OPEN_CREATE)) {
    // A hidden or system file refuses a creating open that asks for the
    // archive attribute; open it as it is instead.
    uint32_t disposition = (flags & OPEN_TRUNCATE) ? kDispositionOverwrite : kDispositionOpen;
    result = nt_open(path, open.access, open.share, kAttributeHidden | kAttributeSystem, disposition, open.options,
                     &handle);
  }
  if (result != kOk) return result;
  if (handle_out) {
    *handle_out = handle;
  } else {
    handle_close(handle);
  }
  return kOk;
}

ErrorCode file_read(FileHandle handle, void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  if (is_no_handle(handle)) return kErrorInvalidHandle;
  return transfer_loop(read_call, handle, static_cast<char*>(buffer), count, done);
}

ErrorCode file_write(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  if (is_no_handle(handle)) return kErrorInvalidHandle;
  return transfer_loop(write_call, handle, static_cast<char*>(const_cast<void*>(buffer)), count, done);
}

ErrorCode file_set_creation_time(FileHandle handle, int64_t time) { return set_one_time(handle, 0, time); }

ErrorCode file_set_write_time(FileHandle handle, int64_t time) { return set_one_time(handle, 2, time); }

ErrorCode file_mark_for_deletion(FileHandle handle) {
  if (is_no_handle(handle)) return kErrorInvalidHandle;
  ErrorCode result = native::set_delete_on_close(handle);
  if (result == kErrorAccessDenied) {
    // Usually the read-only attribute: clear it and try once more.
    const int64_t unchanged[4] = {-1, -1, -1, -1};
    result = native::set_basic_information(handle, unchanged, kAttributeNormal);
    if (result == kOk) result = native::set_delete_on_close(handle);
  }
  return result;
}

ErrorCode path_delete(const char16_t* path) {
  if (ErrorCode error = check_path(path)) return error;
  FileHandle handle = kInvalidFileHandle;
  // Opening the reparse point itself deletes a link and never its target.
  ErrorCode result = nt_open(path, 0x130198, kShareAll, kAttributeHidden | kAttributeSystem, kDispositionOpen,
                             kOptionOpenReparsePoint | kOptionSynchronous, &handle);
  if (result != kOk) return result;
  result = file_mark_for_deletion(handle);
  handle_close(handle);
  return result;
}

ErrorCode path_query(const char16_t* path, bool* is_folder) {
  if (is_folder) *is_folder = false;
  if (ErrorCode error = check_path(path)) return error;
  FileHandle handle = kInvalidFileHandle;
  ErrorCode result = nt_open(path, kAccessBaseRead, kShareAll, kAttributeHidden | kAttributeSystem, kDispositionOpen,
                             kOptionSynchronous, &handle);
  if (result != kOk) return result;
  if (is_folder) result = native::query_is_folder(handle, is_folder);
  handle_close(handle);
  return result;
}

ErrorCode folder_create(const char16_t* path) {
  if (ErrorCode error = check_path(path)) return error;
  FileHandle handle = kInvalidFileHandle;
  ErrorCode result = nt_open(path, 0x12019A, kShareAll, kAttributeNormal, kDispositionCreateNew,
                             kOptionFolder | kOptionSynchronous, &handle);
  if (result == kOk) handle_close(handle);
  return result;
}

}  // namespace sm
