// The public passes: each runs the fastest pass set this processor supports,
// chosen once, on first use; and the threaded operations, which split their
// work into spans of rows run side by side.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <thread>

#include "core/allocator.h"
#include "dwt97/filterbank.h"
#include "core/report.h"
#include "filterbank/kernels/kernels.h"

// The pass sets the build compiled (see CMakeLists.txt), each from the
// kernels in its own namespace.
#define DWT97_PASS_SET_TABLE(set, name)                                                     \
  {                                                                                        \
    name, dwt97::kernels::set::forwardRows, dwt97::kernels::set::forwardColumns,           \
        dwt97::kernels::set::forward2dPrepare, dwt97::kernels::set::forward2dRun,          \
        dwt97::kernels::set::inverseColumns, dwt97::kernels::set::inverseRows              \
  }

using dwt97::detail::failOutOfMemory;
using dwt97::detail::failTooManyLevels;
using dwt97::detail::releaseZeroed;
using dwt97::detail::tryAllocateZeroed;

namespace {

struct Available {
  const DwtPassSet* sets[4];
  int count = 0;
};

#if defined(DWT97_X86_PASS_SETS)
const DwtPassSet avx512Set = DWT97_PASS_SET_TABLE(avx512, "avx512");
const DwtPassSet avx2Set = DWT97_PASS_SET_TABLE(avx2, "avx2");
const DwtPassSet sse2Set = DWT97_PASS_SET_TABLE(sse2, "sse2");
#else
const DwtPassSet portableSet = DWT97_PASS_SET_TABLE(portable, DWT97_PORTABLE_SET_NAME);
#endif

Available findAvailable() {
  Available found;
#if defined(DWT97_X86_PASS_SETS)
  __builtin_cpu_init();
  // The checks include the operating system's support for the wider registers.
  if (__builtin_cpu_supports("avx512f")) found.sets[found.count++] = &avx512Set;
  if (__builtin_cpu_supports("avx2")) found.sets[found.count++] = &avx2Set;
  found.sets[found.count++] = &sse2Set;
#else
  found.sets[found.count++] = &portableSet;
#endif
  return found;
}

// A function-local static: its first initialisation is thread-safe, so
// concurrent first calls agree on one choice.
const Available& available() {
  static const Available found = findAvailable();
  return found;
}

// Never more threads than this, whatever the caller asks.
constexpr int kMaxThreads = 256;
// With the count left to the library, each thread gets at least this many
// samples: below that, starting a thread costs more than it saves.
constexpr std::int64_t kSamplesPerThread = std::int64_t{1} << 18;
// The fused transform's rings, all threads' together, stay below this: fewer
// threads run on wide pictures, and pictures so wide that one ring would not
// fit take the two separate passes and a scratch plane instead.
constexpr std::int64_t kMaxFusedRingBytes = std::int64_t{64} << 20;

std::int64_t smaller(std::int64_t a, std::int64_t b) { return a < b ? a : b; }
std::int64_t roundUp16(std::int64_t a) { return (a + 15) / 16 * 16; }

// The number of threads for `units` independent pieces of work (row pairs
// or rows) covering `samples` samples: `requested`, or with 0 (or less) the
// processor's hardware threads while each gets kSamplesPerThread; never
// more than `units` or kMaxThreads, never fewer than 1.
int threadCount(int requested, std::int64_t units, std::int64_t samples) {
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
std::int64_t partStart(std::int64_t units, int count, int k) { return units * k / count; }

// Runs work(k) for every part k of `count`: part 0 on the calling thread, the
// others each on a thread of its own. A part whose thread cannot be started
// runs on the calling thread as well, so the work gets done whatever threads
// the system grants. Returns when every part has finished.
template <typename Work>
void runParts(int count, const Work& work) {
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
// boundary, in one zero-filled block (null when memory runs out).
unsigned char* allocateRings(int count, std::int64_t each) {
  return tryAllocateZeroed(static_cast<std::size_t>(count * each) * sizeof(float) + 64);
}

float* ringOf(unsigned char* block, std::int64_t each, int k) {
  const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + 63) & ~std::uintptr_t{63};
  return reinterpret_cast<float*>(start) + k * each;
}

// The column passes' strips: whole rows up to kColumnStrip columns. Reading
// and writing whole rows streams through memory far better than narrow
// strips of rows thousands of bytes apart, and ten float rows still fit the
// second-level cache.
std::int64_t columnStrip(std::int64_t width) { return smaller(kColumnStrip, roundUp16(width)); }

void clearRows(SamplePlane plane, std::int64_t r0, std::int64_t r1, std::int32_t width) {
  for (std::int64_t r = r0; r < r1; ++r) std::memset(plane[r], 0, static_cast<std::size_t>(width));
}

// The two separate passes through a scratch plane, for pictures too wide
// for the fused transform's ring. False, with the plane unchanged, when
// memory runs out.
bool forward2dTwoPasses(const DwtPassSet& set, SamplePlane plane, std::int32_t width,
                        std::int32_t height) {
  dwt97::PlaneBuffer scratch;
  if (dwt97::tryPlaneAllocate(&scratch, width, height)) return false;
  set.forwardRows(scratch.rows, plane, width, height);
  const bool filtered = dwtTryForwardColumnsWith(set, plane, scratch.rows, width, height);
  dwt97::planeRelease(&scratch);
  if (!filtered) return false;
  if (height % 2 != 0) clearRows(plane, height - 1, height, width);
  return true;
}

}  // namespace

namespace {

// What a streaming transform tells: the result's row order, and whom to tell.
struct ResultSink {
  DwtResultRows rowsDone;
  void* context;
  const std::uint8_t* const* order;
  std::int64_t half;
};

// Output pairs [j0, j1) are result rows j0 .. j1-1 (low) and half + j0 ..
// half + j1-1 (high).
void tellPairs(void* context, std::int64_t j0, std::int64_t j1) {
  const ResultSink& sink = *static_cast<const ResultSink*>(context);
  const auto count = static_cast<std::int32_t>(j1 - j0);
  sink.rowsDone(sink.context, sink.order, static_cast<std::int32_t>(j0), count);
  sink.rowsDone(sink.context, sink.order, static_cast<std::int32_t>(sink.half + j0), count);
}

// The fused transform makes result row r in the row buffer that held row
// resultSource(r) before: the low rows in the even rows' buffers, the high
// rows in the odd rows', an odd last row in its own.
std::int64_t resultSource(std::int64_t r, std::int64_t half) {
  if (r < half) return 2 * r;
  return r < 2 * half ? 2 * (r - half) + 1 : r;
}

// Moves the first `width` bytes of every result row into the buffer that
// held that row before, plane[r], so that the pointer array stays as it was
// and the bytes past `width` stay with their rows. Follows each cycle of the
// permutation, swapping rows into place; `placed` (one entry per row, not
// null on entry) is cleared as each row lands.
void putResultRowsInPlace(SamplePlane plane, std::int32_t width, std::int64_t height,
                          std::int64_t half, std::uint8_t** placed) {
  const auto bytes = static_cast<std::size_t>(width);
  for (std::int64_t start = 0; start < height; ++start) {
    if (placed[start] == nullptr) continue;
    std::int64_t r = start;
    // plane[r] takes result row r from plane[resultSource(r)], which no swap
    // of this cycle has touched yet, and hands its own row on to it.
    for (std::int64_t from = resultSource(r, half); from != start; from = resultSource(r, half)) {
      std::swap_ranges(plane[r], plane[r] + bytes, plane[from]);
      placed[r] = nullptr;
      r = from;
    }
    placed[r] = nullptr;
  }
}

// The whole transform; with `keepOrder` the result goes back into the rows'
// own buffers instead of reordering the pointer array (no streaming then).
// False when memory runs out (nothing changed then).
bool forward2d(const DwtPassSet& set, SamplePlane plane, std::int32_t width, std::int32_t height,
               int threads, DwtResultRows rowsDone, void* context, bool keepOrder) {
  if (width <= 0 || height <= 0) return true;
  // With fewer than two samples along rows or columns the two passes leave
  // their zero-filled destination as it was.
  if (width < 2 || height < 2) {
    clearRows(plane, 0, height, width);
    if (rowsDone != nullptr) rowsDone(context, plane, 0, height);
    return true;
  }
  // Ring rows hold the row rounded up to whole vectors and one cache line
  // more, so that the rows' entries for one column do not all share their
  // address bits below 4 KiB (which would make the processor see false
  // dependencies between a row's stores and another's loads).
  const std::int64_t stride = roundUp16(width) + 16;
  const std::int64_t ringFloats = kFusedRingRows * stride;
  if (ringFloats * std::int64_t{sizeof(float)} > kMaxFusedRingBytes) {  // (one ring)
    if (!forward2dTwoPasses(set, plane, width, height)) return false;
    if (rowsDone != nullptr) rowsDone(context, plane, 0, height);
    return true;
  }
  const std::int64_t half = height / 2;
  const std::int64_t ringBytes = ringFloats * std::int64_t{sizeof(float)};
  const int count = static_cast<int>(smaller(
      threadCount(threads, half, std::int64_t{width} * height), kMaxFusedRingBytes / ringBytes));
  unsigned char* rings = allocateRings(count, ringFloats);
  // The result's row order, built before anything is overwritten.
  auto* order = reinterpret_cast<std::uint8_t**>(
      tryAllocateZeroed(static_cast<std::size_t>(height) * sizeof(std::uint8_t*)));
  if (rings == nullptr || order == nullptr) {
    releaseZeroed(rings);
    releaseZeroed(reinterpret_cast<unsigned char*>(order));
    return false;
  }
  for (std::int64_t r = 0; r < height; ++r) order[r] = plane[resultSource(r, half)];

  for (int k = 0; k < count; ++k) {
    set.forward2dPrepare(plane, width, height, partStart(half, count, k),
                         partStart(half, count, k + 1), ringOf(rings, ringFloats, k), stride);
  }
  const ResultSink sink{rowsDone, context, order, half};
  const DwtFusedProgress progress{tellPairs, const_cast<ResultSink*>(&sink)};
  runParts(count, [&](int k) {
    set.forward2dRun(plane, width, height, partStart(half, count, k),
                     partStart(half, count, k + 1), ringOf(rings, ringFloats, k), stride,
                     rowsDone != nullptr ? &progress : nullptr);
  });
  releaseZeroed(rings);
  if (keepOrder) {
    putResultRowsInPlace(plane, width, height, half, order);
  } else {
    std::memcpy(plane, order, static_cast<std::size_t>(height) * sizeof(std::uint8_t*));
  }
  releaseZeroed(reinterpret_cast<unsigned char*>(order));
  if (height % 2 != 0) {
    clearRows(plane, height - 1, height, width);
    if (rowsDone != nullptr) rowsDone(context, plane, height - 1, 1);
  }
  return true;
}

}  // namespace

void dwtForwardRowsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                        std::int32_t width, std::int32_t height) {
  set.forwardRows(dst, src, width, height);
}

