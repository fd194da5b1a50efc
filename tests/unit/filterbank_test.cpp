// The filter tables and the forward passes on worked examples: the stored
// taps bit for bit, the walk's sums, the byte truncation, worked lines as
// rows and columns, constant planes and odd sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "dwt97/filterbank.h"
#include "test_support.h"

namespace {

using Line = std::vector<std::uint8_t>;

std::uint32_t bitsOf(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

using testsupport::TestPlane;

constexpr std::uint8_t kUntouched = 0xA5;

// Filters `line` as the only row of a plane; untouched outputs read kUntouched.
Line forwardRow(const Line& line) {
  const int n = static_cast<int>(line.size());
  TestPlane src(n, 1, 0);
  for (int c = 0; c < n; ++c) src.at(0, c) = line[c];
  TestPlane dst(n, 1, kUntouched);
  dwtForwardRows(dst.get(), src.get(), n, 1);
  return dst.row(0);
}

// Filters `line` as the middle of three columns, the other two holding
// unrelated samples, and returns the middle column of the result.
Line forwardColumn(const Line& line) {
  const int n = static_cast<int>(line.size());
  TestPlane src(3, n, 0);
  for (int r = 0; r < n; ++r) {
    src.at(r, 0) = static_cast<std::uint8_t>(255 - line[r]);
    src.at(r, 1) = line[r];
    src.at(r, 2) = static_cast<std::uint8_t>(r * 37 + 11);
  }
  TestPlane dst(3, n, kUntouched);
  dwtForwardColumns(dst.get(), src.get(), 3, n);
  return dst.column(1);
}

// Both passes over a `w` x `h` plane; the destinations start as `fill`.
TestPlane forwardPlane(TestPlane& src, int w, int h, std::uint8_t fill) {
  TestPlane rows(w, h, fill), result(w, h, fill);
  dwtForwardRows(rows.get(), src.get(), w, h);
  dwtForwardColumns(result.get(), rows.get(), w, h);
  return result;
}

// The constant values whose low-pass sum falls just below the value.
const int kLowByOne[39] = {3,   6,   12,  21,  24,  42,  43,  48,  51,  69,  84,  86,  95,
                           96,  102, 115, 123, 127, 138, 145, 149, 165, 168, 172, 179, 183,
                           190, 191, 192, 197, 199, 201, 204, 211, 225, 230, 245, 246, 254};

int lowOfConstant(int u) {
  for (int v : kLowByOne) {
    if (v == u) return u - 1;
  }
  return u;
}

// Every stored coefficient bit for bit, every position as an exact float, and
// the walk visiting each stored position once, ascending, with its coefficient.
template <typename Taps, std::size_t N>
void expectTaps(const Taps& taps, int first, const std::uint32_t (&bits)[N]) {
  static_assert(Taps::count == static_cast<int>(N), "tap count");
  EXPECT_EQ(Taps::first, first);
  for (std::size_t t = 0; t < N; ++t) {
    EXPECT_EQ(bitsOf(taps.positions[t]), bitsOf(static_cast<float>(first + static_cast<int>(t))))
        << "position " << t;
    EXPECT_EQ(bitsOf(taps.coefficients[t]), bits[t]) << "coefficient " << t;
  }
  std::vector<std::int32_t> positions;
  std::vector<std::uint32_t> coefficients;
  dwtWalk(taps, [&](std::int32_t k, float c) {
    positions.push_back(k);
    coefficients.push_back(bitsOf(c));
  });
  ASSERT_EQ(positions.size(), N);
  for (std::size_t t = 0; t < N; ++t) {
    EXPECT_EQ(positions[t], first + static_cast<int>(t));
    EXPECT_EQ(coefficients[t], bits[t]);
  }
}

struct TwoSums {
  float low;
  float high;
};

// With two samples the extension alternates a, b, a, b, ...: position k reads
// sample |k| mod 2. Sums in ascending position, low over -4..4, high over -2..4.
TwoSums twoSampleSums(std::uint8_t a, std::uint8_t b) {
  const float x[2] = {static_cast<float>(a), static_cast<float>(b)};
  TwoSums sums = {0.0f, 0.0f};
  for (int t = 0; t < 9; ++t) sums.low = x[t % 2] * analysisLow.coefficients[t] + sums.low;
  for (int t = 0; t < 7; ++t) sums.high = x[t % 2] * analysisHigh.coefficients[t] + sums.high;
  return sums;
}

}  // namespace

TEST(FilterTables, StoredTapsAndWalkBitForBit) {
  const std::uint32_t low[] = {0x3CDB2036, 0xBC8A269F, 0xBDA03385, 0x3E88A26A, 0x3F1A5ADE,
                               0x3E88A26A, 0xBDA03385, 0xBC8A269F, 0x3CDB2036};
  const std::uint32_t high[] = {0x3D3AECB1, 0xBCEBB2C3, 0xBE975D96, 0x3F0EBB2C,
                                0xBE975D96, 0xBCEBB2C3, 0x3D3AECB1};
  const std::uint32_t evenLow[] = {0xBCEBB2C3, 0x3F0EBB2C, 0xBCEBB2C3};
  const std::uint32_t evenHigh[] = {0x3C8A269F, 0xBE88A26A, 0xBE88A26A, 0x3C8A269F};
  const std::uint32_t oddLow[] = {0xBD3AECB1, 0x3E975D96, 0x3E975D96, 0xBD3AECB1};
  const std::uint32_t oddHigh[] = {0x3CDB2036, 0xBDA03385, 0x3F1A5ADE, 0xBDA03385, 0x3CDB2036};
  expectTaps(analysisLow, -4, low);
  expectTaps(analysisHigh, -2, high);
  expectTaps(synthesisEvenLow, -1, evenLow);
  expectTaps(synthesisEvenHigh, -1, evenHigh);
  expectTaps(synthesisOddLow, -2, oddLow);
  expectTaps(synthesisOddHigh, -2, oddHigh);
}

// The sums a pass forms for a constant line of 1: exactly 1 for the
// low-pass, and -2^-28 (not 0) for the high-pass.
TEST(FilterTables, WalkSumsInSinglePrecision) {
  float low = 0.0f;
  dwtWalk(analysisLow, [&](std::int32_t, float c) { low = c + low; });
  EXPECT_EQ(bitsOf(low), bitsOf(1.0f));
  float high = 0.0f;
  dwtWalk(analysisHigh, [&](std::int32_t, float c) { high = c + high; });
  EXPECT_EQ(bitsOf(high), bitsOf(std::ldexp(-1.0f, -28)));
}

// ---- Conversion to a byte --------------------------------------------------

// Truncation toward zero, wrapping modulo 256; values no 32-bit integer holds
// never reach the (undefined) conversion and give 0.
TEST(TruncateToByte, TruncatesTowardZeroAndWraps) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    float value;
    int byte;
  } cases[] = {
      {127.500008f, 127},
      {-0.912717819f, 0},
      {-6.74564743f, 250},
      {-127.5f, 129},
      {303.494568f, 47},
      {300.7f, 44},
      {0.0f, 0},
      {-0.0f, 0},
      {0.99999994f, 0},
      {-0.99999994f, 0},
      {-0.5f, 0},
      {-1.0f, 255},
      {-2.5f, 254},
      {255.99f, 255},
      {255.99998f, 255},
      {256.0f, 0},
      {-256.5f, 0},
      {-257.0f, 255},
      {2147483520.0f, 0x80},   // largest float below 2^31
      {-2147483520.0f, 0x80},  // -(2^31 - 128) = 0x80000080
      {-2147483648.0f, 0},     // -2^31 itself
      {2147483648.0f, 0},
      {1e30f, 0},
      {-1e30f, 0},
      {inf, 0},
      {-inf, 0},
      {std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(dwtTruncateToByte(c.value), c.byte) << c.value;
}

// ---- Forward passes: single lines ----------------------------------------

// The worked lines as a row and as a column (between two unrelated columns);
// arbitrary lines of every length up to 40 give the same both ways.
TEST(ForwardPass, WorkedLinesAsRowsAndColumns) {
  const struct {
    Line input;
    Line output;  // kUntouched where the pass must not write
  } examples[] = {
      // Sums 13.3364048 30.7326679 49.4650307 70.6341019 / 1.24999928
      // -4.76837158e-07 -0.912717819 4.32543516: -0.9127 truncates to 0.
      {{10, 20, 30, 40, 50, 60, 70, 80}, {13, 30, 49, 70, 1, 0, 0, 4}},
      // Sums -6.74564743 53.3728256 53.3728256 -3.37282372 / -5.75435257
      // 111.508705 -5.75435257 0: negative sums wrap modulo 256.
      {{0, 0, 0, 200, 0, 0, 0, 0}, {250, 53, 53, 253, 251, 111, 251, 0}},
      // Low sums 127.500008, high sums -127.5.
      {{255, 0, 255, 0, 255, 0, 255, 0}, {127, 127, 127, 127, 129, 129, 129, 129}},
      // Odd width: the last position is not written; last high sum -1.25000048.
      {{10, 20, 30, 40, 50, 60, 70}, {13, 30, 49, 1, 0, 255, kUntouched}},
      // The shortest line read wholly inside: low sum 101.871071.
      {{10, 200, 30}, {101, 90, kUntouched}},
      {{}, {}},
      {{77}, {kUntouched}},
  };
  for (const auto& example : examples) {
    SCOPED_TRACE("length " + std::to_string(example.input.size()));
    EXPECT_EQ(forwardRow(example.input), example.output);
    EXPECT_EQ(forwardColumn(example.input), example.output);
  }
  // The largest possible low sum, 303.494568, is stored as 47.
  EXPECT_EQ(forwardRow({255, 0, 0, 255, 255, 255, 0, 0, 255, 0})[2], 47);
  std::uint32_t noise = 12345;
  for (int n = 3; n <= 40; ++n) {
    Line line(static_cast<std::size_t>(n));
    for (auto& sample : line) {
      noise = noise * 1664525u + 1013904223u;
      sample = static_cast<std::uint8_t>(noise >> 24);
    }
    EXPECT_EQ(forwardColumn(line), forwardRow(line)) << "n=" << n;
  }
}

// Lines of 0 and 1 samples compute nothing and touch nothing.
TEST(ForwardPass, EmptyAndSingleSampleLinesLeaveDestination) {
  const struct {
    bool rows;
    int w, h;
  } cases[] = {{true, 1, 3}, {false, 5, 1}, {true, 0, 2}, {false, 4, 0}, {true, 4, 0}};
  for (const auto& c : cases) {
    TestPlane src(c.w, c.h, 99), dst(c.w, c.h, kUntouched);
    if (c.rows) {
      dwtForwardRows(dst.get(), src.get(), c.w, c.h);
    } else {
      dwtForwardColumns(dst.get(), src.get(), c.w, c.h);
    }
    for (const Line& row : dst.rows()) EXPECT_EQ(row, Line(c.w, kUntouched)) << c.w << "x" << c.h;
  }
}

// ---- Forward passes: planes ----------------------------------------------

// A single 200 at row 1, column 2 of a 4 x 4 plane, through both passes. The
// column pass reads the row pass's 236 as 236, not as -20.
TEST(ForwardPass, SingleSpotPlaneThroughBothPasses) {
  TestPlane src(4, 4, 0);
  src.at(1, 2) = 200;
  TestPlane rows(4, 4, kUntouched), result(4, 4, kUntouched);
  dwtForwardRows(rows.get(), src.get(), 4, 4);
  EXPECT_EQ(rows.rows(),
            (std::vector<Line>{Line(4, 0), {236, 110, 216, 138}, Line(4, 0), Line(4, 0)}));
  dwtForwardColumns(result.get(), rows.get(), 4, 4);
  EXPECT_EQ(result.rows(),
            (std::vector<Line>{
                {125, 58, 115, 73}, {55, 25, 50, 32}, {124, 58, 114, 72}, {243, 250, 244, 249}}));
}

// A constant line keeps its value in the low half (except for the 39 values
// whose sum falls just below) and gives 0 in the high half; a constant plane
// gives L(L(v)) in the low-low block and 0 everywhere else.
TEST(ForwardPass, ConstantLinesAndPlanes) {
  for (int v = 0; v <= 255; ++v) {
    SCOPED_TRACE("v=" + std::to_string(v));
    const auto low = static_cast<std::uint8_t>(lowOfConstant(v));
    EXPECT_EQ(forwardRow(Line(8, static_cast<std::uint8_t>(v))),
              (Line{low, low, low, low, 0, 0, 0, 0}));
    TestPlane src(8, 8, static_cast<std::uint8_t>(v));
    const TestPlane result = forwardPlane(src, 8, 8, kUntouched);
    const auto lowLow = static_cast<std::uint8_t>(lowOfConstant(low));
    for (int r = 0; r < 8; ++r) {
      const Line expected = r < 4 ? Line{lowLow, lowLow, lowLow, lowLow, 0, 0, 0, 0} : Line(8, 0);
      ASSERT_EQ(result.row(r), expected) << "row " << r;
    }
  }
  // The cases worked by hand: 3 -> 2 (sum 2.99999976), 43 -> 42 -> 41,
  // 255 -> 255 (sum 255.000015).
  EXPECT_EQ(lowOfConstant(lowOfConstant(3)), 2);
  EXPECT_EQ(lowOfConstant(lowOfConstant(43)), 41);
  EXPECT_EQ(lowOfConstant(lowOfConstant(255)), 255);
}

// Odd sizes: the row pass leaves the last column, the column pass the last
// row; the column pass still filters the column the row pass left alone.
TEST(ForwardPass, OddPlaneLeavesLastColumnAndRow) {
  TestPlane src(5, 7, 0);
  for (int r = 0; r < 7; ++r) {
    for (int c = 0; c < 5; ++c) src.at(r, c) = static_cast<std::uint8_t>(r * 40 + c * 7);
  }
  TestPlane rows(5, 7, kUntouched);
  dwtForwardRows(rows.get(), src.get(), 5, 7);
  for (int r = 0; r < 7; ++r) EXPECT_EQ(rows.at(r, 4), kUntouched);

  TestPlane result(5, 7, 0x11);
  dwtForwardColumns(result.get(), rows.get(), 5, 7);
  EXPECT_EQ(result.row(6), Line(5, 0x11));
  // Column 4 of the row-pass plane is constant kUntouched: its low half
  // is L(0xA5) and its high half 0.
  for (int r = 0; r < 3; ++r) EXPECT_EQ(result.at(r, 4), lowOfConstant(kUntouched));
  for (int r = 3; r < 6; ++r) EXPECT_EQ(result.at(r, 4), 0);
}

// ---- Lines of two samples --------------------------------------------------

TEST(ForwardPass, TwoSampleLinesReadOnlyInside) {
  // The low taps on even and odd positions each sum to about 1/2, the high
  // taps to about -1/2 and 1/2: low ~ (a + b) / 2, high ~ (b - a) / 2.
  const TwoSums spot = twoSampleSums(10, 200);
  EXPECT_NEAR(spot.low, 105.0f, 1e-4f);
  EXPECT_NEAR(spot.high, 95.0f, 1e-4f);

  const std::uint8_t pairs[][2] = {{10, 200}, {200, 10}, {255, 0}, {0, 255}, {37, 91}, {128, 128}};
  for (const auto& pair : pairs) {
    SCOPED_TRACE(std::to_string(pair[0]) + "," + std::to_string(pair[1]));
    const TwoSums sums = twoSampleSums(pair[0], pair[1]);
    const Line expected = {dwtTruncateToByte(sums.low), dwtTruncateToByte(sums.high)};
    EXPECT_EQ(forwardRow({pair[0], pair[1]}), expected);
    EXPECT_EQ(forwardColumn({pair[0], pair[1]}), expected);
  }
  EXPECT_EQ(forwardRow({255, 0}), (Line{127, 129}));
  EXPECT_EQ(forwardRow({0, 255}), (Line{127, 127}));
}

// 2 x 2 and 2-wide or 2-tall planes go through both passes and give the same
// bytes whatever the destinations held before.
TEST(ForwardPass, TwoWideAndTwoTallPlanesAreDeterministic) {
  const int sizes[][2] = {{2, 2}, {2, 5}, {6, 2}};
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    TestPlane src(w, h);
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) src.at(r, c) = static_cast<std::uint8_t>(31 * r + 97 * c + 5);
    }
    const TestPlane first = forwardPlane(src, w, h, 0), second = forwardPlane(src, w, h, 7);
    for (int r = 0; r < 2 * (h / 2); ++r) {
      for (int c = 0; c < 2 * (w / 2); ++c) {
        EXPECT_EQ(first.row(r)[c], second.row(r)[c]) << w << "x" << h << " at " << r << "," << c;
      }
    }
  }
  // 2 x 2 by hand: rows {10, 200} and {30, 40}.
  TestPlane src(2, 2);
  src.at(0, 0) = 10;
  src.at(0, 1) = 200;
  src.at(1, 0) = 30;
  src.at(1, 1) = 40;
  const TestPlane result = forwardPlane(src, 2, 2, kUntouched);
  const TwoSums top = twoSampleSums(10, 200), bottom = twoSampleSums(30, 40);
  const std::uint8_t row0[2] = {dwtTruncateToByte(top.low), dwtTruncateToByte(top.high)};
  const std::uint8_t row1[2] = {dwtTruncateToByte(bottom.low), dwtTruncateToByte(bottom.high)};
  for (int c = 0; c < 2; ++c) {
    const TwoSums column = twoSampleSums(row0[c], row1[c]);
    EXPECT_EQ(result.row(0)[c], dwtTruncateToByte(column.low)) << c;
    EXPECT_EQ(result.row(1)[c], dwtTruncateToByte(column.high)) << c;
  }
}
