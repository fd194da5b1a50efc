// The picture formats beside PGM, PNG and JPEG: PPM, TIFF in its layouts
// (made byte by byte, and compressed by the TIFF library itself), and the
// formats that are known by their signatures but not read; then the tool on
// them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dwt97/picture.h"
#include "messages.h"
#include "picture_builder.h"
#include "picture_cases.h"
#include "test_support.h"

#if DWT97_WITH_TIFF
#include <tiffio.h>
#endif

using namespace testsupport;

namespace {

std::vector<Case> ppmCases() {
  using testsupport::pgmFile;
  const PictureFormat ppm = PictureFormat::ppm;
  // Red, green, blue, white, black: each channel scaled as a PGM sample,
  // then (19595 R + 38470 G + 7471 B + 32768) >> 16.
  const std::vector<std::uint32_t> colours = {255, 0,   0,   0,   255, 0, 0, 0,
                                              255, 255, 255, 255, 0,   0, 0};
  const Bytes lumas = {76, 150, 29, 255, 0};
  return {
      {"P6 255", pgmFile("P6 5 1 255\n", colours, false), ppm, std::nullopt, 5, 1, lumas},
      {"P3 255 with comments", pgmFile("P3 # colour\n5 1 255\n", colours, true), ppm, std::nullopt,
       5, 1, lumas},
      // maxval 15: 15 becomes 255 and 8 becomes 136 before the luma.
      {"P6 maxval 15",
       pgmFile("P6 2 1 15\n", {15, 15, 15, 8, 0, 8}, false),
       ppm,
       std::nullopt,
       2,
       1,
       {255, 56}},
      {"P6 maxval 1000, two bytes",
       pgmFile("P6 1 1 1000\n", {1000, 500, 0}, false, true),
       ppm,
       std::nullopt,
       1,
       1,
       {(19595 * 255 + 38470 * 128 + 32768) >> 16}},
      refused("PPM one sample short", pgmFile("P6 2 1 255\n", {1, 2, 3, 4, 5}, false), ppm,
              Failure::ppmTruncated),
      refused("PPM plain sample short", pgmFile("P3 1 1 255\n", {1, 2}, true), ppm,
              Failure::ppmTruncated),
      refused("PPM sample beyond maxval", pgmFile("P6 1 1 15\n", {1, 16, 1}, false), ppm,
              Failure::ppmSample),
      refused("PPM maxval 0", pgmFile("P6 1 1 0\n", {0, 0, 0}, false), ppm, Failure::ppmMaxval),
      refused("PPM junk in header", bytesOf("P6 1x 1 255\n123"), ppm, Failure::ppmMalformed),
      refused("PPM height 65536", bytesOf("P6 1 65536 255\n"), ppm, Failure::ppmTooLarge),
      // Three samples a pixel: this raster would hold a grey picture.
      refused("PPM 40000 x 40000, no data", bytesOf("P6 40000 40000 255\n"), ppm,
              Failure::ppmTruncated),
  };
}

// A 21 x 13 picture (it ends inside the tiles and the last strip) whose
// samples are made from the pixel's index and the channel.
constexpr std::uint32_t kW = 21, kH = 13;

testsupport::Tiff tiffOf(std::uint16_t bits, std::uint16_t samples, std::uint16_t photometric) {
  testsupport::Tiff t;
  t.width = kW;
  t.height = kH;
  t.bits = bits;
  t.samplesPerPixel = samples;
  t.photometric = photometric;
  for (std::uint32_t k = 0; k < kW * kH; ++k) {
    for (std::uint32_t c = 0; c < samples; ++c) {
      const std::uint32_t v = (k * 37 + c * 101) % 256;
      t.samples.push_back(bits == 16 ? v << 8 | (255 - v) : v);
    }
  }
  return t;
}

// The grey the reading rules make of `t`: 16-bit samples keep their high
// byte, RGB becomes luma, min-is-white is inverted.
Bytes greyOf(const testsupport::Tiff& t) {
  Bytes grey;
  for (std::uint32_t k = 0; k < t.width * t.height; ++k) {
    const std::uint32_t* s = &t.samples[std::size_t{k} * t.samplesPerPixel];
    auto eight = [&t](std::uint32_t v) { return t.bits == 16 ? v >> 8 : v; };
    if (t.photometric == 2) {
      grey.push_back(static_cast<std::uint8_t>(
          (19595 * eight(s[0]) + 38470 * eight(s[1]) + 7471 * eight(s[2]) + 32768) >> 16));
    } else {
      grey.push_back(
          static_cast<std::uint8_t>(t.photometric == 0 ? 255 - eight(s[0]) : eight(s[0])));
    }
  }
  return grey;
}

// `file` (little-endian, one directory) with the value of `tag` replaced.
Bytes withTag(Bytes file, std::uint16_t tag, std::uint32_t value) {
  auto at = [&file](std::size_t k, int bytes) {
    std::uint32_t v = 0;
    for (int b = bytes - 1; b >= 0; --b) v = v << 8 | file[k + b];
    return v;
  };
  const std::size_t directory = at(4, 4);
  for (std::size_t e = 0; e < at(directory, 2); ++e) {
    const std::size_t entry = directory + 2 + 12 * e;
    if (at(entry, 2) != tag) continue;
    const int bytes = at(entry + 2, 2) == 3 ? 2 : 4;
    for (int b = 0; b < bytes; ++b) file[entry + 8 + b] = std::uint8_t(value >> 8 * b);
  }
  return file;
}

Case tiffCase(const std::string& name, const testsupport::Tiff& t) {
  return {name,     testsupport::tiffFile(t), PictureFormat::tiff, std::nullopt, t.width, t.height,
          greyOf(t)};
}

Case tiffRefused(const std::string& name, const testsupport::Tiff& t, Failure failure) {
  return refused(name, testsupport::tiffFile(t), PictureFormat::tiff, failure);
}

std::vector<Case> tiffCases() {
  std::vector<Case> cases;
  testsupport::Tiff t = tiffOf(8, 1, 1);
  cases.push_back(tiffCase("TIFF grey 8, one strip", t));
  t.rowsPerStrip = 4;
  t.bigEndian = true;
  cases.push_back(tiffCase("TIFF grey 8, strips of 4 rows, big-endian", t));
  t.tile = 16;
  cases.push_back(tiffCase("TIFF grey 8, tiles of 16", t));
  cases.push_back(tiffCase("TIFF grey 16", tiffOf(16, 1, 1)));
  cases.push_back(tiffCase("TIFF min-is-white", tiffOf(8, 1, 0)));
  cases.push_back(tiffCase("TIFF grey and alpha", tiffOf(8, 2, 1)));
  t = tiffOf(16, 3, 2);
  t.bigEndian = true;
  t.rowsPerStrip = 5;
  cases.push_back(tiffCase("TIFF RGB 16, big-endian strips", t));
  t = tiffOf(8, 4, 2);
  t.tile = 16;
  cases.push_back(tiffCase("TIFF RGBA 8, tiles", t));
  t = tiffOf(8, 3, 2);
  t.planar = true;
  t.rowsPerStrip = 3;
  cases.push_back(tiffCase("TIFF RGB 8, a plane per sample", t));
  t.tile = 16;
  cases.push_back(tiffCase("TIFF RGB 8, a plane per sample, tiles", t));

  const testsupport::Tiff grey = tiffOf(8, 1, 1);
  testsupport::Tiff first = grey;
  first.directoryFirst = true;
  const Bytes whole = testsupport::tiffFile(first);
  cases.push_back(refused("TIFF cut in its pixels", cut(whole, whole.size() - 2),
                          PictureFormat::tiff, Failure::tiffTruncated));
  first.rowsPerStrip = 4;
  const Bytes strips = testsupport::tiffFile(first);
  cases.push_back(refused("TIFF cut in its last strip", cut(strips, strips.size() - 2),
                          PictureFormat::tiff, Failure::tiffTruncated));
  const Bytes after = testsupport::tiffFile(grey);
  cases.push_back(refused("TIFF cut before its directory", cut(after, after.size() - 30),
                          PictureFormat::tiff, Failure::tiffTruncated));
  cases.push_back(
      refused("TIFF header alone", cut(after, 6), PictureFormat::tiff, Failure::tiffTruncated));
  Bytes noEntries = after;
  const std::size_t directoryAt = noEntries[4] | noEntries[5] << 8;
  noEntries[directoryAt] = noEntries[directoryAt + 1] = 0;
  cases.push_back(refused("TIFF directory of no entries", noEntries, PictureFormat::tiff,
                          Failure::tiffMalformed));
  // Just past the limit, with all its pixels.
  t = grey;
  t.width = 1;
  t.height = 65536;
  t.samples.assign(65536, 0);
  cases.push_back(tiffRefused("TIFF height 65536", t, Failure::tiffTooLarge));
  t = tiffOf(8, 1, 1);
  t.bits = 4;
  cases.push_back(tiffRefused("TIFF 4-bit grey", t, Failure::tiffUnsupported));
  t = tiffOf(8, 1, 3);
  cases.push_back(tiffRefused("TIFF palette", t, Failure::tiffUnsupported));
  t = tiffOf(8, 1, 1);
  t.sampleFormat = 3;
  cases.push_back(tiffRefused("TIFF floating-point samples", t, Failure::tiffUnsupported));
  t.sampleFormat = 1;
  t.compression = 12345;
  cases.push_back(tiffRefused("TIFF unknown compression", t, Failure::tiffUnsupported));
  t = tiffOf(8, 2, 2);
  cases.push_back(tiffRefused("TIFF RGB of two samples", t, Failure::tiffUnsupported));
  // A unit's buffer is bounded by the picture: 8 bytes a pixel, and tiles
  // past 4096 a side only where the picture is as large.
  cases.push_back(tiffCase("TIFF RGBA 16, eight bytes a pixel", tiffOf(16, 4, 2)));
  cases.push_back(
      tiffRefused("TIFF five 16-bit samples a pixel", tiffOf(16, 5, 2), Failure::tiffUnsupported));
  t = tiffOf(8, 9, 1);
  t.planar = true;
  cases.push_back(tiffCase("TIFF nine samples, a plane per sample", t));
  t = tiffOf(8, 1, 1);
  t.tile = 16;
  cases.push_back(refused("TIFF tiles 8192 wide on a 21-pixel row",
                          withTag(testsupport::tiffFile(t), 322, 8192), PictureFormat::tiff,
                          Failure::tiffUnsupported));
  return cases;
}

// The formats known but not read are named; near misses go to the bitmap
// loader.
std::vector<Case> unreadCases() {
  const PictureFormat other = PictureFormat::other;
  Bytes webp = bytesOf(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16));
  Bytes wave = bytesOf(std::string("RIFF\x10\0\0\0WAVEfmt ", 16));
  Bytes heic =
      bytesOf(std::string("\0\0\0\x18"
                          "ftypheic\0\0\0\0",
                          16));
  Bytes mp4 =
      bytesOf(std::string("\0\0\0\x18"
                          "ftypmp42\0\0\0\0",
                          16));
  return {
      refused("GIF87a", bytesOf("GIF87a\x01\0\x01\0"), other, Failure::gifNotSupported),
      refused("GIF89a", bytesOf("GIF89a"), other, Failure::gifNotSupported),
      refused("WebP", webp, other, Failure::webpNotSupported),
      refused("RIFF that is not WebP", wave, PictureFormat::bmp, Failure::loadShortHeader),
      refused("PAM", bytesOf("P7\nWIDTH 1\n"), other, Failure::pamNotSupported),
      refused("PBM plain", bytesOf("P1 1 1 0"), other, Failure::pbmNotSupported),
      refused("PBM binary", bytesOf("P4 8 1\n\x01"), other, Failure::pbmNotSupported),
      refused("JPEG 2000 file", bytesOf(std::string("\0\0\0\x0CjP  \r\n\x87\n", 12)), other,
              Failure::jpeg2000NotSupported),
      refused("JPEG 2000 codestream", {0xFF, 0x4F, 0xFF, 0x51, 0}, other,
              Failure::jpeg2000NotSupported),
      refused("JPEG XL codestream", {0xFF, 0x0A, 0xFA}, other, Failure::jpegXlNotSupported),
      refused("JPEG XL file", bytesOf(std::string("\0\0\0\x0CJXL \r\n\x87\n", 12)), other,
              Failure::jpegXlNotSupported),
      refused("HEIF", heic, other, Failure::heifNotSupported),
      refused("ISO media that is not a picture", mp4, PictureFormat::bmp, Failure::loadShortHeader),
      refused("PSD", bytesOf("8BPS\0\x01"), other, Failure::psdNotSupported),
  };
}

