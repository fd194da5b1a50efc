// TIFF through libtiff, from the file's bytes in memory: the first image of
// the file, 8- or 16-bit unsigned samples, grey (min-is-black, or
// min-is-white, which is inverted) or RGB, in strips or tiles, with the
// samples of a pixel together or in planes of their own, under any
// compression the library was built with. Extra samples (alpha) are ignored,
// 16-bit samples keep their high byte and RGB becomes grey by luma(), as for
// PNG. The library's messages are never printed. Without the library
// (DWT97_WITH_TIFF unset) every TIFF is refused.
#include <cstring>

#include "core/allocator.h"
#include "picture/readers.h"

#if DWT97_WITH_TIFF
#include <cstdio>

#include <tiffio.h>
#endif

namespace dwt97::detail {

#if DWT97_WITH_TIFF

bool tiffBuilt() { return true; }

namespace {

// The file in memory, for the library's client I/O.
struct Memory {
  const std::uint8_t* bytes;
  std::size_t count;
  std::uint64_t at;
  int errors;  // the library's error reports so far
};

tmsize_t readMemory(thandle_t handle, void* to, tmsize_t size) {
  auto* memory = static_cast<Memory*>(handle);
  if (size < 0) return -1;
  const std::uint64_t left = memory->at < memory->count ? memory->count - memory->at : 0;
  const std::uint64_t n =
      static_cast<std::uint64_t>(size) < left ? static_cast<std::uint64_t>(size) : left;
  if (n > 0) std::memcpy(to, memory->bytes + memory->at, static_cast<std::size_t>(n));
  memory->at += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return -1; }

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
  auto* memory = static_cast<Memory*>(handle);
  // A backward move comes as a wrapped offset: unsigned sums undo the wrap.
  const std::uint64_t base = whence == SEEK_CUR   ? memory->at
                             : whence == SEEK_END ? memory->count
                                                  : 0;
  memory->at = base + offset;
  return memory->at;
}

int closeNothing(thandle_t) { return 0; }

toff_t sizeOfMemory(thandle_t handle) { return static_cast<Memory*>(handle)->count; }

// The bytes serve as the mapped file, so strips are read in place.
int mapMemory(thandle_t handle, void** base, toff_t* size) {
  auto* memory = static_cast<Memory*>(handle);
  *base = const_cast<std::uint8_t*>(memory->bytes);
  *size = memory->count;
  return 1;
}

void unmapNothing(thandle_t, void*, toff_t) {}

int countError(TIFF*, void* user, const char*, const char*, va_list) {
  ++static_cast<Memory*>(user)->errors;
  return 1;
}

int dropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Owns an open TIFF.
struct Handle {
  TIFF* tif = nullptr;
  ~Handle() {
    if (tif != nullptr) TIFFClose(tif);
  }
};

// Why a file the library cannot open fails: one whose first directory does
// not lie whole inside it is cut, anything else malformed.
Failure openFailure(const std::uint8_t* bytes, std::size_t count) {
  const bool little = bytes[0] == 'I';
  const bool big = (little ? bytes[2] : bytes[3]) == 43;  // BigTIFF
  // Classic: a 4-byte offset at 4, a 2-byte count of 12-byte entries;
  // BigTIFF: an 8-byte offset at 8, an 8-byte count of 20-byte entries.
  auto number = [&](std::uint64_t at, std::size_t width, std::uint64_t* value) {
    if (at > count || count - at < width) return false;
    *value = 0;
    for (std::size_t k = 0; k < width; ++k) {
      *value = *value << 8 | bytes[at + (little ? width - 1 - k : k)];
    }
    return true;
  };
  std::uint64_t offset = 0, entries = 0;
  if (!number(big ? 8 : 4, big ? 8 : 4, &offset) || !number(offset, big ? 8 : 2, &entries)) {
    return Failure::tiffTruncated;
  }
  const std::uint64_t size = (big ? 8 : 2) + entries * (big ? 20 : 12) + (big ? 8 : 4);
  return entries < (std::uint64_t{1} << 32) && size > count - offset ? Failure::tiffTruncated
                                                                     : Failure::tiffMalformed;
}

// What the directory says of the picture.
struct Layout {
  std::uint32_t width, height;
  std::uint16_t bytesPerSample;  // 1 or 2
  std::uint16_t samplesPerPixel;
  std::uint16_t channels;  // 1 (grey) or 3 (RGB): the samples read of a pixel
  bool inverted;           // min-is-white
  bool planar;             // a plane of its own per sample
  bool tiled;
  std::uint32_t unitWidth, unitHeight;  // a strip's or a tile's
  tmsize_t unitBytes;
};

std::optional<Failure> readLayout(TIFF* tif, Layout* layout) {
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 1, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
  std::uint16_t format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) ||
      !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
    return Failure::tiffMalformed;
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (width == 0 || height == 0 || samples == 0) return Failure::tiffMalformed;
  if (!pictureFits(width, height)) return Failure::tiffTooLarge;
  const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  const std::uint16_t channels = grey ? 1 : 3;
  if ((bits != 8 && bits != 16) || format != SAMPLEFORMAT_UINT ||
      (!grey && photometric != PHOTOMETRIC_RGB) || samples < channels ||
      !TIFFIsCODECConfigured(compression)) {
    return Failure::tiffUnsupported;
  }
  layout->width = width;
  layout->height = height;
  layout->bytesPerSample = static_cast<std::uint16_t>(bits / 8);
  layout->samplesPerPixel = samples;
  layout->channels = channels;
  layout->inverted = photometric == PHOTOMETRIC_MINISWHITE;
  layout->planar = planar == PLANARCONFIG_SEPARATE && samples > 1;
  layout->tiled = TIFFIsTiled(tif) != 0;
  if (layout->tiled) {
    if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &layout->unitWidth) ||
        !TIFFGetField(tif, TIFFTAG_TILELENGTH, &layout->unitHeight)) {
      return Failure::tiffMalformed;
    }
    layout->unitBytes = TIFFTileSize(tif);
  } else {
    std::uint32_t rows = height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
    layout->unitWidth = width;
    layout->unitHeight = rows < height ? rows : height;
    layout->unitBytes = TIFFStripSize(tif);
  }
  if (layout->unitWidth == 0 || layout->unitHeight == 0 || layout->unitBytes <= 0) {
    return Failure::tiffMalformed;
  }
  // A unit is decoded whole, so its buffer is bounded by the picture it
  // covers, not by what a small directory may claim: at most 8 bytes a pixel
  // (16-bit RGBA), and tiles no larger than the picture padded to 16 unless
  // within 4096 a side.
  const std::uint64_t perPixel = layout->planar ? 1 : samples;
  const auto tileFits = [](std::uint32_t side, std::uint32_t picture) {
    return side <= 4096 || side <= (std::uint64_t{picture} + 15) / 16 * 16;
  };
  if (perPixel * layout->bytesPerSample > 8 ||
      (layout->tiled &&
       (!tileFits(layout->unitWidth, width) || !tileFits(layout->unitHeight, height)))) {
    return Failure::tiffUnsupported;
  }
  const std::uint64_t needed =
      std::uint64_t{layout->unitWidth} * layout->unitHeight * perPixel * layout->bytesPerSample;
  if (static_cast<std::uint64_t>(layout->unitBytes) < needed) return Failure::tiffMalformed;
  return std::nullopt;
}

