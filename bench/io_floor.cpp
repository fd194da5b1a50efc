// dwt97_io_floor: the file work of one dwt97 run and nothing else, the floor
// a whole run is measured against. It reads the bitmap's header and pixel
// block, opens and reads the pixel block a second time as the tool does,
// writes as many bytes as the tool's output to a temporary file beside the
// output and renames it over the output. One picture-sized buffer, taken
// from the library's allocator as the tool's is (huge pages where offered),
// no transform, no report, no checks beyond what the reads need.
//
// Usage: dwt97_io_floor [INPUT [OUTPUT]]   (default quilgray.bmp, quilout.dat)
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/allocator.h"

namespace {

std::int64_t le32(const unsigned char* p) {
  return static_cast<std::int32_t>(std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                                   (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24));
}

int fail(const char* what) {
  std::fprintf(stderr, "dwt97_io_floor: %s\n", what);
  return 1;
}

// Reads `bytes` at `offset` of the file `path` into `block`.
bool readBlock(const char* path, long offset, unsigned char* block, std::size_t bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  const bool read =
      std::fseek(file, offset, SEEK_SET) == 0 && std::fread(block, 1, bytes, file) == bytes;
  std::fclose(file);
  return read;
}

}  // namespace

int main(int argc, char** argv) {
  const char* input = argc > 1 ? argv[1] : "quilgray.bmp";
  const char* output = argc > 2 ? argv[2] : "quilout.dat";

  unsigned char header[54];
  std::FILE* file = std::fopen(input, "rb");
  if (file == nullptr) return fail("cannot open the input");
  const bool headerRead = std::fread(header, 1, sizeof header, file) == sizeof header;
  std::fclose(file);
  if (!headerRead) return fail("cannot read the header");
  const std::int64_t width = le32(header + 18);
  const std::int64_t storedHeight = le32(header + 22);
  const std::int64_t height = storedHeight < 0 ? -storedHeight : storedHeight;
  const long offset = static_cast<long>(le32(header + 10));
  if (width <= 0 || height <= 0) return fail("no pixels");
  const std::size_t stride = static_cast<std::size_t>((width + 3) & ~std::int64_t{3});
  const std::size_t blockBytes =
      stride * static_cast<std::size_t>(height - 1) + static_cast<std::size_t>(width);
  const std::size_t outputBytes = static_cast<std::size_t>(width * height);

  unsigned char* block = nullptr;
  if (dwt97::detail::allocateZeroed(blockBytes, &block)) block = nullptr;
  if (block == nullptr) return fail("out of memory");
  // The load, then the second read, into the same buffer.
  if (!readBlock(input, offset, block, blockBytes)) return fail("cannot read the pixels");
  if (!readBlock(input, offset, block, blockBytes)) return fail("cannot read the pixels again");

  std::string temporary = std::string(output) + ".XXXXXX";
  const int fd = mkstemp(&temporary[0]);
  if (fd < 0) return fail("cannot create the output");
  std::size_t done = 0;
  while (done < outputBytes) {
    const ssize_t wrote = write(fd, block + done, outputBytes - done);
    if (wrote <= 0) {
      unlink(temporary.c_str());
      return fail("cannot write the output");
    }
    done += static_cast<std::size_t>(wrote);
  }
  if (close(fd) != 0 || std::rename(temporary.c_str(), output) != 0) {
    unlink(temporary.c_str());
    return fail("cannot put the output in place");
  }
  dwt97::detail::releaseZeroed(block);
  return 0;
}
