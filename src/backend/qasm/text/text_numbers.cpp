// Reading and writing numbers the way messages and program text show them.
#include "qasm/text/text_numbers.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>

#include "qasm/text/text_unicode.hpp"

namespace corvane::qasm3 {
namespace detail {

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

// Writes digits in Python's float layout: positional when the exponent lies in
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

}  // namespace detail

void append_shortest(std::string& out, double value) {
  detail::append_formatted(out, value, 16, true);
}

namespace detail {

std::string shortest(double value) {
  std::string out;
  append_shortest(out, value);
  return out;
}

namespace {

// Whitespace that Python's float() strips around a number: C's isspace set and,
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

}  // namespace detail
}  // namespace corvane::qasm3
