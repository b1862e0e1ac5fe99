// Helpers shared by the lowering front end's tests: table row names, the two public
// lowering paths held to one outcome, and the standard gates' matrices for the tests that
// compute what a circuit does.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/qasm/qasm3.hpp"
#include "qasm/lower/gate_matrices.hpp"
#include "test_support.hpp"

namespace qasm3 = corvane::qasm3;
namespace lower = corvane::qasm3::detail::lower;

namespace lower_test {

// The test name of a table row: its `name`.
template <class Row>
std::string row_name(const testing::TestParamInfo<Row>& info) {
  return info.param.name;
}

// A table row: what goes in (a program, an expression, a condition) and what is expected
// of it (the lowered text, a tree, or how lowering ends: "ok", or
// "<line>:<column>: <Kind>: <message>", no place where the error has none).
struct Row {
  std::string name;
  std::string input;
  std::string expected = {};
};

// A failing row is shown by its name.
inline void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

inline std::string text_outcome(const std::string& program,
                                const qasm3::LowerOptions& options = {}) {
  return outcome_of([&] { qasm3::lower_qasm3(program, options); }, /*placed=*/true);
}

// Both public paths, to text and to records, must end the same way: a refusal with one
// kind, message and place whichever the caller took.
inline void expect_both_paths(const std::string& program, const std::string& outcome,
                              const qasm3::LowerOptions& options = {}) {
  EXPECT_EQ(text_outcome(program, options), outcome) << "lower_qasm3:\n" << program;
  EXPECT_EQ(outcome_of([&] { qasm3::lower_to_gate_sequence(program, options); }, true), outcome)
      << "lower_to_gate_sequence:\n"
      << program;
}

// Expects `program` to lower to ::HEADER + `body`, and that text to lower to itself.
inline void expect_lowers_to(const std::string& program, const std::string& body,
                             const qasm3::LowerOptions& options = {}) {
  const std::string lowered = qasm3::lower_qasm3(program, options);
  EXPECT_EQ(lowered, std::string(HEADER) + body);
  EXPECT_EQ(qasm3::lower_qasm3(lowered), lowered) << "lowered again";
}

// The matrix the language reference defines for a standard gate.
inline lower::SquareMatrix standard_matrix(const std::string& name,
                                           std::vector<double> parameters = {}) {
  const auto m = lower::standard_gate_matrix(name, parameters);
  if (!m) throw std::runtime_error("no matrix for " + name);
  return *m;
}

// `base` under `controls` more controls, its first operands (the low bits), all on 1 or, with
// `on_one` false, all on 0.
inline lower::SquareMatrix controlled(const lower::SquareMatrix& base, std::size_t controls = 1,
                                      bool on_one = true) {
  const std::size_t mask = on_one ? (std::size_t{1} << controls) - 1 : 0;
  lower::SquareMatrix m = lower::SquareMatrix::identity(base.dimension << controls);
  for (std::size_t row = 0; row < base.dimension; ++row) {
    for (std::size_t column = 0; column < base.dimension; ++column)
      m.at((row << controls) | mask, (column << controls) | mask) = base.at(row, column);
  }
  return m;
}

inline lower::SquareMatrix times(lower::SquareMatrix m, lower::Complex factor) {
  for (lower::Complex& entry : m.entries)
    entry *= factor;
  return m;
}

}  // namespace lower_test
