// The float coefficients: the analysis reproduces the byte row pass's sums,
// the synthesis gives back every 8-bit picture at every size and level
// count, the fast levels match the plain ones bit for bit on every pass set
// and thread count, strided views read as their copies, and every refusal
// leaves the output as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "coefficients/levels.h"
#include "dwt97/coefficients.h"
#include "dwt97/filterbank.h"
#include "noise.h"
#include "test_support.h"

using dwt97::ConstBytePlane;
using dwt97::ConstFloatPlane;
using dwt97::Failure;
using dwt97::FloatPlane;
using dwt97::planeOver;

namespace {

std::vector<std::uint8_t> noiseBytes(std::size_t count, std::uint32_t seed) {
  testsupport::Noise noise(seed);
  std::vector<std::uint8_t> bytes(count);
  for (std::uint8_t& b : bytes) b = noise.next();
  return bytes;
}

// Floats of every sign and size, zeros of both signs, and now and then an
// infinity or a NaN.
std::vector<float> noiseFloats(std::size_t count, std::uint32_t seed, bool special) {
  testsupport::Noise noise(seed);
  std::vector<float> values(count);
  for (float& v : values) {
    const int kind = noise.next();
    v = (static_cast<float>(noise.next()) - 127.5f) * (kind % 3 == 0 ? 1e-3f : 1.7f);
    if (kind < 16) v = kind % 2 == 0 ? 0.0f : -0.0f;
    if (special && kind == 255) v = INFINITY;
    if (special && kind == 254) v = NAN;
  }
  return values;
}

// The first sample whose bits differ (any NaN matching any NaN), or "".
std::string firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
  for (std::size_t k = 0; k < a.size(); ++k) {
    if ((std::isnan(a[k]) && std::isnan(b[k])) || std::memcmp(&a[k], &b[k], sizeof(float)) == 0) {
      continue;
    }
    return std::to_string(k) + ": " + std::to_string(a[k]) + " vs " + std::to_string(b[k]);
  }
  return "";
}

std::vector<const DwtPassSet*> passSets() {
  const DwtPassSet* const* sets = nullptr;
  const int count = dwtPassSets(&sets);
  return std::vector<const DwtPassSet*>(sets, sets + count);
}

}  // namespace

// A row is the byte row pass's sums: truncated they are its bytes, and with
// an odd length the extra low entry is the low-pass at the last sample.
TEST(Coefficients, RowsAreTheRowPassSums) {
  struct Row {
    std::vector<std::uint8_t> samples;
    std::vector<float> sums;  // low band, then high band
  };
  const std::vector<Row> rows = {
      {{10, 20, 30, 40, 50, 60, 70, 80},
       {13.3364048f, 30.7326679f, 49.4650307f, 70.6341019f, 1.24999928f, -4.76837158e-07f,
        -0.912717819f, 4.32543516f}},
      {{0, 0, 0, 200, 0, 0, 0, 0},
       {-6.74564743f, 53.3728256f, 53.3728256f, -3.37282372f, -5.75435257f, 111.508705f,
        -5.75435257f, 0.0f}},
      {{255, 0, 255, 0, 255, 0, 255, 0},
       {127.500008f, 127.500008f, 127.500008f, 127.500008f, -127.5f, -127.5f, -127.5f, -127.5f}},
      {{10, 200, 30}, {101.871071f, 0.0f, 0.0f}},
  };
  for (const Row& row : rows) {
    const auto n = static_cast<std::int32_t>(row.samples.size());
    std::vector<float> out(row.samples.size(), 7.0f);
    ASSERT_FALSE(
        dwt97::dwtAnalyze(planeOver(row.samples.data(), n, 1), planeOver(out.data(), n, 1)));
    std::vector<std::uint8_t> bytes(row.samples.size(), 0);
    std::uint8_t* dst[1] = {bytes.data()};
    const std::uint8_t* src[1] = {row.samples.data()};
    dwtForwardRows(dst, src, n, 1);
    for (std::int32_t k = 0; k < n; ++k) {
      if (n % 2 == 0) {
        EXPECT_EQ(out[k], row.sums[k]) << "entry " << k;
      }
      // The byte pass's outputs sit at low j and n/2 + j, ours at the bands'.
      const std::int32_t half = n / 2, lows = (n + 1) / 2;
      if (k < half) {
        EXPECT_EQ(dwtTruncateToByte(out[k]), bytes[k]) << "low " << k;
        EXPECT_EQ(dwtTruncateToByte(out[lows + k]), bytes[half + k]) << "high " << k;
      }
    }
    if (n == 3) {
      EXPECT_EQ(out[0], 101.871071f);
    }
  }
  // Width 7: the byte pass's three pairs, then the low-pass at sample 6.
  const std::vector<std::uint8_t> seven = {10, 20, 30, 40, 50, 60, 70};
  std::vector<float> out(7);
  ASSERT_FALSE(dwt97::dwtAnalyze(planeOver(seven.data(), 7, 1), planeOver(out.data(), 7, 1)));
  EXPECT_EQ(out[6], -1.25000048f);
  EXPECT_EQ(dwtTruncateToByte(out[0]), 13);
  EXPECT_EQ(dwtTruncateToByte(out[2]), 49);
}

