// Internal to the coefficient operations: the levels of the analysis and
// the synthesis over planes already checked (same shape, at least 1 x 1, no
// shared memory, a level count the plane allows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dwt97/coefficients.h"
#include "dwt97/failure.h"
#include "filterbank/kernels/kernels.h"

namespace dwt97::detail {

// The bytes a plane's rows span, [first, last).
template <typename T>
inline void extent(const PlaneView<T>& plane, std::uintptr_t* first, std::uintptr_t* last) {
  const std::int64_t lastRow = std::int64_t{plane.height} - 1;
  const std::int64_t top = plane.rowStride < 0 ? lastRow : 0;
  const std::int64_t bottom = plane.rowStride < 0 ? 0 : lastRow;
  *first = reinterpret_cast<std::uintptr_t>(plane.row(top));
  *last = reinterpret_cast<std::uintptr_t>(plane.row(bottom) + plane.width);
}

template <typename In, typename Out>
inline bool overlapping(const PlaneView<In>& in, const PlaneView<Out>& out) {
  std::uintptr_t inFirst, inLast, outFirst, outLast;
  extent(in, &inFirst, &inLast);
  extent(out, &outFirst, &outLast);
  return inFirst < outLast && outFirst < inLast;
}

// The blocks of the levels: level k + 1 (from 0) is w[k] x h[k].
struct Blocks {
  std::int32_t w[33], h[33];
  Blocks(std::int32_t width, std::int32_t height, int levels) {
    w[0] = width;
    h[0] = height;
    for (int k = 1; k <= levels; ++k) {
      w[k] = (w[k - 1] + 1) / 2;
      h[k] = (h[k - 1] + 1) / 2;
    }
  }
};

// The checks of an operation from `in` to `out` over `levels` levels: the
// failure it returns before it changes anything.
template <typename In, typename Out>
inline std::optional<Error> checkPlanes(const PlaneView<In>& in, const PlaneView<Out>& out,
                                        int levels, const char* operation) {
  if (in.width < 1 || in.height < 1 || in.data == nullptr || out.data == nullptr ||
      in.width != out.width || in.height != out.height) {
    return Error{Failure::planeShapes, operation, 0};
  }
  // The output's own rows must not overlap either (the input's may: a stride
  // of 0 repeats one row).
  const std::ptrdiff_t outStride = out.rowStride < 0 ? -out.rowStride : out.rowStride;
  if (overlapping(in, out) || (out.height > 1 && outStride < out.width)) {
    return Error{Failure::planeOverlap, operation, 0};
  }
  if (levels < 0) return Error{Failure::levelsNegative, operation, 0};
  const int most = dwtMostAnalysisLevels(in.width, in.height);
  if (levels > most) return Error{Failure::tooManyLevels, operation, most};
  return std::nullopt;
}

// The levels by the filter bank's fastest pass set, on up to `threads`
// threads. Each fails only with outOfMemory, having left `out` as it was.
[[nodiscard]] std::optional<Failure> analyzeLevels(ConstBytePlane in, FloatPlane out, int levels,
                                                   int threads);
[[nodiscard]] std::optional<Failure> analyzeLevels(ConstFloatPlane in, FloatPlane out, int levels,
                                                   int threads);
[[nodiscard]] std::optional<Failure> synthesizeLevels(ConstFloatPlane in, FloatPlane out,
                                                      int levels, int threads);

// The same by the pass set `set`, so that the tests can compare every set.
[[nodiscard]] std::optional<Failure> analyzeLevelsWith(const DwtPassSet& set, ConstBytePlane in,
                                                       FloatPlane out, int levels, int threads);
[[nodiscard]] std::optional<Failure> analyzeLevelsWith(const DwtPassSet& set, ConstFloatPlane in,
                                                       FloatPlane out, int levels, int threads);
[[nodiscard]] std::optional<Failure> synthesizeLevelsWith(const DwtPassSet& set, ConstFloatPlane in,
                                                          FloatPlane out, int levels, int threads);

// The same by the plain code, one line at a time (plain_levels.cpp).
[[nodiscard]] std::optional<Failure> analyzeLevelsPlain(ConstBytePlane in, FloatPlane out,
                                                        int levels);
[[nodiscard]] std::optional<Failure> analyzeLevelsPlain(ConstFloatPlane in, FloatPlane out,
                                                        int levels);
[[nodiscard]] std::optional<Failure> synthesizeLevelsPlain(ConstFloatPlane in, FloatPlane out,
                                                           int levels);

}  // namespace dwt97::detail
