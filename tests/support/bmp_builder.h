// Builds 8-bit grayscale bitmap files in memory: a 14-byte file header, a
// 40-byte info header, a grey colour table and stride-padded pixel rows.
// Used by the sample generator and by the tests, which break single fields
// with putLe16/putLe32 afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "noise.h"

namespace testsupport {

inline void putLe16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void putLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

struct Picture {
  std::int32_t width = 0;
  std::int32_t height = 0;  // rows held in `pixels`
  bool topDown = false;     // store the height negated
  std::uint32_t colorTableEntries = 256;
  std::uint8_t tableTint = 0;  // varies the colour table only
  bool dropLastRowPadding = false;
  std::vector<std::uint8_t> pixels;  // height rows of width bytes, file row order
};

// Header byte positions of the fields tests like to break.
enum Field : std::size_t {
  kSignature = 0,
  kFileSize = 2,
  kDataOffset = 10,
  kInfoSize = 14,
  kWidth = 18,
  kHeight = 22,
  kPlanes = 26,
  kBitsPerPixel = 28,
  kCompression = 30,
  kImageSize = 34,
  kColorsUsed = 46
};

// A picture of pseudo-random pixels (the Noise sequence from `seed`), so that
// misplaced rows or columns show.
inline Picture noisePicture(std::int32_t width, std::int32_t height, std::uint32_t tableEntries,
                            std::uint32_t seed) {
  Picture p;
  p.width = width;
  p.height = height;
  p.colorTableEntries = tableEntries;
  p.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  Noise noise(seed);
  for (auto& pixel : p.pixels) pixel = noise.next();
  return p;
}

inline std::vector<std::uint8_t> build(const Picture& picture) {
  const std::size_t width = static_cast<std::size_t>(picture.width);
  const std::size_t rows = static_cast<std::size_t>(picture.height);
  const std::size_t stride = (width + 3) & ~std::size_t{3};
  const std::size_t offset = 54 + 4 * std::size_t{picture.colorTableEntries};
  std::size_t pixelBytes = stride * rows;
  if (picture.dropLastRowPadding && rows > 0) pixelBytes -= stride - width;

  std::vector<std::uint8_t> bytes(offset + pixelBytes, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  putLe32(bytes, kFileSize, static_cast<std::uint32_t>(bytes.size()));
  putLe32(bytes, kDataOffset, static_cast<std::uint32_t>(offset));
  putLe32(bytes, kInfoSize, 40);
  putLe32(bytes, kWidth, static_cast<std::uint32_t>(picture.width));
  const std::uint32_t storedHeight = static_cast<std::uint32_t>(picture.height);
  putLe32(bytes, kHeight, picture.topDown ? 0u - storedHeight : storedHeight);
  putLe16(bytes, kPlanes, 1);
  putLe16(bytes, kBitsPerPixel, 8);
  putLe32(bytes, kImageSize, static_cast<std::uint32_t>(stride * rows));
  putLe32(bytes, 38, 2835);  // 72 dots per inch
  putLe32(bytes, 42, 2835);
  putLe32(bytes, kColorsUsed, picture.colorTableEntries);
  for (std::uint32_t e = 0; e < picture.colorTableEntries; ++e) {
    const std::uint8_t grey = static_cast<std::uint8_t>(e);
    const std::size_t at = 54 + 4 * std::size_t{e};
    bytes[at] = bytes[at + 1] = bytes[at + 2] = grey;
    bytes[at + 3] = picture.tableTint;
  }
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < width && r * width + c < picture.pixels.size(); ++c) {
      bytes[offset + r * stride + c] = picture.pixels[r * width + c];
    }
  }
  return bytes;
}

}  // namespace testsupport
