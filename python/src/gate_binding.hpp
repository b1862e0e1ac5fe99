// The gate model as Python sees it: QuantumGate objects that wrap C++ records and convert
// attributes only when they are read or written, and the stored-matrix table gate_set.
#pragma once

#include <pybind11/pybind11.h>

#include <string_view>

#include "corvane/backend/gate/gatebase.hpp"

namespace corvane::pyhost {

namespace py = pybind11;

void bind_gate_model(py::module_& m);

// A new Python QuantumGate that takes over `gate`.
py::object gate_object(QuantumGate&& gate);
// The C++ record inside a Python QuantumGate; TypeError("<what> must be QuantumGate, ...")
// for anything else.
const QuantumGate& gate_record(py::handle value, std::string_view what);

}  // namespace corvane::pyhost
