// The CDF 9/7 filter bank: the six constant filters, whole-sample symmetric
// extension, and the one-level forward analysis passes over sample planes.
//
// Arithmetic is IEEE single precision: every product is rounded to single
// precision before it is added, products are added in ascending tap position,
// and nothing is fused or widened. A filtered value returns to a byte by
// truncation toward zero, keeping the low 8 bits (outputs wrap modulo 256).
//
// The passes read `src` and write `dst`, which must share no row. They keep
// nothing between calls and may run concurrently on separate planes; each
// runs the fastest instruction set the processor offers, with the same bytes
// on every one.
#pragma once

#include <cstdint>
#include <optional>

#include "dwt97/export.h"
#include "dwt97/failure.h"
#include "dwt97/planes.h"

// One filter of N taps at the consecutive whole positions First .. First+N-1:
// positions stored as floats, and the coefficient of each position.
template <int N, int First>
struct FilterTaps {
  static constexpr int count = N;
  static constexpr int first = First;
  float positions[N];
  float coefficients[N];
};

using AnalysisLowTaps = FilterTaps<9, -4>;
using AnalysisHighTaps = FilterTaps<7, -2>;
using SynthesisEvenLowTaps = FilterTaps<3, -1>;
using SynthesisEvenHighTaps = FilterTaps<4, -1>;
using SynthesisOddLowTaps = FilterTaps<4, -2>;
using SynthesisOddHighTaps = FilterTaps<5, -2>;

// Analysis pair: low-pass centred on position 0 (gain 1 at zero frequency),
// high-pass centred on position 1 (gain 1 at the Nyquist frequency).
extern DWT97_API const AnalysisLowTaps analysisLow;
extern DWT97_API const AnalysisHighTaps analysisHigh;
// Polyphase pieces of the synthesis pair: the contribution of the low and the
// high band to even and to odd outputs.
extern DWT97_API const SynthesisEvenLowTaps synthesisEvenLow;
extern DWT97_API const SynthesisEvenHighTaps synthesisEvenHigh;
extern DWT97_API const SynthesisOddLowTaps synthesisOddLow;
extern DWT97_API const SynthesisOddHighTaps synthesisOddHigh;

// Steps through a filter: for each stored position k in ascending order,
// calls use(k, coefficient of k). The position is carried as an integer and
// compared against the last stored position as a float.
template <typename Taps, typename Use>
inline void dwtWalk(const Taps& taps, Use&& use) {
  for (std::int32_t k = static_cast<std::int32_t>(taps.positions[0]);
       !(taps.positions[Taps::count - 1] < static_cast<float>(k)); ++k) {
    use(k, taps.coefficients[k - Taps::first]);
  }
}

// Whole-sample symmetric extension of index i into a line of length n: the
// edge sample is not repeated, and the reflection repeats with period 2n - 2
// as often as needed, so every result lies in [0, n). For n = 1 (or less)
// every index maps to 0.
DWT97_API std::int32_t mirrorIndex(std::int32_t i, std::int32_t n);

// Truncates toward zero to a 32-bit integer and keeps its low 8 bits. NaN and
// magnitudes of 2^31 or more give the integer -2^31, whose low byte is 0.
DWT97_API std::uint8_t dwtTruncateToByte(float value);

// Filters every row of `src` (length `width`) into `dst`: low-pass outputs in
// columns [0, width/2), high-pass outputs in [width/2, 2*(width/2)). With an
// odd width the last column of `dst` is left as it was. Allocates nothing
// and never fails.
DWT97_API void dwtForwardRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                              std::int32_t height);

// Filters every column of `src` (length `height`) into `dst`: low-pass
// outputs in rows [0, height/2), high-pass outputs below them. With an odd
// height the last row of `dst` is left as it was. Allocates a ring of float
// rows (ten rows of up to 8192 samples) and releases it before returning;
// fails with outOfMemory ("dwtForwardColumns"), writing nothing, if it
// cannot be had.
DWT97_API void dwtForwardColumns(SamplePlane dst, const std::uint8_t* const* src,
                                 std::int32_t width, std::int32_t height);

// The whole forward transform of a `width` x `height` plane, in place: the
// bytes are those of dwtForwardRows into a zero-filled plane followed by
// dwtForwardColumns into another zero-filled plane (with an odd width the
// last column filters the row pass's untouched zero column; with an odd
// height the last row is 0; with fewer than 2 samples along either side
// every sample is 0), whatever the thread count.
//
// The plane's row buffers are reused for the result, and the pointer array
// is reordered: afterwards plane[r] is row r of the result (the low rows
// first, then the high rows, then with an odd height the zeroed last row),
// but it may point to a different one of the same row buffers than before.
// The set of pointers in the array is unchanged, so whatever owns the rows
// still owns them; pointers to rows kept elsewhere no longer name the same
// rows of the picture. Besides the plane it takes small per-thread float
// rings (15 rows of the width, at most 64 MiB for all threads together, so
// wide pictures run on fewer threads); only pictures so wide that one ring
// would pass 64 MiB (over a million samples) take the two separate passes
// through a picture-sized scratch plane, leaving the pointer array as it was.
//
// `threads`: 1 runs on the calling thread alone, n > 1 on up to n threads,
// 0 (or less) on the processor's hardware threads as long as each gets a
// quarter of a million samples; never more threads than half the height.
// Running out of memory fails with outOfMemory ("dwtForward2d") before
// anything is changed.
DWT97_API void dwtForward2d(SamplePlane plane, std::int32_t width, std::int32_t height, int threads);

