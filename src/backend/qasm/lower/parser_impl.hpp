// The parser's state and methods, shared by the files that define them by concern:
// parser.cpp (statements, declarations and definitions), parser_expressions.cpp
// (expressions, operands and types) and parser_quick.cpp (the quick statements). The token and node
// helpers that every method uses are defined here, inline, as the hot path needs them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qasm/lower/lexer.hpp"
#include "qasm/lower/parser.hpp"
#include "qasm/lower/syntax.hpp"

namespace corvane::qasm3::detail::lower {

// The type words of declarations and casts.
struct TypeWord {
  std::string_view word;
  ScalarKind kind;
};
inline constexpr std::array<TypeWord, 6> SCALAR_TYPE_WORDS = {{{"bit", ScalarKind::BIT},
                                                               {"int", ScalarKind::INT},
                                                               {"uint", ScalarKind::UINT},
                                                               {"float", ScalarKind::FLOAT},
                                                               {"angle", ScalarKind::ANGLE},
                                                               {"bool", ScalarKind::BOOL}}};
// Type words that start a construct the front end refuses.
inline constexpr std::array<std::string_view, 2> REFUSED_TYPES = {"complex", "array"};

// Whether `word` starts a statement other than a gate call, an assignment or an
// expression, or is a gate modifier.
bool starts_keyword_statement(std::string_view word);
// `true`, `false` and the type words, which the general parse never reads as a register.
bool is_constant_or_type(std::string_view name);

// Converts to the lexer's next token, so that emplace_back makes the token in its place
// in the look-ahead rather than copying it there from the stack, a copy that stalls on
// the stores that have just made it.
struct NextToken {
  Lexer& lexer;
  operator Token() const { return lexer.next(); }  // NOLINT(google-explicit-constructor)
};

class Parser::Impl {
 public:
  explicit Impl(std::string_view text) : lexer_(text) { program_.text = text; }
  void read_as_openqasm2() { openqasm_2_ = true; }

  bool peek_quick(QuickStatement& quick);
  void take_quick(const QuickStatement& quick) {
    pos_ += quick.tokens;
    forget_read_tokens();
  }

  NodeId next_statement() {
    if (at_end()) return NO_NODE;
    const NodeId id = statement();
    forget_read_tokens();
    return id;
  }

  // The whole text as one expression, for values given from outside the program.
  NodeId whole_expression() {
    const NodeId root = expression();
    if (!at_end()) unexpected("the end of the value");
    return root;
  }

  Program& program() { return program_; }

  Parser::Marks marks() const {
    return {program_.exprs.size(),      program_.expr_lists.size(), program_.stmts.size(),
            program_.stmt_lists.size(), program_.modifiers.size(),  program_.params.size()};
  }

  void drop_since(const Parser::Marks& marks) {
    program_.exprs.resize(marks.exprs);
    program_.expr_lists.resize(marks.expr_lists);
    program_.stmts.resize(marks.stmts);
    program_.stmt_lists.resize(marks.stmt_lists);
    program_.modifiers.resize(marks.modifiers);
    program_.params.resize(marks.params);
  }

