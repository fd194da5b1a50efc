// Internal to the filter bank: how the passes spread their work over
// threads and give each thread its float rings. A part of the work is a
// span of rows or row pairs; part 0 runs on the calling thread.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <thread>

#include "core/allocator.h"
#include "dwt97/failure.h"
#include "dwt97/planes.h"
#include "filterbank/kernels/kernels.h"

namespace dwt97::detail {

// Never more threads than this, whatever the caller asks.
constexpr int kMaxThreads = 256;
// With the count left to the library, each thread gets at least this many
// samples: below that, starting a thread costs more than it saves.
constexpr std::int64_t kSamplesPerThread = std::int64_t{1} << 18;
// The fused transform's rings, all threads' together, stay below this: fewer
// threads run on wide pictures, and pictures so wide that one ring would not
// fit take the two separate passes and a scratch plane instead.
constexpr std::int64_t kMaxFusedRingBytes = std::int64_t{64} << 20;

inline std::int64_t smaller(std::int64_t a, std::int64_t b) { return a < b ? a : b; }
inline std::int64_t roundUp16(std::int64_t a) { return (a + 15) / 16 * 16; }

// The number of threads for `units` independent pieces of work (row pairs
// or rows) covering `samples` samples: `requested`, or with 0 (or less) the
// processor's hardware threads while each gets kSamplesPerThread; never
// more than `units` or kMaxThreads, never fewer than 1.
inline int threadCount(int requested, std::int64_t units, std::int64_t samples) {
  std::int64_t count = requested;
  if (requested <= 0) {
    const unsigned hardware = std::thread::hardware_concurrency();
    count = hardware == 0 ? 1 : hardware;
    count = smaller(count, samples / kSamplesPerThread);
  }
  count = smaller(smaller(count, units), kMaxThreads);
  return count < 1 ? 1 : static_cast<int>(count);
}

// The first unit of part k of `count` parts of `units`.
inline std::int64_t partStart(std::int64_t units, int count, int k) { return units * k / count; }

// Runs work(k) for every part k of `count`: part 0 on the calling thread, the
// others each on a thread of its own. A part whose thread cannot be started
// runs on the calling thread as well, so the work gets done whatever threads
// the system grants. Returns when every part has finished.
template <typename Work>
inline void runParts(int count, const Work& work) {
  std::thread threads[kMaxThreads];
  bool started[kMaxThreads] = {};
  for (int k = 1; k < count; ++k) {
    try {
      threads[k] = std::thread([&work, k] { work(k); });
      started[k] = true;
    } catch (...) {
    }
  }
  work(0);
  for (int k = 1; k < count; ++k) {
    if (started[k]) {
      threads[k].join();
    } else {
      work(k);
    }
  }
}

// Float rings for `count` threads, `each` floats apiece from a 64-byte
// boundary, in one zero-filled block at `*block`.
[[nodiscard]] inline std::optional<Failure> allocateRings(int count, std::int64_t each,
                                                          unsigned char** block) {
  return allocateZeroed(static_cast<std::size_t>(count * each) * sizeof(float) + 64, block);
}

inline float* ringOf(unsigned char* block, std::int64_t each, int k) {
  const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + 63) & ~std::uintptr_t{63};
  return reinterpret_cast<float*>(start) + k * each;
}

// The column passes' strips: whole rows up to kColumnStrip columns. Reading
// and writing whole rows streams through memory far better than narrow
// strips of rows thousands of bytes apart, and ten float rows still fit the
// second-level cache.
inline std::int64_t columnStrip(std::int64_t width) {
  return smaller(kColumnStrip, roundUp16(width));
}

inline void clearRows(SamplePlane plane, std::int64_t r0, std::int64_t r1, std::int32_t width) {
  for (std::int64_t r = r0; r < r1; ++r) std::memset(plane[r], 0, static_cast<std::size_t>(width));
}

}  // namespace dwt97::detail
