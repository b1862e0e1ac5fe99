// The gate model: stored matrices, index lists, parameters, records and sequences.
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "corvane/backend/pygates/unitary.hpp"
#include "qasm/records/qasm3_vocabulary.hpp"
#include "test_support.hpp"

namespace {

using corvane::gate_set;
using corvane::GateBlock;
using corvane::IndexList;
using corvane::Matrix;
using corvane::Parameter;
using corvane::ParamList;
using corvane::ParamScalar;
using corvane::QuantumGate;
using Complex = std::complex<double>;
constexpr double PI = std::numbers::pi;
constexpr double TOLERANCE = 1e-12;

// ------------------------------------------------------------------ matrix helpers

Matrix product(const Matrix& a, const Matrix& b) {
  Matrix out(a.rows, b.cols);
  for (std::size_t r = 0; r < a.rows; ++r) {
    for (std::size_t c = 0; c < b.cols; ++c) {
      for (std::size_t k = 0; k < a.cols; ++k)
        out(r, c) += a(r, k) * b(k, c);
    }
  }
  return out;
}

Matrix adjoint(const Matrix& m) {
  Matrix out(m.cols, m.rows);
  for (std::size_t r = 0; r < m.rows; ++r) {
    for (std::size_t c = 0; c < m.cols; ++c)
      out(c, r) = std::conj(m(r, c));
  }
  return out;
}

Matrix identity(std::size_t n) {
  Matrix out(n, n);
  for (std::size_t i = 0; i < n; ++i)
    out(i, i) = 1.0;
  return out;
}

Matrix fixed(std::string_view id) {
  const corvane::GateMatrixEntry* entry = gate_set().get(id);
  if (entry == nullptr || !entry->fixed)
    throw std::logic_error("no fixed matrix for " + std::string(id));
  return *entry->fixed;
}

Matrix of(std::string_view id, const Parameter& parameter) {
  const corvane::GateMatrixEntry* entry = gate_set().get(id);
  if (entry == nullptr || !entry->is_function())
    throw std::logic_error("no function for " + std::string(id));
  return entry->of_parameter(parameter);
}

Parameter angles(std::vector<ParamScalar> items) {
  return Parameter::list(std::move(items));
}

// ------------------------------------------------------------------ stored matrices

constexpr std::string_view FIXED_IDS[] = {
    "h",     "x",         "y", "z",    "s",  "s_dag", "t",  "t_dag", "sqrtx", "sqrtx_dag",
    "sqrty", "sqrty_dag", "i", "cnot", "cx", "cy",    "cz", "ch",    "swap",
};
constexpr std::string_view FUNCTION_IDS[] = {"rx", "ry", "rz", "p", "phase_gate", "u"};

TEST(GateSet, EveryEntryIsUnitaryOfItsSize) {
  for (std::string_view id : FIXED_IDS) {
    const Matrix m = fixed(id);
    EXPECT_EQ(m.rows, id.starts_with("c") || id == "swap" ? 4U : 2U) << id;
    EXPECT_LT(distance(product(m, adjoint(m)), identity(m.rows)), TOLERANCE) << id;
  }
  for (std::string_view id : FUNCTION_IDS) {
    for (const double a : {0.0, -0.7, PI / 3, 2 * PI, -123.25}) {
      const Matrix m = of(id, id == "u" ? angles({a, a / 2, -a}) : Parameter(a));
      EXPECT_LT(distance(product(m, adjoint(m)), identity(2)), TOLERANCE) << id << " " << a;
    }
  }
  for (std::string_view id : {"H", "sdg", "mcx", "block", ""})
    EXPECT_EQ(gate_set().get(id), nullptr) << id;
}

TEST(GateSet, ListsEveryIdOnceFixedOnesFirst) {
  std::vector<std::string_view> expected(std::begin(FIXED_IDS), std::end(FIXED_IDS));
  expected.insert(expected.end(), std::begin(FUNCTION_IDS), std::end(FUNCTION_IDS));
  EXPECT_EQ(gate_set().ids(), expected);
  EXPECT_EQ(gate_set().size(), expected.size());
}

// Relations between the gates catch a wrong sign or a swapped entry that unitarity alone
// does not. (The square roots of X and Y are pinned by the test of the definition bodies.)
TEST(GateSet, MatricesSatisfyTheirAlgebra) {
  const Complex i(0, 1);
  const double h = 1 / std::sqrt(2.0);
  const auto twice = [](std::string_view id) { return product(fixed(id), fixed(id)); };
  const auto times = [](std::string_view a, std::string_view b) {
    return product(fixed(a), fixed(b));
  };
  const std::vector<std::pair<Matrix, Matrix>> equal = {
      {twice("s"), fixed("z")},
      {twice("s_dag"), fixed("z")},
      {twice("t"), fixed("s")},
      {twice("h"), fixed("i")},
      {twice("swap"), identity(4)},
      {times("s", "s_dag"), fixed("i")},
      {times("t", "t_dag"), fixed("i")},
      {product(times("h", "x"), fixed("h")), fixed("z")},
      {fixed("cnot"), fixed("cx")},
      {of("rx", PI), Matrix(2, 2, {0, -i, -i, 0})},
      {of("ry", PI / 2), Matrix(2, 2, {h, -h, h, h})},
      {of("rz", PI), Matrix(2, 2, {-i, 0, 0, i})},
      {of("p", PI / 2), fixed("s")},
      {of("phase_gate", PI / 4), fixed("t")},
      {of("u", angles({PI / 2, 0.0, PI})), fixed("h")},
      {of("u", angles({0.3, -PI / 2, PI / 2})), of("rx", 0.3)},
      {of("u", angles({-1.1, 0.0, 0.0})), of("ry", -1.1)},
      {of("u", angles({0.0, 0.0, 2.9})), of("p", 2.9)},
  };
  for (std::size_t k = 0; k < equal.size(); ++k)
    EXPECT_LT(distance(equal[k].first, equal[k].second), TOLERANCE) << "row " << k;
  // Controlled gates act on the target (second qubit) only when the control is one.
  for (const auto& [controlled, base] :
       {std::pair{"cx", "x"}, std::pair{"cy", "y"}, std::pair{"cz", "z"}, std::pair{"ch", "h"}}) {
    Matrix expected = identity(4);
    for (std::size_t r = 0; r < 2; ++r) {
      for (std::size_t c = 0; c < 2; ++c)
        expected(r + 2, c + 2) = fixed(base)(r, c);
    }
    EXPECT_EQ(fixed(controlled), expected) << controlled;
  }
}

// The definitions the exporter writes for gates without a standard-library form
// implement the matrices the gate model gives those gates.
TEST(GateSet, GeneratedDefinitionBodiesHaveTheirGatesMatrices) {
  using namespace corvane::qasm3::detail;
  for (const NonStandardBody& body : NON_STANDARD_BODIES) {
    Matrix applied = identity(2);
    for (std::size_t k = 0; k < body.line_count; ++k) {
      const std::string_view line = body.lines[k];
      ASSERT_TRUE(line.ends_with(" a0;")) << line;
      const std::string_view name = line.substr(0, line.size() - 4);
      applied = product(fixed(lookup(QASM3_TO_INT, name).value_or(name)), applied);
    }
    EXPECT_LT(distance(applied, fixed(body.id)), TOLERANCE) << body.id;
  }
}

// Each parameter gives the matrix of another it stands for, or is rejected, with the
// message where one is given.
TEST(GateSet, ParametersTakenAsAnglesOrRejected) {
  struct Row {
    std::string_view id;
    Parameter parameter;
    std::optional<Parameter> same_as;
    std::string_view message = {};
  };
  const std::vector<Row> rows = {
      {"rx", angles({PI}), PI},
      {"rx", Parameter::list({PI}, /*as_tuple=*/true), PI},
      {"p", std::int64_t{1}, 1.0},
      {"p", true, 1.0},
      {"p", angles({std::int64_t{2}}), 2.0},
      {"u", angles({true, std::int64_t{0}, 0.5}), angles({1.0, 0.0, 0.5})},
      {"rx", Parameter(), {}},
      {"rx", angles({}), {}},
      {"rx", angles({1.0, 2.0}), {}},
      {"rx", angles({std::string("x")}), {}},
      {"rz", Parameter(identity(2)), {}},
      {"u", 1.0, {}},
      {"u", angles({1.0, std::string("b"), 2.0}), {}},
      {"u",
       angles({1.0}),
       {},
       "the matrix of gate 'u' needs a list of 3 angles, got a list of 1 entry"},
      {"rx",
       "pi",
       {},
       "the matrix of gate 'rx' needs one angle (a number, or a list of one number), got a text"},
  };
  for (const Row& row : rows) {
    if (row.same_as) {
      EXPECT_EQ(of(row.id, row.parameter), of(row.id, *row.same_as)) << row.id;
      continue;
    }
    try {
      of(row.id, row.parameter);
      ADD_FAILURE() << "no error for " << row.id;
    } catch (const std::invalid_argument& e) {
      EXPECT_TRUE(row.message.empty() || e.what() == row.message) << e.what();
    }
  }
}

// ------------------------------------------------------------------ IndexList

// Lists up to two entries long live inline, longer ones on the heap: every operation is
// tried on both sides of that line, and across it.
TEST(IndexList, CopiesMovesAndGrowthAcrossInlineAndHeap) {
  for (const std::size_t n : {0U, 1U, 2U, 3U, 17U}) {
    SCOPED_TRACE(n);
    IndexList list;
    std::vector<std::int64_t> expected;
    for (std::size_t i = 0; i < n; ++i) {
      list.push_back(static_cast<std::int64_t>(i * 10) - 5);
      expected.push_back(static_cast<std::int64_t>(i * 10) - 5);
    }
    EXPECT_EQ(std::vector<std::int64_t>(list.begin(), list.end()), expected);
    EXPECT_EQ(IndexList(expected.begin(), expected.end()), list);

    IndexList copy(list);
    copy.push_back(99);
    EXPECT_EQ(list.size(), n);  // the copy has storage of its own
    for (IndexList target : {IndexList{7}, IndexList{9, 9, 9, 9}}) {
      target = list;
      EXPECT_EQ(target, list);
      const IndexList& alias = target;
      target = alias;
      EXPECT_EQ(target, list);
    }

    IndexList moved(std::move(copy));
    EXPECT_EQ(moved.size(), n + 1);
    EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): moved-from lists are empty
    copy.push_back(8);          // NOLINT(clang-analyzer-cplusplus.Move): and usable again
    EXPECT_EQ(copy, (IndexList{8}));
    IndexList assigned{1, 2, 3, 4};
    assigned = std::move(moved);
    EXPECT_EQ(assigned.size(), n + 1);
    EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move)
  }
}

