// Drawing colour triples into a loaded bitmap's pixel buffer, three bytes a
// position whatever the buffer's one byte a pixel; positions outside the
// buffer are skipped.
#include <algorithm>
#include <cstdint>

#include "dwt97/bitmap.h"

namespace {

// Number of whole three-byte positions in the pixel buffer (0 without one).
std::int64_t drawablePositions(const Bitmap* bmp) {
  if (bmp->data == nullptr || bmp->width <= 0) return 0;
  return std::int64_t{bmp->height} * bmp->width / 3;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {  // b > 0
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

void bmpSetPixel(Bitmap* bmp, std::int32_t x, std::int32_t y, std::uint8_t c0, std::uint8_t c1,
                 std::uint8_t c2) {
  // In 64-bit arithmetic no product overflows; position p is inside when its
  // bytes 3p .. 3p + 2 all lie in the buffer.
  const std::int64_t position = std::int64_t{y} * std::int64_t{bmp->width} + x;
  if (position < 0 || position >= drawablePositions(bmp)) return;
  std::uint8_t* at = bmp->data + 3 * position;
  at[0] = c0;
  at[1] = c1;
  at[2] = c2;
}

void bmpFillRect(Bitmap* bmp, std::int32_t x, std::int32_t y, std::int32_t extentX,
                 std::int32_t extentY, std::uint8_t c0, std::uint8_t c1, std::uint8_t c2) {
  const std::int64_t positions = drawablePositions(bmp);
  if (extentX <= 0 || extentY <= 0 || positions == 0) return;
  const std::int64_t width = bmp->width;
  // Only offsets whose position can fall inside the buffer are visited; the
  // others would be skipped one by one. Offsets whose coordinate leaves the
  // 32-bit range are not positions at all.
  const std::int64_t firstRow = y, lastRow = std::int64_t{y} + extentY - 1;
  const std::int64_t iBegin = std::max<std::int64_t>(0, -lastRow * width - x);
  const std::int64_t iEnd = std::min<std::int64_t>(
      {std::int64_t{extentX}, positions - firstRow * width - x, std::int64_t{INT32_MAX} - x + 1});
  for (std::int64_t i = iBegin; i < iEnd; ++i) {
    const std::int64_t column = x + i;
    // Rows r with 0 <= r * width + column < positions.
    const std::int64_t rowBegin = std::max(firstRow, -floorDiv(column, width));
    const std::int64_t rowEnd = std::min(
        {lastRow + 1, floorDiv(positions - 1 - column, width) + 1, std::int64_t{INT32_MAX} + 1});
    for (std::int64_t row = rowBegin; row < rowEnd; ++row) {
      bmpSetPixel(bmp, static_cast<std::int32_t>(column), static_cast<std::int32_t>(row), c0, c1,
                  c2);
    }
  }
}