// Every 8-bit picture comes back once rounded, at every size (lines of 1,
// 2 and 3, odd, even and prime sides) and every level count; and the float
// error stays within a thousandth.
TEST(Coefficients, SynthesisGivesThePictureBack) {
  const std::vector<std::pair<int, int>> shapes = {
      {1, 1}, {1, 2}, {2, 1},  {2, 2},  {3, 1},  {1, 7},   {3, 3},   {4, 5},   {5, 4},
      {7, 9}, {8, 8}, {16, 3}, {1, 33}, {31, 2}, {33, 17}, {64, 64}, {97, 101}};
  std::uint32_t seed = 1;
  for (const auto& [w, h] : shapes) {
    const std::vector<std::uint8_t> picture = noiseBytes(std::size_t(w) * h, seed++);
    for (int levels = 0; levels <= dwt97::dwtMostAnalysisLevels(w, h); ++levels) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + ", levels " +
                   std::to_string(levels));
      std::vector<float> coefficients(picture.size()), back(picture.size());
      std::vector<std::uint8_t> bytes(picture.size());
      ASSERT_FALSE(dwt97::dwtAnalyze(planeOver(picture.data(), w, h),
                                     planeOver(coefficients.data(), w, h), levels));
      ASSERT_FALSE(dwt97::dwtSynthesize(planeOver(std::as_const(coefficients).data(), w, h),
                                        planeOver(back.data(), w, h), levels));
      ASSERT_FALSE(dwt97::dwtRoundToBytes(planeOver(std::as_const(back).data(), w, h),
                                          planeOver(bytes.data(), w, h)));
      EXPECT_EQ(bytes, picture);
      for (std::size_t k = 0; k < picture.size(); ++k) {
        ASSERT_NEAR(back[k], picture[k], 1e-3) << "sample " << k;
      }
    }
  }
}

