// Binding the free parameters that lowering leaves in a sequence: every text entry of a
// parameter list evaluated, with values for the inputs it names, to the number lowering
// with those values would have given.
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/depth_guard.hpp"
#include "corvane/backend/qasm/qasm3.hpp"
#include "qasm/lower/expand.hpp"
#include "qasm/records/free_inputs.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3 {

namespace {

using detail::lower::InputValues;
using detail::lower::ParameterValues;

std::string declarations_of(const GateSequence& gs) {
  std::string text = "OPENQASM 3.0;\n";
  for (const InputDecl& input : gs.qasm_inputs)
    detail::append_input_declaration(text, input);
  return text;
}

bool has_text(const ParamListView& items) {
  return std::any_of(items.begin(), items.end(), [](const ParamScalar& item) {
    return std::holds_alternative<std::string>(item);
  });
}

class Binder {
 public:
  Binder(const GateSequence& gs, const InputValues& values)
      : numbers_(declarations_of(gs), values) {}

  std::vector<QuantumGate> records(const std::vector<QuantumGate>& gates) {
    const detail::DepthGuard guard(depth_);
    std::vector<QuantumGate> bound;
    bound.reserve(gates.size());
    for (const QuantumGate& gate : gates)
      bound.push_back(record(gate));
    return bound;
  }

 private:
  QuantumGate record(const QuantumGate& gate) {
    QuantumGate bound = gate;
    bound.parameter = parameter(gate.parameter);
    if (gate.block_gate_sequence())
      bound.set_block_gate_sequence(block(gate.block_gate_sequence()));
    if (gate.else_gate_sequence()) bound.set_else_gate_sequence(block(gate.else_gate_sequence()));
    return bound;
  }

  // A block shared by several records stays shared.
  GateBlock block(const GateBlock& gates) {
    const auto known = blocks_.find(gates.get());
    if (known != blocks_.end()) return known->second;
    GateBlock bound = make_block(records(*gates));
    blocks_.emplace(gates.get(), bound);
    return bound;
  }

  Parameter parameter(const Parameter& given) {
    if (given.kind() != Parameter::Kind::List) return given;
    const ParamListView items = given.as_list();
    if (!has_text(items)) return given;
    std::vector<ParamScalar> bound;
    bound.reserve(items.size());
    for (const ParamScalar& item : items) {
      const auto* text = std::get_if<std::string>(&item);
      if (text == nullptr) {
        bound.push_back(item);
      } else {
        bound.emplace_back(std::in_place_type<double>, number(*text));
      }
    }
    return Parameter::list(std::move(bound), items.is_tuple());
  }

  double number(const std::string& text) {
    const auto known = known_.find(text);
    if (known != known_.end()) return known->second;
    double value = 0.0;
    try {
      value = numbers_(text);
    } catch (const Error& error) {
      detail::raise_like(error, "Parameter " + quoted(text) + ": " + error.what());
    }
    known_.emplace(text, value);
    return value;
  }

  ParameterValues numbers_;
  std::unordered_map<std::string, double> known_;
  std::unordered_map<const void*, GateBlock> blocks_;
  int depth_ = 0;
};

}  // namespace

std::vector<std::string> free_parameters(const GateSequence& gs) {
  std::vector<std::string> names;
  for (const InputDecl& input : gs.qasm_inputs)
    names.push_back(input.name);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

GateSequence bind_parameters(const GateSequence& gs, const InputValues& values) {
  for (const auto& entry : values) {
    const std::string& name = entry.first;
    const bool free = std::any_of(gs.qasm_inputs.begin(), gs.qasm_inputs.end(),
                                  [&](const InputDecl& input) { return input.name == name; });
    if (!free) detail::raise_value_error("'" + name + "' is not a free parameter of the sequence");
  }
  for (const InputDecl& input : gs.qasm_inputs) {
    if (!values.contains(input.name)) {
      detail::raise_value_error("No value given for input '" + input.name + "'");
    }
  }
  Binder binder(gs, values);
  GateSequence bound(gs.num_qubits);
  for (QuantumGate& gate : binder.records(gs.data()))
    bound.add_gate(std::move(gate));
  bound.qasm_quantum_registers = gs.qasm_quantum_registers;
  bound.qasm_classical_registers = gs.qasm_classical_registers;
  bound.qasm_measure_map = gs.qasm_measure_map;
  return bound;
}

}  // namespace corvane::qasm3
