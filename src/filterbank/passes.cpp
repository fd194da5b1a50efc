// The filter bank's operations over one pass set: the kernels' dispatch to
// threads with their rings, the fused transform (its row order, its
// streaming, the rows moved back into place on request), the levels, and
// the two passes for pictures too wide for the fused transform's ring, and
// the same transform out of place.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "core/allocator.h"
#include "dwt97/filterbank.h"
#include "filterbank/fused_order.h"
#include "filterbank/kernels/kernels.h"
#include "filterbank/threads.h"

using dwt97::Failure;
using dwt97::detail::allocateRings;
using dwt97::detail::allocateZeroed;
using dwt97::detail::clearRows;
using dwt97::detail::columnStrip;
using dwt97::detail::kMaxFusedRingBytes;
using dwt97::detail::partStart;
using dwt97::detail::releaseZeroed;
using dwt97::detail::ResultSink;
using dwt97::detail::resultSource;
using dwt97::detail::ringOf;
using dwt97::detail::roundUp16;
using dwt97::detail::runParts;
using dwt97::detail::smaller;
using dwt97::detail::tellPairs;
using dwt97::detail::threadCount;

void dwtForwardRowsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                        std::int32_t width, std::int32_t height, int threads) {
  if (width <= 0 || height <= 0) return;
  // Rows are independent: each part filters a span of them.
  const int count = threadCount(threads, height, std::int64_t{width} * height);
  runParts(count, [&](int k) {
    const std::int64_t r0 = partStart(height, count, k), r1 = partStart(height, count, k + 1);
    set.forwardRows(dst + r0, src + r0, width, static_cast<std::int32_t>(r1 - r0));
  });
}

std::optional<Failure> dwtForwardColumnsWith(const DwtPassSet& set, SamplePlane dst,
                                             const std::uint8_t* const* src, std::int32_t width,
                                             std::int32_t height, int threads) {
  if (width <= 0 || height < 2) return std::nullopt;
  // Columns are independent: each part filters a band of whole 16-column
  // groups, through row pointers moved to the band's first column.
  const std::int64_t groups = (std::int64_t{width} + 15) / 16;
  const int count = threadCount(threads, groups, std::int64_t{width} * height);
  const std::int64_t strip = columnStrip(count == 1 ? width : 16 * (groups / count + 1));
  const std::int64_t ringFloats = kColumnRingRows * strip;
  unsigned char* rings = nullptr;
  std::uint8_t** shifted = nullptr;  // every part's row pointers, in one block
  const std::size_t rows = static_cast<std::size_t>(height);
  if (allocateRings(count, ringFloats, &rings) ||
      allocateZeroed(2 * rows * static_cast<std::size_t>(count), &shifted)) {
    releaseZeroed(rings);
    releaseZeroed(shifted);
    return Failure::outOfMemory;
  }
  runParts(count, [&](int k) {
    const std::int64_t c0 = 16 * partStart(groups, count, k);
    const std::int64_t c1 = smaller(width, 16 * partStart(groups, count, k + 1));
    if (c1 <= c0) return;
    std::uint8_t** to = shifted + 2 * rows * static_cast<std::size_t>(k);
    std::uint8_t** from = to + rows;
    for (std::size_t r = 0; r < rows; ++r) {
      to[r] = dst[r] + c0;
      from[r] = const_cast<std::uint8_t*>(src[r]) + c0;
    }
    set.forwardColumns(to, from, static_cast<std::int32_t>(c1 - c0), height,
                       ringOf(rings, ringFloats, k), smaller(strip, roundUp16(c1 - c0)));
  });
  releaseZeroed(rings);
  releaseZeroed(shifted);
  return std::nullopt;
}

