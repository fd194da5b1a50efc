// Sample planes: two-dimensional arrays of 8-bit samples reached through an
// array of row pointers, shared by the bitmap operations and the filter bank.
#pragma once

#include <cstdint>
#include <optional>

#include "dwt97/export.h"
#include "dwt97/failure.h"

// A plane indexed [row][column]. Operations that only read a plane take it as
// `const std::uint8_t* const*`; a SamplePlane converts to that.
using SamplePlane = std::uint8_t**;

namespace dwt97 {

// Storage behind a SamplePlane: `rows` is what the operations take.
struct PlaneBuffer {
  SamplePlane rows;
  std::uint8_t* block;  // all rows, one after the other, `width` bytes apart
  std::int32_t width;
  std::int32_t height;
};

// Allocates a zero-filled plane of `height` rows of `width` bytes (negative
// counts count as 0): one block for the samples and one array of row
// pointers. The caller releases both with planeRelease(). Fails with
// outOfMemory naming `who` when memory runs out (see failure.h).
DWT97_API PlaneBuffer planeAllocate(std::int32_t width, std::int32_t height, const char* who);

// planeAllocate() into `*plane`, returning outOfMemory instead of failing
// (then nothing is left allocated and `*plane` is empty), or nothing.
DWT97_API std::optional<Failure> tryPlaneAllocate(PlaneBuffer* plane, std::int32_t width,
                                                  std::int32_t height);

// Releases what planeAllocate() took and empties `plane`; an empty plane is
// allowed.
DWT97_API void planeRelease(PlaneBuffer* plane);

}  // namespace dwt97
