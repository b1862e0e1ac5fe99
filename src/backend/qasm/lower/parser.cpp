#include "qasm/lower/parser.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "qasm/lower/lexer.hpp"

namespace corvane::qasm3::detail::lower {
namespace {

// Words that start a construct the front end refuses as a whole.
constexpr std::array<std::string_view, 8> REFUSED_KEYWORDS = {
    "cal", "defcal", "defcalgrammar", "extern", "opaque", "port", "frame", "waveform"};
constexpr std::array<std::string_view, 2> REFUSED_TYPES = {"complex", "array"};

constexpr std::array<std::string_view, 62> RESERVED_WORDS = {
    "OPENQASM",   "include", "defcalgrammar",
    "def",        "cal",     "defcal",
    "gate",       "extern",  "box",
    "let",        "break",   "continue",
    "if",         "else",    "end",
    "return",     "for",     "while",
    "in",         "switch",  "case",
    "default",    "nop",     "pragma",
    "input",      "output",  "const",
    "readonly",   "mutable", "qreg",
    "qubit",      "creg",    "bool",
    "bit",        "int",     "uint",
    "float",      "angle",   "complex",
    "array",      "void",    "duration",
    "stretch",    "gphase",  "inv",
    "pow",        "ctrl",    "negctrl",
    "durationof", "delay",   "reset",
    "measure",    "barrier", "true",
    "false",      "pi",      "π",
    "tau",        "τ",       "euler",
    "ℇ",          "opaque"};

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

bool starts_keyword_statement(std::string_view word) {
  if (word.empty()) return false;
  const KeywordStretch stretch = KEYWORDS_BY_FIRST_BYTE[static_cast<unsigned char>(word[0])];
  for (std::size_t k = stretch.begin; k < stretch.end; ++k) {
    if (same_text(word, STATEMENT_KEYWORDS[k])) return true;
  }
  return false;
}

struct TypeWord {
  std::string_view word;
  ScalarKind kind;
};
constexpr std::array<TypeWord, 6> SCALAR_TYPE_WORDS = {{{"bit", ScalarKind::BIT},
                                                        {"int", ScalarKind::INT},
                                                        {"uint", ScalarKind::UINT},
                                                        {"float", ScalarKind::FLOAT},
                                                        {"angle", ScalarKind::ANGLE},
                                                        {"bool", ScalarKind::BOOL}}};

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

}  // namespace

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

