// Pictures other than bitmaps: PGM, PNG and JPEG files made here byte by byte
// (or, for JPEG, by the JPEG library itself), read against the grey rules;
// broken files of each format; PNG output read back; and runs of the tool.
#include <gtest/gtest.h>

#include <algorithm>
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
#if DWT97_WITH_JPEG
#include <cstdio>

#include <jpeglib.h>
#endif

using dwt97::Failure;
using dwt97::PictureFormat;
using picturebuild::Bytes;
using namespace testsupport;
using namespace picturecases;

namespace {

// A 9 x 5 picture (every Adam7 pass has pixels; rows end mid-byte at every
// depth below 8) whose pixel k, counted row after row, holds pixels[k % n]
// and reads as greys[k % n].
constexpr std::uint32_t kW = 9, kH = 5;

Case pngCase(const std::string& name, std::uint8_t colorType, std::uint8_t depth,
             bool interlaced, const std::vector<std::vector<std::uint32_t>>& pixels,
             const Bytes& greys, const std::vector<std::uint8_t>& palette = {}) {
  picturebuild::Png png{kW, kH, colorType, depth, interlaced, {}, palette};
  Case c{name, {}, PictureFormat::png, std::nullopt, kW, kH, {}};
  for (std::uint32_t k = 0; k < kW * kH; ++k) {
    const auto& pixel = pixels[k % pixels.size()];
    png.samples.insert(png.samples.end(), pixel.begin(), pixel.end());
    c.grey.push_back(greys[k % greys.size()]);
  }
  c.file = picturebuild::pngFile(png);
  return c;
}

// A PNG of signature, IHDR with these fields and IEND, with correct CRCs.
Bytes pngHeaderOnly(std::uint32_t width, std::uint32_t height, std::uint8_t depth = 8,
                    std::uint8_t colorType = 0) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  picturebuild::putBe32(ihdr, width);
  picturebuild::putBe32(ihdr, height);
  ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, 0});
  picturebuild::putChunk(png, "IHDR", ihdr);
  picturebuild::putChunk(png, "IEND", {});
  return png;
}

// `png` with a chunk of `type` and `data` (its checksum right) inserted at
// byte `at`, a chunk boundary.
Bytes withChunk(const Bytes& png, std::size_t at, const char* type, const Bytes& data) {
  Bytes chunk;
  picturebuild::putChunk(chunk, type, data);
  Bytes out(png.size() + chunk.size());
  const auto split = static_cast<std::ptrdiff_t>(at);
  std::copy(png.begin(), png.begin() + split, out.begin());
  std::copy(chunk.begin(), chunk.end(), out.begin() + split);
  std::copy(png.begin() + split, png.end(),
            out.begin() + split + static_cast<std::ptrdiff_t>(chunk.size()));
  return out;
}

