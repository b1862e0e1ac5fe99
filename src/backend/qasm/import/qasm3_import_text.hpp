// The importer's text passes: comment removal, statement splitting, register
// declarations, statement syntax and gate-definition extraction, and the positions that
// lead from the text they read back to places in the program as given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "corvane/backend/qasm/qasm3.hpp"
#include "qasm/records/native_gates.hpp"
#include "qasm/records/register_layout.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ places
// Where the bytes of a text made by cutting stretches out of another text stood before
// the cuts. Only read when an error is raised.
class CutMap {
 public:
  // From `kept` on, the derived text continues with the source text at `source`.
  void add(std::size_t kept, std::size_t source) { anchors_.push_back({kept, source}); }
  [[nodiscard]] std::size_t source_of(std::size_t derived) const noexcept;

 private:
  struct Anchor {
    std::size_t derived;
    std::size_t source;
  };
  std::vector<Anchor> anchors_;  // ascending in both positions
};

// The program as given and the text the importer reads from it: the same bytes, less
// the comments. Turns positions in the text read back into places in the program.
class ProgramText {
 public:
  explicit ProgramText(std::string_view program);
  ProgramText(const ProgramText&) = delete;
  ProgramText& operator=(const ProgramText&) = delete;

  [[nodiscard]] std::string_view read() const noexcept { return read_; }
  [[nodiscard]] Location locate_read(std::size_t read_offset) const noexcept;

 private:
  std::string_view program_;
  std::string stripped_;
  std::string_view read_;
  CutMap line_comments_;   // text without line comments -> program
  CutMap block_comments_;  // text read -> text without line comments
};

// Runs `body`; an error on its way out gets the place of `at` (a pointer into the text
// that `program` reads) unless it has one already. A null `program` attaches nothing.
template <class Body>
decltype(auto) with_place(const ProgramText* program, const char* at, Body&& body) {
  return with_place_of_error(
      [&]() -> std::optional<Location> {
        if (program == nullptr) return std::nullopt;
        return program->locate_read(static_cast<std::size_t>(at - program->read().data()));
      },
      std::forward<Body>(body));
}

// Where the text of one statement came from: a pointer into it becomes a place. The
// statement is a view of the text read, a copy of a stretch of it (a definition's body
// statement), or a copy joined across the gap a definition left (main-text positions,
// which `gaps` turns into positions in the text read).
struct StatementOrigin {
  const ProgramText* program = nullptr;  // null: no places
  const char* base = nullptr;            // where the statement's text begins in memory
  std::size_t base_offset = 0;           // the position of `base`
  const CutMap* gaps = nullptr;

  [[nodiscard]] Location place_of(const char* at) const noexcept;
  // The place of `at`; none where the statement has no program to place it in.
  [[nodiscard]] std::optional<Location> place_if_known(const char* at) const noexcept {
    if (program == nullptr) return std::nullopt;
    return place_of(at);
  }
  // Runs `body`, giving an escaping error the place of `at` unless it has one.
  template <class Body>
  decltype(auto) at(const char* where, Body&& body) const {
    return with_place_of_error([&] { return place_if_known(where); }, std::forward<Body>(body));
  }
};

// ------------------------------------------------------------------ source preprocessing
// Removes line comments, then block comments (an unterminated "/*" stays).
std::string strip_comments(std::string_view code);
// The same text, as a view of `code` itself when it holds no comment, otherwise of the
// stripped copy placed in `storage`.
std::string_view without_comments(std::string_view code, std::string& storage);
// Statements at top-level semicolons, trimmed, empty ones dropped. The views point
// into `body`. ValueError "Unbalanced parentheses" for a ')' without '('.
std::vector<std::string_view> split_statements(std::string_view body,
                                               const ProgramText* program = nullptr);

// ------------------------------------------------------------------ register declarations
// Laid out (register_layout.hpp) with the array declarations first, then the scalar ones,
// each in text order. ValueError when a size or the running offset does not fit std::int64_t.
Registers extract_qubit_registers(std::string_view code, const ProgramText* program = nullptr);
Registers extract_bit_registers(std::string_view code, const ProgramText* program = nullptr);
// One more than the largest index used as `qreg_name[...]`; 1 when there is none.
// ValueError when that count does not fit std::int64_t.
std::int64_t compute_n_qubits_from_body(std::string_view code, std::string_view qreg_name,
                                        const ProgramText* program = nullptr);

