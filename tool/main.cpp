// dwt97: one level of the separable 2-D CDF 9/7 wavelet transform of an
// 8-bit grayscale bitmap ("quilgray.bmp" unless named) or a PGM, PPM, PNG,
// JPEG or TIFF picture, written as sub-band bytes ("quilout.dat" unless
// named), raw or as a PGM or PNG picture. The run over the library's
// operations of namespace dwt97, each failure printed with its message.
// The runs on coefficients, the 9/7's floats or the 5/3's ints (a .npy
// output, --inverse, --view), are coefficients.cpp's, the batch (-t DIR)
// batch.cpp's. An INPUT of - is standard input, an OUTPUT of - standard
// output.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "batch.h"
#include "dwt97/picture.h"
#include "dwt97/version.h"
#include "options.h"
#include "outcome.h"
#include "platform/platform.h"
#include "run.h"

using dwt97::PictureFormat;
using dwt97::tool::finishOutput;
using dwt97::tool::Format;
using dwt97::tool::isStandardStream;
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

}  // namespace

int main(int argc, char** argv) {
  // Closed standard descriptors first, so that no file of the run takes one.
  dwt97::detail::openStandardStreams();
  dwt97::detail::utf8Arguments(&argc, &argv);
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
  // A batch ends by an interrupt as it comes: the outputs in place stay.
  if (options.targetDirectory != nullptr) return dwt97::tool::runBatch(options);
  // Once the lone output is in place, an interrupt no longer changes the
  // outcome.
  dwt97::detail::holdInterruptsAfterCommit();
  const Format format = dwt97::tool::outputFormat(options);
  if (const int status = dwt97::tool::checkCombination(options, format); status >= 0) {
    return status;
  }
  if (format == Format::png && !dwt97::canWritePng()) {
    return dwt97::tool::usageError(std::string("this build writes no PNG files (output '") +
                                   options.output + "')");
  }
  const bool toStandardOutput = isStandardStream(options.output);
  const dwt97::tool::Job job{
      options.input, toStandardOutput ? dwt97::detail::standardOutputPath() : options.output,
      format};
  // The report, unless the output takes standard output; the pause, unless
  // standard input holds the picture.
  const dwt97::tool::Ending ending =
      dwt97::tool::runPicture(options, job, [&](const dwt97::tool::Report& report) {
        if (!options.quiet && !toStandardOutput) dwt97::tool::printReport(report);
        // A report that did not arrive ends the run before anything is
        // saved: the temporary goes, an older output stays.
        if (finishOutput(0) != 0) return 1;
        if (options.pause && !isStandardStream(options.input)) dwt97::detail::pauseForKey();
        return -1;
      });
  if (ending.status == 2) return dwt97::tool::usageError(ending.message);
  std::fputs(ending.message.c_str(), stderr);
  return ending.status;
}