// Several levels of the transform, in place: level 1 is dwtForward2d on the
// whole plane, and level k + 1 is the same transform of the low-low band of
// level k, its first h/2 rows (in the result's row order) and first w/2
// columns, with w x h the size of level k's band (halves rounded down).
// Everything outside a level's band stays as it was. Afterwards plane[r] is
// row r of the result: the pointer array is reordered as dwtForward2d
// reorders it, by level 1 alone. `levels` of 0 or less changes nothing.
//
// More levels than dwtMostLevels(width, height) are refused before anything
// is changed, with "Error: dwtForward2dLevels(), Too many levels for the
// picture (at most <n>)!". `threads` works as in dwtForward2d, and the bytes
// do not depend on it. Each level takes memory as dwtForward2d does and
// fails as it does when it runs out (a handler that leaves by throwing finds
// the levels before it done).
DWT97_API void dwtForward2dLevels(SamplePlane plane, std::int32_t width, std::int32_t height,
                                  int levels, int threads);

// The most levels a `width` x `height` plane allows: 1, and one more for
// each halving (rounded down) after which both sides are still 2 or more.
DWT97_API int dwtMostLevels(std::int32_t width, std::int32_t height);

// Told that rows `first` .. `first` + `count` - 1 of the result are final:
// result[r] is row r of the result for those r. Called from the threads of
// the transform, possibly several at once and in no particular order; every
// row of the result is told exactly once before the transform returns. It
// may read the rows (to write them out while the rest is computed) but not
// change them or call back into the transform.
using DwtResultRows = void (*)(void* context, const std::uint8_t* const* result,
                               std::int32_t first, std::int32_t count);

// dwtForward2d, telling `rowsDone` (with `context`) about the result's rows
// as they become final.
DWT97_API void dwtForward2dStreaming(SamplePlane plane, std::int32_t width, std::int32_t height,
                                     int threads, DwtResultRows rowsDone, void* context);

// Rounds to the nearest integer (ties to even) and saturates to -128..127.
// NaN, infinities and every value of magnitude 2^31 or more (outside the
// 32-bit range) give -128, positive overflow included.
DWT97_API std::int8_t toSaturatedByte(float value);

// Rebuilds columns from their bands: for each of the 2*halfWidth columns,
// rows [0, halfHeight) of `src` hold the low band and rows
// [halfHeight, 2*halfHeight) the high band; rows 2j and 2j + 1 of `dst`
// receive the even and odd outputs, doubled, truncated toward zero and kept
// modulo 256. Negative counts write nothing. Allocates a ring of float rows
// and releases it before returning; fails with outOfMemory
// ("dwtInverseColumns"), writing nothing, if it cannot be had.
DWT97_API void dwtInverseColumns(SamplePlane dst, const std::uint8_t* const* src,
                                 std::int32_t halfWidth, std::int32_t halfHeight);

// Rebuilds rows from their bands: for each of the 2*halfHeight rows, columns
// [0, halfWidth) of `src` hold the low band and [halfWidth, 2*halfWidth) the
// high band; columns 2j and 2j + 1 of `dst` receive the doubled outputs
// through toSaturatedByte, stored as two's-complement bytes. Negative counts
// write nothing. Allocates nothing and never fails.
DWT97_API void dwtInverseRows(SamplePlane dst, const std::uint8_t* const* src,
                              std::int32_t halfWidth, std::int32_t halfHeight);

// dwtInverseColumns and dwtInverseRows run on the processor's hardware
// threads (as long as the plane gives each a fair share of the work); these
// take the thread count as dwtForward2d does. The bytes do not depend on it.
DWT97_API void dwtInverseColumnsThreads(SamplePlane dst, const std::uint8_t* const* src,
                                        std::int32_t halfWidth, std::int32_t halfHeight,
                                        int threads);
DWT97_API void dwtInverseRowsThreads(SamplePlane dst, const std::uint8_t* const* src,
                                     std::int32_t halfWidth, std::int32_t halfHeight,
                                     int threads);

namespace dwt97 {

// Failures as values: the operations above that can fail, each returning
// outOfMemory where the operation would report it, having changed nothing,
// or nothing on success. They never end the process, never call the
// failure handler and write nothing to standard error (see dwt97/failure.h).
DWT97_API std::optional<Failure> tryForwardColumns(SamplePlane dst, const std::uint8_t* const* src,
                                                   std::int32_t width, std::int32_t height);
DWT97_API std::optional<Failure> tryForward2d(SamplePlane plane, std::int32_t width,
                                              std::int32_t height, int threads);
// tooManyLevels (nothing changed) or outOfMemory (the levels before the
// failing one done).
DWT97_API std::optional<Failure> tryForward2dLevels(SamplePlane plane, std::int32_t width,
                                                    std::int32_t height, int levels, int threads);
// On failure `rowsDone` is never called.
DWT97_API std::optional<Failure> tryForward2dStreaming(SamplePlane plane, std::int32_t width,
                                                       std::int32_t height, int threads,
                                                       DwtResultRows rowsDone, void* context);
DWT97_API std::optional<Failure> tryInverseColumns(SamplePlane dst, const std::uint8_t* const* src,
                                                   std::int32_t halfWidth,
                                                   std::int32_t halfHeight);
DWT97_API std::optional<Failure> tryInverseColumnsThreads(SamplePlane dst,
                                                          const std::uint8_t* const* src,
                                                          std::int32_t halfWidth,
                                                          std::int32_t halfHeight, int threads);

}  // namespace dwt97
