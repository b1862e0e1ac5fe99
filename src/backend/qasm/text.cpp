#include "text.hpp"

#include <pthread.h>
#include <sys/mman.h>

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>

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

Location locate(std::string_view text, std::size_t offset) noexcept {
  offset = std::min(offset, text.size());
  const std::string_view before = text.substr(0, offset);
  const std::size_t last_newline = before.rfind('\n');
  const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
  const auto line_breaks = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  return Location{line_breaks + 1, count_code_points(before.substr(line_start)) + 1, offset};
}

namespace {

// The lowest usable address of the calling thread's stack, or 0 when it is unknown.
std::uintptr_t stack_floor() noexcept {
  thread_local const std::uintptr_t floor = [] {
    std::uintptr_t low = 0;
#if defined(__linux__)
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      void* addr = nullptr;
      std::size_t size = 0;
      if (pthread_attr_getstack(&attr, &addr, &size) == 0) {
        low = reinterpret_cast<std::uintptr_t>(addr);
      }
      pthread_attr_destroy(&attr);
    }
#endif
    return low;
  }();
  return floor;
}

// Whether the stack below the caller is too short for another level of recursion.
// Frames differ widely between builds (sanitizers multiply them) and threads may have
// small stacks, so the level count alone cannot promise that the stack suffices.
bool stack_nearly_exhausted() noexcept {
  constexpr std::uintptr_t STACK_RESERVE = std::uintptr_t{256} << 10U;
  const std::uintptr_t floor = stack_floor();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  return floor != 0 && here > floor && here - floor < STACK_RESERVE;
}

}  // namespace

DepthGuard::DepthGuard(int& depth) : depth_(depth) {
  if (++depth_ > MAX_NESTING_DEPTH || stack_nearly_exhausted()) {
    --depth_;
    raise_recursion_error(std::string(RECURSION_MESSAGE));
  }
}

// ------------------------------------------------------------------ large buffers

void advise_huge_pages([[maybe_unused]] const void* buffer,
                       [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20U;
  const auto begin = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (begin + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  const std::uintptr_t last = (begin + bytes) & ~(HUGE_PAGE - 1);
  if (last > first) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // NOLINT
  }
#endif
}

// ------------------------------------------------------------------ UTF-8

namespace {

constexpr bool is_ascii(char c) noexcept {
  return static_cast<unsigned char>(c) < 0x80;
}
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
  ValueError error(message);
  error.set_location_once(locate(text, offset));
  throw error;
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

void validate_utf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    pos += ascii_run(text, pos);
    if (pos < text.size()) pos += check_sequence(text, pos);
  }
}

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
constexpr bool is_ascii_digit(char32_t cp) noexcept {
  return cp >= '0' && cp <= '9';
}
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

// ------------------------------------------------------------------ message values

namespace {

void append_hex_escape(std::string& out, char kind, char32_t cp, int digits) {
  static constexpr char HEX_DIGITS[] = "0123456789abcdef";
  out += '\\';
  out += kind;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out += HEX_DIGITS[(cp >> shift) & 0xF];
}

void append_escaped(std::string& out, char32_t cp, char quote) {
  if (cp == static_cast<char32_t>(quote) || cp == '\\') {
    out += '\\';
    out += static_cast<char>(cp);
  } else if (cp == '\t') {
    out += "\\t";
  } else if (cp == '\n') {
    out += "\\n";
  } else if (cp == '\r') {
    out += "\\r";
  } else if (is_printable(cp)) {
    append_utf8(out, cp);
  } else if (cp <= 0xFF) {
    append_hex_escape(out, 'x', cp, 2);
  } else if (cp <= 0xFFFF) {
    append_hex_escape(out, 'u', cp, 4);
  } else {
    append_hex_escape(out, 'U', cp, 8);
  }
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
  const bool has_single = text.find('\'') != std::string_view::npos;
  const bool has_double = text.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  out += quote;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const CodePoint cp = decode_at(text, pos);
    append_escaped(out, cp.value, quote);
    pos += static_cast<std::size_t>(cp.length);
  }
  out += quote;
}

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  append_quoted(out, text);
  return out;
}

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

// ------------------------------------------------------------------ numbers

void append_int(std::string& out, std::int64_t value) {
  std::array<char, 24> buf{};
  const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  out.append(buf.data(), result.ptr);
}

