#include "lower/lexer.hpp"

#include <array>
#include <string>

#include "lower/syntax.hpp"
#include "text.hpp"

namespace corvane::qasm3::detail::lower {
namespace {

// Longest symbols first, so that a prefix never wins over the whole symbol.
constexpr std::array<std::string_view, 23> MULTI_CHARACTER_SYMBOLS = {
    "**=", "<<=", ">>=", "->", "++", "**", "<<", ">>", "<=", ">=", "==",  "!=",
    "&&",  "||",  "+=",  "-=", "*=", "/=", "&=", "|=", "^=", "%=", "#dim"};
// The first characters of those, so that brackets and commas skip the search.
constexpr std::string_view MULTI_CHARACTER_STARTS = "*<>-+=!&|/^%#";
constexpr std::string_view SINGLE_CHARACTER_SYMBOLS = "[]{}():;.,=+-*/%|&^~!<>@";
constexpr std::array<std::string_view, 6> TIME_UNITS = {"dt", "ns", "us", "\xC2\xB5s", "ms", "s"};

bool is_ascii_digit(char c) noexcept {
  return c >= '0' && c <= '9';
}

}  // namespace

void Lexer::fail(std::size_t offset, const std::string& message) const {
  raise_at(text_, offset, raise_value_error, message);
}

void Lexer::skip_blanks_and_comments() {
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++pos_;
    } else if (c == '/' && peek(1) == '/') {
      const std::size_t end = text_.find('\n', pos_);
      pos_ = end == std::string_view::npos ? text_.size() : end;
    } else if (c == '/' && peek(1) == '*') {
      const std::size_t end = text_.find("*/", pos_ + 2);
      if (end == std::string_view::npos) fail(pos_, "Unterminated block comment");
      pos_ = end + 2;
    } else if (static_cast<unsigned char>(c) >= 0x80 || c == '\v' || c == '\f') {
      const std::size_t run = space_run(text_, pos_);
      if (run == 0) return;
      pos_ += run;
    } else {
      return;
    }
  }
}

// Pragmas and annotations run to the end of their line; they never change the
// circuit, so they are dropped here whole.
bool Lexer::skip_line_directive() {
  const std::string_view rest = text_.substr(pos_);
  const bool pragma = (starts_with_text(rest, "#pragma") || starts_with_text(rest, "pragma")) &&
                      word_run(text_, pos_ + (rest[0] == '#' ? 1 : 0)) == 6;
  const bool annotation = rest[0] == '@' && rest.size() > 1 && identifier_length(pos_ + 1) > 0;
  if (!pragma && !annotation) return false;
  const std::size_t end = text_.find('\n', pos_);
  pos_ = end == std::string_view::npos ? text_.size() : end;
  return true;
}

// Identifiers start with a letter or '_' of any script and go on with letters and
// ASCII digits; other scripts' digits are letters' companions in \w, so they are
// accepted inside names too.
std::size_t Lexer::identifier_length(std::size_t at) const noexcept {
  if (at >= text_.size()) return 0;
  const char c = text_[at];
  if (static_cast<unsigned char>(c) < 0x80) {
    if (!is_ident_start(c)) return 0;
  } else {
    const CodePoint cp = decode_at(text_, at);
    if (!is_word(cp.value) || is_digit(cp.value)) return 0;
  }
  return word_run(text_, at);
}

// Every token but END is made here, which also notes whether a statement starts after it.
Token Lexer::make(TokenKind kind, std::size_t start) {
  at_statement_start_ = kind == TokenKind::SYMBOL && pos_ - start == 1 &&
                        (text_[start] == ';' || text_[start] == '{' || text_[start] == '}');
  return Token{kind, text_.substr(start, pos_ - start), start};
}