// Decodes the strips or tiles one by one, each straight into the grey rows,
// a row of units (a strip, or a row of tiles, in every plane) after the
// other: once one is done its rows are final, and told.
class Decoder {
 public:
  Decoder(TIFF* tif, const Layout& layout, Memory* memory, Bitmap* bmp, RowsTeller* teller)
      : tif_(tif), layout_(layout), memory_(memory), bmp_(bmp), teller_(teller) {}
  ~Decoder() {
    for (std::uint8_t* buffer : buffers_) releaseZeroed(buffer);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  std::optional<Failure> run() {
    const std::size_t planes = layout_.planar ? layout_.channels : 1;
    for (std::size_t p = 0; p < planes; ++p) {
      if (auto failure =
              allocateZeroed(static_cast<std::size_t>(layout_.unitBytes), &buffers_[p])) {
        return failure;
      }
    }
    for (std::uint32_t y = 0; y < layout_.height; y += layout_.unitHeight) {
      for (std::uint32_t x = 0; x < layout_.width; x += layout_.unitWidth) {
        for (std::size_t p = 0; p < planes; ++p) {
          if (auto failure = decodeUnit(x, y, static_cast<std::uint16_t>(p), buffers_[p])) {
            return failure;
          }
        }
        convert(x, y);
      }
      teller_->rows(layout_.height - y < layout_.unitHeight ? layout_.height
                                                            : y + layout_.unitHeight);
    }
    return std::nullopt;
  }

 private:
  std::optional<Failure> decodeUnit(std::uint32_t x, std::uint32_t y, std::uint16_t plane,
                                    std::uint8_t* buffer) {
    const std::uint32_t unit =
        layout_.tiled ? TIFFComputeTile(tif_, x, y, 0, plane) : TIFFComputeStrip(tif_, y, plane);
    // Data that the directory places past the end of the file is cut.
    int error = 0;
    const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif_, unit, &error);
    const std::uint64_t length = TIFFGetStrileByteCountWithErr(tif_, unit, &error);
    if (error != 0) return Failure::tiffMalformed;
    if (offset > memory_->count || length > memory_->count - offset) return Failure::tiffTruncated;
    // A strip may end with the picture; the rows it holds must all be there.
    const std::uint32_t rows =
        layout_.height - y < layout_.unitHeight ? layout_.height - y : layout_.unitHeight;
    const tmsize_t needed =
        layout_.tiled ? layout_.unitBytes
                      : static_cast<tmsize_t>(layout_.unitBytes / layout_.unitHeight * rows);
    const tmsize_t got = layout_.tiled
                             ? TIFFReadEncodedTile(tif_, unit, buffer, layout_.unitBytes)
                             : TIFFReadEncodedStrip(tif_, unit, buffer, layout_.unitBytes);
    if (got < needed || memory_->errors != 0) return Failure::tiffMalformed;
    return std::nullopt;
  }

