#include "qasm/lower/parser.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qasm/lower/parser_impl.hpp"
#include "qasm/records/qasm3_vocabulary.hpp"

namespace corvane::qasm3::detail::lower {
namespace {

// Words that start a construct the front end refuses as a whole.
constexpr std::array<std::string_view, 8> REFUSED_KEYWORDS = {
    "cal", "defcal", "defcalgrammar", "extern", "opaque", "port", "frame", "waveform"};

// The words that start a statement other than a gate call, an assignment or an
// expression, or a gate modifier, in byte order: a name that is none of them (every gate
// call's) goes straight to the statements that start with a name.
constexpr std::array<std::string_view, 47> STATEMENT_KEYWORDS = {
    "OPENQASM",      "angle",   "array",    "barrier",  "bit",    "bool",     "box",  "break",
    "cal",           "complex", "const",    "continue", "creg",   "ctrl",     "def",  "defcal",
    "defcalgrammar", "delay",   "duration", "end",      "extern", "float",    "for",  "frame",
    "gate",          "if",      "include",  "input",    "int",    "inv",      "let",  "measure",
    "negctrl",       "nop",     "opaque",   "output",   "port",   "pow",      "qreg", "qubit",
    "reset",         "return",  "stretch",  "switch",   "uint",   "waveform", "while"};

// For each first byte, the stretch of STATEMENT_KEYWORDS starting with it: a name is
// compared with the few keywords of its first letter only, most names with none.
struct KeywordStretch {
  unsigned char begin = 0;
  unsigned char end = 0;
};
constexpr std::array<KeywordStretch, 256> KEYWORDS_BY_FIRST_BYTE = [] {
  std::array<KeywordStretch, 256> stretches{};
  for (std::size_t k = STATEMENT_KEYWORDS.size(); k-- > 0;) {
    KeywordStretch& stretch = stretches[static_cast<unsigned char>(STATEMENT_KEYWORDS[k][0])];
    if (stretch.end == 0) stretch.end = static_cast<unsigned char>(k + 1);
    stretch.begin = static_cast<unsigned char>(k);
  }
  return stretches;
}();

}  // namespace

bool starts_keyword_statement(std::string_view word) {
  if (word.empty()) return false;
  const KeywordStretch stretch = KEYWORDS_BY_FIRST_BYTE[static_cast<unsigned char>(word[0])];
  for (std::size_t k = stretch.begin; k < stretch.end; ++k) {
    if (same_text(word, STATEMENT_KEYWORDS[k])) return true;
  }
  return false;
}

// A name a declaration introduces: no keyword of the language and no built-in constant,
// which the program could not use as the name afterwards.
Token Parser::Impl::declared_name() {
  const Token name = expect_identifier();
  if (is_reserved_word(name.text)) {
    fail(name.offset, quoted(name.text) + " is a reserved word and cannot be declared");
  }
  return name;
}

void Parser::Impl::refuse_word(std::size_t offset, std::string_view word) const {
  refuse(offset, "'" + std::string(word) + "' is not supported");
}

// ---------------------------------------------------------------- statements
NodeId Parser::Impl::statement() {
  DepthGuard guard(depth_);
  const Token& first = look(0);  // valid until a token past it is read
  Stmt stmt = blank_stmt_;
  stmt.offset = first.offset;
  if (is_symbol("{")) {
    stmt.kind = StmtKind::BLOCK;
    stmt.body = scope();
    return add(stmt);
  }
  if (is_symbol(";")) {
    advance();
    stmt.kind = StmtKind::NOP;
    return add(stmt);
  }
  if (first.kind == TokenKind::IDENTIFIER && !starts_keyword_statement(first.text)) {
    return simple_statement(stmt);
  }
  if (first.kind == TokenKind::IDENTIFIER) {
    if (const auto keyword = keyword_statement(stmt)) return *keyword;
  }
  if (is_symbol("@") || is_word("inv") || is_word("pow") || is_word("ctrl") || is_word("negctrl")) {
    return gate_call(stmt);
  }
  return simple_statement(stmt);
}

std::optional<NodeId> Parser::Impl::keyword_statement(Stmt& stmt) {
  const std::string_view word = peek().text;
  for (const std::string_view refused : REFUSED_KEYWORDS) {
    if (same_text(word, refused)) refuse_word(stmt.offset, word);
  }
  if (word == "OPENQASM") return version(stmt);
  if (word == "include") return include(stmt);
  if (word == "qubit" || word == "qreg") return qubit_declaration(stmt);
  if (word == "creg") return old_bit_declaration(stmt);
  if (word == "bit" && !is_symbol("(", 1)) return bit_declaration(stmt);
  if (is_timing_type(0)) return timing_declaration(stmt);
  if (word == "const" || word == "input" || word == "output") {
    return is_timing_type(1) ? timing_declaration(stmt) : qualified_declaration(stmt);
  }
  if (starts_type()) return classical_declaration(stmt);
  if (word == "gate") return gate_definition(stmt);
  if (word == "def") return subroutine_definition(stmt);
  if (word == "for") return for_loop(stmt);
  if (word == "if") return if_statement(stmt);
  if (word == "while") return while_loop(stmt);
  if (word == "switch") return switch_statement(stmt);
  if (word == "break" || word == "continue" || word == "end") {
    advance();
    stmt.kind = word == "break"      ? StmtKind::BREAK
                : word == "continue" ? StmtKind::CONTINUE
                                     : StmtKind::END;
    expect(";");
    return add(stmt);
  }
  if (word == "return") return return_statement(stmt);
  if (word == "box") return box(stmt);
  if (word == "barrier" || word == "nop") {
    advance();
    stmt.kind = word == "barrier" ? StmtKind::BARRIER : StmtKind::NOP;
    stmt.operands = operand_list();
    expect(";");
    return add(stmt);
  }
  if (word == "delay") {
    advance();
    stmt.kind = StmtKind::DELAY;
    expect("[");
    stmt.value = expression();
    expect("]");
    stmt.operands = operand_list();
    expect(";");
    return add(stmt);
  }
  if (word == "reset") {
    advance();
    stmt.kind = StmtKind::RESET;
    stmt.operands = operand_list();
    expect(";");
    return add(stmt);
  }
  if (word == "measure") return measure_statement(stmt);
  if (word == "let") return alias(stmt);
  return std::nullopt;
}

NodeId Parser::Impl::version(Stmt& stmt) {
  advance();
  if (peek().kind != TokenKind::INTEGER && peek().kind != TokenKind::FLOAT)
    unexpected("a version number");
  stmt.kind = StmtKind::VERSION;
  stmt.text = advance().text;
  openqasm_2_ = stmt.text == "2.0";
  expect(";");
  return add(stmt);
}

NodeId Parser::Impl::include(Stmt& stmt) {
  advance();
  if (peek().kind != TokenKind::STRING) unexpected("a file name");
  const std::string_view quoted_name = advance().text;
  stmt.kind = StmtKind::INCLUDE;
  stmt.text = quoted_name.substr(1, quoted_name.size() - 2);
  expect(";");
  return add(stmt);
}

NodeId Parser::Impl::qubit_declaration(Stmt& stmt) {
  const bool old_style = advance().text == "qreg";
  stmt.kind = StmtKind::QUBIT_DECL;
  if (!old_style) stmt.size = optional_designator();
  stmt.name = declared_name().text;
  if (old_style) stmt.size = optional_designator();
  expect(";");
  return add(stmt);
}

NodeId Parser::Impl::old_bit_declaration(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::BIT_DECL;
  stmt.name = declared_name().text;
  stmt.size = optional_designator();
  expect(";");
  return add(stmt);
}

// `bit[size] name`, the size any constant expression, perhaps initialised.
NodeId Parser::Impl::bit_declaration(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::BIT_DECL;
  stmt.size = optional_designator();
  stmt.name = declared_name().text;
  if (accept("=")) stmt.value = is_word("measure") ? measure_expression() : expression();
  expect(";");
  return add(stmt);
}

NodeId Parser::Impl::optional_designator() {
  if (!accept("[")) return NO_NODE;
  const NodeId size = expression();
  expect("]");
  return size;
}

bool Parser::Impl::starts_type() {
  for (const std::string_view refused : REFUSED_TYPES) {
    if (is_word(refused)) return true;
  }
  for (const TypeWord& type : SCALAR_TYPE_WORDS) {
    if (is_word(type.word)) return !is_symbol("(", 1);  // `int(x)` is a cast
  }
  return false;
}

NodeId Parser::Impl::classical_declaration(Stmt& stmt) {
  stmt.type = scalar_type(stmt.size);
  stmt.name = declared_name().text;
  stmt.kind = stmt.type.kind == ScalarKind::BIT ? StmtKind::BIT_DECL : StmtKind::CLASSICAL_DECL;
  if (accept("=")) stmt.value = is_word("measure") ? measure_expression() : expression();
  expect(";");
  return add(stmt);
}

bool Parser::Impl::is_timing_type(std::size_t ahead) {
  return is_word("duration", ahead) || is_word("stretch", ahead);
}

// `duration d = 100ns;`, `const stretch s;`: durations only time delays and boxes,
// which lowering drops, so the value is read but never worked out.
NodeId Parser::Impl::timing_declaration(Stmt& stmt) {
  if (!is_timing_type(0)) advance();  // the qualifier
  advance();
  stmt.kind = StmtKind::TIMING_DECL;
  stmt.name = declared_name().text;
  if (accept("=")) stmt.value = expression();
  expect(";");
  return add(stmt);
}

NodeId Parser::Impl::qualified_declaration(Stmt& stmt) {
  const std::string_view qualifier = advance().text;
  stmt.type = scalar_type(stmt.size);
  stmt.name = declared_name().text;
  // `output bit[2] c;` declares bits that measurements write, as `bit[2] c;` does.
  const bool output_bits = qualifier == "output" && stmt.type.kind == ScalarKind::BIT;
  stmt.kind = output_bits ? StmtKind::BIT_DECL : StmtKind::CLASSICAL_DECL;
  stmt.is_const = qualifier == "const";
  stmt.is_input = qualifier == "input";
  if (stmt.is_const) {
    expect("=");
    stmt.value = expression();
  }
  expect(";");
  return add(stmt);
}

Range Parser::Impl::identifier_params(ParamKind kind) {
  const std::size_t begin = program_.params.size();
  do {
    if (kind == ParamKind::ANGLE && is_symbol(")")) break;
    const Token name = declared_name();
    program_.params.push_back(Param{kind, {}, NO_NODE, name.text, name.offset});
  } while (accept(","));
  return Range{static_cast<std::uint32_t>(begin),
               static_cast<std::uint32_t>(program_.params.size() - begin)};
}

NodeId Parser::Impl::gate_definition(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::GATE_DEF;
  stmt.name = declared_name().text;
  Range angles{static_cast<std::uint32_t>(program_.params.size()), 0};
  if (accept("(")) {
    angles = identifier_params(ParamKind::ANGLE);
    expect(")");
  }
  Range qubits{static_cast<std::uint32_t>(program_.params.size()), 0};
  if (!is_symbol("{")) qubits = identifier_params(ParamKind::QUBIT);
  stmt.params = Range{angles.begin, angles.size + qubits.size};
  stmt.angle_count = angles.size;
  stmt.body = scope();
  return add(stmt);
}

NodeId Parser::Impl::subroutine_definition(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::SUBROUTINE_DEF;
  stmt.name = declared_name().text;
  expect("(");
  const std::size_t begin = program_.params.size();
  while (!is_symbol(")")) {
    program_.params.push_back(subroutine_param());
    if (!accept(",")) break;
  }
  expect(")");
  stmt.params = Range{static_cast<std::uint32_t>(begin),
                      static_cast<std::uint32_t>(program_.params.size() - begin)};
  if (accept("->")) {
    stmt.has_return_type = true;
    stmt.type = scalar_type(stmt.size);
  }
  stmt.body = scope();
  return add(stmt);
}

Param Parser::Impl::subroutine_param() {
  Param param;
  param.offset = peek().offset;
  if (is_word("qubit") || is_word("qreg")) {
    const bool old_style = advance().text == "qreg";
    param.kind = ParamKind::QUBIT;
    if (!old_style) param.size = optional_designator();
    param.name = declared_name().text;
    if (old_style) param.size = optional_designator();
    return param;
  }
  if (is_word("readonly") || is_word("mutable"))
    refuse(param.offset, "Array arguments are not supported");
  param.kind = ParamKind::CLASSICAL;
  param.type = scalar_type(param.size);
  param.name = declared_name().text;
  return param;
}

NodeId Parser::Impl::for_loop(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::FOR;
  stmt.type = ScalarType{ScalarKind::INT, std::nullopt};
  if (!(peek().kind == TokenKind::IDENTIFIER && is_word("in", 1)))
    stmt.type = scalar_type(stmt.size);
  stmt.name = declared_name().text;
  if (!is_word("in")) unexpected("'in'");
  advance();
  if (is_symbol("[")) {
    advance();
    stmt.value = range_or_expression();
    expect("]");
  } else if (is_symbol("{")) {
    stmt.value = set_expression();
  } else {
    stmt.value = expression();
  }
  stmt.body = body();
  return add(stmt);
}

NodeId Parser::Impl::if_statement(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::IF;
  expect("(");
  stmt.value = expression();
  expect(")");
  stmt.body = body();
  if (is_word("else")) {
    advance();
    stmt.else_body = body();
  }
  return add(stmt);
}

NodeId Parser::Impl::while_loop(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::WHILE;
  expect("(");
  stmt.value = expression();
  expect(")");
  stmt.body = body();
  return add(stmt);
}

// `switch (value) { case 0, 1 { ... } ... default { ... } }`: at least one case, and the
// default, if any, last. Cold, as switches are rare: the compiler then keeps inlining
// the hot path's helpers.
NodeId Parser::Impl::switch_statement(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::SWITCH;
  expect("(");
  stmt.value = expression();
  expect(")");
  expect("{");
  const std::size_t mark = stmt_scratch_.size();
  bool has_default = false;
  while (!accept("}")) {
    const bool is_case = is_word("case");
    if (!is_case && !is_word("default")) unexpected("'case', 'default' or '}'");
    if (has_default) fail(peek().offset, "Nothing may follow 'default' in a 'switch'");
    has_default = !is_case;
    stmt_scratch_.push_back(switch_case());
  }
  if (stmt_scratch_.size() == mark + (has_default ? 1 : 0))
    fail(stmt.offset, "A 'switch' needs at least one 'case'");
  stmt.body = close_stmt_list(mark);
  return add(stmt);
}

// A case or the default. Its scope may not declare what would belong to the global
// scope.
NodeId Parser::Impl::switch_case() {
  Stmt item;
  item.kind = StmtKind::SWITCH_CASE;
  item.offset = peek().offset;
  if (advance().text == "case") {
    const std::size_t mark = expr_scratch_.size();
    do {
      expr_scratch_.push_back(expression());
    } while (accept(",") && !is_symbol("{"));
    item.args = close_expr_list(mark);
  }
  item.body = scope();
  for (std::uint32_t k = 0; k < item.body.size; ++k) {
    const Stmt& inner = program_.stmts[program_.stmt_lists[item.body.begin + k]];
    if (inner.kind == StmtKind::QUBIT_DECL || inner.kind == StmtKind::GATE_DEF ||
        inner.kind == StmtKind::SUBROUTINE_DEF) {
      fail(inner.offset, "Qubits, gates and subroutines cannot be declared in a 'switch'");
    }
  }
  return add(item);
}

NodeId Parser::Impl::return_statement(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::RETURN;
  if (!is_symbol(";")) stmt.value = is_word("measure") ? measure_expression() : expression();
  expect(";");
  return add(stmt);
}

NodeId Parser::Impl::box(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::BLOCK;
  if (accept("[")) {
    expression();
    expect("]");
  }
  stmt.body = scope();
  return add(stmt);
}

NodeId Parser::Impl::measure_statement(Stmt& stmt) {
  const NodeId measured = measure_expression();
  stmt.kind = StmtKind::MEASURE;
  stmt.value = measured;
  if (accept("->")) stmt.target = postfix();
  expect(";");
  return add(stmt);
}

NodeId Parser::Impl::alias(Stmt& stmt) {
  advance();
  stmt.kind = StmtKind::ALIAS;
  stmt.name = declared_name().text;
  expect("=");
  NodeId value = expression();
  while (is_symbol("++")) {
    const std::size_t offset = advance().offset;
    Expr node = make(ExprKind::CONCAT, offset);
    node.left = value;
    node.right = expression();
    value = add(node);
  }
  stmt.value = value;
  expect(";");
  return add(stmt);
}

// A statement or a braced scope, as the body of a loop or a branch.
Range Parser::Impl::body() {
  if (is_symbol("{")) return scope();
  const std::size_t mark = stmt_scratch_.size();
  stmt_scratch_.push_back(statement());
  return close_stmt_list(mark);
}

Range Parser::Impl::scope() {
  expect("{");
  const std::size_t mark = stmt_scratch_.size();
  while (!is_symbol("}")) {
    if (at_end()) unexpected("'}'");
    stmt_scratch_.push_back(statement());
  }
  advance();
  return close_stmt_list(mark);
}

// Gate calls, assignments and expression statements, which all start with an
// expression-like prefix.
NodeId Parser::Impl::simple_statement(Stmt& stmt) {
  if (peek().kind == TokenKind::IDENTIFIER && !is_symbol("[", 1) && !is_assignment(1) &&
      !is_symbol("(", 1)) {
    return gate_call(stmt);
  }
  if (peek().kind == TokenKind::IDENTIFIER && is_symbol("(", 1) && !is_word("gphase")) {
    const std::size_t close = matching_paren(1);
    const Token after = peek(close + 1);
    if (!(after.kind == TokenKind::SYMBOL &&
          (same_text(after.text, ";") || same_text(after.text, "->")))) {
      return gate_call(stmt);
    }
  }
  if (is_word("gphase")) return gate_call(stmt);
  const NodeId target = expression();
  if (is_assignment(0)) {
    stmt.kind = StmtKind::ASSIGNMENT;
    stmt.target = target;
    stmt.text = advance().text;
    stmt.value = is_word("measure") ? measure_expression() : expression();
  } else {
    stmt.kind = StmtKind::EXPRESSION;
    stmt.value = target;
  }
  expect(";");
  return add(stmt);
}

bool Parser::Impl::is_assignment(std::size_t ahead) {
  const Token token = peek(ahead);
  if (token.kind != TokenKind::SYMBOL) return false;
  static constexpr std::array<std::string_view, 12> ASSIGNMENTS = {
      "=", "+=", "-=", "*=", "/=", "&=", "|=", "^=", "<<=", ">>=", "%=", "**="};
  for (const std::string_view op : ASSIGNMENTS) {
    if (same_text(token.text, op)) return true;
  }
  return false;
}

// How many tokens ahead the ')' that closes the '(' `open` tokens ahead stands.
std::size_t Parser::Impl::matching_paren(std::size_t open) {
  std::size_t depth = 0;
  for (std::size_t ahead = open;; ++ahead) {
    const Token token = peek(ahead);
    if (token.kind == TokenKind::END) return ahead;
    if (token.kind != TokenKind::SYMBOL) continue;
    if (same_text(token.text, "(")) ++depth;
    if (same_text(token.text, ")") && --depth == 0) return ahead;
  }
}

NodeId Parser::Impl::gate_call(Stmt& stmt) {
  stmt.kind = StmtKind::GATE_CALL;
  stmt.modifiers = modifiers();
  const Token name = expect_identifier();
  stmt.name = name.text;
  if (accept("(")) {
    stmt.args = expression_list(")");
    stmt.has_args = true;
  }
  if (accept("[")) {  // a duration, which the circuit does not keep
    expression();
    expect("]");
  }
  stmt.operands = operand_list();
  expect(";");
  return add(stmt);
}

Range Parser::Impl::modifiers() {
  const std::size_t begin = program_.modifiers.size();
  for (;;) {
    const Token& word = look(0);
    if (word.kind != TokenKind::IDENTIFIER || !starts_keyword_statement(word.text)) break;
    Modifier modifier{ModifierKind::CTRL, NO_NODE, word.offset};
    if (is_word("inv")) {
      modifier.kind = ModifierKind::INV;
      advance();
    } else if (is_word("pow")) {
      modifier.kind = ModifierKind::POW;
      advance();
      expect("(");
      modifier.argument = expression();
      expect(")");
    } else if (is_word("ctrl") || is_word("negctrl")) {
      modifier.kind = same_text(word.text, "ctrl") ? ModifierKind::CTRL : ModifierKind::NEGCTRL;
      advance();
      if (accept("(")) {
        modifier.argument = expression();
        expect(")");
      }
    } else {
      break;
    }
    expect("@");
    program_.modifiers.push_back(modifier);
  }
  return Range{static_cast<std::uint32_t>(begin),
               static_cast<std::uint32_t>(program_.modifiers.size() - begin)};
}

Parser::Parser(std::string_view text) : impl_(std::make_unique<Impl>(text)) {}
Parser::~Parser() = default;
NodeId Parser::next_statement() {
  return impl_->next_statement();
}
const Program& Parser::program() const {
  return impl_->program();
}
Parser::Marks Parser::marks() const {
  return impl_->marks();
}
void Parser::drop_since(const Marks& marks) {
  impl_->drop_since(marks);
}

Program parse(std::string_view text, bool openqasm2) {
  Parser parser(text);
  if (openqasm2) parser.impl_->read_as_openqasm2();
  std::vector<NodeId> top;
  for (NodeId id = parser.next_statement(); id != NO_NODE; id = parser.next_statement())
    top.push_back(id);
  Program program = std::move(parser.impl_->program());
  program.top = Range{static_cast<std::uint32_t>(program.stmt_lists.size()),
                      static_cast<std::uint32_t>(top.size())};
  program.stmt_lists.insert(program.stmt_lists.end(), top.begin(), top.end());
  return program;
}

ParsedExpression parse_expression(std::string_view text, bool openqasm2) {
  Parser parser(text);
  if (openqasm2) parser.impl_->read_as_openqasm2();
  const NodeId root = parser.impl_->whole_expression();
  return {std::move(parser.impl_->program()), root};
}

}  // namespace corvane::qasm3::detail::lower
