// The exporter's statement emission: one rule per kind of gate record, chosen by its id.
#include <algorithm>
#include <array>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "qasm/export/full_language.hpp"
#include "qasm/export/qasm3_export.hpp"
#include "qasm/records/qasm3_vocabulary.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {

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
  std::string_view qname;  // OpenQASM name
  // The compact name of the singly-controlled form (ControlledRotation, ControlledGate).
  std::string_view compact;
  // The base gate written under modifiers (ControlledRotation, Mcx, Modifier,
  // ControlledGate); empty for "cu", which has none.
  std::string_view base;
  // The parameters its statement takes, which full_language checks the record against.
  int takes = 0;
};

// The dispatch on the id alone, trying the rules in the order of Rule; conditions on
// the record itself (a block's gate sequence, a stored matrix, the controls) are left to
// emission.
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
  c.takes = parameters_taken(c.rule == Rule::ControlledRotation ? c.compact : c.qname);
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
    for (std::size_t slot = hash(gid);; slot = (slot + 1) % SLOTS) {
      if (ids_[slot].empty()) return nullptr;
      if (same_text(ids_[slot], gid)) return &classes_[slot];
    }
  }

 private:
  static constexpr std::size_t SLOTS = 256;  // well over twice the ids the tables name

  static std::size_t hash(std::string_view id) noexcept {
    std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a
    for (const char ch : id)
      h = (h ^ static_cast<unsigned char>(ch)) * 0x100000001b3ULL;
    return static_cast<std::size_t>(h % SLOTS);
  }

  void add(std::string_view gid) {
    std::size_t slot = hash(gid);
    while (!ids_[slot].empty()) {
      if (ids_[slot] == gid) return;
      slot = (slot + 1) % SLOTS;
    }
    ids_[slot] = gid;
    classes_[slot] = classify_id(gid);
  }

  std::array<std::string_view, SLOTS> ids_{};
  std::array<GateClass, SLOTS> classes_{};
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

constexpr std::string_view PI_TEXT = "3.14159265358979";  // pi in the ".15g" form
constexpr std::string_view PI_SHORTEST = "3.141592653589793";
constexpr std::size_t PREFETCH_AHEAD = 4;
constexpr std::string_view CTRL = "ctrl @ ";
constexpr std::string_view NEGCTRL = "negctrl @ ";

class Emitter {
 public:
  // `indent`: written before every statement but the first, which the caller begins
  // (the bodies of conditioned records stand one level further in).
  Emitter(Qasm3Ctx& ctx, const QubitNames& qsym, const RegisterIndexer& csym, bool allow_gate_defs,
          StatementLines& out, UsedIndices* used, bool full_language = false,
          std::string indent = {})
      : ctx_(ctx),
        qsym_(qsym),
        csym_(csym),
        allow_gate_defs_(allow_gate_defs),
        full_language_(full_language),
        form_(full_language ? NumberForm::Shortest : NumberForm::Fifteen),
        out_(out),
        used_(used),
        qubit_end_(qsym.end()),
        qubit_prefix_(qsym.single_prefix()),
        indent_(std::move(indent)) {}

  // `first_index`: the index of the first of `gates` in the list an error names (an
  // else-block's records follow those of its block).
  void run(const std::vector<QuantumGate>& gates, Indices prefix_ctrls, Indices prefix_cs,
           std::size_t first_index = 0) {
    const DepthGuard guard(ctx_.depth);
    const GateClassTable& table = gate_classes();
    std::size_t i = 0;
    try {
      for (; i < gates.size(); ++i) {
        // Records are large and read once: ask for the next ones early.
        if (i + PREFETCH_AHEAD < gates.size()) __builtin_prefetch(&gates[i + PREFETCH_AHEAD]);
        const QuantumGate& g = gates[i];
        const Controls c{prefix_ctrls, indices(g.control), prefix_cs, indices(g.control_state)};
        check_operands(c, indices(g.target));
        if (const GateClass* known = table.find(g.id)) {
          emit(g, *known, c);
        } else {
          emit(g, classify_id(g.id), c);
        }
      }
    } catch (Error& error) {
      // Which record failed, for callers that can show it where the sequence came from.
      error.add_enclosing_record(first_index + i);
      throw;
    }
  }

