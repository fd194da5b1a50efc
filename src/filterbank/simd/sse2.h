// Lane primitives for every x86-64 processor (SSE2): four floats a vector.
#pragma once

#if !defined(__SSE2__)
#error "simd_sse2.h needs a build with SSE2 enabled"
#endif
#include "filterbank/simd/x86.h"

namespace {

struct Full : GenericLanes<4, Full> {
  static V loadBytes(const std::uint8_t* p) {
    std::int32_t four;
    std::memcpy(&four, p, sizeof four);
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero);
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero));
  }
  // Rounds by the processor's rounding mode: to nearest, ties to even, which
  // this program never changes. Then signed saturation to 16 and to 8 bits,
  // and the even and odd bytes interleaved.
  static void storeRoundedPairs(std::uint8_t* p, V even, V odd) {
    const __m128i ei = _mm_cvtps_epi32(even);
    const __m128i oi = _mm_cvtps_epi32(odd);
    const __m128i e16 = _mm_packs_epi32(ei, ei);
    const __m128i o16 = _mm_packs_epi32(oi, oi);
    const __m128i pairs = _mm_unpacklo_epi8(_mm_packs_epi16(e16, e16), _mm_packs_epi16(o16, o16));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), pairs);
  }
};

}  // namespace
