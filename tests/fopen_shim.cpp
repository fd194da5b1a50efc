// Preloaded into the dwt97 binary by the fault-injection tests. On the third
// opening of "quilgray.bmp" (the sample re-read that follows the look at its
// first bytes and the load) it first changes the file, as another process
// might in between:
//   DWT97_SHIM_INPUT=remove   removes it;
//   DWT97_SHIM_INPUT=<bytes>  cuts it to that many bytes.
// Every other call goes straight to the C library.
#include <dlfcn.h>
#include <unistd.h>

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

OpenFunction next(const char* symbol) {
  void* function = dlsym(RTLD_NEXT, symbol);
  if (function == nullptr) std::abort();
  return reinterpret_cast<OpenFunction>(function);
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
