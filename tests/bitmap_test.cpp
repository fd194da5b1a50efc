#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap.h"
#include "bmp_builder.h"
#include "test_support.h"

using namespace testsupport;
using bmpbuild::putLe16;
using bmpbuild::putLe32;

namespace {

Bytes fileRow(const Bytes& file, std::size_t at, int width) {
  return Bytes(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at) + width);
}

Bytes bufferRow(const std::uint8_t* data, int row, int width) {
  return Bytes(data + static_cast<long>(row) * width, data + static_cast<long>(row + 1) * width);
}

// Writes `bytes` as a bitmap file in `dir` and loads it.
Bitmap loadBytes(const TempDir& dir, const Bytes& bytes) {
  const std::string path = dir.file("quilgray.bmp");
  writeFile(path, bytes);
  Bitmap bmp;
  bmpLoad(&bmp, path.c_str());
  return bmp;
}

std::string report(const Bitmap& bmp) {
  testing::internal::CaptureStdout();
  bmpPrint(&bmp);
  return testing::internal::GetCapturedStdout();
}

// The report of the sample-sized file, spelled out once.
const char* const kSampleReport =
    "==== Header ====\n"
    "Signature = 4D42\n"
    "FileSize = 263222 \n"
    "DataOffset = 1078 \n"
    "==== Info ======\n"
    "size = 40 \n"
    "Width = 512 \n"
    "Height = 512 \n"
    "Planes = 1 \n"
    "BitsPerPixel = 8 \n"
    "Compression = 0 \n"
    "ImageSize = 262144 \n"
    "XpixelsPerM = 2835 \n"
    "YpixelsPerM = 2835 \n"
    "ColorsUsed = 256 \n"
    "ColorsImportant = 0 \n";

}  // namespace

// ---- Loader ----------------------------------------------------------------

// 512 x 512 with a 256-entry colour table: pixels start at 1078, the first
// pixel is the first byte after the table, every field is parsed (the report
// prints them all) and prints as sixteen lines.
TEST(Loader, SampleSizedFileWithColourTable) {
  TempDir dir;
  const Bytes file = bmpbuild::build(picture(512, 512));
  ASSERT_EQ(file.size(), 263222u);
  Bitmap bmp = loadBytes(dir, file);
  EXPECT_EQ(0, std::memcmp(bmp.rawHeader, file.data(), 54));
  EXPECT_EQ(report(bmp), kSampleReport);
  EXPECT_EQ(reportFor(512, 512), kSampleReport);
  ASSERT_NE(bmp.data, nullptr);
  EXPECT_EQ(bmp.data[0], file[1078]);
  EXPECT_EQ(Bytes(bmp.data, bmp.data + 262144), Bytes(file.begin() + 1078, file.end()));
  bmpRelease(&bmp);
}

// A negative stored height is a top-down file: its magnitude is the height,
// and the rows stay in the file's order.
TEST(Loader, TopDownFileKeepsFileRowOrder) {
  TempDir dir;
  bmpbuild::Picture p = picture(8, 512);
  p.topDown = true;
  const Bytes file = bmpbuild::build(p);
  ASSERT_EQ(file[bmpbuild::kHeight + 3], 0xFF);
  Bitmap bmp = loadBytes(dir, file);
  EXPECT_EQ(bmp.height, 512);
  EXPECT_EQ(Bytes(bmp.data, bmp.data + 8 * 512), p.pixels);
  EXPECT_NE(report(bmp).find("\nHeight = 512 \n"), std::string::npos);
  bmpRelease(&bmp);
}

