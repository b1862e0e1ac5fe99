#include "host_values.hpp"

#include <algorithm>
#include <functional>

namespace corvane::pyhost {

namespace {

std::string type_name(py::handle value) {
  return Py_TYPE(value.ptr())->tp_name;
}

bool is_text(py::handle value) {
  return PyUnicode_Check(value.ptr()) != 0;
}

// numpy stays optional: it is consulted only when it is already loaded, since no value
// can be a numpy object otherwise.
struct NumpyTypes {
  PyObject* ndarray = nullptr;
  PyObject* bool_type = nullptr;
  PyObject* complex_type = nullptr;
};

const NumpyTypes* loaded_numpy() {
  // Filled once under the GIL and kept for the life of the process.
  static NumpyTypes types;
  static bool filled = false;
  if (filled) return &types;
  PyObject* numpy = PyImport_GetModule(py::str("numpy").ptr());
  if (numpy == nullptr) {
    if (PyErr_Occurred() != nullptr) throw py::error_already_set();
    return nullptr;
  }
  py::object module = py::reinterpret_steal<py::object>(numpy);
  types.ndarray = py::object(module.attr("ndarray")).release().ptr();
  types.bool_type = py::object(module.attr("bool_")).release().ptr();
  types.complex_type = py::object(module.attr("complexfloating")).release().ptr();
  filled = true;
  return &types;
}

bool truth(py::handle value) {
  int result = PyObject_IsTrue(value.ptr());
  if (result < 0) throw py::error_already_set();
  return result == 1;
}

bool is_instance(py::handle value, PyObject* type) {
  int result = PyObject_IsInstance(value.ptr(), type);
  if (result < 0) throw py::error_already_set();
  return result == 1;
}

bool is_numpy_array(py::handle value) {
  const NumpyTypes* numpy = loaded_numpy();
  return numpy != nullptr && is_instance(value, numpy->ndarray);
}

// Integers that do not fit 64 bits are kept by value as doubles: they format the same.
ParamScalar integer_scalar(py::handle value) {
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow == 0) {
    if (v == -1 && PyErr_Occurred() != nullptr) throw py::error_already_set();
    return ParamScalar(static_cast<std::int64_t>(v));
  }
  double d = PyLong_AsDouble(value.ptr());
  if (d == -1.0 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  return ParamScalar(d);
}

// A number other than the built-in kinds: numpy scalars, and anything else that offers
// the index or float protocol. Complex values have no faithful real form and are refused.
std::optional<ParamScalar> foreign_number(py::handle value) {
  if (PyComplex_Check(value.ptr()) != 0) return std::nullopt;
  if (const NumpyTypes* numpy = loaded_numpy()) {
    if (is_instance(value, numpy->bool_type)) return ParamScalar(truth(value));
    if (is_instance(value, numpy->complex_type)) return std::nullopt;
  }
  if (PyIndex_Check(value.ptr()) != 0) {
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    return integer_scalar(index);
  }
  PyNumberMethods* number = Py_TYPE(value.ptr())->tp_as_number;
  if (number != nullptr && number->nb_float != nullptr) {
    double d = PyFloat_AsDouble(value.ptr());
    if (d == -1.0 && PyErr_Occurred() != nullptr) throw py::error_already_set();
    return ParamScalar(d);
  }
  return std::nullopt;
}

std::optional<ParamScalar> builtin_scalar(py::handle value) {
  PyObject* p = value.ptr();
  if (PyBool_Check(p) != 0) return ParamScalar(p == Py_True);
  if (PyLong_Check(p) != 0) return integer_scalar(value);
  if (PyFloat_Check(p) != 0) return ParamScalar(PyFloat_AS_DOUBLE(p));
  if (is_text(value)) return ParamScalar(std::string(text_arg(value, "parameter")));
  return std::nullopt;
}

ParamScalar parameter_entry(py::handle value) {
  if (auto scalar = builtin_scalar(value)) return *scalar;
  if (!is_numpy_array(value)) {
    if (auto number = foreign_number(value)) return *number;
  }
  raise_wrong_kind("parameter entries", "numbers or str", value);
}

Parameter scalar_parameter(ParamScalar scalar) {
  return std::visit([](auto&& v) { return Parameter(std::forward<decltype(v)>(v)); },
                    std::move(scalar));
}

py::object scalar_object(const ParamScalar& scalar) {
  return std::visit(
      [](const auto& v) -> py::object {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) return py::bool_(v);
        if constexpr (std::is_same_v<T, std::int64_t>) return py::int_(v);
        if constexpr (std::is_same_v<T, double>) return py::float_(v);
        if constexpr (std::is_same_v<T, std::string>) return py::str(v);
      },
      scalar);
}

// Runs `each` over the items of a list or tuple without copying it, or over any other
// iterable; returns false when `value` is not iterable. `each` may run Python code that
// changes a list, so the size is read anew and the item is held while it runs.
bool for_each_item(py::handle value, const std::function<void(py::handle)>& each) {
  if (is_list_or_tuple(value)) {
    PyObject* seq = value.ptr();
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq); ++i) {
      each(py::reinterpret_borrow<py::object>(PySequence_Fast_GET_ITEM(seq, i)));
    }
    return true;
  }
  PyObject* iterator = PyObject_GetIter(value.ptr());
  if (iterator == nullptr) {
    PyErr_Clear();
    return false;
  }
  for (py::handle item : py::reinterpret_steal<py::iterator>(iterator))
    each(item);
  return true;
}

}  // namespace

