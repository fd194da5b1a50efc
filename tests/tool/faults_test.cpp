// Faults injected into real runs of the binary on the bundled sample: the
// input changed between the load and the sample re-read (through a preloaded
// shim), an output that cannot be created, a write that fails part-way. Every
// run must end with status 1 and its exact message, leave no temporary file
// behind and keep an older "quilout.dat" byte for byte.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "dwt97/bitmap.h"
#include "dwt97/picture.h"
#include "messages.h"
#include "platform/platform.h"
#include "test_support.h"

using namespace testsupport;

namespace {

const Bytes kOlderOutput = {'k', 'e', 'e', 'p', ' ', 'm', 'e', 0, 1, 2, 255};

// A folder holding the sample as "quilgray.bmp" and an older output.
struct SampleRun {
  TempDir dir;
  SampleRun() {
    writeFile(dir.file("quilgray.bmp"), readFile(DWT97_SAMPLE_BMP));
    writeFile(dir.file("quilout.dat"), kOlderOutput);
  }
};

// Changes the input on its second opening: see fopen_shim.cpp.
RunOptions withShim(const std::string& action) {
  RunOptions options;
  options.environment = shimEnvironment({{"DWT97_SHIM_INPUT", action}});
  return options;
}

// The saves' two kinds of temporary: with no name where the system has them,
// and named, as elsewhere (for a run of the tool, through the shim).
const bool kEitherKind[] = {false, true};

RunOptions withNamedTemporaries(RunOptions options) {
  if (!kNoPreloading) options.environment = namedTemporaries();
  return options;
}

const std::vector<std::string> kNoArguments;

// A failed run: status 1, `message`, standard output `out` (a failed save
// follows the report), the input and the older output as they were.
void expectFailed(const SampleRun& sample, const RunResult& run, const std::string& message,
                  const std::string& out = "") {
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, message);
  EXPECT_EQ(run.out, out);
  EXPECT_EQ(listDir(sample.dir.path()), kInputAndOutput);
  EXPECT_EQ(readFile(sample.dir.file("quilout.dat")), kOlderOutput);
}

}  // namespace

// The shim alone changes nothing: the run completes, and a new output gets
// the permissions of a plain create, whichever kind of temporary it was.
TEST(Faults, ShimWithoutActionIsHarmless) {
  if (kNoPreloading) GTEST_SKIP() << kNoPreloading;
#if !defined(_WIN32)
  const mode_t umaskNow = umask(022);
  umask(umaskNow);
#endif
  for (bool named : kEitherKind) {
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    SampleRun sample;
    ASSERT_TRUE(removeFile(sample.dir.file("quilout.dat")));
    const RunResult run =
        runTool(sample.dir.path(), named ? withNamedTemporaries({}) : withShim(""));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, reportFor(512, 512));
    EXPECT_EQ(readFile(sample.dir.file("quilout.dat")).size(), 512u * 512u);
#if !defined(_WIN32)
    struct stat info;
    ASSERT_EQ(stat(sample.dir.file("quilout.dat").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u & ~umaskNow);
#endif
  }
}

