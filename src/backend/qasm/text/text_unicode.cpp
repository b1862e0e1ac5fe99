// UTF-8, Unicode character classes and trimming.
#include "qasm/text/text_unicode.hpp"

#include <utf8proc.h>

#include <array>
#include <bit>
#include <cstring>

#include "qasm/text/text_errors.hpp"
#include "qasm/text/text_numbers.hpp"

namespace corvane::qasm3 {
namespace detail {

// ------------------------------------------------------------------ UTF-8

namespace {

constexpr bool is_continuation(unsigned char b) noexcept {
  return (b & 0xC0) == 0x80;
}

// Whether all eight bytes of a little block are ASCII.
bool block_is_ascii(const char* p) noexcept {
  std::uint64_t word = 0;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080ULL) == 0;
}

// Length of the ASCII prefix of text[pos..], found eight bytes at a time.
std::size_t ascii_run(std::string_view text, std::size_t pos) noexcept {
  const std::size_t start = pos;
  while (pos + 32 <= text.size()) {
    const char* p = text.data() + pos;
    std::uint64_t a = 0, b = 0, c = 0, d = 0;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + 8, 8);
    std::memcpy(&c, p + 16, 8);
    std::memcpy(&d, p + 24, 8);
    if (((a | b | c | d) & 0x8080808080808080ULL) != 0) break;
    pos += 32;
  }
  while (pos + 8 <= text.size() && block_is_ascii(text.data() + pos))
    pos += 8;
  while (pos < text.size() && is_ascii(text[pos]))
    ++pos;
  return pos - start;
}

// The error's place is the byte the message names: where the faulty sequence starts.
[[noreturn]] void raise_invalid_utf8(std::string_view text, std::string_view reason,
                                     std::size_t offset) {
  std::string message = "Input is not valid UTF-8: ";
  message += reason;
  message += " at byte ";
  append_int(message, static_cast<std::int64_t>(offset));
  raise_at(text, offset, raise_value_error, message);
}

// The length of the sequence a lead byte announces (0 when it announces none) and the
// value bits it carries.
struct LeadByte {
  int length;
  char32_t bits;
};
constexpr LeadByte lead_byte(unsigned char lead) noexcept {
  if (lead >= 0xC0 && lead <= 0xDF) return {2, lead & 0x1Fu};
  if (lead >= 0xE0 && lead <= 0xEF) return {3, lead & 0x0Fu};
  if (lead >= 0xF0 && lead <= 0xF7) return {4, lead & 0x07u};
  return {0, 0};
}

// Smallest code point that needs a sequence of each length; anything less is overlong.
constexpr std::array<char32_t, 5> SHORTEST_FOR_LENGTH = {0, 0, 0x80, 0x800, 0x10000};

// Checks the multi-byte sequence that starts at `pos`; returns its length.
std::size_t check_sequence(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  const LeadByte shape = lead_byte(lead);
  if (shape.length == 0) {
    raise_invalid_utf8(
        text, is_continuation(lead) ? "unexpected continuation byte" : "invalid start byte", pos);
  }
  const auto length = static_cast<std::size_t>(shape.length);
  char32_t value = shape.bits;
  for (std::size_t i = 1; i < length; ++i) {
    if (pos + i >= text.size()) raise_invalid_utf8(text, "truncated sequence", pos);
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if (!is_continuation(b)) raise_invalid_utf8(text, "truncated sequence", pos);
    value = (value << 6) | (b & 0x3F);
  }
  if (value < SHORTEST_FOR_LENGTH[length]) raise_invalid_utf8(text, "overlong encoding", pos);
  if (value >= 0xD800 && value <= 0xDFFF) raise_invalid_utf8(text, "surrogate code point", pos);
  if (value > 0x10FFFF) raise_invalid_utf8(text, "code point above U+10FFFF", pos);
  return length;
}

}  // namespace

}  // namespace detail

void validate_utf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    pos += detail::ascii_run(text, pos);
    if (pos < text.size()) pos += detail::check_sequence(text, pos);
  }
}

namespace detail {

// Tolerates malformed input (a stray byte decodes as U+FFFD of length 1) so that a
// caller that skipped validation can never read past the end of the text.
CodePoint decode_at(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) return {lead, 1};
  const LeadByte shape = lead_byte(lead);
  const int length = shape.length;
  if (length == 0 || pos + static_cast<std::size_t>(length) > text.size()) return {0xFFFD, 1};
  char32_t value = shape.bits;
  for (int i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i)]);
    if (!is_continuation(b)) return {0xFFFD, 1};
    value = (value << 6) | (b & 0x3F);
  }
  return {value, length};
}

