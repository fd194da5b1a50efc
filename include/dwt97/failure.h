// Failures: every failure the library and the tool can report, each with its
// group and exact message, the handler seam for callers that must outlive
// one, and failures as values.
//
// The bmp and dwt operations and dwt97::planeAllocate never return a
// failure: the operation releases what it took, writes the message to
// standard error as it stands (no line end is added) and ends the process
// with exit status 1, unless a handler is installed (see setFatalHandler).
// Each of them that can fail has a twin in namespace dwt97 (dwt97::tryLoad,
// dwt97::tryForward2d, ...) that returns the failure instead: it never ends
// the process, never calls the handler, writes nothing to standard error and
// releases what it took before it returns.
#pragma once

#include "dwt97/export.h"

// Every failure, once: X(enumerator, group, exact message). The enumeration
// Failure, the table behind failureInfo() and the documentation all come from
// this list; the order is the enumeration's.
#define DWT97_FAILURE_LIST(X)                                                                   \
  X(loadOpen, io, "Error: bmpLoad(), File open fail!\n")                                        \
  X(loadNotRegularFile, io, "Error: bmpLoad(), Not a regular file!\n")                          \
  X(loadShortHeader, truncated, "Error: bmpLoad(), File too short for a bitmap header!\n")      \
  X(loadSignature, malformed, "Error: bmpLoad(), Header check failed: bmp->signature == 0x4D42\n") \
  X(loadInfoSize, unsupported, "Error: bmpLoad(), Header check failed: bmp->size==40\n")        \
  X(loadPlanes, malformed, "Error: bmpLoad(), Header check failed: bmp->planes==1\n")           \
  X(loadBitsPerPixel, unsupported,                                                              \
    "Error: bmpLoad(), Header check failed: bmp->bitsPerPixel==8\n")                            \
  X(loadCompressed, unsupported, "Error: bmpLoad(), Compressed pixel data is not supported!\n") \
  X(loadWidth, malformed, "Error: bmpLoad(), Width must be at least 1!\n")                      \
  X(loadHeightZero, malformed, "Error: bmpLoad(), Height must not be 0!\n")                     \
  X(loadHeightTooLarge, unsupported, "Error: bmpLoad(), Height beyond 65535 rows!\n")           \
  X(loadPixelCount, unsupported, "Error: bmpLoad(), Pixel count beyond 32 bits!\n")             \
  X(loadDataOffset, malformed, "Error: bmpLoad(), Pixel data offset out of range!\n")           \
  X(loadBeyondEnd, truncated, "Error: bmpLoad(), Pixel data beyond end of file!\n")             \
  X(loadRead, io, "Error: bmpLoad(), File read fail!\n")                                        \
  X(readPlaneOpen, io, "error!")                                                                \
  X(readPlaneRead, truncated, "Error: bmpReadPlane(), File read fail!\n")                       \
  X(saveCreate, io, "Error: bmpSave(), File create fail!\n")                                    \
  X(saveWrite, io, "Error: bmpSave(), File write fail!\n")                                      \
  X(outOfMemory, outOfMemory, "Error: %s(), Out of memory!\n")                                  \
  X(sameFile, io, "Error: main(), Input and output are the same file!\n")                      \
  X(tooManyLevels, unsupported, "Error: %s(), Too many levels for the picture (at most %d)!\n")  \
  X(pgmMalformed, malformed, "Error: pgmLoad(), Malformed PGM data!\n")                          \
  X(pgmMaxval, malformed, "Error: pgmLoad(), Maxval must be 1 to 65535!\n")                      \
  X(pgmSample, malformed, "Error: pgmLoad(), Sample beyond maxval!\n")                           \
  X(pgmTooLarge, unsupported, "Error: pgmLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n") \
  X(pgmTruncated, truncated, "Error: pgmLoad(), File ends before the last sample!\n")            \
  X(pngMalformed, malformed, "Error: pngLoad(), Malformed PNG data!\n")                          \
  X(pngTooLarge, unsupported, "Error: pngLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n") \
  X(pngTruncated, truncated, "Error: pngLoad(), File ends before the picture does!\n")           \
  X(pngNotBuilt, unsupported, "Error: pngLoad(), This build reads no PNG files!\n")              \
  X(pngWriteNotBuilt, unsupported, "Error: bmpSavePng(), This build writes no PNG files!\n")     \
  X(jpegMalformed, malformed, "Error: jpegLoad(), Malformed JPEG data!\n")                       \
  X(jpegUnsupported, unsupported, "Error: jpegLoad(), Unsupported kind of JPEG!\n")              \
  X(jpegTooLarge, unsupported,                                                                   \
    "Error: jpegLoad(), Picture beyond 65500 pixels a side or 2^31-1 pixels!\n")                 \
  X(jpegTruncated, truncated, "Error: jpegLoad(), File ends before the picture does!\n")         \
  X(jpegNotBuilt, unsupported, "Error: jpegLoad(), This build reads no JPEG files!\n")           \
  X(jpegTooManyScans, unsupported, "Error: jpegLoad(), Progressive JPEG of over 100 scans!\n")   \
  X(ppmMalformed, malformed, "Error: ppmLoad(), Malformed PPM data!\n")                          \
  X(ppmMaxval, malformed, "Error: ppmLoad(), Maxval must be 1 to 65535!\n")                      \
  X(ppmSample, malformed, "Error: ppmLoad(), Sample beyond maxval!\n")                           \
  X(ppmTooLarge, unsupported, "Error: ppmLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n") \
  X(ppmTruncated, truncated, "Error: ppmLoad(), File ends before the last sample!\n")            \
  X(tiffMalformed, malformed, "Error: tiffLoad(), Malformed TIFF data!\n")                       \
  X(tiffUnsupported, unsupported, "Error: tiffLoad(), Unsupported kind of TIFF!\n")              \
  X(tiffTooLarge, unsupported,                                                                   \
    "Error: tiffLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n")                          \
  X(tiffTruncated, truncated, "Error: tiffLoad(), File ends before the picture does!\n")         \
  X(tiffNotBuilt, unsupported, "Error: tiffLoad(), This build reads no TIFF files!\n")           \
  X(gifNotSupported, unsupported, "Error: bmpLoad(), GIF pictures are not supported!\n")         \
  X(webpNotSupported, unsupported, "Error: bmpLoad(), WebP pictures are not supported!\n")       \
  X(pamNotSupported, unsupported, "Error: bmpLoad(), PAM pictures are not supported!\n")         \
  X(pbmNotSupported, unsupported, "Error: bmpLoad(), PBM pictures are not supported!\n")         \
  X(jpeg2000NotSupported, unsupported,                                                           \
    "Error: bmpLoad(), JPEG 2000 pictures are not supported!\n")                                 \
  X(jpegXlNotSupported, unsupported, "Error: bmpLoad(), JPEG XL pictures are not supported!\n")  \
  X(heifNotSupported, unsupported,                                                               \
    "Error: bmpLoad(), HEIF and AVIF pictures are not supported!\n")                             \
  X(psdNotSupported, unsupported, "Error: bmpLoad(), PSD pictures are not supported!\n")

