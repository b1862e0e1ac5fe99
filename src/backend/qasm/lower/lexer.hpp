// The lowering front end's lexer: program text -> tokens with byte offsets, after the
// lexical grammar of OpenQASM 3 (comments and blanks dropped, `#pragma` lines and
// annotations dropped where a statement starts).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::qasm3::detail::lower {

enum class TokenKind : unsigned char {
  IDENTIFIER,      // names and keywords alike; the parser tells them apart
  INTEGER,         // 12, 0x1F, 0b1_0, 0o17
  FLOAT,           // 1.5, .5, 1e-3, 2.
  IMAGINARY,       // 1.5im
  DURATION,        // 100ns, 2.5us, 10dt
  STRING,          // "..." or '...' (file names and bit strings), quotes included
  HARDWARE_QUBIT,  // $0
  SYMBOL,          // operators and punctuation
  END,             // after the last token
};

struct Token {
  TokenKind kind = TokenKind::END;
  std::string_view text;
  std::size_t offset = 0;
};

// Reads the tokens of a text one at a time, ending with END tokens. Raises ValueError with
// the place of the offending character for text that is not a token (an unterminated
// comment or string, a stray character). The text must be valid UTF-8 and outlive the
// lexer and its tokens.
class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}
  Token next();

  // Where the lexer stands, to come back to after reading on too far.
  struct Place {
    std::size_t pos;
    bool at_statement_start;
  };
  Place place() const noexcept { return {pos_, at_statement_start_}; }
  void return_to(const Place& place) noexcept {
    pos_ = place.pos;
    at_statement_start_ = place.at_statement_start;
  }

 private:
  [[noreturn]] void fail(std::size_t offset, const std::string& message) const;
  char peek(std::size_t ahead = 0) const noexcept {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }
  void skip_blanks_and_comments();
  bool skip_line_directive();
  std::size_t identifier_length(std::size_t at) const noexcept;
  std::size_t name_end(std::size_t at) const noexcept;
  // Every token but END is made here, noting whether a statement starts after it. Each
  // caller returns what it makes, so that the token is built in its final place: one
  // built on the stack first is copied there with wide loads that stall on the narrow
  // stores that have just made it.
  Token make(TokenKind kind, std::size_t start, bool statement_follows = false) {
    at_statement_start_ = statement_follows;
    Token token;
    token.kind = kind;
    token.text = std::string_view(text_.data() + start, pos_ - start);
    token.offset = start;
    return token;
  }
  Token next_token();
  Token symbol(std::size_t start);
  Token one_character_symbol(std::size_t start);
  template <class IsAllowed>
  bool digits(IsAllowed is_allowed);
  Token number(std::size_t start);
  Token suffixed(std::size_t start, TokenKind kind);
  Token suffixed_after_blanks(std::size_t start, TokenKind kind);
  Token string_literal(std::size_t start);

  std::string_view text_;
  std::size_t pos_ = 0;
  // Pragmas and annotations are recognised where a statement starts: at the beginning
  // and after ';', '{' or '}'.
  bool at_statement_start_ = true;
};

}  // namespace corvane::qasm3::detail::lower
