#include "qasm/lower/free_parameters.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

namespace {

struct OperatorText {
  BinaryOp op;
  std::string_view symbol;
  Binding binding;
};
// `* / % **` are written tight, the looser operators with a space on each side.
constexpr std::array<OperatorText, 19> OPERATOR_TEXTS = {{
    {BinaryOp::LOGICAL_OR, " || ", Binding::LOGICAL_OR},
    {BinaryOp::LOGICAL_AND, " && ", Binding::LOGICAL_AND},
    {BinaryOp::BIT_OR, " | ", Binding::BIT_OR},
    {BinaryOp::BIT_XOR, " ^ ", Binding::BIT_XOR},
    {BinaryOp::BIT_AND, " & ", Binding::BIT_AND},
    {BinaryOp::EQUAL, " == ", Binding::EQUALITY},
    {BinaryOp::NOT_EQUAL, " != ", Binding::EQUALITY},
    {BinaryOp::LESS, " < ", Binding::COMPARISON},
    {BinaryOp::LESS_EQUAL, " <= ", Binding::COMPARISON},
    {BinaryOp::GREATER, " > ", Binding::COMPARISON},
    {BinaryOp::GREATER_EQUAL, " >= ", Binding::COMPARISON},
    {BinaryOp::SHIFT_LEFT, " << ", Binding::SHIFT},
    {BinaryOp::SHIFT_RIGHT, " >> ", Binding::SHIFT},
    {BinaryOp::ADD, " + ", Binding::ADDITIVE},
    {BinaryOp::SUBTRACT, " - ", Binding::ADDITIVE},
    {BinaryOp::MULTIPLY, "*", Binding::MULTIPLICATIVE},
    {BinaryOp::DIVIDE, "/", Binding::MULTIPLICATIVE},
    {BinaryOp::MODULO, "%", Binding::MULTIPLICATIVE},
    {BinaryOp::POWER, "**", Binding::POWER},
}};

const OperatorText& operator_text(BinaryOp op) {
  return *std::find_if(OPERATOR_TEXTS.begin(), OPERATOR_TEXTS.end(),
                       [&](const OperatorText& entry) { return entry.op == op; });
}

// A value of the type, for working out the type of an operation on it: the typing rules
// do not depend on the values, only some operations fail for some.
Value representative(const ScalarType& type) {
  switch (type.kind) {
    case ScalarKind::BOOL:
      return Value::boolean(true);
    case ScalarKind::BIT:
      return type.width ? Value::bits(1, *type.width) : Value::bit(true);
    case ScalarKind::INT:
      return Value::integer(1, type.width);
    case ScalarKind::UINT:
      return Value::unsigned_integer(1, type.width);
    case ScalarKind::FLOAT:
      return Value::floating(1.0, type.width);
    case ScalarKind::ANGLE:
      return Value::angle(1.0, type.width);
  }
  return Value::integer(1);
}

std::optional<Value> sample(const FreeTerm& term) {
  if (term.value) return term.value;
  if (term.free->type) return representative(*term.free->type);
  return std::nullopt;
}

// The type of the result, by doing the operation on samples of its operands' types.
template <class Operation>
std::optional<ScalarType> result_type(std::span<const FreeTerm> operands, Operation&& operation) {
  std::vector<Value> samples;
  for (const FreeTerm& operand : operands) {
    std::optional<Value> value = sample(operand);
    if (!value) return std::nullopt;
    samples.push_back(*value);
  }
  try {
    return operation(samples).type();
  } catch (const Error&) {
    return std::nullopt;
  }
}

bool is_float64(const std::optional<ScalarType>& type) {
  return type && type->kind == ScalarKind::FLOAT && (!type->width || *type->width == 64);
}

void append_number(std::string& out, double number) {
  append_shortest(out, number);
}

// A known value in the normal form, with how tightly it binds.
std::pair<std::string, Binding> value_text(const Value& value) {
  const ScalarType& type = value.type();
  std::string text;
  switch (type.kind) {
    case ScalarKind::BOOL:
      return {value.as_bool() ? "true" : "false", Binding::ATOM};
    case ScalarKind::BIT:
      if (type.width) {
        text = "\"";
        for (unsigned k = *type.width; k-- > 0;)
          text += ((value.bit_pattern() >> k) & 1U) != 0 ? '1' : '0';
        return {text + "\"", Binding::ATOM};
      }
      return {value.as_bool() ? "bit(1)" : "bit(0)", Binding::ATOM};
    case ScalarKind::INT:
    case ScalarKind::UINT: {
      const std::int64_t number = value.as_integer();
      if (number == std::numeric_limits<std::int64_t>::min()) {
        text = "(-9223372036854775807 - 1)";
      } else {
        append_int(text, number);
      }
      if (type.kind == ScalarKind::INT && !type.width)
        return {text, number < 0 ? Binding::UNARY : Binding::ATOM};
      return {type_name(type) + "(" + text + ")", Binding::ATOM};
    }
    case ScalarKind::FLOAT:
    case ScalarKind::ANGLE:
      append_number(text, value.as_double());
      if (is_float64(type)) return {text, value.as_double() < 0 ? Binding::UNARY : Binding::ATOM};
      return {type_name(type) + "(" + text + ")", Binding::ATOM};
  }
  raise_value_error("A value of type " + type_name(type) + " cannot be written");
}

struct Piece {
  std::string_view text;
  Binding binding;
  int depth;
};

Piece piece_of(const FreeTerm& term, std::string& scratch) {
  if (term.free) return {term.free->text, term.free->binding, term.free->depth};
  auto [text, binding] = value_text(*term.value);
  scratch = std::move(text);
  return {scratch, binding, 1};
}

// Appends the operand, in parentheses where it binds more loosely than `at_least`.
int append_operand(std::string& out, const Piece& piece, Binding at_least) {
  if (piece.binding >= at_least) {
    out.append(piece.text);
    return piece.depth;
  }
  out.push_back('(');
  out.append(piece.text);
  out.push_back(')');
  return piece.depth + 1;
}

void add_inputs(FreeExpression& into, const FreeTerm& term) {
  if (!term.free) return;
  for (const std::string& name : term.free->inputs) {
    if (std::find(into.inputs.begin(), into.inputs.end(), name) == into.inputs.end())
      into.inputs.push_back(name);
  }
}

FreeRef finished(FreeExpression&& expression) {
  if (expression.depth > MAX_FREE_DEPTH) {
    raise_value_error("A parameter that depends on input '" + expression.inputs.front() +
                      "' nests more than " + std::to_string(MAX_FREE_DEPTH) +
                      " levels deep; give the input a value");
  }
  if (expression.text.size() > MAX_FREE_TEXT) {
    raise_value_error("A parameter that depends on input '" + expression.inputs.front() +
                      "' is longer than " + std::to_string(MAX_FREE_TEXT) +
                      " characters; give the input a value");
  }
  return std::make_shared<const FreeExpression>(std::move(expression));
}

// Written as a call: a built-in function or a cast.
FreeRef call_form(std::string head, std::span<const FreeTerm> arguments,
                  std::optional<ScalarType> type) {
  FreeExpression result;
  result.text = std::move(head);
  result.text.push_back('(');
  int depth = 0;
  std::string scratch;
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    if (k > 0) result.text.append(", ");
    const Piece piece = piece_of(arguments[k], scratch);
    result.text.append(piece.text);
    depth = std::max(depth, piece.depth);
    add_inputs(result, arguments[k]);
  }
  result.text.push_back(')');
  result.depth = depth + 1;
  result.type = type;
  return finished(std::move(result));
}

}  // namespace

