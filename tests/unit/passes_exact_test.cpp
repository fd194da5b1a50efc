// The fast passes against the plain ones (the oracle): every pass set this
// processor can run must give the same bytes, everywhere in the destination
// (positions a pass leaves alone included), for lines of every awkward length.
// The fused forward transform is held to the plain row pass then column pass
// (each into a zero-filled plane), and the threaded operations must give the
// same bytes for every thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dwt97/filterbank.h"
#include "filterbank/kernels/kernels.h"
#include "noise.h"
#include "reference_passes.h"
#include "test_support.h"

using dwt97::planeAllocate;
using dwt97::PlaneBuffer;
using dwt97::planeRelease;

namespace {

using Fill = std::function<std::uint8_t(std::int32_t row, std::int32_t column)>;

struct Plane {
  Plane(std::int32_t width, std::int32_t height, const Fill& fill)
      : buffer(testsupport::newPlane(width, height)) {
    for (std::int32_t r = 0; r < height; ++r)
      for (std::int32_t c = 0; c < width; ++c) buffer.rows[r][c] = fill(r, c);
  }
  ~Plane() { planeRelease(&buffer); }
  Plane(const Plane&) = delete;
  Plane& operator=(const Plane&) = delete;
  PlaneBuffer buffer;
};

Fill randomFill(std::uint32_t seed) {
  return [noise = testsupport::Noise(seed)](std::int32_t, std::int32_t) mutable {
    return noise.next();
  };
}

std::vector<const DwtPassSet*> passSets() {
  const DwtPassSet* const* sets = nullptr;
  const int count = dwtPassSets(&sets);
  return std::vector<const DwtPassSet*>(sets, sets + count);
}

// Index of the first differing sample, as "row,column", or "" when equal.
std::string firstDifference(const PlaneBuffer& a, const PlaneBuffer& b) {
  for (std::int32_t r = 0; r < a.height; ++r)
    for (std::int32_t c = 0; c < a.width; ++c)
      if (a.rows[r][c] != b.rows[r][c])
        return std::to_string(r) + "," + std::to_string(c) + ": " + std::to_string(a.rows[r][c]) +
               " vs " + std::to_string(b.rows[r][c]);
  return "";
}

using Pass = void (*)(SamplePlane, const std::uint8_t* const*, std::int32_t, std::int32_t);
using SetPass =
    std::function<void(SamplePlane, const std::uint8_t* const*, std::int32_t, std::int32_t)>;

// The passes of one set, each over the whole plane as the public passes go.
SetPass forwardRowsOf(const DwtPassSet& set) {
  return [&set](SamplePlane dst, const std::uint8_t* const* src, std::int32_t a, std::int32_t b) {
    dwtForwardRowsWith(set, dst, src, a, b, 1);
  };
}
SetPass forwardColumnsOf(const DwtPassSet& set) {
  return [&set](SamplePlane dst, const std::uint8_t* const* src, std::int32_t a, std::int32_t b) {
    EXPECT_EQ(dwtForwardColumnsWith(set, dst, src, a, b, 1), std::nullopt);
  };
}
SetPass inverseColumnsOf(const DwtPassSet& set) {
  return [&set](SamplePlane dst, const std::uint8_t* const* src, std::int32_t a, std::int32_t b) {
    EXPECT_EQ(dwtInverseColumnsWith(set, dst, src, a, b, 1), std::nullopt);
  };
}
SetPass inverseRowsOf(const DwtPassSet& set) {
  return [&set](SamplePlane dst, const std::uint8_t* const* src, std::int32_t a, std::int32_t b) {
    dwtInverseRowsWith(set, dst, src, a, b, 1);
  };
}

// Runs `fast` and `plain` on the same source into destinations that start
// equal (and not zero), and expects equal destinations.
// The planes are `width` x `height` for the forward passes; the inverse
// passes take half sizes and cover twice as many columns and rows.
void expectSame(const char* what, const SetPass& fast, const SetPass& plain, std::int32_t a,
                std::int32_t b, const Fill& fill, const std::string& label) {
  const bool inverse = std::string(what).rfind("inverse", 0) == 0;
  const std::int32_t width = inverse ? 2 * a : a;
  const std::int32_t height = inverse ? 2 * b : b;
  const Plane source(width, height, fill);
  const Plane fastOut(width, height, randomFill(99));
  const Plane plainOut(width, height, randomFill(99));
  fast(fastOut.buffer.rows, source.buffer.rows, a, b);
  plain(plainOut.buffer.rows, source.buffer.rows, a, b);
  EXPECT_EQ(firstDifference(fastOut.buffer, plainOut.buffer), "")
      << what << " " << label << " " << a << "x" << b;
}

const int kThreadCounts[] = {1, 2, 3, 7};

// What a streaming transform told: each result row as it was when told, and
// how often it was told.
struct Told {
  std::mutex lock;
  std::vector<std::vector<std::uint8_t>> rows;
  std::vector<int> times;
  std::int32_t width;
};

void recordRows(void* context, const std::uint8_t* const* result, std::int32_t first,
                std::int32_t count) {
  Told& told = *static_cast<Told*>(context);
  const std::lock_guard<std::mutex> hold(told.lock);
  for (std::int32_t r = first; r < first + count; ++r) {
    told.rows[r].assign(result[r], result[r] + told.width);
    ++told.times[r];
  }
}

// The transform following a slow reader: the plane starts as noise, and the
// reader copies the source in one row at a time, yielding after each, so
// that a transform reading a row before its time reads noise. Same bytes as
// the plain passes, every result row told once and final when told.
void expectFedSame(const DwtPassSet& set, int threads, const PlaneBuffer& source,
                   const PlaneBuffer& expected, const std::string& label) {
  const std::int32_t width = source.width, height = source.height;
  const Plane fed(width, height, randomFill(99));
  Told told;
  told.rows.resize(static_cast<std::size_t>(height));
  told.times.assign(static_cast<std::size_t>(height), 0);
  told.width = width;
  dwt97::DwtFeed* feed = nullptr;
  ASSERT_EQ(
      dwtFeedStartWith(set, fed.buffer.rows, width, height, threads, recordRows, &told, &feed),
      std::nullopt);
  for (std::int32_t r = 0; r < height; ++r) {
    std::copy(source.rows[r], source.rows[r] + width, fed.buffer.rows[r]);
    dwt97::dwtFeedRows(feed, r + 1);
    std::this_thread::yield();
  }
  ASSERT_EQ(dwt97::dwtFeedFinish(feed), std::nullopt);
  EXPECT_EQ(firstDifference(fed.buffer, expected), "")
      << "fed " << set.name << " " << label << " " << width << "x" << height << " on " << threads
      << " threads";
  for (std::int32_t r = 0; r < height && width > 0; ++r) {
    ASSERT_EQ(told.times[r], 1) << "fed, row " << r << " " << width << "x" << height;
    ASSERT_TRUE(std::equal(told.rows[r].begin(), told.rows[r].end(), expected.rows[r]))
        << "fed, row " << r << " as told, " << set.name << " " << width << "x" << height;
  }
}

// The fused transform of every pass set, on every thread count, against the
// plain row pass then column pass. The plane's row pointers may be reordered
// but must still be the same set of row buffers. Out of place the result
// lands in the destination's rows in order, and the source stays as it was.
void expectFusedSame(std::int32_t width, std::int32_t height, const Fill& fill,
                     const std::string& label) {
  const Plane source(width, height, fill);
  const Plane pristine(width, height,
                       [&](std::int32_t r, std::int32_t c) { return source.buffer.rows[r][c]; });
  const Plane middle(width, height, [](std::int32_t, std::int32_t) { return 0; });
  const Plane expected(width, height, [](std::int32_t, std::int32_t) { return 0; });
  plainForwardRows(middle.buffer.rows, source.buffer.rows, width, height);
  plainForwardColumns(expected.buffer.rows, middle.buffer.rows, width, height);
  for (const DwtPassSet* set : passSets()) {
    for (const int threads : kThreadCounts) {
      Plane fused(width, height,
                  [&](std::int32_t r, std::int32_t c) { return source.buffer.rows[r][c]; });
      std::vector<std::uint8_t*> before(fused.buffer.rows, fused.buffer.rows + height);
      // Streaming: every result row is told once, already final.
      Told told;
      told.rows.resize(static_cast<std::size_t>(height));
      told.times.assign(static_cast<std::size_t>(height), 0);
      told.width = width;
      EXPECT_EQ(
          dwtForward2dWith(*set, fused.buffer.rows, width, height, threads, recordRows, &told),
          std::nullopt);
      EXPECT_EQ(firstDifference(fused.buffer, expected.buffer), "")
          << "fused " << set->name << " " << label << " " << width << "x" << height << " on "
          << threads << " threads";
      for (std::int32_t r = 0; r < height && width > 0; ++r) {
        ASSERT_EQ(told.times[r], 1) << "row " << r << " " << width << "x" << height;
        ASSERT_TRUE(std::equal(told.rows[r].begin(), told.rows[r].end(), expected.buffer.rows[r]))
            << "row " << r << " as told, " << set->name << " " << width << "x" << height << " on "
            << threads << " threads";
      }
      std::vector<std::uint8_t*> after(fused.buffer.rows, fused.buffer.rows + height);
      std::sort(before.begin(), before.end());
      std::sort(after.begin(), after.end());
      EXPECT_EQ(before, after) << "fused " << set->name << " " << width << "x" << height;
      expectFedSame(*set, threads, source.buffer, expected.buffer, label);
    }
    for (const int threads : {0, 1, 2, 3, 7}) {
      const Plane into(width, height, randomFill(99));
      const std::vector<std::uint8_t*> rows(into.buffer.rows, into.buffer.rows + height);
      EXPECT_EQ(dwtForward2dLevelsIntoWith(*set, into.buffer.rows, source.buffer.rows, width,
                                           height, 1, threads),
                std::nullopt);
      EXPECT_EQ(firstDifference(into.buffer, expected.buffer), "")
          << "out of place " << set->name << " " << label << " " << width << "x" << height << " on "
          << threads << " threads";
      EXPECT_TRUE(std::equal(rows.begin(), rows.end(), into.buffer.rows));
    }
  }
  EXPECT_EQ(firstDifference(source.buffer, pristine.buffer), "") << "source written";
}

void forwardRowsThreaded(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                         std::int32_t a, std::int32_t b, int threads) {
  dwtForwardRowsWith(set, dst, src, a, b, threads);
}
void forwardColumnsThreaded(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                            std::int32_t a, std::int32_t b, int threads) {
  EXPECT_EQ(dwtForwardColumnsWith(set, dst, src, a, b, threads), std::nullopt);
}
void inverseColumnsThreaded(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                            std::int32_t a, std::int32_t b, int threads) {
  EXPECT_EQ(dwtInverseColumnsWith(set, dst, src, a, b, threads), std::nullopt);
}
void inverseRowsThreaded(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                         std::int32_t a, std::int32_t b, int threads) {
  dwtInverseRowsWith(set, dst, src, a, b, threads);
}

// The passes of one set of one direction on several threads against the
// plain ones, for every thread count. Inverse sources have 2*a columns and
// 2*b rows, forward ones a and b.
void expectThreadedSame(bool inverse, const DwtPassSet& set, std::int32_t a, std::int32_t b,
                        const Fill& fill, const std::string& label) {
  using Threaded = void (*)(const DwtPassSet&, SamplePlane, const std::uint8_t* const*,
                            std::int32_t, std::int32_t, int);
  const std::pair<const char*, std::pair<Threaded, Pass>> passes[] = {
      {"inverse columns", {inverseColumnsThreaded, plainInverseColumns}},
      {"inverse rows", {inverseRowsThreaded, plainInverseRows}},
      {"forward rows", {forwardRowsThreaded, plainForwardRows}},
      {"forward columns", {forwardColumnsThreaded, plainForwardColumns}}};
  const std::int32_t width = inverse ? 2 * a : a, height = inverse ? 2 * b : b;
  const Plane source(width, height, fill);
  for (int k = inverse ? 0 : 2; k < (inverse ? 2 : 4); ++k) {
    const auto& pass = passes[k];
    const Plane plainOut(width, height, randomFill(99));
    pass.second.second(plainOut.buffer.rows, source.buffer.rows, a, b);
    for (const int threads : kThreadCounts) {
      const Plane out(width, height, randomFill(99));
      pass.second.first(set, out.buffer.rows, source.buffer.rows, a, b, threads);
      EXPECT_EQ(firstDifference(out.buffer, plainOut.buffer), "")
          << pass.first << " " << set.name << " " << label << " " << a << "x" << b << " on "
          << threads << " threads";
    }
  }
}

// Both passes of one direction, of every pass set, on one source, and the
// fused or threaded operations. Inverse sources have 2*a columns and 2*b rows
// (any bytes are valid bands).
void expectAllSame(bool inverse, std::int32_t a, std::int32_t b, const Fill& fill,
                   const std::string& label) {
  for (const DwtPassSet* set : passSets()) {
    const std::string name = std::string(set->name) + " " + label;
    if (inverse) {
      expectSame("inverse columns", inverseColumnsOf(*set), plainInverseColumns, a, b, fill, name);
      expectSame("inverse rows", inverseRowsOf(*set), plainInverseRows, a, b, fill, name);
    } else {
      expectSame("forward rows", forwardRowsOf(*set), plainForwardRows, a, b, fill, name);
      expectSame("forward columns", forwardColumnsOf(*set), plainForwardColumns, a, b, fill, name);
    }
    expectThreadedSame(inverse, *set, a, b, fill, label);
  }
  if (!inverse) expectFusedSame(a, b, fill, label);
}

// Several levels the plain way: each level's band copied out, through the
// plain row pass then column pass into zero-filled planes, and copied back.
void plainLevels(const PlaneBuffer& plane, int levels) {
  std::int32_t w = plane.width, h = plane.height;
  for (int level = 1; level <= levels; ++level, w /= 2, h /= 2) {
    const Plane band(w, h, [&](std::int32_t r, std::int32_t c) { return plane.rows[r][c]; });
    const Plane middle(w, h, [](std::int32_t, std::int32_t) { return 0; });
    const Plane result(w, h, [](std::int32_t, std::int32_t) { return 0; });
    plainForwardRows(middle.buffer.rows, band.buffer.rows, w, h);
    plainForwardColumns(result.buffer.rows, middle.buffer.rows, w, h);
    for (std::int32_t r = 0; r < h; ++r)
      std::copy(result.buffer.rows[r], result.buffer.rows[r] + w, plane.rows[r]);
  }
}

// Where each row pointer of `plane` stood in `before`.
std::vector<std::ptrdiff_t> positionsIn(const std::vector<std::uint8_t*>& before,
                                        const PlaneBuffer& plane) {
  std::vector<std::ptrdiff_t> positions;
  for (std::int32_t r = 0; r < plane.height; ++r)
    positions.push_back(std::find(before.begin(), before.end(), plane.rows[r]) - before.begin());
  return positions;
}

}  // namespace

