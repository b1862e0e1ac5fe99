// The exporter: register layout, names and parameters, the definition accumulator,
// statement emission and the driver's program text.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "qasm3_export.hpp"
#include "test_support.hpp"
#include "text.hpp"

namespace corvane::qasm3::detail {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ------------------------------------------------------------------ gate builders

QuantumGate gate(std::string id, IndexList targets, IndexList controls = {}, IndexList states = {},
                 Parameter param = {}) {
  return {std::move(id), std::move(targets), std::move(controls), std::move(states),
          std::move(param)};
}

QuantumGate with_param(std::string id, IndexList targets, Parameter param) {
  return gate(std::move(id), std::move(targets), {}, {}, std::move(param));
}

QuantumGate block(IndexList targets, std::vector<QuantumGate> body, IndexList controls = {},
                  IndexList states = {}) {
  QuantumGate b = gate("block", std::move(targets), std::move(controls), std::move(states));
  b.set_block_gate_sequence(make_block(std::move(body)));
  return b;
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

// Statements and definitions written for `gates` over q[16] and c[8].
struct Emitted {
  std::vector<std::string> lines;
  std::vector<std::string> defs;
};

Emitted emit(const std::vector<QuantumGate>& gates) {
  Qasm3Ctx ctx;
  const RegisterIndexer qubits({{"q", 16}});
  const RegisterIndexer bits({{"c", 8}});
  StatementLines out;
  emit_sequence(gates, ctx, QubitNames(qubits), bits, {}, {}, true, out);
  return {out.lines(), ctx.gate_defs()};
}

std::string export_of(const GateSequence& gs, const ExportOptions& options = {}) {
  return gate_sequence_to_qasm3(gs, options);
}

GateSequence sequence(std::int64_t num_qubits, std::vector<QuantumGate> gates) {
  GateSequence gs(num_qubits);
  for (QuantumGate& g : gates)
    gs.add_gate(std::move(g));
  return gs;
}

constexpr std::string_view kHeader = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";

// ------------------------------------------------------------------ register layout

TEST(RegisterLayout, MaxQubitIndexLooksIntoBlocks) {
  EXPECT_EQ(max_qubit_index({}), -1);
  EXPECT_EQ(max_qubit_index({gate("cx", {2}, {5}, {1})}), 5);
  EXPECT_EQ(max_qubit_index({gate("h", {3}), block({0}, {gate("x", {7})})}), 7);
  EXPECT_EQ(max_qubit_index({gate("h", {-4})}), -1);
  // Only "block" records are looked into.
  QuantumGate not_a_block = gate("h", {1});
  not_a_block.set_block_gate_sequence(make_block({gate("x", {9})}));
  EXPECT_EQ(max_qubit_index({not_a_block}), 1);
  EXPECT_EQ(max_qubit_index({gate("h", {INT64_MAX})}), INT64_MAX);
}

TEST(RegisterLayout, NumClbits) {
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
      {{block({0}, {measure({0}, IndexList{2})})}, {}, 3},
      {{block({0}, {measure({0}, IndexList{2})})}, 1, 3},
      {{gate("h", {0})}, -5, 0},
      {{measure({0}, IndexList{-3})}, {}, 0},
      {{measure({0}, std::nullopt)}, {}, 0},
      // Classical targets of records other than measurements do not count.
      {{[] {
         QuantumGate g = gate("x", {0});
         g.set_classical_target(IndexList{6});
         return g;
       }()},
       {},
       0},
      {{measure({0}, IndexList{INT64_MAX})}, {}, std::uint64_t{1} << 63U},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(num_clbits(rows[i].gates, rows[i].declared), rows[i].expected);
  }
}

TEST(RegisterLayout, NormalizeRegisters) {
  const RegisterList ab = {{"a", 2}, {"b", 1}};
  EXPECT_EQ(normalize_registers(std::nullopt, "q", 3), (RegisterViews{{"q", 3}}));
  EXPECT_EQ(normalize_registers(RegisterList{{"a", -1}}, "q", 0), RegisterViews{});
  EXPECT_EQ(normalize_registers(ab, "q", 3), (RegisterViews{{"a", 2}, {"b", 1}}));
  EXPECT_EQ(normalize_registers(ab, "q", 2), (RegisterViews{{"a", 2}, {"b", 1}}));
  EXPECT_THROW_MSG(normalize_registers(ab, "q", 4), ValueError,
                   "Register declarations cover 3 indices, but 4 are required");
  EXPECT_THROW_MSG(normalize_registers(RegisterList{}, "q", 1), ValueError,
                   "Register declarations cover 0 indices, but 1 are required");
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
  const std::vector<std::pair<std::int64_t, std::string>> rows = {
      {0, "a[0]"}, {1, "a[1]"}, {2, "b[0]"}, {4, "b[2]"}};
  for (const auto& [idx, text] : rows)
    EXPECT_EQ(two(idx), text);
  EXPECT_THROW_MSG(two(5), ValueError, "Index 5 is outside declared registers");
  EXPECT_THROW_MSG(two(-1), ValueError, "Index -1 is outside declared registers");
  EXPECT_THROW_MSG(two(INT64_MIN), ValueError,
                   "Index -9223372036854775808 is outside declared registers");
  const RegisterIndexer none(RegisterViews{});
  EXPECT_THROW_MSG(none(0), ValueError, "Index 0 is outside declared registers");

  // Many registers: found by binary search, each boundary exact.
  RegisterViews many;
  std::vector<std::string> names;
  names.reserve(1000);
  for (int i = 0; i < 1000; ++i)
    names.push_back(std::string("r").append(std::to_string(i)));
  for (int i = 0; i < 1000; ++i)
    many.push_back({names[static_cast<std::size_t>(i)], 3});
  const RegisterIndexer indexer(many);
  EXPECT_EQ(indexer(0), "r0[0]");
  EXPECT_EQ(indexer(2999), "r999[2]");
  EXPECT_EQ(indexer(1500), "r500[0]");
  EXPECT_EQ(indexer(1502), "r500[2]");
  EXPECT_THROW_MSG(indexer(3000), ValueError, "Index 3000 is outside declared registers");

  // Indices at the int64 limit.
  const RegisterIndexer huge({{"big", std::uint64_t{1} << 63U}});
  EXPECT_EQ(huge(INT64_MAX), "big[9223372036854775807]");
  const RegisterIndexer split({{"a", 5}, {"b", UINT64_MAX}});
  EXPECT_EQ(split(INT64_MAX), "b[9223372036854775802]");
}

// ------------------------------------------------------------------ names and parameters

TEST(Names, Qasm3Name) {
  const std::vector<std::pair<std::string_view, std::string_view>> rows = {
      {"mcry", "ry"},   {"crx", "rx"},       {"cnot", "cx"},
      {"s_dag", "sdg"}, {"u", "U"},          {"i", "id"},
      {"x", "x"},       {"mcx", "mcx"},      {"global_phase", "gphase"},
      {"gp", "gphase"}, {"phase_gate", "p"}, {"sqrtx", "sx"},
      {"U", "U"}};
  for (const auto& [id, name] : rows)
    EXPECT_EQ(qasm3_name(id), name) << id;
}

TEST(Parameters, FmtParam) {
  const std::vector<std::pair<Parameter, std::string>> rows = {
      {0.5, "0.5"},
      {1.0, "1"},
      {3, "3"},
      {true, "1"},
      {false, "0"},
      {3.141592653589793, "3.14159265358979"},
      {-1.5707963267948966, "-1.5707963267949"},
      {0.1 + 0.2, "0.3"},
      {1e-05, "1e-05"},
      {0.0001, "0.0001"},
      {1e15, "1e+15"},
      {123456789012345.0, "123456789012345"},
      {1234567890123456.0, "1.23456789012346e+15"},
      {-0.0, "-0"},
      {std::int64_t{INT64_MAX}, "9.22337203685478e+18"},
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
      {kInf, "inf"},
      {-kInf, "-inf"},
      {kNaN, "nan"},
      {-kNaN, "nan"},
      {Matrix(1, 1, {{kInf, 0.0}}), "[[inf+0.0j]]"},
  };
  for (const auto& [param, shown] : failing) {
    EXPECT_THROW_MSG(fmt_param(param), ValueError,
                     "QASM gate parameter must be finite; got " + shown);
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
      {list({0.5, kInf}), {}, "ValueError: QASM gate parameter must be finite; got inf"},
      {"pi/2", 2, "pi/2"},
      {Matrix(1, 1, {{2.0, 0.0}}), 3, "2"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    std::string text;
    const std::string outcome =
        outcome_of([&] { text = fmt_params(rows[i].params, rows[i].expected); });
    EXPECT_EQ(outcome == "ok" ? text : outcome, rows[i].outcome);
  }
}

TEST(Parameters, HasParam) {
  EXPECT_FALSE(has_param(gate("h", {0})));
  EXPECT_FALSE(has_param(with_param("h", {0}, list({}))));
  EXPECT_TRUE(has_param(with_param("rx", {0}, 0.0)));
  EXPECT_TRUE(has_param(with_param("rx", {0}, list({0.0}))));
  EXPECT_TRUE(has_param(with_param("rx", {0}, "")));
  EXPECT_TRUE(has_param(with_param("rx", {0}, Matrix())));
}

// ------------------------------------------------------------------ accumulator

TEST(Accumulator, NamesShareOneCounter) {
  Qasm3Ctx ctx;
  EXPECT_EQ(ctx.new_name(), "block_0");
  EXPECT_EQ(ctx.new_name(), "block_1");
  EXPECT_EQ(ctx.new_name("sqrty"), "sqrty_2");
  EXPECT_EQ(ctx.counter(), 3);
  EXPECT_TRUE(ctx.gate_defs().empty());
}

TEST(Accumulator, DefinitionsAreSharedByArityAndBody) {
  Qasm3Ctx ctx;
  EXPECT_EQ(ctx.find_or_create_def(2, {"h a0;", "cx a0, a1;"}), "block_0");
  EXPECT_EQ(ctx.find_or_create_def(2, {"h a0;", "cx a0, a1;"}, "other"), "block_0");
  EXPECT_EQ(ctx.counter(), 1);
  EXPECT_EQ(ctx.find_or_create_def(3, {"h a0;", "cx a0, a1;"}), "block_1");
  EXPECT_EQ(ctx.find_or_create_def(2, {"h a0;"}, "other"), "other_2");
  EXPECT_EQ(ctx.find_or_create_def(1, {}), "block_3");
  EXPECT_EQ(ctx.find_or_create_def(0, {}), "block_4");
  // Same text, different line boundaries: different bodies.
  EXPECT_EQ(ctx.find_or_create_def(1, {"rx(a\nb) a0;"}), "block_5");
  EXPECT_EQ(ctx.find_or_create_def(1, {"rx(a", "b) a0;"}), "block_6");
  const std::vector<std::string> expected = {
      "gate block_0 a0, a1 {\n  h a0;\n  cx a0, a1;\n}",
      "gate block_1 a0, a1, a2 {\n  h a0;\n  cx a0, a1;\n}",
      "gate other_2 a0, a1 {\n  h a0;\n}",
      "gate block_3 a0 {\n}",
      "gate block_4  {\n}",
      "gate block_5 a0 {\n  rx(a\nb) a0;\n}",
      "gate block_6 a0 {\n  rx(a\n  b) a0;\n}",
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

struct EmitCase {
  std::string name;
  std::vector<QuantumGate> gates;
  std::vector<std::string> lines;
  std::vector<std::string> defs = {};
};

void expect_emits(const std::vector<EmitCase>& cases) {
  for (const EmitCase& c : cases) {
    SCOPED_TRACE(c.name);
    Emitted got;
    const std::string outcome = outcome_of([&] { got = emit(c.gates); });
    ASSERT_EQ(outcome, "ok");
    EXPECT_EQ(got.lines, c.lines);
    EXPECT_EQ(got.defs, c.defs);
  }
}

struct FailCase {
  std::string name;
  std::vector<QuantumGate> gates;
  std::string outcome;
};

void expect_failures(const std::vector<FailCase>& cases) {
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome_of([&] { emit(c.gates); }), c.outcome);
  }
}

const Matrix kIdentity(2, 2, {{1, 0}, {0, 0}, {0, 0}, {1, 0}});
const Matrix kPauliX(2, 2, {{0, 0}, {1, 0}, {1, 0}, {0, 0}});

TEST(Emission, OneQubitAndControlledGates) {
  expect_emits({
      {"empty", {}, {}},
      {"id", {gate("i", {0})}, {"id q[0];"}},
      {"sdg", {gate("s_dag", {0})}, {"sdg q[0];"}},
      {"sx", {gate("sqrtx", {0})}, {"sx q[0];"}},
      {"p", {with_param("phase_gate", {0}, 0.5)}, {"p(0.5) q[0];"}},
      {"text param", {with_param("rx", {3}, "pi/2")}, {"rx(pi/2) q[3];"}},
      {"per target", {gate("h", {0, 1, 2})}, {"h q[0];", "h q[1];", "h q[2];"}},
      {"per target with params",
       {gate("rx", {0, 1}, {5}, {0}, 0.5)},
       {"negctrl @ rx(0.5) q[5], q[0];", "negctrl @ rx(0.5) q[5], q[1];"}},
      {"no targets", {gate("h", {}), with_param("rx", {}, kInf)}, {}},
      {"controlled x keeps modifiers", {gate("x", {1}, {0}, {1})}, {"ctrl @ x q[0], q[1];"}},
      {"U", {with_param("u", {0}, list({0.1, 0.2, 0.3}))}, {"U(0.1, 0.2, 0.3) q[0];"}},
      {"cu",
       {gate("u", {1}, {0}, {1}, list({0.1, 0.2, 0.3}))},
       {"cu(0.1, 0.2, 0.3, 0) q[0], q[1];"}},
      {"u negctrl",
       {gate("u", {1}, {0}, {0}, list({0.1, 0.2, 0.3}))},
       {"negctrl @ U(0.1, 0.2, 0.3) q[0], q[1];"}},
      {"cnot", {gate("cnot", {1}, {0}, {1})}, {"cx q[0], q[1];"}},
      {"cx negctrl", {gate("cx", {1}, {0}, {0})}, {"negctrl @ x q[0], q[1];"}},
      {"cz twice controlled",
       {gate("cz", {2}, {0, 1}, {1, 1})},
       {"ctrl @ ctrl @ z q[0], q[1], q[2];"}},
      {"cx without states", {gate("cx", {1}, {0}, {})}, {"x q[0], q[1];"}},
      {"ch with param under modifiers",
       {gate("ch", {2}, {0, 1}, {1, 0}, 0.5)},
       {"ctrl @ negctrl @ h(0.5) q[0], q[1], q[2];"}},
      {"cu single plain control",
       {gate("cu", {1}, {0}, {1}, list({0.1, 0.2, 0.3, 0.4}))},
       {"cu q[0], q[1];"}},
      {"crz", {gate("crz", {1}, {0}, {1}, 0.5)}, {"crz(0.5) q[0], q[1];"}},
      {"mcrx",
       {gate("mcrx", {2}, {0, 1}, {1, 0}, 0.5)},
       {"ctrl @ negctrl @ rx(0.5) q[0], q[1], q[2];"}},
      {"cp negctrl", {gate("cp", {1}, {0}, {0}, 0.25)}, {"negctrl @ p(0.25) q[0], q[1];"}},
      {"mcp single", {gate("mcp", {1}, {0}, {1}, 0.25)}, {"cp(0.25) q[0], q[1];"}},
      {"crx without params", {gate("crx", {1}, {0}, {1})}, {"crx q[0], q[1];"}},
      {"mcry two",
       {gate("mcry", {2}, {0, 1}, {1, 1}, 0.5)},
       {"ctrl @ ctrl @ ry(0.5) q[0], q[1], q[2];"}},
      {"ccx", {gate("mcx", {2}, {0, 1}, {1, 1})}, {"ccx q[0], q[1], q[2];"}},
      {"mcx negctrl", {gate("mcx", {2}, {0, 1}, {1, 0})}, {"ctrl @ negctrl @ x q[0], q[1], q[2];"}},
      {"mcx three",
       {gate("mcx", {3}, {0, 1, 2}, {1, 1, 1})},
       {"ctrl @ ctrl @ ctrl @ x q[0], q[1], q[2], q[3];"}},
      {"mcx one", {gate("mcx", {1}, {0}, {1})}, {"ctrl @ x q[0], q[1];"}},
      {"cs", {gate("cs", {1}, {0}, {1})}, {"ctrl @ s q[0], q[1];"}},
      {"mcz", {gate("mcz", {1}, {0}, {0})}, {"negctrl @ z q[0], q[1];"}},
      {"state 2 is negctrl", {gate("mch", {1}, {0}, {2})}, {"negctrl @ h q[0], q[1];"}},
      {"swap pairs", {gate("swap", {0, 1, 2, 3})}, {"swap q[0], q[1];", "swap q[2], q[3];"}},
      {"cswap", {gate("swap", {1, 2}, {0}, {1})}, {"cswap q[0], q[1], q[2];"}},
      {"swap negctrl", {gate("swap", {1, 2}, {0}, {0})}, {"negctrl @ swap q[0], q[1], q[2];"}},
      {"swap without targets", {gate("swap", {})}, {}},
      {"swap writes no parameters", {gate("swap", {0, 1}, {}, {}, 0.5)}, {"swap q[0], q[1];"}},
      {"block record without sequence", {gate("block", {0, 1})}, {}},
  });
}

TEST(Emission, SpecialOperations) {
  expect_emits({
      {"measure",
       {measure({0, 1}, IndexList{1, 0})},
       {"measure q[0] -> c[1];", "measure q[1] -> c[0];"}},
      {"measure nothing", {measure({}, std::nullopt)}, {}},
      {"rzz",
       {with_param("rzz", {0, 1}, 0.5)},
       {"cx q[0], q[1];", "rz(0.5) q[1];", "cx q[0], q[1];"}},
      {"rzz controlled",
       {gate("rzz", {0, 1}, {2}, {0}, 0.5)},
       {"negctrl @ ctrl @ x q[2], q[0], q[1];", "negctrl @ rz(0.5) q[2], q[1];",
        "negctrl @ ctrl @ x q[2], q[0], q[1];"}},
      {"-z", {gate("-z", {3})}, {"gphase(3.14159265358979) ;", "z q[3];"}},
      {"-z controlled",
       {gate("-z", {1}, {0}, {1})},
       {"ctrl @ gphase(3.14159265358979) q[0];", "ctrl @ z q[0], q[1];"}},
      {"-z two targets",
       {gate("-z", {1, 2})},
       {"gphase(3.14159265358979) ;", "z q[1];", "gphase(3.14159265358979) ;", "z q[2];"}},
      {"gp", {with_param("gp", {5}, 0.5)}, {"gphase(0.5);"}},
      {"global_phase one-entry list",
       {with_param("global_phase", {}, list({0.5}))},
       {"gphase(0.5);"}},
      {"gp controlled",
       {gate("gp", {4}, {0, 1}, {1, 0}, 0.5)},
       {"ctrl @ negctrl @ gphase(0.5) q[0], q[1];"}},
      {"unitary",
       {unitary(kIdentity, {0})},
       {"unitary(1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0) q[0];"}},
      {"unitary controlled",
       {unitary(kPauliX, {0}, {1}, {0})},
       {"negctrl @ unitary(0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0) q[1], q[0];"}},
      {"unitary shortest floats",
       {unitary(Matrix(1, 3, {{1e-17, 0}, {0, -0.5}, {-0.0, -0.5}}), {0})},
       {"unitary(1e-17, 0.0, 0.0, -0.5, -0.0, -0.5) q[0];"}},
      {"unitary wide range",
       {unitary(
           Matrix(1, 3, {{0.7071067811865476, 1e16}, {1000000000000000.0, 2.5e-07}, {kNaN, -kInf}}),
           {0})},
       {"unitary(0.7071067811865476, 1e+16, 1000000000000000.0, 2.5e-07, nan, -inf) q[0];"}},
  });
}

TEST(Emission, NonStandardGatesTakeAFreshNameEachUse) {
  expect_emits({
      {"two sqrty",
       {gate("sqrty", {0}), gate("sqrty", {0})},
       {"sqrty_0 q[0];", "sqrty_1 q[0];"},
       {"gate sqrty_0 a0 {\n  sdg a0;\n  h a0;\n  s a0;\n  h a0;\n  s a0;\n}",
        "gate sqrty_1 a0 {\n  sdg a0;\n  h a0;\n  s a0;\n  h a0;\n  s a0;\n}"}},
      {"controlled with params",
       {gate("sqrtx_dag", {1}, {0}, {1}, 0.5)},
       {"ctrl @ sqrtx_dag_0(0.5) q[0], q[1];"},
       {"gate sqrtx_dag_0 a0 {\n  h a0;\n  sdg a0;\n  h a0;\n}"}},
  });
}

TEST(Emission, Blocks) {
  const std::vector<QuantumGate> h_cx = {gate("h", {0}), gate("cx", {1}, {0}, {1})};
  const std::string h_cx_def = "gate block_0 a0, a1 {\n  h a0;\n  cx a0, a1;\n}";
  const std::string sqrty_body = "\n  sdg a0;\n  h a0;\n  s a0;\n  h a0;\n  s a0;\n}";
  expect_emits({
      {"controlled local block",
       {block({3, 4}, h_cx, {0}, {1})},
       {"ctrl @ block_0 q[0], q[3], q[4];"},
       {h_cx_def}},
      {"non-local block is inlined",
       {block({3, 4}, {gate("h", {5}), gate("cx", {5}, {2}, {1})}, {0}, {1})},
       {"ctrl @ h q[0], q[5];", "ctrl @ ctrl @ x q[0], q[2], q[5];"}},
      {"empty block", {block({0, 1}, {})}, {"block_0 q[0], q[1];"}, {"gate block_0 a0, a1 {\n}"}},
      {"identical bodies share",
       {block({0, 1}, h_cx), block({2, 3}, h_cx, {5}, {0}), block({6, 7}, h_cx)},
       {"block_0 q[0], q[1];", "negctrl @ block_0 q[5], q[2], q[3];", "block_0 q[6], q[7];"},
       {h_cx_def}},
      {"different arity, different definition",
       {block({0, 1}, h_cx), block({0, 1, 2}, h_cx)},
       {"block_0 q[0], q[1];", "block_1 q[0], q[1], q[2];"},
       {h_cx_def, "gate block_1 a0, a1, a2 {\n  h a0;\n  cx a0, a1;\n}"}},
      {"non-standard gates keep blocks apart",
       {block({0}, {gate("sqrty", {0})}), block({1}, {gate("sqrty", {0})})},
       {"block_1 q[0];", "block_3 q[1];"},
       {"gate sqrty_0 a0 {" + sqrty_body, "gate block_1 a0 {\n  sqrty_0 a0;\n}",
        "gate sqrty_2 a0 {" + sqrty_body, "gate block_3 a0 {\n  sqrty_2 a0;\n}"}},
      {"nested: inner defined first",
       {block({0, 1}, {block({0}, {gate("h", {0})}), gate("cx", {1}, {0}, {1})})},
       {"block_1 q[0], q[1];"},
       {"gate block_0 a0 {\n  h a0;\n}", "gate block_1 a0, a1 {\n  block_0 a0;\n  cx a0, a1;\n}"}},
      {"nested block local only to the outer arity is inlined in the body",
       {block({0, 1}, {block({0}, {gate("h", {1})})})},
       {"block_0 q[0], q[1];"},
       {"gate block_0 a0, a1 {\n  h a1;\n}"}},
      {"inherited controls come first",
       {block({9}, {gate("x", {5}, {1}, {1}), block({9}, {gate("h", {6})}, {2}, {0})}, {0}, {0})},
       {"negctrl @ ctrl @ x q[0], q[1], q[5];", "negctrl @ negctrl @ h q[0], q[2], q[6];"}},
      {"controlled block with a single-plain-control gate inside",
       {block({5}, {gate("cnot", {3}, {2}, {1}), with_param("rzz", {3, 4}, 0.5)}, {0}, {1})},
       {"ctrl @ ctrl @ x q[0], q[2], q[3];", "ctrl @ ctrl @ x q[0], q[3], q[4];",
        "ctrl @ rz(0.5) q[0], q[4];", "ctrl @ ctrl @ x q[0], q[3], q[4];"}},
      {"measurement in a definition",
       {block({3}, {measure({0}, IndexList{2})})},
       {"block_0 q[3];"},
       {"gate block_0 a0 {\n  measure a0 -> c[2];\n}"}},
      {"the same block list reused",
       [] {
         QuantumGate b = block({0, 1}, {gate("h", {0}), block({1}, {gate("x", {0})})});
         QuantumGate moved = b;
         moved.target = {4, 5};
         return std::vector<QuantumGate>{b, moved, b};
       }(),
       {"block_1 q[0], q[1];", "block_1 q[4], q[5];", "block_1 q[0], q[1];"},
       {"gate block_0 a0 {\n  x a0;\n}", "gate block_1 a0, a1 {\n  h a0;\n  block_0 a1;\n}"}},
  });
}

TEST(Emission, Failures) {
  expect_failures({
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
       "NotImplementedError: QASM 3.0 export does not support gate id 'cu' with controls other "
       "than "
       "one control in state 1"},
      {"swap odd",
       {gate("swap", {0, 1, 2})},
       "ValueError: swap requires an even number of targets"},
      {"cu missing params", {gate("u", {1}, {0}, {1})}, "ValueError: Missing parameters"},
      {"cu too few params",
       {gate("u", {1}, {0}, {1}, list({0.1, 0.2}))},
       "ValueError: Expected 3 params, got 2"},
      {"unitary without matrix",
       {gate("unitary", {0})},
       "NotImplementedError: QASM 3.0 export does not support arbitrary 'unitary' gates. Transpile "
       "the circuit before exporting."},
      {"unknown id",
       {gate("toffoli", {0})},
       "NotImplementedError: QASM 3.0 export does not support gate id 'toffoli'"},
      {"ccx is a name, not an id",
       {gate("ccx", {2}, {0, 1}, {1, 1})},
       "NotImplementedError: QASM 3.0 export does not support gate id 'ccx'"},
      {"quoted id",
       {gate("it's\n", {0})},
       "NotImplementedError: QASM 3.0 export does not support gate id \"it's\\n\""},
      {"measure controlled",
       {measure({0}, IndexList{0}, {1}, {1})},
       "NotImplementedError: QASM 3.0 export does not support controlled measurement."},
      {"measure in a controlled inlined block",
       {block({9}, {measure({1}, IndexList{0})}, {0}, {1})},
       "NotImplementedError: QASM 3.0 export does not support controlled measurement."},
      {"measure without bits",
       {measure({0}, std::nullopt)},
       "ValueError: measure requires matching quantum and classical targets"},
      {"measure bit outside",
       {measure({0}, IndexList{8})},
       "ValueError: Index 8 is outside declared registers"},
      {"rzz three targets",
       {with_param("rzz", {0, 1, 2}, 0.5)},
       "ValueError: rzz requires exactly two target qubits"},
      {"rzz two params",
       {with_param("rzz", {0, 1}, list({0.5, 0.5}))},
       "ValueError: Expected 1 params, got 2"},
      {"gp without param", {gate("gp", {})}, "ValueError: Missing parameters"},
      {"non-finite",
       {with_param("rx", {0}, kInf)},
       "ValueError: QASM gate parameter must be finite; got inf"},
      {"nan in a list",
       {with_param("rx", {0}, list({kNaN}))},
       "ValueError: QASM gate parameter must be finite; got nan"},
      {"qubit outside", {gate("h", {16})}, "ValueError: Index 16 is outside declared registers"},
      {"negative qubit", {gate("h", {-1})}, "ValueError: Index -1 is outside declared registers"},
      {"index checked before the rule",
       {gate("cx", {-1})},
       "ValueError: Index -1 is outside declared registers"},
      {"index checked before the id",
       {gate("toffoli", {0}, {INT64_MAX}, {1})},
       "ValueError: Index 9223372036854775807 is outside declared registers"},
      {"targets of a phase are checked",
       {with_param("gp", {99}, 0.5)},
       "ValueError: Index 99 is outside declared registers"},
  });
}

// ------------------------------------------------------------------ driver

TEST(Driver, ProgramFraming) {
  struct Row {
    std::string name;
    std::string program;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"empty", export_of(GateSequence(0)), std::string(kHeader) + "\nqubit[1] q;\n"},
      {"round-trip example", export_of(sequence(2, {gate("h", {0}), gate("cnot", {1}, {0}, {1})})),
       std::string(kHeader) + "\nqubit[2] q;\n\nh q[0];\ncx q[0], q[1];\n"},
      {"definitions framed by empty lines",
       export_of(sequence(3, {block({1, 2}, {gate("h", {0})}), gate("sqrty", {0})})),
       std::string(kHeader) +
           "\ngate block_0 a0, a1 {\n  h a0;\n}\ngate sqrty_1 a0 {\n  sdg a0;\n  h a0;\n  s a0;\n"
           "  h a0;\n  s a0;\n}\n\nqubit[3] q;\n\nblock_0 q[1], q[2];\nsqrty_1 q[0];\n"},
      {"explicit layouts",
       export_of(sequence(3, {measure({2}, IndexList{0})}),
                 {.qregs = RegisterList{{"data", 2}, {"anc", 1}}}),
       std::string(kHeader) +
           "\nqubit[2] data;\nqubit[1] anc;\nbit[1] c;\n\nmeasure anc[0] -> c[0];\n"},
      {"declared count wins", export_of(sequence(5, {gate("h", {1})})),
       std::string(kHeader) + "\nqubit[5] q;\n\nh q[1];\n"},
      {"used index wins", export_of(sequence(2, {gate("h", {3})})),
       std::string(kHeader) + "\nqubit[4] q;\n\nh q[3];\n"},
      {"cregs ignored without bits", export_of(GateSequence(1), {.cregs = RegisterList{{"m", 3}}}),
       std::string(kHeader) + "\nqubit[1] q;\n"},
      {"num_clbits declared", export_of(GateSequence(1), {.num_clbits = 4}),
       std::string(kHeader) + "\nqubit[1] q;\nbit[4] c;\n"},
      {"num_clbits raised", export_of(sequence(1, {measure({0}, IndexList{2})}), {.num_clbits = 1}),
       std::string(kHeader) + "\nqubit[1] q;\nbit[3] c;\n\nmeasure q[0] -> c[2];\n"},
      {"larger layouts declared in full",
       export_of(sequence(1, {measure({0}, IndexList{0})}),
                 {.qregs = RegisterList{{"a", 1}, {"b", 4}},
                  .cregs = RegisterList{{"m0", 1}, {"m1", 2}}}),
       std::string(kHeader) +
           "\nqubit[1] a;\nqubit[4] b;\nbit[1] m0;\nbit[2] m1;\n\nmeasure a[0] -> m0[0];\n"},
      {"custom names",
       gate_sequence_to_qasm3(sequence(2, {measure({1}, IndexList{1})}), "qr", "cr"),
       std::string(kHeader) + "\nqubit[2] qr;\nbit[2] cr;\n\nmeasure qr[1] -> cr[1];\n"},
      {"negative declared qubit count", export_of([] {
         GateSequence gs(0);
         gs.num_qubits = -3;
         return gs;
       }()),
       std::string(kHeader) + "\nqubit[1] q;\n"},
      // Sizes count the indices inside blocks, also those only a definition's body uses.
      {"local index beyond the operands", export_of(sequence(0, {block({0, 0}, {gate("h", {1})})})),
       std::string(kHeader) +
           "\ngate block_0 a0, a1 {\n  h a1;\n}\n\nqubit[2] q;\n\nblock_0 q[0], q[0];\n"},
      {"bits measured inside a definition",
       export_of(sequence(1, {block({0}, {measure({0}, IndexList{4})})})),
       std::string(kHeader) +
           "\ngate block_0 a0 {\n  measure a0 -> c[4];\n}\n\nqubit[1] q;\nbit[5] c;\n\nblock_0 "
           "q[0];\n"},
      {"inlined block", export_of(sequence(1, {block({0}, {gate("h", {5})})})),
       std::string(kHeader) + "\nqubit[6] q;\n\nh q[5];\n"},
      {"bit at the int64 limit", export_of(sequence(1, {measure({0}, IndexList{INT64_MAX})})),
       std::string(kHeader) + "\nqubit[1] q;\nbit[9223372036854775808] c;\n\nmeasure q[0] -> "
                              "c[9223372036854775807];\n"},
      {"index at the int64 limit", export_of(sequence(1, {gate("x", {INT64_MAX})})),
       std::string(kHeader) + "\nqubit[9223372036854775808] q;\n\nx q[9223372036854775807];\n"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.program, row.expected) << row.name;
}

TEST(Driver, Failures) {
  EXPECT_THROW_MSG(export_of(GateSequence(3), {.qregs = RegisterList{{"a", 2}}}), ValueError,
                   "Register declarations cover 2 indices, but 3 are required");
  EXPECT_THROW_MSG(
      export_of(sequence(1, {measure({0}, IndexList{0})}), {.cregs = RegisterList{{"anc", 0}}}),
      ValueError, "Register 'anc' must have positive size");
  EXPECT_THROW_MSG(export_of(sequence(2, {gate("h", {-1})})), ValueError,
                   "Index -1 is outside declared registers");
  EXPECT_THROW_MSG(export_of(sequence(2, {measure({0}, IndexList{-2})})), ValueError,
                   "Index -2 is outside declared registers");
  EXPECT_THROW_MSG(export_of(sequence(2, {measure({0}, IndexList{-2})}), {.num_clbits = 4}),
                   ValueError, "Index -2 is outside declared registers");
  EXPECT_THROW_MSG(
      export_of(sequence(2, {gate("h", {2})}), {.qregs = RegisterList{{"a", 1}, {"b", 1}}}),
      ValueError, "Register declarations cover 2 indices, but 3 are required");
}

TEST(Driver, NestingTooDeepIsReportedFirst) {
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

// ------------------------------------------------------------------ robustness

TEST(Robustness, DeepNestingRaisesRecursionError) {
  const std::vector<QuantumGate> gates = {nested_blocks(100'000, {0})};
  const GateSequence deep = sequence(1, gates);
  EXPECT_THROW_MSG(export_of(deep), RecursionError, "maximum recursion depth exceeded");
  EXPECT_THROW_MSG(export_of(deep, {.qregs = RegisterList{{"q", 1}}}), RecursionError,
                   "maximum recursion depth exceeded");
  // Emission called on its own is bounded too, writing definitions or inlining.
  EXPECT_THROW_MSG(emit(gates), RecursionError, "maximum recursion depth exceeded");
  Qasm3Ctx ctx;
  const RegisterIndexer qubits({{"q", 8}});
  StatementLines out;
  EXPECT_THROW_MSG(emit_sequence(gates, ctx, QubitNames(qubits), qubits, {}, {}, false, out),
                   RecursionError, "maximum recursion depth exceeded");

  // Well within the bound, deep chains export in full (the bound also watches the stack,
  // whose frames sanitizer builds make several times larger).
  const std::string program = export_of(sequence(1, {nested_blocks(500, {0})}));
  EXPECT_NE(program.find("gate block_499 a0 {\n  block_498 a0;\n}"), std::string::npos);
  EXPECT_NE(program.find("\nblock_499 q[0];\n"), std::string::npos);
}

TEST(Robustness, SharedBlocksAreWalkedOnce) {
  // Each level calls the level below twice: 2^60 gates if expanded, 61 definitions.
  QuantumGate level = block({0}, {gate("h", {0})});
  for (int i = 0; i < 60; ++i)
    level = block({0}, {level, level});
  const std::string program = export_of(sequence(1, {level}));
  EXPECT_NE(program.find("gate block_60 a0 {\n  block_59 a0;\n  block_59 a0;\n}"),
            std::string::npos);
  // A shared list reached deeper than it was first seen still counts its own levels.
  const QuantumGate tall = nested_blocks(600, {0});
  const GateSequence both = sequence(1, {tall, nested_blocks(500, {0}), block({0}, {tall})});
  EXPECT_EQ(outcome_of([&] { export_of(sequence(1, {tall, tall})); }), "ok");
  QuantumGate deeper = tall;
  for (int i = 0; i < 500; ++i)
    deeper = block({0}, {deeper});
  EXPECT_THROW_MSG(export_of(sequence(1, {tall, deeper})), RecursionError,
                   "maximum recursion depth exceeded");
  EXPECT_EQ(outcome_of([&] { export_of(both); }), "ok");
  EXPECT_THROW_MSG(export_of(sequence(1, {tall, deeper}), {.qregs = RegisterList{{"q", 1}}}),
                   RecursionError, "maximum recursion depth exceeded");
}

// ------------------------------------------------------------------ property test

// Random sequences of every supported kind, written and then read back line by line.
class RandomCircuits {
 public:
  explicit RandomCircuits(std::uint64_t seed) : rng_(seed) {}

  std::vector<QuantumGate> gates(std::size_t count, std::int64_t qubits, int depth = 0) {
    std::vector<QuantumGate> result;
    for (std::size_t i = 0; i < count; ++i)
      result.push_back(next(qubits, depth));
    return result;
  }

 private:
  std::int64_t below(std::int64_t n) {
    return std::uniform_int_distribution<std::int64_t>(0, n - 1)(rng_);
  }

  IndexList distinct(std::size_t count, std::int64_t qubits) {
    std::vector<std::int64_t> all(static_cast<std::size_t>(qubits));
    for (std::int64_t i = 0; i < qubits; ++i)
      all[static_cast<std::size_t>(i)] = i;
    std::shuffle(all.begin(), all.end(), rng_);
    return {all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count)};
  }

  IndexList states(std::size_t count) {
    IndexList s;
    for (std::size_t i = 0; i < count; ++i)
      s.push_back(below(3) == 0 ? 0 : 1);
    return s;
  }

  QuantumGate controlled(std::string id, std::size_t controls, std::size_t targets,
                         std::int64_t qubits, Parameter param = {}) {
    IndexList picked = distinct(controls + targets, qubits);
    IndexList ctrl(picked.begin(), picked.begin() + static_cast<std::ptrdiff_t>(controls));
    IndexList targ(picked.begin() + static_cast<std::ptrdiff_t>(controls), picked.end());
    return gate(std::move(id), targ, ctrl, states(controls), std::move(param));
  }

  QuantumGate next(std::int64_t qubits, int depth) {
    const std::size_t max_controls = std::min<std::size_t>(2, static_cast<std::size_t>(qubits) - 2);
    const auto controls =
        static_cast<std::size_t>(below(static_cast<std::int64_t>(max_controls) + 1));
    const double angle = std::uniform_real_distribution<double>(-4, 4)(rng_);
    switch (below(depth < 3 ? 14 : 13)) {
      case 0:
        return controlled("h", controls, 1 + static_cast<std::size_t>(below(2)), qubits);
      case 1:
        return controlled("rx", controls, 1, qubits, angle);
      case 2:
        return controlled("cnot", 1 + controls, 1, qubits);
      case 3:
        return controlled("mcrz", 1 + controls, 1, qubits, angle);
      case 4:
        return controlled("mcx", 1 + controls, 1, qubits);
      case 5:
        return controlled("swap", controls, 2, qubits);
      case 6:
        return controlled("u", controls, 1, qubits, list({angle, 0.5, std::string("pi/4")}));
      case 7:
        return controlled("rzz", controls, 2, qubits, angle);
      case 8:
        return controlled("-z", controls, 1, qubits);
      case 9:
        return controlled("gp", controls, 0, qubits, angle);
      case 10:
        return controlled(below(2) == 0 ? "sqrty" : "sqrtx_dag", controls, 1, qubits);
      case 11:
        return controlled("cp", 1 + controls, 1, qubits, angle);
      case 12:
        return unitary(kPauliX, distinct(1, qubits));
      default: {
        // A block over its own three arguments (written as a definition) or over the
        // enclosing scope's qubits (inlined with its controls); no measurements
        // inside, since inlined controlled measurements are refused.
        const bool local = below(2) == 0;
        const std::size_t arity = local ? 3 : 1 + static_cast<std::size_t>(below(2));
        const std::size_t ctrl = std::min(controls, static_cast<std::size_t>(qubits) - arity);
        QuantumGate b = controlled("block", ctrl, arity, qubits);
        b.set_block_gate_sequence(
            make_block(gates(static_cast<std::size_t>(below(4)), local ? 3 : qubits, depth + 1)));
        return b;
      }
    }
  }

  std::mt19937_64 rng_;
};

// The operand texts of one statement, after its name and parameter list.
std::vector<std::string> operands_of(std::string_view stmt) {
  std::size_t pos = stmt.find(' ');
  const std::size_t paren = stmt.find('(');
  if (paren != std::string_view::npos && paren < pos) {
    int level = 0;
    for (pos = paren; pos < stmt.size(); ++pos) {
      if (stmt[pos] == '(') ++level;
      if (stmt[pos] == ')' && --level == 0) break;
    }
    ++pos;
  }
  std::vector<std::string> result;
  std::string_view rest = stmt.substr(pos);
  rest.remove_suffix(1);  // ';'
  while (!rest.empty() && rest.front() == ' ')
    rest.remove_prefix(1);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(", ");
    result.emplace_back(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 2);
  }
  return result;
}

std::string_view strip_modifiers(std::string_view stmt) {
  for (;;) {
    if (stmt.starts_with("ctrl @ ")) {
      stmt.remove_prefix(7);
    } else if (stmt.starts_with("negctrl @ ")) {
      stmt.remove_prefix(10);
    } else {
      return stmt;
    }
  }
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    lines.push_back(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
  }
  return lines;
}

// Checks one program: statements end in ';', generated gates are defined before they
// are used, and every operand names a declared register index or a definition argument.
void check_program(std::string_view program, std::size_t& statements_seen) {
  ASSERT_TRUE(program.starts_with(kHeader));
  ASSERT_TRUE(program.ends_with("\n"));
  std::set<std::string, std::less<>> defined;
  std::map<std::string, std::int64_t, std::less<>> registers;
  std::int64_t arity = -1;  // inside a definition: its argument count
  for (const std::string_view line : split_lines(program.substr(kHeader.size()))) {
    if (line.empty()) continue;
    if (line.starts_with("gate ")) {
      const std::string_view rest = line.substr(5);
      const std::string name(rest.substr(0, rest.find(' ')));
      ASSERT_TRUE(line.ends_with(" {")) << line;
      const std::string_view args = rest.substr(name.size() + 1, rest.size() - name.size() - 3);
      arity = args.empty()
                  ? 0
                  : 1 + static_cast<std::int64_t>(std::count(args.begin(), args.end(), ','));
      ASSERT_FALSE(defined.contains(name)) << name;
      defined.insert(name);
      continue;
    }
    if (line == "}") {
      arity = -1;
      continue;
    }
    ASSERT_TRUE(line.ends_with(";")) << line;
    std::string_view stmt = line;
    if (arity >= 0) {
      ASSERT_TRUE(stmt.starts_with("  ")) << line;
      stmt.remove_prefix(2);
    }
    if (stmt.starts_with("qubit[") || stmt.starts_with("bit[")) {
      const std::size_t close = stmt.find(']');
      registers[std::string(stmt.substr(close + 2, stmt.size() - close - 3))] =
          std::stoll(std::string(stmt.substr(stmt.find('[') + 1, close - stmt.find('[') - 1)));
      continue;
    }
    ++statements_seen;
    const std::string_view call = strip_modifiers(stmt);
    const std::string_view name = call.substr(0, call.find_first_of(" ("));
    if (name.find('_') != std::string_view::npos) {
      EXPECT_TRUE(defined.contains(name)) << "used before its definition: " << line;
    }
    std::vector<std::string> ops;
    if (name == "measure") {
      const std::size_t arrow = call.find(" -> ");
      ops = {std::string(call.substr(8, arrow - 8)),
             std::string(call.substr(arrow + 4, call.size() - arrow - 5))};
    } else {
      ops = operands_of(call);
    }
    for (const std::string& op : ops) {
      const std::size_t bracket = op.find('[');
      if (bracket == std::string::npos) {
        ASSERT_GE(arity, 0) << "argument outside a definition: " << line;
        ASSERT_TRUE(op.starts_with("a")) << line;
        EXPECT_LT(std::stoll(op.substr(1)), arity) << line;
        continue;
      }
      const auto reg = registers.find(op.substr(0, bracket));
      ASSERT_NE(reg, registers.end()) << "undeclared register: " << line;
      EXPECT_LT(std::stoll(op.substr(bracket + 1)), reg->second) << line;
    }
  }
}

TEST(Property, RandomSequencesExportWellFormedPrograms) {
  std::size_t statements_seen = 0;
  for (std::uint64_t seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE(seed);
    RandomCircuits random(seed);
    const std::int64_t qubits = 3 + static_cast<std::int64_t>(seed % 6);
    GateSequence gs = sequence(qubits, random.gates(30, qubits));
    gs.add_gate(measure({0, qubits - 1}, IndexList{static_cast<std::int64_t>(seed % 3), 0}));
    const RegisterList qregs = {{"data", qubits - 1}, {"anc", 1}};
    const std::string program =
        seed % 2 == 0 ? export_of(gs)
                      : export_of(gs, {.qregs = qregs, .cregs = RegisterList{{"m", 1}, {"n", 2}}});
    check_program(program, statements_seen);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(statements_seen, 5000U);
}

}  // namespace
}  // namespace corvane::qasm3::detail
