#include "qasm3_export.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <type_traits>
#include <utility>
#include <variant>

#include "qasm3_vocabulary.hpp"
#include "text.hpp"

namespace corvane::qasm3::detail {

namespace {

using Indices = std::span<const std::int64_t>;

Indices indices(const IndexList& list) noexcept {
  return {list.data(), list.size()};
}

bool is_non_standard(std::string_view gid) noexcept {
  return contains(NON_STANDARD, gid);
}

// Sum of two counts, held at UINT64_MAX instead of wrapping: past 2^63 no int64 index
// can reach, so the exact value no longer matters.
std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
  return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

}  // namespace

// ------------------------------------------------------------------ block summaries

const BlockSummary& BlockSummaries::of(const std::vector<QuantumGate>& gates) {
  return walk(gates);
}

const BlockSummary& BlockSummaries::walk(const std::vector<QuantumGate>& gates) {
  if (auto it = known_.find(&gates); it != known_.end()) {
    // Reached again at another depth: its own levels still count from here.
    if (depth_ + it->second.height > kMaxNestingDepth) {
      raise_recursion_error(std::string(kRecursionMessage));
    }
    return it->second;
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
    if (g.id == "measure" && g.classical_target()) {
      for (const std::int64_t bit : *g.classical_target())
        s.max_clbit = std::max(s.max_clbit, bit);
    }
    s.takes_fresh_names = s.takes_fresh_names || is_non_standard(g.id);
    const GateBlock& nested = g.block_gate_sequence();
    if (g.id == "block" && nested && !nested->empty()) {
      const BlockSummary& child = walk(*nested);
      s.min_qubit = std::min(s.min_qubit, child.min_qubit);
      s.max_qubit = std::max(s.max_qubit, child.max_qubit);
      s.max_clbit = std::max(s.max_clbit, child.max_clbit);
      s.height = std::max(s.height, child.height + 1);
      s.takes_fresh_names = s.takes_fresh_names || child.takes_fresh_names;
    }
  }
  return known_.emplace(&gates, s).first->second;
}

// ------------------------------------------------------------------ register layout

std::int64_t max_qubit_index(const std::vector<QuantumGate>& gates, BlockSummaries& summaries) {
  return summaries.of(gates).max_qubit;
}

std::int64_t max_qubit_index(const std::vector<QuantumGate>& gates) {
  BlockSummaries summaries;
  return max_qubit_index(gates, summaries);
}

std::uint64_t num_clbits(const std::vector<QuantumGate>& gates,
                         std::optional<std::int64_t> declared, BlockSummaries& summaries) {
  const std::int64_t mx = summaries.of(gates).max_clbit;
  const std::uint64_t inferred = mx >= 0 ? static_cast<std::uint64_t>(mx) + 1 : 0;
  if (declared && *declared > 0) return std::max(static_cast<std::uint64_t>(*declared), inferred);
  return inferred;
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
    raise_value_error(std::move(message));
  }
  return result;
}

RegisterIndexer::RegisterIndexer(const RegisterViews& regs) {
  spans_.reserve(regs.size());
  std::uint64_t start = 0;
  for (const RegisterView& reg : regs) {
    const std::uint64_t end = saturating_add(start, reg.size);
    spans_.push_back({start, end, std::string(reg.name)});
    start = end;
  }
}

const RegisterIndexer::Span* RegisterIndexer::find(std::int64_t idx) const noexcept {
  if (idx < 0 || spans_.empty()) return nullptr;
  const auto at = static_cast<std::uint64_t>(idx);
  // Spans are consecutive, so the candidate is the last one starting at or before idx.
  const Span* span = spans_.data();
  if (spans_.size() > 1) {
    const auto after = std::upper_bound(spans_.begin(), spans_.end(), at,
                                        [](std::uint64_t i, const Span& s) { return i < s.start; });
    if (after == spans_.begin()) return nullptr;
    span = &*(after - 1);
  }
  return at < span->end ? span : nullptr;
}

void RegisterIndexer::raise_outside(std::int64_t idx) {
  raise_value_error("Index " + int_text(idx) + " is outside declared registers");
}

void RegisterIndexer::check(std::int64_t idx) const {
  if (find(idx) == nullptr) raise_outside(idx);
}

