// Message digests for the packed image: a general HashEngine over an
// algorithm descriptor (SHA-256 is the one in use), the BlockChecksum
// interface the packed reader feeds without knowing which digest it is, and
// the CRC-32 that guards every record of the packed format.
#pragma once

#include <cstdint>

#include "base/error.h"

namespace sm {

// A digest algorithm: its sizes and three functions over its state. The
// state is state_size bytes, zero-filled when an engine is created; init
// prepares it, update takes any number of bytes (buffering partial input
// blocks itself), final writes digest_size bytes and spends the state.
struct HashAlgorithm {
  uint32_t digest_size;
  uint32_t input_block_size;
  uint32_t state_size;
  void (*init)(void* state);
  void (*update)(void* state, const uint8_t* bytes, uint32_t length);
  void (*final)(void* state, uint8_t* digest);
};

extern const HashAlgorithm kSha256Algorithm;
inline constexpr char kSha256Oid[] = "2.16.840.1.101.3.4.2.1";
inline constexpr uint32_t kSha256DigestSize = 32;
inline constexpr uint32_t kCrc32DigestSize = 4;

class HashEngine {
 public:
  virtual void release() = 0;
  virtual uint32_t digest_size() = 0;
  virtual uint32_t input_block_size() = 0;
  virtual const char* oid() = 0;
  virtual void reset() = 0;
  virtual void update(const void* bytes, uint32_t length) = 0;
  // Writes min(out_length, digest size) digest bytes and zeros after the
  // digest up to out_length. The next digest starts with reset().
  virtual void finish(void* out, uint32_t out_length) = 0;

 protected:
  virtual ~HashEngine() = default;
};

// The engine's state is not initialised: call reset() before update().
// `oid` is not copied and must outlive the engine.
ErrorCode create_hash_engine(HashEngine** engine, const HashAlgorithm* algorithm, const char* oid);
ErrorCode create_sha256_engine(HashEngine** engine);

class BlockChecksum {
 public:
  virtual void release() = 0;
  virtual uint32_t digest_size() = 0;
  virtual void reset() = 0;
  virtual void update(const void* bytes, uint32_t length) = 0;
  // Writes digest_size() bytes; CRC-32 as a little-endian 32-bit value.
  virtual void finish(void* digest) = 0;

 protected:
  virtual ~BlockChecksum() = default;
};

ErrorCode create_crc32_checksum(BlockChecksum** checksum);
ErrorCode create_sha256_checksum(BlockChecksum** checksum);

// CRC-32 of ISO 3309 / ITU-T V.42 (reflected polynomial 0xEDB88320), with the
// register inverted before and after each call: 0 starts a new CRC and a call
// continues from the result of the previous one.
uint32_t crc32_update(uint32_t crc, const void* bytes, uint32_t length);

}  // namespace sm
