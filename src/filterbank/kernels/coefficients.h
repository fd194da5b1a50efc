// What the coefficient kernels of a pass set share: whole lines of bytes or
// floats filtered into float bands and back, and the column steps over rows
// of floats. The arithmetic is the byte passes' (see common.h), without
// their conversions to bytes: the low band has ceil(n/2) entries and the
// high band floor(n/2), and the synthesis reads, for each tap, the band
// entry standing for its signal position reflected into the line.
//
// A sum here starts from its first product, where the definition starts
// from +0.0. The two differ only in the sign of a zero sum (the products
// are the same, and adding a zero to a nonzero sum changes nothing), and a
// sum that starts from +0.0 is never -0.0; so every final output gets +0.0
// added, which turns -0.0 into +0.0 and leaves everything else as it is.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "filterbank/kernels/common.h"

namespace {

inline std::int32_t reflected(std::int64_t i, std::int32_t n) {
  return mirrorIndex(static_cast<std::int32_t>(i), n);
}

template <typename D>
inline void deinterleave(D, const std::uint8_t* x, float* even, float* odd) {
  D::deinterleaveBytes(x, even, odd);
}
template <typename D>
inline void deinterleave(D, const float* x, float* even, float* odd) {
  D::deinterleaveFloats(x, even, odd);
}

// The samples of line x (n >= 2 bytes or floats) that pairs j0 ..
// j0 + count - 1 read, by parity: even[q] = x[2p], odd[q] = x[2p + 1] for
// p = j0 - 2 + q, reflected where the index leaves the line; zeros follow,
// for the whole-vector reads of the last pairs.
template <typename T>
inline void loadPairs(const T* x, std::int32_t n, std::int64_t j0, std::int64_t count, float* even,
                      float* odd) {
  const std::int64_t pBegin = j0 - 2;
  const std::int64_t qEnd = count + 4;
  const auto reflectedPair = [&](std::int64_t q) {
    const std::int64_t i = 2 * (pBegin + q);
    even[q] = static_cast<float>(x[reflected(i, n)]);
    odd[q] = static_cast<float>(x[reflected(i + 1, n)]);
  };
  std::int64_t q = 0;
  for (; q < qEnd && pBegin + q < 0; ++q) reflectedPair(q);
  // Below n / 2 both samples of a pair lie inside the line.
  const std::int64_t qInside = smaller(qEnd, n / 2 - pBegin);
  if (qInside > q) {
    const T* pairs = x + 2 * (pBegin + q);
    // Aligned on the line's floats where it has them, on the copies else.
    const float* anchor = even + q;
    std::int64_t step = 1;
    if constexpr (std::is_same_v<T, float>) {
      anchor = pairs;
      step = 2;
    }
    forEachVector(0, qInside - q, anchor, step, [&](auto d, std::int64_t i) {
      deinterleave(d, pairs + 2 * i, even + q + i, odd + q + i);
    });
    q = qInside;
  }
  for (; q < qEnd; ++q) reflectedPair(q);
  zeroFloats(even, q, count + 2 * Full::lanes);
  zeroFloats(odd, q, count + 2 * Full::lanes);
}

// The row analysis of pairs [p0, p1) of line x (n samples): low output j to
// low[j - p0] and high output j to high[j - p0] (for odd n the last pair's
// high output is written too, and means nothing). A line of 1 passes
// through.
template <typename T>
void analyzeRow(const T* x, std::int32_t n, std::int64_t p0, std::int64_t p1,
                const AnalysisTaps& taps, float* low, float* high) {
  if (n == 1) {
    low[0] = static_cast<float>(x[0]);
    return;
  }
  alignas(64) float even[kRowChunkFloats];
  alignas(64) float odd[kRowChunkFloats];
  for (std::int64_t j0 = p0; j0 < p1; j0 += kRowChunk) {
    const std::int64_t count = smaller(kRowChunk, p1 - j0);
    loadPairs(x, n, j0, count, even, odd);
    float* lowOut = low + (j0 - p0);
    float* highOut = high + (j0 - p0);
    forEachVector(0, count, lowOut, 1, [&](auto d, std::int64_t v) {
      using D = decltype(d);
      typename D::V e[5], o[5];
      D::window5(even + v, e);
      D::window5(odd + v, o);
      const typename D::V s[9] = {e[0], o[0], e[1], o[1], e[2], o[2], e[3], o[3], e[4]};
      typename D::V lo, hi;
      analyse(s, taps.of(d), lo, hi);
      D::store(lowOut + v, lo);
      D::store(highOut + v, hi);
    });
  }
}

// Rows a kernel reads next, fetched from memory while a sweep computes from
// those it has: column v of the sweep asks for bytes v * step onwards of
// each row.
struct Ahead {
  const char* rows[4] = {};
  int count = 0;
  std::int64_t step = 4;

