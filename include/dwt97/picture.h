// Pictures in the formats people have them: PGM, PPM, PNG, JPEG and TIFF,
// recognised by their first bytes, read into a Bitmap record as an 8-bit grey
// picture stored top row first; and the 8-bit grey PNG output.
//
// The readers return their failure instead of ending the process: an empty
// result means success. Reading PNG, JPEG and TIFF needs a build with the
// library for them (see canReadPicture); PGM and PPM are always read. Other
// formats that a file's first bytes announce (GIF, WebP, ...) are named in
// their refusal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dwt97/bitmap.h"
#include "dwt97/export.h"
#include "dwt97/failure.h"

namespace dwt97 {

// `other` is a picture format this library knows by its signature but does
// not read (GIF, WebP, PAM, PBM, JPEG 2000, JPEG XL, HEIF/AVIF, PSD).
enum class PictureFormat { bmp, pgm, png, jpeg, ppm, tiff, other };

// The format the first bytes of a file announce: the PNG signature, the JPEG
// start of image (FF D8 FF), "P5" or "P2" for PGM, "P6" or "P3" for PPM,
// "II*\0" or "MM\0*" for TIFF (or BigTIFF's "II+\0", "MM\0+"), the
// signature of another known format for `other`; anything else, a bitmap
// included, is bmp (the bitmap loader then judges it). 16 bytes are enough
// to tell every format.
DWT97_API PictureFormat detectPicture(const std::uint8_t* bytes, std::size_t count);

// The name of the operation that reads `format` in the library's messages:
// "bmpLoad", "pgmLoad", "ppmLoad", "pngLoad", "jpegLoad" or "tiffLoad" (bmpLoad
// for `other`), as an out-of-memory message names it.
DWT97_API const char* pictureLoadOperation(PictureFormat format);

// detectPicture() of the first bytes of the file at `path`, into `*format`.
// A file that cannot be opened is loadOpen, one that is not a regular file
// (a folder, a device, a pipe, whose bytes a look would take) is
// loadNotRegularFile, one that cannot be read loadRead, as bmpLoad() says
// of them.
[[nodiscard]] DWT97_API std::optional<Error> detectPictureFile(const char* path,
                                                               PictureFormat* format);

// Whether this build reads `format` (bmp, pgm and ppm always, `other`
// never), and whether it writes PNG.
DWT97_API bool canReadPicture(PictureFormat format);
DWT97_API bool canWritePng();

// Reads a PGM, PPM, PNG, JPEG or TIFF picture held in memory into `bmp` (its
// previous contents are ignored) and its format into `format`. On success the record
// is that of an uncompressed 8-bit top-down bitmap: width, height, the
// header fields such a file would hold (file size, data offset and image
// size 0), a synthesised `rawHeader` with the negative stored height, and
// `data`, height x width grey bytes top row first, released with
// bmpRelease(). The grey values:
//   PGM   v * 255 + maxval / 2, divided by maxval, in integer arithmetic;
//   PPM   each of R, G and B as a PGM sample, then the colour rule of PNG;
//   PNG   16-bit samples keep their high byte, a palette gives its colours,
//         colour gives (19595 R + 38470 G + 7471 B + 32768) >> 16; alpha,
//         gamma and colour profiles are ignored;
//   JPEG  the decoder's own grey output (the Y channel of a colour file);
//   TIFF  8- or 16-bit grey (min-is-white inverted) or RGB under the rules
//         of PNG, in strips or tiles, any compression the library reads.
// Orientation tags (EXIF, TIFF) are ignored: the rows are taken as stored.
// On failure nothing is left allocated and the failure is returned, its
// operation the format's reader (pictureLoadOperation); for an `other`
// format it is the one that names it (gifNotSupported, ...). Bytes that
// begin with "BM", or with no signature of these formats, are parsed as a
// bitmap file by dwt97::bmpParse(), with its failures.
[[nodiscard]] DWT97_API std::optional<Error> parsePicture(Bitmap* bmp, PictureFormat* format,
                                                          const std::uint8_t* bytes,
                                                          std::size_t count);

// parsePicture() of the whole file at `path`; a bitmap (or a file of no
// other format) goes to dwt97::bmpLoad() instead, which reads it in place. A
// file that cannot be opened or read, or is not a regular file, fails as
// bmpLoad() would (Failure::loadOpen, loadNotRegularFile, loadRead).
[[nodiscard]] DWT97_API std::optional<Error> loadPicture(Bitmap* bmp, PictureFormat* format,
                                                         const char* path);

// What a reader tells as it decodes, so that work on the rows can follow the
// decode. A null function is not called; an observer of null functions is
// the one the overloads without an observer use.
struct PictureRowsObserver {
  // Once the record is filled (width, height, header fields) and its
  // zero-filled pixel buffer bmp->data allocated, before any row is decoded
  // into it. A failure returned stops the read: the reader releases the
  // buffer and returns that failure as is (stopping is not called).
  std::optional<Error> (*started)(void* context, const Bitmap* bmp);
  // Rows [0, rows) of the buffer (row r at bmp->data + r * width) are final:
  // the reader never writes them again. `rows` strictly increases from call
  // to call; the last call, made before a successful read returns, tells the
  // height. Called on the reader's (calling) thread.
  void (*rowsRead)(void* context, std::uint32_t rows);
  // The read failed after started() succeeded: called once, before the
  // buffer is released; it returns only when nothing else uses the buffer
  // any more.
  void (*stopping)(void* context);
  void* context;
};

// loadPicture() and parsePicture(), telling `observer` of the rows as they
// are decoded: PGM and PPM every few rows (pieces of about 256 KiB), PNG
// after each scanline (an interlaced file once, at its end), JPEG after each
// scanline, TIFF after each strip or row of tiles. A bitmap file is loaded
// whole first and then told (started, then its height); bitmap bytes are
// told every few rows as they are copied. The bytes read, the failures and
// their messages are those of the overloads without an observer, but for a
// failure started() returns.
[[nodiscard]] DWT97_API std::optional<Error> loadPicture(Bitmap* bmp, PictureFormat* format,
                                                         const char* path,
                                                         const PictureRowsObserver& observer);
[[nodiscard]] DWT97_API std::optional<Error> parsePicture(Bitmap* bmp, PictureFormat* format,
                                                          const std::uint8_t* bytes,
                                                          std::size_t count,
                                                          const PictureRowsObserver& observer);

// The report of a picture that is not a bitmap: a banner, its format and its
// dimensions, on standard output.
DWT97_API void printPicture(const Bitmap* bmp, PictureFormat format);

}  // namespace dwt97

