// dwt97_png_decode: the floor a whole run on a PNG picture is measured
// against: reads the file whole and decodes it with libspng, nothing else
// (for the grey, non-interlaced pictures it is timed on).
// Its buffers come from the library's allocator, as the tool's do (huge
// pages where offered), so that only the work differs. Also makes the
// picture it is timed on, with the project's own writer.
//
// Usage: dwt97_png_decode FILE.png
//        dwt97_png_decode --make INPUT.bmp OUTPUT.png
#include <spng.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/allocator.h"
#include "dwt97/bitmap.h"
#include "dwt97/picture.h"

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "dwt97_png_decode: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--make") == 0) {
    Bitmap bmp;
    bmpLoad(&bmp, argv[2]);
    bmpSavePng(&bmp, argv[3], bmp.data);
    bmpRelease(&bmp);
    return 0;
  }
  if (argc != 2) return fail("usage: dwt97_png_decode FILE.png | --make IN.bmp OUT.png");
  std::FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr || std::fseek(file, 0, SEEK_END) != 0) return fail("cannot open the file");
  const long length = std::ftell(file);
  if (length <= 0 || std::fseek(file, 0, SEEK_SET) != 0) return fail("cannot read the file");
  unsigned char* bytes = nullptr;
  if (dwt97::detail::allocateZeroed(static_cast<std::size_t>(length), &bytes)) bytes = nullptr;
  if (bytes == nullptr ||
      std::fread(bytes, 1, static_cast<std::size_t>(length), file) != std::size_t(length)) {
    return fail("cannot read the file");
  }
  std::fclose(file);
  spng_ctx* ctx = spng_ctx_new(0);
  std::size_t size = 0;
  if (ctx == nullptr || spng_set_png_buffer(ctx, bytes, static_cast<std::size_t>(length)) != 0 ||
      spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size) != 0) {
    return fail("not a PNG it can decode");
  }
  // Scanline by scanline straight into place: libspng's fastest way (its
  // whole-image call converts every row through a buffer of its own).
  spng_ihdr ihdr;
  unsigned char* image = nullptr;
  if (dwt97::detail::allocateZeroed(size, &image)) image = nullptr;
  if (image == nullptr || spng_get_ihdr(ctx, &ihdr) != 0 ||
      spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RAW, SPNG_DECODE_PROGRESSIVE) != 0) {
    return fail("decode failed");
  }
  const std::size_t rowBytes = size / ihdr.height;
  for (int error = 0; error != SPNG_EOI;) {
    spng_row_info row;
    if (spng_get_row_info(ctx, &row) != 0) return fail("decode failed");
    error = spng_decode_scanline(ctx, image + row.row_num * rowBytes, rowBytes);
    if (error != 0 && error != SPNG_EOI) return fail("decode failed");
  }
  // Touch the result so the decode cannot be skipped.
  unsigned sum = 0;
  for (std::size_t k = 0; k < size; k += 4096) sum += image[k];
  dwt97::detail::releaseZeroed(image);
  dwt97::detail::releaseZeroed(bytes);
  spng_ctx_free(ctx);
  return sum == 0xFFFFFFFFu ? 1 : 0;
}
