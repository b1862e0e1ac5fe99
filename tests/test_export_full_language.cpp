// The exporter's full_language mode: each writing rule and each refusal as exact rows, and
// the round trip through the language path on generated sequences: export, read back with
// lower_to_gate_sequence, export again gives the same text, and the records read back are
// those written.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "corvane/backend/pygates/unitary.hpp"
#include "qasm/export/full_language.hpp"
#include "test_support.hpp"

namespace {

using corvane::Comparison;
using corvane::Condition;
using corvane::GateBlock;
using corvane::GateSequence;
using corvane::IndexList;
using corvane::Matrix;
using corvane::Parameter;
using corvane::QuantumGate;
using corvane::RegisterList;
namespace qasm3 = corvane::qasm3;
using namespace hand_built;

QuantumGate if_gate(IndexList bits, Comparison compare, std::uint64_t value,
                    std::vector<QuantumGate> body,
                    std::optional<std::vector<QuantumGate>> otherwise = std::nullopt) {
  return corvane::make_conditioned(
      "if", Condition(std::move(bits), compare, value), corvane::make_block(std::move(body)),
      otherwise ? corvane::make_block(std::move(*otherwise)) : GateBlock());
}

QuantumGate while_gate(IndexList bits, Comparison compare, std::uint64_t value,
                       std::vector<QuantumGate> body) {
  return corvane::make_conditioned("while", Condition(std::move(bits), compare, value),
                                   corvane::make_block(std::move(body)));
}

QuantumGate unitary_with(Matrix m, IndexList targets, bool stored) {
  QuantumGate g("unitary", std::move(targets));
  if (stored) {
    g.set_stored_matrix(std::move(m));
  } else {
    g.set_matrix(std::move(m));
  }
  return g;
}

Matrix pauli_x() {
  return Matrix(2, 2, {0.0, 1.0, 1.0, 0.0});
}

std::string full(const GateSequence& gs, qasm3::ExportOptions options = {}) {
  options.full_language = true;
  return qasm3::gate_sequence_to_qasm3(gs, options);
}

// The statements of a program the exporter wrote: what follows the declarations.
std::string statements_of(const std::string& program) {
  const std::size_t declarations = program.find("\nqubit[");
  const std::size_t blank = program.find("\n\n", declarations);
  return blank == std::string::npos ? std::string() : program.substr(blank + 2);
}

// ------------------------------------------------------------------ writing rules

struct WritingRow {
  const char* what;
  GateSequence gs;
  std::string statements;
};

TEST(FullLanguage, WritingRules) {
  constexpr double HALF_PI = 1.5707963267948966;
  const std::vector<WritingRow> rows = {
      {"numbers in the shortest form that reads back",
       sequence(1, {gate("rz", {0}, {}, {}, HALF_PI), gate("rz", {0}, {}, {}, -0.0),
                    gate("rx", {0}, {}, {}, 5e-324), gate("ry", {0}, {}, {}, 1e16),
                    gate("p", {0}, {}, {}, std::int64_t{3}), gate("p", {0}, {}, {}, true),
                    gate("u", {0}, {}, {}, Parameter::list({0.1, 1e-5, "pi/2"}))}),
       "rz(1.5707963267948966) q[0];\nrz(-0.0) q[0];\nrx(5e-324) q[0];\nry(1e+16) q[0];\n"
       "p(3.0) q[0];\np(1.0) q[0];\nU(0.1, 1e-05, pi/2) q[0];\n"},
      {"rotations under controls, u as cu, gphase, -z, rzz",
       sequence(3, {gate("crz", {1}, {0}, {1}, 0.1), gate("mcp", {2}, {0, 1}, {1, 0}, 0.2),
                    gate("u", {1}, {0}, {1}, Parameter::list({0.1, 0.2, 0.3})),
                    gate("gp", {}, {}, {}, 0.7), gate("-z", {2}),
                    gate("rzz", {0, 1}, {}, {}, 0.3)}),
       "crz(0.1) q[0], q[1];\nctrl @ negctrl @ p(0.2) q[0], q[1], q[2];\n"
       "cu(0.1, 0.2, 0.3, 0) q[0], q[1];\ngphase(0.7);\ngphase(3.141592653589793) ;\n"
       "z q[2];\ncx q[0], q[1];\nrz(0.3) q[1];\ncx q[0], q[1];\n"},
      {"cu keeps its four parameters",
       sequence(2, {gate("cu", {1}, {0}, {1}, Parameter::list({0.1, 0.2, 0.3, 0.4}))}),
       "cu(0.1, 0.2, 0.3, 0.4) q[0], q[1];\n"},
      {"reset, one statement per target",
       sequence(3, {gate("reset", {0, 2}), gate("reset", {})}), "reset q[0];\nreset q[2];\n"},
      {"unitary records: the matrix read from text, or the one stored (which wins)",
       sequence(2, {unitary_with(pauli_x(), {0}, false),
                    [] {
                      QuantumGate g = unitary_with(Matrix(2, 2, {1.0, 0.0, 0.0, -0.5}), {1}, true);
                      g.set_matrix(pauli_x());
                      g.control = {0};
                      g.control_state = {0};
                      return g;
                    }()}),
       "unitary(0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0) q[0];\n"
       "negctrl @ unitary(1.0, 0.0, 0.0, 0.0, 0.0, 0.0, -0.5, 0.0) q[0], q[1];\n"},
      {"a non-standard gate on two targets: one call each",
       sequence(2, {gate("sqrty", {0, 1})}), "sqrty_0 q[0];\nsqrty_1 q[1];\n"},
      {"if with else, nested, each body one level further in",
       sequence(3, {measure(0, 0), measure(1, 1),
                    if_gate({0}, Comparison::Equal, 1, {gate("x", {2})},
                            std::vector<QuantumGate>{
                                gate("z", {2}),
                                if_gate({0, 1}, Comparison::GreaterEqual, 2,
                                        {gate("reset", {2}), measure(2, 1)})})}),
       "measure q[0] -> c[0];\nmeasure q[1] -> c[1];\nif (c[0] == 1) {\n  x q[2];\n} else {\n"
       "  z q[2];\n  if (c >= 2) {\n    reset q[2];\n    measure q[2] -> c[1];\n  }\n}\n"},
      {"while on a run of bits, empty bodies, an empty else-block left out",
       sequence(2, {measure(0, 2), while_gate({1, 2}, Comparison::NotEqual, 0, {gate("h", {1})}),
                    if_gate({0}, Comparison::Less, 1, {}, std::vector<QuantumGate>{})}),
       "measure q[0] -> c[2];\nwhile (c[1:2] != 0) {\n  h q[1];\n}\nif (c[0] < 1) {\n}\n"},
      {"blocks of gates stay definitions; with a measurement or a condition, inline, on the "
       "block's operands",
       sequence(4, {block({2}, {gate("h", {0})}),
                    block({3, 1}, {gate("x", {1}), measure(0, 0)}),
                    block({3}, {if_gate({0}, Comparison::Equal, 0, {gate("y", {0})})})}),
       "block_0 q[2];\nx q[1];\nmeasure q[3] -> c[0];\nif (c == 0) {\n  y q[3];\n}\n"},
  };
  for (const WritingRow& row : rows) {
    std::string program;
    EXPECT_EQ(outcome_of([&] { program = full(row.gs); }), "ok") << row.what;
    EXPECT_EQ(statements_of(program), row.statements) << row.what;
  }
}

TEST(FullLanguage, ConditionsNameTheRegisters) {
  const GateSequence gs = sequence(
      1, {if_gate({0, 1, 2}, Comparison::Equal, 5, {}), if_gate({3}, Comparison::Equal, 1, {}),
          if_gate({4, 5}, Comparison::Greater, 0, {}), if_gate({6}, Comparison::LessEqual, 0, {}),
          if_gate({1, 2}, Comparison::Equal, 3, {})});
  const RegisterList cregs = {{"a", 3}, {"b", 3}, {"flag", 1}};
  EXPECT_EQ(statements_of(full(gs, {.cregs = cregs})),
            "if (a == 5) {\n}\nif (b[0] == 1) {\n}\nif (b[1:2] > 0) {\n}\nif (flag <= 0) {\n}\n"
            "if (a[1:2] == 3) {\n}\n");
  // The largest value 64 bits hold.
  const GateSequence wide = sequence(1, {if_gate(
                                            [] {
                                              IndexList bits;
                                              for (std::int64_t k = 0; k < 64; ++k)
                                                bits.push_back(k);
                                              return bits;
                                            }(),
                                            Comparison::Equal, UINT64_MAX, {})});
  EXPECT_EQ(statements_of(full(wide)), "if (c == 18446744073709551615) {\n}\n");
}

// ------------------------------------------------------------------ refusals

struct RefusalRow {
  const char* what;
  GateSequence gs;
  qasm3::ExportOptions options;
  std::string outcome;
};

TEST(FullLanguage, Refusals) {
  const GateSequence one_h = sequence(1, {gate("h", {0})});
  const GateSequence measured = sequence(1, {measure(0, 0)});
  const auto with_parameter = [](const char* id, IndexList targets, IndexList controls,
                                 Parameter p) {
    IndexList states;
    for (std::size_t k = 0; k < controls.size(); ++k)
      states.push_back(1);
    return sequence(
        3, {gate(id, std::move(targets), std::move(controls), std::move(states), std::move(p))});
  };

  const std::vector<RefusalRow> rows = {
      {"a register name that is no identifier",
       one_h,
       {.qreg_name = "1q"},
       "ValueError: Register name '1q' is not an identifier"},
      {"an empty name",
       one_h,
       {.qregs = RegisterList{{"", 1}}},
       "ValueError: Register name '' is not an identifier"},
      {"a name beginning with a letter beyond ASCII",
       one_h,
       {.qreg_name = "\xc3\xa9"},
       "ValueError: Register name '\xc3\xa9' is not an identifier"},
      {"a blank in the name",
       measured,
       {.creg_name = "x y"},
       "ValueError: Register name 'x y' is not an identifier"},
      {"a reserved word",
       one_h,
       {.qreg_name = "pi"},
       "ValueError: Register name 'pi' is a reserved word"},
      {"a keyword",
       measured,
       {.cregs = RegisterList{{"if", 1}}},
       "ValueError: Register name 'if' is a reserved word"},
      {"a name twice among qubits",
       one_h,
       {.qregs = RegisterList{{"a", 1}, {"a", 1}}},
       "ValueError: Register name 'a' is declared twice"},
      {"a name for qubits and bits",
       measured,
       {.qreg_name = "r", .creg_name = "r"},
       "ValueError: Register name 'r' is declared twice"},
      {"a register named as a definition",
       sequence(1, {block({0}, {gate("h", {0})})}),
       {.qreg_name = "block_0"},
       "ValueError: Register name 'block_0' is also the name of a gate definition the program "
       "needs"},
      {"a text parameter of two values",
       with_parameter("rz", {0}, {}, "1, 2"),
       {},
       "ValueError: Parameter '1, 2' is not one expression"},
      {"a text parameter that ends the statement",
       with_parameter("rz", {0}, {}, Parameter::list({"pi/2) q[0]; x (1"})),
       {},
       "ValueError: Parameter 'pi/2) q[0]; x (1' is not one expression"},
      {"a blank text parameter",
       with_parameter("rz", {0}, {}, " "),
       {},
       "ValueError: Parameter ' ' is not one expression"},
      {"a comment",
       with_parameter("rz", {0}, {}, "pi // half"),
       {},
       "ValueError: Parameter 'pi // half' is not one expression"},
      {"an unclosed bracket",
       with_parameter("rz", {0}, {}, "(pi"),
       {},
       "ValueError: Parameter '(pi' is not one expression"},
      {"a parameter on a gate without any",
       with_parameter("h", {0}, {}, 0.5),
       {},
       "ValueError: 'h' takes no parameters, got 1"},
      {"a rotation without its angle",
       with_parameter("rx", {0}, {}, Parameter()),
       {},
       "ValueError: 'rx' takes 1 parameter, got 0"},
      {"u with two angles",
       with_parameter("u", {0}, {}, Parameter::list({0.1, 0.2})),
       {},
       "ValueError: 'u' takes 3 parameters, got 2"},
      {"cx with an angle",
       with_parameter("cx", {1}, {0}, 0.5),
       {},
       "ValueError: 'cx' takes no parameters, got 1"},
      {"cu with three angles",
       with_parameter("cu", {1}, {0}, Parameter::list({0.1, 0.2, 0.3})),
       {},
       "ValueError: 'cu' takes 4 parameters, got 3"},
      {"sqrty with an angle",
       with_parameter("sqrty", {0}, {}, 0.5),
       {},
       "ValueError: 'sqrty' takes no parameters, got 1"},
      {"a reset with a parameter",
       with_parameter("reset", {0}, {}, 1.0),
       {},
       "ValueError: 'reset' takes no parameters, got 1"},
      {"an array of several numbers",
       with_parameter("rz", {0}, {}, Matrix(1, 2, {1.0, 2.0})),
       {},
       "ValueError: The array parameter of 'rz' is not a number, which a parameter list holds"},
      {"a non-finite number",
       with_parameter("rz", {0}, {}, INFINITY),
       {},
       "ValueError: QASM gate parameter must be finite; got inf"},
      {"controls without states",
       sequence(2, {gate("x", {1}, {0})}),
       {},
       "ValueError: 'x' has 1 controls and 0 control states"},
      {"a unitary of the wrong size",
       sequence(2, {unitary_with(pauli_x(), {0, 1}, true)}),
       {},
       "ValueError: 'unitary' on 2 target qubits needs a 4x4 matrix, got 2x2"},
      {"a non-finite matrix entry",
       sequence(1, {unitary_with(Matrix(2, 2, {NAN, 0.0, 0.0, 1.0}), {0}, false)}),
       {},
       "ValueError: QASM gate parameter must be finite; got nan"},
      {"a unitary without any matrix",
       sequence(1, {gate("unitary", {0})}),
       {},
       "NotImplementedError: QASM 3.0 export does not support arbitrary 'unitary' gates. "
       "Transpile the circuit before exporting."},
      {"a controlled reset",
       sequence(2, {gate("reset", {1}, {0}, {1})}),
       {},
       "NotImplementedError: QASM 3.0 export does not support controlled 'reset' records."},
      {"a condition under a block's control",
       sequence(2, {block({1}, {if_gate({0}, Comparison::Equal, 1, {gate("x", {1})})}, {0}, {1})}),
       {},
       "NotImplementedError: QASM 3.0 export does not support controlled 'if' records."},
      {"condition bits with a gap",
       sequence(1, {if_gate({0, 2}, Comparison::Equal, 1, {})}),
       {},
       "ValueError: Condition bits [0, 2] are not one register, one bit or a run of one "
       "register's bits"},
      {"condition bits most significant first",
       sequence(1, {if_gate({1, 0}, Comparison::Equal, 1, {})}),
       {},
       "ValueError: Condition bits [1, 0] are not one register, one bit or a run of one "
       "register's bits"},
      {"condition bits of two registers",
       sequence(1, {if_gate({1, 2}, Comparison::Equal, 1, {})}),
       {.cregs = RegisterList{{"a", 2}, {"b", 1}}},
       "ValueError: Condition bits [1, 2] are not one register, one bit or a run of one "
       "register's bits"},
      {"a condition bit outside the registers",
       sequence(1, {if_gate({3}, Comparison::Equal, 1, {})}),
       {.cregs = RegisterList{{"a", 2}, {"b", 1}}},
       "ValueError: Register declarations cover 3 indices, but 4 are required"},
      {"a control that is also the target",
       sequence(2, {gate("cx", {0}, {0}, {1})}),
       {},
       "ValueError: A statement of 'cx' would name qubit 0 twice"},
      {"a swap of one qubit with itself",
       sequence(2, {gate("swap", {1, 1})}),
       {},
       "ValueError: A statement of 'swap' would name qubit 1 twice"},
      {"a block written inline whose body names its control",
       sequence(6, {block({1}, {gate("h", {0}), gate("x", {5})}, {0}, {1})}),
       {},
       "ValueError: A statement of 'h' would name qubit 0 twice"},
      {"an id no rule takes",
       sequence(1, {gate("toffoli", {0})}),
       {},
       "NotImplementedError: QASM 3.0 export does not support gate id 'toffoli'"},
  };
  for (const RefusalRow& row : rows) {
    EXPECT_EQ(outcome_of([&] { full(row.gs, row.options); }), row.outcome) << row.what;
  }
}

// A conditioned record that breaks the model's rules is refused with the rule.
TEST(FullLanguage, ConditionedRecordsFollowTheModel) {
  QuantumGate controlled = if_gate({0}, Comparison::Equal, 1, {gate("x", {1})});
  controlled.control = {2};
  controlled.control_state = {1};
  QuantumGate with_else = while_gate({0}, Comparison::Equal, 1, {gate("x", {1})});
  with_else.set_else_gate_sequence(corvane::make_block({gate("y", {1})}));
  for (const QuantumGate& g : {controlled, with_else}) {
    const std::string expected = outcome_of([&] { corvane::check_conditioned(g); });
    EXPECT_NE(expected, "ok");
    EXPECT_EQ(outcome_of([&] { full(sequence(3, {g})); }), expected);
  }
}

// An error in a body names the record by its place: an else-block's records follow its
// block's.
TEST(FullLanguage, ErrorsNameTheRecordInABody) {
  const GateSequence gs = sequence(
      2, {gate("h", {0}), if_gate({0}, Comparison::Equal, 1, {gate("x", {1}), gate("y", {1})},
                                  std::vector<QuantumGate>{gate("z", {1}), gate("nosuch", {1})})});
  try {
    full(gs);
    FAIL() << "nothing thrown";
  } catch (const qasm3::Error& e) {
    EXPECT_EQ(e.record_path(), (std::vector<std::size_t>{1, 3}));
  }
}

// Without full_language nothing changes: the records only that mode writes are refused as
// before, and numbers keep their 15 digits.
TEST(FullLanguage, IsOffByDefault) {
  const std::vector<std::pair<GateSequence, std::string>> rows = {
      {sequence(1, {if_gate({0}, Comparison::Equal, 1, {})}),
       "NotImplementedError: QASM 3.0 export does not support gate id 'if'"},
      {sequence(1, {gate("reset", {0})}),
       "NotImplementedError: QASM 3.0 export does not support gate id 'reset'"},
      {sequence(1, {unitary_with(pauli_x(), {0}, false)}),
       "NotImplementedError: QASM 3.0 export does not support arbitrary 'unitary' gates. "
       "Transpile the circuit before exporting."},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(outcome_of([&] { qasm3::gate_sequence_to_qasm3(row.first, qasm3::ExportOptions{}); }),
              row.second);
  }
  EXPECT_EQ(statements_of(qasm3::gate_sequence_to_qasm3(sequence(2, {gate("cx", {0}, {0}, {1})}))),
            "cx q[0], q[0];\n");
  const GateSequence numbers = sequence(1, {gate("rz", {0}, {}, {}, 1.5707963267948966)});
  EXPECT_EQ(statements_of(qasm3::gate_sequence_to_qasm3(numbers)), "rz(1.5707963267949) q[0];\n");
  EXPECT_EQ(qasm3::gate_sequence_to_qasm3(sequence(1, {gate("h", {0})}), {.qreg_name = "pi"}),
            "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n\nqubit[1] pi;\n\nh pi[0];\n");
}

// The free inputs that text parameters name are declared before the definitions, so that
// the program reads back with the same free parameters; other modes write no declaration.
TEST(FullLanguage, DeclaresFreeInputs) {
  GateSequence gs = sequence(
      1, {gate("rz", {0}, {}, {}, Parameter::list({"2*theta"}, true)),
          block({0}, {gate("p", {0}, {}, {}, Parameter::list({"float(phi) + 1.0"}, true))})});
  gs.qasm_inputs = {{"theta", "float[64]"}, {"phi", "angle[8]"}};
  EXPECT_EQ(full(gs),
            "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n\ninput float[64] theta;\ninput angle[8] "
            "phi;\n\ngate block_0 a0 {\n  p(float(phi) + 1.0) a0;\n}\n\nqubit[1] q;\n\n"
            "rz(2*theta) q[0];\nblock_0 q[0];\n");
  const GateSequence back = qasm3::lower_to_gate_sequence(full(gs));
  EXPECT_EQ(back.qasm_inputs, gs.qasm_inputs);
  EXPECT_EQ(qasm3::gate_sequence_to_qasm3(gs),
            "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n\ngate block_0 a0 {\n  p(float(phi) + "
            "1.0) a0;\n}\n\nqubit[1] q;\n\nrz(2*theta) q[0];\nblock_0 q[0];\n");

  const auto refusal = [&](std::vector<corvane::InputDecl> inputs,
                           qasm3::ExportOptions options = {}) {
    GateSequence with = gs;
    with.qasm_inputs = std::move(inputs);
    return outcome_of([&] { full(with, std::move(options)); });
  };
  EXPECT_EQ(refusal({{"2t", "float[64]"}}), "ValueError: Free input '2t' is no name");
  EXPECT_EQ(refusal({{"t", "int[8]"}}),
            "ValueError: Free input 't' has type 'int[8]', which is no float or angle type");
  EXPECT_EQ(refusal({{"t", "float[64"}}),
            "ValueError: Free input 't' has type 'float[64', which is no float or angle type");
  EXPECT_EQ(refusal({{"pi", "float[64]"}}), "ValueError: Free input 'pi' is a reserved word");
  EXPECT_EQ(refusal({{"t", "float[64]"}, {"t", "angle"}}),
            "ValueError: Free input 't' is declared twice");
  EXPECT_EQ(refusal({{"q", "float[64]"}}),
            "ValueError: Free input 'q' is also the name of a register");
  EXPECT_EQ(refusal({{"data", "float"}}, {.num_clbits = 1, .cregs = RegisterList{{"data", 1}}}),
            "ValueError: Free input 'data' is also the name of a register");
  EXPECT_EQ(refusal({{"block_0", "float"}}),
            "ValueError: Free input 'block_0' is also the name of a gate definition the program "
            "needs");
  EXPECT_EQ(refusal({{"\xce\xb8", "float"}}), "ok");
}

TEST(FullLanguage, OneExpression) {
  for (const char* text : {"pi/2", "-0.5", "sin(pi) * 2", "a[1]", "f(1, 2)", "\"01\"", " 1 "}) {
    EXPECT_TRUE(qasm3::detail::is_one_expression(text)) << text;
  }
  for (const char* text : {"", " \t", "1,2", "(1", "1)", "(]", "[1)", "1;", "{1}", "1\n", "1\r",
                           "1 /* 2 */", "1 // 2", "a)(b"}) {
    EXPECT_FALSE(qasm3::detail::is_one_expression(text)) << text;
  }
}

// ------------------------------------------------------------------ round trips

// Generated sequences for the round trip. In the reader's own forms (`canonical`) every
// record reads back as written: the ids, parameters (tuples of doubles) and shapes that
// lower_to_gate_sequence gives. Otherwise any record the exporter writes, in any form,
// which may read back in another (a controlled call of a definition as its gates, U under
// controls as a matrix and a phase, text parameters as numbers).
class RoundTripGenerator : SeededRandom {
 public:
  RoundTripGenerator(std::uint64_t seed, bool canonical)
      : SeededRandom(seed), canonical_(canonical) {}

