// A batch program of a library user: loads every bitmap named on its command
// line, reports each one it cannot load by its message and goes on, and
// transforms the others in place, printing a checksum of each result. Nothing
// the library meets ends the program: every call returns its failure.
//   transform_many FILE...      exit status 0 when every file was transformed
#include <dwt97/dwt97.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

// The failure's message, one line.
void report(const char* path, const dwt97::Error& error) {
  char message[dwt97::kMessageCapacity];
  std::printf("%s: %s", path, dwt97::formatFailure(error, message, sizeof message));
}

std::uint32_t checksum(const std::uint8_t* const* rows, std::int32_t width, std::int32_t height) {
  std::uint32_t sum = 2166136261u;
  for (std::int32_t r = 0; r < height; ++r)
    for (std::int32_t c = 0; c < width; ++c) sum = (sum ^ rows[r][c]) * 16777619u;  // FNV-1a
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  int failed = 0;
  for (int k = 1; k < argc; ++k) {
    const char* path = argv[k];
    Bitmap bmp;
    if (const std::optional<dwt97::Error> error = dwt97::bmpLoad(&bmp, path)) {
      report(path, *error);  // nothing to release: a failed load keeps nothing
      ++failed;
      continue;
    }
    const std::int32_t width = bmp.width, height = bmp.height;
    std::vector<std::uint8_t*> rows(static_cast<std::size_t>(height));
    dwt97::planeRowsOver(rows.data(), bmp.data, height, width);
    if (const std::optional<dwt97::Error> error =
            dwt97::dwtForward2d(rows.data(), width, height, 0)) {
      report(path, *error);
      ++failed;
    } else {
      std::printf("%s: %d x %d, checksum %08x\n", path, static_cast<int>(width),
                  static_cast<int>(height),
                  static_cast<unsigned>(checksum(rows.data(), width, height)));
    }
    bmpRelease(&bmp);
  }
  return failed == 0 ? 0 : 1;
}
