// The netpbm reader for PGM (grey: binary P5, plain P2) and PPM (colour:
// binary P6, plain P3), under netpbm's rules: the header is the magic number,
// width, height and maxval as decimal numbers separated by white space,
// where a '#' starts a comment that runs to the end of its line; exactly one
// white-space character ends the maxval; the raster follows, one or two
// bytes per binary sample (big-endian above 255) or decimal numbers for a
// plain file. A PPM pixel is three samples, R, G and B, each scaled as a PGM
// sample and then made grey by the colour rule of every reader (luma()).
// Only the first image of a file is read.
#include <cstring>

#include "core/allocator.h"
#include "picture/readers.h"

namespace dwt97::detail {
namespace {

// The bytes of the file with a read position; a comment reads as the line
// end that closes it.
struct Reader {
  const std::uint8_t* bytes;
  std::size_t count;
  std::size_t at = 0;

  // The next character, or -1 at the end of the bytes.
  int next() {
    if (at == count) return -1;
    int c = bytes[at++];
    if (c == '#') {
      do {
        if (at == count) return -1;
        c = bytes[at++];
      } while (c != '\n' && c != '\r');
    }
    return c;
  }
};

bool isSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

enum class Number { ok, end, junk };

// Reads a decimal number after any white space and comments, and the one
// character after its digits (consumed). Values beyond `limit` read as
// limit + 1, so that no digit string can overflow.
Number readNumber(Reader* reader, std::uint64_t limit, std::uint64_t* value) {
  int c;
  do {
    c = reader->next();
  } while (isSpace(c));
  if (c == -1) return Number::end;
  if (c < '0' || c > '9') return Number::junk;
  std::uint64_t v = 0;
  while (c >= '0' && c <= '9') {
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > limit) v = limit + 1;
    c = reader->next();
  }
  // The character that ended the number must not glue it to the next token.
  if (c != -1 && !isSpace(c)) return Number::junk;
  *value = v;
  return Number::ok;
}

// The failures of one of the two formats.
struct Failures {
  Failure malformed, maxval, sample, tooLarge, truncated;
};
constexpr Failures kPgm = {Failure::pgmMalformed, Failure::pgmMaxval, Failure::pgmSample,
                           Failure::pgmTooLarge, Failure::pgmTruncated};
constexpr Failures kPpm = {Failure::ppmMalformed, Failure::ppmMaxval, Failure::ppmSample,
                           Failure::ppmTooLarge, Failure::ppmTruncated};

// v * 255 + maxval / 2, divided by maxval: the nearest 8-bit grey.
std::uint8_t scaled(std::uint32_t v, std::uint32_t maxval) {
  return static_cast<std::uint8_t>((v * 255u + maxval / 2) / maxval);
}

// Rows made per piece between the tellings: at most this many bytes of
// them (but always one row).
constexpr std::size_t kPieceBytes = std::size_t{1} << 18;

// Where one picture's samples come from and go to: `channels` samples a
// pixel (1 or 3), each below or at `maxval`; whom the rows are told.
struct Raster {
  Bitmap* bmp;
  std::uint32_t channels;
  std::uint32_t maxval;
  const Failures& fails;
  RowsTeller* teller;

  std::size_t width() const { return static_cast<std::size_t>(bmp->width); }

