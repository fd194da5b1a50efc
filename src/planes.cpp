#include "dwt97/planes.h"

#include <cstddef>

#include "allocator.h"
#include "failure.h"

namespace dwt97 {

PlaneBuffer planeAllocate(std::int32_t width, std::int32_t height, const char* who) {
  PlaneBuffer plane{};
  plane.width = width < 0 ? 0 : width;
  plane.height = height < 0 ? 0 : height;
  const std::size_t w = static_cast<std::size_t>(plane.width);
  const std::size_t h = static_cast<std::size_t>(plane.height);
  plane.block = detail::allocateZeroed(w * h, who);
  unsigned char* rows = detail::tryAllocateZeroed((h + 1) * sizeof(std::uint8_t*));
  if (rows == nullptr) {
    detail::releaseZeroed(plane.block);
    detail::failOutOfMemory(who);
  }
  plane.rows = reinterpret_cast<SamplePlane>(rows);
  for (std::size_t r = 0; r < h; ++r) plane.rows[r] = plane.block + r * w;
  return plane;
}

void planeRelease(PlaneBuffer* plane) {
  detail::releaseZeroed(plane->block);
  detail::releaseZeroed(reinterpret_cast<std::uint8_t*>(plane->rows));
  *plane = PlaneBuffer{};
}

}  // namespace dwt97
