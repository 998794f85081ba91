#include "container/packed_format.h"

#include <zlib.h>

#include <cstring>

namespace sm {

uint32_t packed_get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t packed_get64(const uint8_t* p) { return uint64_t(packed_get32(p)) | uint64_t(packed_get32(p + 4)) << 32; }
void packed_put32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
void packed_put64(uint8_t* p, uint64_t v) {
  packed_put32(p, uint32_t(v));
  packed_put32(p + 4, uint32_t(v >> 32));
}

static uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

uint32_t packed_crc32(const uint8_t* bytes, size_t length) {
  uLong crc = crc32(0, nullptr, 0);
  while (length > 0) {
    uInt chunk = length > 0x40000000u ? 0x40000000u : uInt(length);
    crc = crc32(crc, bytes, chunk);
    bytes += chunk;
    length -= chunk;
  }
  return uint32_t(crc);
}

void packed_header_encode(const PackedHeader& h, uint8_t out[kPackedHeaderSize]) {
  memset(out, 0, kPackedHeaderSize);
  memcpy(out, kPackedHeaderTag, 4);
  out[8] = h.version;
  out[9] = h.min_reader_version;
  out[10] = h.revision;
  memcpy(out + 11, h.image_type, 5);
  memcpy(out + 16, h.image_id, 16);
  memcpy(out + 32, h.set_id, 16);
  packed_put64(out + 48, h.logical_start);
  packed_put32(out + 56, h.part_index);
  packed_put32(out + 4, packed_crc32(out + 8, kPackedHeaderSize - 8));
}

bool packed_header_decode(const uint8_t b[kPackedHeaderSize], PackedHeader* h) {
  h->version = b[8];
  h->min_reader_version = b[9];
  h->revision = b[10];
  memcpy(h->image_type, b + 11, 5);
  memcpy(h->image_id, b + 16, 16);
  memcpy(h->set_id, b + 32, 16);
  h->logical_start = packed_get64(b + 48);
  h->part_index = packed_get32(b + 56);
  return memcmp(b, kPackedHeaderTag, 4) == 0 && packed_get32(b + 4) == packed_crc32(b + 8, kPackedHeaderSize - 8);
}

void packed_trailer_encode(const PackedTrailer& t, uint8_t out[kPackedTrailerSize]) {
  memset(out, 0, kPackedTrailerSize);
  memcpy(out, kPackedTrailerTag, 4);
  out[8] = t.version;
  out[9] = t.min_reader_version;
  out[10] = t.revision;
  memcpy(out + 11, t.image_type, 5);
  memcpy(out + 16, t.image_id, 16);
  out[32] = t.digest_method;
  out[33] = t.cipher_method;
  packed_put64(out + 64, t.block_count);
  packed_put32(out + 72, t.block_size);
  packed_put32(out + 76, t.last_block_bytes);
  packed_put32(out + 80, t.metadata_size);
  out[84] = t.compression_method;
  out[85] = t.lzma_properties;
  memcpy(out + 128, t.image_digest, 64);
  packed_put32(out + 4, packed_crc32(out + 8, kPackedTrailerSize - 8));
}

bool packed_trailer_decode(const uint8_t b[kPackedTrailerSize], PackedTrailer* t) {
  t->version = b[8];
  t->min_reader_version = b[9];
  t->revision = b[10];
  memcpy(t->image_type, b + 11, 5);
  memcpy(t->image_id, b + 16, 16);
  t->digest_method = b[32];
  t->cipher_method = b[33];
  t->block_count = packed_get64(b + 64);
  t->block_size = packed_get32(b + 72);
  t->last_block_bytes = packed_get32(b + 76);
  t->metadata_size = packed_get32(b + 80);
  t->compression_method = b[84];
  t->lzma_properties = b[85];
  memcpy(t->image_digest, b + 128, 64);
  return memcmp(b, kPackedTrailerTag, 4) == 0 &&
         packed_get32(b + 4) == packed_crc32(b + 8, kPackedTrailerSize - 8);
}

bool packed_version_readable(uint8_t version, uint8_t min_reader_version) {
  return version >= 1 && min_reader_version <= 1;
}

bool packed_image_type_is_iso(const char type[5]) {
  // Up to the first NUL or all five bytes: "iso" in any letter case and nothing more.
  size_t n = 0;
  while (n < 5 && type[n] != 0) ++n;
  if (n != 3) return false;
  static const char kIso[] = "iso";
  for (size_t i = 0; i < 3; ++i) {
    char c = type[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != kIso[i]) return false;
  }
  return true;
}

bool packed_tail_head_decode(const uint8_t b[kPackedTailHeadSize], PackedTailHead* head) {
  head->crc = packed_get32(b + 4);
  head->length = packed_get32(b + 8);
  head->type = b[12];
  return memcmp(b, kPackedTailTag, 4) == 0;
}

void packed_tail_record_seal(uint8_t* record, uint32_t length, uint8_t type) {
  memcpy(record, kPackedTailTag, 4);
  packed_put32(record + 8, length);
  record[12] = type;
  record[13] = record[14] = record[15] = 0;
  packed_put32(record + 4, packed_crc32(record + 8, length - 8));
}

void packed_locator_encode(const uint8_t image_id[16], uint64_t distance, uint8_t out[kPackedLocatorSize]) {
  memset(out, 0, kPackedLocatorSize);
  memcpy(out + 16, image_id, 16);
  packed_put64(out + 32, distance);
  packed_tail_record_seal(out, kPackedLocatorSize, kPackedTailLocator);
}

bool packed_locator_decode(const uint8_t b[kPackedLocatorSize], const uint8_t image_id[16], uint64_t* distance) {
  PackedTailHead head;
  if (!packed_tail_head_decode(b, &head)) return false;
  if (head.length != kPackedLocatorSize || head.type != kPackedTailLocator) return false;
  if (head.crc != packed_crc32(b + 8, kPackedLocatorSize - 8)) return false;
  if (memcmp(b + 16, image_id, 16) != 0) return false;
  *distance = packed_get64(b + 32);
  return true;
}

ErrorCode packed_metadata_walk(const uint8_t* area, uint32_t size, PackedMetadataVisit visit, void* context) {
  uint64_t at = 0;
  while (at < size) {
    if (size - at < 16) return kErrorBadFormat;
    const uint8_t* r = area + at;
    uint32_t length = packed_get32(r + 4);
    if (length == 0) break;
    uint64_t position = packed_get64(r + 8);
    if (uint64_t(length) > size - at - 16) return kErrorBadFormat;
    if (position > UINT64_MAX - length) return kErrorBadFormat;
    PackedMetadataRecord record{r, length, position, r + 16};
    ErrorCode e = visit(context, record);
    if (e != kOk) return e;
    at = packed_round_up(at + 16 + length, kPackedAlign);
  }
  return kOk;
}

void packed_metadata_record_encode(const uint8_t tag[4], uint64_t position, const uint8_t* payload,
                                   uint32_t length, uint8_t* out) {
  memcpy(out, tag, 4);
  packed_put32(out + 4, length);
  packed_put64(out + 8, position);
  if (length > 0) memcpy(out + 16, payload, length);
}

namespace {

// Reads pieces of the scanned file: from the caller's prefix when it holds
// them, otherwise through the read function, with a small window so that a walk
// over many certificate entries does not read them one at a time.
class ScanSource {
 public:
  ScanSource(const uint8_t* prefix, size_t prefix_length, uint64_t file_size, CarrierReadFn read, void* context)
      : prefix_(prefix), prefix_length_(prefix_length), file_size_(file_size), read_(read), context_(context) {}