  // A sequence on `qubits` qubits measuring into `bits` bits, its conditions on the bits of
  // `cregs` (one register, one bit or a run of one register's bits; without, any run).
  GateSequence sequence(std::int64_t qubits, std::int64_t bits, std::size_t gates,
                        const RegisterList& cregs = {}) {
    qubits_ = qubits;
    bits_ = bits;
    cregs_ = cregs.empty() ? RegisterList{{"c", bits}} : cregs;
    GateSequence gs(qubits);
    for (std::size_t k = 0; k < gates; ++k)
      gs.add_gate(any_gate(qubits, 0, true));
    if (names_theta_) gs.qasm_inputs = {{"theta", "float[64]"}};
    return gs;
  }

  // Registers over `count` indices, named from `names`, each name once (the last name left
  // takes the rest).
  RegisterList registers(std::int64_t count, std::vector<std::string>& names) {
    RegisterList regs;
    while (count > 0) {
      const std::int64_t size = names.size() == 1 ? count : 1 + below(count);
      const std::size_t pick = static_cast<std::size_t>(below(std::ssize(names)));
      regs.push_back({names[pick], size});
      names.erase(names.begin() + static_cast<std::ptrdiff_t>(pick));
      count -= size;
    }
    return regs;
  }

  // Any finite double: random bits, subnormals, zeros of both signs, the extremes, and
  // angles with many digits.
  double number() {
    switch (below(8)) {
      case 0: {
        double d = NAN;
        while (!std::isfinite(d))
          d = std::bit_cast<double>(next());
        return d;
      }
      case 1:
        return std::bit_cast<double>(next() & 0x800FFFFFFFFFFFFFULL);  // subnormal or zero
      case 2:
        return chance(50) ? -0.0 : 0.0;
      // One draw a statement: the operands of `*` are evaluated in an order that differs
      // between compilers, and every compiler must generate the same sequences.
      case 3: {
        const double sign = chance(50) ? 1 : -1;
        return sign * (chance(50) ? std::numeric_limits<double>::max()
                                  : std::numeric_limits<double>::min());
      }
      case 4: {
        const auto eighths = static_cast<double>(below(17) - 8);
        return eighths * M_PI / static_cast<double>(1 + below(8));
      }
      default: {
        const double mantissa = unit() - 0.5;
        return mantissa * std::pow(10.0, static_cast<double>(below(40) - 20));
      }
    }
  }