bool is_list_or_tuple(py::handle value) {
  return PyList_Check(value.ptr()) != 0 || PyTuple_Check(value.ptr()) != 0;
}

void raise_wrong_kind(std::string_view what, std::string_view expected, py::handle value) {
  std::string message(what);
  message += " must be ";
  message += expected;
  message += ", not ";
  message += type_name(value);
  throw py::type_error(message);
}

std::string_view text_arg(py::handle value, std::string_view what) {
  if (!is_text(value)) raise_wrong_kind(what, "str", value);
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
  if (data == nullptr) throw py::error_already_set();
  return {data, static_cast<std::size_t>(size)};
}

std::int64_t integer_arg(py::handle value, std::string_view what) {
  if (PyIndex_Check(value.ptr()) == 0) raise_wrong_kind(what, "an integer", value);
  py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  long long v = PyLong_AsLongLong(index.ptr());
  if (v == -1 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  return v;
}

std::optional<std::int64_t> optional_integer_arg(py::handle value, std::string_view what) {
  if (value.is_none()) return std::nullopt;
  return integer_arg(value, what);
}

std::optional<RegisterList> register_list_arg(py::handle value, std::string_view what) {
  if (value.is_none()) return std::nullopt;
  if (!is_list_or_tuple(value)) raise_wrong_kind(what, "a list of (name, size) pairs", value);
  RegisterList regs;
  std::string entry_what = std::string(what) + " entries";
  for_each_item(value, [&](py::handle pair) {
    if (!is_list_or_tuple(pair) || PySequence_Fast_GET_SIZE(pair.ptr()) != 2) {
      raise_wrong_kind(entry_what, "(name, size) pairs", pair);
    }
    py::handle name = PySequence_Fast_GET_ITEM(pair.ptr(), 0);
    py::handle size = PySequence_Fast_GET_ITEM(pair.ptr(), 1);
    regs.push_back({std::string(text_arg(name, std::string(what) + " register name")),
                    integer_arg(size, std::string(what) + " register size")});
  });
  return regs;
}

py::list register_list_object(const RegisterList& regs) {
  py::list out(regs.size());
  for (std::size_t i = 0; i < regs.size(); ++i) {
    out[i] = py::make_tuple(py::str(regs[i].name), py::int_(regs[i].size));
  }
  return out;
}

py::list measure_map_object(const std::vector<MeasurePair>& pairs) {
  py::list out(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    out[i] = py::make_tuple(py::int_(pairs[i].first), py::int_(pairs[i].second));
  }
  return out;
}

namespace {

// The entries of any iterable but text, each converted by `entry`.
template <class Entry>
IndexList index_entries(py::handle value, std::string_view what, std::string_view expected,
                        Entry entry) {
  IndexList out;
  std::string item_what = std::string(what) + " entry";
  bool iterable = !is_text(value) && for_each_item(value, [&](py::handle item) {
    out.push_back(entry(item, item_what));
  });
  if (!iterable) raise_wrong_kind(what, expected, value);
  return out;
}

// The exporter writes a control on one only for a state equal to 1, so a state that is
// not an integer keeps just that: 1 when it equals 1 (true, 1.0), 0 otherwise. Integers
// keep their value; those beyond 64 bits are not 1 either.
std::int64_t control_state_entry(py::handle value, std::string_view what) {
  std::optional<ParamScalar> number;
  if (!is_text(value) && !is_numpy_array(value)) {
    number = builtin_scalar(value);
    if (!number) number = foreign_number(value);
  }
  if (!number) raise_wrong_kind(what, "a real number", value);
  if (const auto* integer = std::get_if<std::int64_t>(&*number)) return *integer;
  if (const auto* truth_value = std::get_if<bool>(&*number)) return *truth_value ? 1 : 0;
  return std::get<double>(*number) == 1.0 ? 1 : 0;
}

}  // namespace

IndexList index_list_arg(py::handle value, std::string_view what) {
  return index_entries(value, what, "a sequence of integers", integer_arg);
}

IndexList control_state_arg(py::handle value, std::string_view what) {
  return index_entries(value, what, "a sequence of real numbers", control_state_entry);
}

py::tuple index_tuple(const IndexList& indices) {
  PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(indices.size()));
  if (tuple == nullptr) throw py::error_already_set();
  py::tuple out = py::reinterpret_steal<py::tuple>(tuple);
  for (std::size_t i = 0; i < indices.size(); ++i) {
    PyObject* item = PyLong_FromLongLong(indices[i]);
    if (item == nullptr) throw py::error_already_set();
    PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), item);
  }
  return out;
}

