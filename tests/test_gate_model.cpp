#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "corvane/backend/pygates/unitary.hpp"
#include "test_support.hpp"

namespace {

using corvane::gate_set;
using corvane::GateBlock;
using corvane::GateSequence;
using corvane::IndexList;
using corvane::Matrix;
using corvane::Parameter;
using corvane::ParamList;
using corvane::ParamListView;
using corvane::ParamScalar;
using corvane::QuantumGate;
using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;

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

double distance(const Matrix& a, const Matrix& b) {
  if (a.rows != b.rows || a.cols != b.cols) return INFINITY;
  double worst = 0.0;
  for (std::size_t i = 0; i < a.data.size(); ++i)
    worst = std::max(worst, std::abs(a.data[i] - b.data[i]));
  return worst;
}

constexpr double kTolerance = 1e-12;

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

Matrix two_by_two(Complex a, Complex b, Complex c, Complex d) {
  return Matrix(2, 2, {a, b, c, d});
}

// ------------------------------------------------------------------ stored matrices

constexpr std::string_view kFixedIds[] = {
    "h",     "x",         "y", "z",    "s",  "s_dag", "t",  "t_dag", "sqrtx", "sqrtx_dag",
    "sqrty", "sqrty_dag", "i", "cnot", "cx", "cy",    "cz", "ch",    "swap",
};
constexpr std::string_view kFunctionIds[] = {"rx", "ry", "rz", "p", "phase_gate", "u"};

TEST(GateSet, HoldsExactlyTheStandardGates) {
  EXPECT_EQ(gate_set().size(), std::size(kFixedIds) + std::size(kFunctionIds));
  for (std::string_view id : kFixedIds) {
    const auto* entry = gate_set().get(id);
    ASSERT_NE(entry, nullptr) << id;
    EXPECT_FALSE(entry->is_function()) << id;
  }
  for (std::string_view id : kFunctionIds) {
    const auto* entry = gate_set().get(id);
    ASSERT_NE(entry, nullptr) << id;
    EXPECT_TRUE(entry->is_function()) << id;
    EXPECT_FALSE(entry->fixed.has_value()) << id;
  }
  for (std::string_view id : {"H", "block", "measure", "mcx", "", "sdg"}) {
    EXPECT_EQ(gate_set().get(id), nullptr) << id;
  }
  EXPECT_EQ(&gate_set(), &gate_set());
  EXPECT_EQ(gate_set().get("h"), gate_set().get("h"));
}

TEST(GateSet, FixedMatricesAreUnitary) {
  for (std::string_view id : kFixedIds) {
    const Matrix m = fixed(id);
    const bool two_qubit = id.starts_with("c") || id == "swap";
    EXPECT_EQ(m.rows, two_qubit ? 4u : 2u) << id;
    EXPECT_EQ(m.cols, m.rows) << id;
    EXPECT_LT(distance(product(m, adjoint(m)), identity(m.rows)), kTolerance) << id;
  }
}

TEST(GateSet, MatrixFunctionsAreUnitaryForAnyAngle) {
  const double angles[] = {0.0, 0.1, -0.7, kPi / 3, kPi, 2 * kPi, 5.5, -123.25};
  for (std::string_view id : kFunctionIds) {
    for (double a : angles) {
      const Parameter parameter = id == "u" ? Parameter::list({a, a / 2, -a}) : Parameter(a);
      const Matrix m = of(id, parameter);
      ASSERT_EQ(m.rows, 2u) << id;
      EXPECT_LT(distance(product(m, adjoint(m)), identity(2)), kTolerance) << id << " " << a;
    }
  }
}

// Relations between the gates catch a wrong sign or a swapped entry that unitarity alone
// does not.
TEST(GateSet, FixedMatricesSatisfyTheirAlgebra) {
  const std::pair<std::pair<std::string_view, std::string_view>, std::string_view> products[] = {
      {{"sqrtx", "sqrtx"}, "x"},
      {{"sqrty", "sqrty"}, "y"},
      {{"s", "s"}, "z"},
      {{"sqrtx_dag", "sqrtx_dag"}, "x"},
      {{"sqrty_dag", "sqrty_dag"}, "y"},
      {{"s_dag", "s_dag"}, "z"},
      {{"h", "h"}, "i"},
      {{"sqrtx", "sqrtx_dag"}, "i"},
      {{"sqrty", "sqrty_dag"}, "i"},
      {{"s", "s_dag"}, "i"},
      {{"t", "t_dag"}, "i"},
      {{"t", "t"}, "s"},
  };
  for (const auto& [factors, result] : products) {
    EXPECT_LT(distance(product(fixed(factors.first), fixed(factors.second)), fixed(result)),
              kTolerance)
        << factors.first << " * " << factors.second;
  }
  EXPECT_LT(distance(product(product(fixed("h"), fixed("x")), fixed("h")), fixed("z")), kTolerance);
  EXPECT_LT(distance(product(fixed("swap"), fixed("swap")), identity(4)), kTolerance);
  EXPECT_EQ(fixed("cnot"), fixed("cx"));
  // Controlled gates act on the target (second qubit) only when the control is one.
  for (const auto& [controlled, base] :
       {std::pair{"cx", "x"}, std::pair{"cy", "y"}, std::pair{"cz", "z"}, std::pair{"ch", "h"}}) {
    const Matrix c = fixed(controlled);
    const Matrix b = fixed(base);
    for (std::size_t r = 0; r < 4; ++r) {
      for (std::size_t k = 0; k < 4; ++k) {
        const Complex expected = r >= 2 && k >= 2 ? b(r - 2, k - 2) : (r == k ? 1.0 : 0.0);
        EXPECT_LT(std::abs(c(r, k) - expected), kTolerance) << controlled << r << k;
      }
    }
  }
}

TEST(GateSet, MatrixFunctionsGiveTheStandardRotations) {
  const Complex i(0, 1);
  const double h = 1 / std::sqrt(2.0);
  EXPECT_LT(distance(of("rx", kPi), two_by_two(0, -i, -i, 0)), kTolerance);
  EXPECT_LT(distance(of("ry", kPi / 2), two_by_two(h, -h, h, h)), kTolerance);
  EXPECT_LT(distance(of("rz", kPi), two_by_two(-i, 0, 0, i)), kTolerance);
  EXPECT_LT(distance(of("p", kPi / 2), fixed("s")), kTolerance);
  EXPECT_LT(distance(of("phase_gate", kPi / 4), fixed("t")), kTolerance);
  EXPECT_LT(distance(of("u", Parameter::list({kPi / 2, 0.0, kPi})), fixed("h")), kTolerance);
  for (double theta : {0.3, -1.1, 2.9}) {
    EXPECT_LT(distance(of("u", Parameter::list({theta, -kPi / 2, kPi / 2})), of("rx", theta)),
              kTolerance);
    EXPECT_LT(distance(of("u", Parameter::list({theta, 0.0, 0.0})), of("ry", theta)), kTolerance);
    EXPECT_LT(distance(of("u", Parameter::list({0.0, 0.0, theta})), of("p", theta)), kTolerance);
  }
}

TEST(GateSet, ParameterKindsTakenAsAngles) {
  const Matrix half_turn = of("rx", kPi);
  EXPECT_EQ(of("rx", Parameter::list({kPi})), half_turn);
  EXPECT_EQ(of("rx", Parameter::list({kPi}, /*as_tuple=*/true)), half_turn);
  EXPECT_EQ(of("p", Parameter(std::int64_t{1})), of("p", 1.0));
  EXPECT_EQ(of("p", Parameter(true)), of("p", 1.0));
  EXPECT_EQ(of("p", Parameter::list({std::int64_t{2}})), of("p", 2.0));
  EXPECT_EQ(of("u", Parameter::list({true, std::int64_t{0}, 0.5})),
            of("u", Parameter::list({1.0, 0.0, 0.5})));
}

TEST(GateSet, RejectsParametersThatAreNotAngles) {
  const auto expect_rejected = [](std::string_view id, const Parameter& parameter) {
    EXPECT_THROW(of(id, parameter), std::invalid_argument) << id;
  };
  expect_rejected("rx", Parameter("pi"));
  expect_rejected("rx", Parameter());
  expect_rejected("rx", Parameter::list({}));
  expect_rejected("rx", Parameter::list({1.0, 2.0}));
  expect_rejected("rx", Parameter::list({std::string("x")}));
  expect_rejected("rz", Parameter(identity(2)));
  expect_rejected("u", Parameter(1.0));
  expect_rejected("u", Parameter::list({1.0, 2.0}));
  expect_rejected("u", Parameter::list({1.0, std::string("b"), 2.0}));
  try {
    of("u", Parameter::list({1.0}));
    ADD_FAILURE() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "the matrix of gate 'u' needs a list of 3 angles, got a list of 1 entry");
  }
  try {
    of("rx", Parameter("pi"));
    ADD_FAILURE() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "the matrix of gate 'rx' needs one angle (a number, or a list of one number), got "
                 "a text");
  }
}

