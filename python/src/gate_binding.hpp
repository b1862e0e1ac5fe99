// The gate model as Python sees it: QuantumGate objects that hold C++ records and convert
// attributes only when they are read or written, and the stored-matrix table gate_set.
//
// A QuantumGate made in Python owns its record. The records of an imported program stay
// in the one GateSequence the importer built, and each Python object refers to its own
// record there; so importing allocates no second copy, and exporting that sequence
// unchanged lends it to the exporter as it is.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::pyhost {

namespace py = pybind11;

void bind_gate_model(py::module_& m);

// Python QuantumGate objects for the records of `seq`, in order, sharing its storage.
py::list gate_objects(GateSequence&& seq);

struct SharedSequence;

// The records of a Python list of QuantumGate objects as a GateSequence for the exporter.
// Made with the GIL held; sequence() may be read without it; must be destroyed with it.
class ExportedGates {
 public:
  ExportedGates(py::handle gates, std::int64_t num_qubits);
  ExportedGates(const ExportedGates&) = delete;
  ExportedGates& operator=(const ExportedGates&) = delete;
  ~ExportedGates();

  [[nodiscard]] const GateSequence& sequence() const;
  // Frees a copy early, for example while the GIL is released.
  void drop_copy() { copy_.reset(); }
  // Gives the sequence these free inputs, copying a lent sequence only when its own differ.
  void set_inputs(std::vector<InputDecl> inputs);

 private:
  std::shared_ptr<SharedSequence> lent_;
  std::optional<GateSequence> copy_;
};

}  // namespace corvane::pyhost
