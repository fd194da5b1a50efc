// Loading bitmaps from files and from bytes, with every check of their
// headers; reading their pixels into planes; and drawing into them.
#include "dwt97/bitmap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "core/allocator.h"
#include "core/report.h"
#include "platform/platform.h"

using dwt97::Failure;
using dwt97::detail::releaseZeroed;
using dwt97::detail::tryAllocateZeroed;

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::size_t kHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;
constexpr std::int64_t kMaxRows = 65535;
constexpr std::int64_t kMaxPixels = 0x7FFFFFFF;

// Little-endian values assembled byte by byte, independent of the machine.
std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::int32_t le32(const std::uint8_t* p) {
  const std::uint32_t u = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                          (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
  // Two's complement reinterpretation without implementation-defined casts.
  return u <= 0x7FFFFFFFu ? static_cast<std::int32_t>(u)
                          : static_cast<std::int32_t>(u - 0x80000000u) - 0x7FFFFFFF - 1;
}

// Rows are stored padded to a multiple of 4 bytes; the last row's padding may
// be missing, so the block ends right after the last row's pixels.
std::uint64_t rowStride(const Bitmap* bmp) {
  return (static_cast<std::uint64_t>(bmp->width) + 3) & ~std::uint64_t{3};
}

std::uint64_t pixelBlockBytes(const Bitmap* bmp) {
  return rowStride(bmp) * (bmp->height - 1u) + static_cast<std::uint64_t>(bmp->width);
}

std::size_t pixelCount(const Bitmap* bmp) {
  return static_cast<std::size_t>(bmp->height) * static_cast<std::size_t>(bmp->width);
}

// Rows read per chunk when the file's rows cannot be read straight into
// place: at most this many bytes of them (but always one row).
constexpr std::uint64_t kChunkBytes = std::uint64_t{1} << 20;

// Whether rows[0 .. height) lie one after the other, `width` bytes apart.
bool contiguous(const Bitmap* bmp, const std::uint8_t* const* rows) {
  const std::size_t width = static_cast<std::size_t>(bmp->width);
  for (std::size_t r = 1; r < bmp->height; ++r) {
    if (rows[r] != rows[0] + r * width) return false;
  }
  return true;
}

enum class ReadResult { done, shortFile, outOfMemory };

// Reads the pixel block (stride-padded rows) at `dataOffset` into rows[r],
// `width` bytes each: in one read straight into place when the rows are
// unpadded and lie one after the other, otherwise in chunks of whole rows
// through a buffer of at most about kChunkBytes.
ReadResult readRows(std::FILE* file, const Bitmap* bmp, const std::uint8_t* const* rows) {
  if (std::fseek(file, bmp->dataOffset, SEEK_SET) != 0) return ReadResult::shortFile;
  const std::uint64_t stride = rowStride(bmp);
  const std::size_t width = static_cast<std::size_t>(bmp->width);
  if (stride == width && contiguous(bmp, rows)) {
    const std::uint64_t bytes = pixelBlockBytes(bmp);
    return std::fread(const_cast<std::uint8_t*>(rows[0]), 1, bytes, file) == bytes
               ? ReadResult::done
               : ReadResult::shortFile;
  }
  if (stride > kChunkBytes) {
    // Rows wider than the chunk go straight into place, one at a time, with
    // their few bytes of padding skipped: no buffer of a row's size.
    for (std::size_t r = 0; r < bmp->height; ++r) {
      if (r > 0 && std::fseek(file, static_cast<long>(stride - width), SEEK_CUR) != 0) {
        return ReadResult::shortFile;
      }
      if (std::fread(const_cast<std::uint8_t*>(rows[r]), 1, width, file) != width) {
        return ReadResult::shortFile;
      }
    }
    return ReadResult::done;
  }
  const std::uint64_t chunkRows = std::max<std::uint64_t>(1, kChunkBytes / stride);
  std::uint8_t* chunk = tryAllocateZeroed(
      static_cast<std::size_t>(std::min<std::uint64_t>(chunkRows, bmp->height) * stride));
  if (chunk == nullptr) return ReadResult::outOfMemory;
  for (std::size_t r0 = 0; r0 < bmp->height; r0 += chunkRows) {
    const std::size_t count = std::min<std::size_t>(chunkRows, bmp->height - r0);
    // The last row's padding may be missing from the file.
    const std::size_t bytes =
        (count - 1) * stride + (r0 + count == bmp->height ? width : stride);
    if (std::fread(chunk, 1, bytes, file) != bytes) {
      releaseZeroed(chunk);
      return ReadResult::shortFile;
    }
    for (std::size_t k = 0; k < count; ++k) {
      std::memcpy(const_cast<std::uint8_t*>(rows[r0 + k]), chunk + k * stride, width);
    }
  }
  releaseZeroed(chunk);
  return ReadResult::done;
}

// Parses the 54 header bytes into the record's fields and runs the four
// header checks, in order. Returns the failure of the first check that fails
// (nothing after it is parsed), or null when all pass.
std::optional<Failure> parseHeader(Bitmap* bmp, std::int32_t* storedHeight) {
  const std::uint8_t* header = bmp->rawHeader;
  const std::uint8_t* info = bmp->rawHeader + kFileHeaderBytes;
  bmp->signature = le16(header);
  if (bmp->signature != 0x4D42) return Failure::loadSignature;
  bmp->fileSize = le32(header + 2);
  bmp->dataOffset = le32(header + 10);
  bmp->size = le32(info);
  if (bmp->size != 40) return Failure::loadInfoSize;
  bmp->width = le32(info + 4);
  *storedHeight = le32(info + 8);
  bmp->planes = le16(info + 12);
  if (bmp->planes != 1) return Failure::loadPlanes;
  bmp->bitsPerPixel = le16(info + 14);
  if (bmp->bitsPerPixel != 8) return Failure::loadBitsPerPixel;
  bmp->compression = le32(info + 16);
  bmp->imageSize = le32(info + 20);
  bmp->xpixelsPerM = le32(info + 24);
  bmp->ypixelsPerM = le32(info + 28);
  bmp->colorsUsed = le32(info + 32);
  bmp->colorsImportant = le32(info + 36);
  return std::nullopt;
}

// Refuses what no sound transform follows from; sets `height` from the stored
// height (negative for a top-down file, whose rows stay in file order).
// Returns the failure, or nothing when the geometry is acceptable.
std::optional<Failure> validateGeometry(Bitmap* bmp, std::int32_t storedHeight, std::uint64_t fileBytes) {
  if (bmp->compression != 0) return Failure::loadCompressed;
  if (bmp->width <= 0) return Failure::loadWidth;
  if (storedHeight == 0) return Failure::loadHeightZero;
  const std::int64_t rows = storedHeight < 0 ? -std::int64_t{storedHeight} : storedHeight;
  if (rows > kMaxRows) return Failure::loadHeightTooLarge;
  bmp->height = static_cast<std::uint16_t>(rows);
  if (rows * bmp->width > kMaxPixels) return Failure::loadPixelCount;
  if (bmp->dataOffset < static_cast<std::int32_t>(kHeaderBytes) ||
      static_cast<std::uint64_t>(bmp->dataOffset) > fileBytes) {
    return Failure::loadDataOffset;
  }
  if (static_cast<std::uint64_t>(bmp->dataOffset) + pixelBlockBytes(bmp) > fileBytes) {
    return Failure::loadBeyondEnd;
  }
  return std::nullopt;
}

// Every check of a bitmap whose 54 header bytes are in `rawHeader`, in
// order, against a whole file of `fileBytes` bytes: the header checks, then
// the geometry, the pixel data offset and the pixel block's end. The file
// and memory loaders share it, so both refuse the same files the same way.
std::optional<Failure> checkHeader(Bitmap* bmp, std::uint64_t fileBytes) {
  std::int32_t storedHeight = 0;
  if (const std::optional<Failure> failure = parseHeader(bmp, &storedHeight)) return failure;
  return validateGeometry(bmp, storedHeight, fileBytes);
}

// Ends a failed load: closes the file and releases the record's pixel
// buffer, so nothing is left behind. Returns `failure`.
Failure failedLoad(std::FILE* file, Bitmap* bmp, Failure failure) {
  if (file != nullptr) std::fclose(file);
  releaseZeroed(bmp->data);
  bmp->data = nullptr;
  return failure;
}

}  // namespace