 private:
  // Every control and target index goes through the qubit names before any rule runs,
  // so an index outside the layout is what is reported first.
  // Named indices are exactly those below qubit_end_, negative ones included in the
  // unsigned comparison. The largest index is noted for sizing (a nested block's own
  // indices are in its summary).
  void check_operands(const Controls& c, Indices targets) const {
    std::int64_t largest = -1;
    for (const Indices part : {c.outer, c.own, targets}) {
      for (const std::int64_t idx : part) {
        if (static_cast<std::uint64_t>(idx) >= qubit_end_) qsym_.check(idx);
        largest = std::max(largest, idx);
      }
    }
    if (used_ != nullptr) used_->max_qubit = std::max(used_->max_qubit, largest);
  }

  void operand(std::int64_t idx) {
    if (!qubit_prefix_.empty()) {
      out_.put_operand(qubit_prefix_, static_cast<std::uint64_t>(idx));
    } else {
      qsym_.put(out_, idx);
    }
  }

  void emit(const QuantumGate& g, const GateClass& gc, const Controls& c) {
    statement_id_ = g.id;
    if (full_language_ && emit_beyond_gate_subset(g, gc, c)) return;
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
        return unitary(*g.stored_matrix(), c, targets);
      case Rule::NonStandard:
        return non_standard(g, c, targets);
      case Rule::ControlledRotation:
        return controlled_rotation(g, gc, c, targets);
      case Rule::Mcx:
        if (c.count() == 2 && c.all_states_one(2) && targets.size() == 1) {
          out_.put("ccx ");
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
      for (const std::int64_t s : states) {
        out_.put(s == 1 ? CTRL : NEGCTRL);
      }
    }
  }

  // join(qsym of the controls, then of `targets`).
  void operands(const Controls& c, Indices targets) {
    if (full_language_) check_distinct_operands(c, targets);
    bool first = true;
    for (const Indices part : {c.outer, c.own, targets}) {
      for (const std::int64_t idx : part) {
        if (!first) out_.put(", ");
        first = false;
        operand(idx);
      }
    }
  }

  void end() {
    out_.put(';');
    next_line();
  }

  // A statement names each qubit once: the language path refuses one that does not. Where
  // blocks are written inline, different places of a record can name one qubit.
  void check_distinct_operands(const Controls& c, Indices targets) const {
    constexpr std::size_t FEW = 8;  // statements of more operands are rare: those allocate
    const std::size_t count = c.outer.size() + c.own.size() + targets.size();
    std::array<std::int64_t, FEW> few{};
    std::vector<std::int64_t> many(count > FEW ? count : 0);
    const std::span<std::int64_t> named(count > FEW ? many.data() : few.data(), count);
    std::size_t k = 0;
    for (const Indices part : {c.outer, c.own, targets}) {
      for (const std::int64_t idx : part)
        named[k++] = qsym_.named(idx);
    }
    std::sort(named.begin(), named.end());
    const auto twice = std::adjacent_find(named.begin(), named.end());
    if (twice != named.end()) raise_repeated_operand(*twice, statement_id_);
  }

  // Closes the line and begins the next statement's.
  void next_line() {
    out_.end_line();
    if (!indent_.empty()) out_.put(indent_);
  }

  // Numbers are formatted into a scratch buffer that is reused, then copied.
  void params(const Parameter& p, std::optional<std::int64_t> expected = std::nullopt) {
    scratch_.clear();
    append_params(scratch_, p, expected, form_);
    out_.put(scratch_);
  }

