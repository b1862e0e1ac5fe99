#include "qasm/lower/values.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "qasm/lower/values_impl.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

using namespace typing;

namespace {

std::string_view kind_name(ScalarKind kind) noexcept {
  static constexpr std::array<std::string_view, 6> NAMES{"bool", "bit",   "int",
                                                         "uint", "float", "angle"};
  return NAMES[static_cast<std::size_t>(kind)];
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

}  // namespace corvane::qasm3::detail::lower