// ------------------------------------------------------------------ IndexList

std::vector<std::int64_t> values(const IndexList& list) {
  return {list.begin(), list.end()};
}

TEST(IndexList, GrowsFromInlineToHeap) {
  for (std::size_t n : {0u, 1u, 2u, 3u, 17u}) {
    IndexList list;
    std::vector<std::int64_t> expected;
    for (std::size_t i = 0; i < n; ++i) {
      list.push_back(static_cast<std::int64_t>(i * 10) - 5);
      expected.push_back(static_cast<std::int64_t>(i * 10) - 5);
    }
    EXPECT_EQ(values(list), expected) << n;
    EXPECT_EQ(list.size(), n);
    EXPECT_EQ(list.empty(), n == 0);
  }
  const std::vector<int> source = {4, 5, 6, 7};
  EXPECT_EQ(values(IndexList(source.begin(), source.end())),
            (std::vector<std::int64_t>{4, 5, 6, 7}));
  IndexList reserved;
  reserved.reserve(100);
  reserved.push_back(1);
  EXPECT_EQ(values(reserved), std::vector<std::int64_t>{1});
  reserved.clear();
  EXPECT_TRUE(reserved.empty());
}

TEST(IndexList, CopiesAreIndependent) {
  for (const IndexList& original : {IndexList{1, 2}, IndexList{1, 2, 3, 4, 5}}) {
    IndexList copy(original);
    EXPECT_EQ(copy, original);
    copy[0] = 99;
    copy.push_back(6);
    EXPECT_EQ(original[0], 1);
    EXPECT_NE(copy, original);

    IndexList assigned{7};
    assigned = original;
    EXPECT_EQ(assigned, original);
    IndexList heap_target{9, 9, 9, 9};
    heap_target = original;
    EXPECT_EQ(heap_target, original);
    const IndexList& alias = heap_target;
    heap_target = alias;  // self-assignment keeps the values
    EXPECT_EQ(heap_target, original);
  }
}

TEST(IndexList, MovesTakeTheStorageAndEmptyTheSource) {
  for (const IndexList& original : {IndexList{3}, IndexList{3, 4, 5}}) {
    IndexList source(original);
    const std::int64_t* storage = source.data();
    IndexList moved(std::move(source));
    EXPECT_EQ(moved, original);
    // A moved-from list is empty and usable again.
    EXPECT_TRUE(source.empty());  // NOLINT(bugprone-use-after-move)
    if (original.size() > 2) {
      EXPECT_EQ(moved.data(), storage);
    }
    source.push_back(8);  // NOLINT(clang-analyzer-cplusplus.Move)
    EXPECT_EQ(values(source), std::vector<std::int64_t>{8});

    IndexList target{1, 2, 3, 4};
    target = std::move(moved);
    EXPECT_EQ(target, original);
    EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move)
  }
}

// ------------------------------------------------------------------ Parameter

TEST(Parameter, KeepsEveryKindApart) {
  const Parameter absent;
  const Parameter empty_list = Parameter::list({});
  EXPECT_EQ(absent.kind(), Parameter::Kind::Absent);
  EXPECT_TRUE(absent.is_absent());
  EXPECT_EQ(empty_list.kind(), Parameter::Kind::List);
  EXPECT_FALSE(empty_list.is_absent());
  EXPECT_NE(absent, empty_list);

  EXPECT_EQ(Parameter(true).kind(), Parameter::Kind::Bool);
  EXPECT_EQ(Parameter(1).kind(), Parameter::Kind::Integer);
  EXPECT_EQ(Parameter(std::int64_t{1}).kind(), Parameter::Kind::Integer);
  EXPECT_EQ(Parameter(1.0).kind(), Parameter::Kind::Double);
  EXPECT_EQ(Parameter("1").kind(), Parameter::Kind::Text);
  EXPECT_EQ(Parameter(identity(2)).kind(), Parameter::Kind::Array);
  EXPECT_NE(Parameter(true), Parameter(1));
  EXPECT_NE(Parameter(1), Parameter(1.0));
  EXPECT_NE(Parameter(1.0), Parameter("1.0"));

  const Parameter list = Parameter::list({1.0, std::int64_t{2}, true, std::string("a")});
  const Parameter tuple = Parameter::list({1.0, std::int64_t{2}, true, std::string("a")}, true);
  EXPECT_FALSE(list.as_list().is_tuple());
  EXPECT_TRUE(tuple.as_list().is_tuple());
  EXPECT_NE(list, tuple);
  const ParamListView entries = list.as_list();
  EXPECT_EQ(list, Parameter(ParamList{{entries.begin(), entries.end()}, false}));
  EXPECT_NE(Parameter::list({true}), Parameter::list({std::int64_t{1}}));

  const Parameter copy = list;  // NOLINT(performance-unnecessary-copy-initialization): shares
  EXPECT_EQ(copy.as_list().begin(), list.as_list().begin());
  EXPECT_EQ(Parameter("text").as_text(), "text");
  EXPECT_EQ(Parameter(identity(2)).as_array(), identity(2));
}

