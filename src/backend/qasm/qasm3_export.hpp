// The exporter's internals: register layout, names and parameters, the definition
// accumulator and statement emission.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ block summaries

// What the sizing and locality tests need to know about one gate list, its nested
// blocks included. Indices are those of target and control lists.
struct BlockSummary {
  std::int64_t min_qubit = INT64_MAX;  // INT64_MAX when no index is used
  std::int64_t max_qubit = -1;         // -1 when no index is used (or all are negative)
  std::int64_t max_clbit = -1;         // largest bit a measurement writes, -1 when none
  int height = 1;                      // nesting levels, the list itself counting one
  bool takes_fresh_names = false;      // holds a gate that consumes a new name per use
};

// Summaries of gate lists, remembered by the list's address: a block shared by many
// records (one imported definition called many times) is walked once, so neither
// deep chains nor shared sub-blocks make the walks quadratic or exponential.
// Nesting deeper than kMaxNestingDepth raises RecursionError.
class BlockSummaries {
 public:
  const BlockSummary& of(const std::vector<QuantumGate>& gates);

 private:
  const BlockSummary& walk(const std::vector<QuantumGate>& gates);
  std::unordered_map<const std::vector<QuantumGate>*, BlockSummary> known_;
  int depth_ = 0;
};

// ------------------------------------------------------------------ register layout

// A register declaration as the exporter lays it out. Counts go up to 2^63 (a gate
// index of INT64_MAX needs that many qubits), so sizes are unsigned.
struct RegisterView {
  std::string_view name;
  std::uint64_t size = 0;
  friend bool operator==(const RegisterView&, const RegisterView&) = default;
};
using RegisterViews = std::vector<RegisterView>;

// Largest qubit index used by any gate at any depth; -1 when none.
std::int64_t max_qubit_index(const std::vector<QuantumGate>& gates);
std::int64_t max_qubit_index(const std::vector<QuantumGate>& gates, BlockSummaries& summaries);

// Number of classical bits to declare: what the measurements need, or `declared` when larger.
std::uint64_t num_clbits(const std::vector<QuantumGate>& gates,
                         std::optional<std::int64_t> declared);
std::uint64_t num_clbits(const std::vector<QuantumGate>& gates,
                         std::optional<std::int64_t> declared, BlockSummaries& summaries);

// The declarations covering `total_size` indices: `regs` validated, or one register
// named `fallback_name`. Views refer to the names in `regs` / `fallback_name`.
RegisterViews normalize_registers(const std::optional<RegisterList>& regs,
                                  std::string_view fallback_name, std::uint64_t total_size);

// Maps a flat index to "name[offset]" over consecutive registers.
class RegisterIndexer {
 public:
  explicit RegisterIndexer(const RegisterViews& regs);

  [[nodiscard]] bool contains(std::int64_t idx) const noexcept { return find(idx) != nullptr; }
  // Raises ValueError("Index <idx> is outside declared registers") unless contained.
  void check(std::int64_t idx) const;
  // Appends "name[offset]" for `idx`; raises as check() does.
  void append(std::string& out, std::int64_t idx) const;
  std::string operator()(std::int64_t idx) const;

 private:
  struct Span {
    std::uint64_t start;
    std::uint64_t end;  // exclusive; saturated at UINT64_MAX, beyond any int64 index
    std::string name;
  };
  [[nodiscard]] const Span* find(std::int64_t idx) const noexcept;
  [[noreturn]] static void raise_outside(std::int64_t idx);

  std::vector<Span> spans_;
};

// The qubit operand writer of one scope: the program's registers at top level, the
// argument names a0, a1, ... inside a generated definition.
class QubitNames {
 public:
  explicit QubitNames(const RegisterIndexer& registers) noexcept : registers_(&registers) {}
  static QubitNames local(std::int64_t arity) noexcept { return QubitNames(arity); }

  void check(std::int64_t idx) const;
  void append(std::string& out, std::int64_t idx) const;

 private:
  explicit QubitNames(std::int64_t arity) noexcept : arity_(arity) {}
  const RegisterIndexer* registers_ = nullptr;
  std::int64_t arity_ = 0;
};

// ------------------------------------------------------------------ names and parameters

// The OpenQASM 3.0 name of an internal gate id (a view of `gid` itself when no row
// renames it).
std::string_view qasm3_name(std::string_view gid) noexcept;
inline std::string_view qasm3_name(const QuantumGate& g) noexcept {
  return qasm3_name(g.id);
}

// One parameter value as written in a parameter list: text unchanged, numbers in the
// ".15g" form. A numeric array of one entry with no imaginary part counts as that real
// number; any other array is written in its plain text form, "[[1.0+0.0j, ...], ...]".
// Non-finite numbers raise ValueError.
void append_param(std::string& out, const ParamScalar& x);
void append_param(std::string& out, const Parameter& x);
std::string fmt_param(const ParamScalar& x);
std::string fmt_param(const Parameter& x);

// The comma-separated parameter list of a gate, checked against `expected` entries.
void append_params(std::string& out, const Parameter& params,
                   std::optional<std::int64_t> expected = std::nullopt);
