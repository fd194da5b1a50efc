// The reversible 5/3: short lines worked by hand, every picture back exactly
// at every size and level count, the fast levels equal to the plain ones on
// every pass set and thread count, the overflow bound, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "coefficients/reversible.h"
#include "dwt97/reversible.h"
#include "noise.h"

using dwt97::ConstIntPlane;
using dwt97::Failure;
using dwt97::IntPlane;
using dwt97::planeOver;

namespace {

// Samples in [-spread, spread), or bytes with spread 0.
std::vector<std::int32_t> noiseInts(std::size_t count, std::uint32_t seed, std::int32_t spread) {
  testsupport::Noise noise(seed);
  std::vector<std::int32_t> values(count);
  for (std::int32_t& v : values) {
    const std::int32_t word = (noise.next() << 16) | (noise.next() << 8) | noise.next();
    v = spread == 0 ? (word & 255) : word % (2 * spread) - spread;
  }
  return values;
}

std::vector<const DwtPassSet*> passSets() {
  const DwtPassSet* const* sets = nullptr;
  const int count = dwtPassSets(&sets);
  return std::vector<const DwtPassSet*>(sets, sets + count);
}

ConstIntPlane constOver(const std::vector<std::int32_t>& v, int w, int h) {
  return planeOver(v.data(), w, h);
}

}  // namespace

// Lines worked by hand (low band, then high band), along a row and down a
// column, by the fast levels and the plain ones.
TEST(Reversible, LinesByHand) {
  const std::vector<std::pair<std::vector<std::int32_t>, std::vector<std::int32_t>>> lines = {
      // H = 20 - floor(45/2), 5 - floor(35/2); L = 10 + floor(-2/4), 35 + floor(-12/4),
      // 0 + floor(-22/4) (position 5 reflects onto 3).
      {{10, 20, 35, 5, 0}, {9, 32, -6, -2, -12}},
      {{1, 2, 3, 9}, {1, 5, 0, 6}},  // position 4 reflects onto 2
      {{7, 2}, {5, -5}},
      {{-3}, {-3}},
  };
  for (const auto& [x, bands] : lines) {
    const int n = static_cast<int>(x.size());
    SCOPED_TRACE("n = " + std::to_string(n));
    for (const auto& [w, h] : {std::pair{n, 1}, std::pair{1, n}}) {
      std::vector<std::int32_t> fast(x.size()), plain(x.size()), back(x.size());
      const int levels = n > 1 ? 1 : 0;
      ASSERT_FALSE(dwt97::dwtAnalyze53(constOver(x, w, h), planeOver(fast.data(), w, h), levels));
      ASSERT_FALSE(
          dwt97::detail::analyze53Plain(constOver(x, w, h), planeOver(plain.data(), w, h), levels));
      EXPECT_EQ(fast, bands);
      EXPECT_EQ(plain, bands);
      ASSERT_FALSE(
          dwt97::dwtSynthesize53(constOver(fast, w, h), planeOver(back.data(), w, h), levels));
      EXPECT_EQ(back, x);
    }
  }
}

// Every 8-bit picture and every picture of int32 samples within +-2^16
// comes back exactly at every size and level count (up to 7 for the latter).
TEST(Reversible, SynthesisGivesThePictureBack) {
  const std::vector<std::pair<int, int>> shapes = {
      {1, 1}, {1, 2}, {2, 1},  {2, 2},  {3, 1},  {1, 7},   {3, 3},   {4, 5},   {5, 4},
      {7, 9}, {8, 8}, {16, 3}, {1, 33}, {31, 2}, {33, 17}, {64, 64}, {97, 101}};
  std::uint32_t seed = 1;
  for (const auto& [w, h] : shapes) {
    const std::size_t count = std::size_t(w) * h;
    const std::vector<std::int32_t> ints = noiseInts(count, seed, 1 << 16);
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t k = 0; k < count; ++k) bytes[k] = static_cast<std::uint8_t>(ints[k]);
    for (int levels = 0; levels <= dwt97::dwtMostAnalysisLevels(w, h); ++levels) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + ", levels " +
                   std::to_string(levels));
      std::vector<std::int32_t> coefficients(count), back(count);
      std::vector<std::uint8_t> round(count);
      ASSERT_FALSE(dwt97::dwtAnalyze53(planeOver(std::as_const(bytes).data(), w, h),
                                       planeOver(coefficients.data(), w, h), levels));
      ASSERT_FALSE(dwt97::dwtSynthesize53(constOver(coefficients, w, h),
                                          planeOver(back.data(), w, h), levels));
      ASSERT_FALSE(dwt97::dwtRoundToBytes(constOver(back, w, h), planeOver(round.data(), w, h)));
      EXPECT_EQ(round, bytes);
      if (levels > 7) continue;  // beyond what the bound lets such samples reach
      ASSERT_FALSE(
          dwt97::dwtAnalyze53(constOver(ints, w, h), planeOver(coefficients.data(), w, h), levels));
      ASSERT_FALSE(dwt97::dwtSynthesize53(constOver(coefficients, w, h),
                                          planeOver(back.data(), w, h), levels));
      EXPECT_EQ(back, ints);
    }
    ++seed;
  }
}

