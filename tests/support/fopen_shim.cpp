// Preloaded into the dwt97 binary by the fault-injection tests. On the third
// opening of "quilgray.bmp" (the sample re-read that follows the look at its
// first bytes and the load), by fopen() or open(), it first changes the file,
// as another process might in between:
//   DWT97_SHIM_INPUT=remove   removes it;
//   DWT97_SHIM_INPUT=<bytes>  cuts it to that many bytes.
// With DWT97_SHIM_THREADS=refuse every thread creation fails with EAGAIN, as
// when a process or user limit on threads is reached; with
// DWT97_SHIM_THREADS=forbid the first one ends the process with status 99,
// for runs that must make none.
// With DWT97_SHIM_TMPFILE=refuse every open() of an unnamed file (O_TMPFILE)
// fails with EOPNOTSUPP, as on a file system that cannot make one.
// Every other call goes straight to the C library.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using OpenFunction = std::FILE* (*)(const char*, const char*);

int inputOpenings = 0;

void interfere(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const char* name = slash != nullptr ? slash + 1 : path;
  if (std::strcmp(name, "quilgray.bmp") != 0 || ++inputOpenings != 3) return;
  const char* action = std::getenv("DWT97_SHIM_INPUT");
  if (action == nullptr || *action == '\0') return;
  if (std::strcmp(action, "remove") == 0) {
    unlink(path);
  } else if (truncate(path, std::atol(action)) != 0) {
    std::abort();
  }
}

template <typename Function = OpenFunction>
Function next(const char* symbol) {
  void* function = dlsym(RTLD_NEXT, symbol);
  if (function == nullptr) std::abort();
  return reinterpret_cast<Function>(function);
}

using DescriptorFunction = int (*)(const char*, int, ...);

#if defined(O_TMPFILE)
constexpr int kUnnamed = O_TMPFILE;
#else
constexpr int kUnnamed = 0;
#endif

// open() and open64() take a mode only when they may create: a named file
// or an unnamed one.
int openWith(const char* symbol, const char* path, int flags, std::va_list modes) {
  const DescriptorFunction real = next<DescriptorFunction>(symbol);
  interfere(path);
  const bool unnamed = kUnnamed != 0 && (flags & kUnnamed) == kUnnamed;
  const char* tmpfile = std::getenv("DWT97_SHIM_TMPFILE");
  if (unnamed && tmpfile != nullptr && std::strcmp(tmpfile, "refuse") == 0) {
    errno = EOPNOTSUPP;
    return -1;
  }
  if ((flags & O_CREAT) == 0 && !unnamed) return real(path, flags);
  return real(path, flags, va_arg(modes, int));
}

}  // namespace

extern "C" std::FILE* fopen(const char* path, const char* mode) {
  static const OpenFunction real = next("fopen");
  interfere(path);
  return real(path, mode);
}

extern "C" std::FILE* fopen64(const char* path, const char* mode) {
  static const OpenFunction real = next("fopen64");
  interfere(path);
  return real(path, mode);
}

extern "C" int open(const char* path, int flags, ...) {
  std::va_list modes;
  va_start(modes, flags);
  const int fd = openWith("open", path, flags, modes);
  va_end(modes);
  return fd;
}

extern "C" int open64(const char* path, int flags, ...) {
  std::va_list modes;
  va_start(modes, flags);
  const int fd = openWith("open64", path, flags, modes);
  va_end(modes);
  return fd;
}

// Declared without <pthread.h>, whose own declaration is marked noexcept and
// would not match; the handle and attributes are only passed along.
extern "C" int pthread_create(void* thread, const void* attributes, void* (*start)(void*),
                              void* argument) {
  using CreateFunction = int (*)(void*, const void*, void* (*)(void*), void*);
  const char* threads = std::getenv("DWT97_SHIM_THREADS");
  if (threads != nullptr && std::strcmp(threads, "refuse") == 0) return EAGAIN;
  if (threads != nullptr && std::strcmp(threads, "forbid") == 0) {
    static const char kSaid[] = "shim: a thread was created\n";
    if (write(2, kSaid, sizeof kSaid - 1) < 0) {
      // Nothing more to say.
    }
    _exit(99);
  }
  static const auto real = reinterpret_cast<CreateFunction>(dlsym(RTLD_NEXT, "pthread_create"));
  if (real == nullptr) std::abort();
  return real(thread, attributes, start, argument);
}
