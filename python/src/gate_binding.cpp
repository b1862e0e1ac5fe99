#include "gate_binding.hpp"

#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/buffers.hpp"
#include "corvane/backend/pygates/unitary.hpp"
#include "errors.hpp"
#include "host_values.hpp"

namespace corvane::pyhost {

// The sequence an import built, kept whole: its records are those of the Python objects.
struct SharedSequence {
  explicit SharedSequence(GateSequence&& s) : seq(std::move(s)) {}

  // `seq` is this object's own, not a const object, so its records may be written.
  QuantumGate& record(std::size_t i) { return const_cast<QuantumGate&>(seq.data()[i]); }  // NOLINT

  GateSequence seq;
  // Exports reading `seq` right now. Only touched with the GIL held.
  int lenders = 0;
};

namespace {

// The nested lists of a record: its block, and the else-block of an "if" record.
enum Body : std::size_t { BLOCK_BODY = 0, ELSE_BODY = 1, BODY_COUNT = 2 };

const GateBlock& body_of(const QuantumGate& g, std::size_t body) {
  return body == ELSE_BODY ? g.else_gate_sequence() : g.block_gate_sequence();
}

// The target of a conditioned record follows its bodies.
void follow_bodies(QuantumGate& g) {
  if (g.condition()) g.target = qubits_of_bodies(g.block_gate_sequence(), g.else_gate_sequence());
}

void set_body(QuantumGate& g, std::size_t body, GateBlock block) {
  if (body == ELSE_BODY) {
    g.set_else_gate_sequence(std::move(block));
  } else {
    g.set_block_gate_sequence(std::move(block));
  }
  follow_bodies(g);
}

// The Python object: a record, either its own or one inside an imported sequence.
struct GateObject {
  PyObject ob_base;  // what PyObject_HEAD declares
  std::shared_ptr<QuantumGate> record;
  SharedSequence* shared;  // the sequence `record` lives in (kept alive by it), or null
  // Per body, the tuple that its attribute returns: made on the first read and returned
  // again while the record's body is still `members_block`, so that each nested record
  // has one Python object whose changes can be written back into this record's body.
  PyObject* members[BODY_COUNT];
  GateBlock members_block[BODY_COUNT];
  // For a record of such a tuple: the record whose body it is in, which body, and where.
  // Not a reference (the owner keeps the tuple): an owner detaches its members when it goes.
  GateObject* owner;
  std::size_t body;
  std::size_t position;
};

PyTypeObject* gate_type = nullptr;

GateObject* as_gate(PyObject* object) {
  return reinterpret_cast<GateObject*>(object);
}

bool is_gate(py::handle value) {
  return PyObject_TypeCheck(value.ptr(), gate_type) != 0;
}

void init_gate_object(PyObject* self, std::shared_ptr<QuantumGate> record, SharedSequence* shared) {
  GateObject* gate = as_gate(self);
  new (&gate->record) std::shared_ptr<QuantumGate>(std::move(record));
  gate->shared = shared;
  for (std::size_t body = 0; body < BODY_COUNT; ++body) {
    gate->members[body] = nullptr;
    new (&gate->members_block[body]) GateBlock();
  }
  gate->owner = nullptr;
  gate->body = BLOCK_BODY;
  gate->position = 0;
}

py::object new_gate_object(std::shared_ptr<QuantumGate> record, SharedSequence* shared) {
  PyObject* self = gate_type->tp_alloc(gate_type, 0);
  if (self == nullptr) throw py::error_already_set();
  init_gate_object(self, std::move(record), shared);
  return py::reinterpret_steal<py::object>(self);
}

const QuantumGate& record_of(py::handle value) {
  const std::shared_ptr<QuantumGate>& record = as_gate(value.ptr())->record;
  if (!record) throw py::type_error("QuantumGate.__init__() was not called");
  return *record;
}

// The record inside a QuantumGate; TypeError("<what> must be QuantumGate, ...") otherwise.
const QuantumGate& gate_record(py::handle value, std::string_view what) {
  if (!is_gate(value)) raise_wrong_kind(what, "QuantumGate", value);
  return record_of(value);
}

// Replaces the record of `self`. A record that an export in another thread is reading
// right now is left alone: `self` takes a record of its own instead.
void replace_record(PyObject* self, QuantumGate&& updated) {
  GateObject* gate = as_gate(self);
  if (gate->shared != nullptr && gate->shared->lenders > 0) {
    gate->record = std::make_shared<QuantumGate>(std::move(updated));
    gate->shared = nullptr;
    return;
  }
  *gate->record = std::move(updated);
}

// ------------------------------------------------------------------ records inside blocks
//
// A block is immutable and may be shared (calls of one imported definition share theirs),
// yet a Python user changes a nested record in place: blk.block_gate_sequence[0].id = "x".
// So each nested record read from a block is an object of its own that knows its owner,
// and a change to it gives the owner a new block with the changed record in its place.

// Leaves the records of `gate`'s members tuple of `body` on their own: their later changes
// no longer reach `gate`.
void drop_members(GateObject* gate, std::size_t body) {
  PyObject* members = gate->members[body];
  if (members == nullptr) return;
  gate->members[body] = nullptr;
  gate->members_block[body].reset();
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(members); ++i) {
    GateObject* member = as_gate(PyTuple_GET_ITEM(members, i));
    if (member->owner == gate) member->owner = nullptr;
  }
  Py_DECREF(members);
}

// Drops a members tuple once the record's body is no longer the one it was made from.
void drop_stale_members(GateObject* gate) {
  for (std::size_t body = 0; body < BODY_COUNT; ++body) {
    if (gate->members[body] != nullptr &&
        (!gate->record || gate->members_block[body] != body_of(*gate->record, body))) {
      drop_members(gate, body);
    }
  }
}

// Whether `member` is still a record of its owner's body.
bool in_owner_block(const GateObject* member) {
  const GateObject* owner = member->owner;
  PyObject* members = owner->members[member->body];
  return members != nullptr && owner->record &&
         owner->members_block[member->body] == body_of(*owner->record, member->body) &&
         PyTuple_GET_ITEM(members, static_cast<Py_ssize_t>(member->position)) ==
             reinterpret_cast<const PyObject*>(member);
}

// Carries the record of `member` into its owner's block, and on up through owners that
// are themselves records of a block.
void write_back(GateObject* member) {
  for (GateObject* child = member; child->owner != nullptr; child = child->owner) {
    if (!in_owner_block(child)) {
      child->owner = nullptr;
      return;
    }
    GateObject* owner = child->owner;
    const std::size_t body = child->body;
    std::vector<QuantumGate> gates(*owner->members_block[body]);
    gates[child->position] = *child->record;
    GateBlock block = make_block(std::move(gates));
    QuantumGate updated = *owner->record;
    set_body(updated, body, block);
    replace_record(reinterpret_cast<PyObject*>(owner), std::move(updated));
    owner->members_block[body] = std::move(block);
  }
}

using Getter = py::object (*)(const QuantumGate&);
using Setter = void (*)(QuantumGate&, py::handle);

// One attribute of QuantumGate: how to read it and how to write it (keyword argument of
// the constructor or attribute assignment).
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

// `what` names the attribute in messages.
GateBlock block_arg(py::handle value, std::string_view what) {
  if (value.is_none()) return nullptr;
  std::vector<QuantumGate> gates;
  if (is_list_or_tuple(value)) gates.reserve(static_cast<std::size_t>(py::len(value)));
  PyObject* iterator = PyObject_GetIter(value.ptr());
  if (iterator == nullptr) {
    PyErr_Clear();
    raise_wrong_kind(what, "a sequence of QuantumGate", value);
  }
  const std::string entries = std::string(what) + " entries";
  for (py::handle item : py::reinterpret_steal<py::iterator>(iterator)) {
    gates.push_back(gate_record(item, entries));
  }
  return make_block(std::move(gates));
}

constexpr std::string_view COMPARISONS = "'==', '!=', '<', '<=', '>', '>='";

// (bits, comparison, value): an iterable of bit indices, a comparison's text and an
// integer from 0 to 2**64 - 1; or None.
std::optional<Condition> condition_arg(py::handle value) {
  if (value.is_none()) return std::nullopt;
  if (!is_list_or_tuple(value) || py::len(value) != 3) {
    raise_wrong_kind("QuantumGate condition", "a (bits, comparison, value) tuple or None", value);
  }
  const py::sequence parts = py::reinterpret_borrow<py::sequence>(value);
  const py::object bits_object = parts[0];
  IndexList bits = index_list_arg(bits_object, "QuantumGate condition bits");
  const py::object compare_object = parts[1];
  const std::string_view compare_text =
      text_arg(compare_object, "QuantumGate condition comparison");
  const std::optional<Comparison> compare = comparison_from_text(compare_text);
  if (!compare) {
    throw py::value_error("QuantumGate condition comparison must be one of " +
                          std::string(COMPARISONS) + ", not " +
                          py::repr(compare_object).cast<std::string>());
  }
  const py::object given = parts[2];
  PyObject* number = PyNumber_Index(given.ptr());
  if (number == nullptr) {
    PyErr_Clear();
    raise_wrong_kind("QuantumGate condition value", "an integer", given);
  }
  const auto integer = py::reinterpret_steal<py::object>(number);
  const unsigned long long unsigned_value = PyLong_AsUnsignedLongLong(integer.ptr());
  if (PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    throw py::value_error("QuantumGate condition value must be from 0 to 2**64 - 1, got " +
                          py::repr(integer).cast<std::string>());
  }
  return Condition(std::move(bits), *compare, unsigned_value);
}

py::object condition_object(const std::optional<Condition>& tested) {
  if (!tested) return py::none();
  return py::make_tuple(index_tuple(tested->bits()), py::str(comparison_text(tested->compare())),
                        py::int_(tested->value()));
}

// Nested records come back as copies: a block is shared between records and immutable.
py::object block_object(const GateBlock& block) {
  if (!block) return py::none();
  py::tuple out(block->size());
  for (std::size_t i = 0; i < block->size(); ++i) {
    out[i] = new_gate_object(std::make_shared<QuantumGate>((*block)[i]), nullptr);
  }
  return out;
}

py::object optional_text_object(const std::optional<std::string>& text) {
  if (!text) return py::none();
  return py::str(*text);
}

const std::array<Attribute, 13> ATTRIBUTES{{
    {"id", [](const QuantumGate& g) -> py::object { return py::str(g.id); },
     [](QuantumGate& g, py::handle v) { g.id = text_arg(v, "QuantumGate id"); }},
    {"target", [](const QuantumGate& g) -> py::object { return index_tuple(g.target); },
     [](QuantumGate& g, py::handle v) { g.target = index_list_arg(v, "QuantumGate target"); }},
    {"control", [](const QuantumGate& g) -> py::object { return index_tuple(g.control); },
     [](QuantumGate& g, py::handle v) { g.control = index_list_arg(v, "QuantumGate control"); }},
    {"control_state",
     [](const QuantumGate& g) -> py::object { return index_tuple(g.control_state); },
     [](QuantumGate& g, py::handle v) {
       g.control_state = control_state_arg(v, "QuantumGate control_state");
     }},
    {"parameter", [](const QuantumGate& g) { return parameter_object(g.parameter); },
     [](QuantumGate& g, py::handle v) { g.parameter = parameter_arg(v); }},
    {"classical_target",
     [](const QuantumGate& g) { return optional_index_tuple(g.classical_target()); },
     [](QuantumGate& g, py::handle v) {
       g.set_classical_target(optional_index_list(v, "QuantumGate classical_target"));
     }},
    {"condition", [](const QuantumGate& g) { return condition_object(g.condition()); },
     [](QuantumGate& g, py::handle v) { g.set_condition(condition_arg(v)); }},
    {"block_gate_sequence",
     [](const QuantumGate& g) { return block_object(g.block_gate_sequence()); },
     [](QuantumGate& g, py::handle v) {
       g.set_block_gate_sequence(block_arg(v, "QuantumGate block_gate_sequence"));
     }},
    {"else_gate_sequence",
     [](const QuantumGate& g) { return block_object(g.else_gate_sequence()); },
     [](QuantumGate& g, py::handle v) {
       g.set_else_gate_sequence(block_arg(v, "QuantumGate else_gate_sequence"));
     }},
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
    // Follows stored_matrix: setting it false drops the matrix; true needs one already.
    {"has_stored_matrix",
     [](const QuantumGate& g) -> py::object { return py::bool_(g.has_stored_matrix()); },
     [](QuantumGate& g, py::handle v) {
       if (!py::bool_(py::reinterpret_borrow<py::object>(v))) {
         g.set_stored_matrix(std::nullopt);
       } else if (!g.has_stored_matrix()) {
         throw py::value_error("has_stored_matrix can only be true once stored_matrix is set");
       }
     }},
}};

const Attribute* find_attribute(std::string_view name) {
  for (const Attribute& a : ATTRIBUTES) {
    if (name == a.name) return &a;
  }
  return nullptr;
}

// Keyword arguments have no order: has_stored_matrix is applied once all the others are,
// so it is checked against the stored_matrix of the whole record, and a conditioned
// record made without a target gets the qubits of its bodies. The record must keep the
// rules of conditioned records.
QuantumGate gate_from_keywords(py::handle kwargs) {
  QuantumGate gate;
  bool has_id = false;
  bool has_target = false;
  py::handle stored_flag;
  if (kwargs) {
    for (auto [key, value] : py::reinterpret_borrow<py::dict>(kwargs)) {
      std::string_view name = text_arg(key, "keywords");
      const Attribute* attribute = find_attribute(name);
      if (attribute == nullptr) {
        throw py::type_error("QuantumGate() got an unexpected keyword argument '" +
                             std::string(name) + "'");
      }
      has_id = has_id || name == "id";
      has_target = has_target || name == "target";
      if (name == "has_stored_matrix") {
        stored_flag = value;
      } else {
        attribute->set(gate, value);
      }
    }
  }
  if (!has_id) throw py::type_error("QuantumGate() missing required keyword argument: 'id'");
  if (stored_flag) find_attribute("has_stored_matrix")->set(gate, stored_flag);
  if (!has_target) follow_bodies(gate);
  check_conditioned(gate);
  return gate;
}

// Whether an attribute's value is what a record has when the constructor is not given it.
bool is_default_value(std::string_view name, const py::object& value) {
  if (value.is_none()) return true;
  const bool index_list = name == "target" || name == "control" || name == "control_state";
  return index_list && py::len(value) == 0;
}

// Shows the id and target, and every other attribute that differs from its default.
std::string gate_repr(const QuantumGate& g) {
  std::string out = "QuantumGate(";
  bool first = true;
  for (const Attribute& a : ATTRIBUTES) {
    std::string_view name = a.name;
    if (name == "has_stored_matrix") continue;  // shown by stored_matrix
    py::object value = a.get(g);
    if (name != "id" && name != "target" && is_default_value(name, value)) continue;
    if (!first) out += ", ";
    first = false;
    out += name;
    out += '=';
    out += py::repr(value).cast<std::string>();
  }
  return out + ")";
}

// ------------------------------------------------------------------ the Python type

PyObject* gate_new(PyTypeObject* type, PyObject* /*args*/, PyObject* /*kwargs*/) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  init_gate_object(self, nullptr, nullptr);
  return self;
}