CodePoint decode_before(std::string_view text, std::size_t pos) {
  std::size_t start = pos - 1;
  while (start > 0 && pos - start < 4 && is_continuation(static_cast<unsigned char>(text[start]))) {
    --start;
  }
  const CodePoint cp = decode_at(text, start);
  if (start + static_cast<std::size_t>(cp.length) != pos) return {0xFFFD, 1};
  return cp;
}

}  // namespace detail

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace detail {

std::size_t count_code_points(std::string_view text) {
  std::size_t count = 0;
  for (char c : text)
    count += is_continuation(static_cast<unsigned char>(c)) ? 0 : 1;
  return count;
}

// ------------------------------------------------------------------ Unicode classes

namespace {

utf8proc_category_t category_of(char32_t cp) noexcept {
  return utf8proc_category(static_cast<utf8proc_int32_t>(cp));
}

// The classes restricted to ASCII, for the fast paths.
constexpr bool is_ascii_word(char32_t cp) noexcept {
  return is_ascii_digit(cp) || (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || cp == '_';
}
constexpr bool is_ascii_space(char32_t cp) noexcept {
  return (cp >= 0x09 && cp <= 0x0D) || (cp >= 0x1C && cp <= 0x20);
}

}  // namespace

bool is_space(char32_t cp) noexcept {
  if (cp < 0x80) return is_ascii_space(cp);
  switch (cp) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

bool is_word(char32_t cp) noexcept {
  if (cp < 0x80) return is_ascii_word(cp);
  switch (category_of(cp)) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
      return true;
    default:
      return false;
  }
}

bool is_digit(char32_t cp) noexcept {
  if (cp < 0x80) return is_ascii_digit(cp);
  return category_of(cp) == UTF8PROC_CATEGORY_ND;
}

// Decimal digits are encoded in contiguous runs of ten, zero to nine, possibly several
// runs back to back; the value is the distance from the start of the run, modulo ten.
int digit_value(char32_t cp) noexcept {
  if (cp < 0x80) return is_ascii_digit(cp) ? static_cast<int>(cp - '0') : -1;
  if (!is_digit(cp)) return -1;
  int offset = 0;
  while (is_digit(cp - 1 - static_cast<char32_t>(offset)))
    ++offset;
  return offset % 10;
}

bool is_printable(char32_t cp) noexcept {
  if (cp < 0x80) return cp >= 0x20 && cp < 0x7F;
  switch (category_of(cp)) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
    case UTF8PROC_CATEGORY_ZS:
      return false;
    default:
      return true;
  }
}

namespace {

// Length in bytes of the run of code points satisfying `in_class`, with an ASCII fast path.
template <class AsciiTest, class Test>
std::size_t class_run(std::string_view text, std::size_t pos, AsciiTest ascii_test,
                      Test in_class) noexcept {
  const std::size_t start = pos;
  while (pos < text.size()) {
    const char c = text[pos];
    if (is_ascii(c)) {
      if (!ascii_test(static_cast<char32_t>(c))) break;
      ++pos;
      continue;
    }
    const CodePoint cp = decode_at(text, pos);
    if (!in_class(cp.value)) break;
    pos += static_cast<std::size_t>(cp.length);
  }
  return pos - start;
}

}  // namespace

std::size_t word_run(std::string_view text, std::size_t pos) noexcept {
  return class_run(text, pos, is_ascii_word, is_word);
}

std::size_t space_run(std::string_view text, std::size_t pos) noexcept {
  return class_run(text, pos, is_ascii_space, is_space);
}

std::size_t digit_run(std::string_view text, std::size_t pos) noexcept {
  return class_run(text, pos, is_ascii_digit, is_digit);
}

bool at_word_boundary(std::string_view text, std::size_t pos) noexcept {
  const bool word_before = pos > 0 && pos <= text.size() && is_word(decode_before(text, pos).value);
  const bool word_after = pos < text.size() && is_word(decode_at(text, pos).value);
  return word_before != word_after;
}

bool is_identifier(std::string_view text) noexcept {
  return !text.empty() && is_ident_start(text[0]) && 1 + word_run(text, 1) == text.size();
}

// ------------------------------------------------------------------ trimming

std::string_view trim_left(std::string_view text) noexcept {
  return text.substr(space_run(text, 0));
}

std::string_view trim_right(std::string_view text) noexcept {
  std::size_t end = text.size();
  while (end > 0) {
    const char c = text[end - 1];
    if (is_ascii(c)) {
      if (!is_ascii_space(static_cast<char32_t>(c))) break;
      --end;
      continue;
    }
    const CodePoint cp = decode_before(text, end);
    if (!is_space(cp.value)) break;
    end -= static_cast<std::size_t>(cp.length);
  }
  return text.substr(0, end);
}

std::string_view trim_both_ends(std::string_view text) noexcept {
  std::size_t begin = 0;
  while (begin < text.size() && is_ascii_space(static_cast<unsigned char>(text[begin])))
    ++begin;
  std::size_t end = text.size();
  while (end > begin && is_ascii_space(static_cast<unsigned char>(text[end - 1])))
    --end;
  text = text.substr(begin, end - begin);
  // Only a non-ASCII character at either end can be more whitespace.
  if (!text.empty() && (!is_ascii(text.front()) || !is_ascii(text.back()))) {
    return trim_right(trim_left(text));
  }
  return text;
}

}  // namespace detail
}  // namespace corvane::qasm3
