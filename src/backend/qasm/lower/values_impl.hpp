// What the files of the lowering front end's compile-time values share: the widths, bit
// masks and operand categories of the typing rules, and the integers they make.
// values.cpp defines the types, the Value and the conversions, values_operators.cpp the
// operators, values_builtins.cpp the built-in constants and functions and the literals.
#pragma once

#include <cstdint>
#include <numbers>
#include <optional>

#include "qasm/lower/values.hpp"

namespace corvane::qasm3::detail::lower::typing {

// The width of `int`, `uint`, `float` and `angle` declared without one.
inline constexpr unsigned MACHINE_WIDTH = 64;
inline constexpr unsigned MAX_WIDTH = 64;
inline constexpr double TWO_PI = 2.0 * std::numbers::pi;

inline std::uint64_t low_mask(unsigned width) noexcept {
  return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
}

// The low `width` bits of `bits` read as a two's-complement number.
inline std::int64_t sign_extend(std::uint64_t bits, unsigned width) noexcept {
  bits &= low_mask(width);
  if (width < 64 && ((bits >> (width - 1)) & 1U) != 0) bits |= ~low_mask(width);
  return static_cast<std::int64_t>(bits);
}

inline unsigned width_of(const ScalarType& type) noexcept {
  return type.width.value_or(type.kind == ScalarKind::BIT ? 1 : MACHINE_WIDTH);
}

// What an operand is for the typing rules: bool, scalar bit, int and uint take part in
// integer arithmetic; a bit[n] register only in bitwise operations and comparisons.
enum class Category { INTEGRAL, REGISTER, FLOAT, ANGLE };

inline Category category_of(const ScalarType& type) noexcept {
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

inline bool is_bool_like(const ScalarType& type) noexcept {
  return type.kind == ScalarKind::BOOL || (type.kind == ScalarKind::BIT && !type.width);
}

// An integral value below zero (only an int can be).
inline bool is_negative(const Value& value) {
  return value.type().kind == ScalarKind::INT && static_cast<std::int64_t>(value.bit_pattern()) < 0;
}

// An integer type of the typing rules: int or uint, perhaps with a width.
struct IntegerType {
  bool is_signed = true;
  std::optional<unsigned> width;
};

inline Value make_integer(IntegerType type, std::uint64_t bits) {
  if (type.is_signed) return Value::integer(static_cast<std::int64_t>(bits), type.width);
  return Value::unsigned_integer(bits, type.width);
}

}  // namespace corvane::qasm3::detail::lower::typing
