// Library callers run many transforms at once from their own threads: every
// operation must be safe on separate planes, the threaded ones included (the
// pass-set choice on first use, the allocator's table and spare block, the
// failure handler). Run under ThreadSanitizer by the DWT97_TSAN build.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "core/allocator.h"
#include "dwt97/bitmap.h"
#include "dwt97/failure.h"
#include "dwt97/filterbank.h"
#include "dwt97/planes.h"
#include "noise.h"
#include "test_support.h"

using dwt97::planeAllocate;
using dwt97::PlaneBuffer;
using dwt97::planeRelease;
using dwt97::setFatalHandler;

namespace {

PlaneBuffer noisePlane(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  PlaneBuffer plane = testsupport::newPlane(width, height);
  testsupport::Noise noise(seed);
  for (std::int32_t r = 0; r < height; ++r)
    for (std::int32_t c = 0; c < width; ++c) plane.rows[r][c] = noise.next();
  return plane;
}

using Rows = std::vector<std::vector<std::uint8_t>>;

Rows rowsOf(const PlaneBuffer& plane) {
  Rows rows;
  for (std::int32_t r = 0; r < plane.height; ++r)
    rows.emplace_back(plane.rows[r], plane.rows[r] + plane.width);
  return rows;
}

// The forward transform in place, then the inverse pair back into fresh
// planes, on `threads` threads; the bytes of every stage.
struct RoundTrip {
  Rows forward, columns, rows;
};

RoundTrip roundTrip(std::int32_t width, std::int32_t height, std::uint32_t seed, int threads) {
  RoundTrip out;
  PlaneBuffer plane = noisePlane(width, height, seed);
  dwtForward2d(plane.rows, width, height, threads);
  out.forward = rowsOf(plane);
  PlaneBuffer columns = testsupport::newPlane(width, height);
  dwtInverseColumns(columns.rows, plane.rows, width / 2, height / 2, threads);
  out.columns = rowsOf(columns);
  PlaneBuffer rows = testsupport::newPlane(width, height);
  dwtInverseRows(rows.rows, columns.rows, width / 2, height / 2, threads);
  out.rows = rowsOf(rows);
  planeRelease(&rows);
  planeRelease(&columns);
  planeRelease(&plane);
  return out;
}

struct Failure {
  std::string message;
};
void throwFailure(const char* message) { throw Failure{message}; }

}  // namespace

// Several callers at once, each on its own planes (large enough for mapped
// blocks and the spare), each transform itself on two threads: every result
// matches the one computed alone, on one thread.
TEST(Concurrency, SeparatePlanesGiveTheBytesOfLoneRuns) {
  const std::int32_t widths[] = {1031, 2048, 517, 1500};
  const std::int32_t heights[] = {2050, 1025, 301, 2800};
  std::vector<RoundTrip> alone;
  for (int k = 0; k < 4; ++k) alone.push_back(roundTrip(widths[k], heights[k], 40 + k, 1));
  std::vector<RoundTrip> together(4);
  std::vector<std::thread> callers;
  for (int k = 0; k < 4; ++k)
    callers.emplace_back([&, k] { together[k] = roundTrip(widths[k], heights[k], 40 + k, 2); });
  for (std::thread& caller : callers) caller.join();
  for (int k = 0; k < 4; ++k) {
    EXPECT_TRUE(together[k].forward == alone[k].forward) << "forward, caller " << k;
    EXPECT_TRUE(together[k].columns == alone[k].columns) << "inverse columns, caller " << k;
    EXPECT_TRUE(together[k].rows == alone[k].rows) << "inverse rows, caller " << k;
  }
}

// A reader that fails part-way abandons the transform following it: at
// every row of a picture spread over several threads, the transform's
// threads stop and are gone when dwtFeedAbandon() returns (a thread still
// waiting would hang it, one still reading would race with the release),
// and a reader that reaches the end still gets the transform's bytes.
namespace {
void countRows(void* context, const std::uint8_t* const*, std::int32_t, std::int32_t count) {
  *static_cast<std::atomic<int>*>(context) += count;
}
}  // namespace

TEST(Concurrency, FeedAbandonedAtEveryRowStopsItsThreads) {
  const std::int32_t width = 37, height = 67;
  PlaneBuffer source = noisePlane(width, height, 31);
  PlaneBuffer expected = noisePlane(width, height, 31);
  dwtForward2d(expected.rows, width, height, 1);
  for (const int threads : {1, 3}) {
    for (std::int32_t failAt = 0; failAt <= height; ++failAt) {
      PlaneBuffer plane = testsupport::newPlane(width, height);
      std::atomic<int> told{0};
      dwt97::DwtFeed* feed = nullptr;
      ASSERT_EQ(dwt97::dwtFeedStart(plane.rows, width, height, threads, countRows, &told, &feed),
                std::nullopt);
      for (std::int32_t r = 0; r < failAt; ++r) {
        std::copy(source.rows[r], source.rows[r] + width, plane.rows[r]);
        dwt97::dwtFeedRows(feed, r + 1);
      }
      if (failAt < height) {
        dwt97::dwtFeedAbandon(feed);
        EXPECT_LT(told.load(), height) << "failing at row " << failAt;
      } else {
        ASSERT_EQ(dwt97::dwtFeedFinish(feed), std::nullopt);
        EXPECT_EQ(told.load(), height);
        EXPECT_TRUE(rowsOf(plane) == rowsOf(expected)) << "on " << threads << " threads";
      }
      planeRelease(&plane);
    }
  }
  planeRelease(&expected);
  planeRelease(&source);
}