namespace {

// The two separate passes through a scratch plane, for pictures too wide
// for the fused transform's ring: from `src` (which may be `plane` itself)
// into `plane`. outOfMemory, with the plane unchanged, when memory runs out.
std::optional<Failure> forward2dTwoPasses(const DwtPassSet& set, SamplePlane plane,
                                          const std::uint8_t* const* src, std::int32_t width,
                                          std::int32_t height, int threads) {
  dwt97::PlaneBuffer scratch;
  if (dwt97::planeAllocate(&scratch, width, height)) return Failure::outOfMemory;
  dwtForwardRowsWith(set, scratch.rows, src, width, height, threads);
  const std::optional<Failure> failure =
      dwtForwardColumnsWith(set, plane, scratch.rows, width, height, threads);
  dwt97::planeRelease(&scratch);
  if (failure) return failure;
  if (height % 2 != 0) clearRows(plane, height - 1, height, width);
  return std::nullopt;
}

// Moves the first `width` bytes of every result row into the buffer that
// held that row before, plane[r], so that the pointer array stays as it was
// and the bytes past `width` stay with their rows. Follows each cycle of the
// permutation, swapping rows into place; `placed` (one entry per row, not
// null on entry) is cleared as each row lands.
void putResultRowsInPlace(SamplePlane plane, std::int32_t width, std::int64_t height,
                          std::int64_t half, std::uint8_t** placed) {
  const auto bytes = static_cast<std::size_t>(width);
  for (std::int64_t start = 0; start < height; ++start) {
    if (placed[start] == nullptr) continue;
    std::int64_t r = start;
    // plane[r] takes result row r from plane[resultSource(r)], which no swap
    // of this cycle has touched yet, and hands its own row on to it.
    for (std::int64_t from = resultSource(r, half); from != start; from = resultSource(r, half)) {
      std::swap_ranges(plane[r], plane[r] + bytes, plane[from]);
      placed[r] = nullptr;
      r = from;
    }
    placed[r] = nullptr;
  }
}

// The whole transform; with `keepOrder` the result goes back into the rows'
// own buffers instead of reordering the pointer array (no streaming then).
// With `src` not null it runs out of place: the rows of `src` are only read,
// plane[r] receives result row r and neither pointer array changes.
// outOfMemory when memory runs out (nothing changed then).
std::optional<Failure> forward2d(const DwtPassSet& set, SamplePlane plane, std::int32_t width,
                                 std::int32_t height, int threads, DwtResultRows rowsDone,
                                 void* context, bool keepOrder,
                                 const std::uint8_t* const* src = nullptr) {
  if (width <= 0 || height <= 0) return std::nullopt;
  // With fewer than two samples along rows or columns the two passes leave
  // their zero-filled destination as it was.
  if (width < 2 || height < 2) {
    clearRows(plane, 0, height, width);
    if (rowsDone != nullptr) rowsDone(context, plane, 0, height);
    return std::nullopt;
  }
  // Ring rows hold the row rounded up to whole vectors and one cache line
  // more, so that the rows' entries for one column do not all share their
  // address bits below 4 KiB (which would make the processor see false
  // dependencies between a row's stores and another's loads).
  const std::int64_t stride = roundUp16(width) + 16;
  const std::int64_t ringFloats = kFusedRingRows * stride;
  if (ringFloats * std::int64_t{sizeof(float)} > kMaxFusedRingBytes) {  // (one ring)
    if (auto failure =
            forward2dTwoPasses(set, plane, src != nullptr ? src : plane, width, height, threads)) {
      return failure;
    }
    if (rowsDone != nullptr) rowsDone(context, plane, 0, height);
    return std::nullopt;
  }
  const std::int64_t half = height / 2;
  const std::int64_t ringBytes = ringFloats * std::int64_t{sizeof(float)};
  const int count = static_cast<int>(smaller(
      threadCount(threads, half, std::int64_t{width} * height), kMaxFusedRingBytes / ringBytes));
  unsigned char* rings = nullptr;
  // In place the result's row order, built before anything is overwritten;
  // out of place the rows each output pair j goes to, as 2j and 2j + 1.
  std::uint8_t** order = nullptr;
  if (allocateRings(count, ringFloats, &rings) ||
      allocateZeroed(static_cast<std::size_t>(height), &order)) {
    releaseZeroed(rings);
    releaseZeroed(order);
    return Failure::outOfMemory;
  }
  const bool inPlace = src == nullptr;
  for (std::int64_t r = 0; r < height; ++r) {
    if (inPlace) {
      order[r] = plane[resultSource(r, half)];
    } else {
      order[resultSource(r, half)] = plane[r];
    }
  }
  const SamplePlane outputs = inPlace ? plane : order;

  for (int k = 0; k < count && inPlace; ++k) {
    set.forward2dPrepare(plane, nullptr, width, height, partStart(half, count, k),
                         partStart(half, count, k + 1), ringOf(rings, ringFloats, k), stride,
                         kFusedOutsideRows);
  }
  const ResultSink sink{rowsDone, context, inPlace ? order : plane, half};
  const DwtFusedProgress progress{tellPairs, const_cast<ResultSink*>(&sink)};
  runParts(count, [&](int k) {
    // Out of place no span overwrites another's rows: each prepares its own.
    if (!inPlace) {
      set.forward2dPrepare(outputs, src, width, height, partStart(half, count, k),
                           partStart(half, count, k + 1), ringOf(rings, ringFloats, k), stride,
                           kFusedOutsideRows);
    }
    set.forward2dRun(outputs, src, width, height, partStart(half, count, k),
                     partStart(half, count, k + 1), ringOf(rings, ringFloats, k), stride,
                     rowsDone != nullptr ? &progress : nullptr, nullptr);
  });
  releaseZeroed(rings);
  // (Out of place the outputs went straight to their rows.)
  if (inPlace && keepOrder) {
    putResultRowsInPlace(plane, width, height, half, order);
  } else if (inPlace) {
    std::memcpy(plane, order, static_cast<std::size_t>(height) * sizeof(std::uint8_t*));
  }
  releaseZeroed(order);
  if (height % 2 != 0) {
    clearRows(plane, height - 1, height, width);
    if (rowsDone != nullptr) rowsDone(context, plane, height - 1, 1);
  }
  return std::nullopt;
}

}  // namespace