std::string int_text(std::int64_t value) {
  std::string out;
  append_int(out, value);
  return out;
}

namespace {

// The significant digits (without leading or trailing zeros) and the decimal exponent
// of the first one: value = 0.d1d2d3... * 10^(exponent + 1).
struct DecimalDigits {
  std::array<char, 32> digits{};
  int count = 0;
  int exponent = 0;
};

// Splits the scientific form "d[.ddd]e[+-]XX" that std::to_chars writes.
DecimalDigits split_scientific(const char* first, const char* last) {
  DecimalDigits d;
  const char* p = first;
  for (; p != last && *p != 'e'; ++p) {
    if (*p != '.') d.digits[static_cast<std::size_t>(d.count++)] = *p;
  }
  while (d.count > 1 && d.digits[static_cast<std::size_t>(d.count - 1)] == '0')
    --d.count;
  ++p;  // 'e'
  const bool negative = *p == '-';
  ++p;
  std::from_chars(p, last, d.exponent);
  if (negative) d.exponent = -d.exponent;
  return d;
}

// Writes digits in the host's float layout: positional when the exponent lies in
// [-4, positional_limit), otherwise d.ddde+XX with at least two exponent digits.
void append_layout(std::string& out, const DecimalDigits& d, int positional_limit,
                   bool force_fraction) {
  const std::string_view digits(d.digits.data(), static_cast<std::size_t>(d.count));
  if (d.exponent >= -4 && d.exponent < positional_limit) {
    if (d.exponent < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
      out += digits;
      return;
    }
    const auto int_digits = static_cast<std::size_t>(d.exponent) + 1;
    if (digits.size() <= int_digits) {
      out += digits;
      out.append(int_digits - digits.size(), '0');
      if (force_fraction) out += ".0";
    } else {
      out += digits.substr(0, int_digits);
      out += '.';
      out += digits.substr(int_digits);
    }
    return;
  }
  out += digits[0];
  if (digits.size() > 1) {
    out += '.';
    out += digits.substr(1);
  }
  out += d.exponent < 0 ? "e-" : "e+";
  const int magnitude = d.exponent < 0 ? -d.exponent : d.exponent;
  if (magnitude < 10) out += '0';
  append_int(out, magnitude);
}

// "inf", "-inf" and "nan" (a NaN's sign is not shown); false for finite values.
bool append_non_finite(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "nan";
    return true;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

template <class... Precision>
void append_formatted(std::string& out, double value, int positional_limit, bool force_fraction,
                      Precision... precision) {
  if (append_non_finite(out, value)) return;
  if (std::signbit(value)) out += '-';
  std::array<char, 40> buf{};
  const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value),
                                    std::chars_format::scientific, precision...);
  append_layout(out, split_scientific(buf.data(), result.ptr), positional_limit, force_fraction);
}

// The 15 significant digits of a value in [1e-4, 1e14), the magnitudes gate parameters
// have, found with integers: the value is m * 2^-s exactly, so floor(value * 10^k) is
// (m * 10^k) >> s, and the bits shifted out decide the rounding, ties to even as in
// std::to_chars. Several times faster than the general conversion, which the other
// magnitudes keep. Nothing for values outside the range.
std::optional<DecimalDigits> g15_digits_of_common_magnitude(double value) {
  if (!(value >= 1e-4 && value < 1e14)) return std::nullopt;
  __extension__ using Wide = unsigned __int128;
  constexpr std::array<std::uint64_t, 20> POW10 = [] {
    std::array<std::uint64_t, 20> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i)
      p[i] = p[i - 1] * 10;
    return p;
  }();
  constexpr std::uint64_t TEN_TO_14 = 100'000'000'000'000;    // 10^14
  constexpr std::uint64_t TEN_TO_15 = 1'000'000'000'000'000;  // 10^15
  constexpr std::uint64_t HIDDEN_BIT = std::uint64_t{1} << 52U;

  const auto bits = std::bit_cast<std::uint64_t>(value);
  const auto biased = static_cast<int>(bits >> 52U);  // positive and normal in this range
  const std::uint64_t mantissa = (bits & (HIDDEN_BIT - 1)) | HIDDEN_BIT;
  const int shift = 1075 - biased;  // value = mantissa * 2^-shift, 6 <= shift <= 66
  // floor(log10(2^(biased - 1023))): the decimal exponent of the value, or one less.
  int exponent = ((biased - 1023) * 78913) >> 18;
  for (;;) {
    const Wide scaled =
        static_cast<Wide>(mantissa) * POW10[static_cast<std::size_t>(14 - exponent)];
    auto digits = static_cast<std::uint64_t>(scaled >> shift);
    if (digits >= TEN_TO_15) {
      ++exponent;
      continue;
    }
    const Wide rest = scaled & ((Wide{1} << shift) - 1);
    const Wide half = Wide{1} << (shift - 1);
    if (rest > half || (rest == half && (digits & 1U) != 0)) ++digits;
    if (digits == TEN_TO_15) {
      digits = TEN_TO_14;
      ++exponent;
    }
    DecimalDigits d;
    d.exponent = exponent;
    const auto written = std::to_chars(d.digits.data(), d.digits.data() + d.digits.size(), digits);
    d.count = static_cast<int>(written.ptr - d.digits.data());
    while (d.count > 1 && d.digits[static_cast<std::size_t>(d.count - 1)] == '0')
      --d.count;
    return d;
  }
}

}  // namespace

