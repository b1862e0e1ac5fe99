// The expander's classical side: declarations (registers included), assignments,
// expressions folded to values, control flow unrolled, subroutines inlined.
#include "qasm/lower/expander.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "qasm/lower/lexer.hpp"

namespace corvane::qasm3::detail::lower::expansion {

namespace {

// The built-in instructions of pulse-level code, which act on frames and waveforms rather
// than on gates: a program that calls one cannot be written as a circuit.
constexpr std::array<std::string_view, 9> PULSE_INSTRUCTIONS = {
    "capture",       "get_frequency", "get_phase",       "newframe",   "play",
    "set_frequency", "set_phase",     "shift_frequency", "shift_phase"};

bool is_pulse_instruction(std::string_view name) noexcept {
  return std::find(PULSE_INSTRUCTIONS.begin(), PULSE_INSTRUCTIONS.end(), name) !=
         PULSE_INSTRUCTIONS.end();
}

// Every name the program text spells, keywords included.
std::set<std::string, std::less<>> program_identifiers(std::string_view text) {
  std::set<std::string, std::less<>> names;
  Lexer lexer(text);
  for (Token token = lexer.next(); token.kind != TokenKind::END; token = lexer.next()) {
    if (token.kind == TokenKind::IDENTIFIER) names.emplace(token.text);
  }
  return names;
}

// Whether a loop that meets `flow` in its body stops and hands it on.
constexpr bool leaves_loop(Flow flow) {
  return flow == Flow::RETURN || flow == Flow::END;
}

// The whole numbers an input of `type` holds, lowest and highest, within those of int64.
std::pair<std::int64_t, std::int64_t> whole_input_range(const ScalarType& type) {
  const bool is_signed = type.kind == ScalarKind::INT;
  const unsigned width = type.kind == ScalarKind::BOOL
                             ? 1U
                             : type.width.value_or(type.kind == ScalarKind::BIT ? 1U : 64U);
  const unsigned magnitude_bits = std::min(is_signed ? width - 1 : width, 63U);
  const auto high = static_cast<std::int64_t>((std::uint64_t{1} << magnitude_bits) - 1);
  return {is_signed ? -high - 1 : 0, high};
}

bool takes_any_number(const ScalarType& type) {
  return type.kind == ScalarKind::FLOAT || type.kind == ScalarKind::ANGLE;
}

[[noreturn]] void raise_not_whole(std::string_view name, const ScalarType& type,
                                  const std::string& value) {
  const auto [low, high] = whole_input_range(type);
  raise_value_error("Input '" + std::string(name) + "' is " + value + ", not a whole number from " +
                    std::to_string(low) + " to " + std::to_string(high) + " as " + type_name(type) +
                    " needs");
}

// An input's number is cast to the input's type. float and angle inputs take any
// number; bool, bit, bit[n], int and uint inputs take a whole number the type holds
// (bool and bit 0 or 1, bit[n] and uint[n] 0 to 2ⁿ-1), so a value that a cast would
// truncate or wrap is refused instead.
Value input_value(std::string_view name, const ScalarType& type, double value) {
  if (takes_any_number(type)) return convert_for_assignment(type, Value::floating(value));
  const auto [low, high] = whole_input_range(type);
  if (std::nearbyint(value) != value || value < static_cast<double>(low) ||
      value >= static_cast<double>(high) + 1.0) {
    raise_not_whole(name, type, g15(value));
  }
  return cast_to(type, Value::integer(static_cast<std::int64_t>(value)));
}

// The value of an input's expression, taken as a number is (above), except that whole
// values are compared exactly and a bool input also takes true and false.
Value input_value(std::string_view name, const ScalarType& type, const Value& value) {
  if (takes_any_number(type)) return convert_for_assignment(type, value);
  const ScalarKind kind = value.type().kind;
  if (kind == ScalarKind::FLOAT || kind == ScalarKind::ANGLE) {
    return input_value(name, type, value.as_double());
  }
  const std::int64_t whole = value.as_integer();
  const auto [low, high] = whole_input_range(type);
  const bool beyond_int64 = kind == ScalarKind::UINT && whole < 0;
  if (beyond_int64 || whole < low || whole > high) {
    raise_not_whole(
        name, type,
        beyond_int64 ? std::to_string(static_cast<std::uint64_t>(whole)) : std::to_string(whole));
  }
  return cast_to(type, Value::integer(whole));
}

BinaryOp compound_operator(std::string_view op) {
  static constexpr std::array<std::pair<std::string_view, BinaryOp>, 11> OPERATORS = {{
      {"+=", BinaryOp::ADD},
      {"-=", BinaryOp::SUBTRACT},
      {"*=", BinaryOp::MULTIPLY},
      {"/=", BinaryOp::DIVIDE},
      {"%=", BinaryOp::MODULO},
      {"**=", BinaryOp::POWER},
      {"&=", BinaryOp::BIT_AND},
      {"|=", BinaryOp::BIT_OR},
      {"^=", BinaryOp::BIT_XOR},
      {"<<=", BinaryOp::SHIFT_LEFT},
      {">>=", BinaryOp::SHIFT_RIGHT},
  }};
  for (const auto& [text, binary] : OPERATORS) {
    if (same_text(text, op)) return binary;
  }
  return BinaryOp::ADD;
}

}  // namespace

// ---------------------------------------------------------------- declarations

std::optional<std::int64_t> Expander::register_size(const Stmt& stmt) {
  if (stmt.size == NO_NODE) {
    if (stmt.type.width) return static_cast<std::int64_t>(*stmt.type.width);
    return std::nullopt;
  }
  const std::int64_t size = integer(stmt.size);
  if (size < 0) fail_value(expr(stmt.size).offset, "A register size must not be negative");
  return size;
}

// The importer reads register names that start with an ASCII letter or '_'.
void Expander::check_register_name(const Stmt& stmt) const {
  if (!is_identifier(stmt.name)) {
    fail_unsupported(stmt.offset,
                     "Register name " + quoted(stmt.name) +
                         " is not supported (names start with an ASCII letter or '_')");
  }
}

// The importer numbers all qubits (and all bits) of a program on one line, so their
// total must be a number. Absent size: a scalar.
void Expander::add_to_total(RegisterTotal& total, std::optional<std::int64_t> size,
                            std::size_t offset) const {
  placed(offset, [&] { size ? total.add_array(*size) : total.add_scalar(); });
}

void Expander::qubit_declaration(const Stmt& stmt) {
  check_register_name(stmt);
  const std::optional<std::int64_t> size = register_size(stmt);
  add_to_total(qubit_total_, size, stmt.offset);
  Symbol symbol =
      register_symbol(SymbolKind::QUBITS, stmt.name, size.value_or(1), !size.has_value());
  declare(stmt.name, stmt.offset, symbol);
  writer_.qubit_declaration(stmt.name, size);
}

void Expander::bit_declaration(const Stmt& stmt) {
  check_register_name(stmt);
  const std::optional<std::int64_t> size = register_size(stmt);
  const bool global = scopes_.size() == 1;
  if (global) add_to_total(bit_total_, size, stmt.offset);
  const std::string_view written = global ? stmt.name : local_bits(stmt, size);
  Symbol symbol = register_symbol(SymbolKind::BITS, written, size.value_or(1), !size.has_value());
  declare(stmt.name, stmt.offset, symbol);
  forget_bits_of(written);
  if (global) writer_.bit_declaration(stmt.name, size);
  if (stmt.value == NO_NODE) return;
  if (expr(stmt.value).kind == ExprKind::MEASURE) {
    measure(stmt.value, NO_NODE, stmt.name);
  } else {
    evaluate_into_bits(stmt.value, resolve(name_of(stmt.name), SymbolKind::BITS));
  }
}

// The register that bits declared in a block (a loop's body, a subroutine's) stand for:
// one per declaration and size, declared in the lowered program when first met, so
// that it is declared once however often the block runs. It is named after the bits
// with a suffix the program does not use (`b_1`), which keeps it apart from any other
// `b` the program declares.
std::string_view Expander::local_bits(const Stmt& stmt, std::optional<std::int64_t> size) {
  // Statements are parsed and dropped one top-level statement at a time, so the
  // declaration is known by its place in the text.
  const auto key = std::tuple{program_, stmt.offset, size.value_or(-1)};
  const auto found = local_bits_.find(key);
  if (found != local_bits_.end()) return found->second;
  if (identifiers_.empty()) {
    identifiers_ = program_identifiers(user_.text);
    // A file that cannot be read as tokens is refused where it is included.
    for (const auto& file : includes_.files()) {
      try {
        if (file->valid_utf8) identifiers_.merge(program_identifiers(file->text));
      } catch (const Error&) {
      }
    }
  }
  std::string name;
  for (int k = 1; name.empty() || identifiers_.contains(name); ++k) {
    name = std::string(stmt.name) + "_" + std::to_string(k);
  }
  identifiers_.insert(name);
  add_to_total(bit_total_, size, stmt.offset);
  const std::string& written = local_bits_.emplace(key, std::move(name)).first->second;
  writer_.bit_declaration(written, size);
  return written;
}

// The register of the hardware qubits is declared before anything else, sized by the
// highest one the program and the files it includes name, which a pass of the lexer finds.
void Expander::declare_hardware_register() {
  const auto& files = includes_.files();
  const auto names_hardware = [](std::string_view text) {
    return text.find('$') != std::string_view::npos;
  };
  if (!names_hardware(user_.text) &&
      std::none_of(files.begin(), files.end(),
                   [&](const auto& file) { return names_hardware(file->text); })) {
    return;
  }
  std::int64_t highest = -1;
  std::set<std::string_view> names_taken;
  find_hardware_qubits(user_.text, {}, highest, names_taken);
  for (const auto& file : files) {
    if (file->valid_utf8) find_hardware_qubits(file->text, file->path, highest, names_taken);
  }
  if (highest < 0) return;
  if (highest == std::numeric_limits<std::int64_t>::max())
    placed(0, [&] { raise_total_too_large(highest, 1); });
  add_to_total(qubit_total_, highest + 1, 0);
  hardware_size_ = highest + 1;
  for (int k = 1; names_taken.contains(hardware_register_); ++k) {
    hardware_register_ = std::string(HARDWARE_REGISTER) + "_" + std::to_string(k);
  }
  declare(hardware_register_, 0,
          register_symbol(SymbolKind::QUBITS, hardware_register_, hardware_size_, false));
  writer_.qubit_declaration(hardware_register_, hardware_size_);
}

// The hardware qubits of `text` (from the file `file`; empty: the program), and the
// names there that the register's name must avoid. Text of an included file that the
// lexer refuses is searched up to there: including it refuses it.
void Expander::find_hardware_qubits(std::string_view text, std::string_view file,
                                    std::int64_t& highest,
                                    std::set<std::string_view>& names_taken) const {
  Lexer lexer(text);
  for (;;) {
    Token token;
    try {
      token = lexer.next();
    } catch (const Error&) {
      if (file.empty()) throw;
      return;
    }
    if (token.kind == TokenKind::END) return;
    if (token.kind == TokenKind::IDENTIFIER && token.text.starts_with(HARDWARE_REGISTER)) {
      names_taken.insert(token.text);
    }
    if (token.kind != TokenKind::HARDWARE_QUBIT) continue;
    const auto number = read_decimal_digits(token.text.substr(1));
    if (!number) {
      with_place_of_error(
          [&] {
            Location where = locate(text, token.offset);
            where.file = file;
            return where;
          },
          [&] {
            raise_value_error("Hardware qubit " + std::string(token.text) + " is out of range");
          });
    }
    highest = std::max(highest, *number);
  }
}

// A type whose width the program wrote as an expression (`int[SIZE]`), with the width
// worked out; other types as they stand.
ScalarType Expander::resolved_type(ScalarType type, NodeId width) {
  if (width == NO_NODE) return type;
  const std::int64_t bits = integer(width);
  if (bits < 1 || bits > 64) {
    fail_unsupported(expr(width).offset,
                     "Type width " + std::to_string(bits) + " is not supported (1 to 64)");
  }
  type.width = static_cast<unsigned>(bits);
  return type;
}

void Expander::classical_declaration(const Stmt& stmt) {
  const ScalarType type = resolved_type(stmt.type, stmt.size);
  Symbol symbol;
  symbol.kind = SymbolKind::CLASSICAL;
  symbol.type = type;
  symbol.is_const = stmt.is_const;
  if (stmt.is_input) {
    declared_inputs_.emplace(stmt.name);
    const auto given = inputs_.find(stmt.name);
    if (given == inputs_.end()) {
      declare_free_input(stmt, type, symbol);
      declare(stmt.name, stmt.offset, std::move(symbol));
      return;
    }
    symbol.value = placed(stmt.offset, [&] {
      const InputValue& input = given->second;
      if (!input.is_expression()) return input_value(stmt.name, type, input.number());
      return input_value(stmt.name, type, input_expression(stmt.name, input.expression_text()));
    });
  } else if (stmt.value != NO_NODE) {
    symbol.value = assigned(type, stmt.value);
  }
  declare(stmt.name, stmt.offset, std::move(symbol));
}

// An input's value given as text is read and evaluated as a constant expression of the
// program's language that sees nothing of the program: the built-in constants and
// functions only. Its errors name the input; a place in the text of the value would be
// no place in the program, so the input's declaration is given as theirs.
Value Expander::input_expression(std::string_view name, std::string_view text) {
  try {
    validate_utf8(text);
    ParsedExpression value = parse_expression(text, openqasm2_);
    value.program.origin = Origin::LIBRARY;  // seeing no name of the program, placed nowhere
    const ScopeGuard isolated(scopes_, /*boundary=*/true);
    return in_program(value.program, [&] {
      const Value result = evaluate(value.root);
      if (!is_constant(value.root)) raise_value_error("the value is not a constant expression");
      return result;
    });
  } catch (const Error& error) {
    raise_like(error, "Input '" + std::string(name) + "': " + error.what());
  }
}

// A value given for an input the program never declares is a mistake of the caller's
// (a misspelt name, the wrong program), not a value to ignore.
void Expander::check_inputs_declared() const {
  for (const auto& [name, value] : inputs_) {
    if (!declared_inputs_.contains(name)) {
      raise_value_error("No input '" + name + "' is declared in the program");
    }
  }
}

Value Expander::assigned(const ScalarType& type, NodeId value) {
  const Value computed = evaluate(value);
  return placed(expr(value).offset, [&] { return convert_for_assignment(type, computed); });
}

void Expander::assignment(const Stmt& stmt) {
  const Expr& target = expr(stmt.target);
  if (expr(stmt.value).kind == ExprKind::MEASURE) {
    measure(stmt.value, stmt.target);
    return;
  }
  if (target.kind != ExprKind::NAME) {
    Symbol* base = target.kind == ExprKind::INDEX ? lookup(expr(target.left).text) : nullptr;
    if (base != nullptr && base->kind == SymbolKind::BITS) {
      evaluate_into_bits(stmt.value, bits(stmt.target));
      return;
    }
    fail_unsupported(target.offset, "Assigning to parts of a value is not supported");
  }
  Symbol* symbol = lookup(target.text);
  if (symbol == nullptr)
    fail_value(target.offset, "Undeclared name '" + std::string(target.text) + "'");
  if (symbol->kind == SymbolKind::BITS) {
    evaluate_into_bits(stmt.value, bits(stmt.target));
    return;
  }
  if (symbol->kind != SymbolKind::CLASSICAL) {
    fail_value(target.offset, "'" + std::string(target.text) + "' cannot be assigned");
  }
  if (symbol->is_const) fail_value(target.offset, "'" + std::string(target.text) + "' is constant");
  if (runtime_blocks_ > 0 && declared_before(runtime_scope_floor_, target.text)) {
    fail_unsupported(target.offset, "Assigning '" + std::string(target.text) +
                                        "' in a block that runs on measured bits is not supported");
  }
  Value value = evaluate(stmt.value);
  if (stmt.text != "=") {
    if (!symbol->value) {
      fail_value(target.offset, "'" + std::string(target.text) + "' has no value here");
    }
    value = apply(compound_operator(stmt.text), *symbol->value, value);
  }
  symbol->value =
      placed(expr(stmt.value).offset, [&] { return convert_for_assignment(symbol->type, value); });
}

// The circuit keeps no classical values, so a value given to bits is dropped, except
// that a subroutine called for it is inlined all the same: its body may hold gates,
// and a measurement it returns measures into `target`.
void Expander::evaluate_into_bits(NodeId value, const Resolved& target) {
  for (const PlainOperand& bit : target.elements)
    set_bit_state(bit, BitState::ASSIGNED);
  const Expr& node = expr(value);
  const Symbol* callee = node.kind == ExprKind::CALL ? lookup(node.text) : nullptr;
  if (callee == nullptr || callee->kind != SymbolKind::SUBROUTINE) return;
  next_call_return_bits_ = &target;
  const std::optional<Value> result = call(node);
  next_call_return_bits_ = nullptr;
  if (!result && !std::exchange(last_call_measured_, false)) {
    fail_value(node.offset, "'" + std::string(node.text) + "' returns no value");
  }
}

void Expander::alias(const Stmt& stmt) {
  Resolved resolved;
  alias_elements(stmt.value, resolved);
  Symbol symbol = register_symbol(SymbolKind::QUBITS, stmt.name,
                                  static_cast<std::int64_t>(resolved.elements.size()), false);
  symbol.list = std::make_shared<const std::vector<PlainOperand>>(std::move(resolved.elements));
  declare(stmt.name, stmt.offset, std::move(symbol));
}

void Expander::alias_elements(NodeId id, Resolved& into) {
  const Expr& node = expr(id);
  if (node.kind == ExprKind::CONCAT) {
    alias_elements(node.left, into);
    alias_elements(node.right, into);
    return;
  }
  const Resolved part = qubits(id);
  into.elements.insert(into.elements.end(), part.elements.begin(), part.elements.end());
}

// ---------------------------------------------------------------- control flow

bool Expander::condition(NodeId id) {
  const Value value = evaluate(id);
  return value.as_bool();
}

// `break` and `continue` in a loop's body leave it, wherever the loop stands.
Flow Expander::for_loop(const Stmt& stmt) {
  const int outer_blocks = std::exchange(runtime_blocks_in_loop_, 0);
  const Flow flow = for_passes(stmt);
  runtime_blocks_in_loop_ = outer_blocks;
  return flow;
}

Flow Expander::for_passes(const Stmt& stmt) {
  const Expr& iterable = expr(stmt.value);
  const ScalarType type = resolved_type(stmt.type, stmt.size);
  const auto body = [&](const Value& element) {
    const ScopeGuard scope(scopes_);
    Symbol variable;
    variable.kind = SymbolKind::CLASSICAL;
    variable.type = type;
    variable.value = convert_for_assignment(type, element);
    declare(stmt.name, stmt.offset, std::move(variable));
    return statements_in_scope(stmt.body);
  };
  if (iterable.kind == ExprKind::RANGE) {
    const std::int64_t start = iterable.left == NO_NODE ? 0 : integer(iterable.left);
    const std::int64_t step = iterable.step == NO_NODE ? 1 : integer(iterable.step);
    if (iterable.right == NO_NODE) fail_value(iterable.offset, "A loop range needs an end");
    const std::int64_t stop = integer(iterable.right);
    if (step == 0) fail_value(iterable.offset, "A range step must not be zero");
    for (std::int64_t k = start; step > 0 ? k <= stop : k >= stop; k += step) {
      count_statement(stmt.offset);
      const Flow flow = body(Value::integer(k));
      if (flow == Flow::BREAK) break;
      if (leaves_loop(flow)) return flow;
      if ((step > 0 && k > INT64_MAX - step) || (step < 0 && k < INT64_MIN - step)) break;
    }
    return Flow::NEXT;
  }
  if (iterable.kind == ExprKind::SET) {
    for (const NodeId element : list(iterable.items)) {
      count_statement(stmt.offset);
      const Flow flow = body(evaluate(element));
      if (flow == Flow::BREAK) break;
      if (leaves_loop(flow)) return flow;
    }
    return Flow::NEXT;
  }
  fail_unsupported(iterable.offset, "A loop over anything but a range or a set is not supported");
}

Flow Expander::while_loop(const Stmt& stmt) {
  const int outer_blocks = std::exchange(runtime_blocks_in_loop_, 0);
  const Flow flow = while_passes(stmt);
  runtime_blocks_in_loop_ = outer_blocks;
  return flow;
}

Flow Expander::while_passes(const Stmt& stmt) {
  while (condition(stmt.value)) {
    count_statement(stmt.offset);
    const Flow flow = statements_in_scope(stmt.body);
    if (flow == Flow::BREAK) break;
    if (leaves_loop(flow)) return flow;
  }
  return Flow::NEXT;
}

// The case whose label is the value, else the default. The labels are checked first,
// whatever the value: constant integers, each at most once. A switch is no loop:
// `break` and `continue` in a case act on the loop around it. Cold, as in the parser.
// On measured bits, each label in the order written tests them in turn.
Flow Expander::switch_statement(const Stmt& stmt) {
  std::map<std::int64_t, NodeId> cases;
  std::vector<CaseLabel> labels;
  NodeId fallback = NO_NODE;
  for (std::uint32_t k = 0; k < stmt.body.size; ++k) {
    const NodeId item = program_->stmt_lists[stmt.body.begin + k];
    if (program_->stmts[item].args.size == 0) fallback = item;
    for (const NodeId label : list(program_->stmts[item].args)) {
      if (!is_constant(label)) fail_value(expr(label).offset, "A 'case' label must be constant");
      const std::int64_t value = switch_integer(label, "A 'case' label");
      if (!cases.emplace(value, item).second) {
        fail_value(expr(label).offset, "Duplicate 'case' label " + std::to_string(value));
      }
      labels.push_back(CaseLabel{value, item, label});
    }
  }
  if (names_bits(stmt.value)) return runtime_switch(stmt, labels, fallback);
  const auto chosen = cases.find(switch_integer(stmt.value, "A 'switch' value"));
  const NodeId item = chosen != cases.end() ? chosen->second : fallback;
  return item == NO_NODE ? Flow::NEXT : statements_in_scope(program_->stmts[item].body);
}

// A switch compares integers, and the language converts nothing to them implicitly.
std::int64_t Expander::switch_integer(NodeId id, std::string_view what) {
  const Value value = evaluate(id);
  const ScalarKind kind = value.type().kind;
  if (kind != ScalarKind::INT && kind != ScalarKind::UINT) {
    fail_value(expr(id).offset,
               std::string(what) + " must be an integer, not " + type_name(value.type()));
  }
  return value.as_integer();
}

// Literals and constants, and operators, casts and built-in functions applied to them.
bool Expander::is_constant(NodeId id) {
  const Expr& node = expr(id);
  switch (node.kind) {
    case ExprKind::INTEGER:
    case ExprKind::FLOAT:
    case ExprKind::BOOLEAN:
    case ExprKind::BIT_STRING:
      return true;
    case ExprKind::NAME: {
      const Symbol* symbol = lookup(node.text);
      if (symbol == nullptr) return builtin_constant(node.text).has_value();
      return symbol->kind == SymbolKind::CLASSICAL && symbol->is_const;
    }
    case ExprKind::UNARY:
    case ExprKind::CAST:
      return is_constant(node.left);
    case ExprKind::BINARY:
      return is_constant(node.left) && is_constant(node.right);
    case ExprKind::CALL: {
      const auto arguments = list(node.items);
      return lookup(node.text) == nullptr && is_builtin_function(node.text) &&
             std::all_of(arguments.begin(), arguments.end(),
                         [this](NodeId argument) { return is_constant(argument); });
    }
    default:
      return false;
  }
}

// ---------------------------------------------------------------- expressions

Value Expander::evaluate(NodeId id) {
  // A chain such as `t + 1 + 1 + ...` nests as deep as it is long; it is refused before
  // the stack runs out, without counting against the nesting limit of blocks.
  if (stack_nearly_exhausted()) [[unlikely]]
    throw RecursionError(std::string(RECURSION_MESSAGE));
  const Expr& node = expr(id);
  return placed(node.offset, [&] { return evaluate_node(node); });
}

Value Expander::evaluate_node(const Expr& node) {
  switch (node.kind) {
    case ExprKind::INTEGER:
      return read_integer_literal(node.text);
    case ExprKind::FLOAT:
      return read_float_literal(node.text);
    case ExprKind::BOOLEAN:
      return Value::boolean(node.text == "true");
    case ExprKind::BIT_STRING:
      return read_bit_string_literal(node.text);
    case ExprKind::NAME:
      return name_value(node);
    case ExprKind::UNARY:
      return apply(node.unary_op, evaluate(node.left));
    case ExprKind::BINARY:
      return binary_value(node);
    case ExprKind::CAST:
      return cast_to(resolved_type(node.type, node.right), evaluate(node.left));
    case ExprKind::CALL: {
      std::optional<Value> result = call(node);
      if (!result) raise_value_error("'" + std::string(node.text) + "' returns no value");
      return *result;
    }
    case ExprKind::MEASURE:
      raise_not_implemented("A measurement result is known only when the circuit runs");
    case ExprKind::IMAGINARY:
      raise_not_implemented("Complex numbers are not supported");
    case ExprKind::DURATION:
      raise_not_implemented("Durations are not supported here");
    case ExprKind::INDEX: {
      const Symbol* base =
          expr(node.left).kind == ExprKind::NAME ? lookup(expr(node.left).text) : nullptr;
      if (base != nullptr && base->kind == SymbolKind::BITS) {
        raise_not_implemented("'" + std::string(base->register_name) +
                              "' is known only when the circuit runs");
      }
      return bits_of_value(node);
    }
    case ExprKind::HARDWARE_QUBIT:
    case ExprKind::RANGE:
    case ExprKind::SET:
    case ExprKind::CONCAT:
      break;
  }
  raise_value_error("Expected a classical value");
}

// Bits of a value known here, as the language reads `v[k]`, `v[{j, k}]` and `v[a:b]`: bit k
// of the value's two's complement, bit 0 the least significant, negative indices counting
// from the end. Values of a given width have bits to index (int, uint, angle, bit); one index
// picks a bit, an index set or range a bit[n] of the bits it names, in its order.
Value Expander::bits_of_value(const Expr& node) {
  const Value value = evaluate(node.left);
  const ScalarType& type = value.type();
  if (type.kind == ScalarKind::FLOAT || type.kind == ScalarKind::BOOL || !type.width) {
    raise_value_error("A value of type " + type_name(type) + " has no bits to index");
  }
  if (node.items.size != 1) raise_value_error("A classical value has one index");
  const auto width = static_cast<std::int64_t>(*type.width);
  const std::string indexed = "a " + type_name(type) + " value";
  const std::uint64_t pattern = value.bit_pattern();
  const NodeId index = list(node.items)[0];
  std::vector<std::int64_t> picked;
  if (expr(index).kind == ExprKind::RANGE) {
    picked = slice(expr(index), width, indexed);
  } else if (expr(index).kind == ExprKind::SET) {
    for (const NodeId element : list(expr(index).items))
      picked.push_back(index_within(element, width, indexed));
  } else {
    return Value::bit(((pattern >> index_within(index, width, indexed)) & 1U) != 0);
  }
  if (picked.empty()) fail_value(expr(index).offset, "An index set must not be empty");
  if (picked.size() > 64) {
    fail_value(expr(index).offset, "An index set of " + std::to_string(picked.size()) +
                                       " bits is wider than a value (64 bits at most)");
  }
  std::uint64_t bits = 0;
  for (std::size_t k = 0; k < picked.size(); ++k)
    bits |= ((pattern >> picked[k]) & 1U) << k;
  return Value::bits(bits, static_cast<unsigned>(picked.size()));
}

// `&&` and `||` evaluate their right side only when the left one leaves the result
// open, so `false && 1/0 == 1` is false rather than a division by zero.
Value Expander::binary_value(const Expr& node) {
  const Value left = evaluate(node.left);
  if (node.binary_op == BinaryOp::LOGICAL_AND && !left.as_bool()) return Value::boolean(false);
  if (node.binary_op == BinaryOp::LOGICAL_OR && left.as_bool()) return Value::boolean(true);
  // OpenQASM 2's expressions are real-valued: 1/2 is 0.5 there, where OpenQASM 3 truncates.
  if (openqasm2_ && node.binary_op == BinaryOp::DIVIDE) {
    return apply(node.binary_op, Value::floating(left.as_double()), evaluate(node.right));
  }
  return apply(node.binary_op, left, evaluate(node.right));
}

Value Expander::name_value(const Expr& node) {
  const Symbol* symbol = lookup(node.text);
  if (symbol == nullptr) {
    if (auto constant = builtin_constant(node.text)) return *constant;
    raise_value_error("Undeclared name '" + std::string(node.text) + "'");
  }
  switch (symbol->kind) {
    case SymbolKind::CLASSICAL:
      if (!symbol->value) {
        if (symbol->free) raise_value_error(no_value_message(symbol->free->inputs.front()));
        raise_value_error("'" + std::string(node.text) + "' has no value here");
      }
      return *symbol->value;
    case SymbolKind::BITS:
      raise_not_implemented("'" + std::string(node.text) + "' is known only when the circuit runs");
    case SymbolKind::TIMING:
      raise_not_implemented("Durations are not supported here");
    case SymbolKind::QUBITS:
    case SymbolKind::GATE:
    case SymbolKind::SUBROUTINE:
      break;
  }
  raise_value_error("'" + std::string(node.text) + "' is not a classical value");
}

std::optional<Value> Expander::call(const Expr& node) {
  const Symbol* symbol = lookup(node.text);
  if (symbol != nullptr && symbol->kind == SymbolKind::SUBROUTINE)
    return call_subroutine(node, *symbol);
  if (symbol == nullptr && is_pulse_instruction(node.text))
    raise_not_implemented("'" + std::string(node.text) + "' is not supported");
  if (!is_builtin_function(node.text) || symbol != nullptr) {
    raise_value_error("'" + std::string(node.text) + "' is not a subroutine");
  }
  std::vector<Value> arguments;
  for (const NodeId argument : list(node.items))
    arguments.push_back(evaluate(argument));
  return call_builtin(node.text, arguments);
}

double Expander::parameter(NodeId id) {
  return parameter_number(evaluate(id), expr(id).offset);
}

double Expander::parameter_number(const Value& value, std::size_t offset) const {
  return placed(offset, [&] {
    const double number = value.as_double();
    if (!std::isfinite(number)) raise_value_error("A gate parameter must be finite");
    return number;
  });
}

// ---------------------------------------------------------------- subroutines

void Expander::subroutine_definition(const Stmt& stmt) {
  Symbol symbol;
  symbol.kind = SymbolKind::SUBROUTINE;
  symbol.definition = static_cast<NodeId>(&stmt - program_->stmts.data());
  symbol.home = program_;
  declare(stmt.name, stmt.offset, std::move(symbol));
}

// A subroutine call is inlined: its body runs with the arguments bound, and the value
// of its `return`, if any, is the call's value. The definition may be in another text
// than the call (a file the program includes): the arguments are read in the caller's,
// the parameters' types and the body in the definition's.
std::optional<Value> Expander::call_subroutine(const Expr& node, const Symbol& symbol) {
  const DepthGuard guard(depth_);
  // Only this call returns into the bits; calls in its arguments do not.
  const Resolved* const return_bits = std::exchange(next_call_return_bits_, nullptr);
  const Program& home = *symbol.home;
  const Stmt& definition = home.stmts[symbol.definition];
  const auto arguments = list(node.items);
  if (arguments.size() != definition.params.size) {
    raise_value_error("'" + std::string(node.text) + "' takes " +
                      std::to_string(definition.params.size) + " arguments, " +
                      std::to_string(arguments.size()) + " given");
  }
  std::vector<Symbol> bound;
  for (std::uint32_t k = 0; k < definition.params.size; ++k) {
    bound.push_back(argument_symbol(home.params[definition.params.begin + k], home, arguments[k]));
  }
  const ProgramGuard in_home(program_, home);
  const ScopeGuard scope(scopes_, true);
  for (std::uint32_t k = 0; k < definition.params.size; ++k) {
    const Param& param = program_->params[definition.params.begin + k];
    declare(param.name, param.offset, std::move(bound[k]));
  }
  const Resolved* const outer_return_bits = std::exchange(return_bits_, return_bits);
  return_value_.reset();
  returned_measurement_ = false;
  const int outer_blocks = std::exchange(runtime_blocks_in_loop_, 0);
  if (statements(definition.body) == Flow::END)
    raise_not_implemented("'end' in a subroutine is not supported");
  runtime_blocks_in_loop_ = outer_blocks;
  return_bits_ = outer_return_bits;
  std::optional<Value> result = std::exchange(return_value_, std::nullopt);
  last_call_measured_ = std::exchange(returned_measurement_, false);
  if (last_call_measured_) return std::nullopt;
  if (definition.has_return_type) {
    if (!result)
      raise_value_error("'" + std::string(node.text) + "' ended without returning a value");
    return convert_for_assignment(resolved_type(definition.type, definition.size), *result);
  }
  return std::nullopt;
}

Symbol Expander::argument_symbol(const Param& param, const Program& home, NodeId argument) {
  if (param.kind == ParamKind::QUBIT) {
    Resolved qubits_given = qubits(argument);
    const std::int64_t size =
        param.size == NO_NODE ? 1 : in_program(home, [&] { return integer(param.size); });
    if (static_cast<std::int64_t>(qubits_given.elements.size()) != size ||
        (param.size == NO_NODE && !qubits_given.single)) {
      fail_value(expr(argument).offset, "Argument '" + std::string(param.name) + "' takes " +
                                            std::to_string(size) + " qubits");
    }
    Symbol symbol = register_symbol(SymbolKind::QUBITS, param.name, size, param.size == NO_NODE);
    symbol.list =
        std::make_shared<const std::vector<PlainOperand>>(std::move(qubits_given.elements));
    return symbol;
  }
  Symbol symbol;
  symbol.kind = SymbolKind::CLASSICAL;
  symbol.type = in_program(home, [&] { return resolved_type(param.type, param.size); });
  symbol.value = assigned(symbol.type, argument);
  return symbol;
}

Flow Expander::return_statement(const Stmt& stmt) {
  if (stmt.value != NO_NODE) {
    if (expr(stmt.value).kind == ExprKind::MEASURE) {
      if (return_bits_ == nullptr) {
        fail_unsupported(stmt.offset,
                         "A returned measurement must be assigned to bits where it is called");
      }
      if (return_bits_ == &DROPPED_RESULT) {
        measure(stmt.value, NO_NODE);
      } else {
        measure_into(stmt.value, *return_bits_);
      }
      returned_measurement_ = true;
      return Flow::RETURN;
    }
    return_value_ = evaluate(stmt.value);
  }
  return Flow::RETURN;
}

}  // namespace corvane::qasm3::detail::lower::expansion