  NodeId next_statement() {
    if (at_end()) return NO_NODE;
    const NodeId id = statement();
    forget_read_tokens();
    return id;
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
  [[noreturn]] void unexpected(std::string_view wanted) {
    const Token token = peek();
    const std::string found =
        token.kind == TokenKind::END ? std::string("end of input") : quoted(token.text);
    fail(token.offset, "Expected " + std::string(wanted) + ", found " + found);
  }
  void expect(std::string_view symbol) {
    if (!accept(symbol)) unexpected(quoted(symbol));
  }
  // A name a declaration introduces: no keyword of the language and no built-in constant,
  // which the program could not use as the name afterwards.
  Token declared_name() {
    const Token name = expect_identifier();
    for (const std::string_view reserved : RESERVED_WORDS) {
      if (same_text(name.text, reserved)) {
        fail(name.offset, quoted(name.text) + " is a reserved word and cannot be declared");
      }
    }
    return name;
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

  // ---------------------------------------------------------------- statements
  NodeId statement() {
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
    if (is_symbol("@") || is_word("inv") || is_word("pow") || is_word("ctrl") ||
        is_word("negctrl")) {
      return gate_call(stmt);
    }
    return simple_statement(stmt);
  }

  std::optional<NodeId> keyword_statement(Stmt& stmt) {
    const std::string_view word = peek().text;
    for (const std::string_view refused : REFUSED_KEYWORDS) {
      if (same_text(word, refused))
        refuse(stmt.offset, "'" + std::string(word) + "' is not supported");
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

  NodeId version(Stmt& stmt) {
    advance();
    if (peek().kind != TokenKind::INTEGER && peek().kind != TokenKind::FLOAT)
      unexpected("a version number");
    stmt.kind = StmtKind::VERSION;
    stmt.text = advance().text;
    openqasm_2_ = stmt.text == "2.0";
    expect(";");
    return add(stmt);
  }

  NodeId include(Stmt& stmt) {
    advance();
    if (peek().kind != TokenKind::STRING) unexpected("a file name");
    const std::string_view quoted_name = advance().text;
    stmt.kind = StmtKind::INCLUDE;
    stmt.text = quoted_name.substr(1, quoted_name.size() - 2);
    expect(";");
    return add(stmt);
  }

  NodeId qubit_declaration(Stmt& stmt) {
    const bool old_style = advance().text == "qreg";
    stmt.kind = StmtKind::QUBIT_DECL;
    if (!old_style) stmt.size = optional_designator();
    stmt.name = declared_name().text;
    if (old_style) stmt.size = optional_designator();
    expect(";");
    return add(stmt);
  }

  NodeId old_bit_declaration(Stmt& stmt) {
    advance();
    stmt.kind = StmtKind::BIT_DECL;
    stmt.name = declared_name().text;
    stmt.size = optional_designator();
    expect(";");
    return add(stmt);
  }

  // `bit[size] name`, the size any constant expression, perhaps initialised.
  NodeId bit_declaration(Stmt& stmt) {
    advance();
    stmt.kind = StmtKind::BIT_DECL;
    stmt.size = optional_designator();
    stmt.name = declared_name().text;
    if (accept("=")) stmt.value = is_word("measure") ? measure_expression() : expression();
    expect(";");
    return add(stmt);
  }

  NodeId optional_designator() {
    if (!accept("[")) return NO_NODE;
    const NodeId size = expression();
    expect("]");
    return size;
  }

  bool starts_type() {
    for (const std::string_view refused : REFUSED_TYPES) {
      if (is_word(refused)) return true;
    }
    for (const TypeWord& type : SCALAR_TYPE_WORDS) {
      if (is_word(type.word)) return !is_symbol("(", 1);  // `int(x)` is a cast
    }
    return false;
  }

  // A width written as an expression (a constant's name, ...) is worked out by the
  // expander, which knows the values: its node goes to `width_expression`.
  ScalarType scalar_type(NodeId& width_expression) {
    const Token word = expect_identifier();
    for (const std::string_view refused : REFUSED_TYPES) {
      if (same_text(word.text, refused))
        refuse(word.offset, "'" + std::string(word.text) + "' is not supported");
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

  unsigned type_width(const Token& token) const {
    const std::int64_t width = read_integer_literal(token.text).as_integer();
    if (width < 1 || width > 64) {
      refuse(token.offset, "Type width " + std::string(token.text) + " is not supported (1 to 64)");
    }
    return static_cast<unsigned>(width);
  }

  NodeId classical_declaration(Stmt& stmt) {
    stmt.type = scalar_type(stmt.size);
    stmt.name = declared_name().text;
    stmt.kind = stmt.type.kind == ScalarKind::BIT ? StmtKind::BIT_DECL : StmtKind::CLASSICAL_DECL;
    if (accept("=")) stmt.value = is_word("measure") ? measure_expression() : expression();
    expect(";");
    return add(stmt);
  }

  bool is_timing_type(std::size_t ahead) {
    return is_word("duration", ahead) || is_word("stretch", ahead);
  }

  // `duration d = 100ns;`, `const stretch s;`: durations only time delays and boxes,
  // which lowering drops, so the value is read but never worked out.
  NodeId timing_declaration(Stmt& stmt) {
    if (!is_timing_type(0)) advance();  // the qualifier
    advance();
    stmt.kind = StmtKind::TIMING_DECL;
    stmt.name = declared_name().text;
    if (accept("=")) stmt.value = expression();
    expect(";");
    return add(stmt);
  }

  NodeId qualified_declaration(Stmt& stmt) {
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

  Range identifier_params(ParamKind kind) {
    const std::size_t begin = program_.params.size();
    do {
      if (kind == ParamKind::ANGLE && is_symbol(")")) break;
      const Token name = declared_name();
      program_.params.push_back(Param{kind, {}, NO_NODE, name.text, name.offset});
    } while (accept(","));
    return Range{static_cast<std::uint32_t>(begin),
                 static_cast<std::uint32_t>(program_.params.size() - begin)};
  }

  NodeId gate_definition(Stmt& stmt) {
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

  NodeId subroutine_definition(Stmt& stmt) {
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

  Param subroutine_param() {
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

  NodeId for_loop(Stmt& stmt) {
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

  NodeId if_statement(Stmt& stmt) {
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

  NodeId while_loop(Stmt& stmt) {
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
  [[gnu::cold]] NodeId switch_statement(Stmt& stmt) {
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
  [[gnu::cold]] NodeId switch_case() {
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

  NodeId return_statement(Stmt& stmt) {
    advance();
    stmt.kind = StmtKind::RETURN;
    if (!is_symbol(";")) stmt.value = is_word("measure") ? measure_expression() : expression();
    expect(";");
    return add(stmt);
  }

  NodeId box(Stmt& stmt) {
    advance();
    stmt.kind = StmtKind::BLOCK;
    if (accept("[")) {
      expression();
      expect("]");
    }
    stmt.body = scope();
    return add(stmt);
  }

  NodeId measure_statement(Stmt& stmt) {
    const NodeId measured = measure_expression();
    stmt.kind = StmtKind::MEASURE;
    stmt.value = measured;
    if (accept("->")) stmt.target = postfix();
    expect(";");
    return add(stmt);
  }

  NodeId measure_expression() {
    const Token word = advance();
    Expr node = make(ExprKind::MEASURE, word.offset);
    node.left = operand();
    return add(node);
  }

  NodeId alias(Stmt& stmt) {
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
  Range body() {
    if (is_symbol("{")) return scope();
    const std::size_t mark = stmt_scratch_.size();
    stmt_scratch_.push_back(statement());
    return close_stmt_list(mark);
  }

  Range scope() {
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
  NodeId simple_statement(Stmt& stmt) {
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

  bool is_assignment(std::size_t ahead) {
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
  std::size_t matching_paren(std::size_t open) {
    std::size_t depth = 0;
    for (std::size_t ahead = open;; ++ahead) {
      const Token token = peek(ahead);
      if (token.kind == TokenKind::END) return ahead;
      if (token.kind != TokenKind::SYMBOL) continue;
      if (same_text(token.text, "(")) ++depth;
      if (same_text(token.text, ")") && --depth == 0) return ahead;
    }
  }

  NodeId gate_call(Stmt& stmt) {
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

  Range modifiers() {
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

  Range operand_list() {
    const std::size_t mark = expr_scratch_.size();
    while (!is_symbol(";")) {
      expr_scratch_.push_back(operand());
      if (!accept(",")) break;
    }
    return close_expr_list(mark);
  }

  NodeId operand() {
    const Token& token = look(0);
    if (token.kind == TokenKind::HARDWARE_QUBIT) {
      advance();
      return add_leaf(ExprKind::HARDWARE_QUBIT, token.offset, token.text);
    }
    if (token.kind != TokenKind::IDENTIFIER) unexpected("a qubit");
    return postfix();
  }

  // ---------------------------------------------------------------- expressions
  Range expression_list(std::string_view closing) {
    const std::size_t mark = expr_scratch_.size();
    while (!is_symbol(closing)) {
      expr_scratch_.push_back(expression());
      if (!accept(",")) break;
    }
    expect(closing);
    return close_expr_list(mark);
  }

  NodeId expression() {
    const NodeId number = lone_number();
    return number != NO_NODE ? number : binary(0);
  }

  // ---------------------------------------------------------------- shortcuts
  // Most expressions of a program are a number, perhaps negated, and most operands
  // `name[number]`. Those are read here straight into the nodes that the descent below
  // builds for them, in the same order, and only where the descent's depth guards (one
  // per unary and per primary level it passes) would let it through.
  bool levels_free(int levels) const {
    return depth_ + levels <= MAX_NESTING_DEPTH && !stack_nearly_exhausted();
  }
  bool is_number(std::size_t ahead) {
    const TokenKind kind = look(ahead).kind;
    return kind == TokenKind::INTEGER || kind == TokenKind::FLOAT;
  }
  // Whether the token `ahead` ends the expression before it: no operator or index follows.
  bool ends_expression(std::size_t ahead) {
    const Token& token = look(ahead);
    return token.kind == TokenKind::SYMBOL && token.text.size() == 1 &&
           is_one_of(token.text[0], "]),;:}");
  }
  NodeId number_literal() {
    return literal(look(0).kind == TokenKind::INTEGER ? ExprKind::INTEGER : ExprKind::FLOAT);
  }

  // A number or a negated number that is the whole expression; NO_NODE for anything else.
  NodeId lone_number() {
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
  NodeId indexed_name() {
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
  NodeId binary(std::size_t min_level) {
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

  static std::optional<std::pair<std::size_t, BinaryOp>> binary_operator(std::string_view symbol) {
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

  NodeId unary() {
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
  NodeId power() {
    const NodeId base = postfix();
    if (!is_symbol("**") && !(openqasm_2_ && is_symbol("^"))) return base;
    const std::size_t offset = advance().offset;
    Expr node = make(ExprKind::BINARY, offset);
    node.binary_op = BinaryOp::POWER;
    node.left = base;
    node.right = unary();
    return add(node);
  }

  NodeId postfix() {
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

  NodeId range_or_expression() {
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

  NodeId set_expression() {
    const std::size_t offset = advance().offset;
    Expr node = make(ExprKind::SET, offset);
    node.items = expression_list("}");
    return add(node);
  }

  NodeId primary() {
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

  NodeId literal(ExprKind kind) {
    const Token& token = look(0);
    const NodeId id = add_leaf(kind, token.offset, token.text);
    advance();
    return id;
  }

  // The names that named() reads as something else than a name.
  static bool is_constant_or_type(std::string_view name) {
    if (same_text(name, "true") || same_text(name, "false")) return true;
    return std::any_of(SCALAR_TYPE_WORDS.begin(), SCALAR_TYPE_WORDS.end(),
                       [&](const TypeWord& type) { return same_text(name, type.word); });
  }

  NodeId named() {
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

Program parse(std::string_view text) {
  Parser parser(text);
  std::vector<NodeId> top;
  for (NodeId id = parser.next_statement(); id != NO_NODE; id = parser.next_statement())
    top.push_back(id);
  Program program = std::move(parser.impl_->program());
  program.top = Range{static_cast<std::uint32_t>(program.stmt_lists.size()),
                      static_cast<std::uint32_t>(top.size())};
  program.stmt_lists.insert(program.stmt_lists.end(), top.begin(), top.end());
  return program;
}

}  // namespace corvane::qasm3::detail::lower