std::optional<Failure> dwt97::tryLoad(Bitmap* bmp, const char* path) {
  std::memset(bmp, 0, sizeof *bmp);
  std::FILE* file = dwt97::detail::openForReading(path);
  if (file == nullptr) return Failure::loadOpen;
  dwt97::detail::FileFacts facts;
  if (!dwt97::detail::fileFacts(file, &facts) || !facts.regular) {
    return failedLoad(file, bmp, Failure::loadNotRegularFile);
  }
  const std::uint64_t fileBytes = facts.size;

  if (std::fread(bmp->rawHeader, 1, kFileHeaderBytes, file) != kFileHeaderBytes ||
      std::fread(bmp->rawHeader + kFileHeaderBytes, 1, kInfoHeaderBytes, file) !=
          kInfoHeaderBytes) {
    return failedLoad(file, bmp, Failure::loadShortHeader);
  }
  if (const std::optional<Failure> failure = checkHeader(bmp, fileBytes)) {
    return failedLoad(file, bmp, *failure);
  }

  bmp->data = tryAllocateZeroed(pixelCount(bmp));
  if (bmp->data == nullptr) return failedLoad(file, bmp, Failure::outOfMemory);
  // The rows of the pixel buffer, for the read to fill.
  auto** rows = static_cast<std::uint8_t**>(
      std::malloc(static_cast<std::size_t>(bmp->height) * sizeof(std::uint8_t*)));
  if (rows == nullptr) return failedLoad(file, bmp, Failure::outOfMemory);
  for (std::size_t r = 0; r < bmp->height; ++r) rows[r] = bmp->data + r * bmp->width;
  const ReadResult read = readRows(file, bmp, rows);
  std::free(rows);
  if (read == ReadResult::outOfMemory) return failedLoad(file, bmp, Failure::outOfMemory);
  if (read == ReadResult::shortFile) return failedLoad(file, bmp, Failure::loadRead);
  std::fclose(file);
  return std::nullopt;
}

