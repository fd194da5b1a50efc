// The .npy files of coefficients, float32 and int32: files made byte by
// byte in both byte orders, both memory orders and every version read back
// bit for bit, each refusal from memory and from a file alike, the save's
// exact bytes and its round trip, and files numpy itself writes and reads
// where it is at hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "coefficients/npy_format.h"
#include "dwt97/npy.h"
#include "npy_builder.h"
#include "test_support.h"

using dwt97::Error;
using dwt97::Failure;
using namespace testsupport;

namespace {

std::uint32_t bitsOf(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Samples whose bits tell every byte apart: signs, a subnormal, infinities,
// a NaN with a payload, negative zero.
std::vector<float> samples(int count) {
  const float special[] = {1.5f,
                           -2.25f,
                           -0.0f,
                           1e-40f,
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN(),
                           3.0e38f,
                           0.1f};
  std::vector<float> out;
  for (int k = 0; k < count; ++k) {
    out.push_back(k < 9 ? special[k] : static_cast<float>(k) * 0.37f - 11.0f);
  }
  return out;
}

// Ints whose bytes tell every byte apart, the extremes among them.
std::vector<std::int32_t> ints(int count) {
  const std::int32_t special[] = {INT32_MIN, INT32_MAX, -1, 0, 0x01020304, -0x01020305, 255, -256};
  std::vector<std::int32_t> out;
  for (int k = 0; k < count; ++k) {
    const std::uint32_t wrapped = static_cast<std::uint32_t>(k) * 40503u - 1000000u;
    out.push_back(k < 8 ? special[k] : static_cast<std::int32_t>(wrapped));
  }
  return out;
}

// The array's samples, as bits, against `expected` (top row first).
void expectArray(const dwt97::NpyArray& array, int width, int height,
                 const std::vector<float>& expected) {
  ASSERT_EQ(array.width, width);
  ASSERT_EQ(array.height, height);
  ASSERT_EQ(array.type, dwt97::NpyType::float32);
  ASSERT_NE(array.data, nullptr);
  EXPECT_EQ(array.ints, nullptr);
  for (int k = 0; k < width * height; ++k) {
    EXPECT_EQ(bitsOf(array.data[k]), bitsOf(expected[k])) << "sample " << k;
  }
}

void expectInts(const dwt97::NpyArray& array, int width, int height,
                const std::vector<std::int32_t>& expected) {
  ASSERT_EQ(array.width, width);
  ASSERT_EQ(array.height, height);
  ASSERT_EQ(array.type, dwt97::NpyType::int32);
  ASSERT_NE(array.ints, nullptr);
  EXPECT_EQ(array.data, nullptr);
  const dwt97::ConstIntPlane plane = dwt97::npyIntPlane(array);
  EXPECT_EQ(std::vector<std::int32_t>(plane.data, plane.data + std::size_t(width) * height),
            expected);
}

std::string describe(const std::optional<Error>& error) {
  return error ? std::string(dwt97::failureName(error->failure)) + " of " + error->operation
               : "none";
}

}  // namespace

// Both byte orders, both memory orders, versions 1.0, 2.0 and 3.0, the keys
// in any order with any spacing, Python 2's long integers, unpadded headers
// and bytes after the array: the same samples, bit for bit, through memory
// and through a file, float32 and int32 alike.
TEST(Npy, ReadsEveryLayoutAndVersion) {
  const int w = 5, h = 3;
  const std::vector<float> values = samples(w * h);
  const Bytes little = npySamples(values, w, h, false, false);
  const Bytes fortranBig = npySamples(values, w, h, true, true);
  const struct {
    const char* name;
    Bytes file;
    int width, height;
    std::vector<float> expected = {};     // the samples when not `values`
    std::vector<std::int32_t> ints = {};  // an int32 file's samples
  } cases[] = {
      {"little-endian, C order", npyOf(values, w, h), w, h},
      {"big-endian, C order", npyOf(values, w, h, true), w, h},
      {"little-endian, Fortran order", npyOf(values, w, h, false, true), w, h},
      {"big-endian, Fortran order", npyOf(values, w, h, true, true), w, h},
      {"version 2.0", npyOf(values, w, h, false, false, 2), w, h},
      {"version 3.0, Fortran", npyOf(values, w, h, true, true, 3), w, h},
      {"keys reordered, odd spacing, no trailing comma",
       npyFile(2, "{ 'shape' : ( 3 ,5 ) ,\"fortran_order\":True,\t\"descr\":'>f4'}", fortranBig), w,
       h},
      {"line breaks and a comma closing the shape",
       npyFile(1, "\n{'fortran_order': False,\n 'descr': '<f4',\n 'shape': (3, 5,),\n}\n", little),
       w, h},
      {"Python 2's long integers", npyFile(1, npyDict("<f4", false, "(3L, 5L)"), little), w, h},
      {"a key given twice, the last standing",
       npyFile(1, "{'descr': '<f8', 'fortran_order': False, 'shape': (3, 5), 'descr': '<f4'}",
               little),
       w, h},
      {"bytes after the array",
       [&] {
         Bytes file = npyOf(values, w, h);
         file.insert(file.end(), {1, 2, 3, 4, 5, 6, 7});
         return file;
       }(),
       w, h},
      {"1 x 1", npyOf({-7.5f}, 1, 1), 1, 1, {-7.5f}},
      // A file read in several chunks, its samples scattered over the rows.
      {"Fortran order, 601 x 500", npyOf(samples(601 * 500), 601, 500, true, true), 601, 500,
       samples(601 * 500)},
      {"one row", npyOf(values, 15, 1, true, true), 15, 1},
      {"one column", npyOf(values, 1, 15, false, true), 1, 15},
      {"a header of 65535 bytes",
       [&] {
         const std::string dict = npyDict("<f4", false, "(3, 5)");
         return npyFile(2, dict + std::string(65535 - dict.size(), ' '), little);
       }(),
       w, h},
      {"int32, little-endian, C order", npyOfInts(ints(w * h), w, h), w, h, {}, ints(w * h)},
      {"int32, big-endian, C order", npyOfInts(ints(w * h), w, h, true), w, h, {}, ints(w * h)},
      {"int32, little-endian, Fortran order",
       npyOfInts(ints(w * h), w, h, false, true),
       w,
       h,
       {},
       ints(w * h)},
      {"int32, big-endian, Fortran order, version 3.0",
       npyOfInts(ints(w * h), w, h, true, true, 3),
       w,
       h,
       {},
       ints(w * h)},
      {"int32, Fortran order, 601 x 500",
       npyOfInts(ints(601 * 500), 601, 500, false, true),
       601,
       500,
       {},
       ints(601 * 500)},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<float>& expected = c.expected.empty() ? values : c.expected;
    const auto expect = [&](const dwt97::NpyArray& array) {
      if (c.ints.empty()) {
        expectArray(array, c.width, c.height, expected);
      } else {
        expectInts(array, c.width, c.height, c.ints);
      }
    };
    dwt97::NpyArray array;
    ASSERT_EQ(describe(dwt97::npyParse(&array, c.file.data(), c.file.size())), "none");
    expect(array);
    dwt97::npyRelease(&array);
    EXPECT_EQ(array.data, nullptr);
    EXPECT_EQ(array.ints, nullptr);
    writeFile(dir.file("in.npy"), c.file);
    ASSERT_EQ(describe(dwt97::npyLoad(&array, dir.file("in.npy").c_str())), "none");
    expect(array);
    dwt97::npyRelease(&array);
  }
}

// Every refusal, the first fault of the file deciding, the same from memory
// and from a file, with nothing left allocated (LeakSanitizer watches) and
// the array empty.
TEST(Npy, RefusesWithTheFirstFault) {
  const Bytes good = npyOf(samples(6), 3, 2);
  const Bytes data = npySamples(samples(6), 3, 2, false, false);
  const auto header = [&](const std::string& dict) { return npyFile(1, dict, data); };
  const auto shaped = [&](const std::string& descr, const std::string& shape) {
    return npyFile(1, npyDict(descr, false, shape), data);
  };
  const auto cut = [&](std::size_t length) { return Bytes(good.begin(), good.begin() + length); };
  const Bytes bmp = build(picture(4, 4));
  const struct {
    const char* name;
    Bytes file;
    Failure failure;
  } cases[] = {
      {"empty", {}, Failure::npyTruncated},
      {"cut in the magic", cut(4), Failure::npyTruncated},
      {"a bitmap", bmp, Failure::npySignature},
      {"a zip (.npz)", {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0, 0, 0}, Failure::npySignature},
      {"a wrong magic byte",
       [&] {
         Bytes file = good;
         file[5] = 'X';
         return file;
       }(),
       Failure::npySignature},
      {"cut in the version", cut(7), Failure::npyTruncated},
      {"version 4.0", npyFile(4, npyDict("<f4", false, "(2, 3)"), data), Failure::npyHeader},
      {"version 0.0", npyFile(0, npyDict("<f4", false, "(2, 3)"), data), Failure::npyHeader},
      {"version 1.1",
       [&] {
         Bytes file = good;
         file[7] = 1;
         return file;
       }(),
       Failure::npyHeader},
      {"cut in the header's length", cut(9), Failure::npyTruncated},
      {"cut in a 2.0 header's length",
       [] {
         const Bytes file = npyOf(samples(6), 3, 2, false, false, 2);
         return Bytes(file.begin(), file.begin() + 11);
       }(),
       Failure::npyTruncated},
      {"a header of 65536 bytes", npyFile(2, "", data, 65536), Failure::npyHeader},
      {"cut in the header", cut(60), Failure::npyTruncated},
      {"the header alone", cut(128), Failure::npyTruncated},
      {"one byte short", cut(good.size() - 1), Failure::npyTruncated},
      {"no dict", header("['descr', 'fortran_order', 'shape']"), Failure::npyHeader},
      {"an empty header", header(""), Failure::npyHeader},
      {"a key missing", header("{'descr': '<f4', 'shape': (2, 3)}"), Failure::npyHeader},
      {"a key too many",
       header("{'descr': '<f4', 'fortran_order': False, 'shape': (2, 3), 'x': 1}"),
       Failure::npyHeader},
      {"a key unquoted", header("{descr: '<f4', 'fortran_order': False, 'shape': (2, 3)}"),
       Failure::npyHeader},
      {"fortran_order not a bool", header("{'descr': '<f4', 'fortran_order': 0, 'shape': (2, 3)}"),
       Failure::npyHeader},
      {"true for True", header("{'descr': '<f4', 'fortran_order': true, 'shape': (2, 3)}"),
       Failure::npyHeader},
      {"a shape as a list", shaped("<f4", "[2, 3]"), Failure::npyHeader},
      {"a shape of no tuple", shaped("<f4", "(6)"), Failure::npyHeader},
      {"a shape of no integer", shaped("<f4", "(2, 3.0)"), Failure::npyHeader},
      {"a comma missing", header("{'descr': '<f4' 'fortran_order': False, 'shape': (2, 3)}"),
       Failure::npyHeader},
      {"a string unclosed", header("{'descr': '<f4, 'fortran_order': False, 'shape': (2, 3)}"),
       Failure::npyHeader},
      {"the dict unclosed", header("{'descr': '<f4', 'fortran_order': False, 'shape': (2, 3)"),
       Failure::npyHeader},
      {"more after the dict", header(npyDict("<f4", false, "(2, 3)") + " x"), Failure::npyHeader},
      {"padded with NUL", header(npyDict("<f4", false, "(2, 3)") + std::string(4, '\0')),
       Failure::npyHeader},
      {"fields nested too deep",
       shaped(std::string(40, '[') + "'a'" + std::string(40, ']'), "(2, 3)"), Failure::npyHeader},
      {"complex64", shaped("<c8", "(2, 3)"), Failure::npyComplex},
      {"complex128, big-endian", shaped(">c16", "(2, 3)"), Failure::npyComplex},
      {"complex, before a wrong shape", shaped("<c8", "(1, 2, 3)"), Failure::npyComplex},
      {"float64", shaped("<f8", "(2, 3)"), Failure::npyType},
      {"float16", shaped("<f2", "(2, 3)"), Failure::npyType},
      {"int64", shaped("<i8", "(2, 3)"), Failure::npyType},
      {"uint32", shaped("<u4", "(2, 3)"), Failure::npyType},
      {"uint8", shaped("|u1", "(2, 3)"), Failure::npyType},
      {"float32 of no byte order", shaped("f4", "(2, 3)"), Failure::npyType},
      {"int32 of no byte order", shaped("i4", "(2, 3)"), Failure::npyType},
      {"a type before a wrong shape", shaped("<f8", "(0, 0)"), Failure::npyType},
      {"structured",
       header("{'descr': [('x', '<f4'), ('y', '<f4')], 'fortran_order': False, 'shape': (2, 3)}"),
       Failure::npyType},
      {"0-D", shaped("<f4", "()"), Failure::npyShape},
      {"1-D", shaped("<f4", "(6,)"), Failure::npyShape},
      {"3-D", shaped("<f4", "(1, 2, 3)"), Failure::npyShape},
      {"int32, 1-D", shaped(">i4", "(6,)"), Failure::npyShape},
      {"no rows", shaped("<f4", "(0, 3)"), Failure::npyShape},
      {"no columns", shaped("<f4", "(2, 0)"), Failure::npyShape},
      {"negative", shaped("<f4", "(-2, -3)"), Failure::npyShape},
      {"65536 rows", shaped("<f4", "(65536, 1)"), Failure::npyTooLarge},
      {"2^31 columns", shaped("<f4", "(1, 2147483648)"), Failure::npyTooLarge},
      {"2^31 - 1 + 32767 samples", shaped("<f4", "(65535, 32769)"), Failure::npyTooLarge},
      {"beyond 64 bits", shaped("<f4", "(1, 99999999999999999999999999)"), Failure::npyTooLarge},
      {"2^31 - 1 samples in a small file", shaped("<f4", "(1, 2147483647)"), Failure::npyTruncated},
      {"int32, one byte short",
       [] {
         const Bytes file = npyOfInts(ints(6), 3, 2, true, true);
         return Bytes(file.begin(), file.end() - 1);
       }(),
       Failure::npyTruncated},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string expected = std::string(dwt97::failureName(c.failure)) + " of npyLoad";
    // What the array held before must not survive.
    const dwt97::NpyArray stale{reinterpret_cast<float*>(&dir), 7, 7, dwt97::NpyType::int32,
                                reinterpret_cast<std::int32_t*>(&dir)};
    dwt97::NpyArray array = stale;
    EXPECT_EQ(describe(dwt97::npyParse(&array, c.file.data(), c.file.size())), expected);
    EXPECT_EQ(array.data, nullptr);
    EXPECT_EQ(array.ints, nullptr);
    EXPECT_EQ(array.width, 0);
    writeFile(dir.file("in.npy"), c.file);
    array = stale;
    EXPECT_EQ(describe(dwt97::npyLoad(&array, dir.file("in.npy").c_str())), expected);
    EXPECT_EQ(array.data, nullptr);
    EXPECT_EQ(array.ints, nullptr);
    EXPECT_EQ(array.height, 0);
  }
  dwt97::NpyArray array;
  const int descriptors = openDescriptors();
  EXPECT_EQ(describe(dwt97::npyLoad(&array, dir.file("missing.npy").c_str())),
            "npyOpen of npyLoad");
  EXPECT_EQ(describe(dwt97::npyLoad(&array, dir.path().c_str())), "npyNotRegularFile of npyLoad");
  EXPECT_EQ(openDescriptors(), descriptors);
}

// The save writes what numpy writes for a C-ordered float32 or int32 array:
// version 1.0, the dict with its keys sorted, blanks and a line feed to 128
// bytes, then the samples little-endian, top row first whatever the plane's
// stride; and the file reads back bit for bit.
TEST(Npy, SaveIsNumpysLayoutAndReadsBack) {
  const struct {
    int width, height;
    std::ptrdiff_t stride;  // in samples; negative: the rows stored bottom-up
  } shapes[] = {{1, 1, 1},    {3, 2, 3},        {7, 5, -7},   {4, 3, 9},
                {2, 1030, 2}, {1030, 2, -1030}, {1, 3000, -1}};
  TempDir dir;
  for (const auto& shape : shapes) {
    const int w = shape.width, h = shape.height;
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + ", stride " +
                 std::to_string(shape.stride));
    const std::vector<float> values = samples(w * h);
    const std::vector<std::int32_t> intValues = ints(w * h);
    const std::ptrdiff_t step = shape.stride < 0 ? -shape.stride : shape.stride;
    std::vector<float> storage(static_cast<std::size_t>(step * h), 99.0f);
    std::vector<std::int32_t> intStorage(storage.size(), 99);
    const std::ptrdiff_t topRow = shape.stride < 0 ? (h - 1) * step : 0;
    const dwt97::FloatPlane plane{storage.data() + topRow, shape.stride, w, h};
    const dwt97::IntPlane intPlane{intStorage.data() + topRow, shape.stride, w, h};
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) {
        plane.row(r)[c] = values[r * w + c];
        intPlane.row(r)[c] = intValues[r * w + c];
      }
    }
    ASSERT_EQ(describe(dwt97::npySave(dir.file("out.npy").c_str(), plane)), "none");
    ASSERT_EQ(describe(dwt97::npySave(dir.file("ints.npy").c_str(), intPlane)), "none");
    const std::string shapeText = "(" + std::to_string(h) + ", " + std::to_string(w) + ")";
    std::string dict = npyDict("<f4", false, shapeText), intDict = npyDict("<i4", false, shapeText);
    dict.resize(117, ' ');
    intDict.resize(117, ' ');
    EXPECT_EQ(readFile(dir.file("out.npy")),
              npyFile(1, dict + "\n", npySamples(values, w, h, false, false)));
    EXPECT_EQ(readFile(dir.file("ints.npy")),
              npyFile(1, intDict + "\n", npySamples(intValues, w, h, false, false)));
    dwt97::NpyArray array;
    ASSERT_EQ(describe(dwt97::npyLoad(&array, dir.file("out.npy").c_str())), "none");
    expectArray(array, w, h, values);
    dwt97::npyRelease(&array);
    ASSERT_EQ(describe(dwt97::npyLoad(&array, dir.file("ints.npy").c_str())), "none");
    expectInts(array, w, h, intValues);
    dwt97::npyRelease(&array);
  }
  EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"ints.npy", "out.npy"}));
}

