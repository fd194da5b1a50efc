// Internal to the filter bank: the sets of fast passes, one per instruction
// set the build offers, and the choice among them at run time.
#pragma once

#include <cstdint>

#include "dwt97/planes.h"

using DwtPass = void (*)(SamplePlane dst, const std::uint8_t* const* src, std::int32_t a, std::int32_t b);

// One implementation of every pass, all built for the same instruction set.
struct DwtPassSet {
  const char* name;  // "avx512", "avx2", "sse2", "generic" or "scalar"
  DwtPass forwardRows;
  DwtPass forwardColumns;
  DwtPass inverseColumns;
  DwtPass inverseRows;
};

// The pass sets this build offers that this processor can run, fastest
// first; the first is the one the public passes use. Returns their count.
int dwtPassSets(const DwtPassSet* const** sets);