// Gives `self` a new record of its own, as __init__ and unpickling do.
void replace_whole_record(PyObject* self, QuantumGate&& gate) {
  as_gate(self)->record = std::make_shared<QuantumGate>(std::move(gate));
  as_gate(self)->shared = nullptr;
  drop_stale_members(as_gate(self));
  write_back(as_gate(self));
}

int gate_init(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded(-1, [&] {
    if (PyTuple_GET_SIZE(args) != 0) {
      throw py::type_error("QuantumGate() takes keyword arguments only");
    }
    replace_whole_record(self, gate_from_keywords(kwargs));
    return 0;
  });
}

void gate_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  for (std::size_t body = 0; body < BODY_COUNT; ++body) {
    drop_members(as_gate(self), body);
    as_gate(self)->members_block[body].~GateBlock();
  }
  as_gate(self)->record.~shared_ptr();
  type->tp_free(self);
  Py_DECREF(type);  // instances of heap types hold a reference to their type
}

PyObject* gate_repr_slot(PyObject* self) {
  return guarded<PyObject*>(nullptr,
                            [&] { return py::str(gate_repr(record_of(self))).release().ptr(); });
}

PyObject* get_attribute(PyObject* self, void* closure) {
  const auto* attribute = static_cast<const Attribute*>(closure);
  return guarded<PyObject*>(nullptr,
                            [&] { return attribute->get(record_of(self)).release().ptr(); });
}

