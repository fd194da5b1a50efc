// .npy files on disk: the reader that checks the header and the file's
// length before it takes the samples' memory, reading them straight into
// place, and the save of a float or an int plane through the platform's
// safe save.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <type_traits>

#include "coefficients/npy_format.h"
#include "core/allocator.h"
#include "core/report.h"
#include "dwt97/npy.h"
#include "platform/platform.h"

namespace dwt97 {
namespace detail {
namespace {

// Samples read per chunk of a file in Fortran order, whose samples are
// scattered over the rows.
constexpr std::size_t kChunkSamples = std::size_t{1} << 18;

// The open input, closed however the load ends.
struct Input {
  std::FILE* file = nullptr;
  ~Input() {
    if (file != nullptr) std::fclose(file);
  }
};

// Reads exactly `count` bytes: npyRead when the system fails, npyTruncated
// when the file has ended (it may have shrunk since its length was taken).
std::optional<Failure> readExactly(std::FILE* file, void* into, std::size_t count) {
  if (std::fread(into, 1, count, file) == count) return std::nullopt;
  return std::ferror(file) ? Failure::npyRead : Failure::npyTruncated;
}

std::optional<Failure> readSamples(std::FILE* file, const NpyLayout& layout, void* samples) {
  const std::uint64_t total = layout.samples();
  if (!layout.fortranOrder) {
    // In place: each sample's four bytes become the sample itself.
    auto* bytes = static_cast<std::uint8_t*>(samples);
    if (auto failure = readExactly(file, bytes, static_cast<std::size_t>(layout.dataBytes()))) {
      return failure;
    }
    npyDecode(layout, bytes, 0, total, samples);
    return std::nullopt;
  }
  std::uint8_t* chunk = nullptr;
  const std::size_t chunkSamples =
      static_cast<std::size_t>(std::min<std::uint64_t>(kChunkSamples, total));
  if (allocateZeroed(chunkSamples * 4, &chunk)) return Failure::outOfMemory;
  std::optional<Failure> failure;
  for (std::uint64_t first = 0; first < total && !failure; first += chunkSamples) {
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunkSamples, total - first));
    failure = readExactly(file, chunk, count * 4);
    if (!failure) npyDecode(layout, chunk, first, count, samples);
  }
  releaseZeroed(chunk);
  return failure;
}

std::optional<Failure> load(NpyArray* array, const char* path) {
  *array = {};
  Input input;
  input.file = openForReading(path);
  if (input.file == nullptr) return Failure::npyOpen;
  FileFacts facts;
  if (!fileFacts(input.file, &facts) || !facts.regular) return Failure::npyNotRegularFile;
  std::uint8_t preamble[kNpyLongestPreamble];
  const std::size_t got = std::fread(preamble, 1, sizeof preamble, input.file);
  if (std::ferror(input.file)) return Failure::npyRead;
  NpyHeaderPlace place{};
  if (auto failure = npyReadPreamble(preamble, got, &place)) return failure;
  char* header = nullptr;
  if (allocateZeroed(place.length + 1, &header)) return Failure::outOfMemory;
  std::optional<Failure> failure;
  if (std::fseek(input.file, static_cast<long>(place.start), SEEK_SET) != 0) {
    failure = Failure::npyRead;
  }
  if (!failure) failure = readExactly(input.file, header, place.length);
  NpyLayout layout;
  if (!failure) failure = npyReadHeader(header, place.length, &layout);
  releaseZeroed(header);
  if (failure) return failure;
  // The file must hold every sample before their memory is taken.
  if (facts.size - (place.start + place.length) < layout.dataBytes()) {
    return Failure::npyTruncated;
  }
  // A system whose addresses are narrower than the samples' size cannot
  // hold them.
  if (layout.dataBytes() > SIZE_MAX) return Failure::outOfMemory;
  NpyArray taken;
  if (auto failure = npyAllocate(layout, &taken)) return failure;
  if (auto read = readSamples(input.file, layout, npyStorage(taken))) {
    npyRelease(&taken);
    return read;
  }
  *array = taken;
  return std::nullopt;
}

bool littleEndianMachine() {
  const std::uint32_t one = 1;
  std::uint8_t first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// The samples of `plane`, 4-byte floats or ints, top row first,
// little-endian: the rows themselves on a little-endian machine, gathered in
// as few writes as the system allows; otherwise each row through a
// converted copy.
template <typename T>
std::optional<Failure> writeSamples(SaveFile& save, PlaneView<const T> plane) {
  static_assert(sizeof(T) == 4, "the samples of a .npy file written here are 4 bytes");
  const std::size_t rowBytes = static_cast<std::size_t>(plane.width) * sizeof(T);
  if (littleEndianMachine()) {
    constexpr std::size_t kGather = 1024;
    WritePiece pieces[kGather];
    std::size_t used = 0;
    for (std::int64_t r = 0; r < plane.height; ++r) {
      pieces[used++] = {plane.row(r), rowBytes};
      if (used == kGather || r + 1 == plane.height) {
        if (auto failure = save.writeGathered(pieces, used)) return failure;
        used = 0;
      }
    }
    return std::nullopt;
  }
  std::uint8_t* row = nullptr;
  if (allocateZeroed(rowBytes, &row)) return Failure::outOfMemory;
  std::optional<Failure> failure;
  for (std::int64_t r = 0; r < plane.height && !failure; ++r) {
    const T* from = plane.row(r);
    for (std::int32_t c = 0; c < plane.width; ++c) {
      std::uint32_t bits;
      std::memcpy(&bits, from + c, sizeof bits);
      for (int k = 0; k < 4; ++k) row[4 * c + k] = static_cast<std::uint8_t>(bits >> (8 * k));
    }
    failure = save.write(row, rowBytes);
  }
  releaseZeroed(row);
  return failure;
}

template <typename T>
std::optional<Failure> save(const char* path, PlaneView<const T> plane) {
  char header[kNpySaveHeaderCapacity];
  const NpyType type = std::is_same_v<T, float> ? NpyType::float32 : NpyType::int32;
  const std::size_t headerBytes = npyWriteHeader(plane.width, plane.height, header, type);
  SaveFile file;
  std::optional<Failure> failure = file.create(path);
  if (!failure) failure = file.write(header, headerBytes);
  if (!failure) failure = writeSamples(file, plane);
  if (!failure) failure = file.finish();
  if (!failure) return file.commit();
  file.abort();
  return failure;
}

}  // namespace
}  // namespace detail

std::optional<Error> npyLoad(NpyArray* array, const char* path) {
  return detail::named(detail::load(array, path), "npyLoad");
}

namespace {

template <typename T>
std::optional<Error> saveChecked(const char* path, PlaneView<const T> plane) {
  if (plane.data == nullptr || plane.width < 1 || plane.height < 1) {
    return Error{Failure::planeShapes, "npySave", 0};
  }
  return detail::named(detail::save(path, plane), "npySave");
}

}  // namespace

std::optional<Error> npySave(const char* path, ConstFloatPlane plane) {
  return saveChecked(path, plane);
}

std::optional<Error> npySave(const char* path, ConstIntPlane plane) {
  return saveChecked(path, plane);
}

}  // namespace dwt97
