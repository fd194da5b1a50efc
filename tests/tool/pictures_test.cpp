// The tool on pictures other than bitmaps, recognised whatever their names:
// the report, the raw output top row first, PGM and PNG outputs upright, -q,
// and broken or unread files refused with one line and nothing written.
// What the grey of a picture is, the library's own tests settle; here the
// tool must transform exactly what the library reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dwt97/picture.h"
#include "messages.h"
#include "picture_builder.h"
#include "picture_cases.h"
#include "test_support.h"

#if DWT97_WITH_PNG
#include <spng.h>
#endif

using dwt97::Failure;
using dwt97::PictureFormat;
using namespace testsupport;

namespace {

constexpr std::uint32_t kW = 9, kH = 5;

// A 9 x 5 grey PNG and its samples.
const Case& greyPng() {
  static const Case c = [] {
    Case made{"grey", {}, PictureFormat::png, std::nullopt, kW, kH, {}};
    Png png{kW, kH, 0, 8, false, {}, {}};
    const Bytes greys = {3, 250, 77, 128, 9, 200, 31};
    for (std::uint32_t k = 0; k < kW * kH; ++k) {
      png.samples.push_back(greys[k % greys.size()]);
      made.grey.push_back(greys[k % greys.size()]);
    }
    made.file = pngFile(png);
    return made;
  }();
  return c;
}

// The grey picture the library reads from `file`: what the tool transforms.
Bytes greyOf(const Bytes& file) {
  Bitmap bmp;
  PictureFormat format;
  if (dwt97::parsePicture(&bmp, &format, file.data(), file.size())) return {};
  Bytes grey(bmp.data, bmp.data + std::size_t{bmp.height} * static_cast<std::size_t>(bmp.width));
  bmpRelease(&bmp);
  return grey;
}

std::string pictureReport(const char* format, int width, int height) {
  return std::string("==== Picture ===\nFormat = ") + format +
         " \nWidth = " + std::to_string(width) + " \nHeight = " + std::to_string(height) + " \n";
}

RunResult run(const TempDir& dir, std::vector<std::string> arguments) {
  RunOptions options;
  options.arguments = std::move(arguments);
  options.arguments.insert(options.arguments.begin(), "--no-pause");
  return runTool(dir.path(), options);
}

}  // namespace

