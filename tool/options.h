// The tool's command line: the options it takes, their parsing, the output
// format they and the output's name choose, and the combinations refused.
#pragma once

#include <string>

namespace dwt97::tool {

enum class Format { byName, raw, pgm, png, npy };

struct Options {
  bool help = false;
  bool version = false;
  bool pause = true;
  bool quiet = false;
  bool inverse = false;  // INPUT holds coefficients: write the picture back
  bool view = false;     // write the coefficients as a picture to look at
  int levels = 1;
  int threads = 0;
  Format format = Format::byName;
  const char* input = "quilgray.bmp";
  const char* output = "quilout.dat";
  bool inputNamed = false;  // INPUT given rather than the default
};

// The help text, for --help.
extern const char kUsage[];

// Reads every argument before anything else happens. Returns -1 when the run
// may go on, or the exit status after a usage error (reported on standard
// error).
int parseArguments(int argc, char** argv, Options* options);

// Reports a wrong command line the way command-line tools do and gives the
// exit status for it.
int usageError(const std::string& problem);

// The output's format, from the option or else from its name.
Format outputFormat(const Options& options);

// Refuses, as a usage error, the options that do not go together: --inverse
// with --view or without INPUT, and --view with a .npy output. Returns -1,
// or the exit status.
int checkCombination(const Options& options, Format format);

}  // namespace dwt97::tool
