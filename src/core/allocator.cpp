// The zero-filled block allocator (see allocator.h): mapped, staggered
// blocks for picture-sized buffers, the free store for the rest.
#include "core/allocator.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace dwt97::detail {
namespace {

// Blocks of picture size are mapped directly, aligned to and rounded up to
// 2 MiB, and offered to the system for huge pages where it has them
// (mapHugePages): touching a fresh 64 MiB plane then takes 32 page faults
// instead of 16384. Smaller blocks, and every block where the system maps no
// huge pages, come from the free store.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMappedFrom = 2 * kHugePage;
constexpr int kMaxMappings = 32;

std::size_t mappedLength(std::size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

unsigned char* mapHuge(std::size_t length) {
  return static_cast<unsigned char*>(mapHugePages(length, kHugePage));
}

// Every live mapped block with its length, so that a release needs no size;
// when the table is full, large blocks come from the free store instead.
// Beside them, the last large block released, kept mapped for the next
// allocation of the same mapped length: clearing resident memory costs a
// fraction of what the kernel spends faulting in and clearing fresh pages,
// and a run that releases one picture-sized buffer before taking the next
// reuses one block. Only one block is kept that way.
//
// Mapped blocks do not all start on a huge-page boundary: each starts a few
// cache lines further in, by its table slot, so that two planes read and
// written side by side (row r of the source, row r of the destination) do
// not share their address bits below 4 KiB. Such pairs make the processor
// see false dependencies between a pass's stores and its next loads.
constexpr std::size_t kStaggerStep = 9 * 64;  // nine cache lines
constexpr int kStaggers = 7;                  // 7 * 576 bytes stay below 4 KiB

struct Mapping {
  unsigned char* block;  // what the caller got
  std::size_t length;    // of the mapping
  unsigned char* base;   // start of the mapping
};
std::mutex mappingLock;
Mapping mappings[kMaxMappings];
Mapping spare{nullptr, 0, nullptr};

Mapping* findMapping(const unsigned char* block) {
  for (Mapping& mapping : mappings) {
    if (mapping.block == block) return &mapping;
  }
  return nullptr;
}

// A zero-filled mapped block of at least `bytes`, or null (no free slot, or
// no memory): the caller then falls back to the free store.
unsigned char* takeMapped(std::size_t bytes) {
  const std::size_t length = mappedLength(bytes + kStaggerStep * (kStaggers - 1));
  if (length < bytes) return nullptr;  // the rounding wrapped around
  bool reused = false;
  unsigned char* block = nullptr;
  {
    const std::lock_guard<std::mutex> hold(mappingLock);
    Mapping* slot = findMapping(nullptr);
    if (slot == nullptr) return nullptr;
    unsigned char* base = nullptr;
    if (spare.base != nullptr && spare.length == length) {
      base = spare.base;
      spare = Mapping{nullptr, 0, nullptr};
      reused = true;
    } else {
      base = mapHuge(length);  // anonymous mappings start zero-filled
      if (base == nullptr) return nullptr;
    }
    block = base + kStaggerStep * static_cast<std::size_t>((slot - mappings) % kStaggers);
    *slot = Mapping{block, length, base};
  }
  if (reused) std::memset(block, 0, bytes);
  return block;
}

// Releases `block` if it is a mapped one; returns whether it was.
bool releaseMapped(unsigned char* block) {
  const std::lock_guard<std::mutex> hold(mappingLock);
  Mapping* slot = findMapping(block);
  if (slot == nullptr) return false;
  const Mapping released = *slot;
  *slot = Mapping{nullptr, 0, nullptr};
  if (spare.base == nullptr) {
    spare = released;
  } else {
    unmapPages(released.base, released.length);
  }
  return true;
}

}  // namespace

std::optional<Failure> allocateZeroed(std::size_t bytes, unsigned char** block) {
  *block = bytes >= kMappedFrom ? takeMapped(bytes) : nullptr;
  if (*block == nullptr)
    *block = static_cast<unsigned char*>(std::calloc(bytes == 0 ? 1 : bytes, 1));
  if (*block == nullptr) return Failure::outOfMemory;
  return std::nullopt;
}

void releaseZeroed(void* block) {
  if (block == nullptr) return;
  if (releaseMapped(static_cast<unsigned char*>(block))) return;
  std::free(block);
}

}  // namespace dwt97::detail
