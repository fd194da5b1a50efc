// Whole-sample symmetric extension: one reflection about each end, and
// short lines kept inside.
#include <gtest/gtest.h>

#include "dwt97/filterbank.h"

// Single reflection for lines of 3 or more: the edge sample is not repeated.
TEST(MirrorIndex, ReflectsOnceAboutEachEnd) {
  EXPECT_EQ(mirrorIndex(-1, 8), 1);
  EXPECT_EQ(mirrorIndex(-4, 8), 4);
  EXPECT_EQ(mirrorIndex(8, 8), 6);
  EXPECT_EQ(mirrorIndex(10, 8), 4);
  for (int n = 3; n < 40; ++n) {
    for (int i = -4; i <= 2 * (n / 2) + 2; ++i) {  // every index a pass forms
      int expected = i < 0 ? -i : i;
      if (expected >= n) expected = 2 * n - expected - 2;
      EXPECT_EQ(mirrorIndex(i, n), expected) << "i=" << i << " n=" << n;
    }
  }
}

// Short lines reflect as often as needed and never leave the line.
TEST(MirrorIndex, ShortLinesStayInside) {
  for (int i = -6; i <= 6; ++i) EXPECT_EQ(mirrorIndex(i, 1), 0);
  const int two[] = {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0};
  for (int i = -6; i <= 6; ++i) EXPECT_EQ(mirrorIndex(i, 2), two[i + 6]) << i;
  EXPECT_EQ(mirrorIndex(-4, 3), 0);
  EXPECT_EQ(mirrorIndex(INT32_MIN, 5), mirrorIndex(INT32_MIN + 8, 5));
  EXPECT_EQ(mirrorIndex(INT32_MAX, 2), 1);
}
