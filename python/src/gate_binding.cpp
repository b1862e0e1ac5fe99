#include "gate_binding.hpp"

#include <array>
#include <string>

#include "corvane/backend/pygates/unitary.hpp"
#include "host_values.hpp"

namespace corvane::pyhost {

namespace {

// The Python type of QuantumGate, kept once it is registered so that type checks on
// every record of a sequence are a pointer comparison.
PyTypeObject* gate_type = nullptr;

using Getter = py::object (*)(const QuantumGate&);
using Setter = void (*)(QuantumGate&, py::handle);

// One attribute of QuantumGate: how to read it and how to write it (keyword argument of
// the constructor or attribute assignment). A null setter makes it read-only.
struct Attribute {
  const char* name;
  Getter get;
  Setter set;
};

std::optional<IndexList> optional_index_list(py::handle value, std::string_view what) {
  if (value.is_none()) return std::nullopt;
  return index_list_arg(value, what);
}

py::object optional_index_tuple(const std::optional<IndexList>& indices) {
  if (!indices) return py::none();
  return index_tuple(*indices);
}

GateBlock block_arg(py::handle value) {
  if (value.is_none()) return nullptr;
  std::vector<QuantumGate> gates;
  if (is_list_or_tuple(value)) gates.reserve(static_cast<std::size_t>(py::len(value)));
  PyObject* iterator = PyObject_GetIter(value.ptr());
  if (iterator == nullptr) {
    PyErr_Clear();
    raise_wrong_kind("QuantumGate block_gate_sequence", "a sequence of QuantumGate", value);
  }
  for (py::handle item : py::reinterpret_steal<py::iterator>(iterator)) {
    gates.push_back(gate_record(item, "QuantumGate block_gate_sequence entries"));
  }
  return make_block(std::move(gates));
}

// Nested records come back as copies: a block is shared between records and immutable.
py::object block_object(const GateBlock& block) {
  if (!block) return py::none();
  py::tuple out(block->size());
  for (std::size_t i = 0; i < block->size(); ++i)
    out[i] = gate_object(QuantumGate((*block)[i]));
  return out;
}

py::object optional_text_object(const std::optional<std::string>& text) {
  if (!text) return py::none();
  return py::str(*text);
}

const std::array<Attribute, 11> kAttributes{{
    {"id", [](const QuantumGate& g) -> py::object { return py::str(g.id); },
     [](QuantumGate& g, py::handle v) { g.id = text_arg(v, "QuantumGate id"); }},
    {"target", [](const QuantumGate& g) -> py::object { return index_tuple(g.target); },
     [](QuantumGate& g, py::handle v) { g.target = index_list_arg(v, "QuantumGate target"); }},
    {"control", [](const QuantumGate& g) -> py::object { return index_tuple(g.control); },
     [](QuantumGate& g, py::handle v) { g.control = index_list_arg(v, "QuantumGate control"); }},
    {"control_state",
     [](const QuantumGate& g) -> py::object { return index_tuple(g.control_state); },
     [](QuantumGate& g, py::handle v) {
       g.control_state = index_list_arg(v, "QuantumGate control_state");
     }},
    {"parameter", [](const QuantumGate& g) { return parameter_object(g.parameter); },
     [](QuantumGate& g, py::handle v) { g.parameter = parameter_arg(v); }},
    {"classical_target",
     [](const QuantumGate& g) { return optional_index_tuple(g.classical_target()); },
     [](QuantumGate& g, py::handle v) {
       g.set_classical_target(optional_index_list(v, "QuantumGate classical_target"));
     }},
    {"block_gate_sequence",
     [](const QuantumGate& g) { return block_object(g.block_gate_sequence()); },
     [](QuantumGate& g, py::handle v) { g.set_block_gate_sequence(block_arg(v)); }},
    {"name", [](const QuantumGate& g) { return optional_text_object(g.name()); },
     [](QuantumGate& g, py::handle v) {
       if (v.is_none()) {
         g.set_name(std::nullopt);
       } else {
         g.set_name(std::string(text_arg(v, "QuantumGate name")));
       }
     }},
    {"matrix", [](const QuantumGate& g) { return optional_matrix_object(g.matrix()); },
     [](QuantumGate& g, py::handle v) { g.set_matrix(optional_matrix_arg(v)); }},
    {"stored_matrix",
     [](const QuantumGate& g) { return optional_matrix_object(g.stored_matrix()); },
     [](QuantumGate& g, py::handle v) { g.set_stored_matrix(optional_matrix_arg(v)); }},
    {"has_stored_matrix",
     [](const QuantumGate& g) -> py::object { return py::bool_(g.has_stored_matrix()); }, nullptr},
}};

const Attribute* find_settable(std::string_view name) {
  for (const Attribute& a : kAttributes) {
    if (a.set != nullptr && name == a.name) return &a;
  }
  return nullptr;
}

QuantumGate gate_from_keywords(const py::kwargs& kwargs) {
  QuantumGate gate;
  bool has_id = false;
  for (auto [key, value] : kwargs) {
    std::string_view name = text_arg(key, "keywords");
    const Attribute* attribute = find_settable(name);
    if (attribute == nullptr) {
      throw py::type_error("QuantumGate() got an unexpected keyword argument '" +
                           std::string(name) + "'");
    }
    attribute->set(gate, value);
    has_id = has_id || name == "id";
  }
  if (!has_id) throw py::type_error("QuantumGate() missing required keyword argument: 'id'");
  return gate;
}

// Shows the id and target, and every other attribute that differs from its default.
std::string gate_repr(const QuantumGate& g) {
  std::string out = "QuantumGate(";
  bool first = true;
  for (const Attribute& a : kAttributes) {
    if (a.set == nullptr) continue;
    py::object value = a.get(g);
    std::string_view name = a.name;
    bool shown = name == "id" || name == "target" ||
                 (!value.is_none() && !(PyTuple_Check(value.ptr()) != 0 && py::len(value) == 0 &&
                                        (name == "control" || name == "control_state")));
    if (!shown) continue;
    if (!first) out += ", ";
    first = false;
    out += name;
    out += '=';
    out += py::repr(value).cast<std::string>();
  }
  return out + ")";
}

void bind_quantum_gate(py::module_& m) {
  py::class_<QuantumGate> cls(m, "QuantumGate",
                              "One operation of a circuit. Construct it with keyword arguments "
                              "named like its attributes; `id` is required.");
  cls.def(py::init(&gate_from_keywords));
  for (const Attribute& a : kAttributes) {
    py::cpp_function getter([get = a.get](const QuantumGate& g) { return get(g); },
                            py::is_method(cls));
    if (a.set == nullptr) {
      cls.def_property(a.name, getter, nullptr);
      continue;
    }
    py::cpp_function setter([set = a.set](QuantumGate& g, py::handle v) { set(g, v); },
                            py::is_method(cls));
    cls.def_property(a.name, getter, setter);
  }
  cls.def("__repr__", &gate_repr);
  cls.attr("__module__") = "corvane.backend.gate.gatebase";
  gate_type = reinterpret_cast<PyTypeObject*>(cls.ptr());
}

// ------------------------------------------------------------------ gate_set

py::object entry_object(const GateMatrixEntry& entry, py::handle key) {
  if (!entry.is_function()) return matrix_object(*entry.fixed);
  // Entries live in a table that is never modified, so the function may keep a pointer.
  const GateMatrixEntry* stored = &entry;
  return py::cpp_function(
      [stored](py::handle parameter) {
        return matrix_object(stored->of_parameter(parameter_arg(parameter)));
      },
      py::name(std::string(text_arg(key, "key")).c_str()), py::arg("parameter"));
}

const GateMatrixEntry* lookup(const GateSet& table, py::handle key) {
  if (PyUnicode_Check(key.ptr()) == 0) return nullptr;
  return table.get(text_arg(key, "key"));
}

void bind_gate_set(py::module_& m) {
  py::class_<GateSet> cls(m, "GateSet",
                          "The stored matrices of the standard gates, keyed by lower-case gate "
                          "id: a fixed matrix, or a function of the gate's parameter.");
  cls.def(
      "get",
      [](const GateSet& table, py::handle key, py::object fallback) -> py::object {
        const GateMatrixEntry* entry = lookup(table, key);
        return entry == nullptr ? fallback : entry_object(*entry, key);
      },
      py::arg("key"), py::arg("default") = py::none());
  cls.def("__getitem__", [](const GateSet& table, py::handle key) {
    const GateMatrixEntry* entry = lookup(table, key);
    if (entry == nullptr) throw py::key_error(py::repr(key).cast<std::string>());
    return entry_object(*entry, key);
  });
  cls.def("__contains__",
          [](const GateSet& table, py::handle key) { return lookup(table, key) != nullptr; });
  cls.def("__len__", &GateSet::size);
  cls.attr("__module__") = "corvane.backend.pygates.unitary";
  m.attr("gate_set") = py::cast(&gate_set(), py::return_value_policy::reference);
}

}  // namespace

py::object gate_object(QuantumGate&& gate) {
  return py::cast(std::move(gate), py::return_value_policy::move);
}

const QuantumGate& gate_record(py::handle value, std::string_view what) {
  if (PyObject_TypeCheck(value.ptr(), gate_type) == 0) {
    raise_wrong_kind(what, "QuantumGate", value);
  }
  return value.cast<const QuantumGate&>();
}

void bind_gate_model(py::module_& m) {
  bind_quantum_gate(m);
  bind_gate_set(m);
}

}  // namespace corvane::pyhost
