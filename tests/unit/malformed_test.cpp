// Malformed and odd input files. Every file is a good default built in code
// with one or more fields broken. Each goes through both loaders in this
// process, from memory (tryParse) and from a file (tryLoad): both must give
// the same failure, with nothing left allocated or open, or the same record
// with the file's pixels. (tool/refusals_test.cpp runs the tool on some.)
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "bmp_builder.h"
#include "dwt97/dwt97.h"
#include "messages.h"
#include "test_support.h"

using dwt97::Failure;
using namespace testsupport;

namespace {

// The default good file: 8 x 8 with a full 256-entry colour table (pixels at 1078).
Bytes goodFile() { return testsupport::build(picture(8, 8)); }

// The default good file with one field replaced.
Bytes good16(std::size_t at, std::uint32_t value) { return withLe16(goodFile(), at, value); }
Bytes good32(std::size_t at, std::uint32_t value) { return withLe32(goodFile(), at, value); }

std::uint32_t storedHeight(std::int64_t value) { return static_cast<std::uint32_t>(value); }

// A failure by its name, or "accepted": readable in an expectation.
std::string describe(const std::optional<Failure>& failure) {
  return failure ? dwt97::failureName(*failure) : "accepted";
}
std::string describe(const std::optional<dwt97::Error>& error) {
  return error ? describe(error->failure) : "accepted";
}

// Loads `file` from memory and from the file `dir`/in.bmp. Both must agree:
// the same failure with no pixel buffer and no file left open, or the same
// record. Returns the failure, and the pixels through `pixels`.
std::optional<Failure> loadBothWays(const TempDir& dir, const Bytes& file,
                                    Bytes* pixels = nullptr) {
  const std::string path = dir.file("in.bmp");
  writeFile(path, file);
  const int descriptors = openDescriptors();
  Bitmap fromMemory, fromFile;
  fromMemory.data = fromFile.data = reinterpret_cast<std::uint8_t*>(&fromMemory);  // must go
  const std::optional<dwt97::Error> parsed = dwt97::bmpParse(&fromMemory, file.data(), file.size());
  const std::optional<dwt97::Error> loaded = dwt97::bmpLoad(&fromFile, path.c_str());
  // Both name the loader, as its messages do.
  if (parsed) {
    EXPECT_STREQ(parsed->operation, "bmpLoad");
  }
  if (loaded) {
    EXPECT_STREQ(loaded->operation, "bmpLoad");
  }
  EXPECT_EQ(describe(parsed), describe(loaded));
  EXPECT_EQ(openDescriptors(), descriptors);
  if (parsed || loaded) {
    EXPECT_EQ(fromMemory.data, nullptr);
    EXPECT_EQ(fromFile.data, nullptr);
  } else {
    EXPECT_EQ(std::memcmp(fromMemory.rawHeader, fromFile.rawHeader, 54), 0);
    EXPECT_EQ(fromMemory.width, fromFile.width);
    EXPECT_EQ(fromMemory.height, fromFile.height);
    EXPECT_EQ(fromMemory.dataOffset, fromFile.dataOffset);
    const std::size_t bytes =
        std::size_t{fromFile.height} * static_cast<std::size_t>(fromFile.width);
    const Bytes memoryPixels(fromMemory.data, fromMemory.data + bytes);
    const Bytes filePixels(fromFile.data, fromFile.data + bytes);
    EXPECT_EQ(memoryPixels, filePixels);
    if (pixels != nullptr) *pixels = filePixels;
  }
  bmpRelease(&fromMemory);
  bmpRelease(&fromFile);
  if (parsed) return parsed->failure;
  return std::nullopt;
}

// Loads an accepted file; returns its pixels (file row order, unpadded).
Bytes expectAccepted(const TempDir& dir, const Bytes& file, std::int32_t width, std::int32_t rows) {
  Bytes pixels;
  EXPECT_EQ(describe(loadBothWays(dir, file, &pixels)), "accepted");
  EXPECT_EQ(pixels.size(), static_cast<std::size_t>(width) * static_cast<std::size_t>(rows));
  return pixels;
}

Bytes expectAccepted(const Bytes& file, std::int32_t width, std::int32_t rows) {
  TempDir dir;
  return expectAccepted(dir, file, width, rows);
}

void expectRefused(const TempDir& dir, const Bytes& file, Failure failure) {
  EXPECT_EQ(describe(loadBothWays(dir, file)), describe(failure));
}

// Rows of `width` bytes read from `file` at the format's 4-byte stride.
Bytes storedRows(const Bytes& file, std::size_t offset, std::int32_t width, std::int32_t rows) {
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t stride = (w + 3) / 4 * 4;
  Bytes pixels;
  for (std::size_t r = 0; r < static_cast<std::size_t>(rows); ++r) {
    for (std::size_t c = 0; c < w; ++c) pixels.push_back(file.at(offset + r * stride + c));
  }
  return pixels;
}

struct Refusal {
  std::string name;
  Bytes file;
  Failure failure;
};

// Each header check broken alone, with the values other bitmap variants use,
// and every compression method: compressed bytes are not pixels.
std::vector<Refusal> eachHeaderCheckAlone() {
  std::vector<Refusal> cases = {
      {"signature MB", good16(testsupport::kSignature, 0x424D), Failure::loadSignature},
      {"signature 0", good16(testsupport::kSignature, 0), Failure::loadSignature},
      {"signature BA", good16(testsupport::kSignature, 0x4142), Failure::loadSignature},
  };
  for (std::uint32_t size : {0u, 12u, 39u, 41u, 64u, 108u, 124u}) {
    cases.push_back({"info size", good32(testsupport::kInfoSize, size), Failure::loadInfoSize});
  }
  for (std::uint32_t planes : {0u, 2u, 30000u, 256u}) {
    cases.push_back({"planes", good16(testsupport::kPlanes, planes), Failure::loadPlanes});
  }
  for (std::uint32_t bits : {0u, 1u, 4u, 16u, 24u, 32u, 30000u, 264u}) {
    cases.push_back(
        {"bits per pixel", good16(testsupport::kBitsPerPixel, bits), Failure::loadBitsPerPixel});
  }
  for (std::uint32_t method : {1u, 2u, 3u, 4u, 0xFFFFFFFFu}) {
    cases.push_back(
        {"compression", good32(testsupport::kCompression, method), Failure::loadCompressed});
  }
  return cases;
}

// Every combination of broken header checks reports only the first, in the
// order signature, info size, planes, bits per pixel, even when the geometry
// is broken too.
std::vector<Refusal> combinedHeaderChecks() {
  const Failure failures[] = {Failure::loadSignature, Failure::loadInfoSize, Failure::loadPlanes,
                              Failure::loadBitsPerPixel};
  std::vector<Refusal> cases;
  for (int broken = 1; broken < 16; ++broken) {
    for (bool badGeometry : {false, true}) {
      Bytes file = goodFile();
      if (broken & 1) testsupport::putLe16(file, testsupport::kSignature, 0x424D);
      if (broken & 2) testsupport::putLe32(file, testsupport::kInfoSize, 124);
      if (broken & 4) testsupport::putLe16(file, testsupport::kPlanes, 0);
      if (broken & 8) testsupport::putLe16(file, testsupport::kBitsPerPixel, 24);
      if (badGeometry) {
        testsupport::putLe32(file, testsupport::kCompression, 1);
        testsupport::putLe32(file, testsupport::kWidth, 0);
        testsupport::putLe32(file, testsupport::kDataOffset, 0);
      }
      int first = 0;
      while (!(broken & (1 << first))) ++first;
      cases.push_back({"broken checks mask " + std::to_string(broken) +
                           (badGeometry ? " with bad geometry" : ""),
                       file, failures[first]});
    }
  }
  return cases;
}

// Pixel data offsets below the headers, past the end or negative.
std::vector<Refusal> refusedOffsets() {
  const std::uint32_t size = static_cast<std::uint32_t>(goodFile().size());
  return {
      {"offset 0", good32(testsupport::kDataOffset, 0), Failure::loadDataOffset},
      {"offset 53", good32(testsupport::kDataOffset, 53), Failure::loadDataOffset},
      {"offset past the end", good32(testsupport::kDataOffset, size + 1), Failure::loadDataOffset},
      {"offset far past the end", good32(testsupport::kDataOffset, 0x7FFFFFFF),
       Failure::loadDataOffset},
      {"offset -1", good32(testsupport::kDataOffset, 0xFFFFFFFFu), Failure::loadDataOffset},
      {"offset -2^31", good32(testsupport::kDataOffset, 0x80000000u), Failure::loadDataOffset},
      {"offset at the end", good32(testsupport::kDataOffset, size), Failure::loadBeyondEnd},
      {"offset one row short", good32(testsupport::kDataOffset, size - 63), Failure::loadBeyondEnd},
  };
}

// Widths below 1, heights of 0 or beyond 65535 rows either way, pixel
// counts beyond 32 bits, and dimensions the file's bytes cannot hold.
std::vector<Refusal> refusedDimensions() {
  return {
      {"width 0", good32(testsupport::kWidth, 0), Failure::loadWidth},
      {"width -1", good32(testsupport::kWidth, 0xFFFFFFFFu), Failure::loadWidth},
      {"width -8", good32(testsupport::kWidth, 0xFFFFFFF8u), Failure::loadWidth},
      {"width -2^31", good32(testsupport::kWidth, 0x80000000u), Failure::loadWidth},
      // 2^31 - 1 pixels fit 32 bits in one row, but not in the file.
      {"width 2^31-1, 1 row",
       withLe32(good32(testsupport::kWidth, 0x7FFFFFFF), testsupport::kHeight, 1),
       Failure::loadBeyondEnd},
      {"width 2^31-1, 8 rows", good32(testsupport::kWidth, 0x7FFFFFFF), Failure::loadPixelCount},
      {"height 0", good32(testsupport::kHeight, 0), Failure::loadHeightZero},
      {"height 65536", good32(testsupport::kHeight, 65536), Failure::loadHeightTooLarge},
      {"height 70000", good32(testsupport::kHeight, 70000), Failure::loadHeightTooLarge},
      {"height 2^31-1", good32(testsupport::kHeight, 0x7FFFFFFF), Failure::loadHeightTooLarge},
      {"height -65536", good32(testsupport::kHeight, storedHeight(-65536)),
       Failure::loadHeightTooLarge},
      {"height -2^31", good32(testsupport::kHeight, 0x80000000u), Failure::loadHeightTooLarge},
      {"height 9 of 8 stored", good32(testsupport::kHeight, 9), Failure::loadBeyondEnd},
      {"height -9 of 8 stored", good32(testsupport::kHeight, storedHeight(-9)),
       Failure::loadBeyondEnd},
  };
}

// A small file with padded rows: stride 8, pixels at 70.
const testsupport::Picture& paddedPicture() {
  static const testsupport::Picture p = picture(5, 3, 4);
  return p;
}
constexpr std::size_t kPaddedComplete = 70 + 2 * 8 + 5;  // the last row's padding missing

// Every cut of the padded file, with the failure it must give (none from
// kPaddedComplete on).
std::vector<Refusal> everyCut() {
  const Bytes full = testsupport::build(paddedPicture());
  std::vector<Refusal> cases;
  for (std::size_t length = 0; length < kPaddedComplete; ++length) {
    const Failure failure = length < 54   ? Failure::loadShortHeader
                            : length < 70 ? Failure::loadDataOffset
                                          : Failure::loadBeyondEnd;
    cases.push_back({"cut at " + std::to_string(length),
                     Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length)),
                     failure});
  }
  return cases;
}

