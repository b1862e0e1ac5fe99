// Compile-time values of the lowering front end: the language's typing of operators,
// casts and assignments, wrap-around at declared widths, the built-ins and literals;
// and the built-in gate libraries.
#include <cmath>
#include <functional>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

#include "qasm/lower/gate_library.hpp"
#include "qasm/lower/values.hpp"
#include "test_support.hpp"

namespace corvane::qasm3::detail::lower {
// Shown by failing expectations: the type and the number.
void PrintTo(const Value& value, std::ostream* out) {
  *out << type_name(value.type()) << ' ' << value.as_double();
}
}  // namespace corvane::qasm3::detail::lower

namespace {

using namespace corvane::qasm3::detail::lower;
using K = ScalarKind;
using B = BinaryOp;
constexpr double PI = std::numbers::pi;

Value i(std::int64_t v, std::optional<unsigned> w = std::nullopt) {
  return Value::integer(v, w);
}
Value u(std::uint64_t v, std::optional<unsigned> w = std::nullopt) {
  return Value::unsigned_integer(v, w);
}
Value f(double v, std::optional<unsigned> w = std::nullopt) {
  return Value::floating(v, w);
}
Value a4(std::uint64_t pattern) {
  return Value::angle_bits(pattern, 4);
}
Value bits(std::string_view text) {
  return read_bit_string_literal(text);
}
ScalarType t(K kind, std::optional<unsigned> width = std::nullopt) {
  return {kind, width};
}
template <class... Args>
Value call(std::string_view name, Args... args) {
  const std::vector<Value> arguments{args...};
  return call_builtin(name, arguments);
}

struct Case {
  std::string what;
  std::function<Value()> compute;
  Value expected;
};

TEST(LowerValues, TypedResults) {
  const std::vector<Case> cases = {
      // integers wrap at their width; mixed signedness follows C's conversions
      {"int[8] 127+1", [] { return apply(B::ADD, i(127, 8), i(1)); }, i(128)},
      {"int[8]+int[8]", [] { return apply(B::ADD, i(127, 8), i(1, 8)); }, i(-128, 8)},
      {"uint[8] 3-5", [] { return apply(B::SUBTRACT, u(3, 8), u(5, 8)); }, u(254, 8)},
      {"int[8]+uint[8]", [] { return apply(B::ADD, i(-1, 8), u(1, 8)); }, u(0, 8)},
      {"int[16]+uint[8]", [] { return apply(B::ADD, i(-2, 16), u(1, 8)); }, i(-1, 16)},
      {"-uint[8]", [] { return apply(UnaryOp::NEGATE, u(1, 8)); }, u(255, 8)},
      {"-7/2", [] { return apply(B::DIVIDE, i(-7), i(2)); }, i(-3)},
      {"-7%2", [] { return apply(B::MODULO, i(-7), i(2)); }, i(-1)},
      {"min/-1", [] { return apply(B::DIVIDE, i(INT64_MIN), i(-1)); }, i(INT64_MIN)},
      {"2**10", [] { return apply(B::POWER, i(2), i(10)); }, i(1024)},
      {"2**-1", [] { return apply(B::POWER, i(2), i(-1)); }, f(0.5)},
      {"3**41 wraps", [] { return apply(B::POWER, u(3), i(41)); }, u(0xfa2a1cf67b5fb863ULL)},
      {"true+true", [] { return apply(B::ADD, Value::boolean(true), Value::bit(true)); }, i(2)},
      // floats
      {"1/2.0", [] { return apply(B::DIVIDE, i(1), f(2.0)); }, f(0.5)},
      {"f32*int", [] { return apply(B::MULTIPLY, f(0.1, 32), i(3)); },
       f(static_cast<double>(0.1f) * 3, 32)},
      {"f32+f64", [] { return apply(B::ADD, f(1, 32), f(1, 64)); }, f(2, 64)},
      // angle[4] arithmetic of the language reference
      {"a+b", [] { return apply(B::ADD, a4(7), a4(1)); }, Value::angle(PI, 4)},
      {"b-a", [] { return apply(B::SUBTRACT, a4(1), a4(7)); }, a4(10)},
      {"a/two", [] { return apply(B::DIVIDE, a4(7), u(2, 4)); }, a4(3)},
      {"two*c", [] { return apply(B::MULTIPLY, u(2, 4), a4(10)); }, a4(4)},
      {"c/b", [] { return apply(B::DIVIDE, a4(10), a4(1)); }, u(10, 4)},
      {"-a", [] { return apply(UnaryOp::NEGATE, a4(2)); }, a4(14)},
      {"a<<2", [] { return apply(B::SHIFT_LEFT, a4(9), i(2)); }, a4(4)},
      {"a>>2", [] { return apply(B::SHIFT_RIGHT, a4(9), i(2)); }, a4(2)},
      {"angle[4]+angle[8]", [] { return apply(B::ADD, a4(1), Value::angle_bits(1, 8)); },
       Value::angle_bits(17, 8)},
      {"angle/2.0", [] { return apply(B::DIVIDE, a4(8), f(2.0)); }, f(PI / 2)},
      {"angle -pi/2", [] { return Value::angle(-PI / 2); }, Value::angle(3 * PI / 2)},
      // bits, shifts, bitwise
      {"<<", [] { return apply(B::SHIFT_LEFT, bits("\"10001111\""), i(1)); }, bits("00011110")},
      {"|", [] { return apply(B::BIT_OR, bits("10001111"), bits("01110000")); }, bits("11111111")},
      {"~bit[4]", [] { return apply(UnaryOp::BIT_NOT, bits("1010")); }, bits("0101")},
      {"~true", [] { return apply(UnaryOp::BIT_NOT, Value::boolean(true)); },
       Value::boolean(false)},
      {"-8>>1", [] { return apply(B::SHIFT_RIGHT, i(-8), i(1)); }, i(-4)},
      {"1<<64", [] { return apply(B::SHIFT_LEFT, i(1), i(64)); }, i(0)},
      {"-1>>99", [] { return apply(B::SHIFT_RIGHT, i(-1, 8), u(99)); }, i(-1, 8)},
      // comparisons by mathematical value
      {"-1<uint 1", [] { return apply(B::LESS, i(-1), u(1)); }, Value::boolean(true)},
      {"2==2.0", [] { return apply(B::EQUAL, i(2), f(2.0)); }, Value::boolean(true)},
      {"max uint>max int", [] { return apply(B::GREATER, u(UINT64_MAX), i(INT64_MAX)); },
       Value::boolean(true)},
      {"angle[32] pi==pi", [] { return apply(B::EQUAL, Value::angle(PI, 32), f(PI)); },
       Value::boolean(true)},
      {"bit[4]==10", [] { return apply(B::EQUAL, bits("1010"), i(10)); }, Value::boolean(true)},
      // casts
      {"int[8](2.5)", [] { return cast_to(t(K::INT, 8), f(2.5)); }, i(2, 8)},
      {"int[8](-2.9)", [] { return cast_to(t(K::INT, 8), f(-2.9)); }, i(-2, 8)},
      {"int[16](uint[32])", [] { return cast_to(t(K::INT, 16), u(0xfffff, 32)); }, i(-1, 16)},
      {"int[4](bit[4])", [] { return cast_to(t(K::INT, 4), bits("1010")); }, i(-6, 4)},
      {"int(bit[2])", [] { return cast_to(t(K::INT), bits("11")); }, i(3)},
      {"bit[4](literal)", [] { return cast_to(t(K::BIT, 4), i(18)); }, bits("0010")},
      {"bit[3](true)", [] { return cast_to(t(K::BIT, 3), Value::boolean(true)); }, bits("001")},
      {"bool(0.5)", [] { return cast_to(t(K::BOOL), f(0.5)); }, Value::boolean(true)},
      {"angle[8](2pi*127/512)", [] { return cast_to(t(K::ANGLE, 8), f(2 * PI * (127. / 512.))); },
       Value::angle_bits(64, 8)},
      {"angle[2](angle[4] 0011)", [] { return cast_to(t(K::ANGLE, 2), a4(3)); },
       Value::angle_bits(1, 2)},
      {"angle[2](angle[4] 0110)", [] { return cast_to(t(K::ANGLE, 2), a4(6)); },
       Value::angle_bits(2, 2)},
      {"angle[8](angle[4])", [] { return cast_to(t(K::ANGLE, 8), a4(3)); },
       Value::angle_bits(48, 8)},
      {"angle[4](bit[4])", [] { return cast_to(t(K::ANGLE, 4), bits("1000")); }, a4(8)},
      // assignments
      {"angle[20]=pi/2", [] { return convert_for_assignment(t(K::ANGLE, 20), f(PI / 2)); },
       Value::angle_bits(1 << 18, 20)},
      {"angle=1", [] { return convert_for_assignment(t(K::ANGLE), i(1)); }, Value::angle(1.0)},
      {"float[32]=uint", [] { return convert_for_assignment(t(K::FLOAT, 32), u(3)); }, f(3, 32)},
      {"uint[4]=int 20", [] { return convert_for_assignment(t(K::UINT, 4), i(20)); }, u(4, 4)},
      {"bit=true", [] { return convert_for_assignment(t(K::BIT), i(5)); }, Value::bit(true)},
      // built-ins and constants
      {"sin", [] { return call("sin", Value::angle(PI / 2, 8)); }, f(1.0)},
      {"mod int", [] { return call("mod", i(-7), i(3)); }, i(-1)},
      {"mod float", [] { return call("mod", f(7.5), i(2)); }, f(1.5)},
      {"floor", [] { return call("floor", f(-1.5)); }, f(-2.0)},
      {"popcount", [] { return call("popcount", u(37, 6)); }, u(3)},
      {"rotl uint", [] { return call("rotl", u(37, 6), i(3)); }, u(44, 6)},
      {"rotl bits", [] { return call("rotl", bits("0010_1010"), i(3)); }, bits("0101_0001")},
      {"rotr -1", [] { return call("rotr", bits("1000"), i(-1)); }, bits("0001")},
      {"tau", [] { return *builtin_constant("\u03C4"); }, f(2 * PI, 64)},
      {"euler", [] { return *builtin_constant("euler"); }, f(std::numbers::e, 64)},
      // literals
      {"hex", [] { return read_integer_literal("0xffff_ffff"); }, i(0xffffffff)},
      {"bin", [] { return read_integer_literal("0B0110_1001"); }, i(105)},
      {"oct", [] { return read_integer_literal("0o73"); }, i(59)},
      {"dec", [] { return read_integer_literal("1_000_000"); }, i(1000000)},
      {"2^64-1", [] { return read_integer_literal("18446744073709551615"); }, u(UINT64_MAX)},
      {"float", [] { return read_float_literal("1_123e-3"); }, f(1.123)},
      {"float .", [] { return read_float_literal("0."); }, f(0.0)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.compute(), c.expected) << c.what;
}

struct ErrorCase {
  std::function<void()> call;
  std::string outcome;
};

TEST(LowerValues, Errors) {
  const std::vector<ErrorCase> cases = {
      {[] { apply(B::DIVIDE, i(1), i(0)); }, "ZeroDivisionError: integer division by zero"},
      {[] { apply(B::MODULO, u(1, 8), u(256, 8)); }, "ZeroDivisionError: integer modulo by zero"},
      {[] { apply(B::DIVIDE, f(1), i(0)); }, "ZeroDivisionError: float division by zero"},
      {[] { apply(B::POWER, i(0), i(-1)); }, "ZeroDivisionError: zero to a negative power"},
      {[] { apply(B::DIVIDE, a4(3), i(0)); }, "ZeroDivisionError: angle division by zero"},
      {[] { call("mod", f(1), f(0)); }, "ZeroDivisionError: float modulo by zero"},
      {[] { apply(B::POWER, f(-8), f(1. / 3)); },
       "ValueError: Negative number to a fractional power"},
      {[] { apply(B::MULTIPLY, f(1e300), f(1e300)); }, "OverflowError: Float result out of range"},
      {[] { apply(B::SHIFT_LEFT, i(1), i(-1)); }, "ValueError: Negative shift count"},
      {[] { apply(B::ADD, bits("01"), i(1)); },
       "ValueError: Operator + is not defined for bit[2] and int"},
      {[] { apply(B::BIT_AND, bits("01"), bits("011")); },
       "ValueError: Operator & is not defined for bit[2] and bit[3]"},
      {[] { apply(B::MODULO, f(1), f(2)); },
       "ValueError: Operator % is not defined for float and float"},
      {[] { apply(B::ADD, a4(1), i(1)); },
       "ValueError: Operator + is not defined for angle[4] and int"},
      {[] { apply(B::DIVIDE, i(1), a4(1)); },
       "ValueError: Operator / is not defined for int and angle[4]"},
      {[] { apply(UnaryOp::BIT_NOT, f(1, 64)); },
       "ValueError: Operator ~ is not defined for float[64]"},
      {[] { apply(B::LESS, bits("1"), f(1)); },
       "ValueError: Operator < is not defined for bit[1] and float"},
      {[] { cast_to(t(K::BIT, 2), f(2.5)); }, "ValueError: Cannot cast float to bit[2]"},
      {[] { cast_to(t(K::BIT, 4), u(1, 8)); }, "ValueError: Cannot cast uint[8] to bit[4]"},
      {[] { cast_to(t(K::INT, 8), a4(1)); }, "ValueError: Cannot cast angle[4] to int[8]"},
      {[] { cast_to(t(K::ANGLE, 4), i(1)); }, "ValueError: Cannot cast int to angle[4]"},
      {[] { cast_to(t(K::INT, 8), f(128)); },
       "ValueError: Float value 128 out of range for int[8]"},
      {[] { cast_to(t(K::UINT), f(-1)); }, "ValueError: Float value -1 out of range for uint"},
      {[] { convert_for_assignment(t(K::INT, 64), f(1, 32)); },
       "ValueError: Cannot implicitly convert float[32] to int[64]"},
      {[] { convert_for_assignment(t(K::BIT, 4), bits("10101010")); },
       "ValueError: Cannot implicitly convert bit[8] to bit[4]"},
      {[] { (void)f(1).as_integer(); }, "ValueError: Expected an integer; got float"},
      {[] { (void)u(UINT64_MAX).as_integer(); },
       "ValueError: Integer out of range: 18446744073709551615"},
      {[] { Value::angle(1.0, 65); }, "ValueError: angle width must be 1 to 64; got 65"},
      {[] { cast_to(t(K::FLOAT, 16), i(1)); }, "ValueError: float width must be 32 or 64; got 16"},
      {[] { f(1e300, 32); }, "OverflowError: Float value out of range for float[32]: 1e+300"},
      {[] { call("arcsin", i(2)); }, "ValueError: arcsin argument must be in [-1, 1]; got 2"},
      {[] { call("log", i(0)); }, "ValueError: log argument must be positive; got 0"},
      {[] { call("sqrt", f(-1)); }, "ValueError: sqrt argument must be non-negative; got -1"},
      {[] { call("exp", i(1000)); }, "OverflowError: exp result out of range"},
      {[] { call("sin", bits("01")); }, "ValueError: sin needs a float argument; got bit[2]"},
      {[] { call("popcount", u(3)); },
       "ValueError: popcount needs a bit[n], uint[n] or angle[n] argument; got uint"},
      {[] { call("rotl", bits("01"), f(1)); },
       "ValueError: rotl distance must be an integer; got float"},
      {[] { call("mod", i(1)); }, "ValueError: mod takes 2 arguments; got 1"},
      {[] { call("pow", i(1)); }, "ValueError: Not a built-in function: 'pow'"},
      {[] { read_integer_literal("18446744073709551616"); },
       "ValueError: Integer literal too large for 64 bits"},
      {[] { read_float_literal("1e999"); }, "OverflowError: Float literal out of range"},
      {[] { read_bit_string_literal("\"" + std::string(65, '1') + "\""); },
       "ValueError: Bit string literal longer than 64 bits"},
  };
  for (const ErrorCase& c : cases)
    EXPECT_EQ(outcome_of(c.call), c.outcome);
}

// Integer `/` truncates toward zero and `%` keeps the dividend's sign, as in C: the
// quotient and the remainder always rebuild the dividend.
TEST(LowerValues, IntegerDivisionTruncatesTowardZero) {
  struct Row {
    std::int64_t a, b, quotient, remainder;
  };
  const std::vector<Row> rows = {
      {7, 2, 3, 1},
      {-7, 2, -3, -1},
      {7, -2, -3, 1},
      {-7, -2, 3, -1},
      {0, 5, 0, 0},
      {6, 3, 2, 0},
      {-6, 3, -2, 0},
      {1, 2, 0, 1},
      {-1, 2, 0, -1},
      {3, 7, 0, 3},
      {INT64_MIN, 1, INT64_MIN, 0},
      {INT64_MIN, -1, INT64_MIN, 0},  // the quotient wraps
      {INT64_MAX, -1, -INT64_MAX, 0},
      {INT64_MIN, 2, INT64_MIN / 2, 0},
  };
  for (const Row& row : rows) {
    const std::string what = std::to_string(row.a) + ", " + std::to_string(row.b);
    EXPECT_EQ(apply(B::DIVIDE, i(row.a), i(row.b)), i(row.quotient)) << what;
    EXPECT_EQ(apply(B::MODULO, i(row.a), i(row.b)), i(row.remainder)) << what;
    EXPECT_EQ(call("mod", i(row.a), i(row.b)), i(row.remainder)) << what;
    const Value rebuilt =
        apply(B::ADD, apply(B::MULTIPLY, apply(B::DIVIDE, i(row.a), i(row.b)), i(row.b)),
              apply(B::MODULO, i(row.a), i(row.b)));
    EXPECT_EQ(rebuilt, i(row.a)) << what;
  }
  // At a declared width the operands are read in it: int[8] -128 / -1 wraps to -128.
  EXPECT_EQ(apply(B::DIVIDE, i(-128, 8), i(-1, 8)), i(-128, 8));
  EXPECT_EQ(apply(B::DIVIDE, u(255, 8), u(2, 8)), u(127, 8));
  EXPECT_EQ(apply(B::MODULO, i(-7, 4), u(3, 4)), u(0, 4));  // -7 as uint[4] is 9
  // mod of floats is the remainder of truncating division too.
  EXPECT_EQ(call("mod", f(-7.5), f(2)), f(-1.5));
  EXPECT_EQ(call("mod", f(7.5), f(-2)), f(1.5));
}

// Integers wrap at their width like C's unsigned arithmetic; floats refuse to overflow.
TEST(LowerValues, WrapsAtTheEdges) {
  const std::vector<Case> cases = {
      {"max+1", [] { return apply(B::ADD, i(INT64_MAX), i(1)); }, i(INT64_MIN)},
      {"min-1", [] { return apply(B::SUBTRACT, i(INT64_MIN), i(1)); }, i(INT64_MAX)},
      {"-min", [] { return apply(UnaryOp::NEGATE, i(INT64_MIN)); }, i(INT64_MIN)},
      {"max*2", [] { return apply(B::MULTIPLY, i(INT64_MAX), i(2)); }, i(-2)},
      {"0u-1", [] { return apply(B::SUBTRACT, u(0), u(1)); }, u(UINT64_MAX)},
      {"int-uint", [] { return apply(B::SUBTRACT, i(1), u(2)); }, u(UINT64_MAX)},
      {"uint[8] 200+100", [] { return apply(B::ADD, u(200, 8), u(100, 8)); }, u(44, 8)},
      {"int[8] -128-1", [] { return apply(B::SUBTRACT, i(-128, 8), i(1, 8)); }, i(127, 8)},
      {"-int[8] -128", [] { return apply(UnaryOp::NEGATE, i(-128, 8)); }, i(-128, 8)},
      {"int[1] 1", [] { return i(1, 1); }, i(-1, 1)},
      {"uint[1] 3", [] { return u(3, 1); }, u(1, 1)},
      {"2**63", [] { return apply(B::POWER, i(2), i(63)); }, i(INT64_MIN)},
      {"2**64", [] { return apply(B::POWER, i(2), i(64)); }, i(0)},
      {"(-2)**63", [] { return apply(B::POWER, i(-2), i(63)); }, i(INT64_MIN)},
      {"(-3)**3", [] { return apply(B::POWER, i(-3), i(3)); }, i(-27)},
      {"0**0", [] { return apply(B::POWER, i(0), i(0)); }, i(1)},
      {"int[8] 3**5", [] { return apply(B::POWER, i(3, 8), i(5, 8)); }, i(-13, 8)},  // 243
      {"1<<63", [] { return apply(B::SHIFT_LEFT, i(1), i(63)); }, i(INT64_MIN)},
      {"int[8] 64<<1", [] { return apply(B::SHIFT_LEFT, i(64, 8), i(1)); }, i(-128, 8)},
      {"int[8] -128>>7", [] { return apply(B::SHIFT_RIGHT, i(-128, 8), i(7)); }, i(-1, 8)},
      {"uint[8] 128>>7", [] { return apply(B::SHIFT_RIGHT, u(128, 8), i(7)); }, u(1, 8)},
      {"uint[8] 1<<8", [] { return apply(B::SHIFT_LEFT, u(1, 8), i(8)); }, u(0, 8)},
      {"~int[4] 5", [] { return apply(UnaryOp::BIT_NOT, i(5, 4)); }, i(-6, 4)},
      {"~uint[4] 5", [] { return apply(UnaryOp::BIT_NOT, u(5, 4)); }, u(10, 4)},
      {"max int < 2^63", [] { return apply(B::LESS, i(INT64_MAX), f(0x1p63)); },
       Value::boolean(true)},
      {"max uint > 2^64-2048",
       [] { return apply(B::GREATER, u(UINT64_MAX), f(0x1.fffffffffffffp63)); },
       Value::boolean(true)},
      {"int[8] -1 < uint[8] 255", [] { return apply(B::LESS, i(-1, 8), u(255, 8)); },
       Value::boolean(true)},
      {"float[32] rounds", [] { return f(16777217, 32); }, f(16777216, 32)},
      {"float[32] max", [] { return f(3.4028234663852886e38, 32); }, f(3.4028234663852886e38, 32)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.compute(), c.expected) << c.what;

  const std::vector<ErrorCase> errors = {
      {[] { apply(B::MULTIPLY, f(1e308), f(10)); }, "OverflowError: Float result out of range"},
      {[] { apply(B::SUBTRACT, f(-1e308), f(1e308)); }, "OverflowError: Float result out of range"},
      {[] { apply(B::POWER, f(10), f(309)); }, "OverflowError: Float result out of range"},
      {[] { apply(B::MULTIPLY, f(0x1p127, 32), f(4, 32)); },
       "OverflowError: Float value out of range for float[32]: 6.80564733841877e+38"},
      {[] { f(3.5e38, 32); }, "OverflowError: Float value out of range for float[32]: 3.5e+38"},
      {[] { apply(B::DIVIDE, i(INT64_MIN, 8), i(0, 8)); },
       "ZeroDivisionError: integer division by zero"},
      {[] { apply(B::MODULO, i(5), Value::boolean(false)); },
       "ZeroDivisionError: integer modulo by zero"},
  };
  for (const ErrorCase& c : errors)
    EXPECT_EQ(outcome_of(c.call), c.outcome);
}

// A float cast to an integer loses its fraction (toward zero); one outside the target's
// range is refused, at both ends and at every width.
TEST(LowerValues, FloatToIntegerTruncatesWithinRange) {
  const std::vector<Case> cases = {
      {"int(2.9)", [] { return cast_to(t(K::INT), f(2.9)); }, i(2)},
      {"int(-2.9)", [] { return cast_to(t(K::INT), f(-2.9)); }, i(-2)},
      {"uint(2.9)", [] { return cast_to(t(K::UINT), f(2.9)); }, u(2)},
      {"uint(-0.5)", [] { return cast_to(t(K::UINT), f(-0.5)); }, u(0)},
      {"int[8](127.9)", [] { return cast_to(t(K::INT, 8), f(127.9)); }, i(127, 8)},
      {"int[8](-128.9)", [] { return cast_to(t(K::INT, 8), f(-128.9)); }, i(-128, 8)},
      {"uint[8](255.5)", [] { return cast_to(t(K::UINT, 8), f(255.5)); }, u(255, 8)},
      {"int[1](-1)", [] { return cast_to(t(K::INT, 1), f(-1)); }, i(-1, 1)},
      {"int(-2^63)", [] { return cast_to(t(K::INT), f(-0x1p63)); }, i(INT64_MIN)},
      {"uint(2^64-2048)", [] { return cast_to(t(K::UINT), f(0x1.fffffffffffffp63)); },
       u(0xfffffffffffff800ULL)},
      {"int(float[32])", [] { return cast_to(t(K::INT), f(2.5, 32)); }, i(2)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.compute(), c.expected) << c.what;
  const std::vector<ErrorCase> errors = {
      {[] { cast_to(t(K::INT, 8), f(-129)); },
       "ValueError: Float value -129 out of range for int[8]"},
      {[] { cast_to(t(K::UINT, 8), f(256)); },
       "ValueError: Float value 256 out of range for uint[8]"},
      {[] { cast_to(t(K::INT, 1), f(1)); }, "ValueError: Float value 1 out of range for int[1]"},
      {[] { cast_to(t(K::INT), f(0x1p63)); },
       "ValueError: Float value 9.22337203685478e+18 out of range for int"},
      {[] { cast_to(t(K::UINT), f(0x1p64)); },
       "ValueError: Float value 1.84467440737096e+19 out of range for uint"},
  };
  for (const ErrorCase& c : errors)
    EXPECT_EQ(outcome_of(c.call), c.outcome);
}

// The casts of the language reference's table: from each type (rows) to each (columns),
// with the widths equal where widths must match.
TEST(LowerValues, CastsAsTheLanguageAllows) {
  const std::vector<std::pair<std::string, Value>> from = {
      {"bool", Value::boolean(true)}, {"int[4]", i(1, 4)}, {"uint[4]", u(1, 4)},
      {"float[64]", f(1, 64)},        {"angle[4]", a4(4)}, {"bit[4]", bits("0001")},
  };
  const std::vector<ScalarType> to = {t(K::BOOL),      t(K::INT, 4),   t(K::UINT, 4),
                                      t(K::FLOAT, 64), t(K::ANGLE, 4), t(K::BIT, 4)};
  // 1: allowed. Beyond the table, an angle casts to float (its radians), as it converts
  // implicitly where a program mixes angles with floats.
  const std::vector<std::string> allowed = {
      // to: bool int uint float angle bit
      "111101",  // bool
      "111101",  // int
      "111101",  // uint
      "111110",  // float
      "100111",  // angle (float: beyond the table)
      "111011",  // bit
  };
  for (std::size_t r = 0; r < from.size(); ++r) {
    for (std::size_t c = 0; c < to.size(); ++c) {
      const std::string outcome = outcome_of([&] { cast_to(to[c], from[r].second); });
      EXPECT_EQ(outcome == "ok", allowed[r][c] == '1')
          << from[r].first << " to " << type_name(to[c]) << ": " << outcome;
    }
  }
  // Between bit registers and sized integers or angles only equal widths cast; an int
  // literal (no width) fits any register.
  const std::vector<ErrorCase> width_mismatches = {
      {[] { cast_to(t(K::BIT, 4), i(1, 8)); }, "ValueError: Cannot cast int[8] to bit[4]"},
      {[] { cast_to(t(K::INT, 8), bits("0001")); }, "ValueError: Cannot cast bit[4] to int[8]"},
      {[] { cast_to(t(K::UINT, 2), bits("0001")); }, "ValueError: Cannot cast bit[4] to uint[2]"},
      {[] { cast_to(t(K::ANGLE, 8), bits("0001")); }, "ValueError: Cannot cast bit[4] to angle[8]"},
      {[] { cast_to(t(K::BIT, 8), a4(1)); }, "ValueError: Cannot cast angle[4] to bit[8]"},
      {[] { cast_to(t(K::BIT, 8), bits("0001")); }, "ValueError: Cannot cast bit[4] to bit[8]"},
      {[] { cast_to(t(K::BIT, 4), Value::angle(1.0)); }, "ValueError: Cannot cast angle to bit[4]"},
  };
  for (const ErrorCase& c : width_mismatches)
    EXPECT_EQ(outcome_of(c.call), c.outcome);
  EXPECT_EQ(cast_to(t(K::BIT, 8), i(300)), bits("00101100"));
  EXPECT_EQ(cast_to(t(K::INT, 4), u(15, 4)), i(-1, 4));  // the bits are kept
  EXPECT_EQ(cast_to(t(K::UINT, 4), i(-1, 4)), u(15, 4));
  EXPECT_EQ(cast_to(t(K::BOOL), a4(0)), Value::boolean(false));
  EXPECT_EQ(cast_to(t(K::BOOL), i(-1)), Value::boolean(true));
  EXPECT_EQ(cast_to(t(K::FLOAT), Value::boolean(true)), f(1));
}

// Angles are reduced modulo 2π and an angle[n] rounds to its nearest step, ties to even;
// the language reference's examples, the ends of the turn, and a round trip at every width
// that a double can hold.
TEST(LowerValues, AnglesWrapAndRound) {
  const std::vector<Case> cases = {
      {"angle[4] π", [] { return Value::angle(PI, 4); }, a4(8)},
      {"angle[6] π/2", [] { return Value::angle(PI / 2, 6); }, Value::angle_bits(16, 6)},
      {"angle[8] 7π/8",
       [] { return convert_for_assignment(t(K::ANGLE, 8), apply(B::MULTIPLY, i(7), f(PI / 8))); },
       Value::angle_bits(112, 8)},
      {"angle[4] 9π/8 << 2", [] { return apply(B::SHIFT_LEFT, Value::angle(9 * PI / 8, 4), i(2)); },
       Value::angle(PI / 2, 4)},
      {"angle[4] -π/2", [] { return Value::angle(-PI / 2, 4); }, a4(12)},
      {"angle[4] 5π/2", [] { return Value::angle(5 * PI / 2, 4); }, a4(4)},
      {"angle[4] 2π", [] { return Value::angle(2 * PI, 4); }, a4(0)},
      {"angle[8] -2π", [] { return Value::angle(-2 * PI, 8); }, Value::angle_bits(0, 8)},
      {"angle[8] just below 2π", [] { return Value::angle(2 * PI - 1e-9, 8); },
       Value::angle_bits(0, 8)},
      {"angle[8] tiny negative", [] { return Value::angle(-1e-300, 8); }, Value::angle_bits(0, 8)},
      {"angle tiny negative", [] { return Value::angle(-1e-300); }, Value::angle(0)},
      {"angle 7π/2", [] { return Value::angle(7 * PI / 2); }, Value::angle(3 * PI / 2)},
      {"angle[1] π/2 ties to 0", [] { return Value::angle(PI / 2, 1); }, Value::angle_bits(0, 1)},
      {"angle[1] 3π/2 ties to 0", [] { return Value::angle(3 * PI / 2, 1); },
       Value::angle_bits(0, 1)},
      {"angle[2](angle[4] 0010)", [] { return cast_to(t(K::ANGLE, 2), a4(2)); },
       Value::angle_bits(0, 2)},
      {"angle[2](angle[4] 1110)", [] { return cast_to(t(K::ANGLE, 2), a4(14)); },
       Value::angle_bits(0, 2)},
      {"15+1", [] { return apply(B::ADD, a4(15), a4(1)); }, a4(0)},
      {"0-1", [] { return apply(B::SUBTRACT, a4(0), a4(1)); }, a4(15)},
      {"16*a", [] { return apply(B::MULTIPLY, i(16), a4(1)); }, a4(0)},
      {"3u*6", [] { return apply(B::MULTIPLY, u(3), a4(6)); }, a4(2)},
      {"a/-1", [] { return apply(B::DIVIDE, a4(7), i(-1)); }, a4(9)},
      {"angle-angle", [] { return apply(B::SUBTRACT, Value::angle(PI / 2), Value::angle(PI)); },
       Value::angle(3 * PI / 2)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.compute(), c.expected) << c.what;
  for (unsigned width = 1; width <= 50; ++width) {
    const std::uint64_t top = std::uint64_t{1} << width;
    for (const std::uint64_t pattern : {std::uint64_t{0}, std::uint64_t{1}, top / 2, top - 1,
                                        std::uint64_t{0x5555555555555555} & (top - 1)}) {
      const Value angle = Value::angle_bits(pattern, width);
      EXPECT_EQ(Value::angle(angle.as_double(), width), angle) << width << ": " << pattern;
    }
  }
}

// The literal forms of the language reference: separators, prefixes, the 64-bit edges.
TEST(LowerValues, LiteralForms) {
  const std::vector<Case> cases = {
      {"leading zeros are decimal", [] { return read_integer_literal("00012"); }, i(12)},
      {"upper-case hex", [] { return read_integer_literal("0XBEEF"); }, i(48879)},
      {"binary", [] { return read_integer_literal("0b1101"); }, i(13)},
      {"max int", [] { return read_integer_literal("9223372036854775807"); }, i(INT64_MAX)},
      {"2^63 is unsigned", [] { return read_integer_literal("9223372036854775808"); },
       u(0x8000000000000000ULL)},
      {"max hex", [] { return read_integer_literal("0xFFFF_FFFF_FFFF_FFFF"); }, u(UINT64_MAX)},
      {"max octal", [] { return read_integer_literal("0o1777777777777777777777"); }, u(UINT64_MAX)},
      {"max binary", [] { return read_integer_literal("0b" + std::string(64, '1')); },
       u(UINT64_MAX)},
      {"scientific", [] { return read_float_literal("2e10"); }, f(2e10)},
      {"signed exponent", [] { return read_float_literal("2e+1"); }, f(20)},
      {"upper-case exponent", [] { return read_float_literal("2.0E-1"); }, f(0.2)},
      {"leading dot", [] { return read_float_literal(".1"); }, f(0.1)},
      {"separators in a float", [] { return read_float_literal("1_000.000_1"); }, f(1000.0001)},
      {"smallest float", [] { return read_float_literal("4.9e-324"); }, f(4.9e-324)},
      {"underflow", [] { return read_float_literal("1e-400"); }, f(0)},
      {"bit string", [] { return bits("\"00010001\""); }, Value::bits(17, 8)},
      {"bit string separators", [] { return bits("\"0001_0001\""); }, Value::bits(17, 8)},
      {"\"1\" is a bit[1]", [] { return bits("\"1\""); }, Value::bits(1, 1)},
      {"64 bits", [] { return bits("\"1" + std::string(63, '0') + "\""); },
       Value::bits(0x8000000000000000ULL, 64)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.compute(), c.expected) << c.what;
  EXPECT_NE(bits("\"1\""), Value::bit(true));  // bit[1] is a register, bit a scalar
  const std::vector<ErrorCase> errors = {
      {[] { read_integer_literal("0o2000000000000000000000"); },
       "ValueError: Integer literal too large for 64 bits"},
      {[] { read_integer_literal("0b1" + std::string(64, '0')); },
       "ValueError: Integer literal too large for 64 bits"},
      {[] { read_integer_literal("0x1_0000_0000_0000_0000"); },
       "ValueError: Integer literal too large for 64 bits"},
      {[] { bits("\"\""); }, "ValueError: Invalid bit string literal"},
      {[] { bits("\"012\""); }, "ValueError: Invalid bit string literal"},
      // A separator stands between two digits, as the grammar's bit string has it.
      {[] { bits("\"01__1\""); }, "ValueError: Invalid bit string literal"},
      {[] { bits("\"_01\""); }, "ValueError: Invalid bit string literal"},
      {[] { bits("\"01_\""); }, "ValueError: Invalid bit string literal"},
      {[] { bits("\"_\""); }, "ValueError: Invalid bit string literal"},
  };
  for (const ErrorCase& c : errors)
    EXPECT_EQ(outcome_of(c.call), c.outcome);
}

// Each library text defines every gate of its file.
TEST(GateLibrary, DefinesEveryGate) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> libraries = {
      {"stdgates.inc",
       {"p",   "x",     "y",  "z",  "h",     "s",      "sdg", "t",   "tdg", "sx", "rx",
        "ry",  "rz",    "cx", "cy", "cz",    "cp",     "crx", "cry", "crz", "ch", "swap",
        "ccx", "cswap", "cu", "CX", "phase", "cphase", "id",  "u1",  "u2",  "u3"}},
      {"qelib1.inc",
       {"u3",  "u2",   "u1",  "cx",  "id",    "u0",   "u",   "p",       "x",   "y",    "z",
        "h",   "s",    "sdg", "t",   "tdg",   "rx",   "ry",  "rz",      "sx",  "sxdg", "cz",
        "cy",  "swap", "ch",  "ccx", "cswap", "crx",  "cry", "crz",     "cu1", "cp",   "cu3",
        "csx", "cu",   "rxx", "rzz", "rccx",  "rc3x", "c3x", "c3sqrtx", "c4x"}},
  };
  for (const auto& [file, gates] : libraries) {
    const auto text = library_source(file);
    ASSERT_TRUE(text.has_value()) << file;
    for (const std::string& gate : gates) {
      const bool found = text->find("\ngate " + gate + " ") != std::string_view::npos ||
                         text->find("\ngate " + gate + "(") != std::string_view::npos;
      EXPECT_TRUE(found) << file << ": " << gate;
    }
  }
  EXPECT_FALSE(library_source("other.inc").has_value());
}

}  // namespace
