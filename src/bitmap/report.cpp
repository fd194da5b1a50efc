// The header report of a loaded bitmap: two banners and fourteen field
// lines on standard output, each with one formatted write.
#include <cstdio>

#include "dwt97/bitmap.h"

void bmpPrint(const Bitmap* bmp) {
  std::printf("==== Header ====\n");
  std::printf("Signature = %04X\n", static_cast<unsigned>(bmp->signature));
  std::printf("FileSize = %ld \n", static_cast<long>(bmp->fileSize));
  std::printf("DataOffset = %ld \n", static_cast<long>(bmp->dataOffset));
  std::printf("==== Info ======\n");
  std::printf("size = %ld \n", static_cast<long>(bmp->size));
  std::printf("Width = %ld \n", static_cast<long>(bmp->width));
  std::printf("Height = %ld \n", static_cast<long>(bmp->height));
  std::printf("Planes = %d \n", static_cast<int>(bmp->planes));
  std::printf("BitsPerPixel = %d \n", static_cast<int>(bmp->bitsPerPixel));
  std::printf("Compression = %ld \n", static_cast<long>(bmp->compression));
  std::printf("ImageSize = %ld \n", static_cast<long>(bmp->imageSize));
  std::printf("XpixelsPerM = %ld \n", static_cast<long>(bmp->xpixelsPerM));
  std::printf("YpixelsPerM = %ld \n", static_cast<long>(bmp->ypixelsPerM));
  std::printf("ColorsUsed = %ld \n", static_cast<long>(bmp->colorsUsed));
  std::printf("ColorsImportant = %ld \n", static_cast<long>(bmp->colorsImportant));
}