#if DWT97_WITH_TIFF
// A TIFF written by the TIFF library itself: LZW with the horizontal
// predictor, in tiles.
Bytes libraryTiff(const std::string& path, const testsupport::Tiff& t) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, t.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, t.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, t.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, t.samplesPerPixel);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, t.photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
  TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
  std::vector<std::uint8_t> tile(16 * 16 * t.samplesPerPixel);
  for (std::uint32_t y = 0; y < t.height; y += 16) {
    for (std::uint32_t x = 0; x < t.width; x += 16) {
      std::fill(tile.begin(), tile.end(), 0);
      for (std::uint32_t r = 0; r < 16 && y + r < t.height; ++r) {
        for (std::uint32_t c = 0; c < 16 && x + c < t.width; ++c) {
          for (std::uint32_t k = 0; k < t.samplesPerPixel; ++k) {
            tile[(r * 16 + c) * t.samplesPerPixel + k] = static_cast<std::uint8_t>(
                t.samples[((y + r) * std::size_t{t.width} + x + c) * t.samplesPerPixel + k]);
          }
        }
      }
      TIFFWriteTile(tif, tile.data(), x, y, 0, 0);
    }
  }
  TIFFClose(tif);
  return readFile(path);
}
#endif

}  // namespace

TEST(Pictures, MoreFormatsAndRefusals) {
  std::vector<Case> cases = ppmCases();
  for (Case& c : tiffCases()) cases.push_back(std::move(c));
  for (Case& c : unreadCases()) cases.push_back(std::move(c));
#if DWT97_WITH_TIFF
  TempDir dir;
  const testsupport::Tiff rgb = tiffOf(8, 3, 2);
  cases.push_back({"TIFF LZW by the library", libraryTiff(dir.file("lzw.tif"), rgb),
                   PictureFormat::tiff, std::nullopt, kW, kH, greyOf(rgb)});
#endif
  expectCases(cases);
}

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
namespace {

// Resident memory in bytes, from /proc.
std::uint64_t resident() {
  std::uint64_t pages = 0, present = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%lu %lu", &pages, &present) != 2) present = 0;
    std::fclose(statm);
  }
  return present * 4096;
}

}  // namespace

// A picture read from a file gives back the file's bytes: 300 loads of a
// 1 MiB PGM keep the resident memory about where it was (a leak would add
// 300 MiB). Sanitized builds keep freed memory aside and check leaks
// themselves.
TEST(Pictures, LoadsGiveBackTheFilesBytes) {
  TempDir dir;
  Bytes pgm = bytesOf("P5 1024 1024 255\n");
  pgm.resize(pgm.size() + (1u << 20), 9);
  writeFile(dir.file("big.pgm"), pgm);
  const std::string path = dir.file("big.pgm");
  auto load = [&path] {
    Bitmap bmp;
    PictureFormat format;
    const bool loaded = !dwt97::loadPicture(&bmp, &format, path.c_str());
    bmpRelease(&bmp);
    return loaded;
  };
  ASSERT_TRUE(load());
  const std::uint64_t before = resident();
  for (int k = 0; k < 300; ++k) ASSERT_TRUE(load());
  EXPECT_LT(resident(), before + (64u << 20));
}
#endif
