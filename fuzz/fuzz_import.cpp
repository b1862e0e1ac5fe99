// Imports arbitrary bytes as a program. The importer may reject its input with one of
// the converter's errors; anything else (a crash, a hang, a sanitizer report, another
// exception) is a finding. For every input it accepts, the result must be consistent,
// and a program that exports must read back to the same export.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "corvane/backend/qasm/qasm3.hpp"
#include "read_back.hpp"

namespace {

using corvane::GateSequence;
using corvane::fuzz::check;
namespace qasm3 = corvane::qasm3;

// Every top-level qubit index lies below the qubit count the importer settled on.
void check_indices(const GateSequence& gs) {
  for (const corvane::QuantumGate& g : gs.data()) {
    for (std::int64_t q : g.target)
      check(q >= 0 && q < gs.num_qubits);
    for (std::int64_t q : g.control)
      check(q >= 0 && q < gs.num_qubits);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<GateSequence> imported;
  try {
    imported = qasm3::qasm3_to_gate_sequence(text);
  } catch (const qasm3::Error&) {
    return 0;  // a clean rejection
  }
  check(imported->num_qubits >= 1);
  check(imported->qasm_quantum_registers.has_value());
  check(imported->qasm_classical_registers.has_value() == imported->qasm_measure_map.has_value());
  check_indices(*imported);
  // An export of an import is a fixed point of export after import.
  corvane::fuzz::check_fixed_point(*imported);
  return 0;
}
