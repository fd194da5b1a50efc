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

using dwt97::Failure;
using dwt97::PictureFormat;
using testsupport::Bytes;
using namespace testsupport;

namespace {

// A 9 x 5 picture (every Adam7 pass has pixels; rows end mid-byte at every
// depth below 8) whose pixel k, counted row after row, holds pixels[k % n]
// and reads as greys[k % n].
constexpr std::uint32_t kW = 9, kH = 5;

Case pngCase(const std::string& name, std::uint8_t colorType, std::uint8_t depth, bool interlaced,
             const std::vector<std::vector<std::uint32_t>>& pixels, const Bytes& greys,
             const std::vector<std::uint8_t>& palette = {}) {
  testsupport::Png png{kW, kH, colorType, depth, interlaced, {}, palette};
  Case c{name, {}, PictureFormat::png, std::nullopt, kW, kH, {}};
  for (std::uint32_t k = 0; k < kW * kH; ++k) {
    const auto& pixel = pixels[k % pixels.size()];
    png.samples.insert(png.samples.end(), pixel.begin(), pixel.end());
    c.grey.push_back(greys[k % greys.size()]);
  }
  c.file = testsupport::pngFile(png);
  return c;
}

// A PNG of signature, IHDR with these fields and IEND, with correct CRCs.
Bytes pngHeaderOnly(std::uint32_t width, std::uint32_t height, std::uint8_t depth = 8,
                    std::uint8_t colorType = 0) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  testsupport::putBe32(ihdr, width);
  testsupport::putBe32(ihdr, height);
  ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, 0});
  testsupport::putChunk(png, "IHDR", ihdr);
  testsupport::putChunk(png, "IEND", {});
  return png;
}

// `png` with a chunk of `type` and `data` (its checksum right) inserted at
// byte `at`, a chunk boundary.
Bytes withChunk(const Bytes& png, std::size_t at, const char* type, const Bytes& data) {
  Bytes chunk;
  testsupport::putChunk(chunk, type, data);
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
    cases.push_back(
        pngCase("grey 2" + i, 0, 2, interlaced, {{0}, {1}, {2}, {3}}, {0, 85, 170, 255}));
    cases.push_back(
        pngCase("grey 4" + i, 0, 4, interlaced, {{0}, {5}, {9}, {15}}, {0, 85, 153, 255}));
    cases.push_back(pngCase("grey 8" + i, 0, 8, interlaced, {{0}, {17}, {200}, {255}, {1}},
                            {0, 17, 200, 255, 1}));
    cases.push_back(pngCase("grey 16" + i, 0, 16, interlaced,
                            {{0x0000}, {0x12FF}, {0xABCD}, {0xFFFF}}, {0x00, 0x12, 0xAB, 0xFF}));
    // Alpha is ignored.
    cases.push_back(
        pngCase("grey+alpha 8" + i, 4, 8, interlaced, {{10, 0}, {200, 255}, {7, 9}}, {10, 200, 7}));
    cases.push_back(pngCase("grey+alpha 16" + i, 4, 16, interlaced, {{0x80FF, 0}, {0x0102, 0xFFFF}},
                            {0x80, 0x01}));
    cases.push_back(pngCase("RGB 8" + i, 2, 8, interlaced, kColours, kLumas));
    // 16-bit colour: the high bytes go into the luma.
    cases.push_back(
        pngCase("RGB 16" + i, 2, 16, interlaced,
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
      cases.push_back(
          pngCase("palette " + std::to_string(depth) + i, 3, depth, interlaced,
                  two ? std::vector<std::vector<std::uint32_t>>{{1}, {0}, {1}}
                      : std::vector<std::vector<std::uint32_t>>{{3}, {0}, {1}, {2}},
                  two ? Bytes{76, 0, 76} : Bytes{132, 0, 76, 150},
                  two ? std::vector<std::uint8_t>(palette.begin(), palette.begin() + 6) : palette));
    }
  }

  // Broken files: cut anywhere, a wrong checksum, impossible or too large
  // dimensions, a palette that lacks an index or is missing.
  const Bytes good = cases[3].file;  // grey 8, 8 + 25 + (12 + 2 + 50 + 5 + 4) + 12 bytes
  for (const std::size_t length :
       {std::size_t{8}, std::size_t{20}, std::size_t{33}, std::size_t{50}, good.size() - 20,
        good.size() - 14, good.size() - 12}) {
    cases.push_back(refused("PNG cut to " + std::to_string(length), cut(good, length),
                            PictureFormat::png, Failure::pngTruncated));
  }
  Bytes badCrc = good;
  badCrc[29] ^= 1;  // IHDR's CRC
  cases.push_back(refused("PNG bad IHDR CRC", badCrc, PictureFormat::png, Failure::pngMalformed));
  Bytes badData = good;
  badData[60] ^= 0x40;  // a sample inside IDAT: its CRC no longer matches
  cases.push_back(refused("PNG bad IDAT CRC", badData, PictureFormat::png, Failure::pngMalformed));
  cases.push_back(
      refused("PNG width 0", pngHeaderOnly(0, 4), PictureFormat::png, Failure::pngMalformed));
  cases.push_back(refused("PNG width 2^31", pngHeaderOnly(0x80000000u, 1), PictureFormat::png,
                          Failure::pngMalformed));
  cases.push_back(refused("PNG height 65536", pngHeaderOnly(1, 65536), PictureFormat::png,
                          Failure::pngTooLarge));
  cases.push_back(refused("PNG 2^31 pixels", pngHeaderOnly(32768, 65536 / 1), PictureFormat::png,
                          Failure::pngTooLarge));
  cases.push_back(refused("PNG 65535 x 32769", pngHeaderOnly(65535, 32769), PictureFormat::png,
                          Failure::pngTooLarge));
  cases.push_back(
      refused("PNG depth 3", pngHeaderOnly(4, 4, 3), PictureFormat::png, Failure::pngMalformed));
  cases.push_back(
      refused("PNG index beyond palette",
              testsupport::pngFile({2, 1, 3, 2, false, {0, 2}, {0, 0, 0, 255, 255, 255}}),
              PictureFormat::png, Failure::pngMalformed));
  cases.push_back(refused("PNG palette missing",
                          testsupport::pngFile({2, 1, 3, 8, false, {0, 1}, {}}), PictureFormat::png,
                          Failure::pngMalformed));
  cases.push_back(
      refused("PNG without IDAT", pngHeaderOnly(4, 4), PictureFormat::png, Failure::pngMalformed));
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
  cases.push_back(
      accepted("PNG with bytes after the end", withChunk(good, good.size(), "JUNK", {})));
  for (const std::size_t missing : {std::size_t{1}, std::size_t{3}}) {
    cases.push_back(refused("PNG cut " + std::to_string(missing) + " into the end checksum",
                            cut(good, good.size() - missing), PictureFormat::png,
                            Failure::pngTruncated));
  }
  Bytes badEnd = good;
  badEnd.back() ^= 1;
  cases.push_back(
      refused("PNG end chunk checksum", badEnd, PictureFormat::png, Failure::pngMalformed));
  const Bytes trailing = withChunk(good, beforeEnd, "tEXt", Bytes(100, 'x'));
  cases.push_back(refused("PNG cut inside a chunk after the image", cut(trailing, beforeEnd + 50),
                          PictureFormat::png, Failure::pngTruncated));
  cases.push_back(refused("PNG unknown critical chunk", withChunk(good, afterHeader, "CRIT", {1}),
                          PictureFormat::png, Failure::pngMalformed));
  return cases;
}

