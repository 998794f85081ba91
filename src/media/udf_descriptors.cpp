#include "media/udf_descriptors.h"

#include <cstring>

#include "media/calendar.h"

namespace sm {

namespace {

// A volume descriptor pointer may name an earlier extent; this many hops end
// a sequence that would otherwise loop for ever.
constexpr uint32_t kMaxSequenceExtents = 64;

size_t put_utf8(uint32_t code_point, char* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<char>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<char>(0xC0 | code_point >> 6);
    out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<char>(0xE0 | code_point >> 12);
    out[1] = static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | code_point >> 18);
  out[1] = static_cast<char>(0x80 | (code_point >> 12 & 0x3F));
  out[2] = static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
  out[3] = static_cast<char>(0x80 | (code_point & 0x3F));
  return 4;
}

}  // namespace

bool udf_tag_valid(const uint8_t* tag) {
  if (udf_tag_id(tag) == 0) return false;
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i) {
    if (i != 4) sum = static_cast<uint8_t>(sum + tag[i]);
  }
  return sum == tag[4];
}

uint64_t udf_file_time(const uint8_t* ts) {
  uint16_t type_and_zone = udf_u16(ts);
  CalendarTime calendar{udf_u16(ts + 2), ts[4], ts[5], ts[6], ts[7], ts[8],
                        static_cast<uint16_t>(ts[9] * 10u + ts[10] / 10u)};
  if (type_and_zone >> 12 != 1) return CalendarToFileTime(calendar);
  int32_t offset = type_and_zone & 0xFFF;
  if (offset >= 0x800) offset -= 0x1000;
  // -2047 records that no time zone was specified: the clock time stands.
  if (offset == -2047) offset = 0;
  return CalendarToUtcFileTime(calendar, offset);
}

void udf_decode_dstring(const uint8_t* field, size_t field_size, char16_t* label,
                        UdfCodePageDecoder code_page) {
  if (field_size < 2) return;
  size_t used = field[field_size - 1];
  if (used == 0) return;
  if (used > field_size - 1) used = field_size - 1;
  const size_t kMax = kUdfLabelCapacity - 1;
  size_t n = 0;
  if (field[0] == 8) {
    for (size_t i = 1; i < used && n < kMax; ++i) label[n++] = field[i];
  } else if (field[0] == 16) {
    for (size_t i = 0; i < (used - 1) / 2 && n < kMax; ++i) {
      label[n++] = static_cast<char16_t>(field[1 + 2 * i] << 8 | field[2 + 2 * i]);
    }
  } else {
    size_t length = 0;
    while (length < used && field[length] != 0) ++length;
    if (code_page) {
      n = code_page(label, kUdfLabelCapacity, reinterpret_cast<const char*>(field), length);
      if (n > kMax) n = kMax;
    } else {
      for (size_t i = 0; i < length && n < kMax; ++i) label[n++] = field[i];
    }
  }
  label[n] = 0;
  for (size_t i = 0; i < n; ++i) {
    if (label[i] == 0) n = i;
  }
  while (n > 0 && label[n - 1] == u' ') label[--n] = 0;
}

size_t udf_decode_name(const uint8_t* id, size_t length, char* out) {
  const size_t kMax = kUdfNameCapacity - 1;
  size_t n = 0;
  char bytes[4];
  auto put = [&](uint32_t code_point) {
    size_t k = put_utf8(code_point, bytes);
    if (n + k > kMax) return false;
    std::memcpy(out + n, bytes, k);
    n += k;
    return true;
  };
  if (length > 0 && id[0] == 8) {
    for (size_t i = 1; i < length && id[i] != 0; ++i) {
      if (!put(id[i])) break;
    }
  } else if (length > 0 && id[0] == 16) {
    size_t count = (length - 1) / 2;
    for (size_t i = 0; i < count; ++i) {
      uint32_t unit = static_cast<uint32_t>(id[1 + 2 * i] << 8 | id[2 + 2 * i]);
      if (unit == 0) break;
      if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count) {
        uint32_t low = static_cast<uint32_t>(id[3 + 2 * i] << 8 | id[4 + 2 * i]);
        if (low >= 0xDC00 && low < 0xE000) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
      if (unit >= 0xD800 && unit < 0xE000) unit = 0xFFFD;  // a lone surrogate
      if (!put(unit)) break;
    }
  } else {
    for (size_t i = 0; i < length && n < kMax && id[i] != 0; ++i) out[n++] = static_cast<char>(id[i]);
  }
  out[n] = 0;
  return n;
}

ErrorCode udf_read_descriptor(UdfSectorSource& source, uint64_t offset, uint8_t* buffer,
                              uint32_t length) {
  ErrorCode error = source.read(offset, buffer, length);
  if (error != kOk) return error;
  return udf_tag_valid(buffer) ? kOk : kErrorBadFormat;
}

