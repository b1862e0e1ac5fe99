// The exporter's internals: register layout, names and parameters, the definition
// accumulator and statement emission.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "qasm/records/qasm3_vocabulary.hpp"

namespace corvane::qasm3::detail {

using Indices = std::span<const std::int64_t>;

inline Indices indices(const IndexList& list) noexcept {
  return {list.data(), list.size()};
}

// Whether `gid` is written with a one-qubit definition of its own per use.
inline bool is_non_standard(std::string_view gid) noexcept {
  return contains(NON_STANDARD, gid);
}

// ------------------------------------------------------------------ block summaries

// What the sizing and locality tests need to know about one gate list, its nested
// blocks included. Indices are those of target and control lists.
struct BlockSummary {
  std::int64_t min_qubit = INT64_MAX;  // INT64_MAX when no index is used
  std::int64_t max_qubit = -1;         // -1 when no index is used (or all are negative)
  std::int64_t max_clbit = -1;         // largest bit a measurement writes or a condition
                                       // reads, -1 when none
  int height = 1;                      // nesting levels, the list itself counting one
  bool takes_fresh_names = false;      // holds a gate that consumes a new name per use
  // Holds a measurement, a reset or a conditioned record, none of which a gate
  // definition's body can hold in the language.
  bool holds_non_gates = false;
  // The definition emission wrote for this very list, and the arity it was written for.
  // Kept only when writing it again would give the same body (no fresh names inside).
  const std::string* defined_name = nullptr;
  std::int64_t defined_arity = -1;
};

// Summaries of gate lists, remembered by the list's address: a block shared by many
// records (one imported definition called many times) is walked once, so neither
// deep chains nor shared sub-blocks make the walks quadratic or exponential.
// Nesting deeper than MAX_NESTING_DEPTH raises RecursionError.
class BlockSummaries {
 public:
  BlockSummary& of(const std::vector<QuantumGate>& gates);

 private:
  // Adds what a nested list (a block or a conditioned record's body) uses to `s`.
  void absorb_nested(BlockSummary& s, const GateBlock& nested);
  using Key = const std::vector<QuantumGate>*;
  // Open addressing over a power-of-two table kept at most half full: one probe or two
  // into one array, where every block record of a large circuit asks once.
  struct Slot {
    Key key = nullptr;
    BlockSummary* summary = nullptr;
  };

  [[nodiscard]] BlockSummary* find(Key key) const noexcept;
  BlockSummary& insert(Key key, const BlockSummary& summary);
  void place(const Slot& slot) noexcept;
  [[nodiscard]] std::size_t slot_of(Key key) const noexcept;

  std::vector<Slot> slots_;
  std::deque<BlockSummary> summaries_;  // stable addresses for the slots and the callers
  int depth_ = 0;
};

// ------------------------------------------------------------------ statement lines

// Statement lines kept in one buffer, each followed by '\n'. Where lines are compared
// (definition bodies) their ends are recorded as well, so that a text parameter holding
// a line feed cannot blur where one line stops: two bodies are equal only when their
// lines are. The program's own statements only need the text.
//
// Emission writes a statement in many small pieces, so writing is a bounds check and a
// copy into room kept ahead in the buffer.
class StatementLines {
 public:
  enum class Ends : bool { Untracked, Tracked };

  StatementLines() = default;
  explicit StatementLines(Ends ends) noexcept : tracked_(ends == Ends::Tracked) {}
  StatementLines(std::initializer_list<std::string_view> lines);

  void put(char c) {
    if (len_ == text_.size()) grow(1);
    text_.data()[len_++] = c;
  }
  // Inlined, literal pieces become fixed-size moves.
  [[gnu::always_inline]] void put(std::string_view piece) {
    if (text_.size() - len_ < piece.size()) grow(piece.size());
    copy(text_.data() + len_, piece);
    len_ += piece.size();
  }
  void put_int(std::int64_t value) {
    constexpr std::size_t MAX_LENGTH = 20;  // "-9223372036854775808"
    if (text_.size() - len_ < MAX_LENGTH) grow(MAX_LENGTH);
    char* first = text_.data() + len_;
    char* last = std::to_chars(first, first + MAX_LENGTH, value).ptr;
    len_ += static_cast<std::size_t>(last - first);
  }
  // prefix + offset + "]", the operand form "name[offset]".
  void put_operand(std::string_view prefix, std::uint64_t offset) {
    constexpr std::size_t MAX_DIGITS = 20;  // UINT64_MAX
    if (text_.size() - len_ < prefix.size() + MAX_DIGITS + 1) grow(prefix.size() + MAX_DIGITS + 1);
    char* first = text_.data() + len_;
    copy(first, prefix);
    char* last =
        std::to_chars(first + prefix.size(), first + prefix.size() + MAX_DIGITS, offset).ptr;
    *last++ = ']';
    len_ += static_cast<std::size_t>(last - first);
  }
  // Takes back the last `bytes` written, all of them written since the last line end.
  void drop(std::size_t bytes) noexcept { len_ -= bytes; }
  // Closes the line written since the last one.
  void end_line() {
    put('\n');
    ++count_;
    if (tracked_) record_end();
  }
  // Room for `bytes` of text and `lines` line ends.
  void reserve(std::size_t bytes, std::size_t lines);

  [[nodiscard]] std::size_t size() const noexcept { return count_; }
  [[nodiscard]] bool empty() const noexcept { return count_ == 0; }
  // Line i, without its line feed (tracked ends only).
  [[nodiscard]] std::string_view line(std::size_t i) const noexcept;
  [[nodiscard]] std::vector<std::string> lines() const;
  // All lines, each followed by '\n'.
  [[nodiscard]] std::string_view text() const noexcept { return {text_.data(), len_}; }
  [[nodiscard]] std::string take_text() &&;
  [[nodiscard]] std::size_t hash() const noexcept;

  friend bool operator==(const StatementLines& a, const StatementLines& b) noexcept {
    return a.text() == b.text() && a.ends_ == b.ends_;
  }

 private:
  void grow(std::size_t needed);
  void record_end();

  // Pieces are mostly a few bytes long, where calling memcpy costs more than the copy:
  // two fixed-size moves that may overlap cover any length up to 16.
  static void copy(char* to, std::string_view piece) noexcept {
    const char* from = piece.data();
    const std::size_t n = piece.size();
    if (n > 16) {
      std::memcpy(to, from, n);
    } else if (n >= 8) {
      std::memcpy(to, from, 8);
      std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
      std::memcpy(to, from, 4);
      std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n >= 2) {
      std::memcpy(to, from, 2);
      std::memcpy(to + n - 2, from + n - 2, 2);
    } else if (n == 1) {
      *to = *from;
    }
  }

  std::string text_;  // written up to len_, the rest is room
  std::size_t len_ = 0;
  std::vector<std::size_t> ends_;
  std::size_t count_ = 0;
  bool tracked_ = true;
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
  void check(std::int64_t idx) const {
    if (find(idx) == nullptr) raise_outside(idx);
  }
  // Writes "name[offset]" for `idx`; raises as check() does.
  void put(StatementLines& out, std::int64_t idx) const {
    const Span* span = find(idx);
    if (span == nullptr) raise_outside(idx);
    out.put_operand(span->prefix, static_cast<std::uint64_t>(idx) - span->start);
  }
  std::string operator()(std::int64_t idx) const;

  // The register an index lies in, and its offset there.
  struct Place {
    std::string_view name;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;  // of the register
  };
  // Raises as check() does for an index outside the registers.
  [[nodiscard]] Place place_of(std::int64_t idx) const;
  // ValueError("Index <idx> is outside declared registers").
  [[noreturn]] static void raise_outside(std::int64_t idx);

