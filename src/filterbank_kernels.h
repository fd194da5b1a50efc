// Internal to the filter bank: the sets of fast passes, one per instruction
// set the build offers, and the choice among them at run time.
#pragma once

#include <cstdint>
#include <optional>

#include "dwt97/failure.h"
#include "dwt97/filterbank.h"
#include "dwt97/planes.h"

using DwtPass = void (*)(SamplePlane dst, const std::uint8_t* const* src, std::int32_t a, std::int32_t b);

// The fused forward transform works on contiguous spans [j0, j1) of output
// row pairs, each span with its own ring of float rows (kFusedRingRows rows
// of `stride` floats, 64-byte aligned, zero-filled, stride a multiple of 16
// at least the width rounded up to 16). Output pair j goes to plane rows 2j
// (low) and 2j + 1 (high); the caller reorders the row pointers afterwards.
// First every span's `prepare` runs (it converts the rows its span reads
// that other spans overwrite), then the spans' `run`s, in any order or at
// once. Needs width >= 2 and height >= 2.
using DwtFusedStep = void (*)(SamplePlane plane, std::int32_t width, std::int32_t height,
                              std::int64_t j0, std::int64_t j1, float* ring, std::int64_t stride);
constexpr int kFusedRingRows = 15;

// Told by a span's run, from its thread, each time output pairs [j0, j1) of
// the span have become final (every kFusedReportPairs pairs and at its end).
struct DwtFusedProgress {
  void (*pairsDone)(void* context, std::int64_t j0, std::int64_t j1);
  void* context;
};
constexpr std::int64_t kFusedReportPairs = 32;
using DwtFusedRun = void (*)(SamplePlane plane, std::int32_t width, std::int32_t height,
                             std::int64_t j0, std::int64_t j1, float* ring, std::int64_t stride,
                             const DwtFusedProgress* progress);

// Output row pairs [j0, j1) of the inverse column pass (band rows j0 .. j1-1
// give rows 2j0 .. 2j1-1), with a ring of kInverseRingRows rows of `stride`
// floats as for the fused transform, but at most kInverseStrip wide: the
// pass runs in strips of that many columns.
using DwtInverseColumnsSpan = void (*)(SamplePlane dst, const std::uint8_t* const* src,
                                       std::int32_t halfWidth, std::int32_t halfHeight,
                                       std::int64_t j0, std::int64_t j1, float* ring,
                                       std::int64_t stride);
constexpr int kInverseRingRows = 10;
constexpr std::int64_t kInverseStrip = 8192;

// A column pass that allocates its float rows: false, with nothing written,
// when they cannot be had.
using DwtCheckedPass = bool (*)(SamplePlane dst, const std::uint8_t* const* src, std::int32_t a,
                                std::int32_t b);

// Rows [r0, r1) of the inverse row pass.
using DwtInverseRowsSpan = void (*)(SamplePlane dst, const std::uint8_t* const* src,
                                    std::int32_t halfWidth, std::int32_t halfHeight,
                                    std::int64_t r0, std::int64_t r1);

// One implementation of every pass, all built for the same instruction set.
struct DwtPassSet {
  const char* name;  // "avx512", "avx2", "sse2", "generic" or "scalar"
  DwtPass forwardRows;
  DwtPass forwardColumns;  // ends the process when memory runs out
  DwtPass inverseColumns;  // likewise
  DwtPass inverseRows;
  DwtFusedStep forward2dPrepare;
  DwtFusedRun forward2dRun;  // `progress` may be null
  DwtInverseColumnsSpan inverseColumnsSpan;
  DwtInverseRowsSpan inverseRowsSpan;
  DwtCheckedPass tryForwardColumns;  // forwardColumns, reporting memory running out
  DwtCheckedPass tryInverseColumns;  // inverseColumns, likewise
};

// The pass sets this build offers that this processor can run, fastest
// first; the first is the one the public passes use. Returns their count.
int dwtPassSets(const DwtPassSet* const** sets);

// The threaded operations of filterbank.h run with the pass set `set`, so
// that the tests can compare every set (the public ones use the first). The
// try forms return false, having changed nothing, when memory runs out; the
// others then end the process as the public operations do.
bool dwtTryForward2dWith(const DwtPassSet& set, SamplePlane plane, std::int32_t width,
                         std::int32_t height, int threads, DwtResultRows rowsDone,
                         void* context);
bool dwtTryInverseColumnsWith(const DwtPassSet& set, SamplePlane dst,
                              const std::uint8_t* const* src, std::int32_t halfWidth,
                              std::int32_t halfHeight, int threads);
void dwtForward2dWith(const DwtPassSet& set, SamplePlane plane, std::int32_t width,
                      std::int32_t height, int threads, DwtResultRows rowsDone = nullptr,
                      void* context = nullptr);
void dwtForward2dLevelsWith(const DwtPassSet& set, SamplePlane plane, std::int32_t width,
                            std::int32_t height, int levels, int threads);
// tooManyLevels before anything changes, or outOfMemory with the levels
// before the failing one done.
std::optional<dwt97::Failure> dwtTryForward2dLevelsWith(const DwtPassSet& set, SamplePlane plane,
                                                        std::int32_t width, std::int32_t height,
                                                        int levels, int threads);
void dwtInverseColumnsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                           std::int32_t halfWidth, std::int32_t halfHeight, int threads);
void dwtInverseRowsWith(const DwtPassSet& set, SamplePlane dst, const std::uint8_t* const* src,
                        std::int32_t halfWidth, std::int32_t halfHeight, int threads);
