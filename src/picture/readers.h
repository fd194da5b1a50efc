// Internal to the picture subsystem: what the readers of the formats share.
// Each reader turns the bytes of one whole file into a record as
// dwt97/picture.h describes, and returns its failure's kind; detect.cpp
// names it after the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dwt97/bitmap.h"
#include "dwt97/failure.h"

namespace dwt97::detail {

// Fills `bmp` as the record of an uncompressed 8-bit top-down bitmap of
// width x height (which must fit: pictureFits()) and gives it a zero-filled
// pixel buffer; outOfMemory, with no buffer, when memory runs out.
[[nodiscard]] std::optional<Failure> startPicture(Bitmap* bmp, std::uint32_t width,
                                                  std::uint32_t height);

// The readers: on failure the record holds no buffer. netpbmLoad() reads
// PGM and PPM, telling them by their magic numbers.
[[nodiscard]] std::optional<Failure> netpbmLoad(Bitmap* bmp, const std::uint8_t* bytes,
                                                std::size_t count);
[[nodiscard]] std::optional<Failure> pngLoad(Bitmap* bmp, const std::uint8_t* bytes,
                                             std::size_t count);
[[nodiscard]] std::optional<Failure> jpegLoad(Bitmap* bmp, const std::uint8_t* bytes,
                                              std::size_t count);
[[nodiscard]] std::optional<Failure> tiffLoad(Bitmap* bmp, const std::uint8_t* bytes,
                                              std::size_t count);

// The refusal that names the format of `bytes`, one of those known by their
// signatures but not read (PictureFormat::other); loadSignature for others.
Failure unreadFormatFailure(const std::uint8_t* bytes, std::size_t count);

// 8-bit luma of an 8-bit colour: BT.601 weights in 16-bit fixed point, the
// rule every colour picture is read as grey by.
inline std::uint8_t luma(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return static_cast<std::uint8_t>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
}

// Saves `rows` (the record's height of them) as an 8-bit grey PNG, upright,
// through a temporary beside `path`; fails as bmpSave() does.
[[nodiscard]] std::optional<Failure> savePng(const Bitmap* bmp, const char* path,
                                             const std::uint8_t* const* rows);

// Whether this build has the PNG, JPEG and TIFF readers (and the PNG writer).
bool pngBuilt();
bool jpegBuilt();
bool tiffBuilt();

}  // namespace dwt97::detail
