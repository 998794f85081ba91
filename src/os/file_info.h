// The description of one file system object, as path_get_info and the
// listings report it.
#pragma once

#include <cstdint>

namespace sm {

inline constexpr uint32_t kReparseTagMountPoint = 0xA0000003;
inline constexpr uint32_t kReparseTagSymlink = 0xA000000C;

struct FileInfo {
  uint8_t summary;  // read-only, hidden, system, archive, plus 0x8 for a plain indexed file
  uint8_t is_link;
  uint8_t is_folder;
  uint8_t link_target_unreachable;
  uint8_t reached_through_link;
  uint32_t attributes;  // native attribute bits
  uint64_t volume_serial;
  uint8_t file_id[16];
  uint64_t size;  // 0 for folders and links
  int64_t creation_time;
  int64_t last_access_time;
  int64_t last_write_time;
  int64_t change_time;
};

// Sets the link, folder and summary fields from the attributes and the
// reparse tag, and zeroes the size of folders and links.
void file_info_derive(FileInfo* info, uint32_t reparse_tag);

}  // namespace sm
