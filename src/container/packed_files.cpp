#include "container/packed_files.h"

#include <cstdlib>
#include <cstring>

#include "base/pool.h"
#include "os/file.h"
#include "os/listing.h"
#include "os/path.h"

namespace sm::packed_files {

ErrorCode open(const char16_t* path, uint32_t flags, FileHandle* handle) { return file_open(handle, path, flags); }

void close(FileHandle handle) { handle_close(handle); }

ErrorCode size(FileHandle handle, uint64_t* out) { return file_get_size(handle, out); }

ErrorCode read_at(FileHandle handle, uint64_t offset, void* buffer, uint32_t length, uint32_t* got) {
  *got = 0;
  ErrorCode e = file_seek(handle, uint32_t(offset), uint32_t(offset >> 32));
  if (e != kOk) return e;
  return file_read(handle, buffer, length, got);
}

char16_t* full_path(const char16_t* path) {
  ScratchPool pool;
  const char16_t* full = path_full(pool, nullptr, path);
  char16_t* copy = nullptr;
  if (full != nullptr) {
    size_t n = 0;
    while (full[n] != 0) ++n;
    copy = static_cast<char16_t*>(malloc((n + 1) * sizeof(char16_t)));
    if (copy != nullptr) memcpy(copy, full, (n + 1) * sizeof(char16_t));
  }
  pool.ReleaseAll();
  return copy;
}

struct Listing {
  sm::Listing* os;
};

ErrorCode listing_open(const char16_t* folder, Listing** out) {
  *out = nullptr;
  auto* l = static_cast<Listing*>(malloc(sizeof(Listing)));
  if (l == nullptr) return kErrorOutOfMemory;
  ErrorCode e = sm::listing_open(&l->os, folder, 0);
  if (e != kOk) {
    free(l);
    return e;
  }
  *out = l;
  return kOk;
}

ErrorCode listing_next(Listing* l, const char16_t** path, uint32_t* name_offset, bool* is_folder) {
  size_t offset = 0;
  const FileInfo* info = nullptr;
  ErrorCode e = sm::listing_next(l->os, path, &offset, &info);
  if (e != kOk) return e;
  *name_offset = uint32_t(offset);
  *is_folder = info != nullptr && info->is_folder != 0;
  return kOk;
}

void listing_release(Listing* l) {
  if (l == nullptr) return;
  sm::listing_release(l->os);
  free(l);
}

}  // namespace sm::packed_files
