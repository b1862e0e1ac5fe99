// circuit_unitary: matrices of gates known by hand, the qubit order, what it refuses, and
// that a sequence and its exported-then-imported text have the same unitary.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <numbers>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane/backend/gatesequence/circuit_unitary.hpp"
#include "corvane/backend/pygates/unitary.hpp"
#include "qasm/records/qasm3_vocabulary.hpp"
#include "test_support.hpp"

namespace {

using corvane::circuit_unitary;
using corvane::GateSequence;
using corvane::IndexList;
using corvane::Matrix;
using corvane::Parameter;
using corvane::QuantumGate;
using Complex = std::complex<double>;
namespace qasm3 = corvane::qasm3;
using namespace hand_built;
constexpr double PI = std::numbers::pi;
constexpr Complex I{0.0, 1.0};

// ------------------------------------------------------------------ building blocks

Parameter angles(std::vector<double> values) {
  std::vector<corvane::ParamScalar> items(values.begin(), values.end());
  return Parameter::list(std::move(items), true);
}

Matrix square(std::size_t dim, std::vector<Complex> entries) {
  return Matrix(dim, dim, std::move(entries));
}

// The permutation matrix that sends basis state i to `image`(i).
Matrix permutation(std::size_t dim, const std::function<std::size_t(std::size_t)>& image) {
  Matrix m(dim, dim);
  for (std::size_t i = 0; i < dim; ++i)
    m(image(i), i) = 1.0;
  return m;
}

Matrix diagonal(std::vector<Complex> entries) {
  Matrix m(entries.size(), entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    m(i, i) = entries[i];
  return m;
}

// The model's u(θ, φ, λ), written out here independently of the table.
Matrix model_u(double theta, double phi, double lambda) {
  const double c = std::cos(theta / 2);
  const double s = std::sin(theta / 2);
  return square(
      2, {c, -std::exp(I * lambda) * s, std::exp(I * phi) * s, std::exp(I * (phi + lambda)) * c});
}

constexpr double TOLERANCE = 1e-12;
// Exported parameters keep 15 significant digits.
constexpr double ROUND_TRIP_TOLERANCE = 1e-9;

// ------------------------------------------------------------------ known matrices

struct KnownCase {
  std::string name;
  GateSequence gs;
  Matrix expected;
};

std::vector<KnownCase> known_cases() {
  const double h = 1 / std::numbers::sqrt2;
  const Complex eighth = std::exp(I * (PI / 4));
  const double theta = 0.7;
  const double phi = -1.3;
  const double lambda = 2.1;
  const Matrix u = model_u(theta, phi, lambda);
  // A two-qubit matrix that is not symmetric under exchanging its qubits: |j> goes to
  // e^{ij} |j + 1 mod 4>, local index j with the first target as its high bit.
  Matrix cycle(4, 4);
  for (std::size_t j = 0; j < 4; ++j)
    cycle((j + 1) % 4, j) = std::exp(I * static_cast<double>(j));
  const auto swap_bits = [](std::size_t i) { return ((i & 1U) << 1U) | ((i >> 1U) & 1U); };
  Matrix cycle_on_reversed(4, 4);  // on targets (0, 1): qubit 0 is its high bit
  for (std::size_t r = 0; r < 4; ++r) {
    for (std::size_t c = 0; c < 4; ++c)
      cycle_on_reversed(swap_bits(r), swap_bits(c)) = cycle(r, c);
  }
  QuantumGate unstored("unitary", {1, 0});
  unstored.set_matrix(cycle);
  QuantumGate stored_on_low_first("unitary", {0, 1});
  stored_on_low_first.set_stored_matrix(cycle);
  QuantumGate stored_cx("unitary", {0, 1});
  stored_cx.set_stored_matrix(*corvane::gate_set().get("cx")->fixed);

  Matrix controlled_u = diagonal({1, 1, 0, 0});
  for (std::size_t r = 0; r < 2; ++r) {
    for (std::size_t c = 0; c < 2; ++c)
      controlled_u(2 + r, 2 + c) = u(r, c);
  }
  const Complex gamma = std::exp(I * 0.4);

  std::vector<KnownCase> cases;
  const auto add = [&cases](std::string name, GateSequence gs, Matrix expected) {
    cases.push_back({std::move(name), std::move(gs), std::move(expected)});
  };
  add("x", sequence(1, {gate("x", {0})}), square(2, {0, 1, 1, 0}));
  add("h", sequence(1, {gate("h", {0})}), square(2, {h, h, h, -h}));
  add("s", sequence(1, {gate("s", {0})}), diagonal({1, I}));
  add("t", sequence(1, {gate("t", {0})}), diagonal({1, eighth}));
  add("rx(pi/2)", sequence(1, {gate("rx", {0}, {}, {}, PI / 2)}),
      square(2, {h, -I * h, -I * h, h}));
  add("rx with the angle as text", sequence(1, {gate("rx", {0}, {}, {}, " 1.5707963267948966")}),
      square(2, {h, -I * h, -I * h, h}));
  add("gates apply in order: h, then s", sequence(1, {gate("h", {0}), gate("s", {0})}),
      square(2, {h, h, I * h, -I * h}));
  add("x on qubit 0 of 2 flips bit 0", sequence(2, {gate("x", {0})}),
      permutation(4, [](std::size_t i) { return i ^ 1U; }));
  add("x on qubit 1 of 2 flips bit 1", sequence(2, {gate("x", {1})}),
      permutation(4, [](std::size_t i) { return i ^ 2U; }));
  add("one-qubit gate on two targets", sequence(2, {gate("x", {0, 1})}),
      permutation(4, [](std::size_t i) { return i ^ 3U; }));
  add("cnot, control 0", sequence(2, {gate("cnot", {1}, {0}, {1})}),
      permutation(4, [](std::size_t i) { return (i & 1U) != 0 ? i ^ 2U : i; }));
  add("cx, control 1", sequence(2, {gate("cx", {0}, {1}, {1})}),
      permutation(4, [](std::size_t i) { return (i & 2U) != 0 ? i ^ 1U : i; }));
  add("cx on |0> of its control", sequence(2, {gate("cx", {1}, {0}, {0})}),
      permutation(4, [](std::size_t i) { return (i & 1U) == 0 ? i ^ 2U : i; }));
  add("a control state 2 is on |0>", sequence(2, {gate("x", {1}, {0}, {2})}),
      permutation(4, [](std::size_t i) { return (i & 1U) == 0 ? i ^ 2U : i; }));
  add("toffoli", sequence(3, {gate("mcx", {2}, {0, 1}, {1, 1})}),
      permutation(8, [](std::size_t i) { return (i & 3U) == 3U ? i ^ 4U : i; }));
  add("mixed controls", sequence(3, {gate("mcx", {0}, {2, 1}, {0, 1})}),
      permutation(8, [](std::size_t i) { return (i & 6U) == 2U ? i ^ 1U : i; }));
  add("controlled swap", sequence(3, {gate("swap", {1, 2}, {0}, {1})}),
      permutation(8,
                  [](std::size_t i) { return (i & 1U) != 0 && (i == 3 || i == 5) ? 8 - i : i; }));
  add("swap of two pairs", sequence(4, {gate("swap", {0, 1, 2, 3})}),
      permutation(16, [](auto i) { return ((i & 5U) << 1U) | ((i >> 1U) & 5U); }));
  add("controlled u", sequence(2, {gate("u", {0}, {1}, {1}, angles({theta, phi, lambda}))}),
      controlled_u);
  add("controlled U (the OpenQASM name)",
      sequence(2, {gate("U", {0}, {1}, {1}, angles({theta, phi, lambda}))}), controlled_u);
  add("block with its targets reversed", sequence(2, {block({1, 0}, {gate("cx", {1}, {0}, {1})})}),
      permutation(4, [](std::size_t i) { return (i & 2U) != 0 ? i ^ 1U : i; }));
  add("controlled block of a nested block",
      sequence(3, {block({2, 1}, {block({1}, {gate("x", {0})})}, {0}, {0})}),
      permutation(8, [](std::size_t i) { return (i & 1U) == 0 ? i ^ 2U : i; }));
  add("block without gates", sequence(1, {gate("block", {0})}), diagonal({1, 1}));
  add("unitary, first target the high bit", sequence(2, {stored_on_low_first}), cycle_on_reversed);
  add("unitary from the importer's matrix", sequence(2, {unstored}), cycle);
  add("unitary of gate_set's cx is the cx record", sequence(2, {stored_cx}),
      permutation(4, [](std::size_t i) { return (i & 1U) != 0 ? i ^ 2U : i; }));
  add("global phase", sequence(1, {gate("gp", {}, {}, {}, 0.4)}), diagonal({gamma, gamma}));
  add("global phase on |1> of qubit 1",
      sequence(2, {gate("global_phase", {}, {1}, {1}, angles({0.4}))}),
      diagonal({1, 1, gamma, gamma}));
  add("global phase on |0> of qubit 0", sequence(2, {gate("gp", {}, {0}, {0}, 0.4)}),
      diagonal({gamma, 1, gamma, 1}));
  add("rzz", sequence(2, {gate("rzz", {0, 1}, {}, {}, 0.6)}),
      diagonal({std::exp(-0.3 * I), std::exp(0.3 * I), std::exp(0.3 * I), std::exp(-0.3 * I)}));
  add("-z", sequence(1, {gate("-z", {0})}), diagonal({-1, 1}));
  add("sdg", sequence(1, {gate("sdg", {0})}), diagonal({1, -I}));
  add("identity", sequence(1, {gate("i", {0}), gate("id", {0})}), diagonal({1, 1}));
  add("trailing measurements are left out",
      sequence(2, {gate("x", {0}), measure(0, 0), block({1}, {measure(0, 1)})}),
      permutation(4, [](std::size_t i) { return i ^ 1U; }));
  add("no qubits", sequence(0, {gate("gp", {}, {}, {}, 0.4)}), diagonal({gamma}));
  return cases;
}

TEST(CircuitUnitary, GatesKnownByHand) {
  for (const KnownCase& c : known_cases()) {
    Matrix actual;
    ASSERT_EQ(outcome_of([&] { actual = circuit_unitary(c.gs); }), "ok") << c.name;
    EXPECT_LT(distance(actual, c.expected), TOLERANCE) << c.name;
  }
}

// ------------------------------------------------------------------ refusals

TEST(CircuitUnitary, RefusesWhatHasNoMatrix) {
  QuantumGate wrong_size("unitary", {0});
  wrong_size.set_stored_matrix(corvane::gate_set().get("cx")->fixed);
  std::vector<QuantumGate> deep{gate("x", {0})};
  for (int level = 0; level < 1001; ++level)
    deep = {block({0}, std::move(deep))};
  const QuantumGate conditioned =
      corvane::make_conditioned("while", corvane::Condition({0}, corvane::Comparison::Equal, 0),
                                corvane::make_block({gate("x", {0})}));

  const struct {
    GateSequence gs;
    std::string outcome;
  } cases[] = {
      {sequence(13, {}), "ValueError: circuit_unitary supports at most 12 qubits, got 13"},
      {sequence(1, {gate("foo", {0})}), "ValueError: circuit_unitary: no matrix for gate 'foo'"},
      {sequence(2, {gate("cu", {1}, {0}, {1}, angles({1, 2, 3}))}),
       "ValueError: circuit_unitary: no matrix for gate 'cu'"},
      {sequence(1, {gate("H", {0})}), "ValueError: circuit_unitary: no matrix for gate 'H'"},
      {sequence(1, {gate("unitary", {0})}),
       "ValueError: circuit_unitary: no matrix for gate 'unitary'"},
      {sequence(2, {gate("h", {0}), measure(0, 0), gate("x", {1})}),
       "ValueError: circuit_unitary: gate 'x' follows a measurement; only measurements may come "
       "after one"},
      {sequence(2, {block({0}, {measure(0, 0)}), gate("gp", {}, {}, {}, 1.0)}),
       "ValueError: circuit_unitary: gate 'gp' follows a measurement; only measurements may come "
       "after one"},
      {sequence(2, {block({1}, {measure(0, 0)}, {0}, {1})}),
       "ValueError: circuit_unitary: a measurement cannot be controlled"},
      {sequence(2, {gate("h", {2})}),
       "ValueError: circuit_unitary: gate 'h' acts on qubit 2, but the sequence has 2 qubits"},
      {sequence(1, {gate("cx", {0}, {-1}, {1})}),
       "ValueError: circuit_unitary: gate 'cx' acts on qubit -1, but the sequence has 1 qubit"},
      {sequence(3, {block({2, 0}, {gate("h", {2})})}),
       "ValueError: circuit_unitary: gate 'h' in a block uses local qubit 2, but the block has 2 "
       "targets"},
      {sequence(2, {gate("cx", {1}, {1}, {1})}),
       "ValueError: circuit_unitary: gate 'cx' uses qubit 1 more than once"},
      {sequence(2, {block({1, 0}, {gate("x", {1})}, {0}, {1})}),
       "ValueError: circuit_unitary: gate 'x' uses qubit 0 more than once"},
      {sequence(3, {gate("swap", {0, 0})}),
       "ValueError: circuit_unitary: gate 'swap' uses qubit 0 more than once"},
      {sequence(3, {gate("cx", {2}, {0, 1}, {1})}),
       "ValueError: circuit_unitary: gate 'cx' has 2 controls but 1 control state"},
      {sequence(2, {gate("cx", {0, 1})}),
       "ValueError: circuit_unitary: gate 'cx' needs at least one control and exactly one target"},
      {sequence(1, {gate("cx", {0})}),
       "ValueError: circuit_unitary: gate 'cx' needs at least one control and exactly one target"},
      {sequence(3, {gate("crz", {1, 2}, {0}, {1}, 0.5)}),
       "ValueError: circuit_unitary: gate 'crz' needs at least one control and exactly one "
       "target"},
      {sequence(3, {gate("swap", {0, 1, 2})}),
       "ValueError: circuit_unitary: gate 'swap' needs an even number of targets, got 3"},
      {sequence(3, {gate("rzz", {0, 1, 2}, {}, {}, 0.5)}),
       "ValueError: circuit_unitary: gate 'rzz' needs exactly two targets, got 3"},
      {sequence(2, {gate("rzz", {0, 1})}),
       "ValueError: circuit_unitary: gate 'rzz' needs one angle (a number, or a list of one "
       "number)"},
      {sequence(1, {gate("gp", {}, {}, {}, angles({1, 2}))}),
       "ValueError: circuit_unitary: gate 'gp' needs one angle (a number, or a list of one "
       "number)"},
      {sequence(1, {wrong_size}),
       "ValueError: circuit_unitary: gate 'unitary' has a 4x4 matrix for 1 target"},
      {sequence(1, {gate("rx", {0}, {}, {}, "pi/2")}),
       "ValueError: circuit_unitary: parameter 'pi/2' of gate 'rx' is not a number"},
      {sequence(1, {gate("u", {0}, {}, {}, angles({1, 2}))}),
       "ValueError: circuit_unitary: the matrix of gate 'u' needs a list of 3 angles, got a list "
       "of 2 entries"},
      {sequence(1, {gate("rz", {0})}),
       "ValueError: circuit_unitary: the matrix of gate 'rz' needs one angle (a number, or a list "
       "of one number), got no parameter"},
      {sequence(1, std::move(deep)), "RecursionError: maximum recursion depth exceeded"},
      {sequence(1, {conditioned}),
       "ValueError: circuit_unitary: gate 'while' is conditioned on measured bits: no unitary"},
      {sequence(2, {gate("h", {1}), block({1}, {conditioned})}),
       "ValueError: circuit_unitary: gate 'while' is conditioned on measured bits: no unitary"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(outcome_of([&] { circuit_unitary(c.gs); }), c.outcome);
  }
}

// ------------------------------------------------------------------ exported and read back

Matrix through_text(const GateSequence& gs) {
  return circuit_unitary(qasm3::qasm3_to_gate_sequence(qasm3::gate_sequence_to_qasm3(gs)));
}

// Random sequences of every kind of record circuit_unitary knows, as the exporter takes
// them (a one-qubit gate written by a definition on one target only, blocks local).
class UnitaryProgramGenerator : SeededRandom {
 public:
  explicit UnitaryProgramGenerator(std::uint64_t seed) : SeededRandom(seed) {}

  GateSequence program(std::int64_t qubits, std::size_t gates) {
    GateSequence gs(qubits);
    for (std::size_t k = 0; k < gates; ++k)
      gs.add_gate(record(qubits, 0));
    for (std::int64_t q = 0; q < qubits; ++q) {
      if (chance(30)) gs.add_gate(measure(q, q));
    }
    return gs;
  }

 private:
  double angle() { return (unit() - 0.5) * 4 * PI; }

  // `count` distinct qubits below `scope`, in random order.
  std::vector<std::int64_t> distinct(std::int64_t scope, std::size_t count) {
    std::vector<std::int64_t> all(static_cast<std::size_t>(scope));
    for (std::int64_t q = 0; q < scope; ++q)
      all[static_cast<std::size_t>(q)] = q;
    for (std::size_t k = 0; k < count; ++k) {
      const auto pick = k + static_cast<std::size_t>(below(scope - static_cast<std::int64_t>(k)));
      std::swap(all[k], all[pick]);
    }
    all.resize(count);
    return all;
  }

  Parameter parameter(std::size_t count) {
    if (count == 0) return {};
    if (count == 1 && chance(50)) return angle();
    std::vector<double> values;
    for (std::size_t k = 0; k < count; ++k)
      values.push_back(angle());
    return angles(values);
  }

  struct Shape {
    std::vector<const char*> ids;
    std::size_t targets;
    std::size_t min_controls;
    std::size_t angles;
  };

  QuantumGate record(std::int64_t scope, int depth) {
    static const std::vector<Shape> shapes = {
        {{"x", "y", "z", "h", "s", "s_dag", "sdg", "t", "t_dag", "tdg", "sqrtx", "sx", "i", "id",
          "sqrtx_dag", "sqrty", "sqrty_dag", "-z"},
         1,
         0,
         0},
        {{"rx", "ry", "rz", "p", "phase", "phase_gate"}, 1, 0, 1},
        {{"u", "U"}, 1, 0, 3},
        {{"cx", "cnot", "cy", "cz", "ch", "mcx", "mcy", "mcz", "mch", "cs"}, 1, 1, 0},
        {{"cp", "mcp", "crx", "mcrx", "cry", "mcry", "crz", "mcrz"}, 1, 1, 1},
        {{"swap"}, 2, 0, 0},
        {{"rzz"}, 2, 0, 1},
        {{"gp", "global_phase"}, 0, 0, 1},
    };
    const std::int64_t roll = below(100);
    if (roll < 8 && depth < 3) return nested_block(scope, depth);
    if (roll < 14 && scope >= 1) return explicit_unitary(scope);
    const Shape& shape = shapes[static_cast<std::size_t>(below(std::ssize(shapes)))];
    const auto room = scope - static_cast<std::int64_t>(shape.targets + shape.min_controls);
    if (room < 0) return gate("gp", {}, {}, {}, angle());
    std::size_t targets = shape.targets;
    // One-qubit gates written per target take several targets at once.
    const std::string id = shape.ids[static_cast<std::size_t>(below(std::ssize(shape.ids)))];
    const bool per_target = shape.targets == 1 && shape.min_controls == 0 &&
                            !qasm3::detail::contains(qasm3::detail::NON_STANDARD, id);
    if (per_target && room > 0 && chance(20)) ++targets;
    if (id == "swap" && room >= 2 && chance(20)) targets += 2;
    const std::size_t free = static_cast<std::size_t>(scope) - targets;
    const std::size_t controls =
        std::min(free, shape.min_controls + static_cast<std::size_t>(chance(40) ? below(3) : 0));
    return on(id, scope, targets, controls, parameter(shape.angles));
  }

  QuantumGate on(const std::string& id, std::int64_t scope, std::size_t targets,
                 std::size_t controls, Parameter p) {
    const std::vector<std::int64_t> qubits = distinct(scope, targets + controls);
    IndexList states;
    for (std::size_t k = 0; k < controls; ++k)
      states.push_back(chance(30) ? (chance(50) ? 0 : 2) : 1);
    const auto split = qubits.begin() + static_cast<std::ptrdiff_t>(controls);
    return gate(id, IndexList(split, qubits.end()), IndexList(qubits.begin(), split),
                std::move(states), std::move(p));
  }

  QuantumGate explicit_unitary(std::int64_t scope) {
    const std::size_t targets =
        1 + static_cast<std::size_t>(below(std::min<std::int64_t>(scope, 2)));
    const std::size_t dim = std::size_t{1} << targets;
    Matrix m(dim, dim);
    for (Complex& entry : m.data)
      entry = {angle(), angle()};
    QuantumGate g = on("unitary", scope, targets, chance(30) && scope > 2 ? 1 : 0, {});
    g.set_stored_matrix(std::move(m));
    return g;
  }

  QuantumGate nested_block(std::int64_t scope, int depth) {
    const std::int64_t arity = 1 + below(scope);
    std::vector<QuantumGate> body;
    for (std::int64_t k = below(4); k >= 0; --k)
      body.push_back(record(arity, depth + 1));
    const std::size_t controls =
        std::min<std::size_t>(static_cast<std::size_t>(scope - arity), chance(40) ? 2 : 0);
    QuantumGate b = on("block", scope, static_cast<std::size_t>(arity), controls, {});
    b.set_block_gate_sequence(corvane::make_block(std::move(body)));
    return b;
  }
};

TEST(CircuitUnitary, SameAfterExportAndImport) {
  for (std::uint64_t seed = 1; seed <= 1500; ++seed) {
    UnitaryProgramGenerator generator(seed);
    const GateSequence gs = generator.program(1 + static_cast<std::int64_t>(seed % 5), 12);
    Matrix before;
    Matrix after;
    ASSERT_EQ(outcome_of([&] { before = circuit_unitary(gs); }), "ok") << "seed " << seed;
    ASSERT_EQ(outcome_of([&] { after = through_text(gs); }), "ok")
        << "seed " << seed << "\n"
        << qasm3::gate_sequence_to_qasm3(gs);
    EXPECT_LT(distance(before, after), ROUND_TRIP_TOLERANCE) << "seed " << seed << "\n"
                                                             << qasm3::gate_sequence_to_qasm3(gs);
  }
}

// Every id the vocabulary tables name, in the shapes a record takes: where the exporter
// writes it and the importer reads the text back, the text must mean what the record
// means, or neither may have a unitary.
std::set<std::string> vocabulary_ids() {
  namespace detail = qasm3::detail;
  std::set<std::string> ids{"mcx", "mcy", "mcz", "mch",          "cs",
                            "rzz", "-z",  "gp",  "global_phase", "swap"};
  for (const auto& [a, b] : detail::INT_TO_QASM3) {
    ids.emplace(a);
    ids.emplace(b);
  }
  for (const auto& [a, b] : detail::QASM3_TO_INT) {
    ids.emplace(a);
    ids.emplace(b);
  }
  for (const auto& [a, b] : detail::MODIFIER_BASE_GATES)
    ids.emplace(a);
  for (const auto& [a, b] : detail::SINGLE_CONTROLLED_COMPACT_IDS)
    ids.emplace(a);
  for (std::string_view id : detail::CTRL_THEN_TARG_GATES)
    ids.emplace(id);
  for (std::string_view id : detail::SINGLE_QUBIT_OPS)
    ids.emplace(id);
  ids.erase("block");
  return ids;
}

TEST(CircuitUnitary, EveryExportedIdMeansWhatItsTextMeans) {
  const std::vector<std::pair<IndexList, IndexList>> shapes = {
      {{1}, {}}, {{1}, {0}}, {{1, 2}, {}}, {{1, 2}, {0}}, {{2}, {0, 1}}, {{}, {0}}};
  const std::vector<Parameter> parameters = {Parameter(), Parameter(0.37), angles({0.37}),
                                             angles({0.3, -0.7, 1.1})};
  for (const std::string& id : vocabulary_ids()) {
    for (const auto& [targets, controls] : shapes) {
      for (const IndexList& states : {IndexList{1, 1}, IndexList{0, 1}}) {
        for (const Parameter& p : parameters) {
          const IndexList own_states(states.begin(), states.begin() + controls.size());
          const GateSequence gs = sequence(3, {gate(id, targets, controls, own_states, p)});
          GateSequence read_back(0);
          if (outcome_of([&] {
                read_back = qasm3::qasm3_to_gate_sequence(qasm3::gate_sequence_to_qasm3(gs));
              }) != "ok") {
            continue;
          }
          Matrix before;
          Matrix after;
          const std::string record_outcome = outcome_of([&] { before = circuit_unitary(gs); });
          const std::string text_outcome = outcome_of([&] { after = circuit_unitary(read_back); });
          const std::string shown = qasm3::gate_sequence_to_qasm3(gs);
          if (record_outcome != "ok" || text_outcome != "ok") {
            EXPECT_EQ(record_outcome != "ok", text_outcome != "ok")
                << record_outcome << " / " << text_outcome << "\n"
                << shown;
            continue;
          }
          EXPECT_LT(distance(before, after), ROUND_TRIP_TOLERANCE) << shown;
        }
      }
    }
  }
}

}  // namespace
