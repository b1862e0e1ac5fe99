// The tool's JSON form of a gate sequence: conditioned records written and read back,
// and what the reader refuses in them.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "json_form.hpp"
#include "qasm/records/measure_map.hpp"
#include "test_support.hpp"

namespace {

using corvane::Comparison;
using corvane::Condition;
using corvane::GateBlock;
using corvane::GateSequence;
using corvane::IndexList;
using corvane::Parameter;
using corvane::QuantumGate;
using corvane::qasm3::cli::read_gate_sequence_json;

std::string json_of(const GateSequence& gs) {
  std::string text;
  corvane::qasm3::cli::write_gate_sequence_json(gs, [&](std::string_view piece) { text += piece; });
  return text;
}

// Random sequences of the records the JSON form carries whole: plain and controlled
// gates with angles, measurements, definition blocks, and "if" and "while" records with
// random conditions, nested bodies and else-bodies holding all of these.
class SequenceGenerator : SeededRandom {
 public:
  explicit SequenceGenerator(std::uint64_t seed) : SeededRandom(seed) {}

  GateSequence sequence() {
    GateSequence gs(QUBITS);
    for (QuantumGate& g : records(3))
      gs.add_gate(std::move(g));
    if (chance(50)) gs.qasm_measure_map = corvane::qasm3::detail::measure_map_of(gs.data());
    return gs;
  }

 private:
  static constexpr std::int64_t QUBITS = 6;
  static constexpr std::int64_t BITS = 70;  // more than one condition can read

  std::vector<QuantumGate> records(int depth) {
    std::vector<QuantumGate> out;
    const std::int64_t count = below(5);
    for (std::int64_t i = 0; i < count; ++i)
      out.push_back(record(depth));
    return out;
  }

  QuantumGate record(int depth) {
    switch (below(depth > 0 ? 5 : 3)) {
      case 0:
        return QuantumGate(chance(50) ? "rx" : "u", {below(QUBITS)}, {}, {}, angles());
      case 1:
        return QuantumGate("mcx", {0}, {1 + below(2), 3}, {below(2), 1});
      case 2:
        return measurement();
      case 3:
        return definition(depth);
      default:
        return conditioned(depth);
    }
  }

  // One to four angles, as the importer makes them.
  Parameter angles() {
    std::vector<double> numbers(static_cast<std::size_t>(1 + below(4)));
    for (double& number : numbers)
      number = (unit() - 0.5) * 1e3;
    return Parameter::number_tuple(numbers);
  }

  QuantumGate measurement() {
    QuantumGate m("measure", {below(QUBITS)});
    m.set_classical_target(IndexList{below(BITS)});
    m.set_name("measure");
    return m;
  }

  QuantumGate definition(int depth) {
    QuantumGate call("block", {below(QUBITS)});
    call.set_block_gate_sequence(corvane::make_block(records(depth - 1)));
    call.set_name("mine");
    return call;
  }

  QuantumGate conditioned(int depth) {
    const bool is_if = chance(70);
    GateBlock otherwise;
    if (is_if && chance(60)) otherwise = corvane::make_block(records(depth - 1));
    return corvane::make_conditioned(is_if ? "if" : "while", condition(),
                                     corvane::make_block(records(depth - 1)), otherwise);
  }

