// Raising errors and where they are.
#include "qasm/text/text_errors.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

#include "qasm/text/text_unicode.hpp"

namespace corvane::qasm3::detail {

void raise_value_error(const std::string& message) {
  throw ValueError(message);
}
void raise_not_implemented(const std::string& message) {
  throw NotImplementedError(message);
}
void raise_runtime_error(const std::string& message) {
  throw RuntimeError(message);
}
void raise_type_error(const std::string& message) {
  throw TypeError(message);
}
void raise_syntax_error(const std::string& message) {
  throw SyntaxError(message);
}
void raise_zero_division(const std::string& message) {
  throw ZeroDivisionError(message);
}
void raise_overflow(const std::string& message) {
  throw OverflowError(message);
}
void raise_recursion_error(const std::string& message) {
  throw RecursionError(message);
}

void raise_like(const Error& error, const std::string& message) {
  static constexpr std::pair<std::string_view, void (*)(const std::string&)> RAISERS[] = {
      {"NotImplementedError", raise_not_implemented},
      {"RuntimeError", raise_runtime_error},
      {"TypeError", raise_type_error},
      {"SyntaxError", raise_syntax_error},
      {"ZeroDivisionError", raise_zero_division},
      {"OverflowError", raise_overflow},
      {"RecursionError", raise_recursion_error},
  };
  for (const auto& [kind, raise] : RAISERS) {
    if (kind == error.kind()) raise(message);
  }
  raise_value_error(message);
}

Location locate(std::string_view text, std::size_t offset) noexcept {
  offset = std::min(offset, text.size());
  const std::string_view before = text.substr(0, offset);
  const std::size_t last_newline = before.rfind('\n');
  const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
  const auto line_breaks = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  return Location{line_breaks + 1, count_code_points(before.substr(line_start)) + 1, offset};
}

}  // namespace corvane::qasm3::detail
