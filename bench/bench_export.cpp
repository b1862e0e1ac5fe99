// Export throughput on the realistic gate mix of gate_mix.hpp.
//
// Counters: gates/s (records of the sequence per second) and MB/s of program text.
//
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-rel -j2 --target bench_export
//   build-rel/bench/bench_export
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "corvane/backend/qasm/qasm3.hpp"
#include "gate_mix.hpp"

namespace {

void BM_ExportGateMix(benchmark::State& state) {
  const auto gate_count = static_cast<std::size_t>(state.range(0));
  const corvane::GateSequence gs = corvane::bench::make_gate_mix(gate_count);
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text = corvane::qasm3::gate_sequence_to_qasm3(gs);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
    benchmark::ClobberMemory();
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["gates/s"] =
      benchmark::Counter(static_cast<double>(gate_count) * iterations, benchmark::Counter::kIsRate);
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) * iterations / 1e6,
                                              benchmark::Counter::kIsRate);
  state.counters["output_MB"] = static_cast<double>(bytes) / 1e6;
}

BENCHMARK(BM_ExportGateMix)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