  // Gives `length` (at most 64) bytes at `offset`, or null when they cannot be had.
  const uint8_t* at(uint64_t offset, uint32_t length) {
    if (offset > file_size_ || file_size_ - offset < length) return nullptr;
    if (offset + length <= prefix_length_) return prefix_ + offset;
    if (window_valid_ && offset >= window_start_ && offset + length <= window_start_ + window_length_) {
      return window_ + (offset - window_start_);
    }
    if (read_ == nullptr) return nullptr;
    uint64_t want = file_size_ - offset;
    if (want > sizeof(window_)) want = sizeof(window_);
    if (!read_(context_, offset, window_, uint32_t(want))) {
      window_valid_ = false;
      return nullptr;
    }
    window_valid_ = true;
    window_start_ = offset;
    window_length_ = uint32_t(want);
    return window_;
  }

 private:
  const uint8_t* prefix_;
  size_t prefix_length_;
  uint64_t file_size_;
  CarrierReadFn read_;
  void* context_;
  bool window_valid_ = false;
  uint64_t window_start_ = 0;
  uint32_t window_length_ = 0;
  uint8_t window_[4096];
};

bool power_of_two_in_range(uint32_t v) { return v >= 4 && v <= 16384 && (v & (v - 1)) == 0; }

bool scan_pe(ScanSource& src, uint64_t file_size, CarrierInfo* info) {
  const uint8_t* dos = src.at(0, 64);
  if (dos == nullptr || dos[0] != 'M' || dos[1] != 'Z') return false;
  uint32_t pe = packed_get32(dos + 60);
  if (pe % 4 != 0) return false;
  const uint8_t* coff = src.at(pe, 24);
  if (coff == nullptr || memcmp(coff, "PE\0\0", 4) != 0) return false;
  uint32_t sections = get16(coff + 6);
  uint32_t optional_size = get16(coff + 20);
  if (sections == 0 || optional_size % 4 != 0 || optional_size < 224) return false;
  uint64_t opt = uint64_t(pe) + 24;
  const uint8_t* o = src.at(opt, 40);
  if (o == nullptr) return false;
  uint16_t magic = get16(o);
  uint64_t count_at, dirs_at;
  if (magic == 0x10B) {
    count_at = 92;
    dirs_at = 96;
  } else if (magic == 0x20B) {
    if (optional_size < 240) return false;
    count_at = 108;
    dirs_at = 112;
  } else {
    return false;
  }
  if (!power_of_two_in_range(packed_get32(o + 32)) || !power_of_two_in_range(packed_get32(o + 36))) return false;
  const uint8_t* c = src.at(opt + count_at, 4);
  if (c == nullptr || packed_get32(c) < 16) return false;
  const uint8_t* cert_dir = src.at(opt + dirs_at + 4 * 8, 8);
  if (cert_dir == nullptr) return false;
  uint32_t cert_offset = packed_get32(cert_dir);
  uint32_t cert_size = packed_get32(cert_dir + 4);

  uint64_t carrier_end = 0;
  uint64_t table = opt + optional_size;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint8_t* s = src.at(table + uint64_t(i) * 40, 40);
    if (s == nullptr) return false;
    uint64_t va = packed_get32(s + 12);
    uint64_t raw_size = packed_get32(s + 16);
    uint64_t raw_ptr = packed_get32(s + 20);
    if (raw_ptr + raw_size > 0xFFFFFFFFull || va + raw_size > 0xFFFFFFFFull) return false;
    if (raw_ptr + raw_size > carrier_end) carrier_end = raw_ptr + raw_size;
  }