std::vector<Case> pgmCases() {
  using testsupport::pgmFile;
  const PictureFormat pgm = PictureFormat::pgm;
  std::vector<Case> cases = {
      // maxval 255: the samples themselves; comments anywhere in the header.
      {"P5 255 with comments",
       pgmFile("P5\n# made by hand\n3 #width\n2\n255\n", {0, 1, 127, 128, 254, 255}, false),
       pgm,
       std::nullopt,
       3,
       2,
       {0, 1, 127, 128, 254, 255}},
      // (v * 255 + maxval / 2) / maxval.
      {"P5 maxval 15",
       pgmFile("P5 4 1 15 ", {0, 1, 8, 15}, false),
       pgm,
       std::nullopt,
       4,
       1,
       {0, 17, 136, 255}},
      {"P5 maxval 1", pgmFile("P5 2 1 1\t", {1, 0}, false), pgm, std::nullopt, 2, 1, {255, 0}},
      {"P5 maxval 1000, two bytes",
       pgmFile("P5 5 1 1000\n", {0, 2, 500, 999, 1000}, false, true),
       pgm,
       std::nullopt,
       5,
       1,
       {0, 1, 128, 255, 255}},
      {"P5 maxval 65535",
       pgmFile("P5 5 1 65535\n", {128, 257, 32767, 32768, 65535}, false, true),
       pgm,
       std::nullopt,
       5,
       1,
       {0, 1, 127, 128, 255}},
      // One white-space character ends the maxval: after "\r" the "\n" is a sample.
      {"P5 CR LF after maxval",
       pgmFile("P5 2 1 255\r\n", {9}, false),
       pgm,
       std::nullopt,
       2,
       1,
       {10, 9}},
      // A comment right after the maxval ends with its line end, the separator.
      {"P5 comment after maxval",
       pgmFile("P5 2 1 255# note\n", {3, 4}, false),
       pgm,
       std::nullopt,
       2,
       1,
       {3, 4}},
      // Only the first image of the file.
      {"P5 two images",
       pgmFile("P5 2 1 255\n", {5, 6, 'P', '5', ' ', '1'}, false),
       pgm,
       std::nullopt,
       2,
       1,
       {5, 6}},
      {"P2 maxval 2",
       pgmFile("P2\n3 1\n2\n", {0, 1, 2}, true),
       pgm,
       std::nullopt,
       3,
       1,
       {0, 128, 255}},
      {"P2 comments and line ends",
       bytesOf("P2 3 2 255#c\n1\n2 # two\n3\r\n40\t50   60\n"),
       pgm,
       std::nullopt,
       3,
       2,
       {1, 2, 3, 40, 50, 60}},
      // A comment ends at a lone CR too.
      {"P2 comment ended by a CR",
       bytesOf("P2 2 1 #note\r255\n1 2"),
       pgm,
       std::nullopt,
       2,
       1,
       {1, 2}},
      // Above 255, two bytes a sample.
      {"P5 maxval 256, two bytes",
       pgmFile("P5 2 1 256\n", {256, 128}, false, true),
       pgm,
       std::nullopt,
       2,
       1,
       {255, 128}},
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
      // Failures after rows are done: in the last row, of each raster kind.
      refused("PGM junk in the last row", bytesOf("P2 2 3 255\n1 2 3 4 5 x"), pgm,
              Failure::pgmMalformed),
      refused("PGM sample beyond maxval in the last row",
              pgmFile("P5 2 3 15\n", {1, 2, 3, 4, 5, 16}, false), pgm, Failure::pgmSample),
      refused("PGM width 0", bytesOf("P5 0 1 255\n"), pgm, Failure::pgmMalformed),
      refused("PGM height 0", bytesOf("P2 1 0 255\n"), pgm, Failure::pgmMalformed),
      refused("PGM height 65536", bytesOf("P5 1 65536 255\n"), pgm, Failure::pgmTooLarge),
      refused("PGM width 2^31", bytesOf("P5 2147483648 1 255\n"), pgm, Failure::pgmTooLarge),
      refused("PGM 2^31 pixels", bytesOf("P5 65536 32768 255\n"), pgm, Failure::pgmTooLarge),
      refused("PGM width of 30 digits", bytesOf("P5 123456789012345678901234567890 1 255\n"), pgm,
              Failure::pgmTooLarge),
      // 2^64 + 1: it must not wrap around to 1.
      refused("PGM width 2^64 + 1", bytesOf("P5 18446744073709551617 1 255\n1"), pgm,
              Failure::pgmTooLarge),
      // Just inside the limits: a size that could be had, but no data.
      refused("PGM 2^31 - 1 pixels, no data", bytesOf("P5 2147483647 1 255\n"), pgm,
              Failure::pgmTruncated),
      // A size that could be had, claimed by a file holding none of it.
      refused("PGM 40000 x 40000, no data", bytesOf("P5 40000 40000 65535\n"), pgm,
              Failure::pgmTruncated),
  };
  // The tallest picture there is.
  Case tallest{"P5 1 x 65535", {}, pgm, std::nullopt, 1, 65535, {}};
  for (std::uint32_t k = 0; k < 65535; ++k)
    tallest.grey.push_back(static_cast<std::uint8_t>(k * 7));
  tallest.file = bytesOf("P5 1 65535 255\n");
  tallest.file.insert(tallest.file.end(), tallest.grey.begin(), tallest.grey.end());
  cases.push_back(tallest);
  return cases;
}

}  // namespace

