// Operand resolution, unitary decoding, recognition of generated definitions,
// statement interpretation, definition expansion and the import driver.
#include <cctype>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "corvane/backend/pygates/unitary.hpp"
#include "qasm/import/qasm3_import.hpp"
#include "test_support.hpp"

namespace {

using corvane::GateBlock;
using corvane::IndexList;
using corvane::Matrix;
using corvane::Parameter;
using corvane::QuantumGate;
using corvane::RegisterDecl;
using corvane::RegisterList;
namespace qasm3 = corvane::qasm3;
namespace detail = corvane::qasm3::detail;
using detail::IndexRange;
using detail::LocalArgMap;
using detail::RegisterMap;
using detail::RegisterSpan;

// What `fn` returns, or "<Kind>: <message>" of the error it raises.
template <class Fn>
std::string value_or_error(Fn&& fn) {
  std::string value;
  const std::string outcome = outcome_of([&] { value = fn(); });
  return outcome == "ok" ? value : outcome;
}

RegisterMap make_map(std::initializer_list<std::pair<const char*, RegisterSpan>> entries) {
  RegisterMap map;
  for (const auto& [name, span] : entries)
    map.set(name, span);
  return map;
}

// ================================================================== operand resolution

const RegisterMap kQregs = make_map({{"q", {0, 2}}, {"anc", {2, 1}}, {"zero", {3, 0}}});
const RegisterMap kBits = make_map({{"c", {0, 2}}, {"flag", {2, 1}}});
const LocalArgMap kArgs{{"a", 0}, {"b", 1}};
const LocalArgMap kNoArgs{};

enum class Resolver { Operand, QubitOperands, BitOperand, BitOperands };

struct OperandCase {
  Resolver fn;
  std::string tok;
  const LocalArgMap* local;  // null: outside a definition
  const RegisterMap* bits;   // null: no bit registers
  std::string expected;      // "first+count" for ranges, the index, or a ValueError's message
};

std::string resolve(const OperandCase& c) {
  return value_or_error([&]() -> std::string {
    switch (c.fn) {
      case Resolver::Operand:
        return std::to_string(detail::resolve_operand(c.tok, kQregs, c.local));
      case Resolver::BitOperand:
        return std::to_string(detail::resolve_bit_operand(c.tok, c.bits));
      case Resolver::QubitOperands: {
        const IndexRange r = detail::resolve_qubit_operands(c.tok, kQregs, c.local);
        return std::to_string(r.first) + "+" + std::to_string(r.count);
      }
      case Resolver::BitOperands: {
        const IndexRange r = detail::resolve_bit_operands(c.tok, c.bits);
        return std::to_string(r.first) + "+" + std::to_string(r.count);
      }
    }
    return "unknown resolver";
  });
}

TEST(OperandResolution, Table) {
  using R = Resolver;
  const RegisterMap empty_bits;
  const std::vector<OperandCase> cases = {
      // indexed qubit operands: spaces, leading zeros, digits of other scripts
      {R::Operand, "q[1]", nullptr, nullptr, "1"},
      {R::Operand, " q\t[\n1\u00a0] ", nullptr, nullptr, "1"},
      {R::Operand, "anc[0]", nullptr, nullptr, "2"},
      {R::Operand, "anc", nullptr, nullptr, "2"},
      {R::Operand, "q[002]", nullptr, nullptr, "Index 2 out of range for qubit register q[2]"},
      {R::Operand, "q[\u0662\u0660]", nullptr, nullptr,
       "Index 20 out of range for qubit register q[2]"},
      {R::Operand, "q[000099999999999999999999999]", nullptr, nullptr,
       "Index 99999999999999999999999 out of range for qubit register q[2]"},
      {R::Operand, "zero[0]", nullptr, nullptr, "Index 0 out of range for qubit register zero[0]"},
      {R::Operand, "r", nullptr, nullptr, "Unsupported operand form: 'r'"},
      {R::Operand, "zero", nullptr, nullptr,
       "Scalar qubit operand 'zero' refers to qubit[0] register"},
      {R::Operand, "q[-1]", nullptr, nullptr, "Unsupported operand form: 'q[-1]'"},
      {R::Operand, "q[1]]", nullptr, nullptr, "Unsupported operand form: 'q[1]]'"},
      {R::Operand, "1q[0]", nullptr, nullptr, "Unsupported operand form: '1q[0]'"},
      {R::Operand, "", nullptr, nullptr, "Unsupported operand form: ''"},
      {R::Operand, "q'[0]", nullptr, nullptr, "Unsupported operand form: \"q'[0]\""},
      {R::Operand, "\u00e9t\u00e9[0]", nullptr, nullptr,
       "Unsupported operand form: '\u00e9t\u00e9[0]'"},
      {R::Operand, "q\u00e9[0]", nullptr, nullptr, "Unknown qubit register: 'q\u00e9'"},
      // inside a definition body
      {R::Operand, "b", &kArgs, nullptr, "1"},
      {R::Operand, " a ", &kArgs, nullptr, "0"},
      {R::Operand, "q[1]", &kArgs, nullptr, "1"},
      {R::Operand, "r[0]", &kArgs, nullptr, "Unknown qubit register: 'r'"},
      {R::Operand, "anc", &kArgs, nullptr, "Unknown local qubit: 'anc'"},
      {R::Operand, "a", &kNoArgs, nullptr, "Unknown local qubit: 'a'"},
      {R::Operand, "q[-1]", &kNoArgs, nullptr, "Unknown local qubit: 'q[-1]'"},
      // whole registers
      {R::QubitOperands, "q", nullptr, nullptr, "0+2"},
      {R::QubitOperands, " anc ", nullptr, nullptr, "2+1"},
      {R::QubitOperands, "zero", nullptr, nullptr, "3+0"},
      {R::QubitOperands, "q[1]", nullptr, nullptr, "1+1"},
      {R::QubitOperands, "r", nullptr, nullptr, "Unsupported operand form: 'r'"},
      {R::QubitOperands, "q", &kArgs, nullptr, "Unknown local qubit: 'q'"},
      {R::QubitOperands, "b", &kArgs, nullptr, "1+1"},
      // bits
      {R::BitOperand, "c[1]", nullptr, &kBits, "1"},
      {R::BitOperand, "flag", nullptr, &kBits, "2"},
      {R::BitOperand, "c[5]", nullptr, &kBits, "Index 5 out of range for bit register c[2]"},
      {R::BitOperand, "d[5]", nullptr, &kBits, "5"},
      {R::BitOperand, "c[7]", nullptr, nullptr, "7"},
      {R::BitOperand, "c[7]", nullptr, &empty_bits, "7"},
      {R::BitOperand, "c", nullptr, &kBits, "Scalar bit operand 'c' refers to bit[2] register"},
      {R::BitOperand, "c", nullptr, &empty_bits, "Unsupported classical operand form: 'c'"},
      {R::BitOperand, "c[-1]", nullptr, &kBits, "Unsupported classical operand form: 'c[-1]'"},
      {R::BitOperand, "d[9223372036854775806]", nullptr, &kBits, "9223372036854775806"},
      {R::BitOperand, "d[9223372036854775807]", nullptr, &kBits,
       "Bit index 9223372036854775807 is too large"},
      {R::BitOperand, "d[99999999999999999999]", nullptr, &kBits,
       "Bit index 99999999999999999999 is too large"},
      {R::BitOperand, "c[99999999999999999999]", nullptr, &kBits,
       "Index 99999999999999999999 out of range for bit register c[2]"},
      {R::BitOperands, "c", nullptr, &kBits, "0+2"},
      {R::BitOperands, "c[1]", nullptr, &kBits, "1+1"},
      {R::BitOperands, "c", nullptr, nullptr, "Unsupported classical operand form: 'c'"},
  };
  for (const OperandCase& c : cases) {
    const bool failure = c.expected.empty() || std::isdigit(c.expected[0]) == 0;
    EXPECT_EQ(resolve(c), (failure ? "ValueError: " : "") + c.expected) << "operand " << c.tok;
  }
}

// ================================================================== unitary decoding

// The matrix size and the target count that a number of unitary parameters encodes.
TEST(UnitaryDecoding, DimensionsAndTargetCounts) {
  const std::string kRequires = "ValueError: unitary gate requires flattened matrix parameters";
  const std::string kPairs = "ValueError: unitary parameters must be real/imaginary pairs";
  const std::string kSquare =
      "ValueError: unitary parameter count 6 does not encode a square matrix";
  const std::string kPower = "ValueError: unitary matrix dimension ";
  const std::vector<std::tuple<std::optional<std::size_t>, std::string, std::string>> rows = {
      {std::nullopt, kRequires, kRequires},
      {0, kRequires, kRequires},
      {3, kPairs, kPairs},
      {6, kSquare, kSquare},
      {2, "1", "0"},
      {8, "2", "1"},
      {18, "3", kPower + "3 must be a power of two"},
      {32, "4", "2"},
      {72, "6", kPower + "6 must be a power of two"},
      {128, "8", "3"},
      {std::size_t{2} * 1024 * 1024, "1024", "10"},
  };
  for (const auto& [count, dim, targets] : rows) {
    std::optional<std::vector<double>> params;
    if (count) params.emplace(*count, 0.0);
    const auto text = [](std::size_t n) { return std::to_string(n); };
    EXPECT_EQ(value_or_error([&] { return text(detail::unitary_dim_from_params(params)); }), dim);
    EXPECT_EQ(value_or_error([&] { return text(detail::unitary_target_count(params)); }), targets);
  }
}

TEST(UnitaryDecoding, MatrixIsRowMajorPairs) {
  EXPECT_EQ(detail::decode_unitary_matrix({1, 2, 3, 4, 5, 6, 7, 8}),
            Matrix(2, 2, {{1, 2}, {3, 4}, {5, 6}, {7, 8}}));
  const Matrix three = detail::decode_unitary_matrix(std::vector<double>(18, 0.5));
  EXPECT_EQ(three.rows, 3U);
  EXPECT_EQ(three.cols, 3U);
}

TEST(UnitaryDecoding, StoredMatrixLookup) {
  const auto& table = corvane::gate_set();
  ASSERT_NE(table.get("h"), nullptr);
  EXPECT_EQ(detail::resolve_matrix_q3("H", Parameter{}), table.get("h")->fixed);
  EXPECT_EQ(detail::resolve_matrix_q3("sqrty_dag", Parameter{}), table.get("sqrty_dag")->fixed);
  // "block" is never looked up; ids without an entry give nothing.
  EXPECT_EQ(detail::resolve_matrix_q3("Block", Parameter{}), std::nullopt);
  EXPECT_EQ(detail::resolve_matrix_q3("no_such_gate", Parameter{}), std::nullopt);
  // Full case mapping: U+0130 lowers to "i" + U+0307, not to the identity's id "i";
  // the Kelvin sign lowers to "k".
  ASSERT_NE(table.get("i"), nullptr);
  EXPECT_EQ(detail::resolve_matrix_q3("\u0130", Parameter{}), std::nullopt);
  EXPECT_EQ(detail::resolve_matrix_q3("I", Parameter{}), table.get("i")->fixed);
  EXPECT_EQ(detail::resolve_matrix_q3("BLOC\u212a", Parameter{}), std::nullopt);
  // Matrix functions need a parameter.
  ASSERT_NE(table.get("rx"), nullptr);
  EXPECT_EQ(detail::resolve_matrix_q3("rx", Parameter{}), std::nullopt);
  const Parameter angle = Parameter::list({0.5}, true);
  EXPECT_EQ(detail::resolve_matrix_q3("RX", angle), table.get("rx")->of_parameter(angle));
}

// ================================================================== generated definitions

TEST(GeneratedDefinitions, Normalisation) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"  h   a0 ;", "h a0"},
      {"h a0;;", "h a0"},
      {"h a0; ;", "h a0;"},
      {"\tsdg\n a0", "sdg a0"},
      {"", ""},
      {";;;", ""},
      {"cx a0,a1", "cx a0,a1"},
      {"cx  a0,\u00a0a1", "cx a0, a1"},
      {"H\u2003A0", "H A0"},
  };
  for (const auto& [in, out] : rows)
    EXPECT_EQ(detail::normalize_stmt_for_match(in), out) << in;
}

TEST(GeneratedDefinitions, Recognition) {
  using detail::GateDef;
  const std::vector<std::string> sqrty = {"sdg a0", "h a0", "s a0", "h a0", "s a0"};
  struct Row {
    GateDef def;
    std::optional<std::string_view> id;
  };
  const std::vector<Row> rows = {
      {{"sqrty_0", {"a0"}, sqrty}, "sqrty"},
      {{"sqrty_007", {"a0"}, sqrty}, "sqrty"},
      {{"sqrty_\u0663", {"a0"}, sqrty}, "sqrty"},
      {{"sqrty_dag_2", {"a0"}, {"sdg a0", "h a0", "sdg a0", "h a0", "s a0"}}, "sqrty_dag"},
      {{"sqrtx_dag_2", {"a0"}, {"h a0", "sdg a0", "h a0"}}, "sqrtx_dag"},
      {{"sqrtx_5", {"a0"}, {"h a0", "s a0", "h a0"}}, "sqrtx"},
      {{"sqrtx_5", {"a0"}, {"h  a0;", " s\ta0", "h a0;;"}}, "sqrtx"},
      {{"sqrty", {"a0"}, sqrty}, std::nullopt},
      {{"sqrty_", {"a0"}, sqrty}, std::nullopt},
      {{"sqrty_1a", {"a0"}, sqrty}, std::nullopt},
      {{"my_sqrty_1", {"a0"}, sqrty}, std::nullopt},
      {{"Sqrty_1", {"a0"}, sqrty}, std::nullopt},
      {{"sqrty_1", {"a0"}, {"h a0", "sdg a0", "s a0", "h a0", "s a0"}}, std::nullopt},
      {{"sqrty_1", {"a0"}, {"sdg a0", "h a0", "s a0", "h a0"}}, std::nullopt},
      {{"sqrty_1", {"a0"}, {"sdg a0", "h a0", "s a0", "h a0", "s a0", "s a0"}}, std::nullopt},
      {{"sqrty_1", {"q"}, {"sdg q", "h q", "s q", "h q", "s q"}}, std::nullopt},
      {{"sqrty_1", {"a0", "a1"}, sqrty}, std::nullopt},
      {{"sqrty_1", {}, sqrty}, std::nullopt},
      {{"sqrty_dag_1", {"a0"}, sqrty}, std::nullopt},
      {{"sqrtx_dag_1", {"a0"}, {"h a0", "s a0", "h a0"}}, std::nullopt},
      {{"sqrty_1", {"a0"}, {"SDG a0", "h a0", "s a0", "h a0", "s a0"}}, std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(detail::generated_non_standard_gate_id(row.def), row.id) << row.def.name;
  }
}

// ================================================================== interpretation

// Compact description of a record: "id t=(..) c=(..) s=(..) p=(..)|- m=Y|N", with
// "cl=(..) n=name" for measurements and "b=name[k children]" for blocks.
std::string list_text(const IndexList& list) {
  std::string out = "(";
  for (std::size_t k = 0; k < list.size(); ++k)
    out += (k ? "," : "") + std::to_string(list[k]);
  return out + ")";
}

std::string param_text(const Parameter& p) {
  if (p.is_absent()) return "-";
  if (p.kind() != Parameter::Kind::List) return "?";
  std::string out = p.as_list().is_tuple() ? "(" : "[";
  bool first = true;
  for (const auto& item : p.as_list()) {
    out += first ? "" : ",";
    first = false;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", std::get<double>(item));
    out += buf;
  }
  return out + (p.as_list().is_tuple() ? ")" : "]");
}

std::string describe(const QuantumGate& g) {
  std::string out = g.id + " t=" + list_text(g.target);
  if (g.classical_target()) {
    return out + " cl=" + list_text(*g.classical_target()) + " n=" + g.name().value_or("-") +
           (g.control.empty() && g.parameter.is_absent() ? "" : " ?");
  }
  out += " c=" + list_text(g.control) + " s=" + list_text(g.control_state);
  out += " p=" + param_text(g.parameter) + " m=" + (g.matrix() ? "Y" : "N");
  if (g.block_gate_sequence()) {
    out += " b=" + g.name().value_or("-") + "[" + std::to_string(g.block_gate_sequence()->size()) +
           "]";
  } else if (g.name()) {
    out += " n=" + *g.name();
  }
  return out;
}

const RegisterMap kQ3 = make_map({{"q", {0, 3}}});
const RegisterMap kC3 = make_map({{"c", {0, 3}}});

std::vector<std::string_view> views(const std::vector<std::string>& stmts) {
  return {stmts.begin(), stmts.end()};
}

// Interprets `stmts` over q[3] and c[3] and describes the records, one per line.
std::string interpret(const std::vector<std::string>& stmts, const detail::GateDefMap& defs = {}) {
  return value_or_error([&] {
    const detail::StmtsResult r = detail::stmts_to_gates(views(stmts), defs, kQ3, nullptr, &kC3);
    std::string out;
    for (const QuantumGate& g : r.gates)
      out += describe(g) + "\n";
    out += "max=" + std::to_string(r.max_idx) + "," + std::to_string(r.max_cidx) + " map=";
    for (const auto& [q, c] : r.measure_map)
      out += "(" + std::to_string(q) + "," + std::to_string(c) + ")";
    return out;
  });
}

struct StmtCase {
  std::string stmt;
  std::string expected;  // the records and "max=..." line, or "<Kind>: <message>"
};

void run_cases(const std::vector<StmtCase>& cases, const detail::GateDefMap& defs = {}) {
  for (const StmtCase& c : cases)
    EXPECT_EQ(interpret({c.stmt}, defs), c.expected) << c.stmt;
}

TEST(Interpretation, SkippedStatements) {
  for (const std::string stmt : {"OPENQASM 3.0", "include \"stdgates.inc\"", "qubit[3] q",
                                 "bit[3] c", "bit[2] c = measure q", "qubit", "bit", "   ", ""})
    EXPECT_EQ(interpret({stmt}), "max=-1,-1 map=") << stmt;
}

TEST(Interpretation, MeasurementForms) {
  const std::string one = "measure t=(1) cl=(2) n=measure\nmax=1,2 map=(1,2)";
  const std::string whole =
      "measure t=(0) cl=(0) n=measure\nmeasure t=(1) cl=(1) n=measure\n"
      "measure t=(2) cl=(2) n=measure\nmax=2,2 map=(0,0)(1,1)(2,2)";
  for (const std::string stmt :
       {"measure q[1] -> c[2]", "c[2] = measure q[1]", "measure q[1]->c[2]", "c[2]=measure q[1]",
        "measure\tq[1]\n->\nc[2]", "c[2]\n=\nmeasure\nq[1]", "measure  q[1]  ->  c[2]"})
    EXPECT_EQ(interpret({stmt}), one) << stmt;
  run_cases({
      {"c = measure q", whole},
      {"measure q -> c", whole},
      // Group 1 of the arrow form is lazy: it ends at the first arrow.
      {"measure q[1]->c[0]->x", "ValueError: Unsupported classical operand form: 'c[0]->x'"},
      // The assignment form wins, and its group 1 ends at the first "= measure".
      {"c[0] = measure q[0] -> c[1]", "ValueError: Unsupported operand form: 'q[0] -> c[1]'"},
      {"x = y = measure q[0]", "ValueError: Unsupported classical operand form: 'x = y'"},
      {"c[0] == measure q[0]", "ValueError: Unsupported classical operand form: 'c[0] ='"},
      // With two blanks and no text before the arrow, \s+ gives one blank to group 1.
      {"measure  -> c[0]", "ValueError: Unsupported operand form: ''"},
      {"measure \u00a0->c[0]", "ValueError: Unsupported operand form: ''"},
      // Not measurements: no target, no blank after the keyword, nothing after the arrow.
      {"measure q[0]", "measure t=(0) c=() s=() p=- m=N\nmax=0,-1 map="},
      {"measure -> c[0]", "ValueError: Unsupported operand form: '-> c[0]'"},
      {"measure q[0] ->", "ValueError: Unsupported operand form: 'q[0] ->'"},
      {"measureq[0] -> c[0]", "ValueError: Unsupported operand form: '[0] -> c[0]'"},
      {"c[0] = measureq[0]", "ValueError: Unsupported operand form: '[0] = measureq[0]'"},
      {"= measure q[0]", "ValueError: Cannot parse op name from: '= measure q[0]'"},
      // Bits of undeclared registers are their element numbers.
      {"measure q[0] -> d[7]", "measure t=(0) cl=(7) n=measure\nmax=0,7 map=(0,7)"},
  });
}

TEST(Interpretation, GateCalls) {
  run_cases({
      {"h q[0]", "h t=(0) c=() s=() p=- m=N\nmax=0,-1 map="},
      {"rz(pi/2) q[2]", "rz t=(2) c=() s=() p=(1.5707963267948966) m=N\nmax=2,-1 map="},
      {"rz() q[2]", "rz t=(2) c=() s=() p=() m=N\nmax=2,-1 map="},
      {"cx q[0], q[1]", "cx t=(1) c=(0) s=(1) p=- m=N\nmax=1,-1 map="},
      {"cnot q[0], q[1]", "cx t=(1) c=(0) s=(1) p=- m=N\nmax=1,-1 map="},
      {"cx q[0], q[1], q[2]", "cx t=(2) c=(0,1) s=(1,1) p=- m=N\nmax=2,-1 map="},
      {"cx q[0]", "cx t=(0) c=() s=() p=- m=N\nmax=0,-1 map="},
      {"cx", "ValueError: Not enough operands for cx: []"},
      {"ctrl @ cx q[0], q[1], q[2]", "cx t=(2) c=(0,1) s=(1) p=- m=N\nmax=2,-1 map="},
      {"ctrl @ cx q[0]", "cx t=(0) c=() s=() p=- m=N\nmax=0,-1 map="},
      {"ctrl @ negctrl @ x q[0], q[1], q[2]", "x t=(2) c=(0,1) s=(1,0) p=- m=N\nmax=2,-1 map="},
      {"negctrl@x q[2], q[0]", "x t=(0) c=(2) s=(0) p=- m=N\nmax=2,-1 map="},
      {"ccx q[0], q[1], q[2]", "mcx t=(2) c=(0,1) s=(1,1) p=- m=N\nmax=2,-1 map="},
      {"cswap q[0], q[1], q[2]", "swap t=(1,2) c=(0) s=(1) p=- m=N\nmax=2,-1 map="},
      {"cswap q[0], q[1]", "swap t=(0,1) c=() s=() p=- m=N\nmax=1,-1 map="},
      {"ccx", "ValueError: Not enough operands for ccx: []"},
      {"ctrl @ cswap q[0]", "ValueError: Not enough operands for cswap: ['q[0]']"},
      {"gphase(pi)", "gp t=() c=() s=() p=(3.1415926535897931) m=N\nmax=-1,-1 map="},
      {"ctrl @ gphase(pi) q[0]", "gp t=() c=(0) s=(1) p=(3.1415926535897931) m=N\nmax=0,-1 map="},
      {"x", "ValueError: Not enough operands for x: []"},
      {"id q[0]", "i t=(0) c=() s=() p=- m=N\nmax=0,-1 map="},
      {"cu(1, 2, 3, 4) q[0], q[1]", "u t=(1) c=(0) s=(1) p=(1,2,3) m=N\nmax=1,-1 map="},
      {"cu(1, 2, 3) q[0], q[1]", "u t=(1) c=(0) s=(1) p=(1,2,3) m=N\nmax=1,-1 map="},
      {"cu(1, 2, 3, 4, 5) q[0], q[1]", "u t=(1) c=(0) s=(1) p=(1,2,3,4,5) m=N\nmax=1,-1 map="},
      {"U(1, 2, 3) q[0]", "u t=(0) c=() s=() p=(1,2,3) m=N\nmax=0,-1 map="},
      {"u(1, 2, 3) q[0]", "u t=(0) c=() s=() p=(1,2,3) m=N\nmax=0,-1 map="},
      {"p(1) q[0]", "p t=(0) c=() s=() p=(1) m=N\nmax=0,-1 map="},
      {"phase(1) q[0]", "p t=(0) c=() s=() p=(1) m=N\nmax=0,-1 map="},
      {"sx q[0]", "sqrtx t=(0) c=() s=() p=- m=N\nmax=0,-1 map="},
      {"ctrl @ rx(1) q[0], q[1]", "rx t=(1) c=(0) s=(1) p=(1) m=N\nmax=1,-1 map="},
      {"barrier", "ValueError: Not enough operands for barrier: []"},
      {"block q[0]", "block t=(0) c=() s=() p=- m=N\nmax=0,-1 map="},
      // Unitary: the target count comes from the matrix, the matrix replaces the parameter.
      {"unitary(0, 0, 1, 0, 1, 0, 0, 0) q[1]", "unitary t=(1) c=() s=() p=- m=Y\nmax=1,-1 map="},
      {"ctrl @ unitary(0, 0, 1, 0, 1, 0, 0, 0) q[2], q[1]",
       "unitary t=(1) c=(2) s=(1) p=- m=Y\nmax=2,-1 map="},
      {"unitary(1, 0)", "unitary t=() c=() s=() p=- m=Y\nmax=-1,-1 map="},
      {"unitary(1, 0) q[0]", "ValueError: gphase controls mismatch: mods=[], operands=['q[0]']"},
      {"unitary() q[0]", "ValueError: unitary gate requires flattened matrix parameters"},
      {"unitary(0, 0, 1, 0, 1, 0, 0, 0)", "ValueError: Not enough operands for unitary: []"},
      // A word character after a skipped keyword is no boundary: these are gate calls.
      {"bits q[0]", "bits t=(0) c=() s=() p=- m=N\nmax=0,-1 map="},
      {"qubit\u00e9 q[0]", "qubit\u00e9 t=(0) c=() s=() p=- m=N\nmax=0,-1 map="},
      {"include2 q[1]", "include2 t=(1) c=() s=() p=- m=N\nmax=1,-1 map="},
      // Within one statement: syntax, then "i", then operands left to right, then arity,
      // then the control split.
      {"i(1/0) q[9]", "ZeroDivisionError: float division by zero"},
      {"i q[9]", "ValueError: OpenQASM 3.0 identity gate is 'id', not 'i'."},
      {"h q[9], r[0]", "ValueError: Index 9 out of range for qubit register q[3]"},
      {"h r[0], q[9]", "ValueError: Unknown qubit register: 'r'"},
      {"unitary(1, 0, 0) q[9]", "ValueError: Index 9 out of range for qubit register q[3]"},
      {"ctrl @ ccx", "ValueError: Not enough operands for ccx: []"},
      {"ctrl @ h", "ValueError: Not enough operands for h: []"},
      {"1h q[0]", "ValueError: Cannot parse op name from: '1h q[0]'"},
  });
}

// Consecutive statements naming different registers, and errors right after a register
// was found, resolve as each statement alone would.
TEST(Interpretation, RegistersAcrossStatements) {
  const RegisterMap qregs = make_map({{"a", {0, 2}}, {"b", {2, 3}}, {"ab", {5, 1}}});
  const RegisterMap bits = make_map({{"c", {0, 2}}, {"d", {2, 2}}});
  const auto run = [&](std::vector<std::string> stmts) {
    return value_or_error([&] {
      const detail::StmtsResult r = detail::stmts_to_gates(views(stmts), {}, qregs, nullptr, &bits);
      std::string out;
      for (const QuantumGate& g : r.gates) {
        out += list_text(g.control) + list_text(g.target);
        if (g.classical_target()) out += "->" + list_text(*g.classical_target());
        out += " ";
      }
      return out;
    });
  };
  EXPECT_EQ(run({"cx a[0], b[2]", "cx b[0], a[1]", "x ab", "x a[1]", "measure b[1] -> d[1]",
                 "c[1] = measure a[0]", "measure ab -> d[0]"}),
            "(0)(4) (2)(1) ()(5) ()(1) ()(3)->(3) ()(0)->(1) ()(5)->(2) ");
  EXPECT_EQ(run({"x a[1]", "x a[2]"}), "ValueError: Index 2 out of range for qubit register a[2]");
  EXPECT_EQ(run({"x b[1]", "x a"}),
            "ValueError: Scalar qubit operand 'a' refers to qubit[2] register");
  EXPECT_EQ(run({"measure a[0] -> d[1]", "measure a[1] -> d[2]"}),
            "ValueError: Index 2 out of range for bit register d[2]");
  EXPECT_EQ(run({"x ab", "x abc"}), "ValueError: Unsupported operand form: 'abc'");
}

// ================================================================== definitions

detail::GateDefMap defs_of(std::vector<detail::GateDef> defs) {
  detail::GateDefMap map;
  for (auto& d : defs) {
    std::string name = d.name;
    map.insert_or_assign(std::move(name), std::move(d));
  }
  return map;
}

TEST(Definitions, BlocksOnLocalIndices) {
  const auto defs =
      defs_of({{"g", {"a", "b"}, {"cx a, b", "h b"}},
               {"rev", {"a", "b"}, {"cx b, a"}},
               {"m", {"a"}, {"measure a -> c[1]"}},
               {"glob", {"a"}, {"x q[2]", "h a"}},
               {"dup", {"a", "b", "a"}, {"h a"}},
               {"none", {}, {"h q[0]"}},
               {"sqrty_dag_0", {"a0"}, {"sdg a0", "h a0", "sdg a0", "h a0", "s a0"}}});
  run_cases(
      {
          {"g q[2], q[0]", "block t=(2,0) c=() s=() p=- m=N b=g[2]\nmax=2,-1 map="},
          {"ctrl @ g q[1], q[2], q[0]", "block t=(2,0) c=(1) s=(1) p=- m=N b=g[2]\nmax=2,-1 map="},
          {"negctrl @ g q[1], q[2], q[0]",
           "block t=(2,0) c=(1) s=(0) p=- m=N b=g[2]\nmax=2,-1 map="},
          {"g(1, 2) q[2], q[0]", "block t=(2,0) c=() s=() p=- m=N b=g[2]\nmax=2,-1 map="},
          {"g q[0]", "ValueError: Not enough operands for g: ['q[0]']"},
          {"m q[2]", "block t=(2) c=() s=() p=- m=N b=m[1]\nmax=2,-1 map="},
          {"none", "block t=() c=() s=() p=- m=N b=none[1]\nmax=-1,-1 map="},
          {"none q[0]", "ValueError: gphase controls mismatch: mods=[], operands=['q[0]']"},
          {"sqrty_dag_0 q[1]", "sqrty_dag t=(1) c=() s=() p=- m=Y\nmax=1,-1 map="},
          {"ctrl @ sqrty_dag_0(5) q[0], q[1]",
           "sqrty_dag t=(1) c=(0) s=(1) p=- m=Y\nmax=1,-1 map="},
      },
      defs);

  // A definition named like a standard gate keeps the standard arity and control split.
  run_cases({{"h q[0], q[1]",
              "ValueError: Control count mismatch for 'h q[0], q[1]': ctrl_cnt=1, mods=[]"},
             {"ctrl @ h q[0], q[1]", "block t=(1) c=(0) s=(1) p=- m=N b=h[1]\nmax=1,-1 map="}},
            defs_of({{"h", {"a", "b"}, {"x b"}}}));

  const detail::StmtsResult r =
      detail::stmts_to_gates({"g q[2], q[0]", "rev q[0], q[1]", "m q[2]", "glob q[1]",
                              "dup q[0], q[1], q[2]", "sqrty_dag_0 q[1]"},
                             defs, kQ3, nullptr, &kC3);
  ASSERT_EQ(r.gates.size(), 6U);
  const auto children = [&](std::size_t k) {
    std::string out;
    for (const QuantumGate& g : *r.gates[k].block_gate_sequence())
      out += describe(g) + ";";
    return out;
  };
  EXPECT_EQ(children(0), "cx t=(1) c=(0) s=(1) p=- m=N;h t=(1) c=() s=() p=- m=N;");
  EXPECT_EQ(children(1), "cx t=(0) c=(1) s=(1) p=- m=N;");
  // A measurement inside a body keeps the global bit and stays out of the measure map.
  EXPECT_EQ(children(2), "measure t=(0) cl=(1) n=measure;");
  EXPECT_TRUE(r.measure_map.empty());
  EXPECT_EQ(r.max_cidx, -1);
  // Indexed uses of declared registers inside a body are global.
  EXPECT_EQ(children(3), "x t=(2) c=() s=() p=- m=N;h t=(0) c=() s=() p=- m=N;");
  EXPECT_EQ(r.max_idx, 2);
  // A later argument of the same name wins.
  EXPECT_EQ(children(4), "h t=(2) c=() s=() p=- m=N;");
  EXPECT_EQ(r.gates[0].matrix(), std::nullopt);
  // A recognised generated definition takes the stored matrix of its gate.
  EXPECT_EQ(r.gates[5].matrix(), detail::resolve_matrix_q3("sqrty_dag", Parameter{}));
}

TEST(Definitions, CallsShareOneChildSequence) {
  const auto defs = defs_of({{"g", {"a"}, {"h a", "x a"}}, {"f", {"a"}, {"g a", "g a"}}});
  const detail::StmtsResult r =
      detail::stmts_to_gates({"g q[0]", "g q[1]", "ctrl @ g q[0], q[2]", "f q[1]"}, defs, kQ3);
  ASSERT_EQ(r.gates.size(), 4U);
  const GateBlock& first = r.gates[0].block_gate_sequence();
  EXPECT_EQ(first, r.gates[1].block_gate_sequence());
  EXPECT_EQ(first, r.gates[2].block_gate_sequence());
  const GateBlock& inner = r.gates[3].block_gate_sequence();
  ASSERT_EQ(inner->size(), 2U);
  EXPECT_EQ((*inner)[0].block_gate_sequence(), (*inner)[1].block_gate_sequence());
  EXPECT_EQ(*(*inner)[0].block_gate_sequence(), *first);
}

std::string chain_program(int length, const std::string& last_body) {
  std::string text = "qubit[1] q;\n";
  for (int k = 0; k < length; ++k) {
    text += "gate d" + std::to_string(k) + " a { ";
    text += k + 1 < length ? "d" + std::to_string(k + 1) + " a;" : last_body;
    text += " }\n";
  }
  return text + "d0 q[0];\n";
}

TEST(Definitions, NestingDepthIsBounded) {
  const std::string too_deep = "RecursionError: maximum recursion depth exceeded";
  EXPECT_EQ(outcome_of([&] { qasm3::qasm3_to_gate_sequence(chain_program(100000, "h a;")); }),
            too_deep);
  const corvane::GateSequence gs = qasm3::qasm3_to_gate_sequence(chain_program(1000, "h a;"));
  ASSERT_EQ(gs.data().size(), 1U);
  // A definition expanded before is just as deep when it is reached again, deeper down.
  std::string shared = "qubit[1] q;\n";
  for (int k = 0; k < 600; ++k) {
    shared += "gate c" + std::to_string(k) + " a { " +
              (k + 1 < 600 ? "c" + std::to_string(k + 1) + " a;" : std::string("h a;")) + " }\n";
  }
  for (int k = 0; k < 500; ++k) {
    shared += "gate e" + std::to_string(k) + " a { " +
              (k + 1 < 500 ? "e" + std::to_string(k + 1) + " a;" : std::string("c0 a;")) + " }\n";
  }
  EXPECT_EQ(outcome_of([&] { qasm3::qasm3_to_gate_sequence(shared + "c0 q[0];\ne0 q[0];"); }),
            too_deep);
  EXPECT_EQ(outcome_of([&] { qasm3::qasm3_to_gate_sequence(shared + "e0 q[0];"); }), too_deep);
  EXPECT_EQ(outcome_of([&] { qasm3::qasm3_to_gate_sequence(shared + "c0 q[0];\ne399 q[0];"); }),
            "ok");
}

// Each definition calling the next one twice would be expanded 2^60 times without
// sharing; with it, every definition is interpreted once.
TEST(Definitions, SharedExpansionKeepsDoublingChainsLinear) {
  std::string text = "qubit[1] q;\n";
  for (int k = 0; k < 60; ++k) {
    const std::string next = k + 1 < 60 ? "d" + std::to_string(k + 1) : std::string("h");
    text.append("gate d").append(std::to_string(k)).append(" a { ");
    text.append(next).append(" a; ").append(next).append(" a; }\n");
  }
  text += "d0 q[0]; d1 q[0]; d30 q[0];";
  const corvane::GateSequence gs = qasm3::qasm3_to_gate_sequence(text);
  ASSERT_EQ(gs.data().size(), 3U);
  const GateBlock& d0 = gs.data()[0].block_gate_sequence();
  EXPECT_EQ((*d0)[0].block_gate_sequence(), gs.data()[1].block_gate_sequence());
}

// ================================================================== driver

// "n=<qubits> q=<registers> c=<registers>|- map=<pairs>|- gates=<count>": what an
// import attaches besides its records.
std::string layout_of(const corvane::GateSequence& gs) {
  const auto registers = [](const std::optional<RegisterList>& list) {
    if (!list) return std::string("-");
    std::string out;
    for (const RegisterDecl& reg : *list)
      out += reg.name + "[" + std::to_string(reg.size) + "]";
    return out;
  };
  std::string out = "n=" + std::to_string(gs.num_qubits) +
                    " q=" + registers(gs.qasm_quantum_registers) +
                    " c=" + registers(gs.qasm_classical_registers) + " map=";
  if (!gs.qasm_measure_map) out += "-";
  for (const auto& [q, c] : gs.qasm_measure_map.value_or(std::vector<corvane::MeasurePair>{}))
    out += "(" + std::to_string(q) + "," + std::to_string(c) + ")";
  return out + " gates=" + std::to_string(gs.data().size());
}

TEST(Driver, LayoutAttributes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"h q[0]; x q[4];", "n=5 q=q[5] c=- map=- gates=2"},
      {"x q;", "n=1 q=q[1] c=- map=- gates=1"},
      {"", "n=1 q=q[1] c=- map=- gates=0"},
      {"// only a comment\n/* and a block */", "n=1 q=q[1] c=- map=- gates=0"},
      {"qubit[0] q; h q[2];", "n=3 q=q[3] c=- map=- gates=1"},
      {"qubit[0] r; qubit[0] s; h q[1];", "n=2 q=q[2] c=- map=- gates=1"},
      {"qubit[2] q; h q[0];", "n=2 q=q[2] c=- map=- gates=1"},
      {"qubit[2] a; qubit b; x b; x a[1];", "n=3 q=a[2]b[1] c=- map=- gates=2"},
      {"qubit[2] q; bit[0] c;", "n=2 q=q[2] c=c[0] map= gates=0"},
      {"qubit[2] q; measure q[1] -> c[4];", "n=2 q=q[2] c=c[5] map=(1,4) gates=1"},
      {"qubit[2] q; bit[1] b; measure q[1] -> c[4];", "n=2 q=q[2] c=b[1] map=(1,4) gates=1"},
      {"qubit[2] q; bit[2] c; bit[1] d; d = measure q[1]; c = measure q;",
       "n=2 q=q[2] c=c[2]d[1] map=(1,2)(0,0)(1,1) gates=3"},
      // A measurement inside a definition body does not reach the layout.
      {"qubit[1] q; gate g a { measure a -> c[3]; } g q[0];", "n=1 q=q[1] c=- map=- gates=1"},
      // Declarations inside definitions count; the whole text is read for registers.
      {"gate g a { qubit[3] r; h a; } g r[1];", "n=3 q=r[3] c=- map=- gates=1"},
  };
  for (const auto& [program, layout] : cases)
    EXPECT_EQ(layout_of(qasm3::qasm3_to_gate_sequence(program)), layout) << program;
}

