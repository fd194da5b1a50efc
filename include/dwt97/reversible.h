// The reversible 5/3 wavelet: integers in, integers out, and the exact
// samples back, with no rounding at all.
//
// A line x of n integers becomes its low band, ceil(n/2) entries, followed
// by its high band, floor(n/2) entries, by two lifting steps whose divisions
// round toward minus infinity:
//   H[j] = x[2j+1] - floor((x[2j] + x[2j+2]) / 2)
//   L[j] = x[2j] + floor((y[2j-1] + y[2j+1] + 2) / 4)
// where y holds H at the odd signal positions (y[2j+1] = H[j]) and every
// position q beyond the line is read at mirrorIndex(q, n), the whole-sample
// symmetric extension (so y[-1] = H[0]). A line of 1 passes through. The
// synthesis undoes the two steps in reverse order.
//
// Two dimensions and levels are those of coefficients.h: rows then columns,
// level k + 1 on the low-low band of level k, the layout level by level.
// Every operation runs out of place (`in` is only read) over planes of any
// row stride, on up to `threads` threads (0: the library decides) with the
// same result on any count, and fails, with `out` unchanged, as
// dwtAnalyze() does, naming its own operation.
#pragma once

#include <cstdint>
#include <optional>

#include "dwt97/coefficients.h"
#include "dwt97/export.h"
#include "dwt97/failure.h"

namespace dwt97 {

// The 5/3 analysis of `in` into int32 coefficients `out` over `levels`
// levels. Eight-bit samples fit at every level count a picture allows. For
// int32 samples the operation first bounds what the levels can reach from
// the largest magnitude in `in`; where a coefficient or a sum on the way
// could leave the int32 range it fails with coefficientsOverflow instead
// (samples within +-2^16 fit 11 levels, within +-2^20 7, within +-2^24 4).
// Names "dwtAnalyze53".
[[nodiscard]] DWT97_API std::optional<Error> dwtAnalyze53(ConstBytePlane in, IntPlane out,
                                                          int levels = 1, int threads = 0);
[[nodiscard]] DWT97_API std::optional<Error> dwtAnalyze53(ConstIntPlane in, IntPlane out,
                                                          int levels = 1, int threads = 0);

// The 5/3 synthesis of `levels` levels of coefficients `in` into `out`:
// after dwtAnalyze53 of the same levels, exactly the samples analysed. Any
// other coefficients are accepted: the arithmetic wraps modulo 2^32 where
// their synthesis leaves the int32 range, which is defined but then no
// picture. Names "dwtSynthesize53".
[[nodiscard]] DWT97_API std::optional<Error> dwtSynthesize53(ConstIntPlane in, IntPlane out,
                                                             int levels = 1, int threads = 0);

// The samples of `in` clamped to 0 .. 255: the picture a 5/3 synthesis
// stands for. Fails with planeShapes ("dwtRoundToBytes") when the planes
// differ in shape.
[[nodiscard]] DWT97_API std::optional<Error> dwtRoundToBytes(ConstIntPlane in, BytePlane out);

// The 5/3 coefficients of `levels` levels as a picture to look at, made as
// for the float coefficients (coefficients.h). Names "dwtRenderView".
[[nodiscard]] DWT97_API std::optional<Error> dwtRenderView(ConstIntPlane coefficients,
                                                           BytePlane out, int levels);

}  // namespace dwt97