bool dwtTryForwardColumnsWith(const DwtPassSet& set, SamplePlane dst,
                              const std::uint8_t* const* src, std::int32_t width,
                              std::int32_t height) {
  if (width <= 0 || height < 2) return true;
  const std::int64_t strip = columnStrip(width);
  unsigned char* ring = allocateRings(1, kColumnRingRows * strip);
  if (ring == nullptr) return false;
  set.forwardColumns(dst, src, width, height, ringOf(ring, 0, 0), strip);
  releaseZeroed(ring);
  return true;
}

void dwtForwardColumnsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                           std::int32_t width, std::int32_t height) {
  if (!dwtTryForwardColumnsWith(set, dst, src, width, height)) {
    failOutOfMemory("dwtForwardColumns");
  }
}

bool dwtTryForward2dWith(const DwtPassSet& set, SamplePlane plane, std::int32_t width,
                         std::int32_t height, int threads, DwtResultRows rowsDone,
                         void* context) {
  return forward2d(set, plane, width, height, threads, rowsDone, context, false);
}

void dwtForward2dWith(const DwtPassSet& set, SamplePlane plane, std::int32_t width,
                      std::int32_t height, int threads, DwtResultRows rowsDone, void* context) {
  if (!dwtTryForward2dWith(set, plane, width, height, threads, rowsDone, context)) {
    failOutOfMemory("dwtForward2d");
  }
}