 private:
  // `moderate`: angles with many digits only, for a gate that may read back as its matrix,
  // whose entries overflow for the largest angles.
  Parameter numbers(std::size_t count, bool moderate = false) {
    if (!canonical_ && count == 1 && chance(10)) {
      return Parameter(std::string(chance(50) ? "pi/4" : "-(1.5e-3 * 2)"));
    }
    if (!canonical_ && count == 1 && chance(30)) return Parameter(number());
    std::vector<corvane::ParamScalar> items;
    for (std::size_t k = 0; k < count; ++k)
      items.emplace_back(moderate ? (unit() - 0.5) * 12.0 : number());
    if (canonical_ && count == 1) return Parameter::one_number_tuple(std::get<double>(items[0]));
    return Parameter::list(std::move(items), canonical_ || chance(50));
  }

  // A rotation's angle: a number, or sometimes an expression over the free input theta in
  // the form lowering gives it (a phase a control observes could not stay free).
  Parameter angle() { return chance(10) ? free_angle() : numbers(1); }

  Parameter free_angle() {
    static const std::vector<std::string> FORMS = {"theta", "-theta", "2*theta", "theta + 0.5",
                                                   "(theta - 1e-05)/3"};
    names_theta_ = true;
    return Parameter::list({FORMS[static_cast<std::size_t>(below(std::ssize(FORMS)))]}, true);
  }