// Rows of a 6-wide file are stored 8 bytes apart; the padding never reaches
// the pixel buffer or a plane. The last row's padding may be missing.
TEST(Loader, PaddedRowsAreReadAtTheStride) {
  for (bool dropLastPadding : {false, true}) {
    TempDir dir;
    bmpbuild::Picture p = picture(6, 3);
    p.dropLastRowPadding = dropLastPadding;
    Bytes file = bmpbuild::build(p);
    // Mark every padding byte so that a misplaced row shows.
    for (std::size_t r = 0; r < 3; ++r) {
      for (std::size_t c = 6; c < 8; ++c) {
        const std::size_t at = 1078 + r * 8 + c;
        if (at < file.size()) file[at] = 0xEE;
      }
    }
    ASSERT_EQ(file.size(), dropLastPadding ? 1078u + 22u : 1078u + 24u);
    Bitmap bmp = loadBytes(dir, file);
    EXPECT_EQ(bmp.width, 6);
    EXPECT_EQ(bmp.height, 3);
    for (int r = 0; r < 3; ++r) {
      EXPECT_EQ(bufferRow(bmp.data, r, 6), fileRow(file, 1078 + 8 * r, 6)) << "row " << r;
    }
    PlaneBuffer plane = planeAllocate(6, 3, "test");
    bmpReadPlane(&bmp, dir.file("quilgray.bmp").c_str(), plane.rows);
    for (int r = 0; r < 3; ++r) {
      EXPECT_EQ(Bytes(plane.rows[r], plane.rows[r] + 6), fileRow(file, 1078 + 8 * r, 6)) << r;
    }
    planeRelease(&plane);
    bmpRelease(&bmp);
  }
}

// A padded picture whose pixel block is large enough for the mapped
// allocator goes through the loader's block and back.
TEST(Loader, LargePaddedPicture) {
  TempDir dir;
  const bmpbuild::Picture p = picture(4097, 1100);
  const Bytes file = bmpbuild::build(p);
  Bitmap bmp = loadBytes(dir, file);
  EXPECT_EQ(Bytes(bmp.data, bmp.data + p.pixels.size()), p.pixels);
  bmpRelease(&bmp);
}

// The colour table is never consulted.
TEST(Loader, ColourTableDoesNotMatter) {
  TempDir first, second;
  bmpbuild::Picture p = picture(12, 5);
  const Bytes plain = bmpbuild::build(p);
  p.tableTint = 0x5A;
  const Bytes tinted = bmpbuild::build(p);
  ASSERT_NE(plain, tinted);
  Bitmap a = loadBytes(first, plain);
  Bitmap b = loadBytes(second, tinted);
  EXPECT_EQ(0, std::memcmp(a.rawHeader, b.rawHeader, sizeof a.rawHeader));
  std::uint8_t* dataA = a.data;
  std::uint8_t* dataB = b.data;
  a.data = b.data = nullptr;
  EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
  EXPECT_EQ(Bytes(dataA, dataA + 60), Bytes(dataB, dataB + 60));
  a.data = dataA;
  b.data = dataB;
  bmpRelease(&a);
  bmpRelease(&b);
}

// ---- Header report -------------------------------------------------------

// Stored fields whose four bytes are all 0xFF print as -1.
TEST(Report, AllOnesFieldsPrintMinusOne) {
  TempDir dir;
  Bytes file = bmpbuild::build(picture(8, 2));
  for (std::size_t at : {2, 34, 38, 42, 46, 50}) putLe32(file, at, 0xFFFFFFFFu);
  Bitmap bmp = loadBytes(dir, file);
  EXPECT_EQ(report(bmp), reportText({"4D42", "-1", "1078", "40", "8", "2", "1", "8", "0", "-1",
                                      "-1", "-1", "-1", "-1"}));
  bmpRelease(&bmp);
}

// Signed fields print signed, the 16-bit ones unsigned, the mark in hex.
TEST(Report, FieldFormatsOnAHandFilledRecord) {
  Bitmap bmp;
  std::memset(&bmp, 0, sizeof bmp);
  bmp.signature = 0x00AB;
  bmp.fileSize = 2147483647;
  bmp.dataOffset = -1;
  bmp.size = 40;
  bmp.width = -512;
  bmp.height = 65024;
  bmp.planes = 65535;
  bmp.bitsPerPixel = 8;
  bmp.compression = -2147483647 - 1;
  bmp.imageSize = 7;
  EXPECT_EQ(report(bmp), reportText({"00AB", "2147483647", "-1", "40", "-512", "65024", "65535",
                                      "8", "-2147483648", "7", "0", "0", "0", "0"}));
}

// ---- Sample planes and the raw file -------------------------------------

