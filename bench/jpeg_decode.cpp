// dwt97_jpeg_decode: the floor a whole run on a JPEG picture is measured
// against: reads the file whole and decodes it with libjpeg's API to 8-bit
// grey (the default DCT method), scanlines straight into one buffer, nothing
// else. Its buffers come from the library's allocator, as the tool's do
// (huge pages where offered), so that only the work differs. Also makes the
// picture it is timed on: a baseline grey JPEG of a bitmap at quality 90,
// written by libjpeg's compressor. Errors of the JPEG library end the
// process with its own message.
//
// Usage: dwt97_jpeg_decode FILE.jpg
//        dwt97_jpeg_decode --make INPUT.bmp OUTPUT.jpg
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "core/allocator.h"
#include "dwt97/bitmap.h"

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "dwt97_jpeg_decode: %s\n", what);
  return 1;
}

// Writes the loaded bitmap `bmp` to `path` as a baseline grey JPEG at
// quality 90, its top row first.
int make(const Bitmap& bmp, const char* path) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return fail("cannot create the output");
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(bmp.width);
  cinfo.image_height = bmp.height;
  cinfo.input_components = 1;
  cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);  // sequential: no progression script
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t width = static_cast<std::size_t>(bmp.width);
  while (cinfo.next_scanline < cinfo.image_height) {
    const std::size_t top = cinfo.next_scanline;
    const std::size_t stored = bmp.topDown ? top : std::size_t{bmp.height} - 1 - top;
    JSAMPROW row = bmp.data + stored * width;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  if (std::fclose(file) != 0) return fail("cannot write the output");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--make") == 0) {
    Bitmap bmp;
    bmpLoad(&bmp, argv[2]);
    const int status = make(bmp, argv[3]);
    bmpRelease(&bmp);
    return status;
  }
  if (argc != 2) return fail("usage: dwt97_jpeg_decode FILE.jpg | --make IN.bmp OUT.jpg");
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

  jpeg_decompress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes, static_cast<unsigned long>(length));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_GRAYSCALE;
  jpeg_calc_output_dimensions(&cinfo);
  if (cinfo.output_components != 1) return fail("not a picture it decodes to grey");
  const std::size_t width = cinfo.output_width;
  const std::size_t height = cinfo.output_height;
  unsigned char* image = nullptr;
  JSAMPROW* rows = nullptr;
  if (dwt97::detail::allocateZeroed(width * height, &image)) image = nullptr;
  if (dwt97::detail::allocateZeroed(height, &rows)) rows = nullptr;
  if (image == nullptr || rows == nullptr) return fail("out of memory");
  for (std::size_t r = 0; r < height; ++r) rows[r] = image + r * width;
  // Every row still to come is offered at each call, so the library hands
  // back as many as it has ready (an iMCU row's worth) per call.
  jpeg_start_decompress(&cinfo);
  while (cinfo.output_scanline < cinfo.output_height) {
    const JDIMENSION next = cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, rows + next, cinfo.output_height - next);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  // Touch the result so the decode cannot be skipped.
  unsigned sum = 0;
  for (std::size_t k = 0; k < width * height; k += 4096) sum += image[k];
  dwt97::detail::releaseZeroed(rows);
  dwt97::detail::releaseZeroed(image);
  dwt97::detail::releaseZeroed(bytes);
  return sum == 0xFFFFFFFFu ? 1 : 0;
}
