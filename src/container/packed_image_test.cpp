#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "container/packed_test_util.h"
#include "support/pe_builder.h"
#include "support/temp_folder.h"

namespace sm {
namespace {

using test::DeviceHolder;
using test::Files;
using test::TempFolder;

using test::open_image;

ErrorCode probe_only(const std::filesystem::path& path) {
  DeviceHolder holder;
  std::u16string p = test::system_path(path);
  FileHandle h = kInvalidFileHandle;
  ErrorCode e = packed_files::open(p.c_str(), packed_files::kReadShared, &h);
  if (e != kOk) return e;
  std::vector<uint8_t> header(0x10000);
  uint32_t got = 0;
  packed_files::read_at(h, 0, header.data(), uint32_t(header.size()), &got);
  e = packed_image_probe(&holder.device, p.c_str(), h, header.data(), got);
  packed_files::close(h);
  return e;
}

// A disc image with every kind of block: text-like (compresses), random (stays
// raw), zeros (stored as nothing), and a short last block.
std::vector<uint8_t> sample_image(uint32_t sectors = 45) {
  std::vector<uint8_t> image(size_t(sectors) * 2048);
  std::mt19937 rng(7);
  for (size_t i = 0; i < image.size(); ++i) {
    size_t sector = i / 2048;
    if (sector >= 8 && sector < 16) image[i] = 0;                 // one zero block at 16 KiB blocks
    else if (sector >= 16 && sector < 24) image[i] = uint8_t(rng());  // incompressible
    else image[i] = uint8_t("selfmount packed image "[i % 23] + (i / 4096) % 3);
  }
  return image;
}

packer::Options options(uint8_t compression, uint8_t digest, uint32_t block_size = 16384) {
  packer::Options o;
  o.block_size = block_size;
  o.compression = compression;
  o.digest = digest;
  o.lzma_level = 1;
  for (int i = 0; i < 16; ++i) {
    o.image_id[i] = uint8_t(0x10 + i);
    o.set_id[i] = uint8_t(0x80 + i);
  }
  o.threads = 2;
  return o;
}

void expect_reads_back(SectorDevice* d, const std::vector<uint8_t>& image) {
  ASSERT_EQ(d->total_size(), image.size());
  EXPECT_EQ(d->sector_size(), 2048u);
  EXPECT_EQ(d->session_count(), 0u);
  // Odd-sized reads straddle blocks and parts.
  std::vector<uint8_t> back(image.size());
  for (size_t at = 0; at < image.size(); at += 5000) {
    uint32_t n = uint32_t(std::min<size_t>(5000, image.size() - at));
    ASSERT_EQ(d->read(at, back.data() + at, n), kOk) << "at " << at;
  }
  EXPECT_TRUE(back == image);
  // The verification pass reads with no buffer; a read after it decodes.
  EXPECT_EQ(d->read(0, nullptr, uint32_t(image.size())), kOk);
  std::vector<uint8_t> again(image.size());
  EXPECT_EQ(d->read(0, again.data(), uint32_t(image.size())), kOk);
  EXPECT_TRUE(again == image);
  // Past the end: zeros and success.
  std::vector<uint8_t> tail(4096, 0xEE);
  EXPECT_EQ(d->read(image.size() - 2048, tail.data(), 4096), kOk);
  EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 2048, image.end() - 2048));
  EXPECT_TRUE(std::all_of(tail.begin() + 2048, tail.end(), [](uint8_t b) { return b == 0; }));
  std::fill(tail.begin(), tail.end(), 0xEE);
  EXPECT_EQ(d->read(image.size() + 100000, tail.data(), 4096), kOk);
  EXPECT_TRUE(std::all_of(tail.begin(), tail.end(), [](uint8_t b) { return b == 0; }));
  // close_files between reads: the next read reopens the parts.
  d->close_files();
  std::vector<uint8_t> some(3000);
  EXPECT_EQ(d->read(40000, some.data(), 3000), kOk);
  EXPECT_TRUE(std::equal(some.begin(), some.end(), image.begin() + 40000));
}

