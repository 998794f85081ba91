// SHA-256 block function on the x86 SHA extensions (SHA-NI). Compiled for
// every x86 build with per-function target attributes; used only after CPUID
// says the processor has SHA, SSSE3 and SSE4.1.
#include "container/sha256.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace sm {

extern const uint32_t kSha256RoundConstants[64];

namespace {

// Four rounds on state halves ABEF / CDGH with message words w (already
// holding W + K for those rounds).
__attribute__((target("sha,sse4.1"), always_inline)) inline void four_rounds(__m128i& abef, __m128i& cdgh,
                                                                             __m128i wk) {
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

// Next four schedule words from the previous sixteen (w0 oldest).
__attribute__((target("sha,sse4.1"), always_inline)) inline __m128i next_words(__m128i w0, __m128i w1,
                                                                               __m128i w2, __m128i w3) {
  __m128i x = _mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4));
  return _mm_sha256msg2_epu32(x, w3);
}

__attribute__((target("sha,sse4.1"))) void sha256_blocks_shani(uint32_t state[8], const uint8_t* blocks,
                                                                 size_t count) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  const __m128i* k = reinterpret_cast<const __m128i*>(kSha256RoundConstants);

  // The instructions want the state as ABEF and CDGH.
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; count != 0; --count, blocks += 64) {
    const __m128i abef_in = abef, cdgh_in = cdgh;
    const __m128i* in = reinterpret_cast<const __m128i*>(blocks);
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byte_swap);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byte_swap);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byte_swap);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byte_swap);
    four_rounds(abef, cdgh, _mm_add_epi32(w0, _mm_loadu_si128(k + 0)));
    four_rounds(abef, cdgh, _mm_add_epi32(w1, _mm_loadu_si128(k + 1)));
    four_rounds(abef, cdgh, _mm_add_epi32(w2, _mm_loadu_si128(k + 2)));
    four_rounds(abef, cdgh, _mm_add_epi32(w3, _mm_loadu_si128(k + 3)));
    for (int group = 4; group < 16; group += 4) {
      w0 = next_words(w0, w1, w2, w3);
      four_rounds(abef, cdgh, _mm_add_epi32(w0, _mm_loadu_si128(k + group)));
      w1 = next_words(w1, w2, w3, w0);
      four_rounds(abef, cdgh, _mm_add_epi32(w1, _mm_loadu_si128(k + group + 1)));
      w2 = next_words(w2, w3, w0, w1);
      four_rounds(abef, cdgh, _mm_add_epi32(w2, _mm_loadu_si128(k + group + 2)));
      w3 = next_words(w3, w0, w1, w2);
      four_rounds(abef, cdgh, _mm_add_epi32(w3, _mm_loadu_si128(k + group + 3)));
    }
    abef = _mm_add_epi32(abef, abef_in);
    cdgh = _mm_add_epi32(cdgh, cdgh_in);
  }

  __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool cpu_has_sha_extensions() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  bool const ssse3 = (ecx & (1u << 9)) != 0;
  bool const sse41 = (ecx & (1u << 19)) != 0;
  if (!ssse3 || !sse41) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & (1u << 29)) != 0;
}

}  // namespace

Sha256BlocksFunction sha256_blocks_accelerated() {
  static const bool available = cpu_has_sha_extensions();
  return available ? &sha256_blocks_shani : nullptr;
}

}  // namespace sm

#else

namespace sm {
Sha256BlocksFunction sha256_blocks_accelerated() { return nullptr; }
}  // namespace sm

#endif
