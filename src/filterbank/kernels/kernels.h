// Internal to the filter bank: the sets of fast passes, one per instruction
// set the build offers, and the choice among them at run time.
#pragma once

#include <cstddef>
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
// The picture's rows are read from `src`, or with `src` null from `plane`
// itself (in place). In place, first every span's `prepare` runs (it
// converts the rows its span reads that other spans overwrite), then the
// spans' `run`s, in any order or at once; out of place (`src` rows shared
// with no row of `plane`, which then only receives outputs) a span's
// `prepare` need only come before its own `run`. Needs width >= 2 and
// height >= 2. `parts` says which of those rows the preparation converts:
// those before the span's own rows (kFusedLeadingRows), those after them
// (kFusedTrailingRows), or both.
using DwtFusedPrepareKernel = void(SamplePlane plane, const std::uint8_t* const* src,
                                   std::int32_t width, std::int32_t height, std::int64_t j0,
                                   std::int64_t j1, float* ring, std::int64_t stride, int parts);
constexpr int kFusedRingRows = 15;
constexpr int kFusedLeadingRows = 1;
constexpr int kFusedTrailingRows = 2;
constexpr int kFusedOutsideRows = kFusedLeadingRows | kFusedTrailingRows;

// Told by a span's run, from its thread, each time output pairs [j0, j1) of
// the span have become final (every kFusedReportPairs pairs and at its end).
struct DwtFusedProgress {
  void (*pairsDone)(void* context, std::int64_t j0, std::int64_t j1);
  void* context;
};
constexpr std::int64_t kFusedReportPairs = 32;

// What a span's run waits on while the plane's rows are still arriving (the
// transform following a reader). Before converting a source row the run
// makes sure the rows up to it are in place: `waitRows` returns how many
// rows [0, n) are (at least `rows`), or -1 when the transform is being
// abandoned. Before its steps from pair j1 - 4 on, which write the rows the
// next span converts first and read the rows it overwrites first, it calls
// `waitNeighbour` once: for the next span to have taken its rows (or, for
// the last span, for its own rows after its end to be converted); false
// when abandoned. On either stop the run returns at once.
struct DwtFusedFeed {
  std::int64_t (*waitRows)(void* context, std::int64_t rows);
  bool (*waitNeighbour)(void* context);
  void* context;
};
constexpr std::int64_t kFusedNeighbourPairs = 4;
using DwtFusedRunKernel = void(SamplePlane plane, const std::uint8_t* const* src,
                               std::int32_t width, std::int32_t height, std::int64_t j0,
                               std::int64_t j1, float* ring, std::int64_t stride,
                               const DwtFusedProgress* progress, const DwtFusedFeed* feed);

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

// Where the rows of a level of coefficients lie: row r at base + index(r) *
// stride bytes, index(r) being scale * r + offset, or with `split` set (0
// or more) the rows unshuffled: even r at r / 2, odd r at split + r / 2.
struct DwtRowMap {
  unsigned char* base = nullptr;
  std::ptrdiff_t stride = 0;
  std::int64_t scale = 1;
  std::int64_t offset = 0;
  std::int64_t split = -1;

  std::int64_t index(std::int64_t r) const {
    if (split >= 0) return (r & 1) != 0 ? split + (r >> 1) : r >> 1;
    return scale * r + offset;
  }
  template <typename T>
  T* row(std::int64_t r) const {
    return reinterpret_cast<T*>(base + index(r) * stride);
  }
};

// One level of the float analysis of a `width` x `height` block: rows r of
// `in` (bytes or floats) filtered along the rows into a ring of float rows,
// then down the columns into output pair j: low row j to `low` (its columns
// beyond ceil(width/2), of the rows' high band, to `lowBeyond`) and high
// row j to `high`. With `inPlace` the block's rows are its own output's: pair j
// overwrites input rows 2j and 2j + 1 (whose floats the ring already holds),
// and every span's `analyzePrepare` runs before any span's `analyze`, to
// keep the rows it reads that neighbouring spans overwrite.
struct DwtAnalysisLevel {
  DwtRowMap in;
  bool inBytes = false;
  DwtRowMap low;
  DwtRowMap lowBeyond;
  DwtRowMap high;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool inPlace = false;
  // Which outputs nothing reads again soon, whose stores go past the caches.
  bool lowFinal = false;
  bool lowBeyondFinal = false;
  bool highFinal = false;
};

// The ring of the analysis: kAnalysisRingRows rows of `stride` floats,
// 64-byte aligned, stride at least twice the strip's column pairs (the
// block's width rounded up when in place). Pairs [j0, j1) of rows, in the
// columns of column pairs [p0, p1): low columns p0 .. p1 - 1 and high
// columns ceil(width/2) + p0 onwards. In place, p0 is 0 and p1 ceil(width/2).
constexpr int kAnalysisRingRows = 16;
using DwtAnalysisKernel = void(const DwtAnalysisLevel& level, std::int64_t j0, std::int64_t j1,
                               std::int64_t p0, std::int64_t p1, float* ring, std::int64_t stride);
using DwtAnalysisPrepareKernel = void(const DwtAnalysisLevel& level, std::int64_t j0,
                                      std::int64_t j1, float* ring, std::int64_t stride);

