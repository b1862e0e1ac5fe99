// The exporter's full_language mode: what it writes beyond the gate subset that the fixed
// importer reads (conditions, resets, explicit matrices of any record, numbers that read
// back exactly), for the language path to read back record for record, and the refusals
// of what would not read back. Statement emission applies these rules; the messages are
// made here, each in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "qasm/export/qasm3_export.hpp"

namespace corvane::qasm3::detail {

// The number of parameters a statement of the OpenQASM name `name` takes, as the exporter
// writes it: the standard gates' own counts, 1 for "rzz" (written as two "cx" around an
// "rz"), 0 for every other name (definitions the program writes take none).
int parameters_taken(std::string_view name) noexcept;

// ValueError unless the record's parameter reads back as `takes` values: the count of
// values it holds (absent none, a list its entries, anything else one) equals `takes`,
// every text among them is one expression, and an array is a single real number.
void check_parameters(const QuantumGate& g, int takes);

// ValueError unless the record has one control state per control: the modifiers are
// written from the states, so the controls beyond them would be read back as targets.
void check_control_states(const QuantumGate& g);

// Whether `text` can stand as one value of a parameter list: something besides blanks,
// brackets that pair up, and no comma outside them, no `;`, `{` or `}`, no line break and
// no comment, any of which would end the value or the statement elsewhere than it does.
bool is_one_expression(std::string_view text) noexcept;

// ValueError unless `m` is what a `unitary` statement on `targets` qubits reads back as:
// finite entries, 2^targets rows and as many columns.
void check_unitary_matrix(const Matrix& m, std::size_t targets);

// ValueError unless every name declares: an identifier (an ASCII letter or '_' first),
// no reserved word, and each name once among the qubit and bit registers.
void check_register_names(const RegisterViews& quantum, const RegisterViews& classical);
// ValueError for a register named as a gate definition the program needs, which a reader
// could not tell apart.
void check_names_against_definitions(const RegisterViews& quantum, const RegisterViews& classical,
                                     const Qasm3Ctx& ctx);

// Appends `input TYPE NAME;` for each free input, so that the text parameters naming them
// read back as the same free parameters. ValueError for what would not declare: a name or
// type that append_input_declaration refuses, a reserved word, a name given twice or
// also given to a register or a gate definition the program needs.
void append_free_inputs(std::string& out, const std::vector<InputDecl>& inputs,
                        const RegisterViews& quantum, const RegisterViews& classical,
                        const Qasm3Ctx& ctx);

// Appends what `tested` reads and how it compares, over the program's bit registers:
// `c == 5` for all bits of register c, `c[2] == 1` for one bit, `c[1:3] >= 2` for a run of
// one register's bits, first bit least significant. ValueError for any other set of bits,
// and as the registers raise for a bit outside them.
void append_condition(std::string& out, const Condition& tested, const RegisterIndexer& bits);

// ValueError for a statement of the record `gid` that would name qubit `qubit` (as the
// program numbers its qubits, or a definition its arguments) twice.
[[noreturn]] void raise_repeated_operand(std::int64_t qubit, std::string_view gid);

// NotImplementedError for a record that inherits controls from an enclosing block but
// cannot be controlled: a conditioned record or a reset.
[[noreturn]] void raise_controlled(std::string_view gid);

}  // namespace corvane::qasm3::detail