  void add(const void* row) { rows[count++] = static_cast<const char*>(row); }
  template <typename D>
  void fetch(D, std::int64_t v) const {
    const std::int64_t end = (v + D::lanes) * step;
    for (std::int64_t at = (v * step + 63) / 64 * 64; at < end; at += 64) {
      for (int k = 0; k < count; ++k) prefetch(rows[k] + at);
    }
  }
};

// Copies `count` floats with +0.0 added: outputs that are final as they are.
inline void copyFinal(const float* in, std::int64_t count, float* out) {
  forEachVector(0, count, out, 1, [&](auto d, std::int64_t v) {
    using D = decltype(d);
    D::store(out + v, D::load(in + v) + D::splat(0.0f));
  });
}

// Pair j and, with `both`, pair j + 1 down `count` columns from column
// `from` of in[k], the float rows at signal index 2j - 4 + k: the low and
// high outputs to out[0] and out[1], those of pair j + 1 to out[2] and
// out[3]. A null high row (the last pair of an odd column) is not written.
//
// The low rows' stores go past the caches with `lowFinal`, the high rows'
// with `highFinal`: only outputs nothing reads again soon should.
inline void analyzeColumns(const float* const* in, bool both, std::int64_t from, std::int64_t count,
                           float* const* out, const AnalysisTaps& taps, const Ahead& ahead,
                           bool lowFinal, bool highFinal) {
  forEachVectorStored(0, count, out[0], 1, [&](auto d, std::int64_t v, int first, int last) {
    using D = decltype(d);
    ahead.fetch(d, v);
    const typename D::V zero = D::splat(0.0f);
    typename D::V s[11];
    for (int k = 0; k < 9; ++k) s[k] = D::load(in[k] + from + v);
    typename D::V low, high;
    analyse(s, taps.of(d), low, high);
    D::storeLanes(out[0] + v, low + zero, first, last, lowFinal);
    if (out[1] != nullptr) D::storeLanes(out[1] + v, high + zero, first, last, highFinal);
    if (both) {
      s[9] = D::load(in[9] + from + v);
      s[10] = D::load(in[10] + from + v);
      analyse(s + 2, taps.of(d), low, high);
      D::storeLanes(out[2] + v, low + zero, first, last, lowFinal);
      if (out[3] != nullptr) D::storeLanes(out[3] + v, high + zero, first, last, highFinal);
    }
  });
}

// A line's bands laid out for its row synthesis: the low band from
// kBandPad floats into the row, the high band from highAt(n) on, each moved
// on by up to 15 floats (to share the alignment of the rows it is made
// from), with room before and after it for the entries beyond its ends; a
// band's vector reads run up to 32 floats past its last pair.
constexpr std::int64_t kBandPad = 16;
inline std::int64_t highAt(std::int32_t n) {
  return kBandPad + ((std::int64_t{n} + 1) / 2 + 4 + 15 + 15) / 16 * 16 + 16;
}
inline std::int64_t bandRowFloats(std::int32_t n) {
  return highAt(n) + ((std::int64_t{n} + 1) / 2 + 15 + 48 + 15) / 16 * 16;
}

// How many floats p lies past a vector boundary.
inline std::int64_t pastBoundary(const float* p) {
  return static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(p) / sizeof(float) %
                                   Full::lanes);
}

