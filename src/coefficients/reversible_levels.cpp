// The levels of the reversible 5/3 over a pass set's lifting kernels.
//
// A level of the analysis streams through its block in output pairs: pair i
// lifts input rows 2i + 1 and 2i + 2 along the row into lines of the
// thread's own, predicts high row i from the low rows on either side, and
// then updates low row i, whose two high neighbours are done; each row goes
// to the output once final. Each thread takes a span of pairs and lifts for
// itself the few rows beyond its span that it reads. Level k + 1 reads its
// block from a copy of level k's low-low band, which it overwrites.
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

#include "coefficients/levels.h"
#include "coefficients/reversible.h"
#include "core/allocator.h"
#include "filterbank/threads.h"

namespace dwt97::detail {
namespace {

using Step = DwtLiftStep;

std::int64_t ceilHalf(std::int64_t n) { return (n + 1) / 2; }

// Int32 lines, per thread, from one zeroed block, each from a 64-byte
// boundary.
struct Lines {
  std::int32_t* block = nullptr;
  std::int64_t each = 0;
  ~Lines() { releaseZeroed(block); }
  std::optional<Failure> take(int threads, int perThread, std::int64_t width) {
    each = (width + dwtLiftWork(width) + 15) / 16 * 16;
    return allocateZeroed(static_cast<std::size_t>(threads) * perThread * each + 16, &block);
  }
  std::int32_t* of(int thread, int perThread, int k) const {
    const std::uintptr_t start =
        (reinterpret_cast<std::uintptr_t>(block) + 63) & ~std::uintptr_t{63};
    return reinterpret_cast<std::int32_t*>(start) + (std::int64_t{thread} * perThread + k) * each;
  }
};

// Row r of `src`, `w` samples, lifted into y (copied where w is 1).
template <typename In>
void liftInto(const DwtPassSet& set, const PlaneView<In>& src, std::int64_t r, std::int32_t w,
              std::int32_t* y, std::int32_t* work) {
  const In* x = src.row(r);
  if (w == 1) {
    y[0] = x[0];
  } else if constexpr (std::is_same_v<In, const std::int32_t>) {
    set.liftRow(x, w, y, work);
  } else {
    set.liftBytes(x, w, y, work);
  }
}

// Pairs [i0, i1) of one analysis level of the w x h block `src` into `dst`.
// The rows are lifted and predicted in lines of the thread's own, and each
// goes to `dst` once final.
template <typename In>
void analyzeSpan(const DwtPassSet& set, const PlaneView<In>& src, IntPlane dst, std::int64_t i0,
                 std::int64_t i1, std::int32_t* const* line) {
  const std::int32_t w = src.width, h = src.height;
  const std::int64_t lows = ceilHalf(h), highs = h / 2;
  std::int32_t *low = line[0], *nextLow = line[1], *previous = line[2], *odd = line[3],
               *spare = line[4], *work = line[5];
  if (h == 1) {
    liftInto(set, src, 0, w, low, work);
    set.storeRow(dst.row(0), low, w);
    set.finishRows();
    return;
  }
  liftInto(set, src, 2 * i0, w, low, work);
  if (i0 > 0) {
    // High row i0 - 1, which the update of low row i0 reads, made here.
    liftInto(set, src, 2 * i0 - 1, w, previous, work);
    liftInto(set, src, 2 * i0 - 2, w, spare, work);
    set.liftColumns(previous, previous, spare, low, w, Step::predict);
  }
  for (std::int64_t i = i0; i < i1; ++i) {
    const std::int32_t* before = previous;
    const std::int32_t* current = previous;  // the last low row of an odd block
    if (i < highs) {
      const std::int32_t* next = low;  // position h reflects onto h - 2
      if (2 * i + 2 < h) {
        liftInto(set, src, 2 * i + 2, w, nextLow, work);
        next = nextLow;
      }
      liftInto(set, src, 2 * i + 1, w, odd, work);
      set.liftColumns(odd, odd, low, next, w, Step::predict);
      set.storeRow(dst.row(lows + i), odd, w);
      current = odd;
      if (i == 0) before = odd;  // position -1 reflects onto 1
    }
    set.liftColumns(low, low, before, current, w, Step::update);
    set.storeRow(dst.row(i), low, w);
    std::swap(low, nextLow);
    std::swap(previous, odd);  // high row i is the next pair's previous one
  }
  set.finishRows();
}

// Low row i of a synthesis level, its first `lw` samples from `lowLow` and
// the rest from the bands, with its update undone into `into`.
struct SynthesisLevel {
  ConstIntPlane lowLow, bands;
  IntPlane out;
  std::int64_t lw, lows, highs;