ErrorCode udf_find_anchor(UdfSectorSource& source, uint32_t sector_count, uint8_t* buffer,
                          uint32_t* sequence_sector, uint32_t* sequence_length) {
  uint64_t candidates[3] = {256, 0, 0};
  size_t count = 1;
  if (sector_count != 0) candidates[count++] = sector_count - 1;
  if (sector_count > 256) candidates[count++] = sector_count - 257;
  ErrorCode error = kErrorBadFormat;
  for (size_t i = 0; i < count; ++i) {
    error = udf_read_descriptor(source, candidates[i] * kUdfSectorSize, buffer, 512);
    if (error == kOk && udf_tag_id(buffer) != kUdfTagAnchor) error = kErrorBadFormat;
    if (error == kOk) {
      *sequence_length = udf_u32(buffer + 16);
      *sequence_sector = udf_u32(buffer + 20);
      return kOk;
    }
  }
  return error;
}

void udf_apply_logical_volume(const uint8_t* d, UdfVolumeLayout* layout,
                              UdfCodePageDecoder code_page) {
  udf_decode_dstring(d + 84, 128, layout->label, code_page);
  uint64_t table_length = udf_u32(d + 264);
  if (table_length + 440 > 512 || udf_u32(d + 212) != kUdfSectorSize) return;
  layout->has_logical_volume = true;
  layout->file_set_block = udf_u32(d + 252);
  layout->file_set_partition = udf_u16(d + 256);
  layout->map_count = 0;
  uint32_t wanted = udf_u32(d + 268);
  uint32_t position = 440;
  const uint32_t end = 440 + static_cast<uint32_t>(table_length);
  static const char kVirtual[23] = "*UDF Virtual Partition";
  static const char kMetadata[23] = {'*', 'U', 'D', 'F', ' ', 'M', 'e', 't', 'a', 'd', 'a', 't',
                                     'a', ' ', 'P', 'a', 'r', 't', 'i', 't', 'i', 'o', 'n'};
  while (layout->map_count < wanted && layout->map_count < kUdfMaxMaps && end - position >= 6) {
    const uint8_t* map = d + position;
    uint32_t type = map[0];
    uint32_t length = map[1];
    if (length % 2 != 0 || length > end - position) break;
    UdfPartitionMap& out = layout->maps[layout->map_count];
    if (type == 1 && length >= 6) {
      out = {1, udf_u16(map + 4), 0};
    } else if (type == 2 && length >= 64 && std::memcmp(map + 5, kVirtual, 23) == 0) {
      out = {1, udf_u16(map + 38), 0};
    } else if (type == 2 && length >= 64 && std::memcmp(map + 5, kMetadata, 23) == 0) {
      out = {2, udf_u16(map + 38), udf_u32(map + 40)};
    } else {
      break;
    }
    ++layout->map_count;
    position += length;
  }
}

void udf_read_volume_sequence(UdfSectorSource& source, uint32_t sector, uint32_t length,
                              uint8_t* buffer, UdfVolumeLayout* layout,
                              UdfCodePageDecoder code_page) {
  for (uint32_t extents = 0; extents < kMaxSequenceExtents; ++extents) {
    uint64_t position = static_cast<uint64_t>(sector) * kUdfSectorSize;
    const uint64_t end = position + length;
    bool next_extent = false;
    for (; position < end && !next_extent; position += kUdfSectorSize) {
      if (udf_read_descriptor(source, position, buffer, kUdfSectorSize) != kOk) return;
      switch (udf_tag_id(buffer)) {
        case kUdfTagPrimaryVolume:
          udf_decode_dstring(buffer + 24, 32, layout->label, code_page);
          layout->time = udf_file_time(buffer + 376);
          break;
        case kUdfTagVolumePointer:
          length = udf_u32(buffer + 20);
          sector = udf_u32(buffer + 24);
          next_extent = true;
          break;
        case kUdfTagPartition:
          if (layout->partition_count < kUdfMaxPartitions) {
            layout->partition_numbers[layout->partition_count] = udf_u16(buffer + 22);
            layout->partition_starts[layout->partition_count] = udf_u32(buffer + 188);
            ++layout->partition_count;
          }
          break;
        case kUdfTagLogicalVolume:
          udf_apply_logical_volume(buffer, layout, code_page);
          break;
        default:
          break;
      }
    }
    if (!next_extent) return;
  }
}

uint32_t udf_map_start_sector(const UdfVolumeLayout& layout, uint32_t map) {
  uint32_t start = 0;
  for (uint32_t i = 0; i < layout.partition_count; ++i) {
    if (layout.partition_numbers[i] == layout.maps[map].partition_number) {
      start = layout.partition_starts[i];
    }
  }
  return start;
}