  // The registers lie end to end from 0, so exactly the indices below this are covered.
  [[nodiscard]] std::uint64_t end() const noexcept {
    return spans_.empty() ? 0 : spans_.back().end;
  }
  // "name[" of the one register, when there is exactly one; empty otherwise.
  [[nodiscard]] std::string_view single_prefix() const noexcept {
    return spans_.size() == 1 ? std::string_view(spans_[0].prefix) : std::string_view();
  }

 private:
  struct Span {
    std::uint64_t start;
    std::uint64_t end;   // exclusive; saturated at UINT64_MAX, beyond any int64 index
    std::string prefix;  // name + "["
  };
  // Every operand is looked up, and most programs have a single register.
  [[nodiscard]] const Span* find(std::int64_t idx) const noexcept {
    if (spans_.size() != 1) return find_among(idx);
    return idx >= 0 && static_cast<std::uint64_t>(idx) < spans_[0].end ? spans_.data() : nullptr;
  }
  [[nodiscard]] const Span* find_among(std::int64_t idx) const noexcept;

  std::vector<Span> spans_;
};

// The qubit operand writer of one scope: the program's registers at top level, the
// argument names a0, a1, ... inside a generated definition, and for a block whose body
// numbers the qubits by their place among its operands but is written inline, the names
// of those operands (`through`).
class QubitNames {
 public:
  explicit QubitNames(const RegisterIndexer& registers) noexcept : registers_(&registers) {}
  static QubitNames local(std::int64_t arity) noexcept { return QubitNames(arity); }
  // Index i names what `outer` names map[i].
  static QubitNames through(const QubitNames& outer, std::vector<std::int64_t> map);

  void check(std::int64_t idx) const {
    if (!map_.empty()) return check_mapped(idx);
    if (registers_ != nullptr) return registers_->check(idx);
    check_argument(idx);
  }
  void put(StatementLines& out, std::int64_t idx) const {
    if (!map_.empty()) return put_mapped(out, idx);
    if (registers_ != nullptr) return registers_->put(out, idx);
    put_argument(out, idx);
  }
  // The index of the outermost names that `idx`, a checked index, names.
  [[nodiscard]] std::int64_t named(std::int64_t idx) const noexcept {
    return map_.empty() ? idx : map_[static_cast<std::size_t>(idx)];
  }
  // Exactly the indices below this have a name.
  [[nodiscard]] std::uint64_t end() const noexcept {
    if (!map_.empty()) return map_.size();
    if (registers_ != nullptr) return registers_->end();
    return arity_ > 0 ? static_cast<std::uint64_t>(arity_) : 0;
  }
  // "name[" when every index is written as that and its offset, e.g. "q[".
  [[nodiscard]] std::string_view single_prefix() const noexcept {
    return registers_ != nullptr && map_.empty() ? registers_->single_prefix() : std::string_view();
  }

 private:
  explicit QubitNames(std::int64_t arity) noexcept : arity_(arity) {}
  void check_argument(std::int64_t idx) const;
  void put_argument(StatementLines& out, std::int64_t idx) const;
  void check_mapped(std::int64_t idx) const;
  void put_mapped(StatementLines& out, std::int64_t idx) const;

