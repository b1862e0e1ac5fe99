// The gate algebra of the lowering front end, on its own: for every gate the importer reads
// by name, its inverse and its whole and fractional powers; controls spelled out of the
// compact names. Each row is checked as written and by what it does: the matrix of the
// gates it gives against the inverse, power or principal power of the gate's matrix.
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "lower_test_support.hpp"
#include "qasm/lower/gate_algebra.hpp"
#include "qasm/lower/gate_matrices.hpp"

namespace corvane::qasm3::detail::lower {
// Shown by failing expectations: the gate as a program writes it.
void PrintTo(const NativeForm& gate, std::ostream* out) {
  *out << gate.name;
  if (!gate.has_parameters) return;
  *out << '(';
  for (std::size_t k = 0; k < gate.parameters.size(); ++k)
    *out << (k == 0 ? "" : ", ") << gate.parameters[k];
  *out << ')';
}
void PrintTo(const NativeGates& gates, std::ostream* out) {
  for (const NativeForm& gate : gates.view()) {
    PrintTo(gate, out);
    *out << "; ";
  }
}
}  // namespace corvane::qasm3::detail::lower

namespace {

using namespace corvane::qasm3::detail::lower;
using corvane::qasm3::detail::EXPLICIT_MATRIX_GATE;
using corvane::qasm3::detail::NATIVE_GATES;
using corvane::qasm3::detail::NativeGate;
using corvane::qasm3::detail::standard_gate;
using lower_test::controlled;
constexpr double PI = std::numbers::pi;

NativeForm gate(std::string_view name) {
  return {name, false, {}};
}
NativeForm gate(std::string_view name, std::vector<double> parameters) {
  return {name, true, std::move(parameters)};
}

// ------------------------------------------------------------------ unitaries
// The matrix `unitary` takes, written row by row as real and imaginary parts.
SquareMatrix written_matrix(std::span<const double> parameters) {
  SquareMatrix m(static_cast<std::size_t>(std::lround(std::sqrt(parameters.size() / 2.0))));
  for (std::size_t k = 0; k < m.entries.size(); ++k)
    m.entries[k] = Complex(parameters[2 * k], parameters[2 * k + 1]);
  return m;
}
std::vector<double> written_parameters(const SquareMatrix& m) {
  std::vector<double> parameters;
  for (const Complex entry : m.entries) {
    parameters.push_back(entry.real());
    parameters.push_back(entry.imag());
  }
  return parameters;
}
// The entries of U(1, 0.3, 0.7), neither symmetric nor real: their inverse needs both the
// transpose and the conjugate.
const std::vector<double> SAMPLE =
    written_parameters(*standard_gate_matrix("U", std::vector<double>{1, 0.3, 0.7}));

SquareMatrix matrix_of(const NativeForm& native) {
  if (native.name == "unitary") return written_matrix(native.parameters);
  const auto m = standard_gate_matrix(native.name, native.parameters);
  if (!m) ADD_FAILURE() << "no matrix for " << native.name;
  return m.value_or(SquareMatrix::identity(2));
}

// The gates applied one after the other on the same operands; a gate of no operands (a
// global phase) scales the others.
SquareMatrix matrix_of(std::span<const NativeForm> gates) {
  SquareMatrix product = SquareMatrix::identity(1);
  for (const NativeForm& gate : gates) {
    const SquareMatrix next = matrix_of(gate);
    if (next.dimension == 1 || product.dimension == 1) {
      SquareMatrix scaled = next.dimension == 1 ? product : next;
      for (Complex& entry : scaled.entries)
        entry *= next.dimension == 1 ? next.entries[0] : product.entries[0];
      product = scaled;
    } else {
      product = multiply(next, product);
    }
  }
  return product;
}

SquareMatrix whole_power(const SquareMatrix& m, int exponent) {
  SquareMatrix result = SquareMatrix::identity(m.dimension);
  for (int k = 0; k < std::abs(exponent); ++k)
    result = multiply(exponent < 0 ? adjoint(m) : m, result);
  return result;
}

std::vector<NativeForm> listed(const NativeGates& gates) {
  return {gates.view().begin(), gates.view().end()};
}

// ------------------------------------------------------------------ inverses
struct InverseRow {
  NativeForm of;
  std::vector<NativeForm> inverse;
};

const std::vector<InverseRow>& inverse_rows() {
  static const std::vector<InverseRow> rows = {
      {gate("x"), {gate("x")}},
      {gate("y"), {gate("y")}},
      {gate("z"), {gate("z")}},
      {gate("h"), {gate("h")}},
      {gate("s"), {gate("sdg")}},
      {gate("sdg"), {gate("s")}},
      {gate("t"), {gate("tdg")}},
      {gate("tdg", {}), {gate("t", {})}},  // the parentheses stay
      {gate("id"), {gate("id")}},
      {gate("sx"), {gate("gphase", {-PI / 4}), gate("rx", {-PI / 2})}},
      {gate("rx", {0.4}), {gate("rx", {-0.4})}},
      {gate("ry", {0.4}), {gate("ry", {-0.4})}},
      {gate("rz", {-2.5}), {gate("rz", {2.5})}},
      {gate("p", {0.4}), {gate("p", {-0.4})}},
      {gate("phase", {0.4}), {gate("phase", {-0.4})}},
      {gate("U", {1, 2, 3}), {gate("U", {-1, -3, -2})}},
      {gate("gphase", {0.4}), {gate("gphase", {-0.4})}},
      {gate("cx"), {gate("cx")}},
      {gate("cy"), {gate("cy")}},
      {gate("cz"), {gate("cz")}},
      {gate("ch"), {gate("ch")}},
      {gate("swap"), {gate("swap")}},
      {gate("cnot"), {gate("cnot")}},
      {gate("cp", {0.4}), {gate("cp", {-0.4})}},
      {gate("crx", {0.4}), {gate("crx", {-0.4})}},
      {gate("cry", {0.4}), {gate("cry", {-0.4})}},
      {gate("crz", {0.4}), {gate("crz", {-0.4})}},
      {gate("cu", {1, 2, 3}), {gate("cu", {-1, -3, -2})}},
      {gate("cu", {1, 2, 3, 0.5}), {gate("cu", {-1, -3, -2, -0.5})}},
      {gate("ccx"), {gate("ccx")}},
      {gate("cswap"), {gate("cswap")}},
      {gate("unitary", SAMPLE),
       {gate("unitary", written_parameters(adjoint(written_matrix(SAMPLE))))}},
  };
  return rows;
}

// The gates lowering writes as calls: the record rules' standard gates.
std::vector<std::string_view> standard_gate_names() {
  std::vector<std::string_view> names{EXPLICIT_MATRIX_GATE};
  for (const NativeGate& native : NATIVE_GATES) {
    if (standard_gate(native.name) != nullptr) names.push_back(native.name);
  }
  return names;
}

TEST(GateAlgebraInverse, OfEveryNativeGate) {
  for (const std::string_view name : standard_gate_names()) {
    const auto& rows = inverse_rows();
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                            [&](const InverseRow& row) { return row.of.name == name; }))
        << name << " has no inverse row";
  }
  for (const InverseRow& row : inverse_rows()) {
    SCOPED_TRACE(testing::PrintToString(row.of));
    const auto inverse = inverse_of_native(row.of);
    ASSERT_TRUE(inverse.has_value());
    EXPECT_EQ(listed(*inverse), row.inverse);
    EXPECT_TRUE(nearly_equal(matrix_of(inverse->view()), adjoint(matrix_of(row.of))));
  }
}

