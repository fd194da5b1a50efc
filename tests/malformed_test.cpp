// Malformed and odd input files, run through the real binary. Every file is a
// good default built in code with one or more fields broken; each run must
// end either in the exact output, or in the exact one-line error with status
// 1, nothing on standard output and an older "quilout.dat" left as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dwt97/bitmap.h"
#include "bmp_builder.h"
#include "dwt97/filterbank.h"
#include "messages.h"
#include "test_support.h"

using namespace testsupport;
using namespace messages;

namespace {

const Bytes kOlderOutput = {'o', 'l', 'd', 'e', 'r', 0, 255, '\n'};

// The default good file: 8 x 8 with a full 256-entry colour table (pixels at 1078).
Bytes goodFile() { return bmpbuild::build(picture(8, 8)); }

// The default good file with one field replaced.
Bytes good16(std::size_t at, std::uint32_t value) { return withLe16(goodFile(), at, value); }
Bytes good32(std::size_t at, std::uint32_t value) { return withLe32(goodFile(), at, value); }

std::uint32_t storedHeight(std::int64_t value) { return static_cast<std::uint32_t>(value); }

// Runs the tool on `file` in a folder that already holds an older output.
RunResult runOn(const TempDir& dir, const Bytes& file, const RunOptions& options = {}) {
  writeFile(dir.file("quilgray.bmp"), file);
  writeFile(dir.file("quilout.dat"), kOlderOutput);
  return runTool(dir.path(), options);
}

// Each check runs in `dir` (reusable: a run leaves the input and the output)
// or in a fresh folder.
void expectRefused(const TempDir& dir, const Bytes& file, const std::string& message,
                   const RunOptions& options = {}) {
  const RunResult run = runOn(dir, file, options);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, message);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(listDir(dir.path()), kInputAndOutput);
  EXPECT_EQ(readFile(dir.file("quilout.dat")), kOlderOutput);
}

void expectRefused(const Bytes& file, const std::string& message, const RunOptions& options = {}) {
  TempDir dir;
  expectRefused(dir, file, message, options);
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

std::string reportLine(const std::string& report, const std::string& key) {
  const std::size_t at = report.find("\n" + key + " = ");
  if (at == std::string::npos) return "";
  return report.substr(at + 1, report.find('\n', at + 1) - at - 1);
}

// Runs an accepted file; returns the output file after checking the run.
Bytes expectAccepted(const TempDir& dir, const Bytes& file, std::int32_t width,
                     std::int32_t rows) {
  const RunResult run = runOn(dir, file);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(reportLine(run.out, "Width"), "Width = " + std::to_string(width) + " ");
  EXPECT_EQ(reportLine(run.out, "Height"), "Height = " + std::to_string(rows) + " ");
  EXPECT_EQ(listDir(dir.path()), kInputAndOutput);
  return readFile(dir.file("quilout.dat"));
}

Bytes expectAccepted(const Bytes& file, std::int32_t width, std::int32_t rows) {
  TempDir dir;
  return expectAccepted(dir, file, width, rows);
}

struct Refusal {
  const char* name;
  Bytes file;
  const char* message;
};

void expectAllRefused(const std::vector<Refusal>& cases) {
  TempDir dir;
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    expectRefused(dir, c.file, c.message);
  }
}

}  // namespace

// Each header check broken alone, with the values other bitmap variants use,
// and every compression method: compressed bytes are not pixels.
TEST(Malformed, EachHeaderCheckAlone) {
  std::vector<Refusal> cases = {
      {"signature MB", good16(bmpbuild::kSignature, 0x424D), kSignature},
      {"signature 0", good16(bmpbuild::kSignature, 0), kSignature},
      {"signature BA", good16(bmpbuild::kSignature, 0x4142), kSignature},
  };
  for (std::uint32_t size : {0u, 12u, 39u, 41u, 64u, 108u, 124u}) {
    cases.push_back({"info size", good32(bmpbuild::kInfoSize, size), kInfoSize});
  }
  for (std::uint32_t planes : {0u, 2u, 30000u, 256u}) {
    cases.push_back({"planes", good16(bmpbuild::kPlanes, planes), kPlanes});
  }
  for (std::uint32_t bits : {0u, 1u, 4u, 16u, 24u, 32u, 30000u, 264u}) {
    cases.push_back({"bits per pixel", good16(bmpbuild::kBitsPerPixel, bits), kBits});
  }
  for (std::uint32_t method : {1u, 2u, 3u, 4u, 0xFFFFFFFFu}) {
    cases.push_back({"compression", good32(bmpbuild::kCompression, method), kCompressed});
  }
  expectAllRefused(cases);
}

