// Loading bitmaps from files and from bytes, with every check of their
// headers, and reading their pixels into planes: the operations of
// namespace dwt97 return the failure, their process-ending namesakes report
// it.
#include "dwt97/bitmap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "bitmap/rows.h"
#include "core/allocator.h"
#include "core/report.h"
#include "platform/platform.h"

using dwt97::Error;
using dwt97::Failure;
using dwt97::detail::allocateZeroed;
using dwt97::detail::named;
using dwt97::detail::releaseZeroed;

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::size_t kHeaderBytes = kFileHeaderBytes + kInfoHeaderBytes;

// Little-endian values assembled byte by byte, independent of the machine.
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

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

// Whom a read tells of the rows in place, if anyone: rowsRead(context, rows)
// once rows [0, rows) are.
struct Told {
  void (*rowsRead)(void* context, std::uint32_t rows) = nullptr;
  void* context = nullptr;

  void tell(std::size_t rows) const {
    if (rowsRead != nullptr) rowsRead(context, static_cast<std::uint32_t>(rows));
  }
};

// Rows read straight into place per piece when they are told of: at most
// this many bytes of them (but always one row).
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

// Reads the pixel block (stride-padded rows) at `dataOffset` into rows[r],
// `width` bytes each: straight into place when the rows are unpadded and lie
// one after the other (in one read, or in pieces of whole rows of about
// kPieceBytes when they are told of), otherwise in chunks of whole rows
// through a buffer of at most about kChunkBytes. `told` hears of the rows
// after each piece, chunk or row.
ReadResult readRows(std::FILE* file, const Bitmap* bmp, const std::uint8_t* const* rows,
                    const Told& told) {
  if (std::fseek(file, bmp->dataOffset, SEEK_SET) != 0) return ReadResult::shortFile;
  const std::uint64_t stride = rowStride(bmp);
  const std::size_t width = static_cast<std::size_t>(bmp->width);
  if (stride == width && contiguous(bmp, rows)) {
    const std::size_t pieceRows =
        told.rowsRead == nullptr ? bmp->height : std::max<std::size_t>(1, kPieceBytes / width);
    for (std::size_t r0 = 0; r0 < bmp->height; r0 += pieceRows) {
      const std::size_t count = std::min<std::size_t>(pieceRows, bmp->height - r0);
      const std::size_t bytes = count * width;
      if (std::fread(const_cast<std::uint8_t*>(rows[r0]), 1, bytes, file) != bytes) {
        return ReadResult::shortFile;
      }
      told.tell(r0 + count);
    }
    return ReadResult::done;
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
      told.tell(r + 1);
    }
    return ReadResult::done;
  }
  const std::uint64_t chunkRows = std::max<std::uint64_t>(1, kChunkBytes / stride);
  std::uint8_t* chunk = nullptr;
  if (allocateZeroed(
          static_cast<std::size_t>(std::min<std::uint64_t>(chunkRows, bmp->height) * stride),
          &chunk)) {
    return ReadResult::outOfMemory;
  }
  for (std::size_t r0 = 0; r0 < bmp->height; r0 += chunkRows) {
    const std::size_t count = std::min<std::size_t>(chunkRows, bmp->height - r0);
    // The last row's padding may be missing from the file.
    const std::size_t bytes = (count - 1) * stride + (r0 + count == bmp->height ? width : stride);
    if (std::fread(chunk, 1, bytes, file) != bytes) {
      releaseZeroed(chunk);
      return ReadResult::shortFile;
    }
    for (std::size_t k = 0; k < count; ++k) {
      std::memcpy(const_cast<std::uint8_t*>(rows[r0 + k]), chunk + k * stride, width);
    }
    told.tell(r0 + count);
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
std::optional<Failure> validateGeometry(Bitmap* bmp, std::int32_t storedHeight,
                                        std::uint64_t fileBytes) {
  if (bmp->compression != 0) return Failure::loadCompressed;
  if (bmp->width <= 0) return Failure::loadWidth;
  if (storedHeight == 0) return Failure::loadHeightZero;
  const std::int64_t rows = storedHeight < 0 ? -std::int64_t{storedHeight} : storedHeight;
  if (rows > dwt97::kMaxHeight) return Failure::loadHeightTooLarge;
  bmp->height = static_cast<std::uint16_t>(rows);
  bmp->topDown = storedHeight < 0;
  if (rows * bmp->width > dwt97::kMaxPixels) return Failure::loadPixelCount;
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

namespace {

std::optional<Failure> load(Bitmap* bmp, const char* path) {
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

  if (allocateZeroed(dwt97::pixelCount(bmp), &bmp->data)) {
    return failedLoad(file, bmp, Failure::outOfMemory);
  }
  // The rows of the pixel buffer, for the read to fill.
  std::uint8_t** rows = nullptr;
  if (allocateZeroed(bmp->height, &rows)) return failedLoad(file, bmp, Failure::outOfMemory);
  dwt97::planeRowsOver(rows, bmp->data, bmp->height, bmp->width);
  const ReadResult read = readRows(file, bmp, rows, Told{});
  releaseZeroed(rows);
  if (read == ReadResult::outOfMemory) return failedLoad(file, bmp, Failure::outOfMemory);
  if (read == ReadResult::shortFile) return failedLoad(file, bmp, Failure::loadRead);
  std::fclose(file);
  return std::nullopt;
}

// Rows copied from bytes per piece, between the tellings: at most this many
// bytes of them (but always one row).
constexpr std::size_t kCopyPieceBytes = std::size_t{1} << 18;

std::optional<Failure> parse(Bitmap* bmp, const std::uint8_t* bytes, std::size_t size,
                             const dwt97::detail::BitmapRowsTold& told,
                             std::optional<Error>* refusal) {
  std::memset(bmp, 0, sizeof *bmp);
  if (size < kHeaderBytes) return Failure::loadShortHeader;
  std::memcpy(bmp->rawHeader, bytes, kHeaderBytes);
  if (const std::optional<Failure> failure = checkHeader(bmp, size)) {
    return failedLoad(nullptr, bmp, *failure);
  }
  if (allocateZeroed(dwt97::pixelCount(bmp), &bmp->data)) {
    return failedLoad(nullptr, bmp, Failure::outOfMemory);
  }
  if (told.started != nullptr) {
    if ((*refusal = told.started(told.context, bmp))) {
      return failedLoad(nullptr, bmp, (*refusal)->failure);
    }
  }
  // The checks above keep every row, padding aside, inside the bytes.
  const std::size_t width = static_cast<std::size_t>(bmp->width);
  const std::size_t stride = static_cast<std::size_t>(rowStride(bmp));
  const std::uint8_t* pixels = bytes + bmp->dataOffset;
  const std::size_t pieceRows =
      told.rowsRead == nullptr ? bmp->height : std::max<std::size_t>(1, kCopyPieceBytes / width);
  for (std::size_t r0 = 0; r0 < bmp->height; r0 += pieceRows) {
    const std::size_t end = std::min<std::size_t>(r0 + pieceRows, bmp->height);
    for (std::size_t r = r0; r < end; ++r) {
      std::memcpy(bmp->data + r * width, pixels + r * stride, width);
    }
    if (told.rowsRead != nullptr) told.rowsRead(told.context, static_cast<std::uint32_t>(end));
  }
  return std::nullopt;
}

std::optional<Failure> readPlane(const Bitmap* bmp, const char* path, SamplePlane plane,
                                 const Told& told) {
  std::FILE* file = dwt97::detail::openForReading(path);
  if (file == nullptr) return Failure::readPlaneOpen;
  // The file may have changed since it was loaded: a short read is a failure.
  const ReadResult read = readRows(file, bmp, plane, told);
  std::fclose(file);
  if (read == ReadResult::outOfMemory) return Failure::outOfMemory;
  if (read == ReadResult::shortFile) return Failure::readPlaneRead;
  return std::nullopt;
}

}  // namespace

std::optional<Error> dwt97::bmpLoad(Bitmap* bmp, const char* path) {
  return named(load(bmp, path), "bmpLoad");
}

std::optional<Error> dwt97::bmpParse(Bitmap* bmp, const std::uint8_t* bytes, std::size_t size) {
  return detail::bmpParseTelling(bmp, bytes, size, detail::BitmapRowsTold{});
}

std::optional<Error> dwt97::detail::bmpParseTelling(Bitmap* bmp, const std::uint8_t* bytes,
                                                    std::size_t size, const BitmapRowsTold& told) {
  std::optional<Error> refusal;
  const std::optional<Failure> failure = parse(bmp, bytes, size, told, &refusal);
  if (refusal) return refusal;
  return named(failure, "bmpLoad");
}

std::optional<Error> dwt97::bmpReadPlane(const Bitmap* bmp, const char* path, SamplePlane plane) {
  return named(readPlane(bmp, path, plane, Told{}), "bmpReadPlane");
}

std::optional<Error> dwt97::bmpReadPlane(const Bitmap* bmp, const char* path, SamplePlane plane,
                                         void (*rowsRead)(void* context, std::uint32_t rows),
                                         void* context) {
  return named(readPlane(bmp, path, plane, Told{rowsRead, context}), "bmpReadPlane");
}

void bmpLoad(Bitmap* bmp, const char* path) { dwt97::detail::report(dwt97::bmpLoad(bmp, path)); }

void bmpRelease(Bitmap* bmp) {
  releaseZeroed(bmp->data);
  bmp->data = nullptr;
}

void bmpReadPlane(const Bitmap* bmp, const char* path, SamplePlane plane) {
  dwt97::detail::report(dwt97::bmpReadPlane(bmp, path, plane));
}

void bmpFlattenPlane(const Bitmap* bmp, const std::uint8_t* const* plane, std::uint8_t* flat) {
  const std::size_t width = static_cast<std::size_t>(bmp->width);
  for (std::size_t r = 0; r < bmp->height; ++r) std::memcpy(flat + r * width, plane[r], width);
}
