// lower_qasm3 with a bound of the caller's own on the statements it writes, for callers
// that must stay cheap on any input (the fuzz target stops a loop that never ends long
// before the public bound).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "corvane/backend/qasm/qasm3.hpp"

namespace corvane::qasm3::detail::lower {

// Exactly what lower_qasm3 does, writing at most `max_statements` (loop passes counted
// too); past it, ValueError.
std::string lower_program(std::string_view program, const LowerOptions& options,
                          std::size_t max_statements);

}  // namespace corvane::qasm3::detail::lower
