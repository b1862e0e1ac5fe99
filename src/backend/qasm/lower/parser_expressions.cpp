// The parser's expressions, operands and types: recursive descent by precedence, with
// shortcuts for the numbers and `name[number]` operands that most programs are made of.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "qasm/lower/parser_impl.hpp"

namespace corvane::qasm3::detail::lower {
namespace {

struct BinaryLevel {
  std::array<std::string_view, 4> symbols;
  std::array<BinaryOp, 4> ops;
  std::size_t count;
};
// From the loosest to the tightest binding; `**` and the unary operators come after.
constexpr std::array<BinaryLevel, 10> BINARY_LEVELS = {{
    {{"||"}, {BinaryOp::LOGICAL_OR}, 1},
    {{"&&"}, {BinaryOp::LOGICAL_AND}, 1},
    {{"|"}, {BinaryOp::BIT_OR}, 1},
    {{"^"}, {BinaryOp::BIT_XOR}, 1},
    {{"&"}, {BinaryOp::BIT_AND}, 1},
    {{"==", "!="}, {BinaryOp::EQUAL, BinaryOp::NOT_EQUAL}, 2},
    {{"<", ">", "<=", ">="},
     {BinaryOp::LESS, BinaryOp::GREATER, BinaryOp::LESS_EQUAL, BinaryOp::GREATER_EQUAL},
     4},
    {{"<<", ">>"}, {BinaryOp::SHIFT_LEFT, BinaryOp::SHIFT_RIGHT}, 2},
    {{"+", "-"}, {BinaryOp::ADD, BinaryOp::SUBTRACT}, 2},
    {{"*", "/", "%"}, {BinaryOp::MULTIPLY, BinaryOp::DIVIDE, BinaryOp::MODULO}, 3},
}};

std::optional<std::pair<std::size_t, BinaryOp>> binary_operator(std::string_view symbol) {
  // The symbols that most often follow an operand (`,` `;` `)` `]`) start no operator.
  static constexpr std::string_view OPERATOR_STARTS = "|&^=!<>+-*/%";
  if (!is_one_of(symbol[0], OPERATOR_STARTS)) return std::nullopt;
  for (std::size_t level = 0; level < BINARY_LEVELS.size(); ++level) {
    const BinaryLevel& ops = BINARY_LEVELS[level];
    for (std::size_t k = 0; k < ops.count; ++k) {
      if (same_text(ops.symbols[k], symbol)) return std::pair{level, ops.ops[k]};
    }
  }
  return std::nullopt;
}

}  // namespace

// The names that named() reads as something else than a name.
bool is_constant_or_type(std::string_view name) {
  if (same_text(name, "true") || same_text(name, "false")) return true;
  return std::any_of(SCALAR_TYPE_WORDS.begin(), SCALAR_TYPE_WORDS.end(),
                     [&](const TypeWord& type) { return same_text(name, type.word); });
}

// A width written as an expression (a constant's name, ...) is worked out by the
// expander, which knows the values: its node goes to `width_expression`.
ScalarType Parser::Impl::scalar_type(NodeId& width_expression) {
  const Token word = expect_identifier();
  for (const std::string_view refused : REFUSED_TYPES) {
    if (same_text(word.text, refused)) refuse_word(word.offset, word.text);
  }
  for (const TypeWord& type : SCALAR_TYPE_WORDS) {
    if (!same_text(word.text, type.word)) continue;
    ScalarType result{type.kind, std::nullopt};
    if (type.kind != ScalarKind::BOOL && accept("[")) {
      if (peek().kind == TokenKind::INTEGER && is_symbol("]", 1)) {
        result.width = type_width(advance());
      } else {
        width_expression = expression();
      }
      expect("]");
    }
    return result;
  }
  fail(word.offset, "Expected a type, found " + quoted(word.text));
}

unsigned Parser::Impl::type_width(const Token& token) const {
  const std::int64_t width = read_integer_literal(token.text).as_integer();
  if (width < 1 || width > 64) {
    refuse(token.offset, "Type width " + std::string(token.text) + " is not supported (1 to 64)");
  }
  return static_cast<unsigned>(width);
}

NodeId Parser::Impl::measure_expression() {
  const Token word = advance();
  Expr node = make(ExprKind::MEASURE, word.offset);
  node.left = operand();
  return add(node);
}

Range Parser::Impl::operand_list() {
  const std::size_t mark = expr_scratch_.size();
  while (!is_symbol(";")) {
    expr_scratch_.push_back(operand());
    if (!accept(",")) break;
  }
  return close_expr_list(mark);
}

NodeId Parser::Impl::operand() {
  const Token& token = look(0);
  if (token.kind == TokenKind::HARDWARE_QUBIT) {
    advance();
    return add_leaf(ExprKind::HARDWARE_QUBIT, token.offset, token.text);
  }
  if (token.kind != TokenKind::IDENTIFIER) unexpected("a qubit");
  return postfix();
}

// ---------------------------------------------------------------- expressions
Range Parser::Impl::expression_list(std::string_view closing) {
  const std::size_t mark = expr_scratch_.size();
  while (!is_symbol(closing)) {
    expr_scratch_.push_back(expression());
    if (!accept(",")) break;
  }
  expect(closing);
  return close_expr_list(mark);
}

NodeId Parser::Impl::expression() {
  const NodeId number = lone_number();
  return number != NO_NODE ? number : binary(0);
}

// ---------------------------------------------------------------- shortcuts
// Most expressions of a program are a number, perhaps negated, and most operands
// `name[number]`. Those are read here straight into the nodes that the descent below
// builds for them, in the same order, and only where the descent's depth guards (one
// per unary and per primary level it passes) would let it through.
bool Parser::Impl::levels_free(int levels) const {
  return depth_ + levels <= MAX_NESTING_DEPTH && !stack_nearly_exhausted();
}
bool Parser::Impl::is_number(std::size_t ahead) {
  const TokenKind kind = look(ahead).kind;
  return kind == TokenKind::INTEGER || kind == TokenKind::FLOAT;
}
// Whether the token `ahead` ends the expression before it: no operator or index follows.
bool Parser::Impl::ends_expression(std::size_t ahead) {
  const Token& token = look(ahead);
  return token.kind == TokenKind::SYMBOL && token.text.size() == 1 &&
         is_one_of(token.text[0], "]),;:}");
}
NodeId Parser::Impl::number_literal() {
  return literal(look(0).kind == TokenKind::INTEGER ? ExprKind::INTEGER : ExprKind::FLOAT);
}

// A number or a negated number that is the whole expression; NO_NODE for anything else.
NodeId Parser::Impl::lone_number() {
  if (is_number(0) && ends_expression(1) && levels_free(2)) return number_literal();
  if (is_symbol("-") && is_number(1) && ends_expression(2) && levels_free(3)) {
    const std::size_t offset = advance().offset;
    const NodeId number = number_literal();
    const NodeId negated = add_over(number, ExprKind::UNARY, offset);
    program_.exprs[negated].unary_op = UnaryOp::NEGATE;
    return negated;
  }
  return NO_NODE;
}

// `name[number]` not indexed further; NO_NODE for anything else.
NodeId Parser::Impl::indexed_name() {
  if (!(look(0).kind == TokenKind::IDENTIFIER && is_symbol("[", 1) && is_number(2) &&
        is_symbol("]", 3) && !is_symbol("[", 4) && levels_free(2) &&
        !is_constant_or_type(look(0).text))) {
    return NO_NODE;
  }
  const std::size_t offset = look(0).offset;
  const NodeId base = add_leaf(ExprKind::NAME, offset, look(0).text);
  pos_ += 2;
  const Range items{static_cast<std::uint32_t>(program_.expr_lists.size()), 1};
  program_.expr_lists.push_back(number_literal());
  ++pos_;
  const NodeId indexed = add_over(base, ExprKind::INDEX, offset);
  program_.exprs[indexed].items = items;
  return indexed;
}

// Binary operators by precedence climbing: one look at the next token decides whether
// an operator binds at `min_level` or tighter.
NodeId Parser::Impl::binary(std::size_t min_level) {
  NodeId left = unary();
  for (;;) {
    const Token& token = look(0);
    if (token.kind != TokenKind::SYMBOL) return left;
    const std::optional<std::pair<std::size_t, BinaryOp>> found = binary_operator(token.text);
    if (!found || found->first < min_level) return left;
    advance();
    Expr node = make(ExprKind::BINARY, token.offset);
    node.binary_op = found->second;
    node.left = left;
    node.right = binary(found->first + 1);
    left = add(node);
  }
}

NodeId Parser::Impl::unary() {
  DepthGuard guard(depth_);
  const Token& token = look(0);
  if (is_symbol("-") || is_symbol("!") || is_symbol("~")) {
    advance();
    Expr node = make(ExprKind::UNARY, token.offset);
    node.unary_op = same_text(token.text, "-")   ? UnaryOp::NEGATE
                    : same_text(token.text, "!") ? UnaryOp::LOGICAL_NOT
                                                 : UnaryOp::BIT_NOT;
    node.left = unary();
    return add(node);
  }
  if (is_symbol("+")) {  // unary plus changes nothing
    advance();
    return unary();
  }
  return power();
}

// OpenQASM 2 writes the power `^`, which OpenQASM 3 made the exclusive or.
NodeId Parser::Impl::power() {
  const NodeId base = postfix();
  if (!is_symbol("**") && !(openqasm_2_ && is_symbol("^"))) return base;
  const std::size_t offset = advance().offset;
  Expr node = make(ExprKind::BINARY, offset);
  node.binary_op = BinaryOp::POWER;
  node.left = base;
  node.right = unary();
  return add(node);
}

NodeId Parser::Impl::postfix() {
  if (const NodeId indexed = indexed_name(); indexed != NO_NODE) return indexed;
  NodeId value = primary();
  while (is_symbol("[")) {
    advance();
    Expr node = make(ExprKind::INDEX, program_.exprs[value].offset);
    node.left = value;
    const std::size_t mark = expr_scratch_.size();
    if (is_symbol("{")) {
      expr_scratch_.push_back(set_expression());
    } else {
      do {
        expr_scratch_.push_back(range_or_expression());
      } while (accept(",") && !is_symbol("]"));
    }
    expect("]");
    node.items = close_expr_list(mark);
    value = add(node);
  }
  return value;
}

NodeId Parser::Impl::range_or_expression() {
  const std::size_t offset = peek().offset;
  const NodeId start = is_symbol(":") ? NO_NODE : expression();
  if (!accept(":")) return start;
  Expr node = make(ExprKind::RANGE, offset);
  node.left = start;
  if (!is_symbol("]") && !is_symbol(":")) node.right = expression();
  if (accept(":")) {
    // start:step:stop
    node.step = node.right;
    node.right = is_symbol("]") ? NO_NODE : expression();
  }
  return add(node);
}

NodeId Parser::Impl::set_expression() {
  const std::size_t offset = advance().offset;
  Expr node = make(ExprKind::SET, offset);
  node.items = expression_list("}");
  return add(node);
}

NodeId Parser::Impl::primary() {
  DepthGuard guard(depth_);
  switch (look(0).kind) {
    case TokenKind::INTEGER:
      return literal(ExprKind::INTEGER);
    case TokenKind::FLOAT:
      return literal(ExprKind::FLOAT);
    case TokenKind::IMAGINARY:
      return literal(ExprKind::IMAGINARY);
    case TokenKind::DURATION:
      return literal(ExprKind::DURATION);
    case TokenKind::HARDWARE_QUBIT:
      return literal(ExprKind::HARDWARE_QUBIT);
    case TokenKind::STRING:
      return literal(ExprKind::BIT_STRING);
    case TokenKind::IDENTIFIER:
      return named();
    case TokenKind::SYMBOL:
      if (is_symbol("(")) {
        advance();
        const NodeId inner = expression();
        expect(")");
        return inner;
      }
      [[fallthrough]];
    case TokenKind::END:
      break;
  }
  unexpected("an expression");
}

NodeId Parser::Impl::literal(ExprKind kind) {
  const Token& token = look(0);
  const NodeId id = add_leaf(kind, token.offset, token.text);
  advance();
  return id;
}

NodeId Parser::Impl::named() {
  // Only the name and its place are kept: reading on may move the tokens.
  const std::string_view name = look(0).text;
  const std::size_t offset = look(0).offset;
  if (same_text(name, "true") || same_text(name, "false")) return literal(ExprKind::BOOLEAN);
  for (const TypeWord& type : SCALAR_TYPE_WORDS) {
    if (same_text(name, type.word)) {
      Expr node = make(ExprKind::CAST, offset);
      node.type = scalar_type(node.right);
      expect("(");
      node.left = expression();
      expect(")");
      return add(node);
    }
  }
  advance();
  if (!is_symbol("(")) return add_leaf(ExprKind::NAME, offset, name);
  advance();
  // OpenQASM 2's natural logarithm `ln` is OpenQASM 3's `log`.
  Expr node = make(ExprKind::CALL, offset, openqasm_2_ && name == "ln" ? "log" : name);
  node.items = expression_list(")");
  return add(node);
}

}  // namespace corvane::qasm3::detail::lower
