// OpenQASM 3.0 <-> GateSequence bidirectional converter.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::qasm3 {

// Base of every error the converter raises. kind() names the error class
// ("ValueError", "NotImplementedError", ...); what() is the exact message.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  [[nodiscard]] virtual const char* kind() const noexcept = 0;
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

// Serialises `gs` as one complete OpenQASM 3.0 program. `qreg_name`/`creg_name` name
// the single registers used when `qregs`/`cregs` are absent; `num_clbits` is the number
// of classical bits to declare (raised to what the measurements need).
std::string gate_sequence_to_qasm3(const GateSequence& gs, std::string_view qreg_name = "q",
                                   std::string_view creg_name = "c",
                                   std::optional<std::int64_t> num_clbits = std::nullopt,
                                   const std::optional<RegisterList>& qregs = std::nullopt,
                                   const std::optional<RegisterList>& cregs = std::nullopt);

// Reads one OpenQASM 3.0 program (UTF-8) into a new gate sequence, with the declared
// register layout and the measurement map attached.
GateSequence qasm3_to_gate_sequence(std::string_view code);

}  // namespace corvane::qasm3
