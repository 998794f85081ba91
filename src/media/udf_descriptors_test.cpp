#include "media/udf_descriptors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "media/calendar.h"
#include "support/udf_image_builder.h"

namespace sm {
namespace {

using test::UdfImageBuilder;

class BufferSource : public UdfSectorSource {
 public:
  explicit BufferSource(const std::vector<uint8_t>& image) : image_(image) {}
  ErrorCode read(uint64_t offset, void* buffer, uint32_t length) override {
    if (offset > image_.size() || image_.size() - offset < length) return kErrorEndOfFile;
    std::memcpy(buffer, image_.data() + offset, length);
    return kOk;
  }

 private:
  const std::vector<uint8_t>& image_;
};

void set_checksum(uint8_t* tag) {
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i) {
    if (i != 4) sum = static_cast<uint8_t>(sum + tag[i]);
  }
  tag[4] = sum;
}

uint64_t file_time(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s,
                   uint16_t ms = 0) {
  uint64_t t = CalendarToFileTime({y, mo, d, h, mi, s, ms});
  EXPECT_NE(t, 0u);
  return t;
}


TEST(UdfDescriptors, TagCheckUsesIdentifierAndChecksumOnly) {
  uint8_t tag[16] = {0x01, 0x01, 0x02, 0x00, 0, 0, 0x05, 0x00, 0xAA, 0xBB, 0x10, 0, 9, 9, 9, 9};
  set_checksum(tag);
  EXPECT_TRUE(udf_tag_valid(tag));  // CRC and location are nonsense and do not matter
  EXPECT_EQ(udf_tag_id(tag), 0x101);
  tag[4] ^= 1;
  EXPECT_FALSE(udf_tag_valid(tag));
  uint8_t zero[16] = {};
  EXPECT_FALSE(udf_tag_valid(zero));  // identifier 0, even with a matching sum
}

TEST(UdfDescriptors, TimestampsBecomeUtc) {
  struct Case {
    uint16_t type_and_zone;
    uint8_t centiseconds, hundreds_of_microseconds;
    uint64_t expected;
  } cases[] = {
      {0x1000 | 60, 0, 0, file_time(2021, 3, 4, 4, 6, 7)},                  // UTC+1
      {0x1000 | (0x1000 - 120), 0, 0, file_time(2021, 3, 4, 7, 6, 7)},      // UTC-2
      {0x1000 | 0x801, 0, 0, file_time(2021, 3, 4, 5, 6, 7)},               // zone not given
      {0x2000 | 60, 0, 0, file_time(2021, 3, 4, 5, 6, 7)},                  // not local time
      {0x1000, 89, 57, file_time(2021, 3, 4, 5, 6, 7, 895)},                // milliseconds
      {0x1000, 100, 0, 0},                                                  // rejected
  };
  for (const Case& c : cases) {
    uint8_t ts[12] = {0, 0, 0xE5, 0x07, 3, 4, 5, 6, 7, c.centiseconds, c.hundreds_of_microseconds, 0};
    ts[0] = static_cast<uint8_t>(c.type_and_zone);
    ts[1] = static_cast<uint8_t>(c.type_and_zone >> 8);
    EXPECT_EQ(udf_file_time(ts), c.expected) << std::hex << c.type_and_zone;
  }
  uint8_t zero[12] = {};
  EXPECT_EQ(udf_file_time(zero), 0u);
  // A zone ahead of UTC on the first day the calendar knows cannot go below 0.
  uint8_t first[12] = {60, 0x10, 0x41, 0x06, 1, 1, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(udf_file_time(first), 0u);
}

std::u16string dstring(const std::vector<uint8_t>& field, std::u16string before = u"old",
                       UdfCodePageDecoder code_page = nullptr) {
  char16_t label[kUdfLabelCapacity] = {};
  std::memcpy(label, before.c_str(), (before.size() + 1) * 2);
  udf_decode_dstring(field.data(), field.size(), label, code_page);
  return label;
}

std::vector<uint8_t> field(std::vector<uint8_t> bytes, size_t size) {
  uint8_t used = static_cast<uint8_t>(bytes.size());
  bytes.resize(size);
  bytes[size - 1] = used;
  return bytes;
}

size_t upper_code_page(char16_t* out, size_t capacity, const char* in, size_t length) {
  size_t n = 0;
  for (; n < length && n + 1 < capacity; ++n) out[n] = static_cast<char16_t>(in[n] - 'a' + 'A');
  out[n] = 0;
  return n;
}

TEST(UdfDescriptors, DstringsDecodeByCompression) {
  EXPECT_EQ(dstring(field({8, 'L', 0xE9, 'a', ' ', ' '}, 32)), u"L\u00e9a");
  EXPECT_EQ(dstring(field({16, 0x04, 0x1F, 0x00, 'x'}, 32)), u"\u041fx");
  EXPECT_EQ(dstring(std::vector<uint8_t>(32, 0)), u"old");  // used length 0: unchanged
  EXPECT_EQ(dstring(field({8, ' '}, 32)), u"");             // only spaces: empty
  EXPECT_EQ(dstring(field({'a', 'b', 'c'}, 32), u"", upper_code_page), u"ABC");
  std::vector<uint8_t> long_name(128, 'n');
  long_name[0] = 8;
  long_name[127] = 127;
  EXPECT_EQ(dstring(long_name).size(), 49u);
  std::vector<uint8_t> overlong = field({8, 'a', 'b'}, 8);
  overlong[7] = 200;  // a used length past the field is cut to the field
  EXPECT_EQ(dstring(overlong), u"ab");
}

std::string name(const std::vector<uint8_t>& id) {
  char out[kUdfNameCapacity];
  size_t n = udf_decode_name(id.data(), id.size(), out);
  EXPECT_EQ(n, std::strlen(out));
  return out;
}

TEST(UdfDescriptors, NamesDecodeToUtf8) {
  EXPECT_EQ(name({8, 'c', 'a', 'f', 0xE9}), "caf\xC3\xA9");
  EXPECT_EQ(name({16, 0x00, 'a', 0xD8, 0x3D, 0xDE, 0x00, 0x20, 0xAC}), "a\xF0\x9F\x98\x80\xE2\x82\xAC");
  EXPECT_EQ(name({16, 0xD8, 0x3D, 0x00, 'b'}), "\xEF\xBF\xBD" "b");  // lone surrogate
  EXPECT_EQ(name({16, 0x00, 'a', 0x00}), "a");                   // odd trailing byte
  EXPECT_EQ(name({'r', 'a', 'w', 0xFF}), "raw\xFF");             // unknown compression: bytes
  EXPECT_EQ(name({8}), "");
  std::vector<uint8_t> wide{16};
  for (int i = 0; i < 127; ++i) wide.insert(wide.end(), {0x20, 0xAC});  // 3 UTF-8 bytes each
  EXPECT_EQ(name(wide).size(), 381u);
  std::vector<uint8_t> latin(255, 0xE9);
  latin[0] = 8;
  std::string decoded = name(latin);  // 254 two-byte characters
  EXPECT_EQ(decoded.size(), 508u);
}

TEST(UdfDescriptors, NamesStopAt999Bytes) {
  // Longer than any identifier, to reach the cap on whole characters.
  std::vector<uint8_t> id{16};
  for (int i = 0; i < 400; ++i) id.insert(id.end(), {0x20, 0xAC});
  EXPECT_EQ(name(id).size(), 999u);
  id[1] = 0x00, id[2] = 'a';  // 1 + 332 × 3 = 997; the next euro sign does not fit
  EXPECT_EQ(name(id).size(), 997u);
}

struct Found {
  ErrorCode error;
  uint32_t sector;
};

Found anchor_of(const std::vector<uint8_t>& image) {
  BufferSource source(image);
  uint8_t buffer[512];
  uint32_t sector = 0, length = 0;
  ErrorCode error = udf_find_anchor(source, static_cast<uint32_t>(image.size() / 2048), buffer,
                                    &sector, &length);
  EXPECT_TRUE(error != kOk || length == 16 * 2048u);
  return {error, sector};
}

TEST(UdfDescriptors, AnchorIsSoughtAt256ThenAtTheEnd) {
  UdfImageBuilder::Options both, end_only, none;
  end_only.anchor_at_256 = false;
  none.anchor_at_256 = false;
  none.anchor_at_end = false;
  EXPECT_EQ(anchor_of(UdfImageBuilder(both).build()).sector, 32u);
  std::vector<uint8_t> image = UdfImageBuilder(end_only).build();
  ASSERT_LT(image.size(), 256u * 2048);  // sector 256 cannot be read
  EXPECT_EQ(anchor_of(image).error, kOk);
  EXPECT_EQ(anchor_of(UdfImageBuilder(none).build()).error, kErrorBadFormat);

  // Only at N − 257: the anchor at the end moves 256 sectors back.
  image = UdfImageBuilder(end_only).build();
  image.resize(image.size() + 256 * 2048);
  EXPECT_EQ(anchor_of(image).error, kOk);
  std::vector<uint8_t> short_image(4096);
  EXPECT_NE(anchor_of(short_image).error, kOk);
}

UdfVolumeLayout layout_of(const std::vector<uint8_t>& image) {
  BufferSource source(image);
  UdfVolumeLayout layout{};
  uint8_t buffer[2048];
  uint32_t sector = 0, length = 0;
  EXPECT_EQ(udf_find_anchor(source, static_cast<uint32_t>(image.size() / 2048), buffer, &sector,
                            &length),
            kOk);
  udf_read_volume_sequence(source, sector, length, buffer, &layout, nullptr);
  return layout;
}

TEST(UdfDescriptors, VolumeSequenceGivesPartitionsMapsAndFileSet) {
  for (bool split : {false, true}) {
    UdfImageBuilder::Options options;
    options.split_sequence = split;
    options.volume_label = "Vol";
    UdfVolumeLayout layout = layout_of(UdfImageBuilder(options).build());
    EXPECT_TRUE(layout.has_logical_volume);
    ASSERT_EQ(layout.partition_count, 1u);
    EXPECT_EQ(layout.partition_starts[0], 257u);
    ASSERT_EQ(layout.map_count, 1u);
    EXPECT_EQ(layout.maps[0].kind, 1);
    EXPECT_EQ(udf_map_start_sector(layout, 0), 257u);
    EXPECT_EQ(layout.file_set_block, 0u);
    EXPECT_EQ(std::u16string(layout.label), u"Vol");
    EXPECT_EQ(layout.time, file_time(2019, 6, 7, 8, 9, 10));
  }

  UdfImageBuilder::Options metadata;
  metadata.metadata_partition = true;
  UdfVolumeLayout layout = layout_of(UdfImageBuilder(metadata).build());
  ASSERT_EQ(layout.map_count, 2u);
  EXPECT_EQ(layout.maps[1].kind, 2);
  EXPECT_EQ(layout.maps[1].partition_number, 0);
  EXPECT_EQ(layout.maps[1].metadata_location, 0u);
  EXPECT_EQ(udf_map_start_sector(layout, 1), 257u);
  EXPECT_EQ(layout.file_set_partition, 1);

  UdfImageBuilder::Options oversized;
  oversized.oversized_map_table = true;
  oversized.volume_label = "Big";
  layout = layout_of(UdfImageBuilder(oversized).build());
  EXPECT_FALSE(layout.has_logical_volume);
  EXPECT_EQ(std::u16string(layout.label), u"Big");  // the label is taken all the same
}

TEST(UdfDescriptors, SequenceEndsAtABadTagAndSurvivesPointerLoops) {
  UdfImageBuilder::Options options;
  options.split_sequence = true;
  std::vector<uint8_t> image = UdfImageBuilder(options).build();
  std::vector<uint8_t> broken = image;
  broken[48 * 2048 + 4] ^= 1;  // the partition descriptor after the pointer
  UdfVolumeLayout layout = layout_of(broken);
  EXPECT_EQ(layout.partition_count, 0u);
  EXPECT_FALSE(layout.has_logical_volume);
  EXPECT_EQ(std::u16string(layout.label), u"UDFTEST");  // the primary descriptor before it

  uint8_t* pointer = image.data() + 33 * 2048;
  pointer[24] = 32;  // points back at the start of the sequence
  set_checksum(pointer);
  layout = layout_of(image);
  EXPECT_EQ(layout.partition_count, 0u);
}

TEST(UdfDescriptors, PartitionMapsEndAtTheFirstOneNotUnderstood) {
  auto lvd = [](std::vector<std::vector<uint8_t>> maps, uint32_t block_size = 2048) {
    std::vector<uint8_t> d(2048);
    d[0] = 6;
    uint32_t at = 440;
    for (const auto& m : maps) {
      std::memcpy(d.data() + at, m.data(), m.size());
      at += static_cast<uint32_t>(m.size());
    }
    uint32_t table = at - 440, count = static_cast<uint32_t>(maps.size());
    std::memcpy(d.data() + 264, &table, 4);
    std::memcpy(d.data() + 268, &count, 4);
    std::memcpy(d.data() + 212, &block_size, 4);
    d[252] = 7;
    d[256] = 1;
    return d;
  };
  auto type2 = [](const char* identifier, uint8_t length = 64) {
    std::vector<uint8_t> m(length);
    m[0] = 2, m[1] = length;
    std::memcpy(m.data() + 5, identifier, std::strlen(identifier));
    m[38] = 3;
    m[40] = 9;
    return m;
  };
  std::vector<uint8_t> physical{1, 6, 1, 0, 5, 0};
  struct Case {
    std::vector<uint8_t> lvd;
    bool used;
    std::vector<uint8_t> kinds;
  } cases[] = {
      {lvd({physical, type2("*UDF Metadata Partition")}), true, {1, 2}},
      {lvd({physical, type2("*UDF Virtual Partition")}), true, {1, 1}},
      {lvd({physical, type2("*UDF Sparable Partition")}), true, {1}},
      {lvd({physical, type2("*UDF Metadata Partition", 62)}), true, {1}},
      {lvd({{1, 7, 0, 0, 0, 0, 0}}), true, {}},              // odd length
      {lvd({{1, 8, 0, 0, 0, 0}}), true, {}},                 // runs past the table
      {lvd({{3, 6, 0, 0, 0, 0}, physical}), true, {}},       // unknown type
      {lvd({physical}, 4096), false, {}},                    // block size
      {lvd({physical, type2("*UDF Virtual Partition"), physical}), false, {}},  // 76 bytes
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    UdfVolumeLayout layout{};
    layout.map_count = 4;  // maps of an earlier descriptor are dropped
    udf_apply_logical_volume(cases[i].lvd.data(), &layout, nullptr);
    EXPECT_EQ(layout.has_logical_volume, cases[i].used) << i;
    if (!cases[i].used) continue;
    EXPECT_EQ(layout.file_set_block, 7u);
    EXPECT_EQ(layout.file_set_partition, 1);
    ASSERT_EQ(layout.map_count, cases[i].kinds.size()) << i;
    for (size_t k = 0; k < cases[i].kinds.size(); ++k) EXPECT_EQ(layout.maps[k].kind, cases[i].kinds[k]);
    if (cases[i].kinds.size() == 2) {
      EXPECT_EQ(layout.maps[0].partition_number, 5);
      EXPECT_EQ(layout.maps[1].partition_number, 3);
      EXPECT_EQ(layout.maps[1].metadata_location, cases[i].kinds[1] == 2 ? 9u : 0u);
    }
  }
}

TEST(UdfDescriptors, BlockMappingFallsBackToTheFirstMap) {
  uint32_t starts[2] = {100, 500};
  EXPECT_EQ(udf_map_block(starts, 2, 1, 3), 503u);
  EXPECT_EQ(udf_map_block(starts, 2, 7, 3), 103u);
  EXPECT_EQ(udf_map_block(starts, 0, 0, 3), 3u);
  EXPECT_EQ(udf_map_block(starts, 0, 4, 3), 3u);
  starts[0] = 0xFFFFFFF0u;
  EXPECT_EQ(udf_map_block(starts, 2, 0, 0x20), 0xFFFFFFFFu);
}

TEST(UdfDescriptors, AllocationDescriptorsOfEachSize) {
  uint8_t area[64] = {};
  auto put = [&](size_t at, uint32_t v) { std::memcpy(area + at, &v, 4); };
  put(0, 0x40000000u | 5000);  // short: allocated, 5000 bytes at block 9
  put(4, 9);
  put(8, 0xC0000000u | 2048);  // short: next extent
  put(12, 44);
  UdfAllocation a{};
  uint32_t position = 0;
  ASSERT_TRUE(udf_next_allocation(area, 16, &position, 0, 3, &a));
  EXPECT_EQ(a.type, 1);
  EXPECT_EQ(a.length, 5000u);
  EXPECT_EQ(a.block, 9u);
  EXPECT_EQ(a.partition, 3);
  ASSERT_TRUE(udf_next_allocation(area, 16, &position, 0, 3, &a));
  EXPECT_EQ(a.type, 3);
  EXPECT_FALSE(udf_next_allocation(area, 16, &position, 0, 3, &a));  // end of the area
  EXPECT_FALSE(udf_next_allocation(area, 15, &(position = 8), 0, 3, &a));  // partial

  std::memset(area, 0, sizeof area);
  put(0, 100), put(4, 12), area[8] = 2;  // long
  position = 0;
  ASSERT_TRUE(udf_next_allocation(area, 64, &position, 1, 0, &a));
  EXPECT_EQ(a.block, 12u);
  EXPECT_EQ(a.partition, 2);
  EXPECT_EQ(position, 16u);
  EXPECT_FALSE(udf_next_allocation(area, 64, &position, 1, 0, &a));  // length 0 ends the list

  std::memset(area, 0, sizeof area);
  put(0, 100), put(12, 77), area[16] = 1;  // extended
  position = 0;
  ASSERT_TRUE(udf_next_allocation(area, 64, &position, 2, 0, &a));
  EXPECT_EQ(a.block, 77u);
  EXPECT_EQ(a.partition, 1);
  EXPECT_EQ(position, 20u);
  EXPECT_FALSE(udf_next_allocation(area, 64, &(position = 0), 3, 0, &a));
}

TEST(UdfDescriptors, ExtendedAttributesGiveTheCreationTime) {
  std::vector<uint8_t> area(128);
  auto put = [&](size_t at, uint32_t v) { std::memcpy(area.data() + at, &v, 4); };
  put(0, 1), put(8, 4);              // length below 12: next 12 bytes
  put(12, 2048), put(20, 20);        // another attribute, skipped by its length
  put(32, 5), area[36] = 1, put(40, 32), put(44, 12), put(48, 1);  // file times
  uint8_t ts[12] = {0, 0x10, 0xE4, 0x07, 1, 2, 3, 4, 5, 0, 0, 0};
  std::memcpy(area.data() + 52, ts, 12);
  uint64_t creation = 0;
  EXPECT_TRUE(udf_read_extended_attributes(area.data(), 64, &creation));
  EXPECT_EQ(creation, file_time(2020, 1, 2, 3, 4, 5));
  EXPECT_FALSE(udf_read_extended_attributes(area.data(), 63, &creation));  // cut short
  put(48, 2);  // no creation time recorded
  EXPECT_FALSE(udf_read_extended_attributes(area.data(), 64, &creation));
  put(48, 1), put(40, 0xFFFFFFF0u);  // a length far past the area still reads this one
  EXPECT_TRUE(udf_read_extended_attributes(area.data(), 64, &creation));
}

TEST(UdfDescriptors, FileEntryFields) {
  struct Case {
    bool extended;
    uint8_t file_type;
    uint16_t flags;
    uint32_t ea_length, ad_length;
    uint8_t kind, attributes;
    uint32_t ad_offset, ad_size, ea_size;
  } cases[] = {
      {false, 5, 0x0001, 0, 16, 1, 0, 176, 16, 0},
      {true, 4, 0x0020, 0, 8, 2, 0x20, 216, 8, 0},
      {false, 12, 0x0400, 0, 8, 1, 0x06, 176, 8, 0},
      {false, 250, 0, 0, 8, 1, 0x06, 176, 8, 0},
      {false, 7, 0, 0, 8, 1, 0x06, 0, 0, 0},            // special file: no data
      {false, 5, 3, 40, 100, 1, 0, 216, 100, 40},       // EAs before embedded data
      {false, 5, 3, 0, 1872, 1, 0, 176, 1872, 0},       // fills the sector exactly
      {false, 5, 3, 0, 1873, 1, 0, 0, 0, 0},            // one byte too many
      {true, 5, 0, 2048, 8, 1, 0, 0, 0, 0},             // EA area as large as the sector
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::vector<uint8_t> d(2048);
    d[0] = c.extended ? 10 : 5;
    d[1] = 1;
    d[27] = c.file_type;
    std::memcpy(d.data() + 34, &c.flags, 2);
    std::memcpy(d.data() + (c.extended ? 208 : 168), &c.ea_length, 4);
    std::memcpy(d.data() + (c.extended ? 212 : 172), &c.ad_length, 4);
    UdfFileEntry e{};
    udf_parse_file_entry(d.data(), &e);
    EXPECT_EQ(e.kind, c.kind) << i;
    EXPECT_EQ(e.attributes, c.attributes) << i;
    EXPECT_EQ(e.ad_type, c.flags & 7) << i;
    EXPECT_EQ(e.ad_offset, c.ad_offset) << i;
    EXPECT_EQ(e.ad_length, c.ad_size) << i;
    EXPECT_EQ(e.ea_length, c.ea_size) << i;
  }

  // An extended attribute header descriptor is passed over; the EA ICB's type
  // bits are dropped.
  std::vector<uint8_t> d(2048);
  d[0] = 5, d[1] = 1, d[27] = 5;
  uint32_t ea_length = 56, icb_length = 0x80000800u;
  std::memcpy(d.data() + 168, &ea_length, 4);
  std::memcpy(d.data() + 112, &icb_length, 4);
  d[176] = 6, d[177] = 1;
  set_checksum(d.data() + 176);
  uint8_t ts[12] = {60, 0x10, 0xE5, 0x07, 3, 4, 5, 6, 7, 0, 0, 0};
  std::memcpy(d.data() + 84, ts, 12);
  UdfFileEntry e{};
  udf_parse_file_entry(d.data(), &e);
  EXPECT_EQ(e.ea_offset, 200u);
  EXPECT_EQ(e.ea_length, 32u);
  EXPECT_EQ(e.ea_icb.length, 0x800u);
  EXPECT_EQ(e.write_time, file_time(2021, 3, 4, 4, 6, 7));
  EXPECT_EQ(e.creation_time, 0u);
}

TEST(UdfDescriptors, FileIdentifierHead) {
  uint8_t head[38] = {1, 1, 2, 0};
  head[18] = 0x0A, head[19] = 12;
  uint32_t icb = 0x40000800u, block = 33;
  std::memcpy(head + 20, &icb, 4);
  std::memcpy(head + 24, &block, 4);
  head[28] = 1, head[36] = 4;
  set_checksum(head);
  UdfFileIdentifier f{};
  ASSERT_EQ(udf_parse_file_identifier(head, &f), kOk);
  EXPECT_EQ(f.characteristics, 0x0A);
  EXPECT_EQ(f.name_length, 12);
  EXPECT_EQ(f.icb_length, 0x800u);
  EXPECT_EQ(f.icb_block, 33u);
  EXPECT_EQ(f.icb_partition, 1);
  EXPECT_EQ(f.implementation_length, 4);
  head[0] = 5;
  set_checksum(head);
  EXPECT_EQ(udf_parse_file_identifier(head, &f), kErrorNoMoreFiles);
  head[4] ^= 1;
  EXPECT_EQ(udf_parse_file_identifier(head, &f), kErrorBadFormat);
}

}  // namespace
}  // namespace sm
