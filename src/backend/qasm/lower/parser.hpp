// The lowering front end's parser: tokens -> the syntax tree of one program, by
// recursive descent over the grammar of OpenQASM 3 (and the register declarations of
// OpenQASM 2). Nesting of statements and expressions is bounded: past the bound the
// parse fails with RecursionError.
#pragma once

#include <string_view>

#include "lower/syntax.hpp"

namespace corvane::qasm3::detail::lower {

// Parses the whole of `text` (valid UTF-8). Raises ValueError for text that is not a
// program and NotImplementedError for constructs the front end does not lower (pulse-level
// code, `extern`, `opaque`, `switch`, ...); each error carries its place in `text`.
Program parse(std::string_view text);

}  // namespace corvane::qasm3::detail::lower
