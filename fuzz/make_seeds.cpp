// Writes the fuzzer's seed corpus: small valid bitmaps of the shapes the
// loader and the passes treat specially (widths 1 to 9 for every row padding,
// heights 1 to 3, top-down, last row's padding missing, colour tables of
// several lengths), plus a few files each refused for one reason; and PGM
// (binary and plain, several maxvals), PNG (every colour type, plain and
// interlaced) and, where the build has the JPEG library, JPEG pictures; and
// .npy files of coefficients in each layout numpy writes.
//
// Usage: make_seeds FOLDER
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "npy_builder.h"
#include "picture_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

testsupport::Picture picture(std::int32_t width, std::int32_t height, std::uint32_t tableEntries) {
  return testsupport::noisePicture(
      width, height, tableEntries,
      static_cast<std::uint32_t>(width) * 7919u + static_cast<std::uint32_t>(height));
}

// Small pictures in the other formats, named with their extensions.
void addPictures(std::vector<std::pair<std::string, Bytes>>& seeds) {
  using testsupport::pgmFile;
  seeds.emplace_back("p5_255.pgm",
                     pgmFile("P5\n# seed\n3 2\n255\n", {0, 9, 80, 128, 200, 255}, false));
  seeds.emplace_back("p5_15.pgm", pgmFile("P5 4 1 15\n", {0, 1, 8, 15}, false));
  seeds.emplace_back("p5_1000.pgm", pgmFile("P5 2 2 1000\n", {0, 2, 500, 1000}, false, true));
  seeds.emplace_back("p2_255.pgm", pgmFile("P2 3 2 255\n", {1, 2, 3, 40, 50, 60}, true));
  seeds.emplace_back("p2_huge.pgm", pgmFile("P2 40000 40000 65535\n", {1}, true));
  seeds.emplace_back("p6_255.ppm",
                     pgmFile("P6 2 2 255\n", {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9}, false));
  seeds.emplace_back("p3_1000.ppm", pgmFile("P3 1 2 1000\n", {1000, 0, 500, 1, 2, 3}, true));
  // TIFF in its layouts: grey and RGB, 8 and 16 bits, strips and tiles,
  // samples together and in planes, both byte orders.
  for (int layout = 0; layout < 6; ++layout) {
    testsupport::Tiff tiff;
    tiff.width = 19;
    tiff.height = 11;
    tiff.bits = layout % 2 == 0 ? 8 : 16;
    tiff.samplesPerPixel = layout < 2 ? 1 : 3;
    tiff.photometric = layout < 2 ? 1 : 2;
    tiff.bigEndian = layout % 3 == 1;
    tiff.planar = layout == 4;
    tiff.tile = layout >= 3 ? 16 : 0;
    tiff.rowsPerStrip = layout == 2 ? 4 : 0;
    for (std::uint32_t k = 0; k < 19u * 11u * tiff.samplesPerPixel; ++k) {
      tiff.samples.push_back((k * 37) % (tiff.bits == 8 ? 256 : 65536));
    }
    seeds.emplace_back("tiff_" + std::to_string(layout) + ".tif", testsupport::tiffFile(tiff));
  }
  const std::uint8_t depths[5][5] = {{1, 2, 4, 8, 16}, {8, 16}, {1, 2, 4, 8}, {8, 16}, {8, 16}};
  const std::uint8_t types[5] = {0, 2, 3, 4, 6};
  for (int t = 0; t < 5; ++t) {
    for (std::uint8_t depth : depths[t]) {
      if (depth == 0) break;
      for (const bool interlaced : {false, true}) {
        testsupport::Png png{9, 5, types[t], depth, interlaced, {}, {}};
        const std::uint32_t top = types[t] == 3 && depth > 1 ? 3 : (1u << depth) - 1;
        const int channels = testsupport::channels(types[t]);
        for (std::uint32_t k = 0; k < 45u * channels; ++k)
          png.samples.push_back((k * 37) % (top + 1));
        if (types[t] == 3) png.palette = {0, 0, 0, 255, 0, 0, 0, 255, 0, 9, 99, 199};
        seeds.emplace_back("png_t" + std::to_string(types[t]) + "_d" + std::to_string(depth) +
                               (interlaced ? "_i" : "") + ".png",
                           testsupport::pngFile(png));
      }
    }
  }
#if DWT97_WITH_JPEG
  for (const int components : {1, 3}) {
    Bytes pixels(19 * 11 * components);
    for (std::size_t k = 0; k < pixels.size(); ++k) {
      pixels[k] = static_cast<std::uint8_t>(k % (19 * components) * 13 + k / (19 * components) * 7);
    }
    seeds.emplace_back(components == 1 ? "grey.jpg" : "colour_progressive.jpg",
                       testsupport::jpegFile(19, 11, components, pixels, components == 3));
  }
#endif
}

