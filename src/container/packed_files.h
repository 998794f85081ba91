// The few file operations the packed image reader needs, over the file
// layer: open by path, read at an offset, size, close, the full path of a file
// and a listing of a folder's entries. Paths are wide texts with backslashes.
#pragma once

#include <cstdint>

#include "base/error.h"
#include "os/handle.h"

namespace sm::packed_files {

// Open flags: read with full sharing (3), and read while others may not
// write (35).
inline constexpr uint32_t kReadShared = 3;
inline constexpr uint32_t kReadDenyWrite = 35;

ErrorCode open(const char16_t* path, uint32_t flags, FileHandle* handle);
void close(FileHandle handle);
ErrorCode size(FileHandle handle, uint64_t* size);
// Reads up to `length` bytes at `offset`; `*got` tells how many came (fewer
// only at the end of the file).
ErrorCode read_at(FileHandle handle, uint64_t offset, void* buffer, uint32_t length, uint32_t* got);
// The full path of `path`, allocated with malloc; null when it cannot be made.
char16_t* full_path(const char16_t* path);

struct Listing;
ErrorCode listing_open(const char16_t* folder, Listing** listing);
// The next entry's full path (valid until the next call) and the offset of
// its name in it; 18 after the last entry.
ErrorCode listing_next(Listing* listing, const char16_t** path, uint32_t* name_offset, bool* is_folder);
void listing_release(Listing* listing);

}  // namespace sm::packed_files
