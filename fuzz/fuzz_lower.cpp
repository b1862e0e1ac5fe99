// Lowers arbitrary bytes as a program. Lowering may reject its input with one of the
// converter's errors; anything else (a crash, a hang, a sanitizer report, another
// exception) is a finding. Whatever lowering returns must import and lower again to
// itself; and a program that both the importer and lowering read must import the same
// either way, where the two read the same language.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "corvane/backend/qasm/qasm3.hpp"

namespace {

using corvane::GateSequence;
namespace qasm3 = corvane::qasm3;

void check(bool ok) {
  if (!ok) std::abort();
}

// A bit declaration with an initialiser (`bit[2] c = measure q;`): the importer skips
// the whole statement, lowering declares and measures.
bool initialises_bits(std::string_view text) {
  for (std::size_t at = text.find("bit"); at != std::string_view::npos;
       at = text.find("bit", at + 1)) {
    const std::string_view rest = text.substr(at, text.find(';', at) - at);
    if (rest.find('=') != std::string_view::npos) return true;
  }
  return false;
}

// A definition named like a standard gate of more than one qubit: the importer keeps that
// gate's controls (`gate cx a, b { ... }` is called with a control), lowering does not.
bool redefines_a_controlled_name(std::string_view text) {
  static constexpr std::string_view NAMES[] = {"cx",  "cy",  "cz",  "ch", "cnot", "cp",
                                               "crx", "cry", "crz", "cu", "ccx",  "cswap"};
  for (std::size_t at = text.find("gate"); at != std::string_view::npos;
       at = text.find("gate", at + 1)) {
    const std::size_t name = text.find_first_not_of(" \t\r\n", at + 4);
    if (name == std::string_view::npos) break;
    const std::string_view rest = text.substr(name);
    for (const std::string_view standard : NAMES) {
      if (rest.starts_with(standard)) return true;
    }
  }
  return false;
}

// Where lowering reads a program differently from the importer by design: dropped
// barriers, delays, nops and pragmas (the importer takes `nop q` and `pragma q` for gate
// calls), standard-library gates replaced by their definitions, integer
// division (the importer divides every number as a double), OpenQASM 2 declarations
// (the importer takes `qreg q[2]` for a call of a gate `qreg`), initialised bits and
// definitions named like controlled standard gates.
bool reads_differently(std::string_view text) {
  static constexpr std::string_view MARKERS[] = {
      "barrier", "delay", "/",   "u1",   "u2",   "u3",  "u0",    "cphase",
      "cu1",     "cu3",   "rzz", "rxx",  "sxdg", "c3",  "c4x",   "rccx",
      "rc3x",    "csx",   "CX",  "qreg", "creg", "nop", "pragma"};
  for (const std::string_view marker : MARKERS) {
    if (text.find(marker) != std::string_view::npos) return true;
  }
  return initialises_bits(text) || redefines_a_controlled_name(text);
}

bool same_import(const GateSequence& a, const GateSequence& b) {
  return a.num_qubits == b.num_qubits && a.data() == b.data() &&
         a.qasm_quantum_registers == b.qasm_quantum_registers &&
         a.qasm_classical_registers == b.qasm_classical_registers &&
         a.qasm_measure_map == b.qasm_measure_map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string lowered;
  try {
    lowered = qasm3::lower_qasm3(text);
  } catch (const qasm3::Error&) {
    return 0;  // a clean rejection
  }
  const GateSequence through_lowering = qasm3::qasm3_to_gate_sequence(lowered);  // must not throw
  check(qasm3::lower_qasm3(lowered) == lowered);

  if (reads_differently(text)) return 0;
  std::optional<GateSequence> direct;
  try {
    direct = qasm3::qasm3_to_gate_sequence(text);
  } catch (const qasm3::Error&) {
    return 0;
  }
  check(same_import(*direct, through_lowering));
  return 0;
}
