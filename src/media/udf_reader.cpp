// The UDF file system of a media volume: the anchor, the volume descriptor
// sequence, partition maps (metadata partitions through their metadata file),
// the file set and the `udf` volume root; folders are listed from their file
// identifiers and nodes completed from their file entries through the
// volume's pending queue, so that entries are read in disk order.
#include "media/udf_reader.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "base/codepage.h"
#include "base/text.h"
#include "container/sector_device.h"
#include "media/directory_stream.h"
#include "media/udf_descriptors.h"
#include "media/volume_core.h"

namespace sm {

namespace {

// Indirect entries and allocation extent descriptors may point back at
// themselves; a record follows at most this many of them.
constexpr uint32_t kMaxHops = 1024;

// What a queued record expects to find at its position.
enum class Expect : uint8_t {
  kEntry,               // a file entry, possibly behind indirect entries
  kAllocationExtent,    // the next allocation extent descriptor of a node
  kExtendedAttributes,  // the extended attribute header of a node's EA ICB
};

struct UdfPendingRead : PendingRead {
  uint8_t ad_type = 0;
  Expect expect = Expect::kEntry;
  uint16_t partition = 0;
  uint32_t length = 0;
  uint32_t sector = 0;
  uint32_t hops = 0;

  void point_at(uint32_t at, uint32_t bytes, uint16_t reference) {
    sector = at;
    length = bytes;
    partition = reference;
    position = static_cast<uint64_t>(at) * kUdfSectorSize;
  }
};

class DeviceSource final : public UdfSectorSource {
 public:
  explicit DeviceSource(SectorDevice* device) : device_(device) {}
  ErrorCode read(uint64_t offset, void* buffer, uint32_t length) override {
    return device_->read(offset, buffer, length);
  }

 private:
  SectorDevice* device_;
};

class UdfReader final : public FileSystemReader {
 public:
  UdfReader(MediaVolumeCore& volume, const UdfVolumeLayout& layout) : volume_(volume) {
    map_count_ = layout.map_count;
    for (uint32_t i = 0; i < map_count_; ++i) starts_[i] = udf_map_start_sector(layout, i);
  }

  void release() override {
    std::free(label_);
    delete this;
  }
  void finish_pending(PendingRead* record, uint8_t* buffer, uint32_t size) override;
  ErrorCode load_folder(MediaNode* folder, bool* run_queue) override;
  ErrorCode volume_info(uint64_t* time, char16_t** label) override {
    *time = time_;
    *label = label_ ? HeapDup(label_) : nullptr;
    return kOk;
  }

  uint32_t map(uint16_t reference, uint32_t block) const {
    return udf_map_block(starts_, map_count_, reference, block);
  }
  ErrorCode queue(MediaNode* node, Expect expect, uint32_t sector, uint32_t length,
                  uint16_t partition);

  MediaVolumeCore& volume_;
  uint32_t map_count_ = 0;
  uint32_t starts_[kUdfMaxMaps] = {};
  uint64_t time_ = 0;
  char16_t* label_ = nullptr;

