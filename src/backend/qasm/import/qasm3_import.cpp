// The importer's second half: operand resolution, recognition of the exporter's
// generated definitions, statement interpretation with definition expansion, and the
// import driver.
#include "qasm/import/qasm3_import.hpp"

#include <algorithm>
#include <bitset>
#include <memory>
#include <utility>

#include "qasm/records/gate_records.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {
namespace {

// ------------------------------------------------------------------ messages

// The value of a run of decimal digits (any script) in plain ASCII decimal, however
// long: an element number too large for an index still shows as written.
std::string decimal_text(std::string_view digits) {
  std::string out;
  for (std::size_t pos = 0; pos < digits.size();) {
    const CodePoint cp = decode_at(digits, pos);
    pos += static_cast<std::size_t>(cp.length);
    const char c = static_cast<char>('0' + digit_value(cp.value));
    if (out == "0") out.clear();
    out += c;
  }
  return out;
}

[[noreturn]] void raise_index_out_of_range(std::string_view digits, std::string_view kind,
                                           std::string_view reg, std::int64_t size) {
  std::string msg = "Index " + decimal_text(digits) + " out of range for ";
  msg.append(kind).append(" register ").append(reg).append("[");
  append_int(msg, size);
  msg += "]";
  raise_value_error(msg);
}

[[noreturn]] void raise_scalar_register(std::string_view kind, std::string_view tok,
                                        std::int64_t size) {
  std::string msg = "Scalar ";
  msg.append(kind).append(" operand ");
  append_quoted(msg, tok);
  msg.append(" refers to ").append(kind).append("[");
  append_int(msg, size);
  msg += "] register";
  raise_value_error(msg);
}

[[noreturn]] void raise_quoted(std::string_view prefix, std::string_view value,
                               std::string_view suffix = {}) {
  std::string msg(prefix);
  append_quoted(msg, value);
  msg.append(suffix);
  raise_value_error(msg);
}

[[noreturn]] void raise_bit_index_too_large(std::string_view decimal) {
  raise_value_error("Bit index " + std::string(decimal) + " is too large");
}

// ------------------------------------------------------------------ operands

struct IndexedOperand {
  std::string_view reg;
  std::string_view digits;
};

// "^([A-Za-z_]\w*)\s*\[\s*(\d+)\s*\]$" on a trimmed operand. The plain ASCII form
// "name[digits]" is recognised on the first pass; anything else takes the Unicode scan.
std::optional<IndexedOperand> match_indexed_operand(std::string_view tok) noexcept {
  if (tok.empty() || !is_ident_start(tok[0])) return std::nullopt;
  std::size_t pos = 1;
  while (pos < tok.size() && (is_ident_start(tok[pos]) || (tok[pos] >= '0' && tok[pos] <= '9'))) {
    ++pos;
  }
  if (pos + 2 < tok.size() && tok[pos] == '[' && tok.back() == ']') {
    const std::string_view digits = tok.substr(pos + 1, tok.size() - pos - 2);
    if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return IndexedOperand{tok.substr(0, pos), digits};
    }
  }
  pos += word_run(tok, pos);
  const std::string_view reg = tok.substr(0, pos);
  pos += space_run(tok, pos);
  if (pos >= tok.size() || tok[pos] != '[') return std::nullopt;
  ++pos;
  pos += space_run(tok, pos);
  const std::size_t digit_len = digit_run(tok, pos);
  if (digit_len == 0) return std::nullopt;
  const std::string_view digits = tok.substr(pos, digit_len);
  pos += digit_len;
  pos += space_run(tok, pos);
  if (pos >= tok.size() || tok[pos] != ']') return std::nullopt;
  ++pos;
  // `$` also matches in front of a final line feed.
  const bool at_end = pos == tok.size() || (pos + 1 == tok.size() && tok[pos] == '\n');
  if (!at_end) return std::nullopt;
  return IndexedOperand{reg, digits};
}

// The element number, or nothing when it exceeds every index.
std::optional<std::int64_t> element_number(std::string_view digits) noexcept {
  std::int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return read_decimal_digits(digits);
    if (__builtin_mul_overflow(value, 10, &value) ||
        __builtin_add_overflow(value, c - '0', &value)) {
      return std::nullopt;
    }
  }
  return value;
}

// ------------------------------------------------------------------ operand resolution

