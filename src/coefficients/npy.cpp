// The .npy format over bytes in memory: the preamble, the samples in either
// byte order and either memory order, the reader of a whole file held in
// memory, and the header numpy writes for a float32 or int32 array.
#include "dwt97/npy.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "coefficients/npy_format.h"
#include "core/allocator.h"
#include "core/report.h"

namespace dwt97 {
namespace detail {
namespace {

constexpr std::uint8_t kMagic[6] = {0x93, 'N', 'U', 'M', 'P', 'Y'};

// A sample's four bytes as a native 32-bit word: a float's bits or an
// int's alike.
std::uint32_t sampleAt(const std::uint8_t* p, bool bigEndian) {
  return bigEndian ? (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                         (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]}
                   : std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                         (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

// Stores `bits` as sample `index` of 4-byte samples of either type.
void put(unsigned char* samples, std::uint64_t index, std::uint32_t bits) {
  std::memcpy(samples + 4 * index, &bits, sizeof bits);
}

}  // namespace

std::optional<Failure> npyReadPreamble(const std::uint8_t* bytes, std::size_t size,
                                       NpyHeaderPlace* place) {
  const std::size_t seen = size < sizeof kMagic ? size : sizeof kMagic;
  if (seen > 0 && std::memcmp(bytes, kMagic, seen) != 0) return Failure::npySignature;
  if (size < sizeof kMagic + 2) return Failure::npyTruncated;
  const std::uint8_t major = bytes[6], minor = bytes[7];
  if (major < 1 || major > 3 || minor != 0) return Failure::npyHeader;
  const std::size_t lengthBytes = major == 1 ? 2 : 4;
  if (size < 8 + lengthBytes) return Failure::npyTruncated;
  std::uint64_t length = 0;
  for (std::size_t k = lengthBytes; k-- > 0;) length = (length << 8) | bytes[8 + k];
  if (length > kNpyLongestHeader) return Failure::npyHeader;
  *place = {8 + lengthBytes, static_cast<std::size_t>(length)};
  return std::nullopt;
}

void npyDecode(const NpyLayout& layout, const std::uint8_t* bytes, std::uint64_t first,
               std::uint64_t count, void* samples) {
  const bool big = layout.bigEndian;
  auto* const into = static_cast<unsigned char*>(samples);
  if (!layout.fortranOrder) {
    for (std::uint64_t k = 0; k < count; ++k) put(into, first + k, sampleAt(bytes + 4 * k, big));
    return;
  }
  // Column after column: sample k of the file is row k % height of column
  // k / height.
  const std::uint64_t width = static_cast<std::uint64_t>(layout.width);
  const std::uint64_t height = static_cast<std::uint64_t>(layout.height);
  std::uint64_t row = first % height, column = first / height;
  for (std::uint64_t k = 0; k < count; ++k) {
    put(into, row * width + column, sampleAt(bytes + 4 * k, big));
    if (++row == height) {
      row = 0;
      ++column;
    }
  }
}

std::size_t npyWriteHeader(std::int32_t width, std::int32_t height,
                           char (&text)[kNpySaveHeaderCapacity], NpyType type) {
  // The dict as numpy writes it, keys sorted, then blanks and a line feed
  // to the next multiple of 64 (a whole 64 more when the line feed alone
  // would end there). The blanks numpy adds after the dict, room for the
  // shape to grow, lie within that padding for every shape a plane has.
  constexpr std::size_t kPreamble = 10;
  char* dict = text + kPreamble;
  std::size_t length = static_cast<std::size_t>(std::snprintf(
      dict, kNpySaveHeaderCapacity - kPreamble,
      "{'descr': '%s', 'fortran_order': False, 'shape': (%ld, %ld), }",
      type == NpyType::int32 ? "<i4" : "<f4", static_cast<long>(height), static_cast<long>(width)));
  const std::size_t padding = 64 - (kPreamble + length + 1) % 64;
  std::memset(dict + length, ' ', padding);
  length += padding;
  dict[length++] = '\n';
  std::memcpy(text, kMagic, sizeof kMagic);
  text[6] = 1;
  text[7] = 0;
  text[8] = static_cast<char>(length & 0xFF);
  text[9] = static_cast<char>(length >> 8);
  return kPreamble + length;
}

std::optional<Failure> npyAllocate(const NpyLayout& layout, NpyArray* array) {
  *array = {};
  const std::size_t count = static_cast<std::size_t>(layout.samples());
  const bool failed = layout.type == NpyType::int32
                          ? allocateZeroed(count, &array->ints).has_value()
                          : allocateZeroed(count, &array->data).has_value();
  if (failed) return Failure::outOfMemory;
  array->width = layout.width;
  array->height = layout.height;
  array->type = layout.type;
  return std::nullopt;
}

void* npyStorage(const NpyArray& array) {
  if (array.type == NpyType::int32) return array.ints;
  return array.data;
}

namespace {

std::optional<Failure> parse(NpyArray* array, const std::uint8_t* bytes, std::size_t size) {
  *array = {};
  NpyHeaderPlace place{};
  if (auto failure = npyReadPreamble(bytes, size, &place)) return failure;
  if (size - place.start < place.length) return Failure::npyTruncated;
  NpyLayout layout;
  const char* header = reinterpret_cast<const char*>(bytes + place.start);
  if (auto failure = npyReadHeader(header, place.length, &layout)) return failure;
  const std::size_t dataStart = place.start + place.length;
  if (size - dataStart < layout.dataBytes()) return Failure::npyTruncated;
  if (auto failure = npyAllocate(layout, array)) return failure;
  npyDecode(layout, bytes + dataStart, 0, layout.samples(), npyStorage(*array));
  return std::nullopt;
}

}  // namespace
}  // namespace detail

void npyRelease(NpyArray* array) {
  detail::releaseZeroed(array->data);
  detail::releaseZeroed(array->ints);
  *array = {};
}

std::optional<Error> npyParse(NpyArray* array, const std::uint8_t* bytes, std::size_t size) {
  return detail::named(detail::parse(array, bytes, size), "npyLoad");
}

}  // namespace dwt97
