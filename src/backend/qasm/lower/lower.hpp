// lower_qasm3 with a bound of the caller's own on the statements it writes, for callers
// that must stay cheap on any input (the fuzz target stops a loop that never ends long
// before the public bound), and the bound the public functions use.
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

// The program's statements as the bound counts them: its semicolons outside comments.
// A cheap upper estimate (a semicolon in a string counts too), read in one pass.
std::size_t count_statements(std::string_view program);

// The bound on lowered statements for `program`: options.max_statements where it is set,
// else MAX_LOWERED_STATEMENTS or 16 for each of the program's statements, the larger.
std::size_t statement_bound(std::string_view program, const LowerOptions& options);

}  // namespace corvane::qasm3::detail::lower