void expectAllRefused(const std::vector<Refusal>& cases) {
  TempDir dir;
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    expectRefused(dir, c.file, c.failure);
  }
}

}  // namespace

TEST(Malformed, EachHeaderCheckAlone) { expectAllRefused(eachHeaderCheckAlone()); }

TEST(Malformed, CombinedHeaderChecksReportTheFirst) { expectAllRefused(combinedHeaderChecks()); }

// The geometry checks run in a fixed order: starting from a file that fails
// all of them, mending one field at a time moves on to the next failure.
TEST(Malformed, GeometryChecksInOrder) {
  Bytes file = goodFile();
  file.resize(1078 + 10);  // pixel block of 8 rows cannot fit
  testsupport::putLe32(file, testsupport::kCompression, 1);
  testsupport::putLe32(file, testsupport::kWidth, 0);
  testsupport::putLe32(file, testsupport::kHeight, 0);
  testsupport::putLe32(file, testsupport::kDataOffset, 53);
  TempDir dir;
  expectRefused(dir, file, Failure::loadCompressed);
  testsupport::putLe32(file, testsupport::kCompression, 0);
  expectRefused(dir, file, Failure::loadWidth);
  testsupport::putLe32(file, testsupport::kWidth, 0x7FFFFFFF);
  expectRefused(dir, file, Failure::loadHeightZero);
  testsupport::putLe32(file, testsupport::kHeight, 65536);
  expectRefused(dir, file, Failure::loadHeightTooLarge);
  testsupport::putLe32(file, testsupport::kHeight, 2);
  expectRefused(dir, file, Failure::loadPixelCount);
  testsupport::putLe32(file, testsupport::kWidth, 8);
  expectRefused(dir, file, Failure::loadDataOffset);
  testsupport::putLe32(file, testsupport::kDataOffset, 1078);
  testsupport::putLe32(file, testsupport::kHeight, 8);
  expectRefused(dir, file, Failure::loadBeyondEnd);
  testsupport::putLe32(file, testsupport::kHeight, 1);
  EXPECT_EQ(expectAccepted(dir, file, 8, 1), storedRows(file, 1078, 8, 1));
}

