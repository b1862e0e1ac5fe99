// Places in the JSON text: how much of it a message quotes, where a record of a sequence
// read from it starts, and the line and column of an offset. Apart from the reader, whose
// hot path must not carry them.
#include <algorithm>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/qasm/text_forms.hpp"
#include "json_form.hpp"

namespace corvane::qasm3::cli {

namespace {

// How many bytes of `piece` (valid UTF-8) a message quotes: at most EXCERPT_CHARACTERS
// code points.
std::size_t excerpt_bytes(std::string_view piece) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < piece.size(); ++i) {
    const bool starts_character = (piece[i] & 0xC0) != 0x80;
    if (starts_character && characters++ == EXCERPT_CHARACTERS) return i;
  }
  return piece.size();
}

}  // namespace

std::string excerpt(std::string_view piece) {
  const std::size_t kept = excerpt_bytes(piece);
  return std::string(piece.substr(0, kept)) + (kept < piece.size() ? "..." : "");
}

std::string quoted_excerpt(std::string_view piece) {
  const std::size_t kept = excerpt_bytes(piece);
  std::string shown = quoted(piece.substr(0, kept));
  if (kept < piece.size()) shown.insert(shown.size() - 1, "...");
  return shown;
}

namespace {

std::size_t records_in(const QuantumGate& gate);

// The records of one list of gates, with those nested in them.
std::size_t records_in(const GateBlock& gates) {
  std::size_t count = 0;
  if (gates) {
    for (const QuantumGate& inner : *gates)
      count += records_in(inner);
  }
  return count;
}

// The records that `gate` stands for in the text: itself and those of its block and
// else-block, nested no deeper than the reader reads.
std::size_t records_in(const QuantumGate& gate) {
  return 1 + records_in(gate.block_gate_sequence()) + records_in(gate.else_gate_sequence());
}

}  // namespace

// The records come in the text in the order reading notes their starts, so the record at
// `path` is the one after all records before it: the earlier records of each list on the
// way, with everything nested in them, each enclosing record itself, and whichever of its
// block and else-block comes first in the text when the path goes into the other. The
// path numbers an else-block's records after those of its block.
std::optional<std::size_t> record_start(const GateSequence& gs, const RecordStarts& starts,
                                        std::span<const std::size_t> path) {
  const std::vector<QuantumGate>* gates = &gs.data();
  std::size_t position = 0;
  std::size_t index = path.empty() ? 0 : path[0];
  for (std::size_t level = 0; level < path.size(); ++level) {
    if (gates == nullptr || index >= gates->size()) return std::nullopt;
    for (std::size_t k = 0; k < index; ++k)
      position += records_in((*gates)[k]);
    if (level + 1 == path.size()) break;
    const QuantumGate& enclosing = (*gates)[index];
    const bool else_first =
        std::binary_search(starts.else_first.begin(), starts.else_first.end(), position);
    position += 1;
    const GateBlock& block = enclosing.block_gate_sequence();
    const std::size_t block_size = block ? block->size() : 0;
    index = path[level + 1];
    if (index >= block_size && enclosing.else_gate_sequence()) {
      if (!else_first) position += records_in(block);
      index -= block_size;
      gates = enclosing.else_gate_sequence().get();
    } else {
      if (else_first) position += records_in(enclosing.else_gate_sequence());
      gates = block.get();
    }
  }
  if (path.empty() || position >= starts.offsets.size()) return std::nullopt;
  return starts.offsets[position];
}

Location place_in_text(std::string_view text, std::size_t offset) {
  const std::string_view before = text.substr(0, offset);
  const std::size_t line_start = before.rfind('\n') + 1;  // 0 without a line feed
  const auto line = 1 + std::count(before.begin(), before.end(), '\n');
  const auto column = 1 + std::count_if(before.begin() + static_cast<std::ptrdiff_t>(line_start),
                                        before.end(), [](char c) { return (c & 0xC0) != 0x80; });
  return {static_cast<std::size_t>(line), static_cast<std::size_t>(column), offset};
}

}  // namespace corvane::qasm3::cli
