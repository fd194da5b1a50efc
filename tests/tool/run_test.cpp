// Whole runs of the tool: a missing input, pictures, the bundled sample's
// bytes and report, and the pause at a terminal (one key, an interrupt that
// restores the terminal, no pause when asked).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"
#include "messages.h"
#include "shell_run.h"
#include "test_support.h"

using namespace testsupport;

namespace {

// Runs the tool on `p` in `dir`, standard input not a terminal: it prints
// exactly the report (none with -q), nothing on standard error, and does not
// wait. Returns the output after checking it against the transform done here.
Bytes expectRun(const TempDir& dir, const testsupport::Picture& p, int levels = 1,
                const std::vector<std::string>& arguments = {}) {
  writeFile(dir.file("quilgray.bmp"), testsupport::build(p));
  RunOptions options;
  options.arguments = arguments;
  const bool quiet = std::find(arguments.begin(), arguments.end(), "-q") != arguments.end();
  const RunResult run = runTool(dir.path(), options);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, quiet ? "" : reportFor(p.width, p.height));
  const Bytes output = readFile(dir.file("quilout.dat"));
  EXPECT_EQ(output, transformed(p.width, p.height, p.pixels, levels));
  EXPECT_EQ(listDir(dir.path()), kInputAndOutput);
  return output;
}

}  // namespace

// A missing input ends the run with the open-failure line, status 1, nothing
// on standard output and no output file.
TEST(Run, MissingInputFails) {
  TempDir dir;
  const RunResult run = runTool(dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, messages::kOpen);
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{});
}

// Square, non-square and odd (padded) pictures, on one level or several (as
// many as the picture allows, with odd bands), on any thread count. With odd
// sizes the last row and column, which no pass writes, are 0.
TEST(Run, Pictures) {
  const struct {
    int w, h, levels;
    std::vector<std::string> arguments;
  } cases[] = {{512, 512, 1, {}},
               {256, 128, 1, {"--threads=1"}},
               {7, 5, 1, {}},
               {256, 128, 4, {"--levels=4", "-q"}},
               {45, 37, 5, {"--levels", "5", "--threads", "3"}}};
  for (const auto& c : cases) {
    const int w = c.w, h = c.h;
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + ", " + std::to_string(c.levels));
    TempDir dir;
    const Bytes output = expectRun(dir, picture(w, h), c.levels, c.arguments);
    ASSERT_EQ(output.size(), static_cast<std::size_t>(w * h));
    for (int c = 0; c < w && h % 2; ++c) EXPECT_EQ(output[(h - 1) * w + c], 0) << "last row " << c;
    for (int r = 0; r < h && w % 2; ++r) EXPECT_EQ(output[r * w + w - 1], 0) << "last column " << r;
    int nonZero = 0;
    for (std::uint8_t b : output) nonZero += b != 0;
    EXPECT_GT(nonZero, w * h / 4);
  }
}

// The bundled sample goes through and every sub-band holds something.
TEST(Run, BundledSample) {
  TempDir dir;
  writeFile(dir.file("quilgray.bmp"), readFile(DWT97_SAMPLE_BMP));
  const RunResult run = runTool(dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, reportFor(512, 512));
  const Bytes output = readFile(dir.file("quilout.dat"));
  ASSERT_EQ(output.size(), 262144u);
  for (int band = 0; band < 4; ++band) {
    const int top = (band / 2) * 256, left = (band % 2) * 256;
    int nonZero = 0;
    for (int r = top; r < top + 256; ++r) {
      for (int c = left; c < left + 256; ++c) nonZero += output[r * 512 + c] != 0;
    }
    EXPECT_GT(nonZero, 1000) << "band " << band;
  }
}

// ---- The pause, with standard input a terminal ---------------------------

#if defined(_WIN32)

TEST(Run, PausesForOneKeyAtATerminal) { GTEST_SKIP() << kNoPseudoTerminal; }
TEST(Run, InterruptedPauseRestoresTheTerminal) { GTEST_SKIP() << kNoPseudoTerminal; }
TEST(Run, NoPauseAtATerminal) { GTEST_SKIP() << kNoPseudoTerminal; }

#else

namespace {

constexpr const char* kPrompt = "Press any key to continue . . . ";

void expectSameTerminal(const termios& before, const termios& after) {
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
  EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

}  // namespace

// At a terminal the run reports, prompts on standard error, writes nothing
// until one key (no Enter) is pressed, then saves and leaves the terminal
// settings as they were.
TEST(Run, PausesForOneKeyAtATerminal) {
  TempDir dir;
  writeFile(dir.file("quilgray.bmp"), testsupport::build(picture(16, 8)));
  ShellRun run(dir.path(), atTerminal(), {});
  ASSERT_TRUE(run.started());
  ASSERT_NE(run.terminalBefore().c_lflag & ICANON, 0u);
  ASSERT_NE(run.terminalBefore().c_lflag & ECHO, 0u);

  ASSERT_TRUE(run.waitForPause()) << run.err();
  EXPECT_EQ(run.terminal().c_lflag & ECHO, 0u);
  EXPECT_EQ(run.err(), kPrompt);
  EXPECT_EQ(run.out(), reportFor(16, 8));  // the report comes before the pause
  EXPECT_FALSE(exists(dir.file("quilout.dat")));
  usleep(20000);
  EXPECT_TRUE(run.stillRunning());
  EXPECT_FALSE(exists(dir.file("quilout.dat")));

  run.type("x");
  const int status = run.finish();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readFile(dir.file("quilout.dat")), transformed(16, 8, picture(16, 8).pixels));
  EXPECT_EQ(run.out(), reportFor(16, 8));
  EXPECT_EQ(run.err().rfind(kPrompt, 0), 0u);
  expectSameTerminal(run.terminalBefore(), run.terminal());
}

// Interrupted at the pause: the terminal is put back, and neither the output
// nor the temporary file the result was already written to is left.
TEST(Run, InterruptedPauseRestoresTheTerminal) {
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signalNumber);
    TempDir dir;
    writeFile(dir.file("quilgray.bmp"), testsupport::build(picture(16, 8)));
    ShellRun run(dir.path(), atTerminal(), {});
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.waitForPause()) << run.err();

    run.signal(signalNumber);
    const int status = run.finish();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signalNumber);
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"quilgray.bmp"});
    expectSameTerminal(run.terminalBefore(), run.terminal());
  }
}

// --no-pause: at a terminal too, the run saves without waiting for a key.
TEST(Run, NoPauseAtATerminal) {
  TempDir dir;
  writeFile(dir.file("quilgray.bmp"), testsupport::build(picture(16, 8)));
  ShellRun run(dir.path(), atTerminal(), {"--no-pause"});
  ASSERT_TRUE(run.started());
  const int status = run.finish();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(run.err(), "");
  EXPECT_EQ(readFile(dir.file("quilout.dat")), transformed(16, 8, picture(16, 8).pixels));
}

#endif  // !_WIN32
