// Drawing colour triples into a loaded bitmap's pixel buffer: three bytes a
// position, rectangles one column at a time, positions outside the buffer
// skipped, and the samples read from the file untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bmp_builder.h"
#include "dwt97/bitmap.h"
#include "test_support.h"

using dwt97::planeAllocate;
using dwt97::PlaneBuffer;
using dwt97::planeRelease;

namespace {

// A record over a caller-owned buffer of `height` x `width` bytes, followed
// by guard bytes that drawing must never reach.
struct Canvas {
  Canvas(int width, int height, std::uint8_t fill = 7)
      : storage(static_cast<std::size_t>(width) * height + kGuard, fill) {
    std::memset(&bmp, 0, sizeof bmp);
    bmp.width = width;
    bmp.height = static_cast<std::uint16_t>(height);
    bmp.data = storage.data();
  }
  std::size_t pixels() const { return storage.size() - kGuard; }
  static constexpr std::size_t kGuard = 64;
  std::vector<std::uint8_t> storage;
  Bitmap bmp;
};

std::vector<std::size_t> changedBytes(const std::vector<std::uint8_t>& bytes, std::uint8_t fill) {
  std::vector<std::size_t> changed;
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    if (bytes[k] != fill) changed.push_back(k);
  }
  return changed;
}

}  // namespace