// ------------------------------------------------------------------ statement syntax
// The "ctrl @" / "negctrl @" modifiers in front of a gate call, and the call after them.
struct ModifierPrefix {
  std::vector<Modifier> mods;
  std::string_view rest;  // a view into the argument
};
ModifierPrefix parse_modifiers_prefix(std::string_view s);
// The same into `out`, reusing its storage: the form for one statement after another.
void parse_modifiers_prefix(std::string_view s, ModifierPrefix& out);

// A gate call split into its name, its evaluated parameters and its operand texts.
struct OpCall {
  std::string_view op;                        // views into the argument
  std::optional<std::vector<double>> params;  // absent vs. "()" (empty)
  std::vector<std::string_view> operands;
};
OpCall parse_op_and_args(std::string_view s);
// The same into `call`, reusing its storage: the form for one statement after another.
// An error of a parameter expression gets the place `origin` gives its first character.
void parse_op_and_args(std::string_view s, OpCall& call, const StatementOrigin* origin = nullptr);

std::vector<std::string> parse_ident_list(std::string_view s, const ProgramText* program = nullptr);

// ------------------------------------------------------------------ gate definitions
// A gate definition cut out of imported program text.
struct GateDef {
  std::string name;
  std::vector<std::string> args;
  std::vector<std::string> body_stmts;
  std::vector<std::size_t> body_offsets = {};  // where each body statement starts in the text read
};

// Name -> definition; a later definition of a name replaces the earlier one.
using GateDefMap = std::unordered_map<std::string, GateDef, TextHash, std::equal_to<>>;

// The definitions of a program and its main text with the definitions cut out.
struct ExtractedDefs {
  GateDefMap defs;
  std::string main_text;
};
// Most definition keywords the scan looks at before it gives up on the text.
inline constexpr int MAX_ITER = 2000000;
ExtractedDefs extract_gate_defs(std::string_view code);

// The same, with the main text left as the pieces of `code` around the definitions
// (views into `code`): the importer reads them in place instead of copying the program.
struct DefinitionScan {
  GateDefMap defs;
  std::vector<std::string_view> main_pieces;
};
DefinitionScan scan_gate_defs(std::string_view code, const ProgramText* program = nullptr);

// The statements of a main text given as pieces of `program`, as split_statements finds
// them in the joined text. A statement inside one piece is kept as a 32-bit offset and
// length into the program (half the size of a view, which counts next to a million
// records); one that runs across the gap a definition left is joined into a text of
// its own. A program beyond 4 GiB keeps views.
class StatementList {
 public:
  StatementList(std::string_view program, const std::vector<std::string_view>& pieces,
                const ProgramText* places = nullptr);

  [[nodiscard]] std::size_t size() const noexcept;
  std::string_view operator[](std::size_t k) const noexcept;
  // Where the text of statement `k` came from.
  [[nodiscard]] StatementOrigin origin(std::size_t k) const noexcept {
    if (use_spans_ && spans_[k].length != JOINED) return {places_, program_.data(), 0, nullptr};
    return joined_or_view_origin(k);
  }

 private:
  struct Span {
    std::uint32_t offset;  // into the program, or into joined_ when length is JOINED
    std::uint32_t length;
  };
  static constexpr std::uint32_t JOINED = std::numeric_limits<std::uint32_t>::max();
  struct Joined {
    std::string text;
    std::size_t main_offset;  // of its first byte in the main text
  };

  [[nodiscard]] StatementOrigin joined_or_view_origin(std::size_t k) const noexcept;

  std::string_view program_;
  const ProgramText* places_;
  bool use_spans_ = true;
  std::vector<Span> spans_;
  std::vector<std::string_view> views_;
  std::deque<Joined> joined_;  // stable addresses for views_
  CutMap gaps_;                // main text -> program
};

}  // namespace corvane::qasm3::detail
