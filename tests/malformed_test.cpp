// Malformed and odd input files. Every file is a good default built in code
// with one or more fields broken. Each goes through both loaders in this
// process, from memory (tryParse) and from a file (tryLoad): both must give
// the same failure, with nothing left allocated or open, or the same record
// with the file's pixels. A handful of runs of the real binary check that the
// tool reports them with the exact one-line error, status 1, nothing on
// standard output and an older "quilout.dat" left as it was.
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
using namespace messages;

namespace {

const Bytes kOlderOutput = {'o', 'l', 'd', 'e', 'r', 0, 255, '\n'};

// The default good file: 8 x 8 with a full 256-entry colour table (pixels at 1078).
Bytes goodFile() { return bmpbuild::build(picture(8, 8)); }

// The default good file with one field replaced.
Bytes good16(std::size_t at, std::uint32_t value) { return withLe16(goodFile(), at, value); }
Bytes good32(std::size_t at, std::uint32_t value) { return withLe32(goodFile(), at, value); }

std::uint32_t storedHeight(std::int64_t value) { return static_cast<std::uint32_t>(value); }

// A failure by its message, or "accepted": readable in an expectation.
std::string describe(const std::optional<Failure>& failure) {
  return failure ? dwt97::failureInfo(*failure).text : "accepted";
}

#if defined(_WIN32)
int openDescriptors() { return 0; }
#else
// The descriptor the next open would get: a file left open moves it.
int openDescriptors() {
  const int probe = open("/dev/null", O_RDONLY);
  if (probe >= 0) close(probe);
  return probe;
}
#endif

// Loads `file` from memory and from the file `dir`/in.bmp. Both must agree:
// the same failure with no pixel buffer and no file left open, or the same
// record. Returns the failure, and the pixels through `pixels`.
std::optional<Failure> loadBothWays(const TempDir& dir, const Bytes& file, Bytes* pixels = nullptr) {
  const std::string path = dir.file("in.bmp");
  writeFile(path, file);
  const int descriptors = openDescriptors();
  Bitmap fromMemory, fromFile;
  fromMemory.data = fromFile.data = reinterpret_cast<std::uint8_t*>(&fromMemory);  // must go
  const std::optional<Failure> parsed = dwt97::tryParse(&fromMemory, file.data(), file.size());
  const std::optional<Failure> loaded = dwt97::tryLoad(&fromFile, path.c_str());
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
    const std::size_t bytes = std::size_t{fromFile.height} * static_cast<std::size_t>(fromFile.width);
    const Bytes memoryPixels(fromMemory.data, fromMemory.data + bytes);
    const Bytes filePixels(fromFile.data, fromFile.data + bytes);
    EXPECT_EQ(memoryPixels, filePixels);
    if (pixels != nullptr) *pixels = filePixels;
  }
  bmpRelease(&fromMemory);
  bmpRelease(&fromFile);
  return parsed;
}

// Loads an accepted file; returns its pixels (file row order, unpadded).
Bytes expectAccepted(const TempDir& dir, const Bytes& file, std::int32_t width,
                     std::int32_t rows) {
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
      {"signature MB", good16(bmpbuild::kSignature, 0x424D), Failure::loadSignature},
      {"signature 0", good16(bmpbuild::kSignature, 0), Failure::loadSignature},
      {"signature BA", good16(bmpbuild::kSignature, 0x4142), Failure::loadSignature},
  };
  for (std::uint32_t size : {0u, 12u, 39u, 41u, 64u, 108u, 124u}) {
    cases.push_back({"info size", good32(bmpbuild::kInfoSize, size), Failure::loadInfoSize});
  }
  for (std::uint32_t planes : {0u, 2u, 30000u, 256u}) {
    cases.push_back({"planes", good16(bmpbuild::kPlanes, planes), Failure::loadPlanes});
  }
  for (std::uint32_t bits : {0u, 1u, 4u, 16u, 24u, 32u, 30000u, 264u}) {
    cases.push_back(
        {"bits per pixel", good16(bmpbuild::kBitsPerPixel, bits), Failure::loadBitsPerPixel});
  }
  for (std::uint32_t method : {1u, 2u, 3u, 4u, 0xFFFFFFFFu}) {
    cases.push_back(
        {"compression", good32(bmpbuild::kCompression, method), Failure::loadCompressed});
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
      {"offset 0", good32(bmpbuild::kDataOffset, 0), Failure::loadDataOffset},
      {"offset 53", good32(bmpbuild::kDataOffset, 53), Failure::loadDataOffset},
      {"offset past the end", good32(bmpbuild::kDataOffset, size + 1), Failure::loadDataOffset},
      {"offset far past the end", good32(bmpbuild::kDataOffset, 0x7FFFFFFF),
       Failure::loadDataOffset},
      {"offset -1", good32(bmpbuild::kDataOffset, 0xFFFFFFFFu), Failure::loadDataOffset},
      {"offset -2^31", good32(bmpbuild::kDataOffset, 0x80000000u), Failure::loadDataOffset},
      {"offset at the end", good32(bmpbuild::kDataOffset, size), Failure::loadBeyondEnd},
      {"offset one row short", good32(bmpbuild::kDataOffset, size - 63), Failure::loadBeyondEnd},
  };
}

