// One picture, the same bytes on every machine. The hashes below were taken
// once; Linux on x86-64 and arm64 and Windows must all reproduce them, with
// the tool itself and with every pass set the processor runs, so no
// compiler, instruction set or C library may change a single output byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "dwt97/planes.h"
#include "filterbank/kernels/kernels.h"
#include "test_support.h"

using namespace testsupport;
using dwt97::planeAllocate;
using dwt97::PlaneBuffer;
using dwt97::planeRelease;

namespace {

std::uint64_t fnv1a(const Bytes& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (std::uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  return hash;
}

// With one pass set: forward rows then columns into zero-filled planes, as
// the tool ran them before the fused transform (the tool's output); the
// fused transform in place on two threads, which must give the same bytes;
// then the output through the inverse columns and rows.
struct SetOutputs {
  Bytes forward, fused, inverse;
};

SetOutputs throughPassSet(const DwtPassSet& set, std::int32_t width, std::int32_t rows,
                          const Bytes& pixels) {
  PlaneBuffer planes[5];
  for (PlaneBuffer& plane : planes)
    EXPECT_EQ(dwt97::planeAllocate(&plane, width, rows), std::nullopt);
  std::copy(pixels.begin(), pixels.end(), planes[0].block);
  dwtForwardRowsWith(set, planes[1].rows, planes[0].rows, width, rows, 1);
  EXPECT_EQ(dwtForwardColumnsWith(set, planes[2].rows, planes[1].rows, width, rows, 1),
            std::nullopt);
  EXPECT_EQ(dwtInverseColumnsWith(set, planes[3].rows, planes[2].rows, width / 2, rows / 2, 1),
            std::nullopt);
  dwtInverseRowsWith(set, planes[4].rows, planes[3].rows, width / 2, rows / 2, 1);
  SetOutputs out{Bytes(planes[2].block, planes[2].block + pixels.size()),
                 {},
                 Bytes(planes[4].block, planes[4].block + pixels.size())};
  EXPECT_EQ(dwtForward2dWith(set, planes[0].rows, width, rows, 2), std::nullopt);
  for (std::int32_t r = 0; r < rows; ++r) {
    out.fused.insert(out.fused.end(), planes[0].rows[r], planes[0].rows[r] + width);
  }
  for (PlaneBuffer& plane : planes) planeRelease(&plane);
  return out;
}

struct Case {
  const char* name;
  testsupport::Picture picture;  // empty: the bundled sample
  std::uint64_t output;          // hash of quilout.dat
  std::uint64_t inverse;         // hash of the output through the inverse passes
};

testsupport::Picture variant(std::int32_t width, std::int32_t rows, bool topDown, bool unpadded) {
  testsupport::Picture p = picture(width, rows);
  p.topDown = topDown;
  p.dropLastRowPadding = unpadded;
  return p;
}

}  // namespace

TEST(SameBytes, EveryPlatformAndPassSet) {
  const Case cases[] = {
      {"bundled sample 512 x 512", {}, 0xF167C3B62FD16014ull, 0xBD49BC3C30F37675ull},
      {"odd 7 x 5", variant(7, 5, false, false), 0xBD20C167838C54B7ull, 0x4AB6BFC39AC06310ull},
      {"top-down 33 x 17", variant(33, 17, true, false), 0x2434E479FE2E5C85ull,
       0xB7FF53486EB9D271ull},
      {"unpadded last row 13 x 9", variant(13, 9, false, true), 0x7F88E4012BBD54CAull,
       0x9AC8817D06B42D60ull},
      {"past a vector strip 8195 x 5", variant(8195, 5, false, false), 0xB44934E02F5BC639ull,
       0xA80BC0C88CC8BEA8ull},
      {"tall 3 x 1031", variant(3, 1031, true, true), 0x929AB4F1A5A0207Dull, 0x111F548E11EE2C78ull},
  };
  // The bundled sample is drawn by the generator built for this platform.
  const Bytes sample = readFile(DWT97_SAMPLE_BMP);
  EXPECT_EQ(fnv1a(sample), 0x083F28F9745A464Eull) << "the generator drew another sample";

  const DwtPassSet* const* sets = nullptr;
  const int setCount = dwtPassSets(&sets);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool isSample = c.picture.width == 0;
    const Bytes file = isSample ? sample : testsupport::build(c.picture);
    const std::int32_t width = isSample ? 512 : c.picture.width;
    const std::int32_t rows = isSample ? 512 : c.picture.height;
    const Bytes pixels = isSample ? Bytes(sample.begin() + 1078, sample.end()) : c.picture.pixels;

    TempDir dir;
    writeFile(dir.file("quilgray.bmp"), file);
    const RunResult run = runTool(dir.path(), {});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fnv1a(readFile(dir.file("quilout.dat"))), c.output) << "the tool";
    for (int k = 0; k < setCount; ++k) {
      const SetOutputs bytes = throughPassSet(*sets[k], width, rows, pixels);
      EXPECT_EQ(fnv1a(bytes.forward), c.output) << sets[k]->name;
      EXPECT_EQ(fnv1a(bytes.fused), c.output) << sets[k]->name << " fused";
      EXPECT_EQ(fnv1a(bytes.inverse), c.inverse) << sets[k]->name << " inverse";
    }
  }
}
