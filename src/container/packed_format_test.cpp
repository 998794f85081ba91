#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "container/packed_format.h"
#include "support/pe_builder.h"

namespace sm {
namespace {

TEST(PackedFormat, HeaderAndTrailerRoundTripWithTheirCrc) {
  PackedHeader h;
  h.image_id[0] = 7;
  h.set_id[15] = 9;
  h.logical_start = 0x123456789A0ull;
  h.part_index = 5;
  uint8_t bytes[kPackedHeaderSize];
  packed_header_encode(h, bytes);
  EXPECT_EQ(memcmp(bytes, "ci%p", 4), 0);
  EXPECT_EQ(packed_get32(bytes + 4), packed_crc32(bytes + 8, 88));
  PackedHeader back;
  ASSERT_TRUE(packed_header_decode(bytes, &back));
  EXPECT_EQ(back.logical_start, h.logical_start);
  EXPECT_EQ(back.part_index, 5u);
  bytes[95] ^= 1;  // reserved bytes are covered by the CRC
  EXPECT_FALSE(packed_header_decode(bytes, &back));

  PackedTrailer t;
  t.block_count = 2;
  t.block_size = 4194304;
  t.last_block_bytes = 290816;
  t.metadata_size = 192;
  t.compression_method = 3;
  t.lzma_properties = 0x5D;
  t.digest_method = 2;
  t.image_digest[0] = 0xAA;
  uint8_t tb[kPackedTrailerSize];
  packed_trailer_encode(t, tb);
  EXPECT_EQ(memcmp(tb, "ci%m", 4), 0);
  EXPECT_EQ(tb[84], 3);
  EXPECT_EQ(tb[85], 0x5D);
  EXPECT_EQ(tb[128], 0xAA);
  PackedTrailer tback;
  EXPECT_TRUE(packed_trailer_decode(tb, &tback));
  EXPECT_EQ(tback.last_block_bytes, 290816u);
}

TEST(PackedFormat, ImageTypeIsIsoInAnyCaseAndNothingMore) {
  EXPECT_TRUE(packed_image_type_is_iso("iso\0\0"));
  EXPECT_TRUE(packed_image_type_is_iso("IsO\0x"));
  EXPECT_FALSE(packed_image_type_is_iso("isox\0"));
  EXPECT_FALSE(packed_image_type_is_iso("isoxx"));
  EXPECT_FALSE(packed_image_type_is_iso("is\0\0\0"));
  EXPECT_TRUE(packed_version_readable(1, 1));
  EXPECT_TRUE(packed_version_readable(200, 0));
  EXPECT_FALSE(packed_version_readable(0, 0));
  EXPECT_FALSE(packed_version_readable(1, 2));
}

TEST(PackedFormat, MetadataWalkStopsAtAnEmptyRecordAndRefusesOverruns) {
  std::vector<uint8_t> area(160, 0);
  uint8_t payload[20] = {1, 2, 3};
  packed_metadata_record_encode(kPackedPatchTag, 10, payload, 20, area.data());    // 0..36 -> 64
  packed_metadata_record_encode((const uint8_t*)"abcd", 5, payload, 3, area.data() + 64);  // -> 96
  // A record after the empty one at 96 is never reached.
  packed_metadata_record_encode(kPackedPatchTag, 1, payload, 1, area.data() + 128);
  int seen = 0;
  auto count = [](void* c, const PackedMetadataRecord&) -> ErrorCode {
    ++*static_cast<int*>(c);
    return kOk;
  };
  EXPECT_EQ(packed_metadata_walk(area.data(), 160, count, &seen), kOk);
  EXPECT_EQ(seen, 2);
  packed_put32(area.data() + 64 + 4, 100);  // runs past the area
  EXPECT_EQ(packed_metadata_walk(area.data(), 160, count, &seen), kErrorBadFormat);
  EXPECT_EQ(packed_metadata_walk(area.data(), 72, count, &seen), kErrorBadFormat);
}

TEST(PackedFormat, LocatorRecord) {
  uint8_t id[16] = {1, 2, 3};
  uint8_t rec[kPackedLocatorSize];
  packed_locator_encode(id, 448, rec);
  uint64_t distance = 0;
  EXPECT_TRUE(packed_locator_decode(rec, id, &distance));
  EXPECT_EQ(distance, 448u);
  uint8_t other[16] = {9};
  EXPECT_FALSE(packed_locator_decode(rec, other, &distance));
  rec[40] ^= 1;
  EXPECT_FALSE(packed_locator_decode(rec, id, &distance));
}

// ---- carriers ----------------------------------------------------------------------

CarrierInfo scan(const std::vector<uint8_t>& b) {
  CarrierInfo info;
  packed_carrier_scan(b.data(), b.size(), b.size(), nullptr, nullptr, &info);
  return info;
}

TEST(PackedCarrier, PeRules) {
  test::PeOptions base;
  base.sections = 3;
  EXPECT_EQ(scan(test::build_pe(base)).kind, CarrierKind::kPe);
  EXPECT_EQ(scan(test::build_pe(base)).carrier_end, 512u + 3 * 512);
  test::PeOptions plus = base;
  plus.pe32plus = true;
  EXPECT_EQ(scan(test::build_pe(plus)).kind, CarrierKind::kPe);

  struct Case {
    const char* name;
    void (*change)(test::PeOptions&);
  } refused[] = {
      {"file alignment 2", [](test::PeOptions& o) { o.file_alignment = 2; }},
      {"file alignment 32768", [](test::PeOptions& o) { o.file_alignment = 32768; }},
      {"section alignment 3000", [](test::PeOptions& o) { o.section_alignment = 3000; }},
      {"optional header 220", [](test::PeOptions& o) { o.optional_size = 220; }},
      {"optional header 226", [](test::PeOptions& o) { o.optional_size = 226; }},
      {"PE32+ optional header 232", [](test::PeOptions& o) { o.pe32plus = true, o.optional_size = 232; }},
      {"15 data directories", [](test::PeOptions& o) { o.rva_count = 15; }},
      {"no sections", [](test::PeOptions& o) { o.sections = 0; }},
  };
  for (const Case& c : refused) {
    test::PeOptions o = base;
    c.change(o);
    EXPECT_EQ(scan(test::build_pe(o)).kind, CarrierKind::kNone) << c.name;
  }
  std::vector<uint8_t> odd = test::build_pe(base);
  odd[60] = 66;  // PE header offset not a multiple of 4
  EXPECT_EQ(scan(odd).kind, CarrierKind::kNone);
  std::vector<uint8_t> huge = test::build_pe(base);
  packed_put32(&huge[64 + 24 + 224 + 20], 0xFFFFFF00u);  // raw pointer + size past 32 bits
  EXPECT_EQ(scan(huge).kind, CarrierKind::kNone);
}

TEST(PackedCarrier, CertificateTableAndSecondaryPosition) {
  std::vector<uint8_t> pe = test::build_pe();
  pe.resize(1000, 0);  // an overlay ending at no multiple of 8
  uint32_t offset = test::append_certificate(pe, 1001);
  CarrierInfo info = scan(pe);
  EXPECT_EQ(info.cert_start, offset);
  EXPECT_EQ(info.secondary, packed_round_up(offset + 1001, 8) + 8);
  // A first entry of length 0 is no table.
  std::vector<uint8_t> empty = pe;
  packed_put32(&empty[offset], 0);
  EXPECT_EQ(scan(empty).cert_start, 0u);
  // A table read through the reader callback, beyond the bytes given.
  struct Ctx {
    const std::vector<uint8_t>* b;
  } ctx{&pe};
  CarrierInfo far;
  packed_carrier_scan(
      pe.data(), 1024, pe.size(),
      [](void* c, uint64_t off, uint8_t* out, uint32_t n) {
        auto* b = static_cast<Ctx*>(c)->b;
        if (off + n > b->size()) return false;
        memcpy(out, b->data() + off, n);
        return true;
      },
      &ctx, &far);
  EXPECT_EQ(far.cert_start, offset);
}

TEST(PackedCarrier, CabinetStubRules) {
  uint8_t stub[kCabinetStubSize];
  packed_cabinet_stub_encode(stub);
  std::vector<uint8_t> cab(stub, stub + sizeof stub);
  cab.resize(1024, 0);
  CarrierInfo info = scan(cab);
  EXPECT_EQ(info.kind, CarrierKind::kCabinet);
  EXPECT_EQ(info.carrier_end, 192u);
  EXPECT_EQ(info.cert_start, 0u);
  std::vector<uint8_t> signed_cab = cab;
  packed_put32(&signed_cab[44], 500);
  packed_put32(&signed_cab[48], 100);
  info = scan(signed_cab);
  EXPECT_EQ(info.cert_start, 500u);
  EXPECT_EQ(info.secondary, 632u);
  std::vector<uint8_t> bad = cab;
  packed_put32(&bad[44], 100);  // signature inside the stub
  EXPECT_EQ(scan(bad).kind, CarrierKind::kNone);
  bad = cab;
  packed_put32(&bad[184], 600);  // secondary without a signature
  EXPECT_EQ(scan(bad).kind, CarrierKind::kNone);
  bad = cab;
  bad[180] = 'X';
  EXPECT_EQ(scan(bad).kind, CarrierKind::kNone);
  cab.resize(191);
  EXPECT_EQ(scan(cab).kind, CarrierKind::kNone);
}

}  // namespace
}  // namespace sm
