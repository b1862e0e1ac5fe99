// The gate vocabulary: internal gate ids vs. OpenQASM 3.0 names, and the tables that
// classify gates for the exporter and the importer. Flat constant tables, in row order.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace corvane::qasm3::detail {

using NamePair = std::pair<std::string_view, std::string_view>;

// Internal gate id -> OpenQASM 3.0 name.
inline constexpr std::array<NamePair, 21> INT_TO_QASM3{{
    {"s_dag", "sdg"},
    {"t_dag", "tdg"},
    {"p", "p"},
    {"gp", "gphase"},
    {"u", "U"},
    {"i", "id"},
    {"cnot", "cx"},
    {"block", "block"},
    {"global_phase", "gphase"},
    {"phase_gate", "p"},
    {"-z", "-z"},
    {"sqrtx", "sx"},
    {"sqrtx_dag", "sqrtx_dag"},
    {"sqrty", "sqrty"},
    {"sqrty_dag", "sqrty_dag"},
    {"crx", "rx"},
    {"cry", "ry"},
    {"crz", "rz"},
    {"mcrx", "rx"},
    {"mcry", "ry"},
    {"mcrz", "rz"},
}};

// OpenQASM 3.0 name -> internal gate id: the inverse of INT_TO_QASM3 with the
// importer's own rows merged over it.
inline constexpr std::array<NamePair, 35> QASM3_TO_INT{{
    {"sdg", "s_dag"},
    {"tdg", "t_dag"},
    {"p", "p"},
    {"gphase", "gp"},
    {"U", "u"},
    {"id", "i"},
    {"cx", "cx"},
    {"block", "block"},
    {"-z", "-z"},
    {"sx", "sqrtx"},
    {"sqrtx_dag", "sqrtx_dag"},
    {"sqrty", "sqrty"},
    {"sqrty_dag", "sqrty_dag"},
    {"rx", "rx"},
    {"ry", "ry"},
    {"rz", "rz"},
    {"x", "x"},
    {"y", "y"},
    {"z", "z"},
    {"h", "h"},
    {"s", "s"},
    {"swap", "swap"},
    {"phase", "p"},
    {"t", "t"},
    {"cy", "cy"},
    {"cz", "cz"},
    {"cnot", "cx"},
    {"ch", "ch"},
    {"cp", "cp"},
    {"crx", "crx"},
    {"cry", "cry"},
    {"crz", "crz"},
    {"ccx", "mcx"},
    {"cswap", "swap"},
    {"cu", "u"},
}};

// OpenQASM names of one-qubit operations.
inline constexpr std::array<std::string_view, 16> SINGLE_QUBIT_OPS{
    "x", "y", "z", "h", "s", "sdg", "t", "tdg", "id", "sx", "rx", "ry", "rz", "p", "phase", "U"};

// Names of two-qubit operations.
inline constexpr std::array<std::string_view, 11> TWO_QUBIT_GATES{
    "cx", "cy", "cz", "ch", "swap", "cnot", "cp", "crx", "cry", "crz", "cu"};

// Singly-controlled two-qubit operations: operands are the control, then the target.
inline constexpr std::array<std::string_view, 10> CTRL_THEN_TARG_GATES{
    "cx", "cy", "cz", "ch", "cnot", "cp", "crx", "cry", "crz", "cu"};

// Compact multi-controlled name -> number of its target qubits.
inline constexpr std::array<std::pair<std::string_view, int>, 2> COMPACT_CONTROL_TARGET_ARITY{{
    {"ccx", 1},
    {"cswap", 2},
}};

// Gates that take parameters -> how many their standard definitions take; every other
// gate takes none, but `unitary`, whose matrix decides.
inline constexpr std::array<std::pair<std::string_view, int>, 12> PARAMETER_COUNTS{{
    {"rx", 1},
    {"ry", 1},
    {"rz", 1},
    {"p", 1},
    {"phase", 1},
    {"gphase", 1},
    {"cp", 1},
    {"crx", 1},
    {"cry", 1},
    {"crz", 1},
    {"U", 3},
    {"cu", 4},
}};

// Gates whose last parameter is a global phase, which a call may leave out and their
// records have no place for.
inline constexpr std::array<std::string_view, 1> TRAILING_PHASE_GATES{"cu"};