// Looks registers up by name and remembers the last one found: the operands of a program
// mostly name the same register, and comparing names is cheaper than hashing them. A
// null or empty map has no registers. The remembered name is a view into statement text,
// which outlives the interpretation.
class RegisterLookup {
 public:
  explicit RegisterLookup(const RegisterMap* map) noexcept
      : map_(map != nullptr && !map->empty() ? map : nullptr) {}

  const RegisterSpan* find(std::string_view name) {
    if (map_ == nullptr) return nullptr;
    if (last_span_ != nullptr && same_text(name, last_name_)) return last_span_;
    const RegisterSpan* span = map_->find(name);
    if (span != nullptr) {
      last_name_ = name;
      last_span_ = span;
    }
    return span;
  }

 private:
  const RegisterMap* map_;
  std::string_view last_name_;
  const RegisterSpan* last_span_ = nullptr;
};

std::int64_t qubit_index(std::string_view tok, RegisterLookup& qregs,
                         const LocalArgMap* local_map) {
  tok = trim(tok);
  if (const auto indexed = match_indexed_operand(tok)) {
    if (const RegisterSpan* span = qregs.find(indexed->reg)) {
      const auto index = span->flat_index(element_number(indexed->digits));
      if (!index) raise_index_out_of_range(indexed->digits, "qubit", indexed->reg, span->size);
      return *index;
    }
    if (local_map != nullptr && local_map->contains(indexed->reg)) {
      raise_quoted("Local gate argument ", indexed->reg, " is not indexable");
    }
    raise_quoted("Unknown qubit register: ", indexed->reg);
  }
  if (local_map != nullptr) {
    // Inside a body a bare name is an argument; registers are not consulted.
    const auto it = local_map->find(tok);
    if (it == local_map->end()) raise_quoted("Unknown local qubit: ", tok);
    return it->second;
  }
  if (const RegisterSpan* span = qregs.find(tok)) {
    if (span->size != 1) raise_scalar_register("qubit", tok, span->size);
    return span->offset;
  }
  raise_quoted("Unsupported operand form: ", tok);
}

IndexRange qubit_range(std::string_view tok, RegisterLookup& qregs, const LocalArgMap* local_map) {
  tok = trim(tok);
  if (local_map == nullptr) {
    if (const RegisterSpan* span = qregs.find(tok)) return {span->offset, span->size};
  }
  return {qubit_index(tok, qregs, local_map), 1};
}

std::int64_t bit_index(std::string_view tok, RegisterLookup& bits) {
  tok = trim(tok);
  if (const auto indexed = match_indexed_operand(tok)) {
    const auto element = element_number(indexed->digits);
    if (const RegisterSpan* span = bits.find(indexed->reg)) {
      const auto index = span->flat_index(element);
      if (!index) raise_index_out_of_range(indexed->digits, "bit", indexed->reg, span->size);
      return *index;
    }
    const auto index = undeclared_bit_index(element);
    if (!index) raise_bit_index_too_large(decimal_text(indexed->digits));
    return *index;
  }
  if (const RegisterSpan* span = bits.find(tok)) {
    if (span->size != 1) raise_scalar_register("bit", tok, span->size);
    return span->offset;
  }
  raise_quoted("Unsupported classical operand form: ", tok);
}

IndexRange bit_range(std::string_view tok, RegisterLookup& bits) {
  tok = trim(tok);
  if (const RegisterSpan* span = bits.find(tok)) return {span->offset, span->size};
  return {bit_index(tok, bits), 1};
}

// ------------------------------------------------------------------ measurement forms

struct MeasureParts {
  std::string_view qubits;
  std::string_view bits;
};

// Length in bytes of the last code point of `text` (non-empty, valid UTF-8).
std::size_t last_code_point_length(std::string_view text) {
  return static_cast<std::size_t>(decode_before(text, text.size()).length);
}

// Where a lazy group that starts at `start` ends when its text is followed by `end`:
// blanks in front of `end` are left to the \s* after the group, but the group keeps
// at least one character.
std::size_t lazy_group_end(std::string_view st, std::size_t start, std::size_t end) {
  const std::size_t min_end = start + static_cast<std::size_t>(decode_at(st, start).length);
  while (end > min_end) {
    const CodePoint before = decode_before(st, end);
    if (!is_space(before.value)) break;
    end -= static_cast<std::size_t>(before.length);
  }
  return end;
}

