// Internal to the filter bank: the sets of fast passes, one per instruction
// set the build offers, and the choice among them at run time.
#pragma once

#include <cstdint>
#include <optional>

#include "dwt97/failure.h"
#include "dwt97/filterbank.h"
#include "dwt97/planes.h"

// The kernels of a pass set compute only: whatever memory they need beyond
// their stack comes from the caller, and none of them can fail.

// The row pass over all `height` rows.
using DwtRowsKernel = void(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                           std::int32_t height);

// The column pass, in strips of `strip` columns (a multiple of 16, at most
// kColumnStrip), with a ring of kColumnRingRows float rows of `strip` floats
// at `ring`, 64-byte aligned.
using DwtColumnsKernel = void(SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
                              std::int32_t height, float* ring, std::int64_t strip);
constexpr int kColumnRingRows = 10;
constexpr std::int64_t kColumnStrip = 8192;

// The fused forward transform works on contiguous spans [j0, j1) of output
// row pairs, each span with its own ring of float rows (kFusedRingRows rows
// of `stride` floats, 64-byte aligned, zero-filled, stride a multiple of 16
// at least the width rounded up to 16). Output pair j goes to plane rows 2j
// (low) and 2j + 1 (high); the caller reorders the row pointers afterwards.
// First every span's `prepare` runs (it converts the rows its span reads
// that other spans overwrite), then the spans' `run`s, in any order or at
// once. Needs width >= 2 and height >= 2.
using DwtFusedPrepareKernel = void(SamplePlane plane, std::int32_t width, std::int32_t height,
                                   std::int64_t j0, std::int64_t j1, float* ring,
                                   std::int64_t stride);
constexpr int kFusedRingRows = 15;

// Told by a span's run, from its thread, each time output pairs [j0, j1) of
// the span have become final (every kFusedReportPairs pairs and at its end).
struct DwtFusedProgress {
  void (*pairsDone)(void* context, std::int64_t j0, std::int64_t j1);
  void* context;
};
constexpr std::int64_t kFusedReportPairs = 32;
using DwtFusedRunKernel = void(SamplePlane plane, std::int32_t width, std::int32_t height,
                               std::int64_t j0, std::int64_t j1, float* ring, std::int64_t stride,
                               const DwtFusedProgress* progress);

// Output row pairs [j0, j1) of the inverse column pass (band rows j0 .. j1-1
// give rows 2j0 .. 2j1-1), in strips of `strip` columns with a ring of
// kColumnRingRows float rows as for the forward column pass.
using DwtInverseColumnsKernel = void(SamplePlane dst, const std::uint8_t* const* src,
                                     std::int32_t halfWidth, std::int32_t halfHeight,
                                     std::int64_t j0, std::int64_t j1, float* ring,
                                     std::int64_t strip);

// Rows [r0, r1) of the inverse row pass.
using DwtInverseRowsKernel = void(SamplePlane dst, const std::uint8_t* const* src,
                                  std::int32_t halfWidth, std::int32_t halfHeight, std::int64_t r0,
                                  std::int64_t r1);

// Every kernel of a pass set, once: X(set, name, type), `set` passed on
// unchanged. The table of a set (DwtPassSet), each set's declarations and
// the sets the dispatcher builds are all made from this list, so a new
// kernel is its type above, one line here and its definition in each set's
// unit.
#define DWT97_KERNELS(X, set)                     \
  X(set, forwardRows, DwtRowsKernel)              \
  X(set, forwardColumns, DwtColumnsKernel)        \
  X(set, forward2dPrepare, DwtFusedPrepareKernel) \
  X(set, forward2dRun, DwtFusedRunKernel)         \
  X(set, inverseColumns, DwtInverseColumnsKernel) \
  X(set, inverseRows, DwtInverseRowsKernel)

// One implementation of every kernel, all built for the same instruction
// set. forward2dRun's `progress` may be null.
struct DwtPassSet {
  const char* name;  // "avx512", "avx2", "sse2", "generic" or "scalar"
#define DWT97_KERNEL_FIELD(set, name, type) type* name;
  DWT97_KERNELS(DWT97_KERNEL_FIELD, none)
#undef DWT97_KERNEL_FIELD
};

// The kernels of the set `set`, compiled for its instruction set into a
// namespace of its own, so that no two sets define the same symbol.
#define DWT97_KERNEL_DECLARATION(set, name, type) type name;
#define DWT97_PASS_SET_KERNELS(set)            \
  namespace dwt97::kernels::set {              \
  DWT97_KERNELS(DWT97_KERNEL_DECLARATION, set) \
  }
DWT97_PASS_SET_KERNELS(avx512)
DWT97_PASS_SET_KERNELS(avx2)
DWT97_PASS_SET_KERNELS(sse2)
DWT97_PASS_SET_KERNELS(portable)

// The table of the set `set`: its name, then its kernels in list order.
#define DWT97_KERNEL_ENTRY(set, name, type) dwt97::kernels::set::name,
#define DWT97_PASS_SET_TABLE(set, label) \
  DwtPassSet { label, DWT97_KERNELS(DWT97_KERNEL_ENTRY, set) }

// The pass sets this build offers that this processor can run, fastest
// first; the first is the one the public passes use. Returns their count.
int dwtPassSets(const DwtPassSet* const** sets);

// The operations of filterbank.h run with the pass set `set`, so that the
// tests can compare every set (the public ones use the first). Those that
// take memory return outOfMemory, having changed nothing; the levels return
// tooManyLevels before anything changes, or outOfMemory with the levels
// before the failing one done. With `keepOrder` the fused transform leaves
// result row r in the plane's row r instead of reordering the pointer array.
void dwtForwardRowsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                        std::int32_t width, std::int32_t height, int threads);
[[nodiscard]] std::optional<dwt97::Failure> dwtForwardColumnsWith(const DwtPassSet& set,
                                                                  SamplePlane dst,
                                                                  const std::uint8_t* const* src,
                                                                  std::int32_t width,
                                                                  std::int32_t height, int threads);
[[nodiscard]] std::optional<dwt97::Failure> dwtForward2dWith(
    const DwtPassSet& set, SamplePlane plane, std::int32_t width, std::int32_t height, int threads,
    DwtResultRows rowsDone = nullptr, void* context = nullptr, bool keepOrder = false);
[[nodiscard]] std::optional<dwt97::Failure> dwtForward2dLevelsWith(
    const DwtPassSet& set, SamplePlane plane, std::int32_t width, std::int32_t height, int levels,
    int threads, bool keepOrder = false);
[[nodiscard]] std::optional<dwt97::Failure> dwtInverseColumnsWith(
    const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
    std::int32_t halfHeight, int threads);
void dwtInverseRowsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                        std::int32_t halfWidth, std::int32_t halfHeight, int threads);