TEST(GateAlgebraInverse, NotExpressibleOrRefused) {
  for (const NativeForm& other : {gate("ccz"), gate("CX"), gate("u3", {1, 2, 3}), gate("")}) {
    EXPECT_EQ(inverse_of_native(other), std::nullopt) << other.name;
  }
  // The importer's own messages for values that are no square matrix.
  EXPECT_THROW_MSG(inverse_of_native(gate("unitary", {1, 0, 0})), ValueError,
                   "unitary parameters must be real/imaginary pairs");
  EXPECT_THROW_MSG(inverse_of_native(gate("unitary", {1, 0, 0, 0, 0, 0})), ValueError,
                   "unitary parameter count 6 does not encode a square matrix");
}

// ------------------------------------------------------------------ powers
TEST(GateAlgebraPower, WholeExponentsRepeat) {
  struct Row {
    double exponent;
    std::optional<Repetition> repetition;
  };
  const Row rows[] = {
      {3, Repetition{3, false}},
      {-2, Repetition{2, true}},
      {0, Repetition{0, false}},
      {-0.0, Repetition{0, false}},
      {0x1p53, Repetition{std::uint64_t{1} << 53, false}},
      {-1e300, Repetition{UINT64_MAX, true}},
      {std::numeric_limits<double>::infinity(), Repetition{UINT64_MAX, false}},
      {0.5, std::nullopt},
      {-2.000001, std::nullopt},
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(repetition_of_power(row.exponent), row.repetition) << row.exponent;
  }
}

