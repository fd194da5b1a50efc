// The forward column pass of one pass set.
#include "filterbank/kernels/common.h"

namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE {

void forwardColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                    std::int32_t height, float* ring, std::int64_t strip) {
  const std::int32_t n = height;
  if (n < 0) return;  // (no lines to filter; guards the unsigned shift below)
  const std::int64_t half = static_cast<std::int64_t>(static_cast<std::uint32_t>(n) >> 1);
  if (half == 0 || width <= 0) return;
  const AnalysisTaps taps;
  // Float copies of the rows at signal indices e (reflected into the line),
  // row e in slot (e + 4) % kColumnRingRows; each is made once per strip.
  const auto slot = [ring, strip](std::int64_t e) {
    return ring + ((e + 4) % kColumnRingRows) * strip;
  };
  const auto sourceRow = [src, n](std::int64_t e) {
    return src[mirrorIndex(static_cast<std::int32_t>(e), n)];
  };
  for (std::int64_t c0 = 0; c0 < width; c0 += strip) {
    const std::int64_t w = smaller(strip, width - c0);
    for (std::int64_t e = -4; e <= 2; ++e) bytesToFloats(sourceRow(e) + c0, w, slot(e));
    for (std::int64_t j = 0; j < half; ++j) {
      // Rows 2j + 3 and 2j + 4 are new: converted as they are first read,
      // and kept for the next two output rows.
      const std::uint8_t* new3 = sourceRow(2 * j + 3) + c0;
      const std::uint8_t* new4 = sourceRow(2 * j + 4) + c0;
      float* keep3 = slot(2 * j + 3);
      float* keep4 = slot(2 * j + 4);
      const float* rows[7];
      for (int k = 0; k < 7; ++k) rows[k] = slot(2 * j + k - 4);
      std::uint8_t* lowOut = dst[j] + c0;
      std::uint8_t* highOut = dst[half + j] + c0;
      forEachLane(0, w, [&](auto d, std::int64_t v) {
        using D = decltype(d);
        typename D::V s[9];
        for (int k = 0; k < 7; ++k) s[k] = D::load(rows[k] + v);
        s[7] = D::loadBytes(new3 + v);
        s[8] = D::loadBytes(new4 + v);
        D::store(keep3 + v, s[7]);
        D::store(keep4 + v, s[8]);
        typename D::V low, high;
        analyse(s, taps.of(d), low, high);
        D::storeTruncated(lowOut + v, low);
        D::storeTruncated(highOut + v, high);
      });
    }
  }
}

}  // namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE
