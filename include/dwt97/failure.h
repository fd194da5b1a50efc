// Failures: every failure the library and the tool can report, each with its
// exact message, and the handler seam for callers that must outlive one.
//
// A failure never returns to the caller: the operation releases what it
// took, writes the message to standard error as it stands (no line end is
// added) and ends the process with exit status 1, unless a handler is
// installed (see setFatalHandler).
#pragma once

#include "dwt97/export.h"

namespace dwt97 {

// What went wrong, broadly.
enum class FailureGroup {
  malformed,    // the file is not a well-formed bitmap
  unsupported,  // a well-formed bitmap this library does not handle
  truncated,    // the file ends before its own header or pixel data
  io,           // a file cannot be opened, created, read or written
  outOfMemory,  // memory runs out
};

enum class Failure {
  loadOpen,             // "Error: bmpLoad(), File open fail!\n"
  loadNotRegularFile,   // "Error: bmpLoad(), Not a regular file!\n"
  loadShortHeader,      // "Error: bmpLoad(), File too short for a bitmap header!\n"
  loadSignature,        // "Error: bmpLoad(), Header check failed: bmp->signature == 0x4D42\n"
  loadInfoSize,         // "Error: bmpLoad(), Header check failed: bmp->size==40\n"
  loadPlanes,           // "Error: bmpLoad(), Header check failed: bmp->planes==1\n"
  loadBitsPerPixel,     // "Error: bmpLoad(), Header check failed: bmp->bitsPerPixel==8\n"
  loadCompressed,       // "Error: bmpLoad(), Compressed pixel data is not supported!\n"
  loadWidth,            // "Error: bmpLoad(), Width must be at least 1!\n"
  loadHeightZero,       // "Error: bmpLoad(), Height must not be 0!\n"
  loadHeightTooLarge,   // "Error: bmpLoad(), Height beyond 65535 rows!\n"
  loadPixelCount,       // "Error: bmpLoad(), Pixel count beyond 32 bits!\n"
  loadDataOffset,       // "Error: bmpLoad(), Pixel data offset out of range!\n"
  loadBeyondEnd,        // "Error: bmpLoad(), Pixel data beyond end of file!\n"
  loadRead,             // "Error: bmpLoad(), File read fail!\n"
  readPlaneOpen,        // "error!" (no line end)
  readPlaneRead,        // "Error: bmpReadPlane(), File read fail!\n"
  saveCreate,           // "Error: bmpSave(), File create fail!\n"
  saveWrite,            // "Error: bmpSave(), File write fail!\n"
  outOfMemory,          // "Error: <operation>(), Out of memory!\n"
  sameFile,             // "Error: main(), Input and output are the same file!\n"
  // Pictures other than bitmaps (dwt97/picture.h).
  pictureBitmap,        // "Error: tryParsePicture(), Bitmap data: read it with bmpLoad()!\n"
  pgmMalformed,         // "Error: pgmLoad(), Malformed PGM data!\n"
  pgmMaxval,            // "Error: pgmLoad(), Maxval must be 1 to 65535!\n"
  pgmSample,            // "Error: pgmLoad(), Sample beyond maxval!\n"
  pgmTooLarge,          // "Error: pgmLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n"
  pgmTruncated,         // "Error: pgmLoad(), File ends before the last sample!\n"
  pngMalformed,         // "Error: pngLoad(), Malformed PNG data!\n"
  pngTooLarge,          // "Error: pngLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n"
  pngTruncated,         // "Error: pngLoad(), File ends before the picture does!\n"
  pngNotBuilt,          // "Error: pngLoad(), This build reads no PNG files!\n"
  pngWriteNotBuilt,     // "Error: bmpSavePng(), This build writes no PNG files!\n"
  jpegMalformed,        // "Error: jpegLoad(), Malformed JPEG data!\n"
  jpegUnsupported,      // "Error: jpegLoad(), Unsupported kind of JPEG!\n"
  jpegTooLarge,         // "Error: jpegLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n"
  jpegTruncated,        // "Error: jpegLoad(), File ends before the picture does!\n"
  jpegNotBuilt,         // "Error: jpegLoad(), This build reads no JPEG files!\n"
};

struct FailureInfo {
  Failure kind;
  FailureGroup group;
  // The exact message. For outOfMemory it is a printf format whose one %s
  // takes the name of the operation that ran out.
  const char* text;
};

// The table entry of `kind`.
DWT97_API const FailureInfo& failureInfo(Failure kind);

// A caller that must outlive a failure (a test harness, a fuzzer, a server
// that refuses one file and goes on) installs a handler: the failure passes it
// the message instead of writing it, and the handler must leave by throwing.
// The operations release what they hold before they fail, so leaving that
// way leaks nothing. Should the handler return, the process ends as usual.
// Null restores the default. The install is atomic: it may race with
// failures on other threads, each of which sees either handler whole. The
// tool itself never installs one.
using FatalHandler = void (*)(const char* message);
DWT97_API void setFatalHandler(FatalHandler handler);

}  // namespace dwt97