// The tail "(.+)$" after an optional \s* run starting at `pos`: the greedy run gives one
// character back when nothing else is left.
std::optional<std::string_view> greedy_tail_after_spaces(std::string_view st, std::size_t pos) {
  if (pos >= st.size()) return std::nullopt;
  const std::size_t after = pos + space_run(st, pos);
  if (after < st.size()) return st.substr(after);
  return st.substr(st.size() - last_code_point_length(st));
}

// "^measure\s+(.+?)\s*->\s*(.+)$" (DOTALL). Group 1 is the shortest text after the
// blanks that is followed by optional blanks, "->" and at least one character; when
// none is, the greedy \s+ gives its last blank back to group 1.
std::optional<MeasureParts> match_arrow_measure(std::string_view st) {
  constexpr std::string_view MEASURE_WORD = "measure";
  if (!starts_with_text(st, MEASURE_WORD)) return std::nullopt;
  const std::size_t blanks_end = MEASURE_WORD.size() + space_run(st, MEASURE_WORD.size());
  if (blanks_end == MEASURE_WORD.size()) return std::nullopt;
  // The first "->" that leaves room for group 1 ends it; blanks before the arrow belong
  // to \s*, since group 1 is lazy.
  for (std::size_t arrow = st.find("->", blanks_end + 1); arrow != std::string_view::npos;
       arrow = st.find("->", arrow + 1)) {
    const auto bits = greedy_tail_after_spaces(st, arrow + 2);
    if (!bits) continue;
    const std::size_t group_end = lazy_group_end(st, blanks_end, arrow);
    return MeasureParts{st.substr(blanks_end, group_end - blanks_end), *bits};
  }
  // Group 1 as the last blank of the run, directly followed by the arrow.
  const std::size_t first_blank_len =
      static_cast<std::size_t>(decode_at(st, MEASURE_WORD.size()).length);
  if (blanks_end - MEASURE_WORD.size() > first_blank_len &&
      st.substr(blanks_end).starts_with("->")) {
    if (const auto bits = greedy_tail_after_spaces(st, blanks_end + 2)) {
      const std::size_t last_blank = last_code_point_length(st.substr(0, blanks_end));
      return MeasureParts{st.substr(blanks_end - last_blank, last_blank), *bits};
    }
  }
  return std::nullopt;
}

// "^(.+?)\s*=\s*measure\s+(.+)$" (DOTALL). Group 1 ends at the first "=" that is
// followed by optional blanks, "measure", blanks and at least one character, with the
// blanks in front of that "=" left out.
std::optional<MeasureParts> match_assignment_measure(std::string_view st) {
  constexpr std::string_view MEASURE_WORD = "measure";
  for (std::size_t eq = st.find('=', 1); eq != std::string_view::npos; eq = st.find('=', eq + 1)) {
    const std::size_t word = eq + 1 + space_run(st, eq + 1);
    if (!same_text(st.substr(word, MEASURE_WORD.size()), MEASURE_WORD)) continue;
    const std::size_t blanks = word + MEASURE_WORD.size();
    const std::size_t blank_len = space_run(st, blanks);
    if (blank_len == 0) continue;
    std::optional<std::string_view> qubits;
    if (blanks + blank_len < st.size()) {
      qubits = st.substr(blanks + blank_len);
    } else if (blank_len > static_cast<std::size_t>(decode_at(st, blanks).length)) {
      qubits = st.substr(st.size() - last_code_point_length(st));
    }
    if (!qubits) continue;
    return MeasureParts{*qubits, st.substr(0, lazy_group_end(st, 0, eq))};
  }
  return std::nullopt;
}

// The assignment form wins when both forms match.
std::optional<MeasureParts> match_measurement(std::string_view st) {
  if (auto parts = match_assignment_measure(st)) return parts;
  return match_arrow_measure(st);
}

// "^(OPENQASM|include|qubit|bit)\b": the header and declaration statements.
bool is_skipped_statement(std::string_view st) noexcept {
  if (st.empty() || (st[0] != 'O' && st[0] != 'i' && st[0] != 'q' && st[0] != 'b')) return false;
  for (std::string_view word : {"OPENQASM", "include", "qubit", "bit"}) {
    if (st.starts_with(word) && at_word_boundary(st, word.size())) return true;
  }
  return false;
}

// ------------------------------------------------------------------ interpretation

