// The CDF 9/7 filter bank: whole-sample symmetric extension, the byte
// conversions, and the forward analysis and inverse synthesis passes over
// sample planes (the filters themselves are in dwt97/filters.h).
//
// Arithmetic is IEEE single precision: every product is rounded to single
// precision before it is added, products are added in ascending tap position,
// and nothing is fused or widened. A filtered value returns to a byte by
// truncation toward zero, keeping the low 8 bits (outputs wrap modulo 256).
//
// The passes read `src` and write `dst`, which must share no row. They keep
// nothing between calls and may run concurrently on separate planes; each
// runs the fastest instruction set the processor offers, with the same bytes
// on every one. Each takes `threads`, last, as every operation here does: 1
// runs on the calling thread alone, n > 1 on up to n threads, 0 (the
// default, or less) on the processor's hardware threads as long as each gets
// a quarter of a million samples. The bytes never depend on it.
//
// The operations that can fail (they take memory) end the process as
// dwt97/failure.h says; the same names in namespace dwt97, at the end of
// this header, return the failure instead.
#pragma once

#include <cstdint>
#include <optional>

#include "dwt97/export.h"
#include "dwt97/failure.h"
#include "dwt97/filters.h"
#include "dwt97/planes.h"

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
                              std::int32_t height, int threads = 0);

// Filters every column of `src` (length `height`) into `dst`: low-pass
// outputs in rows [0, height/2), high-pass outputs below them. With an odd
// height the last row of `dst` is left as it was. Allocates a ring of float
// rows per thread (ten rows of up to 8192 samples) and releases them before
// returning; fails with outOfMemory ("dwtForwardColumns"), writing nothing,
// if they cannot be had.
DWT97_API void dwtForwardColumns(SamplePlane dst, const std::uint8_t* const* src,
                                 std::int32_t width, std::int32_t height, int threads = 0);

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
// Never more threads than half the height. Running out of memory fails with
// outOfMemory ("dwtForward2d") before anything is changed.
DWT97_API void dwtForward2d(SamplePlane plane, std::int32_t width, std::int32_t height,
                            int threads = 0);

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
// picture (at most <n>)!". Each level takes memory as dwtForward2d does and
// fails as it does when it runs out (a handler that leaves by throwing finds
// the levels before it done).
DWT97_API void dwtForward2dLevels(SamplePlane plane, std::int32_t width, std::int32_t height,
                                  int levels, int threads = 0);

// The whole forward transform out of place: the `width` x `height` picture
// in the rows of `src`, which are only read, into the rows of `dst`, which
// must share no row with them. Afterwards dst[r] is row r of the result
// (the low rows first, then the high rows, then with an odd height the
// zeroed last row), the bytes dwtForward2d leaves in plane[r], whatever the
// thread count; only the first `width` bytes of each row of `dst` are
// written, and neither pointer array is changed. It takes the rings
// dwtForward2d takes and an array of `height` row pointers; a picture too
// wide for one ring takes the two separate passes through a picture-sized
// scratch plane. Never more threads than half the height. Running out of
// memory fails with outOfMemory ("dwtForward2d") before anything is written.
DWT97_API void dwtForward2dInto(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                                std::int32_t height, int threads = 0);

// Several levels out of place: level 1 is dwtForward2dInto from `src` into
// `dst`, and each later level transforms the low-low band of the one before
// within dst's own rows, as dwtForward2dInRows() does, so that dst[r] holds
// result row r at the end: the bytes of dwtForward2dLevels of the same
// picture. `levels` of 0 or less copies the picture's bytes into `dst`.
// Refuses more levels than dwtMostLevels(width, height), and fails when
// memory runs out, as dwtForward2dLevels does (`dst` untouched when the
// first level fails).
DWT97_API void dwtForward2dLevelsInto(SamplePlane dst, const std::uint8_t* const* src,
                                      std::int32_t width, std::int32_t height, int levels,
                                      int threads = 0);

// The most levels a `width` x `height` plane allows: 1 (the first level
// runs on any plane), and one more for each halving (rounded down) after
// which both sides are still 2 or more.
DWT97_API int dwtMostLevels(std::int32_t width, std::int32_t height);

