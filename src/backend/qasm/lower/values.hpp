// Compile-time classical values of the lowering front end and the language's typing
// rules for them: the scalar types, implicit and explicit conversions, the operators,
// the built-in constants and the built-in functions.
//
// Nothing here knows about text positions: a failure raises the converter's error
// (ValueError for a value out of range or an operand whose type does not fit, as for
// every invalid program; ZeroDivisionError, OverflowError) and the caller attaches the place.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvane::qasm3::detail::lower {

enum class ScalarKind { BOOL, BIT, INT, UINT, FLOAT, ANGLE };

// A classical type as declared: `int[32]`, `uint`, `float[64]`, `angle[20]`, `bit[8]`,
// `bit`, `bool`. An absent width is the language's default width for the kind (a
// scalar `bit` has width 1).
struct ScalarType {
  ScalarKind kind = ScalarKind::INT;
  std::optional<unsigned> width;
  friend bool operator==(const ScalarType&, const ScalarType&) = default;
};

// The type as a program spells it: "int[8]", "uint", "bit", "bit[4]", "angle[20]".
std::string type_name(const ScalarType& type);
// ValueError unless the type can hold values here: int, uint, bit and angle widths 1 to
// 64, float widths 32 and 64, bool without a width.
void check_type(const ScalarType& type);

// One compile-time value with its type. Integers and bit strings are held in 64 bits
// (wider declarations are refused by the caller); floats and angles as double, an
// angle in radians. The factories bring the value into its type: integers and bit
// strings wrap around to their width, a float[32] is rounded to single precision, an
// angle is reduced modulo 2π and an angle[n] rounded to its nearest n-bit step (ties to
// even). Every value is finite: a non-finite float or angle raises ValueError.
class Value {
 public:
  static Value boolean(bool value);
  // The scalar `bit`, interchangeable with bool (unlike `bit[1]`, a register of one).
  static Value bit(bool value);
  static Value bits(std::uint64_t value, unsigned width);
  static Value integer(std::int64_t value, std::optional<unsigned> width = std::nullopt);
  static Value unsigned_integer(std::uint64_t value, std::optional<unsigned> width = std::nullopt);
  static Value floating(double value, std::optional<unsigned> width = std::nullopt);
  static Value angle(double radians, std::optional<unsigned> width = std::nullopt);
  // The angle[width] whose bit representation is `pattern` (2π·pattern/2^width).
  static Value angle_bits(std::uint64_t pattern, unsigned width);

  [[nodiscard]] const ScalarType& type() const noexcept { return type_; }
  // The value as a gate parameter: integers converted, angles in radians, bool 0/1, a
  // bit[n] as its unsigned number.
  [[nodiscard]] double as_double() const;
  // The value as an index, size, loop bound or shift: integers, bits and bools only
  // (a float raises ValueError, the language does not convert it implicitly).
  [[nodiscard]] std::int64_t as_integer() const;
  // Truth value of a condition: non-zero numbers and bit strings are true.
  [[nodiscard]] bool as_bool() const;
  // The bits of a bool, bit, int, uint or angle[n] value, for bit indexing and slicing
  // (an int sign-extended to 64 bits); ValueError for a float or an angle without width.
  [[nodiscard]] std::uint64_t bit_pattern() const;

  friend bool operator==(const Value&, const Value&) = default;

 private:
  ScalarType type_;
  std::int64_t int_value_ = 0;  // bool, bit, int, uint and angle[n] (as their bit pattern)
  double real_value_ = 0.0;     // float and angle
};

enum class UnaryOp { NEGATE, BIT_NOT, LOGICAL_NOT };
enum class BinaryOp {
  ADD,
  SUBTRACT,
  MULTIPLY,
  DIVIDE,
  MODULO,
  POWER,
  BIT_AND,
  BIT_OR,
  BIT_XOR,
  SHIFT_LEFT,
  SHIFT_RIGHT,
  LESS,
  LESS_EQUAL,
  GREATER,
  GREATER_EQUAL,
  EQUAL,
  NOT_EQUAL,
  LOGICAL_AND,
  LOGICAL_OR,
};

// The operators with the language's typing. Integer operands (bool and bit promote to
// int) give integers in C's usual arithmetic conversions, wrapping at the result's
// width: `/` truncates toward zero, `%` keeps the dividend's sign, `**` with a
// non-negative exponent stays an integer. A float operand makes the result float.
// Angles add and subtract with angles, scale by and divide by integers and divide by
// angles (giving a uint), in their n-bit representation; mixed with a float, or under
// `**`, an angle counts as its radians and the result is float. Bitwise operators and
// shifts take bit[n], uint, int and angle[n] operands of one width. Comparisons compare
// mathematical values (-1 < 1u) and, like the logical operators, give bool; the caller
// short-circuits `&&` and `||`.
// The operator as the language writes it: "+", "&&", "~", ...
std::string_view operator_symbol(BinaryOp op) noexcept;
std::string_view operator_symbol(UnaryOp op) noexcept;
Value apply(UnaryOp op, const Value& operand);
Value apply(BinaryOp op, const Value& left, const Value& right);

// Explicit cast `T(x)` as the language allows it; ValueError where it does not.
Value cast_to(const ScalarType& type, const Value& value);
// Implicit conversion of a value stored in a variable of `type` (declarations,
// assignments, arguments): what a cast would do, where the language allows it
// implicitly (between bool, bit, int and uint; integers to float; float to angle; and,
// beyond the language reference, integers to angle and angle to float); ValueError
// otherwise, e.g. float to int or int to bit[n].
Value convert_for_assignment(const ScalarType& type, const Value& value);

// `pi`/`π`, `tau`/`τ`, `euler`/`ℇ` as float[64] values; empty for any other name.
std::optional<Value> builtin_constant(std::string_view name);
// Whether `name` is one of sin, cos, tan, arcsin, arccos, arctan, exp, log, sqrt,
// ceiling, floor, mod, popcount, rotl, rotr.
bool is_builtin_function(std::string_view name);
// Calls a built-in function; ValueError for a wrong argument count, an argument of
// the wrong type or a value outside its domain.
Value call_builtin(std::string_view name, std::span<const Value> arguments);

// Literals as the grammar spells them: integers in binary (0b), octal (0o), hex (0x) or
// decimal with `_` separators and floats with fraction and/or exponent and `_` separators,
// whose form the lexer has checked; bit strings "0101" (quotes included), whose form is
// checked here: digits 0 and 1, a `_` only between two of them.
// An integer too large for 64 bits raises ValueError.
Value read_integer_literal(std::string_view text);
// An integer literal of at most 18 ASCII digits, as nearly every one is, read without the
// general path's search, copy and conversion; nothing for any other literal.
// Inline: it reads nearly every index of a program.
inline std::optional<std::int64_t> read_short_decimal(std::string_view text) noexcept {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}
Value read_float_literal(std::string_view text);
Value read_bit_string_literal(std::string_view text);

}  // namespace corvane::qasm3::detail::lower
