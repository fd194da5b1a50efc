// dwt97: one level of the separable 2-D CDF 9/7 wavelet transform of an
// 8-bit grayscale bitmap ("quilgray.bmp" unless named) or a PGM, PPM, PNG,
// JPEG or TIFF picture, written as sub-band bytes ("quilout.dat" unless named), raw or as
// a PGM or PNG picture.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"
#include "dwt97/picture.h"
#include "dwt97/version.h"
#include "platform/platform.h"

namespace {

const char* const kInputName = "quilgray.bmp";
const char* const kOutputName = "quilout.dat";

const char kUsage[] =
    "Usage: dwt97 [OPTION]... [INPUT [OUTPUT]]\n"
    "Apply one level of the 2-D CDF 9/7 wavelet transform (or more, see --levels)\n"
    "to the 8-bit grayscale bitmap INPUT and write its sub-bands to OUTPUT. INPUT\n"
    "may also be a PGM, PPM, PNG, JPEG or TIFF picture, recognised by its first\n"
    "bytes and read as grey.\n"
    "\n"
    "INPUT defaults to quilgray.bmp and OUTPUT to quilout.dat, both in the current\n"
    "folder. The header report goes to standard output; when standard input is a\n"
    "terminal, the run waits for a key press before it writes OUTPUT.\n"
    "\n"
    "Options:\n"
    "      --format=FORMAT  write OUTPUT as FORMAT: raw (the sub-band bytes alone,\n"
    "                       in the bitmap's row order, top row first for other\n"
    "                       pictures), pgm (a binary PGM picture, shown upright)\n"
    "                       or png (an 8-bit grey PNG picture, shown upright);\n"
    "                       without this option an OUTPUT whose name ends in .pgm\n"
    "                       is PGM, in .png PNG, and any other is raw\n"
    "      --levels=N       apply N levels of the transform (default 1), each after\n"
    "                       the first to the low-low band of the one before\n"
    "      --threads=N      compute on up to N threads (default 0: every core)\n"
    "      --no-pause       do not wait for a key press, even at a terminal\n"
    "  -q, --quiet          do not print the header report\n"
    "  -h, --help           display this help and exit\n"
    "  -V, --version        output version information and the formats this build\n"
    "                       reads and writes, and exit\n"
    "      --               end the options: every later argument is a file name\n"
    "\n"
    "Exit status:\n"
    "  0  OUTPUT was written, or help or version was shown\n"
    "  1  INPUT was refused, or a file could not be read or written\n"
    "  2  the command line was wrong\n";

enum class Format { byName, raw, pgm, png };

struct Options {
  bool help = false;
  bool version = false;
  bool pause = true;
  bool quiet = false;
  int levels = 1;
  int threads = 0;
  Format format = Format::byName;
  const char* input = kInputName;
  const char* output = kOutputName;
};

// Reports a wrong command line the way command-line tools do and gives the
// exit status for it.
int usageError(const std::string& problem) {
  std::fprintf(stderr, "dwt97: %s\nTry 'dwt97 --help'.\n", problem.c_str());
  return 2;
}

bool parseFormat(const char* value, Format* format) {
  if (std::strcmp(value, "raw") == 0) {
    *format = Format::raw;
  } else if (std::strcmp(value, "pgm") == 0) {
    *format = Format::pgm;
  } else if (std::strcmp(value, "png") == 0) {
    *format = Format::png;
  } else {
    return false;
  }
  return true;
}

// A count written as decimal digits alone, saturating at the largest int;
// false for anything else (a sign, blanks, nothing at all).
bool parseCount(const char* value, int* count) {
  if (*value == '\0') return false;
  long long parsed = 0;
  for (const char* digit = value; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return false;
    parsed = parsed * 10 + (*digit - '0');
    if (parsed > INT_MAX) parsed = INT_MAX;
  }
  *count = static_cast<int>(parsed);
  return true;
}

// --levels=N, --levels N, --threads=N or --threads N at argv[*k] (which the
// value's own argument moves past). Returns -1, or the status of a usage error.
int parseCountOption(int argc, char** argv, int* k, const std::string& argument, Options* options) {
  const bool levels = argument.compare(0, 8, "--levels") == 0;
  const std::string name = levels ? "--levels" : "--threads";
  const char* value = nullptr;
  if (argument.size() > name.size()) {
    value = argv[*k] + name.size() + 1;
  } else if (*k + 1 == argc) {
    return usageError("option '" + name + "' requires an argument");
  } else {
    value = argv[++*k];
  }
  int count = 0;
  if (levels && (!parseCount(value, &count) || count < 1)) {
    return usageError(std::string("invalid level count '") + value + "' (1 or more)");
  }
  if (!levels && !parseCount(value, &count)) {
    return usageError(std::string("invalid thread count '") + value + "' (0 or more)");
  }
  (levels ? options->levels : options->threads) = count;
  return -1;
}

// Reads every argument before anything else happens. Returns -1 when the run
// may go on, or the exit status after a usage error.
int parseArguments(int argc, char** argv, Options* options) {
  const char* operands[2] = {nullptr, nullptr};
  int operandCount = 0;
  bool optionsEnded = false;
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      if (operandCount == 2) return usageError("extra operand '" + argument + "'");
      operands[operandCount++] = argv[k];
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help") {
      options->help = true;
    } else if (argument == "--version") {
      options->version = true;
    } else if (argument == "--no-pause") {
      options->pause = false;
    } else if (argument == "--quiet") {
      options->quiet = true;
    } else if (argument == "--levels" || argument.compare(0, 9, "--levels=") == 0 ||
               argument == "--threads" || argument.compare(0, 10, "--threads=") == 0) {
      const int status = parseCountOption(argc, argv, &k, argument, options);
      if (status >= 0) return status;
    } else if (argument == "--format") {
      if (k + 1 == argc) return usageError("option '--format' requires an argument");
      if (!parseFormat(argv[++k], &options->format)) {
        return usageError(std::string("invalid format '") + argv[k] + "' (raw, pgm or png)");
      }
    } else if (argument.compare(0, 9, "--format=") == 0) {
      if (!parseFormat(argument.c_str() + 9, &options->format)) {
        return usageError("invalid format '" + argument.substr(9) + "' (raw, pgm or png)");
      }
    } else if (argument[1] == '-') {
      return usageError("unrecognized option '" + argument + "'");
    } else {
      // Short options, alone or grouped: -h, -V, -q, -qV.
      for (std::size_t c = 1; c < argument.size(); ++c) {
        if (argument[c] == 'h') {
          options->help = true;
        } else if (argument[c] == 'V') {
          options->version = true;
        } else if (argument[c] == 'q') {
          options->quiet = true;
        } else {
          return usageError(std::string("invalid option -- '") + argument[c] + "'");
        }
      }
    }
  }
  if (operands[0] != nullptr) options->input = operands[0];
  if (operands[1] != nullptr) options->output = operands[1];
  return -1;
}