// Widths below 1, heights of 0 or beyond 65535 rows either way, pixel
// counts beyond 32 bits, and dimensions the file's bytes cannot hold.
std::vector<Refusal> refusedDimensions() {
  return {
      {"width 0", good32(bmpbuild::kWidth, 0), Failure::loadWidth},
      {"width -1", good32(bmpbuild::kWidth, 0xFFFFFFFFu), Failure::loadWidth},
      {"width -8", good32(bmpbuild::kWidth, 0xFFFFFFF8u), Failure::loadWidth},
      {"width -2^31", good32(bmpbuild::kWidth, 0x80000000u), Failure::loadWidth},
      // 2^31 - 1 pixels fit 32 bits in one row, but not in the file.
      {"width 2^31-1, 1 row",
       withLe32(good32(bmpbuild::kWidth, 0x7FFFFFFF), bmpbuild::kHeight, 1),
       Failure::loadBeyondEnd},
      {"width 2^31-1, 8 rows", good32(bmpbuild::kWidth, 0x7FFFFFFF), Failure::loadPixelCount},
      {"height 0", good32(bmpbuild::kHeight, 0), Failure::loadHeightZero},
      {"height 65536", good32(bmpbuild::kHeight, 65536), Failure::loadHeightTooLarge},
      {"height 70000", good32(bmpbuild::kHeight, 70000), Failure::loadHeightTooLarge},
      {"height 2^31-1", good32(bmpbuild::kHeight, 0x7FFFFFFF), Failure::loadHeightTooLarge},
      {"height -65536", good32(bmpbuild::kHeight, storedHeight(-65536)),
       Failure::loadHeightTooLarge},
      {"height -2^31", good32(bmpbuild::kHeight, 0x80000000u), Failure::loadHeightTooLarge},
      {"height 9 of 8 stored", good32(bmpbuild::kHeight, 9), Failure::loadBeyondEnd},
      {"height -9 of 8 stored", good32(bmpbuild::kHeight, storedHeight(-9)),
       Failure::loadBeyondEnd},
  };
}

// A small file with padded rows: stride 8, pixels at 70.
const bmpbuild::Picture& paddedPicture() {
  static const bmpbuild::Picture p = picture(5, 3, 4);
  return p;
}
constexpr std::size_t kPaddedComplete = 70 + 2 * 8 + 5;  // the last row's padding missing

// Every cut of the padded file, with the failure it must give (none from
// kPaddedComplete on).
std::vector<Refusal> everyCut() {
  const Bytes full = bmpbuild::build(paddedPicture());
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

// Runs the tool on `file` in a folder that already holds an older output.
RunResult runOn(const TempDir& dir, const Bytes& file) {
  writeFile(dir.file("quilgray.bmp"), file);
  writeFile(dir.file("quilout.dat"), kOlderOutput);
  return runTool(dir.path());
}

}  // namespace

TEST(Malformed, EachHeaderCheckAlone) { expectAllRefused(eachHeaderCheckAlone()); }

TEST(Malformed, CombinedHeaderChecksReportTheFirst) { expectAllRefused(combinedHeaderChecks()); }

