// The record rules both readers share: native gates and how a call splits, explicit
// matrices, definitions as shared blocks, register layout and the measure map.
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/qasm/qasm3.hpp"
#include "qasm/records/definition_blocks.hpp"
#include "qasm/records/explicit_matrix.hpp"
#include "qasm/records/gate_records.hpp"
#include "qasm/records/measure_map.hpp"
#include "qasm/records/native_gates.hpp"
#include "qasm/records/register_layout.hpp"
#include "test_support.hpp"

namespace {

using namespace corvane::qasm3::detail;
using corvane::GateBlock;
using corvane::GateSequence;
using corvane::IndexList;
using corvane::MeasurePair;
using corvane::Parameter;
using corvane::QuantumGate;
using corvane::RegisterDecl;
using corvane::RegisterList;

constexpr std::int64_t INT64_MAX_VALUE = std::numeric_limits<std::int64_t>::max();

// A parameter list as a statement's "(...)" gives it.
using Values = std::optional<std::vector<double>>;
Values given(std::vector<double> values) {
  return values;
}

// ================================================================== native gates

TEST(NativeGates, EveryRowOfTheTable) {
  struct Row {
    std::string_view name;
    int arity;
    bool ctrl_then_targ;
    int compact_targets;
    std::string_view id;
  };
  const std::vector<Row> rows = {
      {"x", 1, false, -1, "x"},
      {"y", 1, false, -1, "y"},
      {"z", 1, false, -1, "z"},
      {"h", 1, false, -1, "h"},
      {"s", 1, false, -1, "s"},
      {"sdg", 1, false, -1, "s_dag"},
      {"t", 1, false, -1, "t"},
      {"tdg", 1, false, -1, "t_dag"},
      {"id", 1, false, -1, "i"},
      {"sx", 1, false, -1, "sqrtx"},
      {"rx", 1, false, -1, "rx"},
      {"ry", 1, false, -1, "ry"},
      {"rz", 1, false, -1, "rz"},
      {"p", 1, false, -1, "p"},
      {"phase", 1, false, -1, "p"},
      {"U", 1, false, -1, "u"},
      {"cx", 2, true, -1, "cx"},
      {"cy", 2, true, -1, "cy"},
      {"cz", 2, true, -1, "cz"},
      {"ch", 2, true, -1, "ch"},
      {"swap", 2, false, -1, "swap"},
      {"cnot", 2, true, -1, "cx"},
      {"cp", 2, true, -1, "cp"},
      {"crx", 2, true, -1, "crx"},
      {"cry", 2, true, -1, "cry"},
      {"crz", 2, true, -1, "crz"},
      {"cu", 2, true, -1, "u"},
      {"ccx", 1, false, 1, "mcx"},
      {"cswap", 2, false, 2, "swap"},
      {"gphase", 0, false, -1, "gp"},
      {"block", -1, false, -1, "block"},
      {"-z", -1, false, -1, "-z"},
      {"sqrtx_dag", -1, false, -1, "sqrtx_dag"},
      {"sqrty", -1, false, -1, "sqrty"},
      {"sqrty_dag", -1, false, -1, "sqrty_dag"},
  };
  EXPECT_EQ(NATIVE_GATES.size(), rows.size());
  for (const Row& row : rows) {
    const NativeGate* gate = native_gate(row.name);
    ASSERT_NE(gate, nullptr) << row.name;
    EXPECT_EQ(gate->name, row.name);
    EXPECT_EQ(gate->arity, row.arity) << row.name;
    EXPECT_EQ(gate->ctrl_then_targ, row.ctrl_then_targ) << row.name;
    EXPECT_EQ(gate->compact_targets, row.compact_targets) << row.name;
    EXPECT_EQ(record_id(gate, row.name), row.id) << row.name;
  }
}

TEST(NativeGates, OtherNamesAreUnknownAndKeepTheirName) {
  for (const std::string_view name : {"", "c", "CX", "u", "i", "unitary", "cxx", "ccz", "rzz"}) {
    EXPECT_EQ(native_gate(name), nullptr) << name;
    EXPECT_EQ(record_id(nullptr, name), name);
  }
  EXPECT_THROW_MSG(check_gate_name("i"), ValueError,
                   "OpenQASM 3.0 identity gate is 'id', not 'i'.");
  check_gate_name("id");
}

TEST(NativeGates, CallArity) {
  struct Row {
    std::string_view op;
    Values params;
    std::int64_t defined_args;
    std::string expected;  // the arity, or the error
  };
  const std::vector<Row> rows = {
      {"h", std::nullopt, -1, "1"},
      {"h", std::nullopt, 3, "1"},  // a gate read natively is not replaced by a definition
      {"ccx", std::nullopt, -1, "1"},
      {"gphase", given({0.5}), -1, "0"},
      {"unitary", given(std::vector<double>(8, 0.0)), -1, "1"},
      {"unitary", given(std::vector<double>(32, 0.0)), 5, "2"},
      {"unitary", std::nullopt, -1,
       "ValueError: unitary gate requires flattened matrix parameters"},
      {"unitary", given(std::vector<double>(18, 0.0)), -1,
       "ValueError: unitary matrix dimension 3 must be a power of two"},
      {"pair", std::nullopt, 2, "2"},
      {"empty", std::nullopt, 0, "0"},
      {"unknown", std::nullopt, -1, "1"},
      {"block", std::nullopt, -1, "1"},
      {"sqrty", std::nullopt, 1, "1"},
  };
  for (const Row& row : rows) {
    std::string got;
    const std::string outcome = outcome_of([&] {
      got = std::to_string(call_arity(row.op, native_gate(row.op), row.params, row.defined_args));
    });
    EXPECT_EQ(outcome == "ok" ? got : outcome, row.expected) << row.op;
  }
}

TEST(NativeGates, ControlSplits) {
  using P = ControlProblem;
  struct Row {
    std::string_view op;
    std::int64_t arity;  // as call_arity gives it
    std::int64_t operands;
    std::int64_t modifiers;
    std::int64_t controls;
    ControlProblem problem;
  };
  const std::vector<Row> rows = {
      {"cx", 2, 2, 0, 1, P::None},
      {"cx", 2, 4, 2, 3, P::None},  // modifiers add to the gate's own control
      {"cx", 2, 1, 0, 0, P::None},
      {"cx", 2, 0, 0, 0, P::NotEnoughOperands},
      {"ccx", 1, 3, 0, 2, P::None},
      {"ccx", 1, 5, 0, 4, P::None},
      {"ccx", 1, 0, 0, -1, P::NotEnoughOperands},
      {"ccx", 1, 4, 1, 3, P::CompactWithModifiers},
      {"cswap", 2, 3, 0, 1, P::None},
      {"cswap", 2, 1, 0, -1, P::NotEnoughOperands},
      {"gphase", 0, 0, 0, 0, P::None},
      {"gphase", 0, 2, 2, 2, P::None},
      {"gphase", 0, 1, 0, 1, P::GphaseMismatch},
      {"h", 1, 1, 0, 0, P::None},
      {"h", 1, 3, 2, 2, P::None},
      {"h", 1, 2, 0, 1, P::CountMismatch},
      {"h", 1, 1, 1, 0, P::CountMismatch},
      {"h", 1, 0, 0, -1, P::NotEnoughOperands},
      {"swap", 2, 3, 1, 1, P::None},
      {"swap", 2, 3, 0, 1, P::CountMismatch},
      {"mine", 3, 3, 0, 0, P::None},
      {"mine", 0, 1, 1, 1, P::None},  // a definition without arguments, called controlled
      {"mine", 0, 1, 0, 1, P::GphaseMismatch},
  };
  for (const Row& row : rows) {
    const ControlSplit split =
        split_controls(native_gate(row.op), row.arity, row.operands, row.modifiers);
    EXPECT_EQ(split.problem, row.problem)
        << row.op << " " << row.operands << " operands, " << row.modifiers << " modifiers";
    if (split.problem != P::NotEnoughOperands) {
      EXPECT_EQ(split.controls, row.controls) << row.op << " " << row.operands;
    }
  }
}

TEST(NativeGates, ControlStates) {
  using M = Modifier;
  struct Row {
    std::string_view op;
    std::vector<Modifier> mods;
    std::int64_t controls;
    IndexList states;
  };
  const std::vector<Row> rows = {
      {"cx", {}, 1, {1}},
      {"ccx", {}, 2, {1, 1}},
      {"ccx", {}, 5, {1, 1, 1, 1, 1}},
      {"cswap", {}, 1, {1}},
      {"h", {M::Ctrl, M::Negctrl, M::Negctrl}, 3, {1, 0, 0}},
      {"mine", {M::Negctrl}, 1, {0}},
      // With modifiers, the states are the modifiers' only, also where the gate adds a
      // control of its own.
      {"cx", {M::Negctrl}, 2, {0}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(control_states(native_gate(row.op), row.mods, row.controls), row.states) << row.op;
  }
}

TEST(NativeGates, CallParameters) {
  const auto tuple = [](std::vector<double> values) {
    std::vector<corvane::ParamScalar> items(values.begin(), values.end());
    return Parameter::list(std::move(items), true);
  };
  struct Row {
    std::string_view op;
    Values params;
    Parameter expected;
  };
  const std::vector<Row> rows = {
      {"h", std::nullopt, Parameter{}},
      {"h", given({}), tuple({})},
      {"rz", given({0.5}), Parameter::one_number_tuple(0.5)},
      {"U", given({1, 2, 3}), tuple({1, 2, 3})},
      {"cu", given({1, 2, 3, 4}), tuple({1, 2, 3})},
      {"cu", given({1, 2, 3}), tuple({1, 2, 3})},
      {"cu", given({1, 2, 3, 4, 5}), tuple({1, 2, 3, 4, 5})},
      {"U", given({1, 2, 3, 4}), tuple({1, 2, 3, 4})},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(call_parameter(row.op, row.params), row.expected) << row.op;
  }
  // The one value stays a one-element tuple, not a bare number.
  EXPECT_NE(call_parameter("rz", given({0.5})), Parameter(0.5));
}

// A definition named like a native gate keeps that gate's operand layout: its calls read
// as written only where the layout fits the definition's arguments.
TEST(NativeGates, DefinitionsReadAsWritten) {
  struct Row {
    std::string_view name;
    std::int64_t arguments;
    bool as_written;
  };
  const std::vector<Row> rows = {
      {"mine", 0, true},     {"mine", 3, true},     {"h", 1, true},      {"h", 2, false},
      {"U", 1, true},        {"swap", 2, true},     {"swap", 1, false},  {"cx", 1, true},
      {"cx", 2, false},      {"crz", 1, true},      {"cu", 1, true},     {"cu", 2, false},
      {"ccx", 1, false},     {"ccx", 3, false},     {"cswap", 2, false}, {"gphase", 0, true},
      {"gphase", 1, false},  {"block", 2, true},    {"sqrty", 1, true},  {"i", 1, false},
      {"unitary", 1, false}, {"unitary", 0, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(definition_reads_as_written(row.name, row.arguments), row.as_written)
        << row.name << " of " << row.arguments;
  }
}

TEST(NativeGates, CallParametersOfTheGateRow) {
  // Only the gate's full count drops the trailing phase; the row decides, not the name.
  EXPECT_EQ(call_parameter(native_gate("cu"), given({1, 2, 3, 4})),
            call_parameter("cu", given({1, 2, 3})));
  EXPECT_EQ(call_parameter(native_gate("U"), given({1, 2, 3, 4})),
            call_parameter("mine", given({1, 2, 3, 4})));
  EXPECT_EQ(call_parameter(nullptr, given({1, 2, 3, 4})), call_parameter("U", given({1, 2, 3, 4})));
}

// ================================================================== explicit matrices

TEST(ExplicitMatrix, DimensionAndQubitsFromTheValueCount) {
  const std::string requires_values =
      "ValueError: unitary gate requires flattened matrix parameters";
  const std::string pairs = "ValueError: unitary parameters must be real/imaginary pairs";
  struct Row {
    std::size_t count;
    std::string dim;
    std::string targets;
  };
  const std::vector<Row> rows = {
      {0, requires_values, requires_values},
      {1, pairs, pairs},
      {7, pairs, pairs},
      {4, "ValueError: unitary parameter count 4 does not encode a square matrix",
       "ValueError: unitary parameter count 4 does not encode a square matrix"},
      {6, "ValueError: unitary parameter count 6 does not encode a square matrix",
       "ValueError: unitary parameter count 6 does not encode a square matrix"},
      {2, "1", "0"},
      {8, "2", "1"},
      {50, "5", "ValueError: unitary matrix dimension 5 must be a power of two"},
      {512, "16", "4"},
      {2 * 64 * 64, "64", "6"},
  };
  for (const Row& row : rows) {
    const std::vector<double> values(row.count, 0.25);
    const auto as_text = [](auto n) { return std::to_string(n); };
    std::string dim;
    std::string targets;
    const std::string dim_outcome =
        outcome_of([&] { dim = as_text(unitary_dim_from_params(values)); });
    const std::string targets_outcome =
        outcome_of([&] { targets = as_text(unitary_target_count(values)); });
    EXPECT_EQ(dim_outcome == "ok" ? dim : dim_outcome, row.dim) << row.count;
    EXPECT_EQ(targets_outcome == "ok" ? targets : targets_outcome, row.targets) << row.count;
    // Absent values read as none; present ones as themselves.
    const std::optional<std::vector<double>> given(values);
    EXPECT_EQ(outcome_of([&] { unitary_target_count(given); }),
              outcome_of([&] { unitary_target_count(values); }));
  }
  EXPECT_EQ(outcome_of([] { unitary_target_count(std::optional<std::vector<double>>{}); }),
            requires_values);
}

// ================================================================== definition blocks

// Definitions given as a call graph: each body calls the listed definitions in order.
using CallGraph = std::map<std::string, std::vector<std::string>>;

class GraphReader {
 public:
  explicit GraphReader(const CallGraph& graph) : graph_(graph) {}

  GateBlock block(std::string_view name) {
    const auto entry = graph_.find(std::string(name));
    const std::string& key = entry->first;
    const std::vector<std::string>& callees = entry->second;
    return blocks_.block_of(key, [&](std::vector<QuantumGate>& children) {
      ++expansions[key];
      for (const std::string& callee : callees) {
        QuantumGate& call = children.emplace_back("block", IndexList{0});
        call.set_block_gate_sequence(block(callee));
        call.set_name(callee);
      }
    });
  }

  std::map<std::string, int> expansions;

 private:
  const CallGraph& graph_;
  DefinitionBlocks blocks_;
};

// c1 calls nothing; c<k> calls c<k-1>.
CallGraph chain(int length) {
  CallGraph graph;
  graph["c1"] = {};
  for (int k = 2; k <= length; ++k)
    graph["c" + std::to_string(k)] = {"c" + std::to_string(k - 1)};
  return graph;
}

TEST(DefinitionBlocks, EachDefinitionIsExpandedOnceAndShared) {
  const CallGraph diamond = {{"top", {"left", "right", "left"}},
                             {"left", {"leaf"}},
                             {"right", {"leaf", "leaf"}},
                             {"leaf", {}}};
  GraphReader reader(diamond);
  const GateBlock top = reader.block("top");
  EXPECT_EQ(reader.expansions,
            (std::map<std::string, int>{{"top", 1}, {"left", 1}, {"right", 1}, {"leaf", 1}}));
  ASSERT_EQ(top->size(), 3U);
  EXPECT_EQ((*top)[0].block_gate_sequence(), (*top)[2].block_gate_sequence());
  const GateBlock& right = (*top)[1].block_gate_sequence();
  EXPECT_EQ((*right)[0].block_gate_sequence(), (*right)[1].block_gate_sequence());
  EXPECT_EQ(reader.block("left"), (*top)[0].block_gate_sequence());
  EXPECT_TRUE(reader.block("leaf")->empty());
}

TEST(DefinitionBlocks, CyclesNameTheDefinitionReachedAgain) {
  const auto circular = [](std::string_view name) {
    return "ValueError: Circular gate definition detected: '" + std::string(name) +
           "' calls itself directly or indirectly.";
  };
  struct Row {
    CallGraph graph;
    std::string start;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {{{"a", {"a"}}}, "a", circular("a")},
      {{{"a", {"b"}}, {"b", {"c"}}, {"c", {"a"}}}, "a", circular("a")},
      {{{"a", {"b"}}, {"b", {"c"}}, {"c", {"b"}}}, "a", circular("b")},
      {{{"a", {"leaf", "b"}}, {"b", {"leaf", "a"}}, {"leaf", {}}}, "b", circular("b")},
      {{{"a", {"b", "b"}}, {"b", {}}}, "a", "ok"},
  };
  for (const Row& row : rows) {
    GraphReader reader(row.graph);
    EXPECT_EQ(outcome_of([&] { reader.block(row.start); }), row.expected) << row.start;
  }
}

TEST(DefinitionBlocks, NestingIsBoundedWhenShared) {
  const std::string too_deep = "RecursionError: maximum recursion depth exceeded";
  CallGraph graph = chain(MAX_NESTING_DEPTH + 1);
  {
    GraphReader reader(graph);
    EXPECT_EQ(outcome_of([&] { reader.block("c" + std::to_string(MAX_NESTING_DEPTH)); }), "ok");
    EXPECT_EQ(outcome_of([&] { reader.block("c" + std::to_string(MAX_NESTING_DEPTH + 1)); }),
              too_deep);
  }
  // A finished block nests as deep as its expansion did wherever it is used again.
  const std::string deepest = "c" + std::to_string(MAX_NESTING_DEPTH);
  const std::string below = "c" + std::to_string(MAX_NESTING_DEPTH - 1);
  graph["over"] = {deepest};
  graph["at_limit"] = {below};
  graph["over_through_at_limit"] = {"at_limit"};
  GraphReader reader(graph);
  EXPECT_EQ(outcome_of([&] { reader.block(deepest); }), "ok");
  EXPECT_EQ(outcome_of([&] { reader.block("over"); }), too_deep);
  EXPECT_EQ(outcome_of([&] { reader.block("at_limit"); }), "ok");
  EXPECT_EQ(outcome_of([&] { reader.block("over_through_at_limit"); }), too_deep);
  EXPECT_EQ(reader.expansions[below], 1);
}

// ================================================================== register layout

std::string layout_text(const Registers& regs) {
  std::string out;
  for (const RegisterDecl& decl : regs.list) {
    const RegisterSpan* span = regs.map.find(decl.name);
    out += decl.name + "[" + std::to_string(decl.size) + "]@" + std::to_string(span->offset) + " ";
  }
  return out;
}

TEST(RegisterLayout, OffsetsFollowTheOrderOfLayout) {
  RegisterLayout layout;
  layout.add_array("q", 3);
  layout.add_array("empty", 0);
  layout.add_scalar("anc");
  layout.add_array("r", 2);
  layout.add_scalar("q");    // already laid out: adds nothing
  layout.add_scalar("anc");  // likewise
  const Registers regs = std::move(layout).take();
  EXPECT_EQ(layout_text(regs), "q[3]@0 empty[0]@3 anc[1]@3 r[2]@4 ");
  EXPECT_EQ(regs.map.size(), 4U);
  EXPECT_EQ(qubit_total(regs.list), 6);
}

TEST(RegisterLayout, ARepeatedArrayTakesANewRun) {
  RegisterLayout layout;
  layout.add_array("a", 2);
  layout.add_array("a", 3);
  const Registers regs = std::move(layout).take();
  ASSERT_EQ(regs.list.size(), 2U);
  EXPECT_EQ(regs.map.find("a")->offset, 2);
  EXPECT_EQ(regs.map.find("a")->size, 3);
  EXPECT_EQ(qubit_total(regs.list), 5);
}

TEST(RegisterLayout, TotalsPastTheLargestIndexAreRefused) {
  RegisterLayout layout;
  layout.add_array("big", INT64_MAX_VALUE - 1);
  layout.add_scalar("one");
  EXPECT_THROW_MSG(layout.add_scalar("two"), ValueError,
                   "Total register size too large: 9223372036854775807 + 1");
  EXPECT_THROW_MSG(layout.add_array("more", INT64_MAX_VALUE), ValueError,
                   "Total register size too large: 9223372036854775807 + 9223372036854775807");
  layout.add_array("nothing", 0);

  const RegisterList declared = {{"a", INT64_MAX_VALUE}, {"b", 0}, {"c", 1}};
  EXPECT_THROW_MSG(qubit_total(declared), ValueError,
                   "Qubit registers declare more than 9223372036854775807 qubits");
  EXPECT_EQ(qubit_total({}), 0);
}

// Checked declaration by declaration, the total fails where the whole layout would, with
// its message: arrays first, then the scalars one by one.
TEST(RegisterLayout, RunningTotalsFailAsTheLayoutDoes) {
  struct Declaration {
    std::string_view name;
    std::optional<std::int64_t> size;  // absent: a scalar
  };
  const std::vector<std::vector<Declaration>> programs = {
      {{"a", INT64_MAX_VALUE}, {"b", std::nullopt}},
      {{"b", std::nullopt}, {"a", INT64_MAX_VALUE}},
      {{"b", std::nullopt}, {"c", std::nullopt}, {"a", INT64_MAX_VALUE - 1}},
      {{"a", INT64_MAX_VALUE - 1}, {"b", std::nullopt}, {"c", std::nullopt}},
      {{"a", 5}, {"b", std::nullopt}, {"c", INT64_MAX_VALUE - 5}},
      {{"a", 5}, {"c", INT64_MAX_VALUE - 4}},
      {{"a", 5}, {"b", std::nullopt}, {"c", INT64_MAX_VALUE - 6}},
      {{"a", INT64_MAX_VALUE}, {"b", 0}, {"c", 1}},
  };
  for (const auto& program : programs) {
    // Where the running total fails, and with what.
    std::size_t failed_at = program.size();
    std::string running = "ok";
    RegisterTotal total;
    for (std::size_t k = 0; k < program.size() && running == "ok"; ++k) {
      running = outcome_of(
          [&] { program[k].size ? total.add_array(*program[k].size) : total.add_scalar(); });
      if (running != "ok") failed_at = k;
    }
    // The whole layout of the declarations up to there, and of those before it.
    const auto laid_out = [&](std::size_t count) {
      return outcome_of([&] {
        RegisterLayout layout;
        for (std::size_t k = 0; k < count; ++k) {
          if (program[k].size) layout.add_array(program[k].name, *program[k].size);
        }
        for (std::size_t k = 0; k < count; ++k) {
          if (!program[k].size) layout.add_scalar(program[k].name);
        }
      });
    };
    SCOPED_TRACE("program " + std::to_string(&program - programs.data()));
    EXPECT_EQ(running, laid_out(std::min(failed_at + 1, program.size())));
    if (failed_at < program.size()) {
      EXPECT_EQ(laid_out(failed_at), "ok");
    }
  }
}

TEST(RegisterLayout, FlatIndices) {
  const RegisterSpan span{5, 3};
  struct Row {
    std::optional<std::int64_t> element;
    std::optional<std::int64_t> flat;
  };
  for (const Row& row : std::vector<Row>{{0, 5},
                                         {2, 7},
                                         {3, std::nullopt},
                                         {INT64_MAX_VALUE, std::nullopt},
                                         {std::nullopt, std::nullopt}}) {
    EXPECT_EQ(span.flat_index(row.element), row.flat) << row.element.value_or(-1);
  }
  EXPECT_EQ((RegisterSpan{0, 0}.flat_index(0)), std::nullopt);
  EXPECT_EQ(undeclared_bit_index(7), 7);
  EXPECT_EQ(undeclared_bit_index(INT64_MAX_VALUE - 1), INT64_MAX_VALUE - 1);
  EXPECT_EQ(undeclared_bit_index(INT64_MAX_VALUE), std::nullopt);
  EXPECT_EQ(undeclared_bit_index(std::nullopt), std::nullopt);

  const Registers implicit = implicit_qubit_register(4);
  EXPECT_EQ(layout_text(implicit), "q[4]@0 ");
}

// ================================================================== measure map

TEST(MeasureMap, WholeRegisterRecordsAreCountedAgainstOneCap) {
  std::int64_t counted = MAX_MEASUREMENT_RECORDS - 5;
  count_measurement_records(counted, 2);
  count_measurement_records(counted, 3);
  EXPECT_EQ(counted, MAX_MEASUREMENT_RECORDS);
  EXPECT_THROW_MSG(count_measurement_records(counted, 1), ValueError,
                   "Whole-register measurements would create more than 4194304 gate records");
  std::int64_t none = 0;
  EXPECT_THROW_MSG(count_measurement_records(none, INT64_MAX_VALUE), ValueError,
                   "Whole-register measurements would create more than 4194304 gate records");
}

TEST(MeasureMap, LayoutOfTheFinishedSequence) {
  using Map = std::vector<MeasurePair>;
  struct Row {
    ReadLayout read;
    std::int64_t qubits;
    std::optional<RegisterList> bits;
    std::optional<Map> map;
  };
  const RegisterList q3 = {{"q", 3}};
  const std::vector<Row> rows = {
      // Qubits past the declared ones count; bits without declarations make "c".
      {{q3, 3, {}, {{5, 1}, {0, 0}}, 5, 1}, 6, RegisterList{{"c", 2}}, Map{{5, 1}, {0, 0}}},
      {{q3, 3, {}, {{0, 0}}, 0, 0}, 3, RegisterList{{"c", 1}}, Map{{0, 0}}},
      // Declared bits without measurements: registers and an empty map.
      {{q3, 3, {{"b", 2}}, {}, 1, -1}, 3, RegisterList{{"b", 2}}, Map{}},
      // Neither: both absent.
      {{q3, 3, {}, {}, 2, -1}, 3, std::nullopt, std::nullopt},
      // Measurements into declared bits keep their order and the declared registers.
      {{q3, 3, {{"b", 4}}, {{2, 3}, {1, 0}, {2, 1}}, 2, 3},
       3,
       RegisterList{{"b", 4}},
       Map{{2, 3}, {1, 0}, {2, 1}}},
      // A bit used past the declared ones does not add a register.
      {{q3, 3, {{"b", 1}}, {{0, 7}}, 0, 7}, 3, RegisterList{{"b", 1}}, Map{{0, 7}}},
  };
  for (const Row& row : rows) {
    GateSequence gs(0);
    set_read_layout(gs, row.read);
    EXPECT_EQ(gs.num_qubits, row.qubits);
    EXPECT_EQ(gs.qasm_quantum_registers, q3);
    EXPECT_EQ(gs.qasm_classical_registers, row.bits);
    EXPECT_EQ(gs.qasm_measure_map, row.map);
  }
}

// The importer keeps its measure map in the order of the statements.
TEST(MeasureMap, MainStatementsMarkWhatTheyUse) {
  ReadLayout read;
  read.uses_qubit(4);
  read.measured(2, 7);
  read.measured(5, 1);
  read.uses_qubit(3);
  EXPECT_EQ(read.highest_qubit, 5);
  EXPECT_EQ(read.highest_bit, 7);
  EXPECT_EQ(read.measure_map, (std::vector<MeasurePair>{{2, 7}, {5, 1}}));
}

TEST(MeasureMap, ImportKeepsStatementOrder) {
  const GateSequence gs = corvane::qasm3::qasm3_to_gate_sequence(
      "qubit[3] q;\nbit[3] c;\nmeasure q[2] -> c[0];\nc[2] = measure q[0];\nmeasure q -> c;\n");
  const std::vector<MeasurePair> expected = {{2, 0}, {0, 2}, {0, 0}, {1, 1}, {2, 2}};
  EXPECT_EQ(gs.qasm_measure_map, expected);
}

// Measurements inside conditioned bodies enter the map where their record stands, the
// block's before the else-block's, at any depth; definition blocks keep theirs.
TEST(MeasureMap, ConditionedBodiesInProgramOrder) {
  using corvane::make_block;
  const auto m = [](std::int64_t q, std::int64_t c) {
    QuantumGate g("measure", {q});
    g.set_classical_target(IndexList{c});
    return g;
  };
  const auto when = [](std::string id, std::vector<QuantumGate> body,
                       std::vector<QuantumGate> otherwise = {}) {
    GateBlock else_body = otherwise.empty() ? nullptr : make_block(std::move(otherwise));
    return corvane::make_conditioned(std::move(id),
                                     corvane::Condition({0}, corvane::Comparison::Equal, 1),
                                     make_block(std::move(body)), std::move(else_body));
  };
  QuantumGate definition("block", {0});
  definition.set_block_gate_sequence(make_block({m(0, 7)}));
  QuantumGate two_bits("measure", {1, 2});
  two_bits.set_classical_target(IndexList{4, 5});
  QuantumGate no_condition("if", {0});
  no_condition.set_block_gate_sequence(make_block({m(0, 8)}));

  const std::vector<QuantumGate> gates = {
      m(0, 0),    when("if", {m(1, 1), when("while", {m(2, 2)})}, {m(3, 3), two_bits}),
      definition, no_condition,
      m(4, 6),
  };
  const std::vector<MeasurePair> expected = {{0, 0}, {1, 1}, {2, 2}, {3, 3},
                                             {1, 4}, {2, 5}, {4, 6}};
  EXPECT_EQ(measure_map_of(gates), expected);
  EXPECT_EQ(measure_map_of({}), std::vector<MeasurePair>{});

  // As deep as memory allows, without recursion.
  QuantumGate deep = when("if", {m(0, 1)});
  for (int i = 0; i < 100'000; ++i)
    deep = when("if", {m(0, 0)}, {std::move(deep)});
  const std::vector<MeasurePair> deep_map = measure_map_of({deep});
  ASSERT_EQ(deep_map.size(), 100'001U);
  EXPECT_EQ(deep_map.back(), MeasurePair(0, 1));
}

// ================================================================== record shapes

TEST(GateRecords, ShapesOfCallBlockAndMeasurementRecords) {
  std::vector<QuantumGate> gates;
  const GateOutput out{&gates, nullptr};
  const std::vector<std::int64_t> qubits = {4, 0, 2};
  add_call_record(out, "rz", qubits, 2, IndexList{1, 0}, Parameter::one_number_tuple(0.5));
  add_call_record(out, "h", qubits, 0, IndexList{});
  const GateBlock children = corvane::make_block({QuantumGate("x", {0})});
  add_block_record(out, "mine", qubits, 1, IndexList{1}, children);
  add_measurement_record(out, 3, 1);

  ASSERT_EQ(gates.size(), 4U);
  EXPECT_EQ(gates[0], QuantumGate("rz", {2}, {4, 0}, {1, 0}, Parameter::one_number_tuple(0.5)));
  EXPECT_EQ(gates[1], QuantumGate("h", {4, 0, 2}));
  QuantumGate block("block", {0, 2}, {4}, {1});
  block.set_block_gate_sequence(children);
  block.set_name("mine");
  EXPECT_EQ(gates[2], block);
  EXPECT_EQ(gates[2].block_gate_sequence(), children);  // shared, not copied
  QuantumGate measurement("measure", {3});
  measurement.set_classical_target(IndexList{1});
  measurement.set_name("measure");
  EXPECT_EQ(gates[3], measurement);

  GateSequence gs(0);
  add_measurement_record(GateOutput{nullptr, &gs}, 0, 0);
  EXPECT_EQ(gs.data().size(), 1U);
}

}  // namespace
