// The PGM reader, binary (P5) and plain (P2), under netpbm's rules: the
// header is the magic number, width, height and maxval as decimal numbers
// separated by white space, where a '#' starts a comment that runs to the
// end of its line; exactly one white-space character ends the maxval; the
// raster follows, one or two bytes per binary sample (big-endian above 255)
// or decimal numbers for a plain file. Only the first image of a file is
// read.
#include <cstring>

#include "allocator.h"
#include "picture.h"

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

// v * 255 + maxval / 2, divided by maxval: the nearest 8-bit grey.
std::uint8_t scaled(std::uint32_t v, std::uint32_t maxval) {
  return static_cast<std::uint8_t>((v * 255u + maxval / 2) / maxval);
}

std::optional<Failure> readBinary(Bitmap* bmp, Reader* reader, std::uint32_t maxval) {
  const std::size_t pixels = static_cast<std::size_t>(bmp->width) * bmp->height;
  const std::uint8_t* in = reader->bytes + reader->at;
  std::uint8_t* out = bmp->data;
  if (maxval == 255) {
    std::memcpy(out, in, pixels);
    return std::nullopt;
  }
  if (maxval < 256) {
    std::uint8_t table[256];
    for (std::uint32_t v = 0; v <= maxval; ++v) table[v] = scaled(v, maxval);
    for (std::size_t k = 0; k < pixels; ++k) {
      if (in[k] > maxval) return Failure::pgmSample;
      out[k] = table[in[k]];
    }
    return std::nullopt;
  }
  for (std::size_t k = 0; k < pixels; ++k) {
    const std::uint32_t v = (std::uint32_t{in[2 * k]} << 8) | in[2 * k + 1];
    if (v > maxval) return Failure::pgmSample;
    out[k] = scaled(v, maxval);
  }
  return std::nullopt;
}

std::optional<Failure> readPlain(Bitmap* bmp, Reader* reader, std::uint32_t maxval) {
  const std::size_t pixels = static_cast<std::size_t>(bmp->width) * bmp->height;
  for (std::size_t k = 0; k < pixels; ++k) {
    std::uint64_t v = 0;
    const Number number = readNumber(reader, maxval, &v);
    if (number == Number::end) return Failure::pgmTruncated;
    if (number == Number::junk) return Failure::pgmMalformed;
    if (v > maxval) return Failure::pgmSample;
    bmp->data[k] = scaled(static_cast<std::uint32_t>(v), maxval);
  }
  return std::nullopt;
}

}  // namespace

std::optional<Failure> pgmLoad(Bitmap* bmp, const std::uint8_t* bytes, std::size_t count) {
  std::memset(bmp, 0, sizeof *bmp);
  if (count < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '2')) {
    return Failure::pgmMalformed;
  }
  const bool plain = bytes[1] == '2';
  Reader reader{bytes, count, 2};
  // Dimensions are read up to just past the largest acceptable value.
  constexpr std::uint64_t kDimensionLimit = 0x7FFFFFFF;
  std::uint64_t width = 0, height = 0, maxval = 0;
  for (std::uint64_t* field : {&width, &height}) {
    const Number number = readNumber(&reader, kDimensionLimit, field);
    if (number == Number::end) return Failure::pgmTruncated;
    if (number == Number::junk) return Failure::pgmMalformed;
  }
  const Number number = readNumber(&reader, 65535, &maxval);
  if (number == Number::end) return Failure::pgmTruncated;
  if (number == Number::junk) return Failure::pgmMalformed;
  if (maxval < 1 || maxval > 65535) return Failure::pgmMaxval;
  if (width == 0 || height == 0) return Failure::pgmMalformed;
  if (!pictureFits(width, height)) return Failure::pgmTooLarge;

  // Before anything is allocated, the raster must fit in what is left: a
  // binary sample takes one or two bytes, a plain one a digit and a
  // separator (the last one's separator may be missing).
  const std::uint64_t pixels = width * height;
  const std::uint64_t left = count - reader.at;
  const std::uint64_t needed = plain ? 2 * pixels - 1 : pixels * (maxval > 255 ? 2 : 1);
  if (left < needed) return Failure::pgmTruncated;

  if (!startPicture(bmp, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height))) {
    return Failure::outOfMemory;
  }
  const std::uint32_t max = static_cast<std::uint32_t>(maxval);
  std::optional<Failure> failure =
      plain ? readPlain(bmp, &reader, max) : readBinary(bmp, &reader, max);
  if (failure) {
    releaseZeroed(bmp->data);
    bmp->data = nullptr;
  }
  return failure;
}

}  // namespace dwt97::detail
