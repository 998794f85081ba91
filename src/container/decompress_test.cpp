#include "container/decompress.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/compress.h"

namespace sm {
namespace {

using Bytes = std::vector<uint8_t>;
using test::compressible_bytes;
using test::deflate_compress;
using test::lzma_compress;

struct DecompressorDeleter {
  void operator()(Decompressor* d) const { d->release(); }
};
using DecompressorPtr = std::unique_ptr<Decompressor, DecompressorDeleter>;
struct StreamDecoderDeleter {
  void operator()(LzmaStreamDecoder* d) const { d->release(); }
};
using StreamDecoderPtr = std::unique_ptr<LzmaStreamDecoder, StreamDecoderDeleter>;

constexpr uint32_t kBlock = 64 * 1024;

DecompressorPtr make_deflate() {
  Decompressor* d = nullptr;
  EXPECT_EQ(create_deflate_decompressor(&d), kOk);
  return DecompressorPtr(d);
}

DecompressorPtr make_lzma(uint8_t properties = 0x5D, uint32_t dictionary = kBlock) {
  Decompressor* d = nullptr;
  EXPECT_EQ(create_lzma_decompressor(properties, dictionary, &d), kOk);
  return DecompressorPtr(d);
}

// Stored blocks carry zeros after the stream up to a multiple of 32.
Bytes padded(Bytes stream) {
  stream.resize((stream.size() + 31) / 32 * 32 + 32, 0);
  return stream;
}

ErrorCode run(Decompressor* d, const Bytes& source, Bytes& out, uint32_t* produced = nullptr) {
  return d->decompress(source.data(), uint32_t(source.size()), out.data(), uint32_t(out.size()), produced);
}

TEST(DeflateDecompressor, RawStreamWithZeroPaddingDecodesAndZlibWrapperDoesNot) {
  Bytes const block = compressible_bytes(kBlock, 1);
  DecompressorPtr d = make_deflate();
  Bytes out(kBlock);
  ASSERT_EQ(run(d.get(), padded(deflate_compress(block)), out), kOk);
  EXPECT_EQ(out, block);
  EXPECT_EQ(run(d.get(), padded(deflate_compress(block, /*zlib_wrapper=*/true)), out), kErrorBadFormat);
  // Stored (level 0) deflate blocks too.
  ASSERT_EQ(run(d.get(), deflate_compress(block, false, 0), out), kOk);
  EXPECT_EQ(out, block);
}

TEST(LzmaDecompressor, StreamsWithAndWithoutEndMarkerFillTheBlock) {
  Bytes const block = compressible_bytes(kBlock, 2);
  DecompressorPtr d = make_lzma();
  for (bool end_marker : {false, true}) {
    Bytes out(kBlock);
    ASSERT_EQ(run(d.get(), padded(lzma_compress(block, end_marker, kBlock).data), out), kOk) << end_marker;
    EXPECT_EQ(out, block) << end_marker;
  }
}

// What each decoder makes of streams that do not fill the destination
// exactly: the LZMA decoder calls a short output bad format (11), the deflate
// decoder end of file (38); with a produced length both succeed.
struct ShortCase {
  const char* name;
  DecompressorPtr (*make)();
  Bytes (*compress)(const Bytes&);
  ErrorCode short_output;
};

const ShortCase kShortCases[] = {
    {"deflate", [] { return make_deflate(); }, [](const Bytes& b) { return deflate_compress(b); }, kErrorEndOfFile},
    {"lzma", [] { return make_lzma(); }, [](const Bytes& b) { return lzma_compress(b, true, kBlock).data; },
     kErrorBadFormat},
};

TEST(Decompressor, ShortOutputOverlongOutputAndTruncatedInput) {
  Bytes const data = compressible_bytes(kBlock - 1000, 3);
  for (const ShortCase& c : kShortCases) {
    SCOPED_TRACE(c.name);
    DecompressorPtr d = c.make();
    Bytes const stream = c.compress(data);

    Bytes big(kBlock);
    EXPECT_EQ(run(d.get(), stream, big), c.short_output);
    uint32_t produced = 12345;
    ASSERT_EQ(run(d.get(), stream, big, &produced), kOk);
    EXPECT_EQ(produced, data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), big.begin()));

    // The stream does not end within a smaller destination.
    Bytes small(data.size() - 1);
    EXPECT_EQ(run(d.get(), stream, small), kErrorBadFormat);

    Bytes const cut(stream.begin(), stream.begin() + stream.size() / 2);
    produced = 12345;
    EXPECT_EQ(run(d.get(), cut, big, &produced), kErrorBadFormat);
    Bytes none;
    EXPECT_EQ(run(d.get(), none, big), kErrorBadFormat);

    // The object still works after all those failures.
    Bytes exact(data.size());
    ASSERT_EQ(run(d.get(), stream, exact), kOk);
    EXPECT_EQ(exact, data);
  }
}

