// Lowers arbitrary bytes as a program. Lowering may reject its input with one of the
// converter's errors; anything else (a crash, a hang, a sanitizer report, another
// exception) is a finding. Whatever lowering returns must import and lower again to
// itself, and lowering straight to records must give the records it imports as (or, for a
// program with blocks on measured bits, which the importer does not read, the records that
// lowering reads its own result as); a small
// program must do what the reference lowering (every standard gate spelled
// out from its definition) says it does; and a program that both the importer and lowering
// read must import the same either way, where the two read the same language.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/gatesequence/circuit_unitary.hpp"
#include "corvane/backend/qasm/qasm3.hpp"
#include "importer_reads_otherwise.hpp"
#include "qasm/lower/lower.hpp"
#include "same_records.hpp"

namespace {

using corvane::GateSequence;
using corvane::Matrix;
using corvane::QuantumGate;
namespace qasm3 = corvane::qasm3;
namespace lower = corvane::qasm3::detail::lower;

// Stops the run with what failed and the program that made it fail.
void check(bool ok, const char* what, std::string_view program) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_lower: %s\n---- program\n%.*s\n----\n", what,
               static_cast<int>(program.size()), program.data());
  __builtin_trap();
}

// ------------------------------------------------------------------ lowering
// Lowering bounded to 100,000 statements instead of 4,000,000: a program that loops forever
// then stops in a fraction of a second under the sanitizers, not in seconds. The bound
// itself is reached the same way.
constexpr std::size_t MOST_STATEMENTS_LOWERED = 100'000;

bool same_import(const GateSequence& a, const GateSequence& b) {
  return a.num_qubits == b.num_qubits && a.data() == b.data() &&
         a.qasm_quantum_registers == b.qasm_quantum_registers &&
         a.qasm_classical_registers == b.qasm_classical_registers &&
         a.qasm_measure_map == b.qasm_measure_map;
}

// ------------------------------------------------------------------ what a circuit does
// Small circuits only: a unitary of 6 qubits is 4096 entries, and every gate applied
// touches all of them.
constexpr std::int64_t MOST_QUBITS_SIMULATED = 6;
constexpr std::size_t MOST_GATES_SIMULATED = 20'000;
// Past this size an angle's rounding (about 1e-16 of it) is no longer small next to the
// tolerance, and two correct ways of computing one circuit may differ.
constexpr double LARGEST_ANGLE = 1e6;
constexpr double TOLERANCE = 1e-8;

// The gates that computing the unitary applies, blocks counted at every call; stops
// counting past `limit`.
std::size_t gates_applied(const std::vector<QuantumGate>& gates, std::size_t limit) {
  std::size_t count = 0;
  for (const QuantumGate& g : gates) {
    if (++count > limit) break;
    if (g.block_gate_sequence()) count += gates_applied(*g.block_gate_sequence(), limit - count);
  }
  return count;
}

// Whether every number the lowered text writes is at most LARGEST_ANGLE in size.
bool writes_moderate_numbers(std::string_view lowered) {
  for (const corvane::fuzz::Token& token : corvane::fuzz::tokens_of(lowered)) {
    if (!token.word || token.text[0] < '0' || token.text[0] > '9') continue;
    double value = 0;
    std::from_chars(token.text.data(), token.text.data() + token.text.size(), value);
    if (!(std::abs(value) <= LARGEST_ANGLE)) return false;
  }
  return true;
}

// The unitary of a lowered program, where it is small and has one (no measurement in the
// middle, no reset, no matrix the simulator refuses).
std::optional<Matrix> small_unitary(const GateSequence& gs, std::string_view lowered) {
  if (gs.num_qubits > MOST_QUBITS_SIMULATED ||
      gates_applied(gs.data(), MOST_GATES_SIMULATED) > MOST_GATES_SIMULATED ||
      !writes_moderate_numbers(lowered)) {
    return std::nullopt;
  }
  try {
    return corvane::circuit_unitary(gs);
  } catch (const qasm3::Error&) {
    return std::nullopt;
  }
}

// Whether `actual` is `expected` times one phase, to TOLERANCE of the matrices' scale.
bool equal_up_to_a_phase(const Matrix& actual, const Matrix& expected) {
  if (actual.rows != expected.rows || actual.cols != expected.cols) return false;
  double scale = 1;
  std::size_t largest = 0;
  for (std::size_t k = 0; k < expected.data.size(); ++k) {
    if (!std::isfinite(std::abs(expected.data[k])) || !std::isfinite(std::abs(actual.data[k]))) {
      return true;  // overflowed: nothing to compare
    }
    if (std::abs(expected.data[k]) > std::abs(expected.data[largest])) largest = k;
    scale = std::max({scale, std::abs(expected.data[k]), std::abs(actual.data[k])});
  }
  const std::complex<double> phase = expected.data[largest] == 0.0
                                         ? std::complex<double>(1)
                                         : actual.data[largest] / expected.data[largest];
  if (std::abs(std::abs(phase) - 1) > TOLERANCE) return false;
  for (std::size_t k = 0; k < expected.data.size(); ++k) {
    if (std::abs(actual.data[k] - phase * expected.data[k]) > TOLERANCE * scale) return false;
  }
  return true;
}

