// Builds a small circuit, writes it as OpenQASM 3.0, reads the text back and prints
// what came back. docs/cpp.md shows this program.
#include <corvane/backend/gatesequence/gatesequence.hpp>
#include <corvane/backend/qasm/qasm3.hpp>

#include <iostream>
#include <string>

int main() {
  using corvane::QuantumGate;

  // A Bell pair with a phase on the second qubit, measured into two bits.
  corvane::GateSequence circuit(2);
  circuit.add_gate(QuantumGate("h", {0}));
  circuit.add_gate(QuantumGate("cnot", {1}, /*controls=*/{0}, /*control_states=*/{1}));
  circuit.add_gate(QuantumGate("rz", {1}, {}, {}, /*param=*/0.5));
  QuantumGate measure("measure", {0, 1});
  measure.set_classical_target(corvane::IndexList{0, 1});
  circuit.add_gate(measure);

  try {
    const std::string text = corvane::qasm3::gate_sequence_to_qasm3(circuit);
    std::cout << text;

    const corvane::GateSequence back = corvane::qasm3::qasm3_to_gate_sequence(text);
    std::cout << "\nread back: " << back.num_qubits << " qubits\n";
    for (const QuantumGate& gate : back.data()) {
      std::cout << "  " << gate.id << " on";
      for (const std::int64_t qubit : gate.target)
        std::cout << ' ' << qubit;
      std::cout << '\n';
    }

    // The optional arguments by name; those not named keep their defaults.
    std::cout << '\n'
              << corvane::qasm3::gate_sequence_to_qasm3(
                     circuit,
                     {.creg_name = "m", .qregs = corvane::RegisterList{{"data", 1}, {"anc", 1}}});

    // Writing the sequence read back gives the same text again.
    return corvane::qasm3::gate_sequence_to_qasm3(back) == text ? 0 : 1;
  } catch (const corvane::qasm3::Error& e) {
    std::cerr << e.kind() << ": " << e.what() << '\n';
    return 1;
  }
}