std::optional<dwt97::Failure> dwtTryForward2dLevelsWith(const DwtPassSet& set, SamplePlane plane,
                                                        std::int32_t width, std::int32_t height,
                                                        int levels, int threads) {
  if (levels > dwtMostLevels(width, height)) return dwt97::Failure::tooManyLevels;
  for (int level = 1; level <= levels; ++level) {
    // Level 1 reorders the pointer array as dwtForward2d does; later levels
    // work on the first rows in that order and move only their band's bytes.
    if (!forward2d(set, plane, width, height, threads, nullptr, nullptr, level > 1)) {
      return dwt97::Failure::outOfMemory;
    }
    width /= 2;
    height /= 2;
  }
  return std::nullopt;
}

void dwtForward2dLevelsWith(const DwtPassSet& set, SamplePlane plane, std::int32_t width,
                            std::int32_t height, int levels, int threads) {
  const std::optional<dwt97::Failure> failure =
      dwtTryForward2dLevelsWith(set, plane, width, height, levels, threads);
  if (failure == dwt97::Failure::tooManyLevels) {
    failTooManyLevels("dwtForward2dLevels", dwtMostLevels(width, height));
  }
  if (failure) failOutOfMemory("dwtForward2d");
}

bool dwtTryInverseColumnsWith(const DwtPassSet& set, SamplePlane dst,
                              const std::uint8_t* const* src, std::int32_t halfWidth,
                              std::int32_t halfHeight, int threads) {
  if (halfWidth <= 0 || halfHeight <= 0) return true;
  const std::int64_t width = 2 * std::int64_t{halfWidth};
  const int count = threadCount(threads, halfHeight, 2 * width * halfHeight);
  const std::int64_t strip = columnStrip(width);
  const std::int64_t ringFloats = kColumnRingRows * strip;
  unsigned char* rings = allocateRings(count, ringFloats);
  if (rings == nullptr) return false;
  runParts(count, [&](int k) {
    set.inverseColumns(dst, src, halfWidth, halfHeight, partStart(halfHeight, count, k),
                           partStart(halfHeight, count, k + 1), ringOf(rings, ringFloats, k),
                           strip);
  });
  releaseZeroed(rings);
  return true;
}

void dwtInverseColumnsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                           std::int32_t halfWidth, std::int32_t halfHeight, int threads) {
  if (!dwtTryInverseColumnsWith(set, dst, src, halfWidth, halfHeight, threads)) {
    failOutOfMemory("dwtInverseColumns");
  }
}

void dwtInverseRowsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                        std::int32_t halfWidth, std::int32_t halfHeight, int threads) {
  if (halfWidth <= 0 || halfHeight <= 0) return;
  const std::int64_t rows = 2 * std::int64_t{halfHeight};
  const int count = threadCount(threads, rows, 2 * std::int64_t{halfWidth} * rows);
  runParts(count, [&](int k) {
    set.inverseRows(dst, src, halfWidth, halfHeight, partStart(rows, count, k),
                        partStart(rows, count, k + 1));
  });
}

int dwtPassSets(const DwtPassSet* const** sets) {
  *sets = available().sets;
  return available().count;
}

void dwtForwardRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                    std::int32_t height) {
  dwtForwardRowsWith(*available().sets[0], dst, src, width, height);
}

void dwtForwardColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                       std::int32_t height) {
  dwtForwardColumnsWith(*available().sets[0], dst, src, width, height);
}

void dwtInverseColumns(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                       std::int32_t halfHeight) {
  dwtInverseColumnsWith(*available().sets[0], dst, src, halfWidth, halfHeight, 0);
}

