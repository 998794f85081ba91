#include <cstdlib>
#include <cstring>

#include "base/pool.h"
#include "base/text.h"
#include "os/cached_value.h"
#include "os/file.h"
#include "os/listing.h"
#include "os/path.h"

namespace sm {
namespace {

constexpr int kMaxPendingFolders = 100;

bool vanished(ErrorCode error) {
  return error == 1168 || error == kErrorFileNotFound || error == kErrorPathNotFound;
}

// path_query of the first `length` units of `path` (the root's separator
// included when the cut falls on it).
ErrorCode query_prefix(char16_t* path, size_t length, size_t root, bool* is_folder) {
  size_t cut = length == root ? length + 1 : length;
  char16_t saved = path[cut];
  path[cut] = 0;
  ErrorCode result = path_query(path, is_folder);
  path[cut] = saved;
  return result;
}

}  // namespace

ErrorCode folder_create_tree(const char16_t* path) {
  ScratchPool pool;
  char16_t* full = path_full(pool, nullptr, path);
  if (!full) {
    ErrorCode result = pool.failures ? kErrorOutOfMemory : kErrorInvalidParameter;
    pool.ReleaseAll();
    return result;
  }
  size_t root = 0;
  path_analyse(full, &root, nullptr, nullptr, nullptr);
  size_t length = TextLen(full);
  // `C:\a\b\` names the same folder as `C:\a\b`; without the last separator
  // the final create is not a second create of the deepest level.
  if (length > root + 1 && full[length - 1] == u'\\') full[--length] = 0;

  ErrorCode result = kOk;
  bool is_folder = false;
  ErrorCode exists = path_query(full, &is_folder);
  if (exists == kOk) {
    result = is_folder ? kOk : kErrorFileExists;
  } else if (length > root) {
    // Back to the deepest existing ancestor...
    size_t start = root;
    for (size_t i = length; i-- > root;) {
      if (!is_path_separator(full[i])) continue;
      bool unused = false;
      if (query_prefix(full, i, root, &unused) == kOk) {
        start = i;
        break;
      }
    }
    // ...then forwards, creating each missing level.
    for (size_t i = start + 1; i < length; ++i) {
      if (!is_path_separator(full[i])) continue;
      full[i] = 0;
      ErrorCode created = folder_create(full);
      full[i] = u'\\';
      if (created != kOk && created != kErrorAlreadyExists) break;
    }
    result = folder_create(full);
  }
  pool.ReleaseAll();
  return result;
}

ErrorCode folder_delete_tree(const char16_t* path) {
  struct Level {
    char16_t* path;  // malloc
    Listing* listing;
    bool progress;
  };

  ScratchPool pool;
  const char16_t* full = path_full(pool, nullptr, path);
  Level current{full ? cache_copy(full, TextLen(full)) : nullptr, nullptr, true};
  pool.ReleaseAll();
  if (!full) return kErrorInvalidName;
  if (!current.path) return kErrorOutOfMemory;

  Level pending[kMaxPendingFolders];
  int depth = 0;
  ErrorCode error = kOk;
  for (;;) {
    if (error == kOk && current.listing) {
      const char16_t* entry = nullptr;
      const FileInfo* info = nullptr;
      ErrorCode next = listing_next(current.listing, &entry, nullptr, &info);
      if (next == kOk) {
        if (info && info->is_folder && depth < kMaxPendingFolders) {
          char16_t* child = cache_copy(entry, TextLen(entry));
          if (!child) {
            error = kErrorOutOfMemory;
            continue;
          }
          pending[depth++] = current;
          current = Level{child, nullptr, true};
          continue;
        }
        // Files, links (never followed) and folders past the depth limit.
        ErrorCode deleted = path_delete(entry);
        if (deleted == kOk || vanished(deleted)) {
          current.progress = true;
        } else {
          error = deleted;
        }
        continue;
      }
      listing_release(current.listing);
      current.listing = nullptr;
      if (next != kErrorNoMoreFiles) error = next;
    }

    if (error == kOk) {
      error = path_delete(current.path);
      if (error == kErrorFolderNotEmpty && current.progress) {
        // Another pass over what is left, as long as the last one deleted something.
        Listing* listing = nullptr;
        if (listing_open(&listing, current.path, LISTING_LINKS_WITHOUT_INFO | LISTING_LINKS_AS_THEMSELVES) ==
            kOk) {
          current.listing = listing;
          current.progress = false;
          error = kOk;
          continue;
        }
      }
    }

    listing_release(current.listing);
    current.listing = nullptr;
    bool ended_well = error == kOk;
    if (error != kOk && vanished(path_query(current.path, nullptr))) error = kOk;
    free(current.path);
    if (depth == 0) return error;
    current = pending[--depth];
    current.progress = current.progress || ended_well;
  }
}

}  // namespace sm
