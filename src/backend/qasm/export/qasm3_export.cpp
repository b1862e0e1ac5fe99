#include "qasm/export/qasm3_export.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>
#include <utility>
#include <variant>

#include "qasm/export/full_language.hpp"
#include "qasm/records/qasm3_vocabulary.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ block summaries

std::size_t BlockSummaries::slot_of(Key key) const noexcept {
  // Fibonacci hashing of the address; its low bits are alignment and carry nothing.
  const auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key)) >> 4U;
  return static_cast<std::size_t>(bits * 0x9E3779B97F4A7C15ULL) & (slots_.size() - 1);
}

BlockSummary* BlockSummaries::find(Key key) const noexcept {
  if (slots_.empty()) return nullptr;
  for (std::size_t i = slot_of(key);; i = (i + 1) & (slots_.size() - 1)) {
    if (slots_[i].key == key) return slots_[i].summary;
    if (slots_[i].key == nullptr) return nullptr;
  }
}

void BlockSummaries::place(const Slot& slot) noexcept {
  std::size_t i = slot_of(slot.key);
  while (slots_[i].key != nullptr) {
    i = (i + 1) & (slots_.size() - 1);
  }
  slots_[i] = slot;
}

BlockSummary& BlockSummaries::insert(Key key, const BlockSummary& summary) {
  if (2 * (summaries_.size() + 1) > slots_.size()) {
    constexpr std::size_t FIRST_SIZE = 16;
    const std::vector<Slot> old =
        std::exchange(slots_, std::vector<Slot>(std::max(FIRST_SIZE, 2 * slots_.size())));
    for (const Slot& slot : old) {
      if (slot.key != nullptr) place(slot);
    }
  }
  BlockSummary& stored = summaries_.emplace_back(summary);
  place({key, &stored});
  return stored;
}

BlockSummary& BlockSummaries::of(const std::vector<QuantumGate>& gates) {
  if (BlockSummary* known = find(&gates)) {
    // Reached again at another depth: its own levels still count from here.
    if (depth_ + known->height > MAX_NESTING_DEPTH) {
      raise_recursion_error(std::string(RECURSION_MESSAGE));
    }
    return *known;
  }
  const DepthGuard guard(depth_);
  BlockSummary s;
  for (const QuantumGate& g : gates) {
    for (const IndexList* list : {&g.target, &g.control}) {
      for (const std::int64_t idx : *list) {
        s.min_qubit = std::min(s.min_qubit, idx);
        s.max_qubit = std::max(s.max_qubit, idx);
      }
    }
    const std::string_view id = g.id;  // compared by size first, unlike std::string
    if (id == "measure") {
      s.holds_non_gates = true;
      if (g.classical_target()) {
        for (const std::int64_t bit : *g.classical_target())
          s.max_clbit = std::max(s.max_clbit, bit);
      }
    }
    s.takes_fresh_names = s.takes_fresh_names || is_non_standard(id);
    const std::optional<Condition>& tested = g.condition();
    s.holds_non_gates = s.holds_non_gates || tested || id == "reset";
    if (tested) {
      // The bits a condition reads are declared as those measurements write are, and
      // the measurements in its bodies count as the sequence's own.
      for (const std::int64_t bit : tested->bits())
        s.max_clbit = std::max(s.max_clbit, bit);
      absorb_nested(s, g.else_gate_sequence());
    }
    if (tested || id == "block") absorb_nested(s, g.block_gate_sequence());
  }
  return insert(&gates, s);
}

void BlockSummaries::absorb_nested(BlockSummary& s, const GateBlock& nested) {
  if (!nested || nested->empty()) return;
  const BlockSummary& child = of(*nested);
  s.min_qubit = std::min(s.min_qubit, child.min_qubit);
  s.max_qubit = std::max(s.max_qubit, child.max_qubit);
  s.max_clbit = std::max(s.max_clbit, child.max_clbit);
  s.height = std::max(s.height, child.height + 1);
  s.takes_fresh_names = s.takes_fresh_names || child.takes_fresh_names;
  s.holds_non_gates = s.holds_non_gates || child.holds_non_gates;
}

// ------------------------------------------------------------------ register layout

std::int64_t max_qubit_index(const std::vector<QuantumGate>& gates, BlockSummaries& summaries) {
  return summaries.of(gates).max_qubit;
}

std::int64_t max_qubit_index(const std::vector<QuantumGate>& gates) {
  BlockSummaries summaries;
  return max_qubit_index(gates, summaries);
}