// Ends a run whose last words went to standard output: they must have
// reached it (a full disk, a closed pipe with SIGPIPE ignored), or the run
// fails with one line on standard error, as command-line tools do.
int finishOutput(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int error = errno;
    std::fprintf(stderr, "dwt97: write error: %s\n", std::strerror(error));
    return 1;
  }
  return status;
}

// Whether `name` ends in "." and the three lower-case letters of
// `extension`, in any case.
bool hasExtension(const char* name, const char* extension) {
  const std::size_t length = std::strlen(name);
  if (length < 4) return false;
  const char* tail = name + length - 4;
  return tail[0] == '.' && (tail[1] | 0x20) == extension[0] &&
         (tail[2] | 0x20) == extension[1] && (tail[3] | 0x20) == extension[2];
}

// The output's format, from the option or else from its name.
Format outputFormat(const Options& options) {
  if (options.format != Format::byName) return options.format;
  if (hasExtension(options.output, "pgm")) return Format::pgm;
  if (hasExtension(options.output, "png")) return Format::png;
  return Format::raw;
}

// The --version line of the formats this build reads and writes.
void printFormats() {
  using dwt97::PictureFormat;
  std::printf("Formats: reads BMP PGM PPM%s%s%s; writes raw PGM%s\n",
              dwt97::canReadPicture(PictureFormat::png) ? " PNG" : "",
              dwt97::canReadPicture(PictureFormat::jpeg) ? " JPEG" : "",
              dwt97::canReadPicture(PictureFormat::tiff) ? " TIFF" : "",
              dwt97::canWritePng() ? " PNG" : "");
}

}  // namespace