// Told that rows `first` .. `first` + `count` - 1 of the result are final:
// result[r] is row r of the result for those r. Called from the threads of
// the transform, possibly several at once and in no particular order; every
// row of the result is told exactly once before the transform returns. It
// may read the rows (to write them out while the rest is computed) but not
// change them or call back into the transform.
using DwtResultRows = void (*)(void* context, const std::uint8_t* const* result, std::int32_t first,
                               std::int32_t count);

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
// per thread and releases them before returning; fails with outOfMemory
// ("dwtInverseColumns"), writing nothing, if they cannot be had.
DWT97_API void dwtInverseColumns(SamplePlane dst, const std::uint8_t* const* src,
                                 std::int32_t halfWidth, std::int32_t halfHeight, int threads = 0);

// Rebuilds rows from their bands: for each of the 2*halfHeight rows, columns
// [0, halfWidth) of `src` hold the low band and [halfWidth, 2*halfWidth) the
// high band; columns 2j and 2j + 1 of `dst` receive the doubled outputs
// through toSaturatedByte, stored as two's-complement bytes. Negative counts
// write nothing. Allocates nothing and never fails.
DWT97_API void dwtInverseRows(SamplePlane dst, const std::uint8_t* const* src,
                              std::int32_t halfWidth, std::int32_t halfHeight, int threads = 0);

