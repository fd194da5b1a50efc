// Wavelet coefficients in single precision: the CDF 9/7 analysis of a plane
// into float coefficients and their exact synthesis back, over planes in
// memory with any row stride.
//
// A line x of n samples becomes its low band, ceil(n/2) entries, followed by
// its high band, floor(n/2) entries. Low entry j is the analysis low-pass at
// signal position 2j and high entry j the high-pass at 2j + 1, each the sum
// of its products in ascending tap position from +0.0, every product and sum
// rounded to single precision, the positions beyond the line reflected by
// whole-sample symmetric extension (mirrorIndex). These are the sums of the
// byte passes before their conversion to bytes. A line of 1 sample passes
// through.
//
// Synthesis sums the four synthesis pieces in the same order, each reading
// the band entry that stands for its signal position reflected into the
// line, and doubles the sum: an 8-bit picture comes back exactly once its
// samples are rounded to the nearest byte, at every size and level count.
//
// In two dimensions a level filters every row, then every column; level
// k + 1 works on the low-low band of level k, its first ceil(h/2) rows and
// ceil(w/2) columns. Synthesis undoes the levels in reverse order, columns
// before rows. Every operation takes `threads` as the filter bank does (0:
// the library decides) and gives the same bits on any count; beyond the
// caller's planes it takes only small rings of float rows per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "dwt97/export.h"
#include "dwt97/failure.h"

namespace dwt97 {

// A plane of `height` rows of `width` consecutive samples, row r starting at
// data + r * rowStride (counted in samples, any sign: a negative stride runs
// a bottom-up block top row first).
template <typename T>
struct PlaneView {
  T* data = nullptr;
  std::ptrdiff_t rowStride = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;

  T* row(std::int64_t r) const { return data + r * rowStride; }

  // A plane that may be written is one that may be read.
  template <typename U, typename = std::enable_if_t<std::is_same_v<U, T> && !std::is_const_v<U>>>
  operator PlaneView<const U>() const {
    return {data, rowStride, width, height};
  }
};

using FloatPlane = PlaneView<float>;
using ConstFloatPlane = PlaneView<const float>;
using BytePlane = PlaneView<std::uint8_t>;
using ConstBytePlane = PlaneView<const std::uint8_t>;
using IntPlane = PlaneView<std::int32_t>;
using ConstIntPlane = PlaneView<const std::int32_t>;

// A flat `width` x `height` block as a plane.
template <typename T>
PlaneView<T> planeOver(T* data, std::int32_t width, std::int32_t height) {
  return {data, width, width, height};
}

// The most levels a `width` x `height` plane allows: the halvings (rounded
// up) after which both sides are 1. A 1 x 1 plane allows none, 2048 x 2048
// eleven.
DWT97_API int dwtMostAnalysisLevels(std::int32_t width, std::int32_t height);

// The analysis of `in` into `out` over `levels` levels, `in` only read. With
// 0 levels `out` receives the samples themselves. The result is laid out
// level by level as one band each: the low-low band top left, the bands of
// the last level around it, those of the first level outermost.
//
// Fails, with `out` unchanged, with planeShapes when the planes differ in
// width or height or hold no sample, planeOverlap when they share memory or
// rows of `out` overlap one another (those of `in` may: a stride of 0
// repeats a row), levelsNegative or tooManyLevels (with the most levels)
// for a level count outside 0 .. dwtMostAnalysisLevels(), or outOfMemory
// when the rings cannot be had; each names the operation "dwtAnalyze".
[[nodiscard]] DWT97_API std::optional<Error> dwtAnalyze(ConstBytePlane in, FloatPlane out,
                                                        int levels = 1, int threads = 0);
[[nodiscard]] DWT97_API std::optional<Error> dwtAnalyze(ConstFloatPlane in, FloatPlane out,
                                                        int levels = 1, int threads = 0);

// The synthesis of `levels` levels of coefficients `in` into `out`, `in`
// only read: dwtSynthesize after dwtAnalyze of the same levels gives back
// the samples to within a few thousandths. Fails as dwtAnalyze does, naming
// "dwtSynthesize".
[[nodiscard]] DWT97_API std::optional<Error> dwtSynthesize(ConstFloatPlane in, FloatPlane out,
                                                           int levels = 1, int threads = 0);

// Bytes of `in` rounded to the nearest (ties to even) and clamped to
// 0 .. 255, NaN giving 0: the picture a synthesis stands for. Fails with
// planeShapes ("dwtRoundToBytes") when the planes differ in shape.
[[nodiscard]] DWT97_API std::optional<Error> dwtRoundToBytes(ConstFloatPlane in, BytePlane out);

// The coefficients of `levels` levels as a picture to look at, into `out`:
// each detail band becomes 128 + 127 v / max|v| of that band (128 where the
// band is all 0), the last low-low band is stretched to 0 .. 255, as
// (v - min) 255 / (max - min) (0 where it is flat), every value rounded and
// clamped. Fails as dwtAnalyze does, naming "dwtRenderView".
[[nodiscard]] DWT97_API std::optional<Error> dwtRenderView(ConstFloatPlane coefficients,
                                                           BytePlane out, int levels);

}  // namespace dwt97
