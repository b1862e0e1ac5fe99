// What every unit of the converter shares: error raising (text_errors.hpp), UTF-8 and
// Unicode classes (text_unicode.hpp), numbers (text_numbers.hpp), and here large buffers,
// comparisons of short texts and the quoted forms of values in messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text_errors.hpp"
#include "text_numbers.hpp"
#include "text_unicode.hpp"

#include "corvane/backend/qasm/text_forms.hpp"

namespace corvane::qasm3::detail {

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