// ------------------------------------------------------------------ Parameter

TEST(Parameter, KeepsEveryKindApart) {
  const std::vector<Parameter> distinct = {
      Parameter(),
      angles({}),
      true,
      1,
      1.0,
      "1",
      Parameter(identity(1)),
      angles({1.0}),
      Parameter::list({1.0}, true),
      angles({true}),
      angles({std::int64_t{1}}),
      Parameter::list({std::int64_t{1}}, true),
      Parameter::list({0.5}, true),
      Parameter::list({1.0, 1.0}, true),
  };
  for (std::size_t a = 0; a < distinct.size(); ++a) {
    for (std::size_t b = 0; b < distinct.size(); ++b)
      EXPECT_EQ(distinct[a] == distinct[b], a == b) << a << " vs " << b;
  }
  EXPECT_EQ(Parameter(1).kind(), Parameter::Kind::Integer);
  EXPECT_EQ(angles({}).kind(), Parameter::Kind::List);
}

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

// Entries equal as the values they hold: the same alternative, and for numbers the same bits
// (so -0.0 and NaN are told apart and recognised).
bool same_entries(const corvane::ParamListView& view, const std::vector<ParamScalar>& entries) {
  return std::equal(view.begin(), view.end(), entries.begin(), entries.end(),
                    [](const ParamScalar& a, const ParamScalar& b) {
                      const auto* x = std::get_if<double>(&a);
                      const auto* y = std::get_if<double>(&b);
                      if (x == nullptr || y == nullptr) return a == b;
                      return std::bit_cast<std::uint64_t>(*x) == std::bit_cast<std::uint64_t>(*y);
                    });
}

