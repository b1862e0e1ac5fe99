// The gates a reader knows by name, and how a call of a gate becomes the parts of its
// record: how many targets it takes, which operands are controls and in which state,
// its internal id and its parameter. Every rule takes plain data (names, counts,
// parameter values), so that each reader of program text applies the same ones.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "qasm/records/qasm3_vocabulary.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ the native gates
// What the vocabulary tables say about one gate name, gathered into one row.
struct NativeGate {
  std::string_view name;
  int arity = -1;                // fixed target count, -1 when the name has none
  bool ctrl_then_targ = false;   // operands are the control, then the target
  int compact_targets = -1;      // target count of ccx / cswap, -1 otherwise
  std::string_view internal_id;  // QASM3_TO_INT row, empty without one
  // The gate's standard definition, for the gates of a fixed arity:
  int parameters = 0;           // its parameter count, -1 when the call decides
  bool trailing_phase = false;  // its last parameter a global phase (TRAILING_PHASE_GATES)
  std::string_view base;        // the gate its own controls act on, empty without any
  int own_controls = 0;         // how many controls its name holds
  int qubits = -1;              // its operands: its own controls and its base's targets
};

namespace native_gate_rows {

inline constexpr std::size_t MOST_ROWS = SINGLE_QUBIT_OPS.size() + TWO_QUBIT_GATES.size() +
                                         COMPACT_CONTROL_TARGET_ARITY.size() + 1 +
                                         CTRL_THEN_TARG_GATES.size() + QASM3_TO_INT.size();

// The rows of every name the tables know, in the order the names first appear.
struct Collected {
  std::array<NativeGate, MOST_ROWS> rows{};
  std::size_t count = 0;

  constexpr NativeGate& row(std::string_view name) {
    for (std::size_t k = 0; k < count; ++k) {
      if (rows[k].name == name) return rows[k];
    }
    rows[count].name = name;
    return rows[count++];
  }
};

constexpr Collected collect() {
  Collected all;
  // Earlier tables decide the arity, as the arity rules are tried in this order.
  for (std::string_view name : SINGLE_QUBIT_OPS)
    all.row(name).arity = 1;
  for (std::string_view name : TWO_QUBIT_GATES) {
    if (all.row(name).arity < 0) all.row(name).arity = 2;
  }
  for (const auto& [name, targets] : COMPACT_CONTROL_TARGET_ARITY) {
    NativeGate& gate = all.row(name);
    if (gate.arity < 0) gate.arity = targets;
    gate.compact_targets = targets;
  }
  if (all.row("gphase").arity < 0) all.row("gphase").arity = 0;
  for (std::string_view name : CTRL_THEN_TARG_GATES)
    all.row(name).ctrl_then_targ = true;
  for (const auto& [name, id] : QASM3_TO_INT)
    all.row(name).internal_id = id;
  for (std::size_t k = 0; k < all.count; ++k)
    all.rows[k].qubits = all.rows[k].arity;
  for (const auto& [name, count] : PARAMETER_COUNTS)
    all.row(name).parameters = count;
  for (std::string_view name : TRAILING_PHASE_GATES)
    all.row(name).trailing_phase = true;
  for (const OwnControls& own : OWN_CONTROLS) {
    NativeGate& gate = all.row(own.name);
    gate.base = own.base;
    gate.own_controls = own.controls;
    gate.qubits = own.controls + all.row(own.base).arity;
  }
  return all;
}

inline constexpr std::size_t COUNT = collect().count;

}  // namespace native_gate_rows

// Every gate name the vocabulary tables know, sorted by name for a binary search: with
// about forty short names that beats hashing the name of every statement.
inline constexpr std::array<NativeGate, native_gate_rows::COUNT> NATIVE_GATES = [] {
  const native_gate_rows::Collected all = native_gate_rows::collect();
  std::array<NativeGate, native_gate_rows::COUNT> sorted{};
  std::copy_n(all.rows.begin(), sorted.size(), sorted.begin());
  std::sort(sorted.begin(), sorted.end(),
            [](const NativeGate& a, const NativeGate& b) { return a.name < b.name; });
  return sorted;
}();

// The row of `name`, or null for a name the tables do not know.
inline const NativeGate* native_gate(std::string_view name) noexcept {
  // Names are a few letters long: compared inline, not through a library call.
  const auto it = std::lower_bound(
      NATIVE_GATES.begin(), NATIVE_GATES.end(), name,
      [](const NativeGate& gate, std::string_view key) { return text_less(gate.name, key); });
  return it != NATIVE_GATES.end() && same_text(it->name, name) ? &*it : nullptr;
}

