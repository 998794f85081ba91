#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "container/hash.h"
#include "container/sha256.h"

namespace sm {
namespace {

void sha256_algorithm_init(void* state) {
  sha256_init(static_cast<Sha256State*>(state), sha256_blocks_best());
}

void sha256_algorithm_update(void* state, const uint8_t* bytes, uint32_t length) {
  sha256_update(static_cast<Sha256State*>(state), bytes, length);
}

void sha256_algorithm_final(void* state, uint8_t* digest) {
  sha256_final(static_cast<Sha256State*>(state), digest);
}

// The largest digest any algorithm may have; finish() with a short out
// buffer goes through a private buffer of this size.
constexpr uint32_t kMaxDigestSize = 64;

// One allocation: the engine followed by the algorithm's state.
class AlgorithmHashEngine final : public HashEngine {
 public:
  AlgorithmHashEngine(const HashAlgorithm* algorithm, const char* oid) : algorithm_(algorithm), oid_(oid) {}

  void release() override {
    this->~AlgorithmHashEngine();
    free(this);
  }
  uint32_t digest_size() override { return algorithm_->digest_size; }
  uint32_t input_block_size() override { return algorithm_->input_block_size; }
  const char* oid() override { return oid_; }
  void reset() override { algorithm_->init(state()); }
  void update(const void* bytes, uint32_t length) override {
    if (length != 0) algorithm_->update(state(), static_cast<const uint8_t*>(bytes), length);
  }
  void finish(void* out, uint32_t out_length) override {
    uint32_t const size = algorithm_->digest_size;
    uint8_t* const dest = static_cast<uint8_t*>(out);
    if (out_length < size) {
      uint8_t digest[kMaxDigestSize];
      algorithm_->final(state(), digest);
      if (out_length != 0) memcpy(dest, digest, out_length);
      return;
    }
    algorithm_->final(state(), dest);
    memset(dest + size, 0, out_length - size);
  }

  static size_t state_offset() { return (sizeof(AlgorithmHashEngine) + 15) & ~size_t{15}; }

 private:
  void* state() { return reinterpret_cast<uint8_t*>(this) + state_offset(); }

  const HashAlgorithm* algorithm_;
  const char* oid_;
};

class Crc32Checksum final : public BlockChecksum {
 public:
  void release() override { delete this; }
  uint32_t digest_size() override { return kCrc32DigestSize; }
  void reset() override { value_ = 0; }
  void update(const void* bytes, uint32_t length) override { value_ = crc32_update(value_, bytes, length); }
  void finish(void* digest) override {
    uint8_t* out = static_cast<uint8_t*>(digest);
    for (int i = 0; i < 4; ++i) out[i] = uint8_t(value_ >> (8 * i));
  }

 private:
  uint32_t value_ = 0;
};

class Sha256Checksum final : public BlockChecksum {
 public:
  explicit Sha256Checksum(HashEngine* engine) : engine_(engine) {}
  void release() override {
    engine_->release();
    delete this;
  }
  uint32_t digest_size() override { return kSha256DigestSize; }
  void reset() override { engine_->reset(); }
  void update(const void* bytes, uint32_t length) override { engine_->update(bytes, length); }
  void finish(void* digest) override { engine_->finish(digest, kSha256DigestSize); }

 private:
  HashEngine* engine_;
};

}  // namespace

const HashAlgorithm kSha256Algorithm = {
    kSha256DigestSize,     64, sizeof(Sha256State), sha256_algorithm_init, sha256_algorithm_update,
    sha256_algorithm_final,
};

ErrorCode create_hash_engine(HashEngine** engine, const HashAlgorithm* algorithm, const char* oid) {
  *engine = nullptr;
  if (algorithm == nullptr || algorithm->digest_size > kMaxDigestSize) return kErrorInvalidParameter;
  void* memory = calloc(1, AlgorithmHashEngine::state_offset() + algorithm->state_size);
  if (memory == nullptr) return kErrorOutOfMemory;
  *engine = new (memory) AlgorithmHashEngine(algorithm, oid);
  return kOk;
}

ErrorCode create_sha256_engine(HashEngine** engine) {
  return create_hash_engine(engine, &kSha256Algorithm, kSha256Oid);
}

ErrorCode create_crc32_checksum(BlockChecksum** checksum) {
  *checksum = new (std::nothrow) Crc32Checksum;
  return *checksum != nullptr ? kOk : kErrorOutOfMemory;
}

ErrorCode create_sha256_checksum(BlockChecksum** checksum) {
  *checksum = nullptr;
  HashEngine* engine = nullptr;
  ErrorCode error = create_sha256_engine(&engine);
  if (error != kOk) return error;
  *checksum = new (std::nothrow) Sha256Checksum(engine);
  if (*checksum == nullptr) {
    engine->release();
    return kErrorOutOfMemory;
  }
  return kOk;
}

uint32_t crc32_update(uint32_t crc, const void* bytes, uint32_t length) {
  if (length == 0) return crc;
  return uint32_t(crc32(crc, static_cast<const Bytef*>(bytes), length));
}

}  // namespace sm
