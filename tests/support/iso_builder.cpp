#include "support/iso_builder.h"

#include <cstring>

namespace sm::test {

namespace {

void BothEndian32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<uint8_t>(value >> (8 * i));
    p[7 - i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

}  // namespace

std::string IsoLongDate(const char* digits, int8_t offset) {
  std::string date(digits, 16);
  date.push_back(static_cast<char>(offset));
  return date;
}

std::string Ucs2BigEndian(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c >> 8));
    bytes.push_back(static_cast<char>(c & 0xFF));
  }
  return bytes;
}

std::vector<uint8_t> IsoRecordBytes(const IsoRecord& r) {
  size_t length = 33 + r.id.size();
  if (length % 2 != 0) ++length;
  std::vector<uint8_t> bytes(length);
  bytes[0] = static_cast<uint8_t>(length);
  bytes[1] = r.attribute_length;
  BothEndian32(&bytes[2], r.location);
  BothEndian32(&bytes[10], r.length);
  uint8_t const date[7] = {r.date.years_since_1900, r.date.month,  r.date.day,
                           r.date.hour,             r.date.minute, r.date.second,
                           static_cast<uint8_t>(r.date.offset)};
  memcpy(&bytes[18], date, 7);
  bytes[25] = r.flags;
  bytes[26] = r.unit_size;
  bytes[27] = r.gap;
  bytes[28] = 1;  // volume sequence number
  bytes[31] = 1;
  bytes[32] = static_cast<uint8_t>(r.id.size());
  memcpy(&bytes[33], r.id.data(), r.id.size());
  return bytes;
}

void IsoImage::descriptor(uint32_t n, uint8_t type, const char* id, uint8_t version) {
  uint8_t* d = sector(n);
  d[0] = type;
  memcpy(d + 1, id, 5);
  d[6] = version;
}

void IsoImage::volume(uint32_t n, const IsoVolume& v) {
  descriptor(n, v.type, "CD001", v.version);
  uint8_t* d = sector(n);
  memset(d + 40, ' ', 32);
  memcpy(d + 40, v.volume_id.data(), v.volume_id.size() < 32 ? v.volume_id.size() : 32);
  memcpy(d + 88, v.escapes.data(), v.escapes.size() < 32 ? v.escapes.size() : 32);
  IsoRecord root;
  root.id = std::string(1, '\0');
  root.location = v.root_location;
  root.length = v.root_length;
  root.flags = 0x02;
  root.attribute_length = v.root_attribute_length;
  std::vector<uint8_t> const record = IsoRecordBytes(root);
  memcpy(d + 156, record.data(), 34);
  if (v.created.size() == 17) memcpy(d + 813, v.created.data(), 17);
  if (v.modified.size() == 17) memcpy(d + 830, v.modified.data(), 17);
}

void IsoImage::directory(uint32_t n, const std::vector<IsoRecord>& records) {
  size_t at = size_t{n} * 2048;
  for (IsoRecord const& r : records) {
    std::vector<uint8_t> const b = IsoRecordBytes(r);
    if (at / 2048 != (at + b.size() - 1) / 2048) at = (at / 2048 + 1) * 2048;
    if (at + b.size() > bytes.size()) bytes.resize(at + b.size());
    memcpy(bytes.data() + at, b.data(), b.size());
    at += b.size();
  }
}

std::vector<IsoRecord> IsoImage::Dots(uint32_t location, uint32_t length) {
  IsoRecord self;
  self.id = std::string(1, '\0');
  self.location = location;
  self.length = length;
  self.flags = 0x02;
  IsoRecord parent = self;
  parent.id = std::string(1, '\1');
  return {self, parent};
}

}  // namespace sm::test