  const std::int32_t* high(std::int64_t i) const { return bands.row(lows + i); }
  void lowInto(const DwtPassSet& set, std::int64_t i, std::int32_t* into) const {
    const std::int64_t rest = out.width - lw;
    if (highs == 0) {
      std::memcpy(into, lowLow.row(i), static_cast<std::size_t>(lw) * sizeof(std::int32_t));
      std::memcpy(into + lw, bands.row(i) + lw,
                  static_cast<std::size_t>(rest) * sizeof(std::int32_t));
      return;
    }
    const std::int32_t* after = i < highs ? high(i) : high(i - 1);
    const std::int32_t* before = i == 0 ? after : high(i - 1);
    set.liftColumns(into, lowLow.row(i), before, after, lw, Step::unupdate);
    set.liftColumns(into + lw, bands.row(i) + lw, before + lw, after + lw, rest, Step::unupdate);
  }
  // Row z unlifted along the row, through the line `row`, into output row r.
  void unliftInto(const DwtPassSet& set, const std::int32_t* z, std::int64_t r, std::int32_t* row,
                  std::int32_t* work) const {
    if (out.width == 1) {
      out.row(r)[0] = z[0];
    } else {
      set.unliftRow(z, out.width, row, work);
      set.storeRow(out.row(r), row, out.width);
    }
  }
};

void synthesizeSpan(const DwtPassSet& set, const SynthesisLevel& level, std::int64_t i0,
                    std::int64_t i1, std::int32_t* const* line) {
  std::int32_t *even = line[0], *next = line[1], *odd = line[2], *row = line[3], *work = line[4];
  level.lowInto(set, i0, even);
  for (std::int64_t i = i0; i < i1; ++i) {
    if (i < level.highs) {
      const std::int32_t* after = even;  // position h reflects onto h - 2
      if (i + 1 < level.lows) {
        level.lowInto(set, i + 1, next);
        after = next;
      }
      set.liftColumns(odd, level.high(i), even, after, level.out.width, Step::unpredict);
      level.unliftInto(set, even, 2 * i, row, work);
      level.unliftInto(set, odd, 2 * i + 1, row, work);
    } else {
      level.unliftInto(set, even, 2 * i, row, work);
    }
    std::swap(even, next);
  }
  set.finishRows();
}

constexpr int kLinesPerThread = 6;

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

template <typename In>
std::optional<Failure> analyzeLevels53(const DwtPassSet& set, const PlaneView<In>& in, IntPlane out,
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

}  // namespace

std::optional<Failure> analyze53With(const DwtPassSet& set, ConstBytePlane in, IntPlane out,
                                     int levels, int threads) {
  return analyzeLevels53(set, in, out, levels, threads);
}

std::optional<Failure> analyze53With(const DwtPassSet& set, ConstIntPlane in, IntPlane out,
                                     int levels, int threads) {
  return analyzeLevels53(set, in, out, levels, threads);
}

std::optional<Failure> synthesize53With(const DwtPassSet& set, ConstIntPlane in, IntPlane out,
                                        int levels, int threadsWanted) {
  if (levels == 0) {
    for (std::int64_t r = 0; r < in.height; ++r) {
      std::memcpy(out.row(r), in.row(r), static_cast<std::size_t>(in.width) * sizeof(std::int32_t));
    }
    return std::nullopt;
  }
  const Blocks blocks(in.width, in.height, levels);
  const std::int32_t *w = blocks.w, *h = blocks.h;
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