void RegisterIndexer::append(std::string& out, std::int64_t idx) const {
  const Span* span = find(idx);
  if (span == nullptr) raise_outside(idx);
  out += span->name;
  out += '[';
  append_int(out, static_cast<std::int64_t>(static_cast<std::uint64_t>(idx) - span->start));
  out += ']';
}

std::string RegisterIndexer::operator()(std::int64_t idx) const {
  std::string out;
  append(out, idx);
  return out;
}

// A definition's body only refers to indices its block was found local for, so an
// index outside the arguments means the caller broke that promise.
void QubitNames::check(std::int64_t idx) const {
  if (registers_ != nullptr) {
    registers_->check(idx);
  } else if (idx < 0 || idx >= arity_) {
    raise_value_error("Index " + int_text(idx) + " is outside declared registers");
  }
}

void QubitNames::append(std::string& out, std::int64_t idx) const {
  if (registers_ != nullptr) {
    registers_->append(out, idx);
    return;
  }
  check(idx);
  out += 'a';
  append_int(out, idx);
}

// ------------------------------------------------------------------ names and parameters

std::string_view qasm3_name(std::string_view gid) noexcept {
  return lookup(INT_TO_QASM3, gid).value_or(gid);
}

namespace {

constexpr std::string_view kNotFinite = "QASM gate parameter must be finite; got ";

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
  raise_value_error(std::string(kNotFinite) + std::string(shown_as));
}

void append_double(std::string& out, double value) {
  if (!std::isfinite(value))
    raise_not_finite(std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf");
  append_g15(out, value);
}

// A value the way the host prints it inside a list: True/False, integers, the
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

// A list or tuple as the host prints it: [a, b] or (a, b), a one-entry tuple as (a,).
void append_list_repr(std::string& out, const ParamList& list) {
  out += list.is_tuple ? '(' : '[';
  for (std::size_t i = 0; i < list.items.size(); ++i) {
    if (i > 0) out += ", ";
    append_scalar_repr(out, list.items[i]);
  }
  if (list.is_tuple && list.items.size() == 1) out += ',';
  out += list.is_tuple ? ')' : ']';
}

void append_array_param(std::string& out, const Matrix& m) {
  if (m.data.size() == 1 && m.data[0].imag() == 0.0) {
    if (!std::isfinite(m.data[0].real())) {
      std::string shown;
      append_array_text(shown, m);
      raise_not_finite(shown);
    }
    append_g15(out, m.data[0].real());
    return;
  }
  append_array_text(out, m);
}

}  // namespace

void append_param(std::string& out, const ParamScalar& x) {
  std::visit(
      [&out](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          out += v;
        } else if constexpr (std::is_same_v<T, double>) {
          append_double(out, v);
        } else {
          append_g15(out, static_cast<double>(v));
        }
      },
      x);
}

