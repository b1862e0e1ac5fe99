#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "qasm3_vocabulary.hpp"
#include "test_support.hpp"

namespace {

using namespace corvane::qasm3::detail;

TEST(Vocabulary, TablesHaveTheirRowCounts) {
  EXPECT_EQ(INT_TO_QASM3.size(), 21u);
  EXPECT_EQ(QASM3_TO_INT.size(), 35u);
  EXPECT_EQ(SINGLE_QUBIT_OPS.size(), 16u);
  EXPECT_EQ(TWO_QUBIT_GATES.size(), 11u);
  EXPECT_EQ(CTRL_THEN_TARG_GATES.size(), 10u);
  EXPECT_EQ(COMPACT_CONTROL_TARGET_ARITY.size(), 2u);
  EXPECT_EQ(CTRL_GATE_BASE.size(), 5u);
  EXPECT_EQ(MODIFIER_BASE_GATES.size(), 7u);
  EXPECT_EQ(SINGLE_CONTROLLED_COMPACT_IDS.size(), 8u);
  EXPECT_EQ(NON_STANDARD.size(), 3u);
  EXPECT_EQ(NON_STANDARD_BODIES.size(), 4u);
}

// The import table is the inverse of the export table (later rows winning) with the
// importer's own rows merged over it; an entry overwritten keeps its place and a new
// one goes to the end. Rebuilding it that way checks every row and the row order.
TEST(Vocabulary, ImportTableIsTheMergedInverseOfTheExportTable) {
  std::vector<NamePair> merged;
  const auto put = [&merged](std::string_view key, std::string_view value) {
    auto row = std::find_if(merged.begin(), merged.end(),
                            [key](const NamePair& r) { return r.first == key; });
    if (row != merged.end()) {
      row->second = value;
    } else {
      merged.emplace_back(key, value);
    }
  };
  for (const auto& [id, name] : INT_TO_QASM3)
    put(name, id);
  const NamePair importer_rows[] = {
      {"x", "x"},       {"y", "y"},     {"z", "z"},       {"h", "h"},        {"s", "s"},
      {"swap", "swap"}, {"U", "u"},     {"rx", "rx"},     {"ry", "ry"},      {"rz", "rz"},
      {"p", "p"},       {"phase", "p"}, {"gphase", "gp"}, {"sdg", "s_dag"},  {"tdg", "t_dag"},
      {"t", "t"},       {"id", "i"},    {"sx", "sqrtx"},  {"cx", "cx"},      {"cy", "cy"},
      {"cz", "cz"},     {"cnot", "cx"}, {"ch", "ch"},     {"cp", "cp"},      {"crx", "crx"},
      {"cry", "cry"},   {"crz", "crz"}, {"ccx", "mcx"},   {"cswap", "swap"}, {"cu", "u"},
  };
  for (const auto& [name, id] : importer_rows)
    put(name, id);
  ASSERT_EQ(merged.size(), QASM3_TO_INT.size());
  for (std::size_t i = 0; i < merged.size(); ++i)
    EXPECT_EQ(merged[i], QASM3_TO_INT[i]) << i;
}

TEST(Vocabulary, LookupsBothWays) {
  using Row = std::pair<std::string_view, std::optional<std::string_view>>;
  const Row exports[] = {
      {"gp", "gphase"},    {"global_phase", "gphase"},
      {"phase_gate", "p"}, {"p", "p"},
      {"cnot", "cx"},      {"u", "U"},
      {"s_dag", "sdg"},    {"sqrtx", "sx"},
      {"mcrx", "rx"},      {"cx", std::nullopt},
      {"h", std::nullopt}, {"U", std::nullopt},
  };
  for (const auto& [id, name] : exports)
    EXPECT_EQ(lookup(INT_TO_QASM3, id), name) << id;

  const Row imports[] = {
      {"gphase", "gp"},   {"p", "p"},           {"phase", "p"},      {"cnot", "cx"},
      {"cx", "cx"},       {"U", "u"},           {"u", std::nullopt}, {"ccx", "mcx"},
      {"cswap", "swap"},  {"cu", "u"},          {"sx", "sqrtx"},     {"rx", "rx"},
      {"sqrty", "sqrty"}, {"Rx", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& [name, id] : imports)
    EXPECT_EQ(lookup(QASM3_TO_INT, name), id) << name;

  EXPECT_EQ(lookup(COMPACT_CONTROL_TARGET_ARITY, "cswap"), 2);
  EXPECT_EQ(lookup(COMPACT_CONTROL_TARGET_ARITY, "cx"), std::nullopt);
  EXPECT_EQ(lookup(CTRL_GATE_BASE, "cnot"), "x");
  EXPECT_EQ(lookup(MODIFIER_BASE_GATES, "cp"), "p");
  EXPECT_EQ(lookup(SINGLE_CONTROLLED_COMPACT_IDS, "mcrz"), "crz");
}

TEST(Vocabulary, SetsClassifyNames) {
  EXPECT_TRUE(contains(SINGLE_QUBIT_OPS, "U"));
  EXPECT_FALSE(contains(SINGLE_QUBIT_OPS, "u"));
  EXPECT_TRUE(contains(SINGLE_QUBIT_OPS, "phase"));
  EXPECT_FALSE(contains(SINGLE_QUBIT_OPS, "gphase"));
  // The singly-controlled two-qubit gates are the two-qubit gates other than "swap".
  for (std::string_view name : TWO_QUBIT_GATES) {
    EXPECT_EQ(contains(CTRL_THEN_TARG_GATES, name), name != "swap") << name;
  }
  EXPECT_TRUE(contains(NON_STANDARD, "sqrty_dag"));
  EXPECT_FALSE(contains(NON_STANDARD, "sqrtx"));
}

TEST(Vocabulary, NonStandardBodies) {
  const NonStandardBody* sqrtx = non_standard_body("sqrtx");
  ASSERT_NE(sqrtx, nullptr);
  EXPECT_EQ(sqrtx->line_count, 3u);
  EXPECT_EQ(sqrtx->lines[1], "s a0;");
  const NonStandardBody* sqrty_dag = non_standard_body("sqrty_dag");
  ASSERT_NE(sqrty_dag, nullptr);
  const std::vector<std::string_view> lines(sqrty_dag->lines.begin(),
                                            sqrty_dag->lines.begin() + sqrty_dag->line_count);
  EXPECT_EQ(lines,
            (std::vector<std::string_view>{"sdg a0;", "h a0;", "sdg a0;", "h a0;", "s a0;"}));
  EXPECT_EQ(non_standard_body("sx"), nullptr);
  EXPECT_EQ(non_standard_body("h"), nullptr);
  for (const NonStandardBody& body : NON_STANDARD_BODIES) {
    for (std::size_t i = body.line_count; i < body.lines.size(); ++i) {
      EXPECT_TRUE(body.lines[i].empty()) << body.id;
    }
  }
}

TEST(Vocabulary, GateDefComparesFieldByField) {
  const GateDef a{"g", {"a0", "a1"}, {"h a0", "cx a0, a1"}};
  EXPECT_EQ(a, (GateDef{"g", {"a0", "a1"}, {"h a0", "cx a0, a1"}}));
  EXPECT_NE(a, (GateDef{"g", {"a0", "a1"}, {"h a0"}}));
  EXPECT_NE(a, (GateDef{"g", {"a1", "a0"}, {"h a0", "cx a0, a1"}}));
  EXPECT_NE(a, (GateDef{"f", {"a0", "a1"}, {"h a0", "cx a0, a1"}}));
}

}  // namespace
