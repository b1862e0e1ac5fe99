// The gate algebra of the lowering front end, on its own: for every gate the importer reads
// by name, its inverse and its whole and fractional powers; controls spelled out of the
// compact names. Each row is checked as written and by what it does: the unitary of the
// gates it gives against the inverse or power of the gate's unitary.
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

#include "qasm/lower/gate_algebra.hpp"
#include "test_support.hpp"

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
using Complex = std::complex<double>;
constexpr double PI = std::numbers::pi;
constexpr Complex I{0.0, 1.0};

NativeForm gate(std::string_view name) {
  return {name, false, {}};
}
NativeForm gate(std::string_view name, std::vector<double> parameters) {
  return {name, true, std::move(parameters)};
}

// ------------------------------------------------------------------ unitaries
struct Unitary {
  std::size_t dimension = 1;
  std::vector<Complex> entries{1.0};  // row-major
  Complex& at(std::size_t row, std::size_t column) { return entries[row * dimension + column]; }
  Complex at(std::size_t row, std::size_t column) const {
    return entries[row * dimension + column];
  }
};

Unitary identity(std::size_t dimension) {
  Unitary u{dimension, std::vector<Complex>(dimension * dimension)};
  for (std::size_t k = 0; k < dimension; ++k)
    u.at(k, k) = 1.0;
  return u;
}

Unitary two_by_two(Complex a, Complex b, Complex c, Complex d) {
  return Unitary{2, {a, b, c, d}};
}

Unitary operator*(const Unitary& left, const Unitary& right) {
  if (left.dimension == 1 || right.dimension == 1) {  // a global phase scales the other
    Unitary scaled = left.dimension == 1 ? right : left;
    const Complex factor = left.dimension == 1 ? left.entries[0] : right.entries[0];
    for (Complex& entry : scaled.entries)
      entry *= factor;
    return scaled;
  }
  Unitary product{left.dimension, std::vector<Complex>(left.entries.size())};
  for (std::size_t row = 0; row < left.dimension; ++row) {
    for (std::size_t column = 0; column < left.dimension; ++column) {
      for (std::size_t k = 0; k < left.dimension; ++k)
        product.at(row, column) += left.at(row, k) * right.at(k, column);
    }
  }
  return product;
}

Unitary adjoint(const Unitary& u) {
  Unitary result = u;
  for (std::size_t row = 0; row < u.dimension; ++row) {
    for (std::size_t column = 0; column < u.dimension; ++column)
      result.at(column, row) = std::conj(u.at(row, column));
  }
  return result;
}

Unitary power(const Unitary& u, int exponent) {
  Unitary result = identity(u.dimension);
  for (int k = 0; k < std::abs(exponent); ++k)
    result = result * (exponent < 0 ? adjoint(u) : u);
  return result;
}

// The gate under one more control, which is the most significant qubit.
Unitary controlled(const Unitary& u, std::size_t controls = 1) {
  if (controls == 0) return u;
  Unitary result = identity(2 * u.dimension);
  for (std::size_t row = 0; row < u.dimension; ++row) {
    for (std::size_t column = 0; column < u.dimension; ++column)
      result.at(u.dimension + row, u.dimension + column) = u.at(row, column);
  }
  return controlled(result, controls - 1);
}

Unitary u3(double theta, double phi, double lambda) {
  const double c = std::cos(theta / 2);
  const double s = std::sin(theta / 2);
  return two_by_two(c, -std::exp(I * lambda) * s, std::exp(I * phi) * s,
                    std::exp(I * (phi + lambda)) * c);
}