  // `targets` + `controls` distinct qubits below `scope`; the states all 1 when `plain`.
  QuantumGate on_qubits(std::string id, std::int64_t scope, std::size_t targets,
                        std::size_t controls, bool plain, Parameter parameter = {}) {
    const IndexList qubits = distinct_below(scope, targets + controls);
    const auto split = qubits.begin() + static_cast<std::ptrdiff_t>(controls);
    IndexList states;
    for (std::size_t k = 0; k < controls; ++k)
      states.push_back(plain || chance(60) ? 1 : 0);
    return gate(std::move(id), IndexList(split, qubits.end()), IndexList(qubits.begin(), split),
                std::move(states), std::move(parameter));
  }

  // Up to `most` controls, as `room` qubits allow.
  std::size_t controls_below(std::int64_t room, std::int64_t most) {
    return room <= 0 ? 0 : static_cast<std::size_t>(below(std::min(room, most) + 1));
  }

  std::string pick(const std::vector<std::string>& ids) {
    return ids[static_cast<std::size_t>(below(std::ssize(ids)))];
  }

  QuantumGate any_gate(std::int64_t scope, int depth, bool top) {
    static const std::vector<std::string> PLAIN = {"x",     "y", "z",     "h",     "s",
                                                   "s_dag", "t", "t_dag", "sqrtx", "i"};
    static const std::vector<std::string> ROTATIONS = {"rx", "ry", "rz", "p"};
    static const std::vector<std::string> CONTROLLED = {"cx", "cy", "cz", "ch"};
    static const std::vector<std::string> CONTROLLED_ROTATIONS = {"crx", "cry", "crz", "cp"};
    static const std::vector<std::string> NON_STANDARD = {"sqrtx_dag", "sqrty", "sqrty_dag"};
    static const std::vector<std::string> OTHER_FORMS = {
        "cnot", "mcy", "mcz",        "mch",          "cs", "mcrx", "mcry",
        "mcrz", "mcp", "phase_gate", "global_phase", "-z", "rzz"};
    const std::int64_t roll = below(100);
    const std::int64_t room = scope - 1;
    if (roll < 18) return on_qubits(pick(PLAIN), scope, 1, controls_below(room, 2), false);
    if (roll < 32) {
      return on_qubits(pick(ROTATIONS), scope, 1, controls_below(room, 2), false, angle());
    }
    if (roll < 36) {
      // The language's U under other controls is the gate with its own phase, which reads
      // back as a matrix and a phase.
      const std::size_t controls = controls_below(room, canonical_ ? 1 : 2);
      return on_qubits("u", scope, 1, controls, canonical_, numbers(3, !canonical_));
    }
    if (roll < 42 && scope >= 2) return on_qubits(pick(CONTROLLED), scope, 1, 1, true);
    if (roll < 48 && scope >= 2) {
      return on_qubits(pick(CONTROLLED_ROTATIONS), scope, 1, 1, true, angle());
    }
    if (roll < 50 && scope >= 3) return on_qubits("mcx", scope, 1, 2, true);
    if (roll < 53 && scope >= 2) {
      return on_qubits("swap", scope, 2, controls_below(scope - 2, 1), false);
    }
    if (roll < 56) return on_qubits("gp", scope, 0, controls_below(scope, 2), false, numbers(1));
    if (roll < 60) return non_standard(pick(NON_STANDARD), scope);
    if (roll < 65) return unitary(scope);
    // Outside the sequence's own scope they make a block inline, in the reader's forms never.
    const bool statements = top || (!canonical_ && !gates_only_);
    if (roll < 72 && statements) return measure(below(scope), below(bits_));
    if (roll < 76 && statements) return gate("reset", {below(scope)});
    if (roll < 82 && depth < 3 && statements) return conditioned(scope, depth);
    if (roll < 86 && !canonical_ && scope >= 3) return other_form(pick(OTHER_FORMS), scope);
    if (roll < 96 && depth < 3) return local_block(scope, depth);
    return on_qubits("h", scope, 1, 0, true);
  }

