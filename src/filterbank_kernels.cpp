// The fast passes, forward and inverse, written once over a vector of
// DWT97_LANES floats and compiled once per instruction set (the build defines
// DWT97_LANES, DWT97_PASS_SET, the name of the pass set this unit exports,
// and DWT97_PASS_SET_NAME).
//
// The arithmetic is exactly that of the plain passes: every output is the
// sum of its products in ascending tap position, each product rounded to
// single precision and each addition a separate instruction (the build
// forbids contraction into fused multiply-adds). Vectors run across outputs,
// never across the taps of one output, so each lane computes one output as
// the scalar code would. A sum starts from its first product rather than
// from +0.0: that can only change the sign of a zero sum, which converts to
// the same byte either way.
//
// Nothing here may use an inline function from a shared header (the
// standard library's templates included): the linker keeps one copy of such
// a function for the whole program, and it could be one compiled for an
// instruction set the processor lacks.
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
// GCC 12 warns, wrongly, about the undefined vector some of these intrinsics
// start from.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#endif

#include "allocator.h"
#include "dwt97/filterbank.h"
#include "failure.h"
#include "filterbank_kernels.h"

#ifndef DWT97_LANES
#error "DWT97_LANES must be defined by the build"
#endif

namespace {

constexpr int kLanes = DWT97_LANES;

#if DWT97_LANES > 1
typedef float VFloat __attribute__((vector_size(4 * DWT97_LANES)));
typedef std::int32_t VInt __attribute__((vector_size(4 * DWT97_LANES)));
typedef std::uint8_t VByte __attribute__((vector_size(DWT97_LANES)));
#else
using VFloat = float;
using VInt = std::int32_t;
using VByte = std::uint8_t;
#endif

// Outputs per row chunk of the row passes: the float copies of a chunk's
// inputs stay in the first-level cache.
constexpr std::int64_t kRowChunk = 2048;
// Columns per strip of the column passes. Whole rows up to this width: reading
// and writing whole rows streams through memory far better than narrow strips
// of rows thousands of bytes apart, and ten float rows still fit the
// second-level cache.
constexpr std::int64_t kMaxStrip = 8192;
// Float rows the column passes keep: the nine (forward) or twice five
// (inverse) that one output row reads, and one spare.
constexpr int kRing = 10;
static_assert(kRowChunk % kLanes == 0 && kMaxStrip % kLanes == 0, "chunks hold whole vectors");

inline std::int64_t smaller(std::int64_t a, std::int64_t b) { return a < b ? a : b; }
inline std::int64_t roundUp(std::int64_t a) { return (a + kLanes - 1) / kLanes * kLanes; }

// Every lane x (x - 0 is x for every x).
inline VFloat splat(float x) { return x - VFloat{}; }

inline VFloat loadFloats(const float* p) {
  VFloat v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// kLanes bytes, each converted exactly to a float.
inline VFloat loadBytesAsFloats(const std::uint8_t* p) {
#if DWT97_LANES == 16 && defined(__AVX512F__)
  return _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
#elif DWT97_LANES == 8 && defined(__AVX2__)
  return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
#elif DWT97_LANES == 4 && defined(__SSE2__)
  std::int32_t four;
  std::memcpy(&four, p, sizeof four);
  const __m128i zero = _mm_setzero_si128();
  const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero);
  return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero));
#elif DWT97_LANES > 1
  VByte b;
  std::memcpy(&b, p, sizeof b);
  return __builtin_convertvector(__builtin_convertvector(b, VInt), VFloat);
#else
  std::uint8_t b = *p;
  return static_cast<float>(b);
#endif
}

// Truncation toward zero to 32-bit integers, then the low byte of each: the
// outputs wrap modulo 256. Sums of byte inputs stay far inside the 32-bit
// range, so the conversion is always defined.
[[maybe_unused]] inline VByte truncateToBytes(VFloat v) {
#if DWT97_LANES > 1
  return __builtin_convertvector(__builtin_convertvector(v, VInt), VByte);
#else
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
#endif
}

// Stores the first `count` (at most kLanes) bytes of the truncated outputs.
inline void storeBytes(std::uint8_t* p, VFloat v, std::int64_t count) {
#if DWT97_LANES == 16 && defined(__AVX512F__)
  // Truncating conversion, then a store of each lane's low byte (no saturation).
  const __mmask16 lanes = count >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << count) - 1u);
  _mm512_mask_cvtepi32_storeu_epi8(p, lanes, _mm512_cvttps_epi32(v));
#else
  const VByte b = truncateToBytes(v);
  if (count >= kLanes) {
    std::memcpy(p, &b, sizeof b);
  } else {
    std::memcpy(p, &b, static_cast<std::size_t>(count));
  }
#endif
}

