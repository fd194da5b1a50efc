// Bitmap file access: the in-memory record of an 8-bit grayscale bitmap, its
// loader and header report, sample planes, and the raw sample file.
//
// Every failure ends the process with a one-line message on standard error and
// exit status 1 (see fatal.h); no operation returns an error.
#pragma once

#include <cstddef>
#include <cstdint>

// One 8-bit grayscale bitmap: the 54 header bytes as read, the fields parsed
// from them, and the pixel buffer of `height` x `width` bytes (rows unpadded,
// in the file's row order).
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
};

// A two-dimensional array of samples indexed [row][column], reached through
// an array of row pointers.
using SamplePlane = std::uint8_t**;

// Storage behind a SamplePlane: `rows` is what the operations take.
struct PlaneBuffer {
  SamplePlane rows;
  std::uint8_t* block;  // all rows, one after the other
  std::int32_t width;
  std::int32_t height;
};

// Loads and validates the bitmap at `path` into `bmp`. Accepts uncompressed
// 8-bit files with a 40-byte info header, bottom-up or top-down; rows are
// read at the format's 4-byte stride and stored unpadded. Refuses anything
// else with a one-line message and exit status 1.
void bmpLoad(Bitmap* bmp, const char* path);

// Releases the pixel buffer of a loaded record (sets `data` to null).
void bmpRelease(Bitmap* bmp);

// Writes the sixteen-line header report to standard output.
void bmpPrint(const Bitmap* bmp);

// Re-reads the pixel block of the file `path` (the file `bmp` was loaded
// from) into `plane`, which has `height` rows of `width` bytes.
void bmpReadPlane(const Bitmap* bmp, const char* path, SamplePlane plane);

// Copies `plane` row after row into `flat` (`height` x `width` bytes).
void bmpFlattenPlane(const Bitmap* bmp, const SamplePlane plane, std::uint8_t* flat);

// Writes the first `height` x `width` bytes of `flat` to `path` as raw bytes.
// The bytes go to a temporary file beside `path` that replaces `path` only
// once complete, so a failed save leaves an older file untouched.
void bmpSave(const Bitmap* bmp, const char* path, const std::uint8_t* flat);

// Stores the colour triple (c0, c1, c2) at bytes 3*(y*width + x), +1 and +2
// of the pixel buffer, three bytes per position whatever the buffer's own
// one byte per pixel. A position whose three bytes do not lie wholly inside
// the `height` x `width` buffer is skipped; so is a record with no buffer.
void bmpSetPixel(Bitmap* bmp, std::int32_t x, std::int32_t y, std::uint8_t c0, std::uint8_t c1,
                 std::uint8_t c2);

// Draws the triple at positions (x + i, y + j) for i in [0, extentX) (outer
// loop) and j in [0, extentY) (inner loop), as bmpSetPixel does. An extent of
// zero or less draws nothing; positions outside the buffer are skipped.
void bmpFillRect(Bitmap* bmp, std::int32_t x, std::int32_t y, std::int32_t extentX,
                 std::int32_t extentY, std::uint8_t c0, std::uint8_t c1, std::uint8_t c2);

// Allocates a zero-filled plane of `height` rows of `width` bytes; ends the
// process with "Error: <who>(), Out of memory!" when memory runs out.
PlaneBuffer planeAllocate(std::int32_t width, std::int32_t height, const char* who);
void planeRelease(PlaneBuffer* plane);
