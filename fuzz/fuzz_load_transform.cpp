// libFuzzer target over the loading and transform path: every input is put in
// an in-memory file and run through bmpLoad, bmpReadPlane, both forward passes
// and bmpFlattenPlane, and then as the tool runs them: re-read into the
// record's own pixel buffer and transformed in place by dwtForward2d. A
// refused file must end in one "Error: bmpLoad(), ..." line and release
// everything it took; an accepted one must re-read to the very bytes the
// loader delivered, and both transforms must agree.
//
// An input whose first bytes announce a PGM, PNG or JPEG picture goes to the
// picture reader instead (tryParsePicture over the bytes): a refusal must be
// one "Error: ..." line with no buffer left, an accepted picture must be
// within the limits and transform in place on two threads.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"
#include "dwt97/picture.h"

using dwt97::PlaneBuffer;
using dwt97::planeAllocate;
using dwt97::planeRelease;

namespace {

struct Refused {
  const char* message;
};

// The message may live in the failing operation's frame: keep a copy.
char refusalText[256];

// Leaves the failing operation by unwinding instead of ending the process.
void throwRefusal(const char* message) {
  std::snprintf(refusalText, sizeof refusalText, "%s", message);
  throw Refused{refusalText};
}

int memoryFile = -1;
char memoryPath[64];

bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool endsWith(const char* text, const char* suffix) {
  const std::size_t n = std::strlen(text);
  const std::size_t m = std::strlen(suffix);
  return n >= m && std::strcmp(text + n - m, suffix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  memoryFile = memfd_create("quilgray.bmp", 0);
  if (memoryFile < 0) {
    std::perror("memfd_create");
    std::abort();
  }
  std::snprintf(memoryPath, sizeof memoryPath, "/proc/self/fd/%d", memoryFile);
  dwt97::setFatalHandler(throwRefusal);
  return 0;
}

namespace {

int fuzzPicture(const std::uint8_t* data, std::size_t size) {
  Bitmap bmp;
  dwt97::PictureFormat format;
  const std::optional<dwt97::Failure> failure = dwt97::tryParsePicture(&bmp, &format, data, size);
  if (format == dwt97::PictureFormat::bmp) std::abort();  // the caller sent a picture
  if (failure) {
    const char* text = dwt97::failureInfo(*failure).text;
    if (!startsWith(text, "Error: ") || !endsWith(text, "\n") || bmp.data != nullptr) {
      std::fprintf(stderr, "unexpected refusal: %s", text);
      std::abort();
    }
    return 0;
  }
  if (bmp.width < 1 || bmp.height < 1 ||
      std::int64_t{bmp.width} * bmp.height > std::int64_t{0x7FFFFFFF} ||
      (bmp.rawHeader[25] & 0x80) == 0) {
    std::abort();
  }
  std::vector<std::uint8_t*> rows(bmp.height);
  for (std::size_t r = 0; r < rows.size(); ++r) rows[r] = bmp.data + r * std::size_t(bmp.width);
  dwtForward2d(rows.data(), bmp.width, bmp.height, 2);
  bmpRelease(&bmp);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (dwt97::detectPicture(data, size) != dwt97::PictureFormat::bmp) {
    return fuzzPicture(data, size);
  }
  if (ftruncate(memoryFile, 0) != 0 ||
      pwrite(memoryFile, data, size, 0) != static_cast<ssize_t>(size)) {
    std::abort();
  }

  Bitmap bmp;
  try {
    bmpLoad(&bmp, memoryPath);
  } catch (const Refused& refusal) {
    // One line naming the loader, and no buffer left behind.
    if (!startsWith(refusal.message, "Error: bmpLoad(), ") || !endsWith(refusal.message, "\n") ||
        bmp.data != nullptr) {
      std::fprintf(stderr, "unexpected refusal: %s", refusal.message);
      std::abort();
    }
    return 0;
  }
  if (bmp.width < 1 || bmp.height < 1 ||
      std::int64_t{bmp.width} * bmp.height > std::int64_t{0x7FFFFFFF} ||
      static_cast<std::uint64_t>(bmp.dataOffset) > size) {
    std::abort();
  }

  const std::int32_t width = bmp.width;
  const std::int32_t height = bmp.height;
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  PlaneBuffer source = planeAllocate(width, height, "fuzz");
  try {
    bmpReadPlane(&bmp, memoryPath, source.rows);
  } catch (const Refused& refusal) {
    // The file did not change: the re-read of an accepted file cannot fail.
    std::fprintf(stderr, "re-read failed: %s\n", refusal.message);
    std::abort();
  }
  if (std::memcmp(source.block, bmp.data, pixels) != 0) {
    std::fputs("re-read differs from the loaded pixels\n", stderr);
    std::abort();
  }

  PlaneBuffer rowPass = planeAllocate(width, height, "fuzz");
  PlaneBuffer result = planeAllocate(width, height, "fuzz");
  PlaneBuffer flat = planeAllocate(width, height, "fuzz");
  dwtForwardRows(rowPass.rows, source.rows, width, height);
  dwtForwardColumns(result.rows, rowPass.rows, width, height);
  bmpFlattenPlane(&bmp, result.rows, flat.block);
  if (std::memcmp(flat.block, result.block, pixels) != 0) std::abort();

  // The tool's own path: the re-read into the record's pixel buffer, then the
  // fused transform in place, on two threads; the same bytes, row by row.
  std::vector<std::uint8_t*> rows(static_cast<std::size_t>(height));
  for (std::int32_t r = 0; r < height; ++r) rows[r] = bmp.data + std::size_t(r) * width;
  try {
    bmpReadPlane(&bmp, memoryPath, rows.data());
  } catch (const Refused& refusal) {
    std::fprintf(stderr, "re-read into the record failed: %s\n", refusal.message);
    std::abort();
  }
  dwtForward2d(rows.data(), width, height, 2);
  for (std::int32_t r = 0; r < height; ++r) {
    if (std::memcmp(rows[r], result.rows[r], static_cast<std::size_t>(width)) != 0) {
      std::fprintf(stderr, "fused transform differs in row %d\n", static_cast<int>(r));
      std::abort();
    }
  }

  planeRelease(&flat);
  planeRelease(&result);
  planeRelease(&rowPass);
  planeRelease(&source);
  bmpRelease(&bmp);
  return 0;
}
