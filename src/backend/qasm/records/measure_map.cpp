#include "qasm/records/measure_map.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {

void count_measurement_records(std::int64_t& counted, std::int64_t count) {
  if (count > MAX_MEASUREMENT_RECORDS - counted) {
    std::string msg = "Whole-register measurements would create more than ";
    append_int(msg, MAX_MEASUREMENT_RECORDS);
    msg += " gate records";
    raise_value_error(msg);
  }
  counted += count;
}

// Walks the bodies with a stack of its own: they may nest as deep as memory allows.
std::vector<MeasurePair> measure_map_of(const std::vector<QuantumGate>& gates) {
  struct Place {
    const std::vector<QuantumGate>* list;
    std::size_t next;
  };
  std::vector<MeasurePair> pairs;
  std::vector<Place> stack{{&gates, 0}};
  while (!stack.empty()) {
    Place& place = stack.back();
    if (place.next == place.list->size()) {
      stack.pop_back();
      continue;
    }
    const QuantumGate& g = (*place.list)[place.next++];
    if (g.id == "measure" && g.classical_target()) {
      const IndexList& bits = *g.classical_target();
      for (std::size_t k = 0; k < std::min(g.target.size(), bits.size()); ++k)
        pairs.emplace_back(g.target[k], bits[k]);
    }
    if (!g.condition()) continue;
    // Pushed last, visited first.
    if (const GateBlock& otherwise = g.else_gate_sequence()) stack.push_back({otherwise.get(), 0});
    if (const GateBlock& body = g.block_gate_sequence()) stack.push_back({body.get(), 0});
  }
  return pairs;
}

void set_read_layout(GateSequence& gs, ReadLayout layout) {
  gs.num_qubits = std::max(layout.declared_qubits, layout.highest_qubit + 1);
  if (layout.bit_registers.empty() && layout.highest_bit >= 0) {
    layout.bit_registers = {
        RegisterDecl{std::string(IMPLICIT_BIT_REGISTER), layout.highest_bit + 1}};
  }
  gs.qasm_quantum_registers = std::move(layout.qubit_registers);
  if (!layout.bit_registers.empty() || !layout.measure_map.empty()) {
    gs.qasm_classical_registers = std::move(layout.bit_registers);
    gs.qasm_measure_map = std::move(layout.measure_map);
  }
}

}  // namespace corvane::qasm3::detail