namespace {

// Bits the measurements need (the largest bit they write plus one), or `declared` when larger.
std::uint64_t clbits_for(std::int64_t max_clbit, std::optional<std::int64_t> declared) {
  const std::uint64_t inferred = max_clbit >= 0 ? static_cast<std::uint64_t>(max_clbit) + 1 : 0;
  if (declared && *declared > 0) return std::max(static_cast<std::uint64_t>(*declared), inferred);
  return inferred;
}

}  // namespace

std::uint64_t num_clbits(const std::vector<QuantumGate>& gates,
                         std::optional<std::int64_t> declared, BlockSummaries& summaries) {
  return clbits_for(summaries.of(gates).max_clbit, declared);
}

std::uint64_t num_clbits(const std::vector<QuantumGate>& gates,
                         std::optional<std::int64_t> declared) {
  BlockSummaries summaries;
  return num_clbits(gates, declared, summaries);
}

RegisterViews normalize_registers(const std::optional<RegisterList>& regs,
                                  std::string_view fallback_name, std::uint64_t total_size) {
  if (total_size == 0) return {};
  if (!regs) return {{fallback_name, total_size}};
  RegisterViews result;
  result.reserve(regs->size());
  std::uint64_t total = 0;
  for (const RegisterDecl& reg : *regs) {
    if (reg.size <= 0) {
      raise_value_error("Register " + quoted(reg.name) + " must have positive size");
    }
    const auto size = static_cast<std::uint64_t>(reg.size);
    result.push_back({reg.name, size});
    total = saturating_add(total, size);
  }
  if (total < total_size) {
    // total < total_size <= 2^63 here, so both print exactly.
    std::string message = "Register declarations cover " + std::to_string(total) +
                          " indices, but " + std::to_string(total_size) + " are required";
    raise_value_error(message);
  }
  return result;
}

RegisterIndexer::RegisterIndexer(const RegisterViews& regs) {
  spans_.reserve(regs.size());
  std::uint64_t start = 0;
  for (const RegisterView& reg : regs) {
    const std::uint64_t end = saturating_add(start, reg.size);
    spans_.push_back({start, end, std::string(reg.name) + '['});
    start = end;
  }
}

const RegisterIndexer::Span* RegisterIndexer::find_among(std::int64_t idx) const noexcept {
  if (idx < 0) return nullptr;
  const auto at = static_cast<std::uint64_t>(idx);
  // Spans are consecutive, so the candidate is the last one starting at or before idx.
  const auto after = std::upper_bound(spans_.begin(), spans_.end(), at,
                                      [](std::uint64_t i, const Span& s) { return i < s.start; });
  if (after == spans_.begin()) return nullptr;
  const Span& span = *(after - 1);
  return at < span.end ? &span : nullptr;
}

void RegisterIndexer::raise_outside(std::int64_t idx) {
  raise_value_error("Index " + int_text(idx) + " is outside declared registers");
}

RegisterIndexer::Place RegisterIndexer::place_of(std::int64_t idx) const {
  const Span* span = find(idx);
  if (span == nullptr) raise_outside(idx);
  const std::string_view prefix = span->prefix;
  return {prefix.substr(0, prefix.size() - 1), static_cast<std::uint64_t>(idx) - span->start,
          span->end - span->start};
}

std::string RegisterIndexer::operator()(std::int64_t idx) const {
  StatementLines out;
  put(out, idx);
  return std::string(out.text());
}

// A definition's body only refers to indices its block was found local for, so an
// index outside the arguments means the caller broke that promise.
void QubitNames::check_argument(std::int64_t idx) const {
  if (idx < 0 || idx >= arity_) RegisterIndexer::raise_outside(idx);
}

void QubitNames::put_argument(StatementLines& out, std::int64_t idx) const {
  check_argument(idx);
  out.put('a');
  out.put_int(idx);
}

QubitNames QubitNames::through(const QubitNames& outer, std::vector<std::int64_t> map) {
  QubitNames names = outer;
  if (!outer.map_.empty()) {
    // Composed at once, so that blocks inlined in blocks cost one lookup per operand.
    for (std::int64_t& idx : map) {
      outer.check_mapped(idx);
      idx = outer.map_[static_cast<std::size_t>(idx)];
    }
  }
  names.map_ = std::move(map);
  return names;
}

void QubitNames::check_mapped(std::int64_t idx) const {
  if (idx < 0 || static_cast<std::uint64_t>(idx) >= map_.size()) {
    RegisterIndexer::raise_outside(idx);
  }
}