void append_param(std::string& out, const Parameter& x) {
  switch (x.kind()) {
    case Parameter::Kind::Absent:
      out += "None";  // no numeric value: its plain text form
      return;
    case Parameter::Kind::Bool:
      append_g15(out, x.as_bool() ? 1.0 : 0.0);
      return;
    case Parameter::Kind::Integer:
      append_g15(out, static_cast<double>(x.as_integer()));
      return;
    case Parameter::Kind::Double:
      append_double(out, x.as_double());
      return;
    case Parameter::Kind::Text:
      out += x.as_text();
      return;
    case Parameter::Kind::List:
      append_list_repr(out, x.as_list());
      return;
    case Parameter::Kind::Array:
      append_array_param(out, x.as_array());
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

void append_params(std::string& out, const Parameter& params,
                   std::optional<std::int64_t> expected) {
  const Parameter::Kind kind = params.kind();
  const bool is_list = kind == Parameter::Kind::List;
  if (kind == Parameter::Kind::Absent || (is_list && params.as_list().items.empty())) {
    if (expected) raise_value_error("Missing parameters");
    return;
  }
  if (kind == Parameter::Kind::Bool || kind == Parameter::Kind::Integer ||
      kind == Parameter::Kind::Double) {
    if (expected && *expected != 1) {
      raise_value_error("Expected " + int_text(*expected) + " params, got scalar");
    }
    append_param(out, params);
    return;
  }
  if (is_list) {
    const std::vector<ParamScalar>& items = params.as_list().items;
    if (expected && std::cmp_not_equal(*expected, items.size())) {
      raise_value_error("Expected " + int_text(*expected) + " params, got " +
                        std::to_string(items.size()));
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) out += ", ";
      append_param(out, items[i]);
    }
    return;
  }
  append_param(out, params);
}

std::string fmt_params(const Parameter& params, std::optional<std::int64_t> expected) {
  std::string out;
  append_params(out, params, expected);
  return out;
}

bool has_param(const QuantumGate& g) noexcept {
  switch (g.parameter.kind()) {
    case Parameter::Kind::Absent:
      return false;
    case Parameter::Kind::List:
      return !g.parameter.as_list().items.empty();
    default:
      return true;
  }
}

// ------------------------------------------------------------------ statement lines

StatementLines::StatementLines(std::initializer_list<std::string_view> lines) {
  for (const std::string_view line : lines) {
    text_ += line;
    end_line();
  }
}

void StatementLines::reserve(std::size_t bytes, std::size_t lines) {
  text_.reserve(bytes);
  ends_.reserve(lines);
}

std::string_view StatementLines::line(std::size_t i) const noexcept {
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  return std::string_view(text_).substr(begin, ends_[i] - 1 - begin);
}

std::vector<std::string> StatementLines::lines() const {
  std::vector<std::string> result;
  result.reserve(size());
  for (std::size_t i = 0; i < size(); ++i)
    result.emplace_back(line(i));
  return result;
}

std::size_t StatementLines::hash() const noexcept {
  return std::hash<std::string_view>{}(text_) ^ (ends_.size() * 0x9E3779B97F4A7C15ULL);
}

// ------------------------------------------------------------------ definition accumulator

namespace {

// The word a definition text defines: what follows "gate " up to the next blank.
std::string_view defined_name(std::string_view definition) {
  constexpr std::string_view kGate = "gate ";
  if (definition.substr(0, kGate.size()) != kGate) return {};
  const std::string_view rest = definition.substr(kGate.size());
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
    return def_names_.contains(std::string(gate_name));
  }
  std::string prefix = "gate ";
  prefix += gate_name;
  prefix += ' ';
  return std::any_of(gate_defs_.begin(), gate_defs_.end(),
                     [&prefix](const std::string& def) { return def.starts_with(prefix); });
}

void Qasm3Ctx::append_def(std::string definition) {
  def_names_.emplace(defined_name(definition));
  gate_defs_.push_back(std::move(definition));
}

std::size_t Qasm3Ctx::BlockUseHash::operator()(const BlockUse& use) const noexcept {
  return std::hash<const void*>{}(use.block) ^ (static_cast<std::size_t>(use.arity) << 1U);
}

const std::string* Qasm3Ctx::block_def(const std::vector<QuantumGate>& block,
                                       std::int64_t arity) const {
  const auto it = block_defs_.find({&block, arity});
  return it == block_defs_.end() ? nullptr : &it->second;
}

void Qasm3Ctx::remember_block_def(const std::vector<QuantumGate>& block, std::int64_t arity,
                                  const std::string& name) {
  block_defs_.emplace(BlockUse{&block, arity}, name);
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

bool block_is_local(const std::vector<QuantumGate>& block_gates, std::int64_t arity,
                    BlockSummaries& summaries) {
  const BlockSummary& s = summaries.of(block_gates);
  if (s.min_qubit == INT64_MAX) return true;  // no index at all
  return s.min_qubit >= 0 && s.max_qubit < arity;
}

bool block_is_local(const std::vector<QuantumGate>& block_gates, std::int64_t arity) {
  BlockSummaries summaries;
  return block_is_local(block_gates, arity, summaries);
}

// ------------------------------------------------------------------ statement emission

namespace {

// The rule a gate id selects, in the order the dispatch tries them.
enum class Rule : std::uint8_t {
  Block,  // with a gate sequence; without one nothing is written
  Measure,
  Rzz,
  MinusZ,
  GlobalPhase,
  Unitary,  // with a stored matrix; without one it is unsupported
  NonStandard,
  ControlledRotation,
  Mcx,  // "ccx" when doubly controlled on ones, else the modifier rule
  Modifier,
  ControlledGate,
  OneQubit,
  Swap,
  Unsupported,
};

struct GateClass {
  Rule rule = Rule::Unsupported;
  std::string_view qname;    // OpenQASM name
  std::string_view compact;  // compact singly-controlled name (rules 9 and 12)
  std::string_view base;     // base gate under modifiers; empty for "cu" (rules 9, 11, 12)
};

// The dispatch on the id alone, exactly in rule order; conditions on the record
// itself (a block's gate sequence, a stored matrix, the controls) are left to emission.
GateClass classify_id(std::string_view gid) {
  GateClass c;
  c.qname = qasm3_name(gid);
  if (gid == "block") {
    c.rule = Rule::Block;
  } else if (gid == "measure") {
    c.rule = Rule::Measure;
  } else if (gid == "rzz") {
    c.rule = Rule::Rzz;
  } else if (gid == "-z") {
    c.rule = Rule::MinusZ;
  } else if (gid == "gp" || gid == "global_phase") {
    c.rule = Rule::GlobalPhase;
  } else if (gid == "unitary") {
    c.rule = Rule::Unitary;
  } else if (is_non_standard(gid)) {
    c.rule = Rule::NonStandard;
  } else if (const auto compact = lookup(SINGLE_CONTROLLED_COMPACT_IDS, gid)) {
    c.rule = Rule::ControlledRotation;
    c.compact = *compact;
    c.base = lookup(MODIFIER_BASE_GATES, gid).value_or(c.qname);
  } else if (gid == "mcx") {
    c.rule = Rule::Mcx;
    c.base = *lookup(MODIFIER_BASE_GATES, gid);
  } else if (const auto base = lookup(MODIFIER_BASE_GATES, gid)) {
    c.rule = Rule::Modifier;
    c.base = *base;
  } else if (contains(CTRL_THEN_TARG_GATES, gid)) {
    c.rule = Rule::ControlledGate;
    c.compact = gid == "cnot" ? std::string_view("cx") : c.qname;
    c.base = lookup(CTRL_GATE_BASE, gid).value_or(std::string_view());
  } else if (contains(SINGLE_QUBIT_OPS, c.qname)) {
    c.rule = Rule::OneQubit;
  } else if (c.qname == "swap") {
    c.rule = Rule::Swap;
  }
  return c;
}

// The classes of every id the tables know, found by hashing: the dispatch runs once
// per gate, so it must not compare the id against table after table.
class GateClassTable {
 public:
  GateClassTable() {
    const auto add_all = [this](const auto& table) {
      for (const auto& row : table) {
        if constexpr (std::is_convertible_v<decltype(row), std::string_view>) {
          add(row);
        } else {
          add(row.first);
          if constexpr (std::is_convertible_v<decltype(row.second), std::string_view>) {
            add(row.second);
          }
        }
      }
    };
    add_all(INT_TO_QASM3);
    add_all(QASM3_TO_INT);
    add_all(SINGLE_QUBIT_OPS);
    add_all(TWO_QUBIT_GATES);
    add_all(CTRL_THEN_TARG_GATES);
    add_all(COMPACT_CONTROL_TARGET_ARITY);
    add_all(CTRL_GATE_BASE);
    add_all(MODIFIER_BASE_GATES);
    add_all(SINGLE_CONTROLLED_COMPACT_IDS);
    add_all(NON_STANDARD);
    for (const std::string_view id : {"block", "measure", "rzz", "-z", "gp", "global_phase",
                                      "unitary", "mcx", "mcy", "mcz", "mch", "cs", "swap"}) {
      add(id);
    }
  }

  // The class of `gid`, or null for an id no table names.
  [[nodiscard]] const GateClass* find(std::string_view gid) const noexcept {
    for (std::size_t slot = hash(gid);; slot = (slot + 1) % kSlots) {
      if (ids_[slot].empty()) return nullptr;
      if (ids_[slot] == gid) return &classes_[slot];
    }
  }

 private:
  static constexpr std::size_t kSlots = 256;  // well over twice the ids the tables name

  static std::size_t hash(std::string_view id) noexcept {
    std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a
    for (const char ch : id)
      h = (h ^ static_cast<unsigned char>(ch)) * 0x100000001b3ULL;
    return static_cast<std::size_t>(h % kSlots);
  }

  void add(std::string_view gid) {
    std::size_t slot = hash(gid);
    while (!ids_[slot].empty()) {
      if (ids_[slot] == gid) return;
      slot = (slot + 1) % kSlots;
    }
    ids_[slot] = gid;
    classes_[slot] = classify_id(gid);
  }

  std::array<std::string_view, kSlots> ids_{};
  std::array<GateClass, kSlots> classes_{};
};

const GateClassTable& gate_classes() {
  static const GateClassTable table;
  return table;
}

// The controls of one gate: those inherited from enclosing inlined blocks, then the
// record's own, with their states in the same two parts.
struct Controls {
  Indices outer;
  Indices own;
  Indices outer_states;
  Indices own_states;

  [[nodiscard]] std::size_t count() const noexcept { return outer.size() + own.size(); }
  [[nodiscard]] bool empty() const noexcept { return count() == 0; }
  [[nodiscard]] std::size_t state_count() const noexcept {
    return outer_states.size() + own_states.size();
  }
  [[nodiscard]] std::int64_t state(std::size_t i) const noexcept {
    return i < outer_states.size() ? outer_states[i] : own_states[i - outer_states.size()];
  }
  // Exactly one control, in the one state 1.
  [[nodiscard]] bool single_plain() const noexcept {
    return count() == 1 && state_count() == 1 && state(0) == 1;
  }
  [[nodiscard]] bool all_states_one(std::size_t n) const noexcept {
    if (state_count() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
      if (state(i) != 1) return false;
    }
    return true;
  }
};

constexpr std::string_view kPiText = "3.14159265358979";  // pi in the ".15g" form

class Emitter {
 public:
  Emitter(Qasm3Ctx& ctx, const QubitNames& qsym, const RegisterIndexer& csym, bool allow_gate_defs,
          StatementLines& out)
      : ctx_(ctx),
        qsym_(qsym),
        csym_(csym),
        allow_gate_defs_(allow_gate_defs),
        out_(out),
        buf_(out.buffer()) {}

  void run(const std::vector<QuantumGate>& gates, Indices prefix_ctrls, Indices prefix_cs) {
    const DepthGuard guard(ctx_.depth);
    const GateClassTable& table = gate_classes();
    for (const QuantumGate& g : gates) {
      const Controls c{prefix_ctrls, indices(g.control), prefix_cs, indices(g.control_state)};
      check_operands(c, indices(g.target));
      if (const GateClass* known = table.find(g.id)) {
        emit(g, *known, c);
      } else {
        emit(g, classify_id(g.id), c);
      }
    }
  }

 private:
  // Every control and target index goes through the qubit names before any rule runs,
  // so an index outside the layout is what is reported first.
  void check_operands(const Controls& c, Indices targets) const {
    for (const std::int64_t idx : c.outer)
      qsym_.check(idx);
    for (const std::int64_t idx : c.own)
      qsym_.check(idx);
    for (const std::int64_t idx : targets)
      qsym_.check(idx);
  }

  void emit(const QuantumGate& g, const GateClass& gc, const Controls& c) {
    const Indices targets = indices(g.target);
    switch (gc.rule) {
      case Rule::Block:
        if (g.block_gate_sequence()) block(g, c, targets);
        return;  // a block without a gate sequence writes nothing
      case Rule::Measure:
        return measure(g, c, targets);
      case Rule::Rzz:
        return rzz(g, c, targets);
      case Rule::MinusZ:
        return minus_z(c, targets);
      case Rule::GlobalPhase:
        return global_phase(g, c);
      case Rule::Unitary:
        if (!g.has_stored_matrix()) {
          raise_not_implemented(
              "QASM 3.0 export does not support arbitrary 'unitary' gates. Transpile the circuit "
              "before exporting.");
        }
        return unitary(g, c, targets);
      case Rule::NonStandard:
        return non_standard(g, c, targets);
      case Rule::ControlledRotation:
        return controlled_rotation(g, gc, c, targets);
      case Rule::Mcx:
        if (c.count() == 2 && c.all_states_one(2) && targets.size() == 1) {
          buf_ += "ccx ";
          operands(c, targets);
          return end();
        }
        return modifier(g, gc, c, targets);
      case Rule::Modifier:
        return modifier(g, gc, c, targets);
      case Rule::ControlledGate:
        return controlled_gate(g, gc, c, targets);
      case Rule::OneQubit:
        return one_qubit(g, gc, c, targets);
      case Rule::Swap:
        return swap(c, targets);
      case Rule::Unsupported:
        raise_not_implemented("QASM 3.0 export does not support gate id " + quoted(g.id));
    }
  }

  // ---------------------------------------------------------------- writing

  void mods(const Controls& c) {
    for (const Indices states : {c.outer_states, c.own_states}) {
      for (const std::int64_t s : states)
        buf_ += s == 1 ? "ctrl @ " : "negctrl @ ";
    }
  }

  // join(qsym of the controls, then of `targets`).
  void operands(const Controls& c, Indices targets) {
    bool first = true;
    for (const Indices part : {c.outer, c.own, targets}) {
      for (const std::int64_t idx : part) {
        if (!first) buf_ += ", ";
        first = false;
        qsym_.append(buf_, idx);
      }
    }
  }

  void end() {
    buf_ += ';';
    out_.end_line();
  }

  // "(" + params + ")" when the record has parameters.
  void optional_params(const QuantumGate& g) {
    if (!has_param(g)) return;
    buf_ += '(';
    append_params(buf_, g.parameter);
    buf_ += ')';
  }

  static void require_control_and_target(const QuantumGate& g, const Controls& c, Indices targets) {
    if (c.empty()) raise_value_error(g.id + " requires at least one control qubit");
    if (targets.size() != 1) raise_value_error(g.id + " requires exactly one target qubit");
  }

  // ---------------------------------------------------------------- rules

  void block(const QuantumGate& g, const Controls& c, Indices targets) {
    const std::vector<QuantumGate>& block_gates = *g.block_gate_sequence();
    const auto arity = static_cast<std::int64_t>(targets.size());
    if (arity == 0) raise_value_error("block gate requires target qubits");
    if (allow_gate_defs_ && block_is_local(block_gates, arity, ctx_.block_summaries())) {
      const std::string& gate_name = definition_of(block_gates, arity);
      mods(c);
      buf_ += gate_name;
      buf_ += ' ';
      operands(c, targets);
      return end();
    }
    if (c.own.empty()) return run(block_gates, c.outer, c.outer_states);
    std::vector<std::int64_t> ctrls(c.outer.begin(), c.outer.end());
    ctrls.insert(ctrls.end(), c.own.begin(), c.own.end());
    std::vector<std::int64_t> states(c.outer_states.begin(), c.outer_states.end());
    states.insert(states.end(), c.own_states.begin(), c.own_states.end());
    run(block_gates, ctrls, states);
  }

  // The block's body written over its own arguments, shared with identical bodies.
  const std::string& definition_of(const std::vector<QuantumGate>& block_gates,
                                   std::int64_t arity) {
    if (const std::string* known = ctx_.block_def(block_gates, arity)) return *known;
    StatementLines body;
    const QubitNames local = QubitNames::local(arity);
    Emitter(ctx_, local, csym_, true, body).run(block_gates, {}, {});
    const std::string& name = ctx_.find_or_create_def(arity, std::move(body));
    if (!ctx_.block_summaries().of(block_gates).takes_fresh_names) {
      ctx_.remember_block_def(block_gates, arity, name);
    }
    return name;
  }

  void measure(const QuantumGate& g, const Controls& c, Indices targets) {
    if (!c.empty()) {
      raise_not_implemented("QASM 3.0 export does not support controlled measurement.");
    }
    const Indices bits = g.classical_target() ? indices(*g.classical_target()) : Indices();
    if (bits.size() != targets.size()) {
      raise_value_error("measure requires matching quantum and classical targets");
    }
    for (std::size_t k = 0; k < targets.size(); ++k) {
      buf_ += "measure ";
      qsym_.append(buf_, targets[k]);
      buf_ += " -> ";
      csym_.append(buf_, bits[k]);
      end();
    }
  }

  void rzz(const QuantumGate& g, const Controls& c, Indices targets) {
    if (targets.size() != 2) raise_value_error("rzz requires exactly two target qubits");
    scratch_.clear();
    append_params(scratch_, g.parameter, 1);
    const Indices b = targets.subspan(1);
    if (c.empty()) {
      const auto cx = [&] {
        buf_ += "cx ";
        operands(c, targets);
        end();
      };
      cx();
      buf_ += "rz(";
      buf_ += scratch_;
      buf_ += ") ";
      operands(c, b);
      end();
      return cx();
    }
    // The controlled X gains the first target as its last control, in state 1.
    const auto controlled_x = [&] {
      mods(c);
      buf_ += "ctrl @ x ";
      operands(c, targets);
      end();
    };
    controlled_x();
    mods(c);
    buf_ += "rz(";
    buf_ += scratch_;
    buf_ += ") ";
    operands(c, b);
    end();
    controlled_x();
  }

  void minus_z(const Controls& c, Indices targets) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      mods(c);
      buf_ += "gphase(";
      buf_ += kPiText;
      buf_ += ") ";
      operands(c, {});
      end();
      mods(c);
      buf_ += "z ";
      operands(c, targets.subspan(k, 1));
      end();
    }
  }

  void global_phase(const QuantumGate& g, const Controls& c) {
    scratch_.clear();
    append_params(scratch_, g.parameter, 1);
    if (c.empty()) {
      buf_ += "gphase(";
      buf_ += scratch_;
      buf_ += ')';
      return end();
    }
    mods(c);
    buf_ += "gphase(";
    buf_ += scratch_;
    buf_ += ") ";
    operands(c, {});
    end();
  }

  void unitary(const QuantumGate& g, const Controls& c, Indices targets) {
    const Matrix& matrix = *g.stored_matrix();
    mods(c);
    buf_ += "unitary(";
    for (std::size_t i = 0; i < matrix.data.size(); ++i) {
      if (i > 0) buf_ += ", ";
      append_shortest(buf_, matrix.data[i].real());
      buf_ += ", ";
      append_shortest(buf_, matrix.data[i].imag());
    }
    buf_ += ") ";
    operands(c, targets);
    end();
  }

  void non_standard(const QuantumGate& g, const Controls& c, Indices targets) {
    const std::string gate_name = ctx_.new_name(g.id);
    ensure_gate_def(ctx_, gate_name, g.id);
    mods(c);
    buf_ += gate_name;
    optional_params(g);
    buf_ += ' ';
    operands(c, targets);
    end();
  }

  void controlled_rotation(const QuantumGate& g, const GateClass& gc, const Controls& c,
                           Indices targets) {
    require_control_and_target(g, c, targets);
    if (c.single_plain()) {
      buf_ += gc.compact;
    } else {
      mods(c);
      buf_ += gc.base;
    }
    optional_params(g);
    buf_ += ' ';
    operands(c, targets);
    end();
  }

  void modifier(const QuantumGate& g, const GateClass& gc, const Controls& c, Indices targets) {
    require_control_and_target(g, c, targets);
    mods(c);
    buf_ += gc.base;
    optional_params(g);
    buf_ += ' ';
    operands(c, targets);
    end();
  }

  // "cu" is a controlled-gate id without an uncontrolled base in the tables. With a
  // single plain control it is written like the other members, as "cu" and its
  // operands; any other controls have no form to write, and are refused plainly.
  void controlled_gate(const QuantumGate& g, const GateClass& gc, const Controls& c,
                       Indices targets) {
    require_control_and_target(g, c, targets);
    if (c.single_plain()) {
      buf_ += gc.compact;
      buf_ += ' ';
      operands(c, targets);
      return end();
    }
    if (gc.base.empty()) {
      raise_not_implemented("QASM 3.0 export does not support gate id " + quoted(g.id) +
                            " with controls other than one control in state 1");
    }
    mods(c);
    buf_ += gc.base;
    optional_params(g);
    buf_ += ' ';
    operands(c, targets);
    end();
  }

  void one_qubit(const QuantumGate& g, const GateClass& gc, const Controls& c, Indices targets) {
    if (g.id == "u" && c.single_plain() && targets.size() == 1) {
      buf_ += "cu(";
      append_params(buf_, g.parameter, 3);
      buf_ += ", 0) ";
      operands(c, targets);
      return end();
    }
    if (targets.empty()) return;
    const bool with_params = has_param(g);
    if (with_params && targets.size() > 1) {
      scratch_.clear();
      append_params(scratch_, g.parameter);
    }
    for (std::size_t k = 0; k < targets.size(); ++k) {
      mods(c);
      buf_ += gc.qname;
      if (with_params) {
        buf_ += '(';
        if (targets.size() > 1) {
          buf_ += scratch_;
        } else {
          append_params(buf_, g.parameter);
        }
        buf_ += ')';
      }
      buf_ += ' ';
      operands(c, targets.subspan(k, 1));
      end();
    }
  }

  void swap(const Controls& c, Indices targets) {
    if (targets.size() % 2 != 0) raise_value_error("swap requires an even number of targets");
    if (c.single_plain() && targets.size() == 2) {
      buf_ += "cswap ";
      operands(c, targets);
      return end();
    }
    for (std::size_t k = 0; k < targets.size(); k += 2) {
      mods(c);
      buf_ += "swap ";
      operands(c, targets.subspan(k, 2));
      end();
    }
  }

  Qasm3Ctx& ctx_;
  const QubitNames& qsym_;
  const RegisterIndexer& csym_;
  bool allow_gate_defs_;
  StatementLines& out_;
  std::string& buf_;
  std::string scratch_;  // a parameter list written once and copied per statement
};

}  // namespace