// The programs folder holds the failures with a place in the program text; these are
// the limits of the whole import.
TEST(Driver, FailuresOfTheWholeImport) {
  // The scan of the definitions giving up belongs to the whole program: no place.
  std::string keywords;
  for (int k = 0; k < detail::MAX_ITER; ++k)
    keywords += "gate ";
  EXPECT_EQ(outcome_of([&] { qasm3::qasm3_to_gate_sequence(keywords); }, true),
            "RuntimeError: Too many iterations while parsing gate definitions \u2014 possible "
            "malformed QASM.");
  // Measurements of whole registers count together across the import.
  detail::ExpansionState state;
  state.measurement_records = detail::MAX_MEASUREMENT_RECORDS - 2;
  EXPECT_THROW_MSG(detail::stmts_to_gates({"c = measure q"}, {}, kQ3, nullptr, &kC3, &state),
                   ValueError,
                   "Whole-register measurements would create more than 4194304 gate records");
  state.measurement_records = detail::MAX_MEASUREMENT_RECORDS - 3;
  EXPECT_EQ(detail::stmts_to_gates({"c = measure q"}, {}, kQ3, nullptr, &kC3, &state).gates.size(),
            3U);
}

// The records of a typical program, in order, with their full shapes.
TEST(Driver, RecordsOfATypicalProgram) {
  const corvane::GateSequence gs = qasm3::qasm3_to_gate_sequence(
      "OPENQASM 3.0;\ninclude \"stdgates.inc\";\ngate sqrtx_dag_0 a0 { h a0; sdg a0; h a0; }\n"
      "gate pair a, b { cx a, b; }\nqubit[3] q;\nbit[3] c;\nrz(-pi/4) q[0];\n"
      "negctrl @ ctrl @ sqrtx_dag_0 q[0], q[1], q[2];\npair q[2], q[0];\nmeasure q -> c;\n");
  std::string out;
  for (const QuantumGate& g : gs.data())
    out += describe(g) + "\n";
  EXPECT_EQ(out,
            "rz t=(0) c=() s=() p=(-0.78539816339744828) m=N\n"
            "sqrtx_dag t=(2) c=(0,1) s=(0,1) p=- m=Y\n"
            "block t=(2,0) c=() s=() p=- m=N b=pair[1]\n"
            "measure t=(0) cl=(0) n=measure\nmeasure t=(1) cl=(1) n=measure\n"
            "measure t=(2) cl=(2) n=measure\n");
  EXPECT_EQ(gs.num_qubits, 3);
}

}  // namespace
