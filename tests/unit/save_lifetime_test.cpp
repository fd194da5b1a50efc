// The save's lifetime in a library process: saves open when the process
// ends (by a signal or through exit()) leave nothing, an interrupt after the
// commit keeps the run's status, memory running out in the transform leaves
// no temporary, and wide rows load within the picture's memory; with either
// kind of temporary.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/stat.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"
#include "messages.h"
#include "platform/platform.h"
#include "shell_run.h"
#include "test_support.h"

using namespace testsupport;

#if !defined(_WIN32)

// Library callers: many saves open at once are all removed on SIGTERM, and
// a process ending through exit() with saves open (a failure in the
// transform, say) removes them too.
TEST(ShellDeathTest, OpenSavesNeverOutliveTheProcess) {
  const testsupport::Picture p = picture(16, 8);
  TempDir dir;
  writeFile(dir.file("in.bmp"), testsupport::build(p));
  auto openMany = [&](bool bySignal, bool named) {
    dwt97::detail::allowUnnamedTemporaries(!named);
    Bitmap bmp;
    bmpLoad(&bmp, dir.file("in.bmp").c_str());
    for (int k = 0; k < 40; ++k) {
      const std::string name = dir.file("out" + std::to_string(k) + ".dat");
      if (bmpSaveStart(&bmp, name.c_str(), k % 2 == 1) == nullptr) std::_Exit(9);
    }
    if (bySignal) raise(SIGTERM);
    std::exit(1);
  };
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    EXPECT_EXIT(openMany(true, named), testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"in.bmp"});
    EXPECT_EXIT(openMany(false, named), testing::ExitedWithCode(1), "");
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"in.bmp"});
  }
}

// Once the tool's output is in place, an interrupt no longer ends the
// process by its signal: the run ends with its own status.
TEST(ShellDeathTest, InterruptAfterTheCommitKeepsTheRunStatus) {
  TempDir dir;
  const std::string output = dir.file("out.dat");
  auto save = [&](bool named) {
    dwt97::detail::allowUnnamedTemporaries(!named);
    dwt97::detail::holdInterruptsAfterCommit();
    dwt97::detail::SaveFile file;
    if (file.create(output.c_str()) || file.write("new", 3) || file.finish() || file.commit()) {
      std::_Exit(9);
    }
    raise(SIGINT);
    std::exit(0);
  };
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    EXPECT_EXIT(save(named), testing::ExitedWithCode(0), "");
    EXPECT_EQ(readFile(output), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"out.dat"});
    ASSERT_TRUE(removeFile(output));
  }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(DWT97_EMULATOR)

namespace {

// The process's address space now, in bytes.
std::uint64_t addressSpace() {
  unsigned long pages = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
  std::fclose(statm);
  return std::uint64_t{pages} * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

void limitAddressSpace(std::uint64_t bytes) {
  const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  setrlimit(RLIMIT_AS, &limit);
}

}  // namespace

// Memory running out in the transform while the result streams to a
// temporary: the failure is reported and the temporary goes.
TEST(ShellDeathTest, OutOfMemoryInTheTransformLeavesNoTemporary) {
  if (addressSpace() == 0) GTEST_SKIP() << "no /proc/self/statm";
  TempDir dir;
  const std::int32_t width = 1 << 20, height = 16;
  const testsupport::Picture p = picture(width, height, 2);
  writeFile(dir.file("in.bmp"), testsupport::build(p));
  auto run = [&](bool named) {
    dwt97::detail::allowUnnamedTemporaries(!named);
    Bitmap bmp;
    bmpLoad(&bmp, dir.file("in.bmp").c_str());
    std::vector<std::uint8_t*> rows(height);
    dwt97::planeRowsOver(rows.data(), bmp.data, height, width);
    BmpSaveSession* session = bmpSaveStart(&bmp, dir.file("out.dat").c_str(), false);
    if (session == nullptr) std::_Exit(9);
    limitAddressSpace(addressSpace() + (1u << 20));
    dwtForward2dStreaming(rows.data(), width, height, 1, bmpSaveRows, session);
    std::_Exit(0);
  };
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    EXPECT_EXIT(run(named), testing::ExitedWithCode(1),
                "^Error: dwtForward2d\\(\\), Out of memory!\n$");
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"in.bmp"});
  }
}