std::optional<Failure> dwtForward2dWith(const DwtPassSet& set, SamplePlane plane,
                                        std::int32_t width, std::int32_t height, int threads,
                                        DwtResultRows rowsDone, void* context, bool keepOrder) {
  return forward2d(set, plane, width, height, threads, rowsDone, context, keepOrder);
}

std::optional<Failure> dwtForward2dLevelsWith(const DwtPassSet& set, SamplePlane plane,
                                              std::int32_t width, std::int32_t height, int levels,
                                              int threads, bool keepOrder) {
  if (levels > dwtMostLevels(width, height)) return Failure::tooManyLevels;
  for (int level = 1; level <= levels; ++level) {
    // Level 1 reorders the pointer array as dwtForward2d does (unless the
    // order is kept); later levels work on the first rows in that order and
    // move only their band's bytes.
    if (auto failure = forward2d(set, plane, width, height, threads, nullptr, nullptr,
                                 keepOrder || level > 1)) {
      return failure;
    }
    width /= 2;
    height /= 2;
  }
  return std::nullopt;
}

std::optional<Failure> dwtForward2dLevelsIntoWith(const DwtPassSet& set, SamplePlane dst,
                                                  const std::uint8_t* const* src,
                                                  std::int32_t width, std::int32_t height,
                                                  int levels, int threads) {
  if (levels > dwtMostLevels(width, height)) return Failure::tooManyLevels;
  if (levels < 1) {
    // No level: the result is the picture itself.
    for (std::int32_t r = 0; r < height && width > 0; ++r) {
      std::memcpy(dst[r], src[r], static_cast<std::size_t>(width));
    }
    return std::nullopt;
  }
  // Level 1 reads `src`; the later levels work on dst's low-low band in its
  // own rows, as dwtForward2dLevelsWith() keeping the order does.
  if (auto failure = forward2d(set, dst, width, height, threads, nullptr, nullptr, true, src)) {
    return failure;
  }
  return dwtForward2dLevelsWith(set, dst, width / 2, height / 2, levels - 1, threads, true);
}

std::optional<Failure> dwtInverseColumnsWith(const DwtPassSet& set, SamplePlane dst,
                                             const std::uint8_t* const* src, std::int32_t halfWidth,
                                             std::int32_t halfHeight, int threads) {
  if (halfWidth <= 0 || halfHeight <= 0) return std::nullopt;
  const std::int64_t width = 2 * std::int64_t{halfWidth};
  const int count = threadCount(threads, halfHeight, 2 * width * halfHeight);
  const std::int64_t strip = columnStrip(width);
  const std::int64_t ringFloats = kColumnRingRows * strip;
  unsigned char* rings = nullptr;
  if (allocateRings(count, ringFloats, &rings)) return Failure::outOfMemory;
  runParts(count, [&](int k) {
    set.inverseColumns(dst, src, halfWidth, halfHeight, partStart(halfHeight, count, k),
                       partStart(halfHeight, count, k + 1), ringOf(rings, ringFloats, k), strip);
  });
  releaseZeroed(rings);
  return std::nullopt;
}

void dwtInverseRowsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                        std::int32_t halfWidth, std::int32_t halfHeight, int threads) {
  if (halfWidth <= 0 || halfHeight <= 0) return;
  const std::int64_t rows = 2 * std::int64_t{halfHeight};
  const int count = threadCount(threads, rows, 2 * std::int64_t{halfWidth} * rows);
  runParts(count, [&](int k) {
    set.inverseRows(dst, src, halfWidth, halfHeight, partStart(rows, count, k),
                    partStart(rows, count, k + 1));
  });
}
