#include "qasm/lower/lexer.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "qasm/lower/syntax.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {
namespace {

// Longest symbols first, so that a prefix never wins over the whole symbol.
constexpr std::array<std::string_view, 23> MULTI_CHARACTER_SYMBOLS = {
    "**=", "<<=", ">>=", "->", "++", "**", "<<", ">>", "<=", ">=", "==",  "!=",
    "&&",  "||",  "+=",  "-=", "*=", "/=", "&=", "|=", "^=", "%=", "#dim"};
constexpr std::string_view MULTI_CHARACTER_STARTS = "*<>-+=!&|/^%#";
constexpr std::string_view SINGLE_CHARACTER_SYMBOLS = "[]{}():;.,=+-*/%|&^~!<>@";
constexpr std::array<std::string_view, 6> TIME_UNITS = {"dt", "ns", "us", "\xC2\xB5s", "ms", "s"};

bool is_time_unit(std::string_view word) {
  return std::find(TIME_UNITS.begin(), TIME_UNITS.end(), word) != TIME_UNITS.end();
}

// The classes of bytes the lexer asks about for every token, one table look-up each.
enum ByteClass : unsigned char {
  BLANK = 1,                 // the ASCII blanks between tokens
  NAME_START = 2,            // ASCII letters and '_'
  NAME_PART = 4,             // ASCII letters, digits and '_'
  SYMBOL = 8,                // a symbol of one character
  LONGER_SYMBOL_START = 16,  // the first character of a longer symbol
  OTHER_GAP_START = 32,      // what else may start the gap between tokens: '/', \v, \f, non-ASCII
};
constexpr std::array<unsigned char, 256> BYTE_CLASSES = [] {
  std::array<unsigned char, 256> classes{};
  for (const char c : std::string_view(" \t\n\r"))
    classes[static_cast<unsigned char>(c)] |= BLANK;
  for (int c = 0; c < 128; ++c) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (letter) classes[static_cast<std::size_t>(c)] |= NAME_START | NAME_PART;
    if (c >= '0' && c <= '9') classes[static_cast<std::size_t>(c)] |= NAME_PART;
  }
  for (const char c : SINGLE_CHARACTER_SYMBOLS)
    classes[static_cast<unsigned char>(c)] |= SYMBOL;
  for (const char c : MULTI_CHARACTER_STARTS)
    classes[static_cast<unsigned char>(c)] |= LONGER_SYMBOL_START;
  for (const char c : std::string_view("/\v\f"))
    classes[static_cast<unsigned char>(c)] |= OTHER_GAP_START;
  for (std::size_t c = 0x80; c < 256; ++c)
    classes[c] |= OTHER_GAP_START;
  return classes;
}();

// The characters that follow the first of a longer symbol: after any other, a symbol is
// one character long (the `-` of a negative number, mostly).
constexpr std::array<bool, 256> LONGER_SYMBOL_SECONDS = [] {
  std::array<bool, 256> seconds{};
  for (const std::string_view symbol : MULTI_CHARACTER_SYMBOLS)
    seconds[static_cast<unsigned char>(symbol[1])] = true;
  return seconds;
}();

bool in_class(char c, unsigned byte_classes) noexcept {
  return (BYTE_CLASSES[static_cast<unsigned char>(c)] & byte_classes) != 0;
}

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
    if (in_class(c, BLANK)) {
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
  const char first = text_[pos_];
  if (first != '#' && first != 'p' && first != '@') return false;
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
    if (!in_class(c, NAME_START)) return 0;
    return name_end(at + 1) - at;
  }
  const CodePoint cp = decode_at(text_, at);
  if (!is_word(cp.value) || is_digit(cp.value)) return 0;
  return word_run(text_, at);
}

// Where the \w run from `at` ends: names are ASCII nearly always, and scanned here; a
// byte of another script hands over to the Unicode-aware scan.
std::size_t Lexer::name_end(std::size_t at) const noexcept {
  while (at < text_.size() && in_class(text_[at], NAME_PART))
    ++at;
  if (at < text_.size() && static_cast<unsigned char>(text_[at]) >= 0x80) at += word_run(text_, at);
  return at;
}

