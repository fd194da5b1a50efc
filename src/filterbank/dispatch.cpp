// The filter bank's public operations: each runs the fastest pass set this
// processor supports, chosen once, on first use. The operations of
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

struct Available {
  const DwtPassSet* sets[4];
  int count = 0;
};

// The pass sets the build compiled (see src/filterbank/CMakeLists.txt).
#if defined(DWT97_X86_PASS_SETS)
const DwtPassSet avx512Set = DWT97_PASS_SET_TABLE(avx512, "avx512");
const DwtPassSet avx2Set = DWT97_PASS_SET_TABLE(avx2, "avx2");
const DwtPassSet sse2Set = DWT97_PASS_SET_TABLE(sse2, "sse2");
#else
const DwtPassSet portableSet = DWT97_PASS_SET_TABLE(portable, DWT97_PORTABLE_SET_NAME);
#endif

Available findAvailable() {
  Available found;
#if defined(DWT97_X86_PASS_SETS)
  __builtin_cpu_init();
  // The checks include the operating system's support for the wider registers.
  if (__builtin_cpu_supports("avx512f")) found.sets[found.count++] = &avx512Set;
  if (__builtin_cpu_supports("avx2")) found.sets[found.count++] = &avx2Set;
  found.sets[found.count++] = &sse2Set;
#else
  found.sets[found.count++] = &portableSet;
#endif
  return found;
}

// A function-local static: its first initialisation is thread-safe, so
// concurrent first calls agree on one choice.
const Available& available() {
  static const Available found = findAvailable();
  return found;
}

const DwtPassSet& fastest() { return *available().sets[0]; }

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

int dwtPassSets(const DwtPassSet* const** sets) {
  *sets = available().sets;
  return available().count;
}

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

void dwtInverseColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                       std::int32_t halfHeight, int threads) {
  report(dwt97::dwtInverseColumns(dst, src, halfWidth, halfHeight, threads));
}

void dwtInverseRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                    std::int32_t halfHeight, int threads) {
  dwtInverseRowsWith(fastest(), dst, src, halfWidth, halfHeight, threads);
}
