// The exporter: register layout, names and parameters, the definition accumulator,
// statement emission and the driver's program text.
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qasm/export/qasm3_export.hpp"
#include "qasm/text/text.hpp"
#include "test_support.hpp"

namespace corvane::qasm3::detail {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
using hand_built::block;
using hand_built::gate;
using hand_built::sequence;

// ------------------------------------------------------------------ gate builders

QuantumGate with_param(std::string id, IndexList targets, Parameter param) {
  return gate(std::move(id), std::move(targets), {}, {}, std::move(param));
}

QuantumGate measure(IndexList targets, std::optional<IndexList> bits, IndexList controls = {},
                    IndexList states = {}) {
  QuantumGate m = gate("measure", std::move(targets), std::move(controls), std::move(states));
  m.set_classical_target(std::move(bits));
  return m;
}

QuantumGate unitary(Matrix m, IndexList targets, IndexList controls = {}, IndexList states = {}) {
  QuantumGate u = gate("unitary", std::move(targets), std::move(controls), std::move(states));
  u.set_stored_matrix(std::move(m));
  return u;
}

Parameter list(std::vector<ParamScalar> items) {
  return Parameter::list(std::move(items));
}

// A chain of `depth` blocks on `targets` around one "h".
QuantumGate nested_blocks(int depth, const IndexList& targets) {
  QuantumGate inner = gate("h", {0});
  for (int i = 0; i < depth; ++i)
    inner = block(targets, {std::move(inner)});
  return inner;
}

std::string export_of(const GateSequence& gs, const ExportOptions& options = {}) {
  return gate_sequence_to_qasm3(gs, options);
}

// ------------------------------------------------------------------ register layout

TEST(RegisterLayout, MaxQubitIndexLooksIntoBlocks) {
  EXPECT_EQ(max_qubit_index({}), -1);
  EXPECT_EQ(max_qubit_index({gate("cx", {2}, {5}, {1})}), 5);
  EXPECT_EQ(max_qubit_index({gate("h", {3}), block({0}, {gate("x", {7})})}), 7);
  EXPECT_EQ(max_qubit_index({gate("h", {-4})}), -1);
  EXPECT_EQ(max_qubit_index({gate("h", {INT64_MAX})}), INT64_MAX);
  // Only "block" records are looked into.
  QuantumGate not_a_block = gate("h", {1});
  not_a_block.set_block_gate_sequence(make_block({gate("x", {9})}));
  EXPECT_EQ(max_qubit_index({not_a_block}), 1);
}

// An "if" on `bits` == 1 with the given bodies.
QuantumGate if_record(IndexList bits, std::vector<QuantumGate> body,
                      std::optional<std::vector<QuantumGate>> otherwise = std::nullopt) {
  return make_conditioned("if", Condition(std::move(bits), Comparison::Equal, 1),
                          make_block(std::move(body)),
                          otherwise ? make_block(std::move(*otherwise)) : nullptr);
}

TEST(RegisterLayout, NumClbits) {
  QuantumGate x_with_bits = gate("x", {0});  // only measurements' bits count
  x_with_bits.set_classical_target(IndexList{6});
  struct Row {
    std::vector<QuantumGate> gates;
    std::optional<std::int64_t> declared;
    std::uint64_t expected;
  };
  const std::vector<Row> rows = {
      {{gate("h", {0})}, {}, 0},
      {{measure({0, 1}, IndexList{0, 4})}, {}, 5},
      {{measure({0}, IndexList{4})}, 3, 5},
      {{measure({0}, IndexList{4})}, 8, 8},
      {{block({0}, {measure({0}, IndexList{2})})}, 1, 3},
      {{gate("h", {0})}, -5, 0},
      {{measure({0}, IndexList{-3})}, {}, 0},
      {{measure({0}, std::nullopt)}, {}, 0},
      {{x_with_bits}, {}, 0},
      {{measure({0}, IndexList{INT64_MAX})}, {}, std::uint64_t{1} << 63U},
      // Conditioned records: the bits read, and the measurements of both bodies.
      {{if_record({6, 2}, {gate("x", {0})})}, {}, 7},
      {{if_record({0}, {measure({0}, IndexList{3})})}, 2, 4},
      {{if_record({0}, {}, {{gate("h", {0}), measure({1}, IndexList{9})}})}, {}, 10},
      {{if_record({0}, {if_record({1}, {}, {{measure({1}, IndexList{5})}})})}, {}, 6},
      // Measurements in an else-body of a record without a condition are not the
      // sequence's.
      {{[] {
         QuantumGate g = gate("if", {0});
         g.set_else_gate_sequence(make_block({measure({0}, IndexList{8})}));
         return g;
       }()},
       {},
       0},
  };
  for (std::size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(num_clbits(rows[i].gates, rows[i].declared), rows[i].expected) << "row " << i;
}

TEST(RegisterLayout, NormalizeRegisters) {
  const RegisterList ab = {{"a", 2}, {"b", 1}};
  EXPECT_EQ(normalize_registers(std::nullopt, "q", 3), (RegisterViews{{"q", 3}}));
  EXPECT_EQ(normalize_registers(RegisterList{{"a", -1}}, "q", 0), RegisterViews{});
  EXPECT_EQ(normalize_registers(ab, "q", 2), (RegisterViews{{"a", 2}, {"b", 1}}));
  EXPECT_THROW_MSG(normalize_registers(ab, "q", 4), ValueError,
                   "Register declarations cover 3 indices, but 4 are required");
  // A non-positive size is reported before any shortfall.
  EXPECT_THROW_MSG(normalize_registers(RegisterList{{"b", 1}, {"a", 0}}, "q", 9), ValueError,
                   "Register 'a' must have positive size");
  EXPECT_THROW_MSG(normalize_registers(RegisterList{{"it's", -2}}, "q", 1), ValueError,
                   "Register \"it's\" must have positive size");
  // Sizes adding up past 2^64 neither wrap nor fail: they cover any index.
  const RegisterList huge = {{"a", INT64_MAX}, {"b", INT64_MAX}, {"c", INT64_MAX}};
  EXPECT_EQ(normalize_registers(huge, "q", std::uint64_t{1} << 63U).size(), 3U);
}

TEST(RegisterLayout, IndexerMapsFlatIndices) {
  const RegisterIndexer two({{"a", 2}, {"b", 3}});
  EXPECT_EQ(two(1), "a[1]");
  EXPECT_EQ(two(2), "b[0]");
  EXPECT_EQ(two(4), "b[2]");
  for (const std::int64_t outside : {std::int64_t{5}, std::int64_t{-1}, INT64_MIN}) {
    EXPECT_THROW_MSG(two(outside), ValueError,
                     "Index " + std::to_string(outside) + " is outside declared registers");
  }
  EXPECT_THROW_MSG(RegisterIndexer(RegisterViews{})(0), ValueError,
                   "Index 0 is outside declared registers");

  // Many registers are searched, each boundary exact.
  const std::vector<std::string> names = {"r0", "r1", "r2", "r3", "r4"};
  RegisterViews many;
  for (const std::string& name : names)
    many.push_back({name, 3});
  const RegisterIndexer indexer(many);
  EXPECT_EQ(indexer(8), "r2[2]");
  EXPECT_EQ(indexer(9), "r3[0]");
  EXPECT_EQ(indexer(14), "r4[2]");
  EXPECT_THROW_MSG(indexer(15), ValueError, "Index 15 is outside declared registers");

  // Indices at the int64 limit.
  EXPECT_EQ(RegisterIndexer({{"big", std::uint64_t{1} << 63U}})(INT64_MAX),
            "big[9223372036854775807]");
  EXPECT_EQ(RegisterIndexer({{"a", 5}, {"b", UINT64_MAX}})(INT64_MAX), "b[9223372036854775802]");
}

// ------------------------------------------------------------------ parameters

// Doubles in the ".15g" form are checked against std::to_chars below; these are the other
// kinds of values.
TEST(Parameters, FmtParam) {
  const std::vector<std::pair<Parameter, std::string>> rows = {
      {1.0, "1"},
      {-0.0, "-0"},
      {3, "3"},
      {std::int64_t{INT64_MAX}, "9.22337203685478e+18"},
      {true, "1"},
      {false, "0"},
      {"pi/4", "pi/4"},
      {"", ""},
      {Matrix(1, 1, {{0.25, 0.0}}), "0.25"},
      {Matrix(1, 1, {{0.25, 1.0}}), "[[0.25+1.0j]]"},
      {Matrix(2, 2, {{1, 0}, {0, -0.5}, {0, 0}, {1, 0}}),
       "[[1.0+0.0j, 0.0-0.5j], [0.0+0.0j, 1.0+0.0j]]"},
  };
  for (const auto& [param, text] : rows)
    EXPECT_EQ(fmt_param(param), text) << text;
  EXPECT_EQ(fmt_param(ParamScalar{std::string("a\nb")}), "a\nb");

  const std::vector<std::pair<Parameter, std::string>> failing = {
      {INF, "inf"},
      {-INF, "-inf"},
      {-NOT_A_NUMBER, "nan"},
      {Matrix(1, 1, {{INF, 0.0}}), "[[inf+0.0j]]"},
  };
  for (const auto& [param, shown] : failing) {
    EXPECT_THROW_MSG(fmt_param(param), ValueError,
                     "QASM gate parameter must be finite; got " + shown);
  }
}

// The ".15g" form has a fast path of its own for the magnitudes parameters mostly have;
// the whole of it must agree with the general conversion: on doubles of every binade,
// on the fast path's binades and their borders, and on exact ties at the 15th digit.
TEST(Parameters, G15FormAgreesWithToCharsGeneralPrecision15) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr int COUNT = 100'000;  // the instrumented build is several times slower
#else
  constexpr int COUNT = 1'000'000;
#endif
  std::mt19937_64 rng(15);
  std::array<char, 64> expected{};
  for (int i = 0; i < COUNT; ++i) {
    const std::uint64_t bits = rng();
    double value = 0;
    if (i % 3 == 0) {  // sign, exponent and mantissa at random: subnormals to the largest
      value = std::bit_cast<double>(bits);
      if (!std::isfinite(value)) continue;
    } else if (i % 3 == 1) {  // the binades from 2^-14 to 2^47, around [1e-4, 1e14)
      value = std::ldexp(1.0 + static_cast<double>(bits >> 12U) * 0x1p-52,
                         static_cast<int>(bits % 62) - 14);
    } else {  // q / 2^f with q * 5^f of 16 digits, the last a 5: a tie at 15 digits
      const int f = 1 + static_cast<int>(bits % 20);
      std::uint64_t pow5 = 1;
      for (int k = 0; k < f; ++k)
        pow5 *= 5;
      const std::uint64_t low = 1'000'000'000'000'000 / pow5 + 1;
      value = std::ldexp(static_cast<double>((low + (bits >> 8U) % (9 * low - 1)) | 1U), -f);
    }
    const char* end = std::to_chars(expected.data(), expected.data() + expected.size(), value,
                                    std::chars_format::general, 15)
                          .ptr;
    ASSERT_EQ(fmt_param(Parameter(value)), std::string_view(expected.data(), end))
        << std::hexfloat << value;
  }
}

TEST(Parameters, FmtParams) {
  struct Row {
    Parameter params;
    std::optional<std::int64_t> expected;
    std::string outcome;
  };
  const std::vector<Row> rows = {
      {{}, {}, ""},
      {{}, 1, "ValueError: Missing parameters"},
      {list({}), {}, ""},
      {list({}), 0, "ValueError: Missing parameters"},
      {0.5, 1, "0.5"},
      {0.5, {}, "0.5"},
      {0.5, 3, "ValueError: Expected 3 params, got scalar"},
      {true, 2, "ValueError: Expected 2 params, got scalar"},
      {list({0.5, 1.0, std::int64_t{2}}), {}, "0.5, 1, 2"},
      {list({0.5, 1.0}), 3, "ValueError: Expected 3 params, got 2"},
      {list({std::string("pi/2"), 0.25}), {}, "pi/2, 0.25"},
      {list({true, false}), 2, "1, 0"},
      {list({0.5, INF}), {}, "ValueError: QASM gate parameter must be finite; got inf"},
      // Tuples of up to three numbers are kept in place, longer ones are shared: alike here.
      {Parameter::list({0.5, -0.0, 2.5}, true), 3, "0.5, -0, 2.5"},
      {Parameter::list({0.5, 1.0}, true), 3, "ValueError: Expected 3 params, got 2"},
      {Parameter::list({0.1, 0.2, 0.3, 0.4}, true), 3, "ValueError: Expected 3 params, got 4"},
      {Parameter::list({0.5, INF}, true),
       {},
       "ValueError: QASM gate parameter must be finite; got inf"},
      {"pi/2", 2, "pi/2"},
      {Matrix(1, 1, {{2.0, 0.0}}), 3, "2"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::string text;
    const std::string outcome =
        outcome_of([&] { text = fmt_params(rows[i].params, rows[i].expected); });
    EXPECT_EQ(outcome == "ok" ? text : outcome, rows[i].outcome) << "row " << i;
  }
}

TEST(Parameters, HasParam) {
  EXPECT_FALSE(has_param(gate("h", {0})));
  EXPECT_FALSE(has_param(with_param("h", {0}, list({}))));
  for (const Parameter& p : {Parameter(0.0), list({0.0}), Parameter(""), Parameter(Matrix())})
    EXPECT_TRUE(has_param(with_param("rx", {0}, p)));
}

// ------------------------------------------------------------------ accumulator

TEST(Accumulator, DefinitionsAreSharedByArityAndBody) {
  Qasm3Ctx ctx;
  EXPECT_EQ(ctx.new_name(), "block_0");
  EXPECT_EQ(ctx.new_name("sqrty"), "sqrty_1");
  EXPECT_EQ(ctx.find_or_create_def(2, {"h a0;", "cx a0, a1;"}), "block_2");
  EXPECT_EQ(ctx.find_or_create_def(2, {"h a0;", "cx a0, a1;"}, "other"), "block_2");
  EXPECT_EQ(ctx.counter(), 3);
  EXPECT_EQ(ctx.find_or_create_def(3, {"h a0;", "cx a0, a1;"}), "block_3");
  EXPECT_EQ(ctx.find_or_create_def(2, {"h a0;"}, "other"), "other_4");
  EXPECT_EQ(ctx.find_or_create_def(1, {}), "block_5");
  EXPECT_EQ(ctx.find_or_create_def(0, {}), "block_6");
  // Same text, different line boundaries: different bodies.
  EXPECT_EQ(ctx.find_or_create_def(1, {"rx(a\nb) a0;"}), "block_7");
  EXPECT_EQ(ctx.find_or_create_def(1, {"rx(a", "b) a0;"}), "block_8");
  const std::vector<std::string> expected = {
      "gate block_2 a0, a1 {\n  h a0;\n  cx a0, a1;\n}",
      "gate block_3 a0, a1, a2 {\n  h a0;\n  cx a0, a1;\n}",
      "gate other_4 a0, a1 {\n  h a0;\n}",
      "gate block_5 a0 {\n}",
      "gate block_6  {\n}",
      "gate block_7 a0 {\n  rx(a\nb) a0;\n}",
      "gate block_8 a0 {\n  rx(a\n  b) a0;\n}",
  };
  EXPECT_EQ(ctx.gate_defs(), expected);
}

TEST(Accumulator, EnsureGateDef) {
  Qasm3Ctx ctx;
  ensure_gate_def(ctx, "sqrty_0", "sqrty");
  ensure_gate_def(ctx, "sqrty_0", "sqrty");
  ensure_gate_def(ctx, "sqrty_00", "sqrty_dag");
  ensure_gate_def(ctx, "foo_1", "foo");
  ensure_gate_def(ctx, "sqrty", "sqrtx");  // a prefix of an existing name is a new name
  const std::vector<std::string> expected = {
      "gate sqrty_0 a0 {\n  sdg a0;\n  h a0;\n  s a0;\n  h a0;\n  s a0;\n}",
      "gate sqrty_00 a0 {\n  sdg a0;\n  h a0;\n  sdg a0;\n  h a0;\n  s a0;\n}",
      "gate foo_1 a0 {\n  // foo not implemented;\n}",
      "gate sqrty a0 {\n  h a0;\n  s a0;\n  h a0;\n}",
  };
  EXPECT_EQ(ctx.gate_defs(), expected);
  EXPECT_EQ(ctx.counter(), 0);
  // Names with a blank are matched against the entries' beginnings.
  EXPECT_TRUE(ctx.has_def_named("sqrty_0 a0"));
  EXPECT_FALSE(ctx.has_def_named("sqrty_0 a1"));
  // find_or_create_def's names count too.
  EXPECT_EQ(ctx.find_or_create_def(1, {"x a0;"}), "block_0");
  ensure_gate_def(ctx, "block_0", "sqrty");
  EXPECT_EQ(ctx.gate_defs().size(), 5U);
}

TEST(Accumulator, BlockIsLocal) {
  EXPECT_TRUE(block_is_local({gate("cx", {1}, {0}, {1})}, 2));
  EXPECT_FALSE(block_is_local({gate("h", {2})}, 2));
  EXPECT_FALSE(block_is_local({gate("h", {-1})}, 2));
  EXPECT_FALSE(block_is_local({gate("h", {0}, {3})}, 2));
  EXPECT_TRUE(block_is_local({block({0}, {gate("h", {1})})}, 2));
  EXPECT_FALSE(block_is_local({block({0}, {gate("h", {2})})}, 2));
  EXPECT_TRUE(block_is_local({}, 1));
  EXPECT_TRUE(block_is_local({measure({0}, IndexList{7})}, 1));  // bits are not qubits
}

// ------------------------------------------------------------------ emission

// One emission over q[16] and c[8]: the gates, then what is written, each statement
// followed by '\n', or the error as "<Kind>: <message>", and the definitions created.
struct EmitCase {
  std::string name;
  std::vector<QuantumGate> gates;
  std::string outcome;
  std::vector<std::string> defs = {};
};

void expect_emits(const std::vector<EmitCase>& cases) {
  for (const EmitCase& c : cases) {
    Qasm3Ctx ctx;
    const RegisterIndexer qubits({{"q", 16}});
    const RegisterIndexer bits({{"c", 8}});
    StatementLines out;
    const std::string outcome = outcome_of(
        [&] { emit_sequence(c.gates, ctx, QubitNames(qubits), bits, {}, {}, true, out); });
    EXPECT_EQ(outcome == "ok" ? std::string(out.text()) : outcome, c.outcome) << c.name;
    if (outcome == "ok") {
      EXPECT_EQ(ctx.gate_defs(), c.defs) << c.name;
    }
  }
}

const Matrix IDENTITY(2, 2, {{1, 0}, {0, 0}, {0, 0}, {1, 0}});
const Matrix PAULI_X(2, 2, {{0, 0}, {1, 0}, {1, 0}, {0, 0}});

TEST(Emission, OneQubitAndControlledGates) {
  expect_emits({
      {"empty", {}, ""},
      {"id", {gate("i", {0})}, "id q[0];\n"},
      {"sdg", {gate("s_dag", {0})}, "sdg q[0];\n"},
      {"sx", {gate("sqrtx", {0})}, "sx q[0];\n"},
      {"p", {with_param("phase_gate", {0}, 0.5)}, "p(0.5) q[0];\n"},
      {"text param", {with_param("rx", {3}, "pi/2")}, "rx(pi/2) q[3];\n"},
      {"per target", {gate("h", {0, 1, 2})}, "h q[0];\nh q[1];\nh q[2];\n"},
      {"per target with params",
       {gate("rx", {0, 1}, {5}, {0}, 0.5)},
       "negctrl @ rx(0.5) q[5], q[0];\nnegctrl @ rx(0.5) q[5], q[1];\n"},
      {"no targets", {gate("h", {}), with_param("rx", {}, INF)}, ""},
      {"controlled x keeps modifiers", {gate("x", {1}, {0}, {1})}, "ctrl @ x q[0], q[1];\n"},
      {"U", {with_param("u", {0}, list({0.1, 0.2, 0.3}))}, "U(0.1, 0.2, 0.3) q[0];\n"},
      {"cu",
       {gate("u", {1}, {0}, {1}, list({0.1, 0.2, 0.3}))},
       "cu(0.1, 0.2, 0.3, 0) q[0], q[1];\n"},
      {"u negctrl",
       {gate("u", {1}, {0}, {0}, list({0.1, 0.2, 0.3}))},
       "negctrl @ U(0.1, 0.2, 0.3) q[0], q[1];\n"},
      {"cnot", {gate("cnot", {1}, {0}, {1})}, "cx q[0], q[1];\n"},
      {"cx negctrl", {gate("cx", {1}, {0}, {0})}, "negctrl @ x q[0], q[1];\n"},
      {"cz twice controlled",
       {gate("cz", {2}, {0, 1}, {1, 1})},
       "ctrl @ ctrl @ z q[0], q[1], q[2];\n"},
      {"cx without states", {gate("cx", {1}, {0}, {})}, "x q[0], q[1];\n"},
      {"ch with param under modifiers",
       {gate("ch", {2}, {0, 1}, {1, 0}, 0.5)},
       "ctrl @ negctrl @ h(0.5) q[0], q[1], q[2];\n"},
      {"cu single plain control",
       {gate("cu", {1}, {0}, {1}, list({0.1, 0.2, 0.3, 0.4}))},
       "cu q[0], q[1];\n"},
      {"crz", {gate("crz", {1}, {0}, {1}, 0.5)}, "crz(0.5) q[0], q[1];\n"},
      {"mcrx",
       {gate("mcrx", {2}, {0, 1}, {1, 0}, 0.5)},
       "ctrl @ negctrl @ rx(0.5) q[0], q[1], q[2];\n"},
      {"cp negctrl", {gate("cp", {1}, {0}, {0}, 0.25)}, "negctrl @ p(0.25) q[0], q[1];\n"},
      {"mcp single", {gate("mcp", {1}, {0}, {1}, 0.25)}, "cp(0.25) q[0], q[1];\n"},
      {"crx without params", {gate("crx", {1}, {0}, {1})}, "crx q[0], q[1];\n"},
      {"ccx", {gate("mcx", {2}, {0, 1}, {1, 1})}, "ccx q[0], q[1], q[2];\n"},
      {"mcx negctrl", {gate("mcx", {2}, {0, 1}, {1, 0})}, "ctrl @ negctrl @ x q[0], q[1], q[2];\n"},
      {"mcx three",
       {gate("mcx", {3}, {0, 1, 2}, {1, 1, 1})},
       "ctrl @ ctrl @ ctrl @ x q[0], q[1], q[2], q[3];\n"},
      {"mcx one", {gate("mcx", {1}, {0}, {1})}, "ctrl @ x q[0], q[1];\n"},
      {"cs", {gate("cs", {1}, {0}, {1})}, "ctrl @ s q[0], q[1];\n"},
      {"state 2 is negctrl", {gate("mch", {1}, {0}, {2})}, "negctrl @ h q[0], q[1];\n"},
      {"swap pairs", {gate("swap", {0, 1, 2, 3})}, "swap q[0], q[1];\nswap q[2], q[3];\n"},
      {"cswap", {gate("swap", {1, 2}, {0}, {1})}, "cswap q[0], q[1], q[2];\n"},
      {"swap negctrl", {gate("swap", {1, 2}, {0}, {0})}, "negctrl @ swap q[0], q[1], q[2];\n"},
      {"swap without targets", {gate("swap", {})}, ""},
      {"swap writes no parameters", {gate("swap", {0, 1}, {}, {}, 0.5)}, "swap q[0], q[1];\n"},
      {"block record without sequence", {gate("block", {0, 1})}, ""},
  });
}

TEST(Emission, SpecialOperations) {
  const std::string pi = "gphase(3.14159265358979)";
  expect_emits({
      {"measure",
       {measure({0, 1}, IndexList{1, 0})},
       "measure q[0] -> c[1];\nmeasure q[1] -> c[0];\n"},
      {"measure nothing", {measure({}, std::nullopt)}, ""},
      {"rzz", {with_param("rzz", {0, 1}, 0.5)}, "cx q[0], q[1];\nrz(0.5) q[1];\ncx q[0], q[1];\n"},
      {"rzz controlled",
       {gate("rzz", {0, 1}, {2}, {0}, 0.5)},
       "negctrl @ ctrl @ x q[2], q[0], q[1];\nnegctrl @ rz(0.5) q[2], q[1];\n"
       "negctrl @ ctrl @ x q[2], q[0], q[1];\n"},
      {"-z", {gate("-z", {3})}, pi + " ;\nz q[3];\n"},
      {"-z controlled",
       {gate("-z", {1}, {0}, {1})},
       "ctrl @ " + pi + " q[0];\nctrl @ z q[0], q[1];\n"},
      {"-z two targets", {gate("-z", {1, 2})}, pi + " ;\nz q[1];\n" + pi + " ;\nz q[2];\n"},
      {"gp", {with_param("gp", {5}, 0.5)}, "gphase(0.5);\n"},
      {"global_phase one-entry list",
       {with_param("global_phase", {}, list({0.5}))},
       "gphase(0.5);\n"},
      {"gp controlled",
       {gate("gp", {4}, {0, 1}, {1, 0}, 0.5)},
       "ctrl @ negctrl @ gphase(0.5) q[0], q[1];\n"},
      {"unitary",
       {unitary(IDENTITY, {0})},
       "unitary(1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0) q[0];\n"},
      {"unitary controlled",
       {unitary(PAULI_X, {0}, {1}, {0})},
       "negctrl @ unitary(0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0) q[1], q[0];\n"},
      {"unitary shortest floats",
       {unitary(Matrix(2, 3,
                       {{1e-17, 0},
                        {0, -0.5},
                        {-0.0, -0.5},
                        {0.7071067811865476, 1e16},
                        {1000000000000000.0, 2.5e-07},
                        {NOT_A_NUMBER, -INF}}),
                {0})},
       "unitary(1e-17, 0.0, 0.0, -0.5, -0.0, -0.5, 0.7071067811865476, 1e+16, "
       "1000000000000000.0, 2.5e-07, nan, -inf) q[0];\n"},
      // Non-standard gates take a fresh name and definition at each use.
      {"two sqrty",
       {gate("sqrty", {0}), gate("sqrty", {0})},
       "sqrty_0 q[0];\nsqrty_1 q[0];\n",
       {"gate sqrty_0 a0 {\n  sdg a0;\n  h a0;\n  s a0;\n  h a0;\n  s a0;\n}",
        "gate sqrty_1 a0 {\n  sdg a0;\n  h a0;\n  s a0;\n  h a0;\n  s a0;\n}"}},
      {"non-standard controlled with params",
       {gate("sqrtx_dag", {1}, {0}, {1}, 0.5)},
       "ctrl @ sqrtx_dag_0(0.5) q[0], q[1];\n",
       {"gate sqrtx_dag_0 a0 {\n  h a0;\n  sdg a0;\n  h a0;\n}"}},
  });
}

TEST(Emission, Blocks) {
  const std::vector<QuantumGate> h_cx = {gate("h", {0}), gate("cx", {1}, {0}, {1})};
  const std::string h_cx_def = "gate block_0 a0, a1 {\n  h a0;\n  cx a0, a1;\n}";
  const std::string sqrty_body = "\n  sdg a0;\n  h a0;\n  s a0;\n  h a0;\n  s a0;\n}";
  QuantumGate reused = block({0, 1}, {gate("h", {0}), block({1}, {gate("x", {0})})});
  QuantumGate moved = reused;
  moved.target = {4, 5};
  expect_emits({
      {"controlled local block",
       {block({3, 4}, h_cx, {0}, {1})},
       "ctrl @ block_0 q[0], q[3], q[4];\n",
       {h_cx_def}},
      {"non-local block is inlined",
       {block({3, 4}, {gate("h", {5}), gate("cx", {5}, {2}, {1})}, {0}, {1})},
       "ctrl @ h q[0], q[5];\nctrl @ ctrl @ x q[0], q[2], q[5];\n"},
      {"empty block", {block({0, 1}, {})}, "block_0 q[0], q[1];\n", {"gate block_0 a0, a1 {\n}"}},
      {"identical bodies share",
       {block({0, 1}, h_cx), block({2, 3}, h_cx, {5}, {0}), block({6, 7}, h_cx)},
       "block_0 q[0], q[1];\nnegctrl @ block_0 q[5], q[2], q[3];\nblock_0 q[6], q[7];\n",
       {h_cx_def}},
      {"different arity, different definition",
       {block({0, 1}, h_cx), block({0, 1, 2}, h_cx)},
       "block_0 q[0], q[1];\nblock_1 q[0], q[1], q[2];\n",
       {h_cx_def, "gate block_1 a0, a1, a2 {\n  h a0;\n  cx a0, a1;\n}"}},
      {"non-standard gates keep blocks apart",
       {block({0}, {gate("sqrty", {0})}), block({1}, {gate("sqrty", {0})})},
       "block_1 q[0];\nblock_3 q[1];\n",
       {"gate sqrty_0 a0 {" + sqrty_body, "gate block_1 a0 {\n  sqrty_0 a0;\n}",
        "gate sqrty_2 a0 {" + sqrty_body, "gate block_3 a0 {\n  sqrty_2 a0;\n}"}},
      {"nested: inner defined first",
       {block({0, 1}, {block({0}, {gate("h", {0})}), gate("cx", {1}, {0}, {1})})},
       "block_1 q[0], q[1];\n",
       {"gate block_0 a0 {\n  h a0;\n}", "gate block_1 a0, a1 {\n  block_0 a0;\n  cx a0, a1;\n}"}},
      {"nested block local only to the outer arity is inlined in the body",
       {block({0, 1}, {block({0}, {gate("h", {1})})})},
       "block_0 q[0], q[1];\n",
       {"gate block_0 a0, a1 {\n  h a1;\n}"}},
      {"inherited controls come first",
       {block({9}, {gate("x", {5}, {1}, {1}), block({9}, {gate("h", {6})}, {2}, {0})}, {0}, {0})},
       "negctrl @ ctrl @ x q[0], q[1], q[5];\nnegctrl @ negctrl @ h q[0], q[2], q[6];\n"},
      {"controlled block with a single-plain-control gate inside",
       {block({5}, {gate("cnot", {3}, {2}, {1}), with_param("rzz", {3, 4}, 0.5)}, {0}, {1})},
       "ctrl @ ctrl @ x q[0], q[2], q[3];\nctrl @ ctrl @ x q[0], q[3], q[4];\n"
       "ctrl @ rz(0.5) q[0], q[4];\nctrl @ ctrl @ x q[0], q[3], q[4];\n"},
      {"measurement in a definition",
       {block({3}, {measure({0}, IndexList{2})})},
       "block_0 q[3];\n",
       {"gate block_0 a0 {\n  measure a0 -> c[2];\n}"}},
      {"the same block list reused",
       {reused, moved, reused},
       "block_1 q[0], q[1];\nblock_1 q[4], q[5];\nblock_1 q[0], q[1];\n",
       {"gate block_0 a0 {\n  x a0;\n}", "gate block_1 a0, a1 {\n  h a0;\n  block_0 a1;\n}"}},
  });
}

TEST(Emission, Failures) {
  const std::string unsupported = "NotImplementedError: QASM 3.0 export does not support ";
  const std::string outside = "ValueError: Index ";
  expect_emits({
      {"a conditioned record", {if_record({0}, {gate("x", {0})})}, unsupported + "gate id 'if'"},
      {"block without targets",
       {block({}, {gate("h", {0})})},
       "ValueError: block gate requires target qubits"},
      {"cx without control",
       {gate("cx", {1})},
       "ValueError: cx requires at least one control qubit"},
      {"controls before targets",
       {gate("crz", {}, {}, {}, 0.5)},
       "ValueError: crz requires at least one control qubit"},
      {"crz two targets",
       {gate("crz", {1, 2}, {0}, {1}, 0.5)},
       "ValueError: crz requires exactly one target qubit"},
      {"mcx without control",
       {gate("mcx", {1})},
       "ValueError: mcx requires at least one control qubit"},
      {"cs two targets",
       {gate("cs", {1, 2}, {0}, {1})},
       "ValueError: cs requires exactly one target qubit"},
      {"cnot zero targets",
       {gate("cnot", {}, {0}, {1})},
       "ValueError: cnot requires exactly one target qubit"},
      {"cu with other controls",
       {gate("cu", {1}, {0}, {0})},
       unsupported + "gate id 'cu' with controls other than one control in state 1"},
      {"swap odd",
       {gate("swap", {0, 1, 2})},
       "ValueError: swap requires an even number of targets"},
      {"cu missing params", {gate("u", {1}, {0}, {1})}, "ValueError: Missing parameters"},
      {"cu too few params",
       {gate("u", {1}, {0}, {1}, list({0.1, 0.2}))},
       "ValueError: Expected 3 params, got 2"},
      {"unitary without matrix",
       {gate("unitary", {0})},
       unsupported + "arbitrary 'unitary' gates. Transpile the circuit before exporting."},
      {"unknown id", {gate("toffoli", {0})}, unsupported + "gate id 'toffoli'"},
      {"ccx is a name, not an id",
       {gate("ccx", {2}, {0, 1}, {1, 1})},
       unsupported + "gate id 'ccx'"},
      {"quoted id", {gate("it's\n", {0})}, unsupported + "gate id \"it's\\n\""},
      {"measure controlled",
       {measure({0}, IndexList{0}, {1}, {1})},
       unsupported + "controlled measurement."},
      {"measure in a controlled inlined block",
       {block({9}, {measure({1}, IndexList{0})}, {0}, {1})},
       unsupported + "controlled measurement."},
      {"measure without bits",
       {measure({0}, std::nullopt)},
       "ValueError: measure requires matching quantum and classical targets"},
      {"measure bit outside",
       {measure({0}, IndexList{8})},
       outside + "8 is outside declared registers"},
      {"rzz three targets",
       {with_param("rzz", {0, 1, 2}, 0.5)},
       "ValueError: rzz requires exactly two target qubits"},
      {"rzz two params",
       {with_param("rzz", {0, 1}, list({0.5, 0.5}))},
       "ValueError: Expected 1 params, got 2"},
      {"gp without param", {gate("gp", {})}, "ValueError: Missing parameters"},
      {"nan in a list",
       {with_param("rx", {0}, list({NOT_A_NUMBER}))},
       "ValueError: QASM gate parameter must be finite; got nan"},
      {"qubit outside", {gate("h", {16})}, outside + "16 is outside declared registers"},
      {"negative qubit", {gate("h", {-1})}, outside + "-1 is outside declared registers"},
      {"index checked before the rule",
       {gate("cx", {-1})},
       outside + "-1 is outside declared registers"},
      {"index checked before the id",
       {gate("toffoli", {0}, {INT64_MAX}, {1})},
       outside + "9223372036854775807 is outside declared registers"},
      {"targets of a phase are checked",
       {with_param("gp", {99}, 0.5)},
       outside + "99 is outside declared registers"},
  });
}

// ------------------------------------------------------------------ driver

TEST(Driver, ProgramFraming) {
  const std::string header(HEADER);
  GateSequence negative_count(0);
  negative_count.num_qubits = -3;
  const std::vector<std::pair<std::string, std::string>> rows = {
      {export_of(GateSequence(0)), header + "\nqubit[1] q;\n"},
      {export_of(sequence(2, {gate("h", {0}), gate("cnot", {1}, {0}, {1})})),
       header + "\nqubit[2] q;\n\nh q[0];\ncx q[0], q[1];\n"},
      // Definitions framed by empty lines.
      {export_of(sequence(3, {block({1, 2}, {gate("h", {0})}), gate("sqrty", {0})})),
       header +
           "\ngate block_0 a0, a1 {\n  h a0;\n}\ngate sqrty_1 a0 {\n  sdg a0;\n  h a0;\n  s a0;\n"
           "  h a0;\n  s a0;\n}\n\nqubit[3] q;\n\nblock_0 q[1], q[2];\nsqrty_1 q[0];\n"},
      {export_of(sequence(3, {measure({2}, IndexList{0})}),
                 {.qregs = RegisterList{{"data", 2}, {"anc", 1}}}),
       header + "\nqubit[2] data;\nqubit[1] anc;\nbit[1] c;\n\nmeasure anc[0] -> c[0];\n"},
      // The larger of the declared count and the indices used.
      {export_of(sequence(5, {gate("h", {1})})), header + "\nqubit[5] q;\n\nh q[1];\n"},
      {export_of(sequence(2, {gate("h", {3})})), header + "\nqubit[4] q;\n\nh q[3];\n"},
      {export_of(negative_count), header + "\nqubit[1] q;\n"},
      {export_of(GateSequence(1), {.cregs = RegisterList{{"m", 3}}}), header + "\nqubit[1] q;\n"},
      {export_of(GateSequence(1), {.num_clbits = 4}), header + "\nqubit[1] q;\nbit[4] c;\n"},
      {export_of(sequence(1, {measure({0}, IndexList{2})}), {.num_clbits = 1}),
       header + "\nqubit[1] q;\nbit[3] c;\n\nmeasure q[0] -> c[2];\n"},
      // Larger layouts are declared in full.
      {export_of(sequence(1, {measure({0}, IndexList{0})}),
                 {.qregs = RegisterList{{"a", 1}, {"b", 4}},
                  .cregs = RegisterList{{"m0", 1}, {"m1", 2}}}),
       header + "\nqubit[1] a;\nqubit[4] b;\nbit[1] m0;\nbit[2] m1;\n\nmeasure a[0] -> m0[0];\n"},
      // The positional form, and the same by name.
      {gate_sequence_to_qasm3(sequence(2, {measure({1}, IndexList{1})}), "qr", "cr"),
       header + "\nqubit[2] qr;\nbit[2] cr;\n\nmeasure qr[1] -> cr[1];\n"},
      {export_of(sequence(2, {measure({1}, IndexList{1})}), {.qreg_name = "qr", .creg_name = "cr"}),
       header + "\nqubit[2] qr;\nbit[2] cr;\n\nmeasure qr[1] -> cr[1];\n"},
      // Sizes count the indices inside blocks, also those only a definition's body uses.
      {export_of(sequence(0, {block({0, 0}, {gate("h", {1})})})),
       header + "\ngate block_0 a0, a1 {\n  h a1;\n}\n\nqubit[2] q;\n\nblock_0 q[0], q[0];\n"},
      {export_of(sequence(1, {block({0}, {measure({0}, IndexList{4})})})),
       header +
           "\ngate block_0 a0 {\n  measure a0 -> c[4];\n}\n\nqubit[1] q;\nbit[5] c;\n\nblock_0 "
           "q[0];\n"},
      {export_of(sequence(1, {block({0}, {gate("h", {5})})})),
       header + "\nqubit[6] q;\n\nh q[5];\n"},
      {export_of(sequence(1, {measure({0}, IndexList{INT64_MAX})})),
       header + "\nqubit[1] q;\nbit[9223372036854775808] c;\n\nmeasure q[0] -> "
                "c[9223372036854775807];\n"},
      {export_of(sequence(1, {gate("x", {INT64_MAX})})),
       header + "\nqubit[9223372036854775808] q;\n\nx q[9223372036854775807];\n"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
}

TEST(Driver, Failures) {
  EXPECT_THROW_MSG(export_of(GateSequence(3), {.qregs = RegisterList{{"a", 2}}}), ValueError,
                   "Register declarations cover 2 indices, but 3 are required");
  EXPECT_THROW_MSG(
      export_of(sequence(1, {measure({0}, IndexList{0})}), {.cregs = RegisterList{{"anc", 0}}}),
      ValueError, "Register 'anc' must have positive size");
  EXPECT_THROW_MSG(export_of(sequence(2, {gate("h", {-1})})), ValueError,
                   "Index -1 is outside declared registers");
  EXPECT_THROW_MSG(export_of(sequence(2, {measure({0}, IndexList{-2})}), {.num_clbits = 4}),
                   ValueError, "Index -2 is outside declared registers");
  EXPECT_THROW_MSG(
      export_of(sequence(2, {gate("h", {2})}), {.qregs = RegisterList{{"a", 1}, {"b", 1}}}),
      ValueError, "Register declarations cover 2 indices, but 3 are required");
}

// An error about one record names it, down to the innermost record inside blocks, in
// either layout and whether a block is written as a definition or inline; errors of the
// sequence as a whole name none.
TEST(Driver, FailuresNameTheirRecord) {
  struct Row {
    GateSequence gs;
    ExportOptions options;
    std::vector<std::size_t> path;
  };
  const QuantumGate bad = gate("toffoli", {0});
  const std::vector<Row> rows = {
      {sequence(2, {gate("h", {0}), gate("x", {1}), bad}), {}, {2}},
      {sequence(2, {gate("h", {0}), gate("h", {-1})}), {}, {1}},
      {sequence(2, {gate("h", {0}), bad}), {.qregs = RegisterList{{"q", 2}}}, {1}},
      {sequence(2, {block({0, 1}, {gate("h", {0})}), block({0, 1}, {gate("x", {1}), bad})}),
       {},
       {1, 1}},
      // Uses a qubit beyond its targets: written inline.
      {sequence(3, {block({0}, {gate("h", {0}), gate("cx", {2})})}), {}, {0, 1}},
      {sequence(2,
                {gate("h", {0}), block({0}, {gate("x", {0}), block({0}, {gate("h", {0}), bad})})}),
       {.qregs = RegisterList{{"q", 2}}},
       {1, 1, 1}},
      {sequence(1, {block({}, {gate("h", {0})})}), {}, {0}},
      {sequence(1, {measure({0}, IndexList{0, 1})}), {}, {0}},
      {sequence(3, {gate("h", {0})}), {.qregs = RegisterList{{"a", 2}}}, {}},
      {sequence(1, {bad, nested_blocks(MAX_NESTING_DEPTH + 5, {0})}), {}, {}},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    try {
      export_of(rows[i].gs, rows[i].options);
      ADD_FAILURE() << "row " << i << ": nothing was thrown";
    } catch (const Error& e) {
      EXPECT_EQ(e.record_path(), rows[i].path) << "row " << i << ": " << e.what();
      EXPECT_FALSE(e.location().has_value()) << "row " << i;
    }
  }
}

// ------------------------------------------------------------------ nesting

TEST(Nesting, TooDeepIsReportedFirst) {
  // Sizing walks every block before any statement is written, so nesting too deep wins
  // over a failure of an earlier gate, with the default registers as with declared ones.
  const GateSequence gs = sequence(
      1, {gate("toffoli", {0}), gate("h", {-1}), nested_blocks(MAX_NESTING_DEPTH + 5, {0})});
  EXPECT_THROW_MSG(export_of(gs), RecursionError, "maximum recursion depth exceeded");
  EXPECT_THROW_MSG(export_of(gs, {.qregs = RegisterList{{"q", 1}}}), RecursionError,
                   "maximum recursion depth exceeded");
  const GateSequence shallow = sequence(1, {gate("toffoli", {0}), nested_blocks(20, {0})});
  EXPECT_THROW_MSG(export_of(shallow), NotImplementedError,
                   "QASM 3.0 export does not support gate id 'toffoli'");
}

TEST(Nesting, DeepChainsRaiseRecursionError) {
  const std::vector<QuantumGate> gates = {nested_blocks(100'000, {0})};
  EXPECT_THROW_MSG(export_of(sequence(1, gates)), RecursionError,
                   "maximum recursion depth exceeded");
  // Emission called on its own is bounded too, writing definitions or inlining.
  const RegisterIndexer qubits({{"q", 8}});
  for (const bool allow_gate_defs : {true, false}) {
    Qasm3Ctx ctx;
    StatementLines out;
    EXPECT_THROW_MSG(
        emit_sequence(gates, ctx, QubitNames(qubits), qubits, {}, {}, allow_gate_defs, out),
        RecursionError, "maximum recursion depth exceeded");
  }
  // Well within the bound, deep chains export in full (the bound also watches the stack,
  // whose frames sanitizer builds make several times larger).
  const std::string program = export_of(sequence(1, {nested_blocks(300, {0})}));
  EXPECT_NE(program.find("gate block_299 a0 {\n  block_298 a0;\n}"), std::string::npos);
  EXPECT_NE(program.find("\nblock_299 q[0];\n"), std::string::npos);
}

TEST(Nesting, SharedBlocksAreWalkedOnce) {
  // Each level calls the level below twice: 2^60 gates if expanded, 61 definitions.
  QuantumGate level = block({0}, {gate("h", {0})});
  for (int i = 0; i < 60; ++i)
    level = block({0}, {level, level});
  EXPECT_NE(
      export_of(sequence(1, {level})).find("gate block_60 a0 {\n  block_59 a0;\n  block_59 a0;\n}"),
      std::string::npos);
  // A shared list reached deeper than it was first seen still counts its own levels.
  const QuantumGate tall = nested_blocks(400, {0});
  EXPECT_EQ(outcome_of([&] { export_of(sequence(1, {tall, tall})); }), "ok");
  EXPECT_EQ(outcome_of([&] {
              export_of(sequence(1, {tall, nested_blocks(300, {0}), block({0}, {tall})}));
            }),
            "ok");
  QuantumGate deeper = tall;
  for (int i = 0; i < 700; ++i)
    deeper = block({0}, {deeper});
  EXPECT_THROW_MSG(export_of(sequence(1, {tall, deeper})), RecursionError,
                   "maximum recursion depth exceeded");
  EXPECT_THROW_MSG(export_of(sequence(1, {tall, deeper}), {.qregs = RegisterList{{"q", 1}}}),
                   RecursionError, "maximum recursion depth exceeded");
}

}  // namespace
}  // namespace corvane::qasm3::detail
