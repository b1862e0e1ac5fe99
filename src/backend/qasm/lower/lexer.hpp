// The lowering front end's lexer: program text -> tokens with byte offsets, after the
// lexical grammar of OpenQASM 3 (comments and blanks dropped, `#pragma` lines and
// annotations dropped where a statement starts).
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

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

// The tokens of `text`, ending with one END token. Raises ValueError with the place of
// the offending character for text that is not a token (an unterminated comment or
// string, a stray character). `text` must be valid UTF-8 and outlive the tokens.
std::vector<Token> tokenize(std::string_view text);

}  // namespace corvane::qasm3::detail::lower
