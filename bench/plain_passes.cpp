// The public passes of dwt97_plain: the plain versions, for whole-run
// comparisons with dwt97.
#include "dwt97/filterbank.h"
#include "reference_passes.h"

void dwtForwardRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                    std::int32_t height) {
  plainForwardRows(dst, src, width, height);
}

void dwtForwardColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                       std::int32_t height) {
  plainForwardColumns(dst, src, width, height);
}

void dwtInverseColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                       std::int32_t halfHeight) {
  plainInverseColumns(dst, src, halfWidth, halfHeight);
}

void dwtInverseRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                    std::int32_t halfHeight) {
  plainInverseRows(dst, src, halfWidth, halfHeight);
}