// The value is converted on a copy of the record, so that no Python code runs between
// the check in replace_record and the write.
int set_attribute(PyObject* self, PyObject* value, void* closure) {
  const auto* attribute = static_cast<const Attribute*>(closure);
  return guarded(-1, [&] {
    if (value == nullptr) {
      throw py::attribute_error("cannot delete QuantumGate attribute '" +
                                std::string(attribute->name) + "'");
    }
    QuantumGate updated = record_of(self);
    attribute->set(updated, value);
    if (std::string_view(attribute->name) != "target") follow_bodies(updated);
    check_conditioned(updated);
    replace_record(self, std::move(updated));
    drop_stale_members(as_gate(self));
    write_back(as_gate(self));
    return 0;
  });
}

// The nested records of a body (the closure's attribute names which), one object each
// for as long as the body stays the same.
PyObject* get_body_members(PyObject* self, void* closure) {
  const auto* attribute = static_cast<const Attribute*>(closure);
  const std::size_t body =
      std::string_view(attribute->name) == "else_gate_sequence" ? ELSE_BODY : BLOCK_BODY;
  return guarded<PyObject*>(nullptr, [&] {
    GateObject* gate = as_gate(self);
    const GateBlock& block = body_of(record_of(self), body);
    drop_stale_members(gate);
    if (!block) return py::none().release().ptr();
    if (gate->members[body] == nullptr) {
      py::object members = block_object(block);
      for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(members.ptr()); ++i) {
        GateObject* member = as_gate(PyTuple_GET_ITEM(members.ptr(), i));
        member->owner = gate;
        member->body = body;
        member->position = static_cast<std::size_t>(i);
      }
      gate->members[body] = members.release().ptr();
      gate->members_block[body] = block;
    }
    return py::reinterpret_borrow<py::object>(gate->members[body]).release().ptr();
  });
}

