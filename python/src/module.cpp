// The extension behind the dwt97 Python package: numpy arrays in and out,
// failures raised as the package's exceptions, and the interpreter lock
// released while the library reads, writes or transforms.
//
// Only the library's failure-as-value operations are called, so no failure
// ends the interpreter. The package (dwt97/__init__.py) defines the
// exception classes and hands them over with _register_errors() on import.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dwt97/dwt97.h"

namespace py = pybind11;

namespace {

// The package's exception classes, one per failure group that is not
// running out of memory; kept for the interpreter's lifetime.
struct ErrorClasses {
  py::object malformed;
  py::object unsupported;
  py::object truncated;
  py::object file;
};

ErrorClasses& errorClasses() {
  static ErrorClasses* classes = new ErrorClasses();  // never destroyed: outlives finalisation
  return *classes;
}

// Where a failure happened, for the message and the exception's attributes.
struct FailureContext {
  const char* operation = "";     // the library operation, for the formatted messages
  int savedErrno = 0;             // errno right after the failing call, 0 when unknown
  py::object filename = py::none();
  int mostLevels = 0;             // for tooManyLevels
};

// The table's message for `failure`, formats filled in, without its line end.
std::string failureMessage(dwt97::Failure failure, const FailureContext& context) {
  const char* text = dwt97::failureInfo(failure).text;
  std::string message;
  if (failure == dwt97::Failure::outOfMemory || failure == dwt97::Failure::tooManyLevels) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, text, context.operation, context.mostLevels);
    message = buffer;
  } else {
    message = text;
  }
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message;
}

// Raises the exception for `failure`; called with the interpreter lock held.
[[noreturn]] void raiseFailure(dwt97::Failure failure, const FailureContext& context) {
  const std::string message = failureMessage(failure, context);
  const ErrorClasses& classes = errorClasses();
  py::object type;
  switch (dwt97::failureInfo(failure).group) {
    case dwt97::FailureGroup::malformed: type = classes.malformed; break;
    case dwt97::FailureGroup::unsupported: type = classes.unsupported; break;
    case dwt97::FailureGroup::truncated: type = classes.truncated; break;
    case dwt97::FailureGroup::io: type = classes.file; break;
    case dwt97::FailureGroup::outOfMemory:
      PyErr_SetString(PyExc_MemoryError, message.c_str());
      throw py::error_already_set();
  }
  if (!type) throw std::runtime_error(message);  // the package did not register its classes
  py::object error = type(message);
  if (dwt97::failureInfo(failure).group == dwt97::FailureGroup::io) {
    if (context.savedErrno != 0) error.attr("errno") = context.savedErrno;
    error.attr("filename") = context.filename;
  }
  PyErr_SetObject(type.ptr(), error.ptr());
  throw py::error_already_set();
}

constexpr py::ssize_t kMaxSide = std::numeric_limits<std::int32_t>::max();

// A 2-D uint8 array's shape, checked: TypeError for another dtype,
// ValueError for another rank or a side the library cannot address.
struct Shape {
  std::int32_t height;
  std::int32_t width;
  bool empty() const { return height == 0 || width == 0; }
};

Shape checkArray(const py::array& a) {
  const py::dtype type = a.dtype();
  if (type.kind() != 'u' || type.itemsize() != 1) {
    throw py::type_error("expected an array of dtype uint8, got " +
                         py::str(static_cast<const py::handle&>(type)).cast<std::string>());
  }
  if (a.ndim() != 2) {
    throw py::value_error("expected a 2-D array, got " + std::to_string(a.ndim()) +
                          " dimensions");
  }
  if (a.shape(0) > kMaxSide || a.shape(1) > kMaxSide) {
    throw py::value_error("array side beyond 2147483647 samples");
  }
  return {static_cast<std::int32_t>(a.shape(0)), static_cast<std::int32_t>(a.shape(1))};
}

void checkEvenSides(const Shape& shape, const char* operation) {
  if (shape.height % 2 != 0 || shape.width % 2 != 0) {
    throw py::value_error(std::string(operation) + " needs even height and width, got " +
                          std::to_string(shape.height) + " x " + std::to_string(shape.width));
  }
}

