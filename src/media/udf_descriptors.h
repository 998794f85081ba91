// ECMA-167 / UDF descriptors decoded from byte buffers: tags, the volume
// descriptor sequence, partition maps, file entries, allocation descriptors,
// extended attributes, file identifiers, names and timestamps. Nothing here
// knows about nodes; the UDF reader applies what these functions return.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/error.h"

namespace sm {

inline constexpr uint32_t kUdfSectorSize = 2048;
inline constexpr uint32_t kUdfMaxMaps = 10;
inline constexpr uint32_t kUdfMaxPartitions = 20;
inline constexpr size_t kUdfLabelCapacity = 50;   // 49 characters and the NUL
inline constexpr size_t kUdfNameCapacity = 1000;  // 999 UTF-8 bytes and the NUL
inline constexpr uint32_t kUdfFidHeadSize = 38;

// Tag identifiers.
inline constexpr uint16_t kUdfTagPrimaryVolume = 1;
inline constexpr uint16_t kUdfTagAnchor = 2;
inline constexpr uint16_t kUdfTagVolumePointer = 3;
inline constexpr uint16_t kUdfTagPartition = 5;
inline constexpr uint16_t kUdfTagLogicalVolume = 6;
inline constexpr uint16_t kUdfTagFileSet = 256;
inline constexpr uint16_t kUdfTagFileIdentifier = 257;
inline constexpr uint16_t kUdfTagAllocationExtent = 258;
inline constexpr uint16_t kUdfTagIndirectEntry = 259;
inline constexpr uint16_t kUdfTagFileEntry = 261;
inline constexpr uint16_t kUdfTagExtendedAttributes = 262;
inline constexpr uint16_t kUdfTagExtendedFileEntry = 266;

inline uint16_t udf_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t udf_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// A tag (first 16 bytes of a descriptor) is valid when its identifier is not
// 0 and its checksum byte matches. The descriptor CRC and the recorded tag
// location are not checked: images that get them wrong still mount.
bool udf_tag_valid(const uint8_t* tag);
inline uint16_t udf_tag_id(const uint8_t* tag) { return udf_u16(tag); }

// A 12-byte timestamp as a UTC file time; 0 when the date is not valid.
uint64_t udf_file_time(const uint8_t* timestamp);

// Where code page text goes when a dstring is neither 8- nor 16-bit OSTA
// compressed: (destination, capacity in units, source, source length) → units
// written; the destination is always terminated.
using UdfCodePageDecoder = size_t (*)(char16_t*, size_t, const char*, size_t);

// A fixed-size dstring field into `label` (at most 49 characters, trailing
// spaces removed). A field whose used length is 0 leaves `label` unchanged.
void udf_decode_dstring(const uint8_t* field, size_t field_size, char16_t* label,
                        UdfCodePageDecoder code_page);

// A file identifier (its compression byte first) into NUL-terminated UTF-8 of
// at most 999 bytes; returns the bytes written.
size_t udf_decode_name(const uint8_t* identifier, size_t length, char* out);

// Reads for the descriptor walk; the UDF reader adapts its device to this.
class UdfSectorSource {
 public:
  virtual ErrorCode read(uint64_t offset, void* buffer, uint32_t length) = 0;

