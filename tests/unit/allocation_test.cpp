// Checked allocation: large blocks are mapped separately and a released one
// may serve the next allocation; every block must still arrive zero-filled.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "core/allocator.h"

using dwt97::detail::allocateZeroed;
using dwt97::detail::releaseZeroed;

namespace {

// A block the allocator must give; the test stops where it cannot.
unsigned char* block(std::size_t bytes) {
  unsigned char* taken = nullptr;
  EXPECT_EQ(allocateZeroed(bytes, &taken), std::nullopt) << bytes << " bytes";
  return taken;
}

bool allZero(const unsigned char* block, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i)
    if (block[i] != 0) return false;
  return true;
}

}  // namespace

TEST(Allocation, SmallAndEmptyBlocksAreZeroAndDistinct) {
  unsigned char* a = block(0);
  unsigned char* b = block(0);
  EXPECT_NE(a, b);
  unsigned char* c = block(1000);
  EXPECT_TRUE(allZero(c, 1000));
  releaseZeroed(c);
  releaseZeroed(b);
  releaseZeroed(a);
  releaseZeroed(nullptr);  // ignored
}

// A released large block that comes back must not bring its old bytes along,
// whatever sizes the two allocations ask for.
TEST(Allocation, ReusedLargeBlocksAreZeroed) {
  const std::size_t sizes[] = {std::size_t{5} << 20, (std::size_t{5} << 20) + 12345,
                               std::size_t{6} << 20, std::size_t{4} << 20};
  for (std::size_t first : sizes) {
    for (std::size_t second : sizes) {
      unsigned char* a = block(first);
      ASSERT_TRUE(allZero(a, first));
      std::memset(a, 0xA5, first);
      releaseZeroed(a);
      unsigned char* b = block(second);
      unsigned char* c = block(second);  // one of them fresh
      EXPECT_TRUE(allZero(b, second)) << first << " then " << second;
      EXPECT_TRUE(allZero(c, second)) << first << " then " << second;
      std::memset(b, 0x5A, second);
      std::memset(c, 0x5A, second);
      releaseZeroed(c);
      releaseZeroed(b);
    }
  }
}

// More live large blocks than the mapping table holds: the rest come from the
// free store, and every block goes back through the same call.
TEST(Allocation, ManyLiveLargeBlocks) {
  const std::size_t bytes = std::size_t{4} << 20;
  std::vector<unsigned char*> blocks;
  for (int k = 0; k < 40; ++k) {
    blocks.push_back(block(bytes));
    blocks.back()[bytes - 1] = 1;
  }
  for (unsigned char* block : blocks) releaseZeroed(block);
}
