// Whether two readings of a program made the same gate sequence, record for record: every
// attribute of every record (conditions too), nested blocks and else-blocks by content and
// by how they are shared (calls of one definition hold one block), the qubit count, the
// register layouts and the measure map. Used where lowering's own records are compared
// with the importer's reading of the lowered text.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::fuzz {

class RecordComparison {
 public:
  // Empty when `a` and `b` are the same; else where they first differ and in what.
  std::string first_difference(const GateSequence& a, const GateSequence& b) {
    if (a.num_qubits != b.num_qubits) return "the qubit count";
    if (a.qasm_quantum_registers != b.qasm_quantum_registers) return "the quantum registers";
    if (a.qasm_classical_registers != b.qasm_classical_registers) return "the classical registers";
    if (a.qasm_measure_map != b.qasm_measure_map) return "the measure map";
    if (a.qasm_inputs != b.qasm_inputs) return "the free inputs";
    return gates_difference(a.data(), b.data(), "");
  }

 private:
  static std::string attribute_difference(const QuantumGate& a, const QuantumGate& b) {
    if (a.id != b.id) return "id " + a.id + " vs " + b.id;
    if (a.target != b.target) return "targets";
    if (a.control != b.control) return "controls";
    if (a.control_state != b.control_state) return "control states";
    if (a.parameter != b.parameter) return "parameter";
    if (a.classical_target() != b.classical_target()) return "classical targets";
    if (a.name() != b.name()) return "name";
    if (a.matrix() != b.matrix()) return "matrix";
    if (a.stored_matrix() != b.stored_matrix()) return "stored matrix";
    if (!a.block_gate_sequence() != !b.block_gate_sequence()) return "block present";
    if (a.condition() != b.condition()) return "condition";
    if (!a.else_gate_sequence() != !b.else_gate_sequence()) return "else-block present";
    return {};
  }

  std::string gates_difference(const std::vector<QuantumGate>& a, const std::vector<QuantumGate>& b,
                               const std::string& where) {
    if (a.size() != b.size()) {
      return where + "record count " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
      const std::string here = where + "record " + std::to_string(k) + ": ";
      std::string difference = attribute_difference(a[k], b[k]);
      if (difference.empty()) {
        difference = body_difference(a[k].block_gate_sequence(), b[k].block_gate_sequence(),
                                     here + "block ");
      }
      if (difference.empty()) {
        difference =
            body_difference(a[k].else_gate_sequence(), b[k].else_gate_sequence(), here + "else ");
      }
      if (!difference.empty()) return difference.starts_with(here) ? difference : here + difference;
    }
    return {};
  }

  // Bodies (blocks and else-blocks) are compared once per pair; a body of `a` met again
  // must meet the same body of `b` again, and the other way round.
  std::string body_difference(const GateBlock& x, const GateBlock& y, const std::string& where) {
    if (!x) return {};
    const auto [a_seen, a_new] = partner_in_b_.try_emplace(x.get(), y.get());
    const auto [b_seen, b_new] = partner_in_a_.try_emplace(y.get(), x.get());
    if (a_seen->second != y.get() || b_seen->second != x.get()) return where + "sharing";
    if (!a_new) return {};
    return gates_difference(*x, *y, where);
  }

  std::map<const void*, const void*> partner_in_b_;
  std::map<const void*, const void*> partner_in_a_;
};

inline std::string first_record_difference(const GateSequence& a, const GateSequence& b) {
  return RecordComparison().first_difference(a, b);
}

}  // namespace corvane::fuzz