// Callers that install the failure handler and fail at the same time each
// get their own message back.
TEST(Concurrency, FailuresReachTheirOwnCaller) {
  std::vector<std::string> messages(4);
  std::vector<std::thread> callers;
  for (int k = 0; k < 4; ++k)
    callers.emplace_back([&messages, k] {
      setFatalHandler(throwFailure);
      for (int round = 0; round < 20; ++round) {
        try {
          Bitmap bmp;
          bmpLoad(&bmp, ("/nonexistent/dwt97-" + std::to_string(k)).c_str());
          bmpRelease(&bmp);
        } catch (const Failure& failure) {
          messages[k] = failure.message;
        }
      }
    });
  for (std::thread& caller : callers) caller.join();
  setFatalHandler(nullptr);
  for (const std::string& message : messages)
    EXPECT_EQ(message, "Error: bmpLoad(), File open fail!\n");
}

// Saves on several threads at once: each file gets the permissions a plain
// create gives (0666 less the umask), and the process's umask is never
// changed, not even for a moment another save could see. (Windows has no
// umask: there the saves are only checked for their bytes.)
TEST(Concurrency, SavesLeaveTheUmaskAlone) {
  constexpr int kCallers = 8, kRounds = 100;
  testsupport::TempDir dir;
#if !defined(_WIN32)
  const mode_t saved = umask(027);
#endif
  Bitmap bmp{};
  bmp.width = 4;
  bmp.height = 2;
  const std::uint8_t flat[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::uint8_t* const rows[2] = {flat, flat + 4};
  std::vector<std::thread> callers;
  for (int k = 0; k < kCallers; ++k)
    callers.emplace_back([&, k] {
      for (int round = 0; round < kRounds; ++round) {
        const std::string name = dir.file("out" + std::to_string(k) + "-" + std::to_string(round));
        if (round % 2) {
          bmpSave(&bmp, name.c_str(), flat);
        } else {
          bmpSavePlane(&bmp, name.c_str(), rows);
        }
      }
    });
  for (std::thread& caller : callers) caller.join();
#if !defined(_WIN32)
  EXPECT_EQ(umask(saved), mode_t{027});
#endif
  for (int k = 0; k < kCallers; ++k)
    for (int round = 0; round < kRounds; ++round) {
      const std::string name = dir.file("out" + std::to_string(k) + "-" + std::to_string(round));
#if !defined(_WIN32)
      struct stat info {};
      ASSERT_EQ(stat(name.c_str(), &info), 0) << name;
      EXPECT_EQ(info.st_mode & 0777, mode_t{0640}) << name;
#endif
      EXPECT_EQ(testsupport::readFile(name), testsupport::Bytes(flat, flat + 8)) << name;
    }
  EXPECT_EQ(testsupport::listDir(dir.path()).size(),
            static_cast<std::size_t>(kCallers * kRounds));  // no temporary left
}

// ThreadSanitizer reports an unguarded access the first time it happens,
// whatever the timing, and runs each round many times slower: a few rounds
// do there what the plain build needs thousands for.
#if defined(__SANITIZE_THREAD__)
#define DWT97_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DWT97_UNDER_TSAN 1
#endif
#endif

// Callers taking and releasing picture-sized blocks at once, which share the
// allocator's table of mapped blocks and its one spare: every block arrives
// zero-filled and stays its caller's alone until released. Two bytes in each
// 4 KiB page are checked, marked with the caller's number and checked again.
TEST(Concurrency, LargeBlocksTakenAndReleasedAtOnce) {
#if !defined(__linux__)
  // No mapped blocks there (the free store serves them), and under Wine each
  // round costs milliseconds: a token run.
  constexpr int kCallers = 8, kRounds = 20;
#elif defined(DWT97_UNDER_TSAN)
  constexpr int kCallers = 8, kRounds = 60;
#elif defined(DWT97_EMULATOR)
  constexpr int kCallers = 8, kRounds = 1000;  // each round some ten times slower
#else
  constexpr int kCallers = 8, kRounds = 3000;
#endif
  constexpr std::size_t kBytes = std::size_t{4} << 20, kPage = 4096;
  std::vector<long> wrong(kCallers, 0);
  std::vector<std::thread> callers;
  for (int k = 0; k < kCallers; ++k)
    callers.emplace_back([&wrong, k] {
      const auto mark = static_cast<unsigned char>(k + 1);
      for (int round = 0; round < kRounds; ++round) {
        unsigned char* block = nullptr;
        if (dwt97::detail::allocateZeroed(kBytes, &block)) {
          ++wrong[k];
          continue;
        }
        for (std::size_t at = 0; at < kBytes; at += kPage) {
          wrong[k] += block[at] != 0 || block[at + kPage - 1] != 0;
          block[at] = block[at + kPage - 1] = mark;
        }
        for (std::size_t at = 0; at < kBytes; at += kPage)
          wrong[k] += block[at] != mark || block[at + kPage - 1] != mark;
        dwt97::detail::releaseZeroed(block);
      }
    });
  for (std::thread& caller : callers) caller.join();
  for (int k = 0; k < kCallers; ++k) EXPECT_EQ(wrong[k], 0) << "caller " << k;
}