// Part size that splits a data stream into three parts.
uint64_t three_part_size(const std::vector<uint8_t>& image, packer::Options o) {
  o.part_size = 0;
  Files single = test::pack(image, o);
  uint64_t stream = single[0].size() - kPackedHeaderSize - kPackedTrailerSize -
                    (o.stub.empty() ? 0 : packed_round_up(o.stub.size(), 32));
  uint64_t prefix = o.stub.empty() ? 0 : std::max<uint64_t>(kCabinetStubSize, packed_round_up(o.stub.size(), 32));
  return stream / 3 + 64 + prefix + kPackedHeaderSize + kPackedTrailerSize;
}

enum class Layout { kStandalone, kStub, kThreeParts, kStubThreeParts };

struct RoundTripCase {
  uint8_t compression;
  uint8_t digest;
  Layout layout;
};

class PackedRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(PackedRoundTrip, ReadsBackByteForByte) {
  const RoundTripCase c = GetParam();
  std::vector<uint8_t> image = sample_image();
  packer::Options o = options(c.compression, c.digest);
  if (c.layout == Layout::kStub || c.layout == Layout::kStubThreeParts) o.stub = test::build_pe();
  if (c.layout == Layout::kThreeParts || c.layout == Layout::kStubThreeParts) o.part_size = three_part_size(image, o);
  Files files = test::pack(image, o);
  if (o.part_size != 0) {
    ASSERT_EQ(files.size(), 3u);
  }
  TempFolder folder;
  auto first = folder.path() / (o.stub.empty() ? "media.img" : "media.exe");
  test::write_files(first, files);
  DeviceHolder d;
  ASSERT_EQ(open_image(first, d), kOk);
  expect_reads_back(d.device, image);
}

std::vector<RoundTripCase> all_round_trips() {
  std::vector<RoundTripCase> cases;
  for (uint8_t c : {kPackedCompressionNone, kPackedCompressionDeflate, kPackedCompressionLzma}) {
    for (uint8_t g : {kPackedDigestNone, kPackedDigestCrc32, kPackedDigestSha256}) {
      for (Layout l : {Layout::kStandalone, Layout::kStub, Layout::kThreeParts, Layout::kStubThreeParts}) {
        cases.push_back({c, g, l});
      }
    }
  }
  return cases;
}
INSTANTIATE_TEST_SUITE_P(All, PackedRoundTrip, testing::ValuesIn(all_round_trips()));

// ---- signed executables ------------------------------------------------------------

class PackedSigned : public testing::Test {
 protected:
  // A media .exe in three parts whose executable then gets a certificate table.
  ErrorCode open_signed(uint8_t digest, bool carrier_parts, DeviceHolder& d) {
    packer::Options o = options(kPackedCompressionLzma, digest);
    o.stub = test::build_pe();
    o.carrier_parts = carrier_parts;
    o.part_size = three_part_size(image_, o);
    Files files = test::pack(image_, o);
    EXPECT_EQ(files.size(), 3u);
    exe_size_ = files[0].size();
    test::append_certificate(files[0]);
    first_ = folder_.path() / "media.exe";
    test::write_files(first_, files);
    return open_image(first_, d);
  }
  std::vector<uint8_t> image_ = sample_image();
  TempFolder folder_;
  std::filesystem::path first_;
  size_t exe_size_ = 0;
};

TEST_F(PackedSigned, SplitAndSignedWithSha256LoadsAndReadsBack) {
  DeviceHolder d;
  ASSERT_EQ(open_signed(kPackedDigestSha256, true, d), kOk);
  expect_reads_back(d.device, image_);
}

TEST_F(PackedSigned, SplitAndSignedWithCrc32IsRefused) {
  DeviceHolder d;
  EXPECT_EQ(open_signed(kPackedDigestCrc32, true, d), kErrorBadFormat);
}

TEST_F(PackedSigned, PlainPartFilesArePassedOverBesideASignedExecutable) {
  DeviceHolder d;
  ASSERT_EQ(open_signed(kPackedDigestSha256, false, d), kOk);
  std::vector<uint8_t> buffer(2048);
  EXPECT_EQ(d->read(0, buffer.data(), 2048), kErrorEndOfFile);
}

