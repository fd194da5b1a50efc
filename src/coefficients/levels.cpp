// The levels of the float analysis and synthesis over a pass set's kernels:
// which rows each level reads and writes, its spans of output pairs on the
// threads, and the rings they take.
//
// Nothing beyond the planes holds a picture-sized copy. The first level of
// the analysis reads the input and writes the output; it puts its low rows
// in the order the second level reads them (even rows first), so that the
// second level, in place, writes each output pair over the two rows it was
// made from, and its result lies in order. Later levels write each pair
// over its own two rows too, and their rows are then put in order.
//
// The synthesis writes level k's output row i to row 2^(k-1) i of the
// output plane, so level 1 writes the picture in order. Level k reads its
// low-low band from level k + 1's rows there (from the input at the last
// level): row t lies where level k's pair t goes, and the ring keeps it
// from its first read. The other bands are read from the input.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "coefficients/levels.h"
#include "core/allocator.h"
#include "filterbank/threads.h"

namespace dwt97::detail {
namespace {

// Column pairs per strip of the first analysis level: twelve ring rows of
// twice as many floats stay within the second-level cache.
constexpr std::int64_t kStripPairs = 2048;

template <typename T>
DwtRowMap mapOf(const PlaneView<T>& plane) {
  return {reinterpret_cast<unsigned char*>(const_cast<std::remove_const_t<T>*>(plane.data)),
          plane.rowStride * static_cast<std::ptrdiff_t>(sizeof(T))};
}

std::int64_t ceilHalf(std::int64_t n) { return (n + 1) / 2; }

// Float rings for up to `threads` threads of `rows` rows of `stride` floats
// each, within the filter bank's budget; null when one would not fit.
struct Rings {
  unsigned char* block = nullptr;
  std::int64_t each = 0;
  int count = 0;
  ~Rings() { releaseZeroed(block); }
  std::optional<Failure> take(int threads, std::int64_t rows, std::int64_t stride) {
    each = rows * stride;
    const std::int64_t bytes = each * static_cast<std::int64_t>(sizeof(float));
    count = static_cast<int>(smaller(threads, kMaxFusedRingBytes / bytes));
    return allocateRings(count, each, &block);
  }
  float* of(int k) const { return ringOf(block, each, k); }
};

template <typename Work>
void forSpans(std::int64_t pairs, int parts, const Work& work) {
  runParts(parts, [&](int k) {
    const std::int64_t j0 = partStart(pairs, parts, k), j1 = partStart(pairs, parts, k + 1);
    if (j0 < j1) work(k, j0, j1);
  });
}

// Rows [0, h) of columns [0, w) put in order after a level that wrote pair
// j to rows 2j and 2j + 1: row i receives row 2i, and row ceil(h/2) + i row
// 2i + 1. Each cycle of the permutation (whose first rows `leaders` marks)
// moves through one spare row per thread, the threads taking column slices.
void orderRows(FloatPlane out, std::int64_t w, std::int64_t h, const unsigned char* leaders,
               const Rings& rings, std::int64_t spare, int parts) {
  const std::int64_t lows = ceilHalf(h);
  const auto from = [lows](std::int64_t i) { return i < lows ? 2 * i : 2 * (i - lows) + 1; };
  const auto bytes = [](std::int64_t n) { return static_cast<std::size_t>(n) * sizeof(float); };
  runParts(parts, [&](int k) {
    float* held = rings.of(k);
    const std::int64_t c0 = partStart(w, parts, k), c1 = partStart(w, parts, k + 1);
    for (std::int64_t c = c0; c < c1; c += spare) {
      const std::int64_t n = smaller(spare, c1 - c);
      for (std::int64_t s = 0; s < h; ++s) {
        if ((leaders[s / 8] >> (s % 8) & 1) == 0) continue;
        std::memcpy(held, out.row(s) + c, bytes(n));
        std::int64_t i = s;
        for (std::int64_t p = from(i); p != s; i = p, p = from(p)) {
          std::memcpy(out.row(i) + c, out.row(p) + c, bytes(n));
        }
        std::memcpy(out.row(i) + c, held, bytes(n));
      }
    }
  });
}

// Marks in `leaders` the first row of every cycle of orderRows' permutation
// (`seen` is as large, zero-filled).
void markLeaders(std::int64_t h, unsigned char* leaders, unsigned char* seen) {
  const std::int64_t lows = ceilHalf(h);
  for (std::int64_t s = 0; s < h; ++s) {
    if ((seen[s / 8] >> (s % 8) & 1) != 0) continue;
    leaders[s / 8] = static_cast<unsigned char>(leaders[s / 8] | 1 << (s % 8));
    std::int64_t i = s;
    do {
      seen[i / 8] = static_cast<unsigned char>(seen[i / 8] | 1 << (i % 8));
      i = i < lows ? 2 * i : 2 * (i - lows) + 1;
    } while (i != s);
  }
}

template <typename In>
std::optional<Failure> analyze(const DwtPassSet& set, const PlaneView<In>& in, FloatPlane out,
                               int levels, int threads) {
  const Blocks blocks(in.width, in.height, levels);
  const std::int64_t lows = ceilHalf(in.width);
  const std::int64_t strip = smaller(lows, kStripPairs);
  // Later levels work in place on whole rows.
  std::int64_t stride = 2 * strip;
  if (levels > 1) stride = stride > 2 * ceilHalf(blocks.w[1]) ? stride : 2 * ceilHalf(blocks.w[1]);
  stride = roundUp16(stride);
  if (std::int64_t{kAnalysisRingRows} * stride * 4 > kMaxFusedRingBytes) {
    return analyzeLevelsPlain(in, out, levels);
  }
  Rings rings;
  const std::int64_t samples = std::int64_t{in.width} * in.height;
  if (auto f = rings.take(threadCount(threads, ceilHalf(in.height), samples), kAnalysisRingRows,
                          stride)) {
    return f;
  }
  std::int64_t bitBytes = levels > 2 ? (blocks.h[2] + 7) / 8 : 0;
  unsigned char* bits = nullptr;
  if (auto f = allocateZeroed(static_cast<std::size_t>(2 * bitBytes), &bits)) return f;

  DwtAnalysisLevel first;
  first.in = mapOf(in);
  first.inBytes = std::is_same_v<std::remove_const_t<In>, std::uint8_t>;
  first.low = first.lowBeyond = mapOf(out);
  if (levels > 1) first.low.split = ceilHalf(blocks.h[1]);  // the columns the next level reads
  first.high = mapOf(out);
  first.high.offset = ceilHalf(in.height);
  first.width = in.width;
  first.height = in.height;
  // The next level reads the low-low band back at once.
  first.lowFinal = levels == 1;
  first.lowBeyondFinal = first.highFinal = true;
  const std::int64_t pairs = ceilHalf(in.height);
  forSpans(pairs, threadCount(rings.count, pairs, samples),
           [&](int k, std::int64_t j0, std::int64_t j1) {
             for (std::int64_t p0 = 0; p0 < lows; p0 += strip) {
               set.analyze(first, j0, j1, p0, smaller(p0 + strip, lows), rings.of(k), stride);
             }
           });

  for (int k = 1; k < levels; ++k) {
    DwtAnalysisLevel level;
    level.width = blocks.w[k];
    level.height = blocks.h[k];
    level.inPlace = true;
    level.in = level.low = level.high = mapOf(out);
    if (k == 1) {  // rows as the first level left them, the results in order
      level.in.split = ceilHalf(blocks.h[1]);
      level.high.offset = ceilHalf(blocks.h[1]);
    } else {  // each pair over its own two rows
      level.low.scale = level.high.scale = 2;
      level.high.offset = 1;
    }
    level.lowBeyond = level.low;
    const std::int64_t levelPairs = ceilHalf(level.height);
    const int parts =
        threadCount(rings.count, levelPairs, std::int64_t{level.width} * level.height);
    forSpans(levelPairs, parts, [&](int t, std::int64_t j0, std::int64_t j1) {
      set.analyzePrepare(level, j0, j1, rings.of(t), stride);
    });
    forSpans(levelPairs, parts, [&](int t, std::int64_t j0, std::int64_t j1) {
      set.analyze(level, j0, j1, 0, ceilHalf(level.width), rings.of(t), stride);
    });
    if (k > 1 && level.height > 1) {
      std::memset(bits, 0, static_cast<std::size_t>(2 * bitBytes));
      markLeaders(level.height, bits, bits + bitBytes);
      orderRows(out, level.width, level.height, bits, rings, rings.each, parts);
    }
  }
  releaseZeroed(bits);
  return std::nullopt;
}

std::optional<Failure> synthesize(const DwtPassSet& set, ConstFloatPlane in, FloatPlane out,
                                  int levels, int threads) {
  const Blocks blocks(in.width, in.height, levels);
  const std::int64_t stride = roundUp16(in.width + kSynthesisRowSlack);
  if (std::int64_t{kSynthesisRingRows} * stride * 4 > kMaxFusedRingBytes) {
    return synthesizeLevelsPlain(in, out, levels);
  }
  Rings rings;
  const std::int64_t samples = std::int64_t{in.width} * in.height;
  if (auto f = rings.take(threadCount(threads, ceilHalf(in.height), samples), kSynthesisRingRows,
                          stride)) {
    return f;
  }
  for (int k = levels - 1; k >= 0; --k) {
    DwtSynthesisLevel level;
    level.width = blocks.w[k];
    level.height = blocks.h[k];
    level.bands = mapOf(in);
    level.out = mapOf(out);
    level.out.scale = std::int64_t{1} << k;
    level.inPlace = k < levels - 1;
    level.outFinal = k == 0;  // the next level reads the others' rows back at once
    level.lowLow = level.inPlace ? level.out : level.bands;
    if (level.inPlace) level.lowLow.scale = 2 * level.out.scale;
    const std::int64_t pairs = ceilHalf(level.height);
    const int parts = threadCount(rings.count, pairs, std::int64_t{level.width} * level.height);
    if (level.inPlace) {
      forSpans(pairs, parts, [&](int t, std::int64_t j0, std::int64_t j1) {
        set.synthesizePrepare(level, j0, j1, rings.of(t), stride);
      });
    }
    forSpans(pairs, parts, [&](int t, std::int64_t j0, std::int64_t j1) {
      set.synthesize(level, j0, j1, rings.of(t), stride);
    });
  }
  return std::nullopt;
}

template <typename In>
void copyLevel0(const PlaneView<In>& in, FloatPlane out) {
  for (std::int64_t r = 0; r < in.height; ++r) {
    for (std::int64_t c = 0; c < in.width; ++c) out.row(r)[c] = static_cast<float>(in.row(r)[c]);
  }
}

const DwtPassSet& fastest() { return dwtFastestPassSet(); }

}  // namespace

std::optional<Failure> analyzeLevelsWith(const DwtPassSet& set, ConstBytePlane in, FloatPlane out,
                                         int levels, int threads) {
  if (levels == 0) {
    copyLevel0(in, out);
    return std::nullopt;
  }
  return analyze(set, in, out, levels, threads);
}

std::optional<Failure> analyzeLevelsWith(const DwtPassSet& set, ConstFloatPlane in, FloatPlane out,
                                         int levels, int threads) {
  if (levels == 0) {
    copyLevel0(in, out);
    return std::nullopt;
  }
  return analyze(set, in, out, levels, threads);
}

std::optional<Failure> synthesizeLevelsWith(const DwtPassSet& set, ConstFloatPlane in,
                                            FloatPlane out, int levels, int threads) {
  if (levels == 0) {
    copyLevel0(in, out);
    return std::nullopt;
  }
  return synthesize(set, in, out, levels, threads);
}

std::optional<Failure> analyzeLevels(ConstBytePlane in, FloatPlane out, int levels, int threads) {
  return analyzeLevelsWith(fastest(), in, out, levels, threads);
}

std::optional<Failure> analyzeLevels(ConstFloatPlane in, FloatPlane out, int levels, int threads) {
  return analyzeLevelsWith(fastest(), in, out, levels, threads);
}

std::optional<Failure> synthesizeLevels(ConstFloatPlane in, FloatPlane out, int levels,
                                        int threads) {
  return synthesizeLevelsWith(fastest(), in, out, levels, threads);
}

}  // namespace dwt97::detail
