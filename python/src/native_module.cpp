// corvane._native: the converter's two operations over Python values. Python values are
// checked and turned into C++ values with the GIL held; the conversion itself runs with
// the GIL released, so Python threads convert in parallel.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <chrono>
#include <complex>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "corvane/backend/gatesequence/circuit_unitary.hpp"
#include "corvane/backend/qasm/qasm3.hpp"
#include "errors.hpp"
#include "gate_binding.hpp"
#include "host_values.hpp"

namespace corvane::pyhost {

namespace {

// The gate sequence as the exporter reads it: data() and _num_qubits, nothing else.
// `what` names the argument in the message for anything else.
ExportedGates gates_arg(py::handle gs, std::string_view what) {
  if (!py::hasattr(gs, "data") || !py::hasattr(gs, "_num_qubits")) {
    raise_wrong_kind(what, "a GateSequence", gs);
  }
  py::object gates = gs.attr("data")();
  if (!is_list_or_tuple(gates)) raise_wrong_kind("GateSequence.data()", "a list", gates);
  return {gates, integer_arg(gs.attr("_num_qubits"), "GateSequence._num_qubits")};
}

// The free inputs of a sequence, GateSequence._qasm_inputs: None, or a list or tuple of
// (name, type) pairs of str.
std::vector<InputDecl> inputs_arg(py::handle inputs) {
  constexpr std::string_view WHAT = "GateSequence._qasm_inputs";
  std::vector<InputDecl> declared;
  if (inputs.is_none()) return declared;
  if (!is_list_or_tuple(inputs)) raise_wrong_kind(WHAT, "a list", inputs);
  for (const py::handle pair : inputs) {
    if (!is_list_or_tuple(pair) || py::len(pair) != 2) {
      raise_wrong_kind(std::string(WHAT) + " entries", "a (name, type) pair", pair);
    }
    declared.push_back(InputDecl{std::string(text_arg(pair[py::int_(0)], std::string(WHAT))),
                                 std::string(text_arg(pair[py::int_(1)], std::string(WHAT)))});
  }
  return declared;
}

py::str export_program(py::handle gs, py::handle qreg_name, py::handle creg_name,
                       py::handle num_clbits, py::handle qregs, py::handle cregs,
                       py::handle full_language) {
  constexpr std::string_view CALL = "gate_sequence_to_qasm3() argument ";
  qasm3::ExportOptions options;
  options.qreg_name = text_arg(qreg_name, std::string(CALL) + "'qreg_name'");
  options.creg_name = text_arg(creg_name, std::string(CALL) + "'creg_name'");
  options.num_clbits = optional_integer_arg(num_clbits, std::string(CALL) + "'num_clbits'");
  options.qregs = register_list_arg(qregs, std::string(CALL) + "'qregs'");
  options.cregs = register_list_arg(cregs, std::string(CALL) + "'cregs'");
  if (PyBool_Check(full_language.ptr()) == 0) {
    raise_wrong_kind(std::string(CALL) + "'full_language'", "a bool", full_language);
  }
  options.full_language = full_language.ptr() == Py_True;
  ExportedGates gates = gates_arg(gs, std::string(CALL) + "'gs'");
  // Only the full language declares free inputs.
  if (options.full_language)
    gates.set_inputs(inputs_arg(py::getattr(gs, "_qasm_inputs", py::none())));

  std::string text;
  {
    py::gil_scoped_release released;
    text = qasm3::gate_sequence_to_qasm3(gates.sequence(), options);
    gates.drop_copy();  // freed without holding up other threads
  }
  return py::str(text);
}

// The array takes over the matrix's storage: for 8 qubits and more, a copy costs as much
// as computing the unitary, most of it in page faults.
py::array_t<std::complex<double>> unitary_of(py::handle gs) {
  ExportedGates gates = gates_arg(gs, "circuit_unitary() argument 'gs'");
  auto unitary = std::make_unique<Matrix>();
  {
    py::gil_scoped_release released;
    *unitary = circuit_unitary(gates.sequence());
    gates.drop_copy();
  }
  const std::array<std::size_t, 2> shape{unitary->rows, unitary->cols};
  std::complex<double>* entries = unitary->data.data();
  py::capsule owner(unitary.get(), [](void* m) { delete static_cast<Matrix*>(m); });
  unitary.release();  // NOLINT(bugprone-unused-return-value): the capsule owns it now
  return py::array_t<std::complex<double>>(shape, entries, owner);
}

template <class T, class Convert>
py::object optional_object(const std::optional<T>& value, Convert convert) {
  if (!value) return py::none();
  return convert(*value);
}

// The free inputs as (name, type) tuples; None when there are none.
py::object inputs_object(const std::vector<InputDecl>& inputs) {
  if (inputs.empty()) return py::none();
  py::list out(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i)
    out[i] = py::make_tuple(py::str(inputs[i].name), py::str(inputs[i].type));
  return out;
}

// (num_qubits, gates, quantum registers, classical registers, measure map, free inputs);
// the last four are None where the reader left them unset.
py::tuple sequence_tuple(GateSequence&& seq) {
  py::tuple result = py::make_tuple(
      seq.num_qubits, py::none(), optional_object(seq.qasm_quantum_registers, register_list_object),
      optional_object(seq.qasm_classical_registers, register_list_object),
      optional_object(seq.qasm_measure_map, measure_map_object), inputs_object(seq.qasm_inputs));
  PyTuple_SetItem(result.ptr(), 1, gate_objects(std::move(seq)).release().ptr());
  return result;
}

py::tuple import_program(py::handle code) {
  std::string_view text = text_arg(code, "qasm3_to_gate_sequence() argument 'code'");
  std::optional<GateSequence> seq;
  {
    py::gil_scoped_release released;
    seq.emplace(qasm3::qasm3_to_gate_sequence(text));
  }
  return sequence_tuple(std::move(*seq));
}

// One input's value for `call`: a real number (int or float, as Python's float() takes
// them), or a str holding a constant expression that lowering reads.
qasm3::InputValue input_value_arg(const std::string& call, py::handle value) {
  if (PyUnicode_Check(value.ptr()) != 0) {
    return qasm3::InputValue::expression(std::string(text_arg(value, call + " input values")));
  }
  if (PyFloat_Check(value.ptr()) == 0 && PyLong_Check(value.ptr()) == 0) {
    raise_wrong_kind(call + " input values", "a real number or a str", value);
  }
  const double number = PyFloat_AsDouble(value.ptr());
  if (number == -1.0 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  return number;
}

// The options of a lowering function named `function` (its name starts the messages about
// arguments of the wrong kind): the values of the program's `input` declarations (None, or
// a dict from names, str, to values as above), the program's own path (a str, or None) and
// the folders of the search path (a list or tuple of str, or None).
qasm3::LowerOptions lower_options_arg(std::string_view function, py::handle inputs,
                                      py::handle include_paths, py::handle source_path) {
  const std::string call(function);
  qasm3::LowerOptions options;
  if (!inputs.is_none()) {
    if (!PyDict_Check(inputs.ptr()))
      raise_wrong_kind(call + " argument 'inputs'", "a dict", inputs);
    for (const auto& [name, value] : py::reinterpret_borrow<py::dict>(inputs)) {
      const std::string_view text = text_arg(name, call + " input names");
      options.inputs.insert_or_assign(std::string(text), input_value_arg(call, value));
    }
  }
  if (!source_path.is_none()) {
    options.source_path = text_arg(source_path, call + " argument 'source_path'");
  }
  if (include_paths.is_none()) return options;
  if (!is_list_or_tuple(include_paths)) {
    raise_wrong_kind(call + " argument 'include_paths'", "a list", include_paths);
  }
  for (const py::handle folder : include_paths) {
    options.include_paths.emplace_back(text_arg(folder, call + " include paths"));
  }
  return options;
}

py::str lower_program(py::handle code, py::handle inputs, py::handle include_paths,
                      py::handle source_path) {
  const std::string_view text = text_arg(code, "lower_qasm3() argument 'text'");
  const qasm3::LowerOptions options =
      lower_options_arg("lower_qasm3()", inputs, include_paths, source_path);
  std::string lowered;
  {
    py::gil_scoped_release released;
    lowered = qasm3::lower_qasm3(text, options);
  }
  return py::str(lowered);
}

// What import_program returns, for the program lowered.
py::tuple lower_program_to_sequence(py::handle code, py::handle inputs, py::handle include_paths,
                                    py::handle source_path) {
  const std::string_view text = text_arg(code, "lower_to_gate_sequence() argument 'text'");
  const qasm3::LowerOptions options =
      lower_options_arg("lower_to_gate_sequence()", inputs, include_paths, source_path);
  std::optional<GateSequence> seq;
  {
    py::gil_scoped_release released;
    seq.emplace(qasm3::lower_to_gate_sequence(text, options));
  }
  return sequence_tuple(std::move(*seq));
}

// (num_qubits, gates) of the sequence with its free parameters bound.
py::tuple bind_sequence_parameters(py::handle gs, py::handle inputs) {
  const qasm3::LowerOptions options =
      lower_options_arg("bind_parameters()", inputs, py::none(), py::none());
  std::vector<InputDecl> declared = inputs_arg(py::getattr(gs, "_qasm_inputs", py::none()));
  ExportedGates gates = gates_arg(gs, "bind_parameters() argument 'gs'");
  std::optional<GateSequence> bound;
  {
    py::gil_scoped_release released;
    GateSequence free = gates.sequence();
    gates.drop_copy();
    free.qasm_inputs = std::move(declared);
    bound.emplace(qasm3::bind_parameters(free, options.inputs));
  }
  const std::int64_t num_qubits = bound->num_qubits;
  return py::make_tuple(num_qubits, gate_objects(std::move(*bound)));
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The C++ import and export of `code` alone, without any Python values: the baseline that
// the module's overhead is measured against.
py::dict time_cxx_round_trip(py::handle code) {
  std::string_view text = text_arg(code, "code");
  double import_seconds = 0;
  double export_seconds = 0;
  std::size_t gates = 0;
  {
    py::gil_scoped_release released;
    auto start = std::chrono::steady_clock::now();
    GateSequence seq = qasm3::qasm3_to_gate_sequence(text);
    import_seconds = seconds_since(start);
    gates = seq.data().size();
    start = std::chrono::steady_clock::now();
    std::string out = qasm3::gate_sequence_to_qasm3(
        seq, "q", "c", std::nullopt, seq.qasm_quantum_registers, seq.qasm_classical_registers);
    export_seconds = seconds_since(start);
  }
  py::dict result;
  result["import"] = import_seconds;
  result["export"] = export_seconds;
  result["gates"] = gates;
  return result;
}

}  // namespace

}  // namespace corvane::pyhost

PYBIND11_MODULE(_native, m) {
  namespace py = pybind11;
  using namespace corvane::pyhost;
  m.doc() = "Native core of the corvane package: the gate model and the OpenQASM 3.0 converter.";
  m.attr("__version__") = CORVANE_QASM3_VERSION;
  py::register_exception_translator(&translate_converter_errors);
  bind_gate_model(m);
  m.def("gate_sequence_to_qasm3", &export_program, py::arg("gs"), py::arg("qreg_name"),
        py::arg("creg_name"), py::arg("num_clbits"), py::arg("qregs"), py::arg("cregs"),
        py::arg("full_language"));
  m.def("qasm3_to_gate_sequence", &import_program, py::arg("code"));
  m.def("lower_qasm3", &lower_program, py::arg("text"), py::arg("inputs"), py::arg("include_paths"),
        py::arg("source_path"));
  m.def("lower_to_gate_sequence", &lower_program_to_sequence, py::arg("text"), py::arg("inputs"),
        py::arg("include_paths"), py::arg("source_path"));
  m.def("bind_parameters", &bind_sequence_parameters, py::arg("gs"), py::arg("inputs"));
  m.def("circuit_unitary", &unitary_of, py::arg("gs"));
  m.def("_time_cxx_round_trip", &time_cxx_round_trip, py::arg("code"));
}
