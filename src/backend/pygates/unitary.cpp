#include "corvane/backend/pygates/unitary.hpp"

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <stdexcept>
#include <string>

#include "pygates/angles.hpp"

namespace corvane {

namespace {

using Complex = std::complex<double>;
constexpr double INV_SQRT2 = 1 / std::numbers::sqrt2;

// ------------------------------------------------------------------ parameters

std::string entries_text(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " entry" : " entries");
}

// What a parameter that no matrix can be made of is, for the message.
std::string describe(const Parameter& parameter, std::size_t wanted) {
  switch (parameter.kind()) {
    case Parameter::Kind::Absent:
      return "no parameter";
    case Parameter::Kind::Text:
      return "a text";
    case Parameter::Kind::Array:
      return "a numeric array";
    case Parameter::Kind::List: {
      const std::size_t size = parameter.as_list().size();
      return size == wanted ? "a list with a text entry" : "a list of " + entries_text(size);
    }
    default:
      return "one number";
  }
}

[[noreturn]] void reject(std::string_view gate_id, std::size_t count, const Parameter& parameter) {
  std::string message = "the matrix of gate '";
  message += gate_id;
  message += "' needs ";
  message += count == 1 ? "one angle (a number, or a list of one number)"
                        : "a list of " + std::to_string(count) + " angles";
  message += ", got " + describe(parameter, count);
  throw std::invalid_argument(message);
}

// The `Count` angles a parameterised matrix is a function of: a list of exactly `Count`
// numbers, or, for a one-angle gate, also a single number.
template <std::size_t Count>
std::array<double, Count> angles_of(std::string_view gate_id, const Parameter& parameter) {
  if constexpr (Count == 1) {
    if (const std::optional<double> angle = detail::one_angle(parameter)) return {*angle};
  } else {
    if (auto angles = detail::list_angles<Count>(parameter)) return *angles;
  }
  reject(gate_id, Count, parameter);
}

// ------------------------------------------------------------------ matrices of angles

Matrix two_by_two(Complex a, Complex b, Complex c, Complex d) {
  return Matrix(2, 2, {a, b, c, d});
}

Matrix rx_matrix(const Parameter& parameter) {
  const double half = angles_of<1>("rx", parameter)[0] / 2;
  const Complex off(0.0, -std::sin(half));
  return two_by_two(std::cos(half), off, off, std::cos(half));
}

Matrix ry_matrix(const Parameter& parameter) {
  const double half = angles_of<1>("ry", parameter)[0] / 2;
  return two_by_two(std::cos(half), -std::sin(half), std::sin(half), std::cos(half));
}

Matrix rz_matrix(const Parameter& parameter) {
  const double half = angles_of<1>("rz", parameter)[0] / 2;
  return two_by_two(std::polar(1.0, -half), 0.0, 0.0, std::polar(1.0, half));
}

Matrix phase_matrix(std::string_view gate_id, const Parameter& parameter) {
  const double theta = angles_of<1>(gate_id, parameter)[0];
  return two_by_two(1.0, 0.0, 0.0, std::polar(1.0, theta));
}

Matrix p_matrix(const Parameter& parameter) {
  return phase_matrix("p", parameter);
}
Matrix phase_gate_matrix(const Parameter& parameter) {
  return phase_matrix("phase_gate", parameter);
}

// U(theta, phi, lambda), the general one-qubit rotation.
Matrix u_matrix(const Parameter& parameter) {
  const auto [theta, phi, lambda] = angles_of<3>("u", parameter);
  const double c = std::cos(theta / 2);
  const double s = std::sin(theta / 2);
  return two_by_two(c, -std::polar(s, lambda), std::polar(s, phi), std::polar(c, phi + lambda));
}

// ------------------------------------------------------------------ the table

using MatrixFunction = Matrix (*)(const Parameter&);

// One row: a fixed dim x dim matrix (row-major, first dim*dim entries used), or, with
// dim 0, a function of the parameter.
struct GateRow {
  std::string_view id;
  std::size_t dim;
  std::array<Complex, 16> entries;
  MatrixFunction of_parameter;
};

constexpr Complex IMAG_UNIT{0.0, 1.0};
constexpr Complex HALF_PLUS{0.5, 0.5};    // (1 + i) / 2
constexpr Complex HALF_MINUS{0.5, -0.5};  // (1 - i) / 2
constexpr Complex EIGHTH_TURN{INV_SQRT2, INV_SQRT2};

constexpr GateRow fixed2(std::string_view id, Complex a, Complex b, Complex c, Complex d) {
  return {id, 2, {a, b, c, d}, nullptr};
}
constexpr GateRow fixed4(std::string_view id, std::array<Complex, 16> entries) {
  return {id, 4, entries, nullptr};
}
constexpr GateRow function_row(std::string_view id, MatrixFunction f) {
  return {id, 0, {}, f};
}

// Controlled one-qubit gate on (control, target): identity on the upper block, the
// gate on the lower one.
constexpr std::array<Complex, 16> controlled(Complex a, Complex b, Complex c, Complex d) {
  return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, a, b, 0, 0, c, d};
}

