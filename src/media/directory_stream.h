// Sequential reads over a node's extents, one sector at a time, for readers
// that parse a directory's records. Positions are reported as device byte
// offsets, which is what node ids are made from.
#pragma once

#include <cstdint>

#include "base/error.h"
#include "media/volume_core.h"

namespace sm {

class DirectoryStream {
 public:
  DirectoryStream(MediaVolumeCore& volume, const MediaNode* node);

  // Copies exactly `length` bytes; *device_position (may be null) receives
  // the device offset of the first byte. Ends with 38 when the node's data
  // runs out, also in the middle of the request.
  ErrorCode read(void* out, uint32_t length, uint64_t* device_position);
  void skip(uint64_t length);
  // Moves to the next sector boundary unless already on one: what follows a
  // zero length byte is padding up to the sector's end.
  void skip_to_sector_boundary();
  // Moves to the next multiple of `alignment` of the stream position.
  void align(uint32_t alignment);

  // Bytes of the node's data handed out or skipped so far.
  uint64_t position() const { return position_; }

 private:
  // Makes the sector holding position_ current; 38 past the data.
  ErrorCode load_sector();

  MediaVolumeCore& volume_;
  const MediaNode* node_;
  uint64_t end_;                 // data offset + size
  uint64_t position_ = 0;        // data position, without the data offset
  const Extent* extent_;         // extent holding the current sector
  uint64_t extent_begin_ = 0;    // data-space offset where extent_ starts
  uint64_t loaded_ = ~uint64_t{0};  // data-space offset of the sector in sector_
  uint64_t loaded_device_ = 0;   // its device offset
  uint8_t sector_[kMediaSectorSize];
};

}  // namespace sm
