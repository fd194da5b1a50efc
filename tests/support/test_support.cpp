// The tests' runner and helpers: temporary folders, the tool started in a
// folder with its output captured (through an emulator or Wine for a cross
// build), the expected bytes of a run, and the descriptors a process holds.
#include "test_support.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <random>

#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"

using dwt97::planeAllocate;
using dwt97::PlaneBuffer;
using dwt97::planeRelease;

namespace testsupport {

testsupport::Picture picture(std::int32_t width, std::int32_t rows, std::uint32_t tableEntries) {
  return testsupport::noisePicture(
      width, rows, tableEntries,
      0x9E3779B9u ^ (static_cast<std::uint32_t>(width) * 131u + static_cast<std::uint32_t>(rows)));
}

std::string reportText(const std::vector<std::string>& values) {
  static const char* const names[] = {
      "Signature",   "FileSize",    "DataOffset",   "size",           "Width",
      "Height",      "Planes",      "BitsPerPixel", "Compression",    "ImageSize",
      "XpixelsPerM", "YpixelsPerM", "ColorsUsed",   "ColorsImportant"};
  std::string text = "==== Header ====\n";
  for (std::size_t k = 0; k < values.size() && k < 14; ++k) {
    if (k == 3) text += "==== Info ======\n";
    text += std::string(names[k]) + " = " + values[k] + (k == 0 ? "\n" : " \n");
  }
  return text;
}

std::string reportFor(int width, int height) {
  const int imageSize = ((width + 3) & ~3) * height;
  return reportText({"4D42", std::to_string(1078 + imageSize), "1078", "40", std::to_string(width),
                     std::to_string(height), "1", "8", "0", std::to_string(imageSize), "2835",
                     "2835", "256", "0"});
}

std::string exactly(const std::string& text) {
  std::string pattern = "^";
  for (char ch : text) {
    if (std::strchr("\\^$.|?*+()[]{}", ch) != nullptr) pattern += '\\';
    pattern += ch;
  }
  return pattern + "$";
}

Bytes transformed(std::int32_t width, std::int32_t rows, const Bytes& pixels, int levels) {
  PlaneBuffer plane = testsupport::newPlane(width, rows);
  std::copy(pixels.begin(), pixels.end(), plane.block);
  std::int32_t w = width, h = rows;
  for (int level = 1; level <= levels; ++level, w /= 2, h /= 2) {
    PlaneBuffer rowPass = testsupport::newPlane(w, h);
    PlaneBuffer result = testsupport::newPlane(w, h);
    dwtForwardRows(rowPass.rows, plane.rows, w, h);
    dwtForwardColumns(result.rows, rowPass.rows, w, h);
    for (std::int32_t r = 0; r < h; ++r)
      std::copy(result.rows[r], result.rows[r] + w, plane.rows[r]);
    planeRelease(&rowPass);
    planeRelease(&result);
  }
  Bitmap bmp{};
  bmp.width = width;
  bmp.height = static_cast<std::uint16_t>(rows);
  Bytes flat(pixels.size());
  bmpFlattenPlane(&bmp, plane.rows, flat.data());
  planeRelease(&plane);
  return flat;
}

#if defined(_WIN32)
const char* const kNoResourceLimits =
    "Windows has no per-process file-size limit (RLIMIT_FSIZE) to make a write fail part-way";
const char* const kNoPreloading =
    "Windows has no LD_PRELOAD to put the fault-injection shim in front of the C library";
const char* const kNoPseudoTerminal =
    "no pseudo-terminal on Windows: the console pause is not driven by this test";
#elif defined(__APPLE__)
const char* const kNoResourceLimits = nullptr;
const char* const kNoPreloading =
    "the shim relies on LD_PRELOAD; macOS would need DYLD_INSERT_LIBRARIES and interposing";
const char* const kNoPseudoTerminal = nullptr;
#else
const char* const kNoResourceLimits = nullptr;
const char* const kNoPreloading = nullptr;
const char* const kNoPseudoTerminal = nullptr;
#endif
#if defined(__linux__)
const char* const kNoUnnamedTemporaries = nullptr;
#else
const char* const kNoUnnamedTemporaries =
    "a save's temporary has a name from the start here: O_TMPFILE is Linux's";
#endif

TempDir::TempDir() {
  static std::atomic<unsigned> made{0};
  std::mt19937_64 random(
      std::random_device{}() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (std::uint64_t{made++} << 48));
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        base / ("dwt97-test-" + std::to_string(random() % 1000000000000ull));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = candidate.u8string();
      return;
    }
  }
  std::abort();
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(fsPath(path_), error);
}