void append_g15(std::string& out, double value) {
  if (const auto digits = g15_digits_of_common_magnitude(std::fabs(value))) {
    if (std::signbit(value)) out += '-';
    append_layout(out, *digits, 15, false);
    return;
  }
  append_formatted(out, value, 15, false, 14);
}

std::string g15(double value) {
  std::string out;
  append_g15(out, value);
  return out;
}

void append_shortest(std::string& out, double value) {
  append_formatted(out, value, 16, true);
}

std::string shortest(double value) {
  std::string out;
  append_shortest(out, value);
  return out;
}

namespace {

// Whitespace that the host's float() strips around a number: C's isspace set and,
// outside ASCII, every Unicode whitespace character (U+001C..U+001F are not stripped).
bool is_float_space(char32_t cp) noexcept {
  if (cp < 0x80) return cp == ' ' || (cp >= 0x09 && cp <= 0x0D);
  return is_space(cp);
}

std::string_view strip_float_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const CodePoint cp = decode_at(text, begin);
    if (!is_float_space(cp.value)) break;
    begin += static_cast<std::size_t>(cp.length);
  }
  std::size_t end = text.size();
  while (end > begin) {
    const CodePoint cp = decode_before(text, end);
    if (!is_float_space(cp.value)) break;
    end -= static_cast<std::size_t>(cp.length);
  }
  return text.substr(begin, end - begin);
}

bool equals_ignoring_case(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

std::optional<double> read_special(std::string_view body) {
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    return std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_case(body, "nan")) return std::numeric_limits<double>::quiet_NaN();
  return std::nullopt;
}

// The unsigned number text rewritten as plain ASCII for std::from_chars: digits of any
// script by value, underscores dropped. Short texts stay in the inline buffer.
class CleanNumber {
 public:
  void push(char c) {
    if (size_ < inline_.size()) {
      inline_[size_] = c;
    } else {
      if (size_ == inline_.size()) spill_.assign(inline_.data(), inline_.size());
      spill_ += c;
    }
    ++size_;
  }
  [[nodiscard]] std::string_view view() const {
    return size_ <= inline_.size() ? std::string_view(inline_.data(), size_) : spill_;
  }

 private:
  std::array<char, 64> inline_{};
  std::string spill_;
  std::size_t size_ = 0;
};

// Scans digits with single underscores between them from `pos`, appending their ASCII
// values; returns the number of digits, or -1 when an underscore is misplaced.
long scan_digits(std::string_view text, std::size_t& pos, CleanNumber& clean) {
  long count = 0;
  bool after_underscore = false;
  while (pos < text.size()) {
    if (text[pos] == '_') {
      if (count == 0 || after_underscore) return -1;
      after_underscore = true;
      ++pos;
      continue;
    }
    const char c = text[pos];
    if (c >= '0' && c <= '9') {
      clean.push(c);
      ++pos;
    } else {
      if (is_ascii(c)) break;
      const CodePoint cp = decode_at(text, pos);
      const int value = digit_value(cp.value);
      if (value < 0) break;
      clean.push(static_cast<char>('0' + value));
      pos += static_cast<std::size_t>(cp.length);
    }
    ++count;
    after_underscore = false;
  }
  return after_underscore ? -1 : count;
}

