// Bitmap file access: the in-memory record of an 8-bit grayscale bitmap, its
// loader and header report, pixel drawing, and moving samples between the
// file, sample planes and the raw sample file.
//
// The bmp operations return no error: a failure releases what the operation
// took, reports the failure's message (dwt97/failure.h) and ends the process
// with exit status 1, or calls the installed failure handler. The same
// names in namespace dwt97, at the end of this header, return the failure
// instead. Operations on separate records, planes and files may run
// concurrently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dwt97/export.h"
#include "dwt97/failure.h"
#include "dwt97/planes.h"

// One 8-bit grayscale bitmap: the 54 header bytes as read, the fields parsed
// from them, the pixel buffer of `height` x `width` bytes (rows unpadded,
// in the file's row order), and that order.
struct Bitmap {
  std::uint8_t rawHeader[54];
  std::uint16_t signature;
  std::int32_t fileSize;
  std::int32_t dataOffset;
  std::int32_t size;
  std::int32_t width;
  std::uint16_t height;  // rows; the magnitude of the stored height
  std::uint16_t planes;
  std::uint16_t bitsPerPixel;
  std::int32_t compression;
  std::int32_t imageSize;
  std::int32_t xpixelsPerM;
  std::int32_t ypixelsPerM;
  std::int32_t colorsUsed;
  std::int32_t colorsImportant;
  std::uint8_t* data;
  // Whether row 0 of `data` is the picture's top: a top-down bitmap's
  // (negative stored height), and every picture of another format's. An
  // ordinary bitmap stores its bottom row first.
  bool topDown;
};

// Loads and validates the bitmap at `path` into `bmp`, whose previous
// contents are ignored. Accepts uncompressed 8-bit files with a 40-byte info
// header, bottom-up or top-down; rows are read at the format's 4-byte stride
// and stored unpadded. Allocates the pixel buffer `data`, which the caller
// releases with bmpRelease(). Fails (see above) on a file it cannot open or
// read and on anything else it refuses, with nothing left allocated or open:
// loadOpen, loadNotRegularFile, loadShortHeader, then the header checks
// loadSignature, loadInfoSize, loadPlanes, loadBitsPerPixel, then
// loadCompressed, loadWidth, loadHeightZero, loadHeightTooLarge,
// loadPixelCount, loadDataOffset, loadBeyondEnd, in that order, and loadRead
// or outOfMemory ("bmpLoad") while the pixels are read.
DWT97_API void bmpLoad(Bitmap* bmp, const char* path);

// Releases the pixel buffer of a loaded record and sets `data` to null; a
// record without one is left alone.
DWT97_API void bmpRelease(Bitmap* bmp);

// Writes the sixteen-line header report to standard output. Allocates nothing
// and never fails.
DWT97_API void bmpPrint(const Bitmap* bmp);

// Re-reads the pixel block of the file `path` (the file `bmp` was loaded
// from) into `plane`, which has `height` rows of `width` bytes; the rows may
// be the record's own pixel buffer. Unpadded rows (a width that is a
// multiple of 4) lying one after the other are read straight into place;
// otherwise the rows go through a temporary buffer of about 1 MiB, released
// before returning. Fails with readPlaneOpen when the file cannot be
// reopened, readPlaneRead when it has become too short (the plane may then
// be partly overwritten), or outOfMemory ("bmpReadPlane").
DWT97_API void bmpReadPlane(const Bitmap* bmp, const char* path, SamplePlane plane);

// Copies `plane` row after row into `flat` (`height` x `width` bytes).
// Allocates nothing and never fails.
DWT97_API void bmpFlattenPlane(const Bitmap* bmp, const std::uint8_t* const* plane,
                               std::uint8_t* flat);

// Writes the first `height` x `width` bytes of `flat` to `path` as raw bytes.
// The bytes go to a temporary file beside `path` that replaces `path` only
// once complete, so a failed save leaves an older file untouched and no
// temporary behind. Fails with saveCreate when the file cannot be created or
// put in place, saveWrite when it cannot be written, or outOfMemory
// ("bmpSave") when memory for its name runs out.
DWT97_API void bmpSave(const Bitmap* bmp, const char* path, const std::uint8_t* flat);

