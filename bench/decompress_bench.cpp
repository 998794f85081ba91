// Decoding one 4 MiB block through the Decompressor objects, next to the
// bare LZMA SDK decoder and zlib inflate doing the same work on the same
// stored blocks.
#include <LzmaDec.h>
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <vector>

#include "container/decompress.h"
#include "support/compress.h"

namespace {

constexpr uint32_t kBlock = 4 << 20;

const std::vector<uint8_t>& plain() {
  static const std::vector<uint8_t> data = sm::test::compressible_bytes(kBlock, 11);
  return data;
}

const sm::test::LzmaStream& lzma_block() {
  static const sm::test::LzmaStream s = sm::test::lzma_compress(plain(), false, kBlock);
  return s;
}

const std::vector<uint8_t>& deflate_block() {
  static const std::vector<uint8_t> s = sm::test::deflate_compress(plain());
  return s;
}

void bench_decompressor(benchmark::State& state, sm::Decompressor* d, const std::vector<uint8_t>& stream) {
  std::vector<uint8_t> out(kBlock);
  for (auto _ : state) {
    if (d->decompress(stream.data(), uint32_t(stream.size()), out.data(), kBlock, nullptr) != sm::kOk) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  d->release();
  state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}

void BM_LzmaDecompressor(benchmark::State& state) {
  sm::Decompressor* d = nullptr;
  sm::create_lzma_decompressor(lzma_block().properties, kBlock, &d);
  bench_decompressor(state, d, lzma_block().data);
}

void* sdk_alloc(void*, size_t size) { return malloc(size); }
void sdk_free(void*, void* address) { free(address); }
ISzAlloc g_sdk_alloc = {sdk_alloc, sdk_free};

void BM_BareLzmaDec(benchmark::State& state) {
  const sm::test::LzmaStream& s = lzma_block();
  std::vector<uint8_t> header = s.header(kBlock);
  std::vector<uint8_t> out(kBlock);
  CLzmaDec dec;
  LzmaDec_Construct(&dec);
  LzmaDec_AllocateProbs(&dec, header.data(), LZMA_PROPS_SIZE, &g_sdk_alloc);
  for (auto _ : state) {
    dec.dic = out.data();
    dec.dicBufSize = kBlock;
    LzmaDec_Init(&dec);
    SizeT in = s.data.size();
    ELzmaStatus status;
    LzmaDec_DecodeToDic(&dec, kBlock, s.data.data(), &in, LZMA_FINISH_END, &status);
    benchmark::DoNotOptimize(out.data());
  }
  LzmaDec_FreeProbs(&dec, &g_sdk_alloc);
  state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}

void BM_DeflateDecompressor(benchmark::State& state) {
  sm::Decompressor* d = nullptr;
  sm::create_deflate_decompressor(&d);
  bench_decompressor(state, d, deflate_block());
}

void BM_BareInflate(benchmark::State& state) {
  const std::vector<uint8_t>& s = deflate_block();
  std::vector<uint8_t> out(kBlock);
  z_stream z{};
  inflateInit2(&z, -MAX_WBITS);
  for (auto _ : state) {
    inflateReset(&z);
    z.next_in = const_cast<Bytef*>(s.data());
    z.avail_in = uInt(s.size());
    z.next_out = out.data();
    z.avail_out = kBlock;
    inflate(&z, Z_FINISH);
    benchmark::DoNotOptimize(out.data());
  }
  inflateEnd(&z);
  state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}

BENCHMARK(BM_LzmaDecompressor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareLzmaDec)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateDecompressor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareInflate)->Unit(benchmark::kMillisecond);

}  // namespace
