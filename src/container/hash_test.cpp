#include "container/hash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "container/sha256.h"

namespace sm {
namespace {

std::string hex(const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

constexpr char kAbcDigest[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr char kTwoBlockMessage[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
constexpr char kTwoBlockDigest[] = "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";

struct EngineDeleter {
  void operator()(HashEngine* e) const { e->release(); }
};
using EnginePtr = std::unique_ptr<HashEngine, EngineDeleter>;

EnginePtr make_sha256() {
  HashEngine* engine = nullptr;
  EXPECT_EQ(create_sha256_engine(&engine), kOk);
  return EnginePtr(engine);
}

std::string digest_in_pieces(HashEngine* engine, const std::string& message, size_t piece) {
  engine->reset();
  for (size_t at = 0; at < message.size(); at += piece) {
    engine->update(message.data() + at, uint32_t(std::min(piece, message.size() - at)));
  }
  uint8_t out[32];
  engine->finish(out, 32);
  return hex(out, 32);
}

TEST(HashEngine, Sha256VectorsInOneAndInManyUpdates) {
  EnginePtr engine = make_sha256();
  EXPECT_EQ(engine->digest_size(), 32u);
  EXPECT_EQ(engine->input_block_size(), 64u);
  EXPECT_STREQ(engine->oid(), "2.16.840.1.101.3.4.2.1");
  for (size_t piece : {size_t{1000}, size_t{1}, size_t{7}}) {
    EXPECT_EQ(digest_in_pieces(engine.get(), "abc", piece), kAbcDigest) << piece;
    EXPECT_EQ(digest_in_pieces(engine.get(), kTwoBlockMessage, piece), kTwoBlockDigest) << piece;
  }
  // Empty updates change nothing; reset after finish starts afresh.
  engine->reset();
  engine->update(nullptr, 0);
  engine->update("abc", 3);
  engine->update(nullptr, 0);
  uint8_t out[32];
  engine->finish(out, 32);
  EXPECT_EQ(hex(out, 32), kAbcDigest);
  EXPECT_EQ(digest_in_pieces(engine.get(), "", 1),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(HashEngine, FinishWritesDigestPrefixOrDigestAndZeros) {
  EnginePtr engine = make_sha256();
  std::string const full = kAbcDigest;
  struct Case {
    uint32_t out_length;
    std::string expected;
  } const cases[] = {
      {40, full + "0000000000000000"},
      {32, full},
      {16, full.substr(0, 32)},
      {0, ""},
  };
  for (const Case& c : cases) {
    uint8_t out[48];
    memset(out, 0xEE, sizeof(out));
    engine->reset();
    engine->update("abc", 3);
    engine->finish(out, c.out_length);
    EXPECT_EQ(hex(out, c.out_length), c.expected) << c.out_length;
    EXPECT_EQ(out[c.out_length], 0xEE) << "wrote past the out length " << c.out_length;
  }
}

TEST(Sha256, AcceleratedAndPortablePathsAgree) {
  Sha256BlocksFunction accelerated = sha256_blocks_accelerated();
  if (accelerated == nullptr) GTEST_SKIP() << "this processor has no SHA extensions";
  std::mt19937 random(12345);
  std::vector<uint8_t> data(4 << 20);
  for (uint8_t& b : data) b = uint8_t(random());

  auto digest = [](Sha256BlocksFunction blocks, const uint8_t* bytes, size_t n) {
    Sha256State state;
    sha256_init(&state, blocks);
    sha256_update(&state, bytes, n);
    uint8_t out[32];
    sha256_final(&state, out);
    return hex(out, 32);
  };
  for (size_t n = 0; n <= 300; ++n) {
    // Unaligned starts too: the block functions load without alignment.
    const uint8_t* bytes = data.data() + (n % 13);
    ASSERT_EQ(digest(accelerated, bytes, n), digest(sha256_blocks_portable, bytes, n)) << n;
  }
  EXPECT_EQ(digest(accelerated, data.data(), data.size()),
            digest(sha256_blocks_portable, data.data(), data.size()));
  EXPECT_EQ(digest(accelerated, reinterpret_cast<const uint8_t*>("abc"), 3), kAbcDigest);
}

TEST(Crc32, CheckValueChainedOverTwoCalls) {
  const char digits[] = "123456789";
  EXPECT_EQ(crc32_update(0, digits, 9), 0xCBF43926u);
  EXPECT_EQ(crc32_update(crc32_update(0, digits, 4), digits + 4, 5), 0xCBF43926u);
  EXPECT_EQ(crc32_update(0, nullptr, 0), 0u);
}

struct ChecksumDeleter {
  void operator()(BlockChecksum* c) const { c->release(); }
};
using ChecksumPtr = std::unique_ptr<BlockChecksum, ChecksumDeleter>;

TEST(BlockChecksum, Crc32AndSha256) {
  BlockChecksum* raw = nullptr;
  ASSERT_EQ(create_crc32_checksum(&raw), kOk);
  ChecksumPtr crc(raw);
  EXPECT_EQ(crc->digest_size(), 4u);
  uint8_t out[32];
  memset(out, 0xEE, sizeof(out));
  crc->reset();
  crc->finish(out);
  EXPECT_EQ(hex(out, 5), "00000000ee");
  crc->reset();
  crc->update("1234", 4);
  crc->update("56789", 5);
  crc->finish(out);
  EXPECT_EQ(hex(out, 4), "2639f4cb");  // 0xCBF43926, little-endian

  ASSERT_EQ(create_sha256_checksum(&raw), kOk);
  ChecksumPtr sha(raw);
  EXPECT_EQ(sha->digest_size(), 32u);
  for (int round = 0; round < 2; ++round) {
    sha->reset();
    sha->update("a", 1);
    sha->update("bc", 2);
    sha->finish(out);
    EXPECT_EQ(hex(out, 32), kAbcDigest);
  }
}

}  // namespace
}  // namespace sm