// copy.copy and copy.deepcopy give a record of its own (nested blocks are immutable, so
// a copy may share them).
PyObject* gate_copy(PyObject* self, PyObject* /*memo*/) {
  return guarded<PyObject*>(nullptr, [&] {
    return new_gate_object(std::make_shared<QuantumGate>(record_of(self)), nullptr).release().ptr();
  });
}

// Records are values: equal when every attribute is, kinds of parameters included.
PyObject* gate_richcompare(PyObject* self, PyObject* other, int op) {
  if ((op != Py_EQ && op != Py_NE) || !is_gate(other)) Py_RETURN_NOTIMPLEMENTED;
  return guarded<PyObject*>(nullptr, [&] {
    const bool equal = self == other || record_of(self) == record_of(other);
    return py::bool_(equal == (op == Py_EQ)).release().ptr();
  });
}

// The attributes that differ from a bare record's, as keyword arguments of the constructor
// (has_stored_matrix follows from stored_matrix). The names are interned, so that a pickle
// of many records stores each name once.
py::dict keyword_state(const QuantumGate& g) {
  py::dict state;
  for (const Attribute& a : ATTRIBUTES) {
    const std::string_view name = a.name;
    if (name == "has_stored_matrix") continue;
    py::object value = a.get(g);
    if (name != "id" && is_default_value(name, value)) continue;
    auto key = py::reinterpret_steal<py::object>(PyUnicode_InternFromString(a.name));
    if (!key) throw py::error_already_set();
    state[key] = std::move(value);
  }
  return state;
}

