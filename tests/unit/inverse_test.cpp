// The inverse passes and the saturating conversion on worked bands: the
// doubled sums and their bytes, the area covered, short bands, and rounding
// half to even with saturation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "dwt97/filterbank.h"
#include "test_support.h"

namespace {

using testsupport::TestPlane;

using Line = std::vector<int>;

// Runs the column pass on one column holding `line` (low band then high band).
Line inverseColumn(const Line& line) {
  const int length = static_cast<int>(line.size());
  TestPlane src(2, length), dst(2, length, 0xEE);
  for (int r = 0; r < length; ++r) src.at(r, 0) = src.at(r, 1) = static_cast<std::uint8_t>(line[r]);
  dwtInverseColumns(dst.get(), src.get(), 1, length / 2);
  const TestPlane::Line out = dst.column(0);
  EXPECT_EQ(out, dst.column(1));
  return Line(out.begin(), out.end());
}

// Runs the row pass on two rows holding `line`.
Line inverseRow(const Line& line) {
  const int length = static_cast<int>(line.size());
  TestPlane src(length, 2), dst(length, 2, 0xEE);
  for (int c = 0; c < length; ++c) src.at(0, c) = src.at(1, c) = static_cast<std::uint8_t>(line[c]);
  dwtInverseRows(dst.get(), src.get(), length / 2, 1);
  EXPECT_EQ(dst.row(0), dst.row(1));
  return Line(dst.row(0).begin(), dst.row(0).end());
}

Line bands(const Line& low, const Line& high) {
  Line line = low;
  line.insert(line.end(), high.begin(), high.end());
  return line;
}

}  // namespace

// Bands of length 4 through the column pass (doubled sums truncated and
// wrapped) and the row pass (rounded and saturated). With constant low bands
// the column pass truncates a doubled even sum that falls just below the whole
// number; the row pass rounds and saturates.
TEST(InversePasses, WorkedBands) {
  const Line zeros(4, 0);
  const struct {
    Line bands, column, row;
  } cases[] = {
      {bands(zeros, {0, 0, 200, 0}),
       {6, 21, 6, 225, 150, 251, 156, 194},
       {7, 21, 7, 225, 149, 127, 156, 193}},
      {bands({10, 20, 30, 40}, zeros),
       {8, 13, 20, 25, 29, 36, 41, 36},
       {9, 13, 20, 25, 30, 37, 41, 37}},
      {bands(Line(4, 100), zeros), Line(8, 100), Line(8, 100)},
      {bands(Line(4, 10), zeros), {9, 10, 9, 10, 9, 10, 9, 10}, Line(8, 10)},
      {bands(Line(4, 255), zeros), {254, 255, 254, 255, 254, 255, 254, 255}, Line(8, 127)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(inverseColumn(c.bands), c.column);
    EXPECT_EQ(inverseRow(c.bands), c.row);
  }
}

// A whole plane: low-band rows on top, covered area only. The column pass
// covers 2*3 columns and 2*3 rows, the row pass 2*3 columns and 2*4 rows.
TEST(InversePasses, CoverOnlyTheirArea) {
  for (const bool columns : {true, false}) {
    TestPlane src(7, 9, 100), dst(7, 9, 0xEE);
    for (int r = 0; r < 9; ++r) {
      for (int c = 0; c < 7; ++c) {
        if (columns ? (r >= 3 && r < 6) : c >= 3) src.at(r, c) = 0;  // the high bands
      }
    }
    const int coveredRows = columns ? 6 : 8;
    if (columns) {
      dwtInverseColumns(dst.get(), src.get(), 3, coveredRows / 2);
    } else {
      dwtInverseRows(dst.get(), src.get(), 3, coveredRows / 2);
    }
    for (int r = 0; r < 9; ++r) {
      for (int c = 0; c < 7; ++c) {
        EXPECT_EQ(dst.at(r, c), (r < coveredRows && c < 6) ? 100 : 0xEE)
            << (columns ? "columns " : "rows ") << r << "," << c;
      }
    }
  }
}

TEST(InversePasses, EmptyAndNegativeCountsWriteNothing) {
  TestPlane src(8, 8, 50), dst(8, 8, 0xEE);
  const int counts[][2] = {{0, 4}, {4, 0}, {-1, 4}, {4, -1}, {INT32_MIN, INT32_MIN}};
  for (const auto& count : counts) {
    dwtInverseColumns(dst.get(), src.get(), count[0], count[1]);
    dwtInverseRows(dst.get(), src.get(), count[0], count[1]);
  }
  for (const auto& row : dst.rows()) EXPECT_EQ(row, TestPlane::Line(8, 0xEE));
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
  const struct {
    float value;
    int byte;
  } cases[] = {
      {2.5f, 2},
      {3.5f, 4},
      {-2.5f, -2},
      {-0.5f, 0},
      {126.5f, 126},
      {127.5f, 127},
      {300.0f, 127},
      {-300.0f, -128},
      {0.49999997f, 0},
      {-5.0f, -5},
      {8388609.0f, 127},
      {2147483520.0f, 127},   // 2^31 - 128
      {2147483648.0f, -128},  // 2^31
      {-2147483648.0f, -128},
      {1e30f, -128},
      {-1e30f, -128},
      {inf, -128},
      {-inf, -128},
      {std::numeric_limits<float>::quiet_NaN(), -128},
  };
  for (const auto& c : cases) EXPECT_EQ(toSaturatedByte(c.value), c.byte) << c.value;
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