class Interpreter {
 public:
  Interpreter(const GateDefMap& gate_defs, const RegisterMap& qreg_map,
              const LocalArgMap* local_map, const RegisterMap* bit_reg_map, ExpansionState& state,
              GateOutput out)
      : gate_defs_(gate_defs),
        qreg_map_(qreg_map),
        local_map_(local_map),
        bit_reg_map_(bit_reg_map),
        qregs_(&qreg_map),
        bits_(bit_reg_map),
        defined_initials_(initials_of(gate_defs, state)),
        state_(state),
        out_(out) {}

  // Interprets one statement; an error gets the place of the statement's first
  // character, or the finer one its cause gave it.
  void interpret(std::string_view stmt, const StatementOrigin& origin) {
    origin_ = &origin;
    origin.at(trim(stmt).data(), [&] { interpret(stmt); });
  }

  void interpret(std::string_view stmt) {
    const std::string_view st = trim(stmt);
    if (st.empty() || is_skipped_statement(st)) return;
    if (const auto parts = match_measurement(st)) {
      measure(*parts);
    } else if (const GateDefMap::value_type* def = gate_call(st)) {
      // Finished here, once gate_call has returned: expanding a definition nests another
      // interpretation, and each level of nesting then keeps only small frames.
      add_defined_gate(*def);
    }
  }

  // The records of the definition `def`, its body interpreted on local indices.
  GateBlock block_of(const GateDefMap::value_type& def) {
    return state_.blocks.block_of(def.first, [&](std::vector<QuantumGate>& children) {
      interpret_body(def.second, children);
    });
  }

  ReadLayout read;  // the measure map and the highest indices used

 private:
  [[gnu::noinline]] void measure(const MeasureParts& parts) {
    const IndexRange qubits = qubit_range(parts.qubits, qregs_, local_map_);
    const IndexRange bits = bit_range(parts.bits, bits_);
    if (qubits.count != bits.count) raise_size_mismatch(parts, qubits.count, bits.count);
    if (qubits.count > 1) count_measurement_records(state_.measurement_records, qubits.count);
    for (std::int64_t k = 0; k < qubits.count; ++k) {
      const std::int64_t q = qubits.first + k;
      const std::int64_t c = bits.first + k;
      read.measured(q, c);
      add_measurement_record(out_, q, c);
    }
  }

  [[noreturn]] static void raise_size_mismatch(const MeasureParts& parts, std::int64_t qubits,
                                               std::int64_t bits) {
    std::string msg = "Measurement size mismatch: ";
    append_quoted(msg, parts.qubits);
    msg += " has ";
    append_int(msg, qubits);
    msg += " qubits, ";
    append_quoted(msg, parts.bits);
    msg += " has ";
    append_int(msg, bits);
    msg += " bits";
    raise_value_error(msg);
  }

  // What the record of a gate call is built from, once its operands are split: the
  // operand indices in indices_, the first ctrl_cnt of them the controls.
  struct CallShape {
    std::string_view op;
    const NativeGate* native = nullptr;
    std::int64_t ctrl_cnt = 0;
    IndexList states;  // one per control when there are controls, else empty
  };

  // Interprets a gate call up to its record; for a call of a defined gate, returns the
  // definition and leaves the record to add_defined_gate.
  const GateDefMap::value_type* gate_call(std::string_view st) {
    parse_modifiers_prefix(st, prefix_);
    parse_op_and_args(prefix_.rest, call_, origin_);
    const ModifierPrefix& prefix = prefix_;
    const OpCall& call = call_;
    const std::string_view op = call.op;
    check_gate_name(op);

    indices_.clear();
    for (std::string_view operand : call.operands) {
      indices_.push_back(qubit_index(operand, qregs_, local_map_));
    }

    const NativeGate* native = native_gate(op);
    const GateDefMap::value_type* def = find_def(op);
    const std::int64_t arity =
        call_arity(op, native, call.params,
                   def != nullptr ? static_cast<std::int64_t>(def->second.args.size()) : -1);
    const ControlSplit split =
        split_controls(native, arity, static_cast<std::int64_t>(call.operands.size()),
                       static_cast<std::int64_t>(prefix.mods.size()));
    if (split.problem != ControlProblem::None) [[unlikely]]
      raise_control_problem(split, st, op, prefix.mods, call.operands);
    shape_.op = op;
    shape_.native = native;
    shape_.ctrl_cnt = split.controls;
    shape_.states =
        shape_.ctrl_cnt > 0 ? control_states(native, prefix.mods, shape_.ctrl_cnt) : IndexList{};
    for (std::int64_t index : indices_)
      read.uses_qubit(index);

    // A defined gate uses neither the call's parameters (evaluated all the same) nor a
    // unitary's matrix (whose size the arity has checked).
    if (def == nullptr) add_ordinary_gate(call.params);
    return def;
  }

