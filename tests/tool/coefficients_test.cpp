// The tool on coefficients, the 9/7's float32 and the 5/3's int32, through
// the real binary: the analysis into a .npy file top row first whatever the
// input's row order, --inverse giving the very picture back from it, --view
// as the rendered analysis, the inverse's report and pause, and the README's
// view picture as the tool makes it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dwt97/coefficients.h"
#include "dwt97/npy.h"
#include "dwt97/picture.h"
#include "dwt97/reversible.h"
#include "npy_builder.h"
#include "shell_run.h"
#include "test_support.h"

using namespace testsupport;

namespace {

RunResult run(const TempDir& dir, std::vector<std::string> arguments) {
  RunOptions options;
  options.arguments = std::move(arguments);
  options.arguments.insert(options.arguments.begin(), "--no-pause");
  return runTool(dir.path(), options);
}

// The picture's samples top row first: a bottom-up bitmap's rows reversed.
Bytes upright(const testsupport::Picture& p) {
  if (p.topDown) return p.pixels;
  Bytes rows;
  for (int r = p.height - 1; r >= 0; --r) {
    rows.insert(rows.end(), p.pixels.begin() + r * p.width, p.pixels.begin() + (r + 1) * p.width);
  }
  return rows;
}

// The analysis of `pixels` (top row first), computed here.
std::vector<float> analysis(const Bytes& pixels, int width, int height, int levels) {
  std::vector<float> out(pixels.size());
  const auto error = dwt97::dwtAnalyze(dwt97::planeOver(pixels.data(), width, height),
                                       dwt97::planeOver(out.data(), width, height), levels, 1);
  EXPECT_EQ(error, std::nullopt);
  return out;
}

// The 5/3's analysis of `pixels` (top row first), computed here.
std::vector<std::int32_t> analysis53(const Bytes& pixels, int width, int height, int levels) {
  std::vector<std::int32_t> out(pixels.size());
  const auto error = dwt97::dwtAnalyze53(dwt97::planeOver(pixels.data(), width, height),
                                         dwt97::planeOver(out.data(), width, height), levels, 1);
  EXPECT_EQ(error, std::nullopt);
  return out;
}

// An int32 file's samples, which must be all it holds.
std::vector<std::int32_t> loadNpyInts(const std::string& path, int width, int height) {
  dwt97::NpyArray array;
  EXPECT_EQ(dwt97::npyLoad(&array, path.c_str()), std::nullopt);
  EXPECT_EQ(array.type, dwt97::NpyType::int32);
  EXPECT_EQ(array.width, width);
  EXPECT_EQ(array.height, height);
  std::vector<std::int32_t> samples;
  if (array.ints != nullptr) samples.assign(array.ints, array.ints + std::size_t(width) * height);
  dwt97::npyRelease(&array);
  return samples;
}

std::vector<float> loadNpy(const std::string& path, int width, int height) {
  dwt97::NpyArray array;
  EXPECT_EQ(dwt97::npyLoad(&array, path.c_str()), std::nullopt);
  EXPECT_EQ(array.width, width);
  EXPECT_EQ(array.height, height);
  std::vector<float> samples;
  if (array.data != nullptr) samples.assign(array.data, array.data + std::size_t(width) * height);
  dwt97::npyRelease(&array);
  return samples;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

Bytes pgmOf(const Bytes& pixels, int width, int height) {
  const std::string header =
      "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  Bytes pgm(header.begin(), header.end());
  pgm.insert(pgm.end(), pixels.begin(), pixels.end());
  return pgm;
}

std::string arrayReport(int width, int height, int levels) {
  return "==== Array =====\nFormat = NPY \nWidth = " + std::to_string(width) +
         " \nHeight = " + std::to_string(height) + " \nLevels = " + std::to_string(levels) + " \n";
}

// Bitmaps bottom-up and top-down, odd and even, one row or column, a PGM.
struct Input {
  const char* name;
  testsupport::Picture picture;
  bool asPgm;
};

std::vector<Input> inputs() {
  testsupport::Picture topDown = picture(6, 9);
  topDown.topDown = true;
  testsupport::Picture pgm = picture(13, 4);
  pgm.topDown = true;
  return {{"bottom-up 9 x 7", picture(9, 7), false},     {"top-down 6 x 9", topDown, false},
          {"bottom-up 45 x 37", picture(45, 37), false}, {"one row", picture(17, 1), false},
          {"one column", picture(1, 12), false},         {"PGM 13 x 4", pgm, true}};
}

void writeInput(const TempDir& dir, const Input& input) {
  const testsupport::Picture& p = input.picture;
  writeFile(dir.file("in"), input.asPgm ? pgmOf(p.pixels, p.width, p.height) : build(p));
}

}  // namespace

// The .npy output is the analysis of the picture upright, on one level and
// on the most the picture allows, by name or by --format; --inverse gives
// the very picture back from it as PGM, raw bytes and float32 samples. The
// same for the 5/3's int32 coefficients, the samples back exactly.
TEST(Coefficients, ForwardAndInverseGiveThePictureBack) {
  for (const Input& input : inputs()) {
    const testsupport::Picture& p = input.picture;
    const Bytes pixels = upright(p);
    const int most = dwt97::dwtMostAnalysisLevels(p.width, p.height);
    for (const int levels : {1, 2, most}) {
      SCOPED_TRACE(std::string(input.name) + ", " + std::to_string(levels) + " levels");
      TempDir dir;
      writeInput(dir, input);
      const std::string count = "--levels=" + std::to_string(levels);
      RunResult r = run(dir, {"-q", count, "in", "c.npy"});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, "");
      const std::vector<float> expected = analysis(pixels, p.width, p.height, levels);
      EXPECT_TRUE(sameBits(loadNpy(dir.file("c.npy"), p.width, p.height), expected));
      ASSERT_EQ(run(dir, {"-q", count, "--format=npy", "in", "c.dat"}).status, 0);
      EXPECT_EQ(readFile(dir.file("c.dat")), readFile(dir.file("c.npy")));

      r = run(dir, {count, "--inverse", "c.npy", "back.pgm"});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, arrayReport(p.width, p.height, levels));
      EXPECT_EQ(readFile(dir.file("back.pgm")), pgmOf(pixels, p.width, p.height));
      ASSERT_EQ(run(dir, {"-q", count, "--inverse", "c.npy", "back.dat"}).status, 0);
      EXPECT_EQ(readFile(dir.file("back.dat")), pixels);
      ASSERT_EQ(run(dir, {"-q", count, "--inverse", "c.npy", "back.npy"}).status, 0);
      const std::vector<float> samples = loadNpy(dir.file("back.npy"), p.width, p.height);
      ASSERT_EQ(samples.size(), pixels.size());
      for (std::size_t k = 0; k < samples.size(); ++k) {
        EXPECT_NEAR(samples[k], pixels[k], 0.01) << "sample " << k;
      }

      // The 5/3: int32 coefficients, '<i4' as numpy.save writes them, the
      // inverse choosing the wavelet by the file's type.
      ASSERT_EQ(run(dir, {"-q", count, "--wavelet=5/3", "in", "i.npy"}).status, 0);
      const Bytes file = readFile(dir.file("i.npy"));
      EXPECT_EQ(std::string(file.begin() + 10, file.begin() + 25), "{'descr': '<i4'");
      EXPECT_EQ(loadNpyInts(dir.file("i.npy"), p.width, p.height),
                analysis53(pixels, p.width, p.height, levels));
      r = run(dir, {count, "--inverse", "i.npy", "back.pgm"});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, arrayReport(p.width, p.height, levels));
      EXPECT_EQ(readFile(dir.file("back.pgm")), pgmOf(pixels, p.width, p.height));
      ASSERT_EQ(
          run(dir, {"-q", count, "--wavelet", "5/3", "--inverse", "i.npy", "back.dat"}).status, 0);
      EXPECT_EQ(readFile(dir.file("back.dat")), pixels);
      ASSERT_EQ(run(dir, {"-q", count, "--inverse", "i.npy", "back.npy"}).status, 0);
      EXPECT_EQ(loadNpyInts(dir.file("back.npy"), p.width, p.height),
                std::vector<std::int32_t>(pixels.begin(), pixels.end()));
    }
  }
}