int main(int argc, char** argv) {
  // Closed standard descriptors first, so that no file of the run takes one.
  dwt97::detail::openStandardStreams();
  dwt97::detail::utf8Arguments(&argc, &argv);
  // Once the output is in place, an interrupt no longer changes the outcome.
  dwt97::detail::holdInterruptsAfterCommit();
  Options options;
  const int usageStatus = parseArguments(argc, argv, &options);
  if (usageStatus >= 0) return usageStatus;
  if (options.help) {
    std::fputs(kUsage, stdout);
    return finishOutput(0);
  }
  if (options.version) {
    std::printf("dwt97 %s\n", DWT97_VERSION_STRING);
    printFormats();
    return finishOutput(0);
  }
  const Format format = outputFormat(options);
  if (format == Format::png && !dwt97::canWritePng()) {
    return usageError(std::string("this build writes no PNG files (output '") + options.output +
                      "')");
  }
  const bool pgm = format == Format::pgm;
  // Saving over the input would replace the picture with sub-band bytes.
  if (dwt97::detail::sameFile(options.input, options.output)) {
    std::fputs(dwt97::failureInfo(dwt97::Failure::sameFile).text, stderr);
    return 1;
  }

  // A bitmap, or anything not recognised as another picture, goes through
  // the bitmap loader and its messages; another picture is read whole here.
  Bitmap bmp;
  dwt97::PictureFormat picture = dwt97::detectPictureFile(options.input);
  if (picture == dwt97::PictureFormat::bmp) {
    bmpLoad(&bmp, options.input);
  } else if (const auto failure = dwt97::tryLoadPicture(&bmp, &picture, options.input)) {
    if (*failure == dwt97::Failure::outOfMemory) {
      std::fprintf(stderr, dwt97::failureInfo(*failure).text,
                   dwt97::pictureLoadOperation(picture));
    } else {
      std::fputs(dwt97::failureInfo(*failure).text, stderr);
    }
    return 1;
  }
  const std::int32_t width = bmp.width;
  const std::int32_t height = bmp.height;
  const int mostLevels = dwtMostLevels(width, height);
  if (options.levels > mostLevels) {
    bmpRelease(&bmp);
    std::fprintf(stderr, dwt97::failureInfo(dwt97::Failure::tooManyLevels).text, "main",
                 mostLevels);
    return 1;
  }

  // One picture-sized buffer for the whole run: the record's pixel buffer.
  // The second read fills it again, the transform works on it in place
  // (reordering the row pointers so that rows[r] is row r of the result), and
  // the output is written straight from its rows.
  auto** rows = static_cast<std::uint8_t**>(
      std::malloc(static_cast<std::size_t>(height) * sizeof(std::uint8_t*)));
  if (rows == nullptr) {
    bmpRelease(&bmp);
    std::fprintf(stderr, dwt97::failureInfo(dwt97::Failure::outOfMemory).text, "main");
    return 1;
  }
  for (std::int32_t r = 0; r < height; ++r) {
    rows[r] = bmp.data + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
  }
  if (picture == dwt97::PictureFormat::bmp) bmpReadPlane(&bmp, options.input, rows);
  // The result's rows go to a temporary file beside the output as the
  // transform finishes them, so that writing overlaps computing; the file
  // takes the output's name only after the pause. Should the temporary not
  // be creatable now, the result is saved the ordinary way after the pause,
  // which reports why it cannot be. With several levels no row is final
  // before the last level, so the whole result goes to the file at the end.
  BmpSaveSession* session =
      format == Format::png ? nullptr : bmpSaveStart(&bmp, options.output, pgm);
  // A failure here (memory running out) abandons the save first: no
  // temporary outlives the run.
  const std::optional<dwt97::Failure> failure =
      session != nullptr && options.levels == 1
          ? dwt97::tryForward2dStreaming(rows, width, height, options.threads, bmpSaveRows,
                                         session)
          : dwt97::tryForward2dLevels(rows, width, height, options.levels, options.threads);
  if (failure) {
    if (session != nullptr) bmpSaveAbandon(session);
    std::fprintf(stderr, dwt97::failureInfo(*failure).text, "dwtForward2d");
    std::free(rows);
    bmpRelease(&bmp);
    return 1;
  }
  if (session != nullptr && options.levels > 1) bmpSaveRows(session, rows, 0, height);
  if (!options.quiet && picture == dwt97::PictureFormat::bmp) {
    bmpPrint(&bmp);
  } else if (!options.quiet) {
    dwt97::printPicture(&bmp, picture);
  }
  // A report that did not arrive ends the run before anything is saved: the
  // temporary goes, an older output stays.
  if (finishOutput(0) != 0) {
    if (session != nullptr) bmpSaveAbandon(session);
    std::free(rows);
    bmpRelease(&bmp);
    return 1;
  }
  if (options.pause) dwt97::detail::pauseForKey();
  if (session != nullptr) {
    bmpSaveFinish(session);
  } else if (format == Format::png) {
    bmpSavePngPlane(&bmp, options.output, rows);
  } else if (pgm) {
    bmpSavePgmPlane(&bmp, options.output, rows);
  } else {
    bmpSavePlane(&bmp, options.output, rows);
  }

  // The rest lives until here; handing it back keeps leak checkers quiet.
  std::free(rows);
  bmpRelease(&bmp);
  return 0;
}
