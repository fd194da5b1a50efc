// The tool's command line (see options.h): GNU-style long options with "="
// or a separate value, grouped short options, "--" to end them, and at most
// two operands, or with -t DIR any number of inputs.
#include "options.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

namespace dwt97::tool {

const char kUsage[] =
    "Usage: dwt97 [OPTION]... [INPUT [OUTPUT]]\n"
    "  or:  dwt97 [OPTION]... -t DIR INPUT...\n"
    "Apply one level of the 2-D CDF 9/7 wavelet transform (or more, see --levels)\n"
    "to the 8-bit grayscale bitmap INPUT and write its sub-bands to OUTPUT. INPUT\n"
    "may also be a PGM, PPM, PNG, JPEG or TIFF picture, recognised by its first\n"
    "bytes and read as grey.\n"
    "\n"
    "An OUTPUT whose name ends in .npy receives the sub-bands as float32\n"
    "coefficients instead, a numpy array of the picture's shape, top row first\n"
    "(int32 ones of the reversible 5/3 wavelet with --wavelet=5/3); --inverse\n"
    "reads such a file back into the picture, and --view writes the coefficients\n"
    "as a picture to look at.\n"
    "\n"
    "INPUT defaults to quilgray.bmp and OUTPUT to quilout.dat, both in the current\n"
    "folder. The header report goes to standard output; when standard input is a\n"
    "terminal, the run waits for a key press before it writes OUTPUT.\n"
    "An INPUT of - is read from standard input (any of the formats, with no\n"
    "pause) and an OUTPUT of - is written to standard output (with no report);\n"
    "a file named - is ./-.\n"
    "\n"
    "With -t, each INPUT is transformed into DIR under its own name, its last\n"
    "suffix replaced by the format's (.dat raw, .pgm, .png, .npy), pictures\n"
    "running side by side on the threads. There is no pause; the reports follow\n"
    "one another in the order of the inputs, each after a '==> INPUT <==' line,\n"
    "and a picture that fails is named in its message while the others go on.\n"
    "When standard error is a terminal, a progress line shows there.\n"
    "\n"
    "Options:\n"
    "      --format=FORMAT  write OUTPUT as FORMAT: raw (the sub-band bytes alone,\n"
    "                       in the bitmap's row order, top row first for other\n"
    "                       pictures), pgm (a binary PGM picture, shown upright),\n"
    "                       png (an 8-bit grey PNG picture, shown upright) or npy\n"
    "                       (the coefficients in a numpy .npy file); without\n"
    "                       this option an OUTPUT whose name ends in .pgm is PGM,\n"
    "                       in .png PNG, in .npy NPY, and any other is raw\n"
    "      --levels=N       apply N levels of the transform (default 1), each after\n"
    "                       the first to the low-low band of the one before\n"
    "      --inverse        read INPUT (which must be named) as coefficients of N\n"
    "                       levels in a .npy file (N from --levels: the file does\n"
    "                       not record it) and write the picture they stand for:\n"
    "                       its bytes, top row first (raw, pgm or png), or its\n"
    "                       samples (npy: float32, or int32 for the 5/3)\n"
    "      --view           write the coefficients of INPUT as a picture to look\n"
    "                       at (raw, pgm or png): each band stretched over the\n"
    "                       grey levels on its own\n"
    "      --wavelet=W      the wavelet of the coefficients: 9/7 (the default, in\n"
    "                       float32) or 5/3 (the reversible 5/3, in int32, which\n"
    "                       writes a .npy OUTPUT or, with --view, a picture: the\n"
    "                       sub-band bytes are the 9/7's alone); --inverse takes\n"
    "                       it from INPUT's type and refuses a W that disagrees\n"
    "      --threads=N      compute on up to N threads (default 0: every core)\n"
    "      --no-pause       do not wait for a key press, even at a terminal\n"
    "  -t, --target-directory=DIR  transform every INPUT into DIR (a batch)\n"
    "  -q, --quiet          do not print the header report\n"
    "  -h, --help           display this help and exit\n"
    "  -V, --version        output version information and the formats this build\n"
    "                       reads and writes, and exit\n"
    "      --               end the options: every later argument is a file name\n"
    "\n"
    "Exit status:\n"
    "  0  OUTPUT was written, or help or version was shown\n"
    "  1  INPUT was refused, or a file could not be read or written (in a batch:\n"
    "     any of them)\n"
    "  2  the command line was wrong\n";

int usageError(const std::string& problem) {
  std::fprintf(stderr, "dwt97: %s\nTry 'dwt97 --help'.\n", problem.c_str());
  return 2;
}

namespace {

bool parseWavelet(const char* value, Wavelet* wavelet) {
  if (std::strcmp(value, "9/7") == 0) {
    *wavelet = Wavelet::cdf97;
  } else if (std::strcmp(value, "5/3") == 0) {
    *wavelet = Wavelet::reversible53;
  } else {
    return false;
  }
  return true;
}

bool parseFormat(const char* value, Format* format) {
  if (std::strcmp(value, "raw") == 0) {
    *format = Format::raw;
  } else if (std::strcmp(value, "pgm") == 0) {
    *format = Format::pgm;
  } else if (std::strcmp(value, "png") == 0) {
    *format = Format::png;
  } else if (std::strcmp(value, "npy") == 0) {
    *format = Format::npy;
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

}  // namespace

int parseArguments(int argc, char** argv, Options* options) {
  std::vector<const char*> operands;
  bool optionsEnded = false;
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      operands.push_back(argv[k]);
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
    } else if (argument == "--inverse") {
      options->inverse = true;
    } else if (argument == "--view") {
      options->view = true;
    } else if (argument == "--levels" || argument.compare(0, 9, "--levels=") == 0 ||
               argument == "--threads" || argument.compare(0, 10, "--threads=") == 0) {
      const int status = parseCountOption(argc, argv, &k, argument, options);
      if (status >= 0) return status;
    } else if (argument == "--format") {
      if (k + 1 == argc) return usageError("option '--format' requires an argument");
      if (!parseFormat(argv[++k], &options->format)) {
        return usageError(std::string("invalid format '") + argv[k] + "' (raw, pgm, png or npy)");
      }
    } else if (argument.compare(0, 9, "--format=") == 0) {
      if (!parseFormat(argument.c_str() + 9, &options->format)) {
        return usageError("invalid format '" + argument.substr(9) + "' (raw, pgm, png or npy)");
      }
    } else if (argument == "--wavelet" || argument.compare(0, 10, "--wavelet=") == 0) {
      const bool joined = argument.size() > 9;
      if (!joined && k + 1 == argc) return usageError("option '--wavelet' requires an argument");
      const char* value = joined ? argv[k] + 10 : argv[++k];
      if (!parseWavelet(value, &options->wavelet)) {
        return usageError(std::string("invalid wavelet '") + value + "' (9/7 or 5/3)");
      }
    } else if (argument == "--target-directory" ||
               argument.compare(0, 19, "--target-directory=") == 0) {
      const bool joined = argument.size() > 18;
      if (!joined && k + 1 == argc) {
        return usageError("option '--target-directory' requires an argument");
      }
      options->targetDirectory = joined ? argv[k] + 19 : argv[++k];
    } else if (argument[1] == '-') {
      return usageError("unrecognized option '" + argument + "'");
    } else {
      // Short options, alone or grouped: -h, -V, -q, -qV; -t takes the rest
      // of its argument or the next one as its value (-tDIR, -qt DIR).
      for (std::size_t c = 1; c < argument.size(); ++c) {
        if (argument[c] == 't') {
          if (c + 1 < argument.size()) {
            options->targetDirectory = argv[k] + c + 1;
          } else if (k + 1 == argc) {
            return usageError("option requires an argument -- 't'");
          } else {
            options->targetDirectory = argv[++k];
          }
          break;
        } else if (argument[c] == 'h') {
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
  if (options->targetDirectory != nullptr) {
    if (operands.empty() && !options->help && !options->version) {
      return usageError("missing file operand (option '-t' takes INPUT...)");
    }
    for (const char* input : operands) {
      if (isStandardStream(input)) {
        return usageError("a batch reads no standard input (INPUT '-' with option '-t')");
      }
    }
    options->inputs = operands;
    options->inputNamed = true;
    if (!operands.empty()) options->input = operands[0];
    return -1;
  }
  if (operands.size() > 2) return usageError(std::string("extra operand '") + operands[2] + "'");
  options->inputNamed = !operands.empty();
  if (!operands.empty()) options->input = operands[0];
  if (operands.size() > 1) options->output = operands[1];
  return -1;
}

// Whether `name` ends in "." and the three lower-case letters of
// `extension`, in any case.
namespace {

bool hasExtension(const char* name, const char* extension) {
  const std::size_t length = std::strlen(name);
  if (length < 4) return false;
  const char* tail = name + length - 4;
  return tail[0] == '.' && (tail[1] | 0x20) == extension[0] && (tail[2] | 0x20) == extension[1] &&
         (tail[3] | 0x20) == extension[2];
}

}  // namespace

Format outputFormat(const Options& options) {
  if (options.format != Format::byName) return options.format;
  if (options.targetDirectory != nullptr) return Format::raw;
  if (hasExtension(options.output, "pgm")) return Format::pgm;
  if (hasExtension(options.output, "png")) return Format::png;
  if (hasExtension(options.output, "npy")) return Format::npy;
  return Format::raw;
}

int checkCombination(const Options& options, Format format) {
  if (options.inverse && options.view) {
    return usageError("options '--inverse' and '--view' do not go together");
  }
  if (options.inverse && !options.inputNamed) {
    return usageError("option '--inverse' requires INPUT, a .npy file");
  }
  if (options.view && format == Format::npy) {
    return usageError(std::string("option '--view' writes a picture, not a .npy file (output '") +
                      options.output + "')");
  }
  if (options.wavelet == Wavelet::reversible53 && !options.inverse && !options.view &&
      format != Format::npy) {
    return usageError(
        std::string("the 5/3 wavelet writes no sub-band bytes: name a .npy output or use "
                    "'--view' (output '") +
        options.output + "')");
  }
  return -1;
}

const char* waveletName(Wavelet wavelet) {
  return wavelet == Wavelet::reversible53 ? "5/3" : "9/7";
}

std::string waveletProblem(const Options& options, Wavelet inFile) {
  if (options.wavelet == Wavelet::unnamed || options.wavelet == inFile) return {};
  const bool ints = inFile == Wavelet::reversible53;
  return std::string("INPUT holds ") + (ints ? "int32" : "float32") + " coefficients of the " +
         waveletName(inFile) + ", not of the " + waveletName(options.wavelet) +
         " (option '--wavelet=" + waveletName(options.wavelet) + "')";
}

}  // namespace dwt97::tool
