// Exports gate sequences read from fuzzed JSON with fuzzed export arguments. The tool's
// JSON reader and the exporter may reject their input with one of the converter's
// errors; anything else (a crash, a hang, a sanitizer report, another exception) is a
// finding. A program that exports imports again unless the sequence or its layout stands
// on a known read-back gap, and export after that import reaches a fixed point. With
// full_language there is no gap: what exports reads back through the language path, and
// exporting what that reads reaches a fixed point.
//
// Input: seven bytes of export arguments, then the JSON form.
//   0  flags: 1 qregs given, 2 cregs given, 4 num_clbits given, 8 equal blocks shared,
//      16 full_language
//   1  num_clbits (signed)
//   2  qreg_name (low four bits) and creg_name (high four bits), as indices into NAMES
//   3  qregs: size of the first register (low four bits) and of a second (high; 0: none)
//   4  cregs: the same
//   5  the names of the qregs (low and high four bits)
//   6  the names of the cregs
#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <variant>
#include <vector>

#include "corvane/backend/qasm/qasm3.hpp"
#include "json_form.hpp"
#include "qasm/records/qasm3_vocabulary.hpp"
#include "read_back.hpp"

namespace {

using corvane::GateBlock;
using corvane::GateSequence;
using corvane::Parameter;
using corvane::QuantumGate;
using corvane::RegisterList;
using corvane::fuzz::check;
namespace qasm3 = corvane::qasm3;

constexpr std::size_t HEADER_BYTES = 7;

// Register names: plain identifiers first, then names a program cannot use as they are
// (gate names, keywords, constants, non-identifiers).
constexpr std::array<std::string_view, 16> NAMES{"q",  "c", "anc", "flag",    "r0",    "data",
                                                 "q",  "c", "h",   "measure", "qubit", "pi",
                                                 "1q", "",  "x y", "U"};
constexpr std::size_t FIRST_UNUSABLE_NAME = 8;

struct ExportArgs {
  qasm3::ExportOptions options;
  bool share_equal_blocks = false;
  bool layout_gap = false;  // names repeated or unusable: the program may not read back
};

class NameUse {
 public:
  std::string name(unsigned index) {
    const std::size_t i = index & 0xFU;
    gap_ = gap_ || i >= FIRST_UNUSABLE_NAME || !seen_.insert(NAMES[i]).second;
    return std::string(NAMES[i]);
  }
  [[nodiscard]] bool gap() const noexcept { return gap_; }

