// Sample planes: two-dimensional arrays of 8-bit samples reached through an
// array of row pointers, shared by the bitmap operations and the filter bank;
// and the limits every picture the library takes must keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dwt97/export.h"
#include "dwt97/failure.h"

// A plane indexed [row][column]. Operations that only read a plane take it as
// `const std::uint8_t* const*`; a SamplePlane converts to that.
using SamplePlane = std::uint8_t**;

namespace dwt97 {

// The limits of every picture: a width up to 2^31 - 1, a height up to 65535
// (Bitmap::height is 16 bits wide) and fewer than 2^31 pixels.
constexpr std::int64_t kMaxWidth = 0x7FFFFFFF;
constexpr std::int64_t kMaxHeight = 65535;
constexpr std::int64_t kMaxPixels = 0x7FFFFFFF;

// Whether a `width` x `height` picture keeps the limits.
constexpr bool pictureFits(std::uint64_t width, std::uint64_t height) {
  return width <= static_cast<std::uint64_t>(kMaxWidth) &&
         height <= static_cast<std::uint64_t>(kMaxHeight) &&
         width * height <= static_cast<std::uint64_t>(kMaxPixels);
}

// Storage behind a SamplePlane: `rows` is what the operations take.
struct PlaneBuffer {
  SamplePlane rows;
  std::uint8_t* block;  // all rows, one after the other, `width` bytes apart
  std::int32_t width;
  std::int32_t height;
};

// Allocates a zero-filled plane of `height` rows of `width` bytes (negative
// counts count as 0) into `*plane`: one block for the samples and one array
// of row pointers, which the caller releases with planeRelease(). Returns
// outOfMemory ("planeAllocate") with nothing left allocated and `*plane`
// empty when memory runs out.
[[nodiscard]] DWT97_API std::optional<Error> planeAllocate(PlaneBuffer* plane, std::int32_t width,
                                                           std::int32_t height);

// Releases what planeAllocate() took and empties `plane`; an empty plane is
// allowed.
DWT97_API void planeRelease(PlaneBuffer* plane);

// Points rows[0 .. height) at the rows of a block whose row r starts at
// block + r * rowStride (a flat block has a row stride of its width; any
// other stride works too, negative included). Allocates nothing.
DWT97_API void planeRowsOver(std::uint8_t** rows, std::uint8_t* block, std::int32_t height,
                             std::ptrdiff_t rowStride);

// Deprecated, the 1.2 names: planeAllocate() that ends the process (with
// "Error: <who>(), Out of memory!"), and the failure as the kind alone.
[[deprecated("use dwt97::planeAllocate(&plane, width, height)")]] DWT97_API PlaneBuffer
planeAllocate(std::int32_t width, std::int32_t height, const char* who);
[[deprecated("use dwt97::planeAllocate(&plane, width, height)")]] inline std::optional<Failure>
tryPlaneAllocate(PlaneBuffer* plane, std::int32_t width, std::int32_t height) {
  if (const std::optional<Error> error = dwt97::planeAllocate(plane, width, height))
    return error->failure;
  return std::nullopt;
}

}  // namespace dwt97