// The 5/3's synthesis clamps to the bytes: coefficients whose picture lies
// beyond 0 .. 255 give 0 and 255 there, not wrapped bytes.
TEST(Coefficients, ReversibleInverseClampsToBytes) {
  const std::vector<std::int32_t> coefficients = {-300, 256, 7, 1000, -1, 255};
  std::vector<std::int32_t> samples(coefficients.size());
  ASSERT_EQ(dwt97::dwtSynthesize53(dwt97::planeOver(coefficients.data(), 3, 2),
                                   dwt97::planeOver(samples.data(), 3, 2), 1, 1),
            std::nullopt);
  Bytes clamped;
  for (const std::int32_t v : samples) clamped.push_back(v < 0 ? 0 : v > 255 ? 255 : v);
  ASSERT_NE(Bytes(samples.begin(), samples.end()), clamped);  // some beyond the bytes
  TempDir dir;
  writeFile(dir.file("c.npy"), npyOfInts(coefficients, 3, 2));
  const RunResult r = run(dir, {"-q", "--inverse", "c.npy", "back.dat"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir.file("back.dat")), clamped);
}

// The bundled sample, three levels, through a PNG where the build writes
// one: the picture back, upright.
TEST(Coefficients, BundledSampleComesBack) {
  TempDir dir;
  writeFile(dir.file("quilgray.bmp"), readFile(DWT97_SAMPLE_BMP));
  RunResult r = run(dir, {"--levels=3", "quilgray.bmp", "bands.npy"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, reportFor(512, 512));
  const char* back = dwt97::canWritePng() ? "back.png" : "back.pgm";
  r = run(dir, {"-q", "--levels=3", "--inverse", "bands.npy", back});
  ASSERT_EQ(r.status, 0) << r.err;
  Bitmap original, returned;
  dwt97::PictureFormat format;
  ASSERT_EQ(dwt97::loadPicture(&original, &format, dir.file("quilgray.bmp").c_str()), std::nullopt);
  // A build that writes PNG reads it too (both are libspng's).
  ASSERT_EQ(dwt97::loadPicture(&returned, &format, dir.file(back).c_str()), std::nullopt);
  ASSERT_EQ(returned.width, 512);
  for (int r = 0; r < 512; ++r) {
    EXPECT_EQ(std::memcmp(returned.data + r * 512, original.data + (511 - r) * 512, 512), 0)
        << "row " << r;
  }
  bmpRelease(&returned);
  bmpRelease(&original);
}

// --view writes the rendered analysis, top row first, as PGM or raw bytes,
// after the picture's report; the 5/3's view that of its int coefficients.
TEST(Coefficients, ViewIsTheRenderedAnalysis) {
  for (const Input& input : inputs()) {
    SCOPED_TRACE(input.name);
    const testsupport::Picture& p = input.picture;
    const int levels = dwt97::dwtMostAnalysisLevels(p.width, p.height) > 1 ? 2 : 1;
    const std::vector<float> coefficients = analysis(upright(p), p.width, p.height, levels);
    Bytes view(coefficients.size());
    ASSERT_EQ(dwt97::dwtRenderView(dwt97::planeOver(coefficients.data(), p.width, p.height),
                                   dwt97::planeOver(view.data(), p.width, p.height), levels),
              std::nullopt);
    TempDir dir;
    writeInput(dir, input);
    const std::string count = "--levels=" + std::to_string(levels);
    RunResult r = run(dir, {count, "--view", "in", "view.pgm"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(0, 16), input.asPgm ? "==== Picture ===" : "==== Header ====");
    EXPECT_EQ(readFile(dir.file("view.pgm")), pgmOf(view, p.width, p.height));
    ASSERT_EQ(run(dir, {"-q", count, "--view", "in"}).status, 0);
    EXPECT_EQ(readFile(dir.file("quilout.dat")), view);
    // The 5/3's view: the rendering of its int coefficients.
    const std::vector<std::int32_t> ints = analysis53(upright(p), p.width, p.height, levels);
    ASSERT_EQ(dwt97::dwtRenderView(dwt97::planeOver(ints.data(), p.width, p.height),
                                   dwt97::planeOver(view.data(), p.width, p.height), levels),
              std::nullopt);
    ASSERT_EQ(run(dir, {"-q", count, "--wavelet=5/3", "--view", "in", "view53.pgm"}).status, 0);
    EXPECT_EQ(readFile(dir.file("view53.pgm")), pgmOf(view, p.width, p.height));
  }
}

// docs/view.png, the README's picture, is what the tool makes of the bundled
// sample with --view --levels=3.
TEST(Coefficients, ReadmeViewIsTheToolsOwn) {
  if (!dwt97::canReadPicture(dwt97::PictureFormat::png)) GTEST_SKIP() << "no PNG reader";
  TempDir dir;
  writeFile(dir.file("quilgray.bmp"), readFile(DWT97_SAMPLE_BMP));
  const RunResult r = run(dir, {"-q", "--view", "--levels=3", "quilgray.bmp", "view.pgm"});
  ASSERT_EQ(r.status, 0) << r.err;
  Bitmap committed;
  dwt97::PictureFormat format;
  ASSERT_EQ(dwt97::loadPicture(&committed, &format, DWT97_VIEW_PNG), std::nullopt)
      << "make it with: dwt97 --view --levels=3 build/sample/quilgray.bmp docs/view.png";
  EXPECT_EQ(pgmOf(Bytes(committed.data, committed.data + dwt97::pixelCount(&committed)),
                  committed.width, committed.height),
            readFile(dir.file("view.pgm")))
      << "remake it with: dwt97 --view --levels=3 build/sample/quilgray.bmp docs/view.png";
  bmpRelease(&committed);
}

#if !defined(_WIN32)
// At a terminal --inverse reports what it read, waits for one key, and
// only then writes the picture.
TEST(Coefficients, InversePausesAfterItsReport) {
  TempDir dir;
  const testsupport::Picture p = picture(6, 4);
  writeFile(dir.file("in.bmp"), build(p));
  ASSERT_EQ(run(dir, {"-q", "in.bmp", "c.npy"}).status, 0);
  ShellRun shell(dir.path(), atTerminal(), {"--inverse", "c.npy", "back.pgm"});
  ASSERT_TRUE(shell.started());
  ASSERT_TRUE(shell.waitForPause()) << shell.err();
  EXPECT_EQ(shell.out(), arrayReport(6, 4, 1));
  EXPECT_FALSE(exists(dir.file("back.pgm")));
  shell.type("x");
  const int status = shell.finish();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readFile(dir.file("back.pgm")), pgmOf(upright(p), 6, 4));
}
#endif
