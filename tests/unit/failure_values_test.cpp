// The operations of namespace dwt97, which return a failure instead of
// ending the process: one row per failure each can meet in this process,
// with the operation its message names, and their results against the
// process-ending operations of the same names.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "dwt97/dwt97.h"
#include "test_support.h"

using dwt97::Failure;
using namespace testsupport;

namespace {

struct HandlerCalled {};

// A failure as a row expects it: its kind, its operation and, for too many
// levels, the most there are.
std::string describe(const std::optional<dwt97::Error>& error) {
  if (!error) return "none";
  return std::string(dwt97::failureName(error->failure)) + " of " + error->operation + " " +
         std::to_string(error->mostLevels);
}

}  // namespace

// Every operation of namespace dwt97 returns its failure with the name its
// message gives it; it calls no handler (here one that throws), writes
// nothing to standard error and leaves no file behind.
TEST(FailureValues, EachOperationReturnsItsFailure) {
  TempDir dir;
  const Bytes file = testsupport::build(picture(6, 4));
  const std::string input = dir.file("in.bmp");
  writeFile(input, file);
  Bitmap bmp;
  ASSERT_FALSE(dwt97::bmpLoad(&bmp, input.c_str()));
  TestPlane plane(6, 4);
  const std::string noFolder = dir.file("missing/out.dat");
  ASSERT_TRUE(makeFolder(dir.file("folder")));  // a folder holds the output's name
  const std::string folder = dir.file("folder");
  using dwt97::Error;
  const Error pngSaveFailure{dwt97::canWritePng() ? Failure::saveCreate : Failure::pngWriteNotBuilt,
                             "bmpSavePng"};

  const struct {
    const char* name;
    std::function<std::optional<Error>()> call;
    std::optional<Error> expected;
  } rows[] = {
      {"bmpLoad of a missing file",
       [&] {
         Bitmap other;
         return dwt97::bmpLoad(&other, noFolder.c_str());
       },
       Error{Failure::loadOpen, "bmpLoad"}},
      {"bmpReadPlane of a missing file",
       [&] { return dwt97::bmpReadPlane(&bmp, dir.file("gone.bmp").c_str(), plane.get()); },
       Error{Failure::readPlaneOpen, "bmpReadPlane"}},
      {"bmpReadPlane of a shrunk file",
       [&] {
         writeFile(dir.file("cut.bmp"), Bytes(file.begin(), file.end() - 3));
         return dwt97::bmpReadPlane(&bmp, dir.file("cut.bmp").c_str(), plane.get());
       },
       Error{Failure::readPlaneRead, "bmpReadPlane"}},
      {"bmpSave into no folder", [&] { return dwt97::bmpSave(&bmp, noFolder.c_str(), bmp.data); },
       Error{Failure::saveCreate, "bmpSave"}},
      {"bmpSavePgm over a folder",
       [&] { return dwt97::bmpSavePgm(&bmp, folder.c_str(), bmp.data); },
       Error{Failure::saveCreate, "bmpSave"}},
      {"bmpSavePlane into no folder",
       [&] { return dwt97::bmpSavePlane(&bmp, noFolder.c_str(), plane.get()); },
       Error{Failure::saveCreate, "bmpSave"}},
      {"bmpSavePgmPlane over a folder",
       [&] { return dwt97::bmpSavePgmPlane(&bmp, folder.c_str(), plane.get()); },
       Error{Failure::saveCreate, "bmpSave"}},
      {"bmpSavePng into no folder",
       [&] { return dwt97::bmpSavePng(&bmp, noFolder.c_str(), bmp.data); }, pngSaveFailure},
      {"bmpSaveStart into no folder",
       [&] {
         // Not null before, so that the call must set it.
         BmpSaveSession* session = reinterpret_cast<BmpSaveSession*>(&bmp);
         auto error = dwt97::bmpSaveStart(&bmp, noFolder.c_str(), true, &session);
         if (session != nullptr) error = Error{Failure::loadOpen, "a session on failure"};
         return error;
       },
       Error{Failure::saveCreate, "bmpSave"}},
      {"bmpSaveFinish over a folder made meanwhile",
       [&] {
         const std::string late = folder + "-late";
         BmpSaveSession* session = nullptr;
         if (dwt97::bmpSaveStart(&bmp, late.c_str(), false, &session)) {
           return std::optional<Error>{Error{Failure::loadOpen, "no session"}};
         }
         bmpSaveRows(session, plane.get(), 0, 4);
         makeFolder(late);
         const std::optional<Error> error = dwt97::bmpSaveFinish(session);
         removeFile(late);
         return error;
       },
       Error{Failure::saveCreate, "bmpSave"}},
      {"loadPicture of a folder",
       [&] {
         Bitmap other;
         dwt97::PictureFormat format;
         return dwt97::loadPicture(&other, &format, folder.c_str());
       },
       Error{Failure::loadNotRegularFile, "bmpLoad"}},
      {"detectPictureFile of a missing file",
       [&] {
         dwt97::PictureFormat format;
         return dwt97::detectPictureFile(noFolder.c_str(), &format);
       },
       Error{Failure::loadOpen, "bmpLoad"}},
      {"parsePicture of a cut PGM",
       [&] {
         const Bytes pgm = {'P', '5', ' ', '2', ' ', '2', ' ', '2', '5', '5', '\n', 1};
         Bitmap other;
         dwt97::PictureFormat format;
         return dwt97::parsePicture(&other, &format, pgm.data(), pgm.size());
       },
       Error{Failure::pgmTruncated, "pgmLoad"}},
      {"dwtForward2dLevels of too many",
       [&] { return dwt97::dwtForward2dLevels(plane.get(), 6, 4, 3); },
       Error{Failure::tooManyLevels, "dwtForward2dLevels", 2}},
      {"dwtForward2dInRows of too many",
       [&] { return dwt97::dwtForward2dInRows(plane.get(), 6, 4, 3); },
       Error{Failure::tooManyLevels, "dwtForward2dLevels", 2}},
      {"dwtForward2dLevelsInto of too many",
       [&] {
         TestPlane into(6, 4);
         return dwt97::dwtForward2dLevelsInto(into.get(), plane.get(), 6, 4, 3);
       },
       Error{Failure::tooManyLevels, "dwtForward2dLevels", 2}},
      {"npyLoad of a missing file",
       [&] {
         dwt97::NpyArray array;
         return dwt97::npyLoad(&array, noFolder.c_str());
       },
       Error{Failure::npyOpen, "npyLoad"}},
      {"npyParse of a bitmap",
       [&] {
         dwt97::NpyArray array;
         return dwt97::npyParse(&array, file.data(), file.size());
       },
       Error{Failure::npySignature, "npyLoad"}},
      {"npySave over a folder",
       [&] {
         const float one = 1.0f;
         return dwt97::npySave(folder.c_str(), dwt97::planeOver(&one, 1, 1));
       },
       Error{Failure::saveCreate, "npySave"}},
      {"planeAllocate of nothing",
       [&] {
         dwt97::PlaneBuffer empty;
         const std::optional<Error> error = dwt97::planeAllocate(&empty, -3, 0);
         dwt97::planeRelease(&empty);
         return error;
       },
       std::nullopt},
  };
  dwt97::setFatalHandler([](const char*) { throw HandlerCalled{}; });
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ::testing::internal::CaptureStderr();
    std::optional<Error> error;
    EXPECT_NO_THROW(error = row.call());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(describe(error), describe(row.expected));
  }
  dwt97::setFatalHandler(nullptr);
  EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"cut.bmp", "folder", "in.bmp"}));
  EXPECT_EQ(listDir(folder), std::vector<std::string>{});
  bmpRelease(&bmp);
}