  // "(" + params + ")" when the record has parameters.
  void optional_params(const QuantumGate& g) {
    if (!has_param(g)) return;
    out_.put('(');
    params(g.parameter);
    out_.put(')');
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
    BlockSummary& summary = ctx_.block_summaries().of(block_gates);
    // The nesting bound holds for the whole program, so the block's levels count from
    // here, also where a definition written before saves walking them again.
    if (ctx_.depth + summary.height > MAX_NESTING_DEPTH) {
      raise_recursion_error(std::string(RECURSION_MESSAGE));
    }
    if (used_ != nullptr) {
      used_->max_qubit = std::max(used_->max_qubit, summary.max_qubit);
      used_->max_clbit = std::max(used_->max_clbit, summary.max_clbit);
    }
    if (allow_gate_defs_ && is_local(summary, arity)) {
      // The language's gate definitions hold gates only.
      if (full_language_ && summary.holds_non_gates) return inline_local(block_gates, c, targets);
      const std::string& gate_name = definition_of(block_gates, arity, summary);
      mods(c);
      out_.put(gate_name);
      out_.put(' ');
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
  const std::string& definition_of(const std::vector<QuantumGate>& block_gates, std::int64_t arity,
                                   BlockSummary& summary) {
    if (summary.defined_name != nullptr && summary.defined_arity == arity) {
      return *summary.defined_name;
    }
    StatementLines body;
    const QubitNames local = QubitNames::local(arity);
    Emitter(ctx_, local, csym_, true, body, nullptr, full_language_).run(block_gates, {}, {});
    const std::string& name = ctx_.find_or_create_def(arity, std::move(body));
    if (!summary.takes_fresh_names) {
      summary.defined_name = &name;
      summary.defined_arity = arity;
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
    if (used_ != nullptr) {
      for (const std::int64_t bit : bits) {
        used_->max_clbit = std::max(used_->max_clbit, bit);
      }
    }
    for (std::size_t k = 0; k < targets.size(); ++k) {
      out_.put("measure ");
      operand(targets[k]);
      out_.put(" -> ");
      csym_.put(out_, bits[k]);
      end();
    }
  }

  void rzz(const QuantumGate& g, const Controls& c, Indices targets) {
    if (targets.size() != 2) raise_value_error("rzz requires exactly two target qubits");
    scratch_.clear();
    append_params(scratch_, g.parameter, 1, form_);
    const Indices b = targets.subspan(1);
    if (c.empty()) {
      const auto cx = [&] {
        out_.put("cx ");
        operands(c, targets);
        end();
      };
      cx();
      out_.put("rz(");
      out_.put(scratch_);
      out_.put(") ");
      operands(c, b);
      end();
      return cx();
    }
    // The controlled X gains the first target as its last control, in state 1.
    const auto controlled_x = [&] {
      mods(c);
      out_.put("ctrl @ x ");
      operands(c, targets);
      end();
    };
    controlled_x();
    mods(c);
    out_.put("rz(");
    out_.put(scratch_);
    out_.put(") ");
    operands(c, b);
    end();
    controlled_x();
  }

  void minus_z(const Controls& c, Indices targets) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      mods(c);
      out_.put("gphase(");
      out_.put(full_language_ ? PI_SHORTEST : PI_TEXT);
      out_.put(") ");
      operands(c, {});
      end();
      mods(c);
      out_.put("z ");
      operands(c, targets.subspan(k, 1));
      end();
    }
  }

  void global_phase(const QuantumGate& g, const Controls& c) {
    scratch_.clear();
    append_params(scratch_, g.parameter, 1, form_);
    if (c.empty()) {
      out_.put("gphase(");
      out_.put(scratch_);
      out_.put(')');
      return end();
    }
    mods(c);
    out_.put("gphase(");
    out_.put(scratch_);
    out_.put(") ");
    operands(c, {});
    end();
  }

  void unitary(const Matrix& matrix, const Controls& c, Indices targets) {
    mods(c);
    out_.put("unitary(");
    scratch_.clear();
    for (std::size_t i = 0; i < matrix.data.size(); ++i) {
      if (i > 0) scratch_ += ", ";
      append_shortest(scratch_, matrix.data[i].real());
      scratch_ += ", ";
      append_shortest(scratch_, matrix.data[i].imag());
    }
    out_.put(scratch_);
    out_.put(") ");
    operands(c, targets);
    end();
  }

  void non_standard(const QuantumGate& g, const Controls& c, Indices targets) {
    const std::string gate_name = ctx_.new_name(g.id);
    ensure_gate_def(ctx_, gate_name, g.id);
    modified_call(gate_name, g, c, targets);
  }

  // Modifiers, the name, the record's parameters when it has any, then the operands.
  void modified_call(std::string_view name, const QuantumGate& g, const Controls& c,
                     Indices targets) {
    mods(c);
    out_.put(name);
    params_and_operands(g, c, targets);
  }

  void params_and_operands(const QuantumGate& g, const Controls& c, Indices targets) {
    optional_params(g);
    out_.put(' ');
    operands(c, targets);
    end();
  }

  void controlled_rotation(const QuantumGate& g, const GateClass& gc, const Controls& c,
                           Indices targets) {
    require_control_and_target(g, c, targets);
    if (!c.single_plain()) return modified_call(gc.base, g, c, targets);
    out_.put(gc.compact);
    params_and_operands(g, c, targets);
  }

  void modifier(const QuantumGate& g, const GateClass& gc, const Controls& c, Indices targets) {
    require_control_and_target(g, c, targets);
    modified_call(gc.base, g, c, targets);
  }

  // "cu" is a controlled-gate id without an uncontrolled base in the tables. With a
  // single plain control it is written like the other members, as "cu" and its
  // operands; any other controls have no form to write, and are refused plainly.
  void controlled_gate(const QuantumGate& g, const GateClass& gc, const Controls& c,
                       Indices targets) {
    require_control_and_target(g, c, targets);
    if (c.single_plain()) {
      out_.put(gc.compact);
      if (full_language_) optional_params(g);  // "cu" takes four
      out_.put(' ');
      operands(c, targets);
      return end();
    }
    if (gc.base.empty()) {
      raise_not_implemented("QASM 3.0 export does not support gate id " + quoted(g.id) +
                            " with controls other than one control in state 1");
    }
    modified_call(gc.base, g, c, targets);
  }

  void one_qubit(const QuantumGate& g, const GateClass& gc, const Controls& c, Indices targets) {
    if (std::string_view(g.id) == "u" && c.single_plain() && targets.size() == 1) {
      out_.put("cu(");
      params(g.parameter, 3);
      out_.put(", 0) ");
      operands(c, targets);
      return end();
    }
    if (targets.empty()) return;
    // The parameter list is formatted once and written with every target.
    const bool with_params = has_param(g);
    if (with_params) {
      scratch_.clear();
      append_params(scratch_, g.parameter, std::nullopt, form_);
    }
    for (std::size_t k = 0; k < targets.size(); ++k) {
      mods(c);
      out_.put(gc.qname);
      if (with_params) {
        out_.put('(');
        out_.put(scratch_);
        out_.put(')');
      }
      out_.put(' ');
      operands(c, targets.subspan(k, 1));
      end();
    }
  }

  void swap(const Controls& c, Indices targets) {
    if (targets.size() % 2 != 0) raise_value_error("swap requires an even number of targets");
    if (c.single_plain() && targets.size() == 2) {
      out_.put("cswap ");
      operands(c, targets);
      return end();
    }
    for (std::size_t k = 0; k < targets.size(); k += 2) {
      mods(c);
      out_.put("swap ");
      operands(c, targets.subspan(k, 2));
      end();
    }
  }

  // ---------------------------------------------------------------- full_language

  // Before the rules: the checks that what is written reads back, and the records only
  // this mode writes. True when the record has been written here.
  bool emit_beyond_gate_subset(const QuantumGate& g, const GateClass& gc, const Controls& c) {
    if (g.condition() || g.else_gate_sequence()) {
      conditioned(g, c);
      return true;
    }
    const bool is_reset = gc.rule == Rule::Unsupported && std::string_view(g.id) == "reset";
    if (gc.rule == Rule::Unsupported && !is_reset) return false;
    check_control_states(g);
    check_parameters(g, gc.takes);
    const Indices targets = indices(g.target);
    if (is_reset) {
      reset(g, c, targets);
      return true;
    }
    if (gc.rule == Rule::Unitary) {
      // A matrix read from program text is the record's matrix; one given is stored.
      const std::optional<Matrix>& m = g.has_stored_matrix() ? g.stored_matrix() : g.matrix();
      if (!m) return false;
      check_unitary_matrix(*m, targets.size());
      unitary(*m, c, targets);
      return true;
    }
    if (gc.rule == Rule::NonStandard && targets.size() != 1) {
      // Its definition takes one qubit: one call per target, as for the other one-qubit gates.
      for (std::size_t k = 0; k < targets.size(); ++k)
        non_standard(g, c, targets.subspan(k, 1));
      return true;
    }
    return false;
  }

  // A block whose body numbers the qubits by their place among its operands, written
  // inline: the body names the operands, and carries the block's controls (inherited ones
  // first), numbered after the targets.
  void inline_local(const std::vector<QuantumGate>& gates, const Controls& c, Indices targets) {
    std::vector<std::int64_t> map(targets.begin(), targets.end());
    std::vector<std::int64_t> ctrls;
    std::vector<std::int64_t> states;
    for (const Indices part : {c.outer, c.own}) {
      for (const std::int64_t idx : part) {
        ctrls.push_back(static_cast<std::int64_t>(map.size()));
        map.push_back(idx);
      }
    }
    for (const Indices part : {c.outer_states, c.own_states})
      states.insert(states.end(), part.begin(), part.end());
    const QubitNames names = QubitNames::through(qsym_, std::move(map));
    Emitter(ctx_, names, csym_, allow_gate_defs_, out_, used_, full_language_, indent_)
        .run(gates, ctrls, states);
  }

  void reset(const QuantumGate& g, const Controls& c, Indices targets) {
    if (!c.empty()) raise_controlled(g.id);
    for (const std::int64_t t : targets) {
      out_.put("reset ");
      operand(t);
      end();
    }
  }

  // `if (condition) { ... } else { ... }` or `while (condition) { ... }`.
  void conditioned(const QuantumGate& g, const Controls& c) {
    check_conditioned(g);
    check_control_states(g);
    check_parameters(g, 0);
    if (!c.empty()) raise_controlled(g.id);
    scratch_.assign(std::string_view(g.id) == "while" ? "while (" : "if (");
    append_condition(scratch_, *g.condition(), csym_);
    scratch_ += ") {";
    out_.put(scratch_);
    const std::vector<QuantumGate>& then = *g.block_gate_sequence();
    body(then, 0);
    // An else-block without records reads back as none, and is written as none.
    if (const GateBlock& otherwise = g.else_gate_sequence(); otherwise && !otherwise->empty()) {
      out_.put("} else {");
      body(*otherwise, then.size());
    }
    out_.put('}');
    next_line();
  }

  // The statements of a body, one level further in, after the line that opens it; the
  // line that closes it is begun.
  void body(const std::vector<QuantumGate>& gates, std::size_t first_index) {
    std::string inner = indent_ + "  ";
    const std::size_t width = inner.size();
    out_.end_line();
    out_.put(inner);
    Emitter(ctx_, qsym_, csym_, allow_gate_defs_, out_, used_, full_language_, std::move(inner))
        .run(gates, {}, {}, first_index);
    out_.drop(width);  // begun for a statement that did not come
    out_.put(indent_);
  }

  Qasm3Ctx& ctx_;
  const QubitNames& qsym_;
  const RegisterIndexer& csym_;
  bool allow_gate_defs_;
  bool full_language_;
  std::string_view statement_id_;  // the id of the record being written
  NumberForm form_;
  StatementLines& out_;
  UsedIndices* used_;  // null unless the layout is sized from this pass
  std::uint64_t qubit_end_;
  std::string_view qubit_prefix_;
  std::string indent_;
  std::string scratch_;  // a parameter list written once and copied per statement
};

}  // namespace

void emit_sequence(const std::vector<QuantumGate>& gates, Qasm3Ctx& ctx, const QubitNames& qsym,
                   const RegisterIndexer& csym, std::span<const std::int64_t> prefix_ctrls,
                   std::span<const std::int64_t> prefix_cs, bool allow_gate_defs,
                   StatementLines& out, UsedIndices* used, bool full_language) {
  Emitter(ctx, qsym, csym, allow_gate_defs, out, used, full_language)
      .run(gates, prefix_ctrls, prefix_cs);
}

}  // namespace corvane::qasm3::detail