// The fast levels are the plain ones on every pass set, from bytes and from
// signed samples, on 1, 2, 3 and 7 threads; synthesis of any coefficients
// too (the plain code wider, so within the range where neither wraps).
TEST(Reversible, FastLevelsMatchPlain) {
  std::vector<std::pair<int, int>> shapes;
  for (int w : {1, 2, 3, 5, 8, 17, 33})
    for (int h : {1, 2, 3, 6, 9, 40}) shapes.push_back({w, h});
  for (const auto& shape :
       std::vector<std::pair<int, int>>{{1031, 7}, {5, 300}, {131, 130}, {64, 65}})
    shapes.push_back(shape);
  std::uint32_t seed = 100;
  for (const DwtPassSet* set : passSets()) {
    for (const auto& [w, h] : shapes) {
      const std::size_t count = std::size_t(w) * h;
      const std::vector<std::int32_t> bytes = noiseInts(count, seed, 0);
      const std::vector<std::int32_t> ints = noiseInts(count, seed++, 1 << 18);
      std::vector<std::uint8_t> narrow(bytes.begin(), bytes.end());
      const int most = dwt97::dwtMostAnalysisLevels(w, h);
      for (int levels : {1, 2, most}) {
        if (levels > most) continue;
        for (int threads : {1, 2, 3, 7}) {
          SCOPED_TRACE(std::string(set->name) + " " + std::to_string(w) + " x " +
                       std::to_string(h) + ", levels " + std::to_string(levels) + ", threads " +
                       std::to_string(threads));
          std::vector<std::int32_t> plain(count, 5), fast(count, 6);
          ASSERT_FALSE(dwt97::detail::analyze53Plain(constOver(bytes, w, h),
                                                     planeOver(plain.data(), w, h), levels));
          ASSERT_FALSE(dwt97::detail::analyze53With(*set,
                                                    planeOver(std::as_const(narrow).data(), w, h),
                                                    planeOver(fast.data(), w, h), levels, threads));
          EXPECT_EQ(plain, fast) << "analysis of bytes";
          if (levels <= 5) {
            ASSERT_FALSE(dwt97::detail::analyze53Plain(constOver(ints, w, h),
                                                       planeOver(plain.data(), w, h), levels));
            ASSERT_FALSE(dwt97::detail::analyze53With(
                *set, constOver(ints, w, h), planeOver(fast.data(), w, h), levels, threads));
            EXPECT_EQ(plain, fast) << "analysis of signed samples";
          }
          ASSERT_FALSE(dwt97::detail::synthesize53Plain(constOver(ints, w, h),
                                                        planeOver(plain.data(), w, h), levels));
          ASSERT_FALSE(dwt97::detail::synthesize53With(
              *set, constOver(ints, w, h), planeOver(fast.data(), w, h), levels, threads));
          EXPECT_EQ(plain, fast) << "synthesis";
        }
      }
    }
  }
}

// The bound holds over the patterns that grow the most (alternating
// extremes), it lets 8-bit samples through every level count any picture
// allows, and samples beyond it are refused.
TEST(Reversible, OverflowBound) {
  using dwt97::detail::reversibleBound;
  EXPECT_LT(reversibleBound(255, 65535, 32768, dwt97::dwtMostAnalysisLevels(65535, 32768)),
            2147483647.0);
  EXPECT_LT(reversibleBound(255, 0x7FFFFFFF, 1, 31), 2147483647.0);
  EXPECT_LT(reversibleBound(1 << 20, 4096, 4096, 7), 2147483647.0);
  EXPECT_GT(reversibleBound(1 << 20, 4096, 4096, 8), 2147483647.0);
  // Checkerboards of +-m and stripes, through the plain code's wide sums.
  const int w = 64, h = 64, levels = 6;
  for (int pattern = 0; pattern < 3; ++pattern) {
    std::vector<std::int32_t> x(std::size_t(w) * h), y(x.size());
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) {
        const int sign = pattern == 0 ? (r + c) % 2 : pattern == 1 ? c % 2 : (r / 2 + c / 3) % 2;
        x[std::size_t(r) * w + c] = sign != 0 ? 1000 : -1000;
      }
    }
    ASSERT_FALSE(
        dwt97::detail::analyze53Plain(constOver(x, w, h), planeOver(y.data(), w, h), levels));
    for (std::int32_t v : y) ASSERT_LE(std::abs(v), reversibleBound(1000, w, h, levels));
  }
}