// The fast levels are the plain ones, bit for bit, on every pass set, from
// bytes and from floats (zeros of both signs, infinities and NaNs among
// them), on 1, 2, 3 and 7 threads; shapes cross the vectors' widths, the
// row chunks and the analysis strips.
TEST(Coefficients, FastLevelsMatchPlain) {
  // Small shapes on one and three threads, larger ones on two and seven too.
  std::vector<std::pair<int, int>> shapes;
  for (int w : {1, 2, 3, 4, 5, 8, 16, 17, 33})
    for (int h : {1, 2, 3, 5, 6, 9, 31, 40}) shapes.push_back({w, h});
  const std::size_t small = shapes.size();
  for (const auto& shape : std::vector<std::pair<int, int>>{
           {4097, 9}, {9001, 5}, {5, 3000}, {301, 300}, {2049, 2}, {65, 64}})
    shapes.push_back(shape);
  std::uint32_t seed = 100;
  for (const DwtPassSet* set : passSets()) {
    for (std::size_t shape = 0; shape < shapes.size(); ++shape) {
      const auto [w, h] = shapes[shape];
      const std::size_t count = std::size_t(w) * h;
      const std::vector<std::uint8_t> bytes = noiseBytes(count, seed);
      const std::vector<float> floats = noiseFloats(count, seed++, true);
      const int most = dwt97::dwtMostAnalysisLevels(w, h);
      std::vector<int> counts;  // 1, 2, 3 and the most, each once, where allowed
      for (int levels : {1, 2, 3, most}) {
        if (levels <= most && (counts.empty() || counts.back() < levels)) counts.push_back(levels);
      }
      for (int levels : counts) {
        for (int threads : {1, 3, 2, 7}) {
          if (shape < small && (threads == 2 || threads == 7)) continue;
          SCOPED_TRACE(std::string(set->name) + " " + std::to_string(w) + " x " +
                       std::to_string(h) + ", levels " + std::to_string(levels) + ", threads " +
                       std::to_string(threads));
          std::vector<float> plain(count, 5.0f), fast(count, 6.0f);
          const auto plainOut = planeOver(plain.data(), w, h);
          const auto fastOut = planeOver(fast.data(), w, h);
          const ConstBytePlane fromBytes = planeOver(bytes.data(), w, h);
          ASSERT_FALSE(dwt97::detail::analyzeLevelsPlain(fromBytes, plainOut, levels));
          ASSERT_FALSE(dwt97::detail::analyzeLevelsWith(*set, fromBytes, fastOut, levels, threads));
          EXPECT_EQ(firstDifference(plain, fast), "") << "analysis of bytes";
          const ConstFloatPlane fromFloats = planeOver(floats.data(), w, h);
          ASSERT_FALSE(dwt97::detail::analyzeLevelsPlain(fromFloats, plainOut, levels));
          ASSERT_FALSE(
              dwt97::detail::analyzeLevelsWith(*set, fromFloats, fastOut, levels, threads));
          EXPECT_EQ(firstDifference(plain, fast), "") << "analysis of floats";
          ASSERT_FALSE(dwt97::detail::synthesizeLevelsPlain(fromFloats, plainOut, levels));
          ASSERT_FALSE(
              dwt97::detail::synthesizeLevelsWith(*set, fromFloats, fastOut, levels, threads));
          EXPECT_EQ(firstDifference(plain, fast), "") << "synthesis";
        }
      }
    }
  }
}

