// The reversible 5/3 operations: the checks each makes before it touches
// the output (for the analysis of int32 samples, that none of its sums can
// overflow), then the levels by the filter bank's fastest pass set.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <type_traits>

#include "coefficients/levels.h"
#include "coefficients/reversible.h"
#include "core/report.h"
#include "dwt97/reversible.h"

namespace dwt97 {
namespace detail {

double reversibleBound(double largest, std::int32_t width, std::int32_t height, int levels) {
  // Along a line of samples within +-m: a high entry is within 2m, a low
  // entry within 1.5m + 0.75 (its taps' magnitudes sum to 1.5, the roundings
  // add at most 3/4), and the update's sum of two high entries plus 2
  // within 4m + 2, the largest value on the way.
  double m = largest, peak = largest;
  std::int64_t w = width, h = height;
  for (int k = 0; k < levels; ++k) {
    double low = m, high = m;
    if (w >= 2) {
      peak = std::max(peak, 4 * m + 2);
      low = 1.5 * m + 1;
      high = 2 * m;
    }
    const double either = std::max(low, high);
    if (h >= 2) {
      peak = std::max(peak, 4 * either + 2);
      high = 2 * either;
      low = 1.5 * low + 1;
    }
    peak = std::max(peak, std::max(low, high));
    m = low;
    w = (w + 1) / 2;
    h = (h + 1) / 2;
  }
  return peak;
}

}  // namespace detail

namespace {

constexpr double kLargestInt32 = 2147483647.0;

template <typename In>
std::optional<Error> analyze(const PlaneView<In>& in, IntPlane out, int levels, int threads) {
  const char* operation = "dwtAnalyze53";
  if (auto error = detail::checkPlanes(in, out, levels, operation)) return error;
  double largest = 255.0;
  if constexpr (std::is_same_v<In, const std::int32_t>) {
    std::int64_t most = 0;
    for (std::int64_t r = 0; r < in.height; ++r) {
      for (std::int64_t c = 0; c < in.width; ++c) {
        const std::int64_t v = std::llabs(std::int64_t{in.row(r)[c]});
        if (v > most) most = v;
      }
    }
    largest = static_cast<double>(most);
  }
  // With no level the samples are copied as they are, -2^31 among them.
  if (levels > 0 && detail::reversibleBound(largest, in.width, in.height, levels) > kLargestInt32) {
    return Error{Failure::coefficientsOverflow, operation, 0};
  }
  return detail::named(detail::analyze53With(dwtFastestPassSet(), in, out, levels, threads),
                       operation);
}

}  // namespace

std::optional<Error> dwtAnalyze53(ConstBytePlane in, IntPlane out, int levels, int threads) {
  return analyze(in, out, levels, threads);
}

std::optional<Error> dwtAnalyze53(ConstIntPlane in, IntPlane out, int levels, int threads) {
  return analyze(in, out, levels, threads);
}

std::optional<Error> dwtSynthesize53(ConstIntPlane in, IntPlane out, int levels, int threads) {
  const char* operation = "dwtSynthesize53";
  if (auto error = detail::checkPlanes(in, out, levels, operation)) return error;
  return detail::named(detail::synthesize53With(dwtFastestPassSet(), in, out, levels, threads),
                       operation);
}

std::optional<Error> dwtRoundToBytes(ConstIntPlane in, BytePlane out) {
  if (in.width < 1 || in.height < 1 || in.width != out.width || in.height != out.height) {
    return Error{Failure::planeShapes, "dwtRoundToBytes", 0};
  }
  for (std::int64_t r = 0; r < in.height; ++r) {
    const std::int32_t* x = in.row(r);
    std::uint8_t* y = out.row(r);
    for (std::int64_t c = 0; c < in.width; ++c) {
      y[c] = static_cast<std::uint8_t>(x[c] < 0 ? 0 : x[c] > 255 ? 255 : x[c]);
    }
  }
  return std::nullopt;
}

}  // namespace dwt97
