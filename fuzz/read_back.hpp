// What the fuzz targets know about reading an export back: the gaps where an exported
// program does not import as it was written, and the fixed point that export after
// import reaches everywhere else.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "corvane/backend/qasm/qasm3.hpp"

namespace corvane::fuzz {

inline void check(bool ok) {
  if (!ok) std::abort();
}

// Whether every record, nested ones included, has one control state per control. A
// call like "ctrl @ cx a, b, c" imports with fewer states than controls (one per
// modifier), and the export of such a record does not read back.
inline bool states_match_controls(const std::vector<QuantumGate>& gates,
                                  std::unordered_set<const void*>& seen) {
  for (const QuantumGate& g : gates) {
    if (g.control_state.size() != g.control.size()) return false;
    const GateBlock& block = g.block_gate_sequence();
    if (block && seen.insert(block.get()).second && !states_match_controls(*block, seen)) {
      return false;
    }
  }
  return true;
}

inline bool states_match_controls(const GateSequence& gs) {
  std::unordered_set<const void*> seen;
  return states_match_controls(gs.data(), seen);
}

// Whether a register name is declared twice. The import lays both out but resolves the
// name to the later one, so an export that writes the earlier one does not read back.
inline bool has_repeated_names(const std::optional<RegisterList>& registers) {
  if (!registers) return false;
  std::unordered_set<std::string_view> names;
  for (const RegisterDecl& reg : *registers) {
    if (!names.insert(reg.name).second) return true;
  }
  return false;
}

// The export of an imported sequence with the layout it was imported with, as the
// tool's convert writes it; nothing when the converter refuses it.
inline std::optional<std::string> export_with_layout(const GateSequence& gs) {
  try {
    return qasm3::gate_sequence_to_qasm3(
        gs, {.qregs = gs.qasm_quantum_registers, .cregs = gs.qasm_classical_registers});
  } catch (const qasm3::Error&) {
    return std::nullopt;  // not every importable program can be written back
  }
}

// For an imported sequence: unless it stands on one of the gaps above, its export reads
// back, and exporting that import writes the same text again.
inline void check_fixed_point(const GateSequence& imported) {
  if (!states_match_controls(imported) || has_repeated_names(imported.qasm_quantum_registers) ||
      has_repeated_names(imported.qasm_classical_registers)) {
    return;
  }
  const std::optional<std::string> first = export_with_layout(imported);
  if (!first) return;
  const GateSequence again = qasm3::qasm3_to_gate_sequence(*first);  // must not throw
  const std::optional<std::string> second = export_with_layout(again);
  check(second.has_value() && *second == *first);
}

}  // namespace corvane::fuzz
