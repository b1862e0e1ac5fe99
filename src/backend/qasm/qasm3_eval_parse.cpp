// The parser of parameter expressions. It recognises the whole expression grammar of the
// scripting host whose conventions parameters follow (every operator, call, subscript,
// display, comprehension, lambda, string and number form), so that each construct outside
// the evaluated subset is rejected by its kind name rather than as a syntax error. Only the
// evaluated kinds keep their children; every other construct is validated and kept as a leaf.
//
// Hostile text is bounded: brackets nest at most 200 deep, as do chains of prefix operators
// and powers; flat chains ("1+1+...") are built in loops; the tokenizer works on demand.
#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "qasm3_eval.hpp"
#include "text.hpp"

namespace corvane::qasm3::detail {
namespace {

[[noreturn]] void syntax_error(std::string_view what) { raise_syntax_error(std::string(what)); }

// Deepest nesting of brackets, and of prefix operators, power exponents and lambda bodies,
// that the parser follows (the host's tokenizer has the same bracket limit); together, and
// across the expressions inside formatted strings, at most twice that.
constexpr int kMaxExprNesting = 200;

struct Nesting {
  int total = 0;   // open brackets of every tokenizer plus prefix levels
  int prefix = 0;  // prefix operators, exponents and lambda bodies being parsed
};

void enter_nesting(Nesting& nesting) {
  if (nesting.total >= 2 * kMaxExprNesting) syntax_error("expression nested too deeply");
  ++nesting.total;
}


// ------------------------------------------------------------------ character classes

constexpr bool is_ascii_digit(char c) noexcept {
  return c >= '0' && c <= '9';
}
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

// Letters that cannot start a name although their category says letter, because their
// compatibility form is not a name start.
bool is_excluded_name_start(char32_t cp) noexcept {
  switch (cp) {
    case 0x037A:
    case 0x0E33:
    case 0x0EB3:
    case 0x2E2F:
    case 0x309B:
    case 0x309C:
    case 0xFDFA:
    case 0xFDFB:
    case 0xFE70:
    case 0xFE72:
    case 0xFE74:
    case 0xFE76:
    case 0xFE78:
    case 0xFE7A:
    case 0xFE7C:
    case 0xFE7E:
    case 0xFF9E:
    case 0xFF9F:
      return true;
    default:
      return cp >= 0xFC5E && cp <= 0xFC63;
  }
}

bool is_excluded_name_part(char32_t cp) noexcept {
  switch (cp) {
    case 0x037A:
    case 0x2E2F:
    case 0x309B:
    case 0x309C:
    case 0xFDFA:
    case 0xFDFB:
    case 0xFE70:
    case 0xFE72:
    case 0xFE74:
    case 0xFE76:
    case 0xFE78:
    case 0xFE7A:
    case 0xFE7C:
    case 0xFE7E:
      return true;
    default:
      return cp >= 0xFC5E && cp <= 0xFC63;
  }
}

bool is_letter_category(utf8proc_category_t cat) noexcept {
  return cat == UTF8PROC_CATEGORY_LU || cat == UTF8PROC_CATEGORY_LL ||
         cat == UTF8PROC_CATEGORY_LT || cat == UTF8PROC_CATEGORY_LM ||
         cat == UTF8PROC_CATEGORY_LO || cat == UTF8PROC_CATEGORY_NL;
}

// Unicode identifier start (XID_Start), from the general category and the property lists.
bool is_name_start(char32_t cp) noexcept {
  if (cp < 0x80) return is_ident_start(static_cast<char>(cp));
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  const bool other_start = cp == 0x1885 || cp == 0x1886 || cp == 0x2118 || cp == 0x212E;
  return (is_letter_category(cat) || other_start) && !is_excluded_name_start(cp);
}

// Unicode identifier continuation (XID_Continue).
bool is_name_part(char32_t cp) noexcept {
  if (cp < 0x80)
    return is_ident_start(static_cast<char>(cp)) || is_ascii_digit(static_cast<char>(cp));
  const auto cat = utf8proc_category(static_cast<utf8proc_int32_t>(cp));
  const bool other_part = cp == 0x00B7 || cp == 0x0387 || (cp >= 0x1369 && cp <= 0x1371) ||
                          cp == 0x19DA || cp == 0x1885 || cp == 0x1886 || cp == 0x2118 ||
                          cp == 0x212E;
  const bool category_part = is_letter_category(cat) || cat == UTF8PROC_CATEGORY_MN ||
                             cat == UTF8PROC_CATEGORY_MC || cat == UTF8PROC_CATEGORY_ND ||
                             cat == UTF8PROC_CATEGORY_PC;
  return (category_part || other_part || cp == 0x0E33 || cp == 0x0EB3 || cp == 0xFF9E ||
          cp == 0xFF9F) &&
         !is_excluded_name_part(cp);
}

// A non-ASCII name as the host stores it: checked character by character, then in its
// compatibility-composed form (so full-width "ｐｉ" names pi).
std::string normalized_name(std::string_view raw) {
  std::size_t pos = 0;
  bool first = true;
  while (pos < raw.size()) {
    const CodePoint cp = decode_at(raw, pos);
    if (cp.value == 0xFFFD && cp.length == 1) syntax_error("invalid UTF-8 in name");
    if (!(first ? is_name_start(cp.value) : is_name_part(cp.value))) {
      syntax_error("invalid character in identifier");
    }
    first = false;
    pos += static_cast<std::size_t>(cp.length);
  }
  const std::string source(raw);
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> composed(
      utf8proc_NFKC(reinterpret_cast<const utf8proc_uint8_t*>(source.c_str())), &std::free);
  if (!composed) syntax_error("invalid character in identifier");
  return reinterpret_cast<const char*>(composed.get());
}

// ------------------------------------------------------------------ tokens

enum class TokenType : std::uint8_t { End, Newline, Name, Number, String, Op };

enum class Punct : std::uint8_t {
  None,
  LPar,
  RPar,
  LSqb,
  RSqb,
  LBrace,
  RBrace,
  Comma,
  Colon,
  Dot,
  Ellipsis,
  Plus,
  Minus,
  Star,
  Slash,
  DoubleSlash,
  Percent,
  At,
  DoubleStar,
  LShift,
  RShift,
  Amper,
  VBar,
  Circumflex,
  Tilde,
  Less,
  Greater,
  LessEqual,
  GreaterEqual,
  EqEqual,
  NotEqual,
  Equal,
  ColonEqual,
  Other,  // statement-only operators (";", "+=", "->", ...): never valid in an expression
};

// Reserved words; the ones the grammar uses by name, and Other for the rest.
enum class Keyword : std::uint8_t {
  None,
  False,
  NoneValue,
  True,
  And,
  Async,
  Await,
  Else,
  For,
  From,
  If,
  In,
  Is,
  Lambda,
  Not,
  Or,
  Yield,
  Other,
};

enum class NumberForm : std::uint8_t { Decimal, Zero, Hex, Octal, Binary, Float, Imaginary };

struct Token {
  TokenType type = TokenType::End;
  Punct punct = Punct::None;
  Keyword keyword = Keyword::None;
  NumberForm number = NumberForm::Decimal;
  std::size_t begin = 0;
  std::size_t end = 0;
};

Keyword keyword_of(std::string_view word) noexcept {
  struct Entry {
    std::string_view word;
    Keyword keyword;
  };
  static constexpr std::array<Entry, 35> kWords{{
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
  for (const Entry& entry : kWords) {
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
  static constexpr std::array<Entry, 47> kOperators{{
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
  for (const Entry& entry : kOperators) {
    if (rest.substr(0, entry.text.size()) == entry.text) return {entry.punct, entry.text.size()};
  }
  if (!rest.empty() && rest[0] == ';') return {Punct::Other, 1};
  return {Punct::None, 0};
}

// ------------------------------------------------------------------ tokenizer

// Produces tokens on demand with a short look-ahead, following the host's tokenizer: line
// breaks inside brackets and after a backslash are ignored, "#" starts a comment, a number
// may not run into a name (except the keywords that may follow a number).
class Lexer {
 public:
  Lexer(std::string_view src, Nesting& nesting) : src_(src), nesting_(nesting) {}

  const Token& peek(std::size_t ahead = 0) {
    while (count_ <= ahead) {
      buffer_[(first_ + count_) % buffer_.size()] = scan();
      ++count_;
    }
    return buffer_[(first_ + ahead) % buffer_.size()];
  }

  Token next() {
    const Token token = peek();
    first_ = (first_ + 1) % buffer_.size();
    --count_;
    return token;
  }

  [[nodiscard]] std::string_view text(const Token& token) const {
    return src_.substr(token.begin, token.end - token.begin);
  }

 private:
  [[nodiscard]] char at(std::size_t pos) const noexcept {
    return pos < src_.size() ? src_[pos] : '\0';
  }

  Token make(TokenType type, std::size_t begin, std::size_t end) {
    Token token;
    token.type = type;
    token.begin = begin;
    token.end = end;
    pos_ = end;
    line_has_token_ = true;
    return token;
  }

  Token scan();
  Token scan_name();
  Token scan_string(std::size_t begin, std::size_t quote_pos);
  Token scan_number();
  Token scan_operator();
  std::size_t decimal_tail(std::size_t pos) const;
  std::size_t based_digits(std::size_t pos, int base) const;
  void verify_end_of_number(std::size_t pos, std::string_view kind) const;

  std::string_view src_;
  Nesting& nesting_;
  std::size_t pos_ = 0;
  std::string open_brackets_;  // the closing bracket each open one expects
  bool line_has_token_ = false;
  std::array<Token, 4> buffer_{};
  std::size_t first_ = 0;
  std::size_t count_ = 0;
};

Token Lexer::scan() {
  for (;;) {
    while (pos_ < src_.size() && (src_[pos_] == ' ' || src_[pos_] == '\t' || src_[pos_] == '\f')) {
      ++pos_;
    }
    if (pos_ >= src_.size()) {
      if (!open_brackets_.empty()) syntax_error("unexpected end of text: bracket never closed");
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
      if (at(pos_ + 1) != '\n') syntax_error("unexpected character after line continuation");
      pos_ += 2;
      if (pos_ >= src_.size()) syntax_error("unexpected end of text after line continuation");
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
      syntax_error("unterminated string literal");
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
    if (!is_ascii_digit(at(pos))) syntax_error("invalid decimal literal");
  }
}

std::size_t Lexer::based_digits(std::size_t pos, int base) const {
  const auto is_base_digit = [base](char c) {
    if (base == 16) return is_hex_digit(c);
    return c >= '0' && c < static_cast<char>('0' + base);
  };
  do {
    if (at(pos) == '_') ++pos;
    if (!is_base_digit(at(pos))) syntax_error("invalid digit in based integer literal");
    while (is_base_digit(at(pos)))
      ++pos;
  } while (at(pos) == '_');
  if (base != 16 && is_ascii_digit(at(pos))) syntax_error("invalid digit in based integer literal");
  return pos;
}

// A number may be followed directly by the keywords that can follow it ("1if x else 2"),
// but not by any other name character.
void Lexer::verify_end_of_number(std::size_t pos, std::string_view kind) const {
  const std::string_view rest = src_.substr(std::min(pos, src_.size()));
  const auto follows = [&rest](std::string_view word) {
    return rest.substr(0, word.size()) == word;
  };
  const bool keyword_follows = follows("and") || follows("else") || follows("for") ||
                               follows("if") || follows("in") || follows("is") || follows("or") ||
                               follows("not");
  if (!keyword_follows && is_name_byte(at(pos))) {
    syntax_error("invalid " + std::string(kind) + " literal");
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
        if (!is_ascii_digit(at(p))) syntax_error("invalid decimal literal");
      }
      if (at(p) != '0') break;
      ++p;
    }
    const bool nonzero = is_ascii_digit(at(p));
    if (nonzero) p = decimal_tail(p);
    const char c = at(p);
    if (c != '.' && c != 'e' && c != 'E' && c != 'j' && c != 'J') {
      if (nonzero) syntax_error("leading zeros in decimal integer literals are not permitted");
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
      if (!is_ascii_digit(at(p))) syntax_error("invalid decimal literal");
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
  if (match.punct == Punct::None) syntax_error("invalid character in expression");
  const char c = src_[pos_];
  if (c == '(' || c == '[' || c == '{') {
    if (open_brackets_.size() >= static_cast<std::size_t>(kMaxExprNesting)) {
      syntax_error("too many nested parentheses");
    }
    enter_nesting(nesting_);
    open_brackets_ += c == '(' ? ')' : c == '[' ? ']' : '}';
  } else if (c == ')' || c == ']' || c == '}') {
    if (open_brackets_.empty() || open_brackets_.back() != c) syntax_error("unmatched bracket");
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

// The literal form of a bytes value: b'...' with \\, the quote, \t \n \r and \xNN escapes.
std::string bytes_repr(std::string_view bytes) {
  const bool has_single = bytes.find('\'') != std::string_view::npos;
  const bool has_double = bytes.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "b";
  out += quote;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == quote || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (ch == '\t') {
      out += "\\t";
    } else if (ch == '\n') {
      out += "\\n";
    } else if (ch == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
  out += quote;
  return out;
}

// The literal form of an imaginary number: its imaginary part's shortest form without a
// trailing ".0", then "j" ("2j", "1.5j", "1e+16j", "infj").
std::string imaginary_repr(double imag) {
  std::string out = shortest(imag);
  if (out.size() > 2 && out.compare(out.size() - 2, 2, ".0") == 0) out.resize(out.size() - 2);
  out += 'j';
  return out;
}

int hex_value(char c) noexcept {
  if (is_ascii_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads exactly `count` hex digits at `pos`; SyntaxError when they are not there.
char32_t read_hex_escape(std::string_view body, std::size_t pos, std::size_t count) {
  if (pos + count > body.size()) syntax_error("truncated escape in string literal");
  char32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const int digit = hex_value(body[pos + i]);
    if (digit < 0) syntax_error("truncated escape in string literal");
    value = (value << 4) | static_cast<char32_t>(digit);
  }
  return value;
}

// Decodes the backslash escapes of a text or bytes literal body. Text values are kept as
// UTF-8 (a lone surrogate escape as its three-byte form, which quoted() shows as \uXXXX);
// bytes values as raw bytes. Unknown escapes keep their backslash; a named escape
// \N{...} is kept as written, since no character-name table is at hand.
std::string decode_escapes(std::string_view body, bool bytes) {
  std::string out;
  out.reserve(body.size());
  std::size_t pos = 0;
  while (pos < body.size()) {
    const char c = body[pos++];
    if (c != '\\') {
      out += c;
      continue;
    }
    if (pos >= body.size()) {  // a backslash ending a formatted-string piece stays
      out += '\\';
      break;
    }
    const char e = body[pos++];
    switch (e) {
      case '\n':
        break;
      case '\\':
      case '\'':
      case '"':
        out += e;
        break;
      case 'a':
        out += '\a';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'v':
        out += '\v';
        break;
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7': {
        unsigned value = static_cast<unsigned>(e - '0');
        for (int i = 0; i < 2 && pos < body.size() && body[pos] >= '0' && body[pos] <= '7'; ++i) {
          value = value * 8 + static_cast<unsigned>(body[pos++] - '0');
        }
        if (bytes) {
          out += static_cast<char>(value & 0xFFU);
        } else {
          append_utf8(out, value);
        }
        break;
      }
      case 'x': {
        const char32_t value = read_hex_escape(body, pos, 2);
        pos += 2;
        if (bytes) {
          out += static_cast<char>(value);
        } else {
          append_utf8(out, value);
        }
        break;
      }
      case 'u':
      case 'U':
      case 'N': {
        if (bytes) {
          out += '\\';
          out += e;
          break;
        }
        if (e == 'N') {
          const std::size_t close = body.find('}', pos);
          if (pos >= body.size() || body[pos] != '{' || close == std::string_view::npos ||
              close == pos + 1) {
            syntax_error("malformed \\N character escape");
          }
          out += body.substr(pos - 2, close + 1 - (pos - 2));
          pos = close + 1;
          break;
        }
        const std::size_t count = e == 'u' ? 4 : 8;
        const char32_t value = read_hex_escape(body, pos, count);
        if (value > 0x10FFFF) syntax_error("illegal Unicode character in string literal");
        pos += count;
        append_utf8(out, value);
        break;
      }
      default:
        out += '\\';
        --pos;  // the character after the backslash is kept as it is
        break;
    }
  }
  return out;
}

// One string token split into its prefix flags and the text between its quotes.
struct StringPiece {
  bool bytes = false;
  bool raw = false;
  bool formatted = false;
  std::string_view body;
};

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

// Parses the text "(" + field + ")" of one replacement field of a formatted string;
// defined with the parser below.
void check_formatted_field(std::string_view parenthesized, Nesting& nesting, int fstring_depth);

// Checks the body of a formatted string the way the host does: literal pieces with their
// escapes, doubled braces, replacement fields with an expression, an optional "=", a
// conversion "!s", "!r" or "!a" and a format specification that may hold one more level
// of fields. Only whether it is well formed matters: the value is always rejected.
class FormattedStringChecker {
 public:
  FormattedStringChecker(std::string_view body, bool raw, Nesting& nesting, int depth)
      : s_(body), raw_(raw), nesting_(nesting), depth_(depth) {}

  void check() {
    std::size_t pos = 0;
    parts(pos, 0);
  }

 private:
  // Literal pieces and fields up to the end (level 0) or up to the closing brace of a
  // format specification (level 1).
  void parts(std::size_t& pos, int level) {
    for (;;) {
      const std::size_t start = pos;
      bool doubled = false;
      while (pos < s_.size()) {
        char ch = s_[pos++];
        if (!raw_ && ch == '\\' && pos < s_.size()) {
          ch = s_[pos++];
          if (ch == 'N') {
            if (pos < s_.size() && s_[pos++] == '{') {
              while (pos < s_.size() && s_[pos++] != '}') {
              }
            }
            continue;
          }
        }
        if (ch != '{' && ch != '}') continue;
        if (level == 0) {
          if (pos < s_.size() && s_[pos] == ch) {
            doubled = true;
            break;
          }
          if (ch == '}') syntax_error("f-string: single '}' is not allowed");
        }
        --pos;
        break;
      }
      if (!raw_ && pos > start) decode_escapes(s_.substr(start, pos - start), false);
      if (doubled) {
        ++pos;
        continue;
      }
      if (pos >= s_.size() || s_[pos] == '}') break;
      field(pos, level);
    }
    if (level != 0 && (pos >= s_.size() || s_[pos] != '}')) syntax_error("f-string: expecting '}'");
  }

  // One replacement field, from its '{' to after its '}'.
  void field(std::size_t& pos, int level) {
    if (level >= 2) syntax_error("f-string: expressions nested too deeply");
    ++pos;
    const std::size_t start = pos;
    scan_expression(pos);
    if (pos >= s_.size()) syntax_error("f-string: expecting '}'");
    compile(s_.substr(start, pos - start));
    if (s_[pos] == '=') {
      ++pos;
      while (pos < s_.size() && is_c_space(s_[pos]))
        ++pos;
      if (pos >= s_.size()) syntax_error("f-string: expecting '}'");
    }
    if (s_[pos] == '!') {
      ++pos;
      if (pos >= s_.size()) syntax_error("f-string: expecting '}'");
      const char conversion = s_[pos++];
      if (conversion != 's' && conversion != 'r' && conversion != 'a') {
        syntax_error("f-string: invalid conversion character");
      }
    }
    if (pos < s_.size() && s_[pos] == ':') {
      ++pos;
      if (pos >= s_.size()) syntax_error("f-string: expecting '}'");
      parts(pos, level + 1);
    }
    if (pos >= s_.size() || s_[pos] != '}') syntax_error("f-string: expecting '}'");
    ++pos;
  }

  static bool is_c_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
  }

  // Finds the end of a field's expression: the first '!', ':', '}' or '=' outside brackets
  // and quotes that is not part of "!=", "==", "<=" or ">=".
  void scan_expression(std::size_t& pos) const {
    char quote = 0;
    bool triple = false;
    std::string open;
    for (; pos < s_.size(); ++pos) {
      const char ch = s_[pos];
      if (ch == '\\') syntax_error("f-string expression part cannot include a backslash");
      if (quote != 0) {
        if (ch != quote) continue;
        if (!triple) {
          quote = 0;
        } else if (pos + 2 < s_.size() && s_[pos + 1] == ch && s_[pos + 2] == ch) {
          pos += 2;
          quote = 0;
        }
      } else if (ch == '\'' || ch == '"') {
        triple = pos + 2 < s_.size() && s_[pos + 1] == ch && s_[pos + 2] == ch;
        if (triple) pos += 2;
        quote = ch;
      } else if (ch == '[' || ch == '{' || ch == '(') {
        if (open.size() >= static_cast<std::size_t>(kMaxExprNesting)) {
          syntax_error("f-string: too many nested parenthesis");
        }
        open += ch == '(' ? ')' : ch == '[' ? ']' : '}';
      } else if (ch == '#') {
        syntax_error("f-string expression part cannot include '#'");
      } else if (open.empty() && std::string_view("!:}=<>").find(ch) != std::string_view::npos) {
        const char next = pos + 1 < s_.size() ? s_[pos + 1] : '\0';
        if (next == '=' && ch != ':' && ch != '}') {
          ++pos;
          continue;
        }
        if (ch == '<' || ch == '>') continue;
        return;
      } else if (ch == ']' || ch == '}' || ch == ')') {
        if (open.empty() || open.back() != ch) syntax_error("f-string: unmatched bracket");
        open.pop_back();
      }
    }
    if (quote != 0) syntax_error("f-string: unterminated string");
    if (!open.empty()) syntax_error("f-string: unmatched bracket");
  }

  void compile(std::string_view expression) const {
    if (std::all_of(expression.begin(), expression.end(), is_c_space)) {
      syntax_error("f-string: empty expression not allowed");
    }
    std::string parenthesized = "(";
    parenthesized += expression;
    parenthesized += ')';
    check_formatted_field(parenthesized, nesting_, depth_ + 1);
  }

  std::string_view s_;
  bool raw_;
  Nesting& nesting_;
  int depth_;
};

// ------------------------------------------------------------------ parser

// Binding strength of the binary operators from '|' (1) to the multiplicative ones (6);
// 0 for anything else.
struct BinaryOperator {
  OpKind op;
  int precedence;
};

BinaryOperator binary_operator(const Token& token) noexcept {
  if (token.type != TokenType::Op) return {OpKind::Add, 0};
  switch (token.punct) {
    case Punct::VBar:
      return {OpKind::BitOr, 1};
    case Punct::Circumflex:
      return {OpKind::BitXor, 2};
    case Punct::Amper:
      return {OpKind::BitAnd, 3};
    case Punct::LShift:
      return {OpKind::LShift, 4};
    case Punct::RShift:
      return {OpKind::RShift, 4};
    case Punct::Plus:
      return {OpKind::Add, 5};
    case Punct::Minus:
      return {OpKind::Sub, 5};
    case Punct::Star:
      return {OpKind::Mult, 6};
    case Punct::Slash:
      return {OpKind::Div, 6};
    case Punct::DoubleSlash:
      return {OpKind::FloorDiv, 6};
    case Punct::Percent:
      return {OpKind::Mod, 6};
    case Punct::At:
      return {OpKind::MatMult, 6};
    default:
      return {OpKind::Add, 0};
  }
}

bool is_comparison_punct(Punct punct) noexcept {
  return punct == Punct::Less || punct == Punct::Greater || punct == Punct::EqEqual ||
         punct == Punct::GreaterEqual || punct == Punct::LessEqual || punct == Punct::NotEqual;
}

// Recursive descent over the host's expression grammar, one function per rule. Node ids
// of the evaluated kinds (BinOp, UnaryOp, Name, Constant) carry their children; every other
// construct becomes a leaf of its kind once its syntax has been checked.
class Parser {
 public:
  Parser(std::string_view src, ExprTree& tree, Nesting& nesting, int fstring_depth)
      : lex_(src, nesting), tree_(tree), nesting_(nesting), fstring_depth_(fstring_depth) {}

  // The whole text: expressions, then nothing but line ends.
  NodeId parse_eval() {
    const NodeId body = expressions();
    finish();
    return body;
  }

  // A replacement field of a formatted string, already wrapped in parentheses.
  void parse_formatted_field() {
    star_expressions();
    finish();
  }

 private:
  // Counts one prefix level (unary operator, exponent, lambda body) for as long as it lives.
  class PrefixGuard {
   public:
    explicit PrefixGuard(Nesting& nesting) : nesting_(nesting) {
      if (nesting_.prefix >= kMaxExprNesting) syntax_error("too many nested operators");
      enter_nesting(nesting_);
      ++nesting_.prefix;
    }
    PrefixGuard(const PrefixGuard&) = delete;
    PrefixGuard& operator=(const PrefixGuard&) = delete;
    ~PrefixGuard() {
      --nesting_.prefix;
      --nesting_.total;
    }

   private:
    Nesting& nesting_;
  };

  // ---------------------------------------------------------------- tokens
  const Token& peek(std::size_t ahead = 0) { return lex_.peek(ahead); }
  bool at(Punct punct, std::size_t ahead = 0) {
    const Token& token = peek(ahead);
    return token.type == TokenType::Op && token.punct == punct;
  }
  bool at(Keyword keyword, std::size_t ahead = 0) {
    const Token& token = peek(ahead);
    return token.type == TokenType::Name && token.keyword == keyword;
  }
  bool at_plain_name(std::size_t ahead = 0) {
    const Token& token = peek(ahead);
    return token.type == TokenType::Name && token.keyword == Keyword::None;
  }
  template <class Kind>
  bool accept(Kind kind) {
    if (!at(kind)) return false;
    lex_.next();
    return true;
  }
  template <class Kind>
  void expect(Kind kind) {
    if (!accept(kind)) invalid();
  }
  [[noreturn]] static void invalid() { syntax_error("invalid syntax"); }

  bool at_comprehension() {
    return at(Keyword::For) || (at(Keyword::Async) && at(Keyword::For, 1));
  }

  bool at_expression_start() {
    const Token& token = peek();
    switch (token.type) {
      case TokenType::Number:
      case TokenType::String:
        return true;
      case TokenType::Name:
        return token.keyword == Keyword::None || token.keyword == Keyword::False ||
               token.keyword == Keyword::NoneValue || token.keyword == Keyword::True ||
               token.keyword == Keyword::Not || token.keyword == Keyword::Lambda ||
               token.keyword == Keyword::Await;
      case TokenType::Op:
        return token.punct == Punct::LPar || token.punct == Punct::LSqb ||
               token.punct == Punct::LBrace || token.punct == Punct::Minus ||
               token.punct == Punct::Plus || token.punct == Punct::Tilde ||
               token.punct == Punct::Ellipsis;
      default:
        return false;
    }
  }

  void finish() {
    while (peek().type == TokenType::Newline)
      lex_.next();
    if (peek().type != TokenType::End) invalid();
  }

  // ---------------------------------------------------------------- nodes
  NodeId leaf(NodeKind kind, bool assignable = false) {
    ExprNode node;
    node.kind = kind;
    node.assignable = assignable;
    return tree_.add(node);
  }
  NodeId number(double value) {
    ExprNode node;
    node.number = value;
    return tree_.add(node);
  }
  NodeId huge_int() {
    ExprNode node;
    node.constant = ConstantKind::HugeInt;
    return tree_.add(node);
  }
  NodeId other_constant(std::string literal_form) {
    ExprNode node;
    node.constant = ConstantKind::Other;
    node.text = tree_.add_text(std::move(literal_form));
    return tree_.add(node);
  }
  NodeId binop(OpKind op, NodeId left, NodeId right) {
    ExprNode node;
    node.kind = NodeKind::BinOp;
    node.op = op;
    node.left = left;
    node.right = right;
    return tree_.add(node);
  }
  NodeId unaryop(OpKind op, NodeId operand) {
    ExprNode node;
    node.kind = NodeKind::UnaryOp;
    node.op = op;
    node.left = operand;
    return tree_.add(node);
  }
  bool assignable(NodeId id) const { return tree_.node(id).assignable; }
  bool is_starred(NodeId id) const { return tree_.node(id).kind == NodeKind::Starred; }

  // ---------------------------------------------------------------- expressions
  // expression (',' expression)* [','] - a bare tuple at the top.
  NodeId expressions() {
    const NodeId first = expression();
    if (!at(Punct::Comma)) return first;
    while (accept(Punct::Comma) && at_expression_start())
      expression();
    return leaf(NodeKind::Tuple);
  }

  // star_expression (',' star_expression)* [','] - yield values and formatted fields.
  NodeId star_expressions() {
    const NodeId first = star_expression();
    if (!at(Punct::Comma)) return first;
    while (accept(Punct::Comma) && (at_expression_start() || at(Punct::Star)))
      star_expression();
    return leaf(NodeKind::Tuple);
  }

  NodeId star_expression() {
    if (!accept(Punct::Star)) return expression();
    return starred(binary(1));
  }

  NodeId starred(NodeId inner) { return leaf(NodeKind::Starred, assignable(inner)); }

  // Lambda, or a disjunction with optional "if ... else ..." tails; the tails of a chain of
  // conditionals are read in a loop.
  NodeId expression() {
    if (at(Keyword::Lambda)) return lambdef();
    const NodeId first = disjunction();
    if (!at(Keyword::If)) return first;
    while (accept(Keyword::If)) {
      disjunction();
      expect(Keyword::Else);
      if (at(Keyword::Lambda)) {
        lambdef();
        break;
      }
      disjunction();
    }
    return leaf(NodeKind::IfExp);
  }

  NodeId lambdef() {
    const PrefixGuard guard(nesting_);
    do {
      expect(Keyword::Lambda);
      lambda_parameters();
      expect(Punct::Colon);
    } while (at(Keyword::Lambda));
    expression();
    return leaf(NodeKind::Lambda);
  }

  // Parameters up to the ':' - positional ones with an optional '/' after them, defaults
  // only at the end of the positional ones, '*' with a name or bare (then followed by a
  // named one), '**' with a name last.
  void lambda_parameters() {
    bool slash = false, star = false, bare_star = false, double_star = false, defaults = false;
    int positional = 0;
    while (!at(Punct::Colon)) {
      if (double_star) invalid();
      if (accept(Punct::Slash)) {
        if (slash || star || positional == 0) invalid();
        slash = true;
      } else if (accept(Punct::Star)) {
        if (star) invalid();
        star = true;
        bare_star = !accept_plain_name();
        if (bare_star && !at(Punct::Comma)) invalid();
      } else if (accept(Punct::DoubleStar)) {
        if (!accept_plain_name()) invalid();
        double_star = true;
      } else if (accept_plain_name()) {
        if (accept(Punct::Equal)) {
          expression();
          defaults = defaults || !star;
        } else if (defaults && !star) {
          invalid();  // a parameter without default after one with a default
        }
        if (star) {
          bare_star = false;
        } else {
          ++positional;
        }
      } else {
        invalid();
      }
      if (at(Punct::Equal)) invalid();
      if (!accept(Punct::Comma)) break;
    }
    if (bare_star) invalid();
  }

  bool accept_plain_name() {
    if (!at_plain_name()) return false;
    lex_.next();
    return true;
  }

  NodeId disjunction() {
    const NodeId first = conjunction();
    if (!at(Keyword::Or)) return first;
    while (accept(Keyword::Or))
      conjunction();
    return leaf(NodeKind::BoolOp);
  }

  NodeId conjunction() {
    const NodeId first = inversion();
    if (!at(Keyword::And)) return first;
    while (accept(Keyword::And))
      inversion();
    return leaf(NodeKind::BoolOp);
  }

  NodeId inversion() {
    if (!at(Keyword::Not)) return comparison();
    lex_.next();
    const PrefixGuard guard(nesting_);
    return unaryop(OpKind::Not, inversion());
  }

  NodeId comparison() {
    const NodeId first = binary(1);
    if (!at_comparison_operator()) return first;
    while (at_comparison_operator()) {
      const Token token = lex_.next();
      if (token.keyword == Keyword::Not) {
        expect(Keyword::In);
      } else if (token.keyword == Keyword::Is) {
        accept(Keyword::Not);
      }
      binary(1);
    }
    return leaf(NodeKind::Compare);
  }

  bool at_comparison_operator() {
    const Token& token = peek();
    if (token.type == TokenType::Op) return is_comparison_punct(token.punct);
    return at(Keyword::In) || at(Keyword::Is) || (at(Keyword::Not) && at(Keyword::In, 1));
  }

  // The binary operators from '|' to the multiplicative ones by precedence climbing: a run
  // of operators of one level is built in a loop, grouping to the left.
  NodeId binary(int min_precedence) {
    NodeId left = factor();
    for (;;) {
      const BinaryOperator next = binary_operator(peek());
      if (next.precedence == 0 || next.precedence < min_precedence) return left;
      lex_.next();
      const NodeId right = binary(next.precedence + 1);
      left = binop(next.op, left, right);
    }
  }

  NodeId factor() {
    const Token& token = peek();
    if (token.type != TokenType::Op || (token.punct != Punct::Plus && token.punct != Punct::Minus &&
                                        token.punct != Punct::Tilde)) {
      return power();
    }
    const OpKind op = token.punct == Punct::Plus    ? OpKind::UAdd
                      : token.punct == Punct::Minus ? OpKind::USub
                                                    : OpKind::Invert;
    lex_.next();
    const PrefixGuard guard(nesting_);
    return unaryop(op, factor());
  }

  // A power binds tighter than a sign on its left and takes a signed factor on its right.
  NodeId power() {
    const NodeId base = await_primary();
    if (!accept(Punct::DoubleStar)) return base;
    const PrefixGuard guard(nesting_);
    return binop(OpKind::Pow, base, factor());
  }

  NodeId await_primary() {
    if (!accept(Keyword::Await)) return primary();
    primary();
    return leaf(NodeKind::Await);
  }

  // An atom followed by attribute names, call arguments and subscripts, in a loop.
  NodeId primary() {
    NodeId node = atom();
    for (;;) {
      if (accept(Punct::Dot)) {
        if (!accept_plain_name()) invalid();
        node = leaf(NodeKind::Attribute, true);
      } else if (accept(Punct::LPar)) {
        call_arguments();
        node = leaf(NodeKind::Call);
      } else if (accept(Punct::LSqb)) {
        subscript();
        node = leaf(NodeKind::Subscript, true);
      } else {
        return node;
      }
    }
  }

  NodeId atom() {
    const Token token = peek();
    switch (token.type) {
      case TokenType::Name:
        return name_atom(token);
      case TokenType::Number:
        lex_.next();
        return number_atom(token);
      case TokenType::String:
        return strings();
      case TokenType::Op:
        if (token.punct == Punct::LPar) return parenthesized();
        if (token.punct == Punct::LSqb) return list_display();
        if (token.punct == Punct::LBrace) return brace_display();
        if (token.punct == Punct::Ellipsis) {
          lex_.next();
          return other_constant("Ellipsis");
        }
        invalid();
      default:
        invalid();
    }
  }

  NodeId name_atom(const Token& token) {
    lex_.next();
    switch (token.keyword) {
      case Keyword::None: {
        const std::string_view raw = lex_.text(token);
        const bool ascii = std::all_of(raw.begin(), raw.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        ExprNode node;
        node.kind = NodeKind::Name;
        node.assignable = true;
        node.text = tree_.add_text(ascii ? std::string(raw) : normalized_name(raw));
        return tree_.add(node);
      }
      case Keyword::True:
        return number(1.0);
      case Keyword::False:
        return number(0.0);
      case Keyword::NoneValue:
        return other_constant("None");
      default:
        invalid();
    }
  }

  NodeId number_atom(const Token& token) {
    const std::string_view text = lex_.text(token);
    switch (token.number) {
      case NumberForm::Zero:
        return number(0.0);
      case NumberForm::Hex:
      case NumberForm::Octal:
      case NumberForm::Binary: {
        const int bits = token.number == NumberForm::Hex     ? 4
                         : token.number == NumberForm::Octal ? 3
                                                             : 1;
        const std::optional<double> value = based_int_value(text.substr(2), bits);
        return value ? number(*value) : huge_int();
      }
      case NumberForm::Imaginary:
        return other_constant(
            imaginary_repr(read_float(text.substr(0, text.size() - 1)).value_or(0.0)));
      case NumberForm::Float:
        return number(read_float(text).value_or(0.0));
      default: {
        // A decimal integer rounds to the same double as its text read as a float, and is
        // too large exactly when that read overflows.
        const double value = read_float(text).value_or(0.0);
        return std::isinf(value) ? huge_int() : number(value);
      }
    }
  }

  // Adjacent string literals concatenate; bytes and text do not mix, and any formatted
  // piece makes the whole a formatted string.
  NodeId strings() {
    bool bytes = false, text = false, formatted = false;
    std::string value;
    while (peek().type == TokenType::String) {
      const StringPiece piece = split_string_token(lex_.text(lex_.next()));
      (piece.bytes ? bytes : text) = true;
      if (bytes && text) syntax_error("cannot mix bytes and nonbytes literals");
      if (piece.formatted) {
        formatted = true;
        FormattedStringChecker(piece.body, piece.raw, nesting_, fstring_depth_).check();
        continue;
      }
      if (piece.bytes && std::any_of(piece.body.begin(), piece.body.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80;
          })) {
        syntax_error("bytes can only contain ASCII literal characters");
      }
      value += piece.raw ? std::string(piece.body) : decode_escapes(piece.body, piece.bytes);
    }
    if (formatted) return leaf(NodeKind::JoinedStr);
    return other_constant(bytes ? bytes_repr(value) : quoted(value));
  }

  // '(' ... ')': empty tuple, yield, group, generator or tuple.
  NodeId parenthesized() {
    lex_.next();
    if (accept(Punct::RPar)) return leaf(NodeKind::Tuple, true);
    if (at(Keyword::Yield)) {
      const NodeId node = yield_expression();
      expect(Punct::RPar);
      return node;
    }
    const NodeId first = star_named_expression();
    if (at_comprehension() && !is_starred(first)) {
      comprehension_clauses();
      expect(Punct::RPar);
      return leaf(NodeKind::GeneratorExp);
    }
    if (at(Punct::Comma)) return sequence_rest(first, Punct::RPar, NodeKind::Tuple);
    expect(Punct::RPar);
    if (is_starred(first)) syntax_error("cannot use starred expression here");
    return first;
  }

  NodeId list_display() {
    lex_.next();
    if (accept(Punct::RSqb)) return leaf(NodeKind::List, true);
    const NodeId first = star_named_expression();
    if (at_comprehension() && !is_starred(first)) {
      comprehension_clauses();
      expect(Punct::RSqb);
      return leaf(NodeKind::ListComp);
    }
    return sequence_rest(first, Punct::RSqb, NodeKind::List);
  }

  // The elements after the first of a tuple, list or set, up to the closing bracket.
  NodeId sequence_rest(NodeId first, Punct close, NodeKind kind) {
    bool all_assignable = assignable(first);
    while (accept(Punct::Comma) && !at(close)) {
      all_assignable = assignable(star_named_expression()) && all_assignable;
    }
    expect(close);
    return leaf(kind, all_assignable && kind != NodeKind::Set);
  }

  // '{' ... '}': dict, set, or their comprehensions.
  NodeId brace_display() {
    lex_.next();
    if (accept(Punct::RBrace)) return leaf(NodeKind::Dict);
    if (accept(Punct::DoubleStar)) {
      binary(1);
      return dict_rest();
    }
    NodeId first = kNoNode;
    if (at(Punct::Star) || (at_plain_name() && at(Punct::ColonEqual, 1))) {
      first = star_named_expression();
    } else {
      first = expression();
      if (at(Punct::ColonEqual)) invalid();
      if (accept(Punct::Colon)) {
        expression();
        if (!at_comprehension()) return dict_rest();
        comprehension_clauses();
        expect(Punct::RBrace);
        return leaf(NodeKind::DictComp);
      }
    }
    if (at_comprehension() && !is_starred(first)) {
      comprehension_clauses();
      expect(Punct::RBrace);
      return leaf(NodeKind::SetComp);
    }
    return sequence_rest(first, Punct::RBrace, NodeKind::Set);
  }

  NodeId dict_rest() {
    while (accept(Punct::Comma) && !at(Punct::RBrace)) {
      if (accept(Punct::DoubleStar)) {
        binary(1);
      } else {
        expression();
        expect(Punct::Colon);
        expression();
      }
    }
    expect(Punct::RBrace);
    return leaf(NodeKind::Dict);
  }

  NodeId star_named_expression() {
    if (!accept(Punct::Star)) return named_expression();
    return starred(binary(1));
  }

  // NAME ':=' expression, or an expression not followed by ':='.
  NodeId named_expression() {
    if (at_plain_name() && at(Punct::ColonEqual, 1)) {
      lex_.next();
      lex_.next();
      expression();
      return leaf(NodeKind::NamedExpr);
    }
    const NodeId node = expression();
    if (at(Punct::ColonEqual)) invalid();
    return node;
  }

  NodeId yield_expression() {
    expect(Keyword::Yield);
    if (accept(Keyword::From)) {
      expression();
      return leaf(NodeKind::YieldFrom);
    }
    if (at_expression_start() || at(Punct::Star)) star_expressions();
    return leaf(NodeKind::Yield);
  }

  // ('async'? 'for' targets 'in' disjunction ('if' disjunction)*)+
  void comprehension_clauses() {
    do {
      accept(Keyword::Async);
      expect(Keyword::For);
      do {
        star_target();
      } while (accept(Punct::Comma) && !at(Keyword::In));
      expect(Keyword::In);
      disjunction();
      while (accept(Keyword::If))
        disjunction();
    } while (at_comprehension());
  }

  // A target: a name, attribute or subscript, a starred target, or a tuple or list of them.
  void star_target() {
    if (accept(Punct::Star)) {
      if (at(Punct::Star)) invalid();
      star_target();
      return;
    }
    if (!assignable(binary(1))) syntax_error("cannot assign to expression");
  }

  // The arguments of a call after its '(': positional ones (and *iterables), then keyword
  // ones (and *iterables), then keyword ones and **mappings; or one bare generator.
  void call_arguments() {
    bool keywords = false, mappings = false;
    for (int count = 0;; ++count) {
      if (at(Punct::RPar)) break;
      if (accept(Punct::Star)) {
        expression();
        if (mappings)
          syntax_error("iterable argument unpacking follows keyword argument unpacking");
      } else if (accept(Punct::DoubleStar)) {
        expression();
        mappings = true;
      } else if (at_plain_name() && at(Punct::Equal, 1)) {
        lex_.next();
        lex_.next();
        expression();
        keywords = true;
      } else {
        named_expression();
        if (at(Punct::Equal)) syntax_error("expression cannot contain assignment");
        if (at_comprehension()) {
          if (count > 0) syntax_error("Generator expression must be parenthesized");
          comprehension_clauses();
          break;
        }
        if (keywords || mappings) syntax_error("positional argument follows keyword argument");
      }
      if (!accept(Punct::Comma)) break;
    }
    expect(Punct::RPar);
  }

  // The slices of a subscript after its '[': one or more slices or *expressions.
  void subscript() {
    do {
      if (accept(Punct::Star)) {
        expression();
      } else {
        slice();
      }
    } while (accept(Punct::Comma) && !at(Punct::RSqb));
    expect(Punct::RSqb);
  }

  // [lower] ':' [upper] [':' [step]], or a named expression.
  void slice() {
    if (at_plain_name() && at(Punct::ColonEqual, 1)) {
      named_expression();
      return;
    }
    if (!at(Punct::Colon)) {
      named_expression();
      if (!at(Punct::Colon)) return;
    }
    lex_.next();
    if (!at(Punct::Colon) && !at(Punct::Comma) && !at(Punct::RSqb)) expression();
    if (accept(Punct::Colon) && !at(Punct::Comma) && !at(Punct::RSqb)) expression();
  }

  Lexer lex_;
  ExprTree& tree_;
  Nesting& nesting_;
  int fstring_depth_;
};

void check_formatted_field(std::string_view parenthesized, Nesting& nesting, int fstring_depth) {
  // The quoting rules already bound how deep formatted strings nest; this bound only
  // guards against a flaw in that reasoning.
  if (fstring_depth > 8) syntax_error("f-string: expressions nested too deeply");
  ExprTree scratch;
  Parser(parenthesized, scratch, nesting, fstring_depth).parse_formatted_field();
}

// The host reads "\r\n" and a lone "\r" as line feeds before tokenizing.
std::string with_line_feeds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
  }
  return out;
}

}  // namespace

ExprTree parse_expression(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    syntax_error("source code cannot contain null bytes");
  }
  try {
    validate_utf8(text);
  } catch (const ValueError& e) {
    syntax_error(e.what());
  }
  const std::string source = with_line_feeds(text);
  ExprTree tree;
  Nesting nesting;
  const NodeId body = Parser(source, tree, nesting, 0).parse_eval();
  ExprNode root;
  root.kind = NodeKind::Expression;
  root.left = body;
  tree.set_root(tree.add(root));
  return tree;
}

}  // namespace corvane::qasm3::detail
