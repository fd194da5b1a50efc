#include "fatal.h"

#include <cstdio>
#include <cstdlib>

namespace {
FatalHandler fatalHandler = nullptr;
}  // namespace

void setFatalHandler(FatalHandler handler) { fatalHandler = handler; }

void fatal(const char* message) {
  if (fatalHandler != nullptr) fatalHandler(message);
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::exit(1);
}

unsigned char* tryAllocateZeroed(std::size_t bytes) {
  return static_cast<unsigned char*>(std::calloc(bytes == 0 ? 1 : bytes, 1));
}

unsigned char* allocateZeroed(std::size_t bytes, const char* who) {
  unsigned char* block = tryAllocateZeroed(bytes);
  if (block == nullptr) {
    char message[160];
    std::snprintf(message, sizeof message, "Error: %s(), Out of memory!\n", who);
    fatal(message);
  }
  return block;
}

void releaseZeroed(unsigned char* block, std::size_t /*bytes*/) { std::free(block); }
