// Numbers as messages and program text show them, and as program text writes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "corvane/backend/qasm/text_forms.hpp"

namespace corvane::qasm3::detail {

// Sum of two counts, held at UINT64_MAX instead of wrapping: past 2^63 no int64 index
// can reach, so the exact value no longer matters.
constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
  return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

// ------------------------------------------------------------------ numbers
void append_int(std::string& out, std::int64_t value);
std::string int_text(std::int64_t value);
// The ".15g" form: at most 15 significant digits, positional for exponents -4..14,
// otherwise d.ddde+XX; trailing zeros dropped; "inf", "-inf", "nan", "-0".
void append_g15(std::string& out, double value);
std::string g15(double value);
// The shortest round-trip form (text_forms.hpp).
using qasm3::append_shortest;
std::string shortest(double value);

// Reads the whole of `text` as a floating-point number the way Python's float() does:
// surrounding whitespace, optional sign, digits (any script) with single underscores
// between digits, optional fraction and exponent, or inf / infinity / nan in any case.
// Overflow gives an infinity. Returns nothing when the text is not such a number.
std::optional<double> read_float(std::string_view text);

// Reads a run of decimal digits (any script, by value) as a non-negative integer;
// nothing when it does not fit in std::int64_t.
std::optional<std::int64_t> read_decimal_digits(std::string_view digits);

}  // namespace corvane::qasm3::detail