TEST(FastPasses, OfferAtLeastOneSetAndUseTheFirst) {
  const std::vector<const DwtPassSet*> sets = passSets();
  ASSERT_FALSE(sets.empty());
  // The public passes are the first set's.
  const Fill fill = randomFill(7);
  const SetPass publicRows = [](SamplePlane d, const std::uint8_t* const* s, std::int32_t a,
                                std::int32_t b) { dwtForwardRows(d, s, a, b); };
  const SetPass publicColumns = [](SamplePlane d, const std::uint8_t* const* s, std::int32_t a,
                                   std::int32_t b) { dwtForwardColumns(d, s, a, b); };
  const SetPass publicInverseColumns = [](SamplePlane d, const std::uint8_t* const* s,
                                          std::int32_t a,
                                          std::int32_t b) { dwtInverseColumns(d, s, a, b); };
  const SetPass publicInverseRows = [](SamplePlane d, const std::uint8_t* const* s, std::int32_t a,
                                       std::int32_t b) { dwtInverseRows(d, s, a, b); };
  expectSame("public forward rows", publicRows, forwardRowsOf(*sets[0]), 45, 9, fill, "");
  expectSame("public forward columns", publicColumns, forwardColumnsOf(*sets[0]), 9, 45, fill, "");
  expectSame("inverse columns (public)", publicInverseColumns, inverseColumnsOf(*sets[0]), 13, 21,
             fill, "");
  expectSame("inverse rows (public)", publicInverseRows, inverseRowsOf(*sets[0]), 21, 13, fill, "");
  const Plane publicOut(45, 33, randomFill(8));
  const Plane firstSetOut(45, 33, randomFill(8));
  dwtForward2d(publicOut.buffer.rows, 45, 33, 0);
  EXPECT_EQ(dwtForward2dWith(*sets[0], firstSetOut.buffer.rows, 45, 33, 1), std::nullopt);
  EXPECT_EQ(firstDifference(publicOut.buffer, firstSetOut.buffer), "") << "public fused";
}