  const RegisterIndexer* registers_ = nullptr;
  std::int64_t arity_ = 0;
  // Non-empty for names taken through: index i is written as map_[i] is without it.
  std::vector<std::int64_t> map_;
};

// ------------------------------------------------------------------ names and parameters

// The OpenQASM 3.0 name of an internal gate id (a view of `gid` itself when no row
// renames it).
std::string_view qasm3_name(std::string_view gid) noexcept;
inline std::string_view qasm3_name(const QuantumGate& g) noexcept {
  return qasm3_name(g.id);
}

// How numbers are written: in the ".15g" form the exporter has always written, or in the
// shortest form that reads back to the same double (full_language).
enum class NumberForm : std::uint8_t { Fifteen, Shortest };

// One parameter value as written in a parameter list: text unchanged, numbers in the
// ".15g" form (or `form`). A numeric array of one entry with no imaginary part counts as that real
// number; any other array is written in its plain text form, "[[1.0+0.0j, ...], ...]".
// Non-finite numbers raise ValueError.
void append_param(std::string& out, const ParamScalar& x, NumberForm form = NumberForm::Fifteen);
void append_param(std::string& out, const Parameter& x, NumberForm form = NumberForm::Fifteen);
std::string fmt_param(const ParamScalar& x);
std::string fmt_param(const Parameter& x);

// The comma-separated parameter list of a gate, checked against `expected` entries.
void append_params(std::string& out, const Parameter& params,
                   std::optional<std::int64_t> expected = std::nullopt,
                   NumberForm form = NumberForm::Fifteen);
std::string fmt_params(const Parameter& params,
                       std::optional<std::int64_t> expected = std::nullopt);

// Whether the record carries parameters (an empty list carries none).
inline bool has_param(const QuantumGate& g) noexcept {
  switch (g.parameter.kind()) {
    case Parameter::Kind::Absent:
      return false;
    case Parameter::Kind::List:
      return !g.parameter.as_list().empty();
    default:
      return true;
  }
}

// ------------------------------------------------------------------ definition accumulator

// The export context: the accumulator of the gate definitions one export needs, in
// creation order, with unique generated names and one shared definition per distinct
// (arity, body).
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

  // Nesting depth of the emission in progress, bounded by DepthGuard.
  int depth = 0;

 private:
  struct DedupEntry {
    std::int64_t arity;
    StatementLines body;
    std::string name;
  };
  std::vector<std::string> gate_defs_;
  std::int64_t counter_ = 0;
  std::unordered_multimap<std::size_t, DedupEntry> dedup_;  // keyed by the body's hash
  // The first word after "gate " of each entry, indexed when a name is first asked for:
  // only non-standard gates ask, so blocks alone never pay for it.
  mutable std::unordered_set<std::string> def_names_;
  mutable std::size_t named_defs_ = 0;  // entries of gate_defs_ indexed in def_names_
  BlockSummaries summaries_;
};

// Adds the one-qubit definition of the non-standard gate `gid` under `gate_name`
// unless a definition of that name exists.
void ensure_gate_def(Qasm3Ctx& ctx, std::string_view gate_name, std::string_view gid);

// Whether every qubit index the summarised gates use lies in 0..arity-1.
bool is_local(const BlockSummary& s, std::int64_t arity) noexcept;
// Whether every qubit index of the block's gates, at any depth, lies in 0..arity-1.
bool block_is_local(const std::vector<QuantumGate>& block_gates, std::int64_t arity);
bool block_is_local(const std::vector<QuantumGate>& block_gates, std::int64_t arity,
                    BlockSummaries& summaries);

// ------------------------------------------------------------------ statement emission

// The largest qubit and bit indices that a gate list uses, at any depth (-1 for none),
// as max_qubit_index and num_clbits see them.
struct UsedIndices {
  std::int64_t max_qubit = -1;
  std::int64_t max_clbit = -1;
};

// Appends to `out` the statements for `gates`, with the inherited controls
// `prefix_ctrls` in the states `prefix_cs`; definitions the statements need go to `ctx`.
// `qsym` and `csym` are the qubit and bit symbol writers, which turn a flat index into
// its operand text.
// With `used`, also gathers the indices the gates use, so that a layout that grows to
// fit them can be sized in the same pass. `qsym` names the qubits, `csym` the bits.
// With `full_language`, writes the language beyond the gate subset (full_language.hpp).
void emit_sequence(const std::vector<QuantumGate>& gates, Qasm3Ctx& ctx, const QubitNames& qsym,
                   const RegisterIndexer& csym, std::span<const std::int64_t> prefix_ctrls,
                   std::span<const std::int64_t> prefix_cs, bool allow_gate_defs,
                   StatementLines& out, UsedIndices* used = nullptr, bool full_language = false);

}  // namespace corvane::qasm3::detail
