// The failure seam the fuzz target uses: with a handler installed, a failing
// operation hands over its message and unwinds, having closed its file and
// released its buffers first. Without one (the tool), fatal() ends the
// process with the message and status 1.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#endif

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bmp_builder.h"
#include "core/report.h"
#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"
#include "messages.h"
#include "test_support.h"

using dwt97::planeAllocate;
using dwt97::PlaneBuffer;
using dwt97::planeRelease;
using dwt97::setFatalHandler;
using dwt97::detail::fatal;

using namespace testsupport;

namespace {

struct Failure {
  std::string message;
};

void throwFailure(const char* message) { throw Failure{message}; }

// Installs the throwing handler for the test's duration.
class WithHandler : public ::testing::Test {
 protected:
  void SetUp() override { setFatalHandler(throwFailure); }
  void TearDown() override { setFatalHandler(nullptr); }
};

// Runs `operation`, which must fail; returns the message it handed over.
template <typename Operation>
std::string failureOf(Operation operation) {
  try {
    operation();
  } catch (const Failure& failure) {
    return failure.message;
  }
  ADD_FAILURE() << "the operation did not fail";
  return "";
}

}  // namespace

// Refused at every stage of the load: the file is closed, no pixel buffer is
// left (under LeakSanitizer a forgotten one fails the suite) and nothing is
// written to standard error.
TEST_F(WithHandler, FailedLoadClosesAndReleases) {
  TempDir dir;
  const std::string path = dir.file("quilgray.bmp");
  const Bytes good = testsupport::build(picture(6, 4));
  struct Case {
    std::string path;
    Bytes file;  // written to `path` unless empty
    const char* message;
  };
  const Case cases[] = {
      {path, Bytes(good.begin(), good.begin() + 20), messages::kShort},
      {path, withLe16(good, testsupport::kBitsPerPixel, 24), messages::kBits},
      {path, withLe32(good, testsupport::kHeight, 0), messages::kHeightZero},
      {path, Bytes(good.begin(), good.end() - 3), messages::kBeyondEnd},
      {dir.file("missing.bmp"), {}, messages::kOpen},
      {dir.path(), {}, messages::kNotRegular},
  };
  const int descriptors = openDescriptors();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    if (!c.file.empty()) writeFile(c.path, c.file);
    Bitmap bmp;
    bmp.data = reinterpret_cast<std::uint8_t*>(&bmp);  // must not survive
    testing::internal::CaptureStderr();
    EXPECT_EQ(failureOf([&] { bmpLoad(&bmp, c.path.c_str()); }), c.message);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the message is the handler's alone
    EXPECT_EQ(bmp.data, nullptr);
    EXPECT_EQ(openDescriptors(), descriptors);
  }
}

// The re-read of a file gone or cut since the load releases its block and
// closes the file before it fails.
TEST_F(WithHandler, FailedRereadClosesAndReleases) {
  TempDir dir;
  const std::string path = dir.file("quilgray.bmp");
  const Bytes file = testsupport::build(picture(6, 4));
  writeFile(path, file);
  Bitmap bmp;
  bmpLoad(&bmp, path.c_str());
  PlaneBuffer plane = testsupport::newPlane(bmp.width, bmp.height);
  const int descriptors = openDescriptors();

  writeFile(path, Bytes(file.begin(), file.end() - 3));
  EXPECT_EQ(failureOf([&] { bmpReadPlane(&bmp, path.c_str(), plane.rows); }),
            messages::kReadPlaneRead);
  EXPECT_EQ(openDescriptors(), descriptors);
  ASSERT_TRUE(removeFile(path));
  EXPECT_EQ(failureOf([&] { bmpReadPlane(&bmp, path.c_str(), plane.rows); }), messages::kReopen);
  EXPECT_EQ(openDescriptors(), descriptors);

  planeRelease(&plane);
  bmpRelease(&bmp);
}

// Without a handler, or with one that returns, the process ends as before.
TEST(FatalDeathTest, EndsTheProcessWithStatusOne) {
  EXPECT_EXIT(fatal("Error: test(), Gone!\n"), ::testing::ExitedWithCode(1),
              exactly("Error: test(), Gone!\n"));
  EXPECT_EXIT(
      {
        setFatalHandler([](const char*) {});
        fatal("Error: test(), Still gone!\n");
      },
      ::testing::ExitedWithCode(1), exactly("Error: test(), Still gone!\n"));
}

