// Import throughput and memory on programs of 10^4, 10^5 and 10^6 statements: the
// exporter's text of the realistic gate mix of gate_mix.hpp (with its gate definitions
// for blocks and non-standard gates), the same mix without anything that needs a
// definition, and a program of simple one-qubit gates only.
//
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release && cmake --build build-rel --target
//   bench_import && build-rel/bench/bench_import
//
// Counters: statements/s and MB/s of the text read; peak_B/record, the most heap the
// import held at once beyond the text, per gate record of the result; and
// result_B/record, the heap the resulting sequence keeps.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "corvane/backend/qasm/qasm3.hpp"
#include "gate_mix.hpp"
#include "qasm/import/qasm3_import.hpp"

// ------------------------------------------------------------------ heap accounting
// Every allocation of the program passes through these, so the live and the peak heap
// (in usable bytes, as the allocator hands them out) can be read around one import.
namespace {
std::size_t g_live = 0;
std::size_t g_peak = 0;

void* counted_alloc(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  g_live += malloc_usable_size(p);
  if (g_live > g_peak) g_peak = g_live;
  return p;
}

void counted_free(void* p) noexcept {
  if (p == nullptr) return;
  g_live -= malloc_usable_size(p);
  std::free(p);
}
}  // namespace

void* operator new(std::size_t size) {
  return counted_alloc(size);
}
void* operator new[](std::size_t size) {
  return counted_alloc(size);
}
void operator delete(void* p) noexcept {
  counted_free(p);
}
void operator delete[](void* p) noexcept {
  counted_free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  counted_free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  counted_free(p);
}

namespace {

using corvane::GateSequence;
using corvane::QuantumGate;

enum class Mix { WithDefinitions, WithoutDefinitions, SimpleGates };

// A sequence of `count` records; without definitions, blocks and non-standard gates
// are left out of the mix.
GateSequence make_sequence(Mix mix, std::size_t count) {
  constexpr std::int64_t kQubits = 64;
  if (mix == Mix::WithDefinitions) return corvane::bench::make_gate_mix(count, kQubits);
  GateSequence gs(kQubits);
  gs.reserve(count);
  corvane::bench::GateMix source(kQubits, 20240611);
  for (std::int64_t k = 0; gs.data().size() < count; ++k) {
    if (mix == Mix::SimpleGates) {
      gs.add_gate(QuantumGate(k % 3 == 0 ? "h" : k % 3 == 1 ? "x" : "s", {k % kQubits}));
      continue;
    }
    QuantumGate g = source.next();
    if (g.id == "block" || g.id == "sqrty" || g.id == "sqrtx_dag") continue;
    gs.add_gate(std::move(g));
  }
  return gs;
}

std::size_t count_statements(const std::string& text) {
  using namespace corvane::qasm3::detail;
  const ExtractedDefs defs = extract_gate_defs(strip_comments(text));
  return split_statements(defs.main_text).size();
}

void BM_Import(benchmark::State& state, Mix mix) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const std::string text = corvane::qasm3::gate_sequence_to_qasm3(make_sequence(mix, count));
  const std::size_t statements = count_statements(text);

  std::size_t peak_bytes = 0;
  std::size_t result_bytes = 0;
  std::size_t records = 0;
  for (auto _ : state) {
    const std::size_t before = g_live;
    g_peak = g_live;
    GateSequence gs = corvane::qasm3::qasm3_to_gate_sequence(text);
    peak_bytes = g_peak - before;
    result_bytes = g_live - before;
    records = gs.data().size();
    benchmark::DoNotOptimize(gs.data().data());
    state.PauseTiming();  // releasing the result is not part of the import
    { const GateSequence released = std::move(gs); }
    state.ResumeTiming();
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["statements/s"] =
      benchmark::Counter(static_cast<double>(statements) * iterations, benchmark::Counter::kIsRate);
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(text.size()) * iterations / 1e6,
                                              benchmark::Counter::kIsRate);
  state.counters["text_MB"] = static_cast<double>(text.size()) / 1e6;
  state.counters["peak_B/record"] = static_cast<double>(peak_bytes) / static_cast<double>(records);
  state.counters["result_B/record"] =
      static_cast<double>(result_bytes) / static_cast<double>(records);
}

void args(benchmark::internal::Benchmark* b) {
  b->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_Import, mix_with_definitions, Mix::WithDefinitions)->Apply(args);
BENCHMARK_CAPTURE(BM_Import, mix_without_definitions, Mix::WithoutDefinitions)->Apply(args);
BENCHMARK_CAPTURE(BM_Import, simple_gates, Mix::SimpleGates)->Apply(args);

}  // namespace

BENCHMARK_MAIN();