void QubitNames::put_mapped(StatementLines& out, std::int64_t idx) const {
  check_mapped(idx);
  const std::int64_t named = map_[static_cast<std::size_t>(idx)];
  if (registers_ != nullptr) return registers_->put(out, named);
  put_argument(out, named);
}

// ------------------------------------------------------------------ names and parameters

std::string_view qasm3_name(std::string_view gid) noexcept {
  return lookup(INT_TO_QASM3, gid).value_or(gid);
}

namespace {

constexpr std::string_view NOT_FINITE = "QASM gate parameter must be finite; got ";

void append_complex(std::string& out, std::complex<double> z) {
  append_shortest(out, z.real());
  out += std::signbit(z.imag()) && !std::isnan(z.imag()) ? '-' : '+';
  append_shortest(out, std::fabs(z.imag()));
  out += 'j';
}

// The plain text form of an array: rows in brackets, entries as re+imj.
void append_array_text(std::string& out, const Matrix& m) {
  out += '[';
  for (std::size_t r = 0; r < m.rows; ++r) {
    if (r > 0) out += ", ";
    out += '[';
    for (std::size_t c = 0; c < m.cols; ++c) {
      if (c > 0) out += ", ";
      append_complex(out, m(r, c));
    }
    out += ']';
  }
  out += ']';
}

[[noreturn]] void raise_not_finite(std::string_view shown_as) {
  raise_value_error(std::string(NOT_FINITE) + std::string(shown_as));
}

void append_number(std::string& out, double value, NumberForm form) {
  if (form == NumberForm::Shortest) return append_shortest(out, value);
  append_g15(out, value);
}

void append_double(std::string& out, double value, NumberForm form) {
  if (!std::isfinite(value))
    raise_not_finite(std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf");
  append_number(out, value, form);
}

// A value the way Python prints it inside a list: True/False, integers, the
// shortest round-trip float, quoted text.
void append_scalar_repr(std::string& out, const ParamScalar& x) {
  std::visit(
      [&out](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) {
          out += v ? "True" : "False";
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          append_int(out, v);
        } else if constexpr (std::is_same_v<T, double>) {
          append_shortest(out, v);
        } else {
          append_quoted(out, v);
        }
      },
      x);
}

// A list or tuple as Python prints it: [a, b] or (a, b), a one-entry tuple as (a,).
void append_list_repr(std::string& out, const ParamListView& list) {
  out += list.is_tuple() ? '(' : '[';
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out += ", ";
    append_scalar_repr(out, list[i]);
  }
  if (list.is_tuple() && list.size() == 1) out += ',';
  out += list.is_tuple() ? ')' : ']';
}

void append_array_param(std::string& out, const Matrix& m, NumberForm form) {
  if (m.data.size() == 1 && m.data[0].imag() == 0.0) {
    if (!std::isfinite(m.data[0].real())) {
      std::string shown;
      append_array_text(shown, m);
      raise_not_finite(shown);
    }
    append_number(out, m.data[0].real(), form);
    return;
  }
  append_array_text(out, m);
}

}  // namespace

void append_param(std::string& out, const ParamScalar& x, NumberForm form) {
  std::visit(
      [&out, form](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          out += v;
        } else if constexpr (std::is_same_v<T, double>) {
          append_double(out, v, form);
        } else {
          append_number(out, static_cast<double>(v), form);
        }
      },
      x);
}

void append_param(std::string& out, const Parameter& x, NumberForm form) {
  switch (x.kind()) {
    case Parameter::Kind::Absent:
      out += "None";  // no numeric value: its plain text form
      return;
    case Parameter::Kind::Bool:
      append_number(out, x.as_bool() ? 1.0 : 0.0, form);
      return;
    case Parameter::Kind::Integer:
      append_number(out, static_cast<double>(x.as_integer()), form);
      return;
    case Parameter::Kind::Double:
      append_double(out, x.as_double(), form);
      return;
    case Parameter::Kind::Text:
      out += x.as_text();
      return;
    case Parameter::Kind::List:
      append_list_repr(out, x.as_list());
      return;
    case Parameter::Kind::Array:
      append_array_param(out, x.as_array(), form);
      return;
  }
}

std::string fmt_param(const ParamScalar& x) {
  std::string out;
  append_param(out, x);
  return out;
}

std::string fmt_param(const Parameter& x) {
  std::string out;
  append_param(out, x);
  return out;
}

