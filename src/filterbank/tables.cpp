// The filter bank's constant data and small conversions: the six filters in
// single precision, whole-sample symmetric extension, the most levels a
// picture allows, and the two ways a filtered value returns to a byte.
#include "dwt97/filterbank.h"

// Coefficients are the single-precision values nearest the exact CDF 9/7
// coefficients; the synthesis pieces are copies or exact negations of them.
const AnalysisLowTaps analysisLow = {
    {-4.0f, -3.0f, -2.0f, -1.0f, 0.0f, 1.0f, 2.0f, 3.0f, 4.0f},
    {0.0267487578f, -0.0168641191f, -0.0782232657f, 0.266864121f, 0.602949023f, 0.266864121f,
     -0.0782232657f, -0.0168641191f, 0.0267487578f}};

const AnalysisHighTaps analysisHigh = {{-2.0f, -1.0f, 0.0f, 1.0f, 2.0f, 3.0f, 4.0f},
                                       {0.0456358828f, -0.0287717637f, -0.295635879f, 0.557543516f,
                                        -0.295635879f, -0.0287717637f, 0.0456358828f}};

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

int dwtMostLevels(std::int32_t width, std::int32_t height) {
  int most = 1;
  for (; width / 2 >= 2 && height / 2 >= 2; width /= 2, height /= 2) ++most;
  return most;
}

std::uint8_t dwtTruncateToByte(float value) {
  // Inside (-2^31, 2^31) the conversion is defined; everything else (NaN
  // included) stands for -2^31, whose low byte is 0.
  if (!(value > -2147483648.0f && value < 2147483648.0f)) return 0;
  const std::int32_t whole = static_cast<std::int32_t>(value);
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(whole) & 0xFFu);
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
