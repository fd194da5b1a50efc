// The tool's command line: the options it takes, their parsing, the output
// format they and the output's name choose, and the combinations refused.
#pragma once

#include <string>
#include <vector>

namespace dwt97::tool {

enum class Format { byName, raw, pgm, png, npy };

// The wavelet of the coefficients: the CDF 9/7 in floats, or the reversible
// 5/3 in integers. Unnamed, the analysis takes the 9/7 and --inverse the
// one the file's type stands for.
enum class Wavelet { unnamed, cdf97, reversible53 };

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
  Wavelet wavelet = Wavelet::unnamed;
  const char* input = "quilgray.bmp";
  const char* output = "quilout.dat";
  bool inputNamed = false;  // INPUT given rather than the default
  // A batch (-t DIR): every operand is an INPUT, each written into DIR.
  const char* targetDirectory = nullptr;
  std::vector<const char*> inputs;
};

// The name that stands for standard input as INPUT and standard output as
// OUTPUT.
inline bool isStandardStream(const char* name) { return name[0] == '-' && name[1] == '\0'; }

// The help text, for --help.
extern const char kUsage[];

// Reads every argument before anything else happens. Returns -1 when the run
// may go on, or the exit status after a usage error (reported on standard
// error).
int parseArguments(int argc, char** argv, Options* options);

// Reports a wrong command line the way command-line tools do and gives the
// exit status for it.
int usageError(const std::string& problem);

// The output's format, from the option or else from its name (in a batch,
// from the option alone: raw unless named).
Format outputFormat(const Options& options);

// Refuses, as a usage error, the options that do not go together: --inverse
// with --view or without INPUT, --view with a .npy output, and the 5/3's
// analysis into sub-band bytes (the byte path is the 9/7's). Returns -1, or
// the exit status.
int checkCombination(const Options& options, Format format);

// What is wrong with a --wavelet that disagrees with `inFile`, the wavelet
// of the coefficients --inverse read (a usage error), or nothing.
std::string waveletProblem(const Options& options, Wavelet inFile);

// The wavelet's name as the options spell it: "9/7" or "5/3".
const char* waveletName(Wavelet wavelet);

}  // namespace dwt97::tool