  QuantumGate non_standard(std::string id, std::int64_t scope) {
    QuantumGate g = on_qubits(std::move(id), scope, 1, controls_below(scope - 1, 1), false);
    // Read back from its definition, the record carries the gate's stored matrix.
    if (canonical_) g.set_matrix(*corvane::gate_set().get(g.id)->fixed);
    return g;
  }

  QuantumGate unitary(std::int64_t scope) {
    const std::size_t targets = scope >= 2 && chance(30) ? 2 : 1;
    QuantumGate g = on_qubits("unitary", scope, targets,
                              controls_below(scope - static_cast<std::int64_t>(targets), 1), false);
    const std::size_t side = std::size_t{1} << targets;
    Matrix m(side, side);
    for (std::complex<double>& z : m.data)
      z = {number(), number()};
    if (canonical_ || chance(50)) {
      g.set_matrix(std::move(m));
    } else {
      g.set_stored_matrix(std::move(m));
    }
    return g;
  }

  // The exporter's other ids, which come back in the reader's forms.
  QuantumGate other_form(const std::string& id, std::int64_t scope) {
    if (id == "rzz") {
      return on_qubits(id, scope, 2, controls_below(scope - 2, 1), false, numbers(1));
    }
    if (id == "-z") return on_qubits(id, scope, chance(50) ? 1 : 2, 0, false);
    if (id == "global_phase") {
      return on_qubits(id, scope, 0, controls_below(scope, 1), false, numbers(1));
    }
    if (id == "phase_gate") return on_qubits(id, scope, 2, 0, false, numbers(1));
    const bool rotation = id.starts_with("mcr") || id == "mcp";
    return on_qubits(id, scope, 1, 1 + controls_below(scope - 2, 1), false,
                     rotation ? numbers(1) : Parameter());
  }

