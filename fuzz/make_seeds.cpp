// Writes the fuzzer's seed corpus: small valid bitmaps of the shapes the
// loader and the passes treat specially (widths 1 to 9 for every row padding,
// heights 1 to 3, top-down, last row's padding missing, colour tables of
// several lengths), plus a few files each refused for one reason.
//
// Usage: make_seeds FOLDER
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bmp_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bmpbuild::Picture picture(std::int32_t width, std::int32_t height, std::uint32_t tableEntries) {
  return bmpbuild::noisePicture(width, height, tableEntries,
                                static_cast<std::uint32_t>(width) * 7919u +
                                    static_cast<std::uint32_t>(height));
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
                         bmpbuild::build(picture(width, height, 0)));
    }
  }
  seeds.emplace_back("square16_table256", bmpbuild::build(picture(16, 16, 256)));
  seeds.emplace_back("wide31x5_table2", bmpbuild::build(picture(31, 5, 2)));
  seeds.emplace_back("tall1x40", bmpbuild::build(picture(1, 40, 0)));
  bmpbuild::Picture topDown = picture(6, 5, 16);
  topDown.topDown = true;
  seeds.emplace_back("topdown6x5", bmpbuild::build(topDown));
  bmpbuild::Picture unpadded = picture(7, 4, 0);
  unpadded.dropLastRowPadding = true;
  seeds.emplace_back("w7h4_no_last_padding", bmpbuild::build(unpadded));

  // Files refused for a single reason: each a valid file with one field broken.
  const Bytes base = bmpbuild::build(picture(8, 8, 0));
  auto broken = [&](const char* name, std::size_t at, std::uint32_t value, int bytes) {
    Bytes b = base;
    if (bytes == 2) bmpbuild::putLe16(b, at, value);
    else bmpbuild::putLe32(b, at, value);
    seeds.emplace_back(name, b);
  };
  broken("bad_signature", bmpbuild::kSignature, 0x424D, 2);
  broken("bad_info_size", bmpbuild::kInfoSize, 124, 4);
  broken("bad_planes", bmpbuild::kPlanes, 0, 2);
  broken("bad_bits", bmpbuild::kBitsPerPixel, 24, 2);
  broken("bad_compression", bmpbuild::kCompression, 1, 4);
  broken("bad_width", bmpbuild::kWidth, 0xFFFFFFFFu, 4);
  broken("bad_height", bmpbuild::kHeight, 70000, 4);
  broken("bad_offset", bmpbuild::kDataOffset, 53, 4);
  broken("huge_dimensions", bmpbuild::kWidth, 0x7FFFFFFF, 4);
  seeds.emplace_back("cut_header", Bytes(base.begin(), base.begin() + 30));

  for (const auto& seed : seeds) {
    if (!save(folder, seed.first + ".bmp", seed.second)) {
      std::fprintf(stderr, "make_seeds: cannot write %s/%s.bmp\n", folder.c_str(), seed.first.c_str());
      return 1;
    }
  }
  return 0;
}
