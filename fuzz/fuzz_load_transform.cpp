// libFuzzer target over the loading and transform path: every input is taken
// as a whole bitmap file and parsed from memory by dwt97::bmpParse, then run
// through both forward passes and bmpFlattenPlane, and as the tool runs them:
// transformed in place in the record's own pixel buffer by the fused
// dwt97::dwtForward2d. A refused file must give one of the loader's failures
// and leave no pixel buffer; an accepted one must hold exactly the file's
// rows, and both transforms must agree.
//
// An input that starts with numpy's magic is a .npy file of coefficients,
// read by dwt97::npyParse and synthesised, analysed and viewed, by the 9/7
// for float32 and by the reversible 5/3 for int32; one whose
// first bytes announce another picture format goes to the picture readers
// instead (dwt97::parsePicture over the bytes): a refusal
// must be one "Error: ..." line with no buffer left, an accepted picture
// must be within the limits, top row first, and transform in place on two
// threads.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "dwt97/dwt97.h"

using dwt97::Failure;
using dwt97::PlaneBuffer;

namespace {

bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool endsWith(const char* text, const char* suffix) {
  const std::size_t n = std::strlen(text), m = std::strlen(suffix);
  return n >= m && std::strcmp(text + n - m, suffix) == 0;
}

[[noreturn]] void stop(const char* why) {
  std::fprintf(stderr, "%s\n", why);
  std::abort();
}

PlaneBuffer plane(std::int32_t width, std::int32_t height) {
  PlaneBuffer buffer;
  if (dwt97::planeAllocate(&buffer, width, height)) stop("no memory for a plane");
  return buffer;
}

}  // namespace

namespace {

int fuzzPicture(const std::uint8_t* data, std::size_t size) {
  Bitmap bmp;
  dwt97::PictureFormat format;
  const std::optional<dwt97::Error> failure = dwt97::parsePicture(&bmp, &format, data, size);
  if (format == dwt97::PictureFormat::bmp) std::abort();  // the caller sent a picture
  if (failure) {
    char message[dwt97::kMessageCapacity];
    const char* text = dwt97::formatFailure(*failure, message, sizeof message);
    if (!startsWith(text, "Error: ") || !endsWith(text, "\n") || bmp.data != nullptr) {
      std::fprintf(stderr, "unexpected refusal: %s", text);
      std::abort();
    }
    return 0;
  }
  if (bmp.width < 1 || bmp.height < 1 ||
      std::int64_t{bmp.width} * bmp.height > std::int64_t{0x7FFFFFFF} || !bmp.topDown) {
    std::abort();
  }
  std::vector<std::uint8_t*> rows(bmp.height);
  dwt97::planeRowsOver(rows.data(), bmp.data, bmp.height, bmp.width);
  if (dwt97::dwtForward2d(rows.data(), bmp.width, bmp.height, 2)) std::abort();
  bmpRelease(&bmp);
  return 0;
}

// int32 coefficients, as the 5/3's: their synthesis and view of every level
// count up to `deepest` on two threads; the array taken as samples instead,
// an analysis that either comes back exactly through the synthesis or is
// refused as beyond 32 bits.
void fuzzIntCoefficients(const dwt97::NpyArray& array, int deepest) {
  const std::int32_t w = array.width, h = array.height;
  const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  std::vector<std::int32_t> out(count), back(count);
  std::vector<std::uint8_t> view(count);
  const dwt97::IntPlane outPlane = dwt97::planeOver(out.data(), w, h);
  const dwt97::IntPlane backPlane = dwt97::planeOver(back.data(), w, h);
  for (int levels = 0; levels <= deepest; ++levels) {
    if (dwt97::dwtSynthesize53(dwt97::npyIntPlane(array), outPlane, levels, 2) ||
        dwt97::dwtRenderView(dwt97::npyIntPlane(array), dwt97::planeOver(view.data(), w, h),
                             levels) ||
        dwt97::dwtRoundToBytes(outPlane, dwt97::planeOver(view.data(), w, h))) {
      stop("int coefficients refused");
    }
    const std::optional<dwt97::Error> analysed =
        dwt97::dwtAnalyze53(dwt97::npyIntPlane(array), outPlane, levels, 2);
    if (analysed && *analysed != Failure::coefficientsOverflow) stop("int samples refused");
    if (analysed) continue;
    if (dwt97::dwtSynthesize53(outPlane, backPlane, levels, 2)) stop("int synthesis refused");
    if (std::memcmp(back.data(), array.ints, count * sizeof(std::int32_t)) != 0) {
      stop("the 5/3 gave other samples back");
    }
  }
}

// A .npy file: a refusal is one "Error: npyLoad(), ..." line with nothing
// left; an accepted array is within the limits and goes through the
// analysis and synthesis of every level count up to three, in floats and as
// the view, on two threads (int32 ones through the 5/3's).
int fuzzCoefficients(const std::uint8_t* data, std::size_t size) {
  dwt97::NpyArray array;
  if (const std::optional<dwt97::Error> failure = dwt97::npyParse(&array, data, size)) {
    char message[dwt97::kMessageCapacity];
    const char* text = dwt97::formatFailure(*failure, message, sizeof message);
    if (!startsWith(text, "Error: npyLoad(), ") || array.data != nullptr || array.ints != nullptr) {
      std::fprintf(stderr, "unexpected refusal: %s", text);
      std::abort();
    }
    return 0;
  }
  const std::int32_t w = array.width, h = array.height;
  if (w < 1 || h < 1 || h > 65535 || std::int64_t{w} * h > std::int64_t{0x7FFFFFFF}) std::abort();
  const bool floats = array.type == dwt97::NpyType::float32;
  if ((array.data != nullptr) != floats || (array.ints != nullptr) == floats) std::abort();
  const int most = dwt97::dwtMostAnalysisLevels(w, h);
  if (!floats) {
    fuzzIntCoefficients(array, most < 3 ? most : 3);
    dwt97::npyRelease(&array);
    return 0;
  }
  const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  std::vector<float> out(count), back(count);
  std::vector<std::uint8_t> view(count);
  for (int levels = 0; levels <= (most < 3 ? most : 3); ++levels) {
    const dwt97::FloatPlane outPlane = dwt97::planeOver(out.data(), w, h);
    if (dwt97::dwtSynthesize(dwt97::npyPlane(array), outPlane, levels, 2) ||
        dwt97::dwtAnalyze(outPlane, dwt97::planeOver(back.data(), w, h), levels, 2) ||
        dwt97::dwtRenderView(dwt97::npyPlane(array), dwt97::planeOver(view.data(), w, h), levels)) {
      stop("coefficients refused");
    }
  }
  dwt97::npyRelease(&array);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 6 && std::memcmp(data, "\x93NUMPY", 6) == 0) return fuzzCoefficients(data, size);
  if (dwt97::detectPicture(data, size) != dwt97::PictureFormat::bmp) {
    return fuzzPicture(data, size);
  }
  Bitmap bmp;
  if (const std::optional<dwt97::Error> failure = dwt97::bmpParse(&bmp, data, size)) {
    // One of the loader's own failures, and no buffer left behind.
    char message[dwt97::kMessageCapacity];
    const char* text = dwt97::formatFailure(*failure, message, sizeof message);
    if (!startsWith(text, "Error: bmpLoad(), ") || *failure == Failure::loadOpen ||
        *failure == Failure::loadNotRegularFile || *failure == Failure::loadRead ||
        bmp.data != nullptr) {
      std::fprintf(stderr, "unexpected refusal: %s", text);
      std::abort();
    }
    return 0;
  }
  if (bmp.width < 1 || bmp.height < 1 ||
      std::int64_t{bmp.width} * bmp.height > std::int64_t{0x7FFFFFFF} || bmp.dataOffset < 54 ||
      static_cast<std::uint64_t>(bmp.dataOffset) > size ||
      std::memcmp(bmp.rawHeader, data, 54) != 0) {
    stop("accepted record out of range");
  }

