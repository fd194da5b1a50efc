#include "fatal.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

#if defined(__linux__) && defined(MADV_HUGEPAGE)
// Blocks of picture size are mapped directly, aligned to and rounded up to
// 2 MiB, and offered to the kernel for transparent huge pages: touching a
// fresh 64 MiB plane then takes 32 page faults instead of 16384. Smaller
// blocks come from the free store.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMappedFrom = 2 * kHugePage;

bool isMapped(std::size_t bytes) { return bytes >= kMappedFrom; }
std::size_t mappedLength(std::size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

unsigned char* mapHuge(std::size_t bytes) {
  const std::size_t length = mappedLength(bytes);
  if (length < bytes) return nullptr;  // the rounding wrapped around
  // Map one huge page more than needed, then trim to an aligned range.
  void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  if (aligned > start) munmap(raw, aligned - start);
  const std::size_t tail = kHugePage - (aligned - start);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
  void* block = reinterpret_cast<void*>(aligned);
  madvise(block, length, MADV_HUGEPAGE);  // only advice: plain pages work too
  return static_cast<unsigned char*>(block);
}

// The last large block released, kept mapped for the next allocation of the
// same mapped length. Clearing resident memory costs a fraction of what the
// kernel spends faulting in and clearing fresh pages, and a run that releases
// one picture-sized buffer before taking the next then reuses one block.
// Only one block is kept, so at most one released block stays resident.
std::mutex spareLock;
unsigned char* spareBlock = nullptr;
std::size_t spareLength = 0;

unsigned char* takeSpare(std::size_t bytes) {
  unsigned char* block = nullptr;
  {
    const std::lock_guard<std::mutex> hold(spareLock);
    if (spareBlock == nullptr || spareLength != mappedLength(bytes)) return nullptr;
    block = spareBlock;
    spareBlock = nullptr;
  }
  std::memset(block, 0, bytes);
  return block;
}

// Keeps the block as the spare if there is none yet; returns whether it did.
bool keepSpare(unsigned char* block, std::size_t bytes) {
  const std::lock_guard<std::mutex> hold(spareLock);
  if (spareBlock != nullptr) return false;
  spareBlock = block;
  spareLength = mappedLength(bytes);
  return true;
}
#else
bool isMapped(std::size_t) { return false; }
#endif

}  // namespace

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
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (isMapped(bytes)) {
    unsigned char* block = takeSpare(bytes);
    return block != nullptr ? block : mapHuge(bytes);  // anonymous mappings start zero-filled
  }
#endif
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

void releaseZeroed(unsigned char* block, std::size_t bytes) {
  if (block == nullptr) return;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (isMapped(bytes)) {
    if (!keepSpare(block, bytes)) munmap(block, mappedLength(bytes));
    return;
  }
#endif
  std::free(block);
}