// The vector that starts `k` lanes into the pair (lo, hi): lanes k .. kLanes-1
// of lo followed by lanes 0 .. k-1 of hi.
#if DWT97_LANES == 16 && defined(__AVX512F__)
template <int k>
inline VFloat shifted(VFloat lo, VFloat hi) {
  return _mm512_castsi512_ps(
      _mm512_alignr_epi32(_mm512_castps_si512(hi), _mm512_castps_si512(lo), k));
}
#endif

// The analysis coefficients, one vector per tap.
struct AnalysisTaps {
  VFloat low[9];
  VFloat high[7];
};

inline AnalysisTaps analysisTaps() {
  AnalysisTaps taps;
  for (int k = 0; k < 9; ++k) taps.low[k] = splat(analysisLow.coefficients[k]);
  for (int k = 0; k < 7; ++k) taps.high[k] = splat(analysisHigh.coefficients[k]);
  return taps;
}

// One vector of low and high outputs. s[k] holds the samples at signal index
// 2j + k - 4 for the lanes' outputs j: the low-pass reads s[0..8] (positions
// -4..4), the high-pass s[2..8] (positions -2..4).
inline void analyse(const VFloat* s, const AnalysisTaps& taps, VFloat& low, VFloat& high) {
  low = taps.low[0] * s[0];
  for (int k = 1; k < 9; ++k) low = taps.low[k] * s[k] + low;
  high = taps.high[0] * s[2];
  for (int k = 1; k < 7; ++k) high = taps.high[k] * s[k + 2] + high;
}

#if DWT97_LANES > 1
// The even-numbered and the odd-numbered lanes of the pair a, b, with
// constant lane lists so that the shuffles compile to fixed permutes.
#if DWT97_LANES == 4
#define DWT97_EVEN_LANES 0, 2, 4, 6
#define DWT97_ODD_LANES 1, 3, 5, 7
#elif DWT97_LANES == 8
#define DWT97_EVEN_LANES 0, 2, 4, 6, 8, 10, 12, 14
#define DWT97_ODD_LANES 1, 3, 5, 7, 9, 11, 13, 15
#else
#define DWT97_EVEN_LANES 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30
#define DWT97_ODD_LANES 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31
#endif
inline void pickEvenOdd(VFloat a, VFloat b, VFloat& even, VFloat& odd) {
#if defined(__clang__)
  even = __builtin_shufflevector(a, b, DWT97_EVEN_LANES);
  odd = __builtin_shufflevector(a, b, DWT97_ODD_LANES);
#else
  even = __builtin_shuffle(a, b, VInt{DWT97_EVEN_LANES});
  odd = __builtin_shuffle(a, b, VInt{DWT97_ODD_LANES});
#endif
}
#endif

// Splits 2 * count bytes into the floats of the even and of the odd samples.
void deinterleave(const std::uint8_t* x, float* even, float* odd, std::int64_t count) {
  std::int64_t i = 0;
#if DWT97_LANES > 1
  for (; i + kLanes <= count; i += kLanes) {
    const VFloat a = loadBytesAsFloats(x + 2 * i);
    const VFloat b = loadBytesAsFloats(x + 2 * i + kLanes);
    VFloat e, o;
    pickEvenOdd(a, b, e, o);
    std::memcpy(even + i, &e, sizeof e);
    std::memcpy(odd + i, &o, sizeof o);
  }
#endif
  for (; i < count; ++i) {
    even[i] = static_cast<float>(x[2 * i]);
    odd[i] = static_cast<float>(x[2 * i + 1]);
  }
}

// The samples of line x (length n) that outputs j0 .. j0+count-1 read, split
// by parity: even[q] = x[2p] and odd[q] = x[2p + 1] for p = j0 - 2 + q,
// reflected where the index leaves the line. Entries up to roundUp(count) +
// kLanes are written (those beyond the last output's reach with zero) so that
// whole vectors can be read.
void loadRowChunk(const std::uint8_t* x, std::int32_t n, std::int64_t half, std::int64_t j0,
                  std::int64_t count, float* even, float* odd) {
  const std::int64_t pBegin = j0 - 2;
  const std::int64_t qEnd = count + 4;
  const auto reflected = [x, n](std::int64_t i) {
    return static_cast<float>(x[mirrorIndex(static_cast<std::int32_t>(i), n)]);
  };
  std::int64_t q = 0;
  for (; q < qEnd && pBegin + q < 0; ++q) {
    even[q] = reflected(2 * (pBegin + q));
    odd[q] = reflected(2 * (pBegin + q) + 1);
  }
  // Below `half` both samples of a pair lie inside the line.
  const std::int64_t qInside = smaller(qEnd, half - pBegin);
  if (qInside > q) {
    deinterleave(x + 2 * (pBegin + q), even + q, odd + q, qInside - q);
    q = qInside;
  }
  for (; q < qEnd; ++q) {
    even[q] = reflected(2 * (pBegin + q));
    odd[q] = reflected(2 * (pBegin + q) + 1);
  }
  for (; q < roundUp(count) + kLanes; ++q) even[q] = odd[q] = 0.0f;
}

