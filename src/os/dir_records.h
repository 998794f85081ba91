// Decoders of the two native directory record layouts a listing reads:
// full-identifier records (class 38, 64-bit identifiers, the reparse tag in
// the extended-attribute size) and extended-identifier records (class 60,
// 128-bit identifiers and their own reparse tag field).
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/file_info.h"

namespace sm {

inline constexpr size_t kClass38NameOffset = 80;
inline constexpr size_t kClass60NameOffset = 88;

struct DirRecord {
  uint32_t next_offset;      // 0 for the last record of a buffer
  const uint8_t* name;       // UTF-16, not terminated, maybe unaligned
  size_t name_units;
  FileInfo info;             // attributes, size, times and identifier; derived fields unset
  uint32_t reparse_tag;      // 0 unless the reparse-point attribute is set
};

// Decodes the record at `offset` of `filled` bytes; false when it does not
// lie wholly inside them.
using DirRecordDecoder = bool (*)(const uint8_t* buffer, size_t filled, size_t offset, DirRecord* record);
bool decode_full_id_record(const uint8_t* buffer, size_t filled, size_t offset, DirRecord* record);
bool decode_extended_id_record(const uint8_t* buffer, size_t filled, size_t offset, DirRecord* record);

}  // namespace sm