// A small program's lowered circuit against the one the reference lowering gives.
void check_against_the_reference(std::string_view text, const GateSequence& through_lowering,
                                 std::string_view lowered) {
  const std::optional<Matrix> optimised = small_unitary(through_lowering, lowered);
  if (!optimised) return;
  std::string reference_text;
  try {
    // Bounded so that a gate spelled out many times stays cheap.
    reference_text =
        lower::lower_program(text, {.expand_library_gates = true}, MOST_GATES_SIMULATED);
  } catch (const qasm3::Error&) {
    return;  // refused, or longer than is worth simulating
  }
  const GateSequence reference = qasm3::qasm3_to_gate_sequence(reference_text);  // must not throw
  const std::optional<Matrix> expected = small_unitary(reference, reference_text);
  if (!expected) return;
  check(equal_up_to_a_phase(*optimised, *expected), "another circuit than the reference's", text);
}

// Conditioned records stand at the top level or in other conditioned records only.
bool has_conditioned_records(const GateSequence& gs) {
  return std::any_of(gs.data().begin(), gs.data().end(),
                     [](const QuantumGate& g) { return g.condition().has_value(); });
}

// ------------------------------------------------------------------ free inputs
// A program with free inputs, which the importer cannot read: its text lowers to itself,
// and binding values to the free inputs gives what lowering with the values gives, record
// for record, or fails where that fails.
void check_free_parameters(std::string_view text, const std::string& once,
                           const GateSequence& free) {
  check(qasm3::lower_qasm3(once) == once, "lowering its result changes it", text);
  check(corvane::fuzz::first_record_difference(
            qasm3::lower_to_gate_sequence(once, {.max_statements = MOST_STATEMENTS_LOWERED}), free)
            .empty(),
        "lowers its lowered text to other records", text);
  std::map<std::string, qasm3::InputValue, std::less<>> values;
  for (const std::string& name : qasm3::free_parameters(free))
    values.emplace(name, 0.375);
  std::optional<GateSequence> direct;
  try {
    direct = qasm3::lower_to_gate_sequence(
        text, {.inputs = values, .max_statements = MOST_STATEMENTS_LOWERED});
  } catch (const qasm3::Error&) {
  }
  std::optional<GateSequence> bound;
  try {
    bound = qasm3::bind_parameters(free, values);
  } catch (const qasm3::Error&) {
  }
  check(direct.has_value() == bound.has_value(),
        "binding fails where lowering with the values does not, or the other way", text);
  if (!direct) return;
  check(corvane::fuzz::first_record_difference(*bound, *direct).empty(),
        "binds to other records than lowering with the values gives", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string once;
  try {
    once = lower::lower_program(text, {}, MOST_STATEMENTS_LOWERED);
  } catch (const qasm3::Error&) {
    return 0;  // a clean rejection
  }
  if (once.find("\ninput ") != std::string::npos) {
    const GateSequence free =
        qasm3::lower_to_gate_sequence(text, {.max_statements = MOST_STATEMENTS_LOWERED});
    check(!free.qasm_inputs.empty(), "declares free inputs its records do not name", text);
    check_free_parameters(text, once, free);
    return 0;
  }
  check(qasm3::lower_qasm3(once) == once, "lowering its result changes it", text);
  const GateSequence direct_records =
      qasm3::lower_to_gate_sequence(text, {.max_statements = MOST_STATEMENTS_LOWERED});
  if (has_conditioned_records(direct_records)) {
    // The importer reads no `if`: lowering reads its own text as the records it gave.
    const GateSequence again =
        qasm3::lower_to_gate_sequence(once, {.max_statements = MOST_STATEMENTS_LOWERED});
    check(corvane::fuzz::first_record_difference(direct_records, again).empty(),
          "lowers its lowered text to other records", text);
    return 0;
  }
  const GateSequence through_lowering = qasm3::qasm3_to_gate_sequence(once);  // must not throw
  check(corvane::fuzz::first_record_difference(direct_records, through_lowering).empty(),
        "lowers to other records than its lowered text imports as", text);
  check_against_the_reference(text, through_lowering, once);

  if (corvane::fuzz::importer_reads_otherwise(text)) return 0;
  std::optional<GateSequence> direct;
  try {
    direct = qasm3::qasm3_to_gate_sequence(text);
  } catch (const qasm3::Error&) {
    return 0;
  }
  check(same_import(*direct, through_lowering), "imports otherwise than lowered", text);
  return 0;
}
