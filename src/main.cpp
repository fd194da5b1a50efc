// dwt97: one level of the separable 2-D CDF 9/7 wavelet transform of the
// 8-bit grayscale bitmap "quilgray.bmp", written as raw sub-band bytes to
// "quilout.dat". No command line, no environment, no configuration.
#include <cstdio>

#include "bitmap.h"
#include "fatal.h"
#include "filterbank.h"
#include "platform.h"

namespace {

const char* const kInputName = "quilgray.bmp";
const char* const kOutputName = "quilout.dat";

}  // namespace

int main() {
  Bitmap bmp;
  bmpLoad(&bmp, kInputName);
  const std::int32_t width = bmp.width;
  const std::int32_t height = bmp.height;

  PlaneBuffer source = planeAllocate(width, height, "main");
  bmpReadPlane(&bmp, kInputName, source.rows);
  // The samples come from the re-read; the record's pixel buffer is not read
  // again, and giving it back keeps the run's peak memory down.
  bmpRelease(&bmp);

  // Each buffer is taken just before its first use and given back after its
  // last, so that at most three picture-sized buffers are ever held and a
  // released block serves the next allocation (see allocateZeroed).
  PlaneBuffer rowPass = planeAllocate(width, height, "main");
  dwtForwardRows(rowPass.rows, source.rows, width, height);
  planeRelease(&source);
  PlaneBuffer result = planeAllocate(width, height, "main");
  dwtForwardColumns(result.rows, rowPass.rows, width, height);
  planeRelease(&rowPass);
  std::uint8_t* flat =
      allocateZeroed(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), "main");
  bmpPrint(&bmp);
  bmpFlattenPlane(&bmp, result.rows, flat);
  std::fflush(stdout);
  dwt97::detail::pauseForKey();
  bmpSave(&bmp, kOutputName, flat);

  // The rest lives until here; handing it back keeps leak checkers quiet.
  releaseZeroed(flat);
  planeRelease(&result);
  return 0;
}
