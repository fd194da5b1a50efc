// Failures: every failure the library and the tool can report, each with its
// group, its stable name and its exact message, the one formatter of those
// messages, and the handler seam for callers that must outlive a failure.
//
// One convention runs through the library: every operation in namespace
// dwt97 that can fail returns std::optional<dwt97::Error>, empty on success.
// It never ends the process, never calls the failure handler, writes nothing
// to standard error and releases what it took before it returns a failure.
// The process-ending operations outside the namespace (bmpLoad,
// dwtForward2d, ...) are the same operations under the same names: each
// reports its failure's message (formatFailure) on standard error and ends
// the process with exit status 1, unless a handler is installed.
#pragma once

#include <cstddef>

#include "dwt97/export.h"

// Every failure, once: X(enumerator, group, exact message). The enumeration
// Failure, the table behind failureInfo() and the documentation all come from
// this list; the order is the enumeration's.
#define DWT97_FAILURE_LIST(X)                                                                      \
  X(loadOpen, io, "Error: bmpLoad(), File open fail!\n")                                           \
  X(loadNotRegularFile, io, "Error: bmpLoad(), Not a regular file!\n")                             \
  X(loadShortHeader, truncated, "Error: bmpLoad(), File too short for a bitmap header!\n")         \
  X(loadSignature, malformed, "Error: bmpLoad(), Header check failed: bmp->signature == 0x4D42\n") \
  X(loadInfoSize, unsupported, "Error: bmpLoad(), Header check failed: bmp->size==40\n")           \
  X(loadPlanes, malformed, "Error: bmpLoad(), Header check failed: bmp->planes==1\n")              \
  X(loadBitsPerPixel, unsupported,                                                                 \
    "Error: bmpLoad(), Header check failed: bmp->bitsPerPixel==8\n")                               \
  X(loadCompressed, unsupported, "Error: bmpLoad(), Compressed pixel data is not supported!\n")    \
  X(loadWidth, malformed, "Error: bmpLoad(), Width must be at least 1!\n")                         \
  X(loadHeightZero, malformed, "Error: bmpLoad(), Height must not be 0!\n")                        \
  X(loadHeightTooLarge, unsupported, "Error: bmpLoad(), Height beyond 65535 rows!\n")              \
  X(loadPixelCount, unsupported, "Error: bmpLoad(), Pixel count beyond 32 bits!\n")                \
  X(loadDataOffset, malformed, "Error: bmpLoad(), Pixel data offset out of range!\n")              \
  X(loadBeyondEnd, truncated, "Error: bmpLoad(), Pixel data beyond end of file!\n")                \
  X(loadRead, io, "Error: bmpLoad(), File read fail!\n")                                           \
  X(readPlaneOpen, io, "error!")                                                                   \
  X(readPlaneRead, truncated, "Error: bmpReadPlane(), File read fail!\n")                          \
  X(saveCreate, io, "Error: bmpSave(), File create fail!\n")                                       \
  X(saveWrite, io, "Error: bmpSave(), File write fail!\n")                                         \
  X(outOfMemory, outOfMemory, "Error: %s(), Out of memory!\n")                                     \
  X(sameFile, io, "Error: main(), Input and output are the same file!\n")                          \
  X(tooManyLevels, unsupported, "Error: %s(), Too many levels for the picture (at most %d)!\n")    \
  X(pgmMalformed, malformed, "Error: pgmLoad(), Malformed PGM data!\n")                            \
  X(pgmMaxval, malformed, "Error: pgmLoad(), Maxval must be 1 to 65535!\n")                        \
  X(pgmSample, malformed, "Error: pgmLoad(), Sample beyond maxval!\n")                             \
  X(pgmTooLarge, unsupported, "Error: pgmLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n")   \
  X(pgmTruncated, truncated, "Error: pgmLoad(), File ends before the last sample!\n")              \
  X(pngMalformed, malformed, "Error: pngLoad(), Malformed PNG data!\n")                            \
  X(pngTooLarge, unsupported, "Error: pngLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n")   \
  X(pngTruncated, truncated, "Error: pngLoad(), File ends before the picture does!\n")             \
  X(pngNotBuilt, unsupported, "Error: pngLoad(), This build reads no PNG files!\n")                \
  X(pngWriteNotBuilt, unsupported, "Error: bmpSavePng(), This build writes no PNG files!\n")       \
  X(jpegMalformed, malformed, "Error: jpegLoad(), Malformed JPEG data!\n")                         \
  X(jpegUnsupported, unsupported, "Error: jpegLoad(), Unsupported kind of JPEG!\n")                \
  X(jpegTooLarge, unsupported,                                                                     \
    "Error: jpegLoad(), Picture beyond 65500 pixels a side or 2^31-1 pixels!\n")                   \
  X(jpegTruncated, truncated, "Error: jpegLoad(), File ends before the picture does!\n")           \
  X(jpegNotBuilt, unsupported, "Error: jpegLoad(), This build reads no JPEG files!\n")             \
  X(jpegTooManyScans, unsupported, "Error: jpegLoad(), Progressive JPEG of over 100 scans!\n")     \
  X(ppmMalformed, malformed, "Error: ppmLoad(), Malformed PPM data!\n")                            \
  X(ppmMaxval, malformed, "Error: ppmLoad(), Maxval must be 1 to 65535!\n")                        \
  X(ppmSample, malformed, "Error: ppmLoad(), Sample beyond maxval!\n")                             \
  X(ppmTooLarge, unsupported, "Error: ppmLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n")   \
  X(ppmTruncated, truncated, "Error: ppmLoad(), File ends before the last sample!\n")              \
  X(tiffMalformed, malformed, "Error: tiffLoad(), Malformed TIFF data!\n")                         \
  X(tiffUnsupported, unsupported, "Error: tiffLoad(), Unsupported kind of TIFF!\n")                \
  X(tiffTooLarge, unsupported, "Error: tiffLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n") \
  X(tiffTruncated, truncated, "Error: tiffLoad(), File ends before the picture does!\n")           \
  X(tiffNotBuilt, unsupported, "Error: tiffLoad(), This build reads no TIFF files!\n")             \
  X(gifNotSupported, unsupported, "Error: bmpLoad(), GIF pictures are not supported!\n")           \
  X(webpNotSupported, unsupported, "Error: bmpLoad(), WebP pictures are not supported!\n")         \
  X(pamNotSupported, unsupported, "Error: bmpLoad(), PAM pictures are not supported!\n")           \
  X(pbmNotSupported, unsupported, "Error: bmpLoad(), PBM pictures are not supported!\n")           \
  X(jpeg2000NotSupported, unsupported,                                                             \
    "Error: bmpLoad(), JPEG 2000 pictures are not supported!\n")                                   \
  X(jpegXlNotSupported, unsupported, "Error: bmpLoad(), JPEG XL pictures are not supported!\n")    \
  X(heifNotSupported, unsupported,                                                                 \
    "Error: bmpLoad(), HEIF and AVIF pictures are not supported!\n")                               \
  X(psdNotSupported, unsupported, "Error: bmpLoad(), PSD pictures are not supported!\n")           \
  X(planeShapes, unsupported, "Error: %s(), Planes of different shapes or of no samples!\n")       \
  X(planeOverlap, unsupported, "Error: %s(), Input and output planes overlap!\n")                  \
  X(levelsNegative, unsupported, "Error: %s(), Levels must be 0 or more!\n")                       \
  X(coefficientsOverflow, unsupported,                                                             \
    "Error: %s(), Samples too large for 32-bit coefficients at these levels!\n")                   \
  X(npyOpen, io, "Error: npyLoad(), File open fail!\n")                                            \
  X(npyNotRegularFile, io, "Error: npyLoad(), Not a regular file!\n")                              \
  X(npyRead, io, "Error: npyLoad(), File read fail!\n")                                            \
  X(npySignature, malformed, "Error: npyLoad(), Not a .npy file!\n")                               \
  X(npyHeader, malformed, "Error: npyLoad(), Malformed .npy header!\n")                            \
  X(npyTruncated, truncated, "Error: npyLoad(), File ends before the last coefficient!\n")         \
  X(npyShape, unsupported,                                                                         \
    "Error: npyLoad(), Coefficients must be a 2-D array of 1 x 1 or more!\n")                      \
  X(npyComplex, unsupported, "Error: npyLoad(), Complex coefficients are not supported!\n")        \
  X(npyType, unsupported, "Error: npyLoad(), Coefficients must be float32 or int32!\n")            \
  X(npyTooLarge, unsupported, "Error: npyLoad(), Array beyond 65535 rows or 2^31-1 samples!\n")

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

