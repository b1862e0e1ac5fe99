// The tokenizer of parameter expressions and the values of their literals.
#include "qasm/import/qasm3_eval_lex.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::expr {

void enter_nesting(Nesting& nesting) {
  if (nesting.total >= 2 * MAX_EXPR_NESTING) raise_syntax_error("expression nested too deeply");
  ++nesting.total;
}

namespace {

// ------------------------------------------------------------------ character classes

constexpr bool is_hex_digit(char c) noexcept {
  return is_ascii_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// Bytes that may start or continue a name: every non-ASCII byte is a candidate, and the
// decoded name is checked afterwards.
constexpr bool is_name_start_byte(char c) noexcept {
  return is_ident_start(c) || static_cast<unsigned char>(c) >= 0x80;
}
constexpr bool is_name_byte(char c) noexcept {
  return is_name_start_byte(c) || is_ascii_digit(c);
}

// Identifier characters by category that Python's identifier tables leave out: letters
// that may continue a name but not start one, because their compatibility form cannot start
// one; and characters (with U+FC5E..U+FC63) whose compatibility form is no identifier at
// all, plus U+2E2F, a syntax character despite its letter category.
constexpr std::array<char32_t, 4> NO_NAME_START_ONLY{0x0E33, 0x0EB3, 0xFF9E, 0xFF9F};
constexpr std::array<char32_t, 14> NO_NAME_CHAR{0x037A, 0x309B, 0x309C, 0xFDFA, 0xFDFB,
                                                0xFE70, 0xFE72, 0xFE74, 0xFE76, 0xFE78,
                                                0xFE7A, 0xFE7C, 0xFE7E, 0x2E2F};

template <std::size_t N>
bool listed(const std::array<char32_t, N>& list, char32_t cp) {
  return std::find(list.begin(), list.end(), cp) != list.end();
}

bool is_excluded_name_part(char32_t cp) noexcept {
  return listed(NO_NAME_CHAR, cp) || (cp >= 0xFC5E && cp <= 0xFC63);
}

bool is_letter_category(utf8proc_category_t cat) noexcept {
  return cat == UTF8PROC_CATEGORY_LU || cat == UTF8PROC_CATEGORY_LL ||
         cat == UTF8PROC_CATEGORY_LT || cat == UTF8PROC_CATEGORY_LM ||
         cat == UTF8PROC_CATEGORY_LO || cat == UTF8PROC_CATEGORY_NL;
}

// Characters that start an identifier although their category does not say letter.
bool is_other_name_start(char32_t cp) noexcept {
  return cp == 0x1885 || cp == 0x1886 || cp == 0x2118 || cp == 0x212E;
}

// Unicode identifier start (XID_Start), from the general category and the property lists.
bool is_name_start(char32_t cp) noexcept {
  if (cp < 0x80) return is_ident_start(static_cast<char>(cp));
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  return (is_letter_category(cat) || is_other_name_start(cp)) && !is_excluded_name_part(cp) &&
         !listed(NO_NAME_START_ONLY, cp);
}

// Unicode identifier continuation (XID_Continue).
bool is_name_part(char32_t cp) noexcept {
  if (cp < 0x80) return is_name_byte(static_cast<char>(cp));
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  const bool other_part = cp == 0x00B7 || cp == 0x0387 || (cp >= 0x1369 && cp <= 0x1371) ||
                          cp == 0x19DA || is_other_name_start(cp);
  const bool category_part = is_letter_category(cat) || cat == UTF8PROC_CATEGORY_MN ||
                             cat == UTF8PROC_CATEGORY_MC || cat == UTF8PROC_CATEGORY_ND ||
                             cat == UTF8PROC_CATEGORY_PC;
  return (category_part || other_part) && !is_excluded_name_part(cp);
}

Keyword keyword_of(std::string_view word) noexcept {
  struct Entry {
    std::string_view word;
    Keyword keyword;
  };
  static constexpr std::array<Entry, 35> WORDS{{
      {"False", Keyword::False},   {"None", Keyword::NoneValue}, {"True", Keyword::True},
      {"and", Keyword::And},       {"as", Keyword::Other},       {"assert", Keyword::Other},
      {"async", Keyword::Async},   {"await", Keyword::Await},    {"break", Keyword::Other},
      {"class", Keyword::Other},   {"continue", Keyword::Other}, {"def", Keyword::Other},
      {"del", Keyword::Other},     {"elif", Keyword::Other},     {"else", Keyword::Else},
      {"except", Keyword::Other},  {"finally", Keyword::Other},  {"for", Keyword::For},
      {"from", Keyword::From},     {"global", Keyword::Other},   {"if", Keyword::If},
      {"import", Keyword::Other},  {"in", Keyword::In},          {"is", Keyword::Is},
      {"lambda", Keyword::Lambda}, {"nonlocal", Keyword::Other}, {"not", Keyword::Not},
      {"or", Keyword::Or},         {"pass", Keyword::Other},     {"raise", Keyword::Other},
      {"return", Keyword::Other},  {"try", Keyword::Other},      {"while", Keyword::Other},
      {"with", Keyword::Other},    {"yield", Keyword::Yield},
  }};
  for (const Entry& entry : WORDS) {
    if (entry.word == word) return entry.keyword;
  }
  return Keyword::None;
}

// Operators by longest match; statement-only ones come back as Punct::Other.
struct OperatorMatch {
  Punct punct;
  std::size_t length;
};

OperatorMatch match_operator(std::string_view rest) noexcept {
  struct Entry {
    std::string_view text;
    Punct punct;
  };
  static constexpr std::array<Entry, 47> OPERATORS{{
      {"**=", Punct::Other},      {"//=", Punct::Other},       {">>=", Punct::Other},
      {"<<=", Punct::Other},      {"...", Punct::Ellipsis},    {"**", Punct::DoubleStar},
      {"//", Punct::DoubleSlash}, {"<<", Punct::LShift},       {">>", Punct::RShift},
      {"<=", Punct::LessEqual},   {">=", Punct::GreaterEqual}, {"==", Punct::EqEqual},
      {"!=", Punct::NotEqual},    {":=", Punct::ColonEqual},   {"->", Punct::Other},
      {"+=", Punct::Other},       {"-=", Punct::Other},        {"*=", Punct::Other},
      {"/=", Punct::Other},       {"%=", Punct::Other},        {"@=", Punct::Other},
      {"&=", Punct::Other},       {"|=", Punct::Other},        {"^=", Punct::Other},
      {"<>", Punct::Other},       {"(", Punct::LPar},          {")", Punct::RPar},
      {"[", Punct::LSqb},         {"]", Punct::RSqb},          {"{", Punct::LBrace},
      {"}", Punct::RBrace},       {",", Punct::Comma},         {":", Punct::Colon},
      {".", Punct::Dot},          {"+", Punct::Plus},          {"-", Punct::Minus},
      {"*", Punct::Star},         {"/", Punct::Slash},         {"%", Punct::Percent},
      {"@", Punct::At},           {"&", Punct::Amper},         {"|", Punct::VBar},
      {"^", Punct::Circumflex},   {"~", Punct::Tilde},         {"<", Punct::Less},
      {">", Punct::Greater},      {"=", Punct::Equal},
  }};
  if (rest.empty()) return {Punct::None, 0};
  for (const Entry& entry : OPERATORS) {
    if (entry.text[0] == rest[0] && rest.substr(0, entry.text.size()) == entry.text) {
      return {entry.punct, entry.text.size()};
    }
  }
  if (rest[0] == ';') return {Punct::Other, 1};
  return {Punct::None, 0};
}

}  // namespace

// ------------------------------------------------------------------ names

std::string normalized_name(std::string_view raw) {
  std::size_t pos = 0;
  bool first = true;
  while (pos < raw.size()) {
    const CodePoint cp = decode_at(raw, pos);
    if (cp.value == 0xFFFD && cp.length == 1) raise_syntax_error("invalid UTF-8 in name");
    if (!(first ? is_name_start(cp.value) : is_name_part(cp.value))) {
      raise_syntax_error("invalid character in identifier");
    }
    first = false;
    pos += static_cast<std::size_t>(cp.length);
  }
  const std::string source(raw);
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> composed(
      utf8proc_NFKC(reinterpret_cast<const utf8proc_uint8_t*>(source.c_str())), &std::free);
  if (!composed) raise_syntax_error("invalid character in identifier");
  return reinterpret_cast<const char*>(composed.get());
}

Token Lexer::make(TokenType type, std::size_t begin, std::size_t end) {
  Token token;
  token.type = type;
  token.begin = begin;
  token.end = end;
  pos_ = end;
  line_has_token_ = true;
  return token;
}

Token Lexer::scan() {
  for (;;) {
    while (pos_ < src_.size() && (src_[pos_] == ' ' || src_[pos_] == '\t' || src_[pos_] == '\f')) {
      ++pos_;
    }
    if (pos_ >= src_.size()) {
      if (!open_brackets_.empty())
        raise_syntax_error("unexpected end of text: bracket never closed");
      Token end;
      end.begin = end.end = pos_;
      return end;
    }
    const char c = src_[pos_];
    if (c == '#') {
      while (pos_ < src_.size() && src_[pos_] != '\n')
        ++pos_;
    } else if (c == '\n') {
      ++pos_;
      if (open_brackets_.empty() && line_has_token_) {
        line_has_token_ = false;
        Token newline;
        newline.type = TokenType::Newline;
        newline.begin = pos_ - 1;
        newline.end = pos_;
        return newline;
      }
    } else if (c == '\\') {
      if (at(pos_ + 1) != '\n') raise_syntax_error("unexpected character after line continuation");
      pos_ += 2;
      if (pos_ >= src_.size()) raise_syntax_error("unexpected end of text after line continuation");
    } else if (is_name_start_byte(c)) {
      return scan_name();
    } else if (is_ascii_digit(c) || (c == '.' && is_ascii_digit(at(pos_ + 1)))) {
      return scan_number();
    } else if (c == '\'' || c == '"') {
      return scan_string(pos_, pos_);
    } else {
      return scan_operator();
    }
  }
}

// A name, or a string literal with its prefix (b, r, u, f and the pairs br, rb, fr, rf).
Token Lexer::scan_name() {
  const std::size_t begin = pos_;
  bool saw_b = false, saw_r = false, saw_u = false, saw_f = false;
  for (std::size_t p = begin;; ++p) {
    const char c = static_cast<char>(at(p) | 0x20);  // letter case does not matter here
    if (!(saw_b || saw_u || saw_f) && c == 'b') {
      saw_b = true;
    } else if (!(saw_b || saw_u || saw_r || saw_f) && c == 'u') {
      saw_u = true;
    } else if (!(saw_r || saw_u) && c == 'r') {
      saw_r = true;
    } else if (!(saw_f || saw_b || saw_u) && c == 'f') {
      saw_f = true;
    } else {
      break;
    }
    if (at(p + 1) == '\'' || at(p + 1) == '"') return scan_string(begin, p + 1);
  }
  std::size_t end = begin;
  bool ascii = true;
  while (end < src_.size() && is_name_byte(src_[end])) {
    ascii = ascii && static_cast<unsigned char>(src_[end]) < 0x80;
    ++end;
  }
  Token token = make(TokenType::Name, begin, end);
  if (ascii) {
    token.keyword = keyword_of(text(token));
  } else {
    normalized_name(text(token));  // only to reject invalid characters here
  }
  return token;
}

// The extent of a string literal; its contents are decoded when the parser builds the value.
Token Lexer::scan_string(std::size_t begin, std::size_t quote_pos) {
  const char quote = src_[quote_pos];
  const bool triple = at(quote_pos + 1) == quote && at(quote_pos + 2) == quote;
  std::size_t p = quote_pos + (triple ? 3 : 1);
  if (!triple && at(p) == quote) return make(TokenType::String, begin, p + 1);
  int closing = 0;
  const int needed = triple ? 3 : 1;
  while (closing < needed) {
    if (p >= src_.size() || (!triple && src_[p] == '\n'))
      raise_syntax_error("unterminated string literal");
    const char c = src_[p++];
    if (c == quote) {
      ++closing;
    } else {
      closing = 0;
      if (c == '\\') ++p;  // the escaped character never closes the literal
    }
  }
  return make(TokenType::String, begin, p);
}

// Digits with single underscores between them, from a digit at `pos`.
std::size_t Lexer::decimal_tail(std::size_t pos) const {
  for (;;) {
    while (is_ascii_digit(at(pos)))
      ++pos;
    if (at(pos) != '_') return pos;
    ++pos;
    if (!is_ascii_digit(at(pos))) raise_syntax_error("invalid decimal literal");
  }
}

std::size_t Lexer::based_digits(std::size_t pos, int base) const {
  const auto is_base_digit = [base](char c) {
    if (base == 16) return is_hex_digit(c);
    return c >= '0' && c < static_cast<char>('0' + base);
  };
  do {
    if (at(pos) == '_') ++pos;
    if (!is_base_digit(at(pos))) raise_syntax_error("invalid digit in based integer literal");
    while (is_base_digit(at(pos)))
      ++pos;
  } while (at(pos) == '_');
  if (base != 16 && is_ascii_digit(at(pos)))
    raise_syntax_error("invalid digit in based integer literal");
  return pos;
}

// A number may be followed directly by the keywords that can follow it ("1if x else 2"),
// but not by any other name character.
void Lexer::verify_end_of_number(std::size_t pos, std::string_view kind) const {
  if (!is_name_byte(at(pos))) return;
  const std::string_view rest = src_.substr(std::min(pos, src_.size()));
  const auto follows = [&rest](std::string_view word) {
    return rest.substr(0, word.size()) == word;
  };
  const bool keyword_follows = follows("and") || follows("else") || follows("for") ||
                               follows("if") || follows("in") || follows("is") || follows("or") ||
                               follows("not");
  if (!keyword_follows) {
    raise_syntax_error("invalid " + std::string(kind) + " literal");
  }
}

Token Lexer::scan_number() {
  const std::size_t begin = pos_;
  std::size_t p = begin;
  NumberForm form = NumberForm::Decimal;
  bool fraction = false;
  const char after_zero = at(p + 1);
  if (src_[p] == '0' && after_zero != '\0' &&
      std::string_view("xXoObB").find(after_zero) != std::string_view::npos) {
    const char prefix = static_cast<char>(at(p + 1) | 0x20);
    const int base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : 2;
    p = based_digits(p + 2, base);
    verify_end_of_number(p, base == 16 ? "hexadecimal" : base == 8 ? "octal" : "binary");
    Token token = make(TokenType::Number, begin, p);
    token.number = base == 16  ? NumberForm::Hex
                   : base == 8 ? NumberForm::Octal
                               : NumberForm::Binary;
    return token;
  }
  if (src_[p] == '.') {
    fraction = true;
    p = decimal_tail(p + 1);
  } else if (src_[p] == '0') {
    // Zeros only, or the start of a float: "0", "0_0", "00.5", "0e1", "0j".
    ++p;
    for (;;) {
      if (at(p) == '_') {
        ++p;
        if (!is_ascii_digit(at(p))) raise_syntax_error("invalid decimal literal");
      }
      if (at(p) != '0') break;
      ++p;
    }
    const bool nonzero = is_ascii_digit(at(p));
    if (nonzero) p = decimal_tail(p);
    const char c = at(p);
    if (c != '.' && c != 'e' && c != 'E' && c != 'j' && c != 'J') {
      if (nonzero)
        raise_syntax_error("leading zeros in decimal integer literals are not permitted");
      verify_end_of_number(p, "decimal");
      Token token = make(TokenType::Number, begin, p);
      token.number = NumberForm::Zero;
      return token;
    }
  } else {
    p = decimal_tail(p);
  }
  if (!fraction && at(p) == '.') {
    fraction = true;
    ++p;
    if (is_ascii_digit(at(p))) p = decimal_tail(p);
  }
  bool exponent = false;
  if (at(p) == 'e' || at(p) == 'E') {
    const std::size_t e = p;
    ++p;
    if (at(p) == '+' || at(p) == '-') {
      ++p;
      if (!is_ascii_digit(at(p))) raise_syntax_error("invalid decimal literal");
    }
    if (is_ascii_digit(at(p))) {
      p = decimal_tail(p);
      exponent = true;
    } else {
      verify_end_of_number(e, "decimal");  // "1else": the number ends before the keyword
      p = e;
    }
  }
  if (at(p) == 'j' || at(p) == 'J') {
    ++p;
    verify_end_of_number(p, "imaginary");
    form = NumberForm::Imaginary;
  } else {
    verify_end_of_number(p, "decimal");
    if (fraction || exponent) form = NumberForm::Float;
  }
  Token token = make(TokenType::Number, begin, p);
  token.number = form;
  return token;
}

Token Lexer::scan_operator() {
  const OperatorMatch match = match_operator(src_.substr(pos_));
  if (match.punct == Punct::None) raise_syntax_error("invalid character in expression");
  const char c = src_[pos_];
  if (c == '(' || c == '[' || c == '{') {
    if (open_brackets_.size() >= static_cast<std::size_t>(MAX_EXPR_NESTING)) {
      raise_syntax_error("too many nested parentheses");
    }
    enter_nesting(nesting_);
    open_brackets_ += c == '(' ? ')' : c == '[' ? ']' : '}';
  } else if (c == ')' || c == ']' || c == '}') {
    if (open_brackets_.empty() || open_brackets_.back() != c)
      raise_syntax_error("unmatched bracket");
    open_brackets_.pop_back();
    --nesting_.total;
  }
  Token token = make(TokenType::Op, pos_, pos_ + match.length);
  token.punct = match.punct;
  return token;
}

// ------------------------------------------------------------------ literal values

// An integer in base 2, 8 or 16 of any length, rounded to the nearest double (ties to even);
// nothing when it lies beyond the double range.
std::optional<double> based_int_value(std::string_view digits, int bits_per_digit) {
  std::uint64_t mantissa = 0;  // the leading (at most 64) significant bits
  int mantissa_bits = 0;
  std::size_t dropped_bits = 0;
  bool sticky = false;  // whether any dropped bit is set
  for (const char c : digits) {
    if (c == '_') continue;
    const int value = is_ascii_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
    for (int bit_index = bits_per_digit - 1; bit_index >= 0; --bit_index) {
      const unsigned bit = (static_cast<unsigned>(value) >> bit_index) & 1U;
      if (mantissa_bits == 0 && bit == 0) continue;
      if (mantissa_bits < 64) {
        mantissa = (mantissa << 1) | bit;
        ++mantissa_bits;
      } else {
        sticky = sticky || bit != 0;
        ++dropped_bits;
      }
    }
  }
  // The lowest of 64 kept bits lies below the rounding position of a double, so it can
  // stand for all dropped bits when the conversion breaks a tie.
  if (sticky) mantissa |= 1U;
  const int scale = static_cast<int>(std::min<std::size_t>(dropped_bits, 2048));
  const double value = std::ldexp(static_cast<double>(mantissa), scale);
  if (std::isinf(value)) return std::nullopt;
  return value;
}

// The literal form of an imaginary number: its imaginary part's shortest form without a
// trailing ".0", then "j" ("2j", "1.5j", "1e+16j", "infj").
std::string imaginary_repr(double imag) {
  std::string out = shortest(imag);
  if (out.size() > 2 && out.compare(out.size() - 2, 2, ".0") == 0) out.resize(out.size() - 2);
  out += 'j';
  return out;
}

namespace {

int hex_value(char c) noexcept {
  if (is_ascii_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads exactly `count` hex digits at `pos`; SyntaxError when they are not there.
char32_t read_hex_escape(std::string_view body, std::size_t pos, std::size_t count) {
  if (pos + count > body.size()) raise_syntax_error("truncated escape in string literal");
  char32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const int digit = hex_value(body[pos + i]);
    if (digit < 0) raise_syntax_error("truncated escape in string literal");
    value = (value << 4) | static_cast<char32_t>(digit);
  }
  return value;
}

void append_code(std::string& out, char32_t value, bool bytes) {
  if (bytes) {
    out += static_cast<char>(value & 0xFFU);
  } else {
    append_utf8(out, value);
  }
}

// Whether `name` has the shape of a Unicode character name: words of letters (any case),
// digits and inner hyphens, separated by single spaces, starting with a letter.
bool could_be_character_name(std::string_view name) {
  if (name.empty() || !is_ident_start(name.front()) || name.front() == '_') return false;
  char previous = ' ';
  for (const char c : name) {
    const bool word_char = is_ident_start(c) || is_ascii_digit(c) || c == '-';
    if ((!word_char && c != ' ') || c == '_' || (c == ' ' && previous == ' ')) return false;
    previous = c;
  }
  return name.back() != ' ' && name.back() != '-';
}

constexpr std::string_view ESCAPE_LETTERS = "\\'\"abfnrtv";
constexpr std::string_view ESCAPE_VALUES = "\\'\"\a\b\f\n\r\t\v";

// Decodes the escape whose letter is at `pos`, just after a backslash; returns the position
// after it. Text values are kept as UTF-8 (a lone surrogate as its three-byte form, which
// quoted() shows as \uXXXX). Unknown escapes keep their backslash. A named escape \N{...}
// is kept as written when it has the shape of a name, since no character-name table is
// at hand, and is a SyntaxError otherwise.
std::size_t decode_escape(std::string_view body, std::size_t pos, bool bytes, std::string& out) {
  const char e = body[pos++];
  if (e == '\n') return pos;  // an escaped line break joins the lines
  if (const std::size_t simple = ESCAPE_LETTERS.find(e); simple != std::string_view::npos) {
    out += ESCAPE_VALUES[simple];
    return pos;
  }
  if (e >= '0' && e <= '7') {
    auto value = static_cast<char32_t>(e - '0');
    for (int i = 0; i < 2 && pos < body.size() && body[pos] >= '0' && body[pos] <= '7'; ++i) {
      value = value * 8 + static_cast<char32_t>(body[pos++] - '0');
    }
    append_code(out, value, bytes);
    return pos;
  }
  if (e == 'x') {
    append_code(out, read_hex_escape(body, pos, 2), bytes);
    return pos + 2;
  }
  if (!bytes && (e == 'u' || e == 'U')) {
    const std::size_t count = e == 'u' ? 4 : 8;
    const char32_t value = read_hex_escape(body, pos, count);
    if (value > 0x10FFFF) raise_syntax_error("illegal Unicode character in string literal");
    append_utf8(out, value);
    return pos + count;
  }
  if (!bytes && e == 'N') {
    const std::size_t close = body.find('}', pos);
    if (pos >= body.size() || body[pos] != '{' || close == std::string_view::npos) {
      raise_syntax_error("malformed \\N character escape");
    }
    if (!could_be_character_name(body.substr(pos + 1, close - pos - 1))) {
      raise_syntax_error("unknown Unicode character name");
    }
    out += body.substr(pos - 2, close + 1 - (pos - 2));
    return close + 1;
  }
  out += '\\';
  return pos - 1;  // the character after the backslash is read as usual
}

}  // namespace

std::string decode_escapes(std::string_view body, bool bytes) {
  std::string out;
  out.reserve(body.size());
  std::size_t pos = 0;
  while (pos < body.size()) {
    const char c = body[pos++];
    if (c != '\\') {
      out += c;
    } else if (pos >= body.size()) {
      out += '\\';  // a backslash ending a formatted-string piece stays
    } else {
      pos = decode_escape(body, pos, bytes, out);
    }
  }
  return out;
}

StringPiece split_string_token(std::string_view token) {
  StringPiece piece;
  std::size_t quote = 0;
  while (token[quote] != '\'' && token[quote] != '"') {
    const char c = static_cast<char>(token[quote] | 0x20);
    piece.bytes = piece.bytes || c == 'b';
    piece.raw = piece.raw || c == 'r';
    piece.formatted = piece.formatted || c == 'f';
    ++quote;
  }
  const bool triple = token.size() - quote >= 6 && token[quote + 1] == token[quote] &&
                      token[quote + 2] == token[quote];
  const std::size_t width = triple ? 3 : 1;
  piece.body = token.substr(quote + width, token.size() - quote - 2 * width);
  return piece;
}

}  // namespace corvane::qasm3::detail::expr