 private:
  std::unordered_set<std::string_view> seen_;
  bool gap_ = false;
};

// Up to two registers: sizes from the two halves of `sizes`, names from those of `names`.
RegisterList registers(std::uint8_t sizes, std::uint8_t names, NameUse& use) {
  RegisterList regs{{use.name(names), sizes & 0xF}};
  if ((sizes >> 4U) != 0) regs.push_back({use.name(names >> 4U), sizes >> 4U});
  return regs;
}

ExportArgs export_args(const std::uint8_t* header) {
  ExportArgs args;
  NameUse use;
  const std::uint8_t flags = header[0];
  if ((flags & 1U) != 0) {
    args.options.qregs = registers(header[3], header[5], use);
  } else {
    args.options.qreg_name = use.name(header[2]);
  }
  if ((flags & 2U) != 0) {
    args.options.cregs = registers(header[4], header[6], use);
  } else {
    args.options.creg_name = use.name(header[2] >> 4U);
  }
  if ((flags & 4U) != 0) args.options.num_clbits = static_cast<std::int8_t>(header[1]);
  args.share_equal_blocks = (flags & 8U) != 0;
  args.options.full_language = (flags & 16U) != 0;
  args.layout_gap = use.gap();
  return args;
}

std::vector<QuantumGate> with_shared_blocks(const std::vector<QuantumGate>& gates,
                                            std::vector<GateBlock>& known);

// The one block among `known` equal to `block`, its own equal blocks shared first.
GateBlock shared_block(const GateBlock& block, std::vector<GateBlock>& known) {
  std::vector<QuantumGate> children = with_shared_blocks(*block, known);
  for (const GateBlock& candidate : known) {
    if (*candidate == children) return candidate;
  }
  known.push_back(corvane::make_block(std::move(children)));
  return known.back();
}

// Equal blocks become one shared block, as the calls of one definition share it after an
// import; the JSON form writes every use out in full.
std::vector<QuantumGate> with_shared_blocks(const std::vector<QuantumGate>& gates,
                                            std::vector<GateBlock>& known) {
  std::vector<QuantumGate> out(gates);
  for (QuantumGate& g : out) {
    if (g.block_gate_sequence())
      g.set_block_gate_sequence(shared_block(g.block_gate_sequence(), known));
  }
  return out;
}

GateSequence with_shared_blocks(const GateSequence& gs) {
  std::vector<GateBlock> known;
  GateSequence out(gs.num_qubits);
  for (QuantumGate& g : with_shared_blocks(gs.data(), known))
    out.add_gate(std::move(g));
  out.qasm_inputs = gs.qasm_inputs;
  return out;
}

// Whether the parameter is written in a printed form rather than as numbers.
bool is_written_as_text(const Parameter& parameter) {
  if (parameter.kind() == Parameter::Kind::Text || parameter.kind() == Parameter::Kind::Array) {
    return true;
  }
  if (parameter.kind() != Parameter::Kind::List) return false;
  for (const corvane::ParamScalar& entry : parameter.as_list()) {
    if (std::holds_alternative<std::string>(entry)) return true;
  }
  return false;
}

// Whether `m` is what a unitary on `targets` qubits reads back from: a finite matrix of
// 2^targets rows and columns.
bool is_unitary_of_targets(const corvane::Matrix& m, std::size_t targets) {
  if (targets >= 31 || m.rows != m.cols || m.rows != std::size_t{1} << targets) return false;
  for (const std::complex<double>& z : m.data) {
    if (!std::isfinite(z.real()) || !std::isfinite(z.imag())) return false;
  }
  return true;
}

// Records whose export does not read back as written: text parameters are copied into
// the program unchecked and arrays written in their printed form, a record with more
// controls than states writes modifiers for the states only, a one-qubit gate with a
// definition of its own is called once on all its targets (or none), and a stored matrix is
// written as it is, whatever its shape, infinities and NaN as bare words.
bool has_read_back_gap(const std::vector<QuantumGate>& gates) {
  for (const QuantumGate& g : gates) {
    if (is_written_as_text(g.parameter) || g.control_state.size() != g.control.size()) return true;
    if (g.target.size() != 1 &&
        corvane::qasm3::detail::contains(corvane::qasm3::detail::NON_STANDARD, g.id)) {
      return true;
    }
    if (const auto& m = g.stored_matrix(); m && !is_unitary_of_targets(*m, g.target.size())) {
      return true;
    }
    if (g.block_gate_sequence() && has_read_back_gap(*g.block_gate_sequence())) return true;
  }
  return false;
}

// The export with full_language of a sequence the language path read, in the layout it
// read, every bit declared; nothing when the exporter refuses it.
std::optional<std::string> export_full_language(const GateSequence& gs) {
  std::int64_t bits = 0;
  for (const corvane::RegisterDecl& reg : gs.qasm_classical_registers.value_or(RegisterList{}))
    bits += reg.size;
  try {
    return qasm3::gate_sequence_to_qasm3(gs, {.num_clbits = bits,
                                              .qregs = gs.qasm_quantum_registers,
                                              .cregs = gs.qasm_classical_registers,
                                              .full_language = true});
  } catch (const qasm3::Error&) {
    // The language path may read huge angles into a matrix or phase that is not finite.
    return std::nullopt;
  }
}

bool has_text_parameter(const std::vector<QuantumGate>& gates) {
  for (const QuantumGate& g : gates) {
    if (is_written_as_text(g.parameter) && g.parameter.kind() != Parameter::Kind::Array) {
      return true;
    }
    if (g.block_gate_sequence() && has_text_parameter(*g.block_gate_sequence())) return true;
    if (g.else_gate_sequence() && has_text_parameter(*g.else_gate_sequence())) return true;
  }
  return false;
}

// Everything full_language writes reads back through the language path, but for text
// parameters, which are the caller's own expressions (names the program does not declare
// among them); exporting what it reads writes a program that reads back to the same
// records and the same text.
void check_full_language_read_back(const GateSequence& gs, const std::string& program) {
  std::optional<GateSequence> read;
  try {
    read = qasm3::lower_to_gate_sequence(program);
  } catch (const qasm3::Error&) {
    check(has_text_parameter(gs.data()));
    return;
  }
  const GateSequence& back = *read;
  const std::optional<std::string> second = export_full_language(back);
  if (!second) return;
  const GateSequence again = qasm3::lower_to_gate_sequence(*second);  // must not throw
  const std::optional<std::string> third = export_full_language(again);
  check(third.has_value() && *third == *second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < HEADER_BYTES) return 0;
  const ExportArgs args = export_args(data);
  const std::string_view json(reinterpret_cast<const char*>(data) + HEADER_BYTES,
                              size - HEADER_BYTES);
  std::optional<GateSequence> gs;
  std::string program;
  try {
    gs = corvane::qasm3::cli::read_gate_sequence_json(json);
    if (args.share_equal_blocks) gs = with_shared_blocks(*gs);
    program = qasm3::gate_sequence_to_qasm3(*gs, args.options);
  } catch (const qasm3::Error&) {
    return 0;  // a clean rejection
  }
  if (args.options.full_language) {
    check_full_language_read_back(*gs, program);
    return 0;
  }
  std::optional<GateSequence> imported;
  try {
    imported = qasm3::qasm3_to_gate_sequence(program);
  } catch (const qasm3::Error&) {
    check(args.layout_gap || has_read_back_gap(gs->data()));
    return 0;
  }
  corvane::fuzz::check_fixed_point(*imported);
  return 0;
}