std::string fmt_params(const Parameter& params,
                       std::optional<std::int64_t> expected = std::nullopt);

// Whether the record carries parameters (an empty list carries none).
bool has_param(const QuantumGate& g) noexcept;

// ------------------------------------------------------------------ statement lines

// Statement lines kept in one buffer, each followed by '\n'. The line ends are
// recorded as well, so that a text parameter holding a line feed cannot blur where
// one line stops: two bodies are equal only when their lines are.
class StatementLines {
 public:
  StatementLines() = default;
  StatementLines(std::initializer_list<std::string_view> lines);

  // The buffer emission appends into; end_line() closes the line written since the last.
  std::string& buffer() noexcept { return text_; }
  void end_line() {
    text_.push_back('\n');
    ends_.push_back(text_.size());
  }
  void reserve(std::size_t bytes, std::size_t lines);

  [[nodiscard]] std::size_t size() const noexcept { return ends_.size(); }
  [[nodiscard]] bool empty() const noexcept { return ends_.empty(); }
  // Line i, without its line feed.
  [[nodiscard]] std::string_view line(std::size_t i) const noexcept;
  [[nodiscard]] std::vector<std::string> lines() const;
  // All lines, each followed by '\n'.
  [[nodiscard]] const std::string& text() const noexcept { return text_; }
  [[nodiscard]] std::size_t hash() const noexcept;

  friend bool operator==(const StatementLines&, const StatementLines&) = default;

 private:
  std::string text_;
  std::vector<std::size_t> ends_;
};

// ------------------------------------------------------------------ definition accumulator

// The gate definitions one export needs, in creation order, with unique generated
// names and one shared definition per distinct (arity, body).
class Qasm3Ctx {
 public:
  // Complete definition texts, lines joined by '\n', no line feed after the brace.
  [[nodiscard]] const std::vector<std::string>& gate_defs() const noexcept { return gate_defs_; }
  // The number the next generated name receives.
  [[nodiscard]] std::int64_t counter() const noexcept { return counter_; }

  // base + "_" + counter; the counter moves on.
  std::string new_name(std::string_view base = "block");
  // The name of the definition with this arity and body, created on first request.
  // The reference stays valid as long as the accumulator.
  const std::string& find_or_create_def(std::int64_t arity, StatementLines body_lines,
                                        std::string_view base = "block");

  // Whether a definition text begins with "gate " + gate_name + " ".
  [[nodiscard]] bool has_def_named(std::string_view gate_name) const;
  // Appends one finished definition text.
  void append_def(std::string definition);

  // Per-export memory of nested blocks, for emission.
  BlockSummaries& block_summaries() noexcept { return summaries_; }
  // The definition written earlier for this very block list and arity, when reusing it
  // is exact (the block consumes no fresh names, so writing it again would give the
  // same body); null otherwise.
  [[nodiscard]] const std::string* block_def(const std::vector<QuantumGate>& block,
                                             std::int64_t arity) const;
  void remember_block_def(const std::vector<QuantumGate>& block, std::int64_t arity,
                          const std::string& name);

  // Nesting depth of the emission in progress, bounded by DepthGuard.
  int depth = 0;

 private:
  struct DedupEntry {
    std::int64_t arity;
    StatementLines body;
    std::string name;
  };
  struct BlockUse {
    const std::vector<QuantumGate>* block;
    std::int64_t arity;
    friend bool operator==(const BlockUse&, const BlockUse&) = default;
  };
  struct BlockUseHash {
    std::size_t operator()(const BlockUse& use) const noexcept;
  };

  std::vector<std::string> gate_defs_;
  std::int64_t counter_ = 0;
  std::unordered_multimap<std::size_t, DedupEntry> dedup_;  // keyed by the body's hash
  std::unordered_set<std::string> def_names_;  // the first word after "gate " of each entry
  std::unordered_map<BlockUse, std::string, BlockUseHash> block_defs_;
  BlockSummaries summaries_;
};

// Adds the one-qubit definition of the non-standard gate `gid` under `gate_name`
// unless a definition of that name exists.
void ensure_gate_def(Qasm3Ctx& ctx, std::string_view gate_name, std::string_view gid);

// Whether every qubit index of the block's gates, at any depth, lies in 0..arity-1.
bool block_is_local(const std::vector<QuantumGate>& block_gates, std::int64_t arity);
bool block_is_local(const std::vector<QuantumGate>& block_gates, std::int64_t arity,
                    BlockSummaries& summaries);

// ------------------------------------------------------------------ statement emission

// Appends to `out` the statements for `gates`, with the inherited controls
// `prefix_ctrls` in the states `prefix_cs`; definitions the statements need go to `ctx`.
void emit_sequence(const std::vector<QuantumGate>& gates, Qasm3Ctx& ctx, const QubitNames& qsym,
                   const RegisterIndexer& csym, std::span<const std::int64_t> prefix_ctrls,
                   std::span<const std::int64_t> prefix_cs, bool allow_gate_defs,
                   StatementLines& out);

}  // namespace corvane::qasm3::detail
