// Coefficients, float or integer, as a picture to look at: every band scaled to the bytes on
// its own, the detail bands about a middle grey, the last low-low band
// stretched over the whole range.
#include <cmath>
#include <cstdint>
#include <optional>

#include "coefficients/levels.h"
#include "dwt97/coefficients.h"
#include "dwt97/reversible.h"

namespace dwt97 {
namespace {

// A band: rows [r0, r1) and columns [c0, c1) of the plane.
struct Band {
  std::int64_t r0, r1, c0, c1;
};

// The byte nearest to v (ties to even), clamped; NaN gives `otherwise`.
std::uint8_t toByte(double v, std::uint8_t otherwise) {
  if (std::isnan(v)) return otherwise;
  if (v <= 0.0) return 0;
  if (v >= 255.0) return 255;
  return static_cast<std::uint8_t>(std::nearbyint(v));
}

// Runs use(v, byte) over the band's coefficients, `byte` the output byte of v.
template <typename T, typename Use>
void forBand(PlaneView<const T> in, BytePlane out, const Band& band, Use&& use) {
  for (std::int64_t r = band.r0; r < band.r1; ++r) {
    for (std::int64_t c = band.c0; c < band.c1; ++c) use(in.row(r)[c], out.row(r)[c]);
  }
}

// 128 + 127 v / max|v|, the largest magnitude taken over the finite values.
template <typename T>
void aboutGrey(PlaneView<const T> in, BytePlane out, const Band& band) {
  double largest = 0.0;
  forBand(in, out, band, [&](double v, std::uint8_t&) {
    if (std::isfinite(v) && std::fabs(v) > largest) largest = std::fabs(v);
  });
  forBand(in, out, band, [&](double v, std::uint8_t& byte) {
    byte = largest == 0.0 ? (std::isnan(v) ? 128
                             : v > 0       ? 255
                             : v < 0       ? 0
                                           : 128)
                          : toByte(128.0 + 127.0 * v / largest, 128);
  });
}

// (v - min) 255 / (max - min) over the finite values; 0 where flat.
template <typename T>
void stretch(PlaneView<const T> in, BytePlane out, const Band& band) {
  double low = INFINITY, high = -INFINITY;
  forBand(in, out, band, [&](double v, std::uint8_t&) {
    if (!std::isfinite(v)) return;
    if (v < low) low = v;
    if (v > high) high = v;
  });
  forBand(in, out, band, [&](double v, std::uint8_t& byte) {
    byte = !(high > low) ? (std::isinf(v) && v > 0 ? 255 : 0)
                         : toByte((v - low) * 255.0 / (high - low), 0);
  });
}

template <typename T>
std::optional<Error> render(PlaneView<const T> coefficients, BytePlane out, int levels) {
  if (auto error = detail::checkPlanes(coefficients, out, levels, "dwtRenderView")) return error;
  std::int64_t w = coefficients.width, h = coefficients.height;
  for (int k = 0; k < levels; ++k) {
    const std::int64_t lw = (w + 1) / 2, lh = (h + 1) / 2;
    aboutGrey(coefficients, out, {0, lh, lw, w});  // high along rows
    aboutGrey(coefficients, out, {lh, h, 0, lw});  // high along columns
    aboutGrey(coefficients, out, {lh, h, lw, w});
    w = lw;
    h = lh;
  }
  stretch(coefficients, out, {0, h, 0, w});
  return std::nullopt;
}

}  // namespace

std::optional<Error> dwtRenderView(ConstFloatPlane coefficients, BytePlane out, int levels) {
  return render(coefficients, out, levels);
}

std::optional<Error> dwtRenderView(ConstIntPlane coefficients, BytePlane out, int levels) {
  return render(coefficients, out, levels);
}

}  // namespace dwt97