// The row pass of line x (n >= 2 samples, `half` = n / 2 output pairs),
// chunk by chunk: store(j, low, high, count) takes the low and the high
// outputs j .. j + kLanes - 1, of which the first `count` are wanted.
template <typename Store>
void filterRow(const std::uint8_t* x, std::int32_t n, std::int64_t half, const AnalysisTaps& taps,
               Store store) {
  alignas(64) float even[kRowChunk + 4 + kLanes];
  alignas(64) float odd[kRowChunk + 4 + kLanes];
  for (std::int64_t j0 = 0; j0 < half; j0 += kRowChunk) {
    const std::int64_t count = smaller(kRowChunk, half - j0);
    loadRowChunk(x, n, half, j0, count, even, odd);
    for (std::int64_t v = 0; v < count; v += kLanes) {
      // Output j = j0 + v reads even/odd from q = v (signal index 2j - 4).
#if DWT97_LANES == 16 && defined(__AVX512F__)
      // Whole-vector loads only; the shifted views come from register
      // shuffles (unaligned loads would straddle cache lines).
      const VFloat e0 = loadFloats(even + v), e16 = loadFloats(even + v + kLanes);
      const VFloat o0 = loadFloats(odd + v), o16 = loadFloats(odd + v + kLanes);
      const VFloat s[9] = {e0,
                           o0,
                           shifted<1>(e0, e16),
                           shifted<1>(o0, o16),
                           shifted<2>(e0, e16),
                           shifted<2>(o0, o16),
                           shifted<3>(e0, e16),
                           shifted<3>(o0, o16),
                           shifted<4>(e0, e16)};
#else
      const VFloat s[9] = {loadFloats(even + v),     loadFloats(odd + v),
                           loadFloats(even + v + 1), loadFloats(odd + v + 1),
                           loadFloats(even + v + 2), loadFloats(odd + v + 2),
                           loadFloats(even + v + 3), loadFloats(odd + v + 3),
                           loadFloats(even + v + 4)};
#endif
      VFloat low, high;
      analyse(s, taps, low, high);
      store(j0 + v, low, high, count - v);
    }
  }
}

void forwardRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width, std::int32_t height) {
  const std::int32_t n = width;
  if (n < 0) return;  // (no lines to filter; guards the unsigned shift below)
  const std::int64_t half = static_cast<std::int64_t>(static_cast<std::uint32_t>(n) >> 1);
  if (half == 0) return;
  const AnalysisTaps taps = analysisTaps();
  for (std::int32_t r = 0; r < height; ++r) {
    std::uint8_t* y = dst[r];
    filterRow(src[r], n, half, taps, [y, half](std::int64_t j, VFloat low, VFloat high,
                                               std::int64_t count) {
      storeBytes(y + j, low, count);
      storeBytes(y + half + j, high, count);
    });
  }
}

// Converts columns c0 .. c0+w-1 of one row to floats, zero beyond w up to a
// whole vector.
void loadStripRow(const std::uint8_t* in, std::int64_t w, float* out) {
  std::int64_t c = 0;
  for (; c + kLanes <= w; c += kLanes) {
    const VFloat f = loadBytesAsFloats(in + c);
    std::memcpy(out + c, &f, sizeof f);
  }
  for (; c < w; ++c) out[c] = static_cast<float>(in[c]);
  for (; c < roundUp(w); ++c) out[c] = 0.0f;
}

// Float rows of one strip for the column passes, 64-byte aligned, from the
// free store (too large for the stack at full width); `block` is null when
// memory runs out.
struct StripRows {
  explicit StripRows(std::int64_t width)
      : strip(smaller(kMaxStrip, roundUp(width))),
        bytes(static_cast<std::size_t>(kRing * strip) * sizeof(float) + 64),
        block(dwt97::detail::tryAllocateZeroed(bytes)) {}
  ~StripRows() { dwt97::detail::releaseZeroed(block); }
  StripRows(const StripRows&) = delete;
  StripRows& operator=(const StripRows&) = delete;

  float* row(std::int64_t slot) {
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + 63) & ~std::uintptr_t{63};
    return reinterpret_cast<float*>(start) + slot * strip;
  }

  const std::int64_t strip;
  const std::size_t bytes;
  unsigned char* const block;
};

