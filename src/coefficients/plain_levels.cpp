// The levels one line at a time, on the calling thread: rows in place
// through a copy of the row, columns through a copy of the column. Plain
// code, each sum a filter walk from +0.0: the definition the fast levels
// are held to, and what planes too wide for their rings take.
#include <cstdint>

#include "coefficients/levels.h"
#include "core/allocator.h"
#include "dwt97/filterbank.h"
#include "dwt97/filters.h"

namespace dwt97::detail {
namespace {

std::int32_t reflect(std::int64_t q, std::int32_t n) {
  return mirrorIndex(static_cast<std::int32_t>(q), n);
}

// The analysis of line x (n >= 2) into y: low band, then high band.
void analyzeLine(const float* x, std::int32_t n, float* y) {
  const std::int64_t lows = (std::int64_t{n} + 1) / 2, highs = n / 2;
  for (std::int64_t j = 0; j < lows; ++j) {
    float sum = 0.0f;
    dwtWalk(analysisLow,
            [&](std::int32_t k, float c) { sum = c * x[reflect(2 * j + k, n)] + sum; });
    y[j] = sum;
  }
  for (std::int64_t j = 0; j < highs; ++j) {
    float sum = 0.0f;
    dwtWalk(analysisHigh,
            [&](std::int32_t k, float c) { sum = c * x[reflect(2 * j + k, n)] + sum; });
    y[lows + j] = sum;
  }
}

// The synthesis of line x (n >= 2, low band then high band) into y. The tap
// at position p of an output pair j reads the band entry of signal position
// 2(j - p) (low) or 2(j - p) + 1 (high), reflected into the line.
void synthesizeLine(const float* x, std::int32_t n, float* y) {
  const std::int64_t lows = (std::int64_t{n} + 1) / 2;
  const auto low = [&](std::int64_t j, std::int32_t p) { return x[reflect(2 * (j - p), n) / 2]; };
  const auto high = [&](std::int64_t j, std::int32_t p) {
    return x[lows + (reflect(2 * (j - p) + 1, n) - 1) / 2];
  };
  for (std::int64_t j = 0; 2 * j < n; ++j) {
    float even = 0.0f;
    dwtWalk(synthesisEvenLow, [&](std::int32_t p, float c) { even = c * low(j, p) + even; });
    dwtWalk(synthesisEvenHigh, [&](std::int32_t p, float c) { even = c * high(j, p) + even; });
    y[2 * j] = even * 2.0f;
    if (2 * j + 1 == n) break;
    float odd = 0.0f;
    dwtWalk(synthesisOddLow, [&](std::int32_t p, float c) { odd = c * low(j, p) + odd; });
    dwtWalk(synthesisOddHigh, [&](std::int32_t p, float c) { odd = c * high(j, p) + odd; });
    y[2 * j + 1] = odd * 2.0f;
  }
}

using LineFilter = void (*)(const float*, std::int32_t, float*);

// One line filter over every row, then every column (or the reverse), of
// the top-left w x h block of `out`.
void filterBlock(FloatPlane out, std::int32_t w, std::int32_t h, LineFilter filter,
                 bool columnsFirst, float* line, float* result) {
  const auto rows = [&] {
    if (w < 2) return;
    for (std::int64_t r = 0; r < h; ++r) {
      float* row = out.row(r);
      for (std::int64_t c = 0; c < w; ++c) line[c] = row[c];
      filter(line, w, row);
    }
  };
  const auto columns = [&] {
    if (h < 2) return;
    for (std::int64_t c = 0; c < w; ++c) {
      for (std::int64_t r = 0; r < h; ++r) line[r] = out.row(r)[c];
      filter(line, h, result);
      for (std::int64_t r = 0; r < h; ++r) out.row(r)[c] = result[r];
    }
  };
  if (columnsFirst) {
    columns();
    rows();
  } else {
    rows();
    columns();
  }
}

template <typename In>
std::optional<Failure> run(const PlaneView<In>& in, FloatPlane out, int levels, bool synthesis) {
  const std::int64_t longest = in.width > in.height ? in.width : in.height;
  float* lines = nullptr;
  if (auto failure = allocateZeroed(static_cast<std::size_t>(2 * longest), &lines)) return failure;
  for (std::int64_t r = 0; r < in.height; ++r) {
    for (std::int64_t c = 0; c < in.width; ++c) out.row(r)[c] = static_cast<float>(in.row(r)[c]);
  }
  std::int32_t widths[32], heights[32];
  widths[0] = in.width;
  heights[0] = in.height;
  for (int k = 1; k < levels; ++k) {
    widths[k] = (widths[k - 1] + 1) / 2;
    heights[k] = (heights[k - 1] + 1) / 2;
  }
  for (int step = 0; step < levels; ++step) {
    const int k = synthesis ? levels - 1 - step : step;
    filterBlock(out, widths[k], heights[k], synthesis ? synthesizeLine : analyzeLine, synthesis,
                lines, lines + longest);
  }
  releaseZeroed(lines);
  return std::nullopt;
}

}  // namespace

std::optional<Failure> analyzeLevelsPlain(ConstBytePlane in, FloatPlane out, int levels) {
  return run(in, out, levels, false);
}

std::optional<Failure> analyzeLevelsPlain(ConstFloatPlane in, FloatPlane out, int levels) {
  return run(in, out, levels, false);
}

std::optional<Failure> synthesizeLevelsPlain(ConstFloatPlane in, FloatPlane out, int levels) {
  return run(in, out, levels, true);
}

}  // namespace dwt97::detail