// Tuples of one to three floating-point numbers are kept in place whichever way they are
// built, every other list is shared; both read as the lists they are, copied or moved.
TEST(Parameter, ListsReadTheirEntriesWhereverTheyAreKept) {
  struct Row {
    const char* what;
    Parameter built;
    std::vector<ParamScalar> entries;
    bool is_tuple;
  };
  const std::vector<Row> rows = {
      {"one number", Parameter::one_number_tuple(0.5), {0.5}, true},
      {"two numbers", Parameter::number_tuple(std::array{0.5, -0.0}), {0.5, -0.0}, true},
      {"three numbers", Parameter::list({0.1, 0.2, 0.3}, true), {0.1, 0.2, 0.3}, true},
      {"three odd numbers", Parameter(ParamList{{-0.0, NaN, -INF}, true}), {-0.0, NaN, -INF}, true},
      {"four numbers",
       Parameter::number_tuple(std::array{1.0, 2.0, 3.0, 4.0}),
       {1.0, 2.0, 3.0, 4.0},
       true},
      {"no numbers", Parameter::number_tuple({}), {}, true},
      {"a list of three numbers", Parameter::list({0.1, 0.2, 0.3}), {0.1, 0.2, 0.3}, false},
      {"an integer among numbers",
       Parameter::list({std::int64_t{1}, -0.0, NaN}, true),
       {std::int64_t{1}, -0.0, NaN},
       true},
      {"a bool first", Parameter::list({true, 0.5}, true), {true, 0.5}, true},
      {"text last",
       Parameter::list({0.5, std::string("theta")}, true),
       {0.5, std::string("theta")},
       true},
  };
  for (const Row& row : rows) {
    Parameter copy = row.built;
    const Parameter moved = std::move(copy);
    for (const Parameter* p : {&row.built, &moved}) {
      ASSERT_EQ(p->kind(), Parameter::Kind::List) << row.what;
      const corvane::ParamListView view = p->as_list();
      EXPECT_EQ(view.is_tuple(), row.is_tuple) << row.what;
      EXPECT_EQ(view.size(), row.entries.size()) << row.what;
      EXPECT_TRUE(same_entries(view, row.entries)) << row.what;
    }
  }
}