bool tryForwardColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                       std::int32_t height) {
  const std::int32_t n = height;
  if (n < 0) return true;  // (no lines to filter; guards the unsigned shift below)
  const std::int64_t half = static_cast<std::int64_t>(static_cast<std::uint32_t>(n) >> 1);
  if (half == 0 || width <= 0) return true;
  const AnalysisTaps taps = analysisTaps();
  // Float copies of the rows at signal indices e (reflected into the line),
  // row e in slot (e + 4) % kRing; each is made once per strip.
  StripRows ring(width);
  if (ring.block == nullptr) return false;
  const auto slot = [&ring](std::int64_t e) { return ring.row((e + 4) % kRing); };
  const auto sourceRow = [src, n](std::int64_t e) {
    return src[mirrorIndex(static_cast<std::int32_t>(e), n)];
  };
  for (std::int64_t c0 = 0; c0 < width; c0 += ring.strip) {
    const std::int64_t w = smaller(ring.strip, width - c0);
    const std::int64_t wWhole = w / kLanes * kLanes;
    for (std::int64_t e = -4; e <= 2; ++e) loadStripRow(sourceRow(e) + c0, w, slot(e));
    for (std::int64_t j = 0; j < half; ++j) {
      // Rows 2j + 3 and 2j + 4 are new: converted as they are first read,
      // and kept for the next two output rows.
      const std::uint8_t* new3 = sourceRow(2 * j + 3) + c0;
      const std::uint8_t* new4 = sourceRow(2 * j + 4) + c0;
      float* keep3 = slot(2 * j + 3);
      float* keep4 = slot(2 * j + 4);
      if (wWhole < w) {  // the last, partial vector goes through the copies
        loadStripRow(new3 + wWhole, w - wWhole, keep3 + wWhole);
        loadStripRow(new4 + wWhole, w - wWhole, keep4 + wWhole);
      }
      const float* rows[9];
      for (int k = 0; k < 9; ++k) rows[k] = slot(2 * j + k - 4);
      std::uint8_t* lowOut = dst[j] + c0;
      std::uint8_t* highOut = dst[half + j] + c0;
      std::int64_t v = 0;
      for (; v < wWhole; v += kLanes) {
        VFloat s[9];
        for (int k = 0; k < 7; ++k) s[k] = loadFloats(rows[k] + v);
        s[7] = loadBytesAsFloats(new3 + v);
        s[8] = loadBytesAsFloats(new4 + v);
        std::memcpy(keep3 + v, &s[7], sizeof s[7]);
        std::memcpy(keep4 + v, &s[8], sizeof s[8]);
        VFloat low, high;
        analyse(s, taps, low, high);
        storeBytes(lowOut + v, low, kLanes);
        storeBytes(highOut + v, high, kLanes);
      }
      if (v < w) {
        VFloat s[9];
        for (int k = 0; k < 9; ++k) s[k] = loadFloats(rows[k] + v);
        VFloat low, high;
        analyse(s, taps, low, high);
        storeBytes(lowOut + v, low, w - v);
        storeBytes(highOut + v, high, w - v);
      }
    }
  }
  return true;
}

void forwardColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                    std::int32_t height) {
  if (!tryForwardColumns(dst, src, width, height)) {
    dwt97::detail::failOutOfMemory("dwtForwardColumns");
  }
}

// The synthesis coefficients, one vector per tap.
struct SynthesisTaps {
  VFloat evenLow[3];
  VFloat evenHigh[4];
  VFloat oddLow[4];
  VFloat oddHigh[5];
};

inline SynthesisTaps synthesisTaps() {
  SynthesisTaps taps;
  for (int k = 0; k < 3; ++k) taps.evenLow[k] = splat(synthesisEvenLow.coefficients[k]);
  for (int k = 0; k < 4; ++k) taps.evenHigh[k] = splat(synthesisEvenHigh.coefficients[k]);
  for (int k = 0; k < 4; ++k) taps.oddLow[k] = splat(synthesisOddLow.coefficients[k]);
  for (int k = 0; k < 5; ++k) taps.oddHigh[k] = splat(synthesisOddHigh.coefficients[k]);
  return taps;
}

// One vector of doubled even and odd sums. l[k] and h[k] hold the low- and
// high-band entries at band index j - 2 + k for the lanes' outputs j; the tap
// at position p reads index j - p, that is l[2 - p]. Each sum takes the
// low-band piece, then the high-band piece, in ascending position order.
inline void synthesise(const VFloat (&l)[5], const VFloat (&h)[5], const SynthesisTaps& taps,
                       VFloat& even, VFloat& odd) {
  even = taps.evenLow[0] * l[3];  // position -1
  for (int k = 1; k < 3; ++k) even = taps.evenLow[k] * l[3 - k] + even;
  for (int k = 0; k < 4; ++k) even = taps.evenHigh[k] * h[3 - k] + even;
  odd = taps.oddLow[0] * l[4];  // position -2
  for (int k = 1; k < 4; ++k) odd = taps.oddLow[k] * l[4 - k] + odd;
  for (int k = 0; k < 5; ++k) odd = taps.oddHigh[k] * h[4 - k] + odd;
  even = even * splat(2.0f);
  odd = odd * splat(2.0f);
}

