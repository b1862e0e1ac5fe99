// The built-in constants and functions of compile-time values, and the reading of literals.
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

#include "qasm/lower/values_impl.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

using namespace typing;

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
  char previous = '_';  // a separator may follow a digit only
  for (const char c : text) {
    const bool separator = c == '_';
    if ((c != '0' && c != '1' && !separator) || (separator && previous == '_')) {
      raise_value_error("Invalid bit string literal");
    }
    previous = c;
    if (separator) continue;
    if (++width > MAX_WIDTH) raise_value_error("Bit string literal longer than 64 bits");
    value = (value << 1) | static_cast<std::uint64_t>(c - '0');
  }
  if (width == 0 || previous == '_') raise_value_error("Invalid bit string literal");
  return Value::bits(value, width);
}

}  // namespace corvane::qasm3::detail::lower
