// What every unit of the converter shares: error raising, UTF-8 and Unicode classes,
// trimming, quoted literals, and reading and writing numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/qasm/qasm3.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ errors
// One helper per error kind, so messages are built at the call site and thrown here.
[[noreturn]] void raise_value_error(const std::string& message);
[[noreturn]] void raise_not_implemented(const std::string& message);
[[noreturn]] void raise_runtime_error(const std::string& message);
[[noreturn]] void raise_type_error(const std::string& message);
[[noreturn]] void raise_syntax_error(const std::string& message);
[[noreturn]] void raise_zero_division(const std::string& message);
[[noreturn]] void raise_overflow(const std::string& message);
[[noreturn]] void raise_recursion_error(const std::string& message);

// The line and column of byte `offset` of `text` (clamped to its size). Lines end at
// '\n' (so "\r\n" ends one line too); columns count code points, counting any byte
// that does not continue a UTF-8 sequence as one, so invalid text has places too.
Location locate(std::string_view text, std::size_t offset) noexcept;

// Deepest nesting of blocks, definition calls and the like that any recursive pass
// follows; one level deeper fails with RecursionError(RECURSION_MESSAGE).
inline constexpr int MAX_NESTING_DEPTH = 1000;
inline constexpr std::string_view RECURSION_MESSAGE = "maximum recursion depth exceeded";

// Counts one level of recursion for as long as it lives; past MAX_NESTING_DEPTH, or when
// the thread's stack is nearly used up, it raises RecursionError instead of letting the
// stack run out.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth);
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  ~DepthGuard() { --depth_; }

 private:
  int& depth_;
};

// ------------------------------------------------------------------ large buffers
// Asks the kernel to back [buffer, buffer + bytes) with 2 MiB pages where it is large
// enough. A buffer of tens of megabytes that is about to be filled for the first time
// then costs a handful of page faults instead of thousands, which on virtual machines
// is most of the time spent on it. Only a hint: nothing depends on it being followed.
void advise_huge_pages(const void* buffer, std::size_t bytes) noexcept;

// Reserves room for `count` elements of a buffer about to be filled, with the hint above.
template <class Buffer>
void reserve_for_filling(Buffer& buffer, std::size_t count) {
  buffer.reserve(count);
  advise_huge_pages(buffer.data(), count * sizeof(*buffer.data()));
}

// ------------------------------------------------------------------ UTF-8
// Raises ValueError("Input is not valid UTF-8: <reason> at byte <offset>") unless
// `text` is well-formed UTF-8 (no surrogates, no overlong forms).
void validate_utf8(std::string_view text);

// One decoded code point and the number of bytes it took. Input must be valid UTF-8.
struct CodePoint {
  char32_t value;
  int length;
};
CodePoint decode_at(std::string_view text, std::size_t pos);
// The code point that ends just before `pos` (pos > 0), for looking behind.
CodePoint decode_before(std::string_view text, std::size_t pos);
void append_utf8(std::string& out, char32_t cp);
// Number of code points in valid UTF-8 text.
std::size_t count_code_points(std::string_view text);

// ------------------------------------------------------------------ Unicode classes
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
// Equality and order of short texts (names, keywords) without a library call, which
// for a few bytes costs more than the comparison itself.
inline bool same_text(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
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

// ------------------------------------------------------------------ message values
// A text value the way messages show it: 'it''s' style quoting with \\, \', \n, \t,
// \r, \xNN, \uNNNN and \UNNNNNNNN escapes, double quotes when the value holds a
// single quote and no double quote.
std::string quoted(std::string_view text);
void append_quoted(std::string& out, std::string_view text);
// ['a', 'b'] for a sequence of texts; [] when empty.
std::string bracketed(const std::vector<std::string_view>& items);
std::string bracketed(const std::vector<std::string>& items);

// ------------------------------------------------------------------ numbers
void append_int(std::string& out, std::int64_t value);
std::string int_text(std::int64_t value);
// The ".15g" form: at most 15 significant digits, positional for exponents -4..14,
// otherwise d.ddde+XX; trailing zeros dropped; "inf", "-inf", "nan", "-0".
void append_g15(std::string& out, double value);
std::string g15(double value);
// The shortest round-trip form: shortest digits that read back to the same double,
// positional with at least one fraction digit for exponents -4..15 ("1.0", "0.0001",
// "1000000000000000.0"), otherwise "1e-05", "2.5e-07", "1e+16"; "inf", "-inf", "nan".
void append_shortest(std::string& out, double value);
std::string shortest(double value);

// Reads the whole of `text` as a floating-point number the way the host's float() does:
// surrounding whitespace, optional sign, digits (any script) with single underscores
// between digits, optional fraction and exponent, or inf / infinity / nan in any case.
// Overflow gives an infinity. Returns nothing when the text is not such a number.
std::optional<double> read_float(std::string_view text);

// Reads a run of decimal digits (any script, by value) as a non-negative integer;
// nothing when it does not fit in std::int64_t.
std::optional<std::int64_t> read_decimal_digits(std::string_view digits);

}  // namespace corvane::qasm3::detail
