#include "test_support.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>

#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"

using dwt97::PlaneBuffer;
using dwt97::planeAllocate;
using dwt97::planeRelease;

namespace testsupport {

bmpbuild::Picture picture(std::int32_t width, std::int32_t rows, std::uint32_t tableEntries) {
  return bmpbuild::noisePicture(width, rows, tableEntries,
                                0x9E3779B9u ^ (static_cast<std::uint32_t>(width) * 131u +
                                               static_cast<std::uint32_t>(rows)));
}

std::string reportText(const std::vector<std::string>& values) {
  static const char* const names[] = {
      "Signature",   "FileSize", "DataOffset",  "size",        "Width",
      "Height",      "Planes",   "BitsPerPixel", "Compression", "ImageSize",
      "XpixelsPerM", "YpixelsPerM", "ColorsUsed", "ColorsImportant"};
  std::string text = "==== Header ====\n";
  for (std::size_t k = 0; k < values.size() && k < 14; ++k) {
    if (k == 3) text += "==== Info ======\n";
    text += std::string(names[k]) + " = " + values[k] + (k == 0 ? "\n" : " \n");
  }
  return text;
}

std::string reportFor(int width, int height) {
  const int imageSize = ((width + 3) & ~3) * height;
  return reportText({"4D42", std::to_string(1078 + imageSize), "1078", "40",
                     std::to_string(width), std::to_string(height), "1", "8", "0",
                     std::to_string(imageSize), "2835", "2835", "256", "0"});
}

std::string exactly(const std::string& text) {
  std::string pattern = "^";
  for (char ch : text) {
    if (std::strchr("\\^$.|?*+()[]{}", ch) != nullptr) pattern += '\\';
    pattern += ch;
  }
  return pattern + "$";
}

Bytes transformed(std::int32_t width, std::int32_t rows, const Bytes& pixels) {
  PlaneBuffer source = planeAllocate(width, rows, "test");
  PlaneBuffer rowPass = planeAllocate(width, rows, "test");
  PlaneBuffer result = planeAllocate(width, rows, "test");
  std::copy(pixels.begin(), pixels.end(), source.block);
  dwtForwardRows(rowPass.rows, source.rows, width, rows);
  dwtForwardColumns(result.rows, rowPass.rows, width, rows);
  Bitmap bmp{};
  bmp.width = width;
  bmp.height = static_cast<std::uint16_t>(rows);
  Bytes flat(pixels.size());
  bmpFlattenPlane(&bmp, result.rows, flat.data());
  planeRelease(&source);
  planeRelease(&rowPass);
  planeRelease(&result);
  return flat;
}

std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* handle = opendir(dir.c_str())) {
    while (const dirent* entry = readdir(handle)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(handle);
  }
  std::sort(names.begin(), names.end());
  return names;
}

RunResult runProgram(const std::string& program, const std::string& dir,
                     const RunOptions& options) {
  TempDir capture;
  const std::string outPath = capture.file("stdout");
  const std::string errPath = capture.file("stderr");
  const pid_t child = fork();
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(dir.c_str()) != 0) {
      _exit(127);
    }
    if (options.fileSizeLimit >= 0) {
      const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                         static_cast<rlim_t>(options.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.addressSpaceLimit >= 0) {
      const rlimit limit{static_cast<rlim_t>(options.addressSpaceLimit),
                         static_cast<rlim_t>(options.addressSpaceLimit)};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.ignoreFileSizeSignal) signal(SIGXFSZ, SIG_IGN);
    for (const auto& variable : options.environment) {
      setenv(variable.first.c_str(), variable.second.c_str(), 1);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : options.arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  RunResult result;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child) {
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  result.out = readText(outPath);
  result.err = readText(errPath);
  return result;
}

}  // namespace testsupport
