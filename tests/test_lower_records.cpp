// Lowering straight to records: lower_to_gate_sequence(p) is record for record what the
// importer reads from lower_qasm3(p) (every attribute, blocks and their sharing, layouts,
// measure map), on the program folder, the lowering examples and hand-picked combinations;
// a program lowering refuses is refused alike. And the bound on lowered statements, from
// the options or from the program's own length.
#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "lower_test_support.hpp"
#include "program_folder.hpp"
#include "qasm/lower/expand.hpp"
#include "qasm/lower/lower.hpp"
#include "same_records.hpp"

namespace {

using namespace lower_test;
using corvane::GateSequence;

// Lowers `program` both ways and expects the same outcome: the same records, or the same
// error with the same place.
void expect_same_reading(const std::string& program, const qasm3::LowerOptions& options = {}) {
  std::optional<GateSequence> through_text;
  const std::string text_outcome = outcome_of(
      [&] { through_text = qasm3::qasm3_to_gate_sequence(qasm3::lower_qasm3(program, options)); },
      true);
  std::optional<GateSequence> direct;
  const std::string direct_outcome =
      outcome_of([&] { direct = qasm3::lower_to_gate_sequence(program, options); }, true);
  ASSERT_EQ(direct_outcome, text_outcome) << program;
  if (direct) {
    EXPECT_EQ(corvane::fuzz::first_record_difference(*direct, *through_text), "") << program;
  }
}

// The comparison itself sees conditions, else-bodies and their records.
TEST(RecordComparison, NamesConditionsAndElseBodies) {
  using corvane::Comparison;
  using corvane::Condition;
  using corvane::make_block;
  using corvane::QuantumGate;
  const auto sequence = [](Condition tested, std::vector<QuantumGate> otherwise) {
    GateSequence gs(2);
    gs.add_gate(corvane::make_conditioned("if", std::move(tested),
                                          make_block({QuantumGate("x", {0})}),
                                          make_block(std::move(otherwise))));
    return gs;
  };
  const GateSequence base = sequence(Condition({0}, Comparison::Equal, 1), {QuantumGate("z", {0})});
  const struct {
    GateSequence other;
    std::string difference;
  } rows[] = {
      {sequence(Condition({0}, Comparison::Equal, 1), {QuantumGate("z", {0})}), ""},
      {sequence(Condition({0}, Comparison::Less, 1), {QuantumGate("z", {0})}),
       "record 0: condition"},
      {sequence(Condition({0}, Comparison::Equal, 1), {QuantumGate("y", {0})}),
       "record 0: else record 0: id z vs y"},
      {sequence(Condition({0}, Comparison::Equal, 1), {}), "record 0: else record count 1 vs 0"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(corvane::fuzz::first_record_difference(base, row.other), row.difference);
  QuantumGate plain = base.data()[0];
  plain.set_else_gate_sequence(nullptr);
  GateSequence without(2);
  without.add_gate(plain);
  EXPECT_EQ(corvane::fuzz::first_record_difference(base, without), "record 0: else-block present");
}

// ------------------------------------------------------------------ the folders

class FolderProgram : public testing::TestWithParam<std::string> {};

TEST_P(FolderProgram, ReadsAsItsLoweredText) {
  expect_same_reading(program_folder::read(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Folder, FolderProgram, testing::ValuesIn(program_folder::names()),
                         program_folder::test_name);

const std::filesystem::path EXAMPLES =
    program_folder::directory("CORVANE_QASM3_LOWERING_EXAMPLES", "examples/lowering");

class Example : public testing::TestWithParam<std::string> {};

TEST_P(Example, ReadsAsItsLoweredText) {
  const std::string text = program_folder::read(GetParam(), EXAMPLES);
  ASSERT_FALSE(text.empty()) << GetParam();
  const qasm3::LowerOptions options{.inputs = {{"phase", 0.125}},
                                    .source_path = (EXAMPLES / GetParam()).string()};
  expect_same_reading(text, options);
}

TEST(Examples, FolderHoldsThem) {
  EXPECT_GE(program_folder::names(EXAMPLES).size(), 3U) << EXAMPLES;
}

INSTANTIATE_TEST_SUITE_P(Lowering, Example, testing::ValuesIn(program_folder::names(EXAMPLES)),
                         program_folder::test_name);

// ------------------------------------------------------------------ combinations

class Combination : public testing::TestWithParam<Row> {};

TEST_P(Combination, ReadsAsItsLoweredText) {
  expect_same_reading(GetParam().input);
}

INSTANTIATE_TEST_SUITE_P(
    Records, Combination,
    testing::Values(
        Row{"registers_arrays_and_scalars",
            "qubit a; qubit[3] b; qubit c; bit d; bit[2] e; x a; cx b[2], c; e[1] = measure b[0]; "
            "d = measure c;"},
        Row{"old_registers",
            "OPENQASM 2.0; include \"qelib1.inc\"; qreg q[2]; creg c[2]; "
            "u3(0.1,0.2,0.3) q[0]; cu1(pi/4) q[0], q[1]; measure q -> c;"},
        Row{"whole_register_measures", "qubit[4] q; bit[4] c; c = measure q; measure q[1];"},
        Row{"definition_called_twice_shares_its_block",
            "qubit[3] q; gate g a, b { h a; cx a, b; } g q[0], q[1]; g q[1], q[2]; g q[0], q[2];"},
        Row{"definitions_calling_definitions",
            "qubit[2] q; gate f a { x a; s a; } gate g a, b { f a; f b; cx a, b; } gate k a, b { g "
            "b, a; f a; } k q[0], q[1]; g q[1], q[0]; f q[0];"},
        Row{"parameterised_definitions_inlined",
            "qubit[2] q; gate r(t) a { rx(t) a; rz(2*t) a; } r(0.5) q[0]; r(pi) q[1];"},
        Row{"modifiers_on_definitions",
            "qubit[3] q; gate g a { h a; t a; } ctrl @ g q[0], q[1]; negctrl(2) @ g q[0], q[1], "
            "q[2]; inv @ g q[2]; pow(2) @ g q[1];"},
        Row{"controls_and_states",
            "qubit[4] q; ctrl(2) @ x q[0], q[1], q[2]; negctrl @ rz(0.3) "
            "q[3], q[0]; ctrl @ negctrl @ swap q[0], q[1], q[2], q[3];"},
        Row{"loops_broadcasts_and_slices",
            "qubit[4] q; bit[4] c; for int i in [0:2] cx q[i], q[i+1]; h q; x q[1:2]; c[0:1] = "
            "measure q[2:3];"},
        Row{"library_gates_spelled_out",
            "qubit[3] q; ccx q[0], q[1], q[2]; cswap q[0], q[1], q[2]; cu(0.1, 0.2, 0.3, 0.4) "
            "q[0], q[1]; crx(0.5) q[1], q[2]; sxdg q[0]; u2(0.1, 0.2) q[1];"},
        Row{"hardware_qubits_and_resets", "x $3; reset $0; measure $1; h $0;"},
        Row{"gphase_and_U", "qubit q; gphase(0.25); U(0.1, 0.2, 0.3) q; ctrl @ gphase(0.5) q;"},
        Row{"empty_and_barrier_only", "qubit[2] q; barrier q; delay[10ns] q[0];"},
        Row{"nothing", ""},
        Row{"scalars_declared_before_arrays",
            "qubit a; bit c; x a; c = measure a; qubit[2] b; bit[3] d; cx a, b[1]; d[2] = measure "
            "b[0]; qubit e; qubit[1] f; measure a; reset e; cz e, f[0]; c = measure f[0];"},
        Row{"definition_written_again_stands_for_its_last",
            "qubit q; gate g a { x a; } g q; gate g a { y a; h a; } g q;"},
        Row{"definition_calling_one_further_down",
            "qubit[2] q; gate f a, b { g b; cx a, b; } gate g a { s a; } f q[0], q[1]; g q[1];"},
        Row{"generated_definition_read_as_its_gate",
            "qubit q; gate sqrtx_1 a0 { h a0; s a0; h a0; } gate sqrty_dag_2 a0 { sdg a0; h a0; "
            "sdg a0; h a0; s a0; } sqrtx_1 q; ctrl @ sqrty_dag_2 $1, q; sqrtx_1 $1;"},
        Row{"unitary_matrices",
            "qubit[2] q; unitary(0, 0, 1, 0, 1, 0, 0, 0) q[1]; ctrl @ "
            "unitary(0, 0, 1, 0, 1, 0, 0, 0) q[0], q[1];"},
        Row{"numbers_at_their_edges",
            "qubit q; rz(-0.0) q; rx(5e-324) q; ry(1.7976931348623157e308) "
            "q; p(-1e-300) q; U(0.1, -0.2, 1e15) q; rz(1/3) q;"},
        Row{"unknown_gate", "qubit q; nosuch q;"}, Row{"qubit_twice", "qubit[2] q; cx q[0], q[0];"},
        Row{"index_past_the_end", "qubit[2] q; x q[2];"},
        Row{"invalid_utf8", "qubit q; x q; // \xff\n"}),
    row_name<Row>);

// Explicit matrices are checked by the rule the importer checks them with: the same
// messages, at the call, on both public paths.
TEST(ExplicitMatrices, AreRefusedWithTheImportersMessages) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"unitary() q;", "ValueError: unitary gate requires flattened matrix parameters"},
      {"unitary(1, 0, 0) q;", "ValueError: unitary parameters must be real/imaginary pairs"},
      {"unitary(1, 0, 0, 0, 0, 0) q;",
       "ValueError: unitary parameter count 6 does not encode a square matrix"},
      {"unitary(" + repeat("0, ", 17) + "0) q;",
       "ValueError: unitary matrix dimension 3 must be a power of two"},
  };
  for (const auto& [call, message] : rows)
    expect_both_paths("qubit q;\n  " + call, "2:3: " + message);
}

// ------------------------------------------------------------------ generated programs
// Programs that mix what the records depend on: scalar and array registers declared in any
// order (an array declared after scalars moves them in the importer's numbering), hardware
// qubits, definitions calling definitions and written again, modifiers on gates with and
// without controls of their own, measurements into bits, bare measurements and resets.
class RecordProgramGenerator {
 public:
  explicit RecordProgramGenerator(std::uint64_t seed) : random_(seed) {}

  std::string program() {
    qubits_.clear();
    bits_.clear();
    definitions_.clear();
    std::string text = random_.chance(20) ? "OPENQASM 2.0;\ninclude \"qelib1.inc\";\n"
                                          : "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";
    const bool version2 = text.starts_with("OPENQASM 2");
    declare(text, version2, true);
    const int statements = 1 + static_cast<int>(random_.below(14));
    for (int k = 0; k < statements; ++k) {
      switch (random_.below(10)) {
        case 0:
          declare(text, version2, true);
          break;
        case 1:
          declare(text, version2, false);
          break;
        case 2:
          if (!version2) define(text);
          break;
        case 3:
          measure(text, version2);
          break;
        case 4:
          text += "reset " + qubit() + ";\n";
          break;
        default:
          text += gate_call(true) + ";\n";
      }
    }
    return text;
  }

 private:
  struct Register {
    std::string name;
    std::int64_t size;  // 0: a scalar
  };

  // A qubit (`quantum`) or bit register, an array or (in OpenQASM 3) sometimes a scalar.
  void declare(std::string& text, bool version2, bool quantum) {
    std::vector<Register>& registers = quantum ? qubits_ : bits_;
    const std::string name = (quantum ? "q" : "c") + std::to_string(registers.size());
    const std::int64_t size = version2 || random_.chance(55) ? 1 + random_.below(3) : 0;
    registers.push_back({name, size});
    const std::string keyword =
        version2 ? (quantum ? "qreg " : "creg ") : (quantum ? "qubit" : "bit");
    text += version2    ? keyword + name + "[" + std::to_string(size) + "];\n"
            : size == 0 ? keyword + " " + name + ";\n"
                        : keyword + "[" + std::to_string(size) + "] " + name + ";\n";
  }

  static std::string element(const Register& reg, SeededRandom& random) {
    return reg.size == 0 ? reg.name : reg.name + "[" + std::to_string(random.below(reg.size)) + "]";
  }

  std::string qubit() {
    if (random_.chance(5)) return "$" + std::to_string(random_.below(3));
    return element(qubits_[random_.below(static_cast<std::int64_t>(qubits_.size()))], random_);
  }

  void measure(std::string& text, bool version2) {
    if (bits_.empty() || random_.chance(20)) {
      if (!version2) text += "measure " + qubit() + ";\n";
      return;
    }
    const std::string bit =
        element(bits_[random_.below(static_cast<std::int64_t>(bits_.size()))], random_);
    text += version2 ? "measure " + qubit() + " -> " + bit + ";\n"
                     : bit + " = measure " + qubit() + ";\n";
  }

  // A call on distinct qubits, of a standard gate or a definition; `top` allows hardware
  // qubits and registers, a body its arguments only.
  std::string gate_call(bool top, const std::vector<std::string>& arguments = {}) {
    static constexpr std::array<std::pair<const char*, int>, 14> GATES{
        {{"x", 1},
         {"h", 1},
         {"sdg", 1},
         {"rz(0.25)", 1},
         {"U(0.1, 0.2, -0.3)", 1},
         {"cx", 2},
         {"cp(-0.5)", 2},
         {"swap", 2},
         {"ccx", 3},
         {"cswap", 3},
         {"sx", 1},
         {"crz(1e-9)", 2},
         {"cu(0.1, 0.2, 0.3, 0.4)", 2},
         {"u2(0.5, 1)", 1}}};
    std::string name;
    int operands = 0;
    if (!definitions_.empty() && random_.chance(30)) {
      const auto& [defined, count] =
          definitions_[random_.below(static_cast<std::int64_t>(definitions_.size()))];
      name = defined;
      operands = count;
    } else {
      const auto& [gate, count] = GATES[random_.below(GATES.size())];
      name = gate;
      operands = count;
    }
    std::string modifiers;
    const int controls = static_cast<int>(random_.below(3));
    for (int k = 0; k < controls; ++k)
      modifiers += random_.chance(50) ? "ctrl @ " : "negctrl @ ";
    if (random_.chance(10)) modifiers += "inv @ ";
    std::vector<std::string> chosen;
    const std::size_t wanted = static_cast<std::size_t>(controls + operands);
    for (int attempt = 0; attempt < 40 && chosen.size() < wanted; ++attempt) {
      const std::string operand =
          top ? qubit() : arguments[random_.below(static_cast<std::int64_t>(arguments.size()))];
      if (std::find(chosen.begin(), chosen.end(), operand) == chosen.end())
        chosen.push_back(operand);
    }
    if (chosen.size() < wanted) return top ? "x " + qubit() : "x " + arguments[0];
    std::string text = modifiers + name;
    for (std::size_t k = 0; k < chosen.size(); ++k)
      text += (k == 0 ? " " : ", ") + chosen[k];
    return text;
  }

  void define(std::string& text) {
    // Sometimes a name defined before, written again with as many arguments (the importer
    // takes the last definition for every call, so calls made before must still fit it).
    const bool again = !definitions_.empty() && random_.chance(15);
    const std::string name =
        again ? definitions_.back().first : "g" + std::to_string(definitions_.size());
    const int arity = again ? definitions_.back().second : 1 + static_cast<int>(random_.below(3));
    std::vector<std::string> arguments;
    for (int k = 0; k < arity; ++k)
      arguments.push_back("a" + std::to_string(k));
    std::string body;
    const int statements = 1 + static_cast<int>(random_.below(4));
    for (int k = 0; k < statements; ++k)
      body += "  " + gate_call(false, arguments) + ";\n";
    text += "gate " + name;
    for (int k = 0; k < arity; ++k)
      text += (k == 0 ? " " : ", ") + arguments[k];
    text += " {\n" + body + "}\n";
    std::erase_if(definitions_, [&](const auto& entry) { return entry.first == name; });
    definitions_.emplace_back(name, arity);
  }

  SeededRandom random_;
  std::vector<Register> qubits_;
  std::vector<Register> bits_;
  std::vector<std::pair<std::string, int>> definitions_;
};

TEST(GeneratedPrograms, ReadAsTheirLoweredText) {
  RecordProgramGenerator generator(19);
  int lowered = 0;
  for (int k = 0; k < 3000 && !HasFailure(); ++k) {
    const std::string program = generator.program();
    expect_same_reading(program);
    if (outcome_of([&] { qasm3::lower_qasm3(program); }) == "ok") ++lowered;
  }
  EXPECT_GE(lowered, 2000) << "most generated programs must lower, or the property checks little";
}

// ------------------------------------------------------------------ the statement bound

TEST(StatementCount, CountsSemicolonsOutsideComments) {
  const std::vector<std::pair<std::string, std::size_t>> rows = {
      {"", 0},
      {"qubit q; x q;", 2},
      {"x q; // a; b;\ny q;", 2},
      {"x q; /* ; ; */ y q;", 2},
      {"x q; /* ; ; ", 1},          // a comment left open runs to the end
      {"x q; // ;", 1},             // a line comment at the end
      {"/* a */; /**/; //\n;", 3},  // comments that end at once
      {"a / b; c /; d */ e;", 3},   // slashes that start no comment
      {"include \"a;b\";", 2},      // strings are not looked into: an upper estimate
  };
  for (const auto& [program, count] : rows) {
    EXPECT_EQ(lower::count_statements(program), count) << program;
  }
}

TEST(StatementBound, IsTheOptionOrGrowsWithTheProgram) {
  EXPECT_EQ(lower::statement_bound("x q;", {}), lower::MAX_LOWERED_STATEMENTS);
  EXPECT_EQ(lower::statement_bound("x q;", {.max_statements = 7}), 7U);
  const std::string long_program = repeat("x q;", 250'000);
  EXPECT_EQ(lower::statement_bound(long_program, {}), lower::MAX_LOWERED_STATEMENTS);
  EXPECT_EQ(lower::statement_bound(long_program + "y q;", {}), 4'000'016U);
  EXPECT_EQ(lower::statement_bound(long_program + "y q;", {.max_statements = 100}), 100U);
}

struct CapRow {
  std::string name;
  std::string program;
  std::size_t cap;
  std::string outcome;
};

void PrintTo(const CapRow& row, std::ostream* out) {
  *out << row.name;
}

class Cap : public testing::TestWithParam<CapRow> {};

// Both public functions stop at the bound with the same message and place.
TEST_P(Cap, StopsBothPublicFunctions) {
  expect_both_paths(GetParam().program, GetParam().outcome, {.max_statements = GetParam().cap});
}

INSTANTIATE_TEST_SUITE_P(
    Options, Cap,
    testing::Values(
        CapRow{"declarations_do_not_count", "qubit q; qubit r; bit c; x q; y q; z q;", 3, "ok"},
        CapRow{"one_past_the_bound", "qubit q; x q; y q; z q; s q;", 3,
               "1:25: ValueError: The lowered program would exceed 3 statements"},
        CapRow{"passes_and_gates", "qubit q; x q;\nfor int i in [1:2] { x q; }", 4,
               "2:22: ValueError: The lowered program would exceed 4 statements"},
        CapRow{"loop_passes", "qubit q;\nfor int i in [1:10] { }", 5,
               "2:1: ValueError: The lowered program would exceed 5 statements"},
        CapRow{"broadcast", "qubit[50] q;\nh q;", 10,
               "2:3: ValueError: The lowered program would exceed 10 statements"},
        CapRow{"power", "qubit q;\npow(100) @ x q;", 20,
               "2:1: ValueError: The lowered program would exceed 20 statements"},
        CapRow{"zero_is_the_default", "qubit q; for int i in [1:1000] x q;", 0, "ok"},
        CapRow{"default_bound_reached", "qubit q; int n = 0; while (true) { n += 1; }", 0,
               "1:21: ValueError: The lowered program would exceed 4000000 statements"}),
    row_name<CapRow>);

// A program longer than a sixteenth of the default bound may expand each statement up to
// sixteen times: its gates and loop passes up to that many lower, one more does not.
TEST(DefaultBound, GrowsWithTheProgramsStatements) {
  const std::string gates = "qubit q;" + repeat("x q;", 300'000);
  const std::size_t bound = 16 * (1 + 300'000);
  const std::string passes = std::to_string(bound - 300'000);
  EXPECT_EQ(outcome_of([&] { qasm3::lower_qasm3(gates + "for int i in [1:" + passes + "] { }"); }),
            "ok");
  EXPECT_EQ(
      outcome_of([&] { qasm3::lower_qasm3(gates + "for int i in [0:" + passes + "] { }"); }),
      "ValueError: The lowered program would exceed " + std::to_string(bound) + " statements");
}

}  // namespace