// As bmpSave(), but as a binary PGM picture: the header
// "P5\n<width> <height>\n255\n", then the same `height` x `width` bytes with
// the rows ordered as the loaded file's picture is shown: for a bottom-up
// file (positive stored height) the last row of `flat` first, for a top-down
// file the rows in order. Fails as bmpSave() does, with its messages.
DWT97_API void bmpSavePgm(const Bitmap* bmp, const char* path, const std::uint8_t* flat);

// As bmpSave() and bmpSavePgm(), with the `height` rows of `width` bytes
// taken from `plane` (in its row order) instead of one flat block: no copy of
// the picture is needed.
DWT97_API void bmpSavePlane(const Bitmap* bmp, const char* path, const std::uint8_t* const* plane);
DWT97_API void bmpSavePgmPlane(const Bitmap* bmp, const char* path,
                               const std::uint8_t* const* plane);

// A save whose rows are written while the result is still being made, for
// example by dwtForward2dStreaming: the rows go to a temporary file beside
// the output as they come, and the file replaces the output only at
// bmpSaveFinish(), so until then an older output stays as it was.
struct BmpSaveSession;

// Starts a save of a `height` x `width` result to `path`, raw or (with `pgm`)
// as bmpSavePgm() lays it out, by creating the temporary file, and returns
// the session. Fails as bmpSave() does when the temporary cannot be created
// or memory runs out, with nothing left behind. An interrupt (SIGINT,
// SIGTERM, SIGHUP) while the session is open removes the temporary before it
// ends the process.
DWT97_API BmpSaveSession* bmpSaveStart(const Bitmap* bmp, const char* path, bool pgm);

// Writes rows `first` .. `first` + `count` - 1 of the result, result[r] being
// row r, to their places in the file. `context` is the session: the call
// fits DwtResultRows (dwt97/filterbank.h). Safe to call from several
// threads at once for different rows. A failed write is kept for
// bmpSaveFinish() to report; later rows are then not written.
DWT97_API void bmpSaveRows(void* context, const std::uint8_t* const* result, std::int32_t first,
                           std::int32_t count);

// Ends the session, after every row has been written: puts the file in place
// of the output and releases the session. Fails, removing the temporary and
// releasing the session, with saveWrite when a write failed and saveCreate
// when the file cannot be put in place.
DWT97_API void bmpSaveFinish(BmpSaveSession* session);

// Ends the session without saving: removes the temporary and releases it.
DWT97_API void bmpSaveAbandon(BmpSaveSession* session);

// Stores the colour triple (c0, c1, c2) at bytes 3*(y*width + x), +1 and +2
// of the pixel buffer, three bytes per position whatever the buffer's own
// one byte per pixel. A position whose three bytes do not lie wholly inside
// the `height` x `width` buffer is skipped; so is a record with no buffer.
// Allocates nothing and never fails.
DWT97_API void bmpSetPixel(Bitmap* bmp, std::int32_t x, std::int32_t y, std::uint8_t c0,
                           std::uint8_t c1, std::uint8_t c2);

// Draws the triple at positions (x + i, y + j) for i in [0, extentX) (outer
// loop) and j in [0, extentY) (inner loop), as bmpSetPixel does. An extent of
// zero or less draws nothing; positions outside the buffer are skipped.
DWT97_API void bmpFillRect(Bitmap* bmp, std::int32_t x, std::int32_t y, std::int32_t extentX,
                           std::int32_t extentY, std::uint8_t c0, std::uint8_t c1, std::uint8_t c2);

