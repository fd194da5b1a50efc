// Memory running out is a value like any other failure: under an address
// space limit the loaders (of coefficients too), the plane allocation and
// the fused transform return outOfMemory with nothing left allocated or
// open and nothing changed, and a header declaring a huge picture in a
// small file is refused from the header alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "dwt97/dwt97.h"
#include "npy_builder.h"
#include "test_support.h"

using dwt97::Failure;
using namespace testsupport;

#if !defined(_WIN32)
namespace {

// Runs `check` under an address space that may grow by only `margin` bytes
// beyond what the process holds at the start, and exits with its result;
// `scratch`, the test's folder, is removed first.
[[noreturn]] void runWithinLimit(std::size_t margin, const std::function<int()>& check,
                                 const std::string& scratch) {
  long pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  if (pages == 0) _exit(100);
  const rlim_t bytes =
      static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + margin;
  const rlimit limit{bytes, bytes};
  if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(101);
  const int status = check();
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  _exit(status);
}

// Expects `check` to return 0 under that limit, in a child that runs this
// test afresh from the start (the death tests' "threadsafe" style executes
// the binary again): a child forked from this process would find the memory
// that earlier tests freed still free in its address space, and serve
// allocations from it that the limit is meant to refuse.
[[maybe_unused]] void expectWithinLimit(std::size_t margin, const std::function<int()>& check,
                                        const std::string& scratch) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(runWithinLimit(margin, check, scratch), ::testing::ExitedWithCode(0), "")
      << "the exit status numbers the check that failed";
  GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace

// Memory running out is a value like any other failure: the loaders, the
// plane allocation and the fused transform return outOfMemory with nothing
// left allocated or open and nothing changed, and the process goes on. A
// header declaring a huge picture in a small file is refused from the header
// alone, without any large allocation.
TEST(MemoryLimits, LoadsPlanesAndTransformsRunOutCleanly) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(DWT97_EMULATOR)
  GTEST_SKIP() << "the sanitizers' shadow memory and an emulator's own mappings defeat RLIMIT_AS";
#else
  constexpr std::int32_t kSide = 9000;  // 81 MB of pixels
  testsupport::Picture small = picture(8, 8, 0);
  Bytes big = testsupport::build(small);
  testsupport::putLe32(big, testsupport::kWidth, kSide);
  testsupport::putLe32(big, testsupport::kHeight, kSide);
  big.resize(54 + std::size_t{kSide} * kSide);
  TempDir dir;  // the same file, sparse beyond its header
  writeFile(dir.file("big.bmp"), Bytes(big.begin(), big.begin() + 54));
  std::filesystem::resize_file(fsPath(dir.file("big.bmp")), big.size());
  struct Refusal {
    Bytes file;
    Failure failure;
  };
  std::vector<Refusal> huge;
  for (auto [width, height, failure] :
       {std::tuple{32768u, 65535u, Failure::loadBeyondEnd},
        std::tuple{65535u, static_cast<std::uint32_t>(-32768), Failure::loadBeyondEnd},
        std::tuple{46340u, 46340u, Failure::loadBeyondEnd},
        std::tuple{0x7FFFFFFFu, 1u, Failure::loadBeyondEnd},
        std::tuple{0x7FFFFFFFu, 65535u, Failure::loadPixelCount},
        std::tuple{65535u, 65535u, Failure::loadPixelCount},
        std::tuple{46341u, 46341u, Failure::loadPixelCount}}) {
    Bytes file = withLe32(testsupport::build(picture(4, 4, 64)), testsupport::kWidth, width);
    testsupport::putLe32(file, testsupport::kHeight, height);
    huge.push_back({file, failure});
  }
  // The same for coefficients: an array of 9000 x 9000 samples whose file
  // holds them all (sparse), and a header claiming 8 GiB in a small file.
  const std::string dict = "{'descr': '<f4', 'fortran_order': False, 'shape': (9000, 9000), }";
  const Bytes npyBig = npyFile(1, npyPadded(1, dict), {});
  writeFile(dir.file("big.npy"), npyBig);
  std::filesystem::resize_file(fsPath(dir.file("big.npy")),
                               npyBig.size() + std::uint64_t{4} * kSide * kSide);
  const Bytes npyHuge = npyFile(
      1, npyPadded(1, "{'descr': '<f4', 'fortran_order': False, 'shape': (65535, 32767), }"),
      Bytes(16, 0));
  writeFile(dir.file("claim.npy"), npyHuge);
  // A picture so wide that one thread's fused ring takes some 60 MB, far
  // past the limit's margin.
  constexpr std::int32_t kWide = 1 << 20;
  dwt97::PlaneBuffer wide;
  ASSERT_FALSE(dwt97::planeAllocate(&wide, kWide, 4));
  for (std::int32_t r = 0; r < 4; ++r) std::memset(wide.rows[r], r + 1, kWide);
  dwt97::PlaneBuffer wideOut;  // of the out-of-place transform, zero-filled
  ASSERT_FALSE(dwt97::planeAllocate(&wideOut, kWide, 4));

  expectWithinLimit(
      std::size_t{1} << 20,
      [&]() -> int {
        const int descriptors = openDescriptors();
        Bitmap bmp;
        if (dwt97::bmpParse(&bmp, big.data(), big.size()) != Failure::outOfMemory) return 1;
        if (bmp.data != nullptr) return 2;
        if (dwt97::bmpLoad(&bmp, dir.file("big.bmp").c_str()) != Failure::outOfMemory) return 3;
        if (bmp.data != nullptr || openDescriptors() != descriptors) return 4;
        dwt97::PlaneBuffer plane;
        if (dwt97::planeAllocate(&plane, kSide, kSide) != Failure::outOfMemory) return 5;
        if (plane.rows != nullptr || plane.block != nullptr) return 6;
        if (dwt97::dwtForward2d(wide.rows, kWide, 4, 1) != Failure::outOfMemory) return 7;
        if (dwt97::dwtForward2dInto(wideOut.rows, wide.rows, kWide, 4, 1) != Failure::outOfMemory) {
          return 14;
        }
        for (std::int32_t r = 0; r < 4; ++r) {
          for (std::int32_t c = 0; c < kWide; ++c) {
            if (wide.rows[r][c] != r + 1 || wideOut.rows[r][c] != 0) return 8;
          }
        }
        for (const Refusal& c : huge) {
          if (dwt97::bmpParse(&bmp, c.file.data(), c.file.size()) != c.failure) return 9;
        }
        dwt97::NpyArray array;
        if (dwt97::npyLoad(&array, dir.file("big.npy").c_str()) != Failure::outOfMemory) return 10;
        if (array.data != nullptr || openDescriptors() != descriptors) return 11;
        if (dwt97::npyParse(&array, npyHuge.data(), npyHuge.size()) != Failure::npyTruncated) {
          return 12;
        }
        if (dwt97::npyLoad(&array, dir.file("claim.npy").c_str()) != Failure::npyTruncated)
          return 13;
        return 0;
      },
      dir.path());
  dwt97::planeRelease(&wide);
  dwt97::planeRelease(&wideOut);
#endif
}
#endif
