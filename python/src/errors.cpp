#include "errors.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "corvane/backend/qasm/qasm3.hpp"

namespace corvane::pyhost {

namespace {

PyObject* python_exception(std::string_view kind) {
  const std::array<std::pair<std::string_view, PyObject*>, 8> kinds{{
      {"ValueError", PyExc_ValueError},
      {"NotImplementedError", PyExc_NotImplementedError},
      {"RuntimeError", PyExc_RuntimeError},
      {"TypeError", PyExc_TypeError},
      {"SyntaxError", PyExc_SyntaxError},
      {"ZeroDivisionError", PyExc_ZeroDivisionError},
      {"OverflowError", PyExc_OverflowError},
      {"RecursionError", PyExc_RecursionError},
  }};
  for (const auto& [name, exception] : kinds) {
    if (name == kind) return exception;
  }
  return PyExc_RuntimeError;
}

// Python's attribute for a place coordinate: the number, or None without a place.
py::object coordinate(const std::optional<qasm3::Location>& where,
                      std::size_t qasm3::Location::*part) {
  if (!where) return py::none();
  return py::int_((*where).*part);
}

// Raises the Python exception of the error's kind with its message as the only argument
// (so that str() is the message), its place as the attributes `line` and `column` and
// `file` (the path of a file the program includes, None for the program itself), and on
// Python 3.11 and later the note "line L, column C" (behind "FILE, " in an included file)
// that tracebacks show. SyntaxError's own lineno and offset stay unset: they would change
// its str().
void set_converter_error(const qasm3::Error& e) {
  PyObject* const type = python_exception(e.kind());
  try {
    const py::object error =
        py::reinterpret_steal<py::object>(PyObject_CallFunction(type, "s", e.what()));
    if (!error) throw py::error_already_set();
    const auto& where = e.location();
    error.attr("line") = coordinate(where, &qasm3::Location::line);
    error.attr("column") = coordinate(where, &qasm3::Location::column);
    error.attr("file") =
        where && !where->file.empty() ? py::object(py::str(where->file)) : py::object(py::none());
    if (where && py::hasattr(error, "add_note")) {
      const std::string in_file = where->file.empty() ? "" : where->file + ", ";
      error.attr("add_note")(in_file + "line " + std::to_string(where->line) + ", column " +
                             std::to_string(where->column));
    }
    PyErr_SetObject(type, error.ptr());
  } catch (py::error_already_set& failed) {
    failed.restore();
  }
}

}  // namespace

// Takes its argument by value: that is the signature pybind11 calls translators with.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void translate_converter_errors(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const qasm3::Error& e) {
    set_converter_error(e);
  }
}

void set_python_error() {
  try {
    throw;
  } catch (const qasm3::Error& e) {
    set_converter_error(e);
  } catch (...) {
    py::detail::translate_exception(std::current_exception());
  }
}

}  // namespace corvane::pyhost
