// Internal to the .npy files: the preamble, the header's dict and the samples
// in the file's byte order and memory order, as the reader from memory
// (npy.cpp) and the file access (npy_file.cpp) share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dwt97/failure.h"
#include "dwt97/npy.h"

namespace dwt97::detail {

// The magic, the version's two bytes and the header's length (2 bytes in
// version 1.0, 4 in 2.0 and 3.0) come before the header: at most 12 bytes.
constexpr std::size_t kNpyLongestPreamble = 12;

// The longest header read: all a version 1.0 file can hold. numpy writes
// about a hundred bytes for a 2-D array.
constexpr std::size_t kNpyLongestHeader = 65535;

// Where the header lies, from the file's start.
struct NpyHeaderPlace {
  std::size_t start;
  std::size_t length;
};

// Reads the preamble from the first `size` bytes of a file: npySignature,
// npyTruncated (the bytes end inside it), or npyHeader (an unknown version,
// a header longer than kNpyLongestHeader). The header's own bytes need not
// be there.
[[nodiscard]] std::optional<Failure> npyReadPreamble(const std::uint8_t* bytes, std::size_t size,
                                                     NpyHeaderPlace* place);

// What a header says of its array, once accepted.
struct NpyLayout {
  std::int32_t width = 0;   // columns: the shape's second entry
  std::int32_t height = 0;  // rows: its first
  NpyType type = NpyType::float32;
  bool bigEndian = false;  // '>f4' or '>i4' rather than '<f4' or '<i4'
  bool fortranOrder = false;

  std::uint64_t samples() const { return std::uint64_t(width) * std::uint64_t(height); }
  std::uint64_t dataBytes() const { return samples() * 4; }
};

// Reads the header's `length` bytes at `text`: npyHeader, npyComplex,
// npyType, npyShape or npyTooLarge, in that order of precedence.
[[nodiscard]] std::optional<Failure> npyReadHeader(const char* text, std::size_t length,
                                                   NpyLayout* layout);

// Puts `count` samples, the file's samples `first` .. `first + count - 1`
// (in the file's memory order) held as 4 bytes each at `bytes`, into
// their places in the C-ordered `samples` of the array: 4-byte floats or
// ints alike, each in native byte order. `bytes` may be the samples' own
// storage when the file is in C order: each sample is read before its
// place is written.
void npyDecode(const NpyLayout& layout, const std::uint8_t* bytes, std::uint64_t first,
               std::uint64_t count, void* samples);

// Takes the memory for the samples `layout` describes into `*array`, which
// receives the shape and type too; outOfMemory leaves it empty.
[[nodiscard]] std::optional<Failure> npyAllocate(const NpyLayout& layout, NpyArray* array);

// Where the samples of `array` lie, whatever their type.
void* npyStorage(const NpyArray& array);

// The preamble and header numpy writes for a C-ordered little-endian array
// of `type` and shape (height, width), into `text`; returns its length, a
// multiple of 64.
constexpr std::size_t kNpySaveHeaderCapacity = 192;
std::size_t npyWriteHeader(std::int32_t width, std::int32_t height,
                           char (&text)[kNpySaveHeaderCapacity], NpyType type = NpyType::float32);

}  // namespace dwt97::detail