// Colour triples and what the luma rule makes of them:
// (19595 R + 38470 G + 7471 B + 32768) >> 16.
const std::vector<std::vector<std::uint32_t>> kColours = {
    {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {0, 0, 0}, {12, 200, 99}};
const Bytes kLumas = {76, 150, 29, 255, 0, 132};

std::vector<Case> pngCases() {
  std::vector<Case> cases;
  for (const bool interlaced : {false, true}) {
    const std::string i = interlaced ? " interlaced" : "";
    // Grey below 8 bits spreads over 0..255; 16 bits keep the high byte.
    cases.push_back(pngCase("grey 1" + i, 0, 1, interlaced, {{0}, {1}, {1}}, {0, 255, 255}));
    cases.push_back(pngCase("grey 2" + i, 0, 2, interlaced, {{0}, {1}, {2}, {3}}, {0, 85, 170, 255}));
    cases.push_back(pngCase("grey 4" + i, 0, 4, interlaced, {{0}, {5}, {9}, {15}}, {0, 85, 153, 255}));
    cases.push_back(pngCase("grey 8" + i, 0, 8, interlaced, {{0}, {17}, {200}, {255}, {1}},
                            {0, 17, 200, 255, 1}));
    cases.push_back(pngCase("grey 16" + i, 0, 16, interlaced,
                            {{0x0000}, {0x12FF}, {0xABCD}, {0xFFFF}}, {0x00, 0x12, 0xAB, 0xFF}));
    // Alpha is ignored.
    cases.push_back(pngCase("grey+alpha 8" + i, 4, 8, interlaced, {{10, 0}, {200, 255}, {7, 9}},
                            {10, 200, 7}));
    cases.push_back(pngCase("grey+alpha 16" + i, 4, 16, interlaced, {{0x80FF, 0}, {0x0102, 0xFFFF}},
                            {0x80, 0x01}));
    cases.push_back(pngCase("RGB 8" + i, 2, 8, interlaced, kColours, kLumas));
    // 16-bit colour: the high bytes go into the luma.
    cases.push_back(pngCase("RGB 16" + i, 2, 16, interlaced,
                            {{0xFF00, 0x00FF, 0x0080}, {0x00FF, 0xFFFF, 0x0000}, {0x0C34, 0xC812, 0x63FF}},
                            {76, 150, 132}));
    cases.push_back(pngCase("RGBA 8" + i, 6, 8, interlaced,
                            {{255, 0, 0, 0}, {0, 0, 255, 128}, {12, 200, 99, 255}}, {76, 29, 132}));
    cases.push_back(pngCase("RGBA 16" + i, 6, 16, interlaced,
                            {{0, 0xFFFF, 0, 0x1234}, {0xFFFF, 0xFFFF, 0xFFFF, 0}}, {150, 255}));
    // A palette gives its colours, then their luma.
    const std::vector<std::uint8_t> palette = {0, 0, 0, 255, 0, 0, 0, 255, 0, 12, 200, 99};
    for (const std::uint8_t depth : {1, 2, 4, 8}) {
      const bool two = depth == 1;
      cases.push_back(pngCase("palette " + std::to_string(depth) + i, 3, depth, interlaced,
                              two ? std::vector<std::vector<std::uint32_t>>{{1}, {0}, {1}}
                                  : std::vector<std::vector<std::uint32_t>>{{3}, {0}, {1}, {2}},
                              two ? Bytes{76, 0, 76} : Bytes{132, 0, 76, 150},
                              two ? std::vector<std::uint8_t>(palette.begin(), palette.begin() + 6)
                                  : palette));
    }
  }

  // Broken files: cut anywhere, a wrong checksum, impossible or too large
  // dimensions, a palette that lacks an index or is missing.
  const Bytes good = cases[3].file;  // grey 8, 8 + 25 + (12 + 2 + 50 + 5 + 4) + 12 bytes
  for (const std::size_t length : {std::size_t{8}, std::size_t{20}, std::size_t{33},
                                   std::size_t{50}, good.size() - 20, good.size() - 14,
                                   good.size() - 12}) {
    cases.push_back(refused("PNG cut to " + std::to_string(length), cut(good, length),
                            PictureFormat::png, Failure::pngTruncated));
  }
  Bytes badCrc = good;
  badCrc[29] ^= 1;  // IHDR's CRC
  cases.push_back(refused("PNG bad IHDR CRC", badCrc, PictureFormat::png, Failure::pngMalformed));
  Bytes badData = good;
  badData[60] ^= 0x40;  // a sample inside IDAT: its CRC no longer matches
  cases.push_back(refused("PNG bad IDAT CRC", badData, PictureFormat::png, Failure::pngMalformed));
  cases.push_back(refused("PNG width 0", pngHeaderOnly(0, 4), PictureFormat::png,
                          Failure::pngMalformed));
  cases.push_back(refused("PNG width 2^31", pngHeaderOnly(0x80000000u, 1), PictureFormat::png,
                          Failure::pngMalformed));
  cases.push_back(refused("PNG height 65536", pngHeaderOnly(1, 65536), PictureFormat::png,
                          Failure::pngTooLarge));
  cases.push_back(refused("PNG 2^31 pixels", pngHeaderOnly(32768, 65536 / 1), PictureFormat::png,
                          Failure::pngTooLarge));
  cases.push_back(refused("PNG 65535 x 32769", pngHeaderOnly(65535, 32769), PictureFormat::png,
                          Failure::pngTooLarge));
  cases.push_back(refused("PNG depth 3", pngHeaderOnly(4, 4, 3), PictureFormat::png,
                          Failure::pngMalformed));
  cases.push_back(refused(
      "PNG index beyond palette",
      picturebuild::pngFile({2, 1, 3, 2, false, {0, 2}, {0, 0, 0, 255, 255, 255}}),
      PictureFormat::png, Failure::pngMalformed));
  cases.push_back(refused("PNG palette missing", picturebuild::pngFile({2, 1, 3, 8, false, {0, 1}, {}}),
                          PictureFormat::png, Failure::pngMalformed));
  cases.push_back(refused("PNG without IDAT", pngHeaderOnly(4, 4), PictureFormat::png,
                          Failure::pngMalformed));
  // A picture this size could be had, but the file holds none of it.
  cases.push_back(refused("PNG 40000 x 40000, no data", cut(pngHeaderOnly(40000, 40000), 33),
                          PictureFormat::png, Failure::pngTruncated));

  // Ancillary chunks are skipped unread, whatever their size, number and
  // checksums; the critical ones and the end chunk must be whole.
  const Case& plain = cases[3];
  const std::size_t afterHeader = 33, beforeEnd = good.size() - 12;
  auto accepted = [&plain](const std::string& name, Bytes file) {
    Case c = plain;
    c.name = name;
    c.file = std::move(file);
    return c;
  };
  cases.push_back(accepted("PNG with a 70 MB zTXt chunk",
                           withChunk(good, afterHeader, "zTXt", Bytes(70u << 20, 7))));
  Bytes texts = good;
  for (int k = 0; k < 2000; ++k) texts = withChunk(texts, afterHeader, "tEXt", bytesOf("k\0v"));
  cases.push_back(accepted("PNG with 2000 tEXt chunks", texts));
  Bytes badAncillary = withChunk(good, afterHeader, "tIME", Bytes(7, 1));
  badAncillary[afterHeader + 8 + 7] ^= 0xFF;
  cases.push_back(accepted("PNG with a broken tIME checksum", badAncillary));
  cases.push_back(accepted("PNG with bytes after the end", withChunk(good, good.size(), "JUNK", {})));
  for (const std::size_t missing : {std::size_t{1}, std::size_t{3}}) {
    cases.push_back(refused("PNG cut " + std::to_string(missing) + " into the end checksum",
                            cut(good, good.size() - missing), PictureFormat::png,
                            Failure::pngTruncated));
  }
  Bytes badEnd = good;
  badEnd.back() ^= 1;
  cases.push_back(refused("PNG end chunk checksum", badEnd, PictureFormat::png,
                          Failure::pngMalformed));
  const Bytes trailing = withChunk(good, beforeEnd, "tEXt", Bytes(100, 'x'));
  cases.push_back(refused("PNG cut inside a chunk after the image", cut(trailing, beforeEnd + 50),
                          PictureFormat::png, Failure::pngTruncated));
  cases.push_back(refused("PNG unknown critical chunk", withChunk(good, afterHeader, "CRIT", {1}),
                          PictureFormat::png, Failure::pngMalformed));
  return cases;
}

std::vector<Case> pgmCases() {
  using picturebuild::pgmFile;
  const PictureFormat pgm = PictureFormat::pgm;
  std::vector<Case> cases = {
      // maxval 255: the samples themselves; comments anywhere in the header.
      {"P5 255 with comments", pgmFile("P5\n# made by hand\n3 #width\n2\n255\n", {0, 1, 127, 128, 254, 255}, false),
       pgm, std::nullopt, 3, 2, {0, 1, 127, 128, 254, 255}},
      // (v * 255 + maxval / 2) / maxval.
      {"P5 maxval 15", pgmFile("P5 4 1 15 ", {0, 1, 8, 15}, false), pgm, std::nullopt, 4, 1,
       {0, 17, 136, 255}},
      {"P5 maxval 1", pgmFile("P5 2 1 1\t", {1, 0}, false), pgm, std::nullopt, 2, 1, {255, 0}},
      {"P5 maxval 1000, two bytes", pgmFile("P5 5 1 1000\n", {0, 2, 500, 999, 1000}, false, true),
       pgm, std::nullopt, 5, 1, {0, 1, 128, 255, 255}},
      {"P5 maxval 65535", pgmFile("P5 5 1 65535\n", {128, 257, 32767, 32768, 65535}, false, true),
       pgm, std::nullopt, 5, 1, {0, 1, 127, 128, 255}},
      // One white-space character ends the maxval: after "\r" the "\n" is a sample.
      {"P5 CR LF after maxval", pgmFile("P5 2 1 255\r\n", {9}, false), pgm, std::nullopt, 2, 1,
       {10, 9}},
      // A comment right after the maxval ends with its line end, the separator.
      {"P5 comment after maxval", pgmFile("P5 2 1 255# note\n", {3, 4}, false), pgm, std::nullopt, 2,
       1, {3, 4}},
      // Only the first image of the file.
      {"P5 two images", pgmFile("P5 2 1 255\n", {5, 6, 'P', '5', ' ', '1'}, false), pgm,
       std::nullopt, 2, 1, {5, 6}},
      {"P2 maxval 2", pgmFile("P2\n3 1\n2\n", {0, 1, 2}, true), pgm, std::nullopt, 3, 1,
       {0, 128, 255}},
      {"P2 comments and line ends", bytesOf("P2 3 2 255#c\n1\n2 # two\n3\r\n40\t50   60\n"), pgm,
       std::nullopt, 3, 2, {1, 2, 3, 40, 50, 60}},
      // Broken files.
      refused("PGM magic alone", bytesOf("P5"), pgm, Failure::pgmTruncated),
      refused("PGM cut in header", bytesOf("P5 3 2"), pgm, Failure::pgmTruncated),
      refused("PGM cut after maxval", bytesOf("P5 3 2 255"), pgm, Failure::pgmTruncated),
      refused("PGM one sample short", pgmFile("P5 3 2 255\n", {1, 2, 3, 4, 5}, false), pgm,
              Failure::pgmTruncated),
      refused("PGM wide one byte short", pgmFile("P5 1 1 300\n", {1}, false), pgm,
              Failure::pgmTruncated),
      refused("PGM plain sample short", pgmFile("P2 3 2 255\n", {1, 2, 3, 4, 5}, true), pgm,
              Failure::pgmTruncated),
      refused("PGM maxval 0", pgmFile("P5 1 1 0\n", {0}, false), pgm, Failure::pgmMaxval),
      refused("PGM maxval 65536", pgmFile("P5 1 1 65536\n", {0, 0}, false, true), pgm,
              Failure::pgmMaxval),
      refused("PGM sample beyond maxval", pgmFile("P5 2 1 15\n", {15, 16}, false), pgm,
              Failure::pgmSample),
      refused("PGM wide sample beyond", pgmFile("P5 1 1 1000\n", {1001}, false, true), pgm,
              Failure::pgmSample),
      refused("PGM plain sample beyond", pgmFile("P2 1 1 255\n", {256}, true), pgm,
              Failure::pgmSample),
      refused("PGM junk in header", bytesOf("P5 3x 2 255\n123456"), pgm, Failure::pgmMalformed),
      refused("PGM junk in samples", bytesOf("P2 2 1 255\n1 x"), pgm, Failure::pgmMalformed),
      refused("PGM width 0", bytesOf("P5 0 1 255\n"), pgm, Failure::pgmMalformed),
      refused("PGM height 0", bytesOf("P2 1 0 255\n"), pgm, Failure::pgmMalformed),
      refused("PGM height 65536", bytesOf("P5 1 65536 255\n"), pgm, Failure::pgmTooLarge),
      refused("PGM width 2^31", bytesOf("P5 2147483648 1 255\n"), pgm, Failure::pgmTooLarge),
      refused("PGM 2^31 pixels", bytesOf("P5 65536 32768 255\n"), pgm, Failure::pgmTooLarge),
      refused("PGM width of 30 digits", bytesOf("P5 123456789012345678901234567890 1 255\n"), pgm,
              Failure::pgmTooLarge),
      // A size that could be had, claimed by a file holding none of it.
      refused("PGM 40000 x 40000, no data", bytesOf("P5 40000 40000 65535\n"), pgm,
              Failure::pgmTruncated),
  };
  return cases;
}

#if DWT97_WITH_JPEG
// What the JPEG library itself gives as grey for a valid file: the oracle.
Bytes jpegGrey(const Bytes& file) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), file.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&cinfo);
  Bytes grey(std::size_t{cinfo.output_width} * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = grey.data() + std::size_t{cinfo.output_scanline} * cinfo.output_width;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return grey;
}

