// Helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "corvane/backend/qasm/qasm3.hpp"

// What the exporter and lower_qasm3 write before the program's own statements.
inline constexpr std::string_view HEADER = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";

// Expects `stmt` to throw exactly `Kind` (a corvane::qasm3 error class) with message `msg`.
#define EXPECT_THROW_MSG(stmt, Kind, msg)                                            \
  do {                                                                               \
    try {                                                                            \
      stmt;                                                                          \
      ADD_FAILURE() << "expected " #Kind " \"" << (msg) << "\", nothing was thrown"; \
    } catch (const corvane::qasm3::Kind& e_) {                                       \
      EXPECT_EQ(std::string(e_.what()), std::string(msg));                           \
    } catch (const corvane::qasm3::Error& e_) {                                      \
      ADD_FAILURE() << "expected " #Kind ", got " << e_.kind() << ": " << e_.what(); \
    }                                                                                \
  } while (false)

// Kind name and message of the error `fn` raises, as "<Kind>: <message>"; "ok" if none.
// With `placed`, behind "<line>:<column>: " when the error has a place in the program text.
template <class Fn>
std::string outcome_of(Fn&& fn, bool placed = false) {
  try {
    fn();
    return "ok";
  } catch (const corvane::qasm3::Error& e) {
    const auto& where = e.location();
    const std::string place =
        placed && where ? std::to_string(where->line) + ":" + std::to_string(where->column) + ": "
                        : "";
    return place + e.kind() + ": " + e.what();
  }
}

// `times` copies of `piece`, for the long and hostile inputs.
inline std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i)
    out.append(piece);
  return out;
}

// The largest distance between corresponding entries; infinite for different shapes.
inline double distance(const corvane::Matrix& a, const corvane::Matrix& b) {
  if (a.rows != b.rows || a.cols != b.cols) return INFINITY;
  double worst = 0.0;
  for (std::size_t i = 0; i < a.data.size(); ++i)
    worst = std::max(worst, std::abs(a.data[i] - b.data[i]));
  return worst;
}

// Random numbers for the property tests, seeded so that every run checks the same cases:
// splitmix64, the same sequence on every platform.
class SeededRandom {
 public:
  explicit SeededRandom(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27U)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31U);
  }
  // Below `n` (positive).
  std::int64_t below(std::int64_t n) {
    return static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(n));
  }
  bool chance(int percent) { return below(100) < percent; }
  // In [0, 1), with 53 random bits.
  double unit() { return static_cast<double>(next() >> 11U) * 0x1p-53; }
  // `count` distinct values below `n` (count <= n), in the order drawn: the qubits of a
  // generated record.
  corvane::IndexList distinct_below(std::int64_t n, std::size_t count) {
    corvane::IndexList values;
    while (values.size() < count) {
      const std::int64_t v = below(n);
      if (std::find(values.begin(), values.end(), v) == values.end()) values.push_back(v);
    }
    return values;
  }

 private:
  std::uint64_t state_;
};

// Records and sequences built by hand, for the tests of what takes a gate sequence.
namespace hand_built {

inline corvane::QuantumGate gate(std::string id, corvane::IndexList targets,
                                 corvane::IndexList controls = {}, corvane::IndexList states = {},
                                 corvane::Parameter parameter = {}) {
  return {std::move(id), std::move(targets), std::move(controls), std::move(states),
          std::move(parameter)};
}

// A block record of `body` on `targets`, the way a definition's calls are held.
inline corvane::QuantumGate block(corvane::IndexList targets,
                                  std::vector<corvane::QuantumGate> body,
                                  corvane::IndexList controls = {},
                                  corvane::IndexList states = {}) {
  corvane::QuantumGate b =
      gate("block", std::move(targets), std::move(controls), std::move(states));
  b.set_block_gate_sequence(corvane::make_block(std::move(body)));
  return b;
}

// A measurement of one qubit into one bit, named as the importer names it.
inline corvane::QuantumGate measure(std::int64_t qubit, std::int64_t bit) {
  corvane::QuantumGate m("measure", {qubit});
  m.set_classical_target(corvane::IndexList{bit});
  m.set_name("measure");
  return m;
}

inline corvane::GateSequence sequence(std::int64_t qubits,
                                      std::vector<corvane::QuantumGate> gates) {
  corvane::GateSequence gs(qubits);
  for (corvane::QuantumGate& g : gates)
    gs.add_gate(std::move(g));
  return gs;
}

}  // namespace hand_built
