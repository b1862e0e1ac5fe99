// Built against the installed package: the public headers and the library suffice.
#include <corvane/backend/gatesequence/gatesequence.hpp>
#include <corvane/backend/qasm/qasm3.hpp>

#include <iostream>

int main() {
  corvane::GateSequence gs(2);
  gs.add_gate(corvane::QuantumGate("h", {0}));
  gs.add_gate(corvane::QuantumGate("cnot", {1}, {0}, {1}));
  const std::string text = corvane::qasm3::gate_sequence_to_qasm3(gs);
  const corvane::GateSequence back = corvane::qasm3::qasm3_to_gate_sequence(text);
  std::cout << text;
  return back.data().size() == 2 ? 0 : 1;
}
