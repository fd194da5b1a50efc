// One level of the float synthesis of one pass set (see DwtSynthesisLevel):
// for each output pair the columns are synthesised into two float rows,
// which the row synthesis then turns into the pair's output rows.
#include "filterbank/kernels/coefficients.h"

namespace {

// Ring slots: the even and odd rows of the column synthesis of two pairs
// in 0 to 3; in place, the span's own low-low rows t in 4 + t % 8, the
// others it reads in 12 to 15, in the order foreignLowLow() gives.
constexpr int kOwnSlots = 8;
constexpr int kForeignSlot = 4 + kOwnSlots;
static_assert(kSynthesisRingRows == kForeignSlot + 4, "four rows, eight own and four others");
// A band row takes bandRowFloats(n) <= 2 ceil(n/2) + 174 <= n + 175 floats.
static_assert(175 <= kSynthesisRowSlack, "a band row fits a ring row");

// The low-band index that band index t (j - 2 + k for the tap of pair j)
// stands for in a column of n: its signal position 2t reflected.
std::int64_t lowEntry(std::int64_t t, std::int32_t n) { return reflected(2 * t, n) / 2; }
std::int64_t highEntry(std::int64_t t, std::int32_t n) { return (reflected(2 * t + 1, n) - 1) / 2; }

// The low-low rows pairs [j0, j1) read outside their own rows j0 .. j1 - 1
// (each pair reads band indices j - 1 .. j + 2). Returns their count.
int foreignLowLow(std::int32_t height, std::int64_t j0, std::int64_t j1, std::int64_t (&rows)[4]) {
  int count = 0;
  for (std::int64_t j = j0; j < j1; ++j) {
    if (j == j0 + 2 && j < j1 - 3) j = j1 - 3;  // the middle reads its own rows
    for (int k = 1; k < 5; ++k) {
      const std::int64_t t = lowEntry(j - 2 + k, height);
      if (t >= j0 && t < j1) continue;
      bool seen = false;
      for (int m = 0; m < count; ++m) seen = seen || rows[m] == t;
      if (!seen && count < 4) rows[count++] = t;
    }
  }
  return count;
}

void copyFloats(const float* in, std::int64_t count, float* out) {
  std::memcpy(out, in, static_cast<std::size_t>(count) * sizeof(float));
}

// The low-low rows of a span: read where they lie, or in place from the
// ring copies made before the outputs overwrite them.
struct LowLowRows {
  const DwtSynthesisLevel& level;
  float* ring;
  std::int64_t stride, j0, j1;
  std::int64_t foreign[4];
  int foreignCount;

  LowLowRows(const DwtSynthesisLevel& l, float* r, std::int64_t s, std::int64_t first,
             std::int64_t end)
      : level(l), ring(r), stride(s), j0(first), j1(end) {
    foreignCount = l.inPlace ? foreignLowLow(l.height, j0, j1, foreign) : 0;
  }
  float* slot(std::int64_t t) const {
    if (t >= j0 && t < j1) return ring + (4 + t % kOwnSlots) * stride;
    int k = 0;
    while (k < foreignCount - 1 && foreign[k] != t) ++k;
    return ring + (kForeignSlot + k) * stride;
  }
  const float* row(std::int64_t t) const {
    return level.inPlace ? slot(t) : level.lowLow.row<const float>(t);
  }
  void keep(std::int64_t t, std::int64_t lows) const {
    copyFloats(level.lowLow.row<const float>(t), lows, slot(t));
  }
};

// A row of the column synthesis: its low band and its high band, laid out
// for the row synthesis (see padBands) in one ring row.
// Each band sits as the rows it is made from are aligned (`lowFrom` and
// `highFrom`), so that the column synthesis stores aligned where it loads so.
struct BandRow {
  float* low;
  float* high;
  BandRow(float* ring, std::int32_t width, const float* lowFrom, const float* highFrom)
      : low(ring + kBandPad + pastBoundary(lowFrom)),
        high(ring + highAt(width) + pastBoundary(highFrom)) {}
};

// The row synthesis of `row` into `out`; a row of 1 passes through.
void finishRow(const BandRow& row, std::int32_t width, const SynthesisTaps& taps, float* out,
               bool final) {
  if (width == 1) {
    copyFinal(row.low, 1, out);
  } else {
    padBands(row.low, row.high, width);
    synthesizeRow(row.low, row.high, width, taps, out, final);
  }
}

}  // namespace

namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE {

void synthesizePrepare(const DwtSynthesisLevel& level, std::int64_t j0, std::int64_t j1,
                       float* ring, std::int64_t stride) {
  if (!level.inPlace || level.height < 2) return;
  const LowLowRows lowLow(level, ring, stride, j0, j1);
  const std::int64_t lows = (std::int64_t{level.width} + 1) / 2;
  for (int k = 0; k < lowLow.foreignCount; ++k) lowLow.keep(lowLow.foreign[k], lows);
}

void synthesize(const DwtSynthesisLevel& level, std::int64_t j0, std::int64_t j1, float* ring,
                std::int64_t stride) {
  const std::int32_t w = level.width, h = level.height;
  const std::int64_t lows = (std::int64_t{w} + 1) / 2, highs = w / 2;
  const SynthesisTaps taps;
  const float* firstHigh = level.bands.row<const float>(h > 1 ? (std::int64_t{h} + 1) / 2 : 0);
  BandRow rows[4] = {{ring, w, firstHigh, firstHigh + lows},
                     {ring + stride, w, firstHigh, firstHigh + lows},
                     {ring + 2 * stride, w, firstHigh, firstHigh + lows},
                     {ring + 3 * stride, w, firstHigh, firstHigh + lows}};
  if (h == 1) {  // the rows alone
    copyFloats(level.lowLow.row<const float>(0), lows, rows[0].low);
    copyFloats(level.bands.row<const float>(0) + lows, highs, rows[0].high);
    finishRow(rows[0], w, taps, level.out.row<float>(0), level.outFinal);
    Full::finishFinal();
    return;
  }
  const LowLowRows lowLow(level, ring, stride, j0, j1);
  const std::int64_t highRow0 = (std::int64_t{h} + 1) / 2;  // the first high-band row
  std::int64_t next = j0;                                   // the next own low-low row to keep
  for (std::int64_t j = j0; j < j1; j += 2) {
    // Pairs j and j + 1 read band indices j - 2 .. j + 3.
    const bool both = j + 1 < j1;
    if (level.inPlace) {
      for (; next < j1 && next <= j + (both ? 3 : 2); ++next) lowLow.keep(next, lows);
    }
    const float* ll[6] = {};
    const float* hl[6] = {};
    const float* lh[6] = {};
    const float* hh[6] = {};
    for (int k = 0; k < (both ? 6 : 5); ++k) {
      if (k > 0) {
        const std::int64_t t = lowEntry(j - 2 + k, h);
        ll[k] = lowLow.row(t);
        hl[k] = level.bands.row<const float>(t) + lows;
      }
      const float* high = level.bands.row<const float>(highRow0 + highEntry(j - 2 + k, h));
      lh[k] = high;
      hh[k] = high + lows;
    }
    // The band rows the next sweep reads first come from memory meanwhile.
    Ahead lowAhead, highAhead;
    for (std::int64_t t = j + 4; t < smaller(j + 6, highRow0); ++t) {
      const float* high = level.bands.row<const float>(highRow0 + t);
      lowAhead.add(level.lowLow.row<const float>(t));
      lowAhead.add(high);
      highAhead.add(level.bands.row<const float>(t) + lows);
      highAhead.add(high + lows);
    }
    // Each pair's odd row exists where the column has a sample for it.
    const auto odd = [h](std::int64_t pair) { return 2 * pair + 1 < h; };
    float* lowOut[4] = {rows[0].low, odd(j) ? rows[1].low : nullptr, rows[2].low,
                        both && odd(j + 1) ? rows[3].low : nullptr};
    float* highOut[4] = {rows[0].high, odd(j) ? rows[1].high : nullptr, rows[2].high,
                         both && odd(j + 1) ? rows[3].high : nullptr};
    synthesizeColumns(ll, lh, both, lows, lowOut, taps, lowAhead);
    synthesizeColumns(hl, hh, both, highs, highOut, taps, highAhead);
    for (int r = 0; r < (both ? 4 : 2); ++r) {
      if (lowOut[r] != nullptr) {
        finishRow(rows[r], w, taps, level.out.row<float>(2 * j + r), level.outFinal);
      }
    }
  }
  Full::finishFinal();
}

}  // namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE
