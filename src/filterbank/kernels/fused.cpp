// The fused forward transform of one pass set (see DwtFusedPrepareKernel):
// the row pass's bytes of each source row are kept as floats, the
// intermediate plane the column pass would read, and the column pass works
// from them as the rows come.
#include "filterbank/kernels/common.h"

namespace {

// Where the float rows go: row r of the plane in ring slot r % 12, except the
// rows from 2 * j1 on, which the next span overwrites and which the span's
// preparation keeps in slots 12, 13 and 14. Outputs j read the rows at
// signal index 2j - 4 .. 2j + 4 reflected into the column, all within rows
// 2j - 4 .. 2j + 4 once the column is longer than the ring (for shorter
// ones every row has its own slot); a step makes pairs j and j + 1 and so
// reads eleven rows, which twelve slots hold. Each source row is converted
// once per span, before its bytes are overwritten by the outputs stored
// there (out of place, from the source rows, which nothing overwrites).
struct FusedRing {
  float* ring;
  std::int64_t stride;
  std::int64_t trailingFrom;  // 2 * j1: rows from here are the next span's

  float* row(std::int64_t r) const {
    const std::int64_t slot = r >= trailingFrom ? 12 + (r - trailingFrom) : r % 12;
    return ring + slot * stride;
  }
};
static_assert(kFusedRingRows == 15, "twelve ring slots and three for the next span's rows");

// The row pass of line x (n >= 2 samples) as floats of its output bytes:
// low outputs in out[0, half), high outputs in out[half, 2 * half). Nothing
// beyond is written (with an odd n the last entry keeps its zero).
void rowToFloats(const std::uint8_t* x, std::int32_t n, std::int64_t half, const AnalysisTaps& taps,
                 float* out) {
  filterRow(x, n, half, taps, [out, half](auto d, std::int64_t j, auto low, auto high) {
    using D = decltype(d);
    D::storeByteFloats(out + j, low);
    D::storeByteFloats(out + half + j, high);
  });
}

// Output pairs j and, with `both`, j + 1 from the ring's float rows `in`
// (rows 2j - 4 .. 2j + 6 as the column reads them), over the whole width.
// Two pairs at once read eleven rows for four outputs instead of nine for two.
void columnSteps(const float* const* in, bool both, std::uint8_t* const* out, std::int64_t width,
                 const AnalysisTaps& taps, const std::uint8_t* nextA, const std::uint8_t* nextB) {
  forEachLane(0, width, [&](auto d, std::int64_t v) {
    using D = decltype(d);
    // The source rows the next step converts come from memory meanwhile.
    if (v % 64 == 0) {
      prefetch(nextA + v);
      prefetch(nextB + v);
    }
    typename D::V s[11];
    for (int k = 0; k < 9; ++k) s[k] = D::load(in[k] + v);
    typename D::V low, high;
    analyse(s, taps.of(d), low, high);
    D::storeTruncated(out[0] + v, low);
    D::storeTruncated(out[1] + v, high);
    if (both) {
      s[9] = D::load(in[9] + v);
      s[10] = D::load(in[10] + v);
      analyse(s + 2, taps.of(d), low, high);
      D::storeTruncated(out[2] + v, low);
      D::storeTruncated(out[3] + v, high);
    }
  });
}

}  // namespace

namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE {

void forward2dPrepare(SamplePlane plane, const std::uint8_t* const* src, std::int32_t width,
                      std::int32_t height, std::int64_t j0, std::int64_t j1, float* ring,
                      std::int64_t stride, int parts) {
  const std::uint8_t* const* from = src != nullptr ? src : plane;
  const FusedRing rows{ring, stride, 2 * j1};
  const std::int64_t half = static_cast<std::int64_t>(static_cast<std::uint32_t>(width) >> 1);
  const AnalysisTaps taps;
  // The rows the span's first and last steps read that lie outside its own
  // rows 2 * j0 .. 2 * j1 - 1 (each may come up more than once).
  std::int64_t done[18];  // at most 18 indices are visited
  int doneCount = 0;
  for (std::int64_t e = 2 * j0 - 4; e <= 2 * j1 + 2; ++e) {
    if (e == 2 * j0 + 5 && e < 2 * j1 - 6) e = 2 * j1 - 6;  // skip the middle
    const std::int64_t r = mirrorIndex(static_cast<std::int32_t>(e), height);
    if (r >= 2 * j0 && r < 2 * j1) continue;
    if ((parts & (r < 2 * j0 ? kFusedLeadingRows : kFusedTrailingRows)) == 0) continue;
    bool seen = false;
    for (int k = 0; k < doneCount; ++k) seen = seen || done[k] == r;
    if (seen) continue;
    done[doneCount++] = r;
    rowToFloats(from[r], width, half, taps, rows.row(r));
  }
}

void forward2dRun(SamplePlane plane, const std::uint8_t* const* src, std::int32_t width,
                  std::int32_t height, std::int64_t j0, std::int64_t j1, float* ring,
                  std::int64_t stride, const DwtFusedProgress* progress, const DwtFusedFeed* feed) {
  const std::uint8_t* const* from = src != nullptr ? src : plane;
  const FusedRing rows{ring, stride, 2 * j1};
  const std::int64_t half = static_cast<std::int64_t>(static_cast<std::uint32_t>(width) >> 1);
  const AnalysisTaps taps;
  const std::int64_t ownEnd = smaller(2 * j1, height);
  std::int64_t next = 2 * j0;  // the next own row to convert
  std::int64_t reported = j0;  // pairs before this are reported as final
  // With a feed: the source rows known to be in place, and whether the
  // neighbouring span has been waited for.
  std::int64_t arrived = feed != nullptr ? 0 : height;
  bool neighbourWaited = feed == nullptr;
  for (std::int64_t j = j0; j < j1; j += 2) {
    const bool both = j + 1 < j1;
    const std::int64_t reach = both ? 2 * j + 7 : 2 * j + 5;  // rows read, up to
    if (smaller(reach, ownEnd) > arrived) {
      arrived = feed->waitRows(feed->context, smaller(reach, ownEnd));
      if (arrived < 0) return;
    }
    if (!neighbourWaited && j + kFusedNeighbourPairs >= j1) {
      if (!feed->waitNeighbour(feed->context)) return;
      neighbourWaited = true;
    }
    for (; next < smaller(reach, ownEnd); ++next) {
      rowToFloats(from[next], width, half, taps, rows.row(next));
    }
    const float* in[11];
    for (int k = 0; k < (both ? 11 : 9); ++k) {
      const std::int64_t e = 2 * j + k - 4;
      in[k] =
          rows.row(e >= 0 && e < height ? e : mirrorIndex(static_cast<std::int32_t>(e), height));
    }
    std::uint8_t* const out[4] = {plane[2 * j], plane[2 * j + 1], both ? plane[2 * j + 2] : nullptr,
                                  both ? plane[2 * j + 3] : nullptr};
    // The rows the next step converts first (any row will do past the end).
    const std::uint8_t* nextA = from[smaller(next, ownEnd - 1)];
    const std::uint8_t* nextB = from[smaller(next + 1, ownEnd - 1)];
    columnSteps(in, both, out, width, taps, nextA, nextB);
    const std::int64_t done = both ? j + 2 : j + 1;
    if (progress != nullptr && (done - reported >= kFusedReportPairs || done == j1)) {
      progress->pairsDone(progress->context, reported, done);
      reported = done;
    }
  }
}

}  // namespace dwt97::kernels::DWT97_PASS_SET_NAMESPACE
