// The importer's internals. Text passes, declarations, statement syntax and definition
// extraction live in qasm3_import_text.cpp; operands, interpretation, expansion,
// unitary decoding, recognition of generated definitions and the driver in qasm3_import.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "qasm3_vocabulary.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ source preprocessing
// Removes line comments, then block comments (an unterminated "/*" stays).
std::string strip_comments(std::string_view code);
// Statements at top-level semicolons, trimmed, empty ones dropped. The views point
// into `body`. ValueError "Unbalanced parentheses" for a ')' without '('.
std::vector<std::string_view> split_statements(std::string_view body);

// ------------------------------------------------------------------ register declarations
// Hashes text keys so maps keyed by std::string can be searched with a string_view.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    return std::hash<std::string_view>{}(s);
  }
};

struct RegisterSpan {
  std::int64_t offset = 0;
  std::int64_t size = 0;
};

// Register name -> (offset, size). Setting a name again replaces its entry. Hashed, so a
// program with many registers is laid out and resolved in linear time.
class RegisterMap {
 public:
  void set(std::string_view name, RegisterSpan span);
  [[nodiscard]] const RegisterSpan* find(std::string_view name) const;
  [[nodiscard]] bool empty() const noexcept { return entries_.empty(); }
  [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }

 private:
  std::unordered_map<std::string, RegisterSpan, TextHash, std::equal_to<>> entries_;
};

struct Registers {
  RegisterList list;
  RegisterMap map;
};

// Array declarations first, then scalar ones, each in text order. ValueError when a size
// or the running offset does not fit std::int64_t.
Registers extract_qubit_registers(std::string_view code);
Registers extract_bit_registers(std::string_view code);
// One more than the largest index used as `qreg_name[...]`; 1 when there is none.
// ValueError when that count does not fit std::int64_t.
std::int64_t compute_n_qubits_from_body(std::string_view code, std::string_view qreg_name);

// ------------------------------------------------------------------ statement syntax
enum class Modifier : std::uint8_t { Ctrl, Negctrl };
std::string_view modifier_word(Modifier m) noexcept;

struct ModifierPrefix {
  std::vector<Modifier> mods;
  std::string_view rest;  // a view into the argument
};
ModifierPrefix parse_modifiers_prefix(std::string_view s);

struct OpCall {
  std::string_view op;                        // views into the argument
  std::optional<std::vector<double>> params;  // absent vs. "()" (empty)
  std::vector<std::string_view> operands;
};
OpCall parse_op_and_args(std::string_view s);

std::vector<std::string> parse_ident_list(std::string_view s);

// ------------------------------------------------------------------ gate definitions
// Name -> definition; a later definition of a name replaces the earlier one.
using GateDefMap = std::unordered_map<std::string, GateDef, TextHash, std::equal_to<>>;

struct ExtractedDefs {
  GateDefMap defs;
  std::string main_text;
};
inline constexpr int MAX_ITER = 2000000;
ExtractedDefs extract_gate_defs(std::string_view code);

}  // namespace corvane::qasm3::detail
