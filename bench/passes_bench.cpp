// Speed of the filter-bank passes: the 2-D transforms (row pass then column
// pass, and the inverse in the opposite order) over planes of several sizes,
// fast against plain, and the fused in-place forward transform on one thread
// and on all of them. Items per second are samples per second.
//
//   build/dwt97_bench --benchmark_filter=forward2d/8192
//   build/dwt97_bench --benchmark_filter=fused
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>

#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"
#include "noise.h"
#include "reference_passes.h"

using dwt97::PlaneBuffer;
using dwt97::planeRelease;

namespace {

// A zero-filled plane, or the end of the run.
PlaneBuffer benchPlane(std::int32_t width, std::int32_t height) {
  PlaneBuffer plane;
  if (dwt97::planeAllocate(&plane, width, height)) std::abort();
  return plane;
}

// A plane of pseudo-random bytes (the passes' speed does not depend on the
// values, but constant planes could flatter a cache or a predictor).
PlaneBuffer randomPlane(std::int32_t width, std::int32_t height) {
  PlaneBuffer plane = benchPlane(width, height);
  testsupport::Noise noise(2463534242u);
  for (std::int32_t r = 0; r < height; ++r) {
    for (std::int32_t c = 0; c < width; ++c) plane.rows[r][c] = noise.next();
  }
  return plane;
}

using Pass = void (*)(SamplePlane, const std::uint8_t* const*, std::int32_t, std::int32_t);

// Runs `first` from the source into a middle plane, then `second` from the
// middle plane into the output, once per iteration.
void twoPasses(benchmark::State& state, Pass first, Pass second) {
  const auto width = static_cast<std::int32_t>(state.range(0));
  const auto height = static_cast<std::int32_t>(state.range(1));
  PlaneBuffer source = randomPlane(width, height);
  PlaneBuffer middle = benchPlane(width, height);
  PlaneBuffer output = benchPlane(width, height);
  // One untimed round first, so that no iteration pays for first-touch page faults.
  first(middle.rows, source.rows, width, height);
  second(output.rows, middle.rows, width, height);
  for (auto _ : state) {
    first(middle.rows, source.rows, width, height);
    second(output.rows, middle.rows, width, height);
    benchmark::DoNotOptimize(output.rows[0][0]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(width) * height);
  planeRelease(&output);
  planeRelease(&middle);
  planeRelease(&source);
}

// The inverse passes take half sizes.
void inverseColumnsWhole(SamplePlane dst, const std::uint8_t* const* src, std::int32_t w,
                         std::int32_t h) {
  dwtInverseColumns(dst, src, w / 2, h / 2);
}
void inverseRowsWhole(SamplePlane dst, const std::uint8_t* const* src, std::int32_t w,
                      std::int32_t h) {
  dwtInverseRows(dst, src, w / 2, h / 2);
}
void plainInverseColumnsWhole(SamplePlane dst, const std::uint8_t* const* src, std::int32_t w,
                              std::int32_t h) {
  plainInverseColumns(dst, src, w / 2, h / 2);
}
void plainInverseRowsWhole(SamplePlane dst, const std::uint8_t* const* src, std::int32_t w,
                           std::int32_t h) {
  plainInverseRows(dst, src, w / 2, h / 2);
}

// The forward passes on the calling thread alone, as they always ran.
void forwardRowsOne(SamplePlane dst, const std::uint8_t* const* src, std::int32_t w,
                    std::int32_t h) {
  dwtForwardRows(dst, src, w, h, 1);
}
void forwardColumnsOne(SamplePlane dst, const std::uint8_t* const* src, std::int32_t w,
                       std::int32_t h) {
  dwtForwardColumns(dst, src, w, h, 1);
}

void forward2d(benchmark::State& state) { twoPasses(state, forwardRowsOne, forwardColumnsOne); }
void forward2dPlain(benchmark::State& state) {
  twoPasses(state, plainForwardRows, plainForwardColumns);
}
void inverse2d(benchmark::State& state) { twoPasses(state, inverseColumnsWhole, inverseRowsWhole); }
void inverse2dPlain(benchmark::State& state) {
  twoPasses(state, plainInverseColumnsWhole, plainInverseRowsWhole);
}
// One pass, run twice per iteration: where the time of a 2-D transform goes.
void forwardRowsOnly(benchmark::State& state) { twoPasses(state, forwardRowsOne, forwardRowsOne); }
void forwardColumnsOnly(benchmark::State& state) {
  twoPasses(state, forwardColumnsOne, forwardColumnsOne);
}
void inverseColumnsOnly(benchmark::State& state) {
  twoPasses(state, inverseColumnsWhole, inverseColumnsWhole);
}
void inverseRowsOnly(benchmark::State& state) {
  twoPasses(state, inverseRowsWhole, inverseRowsWhole);
}

// The fused transform in place, the plane's own result being the next
// iteration's input (the speed does not depend on the values). The third
// argument is the thread count, 0 for every hardware thread.
void forward2dFused(benchmark::State& state) {
  const auto width = static_cast<std::int32_t>(state.range(0));
  const auto height = static_cast<std::int32_t>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  PlaneBuffer plane = randomPlane(width, height);
  dwtForward2d(plane.rows, width, height, threads);  // untimed: first-touch faults
  for (auto _ : state) {
    dwtForward2d(plane.rows, width, height, threads);
    benchmark::DoNotOptimize(plane.rows[0][0]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(width) * height);
  planeRelease(&plane);
}

// The fused transform out of place, from one plane into another: what
// Python's forward() calls.
void forward2dInto(benchmark::State& state) {
  const auto width = static_cast<std::int32_t>(state.range(0));
  const auto height = static_cast<std::int32_t>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  PlaneBuffer source = randomPlane(width, height);
  PlaneBuffer result = benchPlane(width, height);
  dwtForward2dInto(result.rows, source.rows, width, height, threads);  // untimed: first touch
  for (auto _ : state) {
    dwtForward2dInto(result.rows, source.rows, width, height, threads);
    benchmark::DoNotOptimize(result.rows[0][0]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(width) * height);
  planeRelease(&result);
  planeRelease(&source);
}

// The inverse pair on a chosen thread count.
void inverse2dThreads(benchmark::State& state) {
  const auto width = static_cast<std::int32_t>(state.range(0));
  const auto height = static_cast<std::int32_t>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  PlaneBuffer source = randomPlane(width, height);
  PlaneBuffer middle = benchPlane(width, height);
  PlaneBuffer output = benchPlane(width, height);
  for (int round = 0; round < 2; ++round) {  // the first round untimed
    if (round == 1) {
      for (auto _ : state) {
        dwtInverseColumns(middle.rows, source.rows, width / 2, height / 2, threads);
        dwtInverseRows(output.rows, middle.rows, width / 2, height / 2, threads);
        benchmark::DoNotOptimize(output.rows[0][0]);
        benchmark::ClobberMemory();
      }
      break;
    }
    dwtInverseColumns(middle.rows, source.rows, width / 2, height / 2, threads);
    dwtInverseRows(output.rows, middle.rows, width / 2, height / 2, threads);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(width) * height);
  planeRelease(&output);
  planeRelease(&middle);
  planeRelease(&source);
}

void threadedSizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "threads"});
  for (const int n : {512, 2048, 8192})
    for (const int threads : {1, 0}) b->Args({n, n, threads});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({512, 512})->Args({2048, 2048})->Args({8192, 8192})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(forward2d)->Apply(sizes);
BENCHMARK(forward2dFused)->Name("fused2d")->Apply(threadedSizes);
BENCHMARK(forward2dInto)->Name("fused2d_into")->Apply(threadedSizes);
BENCHMARK(inverse2dThreads)->Name("inverse2d_threads")->Apply(threadedSizes);
BENCHMARK(inverse2d)->Apply(sizes);
BENCHMARK(forward2dPlain)->Name("forward2d_plain")->Apply(sizes);
BENCHMARK(inverse2dPlain)->Name("inverse2d_plain")->Apply(sizes);
// Each of these counts the samples of both of its passes.
BENCHMARK(forwardRowsOnly)->Name("forward_rows_x2")->Apply(sizes);
BENCHMARK(forwardColumnsOnly)->Name("forward_columns_x2")->Apply(sizes);
BENCHMARK(inverseColumnsOnly)->Name("inverse_columns_x2")->Apply(sizes);
BENCHMARK(inverseRowsOnly)->Name("inverse_rows_x2")->Apply(sizes);

BENCHMARK_MAIN();
