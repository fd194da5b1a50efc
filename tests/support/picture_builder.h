// Builds small PNG and PGM files in memory, byte by byte, without any image
// library: PNG chunks with their CRCs around a zlib stream of stored
// (uncompressed) deflate blocks, every colour type and bit depth, plain or
// Adam7-interlaced; and, where the JPEG library is built in
// (DWT97_WITH_JPEG), JPEG files made by that library. Used by the tests and
// the fuzzer's seed corpus, which break single bytes afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if DWT97_WITH_JPEG
#include <cstdio>  // jpeglib.h needs FILE

#include <cstdlib>

#include <jpeglib.h>
#endif

namespace picturebuild {

using Bytes = std::vector<std::uint8_t>;

inline void putBe32(Bytes& bytes, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(std::uint8_t(value >> shift));
}

inline std::uint32_t crc32(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t k = 0; k < count; ++k) {
    crc ^= bytes[k];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc ^ 0xFFFFFFFFu;
}

inline void putChunk(Bytes& png, const char* type, const Bytes& data) {
  putBe32(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  putBe32(png, crc32(png.data() + start, png.size() - start));
}

// A zlib stream holding `raw` in stored blocks.
inline Bytes storedZlib(const Bytes& raw) {
  Bytes out = {0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
    out.push_back(at + n == raw.size() ? 1 : 0);
    out.push_back(std::uint8_t(n));
    out.push_back(std::uint8_t(n >> 8));
    out.push_back(std::uint8_t(~n));
    out.push_back(std::uint8_t(~n >> 8));
    out.insert(out.end(), raw.begin() + at, raw.begin() + at + n);
    at += n;
  } while (at < raw.size());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  putBe32(out, (b << 16) | a);
  return out;
}

struct Png {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t colorType = 0;  // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
  std::uint8_t depth = 8;
  bool interlaced = false;
  std::vector<std::uint32_t> samples;  // height rows of width pixels of channels()
  std::vector<std::uint8_t> palette;   // RGB triples
};

inline int channels(std::uint8_t colorType) {
  return colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
}

// The scanlines (filter type 0) of the pixels in rows firstRow, +rowStep, ...
// and columns firstColumn, +columnStep, ...: the whole picture, or one pass.
inline void putScanlines(Bytes& raw, const Png& p, std::uint32_t firstRow, std::uint32_t rowStep,
                         std::uint32_t firstColumn, std::uint32_t columnStep) {
  const int c = channels(p.colorType);
  if (firstColumn >= p.width) return;
  for (std::uint32_t r = firstRow; r < p.height; r += rowStep) {
    raw.push_back(0);
    std::uint32_t bits = 0, used = 0;
    for (std::uint32_t x = firstColumn; x < p.width; x += columnStep) {
      for (int k = 0; k < c; ++k) {
        const std::uint32_t v = p.samples[(std::size_t(r) * p.width + x) * c + k];
        if (p.depth == 16) {
          raw.push_back(std::uint8_t(v >> 8));
          raw.push_back(std::uint8_t(v));
        } else if (p.depth == 8) {
          raw.push_back(std::uint8_t(v));
        } else {
          bits = (bits << p.depth) | v;
          used += p.depth;
          if (used == 8) {
            raw.push_back(std::uint8_t(bits));
            bits = used = 0;
          }
        }
      }
    }
    if (used != 0) raw.push_back(std::uint8_t(bits << (8 - used)));
  }
}

inline Bytes pngFile(const Png& p) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  putBe32(ihdr, p.width);
  putBe32(ihdr, p.height);
  ihdr.insert(ihdr.end(), {p.depth, p.colorType, 0, 0, std::uint8_t(p.interlaced ? 1 : 0)});
  putChunk(png, "IHDR", ihdr);
  if (!p.palette.empty()) putChunk(png, "PLTE", p.palette);
  Bytes raw;
  if (p.interlaced) {
    static const std::uint32_t passes[7][4] = {{0, 8, 0, 8}, {0, 8, 4, 8}, {4, 8, 0, 4},
                                               {0, 4, 2, 4}, {2, 4, 0, 2}, {0, 2, 1, 2},
                                               {1, 2, 0, 1}};
    for (const auto& pass : passes) putScanlines(raw, p, pass[0], pass[1], pass[2], pass[3]);
  } else {
    putScanlines(raw, p, 0, 1, 0, 1);
  }
  putChunk(png, "IDAT", storedZlib(raw));
  putChunk(png, "IEND", {});
  return png;
}

// A PGM file: `header` as given (magic number, dimensions, maxval and the
// one separator), then the samples, binary (big-endian above maxval 255) or,
// with `plain`, as decimal numbers separated by single blanks.
inline Bytes pgmFile(const std::string& header, const std::vector<std::uint32_t>& samples,
                     bool plain, bool wide = false) {
  Bytes out(header.begin(), header.end());
  for (std::size_t k = 0; k < samples.size(); ++k) {
    if (plain) {
      const std::string text = (k == 0 ? "" : " ") + std::to_string(samples[k]);
      out.insert(out.end(), text.begin(), text.end());
    } else if (wide) {
      out.push_back(std::uint8_t(samples[k] >> 8));
      out.push_back(std::uint8_t(samples[k]));
    } else {
      out.push_back(std::uint8_t(samples[k]));
    }
  }
  return out;
}

#if DWT97_WITH_JPEG
// A JPEG made by the JPEG library from `pixels` (1 or 3 components, rows top
// first), at quality 90, progressive where asked.
inline Bytes jpegFile(std::uint32_t width, std::uint32_t height, int components,
                      const Bytes& pixels, bool progressive = false) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < height) {
    JSAMPROW row = const_cast<std::uint8_t*>(pixels.data()) +
                   std::size_t{cinfo.next_scanline} * width * components;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes file(buffer, buffer + size);
  std::free(buffer);
  return file;
}
#endif

}  // namespace picturebuild
