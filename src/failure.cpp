#include "failure.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace dwt97 {
namespace {

using G = FailureGroup;
using F = Failure;

// Every message the library and the tool can report, in the order of the
// enumeration.
constexpr FailureInfo kFailures[] = {
    {F::loadOpen, G::io, "Error: bmpLoad(), File open fail!\n"},
    {F::loadNotRegularFile, G::io, "Error: bmpLoad(), Not a regular file!\n"},
    {F::loadShortHeader, G::truncated, "Error: bmpLoad(), File too short for a bitmap header!\n"},
    {F::loadSignature, G::malformed,
     "Error: bmpLoad(), Header check failed: bmp->signature == 0x4D42\n"},
    {F::loadInfoSize, G::unsupported, "Error: bmpLoad(), Header check failed: bmp->size==40\n"},
    {F::loadPlanes, G::malformed, "Error: bmpLoad(), Header check failed: bmp->planes==1\n"},
    {F::loadBitsPerPixel, G::unsupported,
     "Error: bmpLoad(), Header check failed: bmp->bitsPerPixel==8\n"},
    {F::loadCompressed, G::unsupported,
     "Error: bmpLoad(), Compressed pixel data is not supported!\n"},
    {F::loadWidth, G::malformed, "Error: bmpLoad(), Width must be at least 1!\n"},
    {F::loadHeightZero, G::malformed, "Error: bmpLoad(), Height must not be 0!\n"},
    {F::loadHeightTooLarge, G::unsupported, "Error: bmpLoad(), Height beyond 65535 rows!\n"},
    {F::loadPixelCount, G::unsupported, "Error: bmpLoad(), Pixel count beyond 32 bits!\n"},
    {F::loadDataOffset, G::malformed, "Error: bmpLoad(), Pixel data offset out of range!\n"},
    {F::loadBeyondEnd, G::truncated, "Error: bmpLoad(), Pixel data beyond end of file!\n"},
    {F::loadRead, G::io, "Error: bmpLoad(), File read fail!\n"},
    {F::readPlaneOpen, G::io, "error!"},
    {F::readPlaneRead, G::truncated, "Error: bmpReadPlane(), File read fail!\n"},
    {F::saveCreate, G::io, "Error: bmpSave(), File create fail!\n"},
    {F::saveWrite, G::io, "Error: bmpSave(), File write fail!\n"},
    {F::outOfMemory, G::outOfMemory, "Error: %s(), Out of memory!\n"},
    {F::sameFile, G::io, "Error: main(), Input and output are the same file!\n"},
    {F::pictureBitmap, G::unsupported,
     "Error: tryParsePicture(), Bitmap data: read it with bmpLoad()!\n"},
    {F::pgmMalformed, G::malformed, "Error: pgmLoad(), Malformed PGM data!\n"},
    {F::pgmMaxval, G::malformed, "Error: pgmLoad(), Maxval must be 1 to 65535!\n"},
    {F::pgmSample, G::malformed, "Error: pgmLoad(), Sample beyond maxval!\n"},
    {F::pgmTooLarge, G::unsupported,
     "Error: pgmLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n"},
    {F::pgmTruncated, G::truncated, "Error: pgmLoad(), File ends before the last sample!\n"},
    {F::pngMalformed, G::malformed, "Error: pngLoad(), Malformed PNG data!\n"},
    {F::pngTooLarge, G::unsupported,
     "Error: pngLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n"},
    {F::pngTruncated, G::truncated, "Error: pngLoad(), File ends before the picture does!\n"},
    {F::pngNotBuilt, G::unsupported, "Error: pngLoad(), This build reads no PNG files!\n"},
    {F::pngWriteNotBuilt, G::unsupported, "Error: bmpSavePng(), This build writes no PNG files!\n"},
    {F::jpegMalformed, G::malformed, "Error: jpegLoad(), Malformed JPEG data!\n"},
    {F::jpegUnsupported, G::unsupported, "Error: jpegLoad(), Unsupported kind of JPEG!\n"},
    {F::jpegTooLarge, G::unsupported,
     "Error: jpegLoad(), Picture beyond 65535 rows or 2^31-1 pixels!\n"},
    {F::jpegTruncated, G::truncated, "Error: jpegLoad(), File ends before the picture does!\n"},
    {F::jpegNotBuilt, G::unsupported, "Error: jpegLoad(), This build reads no JPEG files!\n"},
};

constexpr bool tableInOrder() {
  for (std::size_t k = 0; k < sizeof kFailures / sizeof kFailures[0]; ++k) {
    if (static_cast<std::size_t>(kFailures[k].kind) != k) return false;
  }
  return true;
}
static_assert(tableInOrder(), "one entry per failure, in the enumeration's order");

std::atomic<FatalHandler> fatalHandler{nullptr};

}  // namespace

const FailureInfo& failureInfo(Failure kind) { return kFailures[static_cast<std::size_t>(kind)]; }

void setFatalHandler(FatalHandler handler) { fatalHandler.store(handler); }

namespace detail {

void fatal(const char* message) {
  if (const FatalHandler handler = fatalHandler.load()) handler(message);
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::exit(1);
}

void fail(Failure kind) { fatal(failureInfo(kind).text); }

void failOutOfMemory(const char* who) {
  char message[160];
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  std::snprintf(message, sizeof message, failureInfo(Failure::outOfMemory).text, who);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  fatal(message);
}

}  // namespace detail
}  // namespace dwt97
