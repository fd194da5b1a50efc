// The bitmap loader, header report and sample planes on files made here:
// the sample's shape with its colour table, rows in file order without
// padding, the report's formats, and planes read, flattened and saved.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "dwt97/bitmap.h"
#include "dwt97/picture.h"
#include "messages.h"
#include "rows_watch.h"
#include "test_support.h"

using dwt97::Failure;
using dwt97::planeAllocate;
using dwt97::PlaneBuffer;
using dwt97::planeRelease;

using namespace testsupport;
using testsupport::putLe32;

namespace {

// Writes `bytes` as a bitmap file in `dir` and loads it.
Bitmap loadBytes(const TempDir& dir, const Bytes& bytes) {
  const std::string path = dir.file("quilgray.bmp");
  writeFile(path, bytes);
  Bitmap bmp;
  bmpLoad(&bmp, path.c_str());
  return bmp;
}

// A record of `width` x `height` with every other field 0.
Bitmap record(std::int32_t width, std::uint16_t height) {
  Bitmap bmp;
  std::memset(&bmp, 0, sizeof bmp);
  bmp.width = width;
  bmp.height = height;
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

// The reads of `file` (at quilgray.bmp in `dir`, loaded as `bmp`) told to
// a RowsWatch: bmpReadPlane() into a fresh plane, and into one from a file
// cut a byte into its last row, which fails with the rows told before still
// as told; parsePicture() and loadPicture(), and both refused by started().
void expectToldRows(const TempDir& dir, const Bitmap& bmp, const Bytes& file, const Bytes& pixels) {
  const std::string path = dir.file("quilgray.bmp");
  for (const bool whole : {true, false}) {
    SCOPED_TRACE(whole ? "read plane, observed" : "read plane of a cut file, observed");
    // Cut inside the last row's pixels (its padding may be missing).
    const std::size_t stride = (bmp.width + 3) & ~3,
                      end = 1078 + stride * (bmp.height - 1) + bmp.width;
    if (!whole) writeFile(dir.file("cut.bmp"), Bytes(file.begin(), file.begin() + end - 1));
    PlaneBuffer plane = testsupport::newPlane(bmp.width, bmp.height);
    RowsWatch watch;
    watch.watchPlane(plane.rows, bmp.width, bmp.height);
    const std::optional<dwt97::Error> failure = dwt97::bmpReadPlane(
        &bmp, (whole ? path : dir.file("cut.bmp")).c_str(), plane.rows, RowsWatch::onRows, &watch);
    if (whole) {
      EXPECT_EQ(failure, std::nullopt);
      watch.expectRead(plane.rows);
    } else {
      EXPECT_EQ(failure, Failure::readPlaneRead);
      EXPECT_EQ(watch.faults, std::vector<std::string>{});
      EXPECT_LT(watch.told, bmp.height);
      EXPECT_EQ(watch.copies, Bytes(pixels.begin(), pixels.begin() + watch.copies.size()));
    }
    planeRelease(&plane);
  }
  for (const bool load : {false, true}) {
    for (const bool refuse : {false, true}) {
      SCOPED_TRACE(std::string(load ? "loaded" : "parsed") + (refuse ? ", refused" : ""));
      RowsWatch watch;
      watch.zeroFilledAtStart = !load;
      if (refuse) watch.refusal = dwt97::Error{Failure::outOfMemory, "observer"};
      Bitmap read;
      dwt97::PictureFormat format;
      const std::optional<dwt97::Error> failure =
          load ? dwt97::loadPicture(&read, &format, path.c_str(), watch.observer())
               : dwt97::parsePicture(&read, &format, file.data(), file.size(), watch.observer());
      if (refuse) {
        ASSERT_NE(failure, std::nullopt);
        EXPECT_STREQ(failure->operation, "observer");
        EXPECT_EQ(read.data, nullptr);
        watch.expectFailed();
        continue;
      }
      ASSERT_EQ(failure, std::nullopt);
      watch.expectRead(read);
      EXPECT_EQ(Bytes(read.data, read.data + pixels.size()), pixels);
      bmpRelease(&read);
    }
  }
}

}  // namespace

// ---- Loader ----------------------------------------------------------------

// 512 x 512 with a 256-entry colour table: pixels start at 1078, the first
// pixel is the first byte after the table, every field is parsed (the report
// prints them all) and prints as sixteen lines.
TEST(Loader, SampleSizedFileWithColourTable) {
  TempDir dir;
  const Bytes file = testsupport::build(picture(512, 512));
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

// Rows are stored at a 4-byte stride (the last row's padding may be missing)
// and never bring their padding into the pixel buffer or a plane; one block
// is large enough for the mapped allocator. A negative stored height is a
// top-down file: its magnitude is the height, and the rows stay in the
// file's order.
TEST(Loader, RowsInFileOrderWithoutPadding) {
  const struct {
    int width, height;
    bool topDown, dropLastPadding;
  } cases[] = {{6, 3, false, false},
               {6, 3, false, true},
               {8, 512, true, false},
               {4097, 1100, false, false},
               {1024, 1100, false, false}};  // rows in several pieces
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    TempDir dir;
    testsupport::Picture p = picture(c.width, c.height);
    p.topDown = c.topDown;
    p.dropLastRowPadding = c.dropLastPadding;
    Bytes file = testsupport::build(p);
    const std::size_t stride = (c.width + 3) & ~3;
    ASSERT_EQ(file.size(), 1078 + stride * c.height - (c.dropLastPadding ? stride - c.width : 0));
    ASSERT_EQ(file[testsupport::kHeight + 3], c.topDown ? 0xFF : 0x00);
    // Mark every padding byte so that a misplaced row shows.
    for (std::size_t r = 0; r < static_cast<std::size_t>(c.height); ++r) {
      for (std::size_t at = 1078 + r * stride + c.width; at < 1078 + (r + 1) * stride; ++at) {
        if (at < file.size()) file[at] = 0xEE;
      }
    }
    Bitmap bmp = loadBytes(dir, file);
    EXPECT_EQ(bmp.width, c.width);
    EXPECT_EQ(bmp.height, c.height);
    const std::string height = "\nHeight = " + std::to_string(c.height) + " \n";
    EXPECT_NE(report(bmp).find(height), std::string::npos);
    EXPECT_EQ(Bytes(bmp.data, bmp.data + p.pixels.size()), p.pixels);
    PlaneBuffer plane = testsupport::newPlane(c.width, c.height);
    bmpReadPlane(&bmp, dir.file("quilgray.bmp").c_str(), plane.rows);
    Bytes rows;
    for (int r = 0; r < c.height; ++r) {
      rows.insert(rows.end(), plane.rows[r], plane.rows[r] + c.width);
    }
    EXPECT_EQ(rows, p.pixels);
    planeRelease(&plane);
    expectToldRows(dir, bmp, file, p.pixels);
    bmpRelease(&bmp);
  }
}

// ---- Header report -------------------------------------------------------

// Stored fields whose four bytes are all 0xFF print as -1.
TEST(Report, AllOnesFieldsPrintMinusOne) {
  TempDir dir;
  Bytes file = testsupport::build(picture(8, 2));
  for (std::size_t at : {2, 34, 38, 42, 46, 50}) putLe32(file, at, 0xFFFFFFFFu);
  Bitmap bmp = loadBytes(dir, file);
  EXPECT_EQ(report(bmp), reportText({"4D42", "-1", "1078", "40", "8", "2", "1", "8", "0", "-1",
                                     "-1", "-1", "-1", "-1"}));
  bmpRelease(&bmp);
}

// Signed fields print signed, the 16-bit ones unsigned, the mark in hex.
TEST(Report, FieldFormatsOnAHandFilledRecord) {
  Bitmap bmp = record(-512, 65024);
  bmp.signature = 0x00AB;
  bmp.fileSize = 2147483647;
  bmp.dataOffset = -1;
  bmp.size = 40;
  bmp.planes = 65535;
  bmp.bitsPerPixel = 8;
  bmp.compression = -2147483647 - 1;
  bmp.imageSize = 7;
  EXPECT_EQ(report(bmp), reportText({"00AB", "2147483647", "-1", "40", "-512", "65024", "65535",
                                     "8", "-2147483648", "7", "0", "0", "0", "0"}));
}

// ---- Sample planes and the raw file -------------------------------------

// 256 wide, 128 tall: row 1 starts at byte 256; the file is exactly 32768
// bytes, equal to the flat buffer, replaces a longer older output with no
// trailing bytes left, and no temporary file is left behind.
TEST(SamplePlanes, FlattenAndSaveNonSquare) {
  TempDir dir;
  Bitmap bmp = record(256, 128);
  PlaneBuffer plane = testsupport::newPlane(256, 128);
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
  writeFile(out, Bytes(40000, 0xFF));
  bmpSave(&bmp, out.c_str(), flat.data());
  EXPECT_EQ(readFile(out), flat);
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"quilout.dat"});
  planeRelease(&plane);
}

