// Inputs given no value: float and angle inputs stay free, the gate parameters that depend
// on them kept as expressions in the normal form (free_parameters.hpp), and binding values
// to them afterwards gives what lowering with the values gives.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/gatesequence/circuit_unitary.hpp"
#include "lower_test_support.hpp"
#include "qasm/lower/free_parameters.hpp"
#include "same_records.hpp"

namespace {

using namespace lower_test;
using corvane::GateSequence;
using corvane::Parameter;
using corvane::ParamScalar;
using Values = std::map<std::string, qasm3::InputValue, std::less<>>;

constexpr std::string_view THETA = "input float theta;\nqubit[2] q;\n";

struct FreeRow {
  const char* name;
  std::string program;  // after THETA (and the header)
  std::string lowered;  // after the header and the inputs' declarations
  std::string inputs = "input float[64] theta;\n";
};

class FreeParameterText : public testing::TestWithParam<FreeRow> {};

// Lowering the text again changes nothing: the inputs it uses are declared in it.
TEST_P(FreeParameterText, IsTheNormalForm) {
  const FreeRow& row = GetParam();
  expect_lowers_to(std::string(THETA) + row.program, row.inputs + "qubit[2] q;\n" + row.lowered);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FreeParameterText,
    testing::Values(
        FreeRow{"constants_folded", "rz(2*theta + pi/2) q[0];",
                "rz(2*theta + 1.5707963267948966) q[0];\n"},
        FreeRow{"nothing_reordered", "rz(1 + theta + (2 + 3)) q[0];", "rz(1 + theta + 5) q[0];\n"},
        FreeRow{"grouping_kept", "rz((theta + 1) * 2 - (1 - theta)) q[0];",
                "rz((theta + 1)*2 - (1 - theta)) q[0];\n"},
        FreeRow{"fewest_parentheses", "rz(((theta)) * ((2))) q[0];", "rz(theta*2) q[0];\n"},
        FreeRow{"powers", "rz((-theta) ** 2 ** 0.5 + -theta ** 2) q[0];",
                "rz((-theta)**1.4142135623730951 + -theta**2) q[0];\n"},
        FreeRow{"functions_and_casts", "rz(sin(theta) + cos(pi) * float[32](theta)) q[0];",
                "rz(sin(theta) + -1.0*float[32](theta)) q[0];\n"},
        FreeRow{"typed_constants",
                "const angle[4] a = pi; const uint u = 3; rz(theta + a + u) q[0];",
                "rz(theta + angle[4](3.141592653589793) + uint(3)) q[0];\n"},
        FreeRow{"whole_float_constant", "rz(theta * 2.0) q[0];", "rz(theta*2.0) q[0];\n"},
        FreeRow{"short_circuit_decided", "rz(false && theta > 0) q[0]; rz(theta > 0 || true) q[0];",
                "rz(0.0) q[0];\nrz(theta > 0 || true) q[0];\n"},
        FreeRow{"definition_inlined", "gate g(a) x { rz(a / 2) x; rx(-a) x; } g(theta + 1) q[1];",
                "rz((theta + 1)/2) q[1];\nrx(-(theta + 1)) q[1];\n"},
        FreeRow{"definitions_nested",
                "gate f(b) x { rz(b * 3) x; } gate g(a) x { f(a - 1) x; } g(theta) q[0];",
                "rz((theta - 1)*3) q[0];\n"},
        FreeRow{"inverse_negates", "inv @ rz(theta) q[0]; inv @ cp(theta / 2) q[0], q[1];",
                "rz(-theta) q[0];\ncp(-(theta/2)) q[0], q[1];\n"},
        FreeRow{"inverse_of_u_reorders", "inv @ U(theta, 1, 2 * theta) q[0];",
                "U(-theta, -(2*theta), -1.0) q[0];\n"},
        FreeRow{"inverse_of_a_body", "gate g(a) x { rx(a) x; rz(1) x; } inv @ g(theta) q[0];",
                "rz(-1.0) q[0];\nrx(-theta) q[0];\n"},
        FreeRow{"root_scales", "pow(0.5) @ rz(theta) q[0]; pow(-1.5) @ p(theta) q[0];",
                "rz(theta*0.5) q[0];\np(theta*-1.5) q[0];\n"},
        FreeRow{"whole_power_repeats", "pow(2) @ rx(theta) q[0];",
                "rx(theta) q[0];\nrx(theta) q[0];\n"},
        FreeRow{"roots_in_order", "pow(0.5) @ inv @ ry(theta) q[0];", "ry(theta*-1.0*0.5) q[0];\n"},
        FreeRow{"control_keeps", "ctrl @ rz(theta) q[0], q[1]; negctrl @ rx(theta) q[1], q[0];",
                "ctrl @ rz(theta) q[0], q[1];\nnegctrl @ rx(theta) q[1], q[0];\n"},
        FreeRow{
            "library_gate_body", "u3(theta, 0, pi) q[0]; rzz(theta) q[0], q[1];",
            "U(theta, 0.0, 3.141592653589793) q[0];\ncx q[0], q[1];\nU(0.0, 0.0, theta) q[1];\ncx "
            "q[0], q[1];\n"},
        FreeRow{"unused_input_not_declared", "input float unused; x q[0];", "x q[0];\n", ""},
        FreeRow{"angle_input", "input angle[8] phi; rz(phi) q[0]; inv @ p(phi * 2) q[0];",
                "rz(phi) q[0];\np(-float(phi*2)) q[0];\n", "input angle[8] phi;\n"},
        FreeRow{"angle_argument_as_float",
                "input angle phi; gate g(a) x { rz(a / 2) x; } g(phi) q[0];",
                "rz(float(phi)/2) q[0];\n", "input angle phi;\n"},
        FreeRow{"broadcast", "rz(theta) q;", "rz(theta) q[0];\nrz(theta) q[1];\n"}),
    row_name<FreeRow>);

// A free value that lowering would need is refused where it is needed, naming the input.
// The programs follow THETA.
class FreeValueNeeded : public testing::TestWithParam<Row> {};

// The refusal at `place`, with the reason where the value is needed for more than a number.
std::string no_theta(std::string_view place, std::string_view need = "") {
  return std::string(place) + ": ValueError: No value given for input 'theta'" +
         (need.empty() ? "" : ": " + std::string(need));
}

TEST_P(FreeValueNeeded, IsRefusedWhereItIsNeeded) {
  expect_both_paths(std::string(THETA) + GetParam().input, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FreeValueNeeded,
    testing::Values(
        Row{"loop_bound", "for int i in [0:int(theta)] { x q[0]; }", no_theta("3:21")},
        Row{"condition", "if (theta > 0) x q[0];", no_theta("3:5")},
        Row{"register_size", "qubit[int(theta)] r;", no_theta("3:11")},
        Row{"power_exponent", "pow(theta) @ x q[0];", no_theta("3:5")},
        Row{"classical_variable", "float x = theta * 2; rz(x) q[0];", no_theta("3:11")},
        Row{"subroutine_argument", "def f(float a) -> float { return a; } rz(f(theta)) q[0];",
            no_theta("3:44")},
        Row{"integer_input", "input int n; rz(n) q[0];",
            "3:1: ValueError: No value given for input 'n'"},
        Row{"bool_input", "input bool b; x q[0];", "3:1: ValueError: No value given for input 'b'"},
        Row{"root_of_a_gate_without_angle_rule", "pow(0.5) @ u3(theta, 0, 0) q[0];",
            no_theta("3:1", "pow(0.5) @ u3 needs the gate's matrix")},
        Row{"root_of_a_definition", "gate g(a) x { rx(a) x; } pow(0.5) @ g(theta) q[0];",
            no_theta("3:26", "pow(0.5) @ g needs the gate's matrix")},
        Row{"phase_on_controls", "ctrl @ U(theta, 0, 0) q[0], q[1];",
            no_theta("3:1", "whether the phase on its controls is written depends on it")},
        Row{"cu_phase", "cu(0, 0, 0, theta) q[0], q[1];",
            no_theta("3:1", "whether cu's phase is written depends on its value")},
        Row{"u_under_two_controls", "ctrl(2) @ U(0, theta, 0) q[0], q[1], $2;",
            no_theta("3:1", "U under these controls is written as its matrix")},
        Row{"bits_of_a_free_value", "rz(float(theta[0])) q[0];", no_theta("3:10")}),
    row_name<Row>);

// ------------------------------------------------------------------ records

std::vector<ParamScalar> entries(const Parameter& parameter) {
  const auto list = parameter.as_list();
  return {list.begin(), list.end()};
}

TEST(FreeParameterRecords, HoldTextEntriesAndTheInputs) {
  const GateSequence gs = qasm3::lower_to_gate_sequence(
      "input float theta; input angle[4] phi; input float unused; qubit q; "
      "rz(2*theta) q; U(theta, 0, phi) q; cu(theta, 1, 2, 0) q, $1; x q;");
  EXPECT_EQ(gs.qasm_inputs,
            (std::vector<corvane::InputDecl>{{"theta", "float[64]"}, {"phi", "angle[4]"}}));
  EXPECT_EQ(qasm3::free_parameters(gs), (std::vector<std::string>{"phi", "theta"}));
  ASSERT_EQ(gs.data().size(), 4U);
  EXPECT_EQ(entries(gs.data()[0].parameter), (std::vector<ParamScalar>{std::string("2*theta")}));
  EXPECT_EQ(entries(gs.data()[1].parameter),
            (std::vector<ParamScalar>{std::string("theta"), 0.0, std::string("phi")}));
  EXPECT_EQ(entries(gs.data()[2].parameter),
            (std::vector<ParamScalar>{std::string("theta"), 1.0, 2.0}));
  EXPECT_TRUE(gs.data()[3].parameter.is_absent());
  EXPECT_TRUE(qasm3::lower_to_gate_sequence("qubit q; x q;").qasm_inputs.empty());
}

// ------------------------------------------------------------------ binding

struct Binding {
  const char* name;
  std::string program;
  Values values;
};

class BindingAfterLowering : public testing::TestWithParam<Binding> {};

TEST_P(BindingAfterLowering, IsLoweringWithTheValues) {
  const Binding& row = GetParam();
  const GateSequence bound =
      qasm3::bind_parameters(qasm3::lower_to_gate_sequence(row.program), row.values);
  const GateSequence direct = qasm3::lower_to_gate_sequence(row.program, {.inputs = row.values});
  EXPECT_EQ(corvane::fuzz::RecordComparison().first_difference(bound, direct), "");
  EXPECT_TRUE(qasm3::free_parameters(bound).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, BindingAfterLowering,
    testing::Values(
        Binding{"angle_rounded_to_its_width",
                "input angle[4] phi; qubit q; rz(phi) q;",
                {{"phi", 1.0}}},
        Binding{"angle_arithmetic_wraps",
                "input angle[3] phi; qubit q; rz(phi * 5) q;",
                {{"phi", 2.0}}},
        Binding{"float32_rounded", "input float[32] t; qubit q; rz(t / 3) q;", {{"t", 0.1}}},
        Binding{"value_as_expression",
                "input float t; qubit q; rx(t*2) q;",
                {{"t", qasm3::InputValue::expression("pi / 3")}}},
        Binding{
            "zero_phase_without_controls", "input float t; qubit q; U(t, 0, 0) q;", {{"t", 0.0}}},
        Binding{"in_a_written_definition",
                "input float t; qubit[2] q; gate g a { rz(t) a; h a; } g q[0]; g q[1];",
                {{"t", 0.25}}},
        Binding{"in_conditioned_blocks",
                "input float t; qubit[2] q; bit c; c = measure q[0]; "
                "if (c) { rz(2*t) q[1]; } else { rx(t) q[1]; }",
                {{"t", 0.5}}},
        Binding{"mixed_with_numbers",
                "input float t; input float s; qubit q; U(t, 1, s) q;",
                {{"t", 0.25}, {"s", -2.0}}}),
    row_name<Binding>);

TEST(BindingAfterLowering, NamesWhatIsMissingOrWrong) {
  const GateSequence gs = qasm3::lower_to_gate_sequence(
      "input float theta; input float phi; qubit q; rz(theta) q; rx(log(phi)) q;");
  EXPECT_EQ(outcome_of([&] {
              qasm3::bind_parameters(gs, {{"theta", 1.0}});
            }),
            "ValueError: No value given for input 'phi'");
  EXPECT_EQ(outcome_of([&] {
              qasm3::bind_parameters(gs, {{"theta", 1.0}, {"phi", 1.0}, {"beta", 1.0}});
            }),
            "ValueError: 'beta' is not a free parameter of the sequence");
  EXPECT_EQ(outcome_of([&] {
              qasm3::bind_parameters(gs, {{"theta", 1.0}, {"phi", -1.0}});
            }),
            outcome_of([&] {
              qasm3::lower_to_gate_sequence(
                  "input float theta; input float phi; qubit q; rz(theta) q; rx(log(phi)) q;",
                  {.inputs = {{"theta", 1.0}, {"phi", -1.0}}});
            }).insert(std::string_view("ValueError: ").size(), "Parameter 'log(phi)': "));
}

GateSequence one_call(const std::string& text, std::vector<corvane::InputDecl> inputs) {
  GateSequence gs(1);
  gs.add_gate(corvane::QuantumGate("rz", {0}, {}, {}, Parameter::list({text}, true)));
  gs.qasm_inputs = std::move(inputs);
  return gs;
}

// Sequences from elsewhere (a JSON file) may hold anything in their texts and inputs.
TEST(BindingAfterLowering, RefusesWhatIsNoFreeParameter) {
  const std::vector<corvane::InputDecl> theta = {{"theta", "float[64]"}};
  EXPECT_EQ(outcome_of([&] {
              qasm3::bind_parameters(one_call("theta +", theta), {{"theta", 1.0}});
            }).substr(0, 32),
            "ValueError: Parameter 'theta +':");
  EXPECT_EQ(outcome_of([&] {
              qasm3::bind_parameters(one_call("beta", theta), {{"theta", 1.0}});
            }),
            "ValueError: Parameter 'beta': Undeclared name 'beta'");
  EXPECT_EQ(
      outcome_of([&] {
        qasm3::bind_parameters(one_call("t", {{"t; qubit r", "float"}}), {{"t; qubit r", 1.0}});
      }),
      "ValueError: Free input 't; qubit r' is no name");
  EXPECT_EQ(outcome_of([&] {
              qasm3::bind_parameters(one_call("t", {{"t", "int"}}), {{"t", 1.0}});
            }),
            "ValueError: Free input 't' has type 'int', which is no float or angle type");
  const GateSequence bound =
      qasm3::bind_parameters(one_call("2*t", {{"t", "float"}}), {{"t", 0.5}});
  EXPECT_EQ(bound.data()[0].parameter, Parameter::one_number_tuple(1.0));
}

// Each rule of the gate algebra on a free angle, proved by what the circuit does: bound after
// lowering, the circuit's unitary is the one of lowering with the value, for every gate the
// rule applies to, at angles where phases and wrap-arounds show.
class FreeAngleRule : public testing::TestWithParam<std::string> {};

TEST_P(FreeAngleRule, BindsToTheCircuitOfTheValue) {
  const std::string& call = GetParam();
  for (const char* modifiers : {"", "inv @ ", "pow(0.5) @ ", "pow(-1.5) @ ", "ctrl @ ",
                                "inv @ pow(0.25) @ ", "negctrl @ inv @ ", "pow(2) @ inv @ "}) {
    // A control takes q[3], before the gate's own operands.
    std::string controlled = call;
    if (std::string_view(modifiers).find("ctrl") != std::string_view::npos) {
      const std::size_t operands = call.rfind(')') + 1;
      controlled.insert(operands, operands == call.size() ? " q[3]" : " q[3],");
    }
    const std::string program =
        "input float t; qubit[4] q;\n" + std::string(modifiers) + controlled + ";\n";
    GateSequence free(0);
    const std::string refused = outcome_of([&] { free = qasm3::lower_to_gate_sequence(program); });
    if (refused != "ok") {
      EXPECT_TRUE(refused.starts_with("ValueError: No value given for input 't'")) << refused;
      continue;
    }
    for (const double value : {0.0, 0.7, -2.5, 7.0}) {
      const GateSequence direct =
          qasm3::lower_to_gate_sequence(program, {.inputs = {{"t", value}}});
      const GateSequence bound = qasm3::bind_parameters(free, {{"t", value}});
      EXPECT_EQ(corvane::fuzz::RecordComparison().first_difference(bound, direct), "") << program;
      EXPECT_EQ(corvane::circuit_unitary(bound), corvane::circuit_unitary(direct)) << program;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Gates, FreeAngleRule,
    testing::Values("rx(t) q[0]", "ry(2*t) q[0]", "rz(t - 1) q[0]", "p(t) q[0]", "phase(t) q[0]",
                    "u1(t) q[0]", "cp(t) q[0], q[1]", "cphase(t) q[0], q[1]", "crx(t) q[0], q[1]",
                    "cry(t) q[0], q[1]", "crz(t) q[0], q[1]", "rxx(t) q[0], q[1]",
                    "rzz(t) q[0], q[1]", "gphase(t)", "U(t, 0.5, -t) q[0]", "u3(t, 1, 2) q[0]",
                    "u2(t, t) q[0]", "cu(t, 0.5, 1, 0) q[0], q[1]", "cu3(t, 0, t) q[0], q[1]",
                    "cu1(t) q[0], q[1]"),
    [](const testing::TestParamInfo<std::string>& info) {
      return std::to_string(info.index) + "_" + info.param.substr(0, info.param.find('('));
    });

// ------------------------------------------------------------------ hostile input

// A free parameter used a million times costs each use once.
TEST(HostileFreeParameters, ManyUsesStayLinear) {
  const std::string program = "input float t; qubit q;\n" + repeat("rz(2*t + 1) q;\n", 1'000'000);
  const GateSequence gs = qasm3::lower_to_gate_sequence(program);
  ASSERT_EQ(gs.data().size(), 1'000'000U);
  const GateSequence bound = qasm3::bind_parameters(gs, {{"t", 0.5}});
  EXPECT_EQ(bound.data().back().parameter, Parameter::one_number_tuple(2.0));
}

// Definitions that double their argument's expression at each level are stopped before the
// text grows without bound; deep grouping is stopped before the reader could not read it.
TEST(HostileFreeParameters, GrowthAndDepthAreBounded) {
  std::string doubling = "input float t; qubit q;\ngate g0(a) x { rz(a) x; }\n";
  for (int k = 1; k <= 40; ++k) {
    doubling +=
        "gate g" + std::to_string(k) + "(a) x { g" + std::to_string(k - 1) + "(a * a + a) x; }\n";
  }
  doubling += "g40(t) q;\n";
  EXPECT_EQ(outcome_of([&] { qasm3::lower_qasm3(doubling); }).substr(0, 62),
            "ValueError: A parameter that depends on input 't' is longer th");
  std::string deep = "input float t; qubit q; rz(";
  std::string closing;
  for (int k = 0; k < 59; ++k) {
    deep += "2 * (";
    closing += ")";
  }
  const std::string fits = deep + "t + 1" + closing + ") q;";
  EXPECT_EQ(qasm3::bind_parameters(qasm3::lower_to_gate_sequence(fits), {{"t", 1.0}}).data().size(),
            1U);
  const std::string too_deep = deep + "2 * (2 * (t + 1))" + closing + ") q;";
  EXPECT_EQ(outcome_of([&] { qasm3::lower_qasm3(too_deep); }),
            "ValueError: A parameter that depends on input 't' nests more than 60 levels deep; "
            "give the input a value");
}

// ------------------------------------------------------------------ the normal form's parts

TEST(FreeExpressionText, KnownValuesReadBackAsThemselves) {
  struct Case {
    lower::Value value;
    std::string text;
  };
  const Case cases[] = {
      {lower::Value::floating(0.1), "0.1"},
      {lower::Value::floating(-2.0), "-2.0"},
      {lower::Value::floating(1e-7), "1e-07"},
      {lower::Value::floating(0.5, 32), "float[32](0.5)"},
      {lower::Value::integer(-3), "-3"},
      {lower::Value::integer(INT64_MIN), "(-9223372036854775807 - 1)"},
      {lower::Value::integer(5, 8), "int[8](5)"},
      {lower::Value::unsigned_integer(7), "uint(7)"},
      {lower::Value::boolean(true), "true"},
      {lower::Value::bits(5, 4), "\"0101\""},
      {lower::Value::bit(true), "bit(1)"},
      {lower::Value::angle_bits(3, 4), "angle[4](1.1780972450961724)"},
  };
  const lower::FreeTerm t{std::nullopt, lower::free_input("t", {lower::ScalarKind::FLOAT, 64})};
  for (const Case& c : cases) {
    const lower::FreeRef sum =
        lower::free_binary(lower::BinaryOp::ADD, t, lower::known_term(c.value));
    EXPECT_EQ(sum->text, "t + " + c.text);
    // The text's value is the value's: evaluated with t = 0 by the binder.
    GateSequence gs(1);
    gs.add_gate(corvane::QuantumGate("rz", {0}, {}, {},
                                     Parameter::list({"t*0 + float(" + c.text + ")"}, true)));
    gs.qasm_inputs = {{"t", "float[64]"}};
    if (c.value.type().kind == lower::ScalarKind::BIT && c.value.type().width) continue;
    EXPECT_EQ(qasm3::bind_parameters(gs, {{"t", 0.0}}).data()[0].parameter,
              Parameter::one_number_tuple(c.value.as_double()))
        << c.text;
  }
}

}  // namespace
