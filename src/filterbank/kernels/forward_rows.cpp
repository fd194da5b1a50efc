// The forward row pass of one pass set.
#include "filterbank/kernels/common.h"

namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE {

void forwardRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                 std::int32_t height) {
  const std::int32_t n = width;
  if (n < 0) return;  // (no lines to filter; guards the unsigned shift below)
  const std::int64_t half = static_cast<std::int64_t>(static_cast<std::uint32_t>(n) >> 1);
  if (half == 0) return;
  const AnalysisTaps taps;
  for (std::int32_t r = 0; r < height; ++r) {
    std::uint8_t* y = dst[r];
    filterRow(src[r], n, half, taps, [y, half](auto d, std::int64_t j, auto low, auto high) {
      using D = decltype(d);
      D::storeTruncated(y + j, low);
      D::storeTruncated(y + half + j, high);
    });
  }
}

}  // namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE
