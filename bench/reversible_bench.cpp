// Speed of the reversible 5/3: analysis from bytes and synthesis, each from
// a plane into a warm one (written once before the timing), on one thread
// and on all of them, at one level and at five. Items per second are samples
// per second.
//
//   build/dwt97_bench --benchmark_filter=reversible
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dwt97/reversible.h"
#include "noise.h"

namespace {

void reversible(benchmark::State& state, bool synthesis) {
  const auto width = static_cast<std::int32_t>(state.range(0));
  const auto height = static_cast<std::int32_t>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  const int levels = static_cast<int>(state.range(3));
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<std::uint8_t> bytes(count);
  testsupport::Noise noise(2463534242u);
  for (std::uint8_t& b : bytes) b = noise.next();
  std::vector<std::int32_t> coefficients(count), out(count);
  const auto bytePlane =
      dwt97::planeOver(static_cast<const std::uint8_t*>(bytes.data()), width, height);
  const auto outPlane = dwt97::planeOver(out.data(), width, height);
  if (dwt97::dwtAnalyze53(bytePlane, dwt97::planeOver(coefficients.data(), width, height), levels,
                          threads)) {
    std::abort();
  }
  const auto coefficientPlane =
      dwt97::planeOver(static_cast<const std::int32_t*>(coefficients.data()), width, height);
  const auto run = [&] {
    return synthesis ? dwt97::dwtSynthesize53(coefficientPlane, outPlane, levels, threads)
                     : dwt97::dwtAnalyze53(bytePlane, outPlane, levels, threads);
  };
  if (run()) std::abort();  // the output warm, its pages in place
  for (auto _ : state) {
    if (run()) std::abort();
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(count));
}

void shapes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "threads", "levels"});
  for (const std::int64_t side : {512, 2048, 8192}) {
    for (const std::int64_t threads : {1, 0}) b->Args({side, side, threads, 1});
  }
  b->Args({2048, 2048, 1, 5});
  b->Args({2048, 2048, 0, 5});
  b->UseRealTime();
}

}  // namespace

BENCHMARK_CAPTURE(reversible, analyze_bytes, false)
    ->Name("reversible_analyze_bytes")
    ->Apply(shapes);
BENCHMARK_CAPTURE(reversible, synthesize, true)->Name("reversible_synthesize")->Apply(shapes);
