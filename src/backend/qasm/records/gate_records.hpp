// The shapes of the records a reader adds: a gate call's, a definition call's block and a
// measurement's, built in place where the reader collects its records.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::qasm3::detail {

// Where finished records go: a vector for definition bodies, the result sequence itself
// at top level, so the records of a large program are never held twice.
struct GateOutput {
  std::vector<QuantumGate>* gates = nullptr;
  GateSequence* sequence = nullptr;

  // Constructs the next record in place and returns it for the attributes that the
  // constructor does not take.
  template <class... Args>
  QuantumGate& add(Args&&... args) const {
    if (sequence != nullptr) return sequence->emplace_gate(std::forward<Args>(args)...);
    return gates->emplace_back(std::forward<Args>(args)...);
  }
};

// The record of a call of `id` on `qubits`, whose first `controls` are the controls with
// `states`, the rest the targets.
inline QuantumGate& add_call_record(const GateOutput& out, std::string_view id,
                                    std::span<const std::int64_t> qubits, std::int64_t controls,
                                    const IndexList& states, Parameter parameter = {}) {
  const auto split = qubits.begin() + controls;
  return out.add(std::string(id), IndexList(split, qubits.end()), IndexList(qubits.begin(), split),
                 states, std::move(parameter));
}

// The record of a call of the definition `name`: a "block" whose children are the
// definition's records, shared by all its calls.
inline void add_block_record(const GateOutput& out, std::string_view name,
                             std::span<const std::int64_t> qubits, std::int64_t controls,
                             const IndexList& states, GateBlock children) {
  QuantumGate& gate = add_call_record(out, "block", qubits, controls, states);
  gate.set_block_gate_sequence(std::move(children));
  gate.set_name(std::string(name));
}

// The record of measuring `qubit` into `bit`.
inline void add_measurement_record(const GateOutput& out, std::int64_t qubit, std::int64_t bit) {
  QuantumGate& gate = out.add("measure", IndexList{qubit});
  gate.set_classical_target(IndexList{bit});
  gate.set_name("measure");
}

}  // namespace corvane::qasm3::detail