void emit_sequence(const std::vector<QuantumGate>& gates, Qasm3Ctx& ctx, const QubitNames& qsym,
                   const RegisterIndexer& csym, std::span<const std::int64_t> prefix_ctrls,
                   std::span<const std::int64_t> prefix_cs, bool allow_gate_defs,
                   StatementLines& out) {
  Emitter(ctx, qsym, csym, allow_gate_defs, out).run(gates, prefix_ctrls, prefix_cs);
}

}  // namespace corvane::qasm3::detail

// ------------------------------------------------------------------ driver

namespace corvane::qasm3 {

namespace {

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

}  // namespace

std::string gate_sequence_to_qasm3(const GateSequence& gs, std::string_view qreg_name,
                                   std::string_view creg_name,
                                   std::optional<std::int64_t> num_clbits,
                                   const std::optional<RegisterList>& qregs,
                                   const std::optional<RegisterList>& cregs) {
  using namespace detail;
  Qasm3Ctx ctx;
  const std::vector<QuantumGate>& gates = gs.data();
  const std::int64_t max_index = max_qubit_index(gates, ctx.block_summaries());
  // max_index >= -1, and INT64_MAX + 1 must not overflow: count in unsigned.
  const std::uint64_t n_from_gates = static_cast<std::uint64_t>(max_index) + 1;
  const std::uint64_t declared = gs.num_qubits > 0 ? static_cast<std::uint64_t>(gs.num_qubits) : 0;
  const std::uint64_t n_qubits = std::max<std::uint64_t>({declared, n_from_gates, 1});
  const std::uint64_t n_clbits = detail::num_clbits(gates, num_clbits, ctx.block_summaries());

  const RegisterViews quantum = normalize_registers(qregs, qreg_name, n_qubits);
  const RegisterViews classical =
      n_clbits > 0 ? normalize_registers(cregs, creg_name, n_clbits) : RegisterViews{};
  const RegisterIndexer qubits(quantum);
  const RegisterIndexer bits(classical);

  StatementLines statements;
  statements.reserve(gates.size() * 16, gates.size());
  emit_sequence(gates, ctx, QubitNames(qubits), bits, {}, {}, true, statements);

  std::size_t defs_size = 0;
  for (const std::string& def : ctx.gate_defs())
    defs_size += def.size() + 1;
  std::string program;
  program.reserve(64 + defs_size + 32 * (quantum.size() + classical.size()) +
                  statements.text().size());
  program += "OPENQASM 3.0;\ninclude \"stdgates.inc\";\n";
  if (!ctx.gate_defs().empty()) {
    program += '\n';
    for (const std::string& def : ctx.gate_defs()) {
      program += def;
      program += '\n';
    }
  }
  program += '\n';
  append_declarations(program, "qubit", quantum);
  append_declarations(program, "bit", classical);
  if (!statements.empty()) {
    program += '\n';
    program += statements.text();
  }
  return program;
}

}  // namespace corvane::qasm3
