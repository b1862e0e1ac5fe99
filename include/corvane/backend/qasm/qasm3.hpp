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

#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::qasm3 {

// A place in a program text: line and column count from 1 (columns in Unicode code
// points, a tab being one), offset is the 0-based byte offset.
struct Location {
  std::size_t line = 0;
  std::size_t column = 0;
  std::size_t offset = 0;
  friend bool operator==(const Location&, const Location&) = default;
};

// Base of every error the converter raises. kind() names the error class
// ("ValueError", "NotImplementedError", ...); what() is the exact message, which
// never includes the place; location() is where in the program text the error
// arose, empty for errors that belong to no one place (and for every export error).
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  [[nodiscard]] virtual const char* kind() const noexcept = 0;
  [[nodiscard]] const std::optional<Location>& location() const noexcept { return location_; }
  // Readers attach the place where they catch an error on its way out of a statement
  // or an expression; the innermost place, attached first, is the one that stays.
  void set_location_once(const Location& where) noexcept {
    if (!location_) location_ = where;
  }

 private:
  std::optional<Location> location_;
};

// The class name cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define CORVANE_QASM3_ERROR_KIND(Name)                                         \
  class Name : public Error {                                                  \
   public:                                                                     \
    using Error::Error;                                                        \
    [[nodiscard]] const char* kind() const noexcept override { return #Name; } \
  };

// Malformed or inconsistent input.
CORVANE_QASM3_ERROR_KIND(ValueError)
// A construct the converter does not support.
CORVANE_QASM3_ERROR_KIND(NotImplementedError)
// The definition scan gave up on a pathological text.
CORVANE_QASM3_ERROR_KIND(RuntimeError)
// An argument of the wrong kind.
CORVANE_QASM3_ERROR_KIND(TypeError)
// A parameter expression that is not well formed.
CORVANE_QASM3_ERROR_KIND(SyntaxError)
// A parameter expression divides by zero.
CORVANE_QASM3_ERROR_KIND(ZeroDivisionError)
// A number in a parameter expression is too large.
CORVANE_QASM3_ERROR_KIND(OverflowError)
// Nesting (blocks, definitions) deeper than the converter processes.
CORVANE_QASM3_ERROR_KIND(RecursionError)

// NOLINTEND(bugprone-macro-parentheses)
#undef CORVANE_QASM3_ERROR_KIND

// The deepest nesting of blocks in blocks (and of definitions calling definitions) that
// the conversions follow; one level deeper fails with RecursionError(RECURSION_MESSAGE).
inline constexpr int MAX_NESTING_DEPTH = 1000;
inline constexpr std::string_view RECURSION_MESSAGE = "maximum recursion depth exceeded";

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
};
std::string gate_sequence_to_qasm3(const GateSequence& gs, const ExportOptions& options);

// Reads one OpenQASM 3.0 program (UTF-8) into a new gate sequence, with the declared
// register layout and the measurement map attached.
GateSequence qasm3_to_gate_sequence(std::string_view code);

// Options of lower_qasm3: the values of the program's `input` declarations, by name.
// Designated initializers read well: `lower_qasm3(text, {.inputs = {{"theta", 0.5}}})`.
struct LowerOptions {
  std::map<std::string, double, std::less<>> inputs;
};

// Rewrites an OpenQASM 3 (or 2) program as written in practice into the plain form that
// qasm3_to_gate_sequence reads: loops unrolled, constants folded, parameterised gates,
// modifiers, broadcasts and standard-library gates the importer does not know spelled
// out, barriers and delays dropped. Lowering its result again gives the same text.
std::string lower_qasm3(std::string_view program, const LowerOptions& options = {});

}  // namespace corvane::qasm3