// The plane comes from the file: row 0 is the first row after dataOffset,
// and changes to the record's pixel buffer do not reach it.
TEST(SamplePlanes, ReadPlaneTakesTheFileRows) {
  TempDir dir;
  const Bytes file = bmpbuild::build(picture(512, 512));
  Bitmap bmp = loadBytes(dir, file);
  std::memset(bmp.data, 0, 512 * 512);
  PlaneBuffer plane = planeAllocate(512, 512, "test");
  bmpReadPlane(&bmp, dir.file("quilgray.bmp").c_str(), plane.rows);
  for (int r = 0; r < 512; ++r) {
    ASSERT_EQ(Bytes(plane.rows[r], plane.rows[r] + 512), fileRow(file, 1078 + 512 * r, 512)) << r;
  }
  planeRelease(&plane);
  bmpRelease(&bmp);
}

// 256 wide, 128 tall: row 1 starts at byte 256; the file is exactly 32768
// bytes, equal to the flat buffer, and no temporary file is left behind.
TEST(SamplePlanes, FlattenAndSaveNonSquare) {
  TempDir dir;
  Bitmap bmp;
  std::memset(&bmp, 0, sizeof bmp);
  bmp.width = 256;
  bmp.height = 128;
  PlaneBuffer plane = planeAllocate(256, 128, "test");
  for (int r = 0; r < 128; ++r) {
    for (int c = 0; c < 256; ++c) plane.rows[r][c] = static_cast<std::uint8_t>(r * 5 + (c ^ 0x3C));
  }
  Bytes flat(32768);
  bmpFlattenPlane(&bmp, plane.rows, flat.data());
  EXPECT_EQ(flat[256], plane.rows[1][0]);
  for (int r = 0; r < 128; ++r) {
    for (int c = 0; c < 256; ++c) ASSERT_EQ(flat[r * 256 + c], plane.rows[r][c]) << r << "," << c;
  }
  const std::string out = dir.file("quilout.dat");
  bmpSave(&bmp, out.c_str(), flat.data());
  EXPECT_EQ(readFile(out), flat);
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"quilout.dat"});
  planeRelease(&plane);
}

TEST(SamplePlanes, PlanesStartZeroFilled) {
  PlaneBuffer plane = planeAllocate(7, 5, "test");
  for (int r = 0; r < 5; ++r) EXPECT_EQ(Bytes(plane.rows[r], plane.rows[r] + 7), Bytes(7, 0));
  planeRelease(&plane);
}

// A longer older output is replaced, with no trailing bytes left.
TEST(SamplePlanes, SaveReplacesALongerFile) {
  TempDir dir;
  const std::string out = dir.file("quilout.dat");
  writeFile(out, Bytes(1000, 0xFF));
  Bitmap bmp;
  std::memset(&bmp, 0, sizeof bmp);
  bmp.width = 4;
  bmp.height = 4;
  Bytes flat(16);
  for (int k = 0; k < 16; ++k) flat[k] = static_cast<std::uint8_t>(k);
  bmpSave(&bmp, out.c_str(), flat.data());
  EXPECT_EQ(readFile(out), flat);
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"quilout.dat"});
}

// When the output cannot be put in place (here a folder holds its name, which
// even root cannot replace with a file) or cannot be created at all, the
// save fails with status 1 and leaves no file behind.
TEST(SaveDeathTest, OutputThatCannotBeCreated) {
  TempDir dir;
  Bitmap bmp;
  std::memset(&bmp, 0, sizeof bmp);
  bmp.width = 4;
  bmp.height = 2;
  const Bytes flat(8, 9);
  const std::string out = dir.file("quilout.dat");
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  EXPECT_EXIT(bmpSave(&bmp, out.c_str(), flat.data()), testing::ExitedWithCode(1),
              exactly("Error: bmpSave(), File create fail!\n"));
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"quilout.dat"});
  EXPECT_EQ(listDir(out), std::vector<std::string>{});

  const std::string missingFolder = dir.file("absent/quilout.dat");
  EXPECT_EXIT(bmpSave(&bmp, missingFolder.c_str(), flat.data()), testing::ExitedWithCode(1),
              exactly("Error: bmpSave(), File create fail!\n"));
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"quilout.dat"});
}