// numpy's header for the widest and tallest shapes is 128 bytes too: the
// dict, blanks, a line feed (numpy 1.24 wrote these bytes).
TEST(Npy, SaveHeaderOfTheLargestShapes) {
  const struct {
    std::int32_t width, height;
    const char* dict;
    dwt97::NpyType type = dwt97::NpyType::float32;
  } cases[] = {
      {2147483647, 1, "{'descr': '<f4', 'fortran_order': False, 'shape': (1, 2147483647), }"},
      {32768, 65535, "{'descr': '<f4', 'fortran_order': False, 'shape': (65535, 32768), }"},
      {1, 2147483647, "{'descr': '<f4', 'fortran_order': False, 'shape': (2147483647, 1), }"},
      {32768, 65535, "{'descr': '<i4', 'fortran_order': False, 'shape': (65535, 32768), }",
       dwt97::NpyType::int32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dict);
    char text[dwt97::detail::kNpySaveHeaderCapacity];
    const std::size_t length = dwt97::detail::npyWriteHeader(c.width, c.height, text, c.type);
    std::string dict = c.dict;
    dict.resize(117, ' ');
    const Bytes expected = npyFile(1, dict + "\n", {});
    EXPECT_EQ(Bytes(text, text + length), expected);
  }
}

// A save that cannot be made leaves an older file as it was and nothing
// beside it; a plane of no samples is refused before any file is touched.
TEST(Npy, SaveFailuresKeepTheOlderFile) {
  TempDir dir;
  const Bytes older = {'o', 'l', 'd', 0, 255};
  writeFile(dir.file("out.npy"), older);
  ASSERT_TRUE(makeFolder(dir.file("folder.npy")));
  float sample = 1.0f;
  const dwt97::ConstFloatPlane one = dwt97::planeOver<const float>(&sample, 1, 1);
  EXPECT_EQ(describe(dwt97::npySave(dir.file("no/such/out.npy").c_str(), one)),
            "saveCreate of npySave");
  EXPECT_EQ(describe(dwt97::npySave(dir.file("folder.npy").c_str(), one)), "saveCreate of npySave");
  EXPECT_EQ(describe(dwt97::npySave(dir.file("out.npy").c_str(),
                                    dwt97::planeOver<const float>(&sample, 0, 1))),
            "planeShapes of npySave");
  EXPECT_EQ(describe(dwt97::npySave(dir.file("out.npy").c_str(),
                                    dwt97::ConstFloatPlane{nullptr, 1, 1, 1})),
            "planeShapes of npySave");
  std::int32_t value = 1;
  EXPECT_EQ(
      describe(dwt97::npySave(dir.file("folder.npy").c_str(), dwt97::planeOver(&value, 1, 1))),
      "saveCreate of npySave");
  EXPECT_EQ(
      describe(dwt97::npySave(dir.file("out.npy").c_str(), dwt97::ConstIntPlane{nullptr, 1, 1, 1})),
      "planeShapes of npySave");
  EXPECT_EQ(readFile(dir.file("out.npy")), older);
  EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"folder.npy", "out.npy"}));
  EXPECT_EQ(listDir(dir.file("folder.npy")), std::vector<std::string>{});
}