  Condition condition() {
    IndexList bits;
    const std::int64_t count = chance(10) ? 64 : 1 + below(4);
    for (std::int64_t bit = below(BITS - count); static_cast<std::int64_t>(bits.size()) < count;
         ++bit)
      bits.push_back(bit);
    if (chance(50)) std::reverse(bits.data(), bits.data() + bits.size());
    const std::uint64_t value = count == 64 ? next() : next() % (std::uint64_t{1} << count);
    return {std::move(bits), static_cast<Comparison>(below(6)), value};
  }
};

TEST(JsonForm, ConditionedRecordsReadBackEqualAndWriteTheSameText) {
  for (std::uint64_t seed = 1; seed <= 300; ++seed) {
    const GateSequence gs = SequenceGenerator(seed).sequence();
    const std::string text = json_of(gs);
    const GateSequence back = read_gate_sequence_json(text);
    ASSERT_EQ(back.data(), gs.data()) << "seed " << seed << "\n" << text;
    EXPECT_EQ(back.qasm_measure_map, gs.qasm_measure_map) << "seed " << seed;
    EXPECT_EQ(json_of(back), text) << "seed " << seed;
  }
}

// The keys a conditioned record is written with: an else-body only for "if", null when
// absent, and the value as an unsigned 64-bit integer.
TEST(JsonForm, ConditionedRecordKeys) {
  GateSequence gs(2);
  gs.add_gate(corvane::make_conditioned("if", Condition({3, 1}, Comparison::GreaterEqual, 2),
                                        corvane::make_block({QuantumGate("x", {1})})));
  IndexList all_bits;
  for (std::int64_t bit = 0; bit < 64; ++bit)
    all_bits.push_back(bit);
  gs.add_gate(corvane::make_conditioned(
      "while", Condition(all_bits, Comparison::NotEqual, UINT64_MAX), corvane::make_block({})));
  const std::string text = json_of(gs);
  std::string bits_text;
  for (std::int64_t bit = 0; bit < 64; ++bit)
    bits_text += (bit == 0 ? "" : ", ") + std::to_string(bit);
  EXPECT_EQ(text,
            R"({
  "num_qubits": 2,
  "gates": [
    {"id": "if", "target": [1], "condition": {"bits": [3, 1], "compare": ">=", "value": 2}, "block_gate_sequence": [
      {"id": "x", "target": [1], "control": [], "control_state": [], "parameter": null, "matrix": null}
    ], "else_gate_sequence": null},
    {"id": "while", "target": [], "condition": {"bits": [)" +
                bits_text +
                R"(], "compare": "!=", "value": 18446744073709551615}, "block_gate_sequence": []}
  ],
  "qasm_quantum_registers": null
}
)");
  EXPECT_EQ(read_gate_sequence_json(text).data(), gs.data());
}

// An array of doubles (numbers with a fraction or an exponent) reads as the tuple the importer
// makes of a call's angles; any other array is a list. Tuples and lists are written alike.
TEST(JsonForm, ParametersReadAsTheImporterMakesThem) {
  const auto tuple = [](std::vector<corvane::ParamScalar> items) {
    return Parameter::list(std::move(items), true);
  };
  struct Row {
    std::string_view json;
    Parameter expected;
  };
  const std::vector<Row> rows = {
      {"[0.5]", tuple({0.5})},
      {"[0.5, -0.0]", tuple({0.5, -0.0})},
      {"[0.1, 2e-3, 1e999]", tuple({0.1, 2e-3, std::numeric_limits<double>::infinity()})},
      {"[1.0, 2.0, 3.0, 4.0]", tuple({1.0, 2.0, 3.0, 4.0})},
      {"[1, 0.5]", Parameter::list({std::int64_t{1}, 0.5})},
      {"[0.5, 1.5, true]", Parameter::list({0.5, 1.5, true})},
      {R"([0.5, "theta"])", Parameter::list({0.5, std::string("theta")})},
      {"[]", Parameter::list({})},
      {"0.5", Parameter(0.5)},
  };
  for (const Row& row : rows) {
    const std::string text =
        R"({"num_qubits": 1, "gates": [{"id": "u", "target": [0], "parameter": )" +
        std::string(row.json) + "}]}";
    const GateSequence gs = read_gate_sequence_json(text);
    ASSERT_EQ(gs.data().size(), 1U) << row.json;
    EXPECT_EQ(gs.data()[0].parameter, row.expected) << row.json;
    EXPECT_EQ(json_of(gs), json_of(read_gate_sequence_json(json_of(gs)))) << row.json;
  }
  GateSequence as_tuple(1);
  GateSequence as_list(1);
  as_tuple.add_gate(QuantumGate("u", {0}, {}, {}, tuple({0.1, 0.2, 0.3})));
  as_list.add_gate(QuantumGate("u", {0}, {}, {}, Parameter::list({0.1, 0.2, 0.3})));
  EXPECT_EQ(json_of(as_tuple), json_of(as_list));
  EXPECT_EQ(read_gate_sequence_json(json_of(as_list)).data(), as_tuple.data());
}

// Each row: the gates of a sequence in the JSON form, and the error reading it raises.
TEST(JsonForm, MalformedConditionsNameTheirPlace) {
  const std::string body = R"("block_gate_sequence": [{"id": "x", "target": [0]}])";
  const auto if_with = [&](std::string_view condition, std::string_view more = "") {
    return R"({"id": "h", "target": [0]}, {"id": "if", "target": [0], "condition": )" +
           std::string(condition) + ", " + body + std::string(more) + "}";
  };
  const std::string good = R"({"bits": [0], "compare": "==", "value": 1})";
  const struct {
    std::string gates;
    std::string_view outcome;
  } rows[] = {
      {if_with(good), "ok"},
      {if_with(good, R"(, "else_gate_sequence": [])"), "ok"},
      {if_with(good, R"(, "else_gate_sequence": null)"), "ok"},
      {if_with(R"([0])"), "TypeError: gates[1].condition must be an object"},
      {if_with(R"({"bits": [0], "compare": "=", "value": 1})"),
       R"(ValueError: gates[1].condition.compare must be one of "==", "!=", "<", "<=", ">", ">=")"},
      {if_with(R"({"bits": [0], "compare": 1, "value": 1})"),
       R"(TypeError: gates[1].condition.compare must be one of "==", "!=", "<", "<=", ">", ">=")"},
      {if_with(R"({"bits": 0, "compare": "==", "value": 1})"),
       "TypeError: gates[1].condition.bits must be a list of integers"},
      {if_with(R"({"bits": [0.5], "compare": "==", "value": 1})"),
       "TypeError: gates[1].condition.bits must be a list of integers"},
      {if_with(R"({"bits": [0], "compare": "==", "value": 1.0})"),
       "TypeError: gates[1].condition.value must be an integer"},
      {if_with(R"({"bits": [0], "compare": "==", "value": -1})"),
       "ValueError: gates[1].condition.value holds an integer out of range: -1"},
      {if_with(R"({"bits": [0], "compare": "==", "value": 18446744073709551616})"),
       "ValueError: gates[1].condition.value holds an integer out of range: "
       "18446744073709551616"},
      {if_with(R"({"bits": [0], "compare": "=="})"),
       "ValueError: gates[1].condition has no key 'value'"},
      {if_with(R"({"bits": [0], "compare": "==", "value": null})"),
       "ValueError: gates[1].condition has no key 'value'"},
      {if_with(R"({"compare": "==", "value": 0})"),
       "ValueError: gates[1].condition has no key 'bits'"},
      {if_with(R"({"bits": [0], "compare": "==", "value": 0, "mask": 1})"),
       "ValueError: gates[1].condition has an unknown key 'mask'"},
      {if_with(R"({"bits": [], "compare": "==", "value": 0})"),
       "ValueError: gates[1].condition: a condition needs at least one bit"},
      {if_with(R"({"bits": [0, 1], "compare": "<", "value": 4})"),
       "ValueError: gates[1].condition: condition value 4 does not fit in 2 bits"},
      {if_with(R"({"bits": [0, 0], "compare": "<", "value": 0})"),
       "ValueError: gates[1].condition: condition bit 0 appears twice"},
      {if_with(
           R"({"bits": [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64], "compare": "<", "value": 0})"),
       "NotImplementedError: gates[1].condition: a condition reads at most 64 bits, got 65"},
      // The record's own rules, named at the record.
      {if_with(good, R"(, "control": [1])"),
       "ValueError: gates[1]: 'if' records cannot be controlled"},
      {R"({"id": "while", "target": [0], "condition": {"bits": [0], "compare": "==", "value": 1}, )" +
           body + R"(, "else_gate_sequence": []})",
       "ValueError: gates[0]: 'while' records have no else_gate_sequence"},
      {R"({"id": "x", "target": [0], "else_gate_sequence": []})",
       "ValueError: gates[0]: an else_gate_sequence needs an 'if' record with a condition"},
      {R"({"id": "if", "target": [1], "condition": {"bits": [0], "compare": "==", "value": 1}, )" +
           body + "}",
       "ValueError: gates[0]: the target of a conditioned record lists the qubits its bodies act "
       "on, [0], not [1]"},
      {R"({"id": "if", "target": [], "condition": {"bits": [0], "compare": "==", "value": 1}})",
       "ValueError: gates[0]: 'if' records need a block_gate_sequence"},
      // Faults inside bodies are placed through them.
      {if_with(good, R"(, "else_gate_sequence": [{"id": "x"}])"),
       "ValueError: gates[1].else_gate_sequence[0] has no key 'target'"},
      {R"({"id": "if", "target": [0], "condition": {"bits": [0], "compare": "==", "value": 1}, "block_gate_sequence": [)" +
           if_with(R"({"bits": [1], "compare": "!", "value": 1})") + "]}",
       R"(ValueError: gates[0].block_gate_sequence[1].condition.compare must be one of "==", "!=", "<", "<=", ">", ">=")"},
  };
  for (const auto& row : rows) {
    const std::string text = R"({"num_qubits": 2, "gates": [)" + row.gates + "]}";
    EXPECT_EQ(outcome_of([&] { (void)read_gate_sequence_json(text); }), row.outcome) << text;
  }
}

// Else-bodies count towards the nesting bound as blocks do, when read and when written.
TEST(JsonForm, ElseBodiesNestWithinTheBound) {
  const auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) {
      text += R"({"id": "if", "target": [0], "condition": {"bits": [0], "compare": "==", )"
              R"("value": 1}, "block_gate_sequence": [], "else_gate_sequence": [)";
    }
    text += R"({"id": "x", "target": [0]})";
    for (int i = 0; i < depth; ++i)
      text += "]}";
    return R"({"gates": [)" + text + "]}";
  };
  const GateSequence deepest = read_gate_sequence_json(nested(1000));
  EXPECT_EQ(read_gate_sequence_json(json_of(deepest)).data(), deepest.data());
  EXPECT_EQ(outcome_of([&] { (void)read_gate_sequence_json(nested(1001)); }),
            "RecursionError: maximum recursion depth exceeded");