// Every case through the library's parser and loader: the grey picture, or
// the failure with nothing left allocated.
TEST(Pictures, GreyValuesAndRefusals) {
  std::vector<Case> cases = pngCases();
  for (Case& c : pgmCases()) cases.push_back(std::move(c));
  // Anything else is a bitmap to the bitmap parser, with its failures.
  cases.push_back(
      refused("unknown bytes", bytesOf("JUNK"), PictureFormat::bmp, Failure::loadShortHeader));
  expectCases(cases);
}

// The library's PNG saves, of a flat buffer and of row pointers: the rows
// shown upright, a bottom-up record's reversed, read back by the reader.
TEST(Pictures, PngSavesOfFlatAndRowBuffers) {
  if (!dwt97::canWritePng()) {
    Bitmap bmp{};
    const std::uint8_t flat[1] = {0};
    EXPECT_EQ(dwt97::bmpSavePng(&bmp, "never.png", flat), Failure::pngWriteNotBuilt);
    return;
  }
  TempDir dir;
  const testsupport::Picture p = picture(5, 4);
  writeFile(dir.file("in.bmp"), testsupport::build(p));
  Bitmap bmp;
  ASSERT_EQ(dwt97::bmpLoad(&bmp, dir.file("in.bmp").c_str()), std::nullopt);
  std::vector<const std::uint8_t*> rows;
  for (int r = 0; r < 4; ++r) rows.push_back(bmp.data + 5 * r);
  ASSERT_EQ(dwt97::bmpSavePng(&bmp, dir.file("flat.png").c_str(), bmp.data), std::nullopt);
  ASSERT_EQ(dwt97::bmpSavePngPlane(&bmp, dir.file("rows.png").c_str(), rows.data()), std::nullopt);
  Bytes upright;
  for (int r = 3; r >= 0; --r) upright.insert(upright.end(), rows[r], rows[r] + 5);
  for (const char* name : {"flat.png", "rows.png"}) {
    SCOPED_TRACE(name);
    Bitmap back;
    PictureFormat format;
    ASSERT_EQ(dwt97::loadPicture(&back, &format, dir.file(name).c_str()), std::nullopt);
    EXPECT_EQ(Bytes(back.data, back.data + 20), upright);
    bmpRelease(&back);
  }
  bmpRelease(&bmp);
}