// Each refusal names its operation and leaves the output as it was.
TEST(Reversible, RefusalsChangeNothing) {
  std::vector<std::int32_t> in(64, 1), out(128, 3);
  const ConstIntPlane in8 = constOver(in, 8, 8);
  const IntPlane out8 = planeOver(out.data(), 8, 8);
  std::vector<std::int32_t> large(64, 1 << 24);
  large[63] = INT32_MIN;
  struct Refusal {
    const char* name;
    ConstIntPlane in;
    IntPlane out;
    int levels;
    Failure failure;
    int mostLevels;
  };
  const std::vector<Refusal> refusals = {
      {"shapes differ", in8, planeOver(out.data(), 8, 7), 1, Failure::planeShapes, 0},
      {"same memory", constOver(out, 8, 8), out8, 1, Failure::planeOverlap, 0},
      {"levels negative", in8, out8, -1, Failure::levelsNegative, 0},
      {"levels past the most", in8, out8, 4, Failure::tooManyLevels, 3},
      {"samples that overflow", constOver(large, 8, 8), out8, 1, Failure::coefficientsOverflow, 0},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    auto error = dwt97::dwtAnalyze53(r.in, r.out, r.levels);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->failure, r.failure);
    EXPECT_STREQ(error->operation, "dwtAnalyze53");
    EXPECT_EQ(error->mostLevels, r.mostLevels);
    EXPECT_EQ(out, std::vector<std::int32_t>(128, 3));
    if (r.failure == Failure::coefficientsOverflow) continue;  // any coefficients synthesise
    error = dwt97::dwtSynthesize53(r.in, r.out, r.levels);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->failure, r.failure);
    EXPECT_STREQ(error->operation, "dwtSynthesize53");
    EXPECT_EQ(out, std::vector<std::int32_t>(128, 3));
  }
  char message[dwt97::kMessageCapacity];
  const auto error = dwt97::dwtAnalyze53(constOver(large, 8, 8), out8, 1);
  EXPECT_STREQ(dwt97::formatFailure(*error, message, sizeof message),
               "Error: dwtAnalyze53(), Samples too large for 32-bit coefficients at these "
               "levels!\n");
  // No level copies any sample; samples a little smaller fit.
  EXPECT_FALSE(dwt97::dwtAnalyze53(constOver(large, 8, 8), out8, 0));
  EXPECT_EQ(out[63], INT32_MIN);
  large[63] = 1 << 20;
  EXPECT_FALSE(dwt97::dwtAnalyze53(constOver(large, 8, 8), out8, 1));
}

// A bottom-up view reads as its copy; bytes are clamped; the view of integer
// coefficients is that of the same values as floats.
TEST(Reversible, ViewsBytesAndPictures) {
  const int w = 9, h = 7;
  const std::vector<std::int32_t> flat = noiseInts(std::size_t(w) * h, 7, 300);
  std::vector<std::int32_t> flipped(flat.size()), fromFlat(flat.size()), fromFlipped(flat.size());
  for (int r = 0; r < h; ++r) {
    std::copy_n(flat.begin() + r * w, w, flipped.begin() + (h - 1 - r) * w);
  }
  const ConstIntPlane bottomUp{flipped.data() + (h - 1) * w, -w, w, h};
  ASSERT_FALSE(dwt97::dwtAnalyze53(constOver(flat, w, h), planeOver(fromFlat.data(), w, h), 2));
  ASSERT_FALSE(dwt97::dwtAnalyze53(bottomUp, planeOver(fromFlipped.data(), w, h), 2));
  EXPECT_EQ(fromFlat, fromFlipped);

  std::vector<std::uint8_t> bytes(flat.size());
  ASSERT_FALSE(dwt97::dwtRoundToBytes(constOver(flat, w, h), planeOver(bytes.data(), w, h)));
  for (std::size_t k = 0; k < flat.size(); ++k) {
    ASSERT_EQ(bytes[k], flat[k] < 0 ? 0 : flat[k] > 255 ? 255 : flat[k]) << k;
  }

  std::vector<float> floats(fromFlat.begin(), fromFlat.end());
  std::vector<std::uint8_t> ofInts(flat.size()), ofFloats(flat.size());
  ASSERT_FALSE(dwt97::dwtRenderView(constOver(fromFlat, w, h), planeOver(ofInts.data(), w, h), 2));
  ASSERT_FALSE(dwt97::dwtRenderView(planeOver(std::as_const(floats).data(), w, h),
                                    planeOver(ofFloats.data(), w, h), 2));
  EXPECT_EQ(ofInts, ofFloats);
}