// .npy files of float32 coefficients in each layout numpy writes, one line,
// and int32 ones.
void addCoefficients(std::vector<std::pair<std::string, Bytes>>& seeds) {
  std::vector<float> values(7 * 5);
  for (std::size_t k = 0; k < values.size(); ++k) values[k] = static_cast<float>(k % 11) - 4.5f;
  for (const int major : {1, 2, 3}) {
    for (const bool big : {false, true}) {
      for (const bool fortran : {false, true}) {
        seeds.emplace_back("npy_v" + std::to_string(major) + (big ? "_be" : "_le") +
                               (fortran ? "_f" : "_c") + ".npy",
                           testsupport::npyOf(values, 7, 5, big, fortran, major));
      }
    }
  }
  seeds.emplace_back("npy_line.npy", testsupport::npyOf(std::vector<float>(9, 1.5f), 9, 1));
  // The 5/3's int32 coefficients, either byte order and memory order, of
  // samples near the int32 range's ends too.
  std::vector<std::int32_t> ints(7 * 5);
  for (std::size_t k = 0; k < ints.size(); ++k) ints[k] = static_cast<std::int32_t>(k * 37 % 255);
  ints[3] = INT32_MIN;
  ints[20] = INT32_MAX;
  seeds.emplace_back("npy_int_le_c.npy", testsupport::npyOfInts(ints, 7, 5));
  seeds.emplace_back("npy_int_be_f.npy", testsupport::npyOfInts(ints, 7, 5, true, true, 2));
}

bool save(const std::string& folder, const std::string& name, const Bytes& bytes) {
  const std::string path = folder + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_seeds FOLDER\n", stderr);
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<std::pair<std::string, Bytes>> seeds;
  for (int width = 1; width <= 9; ++width) {
    for (int height = 1; height <= 3; ++height) {
      seeds.emplace_back("w" + std::to_string(width) + "h" + std::to_string(height),
                         testsupport::build(picture(width, height, 0)));
    }
  }
  seeds.emplace_back("square16_table256", testsupport::build(picture(16, 16, 256)));
  seeds.emplace_back("wide31x5_table2", testsupport::build(picture(31, 5, 2)));
  seeds.emplace_back("tall1x40", testsupport::build(picture(1, 40, 0)));
  testsupport::Picture topDown = picture(6, 5, 16);
  topDown.topDown = true;
  seeds.emplace_back("topdown6x5", testsupport::build(topDown));
  testsupport::Picture unpadded = picture(7, 4, 0);
  unpadded.dropLastRowPadding = true;
  seeds.emplace_back("w7h4_no_last_padding", testsupport::build(unpadded));

  // Files refused for a single reason: each a valid file with one field broken.
  const Bytes base = testsupport::build(picture(8, 8, 0));
  auto broken = [&](const char* name, std::size_t at, std::uint32_t value, int bytes) {
    Bytes b = base;
    if (bytes == 2)
      testsupport::putLe16(b, at, value);
    else
      testsupport::putLe32(b, at, value);
    seeds.emplace_back(name, b);
  };
  broken("bad_signature", testsupport::kSignature, 0x424D, 2);
  broken("bad_info_size", testsupport::kInfoSize, 124, 4);
  broken("bad_planes", testsupport::kPlanes, 0, 2);
  broken("bad_bits", testsupport::kBitsPerPixel, 24, 2);
  broken("bad_compression", testsupport::kCompression, 1, 4);
  broken("bad_width", testsupport::kWidth, 0xFFFFFFFFu, 4);
  broken("bad_height", testsupport::kHeight, 70000, 4);
  broken("bad_offset", testsupport::kDataOffset, 53, 4);
  broken("huge_dimensions", testsupport::kWidth, 0x7FFFFFFF, 4);
  seeds.emplace_back("cut_header", Bytes(base.begin(), base.begin() + 30));

  for (auto& seed : seeds) seed.first += ".bmp";
  addPictures(seeds);
  addCoefficients(seeds);

  for (const auto& seed : seeds) {
    if (!save(folder, seed.first, seed.second)) {
      std::fprintf(stderr, "make_seeds: cannot write %s/%s\n", folder.c_str(), seed.first.c_str());
      return 1;
    }
  }
  return 0;
}
