// The JSON form of a gate sequence, as the command-line tool reads and writes it.
//
//   sequence = {"num_qubits": int, "gates": [gate, ...],
//               "qasm_quantum_registers": [[name, size], ...],
//               "qasm_classical_registers": [[name, size], ...],
//               "qasm_measure_map": [[qubit, bit], ...]}
//   gate     = {"id": str, "target": [int, ...], "control": [int, ...],
//               "control_state": [int, ...], "parameter": param,
//               "classical_target": [int, ...], "block_gate_sequence": [gate, ...],
//               "name": str, "matrix": matrix, "stored_matrix": matrix}
//   param    = number | true | false | string | [number | bool | string, ...]
//              | {"array": matrix}
//   matrix   = [[[re, im], ...], ...]
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::qasm3::cli {

// Reads a gate sequence from its JSON form.
//
// Every key is optional except a gate's "id" and "target"; a key whose value is null
// counts as missing. Missing "num_qubits" is 0, missing "gates", "control" and
// "control_state" are empty lists, missing "parameter", "classical_target",
// "block_gate_sequence", "name", "matrix" and "stored_matrix" are absent (an empty
// list is present). Integers stay integers and numbers written with a fraction or an
// exponent are doubles. A "control_state" entry may also be true (read as 1), false
// (0) or a double: 1.0 reads as 1 and any other double as 0, which is how the exporter
// treats every state other than 1. The register keys are read into the sequence's
// register attributes.
//
// Failures: ValueError for text that is not JSON, unknown or missing keys, a key of the
// sequence given twice, a negative "num_qubits", an integer outside 64 bits and a matrix
// with rows of different lengths; TypeError for a value of the wrong kind; RecursionError
// for blocks nested more than detail::MAX_NESTING_DEPTH deep (and for JSON nested far
// deeper than any gate sequence needs). Every message names the place, for example
// "gates[2].target".
GateSequence read_gate_sequence_json(std::string_view text);

// Writes `gs` in the JSON form, followed by a line feed. Each record is written with the
// keys of the shape the importer builds it in, absent values as null:
//   measurement (id "measure" with a classical target): id, target, classical_target, name
//   block (a block gate sequence is present): id, target, control, control_state,
//       block_gate_sequence, name, matrix
//   recognised generated gate (an id without a standard-library gate, a matrix and no
//       parameter): id, target, control, control_state, matrix
//   ordinary gate (every other record): id, target, control, control_state, parameter, matrix
// Other attributes of a record (a stored matrix, the name of an ordinary gate) are not
// written. "num_qubits", "gates" and "qasm_quantum_registers" (null when unset) are
// always written; "qasm_classical_registers" and "qasm_measure_map" only when set.
// Doubles take their shortest round-trip form ("0.5", "1.0", "1e-05"); infinities and
// NaN, which JSON lacks, are written Infinity, -Infinity and NaN. The key order is
// fixed, so equal sequences give equal text.
//
// Nested blocks are written out in full at every use. Blocks nested more than
// detail::MAX_NESTING_DEPTH deep raise RecursionError. Text beyond kMaxWrittenBytes raises
// ValueError; shared blocks can multiply the records without end, so a sequence whose
// expanded records cannot fit is refused before anything is written.
std::string write_gate_sequence_json(const GateSequence& gs);

// The most text write_gate_sequence_json writes: 2 GiB, twice what the largest circuits
// the library is built for (10^7 gates) take.
inline constexpr std::size_t kMaxWrittenBytes = std::size_t{1} << 31;

}  // namespace corvane::qasm3::cli
