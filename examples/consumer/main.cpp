// A program of a library user: transforms an in-memory plane, rebuilds it
// with the inverse passes, draws a rectangle into a bitmap record, and prints
// a checksum of everything it made.
#include <dwt97/dwt97.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

std::uint32_t checksum(std::uint32_t sum, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) sum = (sum ^ bytes[i]) * 16777619u;  // FNV-1a
  return sum;
}

// A zero-filled plane, or the end of the program with the library's message.
dwt97::PlaneBuffer plane(std::int32_t width, std::int32_t height) {
  dwt97::PlaneBuffer buffer;
  if (const std::optional<dwt97::Error> error = dwt97::planeAllocate(&buffer, width, height)) {
    char message[dwt97::kMessageCapacity];
    std::fputs(dwt97::formatFailure(*error, message, sizeof message), stderr);
    std::exit(1);
  }
  return buffer;
}

}  // namespace

int main() {
  const std::int32_t width = 64, height = 48;
  dwt97::PlaneBuffer picture = plane(width, height);
  for (std::int32_t r = 0; r < height; ++r)
    for (std::int32_t c = 0; c < width; ++c) picture.rows[r][c] = static_cast<std::uint8_t>(r * c);

  // Forward: rows, then columns, into the four sub-bands.
  dwt97::PlaneBuffer rows = plane(width, height);
  dwt97::PlaneBuffer bands = plane(width, height);
  dwtForwardRows(rows.rows, picture.rows, width, height);
  dwtForwardColumns(bands.rows, rows.rows, width, height);

  // Inverse: columns, then rows.
  dwtInverseColumns(rows.rows, bands.rows, width / 2, height / 2);
  dwtInverseRows(picture.rows, rows.rows, width / 2, height / 2);

  // Drawing into a bitmap record's pixel buffer.
  Bitmap bmp{};
  bmp.width = width;
  bmp.height = height;
  bmp.data = bands.block;
  bmpFillRect(&bmp, 2, 3, 5, 4, 10, 20, 30);

  const std::size_t bytes = static_cast<std::size_t>(width) * height;
  std::uint32_t sum = 2166136261u;
  sum = checksum(sum, bands.block, bytes);
  sum = checksum(sum, picture.block, bytes);
  std::printf("dwt97 %s checksum %08x\n", DWT97_VERSION_STRING, static_cast<unsigned>(sum));

  dwt97::planeRelease(&bands);
  dwt97::planeRelease(&rows);
  dwt97::planeRelease(&picture);
  return 0;
}
