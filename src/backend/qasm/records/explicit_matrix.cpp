#include "qasm/records/explicit_matrix.hpp"

#include <utf8proc.h>

#include <bit>
#include <cmath>
#include <complex>
#include <string>
#include <utility>

#include "corvane/backend/pygates/unitary.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {
namespace {

// Full Unicode lower-casing of a gate id: per code point, plus the one unconditional
// expansion (U+0130 -> "i" U+0307). The final-sigma form never turns a text into a
// different ASCII key, so the plain sigma stands for it.
std::string lower_gate_id(std::string_view id) {
  std::string out;
  out.reserve(id.size());
  for (std::size_t pos = 0; pos < id.size();) {
    const auto byte = static_cast<unsigned char>(id[pos]);
    if (byte < 0x80) {
      out += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte);
      ++pos;
      continue;
    }
    const CodePoint cp = decode_at(id, pos);
    pos += static_cast<std::size_t>(cp.length);
    if (cp.value == U'\u0130') {
      out += 'i';
      append_utf8(out, U'\u0307');
      continue;
    }
    append_utf8(out,
                static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(cp.value))));
  }
  return out;
}

// The values of a parameter list, none when it is absent; never a copy.
const std::vector<double>& values_of(const std::optional<std::vector<double>>& params) {
  static const std::vector<double> no_values;
  return params ? *params : no_values;
}

}  // namespace

std::int64_t unitary_dim_from_params(const std::vector<double>& params) {
  if (params.empty()) raise_value_error("unitary gate requires flattened matrix parameters");
  const auto count = static_cast<std::int64_t>(params.size());
  if (count % 2 != 0) raise_value_error("unitary parameters must be real/imaginary pairs");
  const std::int64_t entries = count / 2;
  const auto dim =
      static_cast<std::int64_t>(std::llround(std::pow(static_cast<double>(entries), 0.5)));
  if (dim * dim != entries) {
    raise_value_error("unitary parameter count " + int_text(count) +
                      " does not encode a square matrix");
  }
  return dim;
}

std::int64_t unitary_dim_from_params(const std::optional<std::vector<double>>& params) {
  return unitary_dim_from_params(values_of(params));
}

int unitary_target_count(const std::vector<double>& params) {
  const std::int64_t dim = unitary_dim_from_params(params);
  const int targets = static_cast<int>(std::bit_width(static_cast<std::uint64_t>(dim))) - 1;
  if ((std::int64_t{1} << targets) != dim) {
    raise_value_error("unitary matrix dimension " + int_text(dim) + " must be a power of two");
  }
  return targets;
}

int unitary_target_count(const std::optional<std::vector<double>>& params) {
  return unitary_target_count(values_of(params));
}

Matrix decode_unitary_matrix(const std::vector<double>& params) {
  const auto dim = static_cast<std::size_t>(unitary_dim_from_params(params));
  std::vector<std::complex<double>> entries;
  entries.reserve(dim * dim);
  for (std::size_t k = 0; k + 1 < params.size(); k += 2)
    entries.emplace_back(params[k], params[k + 1]);
  return Matrix(dim, dim, std::move(entries));
}

std::optional<Matrix> resolve_matrix_q3(std::string_view gate_id, const Parameter& parameter) {
  const std::string key = lower_gate_id(gate_id);
  if (key == "block") return std::nullopt;  // blocks have no stored matrix
  const GateMatrixEntry* entry = gate_set().get(key);
  if (entry == nullptr) return std::nullopt;
  if (entry->is_function()) {
    if (parameter.is_absent()) return std::nullopt;
    return entry->of_parameter(parameter);
  }
  return entry->fixed;
}

}  // namespace corvane::qasm3::detail
