// The pass sets this build offers and the processor runs, found once, on
// first use, fastest first: the choice every fast operation makes.
#include "filterbank/kernels/kernels.h"

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

}  // namespace

int dwtPassSets(const DwtPassSet* const** sets) {
  *sets = available().sets;
  return available().count;
}

const DwtPassSet& dwtFastestPassSet() { return *available().sets[0]; }
