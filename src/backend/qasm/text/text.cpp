#include "qasm/text/text.hpp"

#include <cstdint>

namespace corvane::qasm3 {
namespace detail {

// ------------------------------------------------------------------ message values

namespace {

void append_hex_escape(std::string& out, char kind, char32_t cp, int digits) {
  static constexpr char HEX_DIGITS[] = "0123456789abcdef";
  out += '\\';
  out += kind;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out += HEX_DIGITS[(cp >> shift) & 0xF];
}

// One character of a quoted literal: the quote and the backslash escaped, \t \n \r by
// letter, a printable one as it is, any other by its hexadecimal value.
void append_escaped(std::string& out, char32_t cp, char quote, bool printable) {
  if (cp == static_cast<char32_t>(quote) || cp == '\\') {
    out += '\\';
    out += static_cast<char>(cp);
  } else if (cp == '\t') {
    out += "\\t";
  } else if (cp == '\n') {
    out += "\\n";
  } else if (cp == '\r') {
    out += "\\r";
  } else if (printable) {
    append_utf8(out, cp);
  } else if (cp <= 0xFF) {
    append_hex_escape(out, 'x', cp, 2);
  } else if (cp <= 0xFFFF) {
    append_hex_escape(out, 'u', cp, 4);
  } else {
    append_hex_escape(out, 'U', cp, 8);
  }
}

// Double quotes when the value holds a single quote and no double quote.
char literal_quote(std::string_view value) noexcept {
  const bool has_single = value.find('\'') != std::string_view::npos;
  const bool has_double = value.find('"') != std::string_view::npos;
  return has_single && !has_double ? '"' : '\'';
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
  const char quote = literal_quote(text);
  out += quote;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const CodePoint cp = decode_at(text, pos);
    append_escaped(out, cp.value, quote, is_printable(cp.value));
    pos += static_cast<std::size_t>(cp.length);
  }
  out += quote;
}

std::string bytes_literal(std::string_view bytes) {
  const char quote = literal_quote(bytes);
  std::string out = "b";
  out += quote;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    append_escaped(out, c, quote, c >= 0x20 && c < 0x7F);
  }
  out += quote;
  return out;
}

}  // namespace detail

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  detail::append_quoted(out, text);
  return out;
}

namespace detail {

namespace {

template <class Items>
std::string bracketed_items(const Items& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    append_quoted(out, items[i]);
  }
  out += ']';
  return out;
}

}  // namespace

std::string bracketed(const std::vector<std::string_view>& items) {
  return bracketed_items(items);
}
std::string bracketed(const std::vector<std::string>& items) {
  return bracketed_items(items);
}

}  // namespace detail
}  // namespace corvane::qasm3
