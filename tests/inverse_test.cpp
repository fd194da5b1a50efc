#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "filterbank.h"

namespace {

// A plane with its own storage, every byte preset to `fill`.
struct Plane {
  Plane(int width, int height, std::uint8_t fill = 0)
      : bytes(static_cast<std::size_t>(width) * height, fill), rows(height) {
    for (int r = 0; r < height; ++r) rows[r] = bytes.data() + static_cast<std::size_t>(r) * width;
  }
  SamplePlane get() { return rows.data(); }
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t*> rows;
};

using Line = std::vector<int>;

// Runs the column pass on one column holding `line` (low band then high band).
Line inverseColumn(const Line& line) {
  const int length = static_cast<int>(line.size());
  Plane src(2, length), dst(2, length, 0xEE);
  for (int r = 0; r < length; ++r) src.rows[r][0] = src.rows[r][1] = static_cast<std::uint8_t>(line[r]);
  dwtInverseColumns(dst.get(), src.get(), 1, length / 2);
  Line out;
  for (int r = 0; r < length; ++r) {
    EXPECT_EQ(dst.rows[r][0], dst.rows[r][1]);
    out.push_back(dst.rows[r][0]);
  }
  return out;
}

// Runs the row pass on two rows holding `line`.
Line inverseRow(const Line& line) {
  const int length = static_cast<int>(line.size());
  Plane src(length, 2), dst(length, 2, 0xEE);
  for (int c = 0; c < length; ++c) src.rows[0][c] = src.rows[1][c] = static_cast<std::uint8_t>(line[c]);
  dwtInverseRows(dst.get(), src.get(), length / 2, 1);
  EXPECT_EQ(0, std::memcmp(dst.rows[0], dst.rows[1], length));
  return Line(dst.rows[0], dst.rows[0] + length);
}

Line bands(const Line& low, const Line& high) {
  Line line = low;
  line.insert(line.end(), high.begin(), high.end());
  return line;
}

}  // namespace

TEST(InversePasses, SinglePeakInTheHighBand) {
  const Line line = bands({0, 0, 0, 0}, {0, 0, 200, 0});
  EXPECT_EQ(inverseColumn(line), (Line{6, 21, 6, 225, 150, 251, 156, 194}));
  EXPECT_EQ(inverseRow(line), (Line{7, 21, 7, 225, 149, 127, 156, 193}));
}

TEST(InversePasses, RampInTheLowBand) {
  const Line line = bands({10, 20, 30, 40}, {0, 0, 0, 0});
  EXPECT_EQ(inverseColumn(line), (Line{8, 13, 20, 25, 29, 36, 41, 36}));
  EXPECT_EQ(inverseRow(line), (Line{9, 13, 20, 25, 30, 37, 41, 37}));
}

// Constant low bands: the column pass truncates a doubled even sum that falls
// just below the whole number; the row pass rounds and saturates.
TEST(InversePasses, ConstantLowBands) {
  const Line zeros(4, 0);
  EXPECT_EQ(inverseColumn(bands(Line(4, 100), zeros)), Line(8, 100));
  EXPECT_EQ(inverseRow(bands(Line(4, 100), zeros)), Line(8, 100));
  EXPECT_EQ(inverseColumn(bands(Line(4, 10), zeros)), (Line{9, 10, 9, 10, 9, 10, 9, 10}));
  EXPECT_EQ(inverseRow(bands(Line(4, 10), zeros)), Line(8, 10));
  EXPECT_EQ(inverseColumn(bands(Line(4, 255), zeros)),
            (Line{254, 255, 254, 255, 254, 255, 254, 255}));
  EXPECT_EQ(inverseRow(bands(Line(4, 255), zeros)), Line(8, 127));
}

// A whole plane: low-band rows on top, covered area only.
TEST(InversePasses, CoverOnlyTheirArea) {
  Plane src(7, 9, 100), dst(7, 9, 0xEE);
  for (int r = 3; r < 6; ++r) std::memset(src.rows[r], 0, 7);  // high band of the columns
  dwtInverseColumns(dst.get(), src.get(), 3, 3);
  for (int r = 0; r < 9; ++r) {
    for (int c = 0; c < 7; ++c) {
      EXPECT_EQ(dst.rows[r][c], (r < 6 && c < 6) ? 100 : 0xEE) << r << "," << c;
    }
  }
  Plane rowsDst(7, 9, 0xEE);
  Plane rowsSrc(7, 9, 100);
  for (int r = 0; r < 9; ++r) std::memset(rowsSrc.rows[r] + 3, 0, 4);
  dwtInverseRows(rowsDst.get(), rowsSrc.get(), 3, 4);
  for (int r = 0; r < 9; ++r) {
    for (int c = 0; c < 7; ++c) {
      EXPECT_EQ(rowsDst.rows[r][c], (r < 8 && c < 6) ? 100 : 0xEE) << r << "," << c;
    }
  }
}

TEST(InversePasses, EmptyAndNegativeCountsWriteNothing) {
  Plane src(8, 8, 50), dst(8, 8, 0xEE);
  const int counts[][2] = {{0, 4}, {4, 0}, {-1, 4}, {4, -1}, {INT32_MIN, INT32_MIN}};
  for (const auto& count : counts) {
    dwtInverseColumns(dst.get(), src.get(), count[0], count[1]);
    dwtInverseRows(dst.get(), src.get(), count[0], count[1]);
  }
  EXPECT_EQ(dst.bytes, std::vector<std::uint8_t>(64, 0xEE));
}

// Bands of one and two entries reflect within themselves, repeating as often
// as needed: band a, b reads like the band a, b, a, b, and band a like a, a, a.
// (An out-of-band read would also trip the address sanitizer.)
TEST(InversePasses, ShortBandsStayInside) {
  const Line single = bands({100}, {40});
  const Line singleAsThree = bands({100, 100, 100}, {40, 40, 40});
  const Line pair = bands({10, 200}, {0, 90});
  const Line pairAsFour = bands({10, 200, 10, 200}, {0, 90, 0, 90});
  for (auto pass : {inverseColumn, inverseRow}) {
    const Line one = pass(single), three = pass(singleAsThree);
    EXPECT_EQ(one, Line(three.begin(), three.begin() + 2));
    const Line two = pass(pair), four = pass(pairAsFour);
    EXPECT_EQ(two, Line(four.begin(), four.begin() + 4));
  }
}

TEST(SaturatedByte, RoundsHalfToEvenAndSaturates) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(toSaturatedByte(2.5f), 2);
  EXPECT_EQ(toSaturatedByte(3.5f), 4);
  EXPECT_EQ(toSaturatedByte(-2.5f), -2);
  EXPECT_EQ(toSaturatedByte(-0.5f), 0);
  EXPECT_EQ(toSaturatedByte(126.5f), 126);
  EXPECT_EQ(toSaturatedByte(127.5f), 127);
  EXPECT_EQ(toSaturatedByte(300.0f), 127);
  EXPECT_EQ(toSaturatedByte(-300.0f), -128);
  EXPECT_EQ(toSaturatedByte(2147483520.0f), 127);  // 2^31 - 128
  EXPECT_EQ(toSaturatedByte(2147483648.0f), -128);  // 2^31
  EXPECT_EQ(toSaturatedByte(inf), -128);
  EXPECT_EQ(toSaturatedByte(-inf), -128);
  EXPECT_EQ(toSaturatedByte(std::numeric_limits<float>::quiet_NaN()), -128);
  EXPECT_EQ(toSaturatedByte(-2147483648.0f), -128);
  EXPECT_EQ(toSaturatedByte(0.49999997f), 0);
  EXPECT_EQ(toSaturatedByte(-5.0f), -5);
  EXPECT_EQ(toSaturatedByte(1e30f), -128);
  EXPECT_EQ(toSaturatedByte(-1e30f), -128);
  EXPECT_EQ(toSaturatedByte(8388609.0f), 127);
}

// Exhaustive check against nearbyint (round-to-nearest-even by default) over
// the range where the two agree by definition.
TEST(SaturatedByte, MatchesNearestEvenOnAGrid) {
  for (float x = -200.0f; x <= 200.0f; x += 0.125f) {
    const long nearest = std::lrint(x);
    const long expected = nearest < -128 ? -128 : (nearest > 127 ? 127 : nearest);
    EXPECT_EQ(toSaturatedByte(x), expected) << x;
  }
}

TEST(TruncateToByte, TruncatesAndWraps) {
  EXPECT_EQ(dwtTruncateToByte(300.7f), 44);
  EXPECT_EQ(dwtTruncateToByte(-2.5f), 254);
  EXPECT_EQ(dwtTruncateToByte(255.99f), 255);
  EXPECT_EQ(dwtTruncateToByte(-0.5f), 0);
  EXPECT_EQ(dwtTruncateToByte(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(dwtTruncateToByte(std::numeric_limits<float>::infinity()), 0);
  EXPECT_EQ(dwtTruncateToByte(2147483648.0f), 0);
  EXPECT_EQ(dwtTruncateToByte(-2147483648.0f), 0);
  EXPECT_EQ(dwtTruncateToByte(2147483520.0f), 0x80);  // 2^31 - 128
  EXPECT_EQ(dwtTruncateToByte(-2147483520.0f), 0x80);
}