  [[gnu::noinline]] void add_ordinary_gate(const std::optional<std::vector<double>>& params) {
    const std::string_view id = record_id(shape_.native, shape_.op);
    if (shape_.op == "unitary") {
      // The matrix replaces the parameter.
      std::optional<Matrix> matrix = decode_unitary_matrix(*params);
      add_record(id).set_matrix(std::move(matrix));
    } else {
      add_record(id, call_parameter(shape_.native, params));
    }
  }

  // On the path of nested expansions: keeps no record of its own on the stack.
  [[gnu::noinline]] void add_defined_gate(const GateDefMap::value_type& def) {
    if (const auto generated = generated_id(def.second)) {
      add_generated_gate(*generated);
    } else {
      add_block(block_of(def));
    }
  }

  [[gnu::noinline]] void add_generated_gate(std::string_view id) {
    std::optional<Matrix> matrix = generated_matrix(id);
    add_record(id).set_matrix(std::move(matrix));
  }

  [[gnu::noinline]] void add_block(GateBlock children) {
    add_block_record(out_, shape_.op, indices_, shape_.ctrl_cnt, shape_.states,
                     std::move(children));
  }

  // Adds a record with `id`, the current call's targets, controls and control states,
  // and `parameter`.
  QuantumGate& add_record(std::string_view id, Parameter parameter = {}) {
    return add_call_record(out_, id, indices_, shape_.ctrl_cnt, shape_.states,
                           std::move(parameter));
  }

  // The body's interpreter lives on the heap: the frames of an expansion stay small on
  // the stack for every level of nesting below it.
  void interpret_body(const GateDef& gd, std::vector<QuantumGate>& children) {
    auto local_map = std::make_unique<LocalArgMap>();
    for (std::size_t k = 0; k < gd.args.size(); ++k) {
      local_map->insert_or_assign(std::string_view(gd.args[k]), static_cast<std::int64_t>(k));
    }
    const auto body =
        std::make_unique<Interpreter>(gate_defs_, qreg_map_, local_map.get(), bit_reg_map_, state_,
                                      GateOutput{&children, nullptr});
    const ProgramText* places =
        gd.body_offsets.size() == gd.body_stmts.size() ? state_.program : nullptr;
    for (std::size_t k = 0; k < gd.body_stmts.size(); ++k) {
      const std::string& st = gd.body_stmts[k];
      const std::size_t offset = places != nullptr ? gd.body_offsets[k] : 0;
      body->interpret(st, StatementOrigin{places, st.data(), offset, nullptr});
    }
  }

  [[nodiscard]] const GateDefMap::value_type* find_def(std::string_view op) const {
    if (!defined_initials_[static_cast<unsigned char>(op.front())]) return nullptr;
    const auto it = gate_defs_.find(op);
    return it == gate_defs_.end() ? nullptr : &*it;
  }

  // Which bytes begin a defined name: most statements call standard gates, whose names
  // then need no hashing. Worked out once per import, not once per expansion.
  static const std::bitset<256>& initials_of(const GateDefMap& gate_defs, ExpansionState& state) {
    if (state.initials_for != &gate_defs) {
      state.defined_initials.reset();
      for (const auto& [name, def] : gate_defs) {
        if (!name.empty()) state.defined_initials.set(static_cast<unsigned char>(name.front()));
      }
      state.initials_for = &gate_defs;
    }
    return state.defined_initials;
  }

  // Recognition and the stored matrix depend only on the definition and the id, so
  // each is worked out once per import.
  std::optional<std::string_view> generated_id(const GateDef& def) {
    const auto [it, fresh] = state_.generated_ids.try_emplace(&def);
    if (fresh) it->second = generated_non_standard_gate_id(def);
    return it->second;
  }

  std::optional<Matrix> generated_matrix(std::string_view id) {
    const auto [it, fresh] = state_.generated_matrices.try_emplace(id);
    if (fresh) it->second = resolve_matrix_q3(id, Parameter{});
    return it->second;
  }

