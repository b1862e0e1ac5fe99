#include "corvane/backend/gatesequence/gatesequence.hpp"

#include <stdexcept>

#include "common/buffers.hpp"

namespace corvane {

GateSequence::GateSequence(std::int64_t qubit_count) : num_qubits(qubit_count) {
  if (qubit_count < 0) throw std::invalid_argument("GateSequence qubit count must not be negative");
}

void GateSequence::reserve(std::size_t n) {
  qasm3::detail::reserve_for_filling(gates_, n);
}

}  // namespace corvane
