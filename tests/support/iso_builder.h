// Small ISO 9660 images built byte by byte, for the cases the mastering
// tools cannot make small or at all: multi-extent and interleaved files,
// padding, malformed records, enhanced descriptors, extended attributes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sm::test {

// The 7-byte recording date of a directory record.
struct IsoShortDate {
  uint8_t years_since_1900 = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  int8_t offset = 0;  // quarter hours from UTC
};

// The 17-byte date: 16 digits "YYYYMMDDhhmmsscc" and the offset byte.
std::string IsoLongDate(const char* digits, int8_t offset);

// Big-endian UCS-2 bytes of a wide text (Joliet identifiers).
std::string Ucs2BigEndian(const std::u16string& text);

struct IsoRecord {
  std::string id;  // identifier bytes as recorded
  uint32_t location = 0;
  uint32_t length = 0;
  uint8_t flags = 0;  // 0x02 directory
  IsoShortDate date;
  uint8_t attribute_length = 0;
  uint8_t unit_size = 0;
  uint8_t gap = 0;
};

inline IsoRecord IsoFile(std::string id, uint32_t location, uint32_t length) {
  IsoRecord record;
  record.id = std::move(id);
  record.location = location;
  record.length = length;
  return record;
}

inline IsoRecord IsoFolder(std::string id, uint32_t location, uint32_t length = 2048) {
  IsoRecord record = IsoFile(std::move(id), location, length);
  record.flags = 0x02;
  return record;
}

std::vector<uint8_t> IsoRecordBytes(const IsoRecord& record);

struct IsoVolume {
  uint8_t type = 1;
  uint8_t version = 1;
  std::string volume_id;  // bytes, padded with spaces to 32
  std::string escapes;    // bytes, padded with zeros to 32
  uint32_t root_location = 0;
  uint32_t root_length = 2048;
  uint8_t root_attribute_length = 0;
  std::string created;   // 17 bytes or empty
  std::string modified;  // 17 bytes or empty
};

class IsoImage {
 public:
  explicit IsoImage(uint32_t sectors) : bytes(size_t{sectors} * 2048) {}

  uint8_t* sector(uint32_t n) { return bytes.data() + size_t{n} * 2048; }
  // Type byte, five identifier characters and version at the sector's start.
  void descriptor(uint32_t n, uint8_t type, const char* id, uint8_t version);
  void volume(uint32_t n, const IsoVolume& volume);
  void terminator(uint32_t n) { descriptor(n, 0xFF, "CD001", 1); }
  // Lays the records out from sector n on; a record that would cross a
  // sector's end starts the next sector (the rest stays zero padding).
  void directory(uint32_t n, const std::vector<IsoRecord>& records);
  // "." and ".." records of a directory at `location`, for realism.
  static std::vector<IsoRecord> Dots(uint32_t location, uint32_t length);

  std::vector<uint8_t> bytes;
};

}  // namespace sm::test