// Every entry of the failure table, against the texts typed out for the
// tests, with its group; an out-of-memory failure names its operation.
TEST(FailureTable, TextsAndGroups) {
  using dwt97::Failure;
  using G = dwt97::FailureGroup;
  const struct {
    Failure kind;
    G group;
    const char* text;
  } table[] = {
      {Failure::loadOpen, G::io, messages::kOpen},
      {Failure::loadNotRegularFile, G::io, messages::kNotRegular},
      {Failure::loadShortHeader, G::truncated, messages::kShort},
      {Failure::loadSignature, G::malformed, messages::kSignature},
      {Failure::loadInfoSize, G::unsupported, messages::kInfoSize},
      {Failure::loadPlanes, G::malformed, messages::kPlanes},
      {Failure::loadBitsPerPixel, G::unsupported, messages::kBits},
      {Failure::loadCompressed, G::unsupported, messages::kCompressed},
      {Failure::loadWidth, G::malformed, messages::kWidth},
      {Failure::loadHeightZero, G::malformed, messages::kHeightZero},
      {Failure::loadHeightTooLarge, G::unsupported, messages::kHeightBig},
      {Failure::loadPixelCount, G::unsupported, messages::kPixelCount},
      {Failure::loadDataOffset, G::malformed, messages::kOffset},
      {Failure::loadBeyondEnd, G::truncated, messages::kBeyondEnd},
      {Failure::loadRead, G::io, messages::kLoadRead},
      {Failure::readPlaneOpen, G::io, messages::kReopen},
      {Failure::readPlaneRead, G::truncated, messages::kReadPlaneRead},
      {Failure::saveCreate, G::io, messages::kCreate},
      {Failure::saveWrite, G::io, messages::kWrite},
      {Failure::outOfMemory, G::outOfMemory, messages::kOutOfMemory},
      {Failure::sameFile, G::io, messages::kSameFile},
      {Failure::tooManyLevels, G::unsupported, messages::kTooManyLevels},
      {Failure::pgmMalformed, G::malformed, messages::kPgmMalformed},
      {Failure::pgmMaxval, G::malformed, messages::kPgmMaxval},
      {Failure::pgmSample, G::malformed, messages::kPgmSample},
      {Failure::pgmTooLarge, G::unsupported, messages::kPgmTooLarge},
      {Failure::pgmTruncated, G::truncated, messages::kPgmTruncated},
      {Failure::pngMalformed, G::malformed, messages::kPngMalformed},
      {Failure::pngTooLarge, G::unsupported, messages::kPngTooLarge},
      {Failure::pngTruncated, G::truncated, messages::kPngTruncated},
      {Failure::pngNotBuilt, G::unsupported, messages::kPngNotBuilt},
      {Failure::pngWriteNotBuilt, G::unsupported, messages::kPngWriteNotBuilt},
      {Failure::jpegMalformed, G::malformed, messages::kJpegMalformed},
      {Failure::jpegUnsupported, G::unsupported, messages::kJpegUnsupported},
      {Failure::jpegTooLarge, G::unsupported, messages::kJpegTooLarge},
      {Failure::jpegTruncated, G::truncated, messages::kJpegTruncated},
      {Failure::jpegNotBuilt, G::unsupported, messages::kJpegNotBuilt},
      {Failure::jpegTooManyScans, G::unsupported, messages::kJpegTooManyScans},
      {Failure::ppmMalformed, G::malformed, messages::kPpmMalformed},
      {Failure::ppmMaxval, G::malformed, messages::kPpmMaxval},
      {Failure::ppmSample, G::malformed, messages::kPpmSample},
      {Failure::ppmTooLarge, G::unsupported, messages::kPpmTooLarge},
      {Failure::ppmTruncated, G::truncated, messages::kPpmTruncated},
      {Failure::tiffMalformed, G::malformed, messages::kTiffMalformed},
      {Failure::tiffUnsupported, G::unsupported, messages::kTiffUnsupported},
      {Failure::tiffTooLarge, G::unsupported, messages::kTiffTooLarge},
      {Failure::tiffTruncated, G::truncated, messages::kTiffTruncated},
      {Failure::tiffNotBuilt, G::unsupported, messages::kTiffNotBuilt},
      {Failure::gifNotSupported, G::unsupported, messages::kGifNotSupported},
      {Failure::webpNotSupported, G::unsupported, messages::kWebpNotSupported},
      {Failure::pamNotSupported, G::unsupported, messages::kPamNotSupported},
      {Failure::pbmNotSupported, G::unsupported, messages::kPbmNotSupported},
      {Failure::jpeg2000NotSupported, G::unsupported, messages::kJpeg2000NotSupported},
      {Failure::jpegXlNotSupported, G::unsupported, messages::kJpegXlNotSupported},
      {Failure::heifNotSupported, G::unsupported, messages::kHeifNotSupported},
      {Failure::psdNotSupported, G::unsupported, messages::kPsdNotSupported},
      {Failure::planeShapes, G::unsupported, messages::kPlaneShapes},
      {Failure::planeOverlap, G::unsupported, messages::kPlaneOverlap},
      {Failure::levelsNegative, G::unsupported, messages::kLevelsNegative},
      {Failure::coefficientsOverflow, G::unsupported, messages::kCoefficientsOverflow},
      {Failure::npyOpen, G::io, messages::kNpyOpen},
      {Failure::npyNotRegularFile, G::io, messages::kNpyNotRegularFile},
      {Failure::npyRead, G::io, messages::kNpyRead},
      {Failure::npySignature, G::malformed, messages::kNpySignature},
      {Failure::npyHeader, G::malformed, messages::kNpyHeader},
      {Failure::npyTruncated, G::truncated, messages::kNpyTruncated},
      {Failure::npyShape, G::unsupported, messages::kNpyShape},
      {Failure::npyComplex, G::unsupported, messages::kNpyComplex},
      {Failure::npyType, G::unsupported, messages::kNpyType},
      {Failure::npyTooLarge, G::unsupported, messages::kNpyTooLarge},
  };
  // Every failure has its row.
  EXPECT_EQ(sizeof table / sizeof table[0], static_cast<std::size_t>(Failure::npyTooLarge) + 1);
  std::set<std::string> names;
  for (const auto& row : table) {
    // Formats get their operation and their count; every other message is
    // itself whatever they are.
    std::string expected = row.text;
    for (const auto& [format, value] : {std::pair{"%s", "bmpLoad"}, std::pair{"%d", "3"}}) {
      const std::size_t at = expected.find(format);
      if (at != std::string::npos) expected.replace(at, 2, value);
    }
    char message[dwt97::kMessageCapacity];
    EXPECT_EQ(dwt97::formatFailure({row.kind, "bmpLoad", 3}, message, sizeof message), expected);
    EXPECT_EQ(dwt97::failureGroup(row.kind), row.group) << row.text;
    names.insert(dwt97::failureName(row.kind));
  }
  // A stable name for each, its enumerator's.
  EXPECT_EQ(names.size(), sizeof table / sizeof table[0]);
  EXPECT_STREQ(dwt97::failureName(Failure::loadOpen), "loadOpen");
  EXPECT_STREQ(dwt97::failureName(Failure::npyTooLarge), "npyTooLarge");
  // A buffer too small gets what fits, always ended; none gets nothing.
  char small[8] = "ignored";
  EXPECT_STREQ(dwt97::formatFailure({Failure::loadOpen}, small, sizeof small), "Error: ");
  EXPECT_STREQ(dwt97::formatFailure({Failure::loadOpen}, small, 0), "Error: ");
  // The 1.2 table still answers, with the raw text.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  EXPECT_STREQ(dwt97::failureInfo(Failure::outOfMemory).text, messages::kOutOfMemory);
  EXPECT_EQ(dwt97::failureInfo(Failure::pgmSample).group, G::malformed);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  // The process-ending operations' one report: the formatted message.
  setFatalHandler(throwFailure);
  EXPECT_EQ(failureOf([] {
              dwt97::detail::report(dwt97::Error{Failure::outOfMemory, "bmpSave"});
            }),
            "Error: bmpSave(), Out of memory!\n");
  EXPECT_EQ(failureOf([] {
              dwt97::detail::report(dwt97::Error{Failure::saveWrite, "bmpSave"});
            }),
            messages::kWrite);
  EXPECT_EQ(failureOf([] {
              dwt97::detail::report(dwt97::Error{Failure::tooManyLevels, "main", 3});
            }),
            "Error: main(), Too many levels for the picture (at most 3)!\n");
  setFatalHandler(nullptr);
}

