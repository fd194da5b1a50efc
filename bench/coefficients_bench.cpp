// Speed of the float coefficient operations: analysis from floats and from
// bytes, and synthesis, each from a plane into a warm one (written once
// before the timing), on one thread and on all of them, at one level and at
// five. Items per second are samples per second.
//
//   build/dwt97_bench --benchmark_filter=coefficients
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dwt97/coefficients.h"
#include "noise.h"

namespace {

enum class Operation { analyzeFloats, analyzeBytes, synthesize };

void coefficients(benchmark::State& state, Operation operation) {
  const auto width = static_cast<std::int32_t>(state.range(0));
  const auto height = static_cast<std::int32_t>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  const int levels = static_cast<int>(state.range(3));
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<std::uint8_t> bytes(count);
  testsupport::Noise noise(2463534242u);
  for (std::uint8_t& b : bytes) b = noise.next();
  std::vector<float> floats(bytes.begin(), bytes.end());
  std::vector<float> coefficients(count), out(count);
  const auto bytePlane =
      dwt97::planeOver(static_cast<const std::uint8_t*>(bytes.data()), width, height);
  const auto floatPlane = dwt97::planeOver(static_cast<const float*>(floats.data()), width, height);
  const auto outPlane = dwt97::planeOver(out.data(), width, height);
  if (dwt97::dwtAnalyze(floatPlane, dwt97::planeOver(coefficients.data(), width, height), levels,
                        threads)) {
    std::abort();
  }
  const auto coefficientPlane =
      dwt97::planeOver(static_cast<const float*>(coefficients.data()), width, height);
  const auto run = [&] {
    switch (operation) {
      case Operation::analyzeFloats:
        return dwt97::dwtAnalyze(floatPlane, outPlane, levels, threads);
      case Operation::analyzeBytes:
        return dwt97::dwtAnalyze(bytePlane, outPlane, levels, threads);
      case Operation::synthesize:
        break;
    }
    return dwt97::dwtSynthesize(coefficientPlane, outPlane, levels, threads);
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

BENCHMARK_CAPTURE(coefficients, analyze_floats, Operation::analyzeFloats)
    ->Name("coefficients_analyze_floats")
    ->Apply(shapes);
BENCHMARK_CAPTURE(coefficients, analyze_bytes, Operation::analyzeBytes)
    ->Name("coefficients_analyze_bytes")
    ->Apply(shapes);
BENCHMARK_CAPTURE(coefficients, synthesize, Operation::synthesize)
    ->Name("coefficients_synthesize")
    ->Apply(shapes);
