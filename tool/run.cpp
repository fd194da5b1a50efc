// One picture's run (see run.h): its report kept and printed, its failure
// turned into its message, its input read from a file or standard input.
#include "run.h"

#include <cstdlib>

#include "platform/platform.h"

namespace dwt97::tool {

Report pictureReport(const Bitmap& bmp, PictureFormat format) {
  Report report;
  report.kind = format == PictureFormat::bmp ? Report::Kind::bitmap : Report::Kind::picture;
  report.header = bmp;
  report.header.data = nullptr;
  report.format = format;
  return report;
}

Report arrayReport(std::int32_t width, std::int32_t height, int levels) {
  Report report;
  report.kind = Report::Kind::array;
  report.header.width = width;
  report.header.height = static_cast<std::uint16_t>(height);
  report.levels = levels;
  return report;
}

void printReport(const Report& report) {
  switch (report.kind) {
    case Report::Kind::bitmap:
      bmpPrint(&report.header);
      break;
    case Report::Kind::picture:
      printPicture(&report.header, report.format);
      break;
    case Report::Kind::array:
      std::printf("==== Array =====\n");
      std::printf("Format = NPY \n");
      std::printf("Width = %ld \n", static_cast<long>(report.header.width));
      std::printf("Height = %ld \n", static_cast<long>(report.header.height));
      std::printf("Levels = %d \n", report.levels);
      break;
    case Report::Kind::none:
      break;
  }
}

Ending failedWith(const Error& error) {
  char message[kMessageCapacity];
  return {1, formatFailure(error, message, sizeof message)};
}

std::optional<Error> readStandardInput(std::vector<std::uint8_t>* bytes, const char* operation) {
  std::FILE* in = detail::binaryStandardInput();
  constexpr std::size_t kChunk = std::size_t{1} << 16;
  bytes->clear();
  try {
    std::size_t got = 0;
    do {
      bytes->resize(bytes->size() + kChunk);
      got = std::fread(bytes->data() + bytes->size() - kChunk, 1, kChunk, in);
      bytes->resize(bytes->size() - kChunk + got);
    } while (got == kChunk);
  } catch (const std::bad_alloc&) {
    return Error{Failure::outOfMemory, operation};
  }
  if (std::ferror(in)) return Error{Failure::loadRead, operation};
  return std::nullopt;
}

std::optional<Error> loadInput(const Job& job, Bitmap* bmp, PictureFormat* format,
                               const PictureRowsObserver& observer) {
  if (isStandardStream(job.input)) {
    std::vector<std::uint8_t> bytes;
    if (const auto error = readStandardInput(&bytes, "bmpLoad")) return error;
    return dwt97::parsePicture(bmp, format, bytes.data(), bytes.size(), observer);
  }
  if (const auto error = detectPictureFile(job.input, format)) return error;
  if (*format == PictureFormat::bmp) return dwt97::bmpLoad(bmp, job.input);
  return dwt97::loadPicture(bmp, format, job.input, observer);
}

Ending runPicture(const Options& options, const Job& job, const BeforeSave& beforeSave) {
  // Saving over the input would replace the picture with sub-band bytes.
  if (!isStandardStream(job.input) && job.output != detail::standardOutputPath() &&
      detail::sameFile(job.input, job.output)) {
    return failedWith({Failure::sameFile});
  }
  if (options.inverse) return synthesize(options, job, beforeSave);
  if (options.view || job.format == Format::npy) return analyze(options, job, beforeSave);
  return transform(options, job, beforeSave);
}

}  // namespace dwt97::tool
