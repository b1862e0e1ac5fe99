// Tokens and literal values of parameter expressions: what the tokenizer
// (qasm3_eval_lex.cpp) hands to the parser (qasm3_eval_parse.cpp). Private to the evaluator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::qasm3::detail::expr {

// Deepest nesting of brackets, and of prefix operators, power exponents and lambda bodies,
// that the parser follows (Python's tokenizer has the same bracket limit); together, and
// across the expressions inside formatted strings, at most twice that.
inline constexpr int MAX_EXPR_NESTING = 200;

struct Nesting {
  int total = 0;   // open brackets of every tokenizer plus prefix levels
  int prefix = 0;  // prefix operators, exponents and lambda bodies being parsed
};

// Counts one more level of `nesting.total`; SyntaxError past the limit.
void enter_nesting(Nesting& nesting);

enum class TokenType : std::uint8_t { End, Newline, Name, Number, String, Op };

// Operators and delimiters. Other stands for the statement-only ones (";", "+=", "->", ...),
// which are never valid in an expression.
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
  Other
};

// Reserved words: the ones the grammar uses by name, and Other for the rest.
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
  Other
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

// Produces tokens on demand with a short look-ahead, following Python's tokenizer: line
// breaks inside brackets and after a backslash are ignored, "#" starts a comment, a number
// may not run into a name (except the keywords that may follow a number), brackets must
// match. Any malformed token is a SyntaxError.
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

  Token make(TokenType type, std::size_t begin, std::size_t end);
  Token scan();
  Token scan_name();
  Token scan_string(std::size_t begin, std::size_t quote_pos);
  Token scan_number();
  Token scan_operator();
  [[nodiscard]] std::size_t decimal_tail(std::size_t pos) const;
  [[nodiscard]] std::size_t based_digits(std::size_t pos, int base) const;
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

// ------------------------------------------------------------------ literal values
// A non-ASCII name as Python stores it: checked to be an identifier character by
// character, then in its compatibility-composed form (full-width "ｐｉ" names pi).
std::string normalized_name(std::string_view raw);

// An integer in base 2, 8 or 16 of any length (digits and underscores), rounded to the
// nearest double, ties to even; nothing when it lies beyond the double range.
std::optional<double> based_int_value(std::string_view digits, int bits_per_digit);

// The literal form of an imaginary number: "2j", "1.5j", "1e+16j", "infj".
std::string imaginary_repr(double imag);

// Decodes the backslash escapes of a text or bytes literal body; SyntaxError for a
// malformed one.
std::string decode_escapes(std::string_view body, bool bytes);

// One string token split into its prefix flags and the text between its quotes.
struct StringPiece {
  bool bytes = false;
  bool raw = false;
  bool formatted = false;
  std::string_view body;
};
StringPiece split_string_token(std::string_view token);

}  // namespace corvane::qasm3::detail::expr