// Every combination of broken header checks reports only the first, in the
// order signature, info size, planes, bits per pixel, even when the geometry
// is broken too.
TEST(Malformed, CombinedHeaderChecksReportTheFirst) {
  const char* messages[] = {kSignature, kInfoSize, kPlanes, kBits};
  for (int broken = 1; broken < 16; ++broken) {
    for (bool badGeometry : {false, true}) {
      Bytes file = goodFile();
      if (broken & 1) bmpbuild::putLe16(file, bmpbuild::kSignature, 0x424D);
      if (broken & 2) bmpbuild::putLe32(file, bmpbuild::kInfoSize, 124);
      if (broken & 4) bmpbuild::putLe16(file, bmpbuild::kPlanes, 0);
      if (broken & 8) bmpbuild::putLe16(file, bmpbuild::kBitsPerPixel, 24);
      if (badGeometry) {
        bmpbuild::putLe32(file, bmpbuild::kCompression, 1);
        bmpbuild::putLe32(file, bmpbuild::kWidth, 0);
        bmpbuild::putLe32(file, bmpbuild::kDataOffset, 0);
      }
      int first = 0;
      while (!(broken & (1 << first))) ++first;
      SCOPED_TRACE("broken checks mask " + std::to_string(broken) +
                   (badGeometry ? " with bad geometry" : ""));
      expectRefused(file, messages[first]);
    }
  }
}

// The geometry checks run in a fixed order: starting from a file that fails
// all of them, mending one field at a time moves on to the next message.
TEST(Malformed, GeometryChecksInOrder) {
  Bytes file = goodFile();
  file.resize(1078 + 10);  // pixel block of 8 rows cannot fit
  bmpbuild::putLe32(file, bmpbuild::kCompression, 1);
  bmpbuild::putLe32(file, bmpbuild::kWidth, 0);
  bmpbuild::putLe32(file, bmpbuild::kHeight, 0);
  bmpbuild::putLe32(file, bmpbuild::kDataOffset, 53);
  expectRefused(file, kCompressed);
  bmpbuild::putLe32(file, bmpbuild::kCompression, 0);
  expectRefused(file, kWidth);
  bmpbuild::putLe32(file, bmpbuild::kWidth, 0x7FFFFFFF);
  expectRefused(file, kHeightZero);
  bmpbuild::putLe32(file, bmpbuild::kHeight, 65536);
  expectRefused(file, kHeightBig);
  bmpbuild::putLe32(file, bmpbuild::kHeight, 2);
  expectRefused(file, kPixelCount);
  bmpbuild::putLe32(file, bmpbuild::kWidth, 8);
  expectRefused(file, kOffset);
  bmpbuild::putLe32(file, bmpbuild::kDataOffset, 1078);
  bmpbuild::putLe32(file, bmpbuild::kHeight, 8);
  expectRefused(file, kBeyondEnd);
  bmpbuild::putLe32(file, bmpbuild::kHeight, 1);
  expectAccepted(file, 8, 1);
}