  const std::int32_t width = bmp.width;
  const std::int32_t height = bmp.height;
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t pixels = w * static_cast<std::size_t>(height);
  // Row r of the buffer is the file's row r at the format's 4-byte stride
  // (top-down files keep their rows in file order too).
  const std::size_t stride = (w + 3) / 4 * 4;
  PlaneBuffer source = plane(width, height);
  for (std::int32_t r = 0; r < height; ++r) {
    const std::uint8_t* stored = data + bmp.dataOffset + static_cast<std::size_t>(r) * stride;
    if (std::memcmp(bmp.data + static_cast<std::size_t>(r) * w, stored, w) != 0) {
      stop("loaded row differs from the file's row");
    }
    std::memcpy(source.rows[r], stored, w);
  }

  PlaneBuffer rowPass = plane(width, height);
  PlaneBuffer result = plane(width, height);
  PlaneBuffer flat = plane(width, height);
  dwtForwardRows(rowPass.rows, source.rows, width, height);
  if (dwt97::dwtForwardColumns(result.rows, rowPass.rows, width, height)) {
    stop("column pass out of memory");
  }
  bmpFlattenPlane(&bmp, result.rows, flat.block);
  if (std::memcmp(flat.block, result.block, pixels) != 0) stop("flattened plane differs");

  // The tool's own path: the fused transform in place in the record's pixel
  // buffer, on two threads; the same bytes, row by row.
  std::vector<std::uint8_t*> rows(static_cast<std::size_t>(height));
  dwt97::planeRowsOver(rows.data(), bmp.data, height, width);
  if (dwt97::dwtForward2d(rows.data(), width, height, 2)) stop("fused transform out of memory");
  for (std::int32_t r = 0; r < height; ++r) {
    if (std::memcmp(rows[r], result.rows[r], w) != 0) {
      std::fprintf(stderr, "fused transform differs in row %d\n", static_cast<int>(r));
      std::abort();
    }
  }

  dwt97::planeRelease(&flat);
  dwt97::planeRelease(&result);
  dwt97::planeRelease(&rowPass);
  dwt97::planeRelease(&source);
  bmpRelease(&bmp);
  return 0;
}
