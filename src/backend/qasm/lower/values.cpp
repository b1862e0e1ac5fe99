#include "qasm/lower/values.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <numbers>
#include <string>

#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

namespace {

// The width of `int`, `uint`, `float` and `angle` declared without one.
constexpr unsigned MACHINE_WIDTH = 64;
constexpr unsigned MAX_WIDTH = 64;
constexpr double TWO_PI = 2.0 * std::numbers::pi;

std::uint64_t low_mask(unsigned width) noexcept {
  return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
}

// The low `width` bits of `bits` read as a two's-complement number.
std::int64_t sign_extend(std::uint64_t bits, unsigned width) noexcept {
  bits &= low_mask(width);
  if (width < 64 && ((bits >> (width - 1)) & 1U) != 0) bits |= ~low_mask(width);
  return static_cast<std::int64_t>(bits);
}

std::string_view kind_name(ScalarKind kind) noexcept {
  static constexpr std::array<std::string_view, 6> NAMES{"bool", "bit",   "int",
                                                         "uint", "float", "angle"};
  return NAMES[static_cast<std::size_t>(kind)];
}

unsigned width_of(const ScalarType& type) noexcept {
  return type.width.value_or(type.kind == ScalarKind::BIT ? 1 : MACHINE_WIDTH);
}

// What an operand is for the typing rules: bool, scalar bit, int and uint take part in
// integer arithmetic; a bit[n] register only in bitwise operations and comparisons.
enum class Category { INTEGRAL, REGISTER, FLOAT, ANGLE };

Category category_of(const ScalarType& type) noexcept {
  switch (type.kind) {
    case ScalarKind::BIT:
      return type.width ? Category::REGISTER : Category::INTEGRAL;
    case ScalarKind::FLOAT:
      return Category::FLOAT;
    case ScalarKind::ANGLE:
      return Category::ANGLE;
    default:
      return Category::INTEGRAL;
  }
}

bool is_bool_like(const ScalarType& type) noexcept {
  return type.kind == ScalarKind::BOOL || (type.kind == ScalarKind::BIT && !type.width);
}

// An integral value below zero (only an int can be).
bool is_negative(const Value& value) {
  return value.type().kind == ScalarKind::INT && static_cast<std::int64_t>(value.bit_pattern()) < 0;
}

// ------------------------------------------------------------------ angles
// The n-bit step nearest to `radians` modulo 2π, ties to even. The turn is divided by
// the double nearest 2π, as the language reference defines the conversion.
std::uint64_t angle_pattern(double radians, unsigned width) {
  double turns = radians / TWO_PI;
  turns -= std::floor(turns);
  const double steps = std::nearbyint(std::ldexp(turns, static_cast<int>(width)));
  if (steps >= std::ldexp(1.0, static_cast<int>(width))) return 0;  // a full turn is zero
  return static_cast<std::uint64_t>(steps);
}

double reduce_angle(double radians) {
  double reduced = std::fmod(radians, TWO_PI);
  if (reduced < 0) reduced += TWO_PI;
  return reduced >= TWO_PI || reduced == 0.0 ? 0.0 : reduced;
}

// An angle[n] in another width: padded with zero bits, or rounded to the nearest
// coarser step with ties to even.
Value resize_angle(std::uint64_t pattern, unsigned from, unsigned to) {
  if (to >= from) return Value::angle_bits(pattern << (to - from), to);
  const unsigned dropped = from - to;
  std::uint64_t kept = pattern >> dropped;
  const std::uint64_t rest = pattern & low_mask(dropped);
  const std::uint64_t half = std::uint64_t{1} << (dropped - 1);
  if (rest > half || (rest == half && (kept & 1U) != 0)) ++kept;
  return Value::angle_bits(kept, to);
}

}  // namespace

// ------------------------------------------------------------------ types

std::string type_name(const ScalarType& type) {
  std::string name(kind_name(type.kind));
  if (type.width) {
    name += '[';
    append_int(name, *type.width);
    name += ']';
  }
  return name;
}