TEST_F(PackedSigned, SignedExecutableWithoutTrailerIsRefused) {
  // The signature must follow the trailer directly; a gap hides the trailer.
  packer::Options o = options(kPackedCompressionLzma, kPackedDigestSha256);
  o.stub = test::build_pe();
  Files files = test::pack(image_, o);
  files[0].resize(files[0].size() + 64, 0);
  test::append_certificate(files[0]);
  first_ = folder_.path() / "media.exe";
  test::write_files(first_, files);
  DeviceHolder d;
  EXPECT_EQ(open_image(first_, d), kErrorBadFormat);
}

// ---- part search -------------------------------------------------------------------

class PackedParts : public testing::Test {
 protected:
  void SetUp() override {
    o_ = options(kPackedCompressionNone, kPackedDigestNone);
    o_.part_size = three_part_size(image_, o_);
    files_ = test::pack(image_, o_);
    ASSERT_EQ(files_.size(), 3u);
    first_ = folder_.path() / "disc.img";
  }
  // Image bytes held by part k (no compression: the data stream is the image).
  std::pair<uint64_t, uint64_t> range(uint32_t k) {
    uint64_t start = 0;
    for (uint32_t i = 0; i < k; ++i) start += files_[i].size() - kPackedHeaderSize;
    return {start, start + files_[k].size() - kPackedHeaderSize};
  }
  std::vector<uint8_t> image_ = sample_image();
  packer::Options o_;
  Files files_;
  TempFolder folder_;
  std::filesystem::path first_;
};

TEST_F(PackedParts, OrderComesFromThePartIndexNotTheName) {
  test::write_bytes(first_, files_[0]);
  test::write_bytes(first_.string() + ".AAA", files_[2]);
  test::write_bytes(first_.string() + ".zzz", files_[1]);
  // Strays that match the pattern: another image, and no image at all.
  packer::Options other = o_;
  other.image_id[0] ^= 1;
  other.part_size = 0;
  test::write_bytes(first_.string() + ".bak", test::pack(image_, other)[0]);
  test::write_bytes(first_.string() + ".txt", std::vector<uint8_t>(4096, 'x'));
  std::filesystem::create_directory(first_.string() + ".dir");
  DeviceHolder d;
  ASSERT_EQ(open_image(first_, d), kOk);
  expect_reads_back(d.device, image_);
}

TEST_F(PackedParts, MissingMiddlePartFailsOnlyReadsInsideIt) {
  test::write_bytes(first_, files_[0]);
  test::write_bytes(first_.string() + ".002", files_[2]);
  DeviceHolder d;
  ASSERT_EQ(open_image(first_, d), kOk);
  auto [start, end] = range(1);
  std::vector<uint8_t> b(2048);
  EXPECT_EQ(d->read(start - 2048, b.data(), 2048), kOk);
  EXPECT_TRUE(std::equal(b.begin(), b.end(), image_.begin() + start - 2048));
  EXPECT_EQ(d->read(start, b.data(), 2048), kErrorEndOfFile);
  EXPECT_EQ(d->read(end - 1024, b.data(), 2048), kErrorEndOfFile);
  EXPECT_EQ(d->read(end, b.data(), 2048), kOk);
  EXPECT_TRUE(std::equal(b.begin(), b.end(), image_.begin() + end));
}

TEST_F(PackedParts, NoTrailerAnywhereIs38) {
  test::write_bytes(first_, files_[0]);
  test::write_bytes(first_.string() + ".001", files_[1]);
  DeviceHolder d;
  EXPECT_EQ(open_image(first_, d), kErrorEndOfFile);
}

TEST_F(PackedParts, LogicalStartsThatDoNotFitAre11) {
  // Part 1 re-labelled as starting 32 bytes later.
  PackedHeader h;
  ASSERT_TRUE(packed_header_decode(files_[1].data(), &h));
  h.logical_start += 32;
  packed_header_encode(h, files_[1].data());
  test::write_files(first_, files_);
  DeviceHolder d;
  EXPECT_EQ(open_image(first_, d), kErrorBadFormat);
}

// ---- malformed images ----------------------------------------------------------------

