#include "media/directory_stream.h"

#include <cstring>

#include "container/sector_device.h"

namespace sm {

DirectoryStream::DirectoryStream(MediaVolumeCore& volume, const MediaNode* node)
    : volume_(volume), node_(node), end_(node->size + node->data_offset), extent_(&node->first_extent) {
  if (end_ < node->size) end_ = ~uint64_t{0};
}

ErrorCode DirectoryStream::load_sector() {
  uint64_t const at = position_ + node_->data_offset;
  if (at >= end_) return kErrorEndOfFile;
  uint64_t const sector = at - at % kMediaSectorSize;
  if (sector == loaded_) return kOk;
  // Positions only grow, so the extent walk only goes forwards.
  for (;;) {
    if (extent_ == nullptr) return kErrorEndOfFile;
    uint64_t const extent_end = extent_begin_ + uint64_t{extent_->sector_count} * kMediaSectorSize;
    if (sector < extent_end) break;
    extent_begin_ = extent_end;
    extent_ = extent_->next;
  }
  uint64_t const device_offset = uint64_t{extent_->start_sector} * kMediaSectorSize + (sector - extent_begin_);
  loaded_ = ~uint64_t{0};
  if (extent_->start_sector == 0) {
    memset(sector_, 0, sizeof sector_);  // an extent at sector 0 stands for zeros
  } else {
    ErrorCode const error = volume_.device()->read(device_offset, sector_, kMediaSectorSize);
    if (error != kOk) return error;
  }
  loaded_ = sector;
  loaded_device_ = device_offset;
  return kOk;
}

ErrorCode DirectoryStream::read(void* out, uint32_t length, uint64_t* device_position) {
  auto* bytes = static_cast<uint8_t*>(out);
  bool first = true;
  while (length > 0) {
    ErrorCode const error = load_sector();
    if (error != kOk) return error;
    uint64_t const at = position_ + node_->data_offset;
    uint64_t const in_sector = at - loaded_;
    if (first && device_position != nullptr) *device_position = loaded_device_ + in_sector;
    first = false;
    uint64_t piece = kMediaSectorSize - in_sector;
    if (piece > length) piece = length;
    if (piece > end_ - at) piece = end_ - at;
    memcpy(bytes, sector_ + in_sector, piece);
    bytes += piece;
    length -= static_cast<uint32_t>(piece);
    position_ += piece;
  }
  return kOk;
}

void DirectoryStream::skip(uint64_t length) {
  position_ = length > ~uint64_t{0} - position_ ? ~uint64_t{0} - node_->data_offset : position_ + length;
}

void DirectoryStream::skip_to_sector_boundary() {
  uint64_t const at = position_ + node_->data_offset;
  uint64_t const rest = at % kMediaSectorSize;
  if (rest != 0) skip(kMediaSectorSize - rest);
}

void DirectoryStream::align(uint32_t alignment) {
  uint64_t const rest = position_ % alignment;
  if (rest != 0) skip(alignment - rest);
}

}  // namespace sm
