// The tool's runs on coefficients (see coefficients.h): the picture loaded
// and turned upright without a copy, analysed or synthesised by the
// library's coefficient operations of the wavelet (the 9/7's on floats, the
// 5/3's on ints, one template over both), reported, the pause, then the
// save.
#include "coefficients.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "dwt97/bitmap.h"
#include "dwt97/coefficients.h"
#include "dwt97/npy.h"
#include "dwt97/picture.h"
#include "dwt97/reversible.h"
#include "outcome.h"
#include "platform/platform.h"

namespace dwt97::tool {
namespace {

// What a run holds, released however it ends.
struct Held {
  Bitmap bmp{};
  NpyArray array;
  void* samples = nullptr;  // floats or ints, as the wavelet's
  std::uint8_t* bytes = nullptr;
  ~Held() {
    std::free(bytes);
    std::free(samples);
    npyRelease(&array);
    bmpRelease(&bmp);
  }
};

// `count` floats, ints or bytes, or null when memory runs out.
template <typename T>
T* allocate(std::int64_t count) {
  return static_cast<T*>(std::malloc(static_cast<std::size_t>(count) * sizeof(T)));
}

// The record the saves take for a `width` x `height` block of bytes stored
// top row first: only its shape and row order are read.
Bitmap uprightRecord(std::int32_t width, std::int32_t height) {
  Bitmap record{};
  record.width = width;
  record.height = static_cast<std::uint16_t>(height);
  record.topDown = true;
  return record;
}

// Saves `width` x `height` bytes, top row first, as `format` says.
std::optional<Error> saveBytes(Format format, const char* output, std::int32_t width,
                               std::int32_t height, const std::uint8_t* bytes) {
  const Bitmap record = uprightRecord(width, height);
  if (format == Format::png) return dwt97::bmpSavePng(&record, output, bytes);
  if (format == Format::pgm) return dwt97::bmpSavePgm(&record, output, bytes);
  return dwt97::bmpSave(&record, output, bytes);
}

// The report of a run on coefficients, the pause, then the save: a report
// that did not arrive ends the run before anything is saved.
template <typename Report, typename Save>
int reportPauseAndSave(const Options& options, Report report, Save save) {
  if (!options.quiet) report();
  if (finishOutput(0) != 0) return 1;
  if (options.pause) detail::pauseForKey();
  if (const std::optional<Error> error = save()) return failed(*error);
  return 0;
}

// The wavelet's analysis and synthesis over the planes of its samples.
std::optional<Error> analysis(ConstBytePlane in, FloatPlane out, const Options& options) {
  return dwtAnalyze(in, out, options.levels, options.threads);
}
std::optional<Error> analysis(ConstBytePlane in, IntPlane out, const Options& options) {
  return dwtAnalyze53(in, out, options.levels, options.threads);
}
std::optional<Error> synthesis(ConstFloatPlane in, FloatPlane out, const Options& options) {
  return dwtSynthesize(in, out, options.levels, options.threads);
}
std::optional<Error> synthesis(ConstIntPlane in, IntPlane out, const Options& options) {
  return dwtSynthesize53(in, out, options.levels, options.threads);
}

// The analysis of `in` into coefficients of type T, then the view of them
// in place of the picture's bytes when asked for, the report and the save.
template <typename T>
int analyzeInto(const Options& options, Format format, Held& held, PictureFormat picture,
                ConstBytePlane in) {
  Bitmap& bmp = held.bmp;
  const std::int32_t width = in.width, height = in.height;
  T* samples = allocate<T>(std::int64_t{width} * height);
  held.samples = samples;
  if (samples == nullptr) return failed({Failure::outOfMemory, "main"});
  const PlaneView<T> coefficients = planeOver(samples, width, height);
  if (const auto error = analysis(in, coefficients, options)) return failed(*error);
  // The picture's bytes are done with: the view takes their place, top row
  // first.
  if (options.view) {
    const auto error =
        dwtRenderView(coefficients, planeOver(bmp.data, width, height), options.levels);
    if (error) return failed(*error);
  }
  return reportPauseAndSave(
      options,
      [&] {
        if (picture == PictureFormat::bmp) {
          bmpPrint(&bmp);
        } else {
          printPicture(&bmp, picture);
        }
      },
      [&]() -> std::optional<Error> {
        if (!options.view) return npySave(options.output, coefficients);
        return saveBytes(format, options.output, width, height, bmp.data);
      });
}

// The synthesis of the coefficients `in` into samples of type T, written as
// they are to a .npy output or as the picture's bytes (rounded or clamped
// as the type's dwtRoundToBytes does) to any other.
template <typename T>
int synthesizeInto(const Options& options, Format format, Held& held, PlaneView<const T> in) {
  const std::int32_t width = in.width, height = in.height;
  T* samples = allocate<T>(std::int64_t{width} * height);
  held.samples = samples;
  if (samples == nullptr) return failed({Failure::outOfMemory, "main"});
  const PlaneView<T> picture = planeOver(samples, width, height);
  if (const auto error = synthesis(in, picture, options)) return failed(*error);
  if (format != Format::npy) {
    held.bytes = allocate<std::uint8_t>(std::int64_t{width} * height);
    if (held.bytes == nullptr) return failed({Failure::outOfMemory, "main"});
    if (const auto error = dwtRoundToBytes(picture, planeOver(held.bytes, width, height))) {
      return failed(*error);
    }
  }
  return reportPauseAndSave(
      options,
      [&] {
        std::printf("==== Array =====\n");
        std::printf("Format = NPY \n");
        std::printf("Width = %ld \n", static_cast<long>(width));
        std::printf("Height = %ld \n", static_cast<long>(height));
        std::printf("Levels = %d \n", options.levels);
      },
      [&]() -> std::optional<Error> {
        if (format == Format::npy) return npySave(options.output, picture);
        return saveBytes(format, options.output, width, height, held.bytes);
      });
}

}  // namespace

int analyze(const Options& options, Format format) {
  Held held;
  Bitmap& bmp = held.bmp;
  PictureFormat picture = PictureFormat::bmp;
  if (const auto error = dwt97::loadPicture(&bmp, &picture, options.input)) {
    return failed(*error);
  }
  const std::int32_t width = bmp.width, height = bmp.height;
  const int most = dwtMostAnalysisLevels(width, height);
  if (options.levels > most) return failed({Failure::tooManyLevels, "main", most});
  // A bottom-up bitmap stores its top row last: read from there upwards.
  const std::ptrdiff_t stride = bmp.topDown ? width : -std::ptrdiff_t{width};
  const std::uint8_t* top = bmp.topDown ? bmp.data : bmp.data + std::int64_t{height - 1} * width;
  const ConstBytePlane in{top, stride, width, height};
  if (options.wavelet == Wavelet::reversible53) {
    return analyzeInto<std::int32_t>(options, format, held, picture, in);
  }
  return analyzeInto<float>(options, format, held, picture, in);
}

int synthesize(const Options& options, Format format) {
  Held held;
  NpyArray& array = held.array;
  if (const auto error = dwt97::npyLoad(&array, options.input)) return failed(*error);
  // The file's type says whose coefficients it holds; a --wavelet that
  // says otherwise is refused before anything is written.
  const Wavelet inFile = array.type == NpyType::int32 ? Wavelet::reversible53 : Wavelet::cdf97;
  if (const int status = checkWavelet(options, inFile); status >= 0) return status;
  const int most = dwtMostAnalysisLevels(array.width, array.height);
  if (options.levels > most) return failed({Failure::tooManyLevels, "main", most});
  if (inFile == Wavelet::reversible53) {
    return synthesizeInto(options, format, held, npyIntPlane(array));
  }
  return synthesizeInto(options, format, held, npyPlane(array));
}

}  // namespace dwt97::tool
