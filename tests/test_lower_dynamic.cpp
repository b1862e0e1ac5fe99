// Blocks on measured bits on the language path: every condition form read, as lowered
// text (lower_qasm3) and as records (lower_to_gate_sequence), exactly; every refusal with
// its kind, message and place; and, since the importer reads no `if`, the property that
// takes the place of the importer's reading: lowering its own text again gives the same
// text and the same records, on the program folder and on generated dynamic programs.
#include <optional>
#include <string>
#include <vector>

#include "lower_test_support.hpp"
#include "program_folder.hpp"
#include "qasm/records/measure_map.hpp"
#include "same_records.hpp"

namespace {

using namespace lower_test;
using corvane::Comparison;
using corvane::Condition;
using corvane::GateSequence;
using corvane::make_block;
using corvane::QuantumGate;

// Three qubits, two bits c and one bit b, all measured.
constexpr std::string_view PRELUDE =
    "qubit[3] q; bit[2] c; bit b; c = measure q[0:1]; b = measure q[2];\n";
constexpr std::string_view PRELUDE_LOWERED =
    "qubit[3] q;\nbit[2] c;\nbit b;\nc[0] = measure q[0];\nc[1] = measure q[1];\nb = measure "
    "q[2];\n";

std::string indices(const corvane::IndexList& list) {
  std::string out;
  for (std::size_t k = 0; k < list.size(); ++k)
    out += (k > 0 ? "," : "") + std::to_string(list[k]);
  return out;
}

// Records in a short form: `x 2`, `cx 0,1`, `measure 0->1`, `if 0,1 == 3 {x 0} else {..}`.
std::string describe(const std::vector<QuantumGate>& gates) {
  std::string out;
  for (const QuantumGate& g : gates) {
    if (!out.empty()) out += "; ";
    if (const auto& tested = g.condition()) {
      out += g.id + " " + indices(tested->bits()) + " " +
             std::string(corvane::comparison_text(tested->compare())) + " " +
             std::to_string(tested->value()) + " {" + describe(*g.block_gate_sequence()) + "}";
      if (g.else_gate_sequence()) out += " else {" + describe(*g.else_gate_sequence()) + "}";
      continue;
    }
    out += g.id;
    if (!g.control.empty()) out += " " + indices(g.control) + " ->";
    out += " " + indices(g.target);
    if (g.classical_target()) out += "->" + indices(*g.classical_target());
    if (g.block_gate_sequence() && g.name()) out += " (" + *g.name() + ")";
  }
  return out;
}

std::string measure_map_text(const GateSequence& gs) {
  std::string out;
  if (!gs.qasm_measure_map) return "none";
  for (const auto& [qubit, bit] : *gs.qasm_measure_map)
    out += (out.empty() ? "" : " ") + std::to_string(qubit) + "->" + std::to_string(bit);
  return out;
}

// ---------------------------------------------------------------- text

// Each condition form, on `x q[0]`: the condition as a program writes it and as lowering
// writes it back.
class ReadsConditions : public testing::TestWithParam<Row> {};

TEST_P(ReadsConditions, AndWritesThemInOneForm) {
  const Row& row = GetParam();
  expect_lowers_to(std::string(PRELUDE) + "if (" + row.input + ") x q[0];",
                   std::string(PRELUDE_LOWERED) + "if (" + row.expected + ") {\n  x q[0];\n}\n");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ReadsConditions,
    testing::Values(
        Row{"one_bit", "c[0]", "c[0] == 1"}, Row{"one_bit_negated", "!c[0]", "c[0] == 0"},
        Row{"one_bit_compared", "c[1] == 1", "c[1] == 1"},
        Row{"one_bit_unequal", "c[1] != 1", "c[1] == 0"}, Row{"scalar_bit", "b", "b == 1"},
        Row{"bit_compared_with_bool", "b == false", "b == 0"},
        Row{"register_equal", "c == 3", "c == 3"}, Row{"register_unequal", "c != 0", "c != 0"},
        Row{"register_less", "c < 2", "c < 2"}, Row{"register_at_most", "c <= 2", "c <= 2"},
        Row{"register_greater", "c > 2", "c > 2"}, Row{"register_at_least", "c >= 2", "c >= 2"},
        Row{"register_alone", "c", "c != 0"}, Row{"register_negated", "!c", "c == 0"},
        // Negated: every comparison turns into its complement.
        Row{"less_negated", "!(c < 2)", "c >= 2"}, Row{"at_most_negated", "!(c <= 2)", "c > 2"},
        Row{"greater_negated", "!(c > 2)", "c <= 2"}, Row{"at_least_negated", "!(c >= 2)", "c < 2"},
        Row{"equal_negated", "!(c == 1)", "c != 1"}, Row{"unequal_negated", "!(c != 1)", "c == 1"},
        // The value on the left: every comparison mirrored.
        Row{"value_less", "1 < c", "c > 1"}, Row{"value_at_most", "1 <= c", "c >= 1"},
        Row{"value_greater", "1 > c", "c < 1"}, Row{"value_at_least", "1 >= c", "c <= 1"},
        Row{"value_equal", "1 == c", "c == 1"}, Row{"value_unequal", "1 != c", "c != 1"},
        Row{"value_on_the_left_negated", "!(2 <= c)", "c < 2"},
        Row{"slice", "c[0:1] == 2", "c[0:1] == 2"},
        Row{"index_set", "c[{1, 0}] == 1", "c[{1, 0}] == 1"},
        Row{"bit_string", "c == \"01\"", "c == 1"}, Row{"cast_to_int", "int[2](c) != 0", "c != 0"},
        Row{"cast_to_int_negative", "int[2](c) == -1", "c == 3"},
        Row{"cast_to_wider_uint", "uint[8](c) >= 2", "c >= 2"},
        Row{"cast_to_bool", "bool(c)", "c != 0"}),
    row_name<Row>);

// The programs follow PRELUDE; the lowered texts, the header and PRELUDE_LOWERED.
class WritesBlocks : public testing::TestWithParam<Row> {};

TEST_P(WritesBlocks, AsItReadsThem) {
  expect_lowers_to(std::string(PRELUDE) + GetParam().input,
                   std::string(PRELUDE_LOWERED) + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, WritesBlocks,
    testing::Values(
        Row{"constant_expression", "const int k = 1; if (c == k + 1) x q[0];",
            "if (c == 2) {\n  x q[0];\n}\n"},
        Row{"else_block", "if (b) x q[0]; else { y q[1]; z q[2]; }",
            "if (b == 1) {\n  x q[0];\n} else {\n  y q[1];\n  z q[2];\n}\n"},
        Row{"else_if", "if (c == 0) x q[0]; else if (c == 1) y q[0]; else z q[0];",
            "if (c == 0) {\n  x q[0];\n} else {\n  if (c == 1) {\n    y q[0];\n  } else {\n"
            "    z q[0];\n  }\n}\n"},
        Row{"nested_with_measurement_and_reset",
            "if (b) { h q[0]; c[0] = measure q[0]; if (c[0]) { reset q[0]; } }",
            "if (b == 1) {\n  h q[0];\n  c[0] = measure q[0];\n  if (c[0] == 1) {\n"
            "    reset q[0];\n  }\n}\n"},
        Row{"loops_and_broadcasts_spelled_out",
            "if (b) { for int k in [0:1] { cx q[k], q[k + 1]; } h q; }",
            "if (b == 1) {\n  cx q[0], q[1];\n  cx q[1], q[2];\n  h q[0];\n  h q[1];\n"
            "  h q[2];\n}\n"},
        Row{"definitions_called_inside", "gate g a { h a; } if (b) g q[1];",
            "gate g a {\n  h a;\n}\nif (b == 1) {\n  g q[1];\n}\n"},
        Row{"while_loop", "while (c == 0) { h q[0]; c[0] = measure q[0]; }",
            "while (c == 0) {\n  h q[0];\n  c[0] = measure q[0];\n}\n"},
        Row{"while_on_a_cast", "while (int[2](c) != 0) { h q[0:1]; c = measure q[0:1]; }",
            "while (c != 0) {\n  h q[0];\n  h q[1];\n  c[0] = measure q[0];\n"
            "  c[1] = measure q[1];\n}\n"},
        Row{"switch",
            "switch (int(c)) { case 0 { x q[0]; } case 1, 2 { y q[0]; } default { z "
            "q[0]; } }",
            "if (c == 0) {\n  x q[0];\n} else {\n  if (c == 1) {\n    y q[0];\n  } else {\n"
            "    if (c == 2) {\n      y q[0];\n    } else {\n      z q[0];\n    }\n  }\n}\n"},
        Row{"switch_without_default", "switch (c) { case 3 { x q[0]; } case 0b01 { } }",
            "if (c == 3) {\n  x q[0];\n} else {\n  if (c == 1) {\n  }\n}\n"},
        Row{"bits_declared_inside_before_the_block",
            "if (b) { bit[2] d = measure q[0:1]; if (d == 1) x q[2]; }",
            "bit[2] d_1;\nif (b == 1) {\n  d_1[0] = measure q[0];\n  d_1[1] = measure q[1];\n"
            "  if (d_1 == 1) {\n    x q[2];\n  }\n}\n"},
        Row{"known_conditions_fold_inside", "if (b) { if (1 < 2) x q[0]; else y q[0]; }",
            "if (b == 1) {\n  x q[0];\n}\n"},
        Row{"known_short_circuit_keeps_folding", "if (false && c[0]) x q[0]; y q[1];", "y q[1];\n"},
        Row{"empty_body", "if (b) { }", "if (b == 1) {\n}\n"},
        // An else-block left empty is none (the builder keeps none either).
        Row{"empty_else", "if (b) x q[0]; else { if (1 > 2) y q[0]; }",
            "if (b == 1) {\n  x q[0];\n}\n"},
        Row{"empty_default", "switch (int(c)) { case 1 { } default { barrier q; } }",
            "if (c == 1) {\n}\n"}),
    row_name<Row>);

// OpenQASM 2's `if`, on a register that starts at zero and is partly measured.
TEST(OpenQasm2, ComparesARegister) {
  expect_lowers_to(
      "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[2];\ncreg c[2];\nmeasure q[0] -> c[0];\n"
      "if (c == 3) x q[1];\nif(c==1) cx q[0],q[1];\n",
      "qubit[2] q;\nbit[2] c;\nc[0] = measure q[0];\nif (c == 3) {\n  x q[1];\n"
      "}\nif (c == 1) {\n  cx q[0], q[1];\n}\n");
}

// ---------------------------------------------------------------- records

struct RecordRow {
  std::string name;
  std::string program;
  std::string records;
  std::string measure_map;
};

class BuildsRecords : public testing::TestWithParam<RecordRow> {};

TEST_P(BuildsRecords, OnTheSequencesIndices) {
  const RecordRow& row = GetParam();
  const GateSequence gs = qasm3::lower_to_gate_sequence(row.program);
  EXPECT_EQ(describe(gs.data()), row.records);
  EXPECT_EQ(measure_map_text(gs), row.measure_map);
  EXPECT_EQ(gs.qasm_measure_map.value_or(std::vector<corvane::MeasurePair>{}),
            corvane::qasm3::detail::measure_map_of(gs.data()));
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, BuildsRecords,
    testing::Values(
        RecordRow{"teleport_corrections",
                  "qubit[3] q; bit[2] c; h q[1]; cx q[1], q[2]; cx q[0], q[1]; h q[0];\n"
                  "c[0] = measure q[0]; c[1] = measure q[1];\n"
                  "if (c[0]) z q[2]; if (c[1] == 1) x q[2];",
                  "h 1; cx 1 -> 2; cx 0 -> 1; h 0; measure 0->0; measure 1->1; if 0 == 1 {z 2}; "
                  "if 1 == 1 {x 2}",
                  "0->0 1->1"},
        RecordRow{"target_is_the_qubits_of_both_bodies",
                  "qubit[4] q; bit c; c = measure q[0];\n"
                  "if (c) { cx q[3], q[1]; } else { ctrl @ x q[2], q[1]; }",
                  "measure 0->0; if 0 == 1 {cx 3 -> 1} else {x 2 -> 1}", "0->0"},
        RecordRow{"measurements_in_bodies_in_program_order",
                  "qubit[2] q; bit[3] c; c[0] = measure q[0];\n"
                  "if (c[0]) { c[1] = measure q[1]; } else { c[2] = measure q[0]; }\n"
                  "c[2] = measure q[1];",
                  "measure 0->0; if 0 == 1 {measure 1->1} else {measure 0->2}; measure 1->2",
                  "0->0 1->1 0->2 1->2"},
        RecordRow{"else_if_is_the_only_record_of_the_else_block",
                  "qubit q; bit[2] c; c[0] = measure q; c[1] = measure q;\n"
                  "if (c == 0) x q; else if (c == 1) y q; else z q;",
                  "measure 0->0; measure 0->1; if 0,1 == 0 {x 0} else {if 0,1 == 1 {y 0} "
                  "else {z 0}}",
                  "0->0 0->1"},
        RecordRow{"while_loop",
                  "qubit[2] q; bit[2] flags; flags = measure q;\n"
                  "while (int[2](flags) != 0) { reset q; flags = measure q; }",
                  "measure 0->0; measure 1->1; while 0,1 != 0 {reset 0; reset 1; measure 0->0; "
                  "measure 1->1}",
                  "0->0 1->1 0->0 1->1"},
        RecordRow{"switch_case_of_two_values",
                  "qubit q; bit[2] c; c[0] = measure q; c[1] = measure q;\n"
                  "switch (int(c)) { case 0 { x q; } case 1, 2 { y q; } default { z q; } }",
                  "measure 0->0; measure 0->1; if 0,1 == 0 {x 0} else {if 0,1 == 1 {y 0} else "
                  "{if 0,1 == 2 {y 0} else {z 0}}}",
                  "0->0 0->1"},
        RecordRow{"slice_bits_least_significant_first",
                  "qubit[4] q; bit[4] c; c = measure q;\nif (c[3:-1:2] == 1) x q[0];",
                  "measure 0->0; measure 1->1; measure 2->2; measure 3->3; if 3,2 == 1 {x 0}",
                  "0->0 1->1 2->2 3->3"},
        // A scalar qubit and bit move up when arrays are declared after them: records made
        // before, and those in a block open at the time, move with them.
        RecordRow{"scalars_moved_by_a_later_array",
                  "qubit a; bit s; s = measure a;\n"
                  "if (s) { x a; bit d = measure a; bit[2] e; e[1] = measure a; }\n"
                  "qubit[2] r; if (s) cx a, r[0];",
                  "measure 2->2; if 2 == 1 {x 2; measure 2->3; measure 2->1}; if 2 == 1 {cx 2 "
                  "-> 0}",
                  "2->2 2->3 2->1"},
        RecordRow{"definition_calls_in_bodies_get_the_last_definition",
                  "gate g a { h a; } qubit[2] q; bit c; c = measure q[0];\n"
                  "if (c) { g q[1]; if (c) g q[0]; }",
                  "measure 0->0; if 0 == 1 {block 1 (g); if 0 == 1 {block 0 (g)}}", "0->0"}),
    row_name<RecordRow>);

// Record for record, against records built by hand.
TEST(BuildsRecords, EqualsTheModelsConditionedRecords) {
  const GateSequence gs = qasm3::lower_to_gate_sequence(
      "qubit[2] q; bit[2] c; c = measure q;\nif (c >= 2) { x q[1]; } else { z q[0]; }");
  ASSERT_EQ(gs.data().size(), 3U);
  const QuantumGate expected = corvane::make_conditioned(
      "if", Condition({0, 1}, Comparison::GreaterEqual, 2), make_block({QuantumGate("x", {1})}),
      make_block({QuantumGate("z", {0})}));
  EXPECT_EQ(gs.data()[2], expected);
  EXPECT_EQ(gs.qasm_classical_registers, (corvane::RegisterList{{"c", 2}}));
}

// The definition a call in a body gets is the name's last one, and calls share its block.
TEST(BuildsRecords, ShareOneDefinitionsBlock) {
  const GateSequence gs = qasm3::lower_to_gate_sequence(
      "gate g a { h a; } qubit q; bit c; c = measure q; g q;\nif (c) g q;");
  ASSERT_EQ(gs.data().size(), 3U);
  const auto& body = *gs.data()[2].block_gate_sequence();
  ASSERT_EQ(body.size(), 1U);
  EXPECT_EQ(body[0].block_gate_sequence(), gs.data()[1].block_gate_sequence());
}

// ---------------------------------------------------------------- refusals

class RefusesConditions : public testing::TestWithParam<Row> {};

TEST_P(RefusesConditions, NamingTheConstructAndItsPlace) {
  expect_both_paths(GetParam().input, GetParam().expected);
}

std::string on_measured(std::string_view rest) {
  return "qubit[2] q; bit[2] c; bit b; c = measure q; b = measure q[0];\n" + std::string(rest);
}

// The outcomes, each at "<line>:<column>".
std::string not_supported(std::string_view place, std::string_view what) {
  return std::string(place) + ": NotImplementedError: " + std::string(what) + " is not supported";
}
std::string in_runtime_block(std::string_view place, std::string_view what) {
  return not_supported(place, std::string(what) + " in a block that runs on measured bits");
}
std::string unkept_value(std::string_view place, std::string_view bits, std::string_view why) {
  return std::string(place) + ": NotImplementedError: A condition on '" + std::string(bits) +
         "' is not supported: " + std::string(why);
}
std::string cannot_hold(std::string_view place, std::string_view bits, std::string_view value) {
  return std::string(place) + ": ValueError: A condition compares " + std::string(bits) + " with " +
         std::string(value) + ", a value they cannot hold";
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, RefusesConditions,
    testing::Values(
        Row{"arithmetic", on_measured("if (c + 1 == 2) x q[0];"),
            not_supported("2:7", "Arithmetic on measured bits ('+')")},
        Row{"bit_not", on_measured("if (~c == 2) x q[0];"),
            not_supported("2:5", "Arithmetic on measured bits ('~')")},
        Row{"and", on_measured("if (c[0] && c[1]) x q[0];"),
            not_supported("2:10", "'&&' of measured bits")},
        Row{"or_of_comparisons", on_measured("if (c == 1 || b) x q[0];"),
            not_supported("2:12", "'||' of measured bits")},
        Row{"bits_with_bits", on_measured("if (c[0] == c[1]) x q[0];"),
            not_supported("2:10", "A comparison of measured bits with measured bits")},
        Row{"subroutine_of_bits",
            on_measured("def f(bit[2] v) -> int { return 1; }\nif (f(c) == 1) x q[0];"),
            not_supported("3:5", "A call of 'f' on measured bits")},
        Row{"variable_from_a_measurement", on_measured("int v = c;\nif (v == 1) x q[0];"),
            "2:9: NotImplementedError: 'c' is known only when the circuit runs"},
        Row{"variable_changed_in_a_block",
            on_measured("int i = 0;\nif (b) { i += 1; }\nrx(i) q[0];"),
            in_runtime_block("3:10", "Assigning 'i'")},
        Row{"variable_changed_in_a_subroutine_called_in_a_block",
            on_measured("int i = 0; def f() { i = 2; }\nif (b) f();"),
            in_runtime_block("2:22", "Assigning 'i'")},
        Row{"loop_counted_on_measurements",
            on_measured("int i = 0;\nwhile (i < 3) { h q[0]; b = measure q[0]; if (b) { "
                        "i += 1; } }"),
            in_runtime_block("3:52", "Assigning 'i'")},
        Row{"break_in_a_runtime_while", on_measured("while (b) { b = measure q[0];\nbreak; }"),
            in_runtime_block("3:1", "'break'")},
        Row{"continue_in_a_runtime_if_in_a_loop",
            on_measured("for int k in [0:1] { if (b) {\ncontinue; } }"),
            in_runtime_block("3:1", "'continue'")},
        Row{"end_in_a_runtime_if", on_measured("if (b) {\nend; }"),
            in_runtime_block("3:1", "'end'")},
        Row{"return_in_a_runtime_if",
            on_measured("def f(qubit a) { if (b) {\nreturn; } x a; }\nf(q[0]);"),
            in_runtime_block("3:1", "'return'")},
        Row{"assigned_after_measuring", on_measured("c[1] = 0;\nif (c == 1) x q[0];"),
            unkept_value("3:7", "c[1]", "a value the circuit does not keep is assigned to it")},
        Row{"switch_on_bits_assigned_after_measuring",
            "qubit q; bit c;\nc = measure q; c = 1;\nswitch (int(c)) { case 0 { } }",
            unkept_value("3:9", "c", "a value the circuit does not keep is assigned to it")},
        Row{"initialised_and_never_measured", "qubit q; bit c = 1;\nif (c) x q;",
            unkept_value("2:5", "c", "a value the circuit does not keep is assigned to it")},
        Row{"assigned_in_a_branch", on_measured("if (b) { c[0] = 1; }\nif (c[0]) x q[0];"),
            unkept_value("3:5", "c[0]", "a value the circuit does not keep may be assigned to it")},
        Row{"assigned_in_the_loop_it_tests", on_measured("while (c[0]) { x q[0]; c[0] = false; }"),
            unkept_value("2:8", "c[0]",
                         "after the loop's body, a value the circuit does not keep is "
                         "assigned to it")},
        Row{"ordering_of_a_signed_cast", on_measured("if (int[2](c) < 0) x q[0];"),
            not_supported("2:15", "An ordering of measured bits read as a signed integer")},
        Row{"narrowing_cast", on_measured("if (uint[1](c) == 1) x q[0];"),
            not_supported("2:5", "A cast of 2 measured bits to uint[1]")},
        Row{"cast_to_float", on_measured("if (float(c) == 1) x q[0];"),
            not_supported("2:5", "A cast of measured bits to float")},
        Row{"value_too_large", on_measured("if (c == 4) x q[0];"),
            cannot_hold("2:7", "2 measured bits", "4")},
        Row{"negative_value", on_measured("if (c > -1) x q[0];"),
            cannot_hold("2:9", "2 measured bits", "-1")},
        Row{"value_past_a_signed_cast", on_measured("if (int[2](c) == 2) x q[0];"),
            cannot_hold("2:18", "2 measured bits read as int[2]", "2")},
        Row{"case_value_too_large", on_measured("switch (int(c)) { case 0 { } case 7 { } }"),
            cannot_hold("2:35", "2 measured bits", "7")},
        Row{"float_value", on_measured("if (c == 1.5) x q[0];"),
            "2:10: ValueError: A condition compares measured bits with an integer, not "
            "float"},
        Row{"one_bit_twice", on_measured("if (c[{0, 0}] == 1) x q[0];"),
            "2:15: ValueError: A condition reads 'c[0]' twice"},
        Row{"in_a_gate_body", on_measured("gate g a { if (b) x a; }"),
            not_supported("2:12", "A condition on measured bits in a gate's body")},
        Row{"more_than_64_bits", "qubit[65] q; bit[65] w; w = measure q;\nif (w != 0) x q[0];",
            not_supported("2:7", "A condition on 65 bits") + " (64 at most)"}),
    row_name<Row>);

// ---------------------------------------------------------------- the fixed point

// lower_qasm3's text, lowered again, gives the same text, and read by
// lower_to_gate_sequence the records that the program itself gives. Returns whether the
// program lowers.
bool expect_fixed_point(const std::string& program) {
  std::optional<GateSequence> direct;
  try {
    direct = qasm3::lower_to_gate_sequence(program);
  } catch (const qasm3::Error&) {
    EXPECT_NE(outcome_of([&] { qasm3::lower_qasm3(program); }), "ok") << program;
    return false;
  }
  const std::string lowered = qasm3::lower_qasm3(program);
  EXPECT_EQ(qasm3::lower_qasm3(lowered), lowered) << program;
  EXPECT_EQ(corvane::fuzz::first_record_difference(*direct, qasm3::lower_to_gate_sequence(lowered)),
            "")
      << program << "\n----\n"
      << lowered;
  EXPECT_EQ(direct->qasm_measure_map.value_or(std::vector<corvane::MeasurePair>{}),
            corvane::qasm3::detail::measure_map_of(direct->data()))
      << program;
  for (const QuantumGate& g : direct->data())
    EXPECT_NO_THROW(corvane::check_conditioned(g)) << program;
  return true;
}

class FolderProgram : public testing::TestWithParam<std::string> {};

TEST_P(FolderProgram, LowersToAFixedPoint) {
  expect_fixed_point(program_folder::read(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Folder, FolderProgram, testing::ValuesIn(program_folder::names()),
                         program_folder::test_name);

// Random dynamic programs: gates, measurements, resets, calls of definitions, known loops,
// bits declared in blocks and registers declared late (which move the scalars up), in
// if/else, while and switch blocks nested a few deep, on the condition forms read.
class DynamicProgram {
 public:
  explicit DynamicProgram(std::uint64_t seed) : random_(seed) {}

  std::string make() {
    out_ = "gate g a, b { cx a, b; h b; }\nqubit a; bit s; qubit[3] q; bit[2] c;\n";
    out_ += "s = measure a; c = measure q[0:1];\n";
    statements(3 + random_.below(6), 0);
    return out_;
  }

 private:
  std::string qubit() {
    return random_.chance(25) ? "a" : "q[" + std::to_string(random_.below(3)) + "]";
  }
  std::string condition() {
    static const std::vector<std::string> FORMS = {
        "c[0]",      "!c[1]",         "c == 2",         "c[0:1] != 3", "s",
        "!s",        "c >= 1",        "int[2](c) != 0", "c == \"10\"", "2 > c",
        "c[1] == 0", "bool(c)",       "c < 3",          "c <= 1",      "uint[4](c) > 1",
        "!(c == 1)", "c[{1, 0}] == 2"};
    return FORMS[static_cast<std::size_t>(random_.below(static_cast<std::int64_t>(FORMS.size())))];
  }
  void statements(std::int64_t count, int depth) {
    for (std::int64_t k = 0; k < count; ++k)
      statement(depth);
  }
  void block(int depth) {
    out_ += "{ ";
    statements(1 + random_.below(3), depth + 1);
    out_ += "} ";
  }
  void statement(int depth) {
    const std::int64_t kind = random_.below(depth < 3 ? 13 : 7);
    switch (kind) {
      case 0:
        out_ += "x " + qubit() + "; ";
        break;
      case 1:
        out_ += "g q[0], " + std::string(random_.chance(50) ? "a" : "q[2]") + "; ";
        break;
      // Each draw a statement of its own: the operands of `+` are evaluated in an order
      // that differs between compilers, and every compiler must generate the same programs.
      case 2: {
        const std::string bit = std::to_string(random_.below(2));
        out_ += "c[" + bit + "] = measure " + qubit() + "; ";
        break;
      }
      case 3: {
        const bool measured = random_.chance(50);
        out_ += (measured ? "s = measure " : "reset ") + qubit() + "; ";
        break;
      }
      case 4: {
        const std::string eighths = std::to_string(random_.below(7));
        out_ += "rz(" + eighths + " * pi / 4) " + qubit() + "; ";
        break;
      }
      case 5:
        out_ += "for int k in [0:1] { cx q[k], q[k + 1]; } ";
        break;
      case 6:
        if (depth == 0) {
          const std::string late = std::to_string(late_++);
          out_ += "qubit[2] r" + late + "; bit[2] l" + late + "; ";
        } else {
          const std::string d = "d" + std::to_string(late_++);
          out_ += "bit[2] " + d + " = measure q[1:2]; if (" + d + " == 3) x a; ";
        }
        break;
      case 7:
      case 8:
      case 9:
        out_ += "if (" + condition() + ") ";
        block(depth);
        if (random_.chance(50)) {
          out_ += "else ";
          if (random_.chance(30)) {
            out_ += "if (" + condition() + ") ";
            block(depth);
          } else {
            block(depth);
          }
        }
        break;
      case 10:
        out_ += "while (" + condition() + ") ";
        out_ += "{ h q[0]; c = measure q[0:1]; s = measure a; ";
        statements(random_.below(2), depth + 1);
        out_ += "} ";
        break;
      case 11:
        out_ += "switch (int(c)) { case 0 ";
        block(depth);
        out_ += "case 1, 3 ";
        block(depth);
        if (random_.chance(50)) {
          out_ += "default ";
          block(depth);
        }
        out_ += "} ";
        break;
      default:
        out_ += "c[0] = measure q[0]; ";
        break;
    }
    if (depth == 0) out_ += "\n";
  }

  SeededRandom random_;
  std::string out_;
  int late_ = 0;
};

TEST(GeneratedDynamicPrograms, LowerToAFixedPoint) {
  int lowered = 0;
  int conditioned = 0;
  for (std::uint64_t seed = 1; seed <= 400; ++seed) {
    const std::string program = DynamicProgram(seed).make();
    if (!expect_fixed_point(program)) {
      ADD_FAILURE() << "refused: " << outcome_of([&] { qasm3::lower_qasm3(program); }, true) << "\n"
                    << program;
      continue;
    }
    ++lowered;
    if (qasm3::lower_qasm3(program).find("if (") != std::string::npos) ++conditioned;
  }
  EXPECT_EQ(lowered, 400);
  EXPECT_GT(conditioned, 300);
}

}  // namespace
