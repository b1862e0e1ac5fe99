#include "qasm/lower/gate_matrices.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>
#include <utility>

namespace corvane::qasm3::detail::lower {
namespace {

constexpr Complex I{0.0, 1.0};
constexpr double PI = std::numbers::pi;

SquareMatrix one_qubit(Complex a, Complex b, Complex c, Complex d) {
  SquareMatrix m(2);
  m.entries = {a, b, c, d};
  return m;
}

Complex phase(double angle) {
  return std::polar(1.0, angle);
}

// e^{i(a + b)·factor}: one phase of the sum while the sum is a number, the product of two
// phases where it overflows (angles near the largest doubles), which are numbers still.
Complex phase_of_sum(double a, double b, double factor = 1.0) {
  const double sum = a + b;
  if (std::isfinite(sum)) return phase(sum * factor);
  return phase(a * factor) * phase(b * factor);
}

// The gate model's u(θ, φ, λ), without the phase of the language's U.
SquareMatrix model_u(double theta, double phi, double lambda) {
  const double c = std::cos(theta / 2);
  const double s = std::sin(theta / 2);
  return one_qubit(c, -phase(lambda) * s, phase(phi) * s, phase_of_sum(phi, lambda) * c);
}

SquareMatrix scaled(SquareMatrix m, Complex factor) {
  for (Complex& entry : m.entries)
    entry *= factor;
  return m;
}

// `base` under `controls` controls on the low bits: the controls are the first operands.
SquareMatrix controlled(const SquareMatrix& base, std::size_t controls) {
  const std::size_t control_mask = (std::size_t{1} << controls) - 1;
  SquareMatrix m = SquareMatrix::identity(base.dimension << controls);
  for (std::size_t row = 0; row < base.dimension; ++row) {
    for (std::size_t column = 0; column < base.dimension; ++column) {
      m.at((row << controls) | control_mask, (column << controls) | control_mask) =
          base.at(row, column);
    }
  }
  return m;
}

SquareMatrix swap_matrix() {
  SquareMatrix m(4);
  m.at(0, 0) = m.at(1, 2) = m.at(2, 1) = m.at(3, 3) = 1.0;
  return m;
}

// The one-qubit gates without parameters.
std::optional<SquareMatrix> fixed_one_qubit(std::string_view name) {
  const double r = 1 / std::numbers::sqrt2;
  if (name == "x") return one_qubit(0, 1, 1, 0);
  if (name == "y") return one_qubit(0, -I, I, 0);
  if (name == "z") return one_qubit(1, 0, 0, -1);
  if (name == "h") return one_qubit(r, r, r, -r);
  if (name == "s") return one_qubit(1, 0, 0, I);
  if (name == "sdg") return one_qubit(1, 0, 0, -I);
  if (name == "t") return one_qubit(1, 0, 0, phase(PI / 4));
  if (name == "tdg") return one_qubit(1, 0, 0, phase(-PI / 4));
  if (name == "id") return one_qubit(1, 0, 0, 1);
  if (name == "sxdg") return one_qubit(r, I * r, I * r, r);  // qelib1.inc's s, h, s
  if (name == "sx") {
    const Complex plus{0.5, 0.5};
    const Complex minus{0.5, -0.5};
    return one_qubit(plus, minus, minus, plus);
  }
  return std::nullopt;
}

// The one-qubit gates of one angle.
std::optional<SquareMatrix> rotation(std::string_view name, double angle) {
  const double c = std::cos(angle / 2);
  const double s = std::sin(angle / 2);
  if (name == "rx") return one_qubit(c, -I * s, -I * s, c);
  if (name == "ry") return one_qubit(c, -s, s, c);
  if (name == "rz") return one_qubit(phase(-angle / 2), 0, 0, phase(angle / 2));
  if (name == "p" || name == "phase" || name == "u1") return one_qubit(1, 0, 0, phase(angle));
  return std::nullopt;
}

// The gates of one control over a one-qubit base, with the name of the base.
struct ControlledName {
  std::string_view name;
  std::string_view base;
};
constexpr std::array<ControlledName, 12> CONTROLLED_NAMES = {{{"cx", "x"},
                                                              {"cnot", "x"},
                                                              {"CX", "x"},
                                                              {"cy", "y"},
                                                              {"cz", "z"},
                                                              {"ch", "h"},
                                                              {"cp", "p"},
                                                              {"cphase", "p"},
                                                              {"crx", "rx"},
                                                              {"cry", "ry"},
                                                              {"crz", "rz"},
                                                              {"csx", "sx"}}};

std::optional<SquareMatrix> uncontrolled_gate(std::string_view name,
                                              std::span<const double> parameters) {
  if (parameters.empty()) return fixed_one_qubit(name);
  if (parameters.size() == 1) {
    if (name == "gphase") {
      SquareMatrix m(1);
      m.entries[0] = phase(parameters[0]);
      return m;
    }
    return rotation(name, parameters[0]);
  }
  if (parameters.size() == 2 && name == "u2") {  // u3(π/2, φ, λ)
    return scaled(model_u(PI / 2, parameters[0], parameters[1]),
                  phase_of_sum(parameters[0], parameters[1], -0.5));
  }
  if (parameters.size() == 3 && name == "U") {
    return scaled(model_u(parameters[0], parameters[1], parameters[2]), phase(parameters[0] / 2));
  }
  // u3 is e^{-i(θ+φ+λ)/2}·U(θ, φ, λ); qelib1.inc's u is OpenQASM 2's U, the same.
  if (parameters.size() == 3 && (name == "u3" || name == "u")) {
    return scaled(model_u(parameters[0], parameters[1], parameters[2]),
                  phase_of_sum(parameters[1], parameters[2], -0.5));
  }
  return std::nullopt;
}

// ------------------------------------------------------------------ eigenvectors
// Cyclic Jacobi rotations diagonalise the Hermitian matrix `a` in place; `v` collects the
// rotations, so that its columns are the eigenvectors.
void diagonalise_hermitian(SquareMatrix& a, SquareMatrix& v) {
  const std::size_t n = a.dimension;
  for (int sweep = 0; sweep < 64; ++sweep) {
    double off = 0;
    for (std::size_t p = 0; p < n; ++p) {
      for (std::size_t q = p + 1; q < n; ++q)
        off += std::norm(a.at(p, q));
    }
    if (off < 1e-30) return;
    for (std::size_t p = 0; p < n; ++p) {
      for (std::size_t q = p + 1; q < n; ++q) {
        const double size = std::abs(a.at(p, q));
        if (size < 1e-300) continue;
        const Complex unit = a.at(p, q) / size;  // e^{iθ}
        const double tau = (a.at(q, q).real() - a.at(p, p).real()) / (2 * size);
        const double t = (tau >= 0 ? 1.0 : -1.0) / (std::fabs(tau) + std::sqrt(1 + tau * tau));
        const double c = 1 / std::sqrt(1 + t * t);
        const double s = t * c;
        // J = D·R on columns p, q: D = diag(1, e^{-iθ}) makes the (p, q) entry of D†AD
        // real, and the real Jacobi rotation R = [[c, s], [-s, c]] then clears it.
        const Complex jpp = c;
        const Complex jpq = s;
        const Complex jqp = -s * std::conj(unit);
        const Complex jqq = c * std::conj(unit);
        for (std::size_t k = 0; k < n; ++k) {  // A·J and V·J
          const Complex akp = a.at(k, p);
          const Complex akq = a.at(k, q);
          a.at(k, p) = akp * jpp + akq * jqp;
          a.at(k, q) = akp * jpq + akq * jqq;
          const Complex vkp = v.at(k, p);
          const Complex vkq = v.at(k, q);
          v.at(k, p) = vkp * jpp + vkq * jqp;
          v.at(k, q) = vkp * jpq + vkq * jqq;
        }
        for (std::size_t k = 0; k < n; ++k) {  // J†·(A·J)
          const Complex apk = a.at(p, k);
          const Complex aqk = a.at(q, k);
          a.at(p, k) = std::conj(jpp) * apk + std::conj(jqp) * aqk;
          a.at(q, k) = std::conj(jpq) * apk + std::conj(jqq) * aqk;
        }
      }
    }
  }
}

// An eigenphase in (-π, π]; -π, and what rounding left just above it, is π.
double principal_phase(Complex eigenvalue) {
  const double angle = std::arg(eigenvalue);
  return angle <= -PI + 1e-9 ? PI : angle;
}

}  // namespace

SquareMatrix SquareMatrix::identity(std::size_t size) {
  SquareMatrix m(size);
  for (std::size_t k = 0; k < size; ++k)
    m.at(k, k) = 1.0;
  return m;
}

SquareMatrix multiply(const SquareMatrix& a, const SquareMatrix& b) {
  const std::size_t n = a.dimension;
  SquareMatrix product(n);
  for (std::size_t row = 0; row < n; ++row) {
    for (std::size_t k = 0; k < n; ++k) {
      const Complex left = a.at(row, k);
      if (left == Complex{}) continue;
      for (std::size_t column = 0; column < n; ++column)
        product.at(row, column) += left * b.at(k, column);
    }
  }
  return product;
}

SquareMatrix adjoint(const SquareMatrix& m) {
  SquareMatrix result(m.dimension);
  for (std::size_t row = 0; row < m.dimension; ++row) {
    for (std::size_t column = 0; column < m.dimension; ++column)
      result.at(column, row) = std::conj(m.at(row, column));
  }
  return result;
}

bool nearly_equal(const SquareMatrix& a, const SquareMatrix& b, double tolerance) {
  if (a.dimension != b.dimension) return false;
  for (std::size_t k = 0; k < a.entries.size(); ++k) {
    if (std::abs(a.entries[k] - b.entries[k]) > tolerance) return false;
  }
  return true;
}

std::optional<SquareMatrix> standard_gate_matrix(std::string_view name,
                                                 std::span<const double> parameters) {
  if (auto matrix = uncontrolled_gate(name, parameters)) return matrix;
  for (const ControlledName& gate : CONTROLLED_NAMES) {
    if (name != gate.name) continue;
    const auto base = uncontrolled_gate(gate.base, parameters);
    if (!base) return std::nullopt;
    return controlled(*base, 1);
  }
  if (name == "cu" && (parameters.size() == 3 || parameters.size() == 4)) {
    // cu(θ, φ, λ, γ) = p(γ - θ/2) on the control, then ctrl @ U(θ, φ, λ): the control
    // sees e^{iγ}·u(θ, φ, λ).
    const double gamma = parameters.size() == 4 ? parameters[3] : 0.0;
    return controlled(scaled(model_u(parameters[0], parameters[1], parameters[2]), phase(gamma)),
                      1);
  }
  if (name == "cu3" && parameters.size() == 3) {
    // qelib1.inc's body, multiplied out: the model's controlled u times e^{i(λ-φ)/4}, the
    // phases of the u3 calls on its target, which a control on cu3 observes.
    return scaled(controlled(model_u(parameters[0], parameters[1], parameters[2]), 1),
                  phase_of_sum(parameters[2], -parameters[1], 0.25));
  }
  if (!parameters.empty()) return std::nullopt;
  if (name == "swap") return swap_matrix();
  if (name == "ccx") return controlled(*fixed_one_qubit("x"), 2);
  if (name == "cswap") return controlled(swap_matrix(), 1);
  return std::nullopt;
}

SquareMatrix principal_power(const SquareMatrix& unitary, double exponent) {
  const std::size_t n = unitary.dimension;
  // U is normal, so its Hermitian parts (U + U†)/2 and (U - U†)/2i commute and share U's
  // eigenvectors; a combination with an irrational weight separates eigenvalues that
  // either part alone would merge (e^{iφ} and e^{-iφ} share a real part).
  constexpr double WEIGHT = 0.5772156649015329;
  SquareMatrix hermitian(n);
  for (std::size_t row = 0; row < n; ++row) {
    for (std::size_t column = 0; column < n; ++column) {
      const Complex u = unitary.at(row, column);
      const Complex u_adjoint = std::conj(unitary.at(column, row));
      hermitian.at(row, column) = (u + u_adjoint) / 2.0 + WEIGHT * (u - u_adjoint) / (2.0 * I);
    }
  }
  SquareMatrix vectors = SquareMatrix::identity(n);
  diagonalise_hermitian(hermitian, vectors);
  const SquareMatrix diagonal = multiply(adjoint(vectors), multiply(unitary, vectors));
  SquareMatrix powered(n);
  for (std::size_t k = 0; k < n; ++k)
    powered.at(k, k) = phase(exponent * principal_phase(diagonal.at(k, k)));
  return multiply(vectors, multiply(powered, adjoint(vectors)));
}

std::optional<NamedGate> named_one_qubit_gate(const SquareMatrix& m) {
  if (m.dimension != 2) return std::nullopt;
  for (const std::string_view name : {"id", "x", "y", "z", "h", "s", "sdg", "t", "tdg", "sx"}) {
    if (nearly_equal(m, *fixed_one_qubit(name))) return NamedGate{name, std::nullopt};
  }
  const bool diagonal_phase = std::abs(m.at(0, 0) - 1.0) <= 1e-12 &&
                              std::abs(m.at(0, 1)) <= 1e-12 && std::abs(m.at(1, 0)) <= 1e-12 &&
                              std::abs(std::abs(m.at(1, 1)) - 1) <= 1e-12;
  if (diagonal_phase) return NamedGate{"p", std::arg(m.at(1, 1))};
  return std::nullopt;
}

std::optional<NamedGate> named_gate(const SquareMatrix& m) {
  if (m.dimension == 2) return named_one_qubit_gate(m);
  if (m.dimension != 4) return std::nullopt;
  // The control is operand 0, bit 0: where it is 0 nothing happens.
  SquareMatrix target(2);
  for (std::size_t row = 0; row < 4; ++row) {
    for (std::size_t column = 0; column < 4; ++column) {
      const Complex entry = m.at(row, column);
      if ((row & 1U) == 1 && (column & 1U) == 1) {
        target.at(row >> 1U, column >> 1U) = entry;
      } else if (std::abs(entry - (row == column ? 1.0 : 0.0)) > 1e-12) {
        return std::nullopt;
      }
    }
  }
  const bool diagonal_phase = std::abs(target.at(0, 0) - 1.0) <= 1e-12 &&
                              std::abs(target.at(0, 1)) <= 1e-12 &&
                              std::abs(target.at(1, 0)) <= 1e-12;
  if (diagonal_phase) return NamedGate{"cp", std::arg(target.at(1, 1))};
  const std::optional<NamedGate> base = named_one_qubit_gate(target);
  if (!base) return std::nullopt;
  constexpr std::array<std::pair<std::string_view, std::string_view>, 5> CONTROLLED = {
      {{"x", "cx"}, {"y", "cy"}, {"z", "cz"}, {"h", "ch"}, {"p", "cp"}}};
  for (const auto& [name, controlled_name] : CONTROLLED) {
    if (base->name == name) return NamedGate{controlled_name, base->angle};
  }
  return std::nullopt;
}

std::vector<double> written_unitary(const SquareMatrix& m) {
  const auto qubits = static_cast<std::size_t>(std::countr_zero(m.dimension));
  auto first_operand_high = [qubits](std::size_t index) {
    std::size_t reversed = 0;
    for (std::size_t bit = 0; bit < qubits; ++bit)
      reversed |= ((index >> bit) & 1U) << (qubits - 1 - bit);
    return reversed;
  };
  std::vector<double> parameters(2 * m.entries.size());
  for (std::size_t row = 0; row < m.dimension; ++row) {
    for (std::size_t column = 0; column < m.dimension; ++column) {
      const Complex entry = m.at(first_operand_high(row), first_operand_high(column));
      const std::size_t at = 2 * (row * m.dimension + column);
      parameters[at] = entry.real();
      parameters[at + 1] = entry.imag();
    }
  }
  return parameters;
}

}  // namespace corvane::qasm3::detail::lower
