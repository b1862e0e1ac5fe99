// Memory and time to build a large circuit of simple gates: 10^6 one-qubit gates without
// a parameter appended to a GateSequence. The memory a gate costs is measured from the
// allocator's own books (mallinfo2: bytes in use, small chunks and mapped blocks alike),
// so the record, the sequence's spare capacity and any heap data of the gate all count.
//
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release && cmake --build build-rel --target
//   bench_gate_model && build-rel/bench/bench_gate_model
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace {

constexpr std::int64_t kQubits = 64;

std::size_t heap_in_use() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Builds `gate_count` gates cycling over a few plain one-qubit ids and the qubits.
corvane::GateSequence build_simple_gates(std::size_t gate_count, bool reserve) {
  static constexpr const char* kIds[] = {"h", "x", "s_dag", "sqrtx"};
  corvane::GateSequence sequence(kQubits);
  if (reserve) sequence.reserve(gate_count);
  for (std::size_t i = 0; i < gate_count; ++i) {
    sequence.add_gate(corvane::QuantumGate(kIds[i % 4], {static_cast<std::int64_t>(i) % kQubits}));
  }
  return sequence;
}

void BM_BuildSimpleGates(benchmark::State& state) {
  const auto gate_count = static_cast<std::size_t>(state.range(0));
  const bool reserve = state.range(1) != 0;
  double bytes_per_gate = 0.0;
  for (auto _ : state) {
    const std::size_t before = heap_in_use();
    corvane::GateSequence sequence = build_simple_gates(gate_count, reserve);
    const std::size_t after = heap_in_use();
    benchmark::DoNotOptimize(sequence.data().data());
    if (after <= before) {
      // Sanitizer builds replace malloc, whose books then stay empty.
      state.SkipWithError("the allocator reports no memory in use; run a plain Release build");
      break;
    }
    bytes_per_gate = static_cast<double>(after - before) / static_cast<double>(gate_count);
    state.PauseTiming();  // releasing the sequence is not part of building it
    { const corvane::GateSequence released = std::move(sequence); }
    state.ResumeTiming();
  }
  state.counters["bytes_per_gate"] = bytes_per_gate;
  state.counters["sizeof_QuantumGate"] = static_cast<double>(sizeof(corvane::QuantumGate));
  state.counters["gates/s"] =
      benchmark::Counter(static_cast<double>(gate_count) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

// Second argument: 0 appends to an empty sequence (spare capacity counts), 1 reserves first.
BENCHMARK(BM_BuildSimpleGates)
    ->Args({1'000'000, 0})
    ->Args({1'000'000, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
