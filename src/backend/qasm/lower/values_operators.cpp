// The operators of compile-time values, with the language's typing: integer, float and
// angle arithmetic, bitwise operators and shifts, comparisons.
#include "qasm/lower/values.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "qasm/lower/values_impl.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

using namespace typing;

std::string_view operator_symbol(BinaryOp op) noexcept {
  static constexpr std::array<std::string_view, 19> SYMBOLS{"+",  "-",  "*",  "/",  "%", "**", "&",
                                                            "|",  "^",  "<<", ">>", "<", "<=", ">",
                                                            ">=", "==", "!=", "&&", "||"};
  return SYMBOLS[static_cast<std::size_t>(op)];
}

std::string_view operator_symbol(UnaryOp op) noexcept {
  static constexpr std::array<std::string_view, 3> SYMBOLS{"-", "~", "!"};
  return SYMBOLS[static_cast<std::size_t>(op)];
}

namespace {

[[noreturn]] void raise_undefined(BinaryOp op, const Value& left, const Value& right) {
  raise_value_error("Operator " + std::string(operator_symbol(op)) + " is not defined for " +
                    type_name(left.type()) + " and " + type_name(right.type()));
}

[[noreturn]] void raise_undefined(UnaryOp op, const Value& operand) {
  raise_value_error("Operator " + std::string(operator_symbol(op)) + " is not defined for " +
                    type_name(operand.type()));
}

// ------------------------------------------------------------------ integer typing
// The usual arithmetic conversions of C: bool and bit promote to int; of an int and a
// uint the unsigned type wins unless the signed one is wider. A type without a width
// ranks as the machine width, and a result keeps a width only when both operands have
// one.
IntegerType integer_type_of(const ScalarType& type) noexcept {
  if (type.kind == ScalarKind::UINT) return {false, type.width};
  if (type.kind == ScalarKind::INT) return {true, type.width};
  return {true, std::nullopt};
}

IntegerType common_integer_type(IntegerType a, IntegerType b) noexcept {
  IntegerType result;
  if (a.width && b.width) result.width = std::max(*a.width, *b.width);
  if (a.is_signed == b.is_signed) {
    result.is_signed = a.is_signed;
  } else {
    const IntegerType& signed_one = a.is_signed ? a : b;
    const IntegerType& unsigned_one = a.is_signed ? b : a;
    result.is_signed =
        signed_one.width.value_or(MACHINE_WIDTH) > unsigned_one.width.value_or(MACHINE_WIDTH);
  }
  return result;
}

Value integer_quotient(BinaryOp op, IntegerType type, std::uint64_t a, std::uint64_t b) {
  const unsigned width = type.width.value_or(MACHINE_WIDTH);
  if ((b & low_mask(width)) == 0) {
    raise_zero_division(op == BinaryOp::DIVIDE ? "integer division by zero"
                                               : "integer modulo by zero");
  }
  if (!type.is_signed) {
    a &= low_mask(width);
    b &= low_mask(width);
    return make_integer(type, op == BinaryOp::DIVIDE ? a / b : a % b);
  }
  const std::int64_t sa = sign_extend(a, width);
  const std::int64_t sb = sign_extend(b, width);
  if (sb == -1) {  // the one quotient that can overflow, computed by wrapping negation
    return make_integer(type, op == BinaryOp::DIVIDE ? 0 - static_cast<std::uint64_t>(sa) : 0);
  }
  return make_integer(type, static_cast<std::uint64_t>(op == BinaryOp::DIVIDE ? sa / sb : sa % sb));
}

double float_power(double base, double exponent) {
  if (base == 0.0 && exponent < 0.0) raise_zero_division("zero to a negative power");
  const double result = std::pow(base, exponent);
  if (std::isnan(result)) raise_value_error("Negative number to a fractional power");
  return result;
}

// A non-negative integer exponent keeps an integer (wrapping like repeated
// multiplication); a negative one gives a float.
Value integer_power(IntegerType type, const Value& base, const Value& exponent) {
  if (is_negative(exponent)) {
    return Value::floating(float_power(base.as_double(), exponent.as_double()));
  }
  std::uint64_t result = 1;
  std::uint64_t factor = base.bit_pattern();
  for (std::uint64_t e = exponent.bit_pattern(); e != 0; e >>= 1) {
    if ((e & 1U) != 0) result *= factor;
    factor *= factor;
  }
  return make_integer(type, result);
}

Value integer_arithmetic(BinaryOp op, const Value& left, const Value& right) {
  const IntegerType type =
      common_integer_type(integer_type_of(left.type()), integer_type_of(right.type()));
  const std::uint64_t a = left.bit_pattern();
  const std::uint64_t b = right.bit_pattern();
  switch (op) {
    case BinaryOp::ADD:
      return make_integer(type, a + b);
    case BinaryOp::SUBTRACT:
      return make_integer(type, a - b);
    case BinaryOp::MULTIPLY:
      return make_integer(type, a * b);
    case BinaryOp::POWER:
      return integer_power(type, left, right);
    default:
      return integer_quotient(op, type, a, b);
  }
}

// ------------------------------------------------------------------ float arithmetic
// The result width: of the float operands, the wider, or none when one has none.
std::optional<unsigned> float_result_width(const ScalarType& left, const ScalarType& right) {
  const bool left_float = left.kind == ScalarKind::FLOAT;
  const bool right_float = right.kind == ScalarKind::FLOAT;
  if (left_float && right_float) {
    if (left.width && right.width) return std::max(*left.width, *right.width);
    return std::nullopt;
  }
  return left_float ? left.width : right.width;
}

Value float_arithmetic(BinaryOp op, const Value& left, const Value& right) {
  const double a = left.as_double();
  const double b = right.as_double();
  double result = 0.0;
  switch (op) {
    case BinaryOp::ADD:
      result = a + b;
      break;
    case BinaryOp::SUBTRACT:
      result = a - b;
      break;
    case BinaryOp::MULTIPLY:
      result = a * b;
      break;
    case BinaryOp::DIVIDE:
      if (b == 0.0) raise_zero_division("float division by zero");
      result = a / b;
      break;
    case BinaryOp::POWER:
      result = float_power(a, b);
      break;
    default:
      raise_undefined(op, left, right);
  }
  if (!std::isfinite(result)) raise_overflow("Float result out of range");
  return Value::floating(result, float_result_width(left.type(), right.type()));
}

// ------------------------------------------------------------------ angle arithmetic
// Angles of widths n and m meet as angle[max(n, m)]; an angle without a width makes the
// operation one on radians modulo 2π.
struct AngleOperands {
  std::uint64_t left;
  std::uint64_t right;
  unsigned width;
};

std::optional<AngleOperands> common_angle_bits(const Value& left, const Value& right) {
  if (!left.type().width || !right.type().width) return std::nullopt;
  const unsigned width = std::max(*left.type().width, *right.type().width);
  return AngleOperands{left.bit_pattern() << (width - *left.type().width),
                       right.bit_pattern() << (width - *right.type().width), width};
}

Value angle_sum(BinaryOp op, const Value& left, const Value& right) {
  const bool add = op == BinaryOp::ADD;
  if (const auto bits = common_angle_bits(left, right)) {
    return Value::angle_bits(add ? bits->left + bits->right : bits->left - bits->right,
                             bits->width);
  }
  return Value::angle(add ? left.as_double() + right.as_double()
                          : left.as_double() - right.as_double());
}

// angle / angle: how many times the divisor fits, as a uint.
Value angle_ratio(const Value& left, const Value& right) {
  if (const auto bits = common_angle_bits(left, right)) {
    if (bits->right == 0) raise_zero_division("angle division by zero");
    return Value::unsigned_integer(bits->left / bits->right, bits->width);
  }
  if (right.as_double() == 0.0) raise_zero_division("angle division by zero");
  const double ratio = std::floor(left.as_double() / right.as_double());
  if (ratio >= 0x1p64) raise_overflow("Angle ratio out of range");
  return Value::unsigned_integer(static_cast<std::uint64_t>(ratio));
}

Value angle_scaled(const Value& angle, const Value& factor) {
  if (angle.type().width) {
    return Value::angle_bits(angle.bit_pattern() * factor.bit_pattern(), *angle.type().width);
  }
  return Value::angle(angle.as_double() * factor.as_double());
}

Value angle_divided(const Value& angle, const Value& divisor) {
  if (divisor.bit_pattern() == 0) raise_zero_division("angle division by zero");
  if (!angle.type().width) return Value::angle(angle.as_double() / divisor.as_double());
  const bool negative = is_negative(divisor);
  const std::uint64_t magnitude = negative ? 0 - divisor.bit_pattern() : divisor.bit_pattern();
  const std::uint64_t quotient = angle.bit_pattern() / magnitude;
  return Value::angle_bits(negative ? 0 - quotient : quotient, *angle.type().width);
}

// Angles add to and subtract from angles, scale by integers and divide by integers and
// angles. With a float operand, or under `**`, the angle counts as its radians and the
// result is a float: programs write `theta / 2.0` or `theta + pi` far more often than
// the explicit casts the language reference asks for, and a float loses nothing.
Value angle_arithmetic(BinaryOp op, const Value& left, const Value& right) {
  const Category lc = category_of(left.type());
  const Category rc = category_of(right.type());
  if (lc == Category::FLOAT || rc == Category::FLOAT || op == BinaryOp::POWER) {
    if (lc == Category::REGISTER || rc == Category::REGISTER) raise_undefined(op, left, right);
    return float_arithmetic(op, left, right);
  }
  if (lc == Category::ANGLE && rc == Category::ANGLE) {
    if (op == BinaryOp::ADD || op == BinaryOp::SUBTRACT) return angle_sum(op, left, right);
    if (op == BinaryOp::DIVIDE) return angle_ratio(left, right);
  } else if (op == BinaryOp::MULTIPLY) {
    if (rc == Category::INTEGRAL) return angle_scaled(left, right);
    if (lc == Category::INTEGRAL) return angle_scaled(right, left);
  } else if (op == BinaryOp::DIVIDE && rc == Category::INTEGRAL) {
    return angle_divided(left, right);
  }
  raise_undefined(op, left, right);
}

Value arithmetic(BinaryOp op, const Value& left, const Value& right) {
  const Category lc = category_of(left.type());
  const Category rc = category_of(right.type());
  if (lc == Category::REGISTER || rc == Category::REGISTER) raise_undefined(op, left, right);
  if (lc == Category::ANGLE || rc == Category::ANGLE) return angle_arithmetic(op, left, right);
  if (lc == Category::FLOAT || rc == Category::FLOAT) return float_arithmetic(op, left, right);
  return integer_arithmetic(op, left, right);
}

// ------------------------------------------------------------------ bitwise operators

std::uint64_t combine_bits(BinaryOp op, std::uint64_t a, std::uint64_t b) noexcept {
  if (op == BinaryOp::BIT_AND) return a & b;
  if (op == BinaryOp::BIT_OR) return a | b;
  return a ^ b;
}

// Registers, uints and angles combine bit by bit with operands of their own width; ints
// are allowed too (as two's complement), since literals are ints.
Value bitwise(BinaryOp op, const Value& left, const Value& right) {
  const ScalarType& lt = left.type();
  const ScalarType& rt = right.type();
  const Category lc = category_of(lt);
  const Category rc = category_of(rt);
  if (lc != rc || lc == Category::FLOAT) raise_undefined(op, left, right);
  if (lc == Category::INTEGRAL) {
    const std::uint64_t bits = combine_bits(op, left.bit_pattern(), right.bit_pattern());
    if (is_bool_like(lt) && is_bool_like(rt)) {
      const bool both_bits = lt.kind == ScalarKind::BIT && rt.kind == ScalarKind::BIT;
      return both_bits ? Value::bit(bits != 0) : Value::boolean(bits != 0);
    }
    return make_integer(common_integer_type(integer_type_of(lt), integer_type_of(rt)), bits);
  }
  if (!lt.width || lt.width != rt.width) raise_undefined(op, left, right);
  const std::uint64_t bits = combine_bits(op, left.bit_pattern(), right.bit_pattern());
  return lc == Category::ANGLE ? Value::angle_bits(bits, *lt.width) : Value::bits(bits, *lt.width);
}

// Shifts move bits off the end; `>>` of an int copies its sign bit.
std::uint64_t shifted(BinaryOp op, std::uint64_t bits, std::uint64_t count, unsigned width,
                      bool is_signed) noexcept {
  if (op == BinaryOp::SHIFT_LEFT) return count >= width ? 0 : bits << count;
  if (is_signed)
    return static_cast<std::uint64_t>(sign_extend(bits, width) >>
                                      std::min<std::uint64_t>(count, 63));
  bits &= low_mask(width);
  return count >= width ? 0 : bits >> count;
}

Value shift(BinaryOp op, const Value& left, const Value& right) {
  const ScalarType& lt = left.type();
  const Category lc = category_of(lt);
  if (category_of(right.type()) != Category::INTEGRAL || lc == Category::FLOAT ||
      (lc == Category::ANGLE && !lt.width)) {
    raise_undefined(op, left, right);
  }
  if (is_negative(right)) raise_value_error("Negative shift count");
  const std::uint64_t count = right.bit_pattern();
  if (lc == Category::INTEGRAL) {
    const IntegerType type = integer_type_of(lt);
    const unsigned width = type.width.value_or(MACHINE_WIDTH);
    return make_integer(type, shifted(op, left.bit_pattern(), count, width, type.is_signed));
  }
  const std::uint64_t bits = shifted(op, left.bit_pattern(), count, *lt.width, false);
  return lc == Category::ANGLE ? Value::angle_bits(bits, *lt.width) : Value::bits(bits, *lt.width);
}

// ------------------------------------------------------------------ comparisons

// The numeric value as long double: exact for every 64-bit integer.
long double numeric_value(const Value& value) {
  const Category category = category_of(value.type());
  if (category == Category::FLOAT || category == Category::ANGLE) return value.as_double();
  if (value.type().kind == ScalarKind::INT) {
    return static_cast<long double>(static_cast<std::int64_t>(value.bit_pattern()));
  }
  return static_cast<long double>(value.bit_pattern());
}

// Integers and registers compare by their mathematical values, without the C rule
// that turns a negative int into a large unsigned one.
int compare_exact(const Value& left, const Value& right) {
  const bool left_negative = is_negative(left);
  if (left_negative != is_negative(right)) return left_negative ? -1 : 1;
  const std::uint64_t a = left.bit_pattern();
  const std::uint64_t b = right.bit_pattern();
  return a < b ? -1 : (a > b ? 1 : 0);
}

int compare_values(BinaryOp op, const Value& left, const Value& right) {
  const Category lc = category_of(left.type());
  const Category rc = category_of(right.type());
  const bool left_exact = lc == Category::INTEGRAL || lc == Category::REGISTER;
  const bool right_exact = rc == Category::INTEGRAL || rc == Category::REGISTER;
  if (left_exact && right_exact) return compare_exact(left, right);
  if (lc == Category::REGISTER || rc == Category::REGISTER) raise_undefined(op, left, right);
  const long double a = numeric_value(left);
  const long double b = numeric_value(right);
  return a < b ? -1 : (a > b ? 1 : 0);
}

Value comparison(BinaryOp op, const Value& left, const Value& right) {
  const int order = compare_values(op, left, right);
  switch (op) {
    case BinaryOp::LESS:
      return Value::boolean(order < 0);
    case BinaryOp::LESS_EQUAL:
      return Value::boolean(order <= 0);
    case BinaryOp::GREATER:
      return Value::boolean(order > 0);
    case BinaryOp::GREATER_EQUAL:
      return Value::boolean(order >= 0);
    case BinaryOp::EQUAL:
      return Value::boolean(order == 0);
    default:
      return Value::boolean(order != 0);
  }
}

}  // namespace

