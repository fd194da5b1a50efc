// Lane primitives for processors with AVX2: eight floats a vector.
#pragma once

#if !defined(__AVX2__)
#error "simd_avx2.h needs a build with AVX2 enabled"
#endif
#include "filterbank/simd/x86.h"

namespace {

struct Full : GenericLanes<8, Full> {
  static V loadBytes(const std::uint8_t* p) {
    return _mm256_cvtepi32_ps(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
  }
  // Final outputs past the caches, as for AVX-512.
  static void storeFinal(float* p, V v) {
    if ((reinterpret_cast<std::uintptr_t>(p) & 31) == 0) {
      _mm256_stream_ps(p, v);
    } else {
      store(p, v);
    }
  }
  static void finishFinal() { _mm_sfence(); }
  static void storeMasked(float* p, V v, int first, int last) {
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i keep = _mm256_and_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(last), lane),
                                          _mm256_cmpgt_epi32(lane, _mm256_set1_epi32(first - 1)));
    _mm256_maskstore_ps(p, keep, v);
  }
  // Rounding to nearest, then signed saturation to 16 and to 8 bits (the
  // same as straight to 8), and the even and odd bytes interleaved.
  static void storeRoundedPairs(std::uint8_t* p, V even, V odd) {
    const int nearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
    const __m256i ei = _mm256_cvtps_epi32(_mm256_round_ps(even, nearest));
    const __m256i oi = _mm256_cvtps_epi32(_mm256_round_ps(odd, nearest));
    const __m128i e16 =
        _mm_packs_epi32(_mm256_castsi256_si128(ei), _mm256_extracti128_si256(ei, 1));
    const __m128i o16 =
        _mm_packs_epi32(_mm256_castsi256_si128(oi), _mm256_extracti128_si256(oi, 1));
    const __m128i pairs = _mm_unpacklo_epi8(_mm_packs_epi16(e16, e16), _mm_packs_epi16(o16, o16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), pairs);
  }
};

}  // namespace
