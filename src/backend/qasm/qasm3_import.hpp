// The importer's internals. Text passes, declarations, statement syntax and definition
// extraction live in qasm3_import_text.cpp; operands, interpretation, expansion,
// unitary decoding, recognition of generated definitions and the driver in qasm3_import.cpp.
#pragma once

#include <bitset>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "qasm3_vocabulary.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ source preprocessing
// Removes line comments, then block comments (an unterminated "/*" stays).
std::string strip_comments(std::string_view code);
// The same text, as a view of `code` itself when it holds no comment, otherwise of the
// stripped copy placed in `storage`.
std::string_view without_comments(std::string_view code, std::string& storage);
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
// The same into `out`, reusing its storage: the form for one statement after another.
void parse_modifiers_prefix(std::string_view s, ModifierPrefix& out);

struct OpCall {
  std::string_view op;                        // views into the argument
  std::optional<std::vector<double>> params;  // absent vs. "()" (empty)
  std::vector<std::string_view> operands;
};
OpCall parse_op_and_args(std::string_view s);
// The same into `call`, reusing its storage: the form for one statement after another.
void parse_op_and_args(std::string_view s, OpCall& call);

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

// The same, with the main text left as the pieces of `code` around the definitions
// (views into `code`): the importer reads them in place instead of copying the program.
struct DefinitionScan {
  GateDefMap defs;
  std::vector<std::string_view> main_pieces;
};
DefinitionScan scan_gate_defs(std::string_view code);

// The statements of a main text given as pieces of `program`, as split_statements finds
// them in the joined text. A statement inside one piece is kept as a 32-bit offset and
// length into the program (half the size of a view, which counts next to a million
// records); one that runs across the gap a definition left is joined into a text of
// its own. A program beyond 4 GiB keeps views.
class StatementList {
 public:
  StatementList(std::string_view program, const std::vector<std::string_view>& pieces);

  [[nodiscard]] std::size_t size() const noexcept;
  std::string_view operator[](std::size_t k) const noexcept;

 private:
  struct Span {
    std::uint32_t offset;  // into the program, or into joined_ when length is JOINED
    std::uint32_t length;
  };
  static constexpr std::uint32_t JOINED = std::numeric_limits<std::uint32_t>::max();

  std::string_view program_;
  bool use_spans_ = true;
  std::vector<Span> spans_;
  std::vector<std::string_view> views_;
  std::deque<std::string> joined_;  // stable addresses for views_
};

// ================================================================== second half:
// operands, unitary decoding, recognition of generated definitions, interpretation,
// expansion.

// ------------------------------------------------------------------ operand resolution
// Argument name of the definition whose body is interpreted -> its header position.
// Passed by pointer: null means "outside any definition", which differs from an empty map.
using LocalArgMap = std::unordered_map<std::string_view, std::int64_t, TextHash, std::equal_to<>>;

// Consecutive flat indices first, first + 1, ..., first + count - 1: what a whole
// register or a single operand stands for, without materialising the indices.
struct IndexRange {
  std::int64_t first = 0;
  std::int64_t count = 0;
  friend bool operator==(const IndexRange&, const IndexRange&) = default;
};

// One qubit: a flat index, or a local one inside a definition body.
std::int64_t resolve_operand(std::string_view tok, const RegisterMap& qreg_map,
                             const LocalArgMap* local_map = nullptr);
// All qubits of a whole register (outside definition bodies), else the one qubit.
IndexRange resolve_qubit_operands(std::string_view tok, const RegisterMap& qreg_map,
                                  const LocalArgMap* local_map = nullptr);
// One classical bit. A null or empty map means no bit registers are declared.
std::int64_t resolve_bit_operand(std::string_view tok, const RegisterMap* bit_reg_map = nullptr);
// All bits of a whole bit register, else the one bit.
IndexRange resolve_bit_operands(std::string_view tok, const RegisterMap* bit_reg_map = nullptr);

// ------------------------------------------------------------------ unitary decoding
// Params: the evaluated parameter list of a statement, absent without "(...)".
std::int64_t unitary_dim_from_params(const std::optional<std::vector<double>>& params);
int unitary_target_count(const std::optional<std::vector<double>>& params);
// The row-major d x d matrix of real/imaginary pairs; d need not be a power of two.
Matrix decode_unitary_matrix(const std::vector<double>& params);
// The stored matrix of `gate_id` (looked up lower-cased); absent for "block", for ids
// without an entry, and for matrix functions when `parameter` is absent.
std::optional<Matrix> resolve_matrix_q3(std::string_view gate_id, const Parameter& parameter);

// ------------------------------------------------------------------ generated definitions
// Trimmed, trailing ';'s dropped, whitespace runs collapsed to one blank, trimmed again.
std::string normalize_stmt_for_match(std::string_view stmt);
// The internal id whose exporter-written definition `gd` is, or nothing.
std::optional<std::string_view> generated_non_standard_gate_id(const GateDef& gd);

// ------------------------------------------------------------------ interpretation
// Most gate records that whole-register measurements of one import may create; the
// declared register sizes could otherwise demand more records than memory holds.
inline constexpr std::int64_t MAX_MEASUREMENT_RECORDS = std::int64_t{1} << 22;

// What all nested interpretations of one import share: the definitions being expanded
// (for cycle detection), the nesting depth, and every finished expansion. A body's
// records depend only on the definition, so each definition is expanded once per
// import and all its calls share one child sequence.
struct ExpansionState {
  struct Expansion {
    GateBlock children;
    int height = 0;  // nesting levels the expansion used, itself included
  };
  std::unordered_set<std::string_view, TextHash, std::equal_to<>> expanding;
  std::unordered_map<std::string_view, Expansion, TextHash, std::equal_to<>> expanded;
  std::unordered_map<const GateDef*, std::optional<std::string_view>> generated_ids;
  std::unordered_map<std::string_view, std::optional<Matrix>> generated_matrices;
  std::bitset<256> defined_initials;  // first bytes of the defined names
  const GateDefMap* initials_for = nullptr;
  std::int64_t measurement_records = 0;
  int depth = 0;
  int deepest = 0;
};

struct StmtsResult {
  std::vector<QuantumGate> gates;
  std::int64_t max_idx = -1;   // highest qubit index used, -1 for none
  std::int64_t max_cidx = -1;  // highest bit index used, -1 for none
  std::vector<MeasurePair> measure_map;
};

// Interprets statements into gate records. `local_map` is non-null exactly inside a
// definition body; `state` null starts a fresh import.
StmtsResult stmts_to_gates(const std::vector<std::string_view>& stmts, const GateDefMap& gate_defs,
                           const RegisterMap& qreg_map, const LocalArgMap* local_map = nullptr,
                           const RegisterMap* bit_reg_map = nullptr,
                           ExpansionState* state = nullptr);

// The child records of the definition `name` (a key of `gate_defs`), interpreted on
// local indices; ValueError when its expansion reaches itself again.
GateBlock expand_def(std::string_view name, const GateDefMap& gate_defs,
                     const RegisterMap& qreg_map, const RegisterMap* bit_reg_map,
                     ExpansionState& state);

}  // namespace corvane::qasm3::detail