// Where /usr/bin/python3 has numpy: the files numpy writes (both byte
// orders, both memory orders, every version, int32 too) read as numpy has
// the array, and numpy reads a saved file as the plane and writes the same
// bytes. Skipped elsewhere; numpy is
// no requirement of the build.
TEST(Npy, FilesNumpyWritesAndReads) {
#if defined(_WIN32) || defined(DWT97_EMULATOR)
  GTEST_SKIP() << "numpy runs natively only";
#else
  const std::string python = "/usr/bin/python3";
  TempDir dir;
  RunOptions probe;
  probe.arguments = {"-c", "import numpy"};
  if (!exists(python) || runProgram(python, dir.path(), probe).status != 0) {
    GTEST_SKIP() << "no numpy for " << python;
  }
  const int w = 37, h = 11;
  std::vector<float> values(static_cast<std::size_t>(w * h));
  for (int k = 0; k < w * h; ++k) values[k] = static_cast<float>(k) * 0.25f - 40.0f;
  std::vector<std::int32_t> intValues(values.size());
  for (int k = 0; k < w * h; ++k) intValues[k] = static_cast<std::int32_t>(k * -104729 + 77);
  const dwt97::ConstFloatPlane plane = dwt97::planeOver<const float>(values.data(), w, h);
  ASSERT_EQ(describe(dwt97::npySave(dir.file("ours.npy").c_str(), plane)), "none");
  ASSERT_EQ(describe(dwt97::npySave(dir.file("ours_int.npy").c_str(),
                                    dwt97::planeOver<const std::int32_t>(intValues.data(), w, h))),
            "none");
  RunOptions write;
  write.arguments = {"-c", R"(
import numpy as np
from numpy.lib import format as f
a = (np.arange(11 * 37, dtype=np.float32) * np.float32(0.25) - np.float32(40)).reshape(11, 37)
np.save("c_little.npy", a)
np.save("c_big.npy", a.astype(">f4"))
np.save("fortran_little.npy", np.asfortranarray(a))
np.save("fortran_big.npy", np.asfortranarray(a.astype(">f4")))
for version in ((1, 0), (2, 0), (3, 0)):
    with open("v%d.npy" % version[0], "wb") as out:
        f.write_array(out, np.asfortranarray(a), version=version)
i = (np.arange(11 * 37, dtype=np.int32) * np.int32(-104729) + np.int32(77)).reshape(11, 37)
np.save("int_little.npy", i)
np.save("int_big_fortran.npy", np.asfortranarray(i.astype(">i4")))
for name, theirs, dtype in (("ours.npy", a, "<f4"), ("ours_int.npy", i, "<i4")):
    b = np.load(name)
    assert b.dtype == np.dtype(dtype) and b.shape == (11, 37) and b.flags.c_contiguous
    assert np.array_equal(theirs, b)
    np.save("theirs.npy", theirs)
    with open(name, "rb") as mine, open("theirs.npy", "rb") as numpys:
        assert mine.read() == numpys.read(), "the bytes numpy writes"
)"};
  const RunResult run = runProgram(python, dir.path(), write);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"c_little.npy", "c_big.npy", "fortran_little.npy", "fortran_big.npy",
                           "v1.npy", "v2.npy", "v3.npy"}) {
    SCOPED_TRACE(name);
    dwt97::NpyArray array;
    ASSERT_EQ(describe(dwt97::npyLoad(&array, dir.file(name).c_str())), "none");
    expectArray(array, w, h, values);
    dwt97::npyRelease(&array);
  }
  for (const char* name : {"int_little.npy", "int_big_fortran.npy"}) {
    SCOPED_TRACE(name);
    dwt97::NpyArray array;
    ASSERT_EQ(describe(dwt97::npyLoad(&array, dir.file(name).c_str())), "none");
    expectInts(array, w, h, intValues);
    dwt97::npyRelease(&array);
  }
#endif
}