 private:
  // ---------------------------------------------------------------- tokens
  // Tokens are read as the parser looks ahead and forgotten a batch of top-level
  // statements later, so a program of any length holds a thousand tokens or so at a
  // time. They are handed out as copies, which stay valid however many more are read.
  Token peek(std::size_t ahead = 0) { return look(ahead); }
  // The token `ahead`, valid until more tokens are read.
  [[gnu::always_inline]] const Token& look(std::size_t ahead) {
    const std::size_t at = pos_ + ahead;
    if (at < tokens_.size()) return tokens_[at];
    return read_up_to(at);
  }
  // The slow path of look(), kept apart so that look() itself stays small enough to inline.
  [[gnu::noinline]] const Token& read_up_to(std::size_t at) {
    while (tokens_.size() <= at && !read_to_end()) {
      tokens_.emplace_back(NextToken{lexer_});
    }
    read_ahead(at + READ_AHEAD);
    return at < tokens_.size() ? tokens_[at] : tokens_.back();
  }
  bool read_to_end() const { return !tokens_.empty() && tokens_.back().kind == TokenKind::END; }
  // Tokens beyond those looked at are read in the same call, which saves a call per
  // token. Text that is no token is left for its turn: its error is raised when the
  // parser looks at it, after any error of the tokens before it.
  static constexpr std::size_t READ_AHEAD = 128;
  void read_ahead(std::size_t up_to) {
    while (tokens_.size() <= up_to && !read_to_end()) {
      const Lexer::Place place = lexer_.place();
      try {
        tokens_.emplace_back(NextToken{lexer_});
      } catch (const Error&) {
        lexer_.return_to(place);
        return;
      }
    }
  }
  bool at_end() { return look(0).kind == TokenKind::END; }
  Token advance() {
    const Token token = peek();
    if (token.kind != TokenKind::END) ++pos_;
    return token;
  }
  // The tokens read past are dropped a thousand or so at a time, so that those read
  // ahead are not moved after every statement.
  void forget_read_tokens() {
    if (pos_ < FORGET_AFTER) return;
    tokens_.erase(tokens_.begin(), tokens_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ = 0;
  }
  static constexpr std::size_t FORGET_AFTER = 1024;
  [[gnu::always_inline]] bool is_symbol(std::string_view symbol, std::size_t ahead = 0) {
    const Token& token = look(ahead);
    return token.kind == TokenKind::SYMBOL && same_text(token.text, symbol);
  }
  bool is_word(std::string_view word, std::size_t ahead = 0) {
    const Token& token = look(ahead);
    return token.kind == TokenKind::IDENTIFIER && same_text(token.text, word);
  }
  bool accept(std::string_view symbol) {
    if (!is_symbol(symbol)) return false;
    ++pos_;
    return true;
  }

  [[noreturn]] void fail(std::size_t offset, const std::string& message) const {
    raise_at(program_.text, offset, raise_value_error, message);
  }
  [[noreturn]] void refuse(std::size_t offset, const std::string& message) const {
    raise_at(program_.text, offset, raise_not_implemented, message);
  }
  // `word` starts a construct the front end does not lower.
  [[noreturn]] void refuse_word(std::size_t offset, std::string_view word) const;
  [[noreturn]] void unexpected(std::string_view wanted) {
    const Token token = peek();
    const std::string found =
        token.kind == TokenKind::END ? std::string("end of input") : quoted(token.text);
    fail(token.offset, "Expected " + std::string(wanted) + ", found " + found);
  }
  void expect(std::string_view symbol) {
    if (!accept(symbol)) unexpected(quoted(symbol));
  }

  Token expect_identifier() {
    if (peek().kind != TokenKind::IDENTIFIER) unexpected("a name");
    return advance();
  }

  // ---------------------------------------------------------------- node arrays
  static Expr make(ExprKind kind, std::size_t offset, std::string_view text = {}) {
    Expr node;
    node.kind = kind;
    node.offset = offset;
    node.text = text;
    return node;
  }
  NodeId add(Expr expr) {
    program_.exprs.push_back(expr);
    return static_cast<NodeId>(program_.exprs.size() - 1);
  }
  // A node without children, built in its place rather than copied there.
  NodeId add_leaf(ExprKind kind, std::size_t offset, std::string_view text) {
    Expr& node = program_.exprs.emplace_back();
    node.kind = kind;
    node.offset = offset;
    node.text = text;
    return static_cast<NodeId>(program_.exprs.size() - 1);
  }
  // A node over `left`, built in its place after it.
  NodeId add_over(NodeId left, ExprKind kind, std::size_t offset) {
    const NodeId id = add_leaf(kind, offset, {});
    program_.exprs[id].left = left;
    return id;
  }
  NodeId add(const Stmt& stmt) {
    program_.stmts.push_back(stmt);
    return static_cast<NodeId>(program_.stmts.size() - 1);
  }
  // Lists are gathered on a scratch stack while their elements are parsed (elements may
  // hold lists of their own) and moved into the program's list array when complete.
  Range close_expr_list(std::size_t mark) {
    const Range range{static_cast<std::uint32_t>(program_.expr_lists.size()),
                      static_cast<std::uint32_t>(expr_scratch_.size() - mark)};
    program_.expr_lists.insert(program_.expr_lists.end(),
                               expr_scratch_.begin() + static_cast<std::ptrdiff_t>(mark),
                               expr_scratch_.end());
    expr_scratch_.resize(mark);
    return range;
  }
  Range close_stmt_list(std::size_t mark) {
    const Range range{static_cast<std::uint32_t>(program_.stmt_lists.size()),
                      static_cast<std::uint32_t>(stmt_scratch_.size() - mark)};
    program_.stmt_lists.insert(program_.stmt_lists.end(),
                               stmt_scratch_.begin() + static_cast<std::ptrdiff_t>(mark),
                               stmt_scratch_.end());
    stmt_scratch_.resize(mark);
    return range;
  }

  // ---------------------------------------------------------------- statements (parser.cpp)
  Token declared_name();
  NodeId statement();
  std::optional<NodeId> keyword_statement(Stmt& stmt);
  NodeId version(Stmt& stmt);
  NodeId include(Stmt& stmt);
  NodeId qubit_declaration(Stmt& stmt);
  NodeId old_bit_declaration(Stmt& stmt);
  NodeId bit_declaration(Stmt& stmt);
  NodeId optional_designator();
  bool starts_type();
  NodeId classical_declaration(Stmt& stmt);
  bool is_timing_type(std::size_t ahead);
  NodeId timing_declaration(Stmt& stmt);
  NodeId qualified_declaration(Stmt& stmt);
  Range identifier_params(ParamKind kind);
  NodeId gate_definition(Stmt& stmt);
  NodeId subroutine_definition(Stmt& stmt);
  Param subroutine_param();
  NodeId for_loop(Stmt& stmt);
  NodeId if_statement(Stmt& stmt);
  NodeId while_loop(Stmt& stmt);
  [[gnu::cold]] NodeId switch_statement(Stmt& stmt);
  [[gnu::cold]] NodeId switch_case();
  NodeId return_statement(Stmt& stmt);
  NodeId box(Stmt& stmt);
  NodeId measure_statement(Stmt& stmt);
  NodeId alias(Stmt& stmt);
  Range body();
  Range scope();
  NodeId simple_statement(Stmt& stmt);
  bool is_assignment(std::size_t ahead);
  std::size_t matching_paren(std::size_t open);
  NodeId gate_call(Stmt& stmt);
  Range modifiers();

  // ---------------------------------------------------------------- expressions
  // (parser_expressions.cpp)
  ScalarType scalar_type(NodeId& width_expression);
  unsigned type_width(const Token& token) const;
  NodeId measure_expression();
  Range operand_list();
  NodeId operand();
  Range expression_list(std::string_view closing);
  NodeId expression();
  bool levels_free(int levels) const;
  bool is_number(std::size_t ahead);
  bool ends_expression(std::size_t ahead);
  NodeId number_literal();
  NodeId lone_number();
  NodeId indexed_name();
  NodeId binary(std::size_t min_level);
  NodeId unary();
  NodeId power();
  NodeId postfix();
  NodeId range_or_expression();
  NodeId set_expression();
  NodeId primary();
  NodeId literal(ExprKind kind);
  NodeId named();

  // ---------------------------------------------------------------- quick statements
  // (parser_quick.cpp)
  bool quick_number(std::size_t& ahead, QuickNumber& number);
  bool quick_operand(std::size_t& ahead, QuickStatement& quick);

  Lexer lexer_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  bool openqasm_2_ = false;  // the program's header says OPENQASM 2.0
  Program program_;
  std::vector<NodeId> expr_scratch_;
  std::vector<NodeId> stmt_scratch_;
  // Every statement starts as a copy of this one: a copy of a record this size is a few
  // wide moves, where building it clears it with a string instruction slow to start.
  const Stmt blank_stmt_;
};

}  // namespace corvane::qasm3::detail::lower
