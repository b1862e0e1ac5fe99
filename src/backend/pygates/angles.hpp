// The angles a gate's matrix is a function of, read from its parameter: by gate_set()'s
// matrix functions and by whatever else builds matrices from records.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include "corvane/backend/gate/gatebase.hpp"

namespace corvane::detail {

// A list entry as a number; text has none.
inline std::optional<double> number_of(const ParamScalar& entry) {
  return std::visit(
      [](const auto& value) -> std::optional<double> {
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string>) {
          return std::nullopt;
        } else {
          return static_cast<double>(value);
        }
      },
      entry);
}

// A bool, integer or double parameter as a number.
inline std::optional<double> number_of(const Parameter& parameter) {
  switch (parameter.kind()) {
    case Parameter::Kind::Bool:
      return parameter.as_bool() ? 1.0 : 0.0;
    case Parameter::Kind::Integer:
      return static_cast<double>(parameter.as_integer());
    case Parameter::Kind::Double:
      return parameter.as_double();
    default:
      return std::nullopt;
  }
}

// The `Count` angles of a list parameter, in order; nothing unless it holds exactly
// `Count` numbers.
template <std::size_t Count>
std::optional<std::array<double, Count>> list_angles(const Parameter& parameter) {
  if (parameter.kind() != Parameter::Kind::List) return std::nullopt;
  const ParamListView items = parameter.as_list();
  if (items.size() != Count) return std::nullopt;
  std::array<double, Count> angles{};
  for (std::size_t i = 0; i < Count; ++i) {
    const std::optional<double> angle = number_of(items[i]);
    if (!angle) return std::nullopt;
    angles[i] = *angle;
  }
  return angles;
}

// The angle of a one-angle gate: a number, or a list of one number.
inline std::optional<double> one_angle(const Parameter& parameter) {
  if (const std::optional<double> angle = number_of(parameter)) return angle;
  if (const auto angles = list_angles<1>(parameter)) return (*angles)[0];
  return std::nullopt;
}

}  // namespace corvane::detail
