#include "qasm/records/native_gates.hpp"

#include <cstdlib>
#include <string>
#include <utility>

#include "qasm/records/explicit_matrix.hpp"

namespace corvane::qasm3::detail {
namespace {

std::vector<std::string_view> modifier_words(std::span<const Modifier> modifiers) {
  std::vector<std::string_view> words;
  words.reserve(modifiers.size());
  for (Modifier m : modifiers)
    words.push_back(modifier_word(m));
  return words;
}

}  // namespace

void raise_identity_misnamed() {
  raise_value_error("OpenQASM 3.0 identity gate is 'id', not 'i'.");
}

std::string_view modifier_word(Modifier m) noexcept {
  return m == Modifier::Ctrl ? "ctrl" : "negctrl";
}

std::int64_t call_arity(std::string_view op, const NativeGate* native,
                        const std::optional<std::vector<double>>& params,
                        std::int64_t defined_args) {
  if (native != nullptr && native->arity >= 0) return native->arity;
  if (op == EXPLICIT_MATRIX_GATE) return unitary_target_count(params);
  if (defined_args >= 0) return defined_args;
  return 1;  // unknown names pass through as one-qubit operations
}

bool definition_reads_as_written(std::string_view name, std::int64_t arguments) {
  // An explicit matrix's arity comes from parameters, which a definition's calls lack.
  if (is_misnamed_identity(name) || name == EXPLICIT_MATRIX_GATE) return false;
  const NativeGate* native = native_gate(name);
  const std::int64_t arity = call_arity(name, native, std::nullopt, arguments);
  // Each further modifier adds one operand and one control alike, so none and one say all.
  for (const std::int64_t modifiers : {0, 1}) {
    const ControlSplit split = split_controls(native, arity, arguments + modifiers, modifiers);
    if (split.problem != ControlProblem::None || split.controls != modifiers) return false;
  }
  return true;
}

ControlSplit split_controls(const NativeGate* native, std::int64_t arity, std::int64_t operands,
                            std::int64_t modifiers) noexcept {
  if (native != nullptr && native->ctrl_then_targ) {
    // Modifiers add to the gate's own control.
    if (operands - 1 < 0) return {0, ControlProblem::NotEnoughOperands};
    return {operands - 1, ControlProblem::None};
  }
  if (native != nullptr && native->compact_targets >= 0) {
    const std::int64_t controls = operands - native->compact_targets;
    if (controls < 0) return {controls, ControlProblem::NotEnoughOperands};
    if (modifiers != 0) return {controls, ControlProblem::CompactWithModifiers};
    return {controls, ControlProblem::None};
  }
  if (arity == 0) {
    if (operands != modifiers) return {operands, ControlProblem::GphaseMismatch};
    return {operands, ControlProblem::None};
  }
  const std::int64_t controls = operands - arity;
  if (controls < 0) return {controls, ControlProblem::NotEnoughOperands};
  if (controls != modifiers) return {controls, ControlProblem::CountMismatch};
  return {controls, ControlProblem::None};
}

void raise_control_problem(const ControlSplit& split, std::string_view statement,
                           std::string_view op, std::span<const Modifier> modifiers,
                           const std::vector<std::string_view>& operands) {
  switch (split.problem) {
    case ControlProblem::NotEnoughOperands:
      raise_value_error("Not enough operands for " + std::string(op) + ": " + bracketed(operands));
    case ControlProblem::CompactWithModifiers:
      raise_value_error(std::string(op) +
                        " already encodes controls and cannot use ctrl modifiers");
    case ControlProblem::GphaseMismatch:
      raise_value_error("gphase controls mismatch: mods=" + bracketed(modifier_words(modifiers)) +
                        ", operands=" + bracketed(operands));
    case ControlProblem::CountMismatch: {
      std::string msg = "Control count mismatch for ";
      append_quoted(msg, statement);
      msg += ": ctrl_cnt=";
      append_int(msg, split.controls);
      msg += ", mods=" + bracketed(modifier_words(modifiers));
      raise_value_error(msg);
    }
    case ControlProblem::None:
      break;
  }
  std::abort();  // a split without a problem has no error to raise
}

IndexList control_states(const NativeGate* native, std::span<const Modifier> modifiers,
                         std::int64_t controls) {
  IndexList states;
  const bool own_controls =
      native != nullptr && (native->ctrl_then_targ || native->compact_targets >= 0);
  if (own_controls && modifiers.empty()) {
    states.reserve(static_cast<std::size_t>(controls));
    for (std::int64_t k = 0; k < controls; ++k)
      states.push_back(1);
    return states;
  }
  states.reserve(modifiers.size());
  for (Modifier m : modifiers)
    states.push_back(m == Modifier::Ctrl ? 1 : 0);
  return states;
}

Parameter call_parameter(std::string_view op, const std::optional<std::vector<double>>& params) {
  return call_parameter(native_gate(op), params);
}

Parameter call_parameter(const NativeGate* native,
                         const std::optional<std::vector<double>>& params) {
  if (!params) return Parameter{};
  std::size_t kept = params->size();
  // The global-phase angle has no place in the record ("cu" makes a "u").
  if (native != nullptr && native->trailing_phase &&
      kept == static_cast<std::size_t>(native->parameters))
    --kept;
  return Parameter::number_tuple(std::span<const double>(params->data(), kept));
}

}  // namespace corvane::qasm3::detail