// A sum from +0.0 is never -0.0, even where every product is -0.0: lines of
// zeros signed so (against the signs of the low-pass, of the high-pass, and
// of the pieces of an even synthesis output), down a column and along a row.
TEST(Coefficients, ZeroSumsArePositive) {
  const float n = -0.0f, p = 0.0f;
  const std::vector<float> low = {n, p, p, n, n, n, p, p, n, 1, 1, 1};   // pair 2's taps
  const std::vector<float> high = {1, 1, n, p, p, n, p, p, n, 1, 1, 1};  // pair 2's taps
  // Row synthesis, output 6: low entries 2 .. 4, high entries 1 .. 4.
  const std::vector<float> even = {1, 1, p, n, p, 1, 1, n, p, p, n, 1};
  struct Line {
    const char* name;
    const std::vector<float>& values;
    bool synthesis;
  };
  for (const Line& line : {Line{"low-pass", low, false}, Line{"high-pass", high, false},
                           Line{"even synthesis", even, true}}) {
    for (const bool column : {false, true}) {
      if (line.synthesis && column) continue;
      const std::int32_t w = column ? 1 : 12, h = column ? 12 : 1;
      for (const DwtPassSet* set : passSets()) {
        SCOPED_TRACE(std::string(line.name) + (column ? " down a column, " : " along a row, ") +
                     set->name);
        std::vector<float> out(12, 5.0f);
        const ConstFloatPlane in = planeOver(line.values.data(), w, h);
        const FloatPlane to = planeOver(out.data(), w, h);
        ASSERT_FALSE(line.synthesis ? dwt97::detail::synthesizeLevelsWith(*set, in, to, 1, 1)
                                    : dwt97::detail::analyzeLevelsWith(*set, in, to, 1, 1));
        for (std::size_t k = 0; k < out.size(); ++k)
          EXPECT_FALSE(std::signbit(out[k]) && out[k] == 0) << k;
        std::vector<float> plain(12);
        ASSERT_FALSE(
            line.synthesis
                ? dwt97::detail::synthesizeLevelsPlain(in, planeOver(plain.data(), w, h), 1)
                : dwt97::detail::analyzeLevelsPlain(in, planeOver(plain.data(), w, h), 1));
        EXPECT_EQ(firstDifference(plain, out), "");
      }
    }
  }
}

// Any row stride reads as the contiguous copy: padded rows, a bottom-up
// block (negative stride), one row repeated (stride 0); the input is only
// read, and an output with padded rows leaves the padding alone.
TEST(Coefficients, StridedViewsReadAsTheirCopies) {
  constexpr int w = 37, h = 23, stride = 41;
  const std::vector<float> flat = noiseFloats(std::size_t(w) * h, 9, false);
  std::vector<float> padded(std::size_t(stride) * h, 99.0f), upsideDown(flat.size());
  for (int r = 0; r < h; ++r) {
    std::memcpy(&padded[std::size_t(r) * stride], &flat[std::size_t(r) * w], w * sizeof(float));
    std::memcpy(&upsideDown[std::size_t(h - 1 - r) * w], &flat[std::size_t(r) * w],
                w * sizeof(float));
  }
  std::vector<float> repeated(flat.size());
  for (int r = 0; r < h; ++r) std::memcpy(&repeated[std::size_t(r) * w], flat.data(), w * 4);
  const std::vector<std::pair<const char*, std::pair<ConstFloatPlane, ConstFloatPlane>>> views = {
      {"padded rows", {{padded.data(), stride, w, h}, planeOver(flat.data(), w, h)}},
      {"bottom up",
       {{&upsideDown[std::size_t(h - 1) * w], -w, w, h}, planeOver(flat.data(), w, h)}},
      {"one row", {{flat.data(), 0, w, h}, planeOver(std::as_const(repeated).data(), w, h)}},
  };
  const std::vector<float> paddedBefore = padded;
  for (const auto& [name, planes] : views) {
    SCOPED_TRACE(name);
    for (const bool synthesis : {false, true}) {
      std::vector<float> viewed(std::size_t(stride) * h, -1.0f), copied(flat.size());
      const FloatPlane out{viewed.data(), stride, w, h};
      const auto run = [&](ConstFloatPlane in, FloatPlane to) {
        return synthesis ? dwt97::dwtSynthesize(in, to, 3, 2) : dwt97::dwtAnalyze(in, to, 3, 2);
      };
      ASSERT_FALSE(run(planes.first, out));
      ASSERT_FALSE(run(planes.second, planeOver(copied.data(), w, h)));
      for (int r = 0; r < h; ++r) {
        for (int c = 0; c < stride; ++c) {
          const float got = viewed[std::size_t(r) * stride + c];
          ASSERT_EQ(got, c < w ? copied[std::size_t(r) * w + c] : -1.0f) << r << "," << c;
        }
      }
    }
  }
  EXPECT_EQ(padded, paddedBefore);
}