// One standalone image opened as bytes, changed, and sealed again so that only
// the intended rule breaks.
struct Editable {
  std::vector<uint8_t> bytes;
  size_t trailer_at() const { return bytes.size() - kPackedTrailerSize; }
  PackedTrailer trailer() const {
    PackedTrailer t;
    packed_trailer_decode(bytes.data() + trailer_at(), &t);
    return t;
  }
  uint64_t tables_size(const PackedTrailer& t) const {
    uint64_t s = t.metadata_size;
    if (t.digest_method == kPackedDigestCrc32) s += packed_round_up(t.block_count * 4, 32);
    if (t.digest_method == kPackedDigestSha256) s += packed_round_up(t.block_count * 32, 32);
    if (t.compression_method != 0) s += packed_round_up(t.block_count * 4, 32);
    return s;
  }
  size_t tables_at(const PackedTrailer& t) const { return size_t(trailer_at() - tables_size(t)); }
  size_t index_at(const PackedTrailer& t) const {
    return tables_at(t) + size_t(t.digest_method == kPackedDigestCrc32 ? packed_round_up(t.block_count * 4, 32) : 0);
  }
  // Writes the trailer with a fresh CRC-32 image digest over the tables.
  void seal(PackedTrailer t, size_t tables_length) {
    uint8_t* tb = bytes.data() + trailer_at();
    packed_trailer_encode(t, tb);
    if (t.digest_method == kPackedDigestCrc32) {
      std::vector<uint8_t> covered(bytes.begin() + (trailer_at() - tables_length), bytes.begin() + trailer_at());
      covered.insert(covered.end(), tb + 8, tb + 128);
      memset(t.image_digest, 0, sizeof t.image_digest);
      packed_put32(t.image_digest, packed_crc32(covered.data(), covered.size()));
      packed_trailer_encode(t, tb);
    }
  }
  void seal(const PackedTrailer& t) { seal(t, size_t(tables_size(t))); }
};

Editable editable(uint8_t compression = kPackedCompressionDeflate, uint8_t digest = kPackedDigestCrc32,
                  std::vector<packer::Patch> patches = {}) {
  packer::Options o = options(compression, digest);
  o.patches = std::move(patches);
  return Editable{test::pack(sample_image(), o)[0]};
}

struct MalformedCase {
  const char* name;
  void (*edit)(Editable&);
  ErrorCode expected;
};

void set_header(Editable& e, void (*change)(PackedHeader&)) {
  PackedHeader h;
  packed_header_decode(e.bytes.data(), &h);
  change(h);
  packed_header_encode(h, e.bytes.data());
}

void change_trailer(Editable& e, void (*change)(PackedTrailer&)) {
  PackedTrailer t = e.trailer();
  size_t tables = size_t(e.tables_size(t));
  change(t);
  e.seal(t, tables);
}