// Output row pairs [j0, j1) of the inverse column pass, in strips of `strip`
// columns (a multiple of kLanes), with kRing float rows of `strip` floats at
// `ring`.
void inverseColumnsCore(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                        std::int32_t halfHeight, std::int64_t j0, std::int64_t j1, float* ring,
                        std::int64_t strip) {
  if (halfWidth <= 0 || halfHeight <= 0 || j0 >= j1) return;
  const std::int32_t n = halfHeight;
  const std::int64_t width = 2 * std::int64_t{halfWidth};
  const SynthesisTaps taps = synthesisTaps();
  // Float copies of the band rows at band index b (reflected into the band):
  // low band in slot (b + 2) % 5, high band in slot 5 + (b + 2) % 5.
  const auto lowSlot = [ring, strip](std::int64_t b) { return ring + ((b + 2) % 5) * strip; };
  const auto highSlot = [ring, strip](std::int64_t b) {
    return ring + (5 + (b + 2) % 5) * strip;
  };
  const auto band = [n](std::int64_t b) {
    return std::int64_t{mirrorIndex(static_cast<std::int32_t>(b), n)};
  };
  for (std::int64_t c0 = 0; c0 < width; c0 += strip) {
    const std::int64_t w = smaller(strip, width - c0);
    const auto loadBandRows = [&](std::int64_t b) {
      loadStripRow(src[band(b)] + c0, w, lowSlot(b));
      loadStripRow(src[n + band(b)] + c0, w, highSlot(b));
    };
    for (std::int64_t b = j0 - 2; b <= j0 + 1; ++b) loadBandRows(b);
    const std::int64_t wWhole = w / kLanes * kLanes;
    for (std::int64_t j = j0; j < j1; ++j) {
      // Band rows j + 2 are new: converted as they are first read, and kept
      // for the next four output pairs.
      const std::uint8_t* newLow = src[band(j + 2)] + c0;
      const std::uint8_t* newHigh = src[n + band(j + 2)] + c0;
      float* keepLow = lowSlot(j + 2);
      float* keepHigh = highSlot(j + 2);
      if (wWhole < w) {  // the last, partial vector goes through the copies
        loadStripRow(newLow + wWhole, w - wWhole, keepLow + wWhole);
        loadStripRow(newHigh + wWhole, w - wWhole, keepHigh + wWhole);
      }
      const float* lowRows[5];
      const float* highRows[5];
      for (int k = 0; k < 5; ++k) {
        lowRows[k] = lowSlot(j - 2 + k);
        highRows[k] = highSlot(j - 2 + k);
      }
      std::uint8_t* evenOut = dst[2 * j] + c0;
      std::uint8_t* oddOut = dst[2 * j + 1] + c0;
      std::int64_t v = 0;
      for (; v < wWhole; v += kLanes) {
        VFloat l[5], h[5];
        for (int k = 0; k < 4; ++k) {
          l[k] = loadFloats(lowRows[k] + v);
          h[k] = loadFloats(highRows[k] + v);
        }
        l[4] = loadBytesAsFloats(newLow + v);
        h[4] = loadBytesAsFloats(newHigh + v);
        std::memcpy(keepLow + v, &l[4], sizeof l[4]);
        std::memcpy(keepHigh + v, &h[4], sizeof h[4]);
        VFloat even, odd;
        synthesise(l, h, taps, even, odd);
        storeBytes(evenOut + v, even, kLanes);
        storeBytes(oddOut + v, odd, kLanes);
      }
      if (v < w) {
        VFloat l[5], h[5];
        for (int k = 0; k < 5; ++k) {
          l[k] = loadFloats(lowRows[k] + v);
          h[k] = loadFloats(highRows[k] + v);
        }
        VFloat even, odd;
        synthesise(l, h, taps, even, odd);
        storeBytes(evenOut + v, even, w - v);
        storeBytes(oddOut + v, odd, w - v);
      }
    }
  }
}

bool tryInverseColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                       std::int32_t halfHeight) {
  if (halfWidth <= 0 || halfHeight <= 0) return true;
  StripRows ring(2 * std::int64_t{halfWidth});
  if (ring.block == nullptr) return false;
  inverseColumnsCore(dst, src, halfWidth, halfHeight, 0, halfHeight, ring.row(0), ring.strip);
  return true;
}

void inverseColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                    std::int32_t halfHeight) {
  if (!tryInverseColumns(dst, src, halfWidth, halfHeight)) {
    dwt97::detail::failOutOfMemory("dwtInverseColumns");
  }
}

void inverseColumnsSpan(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                        std::int32_t halfHeight, std::int64_t j0, std::int64_t j1, float* ring,
                        std::int64_t stride) {
  inverseColumnsCore(dst, src, halfWidth, halfHeight, j0, j1, ring, stride);
}