// Pickles rebuild a record from its keyword state (every protocol: copyreg.__newobj__
// makes the object without running __init__, __setstate__ fills it).
PyObject* gate_reduce(PyObject* self, PyObject* /*unused*/) {
  return guarded<PyObject*>(nullptr, [&] {
    py::object make = py::module_::import("copyreg").attr("__newobj__");
    py::handle type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    return py::make_tuple(make, py::make_tuple(type), keyword_state(record_of(self)))
        .release()
        .ptr();
  });
}

PyObject* gate_setstate(PyObject* self, PyObject* state) {
  return guarded<PyObject*>(nullptr, [&] {
    if (!PyDict_Check(state)) raise_wrong_kind("QuantumGate state", "a dict", state);
    replace_whole_record(self, gate_from_keywords(state));
    return py::none().release().ptr();
  });
}

// The first lines give inspect.signature() its signature.
constexpr const char* GATE_DOC =
    "QuantumGate(*, id, target=(), control=(), control_state=(), parameter=None, "
    "classical_target=None, block_gate_sequence=None, name=None, matrix=None, "
    "stored_matrix=None, has_stored_matrix=False, condition=None, else_gate_sequence=None)"
    "\n--\n\n"
    "One operation of a circuit, made with keyword arguments named like its attributes:\n\n"
    "id: str, the internal gate id (\"h\", \"cnot\", \"rx\", \"measure\", \"block\", ...).\n"
    "target, control: sequences of int, flat qubit indices (read back as tuples).\n"
    "control_state: a sequence of numbers, one per control: 1 for a control on one, anything\n"
    "    else for a control on zero.\n"
    "parameter: None, a number, str, a list or tuple of numbers and str, or a numpy array;\n"
    "    reads back with its kind kept.\n"
    "classical_target: a sequence of int or None, the bits a \"measure\" writes.\n"
    "block_gate_sequence: an iterable of QuantumGate or None, the nested records of a\n"
    "    \"block\" (copied). Reads back as a tuple whose records belong to this record:\n"
    "    a change to one of them changes this record's block.\n"
    "condition: None, or (bits, comparison, value) for an \"if\" or \"while\" record: the\n"
    "    bits it reads (least significant first), one of '==', '!=', '<', '<=', '>', '>=',\n"
    "    and an integer from 0 to 2**64 - 1 that fits the bits (at most 64 of them).\n"
    "    An \"if\" runs its block when the condition holds, a \"while\" while it holds.\n"
    "else_gate_sequence: an iterable of QuantumGate or None, what an \"if\" record runs\n"
    "    when its condition fails; reads back as block_gate_sequence does.\n"
    "name: str or None, the display name.\n"
    "matrix, stored_matrix: None or anything numpy turns into a complex 2-d array; the\n"
    "    explicit matrix of a \"unitary\" record is stored_matrix.\n"
    "has_stored_matrix: False drops stored_matrix; True needs one.\n\n"
    "The bodies of a conditioned record use the sequence's own qubit and bit indices; its\n"
    "target is the qubits they act on, ascending, computed when it is not given and\n"
    "whenever a body changes. Such a record takes no controls; breaking its rules is a\n"
    "ValueError (NotImplementedError for a condition on more than 64 bits).\n\n"
    "Records are values: == compares every attribute, and copies and pickles are records\n"
    "of their own.";

