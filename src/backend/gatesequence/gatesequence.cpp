#include "corvane/backend/gatesequence/gatesequence.hpp"

#include <stdexcept>

namespace corvane {

GateSequence::GateSequence(std::int64_t qubit_count) : num_qubits(qubit_count) {
  if (qubit_count < 0) throw std::invalid_argument("GateSequence qubit count must not be negative");
}

}  // namespace corvane
