// The coefficient operations: the checks every one makes before it touches
// the output, and the levels, each run by the filter bank's fastest pass set
// (coefficients/levels.h).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

#include "coefficients/levels.h"
#include "core/report.h"
#include "dwt97/coefficients.h"
#include "dwt97/filterbank.h"

namespace dwt97 {
namespace {

template <typename In>
std::optional<Error> analyze(const PlaneView<In>& in, FloatPlane out, int levels, int threads) {
  if (auto error = detail::checkPlanes(in, out, levels, "dwtAnalyze")) return error;
  return detail::named(detail::analyzeLevels(in, out, levels, threads), "dwtAnalyze");
}

}  // namespace

int dwtMostAnalysisLevels(std::int32_t width, std::int32_t height) {
  std::int64_t w = width, h = height;
  int levels = 0;
  while (w > 1 || h > 1) {
    w = (w + 1) / 2;
    h = (h + 1) / 2;
    ++levels;
  }
  return levels;
}

std::optional<Error> dwtAnalyze(ConstBytePlane in, FloatPlane out, int levels, int threads) {
  return analyze(in, out, levels, threads);
}

std::optional<Error> dwtAnalyze(ConstFloatPlane in, FloatPlane out, int levels, int threads) {
  return analyze(in, out, levels, threads);
}

std::optional<Error> dwtSynthesize(ConstFloatPlane in, FloatPlane out, int levels, int threads) {
  if (auto error = detail::checkPlanes(in, out, levels, "dwtSynthesize")) return error;
  return detail::named(detail::synthesizeLevels(in, out, levels, threads), "dwtSynthesize");
}

std::optional<Error> dwtRoundToBytes(ConstFloatPlane in, BytePlane out) {
  if (in.width < 1 || in.height < 1 || in.width != out.width || in.height != out.height) {
    return Error{Failure::planeShapes, "dwtRoundToBytes", 0};
  }
  for (std::int64_t r = 0; r < in.height; ++r) {
    const float* x = in.row(r);
    std::uint8_t* y = out.row(r);
    for (std::int64_t c = 0; c < in.width; ++c) {
      // Compared before converting, so that no value outside the byte range
      // (nor NaN, which fails both tests) is ever converted.
      const float v = x[c];
      y[c] = v >= 255.0f ? 255 : v > 0.0f ? static_cast<std::uint8_t>(std::nearbyint(v)) : 0;
    }
  }
  return std::nullopt;
}

}  // namespace dwt97
