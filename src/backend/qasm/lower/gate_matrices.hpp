// The matrices of the standard gates as the OpenQASM 3 language reference defines them,
// and the principal powers of unitary matrices: what lowering needs to give a gate a
// non-integer power that no angle can express (pow(0.5) @ x is sx).
#pragma once

#include <complex>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace corvane::qasm3::detail::lower {

using Complex = std::complex<double>;

// A square matrix in row-major order. On a gate's operands, operand k is bit k of the row
// and column index (the first operand least significant), as the language reference
// numbers qubits from the right.
struct SquareMatrix {
  std::size_t dimension = 0;
  std::vector<Complex> entries;

  SquareMatrix() = default;
  explicit SquareMatrix(std::size_t size) : dimension(size), entries(size * size) {}
  static SquareMatrix identity(std::size_t size);

  Complex& at(std::size_t row, std::size_t column) { return entries[row * dimension + column]; }
  [[nodiscard]] Complex at(std::size_t row, std::size_t column) const {
    return entries[row * dimension + column];
  }
};

SquareMatrix multiply(const SquareMatrix& a, const SquareMatrix& b);
SquareMatrix adjoint(const SquareMatrix& m);
// Whether the entries differ by at most `tolerance` each.
bool nearly_equal(const SquareMatrix& a, const SquareMatrix& b, double tolerance = 1e-12);

// The matrix of a standard gate without modifiers, as the language reference defines it,
// for the gates both standard libraries share with it and the built-ins `U` and
// `gphase`; and, as their bodies in qelib1.inc make them, for its `u`, `sxdg`, `csx` and
// `cu3`. `U` is the OpenQASM 3 built-in, which carries the phase e^{iθ/2} beside the
// gate model's u: U(θ, φ, λ) = e^{iθ/2}·u(θ, φ, λ). Nothing for any other name or a
// parameter count the gate does not take.
std::optional<SquareMatrix> standard_gate_matrix(std::string_view name,
                                                 std::span<const double> parameters);

// The principal power M^k of a unitary matrix: M's eigenvalues e^{iφ} with φ in (-π, π]
// become e^{ikφ} on the same eigenvectors.
SquareMatrix principal_power(const SquareMatrix& unitary, double exponent);

// A one-qubit gate the importer reads by name that has exactly the matrix `m` (within
// rounding): its name and angle, if it takes one. Phases diag(1, e^{iλ}) are p(λ).
struct NamedGate {
  std::string_view name;
  std::optional<double> angle;
};
std::optional<NamedGate> named_one_qubit_gate(const SquareMatrix& m);
// As above, and on two qubits a control on the first over one of x, y, z, h or p: cx, cy,
// cz, ch, cp(λ).
std::optional<NamedGate> named_gate(const SquareMatrix& m);

// The parameters of the importer's `unitary` for `m`: its entries row by row as real and
// imaginary parts, the first operand the most significant bit of the index, as the gate
// model stores its matrices.
std::vector<double> written_unitary(const SquareMatrix& m);

}  // namespace corvane::qasm3::detail::lower
