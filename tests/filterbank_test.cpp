#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "filterbank.h"

namespace {

using Line = std::vector<std::uint8_t>;

std::uint32_t bitsOf(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// A plane whose rows are separate allocations of exactly `width` bytes, so
// that the sanitizers catch any read or write outside a row.
class TestPlane {
 public:
  TestPlane(int width, int height, std::uint8_t fill)
      : rows_(static_cast<std::size_t>(height), Line(static_cast<std::size_t>(width), fill)) {
    for (Line& row : rows_) pointers_.push_back(row.data());
  }
  SamplePlane get() { return pointers_.data(); }
  std::uint8_t& at(int row, int column) { return rows_[row][column]; }
  const Line& row(int r) const { return rows_[r]; }
  Line column(int c) const {
    Line out;
    for (const Line& row : rows_) out.push_back(row[c]);
    return out;
  }
  const std::vector<Line>& rows() const { return rows_; }

 private:
  std::vector<Line> rows_;
  std::vector<std::uint8_t*> pointers_;
};

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

// The worked lines shared by the row and the column tests.
struct Example {
  Line input;
  Line output;  // kUntouched where the pass must not write
};

const std::vector<Example>& examples() {
  static const std::vector<Example> list = {
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
  return list;
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

}  // namespace

// ---- Filter tables -------------------------------------------------------

// The thirteen distinct coefficient values: the decimal that identifies each
// one and its single-precision encoding.
TEST(FilterTables, DecimalsAreTheListedEncodings) {
  const struct {
    const char* decimal;
    std::uint32_t bits;
  } values[] = {
      {"0.602949023", 0x3F1A5ADE},   {"0.266864121", 0x3E88A26A},   {"-0.266864121", 0xBE88A26A},
      {"-0.0782232657", 0xBDA03385}, {"-0.0168641191", 0xBC8A269F}, {"0.0168641191", 0x3C8A269F},
      {"0.0267487578", 0x3CDB2036},  {"0.557543516", 0x3F0EBB2C},   {"-0.295635879", 0xBE975D96},
      {"0.295635879", 0x3E975D96},   {"-0.0287717637", 0xBCEBB2C3}, {"0.0456358828", 0x3D3AECB1},
      {"-0.0456358828", 0xBD3AECB1},
  };
  for (const auto& value : values) {
    EXPECT_EQ(bitsOf(std::strtof(value.decimal, nullptr)), value.bits) << value.decimal;
  }
  // A value and its negation differ only in the sign bit.
  EXPECT_EQ(0x3E88A26Au ^ 0xBE88A26Au, 0x80000000u);
  EXPECT_EQ(0x3C8A269Fu ^ 0xBC8A269Fu, 0x80000000u);
  EXPECT_EQ(0x3E975D96u ^ 0xBE975D96u, 0x80000000u);
  EXPECT_EQ(0x3D3AECB1u ^ 0xBD3AECB1u, 0x80000000u);
  EXPECT_EQ(bitsOf(-std::strtof("0.0782232657", nullptr)), 0xBDA03385u);
  EXPECT_EQ(bitsOf(-std::strtof("0.0287717637", nullptr)), 0xBCEBB2C3u);
}

namespace {

template <typename Taps, std::size_t N>
void expectTaps(const Taps& taps, int first, const std::uint32_t (&bits)[N]) {
  static_assert(Taps::count == static_cast<int>(N), "tap count");
  EXPECT_EQ(Taps::first, first);
  for (std::size_t t = 0; t < N; ++t) {
    EXPECT_EQ(bitsOf(taps.positions[t]), bitsOf(static_cast<float>(first + static_cast<int>(t))))
        << "position " << t;
    EXPECT_EQ(bitsOf(taps.coefficients[t]), bits[t]) << "coefficient " << t;
  }
}

}  // namespace

// Every stored coefficient, bit for bit, and every position as an exact float.
TEST(FilterTables, StoredTapsBitForBit) {
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

// The synthesis pieces are copies or sign-bit negations of analysis taps.
TEST(FilterTables, SynthesisPiecesDeriveFromTheAnalysisPair) {
  auto low = [](int p) { return bitsOf(analysisLow.coefficients[p + 4]); };
  auto high = [](int p) { return bitsOf(analysisHigh.coefficients[p + 2]); };
  for (int t = 0; t < 3; ++t) EXPECT_EQ(bitsOf(synthesisEvenLow.coefficients[t]), high(-1 + 2 * t));
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(bitsOf(synthesisOddLow.coefficients[t]), high(-2 + 2 * t) ^ 0x80000000u);
    EXPECT_EQ(bitsOf(synthesisEvenHigh.coefficients[t]), low(-3 + 2 * t) ^ 0x80000000u);
  }
  for (int t = 0; t < 5; ++t) EXPECT_EQ(bitsOf(synthesisOddHigh.coefficients[t]), low(-4 + 2 * t));
  for (int d = 1; d <= 4; ++d) EXPECT_EQ(low(-d), low(d));
  for (int d = 1; d <= 3; ++d) EXPECT_EQ(high(1 - d), high(1 + d));
}

namespace {

template <typename Taps>
void expectWalk(const Taps& taps, int first, int count) {
  std::vector<int> positions;
  std::vector<std::uint32_t> coefficients;
  dwtWalk(taps, [&](std::int32_t k, float c) {
    positions.push_back(k);
    coefficients.push_back(bitsOf(c));
  });
  ASSERT_EQ(static_cast<int>(positions.size()), count);
  for (int t = 0; t < count; ++t) {
    EXPECT_EQ(positions[t], first + t);
    EXPECT_EQ(coefficients[t], bitsOf(taps.coefficients[t]));
  }
}

}  // namespace

// The walk visits every stored position once, ascending, with its coefficient.
TEST(FilterTables, WalkVisitsEveryPositionOnceAscending) {
  expectWalk(analysisLow, -4, 9);
  expectWalk(analysisHigh, -2, 7);
  expectWalk(synthesisEvenLow, -1, 3);
  expectWalk(synthesisEvenHigh, -1, 4);
  expectWalk(synthesisOddLow, -2, 4);
  expectWalk(synthesisOddHigh, -2, 5);
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

TEST(TruncateToByte, TruncatesTowardZeroAndWraps) {
  EXPECT_EQ(dwtTruncateToByte(127.500008f), 127);
  EXPECT_EQ(dwtTruncateToByte(-0.912717819f), 0);
  EXPECT_EQ(dwtTruncateToByte(-6.74564743f), 250);
  EXPECT_EQ(dwtTruncateToByte(-127.5f), 129);
  EXPECT_EQ(dwtTruncateToByte(303.494568f), 47);
  EXPECT_EQ(dwtTruncateToByte(0.0f), 0);
  EXPECT_EQ(dwtTruncateToByte(-0.0f), 0);
  EXPECT_EQ(dwtTruncateToByte(0.99999994f), 0);
  EXPECT_EQ(dwtTruncateToByte(-0.99999994f), 0);
  EXPECT_EQ(dwtTruncateToByte(-1.0f), 255);
  EXPECT_EQ(dwtTruncateToByte(255.99998f), 255);
  EXPECT_EQ(dwtTruncateToByte(256.0f), 0);
  EXPECT_EQ(dwtTruncateToByte(-256.5f), 0);
  EXPECT_EQ(dwtTruncateToByte(-257.0f), 255);
}

// Values no 32-bit integer holds never reach the (undefined) conversion.
TEST(TruncateToByte, OutOfRangeValuesGiveZero) {
  EXPECT_EQ(dwtTruncateToByte(2147483520.0f), 0x80);   // largest float below 2^31
  EXPECT_EQ(dwtTruncateToByte(-2147483520.0f), 0x80);  // -(2^31 - 128) = 0x80000080
  EXPECT_EQ(dwtTruncateToByte(-2147483648.0f), 0);     // -2^31 itself
  EXPECT_EQ(dwtTruncateToByte(2147483648.0f), 0);
  EXPECT_EQ(dwtTruncateToByte(1e30f), 0);
  EXPECT_EQ(dwtTruncateToByte(-1e30f), 0);
  EXPECT_EQ(dwtTruncateToByte(std::numeric_limits<float>::infinity()), 0);
  EXPECT_EQ(dwtTruncateToByte(-std::numeric_limits<float>::infinity()), 0);
  EXPECT_EQ(dwtTruncateToByte(std::numeric_limits<float>::quiet_NaN()), 0);
}

// ---- Forward passes: single lines ----------------------------------------

TEST(ForwardPass, WorkedRowsBitForBit) {
  for (const Example& example : examples()) {
    EXPECT_EQ(forwardRow(example.input), example.output) << "width " << example.input.size();
  }
}

TEST(ForwardPass, ColumnsGiveTheSameAsRows) {
  for (const Example& example : examples()) {
    EXPECT_EQ(forwardColumn(example.input), example.output) << "height " << example.input.size();
  }
  // Arbitrary lines of every length up to 40 agree as well.
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

// The largest possible low sum, 303.494568, is stored as 47.
TEST(ForwardPass, LargestLowSumWraps) {
  const Line out = forwardRow({255, 0, 0, 255, 255, 255, 0, 0, 255, 0});
  EXPECT_EQ(out[2], 47);
}

// Lines of 0 and 1 samples compute nothing and touch nothing.
TEST(ForwardPass, EmptyAndSingleSampleLinesLeaveDestination) {
  TestPlane src(1, 3, 99);
  TestPlane dst(1, 3, kUntouched);
  dwtForwardRows(dst.get(), src.get(), 1, 3);
  for (const Line& row : dst.rows()) EXPECT_EQ(row, Line{kUntouched});

  TestPlane wide(5, 1, 99);
  TestPlane wideDst(5, 1, kUntouched);
  dwtForwardColumns(wideDst.get(), wide.get(), 5, 1);
  EXPECT_EQ(wideDst.row(0), Line(5, kUntouched));

  TestPlane none(4, 2, 99);
  TestPlane noneDst(4, 2, kUntouched);
  dwtForwardRows(noneDst.get(), none.get(), 0, 2);
  dwtForwardColumns(noneDst.get(), none.get(), 4, 0);
  dwtForwardRows(noneDst.get(), none.get(), 4, 0);
  for (const Line& row : noneDst.rows()) EXPECT_EQ(row, Line(4, kUntouched));
}

// ---- Forward passes: planes ----------------------------------------------

// A single 200 at row 1, column 2 of a 4 x 4 plane, through both passes. The
// column pass reads the row pass's 236 as 236, not as -20.
TEST(ForwardPass, SingleSpotPlaneThroughBothPasses) {
  TestPlane src(4, 4, 0);
  src.at(1, 2) = 200;
  TestPlane rows(4, 4, kUntouched);
  dwtForwardRows(rows.get(), src.get(), 4, 4);
  EXPECT_EQ(rows.row(0), Line(4, 0));
  EXPECT_EQ(rows.row(1), (Line{236, 110, 216, 138}));
  EXPECT_EQ(rows.row(2), Line(4, 0));
  EXPECT_EQ(rows.row(3), Line(4, 0));

  TestPlane result(4, 4, kUntouched);
  dwtForwardColumns(result.get(), rows.get(), 4, 4);
  EXPECT_EQ(result.row(0), (Line{125, 58, 115, 73}));
  EXPECT_EQ(result.row(1), (Line{55, 25, 50, 32}));
  EXPECT_EQ(result.row(2), (Line{124, 58, 114, 72}));
  EXPECT_EQ(result.row(3), (Line{243, 250, 244, 249}));
}

// A constant line keeps its value in the low half (except for the 39 values
// whose sum falls just below) and gives 0 in the high half.
TEST(ForwardPass, ConstantLines) {
  for (int u = 0; u <= 255; ++u) {
    const auto low = static_cast<std::uint8_t>(lowOfConstant(u));
    EXPECT_EQ(forwardRow(Line(8, static_cast<std::uint8_t>(u))),
              (Line{low, low, low, low, 0, 0, 0, 0}))
        << "u=" << u;
  }
}

// A constant plane gives L(L(v)) in the low-low block and 0 everywhere else.
TEST(ForwardPass, ConstantPlanes) {
  for (int v = 0; v <= 255; ++v) {
    TestPlane src(8, 8, static_cast<std::uint8_t>(v));
    TestPlane rows(8, 8, kUntouched);
    TestPlane result(8, 8, kUntouched);
    dwtForwardRows(rows.get(), src.get(), 8, 8);
    dwtForwardColumns(result.get(), rows.get(), 8, 8);
    const int lowLow = lowOfConstant(lowOfConstant(v));
    for (int r = 0; r < 8; ++r) {
      for (int c = 0; c < 8; ++c) {
        const int expected = (r < 4 && c < 4) ? lowLow : 0;
        ASSERT_EQ(result.at(r, c), expected) << "v=" << v << " at " << r << "," << c;
      }
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

// With two samples the extension alternates a, b, a, b, ...: index k reads
// sample |k| mod 2. Low: a b a b a b a b a under positions -4..4;
// high: a b a b a b a under -2..4. Sums by hand, in ascending position.
namespace {

struct TwoSums {
  float low;
  float high;
};

TwoSums twoSampleSums(std::uint8_t a, std::uint8_t b) {
  const float x[2] = {static_cast<float>(a), static_cast<float>(b)};
  const float* l = analysisLow.coefficients;
  const float* h = analysisHigh.coefficients;
  float low = 0.0f;
  low = x[0] * l[0] + low;  // -4
  low = x[1] * l[1] + low;  // -3
  low = x[0] * l[2] + low;  // -2
  low = x[1] * l[3] + low;  // -1
  low = x[0] * l[4] + low;  //  0
  low = x[1] * l[5] + low;  //  1
  low = x[0] * l[6] + low;  //  2
  low = x[1] * l[7] + low;  //  3
  low = x[0] * l[8] + low;  //  4
  float high = 0.0f;
  high = x[0] * h[0] + high;  // -2
  high = x[1] * h[1] + high;  // -1
  high = x[0] * h[2] + high;  //  0
  high = x[1] * h[3] + high;  //  1
  high = x[0] * h[4] + high;  //  2
  high = x[1] * h[5] + high;  //  3
  high = x[0] * h[6] + high;  //  4
  return {low, high};
}

}  // namespace

TEST(ForwardPass, TwoSampleLinesReadOnlyInside) {
  // The low taps on even and odd positions each sum to about 1/2, the high
  // taps to about -1/2 and 1/2: low ~ (a + b) / 2, high ~ (b - a) / 2.
  const TwoSums spot = twoSampleSums(10, 200);
  EXPECT_NEAR(spot.low, 105.0f, 1e-4f);
  EXPECT_NEAR(spot.high, 95.0f, 1e-4f);

  const std::uint8_t pairs[][2] = {{10, 200}, {200, 10}, {255, 0}, {0, 255}, {37, 91}, {128, 128}};
  for (const auto& pair : pairs) {
    const TwoSums sums = twoSampleSums(pair[0], pair[1]);
    const Line expected = {dwtTruncateToByte(sums.low), dwtTruncateToByte(sums.high)};
    EXPECT_EQ(forwardRow({pair[0], pair[1]}), expected) << int(pair[0]) << "," << int(pair[1]);
    EXPECT_EQ(forwardColumn({pair[0], pair[1]}), expected) << int(pair[0]) << "," << int(pair[1]);
  }
  EXPECT_EQ(forwardRow({255, 0}), (Line{127, 129}));
  EXPECT_EQ(forwardRow({0, 255}), (Line{127, 127}));
}

// 2 x 2 and 2-wide or 2-tall planes go through both passes and give the same
// bytes every time.
TEST(ForwardPass, TwoWideAndTwoTallPlanesAreDeterministic) {
  const int sizes[][2] = {{2, 2}, {2, 5}, {6, 2}};
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    std::vector<Line> outcomes;
    for (int attempt = 0; attempt < 2; ++attempt) {
      TestPlane src(w, h, 0);
      for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) src.at(r, c) = static_cast<std::uint8_t>(31 * r + 97 * c + 5);
      }
      TestPlane rows(w, h, static_cast<std::uint8_t>(attempt));
      TestPlane result(w, h, static_cast<std::uint8_t>(attempt + 7));
      dwtForwardRows(rows.get(), src.get(), w, h);
      dwtForwardColumns(result.get(), rows.get(), w, h);
      Line flat;
      for (int r = 0; r < 2 * (h / 2); ++r) {
        for (int c = 0; c < 2 * (w / 2); ++c) flat.push_back(result.at(r, c));
      }
      outcomes.push_back(flat);
    }
    EXPECT_EQ(outcomes[0], outcomes[1]) << w << "x" << h;
  }
  // 2 x 2 by hand: rows {10, 200} and {30, 40}.
  TestPlane src(2, 2, 0);
  src.at(0, 0) = 10;
  src.at(0, 1) = 200;
  src.at(1, 0) = 30;
  src.at(1, 1) = 40;
  TestPlane rows(2, 2, kUntouched);
  TestPlane result(2, 2, kUntouched);
  dwtForwardRows(rows.get(), src.get(), 2, 2);
  dwtForwardColumns(result.get(), rows.get(), 2, 2);
  const TwoSums top = twoSampleSums(10, 200), bottom = twoSampleSums(30, 40);
  const std::uint8_t row0[2] = {dwtTruncateToByte(top.low), dwtTruncateToByte(top.high)};
  const std::uint8_t row1[2] = {dwtTruncateToByte(bottom.low), dwtTruncateToByte(bottom.high)};
  for (int c = 0; c < 2; ++c) {
    const TwoSums column = twoSampleSums(row0[c], row1[c]);
    EXPECT_EQ(result.at(0, c), dwtTruncateToByte(column.low)) << c;
    EXPECT_EQ(result.at(1, c), dwtTruncateToByte(column.high)) << c;
  }
}
