// The gate libraries a program may include without the file being present:
// "stdgates.inc" of OpenQASM 3 and "qelib1.inc" of OpenQASM 2.
#pragma once

#include <optional>
#include <string_view>

namespace corvane::qasm3::detail::lower {

// The OpenQASM text of a built-in include (its gate definitions, exactly as the
// library defines them, global phases included); empty for any other name.
std::optional<std::string_view> library_source(std::string_view include_name);

}  // namespace corvane::qasm3::detail::lower
