#include "bitmap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fatal.h"
#include "platform.h"

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

// Reads the whole pixel block (stride-padded rows) at `dataOffset` in one read.
bool readPixelBlock(std::FILE* file, const Bitmap* bmp, std::uint8_t* block) {
  const std::uint64_t bytes = pixelBlockBytes(bmp);
  if (std::fseek(file, bmp->dataOffset, SEEK_SET) != 0) return false;
  return std::fread(block, 1, bytes, file) == bytes;
}

// Moves stored row r (at r * stride in `block`) to `rows[r]`, `width` bytes each.
template <typename RowAt>
void distributeRows(const Bitmap* bmp, const std::uint8_t* block, RowAt rowAt) {
  const std::uint64_t stride = rowStride(bmp);
  const std::size_t width = static_cast<std::size_t>(bmp->width);
  for (std::size_t r = 0; r < bmp->height; ++r) {
    std::memmove(rowAt(r), block + r * stride, width);
  }
}

// Parses the 54 header bytes into the record's fields and runs the four
// header checks, in order. Returns the condition text of the first check that
// fails (nothing after it is parsed), or null when all pass.
const char* parseHeader(Bitmap* bmp, std::int32_t* storedHeight) {
  const std::uint8_t* header = bmp->rawHeader;
  const std::uint8_t* info = bmp->rawHeader + kFileHeaderBytes;
  bmp->signature = le16(header);
  if (bmp->signature != 0x4D42) return "bmp->signature == 0x4D42";
  bmp->fileSize = le32(header + 2);
  bmp->dataOffset = le32(header + 10);
  bmp->size = le32(info);
  if (bmp->size != 40) return "bmp->size==40";
  bmp->width = le32(info + 4);
  *storedHeight = le32(info + 8);
  bmp->planes = le16(info + 12);
  if (bmp->planes != 1) return "bmp->planes==1";
  bmp->bitsPerPixel = le16(info + 14);
  if (bmp->bitsPerPixel != 8) return "bmp->bitsPerPixel==8";
  bmp->compression = le32(info + 16);
  bmp->imageSize = le32(info + 20);
  bmp->xpixelsPerM = le32(info + 24);
  bmp->ypixelsPerM = le32(info + 28);
  bmp->colorsUsed = le32(info + 32);
  bmp->colorsImportant = le32(info + 36);
  return nullptr;
}

// Refuses what no sound transform follows from; sets `height` from the stored
// height (negative for a top-down file, whose rows stay in file order).
// Returns the failure message, or null when the geometry is acceptable.
const char* validateGeometry(Bitmap* bmp, std::int32_t storedHeight, std::uint64_t fileBytes) {
  if (bmp->compression != 0) return "Error: bmpLoad(), Compressed pixel data is not supported!\n";
  if (bmp->width <= 0) return "Error: bmpLoad(), Width must be at least 1!\n";
  if (storedHeight == 0) return "Error: bmpLoad(), Height must not be 0!\n";
  const std::int64_t rows = storedHeight < 0 ? -std::int64_t{storedHeight} : storedHeight;
  if (rows > kMaxRows) return "Error: bmpLoad(), Height beyond 65535 rows!\n";
  bmp->height = static_cast<std::uint16_t>(rows);
  if (rows * bmp->width > kMaxPixels) return "Error: bmpLoad(), Pixel count beyond 32 bits!\n";
  if (bmp->dataOffset < static_cast<std::int32_t>(kHeaderBytes) ||
      static_cast<std::uint64_t>(bmp->dataOffset) > fileBytes) {
    return "Error: bmpLoad(), Pixel data offset out of range!\n";
  }
  if (static_cast<std::uint64_t>(bmp->dataOffset) + pixelBlockBytes(bmp) > fileBytes) {
    return "Error: bmpLoad(), Pixel data beyond end of file!\n";
  }
  return nullptr;
}

// Ends a failed load: closes the file and releases every buffer the load took
// (the record's pixel buffer and the stride-padded block) before fatal(), so
// nothing is left behind should the failure be survived.
[[noreturn]] void failLoad(std::FILE* file, Bitmap* bmp, std::uint8_t* block, const char* message) {
  if (file != nullptr) std::fclose(file);
  releaseZeroed(block);
  releaseZeroed(bmp->data);
  bmp->data = nullptr;
  fatal(message);
}

}  // namespace

