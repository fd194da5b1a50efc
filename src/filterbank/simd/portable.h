// Lane primitives for any processor: four floats a vector of the compiler's
// generic vectors (NEON on arm64), or with DWT97_PORTABLE_LANES set to 1,
// plain scalar code.
#pragma once

#include "filterbank/simd/lanes.h"

#ifndef DWT97_PORTABLE_LANES
#error "DWT97_PORTABLE_LANES must be defined by the build"
#endif

namespace {

#if DWT97_PORTABLE_LANES > 1
struct Full : GenericLanes<DWT97_PORTABLE_LANES, Full> {};
#else
struct Full : OneLane {};
#endif

}  // namespace
