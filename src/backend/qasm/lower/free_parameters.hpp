// Gate parameters that depend on inputs given no value ("free" inputs): each is kept as an
// OpenQASM expression over the inputs' names, in one normal form, so that evaluating it
// with values for the inputs gives the very double that lowering with those values gives.
//
// The normal form is the program's own expression with every sub-expression that names no
// free input folded to its value: a float as its shortest round-trip literal (`1.5707963267948966`,
// `2.0`, `1e-05`), an int as its decimal digits, a bool as true/false, a value of any other
// type cast to it (`angle[8](0.7853981633974483)`, `uint[4](3)`); operators keep the
// program's order and grouping, spelled with the fewest parentheses, `+ - == && ...` with a
// space on each side and `* / % **` without; built-in functions and casts as called. What the
// gate algebra does to a parameter's number (negating it, scaling it, halving a sum) is
// written as the same operation on the expression's value as a float[64], cast to one first
// where its type is another (`-float(theta)` for an angle).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qasm/lower/values.hpp"

namespace corvane::qasm3::detail::lower {

// How tightly an expression's text binds, loosest first, as the parser groups operators.
enum class Binding : unsigned char {
  LOGICAL_OR,
  LOGICAL_AND,
  BIT_OR,
  BIT_XOR,
  BIT_AND,
  EQUALITY,
  COMPARISON,
  SHIFT,
  ADDITIVE,
  MULTIPLICATIVE,
  UNARY,
  POWER,
  ATOM,
};

struct FreeExpression {
  std::string text;
  Binding binding = Binding::ATOM;
  // The type of its value; empty where the typing rules could not tell it without values.
  std::optional<ScalarType> type;
  // The free inputs it names, each once, in the order they first appear.
  std::vector<std::string> inputs;
  // How deeply its text nests operators, which the parser that reads it back bounds.
  int depth = 1;
};
using FreeRef = std::shared_ptr<const FreeExpression>;

// An operand of an expression being built: a value known here, or a free expression.
struct FreeTerm {
  std::optional<Value> value;
  FreeRef free;
};

// The deepest nesting a free expression may reach: well within what the expression parser
// reads back, whose bound counts more levels than operators.
inline constexpr int MAX_FREE_DEPTH = 60;
// The longest text of one free expression: definitions that use an argument twice, nested,
// double it at each level.
inline constexpr std::size_t MAX_FREE_TEXT = 1U << 20;

FreeRef free_input(std::string_view name, const ScalarType& type);
// A known value in the normal form; ValueError for one it cannot write (none occurs:
// values are finite).
FreeTerm known_term(const Value& value);

FreeRef free_unary(UnaryOp op, const FreeTerm& operand);
FreeRef free_binary(BinaryOp op, const FreeTerm& left, const FreeTerm& right);
FreeRef free_call(std::string_view function, std::span<const FreeTerm> arguments);
FreeRef free_cast(const ScalarType& type, const FreeTerm& operand);

// The operation on terms: its value where both are known, its expression otherwise.
FreeTerm folded(UnaryOp op, const FreeTerm& operand);
FreeTerm folded(BinaryOp op, const FreeTerm& left, const FreeTerm& right);

// The expression's value as a gate parameter's number is used in the gate algebra: a
// float[64], cast to one where its type is another or unknown.
FreeRef as_float64(const FreeRef& expression);
// -x, x·factor: the algebra's operations on a parameter's number, written out.
FreeRef negated(const FreeRef& expression);
FreeRef scaled(const FreeRef& expression, double factor);

// "No value given for input 'theta'": where lowering needs the value of an input it was
// given none for.
std::string no_value_message(std::string_view input);

}  // namespace corvane::qasm3::detail::lower