// Whether a number that std::from_chars found out of range is too large (rather than
// too small): its order of magnitude, from where the first non-zero digit stands and
// the exponent, is positive.
bool is_overflow(std::string_view clean) {
  std::size_t pos = 0;
  long long order = 0;
  bool seen_point = false;
  for (; pos < clean.size() && clean[pos] != 'e'; ++pos) {
    if (clean[pos] == '.') {
      seen_point = true;
    } else if (clean[pos] != '0') {
      break;
    } else if (seen_point) {
      --order;
    }
  }
  if (!seen_point) {
    for (std::size_t i = pos; i < clean.size() && clean[i] != '.' && clean[i] != 'e'; ++i)
      ++order;
  }
  const std::size_t e = clean.find('e');
  if (e == std::string_view::npos) return order > 0;
  const bool negative = clean[e + 1] == '-';
  long long exponent = 0;
  constexpr long long SATURATED_EXPONENT = 1LL << 40;  // far beyond any double's range
  for (std::size_t i = e + (clean[e + 1] == '+' || negative ? 2 : 1); i < clean.size(); ++i) {
    exponent = std::min(SATURATED_EXPONENT, exponent * 10 + (clean[i] - '0'));
  }
  return order + (negative ? -exponent : exponent) > 0;
}

// Digits, optional fraction and optional exponent, nothing else; the clean ASCII copy
// goes to `clean`. False when the text is not such a number.
bool scan_number(std::string_view text, CleanNumber& clean) {
  std::size_t pos = 0;
  const long int_digits = scan_digits(text, pos, clean);
  if (int_digits < 0) return false;
  long frac_digits = 0;
  if (pos < text.size() && text[pos] == '.') {
    clean.push('.');
    ++pos;
    frac_digits = scan_digits(text, pos, clean);
    if (frac_digits < 0) return false;
  }
  if (int_digits + frac_digits == 0) return false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    clean.push('e');
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) clean.push(text[pos++]);
    if (scan_digits(text, pos, clean) <= 0) return false;
  }
  return pos == text.size();
}

}  // namespace

namespace {

// "0.5", "-1.25e-3": a number in plain ASCII without underscores or surrounding space,
// as nearly every program writes its numbers, read by std::from_chars alone. Nothing
// for any other text, which then takes the full reading.
std::optional<double> read_plain_float(std::string_view text) noexcept {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view body = text.substr(negative || (!text.empty() && text[0] == '+'));
  if (body.empty() || !(is_ascii_digit(static_cast<unsigned char>(body[0])) || body[0] == '.')) {
    return std::nullopt;
  }
  for (const char c : body) {
    const bool allowed = is_ascii_digit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' ||
                         c == 'E' || c == '+' || c == '-';
    if (!allowed) return std::nullopt;
  }
  double value = 0.0;
  const auto result = std::from_chars(body.data(), body.data() + body.size(), value);
  if (result.ec != std::errc() || result.ptr != body.data() + body.size()) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

std::optional<double> read_float(std::string_view text) {
  if (const auto plain = read_plain_float(text)) return plain;
  std::string_view body = strip_float_space(text);
  bool negative = false;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  std::optional<double> value;
  if (body.empty() || body[0] == 'i' || body[0] == 'I' || body[0] == 'n' || body[0] == 'N') {
    value = read_special(body);
  } else {
    CleanNumber clean;
    if (!scan_number(body, clean)) return std::nullopt;
    const std::string_view ascii = clean.view();
    double parsed = 0.0;
    const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), parsed);
    if (result.ec == std::errc::result_out_of_range) {
      parsed = is_overflow(ascii) ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc() || result.ptr != ascii.data() + ascii.size()) {
      return std::nullopt;
    }
    value = parsed;
  }
  if (value && negative) *value = -*value;
  return value;
}

std::optional<std::int64_t> read_decimal_digits(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  constexpr std::int64_t INT64_LIMIT = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  std::size_t pos = 0;
  while (pos < digits.size()) {
    const CodePoint cp = decode_at(digits, pos);
    const int digit = digit_value(cp.value);
    if (digit < 0 || value > (INT64_LIMIT - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    pos += static_cast<std::size_t>(cp.length);
  }
  return value;
}

}  // namespace corvane::qasm3::detail