// As bmpSavePgm() and bmpSavePgmPlane(), but as an 8-bit grey PNG picture
// (no interlacing), shown upright as the PGM is. Fails as bmpSave() does,
// with its messages. In a build without PNG (see dwt97::canWritePng) they
// fail with "Error: bmpSavePng(), This build writes no PNG files!\n" and
// leave no file.
DWT97_API void bmpSavePng(const Bitmap* bmp, const char* path, const std::uint8_t* flat);
DWT97_API void bmpSavePngPlane(const Bitmap* bmp, const char* path,
                               const std::uint8_t* const* plane);

namespace dwt97 {

// bmpSavePng() and bmpSavePngPlane() returning the failure (saveCreate,
// saveWrite, outOfMemory or pngWriteNotBuilt, the operation "bmpSavePng").
[[nodiscard]] DWT97_API std::optional<Error> bmpSavePng(const Bitmap* bmp, const char* path,
                                                        const std::uint8_t* flat);
[[nodiscard]] DWT97_API std::optional<Error> bmpSavePngPlane(const Bitmap* bmp, const char* path,
                                                             const std::uint8_t* const* plane);

// Deprecated, the 1.2 names: the same operations, returning the failure as
// its kind alone, and the look at a file that answered bmp when it could not
// look.
[[deprecated("use dwt97::parsePicture")]] inline std::optional<Failure> tryParsePicture(
    Bitmap* bmp, PictureFormat* format, const std::uint8_t* bytes, std::size_t count) {
  return deprecated::kindOf(dwt97::parsePicture(bmp, format, bytes, count));
}
[[deprecated("use dwt97::loadPicture")]] inline std::optional<Failure> tryLoadPicture(
    Bitmap* bmp, PictureFormat* format, const char* path) {
  return deprecated::kindOf(dwt97::loadPicture(bmp, format, path));
}
[[deprecated("use dwt97::bmpSavePng")]] inline std::optional<Failure> trySavePng(
    const Bitmap* bmp, const char* path, const std::uint8_t* flat) {
  return deprecated::kindOf(dwt97::bmpSavePng(bmp, path, flat));
}
[[deprecated("use dwt97::bmpSavePngPlane")]] inline std::optional<Failure> trySavePngPlane(
    const Bitmap* bmp, const char* path, const std::uint8_t* const* plane) {
  return deprecated::kindOf(dwt97::bmpSavePngPlane(bmp, path, plane));
}
[[deprecated("use dwt97::detectPictureFile(path, &format)")]] inline PictureFormat
detectPictureFile(const char* path) {
  PictureFormat format = PictureFormat::bmp;
  if (dwt97::detectPictureFile(path, &format)) return PictureFormat::bmp;
  return format;
}

}  // namespace dwt97
