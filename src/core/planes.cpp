#include "dwt97/planes.h"

#include <cstddef>

#include "core/allocator.h"
#include "core/report.h"

namespace dwt97 {

std::optional<Failure> tryPlaneAllocate(PlaneBuffer* plane, std::int32_t width,
                                        std::int32_t height) {
  *plane = PlaneBuffer{};
  const std::size_t w = static_cast<std::size_t>(width < 0 ? 0 : width);
  const std::size_t h = static_cast<std::size_t>(height < 0 ? 0 : height);
  std::uint8_t* block = detail::tryAllocateZeroed(w * h);
  unsigned char* rows = detail::tryAllocateZeroed((h + 1) * sizeof(std::uint8_t*));
  if (block == nullptr || rows == nullptr) {
    detail::releaseZeroed(block);
    detail::releaseZeroed(rows);
    return Failure::outOfMemory;
  }
  plane->block = block;
  plane->rows = reinterpret_cast<SamplePlane>(rows);
  plane->width = static_cast<std::int32_t>(w);
  plane->height = static_cast<std::int32_t>(h);
  for (std::size_t r = 0; r < h; ++r) plane->rows[r] = block + r * w;
  return std::nullopt;
}

PlaneBuffer planeAllocate(std::int32_t width, std::int32_t height, const char* who) {
  PlaneBuffer plane;
  detail::report(tryPlaneAllocate(&plane, width, height), who);
  return plane;
}

void planeRelease(PlaneBuffer* plane) {
  detail::releaseZeroed(plane->block);
  detail::releaseZeroed(reinterpret_cast<std::uint8_t*>(plane->rows));
  *plane = PlaneBuffer{};
}

}  // namespace dwt97