// Inline, as next() is its one caller: a call per token costs more than its body.
inline Token Lexer::next_token() {
  const std::size_t start = pos_;
  const char c = text_[pos_];
  if (in_class(c, NAME_START)) {
    pos_ = name_end(pos_ + 1);
    return make(TokenKind::IDENTIFIER, start);
  }
  // Brackets, commas and ';' stand alone whatever follows them.
  if ((BYTE_CLASSES[static_cast<unsigned char>(c)] & (SYMBOL | LONGER_SYMBOL_START)) == SYMBOL &&
      c != '.')
    return one_character_symbol(start);
  if (in_class(c, SYMBOL | LONGER_SYMBOL_START) && !(c == '.' && is_ascii_digit(peek(1))))
    return symbol(start);
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
  fail(start,
       "Unexpected character " + quoted(text_.substr(start, decode_at(text_, start).length)));
}

// The longest symbol at `start`, whose first character starts one.
Token Lexer::symbol(std::size_t start) {
  const char c = text_[start];
  if (in_class(c, LONGER_SYMBOL_START) &&
      LONGER_SYMBOL_SECONDS[static_cast<unsigned char>(peek(1))]) {
    const std::string_view rest(text_.data() + pos_, text_.size() - pos_);
    for (const std::string_view symbol : MULTI_CHARACTER_SYMBOLS) {
      if (symbol[0] == c && starts_with_text(rest, symbol)) {
        pos_ += symbol.size();
        return make(TokenKind::SYMBOL, start);
      }
    }
  }
  if (!in_class(c, SYMBOL)) {
    fail(start,
         "Unexpected character " + quoted(text_.substr(start, decode_at(text_, start).length)));
  }
  return one_character_symbol(start);
}

Token Lexer::one_character_symbol(std::size_t start) {
  const char c = text_[start];
  ++pos_;
  return make(TokenKind::SYMBOL, start, c == ';' || c == '{' || c == '}');
}

// Digits with single '_' separators; false when there is no digit.
// A template, so that the test of each digit is inlined rather than called.
template <class IsAllowed>
bool Lexer::digits(IsAllowed is_allowed) {
  if (!is_allowed(peek())) return false;
  for (;;) {
    while (pos_ < text_.size() && is_allowed(text_[pos_]))
      ++pos_;
    if (peek() != '_' || !is_allowed(peek(1))) return true;
    ++pos_;
  }
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
  // Nearly every number ends before a bracket, a comma or a blank, not a suffix.
  if (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) < 0x80 &&
      !in_class(text_[pos_], NAME_START)) {
    if (text_[pos_] == ' ' || text_[pos_] == '\t') return suffixed_after_blanks(start, kind);
    return make(kind, start);
  }
  return suffixed(start, kind);
}

// The grammar lets blanks stand between a number and its time unit or `im` (`100 ns`);
// any other word after them is a token of its own.
Token Lexer::suffixed_after_blanks(std::size_t start, TokenKind kind) {
  std::size_t at = pos_;
  while (at < text_.size() && (text_[at] == ' ' || text_[at] == '\t'))
    ++at;
  const std::string_view word = text_.substr(at, identifier_length(at));
  if (word != "im" && !is_time_unit(word)) return make(kind, start);
  pos_ = at + word.size();
  return make(word == "im" ? TokenKind::IMAGINARY : TokenKind::DURATION, start);
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
  if (is_time_unit(suffix)) {
    pos_ += name;
    return make(TokenKind::DURATION, start);
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
    // Most gaps are a blank or two, skipped here; comments and the rarer blanks there.
    while (pos_ < text_.size() && in_class(text_[pos_], BLANK))
      ++pos_;
    if (pos_ < text_.size() && in_class(text_[pos_], OTHER_GAP_START)) skip_blanks_and_comments();
    if (pos_ >= text_.size())
      return Token{TokenKind::END, text_.substr(text_.size()), text_.size()};
    if (!at_statement_start_ || !skip_line_directive()) break;
  }
  return next_token();
}

}  // namespace corvane::qasm3::detail::lower
