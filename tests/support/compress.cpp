#include "support/compress.h"

#include <LzmaEnc.h>
#include <zlib.h>

#include <cstdlib>
#include <random>
#include <stdexcept>

namespace sm::test {
namespace {

void* alloc(void*, size_t size) { return malloc(size); }
void release(void*, void* address) { free(address); }
ISzAlloc g_alloc = {alloc, release};

}  // namespace

std::vector<uint8_t> LzmaStream::header(uint64_t uncompressed_size) const {
  std::vector<uint8_t> h(13);
  h[0] = properties;
  for (int i = 0; i < 4; ++i) h[1 + i] = uint8_t(dictionary_size >> (8 * i));
  for (int i = 0; i < 8; ++i) h[5 + i] = uint8_t(uncompressed_size >> (8 * i));
  return h;
}

LzmaStream lzma_compress(const std::vector<uint8_t>& input, bool end_marker, uint32_t dictionary_size, int level) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = level;
  props.dictSize = dictionary_size;
  props.lc = 3;
  props.lp = 0;
  props.pb = 2;
  props.numThreads = 1;
  props.writeEndMark = end_marker ? 1 : 0;
  SizeT capacity = input.size() + input.size() / 2 + 4096;
  LzmaStream out;
  out.data.resize(capacity);
  uint8_t encoded[LZMA_PROPS_SIZE];
  SizeT encoded_size = LZMA_PROPS_SIZE;
  SRes res = LzmaEncode(out.data.data(), &capacity, input.data(), input.size(), &props, encoded, &encoded_size,
                        end_marker ? 1 : 0, nullptr, &g_alloc, &g_alloc);
  if (res != SZ_OK) throw std::runtime_error("LzmaEncode failed");
  out.data.resize(capacity);
  out.properties = encoded[0];
  out.dictionary_size = uint32_t(encoded[1]) | uint32_t(encoded[2]) << 8 | uint32_t(encoded[3]) << 16 |
                        uint32_t(encoded[4]) << 24;
  return out;
}

std::vector<uint8_t> deflate_compress(const std::vector<uint8_t>& input, bool zlib_wrapper, int level) {
  z_stream s{};
  if (deflateInit2(&s, level, Z_DEFLATED, zlib_wrapper ? MAX_WBITS : -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::vector<uint8_t> out(deflateBound(&s, uLong(input.size())));
  s.next_in = const_cast<Bytef*>(input.data());
  s.avail_in = uInt(input.size());
  s.next_out = out.data();
  s.avail_out = uInt(out.size());
  int res = deflate(&s, Z_FINISH);
  out.resize(out.size() - s.avail_out);
  deflateEnd(&s);
  if (res != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

std::vector<uint8_t> compressible_bytes(size_t size, uint32_t seed) {
  static const char words[][8] = {"sector ", "volume ", "image  ", "block  ", "\x00\x00\x00\x00\x00\x00\x00",
                                  "udf    ", "iso    ", "packed "};
  std::mt19937 random(seed);
  std::vector<uint8_t> out;
  out.reserve(size);
  while (out.size() < size) {
    uint32_t r = random();
    if ((r & 7) == 0) {
      out.push_back(uint8_t(r >> 8));
    } else {
      const char* w = words[(r >> 3) & 7];
      for (int i = 0; i < 7 && out.size() < size; ++i) out.push_back(uint8_t(w[i]));
    }
  }
  return out;
}

}  // namespace sm::test
