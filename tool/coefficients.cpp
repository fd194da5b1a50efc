// The tool's runs on coefficients (see run.h): the picture loaded and
// turned upright without a copy, analysed or synthesised by the library's
// coefficient operations of the wavelet (the 9/7's on floats, the 5/3's on
// ints, one template over both), reported, then the save.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "dwt97/bitmap.h"
#include "dwt97/coefficients.h"
#include "dwt97/npy.h"
#include "dwt97/picture.h"
#include "dwt97/reversible.h"
#include "platform/platform.h"
#include "run.h"

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

// The report, then the save, unless what comes before it ends the run.
template <typename Save>
Ending reportAndSave(const BeforeSave& beforeSave, const Report& report, Save save) {
  if (const int status = beforeSave(report); status >= 0) return {status, {}};
  if (const std::optional<Error> error = save()) return failedWith(*error);
  return {};
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
Ending analyzeInto(const Options& options, const Job& job, const BeforeSave& beforeSave, Held& held,
                   PictureFormat picture, ConstBytePlane in) {
  Bitmap& bmp = held.bmp;
  const std::int32_t width = in.width, height = in.height;
  T* samples = allocate<T>(std::int64_t{width} * height);
  held.samples = samples;
  if (samples == nullptr) return failedWith({Failure::outOfMemory, "main"});
  const PlaneView<T> coefficients = planeOver(samples, width, height);
  if (const auto error = analysis(in, coefficients, options)) return failedWith(*error);
  // The picture's bytes are done with: the view takes their place, top row
  // first.
  if (options.view) {
    const auto error =
        dwtRenderView(coefficients, planeOver(bmp.data, width, height), options.levels);
    if (error) return failedWith(*error);
  }
  return reportAndSave(beforeSave, pictureReport(bmp, picture), [&]() -> std::optional<Error> {
    if (!options.view) return npySave(job.output, coefficients);
    return saveBytes(job.format, job.output, width, height, bmp.data);
  });
}

// The synthesis of the coefficients `in` into samples of type T, written as
// they are to a .npy output or as the picture's bytes (rounded or clamped
// as the type's dwtRoundToBytes does) to any other.
template <typename T>
Ending synthesizeInto(const Options& options, const Job& job, const BeforeSave& beforeSave,
                      Held& held, PlaneView<const T> in) {
  const std::int32_t width = in.width, height = in.height;
  T* samples = allocate<T>(std::int64_t{width} * height);
  held.samples = samples;
  if (samples == nullptr) return failedWith({Failure::outOfMemory, "main"});
  const PlaneView<T> picture = planeOver(samples, width, height);
  if (const auto error = synthesis(in, picture, options)) return failedWith(*error);
  if (job.format != Format::npy) {
    held.bytes = allocate<std::uint8_t>(std::int64_t{width} * height);
    if (held.bytes == nullptr) return failedWith({Failure::outOfMemory, "main"});
    if (const auto error = dwtRoundToBytes(picture, planeOver(held.bytes, width, height))) {
      return failedWith(*error);
    }
  }
  return reportAndSave(beforeSave, arrayReport(width, height, options.levels),
                       [&]() -> std::optional<Error> {
                         if (job.format == Format::npy) return npySave(job.output, picture);
                         return saveBytes(job.format, job.output, width, height, held.bytes);
                       });
}

}  // namespace

Ending analyze(const Options& options, const Job& job, const BeforeSave& beforeSave) {
  Held held;
  Bitmap& bmp = held.bmp;
  PictureFormat picture = PictureFormat::bmp;
  if (const auto error = loadInput(job, &bmp, &picture)) return failedWith(*error);
  const std::int32_t width = bmp.width, height = bmp.height;
  const int most = dwtMostAnalysisLevels(width, height);
  if (options.levels > most) return failedWith({Failure::tooManyLevels, "main", most});
  // A bottom-up bitmap stores its top row last: read from there upwards.
  const std::ptrdiff_t stride = bmp.topDown ? width : -std::ptrdiff_t{width};
  const std::uint8_t* top = bmp.topDown ? bmp.data : bmp.data + std::int64_t{height - 1} * width;
  const ConstBytePlane in{top, stride, width, height};
  if (options.wavelet == Wavelet::reversible53) {
    return analyzeInto<std::int32_t>(options, job, beforeSave, held, picture, in);
  }
  return analyzeInto<float>(options, job, beforeSave, held, picture, in);
}

Ending synthesize(const Options& options, const Job& job, const BeforeSave& beforeSave) {
  Held held;
  NpyArray& array = held.array;
  if (isStandardStream(job.input)) {
    std::vector<std::uint8_t> bytes;
    if (const auto error = readStandardInput(&bytes, "npyLoad")) return failedWith(*error);
    if (const auto error = npyParse(&array, bytes.data(), bytes.size())) {
      return failedWith(*error);
    }
  } else if (const auto error = npyLoad(&array, job.input)) {
    return failedWith(*error);
  }
  // The file's type says whose coefficients it holds; a --wavelet that
  // says otherwise is refused before anything is written.
  const Wavelet inFile = array.type == NpyType::int32 ? Wavelet::reversible53 : Wavelet::cdf97;
  if (const std::string problem = waveletProblem(options, inFile); !problem.empty()) {
    return {2, problem};
  }
  const int most = dwtMostAnalysisLevels(array.width, array.height);
  if (options.levels > most) return failedWith({Failure::tooManyLevels, "main", most});
  if (inFile == Wavelet::reversible53) {
    return synthesizeInto(options, job, beforeSave, held, npyIntPlane(array));
  }
  return synthesizeInto(options, job, beforeSave, held, npyPlane(array));
}

}  // namespace dwt97::tool
