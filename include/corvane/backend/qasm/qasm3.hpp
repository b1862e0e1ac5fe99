// OpenQASM 3.0 <-> GateSequence bidirectional converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "corvane/backend/qasm/qasm3_errors.hpp"

namespace corvane::qasm3 {

// Serialises `gs` as one complete OpenQASM 3.0 program. `qreg_name`/`creg_name` name
// the single registers used when `qregs`/`cregs` are absent; `num_clbits` is the number
// of classical bits to declare (raised to what the measurements need).
std::string gate_sequence_to_qasm3(const GateSequence& gs, std::string_view qreg_name = "q",
                                   std::string_view creg_name = "c",
                                   std::optional<std::int64_t> num_clbits = std::nullopt,
                                   const std::optional<RegisterList>& qregs = std::nullopt,
                                   const std::optional<RegisterList>& cregs = std::nullopt);

// The optional arguments of gate_sequence_to_qasm3 by name, with the same defaults, for
// callers who set only some: gate_sequence_to_qasm3(gs, {.cregs = layout}).
struct ExportOptions {
  std::string qreg_name = "q";
  std::string creg_name = "c";
  // Given initializers so that g++'s -Wextra accepts designated initializers that leave
  // these out.
  std::optional<std::int64_t> num_clbits = std::nullopt;
  std::optional<RegisterList> qregs = std::nullopt;
  std::optional<RegisterList> cregs = std::nullopt;
  // Writes the language beyond the gate subset, for the language path to read back record
  // for record: conditioned records (`if`, `while`), `reset`, `unitary` records with their
  // matrix, numbers in the shortest form that reads back to the same double. Refuses with
  // ValueError what would not read back (docs/conversions.md lists the messages).
  bool full_language = false;
};
std::string gate_sequence_to_qasm3(const GateSequence& gs, const ExportOptions& options);

// Reads one OpenQASM 3.0 program (UTF-8) into a new gate sequence, with the declared
// register layout and the measurement map attached.
GateSequence qasm3_to_gate_sequence(std::string_view code);

// The value given for one of the program's `input` declarations: a number, or the text
// of a constant expression (`pi / 2`, `2 * 3`, `-1.5e-3`, `true`, `"0101"`) that lowering
// reads and evaluates as the language does, with the built-in constants and functions
// and nothing the program declares.
class InputValue {
 public:
  // Implicit, so that numbers stand for themselves: {.inputs = {{"theta", 0.5}}}.
  InputValue(double number) noexcept : number_(number) {}  // NOLINT(google-explicit-constructor)
  static InputValue expression(std::string text) {
    InputValue value(0.0);
    value.expression_ = std::move(text);
    return value;
  }

  [[nodiscard]] bool is_expression() const noexcept { return expression_.has_value(); }
  [[nodiscard]] double number() const noexcept { return number_; }
  // The expression's text; empty for a number.
  [[nodiscard]] std::string_view expression_text() const noexcept {
    return expression_ ? std::string_view(*expression_) : std::string_view();
  }

 private:
  double number_;
  std::optional<std::string> expression_;
};

// Options of lower_qasm3 and lower_to_gate_sequence: the values of the program's `input`
// declarations, by name.
// Designated initializers read well: `lower_qasm3(text, {.inputs = {{"theta", 0.5}}})`.
struct LowerOptions {
  std::map<std::string, InputValue, std::less<>> inputs = {};
  // Where `include "name";` finds a file other than the two standard libraries: in the
  // folder of the file that includes it (for the program itself, that of `source_path`;
  // none when it is empty), then in each folder of `include_paths`, in order. Paths are
  // used as written, relative to the working folder or absolute. With neither, no file is
  // read at all. An error in an included file is placed in it (Location::file).
  std::string source_path = {};
  std::vector<std::string> include_paths = {};
  // Every gate of the standard libraries replaced by its definition, down to the built-ins
  // `U` and `gphase`, and every phase kept: a long, slow and literal reading of the
  // program, against which the usual one (named gates, exact inverses, powers, compact
  // controls) is checked.
  bool expand_library_gates = false;
  // The most statements lowering writes, loop passes and repetitions counted too; past it,
  // ValueError. 0 is the default bound: 4,000,000, or 16 statements for each of the
  // program's own where that is more, so that a program of any real size lowers while an
  // expansion that asks for ever more stays bounded.
  std::size_t max_statements = 0;
};

// Rewrites an OpenQASM 3 (or 2) program as written in practice into the plain form that
// qasm3_to_gate_sequence reads: loops unrolled, constants folded, parameterised gates,
// modifiers, broadcasts and standard-library gates the importer does not know spelled
// out, barriers and delays dropped. Lowering its result again gives the same text.
//
// Each `input` declaration takes its value from `options.inputs`: a float or angle input
// any number, a bool, bit, bit[n], int or uint input a whole number its type holds (bool
// also true and false); ValueError names the input otherwise, and names a value given
// for an input the program does not declare.
std::string lower_qasm3(std::string_view program, const LowerOptions& options = {});

// Reads an OpenQASM 3 (or 2) program as written in practice into a new gate sequence:
// record for record what qasm3_to_gate_sequence makes of lower_qasm3's text, with the
// register layout and measurement map set as the importer sets them.
//
// A `float`, `float[n]`, `angle` or `angle[n]` input given no value stays free: a gate
// parameter that depends on it becomes a text entry of the record's parameter list, an
// OpenQASM expression over the input names (their normal form is in the README), and the
// inputs those name are listed in `qasm_inputs` with their types. A free value that
// lowering would need (a loop bound, a condition, a size, a power of a gate without a
// rule for its angle) raises ValueError "No value given for input 'theta'" where it is
// needed.
GateSequence lower_to_gate_sequence(std::string_view program, const LowerOptions& options = {});

// The sequence with every text parameter over its free inputs (`gs.qasm_inputs`) evaluated
// with `values`: the very numbers that lowering the program with those values gives (an
// angle[n] input rounded to its width as there), and no free inputs left. ValueError for a
// free input without a value, a value for a name that is no free input, and an expression
// that cannot be evaluated (its error's kind, the expression quoted in the message).
GateSequence bind_parameters(const GateSequence& gs,
                             const std::map<std::string, InputValue, std::less<>>& values);

// The names of the sequence's free inputs, sorted.
std::vector<std::string> free_parameters(const GateSequence& gs);

}  // namespace corvane::qasm3