// Lists compare entry by entry as numbers do (-0.0 equals 0.0, NaN equals nothing), a list
// never equals a tuple, and where either is kept makes no difference.
TEST(Parameter, ListsCompareByEntriesWhereverTheyAreKept) {
  const auto tuple = [](std::vector<ParamScalar> items) {
    return Parameter::list(std::move(items), true);
  };
  struct Row {
    Parameter a;
    Parameter b;
    bool equal;
  };
  const std::vector<Row> rows = {
      {Parameter::one_number_tuple(0.5), tuple({0.5}), true},
      {Parameter::number_tuple(std::array{0.5}), Parameter(ParamList{{0.5}, true}), true},
      {Parameter::number_tuple(std::array{0.1, 0.2, 0.3}), tuple({0.1, 0.2, 0.3}), true},
      {tuple({-0.0, 1.0}), tuple({0.0, 1.0}), true},
      {tuple({0.1, 0.2, 0.3}), angles({0.1, 0.2, 0.3}), false},
      {tuple({0.1, 0.2, 0.3}), tuple({0.3, 0.2, 0.1}), false},
      {tuple({0.1, 0.2}), tuple({0.1, 0.2, 0.3}), false},
      {tuple({0.1, 0.2, 0.3}), tuple({0.1, 0.2, 0.3, 0.4}), false},
      {tuple({0.1, 0.2, 0.3, 0.4}), tuple({0.1, 0.2, 0.3, 0.4}), true},
      {tuple({1.0, 2.0}), tuple({std::int64_t{1}, 2.0}), false},
      {tuple({1.0, 2.0}), tuple({true, 2.0}), false},
      {tuple({0.5, 2.0}), tuple({std::string("0.5"), 2.0}), false},
      {tuple({0.5}), Parameter(0.5), false},
      {tuple({NaN, 1.0}), tuple({NaN, 1.0}), false},
      {tuple({std::int64_t{1}, -0.0, NaN}), tuple({std::int64_t{1}, -0.0, NaN}), false},
      {tuple({std::int64_t{1}, -0.0, 2.0}), tuple({std::int64_t{1}, 0.0, 2.0}), true},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].a == rows[i].b, rows[i].equal) << "row " << i;
    EXPECT_EQ(rows[i].b == rows[i].a, rows[i].equal) << "row " << i;
  }
}

