// The passes written the plain way, one filter walk per output with the
// reflection on every read: the oracle the fast passes must equal bit for
// bit, and the benchmarks' baseline.
#include "reference_passes.h"

namespace {

// Adds to `sum` the product of each tap's coefficient with sample(k), k the
// tap's position, walking the filter in ascending position order; every
// product is rounded to single precision before it is added.
template <typename Taps, typename Sample>
float accumulate(const Taps& taps, Sample sample, float sum) {
  dwtWalk(taps, [&](std::int32_t k, float c) {
    const float product = static_cast<float>(sample(k)) * c;
    sum = product + sum;
  });
  return sum;
}

// Filters one line of length n, read through at(i), into outputs stored
// through put(position, byte): low-pass output j at position j, high-pass
// output j at position half + j.
template <typename At, typename Put>
void analyseLine(std::int32_t n, At at, Put put) {
  const std::int32_t half = static_cast<std::int32_t>(static_cast<std::uint32_t>(n) >> 1);
  for (std::int32_t j = 0; j < half; ++j) {
    auto sample = [&](std::int32_t k) { return at(mirrorIndex(2 * j + k, n)); };
    const float low = accumulate(analysisLow, sample, 0.0f);
    const float high = accumulate(analysisHigh, sample, 0.0f);
    put(j, dwtTruncateToByte(low));
    put(half + j, dwtTruncateToByte(high));
  }
}

}  // namespace

void plainForwardRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                      std::int32_t height) {
  for (std::int32_t r = 0; r < height; ++r) {
    const std::uint8_t* in = src[r];
    std::uint8_t* out = dst[r];
    analyseLine(
        width, [in](std::int32_t i) { return in[i]; },
        [out](std::int32_t i, std::uint8_t v) { out[i] = v; });
  }
}

void plainForwardColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                         std::int32_t height) {
  for (std::int32_t c = 0; c < width; ++c) {
    analyseLine(
        height, [src, c](std::int32_t i) { return src[i][c]; },
        [dst, c](std::int32_t i, std::uint8_t v) { dst[i][c] = v; });
  }
}

namespace {

// Rebuilds one line from a low band and a high band of length n, read through
// low(t) and high(t); the doubled even and odd sums of each band index j go
// to put(2j, sum) and put(2j + 1, sum). Within each sum the low-band piece
// comes first, then the high-band piece.
template <typename Low, typename High, typename Put>
void synthesiseLine(std::int32_t n, Low low, High high, Put put) {
  for (std::int32_t j = 0; j < n; ++j) {
    // Band entry read for position p: mirrorIndex(j - p, n).
    auto lowAt = [&](std::int32_t p) { return low(mirrorIndex(j - p, n)); };
    auto highAt = [&](std::int32_t p) { return high(mirrorIndex(j - p, n)); };
    const float even =
        accumulate(synthesisEvenHigh, highAt, accumulate(synthesisEvenLow, lowAt, 0.0f));
    const float odd =
        accumulate(synthesisOddHigh, highAt, accumulate(synthesisOddLow, lowAt, 0.0f));
    put(2 * std::int64_t{j}, even * 2.0f);
    put(2 * std::int64_t{j} + 1, odd * 2.0f);
  }
}

}  // namespace

void plainInverseColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                         std::int32_t halfHeight) {
  if (halfWidth <= 0 || halfHeight <= 0) return;
  const std::int64_t n = halfHeight;
  for (std::int64_t i = 0; i < 2 * std::int64_t{halfWidth}; ++i) {
    synthesiseLine(
        halfHeight, [&](std::int32_t t) { return src[t][i]; },
        [&](std::int32_t t) { return src[n + t][i]; },
        [&](std::int64_t row, float sum) { dst[row][i] = dwtTruncateToByte(sum); });
  }
}

void plainInverseRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                      std::int32_t halfHeight) {
  if (halfWidth <= 0 || halfHeight <= 0) return;
  const std::int64_t n = halfWidth;
  for (std::int64_t i = 0; i < 2 * std::int64_t{halfHeight}; ++i) {
    const std::uint8_t* in = src[i];
    std::uint8_t* out = dst[i];
    synthesiseLine(
        halfWidth, [in](std::int32_t t) { return in[t]; },
        [in, n](std::int32_t t) { return in[n + t]; },
        [out](std::int64_t column, float sum) {
          out[column] = static_cast<std::uint8_t>(toSaturatedByte(sum));
        });
  }
}
