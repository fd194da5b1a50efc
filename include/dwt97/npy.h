// Coefficients in numpy's .npy files: reading a 2-D float32 or int32 array
// from a file or from bytes in memory, and saving a float or an int plane as
// one.
//
// A file is the magic "\x93NUMPY", a version (1.0, 2.0 or 3.0), the header's
// length (2 bytes little-endian for 1.0, 4 for the others), the header, a
// Python dict literal with exactly the keys 'descr', 'fortran_order' and
// 'shape', then the array's data. Read are the arrays of descr '<f4' or
// '>f4' (little- or big-endian float32: the 9/7's coefficients) and '<i4'
// or '>i4' (int32: the reversible 5/3's), in C order or in Fortran order
// (column after column), of shape (height, width); bytes after the data are
// ignored, as numpy's own reader ignores them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dwt97/coefficients.h"
#include "dwt97/export.h"
#include "dwt97/failure.h"

namespace dwt97 {

// The samples' type of a loaded array.
enum class NpyType { float32, int32 };

// A loaded array: `height` rows of `width` native samples, top row first,
// one row after the other (C order, whatever the file's order and byte
// order), released with npyRelease(). A float32 array holds its samples at
// `data`, an int32 one at `ints`; the other pointer is null.
struct NpyArray {
  float* data = nullptr;
  std::int32_t width = 0, height = 0;
  NpyType type = NpyType::float32;
  std::int32_t* ints = nullptr;
};

// The array as a plane, for the coefficient operations: npyPlane() for a
// float32 array, npyIntPlane() for an int32 one (the other's plane has no
// samples, which every operation refuses).
inline ConstFloatPlane npyPlane(const NpyArray& array) {
  return planeOver<const float>(array.data, array.width, array.height);
}
inline ConstIntPlane npyIntPlane(const NpyArray& array) {
  return planeOver<const std::int32_t>(array.ints, array.width, array.height);
}

// Releases the array's samples and empties it; an empty array is allowed.
DWT97_API void npyRelease(NpyArray* array);

// Reads the .npy file held in the `size` bytes at `bytes` into `*array`
// (its previous contents are ignored; they are not released). Fails, with
// `*array` empty and nothing left allocated, with the first of these that
// applies, in the order of the file:
//   npySignature  the bytes do not begin with the magic;
//   npyTruncated  they end inside the magic, the version or the header's
//                 length;
//   npyHeader     an unknown version, or a header longer than 65535 bytes;
//   npyTruncated  the bytes end inside the header;
//   npyHeader     a header that is no dict of exactly the three keys with
//                 values of their kinds (a string, or a list for a
//                 structured array, for 'descr'; True or False for
//                 'fortran_order'; a tuple of integers for 'shape');
//   npyComplex    a complex descr ('<c8', '>c16', ...);
//   npyType       any other descr than '<f4', '>f4', '<i4' and '>i4'
//                 (float64, other integers, structured arrays, ...);
//   npyShape      a shape of other than 2 entries, or with an entry below 1;
//   npyTooLarge   more than 65535 rows or 2^31 - 1 samples;
//   npyTruncated  the bytes end before the last sample;
//   outOfMemory   the samples cannot be had.
// Every failure names the operation "npyLoad".
[[nodiscard]] DWT97_API std::optional<Error> npyParse(NpyArray* array, const std::uint8_t* bytes,
                                                      std::size_t size);

// npyParse() of the file at `path`, read through the file: its header is
// checked (the file's length included) before the samples' memory is taken.
// A file that cannot be opened is npyOpen, one that is not a regular file
// (a folder, a device, a pipe) npyNotRegularFile, one whose reading fails
// npyRead.
[[nodiscard]] DWT97_API std::optional<Error> npyLoad(NpyArray* array, const char* path);

// Writes `plane` to `path` as a version 1.0 .npy file, as numpy.save writes
// a C-ordered float32 array of shape (height, width): descr '<f4',
// fortran_order False, the header padded with blanks and ended by a line
// feed so that the data starts at a multiple of 64 bytes, then the samples
// little-endian, top row first. The file goes through a temporary beside
// `path` that replaces it only once complete, as every save of the library
// does. Fails with planeShapes for a plane of no samples, saveCreate or
// saveWrite (whose messages are those of every save) or outOfMemory, each
// naming "npySave", leaving an older file at `path` as it was.
[[nodiscard]] DWT97_API std::optional<Error> npySave(const char* path, ConstFloatPlane plane);

// The same for an int plane, as numpy.save writes a C-ordered int32 array:
// descr '<i4', the samples little-endian two's complement.
[[nodiscard]] DWT97_API std::optional<Error> npySave(const char* path, ConstIntPlane plane);

}  // namespace dwt97
