// Directory listings entry by entry, the description of one object, and the
// creation and deletion of whole folder trees.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/error.h"
#include "os/file_info.h"

namespace sm {

// How a listing reports the links it meets (by default: by their target).
inline constexpr uint32_t LISTING_LINKS_WITHOUT_INFO = 0x1;
inline constexpr uint32_t LISTING_LINKS_AS_THEMSELVES = 0x2;

class Listing {
 public:
  virtual void release() = 0;
  // The entry's full path and the offset of its name in it, and its
  // description (null for a link under LISTING_LINKS_WITHOUT_INFO); all
  // valid until the next call. 18 after the last entry.
  virtual ErrorCode next(const char16_t** path, size_t* name_offset, const FileInfo** info) = 0;

 protected:
  ~Listing() = default;
};

ErrorCode path_get_info(const char16_t* path, bool follow_links, FileInfo* info);

ErrorCode listing_open(Listing** listing, const char16_t* folder, uint32_t flags);
ErrorCode listing_next(Listing* listing, const char16_t** path, size_t* name_offset, const FileInfo** info);
void listing_release(Listing* listing);

// Listings start with the extended-identifier records and fall back to the
// full-identifier ones where the system lacks them; tests force the fallback.
void listing_force_fallback_class(bool force);

// The folder and every missing parent: 0 when it exists afterwards as a
// folder, 80 when the path is a file.
ErrorCode folder_create_tree(const char16_t* path);

// The object and, for a folder, everything below it, without following
// links; at most 100 folders deep (deeper gives 145 and stays in place).
ErrorCode folder_delete_tree(const char16_t* path);

}  // namespace sm