namespace dwt97 {

// What went wrong, broadly.
enum class FailureGroup {
  malformed,    // the file is not a well-formed bitmap
  unsupported,  // a well-formed bitmap this library does not handle
  truncated,    // the file ends before its own header or pixel data
  io,           // a file cannot be opened, created, read or written
  outOfMemory,  // memory runs out
};

// One enumerator per entry of DWT97_FAILURE_LIST, in its order.
enum class Failure {
#define DWT97_FAILURE_ENUMERATOR(name, group, text) name,
  DWT97_FAILURE_LIST(DWT97_FAILURE_ENUMERATOR)
#undef DWT97_FAILURE_ENUMERATOR
};

struct FailureInfo {
  Failure kind;
  FailureGroup group;
  // The exact message. For outOfMemory it is a printf format whose one %s
  // takes the name of the operation that ran out; for tooManyLevels, a
  // format whose %s takes the operation and whose %d the most levels the
  // picture allows.
  const char* text;
};

// The table entry of `kind`.
DWT97_API const FailureInfo& failureInfo(Failure kind);

// A caller that must outlive a failure of the operations that end the
// process installs a handler: the failure passes it the message instead of
// writing it, and the handler must leave by throwing. The operations release
// what they hold before they fail, so leaving that way leaks nothing. Should
// the handler return, the process ends as usual. Null restores the default.
// The install is atomic: it may race with failures on other threads, each of
// which sees either handler whole. The tool itself never installs one. The
// twins (dwt97::try...) need no handler and never call it.
using FatalHandler = void (*)(const char* message);
DWT97_API void setFatalHandler(FatalHandler handler);

}  // namespace dwt97