 protected:
  ~UdfSectorSource() = default;
};

// Reads `length` bytes at `offset` and checks the tag: a failed check is 11.
ErrorCode udf_read_descriptor(UdfSectorSource& source, uint64_t offset, uint8_t* buffer,
                              uint32_t length);

struct UdfPartitionMap {
  uint8_t kind;  // 1 physical (or virtual, read like physical), 2 metadata
  uint16_t partition_number;
  uint32_t metadata_location;  // metadata maps: block of the metadata file entry
};

// What the volume descriptor sequence gives.
struct UdfVolumeLayout {
  bool has_logical_volume;  // a usable logical volume descriptor was seen
  uint32_t file_set_block;
  uint16_t file_set_partition;
  uint32_t map_count;
  UdfPartitionMap maps[kUdfMaxMaps];
  uint32_t partition_count;
  uint16_t partition_numbers[kUdfMaxPartitions];
  uint32_t partition_starts[kUdfMaxPartitions];
  uint64_t time;                      // primary volume descriptor's recording time
  char16_t label[kUdfLabelCapacity];  // last non-empty identifier seen
};

// Looks for the anchor at sector 256, then N − 1, then N − 257 (`buffer`
// holds 512 bytes). 0 with the main sequence extent, or the last read's error
// (11 when a sector holds no anchor).
ErrorCode udf_find_anchor(UdfSectorSource& source, uint32_t sector_count, uint8_t* buffer,
                          uint32_t* sequence_sector, uint32_t* sequence_length);

// Walks the volume descriptor sequence from the given extent, following
// volume descriptor pointers, into `layout` (which the caller zeroes and may
// preset with a label). `buffer` holds one sector. Stops at the first sector
// that cannot be read or carries an invalid tag.
void udf_read_volume_sequence(UdfSectorSource& source, uint32_t sector, uint32_t length,
                              uint8_t* buffer, UdfVolumeLayout* layout,
                              UdfCodePageDecoder code_page);

// Applies one logical volume descriptor (512 bytes) to `layout`.
void udf_apply_logical_volume(const uint8_t* descriptor, UdfVolumeLayout* layout,
                              UdfCodePageDecoder code_page);

// Start sector of map i: the starting location of the last partition
// descriptor recorded with the map's partition number, 0 when there is none.
uint32_t udf_map_start_sector(const UdfVolumeLayout& layout, uint32_t map);

// Absolute sector of logical block `block` of partition reference `reference`
// over the maps' start sectors; clamped to 0xFFFFFFFF, which no read reaches.
uint32_t udf_map_block(const uint32_t* starts, uint32_t map_count, uint16_t reference,
                       uint32_t block);

struct UdfLongAllocation {
  uint32_t length;  // top two bits (the extent type) cleared
  uint32_t block;
  uint16_t partition;
};

UdfLongAllocation udf_long_allocation(const uint8_t* p);

// A file entry or extended file entry, decoded.
struct UdfFileEntry {
  uint8_t file_type;
  uint8_t kind;        // 1 file, 2 folder
  uint8_t attributes;  // 0x02 hidden, 0x04 system, 0x20 archive
  uint8_t ad_type;     // 0 short, 1 long, 2 extended, 3 embedded
  uint64_t write_time;
  uint64_t creation_time;  // extended file entries only
  // Extended attributes inside the entry, past any header descriptor;
  // ea_length 0 when there are none or the area does not fit the sector.
  uint32_t ea_offset;
  uint32_t ea_length;
  // Allocation descriptors (or embedded data) inside the entry; ad_length 0
  // when there are none, when they do not fit or the file type has no data.
  uint32_t ad_offset;
  uint32_t ad_length;
  UdfLongAllocation ea_icb;
};

// Decodes the sector of a file entry (tag 261) or extended file entry (266).
void udf_parse_file_entry(const uint8_t* sector, UdfFileEntry* entry);

struct UdfAllocation {
  uint8_t type;  // 0 recorded, 1 allocated, 2 unallocated, 3 next allocation extent
  uint32_t length;
  uint32_t block;
  uint16_t partition;
};

// Reads the allocation descriptor of type `ad_type` (0 short, 1 long,
// 2 extended) at *position of the area and advances past it. False at the end
// of the list: no whole descriptor left, a length of 0, or an unknown type.
// Short descriptors take `partition` as their partition reference.
bool udf_next_allocation(const uint8_t* area, uint32_t size, uint32_t* position,
                         uint8_t ad_type, uint16_t partition, UdfAllocation* out);

// Scans extended attributes for a file times attribute with a creation time;
// true with that time (the last one found) in *creation.
bool udf_read_extended_attributes(const uint8_t* area, size_t size, uint64_t* creation);

// The fixed head of a file identifier descriptor.
struct UdfFileIdentifier {
  uint8_t characteristics;  // 0x02 folder, 0x04 deleted, 0x08 parent
  uint8_t name_length;
  uint16_t implementation_length;
  uint32_t icb_length;  // top two bits cleared
  uint32_t icb_block;
  uint16_t icb_partition;
};

// 0 for a file identifier, 11 for an invalid tag, 18 for another descriptor
// (the end of the folder).
ErrorCode udf_parse_file_identifier(const uint8_t* head, UdfFileIdentifier* out);

}  // namespace sm