void bmpLoad(Bitmap* bmp, const char* path) {
  std::memset(bmp, 0, sizeof *bmp);
  std::FILE* file = dwt97::detail::openForReading(path);
  if (file == nullptr) fatal("Error: bmpLoad(), File open fail!\n");
  dwt97::detail::FileFacts facts;
  if (!dwt97::detail::fileFacts(file, &facts) || !facts.regular) {
    failLoad(file, bmp, nullptr, "Error: bmpLoad(), Not a regular file!\n");
  }
  const std::uint64_t fileBytes = facts.size;

  if (std::fread(bmp->rawHeader, 1, kFileHeaderBytes, file) != kFileHeaderBytes ||
      std::fread(bmp->rawHeader + kFileHeaderBytes, 1, kInfoHeaderBytes, file) !=
          kInfoHeaderBytes) {
    failLoad(file, bmp, nullptr, "Error: bmpLoad(), File too short for a bitmap header!\n");
  }
  std::int32_t storedHeight = 0;
  if (const char* condition = parseHeader(bmp, &storedHeight)) {
    char message[96];
    std::snprintf(message, sizeof message, "Error: bmpLoad(), Header check failed: %s\n",
                  condition);
    failLoad(file, bmp, nullptr, message);
  }
  if (const char* message = validateGeometry(bmp, storedHeight, fileBytes)) {
    failLoad(file, bmp, nullptr, message);
  }

  bmp->data = tryAllocateZeroed(pixelCount(bmp));
  if (bmp->data == nullptr) failLoad(file, bmp, nullptr, "Error: bmpLoad(), Out of memory!\n");
  if (rowStride(bmp) == static_cast<std::uint64_t>(bmp->width)) {
    if (!readPixelBlock(file, bmp, bmp->data)) {
      failLoad(file, bmp, nullptr, "Error: bmpLoad(), File read fail!\n");
    }
  } else {
    std::uint8_t* block = tryAllocateZeroed(pixelBlockBytes(bmp));
    if (block == nullptr) failLoad(file, bmp, nullptr, "Error: bmpLoad(), Out of memory!\n");
    if (!readPixelBlock(file, bmp, block)) {
      failLoad(file, bmp, block, "Error: bmpLoad(), File read fail!\n");
    }
    distributeRows(bmp, block, [bmp](std::size_t r) { return bmp->data + r * bmp->width; });
    releaseZeroed(block);
  }
  std::fclose(file);
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

void bmpReadPlane(const Bitmap* bmp, const char* path, SamplePlane plane) {
  const std::uint64_t blockBytes = pixelBlockBytes(bmp);
  std::uint8_t* block = allocateZeroed(blockBytes, "bmpReadPlane");
  std::FILE* file = dwt97::detail::openForReading(path);
  if (file == nullptr) {
    releaseZeroed(block);
    fatal("error!");
  }
  // The file may have changed since it was loaded: a short read is a failure.
  const bool read = readPixelBlock(file, bmp, block);
  std::fclose(file);
  if (!read) {
    releaseZeroed(block);
    fatal("Error: bmpReadPlane(), File read fail!\n");
  }
  distributeRows(bmp, block, [plane](std::size_t r) { return plane[r]; });
  releaseZeroed(block);
}

void bmpFlattenPlane(const Bitmap* bmp, const SamplePlane plane, std::uint8_t* flat) {
  const std::size_t width = static_cast<std::size_t>(bmp->width);
  for (std::size_t r = 0; r < bmp->height; ++r) std::memcpy(flat + r * width, plane[r], width);
}

void bmpSave(const Bitmap* bmp, const char* path, const std::uint8_t* flat) {
  // The bytes go to a temporary file beside `path` that replaces it in one
  // step once complete (see SaveFile).
  dwt97::detail::SaveFile save;
  if (!save.create(path)) fatal("Error: bmpSave(), File create fail!\n");
  if (!save.write(flat, pixelCount(bmp)) || !save.finish()) {
    save.abort();
    fatal("Error: bmpSave(), File write fail!\n");
  }
  if (!save.commit()) fatal("Error: bmpSave(), File create fail!\n");
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

PlaneBuffer planeAllocate(std::int32_t width, std::int32_t height, const char* who) {
  PlaneBuffer plane{};
  plane.width = width < 0 ? 0 : width;
  plane.height = height < 0 ? 0 : height;
  const std::size_t w = static_cast<std::size_t>(plane.width);
  const std::size_t h = static_cast<std::size_t>(plane.height);
  plane.block = allocateZeroed(w * h, who);
  unsigned char* rows = tryAllocateZeroed((h + 1) * sizeof(std::uint8_t*));
  if (rows == nullptr) {
    releaseZeroed(plane.block);
    fatalOutOfMemory(who);
  }
  plane.rows = reinterpret_cast<SamplePlane>(rows);
  for (std::size_t r = 0; r < h; ++r) plane.rows[r] = plane.block + r * w;
  return plane;
}

void planeRelease(PlaneBuffer* plane) {
  releaseZeroed(plane->block);
  releaseZeroed(reinterpret_cast<std::uint8_t*>(plane->rows));
  *plane = PlaneBuffer{};
}