// ------------------------------------------------------------------ QuantumGate

QuantumGate block_of(GateBlock body) {
  QuantumGate b("block", {0});
  b.set_block_gate_sequence(std::move(body));
  return b;
}

TEST(QuantumGate, CopiesDeeplyAndComparesEveryAttribute) {
  QuantumGate original("mcx", {5}, {0, 1, 2}, {1, 0, 1}, angles({0.5}));
  original.set_matrix(identity(2));
  original.set_name("label");
  original.set_classical_target(IndexList{2});
  const std::vector<std::function<void(QuantumGate&)>> changes = {
      [](QuantumGate& g) { g.set_name("other"); },
      [](QuantumGate& g) { g.set_name(std::nullopt); },
      [](QuantumGate& g) { g.target.push_back(6); },
      [](QuantumGate& g) { g.set_matrix(identity(4)); },
      [](QuantumGate& g) { g.set_stored_matrix(identity(2)); },
      [](QuantumGate& g) { g.set_classical_target(std::nullopt); },
      [](QuantumGate& g) { g.set_block_gate_sequence(corvane::make_block({})); },
  };
  for (std::size_t k = 0; k < changes.size(); ++k) {
    QuantumGate copy(original);
    EXPECT_EQ(copy, original);
    changes[k](copy);
    EXPECT_NE(copy, original) << k;
    EXPECT_EQ(original.name(), "label");
    EXPECT_EQ(original.target, (IndexList{5}));
    EXPECT_EQ(original.matrix(), identity(2));
    EXPECT_FALSE(original.has_stored_matrix());
  }
}

// A chain of `depth` blocks around one "x"; each level holds its child `width` times,
// all of them one shared list.
QuantumGate chain(int depth, int width = 1, std::string_view innermost = "x") {
  QuantumGate level("block", {0});
  level.set_block_gate_sequence(corvane::make_block({QuantumGate(std::string(innermost), {0})}));
  for (int i = 1; i < depth; ++i)
    level = block_of(corvane::make_block(std::vector<QuantumGate>(width, level)));
  return level;
}