// The geometry checks run in a fixed order: starting from a file that fails
// all of them, mending one field at a time moves on to the next failure.
TEST(Malformed, GeometryChecksInOrder) {
  Bytes file = goodFile();
  file.resize(1078 + 10);  // pixel block of 8 rows cannot fit
  bmpbuild::putLe32(file, bmpbuild::kCompression, 1);
  bmpbuild::putLe32(file, bmpbuild::kWidth, 0);
  bmpbuild::putLe32(file, bmpbuild::kHeight, 0);
  bmpbuild::putLe32(file, bmpbuild::kDataOffset, 53);
  TempDir dir;
  expectRefused(dir, file, Failure::loadCompressed);
  bmpbuild::putLe32(file, bmpbuild::kCompression, 0);
  expectRefused(dir, file, Failure::loadWidth);
  bmpbuild::putLe32(file, bmpbuild::kWidth, 0x7FFFFFFF);
  expectRefused(dir, file, Failure::loadHeightZero);
  bmpbuild::putLe32(file, bmpbuild::kHeight, 65536);
  expectRefused(dir, file, Failure::loadHeightTooLarge);
  bmpbuild::putLe32(file, bmpbuild::kHeight, 2);
  expectRefused(dir, file, Failure::loadPixelCount);
  bmpbuild::putLe32(file, bmpbuild::kWidth, 8);
  expectRefused(dir, file, Failure::loadDataOffset);
  bmpbuild::putLe32(file, bmpbuild::kDataOffset, 1078);
  bmpbuild::putLe32(file, bmpbuild::kHeight, 8);
  expectRefused(dir, file, Failure::loadBeyondEnd);
  bmpbuild::putLe32(file, bmpbuild::kHeight, 1);
  EXPECT_EQ(expectAccepted(dir, file, 8, 1), storedRows(file, 1078, 8, 1));
}

