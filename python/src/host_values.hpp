// Conversions between Python values and the gate model's C++ values. Every function here
// runs with the GIL held; the converters check the kind of each value and raise TypeError
// with a message that names the offending argument.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"

// The binding to Python, the host that calls the converter, lives in corvane::pyhost.
namespace corvane::pyhost {

namespace py = pybind11;

// Raises TypeError("<what> must be <expected>, not <type of value>").
[[noreturn]] void raise_wrong_kind(std::string_view what, std::string_view expected,
                                   py::handle value);

bool is_list_or_tuple(py::handle value);

// The UTF-8 text of a str; the view lives as long as the str object.
std::string_view text_arg(py::handle value, std::string_view what);
// An integer through the index protocol (int, bool, numpy integers; not float).
std::int64_t integer_arg(py::handle value, std::string_view what);
std::optional<std::int64_t> optional_integer_arg(py::handle value, std::string_view what);

// A list or tuple of (name, size) pairs, or None.
std::optional<RegisterList> register_list_arg(py::handle value, std::string_view what);
py::list register_list_object(const RegisterList& regs);
py::list measure_map_object(const std::vector<MeasurePair>& pairs);

// Any iterable of integers.
IndexList index_list_arg(py::handle value, std::string_view what);
// Any iterable of real numbers (bool, int, float, numpy scalars): integers as they are,
// every other entry 1 when it equals 1 and 0 otherwise.
IndexList control_state_arg(py::handle value, std::string_view what);
py::tuple index_tuple(const IndexList& indices);

// None, bool, int, float, str, numpy scalars, lists and tuples of those, numpy arrays.
Parameter parameter_arg(py::handle value);
py::object parameter_object(const Parameter& param);

// Anything numpy turns into a complex array. A 0-d array is 1x1, a 1-d array one row,
// and a higher-dimensional one keeps its entries in row-major order over shape[0] rows.
Matrix matrix_arg(py::handle value);
std::optional<Matrix> optional_matrix_arg(py::handle value);
py::array_t<std::complex<double>> matrix_object(const Matrix& m);
py::object optional_matrix_object(const std::optional<Matrix>& m);

}  // namespace corvane::pyhost