TEST(Faults, InputRemovedBeforeReread) {
  if (kNoPreloading) GTEST_SKIP() << kNoPreloading;
  SampleRun sample;
  const RunResult run = runTool(sample.dir.path(), withShim("remove"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, messages::kReopen);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(listDir(sample.dir.path()), std::vector<std::string>{"quilout.dat"});
  EXPECT_EQ(readFile(sample.dir.file("quilout.dat")), kOlderOutput);
}

// Cut to nothing, to the headers, to the colour table, one byte short.
TEST(Faults, InputShortenedBeforeReread) {
  if (kNoPreloading) GTEST_SKIP() << kNoPreloading;
  const std::size_t sampleBytes = readFile(DWT97_SAMPLE_BMP).size();
  ASSERT_EQ(sampleBytes, 1078u + 512u * 512u);
  for (std::size_t length : {std::size_t{0}, std::size_t{54}, std::size_t{1078},
                             std::size_t{1078 + 4096 + 17}, sampleBytes - 1}) {
    SCOPED_TRACE("cut to " + std::to_string(length));
    SampleRun sample;
    const RunResult run = runTool(sample.dir.path(), withShim(std::to_string(length)));
    expectFailed(sample, run, messages::kReadPlaneRead);
  }
}

// Thread creation refused (a limit on threads reached): the parts of the
// picture meant for other threads are transformed all the same, and the run
// gives the bytes of a normal one. The picture is large enough for several
// threads wherever there are two processors or more.
TEST(Faults, ThreadsRefused) {
  if (kNoPreloading) GTEST_SKIP() << kNoPreloading;
  TempDir dir;
  const testsupport::Picture p = picture(2048, 1024);
  writeFile(dir.file("quilgray.bmp"), testsupport::build(p));
  RunOptions options = withShim("");
  options.environment.push_back({"DWT97_SHIM_THREADS", "refuse"});
  const RunResult run = runTool(dir.path(), options);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(readFile(dir.file("quilout.dat")) == transformed(p.width, p.height, p.pixels));
}

// --threads=1 keeps every path of the run on the calling thread: the
// streamed raw and PGM saves, several levels, PNG output. A picture this
// large would take a second thread wherever there are two processors.
TEST(Faults, OneThreadMakesNoOther) {
  if (kNoPreloading) GTEST_SKIP() << kNoPreloading;
  TempDir dir;
  const testsupport::Picture p = picture(2048, 1024);
  writeFile(dir.file("in.bmp"), testsupport::build(p));
  const Bytes one = transformed(p.width, p.height, p.pixels);
  const Bytes two = transformed(p.width, p.height, p.pixels, 2);
  struct {
    std::vector<std::string> arguments;
    const Bytes& raw;
  } runs[] = {{{"in.bmp", "out.dat"}, one},
              {{"--levels=2", "in.bmp", "out.dat"}, two},
              {{"--format=pgm", "in.bmp", "out.dat"}, one},
              {{"--format=png", "in.bmp", "out.dat"}, one}};
  for (const auto& r : runs) {
    if (r.arguments[0] == "--format=png" && !dwt97::canWritePng()) continue;
    SCOPED_TRACE(r.arguments[0]);
    RunOptions options = withShim("");
    options.environment.push_back({"DWT97_SHIM_THREADS", "forbid"});
    options.arguments = {"--no-pause", "-q", "--threads=1"};
    options.arguments.insert(options.arguments.end(), r.arguments.begin(), r.arguments.end());
    const RunResult run = runTool(dir.path(), options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    if (r.arguments[0] == "in.bmp" || r.arguments[0] == "--levels=2") {
      EXPECT_TRUE(readFile(dir.file("out.dat")) == r.raw);
    }
    // Without --threads=1 the same run takes a second thread there.
    if (std::thread::hardware_concurrency() > 1) {
      options.arguments.erase(options.arguments.begin() + 2);
      EXPECT_EQ(runTool(dir.path(), options).status, 99);
    }
  }
}

// "quilout.dat" is a folder: the finished temporary cannot replace it. The
// report was printed before the save, as in every run.
TEST(Faults, OutputIsAFolder) {
  SampleRun sample;
  const std::string output = sample.dir.file("quilout.dat");
  ASSERT_TRUE(removeFile(output));
  ASSERT_TRUE(makeFolder(output));
  writeFile(output + "/inside", kOlderOutput);
  const RunResult run = runTool(sample.dir.path());
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, messages::kCreate);
  EXPECT_EQ(run.out, reportFor(512, 512));
  EXPECT_EQ(listDir(sample.dir.path()), kInputAndOutput);
  EXPECT_EQ(listDir(output), std::vector<std::string>{"inside"});
  EXPECT_EQ(readFile(output + "/inside"), kOlderOutput);
}

// A file-size limit stops the write part-way: the partial temporary goes, the
// older output stays. Whether the caller ignored SIGXFSZ or not, the save
// sees a failed write rather than being killed with the temporary half
// written; the same for float32 coefficients (a 1 MiB .npy file).
TEST(Faults, WriteFailsPartWay) {
  if (kNoResourceLimits) GTEST_SKIP() << kNoResourceLimits;
  const std::vector<std::string> coefficients = {"--format=npy", "quilgray.bmp"};
  for (const std::vector<std::string>* arguments : {&kNoArguments, &coefficients}) {
    for (long limit : {4096L, 100000L, 512L * 512L - 1}) {
      for (bool ignoreSignal : {true, false}) {
        for (bool named : kEitherKind) {
          SCOPED_TRACE("file size limit " + std::to_string(limit) +
                       (ignoreSignal ? ", SIGXFSZ ignored" : ", SIGXFSZ default") +
                       (named ? ", named temporaries" : "") + (arguments->empty() ? "" : ", .npy"));
          SampleRun sample;
          RunOptions options;
          options.fileSizeLimit = limit;
          options.ignoreFileSizeSignal = ignoreSignal;
          options.arguments = *arguments;
          const RunResult run =
              runTool(sample.dir.path(), named ? withNamedTemporaries(options) : options);
          expectFailed(sample, run, messages::kWrite, reportFor(512, 512));
        }
      }
    }
  }
}

// Exactly enough room: the save completes and replaces the older output.
TEST(Faults, WriteFitsTheLimitExactly) {
  if (kNoResourceLimits) GTEST_SKIP() << kNoResourceLimits;
  SampleRun sample;
  RunOptions options;
  options.fileSizeLimit = 512L * 512L;
  options.ignoreFileSizeSignal = true;
  const RunResult run = runTool(sample.dir.path(), options);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(listDir(sample.dir.path()), kInputAndOutput);
  EXPECT_EQ(readFile(sample.dir.file("quilout.dat")).size(), 512u * 512u);
}

// The process ends while a save's temporary exists: by SIGTERM on POSIX
// systems (the handler removes the file, then the signal ends the process as
// it would have), abruptly on Windows (the file is delete-on-close until the
// commit). Either way the older output stays and nothing else is left.
TEST(FaultsDeathTest, SaveInterruptedLeavesNoTemporary) {
  for (bool named : kEitherKind) {
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    SampleRun sample;
    const std::string output = sample.dir.file("quilout.dat");
    auto endMidway = [&] {
      dwt97::detail::allowUnnamedTemporaries(!named);
      dwt97::detail::SaveFile save;
      if (save.create(output.c_str()) || save.write("partial", 7)) std::_Exit(9);
#if defined(_WIN32)
      std::_Exit(3);
#else
      raise(SIGTERM);
#endif
    };
#if defined(_WIN32)
    EXPECT_EXIT(endMidway(), testing::ExitedWithCode(3), "");
#else
    EXPECT_EXIT(endMidway(), testing::KilledBySignal(SIGTERM), "");
#endif
    EXPECT_EQ(listDir(sample.dir.path()), kInputAndOutput);
    EXPECT_EQ(readFile(output), kOlderOutput);
  }
}

#if !defined(_WIN32)
namespace {
void callerHandler(int) {}
}  // namespace

// A library caller's own SIGINT and SIGTERM handlers are its own again once a
// save is over, whether the save was made whole or from rows as they came.
TEST(Faults, SavesGiveBackTheCallersInterruptHandlers) {
  struct sigaction mine {
  }, before[2];
  mine.sa_handler = callerHandler;
  sigemptyset(&mine.sa_mask);
  const int interrupts[] = {SIGINT, SIGTERM};
  for (int k = 0; k < 2; ++k) ASSERT_EQ(sigaction(interrupts[k], &mine, &before[k]), 0);
  const std::uint8_t flat[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::uint8_t* const rows[2] = {flat, flat + 4};
  for (bool named : kEitherKind) {
    SCOPED_TRACE(named ? "named temporaries" : "unnamed temporaries");
    dwt97::detail::allowUnnamedTemporaries(!named);
    TempDir dir;
    Bitmap bmp{};
    bmp.width = 4;
    bmp.height = 2;
    bmpSave(&bmp, dir.file("whole.dat").c_str(), flat);
    BmpSaveSession* session = bmpSaveStart(&bmp, dir.file("rows.dat").c_str(), false);
    ASSERT_NE(session, nullptr);
    bmpSaveRows(session, rows, 0, 2);
    bmpSaveFinish(session);
    EXPECT_EQ(readFile(dir.file("rows.dat")), Bytes(flat, flat + 8));
    for (int k = 0; k < 2; ++k) {
      struct sigaction now {};
      sigaction(interrupts[k], nullptr, &now);
      EXPECT_EQ(now.sa_handler, &callerHandler) << "signal " << interrupts[k];
    }
  }
  dwt97::detail::allowUnnamedTemporaries(true);
  for (int k = 0; k < 2; ++k) sigaction(interrupts[k], &before[k], nullptr);
}
#endif
