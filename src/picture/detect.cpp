// Pictures of every format: telling the format by the first bytes, the
// record every reader fills, the dispatch to the readers from memory and
// from files (a bitmap goes to the bitmap loader), and the report.
#include "dwt97/picture.h"

#include <cstdio>
#include <cstring>

#include "bitmap/rows.h"
#include "core/allocator.h"
#include "core/report.h"
#include "picture/readers.h"
#include "platform/platform.h"

namespace dwt97 {
namespace detail {
namespace {

void putLe16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(std::uint8_t* at, std::uint32_t value) {
  putLe16(at, value & 0xFFFF);
  putLe16(at + 2, value >> 16);
}

}  // namespace

std::optional<Failure> startPicture(Bitmap* bmp, std::uint32_t width, std::uint32_t height,
                                    RowsTeller* teller) {
  std::memset(bmp, 0, sizeof *bmp);
  // The header of the equivalent top-down bitmap: a negative stored height
  // tells the savers that row 0 is the top row. Sizes and offsets describe a
  // file that does not exist and stay 0.
  std::uint8_t* header = bmp->rawHeader;
  header[0] = 'B';
  header[1] = 'M';
  std::uint8_t* info = header + 14;
  putLe32(info, 40);
  putLe32(info + 4, width);
  putLe32(info + 8, 0u - height);
  putLe16(info + 12, 1);
  putLe16(info + 14, 8);
  bmp->signature = 0x4D42;
  bmp->size = 40;
  bmp->width = static_cast<std::int32_t>(width);
  bmp->height = static_cast<std::uint16_t>(height);
  bmp->planes = 1;
  bmp->bitsPerPixel = 8;
  bmp->topDown = true;
  if (auto failure = allocateZeroed(static_cast<std::size_t>(width) * height, &bmp->data)) {
    return failure;
  }
  if (auto failure = teller->start(bmp)) {
    teller->abandon(bmp);
    return failure;
  }
  return std::nullopt;
}

}  // namespace detail

namespace {

bool startsWith(const std::uint8_t* bytes, std::size_t count, std::size_t at, const char* text,
                std::size_t length) {
  return count >= at + length && std::memcmp(bytes + at, text, length) == 0;
}

// The formats known by their signatures but not read, with the refusal that
// names each. A signature is `length` bytes at `at` (an ISO media file's
// brand is the four bytes after "ftyp").
struct Signature {
  std::size_t at;
  const char* text;
  std::size_t length;
  Failure failure;
};
const Signature kUnread[] = {
    {0, "GIF87a", 6, Failure::gifNotSupported},
    {0, "GIF89a", 6, Failure::gifNotSupported},
    {8, "WEBP", 4, Failure::webpNotSupported},  // after "RIFF" and a size, checked below
    {0, "P7", 2, Failure::pamNotSupported},
    {0, "P1", 2, Failure::pbmNotSupported},
    {0, "P4", 2, Failure::pbmNotSupported},
    {0, "\0\0\0\x0CjP  \r\n\x87\n", 12, Failure::jpeg2000NotSupported},
    {0, "\xFF\x4F\xFF\x51", 4, Failure::jpeg2000NotSupported},
    {0, "\0\0\0\x0CJXL \r\n\x87\n", 12, Failure::jpegXlNotSupported},
    {0, "\xFF\x0A", 2, Failure::jpegXlNotSupported},
    {8, "heic", 4, Failure::heifNotSupported},  // after a size and "ftyp", checked below
    {8, "heix", 4, Failure::heifNotSupported},
    {8, "mif1", 4, Failure::heifNotSupported},
    {8, "msf1", 4, Failure::heifNotSupported},
    {8, "avif", 4, Failure::heifNotSupported},
    {8, "avis", 4, Failure::heifNotSupported},
    {0, "8BPS", 4, Failure::psdNotSupported},
};

const Signature* unreadSignature(const std::uint8_t* bytes, std::size_t count) {
  const bool riff = startsWith(bytes, count, 0, "RIFF", 4);
  const bool isoMedia = startsWith(bytes, count, 4, "ftyp", 4);
  for (const Signature& signature : kUnread) {
    if (signature.failure == Failure::webpNotSupported && !riff) continue;
    if (signature.failure == Failure::heifNotSupported && !isoMedia) continue;
    if (startsWith(bytes, count, signature.at, signature.text, signature.length)) {
      return &signature;
    }
  }
  return nullptr;
}

}  // namespace

namespace detail {

Failure unreadFormatFailure(const std::uint8_t* bytes, std::size_t count) {
  const Signature* signature = unreadSignature(bytes, count);
  return signature != nullptr ? signature->failure : Failure::loadSignature;
}

}  // namespace detail

PictureFormat detectPicture(const std::uint8_t* bytes, std::size_t count) {
  static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (count >= 8 && std::memcmp(bytes, kPng, 8) == 0) return PictureFormat::png;
  if (count >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
    return PictureFormat::jpeg;
  }
  if (count >= 2 && bytes[0] == 'P' && (bytes[1] == '5' || bytes[1] == '2')) {
    return PictureFormat::pgm;
  }
  if (count >= 2 && bytes[0] == 'P' && (bytes[1] == '6' || bytes[1] == '3')) {
    return PictureFormat::ppm;
  }
  // Classic TIFF (42) and BigTIFF (43), in either byte order.
  if (startsWith(bytes, count, 0, "II*\0", 4) || startsWith(bytes, count, 0, "MM\0*", 4) ||
      startsWith(bytes, count, 0, "II+\0", 4) || startsWith(bytes, count, 0, "MM\0+", 4)) {
    return PictureFormat::tiff;
  }
  if (unreadSignature(bytes, count) != nullptr) return PictureFormat::other;
  return PictureFormat::bmp;
}

const char* pictureLoadOperation(PictureFormat format) {
  switch (format) {
    case PictureFormat::pgm:
      return "pgmLoad";
    case PictureFormat::ppm:
      return "ppmLoad";
    case PictureFormat::png:
      return "pngLoad";
    case PictureFormat::jpeg:
      return "jpegLoad";
    case PictureFormat::tiff:
      return "tiffLoad";
    case PictureFormat::bmp:
    case PictureFormat::other:
      break;
  }
  return "bmpLoad";
}

namespace {

// Opens `path` for a look at its first bytes, which it must have as a
// regular file: a pipe's bytes would be gone once looked at. The file is
// left open at `*file` after them, their facts in `*facts`.
std::optional<Failure> openAndLook(const char* path, std::FILE** file, detail::FileFacts* facts,
                                   std::uint8_t (&first)[16], std::size_t* peeked) {
  *file = detail::openForReading(path);
  if (*file == nullptr) return Failure::loadOpen;
  if (!detail::fileFacts(*file, facts) || !facts->regular) {
    std::fclose(*file);
    *file = nullptr;
    return Failure::loadNotRegularFile;
  }
  *peeked = std::fread(first, 1, sizeof first, *file);
  if (std::ferror(*file)) {
    std::fclose(*file);
    *file = nullptr;
    return Failure::loadRead;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Error> detectPictureFile(const char* path, PictureFormat* format) {
  *format = PictureFormat::bmp;
  std::FILE* file = nullptr;
  detail::FileFacts facts;
  std::uint8_t first[16] = {};
  std::size_t peeked = 0;
  if (const auto failure = openAndLook(path, &file, &facts, first, &peeked)) {
    return detail::named(failure, "bmpLoad");
  }
  std::fclose(file);
  *format = detectPicture(first, peeked);
  return std::nullopt;
}

bool canReadPicture(PictureFormat format) {
  switch (format) {
    case PictureFormat::png:
      return detail::pngBuilt();
    case PictureFormat::jpeg:
      return detail::jpegBuilt();
    case PictureFormat::tiff:
      return detail::tiffBuilt();
    case PictureFormat::other:
      return false;
    default:
      return true;
  }
}

bool canWritePng() { return detail::pngBuilt(); }

namespace {

// The reader of `format` over the bytes of a whole file (not bmp).
std::optional<Failure> read(PictureFormat format, Bitmap* bmp, const std::uint8_t* bytes,
                            std::size_t count, detail::RowsTeller* teller) {
  switch (format) {
    case PictureFormat::pgm:
    case PictureFormat::ppm:
      return detail::netpbmLoad(bmp, bytes, count, teller);
    case PictureFormat::png:
      return detail::pngLoad(bmp, bytes, count, teller);
    case PictureFormat::jpeg:
      return detail::jpegLoad(bmp, bytes, count, teller);
    case PictureFormat::tiff:
      return detail::tiffLoad(bmp, bytes, count, teller);
    case PictureFormat::other:
    case PictureFormat::bmp:
      break;
  }
  return detail::unreadFormatFailure(bytes, count);
}

// The result of a read: started()'s own refusal as is, or the failure named
// after the format's reader.
std::optional<Error> result(const detail::RowsTeller& teller, std::optional<Failure> failure,
                            const char* operation) {
  if (teller.refusal()) return teller.refusal();
  return detail::named(failure, operation);
}

// The observer's functions as the bitmap parse calls them.
detail::BitmapRowsTold toldOf(const PictureRowsObserver& observer) {
  return detail::BitmapRowsTold{observer.started, observer.rowsRead, observer.context};
}

}  // namespace

std::optional<Error> parsePicture(Bitmap* bmp, PictureFormat* format, const std::uint8_t* bytes,
                                  std::size_t count) {
  return parsePicture(bmp, format, bytes, count, PictureRowsObserver{});
}

std::optional<Error> parsePicture(Bitmap* bmp, PictureFormat* format, const std::uint8_t* bytes,
                                  std::size_t count, const PictureRowsObserver& observer) {
  std::memset(bmp, 0, sizeof *bmp);
  *format = detectPicture(bytes, count);
  if (*format == PictureFormat::bmp) {
    return detail::bmpParseTelling(bmp, bytes, count, toldOf(observer));
  }
  detail::RowsTeller teller(observer);
  const std::optional<Failure> failure = read(*format, bmp, bytes, count, &teller);
  return result(teller, failure, pictureLoadOperation(*format));
}

std::optional<Error> loadPicture(Bitmap* bmp, PictureFormat* format, const char* path) {
  return loadPicture(bmp, format, path, PictureRowsObserver{});
}

namespace {

// A bitmap file, loaded whole by its own loader, then told of: started, and
// all its rows at once.
std::optional<Error> loadBitmap(Bitmap* bmp, const char* path,
                                const PictureRowsObserver& observer) {
  if (auto error = dwt97::bmpLoad(bmp, path)) return error;
  detail::RowsTeller teller(observer);
  if (teller.start(bmp)) {
    teller.abandon(bmp);
    return teller.refusal();
  }
  teller.rows(bmp->height);
  return std::nullopt;
}

}  // namespace

std::optional<Error> loadPicture(Bitmap* bmp, PictureFormat* format, const char* path,
                                 const PictureRowsObserver& observer) {
  std::memset(bmp, 0, sizeof *bmp);
  *format = PictureFormat::bmp;
  std::FILE* file = nullptr;
  detail::FileFacts facts;
  std::uint8_t first[16] = {};
  std::size_t peeked = 0;
  if (const auto failure = openAndLook(path, &file, &facts, first, &peeked)) {
    return detail::named(failure, "bmpLoad");
  }
  // A bitmap is read by its own loader, straight from the file; a format
  // that is not read is named from its first bytes alone; only the others
  // are parsed from the bytes in memory (a JPEG's as they are read).
  *format = detectPicture(first, peeked);
  const char* operation = pictureLoadOperation(*format);
  std::optional<Failure> failure;
  if (*format == PictureFormat::bmp || *format == PictureFormat::other) {
    std::fclose(file);
    if (*format == PictureFormat::bmp) return loadBitmap(bmp, path, observer);
    return detail::named(detail::unreadFormatFailure(first, peeked), operation);
  }
  if (facts.size > SIZE_MAX) failure = Failure::outOfMemory;
  if (!failure && std::fseek(file, 0, SEEK_SET) != 0) failure = Failure::loadRead;
  // A JPEG's decoder reads the file as it goes: its bytes are never held
  // whole beside the picture.
  if (!failure && *format == PictureFormat::jpeg) {
    detail::RowsTeller teller(observer);
    failure = detail::jpegLoadFile(bmp, file, &teller);
    std::fclose(file);
    return result(teller, failure, operation);
  }
  const std::size_t size = static_cast<std::size_t>(facts.size);
  std::uint8_t* bytes = nullptr;
  if (!failure) failure = detail::allocateZeroed(size, &bytes);
  if (!failure && std::fread(bytes, 1, size, file) != size) failure = Failure::loadRead;
  std::fclose(file);
  detail::RowsTeller teller(observer);
  if (!failure) failure = read(*format, bmp, bytes, size, &teller);
  detail::releaseZeroed(bytes);
  return result(teller, failure, operation);
}

void printPicture(const Bitmap* bmp, PictureFormat format) {
  const char* name = format == PictureFormat::png    ? "PNG"
                     : format == PictureFormat::jpeg ? "JPEG"
                     : format == PictureFormat::pgm  ? "PGM"
                     : format == PictureFormat::ppm  ? "PPM"
                     : format == PictureFormat::tiff ? "TIFF"
                                                     : "BMP";
  std::printf("==== Picture ===\n");
  std::printf("Format = %s \n", name);
  std::printf("Width = %ld \n", static_cast<long>(bmp->width));
  std::printf("Height = %ld \n", static_cast<long>(bmp->height));
}

}  // namespace dwt97
