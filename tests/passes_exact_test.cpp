// The fast passes against the plain ones (the oracle): every pass set this
// processor can run must give the same bytes, everywhere in the destination
// (positions a pass leaves alone included), for lines of every awkward length.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "filterbank.h"
#include "filterbank_kernels.h"
#include "reference_passes.h"

namespace {

using Fill = std::function<std::uint8_t(std::int32_t row, std::int32_t column)>;

struct Plane {
  Plane(std::int32_t width, std::int32_t height, const Fill& fill)
      : buffer(planeAllocate(width, height, "test")) {
    for (std::int32_t r = 0; r < height; ++r)
      for (std::int32_t c = 0; c < width; ++c) buffer.rows[r][c] = fill(r, c);
  }
  ~Plane() { planeRelease(&buffer); }
  Plane(const Plane&) = delete;
  Plane& operator=(const Plane&) = delete;
  PlaneBuffer buffer;
};

Fill randomFill(std::uint32_t seed) {
  return [state = seed * 2654435761u + 1u](std::int32_t, std::int32_t) mutable {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<std::uint8_t>(state >> 11);
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
        return std::to_string(r) + "," + std::to_string(c) + ": " +
               std::to_string(a.rows[r][c]) + " vs " + std::to_string(b.rows[r][c]);
  return "";
}

using Pass = void (*)(SamplePlane, const SamplePlane, std::int32_t, std::int32_t);

// Runs `fast` and `plain` on the same source into destinations that start
// equal (and not zero), and expects equal destinations.
void expectSame(const char* what, Pass fast, Pass plain, std::int32_t width, std::int32_t height,
                const Fill& fill, const std::string& label) {
  const Plane source(width, height, fill);
  const Plane fastOut(width, height, randomFill(99));
  const Plane plainOut(width, height, randomFill(99));
  fast(fastOut.buffer.rows, source.buffer.rows, width, height);
  plain(plainOut.buffer.rows, source.buffer.rows, width, height);
  EXPECT_EQ(firstDifference(fastOut.buffer, plainOut.buffer), "")
      << what << " " << label << " " << width << "x" << height;
}

// Both forward passes of every pass set on one source.
void expectForwardSame(std::int32_t width, std::int32_t height, const Fill& fill,
                       const std::string& label) {
  for (const DwtPassSet* set : passSets()) {
    expectSame("forward rows", set->forwardRows, plainForwardRows, width, height, fill,
               std::string(set->name) + " " + label);
    expectSame("forward columns", set->forwardColumns, plainForwardColumns, width, height, fill,
               std::string(set->name) + " " + label);
  }
}

}  // namespace

TEST(FastPasses, OfferAtLeastOneSetAndUseTheFirst) {
  const std::vector<const DwtPassSet*> sets = passSets();
  ASSERT_FALSE(sets.empty());
  // The public passes are the first set's.
  const Fill fill = randomFill(7);
  expectSame("public forward rows", dwtForwardRows, sets[0]->forwardRows, 45, 9, fill, "");
  expectSame("public forward columns", dwtForwardColumns, sets[0]->forwardColumns, 9, 45, fill,
             "");
}

// Every small shape, including lines of 0, 1 and 2 samples (where the
// reflection has to repeat) and every length around a vector's width.
TEST(FastPasses, ForwardMatchesPlainOnSmallShapes) {
  std::uint32_t seed = 1;
  for (std::int32_t h = 0; h <= 19; ++h)
    for (std::int32_t w = 0; w <= 19; ++w) expectForwardSame(w, h, randomFill(seed++), "random");
  for (std::int32_t n : {31, 32, 33, 34, 35, 47, 48, 49, 63, 64, 65, 66, 67}) {
    expectForwardSame(n, 5, randomFill(seed++), "random");
    expectForwardSame(5, n, randomFill(seed++), "random");
  }
}

// Larger and non-square planes, prime sides, and lines long enough to cross
// the passes' internal chunks and strips.
TEST(FastPasses, ForwardMatchesPlainOnLargeShapes) {
  const std::int32_t shapes[][2] = {{64, 64},    {127, 129}, {509, 2},  {2, 509},  {521, 263},
                                    {1031, 517}, {4099, 5},  {4096, 3}, {8209, 4}, {4103, 17},
                                    {3, 4099},   {1024, 31}, {1537, 9}};
  std::uint32_t seed = 1000;
  for (const auto& shape : shapes)
    expectForwardSame(shape[0], shape[1], randomFill(seed++), "random");
}

// A constant plane of each byte value: the values whose sums land just below
// a whole number decide the truncation.
TEST(FastPasses, ForwardMatchesPlainOnEveryConstant) {
  for (int v = 0; v < 256; ++v) {
    expectForwardSame(37, 21, [v](std::int32_t, std::int32_t) { return std::uint8_t(v); },
                      "constant " + std::to_string(v));
  }
}

// Alternating 0/255 lines in both directions give the extreme sums, and
// after the row pass the wrapped bytes the column pass must read unsigned.
TEST(FastPasses, ForwardMatchesPlainOnStripes) {
  const Fill columns = [](std::int32_t, std::int32_t c) { return std::uint8_t(c % 2 ? 0 : 255); };
  const Fill rows = [](std::int32_t r, std::int32_t) { return std::uint8_t(r % 2 ? 255 : 0); };
  const Fill checker = [](std::int32_t r, std::int32_t c) {
    return std::uint8_t((r + c) % 2 ? 255 : 0);
  };
  const Fill pairs = [](std::int32_t r, std::int32_t c) {
    return std::uint8_t((r / 2 + c / 3) % 2 ? 255 : 0);
  };
  for (const auto& shape : {std::pair<int, int>{64, 48}, {33, 35}, {3, 3}, {520, 7}}) {
    expectForwardSame(shape.first, shape.second, columns, "column stripes");
    expectForwardSame(shape.first, shape.second, rows, "row stripes");
    expectForwardSame(shape.first, shape.second, checker, "checkerboard");
    expectForwardSame(shape.first, shape.second, pairs, "wide stripes");
  }
}
