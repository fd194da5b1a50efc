// numpy arrays for the library: the checks every operation makes, the rows
// the library reads from an input, the planes the coefficient operations
// read, and the arrays that receive the results.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "dwt97/coefficients.h"
#include "dwt97/failure.h"
#include "dwt97/planes.h"

namespace dwt97::python {

namespace py = pybind11;

// A 2-D uint8 array's shape, checked: TypeError for another dtype,
// ValueError for another rank or a side the library cannot address.
struct Shape {
  std::int32_t height;
  std::int32_t width;
  bool empty() const { return height == 0 || width == 0; }
};

Shape checkArray(const py::array& a);

// ValueError for an array of no rows or no columns: there is nothing to
// `what` (transform, save).
void checkNotEmpty(const Shape& shape, const char* what);

// ValueError unless both sides are even.
void checkEvenSides(const Shape& shape, const char* operation);

// Where an input array's samples lie, read while the interpreter lock is
// held so that the work after it can run without.
struct ArrayBytes {
  const std::uint8_t* data;
  py::ssize_t rowStride;
  py::ssize_t columnStride;
};

inline ArrayBytes bytesOf(const py::array& a) {
  return {static_cast<const std::uint8_t*>(a.data()), a.strides(0), a.strides(1)};
}

// The rows of an input array for the library to read: pointers straight into
// the array when its samples lie side by side along each row (any row
// stride, negative included), or else a compact copy. Never written through.
class InputRows {
 public:
  InputRows() = default;
  InputRows(const InputRows&) = delete;
  InputRows& operator=(const InputRows&) = delete;
  ~InputRows() { planeRelease(&copy_); }

  // Prepares the pointers; runs without the interpreter lock. Returns
  // outOfMemory when a copy cannot be had.
  std::optional<Error> prepare(const ArrayBytes& bytes, const Shape& shape);

  const std::uint8_t* const* rows() const { return rows_.data(); }

 private:
  std::vector<const std::uint8_t*> rows_;
  PlaneBuffer copy_{};
};

// Copies any 2-D uint8 array, strided or not, into rows of `width` bytes.
void copyInto(std::uint8_t* const* rows, const ArrayBytes& bytes, const Shape& shape);

// A new C-ordered uint8 array and pointers to its rows; memory running out
// raises the package's OutOfMemoryError for `operation`.
struct OutputArray {
  py::array_t<std::uint8_t> array;
  std::vector<std::uint8_t*> rows;
  std::size_t width;
};

OutputArray makeOutput(const Shape& shape, const char* operation);
void zeroFill(OutputArray& out, const Shape& shape);

// A caller's array to receive the result of reading `a`: C-ordered,
// writeable, of `shape`, sharing no byte with `a`; TypeError or ValueError
// otherwise.
OutputArray callersOutput(const py::array& a, const py::object& object, const Shape& shape);

// The kinds of sample the coefficient operations read: bytes, the 9/7's
// float32 coefficients and the 5/3's int32 ones.
enum class Sample { bytes, floats, ints };

// A 2-D array of samples for the coefficient operations, checked while the
// interpreter lock is held: TypeError for a dtype other than `coefficients`
// (or uint8, where `bytesToo`), naming the accepted ones; ValueError for
// another rank or a side beyond 2^31 - 1. Strides are in bytes.
struct SampleArray {
  Shape shape;
  Sample kind;
  bool swapped;  // float32 or int32 stored in the other byte order
  const std::uint8_t* data;
  py::ssize_t rowStride;
  py::ssize_t columnStride;
};

SampleArray checkSamples(const py::array& a, Sample coefficients, bool bytesToo);

// The samples of a SampleArray as a plane for the library, never written
// through: the array's own memory when each row's samples lie side by side,
// aligned and in this machine's byte order (any row stride, negative or 0
// included), else a compact copy in that order.
class InputPlane {
 public:
  // Runs without the interpreter lock; outOfMemory when a copy cannot be
  // had, named `operation`.
  std::optional<Error> prepare(const SampleArray& a, const char* operation);

  ConstBytePlane bytes() const { return plane<const std::uint8_t>(); }
  ConstFloatPlane floats() const { return plane<const float>(); }
  ConstIntPlane ints() const { return plane<const std::int32_t>(); }

 private:
  template <typename T>
  PlaneView<T> plane() const {
    return {reinterpret_cast<T*>(data_), stride_, width_, height_};
  }

  const std::uint8_t* data_ = nullptr;
  std::ptrdiff_t stride_ = 0;  // in samples
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::unique_ptr<std::uint8_t[]> copy_;
};

// Raises UnsupportedError (the library's tooManyLevels, naming `operation`)
// unless `levels` is at most dwtMostAnalysisLevels() of `shape`, and the
// library's levelsNegative for fewer than 0.
void checkLevels(const Shape& shape, int levels, const char* operation);

// A new C-ordered 2-D array of `dtype`, not filled; memory running out raises
// the package's OutOfMemoryError for `operation`.
py::array newArray(const Shape& shape, const py::dtype& dtype, const char* operation);

// A plane over a C-ordered array made by newArray().
template <typename T>
PlaneView<T> planeOf(py::array& array) {
  return {static_cast<T*>(array.mutable_data()), static_cast<std::ptrdiff_t>(array.shape(1)),
          static_cast<std::int32_t>(array.shape(1)), static_cast<std::int32_t>(array.shape(0))};
}

}  // namespace dwt97::python