std::optional<Failure> dwt97::tryParse(Bitmap* bmp, const std::uint8_t* bytes, std::size_t size) {
  std::memset(bmp, 0, sizeof *bmp);
  if (size < kHeaderBytes) return Failure::loadShortHeader;
  std::memcpy(bmp->rawHeader, bytes, kHeaderBytes);
  if (const std::optional<Failure> failure = checkHeader(bmp, size)) {
    return failedLoad(nullptr, bmp, *failure);
  }
  bmp->data = tryAllocateZeroed(pixelCount(bmp));
  if (bmp->data == nullptr) return failedLoad(nullptr, bmp, Failure::outOfMemory);
  // The checks above keep every row, padding aside, inside the bytes.
  const std::size_t width = static_cast<std::size_t>(bmp->width);
  const std::size_t stride = static_cast<std::size_t>(rowStride(bmp));
  const std::uint8_t* pixels = bytes + bmp->dataOffset;
  for (std::size_t r = 0; r < bmp->height; ++r) {
    std::memcpy(bmp->data + r * width, pixels + r * stride, width);
  }
  return std::nullopt;
}

void bmpLoad(Bitmap* bmp, const char* path) {
  dwt97::detail::report(dwt97::tryLoad(bmp, path), "bmpLoad");
}

void bmpRelease(Bitmap* bmp) {
  releaseZeroed(bmp->data);
  bmp->data = nullptr;
}

void bmpPrint(const Bitmap* bmp) {
  std::printf("==== Header ====\n");
  std::printf("Signature = %04X\n", static_cast<unsigned>(bmp->signature));
  std::printf("FileSize = %ld \n", static_cast<long>(bmp->fileSize));
  std::printf("DataOffset = %ld \n", static_cast<long>(bmp->dataOffset));
  std::printf("==== Info ======\n");
  std::printf("size = %ld \n", static_cast<long>(bmp->size));
  std::printf("Width = %ld \n", static_cast<long>(bmp->width));
  std::printf("Height = %ld \n", static_cast<long>(bmp->height));
  std::printf("Planes = %d \n", static_cast<int>(bmp->planes));
  std::printf("BitsPerPixel = %d \n", static_cast<int>(bmp->bitsPerPixel));
  std::printf("Compression = %ld \n", static_cast<long>(bmp->compression));
  std::printf("ImageSize = %ld \n", static_cast<long>(bmp->imageSize));
  std::printf("XpixelsPerM = %ld \n", static_cast<long>(bmp->xpixelsPerM));
  std::printf("YpixelsPerM = %ld \n", static_cast<long>(bmp->ypixelsPerM));
  std::printf("ColorsUsed = %ld \n", static_cast<long>(bmp->colorsUsed));
  std::printf("ColorsImportant = %ld \n", static_cast<long>(bmp->colorsImportant));
}

