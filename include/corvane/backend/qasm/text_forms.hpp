// The forms the converter gives values in text: its messages show text values as quoted
// literals, it writes the numbers of stored matrices in their shortest round-trip form,
// and it reads only well-formed UTF-8. Programs built on the converter (its command-line
// tool among them) use these to show and check values the same way.
#pragma once

#include <string>
#include <string_view>

namespace corvane::qasm3 {

// A text value the way messages show it: 'it''s' style quoting with \\, \', \n, \t,
// \r, \xNN, \uNNNN and \UNNNNNNNN escapes, double quotes when the value holds a
// single quote and no double quote. `text` must be valid UTF-8.
std::string quoted(std::string_view text);

// The shortest round-trip form: shortest digits that read back to the same double,
// positional with at least one fraction digit for exponents -4..15 ("1.0", "0.0001",
// "1000000000000000.0"), otherwise "1e-05", "2.5e-07", "1e+16"; "inf", "-inf", "nan".
void append_shortest(std::string& out, double value);

// Raises ValueError("Input is not valid UTF-8: <reason> at byte <offset>") unless
// `text` is well-formed UTF-8 (no surrogates, no overlong forms).
void validate_utf8(std::string_view text);

// Appends the UTF-8 encoding of the code point `cp` (at most U+10FFFF, no surrogate).
void append_utf8(std::string& out, char32_t cp);

}  // namespace corvane::qasm3