  const GateDefMap& gate_defs_;
  const RegisterMap& qreg_map_;
  const LocalArgMap* local_map_;
  const RegisterMap* bit_reg_map_;
  RegisterLookup qregs_;
  RegisterLookup bits_;
  const std::bitset<256>& defined_initials_;
  ExpansionState& state_;
  GateOutput out_;
  std::vector<std::int64_t> indices_;        // the operands of the current statement
  ModifierPrefix prefix_;                    // the current statement's parts, reused from one
  OpCall call_;                              // statement to the next
  CallShape shape_;                          // the current gate call
  const StatementOrigin* origin_ = nullptr;  // the current statement's, for places
};

}  // namespace

// ------------------------------------------------------------------ operand resolution

std::int64_t resolve_operand(std::string_view tok, const RegisterMap& qreg_map,
                             const LocalArgMap* local_map) {
  RegisterLookup qregs(&qreg_map);
  return qubit_index(tok, qregs, local_map);
}

IndexRange resolve_qubit_operands(std::string_view tok, const RegisterMap& qreg_map,
                                  const LocalArgMap* local_map) {
  RegisterLookup qregs(&qreg_map);
  return qubit_range(tok, qregs, local_map);
}

std::int64_t resolve_bit_operand(std::string_view tok, const RegisterMap* bit_reg_map) {
  RegisterLookup bits(bit_reg_map);
  return bit_index(tok, bits);
}

IndexRange resolve_bit_operands(std::string_view tok, const RegisterMap* bit_reg_map) {
  RegisterLookup bits(bit_reg_map);
  return bit_range(tok, bits);
}

// ------------------------------------------------------------------ generated definitions

std::optional<std::string_view> generated_non_standard_gate_id(const GateDef& gd) {
  return generated_non_standard_gate_id(gd.name, gd.args.size(), gd.body_stmts);
}

// ------------------------------------------------------------------ interpretation

StmtsResult stmts_to_gates(const std::vector<std::string_view>& stmts, const GateDefMap& gate_defs,
                           const RegisterMap& qreg_map, const LocalArgMap* local_map,
                           const RegisterMap* bit_reg_map, ExpansionState* state) {
  ExpansionState fresh;
  StmtsResult result;
  Interpreter interpreter(gate_defs, qreg_map, local_map, bit_reg_map,
                          state != nullptr ? *state : fresh, GateOutput{&result.gates, nullptr});
  for (std::string_view st : stmts)
    interpreter.interpret(st);
  result.max_idx = interpreter.read.highest_qubit;
  result.max_cidx = interpreter.read.highest_bit;
  result.measure_map = std::move(interpreter.read.measure_map);
  return result;
}

GateBlock expand_def(std::string_view name, const GateDefMap& gate_defs,
                     const RegisterMap& qreg_map, const RegisterMap* bit_reg_map,
                     ExpansionState& state) {
  Interpreter expander(gate_defs, qreg_map, nullptr, bit_reg_map, state, GateOutput{});
  return expander.block_of(*gate_defs.find(name));
}

}  // namespace corvane::qasm3::detail

namespace corvane::qasm3 {

GateSequence qasm3_to_gate_sequence(std::string_view code) {
  using namespace detail;
  validate_utf8(code);
  const ProgramText program(code);
  const std::string_view text = program.read();

  Registers qregs = extract_qubit_registers(text, &program);
  std::int64_t n_qubits = qubit_total(qregs.list);
  if (n_qubits == 0) {
    n_qubits = compute_n_qubits_from_body(text, IMPLICIT_QUBIT_REGISTER, &program);
    qregs = implicit_qubit_register(n_qubits);
  }
  Registers bregs = extract_bit_registers(text, &program);
  // The main text is read in place: its pieces are views into `text`.
  const DefinitionScan defs = scan_gate_defs(text, &program);
  const StatementList stmts(text, defs.main_pieces, &program);

  // Records go straight into the result, which only the caller sees once every
  // statement has been interpreted; its qubit count is settled afterwards.
  GateSequence gs(0);
  gs.reserve(stmts.size());
  ExpansionState state;
  state.program = &program;
  Interpreter interpreter(defs.defs, qregs.map, nullptr, &bregs.map, state,
                          GateOutput{nullptr, &gs});
  for (std::size_t k = 0; k < stmts.size(); ++k)
    interpreter.interpret(stmts[k], stmts.origin(k));

  ReadLayout& read = interpreter.read;
  read.qubit_registers = std::move(qregs.list);
  read.declared_qubits = n_qubits;
  read.bit_registers = std::move(bregs.list);
  set_read_layout(gs, std::move(read));
  return gs;
}

}  // namespace corvane::qasm3