namespace dwt97 {

// The bmp operations that can fail, returning the failure instead: each does
// the same work and returns the failure the operation of the same name
// reports, or nothing on success (see dwt97/failure.h). It never ends the
// process, never calls the failure handler and writes nothing to standard
// error; it releases what it took (the record's pixel buffer, open files,
// temporary files) before it returns a failure.

// bmpLoad(). On failure `data` is null and the other fields are as far as
// the checks got.
[[nodiscard]] DWT97_API std::optional<Error> bmpLoad(Bitmap* bmp, const char* path);

// bmpLoad() of a whole bitmap file held in memory: `size` bytes at `bytes`.
// The same checks in the same order with the same failures as bmpLoad() of
// a file of `size` bytes (loadShortHeader when `size` is below 54, a pixel
// block past the end is loadBeyondEnd); the bytes are only read, and the
// pixel buffer is the record's own as after a load.
[[nodiscard]] DWT97_API std::optional<Error> bmpParse(Bitmap* bmp, const std::uint8_t* bytes,
                                                      std::size_t size);

[[nodiscard]] DWT97_API std::optional<Error> bmpReadPlane(const Bitmap* bmp, const char* path,
                                                          SamplePlane plane);
// bmpReadPlane(), telling rowsRead(context, rows) each time rows [0, rows)
// of `plane` are in place (rows increasing, the last call telling the
// height), on the calling thread; nothing is told after a failure. Rows
// lying one after the other are read straight into place in pieces of whole
// rows of about 1 MiB.
[[nodiscard]] DWT97_API std::optional<Error> bmpReadPlane(
    const Bitmap* bmp, const char* path, SamplePlane plane,
    void (*rowsRead)(void* context, std::uint32_t rows), void* context);
[[nodiscard]] DWT97_API std::optional<Error> bmpSave(const Bitmap* bmp, const char* path,
                                                     const std::uint8_t* flat);
[[nodiscard]] DWT97_API std::optional<Error> bmpSavePgm(const Bitmap* bmp, const char* path,
                                                        const std::uint8_t* flat);
[[nodiscard]] DWT97_API std::optional<Error> bmpSavePlane(const Bitmap* bmp, const char* path,
                                                          const std::uint8_t* const* plane);
[[nodiscard]] DWT97_API std::optional<Error> bmpSavePgmPlane(const Bitmap* bmp, const char* path,
                                                             const std::uint8_t* const* plane);

// bmpSaveStart(), the session at `*session` (null on failure).
[[nodiscard]] DWT97_API std::optional<Error> bmpSaveStart(const Bitmap* bmp, const char* path,
                                                          bool pgm, BmpSaveSession** session);

// bmpSaveFinish(): the session is released whatever the result.
[[nodiscard]] DWT97_API std::optional<Error> bmpSaveFinish(BmpSaveSession* session);

// The record's pixel count, `height` x `width`, without overflow.
inline std::size_t pixelCount(const Bitmap* bmp) {
  return static_cast<std::size_t>(bmp->height) *
         static_cast<std::size_t>(bmp->width < 0 ? 0 : bmp->width);
}

// Deprecated, the 1.2 names: the same operations, returning the failure as
// its kind alone.
namespace deprecated {
inline std::optional<Failure> kindOf(const std::optional<Error>& error) {
  if (error) return error->failure;
  return std::nullopt;
}
}  // namespace deprecated
[[deprecated("use dwt97::bmpLoad")]] inline std::optional<Failure> tryLoad(Bitmap* bmp,
                                                                           const char* path) {
  return deprecated::kindOf(dwt97::bmpLoad(bmp, path));
}
[[deprecated("use dwt97::bmpParse")]] inline std::optional<Failure> tryParse(
    Bitmap* bmp, const std::uint8_t* bytes, std::size_t size) {
  return deprecated::kindOf(dwt97::bmpParse(bmp, bytes, size));
}
[[deprecated("use dwt97::bmpReadPlane")]] inline std::optional<Failure> tryReadPlane(
    const Bitmap* bmp, const char* path, SamplePlane plane) {
  return deprecated::kindOf(dwt97::bmpReadPlane(bmp, path, plane));
}
[[deprecated("use dwt97::bmpSave")]] inline std::optional<Failure> trySave(
    const Bitmap* bmp, const char* path, const std::uint8_t* flat) {
  return deprecated::kindOf(dwt97::bmpSave(bmp, path, flat));
}
[[deprecated("use dwt97::bmpSavePgm")]] inline std::optional<Failure> trySavePgm(
    const Bitmap* bmp, const char* path, const std::uint8_t* flat) {
  return deprecated::kindOf(dwt97::bmpSavePgm(bmp, path, flat));
}
[[deprecated("use dwt97::bmpSavePlane")]] inline std::optional<Failure> trySavePlane(
    const Bitmap* bmp, const char* path, const std::uint8_t* const* plane) {
  return deprecated::kindOf(dwt97::bmpSavePlane(bmp, path, plane));
}
[[deprecated("use dwt97::bmpSavePgmPlane")]] inline std::optional<Failure> trySavePgmPlane(
    const Bitmap* bmp, const char* path, const std::uint8_t* const* plane) {
  return deprecated::kindOf(dwt97::bmpSavePgmPlane(bmp, path, plane));
}
[[deprecated("use dwt97::bmpSaveFinish")]] inline std::optional<Failure> trySaveFinish(
    BmpSaveSession* session) {
  return deprecated::kindOf(dwt97::bmpSaveFinish(session));
}

}  // namespace dwt97