// A whole power of every native gate, as its repetitions: the gate, or its inverse.
TEST(GateAlgebraPower, WholePowersOfEveryNativeGate) {
  for (const InverseRow& row : inverse_rows()) {
    for (const int exponent : {-2, -1, 0, 1, 3}) {
      SCOPED_TRACE(testing::PrintToString(row.of) + " to the " + std::to_string(exponent));
      const auto repetition = repetition_of_power(exponent);
      ASSERT_TRUE(repetition.has_value());
      const std::vector<NativeForm> once = repetition->inverted ? listed(*inverse_of_native(row.of))
                                                                : std::vector<NativeForm>{row.of};
      std::vector<NativeForm> gates;
      for (std::uint64_t k = 0; k < repetition->times; ++k)
        gates.insert(gates.end(), once.begin(), once.end());
      const SquareMatrix expected = whole_power(matrix_of(row.of), exponent);
      EXPECT_TRUE(nearly_equal(
          gates.empty() ? SquareMatrix::identity(expected.dimension) : matrix_of(gates), expected));
    }
  }
}

// The rotations and phases scale their angle under any power; the rest takes its
// principal power, which the expander computes from the gate's matrix.
TEST(GateAlgebraPower, RotationsAndPhasesScaleTheirAngle) {
  for (const std::string_view name : {"rx", "ry", "rz", "p", "phase", "gphase", "cp", "crx", "cry",
                                      "crz", "u1", "cphase", "cu1", "rxx", "ryy", "rzz"}) {
    EXPECT_TRUE(power_scales_angle(name)) << name;
  }
  for (const std::string_view name :
       {"x", "y",  "z",  "h",  "s",  "sdg",  "t",  "tdg", "sx",      "id",
        "U", "u2", "u3", "cx", "cz", "swap", "cu", "ccx", "unitary", "rzx"}) {
    EXPECT_FALSE(power_scales_angle(name)) << name;
  }
  // Scaling is the rotation's own power where the angle stays within (-π, π].
  for (const std::string_view name : {"rx", "ry", "rz", "p", "cp", "crx", "cry", "crz"}) {
    EXPECT_TRUE(nearly_equal(matrix_of(gate(name, {1.2})),
                             principal_power(matrix_of(gate(name, {2.4})), 0.5)))
        << name;
  }
}