  CarrierInfo out;
  out.kind = CarrierKind::kPe;
  out.carrier_end = carrier_end;
  uint64_t table_end = uint64_t(cert_offset) + cert_size;
  if (cert_offset % 4 == 0 && table_end % 4 == 0 && cert_size >= 8) {
    uint64_t at = cert_offset;
    bool first = true;
    uint64_t last_signed_end = 0;
    while (table_end - at >= 8) {
      const uint8_t* e = src.at(at, 8);
      if (e == nullptr) break;
      uint32_t length = packed_get32(e);
      uint16_t revision = get16(e + 4);
      uint16_t type = get16(e + 6);
      if (length == 0 || length > table_end - at) break;
      if (first) out.cert_start = cert_offset;
      first = false;
      uint64_t end = packed_round_up(at + length, 8);
      if (revision != 0 && type != 0) last_signed_end = end;
      at = end;
    }
    if (out.cert_start != 0 && last_signed_end != 0) out.secondary = last_signed_end + 8;
  }
  (void)file_size;
  *info = out;
  return true;
}

bool scan_cabinet(ScanSource& src, uint64_t file_size, CarrierInfo* info) {
  if (file_size < kCabinetStubSize) return false;
  const uint8_t* b = src.at(0, 64);
  const uint8_t* tail = src.at(176, 16);
  if (b == nullptr || tail == nullptr) return false;
  if (memcmp(b, "MSCF", 4) != 0 || memcmp(tail, "cabstub1", 8) != 0) return false;
  uint32_t signature = packed_get32(b + 44);
  uint32_t secondary = packed_get32(tail + 8);
  if (signature != 0 && signature < kCabinetStubSize) return false;
  if (signature == 0 && secondary != 0) return false;
  if (secondary != 0 && secondary < signature) return false;
  CarrierInfo out;
  out.kind = CarrierKind::kCabinet;
  out.carrier_end = kCabinetStubSize;
  out.cert_start = signature;
  if (secondary != 0) {
    out.secondary = secondary;
  } else if (signature != 0) {
    out.secondary = uint64_t(signature) + packed_get32(b + 48) + 32;
  }
  *info = out;
  return true;
}

}  // namespace

void packed_carrier_scan(const uint8_t* prefix, size_t prefix_length, uint64_t file_size, CarrierReadFn read,
                         void* context, CarrierInfo* info) {
  *info = CarrierInfo();
  if (prefix_length > file_size) prefix_length = size_t(file_size);
  ScanSource src(prefix, prefix_length, file_size, read, context);
  if (scan_pe(src, file_size, info)) return;
  *info = CarrierInfo();
  if (scan_cabinet(src, file_size, info)) return;
  *info = CarrierInfo();
}

void packed_cabinet_stub_encode(uint8_t out[kCabinetStubSize]) {
  memset(out, 0, kCabinetStubSize);
  memcpy(out, "MSCF", 4);
  packed_put32(out + 8, kCabinetStubSize);  // cbCabinet: the stub alone
  out[24] = 3;                              // versionMinor
  out[25] = 1;                              // versionMajor
  out[30] = 0x04;                           // cfhdrRESERVE_PRESENT: the reserve area holds the fields below
  // cbCFHeader: the reserve area runs from 40 to the end of the stub.
  out[36] = uint8_t(kCabinetStubSize - 40);
  out[37] = 0;
  memcpy(out + 176, "cabstub1", 8);
}

}  // namespace sm