// The unitary of a native gate as the importer reads it.
Unitary unitary_of(const NativeForm& native) {
  const std::string_view name = native.name;
  const double angle = native.parameters.empty() ? 0.0 : native.parameters[0];
  const double r = 1 / std::sqrt(2.0);
  const double c = std::cos(angle / 2);
  const double s = std::sin(angle / 2);
  if (name == "x") return two_by_two(0, 1, 1, 0);
  if (name == "y") return two_by_two(0, -I, I, 0);
  if (name == "z") return two_by_two(1, 0, 0, -1);
  if (name == "h") return two_by_two(r, r, r, -r);
  if (name == "s") return two_by_two(1, 0, 0, I);
  if (name == "sdg") return two_by_two(1, 0, 0, -I);
  if (name == "t") return two_by_two(1, 0, 0, std::exp(I * PI / 4.0));
  if (name == "tdg") return two_by_two(1, 0, 0, std::exp(-I * PI / 4.0));
  if (name == "id") return identity(2);
  if (name == "sx")
    return two_by_two((1.0 + I) / 2.0, (1.0 - I) / 2.0, (1.0 - I) / 2.0, (1.0 + I) / 2.0);
  if (name == "rx") return two_by_two(c, -I * s, -I * s, c);
  if (name == "ry") return two_by_two(c, -s, s, c);
  if (name == "rz") return two_by_two(std::exp(-I * angle / 2.0), 0, 0, std::exp(I * angle / 2.0));
  if (name == "p" || name == "phase") return two_by_two(1, 0, 0, std::exp(I * angle));
  if (name == "U") return u3(native.parameters[0], native.parameters[1], native.parameters[2]);
  if (name == "gphase") return Unitary{1, {std::exp(I * angle)}};
  if (name == "swap") return Unitary{4, {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1}};
  if (name == "cx" || name == "cnot") return controlled(unitary_of(gate("x")));
  if (name == "ccx") return controlled(unitary_of(gate("x")), 2);
  if (name == "cswap") return controlled(unitary_of(gate("swap")));
  if (name == "cu") {
    const double phase = native.parameters.size() > 3 ? native.parameters[3] : 0.0;
    return controlled(Unitary{1, {std::exp(I * phase)}} * unitary_of(gate("U", native.parameters)));
  }
  if (name.size() > 1 && name[0] == 'c') {  // cy, cz, ch, cp, crx, cry, crz
    return controlled(
        unitary_of(NativeForm{name.substr(1), native.has_parameters, native.parameters}));
  }
  if (name == "unitary") {
    const auto dimension = static_cast<std::size_t>(std::sqrt(native.parameters.size() / 2.0));
    Unitary u{dimension, {}};
    for (std::size_t k = 0; k + 1 < native.parameters.size(); k += 2)
      u.entries.emplace_back(native.parameters[k], native.parameters[k + 1]);
    return u;
  }
  ADD_FAILURE() << "no unitary for " << name;
  return identity(2);
}

// The gates applied one after the other.
Unitary unitary_of(std::span<const NativeForm> gates) {
  Unitary product;
  for (const NativeForm& gate : gates)
    product = unitary_of(gate) * product;
  return product;
}

std::vector<NativeForm> listed(const NativeGates& gates) {
  return {gates.view().begin(), gates.view().end()};
}

void expect_same_unitary(const Unitary& actual, const Unitary& expected) {
  ASSERT_EQ(actual.dimension, expected.dimension);
  for (std::size_t k = 0; k < actual.entries.size(); ++k) {
    EXPECT_NEAR(std::abs(actual.entries[k] - expected.entries[k]), 0.0, 1e-12) << "entry " << k;
  }
}

// The entries of U(1, 0.3, 0.7), neither symmetric nor real: its inverse needs both the
// transpose and the conjugate.
std::vector<double> unitary_parameters(const Unitary& u) {
  std::vector<double> parameters;
  for (const Complex entry : u.entries) {
    parameters.push_back(entry.real());
    parameters.push_back(entry.imag());
  }
  return parameters;
}
const Unitary SAMPLE = u3(1, 0.3, 0.7);

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
      {gate("unitary", unitary_parameters(SAMPLE)),
       {gate("unitary", unitary_parameters(adjoint(SAMPLE)))}},
  };
  return rows;
}

TEST(GateAlgebraInverse, OfEveryNativeGate) {
  for (const NativeGate& native : NATIVE_GATES) {
    const auto& rows = inverse_rows();
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                            [&](const InverseRow& row) { return row.of.name == native.name; }))
        << native.name << " has no inverse row";
  }
  for (const InverseRow& row : inverse_rows()) {
    SCOPED_TRACE(testing::PrintToString(row.of));
    const auto inverse = inverse_of_native(row.of);
    ASSERT_TRUE(inverse.has_value());
    EXPECT_EQ(listed(*inverse), row.inverse);
    expect_same_unitary(unitary_of(inverse->view()), adjoint(unitary_of(row.of)));
  }
}

TEST(GateAlgebraInverse, NotExpressibleOrRefused) {
  for (const NativeForm& other : {gate("ccz"), gate("CX"), gate("u3", {1, 2, 3}), gate("")}) {
    EXPECT_EQ(inverse_of_native(other), std::nullopt) << other.name;
  }
  EXPECT_THROW_MSG(inverse_of_native(gate("unitary", {1, 0, 0})), ValueError,
                   "unitary parameters do not encode a square matrix");
  EXPECT_THROW_MSG(inverse_of_native(gate("unitary", {1, 0, 0, 0, 0, 0})), ValueError,
                   "unitary parameters do not encode a square matrix");
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
      const Unitary expected = power(unitary_of(row.of), exponent);
      expect_same_unitary(gates.empty() ? identity(expected.dimension) : unitary_of(gates),
                          expected);
    }
  }
}

