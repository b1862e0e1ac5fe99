#include "qasm/lower/gate_algebra.hpp"

#include <cmath>
#include <numbers>
#include <utility>

#include "qasm/records/explicit_matrix.hpp"

namespace corvane::qasm3::detail::lower {
namespace {

// Natives that are their own inverse, and pairs that invert each other.
constexpr std::array<std::string_view, 13> SELF_INVERSE = {
    "x", "y", "z", "h", "id", "cx", "cy", "cz", "ch", "swap", "cnot", "ccx", "cswap"};
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> INVERSE_PAIRS = {
    {{"s", "sdg"}, {"sdg", "s"}, {"t", "tdg"}, {"tdg", "t"}}};
// Rotations and phases: inverted by negating, raised to any power by scaling the angle.
constexpr std::array<std::string_view, 10> ANGLE_SCALED = {"rx",     "ry", "rz",  "p",   "phase",
                                                           "gphase", "cp", "crx", "cry", "crz"};

// The one-angle rotations and phases of both standard libraries that the importer does not
// read by name: a power of them scales the angle too, as it does for the natives above.
constexpr std::array<std::string_view, 6> LIBRARY_ANGLE_SCALED = {"u1",  "cphase", "cu1",
                                                                  "rxx", "ryy",    "rzz"};

template <std::size_t N>
bool among(const std::array<std::string_view, N>& names, std::string_view name) {
  for (const std::string_view candidate : names) {
    if (same_text(candidate, name)) return true;
  }
  return false;
}

// `gate` made the native `name` with the one parameter `angle`, in the room its parameters
// had.
NativeForm rewritten(NativeForm gate, std::string_view name, double angle) {
  gate.name = name;
  gate.has_parameters = true;
  gate.parameters.assign(1, angle);
  return gate;
}

NativeGates one(NativeForm gate) {
  NativeGates gates;
  gates.push_back(std::move(gate));
  return gates;
}

// The conjugate transpose of the matrix written row by row as real and imaginary parts.
// ValueError, as the importer has it, when they are no such matrix.
std::vector<double> conjugate_transpose(const std::vector<double>& entries) {
  const auto dimension = static_cast<std::size_t>(unitary_dim_from_params(entries));
  std::vector<double> inverse(entries.size());
  for (std::size_t row = 0; row < dimension; ++row) {
    for (std::size_t column = 0; column < dimension; ++column) {
      const std::size_t from = 2 * (row * dimension + column);
      const std::size_t to = 2 * (column * dimension + row);
      inverse[to] = entries[from];
      inverse[to + 1] = -entries[from + 1];
    }
  }
  return inverse;
}

}  // namespace

std::optional<NativeGates> inverse_of_native(NativeForm gate) {
  const std::string_view name = gate.name;
  if (among(SELF_INVERSE, name)) return one(std::move(gate));
  for (const auto& [from, to] : INVERSE_PAIRS) {
    if (same_text(from, name)) {
      gate.name = to;
      return one(std::move(gate));
    }
  }
  if (among(ANGLE_SCALED, name)) {
    for (double& angle : gate.parameters)
      angle = -angle;
    return one(std::move(gate));
  }
  if ((name == "U" || name == "cu") && gate.parameters.size() >= 3) {
    // U(θ, φ, λ)⁻¹ = U(-θ, -λ, -φ); cu's phase is negated too
    std::swap(gate.parameters[1], gate.parameters[2]);
    for (double& angle : gate.parameters)
      angle = -angle;
    return one(std::move(gate));
  }
  if (name == EXPLICIT_MATRIX_GATE) {
    gate.parameters = conjugate_transpose(gate.parameters);
    return one(std::move(gate));
  }
  if (name == "sx") {  // sx⁻¹ = rx(-π/2) with the global phase -π/4
    NativeGates gates;
    gates.push_back(NativeForm{"gphase", true, {-std::numbers::pi / 4}});
    gates.push_back(rewritten(std::move(gate), "rx", -std::numbers::pi / 2));
    return gates;
  }
  return std::nullopt;
}

std::optional<Repetition> repetition_of_power(double exponent) noexcept {
  if (std::nearbyint(exponent) != exponent) return std::nullopt;
  const double magnitude = std::fabs(exponent);
  constexpr double BEYOND_COUNTS = 0x1p64;
  const std::uint64_t times =
      magnitude >= BEYOND_COUNTS ? UINT64_MAX : static_cast<std::uint64_t>(magnitude);
  return Repetition{times, exponent < 0};
}

bool power_scales_angle(std::string_view name) {
  return among(ANGLE_SCALED, name) || among(LIBRARY_ANGLE_SCALED, name);
}

std::optional<SpelledControls> spell_out_compact_controls(std::string_view name,
                                                          std::size_t added_controls) {
  if (added_controls == 0) return std::nullopt;
  const NativeGate* native = native_gate(name);
  if (native == nullptr || native->base.empty()) return std::nullopt;
  return SpelledControls{native->base, static_cast<std::size_t>(native->own_controls)};
}

}  // namespace corvane::qasm3::detail::lower