// Every cut of a small file with padded rows (0, 1, 13, 14, 53 and 54 bytes,
// inside the colour table, at the pixel offset, inside the pixels): refused
// until the last row's pixels are complete; its missing padding is accepted.
TEST(Malformed, EveryCutOfAPaddedFile) {
  const Bytes full = bmpbuild::build(paddedPicture());
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
    const Bytes file = withLe32(good, bmpbuild::kDataOffset, offset);
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
  const Shape shapes[] = {{1, {1, 2, 3, 4, 9}},   {2, {1, 2, 3, 4, 9, 65535}},
                          {3, {1, 2, 3, 4, 9}},   {4, {1, 2, 3, 4, 9}},
                          {5, {1, 2, 3, 4, 9}},   {6, {1, 2, 3, 4, 9}},
                          {7, {1, 2, 3, 4, 9}},   {8, {1, 2, 3, 4, 9}},
                          {124, {1, 2, 3, 4, 9}}, {125, {1, 2, 3, 4, 9}},
                          {126, {1, 2, 3, 4, 9}}, {127, {1, 2, 3, 4, 9}},
                          {1027, {4, 1023, 2049}}};
  TempDir dir;
  for (const Shape& shape : shapes) {
    for (std::int32_t rows : shape.rows) {
      for (bool topDown : {false, true}) {
        SCOPED_TRACE("width " + std::to_string(shape.width) + " rows " + std::to_string(rows) +
                     (topDown ? " top-down" : ""));
        bmpbuild::Picture p = picture(shape.width, rows, rows > 9 ? 0 : 256);
        p.topDown = topDown;
        p.dropLastRowPadding = rows == 4 || rows == 2049;
        const Bytes file = bmpbuild::build(p);
        ASSERT_EQ(describe(loadBothWays(dir, file)), "accepted");
        Bitmap bmp;
        ASSERT_EQ(describe(dwt97::tryLoad(&bmp, dir.file("in.bmp").c_str())), "accepted");
        EXPECT_EQ(bmp.height, rows);
        EXPECT_EQ(Bytes(bmp.data, bmp.data + p.pixels.size()), p.pixels);
        TestPlane plane(shape.width, rows, 0xA5);
        EXPECT_EQ(describe(dwt97::tryReadPlane(&bmp, dir.file("in.bmp").c_str(), plane.get())),
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
  const bmpbuild::Picture base = picture(7, 5, 0);
  TempDir dir;
  for (std::uint32_t entries = 0; entries <= 256; ++entries) {
    SCOPED_TRACE("colour table of " + std::to_string(entries));
    bmpbuild::Picture p = base;
    p.colorTableEntries = entries;
    p.tableTint = static_cast<std::uint8_t>(entries * 37);
    EXPECT_EQ(expectAccepted(dir, bmpbuild::build(p), 7, 5), base.pixels);
  }
  // Same length, different contents (even a table that looks like a header).
  Bytes scrambled = bmpbuild::build(picture(7, 5, 256));
  for (std::size_t at = 54; at < 1078; ++at) scrambled[at] = static_cast<std::uint8_t>(at * 97);
  scrambled[54] = 'B';
  scrambled[55] = 'M';
  EXPECT_EQ(expectAccepted(scrambled, 7, 5), base.pixels);
}

// Only the file loader opens anything: a missing file and a folder.
TEST(Malformed, FilesThatCannotBeLoaded) {
  TempDir dir;
  Bitmap bmp;
  EXPECT_EQ(describe(dwt97::tryLoad(&bmp, dir.file("missing.bmp").c_str())),
            describe(Failure::loadOpen));
  EXPECT_EQ(bmp.data, nullptr);
  EXPECT_EQ(describe(dwt97::tryLoad(&bmp, dir.path().c_str())),
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
  ASSERT_EQ(describe(dwt97::tryLoad(&bmp, dir.file("quilgray.bmp").c_str())), "accepted");
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
    EXPECT_TRUE(dwt97::tryLoad(&bmp, path.c_str()).has_value());
  }
  EXPECT_EQ(openDescriptors(), descriptors);
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "a failed load left memory behind";
#endif
}

#if !defined(_WIN32)
namespace {

// Runs `check` in a child process whose address space may grow by only
// `margin` bytes beyond what it holds at the start; returns the child's exit
// status (`check`'s result), or -1 when it did not exit.
[[maybe_unused]] int withMemoryLimit(std::size_t margin, const std::function<int()>& check) {
  const pid_t child = fork();
  if (child == 0) {
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
      std::fclose(statm);
    }
    if (pages == 0) _exit(100);
    const rlim_t bytes = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
                         margin;
    const rlimit limit{bytes, bytes};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(101);
    _exit(check());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace

// Memory running out is a value like any other failure: the loaders, the
// plane allocation and the fused transform return outOfMemory with nothing
// left allocated or open and nothing changed, and the process goes on. A
// header declaring a huge picture in a small file is refused from the header
// alone, without any large allocation.
TEST(Malformed, OutOfMemoryUnderAnAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(DWT97_EMULATOR)
  GTEST_SKIP() << "the sanitizers' shadow memory and an emulator's own mappings defeat RLIMIT_AS";
#else
  constexpr std::int32_t kSide = 9000;  // 81 MB of pixels
  bmpbuild::Picture small = picture(8, 8, 0);
  Bytes big = bmpbuild::build(small);
  bmpbuild::putLe32(big, bmpbuild::kWidth, kSide);
  bmpbuild::putLe32(big, bmpbuild::kHeight, kSide);
  big.resize(54 + std::size_t{kSide} * kSide);
  TempDir dir;  // the same file, sparse beyond its header
  writeFile(dir.file("big.bmp"), Bytes(big.begin(), big.begin() + 54));
  std::filesystem::resize_file(fsPath(dir.file("big.bmp")), big.size());
  std::vector<Refusal> huge;
  for (auto [width, height, failure] :
       {std::tuple{32768u, 65535u, Failure::loadBeyondEnd},
        std::tuple{65535u, storedHeight(-32768), Failure::loadBeyondEnd},
        std::tuple{46340u, 46340u, Failure::loadBeyondEnd},
        std::tuple{0x7FFFFFFFu, 1u, Failure::loadBeyondEnd},
        std::tuple{0x7FFFFFFFu, 65535u, Failure::loadPixelCount},
        std::tuple{65535u, 65535u, Failure::loadPixelCount},
        std::tuple{46341u, 46341u, Failure::loadPixelCount}}) {
    Bytes file = withLe32(bmpbuild::build(picture(4, 4, 64)), bmpbuild::kWidth, width);
    bmpbuild::putLe32(file, bmpbuild::kHeight, height);
    huge.push_back({"", file, failure});
  }
  // A picture so wide that one thread's fused ring takes some 60 MB: more
  // than the free store could still have free from earlier tests.
  constexpr std::int32_t kWide = 1 << 20;
  dwt97::PlaneBuffer wide;
  ASSERT_FALSE(dwt97::tryPlaneAllocate(&wide, kWide, 4));
  for (std::int32_t r = 0; r < 4; ++r) std::memset(wide.rows[r], r + 1, kWide);

  const int step = withMemoryLimit(std::size_t{1} << 20, [&]() -> int {
    const int descriptors = openDescriptors();
    Bitmap bmp;
    if (dwt97::tryParse(&bmp, big.data(), big.size()) != Failure::outOfMemory) return 1;
    if (bmp.data != nullptr) return 2;
    if (dwt97::tryLoad(&bmp, dir.file("big.bmp").c_str()) != Failure::outOfMemory) return 3;
    if (bmp.data != nullptr || openDescriptors() != descriptors) return 4;
    dwt97::PlaneBuffer plane;
    if (dwt97::tryPlaneAllocate(&plane, kSide, kSide) != Failure::outOfMemory) return 5;
    if (plane.rows != nullptr || plane.block != nullptr) return 6;
    if (dwt97::tryForward2d(wide.rows, kWide, 4, 1) != Failure::outOfMemory) return 7;
    for (std::int32_t r = 0; r < 4; ++r) {
      for (std::int32_t c = 0; c < kWide; ++c) {
        if (wide.rows[r][c] != r + 1) return 8;
      }
    }
    for (const Refusal& c : huge) {
      if (dwt97::tryParse(&bmp, c.file.data(), c.file.size()) != c.failure) return 9;
    }
    return 0;
  });
  EXPECT_EQ(step, 0) << "the check that failed, numbered in the child";
  dwt97::planeRelease(&wide);
#endif
}
#endif

// The tool reports a refused file with its exact message and status 1, writes
// nothing to standard output and leaves an older output as it was: a header
// check, a file cut inside its header, a pixel block past the end, and a
// folder in the input's place.
TEST(Malformed, TheToolRefusesWithTheExactMessage) {
  const Bytes full = bmpbuild::build(paddedPicture());
  const struct {
    Bytes file;
    const char* message;
  } cases[] = {
      {good16(bmpbuild::kSignature, 0x424D), kSignature},
      {Bytes(full.begin(), full.begin() + 53), kShort},
      {Bytes(full.begin(), full.begin() + kPaddedComplete - 1), kBeyondEnd},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const RunResult run = runOn(dir, c.file);
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
  EXPECT_EQ(run.err, kNotRegular);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(listDir(folder.path()), std::vector<std::string>{"quilgray.bmp"});
}

// Odd files the tool accepts give the output of the passes run here on the
// file's samples: a padded one whose last row lacks its padding, read in
// several chunks, a top-down one, which keeps its rows in file order, and
// one-pixel-wide ones of many rows.
TEST(Malformed, TheToolTransformsOddFiles) {
  bmpbuild::Picture padded = picture(1027, 2049, 0);
  padded.dropLastRowPadding = true;
  bmpbuild::Picture topDown = picture(6, 3, 256);
  topDown.topDown = true;
  // One pixel wide and taller than a gathered write's 64 rows.
  bmpbuild::Picture narrow65 = picture(1, 65, 0);
  bmpbuild::Picture narrow200 = picture(1, 200, 0);
  TempDir dir;
  for (const bmpbuild::Picture* p : {&padded, &topDown, &narrow65, &narrow200}) {
    SCOPED_TRACE("width " + std::to_string(p->width));
    const RunResult run = runOn(dir, bmpbuild::build(*p));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(dir.file("quilout.dat")), transformed(p->width, p->height, p->pixels));
  }
}