std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(fsPath(dir), error), end; !error && entry != end;
       entry.increment(error)) {
    names.push_back(entry->path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

#if !defined(DWT97_FOPEN_SHIM)
#define DWT97_FOPEN_SHIM ""
#endif

Environment shimEnvironment(const Environment& more) {
  Environment variables = {{"LD_PRELOAD", DWT97_FOPEN_SHIM},
                           // A sanitized binary insists on coming first otherwise.
                           {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
  variables.insert(variables.end(), more.begin(), more.end());
  return variables;
}

std::vector<std::string> commandFor(const std::string& program) {
  std::vector<std::string> words;
#if defined(DWT97_EMULATOR)
  const std::string emulator = DWT97_EMULATOR;  // words joined by '|'
  for (std::size_t at = 0; at <= emulator.size();) {
    const std::size_t end = std::min(emulator.find('|', at), emulator.size());
    words.push_back(emulator.substr(at, end - at));
    at = end + 1;
  }
#endif
  words.push_back(program);
  return words;
}

namespace {

// Line ends as a Windows console program writes them (CR LF) read as LF.
std::string withUnixLineEnds(std::string text) {
#if defined(_WIN32)
  std::string out;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (!(text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')) out += text[k];
  }
  text = out;
#endif
  return text;
}

#if defined(_WIN32)

std::wstring wide(const std::string& utf8) {
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], length);
  return text;
}

// Runs the program with inherited handles for its standard streams; returns
// its exit code, or -1 when it could not be started.
// One argument as the C runtime's parser reads it back: quoted when it holds
// blanks or quotes (or is empty), backslashes doubled before a quote.
std::wstring quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t ch : argument) {
    if (ch == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(ch == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += ch;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

int runCaptured(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& dir, const std::string& inPath, const std::string& outPath,
                const std::string& errPath) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE in = CreateFileW(inPath.empty() ? L"NUL" : wide(inPath).c_str(), GENERIC_READ, share,
                          &inherit, OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileW(wide(outPath).c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err = CreateFileW(wide(errPath).c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  int status = -1;
  if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const std::wstring application = wide(program);
    std::wstring commandLine = quoted(application);
    for (const std::string& argument : arguments) commandLine += L" " + quoted(wide(argument));
    if (CreateProcessW(application.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                       wide(dir).c_str(), &startup, &process)) {
      WaitForSingleObject(process.hProcess, INFINITE);
      DWORD code = 0;
      if (GetExitCodeProcess(process.hProcess, &code)) status = static_cast<int>(code);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  for (HANDLE handle : {in, out, err}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  return status;
}

#endif

}  // namespace

RunResult runProgram(const std::string& program, const std::string& dir,
                     const RunOptions& options) {
  TempDir capture;
  const std::string outPath = capture.file("stdout");
  const std::string errPath = capture.file("stderr");
  RunResult result;
#if defined(_WIN32)
  // Limits and added variables have no counterpart here (the tests that need
  // them skip); the address-space limit only guards runs that pass without it.
  if (options.fileSizeLimit >= 0 || !options.environment.empty()) std::abort();
  result.status = runCaptured(program, options.arguments, dir, options.input, outPath, errPath);
#else
  // An emulator takes the program's variables as options of its own, so that
  // a preloaded library reaches the program and not the emulator.
  std::vector<std::string> words = commandFor(program);
  words.pop_back();
  const bool emulated = !words.empty();
  for (const auto& variable : options.environment) {
    if (emulated) words.insert(words.end(), {"-E", variable.first + "=" + variable.second});
  }
  words.push_back(program);
  words.insert(words.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  const std::string inPath = options.input.empty() ? "/dev/null" : options.input;
  const pid_t child = fork();
  if (child == 0) {
    const int in = open(inPath.c_str(), O_RDONLY);
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
      if (!emulated) setenv(variable.first.c_str(), variable.second.c_str(), 1);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child) {
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
#endif
  result.rawOut = readText(outPath);
  result.out = withUnixLineEnds(result.rawOut);
  result.err = withUnixLineEnds(readText(errPath));
  return result;
}

int openDescriptors() {
  int open = 0;
  for (int fd = 0; fd < 1024; ++fd) {
#if defined(_WIN32)
    open += _get_osfhandle(fd) != -1;
#else
    open += fcntl(fd, F_GETFD) != -1;
#endif
  }
  return open;
}

dwt97::PlaneBuffer newPlane(std::int32_t width, std::int32_t height) {
  dwt97::PlaneBuffer plane;
  if (dwt97::planeAllocate(&plane, width, height)) {
    std::fprintf(stderr, "no memory for a %d x %d test plane\n", width, height);
    std::abort();
  }
  return plane;
}

}  // namespace testsupport

namespace dwt97 {

// How the tests' expectations print a failure: its stable name and message.
void PrintTo(const Error& error, std::ostream* out) {
  char message[kMessageCapacity];
  *out << failureName(error.failure) << " (" << formatFailure(error, message, sizeof message)
       << ")";
}

}  // namespace dwt97
