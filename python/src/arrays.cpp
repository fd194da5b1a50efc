// numpy arrays for the library: the checks of an input array, its rows read
// in place or through a compact copy, and the arrays that receive results.
#include "arrays.h"

#include "failures.h"

#include <cstring>
#include <limits>
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

OutputArray makeOutput(const Shape& shape, const char* operation) {
  py::array_t<std::uint8_t> array;
  try {
    array = py::array_t<std::uint8_t>(
        {static_cast<py::ssize_t>(shape.height), static_cast<py::ssize_t>(shape.width)});
  } catch (py::error_already_set& error) {
    // numpy's own MemoryError becomes the package's, named as the tool names
    // the operation.
    if (!error.matches(PyExc_MemoryError)) throw;
    raiseFailure(Error{Failure::outOfMemory, operation});
  }
  OutputArray out{array, {}, static_cast<std::size_t>(shape.width)};
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

}  // namespace dwt97::python