FreeRef free_input(std::string_view name, const ScalarType& type) {
  FreeExpression input;
  input.text = std::string(name);
  input.type = type;
  input.inputs.emplace_back(name);
  return std::make_shared<const FreeExpression>(std::move(input));
}

FreeTerm known_term(const Value& value) {
  return FreeTerm{value, nullptr};
}

FreeRef free_unary(UnaryOp op, const FreeTerm& operand) {
  FreeExpression result;
  result.text = op == UnaryOp::NEGATE ? "-" : op == UnaryOp::LOGICAL_NOT ? "!" : "~";
  std::string scratch;
  result.depth = append_operand(result.text, piece_of(operand, scratch), Binding::UNARY) + 1;
  result.binding = Binding::UNARY;
  result.type = result_type({&operand, 1},
                            [&](std::span<const Value> values) { return apply(op, values[0]); });
  add_inputs(result, operand);
  return finished(std::move(result));
}

FreeRef free_binary(BinaryOp op, const FreeTerm& left, const FreeTerm& right) {
  const OperatorText& spelled = operator_text(op);
  // All are read left to right but `**`, whose base is an atom and exponent a unary.
  const bool power = op == BinaryOp::POWER;
  const Binding left_needs = power ? Binding::ATOM : spelled.binding;
  const Binding right_needs =
      power ? Binding::UNARY : static_cast<Binding>(static_cast<int>(spelled.binding) + 1);
  FreeExpression result;
  std::string scratch;
  const int left_depth = append_operand(result.text, piece_of(left, scratch), left_needs);
  result.text.append(spelled.symbol);
  const int right_depth = append_operand(result.text, piece_of(right, scratch), right_needs);
  result.depth = std::max(left_depth, right_depth);
  result.binding = spelled.binding;
  const std::array<FreeTerm, 2> operands = {left, right};
  result.type = result_type(
      operands, [&](std::span<const Value> values) { return apply(op, values[0], values[1]); });
  add_inputs(result, left);
  add_inputs(result, right);
  return finished(std::move(result));
}