// Names that hold controls of their own over a base gate -> that gate and how many
// controls the name holds in its standard definition.
struct OwnControls {
  std::string_view name;
  std::string_view base;
  int controls;
};
inline constexpr std::array<OwnControls, 11> OWN_CONTROLS{{
    {"cx", "x", 1},
    {"cnot", "x", 1},
    {"cy", "y", 1},
    {"cz", "z", 1},
    {"ch", "h", 1},
    {"cp", "p", 1},
    {"crx", "rx", 1},
    {"cry", "ry", 1},
    {"crz", "rz", 1},
    {"ccx", "x", 2},
    {"cswap", "swap", 1},
}};

// The gate whose parameters are an explicit matrix, row by row (explicit_matrix.hpp).
inline constexpr std::string_view EXPLICIT_MATRIX_GATE = "unitary";

// Singly-controlled internal id -> its uncontrolled base gate.
inline constexpr std::array<NamePair, 5> CTRL_GATE_BASE{{
    {"cx", "x"},
    {"cy", "y"},
    {"cz", "z"},
    {"ch", "h"},
    {"cnot", "x"},
}};

// Internal id written as a base gate under ctrl modifiers -> that base gate's name.
inline constexpr std::array<NamePair, 7> MODIFIER_BASE_GATES{{
    {"mcx", "x"},
    {"mcy", "y"},
    {"mcz", "z"},
    {"mch", "h"},
    {"cs", "s"},
    {"mcp", "p"},
    {"cp", "p"},
}};

// Controlled rotation or phase id -> compact name of its singly-controlled form.
inline constexpr std::array<NamePair, 8> SINGLE_CONTROLLED_COMPACT_IDS{{
    {"cp", "cp"},
    {"mcp", "cp"},
    {"crx", "crx"},
    {"mcrx", "crx"},
    {"cry", "cry"},
    {"mcry", "cry"},
    {"crz", "crz"},
    {"mcrz", "crz"},
}};

// Internal ids without a standard-library gate; exported with a definition of their own.
inline constexpr std::array<std::string_view, 3> NON_STANDARD{"sqrtx_dag", "sqrty", "sqrty_dag"};

// Internal id -> body of the one-qubit definition written for it (argument a0).
struct NonStandardBody {
  std::string_view id;
  std::array<std::string_view, 5> lines;
  std::size_t line_count;
};
inline constexpr std::array<NonStandardBody, 4> NON_STANDARD_BODIES{{
    {"sqrtx", {"h a0;", "s a0;", "h a0;"}, 3},
    {"sqrtx_dag", {"h a0;", "sdg a0;", "h a0;"}, 3},
    {"sqrty", {"sdg a0;", "h a0;", "s a0;", "h a0;", "s a0;"}, 5},
    {"sqrty_dag", {"sdg a0;", "h a0;", "sdg a0;", "h a0;", "s a0;"}, 5},
}};

// The language's keywords and built-in constants: no declaration can take these names.
inline constexpr std::array<std::string_view, 62> RESERVED_WORDS = {
    "OPENQASM",   "include", "defcalgrammar",
    "def",        "cal",     "defcal",
    "gate",       "extern",  "box",
    "let",        "break",   "continue",
    "if",         "else",    "end",
    "return",     "for",     "while",
    "in",         "switch",  "case",
    "default",    "nop",     "pragma",
    "input",      "output",  "const",
    "readonly",   "mutable", "qreg",
    "qubit",      "creg",    "bool",
    "bit",        "int",     "uint",
    "float",      "angle",   "complex",
    "array",      "void",    "duration",
    "stretch",    "gphase",  "inv",
    "pow",        "ctrl",    "negctrl",
    "durationof", "delay",   "reset",
    "measure",    "barrier", "true",
    "false",      "pi",      "π",
    "tau",        "τ",       "euler",
    "ℇ",          "opaque"};

// ------------------------------------------------------------------ lookups

template <std::size_t N>
constexpr bool contains(const std::array<std::string_view, N>& set, std::string_view name) {
  for (std::string_view entry : set) {
    if (entry == name) return true;
  }
  return false;
}

// The value of `key`'s row, or nothing when the table has no such row.
template <class Value, std::size_t N>
constexpr std::optional<Value> lookup(const std::array<std::pair<std::string_view, Value>, N>& map,
                                      std::string_view key) {
  for (const auto& [k, v] : map) {
    if (k == key) return v;
  }
  return std::nullopt;
}

constexpr bool is_reserved_word(std::string_view name) {
  return contains(RESERVED_WORDS, name);
}

// The body lines of a non-standard id, or null when it has none.
const NonStandardBody* non_standard_body(std::string_view id);

}  // namespace corvane::qasm3::detail
