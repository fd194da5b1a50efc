// The tool on refused and odd bitmaps: the exact message, status 1, nothing
// on standard output and an older output intact; and odd files it accepts
// (padding missing from the last row, top-down, one pixel wide) giving the
// passes' bytes. The refusals themselves are the library's unit tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "messages.h"
#include "test_support.h"

using namespace testsupport;

namespace {

const Bytes kOlderOutput = {'o', 'l', 'd', 'e', 'r', 0, 255, '\n'};

// Runs the tool on `file` in a folder that already holds an older output.
RunResult runOn(const TempDir& dir, const Bytes& file) {
  writeFile(dir.file("quilgray.bmp"), file);
  writeFile(dir.file("quilout.dat"), kOlderOutput);
  return runTool(dir.path());
}

}  // namespace

// The tool reports a refused file with its exact message and status 1, writes
// nothing to standard output and leaves an older output as it was: a header
// check, a file cut inside its header, a pixel block past the end, and a
// folder in the input's place.
TEST(Refusals, TheToolRefusesWithTheExactMessage) {
  // A small file with padded rows: stride 8, pixels at 70, complete from 91.
  const Bytes full = build(picture(5, 3, 4));
  constexpr std::size_t kPaddedComplete = 70 + 2 * 8 + 5;
  const struct {
    Bytes file;
    const char* message;
  } cases[] = {
      {withLe16(build(picture(8, 8)), kSignature, 0x424D), messages::kSignature},
      {Bytes(full.begin(), full.begin() + 53), messages::kShort},
      {Bytes(full.begin(), full.begin() + kPaddedComplete - 1), messages::kBeyondEnd},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const RunResult run = runOn(dir, c.file);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.message);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(listDir(dir.path()), kInputAndOutput);
    EXPECT_EQ(readFile(dir.file("quilout.dat")), kOlderOutput);
  }
  TempDir folder;
  ASSERT_TRUE(makeFolder(folder.file("quilgray.bmp")));
  const RunResult run = runTool(folder.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, messages::kNotRegular);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(listDir(folder.path()), std::vector<std::string>{"quilgray.bmp"});
}

// Odd files the tool accepts give the output of the passes run here on the
// file's samples: a padded one whose last row lacks its padding, read in
// several chunks, a top-down one, which keeps its rows in file order, and
// one-pixel-wide ones of many rows.
TEST(Refusals, TheToolTransformsOddFiles) {
  testsupport::Picture padded = picture(1027, 2049, 0);
  padded.dropLastRowPadding = true;
  testsupport::Picture topDown = picture(6, 3, 256);
  topDown.topDown = true;
  // One pixel wide and taller than a gathered write's 64 rows.
  testsupport::Picture narrow65 = picture(1, 65, 0);
  testsupport::Picture narrow200 = picture(1, 200, 0);
  TempDir dir;
  for (const testsupport::Picture* p : {&padded, &topDown, &narrow65, &narrow200}) {
    SCOPED_TRACE("width " + std::to_string(p->width));
    const RunResult run = runOn(dir, testsupport::build(*p));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(dir.file("quilout.dat")), transformed(p->width, p->height, p->pixels));
  }
}