void append_params(std::string& out, const Parameter& params, std::optional<std::int64_t> expected,
                   NumberForm form) {
  const Parameter::Kind kind = params.kind();
  const bool is_list = kind == Parameter::Kind::List;
  if (kind == Parameter::Kind::Absent || (is_list && params.as_list().empty())) {
    if (expected) raise_value_error("Missing parameters");
    return;
  }
  if (kind == Parameter::Kind::Bool || kind == Parameter::Kind::Integer ||
      kind == Parameter::Kind::Double) {
    if (expected && *expected != 1) {
      raise_value_error("Expected " + int_text(*expected) + " params, got scalar");
    }
    append_param(out, params, form);
    return;
  }
  if (is_list) {
    const ParamListView items = params.as_list();
    if (expected && std::cmp_not_equal(*expected, items.size())) {
      raise_value_error("Expected " + int_text(*expected) + " params, got " +
                        std::to_string(items.size()));
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) out += ", ";
      append_param(out, items[i], form);
    }
    return;
  }
  append_param(out, params, form);
}

std::string fmt_params(const Parameter& params, std::optional<std::int64_t> expected) {
  std::string out;
  append_params(out, params, expected);
  return out;
}

// ------------------------------------------------------------------ statement lines

StatementLines::StatementLines(std::initializer_list<std::string_view> lines) {
  for (const std::string_view line : lines) {
    put(line);
    end_line();
  }
}

void StatementLines::reserve(std::size_t bytes, std::size_t lines) {
  reserve_for_filling(text_, bytes);  // the program text: tens of megabytes for large circuits
  if (tracked_) ends_.reserve(lines);
}

// The room ahead grows with the text, so the zero-filling of std::string::resize stays
// proportional to what is written; within the reserved capacity nothing is moved.
void StatementLines::grow(std::size_t needed) {
  constexpr std::size_t MIN_ROOM = 256;
  constexpr std::size_t MAX_ROOM = std::size_t{1} << 20U;
  text_.resize(len_ + std::max(needed, std::clamp(text_.size(), MIN_ROOM, MAX_ROOM)));
}

void StatementLines::record_end() {
  ends_.push_back(len_);
}

std::string StatementLines::take_text() && {
  text_.resize(len_);
  len_ = 0;
  count_ = 0;
  ends_.clear();
  return std::move(text_);
}

std::string_view StatementLines::line(std::size_t i) const noexcept {
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  return text().substr(begin, ends_[i] - 1 - begin);
}

std::vector<std::string> StatementLines::lines() const {
  std::vector<std::string> result;
  result.reserve(ends_.size());
  for (std::size_t i = 0; i < ends_.size(); ++i) {
    result.emplace_back(line(i));
  }
  return result;
}

std::size_t StatementLines::hash() const noexcept {
  return std::hash<std::string_view>{}(text()) ^ (ends_.size() * 0x9E3779B97F4A7C15ULL);
}

// ------------------------------------------------------------------ definition accumulator

namespace {

// The word a definition text defines: what follows "gate " up to the next blank.
std::string_view defined_name(std::string_view definition) {
  constexpr std::string_view GATE_KEYWORD = "gate ";
  if (definition.substr(0, GATE_KEYWORD.size()) != GATE_KEYWORD) return {};
  const std::string_view rest = definition.substr(GATE_KEYWORD.size());
  return rest.substr(0, rest.find(' '));
}

void append_header(std::string& out, std::string_view name, std::int64_t arity) {
  out += "gate ";
  out += name;
  out += ' ';
  for (std::int64_t i = 0; i < arity; ++i) {
    if (i > 0) out += ", ";
    out += 'a';
    append_int(out, i);
  }
  out += " {";
}

void append_body_line(std::string& out, std::string_view line) {
  out += "\n  ";
  out += line;
}

}  // namespace

std::string Qasm3Ctx::new_name(std::string_view base) {
  std::string name(base);
  name += '_';
  append_int(name, counter_);
  ++counter_;
  return name;
}

const std::string& Qasm3Ctx::find_or_create_def(std::int64_t arity, StatementLines body_lines,
                                                std::string_view base) {
  const std::size_t key = body_lines.hash() ^ std::hash<std::int64_t>{}(arity);
  const auto [first, last] = dedup_.equal_range(key);
  for (auto it = first; it != last; ++it) {
    if (it->second.arity == arity && it->second.body == body_lines) return it->second.name;
  }
  std::string name = new_name(base);
  std::string definition;
  definition.reserve(body_lines.text().size() + 2 * body_lines.size() + 32);
  append_header(definition, name, arity);
  for (std::size_t i = 0; i < body_lines.size(); ++i)
    append_body_line(definition, body_lines.line(i));
  definition += "\n}";
  append_def(std::move(definition));
  const auto entry = dedup_.emplace(key, DedupEntry{arity, std::move(body_lines), std::move(name)});
  return entry->second.name;
}