void bind_quantum_gate(py::module_& m) {
  static std::array<PyGetSetDef, ATTRIBUTES.size() + 1> getset{};
  for (std::size_t i = 0; i < ATTRIBUTES.size(); ++i) {
    const Attribute& a = ATTRIBUTES[i];
    const std::string_view name = a.name;
    const bool body = name == "block_gate_sequence" || name == "else_gate_sequence";
    getset[i] = {a.name, body ? get_body_members : get_attribute, set_attribute, nullptr,
                 const_cast<Attribute*>(&a)};  // NOLINT: the closure is only read
  }
  static std::array<PyMethodDef, 5> methods{{
      {"__copy__", gate_copy, METH_NOARGS, nullptr},
      {"__deepcopy__", gate_copy, METH_O, nullptr},
      {"__reduce__", gate_reduce, METH_NOARGS, nullptr},
      {"__setstate__", gate_setstate, METH_O, nullptr},
      {nullptr, nullptr, 0, nullptr},
  }};
  // A type with tp_richcompare and without tp_hash gets __hash__ = None: records change.
  static std::array<PyType_Slot, 9> slots{{
      {Py_tp_new, reinterpret_cast<void*>(gate_new)},
      {Py_tp_init, reinterpret_cast<void*>(gate_init)},
      {Py_tp_dealloc, reinterpret_cast<void*>(gate_dealloc)},
      {Py_tp_repr, reinterpret_cast<void*>(gate_repr_slot)},
      {Py_tp_richcompare, reinterpret_cast<void*>(gate_richcompare)},
      {Py_tp_getset, getset.data()},
      {Py_tp_methods, methods.data()},
      {Py_tp_doc, const_cast<char*>(GATE_DOC)},  // NOLINT: CPython copies it
      {0, nullptr},
  }};
  static PyType_Spec type_shape{"corvane.backend.gate.gatebase.QuantumGate",
                                static_cast<int>(sizeof(GateObject)), 0,
                                Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, slots.data()};
  PyObject* type = PyType_FromSpec(&type_shape);
  if (type == nullptr) throw py::error_already_set();
  gate_type = reinterpret_cast<PyTypeObject*>(type);  // kept for the life of the process
  m.add_object("QuantumGate", py::reinterpret_borrow<py::object>(type));
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

py::list ids_object(const GateSet& table) {
  py::list out;
  for (std::string_view id : table.ids())
    out.append(py::str(id.data(), id.size()));
  return out;
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
      [](const GateSet& table, py::handle key, py::handle fallback) -> py::object {
        const GateMatrixEntry* entry = lookup(table, key);
        if (entry == nullptr) return py::reinterpret_borrow<py::object>(fallback);
        return entry_object(*entry, key);
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
  // Iterates over the ids, as a dict over its keys.
  cls.def("__iter__", [](const GateSet& table) { return py::iter(ids_object(table)); });
  cls.def("keys", &ids_object, "The gate ids that have an entry, in the table's order.");
  cls.attr("__module__") = "corvane.backend.pygates.unitary";
  m.attr("gate_set") = py::cast(&gate_set(), py::return_value_policy::reference);
}

}  // namespace

py::list gate_objects(GateSequence&& seq) {
  auto shared = std::make_shared<SharedSequence>(std::move(seq));
  const std::size_t n = shared->seq.data().size();
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
  if (list == nullptr) throw py::error_already_set();
  py::list out = py::reinterpret_steal<py::list>(list);
  for (std::size_t i = 0; i < n; ++i) {
    std::shared_ptr<QuantumGate> record(shared, &shared->record(i));
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i),
                    new_gate_object(std::move(record), shared.get()).release().ptr());
  }
  return out;
}

