// What every unit of the converter shares: error raising (text_errors.hpp), UTF-8 and
// Unicode classes (text_unicode.hpp), numbers (text_numbers.hpp), large buffers
// (common/buffers.hpp), and here comparisons of short texts and the quoted forms of values in
// messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/buffers.hpp"
#include "qasm/text/text_errors.hpp"
#include "qasm/text/text_numbers.hpp"
#include "qasm/text/text_unicode.hpp"

#include "corvane/backend/qasm/text_forms.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ short texts
// Equality and order of short texts (names, keywords) without a library call, which
// for a few bytes costs more than the comparison itself.
inline bool same_text(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}
// Whether `c` is one of the few characters of `set`.
inline bool is_one_of(char c, std::string_view set) noexcept {
  for (const char member : set) {
    if (member == c) return true;
  }
  return false;
}
inline bool text_less(std::string_view a, std::string_view b) noexcept {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
  }
  return a.size() < b.size();
}
inline bool starts_with_text(std::string_view text, std::string_view prefix) noexcept {
  return text.size() >= prefix.size() && same_text(text.substr(0, prefix.size()), prefix);
}

// ------------------------------------------------------------------ message values
// A text value the way messages show it (text_forms.hpp).
using qasm3::quoted;
void append_quoted(std::string& out, std::string_view text);
// A bytes value the way messages show it: b'...' with \\, the quote, \t, \n, \r and \xNN
// escapes, quoted as above.
std::string bytes_literal(std::string_view bytes);
// ['a', 'b'] for a sequence of texts; [] when empty.
std::string bracketed(const std::vector<std::string_view>& items);
std::string bracketed(const std::vector<std::string>& items);

}  // namespace corvane::qasm3::detail