bool Qasm3Ctx::has_def_named(std::string_view gate_name) const {
  if (gate_name.find(' ') == std::string_view::npos) {
    // Without a blank in it, the name can only be an entry's first word.
    for (; named_defs_ < gate_defs_.size(); ++named_defs_) {
      def_names_.emplace(defined_name(gate_defs_[named_defs_]));
    }
    return def_names_.contains(std::string(gate_name));
  }
  std::string prefix = "gate ";
  prefix += gate_name;
  prefix += ' ';
  return std::any_of(gate_defs_.begin(), gate_defs_.end(),
                     [&prefix](const std::string& def) { return def.starts_with(prefix); });
}

void Qasm3Ctx::append_def(std::string definition) {
  gate_defs_.push_back(std::move(definition));
}

void ensure_gate_def(Qasm3Ctx& ctx, std::string_view gate_name, std::string_view gid) {
  if (ctx.has_def_named(gate_name)) return;
  std::string definition = "gate ";
  definition += gate_name;
  definition += " a0 {";
  if (const NonStandardBody* body = non_standard_body(gid)) {
    for (std::size_t i = 0; i < body->line_count; ++i)
      append_body_line(definition, body->lines[i]);
  } else {
    definition += "\n  // ";
    definition += gid;
    definition += " not implemented;";
  }
  definition += "\n}";
  ctx.append_def(std::move(definition));
}

bool is_local(const BlockSummary& s, std::int64_t arity) noexcept {
  if (s.min_qubit == INT64_MAX) return true;  // no index at all
  return s.min_qubit >= 0 && s.max_qubit < arity;
}

bool block_is_local(const std::vector<QuantumGate>& block_gates, std::int64_t arity,
                    BlockSummaries& summaries) {
  return is_local(summaries.of(block_gates), arity);
}

bool block_is_local(const std::vector<QuantumGate>& block_gates, std::int64_t arity) {
  BlockSummaries summaries;
  return block_is_local(block_gates, arity, summaries);
}

}  // namespace corvane::qasm3::detail

// ------------------------------------------------------------------ driver

