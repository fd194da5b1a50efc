// The public passes of dwt97_plain: the plain versions, for whole-run
// comparisons with dwt97.
#include <cstring>

#include "dwt97/filterbank.h"
#include "dwt97/planes.h"
#include "core/report.h"
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

// The plain row pass into a zero-filled scratch plane, then the plain column
// pass back into the cleared plane: the bytes the fused transform gives.
void dwtForward2d(SamplePlane plane, std::int32_t width, std::int32_t height, int) {
  if (width <= 0 || height <= 0) return;
  dwt97::PlaneBuffer scratch = dwt97::planeAllocate(width, height, "dwtForward2d");
  plainForwardRows(scratch.rows, plane, width, height);
  for (std::int32_t r = 0; r < height; ++r) std::memset(plane[r], 0, static_cast<std::size_t>(width));
  plainForwardColumns(plane, scratch.rows, width, height);
  dwt97::planeRelease(&scratch);
}

void dwtForward2dStreaming(SamplePlane plane, std::int32_t width, std::int32_t height,
                           int threads, DwtResultRows rowsDone, void* context) {
  dwtForward2d(plane, width, height, threads);
  if (width > 0 && height > 0) rowsDone(context, plane, 0, height);
}

std::optional<dwt97::Failure> dwt97::tryForward2dStreaming(SamplePlane plane, std::int32_t width,
                                                           std::int32_t height, int threads,
                                                           DwtResultRows rowsDone,
                                                           void* context) {
  dwtForward2dStreaming(plane, width, height, threads, rowsDone, context);
  return std::nullopt;
}

// Each level through the plain dwtForward2d, which works on the band's
// columns alone and keeps the rows where they are.
void dwtForward2dLevels(SamplePlane plane, std::int32_t width, std::int32_t height, int levels,
                        int threads) {
  const int most = dwtMostLevels(width, height);
  if (levels > most) dwt97::detail::failTooManyLevels("dwtForward2dLevels", most);
  for (int level = 1; level <= levels; ++level, width /= 2, height /= 2)
    dwtForward2d(plane, width, height, threads);
}

std::optional<dwt97::Failure> dwt97::tryForward2dLevels(SamplePlane plane, std::int32_t width,
                                                        std::int32_t height, int levels,
                                                        int threads) {
  if (levels > dwtMostLevels(width, height)) return dwt97::Failure::tooManyLevels;
  dwtForward2dLevels(plane, width, height, levels, threads);
  return std::nullopt;
}