// Each refusal names its operation and leaves the output as it was.
TEST(Coefficients, RefusalsChangeNothing) {
  std::vector<float> in(64, 1.0f), out(128, 3.0f);
  const ConstFloatPlane in8 = planeOver(std::as_const(in).data(), 8, 8);
  const FloatPlane out8 = planeOver(out.data(), 8, 8);
  struct Refusal {
    const char* name;
    ConstFloatPlane in;
    FloatPlane out;
    int levels;
    const char* message;
  };
  const std::vector<Refusal> refusals = {
      {"shapes differ", in8, planeOver(out.data(), 8, 7), 1,
       "Error: dwtSynthesize(), Planes of different shapes or of no samples!\n"},
      {"no samples", planeOver(std::as_const(in).data(), 0, 8), planeOver(out.data(), 0, 8), 0,
       "Error: dwtSynthesize(), Planes of different shapes or of no samples!\n"},
      {"no data",
       {nullptr, 8, 8, 8},
       out8,
       1,
       "Error: dwtSynthesize(), Planes of different shapes or of no samples!\n"},
      {"same memory",
       {reinterpret_cast<const float*>(out.data()), 8, 8, 8},
       out8,
       1,
       "Error: dwtSynthesize(), Input and output planes overlap!\n"},
      {"last row shared",
       {reinterpret_cast<const float*>(out.data()) + 56, 8, 8, 8},
       out8,
       0,
       "Error: dwtSynthesize(), Input and output planes overlap!\n"},
      {"output rows overlap",
       in8,
       {out.data(), 4, 8, 8},
       1,
       "Error: dwtSynthesize(), Input and output planes overlap!\n"},
      {"levels negative", in8, out8, -1, "Error: dwtSynthesize(), Levels must be 0 or more!\n"},
      {"levels past the most", in8, out8, 4,
       "Error: dwtSynthesize(), Too many levels for the picture (at most 3)!\n"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    const auto error = dwt97::dwtSynthesize(r.in, r.out, r.levels);
    ASSERT_TRUE(error);
    char message[dwt97::kMessageCapacity];
    EXPECT_STREQ(dwt97::formatFailure(*error, message, sizeof message), r.message);
    EXPECT_EQ(out, std::vector<float>(128, 3.0f));
  }
  // The analysis checks the same, under its own name.
  const auto error = dwt97::dwtAnalyze(in8, out8, 4);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->failure, Failure::tooManyLevels);
  EXPECT_STREQ(error->operation, "dwtAnalyze");
  EXPECT_EQ(error->mostLevels, 3);
}

TEST(Coefficients, MostLevelsAndRounding) {
  const std::vector<std::pair<std::pair<std::int32_t, std::int32_t>, int>> most = {
      {{1, 1}, 0}, {{2, 1}, 1},        {{1, 2}, 1},     {{3, 3}, 2},      {{4, 4}, 2},
      {{5, 1}, 3}, {{2048, 2048}, 11}, {{2049, 3}, 12}, {{1, 65535}, 16}, {{0x7FFFFFFF, 1}, 31}};
  for (const auto& [shape, levels] : most) {
    EXPECT_EQ(dwt97::dwtMostAnalysisLevels(shape.first, shape.second), levels)
        << shape.first << " x " << shape.second;
  }
  const std::vector<float> values = {2.5f,   3.5f,     -0.3f, -0.0f,    254.5f,    255.5f,
                                     300.0f, 0.49999f, NAN,   INFINITY, -INFINITY, 1e30f};
  const std::vector<std::uint8_t> expected = {2, 4, 0, 0, 254, 255, 255, 0, 0, 255, 0, 255};
  std::vector<std::uint8_t> bytes(values.size());
  const auto n = static_cast<std::int32_t>(values.size());
  ASSERT_FALSE(
      dwt97::dwtRoundToBytes(planeOver(values.data(), n, 1), planeOver(bytes.data(), n, 1)));
  EXPECT_EQ(bytes, expected);
}