uint32_t udf_map_block(const uint32_t* starts, uint32_t map_count, uint16_t reference,
                       uint32_t block) {
  uint64_t start = 0;
  if (reference < map_count) {
    start = starts[reference];
  } else if (map_count != 0) {
    start = starts[0];
  }
  uint64_t sector = start + block;
  return sector > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(sector);
}

UdfLongAllocation udf_long_allocation(const uint8_t* p) {
  return {udf_u32(p) & 0x3FFFFFFFu, udf_u32(p + 4), udf_u16(p + 8)};
}

void udf_parse_file_entry(const uint8_t* d, UdfFileEntry* e) {
  *e = UdfFileEntry{};
  bool extended = udf_tag_id(d) == kUdfTagExtendedFileEntry;
  uint16_t flags = udf_u16(d + 34);
  e->ad_type = static_cast<uint8_t>(flags & 7);
  if (flags & 0x20) e->attributes |= 0x20;
  if (flags & 0x400) e->attributes |= 0x04;
  uint32_t ea_length = udf_u32(d + (extended ? 208 : 168));
  uint32_t ad_length = udf_u32(d + (extended ? 212 : 172));
  const uint32_t start = extended ? 216 : 176;
  e->ea_icb = udf_long_allocation(d + (extended ? 136 : 112));
  e->write_time = udf_file_time(d + (extended ? 92 : 84));
  if (extended) e->creation_time = udf_file_time(d + 104);

  e->file_type = d[27];
  e->kind = 1;
  switch (e->file_type) {
    case 4:
      e->kind = 2;
      break;
    case 0:
    case 5:
    case 249:
      break;
    case 12:  // symbolic link: its recorded data is the content
      e->attributes |= 0x06;
      break;
    default:
      e->attributes |= 0x06;
      // Metadata files (250, 251) keep their data; other special files have none.
      if (e->file_type != 250 && e->file_type != 251) ad_length = 0;
      break;
  }

  if (ea_length != 0 && ea_length < kUdfSectorSize && start + ea_length <= kUdfSectorSize) {
    e->ea_offset = start;
    e->ea_length = ea_length;
    if (ea_length >= 28 && udf_tag_valid(d + start) &&
        udf_tag_id(d + start) == kUdfTagExtendedAttributes) {
      e->ea_offset += 24;
      e->ea_length -= 24;
    }
  }
  if (ad_length != 0 && ad_length < kUdfSectorSize &&
      static_cast<uint64_t>(start) + ea_length + ad_length <= kUdfSectorSize) {
    e->ad_offset = start + ea_length;
    e->ad_length = ad_length;
  }
}

bool udf_next_allocation(const uint8_t* area, uint32_t size, uint32_t* position,
                         uint8_t ad_type, uint16_t partition, UdfAllocation* out) {
  static const uint8_t kSizes[3] = {8, 16, 20};
  if (ad_type > 2 || *position > size || size - *position < kSizes[ad_type]) return false;
  const uint8_t* p = area + *position;
  uint32_t raw = udf_u32(p);
  out->type = static_cast<uint8_t>(raw >> 30);
  out->length = raw & 0x3FFFFFFFu;
  if (out->length == 0) return false;
  switch (ad_type) {
    case 0:
      out->block = udf_u32(p + 4);
      out->partition = partition;
      break;
    case 1:
      out->block = udf_u32(p + 4);
      out->partition = udf_u16(p + 8);
      break;
    default:
      out->block = udf_u32(p + 12);
      out->partition = udf_u16(p + 16);
      break;
  }
  *position += kSizes[ad_type];
  return true;
}

bool udf_read_extended_attributes(const uint8_t* area, size_t size, uint64_t* creation) {
  bool found = false;
  size_t position = 0;
  while (size - position >= 12) {
    const uint8_t* a = area + position;
    uint32_t type = udf_u32(a);
    uint32_t length = udf_u32(a + 8);
    if (length < 12) {
      position += 12;
      continue;
    }
    if (type == 5 && a[4] == 1 && length >= 32 && size - position >= 32) {
      if (udf_u32(a + 12) >= 12 && (udf_u32(a + 16) & 1) != 0) {
        *creation = udf_file_time(a + 20);
        found = true;
      }
    }
    if (length > size - position) break;
    position += length;
  }
  return found;
}

ErrorCode udf_parse_file_identifier(const uint8_t* head, UdfFileIdentifier* out) {
  if (!udf_tag_valid(head)) return kErrorBadFormat;
  if (udf_tag_id(head) != kUdfTagFileIdentifier) return kErrorNoMoreFiles;
  out->characteristics = head[18];
  out->name_length = head[19];
  UdfLongAllocation icb = udf_long_allocation(head + 20);
  out->icb_length = icb.length;
  out->icb_block = icb.block;
  out->icb_partition = icb.partition;
  out->implementation_length = udf_u16(head + 36);
  return kOk;
}

}  // namespace sm