// The explicit matrix gate's row: no fixed arity, its parameters decided by the call.
inline constexpr NativeGate EXPLICIT_MATRIX_ROW{.name = EXPLICIT_MATRIX_GATE,
                                                .arity = -1,
                                                .ctrl_then_targ = false,
                                                .compact_targets = -1,
                                                .internal_id = {},
                                                .parameters = -1,
                                                .trailing_phase = false,
                                                .base = {},
                                                .own_controls = 0,
                                                .qubits = -1};

// The gates whose calls both readers take as the standard gate of that name, with its
// operands and parameters: the native gates of a fixed arity, and the explicit matrix
// gate. Null for any other name.
inline const NativeGate* standard_gate(std::string_view name) noexcept {
  if (const NativeGate* native = native_gate(name); native != nullptr && native->arity >= 0)
    return native;
  return same_text(name, EXPLICIT_MATRIX_GATE) ? &EXPLICIT_MATRIX_ROW : nullptr;
}

// The id of the record a call of `op` makes: its internal id, else the name itself.
inline std::string_view record_id(const NativeGate* native, std::string_view op) noexcept {
  return native != nullptr && !native->internal_id.empty() ? native->internal_id : op;
}

// ValueError for the identity called "i": OpenQASM 3.0 names it "id".
[[noreturn]] void raise_identity_misnamed();
inline bool is_misnamed_identity(std::string_view op) noexcept {
  return same_text(op, "i");
}
inline void check_gate_name(std::string_view op) {
  if (is_misnamed_identity(op)) raise_identity_misnamed();
}

// ------------------------------------------------------------------ targets and controls
// The modifiers written in front of a gate call, outermost first.
enum class Modifier : std::uint8_t { Ctrl, Negctrl };
std::string_view modifier_word(Modifier m) noexcept;

// The target count of a call of `op`: the native gate's own, a `unitary`'s from its
// matrix (ValueError when the values are no such matrix), a definition's argument count
// (`defined_args`, -1 when `op` names none); any other name is a one-qubit operation.
std::int64_t call_arity(std::string_view op, const NativeGate* native,
                        const std::optional<std::vector<double>>& params,
                        std::int64_t defined_args);

// Why the operands of a call do not split into controls and targets.
enum class ControlProblem : std::uint8_t {
  None,
  NotEnoughOperands,     // fewer operands than targets
  CompactWithModifiers,  // ccx / cswap hold their controls in their name
  GphaseMismatch,        // every operand of gphase is a modifier's control
  CountMismatch,         // one control per modifier, the rest targets
};
struct ControlSplit {
  std::int64_t controls = 0;  // the first `controls` operands; with CountMismatch, as counted
  ControlProblem problem = ControlProblem::None;
};

// Whether every call of a definition named `name` with `arguments` qubit arguments reads
// as written: its arguments the targets, one control per modifier. A name read natively
// keeps that gate's operand layout; `i` and `unitary` never read as a definition.
bool definition_reads_as_written(std::string_view name, std::int64_t arguments);

// How `operands` operands of a call with `arity` targets and `modifiers` modifiers
// split: the native gate's own controls come first, then one control per modifier.
ControlSplit split_controls(const NativeGate* native, std::int64_t arity, std::int64_t operands,
                            std::int64_t modifiers) noexcept;

// The ValueError of a split with a problem, for the call `statement` of `op` written
// with `modifiers` and `operands`.
[[noreturn]] void raise_control_problem(const ControlSplit& split, std::string_view statement,
                                        std::string_view op, std::span<const Modifier> modifiers,
                                        const std::vector<std::string_view>& operands);

// One state per control: without modifiers the native gate's own controls are all set
// (1); otherwise each modifier gives its own, ctrl 1 and negctrl 0.
IndexList control_states(const NativeGate* native, std::span<const Modifier> modifiers,
                         std::int64_t controls);

// ------------------------------------------------------------------ parameters
// The parameter of the record of a call of `op` with the values `params` (absent
// without "(...)"): absent, the one value, or the values as a tuple. The global-phase
// angle of a four-valued "cu" has no place in the "u" record and is dropped.
Parameter call_parameter(std::string_view op, const std::optional<std::vector<double>>& params);
// The same for a call of the gate `native` (null: not a native gate).
Parameter call_parameter(const NativeGate* native,
                         const std::optional<std::vector<double>>& params);

}  // namespace corvane::qasm3::detail
