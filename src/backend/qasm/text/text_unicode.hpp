// UTF-8 decoding and validation, the Unicode character classes the patterns use, and
// trimming.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "corvane/backend/qasm/text_forms.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ UTF-8
// validate_utf8 and append_utf8 are public (text_forms.hpp).
using qasm3::validate_utf8;

// One decoded code point and the number of bytes it took. Input must be valid UTF-8.
struct CodePoint {
  char32_t value;
  int length;
};
CodePoint decode_at(std::string_view text, std::size_t pos);
// The code point that ends just before `pos` (pos > 0), for looking behind.
CodePoint decode_before(std::string_view text, std::size_t pos);
using qasm3::append_utf8;
// Number of code points in valid UTF-8 text.
std::size_t count_code_points(std::string_view text);

// ------------------------------------------------------------------ Unicode classes
constexpr bool is_ascii(char c) noexcept {
  return static_cast<unsigned char>(c) < 0x80;
}
constexpr bool is_ascii_digit(char32_t cp) noexcept {
  return cp >= '0' && cp <= '9';
}
// Whitespace: \t \n \v \f \r, U+001C..U+001F, space, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool is_space(char32_t cp) noexcept;
// Word character (\w): letters and numbers of any script, and '_'.
bool is_word(char32_t cp) noexcept;
// Decimal digit (\d) of any script.
bool is_digit(char32_t cp) noexcept;
// Value 0..9 of a decimal digit; -1 for anything else.
int digit_value(char32_t cp) noexcept;
// Printable as a quoted literal shows it (not a control, format, surrogate, private-use,
// unassigned or separator character; the ASCII space is printable).
bool is_printable(char32_t cp) noexcept;
// ASCII letter or '_': the first character of an identifier.
constexpr bool is_ident_start(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// Length in bytes of the \w run / \s run / \d run starting at byte `pos`.
std::size_t word_run(std::string_view text, std::size_t pos) noexcept;
std::size_t space_run(std::string_view text, std::size_t pos) noexcept;
std::size_t digit_run(std::string_view text, std::size_t pos) noexcept;
// Whether there is a \b word boundary at byte `pos` (between the code point before it
// and the one at it, the text ends counting as non-word).
bool at_word_boundary(std::string_view text, std::size_t pos) noexcept;
// Whether `text` is an identifier: an ASCII letter or '_', then \w characters.
bool is_identifier(std::string_view text) noexcept;

// ------------------------------------------------------------------ trimming
std::string_view trim_both_ends(std::string_view text) noexcept;
// Program text is almost entirely ASCII and most pieces need no trimming at all, so
// that case is decided inline before the Unicode-aware scan.
inline std::string_view trim(std::string_view text) noexcept {
  const auto visible = [](char c) { return c > ' ' && c < '\x7f'; };
  if (!text.empty() && visible(text.front()) && visible(text.back())) return text;
  return trim_both_ends(text);
}
std::string_view trim_left(std::string_view text) noexcept;
std::string_view trim_right(std::string_view text) noexcept;

}  // namespace corvane::qasm3::detail