// Every small shape, including lines (or bands) of 0, 1 and 2 samples, where
// the reflection has to repeat, and every length around a vector's width.
TEST(FastPasses, MatchPlainOnSmallShapes) {
  for (const bool inverse : {false, true}) {
    SCOPED_TRACE(inverse ? "inverse" : "forward");
    std::uint32_t seed = inverse ? 5000 : 1;
    for (std::int32_t h = 0; h <= 19; ++h)
      for (std::int32_t w = 0; w <= 19; ++w) expectAllSame(inverse, w, h, randomFill(seed++), "");
    const std::vector<std::int32_t> lengths =
        inverse ? std::vector<std::int32_t>{31, 32, 33, 47, 48, 49, 63, 64, 65}
                : std::vector<std::int32_t>{31, 32, 33, 34, 35, 47, 48, 49, 63, 64, 65, 66, 67};
    const std::int32_t across = inverse ? 3 : 5;
    for (std::int32_t n : lengths) {
      expectAllSame(inverse, n, across, randomFill(seed++), "");
      expectAllSame(inverse, across, n, randomFill(seed++), "");
    }
  }
}

// Larger and non-square planes, prime sides, and lines long enough to cross
// the passes' internal chunks and strips (inverse sizes are band lengths).
// The fused transform meets spans of one or two row pairs per thread and
// columns short and long enough to reflect more than once.
TEST(FastPasses, MatchPlainOnLargeShapes) {
  const std::vector<std::pair<int, int>> forward = {
      {64, 64},  {127, 129}, {509, 2},   {2, 509},  {521, 263}, {1031, 517}, {4099, 5},
      {4096, 3}, {8209, 4},  {4103, 17}, {3, 4099}, {1024, 31}, {1537, 9},   {33, 23},
      {20, 29},  {31, 30},   {17, 41},   {257, 97}, {21, 33},   {40, 49}};
  const std::vector<std::pair<int, int>> inverse = {{32, 32},   {61, 67},   {257, 1},  {1, 257},
                                                    {263, 131}, {521, 263}, {2053, 3}, {2048, 2},
                                                    {4111, 2},  {4099, 5},  {3, 2053}, {517, 11}};
  std::uint32_t seed = 1000;
  for (const bool inv : {false, true}) {
    for (const auto& shape : inv ? inverse : forward)
      expectAllSame(inv, shape.first, shape.second, randomFill(seed++), "");
  }
}