  // A condition on the bits of one register: all of them, one, or a run.
  Condition condition() {
    const corvane::RegisterDecl& reg = cregs_[static_cast<std::size_t>(below(std::ssize(cregs_)))];
    std::int64_t offset = 0;
    for (const corvane::RegisterDecl& before : cregs_) {
      if (&before == &reg) break;
      offset += before.size;
    }
    const std::int64_t first = chance(40) ? 0 : below(reg.size);
    const std::int64_t count = first == 0 && chance(50) ? reg.size : 1 + below(reg.size - first);
    IndexList bits;
    for (std::int64_t k = 0; k < count; ++k)
      bits.push_back(offset + first + k);
    const std::uint64_t most = count >= 64 ? UINT64_MAX : (std::uint64_t{1} << count) - 1;
    std::uint64_t value = chance(20) ? most : next() % (most + 1 == 0 ? most : most + 1);
    auto compare = static_cast<Comparison>(below(6));
    if (count == 1 && compare == Comparison::NotEqual && canonical_) {
      // The language path reads a bit that differs from a value as one equal to the other.
      compare = Comparison::Equal;
      value = 1 - value;
    }
    return {std::move(bits), compare, value};
  }

  // An "if" (with an else-block or not) or a "while" whose bodies act on the scope's
  // qubits, measurements, resets and conditions among them.
  QuantumGate conditioned(std::int64_t scope, int depth) {
    // An else-block reads back only with records in it.
    const auto body = [&](std::int64_t least) {
      std::vector<QuantumGate> gates;
      for (std::int64_t k = least + below(3); k > 0; --k)
        gates.push_back(any_gate(scope, depth + 1, true));
      return corvane::make_block(std::move(gates));
    };
    if (chance(30)) return corvane::make_conditioned("while", condition(), body(0));
    GateBlock then = body(0);
    return corvane::make_conditioned("if", condition(), std::move(then),
                                     chance(50) ? body(1) : GateBlock());
  }