// A failure as an operation returns it: what went wrong, and what its
// message names. `operation` is the operation that failed as the messages
// name it ("bmpLoad", "dwtForward2d"), filled in for the failures whose
// messages name it (outOfMemory, tooManyLevels, planeShapes, planeOverlap,
// levelsNegative); `mostLevels` is the most levels the picture allows, for
// tooManyLevels.
struct Error {
  Failure failure;
  const char* operation = "";
  int mostLevels = 0;
};

inline bool operator==(const Error& error, Failure failure) { return error.failure == failure; }
inline bool operator!=(const Error& error, Failure failure) { return error.failure != failure; }

// Room enough for any message formatFailure() makes, its end included.
constexpr std::size_t kMessageCapacity = 256;

// The exact message of `error`, as the tool prints it (line end included,
// where the message has one), into `buffer` of `size` bytes, always ended
// by a null character (cut short if it does not fit). Returns `buffer`.
DWT97_API const char* formatFailure(const Error& error, char* buffer, std::size_t size);

// The failure's stable name, its enumerator's ("loadOpen"), and its group.
DWT97_API const char* failureName(Failure failure);
DWT97_API FailureGroup failureGroup(Failure failure);

// A caller that must outlive a failure of the operations that end the
// process installs a handler: the failure passes it the message instead of
// writing it, and the handler must leave by throwing. The operations release
// what they hold before they fail, so leaving that way leaks nothing. Should
// the handler return, the process ends as usual. Null restores the default.
// The install is atomic: it may race with failures on other threads, each of
// which sees either handler whole. The tool itself never installs one. The
// operations of namespace dwt97 need no handler and never call it.
using FatalHandler = void (*)(const char* message);
DWT97_API void setFatalHandler(FatalHandler handler);

// Deprecated, the 1.2 names: a failure's entry of the table, whose text is
// the raw message (for outOfMemory and tooManyLevels a printf format).
struct FailureInfo {
  Failure kind;
  FailureGroup group;
  const char* text;
};
[[deprecated(
    "use dwt97::formatFailure, failureName and failureGroup")]] DWT97_API const FailureInfo&
failureInfo(Failure kind);

}  // namespace dwt97