void check_type(const ScalarType& type) {
  if (!type.width) return;
  const unsigned width = *type.width;
  if (type.kind == ScalarKind::BOOL) raise_value_error("bool takes no width");
  if (type.kind == ScalarKind::FLOAT) {
    if (width != 32 && width != 64) {
      raise_value_error("float width must be 32 or 64; got " + int_text(width));
    }
    return;
  }
  if (width == 0 || width > MAX_WIDTH) {
    raise_value_error(std::string(kind_name(type.kind)) + " width must be 1 to 64; got " +
                      int_text(width));
  }
}

// ------------------------------------------------------------------ values

Value Value::boolean(bool value) {
  Value result;
  result.type_ = {ScalarKind::BOOL, std::nullopt};
  result.int_value_ = value ? 1 : 0;
  return result;
}

Value Value::bit(bool value) {
  Value result;
  result.type_ = {ScalarKind::BIT, std::nullopt};
  result.int_value_ = value ? 1 : 0;
  return result;
}

Value Value::bits(std::uint64_t value, unsigned width) {
  Value result;
  result.type_ = {ScalarKind::BIT, width};
  check_type(result.type_);
  result.int_value_ = static_cast<std::int64_t>(value & low_mask(width));
  return result;
}

Value Value::integer(std::int64_t value, std::optional<unsigned> width) {
  Value result;
  result.type_ = {ScalarKind::INT, width};
  check_type(result.type_);
  result.int_value_ = sign_extend(static_cast<std::uint64_t>(value), width_of(result.type_));
  return result;
}

Value Value::unsigned_integer(std::uint64_t value, std::optional<unsigned> width) {
  Value result;
  result.type_ = {ScalarKind::UINT, width};
  check_type(result.type_);
  result.int_value_ = static_cast<std::int64_t>(value & low_mask(width_of(result.type_)));
  return result;
}

Value Value::floating(double value, std::optional<unsigned> width) {
  Value result;
  result.type_ = {ScalarKind::FLOAT, width};
  check_type(result.type_);
  if (!std::isfinite(value)) raise_value_error("Float value must be finite; got " + g15(value));
  if (width == 32u) {
    if (std::fabs(value) > std::numeric_limits<float>::max()) {
      raise_overflow("Float value out of range for float[32]: " + g15(value));
    }
    value = static_cast<float>(value);
  }
  result.real_value_ = value;
  return result;
}

Value Value::angle(double radians, std::optional<unsigned> width) {
  if (!std::isfinite(radians)) {
    raise_value_error("Angle value must be finite; got " + g15(radians));
  }
  if (width) {
    check_type({ScalarKind::ANGLE, width});
    return angle_bits(angle_pattern(radians, *width), *width);
  }
  Value result;
  result.type_ = {ScalarKind::ANGLE, std::nullopt};
  result.real_value_ = reduce_angle(radians);
  return result;
}

Value Value::angle_bits(std::uint64_t pattern, unsigned width) {
  Value result;
  result.type_ = {ScalarKind::ANGLE, width};
  check_type(result.type_);
  pattern &= low_mask(width);
  result.int_value_ = static_cast<std::int64_t>(pattern);
  result.real_value_ =
      static_cast<double>(static_cast<long double>(pattern) *
                          std::ldexp(static_cast<long double>(TWO_PI), -static_cast<int>(width)));
  return result;
}

double Value::as_double() const {
  switch (type_.kind) {
    case ScalarKind::FLOAT:
    case ScalarKind::ANGLE:
      return real_value_;
    case ScalarKind::INT:
      return static_cast<double>(int_value_);
    default:
      return static_cast<double>(static_cast<std::uint64_t>(int_value_));
  }
}

std::int64_t Value::as_integer() const {
  const Category category = category_of(type_);
  if (category == Category::FLOAT || category == Category::ANGLE) {
    raise_value_error("Expected an integer; got " + type_name(type_));
  }
  if (type_.kind != ScalarKind::INT && int_value_ < 0) {
    raise_value_error("Integer out of range: " +
                      std::to_string(static_cast<std::uint64_t>(int_value_)));
  }
  return int_value_;
}