// The rows of an input array for the library to read: pointers straight into
// the array when its samples lie side by side along each row (any row
// stride, negative included), or else a compact copy. Never written through.
class InputRows {
 public:
  InputRows() = default;
  InputRows(const InputRows&) = delete;
  InputRows& operator=(const InputRows&) = delete;
  ~InputRows() { dwt97::planeRelease(&copy_); }

  // Prepares the pointers; runs without the interpreter lock. Returns
  // outOfMemory when a copy cannot be had.
  std::optional<dwt97::Failure> prepare(const std::uint8_t* data, py::ssize_t rowStride,
                                        py::ssize_t columnStride, const Shape& shape) {
    rows_.resize(static_cast<std::size_t>(shape.height));
    if (columnStride == 1 || shape.width <= 1) {
      for (std::int32_t r = 0; r < shape.height; ++r) rows_[r] = data + r * rowStride;
      return std::nullopt;
    }
    if (auto failure = dwt97::tryPlaneAllocate(&copy_, shape.width, shape.height)) return failure;
    for (std::int32_t r = 0; r < shape.height; ++r) {
      const std::uint8_t* from = data + r * rowStride;
      std::uint8_t* to = copy_.rows[r];
      for (std::int32_t c = 0; c < shape.width; ++c) to[c] = from[c * columnStride];
      rows_[r] = to;
    }
    return std::nullopt;
  }

  const std::uint8_t* const* rows() const { return rows_.data(); }

 private:
  std::vector<const std::uint8_t*> rows_;
  dwt97::PlaneBuffer copy_{};
};

// Copies any 2-D uint8 array, strided or not, into rows of `width` bytes.
void copyInto(std::uint8_t* const* rows, const std::uint8_t* data, py::ssize_t rowStride,
              py::ssize_t columnStride, const Shape& shape) {
  for (std::int32_t r = 0; r < shape.height; ++r) {
    const std::uint8_t* from = data + r * rowStride;
    if (columnStride == 1) {
      std::memcpy(rows[r], from, static_cast<std::size_t>(shape.width));
    } else {
      for (std::int32_t c = 0; c < shape.width; ++c) rows[r][c] = from[c * columnStride];
    }
  }
}

const std::uint8_t* arrayData(const py::array& a) {
  return static_cast<const std::uint8_t*>(a.data());
}

// A new C-ordered uint8 array and pointers to its rows.
struct OutputArray {
  py::array_t<std::uint8_t> array;
  std::vector<std::uint8_t*> rows;
  std::size_t width;
};

OutputArray makeOutput(const Shape& shape) {
  OutputArray out{py::array_t<std::uint8_t>({static_cast<py::ssize_t>(shape.height),
                                             static_cast<py::ssize_t>(shape.width)}),
                  {},
                  static_cast<std::size_t>(shape.width)};
  std::uint8_t* base = out.array.mutable_data();
  out.rows.resize(static_cast<std::size_t>(shape.height));
  for (std::int32_t r = 0; r < shape.height; ++r) {
    out.rows[r] = base + static_cast<std::size_t>(r) * static_cast<std::size_t>(shape.width);
  }
  return out;
}

void zeroFill(OutputArray& out, const Shape& shape) {
  if (!shape.empty()) {
    std::memset(out.rows[0], 0,
                static_cast<std::size_t>(shape.height) * static_cast<std::size_t>(shape.width));
  }
}

// The buffer in which the in-place transform leaves result row r: the low
// rows in the even rows' buffers, the high rows in the odd rows', an odd
// last row in its own. Only a guess that saves copying the result: what the
// transform did is checked afterwards.
std::int64_t expectedSource(std::int64_t r, std::int64_t half) {
  if (r < half) return 2 * r;
  return r < 2 * half ? 2 * (r - half) + 1 : r;
}

// Makes row r of the output array hold result row r, which `rows[r]` (one of
// the output array's own rows) holds after the transform. Nothing to do when
// the transform placed the rows where expected.
void putRowsInOrder(const std::vector<std::uint8_t*>& rows, OutputArray& out, const Shape& shape) {
  bool inOrder = true;
  for (std::int32_t r = 0; r < shape.height && inOrder; ++r) inOrder = rows[r] == out.rows[r];
  if (inOrder) return;
  std::vector<std::uint8_t> result(out.width * static_cast<std::size_t>(shape.height));
  for (std::int32_t r = 0; r < shape.height; ++r) {
    std::memcpy(result.data() + r * out.width, rows[r], out.width);
  }
  std::memcpy(out.rows[0], result.data(), result.size());
}

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

