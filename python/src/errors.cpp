#include "errors.hpp"

#include <array>
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

}  // namespace

// Takes its argument by value: that is the signature pybind11 calls translators with.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void translate_converter_errors(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const qasm3::Error& e) {
    PyErr_SetString(python_exception(e.kind()), e.what());
  }
}

void set_python_error() {
  try {
    throw;
  } catch (const qasm3::Error& e) {
    PyErr_SetString(python_exception(e.kind()), e.what());
  } catch (...) {
    py::detail::translate_exception(std::current_exception());
  }
}

}  // namespace corvane::pyhost