TEST(Decompressor, BlocksDecodedInTurnEqualFreshDecodes) {
  Bytes const a = compressible_bytes(kBlock, 4), b = compressible_bytes(kBlock, 5);
  struct Method {
    DecompressorPtr (*make)();
    Bytes (*compress)(const Bytes&);
  } const methods[] = {
      {[] { return make_deflate(); }, [](const Bytes& x) { return deflate_compress(x); }},
      {[] { return make_lzma(); }, [](const Bytes& x) { return lzma_compress(x, false, kBlock).data; }},
  };
  for (const Method& m : methods) {
    Bytes const sa = m.compress(a), sb = m.compress(b);
    DecompressorPtr shared = m.make();
    Bytes out_a(kBlock), out_b(kBlock), fresh_b(kBlock);
    ASSERT_EQ(run(shared.get(), sa, out_a), kOk);
    ASSERT_EQ(run(shared.get(), sb, out_b), kOk);
    ASSERT_EQ(run(m.make().get(), sb, fresh_b), kOk);
    EXPECT_EQ(out_a, a);
    EXPECT_EQ(out_b, fresh_b);
    EXPECT_EQ(out_b, b);
  }
}

TEST(LzmaStreamDecoder, DecodesWholeStreamIntoExactDestination) {
  Bytes const data = compressible_bytes(100000, 6);
  for (bool end_marker : {false, true}) {
    test::LzmaStream const s = lzma_compress(data, end_marker, 1 << 16);
    Bytes const header = s.header(data.size());
    LzmaStreamDecoder* raw = nullptr;
    uint32_t announced = 0;
    ASSERT_EQ(create_lzma_stream_decoder(header.data(), &raw, &announced), kLzmaOk);
    StreamDecoderPtr decoder(raw);
    EXPECT_EQ(announced, data.size());
    Bytes out(data.size());
    uint32_t produced = 0;
    ASSERT_EQ(decoder->decode(s.data.data(), uint32_t(s.data.size()), out.data(), uint32_t(out.size()), &produced),
              kLzmaOk);
    EXPECT_EQ(produced, data.size());
    EXPECT_EQ(out, data);

    // Cut short: status 17 and nothing produced.
    produced = 1;
    EXPECT_EQ(decoder->decode(s.data.data(), uint32_t(s.data.size() - 8), out.data(), uint32_t(out.size()),
                              &produced),
              kLzmaCorrupt);
    EXPECT_EQ(produced, 0u);
    // A destination too small for the stream: it goes on past the limit.
    EXPECT_EQ(decoder->decode(s.data.data(), uint32_t(s.data.size()), out.data(), uint32_t(out.size() - 1), nullptr),
              kLzmaCorrupt);
  }
}

TEST(LzmaStreamDecoder, RefusesBadPropertiesAndHugeSizes) {
  test::LzmaStream s;
  s.properties = 225;
  s.dictionary_size = 1 << 16;
  LzmaStreamDecoder* decoder = reinterpret_cast<LzmaStreamDecoder*>(1);
  uint32_t announced = 99;
  EXPECT_EQ(create_lzma_stream_decoder(s.header(1000).data(), &decoder, &announced), kLzmaCorrupt);
  EXPECT_EQ(decoder, nullptr);
  Decompressor* d = reinterpret_cast<Decompressor*>(1);
  EXPECT_EQ(create_lzma_decompressor(225, kBlock, &d), kErrorBadFormat);
  EXPECT_EQ(d, nullptr);

  s.properties = 0x5D;
  decoder = reinterpret_cast<LzmaStreamDecoder*>(1);
  EXPECT_EQ(create_lzma_stream_decoder(s.header(uint64_t{1} << 31).data(), &decoder, &announced), kLzmaOutOfMemory);
  EXPECT_EQ(decoder, nullptr);
  EXPECT_EQ(announced, 0u);
  EXPECT_EQ(create_lzma_stream_decoder(s.header(~uint64_t{0}).data(), &decoder, &announced), kLzmaOutOfMemory);
  EXPECT_EQ(create_lzma_decompressor(0x5D, 0x80000000u, &d), kErrorOutOfMemory);
  EXPECT_EQ(d, nullptr);

  // The largest properties byte and the largest size below 2^31 are fine;
  // a dictionary size below 4096 is raised, not refused.
  s.properties = 224;
  s.dictionary_size = 0;
  ASSERT_EQ(create_lzma_stream_decoder(s.header(0x7FFFFFFF).data(), &decoder, &announced), kLzmaOk);
  EXPECT_EQ(announced, 0x7FFFFFFFu);
  decoder->release();
}

TEST(LzmaStreamDecoder, StatusToErrorCode) {
  struct {
    LzmaStatus status;
    ErrorCode error;
  } const table[] = {{0, 0}, {4, 87}, {6, 14}, {17, 11}, {11, 31}, {1, 31}};
  for (auto row : table) EXPECT_EQ(lzma_status_to_error(row.status), row.error) << row.status;
}

}  // namespace
}  // namespace sm