  QuantumGate level("x", {0});
  for (int i = 0; i < 1001; ++i) {
    level = corvane::make_conditioned("if", Condition({0}, Comparison::Equal, 1),
                                      corvane::make_block({}), corvane::make_block({level}));
  }
  GateSequence too_deep(1);
  too_deep.add_gate(std::move(level));
  EXPECT_EQ(outcome_of([&] { (void)json_of(too_deep); }),
            "RecursionError: maximum recursion depth exceeded");
}

// Every path through blocks to a record of a generated sequence is found at that record's
// own object in the text it was read from, past blocks and else-bodies before it.
void expect_starts_found(const std::string& text, const GateSequence& gs,
                         const corvane::qasm3::cli::RecordStarts& starts,
                         const std::vector<QuantumGate>& gates, std::vector<std::size_t>& path,
                         int& checked) {
  for (std::size_t k = 0; k < gates.size(); ++k) {
    path.push_back(k);
    const std::optional<std::size_t> start = corvane::qasm3::cli::record_start(gs, starts, path);
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(text.substr(*start, 9 + gates[k].id.size()), "{\"id\": \"" + gates[k].id + "\"")
        << "record " << checked;
    ++checked;
    if (gates[k].block_gate_sequence()) {
      expect_starts_found(text, gs, starts, *gates[k].block_gate_sequence(), path, checked);
    }
    path.pop_back();
  }
}

