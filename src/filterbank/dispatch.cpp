// The filter bank's public operations: each runs the fastest pass set this
// processor supports (sets.cpp). The operations of
// namespace dwt97 return their failures; their process-ending namesakes
// report them.
#include <cstdint>
#include <optional>

#include "core/report.h"
#include "dwt97/filterbank.h"
#include "filterbank/kernels/kernels.h"

using dwt97::Error;
using dwt97::Failure;
using dwt97::detail::named;
using dwt97::detail::report;

namespace {

const DwtPassSet& fastest() { return dwtFastestPassSet(); }

// A levels failure as the operation reports it: running out of memory is
// the transform's, too many levels names the most there are.
std::optional<Error> levelsError(const std::optional<Failure>& failure, std::int32_t width,
                                 std::int32_t height) {
  if (failure == Failure::tooManyLevels) {
    return Error{Failure::tooManyLevels, "dwtForward2dLevels", dwtMostLevels(width, height)};
  }
  return named(failure, "dwtForward2d");
}

}  // namespace

std::optional<Error> dwt97::dwtForwardColumns(SamplePlane dst, const std::uint8_t* const* src,
                                              std::int32_t width, std::int32_t height,
                                              int threads) {
  return named(dwtForwardColumnsWith(fastest(), dst, src, width, height, threads),
               "dwtForwardColumns");
}

std::optional<Error> dwt97::dwtForward2d(SamplePlane plane, std::int32_t width, std::int32_t height,
                                         int threads) {
  return named(dwtForward2dWith(fastest(), plane, width, height, threads), "dwtForward2d");
}

std::optional<Error> dwt97::dwtForward2dStreaming(SamplePlane plane, std::int32_t width,
                                                  std::int32_t height, int threads,
                                                  DwtResultRows rowsDone, void* context) {
  return named(dwtForward2dWith(fastest(), plane, width, height, threads, rowsDone, context),
               "dwtForward2d");
}

std::optional<Error> dwt97::dwtForward2dLevels(SamplePlane plane, std::int32_t width,
                                               std::int32_t height, int levels, int threads) {
  return levelsError(dwtForward2dLevelsWith(fastest(), plane, width, height, levels, threads),
                     width, height);
}

std::optional<Error> dwt97::dwtForward2dInRows(SamplePlane plane, std::int32_t width,
                                               std::int32_t height, int levels, int threads) {
  return levelsError(dwtForward2dLevelsWith(fastest(), plane, width, height, levels, threads, true),
                     width, height);
}

std::optional<Error> dwt97::dwtForward2dInto(SamplePlane dst, const std::uint8_t* const* src,
                                             std::int32_t width, std::int32_t height, int threads) {
  return named(dwtForward2dLevelsIntoWith(fastest(), dst, src, width, height, 1, threads),
               "dwtForward2d");
}

std::optional<Error> dwt97::dwtForward2dLevelsInto(SamplePlane dst, const std::uint8_t* const* src,
                                                   std::int32_t width, std::int32_t height,
                                                   int levels, int threads) {
  return levelsError(
      dwtForward2dLevelsIntoWith(fastest(), dst, src, width, height, levels, threads), width,
      height);
}

std::optional<Error> dwt97::dwtInverseColumns(SamplePlane dst, const std::uint8_t* const* src,
                                              std::int32_t halfWidth, std::int32_t halfHeight,
                                              int threads) {
  return named(dwtInverseColumnsWith(fastest(), dst, src, halfWidth, halfHeight, threads),
               "dwtInverseColumns");
}

void dwtForwardRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                    std::int32_t height, int threads) {
  dwtForwardRowsWith(fastest(), dst, src, width, height, threads);
}

void dwtForwardColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                       std::int32_t height, int threads) {
  report(dwt97::dwtForwardColumns(dst, src, width, height, threads));
}

void dwtForward2d(SamplePlane plane, std::int32_t width, std::int32_t height, int threads) {
  report(dwt97::dwtForward2d(plane, width, height, threads));
}

void dwtForward2dStreaming(SamplePlane plane, std::int32_t width, std::int32_t height, int threads,
                           DwtResultRows rowsDone, void* context) {
  report(dwt97::dwtForward2dStreaming(plane, width, height, threads, rowsDone, context));
}

void dwtForward2dLevels(SamplePlane plane, std::int32_t width, std::int32_t height, int levels,
                        int threads) {
  report(dwt97::dwtForward2dLevels(plane, width, height, levels, threads));
}

void dwtForward2dInto(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                      std::int32_t height, int threads) {
  report(dwt97::dwtForward2dInto(dst, src, width, height, threads));
}

void dwtForward2dLevelsInto(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                            std::int32_t height, int levels, int threads) {
  report(dwt97::dwtForward2dLevelsInto(dst, src, width, height, levels, threads));
}

void dwtInverseColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                       std::int32_t halfHeight, int threads) {
  report(dwt97::dwtInverseColumns(dst, src, halfWidth, halfHeight, threads));
}

void dwtInverseRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                    std::int32_t halfHeight, int threads) {
  dwtInverseRowsWith(fastest(), dst, src, halfWidth, halfHeight, threads);
}