Parameter parameter_arg(py::handle value) {
  if (value.is_none()) return {};
  if (auto scalar = builtin_scalar(value)) return scalar_parameter(std::move(*scalar));
  if (is_list_or_tuple(value)) {
    ParamList list;
    list.is_tuple = PyTuple_Check(value.ptr()) != 0;
    list.items.reserve(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(value.ptr())));
    for_each_item(value, [&](py::handle item) { list.items.push_back(parameter_entry(item)); });
    return Parameter(std::move(list));
  }
  if (is_numpy_array(value)) return Parameter(matrix_arg(value));
  if (auto number = foreign_number(value)) return scalar_parameter(std::move(*number));
  raise_wrong_kind("parameter", "None, a number, str, a list, a tuple or a numpy array", value);
}

py::object parameter_object(const Parameter& param) {
  switch (param.kind()) {
    case Parameter::Kind::Absent:
      return py::none();
    case Parameter::Kind::Bool:
      return py::bool_(param.as_bool());
    case Parameter::Kind::Integer:
      return py::int_(param.as_integer());
    case Parameter::Kind::Double:
      return py::float_(param.as_double());
    case Parameter::Kind::Text:
      return py::str(param.as_text());
    case Parameter::Kind::Array:
      return matrix_object(param.as_array());
    case Parameter::Kind::List:
      break;
  }
  const ParamListView list = param.as_list();
  py::list items(list.size());
  for (std::size_t i = 0; i < list.size(); ++i)
    items[i] = scalar_object(list[i]);
  if (list.is_tuple()) return py::tuple(items);
  return items;
}

Matrix matrix_arg(py::handle value) {
  using ComplexArray = py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast>;
  ComplexArray array(py::reinterpret_borrow<py::object>(value));
  auto size = static_cast<std::size_t>(array.size());
  std::size_t rows = array.ndim() < 2 ? 1 : static_cast<std::size_t>(array.shape(0));
  std::size_t cols = rows == 0 ? 0 : size / rows;
  std::vector<std::complex<double>> entries(array.data(), array.data() + size);
  return Matrix(rows, cols, std::move(entries));
}

std::optional<Matrix> optional_matrix_arg(py::handle value) {
  if (value.is_none()) return std::nullopt;
  return matrix_arg(value);
}

py::array_t<std::complex<double>> matrix_object(const Matrix& m) {
  py::array_t<std::complex<double>> out({m.rows, m.cols});
  std::copy(m.data.begin(), m.data.end(), out.mutable_data());
  return out;
}

py::object optional_matrix_object(const std::optional<Matrix>& m) {
  if (!m) return py::none();
  return matrix_object(*m);
}

}  // namespace corvane::pyhost