 private:
  bool read_allocations(MediaNode* node, UdfPendingRead* record, const uint8_t* area,
                        uint32_t size, uint32_t entry_sector, uint32_t area_offset);
};

ErrorCode UdfReader::queue(MediaNode* node, Expect expect, uint32_t sector, uint32_t length,
                           uint16_t partition) {
  auto* record = new (std::nothrow) UdfPendingRead;
  if (!record) return kErrorOutOfMemory;
  record->node = node;
  record->expect = expect;
  record->point_at(sector, length, partition);
  volume_.queue_pending(record);
  return kOk;
}

// Applies allocation descriptors to the node; true when they end in a
// pointer to the next allocation extent, which `record` then points at.
bool UdfReader::read_allocations(MediaNode* node, UdfPendingRead* record, const uint8_t* area,
                                 uint32_t size, uint32_t entry_sector, uint32_t area_offset) {
  if (record->ad_type == 3) {
    if (node->size == 0) {
      MediaVolumeCore::set_first_extent(node, entry_sector, 1);
      node->size = size;
      node->data_offset = static_cast<uint16_t>(area_offset);
    }
    return false;
  }
  if (record->ad_type > 2 || node->data_offset != 0) return false;
  uint32_t position = 0;
  UdfAllocation allocation;
  while (udf_next_allocation(area, size, &position, record->ad_type, record->partition,
                             &allocation)) {
    uint32_t sector = map(allocation.partition, allocation.block);
    if (allocation.type == 3) {
      record->point_at(sector, allocation.length, allocation.partition);
      return true;
    }
    uint32_t count = (allocation.length + kUdfSectorSize - 1) / kUdfSectorSize;
    if (node->size == 0) {
      MediaVolumeCore::set_first_extent(node, sector, count);
      node->size = allocation.length;
    } else {
      if (volume_.append_extent(node, sector, count) != kOk) return false;
      node->size += allocation.length;
    }
  }
  return false;
}

void UdfReader::finish_pending(PendingRead* base, uint8_t* buffer, uint32_t size) {
  auto* record = static_cast<UdfPendingRead*>(base);
  MediaNode* node = record->node;
  if (size < 2 * kUdfSectorSize) {
    record->destroy();
    return;
  }
  DeviceSource source(volume_.device());
  const uint8_t* entry = nullptr;
  const uint8_t* indirect = nullptr;
  uint32_t entry_sector = 0;
  bool next_extent = false;
  uint8_t* sectors[2] = {buffer, buffer + kUdfSectorSize};
  int turn = 0;
  const uint64_t end = record->position + record->length;
  for (uint64_t at = record->position; at < end; at += kUdfSectorSize) {
    uint8_t* sector = sectors[turn];
    turn ^= 1;
    if (udf_read_descriptor(source, at, sector, kUdfSectorSize) != kOk) break;
    uint16_t id = udf_tag_id(sector);
    if (record->expect == Expect::kEntry &&
        (id == kUdfTagFileEntry || id == kUdfTagExtendedFileEntry)) {
      entry = sector;
      entry_sector = static_cast<uint32_t>(at / kUdfSectorSize);
      indirect = nullptr;
      continue;
    }
    if (record->expect == Expect::kEntry && id == kUdfTagIndirectEntry) {
      indirect = sector;
      entry = nullptr;
      continue;
    }
    if (record->expect == Expect::kAllocationExtent && id == kUdfTagAllocationExtent) {
      uint32_t length = udf_u32(sector + 20);
      if (length > kUdfSectorSize - 24) length = kUdfSectorSize - 24;
      next_extent = read_allocations(node, record, sector + 24, length, 0, 0);
    } else if (record->expect == Expect::kExtendedAttributes && id == kUdfTagExtendedAttributes) {
      uint64_t creation = 0;
      if (udf_read_extended_attributes(sector + 24, kUdfSectorSize - 24, &creation)) {
        node->creation_time = creation;
      }
    }
    break;
  }

  if (entry) {
    UdfFileEntry e;
    udf_parse_file_entry(entry, &e);
    record->ad_type = e.ad_type;
    node->attributes |= e.attributes;
    node->kind = e.kind;
    node->last_write_time = e.write_time;
    if (udf_tag_id(entry) == kUdfTagExtendedFileEntry) node->creation_time = e.creation_time;
    uint64_t creation = 0;
    if (e.ea_length != 0 && node->creation_time == 0 &&
        udf_read_extended_attributes(entry + e.ea_offset, e.ea_length, &creation)) {
      node->creation_time = creation;
    }
    if (e.ad_length != 0) {
      next_extent = read_allocations(node, record, entry + e.ad_offset, e.ad_length, entry_sector,
                                     e.ad_offset);
    }
    if (e.ea_icb.length != 0 && node->creation_time == 0 && record->hops < kMaxHops) {
      uint32_t sector = map(e.ea_icb.partition, e.ea_icb.block);
      if (!next_extent) {
        record->expect = Expect::kExtendedAttributes;
        record->point_at(sector, e.ea_icb.length, e.ea_icb.partition);
        ++record->hops;
        volume_.queue_pending(record);
        return;
      }
      queue(node, Expect::kExtendedAttributes, sector, e.ea_icb.length, e.ea_icb.partition);
    }
  } else if (indirect && record->hops < kMaxHops) {
    UdfLongAllocation icb = udf_long_allocation(indirect + 36);
    record->point_at(map(icb.partition, icb.block), icb.length, icb.partition);
    ++record->hops;
    volume_.queue_pending(record);
    return;
  }
  if (next_extent && record->hops < kMaxHops) {
    record->expect = Expect::kAllocationExtent;
    ++record->hops;
    volume_.queue_pending(record);
    return;
  }
  record->destroy();
}

ErrorCode UdfReader::load_folder(MediaNode* folder, bool* run_queue) {
  *run_queue = true;
  DirectoryStream stream(volume_, folder);
  ErrorCode error = kOk;
  for (;;) {
    uint8_t head[kUdfFidHeadSize];
    uint64_t position = 0;
    error = stream.read(head, sizeof head, &position);
    if (error != kOk) break;
    UdfFileIdentifier fid;
    error = udf_parse_file_identifier(head, &fid);
    if (error == kErrorNoMoreFiles) return kOk;
    if (error != kOk) return error;
    uint8_t identifier[256];
    stream.skip(fid.implementation_length);
    if (fid.name_length != 0) {
      error = stream.read(identifier, fid.name_length, nullptr);
      if (error != kOk) break;
    }
    stream.align(4);
    if (fid.name_length == 0 || (fid.characteristics & 0x08) != 0) continue;
    char name[kUdfNameCapacity];
    size_t length = udf_decode_name(identifier, fid.name_length, name);
    if (length == 0) continue;
    MediaNode* child = nullptr;
    error = volume_.add_child(folder, name, length, (fid.characteristics & 0x02) ? 2 : 1,
                            position + 1, this, &child);
    if (error != kOk) return error;
    // Without memory for the record the child stays without size and data.
    queue(child, Expect::kEntry, map(fid.icb_partition, fid.icb_block), fid.icb_length,
          fid.icb_partition);
  }
  return error == kErrorEndOfFile ? kOk : error;
}

// Gives up a reader whose file set could not be read: metadata nodes made
// for it stay listed but no longer refer to it.
ErrorCode abandon(UdfReader* reader, MediaNode** metadata, uint32_t count, ErrorCode error) {
  for (uint32_t i = 0; i < count; ++i) {
    if (metadata[i]) metadata[i]->reader = nullptr;
  }
  reader->release();
  return error;
}

}  // namespace

ErrorCode read_udf_structures(MediaVolumeCore& volume, uint8_t* buffer) {
  DeviceSource source(volume.device());
  UdfVolumeLayout layout{};
  uint32_t sequence_sector = 0, sequence_length = 0;
  if (udf_find_anchor(source, volume.sector_count(), buffer, &sequence_sector,
                      &sequence_length) == kOk) {
    udf_read_volume_sequence(source, sequence_sector, sequence_length, buffer, &layout,
                             AnsiToWide);
  }

  auto* reader = new (std::nothrow) UdfReader(volume, layout);
  if (!reader) return kErrorOutOfMemory;

  // Metadata partitions: their blocks lie in the metadata file, read first.
  MediaNode* metadata[kUdfMaxMaps] = {};
  for (uint32_t i = 0; i < layout.map_count; ++i) {
    if (layout.maps[i].kind != 2) continue;
    uint32_t sector = reader->map(static_cast<uint16_t>(i), layout.maps[i].metadata_location);
    char name[32];
    int length = std::snprintf(name, sizeof name, "udf_metadata_%u", i);
    ErrorCode error = volume.add_child(volume.media_folder(), name, static_cast<size_t>(length),
                                      1, static_cast<uint64_t>(sector) * kUdfSectorSize + 1, reader,
                                      &metadata[i]);
    if (error == kOk) error = reader->queue(metadata[i], Expect::kEntry, sector, kUdfSectorSize,
                                            static_cast<uint16_t>(i));
    if (error != kOk) {
      volume.run_pending();  // completes what was queued while the reader lives
      return abandon(reader, metadata, kUdfMaxMaps, error);
    }
  }
  volume.run_pending();
  for (uint32_t i = 0; i < layout.map_count; ++i) {
    if (!metadata[i]) continue;
    ErrorCode state = metadata[i]->folder_state;
    if (state != kOk && state != kErrorNoMoreFiles && state != kErrorInvalidParameter) {
      return abandon(reader, metadata, kUdfMaxMaps, state);
    }
    reader->starts_[i] = metadata[i]->first_extent.start_sector;
  }

  // The file set.
  if (!layout.has_logical_volume) return abandon(reader, metadata, kUdfMaxMaps, kErrorBadFormat);
  uint32_t file_set = reader->map(layout.file_set_partition, layout.file_set_block);
  ErrorCode error =
      udf_read_descriptor(source, static_cast<uint64_t>(file_set) * kUdfSectorSize, buffer, 512);
  if (error == kOk && udf_tag_id(buffer) != kUdfTagFileSet) error = kErrorBadFormat;
  if (error != kOk) return abandon(reader, metadata, kUdfMaxMaps, error);
  reader->time_ = udf_file_time(buffer + 16);
  udf_decode_dstring(buffer + 112, 128, layout.label, AnsiToWide);
  udf_decode_dstring(buffer + 304, 32, layout.label, AnsiToWide);
  reader->label_ = HeapDup(layout.label);
  if (!reader->label_) return abandon(reader, metadata, kUdfMaxMaps, kErrorOutOfMemory);

  // The root folder becomes the volume's root and owns the reader.
  UdfLongAllocation root_icb = udf_long_allocation(buffer + 400);
  uint32_t root_sector = reader->map(root_icb.partition, root_icb.block);
  MediaNode* root = nullptr;
  error = volume.make_volume_root("udf", static_cast<uint64_t>(root_sector) * kUdfSectorSize + 1,
                                  reader, &root);
  if (error != kOk) return abandon(reader, metadata, kUdfMaxMaps, error);
  root->last_write_time = reader->time_;
  // Without memory for the record the root stays empty.
  reader->queue(root, Expect::kEntry, root_sector, root_icb.length, root_icb.partition);
  return kOk;
}

}  // namespace sm
