// circuit_unitary: the matrix a gate sequence applies, for checking that rewritten
// circuits do the same thing.
#pragma once

#include <cstdint>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane {

// The largest qubit count circuit_unitary accepts: its result has 4^n entries.
inline constexpr std::int64_t CIRCUIT_UNITARY_MAX_QUBITS = 12;

// The 2^n x 2^n unitary of `gs` (n = gs.num_qubits), qubit k being bit k of the row and
// column index (qubit 0 least significant). Each record means what the gate model says:
// its gate_set() matrix on each target under all its controls (control state 1 = on |1>,
// anything else = on |0>); the controlled ids ("cx", "mcrz", "cp", ...) their base gate on
// their one target; "swap" the exchange of each pair of targets; "rzz" exp(-i θ/2 Z⊗Z);
// "-z" -Z on each target; "gp"/"global_phase" a phase on its controls; "unitary" its
// stored matrix (else its matrix) on its targets, the first target the most significant
// bit of the matrix index, as in gate_set()'s two-qubit matrices; "block" its records with
// local qubit i on its i-th target, under its controls. Measurements may only end the
// circuit and are left out; a conditioned record ("if", "while") has no unitary. Raises
// corvane::qasm3::ValueError for more than 12 qubits, a gate without a matrix and every record that
// has no such meaning, and RecursionError for blocks nested deeper than 1000 levels.
Matrix circuit_unitary(const GateSequence& gs);

}  // namespace corvane