bool Value::as_bool() const {
  if (type_.kind == ScalarKind::FLOAT || (type_.kind == ScalarKind::ANGLE && !type_.width)) {
    return real_value_ != 0.0;
  }
  return int_value_ != 0;
}

std::uint64_t Value::bit_pattern() const {
  if (type_.kind == ScalarKind::FLOAT || (type_.kind == ScalarKind::ANGLE && !type_.width)) {
    raise_value_error(type_name(type_) + " has no bit representation");
  }
  return static_cast<std::uint64_t>(int_value_);
}

// ------------------------------------------------------------------ operators

namespace {

std::string_view symbol(BinaryOp op) noexcept {
  static constexpr std::array<std::string_view, 19> SYMBOLS{"+",  "-",  "*",  "/",  "%", "**", "&",
                                                            "|",  "^",  "<<", ">>", "<", "<=", ">",
                                                            ">=", "==", "!=", "&&", "||"};
  return SYMBOLS[static_cast<std::size_t>(op)];
}

std::string_view symbol(UnaryOp op) noexcept {
  static constexpr std::array<std::string_view, 3> SYMBOLS{"-", "~", "!"};
  return SYMBOLS[static_cast<std::size_t>(op)];
}

[[noreturn]] void raise_undefined(BinaryOp op, const Value& left, const Value& right) {
  raise_value_error("Operator " + std::string(symbol(op)) + " is not defined for " +
                    type_name(left.type()) + " and " + type_name(right.type()));
}

[[noreturn]] void raise_undefined(UnaryOp op, const Value& operand) {
  raise_value_error("Operator " + std::string(symbol(op)) + " is not defined for " +
                    type_name(operand.type()));
}

// ------------------------------------------------------------------ integer typing
// The usual arithmetic conversions of C: bool and bit promote to int; of an int and a
// uint the unsigned type wins unless the signed one is wider. A type without a width
// ranks as the machine width, and a result keeps a width only when both operands have
// one.
struct IntegerType {
  bool is_signed = true;
  std::optional<unsigned> width;
};

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

Value make_integer(IntegerType type, std::uint64_t bits) {
  if (type.is_signed) return Value::integer(static_cast<std::int64_t>(bits), type.width);
  return Value::unsigned_integer(bits, type.width);
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

// ------------------------------------------------------------------ conversions

namespace {

[[noreturn]] void raise_cast(const ScalarType& to, const Value& value) {
  raise_value_error("Cannot cast " + type_name(value.type()) + " to " + type_name(to));
}

// int and uint to bit[n] need equal widths; an int without width (a literal) fits any.
Value cast_to_register(const ScalarType& type, const Value& value) {
  const ScalarType& from = value.type();
  const unsigned width = *type.width;
  const Category category = category_of(from);
  if (category == Category::FLOAT || (category == Category::ANGLE && !from.width)) {
    raise_cast(type, value);
  }
  if (!is_bool_like(from) && from.width && *from.width != width) raise_cast(type, value);
  return Value::bits(value.bit_pattern(), width);
}

// A float loses its fraction; one outside the target's range raises ValueError.
Value float_to_integer(const ScalarType& type, double value) {
  const unsigned width = width_of(type);
  const bool is_signed = type.kind == ScalarKind::INT;
  const double whole = std::trunc(value);
  const double low = is_signed ? -std::ldexp(1.0, static_cast<int>(width) - 1) : 0.0;
  const double high = std::ldexp(1.0, static_cast<int>(is_signed ? width - 1 : width));
  if (whole < low || whole >= high) {
    raise_value_error("Float value " + g15(value) + " out of range for " + type_name(type));
  }
  const IntegerType target{is_signed, type.width};
  if (is_signed)
    return make_integer(target, static_cast<std::uint64_t>(static_cast<std::int64_t>(whole)));
  return make_integer(target, static_cast<std::uint64_t>(whole));
}

// bit[n] reinterprets as int[n] and uint[n] (or as an int or uint without width).
Value cast_to_integer(const ScalarType& type, const Value& value) {
  const ScalarType& from = value.type();
  switch (category_of(from)) {
    case Category::FLOAT:
      return float_to_integer(type, value.as_double());
    case Category::ANGLE:
      raise_cast(type, value);
    case Category::REGISTER:
      if (type.width && type.width != from.width) raise_cast(type, value);
      break;
    case Category::INTEGRAL:
      break;
  }
  return make_integer({type.kind == ScalarKind::INT, type.width}, value.bit_pattern());
}

Value cast_to_angle(const ScalarType& type, const Value& value) {
  const ScalarType& from = value.type();
  switch (category_of(from)) {
    case Category::FLOAT:
      return Value::angle(value.as_double(), type.width);
    case Category::ANGLE:
      if (from.width && type.width)
        return resize_angle(value.bit_pattern(), *from.width, *type.width);
      return Value::angle(value.as_double(), type.width);
    case Category::REGISTER:
      if (type.width != from.width) raise_cast(type, value);
      return Value::angle_bits(value.bit_pattern(), *type.width);
    case Category::INTEGRAL:
      break;
  }
  raise_cast(type, value);
}

// Which implicit conversions a declaration or assignment makes. Beyond the language
// reference's promotions: an int assigned to an angle goes through float (gate and
// subroutine arguments are written `rx(0)`), and an angle assigned to a float gives its
// radians.
bool converts_implicitly(const ScalarType& to, const ScalarType& from) {
  const Category category = category_of(from);
  switch (to.kind) {
    case ScalarKind::BOOL:
    case ScalarKind::INT:
    case ScalarKind::UINT:
      return category == Category::INTEGRAL;
    case ScalarKind::BIT:
      if (to.width) return category == Category::REGISTER && from.width == to.width;
      return category == Category::INTEGRAL;
    case ScalarKind::FLOAT:
      return category != Category::REGISTER;
    case ScalarKind::ANGLE:
      return category == Category::FLOAT || category == Category::ANGLE ||
             from.kind == ScalarKind::INT || from.kind == ScalarKind::UINT;
  }
  return false;
}

}  // namespace

Value cast_to(const ScalarType& type, const Value& value) {
  check_type(type);
  switch (type.kind) {
    case ScalarKind::BOOL:
      return Value::boolean(value.as_bool());
    case ScalarKind::BIT:
      if (type.width) return cast_to_register(type, value);
      return Value::bit(value.as_bool());
    case ScalarKind::INT:
    case ScalarKind::UINT:
      return cast_to_integer(type, value);
    case ScalarKind::FLOAT:
      if (category_of(value.type()) == Category::REGISTER) raise_cast(type, value);
      return Value::floating(value.as_double(), type.width);
    case ScalarKind::ANGLE:
      return cast_to_angle(type, value);
  }
  raise_cast(type, value);
}

Value convert_for_assignment(const ScalarType& type, const Value& value) {
  check_type(type);
  if (!converts_implicitly(type, value.type())) {
    raise_value_error("Cannot implicitly convert " + type_name(value.type()) + " to " +
                      type_name(type));
  }
  if (type.kind == ScalarKind::ANGLE && category_of(value.type()) == Category::INTEGRAL) {
    return Value::angle(value.as_double(), type.width);
  }
  return cast_to(type, value);
}

// ------------------------------------------------------------------ built-in constants

std::optional<Value> builtin_constant(std::string_view name) {
  if (name == "pi" || name == "\u03C0") return Value::floating(std::numbers::pi, 64);
  if (name == "tau" || name == "\u03C4") return Value::floating(TWO_PI, 64);
  if (name == "euler" || name == "\u2107") return Value::floating(std::numbers::e, 64);
  return std::nullopt;
}

// ------------------------------------------------------------------ built-in functions

namespace {

using Arguments = std::span<const Value>;

// A float parameter takes what converts to float implicitly: integers, floats, angles.
double float_argument(std::string_view function, const Value& value) {
  if (category_of(value.type()) == Category::REGISTER) {
    raise_value_error(std::string(function) + " needs a float argument; got " +
                      type_name(value.type()));
  }
  return value.as_double();
}

Value float_result(std::string_view function, double result) {
  if (!std::isfinite(result)) raise_overflow(std::string(function) + " result out of range");
  return Value::floating(result);
}

void require_range(std::string_view function, double value, bool valid,
                   std::string_view requirement) {
  if (!valid) {
    raise_value_error(std::string(function) + " argument must be " + std::string(requirement) +
                      "; got " + g15(value));
  }
}

// The one-argument float functions, each refusing values outside its domain.
double float_function_value(std::string_view name, double x) {
  if (name == "sin") return std::sin(x);
  if (name == "cos") return std::cos(x);
  if (name == "tan") return std::tan(x);
  if (name == "arctan") return std::atan(x);
  if (name == "exp") return std::exp(x);
  if (name == "ceiling") return std::ceil(x);
  if (name == "floor") return std::floor(x);
  if (name == "arcsin" || name == "arccos") {
    require_range(name, x, x >= -1.0 && x <= 1.0, "in [-1, 1]");
    return name == "arcsin" ? std::asin(x) : std::acos(x);
  }
  if (name == "log") {
    require_range(name, x, x > 0.0, "positive");
    return std::log(x);
  }
  require_range(name, x, x >= 0.0, "non-negative");
  return std::sqrt(x);
}

Value float_function(std::string_view name, Arguments args) {
  return float_result(name, float_function_value(name, float_argument(name, args[0])));
}

// mod(int, int) is the remainder of `/`; otherwise both convert to float.
Value mod_builtin(std::string_view name, Arguments args) {
  const Value& a = args[0];
  const Value& b = args[1];
  if (category_of(a.type()) == Category::INTEGRAL && category_of(b.type()) == Category::INTEGRAL) {
    return apply(BinaryOp::MODULO, a, b);
  }
  const double x = float_argument(name, a);
  const double y = float_argument(name, b);
  if (y == 0.0) raise_zero_division("float modulo by zero");
  return float_result(name, std::fmod(x, y));
}

// The bits popcount, rotl and rotr work on: a bit[n], int[n], uint[n] or angle[n].
unsigned bits_width(std::string_view function, const Value& value) {
  const ScalarType& type = value.type();
  if (!type.width || type.kind == ScalarKind::FLOAT) {
    raise_value_error(std::string(function) +
                      " needs a bit[n], uint[n] or angle[n] argument; got " + type_name(type));
  }
  return *type.width;
}

Value popcount_builtin(std::string_view name, Arguments args) {
  const unsigned width = bits_width(name, args[0]);
  return Value::unsigned_integer(
      static_cast<std::uint64_t>(std::popcount(args[0].bit_pattern() & low_mask(width))));
}

// Rotates towards higher bit indices by `distance` modulo the width.
Value rotate_builtin(std::string_view name, Arguments args) {
  const Value& value = args[0];
  const Value& distance = args[1];
  const unsigned width = bits_width(name, value);
  if (category_of(distance.type()) != Category::INTEGRAL) {
    raise_value_error(std::string(name) + " distance must be an integer; got " +
                      type_name(distance.type()));
  }
  std::uint64_t steps = distance.bit_pattern() % width;
  if (is_negative(distance)) {
    steps = (width - (0 - distance.bit_pattern()) % width) % width;
  }
  if (name == "rotr") steps = (width - steps) % width;
  const std::uint64_t bits = value.bit_pattern() & low_mask(width);
  const std::uint64_t rotated =
      steps == 0 ? bits : ((bits << steps) | (bits >> (width - steps))) & low_mask(width);
  switch (value.type().kind) {
    case ScalarKind::INT:
      return Value::integer(static_cast<std::int64_t>(rotated), width);
    case ScalarKind::UINT:
      return Value::unsigned_integer(rotated, width);
    case ScalarKind::ANGLE:
      return Value::angle_bits(rotated, width);
    default:
      return Value::bits(rotated, width);
  }
}

struct Builtin {
  std::string_view name;
  std::size_t arity;
  Value (*call)(std::string_view, Arguments);
};

constexpr std::array<Builtin, 15> BUILTINS{{
    {"sin", 1, float_function},
    {"cos", 1, float_function},
    {"tan", 1, float_function},
    {"arcsin", 1, float_function},
    {"arccos", 1, float_function},
    {"arctan", 1, float_function},
    {"exp", 1, float_function},
    {"log", 1, float_function},
    {"sqrt", 1, float_function},
    {"ceiling", 1, float_function},
    {"floor", 1, float_function},
    {"mod", 2, mod_builtin},
    {"popcount", 1, popcount_builtin},
    {"rotl", 2, rotate_builtin},
    {"rotr", 2, rotate_builtin},
}};

const Builtin* find_builtin(std::string_view name) {
  for (const Builtin& builtin : BUILTINS) {
    if (builtin.name == name) return &builtin;
  }
  return nullptr;
}

}  // namespace

bool is_builtin_function(std::string_view name) {
  return find_builtin(name) != nullptr;
}

Value call_builtin(std::string_view name, std::span<const Value> arguments) {
  const Builtin* builtin = find_builtin(name);
  if (builtin == nullptr) raise_value_error("Not a built-in function: " + quoted(name));
  if (arguments.size() != builtin->arity) {
    raise_value_error(std::string(name) + " takes " +
                      int_text(static_cast<std::int64_t>(builtin->arity)) +
                      (builtin->arity == 1 ? " argument; got " : " arguments; got ") +
                      int_text(static_cast<std::int64_t>(arguments.size())));
  }
  return builtin->call(name, arguments);
}

// ------------------------------------------------------------------ literals

Value read_integer_literal(std::string_view text) {
  if (const std::optional<std::int64_t> small = read_short_decimal(text))
    return Value::integer(*small);
  int base = 10;
  std::string_view digits = text;
  if (text.size() > 2 && text[0] == '0') {
    const char prefix = static_cast<char>(text[1] | 0x20);
    base = prefix == 'b' ? 2 : prefix == 'o' ? 8 : prefix == 'x' ? 16 : 10;
    if (base != 10) digits.remove_prefix(2);
  }
  std::string clean;  // only a literal with `_` separators is copied without them
  if (digits.find('_') != std::string_view::npos) {
    std::copy_if(digits.begin(), digits.end(), std::back_inserter(clean),
                 [](char c) { return c != '_'; });
    digits = clean;
  }
  std::uint64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value, base);
  if (error == std::errc::result_out_of_range) {
    raise_value_error("Integer literal too large for 64 bits");
  }
  if (error != std::errc() || stop != end) raise_value_error("Invalid integer literal");
  if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return Value::unsigned_integer(value);
  }
  return Value::integer(static_cast<std::int64_t>(value));
}

Value read_float_literal(std::string_view text) {
  const std::optional<double> value = read_float(text);
  if (!value) raise_value_error("Invalid float literal");
  if (!std::isfinite(*value)) raise_overflow("Float literal out of range");
  return Value::floating(*value);
}

Value read_bit_string_literal(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    text = text.substr(1, text.size() - 2);
  }
  std::uint64_t value = 0;
  unsigned width = 0;
  for (const char c : text) {
    if (c == '_') continue;
    if (c != '0' && c != '1') raise_value_error("Invalid bit string literal");
    if (++width > MAX_WIDTH) raise_value_error("Bit string literal longer than 64 bits");
    value = (value << 1) | static_cast<std::uint64_t>(c - '0');
  }
  if (width == 0) raise_value_error("Invalid bit string literal");
  return Value::bits(value, width);
}

}  // namespace corvane::qasm3::detail::lower