  // The grey of a pixel's scaled samples.
  std::uint8_t grey(const std::uint8_t* s) const {
    return channels == 1 ? s[0] : luma(s[0], s[1], s[2]);
  }
};

std::optional<Failure> readBinary(const Raster& raster, const std::uint8_t* in) {
  const std::size_t width = raster.width(), height = raster.bmp->height;
  const std::uint32_t channels = raster.channels, maxval = raster.maxval;
  std::uint8_t* out = raster.bmp->data;
  if (maxval == 255 && channels == 1) {
    // The samples themselves, copied in pieces of whole rows.
    const std::size_t pieceRows = kPieceBytes / width > 0 ? kPieceBytes / width : 1;
    for (std::size_t r0 = 0; r0 < height; r0 += pieceRows) {
      const std::size_t rows = pieceRows < height - r0 ? pieceRows : height - r0;
      std::memcpy(out + r0 * width, in + r0 * width, rows * width);
      raster.teller->rows(static_cast<std::uint32_t>(r0 + rows));
    }
    return std::nullopt;
  }
  std::uint8_t table[256];
  if (maxval < 256) {
    for (std::uint32_t v = 0; v <= maxval; ++v) table[v] = scaled(v, maxval);
  }
  std::uint8_t samples[3];
  for (std::size_t r = 0, k = 0; r < height; ++r) {
    for (const std::size_t end = k + width; k < end; ++k) {
      for (std::uint32_t c = 0; c < channels; ++c) {
        const std::size_t at = k * channels + c;
        const std::uint32_t v = maxval < 256 ? std::uint32_t{in[at]}
                                             : (std::uint32_t{in[2 * at]} << 8) | in[2 * at + 1];
        if (v > maxval) return raster.fails.sample;
        samples[c] = maxval < 256 ? table[v] : scaled(v, maxval);
      }
      out[k] = raster.grey(samples);
    }
    raster.teller->rows(static_cast<std::uint32_t>(r + 1));
  }
  return std::nullopt;
}

std::optional<Failure> readPlain(const Raster& raster, Reader* reader) {
  const std::size_t width = raster.width(), height = raster.bmp->height;
  std::uint8_t samples[3];
  for (std::size_t r = 0, k = 0; r < height; ++r) {
    for (const std::size_t end = k + width; k < end; ++k) {
      for (std::uint32_t c = 0; c < raster.channels; ++c) {
        std::uint64_t v = 0;
        const Number number = readNumber(reader, raster.maxval, &v);
        if (number == Number::end) return raster.fails.truncated;
        if (number == Number::junk) return raster.fails.malformed;
        if (v > raster.maxval) return raster.fails.sample;
        samples[c] = scaled(static_cast<std::uint32_t>(v), raster.maxval);
      }
      raster.bmp->data[k] = raster.grey(samples);
    }
    raster.teller->rows(static_cast<std::uint32_t>(r + 1));
  }
  return std::nullopt;
}

}  // namespace

std::optional<Failure> netpbmLoad(Bitmap* bmp, const std::uint8_t* bytes, std::size_t count,
                                  RowsTeller* teller) {
  std::memset(bmp, 0, sizeof *bmp);
  const char magic = count >= 2 && bytes[0] == 'P' ? static_cast<char>(bytes[1]) : '\0';
  const bool colour = magic == '6' || magic == '3';
  const Failures& fails = colour ? kPpm : kPgm;
  if (magic != '5' && magic != '2' && !colour) return fails.malformed;
  const bool plain = magic == '2' || magic == '3';
  const std::uint64_t channels = colour ? 3 : 1;
  Reader reader{bytes, count, 2};
  // Dimensions are read up to just past the largest acceptable value.
  constexpr std::uint64_t kDimensionLimit = 0x7FFFFFFF;
  std::uint64_t width = 0, height = 0, maxval = 0;
  for (std::uint64_t* field : {&width, &height}) {
    const Number number = readNumber(&reader, kDimensionLimit, field);
    if (number == Number::end) return fails.truncated;
    if (number == Number::junk) return fails.malformed;
  }
  const Number number = readNumber(&reader, 65535, &maxval);
  if (number == Number::end) return fails.truncated;
  if (number == Number::junk) return fails.malformed;
  if (maxval < 1 || maxval > 65535) return fails.maxval;
  if (width == 0 || height == 0) return fails.malformed;
  if (!pictureFits(width, height)) return fails.tooLarge;

  // Before anything is allocated, the raster must fit in what is left: a
  // binary sample takes one or two bytes, a plain one a digit and a
  // separator (the last one's separator may be missing).
  const std::uint64_t samples = width * height * channels;
  const std::uint64_t left = count - reader.at;
  const std::uint64_t needed = plain ? 2 * samples - 1 : samples * (maxval > 255 ? 2 : 1);
  if (left < needed) return fails.truncated;

  if (auto failure = startPicture(bmp, static_cast<std::uint32_t>(width),
                                  static_cast<std::uint32_t>(height), teller)) {
    return failure;
  }
  const Raster raster{bmp, static_cast<std::uint32_t>(channels), static_cast<std::uint32_t>(maxval),
                      fails, teller};
  std::optional<Failure> failure =
      plain ? readPlain(raster, &reader) : readBinary(raster, bytes + reader.at);
  if (failure) teller->abandon(bmp);
  return failure;
}

}  // namespace dwt97::detail
