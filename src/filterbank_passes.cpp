// The public passes: each runs the fastest pass set this processor supports,
// chosen once, on first use.
#include "dwt97/filterbank.h"
#include "filterbank_kernels.h"

// The pass sets the build compiled (see CMakeLists.txt).
#if defined(DWT97_X86_PASS_SETS)
extern const DwtPassSet dwtPassSetAvx512;
extern const DwtPassSet dwtPassSetAvx2;
extern const DwtPassSet dwtPassSetSse2;
#else
extern const DwtPassSet dwtPassSetPortable;
#endif

namespace {

struct Available {
  const DwtPassSet* sets[4];
  int count = 0;
};

Available findAvailable() {
  Available found;
#if defined(DWT97_X86_PASS_SETS)
  __builtin_cpu_init();
  // The checks include the operating system's support for the wider registers.
  if (__builtin_cpu_supports("avx512f")) found.sets[found.count++] = &dwtPassSetAvx512;
  if (__builtin_cpu_supports("avx2")) found.sets[found.count++] = &dwtPassSetAvx2;
  found.sets[found.count++] = &dwtPassSetSse2;
#else
  found.sets[found.count++] = &dwtPassSetPortable;
#endif
  return found;
}

const Available& available() {
  static const Available found = findAvailable();
  return found;
}

}  // namespace

int dwtPassSets(const DwtPassSet* const** sets) {
  *sets = available().sets;
  return available().count;
}

void dwtForwardRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                    std::int32_t height) {
  available().sets[0]->forwardRows(dst, src, width, height);
}

void dwtForwardColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                       std::int32_t height) {
  available().sets[0]->forwardColumns(dst, src, width, height);
}

void dwtInverseColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                       std::int32_t halfHeight) {
  available().sets[0]->inverseColumns(dst, src, halfWidth, halfHeight);
}

void dwtInverseRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                    std::int32_t halfHeight) {
  available().sets[0]->inverseRows(dst, src, halfWidth, halfHeight);
}
