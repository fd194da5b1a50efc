// numpy arrays for the library: the checks every operation makes, the rows
// the library reads from an input, and the arrays that receive its results.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

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

}  // namespace dwt97::python
