// What the x86 lane primitives share: the intrinsics and the generic lanes
// they specialise.
#pragma once

// GCC 12 warns, wrongly, about the undefined vector some of these intrinsics
// start from.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include "filterbank/simd/lanes.h"
