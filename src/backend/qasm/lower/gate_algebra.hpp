// The algebra of the gates the importer reads by name (the native gates), apart from any
// program: their inverses, their powers, and the controls held in compact names spelled out.
// Pure functions of a gate's name and parameters; the qubits stay with the caller, which
// applies what these give to the call's controls and operands.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "qasm/records/native_gates.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

// A native gate applied, qubits aside: its name and parameters. `has_parameters`: written
// with parentheses, which an empty pair counts as. A name is the one given or one of the
// record rules' tables (standard_gate), never a view into anything short-lived. The functions below
// take the gate by value and give back its parameters where they can: a caller that moves them in
// and out allocates nothing.
struct NativeForm {
  std::string_view name;
  bool has_parameters = false;
  std::vector<double> parameters;
  friend bool operator==(const NativeForm&, const NativeForm&) = default;
};

// Natives applied one after the other, at most MAX of them: held in place, as the gates of
// one call, so that inverting a call allocates nothing. A gate of no qubits of its own among
// them (gphase) acts on the call's controls only: a global phase, or a phase on the controls.
class NativeGates {
 public:
  static constexpr std::size_t MAX = 2;

  void push_back(NativeForm gate) { gates_.at(size_++) = std::move(gate); }

  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  NativeForm& operator[](std::size_t k) { return gates_[k]; }
  NativeForm& back() { return gates_[size_ - 1]; }
  [[nodiscard]] std::span<const NativeForm> view() const noexcept { return {gates_.data(), size_}; }

  friend bool operator==(const NativeGates& a, const NativeGates& b) {
    return std::equal(a.view().begin(), a.view().end(), b.view().begin(), b.view().end());
  }

 private:
  std::array<NativeForm, MAX> gates_;
  std::size_t size_ = 0;
};

// The natives that apply the inverse of native `gate`, in order, or nothing when the inverse
// cannot be written with them. ValueError: a unitary whose parameters are no square matrix.
std::optional<NativeGates> inverse_of_native(NativeForm gate);

// pow(k) @ g for a whole exponent k, of any gate: g applied |k| times, inverted when k is
// negative. |k| past the largest count saturates to it; callers bound it first.
struct Repetition {
  std::uint64_t times = 0;
  bool inverted = false;
  friend bool operator==(const Repetition&, const Repetition&) = default;
};
// Nothing when the exponent is not whole.
std::optional<Repetition> repetition_of_power(double exponent) noexcept;

// Whether pow(k) @ g scales g's one angle by k, whatever k: the one-angle rotations and
// phases of both standard libraries (rx, ry, rz, p, phase, u1, cp, cphase, cu1, crx, cry,
// crz, rxx, ryy, rzz) and gphase, so that pow(0.5) @ p(5) is p(2.5). Every other gate
// takes its principal power (gate_matrices.hpp).
bool power_scales_angle(std::string_view name);

// A name that holds controls of its own over a base gate (NativeGate::base: cx, cnot, cy,
// cz, ch, cp, crx, cry, crz; ccx, cswap), with `added_controls` more, is spelled as its base
// gate with its own controls as modifiers after the added ones: the importer reads
// `ctrl @ cx a, b, c` as one gate of two controls but one control state, and takes no
// modifiers on ccx and cswap at all. `own_controls`: how many controls the name held.
// (cu, which holds a phase too, is the caller's.)
struct SpelledControls {
  std::string_view name;
  std::size_t own_controls = 0;
  friend bool operator==(const SpelledControls&, const SpelledControls&) = default;
};
// Nothing when the name stays: no added controls, or a name that holds none.
std::optional<SpelledControls> spell_out_compact_controls(std::string_view name,
                                                          std::size_t added_controls);

}  // namespace corvane::qasm3::detail::lower
