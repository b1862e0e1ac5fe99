// The lowering front end: programs in, lowered text out, exactly; its errors with their
// places; and its two properties on every program of the program folder: a program the
// importer accepts imports the same with or without lowering, and lowering is
// idempotent with a result the importer accepts.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "lower_test_support.hpp"
#include "program_folder.hpp"
#include "qasm/lower/expand.hpp"
#include "qasm/lower/parser.hpp"
#include "qasm/lower/write.hpp"

namespace {

using namespace lower_test;
using corvane::GateSequence;

// The lowered text is expected without the header.
class Lowers : public testing::TestWithParam<Row> {};

TEST_P(Lowers, ToTheImportersForm) {
  expect_lowers_to(GetParam().input, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    PassThrough, Lowers,
    testing::Values(
        Row{"bell",
            "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\nbit[2] c;\nh q[0];\ncx q[0], "
            "q[1];\n"
            "c[0] = measure q[0];\nmeasure q[1] -> c[1];\n",
            "qubit[2] q;\nbit[2] c;\nh q[0];\ncx q[0], q[1];\nc[0] = measure q[0];\nc[1] = measure "
            "q[1];\n"},
        Row{"versions_and_comments", "OPENQASM 3;\n// c\n/* b */ qubit q; x q;",
            "qubit q;\nx q;\n"},
        Row{"byte_order_mark", "\xEF\xBB\xBFOPENQASM 3.0;\nqubit q;\nx q;\n", "qubit q;\nx q;\n"},
        Row{"scalar_registers", "qubit a; bit b; b = measure a; measure a;",
            "qubit a;\nbit b;\nb = measure a;\nmeasure a;\n"},
        Row{"parameters_in_shortest_form",
            "qubit q; rz(pi/2) q; rx(0.1) q; ry(-1e-7) q; p(2) q; U(1, 2, 3) q;",
            "qubit q;\nrz(1.5707963267948966) q;\nrx(0.1) q;\nry(-1e-07) q;\np(2.0) q;\n"
            "U(1.0, 2.0, 3.0) q;\n"},
        Row{"modifiers",
            "qubit[3] q; ctrl @ negctrl @ x q[0], q[1], q[2]; ctrl(2) @ h q[0], q[1], q[2];",
            "qubit[3] q;\nctrl @ negctrl @ x q[0], q[1], q[2];\nctrl @ ctrl @ h q[0], q[1], "
            "q[2];\n"},
        Row{"gphase_and_unitary",
            "qubit q; gphase(pi); ctrl @ gphase(1) q; unitary(0, 0, 1, 0, 1, 0, 0, 0) q;",
            "qubit q;\ngphase(3.141592653589793);\nctrl @ gphase(1.0) q;\n"
            "unitary(0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0) q;\n"},
        Row{"definition_without_parameters",
            "qubit[2] q; gate bell a, b { h a; cx a, b; } bell q[1], q[0];",
            "qubit[2] q;\ngate bell a, b {\n  h a;\n  cx a, b;\n}\nbell q[1], q[0];\n"},
        Row{"whole_register_measurement", "qubit[2] q; bit[2] c; c = measure q;",
            "qubit[2] q;\nbit[2] c;\nc[0] = measure q[0];\nc[1] = measure q[1];\n"},
        Row{"reset_passes", "qubit[2] q; reset q[1];", "qubit[2] q;\nreset q[1];\n"},
        Row{"old_style_registers", "OPENQASM 2.0; qreg q[2]; creg c[2]; measure q -> c;",
            "qubit[2] q;\nbit[2] c;\nc[0] = measure q[0];\nc[1] = measure q[1];\n"},
        Row{"hardware_qubits", "x $3; cx $0, $3;", "qubit[4] hw;\nx hw[3];\ncx hw[0], hw[3];\n"},
        Row{"hardware_qubits_beside_a_register_named_hw", "qubit hw; qubit hw_1; cx $0, hw;",
            "qubit[1] hw_2;\nqubit hw;\nqubit hw_1;\ncx hw_2[0], hw;\n"},
        Row{"forward_and_recursive_definitions",
            "qubit q; gate a x { b x; } gate b x { h x; } gate c x { c x; } a q;",
            "qubit q;\ngate a x {\n  b x;\n}\ngate b x {\n  h x;\n}\ngate c x {\n  c x;\n}\na "
            "q;\n"},
        Row{"definitions_kept_unless_the_importer_would_misread_them",
            "qubit[3] q; gate cx a { x a; } gate i a { y a; } gate cz a, b { h a; } cx q[0]; i "
            "q[1]; cz q[0], q[2];",
            "qubit[3] q;\ngate cx a {\n  x a;\n}\ncx q[0];\ny q[1];\nh q[0];\n"},
        // The importer gives every call of a defined name to the definition: a definition
        // named as a library gate that calls have meant before, or that its own body calls,
        // is inlined.
        Row{"library_name_called_before_its_definition",
            "qubit[2] q; y q[0]; gate y a { x a; } y q[1];", "qubit[2] q;\ny q[0];\nx q[1];\n"},
        Row{"library_name_called_in_a_written_definition",
            "qubit[2] q; gate g a { y a; } gate y a { x a; } g q[0]; y q[1];",
            "qubit[2] q;\ngate g a {\n  y a;\n}\ng q[0];\nx q[1];\n"},
        Row{"openqasm2_CX_called_before_a_definition_of_cx",
            "OPENQASM 2.0; qreg q[2]; CX q[0], q[1]; gate cx a, b { x b; } cx q[0], q[1];",
            "qubit[2] q;\ncx q[0], q[1];\nx q[1];\n"},
        Row{"dropped",
            "qubit[2] q; barrier q; #pragma anything\n@ann x\ndelay[10ns] q; nop q; h q[0];"
            " duration d = 5us; const stretch s; box[2 * d] { delay[s] q[1]; x q[1]; }"
            " delay[100 ns] q; duration e = 1.5\t\xC2\xB5s;",
            "qubit[2] q;\nh q[0];\nx q[1];\n"}),
    row_name<Row>);

INSTANTIATE_TEST_SUITE_P(
    Classical, Lowers,
    testing::Values(Row{"constants_and_typing",
                        "const int n = 2; qubit[n + 1] q; float a = 1.0; a *= 2; rx(a + 7 % 4) "
                        "q[n]; rx(1 / 2) q[0];"
                        " rx(float(5) / 2) q[0]; rx(2 ** 3) q[0]; ry(0x1_0 + 0b11 + 0o7) q[0];",
                        "qubit[3] q;\nrx(5.0) q[2];\nrx(0.0) q[0];\nrx(2.5) q[0];\nrx(8.0) "
                        "q[0];\nry(26.0) q[0];\n"},
                    Row{"builtin_constants_and_functions",
                        "qubit q; rz(tau - 2 * π) q; rz(sqrt(4) + floor(1.5) + (euler - ℇ)) q;",
                        "qubit q;\nrz(0.0) q;\nrz(3.0) q;\n"},
                    Row{"control_flow_known_at_compile_time",
                        "qubit q; int x = 0; while (x < 3) { x += 1; if (x == 2) continue; h q; } "
                        "if (x != 3) z q; else y q;",
                        "qubit q;\nh q;\nh q;\ny q;\n"},
                    Row{"switch_known_at_compile_time",
                        "qubit q; const int A = 1; int i = 2; switch (i) { case 0 { x q; } case A, "
                        "A + 1, { y q; } default { z q; } } switch (i + 5) { case 0 { x q; } "
                        "default { int i = 0; s q; } } switch (i) { case 0 { x q; } } rx(i) q;",
                        "qubit q;\ny q;\ns q;\nrx(2.0) q;\n"},
                    Row{"switch_in_a_loop_passes_break_and_continue_to_it",
                        "qubit[3] q; for int i in [0:3] { switch (i) { case 0 { switch (i + 1) { "
                        "case 1 { h q[i]; } } } case 1 { continue; } case 2 { break; } } x q[i]; }",
                        "qubit[3] q;\nh q[0];\nx q[0];\n"},
                    // Bit k of a value's two's complement, bit 0 the least significant.
                    Row{"bits_of_known_integers",
                        "qubit[4] q; uint[4] a = 5; for int i in [0:3] { if (bool(a[i])) x q[i]; }"
                        " const int[8] m = -2; if (bool(m[0])) y q[0]; if (bool(m[-1])) z q[1];"
                        " if (m[7] == 1 && !bool(m[-8])) h q[2];",
                        "qubit[4] q;\nx q[0];\nx q[2];\nz q[1];\nh q[2];\n"},
                    Row{"slices_and_sets_of_bits",
                        "qubit q; int[32] v = 15; rx(uint(v[0:2:31])) q; rx(uint(v[{4, 0, 3}])) "
                        "q; rx(uint(v[-16:-1])) q; int[8] n = -3; rx(uint(n[1:7])) q;"
                        " rx(uint(n[:-1:])) q; rx(uint(n[7:-1:0][0])) q; rx(uint(n[::6])) q;",
                        "qubit q;\nrx(3.0) q;\nrx(6.0) q;\nrx(0.0) q;\nrx(126.0) q;\nrx(191.0) "
                        "q;\nrx(1.0) q;\nrx(125.0) q;\n"},
                    Row{"bits_of_angles_and_bit_values",
                        "qubit q; angle[4] t = pi; rx(uint(t[3])) q; rx(uint(t[0:2])) q;"
                        " const bit[4] b = \"0110\"; rx(uint(b[1:2])) q; rx(uint(b[0])) q;",
                        "qubit q;\nrx(1.0) q;\nrx(0.0) q;\nrx(3.0) q;\nrx(0.0) q;\n"}),
    row_name<Row>);

INSTANTIATE_TEST_SUITE_P(
    Circuits, Lowers,
    testing::Values(
        Row{"loops_over_ranges_and_sets",
            "qubit[4] q; for int i in [0:2:3] { h q[i]; } for uint i in {3, 1} x q[i]; for i in "
            "[3:-1:2] z q[i];",
            "qubit[4] q;\nh q[0];\nh q[2];\nx q[3];\nx q[1];\nz q[3];\nz q[2];\n"},
        Row{"broadcasts_slices_sets_aliases",
            "qubit[4] q; h q; cx q[0:1], q[2:3]; x q[{0, 3}]; z q[-1]; let a = q[0:1] ++ q[3]; y "
            "a; bit[4] c;"
            " c = measure q[3:-1:0];",
            "qubit[4] q;\nh q[0];\nh q[1];\nh q[2];\nh q[3];\ncx q[0], q[2];\ncx q[1], q[3];\nx "
            "q[0];\n"
            "x q[3];\nz q[3];\ny q[0];\ny q[1];\ny q[3];\nbit[4] c;\nc[0] = measure q[3];\n"
            "c[1] = measure q[2];\nc[2] = measure q[1];\nc[3] = measure q[0];\n"},
        // An end left out is the register's or the value's first or last, whichever the
        // step walks towards; `[::2]` leaves out the start and the step, not the stop.
        Row{"slices_with_ends_left_out",
            "qubit[3] q; x q[1:]; z q[:1]; y q[::2]; s q[:]; int[4] v = 13; rx(uint(v[1:])) q[0];"
            " rx(uint(v[:2])) q[0]; rx(uint(v[:-1:])) q[0];",
            "qubit[3] q;\nx q[1];\nx q[2];\nz q[0];\nz q[1];\ny q[0];\ny q[1];\ny q[2];\ns "
            "q[0];\ns q[1];\n"
            "s q[2];\nrx(6.0) q[0];\nrx(5.0) q[0];\nrx(11.0) q[0];\n"},
        Row{"parameterised_definition_inlined_under_modifiers",
            "qubit[3] q; gate g(t) a, b { rz(t) a; cx a, b; } ctrl @ g(0.5) q[2], q[0], q[1];"
            " inv @ g(1) q[0], q[1];",
            "qubit[3] q;\nctrl @ rz(0.5) q[2], q[0];\nctrl @ ctrl @ x q[2], q[0], q[1];\ncx q[0], "
            "q[1];\n"
            "rz(-1.0) q[0];\n"},
        Row{"inverses_and_powers",
            "qubit[4] q; inv @ s q[0]; inv @ U(1, 2, 3) q[0]; pow(2) @ t q[1]; pow(-1) @ rx(1) "
            "q[0];"
            " pow(0.5) @ rz(1) q[0]; inv @ sx q[1]; ctrl @ ccx q[0], q[1], q[2], q[3]; inv @ "
            "pow(3) @ h q[0];",
            "qubit[4] q;\nsdg q[0];\nU(-1.0, -3.0, -2.0) q[0];\nt q[1];\nt q[1];\nrx(-1.0) q[0];\n"
            "rz(0.5) q[0];\nrx(-1.5707963267948966) q[1];\n"
            "ctrl @ ctrl @ ctrl @ x q[0], q[1], q[2], q[3];\nh q[0];\nh q[0];\nh q[0];\n"},
        Row{"library_gates_the_importer_does_not_know",
            "include \"stdgates.inc\"; qubit[2] q; u3(0.1, 0.2, 0.3) q[0]; cphase(0.5) q[0], q[1]; "
            "CX q[1], q[0];",
            "qubit[2] q;\nU(0.1, 0.2, 0.3) q[0];\nctrl @ phase(0.5) q[0], q[1];\ncx "
            "q[1], q[0];\n"},
        Row{"subroutines_inlined",
            "qubit[3] q; def bell(qubit a, qubit b) { h a; cx a, b; } def part(int k) -> float { "
            "return pi / k; }"
            " def layer(qubit[2] r, float t) { for int i in [0:1] { if (i == 1) return; rz(t) "
            "r[i]; } }"
            " def fact(int n) -> int { if (n <= 1) return 1; return n * fact(n - 1); }"
            " bell(q[0], q[1]); rx(part(4)) q[2]; layer(q[1:2], part(2)); rx(fact(5)) q[0];",
            "qubit[3] q;\nh q[0];\ncx q[0], q[1];\nrx(0.7853981633974483) q[2];\n"
            "rz(1.5707963267948966) q[1];\nrx(120.0) q[0];\n"},
        Row{"subroutine_results_given_to_bits",
            "qubit[2] q; bit[2] c; def m(qubit a) -> bit { h a; return measure a; }"
            " def both(qubit[2] a) -> bit[2] { return measure a; }"
            " def flip(qubit a) -> bit { x a; return 1; }"
            " c[0] = m(q[0]); bit d = m(q[1]); m(q[1]); c = both(q); c[1] = flip(q[0]); c[0] = "
            "c[1];",
            "qubit[2] q;\nbit[2] c;\nh q[0];\nc[0] = measure q[0];\nbit d;\nh q[1];\nd = measure "
            "q[1];\nh q[1];\nmeasure q[1];\nc[0] = measure q[0];\nc[1] = measure q[1];\nx q[0];\n"},
        Row{"type_widths_given_by_constants",
            "const int N = 4; qubit q; uint[N] u = 15; u += 1; rz(u) q; rz(uint[N - 1](9)) q;"
            " def f(int[N] a) -> int[N + 1] { return a * 3; } rz(f(7)) q;"
            " for uint[N] k in [15:16] { rz(k) q; }",
            "qubit q;\nrz(0.0) q;\nrz(1.0) q;\nrz(-11.0) q;\nrz(15.0) q;\nrz(0.0) q;\n"},
        Row{"bits_declared_in_blocks_declared_once",
            "qubit[2] q; bit b; for int i in [0:1] { bit b; b = measure q[i]; bit[i + 1] c; }"
            " def f(qubit a) { bit b; b = measure a; } f(q[0]); f(q[1]); bit b_2;",
            "qubit[2] q;\nbit b;\nbit b_1;\nb_1 = measure q[0];\nbit[1] c_1;\nb_1 = measure "
            "q[1];\nbit[2] c_2;\nbit b_3;\nb_3 = measure q[0];\nb_3 = measure q[1];\nbit b_2;\n"},
        Row{"end_stops_the_program",
            "qubit q; for int i in [0:3] { if (i == 2) end; rx(i) q; } h q; gate g a { x a; }",
            "qubit q;\nrx(0.0) q;\nrx(1.0) q;\n"},
        Row{"fractional_powers_of_fixed_phases",
            "qubit[2] q; pow(0.5) @ z q[0]; inv @ pow(0.5) @ tdg q[0]; pow(0.25) @ cz q[0], q[1];",
            "qubit[2] q;\ns q[0];\np(0.3926990816987242) q[0];\n"
            "cp(0.7853981633974483) q[0], q[1];\n"},
        Row{"output_bits", "qubit[2] q; output bit[2] c; c = measure q;",
            "qubit[2] q;\nbit[2] c;\nc[0] = measure q[0];\nc[1] = measure q[1];\n"},
        Row{"openqasm_2_expressions", "OPENQASM 2.0;\nqreg q[1];\nU(ln(2), -pi^2, 2^3^2) q[0];\n",
            "qubit[1] q;\nU(0.6931471805599453, -9.869604401089358, 512.0) q[0];\n"},
        Row{"openqasm_2",
            "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[2];\ncreg c[2];\nu2(0, pi) "
            "q[0];\nrzz(0.2) q[0], q[1];\n"
            "barrier q;\nmeasure q -> c;\n",
            "qubit[2] q;\nbit[2] c;\nU(1.5707963267948966, 0.0, 3.141592653589793) q[0];\ncx q[0], "
            "q[1];\n"
            "U(0.0, 0.0, 0.2) q[1];\ncx q[0], q[1];\nc[0] = measure q[0];\nc[1] = measure "
            "q[1];\n"}),
    row_name<Row>);

TEST(LowerInputs, ComeFromTheOptions) {
  const std::string program = "input float theta; input int n; qubit[2] q; rx(theta * n) q[n - 1];";
  EXPECT_EQ(qasm3::lower_qasm3(program, {.inputs = {{"theta", 0.25}, {"n", 2}}}),
            std::string(HEADER) + "qubit[2] q;\nrx(0.5) q[1];\n");
  // A float input given no value stays free, an integer one is refused (test_lower_free.cpp).
  EXPECT_EQ(qasm3::lower_qasm3(program, {.inputs = {{"n", 2}}}),
            std::string(HEADER) + "input float[64] theta;\nqubit[2] q;\nrx(theta*2) q[1];\n");
  const std::string bits = "input bit[4] b; input bool f; qubit q; if (f && b == \"0101\") x q;";
  EXPECT_EQ(qasm3::lower_qasm3(bits, {.inputs = {{"b", 5}, {"f", 1}}}),
            std::string(HEADER) + "qubit q;\nx q;\n");
  const std::string bit_of_input =
      "input uint[4] v; qubit q; if (bool(v[3])) s q; if (v[1] == 1) z q;";
  EXPECT_EQ(qasm3::lower_qasm3(bit_of_input, {.inputs = {{"v", 10}}}),
            std::string(HEADER) + "qubit q;\ns q;\nz q;\n");
  EXPECT_THROW_MSG(qasm3::lower_qasm3(bits, {.inputs = {{"b", 16}, {"f", 1}}}), ValueError,
                   "Input 'b' is 16, not a whole number from 0 to 15 as bit[4] needs");
  EXPECT_THROW_MSG(qasm3::lower_qasm3(bits, {.inputs = {{"b", 5}, {"f", 2}}}), ValueError,
                   "Input 'f' is 2, not a whole number from 0 to 1 as bool needs");
}

// An input's value given as text: a constant expression that lowering reads with its own
// parser and evaluator where the input is declared (line 2), typed by the declaration, and
// seeing nothing of the program.
struct InputRow {
  std::string name;
  std::string type;
  std::string value;
  std::string outcome;  // the gate the value makes, or "<line>:<column>: <Kind>: <message>"
};

class InputExpression : public testing::TestWithParam<InputRow> {};

TEST_P(InputExpression, IsReadAsTheDeclarationTypesIt) {
  const InputRow& row = GetParam();
  const std::string program = "qubit q; const float c = 1; def f() -> int { return 1; }\ninput " +
                              row.type + " v;\nrx(v) q;";
  std::string lowered;
  const std::string outcome = outcome_of(
      [&] {
        lowered = qasm3::lower_qasm3(program,
                                     {.inputs = {{"v", qasm3::InputValue::expression(row.value)}}});
      },
      /*placed=*/true);
  if (outcome != "ok") {
    EXPECT_EQ(outcome, row.outcome);
    return;
  }
  EXPECT_EQ(lowered, std::string(HEADER) + "qubit q;\n" + row.outcome + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Lowering, InputExpression,
    testing::Values(
        InputRow{"float_of_pi", "float", "pi/2", "rx(1.5707963267948966) q;"},
        InputRow{"float_negative_exponent", "float", "-1.5e-3", "rx(-0.0015) q;"},
        InputRow{"float_of_an_integer", "float", "2*3", "rx(6.0) q;"},
        InputRow{"float_of_a_function", "float", "sqrt(2) * cos(0)", "rx(1.4142135623730951) q;"},
        InputRow{"float32_rounded", "float[32]", "0.1", "rx(0.10000000149011612) q;"},
        InputRow{"angle_wraps", "angle", "3 * pi", "rx(3.141592653589793) q;"},
        InputRow{"int_product", "int", "2*3", "rx(6.0) q;"},
        InputRow{"int_division_truncates", "int", "-7/2", "rx(-3.0) q;"},
        InputRow{"int_of_a_whole_float", "int", "6.0", "rx(6.0) q;"},
        InputRow{"int_literal_forms", "int", "0x1F + 0b1 + 0o7 + 1_000", "rx(1039.0) q;"},
        InputRow{"int_at_its_width", "int[8]", "-128", "rx(-128.0) q;"},
        InputRow{"int_largest", "int", "9223372036854775807", "rx(9.223372036854776e+18) q;"},
        InputRow{"bool_true", "bool", "true", "rx(1.0) q;"},
        InputRow{"bool_false", "bool", "false", "rx(0.0) q;"},
        InputRow{"bool_of_a_comparison", "bool", "1 < 2 && !false", "rx(1.0) q;"},
        InputRow{"bool_of_a_number", "bool", "0", "rx(0.0) q;"},
        InputRow{"bits_of_a_bit_string", "bit[4]", "\"0101\"", "rx(5.0) q;"},
        InputRow{"bits_of_a_number", "bit[4]", "15", "rx(15.0) q;"},
        InputRow{"spaces_and_comments", "float", "  /* half */ 0.5 // turn\n", "rx(0.5) q;"},
        // Errors name the input and are placed at its declaration.
        InputRow{"int_beyond_its_width", "int[8]", "128",
                 "2:1: ValueError: Input 'v' is 128, not a whole number from -128 to 127 as "
                 "int[8] needs"},
        InputRow{"uint_negative", "uint[4]", "-1",
                 "2:1: ValueError: Input 'v' is -1, not a whole number from 0 to 15 as uint[4] "
                 "needs"},
        InputRow{"int_of_a_fraction", "int", "7/2.0",
                 "2:1: ValueError: Input 'v' is 3.5, not a whole number from "
                 "-9223372036854775808 to 9223372036854775807 as int needs"},
        InputRow{"bool_of_two", "bool", "1 + 1",
                 "2:1: ValueError: Input 'v' is 2, not a whole number from 0 to 1 as bool needs"},
        InputRow{"misspelt_constant", "float", "pj/2",
                 "2:1: ValueError: Input 'v': Undeclared name 'pj'"},
        InputRow{"program_names_unseen", "float", "c",
                 "2:1: ValueError: Input 'v': Undeclared name 'c'"},
        InputRow{"program_qubits_unseen", "float", "q",
                 "2:1: ValueError: Input 'v': Undeclared name 'q'"},
        InputRow{"program_subroutines_unseen", "int", "f()",
                 "2:1: ValueError: Input 'v': 'f' is not a subroutine"},
        InputRow{"division_by_zero", "int", "1/0",
                 "2:1: ZeroDivisionError: Input 'v': integer division by zero"},
        InputRow{"unfinished", "float", "pi/",
                 "2:1: ValueError: Input 'v': Expected an expression, found end of input"},
        InputRow{"empty", "float", "",
                 "2:1: ValueError: Input 'v': Expected an expression, found end of input"},
        InputRow{"two_values", "float", "1 2",
                 "2:1: ValueError: Input 'v': Expected the end of the value, found '2'"},
        InputRow{"a_statement_after_it", "float", "1; x q",
                 "2:1: ValueError: Input 'v': Expected the end of the value, found ';'"},
        InputRow{"a_measurement", "bool", "measure q",
                 "2:1: ValueError: Input 'v': Expected the end of the value, found 'q'"},
        InputRow{
            "not_utf8_safe_text", "float", "\"\xce\"",
            "2:1: ValueError: Input 'v': Input is not valid UTF-8: truncated sequence at byte 1"},
        InputRow{"nesting_beyond_the_bound", "float", repeat("(", 5000) + "1" + repeat(")", 5000),
                 "2:1: RecursionError: Input 'v': maximum recursion depth exceeded"}),
    row_name<InputRow>);

// A value given for an input the program does not declare is refused, naming the first
// such name; an input declared and not given is reported first, at its declaration.
TEST(LowerInputs, ThatTheProgramDoesNotDeclareAreRefused) {
  const auto lowered = [](const std::string& program, qasm3::LowerOptions options) {
    return outcome_of([&] { qasm3::lower_qasm3(program, options); }, /*placed=*/true);
  };
  const std::string theta = "input float theta; qubit q; rx(theta) q;";
  EXPECT_EQ(lowered("qubit q;", {.inputs = {{"theta", 0.5}}}),
            "ValueError: No input 'theta' is declared in the program");
  EXPECT_EQ(lowered(theta, {.inputs = {{"theta", 0.5}, {"phi", 1}, {"alpha", 2}}}),
            "ValueError: No input 'alpha' is declared in the program");
  EXPECT_EQ(lowered("input int n; qubit q; rx(n) q;", {.inputs = {{"thetaa", 0.5}}}),
            "1:1: ValueError: No value given for input 'n'");
  // Not evaluated: the name is the mistake.
  EXPECT_EQ(lowered("qubit q;", {.inputs = {{"x", qasm3::InputValue::expression("1/0")}}}),
            "ValueError: No input 'x' is declared in the program");
  // Declared after `end;`: still the program's input, though it never runs.
  EXPECT_EQ(
      lowered("qubit q; x q; end; input float theta; rx(theta) q;", {.inputs = {{"theta", 0.5}}}),
      "ok");
  EXPECT_EQ(lowered(theta, {.inputs = {{"theta", qasm3::InputValue::expression("theta")}}}),
            "1:1: ValueError: Input 'theta': Undeclared name 'theta'");
}

// Refusals with their places, on both public paths; conditions on measured bits are in
// test_lower_dynamic.cpp, the parser's own errors in test_lower_parser.cpp.
class Refuses : public testing::TestWithParam<Row> {};

TEST_P(Refuses, WithKindMessageAndPlace) {
  expect_both_paths(GetParam().input, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, Refuses,
    testing::Values(
        Row{"include_without_a_place_to_look", "include \"mine.inc\";",
            "1:1: ValueError: Include file 'mine.inc' not found"},
        Row{"version", "OPENQASM 4.0;",
            "1:1: NotImplementedError: OpenQASM version 4.0 is not supported"},
        Row{"undeclared_register", "qubit q;\nh r[0];", "2:3: ValueError: Undeclared name 'r'"},
        Row{"index_out_of_range", "qubit[2] q;\n  cx q[0], q[2];",
            "2:14: ValueError: Index 2 out of range for qubit register q[2]"},
        Row{"operand_count", "qubit[2] q;\ncx q[0];",
            "2:1: ValueError: 'cx' takes 2 qubit operands, 1 given"},
        Row{"parameter_count", "qubit q;\nrx q;",
            "2:1: ValueError: 'rx' takes 1 parameters, 0 given"},
        Row{"unknown_gate", "qubit q;\nfoo q;", "2:1: ValueError: Unknown gate 'foo'"},
        Row{"unterminated_comment", "qubit q; /* h q;",
            "1:10: ValueError: Unterminated block comment"},
        Row{"pulse_level", "cal { x }", "1:1: NotImplementedError: 'cal' is not supported"},
        Row{"pulse_instruction", "qubit q;\nplay(f, w);",
            "2:1: NotImplementedError: 'play' is not supported"},
        Row{"opaque", "qubit q;\nopaque g a;",
            "2:1: NotImplementedError: 'opaque' is not supported"},
        Row{"redeclared", "qubit q;\nbit q;", "2:1: ValueError: 'q' is already declared"},
        // Calls before a second definition would otherwise take its body once imported.
        Row{"gate_redefined_after_a_call", "qubit q;\ngate g a { x a; }\ng q;\ngate g a { y a; }",
            "4:1: ValueError: 'g' is already declared"},
        Row{"inlined_gate_redefined",
            "qubit q;\ngate g(t) a { rx(t) a; }\ngate g(t) a { ry(t) a; }",
            "3:1: ValueError: 'g' is already declared"},
        Row{"gate_named_like_a_register", "qubit g;\ngate g a { x a; }",
            "2:1: ValueError: 'g' is already declared"},
        Row{"huge_broadcast", "qubit[4611686018427387904] q;\nh q;",
            "2:3: ValueError: The lowered program would exceed 4000000 statements"},
        Row{"cycle", "qubit q;\ngate g a { f a; }\ngate f a { g a; }\ng q;",
            "4:1: ValueError: Circular gate definition detected: 'g' calls itself directly "
            "or indirectly."},
        Row{"non_ascii_register", "qubit[1] α;",
            "1:1: NotImplementedError: Register name 'α' is not supported (names start with "
            "an ASCII letter or '_')"},
        Row{"subroutine_arguments", "qubit[2] q; def f(qubit a) { h a; }\nf(q);",
            "2:3: ValueError: Argument 'a' takes 1 qubits"},
        Row{"measurement_returned_into_a_number",
            "qubit q; def m(qubit a) -> bit { return measure a; }\nint k = m(q);",
            "1:34: NotImplementedError: A returned measurement must be assigned to bits "
            "where it is called"},
        Row{"no_result_given_to_bits", "qubit q; bit c; def g(qubit a) { x a; }\nc = g(q);",
            "2:5: ValueError: 'g' returns no value"},
        Row{"qubit_declared_in_a_gate", "qubit q; gate g a {\n  qubit r; x a; }",
            "2:3: ValueError: Qubits can only be declared in the global scope"},
        Row{"gate_defined_in_a_loop", "for int i in [0:1] {\n  gate g a { x a; } }",
            "2:3: ValueError: Gates can only be defined in the global scope"},
        Row{"bits_declared_in_a_gate", "gate g a {\n  bit b; x a; }",
            "2:3: ValueError: Bits cannot be declared in a gate"},
        // A body is checked where it is defined, every branch of it, whether the
        // definition stays one or is inlined at its calls, and whether or not it is called.
        Row{"bits_in_an_uncalled_definition_named_like_a_standard_gate", "gate s {bit q;}",
            "1:9: ValueError: Bits cannot be declared in a gate"},
        Row{"bits_in_an_uncalled_parameterised_definition",
            "qubit q;\ngate g(t) a {\n  if (t > 0) { x a; } else { for int i in [0:1] { bit "
            "b; } } }",
            "3:51: ValueError: Bits cannot be declared in a gate"},
        Row{"bits_in_a_branch_never_taken", "qubit q; gate g a {\n  if (false) { bit b; } }\ng q;",
            "2:16: ValueError: Bits cannot be declared in a gate"},
        Row{"bits_in_a_definition_with_a_standard_name_and_another_arity",
            "qubit[3] q; gate cx a, b, c {\n  while (false) { bit b; } }",
            "2:19: ValueError: Bits cannot be declared in a gate"},
        Row{"qubit_declared_in_an_inlined_definition", "gate g(t) a {\n  { qubit r; } }",
            "2:5: ValueError: Qubits can only be declared in the global scope"},
        Row{"gate_defined_in_an_inlined_definition",
            "gate g(t) a {\n  for int i in [0:0] { gate f b { x b; } } }",
            "2:24: ValueError: Gates can only be defined in the global scope"},
        Row{"subroutine_defined_in_a_definition", "gate i a {\n  def f() { } }",
            "2:3: ValueError: Subroutines can only be defined in the global scope"},
        Row{"file_included_in_a_definition", "gate g(t) a {\n  include \"mine.inc\"; }",
            "2:3: ValueError: Files can only be included in the global scope"},
        Row{"first_misplaced_statement_of_a_body_is_reported",
            "gate g(t) a { x a; }\ngate h(t) a { x a; qubit r; bit b; }",
            "2:20: ValueError: Qubits can only be declared in the global scope"},
        // A subroutine that a gate's body calls declares its bits in the gate.
        Row{"bits_declared_by_a_subroutine_a_gate_calls",
            "def f() { bit b; }\ngate g(t) a { f(); x a; }\nqubit q; g(1) q;",
            "1:11: ValueError: Bits cannot be declared in a gate"},
        Row{"end_in_a_gate", "qubit q;\ngate g a { end; }",
            "2:1: ValueError: 'break', 'continue', 'return' or 'end' outside its place"},
        Row{"duration_as_a_parameter", "qubit q; duration d = 10ns;\nrz(d) q;",
            "2:4: NotImplementedError: Durations are not supported here"},
        // Blanks may stand between a number and its unit; a gate named like one follows a
        // number only across a bracket.
        Row{"duration_with_blanks_as_a_parameter", "qubit q; s q;\nrz(10 \t ns + 1) q;",
            "2:4: NotImplementedError: Durations are not supported here"},
        Row{"imaginary_with_blanks", "qubit q;\nrz(2 im) q;",
            "2:4: NotImplementedError: Complex numbers are not supported"},
        Row{"a_word_after_a_number_is_no_unit", "qubit q;\nrz(2 sx) q;",
            "2:6: ValueError: Expected ')', found 'sx'"},
        Row{"type_width_too_large", "const int W = 65;\nint[W] x;",
            "2:5: NotImplementedError: Type width 65 is not supported (1 to 64)"},
        // U is built in; the libraries' bodies call it.
        Row{"U_defined_again", "qubit[2] q;\nu2(0, 1) q[0]; gate U a { x a; }",
            "2:16: ValueError: 'U' is already declared"},
        Row{"a_definition_named_as_the_library_gate_it_calls",
            "qubit q; gate y a { h a;\n  y a; }\ny q;",
            "2:3: RecursionError: maximum recursion depth exceeded"},
        Row{"endless_recursion", "def f(int n) -> int { return f(n); }\nqubit q; rx(f(1)) q;",
            "1:30: RecursionError: maximum recursion depth exceeded"},
        Row{"only_needed_sides_evaluated",
            "qubit q;\nif (false && 1/0 == 1 || true || 1/0 == 1) x q;\nrx(1/0) q;",
            "3:5: ZeroDivisionError: integer division by zero"},
        Row{"switch_label_not_constant", "qubit q; int j = 1;\nswitch (1) { case j { x q; } }",
            "2:19: ValueError: A 'case' label must be constant"},
        Row{"switch_label_twice", "qubit q;\nswitch (1) { case 1, 2 { } case 0b10 { } }",
            "2:33: ValueError: Duplicate 'case' label 2"},
        Row{"switch_value_not_integer", "qubit q;\nswitch (1.5) { case 1 { } }",
            "2:9: ValueError: A 'switch' value must be an integer, not float"},
        Row{"switch_without_case", "qubit q;\nswitch (1) { default { } }",
            "2:1: ValueError: A 'switch' needs at least one 'case'"},
        Row{"qubit_twice", "const int n = 0; qubit[2] q;\ncx q[n], q[0];",
            "2:1: ValueError: Qubit q[0] is used twice in one call of 'cx'"},
        Row{"qubit_twice_by_broadcast", "qubit[2] q;\nfor int i in [0:0] cx q, q[1];",
            "2:20: ValueError: Qubit q[1] is used twice in one call of 'cx'"},
        Row{"qubit_twice_by_alias", "let a = $1;\nfor int i in [0:0] ctrl @ x a, $1;",
            "2:20: ValueError: Qubit $1 is used twice in one call of 'x'"},
        Row{"qubit_twice_in_a_definition",
            "qubit[2] q; gate g(t) a, b { cx a, b; }\ng(0) q[1], q[1];",
            "2:1: ValueError: Qubit q[1] is used twice in one call of 'g'"},
        // Bits of classical values: indices within the width, counted from either end.
        Row{"bit_index_past_the_width", "uint[4] a = 1;\nbool b = bool(a[4]);",
            "2:17: ValueError: Index 4 out of range for a uint[4] value of size 4"},
        Row{"bit_index_past_the_start", "uint[4] a = 1;\nbool b = bool(a[-5]);",
            "2:17: ValueError: Index -5 out of range for a uint[4] value of size 4"},
        Row{"bit_index_huge", "int[64] a = 1;\nbool b = a[9223372036854775807];",
            "2:12: ValueError: Index 9223372036854775807 out of range for a int[64] value "
            "of size 64"},
        Row{"bit_index_most_negative", "int[64] a = 1;\nbool b = a[-9223372036854775807 - 1];",
            "2:33: ValueError: Index -9223372036854775808 out of range for a int[64] value "
            "of size 64"},
        Row{"bit_index_not_an_integer", "uint[4] a = 1;\nbool b = bool(a[1.0]);",
            "2:17: ValueError: Expected an integer; got float"},
        Row{"bit_range_end_past_the_width", "angle[8] a = 1;\nbool b = bool(a[2:8]);",
            "2:19: ValueError: Index 8 out of range for a angle[8] value of size 8"},
        Row{"bits_of_a_value_without_width", "int n = 5;\nbool b = bool(n[0]);",
            "2:15: ValueError: A value of type int has no bits to index"},
        Row{"bits_of_a_float", "float[64] f = 5;\nbool b = bool(f[0]);",
            "2:15: ValueError: A value of type float[64] has no bits to index"},
        Row{"bits_of_a_bool", "bool f = true;\nbool b = bool(f[0]);",
            "2:15: ValueError: A value of type bool has no bits to index"},
        Row{"empty_bit_range", "uint[4] a = 1;\nbool b = bool(a[3:0]);",
            "2:17: ValueError: An index set must not be empty"},
        Row{"too_many_bits_in_a_set",
            "uint[2] a = 1;\nbool b = bool(a[{0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, "
            "1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, "
            "1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0}]);",
            "2:17: ValueError: An index set of 65 bits is wider than a value (64 bits at most)"},
        Row{"bits_of_a_value_without_one", "uint[4] a;\nbool b = bool(a[0]);",
            "2:15: ValueError: 'a' has no value here"},
        Row{"bits_of_a_qubit", "qubit[2] q;\nbool b = bool(q[0]);",
            "2:15: ValueError: 'q' is not a classical value"},
        Row{"bits_of_measured_bits", "qubit q; bit[2] c;\nc[0] = measure q; bool b = bool(c[0]);",
            "2:33: NotImplementedError: 'c' is known only when the circuit runs"}),
    row_name<Row>);

TEST(LowerQubitsTwice, AreFoundAmongManyOperands) {
  std::string operands = "q[0]";
  std::string controls;
  for (int k = 1; k < 20; ++k) {
    operands += ", q[" + std::to_string(k) + "]";
    controls += "ctrl @ ";
  }
  const std::string loop = "qubit[20] q; for int i in [0:0] ";
  EXPECT_EQ(qasm3::lower_qasm3(loop + "ctrl(19) @ x " + operands + ";"),
            std::string(HEADER) + "qubit[20] q;\n" + controls + "x " + operands + ";\n");
  EXPECT_THROW_MSG(qasm3::lower_qasm3(loop + "ctrl(20) @ x " + operands + ", q[7];"), ValueError,
                   "Qubit q[7] is used twice in one call of 'x'");
}

// Lowers with a cap of 1000 statements instead of the usual one.
// The commonest statements are lowered from their tokens, without a syntax tree; inside a
// block the same statement takes the general path. Both lower it alike, to text and to
// records, errors (with their places) included.
TEST(QuickStatements, LowerAsTheGeneralPathDoes) {
  const std::string openqasm3 =
      "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[4] q;\nbit[2] c;\nqubit s;\n"
      "gate g a, b { cx a, b; }\ngate pu a { U(0.1, 0.2, 0.3) a; }\ngate cx1 a { x a; }\n"
      "float[64] f = 1;\n";
  const std::string openqasm2 = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[4];\ncreg c[2];\n";
  const std::vector<std::string> statements = {
      "h q[0];",
      "h q[3];",
      "h q[4];",
      "h q[0], q[1];",
      "h() q[0];",
      "h q[0] , q[1] ;",
      "cx q[1], q[2];",
      "cx q[0], q[0];",
      "CX q[2], q[1];",
      "rz(0.5) q[1];",
      "rz(-0.5) q[1];",
      "rz(-0) q[1];",
      "rz(-0.0) q[1];",
      "rz(3) q[1];",
      "rz(1e400) q[1];",
      "rz(1e-400) q[1];",
      "rz(0x10) q[1];",
      "rz(1_000) q[1];",
      "rz(1_0.5) q[1];",
      "rz(0.5, 0.5) q[1];",
      "rz q[1];",
      "rz(0.5,) q[1];",
      "rz(99999999999999999999) q[1];",
      "crz(0.3) q[0], q[1];",
      "p(0.2) q[3];",
      "id q[0];",
      "sx q[1];",
      "U(0.1, 0.2, 0.3) q[2];",
      "U(0.1, 0.2) q[2];",
      "ctrl @ U(0.1, 0.2, 0.3) q[0], q[2];",
      "u3(0.1, 0.2, 0.3) q[2];",
      "u3(1e308, 1e308, 1e308) q[2];",
      "u3(1e300, -1e300, 1e300) q[2];",
      "u2(0.1, 0.2) q[0];",
      "u1(0.3) q[0];",
      "u(0.1, 0.2, 0.3) q[0];",
      "u0(0.3) q[0];",
      "u1(0.3) q[0], q[1];",
      "ctrl @ u1(0.3) q[0], q[1];",
      "ctrl @ x q[0], q[1];",
      "negctrl @ ctrl @ rz(0.2) q[0], q[1], q[2];",
      "ctrl @ cx q[0], q[1], q[2];",
      "negctrl @ ccx q[0], q[1], q[2], q[3];",
      "ctrl @ swap q[0], q[1], q[2];",
      "ctrl @ cswap q[0], q[1], q[2], q[3];",
      "ctrl @ h q[0];",
      "ctrl @ ctrl @ ctrl @ ctrl @ ctrl @ x q[0], q[1], q[2], q[3], s;",
      "ctrl(2) @ x q[0], q[1], q[2];",
      "ctrl @ inv @ s q[0], q[1];",
      "g q[0], q[1];",
      "ctrl @ g q[0], q[1], q[2];",
      "pu q[0];",
      "ctrl @ pu q[0], q[1];",
      "cx1 q[0];",
      "ctrl @ cx1 q[0], q[1];",
      "later q[0];",
      "measure q[1] -> c[0];",
      "c[0] = 1; measure q[1] -> c[0]; if (c[0]) x q[2];",
      "measure q[1] -> c[2];",
      "measure q[1] -> q[0];",
      "measure s[0] -> c[0];",
      "measure c[0] -> c[1];",
      "x s[0];",
      "x f[0];",
      "x true[0];",
      "cu(0.1, 0.2, 0.3, 0.4) q[0], q[1];",
      "gphase(0.3);",
      "ctrl @ gphase(0.3) q[0];",
      "unknown q[0];",
      "rx(2.5) q[1], q[2];",
      "x q[0x1];",
      "x q[1_0];",
      "h q[00];",
      "reset q[0];",
      "barrier q[0], q[1];",
      "i q[0];"};
  const auto lowered = [](const std::string& program) {
    std::string text;
    std::string records;
    const std::string text_outcome = outcome_of([&] { text = qasm3::lower_qasm3(program); }, true);
    const std::string records_outcome = outcome_of(
        [&] { records = qasm3::gate_sequence_to_qasm3(qasm3::lower_to_gate_sequence(program)); },
        true);
    return text_outcome + "\n" + text + "\n" + records_outcome + "\n" + records;
  };
  for (const std::string& header : {openqasm3, openqasm2}) {
    for (const std::string& statement : statements) {
      SCOPED_TRACE(statement);
      // On a line of their own, so that an error has the same place in both.
      EXPECT_EQ(lowered(header + "\n" + statement + "\ngate later a { x a; }\n"),
                lowered(header + "{\n" + statement + "\n}\ngate later a { x a; }\n"));
    }
  }
}

std::string lower_capped(const std::string& program) {
  lower::Parser parser(program);
  lower::Writer writer;
  lower::expand(parser, {}, writer, 1000);
  return writer.take();
}

TEST(LowerLimits, UnrolledOutputIsCapped) {
  // Definitions calling definitions twice each would double the output at every level.
  std::string doubling = "qubit q; gate d0(t) a { x a; }";
  for (int k = 1; k < 40; ++k) {
    doubling += " gate d" + std::to_string(k) + "(t) a { d" + std::to_string(k - 1) + "(t) a; d" +
                std::to_string(k - 1) + "(t) a; }";
  }
  for (const std::string& program :
       {std::string("qubit q; for int i in [0:2000] x q;"),
        std::string("qubit q; int i = 0; while (true) { i += 1; }"),
        std::string("qubit q; pow(1e9) @ x q;"), doubling + " d39(0) q;"}) {
    EXPECT_THROW_MSG(lower_capped(program), ValueError,
                     "The lowered program would exceed 1000 statements");
  }
}

TEST(LowerLimits, DeepNestingIsARecursionError) {
  const std::string nested =
      "qubit q; rz(" + std::string(5000, '(') + "1" + std::string(5000, ')') + ") q;";
  EXPECT_THROW_MSG(qasm3::lower_qasm3(nested), RecursionError, "maximum recursion depth exceeded");
  std::string blocks = "qubit q; ";
  for (int k = 0; k < 5000; ++k)
    blocks += "{ ";
  EXPECT_THROW_MSG(qasm3::lower_qasm3(blocks), RecursionError, "maximum recursion depth exceeded");
}

// A long chain of one operator nests as deep as it is long, without a parenthesis; a
// short one still reads, on both paths.
TEST(LowerLimits, LongOperatorChainsAreBoundedByTheStack) {
  std::string terms;
  for (int k = 0; k < 200000; ++k)
    terms += " + 1";
  for (const std::string_view head : {"float t = 1; ", "input float t; "}) {
    const std::string program = "qubit q; " + std::string(head) + "rz(t" + terms + ") q;";
    EXPECT_THROW_MSG(qasm3::lower_qasm3(program, {.inputs = {{"t", 1.0}}}), RecursionError,
                     "maximum recursion depth exceeded");
    EXPECT_THROW_MSG(qasm3::lower_to_gate_sequence(program, {.inputs = {{"t", 1.0}}}),
                     RecursionError, "maximum recursion depth exceeded");
  }
  const std::string short_chain = "qubit q; float t = 1; rz(t" + terms.substr(0, 4 * 500) + ") q;";
  EXPECT_NE(qasm3::lower_qasm3(short_chain).find("rz(501.0) q;"), std::string::npos);
}

// ------------------------------------------------------------------ the program folder

// Programs the importer accepts although they are not OpenQASM 3: lowering reads them
// as the language defines them, so it refuses them or reads them differently.
const std::set<std::string> OUTSIDE_THE_LANGUAGE = {
    "compact_controls.qasm",         // cx with four operands
    "definition_redefined.qasm",     // a gate defined twice
    "expressions.qasm",              // True, a name of the importer's expression language
    "initialised_bit_skipped.qasm",  // the importer skips a measurement that initialises bits
    "measure_undeclared_bits.qasm",  // bits of undeclared registers
    "no_declarations.qasm",          // an undeclared register q
    "repeated_register_names.qasm",  // a register declared twice
    "unicode_text.qasm",             // digits of other scripts as indices
    "unknown_operations.qasm",       // a gate that nobody defines
    "zero_register.qasm",            // an index beyond a register's size
};

// Valid programs that the importer reads otherwise than the language, where lowering
// follows the language (and the unitary tests prove it).
const std::set<std::string> READ_OTHERWISE = {
    "ctrl_modifiers_on_controlled_names.qasm",  // ctrl @ cx: the importer loses a control
    "modifiers.qasm",           // ctrl @ U: the importer leaves out U's phase e^{iθ/2}
    "cu_four_parameters.qasm",  // the importer leaves out cu's fourth angle
};

bool same_import(const GateSequence& a, const GateSequence& b) {
  return a.num_qubits == b.num_qubits && a.data() == b.data() &&
         a.qasm_quantum_registers == b.qasm_quantum_registers &&
         a.qasm_classical_registers == b.qasm_classical_registers &&
         a.qasm_measure_map == b.qasm_measure_map;
}

class FolderProgram : public testing::TestWithParam<std::string> {};

TEST_P(FolderProgram, ImportsTheSameWhenLowered) {
  const std::string text = program_folder::read(GetParam());
  std::optional<GateSequence> direct;
  try {
    direct = qasm3::qasm3_to_gate_sequence(text);
  } catch (const qasm3::Error&) {
    return;  // the properties hold for programs the importer accepts
  }
  if (OUTSIDE_THE_LANGUAGE.contains(GetParam()) || READ_OTHERWISE.contains(GetParam())) {
    EXPECT_NE(
        outcome_of([&] {
          if (!same_import(*direct, qasm3::qasm3_to_gate_sequence(qasm3::lower_qasm3(text)))) {
            throw qasm3::ValueError("differs");
          }
        }),
        "ok")
        << "listed as outside the language but lowers to the same circuit";
    return;
  }
  const std::string lowered = qasm3::lower_qasm3(text);
  EXPECT_TRUE(same_import(*direct, qasm3::qasm3_to_gate_sequence(lowered))) << lowered;
}

TEST_P(FolderProgram, LoweringIsIdempotentAndImports) {
  const std::string text = program_folder::read(GetParam());
  std::string lowered;
  if (outcome_of([&] { lowered = qasm3::lower_qasm3(text); }) != "ok") return;
  EXPECT_EQ(outcome_of([&] { qasm3::qasm3_to_gate_sequence(lowered); }), "ok") << lowered;
  EXPECT_EQ(qasm3::lower_qasm3(lowered), lowered);
}

INSTANTIATE_TEST_SUITE_P(Folder, FolderProgram, testing::ValuesIn(program_folder::names()),
                         program_folder::test_name);

}  // namespace