// ------------------------------------------------------------------ controls
TEST(GateAlgebraControls, CompactNamesSpelledOutUnderMoreControls) {
  struct Row {
    std::string_view name;
    std::size_t added_controls;
    std::optional<SpelledControls> spelled;
  };
  const Row rows[] = {
      {"ccx", 1, SpelledControls{"x", 2}},
      {"ccx", 3, SpelledControls{"x", 2}},
      {"cswap", 2, SpelledControls{"swap", 1}},
      {"cx", 1, SpelledControls{"x", 1}},
      {"cnot", 2, SpelledControls{"x", 1}},
      {"cy", 1, SpelledControls{"y", 1}},
      {"cz", 1, SpelledControls{"z", 1}},
      {"ch", 1, SpelledControls{"h", 1}},
      {"cp", 1, SpelledControls{"p", 1}},
      {"crx", 1, SpelledControls{"rx", 1}},
      {"cry", 1, SpelledControls{"ry", 1}},
      {"crz", 2, SpelledControls{"rz", 1}},
      {"ccx", 0, std::nullopt},
      {"cswap", 0, std::nullopt},
      {"cx", 0, std::nullopt},
      {"crz", 0, std::nullopt},
      {"x", 2, std::nullopt},
      {"swap", 1, std::nullopt},
      {"cu", 1, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " under " + std::to_string(row.added_controls));
    const auto spelled = spell_out_compact_controls(row.name, row.added_controls);
    EXPECT_EQ(spelled, row.spelled);
    if (!spelled) continue;
    const bool rotation = power_scales_angle(row.name);
    const NativeForm compact = rotation ? gate(row.name, {0.7}) : gate(row.name);
    const NativeForm base = rotation ? gate(spelled->name, {0.7}) : gate(spelled->name);
    EXPECT_TRUE(
        nearly_equal(controlled(matrix_of(base), row.added_controls + spelled->own_controls),
                     controlled(matrix_of(compact), row.added_controls)));
  }
}

// ------------------------------------------------------------------ the native gates
// What lowering takes from the record rules about the gates it writes as calls: parameter
// counts, qubit operands (controls held in the name included), and their controlled base.
TEST(GateAlgebraNatives, StandardGatesAsLoweringCallsThem) {
  struct Row {
    std::string_view name;
    int parameters;
    int qubits;
    std::string_view base = {};
  };
  const std::vector<Row> rows = {
      {"x", 0, 1},         {"y", 0, 1},         {"z", 0, 1},
      {"h", 0, 1},         {"s", 0, 1},         {"sdg", 0, 1},
      {"t", 0, 1},         {"tdg", 0, 1},       {"id", 0, 1},
      {"sx", 0, 1},        {"rx", 1, 1},        {"ry", 1, 1},
      {"rz", 1, 1},        {"p", 1, 1},         {"phase", 1, 1},
      {"U", 3, 1},         {"gphase", 1, 0},    {"cx", 0, 2, "x"},
      {"cy", 0, 2, "y"},   {"cz", 0, 2, "z"},   {"ch", 0, 2, "h"},
      {"swap", 0, 2},      {"cnot", 0, 2, "x"}, {"cp", 1, 2, "p"},
      {"crx", 1, 2, "rx"}, {"cry", 1, 2, "ry"}, {"crz", 1, 2, "rz"},
      {"cu", 4, 2},        {"ccx", 0, 3, "x"},  {"cswap", 0, 3, "swap"},
      {"unitary", -1, -1},
  };
  EXPECT_EQ(standard_gate_names().size(), rows.size());
  for (const Row& row : rows) {
    const NativeGate* found = standard_gate(std::string(row.name));
    ASSERT_NE(found, nullptr) << row.name;
    EXPECT_EQ(found->name, row.name);
    EXPECT_EQ(found->parameters, row.parameters) << row.name;
    EXPECT_EQ(found->qubits, row.qubits) << row.name;
    EXPECT_EQ(found->base, row.base) << row.name;
    EXPECT_EQ(found->trailing_phase, row.name == "cu") << row.name;
  }
  // Names the importer knows without a fixed arity are read as unknown gates.
  for (const std::string_view other : {"", "CX", "u", "c", "xx", "ccz", "rxx", "unitar", "\xc3\xa9",
                                       "\x7f", "hh", "block", "sqrty", "-z"}) {
    EXPECT_EQ(standard_gate(other), nullptr) << other;
  }
}

}  // namespace
