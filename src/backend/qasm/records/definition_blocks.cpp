#include "qasm/records/definition_blocks.hpp"

#include "qasm/records/qasm3_vocabulary.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ generated definitions

std::string normalize_stmt_for_match(std::string_view stmt) {
  std::string_view s = trim(stmt);
  while (!s.empty() && s.back() == ';')
    s.remove_suffix(1);
  std::string out;
  out.reserve(s.size());
  for (std::size_t pos = 0; pos < s.size();) {
    if (const std::size_t blanks = space_run(s, pos); blanks > 0) {
      out += ' ';
      pos += blanks;
      continue;
    }
    const auto length = static_cast<std::size_t>(decode_at(s, pos).length);
    out.append(s.substr(pos, length));
    pos += length;
  }
  return std::string(trim(out));
}

namespace {
// "^" + id + "_\d+$": the name the exporter gives a generated definition.
bool is_generated_name(std::string_view name, std::string_view id) {
  if (!name.starts_with(id) || name.size() <= id.size() || name[id.size()] != '_') return false;
  const std::size_t digits_at = id.size() + 1;
  const std::size_t digits = digit_run(name, digits_at);
  const std::size_t end = digits_at + digits;
  return digits > 0 && (end == name.size() || (end + 1 == name.size() && name[end] == '\n'));
}
}  // namespace

std::optional<std::string_view> generated_non_standard_gate_id(std::string_view name,
                                                               std::size_t arg_count,
                                                               std::span<const std::string> body) {
  if (arg_count != 1) return std::nullopt;
  for (const NonStandardBody& row : NON_STANDARD_BODIES) {
    if (!is_generated_name(name, row.id)) continue;
    if (body.size() != row.line_count) continue;
    bool same = true;
    for (std::size_t k = 0; k < row.line_count && same; ++k) {
      same = normalize_stmt_for_match(body[k]) == normalize_stmt_for_match(row.lines[k]);
    }
    if (same) return row.id;
  }
  return std::nullopt;
}

// ------------------------------------------------------------------ shared blocks

const GateBlock* DefinitionBlocks::reuse(std::string_view name) {
  const auto done = expanded_.find(name);
  if (done == expanded_.end()) return nullptr;
  // Expanding it again here would nest this much deeper.
  const int reached = depth_ + done->second.height;
  if (reached > MAX_NESTING_DEPTH) raise_recursion_error(std::string(RECURSION_MESSAGE));
  deepest_ = std::max(deepest_, reached);
  return &done->second.children;
}

void DefinitionBlocks::check_not_expanding(std::string_view name) const {
  if (expanding_.contains(name)) {
    raise_value_error("Circular gate definition detected: '" + std::string(name) +
                      "' calls itself directly or indirectly.");
  }
}

int DefinitionBlocks::begin(std::string_view key) {
  const int outer_deepest = std::exchange(deepest_, depth_);
  expanding_.insert(key);
  return outer_deepest;
}

GateBlock DefinitionBlocks::finish(std::string_view key, int outer_depth, int outer_deepest,
                                   std::vector<QuantumGate> children) {
  expanding_.erase(key);
  const int height = deepest_ - outer_depth;
  deepest_ = std::max(outer_deepest, deepest_);
  GateBlock block = make_block(std::move(children));
  expanded_.emplace(key, Expansion{block, height});
  return block;
}

}  // namespace corvane::qasm3::detail
