// The PNG writer, through libspng: a picture's rows as an 8-bit grey PNG
// (no interlacing), shown upright, through the platform's safe save.
// Without the library (DWT97_WITH_PNG unset) every PNG save is refused.
#include <cstdlib>
#include <cstring>

#include "core/allocator.h"
#include "core/report.h"
#include "dwt97/picture.h"
#include "picture/readers.h"
#include "platform/platform.h"

#if DWT97_WITH_PNG
#include <spng.h>
#endif

namespace dwt97::detail {

#if DWT97_WITH_PNG

namespace {

// Owns a libspng encoder.
struct Encoder {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  Encoder() = default;
  ~Encoder() { spng_ctx_free(ctx); }
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
};

int writeToSave(spng_ctx*, void* user, void* bytes, std::size_t count) {
  return static_cast<SaveFile*>(user)->write(bytes, count) ? SPNG_IO_ERROR : 0;
}

// Writes the rows as an 8-bit grey PNG into `save`: saveWrite on a write
// failure, outOfMemory when the encoder runs out of memory.
std::optional<Failure> encode(SaveFile& save, const Bitmap* bmp, const std::uint8_t* const* rows,
                              bool reversed) {
  Encoder encoder;
  if (encoder.ctx == nullptr) return Failure::outOfMemory;
  spng_ctx* ctx = encoder.ctx;
  const std::uint32_t height = bmp->height;
  const std::size_t width = static_cast<std::size_t>(bmp->width);
  spng_ihdr ihdr = {static_cast<std::uint32_t>(bmp->width),
                    height,
                    8,
                    SPNG_COLOR_TYPE_GRAYSCALE,
                    0,
                    0,
                    SPNG_INTERLACE_NONE};
  int error = spng_set_png_stream(ctx, writeToSave, &save);
  if (error == 0) error = spng_set_ihdr(ctx, &ihdr);
  if (error == 0) {
    error = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG,
                              SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
  }
  for (std::uint32_t r = 0; error == 0 && r < height; ++r) {
    // The encoder takes the row as a writable buffer but does not change it.
    auto* row = const_cast<std::uint8_t*>(rows[reversed ? height - 1 - r : r]);
    error = spng_encode_row(ctx, row, width);
    if (error == SPNG_EOI && r + 1 == height) error = 0;
  }
  if (error == SPNG_EMEM) return Failure::outOfMemory;
  if (error != 0) return Failure::saveWrite;
  return std::nullopt;
}

}  // namespace

std::optional<Failure> savePng(const Bitmap* bmp, const char* path,
                               const std::uint8_t* const* rows) {
  SaveFile save;
  std::optional<Failure> failure = save.create(path);
  // Shown upright: the top row first, which a bottom-up file stores last.
  if (!failure) failure = encode(save, bmp, rows, !bmp->topDown);
  if (!failure) failure = save.finish();
  if (!failure) return save.commit();
  save.abort();
  return failure;
}

#else  // no PNG library

std::optional<Failure> savePng(const Bitmap*, const char*, const std::uint8_t* const*) {
  return Failure::pngWriteNotBuilt;
}

#endif

}  // namespace dwt97::detail

std::optional<dwt97::Error> dwt97::bmpSavePngPlane(const Bitmap* bmp, const char* path,
                                                   const std::uint8_t* const* plane) {
  return detail::named(detail::savePng(bmp, path, plane), "bmpSavePng");
}

std::optional<dwt97::Error> dwt97::bmpSavePng(const Bitmap* bmp, const char* path,
                                              const std::uint8_t* flat) {
  const Error outOfMemory{Failure::outOfMemory, "bmpSavePng"};
  const std::uint8_t** rows = nullptr;
  if (detail::allocateZeroed(std::size_t{bmp->height} + 1, &rows)) return outOfMemory;
  planeRowsOver(const_cast<std::uint8_t**>(rows), const_cast<std::uint8_t*>(flat), bmp->height,
                bmp->width);
  const std::optional<Error> error = dwt97::bmpSavePngPlane(bmp, path, rows);
  detail::releaseZeroed(rows);
  return error;
}

void bmpSavePngPlane(const Bitmap* bmp, const char* path, const std::uint8_t* const* plane) {
  dwt97::detail::report(dwt97::bmpSavePngPlane(bmp, path, plane));
}

void bmpSavePng(const Bitmap* bmp, const char* path, const std::uint8_t* flat) {
  dwt97::detail::report(dwt97::bmpSavePng(bmp, path, flat));
}