TEST(JsonForm, RecordStartsPlaceEveryRecordThroughBlocks) {
  int checked = 0;
  for (std::uint64_t seed = 1; seed <= 100; ++seed) {
    const GateSequence gs = SequenceGenerator(seed).sequence();
    const std::string text = json_of(gs);
    corvane::qasm3::cli::RecordStarts starts;
    const GateSequence back = read_gate_sequence_json(text, {}, &starts);
    std::vector<std::size_t> path;
    expect_starts_found(text, back, starts, back.data(), path, checked);
  }
  EXPECT_GT(checked, 500);
}

// Keys in any order: an else-body written before the body, a block before the record's id.
TEST(JsonForm, RecordStartsFollowTheTextsOrder) {
  const std::string text =
      R"({"gates": [{"else_gate_sequence": [{"id": "z", "target": [0]}], "id": "if", )"
      R"("target": [0], "condition": {"bits": [0], "compare": "==", "value": 1}, )"
      R"("block_gate_sequence": [{"id": "x", "target": [0]}]},)"
      "\n"
      R"({"block_gate_sequence": [{"id": "h", "target": [0]}, {"id": "block", "target": [0], )"
      R"("block_gate_sequence": [{"id": "s", "target": [0]}]}], "id": "block", "target": [0]},)"
      "\n"
      R"({"id": "y", "target": [0]}]})";
  corvane::qasm3::cli::RecordStarts starts;
  const GateSequence gs = read_gate_sequence_json(text, {}, &starts);
  const std::vector<std::pair<std::vector<std::size_t>, std::string_view>> rows = {
      {{0}, R"({"else_gate_sequence")"},
      {{0, 0}, R"({"id": "x")"},
      {{1}, R"({"block_gate_sequence")"},
      {{1, 0}, R"({"id": "h")"},
      {{1, 1}, R"({"id": "block")"},
      {{1, 1, 0}, R"({"id": "s")"},
      {{2}, R"({"id": "y")"},
  };
  for (const auto& [path, expected] : rows) {
    const std::optional<std::size_t> start = corvane::qasm3::cli::record_start(gs, starts, path);
    ASSERT_TRUE(start.has_value()) << expected;
    EXPECT_EQ(text.substr(*start, expected.size()), expected);
  }
  for (const std::vector<std::size_t>& outside :
       std::vector<std::vector<std::size_t>>{{}, {3}, {2, 0}, {1, 2}, {1, 0, 0}}) {
    EXPECT_FALSE(corvane::qasm3::cli::record_start(gs, starts, outside).has_value());
  }
  EXPECT_EQ(corvane::qasm3::cli::place_in_text(text, text.rfind("{\"id\": \"y\"")),
            (corvane::qasm3::Location{3, 1, text.rfind("{\"id\": \"y\"")}));
}

}  // namespace