const MalformedCase kMalformed[] = {
    {"HeaderTag", [](Editable& e) { e.bytes[0] = 'X'; }, kErrorBadFormat},
    {"HeaderCrc", [](Editable& e) { e.bytes[20] ^= 1; }, kErrorBadFormat},
    {"HeaderVersion0", [](Editable& e) { set_header(e, [](PackedHeader& h) { h.version = 0; }); }, kErrorBadFormat},
    {"HeaderMinReader2", [](Editable& e) { set_header(e, [](PackedHeader& h) { h.min_reader_version = 2; }); },
     kErrorBadFormat},
    {"HeaderTypeIsoUpperCase", [](Editable& e) { set_header(e, [](PackedHeader& h) { memcpy(h.image_type, "ISO\0\0", 5); }); },
     kOk},
    {"HeaderTypeIsoPlus", [](Editable& e) { set_header(e, [](PackedHeader& h) { memcpy(h.image_type, "isoxx", 5); }); },
     kErrorBadFormat},
    {"HeaderPartIndex1", [](Editable& e) { set_header(e, [](PackedHeader& h) { h.part_index = 1; }); },
     kErrorBadFormat},
    {"HeaderVersionHigherIsFine", [](Editable& e) { set_header(e, [](PackedHeader& h) { h.version = 9; }); }, kOk},
    {"SizeNotMultipleOf32", [](Editable& e) { e.bytes.push_back(0); }, kErrorEndOfFile},
    {"TrailerCrc", [](Editable& e) { e.bytes[e.trailer_at() + 70] ^= 1; }, kErrorEndOfFile},
    {"TrailerImageId", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.image_id[3] ^= 1; }); },
     kErrorEndOfFile},
    {"TrailerVersion0", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.version = 0; }); },
     kErrorEndOfFile},
    {"TrailerTypeOther", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { memcpy(t.image_type, "udf", 3); }); },
     kErrorEndOfFile},
    {"DigestMethod3", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.digest_method = 3; }); },
     kErrorUnknownRevision},
    {"CipherMethod1", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.cipher_method = 1; }); },
     kErrorUnknownRevision},
    {"CompressionMethod2", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.compression_method = 2; }); },
     kErrorUnknownRevision},
    {"BlockCountMax", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.block_count = 0xFFFFFFFFu; }); },
     kErrorUnknownRevision},
    {"BlockCount0", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.block_count = 0; }); },
     kErrorBadFormat},
    {"BlockSizeSmall", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.block_size = 1024; }); },
     kErrorBadFormat},
    {"BlockSizeOdd", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.block_size = 16384 + 16; }); },
     kErrorBadFormat},
    {"BlockSizeLarge", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.block_size = 8u << 20; }); },
     kErrorBadFormat},
    {"LastBlockBytes0", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.last_block_bytes = 0; }); },
     kErrorBadFormat},
    {"LastBlockBytesAboveBlock",
     [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.last_block_bytes = t.block_size + 1; }); },
     kErrorBadFormat},
    {"MetadataSizeOdd", [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.metadata_size = 16; }); },
     kErrorBadFormat},
    {"ImageDigest", [](Editable& e) { e.bytes[e.tables_at(e.trailer()) + 1] ^= 1; }, kErrorBadFormat},
    {"StoredSizesShort",
     [](Editable& e) {
       PackedTrailer t = e.trailer();
       size_t at = e.index_at(t);
       packed_put32(&e.bytes[at], packed_get32(&e.bytes[at]) - 32);
       e.seal(t);
     },
     kErrorBadFormat},
    {"StoredSizesLong",
     [](Editable& e) {
       PackedTrailer t = e.trailer();
       size_t at = e.index_at(t);
       packed_put32(&e.bytes[at], packed_get32(&e.bytes[at]) + 32);
       e.seal(t);
     },
     kErrorBadFormat},
    {"StoredSizeNotMultipleOf32",
     [](Editable& e) {
       PackedTrailer t = e.trailer();
       size_t at = e.index_at(t);
       packed_put32(&e.bytes[at], packed_get32(&e.bytes[at]) - 16);
       packed_put32(&e.bytes[at + 4], packed_get32(&e.bytes[at + 4]) + 16);
       e.seal(t);
     },
     kErrorBadFormat},
    {"StoredSizeAboveBlock",
     [](Editable& e) {
       PackedTrailer t = e.trailer();
       size_t at = e.index_at(t);
       // Block 2 is raw (block size); move 32 bytes of block 3 to it.
       packed_put32(&e.bytes[at + 8], t.block_size + 32);
       packed_put32(&e.bytes[at + 12], packed_get32(&e.bytes[at + 12]) - 32);
       e.seal(t);
     },
     kErrorBadFormat},
    {"TablesLargerThanTheStream",
     [](Editable& e) { change_trailer(e, [](PackedTrailer& t) { t.metadata_size = 0x7FFFFFE0; }); },
     kErrorBadFormat},
};

class PackedMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(PackedMalformed, IsRefusedWithItsCode) {
  Editable e = editable();
  GetParam().edit(e);
  TempFolder folder;
  auto path = folder.path() / "bad.img";
  test::write_bytes(path, e.bytes);
  DeviceHolder d;
  EXPECT_EQ(open_image(path, d), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(All, PackedMalformed, testing::ValuesIn(kMalformed),
                         [](const testing::TestParamInfo<MalformedCase>& i) { return std::string(i.param.name); });

TEST(PackedProbe, VersionAndTypeRulesGive1305AndPartIndexGives38) {
  struct Case {
    void (*change)(PackedHeader&);
    ErrorCode expected;
  } cases[] = {{[](PackedHeader& h) { h.version = 0; }, kErrorUnknownRevision},
               {[](PackedHeader& h) { h.min_reader_version = 2; }, kErrorUnknownRevision},
               {[](PackedHeader& h) { memcpy(h.image_type, "iso9\0", 5); }, kErrorUnknownRevision},
               {[](PackedHeader& h) { h.part_index = 2; }, kErrorEndOfFile}};
  TempFolder folder;
  for (const Case& c : cases) {
    Editable e = editable();
    set_header(e, c.change);
    test::write_bytes(folder.path() / "x.img", e.bytes);
    EXPECT_EQ(probe_only(folder.path() / "x.img"), c.expected);
  }
}

// Metadata records and tail records beyond their areas.
TEST(PackedMetadata, RecordOutsideTheAreaIs11) {
  std::vector<packer::Patch> patches(1);
  patches[0].position = 100;
  patches[0].payload.assign(40, 0xAB);
  Editable e = editable(kPackedCompressionDeflate, kPackedDigestCrc32, patches);
  PackedTrailer t = e.trailer();
  size_t meta = e.trailer_at() - t.metadata_size;
  packed_put32(&e.bytes[meta + 4], t.metadata_size);  // payload runs past the area
  e.seal(t);
  TempFolder folder;
  test::write_bytes(folder.path() / "m.img", e.bytes);
  DeviceHolder d;
  EXPECT_EQ(open_image(folder.path() / "m.img", d), kErrorBadFormat);
}

TEST(PackedMetadata, PositionPlusLengthOverflowIs11) {
  std::vector<packer::Patch> patches(1);
  patches[0].position = 100;
  patches[0].payload.assign(40, 0xAB);
  Editable e = editable(kPackedCompressionDeflate, kPackedDigestCrc32, patches);
  PackedTrailer t = e.trailer();
  size_t meta = e.trailer_at() - t.metadata_size;
  packed_put64(&e.bytes[meta + 8], UINT64_MAX - 10);
  e.seal(t);
  TempFolder folder;
  test::write_bytes(folder.path() / "m.img", e.bytes);
  DeviceHolder d;
  EXPECT_EQ(open_image(folder.path() / "m.img", d), kErrorBadFormat);
}

// Tail records after the trailer, reached through a locator record.
std::vector<uint8_t> with_tail(std::vector<uint8_t> bytes, const std::vector<std::vector<uint8_t>>& records,
                               const uint8_t image_id[16]) {
  uint64_t tail = 0;
  for (const auto& r : records) {
    bytes.insert(bytes.end(), r.begin(), r.end());
    tail += r.size();
  }
  uint8_t locator[kPackedLocatorSize];
  packed_locator_encode(image_id, tail + kPackedLocatorSize, locator);
  bytes.insert(bytes.end(), locator, locator + sizeof locator);
  return bytes;
}

std::vector<uint8_t> tail_record(uint32_t length, uint8_t type) {
  std::vector<uint8_t> r(length, 0x5A);
  packed_tail_record_seal(r.data(), length, type);
  return r;
}

TEST(PackedTail, LocatorFindsTheTrailerBeforeKeyRecords) {
  std::vector<uint8_t> image = sample_image();
  packer::Options o = options(kPackedCompressionLzma, kPackedDigestSha256);
  Files files = test::pack(image, o);
  TempFolder folder;
  struct Case {
    std::vector<std::vector<uint8_t>> records;
    ErrorCode expected;
  } cases[] = {
      {{}, kOk},
      {{tail_record(96, kPackedTailKey)}, kOk},
      {{tail_record(64, 7), tail_record(32, kPackedTailKey)}, kOk},
      {{[] { auto r = tail_record(64, 2); r[0] = 'X'; return r; }()}, kErrorBadFormat},
      {{[] { auto r = tail_record(64, 2); packed_put32(r.data() + 8, 48); return r; }()}, kErrorBadFormat},
      {{[] { auto r = tail_record(64, 2); packed_put32(r.data() + 8, 160); return r; }()}, kErrorBadFormat},
  };
  for (const Case& c : cases) {
    test::write_bytes(folder.path() / "t.img", with_tail(files[0], c.records, o.image_id));
    DeviceHolder d;
    ASSERT_EQ(open_image(folder.path() / "t.img", d), c.expected);
    if (c.expected == kOk) expect_reads_back(d.device, image);
  }
}

TEST(PackedTail, LocatorWithWrongIdentifierLeavesNoTrailer) {
  packer::Options o = options(kPackedCompressionLzma, kPackedDigestSha256);
  Files files = test::pack(sample_image(), o);
  uint8_t other[16] = {1};
  TempFolder folder;
  test::write_bytes(folder.path() / "t.img", with_tail(files[0], {tail_record(64, 2)}, other));
  DeviceHolder d;
  EXPECT_EQ(open_image(folder.path() / "t.img", d), kErrorEndOfFile);
}

// ---- block reads -------------------------------------------------------------------

TEST(PackedBlocks, BadBlockDigestIsCachedForTheBlock) {
  packer::Options o = options(kPackedCompressionNone, kPackedDigestSha256);
  std::vector<uint8_t> image = sample_image();
  Files files = test::pack(image, o);
  files[0][kPackedHeaderSize + 16384 + 16384 + 100] ^= 1;
  TempFolder folder;
  auto path = folder.path() / "b.img";
  test::write_bytes(path, files[0]);
  DeviceHolder d;
  ASSERT_EQ(open_image(path, d), kOk);
  std::vector<uint8_t> b(2048);
  EXPECT_EQ(d->read(0, b.data(), 2048), kOk);
  EXPECT_EQ(d->read(2 * 16384, b.data(), 2048), kErrorBadFormat);
  EXPECT_EQ(d->read(2 * 16384, nullptr, 2048), kErrorBadFormat);
  // With the file gone, cached answers need no file: block 0 and the error.
  d->close_files();
  std::filesystem::rename(path, folder.path() / "moved.img");
  EXPECT_EQ(d->read(2 * 16384 + 4096, b.data(), 2048), kErrorBadFormat);
  EXPECT_EQ(d->read(0, b.data(), 2048), kOk);
  EXPECT_TRUE(std::equal(b.begin(), b.end(), image.begin()));
  EXPECT_EQ(d->read(16384 * 3, b.data(), 2048), kErrorFileNotFound);
}

TEST(PackedBlocks, CorruptCompressedBlockGivesTheDecoderError) {
  packer::Options o = options(kPackedCompressionDeflate, kPackedDigestNone);
  Files files = test::pack(sample_image(), o);
  // Block 0 is compressed: garble its stream.
  for (size_t i = 0; i < 64; ++i) files[0][kPackedHeaderSize + i] ^= 0x55;
  TempFolder folder;
  test::write_bytes(folder.path() / "c.img", files[0]);
  DeviceHolder d;
  ASSERT_EQ(open_image(folder.path() / "c.img", d), kOk);
  std::vector<uint8_t> b(2048);
  EXPECT_NE(d->read(0, b.data(), 2048), kOk);
}

TEST(PackedBlocks, PatchesOverlayEveryReadWithABuffer) {
  std::vector<uint8_t> image = sample_image();
  std::vector<packer::Patch> patches(3);
  patches[0].position = 34824;
  patches[0].payload.assign(174, 0x11);
  patches[1].position = 34900;  // overlaps the first; the later one wins
  patches[1].payload.assign(50, 0x22);
  patches[2].position = image.size() - 10;  // runs past the image end
  patches[2].payload.assign(20, 0x33);
  std::vector<uint8_t> expected = image;
  expected.resize(image.size() + 4096, 0);
  for (const auto& p : patches) std::copy(p.payload.begin(), p.payload.end(), expected.begin() + p.position);
  for (uint8_t compression : {kPackedCompressionNone, kPackedCompressionLzma}) {
    packer::Options o = options(compression, compression == kPackedCompressionNone ? kPackedDigestNone : kPackedDigestCrc32);
    o.patches = patches;
    TempFolder folder;
    test::write_bytes(folder.path() / "p.img", test::pack(image, o)[0]);
    DeviceHolder d;
    ASSERT_EQ(open_image(folder.path() / "p.img", d), kOk);
    for (int round = 0; round < 2; ++round) {  // from the file, then from the cache
      std::vector<uint8_t> b(100);
      ASSERT_EQ(d->read(34800, b.data(), 100), kOk);  // partial overlap of the first patch
      EXPECT_TRUE(std::equal(b.begin(), b.end(), expected.begin() + 34800));
      std::vector<uint8_t> end(4096);
      ASSERT_EQ(d->read(image.size() - 2048, end.data(), 4096), kOk);
      EXPECT_TRUE(std::equal(end.begin(), end.end(), expected.begin() + image.size() - 2048));
    }
    EXPECT_EQ(d->read(34800, nullptr, 100), kOk);
  }
}

}  // namespace
}  // namespace sm
