// Packed image throughput against the bare libraries doing the same work:
//   - sequential 256 KiB reads of a 256 MiB LZMA image through the device
//     against decoding the same stored blocks with bare LzmaDec;
//   - the verification pass (reads without a buffer, SHA-256 digests) against
//     OpenSSL's SHA-256 over the same stored bytes;
//   - the packer's throughput with two threads against one.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "LzmaDec.h"
#include "container/hash.h"
#include "container/packed_format.h"
#include "container/registry.h"
#include "packed_writer.h"

namespace {

constexpr uint64_t kImageSize = 256ull << 20;
constexpr uint32_t kBlockSize = 4u << 20;
constexpr uint32_t kReadSize = 256u << 10;

// Disc-like content: runs of text with numbers, some zeros, some noise.
std::vector<uint8_t> make_image(uint64_t size) {
  std::vector<uint8_t> image(size);
  uint32_t x = 12345;
  size_t i = 0;
  while (i < size) {
    x = x * 1103515245 + 12345;
    int n = snprintf(reinterpret_cast<char*>(&image[i]), size - i, "record %u value %u name file%05u.dat\n",
                     unsigned(i / 64), x >> 20, (x >> 8) & 0xFFFF);
    if (n <= 0) break;
    i += size_t(n);
    if ((x >> 28) == 3 && i + 4096 < size) i += 4096;  // a hole of zeros
  }
  return image;
}

class MemoryIo : public sm::packer::Io {
 public:
  explicit MemoryIo(const std::vector<uint8_t>& image) : image_(image) {}
  uint64_t image_size() override { return image_.size(); }
  bool read_image(uint64_t offset, uint8_t* buffer, size_t length) override {
    memcpy(buffer, image_.data() + offset, length);
    return true;
  }
  bool spool_write(const uint8_t* bytes, size_t length) override {
    spool_.insert(spool_.end(), bytes, bytes + length);
    return true;
  }
  bool spool_read(uint64_t offset, uint8_t* buffer, size_t length) override {
    memcpy(buffer, spool_.data() + offset, length);
    return true;
  }
  bool begin_file(uint32_t) override {
    out.clear();
    return true;
  }
  bool write(const uint8_t* bytes, size_t length) override {
    out.insert(out.end(), bytes, bytes + length);
    return true;
  }
  bool end_file() override { return true; }
  std::vector<uint8_t> out;

 private:
  const std::vector<uint8_t>& image_;
  std::vector<uint8_t> spool_;
};

sm::packer::Options pack_options(uint8_t digest, unsigned threads) {
  sm::packer::Options o;
  o.block_size = kBlockSize;
  o.compression = sm::kPackedCompressionLzma;
  o.digest = digest;
  o.lzma_level = 1;
  o.threads = threads;
  o.image_id[0] = 1;
  return o;
}

// One packed file on disk with its stored blocks located.
struct PackedFile {
  std::string native;
  std::u16string path;
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> offsets;  // data-stream offsets of the stored blocks
  uint8_t properties = 0;

