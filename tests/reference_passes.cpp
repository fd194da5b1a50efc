#include "reference_passes.h"

namespace {

// Filters one line of length n, read through at(i), into outputs stored
// through put(position, byte): low-pass output j at position j, high-pass
// output j at position half + j.
template <typename At, typename Put>
void analyseLine(std::int32_t n, At at, Put put) {
  const std::int32_t half = static_cast<std::int32_t>(static_cast<std::uint32_t>(n) >> 1);
  for (std::int32_t j = 0; j < half; ++j) {
    float low = 0.0f;
    dwtWalk(analysisLow, [&](std::int32_t k, float c) {
      const float s = static_cast<float>(at(mirrorIndex(2 * j + k, n)));
      const float product = s * c;
      low = product + low;
    });
    float high = 0.0f;
    dwtWalk(analysisHigh, [&](std::int32_t k, float c) {
      const float s = static_cast<float>(at(mirrorIndex(2 * j + k, n)));
      const float product = s * c;
      high = product + high;
    });
    put(j, dwtTruncateToByte(low));
    put(half + j, dwtTruncateToByte(high));
  }
}

}  // namespace

void plainForwardRows(SamplePlane dst, const SamplePlane src, std::int32_t width,
                      std::int32_t height) {
  for (std::int32_t r = 0; r < height; ++r) {
    const std::uint8_t* in = src[r];
    std::uint8_t* out = dst[r];
    analyseLine(
        width, [in](std::int32_t i) { return in[i]; },
        [out](std::int32_t i, std::uint8_t v) { out[i] = v; });
  }
}

void plainForwardColumns(SamplePlane dst, const SamplePlane src, std::int32_t width,
                         std::int32_t height) {
  for (std::int32_t c = 0; c < width; ++c) {
    analyseLine(
        height, [src, c](std::int32_t i) { return src[i][c]; },
        [dst, c](std::int32_t i, std::uint8_t v) { dst[i][c] = v; });
  }
}
