// The levels of the reversible 5/3 over a pass set's lifting kernels.
//
// A level of the analysis streams through its block in output pairs: pair i
// lifts input rows 2i + 1 and 2i + 2 along the row, straight into output
// rows ceil(h/2) + i and i + 1, predicts high row i from the low rows on
// either side, and then updates low row i, whose two high neighbours are
// done. Each thread takes a span of pairs and lifts for itself, into rows
// of its own, the few rows beyond its span that it reads. Level k + 1 reads
// its block from a copy of level k's low-low band, which it overwrites.
//
// A level of the synthesis streams the same way: pair i undoes the update
// of low row i + 1 (into a line), undoes the prediction of high row i, and
// unlifts both rows along the row into output rows 2i and 2i + 1. It reads
// the bands from the input and the low-low band from the level below's
// result, which lies in a scratch plane until the first level writes the
// output.
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>
#include <utility>

#include "coefficients/reversible.h"
#include "core/allocator.h"
#include "filterbank/threads.h"

namespace dwt97::detail {
namespace {

using Step = DwtLiftStep;

std::int64_t ceilHalf(std::int64_t n) { return (n + 1) / 2; }

// Int32 lines, per thread, from one zeroed block.
struct Lines {
  std::int32_t* block = nullptr;
  std::int64_t each = 0;
  ~Lines() { releaseZeroed(block); }
  std::optional<Failure> take(int threads, int perThread, std::int64_t width) {
    each = width + dwtLiftWork(width);
    return allocateZeroed(static_cast<std::size_t>(threads) * perThread * each, &block);
  }
  std::int32_t* of(int thread, int perThread, int k) const {
    return block + (std::int64_t{thread} * perThread + k) * each;
  }
};

// Row r of `src`, `w` samples, lifted into y (copied where w is 1).
template <typename In>
void liftInto(const DwtPassSet& set, const PlaneView<In>& src, std::int64_t r, std::int32_t w,
              std::int32_t* y, std::int32_t* line, std::int32_t* work) {
  const In* x = src.row(r);
  const std::int32_t* samples;
  if constexpr (std::is_same_v<In, const std::int32_t>) {
    samples = x;
  } else {
    for (std::int64_t c = 0; c < w; ++c) line[c] = x[c];
    samples = line;
  }
  if (w == 1) {
    y[0] = samples[0];
  } else {
    set.liftRow(samples, w, y, work);
  }
}

// Pairs [i0, i1) of one analysis level of the w x h block `src` into `dst`.
template <typename In>
void analyzeSpan(const DwtPassSet& set, const PlaneView<In>& src, IntPlane dst, std::int64_t i0,
                 std::int64_t i1, std::int32_t* const* line) {
  const std::int32_t w = src.width, h = src.height;
  const std::int64_t lows = ceilHalf(h), highs = h / 2;
  std::int32_t *convert = line[0], *work = line[1], *nextLow = line[2], *prevHigh = line[3],
               *before = line[4];
  const auto low = [&](std::int64_t i) { return dst.row(i); };
  const auto high = [&](std::int64_t i) { return dst.row(lows + i); };
  if (h == 1) {
    liftInto(set, src, 0, w, dst.row(0), convert, work);
    return;
  }
  liftInto(set, src, 2 * i0, w, low(i0), convert, work);
  if (i0 > 0) {
    // High row i0 - 1, which the update of low row i0 reads, made here.
    liftInto(set, src, 2 * i0 - 1, w, prevHigh, convert, work);
    liftInto(set, src, 2 * i0 - 2, w, before, convert, work);
    set.liftColumns(prevHigh, prevHigh, before, low(i0), w, Step::predict);
  }
  for (std::int64_t i = i0; i < i1; ++i) {
    const std::int32_t* previous = i == i0 ? prevHigh : high(i - 1);
    const std::int32_t* current = previous;  // the last low row of an odd block
    if (i < highs) {
      const std::int32_t* next = low(i);  // position h reflects onto h - 2
      if (2 * i + 2 < h) {
        std::int32_t* into = i + 1 < i1 ? low(i + 1) : nextLow;
        liftInto(set, src, 2 * i + 2, w, into, convert, work);
        next = into;
      }
      liftInto(set, src, 2 * i + 1, w, high(i), convert, work);
      set.liftColumns(high(i), high(i), low(i), next, w, Step::predict);
      current = high(i);
      if (i == 0) previous = current;  // position -1 reflects onto 1
    }
    set.liftColumns(low(i), low(i), previous, current, w, Step::update);
  }
}

// Low row i of a synthesis level, its first `lw` samples from `lowLow` and
// the rest from the bands, with its update undone into `into`.
struct SynthesisLevel {
  ConstIntPlane lowLow, bands;
  IntPlane out;
  std::int64_t lw, lows, highs;

