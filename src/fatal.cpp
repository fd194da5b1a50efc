#include "fatal.h"

#include <cstdio>
#include <cstdlib>

void fatal(const char* message) {
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::exit(1);
}

unsigned char* allocateZeroed(std::size_t bytes, const char* who) {
  void* block = std::calloc(bytes == 0 ? 1 : bytes, 1);
  if (block == nullptr) {
    std::fprintf(stderr, "Error: %s(), Out of memory!\n", who);
    std::fflush(stderr);
    std::exit(1);
  }
  return static_cast<unsigned char*>(block);
}

void releaseZeroed(unsigned char* block, std::size_t /*bytes*/) { std::free(block); }