// The most levels a shape allows; one more is refused with that number
// before the plane is touched, and none leaves it alone too.
TEST_F(WithHandler, LevelsBeyondThePictureChangeNothing) {
  const struct {
    std::int32_t width, height;
    int most;
  } cases[] = {{1, 1, 1}, {2, 2, 1},   {3, 3, 1},     {4, 4, 2}, {5, 4, 2},
               {4, 3, 1}, {513, 7, 2}, {512, 512, 9}, {0, 0, 1}, {2147483647, 65535, 15}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    EXPECT_EQ(dwtMostLevels(c.width, c.height), c.most);
    if (std::int64_t{c.width} * c.height > 1 << 20) continue;
    TestPlane plane(c.width, c.height, 77);
    const std::vector<std::uint8_t*> before(plane.get(), plane.get() + c.height);
    EXPECT_EQ(failureOf([&] { dwtForward2dLevels(plane.get(), c.width, c.height, c.most + 1, 0); }),
              "Error: dwtForward2dLevels(), Too many levels for the picture (at most " +
                  std::to_string(c.most) + ")!\n");
    dwtForward2dLevels(plane.get(), c.width, c.height, 0, 0);
    EXPECT_EQ(std::vector<std::uint8_t*>(plane.get(), plane.get() + c.height), before);
    for (const auto& row : plane.rows()) EXPECT_EQ(row, TestPlane::Line(c.width, 77));
  }
}
