// Arbitrary bytes into both block decompressors and the LZMA stream decoder.
// Decoders must never read or write outside the buffers they are given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "container/decompress.h"

namespace {

constexpr uint32_t kDestination = 64 * 1024;

uint8_t* destination() {
  static uint8_t* buffer = static_cast<uint8_t*>(malloc(kDestination));
  return buffer;
}

void run(sm::Decompressor* d, const uint8_t* data, size_t size) {
  uint32_t produced = 0;
  uint32_t const n = uint32_t(size);
  if (d->decompress(data, n, destination(), kDestination, &produced) == sm::kOk && produced > kDestination) abort();
  d->decompress(data, n, destination(), kDestination, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static sm::Decompressor* deflate = [] {
    sm::Decompressor* d = nullptr;
    sm::create_deflate_decompressor(&d);
    return d;
  }();
  static sm::Decompressor* lzma = [] {
    sm::Decompressor* d = nullptr;
    sm::create_lzma_decompressor(0x5D, kDestination, &d);
    return d;
  }();
  run(deflate, data, size);
  run(lzma, data, size);

  // The stream decoder takes its properties from the first 13 bytes; keep
  // the announced size small so the fuzzer explores decoding, not refusal.
  if (size >= sm::kLzmaHeaderSize) {
    uint8_t header[sm::kLzmaHeaderSize];
    memcpy(header, data, sizeof(header));
    memset(header + 8, 0, 5);
    sm::LzmaStreamDecoder* decoder = nullptr;
    uint32_t announced = 0;
    if (sm::create_lzma_stream_decoder(header, &decoder, &announced) == sm::kLzmaOk) {
      uint32_t produced = 0;
      uint32_t const limit = announced < kDestination ? announced : kDestination;
      if (decoder->decode(data + sizeof(header), uint32_t(size - sizeof(header)), destination(), limit, &produced) ==
              sm::kLzmaOk &&
          produced > limit) {
        abort();
      }
      decoder->release();
    }
  }
  return 0;
}
