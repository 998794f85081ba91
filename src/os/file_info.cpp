#include "os/file_info.h"

#include "os/file.h"

namespace sm {

void file_info_derive(FileInfo* info, uint32_t reparse_tag) {
  uint32_t attributes = info->attributes;
  info->is_link = (attributes & kAttributeReparsePoint) &&
                  (reparse_tag == kReparseTagMountPoint || reparse_tag == kReparseTagSymlink);
  info->is_folder = (attributes & kAttributeFolder) && !info->is_link;
  info->summary = static_cast<uint8_t>(
      attributes & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive));
  if (!info->is_folder && !info->is_link && !(attributes & kAttributeNotContentIndexed)) info->summary |= 0x8;
  if (info->is_folder || info->is_link) info->size = 0;
}

}  // namespace sm
