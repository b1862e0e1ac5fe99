// The parser of parameter expressions. It recognises the whole expression grammar of
// Python, whose conventions parameters follow (every operator, call, subscript,
// display, comprehension, lambda, string and number form), so that each construct outside
// the evaluated subset is rejected by its kind name rather than as a syntax error. Only the
// evaluated kinds keep their children; every other construct is validated and kept as a leaf.
//
// Hostile text is bounded: brackets nest at most 200 deep, as do chains of prefix operators
// and powers; flat chains ("1+1+...") are built in loops; the tokenizer works on demand.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "qasm/import/qasm3_eval.hpp"
#include "qasm/import/qasm3_eval_lex.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {
namespace {

using expr::based_int_value;
using expr::decode_escapes;
using expr::imaginary_repr;
using expr::Keyword;
using expr::Lexer;
using expr::MAX_EXPR_NESTING;
using expr::Nesting;
using expr::normalized_name;
using expr::NumberForm;
using expr::Punct;
using expr::split_string_token;
using expr::StringPiece;
using expr::Token;
using expr::TokenType;

// Parses the text "(" + field + ")" of one replacement field of a formatted string;
// defined with the parser below.
void check_formatted_field(std::string_view parenthesized, Nesting& nesting, int fstring_depth);

// Checks the body of a formatted string the way Python does: literal pieces with their
// escapes, doubled braces, replacement fields with an expression, an optional "=", a
// conversion "!s", "!r" or "!a" and a format suffix after ":" that may hold one more level
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
  // format suffix (level 1).
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
          if (ch == '}') raise_syntax_error("f-string: single '}' is not allowed");
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
    if (level != 0 && (pos >= s_.size() || s_[pos] != '}'))
      raise_syntax_error("f-string: expecting '}'");
  }

  // One replacement field, from its '{' to after its '}'.
  void field(std::size_t& pos, int level) {
    if (level >= 2) raise_syntax_error("f-string: expressions nested too deeply");
    ++pos;
    const std::size_t start = pos;
    scan_expression(pos);
    if (pos >= s_.size()) raise_syntax_error("f-string: expecting '}'");
    compile(s_.substr(start, pos - start));
    if (s_[pos] == '=') {
      ++pos;
      while (pos < s_.size() && is_c_space(s_[pos]))
        ++pos;
      if (pos >= s_.size()) raise_syntax_error("f-string: expecting '}'");
    }
    if (s_[pos] == '!') {
      ++pos;
      if (pos >= s_.size()) raise_syntax_error("f-string: expecting '}'");
      const char conversion = s_[pos++];
      if (conversion != 's' && conversion != 'r' && conversion != 'a') {
        raise_syntax_error("f-string: invalid conversion character");
      }
    }
    if (pos < s_.size() && s_[pos] == ':') {
      ++pos;
      if (pos >= s_.size()) raise_syntax_error("f-string: expecting '}'");
      parts(pos, level + 1);
    }
    if (pos >= s_.size() || s_[pos] != '}') raise_syntax_error("f-string: expecting '}'");
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
      if (ch == '\\') raise_syntax_error("f-string expression part cannot include a backslash");
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
        if (open.size() >= static_cast<std::size_t>(MAX_EXPR_NESTING)) {
          raise_syntax_error("f-string: too many nested parenthesis");
        }
        open += ch == '(' ? ')' : ch == '[' ? ']' : '}';
      } else if (ch == '#') {
        raise_syntax_error("f-string expression part cannot include '#'");
      } else if (open.empty() && std::string_view("!:}=<>").find(ch) != std::string_view::npos) {
        const char next = pos + 1 < s_.size() ? s_[pos + 1] : '\0';
        if (next == '=' && ch != ':' && ch != '}') {
          ++pos;
          continue;
        }
        if (ch == '<' || ch == '>') continue;
        return;
      } else if (ch == ']' || ch == '}' || ch == ')') {
        if (open.empty() || open.back() != ch) raise_syntax_error("f-string: unmatched bracket");
        open.pop_back();
      }
    }
    if (quote != 0) raise_syntax_error("f-string: unterminated string");
    if (!open.empty()) raise_syntax_error("f-string: unmatched bracket");
  }

  void compile(std::string_view expression) const {
    if (std::all_of(expression.begin(), expression.end(), is_c_space)) {
      raise_syntax_error("f-string: empty expression not allowed");
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

// Recursive descent over Python's expression grammar, one function per rule. Node ids
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
      if (nesting_.prefix >= MAX_EXPR_NESTING) raise_syntax_error("too many nested operators");
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
  [[noreturn]] static void invalid() { raise_syntax_error("invalid syntax"); }

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
      if (bytes && text) raise_syntax_error("cannot mix bytes and nonbytes literals");
      if (piece.formatted) {
        formatted = true;
        FormattedStringChecker(piece.body, piece.raw, nesting_, fstring_depth_).check();
        continue;
      }
      if (piece.bytes && std::any_of(piece.body.begin(), piece.body.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80;
          })) {
        raise_syntax_error("bytes can only contain ASCII literal characters");
      }
      value += piece.raw ? std::string(piece.body) : decode_escapes(piece.body, piece.bytes);
    }
    if (formatted) return leaf(NodeKind::JoinedStr);
    return other_constant(bytes ? bytes_literal(value) : quoted(value));
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
    if (is_starred(first)) raise_syntax_error("cannot use starred expression here");
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
    NodeId first = NO_NODE;
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
    if (!assignable(binary(1))) raise_syntax_error("cannot assign to expression");
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
          raise_syntax_error("iterable argument unpacking follows keyword argument unpacking");
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
        if (at(Punct::Equal)) raise_syntax_error("expression cannot contain assignment");
        if (at_comprehension()) {
          if (count > 0) raise_syntax_error("Generator expression must be parenthesized");
          comprehension_clauses();
          break;
        }
        if (keywords || mappings)
          raise_syntax_error("positional argument follows keyword argument");
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
  if (fstring_depth > 8) raise_syntax_error("f-string: expressions nested too deeply");
  ExprTree scratch;
  Parser(parenthesized, scratch, nesting, fstring_depth).parse_formatted_field();
}

// Python reads "\r\n" and a lone "\r" as line feeds before tokenizing.
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
    raise_syntax_error("source code cannot contain null bytes");
  }
  try {
    validate_utf8(text);
  } catch (const ValueError& e) {
    raise_syntax_error(e.what());
  }
  std::string rewritten;
  std::string_view source = text;
  if (text.find('\r') != std::string_view::npos) {
    rewritten = with_line_feeds(text);
    source = rewritten;
  }
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
