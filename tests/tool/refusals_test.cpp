// The tool on refused and odd bitmaps and refused coefficients: the exact
// message, status 1, nothing on standard output and an older output intact;
// and odd files it accepts (padding missing from the last row, top-down,
// one pixel wide) giving the passes' bytes. The refusals themselves are the library's unit tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "messages.h"
#include "npy_builder.h"
#include "test_support.h"

using namespace testsupport;

namespace {

const Bytes kOlderOutput = {'o', 'l', 'd', 'e', 'r', 0, 255, '\n'};

// Runs the tool on `file` in a folder that already holds an older output,
// with `arguments` before the input's name when there are any.
RunResult runOn(const TempDir& dir, const Bytes& file,
                const std::vector<std::string>& arguments = {}) {
  writeFile(dir.file("quilgray.bmp"), file);
  writeFile(dir.file("quilout.dat"), kOlderOutput);
  RunOptions options;
  options.arguments = arguments;
  if (!arguments.empty()) options.arguments.push_back("quilgray.bmp");
  return runTool(dir.path(), options);
}

std::string tooManyLevels(int most) {
  char text[160];
  std::snprintf(text, sizeof text, messages::kTooManyLevels, "main", most);
  return text;
}

}  // namespace

// The tool reports a refused file with its exact message and status 1, writes
// nothing to standard output and leaves an older output as it was: a header
// check, a file cut inside its header, a pixel block past the end, and a
// folder in the input's place; for --inverse, coefficients cut short or
// of the header alone, a file of no numpy signature, of three dimensions,
// complex, float64 or int64, and more levels than the array allows, of
// float32 and int32 coefficients alike.
TEST(Refusals, TheToolRefusesWithTheExactMessage) {
  // A small file with padded rows: stride 8, pixels at 70, complete from 91.
  const Bytes full = build(picture(5, 3, 4));
  constexpr std::size_t kPaddedComplete = 70 + 2 * 8 + 5;
  // Coefficients of a 5 x 3 picture: a 128-byte header, then 60 bytes.
  const Bytes npy = npyOf(std::vector<float>(15, 0.5f), 5, 3);
  const Bytes npy53 = npyOfInts(std::vector<std::int32_t>(15, 9), 5, 3);
  const Bytes data(npy.begin() + 128, npy.end());
  const auto shaped = [&](const char* descr, const char* shape) {
    return npyFile(1, npyPadded(1, npyDict(descr, false, shape)), data);
  };
  const std::vector<std::string> inverse = {"--inverse"};
  const struct {
    Bytes file;
    std::string message;
    std::vector<std::string> arguments = {};
  } cases[] = {
      {withLe16(build(picture(8, 8)), kSignature, 0x424D), messages::kSignature},
      {Bytes(full.begin(), full.begin() + 53), messages::kShort},
      {Bytes(full.begin(), full.begin() + kPaddedComplete - 1), messages::kBeyondEnd},
      {Bytes(npy.begin(), npy.end() - 1), messages::kNpyTruncated, inverse},
      {Bytes(npy.begin(), npy.begin() + 128), messages::kNpyTruncated, inverse},
      {full, messages::kNpySignature, inverse},
      {shaped("<f4", "(1, 3, 5)"), messages::kNpyShape, inverse},
      {shaped("<c8", "(3, 5)"), messages::kNpyComplex, inverse},
      {shaped("<f8", "(3, 5)"), messages::kNpyType, inverse},
      {shaped("<i8", "(3, 5)"), messages::kNpyType, inverse},
      {Bytes(npy53.begin(), npy53.end() - 1), messages::kNpyTruncated, inverse},
      {npy53, tooManyLevels(3), {"--inverse", "--levels=4"}},
      {npy, tooManyLevels(3), {"--inverse", "--levels=4"}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const RunResult run = runOn(dir, c.file, c.arguments);
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
