// The free inputs a sequence lists (GateSequence::qasm_inputs) as declarations of a
// program: what binding evaluates its text parameters in, and what the exporter writes
// so that its program reads back with the same free parameters.
#pragma once

#include <string>

#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::qasm3::detail {

// Appends `input TYPE NAME;` and a line break. ValueError unless the name is a name and
// the type a float or angle type (`float`, `angle`, either with a width in brackets), so
// that a sequence read from elsewhere cannot declare anything else.
void append_input_declaration(std::string& out, const InputDecl& input);

}  // namespace corvane::qasm3::detail
