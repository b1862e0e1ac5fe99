// GateSequence: an ordered list of gate records over a fixed number of qubits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"

namespace corvane {

// A register declaration: a name and the number of qubits or bits it holds.
struct RegisterDecl {
  std::string name;
  std::int64_t size = 0;
  friend bool operator==(const RegisterDecl&, const RegisterDecl&) = default;
};
using RegisterList = std::vector<RegisterDecl>;

// An input of the program that its gate parameters name without a value: its name and
// its type as a program declares it ("float[64]", "angle[32]", "angle").
struct InputDecl {
  std::string name;
  std::string type;
  friend bool operator==(const InputDecl&, const InputDecl&) = default;
};

// One measurement's (qubit index, bit index) pair.
using MeasurePair = std::pair<std::int64_t, std::int64_t>;

class GateSequence {
 public:
  // A sequence over `qubit_count` qubits (not negative), with no gates.
  explicit GateSequence(std::int64_t qubit_count);

  void add_gate(QuantumGate gate) { gates_.push_back(std::move(gate)); }
  // Constructs a record in place at the end, from QuantumGate's constructor arguments.
  template <class... Args>
  QuantumGate& emplace_gate(Args&&... args) {
    return gates_.emplace_back(std::forward<Args>(args)...);
  }
  // Room for `n` records; a large reservation is backed by huge pages where the system
  // has them, so that filling it costs few page faults.
  void reserve(std::size_t n);
  // The records in circuit order; the same list on every call.
  [[nodiscard]] const std::vector<QuantumGate>& data() const noexcept { return gates_; }
  // The record at `index` (below data().size()), for a reader that completes records
  // after adding them: what they call, or indices that a later declaration moves.
  [[nodiscard]] QuantumGate& gate_at(std::size_t index) noexcept { return gates_[index]; }

  // Declared qubit count.
  std::int64_t num_qubits = 0;

  // The layout a program declared, set by the importer (absent when it did not set them).
  std::optional<RegisterList> qasm_quantum_registers;
  std::optional<RegisterList> qasm_classical_registers;
  std::optional<std::vector<MeasurePair>> qasm_measure_map;
  // The free inputs that text parameters of the records name, set by lowering; empty
  // when there are none.
  std::vector<InputDecl> qasm_inputs;

 private:
  std::vector<QuantumGate> gates_;
};

}  // namespace corvane
