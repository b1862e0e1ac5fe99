// Throughput of the importer's text passes over a generated program of 10^6 statements
// (gate calls with and without parameters and modifiers, measurements, comments and a
// few gate definitions). Each benchmark reports bytes per second of the text it reads.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

#include "qasm3_import.hpp"

namespace {

using namespace corvane::qasm3::detail;

constexpr int kStatements = 1'000'000;
constexpr int kQubits = 64;

std::string qubit(int i) {
  return "q[" + std::to_string(i % kQubits) + "]";
}

// One statement (or comment) of the generated program, cycling through the usual shapes.
std::string statement(int i) {
  const std::string a = qubit(i);
  const std::string b = qubit(i + 1);
  switch (i % 10) {
    case 0:
    case 1:
      return "h " + a + ";\n";
    case 2:
      return "rz(0.5) " + a + ";\n";
    case 3:
      return "cx " + a + ", " + b + ";\n";
    case 4:
      return "ctrl @ x " + a + ", " + b + ";\n";
    case 5:
      return "negctrl @ ctrl @ rx(1.25) " + a + ", " + b + ", " + qubit(i + 2) + ";\n";
    case 6:
      return "measure " + a + " -> c[" + std::to_string(i % kQubits) + "];\n";
    case 7:
      return "c[" + std::to_string(i % kQubits) + "] = measure " + a + ";\n";
    case 8:
      return "U(0.1, 0.2, 0.3) " + a + "; // rotate\n";
    default:
      return "g" + std::to_string(i % 4) + " " + a + ", " + b + "; /* call */\n";
  }
}

std::string generate_program() {
  std::string code = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";
  for (int g = 0; g < 4; ++g) {
    code += "gate g" + std::to_string(g) + " a, b { cx a, b; h b; rz(0.25) a; }\n";
  }
  code += "qubit[" + std::to_string(kQubits) + "] q;\nbit[" + std::to_string(kQubits) + "] c;\n";
  for (int i = 0; i < kStatements; ++i)
    code += statement(i);
  return code;
}

const std::string& program() {
  static const std::string code = generate_program();
  return code;
}

const std::string& stripped() {
  static const std::string code = strip_comments(program());
  return code;
}

const std::string& main_text() {
  static const std::string text = extract_gate_defs(stripped()).main_text;
  return text;
}

void count_bytes(benchmark::State& state, std::string_view text) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

void BM_StripComments(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(strip_comments(program()));
  count_bytes(state, program());
}
BENCHMARK(BM_StripComments)->Unit(benchmark::kMillisecond);

void BM_SplitStatements(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(split_statements(main_text()));
  count_bytes(state, main_text());
}
BENCHMARK(BM_SplitStatements)->Unit(benchmark::kMillisecond);

void BM_ExtractQubitRegisters(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(extract_qubit_registers(stripped()));
  count_bytes(state, stripped());
}
BENCHMARK(BM_ExtractQubitRegisters)->Unit(benchmark::kMillisecond);

void BM_ExtractBitRegisters(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(extract_bit_registers(stripped()));
  count_bytes(state, stripped());
}
BENCHMARK(BM_ExtractBitRegisters)->Unit(benchmark::kMillisecond);

// Every "q[...]" of the program is an indexed use, so this is the densest scan.
void BM_ComputeNQubits(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(compute_n_qubits_from_body(stripped(), "q"));
  count_bytes(state, stripped());
}
BENCHMARK(BM_ComputeNQubits)->Unit(benchmark::kMillisecond);

void BM_ExtractGateDefs(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(extract_gate_defs(stripped()));
  count_bytes(state, stripped());
}
BENCHMARK(BM_ExtractGateDefs)->Unit(benchmark::kMillisecond);

// Modifiers, name, evaluated parameters and operands of every statement.
void BM_ParseStatements(benchmark::State& state) {
  const std::vector<std::string_view> stmts = split_statements(main_text());
  for (auto _ : state) {
    for (const std::string_view stmt : stmts) {
      const ModifierPrefix prefix = parse_modifiers_prefix(stmt);
      benchmark::DoNotOptimize(parse_op_and_args(prefix.rest));
    }
  }
  count_bytes(state, main_text());
  state.counters["statements/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(stmts.size()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseStatements)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
