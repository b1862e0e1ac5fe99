// The record rules both readers share: native gates and how a call splits, explicit
// matrices, definitions as shared blocks, register layout and the measure map.
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/qasm/qasm3.hpp"
#include "qasm/records/explicit_matrix.hpp"
#include "test_support.hpp"

namespace {

using namespace corvane::qasm3::detail;
using corvane::GateBlock;
using corvane::GateSequence;
using corvane::IndexList;
using corvane::MeasurePair;
using corvane::Parameter;
using corvane::QuantumGate;
using corvane::RegisterDecl;
using corvane::RegisterList;

// ================================================================== explicit matrices

TEST(ExplicitMatrix, DimensionAndQubitsFromTheValueCount) {
  const std::string requires_values =
      "ValueError: unitary gate requires flattened matrix parameters";
  const std::string pairs = "ValueError: unitary parameters must be real/imaginary pairs";
  struct Row {
    std::size_t count;
    std::string dim;
    std::string targets;
  };
  const std::vector<Row> rows = {
      {0, requires_values, requires_values},
      {1, pairs, pairs},
      {7, pairs, pairs},
      {4, "ValueError: unitary parameter count 4 does not encode a square matrix",
       "ValueError: unitary parameter count 4 does not encode a square matrix"},
      {6, "ValueError: unitary parameter count 6 does not encode a square matrix",
       "ValueError: unitary parameter count 6 does not encode a square matrix"},
      {2, "1", "0"},
      {8, "2", "1"},
      {50, "5", "ValueError: unitary matrix dimension 5 must be a power of two"},
      {512, "16", "4"},
      {2 * 64 * 64, "64", "6"},
  };
  for (const Row& row : rows) {
    const std::vector<double> values(row.count, 0.25);
    const auto as_text = [](auto n) { return std::to_string(n); };
    std::string dim;
    std::string targets;
    const std::string dim_outcome =
        outcome_of([&] { dim = as_text(unitary_dim_from_params(values)); });
    const std::string targets_outcome =
        outcome_of([&] { targets = as_text(unitary_target_count(values)); });
    EXPECT_EQ(dim_outcome == "ok" ? dim : dim_outcome, row.dim) << row.count;
    EXPECT_EQ(targets_outcome == "ok" ? targets : targets_outcome, row.targets) << row.count;
    // Absent values read as none; present ones as themselves.
    const std::optional<std::vector<double>> given(values);
    EXPECT_EQ(outcome_of([&] { unitary_target_count(given); }),
              outcome_of([&] { unitary_target_count(values); }));
  }
  EXPECT_EQ(outcome_of([] { unitary_target_count(std::optional<std::vector<double>>{}); }),
            requires_values);
}

}  // namespace