namespace {

// The imported sequence that `gates` is, unchanged in number, order and qubit count; null
// for anything else.
std::shared_ptr<SharedSequence> whole_imported_sequence(py::handle gates, std::int64_t num_qubits) {
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(gates.ptr());
  if (n == 0) return nullptr;
  py::handle first = PySequence_Fast_GET_ITEM(gates.ptr(), 0);
  if (!is_gate(first) || as_gate(first.ptr())->shared == nullptr) return nullptr;
  SharedSequence* shared = as_gate(first.ptr())->shared;
  if (shared->seq.num_qubits != num_qubits ||
      shared->seq.data().size() != static_cast<std::size_t>(n)) {
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < n; ++i) {
    py::handle item = PySequence_Fast_GET_ITEM(gates.ptr(), i);
    if (!is_gate(item) || as_gate(item.ptr())->shared != shared ||
        as_gate(item.ptr())->record.get() != &shared->seq.data()[static_cast<std::size_t>(i)]) {
      return nullptr;
    }
  }
  return {as_gate(first.ptr())->record, shared};
}

}  // namespace

ExportedGates::ExportedGates(py::handle gates, std::int64_t num_qubits)
    : lent_(whole_imported_sequence(gates, num_qubits)) {
  if (lent_) {
    ++lent_->lenders;
    return;
  }
  // The declared count is not checked here: the exporter sizes from it and the gates.
  copy_.emplace(0);
  copy_->num_qubits = num_qubits;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(gates.ptr());
  copy_->reserve(static_cast<std::size_t>(n));
  qasm3::detail::advise_huge_pages(copy_->data().data(),
                                   static_cast<std::size_t>(n) * sizeof(QuantumGate));
  for (Py_ssize_t i = 0; i < n; ++i) {
    copy_->add_gate(gate_record(PySequence_Fast_GET_ITEM(gates.ptr(), i), "gate records"));
  }
}

ExportedGates::~ExportedGates() {
  if (lent_) --lent_->lenders;
}

void ExportedGates::set_inputs(std::vector<InputDecl> inputs) {
  if (lent_) {
    if (lent_->seq.qasm_inputs == inputs) return;
    copy_.emplace(lent_->seq);
    --lent_->lenders;
    lent_.reset();
  }
  copy_->qasm_inputs = std::move(inputs);
}

const GateSequence& ExportedGates::sequence() const {
  return lent_ ? lent_->seq : *copy_;
}

void bind_gate_model(py::module_& m) {
  bind_quantum_gate(m);
  bind_gate_set(m);
}

}  // namespace corvane::pyhost
