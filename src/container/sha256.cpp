#include "container/sha256.h"

#include <cstring>

namespace sm {

// Round constants, shared with the SHA-extension path.
extern const uint32_t kSha256RoundConstants[64];
const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

inline uint32_t rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t load_be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline void store_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

}  // namespace

void sha256_blocks_portable(uint32_t state[8], const uint8_t* blocks, size_t count) {
  for (; count != 0; --count, blocks += 64) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = load_be32(blocks + 4 * t);
    for (int t = 16; t < 64; ++t) {
      uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
      uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
      uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                    kSha256RoundConstants[t] + w[t];
      uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

Sha256BlocksFunction sha256_blocks_best() {
  // Decided once; every caller gets the same answer.
  static const Sha256BlocksFunction best = [] {
    Sha256BlocksFunction accelerated = sha256_blocks_accelerated();
    return accelerated != nullptr ? accelerated : &sha256_blocks_portable;
  }();
  return best;
}

void sha256_init(Sha256State* state, Sha256BlocksFunction blocks) {
  static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(state->h, kInitial, sizeof(kInitial));
  state->length = 0;
  state->buffered = 0;
  state->blocks = blocks;
}

void sha256_update(Sha256State* state, const uint8_t* bytes, size_t length) {
  state->length += length;
  if (state->buffered != 0) {
    size_t take = 64 - state->buffered;
    if (take > length) take = length;
    memcpy(state->buffer + state->buffered, bytes, take);
    state->buffered += uint32_t(take);
    bytes += take;
    length -= take;
    if (state->buffered < 64) return;
    state->blocks(state->h, state->buffer, 1);
    state->buffered = 0;
  }
  // Whole blocks straight from the caller's bytes.
  size_t whole = length / 64;
  if (whole != 0) {
    state->blocks(state->h, bytes, whole);
    bytes += whole * 64;
    length -= whole * 64;
  }
  if (length != 0) {
    memcpy(state->buffer, bytes, length);
    state->buffered = uint32_t(length);
  }
}

void sha256_final(Sha256State* state, uint8_t digest[32]) {
  uint64_t bits = state->length * 8;
  uint32_t n = state->buffered;
  state->buffer[n++] = 0x80;
  if (n > 56) {
    memset(state->buffer + n, 0, 64 - n);
    state->blocks(state->h, state->buffer, 1);
    n = 0;
  }
  memset(state->buffer + n, 0, 56 - n);
  for (int i = 0; i < 8; ++i) state->buffer[56 + i] = uint8_t(bits >> (56 - 8 * i));
  state->blocks(state->h, state->buffer, 1);
  for (int i = 0; i < 8; ++i) store_be32(digest + 4 * i, state->h[i]);
  state->buffered = 0;
}

}  // namespace sm