Token Lexer::next_token() {
  const std::size_t start = pos_;
  const char c = text_[pos_];
  if (const std::size_t name = identifier_length(pos_); name > 0) {
    pos_ += name;
    return make(TokenKind::IDENTIFIER, start);
  }
  if (is_ascii_digit(c) || (c == '.' && is_ascii_digit(peek(1)))) return number(start);
  if (c == '"' || c == '\'') return string_literal(start);
  if (c == '$' && is_ascii_digit(peek(1))) {
    ++pos_;
    while (is_ascii_digit(peek()))
      ++pos_;
    return make(TokenKind::HARDWARE_QUBIT, start);
  }
  if (is_one_of(c, MULTI_CHARACTER_STARTS)) {
    for (const std::string_view symbol : MULTI_CHARACTER_SYMBOLS) {
      if (starts_with_text(text_.substr(pos_), symbol)) {
        pos_ += symbol.size();
        return make(TokenKind::SYMBOL, start);
      }
    }
  }
  if (is_one_of(c, SINGLE_CHARACTER_SYMBOLS)) {
    ++pos_;
    return make(TokenKind::SYMBOL, start);
  }
  fail(start,
       "Unexpected character " + quoted(text_.substr(start, decode_at(text_, start).length)));
}

// Digits with single '_' separators; false when there is no digit.
// A template, so that the test of each digit is inlined rather than called.
template <class IsAllowed>
bool Lexer::digits(IsAllowed is_allowed) {
  if (!is_allowed(peek())) return false;
  while (is_allowed(peek()) || (peek() == '_' && is_allowed(peek(1))))
    ++pos_;
  return true;
}

Token Lexer::number(std::size_t start) {
  const auto decimal = [](char d) { return is_ascii_digit(d); };
  const char base = static_cast<char>(peek(1) | 0x20);
  if (peek() == '0' && (base == 'x' || base == 'b' || base == 'o')) {
    pos_ += 2;
    const bool any = base == 'x'   ? digits([](char d) {
      return is_ascii_digit(d) || ((d | 0x20) >= 'a' && (d | 0x20) <= 'f');
    })
                     : base == 'b' ? digits([](char d) { return d == '0' || d == '1'; })
                                   : digits([](char d) { return d >= '0' && d <= '7'; });
    if (!any) fail(start, "Malformed number " + quoted(text_.substr(start, pos_ - start)));
    return suffixed(start, TokenKind::INTEGER);
  }
  TokenKind kind = TokenKind::INTEGER;
  digits(decimal);
  if (peek() == '.') {
    ++pos_;
    digits(decimal);
    kind = TokenKind::FLOAT;
  }
  if ((peek() | 0x20) == 'e' && (is_ascii_digit(peek(1)) ||
                                 ((peek(1) == '+' || peek(1) == '-') && is_ascii_digit(peek(2))))) {
    pos_ += is_ascii_digit(peek(1)) ? 1 : 2;
    digits(decimal);
    kind = TokenKind::FLOAT;
  }
  return suffixed(start, kind);
}

// A time unit or `im` right after a number makes it a duration or an imaginary number.
Token Lexer::suffixed(std::size_t start, TokenKind kind) {
  const std::size_t name = identifier_length(pos_);
  const std::string_view suffix = text_.substr(pos_, name);
  if (name == 0) return make(kind, start);
  if (suffix == "im") {
    pos_ += name;
    return make(TokenKind::IMAGINARY, start);
  }
  for (const std::string_view unit : TIME_UNITS) {
    if (suffix == unit) {
      pos_ += name;
      return make(TokenKind::DURATION, start);
    }
  }
  fail(start, "Malformed number " + quoted(text_.substr(start, pos_ + name - start)));
}

Token Lexer::string_literal(std::size_t start) {
  const char quote = text_[pos_];
  for (++pos_; pos_ < text_.size(); ++pos_) {
    const char c = text_[pos_];
    if (c == quote) {
      ++pos_;
      return make(TokenKind::STRING, start);
    }
    if (c == '\n' || c == '\r') break;
  }
  fail(start, "Unterminated string literal");
}

Token Lexer::next() {
  for (;;) {
    skip_blanks_and_comments();
    if (pos_ >= text_.size())
      return Token{TokenKind::END, text_.substr(text_.size()), text_.size()};
    if (!at_statement_start_ || !skip_line_directive()) break;
  }
  return next_token();
}

}  // namespace corvane::qasm3::detail::lower
