// Compressed streams made at test time: LZMA (headerless, as stored in packed
// image blocks, with or without an end marker) and raw deflate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sm::test {

struct LzmaStream {
  uint8_t properties = 0;     // lc + 9 lp + 45 pb
  uint32_t dictionary_size = 0;
  std::vector<uint8_t> data;  // the stream without its 13-byte header
  // The 13-byte LZMA-alone header announcing `uncompressed_size`.
  std::vector<uint8_t> header(uint64_t uncompressed_size) const;
};

// Compresses with lc 3, lp 0, pb 2 (properties 0x5D) and the given
// dictionary size; level 0 is the fast encoder, 5 the normal one.
LzmaStream lzma_compress(const std::vector<uint8_t>& input, bool end_marker, uint32_t dictionary_size = 1 << 22,
                         int level = 5);

// Raw deflate (RFC 1951, no wrapper); with `zlib_wrapper` the zlib format.
std::vector<uint8_t> deflate_compress(const std::vector<uint8_t>& input, bool zlib_wrapper = false, int level = 6);

// Bytes that compress, but not to nothing: text-like runs with noise.
std::vector<uint8_t> compressible_bytes(size_t size, uint32_t seed);

}  // namespace sm::test