  PackedFile(const std::vector<uint8_t>& image, uint8_t digest, const char* name) {
    MemoryIo io(image);
    std::string message;
    if (!sm::packer::write_packed_image(pack_options(digest, 2), io, &message)) abort();
    bytes = std::move(io.out);
    native = std::string("/tmp/") + name + "-" + std::to_string(getpid());
    FILE* f = fopen(native.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    for (char c : native) path += c == '/' ? u'\\' : char16_t(c);
    sm::PackedTrailer t;
    sm::packed_trailer_decode(bytes.data() + bytes.size() - sm::kPackedTrailerSize, &t);
    properties = t.lzma_properties;
    size_t index = bytes.size() - sm::kPackedTrailerSize - t.metadata_size -
                   size_t(sm::packed_round_up(t.block_count * 4, 32));
    offsets.push_back(0);
    for (uint64_t i = 0; i < t.block_count; ++i) offsets.push_back(offsets.back() + sm::packed_get32(&bytes[index + i * 4]));
  }
  ~PackedFile() { unlink(native.c_str()); }
  const uint8_t* stored(size_t i) const { return bytes.data() + sm::kPackedHeaderSize + offsets[i]; }
  uint64_t stored_size(size_t i) const { return offsets[i + 1] - offsets[i]; }
};

const std::vector<uint8_t>& image() {
  static std::vector<uint8_t> i = make_image(kImageSize);
  return i;
}
PackedFile& plain_file() {
  static PackedFile f(image(), sm::kPackedDigestNone, "packed-bench-plain");
  return f;
}
PackedFile& digest_file() {
  static PackedFile f(image(), sm::kPackedDigestSha256, "packed-bench-sha");
  return f;
}

sm::SectorDevice* open_device(const PackedFile& f) {
  sm::SectorDevice* d = nullptr;
  // LOCAL: probe directly until the registry opens files.
  std::vector<uint8_t> header(f.bytes.begin(), f.bytes.begin() + 65536);
  if (sm::packed_image_probe(&d, f.path.c_str(), sm::kInvalidFileHandle, header.data(), 65536) != sm::kOk) abort();
  if (d->load(nullptr) != sm::kOk) abort();
  return d;
}

void BM_DeviceSequentialRead(benchmark::State& state) {
  PackedFile& f = plain_file();
  sm::SectorDevice* d = open_device(f);
  std::vector<uint8_t> buffer(kReadSize);
  for (auto _ : state) {
    for (uint64_t at = 0; at < kImageSize; at += kReadSize) {
      if (d->read(at, buffer.data(), kReadSize) != sm::kOk) abort();
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kImageSize));
  d->release();
}
BENCHMARK(BM_DeviceSequentialRead)->Unit(benchmark::kMillisecond)->MinTime(2);

void* sz_alloc(void*, size_t size) { return malloc(size); }
void sz_free(void*, void* address) { free(address); }

void BM_BareLzmaDecode(benchmark::State& state) {
  PackedFile& f = plain_file();
  ISzAlloc alloc = {sz_alloc, sz_free};
  uint8_t props[5] = {f.properties};
  memcpy(props + 1, &kBlockSize, 4);
  CLzmaDec dec;
  LzmaDec_Construct(&dec);
  LzmaDec_AllocateProbs(&dec, props, 5, &alloc);
  std::vector<uint8_t> block(kBlockSize);
  for (auto _ : state) {
    for (size_t i = 0; i + 1 < f.offsets.size(); ++i) {
      uint64_t n = f.stored_size(i);
      if (n == 0 || n == kBlockSize) continue;
      LzmaDec_Init(&dec);
      dec.dic = block.data();
      dec.dicBufSize = kBlockSize;
      dec.dicPos = 0;
      SizeT in = SizeT(n);
      ELzmaStatus status;
      if (LzmaDec_DecodeToDic(&dec, kBlockSize, f.stored(i), &in, LZMA_FINISH_END, &status) != SZ_OK) abort();
      benchmark::DoNotOptimize(block.data());
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kImageSize));
  LzmaDec_FreeProbs(&dec, &alloc);
}
BENCHMARK(BM_BareLzmaDecode)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_DeviceVerify(benchmark::State& state) {
  PackedFile& f = digest_file();
  sm::SectorDevice* d = open_device(f);
  for (auto _ : state) {
    // A fresh device each pass, so no block comes from the cache.
    state.PauseTiming();
    d->release();
    d = open_device(f);
    state.ResumeTiming();
    for (uint64_t at = 0; at < kImageSize; at += kReadSize) {
      if (d->read(at, nullptr, kReadSize) != sm::kOk) abort();
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations() * (f.offsets.back())));
  d->release();
}
BENCHMARK(BM_DeviceVerify)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_BareSha256(benchmark::State& state) {
  PackedFile& f = digest_file();
  uint8_t digest[32];
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  for (auto _ : state) {
    for (size_t i = 0; i + 1 < f.offsets.size(); ++i) {
      EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
      EVP_DigestUpdate(ctx, f.stored(i), size_t(f.stored_size(i)));
      EVP_DigestFinal_ex(ctx, digest, nullptr);
      benchmark::DoNotOptimize(digest);
    }
  }
  EVP_MD_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations() * (f.offsets.back())));
}
BENCHMARK(BM_BareSha256)->Unit(benchmark::kMillisecond)->MinTime(2);

// The system's own SHA-256 over the same bytes, to tell hashing from reading.
void BM_OwnSha256(benchmark::State& state) {
  PackedFile& f = digest_file();
  uint8_t digest[32];
  sm::BlockChecksum* sum = nullptr;
  if (sm::create_sha256_checksum(&sum) != sm::kOk) abort();
  for (auto _ : state) {
    for (size_t i = 0; i + 1 < f.offsets.size(); ++i) {
      sum->reset();
      sum->update(f.stored(i), uint32_t(f.stored_size(i)));
      sum->finish(digest);
      benchmark::DoNotOptimize(digest);
    }
  }
  sum->release();
  state.SetBytesProcessed(int64_t(state.iterations() * (f.offsets.back())));
}
BENCHMARK(BM_OwnSha256)->Unit(benchmark::kMillisecond)->MinTime(2);

// The packer over 32 MiB of the image, with 1 and 2 compression threads.
void BM_Pack(benchmark::State& state) {
  static std::vector<uint8_t> part(image().begin(), image().begin() + (32 << 20));
  sm::packer::Options o = pack_options(sm::kPackedDigestSha256, unsigned(state.range(0)));
  o.block_size = 1u << 20;
  for (auto _ : state) {
    MemoryIo io(part);
    std::string message;
    if (!sm::packer::write_packed_image(o, io, &message)) abort();
    benchmark::DoNotOptimize(io.out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations() * part.size()));
}
BENCHMARK(BM_Pack)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
