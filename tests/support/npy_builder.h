// Builds .npy files in memory, byte by byte, without numpy: the magic, any
// version, the header's length field of that version, a header text given
// whole (so that tests can break it anywhere) or the dict numpy writes, and
// float32 or int32 samples in either byte order and either memory order.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testsupport {

// A float's or an int's four bytes, little- or big-endian.
template <typename T>
inline void putSample(std::vector<std::uint8_t>& bytes, T value, bool bigEndian) {
  static_assert(sizeof(T) == 4, "4-byte samples");
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int k = 0; k < 4; ++k) {
    const int shift = bigEndian ? 24 - 8 * k : 8 * k;
    bytes.push_back(static_cast<std::uint8_t>(bits >> shift));
  }
}

// The samples of a `width` x `height` array given top row first (C order),
// stored in the file's byte order and memory order (Fortran: column after
// column).
template <typename T>
inline std::vector<std::uint8_t> npySamples(const std::vector<T>& cOrder, int width, int height,
                                            bool bigEndian, bool fortranOrder) {
  std::vector<std::uint8_t> bytes;
  for (int k = 0; k < width * height; ++k) {
    const int r = fortranOrder ? k % height : k / width;
    const int c = fortranOrder ? k / height : k % width;
    putSample(bytes, cOrder[static_cast<std::size_t>(r * width + c)], bigEndian);
  }
  return bytes;
}

// The dict numpy writes, before its padding.
inline std::string npyDict(const std::string& descr, bool fortranOrder, const std::string& shape) {
  return "{'descr': '" + descr + "', 'fortran_order': " + (fortranOrder ? "True" : "False") +
         ", 'shape': " + shape + ", }";
}

// A file of version `major`.0 with `header` as its whole header text (no
// padding added), then `data`. `lengthField` replaces the header's length
// when not negative.
inline std::vector<std::uint8_t> npyFile(int major, const std::string& header,
                                         const std::vector<std::uint8_t>& data,
                                         long long lengthField = -1) {
  std::vector<std::uint8_t> bytes = {
      0x93, 'N', 'U', 'M', 'P', 'Y', static_cast<std::uint8_t>(major), 0};
  const unsigned long long length =
      lengthField >= 0 ? static_cast<unsigned long long>(lengthField) : header.size();
  for (int k = 0; k < (major == 1 ? 2 : 4); ++k) {
    bytes.push_back(static_cast<std::uint8_t>(length >> (8 * k)));
  }
  bytes.insert(bytes.end(), header.begin(), header.end());
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

// `dict` padded with blanks and a line feed so that the data starts at a
// multiple of 64 in a file of version `major`.0, as numpy pads it.
inline std::string npyPadded(int major, std::string dict) {
  const std::size_t preamble = major == 1 ? 10 : 12;
  dict.append(64 - (preamble + dict.size() + 1) % 64, ' ');
  return dict + "\n";
}

// A whole float32 file as numpy writes one of shape (height, width).
inline std::vector<std::uint8_t> npyOf(const std::vector<float>& cOrder, int width, int height,
                                       bool bigEndian = false, bool fortranOrder = false,
                                       int major = 1) {
  const std::string shape = "(" + std::to_string(height) + ", " + std::to_string(width) + ")";
  return npyFile(major, npyPadded(major, npyDict(bigEndian ? ">f4" : "<f4", fortranOrder, shape)),
                 npySamples(cOrder, width, height, bigEndian, fortranOrder));
}

// The same for an int32 file.
inline std::vector<std::uint8_t> npyOfInts(const std::vector<std::int32_t>& cOrder, int width,
                                           int height, bool bigEndian = false,
                                           bool fortranOrder = false, int major = 1) {
  const std::string shape = "(" + std::to_string(height) + ", " + std::to_string(width) + ")";
  return npyFile(major, npyPadded(major, npyDict(bigEndian ? ">i4" : "<i4", fortranOrder, shape)),
                 npySamples(cOrder, width, height, bigEndian, fortranOrder));
}

}  // namespace testsupport