std::optional<Failure> dwt97::tryReadPlane(const Bitmap* bmp, const char* path,
                                           SamplePlane plane) {
  std::FILE* file = dwt97::detail::openForReading(path);
  if (file == nullptr) return Failure::readPlaneOpen;
  // The file may have changed since it was loaded: a short read is a failure.
  const ReadResult read = readRows(file, bmp, plane);
  std::fclose(file);
  if (read == ReadResult::outOfMemory) return Failure::outOfMemory;
  if (read == ReadResult::shortFile) return Failure::readPlaneRead;
  return std::nullopt;
}

void bmpReadPlane(const Bitmap* bmp, const char* path, SamplePlane plane) {
  dwt97::detail::report(dwt97::tryReadPlane(bmp, path, plane), "bmpReadPlane");
}

void bmpFlattenPlane(const Bitmap* bmp, const std::uint8_t* const* plane, std::uint8_t* flat) {
  const std::size_t width = static_cast<std::size_t>(bmp->width);
  for (std::size_t r = 0; r < bmp->height; ++r) std::memcpy(flat + r * width, plane[r], width);
}

namespace {

// Number of whole three-byte positions in the pixel buffer (0 without one).
std::int64_t drawablePositions(const Bitmap* bmp) {
  if (bmp->data == nullptr || bmp->width <= 0) return 0;
  return std::int64_t{bmp->height} * bmp->width / 3;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {  // b > 0
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

void bmpSetPixel(Bitmap* bmp, std::int32_t x, std::int32_t y, std::uint8_t c0, std::uint8_t c1,
                 std::uint8_t c2) {
  // In 64-bit arithmetic no product overflows; position p is inside when its
  // bytes 3p .. 3p + 2 all lie in the buffer.
  const std::int64_t position = std::int64_t{y} * std::int64_t{bmp->width} + x;
  if (position < 0 || position >= drawablePositions(bmp)) return;
  std::uint8_t* at = bmp->data + 3 * position;
  at[0] = c0;
  at[1] = c1;
  at[2] = c2;
}

void bmpFillRect(Bitmap* bmp, std::int32_t x, std::int32_t y, std::int32_t extentX,
                 std::int32_t extentY, std::uint8_t c0, std::uint8_t c1, std::uint8_t c2) {
  const std::int64_t positions = drawablePositions(bmp);
  if (extentX <= 0 || extentY <= 0 || positions == 0) return;
  const std::int64_t width = bmp->width;
  // Only offsets whose position can fall inside the buffer are visited; the
  // others would be skipped one by one. Offsets whose coordinate leaves the
  // 32-bit range are not positions at all.
  const std::int64_t firstRow = y, lastRow = std::int64_t{y} + extentY - 1;
  const std::int64_t iBegin = std::max<std::int64_t>(0, -lastRow * width - x);
  const std::int64_t iEnd = std::min<std::int64_t>(
      {std::int64_t{extentX}, positions - firstRow * width - x, std::int64_t{INT32_MAX} - x + 1});
  for (std::int64_t i = iBegin; i < iEnd; ++i) {
    const std::int64_t column = x + i;
    // Rows r with 0 <= r * width + column < positions.
    const std::int64_t rowBegin = std::max(firstRow, -floorDiv(column, width));
    const std::int64_t rowEnd = std::min(
        {lastRow + 1, floorDiv(positions - 1 - column, width) + 1, std::int64_t{INT32_MAX} + 1});
    for (std::int64_t row = rowBegin; row < rowEnd; ++row) {
      bmpSetPixel(bmp, static_cast<std::int32_t>(column), static_cast<std::int32_t>(row), c0, c1,
                  c2);
    }
  }
}
