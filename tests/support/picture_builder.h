// Builds small PNG, PGM, PPM and TIFF files in memory, byte by byte, without
// any image library: PNG chunks with their CRCs around a zlib stream of
// stored (uncompressed) deflate blocks, every colour type and bit depth,
// plain or Adam7-interlaced; netpbm headers and rasters; uncompressed TIFF
// in strips or tiles, either byte order; and, where the JPEG library is
// built in (DWT97_WITH_JPEG), JPEG files made by that library, progressive
// ones with as many scans as asked. Used by the tests and the fuzzer's seed
// corpus, which break single bytes afterwards.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if DWT97_WITH_JPEG
#include <cstdio>  // jpeglib.h needs FILE

#include <cstdlib>

#include <jpeglib.h>
#endif

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

inline void putBe32(Bytes& bytes, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(std::uint8_t(value >> shift));
}

inline std::uint32_t crc32(const std::uint8_t* bytes, std::size_t count) {
  static const std::vector<std::uint32_t> table = [] {
    std::vector<std::uint32_t> t(256);
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t k = 0; k < count; ++k) crc = table[(crc ^ bytes[k]) & 0xFF] ^ (crc >> 8);
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

// An uncompressed TIFF: the header, the first image's directory and the
// pixels of `samples` (rows of width pixels of samplesPerPixel samples, top
// row first) in strips or square tiles, a pixel's samples together or, with
// `planar`, a plane per sample. Tags a test wants wrong are set as asked.
struct Tiff {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits = 8;  // per sample: 8 or 16 are read, others refused
  std::uint16_t samplesPerPixel = 1;
  std::uint16_t photometric = 1;  // 0 min-is-white, 1 min-is-black, 2 RGB, 3 palette
  bool bigEndian = false;
  bool planar = false;
  std::uint32_t tile = 0;          // the tiles' side (a multiple of 16); 0: strips
  std::uint32_t rowsPerStrip = 0;  // 0: the whole picture in one strip
  std::uint16_t sampleFormat = 1;  // 1 unsigned, 3 floating point
  std::uint16_t compression = 1;   // 1 none; another number claims a codec
  bool directoryFirst = false;     // the directory before the pixels (else after)
  std::vector<std::uint32_t> samples;
};

inline Bytes tiffFile(const Tiff& t) {
  auto put = [&t](Bytes& out, std::uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) {
      const int shift = 8 * (t.bigEndian ? bytes - 1 - k : k);
      out.push_back(std::uint8_t(value >> shift));
    }
  };
  const std::uint32_t spp = t.samplesPerPixel, sampleBytes = t.bits / 8;
  const std::uint32_t planes = t.planar ? spp : 1, perPixel = t.planar ? 1 : spp;
  // The units (strips or tiles) of every plane, each as its bytes.
  const std::uint32_t unitWidth = t.tile ? t.tile : t.width;
  const std::uint32_t unitHeight = t.tile           ? t.tile
                                   : t.rowsPerStrip ? t.rowsPerStrip
                                                    : (t.height ? t.height : 1);
  const std::uint32_t across = t.tile ? (t.width + t.tile - 1) / t.tile : 1;
  const std::uint32_t down = (t.height + unitHeight - 1) / unitHeight;
  std::vector<Bytes> units;
  for (std::uint32_t p = 0; p < planes; ++p) {
    for (std::uint32_t uy = 0; uy < down; ++uy) {
      for (std::uint32_t ux = 0; ux < across; ++ux) {
        Bytes unit;
        const std::uint32_t rows =
            t.tile ? t.tile : std::min(unitHeight, t.height - uy * unitHeight);
        for (std::uint32_t r = 0; r < rows; ++r) {
          for (std::uint32_t c = 0; c < unitWidth; ++c) {
            const std::uint32_t y = uy * unitHeight + r, x = ux * unitWidth + c;
            for (std::uint32_t k = 0; k < perPixel; ++k) {
              const std::uint32_t channel = t.planar ? p : k;
              const std::uint32_t v =
                  y < t.height && x < t.width
                      ? t.samples[(std::size_t(y) * t.width + x) * spp + channel]
                      : 0;
              put(unit, v, int(sampleBytes ? sampleBytes : 1));
            }
          }
        }
        units.push_back(unit);
      }
    }
  }
  // The directory's entries, ascending by tag: SHORT (3) or LONG (4) values.
  struct Entry {
    std::uint16_t tag, type;
    std::vector<std::uint32_t> values;
  };
  const std::uint32_t channels = t.photometric == 2 ? 3 : 1;
  std::vector<Entry> entries = {{256, 4, {t.width}},
                                {257, 4, {t.height}},
                                {258, 3, std::vector<std::uint32_t>(spp, t.bits)},
                                {259, 3, {t.compression}},
                                {262, 3, {t.photometric}}};
  const std::vector<std::uint32_t> unitCounts(units.size(), 0);
  if (!t.tile) entries.push_back({273, 4, unitCounts});
  entries.push_back({277, 3, {spp}});
  if (!t.tile) entries.push_back({278, 4, {unitHeight}});
  if (!t.tile) entries.push_back({279, 4, unitCounts});
  entries.push_back({284, 3, {t.planar ? 2u : 1u}});
  if (t.photometric == 3) {
    std::vector<std::uint32_t> map;
    for (int c = 0; c < 3; ++c) {
      for (std::uint32_t k = 0; k < (1u << t.bits); ++k) map.push_back(k * 257);
    }
    entries.push_back({320, 3, map});
  }
  if (t.tile) {
    entries.push_back({322, 4, {t.tile}});
    entries.push_back({323, 4, {t.tile}});
    entries.push_back({324, 4, unitCounts});
    entries.push_back({325, 4, unitCounts});
  }
  if (spp > channels) entries.push_back({338, 3, std::vector<std::uint32_t>(spp - channels, 2)});
  entries.push_back({339, 3, std::vector<std::uint32_t>(spp, t.sampleFormat)});
  auto valueBytes = [](const Entry& e) { return e.values.size() * (e.type == 3 ? 2 : 4); };
  std::size_t directorySize = 2 + 12 * entries.size() + 4;
  for (const Entry& e : entries) {
    if (valueBytes(e) > 4) directorySize += (valueBytes(e) + 1) & ~std::size_t{1};
  }
  std::size_t unitBytes = 0;
  for (const Bytes& unit : units) unitBytes += (unit.size() + 1) & ~std::size_t{1};
  const std::size_t directoryAt = t.directoryFirst ? 8 : 8 + unitBytes;
  std::size_t unitAt = t.directoryFirst ? 8 + directorySize : 8;
  std::vector<std::uint32_t> offsets, counts;
  for (const Bytes& unit : units) {
    offsets.push_back(std::uint32_t(unitAt));
    counts.push_back(std::uint32_t(unit.size()));
    unitAt += (unit.size() + 1) & ~std::size_t{1};
  }
  for (Entry& e : entries) {
    if (e.tag == 273 || e.tag == 324) e.values = offsets;
    if (e.tag == 279 || e.tag == 325) e.values = counts;
  }
  Bytes directory;
  put(directory, entries.size(), 2);
  std::size_t overflowAt = directoryAt + 2 + 12 * entries.size() + 4;
  Bytes overflow;
  for (const Entry& e : entries) {
    put(directory, e.tag, 2);
    put(directory, e.type, 2);
    put(directory, e.values.size(), 4);
    Bytes value;
    for (std::uint32_t v : e.values) put(value, v, e.type == 3 ? 2 : 4);
    if (value.size() <= 4) {
      value.resize(4, 0);
      directory.insert(directory.end(), value.begin(), value.end());
    } else {
      put(directory, overflowAt + overflow.size(), 4);
      if (value.size() % 2) value.push_back(0);
      overflow.insert(overflow.end(), value.begin(), value.end());
    }
  }
  put(directory, 0, 4);  // no next image
  directory.insert(directory.end(), overflow.begin(), overflow.end());
  Bytes file = t.bigEndian ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0};
  put(file, directoryAt, 4);
  Bytes pixels;
  for (const Bytes& unit : units) {
    pixels.insert(pixels.end(), unit.begin(), unit.end());
    if (unit.size() % 2) pixels.push_back(0);
  }
  const Bytes& first = t.directoryFirst ? directory : pixels;
  const Bytes& second = t.directoryFirst ? pixels : directory;
  file.insert(file.end(), first.begin(), first.end());
  file.insert(file.end(), second.begin(), second.end());
  return file;
}

#if DWT97_WITH_JPEG
// A JPEG made by the JPEG library from `pixels` (1 or 3 components, rows top
// first), at quality 90, progressive where asked. A grey picture may ask for
// `scans` scans instead (2 to 694): the DC coefficients whole, then each AC
// coefficient alone, its bits from the tenth down, for as many scans as that
// takes.
inline Bytes jpegFile(std::uint32_t width, std::uint32_t height, int components,
                      const Bytes& pixels, bool progressive = false, int scans = 0) {
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
  std::vector<jpeg_scan_info> script;
  if (scans > 0) {
    script.push_back({1, {0, 0, 0, 0}, 0, 0, 0, 0});
    for (int k = 1; k <= 63 && int(script.size()) < scans; ++k) {
      for (int bit = 10; bit >= 0 && int(script.size()) < scans; --bit) {
        script.push_back({1, {0, 0, 0, 0}, k, k, bit == 10 ? 0 : bit + 1, bit});
      }
    }
    cinfo.scan_info = script.data();
    cinfo.num_scans = int(script.size());
  }
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

}  // namespace testsupport
