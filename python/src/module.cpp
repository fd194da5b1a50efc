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

#include "arrays.h"
#include "failures.h"

namespace py = pybind11;

using namespace dwt97::python;

namespace {

// The package checks the counts' types and ranges before they get here.
py::array_t<std::uint8_t> forward(const py::array& a, int levels, int threads,
                                  const py::object& into) {
  const Shape shape = checkArray(a);
  if (levels < 1) throw py::value_error("levels must be 1 or more");
  if (threads < 0) throw py::value_error("threads must be 0 (every core) or more");
  checkNotEmpty(shape, "transform");
  OutputArray out =
      into.is_none() ? makeOutput(shape, "dwtForward2d") : callersOutput(a, into, shape);
  const ArrayBytes bytes = bytesOf(a);
  // The transform reads the input's rows where they lie (through a compact
  // copy only when a row's samples are not side by side) and writes result
  // row r straight to the output's row r, later levels within the output's
  // rows; the input is never written.
  std::optional<dwt97::Error> error;
  {
    py::gil_scoped_release release;
    InputRows input;
    if (input.prepare(bytes, shape)) {
      error = dwt97::Error{dwt97::Failure::outOfMemory, "dwtForward2d"};
    } else {
      error = dwt97::dwtForward2dLevelsInto(out.rows.data(), input.rows(), shape.width,
                                            shape.height, levels, threads);
    }
  }
  if (error) raiseFailure(*error);
  return out.array;
}

// The four single passes share their shape: read the input's rows, write a
// zero-filled output of the same shape.
enum class Pass { forwardRows, forwardColumns, inverseColumns, inverseRows };

py::array_t<std::uint8_t> singlePass(const py::array& a, Pass pass) {
  const Shape shape = checkArray(a);
  if (pass == Pass::inverseColumns) checkEvenSides(shape, "inverse_columns");
  if (pass == Pass::inverseRows) checkEvenSides(shape, "inverse_rows");
  static const char* const kOperations[] = {"dwtForwardRows", "dwtForwardColumns",
                                            "dwtInverseColumns", "dwtInverseRows"};
  const char* operation = kOperations[static_cast<int>(pass)];
  OutputArray out = makeOutput(shape, operation);
  if (shape.empty()) return out.array;
  const ArrayBytes bytes = bytesOf(a);
  std::optional<dwt97::Error> error;
  {
    py::gil_scoped_release release;
    zeroFill(out, shape);
    InputRows input;
    error = input.prepare(bytes, shape);
    if (!error) {
      switch (pass) {
        case Pass::forwardRows:
          dwtForwardRows(out.rows.data(), input.rows(), shape.width, shape.height);
          break;
        case Pass::forwardColumns:
          error =
              dwt97::dwtForwardColumns(out.rows.data(), input.rows(), shape.width, shape.height);
          break;
        case Pass::inverseColumns:
          error = dwt97::dwtInverseColumns(out.rows.data(), input.rows(), shape.width / 2,
                                           shape.height / 2);
          break;
        case Pass::inverseRows:
          dwtInverseRows(out.rows.data(), input.rows(), shape.width / 2, shape.height / 2);
          break;
      }
    }
  }
  if (error) raiseFailure(*error);
  return out.array;
}

// The coefficient operations: checks of the array, the levels and the
// threads, then a new result array filled by the library with the lock
// released. `operation` names the library's call in its failures; the
// `reversible` 5/3 reads and writes int32 coefficients where the 9/7 has
// float32 ones.
enum class Coefficients { analyze, synthesize, view };

py::array coefficients(const py::array& a, int levels, int threads, Coefficients which,
                       bool reversible) {
  static const char* const kOperations[2][3] = {
      {"dwtAnalyze", "dwtSynthesize", "dwtRenderView"},
      {"dwtAnalyze53", "dwtSynthesize53", "dwtRenderView"}};
  static const char* const kVerbs[] = {"analyze", "synthesize", "view"};
  const char* operation = kOperations[reversible][static_cast<int>(which)];
  const Sample kind = reversible ? Sample::ints : Sample::floats;
  const SampleArray samples = checkSamples(a, kind, which == Coefficients::analyze);
  checkNotEmpty(samples.shape, kVerbs[static_cast<int>(which)]);
  checkLevels(samples.shape, levels, operation);
  if (threads < 0) throw py::value_error("threads must be 0 (every core) or more");
  const py::dtype result = which == Coefficients::view ? py::dtype::of<std::uint8_t>()
                           : reversible                ? py::dtype::of<std::int32_t>()
                                                       : py::dtype::of<float>();
  py::array out = newArray(samples.shape, result, operation);
  const bool bytes = samples.kind == Sample::bytes;
  std::optional<dwt97::Error> error;
  {
    py::gil_scoped_release release;
    InputPlane input;
    error = input.prepare(samples, operation);
    if (!error && reversible) {
      switch (which) {
        case Coefficients::analyze:
          error =
              bytes
                  ? dwt97::dwtAnalyze53(input.bytes(), planeOf<std::int32_t>(out), levels, threads)
                  : dwt97::dwtAnalyze53(input.ints(), planeOf<std::int32_t>(out), levels, threads);
          break;
        case Coefficients::synthesize:
          error = dwt97::dwtSynthesize53(input.ints(), planeOf<std::int32_t>(out), levels, threads);
          break;
        case Coefficients::view:
          error = dwt97::dwtRenderView(input.ints(), planeOf<std::uint8_t>(out), levels);
          break;
      }
    } else if (!error) {
      switch (which) {
        case Coefficients::analyze:
          error = bytes ? dwt97::dwtAnalyze(input.bytes(), planeOf<float>(out), levels, threads)
                        : dwt97::dwtAnalyze(input.floats(), planeOf<float>(out), levels, threads);
          break;
        case Coefficients::synthesize:
          error = dwt97::dwtSynthesize(input.floats(), planeOf<float>(out), levels, threads);
          break;
        case Coefficients::view:
          error = dwt97::dwtRenderView(input.floats(), planeOf<std::uint8_t>(out), levels);
          break;
      }
    }
  }
  if (error) raiseFailure(*error);
  return out;
}

// The most levels an array of `height` x `width` allows.
int mostLevels(py::ssize_t height, py::ssize_t width) {
  if (height < 0 || width < 0) throw py::value_error("a side cannot be negative");
  if (height > std::numeric_limits<std::int32_t>::max() ||
      width > std::numeric_limits<std::int32_t>::max()) {
    throw py::value_error("array side beyond 2147483647 samples");
  }
  return dwt97::dwtMostAnalysisLevels(static_cast<std::int32_t>(width),
                                      static_cast<std::int32_t>(height));
}

// A bitmap record whose pixel buffer outlives the call: owned by the array
// made from it.
struct OwnedBitmap {
  Bitmap bmp;
  ~OwnedBitmap() { bmpRelease(&bmp); }
};

// Reads one picture, from the file at `path` or from `bytes` in memory, into
// `bmp`, whatever its format (the library's own detection by first bytes).
std::optional<dwt97::Error> readPicture(Bitmap* bmp, dwt97::PictureFormat* format, const char* path,
                                        const std::uint8_t* bytes, std::size_t count) {
  return path != nullptr ? dwt97::loadPicture(bmp, format, path)
                         : dwt97::parsePicture(bmp, format, bytes, count);
}

const char* formatName(dwt97::PictureFormat format) {
  switch (format) {
    case dwt97::PictureFormat::pgm:
      return "pgm";
    case dwt97::PictureFormat::png:
      return "png";
    case dwt97::PictureFormat::jpeg:
      return "jpeg";
    case dwt97::PictureFormat::ppm:
      return "ppm";
    case dwt97::PictureFormat::tiff:
      return "tiff";
    default:
      return "bmp";
  }
}

// (pixels, bottom_up, header) of a picture read from a file or memory.
py::tuple readToTuple(const char* path, const std::uint8_t* bytes, std::size_t count,
                      const py::object& filename) {
  auto owned = std::make_unique<OwnedBitmap>();
  std::optional<dwt97::Error> error;
  dwt97::PictureFormat format = dwt97::PictureFormat::bmp;
  int savedErrno = 0;
  {
    py::gil_scoped_release release;
    errno = 0;
    error = readPicture(&owned->bmp, &format, path, bytes, count);
    savedErrno = errno;
  }
  if (error) {
    owned->bmp.data = nullptr;  // a failed read leaves nothing to release
    FileContext context;
    context.savedErrno = savedErrno;
    context.filename = filename;
    raiseFailure(*error, context);
  }
  const Bitmap& bmp = owned->bmp;
  // A stored height is its magnitude, negative for a top-down file.
  const std::int32_t storedHeight = bmp.topDown ? -std::int32_t{bmp.height} : bmp.height;
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
  if (format != dwt97::PictureFormat::bmp) {
    // Of another picture, only what its file holds: its format and size.
    header = py::dict();
    header["format"] = formatName(format);
    header["width"] = bmp.width;
    header["height"] = bmp.height;
  }
  // The pixels are the record's own buffer, released with the array.
  std::uint8_t* pixels = bmp.data;
  const py::ssize_t height = bmp.height;
  const py::ssize_t width = bmp.width;
  OwnedBitmap* raw = owned.release();
  py::capsule keeper(raw, [](void* p) { delete static_cast<OwnedBitmap*>(p); });
  py::array_t<std::uint8_t> array({height, width}, {width, py::ssize_t{1}}, pixels, keeper);
  return py::make_tuple(array, !bmp.topDown, header);
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

// Writes `a` to `path` as raw bytes, a PGM or a PNG picture, atomically as the
// library's saves do.
void save(const std::string& path, const py::array& a, const std::string& format, bool bottomUp,
          const py::object& filename) {
  const Shape shape = checkArray(a);
  if (format != "raw" && format != "pgm" && format != "png") {
    throw py::value_error("unsupported save format '" + format + "' (raw, pgm or png)");
  }
  // A picture file of no rows or no columns could not be read back.
  checkNotEmpty(shape, "save");
  if (shape.height > std::numeric_limits<std::uint16_t>::max()) {
    throw py::value_error("cannot save more than 65535 rows");
  }
  Bitmap bmp{};
  bmp.width = shape.width;
  bmp.height = static_cast<std::uint16_t>(shape.height);
  bmp.topDown = !bottomUp;
  const ArrayBytes bytes = bytesOf(a);
  std::optional<dwt97::Error> error;
  int savedErrno = 0;
  {
    py::gil_scoped_release release;
    InputRows input;
    error = input.prepare(bytes, shape);
    if (!error) {
      errno = 0;
      error = format == "pgm"   ? dwt97::bmpSavePgmPlane(&bmp, path.c_str(), input.rows())
              : format == "png" ? dwt97::bmpSavePngPlane(&bmp, path.c_str(), input.rows())
                                : dwt97::bmpSavePlane(&bmp, path.c_str(), input.rows());
      savedErrno = errno;
    }
  }
  if (error) {
    FileContext context;
    context.savedErrno = savedErrno;
    context.filename = filename;
    raiseFailure(*error, context);
  }
}

// The best of `repeats` timings, in seconds, of the library's own
// out-of-place transform of `a`'s rows (read where they lie, as forward()
// reads them) into one plane allocated beforehand, on `threads` threads:
// the baseline that the benchmark sets forward() against.
double timeForward(const py::array& a, int threads, int repeats) {
  const Shape shape = checkArray(a);
  if (shape.empty() || repeats < 1) throw py::value_error("nothing to time");
  const ArrayBytes bytes = bytesOf(a);
  std::optional<dwt97::Error> error;
  double best = 0;
  {
    py::gil_scoped_release release;
    InputRows input;
    dwt97::PlaneBuffer plane{};
    error = input.prepare(bytes, shape);
    if (!error) error = dwt97::planeAllocate(&plane, shape.width, shape.height);
    for (int k = 0; k < repeats && !error; ++k) {
      const auto start = std::chrono::steady_clock::now();
      error = dwt97::dwtForward2dInto(plane.rows, input.rows(), shape.width, shape.height, threads);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      if (k == 0 || took.count() < best) best = took.count();
    }
    dwt97::planeRelease(&plane);
  }
  if (error) raiseFailure(*error);
  return best;
}

}  // namespace

PYBIND11_MODULE(_dwt97, m) {
  m.doc() = "The compiled core of the dwt97 package; use the dwt97 package itself.";
  m.attr("__version__") = DWT97_VERSION_STRING;
  m.def("_register_errors", &registerErrors);
  m.def("_time_forward", &timeForward, py::arg("a"), py::arg("threads"), py::arg("repeats"));
  m.def("forward", &forward, py::arg("a"), py::arg("levels") = 1, py::arg("threads") = 0,
        py::arg("out") = py::none());
  m.def(
      "forward_rows", [](const py::array& a) { return singlePass(a, Pass::forwardRows); },
      py::arg("a"));
  m.def(
      "forward_columns", [](const py::array& a) { return singlePass(a, Pass::forwardColumns); },
      py::arg("a"));
  m.def(
      "inverse_columns", [](const py::array& a) { return singlePass(a, Pass::inverseColumns); },
      py::arg("a"));
  m.def(
      "inverse_rows", [](const py::array& a) { return singlePass(a, Pass::inverseRows); },
      py::arg("a"));
  m.def(
      "analyze",
      [](const py::array& a, int levels, int threads, bool reversible) {
        return coefficients(a, levels, threads, Coefficients::analyze, reversible);
      },
      py::arg("a"), py::arg("levels"), py::arg("threads"), py::arg("reversible"));
  m.def(
      "synthesize",
      [](const py::array& c, int levels, int threads, bool reversible) {
        return coefficients(c, levels, threads, Coefficients::synthesize, reversible);
      },
      py::arg("c"), py::arg("levels"), py::arg("threads"), py::arg("reversible"));
  m.def(
      "view",
      [](const py::array& c, int levels, bool reversible) {
        return coefficients(c, levels, 0, Coefficients::view, reversible);
      },
      py::arg("c"), py::arg("levels"), py::arg("reversible"));
  m.def("most_levels", &mostLevels, py::arg("height"), py::arg("width"));
  m.def(
      "check_levels",
      [](py::ssize_t height, py::ssize_t width, int levels, const std::string& operation) {
        mostLevels(height, width);  // the sides' range
        checkLevels({static_cast<std::int32_t>(height), static_cast<std::int32_t>(width)}, levels,
                    operation.c_str());
      },
      py::arg("height"), py::arg("width"), py::arg("levels"), py::arg("operation"));
  m.def("load", &load, py::arg("path"), py::arg("filename"));
  m.def("parse", &parse, py::arg("data"));
  m.def("save", &save, py::arg("path"), py::arg("a"), py::arg("format"), py::arg("bottom_up"),
        py::arg("filename"));
}