constexpr std::array<GateRow, 25> ROWS{{
    fixed2("h", INV_SQRT2, INV_SQRT2, INV_SQRT2, -INV_SQRT2),
    fixed2("x", 0, 1, 1, 0),
    fixed2("y", 0, -IMAG_UNIT, IMAG_UNIT, 0),
    fixed2("z", 1, 0, 0, -1),
    fixed2("s", 1, 0, 0, IMAG_UNIT),
    fixed2("s_dag", 1, 0, 0, -IMAG_UNIT),
    fixed2("t", 1, 0, 0, EIGHTH_TURN),
    fixed2("t_dag", 1, 0, 0, std::conj(EIGHTH_TURN)),
    fixed2("sqrtx", HALF_PLUS, HALF_MINUS, HALF_MINUS, HALF_PLUS),
    fixed2("sqrtx_dag", HALF_MINUS, HALF_PLUS, HALF_PLUS, HALF_MINUS),
    fixed2("sqrty", HALF_PLUS, -HALF_PLUS, HALF_PLUS, HALF_PLUS),
    fixed2("sqrty_dag", HALF_MINUS, HALF_MINUS, -HALF_MINUS, HALF_MINUS),
    fixed2("i", 1, 0, 0, 1),
    fixed4("cnot", controlled(0, 1, 1, 0)),
    fixed4("cx", controlled(0, 1, 1, 0)),
    fixed4("cy", controlled(0, -IMAG_UNIT, IMAG_UNIT, 0)),
    fixed4("cz", controlled(1, 0, 0, -1)),
    fixed4("ch", controlled(INV_SQRT2, INV_SQRT2, INV_SQRT2, -INV_SQRT2)),
    fixed4("swap", {1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1}),
    function_row("rx", rx_matrix),
    function_row("ry", ry_matrix),
    function_row("rz", rz_matrix),
    function_row("p", p_matrix),
    function_row("phase_gate", phase_gate_matrix),
    function_row("u", u_matrix),
}};

GateMatrixEntry entry_of(const GateRow& row) {
  GateMatrixEntry entry;
  if (row.of_parameter != nullptr) {
    entry.of_parameter = row.of_parameter;
  } else {
    const auto* first = row.entries.data();
    entry.fixed = Matrix(row.dim, row.dim, {first, first + row.dim * row.dim});
  }
  return entry;
}

// The entries in row order, made on first use.
const std::array<GateMatrixEntry, ROWS.size()>& entries() {
  static const auto made = [] {
    std::array<GateMatrixEntry, ROWS.size()> all;
    for (std::size_t i = 0; i < ROWS.size(); ++i)
      all[i] = entry_of(ROWS[i]);
    return all;
  }();
  return made;
}

}  // namespace

const GateMatrixEntry* GateSet::get(std::string_view gate_id) const {
  for (std::size_t i = 0; i < ROWS.size(); ++i) {
    if (ROWS[i].id == gate_id) return &entries()[i];
  }
  return nullptr;
}

std::size_t GateSet::size() const noexcept {
  return ROWS.size();
}

std::vector<std::string_view> GateSet::ids() const {
  std::vector<std::string_view> out;
  out.reserve(ROWS.size());
  for (const GateRow& row : ROWS)
    out.push_back(row.id);
  return out;
}

const GateSet& gate_set() {
  static const GateSet table;
  return table;
}

}  // namespace corvane