// Rounds to the nearest integer (ties to even) and saturates to -128..127;
// NaN and values beyond the 32-bit range give -128 (the conversion yields
// -2^31 for them). Stores the bytes of the first `count` (at most kLanes)
// lanes interleaved: even lane 0, odd lane 0, even lane 1, ...
inline void storeRoundedPairs(std::uint8_t* p, VFloat even, VFloat odd, std::int64_t count) {
  std::uint8_t bytes[2 * kLanes];
#if DWT97_LANES == 16 && defined(__AVX512F__)
  const int nearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
  const __m128i e = _mm512_cvtsepi32_epi8(_mm512_cvt_roundps_epi32(even, nearest));
  const __m128i o = _mm512_cvtsepi32_epi8(_mm512_cvt_roundps_epi32(odd, nearest));
  const __m128i first = _mm_unpacklo_epi8(e, o);
  const __m128i second = _mm_unpackhi_epi8(e, o);
  if (count >= kLanes) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), second);
    return;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), first);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + 16), second);
#elif DWT97_LANES == 8 && defined(__AVX2__)
  const int nearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
  const __m256i ei = _mm256_cvtps_epi32(_mm256_round_ps(even, nearest));
  const __m256i oi = _mm256_cvtps_epi32(_mm256_round_ps(odd, nearest));
  // Signed saturation to 16 and then to 8 bits, the same as straight to 8.
  const __m128i e16 = _mm_packs_epi32(_mm256_castsi256_si128(ei), _mm256_extracti128_si256(ei, 1));
  const __m128i o16 = _mm_packs_epi32(_mm256_castsi256_si128(oi), _mm256_extracti128_si256(oi, 1));
  const __m128i pairs = _mm_unpacklo_epi8(_mm_packs_epi16(e16, e16), _mm_packs_epi16(o16, o16));
  if (count >= kLanes) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), pairs);
    return;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), pairs);
#elif DWT97_LANES == 4 && defined(__SSE2__)
  // Rounds by the processor's rounding mode: to nearest, ties to even, which
  // this program never changes.
  const __m128i ei = _mm_cvtps_epi32(even);
  const __m128i oi = _mm_cvtps_epi32(odd);
  const __m128i e16 = _mm_packs_epi32(ei, ei);
  const __m128i o16 = _mm_packs_epi32(oi, oi);
  const __m128i pairs = _mm_unpacklo_epi8(_mm_packs_epi16(e16, e16), _mm_packs_epi16(o16, o16));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), pairs);
#else
  for (int i = 0; i < kLanes; ++i) {
#if DWT97_LANES > 1
    bytes[2 * i] = static_cast<std::uint8_t>(toSaturatedByte(even[i]));
    bytes[2 * i + 1] = static_cast<std::uint8_t>(toSaturatedByte(odd[i]));
#else
    bytes[2 * i] = static_cast<std::uint8_t>(toSaturatedByte(even));
    bytes[2 * i + 1] = static_cast<std::uint8_t>(toSaturatedByte(odd));
#endif
  }
#endif
  std::memcpy(p, bytes, static_cast<std::size_t>(2 * smaller(count, kLanes)));
}

// The entries of a band (length n) that outputs j0 .. j0+count-1 read:
// out[q] = band[b] for b = j0 - 2 + q, reflected where b leaves the band.
// Written up to roundUp(count) + kLanes, with zeros beyond the last reach.
void loadBandChunk(const std::uint8_t* band, std::int32_t n, std::int64_t j0, std::int64_t count,
                   float* out) {
  const std::int64_t bBegin = j0 - 2;
  const std::int64_t qEnd = count + 4;
  const auto reflected = [band, n](std::int64_t b) {
    return static_cast<float>(band[mirrorIndex(static_cast<std::int32_t>(b), n)]);
  };
  std::int64_t q = 0;
  for (; q < qEnd && bBegin + q < 0; ++q) out[q] = reflected(bBegin + q);
  const std::int64_t qInside = smaller(qEnd, n - bBegin);
  if (qInside > q) {
    loadStripRow(band + bBegin + q, qInside - q, out + q);
    q = qInside;
  }
  for (; q < qEnd; ++q) out[q] = reflected(bBegin + q);
  for (; q < roundUp(count) + kLanes; ++q) out[q] = 0.0f;
}

