// Lowering throughput at its two speeds:
// - a program that needs no lowering (the exporter's text of the realistic gate mix of
//   gate_mix.hpp, 10^6 records, with its gate definitions), read and written again;
// - unrolling: a loop whose body writes three statements per pass, with a parameter
//   computed from the loop variable, unrolled into 10^6 statements.
//
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release && cmake --build build-rel --target
//   bench_lower && build-rel/bench/bench_lower
//
// Counter: statements/s, of the lowered program's statements.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "corvane/backend/qasm/qasm3.hpp"
#include "gate_mix.hpp"

namespace {

constexpr std::int64_t QUBITS = 64;

std::size_t count_statements(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), ';'));
}

std::string unrolling_program(std::int64_t statements) {
  return "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[64] q;\nfor int i in [0:" +
         std::to_string(statements / 3 - 1) +
         "] {\n  h q[i % 64];\n  cx q[i % 64], q[(i + 1) % 64];\n  rz(0.001 * i) q[i % 64];\n}\n";
}

void run(benchmark::State& state, const std::string& program) {
  std::size_t statements = 0;
  for (auto _ : state) {
    const std::string lowered = corvane::qasm3::lower_qasm3(program);
    statements = count_statements(lowered);
    benchmark::DoNotOptimize(lowered.data());
  }
  state.counters["statements/s"] =
      benchmark::Counter(static_cast<double>(statements) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_LowerNothingToDo(benchmark::State& state) {
  const std::string program = corvane::qasm3::gate_sequence_to_qasm3(
      corvane::bench::make_gate_mix(static_cast<std::size_t>(state.range(0)), QUBITS));
  run(state, program);
}

void BM_LowerUnrolling(benchmark::State& state) {
  run(state, unrolling_program(state.range(0)));
}

BENCHMARK(BM_LowerNothingToDo)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LowerUnrolling)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
