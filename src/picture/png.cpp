// The PNG reader, through libspng: every colour type and bit depth becomes
// 8-bit grey, from the critical chunks alone. Without the library
// (DWT97_WITH_PNG unset) every PNG is refused.
#include <cstdlib>
#include <cstring>

#include "core/allocator.h"
#include "core/report.h"
#include "dwt97/picture.h"
#include "picture/readers.h"
#include "platform/platform.h"

#if DWT97_WITH_PNG
#include <spng.h>
#endif

namespace dwt97::detail {

#if DWT97_WITH_PNG

bool pngBuilt() { return true; }

namespace {

// Owns a libspng context.
struct Context {
  spng_ctx* ctx;
  explicit Context(int flags) : ctx(spng_ctx_new(flags)) {}
  ~Context() { spng_ctx_free(ctx); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
};

Failure readFailure(int error) {
  if (error == SPNG_EMEM) return Failure::outOfMemory;
  if (error == SPNG_IO_EOF || error == SPNG_EOF || error == SPNG_EIDAT_TOO_SHORT) {
    return Failure::pngTruncated;
  }
  return Failure::pngMalformed;
}

// The passes of Adam7 interlacing: first column and column step of each
// pass (the decoder tells the row). Pass 0 of a plain file takes every
// column.
constexpr std::uint32_t kFirstColumn[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr std::uint32_t kColumnStep[7] = {8, 8, 4, 4, 2, 2, 1};

// How the samples of one decoded scanline become grey bytes.
struct Converter {
  std::uint8_t colorType;
  std::uint8_t depth;
  std::uint8_t paletteGrey[256];
  std::uint32_t paletteEntries = 0;

  // The scanline's samples are big-endian and packed as in the file.
  // Returns false on a palette index the palette does not hold.
  bool convert(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out, std::uint32_t first,
               std::uint32_t step) const {
    const std::uint32_t bytesPerSample = depth == 16 ? 2 : 1;
    switch (colorType) {
      case SPNG_COLOR_TYPE_GRAYSCALE:
      case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: {
        const std::uint32_t stride =
            (colorType == SPNG_COLOR_TYPE_GRAYSCALE ? 1 : 2) * bytesPerSample;
        if (depth >= 8) {
          for (std::uint32_t k = 0; k < count; ++k) out[first + k * step] = in[k * stride];
        } else {
          // 1, 2 or 4 bits: v * 255 / (2^depth - 1), bit patterns repeated.
          const std::uint32_t mask = (1u << depth) - 1, scale = 255 / mask;
          for (std::uint32_t k = 0; k < count; ++k) {
            const std::uint32_t bit = k * depth;
            const std::uint32_t v = (in[bit / 8] >> (8 - depth - bit % 8)) & mask;
            out[first + k * step] = static_cast<std::uint8_t>(v * scale);
          }
        }
        return true;
      }
      case SPNG_COLOR_TYPE_TRUECOLOR:
      case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: {
        const std::uint32_t stride =
            (colorType == SPNG_COLOR_TYPE_TRUECOLOR ? 3 : 4) * bytesPerSample;
        for (std::uint32_t k = 0; k < count; ++k) {
          const std::uint8_t* p = in + k * stride;
          out[first + k * step] = luma(p[0], p[bytesPerSample], p[2 * bytesPerSample]);
        }
        return true;
      }
      case SPNG_COLOR_TYPE_INDEXED: {
        for (std::uint32_t k = 0; k < count; ++k) {
          const std::uint32_t bit = k * depth;
          const std::uint32_t index =
              depth == 8 ? in[k] : (in[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
          if (index >= paletteEntries) return false;
          out[first + k * step] = paletteGrey[index];
        }
        return true;
      }
      default:
        return false;
    }
  }
};

std::uint32_t channels(std::uint8_t colorType) {
  switch (colorType) {
    case SPNG_COLOR_TYPE_TRUECOLOR:
      return 3;
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
      return 2;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
      return 4;
    default:
      return 1;
  }
}

// Decodes the scanlines one by one into the record's rows; the progressive
// decode and the picture must have been started.
// Each scanline of a plain file is told as it is done; an interlaced file's
// rows are final only after the last pass, at the end.
std::optional<Failure> decodeRows(spng_ctx* ctx, const spng_ihdr& ihdr, const Converter& to,
                                  Bitmap* bmp, RowsTeller* teller) {
  const std::size_t width = ihdr.width;
  const bool direct = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE && ihdr.bit_depth == 8 &&
                      ihdr.interlace_method == SPNG_INTERLACE_NONE;
  int error = 0;
  // A full row of samples as the file packs them.
  const std::size_t rowBytes =
      (static_cast<std::uint64_t>(width) * channels(ihdr.color_type) * ihdr.bit_depth + 7) / 8;
  std::uint8_t* scanline = nullptr;
  if (!direct) {
    if (auto failure = allocateZeroed(rowBytes, &scanline)) return failure;
  }
  std::optional<Failure> failure;
  for (;;) {
    spng_row_info row;
    error = spng_get_row_info(ctx, &row);
    if (error != 0) break;
    std::uint8_t* out = bmp->data + static_cast<std::size_t>(row.row_num) * width;
    error = spng_decode_scanline(ctx, direct ? out : scanline, direct ? width : rowBytes);
    if (error != 0 && error != SPNG_EOI) break;
    if (!direct) {
      const int pass = ihdr.interlace_method == SPNG_INTERLACE_NONE ? 6 : row.pass;
      const std::uint32_t first = kFirstColumn[pass], step = kColumnStep[pass];
      const std::uint32_t count = ihdr.width > first ? (ihdr.width - first + step - 1) / step : 0;
      if (!to.convert(scanline, count, out, first, step)) {
        failure = Failure::pngMalformed;
        break;
      }
    }
    if (ihdr.interlace_method == SPNG_INTERLACE_NONE) teller->rows(row.row_num + 1);
    if (error == SPNG_EOI) break;
  }
  releaseZeroed(scanline);
  if (failure) return failure;
  if (error != SPNG_EOI) return readFailure(error);
  teller->rows(ihdr.height);
  // The chunks after the image, up to the end: a file cut there is cut.
  error = spng_decode_chunks(ctx);
  if (error != 0) return readFailure(error);
  return std::nullopt;
}

// The file as the decoder sees it: the signature and the critical chunks
// (IHDR, PLTE, IDAT, IEND, and any unknown critical chunk, which the decoder
// refuses), each whole with its checksum, while every ancillary chunk is left
// out unread: nothing of the picture is in them, so their size, number,
// order and checksums do not matter. A file cut inside one is cut all the
// same: the decoder sees the end there.
class CriticalChunks {
 public:
  CriticalChunks(const std::uint8_t* bytes, std::size_t count)
      : bytes_(bytes), count_(count), spanEnd_(count < 8 ? count : 8) {}

  // libspng's read callback: exactly `length` bytes, or the end of the file.
  static int read(spng_ctx*, void* user, void* to, std::size_t length) {
    return static_cast<CriticalChunks*>(user)->fill(static_cast<std::uint8_t*>(to), length)
               ? 0
               : SPNG_IO_EOF;
  }

  // After the decode: whether the file holds its end chunk whole and with
  // its one possible checksum (the decoder stops at its type).
  std::optional<Failure> endChunk() const {
    if (endAt_ == 0 || count_ - endAt_ < 12) return Failure::pngTruncated;
    static const std::uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    if (std::memcmp(bytes_ + endAt_, kEnd, sizeof kEnd) != 0) return Failure::pngMalformed;
    return std::nullopt;
  }

 private:
  bool fill(std::uint8_t* to, std::size_t length) {
    while (length > 0) {
      if (at_ == spanEnd_ && !nextSpan()) return false;
      const std::size_t n = length < spanEnd_ - at_ ? length : spanEnd_ - at_;
      std::memcpy(to, bytes_ + at_, n);
      at_ += n;
      to += n;
      length -= n;
    }
    return true;
  }

  // Skips the ancillary chunks from `at_` and makes the next critical chunk
  // (or what the file holds of it) the span to hand over. False at the end.
  bool nextSpan() {
    if (endAt_ != 0) return false;  // nothing after the end chunk is read
    for (;;) {
      if (count_ - at_ < 8) {  // a header cut short: hand over what there is
        spanEnd_ = count_;
        return at_ < count_;
      }
      const std::uint8_t* header = bytes_ + at_;
      const std::uint64_t length = std::uint64_t{header[0]} << 24 | std::uint64_t{header[1]} << 16 |
                                   std::uint64_t{header[2]} << 8 | header[3];
      const std::uint64_t end = at_ + 12 + length;
      // Bit 5 of the first letter of the type marks an ancillary chunk. A
      // length beyond 2^31 - 1 goes to the decoder to be refused.
      if ((header[4] & 0x20) == 0 || length > 0x7FFFFFFF) {
        if (std::memcmp(header + 4, "IEND", 4) == 0) endAt_ = at_;
        spanEnd_ = end < count_ ? static_cast<std::size_t>(end) : count_;
        return true;
      }
      if (end > count_) {
        at_ = spanEnd_ = count_;
        return false;
      }
      at_ = static_cast<std::size_t>(end);
    }
  }

  const std::uint8_t* bytes_;
  std::size_t count_;
  std::size_t at_ = 0;
  std::size_t spanEnd_;    // the signature first
  std::size_t endAt_ = 0;  // where the end chunk starts, once met
};

}  // namespace

std::optional<Failure> pngLoad(Bitmap* bmp, const std::uint8_t* bytes, std::size_t count,
                               RowsTeller* teller) {
  std::memset(bmp, 0, sizeof *bmp);
  Context decoder(0);
  if (decoder.ctx == nullptr) return Failure::outOfMemory;
  spng_ctx* ctx = decoder.ctx;
  CriticalChunks chunks(bytes, count);
  int error = spng_set_png_stream(ctx, CriticalChunks::read, &chunks);
  if (error != 0) return readFailure(error);
  spng_ihdr ihdr;
  error = spng_get_ihdr(ctx, &ihdr);
  if (error != 0) return readFailure(error);
  if (!pictureFits(ihdr.width, ihdr.height)) return Failure::pngTooLarge;

  Converter to{ihdr.color_type, ihdr.bit_depth, {}};
  if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
    spng_plte plte;
    error = spng_get_plte(ctx, &plte);
    if (error != 0) return error == SPNG_ECHUNKAVAIL ? Failure::pngMalformed : readFailure(error);
    to.paletteEntries = plte.n_entries;
    for (std::uint32_t k = 0; k < plte.n_entries && k < 256; ++k) {
      to.paletteGrey[k] = luma(plte.entries[k].red, plte.entries[k].green, plte.entries[k].blue);
    }
  }
  // Up to the image data: a file that holds none is refused before the
  // picture is allocated.
  error = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RAW, SPNG_DECODE_PROGRESSIVE);
  if (error != 0) return readFailure(error);
  if (auto failure = startPicture(bmp, ihdr.width, ihdr.height, teller)) return failure;
  std::optional<Failure> failure = decodeRows(ctx, ihdr, to, bmp, teller);
  if (!failure) failure = chunks.endChunk();
  if (failure) teller->abandon(bmp);
  return failure;
}

#else  // no PNG library

bool pngBuilt() { return false; }

std::optional<Failure> pngLoad(Bitmap* bmp, const std::uint8_t*, std::size_t, RowsTeller*) {
  std::memset(bmp, 0, sizeof *bmp);
  return Failure::pngNotBuilt;
}

#endif

}  // namespace dwt97::detail
