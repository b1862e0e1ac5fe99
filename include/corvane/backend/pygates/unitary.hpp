// gate_set: the stored matrices of the standard gates.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"

namespace corvane {

// An entry of the stored-matrix table: a fixed matrix, or a function of the gate's
// parameter (one angle, or three for "u") that returns its matrix.
struct GateMatrixEntry {
  std::optional<Matrix> fixed;
  std::function<Matrix(const Parameter&)> of_parameter;

  [[nodiscard]] bool is_function() const noexcept { return static_cast<bool>(of_parameter); }
};

// The table, keyed by lower-case internal gate id. Built once, never modified.
class GateSet {
 public:
  // The entry of `gate_id`, or null when the table has none.
  [[nodiscard]] const GateMatrixEntry* get(std::string_view gate_id) const;
  [[nodiscard]] std::size_t size() const noexcept;
  // The ids that have an entry, in the table's order.
  [[nodiscard]] std::vector<std::string_view> ids() const;
};

const GateSet& gate_set();

}  // namespace corvane