TEST(QuantumGate, BlocksCompareByContentWithinTheNestingBound) {
  EXPECT_EQ(chain(2), chain(2));
  EXPECT_NE(chain(2), chain(3));
  EXPECT_NE(block_of(corvane::make_block({})), QuantumGate("block", {0}));  // empty is present
  // Deep chains built apart compare level by level; a difference at the bottom counts.
  EXPECT_EQ(chain(900), chain(900));
  EXPECT_NE(chain(900), chain(900, 1, "y"));
  // Each level holding its child twice: 2^60 records if expanded, compared once each.
  EXPECT_EQ(chain(60, 2), chain(60, 2));
  EXPECT_NE(chain(60, 2), chain(60, 2, "y"));
  EXPECT_THROW_MSG((void)(chain(1100) == chain(1100)), RecursionError,
                   "maximum recursion depth exceeded");
  const QuantumGate deep = chain(1100);
  EXPECT_EQ(deep, QuantumGate(deep));  // copies share the chain: equal without a walk
}

TEST(QuantumGate, ReleasingDeeplyNestedBlocksDoesNotRecurse) {
  QuantumGate top = chain(200'000);
  {
    const QuantumGate sharing(top);  // NOLINT(performance-unnecessary-copy-initialization)
  }
  EXPECT_NE(top.block_gate_sequence(), nullptr);  // a copy dropped frees nothing
  top = QuantumGate("h", {0});                    // frees the whole chain
  EXPECT_EQ(top.block_gate_sequence(), nullptr);
}

// ------------------------------------------------------------------ conditioned records

using corvane::Comparison;
using corvane::Condition;

Condition on_bits(IndexList bits, std::uint64_t value = 0, Comparison compare = Comparison::Equal) {
  return {std::move(bits), compare, value};
}

IndexList first_bits(std::size_t count) {
  IndexList bits;
  for (std::size_t i = 0; i < count; ++i)
    bits.push_back(static_cast<std::int64_t>(i));
  return bits;
}

TEST(Condition, ChecksItsBitsAndValue) {
  struct Row {
    std::function<IndexList()> bits;
    std::uint64_t value;
    std::string_view outcome;
  };
  const std::vector<Row> rows = {
      {[] { return IndexList{0}; }, 1, "ok"},
      {[] { return IndexList{0}; }, 2, "ValueError: condition value 2 does not fit in 1 bit"},
      {[] {
         return IndexList{7, 2};
       },
       3, "ok"},
      {[] {
         return IndexList{7, 2};
       },
       4, "ValueError: condition value 4 does not fit in 2 bits"},
      {[] { return IndexList{}; }, 0, "ValueError: a condition needs at least one bit"},
      {[] {
         return IndexList{0, -1};
       },
       0, "ValueError: condition bits must not be negative, got -1"},
      {[] {
         return IndexList{3, 1, 3};
       },
       0, "ValueError: condition bit 3 appears twice"},
      {[] { return first_bits(63); }, (std::uint64_t{1} << 63U) - 1, "ok"},
      {[] { return first_bits(63); }, std::uint64_t{1} << 63U,
       "ValueError: condition value 9223372036854775808 does not fit in 63 bits"},
      {[] { return first_bits(64); }, UINT64_MAX, "ok"},
      {[] { return first_bits(65); }, 0,
       "NotImplementedError: a condition reads at most 64 bits, got 65"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(outcome_of([&] { (void)on_bits(row.bits(), row.value); }), row.outcome)
        << row.outcome;
  }
}

TEST(Condition, ComparisonsReadBackFromTheirText) {
  for (const Comparison compare :
       {Comparison::Equal, Comparison::NotEqual, Comparison::Less, Comparison::LessEqual,
        Comparison::Greater, Comparison::GreaterEqual}) {
    EXPECT_EQ(corvane::comparison_from_text(corvane::comparison_text(compare)), compare);
  }
  EXPECT_EQ(corvane::comparison_text(Comparison::LessEqual), "<=");
  for (const std::string_view text : {"=", "=<", "<>", "== ", "", "eq"})
    EXPECT_EQ(corvane::comparison_from_text(text), std::nullopt) << text;
}

GateBlock gates_of(std::vector<QuantumGate> gates) {
  return corvane::make_block(std::move(gates));
}

using hand_built::measure;

// An "if" on bit 0 == 1 with a body and an else-body.
QuantumGate if_else() {
  return corvane::make_conditioned("if", on_bits({0}, 1),
                                   gates_of({QuantumGate("x", {4}, {1}, {1}), measure(2, 1)}),
                                   gates_of({QuantumGate("z", {2})}));
}

TEST(ConditionedRecord, TargetListsTheQubitsOfItsBodies) {
  const QuantumGate record = if_else();
  EXPECT_EQ(record.target, (IndexList{1, 2, 4}));
  EXPECT_EQ(corvane::qubits_of_bodies(nullptr), IndexList{});
  EXPECT_EQ(corvane::qubits_of_bodies(gates_of({}), gates_of({})), IndexList{});
  // A nested conditioned record counts with its own target; a definition block with the
  // qubits it is called on, not those of its body.
  QuantumGate call("block", {9, 8}, {7});
  call.set_block_gate_sequence(gates_of({QuantumGate("h", {0}), QuantumGate("cx", {1}, {0})}));
  EXPECT_EQ(corvane::qubits_of_bodies(gates_of({record, call}), gates_of({QuantumGate("y", {3})})),
            (IndexList{1, 2, 3, 4, 7, 8, 9}));
}

TEST(ConditionedRecord, BreakingARuleIsAValueError) {
  struct Row {
    std::string_view what;
    std::function<void(QuantumGate&)> change;
    std::string_view outcome;
  };
  const std::vector<Row> rows = {
      {"as made", [](QuantumGate&) {}, "ok"},
      {"no else", [](QuantumGate& g) { g.set_else_gate_sequence(nullptr); }, "ok"},
      {"a while",
       [](QuantumGate& g) {
         g.id = "while";
         g.set_else_gate_sequence(nullptr);
       },
       "ok"},
      {"while with else", [](QuantumGate& g) { g.id = "while"; },
       "ValueError: 'while' records have no else_gate_sequence"},
      {"other id", [](QuantumGate& g) { g.id = "block"; },
       "ValueError: a condition belongs to 'if' and 'while' records, not to 'block' records"},
      {"control", [](QuantumGate& g) { g.control = {5}; },
       "ValueError: 'if' records cannot be controlled"},
      {"control state alone", [](QuantumGate& g) { g.control_state = {1}; },
       "ValueError: 'if' records cannot be controlled"},
      {"no block", [](QuantumGate& g) { g.set_block_gate_sequence(nullptr); },
       "ValueError: 'if' records need a block_gate_sequence"},
      {"empty bodies",
       [](QuantumGate& g) {
         g.set_block_gate_sequence(gates_of({}));
         g.set_else_gate_sequence(gates_of({}));
         g.target = {};
       },
       "ok"},
      {"target missing a qubit",
       [](QuantumGate& g) {
         g.target = {1, 4};
       },
       "ValueError: the target of a conditioned record lists the qubits its bodies act on, "
       "[1, 2, 4], not [1, 4]"},
      {"target out of order",
       [](QuantumGate& g) {
         g.target = {4, 2, 1};
       },
       "ValueError: the target of a conditioned record lists the qubits its bodies act on, "
       "[1, 2, 4], not [4, 2, 1]"},
      {"else without a condition", [](QuantumGate& g) { g.set_condition(std::nullopt); },
       "ValueError: an else_gate_sequence needs an 'if' record with a condition"},
      {"an ordinary record named if",
       [](QuantumGate& g) {
         g.set_condition(std::nullopt);
         g.set_else_gate_sequence(nullptr);
         g.control = {5};
       },
       "ok"},
  };
  for (const Row& row : rows) {
    QuantumGate record = if_else();
    row.change(record);
    EXPECT_EQ(outcome_of([&] { corvane::check_conditioned(record); }), row.outcome) << row.what;
  }
  EXPECT_EQ(
      outcome_of([] { (void)corvane::make_conditioned("measure", on_bits({0}), gates_of({})); }),
      "ValueError: a condition belongs to 'if' and 'while' records, not to 'measure' "
      "records");
}

TEST(ConditionedRecord, CopiesDeeplyAndComparesConditionsAndBothBodies) {
  const QuantumGate original = if_else();
  const std::vector<std::function<void(QuantumGate&)>> changes = {
      [](QuantumGate& g) { g.set_condition(on_bits({0}, 0)); },
      [](QuantumGate& g) { g.set_condition(on_bits({0}, 1, Comparison::NotEqual)); },
      [](QuantumGate& g) { g.set_condition(on_bits({1}, 1)); },
      [](QuantumGate& g) {
        g.set_condition(on_bits({0, 1}, 1));
      },
      [](QuantumGate& g) { g.set_condition(std::nullopt); },
      [](QuantumGate& g) { g.set_else_gate_sequence(nullptr); },
      [](QuantumGate& g) { g.set_else_gate_sequence(gates_of({})); },
      [](QuantumGate& g) { g.set_else_gate_sequence(gates_of({QuantumGate("z", {3})})); },
      // The same records, the body and the else-body exchanged.
      [](QuantumGate& g) {
        GateBlock body = g.block_gate_sequence();
        g.set_block_gate_sequence(g.else_gate_sequence());
        g.set_else_gate_sequence(std::move(body));
      },
  };
  for (std::size_t k = 0; k < changes.size(); ++k) {
    QuantumGate copy(original);
    EXPECT_EQ(copy, original);
    changes[k](copy);
    EXPECT_NE(copy, original) << k;
    EXPECT_EQ(original, if_else()) << k;  // built apart: compared by content
  }
  // A plain gate keeps no trace of a condition set and cleared.
  QuantumGate plain("h", {0});
  plain.set_condition(on_bits({0}));
  plain.set_condition(std::nullopt);
  EXPECT_EQ(plain, QuantumGate("h", {0}));
}

// `depth` "if" records, each the only record of its parent's else-body (or, with
// `in_block`, of its block), around one `innermost` gate.
QuantumGate if_chain(int depth, bool in_block = false, std::string_view innermost = "x") {
  QuantumGate level = corvane::make_conditioned(
      "if", on_bits({0}, 1), gates_of({QuantumGate(std::string(innermost), {0})}));
  for (int i = 1; i < depth; ++i) {
    const bool into_block = in_block && i % 2 == 0;
    GateBlock inner = gates_of({std::move(level)});
    level = into_block
                ? corvane::make_conditioned("if", on_bits({0}, 1), std::move(inner))
                : corvane::make_conditioned("if", on_bits({0}, 1),
                                            gates_of({QuantumGate("h", {0})}), std::move(inner));
  }
  return level;
}

TEST(ConditionedRecord, NestedBodiesCompareWithinTheNestingBound) {
  EXPECT_EQ(if_chain(900), if_chain(900));
  EXPECT_EQ(if_chain(900, true), if_chain(900, true));
  EXPECT_NE(if_chain(900), if_chain(900, true));
  EXPECT_NE(if_chain(900, true), if_chain(900, true, "y"));
  EXPECT_THROW_MSG((void)(if_chain(1100) == if_chain(1100)), RecursionError,
                   "maximum recursion depth exceeded");
}

TEST(ConditionedRecord, ReleasingDeeplyNestedBodiesDoesNotRecurse) {
  for (const bool in_block : {false, true}) {
    QuantumGate top = if_chain(200'000, in_block);
    { const QuantumGate sharing(top); }  // NOLINT(performance-unnecessary-copy-initialization)
    EXPECT_NE(top.else_gate_sequence(), nullptr);
    top = QuantumGate("h", {0});  // frees the whole chain
    EXPECT_EQ(top.else_gate_sequence(), nullptr);
  }
}

TEST(GateSequence, QubitCountIsNotNegative) {
  EXPECT_EQ(corvane::GateSequence(0).num_qubits, 0);
  EXPECT_THROW(corvane::GateSequence(-1), std::invalid_argument);
}

}  // namespace
