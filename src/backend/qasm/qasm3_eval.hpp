// The safe evaluator of gate-parameter expressions: numbers, pi, parentheses and
// + - * / only; every other construct is parsed far enough to be rejected by kind.
#pragma once

#include <string_view>

namespace corvane::qasm3::detail {

// Evaluates one parameter text to a finite double (plain numbers take a fast path).
double eval_param(std::string_view expr);

}  // namespace corvane::qasm3::detail