// Rows [r0, r1) of the inverse row pass.
void inverseRowsSpan(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                     std::int32_t halfHeight, std::int64_t r0, std::int64_t r1) {
  if (halfWidth <= 0 || halfHeight <= 0) return;
  const std::int32_t n = halfWidth;
  const SynthesisTaps taps = synthesisTaps();
  alignas(64) float low[kRowChunk + 4 + kLanes];
  alignas(64) float high[kRowChunk + 4 + kLanes];
  for (std::int64_t i = r0; i < r1; ++i) {
    const std::uint8_t* in = src[i];
    std::uint8_t* out = dst[i];
    for (std::int64_t j0 = 0; j0 < n; j0 += kRowChunk) {
      const std::int64_t count = smaller(kRowChunk, n - j0);
      loadBandChunk(in, n, j0, count, low);
      loadBandChunk(in + n, n, j0, count, high);
      for (std::int64_t v = 0; v < count; v += kLanes) {
        // Output j = j0 + v reads band index j - 2 + k from q = v + k.
#if DWT97_LANES == 16 && defined(__AVX512F__)
        const VFloat l0 = loadFloats(low + v), l16 = loadFloats(low + v + kLanes);
        const VFloat h0 = loadFloats(high + v), h16 = loadFloats(high + v + kLanes);
        const VFloat l[5] = {l0, shifted<1>(l0, l16), shifted<2>(l0, l16), shifted<3>(l0, l16),
                             shifted<4>(l0, l16)};
        const VFloat h[5] = {h0, shifted<1>(h0, h16), shifted<2>(h0, h16), shifted<3>(h0, h16),
                             shifted<4>(h0, h16)};
#else
        VFloat l[5], h[5];
        for (int k = 0; k < 5; ++k) {
          l[k] = loadFloats(low + v + k);
          h[k] = loadFloats(high + v + k);
        }
#endif
        VFloat even, odd;
        synthesise(l, h, taps, even, odd);
        storeRoundedPairs(out + 2 * (j0 + v), even, odd, count - v);
      }
    }
  }
}

void inverseRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                 std::int32_t halfHeight) {
  if (halfWidth <= 0 || halfHeight <= 0) return;
  inverseRowsSpan(dst, src, halfWidth, halfHeight, 0, 2 * std::int64_t{halfHeight});
}

// The fused forward transform (see DwtFusedStep). The row pass's bytes of
// each source row are kept as floats, the intermediate plane the column
// pass would read: row r of the plane in ring slot r % 12, except the rows
// from 2 * j1 on, which the next span overwrites and which the span's
// preparation keeps in slots 12, 13 and 14. Outputs j read the rows at
// signal index 2j - 4 .. 2j + 4 reflected into the column, all within rows
// 2j - 4 .. 2j + 4 once the column is longer than the ring (for shorter
// ones every row has its own slot); a step makes pairs j and j + 1 and so
// reads eleven rows, which twelve slots hold. Each source row is converted
// once per span, before its bytes are overwritten by the outputs stored
// there.
struct FusedRing {
  float* ring;
  std::int64_t stride;
  std::int64_t trailingFrom;  // 2 * j1: rows from here are the next span's

  float* row(std::int64_t r) const {
    const std::int64_t slot = r >= trailingFrom ? 12 + (r - trailingFrom) : r % 12;
    return ring + slot * stride;
  }
};
static_assert(kFusedRingRows == 15, "twelve ring slots and three for the next span's rows");

// Stores the truncated bytes of the first `count` (at most kLanes) lanes as
// floats: what the column pass reads back from the row pass's bytes.
inline void storeByteFloats(float* p, VFloat v, std::int64_t count) {
#if DWT97_LANES == 16 && defined(__AVX512F__)
  const __m512i bytes = _mm512_and_si512(_mm512_cvttps_epi32(v), _mm512_set1_epi32(0xFF));
  const __mmask16 lanes = count >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << count) - 1u);
  _mm512_mask_storeu_ps(p, lanes, _mm512_cvtepi32_ps(bytes));
#else
#if DWT97_LANES > 1
  const VFloat f = __builtin_convertvector(__builtin_convertvector(v, VInt) & 0xFF, VFloat);
#else
  const VFloat f = static_cast<float>(static_cast<std::int32_t>(v) & 0xFF);
#endif
  if (count >= kLanes) {
    std::memcpy(p, &f, sizeof f);
  } else {
    std::memcpy(p, &f, static_cast<std::size_t>(count) * sizeof(float));
  }
#endif
}

// The row pass of line x (n >= 2 samples) as floats of its output bytes:
// low outputs in out[0, half), high outputs in out[half, 2 * half). Nothing
// beyond is written (with an odd n the last entry keeps its zero).
void rowToFloats(const std::uint8_t* x, std::int32_t n, std::int64_t half,
                 const AnalysisTaps& taps, float* out) {
  filterRow(x, n, half, taps, [out, half](std::int64_t j, VFloat low, VFloat high,
                                          std::int64_t count) {
    storeByteFloats(out + j, low, count);
    storeByteFloats(out + half + j, high, count);
  });
}

void forward2dPrepare(SamplePlane plane, std::int32_t width, std::int32_t height,
                      std::int64_t j0, std::int64_t j1, float* ring, std::int64_t stride) {
  const FusedRing rows{ring, stride, 2 * j1};
  const std::int64_t half = static_cast<std::int64_t>(static_cast<std::uint32_t>(width) >> 1);
  const AnalysisTaps taps = analysisTaps();
  // The rows the span's first and last steps read that lie outside its own
  // rows 2 * j0 .. 2 * j1 - 1 (each may come up more than once).
  std::int64_t done[18];  // at most 18 indices are visited
  int doneCount = 0;
  for (std::int64_t e = 2 * j0 - 4; e <= 2 * j1 + 2; ++e) {
    if (e == 2 * j0 + 5 && e < 2 * j1 - 6) e = 2 * j1 - 6;  // skip the middle
    const std::int64_t r = mirrorIndex(static_cast<std::int32_t>(e), height);
    if (r >= 2 * j0 && r < 2 * j1) continue;
    bool seen = false;
    for (int k = 0; k < doneCount; ++k) seen = seen || done[k] == r;
    if (seen) continue;
    done[doneCount++] = r;
    rowToFloats(plane[r], width, half, taps, rows.row(r));
  }
}