Value apply(UnaryOp op, const Value& operand) {
  const ScalarType& type = operand.type();
  const Category category = category_of(type);
  if (op == UnaryOp::LOGICAL_NOT) return Value::boolean(!operand.as_bool());
  if (op == UnaryOp::NEGATE) {
    switch (category) {
      case Category::INTEGRAL:
        return make_integer(integer_type_of(type), 0 - operand.bit_pattern());
      case Category::FLOAT:
        return Value::floating(-operand.as_double(), type.width);
      case Category::ANGLE:
        if (type.width) return Value::angle_bits(0 - operand.bit_pattern(), *type.width);
        return Value::angle(-operand.as_double());
      case Category::REGISTER:
        break;
    }
    raise_undefined(op, operand);
  }
  if (type.kind == ScalarKind::BOOL) return Value::boolean(!operand.as_bool());
  if (is_bool_like(type)) return Value::bit(!operand.as_bool());
  if (category == Category::INTEGRAL) {
    return make_integer(integer_type_of(type), ~operand.bit_pattern());
  }
  if (category == Category::REGISTER) return Value::bits(~operand.bit_pattern(), *type.width);
  if (category == Category::ANGLE && type.width) {
    return Value::angle_bits(~operand.bit_pattern(), *type.width);
  }
  raise_undefined(op, operand);
}

Value apply(BinaryOp op, const Value& left, const Value& right) {
  switch (op) {
    case BinaryOp::ADD:
    case BinaryOp::SUBTRACT:
    case BinaryOp::MULTIPLY:
    case BinaryOp::DIVIDE:
    case BinaryOp::MODULO:
    case BinaryOp::POWER:
      return arithmetic(op, left, right);
    case BinaryOp::BIT_AND:
    case BinaryOp::BIT_OR:
    case BinaryOp::BIT_XOR:
      return bitwise(op, left, right);
    case BinaryOp::SHIFT_LEFT:
    case BinaryOp::SHIFT_RIGHT:
      return shift(op, left, right);
    case BinaryOp::LOGICAL_AND:
      return Value::boolean(left.as_bool() && right.as_bool());
    case BinaryOp::LOGICAL_OR:
      return Value::boolean(left.as_bool() || right.as_bool());
    default:
      return comparison(op, left, right);
  }
}

}  // namespace corvane::qasm3::detail::lower