// A tuple of one floating-point number is kept in place; it must still look and compare
// like every other list.
TEST(Parameter, OneNumberTupleIsAListLikeAnyOther) {
  const Parameter one = Parameter::list({0.5}, true);
  EXPECT_EQ(one.kind(), Parameter::Kind::List);
  const ParamListView view = one.as_list();
  ASSERT_EQ(view.size(), 1u);
  EXPECT_TRUE(view.is_tuple());
  EXPECT_EQ(view[0], ParamScalar(0.5));
  EXPECT_EQ(std::distance(view.begin(), view.end()), 1);

  const Parameter copy = one;  // NOLINT(performance-unnecessary-copy-initialization)
  EXPECT_EQ(copy, one);
  EXPECT_EQ(one, Parameter(ParamList{{0.5}, true}));
  EXPECT_EQ(one, Parameter::one_number_tuple(0.5));
  EXPECT_NE(one, Parameter::list({0.5}));                    // a list, not a tuple
  EXPECT_NE(one, Parameter::list({0.25}, true));             // another number
  EXPECT_NE(one, Parameter::list({std::int64_t{1}}, true));  // an integer stays on the heap
  EXPECT_NE(one, Parameter::list({0.5, 0.5}, true));
  EXPECT_NE(one, Parameter(0.5));
  EXPECT_EQ(Parameter::list({std::int64_t{1}}, true).as_list()[0], ParamScalar(std::int64_t{1}));
}

// ------------------------------------------------------------------ QuantumGate

QuantumGate measurement() {
  QuantumGate gate("measure", {0, 1});
  gate.set_classical_target(IndexList{2, 3});
  gate.set_name("measure");
  return gate;
}

TEST(QuantumGate, CopiesDeeplyAndCompares) {
  QuantumGate original("mcx", {5}, {0, 1, 2}, {1, 0, 1}, Parameter::list({0.5}));
  original.set_matrix(identity(2));
  original.set_name("label");
  QuantumGate copy(original);
  EXPECT_EQ(copy, original);

  copy.set_name("other");
  copy.target.push_back(6);
  copy.set_matrix(identity(4));
  copy.set_stored_matrix(identity(2));
  EXPECT_EQ(original.name(), "label");
  EXPECT_EQ(original.target, (IndexList{5}));
  EXPECT_EQ(original.matrix(), identity(2));
  EXPECT_FALSE(original.has_stored_matrix());
  EXPECT_NE(copy, original);
  copy.set_matrix(std::nullopt);
  copy.set_stored_matrix(std::nullopt);
  EXPECT_FALSE(copy.matrix().has_value());
  EXPECT_FALSE(copy.has_stored_matrix());

  QuantumGate assigned;
  assigned = original;
  EXPECT_EQ(assigned, original);
  QuantumGate moved(std::move(assigned));
  EXPECT_EQ(moved, original);
}