// The offset of the first SOF0 marker's height field.
std::size_t sofHeightAt(const Bytes& file) {
  for (std::size_t k = 2; k + 1 < file.size(); ++k) {
    if (file[k] == 0xFF && file[k + 1] == 0xC0) return k + 5;
  }
  return 0;
}
#endif

std::vector<Case> jpegCases() {
  std::vector<Case> cases;
#if DWT97_WITH_JPEG
  const std::uint32_t w = 21, h = 13;
  Bytes greyPixels, colourPixels;
  for (std::uint32_t k = 0; k < w * h; ++k) {
    greyPixels.push_back(static_cast<std::uint8_t>(k * 7));
    colourPixels.insert(colourPixels.end(), {static_cast<std::uint8_t>(k * 3),
                                             static_cast<std::uint8_t>(255 - k),
                                             static_cast<std::uint8_t>(k * 11)});
  }
  const Bytes grey = picturebuild::jpegFile(w, h, 1, greyPixels);
  const Bytes colour = picturebuild::jpegFile(w, h, 3, colourPixels);
  const PictureFormat jpeg = PictureFormat::jpeg;
  cases.push_back({"JPEG grey", grey, jpeg, std::nullopt, w, h, jpegGrey(grey)});
  cases.push_back({"JPEG colour", colour, jpeg, std::nullopt, w, h, jpegGrey(colour)});
  for (const std::size_t length : {std::size_t{3}, std::size_t{40}, colour.size() / 2,
                                   colour.size() - 2}) {
    cases.push_back(refused("JPEG cut to " + std::to_string(length), cut(colour, length), jpeg,
                            Failure::jpegTruncated));
  }
  Bytes huge = grey;
  const std::size_t at = sofHeightAt(huge);
  huge[at] = huge[at + 2] = 0xFF;  // 65500 x 65500 would be 0xFFDC
  huge[at + 1] = huge[at + 3] = 0xDC;
  cases.push_back(refused("JPEG 65500 x 65500", huge, jpeg, Failure::jpegTooLarge));
  Bytes empty = grey;
  empty[at] = empty[at + 1] = 0;
  cases.push_back(refused("JPEG height 0", empty, jpeg, Failure::jpegMalformed));
  cases.push_back(refused("JPEG with no image", {0xFF, 0xD8, 0xFF, 0xD9}, jpeg,
                          Failure::jpegMalformed));
  Bytes twelveBits = grey;
  twelveBits[at - 1] = 12;
  cases.push_back(refused("JPEG 12-bit", twelveBits, jpeg, Failure::jpegUnsupported));
  // The decoder's limit is 65500 a side.
  Bytes wide = grey;
  wide[at] = 0;
  wide[at + 1] = 1;
  wide[at + 2] = 0xFF;
  wide[at + 3] = 0xDD;
  cases.push_back(refused("JPEG 65501 x 1", wide, jpeg, Failure::jpegTooLarge));
  const Bytes line(65500, 99);
  const Bytes widest = picturebuild::jpegFile(65500, 1, 1, line);
  cases.push_back({"JPEG 65500 x 1", widest, jpeg, std::nullopt, 65500, 1, jpegGrey(widest)});
  // A progressive file of up to 100 scans is read; one more is refused.
  Bytes small;
  for (int k = 0; k < 16 * 8; ++k) small.push_back(static_cast<std::uint8_t>(k * 29));
  const Bytes scans100 = picturebuild::jpegFile(16, 8, 1, small, false, 100);
  cases.push_back({"JPEG of 100 scans", scans100, jpeg, std::nullopt, 16, 8, jpegGrey(scans100)});
  cases.push_back(refused("JPEG of 101 scans", picturebuild::jpegFile(16, 8, 1, small, false, 101),
                          jpeg, Failure::jpegTooManyScans));
#endif
  return cases;
}

}  // namespace

