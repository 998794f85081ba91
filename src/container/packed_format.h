// The on-disk layout of packed images: the image header of every part, the
// image trailer, tail records, metadata records and the carrier rules that say
// where a part sits inside an executable or a cabinet stub. The reader and the
// packer both use these definitions, so there is one description of the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/error.h"

namespace sm {

inline constexpr uint32_t kPackedHeaderSize = 96;
inline constexpr uint32_t kPackedTrailerSize = 192;
inline constexpr uint32_t kPackedLocatorSize = 64;
inline constexpr uint32_t kPackedTailHeadSize = 16;
inline constexpr uint32_t kPackedAlign = 32;
inline constexpr uint32_t kPackedMinBlockSize = 2048;
inline constexpr uint32_t kPackedMaxBlockSize = 4194304;
inline constexpr uint64_t kPackedMaxBlockCount = 4294967295u;  // exclusive

inline constexpr uint8_t kPackedDigestNone = 0;
inline constexpr uint8_t kPackedDigestCrc32 = 1;
inline constexpr uint8_t kPackedDigestSha256 = 2;

inline constexpr uint8_t kPackedCompressionNone = 0;
inline constexpr uint8_t kPackedCompressionDeflate = 1;
inline constexpr uint8_t kPackedCompressionLzma = 3;

inline constexpr uint8_t kPackedTailLocator = 1;
inline constexpr uint8_t kPackedTailKey = 2;

// Four-byte tags, as they appear in the file.
inline constexpr uint8_t kPackedHeaderTag[4] = {0x63, 0x69, 0x25, 0x70};   // "ci%p"
inline constexpr uint8_t kPackedTrailerTag[4] = {0x63, 0x69, 0x25, 0x6D};  // "ci%m"
inline constexpr uint8_t kPackedTailTag[4] = {0x63, 0x69, 0x25, 0x78};     // "ci%x"
inline constexpr uint8_t kPackedPatchTag[4] = {0x70, 0x74, 0x63, 0x68};    // "ptch"

inline uint64_t packed_round_up(uint64_t value, uint64_t align) {
  return (value + align - 1) / align * align;
}
inline uint64_t packed_round_down(uint64_t value, uint64_t align) { return value / align * align; }

uint32_t packed_get32(const uint8_t* p);
uint64_t packed_get64(const uint8_t* p);
void packed_put32(uint8_t* p, uint32_t v);
void packed_put64(uint8_t* p, uint64_t v);

// CRC-32 of ISO 3309 with a starting value of 0, the guard of every record.
uint32_t packed_crc32(const uint8_t* bytes, size_t length);

struct PackedHeader {
  uint8_t version = 1;
  uint8_t min_reader_version = 1;
  uint8_t revision = 1;
  char image_type[5] = {'i', 's', 'o', 0, 0};
  uint8_t image_id[16] = {};
  uint8_t set_id[16] = {};
  uint64_t logical_start = 0;
  uint32_t part_index = 0;
};

struct PackedTrailer {
  uint8_t version = 1;
  uint8_t min_reader_version = 1;
  uint8_t revision = 1;
  char image_type[5] = {'i', 's', 'o', 0, 0};
  uint8_t image_id[16] = {};
  uint8_t digest_method = 0;
  uint8_t cipher_method = 0;
  uint64_t block_count = 0;
  uint32_t block_size = 0;
  uint32_t last_block_bytes = 0;
  uint32_t metadata_size = 0;
  uint8_t compression_method = 0;
  uint8_t lzma_properties = 0;
  uint8_t image_digest[64] = {};
};

// Writes the 96 header bytes, CRC included.
void packed_header_encode(const PackedHeader& header, uint8_t out[kPackedHeaderSize]);
// True when tag and CRC-32 match; fills `header` from the bytes either way.
bool packed_header_decode(const uint8_t bytes[kPackedHeaderSize], PackedHeader* header);

// Writes the 192 trailer bytes, CRC included (the image digest as given).
void packed_trailer_encode(const PackedTrailer& trailer, uint8_t out[kPackedTrailerSize]);
// True when tag and CRC-32 match; fills `trailer` from the bytes either way.
bool packed_trailer_decode(const uint8_t bytes[kPackedTrailerSize], PackedTrailer* trailer);

// The version bytes and image type a reader of version 1 accepts.
bool packed_version_readable(uint8_t version, uint8_t min_reader_version);
bool packed_image_type_is_iso(const char type[5]);

// The bytes of the trailer covered by the image digest: 8 to 127.
inline constexpr uint32_t kPackedTrailerDigestedStart = 8;
inline constexpr uint32_t kPackedTrailerDigestedEnd = 128;
inline constexpr uint32_t kPackedTrailerDigestOffset = 128;

// Tail records. The head is the first 16 bytes; the CRC covers bytes 8 to the end.
struct PackedTailHead {
  uint32_t crc = 0;
  uint32_t length = 0;
  uint8_t type = 0;
};
bool packed_tail_head_decode(const uint8_t bytes[kPackedTailHeadSize], PackedTailHead* head);
// Fills tag, length, type and CRC of a record whose body is already in place.
void packed_tail_record_seal(uint8_t* record, uint32_t length, uint8_t type);
// A locator record: 64 bytes pointing from the region end back to the trailer end.
void packed_locator_encode(const uint8_t image_id[16], uint64_t distance, uint8_t out[kPackedLocatorSize]);
// True when the 64 bytes are a well-formed locator for this image; gives the distance.
bool packed_locator_decode(const uint8_t bytes[kPackedLocatorSize], const uint8_t image_id[16],
                           uint64_t* distance);

// Metadata records. The walk calls `visit` for every record before the end of
// the list; it returns 11 when a record does not lie wholly inside the area.
struct PackedMetadataRecord {
  const uint8_t* tag;
  uint32_t length;
  uint64_t position;
  const uint8_t* payload;
};
using PackedMetadataVisit = ErrorCode (*)(void* context, const PackedMetadataRecord& record);
ErrorCode packed_metadata_walk(const uint8_t* area, uint32_t size, PackedMetadataVisit visit, void* context);
// Size a record with this payload takes in the area (head, payload, zero gap).
inline uint64_t packed_metadata_record_size(uint32_t length) { return packed_round_up(16ull + length, 32); }
// Writes one record at `out` (which has packed_metadata_record_size bytes, zeroed).
void packed_metadata_record_encode(const uint8_t tag[4], uint64_t position, const uint8_t* payload,
                                   uint32_t length, uint8_t* out);

// Carrier scan. A file is a PE executable, a cabinet stub or no carrier.
enum class CarrierKind { kNone, kPe, kCabinet };
struct CarrierInfo {
  CarrierKind kind = CarrierKind::kNone;
  uint64_t carrier_end = 0;  // end of the carrier's own content
  uint64_t cert_start = 0;   // start of the certificate table or signature, 0 without
  uint64_t secondary = 0;    // secondary header position before rounding, 0 without
};
// Reads `length` bytes at `offset` of the file being scanned; false on any
// failure or when the file holds fewer bytes.
using CarrierReadFn = bool (*)(void* context, uint64_t offset, uint8_t* buffer, uint32_t length);
// Scans a file of `file_size` bytes whose first `prefix_length` bytes are given
// (more is read through `read` where the headers point further). A file too
// short for what its headers need, or a read failure, counts as no carrier.
void packed_carrier_scan(const uint8_t* prefix, size_t prefix_length, uint64_t file_size, CarrierReadFn read,
                         void* context, CarrierInfo* info);

// The header position of a part in a carrier: its end rounded up to 32.
inline uint64_t packed_header_position(const CarrierInfo& info) {
  return info.kind == CarrierKind::kNone ? 0 : packed_round_up(info.carrier_end, kPackedAlign);
}

// Size of a cabinet stub: the part header sits right after it.
inline constexpr uint32_t kCabinetStubSize = 192;
// Writes a cabinet stub with no signature (192 bytes).
void packed_cabinet_stub_encode(uint8_t out[kCabinetStubSize]);

}  // namespace sm