TEST(QuantumGate, OptionalAttributesStartAbsent) {
  QuantumGate gate("h", {0});
  EXPECT_FALSE(gate.classical_target().has_value());
  EXPECT_EQ(gate.block_gate_sequence(), nullptr);
  EXPECT_FALSE(gate.name().has_value());
  EXPECT_FALSE(gate.matrix().has_value());
  EXPECT_FALSE(gate.has_stored_matrix());
  EXPECT_TRUE(gate.parameter.is_absent());
  gate.set_name(std::nullopt);
  EXPECT_EQ(gate, QuantumGate("h", {0}));

  const QuantumGate m = measurement();
  EXPECT_EQ(m.classical_target(), (IndexList{2, 3}));
  EXPECT_NE(m, QuantumGate("measure", {0, 1}));

  QuantumGate unitary("unitary", {0});
  unitary.set_stored_matrix(fixed("x"));
  EXPECT_TRUE(unitary.has_stored_matrix());
  EXPECT_EQ(*unitary.stored_matrix(), fixed("x"));
}

TEST(QuantumGate, BlocksAreSharedAndComparedByContent) {
  const GateBlock body = corvane::make_block({QuantumGate("h", {0}), QuantumGate("cx", {1}, {0})});
  QuantumGate a("block", {0, 1});
  a.set_block_gate_sequence(body);
  QuantumGate b(a);
  EXPECT_EQ(b.block_gate_sequence(), body);  // copies share the immutable body
  QuantumGate c("block", {0, 1});
  c.set_block_gate_sequence(
      corvane::make_block({QuantumGate("h", {0}), QuantumGate("cx", {1}, {0})}));
  EXPECT_EQ(a, c);
  QuantumGate empty("block", {0, 1});
  empty.set_block_gate_sequence(corvane::make_block({}));
  EXPECT_NE(a, empty);
  EXPECT_NE(empty, QuantumGate("block", {0, 1}));  // an empty block is present
}

TEST(QuantumGate, ReleasingDeeplyNestedBlocksDoesNotRecurse) {
  constexpr int kDepth = 200'000;
  GateBlock inner = corvane::make_block({QuantumGate("x", {0})});
  for (int level = 0; level < kDepth; ++level) {
    QuantumGate gate("block", {0});
    gate.set_block_gate_sequence(std::move(inner));
    std::vector<QuantumGate> gates;
    gates.push_back(std::move(gate));
    inner = corvane::make_block(std::move(gates));
  }
  QuantumGate top("block", {0});
  top.set_block_gate_sequence(std::move(inner));
  {
    // A copy shares the chain; dropping it frees nothing.
    const QuantumGate sharing(top);  // NOLINT(performance-unnecessary-copy-initialization)
  }
  EXPECT_NE(top.block_gate_sequence(), nullptr);
  top = QuantumGate("h", {0});  // frees the whole chain
  EXPECT_EQ(top.block_gate_sequence(), nullptr);
}

// ------------------------------------------------------------------ GateSequence

TEST(GateSequence, HoldsGatesInOrder) {
  GateSequence sequence(3);
  EXPECT_EQ(sequence.num_qubits, 3);
  EXPECT_TRUE(sequence.data().empty());
  EXPECT_FALSE(sequence.qasm_quantum_registers.has_value());
  EXPECT_FALSE(sequence.qasm_classical_registers.has_value());
  EXPECT_FALSE(sequence.qasm_measure_map.has_value());

  sequence.add_gate(QuantumGate("h", {0}));
  sequence.add_gate(measurement());
  const auto* first_call = &sequence.data();
  EXPECT_EQ(&sequence.data(), first_call);
  ASSERT_EQ(sequence.data().size(), 2u);
  EXPECT_EQ(sequence.data()[0].id, "h");
  EXPECT_EQ(sequence.data()[1], measurement());

  EXPECT_NO_THROW(GateSequence(0));
  EXPECT_THROW(GateSequence(-1), std::invalid_argument);
}

}  // namespace
