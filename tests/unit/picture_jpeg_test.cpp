// JPEG pictures, made by the JPEG library itself: the decoder's own grey as
// the oracle, broken, cut, corrupt and oversized files, the scan limit, and
// the tool on them. In a build without the JPEG library every JPEG is
// refused as such.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dwt97/picture.h"
#include "messages.h"
#include "noise.h"
#include "picture_builder.h"
#include "picture_cases.h"
#include "test_support.h"

#if DWT97_WITH_JPEG
#include <cstdio>

#include <jpeglib.h>
#endif

using namespace testsupport;

namespace {

#if DWT97_WITH_JPEG
// What the JPEG library itself gives as grey for a valid file: the oracle.
Bytes jpegGrey(const Bytes& file) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), file.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&cinfo);
  Bytes grey(std::size_t{cinfo.output_width} * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = grey.data() + std::size_t{cinfo.output_scanline} * cinfo.output_width;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return grey;
}

// Where the entropy-coded data of the first scan starts: after the SOS
// marker and its header.
std::size_t scanDataAt(const Bytes& file) {
  for (std::size_t k = 2; k + 3 < file.size(); ++k) {
    if (file[k] == 0xFF && file[k + 1] == 0xDA) return k + 2 + (file[k + 2] << 8 | file[k + 3]);
  }
  return file.size();
}

// The offset of the first SOF0 marker's height field.
std::size_t sofHeightAt(const Bytes& file) {
  for (std::size_t k = 2; k + 1 < file.size(); ++k) {
    if (file[k] == 0xFF && file[k + 1] == 0xC0) return k + 5;
  }
  return 0;
}
#endif

std::vector<Case> jpegCases() {
  std::vector<Case> cases;
#if DWT97_WITH_JPEG
  const std::uint32_t w = 21, h = 13;
  Bytes greyPixels, colourPixels;
  for (std::uint32_t k = 0; k < w * h; ++k) {
    greyPixels.push_back(static_cast<std::uint8_t>(k * 7));
    colourPixels.insert(colourPixels.end(),
                        {static_cast<std::uint8_t>(k * 3), static_cast<std::uint8_t>(255 - k),
                         static_cast<std::uint8_t>(k * 11)});
  }
  const Bytes grey = testsupport::jpegFile(w, h, 1, greyPixels);
  const Bytes colour = testsupport::jpegFile(w, h, 3, colourPixels);
  const PictureFormat jpeg = PictureFormat::jpeg;
  cases.push_back({"JPEG grey", grey, jpeg, std::nullopt, w, h, jpegGrey(grey)});
  cases.push_back({"JPEG colour", colour, jpeg, std::nullopt, w, h, jpegGrey(colour)});
  const Bytes progressive = testsupport::jpegFile(w, h, 1, greyPixels, true);
  cases.push_back(
      {"JPEG grey progressive", progressive, jpeg, std::nullopt, w, h, jpegGrey(progressive)});
  cases.push_back(refused("JPEG progressive cut in its last scan",
                          cut(progressive, progressive.size() - 8), jpeg, Failure::jpegTruncated));
  for (const std::size_t length :
       {std::size_t{3}, std::size_t{40}, colour.size() / 2, colour.size() - 2}) {
    cases.push_back(refused("JPEG cut to " + std::to_string(length), cut(colour, length), jpeg,
                            Failure::jpegTruncated));
  }
  // A file of several reads' worth (the loader reads a file 64 KiB at a
  // time), whole and cut past its first read.
  Bytes noise;
  testsupport::Noise fill(5);
  for (std::uint32_t k = 0; k < 300 * 400; ++k) noise.push_back(fill.next());
  const Bytes large = testsupport::jpegFile(300, 400, 1, noise);
  if (large.size() < 70000) ADD_FAILURE() << "the noise JPEG is too small: " << large.size();
  cases.push_back({"JPEG of several reads", large, jpeg, std::nullopt, 300, 400, jpegGrey(large)});
  cases.push_back(
      refused("JPEG of several reads, cut", cut(large, 70000), jpeg, Failure::jpegTruncated));
  Bytes huge = grey;
  const std::size_t at = sofHeightAt(huge);
  if (at < 1 || at + 4 > huge.size()) {
    ADD_FAILURE() << "no frame header in the made JPEG";
    return cases;
  }
  huge[at] = huge[at + 2] = 0xFF;  // 65500 x 65500 would be 0xFFDC
  huge[at + 1] = huge[at + 3] = 0xDC;
  cases.push_back(refused("JPEG 65500 x 65500", huge, jpeg, Failure::jpegTooLarge));
  Bytes empty = grey;
  empty[at] = empty[at + 1] = 0;
  cases.push_back(refused("JPEG height 0", empty, jpeg, Failure::jpegMalformed));
  cases.push_back(
      refused("JPEG with no image", {0xFF, 0xD8, 0xFF, 0xD9}, jpeg, Failure::jpegMalformed));
  Bytes twelveBits = grey;
  twelveBits[at - 1] = 12;
  cases.push_back(refused("JPEG 12-bit", twelveBits, jpeg, Failure::jpegUnsupported));
  // The decoder's limit is 65500 a side.
  Bytes wide = grey;
  wide[at] = 0;
  wide[at + 1] = 1;
  wide[at + 2] = 0xFF;
  wide[at + 3] = 0xDD;
  cases.push_back(refused("JPEG 65501 x 1", wide, jpeg, Failure::jpegTooLarge));
  const Bytes line(65500, 99);
  const Bytes widest = testsupport::jpegFile(65500, 1, 1, line);
  cases.push_back({"JPEG 65500 x 1", widest, jpeg, std::nullopt, 65500, 1, jpegGrey(widest)});
  // Entropy data broken into a run of 1 bits (stuffed FF bytes): no
  // Huffman code is that long. And a file whose second half is zeros, as
  // a download cut short and padded leaves it.
  const std::size_t data = scanDataAt(grey);
  Bytes badCode = grey;
  for (std::size_t k = data + 4; k < data + 20 && k + 1 < badCode.size(); k += 2) {
    badCode[k] = 0xFF;
    badCode[k + 1] = 0x00;
  }
  cases.push_back(
      refused("JPEG with a corrupt Huffman code", badCode, jpeg, Failure::jpegMalformed));
  Bytes zeroFilled = colour;
  for (std::size_t k = colour.size() / 2; k < zeroFilled.size(); ++k) zeroFilled[k] = 0;
  cases.push_back(refused("JPEG whose end is zeros", zeroFilled, jpeg, Failure::jpegMalformed));
  // A progressive file of up to 100 scans is read; one more is refused.
  Bytes small;
  for (int k = 0; k < 16 * 8; ++k) small.push_back(static_cast<std::uint8_t>(k * 29));
  const Bytes scans100 = testsupport::jpegFile(16, 8, 1, small, false, 100);
  cases.push_back({"JPEG of 100 scans", scans100, jpeg, std::nullopt, 16, 8, jpegGrey(scans100)});
  cases.push_back(refused("JPEG of 101 scans", testsupport::jpegFile(16, 8, 1, small, false, 101),
                          jpeg, Failure::jpegTooManyScans));
#endif
  return cases;
}

}  // namespace

TEST(Pictures, JpegGreyAndRefusals) { expectCases(jpegCases()); }
