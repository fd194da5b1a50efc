// What the kernels of a pass set share: the loop over lanes, the filters
// applied to vectors, and the conversions of whole lines to floats. Every
// kernel unit is compiled once per pass set, with DWT97_SIMD_HEADER naming
// the lane primitives of its instruction set and DWT97_PASS_SET_NAMESPACE
// the namespace its kernels go to.
//
// The arithmetic is exactly that of the plain passes: every output is the
// sum of its products in ascending tap position, each product rounded to
// single precision and each addition a separate instruction (the build
// forbids contraction into fused multiply-adds). Vectors run across outputs,
// never across the taps of one output, so each lane computes one output as
// the scalar code would. A sum starts from its first product rather than
// from +0.0: that can only change the sign of a zero sum, which converts to
// the same byte either way.
#pragma once

#include <cstdint>

#include "dwt97/filterbank.h"
#include "filterbank/kernels/kernels.h"

#ifndef DWT97_SIMD_HEADER
#error "DWT97_SIMD_HEADER must be defined by the build"
#endif
#include DWT97_SIMD_HEADER

namespace {

// Runs body(Full{}, i) for i = begin, begin + Full::lanes, ... while a whole
// vector fits before `end`, then body(OneLane{}, i) for each index left: one
// body serves the vectors and the tail.
template <typename Body>
inline void forEachLane(std::int64_t begin, std::int64_t end, Body&& body) {
  std::int64_t i = begin;
  for (; i + Full::lanes <= end; i += Full::lanes) body(Full{}, i);
  for (; i < end; ++i) body(OneLane{}, i);
}

// Runs body(Full{}, i) over [begin, end) for bodies that may run twice on
// an index (each writes outputs that depend on nothing it writes): the
// first vector at `begin`, then whole vectors from the first index where
// anchor + step * index lies on a vector's boundary (so that stores there,
// and to rows aligned alike, are aligned), and the last one ending at
// `end`, overlapping what came before. Spans shorter than a vector go one
// lane at a time.
template <typename Body>
inline void forEachVector(std::int64_t begin, std::int64_t end, const float* anchor,
                          std::int64_t step, Body&& body) {
  if (end - begin < Full::lanes) {
    for (std::int64_t i = begin; i < end; ++i) body(OneLane{}, i);
    return;
  }
  constexpr std::uintptr_t bytes = sizeof(float) * Full::lanes;
  const auto at = reinterpret_cast<std::uintptr_t>(anchor + step * begin);
  const auto perIndex = static_cast<std::uintptr_t>(step) * sizeof(float);
  std::int64_t i = begin;
  if (at % bytes != 0) {
    body(Full{}, begin);
    i += at % perIndex == 0 ? static_cast<std::int64_t>((bytes - at % bytes) / perIndex)
                            : Full::lanes;
  }
  for (; i + Full::lanes <= end; i += Full::lanes) body(Full{}, i);
  if (i < end) body(Full{}, end - Full::lanes);
}

// forEachVector for bodies whose stores must not overlap (final outputs,
// which may go past the caches, where a line written twice costs dearly):
// body(d, i, first, last) stores only lanes [first, last) of its vectors.
// The first vector keeps the lanes before the aligned ones, the last the
// lanes after them; spans shorter than a vector go one lane at a time.
template <typename Body>
inline void forEachVectorStored(std::int64_t begin, std::int64_t end, const float* anchor,
                                std::int64_t step, Body&& body) {
  constexpr int lanes = Full::lanes;
  if (end - begin < lanes) {
    for (std::int64_t i = begin; i < end; ++i) body(OneLane{}, i, 0, 1);
    return;
  }
  constexpr std::uintptr_t bytes = sizeof(float) * lanes;
  const auto at = reinterpret_cast<std::uintptr_t>(anchor + step * begin);
  const auto perIndex = static_cast<std::uintptr_t>(step) * sizeof(float);
  const int head =
      at % perIndex == 0 ? static_cast<int>((bytes - at % bytes) % bytes / perIndex) : 0;
  std::int64_t i = begin;
  if (head > 0) {
    body(Full{}, i, 0, head);
    i += head;
  }
  for (; i + lanes <= end; i += lanes) body(Full{}, i, 0, lanes);
  if (i < end) body(Full{}, end - lanes, lanes - static_cast<int>(end - i), lanes);
}

// Outputs per row chunk of the row passes: the float copies of a chunk's
// inputs stay in the first-level cache.
constexpr std::int64_t kRowChunk = 2048;
// Entries of a chunk's float copies: the outputs' reach of four more, and a
// vector of zeros beyond for the whole-vector reads.
constexpr std::int64_t kRowChunkFloats = kRowChunk + 4 + 2 * Full::lanes;

inline std::int64_t smaller(std::int64_t a, std::int64_t b) { return a < b ? a : b; }

// The analysis coefficients, one vector per tap, for lanes D.
template <typename D>
struct AnalysisTapsOf {
  AnalysisTapsOf() {
    for (int k = 0; k < 9; ++k) low[k] = D::splat(analysisLow.coefficients[k]);
    for (int k = 0; k < 7; ++k) high[k] = D::splat(analysisHigh.coefficients[k]);
  }
  typename D::V low[9];
  typename D::V high[7];
};

// Coefficients for the whole vectors and for the single lanes of the tail;
// of(d) gives those for lanes of d's type.
template <template <typename> class TapsOf>
struct ForBothLanes {
  TapsOf<Full> full;
  TapsOf<OneLane> one;
  const TapsOf<Full>& of(Full) const { return full; }
  const TapsOf<OneLane>& of(OneLane) const { return one; }
};

using AnalysisTaps = ForBothLanes<AnalysisTapsOf>;

// One vector of low and high outputs. s[k] holds the samples at signal index
// 2j + k - 4 for the lanes' outputs j: the low-pass reads s[0..8] (positions
// -4..4), the high-pass s[2..8] (positions -2..4).
template <typename D>
inline void analyse(const typename D::V* s, const AnalysisTapsOf<D>& taps, typename D::V& low,
                    typename D::V& high) {
  low = taps.low[0] * s[0];
  for (int k = 1; k < 9; ++k) low = taps.low[k] * s[k] + low;
  high = taps.high[0] * s[2];
  for (int k = 1; k < 7; ++k) high = taps.high[k] * s[k + 2] + high;
}

// The synthesis coefficients, one vector per tap, for lanes D.
template <typename D>
struct SynthesisTapsOf {
  SynthesisTapsOf() {
    for (int k = 0; k < 3; ++k) evenLow[k] = D::splat(synthesisEvenLow.coefficients[k]);
    for (int k = 0; k < 4; ++k) evenHigh[k] = D::splat(synthesisEvenHigh.coefficients[k]);
    for (int k = 0; k < 4; ++k) oddLow[k] = D::splat(synthesisOddLow.coefficients[k]);
    for (int k = 0; k < 5; ++k) oddHigh[k] = D::splat(synthesisOddHigh.coefficients[k]);
    two = D::splat(2.0f);
  }
  typename D::V evenLow[3];
  typename D::V evenHigh[4];
  typename D::V oddLow[4];
  typename D::V oddHigh[5];
  typename D::V two;
};

using SynthesisTaps = ForBothLanes<SynthesisTapsOf>;

// One vector of doubled even and odd sums. l[k] and h[k] hold the low- and
// high-band entries at band index j - 2 + k for the lanes' outputs j; the tap
// at position p reads index j - p, that is l[2 - p]. Each sum takes the
// low-band piece, then the high-band piece, in ascending position order.
template <typename D>
inline void synthesise(const typename D::V (&l)[5], const typename D::V (&h)[5],
                       const SynthesisTapsOf<D>& taps, typename D::V& even, typename D::V& odd) {
  even = taps.evenLow[0] * l[3];  // position -1
  for (int k = 1; k < 3; ++k) even = taps.evenLow[k] * l[3 - k] + even;
  for (int k = 0; k < 4; ++k) even = taps.evenHigh[k] * h[3 - k] + even;
  odd = taps.oddLow[0] * l[4];  // position -2
  for (int k = 1; k < 4; ++k) odd = taps.oddLow[k] * l[4 - k] + odd;
  for (int k = 0; k < 5; ++k) odd = taps.oddHigh[k] * h[4 - k] + odd;
  even = even * taps.two;
  odd = odd * taps.two;
}

// The first `count` bytes of `in` as floats.
inline void bytesToFloats(const std::uint8_t* in, std::int64_t count, float* out) {
  forEachLane(0, count, [&](auto d, std::int64_t i) {
    using D = decltype(d);
    D::store(out + i, D::loadBytes(in + i));
  });
}

// Sets entries [from, to) of `out` to zero.
inline void zeroFloats(float* out, std::int64_t from, std::int64_t to) {
  for (std::int64_t i = from; i < to; ++i) out[i] = 0.0f;
}

// The samples of line x (length n) that outputs j0 .. j0+count-1 read, split
// by parity: even[q] = x[2p] and odd[q] = x[2p + 1] for p = j0 - 2 + q,
// reflected where the index leaves the line. Zeros follow, so that the
// whole-vector reads of the last outputs read nothing unset.
inline void loadRowChunk(const std::uint8_t* x, std::int32_t n, std::int64_t half, std::int64_t j0,
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
    const std::uint8_t* pairs = x + 2 * (pBegin + q);
    forEachLane(0, qInside - q, [&](auto d, std::int64_t i) {
      decltype(d)::deinterleaveBytes(pairs + 2 * i, even + q + i, odd + q + i);
    });
    q = qInside;
  }
  for (; q < qEnd; ++q) {
    even[q] = reflected(2 * (pBegin + q));
    odd[q] = reflected(2 * (pBegin + q) + 1);
  }
  zeroFloats(even, q, count + 2 * Full::lanes);
  zeroFloats(odd, q, count + 2 * Full::lanes);
}

// The row pass of line x (n >= 2 samples, `half` = n / 2 output pairs),
// chunk by chunk: store(d, j, low, high) takes the low and the high outputs
// j .. j + D::lanes - 1 for lanes D (the type of d).
template <typename Store>
void filterRow(const std::uint8_t* x, std::int32_t n, std::int64_t half, const AnalysisTaps& taps,
               Store&& store) {
  alignas(64) float even[kRowChunkFloats];
  alignas(64) float odd[kRowChunkFloats];
  for (std::int64_t j0 = 0; j0 < half; j0 += kRowChunk) {
    const std::int64_t count = smaller(kRowChunk, half - j0);
    loadRowChunk(x, n, half, j0, count, even, odd);
    forEachLane(0, count, [&](auto d, std::int64_t v) {
      // Output j = j0 + v reads even/odd from q = v (signal index 2j - 4).
      using D = decltype(d);
      typename D::V e[5], o[5];
      D::window5(even + v, e);
      D::window5(odd + v, o);
      const typename D::V s[9] = {e[0], o[0], e[1], o[1], e[2], o[2], e[3], o[3], e[4]};
      typename D::V low, high;
      analyse(s, taps.of(d), low, high);
      store(d, j0 + v, low, high);
    });
  }
}

}  // namespace