FreeRef free_call(std::string_view function, std::span<const FreeTerm> arguments) {
  return call_form(std::string(function), arguments,
                   result_type(arguments, [&](std::span<const Value> values) {
                     return call_builtin(function, values);
                   }));
}

FreeRef free_cast(const ScalarType& type, const FreeTerm& operand) {
  return call_form(type_name(type), {&operand, 1}, type);
}

FreeTerm folded(UnaryOp op, const FreeTerm& operand) {
  if (operand.value) return known_term(apply(op, *operand.value));
  return FreeTerm{std::nullopt, free_unary(op, operand)};
}

FreeTerm folded(BinaryOp op, const FreeTerm& left, const FreeTerm& right) {
  if (left.value && right.value) return known_term(apply(op, *left.value, *right.value));
  return FreeTerm{std::nullopt, free_binary(op, left, right)};
}

FreeRef as_float64(const FreeRef& expression) {
  if (is_float64(expression->type)) return expression;
  const FreeTerm term{std::nullopt, expression};
  if (expression->type && expression->type->kind == ScalarKind::BIT && expression->type->width) {
    // A bit[n] counts as its unsigned number, which float() does not take directly.
    const FreeTerm number{std::nullopt,
                          free_cast({ScalarKind::UINT, expression->type->width}, term)};
    return free_cast({ScalarKind::FLOAT, std::nullopt}, number);
  }
  return free_cast({ScalarKind::FLOAT, std::nullopt}, term);
}

FreeRef negated(const FreeRef& expression) {
  return free_unary(UnaryOp::NEGATE, FreeTerm{std::nullopt, as_float64(expression)});
}

FreeRef scaled(const FreeRef& expression, double factor) {
  return free_binary(BinaryOp::MULTIPLY, FreeTerm{std::nullopt, as_float64(expression)},
                     known_term(Value::floating(factor)));
}

std::string no_value_message(std::string_view input) {
  return "No value given for input '" + std::string(input) + "'";
}

}  // namespace corvane::qasm3::detail::lower
