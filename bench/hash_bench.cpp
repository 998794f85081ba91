// SHA-256 and CRC-32 throughput on 4 MiB blocks (the packed image's largest
// block), next to OpenSSL's SHA256 and zlib's crc32 on the same bytes.
#include <benchmark/benchmark.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "container/hash.h"
#include "container/sha256.h"

namespace {

constexpr size_t kBlock = 4 << 20;

const std::vector<uint8_t>& block() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(kBlock);
    std::mt19937 random(7);
    for (uint8_t& b : d) b = uint8_t(random());
    return d;
  }();
  return data;
}

void BM_Sha256Checksum(benchmark::State& state) {
  sm::BlockChecksum* checksum = nullptr;
  if (sm::create_sha256_checksum(&checksum) != sm::kOk) return state.SkipWithError("create");
  uint8_t digest[32];
  for (auto _ : state) {
    checksum->reset();
    checksum->update(block().data(), kBlock);
    checksum->finish(digest);
    benchmark::DoNotOptimize(digest);
  }
  checksum->release();
  state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}

void BM_Sha256Portable(benchmark::State& state) {
  uint8_t digest[32];
  for (auto _ : state) {
    sm::Sha256State s;
    sm::sha256_init(&s, sm::sha256_blocks_portable);
    sm::sha256_update(&s, block().data(), kBlock);
    sm::sha256_final(&s, digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}

void BM_OpenSslSha256(benchmark::State& state) {
  uint8_t digest[32];
  for (auto _ : state) {
    SHA256(block().data(), kBlock, digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}

void BM_Crc32Checksum(benchmark::State& state) {
  sm::BlockChecksum* checksum = nullptr;
  if (sm::create_crc32_checksum(&checksum) != sm::kOk) return state.SkipWithError("create");
  uint8_t digest[4];
  for (auto _ : state) {
    checksum->reset();
    checksum->update(block().data(), kBlock);
    checksum->finish(digest);
    benchmark::DoNotOptimize(digest);
  }
  checksum->release();
  state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}

void BM_ZlibCrc32(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0, block().data(), kBlock));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kBlock);
}

BENCHMARK(BM_Sha256Checksum);
BENCHMARK(BM_OpenSslSha256);
BENCHMARK(BM_Sha256Portable);
BENCHMARK(BM_Crc32Checksum);
BENCHMARK(BM_ZlibCrc32);

}  // namespace