// A caller's array to receive the result: C-ordered, writeable, of `shape`,
// sharing no byte with the input.
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
  OutputArray out{py::reinterpret_borrow<py::array_t<std::uint8_t>>(target), {},
                  static_cast<std::size_t>(shape.width)};
  auto* base = static_cast<std::uint8_t*>(target.mutable_data());
  out.rows.resize(static_cast<std::size_t>(shape.height));
  for (std::int32_t r = 0; r < shape.height; ++r) out.rows[r] = base + r * out.width;
  return out;
}

py::array_t<std::uint8_t> forward(const py::array& a, int levels, int threads,
                                  const py::object& into) {
  const Shape shape = checkArray(a);
  if (levels < 1) throw py::value_error("levels must be 1 or more");
  if (threads < 0) throw py::value_error("threads must be 0 (every core) or more");
  OutputArray out = into.is_none() ? makeOutput(shape) : callersOutput(a, into, shape);
  if (shape.empty()) return out.array;
  const int most = dwtMostLevels(shape.width, shape.height);
  if (levels > most) {
    FailureContext context;
    context.operation = "dwtForward2dLevels";
    context.mostLevels = most;
    raiseFailure(dwt97::Failure::tooManyLevels, context);
  }
  const std::uint8_t* data = arrayData(a);
  const py::ssize_t rowStride = a.strides(0);
  const py::ssize_t columnStride = a.strides(1);
  // The transform works in place on the output array's rows, the input
  // copied in first, so the input stays untouched. Each input row goes to
  // the output row where its buffer's result row belongs.
  std::vector<std::uint8_t*> rows(static_cast<std::size_t>(shape.height));
  const std::int64_t half = shape.height / 2;
  for (std::int32_t r = 0; r < shape.height; ++r) rows[expectedSource(r, half)] = out.rows[r];
  std::optional<dwt97::Failure> failure;
  {
    py::gil_scoped_release release;
    copyInto(rows.data(), data, rowStride, columnStride, shape);
    failure = dwt97::tryForward2dLevels(rows.data(), shape.width, shape.height, levels, threads);
    if (!failure) putRowsInOrder(rows, out, shape);
  }
  if (failure) {
    FailureContext context;
    context.operation = levels == 1 ? "dwtForward2d" : "dwtForward2dLevels";
    context.mostLevels = most;
    raiseFailure(*failure, context);
  }
  return out.array;
}

// The four single passes share their shape: read the input's rows, write a
// zero-filled output of the same shape.
enum class Pass { forwardRows, forwardColumns, inverseColumns, inverseRows };

py::array_t<std::uint8_t> singlePass(const py::array& a, Pass pass) {
  const Shape shape = checkArray(a);
  if (pass == Pass::inverseColumns) checkEvenSides(shape, "inverse_columns");
  if (pass == Pass::inverseRows) checkEvenSides(shape, "inverse_rows");
  OutputArray out = makeOutput(shape);
  if (shape.empty()) return out.array;
  const std::uint8_t* data = arrayData(a);
  const py::ssize_t rowStride = a.strides(0);
  const py::ssize_t columnStride = a.strides(1);
  std::optional<dwt97::Failure> failure;
  const char* operation = "";
  {
    py::gil_scoped_release release;
    zeroFill(out, shape);
    InputRows input;
    failure = input.prepare(data, rowStride, columnStride, shape);
    if (!failure) {
      switch (pass) {
        case Pass::forwardRows:
          dwtForwardRows(out.rows.data(), input.rows(), shape.width, shape.height);
          break;
        case Pass::forwardColumns:
          operation = "dwtForwardColumns";
          failure = dwt97::tryForwardColumns(out.rows.data(), input.rows(), shape.width,
                                             shape.height);
          break;
        case Pass::inverseColumns:
          operation = "dwtInverseColumns";
          failure = dwt97::tryInverseColumns(out.rows.data(), input.rows(), shape.width / 2,
                                             shape.height / 2);
          break;
        case Pass::inverseRows:
          dwtInverseRows(out.rows.data(), input.rows(), shape.width / 2, shape.height / 2);
          break;
      }
    }
  }
  if (failure) {
    FailureContext context;
    context.operation = *operation != '\0' ? operation : "dwt97";
    raiseFailure(*failure, context);
  }
  return out.array;
}

