// The fused transform following a reader (dwt97::DwtFeed): the spans of
// output pairs run on threads of their own while the caller fills the
// plane's rows, each span waiting for the rows it converts. The rows a span
// reads outside its own are converted when they have arrived and before
// their neighbour overwrites them: span k, as it starts, converts the rows
// before its own into its ring and the rows after span k - 1's into that
// span's ring, then says so; span k - 1 waits for that before its last
// steps, which write the first and read the second. The last span converts
// its own rows past its end (an odd height's last row) once every row is in.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "core/allocator.h"
#include "dwt97/filterbank.h"
#include "filterbank/fused_order.h"
#include "filterbank/kernels/kernels.h"
#include "filterbank/threads.h"
#include "platform/platform.h"

using dwt97::Error;
using dwt97::Failure;
using dwt97::detail::allocateRings;
using dwt97::detail::allocateZeroed;
using dwt97::detail::clearRows;
using dwt97::detail::kMaxFusedRingBytes;
using dwt97::detail::kMaxThreads;
using dwt97::detail::partStart;
using dwt97::detail::releaseZeroed;
using dwt97::detail::ResultSink;
using dwt97::detail::resultSource;
using dwt97::detail::ringOf;
using dwt97::detail::roundUp16;
using dwt97::detail::smaller;
using dwt97::detail::tellPairs;
using dwt97::detail::threadCount;

namespace {

// A span waiting for rows sleeps until this many bytes of rows more than it
// needs have arrived (or all of them), so that a reader sharing its core
// hands over in pieces rather than row by row.
constexpr std::int64_t kWakeBytes = std::int64_t{1} << 18;
// Spans are at least this many pairs long when the rows arrive, so that the
// rows a span reads outside its own belong to its two neighbours alone.
constexpr std::int64_t kLeastFedPairs = 8;

constexpr std::int64_t kNobodyWaits = INT64_MAX;

}  // namespace

// The waits inline the standard library's lock helpers, so that the library
// defines no symbol of the standard library's own.
#if defined(__GNUC__)
#define DWT97_INLINE_ALL __attribute__((flatten))
#else
#define DWT97_INLINE_ALL
#endif

namespace dwt97 {

struct DwtFeed {
  struct Span {
    DwtFeed* feed;
    int k;
  };

  const DwtPassSet* set = nullptr;
  SamplePlane plane = nullptr;
  std::int32_t width = 0, height = 0;
  int threads = 0;
  DwtResultRows rowsDone = nullptr;
  void* context = nullptr;
  // No threads: the whole transform runs when the rows are in (on one
  // thread, or for pictures too small, or too wide for the fused ring).
  bool whole = false;

  int count = 0;
  std::int64_t half = 0, stride = 0, ringFloats = 0, wake = 1;
  unsigned char* rings = nullptr;
  std::uint8_t** order = nullptr;
  ResultSink sink{};
  DwtFusedProgress progress{};

  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<std::int64_t> arrived{0};
  std::atomic<std::int64_t> wanted{kNobodyWaits};  // the fewest rows a sleeper waits for
  bool stop = false;                               // guarded by mutex
  bool ready[kMaxThreads] = {};                    // span k took its neighbours' rows (mutex)
  Span spans[kMaxThreads] = {};
  DwtFusedFeed hooks[kMaxThreads] = {};
  std::thread workers[kMaxThreads];
  bool started[kMaxThreads] = {};

  std::int64_t j0(int k) const { return partStart(half, count, k); }
  float* ring(int k) const { return ringOf(rings, ringFloats, k); }

  ~DwtFeed() {
    releaseZeroed(rings);
    releaseZeroed(order);
  }

  // Rows [0, n) in place for n >= rows, or -1 once abandoned.
  DWT97_INLINE_ALL std::int64_t waitRows(std::int64_t rows) {
    std::int64_t have = arrived.load(std::memory_order_acquire);
    if (have >= rows) return have;
    const std::int64_t target = smaller(height, rows + wake);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      if (stop) return -1;
      if (target < wanted.load()) wanted.store(target);
      // The reader stores the count and then looks at `wanted`; this stores
      // `wanted` and then looks at the count: one of the two sees the other.
      have = arrived.load();
      if (have >= target) return have;
      changed.wait(lock);
    }
  }

  void tellArrived(std::int64_t rows) {
    arrived.store(rows);
    if (rows >= wanted.load()) {
      const std::lock_guard<std::mutex> lock(mutex);
      wanted.store(kNobodyWaits);  // the sleepers say again what they wait for
      changed.notify_all();
    }
  }

  DWT97_INLINE_ALL bool waitReady(int k) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return ready[k] || stop; });
    return !stop;
  }

  void setReady(int k) {
    const std::lock_guard<std::mutex> lock(mutex);
    ready[k] = true;
    changed.notify_all();
  }

  static std::int64_t waitRowsHook(void* context, std::int64_t rows) {
    return static_cast<Span*>(context)->feed->waitRows(rows);
  }

  static bool waitNeighbourHook(void* context) {
    const Span& span = *static_cast<Span*>(context);
    DwtFeed& feed = *span.feed;
    if (span.k + 1 < feed.count) return feed.waitReady(span.k + 1);
    if (feed.waitRows(feed.height) < 0) return false;
    feed.set->forward2dPrepare(feed.plane, nullptr, feed.width, feed.height, feed.j0(span.k),
                               feed.j0(span.k + 1), feed.ring(span.k), feed.stride,
                               kFusedTrailingRows);
    return true;
  }

  void runSpan(int k) {
    if (k > 0) {
      // Rows 2 j0 - 4 .. 2 j0 + 2: the span's rows before its own, and span
      // k - 1's rows after its own.
      if (waitRows(2 * j0(k) + 3) < 0) return;
      set->forward2dPrepare(plane, nullptr, width, height, j0(k), j0(k + 1), ring(k), stride,
                            kFusedLeadingRows);
      set->forward2dPrepare(plane, nullptr, width, height, j0(k - 1), j0(k), ring(k - 1), stride,
                            kFusedTrailingRows);
      setReady(k);
    }
    set->forward2dRun(plane, nullptr, width, height, j0(k), j0(k + 1), ring(k), stride,
                      rowsDone != nullptr ? &progress : nullptr, &hooks[k]);
  }

  // Waits for every span; a span whose thread could not be started runs
  // here, the last first, as each waits only for the one after it to start.
  void join() {
    for (int k = count - 1; k >= 0; --k) {
      if (started[k]) {
        workers[k].join();
      } else {
        runSpan(k);
      }
    }
  }
};

}  // namespace dwt97