  // A block whose body is local to its operands, written as a definition.
  QuantumGate local_block(std::int64_t scope, int depth) {
    const std::int64_t arity = 1 + below(std::min<std::int64_t>(scope, 3));
    // Lowering writes a controlled call of a definition out as the definition's gates, and
    // a controlled block's body holds gates only.
    const std::size_t controls = canonical_ ? 0 : controls_below(scope - arity, 1);
    const bool outer_gates_only = gates_only_;
    gates_only_ = gates_only_ || controls > 0;
    std::vector<QuantumGate> body;
    for (std::int64_t k = below(4); k > 0; --k)
      body.push_back(any_gate(arity, depth + 1, false));
    gates_only_ = outer_gates_only;
    QuantumGate g = on_qubits("block", scope, static_cast<std::size_t>(arity), controls, false);
    g.set_block_gate_sequence(corvane::make_block(std::move(body)));
    return g;
  }

  bool canonical_;
  bool names_theta_ = false;
  bool gates_only_ = false;  // generating the body of a controlled block
  std::int64_t qubits_ = 1;
  std::int64_t bits_ = 1;
  RegisterList cregs_;
};

// The records with the names of blocks left out, in every body: a block read back is named
// after the definition the exporter made for it.
std::vector<QuantumGate> without_block_names(const std::vector<QuantumGate>& gates) {
  std::vector<QuantumGate> out(gates);
  for (QuantumGate& g : out) {
    if (g.else_gate_sequence()) {
      g.set_else_gate_sequence(corvane::make_block(without_block_names(*g.else_gate_sequence())));
    }
    if (!g.block_gate_sequence()) continue;
    if (!g.condition()) g.set_name(std::nullopt);
    g.set_block_gate_sequence(corvane::make_block(without_block_names(*g.block_gate_sequence())));
  }
  return out;
}

// Export with full_language in the layout the sequence was read with, every bit declared.
std::string export_read(const GateSequence& gs) {
  std::int64_t bits = 0;
  for (const corvane::RegisterDecl& reg : gs.qasm_classical_registers.value_or(RegisterList{}))
    bits += reg.size;
  return full(gs, {.num_clbits = bits,
                   .qregs = gs.qasm_quantum_registers,
                   .cregs = gs.qasm_classical_registers});
}

TEST(FullLanguageRoundTrip, RecordsReadBackAsWritten) {
  constexpr int SEQUENCES = 300;
  for (int n = 0; n < SEQUENCES; ++n) {
    RoundTripGenerator gen(static_cast<std::uint64_t>(n) + 1, true);
    const std::int64_t qubits = 1 + n % 5;
    const std::int64_t bits = 1 + n % 3;
    std::vector<std::string> names = {"q", "c", "data", "anc", "flags", "r_2", "out"};
    const RegisterList qregs = gen.registers(qubits, names);
    const RegisterList cregs = gen.registers(bits, names);
    const GateSequence gs = gen.sequence(qubits, bits, 1 + static_cast<std::size_t>(n % 23), cregs);
    const std::string text = full(gs, {.num_clbits = bits, .qregs = qregs, .cregs = cregs});
    SCOPED_TRACE(text);
    GateSequence back(1);
    ASSERT_EQ(outcome_of([&] { back = qasm3::lower_to_gate_sequence(text); }), "ok");
    EXPECT_EQ(back.num_qubits, qubits);
    EXPECT_EQ(back.qasm_quantum_registers, qregs);
    EXPECT_EQ(back.qasm_classical_registers, cregs);
    EXPECT_TRUE(without_block_names(back.data()) == without_block_names(gs.data()));
    EXPECT_EQ(back.qasm_inputs, gs.qasm_inputs);
    EXPECT_EQ(export_read(back), text);
  }
}

TEST(FullLanguageRoundTrip, EveryFormReachesAFixedPoint) {
  constexpr int SEQUENCES = 300;
  for (int n = 0; n < SEQUENCES; ++n) {
    RoundTripGenerator gen(static_cast<std::uint64_t>(n) + 1000, false);
    const GateSequence gs =
        gen.sequence(1 + n % 6, 1 + n % 4, 1 + static_cast<std::size_t>(n % 29));
    const std::string first = full(gs);
    SCOPED_TRACE(first);
    GateSequence back(1);
    ASSERT_EQ(outcome_of([&] { back = qasm3::lower_to_gate_sequence(first); }), "ok");
    const std::string second = export_read(back);
    // The first export reads back as written from then on.
    const GateSequence again = qasm3::lower_to_gate_sequence(second);
    EXPECT_TRUE(without_block_names(again.data()) == without_block_names(back.data()));
    EXPECT_EQ(again.qasm_inputs, back.qasm_inputs);
    EXPECT_EQ(export_read(again), second);
  }
}

}  // namespace
