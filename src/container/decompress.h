// Block decoders for packed images: one Decompressor per compression method
// (raw deflate, LZMA), each decoding a whole block in one call straight into
// the caller's buffer, and the LzmaStreamDecoder beneath the LZMA one, which
// decodes one stream described by a 13-byte LZMA header.
#pragma once

#include <cstdint>

#include "base/error.h"

namespace sm {

class Decompressor {
 public:
  virtual void release() = 0;
  // Decodes one complete stored block. With `produced`, the number of bytes
  // written goes there and a short output is no error; without it the output
  // must fill the destination exactly. Source bytes after the end of the
  // compressed stream are ignored. After a failure the destination is partly
  // written and holds nothing usable.
  virtual ErrorCode decompress(const void* source, uint32_t source_length, void* destination,
                               uint32_t destination_length, uint32_t* produced) = 0;

 protected:
  virtual ~Decompressor() = default;
};

// Raw deflate (no zlib or gzip wrapper, 32 KiB window). 14 when memory runs
// out or zlib cannot be set up. A stream that ends before filling the
// destination with no `produced` asked for is 38.
ErrorCode create_deflate_decompressor(Decompressor** decompressor);

// LZMA with the given properties byte (lc + 9 lp + 45 pb, at most 224) and
// dictionary size; every block decodes to at most the dictionary size. A
// short output with no `produced` asked for is 11.
ErrorCode create_lzma_decompressor(uint8_t properties, uint32_t dictionary_size, Decompressor** decompressor);

// Results of the LZMA stream decoder.
using LzmaStatus = uint32_t;
inline constexpr LzmaStatus kLzmaOk = 0;
inline constexpr LzmaStatus kLzmaInvalidArgument = 4;
inline constexpr LzmaStatus kLzmaOutOfMemory = 6;  // also: an announced size of 2^31 or more
inline constexpr LzmaStatus kLzmaOutputError = 11;
inline constexpr LzmaStatus kLzmaCorrupt = 17;  // corrupt, unsupported properties, or input ended early

// The header of the LZMA-alone format: properties byte, 32-bit dictionary
// size, 64-bit uncompressed size, all little-endian.
inline constexpr uint32_t kLzmaHeaderSize = 13;

class LzmaStreamDecoder {
 public:
  virtual void release() = 0;
  // Decodes one complete stream into the destination, which also serves as
  // the dictionary. The stream must end within the destination, with an end
  // marker or exactly at its end. `produced` (optional) receives the bytes
  // written, 0 on any failure.
  virtual LzmaStatus decode(const void* source, uint32_t source_length, void* destination,
                            uint32_t destination_length, uint32_t* produced) = 0;
  // Frees the probability tables; with bit 0 of `flags` the object too.
  virtual void destroy(uint32_t flags) = 0;

 protected:
  virtual ~LzmaStreamDecoder() = default;
};

// Hands out the decoder and (when asked) the announced uncompressed size,
// which is 0 unless it is below 2^31. A size of 2^31 or more is status 6 and
// no decoder; a properties byte above 224 is 17.
LzmaStatus create_lzma_stream_decoder(const uint8_t header[kLzmaHeaderSize], LzmaStreamDecoder** decoder,
                                      uint32_t* uncompressed_size);

// 0→0, 4→87, 6→14, 17→11, anything else → 31.
ErrorCode lzma_status_to_error(LzmaStatus status);

}  // namespace sm
