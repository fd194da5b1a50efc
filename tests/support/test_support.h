// Shared test helpers: temporary folders, whole-file I/O, and running the
// dwt97 binary in a folder with its output captured. Paths are UTF-8 on every
// system.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iosfwd>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "bmp_builder.h"
#include "dwt97/failure.h"
#include "dwt97/planes.h"

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

// The file-system path named by a UTF-8 string.
inline std::filesystem::path fsPath(const std::string& utf8) {
  return std::filesystem::u8path(utf8);
}

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(fsPath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readFile(const std::string& path) {
  std::ifstream in(fsPath(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string& path) {
  const Bytes bytes = readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// Whether anything (a dangling link too) has this name.
inline bool exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(fsPath(path), error));
}

// Creates the folder `path`; false when it cannot.
inline bool makeFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::create_directory(fsPath(path), error);
}

// Removes the file (or empty folder) `path`; false when it cannot.
inline bool removeFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::remove(fsPath(path), error);
}

// A sample plane whose rows are separate allocations of exactly `width`
// bytes, each preset to `fill`, so that the sanitizers catch any read or
// write outside a row.
class TestPlane {
 public:
  using Line = std::vector<std::uint8_t>;
  TestPlane(int width, int height, std::uint8_t fill = 0)
      : rows_(static_cast<std::size_t>(height), Line(static_cast<std::size_t>(width), fill)) {
    for (Line& row : rows_) pointers_.push_back(row.data());
  }
  TestPlane(TestPlane&&) = default;  // the rows keep their storage
  TestPlane(const TestPlane&) = delete;
  std::uint8_t** get() { return pointers_.data(); }
  std::uint8_t& at(int row, int column) { return rows_[row][column]; }
  const Line& row(int r) const { return rows_[r]; }
  Line column(int c) const {
    Line out;
    for (const Line& row : rows_) out.push_back(row[c]);
    return out;
  }
  const std::vector<Line>& rows() const { return rows_; }

 private:
  std::vector<Line> rows_;
  std::vector<std::uint8_t*> pointers_;
};

// What a run's folder holds after a completed or refused run.
inline const std::vector<std::string> kInputAndOutput = {"quilgray.bmp", "quilout.dat"};

// Names in `dir` (without . and ..), sorted.
std::vector<std::string> listDir(const std::string& dir);

// A picture of `width` x `rows` with irregular grey values and a colour
// table of `tableEntries` entries.
testsupport::Picture picture(std::int32_t width, std::int32_t rows,
                             std::uint32_t tableEntries = 256);

// `bytes` with the 16- or 32-bit little-endian field at `at` replaced.
inline Bytes withLe16(Bytes bytes, std::size_t at, std::uint32_t value) {
  testsupport::putLe16(bytes, at, value);
  return bytes;
}
inline Bytes withLe32(Bytes bytes, std::size_t at, std::uint32_t value) {
  testsupport::putLe32(bytes, at, value);
  return bytes;
}

// The sixteen-line header report with these field values in report order:
// signature (hex), file size, data offset, info size, width, height, planes,
// bits per pixel, compression, image size, x and y pixels per metre, colours
// used, colours important.
std::string reportText(const std::vector<std::string>& values);

// The report of a file made by testsupport::build with a 256-entry table.
std::string reportFor(int width, int height);

// An exact, anchored regular expression for a whole message.
std::string exactly(const std::string& text);

// The tool's output for these samples (file row order), computed in this
// process: zero-filled planes, row pass, column pass, flattened. Each level
// after the first does the same to the low-low band of the one before.
Bytes transformed(std::int32_t width, std::int32_t rows, const Bytes& pixels, int levels = 1);

// What a run may change about the child's world. Resource limits and added
// variables are POSIX facilities: a test that needs them skips elsewhere
// (see kNoResourceLimits, kNoPreloading). The address-space limit is left off
// where it cannot be had (Windows, a sanitized build), since the runs it guards
// must pass without it too.
struct RunOptions {
  long fileSizeLimit = -1;            // RLIMIT_FSIZE in bytes, -1 for none
  long addressSpaceLimit = -1;        // RLIMIT_AS in bytes, -1 for none
  bool ignoreFileSizeSignal = false;  // SIGXFSZ ignored in the child
  std::vector<std::pair<std::string, std::string>> environment;  // added variables
  std::vector<std::string> arguments;                            // after the program name
  std::string input;  // the file read as standard input (its path), or none
};

struct RunResult {
  int status = -1;     // exit status, or -1 when the process did not exit
  int signal = 0;      // terminating signal, if any (POSIX)
  std::string out;     // standard output, CR LF line ends read as LF
  std::string err;     // standard error, likewise
  std::string rawOut;  // standard output byte for byte
};

// Runs `program` with `options.arguments`, working folder `dir`, standard input
// the null device (or `options.input`), and standard output and error captured. A cross-built
// Linux program runs under the build's emulator.
RunResult runProgram(const std::string& program, const std::string& dir,
                     const RunOptions& options = {});

// The words that start `program`: the emulator's, if any, then the program.
std::vector<std::string> commandFor(const std::string& program);

// Why a test cannot run here, or null when it can: the GTEST_SKIP reasons.
extern const char* const kNoResourceLimits;      // RLIMIT_FSIZE and SIGXFSZ
extern const char* const kNoPreloading;          // LD_PRELOAD of the fault shim
extern const char* const kNoPseudoTerminal;      // openpty()
extern const char* const kNoUnnamedTemporaries;  // a save's temporary with no name (O_TMPFILE)

using Environment = std::vector<std::pair<std::string, std::string>>;

// The variables that put the fault-injection shim (fopen_shim.cpp) in front
// of the C library (POSIX, see kNoPreloading), with `more` for it.
Environment shimEnvironment(const Environment& more);

// The shim refusing unnamed temporaries: the tool takes named ones, as on a
// system without them.
inline Environment namedTemporaries() {
  return shimEnvironment({{"DWT97_SHIM_TMPFILE", "refuse"}});
}

inline RunResult runTool(const std::string& dir, const RunOptions& options = {}) {
  return runProgram(DWT97_EXE, dir, options);
}

// The C library descriptors open among the first 1024: a file left open
// adds one.
int openDescriptors();

// A zero-filled plane the test needs: the process ends if memory runs out.
dwt97::PlaneBuffer newPlane(std::int32_t width, std::int32_t height);

}  // namespace testsupport

namespace dwt97 {
// gtest prints a failure through this: its name and message.
void PrintTo(const Error& error, std::ostream* out);
}  // namespace dwt97