// Writes the entries beyond the ends of a line's bands (n >= 2): low entry t
// is that of signal position 2t, high entry t that of 2t + 1, reflected
// into the line, for t from -2 to ceil(n/2) + 1, as the row synthesis reads.
inline void padBands(float* low, float* high, std::int32_t n) {
  const std::int64_t lows = (std::int64_t{n} + 1) / 2, highs = n / 2;
  const auto pad = [&](std::int64_t t) {
    if (t < 0 || t >= lows) low[t] = low[reflected(2 * t, n) / 2];
    if (t < 0 || t >= highs) high[t] = high[(reflected(2 * t + 1, n) - 1) / 2];
  };
  pad(-2);
  pad(-1);
  for (std::int64_t t = highs; t < lows + 2; ++t) pad(t);
}

// The row synthesis of a line of n >= 2 samples into out[0, n), from its
// low band `low` and high band `high`, padded by padBands(); past the caches
// with `final`.
inline void synthesizeRow(const float* low, const float* high, std::int32_t n,
                          const SynthesisTaps& taps, float* out, bool final) {
  const std::int64_t pairs = (std::int64_t{n} + 1) / 2;
  // With an odd n the last pair has its even output alone.
  const std::int64_t whole = n % 2 != 0 ? pairs - 1 : pairs;
  // Output pair i reads band indices i - 2 .. i + 2.
  forEachVectorStored(0, whole, out, 2, [&](auto d, std::int64_t i, int first, int last) {
    using D = decltype(d);
    typename D::V l[5], h[5];
    D::window5Around(low + i, l);
    D::window5Around(high + i, h);
    typename D::V even, odd;
    synthesise(l, h, taps.of(d), even, odd);
    const typename D::V zero = D::splat(0.0f);
    D::storeInterleavedLanes(out + 2 * i, even + zero, odd + zero, first, last, final);
  });
  if (whole < pairs) {
    float l[5], h[5], even, odd;
    OneLane::window5Around(low + whole, l);
    OneLane::window5Around(high + whole, h);
    synthesise(l, h, taps.one, even, odd);
    out[2 * whole] = even + 0.0f;
  }
}

// Output pair j and, with `both`, pair j + 1 of `count` columns of float
// rows: l[k] and h[k] are the low- and high-band rows standing for band
// index j - 2 + k (l[0] is not read; k up to 4, or 5 with both). The
// doubled even and odd sums of pair j go to out[0] and out[1], those of
// pair j + 1 to out[2] and out[3]; a null odd row is not written. The
// vectors are aligned on the high-band rows.
inline void synthesizeColumns(const float* const* l, const float* const* h, bool both,
                              std::int64_t count, float* const* out, const SynthesisTaps& taps,
                              const Ahead& ahead) {
  forEachVector(0, count, h[0], 1, [&](auto d, std::int64_t v) {
    using D = decltype(d);
    ahead.fetch(d, v);
    typename D::V lv[6], hv[6];
    for (int k = 1; k < 5; ++k) lv[k] = D::load(l[k] + v);
    lv[0] = lv[1];
    for (int k = 0; k < 5; ++k) hv[k] = D::load(h[k] + v);
    typename D::V e, o;
    const typename D::V(&l0)[5] = *reinterpret_cast<const typename D::V(*)[5]>(lv);
    const typename D::V(&h0)[5] = *reinterpret_cast<const typename D::V(*)[5]>(hv);
    synthesise(l0, h0, taps.of(d), e, o);
    D::store(out[0] + v, e);
    if (out[1] != nullptr) D::store(out[1] + v, o);
    if (both) {
      lv[5] = D::load(l[5] + v);
      hv[5] = D::load(h[5] + v);
      const typename D::V(&l1)[5] = *reinterpret_cast<const typename D::V(*)[5]>(lv + 1);
      const typename D::V(&h1)[5] = *reinterpret_cast<const typename D::V(*)[5]>(hv + 1);
      synthesise(l1, h1, taps.of(d), e, o);
      D::store(out[2] + v, e);
      if (out[3] != nullptr) D::store(out[3] + v, o);
    }
  });
}

}  // namespace