// A picture too wide for the fused transform's ring takes the two separate
// passes through a scratch plane: same bytes, odd last row cleared. One whose
// rings would pass their budget on many threads runs on fewer.
TEST(FastPasses, FusedMatchesPlainOnVeryWidePictures) {
  expectFusedSame(1300007, 3, randomFill(77), "too wide for the ring");
  expectFusedSame(600011, 8, randomFill(78), "rings for one thread");
}

// A constant plane of each byte value: the values whose sums land just below
// a whole number decide the truncation.
TEST(FastPasses, MatchPlainOnEveryConstant) {
  for (int v = 0; v < 256; ++v) {
    const Fill fill = [v](std::int32_t, std::int32_t) { return std::uint8_t(v); };
    expectAllSame(false, 37, 21, fill, "constant " + std::to_string(v));
    expectAllSame(true, 19, 11, fill, "constant " + std::to_string(v));
  }
}

// Alternating 0/255 lines in both directions give the extreme sums of either
// sign: forward, the wrapped bytes the column pass must read unsigned;
// inverse, the row pass saturates and the column pass wraps.
TEST(FastPasses, MatchPlainOnStripes) {
  const std::pair<const char*, Fill> fills[] = {
      {"column stripes",
       [](std::int32_t, std::int32_t c) { return std::uint8_t(c % 2 ? 0 : 255); }},
      {"row stripes", [](std::int32_t r, std::int32_t) { return std::uint8_t(r % 2 ? 255 : 0); }},
      {"checkerboard",
       [](std::int32_t r, std::int32_t c) { return std::uint8_t((r + c) % 2 ? 255 : 0); }},
      {"wide stripes",
       [](std::int32_t r, std::int32_t c) { return std::uint8_t((r / 2 + c / 3) % 2 ? 255 : 0); }},
      {"blocks",
       [](std::int32_t r, std::int32_t c) { return std::uint8_t((r / 3 + c / 2) % 2 ? 255 : 0); }},
  };
  for (const bool inverse : {false, true}) {
    const std::vector<std::pair<int, int>> shapes =
        inverse ? std::vector<std::pair<int, int>>{{32, 24}, {17, 19}, {3, 3}, {260, 5}}
                : std::vector<std::pair<int, int>>{{64, 48}, {33, 35}, {3, 3}, {520, 7}};
    for (const auto& shape : shapes)
      for (const auto& fill : fills)
        expectAllSame(inverse, shape.first, shape.second, fill.second, fill.first);
  }
}

