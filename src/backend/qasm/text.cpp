#include "text.hpp"

namespace corvane::qasm3::detail {

void raise_value_error(std::string message) { throw ValueError(message); }
void raise_not_implemented(std::string message) { throw NotImplementedError(message); }
void raise_runtime_error(std::string message) { throw RuntimeError(message); }
void raise_type_error(std::string message) { throw TypeError(message); }
void raise_syntax_error(std::string message) { throw SyntaxError(message); }
void raise_zero_division(std::string message) { throw ZeroDivisionError(message); }
void raise_overflow(std::string message) { throw OverflowError(message); }
void raise_recursion_error(std::string message) { throw RecursionError(message); }

DepthGuard::DepthGuard(int& depth) : depth_(depth) {
  if (++depth_ > kMaxNestingDepth) {
    --depth_;
    raise_recursion_error(std::string(kRecursionMessage));
  }
}

}  // namespace corvane::qasm3::detail
