// dwt97: one level of the separable 2-D CDF 9/7 wavelet transform of an
// 8-bit grayscale bitmap ("quilgray.bmp" unless named) or a PGM, PPM, PNG,
// JPEG or TIFF picture, written as sub-band bytes ("quilout.dat" unless
// named), raw or as a PGM or PNG picture. The run over the library's
// operations of namespace dwt97, each failure printed with its message.
// The runs on coefficients, the 9/7's floats or the 5/3's ints (a .npy
// output, --inverse, --view), are coefficients.cpp's.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "coefficients.h"
#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"
#include "dwt97/picture.h"
#include "dwt97/version.h"
#include "options.h"
#include "outcome.h"
#include "platform/platform.h"

using dwt97::Error;
using dwt97::Failure;
using dwt97::PictureFormat;
using dwt97::tool::failed;
using dwt97::tool::finishOutput;
using dwt97::tool::Format;
using dwt97::tool::Options;

namespace {

// The --version lines of the formats this build reads and writes.
void printFormats() {
  std::printf("Formats: reads BMP PGM PPM%s%s%s; writes raw PGM%s\n",
              dwt97::canReadPicture(PictureFormat::png) ? " PNG" : "",
              dwt97::canReadPicture(PictureFormat::jpeg) ? " JPEG" : "",
              dwt97::canReadPicture(PictureFormat::tiff) ? " TIFF" : "",
              dwt97::canWritePng() ? " PNG" : "");
  std::printf("Coefficients: reads and writes .npy (2-D float32 for 9/7, int32 for 5/3)\n");
}

// The picture, its rows and the save under way, released however the run
// ends.
struct Run {
  Bitmap bmp{};
  std::uint8_t** rows = nullptr;
  BmpSaveSession* session = nullptr;
  ~Run() {
    if (session != nullptr) bmpSaveAbandon(session);
    std::free(rows);
    bmpRelease(&bmp);
  }
};

// Saves the result the ordinary way, after the pause: when no session
// could be started before (it reports why now), for PNG, or for a pipe.
std::optional<Error> saveWhole(const Run& run, Format format, const char* output) {
  if (format == Format::png) return dwt97::bmpSavePngPlane(&run.bmp, output, run.rows);
  if (format == Format::pgm) return dwt97::bmpSavePgmPlane(&run.bmp, output, run.rows);
  return dwt97::bmpSavePlane(&run.bmp, output, run.rows);
}

int transform(const Options& options, Format format) {
  Run run;
  Bitmap& bmp = run.bmp;
  // A bitmap is read by the bitmap loader, then its pixels again into the
  // same buffer; another picture is read whole.
  PictureFormat picture = PictureFormat::bmp;
  if (const auto error = dwt97::detectPictureFile(options.input, &picture)) return failed(*error);
  const auto loaded = picture == PictureFormat::bmp
                          ? dwt97::bmpLoad(&bmp, options.input)
                          : dwt97::loadPicture(&bmp, &picture, options.input);
  if (loaded) return failed(*loaded);
  const std::int32_t width = bmp.width;
  const std::int32_t height = bmp.height;
  const int mostLevels = dwtMostLevels(width, height);
  if (options.levels > mostLevels) return failed({Failure::tooManyLevels, "main", mostLevels});

  // One picture-sized buffer for the whole run: the record's pixel buffer.
  // The second read fills it again, the transform works on it in place
  // (reordering the row pointers so that rows[r] is row r of the result), and
  // the output is written straight from its rows.
  run.rows = static_cast<std::uint8_t**>(
      std::malloc(static_cast<std::size_t>(height) * sizeof(std::uint8_t*)));
  if (run.rows == nullptr) return failed({Failure::outOfMemory, "main"});
  dwt97::planeRowsOver(run.rows, bmp.data, height, width);
  if (picture == PictureFormat::bmp) {
    if (const auto error = dwt97::bmpReadPlane(&bmp, options.input, run.rows)) {
      return failed(*error);
    }
  }
  // The result's rows go to a temporary file beside the output as the
  // transform finishes them, so that writing overlaps computing; the file
  // takes the output's name only after the pause. Should the temporary not
  // be creatable now, the result is saved the ordinary way after the pause,
  // which reports why it cannot be. With several levels no row is final
  // before the last level, so the whole result goes to the file at the end.
  if (format != Format::png &&
      dwt97::bmpSaveStart(&bmp, options.output, format == Format::pgm, &run.session)) {
    run.session = nullptr;
  }
  // A failure here (memory running out) abandons the save as the run ends:
  // no temporary outlives it.
  const std::optional<Error> transformed =
      run.session != nullptr && options.levels == 1
          ? dwt97::dwtForward2dStreaming(run.rows, width, height, options.threads, bmpSaveRows,
                                         run.session)
          : dwt97::dwtForward2dLevels(run.rows, width, height, options.levels, options.threads);
  if (transformed) return failed(*transformed);
  if (run.session != nullptr && options.levels > 1) bmpSaveRows(run.session, run.rows, 0, height);
  if (!options.quiet && picture == PictureFormat::bmp) {
    bmpPrint(&bmp);
  } else if (!options.quiet) {
    dwt97::printPicture(&bmp, picture);
  }
  // A report that did not arrive ends the run before anything is saved: the
  // temporary goes, an older output stays.
  if (finishOutput(0) != 0) return 1;
  if (options.pause) dwt97::detail::pauseForKey();
  BmpSaveSession* session = run.session;
  run.session = nullptr;  // bmpSaveFinish releases it, whatever happens
  const std::optional<Error> saved =
      session != nullptr ? dwt97::bmpSaveFinish(session) : saveWhole(run, format, options.output);
  if (saved) return failed(*saved);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Closed standard descriptors first, so that no file of the run takes one.
  dwt97::detail::openStandardStreams();
  dwt97::detail::utf8Arguments(&argc, &argv);
  // Once the output is in place, an interrupt no longer changes the outcome.
  dwt97::detail::holdInterruptsAfterCommit();
  Options options;
  const int usageStatus = dwt97::tool::parseArguments(argc, argv, &options);
  if (usageStatus >= 0) return usageStatus;
  if (options.help) {
    std::fputs(dwt97::tool::kUsage, stdout);
    return finishOutput(0);
  }
  if (options.version) {
    std::printf("dwt97 %s\n", DWT97_VERSION_STRING);
    printFormats();
    return finishOutput(0);
  }
  const Format format = dwt97::tool::outputFormat(options);
  if (const int status = dwt97::tool::checkCombination(options, format); status >= 0) {
    return status;
  }
  if (format == Format::png && !dwt97::canWritePng()) {
    return dwt97::tool::usageError(std::string("this build writes no PNG files (output '") +
                                   options.output + "')");
  }
  // Saving over the input would replace the picture with sub-band bytes.
  if (dwt97::detail::sameFile(options.input, options.output)) {
    return failed({Failure::sameFile});
  }
  if (options.inverse) return dwt97::tool::synthesize(options, format);
  if (options.view || format == Format::npy) return dwt97::tool::analyze(options, format);
  return transform(options, format);
}