// Every cut of a small file with padded rows (0, 1, 13, 14, 53 and 54 bytes,
// inside the colour table, at the pixel offset, inside the pixels): refused
// until the last row's pixels are complete; its missing padding is accepted.
TEST(Malformed, EveryCutOfAPaddedFile) {
  const bmpbuild::Picture p = picture(5, 3, 4);  // stride 8, pixels at 70
  const Bytes full = bmpbuild::build(p);
  ASSERT_EQ(full.size(), 70u + 3 * 8);
  const std::size_t complete = 70 + 2 * 8 + 5;
  const Bytes expected = transformed(5, 3, p.pixels);
  TempDir dir;
  for (std::size_t length = 0; length <= full.size(); ++length) {
    SCOPED_TRACE("cut at " + std::to_string(length));
    const Bytes file(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
    if (length < 54) {
      expectRefused(dir, file, kShort);
    } else if (length < 70) {
      expectRefused(dir, file, kOffset);
    } else if (length < complete) {
      expectRefused(dir, file, kBeyondEnd);
    } else {
      EXPECT_EQ(expectAccepted(dir, file, 5, 3), expected);
    }
  }
}

// Pixel data offsets below the headers, past the end or negative are refused;
// an offset inside the colour table reads the table's bytes as pixels.
TEST(Malformed, PixelDataOffsets) {
  const Bytes good = goodFile();
  const std::uint32_t size = static_cast<std::uint32_t>(good.size());
  expectAllRefused({
      {"offset 0", good32(bmpbuild::kDataOffset, 0), kOffset},
      {"offset 53", good32(bmpbuild::kDataOffset, 53), kOffset},
      {"offset past the end", good32(bmpbuild::kDataOffset, size + 1), kOffset},
      {"offset far past the end", good32(bmpbuild::kDataOffset, 0x7FFFFFFF), kOffset},
      {"offset -1", good32(bmpbuild::kDataOffset, 0xFFFFFFFFu), kOffset},
      {"offset -2^31", good32(bmpbuild::kDataOffset, 0x80000000u), kOffset},
      {"offset at the end", good32(bmpbuild::kDataOffset, size), kBeyondEnd},
      {"offset one row short", good32(bmpbuild::kDataOffset, size - 63), kBeyondEnd},
  });
  for (std::uint32_t offset : {54u, 55u, 1000u, size - 64}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    const Bytes file = withLe32(good, bmpbuild::kDataOffset, offset);
    EXPECT_EQ(expectAccepted(file, 8, 8), transformed(8, 8, storedRows(file, offset, 8, 8)));
  }
}

// Widths below 1, heights of 0 or beyond 65535 rows either way, pixel
// counts beyond 32 bits, and dimensions the file's bytes cannot hold.
TEST(Malformed, RefusedDimensions) {
  expectAllRefused({
      {"width 0", good32(bmpbuild::kWidth, 0), kWidth},
      {"width -1", good32(bmpbuild::kWidth, 0xFFFFFFFFu), kWidth},
      {"width -8", good32(bmpbuild::kWidth, 0xFFFFFFF8u), kWidth},
      {"width -2^31", good32(bmpbuild::kWidth, 0x80000000u), kWidth},
      // 2^31 - 1 pixels fit 32 bits in one row, but not in the file.
      {"width 2^31-1, 1 row",
       withLe32(good32(bmpbuild::kWidth, 0x7FFFFFFF), bmpbuild::kHeight, 1), kBeyondEnd},
      {"width 2^31-1, 8 rows", good32(bmpbuild::kWidth, 0x7FFFFFFF), kPixelCount},
      {"height 0", good32(bmpbuild::kHeight, 0), kHeightZero},
      {"height 65536", good32(bmpbuild::kHeight, 65536), kHeightBig},
      {"height 70000", good32(bmpbuild::kHeight, 70000), kHeightBig},
      {"height 2^31-1", good32(bmpbuild::kHeight, 0x7FFFFFFF), kHeightBig},
      {"height -65536", good32(bmpbuild::kHeight, storedHeight(-65536)), kHeightBig},
      {"height -2^31", good32(bmpbuild::kHeight, 0x80000000u), kHeightBig},
      {"height 9 of 8 stored", good32(bmpbuild::kHeight, 9), kBeyondEnd},
      {"height -9 of 8 stored", good32(bmpbuild::kHeight, storedHeight(-9)), kBeyondEnd},
  });
}

// Narrow and odd widths, every row padding: the output matches the passes run
// here on the file's samples. The 4-row and 2049-row files lack the last
// row's padding, which is accepted. The padded rows of the widest pictures
// fill more than one of the loader's read chunks (about 1 MiB), the last one
// short.
TEST(Malformed, AcceptedWidths) {
  const std::vector<std::pair<std::int32_t, std::vector<std::int32_t>>> shapes = {
      {1, {1, 2, 3, 4, 9, 65, 200}}, {2, {1, 2, 3, 4, 9}},   {3, {1, 2, 3, 4, 9}},
      {4, {1, 2, 3, 4, 9}},   {5, {1, 2, 3, 4, 9}},   {6, {1, 2, 3, 4, 9}},
      {7, {1, 2, 3, 4, 9}},   {8, {1, 2, 3, 4, 9}},   {124, {1, 2, 3, 4, 9}},
      {125, {1, 2, 3, 4, 9}}, {126, {1, 2, 3, 4, 9}}, {127, {1, 2, 3, 4, 9}},
      {1027, {4, 1023, 2049}}};
  for (const auto& shape : shapes) {
    const std::int32_t width = shape.first;
    for (std::int32_t rows : shape.second) {
      SCOPED_TRACE("width " + std::to_string(width) + " rows " + std::to_string(rows));
      bmpbuild::Picture p = picture(width, rows, 0);
      p.dropLastRowPadding = rows == 4 || rows == 2049;
      const Bytes file = bmpbuild::build(p);
      const std::size_t stride = static_cast<std::size_t>((width + 3) / 4 * 4);
      ASSERT_EQ(file.size(), 54 + stride * (rows - 1) + (p.dropLastRowPadding ? width : stride));
      const Bytes output = expectAccepted(file, width, rows);
      EXPECT_EQ(output, transformed(width, rows, p.pixels));
      if (width == 1 || rows == 1) {
        // One column or one row: one pass has nothing to filter and the
        // other filters only the zero fill.
        EXPECT_EQ(output, Bytes(static_cast<std::size_t>(width * rows), 0));
      }
    }
  }
}

// Short, top-down (a stored height of -1 included) and very tall files,
// 65535 rows kept cheap with a width of 2. A top-down file keeps its rows in
// file order, so it gives the output of the bottom-up file with the same bytes.
TEST(Malformed, AcceptedHeights) {
  for (std::int32_t rows : {1, 2, 3, 65535}) {
    for (bool topDown : {false, true}) {
      SCOPED_TRACE("rows " + std::to_string(rows) + (topDown ? " top-down" : ""));
      const std::int32_t width = rows > 3 ? 2 : 6;
      bmpbuild::Picture p = picture(width, rows, rows > 3 ? 0 : 256);
      p.topDown = topDown;
      const Bytes output = expectAccepted(bmpbuild::build(p), width, rows);
      ASSERT_EQ(output.size(), static_cast<std::size_t>(width) * rows);
      EXPECT_EQ(output, transformed(width, rows, p.pixels));
      // Odd height: the last row of the result keeps its zero fill (with one
      // row the column pass writes nothing at all).
      if (rows % 2) {
        EXPECT_EQ(Bytes(output.end() - width, output.end()), Bytes(width, 0));
      }
    }
  }
}

// Huge dimensions declared by a file of a few hundred bytes are refused from
// the header alone: never a large allocation, checked under a memory limit.
TEST(Malformed, HugeDimensionsNeedNoMemory) {
  Bytes small = bmpbuild::build(picture(4, 4, 64));  // 326 bytes
  ASSERT_LT(small.size(), 400u);
  RunOptions limited;
#ifndef __SANITIZE_ADDRESS__
  // The sanitizer's shadow memory needs a vast address space; elsewhere a
  // 2 GB buffer could not be had under this limit.
  limited.addressSpaceLimit = 256L << 20;
#endif
  struct Dimensions {
    std::uint32_t width;
    std::uint32_t height;
    const char* message;
  };
  const Dimensions cases[] = {
      {32768, 65535, kBeyondEnd},          // 2^31 - 32768 pixels: fits 32 bits
      {65535, storedHeight(-32768), kBeyondEnd},
      {46340, 46340, kBeyondEnd},
      {0x7FFFFFFF, 1, kBeyondEnd},
      {0x7FFFFFFF, 65535, kPixelCount},
      {65535, 65535, kPixelCount},
      {46341, 46341, kPixelCount},
  };
  TempDir dir;
  for (const Dimensions& d : cases) {
    SCOPED_TRACE(std::to_string(d.width) + " x " + std::to_string(d.height));
    Bytes file = withLe32(small, bmpbuild::kWidth, d.width);
    bmpbuild::putLe32(file, bmpbuild::kHeight, d.height);
    expectRefused(dir, file, d.message, limited);
  }
}

// Colour tables of every length from none to 256 entries, and tables with
// other contents: the table is never read, so the output is always the same.
TEST(Malformed, ColourTablesDoNotMatter) {
  const bmpbuild::Picture base = picture(7, 5, 0);
  const Bytes expected = transformed(7, 5, base.pixels);
  TempDir dir;
  for (std::uint32_t entries = 0; entries <= 256; ++entries) {
    SCOPED_TRACE("colour table of " + std::to_string(entries));
    bmpbuild::Picture p = base;
    p.colorTableEntries = entries;
    p.tableTint = static_cast<std::uint8_t>(entries * 37);
    EXPECT_EQ(expectAccepted(dir, bmpbuild::build(p), 7, 5), expected);
  }
  // Same length, different contents (even a table that looks like a header).
  Bytes scrambled = bmpbuild::build(picture(7, 5, 256));
  for (std::size_t at = 54; at < 1078; ++at) scrambled[at] = static_cast<std::uint8_t>(at * 97);
  scrambled[54] = 'B';
  scrambled[55] = 'M';
  EXPECT_EQ(expectAccepted(scrambled, 7, 5), expected);
}

// A folder named "quilgray.bmp" is not a bitmap.
TEST(Malformed, InputIsAFolder) {
  TempDir dir;
  ASSERT_TRUE(makeFolder(dir.file("quilgray.bmp")));
  const RunResult run = runTool(dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, kNotRegular);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"quilgray.bmp"});
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
  const RunResult run = runTool(dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readFile(dir.file("quilout.dat")), transformed(8, 8, picture(8, 8).pixels));
}