// Every cut of a small file with padded rows (0, 1, 13, 14, 53 and 54 bytes,
// inside the colour table, at the pixel offset, inside the pixels): refused
// until the last row's pixels are complete; its missing padding is accepted.
TEST(Malformed, EveryCutOfAPaddedFile) {
  const Bytes full = testsupport::build(paddedPicture());
  ASSERT_EQ(full.size(), 70u + 3 * 8);
  expectAllRefused(everyCut());
  TempDir dir;
  for (std::size_t length = kPaddedComplete; length <= full.size(); ++length) {
    SCOPED_TRACE("cut at " + std::to_string(length));
    const Bytes file(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(expectAccepted(dir, file, 5, 3), paddedPicture().pixels);
  }
}

// Refused offsets; an offset inside the colour table reads the table's bytes
// as pixels.
TEST(Malformed, PixelDataOffsets) {
  expectAllRefused(refusedOffsets());
  const Bytes good = goodFile();
  const std::uint32_t size = static_cast<std::uint32_t>(good.size());
  for (std::uint32_t offset : {54u, 55u, 1000u, size - 64}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    const Bytes file = withLe32(good, testsupport::kDataOffset, offset);
    EXPECT_EQ(expectAccepted(file, 8, 8), storedRows(file, offset, 8, 8));
  }
}

TEST(Malformed, RefusedDimensions) { expectAllRefused(refusedDimensions()); }

// Narrow and odd widths, every row padding, short, top-down (a stored height
// of -1 included) and very tall files: the record holds the file's rows in
// file order, unpadded, and so does a re-read into a plane whose rows lie
// apart. The 4-row and 2049-row files lack the last row's padding, which is
// accepted. The padded rows of the widest pictures fill more than one of the
// loader's read chunks (about 1 MiB), the last one short.
TEST(Malformed, AcceptedShapes) {
  struct Shape {
    std::int32_t width;
    std::vector<std::int32_t> rows;
  };
  const Shape shapes[] = {
      {1, {1, 2, 3, 4, 9}},   {2, {1, 2, 3, 4, 9, 65535}}, {3, {1, 2, 3, 4, 9}},
      {4, {1, 2, 3, 4, 9}},   {5, {1, 2, 3, 4, 9}},        {6, {1, 2, 3, 4, 9}},
      {7, {1, 2, 3, 4, 9}},   {8, {1, 2, 3, 4, 9}},        {124, {1, 2, 3, 4, 9}},
      {125, {1, 2, 3, 4, 9}}, {126, {1, 2, 3, 4, 9}},      {127, {1, 2, 3, 4, 9}},
      {1027, {4, 1023, 2049}}};
  TempDir dir;
  for (const Shape& shape : shapes) {
    for (std::int32_t rows : shape.rows) {
      for (bool topDown : {false, true}) {
        SCOPED_TRACE("width " + std::to_string(shape.width) + " rows " + std::to_string(rows) +
                     (topDown ? " top-down" : ""));
        testsupport::Picture p = picture(shape.width, rows, rows > 9 ? 0 : 256);
        p.topDown = topDown;
        p.dropLastRowPadding = rows == 4 || rows == 2049;
        const Bytes file = testsupport::build(p);
        ASSERT_EQ(describe(loadBothWays(dir, file)), "accepted");
        Bitmap bmp;
        ASSERT_EQ(describe(dwt97::bmpLoad(&bmp, dir.file("in.bmp").c_str())), "accepted");
        EXPECT_EQ(bmp.height, rows);
        EXPECT_EQ(Bytes(bmp.data, bmp.data + p.pixels.size()), p.pixels);
        TestPlane plane(shape.width, rows, 0xA5);
        EXPECT_EQ(describe(dwt97::bmpReadPlane(&bmp, dir.file("in.bmp").c_str(), plane.get())),
                  "accepted");
        Bytes reread;
        for (const TestPlane::Line& line : plane.rows()) {
          reread.insert(reread.end(), line.begin(), line.end());
        }
        EXPECT_EQ(reread, p.pixels);
        bmpRelease(&bmp);
      }
    }
  }
}

// Colour tables of every length from none to 256 entries, and tables with
// other contents: the table is never read, so the pixels are always the same.
TEST(Malformed, ColourTablesDoNotMatter) {
  const testsupport::Picture base = picture(7, 5, 0);
  TempDir dir;
  for (std::uint32_t entries = 0; entries <= 256; ++entries) {
    SCOPED_TRACE("colour table of " + std::to_string(entries));
    testsupport::Picture p = base;
    p.colorTableEntries = entries;
    p.tableTint = static_cast<std::uint8_t>(entries * 37);
    EXPECT_EQ(expectAccepted(dir, testsupport::build(p), 7, 5), base.pixels);
  }
  // Same length, different contents (even a table that looks like a header).
  Bytes scrambled = testsupport::build(picture(7, 5, 256));
  for (std::size_t at = 54; at < 1078; ++at) scrambled[at] = static_cast<std::uint8_t>(at * 97);
  scrambled[54] = 'B';
  scrambled[55] = 'M';
  EXPECT_EQ(expectAccepted(scrambled, 7, 5), base.pixels);
}

// Only the file loader opens anything: a missing file and a folder.
TEST(Malformed, FilesThatCannotBeLoaded) {
  TempDir dir;
  Bitmap bmp;
  EXPECT_EQ(describe(dwt97::bmpLoad(&bmp, dir.file("missing.bmp").c_str())),
            describe(Failure::loadOpen));
  EXPECT_EQ(bmp.data, nullptr);
  EXPECT_EQ(describe(dwt97::bmpLoad(&bmp, dir.path().c_str())),
            describe(Failure::loadNotRegularFile));
  EXPECT_EQ(bmp.data, nullptr);
}

// A file past 4 GiB (sparse beyond its pixels) is measured whole: a 32-bit
// size would see 500 bytes and refuse the pixel data offset.
TEST(Malformed, FilePastFourGibibytes) {
  TempDir dir;
  writeFile(dir.file("quilgray.bmp"), goodFile());
  std::error_code error;
  std::filesystem::resize_file(fsPath(dir.file("quilgray.bmp")), (std::uint64_t{1} << 32) + 500,
                               error);
  if (error) GTEST_SKIP() << "no sparse 4 GiB file here: " << error.message();
  Bitmap bmp;
  ASSERT_EQ(describe(dwt97::bmpLoad(&bmp, dir.file("quilgray.bmp").c_str())), "accepted");
  EXPECT_EQ(Bytes(bmp.data, bmp.data + 64), picture(8, 8).pixels);
  bmpRelease(&bmp);
}

// Every refusal, every cut, a missing file and a folder through both loaders
// in one process: no failure may leave memory behind (checked by the leak
// detector where the build has one) or a file open.
TEST(Malformed, RefusalsLeaveNothingBehind) {
  std::vector<Refusal> all;
  for (auto cases : {eachHeaderCheckAlone(), combinedHeaderChecks(), refusedOffsets(),
                     refusedDimensions(), everyCut()}) {
    all.insert(all.end(), cases.begin(), cases.end());
  }
  expectAllRefused(all);
  TempDir dir;
  const int descriptors = openDescriptors();
  for (const std::string& path : {dir.file("missing.bmp"), dir.path()}) {
    Bitmap bmp;
    EXPECT_TRUE(dwt97::bmpLoad(&bmp, path.c_str()).has_value());
  }
  EXPECT_EQ(openDescriptors(), descriptors);
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "a failed load left memory behind";
#endif
}
