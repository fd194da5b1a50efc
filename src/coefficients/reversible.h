// Internal to the reversible 5/3: its levels over planes already checked
// (same shape, at least 1 x 1, no shared memory, a level count the plane
// allows, for the analysis samples that cannot overflow).
#pragma once

#include <optional>

#include "dwt97/coefficients.h"
#include "dwt97/failure.h"
#include "filterbank/kernels/kernels.h"

namespace dwt97::detail {

// The levels by the pass set `set` on up to `threads` threads. Each fails
// only with outOfMemory, having left `out` as it was.
[[nodiscard]] std::optional<Failure> analyze53With(const DwtPassSet& set, ConstBytePlane in,
                                                   IntPlane out, int levels, int threads);
[[nodiscard]] std::optional<Failure> analyze53With(const DwtPassSet& set, ConstIntPlane in,
                                                   IntPlane out, int levels, int threads);
[[nodiscard]] std::optional<Failure> synthesize53With(const DwtPassSet& set, ConstIntPlane in,
                                                      IntPlane out, int levels, int threads);

// The same by plain code, one line at a time, each step as its formula
// reads in 64-bit arithmetic: what the fast levels are held to.
[[nodiscard]] std::optional<Failure> analyze53Plain(ConstIntPlane in, IntPlane out, int levels);
[[nodiscard]] std::optional<Failure> synthesize53Plain(ConstIntPlane in, IntPlane out, int levels);

// The largest magnitude any coefficient, or any sum on the way, can reach
// in `levels` levels of a width x height analysis of samples within
// +-largest.
double reversibleBound(double largest, std::int32_t width, std::int32_t height, int levels);

}  // namespace dwt97::detail
