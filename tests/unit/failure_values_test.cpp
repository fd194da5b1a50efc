// The twins that return a failure instead of ending the process: one row per
// failure each can meet in this process, and their results against the
// operations they stand for. A twin must not call the installed handler
// (here one that throws), must write nothing to standard error and must
// leave no file behind.
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

std::string describe(const std::optional<Failure>& failure) {
  return failure ? dwt97::failureInfo(*failure).text : "none";
}

}  // namespace

TEST(FailureValues, EachTwinReturnsItsFailure) {
  TempDir dir;
  const Bytes file = testsupport::build(picture(6, 4));
  const std::string input = dir.file("in.bmp");
  writeFile(input, file);
  Bitmap bmp;
  ASSERT_FALSE(dwt97::tryLoad(&bmp, input.c_str()));
  TestPlane plane(6, 4);
  const std::string noFolder = dir.file("missing/out.dat");
  ASSERT_TRUE(makeFolder(dir.file("folder")));  // a folder holds the output's name
  const std::string folder = dir.file("folder");

  const struct {
    const char* name;
    std::function<std::optional<Failure>()> call;
    std::optional<Failure> expected;
  } rows[] = {
      {"tryReadPlane of a missing file",
       [&] { return dwt97::tryReadPlane(&bmp, dir.file("gone.bmp").c_str(), plane.get()); },
       Failure::readPlaneOpen},
      {"tryReadPlane of a shrunk file",
       [&] {
         writeFile(dir.file("cut.bmp"), Bytes(file.begin(), file.end() - 3));
         return dwt97::tryReadPlane(&bmp, dir.file("cut.bmp").c_str(), plane.get());
       },
       Failure::readPlaneRead},
      {"trySave into no folder", [&] { return dwt97::trySave(&bmp, noFolder.c_str(), bmp.data); },
       Failure::saveCreate},
      {"trySavePgm over a folder",
       [&] { return dwt97::trySavePgm(&bmp, folder.c_str(), bmp.data); }, Failure::saveCreate},
      {"trySavePlane into no folder",
       [&] { return dwt97::trySavePlane(&bmp, noFolder.c_str(), plane.get()); },
       Failure::saveCreate},
      {"trySavePgmPlane over a folder",
       [&] { return dwt97::trySavePgmPlane(&bmp, folder.c_str(), plane.get()); },
       Failure::saveCreate},
      {"trySaveFinish over a folder made meanwhile",
       [&] {
         const std::string late = folder + "-late";
         BmpSaveSession* session = bmpSaveStart(&bmp, late.c_str(), false);
         if (session == nullptr) return std::optional<Failure>{Failure::loadOpen};  // (unexpected)
         bmpSaveRows(session, plane.get(), 0, 4);
         makeFolder(late);
         const std::optional<Failure> failure = dwt97::trySaveFinish(session);
         removeFile(late);
         return failure;
       },
       Failure::saveCreate},
      {"tryPlaneAllocate of nothing",
       [&] {
         dwt97::PlaneBuffer empty;
         const std::optional<Failure> failure = dwt97::tryPlaneAllocate(&empty, -3, 0);
         dwt97::planeRelease(&empty);
         return failure;
       },
       std::nullopt},
  };
  dwt97::setFatalHandler([](const char*) { throw HandlerCalled{}; });
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ::testing::internal::CaptureStderr();
    std::optional<Failure> failure;
    EXPECT_NO_THROW(failure = row.call());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(describe(failure), describe(row.expected));
  }
  dwt97::setFatalHandler(nullptr);
  EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"cut.bmp", "folder", "in.bmp"}));
  EXPECT_EQ(listDir(folder), std::vector<std::string>{});
  bmpRelease(&bmp);
}

// On success the twins give exactly what the operations give.
TEST(FailureValues, TwinsMatchTheOperations) {
  const std::int32_t width = 37, height = 22;
  TestPlane source(width, height);
  for (std::int32_t r = 0; r < height; ++r)
    for (std::int32_t c = 0; c < width; ++c) source.at(r, c) = static_cast<std::uint8_t>(r * 31 + c * c);
  const auto run = [&](auto operation) {
    TestPlane out(width, height, 7);
    operation(out.get(), source.get());
    return out.rows();
  };
  EXPECT_EQ(run([&](SamplePlane dst, SamplePlane src) { dwtForwardColumns(dst, src, width, height); }),
            run([&](SamplePlane dst, SamplePlane src) {
              EXPECT_FALSE(dwt97::tryForwardColumns(dst, src, width, height));
            }));
  EXPECT_EQ(run([&](SamplePlane dst, SamplePlane src) { dwtInverseColumns(dst, src, 18, 11); }),
            run([&](SamplePlane dst, SamplePlane src) {
              EXPECT_FALSE(dwt97::tryInverseColumns(dst, src, 18, 11));
            }));
  EXPECT_EQ(run([&](SamplePlane dst, SamplePlane src) {
              dwtInverseColumnsThreads(dst, src, 18, 11, 3);
            }),
            run([&](SamplePlane dst, SamplePlane src) {
              EXPECT_FALSE(dwt97::tryInverseColumnsThreads(dst, src, 18, 11, 3));
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
  EXPECT_EQ(inPlace([&](SamplePlane p) { EXPECT_FALSE(dwt97::tryForward2d(p, width, height, 2)); }),
            expected);
  std::atomic<std::int32_t> told{0};  // rows, told from the transform's threads
  EXPECT_EQ(inPlace([&](SamplePlane p) {
              EXPECT_FALSE(dwt97::tryForward2dStreaming(
                  p, width, height, 2,
                  [](void* context, const std::uint8_t* const*, std::int32_t, std::int32_t count) {
                    *static_cast<std::atomic<std::int32_t>*>(context) += count;
                  },
                  &told));
            }),
            expected);
  EXPECT_EQ(told.load(), height);
}
