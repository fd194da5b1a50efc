// Lane primitives for processors with AVX-512: sixteen floats a vector.
#pragma once

#if !defined(__AVX512F__)
#error "simd_avx512.h needs a build with AVX-512 enabled"
#endif
#include "filterbank/simd/x86.h"

namespace {

struct Full : GenericLanes<16, Full> {
  static V loadBytes(const std::uint8_t* p) {
    return _mm512_cvtepi32_ps(
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
  }
  // Two whole-vector loads, the shifted views from register shuffles
  // (unaligned loads would straddle cache lines).
  static void window5(const float* p, V (&s)[5]) {
    const V lo = load(p), hi = load(p + 16);
    s[0] = lo;
    s[1] = shifted<1>(lo, hi);
    s[2] = shifted<2>(lo, hi);
    s[3] = shifted<3>(lo, hi);
    s[4] = shifted<4>(lo, hi);
  }
  // Final outputs past the caches: a result as large as the caches would
  // otherwise be read in before it is written, and would push out the rows
  // the kernels read.
  static void storeFinal(float* p, V v) {
    if ((reinterpret_cast<std::uintptr_t>(p) & 63) == 0) {
      _mm512_stream_ps(p, v);
    } else {
      store(p, v);
    }
  }
  static void finishFinal() { _mm_sfence(); }

  // The same around p, for a p on a vector's boundary: the vectors before,
  // at and after it, all aligned loads.
  static void window5Around(const float* p, V (&s)[5]) {
    const V before = load(p - 16), at = load(p), after = load(p + 16);
    s[0] = shifted<14>(before, at);
    s[1] = shifted<15>(before, at);
    s[2] = at;
    s[3] = shifted<1>(at, after);
    s[4] = shifted<2>(at, after);
  }
  // Truncating conversion, then a store of each lane's low byte (no
  // saturation).
  static void storeTruncated(std::uint8_t* p, V v) {
    _mm512_mask_cvtepi32_storeu_epi8(p, __mmask16(0xFFFF), _mm512_cvttps_epi32(v));
  }
  static void storeByteFloats(float* p, V v) {
    const __m512i bytes = _mm512_and_si512(_mm512_cvttps_epi32(v), _mm512_set1_epi32(0xFF));
    _mm512_storeu_ps(p, _mm512_cvtepi32_ps(bytes));
  }
  // Rounding to nearest and signed saturation to 8 bits, then the even and
  // odd bytes interleaved.
  static void storeRoundedPairs(std::uint8_t* p, V even, V odd) {
    const int nearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
    const __m128i e = _mm512_cvtsepi32_epi8(_mm512_cvt_roundps_epi32(even, nearest));
    const __m128i o = _mm512_cvtsepi32_epi8(_mm512_cvt_roundps_epi32(odd, nearest));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_unpacklo_epi8(e, o));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm_unpackhi_epi8(e, o));
  }

  // Lanes k .. 15 of lo followed by lanes 0 .. k-1 of hi.
  template <int k>
  static V shifted(V lo, V hi) {
    return _mm512_castsi512_ps(
        _mm512_alignr_epi32(_mm512_castps_si512(hi), _mm512_castps_si512(lo), k));
  }
};

}  // namespace