// Output pairs j and, with `both`, j + 1 from the ring's float rows `in`
// (rows 2j - 4 .. 2j + 6 as the column reads them), over the whole width.
// Two pairs at once read eleven rows for four outputs instead of nine for two.
void columnSteps(const float* const* in, bool both, std::uint8_t* const* out, std::int64_t width,
                 const AnalysisTaps& taps, const std::uint8_t* nextA,
                 const std::uint8_t* nextB) {
  const std::int64_t wWhole = width / kLanes * kLanes;
  std::int64_t v = 0;
  for (; v < wWhole; v += kLanes) {
    // The source rows the next step converts come from memory meanwhile.
    if (v % 64 == 0) {
      __builtin_prefetch(nextA + v);
      __builtin_prefetch(nextB + v);
    }
    VFloat s[11];
    for (int k = 0; k < 9; ++k) s[k] = loadFloats(in[k] + v);
    VFloat low, high;
    analyse(s, taps, low, high);
    storeBytes(out[0] + v, low, kLanes);
    storeBytes(out[1] + v, high, kLanes);
    if (both) {
      s[9] = loadFloats(in[9] + v);
      s[10] = loadFloats(in[10] + v);
      analyse(s + 2, taps, low, high);
      storeBytes(out[2] + v, low, kLanes);
      storeBytes(out[3] + v, high, kLanes);
    }
  }
  if (v < width) {
    VFloat s[11];
    for (int k = 0; k < (both ? 11 : 9); ++k) s[k] = loadFloats(in[k] + v);
    VFloat low, high;
    analyse(s, taps, low, high);
    storeBytes(out[0] + v, low, width - v);
    storeBytes(out[1] + v, high, width - v);
    if (both) {
      analyse(s + 2, taps, low, high);
      storeBytes(out[2] + v, low, width - v);
      storeBytes(out[3] + v, high, width - v);
    }
  }
}

void forward2dRun(SamplePlane plane, std::int32_t width, std::int32_t height, std::int64_t j0,
                  std::int64_t j1, float* ring, std::int64_t stride,
                  const DwtFusedProgress* progress) {
  const FusedRing rows{ring, stride, 2 * j1};
  const std::int64_t half = static_cast<std::int64_t>(static_cast<std::uint32_t>(width) >> 1);
  const AnalysisTaps taps = analysisTaps();
  const std::int64_t ownEnd = smaller(2 * j1, height);
  std::int64_t next = 2 * j0;  // the next own row to convert
  std::int64_t reported = j0;  // pairs before this are reported as final
  for (std::int64_t j = j0; j < j1; j += 2) {
    const bool both = j + 1 < j1;
    const std::int64_t reach = both ? 2 * j + 7 : 2 * j + 5;  // rows read, up to
    for (; next < smaller(reach, ownEnd); ++next) {
      rowToFloats(plane[next], width, half, taps, rows.row(next));
    }
    const float* in[11];
    for (int k = 0; k < (both ? 11 : 9); ++k) {
      const std::int64_t e = 2 * j + k - 4;
      in[k] = rows.row(e >= 0 && e < height ? e : mirrorIndex(static_cast<std::int32_t>(e), height));
    }
    std::uint8_t* const out[4] = {plane[2 * j], plane[2 * j + 1], both ? plane[2 * j + 2] : nullptr,
                                  both ? plane[2 * j + 3] : nullptr};
    // The rows the next step converts first (any row will do past the end).
    const std::uint8_t* nextA = plane[smaller(next, ownEnd - 1)];
    const std::uint8_t* nextB = plane[smaller(next + 1, ownEnd - 1)];
    columnSteps(in, both, out, width, taps, nextA, nextB);
    const std::int64_t done = both ? j + 2 : j + 1;
    if (progress != nullptr && (done - reported >= kFusedReportPairs || done == j1)) {
      progress->pairsDone(progress->context, reported, done);
      reported = done;
    }
  }
}

}  // namespace

extern const DwtPassSet DWT97_PASS_SET;
const DwtPassSet DWT97_PASS_SET = {DWT97_PASS_SET_NAME, forwardRows,      forwardColumns,
                                   inverseColumns,      inverseRows,      forward2dPrepare,
                                   forward2dRun,        inverseColumnsSpan, inverseRowsSpan,
                                   tryForwardColumns,   tryInverseColumns};