void dwtInverseRows(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                    std::int32_t halfHeight) {
  dwtInverseRowsWith(*available().sets[0], dst, src, halfWidth, halfHeight, 0);
}

void dwtInverseColumnsThreads(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                              std::int32_t halfHeight, int threads) {
  dwtInverseColumnsWith(*available().sets[0], dst, src, halfWidth, halfHeight, threads);
}

void dwtInverseRowsThreads(SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
                           std::int32_t halfHeight, int threads) {
  dwtInverseRowsWith(*available().sets[0], dst, src, halfWidth, halfHeight, threads);
}

void dwtForward2d(SamplePlane plane, std::int32_t width, std::int32_t height, int threads) {
  dwtForward2dWith(*available().sets[0], plane, width, height, threads);
}

void dwtForward2dStreaming(SamplePlane plane, std::int32_t width, std::int32_t height,
                           int threads, DwtResultRows rowsDone, void* context) {
  dwtForward2dWith(*available().sets[0], plane, width, height, threads, rowsDone, context);
}

namespace {

std::optional<dwt97::Failure> outOfMemoryUnless(bool done) {
  if (done) return std::nullopt;
  return dwt97::Failure::outOfMemory;
}

}  // namespace

std::optional<dwt97::Failure> dwt97::tryForwardColumns(SamplePlane dst,
                                                       const std::uint8_t* const* src,
                                                       std::int32_t width, std::int32_t height) {
  return outOfMemoryUnless(dwtTryForwardColumnsWith(*available().sets[0], dst, src, width, height));
}

std::optional<dwt97::Failure> dwt97::tryForward2d(SamplePlane plane, std::int32_t width,
                                                  std::int32_t height, int threads) {
  return outOfMemoryUnless(
      dwtTryForward2dWith(*available().sets[0], plane, width, height, threads, nullptr, nullptr));
}

std::optional<dwt97::Failure> dwt97::tryForward2dStreaming(SamplePlane plane, std::int32_t width,
                                                           std::int32_t height, int threads,
                                                           DwtResultRows rowsDone,
                                                           void* context) {
  return outOfMemoryUnless(dwtTryForward2dWith(*available().sets[0], plane, width, height,
                                               threads, rowsDone, context));
}

std::optional<dwt97::Failure> dwt97::tryInverseColumns(SamplePlane dst,
                                                       const std::uint8_t* const* src,
                                                       std::int32_t halfWidth,
                                                       std::int32_t halfHeight) {
  return outOfMemoryUnless(
      dwtTryInverseColumnsWith(*available().sets[0], dst, src, halfWidth, halfHeight, 0));
}

std::optional<dwt97::Failure> dwt97::tryInverseColumnsThreads(SamplePlane dst,
                                                              const std::uint8_t* const* src,
                                                              std::int32_t halfWidth,
                                                              std::int32_t halfHeight,
                                                              int threads) {
  return outOfMemoryUnless(
      dwtTryInverseColumnsWith(*available().sets[0], dst, src, halfWidth, halfHeight, threads));
}

std::optional<dwt97::Failure> dwt97::tryForward2dLevels(SamplePlane plane, std::int32_t width,
                                                        std::int32_t height, int levels,
                                                        int threads) {
  return dwtTryForward2dLevelsWith(*available().sets[0], plane, width, height, levels, threads);
}

void dwtForward2dLevels(SamplePlane plane, std::int32_t width, std::int32_t height, int levels,
                        int threads) {
  dwtForward2dLevelsWith(*available().sets[0], plane, width, height, levels, threads);
}
