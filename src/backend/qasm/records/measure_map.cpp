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
