// The JSON form of a gate sequence, as the command-line tool reads and writes it.
//
//   sequence = {"num_qubits": int, "gates": [gate, ...],
//               "qasm_quantum_registers": [[name, size], ...],
//               "qasm_classical_registers": [[name, size], ...],
//               "qasm_measure_map": [[qubit, bit], ...],
//               "qasm_inputs": [[name, type], ...]}
//   gate     = {"id": str, "target": [int, ...], "control": [int, ...],
//               "control_state": [int, ...], "parameter": param,
//               "classical_target": [int, ...], "block_gate_sequence": [gate, ...],
//               "name": str, "matrix": matrix, "stored_matrix": matrix,
//               "condition": condition, "else_gate_sequence": [gate, ...]}
//   condition = {"bits": [int, ...], "compare": "==" | "!=" | "<" | "<=" | ">" | ">=",
//                "value": int}
//   param    = number | true | false | string | [number | bool | string, ...]
//              | {"array": matrix}
//   matrix   = [[[re, im], ...], ...]
//
// Numbers are JSON numbers or the words Infinity, -Infinity and NaN; numbers beyond
// the range of a double are infinities.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "corvane/backend/qasm/qasm3_errors.hpp"

namespace corvane::qasm3::cli {

// Told by the reader, from time to time, that it does not need the bytes [begin, end)
// of its text for a while (it may read them again, to say where an error is).
using SpareText = std::function<void(std::size_t begin, std::size_t end)>;

// Reads a gate sequence from its JSON form.
//
// Every key is optional except a gate's "id" and "target"; a key whose value is null
// counts as missing. Missing "num_qubits" is 0, missing "gates", "control" and
// "control_state" are empty lists, missing "parameter", "classical_target",
// "block_gate_sequence", "name", "matrix", "stored_matrix", "condition" and
// "else_gate_sequence" are absent (an empty list is present). A condition needs all three
// of its keys; its value is an integer from 0 to 2^64 - 1. Each record read must keep the
// gate model's rules for conditioned records (check_conditioned). Integers stay integers and
// numbers written with a fraction or an exponent are doubles; a parameter integer beyond 64 bits is
// a double too. A "control_state" entry may also be a boolean or a double: true and 1.0 read as 1,
// any other value as 0, which is how the exporter treats every state other than 1. The register
// keys are read into the sequence's register attributes.
//
// Failures: ValueError for text that is not UTF-8 or not JSON ("Invalid JSON: <reason>",
// with its place in the text as the error's location), unknown or missing keys, a key of the
// sequence given twice, a negative "num_qubits", an index or size outside 64 bits and a matrix with
// rows of different lengths, a malformed condition or a record breaking the rules of
// conditioned records (NotImplementedError for a condition on more than 64 bits); TypeError
// for a value of the wrong kind; RecursionError for blocks or else-blocks nested more than
// MAX_NESTING_DEPTH deep. Every message names the place, for example "gates[2].target" or
// "gates[2].condition.compare".
//
// With `record_starts`, reading notes where each record starts (below).
struct RecordStarts;
GateSequence read_gate_sequence_json(std::string_view text, const SpareText& spare = {},
                                     RecordStarts* record_starts = nullptr);

// Where the records of a sequence start in the JSON text it was read from, so that an error
// about one of them can be placed: the byte offset of each record's object, in the order the
// objects start (a record before those of its block and else-block), and the positions (in
// that order, increasing) of the records whose else-block comes before their block.
struct RecordStarts {
  std::vector<std::size_t> offsets;
  std::vector<std::size_t> else_first;
};

// Where the record at `path` (Error::record_path(), through blocks) of `gs` starts in the
// text that `starts` was noted from; nothing for a path that `gs` does not hold.
std::optional<std::size_t> record_start(const GateSequence& gs, const RecordStarts& starts,
                                        std::span<const std::size_t> path);

// The place of byte `offset` of `text`: lines and columns from 1, columns in code points.
Location place_in_text(std::string_view text, std::size_t offset);

// The most characters of the input that a message quotes: a key or a number of any length
// must not make the one line of an error unreadable.
inline constexpr std::size_t EXCERPT_CHARACTERS = 40;
// `piece` of the (valid UTF-8) input as a message shows it, cut after EXCERPT_CHARACTERS
// code points with "..." where it is cut; quoted_excerpt puts it in quotes, the "..."
// inside them.
std::string excerpt(std::string_view piece);
std::string quoted_excerpt(std::string_view piece);

// Told each piece of the text as it is written.
using JsonSink = std::function<void(std::string_view piece)>;

// Writes `gs` in the JSON form, followed by a line feed, in pieces of about a megabyte.
// Each record is written with the keys of the shape the importer builds it in, absent
// values as null:
//   measurement (id "measure" with a classical target): id, target, classical_target, name
//   conditioned ("if" or "while" with a condition): id, target, condition,
//       block_gate_sequence, and for "if" else_gate_sequence
//   block (a block gate sequence is present): id, target, control, control_state,
//       block_gate_sequence, name, matrix
//   recognised generated gate (a matrix, no parameter and an id other than "unitary",
//       whose matrix is its own): id, target, control, control_state, matrix
//   ordinary gate (every other record): id, target, control, control_state, parameter, matrix
// Other attributes of a record (a stored matrix, the name of an ordinary gate) are not
// written. "num_qubits", "gates" and "qasm_quantum_registers" (null when unset) are
// always written; "qasm_classical_registers" and "qasm_measure_map" only when set,
// "qasm_inputs" only when there are free inputs.
// Doubles take their shortest round-trip form ("0.5", "1.0", "1e-05"); infinities and
// NaN, which JSON lacks, are written Infinity, -Infinity and NaN. The key order is
// fixed, so equal sequences give equal text.
//
// Keys that a record of an earlier shape never has are not written for it, so sequences
// without conditions are written as they were before conditions existed.
//
// Nested blocks are written out in full at every use, so shared blocks can multiply the
// text without end. Every failure comes before the first piece: RecursionError for
// blocks nested more than MAX_NESTING_DEPTH deep, and ValueError for a sequence whose
// text would take more than MAX_WRITTEN_BYTES even with every number at its shortest.
void write_gate_sequence_json(const GateSequence& gs, const JsonSink& sink);

// The most text write_gate_sequence_json sets out to write: 2 GiB, twice what the
// largest circuits the library is built for (10^7 gates) take.
inline constexpr std::size_t MAX_WRITTEN_BYTES = std::size_t{1} << 31;

}  // namespace corvane::qasm3::cli