// One level of the float synthesis of a `width` x `height` block, columns
// first: output pair j (rows 2j and 2j + 1 of the block, to `out`) from the
// low-low rows t (the first ceil(width/2) columns of `lowLow`) and the rows
// of the other bands in `bands` (row t beyond the first ceil(width/2)
// columns, rows ceil(height/2) + t whole). With `inPlace`, low-low row t
// lies where pair t's outputs go: the ring keeps it from its first read,
// and every span's `synthesizePrepare` runs before any span's `synthesize`.
struct DwtSynthesisLevel {
  DwtRowMap lowLow;
  DwtRowMap bands;
  DwtRowMap out;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool inPlace = false;
  bool outFinal = false;  // nothing reads the output again soon
};

// The ring of the synthesis: kSynthesisRingRows rows of `stride` floats,
// 64-byte aligned, stride at least the width plus kSynthesisRowSlack.
constexpr int kSynthesisRingRows = 16;
constexpr std::int64_t kSynthesisRowSlack = 192;
using DwtSynthesisKernel = void(const DwtSynthesisLevel& level, std::int64_t j0, std::int64_t j1,
                                float* ring, std::int64_t stride);

// The reversible 5/3 over lines of int32 samples. Every sum wraps modulo
// 2^32 and every halving or quartering is an arithmetic shift (a division
// rounding toward minus infinity).
//
// A row of n >= 2 samples x (int32 or bytes) into y, its low band then its
// high band, or back from bands z (unliftRow); input and output are
// distinct, and `work` holds dwtLiftWork(n) int32s.
using DwtLiftRowKernel = void(const std::int32_t* x, std::int32_t n, std::int32_t* y,
                              std::int32_t* work);
using DwtLiftBytesKernel = void(const std::uint8_t* x, std::int32_t n, std::int32_t* y,
                                std::int32_t* work);
using DwtUnliftRowKernel = void(const std::int32_t* z, std::int32_t n, std::int32_t* y,
                                std::int32_t* work);
inline std::int64_t dwtLiftWork(std::int64_t n) { return n + 8; }

// One lifting step across rows, sample by sample over n samples:
//   predict    out = t - ((a + b) >> 1)     unpredict  out = t + ((a + b) >> 1)
//   update     out = t + ((a + b + 2) >> 2) unupdate   out = t - ((a + b + 2) >> 2)
// `out` may be `t`, and `a` may be `b`.
enum class DwtLiftStep { predict, unpredict, update, unupdate };
using DwtLiftColumnsKernel = void(std::int32_t* out, const std::int32_t* t, const std::int32_t* a,
                                  const std::int32_t* b, std::int64_t n, DwtLiftStep step);

// A finished row of n int32s copied to `dst`, whose stores may go past the
// caches; finishRows() orders them before a thread hands its rows over.
using DwtStoreRowKernel = void(std::int32_t* dst, const std::int32_t* src, std::int64_t n);
using DwtFinishRowsKernel = void();

// Every kernel of a pass set, once: X(set, name, type), `set` passed on
// unchanged. The table of a set (DwtPassSet), each set's declarations and
// the sets the dispatcher builds are all made from this list, so a new
// kernel is its type above, one line here and its definition in each set's
// unit.
#define DWT97_KERNELS(X, set)                      \
  X(set, forwardRows, DwtRowsKernel)               \
  X(set, forwardColumns, DwtColumnsKernel)         \
  X(set, forward2dPrepare, DwtFusedPrepareKernel)  \
  X(set, forward2dRun, DwtFusedRunKernel)          \
  X(set, inverseColumns, DwtInverseColumnsKernel)  \
  X(set, inverseRows, DwtInverseRowsKernel)        \
  X(set, analyze, DwtAnalysisKernel)               \
  X(set, analyzePrepare, DwtAnalysisPrepareKernel) \
  X(set, synthesize, DwtSynthesisKernel)           \
  X(set, synthesizePrepare, DwtSynthesisKernel)    \
  X(set, liftRow, DwtLiftRowKernel)                \
  X(set, liftBytes, DwtLiftBytesKernel)            \
  X(set, unliftRow, DwtUnliftRowKernel)            \
  X(set, liftColumns, DwtLiftColumnsKernel)        \
  X(set, storeRow, DwtStoreRowKernel)              \
  X(set, finishRows, DwtFinishRowsKernel)

// One implementation of every kernel, all built for the same instruction
// set. forward2dRun's `progress` and `feed` may be null.
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
const DwtPassSet& dwtFastestPassSet();

// The operations of filterbank.h run with the pass set `set`, so that the
// tests can compare every set (the public ones use the first). Those that
// take memory return outOfMemory, having changed nothing; the levels return
// tooManyLevels before anything changes, or outOfMemory with the levels
// before the failing one done. With `keepOrder` the fused transform leaves
// result row r in the plane's row r instead of reordering the pointer array.
// The Into operations read `src` and leave the result in `dst`'s rows in
// order, as their public namesakes do.
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
[[nodiscard]] std::optional<dwt97::Failure> dwtForward2dLevelsIntoWith(
    const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src, std::int32_t width,
    std::int32_t height, int levels, int threads);
[[nodiscard]] std::optional<dwt97::Failure> dwtInverseColumnsWith(
    const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src, std::int32_t halfWidth,
    std::int32_t halfHeight, int threads);
void dwtInverseRowsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                        std::int32_t halfWidth, std::int32_t halfHeight, int threads);
[[nodiscard]] std::optional<dwt97::Failure> dwtFeedStartWith(const DwtPassSet& set,
                                                             SamplePlane plane, std::int32_t width,
                                                             std::int32_t height, int threads,
                                                             DwtResultRows rowsDone, void* context,
                                                             dwt97::DwtFeed** feed);