// A bitmap record whose pixel buffer outlives the call: owned by the array
// made from it.
struct OwnedBitmap {
  Bitmap bmp;
  ~OwnedBitmap() { bmpRelease(&bmp); }
};

// Reads one picture, from the file at `path` or from `bytes` in memory, into
// `bmp`. The one place the module reads pictures: to read every format the
// library reads, switch these calls to dwt97::tryLoadPicture and
// dwt97::tryParsePicture (and report their PictureFormat in the header).
std::optional<dwt97::Failure> readPicture(Bitmap* bmp, const char* path,
                                          const std::uint8_t* bytes, std::size_t count) {
  return path != nullptr ? dwt97::tryLoad(bmp, path) : dwt97::tryParse(bmp, bytes, count);
}

// (pixels, bottom_up, header) of a picture read from a file or memory.
py::tuple readToTuple(const char* path, const std::uint8_t* bytes, std::size_t count,
                      const py::object& filename) {
  auto owned = std::make_unique<OwnedBitmap>();
  std::optional<dwt97::Failure> failure;
  int savedErrno = 0;
  {
    py::gil_scoped_release release;
    errno = 0;
    failure = readPicture(&owned->bmp, path, bytes, count);
    savedErrno = errno;
  }
  if (failure) {
    owned->bmp.data = nullptr;  // a failed read leaves nothing to release
    FailureContext context;
    context.operation = "bmpLoad";
    context.savedErrno = savedErrno;
    context.filename = filename;
    raiseFailure(*failure, context);
  }
  const Bitmap& bmp = owned->bmp;
  const std::int32_t storedHeight = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(bmp.rawHeader[22]) |
      static_cast<std::uint32_t>(bmp.rawHeader[23]) << 8 |
      static_cast<std::uint32_t>(bmp.rawHeader[24]) << 16 |
      static_cast<std::uint32_t>(bmp.rawHeader[25]) << 24);
  py::dict header;
  header["format"] = "bmp";
  header["signature"] = bmp.signature;
  header["file_size"] = bmp.fileSize;
  header["data_offset"] = bmp.dataOffset;
  header["size"] = bmp.size;
  header["width"] = bmp.width;
  header["height"] = bmp.height;
  header["stored_height"] = storedHeight;
  header["planes"] = bmp.planes;
  header["bits_per_pixel"] = bmp.bitsPerPixel;
  header["compression"] = bmp.compression;
  header["image_size"] = bmp.imageSize;
  header["x_pixels_per_m"] = bmp.xpixelsPerM;
  header["y_pixels_per_m"] = bmp.ypixelsPerM;
  header["colors_used"] = bmp.colorsUsed;
  header["colors_important"] = bmp.colorsImportant;
  // The pixels are the record's own buffer, released with the array.
  std::uint8_t* pixels = bmp.data;
  const py::ssize_t height = bmp.height;
  const py::ssize_t width = bmp.width;
  OwnedBitmap* raw = owned.release();
  py::capsule keeper(raw, [](void* p) { delete static_cast<OwnedBitmap*>(p); });
  py::array_t<std::uint8_t> array({height, width}, {width, py::ssize_t{1}}, pixels, keeper);
  return py::make_tuple(array, storedHeight > 0, header);
}

py::tuple load(const std::string& path, const py::object& filename) {
  return readToTuple(path.c_str(), nullptr, 0, filename);
}

py::tuple parse(const py::buffer& data) {
  const py::buffer_info info = data.request();
  if (info.ndim > 1 || (info.ndim == 1 && info.strides[0] != info.itemsize)) {
    throw py::value_error("parse() needs contiguous bytes");
  }
  const auto count = static_cast<std::size_t>(info.size) * static_cast<std::size_t>(info.itemsize);
  return readToTuple(nullptr, static_cast<const std::uint8_t*>(info.ptr), count, py::none());
}

