// SHA-256 of FIPS 180-4 with two block functions: portable code, and the x86
// SHA extensions where the processor has them (chosen at run time). Exposed
// for the hash engine and for tests that compare both paths.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sm {

// Runs the compression function over `count` consecutive 64-byte blocks.
using Sha256BlocksFunction = void (*)(uint32_t state[8], const uint8_t* blocks, size_t count);

void sha256_blocks_portable(uint32_t state[8], const uint8_t* blocks, size_t count);
// The SHA-extension path, or null when this processor (or build) lacks it.
Sha256BlocksFunction sha256_blocks_accelerated();
// The accelerated path when available, else the portable one.
Sha256BlocksFunction sha256_blocks_best();

struct Sha256State {
  uint32_t h[8];
  uint64_t length;  // bytes fed so far
  uint32_t buffered;  // bytes waiting in buffer
  Sha256BlocksFunction blocks;
  uint8_t buffer[64];
};

void sha256_init(Sha256State* state, Sha256BlocksFunction blocks);
void sha256_update(Sha256State* state, const uint8_t* bytes, size_t length);
void sha256_final(Sha256State* state, uint8_t digest[32]);

}  // namespace sm