struct FractionalRow {
  NativeForm of;
  int numerator;
  int denominator;
  std::optional<NativeForm> power;
};

TEST(GateAlgebraPower, FractionalPowersOfRotationsAndPhases) {
  const FractionalRow rows[] = {
      {gate("rx", {0.4}), 1, 2, gate("rx", {0.2})},
      {gate("ry", {0.4}), -1, 4, gate("ry", {0.4 * -0.25})},
      {gate("rz", {0.4}), 3, 2, gate("rz", {0.4 * 1.5})},
      {gate("p", {0.4}), 1, 2, gate("p", {0.2})},
      {gate("phase", {0.4}), 1, 2, gate("phase", {0.2})},
      {gate("gphase", {0.6}), 1, 2, gate("gphase", {0.3})},
      {gate("cp", {0.4}), 1, 2, gate("cp", {0.2})},
      {gate("crx", {0.4}), 3, 2, gate("crx", {0.4 * 1.5})},
      {gate("cry", {0.4}), 1, 2, gate("cry", {0.2})},
      {gate("crz", {0.4}), 1, 4, gate("crz", {0.4 * 0.25})},
      // Phases of a fixed angle become phases of their angle scaled.
      {gate("z"), 1, 2, gate("p", {PI / 2})},
      {gate("s"), 1, 2, gate("p", {PI / 4})},
      {gate("sdg"), 1, 2, gate("p", {-PI / 4})},
      {gate("t"), 1, 2, gate("p", {PI / 8})},
      {gate("tdg"), -1, 2, gate("p", {PI / 8})},
      {gate("cz"), 1, 4, gate("cp", {PI / 4})},
      // The rest has no native power of that kind.
      {gate("x"), 1, 2, std::nullopt},
      {gate("y"), 1, 2, std::nullopt},
      {gate("h"), 1, 2, std::nullopt},
      {gate("id"), 1, 2, std::nullopt},
      {gate("sx"), 1, 2, std::nullopt},
      {gate("U", {1, 2, 3}), 1, 2, std::nullopt},
      {gate("cx"), 1, 2, std::nullopt},
      {gate("cnot"), 1, 2, std::nullopt},
      {gate("cy"), 1, 2, std::nullopt},
      {gate("ch"), 1, 2, std::nullopt},
      {gate("swap"), 1, 2, std::nullopt},
      {gate("cu", {1, 2, 3, 0.5}), 1, 2, std::nullopt},
      {gate("ccx"), 1, 2, std::nullopt},
      {gate("cswap"), 1, 2, std::nullopt},
      {gate("unitary", unitary_parameters(SAMPLE)), 1, 2, std::nullopt},
      {gate("ccz"), 1, 2, std::nullopt},
  };
  for (const FractionalRow& row : rows) {
    const double exponent = static_cast<double>(row.numerator) / row.denominator;
    SCOPED_TRACE(testing::PrintToString(row.of) + " to the " + std::to_string(exponent));
    const auto powered = fractional_power_of_native(row.of, exponent);
    EXPECT_EQ(powered, row.power);
    if (!powered) continue;
    // A root: the result to the denominator is the gate to the numerator.
    expect_same_unitary(power(unitary_of(*powered), row.denominator),
                        power(unitary_of(row.of), row.numerator));
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
      {"ccx", 0, std::nullopt},
      {"cswap", 0, std::nullopt},
      {"cx", 1, std::nullopt},
      {"x", 2, std::nullopt},
      {"swap", 1, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " under " + std::to_string(row.added_controls));
    const auto spelled = spell_out_compact_controls(row.name, row.added_controls);
    EXPECT_EQ(spelled, row.spelled);
    if (!spelled) continue;
    expect_same_unitary(
        controlled(unitary_of(gate(spelled->name)), row.added_controls + spelled->own_controls),
        controlled(unitary_of(gate(row.name)), row.added_controls));
  }
}

// ------------------------------------------------------------------ the native gates
TEST(GateAlgebraNatives, FoundByTheirExactNames) {
  for (const NativeGate& native : NATIVE_GATES) {
    const NativeGate* found = find_native(std::string(native.name));
    ASSERT_NE(found, nullptr) << native.name;
    EXPECT_EQ(found->name, native.name);
  }
  for (const std::string_view other :
       {"", "CX", "u", "c", "xx", "ccz", "rxx", "unitar", "\xc3\xa9", "\x7f", "hh"}) {
    EXPECT_EQ(find_native(other), nullptr) << other;
  }
}

}  // namespace
