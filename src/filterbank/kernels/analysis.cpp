// One level of the float analysis of one pass set (see DwtAnalysisLevel):
// each input row is filtered along the row once, into a ring of float rows,
// and the columns are filtered from the ring as the rows come, two output
// pairs per sweep.
#include "filterbank/kernels/coefficients.h"

namespace {

// Where the filtered rows go: row r in slot r % 12, except the rows from
// `trailingFrom` on, which the next span overwrites in place and which the
// span's preparation keeps in slots 12 to 15. A sweep makes pairs j and
// j + 1 and reads the rows at signal index 2j - 4 .. 2j + 6 reflected into
// the column, all within those rows: eleven rows, which twelve slots hold.
struct AnalysisRing {
  float* ring;
  std::int64_t stride;
  std::int64_t trailingFrom;

  float* row(std::int64_t r) const {
    const std::int64_t slot = r >= trailingFrom ? 12 + (r - trailingFrom) : r % 12;
    return ring + slot * stride;
  }
};
static_assert(kAnalysisRingRows == 16, "twelve slots, and four for the next span's rows");

// Filters input row r along the row into `out`: the low outputs of column
// pairs [p0, p1), then their high outputs.
void filterRow(const DwtAnalysisLevel& level, std::int64_t r, std::int64_t p0, std::int64_t p1,
               const AnalysisTaps& taps, float* out) {
  float* high = out + (p1 - p0);
  if (level.inBytes) {
    analyzeRow(level.in.row<const std::uint8_t>(r), level.width, p0, p1, taps, out, high);
  } else {
    analyzeRow(level.in.row<const float>(r), level.width, p0, p1, taps, out, high);
  }
}

// The rows pairs [j0, j1) read that lie outside the span's own rows
// 2 j0 .. 2 j1 - 1: near its ends, or reflected there. Returns their count.
int foreignRows(std::int32_t height, std::int64_t j0, std::int64_t j1, std::int64_t (&rows)[16]) {
  int count = 0;
  for (std::int64_t e = 2 * j0 - 4; e <= 2 * j1 + 2; ++e) {
    if (e == 2 * j0 + 7 && e < 2 * j1 - 8) e = 2 * j1 - 8;  // the middle reads its own rows
    const std::int64_t r = reflected(e, height);
    if (r >= 2 * j0 && r < 2 * j1) continue;
    bool seen = false;
    for (int k = 0; k < count; ++k) seen = seen || rows[k] == r;
    if (!seen) rows[count++] = r;
  }
  return count;
}

}  // namespace

namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE {

void analyzePrepare(const DwtAnalysisLevel& level, std::int64_t j0, std::int64_t j1, float* ring,
                    std::int64_t stride) {
  if (!level.inPlace || level.height < 2) return;
  const AnalysisRing rows{ring, stride, 2 * j1};
  const AnalysisTaps taps;
  const std::int64_t pairs = (std::int64_t{level.width} + 1) / 2;
  std::int64_t foreign[16];
  const int count = foreignRows(level.height, j0, j1, foreign);
  for (int k = 0; k < count; ++k)
    filterRow(level, foreign[k], 0, pairs, taps, rows.row(foreign[k]));
}

void analyze(const DwtAnalysisLevel& level, std::int64_t j0, std::int64_t j1, std::int64_t p0,
             std::int64_t p1, float* ring, std::int64_t stride) {
  const std::int32_t h = level.height;
  const std::int64_t lows = (std::int64_t{level.width} + 1) / 2, highs = level.width / 2;
  const std::int64_t strip = p1 - p0;
  const std::int64_t highStrip = smaller(p1, highs) - p0;  // the strip's high columns
  const AnalysisTaps taps;
  if (h == 1) {  // the rows alone: their outputs are the result
    filterRow(level, 0, p0, p1, taps, ring);
    copyFinal(ring, strip, level.low.row<float>(0) + p0);
    copyFinal(ring + strip, highStrip, level.lowBeyond.row<float>(0) + lows + p0);
    return;
  }
  // In place the span filters its own rows and its preparation the others;
  // otherwise it filters every row it reads, in order.
  const AnalysisRing rows{ring, stride, level.inPlace ? 2 * j1 : INT64_MAX};
  const std::int64_t last = level.inPlace ? smaller(2 * j1, h) : h;
  std::int64_t next = level.inPlace ? 2 * j0 : (2 * j0 - 4 > 0 ? 2 * j0 - 4 : 0);
  const std::int64_t lastHigh = h / 2;  // pairs from here have no high output
  for (std::int64_t j = j0; j < j1; j += 2) {
    const bool both = j + 1 < j1;
    const std::int64_t reach = both ? 2 * j + 7 : 2 * j + 5;  // rows read, up to
    for (; next < smaller(reach, last); ++next)
      filterRow(level, next, p0, p1, taps, rows.row(next));
    // The rows the next sweep filters come from memory meanwhile, two input
    // samples a column of the strip's low part.
    Ahead ahead;
    ahead.step = level.inBytes ? 2 : 8;
    for (std::int64_t r = next; r < smaller(next + 4, last); ++r) {
      if (level.inBytes) {
        ahead.add(level.in.row<const std::uint8_t>(r) + 2 * p0);
      } else {
        ahead.add(level.in.row<const float>(r) + 2 * p0);
      }
    }
    const float* in[11];
    for (int k = 0; k < (both ? 11 : 9); ++k) {
      const std::int64_t e = 2 * j + k - 4;
      in[k] = rows.row(e >= 0 && e < h ? e : reflected(e, h));
    }
    float* lowRows[2] = {level.low.row<float>(j), both ? level.low.row<float>(j + 1) : nullptr};
    float* highRows[2] = {j < lastHigh ? level.high.row<float>(j) : nullptr,
                          both && j + 1 < lastHigh ? level.high.row<float>(j + 1) : nullptr};
    const auto at = [](float* row, std::int64_t column) {
      return row != nullptr ? row + column : nullptr;
    };
    float* lowColumns[4] = {at(lowRows[0], p0), at(highRows[0], p0), at(lowRows[1], p0),
                            at(highRows[1], p0)};
    analyzeColumns(in, both, 0, strip, lowColumns, taps, ahead, level.lowFinal, level.highFinal);
    float* beyond[2] = {level.lowBeyond.row<float>(j),
                        both ? level.lowBeyond.row<float>(j + 1) : nullptr};
    float* highColumns[4] = {at(beyond[0], lows + p0), at(highRows[0], lows + p0),
                             at(beyond[1], lows + p0), at(highRows[1], lows + p0)};
    analyzeColumns(in, both, strip, highStrip, highColumns, taps, Ahead{}, level.lowBeyondFinal,
                   level.highFinal);
  }
  Full::finishFinal();
}

}  // namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE
