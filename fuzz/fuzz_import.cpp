// Imports arbitrary bytes as a program. The importer may reject its input with one of
// the converter's errors; anything else (a crash, a hang, a sanitizer report, another
// exception) is a finding. For every input it accepts, the result must be consistent,
// and a program that exports must read back to the same export.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "corvane/backend/qasm/qasm3.hpp"

namespace {

using corvane::GateSequence;
namespace qasm3 = corvane::qasm3;

void check(bool ok) {
  if (!ok) std::abort();
}

// Every top-level qubit index lies below the qubit count the importer settled on.
void check_indices(const GateSequence& gs) {
  for (const corvane::QuantumGate& g : gs.data()) {
    for (std::int64_t q : g.target)
      check(q >= 0 && q < gs.num_qubits);
    for (std::int64_t q : g.control)
      check(q >= 0 && q < gs.num_qubits);
  }
}

// Whether every record, nested ones included, has one control state per control. A
// call like "ctrl @ cx a, b, c" imports with fewer states than controls (one per
// modifier), and the export of such a record does not read back.
bool states_match_controls(const std::vector<corvane::QuantumGate>& gates,
                           std::unordered_set<const void*>& seen) {
  for (const corvane::QuantumGate& g : gates) {
    if (g.control_state.size() != g.control.size()) return false;
    const corvane::GateBlock& block = g.block_gate_sequence();
    if (block && seen.insert(block.get()).second && !states_match_controls(*block, seen)) {
      return false;
    }
  }
  return true;
}

// Whether a register name is declared twice. The import lays both out but resolves the
// name to the later one, so an export that writes the earlier one does not read back.
bool has_repeated_names(const std::optional<corvane::RegisterList>& registers) {
  if (!registers) return false;
  std::unordered_set<std::string_view> names;
  for (const corvane::RegisterDecl& reg : *registers) {
    if (!names.insert(reg.name).second) return true;
  }
  return false;
}

std::optional<std::string> export_with_layout(const GateSequence& gs) {
  try {
    return qasm3::gate_sequence_to_qasm3(gs, "q", "c", std::nullopt, gs.qasm_quantum_registers,
                                         gs.qasm_classical_registers);
  } catch (const qasm3::Error&) {
    return std::nullopt;  // not every importable program can be written back
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
  std::unordered_set<const void*> seen;
  if (!states_match_controls(imported->data(), seen)) return 0;
  if (has_repeated_names(imported->qasm_quantum_registers) ||
      has_repeated_names(imported->qasm_classical_registers)) {
    return 0;
  }
  const std::optional<std::string> first = export_with_layout(*imported);
  if (!first) return 0;
  const GateSequence again = qasm3::qasm3_to_gate_sequence(*first);  // must not throw
  const std::optional<std::string> second = export_with_layout(again);
  check(second.has_value() && *second == *first);
  return 0;
}