// A row wider than the read's buffer of about 1 MiB is read without a
// buffer of its size: two padded rows of 16 MiB + 1 load within the
// picture's own memory and a few MiB more.
TEST(ShellDeathTest, WideRowsLoadWithinThePicturesMemory) {
  if (addressSpace() == 0) GTEST_SKIP() << "no /proc/self/statm";
  TempDir dir;
  const std::int32_t width = (1 << 24) + 1, height = 2;
  const testsupport::Picture p = picture(width, height, 2);
  writeFile(dir.file("in.bmp"), testsupport::build(p));
  auto load = [&] {
    limitAddressSpace(addressSpace() + std::uint64_t{width} * height + (12u << 20));
    Bitmap bmp;
    bmpLoad(&bmp, dir.file("in.bmp").c_str());
    const bool same = std::memcmp(bmp.data, p.pixels.data(), p.pixels.size()) == 0;
    std::_Exit(same ? 0 : 3);
  };
  EXPECT_EXIT(load(), testing::ExitedWithCode(0), "");
}

#endif  // !__SANITIZE_ADDRESS__ && !DWT97_EMULATOR

// Finished saves give back what they took: no temporary stays registered
// and the interrupt handlers are the caller's again (the default here).
TEST(ShellDeathTest, FinishedSavesLeaveTheHandlersAsTheyWere) {
  TempDir dir;
  const testsupport::Picture p = picture(16, 8);
  writeFile(dir.file("in.bmp"), testsupport::build(p));
  auto saveMany = [&](bool named) {
    dwt97::detail::allowUnnamedTemporaries(!named);
    Bitmap bmp;
    bmpLoad(&bmp, dir.file("in.bmp").c_str());
    for (int k = 0; k < 40; ++k) {
      const std::string name = dir.file("out" + std::to_string(k % 3) + ".dat");
      if (dwt97::bmpSave(&bmp, name.c_str(), bmp.data)) std::_Exit(9);
    }
    bmpRelease(&bmp);
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    std::_Exit(now.sa_handler == SIG_DFL ? 0 : 3);
  };
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    EXPECT_EXIT(saveMany(named), testing::ExitedWithCode(0), "");
  }
}

// A commit that fails (a folder took the output's name while the save was
// open) lets the interrupts go again, also in a process that holds them
// after commits.
TEST(ShellDeathTest, AFailedCommitReleasesTheInterrupts) {
  TempDir dir;
  auto failToCommit = [&](bool named) {
    dwt97::detail::allowUnnamedTemporaries(!named);
    dwt97::detail::holdInterruptsAfterCommit();
    dwt97::detail::SaveFile save;
    const std::string path = dir.file(named ? "named.dat" : "unnamed.dat");
    if (save.create(path.c_str())) std::_Exit(9);
    if (!makeFolder(path) || save.write("bytes", 5) || save.finish()) std::_Exit(9);
    if (!save.commit()) std::_Exit(9);
    sigset_t held;
    pthread_sigmask(SIG_BLOCK, nullptr, &held);
    std::_Exit(sigismember(&held, SIGINT) ? 3 : 0);
  };
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    EXPECT_EXIT(failToCommit(named), testing::ExitedWithCode(0), "");
  }
}

// The pause at a terminal gives the interrupt handlers back when the key
// comes: the process's own again (the default here).
TEST(ShellDeathTest, ThePauseLeavesTheHandlersAsTheyWere) {
  auto pause = [] {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || dup2(slave, 0) < 0) {
      std::_Exit(9);
    }
    if (write(master, "x", 1) != 1) std::_Exit(9);
    dwt97::detail::pauseForKey();
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    std::_Exit(now.sa_handler == SIG_DFL ? 0 : 3);
  };
  EXPECT_EXIT(pause(), testing::ExitedWithCode(0), "Press any key to continue");
}

#endif  // !_WIN32
