#include "filterbank.h"

// Coefficients are the single-precision values nearest the exact CDF 9/7
// coefficients; the synthesis pieces are copies or exact negations of them.
const AnalysisLowTaps analysisLow = {
    {-4.0f, -3.0f, -2.0f, -1.0f, 0.0f, 1.0f, 2.0f, 3.0f, 4.0f},
    {0.0267487578f, -0.0168641191f, -0.0782232657f, 0.266864121f, 0.602949023f, 0.266864121f,
     -0.0782232657f, -0.0168641191f, 0.0267487578f}};

const AnalysisHighTaps analysisHigh = {
    {-2.0f, -1.0f, 0.0f, 1.0f, 2.0f, 3.0f, 4.0f},
    {0.0456358828f, -0.0287717637f, -0.295635879f, 0.557543516f, -0.295635879f, -0.0287717637f,
     0.0456358828f}};

const SynthesisEvenLowTaps synthesisEvenLow = {{-1.0f, 0.0f, 1.0f},
                                               {-0.0287717637f, 0.557543516f, -0.0287717637f}};

const SynthesisEvenHighTaps synthesisEvenHigh = {
    {-1.0f, 0.0f, 1.0f, 2.0f}, {0.0168641191f, -0.266864121f, -0.266864121f, 0.0168641191f}};

const SynthesisOddLowTaps synthesisOddLow = {
    {-2.0f, -1.0f, 0.0f, 1.0f}, {-0.0456358828f, 0.295635879f, 0.295635879f, -0.0456358828f}};

const SynthesisOddHighTaps synthesisOddHigh = {
    {-2.0f, -1.0f, 0.0f, 1.0f, 2.0f},
    {0.0267487578f, -0.0782232657f, 0.602949023f, -0.0782232657f, 0.0267487578f}};

std::int32_t mirrorIndex(std::int32_t i, std::int32_t n) {
  if (n <= 1) return 0;
  const std::int64_t period = 2 * std::int64_t{n} - 2;
  std::int64_t m = i < 0 ? -std::int64_t{i} : std::int64_t{i};
  m %= period;
  if (m >= n) m = period - m;
  return static_cast<std::int32_t>(m);
}

std::uint8_t dwtTruncateToByte(float value) {
  // Inside (-2^31, 2^31) the conversion is defined; everything else (NaN
  // included) stands for -2^31, whose low byte is 0.
  if (!(value > -2147483648.0f && value < 2147483648.0f)) return 0;
  const std::int32_t whole = static_cast<std::int32_t>(value);
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(whole) & 0xFFu);
}

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

void dwtForwardRows(SamplePlane dst, const SamplePlane src, std::int32_t width,
                    std::int32_t height) {
  for (std::int32_t r = 0; r < height; ++r) {
    const std::uint8_t* in = src[r];
    std::uint8_t* out = dst[r];
    analyseLine(
        width, [in](std::int32_t i) { return in[i]; },
        [out](std::int32_t i, std::uint8_t v) { out[i] = v; });
  }
}

void dwtForwardColumns(SamplePlane dst, const SamplePlane src, std::int32_t width,
                       std::int32_t height) {
  for (std::int32_t c = 0; c < width; ++c) {
    analyseLine(
        height, [src, c](std::int32_t i) { return src[i][c]; },
        [dst, c](std::int32_t i, std::uint8_t v) { dst[i][c] = v; });
  }
}

std::int8_t toSaturatedByte(float value) {
  // NaN and values outside the 32-bit range stand for -2^31.
  if (!(value >= -2147483648.0f && value < 2147483648.0f)) return -128;
  float rounded = value;
  if (value > -8388608.0f && value < 8388608.0f) {  // below 2^23 a float may have a fraction
    const float whole = static_cast<float>(static_cast<std::int32_t>(value));
    const float fraction = value - whole;  // exact
    const float away = whole + (value < 0.0f ? -1.0f : 1.0f);
    if (fraction > 0.5f || fraction < -0.5f) {
      rounded = away;
    } else if (fraction == 0.5f || fraction == -0.5f) {
      rounded = (static_cast<std::int32_t>(whole) % 2 == 0) ? whole : away;
    } else {
      rounded = whole;
    }
  }
  if (rounded < -128.0f) return -128;
  if (rounded > 127.0f) return 127;
  return static_cast<std::int8_t>(static_cast<std::int32_t>(rounded));
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

void dwtInverseColumns(SamplePlane dst, const SamplePlane src, std::int32_t halfWidth,
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

void dwtInverseRows(SamplePlane dst, const SamplePlane src, std::int32_t halfWidth,
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
