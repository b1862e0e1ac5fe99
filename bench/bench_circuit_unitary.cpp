// circuit_unitary on the gate mix without its measurements: many small programs, as the
// property tests check them (8 qubits, 30 gates), and the largest size it takes.
//
//   cmake --build build-rel --target bench_circuit_unitary && build-rel/bench/bench_circuit_unitary
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>

#include "corvane/backend/gatesequence/circuit_unitary.hpp"
#include "gate_mix.hpp"

namespace {

// `gate_count` records of the mix on `qubits` qubits, measurements left out: they may
// only end a circuit whose unitary is asked for.
corvane::GateSequence unitary_mix(std::size_t gate_count, std::int64_t qubits) {
  corvane::bench::GateMix mix(qubits, 20240611);
  corvane::GateSequence gs(qubits);
  while (gs.data().size() < gate_count) {
    corvane::QuantumGate g = mix.next();
    if (g.id != "measure") gs.add_gate(std::move(g));
  }
  return gs;
}

void BM_CircuitUnitary(benchmark::State& state) {
  const auto qubits = static_cast<std::int64_t>(state.range(0));
  const auto gates = static_cast<std::size_t>(state.range(1));
  const corvane::GateSequence gs = unitary_mix(gates, qubits);
  for (auto _ : state) {
    corvane::Matrix u = corvane::circuit_unitary(gs);
    benchmark::DoNotOptimize(u.data.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * gates));
}
BENCHMARK(BM_CircuitUnitary)
    ->Args({4, 30})
    ->Args({8, 30})
    ->Args({12, 30})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