// Several levels against the plain passes applied band by band: odd bands,
// bands 2 samples high or wide, the most levels each shape allows, and a band
// just too wide for the fused transform's ring. Every thread count gives the same
// bytes, and the pointer array ends as dwtForward2d leaves it; out of place
// too, from a source left as it was.
TEST(FastPasses, LevelsMatchPlainBandByBand) {
  const struct {
    std::int32_t width, height;
    int levels;
  } cases[] = {{64, 64, 6}, {64, 64, 2}, {45, 33, 5},    {37, 21, 4}, {5, 5, 2},
               {7, 4, 2},   {4, 7, 2},   {1031, 517, 3}, {19, 1, 1},  {2236931, 4, 2}};
  std::uint32_t seed = 3000;
  for (const auto& c : cases) {
    const std::string label = std::to_string(c.width) + "x" + std::to_string(c.height) + ", " +
                              std::to_string(c.levels) + " levels";
    const Plane source(c.width, c.height, randomFill(seed++));
    const Fill copy = [&](std::int32_t r, std::int32_t col) { return source.buffer.rows[r][col]; };
    const Plane expected(c.width, c.height, copy);
    const Plane pristine(c.width, c.height, copy);
    plainLevels(expected.buffer, c.levels);
    const Plane oneLevel(c.width, c.height, copy);
    const std::vector<std::uint8_t*> oneBefore(oneLevel.buffer.rows,
                                               oneLevel.buffer.rows + c.height);
    dwtForward2d(oneLevel.buffer.rows, c.width, c.height, 1);
    for (const int threads : {0, 1, 2, 3, 7}) {
      const Plane levels(c.width, c.height, copy);
      const std::vector<std::uint8_t*> before(levels.buffer.rows, levels.buffer.rows + c.height);
      dwtForward2dLevels(levels.buffer.rows, c.width, c.height, c.levels, threads);
      EXPECT_EQ(firstDifference(levels.buffer, expected.buffer), "")
          << label << " on " << threads << " threads";
      EXPECT_EQ(positionsIn(before, levels.buffer), positionsIn(oneBefore, oneLevel.buffer))
          << label << " on " << threads << " threads";
      const Plane into(c.width, c.height, randomFill(seed));
      const std::vector<std::uint8_t*> rows(into.buffer.rows, into.buffer.rows + c.height);
      dwtForward2dLevelsInto(into.buffer.rows, source.buffer.rows, c.width, c.height, c.levels,
                             threads);
      EXPECT_EQ(firstDifference(into.buffer, expected.buffer), "")
          << label << " out of place on " << threads << " threads";
      EXPECT_TRUE(std::equal(rows.begin(), rows.end(), into.buffer.rows)) << label;
    }
    EXPECT_EQ(firstDifference(source.buffer, pristine.buffer), "") << label << " source written";
  }
}