  const std::int32_t* high(std::int64_t i) const { return bands.row(lows + i); }
  void lowInto(const DwtPassSet& set, std::int64_t i, std::int32_t* into) const {
    std::memcpy(into, lowLow.row(i), static_cast<std::size_t>(lw) * sizeof(std::int32_t));
    std::memcpy(into + lw, bands.row(i) + lw,
                static_cast<std::size_t>(out.width - lw) * sizeof(std::int32_t));
    if (highs == 0) return;
    const std::int32_t* after = i < highs ? high(i) : high(i - 1);
    const std::int32_t* before = i == 0 ? after : high(i - 1);
    set.liftColumns(into, into, before, after, out.width, Step::unupdate);
  }
  void unliftInto(const DwtPassSet& set, const std::int32_t* z, std::int64_t r,
                  std::int32_t* work) const {
    if (out.width == 1) {
      out.row(r)[0] = z[0];
    } else {
      set.unliftRow(z, out.width, out.row(r), work);
    }
  }
};

void synthesizeSpan(const DwtPassSet& set, const SynthesisLevel& level, std::int64_t i0,
                    std::int64_t i1, std::int32_t* const* line) {
  std::int32_t *even = line[0], *next = line[1], *odd = line[2], *work = line[3];
  level.lowInto(set, i0, even);
  for (std::int64_t i = i0; i < i1; ++i) {
    if (i < level.highs) {
      const std::int32_t* after = even;  // position h reflects onto h - 2
      if (i + 1 < level.lows) {
        level.lowInto(set, i + 1, next);
        after = next;
      }
      set.liftColumns(odd, level.high(i), even, after, level.out.width, Step::unpredict);
      level.unliftInto(set, even, 2 * i, work);
      level.unliftInto(set, odd, 2 * i + 1, work);
    } else {
      level.unliftInto(set, even, 2 * i, work);
    }
    std::swap(even, next);
  }
}

constexpr int kLinesPerThread = 5;

// The lines of every thread of every level, taken before the first level
// changes anything: no later level runs more threads, or wider rows, than
// the first.
struct Threads {
  int requested = 0;
  int most = 1;
  Lines lines;
  std::optional<Failure> take(int threads, std::int32_t width, std::int32_t height) {
    requested = threads;
    most = threadCount(threads, ceilHalf(height), std::int64_t{width} * height);
    return lines.take(most, kLinesPerThread, width);
  }
  // run(i0, i1, lines) over spans of `pairs` pairs of a w x h block.
  template <typename Run>
  void overSpans(std::int64_t pairs, std::int32_t w, std::int32_t h, const Run& run) const {
    int parts = threadCount(requested, pairs, std::int64_t{w} * h);
    if (parts > most) parts = most;
    runParts(parts, [&](int k) {
      const std::int64_t i0 = partStart(pairs, parts, k), i1 = partStart(pairs, parts, k + 1);
      std::int32_t* own[kLinesPerThread];
      for (int l = 0; l < kLinesPerThread; ++l) own[l] = lines.of(k, kLinesPerThread, l);
      if (i0 < i1) run(i0, i1, own);
    });
  }
};

template <typename T>
PlaneView<T> block(const PlaneView<T>& plane, std::int32_t w, std::int32_t h) {
  return {plane.data, plane.rowStride, w, h};
}

template <typename In>
void analyzeLevel(const DwtPassSet& set, const PlaneView<In>& src, IntPlane dst,
                  const Threads& threads) {
  threads.overSpans(ceilHalf(src.height), src.width, src.height,
                    [&](std::int64_t i0, std::int64_t i1, std::int32_t* const* line) {
                      analyzeSpan(set, src, dst, i0, i1, line);
                    });
}

}  // namespace

template <typename In>
std::optional<Failure> analyze53With(const DwtPassSet& set, const PlaneView<In>& in, IntPlane out,
                                     int levels, int threadsWanted) {
  if (levels == 0) {
    for (std::int64_t r = 0; r < in.height; ++r) {
      for (std::int64_t c = 0; c < in.width; ++c) out.row(r)[c] = in.row(r)[c];
    }
    return std::nullopt;
  }
  Threads threads;
  if (auto failure = threads.take(threadsWanted, in.width, in.height)) return failure;
  std::int32_t* copy = nullptr;
  const std::int32_t w1 = static_cast<std::int32_t>(ceilHalf(in.width));
  const std::int32_t h1 = static_cast<std::int32_t>(ceilHalf(in.height));
  if (levels > 1) {
    if (auto failure = allocateZeroed(static_cast<std::size_t>(w1) * h1, &copy)) return failure;
  }
  analyzeLevel(set, in, out, threads);
  std::int32_t w = in.width, h = in.height;
  for (int k = 1; k < levels; ++k) {
    w = static_cast<std::int32_t>(ceilHalf(w));
    h = static_cast<std::int32_t>(ceilHalf(h));
    const IntPlane lowLow = planeOver(copy, w, h);
    for (std::int64_t r = 0; r < h; ++r) {
      std::memcpy(lowLow.row(r), out.row(r), static_cast<std::size_t>(w) * sizeof(std::int32_t));
    }
    analyzeLevel(set, ConstIntPlane(lowLow), block(out, w, h), threads);
  }
  releaseZeroed(copy);
  return std::nullopt;
}

template std::optional<Failure> analyze53With(const DwtPassSet&, const ConstBytePlane&, IntPlane,
                                              int, int);
template std::optional<Failure> analyze53With(const DwtPassSet&, const ConstIntPlane&, IntPlane,
                                              int, int);

std::optional<Failure> synthesize53With(const DwtPassSet& set, ConstIntPlane in, IntPlane out,
                                        int levels, int threadsWanted) {
  if (levels == 0) {
    for (std::int64_t r = 0; r < in.height; ++r) {
      std::memcpy(out.row(r), in.row(r), static_cast<std::size_t>(in.width) * sizeof(std::int32_t));
    }
    return std::nullopt;
  }
  std::int32_t w[33], h[33];
  w[0] = in.width;
  h[0] = in.height;
  for (int k = 1; k <= levels; ++k) {
    w[k] = static_cast<std::int32_t>(ceilHalf(w[k - 1]));
    h[k] = static_cast<std::int32_t>(ceilHalf(h[k - 1]));
  }
  // Level k > 0 writes scratch[k % 2], which level k - 1 reads.
  std::int32_t* scratch[2] = {nullptr, nullptr};
  Threads threads;
  std::optional<Failure> failure = threads.take(threadsWanted, in.width, in.height);
  if (levels > 1 && !failure)
    failure = allocateZeroed(static_cast<std::size_t>(w[1]) * h[1], &scratch[1]);
  if (levels > 2 && !failure) {
    failure = allocateZeroed(static_cast<std::size_t>(w[2]) * h[2], &scratch[0]);
  }
  ConstIntPlane lowLow = in;
  for (int k = levels - 1; k >= 0 && !failure; --k) {
    SynthesisLevel level;
    level.lowLow = lowLow;
    level.bands = block(in, w[k], h[k]);
    level.out = k == 0 ? out : planeOver(scratch[k % 2], w[k], h[k]);
    level.lw = w[k + 1];
    level.lows = h[k + 1];
    level.highs = h[k] / 2;
    threads.overSpans(level.lows, w[k], h[k],
                      [&](std::int64_t i0, std::int64_t i1, std::int32_t* const* line) {
                        synthesizeSpan(set, level, i0, i1, line);
                      });
    lowLow = level.out;
  }
  releaseZeroed(scratch[0]);
  releaseZeroed(scratch[1]);
  return failure;
}

}  // namespace dwt97::detail
