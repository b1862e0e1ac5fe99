// The matrices records carry: an explicit `unitary` matrix, written as its entries row by
// row, each as a real and an imaginary part, and the stored matrix of a gate id.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"

namespace corvane::qasm3::detail {

// The dimension d of the square matrix that `params` (absent or empty: no values)
// encodes as 2·d·d values. ValueError for no values, an odd count, or a count that is
// no square.
std::int64_t unitary_dim_from_params(const std::vector<double>& params);
std::int64_t unitary_dim_from_params(const std::optional<std::vector<double>>& params);
// The qubits the matrix acts on; ValueError besides when d is no power of two.
int unitary_target_count(const std::vector<double>& params);
int unitary_target_count(const std::optional<std::vector<double>>& params);
// The row-major d x d matrix of real/imaginary pairs; d need not be a power of two.
Matrix decode_unitary_matrix(const std::vector<double>& params);

// The stored matrix of `gate_id` (looked up lower-cased); absent for "block", for ids
// without an entry, and for matrix functions when `parameter` is absent.
std::optional<Matrix> resolve_matrix_q3(std::string_view gate_id, const Parameter& parameter);

}  // namespace corvane::qasm3::detail