namespace corvane::qasm3 {

namespace {

// A statement of a typical circuit takes 15 to 30 bytes; reserved pages that are never
// written cost nothing, reallocating a large buffer costs a copy.
constexpr std::size_t BYTES_PER_STATEMENT = 24;
constexpr std::size_t PREFIX_ROOM = 4096;

void append_declarations(std::string& out, std::string_view keyword,
                         const detail::RegisterViews& regs) {
  for (const detail::RegisterView& reg : regs) {
    out += keyword;
    out += '[';
    out += std::to_string(reg.size);
    out += "] ";
    out += reg.name;
    out += ";\n";
  }
}

// The register declarations of one program.
struct Layout {
  detail::RegisterViews quantum;
  detail::RegisterViews classical;
};

// At least one qubit, and as many as the sequence declares or its gates use.
std::uint64_t qubits_for(const GateSequence& gs, std::int64_t max_qubit) {
  const std::uint64_t declared = gs.num_qubits > 0 ? static_cast<std::uint64_t>(gs.num_qubits) : 0;
  // max_qubit >= -1, and INT64_MAX + 1 must not overflow: count in unsigned.
  const std::uint64_t used = static_cast<std::uint64_t>(max_qubit) + 1;
  return std::max<std::uint64_t>({declared, used, 1});
}

// Declared register lists are checked against the sizes before any statement is
// written, as their failures come first. Under full_language the register names are
// checked next, and the registers are always laid out first: a condition on a whole
// register is written as one only when the register's size is known.
Layout emit_in_declared_layout(const GateSequence& gs, std::string_view qreg_name,
                               std::string_view creg_name, std::optional<std::int64_t> num_clbits,
                               const std::optional<RegisterList>& qregs,
                               const std::optional<RegisterList>& cregs, bool full_language,
                               detail::Qasm3Ctx& ctx, detail::StatementLines& out) {
  using namespace detail;
  const std::vector<QuantumGate>& gates = gs.data();
  const std::uint64_t n_qubits = qubits_for(gs, max_qubit_index(gates, ctx.block_summaries()));
  const std::uint64_t n_clbits = detail::num_clbits(gates, num_clbits, ctx.block_summaries());
  Layout layout{normalize_registers(qregs, qreg_name, n_qubits),
                n_clbits > 0 ? normalize_registers(cregs, creg_name, n_clbits) : RegisterViews{}};
  if (full_language) check_register_names(layout.quantum, layout.classical);
  const RegisterIndexer qubits(layout.quantum);
  const RegisterIndexer bits(layout.classical);
  emit_sequence(gates, ctx, QubitNames(qubits), bits, {}, {}, true, out, nullptr, full_language);
  if (full_language) check_names_against_definitions(layout.quantum, layout.classical, ctx);
  return layout;
}

// The default registers are sized to fit the gates, so every index that is not
// negative has a place in them: the statements can be written while the sizes are
// gathered, in one pass over the gates. Sizing first could only have failed for
// nesting too deep, and that failure comes before any other: a failed pass checks for it.
Layout emit_in_fitted_layout(const GateSequence& gs, std::string_view qreg_name,
                             std::string_view creg_name, std::optional<std::int64_t> num_clbits,
                             detail::Qasm3Ctx& ctx, detail::StatementLines& out) {
  using namespace detail;
  constexpr std::uint64_t EVERY_INDEX = std::uint64_t{1} << 63U;
  const RegisterIndexer qubits({{qreg_name, EVERY_INDEX}});
  const RegisterIndexer bits({{creg_name, EVERY_INDEX}});
  UsedIndices used;
  try {
    emit_sequence(gs.data(), ctx, QubitNames(qubits), bits, {}, {}, true, out, &used);
  } catch (const Error&) {
    ctx.block_summaries().of(gs.data());
    throw;
  }
  const std::uint64_t n_clbits = clbits_for(used.max_clbit, num_clbits);
  return {{{qreg_name, qubits_for(gs, used.max_qubit)}},
          n_clbits > 0 ? RegisterViews{{creg_name, n_clbits}} : RegisterViews{}};
}

std::string write_program(const GateSequence& gs, std::string_view qreg_name,
                          std::string_view creg_name, std::optional<std::int64_t> num_clbits,
                          const std::optional<RegisterList>& qregs,
                          const std::optional<RegisterList>& cregs, bool full_language) {
  using namespace detail;
  Qasm3Ctx ctx;
  // The statements are written first, into the buffer that becomes the program;
  // header, definitions and declarations are known only afterwards and are put in
  // front in place.
  StatementLines statements(StatementLines::Ends::Untracked);
  statements.reserve(gs.data().size() * BYTES_PER_STATEMENT + PREFIX_ROOM, 0);
  const Layout layout =
      qregs || cregs || full_language
          ? emit_in_declared_layout(gs, qreg_name, creg_name, num_clbits, qregs, cregs,
                                    full_language, ctx, statements)
          : emit_in_fitted_layout(gs, qreg_name, creg_name, num_clbits, ctx, statements);

  std::string prefix = "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";
  // Free inputs come before the definitions, whose bodies may name them.
  std::string inputs;
  if (full_language) {
    append_free_inputs(inputs, gs.qasm_inputs, layout.quantum, layout.classical, ctx);
  }
  if (!inputs.empty()) {
    prefix += '\n';
    prefix += inputs;
  }
  if (!ctx.gate_defs().empty()) {
    prefix += '\n';
    for (const std::string& def : ctx.gate_defs()) {
      prefix += def;
      prefix += '\n';
    }
  }
  if (inputs.empty() || !ctx.gate_defs().empty()) prefix += '\n';
  append_declarations(prefix, "qubit", layout.quantum);
  append_declarations(prefix, "bit", layout.classical);
  if (!statements.empty()) prefix += '\n';
  std::string program = std::move(statements).take_text();
  program.insert(0, prefix);
  return program;
}

}  // namespace

std::string gate_sequence_to_qasm3(const GateSequence& gs, std::string_view qreg_name,
                                   std::string_view creg_name,
                                   std::optional<std::int64_t> num_clbits,
                                   const std::optional<RegisterList>& qregs,
                                   const std::optional<RegisterList>& cregs) {
  return write_program(gs, qreg_name, creg_name, num_clbits, qregs, cregs, false);
}

std::string gate_sequence_to_qasm3(const GateSequence& gs, const ExportOptions& options) {
  return write_program(gs, options.qreg_name, options.creg_name, options.num_clbits, options.qregs,
                       options.cregs, options.full_language);
}

}  // namespace corvane::qasm3