TEST(Drawing, SetPixelWritesThreeBytesPerPosition) {
  Canvas canvas(512, 512);
  bmpSetPixel(&canvas.bmp, 0, 0, 102, 51, 153);
  bmpSetPixel(&canvas.bmp, 1, 0, 1, 2, 3);
  bmpSetPixel(&canvas.bmp, 0, 1, 4, 5, 6);
  const std::vector<std::size_t> at = {0, 1, 2, 3, 4, 5, 1536, 1537, 1538};
  const std::uint8_t values[] = {102, 51, 153, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(changedBytes(canvas.storage, 7), at);
  for (std::size_t k = 0; k < at.size(); ++k) EXPECT_EQ(canvas.storage[at[k]], values[k]) << at[k];
}

// A 20 x 20 square at the origin of a record 512 wide lands on bytes 0..59 of
// every third image row, rows 0 to 57.
TEST(Drawing, FillRectSquareTouchesEveryThirdRow) {
  Canvas canvas(512, 512);
  bmpFillRect(&canvas.bmp, 0, 0, 20, 20, 9, 8, 1);
  const std::vector<std::size_t> changed = changedBytes(canvas.storage, 7);
  ASSERT_EQ(changed.size(), 1200u);
  EXPECT_EQ(changed.back(), 29243u);
  for (int row = 0; row < 60; ++row) {
    for (int byte = 0; byte < 60; ++byte) {
      const std::uint8_t value = canvas.storage[static_cast<std::size_t>(row) * 512 + byte];
      if (row % 3 == 0) {
        const std::uint8_t triple[] = {9, 8, 1};
        EXPECT_EQ(value, triple[byte % 3]) << row << "," << byte;
      } else {
        EXPECT_EQ(value, 7);
      }
    }
  }
}

TEST(Drawing, EmptyExtentsDrawNothing) {
  Canvas canvas(16, 16);
  const int extents[][2] = {{0, 5}, {5, 0}, {-1, 5}, {5, -1}, {INT32_MIN, INT32_MAX}, {0, 0}};
  for (const auto& extent : extents) bmpFillRect(&canvas.bmp, 1, 1, extent[0], extent[1], 1, 2, 3);
  EXPECT_TRUE(changedBytes(canvas.storage, 7).empty());
}

// Positions whose three bytes leave the buffer are skipped, whatever the
// coordinates; nothing reaches the guard bytes after the buffer.
TEST(Drawing, PositionsOutsideTheBufferAreSkipped) {
  Canvas canvas(4, 3);                      // 12 bytes: positions 0 to 3
  bmpSetPixel(&canvas.bmp, 3, 0, 1, 1, 1);  // bytes 9..11: inside
  bmpSetPixel(&canvas.bmp, 0, 1, 2, 2, 2);  // bytes 12..14: outside
  bmpSetPixel(&canvas.bmp, -1, 0, 3, 3, 3);
  bmpSetPixel(&canvas.bmp, 0, -1, 3, 3, 3);
  bmpSetPixel(&canvas.bmp, INT32_MAX, INT32_MAX, 4, 4, 4);  // no 32-bit overflow
  bmpSetPixel(&canvas.bmp, INT32_MIN, INT32_MAX, 4, 4, 4);
  bmpSetPixel(&canvas.bmp, 7, -1, 5, 5, 5);  // -4 + 7 = position 3 again
  EXPECT_EQ(changedBytes(canvas.storage, 7), (std::vector<std::size_t>{9, 10, 11}));
  EXPECT_EQ(canvas.storage[9], 5);

  Canvas wide(5, 2);  // 10 bytes: positions 0 to 2, byte 9 belongs to no position
  bmpFillRect(&wide.bmp, -100, -100, 1000, 1000, 6, 6, 6);
  EXPECT_EQ(changedBytes(wide.storage, 7).size(), 9u);
  bmpFillRect(&wide.bmp, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 6, 6, 6);  // returns quickly
  bmpFillRect(&wide.bmp, INT32_MAX, 0, INT32_MAX, 1, 6, 6, 6);
  EXPECT_EQ(wide.storage[9], 7);

  Bitmap empty;
  std::memset(&empty, 0, sizeof empty);
  empty.width = 8;
  empty.height = 8;  // no pixel buffer
  bmpSetPixel(&empty, 0, 0, 1, 2, 3);
  bmpFillRect(&empty, 0, 0, 4, 4, 1, 2, 3);
}

// bmpFillRect against the plain double loop over bmpSetPixel, for rectangles
// around and across small buffers, negative corners included.
TEST(Drawing, FillRectMatchesPositionByPosition) {
  for (int width = 1; width <= 7; ++width) {
    for (int height = 1; height <= 5; ++height) {
      for (int x = -9; x <= 9; x += 3) {
        for (int y = -4; y <= 4; y += 2) {
          for (int extentX : {1, 3, 12}) {
            for (int extentY : {1, 2, 9}) {
              Canvas fast(width, height), slow(width, height);
              bmpFillRect(&fast.bmp, x, y, extentX, extentY, 1, 2, 3);
              for (int i = 0; i < extentX; ++i) {
                for (int j = 0; j < extentY; ++j) bmpSetPixel(&slow.bmp, x + i, y + j, 1, 2, 3);
              }
              ASSERT_EQ(fast.storage, slow.storage) << width << "x" << height << " at " << x << ","
                                                    << y << " extent " << extentX << "x" << extentY;
            }
          }
        }
      }
    }
  }
}

// Drawing changes the record's pixel buffer only; the samples re-read from
// the file stay as stored.
TEST(Drawing, NeverReachesTheSamplesReadFromTheFile) {
  testsupport::TempDir dir;
  const testsupport::Picture picture = testsupport::picture(32, 16);
  const std::string path = dir.file("quilgray.bmp");
  testsupport::writeFile(path, testsupport::build(picture));

  Bitmap bmp;
  bmpLoad(&bmp, path.c_str());
  bmpFillRect(&bmp, 0, 0, 10, 10, 1, 2, 3);
  PlaneBuffer plane = testsupport::newPlane(bmp.width, bmp.height);
  bmpReadPlane(&bmp, path.c_str(), plane.rows);
  EXPECT_EQ(0, std::memcmp(plane.block, picture.pixels.data(), picture.pixels.size()));
  EXPECT_NE(0, std::memcmp(bmp.data, picture.pixels.data(), picture.pixels.size()));
  planeRelease(&plane);
  bmpRelease(&bmp);
}
