// Draws the bundled sample picture: a 512 x 512 8-bit grayscale "quilt" of
// 16 patches, each 128 x 128, separated by dark seams. The patches mix smooth
// gradients, hard edges and fine texture, so that every sub-band of the
// transform has something to show. Integer arithmetic only, so the picture is
// the same on every machine. Larger pictures (for timing whole runs) repeat
// the quilt.
//
// Usage: make_sample OUTPUT.bmp [WIDTH HEIGHT]   (default 512 x 512)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bmp_builder.h"

namespace {

constexpr int kSize = 512;
constexpr int kPatch = 128;
constexpr long kMaxSide = 65535;

int clampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Triangle wave of period 256, 0..255: a smooth stand-in for a cosine.
int triangle(int phase) {
  const int p = phase & 255;
  return p < 128 ? 2 * p : 511 - 2 * p;
}

int patchValue(int patch, int x, int y, std::uint32_t& noise) {
  const int cx = x - kPatch / 2;
  const int cy = y - kPatch / 2;
  switch (patch) {
    case 0:
      return 2 * x;  // horizontal ramp
    case 1:
      return 255 - 2 * y;  // vertical ramp
    case 2:
      return clampByte(255 - (cx * cx + cy * cy) / 16);  // soft spot
    case 3:
      return ((x / 2 + y / 2) & 1) ? 230 : 25;  // fine checkerboard
    case 4:
      return triangle((cx * cx + cy * cy) / 8);  // zone plate
    case 5:
      return (x / 8) % 2 ? 200 : 60;  // vertical bars
    case 6:
      return (y / 3) % 2 ? 180 : 40;  // thin horizontal bars
    case 7:
      return triangle(4 * (x + y));  // diagonal waves
    case 8: {                        // ramp with noise
      noise = noise * 1664525u + 1013904223u;
      return clampByte(x + y + static_cast<int>(noise >> 28) * 4 - 30);
    }
    case 9:
      return (cx * cx + cy * cy < 45 * 45) ? 220 : 35;  // disc: curved edge
    case 10:
      return (x > y) ? 200 : 70;  // diagonal edge
    case 11:
      return triangle(x * x / 16) / 2 + y;  // chirp over a ramp
    case 12:
      return ((x / 16 + y / 16) & 1) ? 160 + (x & 15) : 90 - (y & 15);
    case 13:
      return triangle(x * 8) / 2 + triangle(y * 6) / 2;  // weave
    case 14:
      return (x % 32 < 4 || y % 32 < 4) ? 250 : 128;  // grid lines
    default:
      return clampByte(128 + cx - cy);  // diagonal ramp
  }
}

}  // namespace

int main(int argc, char** argv) {
  long width = kSize;
  long height = kSize;
  if (argc == 4) {
    width = std::strtol(argv[2], nullptr, 10);
    height = std::strtol(argv[3], nullptr, 10);
  }
  if ((argc != 2 && argc != 4) || width < 1 || height < 1 || width > kMaxSide ||
      height > kMaxSide) {
    std::fputs("usage: make_sample OUTPUT.bmp [WIDTH HEIGHT]  (sides 1 to 65535)\n", stderr);
    return 2;
  }
  testsupport::Picture picture;
  picture.width = static_cast<std::int32_t>(width);
  picture.height = static_cast<std::int32_t>(height);
  picture.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  std::uint32_t noise = 12345;
  // Row 0 of the file is the bottom row of the picture.
  for (long row = 0; row < height; ++row) {
    const int y = static_cast<int>(height - 1 - row);
    for (int x = 0; x < width; ++x) {
      const int px = x % kPatch;
      const int py = y % kPatch;
      const int patch = (y / kPatch % 4) * 4 + x / kPatch % 4;
      const bool seam = px < 3 || py < 3;
      const int value = seam ? 12 : clampByte(patchValue(patch, px, py, noise));
      picture.pixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + x] =
          static_cast<std::uint8_t>(value);
    }
  }
  const std::vector<std::uint8_t> bytes = testsupport::build(picture);
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
      std::fclose(file) != 0) {
    std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