namespace dwt97 {

// The operations above that can fail, returning the failure instead:
// outOfMemory (with the operation's name) where the operation would report
// it, having changed nothing, or nothing on success. They never end the
// process, never call the failure handler and write nothing to standard
// error (see dwt97/failure.h).
[[nodiscard]] DWT97_API std::optional<Error> dwtForwardColumns(SamplePlane dst,
                                                               const std::uint8_t* const* src,
                                                               std::int32_t width,
                                                               std::int32_t height,
                                                               int threads = 0);
[[nodiscard]] DWT97_API std::optional<Error> dwtForward2d(SamplePlane plane, std::int32_t width,
                                                          std::int32_t height, int threads = 0);
// tooManyLevels (nothing changed, `mostLevels` set) or outOfMemory (the
// levels before the failing one done).
[[nodiscard]] DWT97_API std::optional<Error> dwtForward2dLevels(SamplePlane plane,
                                                                std::int32_t width,
                                                                std::int32_t height, int levels,
                                                                int threads = 0);
// On failure `rowsDone` is never called.
[[nodiscard]] DWT97_API std::optional<Error> dwtForward2dStreaming(SamplePlane plane,
                                                                   std::int32_t width,
                                                                   std::int32_t height, int threads,
                                                                   DwtResultRows rowsDone,
                                                                   void* context);
[[nodiscard]] DWT97_API std::optional<Error> dwtInverseColumns(SamplePlane dst,
                                                               const std::uint8_t* const* src,
                                                               std::int32_t halfWidth,
                                                               std::int32_t halfHeight,
                                                               int threads = 0);

[[nodiscard]] DWT97_API std::optional<Error> dwtForward2dInto(SamplePlane dst,
                                                              const std::uint8_t* const* src,
                                                              std::int32_t width,
                                                              std::int32_t height, int threads = 0);
// tooManyLevels (nothing written, `mostLevels` set) or outOfMemory (the
// levels before the failing one done).
[[nodiscard]] DWT97_API std::optional<Error> dwtForward2dLevelsInto(SamplePlane dst,
                                                                    const std::uint8_t* const* src,
                                                                    std::int32_t width,
                                                                    std::int32_t height, int levels,
                                                                    int threads = 0);

// dwtForward2dStreaming() of a plane whose rows are still being read: the
// transform starts at once and follows the reader, each of its threads
// waiting for the rows it needs. dwtFeedStart() begins it on threads of its
// own (`threads` counted as dwtForward2d counts them; with 1, or when the
// process may run on one processor only, no thread is started and the
// whole transform runs in dwtFeedFinish()) and sets `*feed`. The reader then fills the plane's
// rows in order, calling dwtFeedRows() each time rows [0, rows) are in
// place (never writing them again), and dwtFeedFinish() waits for the
// transform to end: the plane and `rowsDone` are then as after
// dwtForward2dStreaming() (rows never told are taken as they are).
// dwtFeedAbandon() instead stops the transform and waits for its threads:
// the plane's bytes are then unspecified, and `rowsDone` may have been told
// of some rows. Finishing or abandoning releases the feed. The bytes never
// depend on the thread count or on how the rows arrive.
//
// dwtFeedStart() fails with outOfMemory ("dwtForward2d"), with no feed and
// nothing changed, when its memory cannot be had; dwtFeedFinish() fails
// only for pictures too wide for the fused ring (see dwtForward2d), whose
// transform runs whole when the rows are in, with `rowsDone` never called.
struct DwtFeed;
[[nodiscard]] DWT97_API std::optional<Error> dwtFeedStart(SamplePlane plane, std::int32_t width,
                                                          std::int32_t height, int threads,
                                                          DwtResultRows rowsDone, void* context,
                                                          DwtFeed** feed);
DWT97_API void dwtFeedRows(DwtFeed* feed, std::int32_t rows);
[[nodiscard]] DWT97_API std::optional<Error> dwtFeedFinish(DwtFeed* feed);
DWT97_API void dwtFeedAbandon(DwtFeed* feed);

// dwtForward2dLevels() with the result left in the plane's own rows: row r
// of the plane (the pointer array untouched) holds result row r afterwards.
// The rows are moved into place at the end of each level, so the bytes past
// `width` of every row stay with that row. Fails as dwtForward2dLevels()
// does, with the operation "dwtForward2d" for running out of memory.
[[nodiscard]] DWT97_API std::optional<Error> dwtForward2dInRows(SamplePlane plane,
                                                                std::int32_t width,
                                                                std::int32_t height, int levels,
                                                                int threads = 0);

// Deprecated, the 1.2 names: the same operations returning the failure as
// its kind alone, and the thread counts as separate functions.
[[deprecated("use dwt97::dwtForwardColumns")]] inline std::optional<Failure> tryForwardColumns(
    SamplePlane dst, const std::uint8_t* const* src, std::int32_t width, std::int32_t height) {
  if (const auto error = dwt97::dwtForwardColumns(dst, src, width, height)) return error->failure;
  return std::nullopt;
}
[[deprecated("use dwt97::dwtForward2d")]] inline std::optional<Failure> tryForward2d(
    SamplePlane plane, std::int32_t width, std::int32_t height, int threads) {
  if (const auto error = dwt97::dwtForward2d(plane, width, height, threads)) return error->failure;
  return std::nullopt;
}
[[deprecated("use dwt97::dwtForward2dLevels")]] inline std::optional<Failure> tryForward2dLevels(
    SamplePlane plane, std::int32_t width, std::int32_t height, int levels, int threads) {
  if (const auto error = dwt97::dwtForward2dLevels(plane, width, height, levels, threads)) {
    return error->failure;
  }
  return std::nullopt;
}
[[deprecated("use dwt97::dwtForward2dStreaming")]] inline std::optional<Failure>
tryForward2dStreaming(SamplePlane plane, std::int32_t width, std::int32_t height, int threads,
                      DwtResultRows rowsDone, void* context) {
  if (const auto error =
          dwt97::dwtForward2dStreaming(plane, width, height, threads, rowsDone, context)) {
    return error->failure;
  }
  return std::nullopt;
}
[[deprecated("use dwt97::dwtInverseColumns")]] inline std::optional<Failure> tryInverseColumns(
    SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
    std::int32_t halfHeight) {
  if (const auto error = dwt97::dwtInverseColumns(dst, src, halfWidth, halfHeight)) {
    return error->failure;
  }
  return std::nullopt;
}
[[deprecated("use dwt97::dwtInverseColumns")]] inline std::optional<Failure>
tryInverseColumnsThreads(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                         std::int32_t halfHeight, int threads) {
  if (const auto error = dwt97::dwtInverseColumns(dst, src, halfWidth, halfHeight, threads)) {
    return error->failure;
  }
  return std::nullopt;
}

}  // namespace dwt97

[[deprecated("use dwtInverseColumns(..., threads)")]] inline void dwtInverseColumnsThreads(
    SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
    std::int32_t halfHeight, int threads) {
  dwtInverseColumns(dst, src, halfWidth, halfHeight, threads);
}
[[deprecated("use dwtInverseRows(..., threads)")]] inline void dwtInverseRowsThreads(
    SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
    std::int32_t halfHeight, int threads) {
  dwtInverseRows(dst, src, halfWidth, halfHeight, threads);
}