// Writes `a` to `path` as raw bytes or a PGM picture, atomically as the
// library's saves do.
void save(const std::string& path, const py::array& a, const std::string& format, bool bottomUp,
          const py::object& filename) {
  const Shape shape = checkArray(a);
  if (format != "raw" && format != "pgm") {
    // PNG joins when the library writes it.
    throw py::value_error("unsupported save format '" + format + "' (raw or pgm)");
  }
  if (shape.height > std::numeric_limits<std::uint16_t>::max()) {
    throw py::value_error("cannot save more than 65535 rows");
  }
  Bitmap bmp;
  std::memset(&bmp, 0, sizeof bmp);
  bmp.width = shape.width;
  bmp.height = static_cast<std::uint16_t>(shape.height);
  // The stored height's sign: negative (top row first) unless bottom-up.
  if (!bottomUp) bmp.rawHeader[25] = 0x80;
  const std::uint8_t* data = arrayData(a);
  const py::ssize_t rowStride = a.strides(0);
  const py::ssize_t columnStride = a.strides(1);
  std::optional<dwt97::Failure> failure;
  int savedErrno = 0;
  {
    py::gil_scoped_release release;
    InputRows input;
    failure = input.prepare(data, rowStride, columnStride, shape);
    if (!failure) {
      errno = 0;
      failure = format == "pgm" ? dwt97::trySavePgmPlane(&bmp, path.c_str(), input.rows())
                                : dwt97::trySavePlane(&bmp, path.c_str(), input.rows());
      savedErrno = errno;
    }
  }
  if (failure) {
    FailureContext context;
    context.operation = "bmpSave";
    context.savedErrno = savedErrno;
    context.filename = filename;
    raiseFailure(*failure, context);
  }
}

// The best of `repeats` timings, in seconds, of the library's own in-place
// transform of a copy of `a` on `threads` threads: the baseline that the
// benchmark sets forward() against.
double timeForward(const py::array& a, int threads, int repeats) {
  const Shape shape = checkArray(a);
  if (shape.empty() || repeats < 1) throw py::value_error("nothing to time");
  const std::uint8_t* data = arrayData(a);
  const py::ssize_t rowStride = a.strides(0);
  const py::ssize_t columnStride = a.strides(1);
  std::optional<dwt97::Failure> failure;
  double best = 0;
  {
    py::gil_scoped_release release;
    dwt97::PlaneBuffer plane{};
    failure = dwt97::tryPlaneAllocate(&plane, shape.width, shape.height);
    if (!failure) copyInto(plane.rows, data, rowStride, columnStride, shape);
    for (int k = 0; k < repeats && !failure; ++k) {
      const auto start = std::chrono::steady_clock::now();
      failure = dwt97::tryForward2d(plane.rows, shape.width, shape.height, threads);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      if (k == 0 || took.count() < best) best = took.count();
    }
    dwt97::planeRelease(&plane);
  }
  if (failure) {
    FailureContext context;
    context.operation = "dwtForward2d";
    raiseFailure(*failure, context);
  }
  return best;
}

void registerErrors(py::object malformed, py::object unsupported, py::object truncated,
                    py::object file) {
  ErrorClasses& classes = errorClasses();
  classes.malformed = std::move(malformed);
  classes.unsupported = std::move(unsupported);
  classes.truncated = std::move(truncated);
  classes.file = std::move(file);
}

}  // namespace

PYBIND11_MODULE(_dwt97, m) {
  m.doc() = "The compiled core of the dwt97 package; use the dwt97 package itself.";
  m.attr("__version__") = DWT97_VERSION_STRING;
  m.def("_register_errors", &registerErrors);
  m.def("_time_forward", &timeForward, py::arg("a"), py::arg("threads"), py::arg("repeats"));
  m.def("forward", &forward, py::arg("a"), py::arg("levels") = 1, py::arg("threads") = 0,
        py::arg("out") = py::none());
  m.def("forward_rows", [](const py::array& a) { return singlePass(a, Pass::forwardRows); },
        py::arg("a"));
  m.def("forward_columns",
        [](const py::array& a) { return singlePass(a, Pass::forwardColumns); }, py::arg("a"));
  m.def("inverse_columns",
        [](const py::array& a) { return singlePass(a, Pass::inverseColumns); }, py::arg("a"));
  m.def("inverse_rows", [](const py::array& a) { return singlePass(a, Pass::inverseRows); },
        py::arg("a"));
  m.def("load", &load, py::arg("path"), py::arg("filename"));
  m.def("parse", &parse, py::arg("data"));
  m.def("save", &save, py::arg("path"), py::arg("a"), py::arg("format"), py::arg("bottom_up"),
        py::arg("filename"));
}