// The 1.2 names still answer, with the failure's kind alone.
TEST(FailureValues, DeprecatedNamesStillAnswer) {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  TempDir dir;
  Bitmap bmp;
  EXPECT_EQ(dwt97::tryLoad(&bmp, dir.file("missing.bmp").c_str()), Failure::loadOpen);
  const Bytes file = testsupport::build(picture(4, 4));
  ASSERT_EQ(dwt97::tryParse(&bmp, file.data(), file.size()), std::nullopt);
  EXPECT_EQ(dwt97::trySave(&bmp, dir.file("no/out.dat").c_str(), bmp.data), Failure::saveCreate);
  dwt97::PlaneBuffer plane;
  ASSERT_EQ(dwt97::tryPlaneAllocate(&plane, 4, 4), std::nullopt);
  EXPECT_EQ(dwt97::tryForward2dLevels(plane.rows, 4, 4, 3, 1), Failure::tooManyLevels);
  dwtInverseColumnsThreads(plane.rows, plane.rows, 0, 0, 2);
  dwt97::planeRelease(&plane);
  bmpRelease(&bmp);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

// On success they give exactly what the process-ending operations give.
TEST(FailureValues, BothNamesGiveTheSameResult) {
  const std::int32_t width = 37, height = 22;
  TestPlane source(width, height);
  for (std::int32_t r = 0; r < height; ++r)
    for (std::int32_t c = 0; c < width; ++c)
      source.at(r, c) = static_cast<std::uint8_t>(r * 31 + c * c);
  const auto run = [&](auto operation) {
    TestPlane out(width, height, 7);
    operation(out.get(), source.get());
    return out.rows();
  };
  EXPECT_EQ(
      run([&](SamplePlane dst, SamplePlane src) { dwtForwardColumns(dst, src, width, height); }),
      run([&](SamplePlane dst, SamplePlane src) {
        EXPECT_FALSE(dwt97::dwtForwardColumns(dst, src, width, height));
      }));
  EXPECT_EQ(run([&](SamplePlane dst, SamplePlane src) { dwtInverseColumns(dst, src, 18, 11); }),
            run([&](SamplePlane dst, SamplePlane src) {
              EXPECT_FALSE(dwt97::dwtInverseColumns(dst, src, 18, 11));
            }));
  EXPECT_EQ(run([&](SamplePlane dst, SamplePlane src) { dwtInverseColumns(dst, src, 18, 11, 3); }),
            run([&](SamplePlane dst, SamplePlane src) {
              EXPECT_FALSE(dwt97::dwtInverseColumns(dst, src, 18, 11, 3));
            }));
  // In place: the result is read through the reordered row pointers.
  const auto inPlace = [&](auto transform) {
    TestPlane copy(width, height);
    for (std::int32_t r = 0; r < height; ++r)
      for (std::int32_t c = 0; c < width; ++c) copy.at(r, c) = source.at(r, c);
    transform(copy.get());
    std::vector<TestPlane::Line> result;
    for (std::int32_t r = 0; r < height; ++r)
      result.emplace_back(copy.get()[r], copy.get()[r] + width);
    return result;
  };
  const auto expected = inPlace([&](SamplePlane p) { dwtForward2d(p, width, height, 2); });
  EXPECT_EQ(inPlace([&](SamplePlane p) { EXPECT_FALSE(dwt97::dwtForward2d(p, width, height, 2)); }),
            expected);
  std::atomic<std::int32_t> told{0};  // rows, told from the transform's threads
  EXPECT_EQ(inPlace([&](SamplePlane p) {
              EXPECT_FALSE(dwt97::dwtForward2dStreaming(
                  p, width, height, 2,
                  [](void* context, const std::uint8_t* const*, std::int32_t, std::int32_t count) {
                    *static_cast<std::atomic<std::int32_t>*>(context) += count;
                  },
                  &told));
            }),
            expected);
  EXPECT_EQ(told.load(), height);
  // Out of place, one level and two.
  EXPECT_EQ(
      run([&](SamplePlane dst, SamplePlane src) { dwtForward2dInto(dst, src, width, height); }),
      expected);
  EXPECT_EQ(run([&](SamplePlane dst, SamplePlane src) {
              EXPECT_FALSE(dwt97::dwtForward2dInto(dst, src, width, height, 2));
            }),
            expected);
  const auto twoLevels =
      inPlace([&](SamplePlane p) { dwtForward2dLevels(p, width, height, 2, 2); });
  EXPECT_EQ(run([&](SamplePlane dst, SamplePlane src) {
              dwtForward2dLevelsInto(dst, src, width, height, 2);
            }),
            twoLevels);
  EXPECT_EQ(run([&](SamplePlane dst, SamplePlane src) {
              EXPECT_FALSE(dwt97::dwtForward2dLevelsInto(dst, src, width, height, 2, 1));
            }),
            twoLevels);
}
