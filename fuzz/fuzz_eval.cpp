// Runs the parameter-expression evaluator on arbitrary UTF-8 (the importer validates its
// whole text up front, so invalid input is skipped). The evaluator may reject its input with
// one of the converter's errors; anything else (a crash, a sanitizer report, another
// exception) is a finding, and so is a broken invariant: an accepted value is finite, and an
// expression means the same inside parentheses.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "qasm/import/qasm3_eval.hpp"
#include "qasm/text/text.hpp"

namespace {

using corvane::qasm3::detail::eval_param;

void check(bool ok) {
  if (!ok) std::abort();
}

bool same_double(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Wrapping an accepted expression in parentheses keeps its value, unless the extra level
// passes the nesting bound. Plain numbers and texts with comments or line breaks are left
// out: the first may use forms only the plain read accepts ("007"), the others would
// swallow or split the closing parenthesis.
void check_grouping(std::string_view text, double value) {
  const std::string_view trimmed = corvane::qasm3::detail::trim(text);
  if (corvane::qasm3::detail::read_float(trimmed)) return;
  if (trimmed.find_first_of("#\\\n\r") != std::string_view::npos) return;
  try {
    check(same_double(eval_param("(" + std::string(trimmed) + ")"), value));
  } catch (const corvane::qasm3::SyntaxError&) {
    // Only the nesting bound may refuse the wrapped form.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    corvane::qasm3::detail::validate_utf8(text);
  } catch (const corvane::qasm3::ValueError&) {
    return 0;
  }
  try {
    const double value = eval_param(text);
    check(std::isfinite(value));
    check_grouping(text, value);
  } catch (const corvane::qasm3::Error&) {
    // A clean rejection.
  }
  return 0;
}