  // Sample `channel` of the pixel at `index` within the unit, as 8 bits.
  std::uint32_t sample(std::size_t index, std::size_t channel) const {
    const std::uint8_t* buffer = buffers_[layout_.planar ? channel : 0];
    const std::size_t at = layout_.planar ? index : index * layout_.samplesPerPixel + channel;
    if (layout_.bytesPerSample == 1) return buffer[at];
    std::uint16_t wide;  // in the machine's byte order, as the library leaves it
    std::memcpy(&wide, buffer + 2 * at, 2);
    return wide >> 8u;
  }

  void convert(std::uint32_t x, std::uint32_t y) {
    const std::uint32_t rows =
        layout_.height - y < layout_.unitHeight ? layout_.height - y : layout_.unitHeight;
    const std::uint32_t columns =
        layout_.width - x < layout_.unitWidth ? layout_.width - x : layout_.unitWidth;
    for (std::uint32_t r = 0; r < rows; ++r) {
      std::uint8_t* out = bmp_->data + (std::size_t{y} + r) * layout_.width + x;
      const std::size_t first = std::size_t{r} * layout_.unitWidth;
      for (std::uint32_t c = 0; c < columns; ++c) {
        const std::size_t index = first + c;
        if (layout_.channels == 3) {
          out[c] = luma(sample(index, 0), sample(index, 1), sample(index, 2));
        } else {
          const std::uint32_t v = sample(index, 0);
          out[c] = static_cast<std::uint8_t>(layout_.inverted ? 255 - v : v);
        }
      }
    }
  }

  TIFF* tif_;
  const Layout& layout_;
  Memory* memory_;
  Bitmap* bmp_;
  RowsTeller* teller_;
  std::uint8_t* buffers_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace

std::optional<Failure> tiffLoad(Bitmap* bmp, const std::uint8_t* bytes, std::size_t count,
                                RowsTeller* teller) {
  std::memset(bmp, 0, sizeof *bmp);
  if (count < 8) return Failure::tiffTruncated;
  Memory memory{bytes, count, 0, 0};
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return Failure::outOfMemory;
  TIFFOpenOptionsSetErrorHandlerExtR(options, countError, &memory);
  TIFFOpenOptionsSetWarningHandlerExtR(options, dropWarning, nullptr);
  Handle handle;
  handle.tif = TIFFClientOpenExt("picture", "r", &memory, readMemory, writeNothing, seekMemory,
                                 closeNothing, sizeOfMemory, mapMemory, unmapNothing, options);
  TIFFOpenOptionsFree(options);
  if (handle.tif == nullptr) return openFailure(bytes, count);
  Layout layout{};
  if (auto failure = readLayout(handle.tif, &layout)) return failure;
  // Complaints about the directory that the library got over do not count;
  // any from here on does.
  memory.errors = 0;
  if (auto failure = startPicture(bmp, layout.width, layout.height, teller)) return failure;
  std::optional<Failure> failure = Decoder(handle.tif, layout, &memory, bmp, teller).run();
  if (failure) teller->abandon(bmp);
  return failure;
}

#else  // no TIFF library

bool tiffBuilt() { return false; }

std::optional<Failure> tiffLoad(Bitmap* bmp, const std::uint8_t*, std::size_t, RowsTeller*) {
  std::memset(bmp, 0, sizeof *bmp);
  return Failure::tiffNotBuilt;
}

#endif

}  // namespace dwt97::detail