TEST(SamplePlanes, PlanesStartZeroFilled) {
  PlaneBuffer plane = testsupport::newPlane(7, 5);
  for (int r = 0; r < 5; ++r) EXPECT_EQ(Bytes(plane.rows[r], plane.rows[r] + 7), Bytes(7, 0));
  planeRelease(&plane);
}

// More rows than one gathered write takes (1,024 pieces), read into a block
// whose row pointers run in reverse (one after another, but not in order:
// each row must land at its own pointer), then saved from those pointers.
// The raw file holds the rows in order; the PGM of the plane equals the PGM
// of the same rows flattened, top row first, whichever order the file stored.
TEST(SamplePlanes, ManyRowsReadAndSavedThroughReversedPointers) {
  const int width = 4, height = 1100;
  for (const bool topDown : {false, true}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    TempDir dir;
    testsupport::Picture p = picture(width, height);
    p.topDown = topDown;
    Bitmap bmp = loadBytes(dir, testsupport::build(p));
    PlaneBuffer plane = testsupport::newPlane(width, height);
    std::vector<std::uint8_t*> rows(height);
    for (int r = 0; r < height; ++r) rows[r] = plane.rows[height - 1 - r];
    bmpReadPlane(&bmp, dir.file("quilgray.bmp").c_str(), rows.data());
    for (int r = 0; r < height; ++r) {
      ASSERT_EQ(Bytes(rows[r], rows[r] + width),
                Bytes(p.pixels.begin() + r * width, p.pixels.begin() + (r + 1) * width))
          << "row " << r;
    }
    bmpSavePlane(&bmp, dir.file("plane.dat").c_str(), rows.data());
    EXPECT_EQ(readFile(dir.file("plane.dat")), p.pixels);

    const std::string header = "P5\n4 1100\n255\n";
    Bytes pgm(header.begin(), header.end());
    for (int k = 0; k < height; ++k) {
      const int r = topDown ? k : height - 1 - k;
      pgm.insert(pgm.end(), p.pixels.begin() + r * width, p.pixels.begin() + (r + 1) * width);
    }
    bmpSavePgmPlane(&bmp, dir.file("plane.pgm").c_str(), rows.data());
    bmpSavePgm(&bmp, dir.file("flat.pgm").c_str(), p.pixels.data());
    EXPECT_EQ(readFile(dir.file("plane.pgm")), pgm);
    EXPECT_EQ(readFile(dir.file("flat.pgm")), pgm);
    planeRelease(&plane);
    bmpRelease(&bmp);
  }
}

// When the output cannot be put in place (here a folder holds its name, which
// even root cannot replace with a file) or cannot be created at all, the
// save fails with status 1 and leaves no file behind.
TEST(SaveDeathTest, OutputThatCannotBeCreated) {
  TempDir dir;
  const Bitmap bmp = record(4, 2);
  const Bytes flat(8, 9);
  const std::string out = dir.file("quilout.dat");
  ASSERT_TRUE(makeFolder(out));
  for (const std::string& path : {out, dir.file("absent/quilout.dat")}) {
    EXPECT_EXIT(bmpSave(&bmp, path.c_str(), flat.data()), testing::ExitedWithCode(1),
                exactly(messages::kCreate));
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"quilout.dat"});
    EXPECT_EQ(listDir(out), std::vector<std::string>{});
  }
}