// The tool on pictures, recognised whatever their names: the report, the raw
// output top row first, the PGM output upright (the same rows), and a broken
// file refused with nothing written.
TEST(Pictures, ToolRuns) {
  TempDir dir;
  const Case& png = greyPng();
  writeFile(dir.file("in.bmp"), png.file);
  const Bytes expected = transformed(kW, kH, png.grey);
  if (dwt97::canReadPicture(PictureFormat::png)) {
    RunResult r = run(dir, {"in.bmp", "out.dat"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, pictureReport("PNG", kW, kH));
    EXPECT_EQ(readFile(dir.file("out.dat")), expected);
    r = run(dir, {"in.bmp", "out.pgm"});
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes pgm = bytesOf("P5\n9 5\n255\n");
    pgm.insert(pgm.end(), expected.begin(), expected.end());
    EXPECT_EQ(readFile(dir.file("out.pgm")), pgm);
  } else {
    const RunResult r = run(dir, {"in.bmp", "out.dat"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, messages::kPngNotBuilt);
  }

  // The same picture as a plain PGM with no name to go by.
  Bytes pgmFile = bytesOf("P2 9 5 255\n");
  for (std::uint8_t v : png.grey) {
    const std::string text = std::to_string(v) + "\n";
    pgmFile.insert(pgmFile.end(), text.begin(), text.end());
  }
  writeFile(dir.file("picture"), pgmFile);
  RunResult r = run(dir, {"picture", "pgm.dat"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, pictureReport("PGM", kW, kH));
  EXPECT_EQ(readFile(dir.file("pgm.dat")), expected);
  // -q drops a picture's report as it does a bitmap's.
  r = run(dir, {"-q", "picture", "quiet.dat"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(dir.file("quiet.dat")), expected);
  // A name ending in .png is a PNG picture of the same rows.
  if (dwt97::canWritePng()) {
    r = run(dir, {"-q", "picture", "named.PNG"});
    EXPECT_EQ(r.status, 0) << r.err;
    Bitmap back;
    PictureFormat format;
    ASSERT_EQ(dwt97::loadPicture(&back, &format, dir.file("named.PNG").c_str()), std::nullopt);
    EXPECT_EQ(format, PictureFormat::png);
    EXPECT_EQ(Bytes(back.data, back.data + expected.size()), expected);
    bmpRelease(&back);
  }

  // Refused: one line, nothing on standard output, no output file.
  writeFile(dir.file("broken.png"), cut(png.file, 40));
  r = run(dir, {"broken.png", "never.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, dwt97::canReadPicture(PictureFormat::png) ? messages::kPngTruncated
                                                             : messages::kPngNotBuilt);
  writeFile(dir.file("broken.pgm"), bytesOf("P5 2 2 255\n\x01"));
  r = run(dir, {"broken.pgm", "never.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, messages::kPgmTruncated);
  EXPECT_FALSE(exists(dir.file("never.dat")));
}

// The tool on a PPM and a TIFF: the report names the format and the bytes
// are those of the grey picture; an unread format is named, with nothing
// written.
TEST(Pictures, ToolReadsMoreFormats) {
  TempDir dir;
  const Bytes ppm =
      pgmFile("P6 5 1 255\n", {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0}, false);
  writeFile(dir.file("colour.ppm"), ppm);
  RunResult r = run(dir, {"colour.ppm", "ppm.dat"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, pictureReport("PPM", 5, 1));
  EXPECT_EQ(readFile(dir.file("ppm.dat")), transformed(5, 1, {76, 150, 29, 255, 0}));

  Tiff tiles;
  tiles.width = 21;
  tiles.height = 13;
  tiles.bits = 16;
  tiles.samplesPerPixel = 3;
  tiles.photometric = 2;
  tiles.tile = 16;
  for (std::uint32_t k = 0; k < 21 * 13 * 3; ++k) tiles.samples.push_back(k * 997 % 65536);
  const Bytes tiff = tiffFile(tiles);
  writeFile(dir.file("in.tif"), tiff);
  r = run(dir, {"in.tif", "tiff.dat"});
  if (dwt97::canReadPicture(PictureFormat::tiff)) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, pictureReport("TIFF", 21, 13));
    EXPECT_EQ(readFile(dir.file("tiff.dat")), transformed(21, 13, greyOf(tiff)));
  } else {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, messages::kTiffNotBuilt);
  }

  writeFile(dir.file("anim.gif"), bytesOf("GIF89a\x10\0\x10\0"));
  writeFile(dir.file("out.dat"), {1, 2, 3});
  r = run(dir, {"anim.gif", "out.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, messages::kGifNotSupported);
  EXPECT_EQ(readFile(dir.file("out.dat")), (Bytes{1, 2, 3}));
  std::vector<std::string> written{"anim.gif", "colour.ppm", "in.tif", "out.dat", "ppm.dat"};
  if (dwt97::canReadPicture(PictureFormat::tiff)) written.push_back("tiff.dat");
  EXPECT_EQ(listDir(dir.path()), written) << "nothing else written";
}

// The tool on a JPEG: its report, the transform of the decoder's grey; a
// cut file refused with our one line, the library's own warnings silent.
TEST(Pictures, ToolReadsJpeg) {
#if DWT97_WITH_JPEG
  TempDir dir;
  Bytes colours;
  for (std::uint32_t k = 0; k < 21 * 13; ++k) {
    colours.insert(colours.end(),
                   {static_cast<std::uint8_t>(k * 3), static_cast<std::uint8_t>(255 - k),
                    static_cast<std::uint8_t>(k * 11)});
  }
  const Case jpeg{"colour", jpegFile(21, 13, 3, colours), PictureFormat::jpeg, std::nullopt, 21, 13,
                  {}};
  writeFile(dir.file("photo.jpg"), jpeg.file);
  RunOptions options;
  options.arguments = {"--no-pause", "photo.jpg", "jpeg.dat"};
  RunResult r = runTool(dir.path(), options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "==== Picture ===\nFormat = JPEG \nWidth = 21 \nHeight = 13 \n");
  EXPECT_EQ(readFile(dir.file("jpeg.dat")), transformed(21, 13, greyOf(jpeg.file)));
  writeFile(dir.file("cut.jpg"), cut(jpeg.file, jpeg.file.size() / 2));
  options.arguments = {"--no-pause", "cut.jpg", "never.dat"};
  r = runTool(dir.path(), options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, messages::kJpegTruncated);
  EXPECT_FALSE(exists(dir.file("never.dat")));
#else
  GTEST_SKIP() << "this build reads no JPEG files";
#endif
}

#if DWT97_WITH_PNG
// A PNG written by the tool, read back by libspng: 8-bit grey, the raw
// output's rows upright (a bottom-up bitmap's reversed, a picture's as they
// are).
TEST(Pictures, PngOutputReadsBack) {
  TempDir dir;
  testsupport::Picture bottomUp = picture(7, 6);
  writeFile(dir.file("in.bmp"), testsupport::build(bottomUp));
  Bytes pgm = bytesOf("P5 7 6 255\n");
  pgm.insert(pgm.end(), bottomUp.pixels.begin(), bottomUp.pixels.end());
  writeFile(dir.file("in.pgm"), pgm);
  for (const bool topDown : {false, true}) {
    SCOPED_TRACE(topDown ? "PGM input" : "bitmap input");
    const std::string input = topDown ? "in.pgm" : "in.bmp";
    ASSERT_EQ(run(dir, {input, "raw.dat"}).status, 0);
    ASSERT_EQ(run(dir, {"--format=png", input, "out.dat"}).status, 0);
    const Bytes raw = readFile(dir.file("raw.dat"));
    const Bytes file = readFile(dir.file("out.dat"));
    spng_ctx* ctx = spng_ctx_new(0);
    ASSERT_EQ(spng_set_png_buffer(ctx, file.data(), file.size()), 0);
    spng_ihdr ihdr;
    ASSERT_EQ(spng_get_ihdr(ctx, &ihdr), 0);
    EXPECT_EQ(ihdr.width, 7u);
    EXPECT_EQ(ihdr.height, 6u);
    EXPECT_EQ(ihdr.bit_depth, 8);
    EXPECT_EQ(ihdr.color_type, SPNG_COLOR_TYPE_GRAYSCALE);
    Bytes decoded(7 * 6);
    ASSERT_EQ(spng_decode_image(ctx, decoded.data(), decoded.size(), SPNG_FMT_PNG, 0), 0);
    spng_ctx_free(ctx);
    for (int row = 0; row < 6; ++row) {
      const int from = topDown ? row : 5 - row;
      EXPECT_EQ(Bytes(decoded.begin() + row * 7, decoded.begin() + row * 7 + 7),
                Bytes(raw.begin() + from * 7, raw.begin() + from * 7 + 7))
          << "row " << row;
    }
  }
}
#endif

// The transform follows the reader, so every format, from a file or from
// standard input, on any number of threads, must still give the bytes of the
// picture transformed whole. 70 rows make spans on up to four threads.
TEST(Pictures, EveryFormatSameBytesOnEveryThreadCount) {
  constexpr std::uint32_t w = 37, h = 70;
  Bytes grey;
  for (std::uint32_t k = 0; k < w * h; ++k) grey.push_back(std::uint8_t(k * 7 % 251 + k / w));
  const std::vector<std::uint32_t> samples(grey.begin(), grey.end());
  std::vector<std::pair<std::string, Bytes>> files = {
      {"bitmap", testsupport::build(picture(w, h))},
      {"binary PGM", pgmFile("P5 37 70 255\n", samples, false)},
      {"plain PGM", pgmFile("P2 37 70 255\n", samples, true)}};
  if (dwt97::canReadPicture(PictureFormat::png)) {
    files.push_back({"PNG", pngFile(Png{w, h, 0, 8, false, samples, {}})});
    files.push_back({"interlaced PNG", pngFile(Png{w, h, 0, 8, true, samples, {}})});
  }
#if DWT97_WITH_JPEG
  files.push_back({"JPEG", jpegFile(w, h, 1, grey)});
  files.push_back({"progressive JPEG", jpegFile(w, h, 1, grey, true)});
#endif
  if (dwt97::canReadPicture(PictureFormat::tiff)) {
    Tiff strips;
    strips.width = w;
    strips.height = h;
    strips.rowsPerStrip = 3;
    strips.samples = samples;
    files.push_back({"TIFF", tiffFile(strips)});
  }
  TempDir dir;
  for (const auto& [name, file] : files) {
    writeFile(dir.file("in"), file);
    const Bytes expected = transformed(w, h, greyOf(file));
    for (const char* threads : {"--threads=1", "--threads=2", "--threads=4", "--threads=0"}) {
      for (const bool piped : {false, true}) {
        RunOptions options;
        options.arguments = {"--no-pause", "-q", threads, piped ? "-" : "in", "out.dat"};
        if (piped) options.input = dir.file("in");
        const RunResult r = runTool(dir.path(), options);
        EXPECT_EQ(r.status, 0) << name << " " << threads << ": " << r.err;
        EXPECT_EQ(readFile(dir.file("out.dat")), expected)
            << name << " " << threads << (piped ? " from standard input" : "");
      }
    }
  }
}

// A reader failing part-way, at every row of the picture, while the
// transform on two threads follows it: the reader's one line, and nothing
// left behind (no output, no temporary).
TEST(Pictures, ReaderFailingAtEveryRowLeavesNothing) {
  constexpr std::uint32_t w = 24, h = 40;
  std::vector<std::uint32_t> samples;
  for (std::uint32_t k = 0; k < w * h; ++k) samples.push_back(k * 13 % 256);
  const Bytes png = pngFile(Png{w, h, 0, 8, false, samples, {}});
  // The scanlines start after the signature, IHDR, IDAT's header, the zlib
  // header and the stored block's header.
  const std::size_t firstScanline = 8 + 25 + 8 + 2 + 5;
  TempDir dir;
  for (std::uint32_t row = 0; row < h; ++row) {
    // A plain PGM whose row `row` holds a word, and a PNG cut inside the row.
    const std::string header = "P2 24 40 255\n";
    Bytes pgm = pgmFile(header, samples, true);
    std::size_t at = header.size();
    for (std::uint32_t blanks = 0; blanks < row * w + 7; ++at) blanks += pgm[at] == ' ';
    pgm[at] = 'x';
    std::vector<std::pair<Bytes, const char*>> broken = {{pgm, messages::kPgmMalformed}};
    if (dwt97::canReadPicture(PictureFormat::png)) {
      broken.push_back({cut(png, firstScanline + row * (w + 1) + 5), messages::kPngTruncated});
    }
    for (const auto& [file, message] : broken) {
      writeFile(dir.file("in"), file);
      RunOptions options;
      options.arguments = {"--no-pause", "--threads=2", "in", "out.dat"};
      const RunResult r = runTool(dir.path(), options);
      EXPECT_EQ(r.status, 1) << "row " << row;
      EXPECT_EQ(r.err, message) << "row " << row;
      EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"in"}) << "row " << row;
    }
  }
}