using dwt97::DwtFeed;

namespace {

std::optional<Failure> start(const DwtPassSet& set, SamplePlane plane, std::int32_t width,
                             std::int32_t height, int threads, DwtResultRows rowsDone,
                             void* context, DwtFeed** result) {
  *result = nullptr;
  auto* feed = new (std::nothrow) DwtFeed;
  if (feed == nullptr) return Failure::outOfMemory;
  feed->set = &set;
  feed->plane = plane;
  feed->width = width;
  feed->height = height;
  feed->threads = threads;
  feed->rowsDone = rowsDone;
  feed->context = context;
  feed->stride = roundUp16(width) + 16;  // as the fused transform's rows
  feed->ringFloats = kFusedRingRows * feed->stride;
  const std::int64_t ringBytes = feed->ringFloats * std::int64_t{sizeof(float)};
  // One thread means the caller's alone: the transform waits for the rows.
  // So it does on a single processor, where following the reader would only
  // take turns with it.
  if (threads == 1 || width < 2 || height < 2 || ringBytes > kMaxFusedRingBytes ||
      dwt97::detail::usableProcessors() < 2) {
    feed->whole = true;
    *result = feed;
    return std::nullopt;
  }
  feed->half = height / 2;
  feed->wake = std::max<std::int64_t>(4, kWakeBytes / width);
  const std::int64_t most =
      smaller(smaller(threadCount(threads, feed->half, std::int64_t{width} * height),
                      kMaxFusedRingBytes / ringBytes),
              feed->half / kLeastFedPairs);
  feed->count = most < 1 ? 1 : static_cast<int>(most);
  if (allocateRings(feed->count, feed->ringFloats, &feed->rings) ||
      allocateZeroed(static_cast<std::size_t>(height), &feed->order)) {
    delete feed;
    return Failure::outOfMemory;
  }
  for (std::int64_t r = 0; r < height; ++r) feed->order[r] = plane[resultSource(r, feed->half)];
  feed->sink = ResultSink{rowsDone, context, feed->order, feed->half};
  feed->progress = DwtFusedProgress{tellPairs, &feed->sink};
  for (int k = 0; k < feed->count; ++k) {
    feed->spans[k] = DwtFeed::Span{feed, k};
    feed->hooks[k] =
        DwtFusedFeed{DwtFeed::waitRowsHook, DwtFeed::waitNeighbourHook, &feed->spans[k]};
  }
  for (int k = 0; k < feed->count; ++k) {
    try {
      feed->workers[k] = std::thread([feed, k] { feed->runSpan(k); });
      feed->started[k] = true;
    } catch (...) {
      // This span runs on the caller's thread when the rows are in.
    }
  }
  *result = feed;
  return std::nullopt;
}

}  // namespace

std::optional<Failure> dwtFeedStartWith(const DwtPassSet& set, SamplePlane plane,
                                        std::int32_t width, std::int32_t height, int threads,
                                        DwtResultRows rowsDone, void* context, DwtFeed** feed) {
  return start(set, plane, width, height, threads, rowsDone, context, feed);
}

std::optional<Error> dwt97::dwtFeedStart(SamplePlane plane, std::int32_t width, std::int32_t height,
                                         int threads, DwtResultRows rowsDone, void* context,
                                         DwtFeed** feed) {
  if (auto failure =
          start(dwtFastestPassSet(), plane, width, height, threads, rowsDone, context, feed)) {
    return Error{*failure, "dwtForward2d"};
  }
  return std::nullopt;
}

void dwt97::dwtFeedRows(DwtFeed* feed, std::int32_t rows) {
  if (!feed->whole) feed->tellArrived(rows);
}

std::optional<Error> dwt97::dwtFeedFinish(DwtFeed* feed) {
  std::optional<Failure> failure;
  if (feed->whole) {
    failure = dwtForward2dWith(*feed->set, feed->plane, feed->width, feed->height, feed->threads,
                               feed->rowsDone, feed->context);
  } else {
    feed->tellArrived(feed->height);
    feed->join();
    std::memcpy(feed->plane, feed->order,
                static_cast<std::size_t>(feed->height) * sizeof(std::uint8_t*));
    if (feed->height % 2 != 0) {
      clearRows(feed->plane, feed->height - 1, feed->height, feed->width);
      if (feed->rowsDone != nullptr) {
        feed->rowsDone(feed->context, feed->plane, feed->height - 1, 1);
      }
    }
  }
  delete feed;
  if (failure) return Error{*failure, "dwtForward2d"};
  return std::nullopt;
}

void dwt97::dwtFeedAbandon(DwtFeed* feed) {
  if (!feed->whole) {
    {
      const std::lock_guard<std::mutex> lock(feed->mutex);
      feed->stop = true;
      feed->changed.notify_all();
    }
    for (int k = 0; k < feed->count; ++k) {
      if (feed->started[k]) feed->workers[k].join();
    }
  }
  delete feed;
}
