// Throughput of the importer's text passes over a generated program of 10^6 statements
// (gate calls with and without parameters and modifiers, measurements, comments and a
// few gate definitions). Each benchmark reports bytes per second of the text it reads.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

#include "qasm/import/qasm3_import.hpp"

namespace {

using namespace corvane::qasm3::detail;

constexpr int kStatements = 1'000'000;
constexpr int kQubits = 64;

void append_qubit(std::string& out, int i) {
  out.append("q[").append(std::to_string(i % kQubits)).append("]");
}

void append_bit(std::string& out, int i) {
  out.append("c[").append(std::to_string(i % kQubits)).append("]");
}

// Appends statement `i` (with its comment, if any), cycling through the usual shapes.
void append_statement(std::string& out, int i) {
  switch (i % 10) {
    case 0:
    case 1:
      out.append("h ");
      append_qubit(out, i);
      break;
    case 2:
      out.append("rz(0.5) ");
      append_qubit(out, i);
      break;
    case 3:
    case 4:
      out.append(i % 10 == 3 ? "cx " : "ctrl @ x ");
      append_qubit(out, i);
      out.append(", ");
      append_qubit(out, i + 1);
      break;
    case 5:
      out.append("negctrl @ ctrl @ rx(1.25) ");
      append_qubit(out, i);
      out.append(", ");
      append_qubit(out, i + 1);
      out.append(", ");
      append_qubit(out, i + 2);
      break;
    case 6:
      out.append("measure ");
      append_qubit(out, i);
      out.append(" -> ");
      append_bit(out, i);
      break;
    case 7:
      append_bit(out, i);
      out.append(" = measure ");
      append_qubit(out, i);
      break;
    case 8:
      out.append("U(0.1, 0.2, 0.3) ");
      append_qubit(out, i);
      out.append("; // rotate\n");
      return;
    default:
      out.append("g").append(std::to_string(i % 4)).append(" ");
      append_qubit(out, i);
      out.append(", ");
      append_qubit(out, i + 1);
      out.append("; /* call */\n");
      return;
  }
  out.append(";\n");
}

std::string generate_program() {
  std::string code = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";
  for (int g = 0; g < 4; ++g) {
    code.append("gate g").append(std::to_string(g));
    code.append(" a, b { cx a, b; h b; rz(0.25) a; }\n");
  }
  const std::string size = std::to_string(kQubits);
  code.append("qubit[").append(size).append("] q;\nbit[").append(size).append("] c;\n");
  for (int i = 0; i < kStatements; ++i)
    append_statement(code, i);
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

// Runs one whole-text pass per iteration and reports the bytes it reads.
template <class Pass>
void bench_pass(benchmark::State& state, const std::string& text, Pass pass) {
  for (auto _ : state)
    benchmark::DoNotOptimize(pass(text));
  count_bytes(state, text);
}

void BM_StripComments(benchmark::State& state) {
  bench_pass(state, program(), [](std::string_view t) { return strip_comments(t); });
}
BENCHMARK(BM_StripComments)->Unit(benchmark::kMillisecond);

void BM_SplitStatements(benchmark::State& state) {
  bench_pass(state, main_text(), [](std::string_view t) { return split_statements(t); });
}
BENCHMARK(BM_SplitStatements)->Unit(benchmark::kMillisecond);

void BM_ExtractQubitRegisters(benchmark::State& state) {
  bench_pass(state, stripped(), [](std::string_view t) { return extract_qubit_registers(t); });
}
BENCHMARK(BM_ExtractQubitRegisters)->Unit(benchmark::kMillisecond);

void BM_ExtractBitRegisters(benchmark::State& state) {
  bench_pass(state, stripped(), [](std::string_view t) { return extract_bit_registers(t); });
}
BENCHMARK(BM_ExtractBitRegisters)->Unit(benchmark::kMillisecond);

// Every "q[...]" of the program is an indexed use, so this is the densest scan.
void BM_ComputeNQubits(benchmark::State& state) {
  bench_pass(state, stripped(),
             [](std::string_view t) { return compute_n_qubits_from_body(t, "q"); });
}
BENCHMARK(BM_ComputeNQubits)->Unit(benchmark::kMillisecond);

void BM_ExtractGateDefs(benchmark::State& state) {
  bench_pass(state, stripped(), [](std::string_view t) { return extract_gate_defs(t); });
}
BENCHMARK(BM_ExtractGateDefs)->Unit(benchmark::kMillisecond);

// Modifiers, name, evaluated parameters and operands of every statement, into parts
// reused from one statement to the next as the importer does.
void BM_ParseStatements(benchmark::State& state) {
  const std::vector<std::string_view> stmts = split_statements(main_text());
  ModifierPrefix prefix;
  OpCall call;
  for (auto _ : state) {
    for (const std::string_view stmt : stmts) {
      parse_modifiers_prefix(stmt, prefix);
      parse_op_and_args(prefix.rest, call);
      benchmark::DoNotOptimize(call.operands.data());
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
