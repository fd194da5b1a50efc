// numpy arrays for the library: the checks of an input array, its rows or
// its plane read in place or through a compact copy, and the arrays that
// receive results.
#include "arrays.h"

#include "failures.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

namespace dwt97::python {
namespace {

constexpr py::ssize_t kMaxSide = std::numeric_limits<std::int32_t>::max();

// The bytes from the lowest to past the highest sample of `a`.
std::pair<const std::uint8_t*, const std::uint8_t*> extent(const py::array& a) {
  const auto* low = static_cast<const std::uint8_t*>(a.data());
  const std::uint8_t* high = low;
  for (py::ssize_t d = 0; d < a.ndim(); ++d) {
    if (a.shape(d) == 0) return {low, low};
    const py::ssize_t reach = (a.shape(d) - 1) * a.strides(d);
    (reach < 0 ? low : high) += reach;
  }
  return {low, high + 1};
}

const char* dtypeName(Sample kind) {
  switch (kind) {
    case Sample::bytes:
      return "uint8";
    case Sample::floats:
      return "float32";
    case Sample::ints:
      return "int32";
  }
  return "";
}

std::size_t sampleSize(Sample kind) { return kind == Sample::bytes ? 1 : 4; }

}  // namespace

Shape checkArray(const py::array& a) {
  const py::dtype type = a.dtype();
  if (type.kind() != 'u' || type.itemsize() != 1) {
    throw py::type_error("expected an array of dtype uint8, got " +
                         py::str(static_cast<const py::handle&>(type)).cast<std::string>());
  }
  if (a.ndim() != 2) {
    throw py::value_error("expected a 2-D array, got " + std::to_string(a.ndim()) + " dimensions");
  }
  if (a.shape(0) > kMaxSide || a.shape(1) > kMaxSide) {
    throw py::value_error("array side beyond 2147483647 samples");
  }
  return {static_cast<std::int32_t>(a.shape(0)), static_cast<std::int32_t>(a.shape(1))};
}

void checkNotEmpty(const Shape& shape, const char* what) {
  if (shape.empty()) {
    throw py::value_error(std::string("cannot ") + what + " an empty array (" +
                          std::to_string(shape.height) + " x " + std::to_string(shape.width) + ")");
  }
}

void checkEvenSides(const Shape& shape, const char* operation) {
  if (shape.height % 2 != 0 || shape.width % 2 != 0) {
    throw py::value_error(std::string(operation) + " needs even height and width, got " +
                          std::to_string(shape.height) + " x " + std::to_string(shape.width));
  }
}

std::optional<Error> InputRows::prepare(const ArrayBytes& bytes, const Shape& shape) {
  rows_.resize(static_cast<std::size_t>(shape.height));
  if (bytes.columnStride == 1 || shape.width <= 1) {
    planeRowsOver(const_cast<std::uint8_t**>(rows_.data()), const_cast<std::uint8_t*>(bytes.data),
                  shape.height, bytes.rowStride);
    return std::nullopt;
  }
  if (auto error = planeAllocate(&copy_, shape.width, shape.height)) return error;
  copyInto(copy_.rows, bytes, shape);
  for (std::int32_t r = 0; r < shape.height; ++r) rows_[r] = copy_.rows[r];
  return std::nullopt;
}

void copyInto(std::uint8_t* const* rows, const ArrayBytes& bytes, const Shape& shape) {
  for (std::int32_t r = 0; r < shape.height; ++r) {
    const std::uint8_t* from = bytes.data + r * bytes.rowStride;
    if (bytes.columnStride == 1) {
      std::memcpy(rows[r], from, static_cast<std::size_t>(shape.width));
    } else {
      for (std::int32_t c = 0; c < shape.width; ++c) rows[r][c] = from[c * bytes.columnStride];
    }
  }
}

py::array newArray(const Shape& shape, const py::dtype& dtype, const char* operation) {
  try {
    return py::array(
        dtype, {static_cast<py::ssize_t>(shape.height), static_cast<py::ssize_t>(shape.width)});
  } catch (py::error_already_set& error) {
    // numpy's own MemoryError becomes the package's, named as the tool names
    // the operation.
    if (!error.matches(PyExc_MemoryError)) throw;
    raiseFailure(Error{Failure::outOfMemory, operation});
  }
}

OutputArray makeOutput(const Shape& shape, const char* operation) {
  OutputArray out{py::reinterpret_steal<py::array_t<std::uint8_t>>(
                      newArray(shape, py::dtype::of<std::uint8_t>(), operation).release()),
                  {},
                  static_cast<std::size_t>(shape.width)};
  std::uint8_t* base = out.array.mutable_data();
  out.rows.resize(static_cast<std::size_t>(shape.height));
  planeRowsOver(out.rows.data(), base, shape.height, shape.width);
  return out;
}

void zeroFill(OutputArray& out, const Shape& shape) {
  if (!shape.empty()) {
    std::memset(out.rows[0], 0,
                static_cast<std::size_t>(shape.height) * static_cast<std::size_t>(shape.width));
  }
}

OutputArray callersOutput(const py::array& a, const py::object& object, const Shape& shape) {
  if (!py::isinstance<py::array>(object)) throw py::type_error("out must be a numpy array");
  auto target = py::reinterpret_borrow<py::array>(object);
  const Shape outShape = checkArray(target);
  if (outShape.height != shape.height || outShape.width != shape.width) {
    throw py::value_error("out must have the input's shape");
  }
  if (!(target.flags() & py::array::c_style) || !target.writeable()) {
    throw py::value_error("out must be C-contiguous and writeable");
  }
  const auto in = extent(a);
  const auto to = extent(target);
  if (in.first < to.second && to.first < in.second) {
    throw py::value_error("out must not share memory with the input");
  }
  OutputArray out{py::reinterpret_borrow<py::array_t<std::uint8_t>>(target),
                  {},
                  static_cast<std::size_t>(shape.width)};
  auto* base = static_cast<std::uint8_t*>(target.mutable_data());
  out.rows.resize(static_cast<std::size_t>(shape.height));
  planeRowsOver(out.rows.data(), base, shape.height, shape.width);
  return out;
}

SampleArray checkSamples(const py::array& a, Sample coefficients, bool bytesToo) {
  const py::dtype type = a.dtype();
  std::optional<Sample> kind;
  if (type.kind() == 'u' && type.itemsize() == 1) kind = Sample::bytes;
  if (type.kind() == 'f' && type.itemsize() == 4) kind = Sample::floats;
  if (type.kind() == 'i' && type.itemsize() == 4) kind = Sample::ints;
  if (kind != coefficients && !(bytesToo && kind == Sample::bytes)) {
    throw py::type_error(std::string("expected an array of dtype ") +
                         (bytesToo ? "uint8 or " : "") + dtypeName(coefficients) + ", got " +
                         py::str(static_cast<const py::handle&>(type)).cast<std::string>());
  }
  if (a.ndim() != 2) {
    throw py::value_error("expected a 2-D array, got " + std::to_string(a.ndim()) + " dimensions");
  }
  if (a.shape(0) > kMaxSide || a.shape(1) > kMaxSide) {
    throw py::value_error("array side beyond 2147483647 samples");
  }
  const Shape shape{static_cast<std::int32_t>(a.shape(0)), static_cast<std::int32_t>(a.shape(1))};
  const bool swapped = *kind != Sample::bytes && !type.attr("isnative").cast<bool>();
  return {shape,        *kind,       swapped, static_cast<const std::uint8_t*>(a.data()),
          a.strides(0), a.strides(1)};
}

std::optional<Error> InputPlane::prepare(const SampleArray& a, const char* operation) {
  const std::size_t size = sampleSize(a.kind);
  const auto isize = static_cast<py::ssize_t>(size);
  // numpy may give a side of one sample any stride: it is never stepped.
  const py::ssize_t rowStride = a.shape.height == 1 ? a.shape.width * isize : a.rowStride;
  const bool sideBySide = a.shape.width == 1 || a.columnStride == isize;
  const bool aligned =
      reinterpret_cast<std::uintptr_t>(a.data) % size == 0 && rowStride % isize == 0;
  const std::uint8_t* data = a.data;
  std::ptrdiff_t stride = rowStride / isize;
  if (!sideBySide || !aligned || a.swapped) {
    const auto width = static_cast<std::size_t>(a.shape.width);
    const auto height = static_cast<std::size_t>(a.shape.height);
    if (width > std::numeric_limits<std::size_t>::max() / size / height) {
      return Error{Failure::outOfMemory, operation};
    }
    // new[] aligns for any fundamental type, float and int32 included.
    copy_.reset(new (std::nothrow) std::uint8_t[width * height * size]);
    if (!copy_) return Error{Failure::outOfMemory, operation};
    std::uint8_t* to = copy_.get();
    for (std::size_t r = 0; r < height; ++r) {
      const std::uint8_t* from = a.data + static_cast<py::ssize_t>(r) * a.rowStride;
      for (std::size_t c = 0; c < width; ++c, to += size) {
        std::memcpy(to, from + static_cast<py::ssize_t>(c) * a.columnStride, size);
        if (a.swapped) std::reverse(to, to + size);
      }
    }
    data = copy_.get();
    stride = a.shape.width;
  }
  data_ = data;
  stride_ = stride;
  width_ = a.shape.width;
  height_ = a.shape.height;
  return std::nullopt;
}

void checkLevels(const Shape& shape, int levels, const char* operation) {
  if (levels < 0) raiseFailure(Error{Failure::levelsNegative, operation});
  const int most = dwtMostAnalysisLevels(shape.width, shape.height);
  if (levels > most) raiseFailure(Error{Failure::tooManyLevels, operation, most});
}

}  // namespace dwt97::python
