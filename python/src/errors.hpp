// C++ exceptions as Python exceptions: the converter's error kinds become Python's
// built-in exceptions of the same name; everything else follows pybind11's rules.
#pragma once

#include <pybind11/pybind11.h>

#include <exception>

namespace corvane::pyhost {

namespace py = pybind11;

// For py::register_exception_translator: translates the converter's errors, rethrows the rest.
void translate_converter_errors(std::exception_ptr error);

// Sets the Python error for the exception in flight; for entry points called by Python
// directly rather than through pybind11.
void set_python_error();

// Runs `body` and returns its result; on an exception sets the Python error and returns
// `failed` instead. C++ exceptions must not cross into the interpreter.
template <class Result, class Body>
Result guarded(Result failed, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    set_python_error();
    return failed;
  }
}

}  // namespace corvane::pyhost
