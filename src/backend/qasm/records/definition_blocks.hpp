// Definitions as shared blocks. The body of a gate definition becomes records once per
// reading, and every call of the definition shares them as the children of its block
// record. A definition reached again while its own body is being expanded is a cycle;
// definitions nest no deeper than anything else. Definitions the exporter writes for its
// non-standard gates are recognised and read back as those gates.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/depth_guard.hpp"
#include "corvane/backend/gate/gatebase.hpp"
#include "qasm/records/register_layout.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ generated definitions
// Trimmed, trailing ';'s dropped, whitespace runs collapsed to one blank, trimmed again.
std::string normalize_stmt_for_match(std::string_view stmt);
// The internal id whose exporter-written definition the definition `name` with
// `arg_count` arguments and the body statements `body` is, or nothing.
std::optional<std::string_view> generated_non_standard_gate_id(std::string_view name,
                                                               std::size_t arg_count,
                                                               std::span<const std::string> body);

// ------------------------------------------------------------------ shared blocks
// The expansions of one reading: the definitions being expanded (for cycles), the
// nesting depth, and every finished expansion with the nesting it used.
class DefinitionBlocks {
 public:
  // The children of the definition `key` (text that outlives this object). The first
  // time, `expand_body(std::vector<QuantumGate>& children)` fills them; later calls share
  // them. ValueError when the expansion of `key` reaches `key` again; RecursionError
  // when the nesting would pass MAX_NESTING_DEPTH.
  template <class ExpandBody>
  GateBlock block_of(std::string_view key, ExpandBody&& expand_body) {
    if (const GateBlock* done = reuse(key)) return *done;
    check_not_expanding(key);
    const int outer_depth = depth_;
    const DepthGuard guard(depth_);
    const int outer_deepest = begin(key);
    std::vector<QuantumGate> children;
    expand_body(children);
    return finish(key, outer_depth, outer_deepest, std::move(children));
  }

 private:
  struct Expansion {
    GateBlock children;
    int height = 0;  // nesting levels the expansion used, itself included
  };

  // The finished expansion of `name`, or null; RecursionError when reusing it here would
  // nest too deep.
  const GateBlock* reuse(std::string_view name);
  void check_not_expanding(std::string_view name) const;
  // Marks `key` as being expanded; returns the deepest level reached outside it.
  int begin(std::string_view key);
  GateBlock finish(std::string_view key, int outer_depth, int outer_deepest,
                   std::vector<QuantumGate> children);

  std::unordered_set<std::string_view, TextHash, std::equal_to<>> expanding_;
  std::unordered_map<std::string_view, Expansion, TextHash, std::equal_to<>> expanded_;
  int depth_ = 0;
  int deepest_ = 0;
};

}  // namespace corvane::qasm3::detail