// Every case through the library's parser and loader: the grey picture, or
// the failure with nothing left allocated.
TEST(Pictures, GreyValuesAndRefusals) {
  std::vector<Case> cases = pngCases();
  for (Case& c : pgmCases()) cases.push_back(std::move(c));
  for (Case& c : jpegCases()) cases.push_back(std::move(c));
  // Anything else is a bitmap to the bitmap parser, with its failures.
  cases.push_back(refused("unknown bytes", bytesOf("JUNK"), PictureFormat::bmp,
                          Failure::loadShortHeader));
  expectCases(cases);
}

namespace {

// A 9 x 5 grey PNG and its samples.
const Case& greyPng() {
  static const Case c = pngCase("grey", 0, 8, false, {{3}, {250}, {77}, {128}, {9}, {200}, {31}},
                                {3, 250, 77, 128, 9, 200, 31});
  return c;
}

std::string pictureReport(const char* format, int width, int height) {
  return std::string("==== Picture ===\nFormat = ") + format + " \nWidth = " +
         std::to_string(width) + " \nHeight = " + std::to_string(height) + " \n";
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

#if DWT97_WITH_JPEG
  const Case jpeg = jpegCases()[1];
  writeFile(dir.file("photo.jpg"), jpeg.file);
  r = run(dir, {"photo.jpg", "jpeg.dat"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, pictureReport("JPEG", 21, 13));
  EXPECT_EQ(readFile(dir.file("jpeg.dat")), transformed(21, 13, jpeg.grey));
  // The library's own warnings stay silent: the one line is ours.
  writeFile(dir.file("cut.jpg"), cut(jpeg.file, jpeg.file.size() / 2));
  r = run(dir, {"cut.jpg", "never.dat"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, messages::kJpegTruncated);
  EXPECT_FALSE(exists(dir.file("never.dat")));
#endif
}

#if DWT97_WITH_PNG
// A PNG written by the tool, read back by libspng: 8-bit grey, the raw
// output's rows upright (a bottom-up bitmap's reversed, a picture's as they
// are).
TEST(Pictures, PngOutputReadsBack) {
  TempDir dir;
  bmpbuild::Picture bottomUp = picture(7, 6);
  writeFile(dir.file("in.bmp"), bmpbuild::build(bottomUp));
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
