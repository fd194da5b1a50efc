// Sample planes: allocation of a zero-filled plane, its release, and row
// pointers over a block.
#include "dwt97/planes.h"

#include <cstddef>

#include "core/allocator.h"
#include "core/report.h"

namespace dwt97 {

std::optional<Error> planeAllocate(PlaneBuffer* plane, std::int32_t width, std::int32_t height) {
  *plane = PlaneBuffer{};
  const std::size_t w = static_cast<std::size_t>(width < 0 ? 0 : width);
  const std::size_t h = static_cast<std::size_t>(height < 0 ? 0 : height);
  std::uint8_t* block = nullptr;
  std::uint8_t** rows = nullptr;
  if (detail::allocateZeroed(w * h, &block) || detail::allocateZeroed(h + 1, &rows)) {
    detail::releaseZeroed(block);
    detail::releaseZeroed(rows);
    return Error{Failure::outOfMemory, "planeAllocate"};
  }
  plane->block = block;
  plane->rows = rows;
  plane->width = static_cast<std::int32_t>(w);
  plane->height = static_cast<std::int32_t>(h);
  planeRowsOver(rows, block, static_cast<std::int32_t>(h), static_cast<std::ptrdiff_t>(w));
  return std::nullopt;
}

PlaneBuffer planeAllocate(std::int32_t width, std::int32_t height, const char* who) {
  PlaneBuffer plane;
  if (const std::optional<Error> error = planeAllocate(&plane, width, height)) {
    detail::report(Error{error->failure, who});
  }
  return plane;
}

void planeRelease(PlaneBuffer* plane) {
  detail::releaseZeroed(plane->block);
  detail::releaseZeroed(plane->rows);
  *plane = PlaneBuffer{};
}

void planeRowsOver(std::uint8_t** rows, std::uint8_t* block, std::int32_t height,
                   std::ptrdiff_t rowStride) {
  for (std::int32_t r = 0; r < height; ++r) rows[r] = block + r * rowStride;
}

}  // namespace dwt97
