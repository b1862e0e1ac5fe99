// The expander's quantum side: operands resolved and broadcast, measurements and resets,
// gate calls with their modifiers resolved through the gate algebra.
#include "qasm/lower/expander.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <tuple>

#include "qasm/records/explicit_matrix.hpp"

namespace corvane::qasm3::detail::lower::expansion {

namespace {

// Indices first: the qubits of one call mostly share their register's name.
bool same_qubit(const PlainOperand& a, const PlainOperand& b) {
  return a.index == b.index && a.name == b.name;
}

// A qubit as the program names it: a hardware qubit as `$3`.
std::string qubit_text(const PlainOperand& qubit, std::string_view hardware_register) {
  const std::string index = std::to_string(qubit.index);
  if (qubit.name == hardware_register) return "$" + index;
  if (qubit.index == PlainOperand::NO_INDEX) return std::string(qubit.name);
  return std::string(qubit.name) + "[" + index + "]";
}

// A qubit that a call of many holds twice, or null: sorted rather than compared
// pairwise, so that no call takes quadratic time.
[[gnu::noinline]] const PlainOperand* repeated_among_many(std::span<const PlainOperand> qubits) {
  std::vector<const PlainOperand*> sorted;
  sorted.reserve(qubits.size());
  for (const PlainOperand& qubit : qubits)
    sorted.push_back(&qubit);
  std::sort(sorted.begin(), sorted.end(), [](const PlainOperand* a, const PlainOperand* b) {
    return std::tie(a->name, a->index) < std::tie(b->name, b->index);
  });
  const auto repeated = std::adjacent_find(
      sorted.begin(), sorted.end(),
      [](const PlainOperand* a, const PlainOperand* b) { return same_qubit(*a, *b); });
  return repeated == sorted.end() ? nullptr : *repeated;
}

}  // namespace

// Most calls have a few qubits, compared pairwise.
const PlainOperand* repeated_qubit(std::span<const PlainOperand> qubits) {
  constexpr std::size_t FEW = 16;
  if (qubits.size() > FEW) return repeated_among_many(qubits);
  for (std::size_t k = 1; k < qubits.size(); ++k) {
    for (std::size_t j = 0; j < k; ++j) {
      if (same_qubit(qubits[j], qubits[k])) return &qubits[k];
    }
  }
  return nullptr;
}

namespace {

// The importer refuses modifiers on ccx and cswap, whose names hold controls of their
// own: with more controls they are written as x and swap under modifiers.
void spell_out_compact_name(Call& call) {
  const auto spelled = spell_out_compact_controls(call.gate.name, call.states.size());
  if (!spelled) return;
  call.gate = native_ref(spelled->name);
  call.states.insert(call.states.end(), spelled->own_controls, 1);
}

// A native call's gate as the gate algebra takes it, its parameters moved out rather than
// copied; and the gate the algebra gives put back.
NativeForm native_form(Call& call) {
  return NativeForm{call.gate.name, call.has_parameters, std::move(call.parameters)};
}

void take_form(Call& call, NativeForm&& form) {
  if (form.name != call.gate.name) call.gate = native_ref(form.name);
  call.has_parameters = form.has_parameters;
  call.parameters = std::move(form.parameters);
}

}  // namespace

// ---------------------------------------------------------------- operands

Resolved Expander::qubits(NodeId id) {
  const Expr& node = expr(id);
  return placed(node.offset, [&] { return resolve(node, SymbolKind::QUBITS); });
}

Resolved Expander::bits(NodeId id) {
  const Expr& node = expr(id);
  return placed(node.offset, [&] { return resolve(node, SymbolKind::BITS); });
}

Resolved Expander::resolve(const Expr& node, SymbolKind kind) {
  const std::string_view what = kind == SymbolKind::QUBITS ? "qubit" : "bit";
  if (node.kind == ExprKind::HARDWARE_QUBIT && kind == SymbolKind::QUBITS) {
    const auto number = read_decimal_digits(node.text.substr(1));
    return Resolved{{PlainOperand{hardware_register_, number.value_or(0)}}, true};
  }
  if (node.kind == ExprKind::NAME) {
    const Symbol& symbol = operand_symbol(node, kind, what);
    if (symbol.list) return Resolved{*symbol.list, symbol.scalar};
    if (symbol.scalar) return Resolved{{scalar_operand(symbol)}, true};
    // Spelling out more elements than the lowered program may hold would only fail later.
    if (static_cast<std::uint64_t>(symbol.size) > max_statements_) fail_too_long(node.offset);
    Resolved all{{}, false};
    all.elements.reserve(static_cast<std::size_t>(symbol.size));
    for (std::int64_t k = 0; k < symbol.size; ++k)
      all.elements.push_back(PlainOperand{symbol.register_name, k});
    return all;
  }
  if (node.kind == ExprKind::INDEX) return resolve_index(node, kind, what);
  raise_value_error("Expected a " + std::string(what) + " operand");
}

// A scalar register is written by its bare name, except in the body of a written
// definition, where the importer reads bare names as the definition's arguments only.
PlainOperand Expander::scalar_operand(const Symbol& symbol) const {
  const bool in_body = !writing_.empty() && symbol.kind == SymbolKind::QUBITS;
  return PlainOperand{symbol.register_name, in_body ? 0 : PlainOperand::NO_INDEX};
}

const Symbol& Expander::operand_symbol(const Expr& node, SymbolKind kind, std::string_view what) {
  const Symbol* symbol = lookup(node.text);
  if (symbol == nullptr) raise_value_error("Undeclared name '" + std::string(node.text) + "'");
  if (symbol->kind != kind)
    raise_value_error("'" + std::string(node.text) + "' is not a " + std::string(what));
  return *symbol;
}

// Appends the qubit `id` names when it names one qubit of a declared register (the
// common case, read without building a list); false when it may name more.
bool Expander::single_qubit(NodeId id, std::vector<PlainOperand>& into) {
  const Expr& node = expr(id);
  if (node.kind == ExprKind::INDEX && node.items.size == 1 &&
      expr(node.left).kind == ExprKind::NAME) {
    const ExprKind index = expr(list(node.items)[0]).kind;
    if (index == ExprKind::RANGE || index == ExprKind::SET) return false;
    const Symbol* symbol = lookup(expr(node.left).text);
    if (symbol == nullptr || symbol->kind != SymbolKind::QUBITS || symbol->list || symbol->scalar)
      return false;
    const std::int64_t at = placed(node.offset, [&] {
      return element_index(list(node.items)[0], symbol->size, symbol->register_name, "qubit");
    });
    into.push_back(PlainOperand{symbol->register_name, at});
    return true;
  }
  if (node.kind == ExprKind::NAME) {
    const Symbol* symbol = lookup(node.text);
    if (symbol == nullptr || symbol->kind != SymbolKind::QUBITS || !symbol->scalar) return false;
    into.push_back(symbol->list ? (*symbol->list)[0] : scalar_operand(*symbol));
    return true;
  }
  return false;
}

Resolved Expander::resolve_index(const Expr& node, SymbolKind kind, std::string_view what) {
  if (node.items.size != 1) raise_value_error("A " + std::string(what) + " register has one index");
  const Expr& base = expr(node.left);
  const Expr& index = expr(list(node.items)[0]);
  // A declared register is indexed in place, without spelling out its elements.
  if (base.kind == ExprKind::NAME && index.kind != ExprKind::RANGE && index.kind != ExprKind::SET) {
    const Symbol& symbol = operand_symbol(base, kind, what);
    if (!symbol.list) {
      const std::int64_t at = element_index(list(node.items)[0], symbol.size, base.text, what);
      return Resolved{
          {symbol.scalar ? scalar_operand(symbol) : PlainOperand{symbol.register_name, at}}, true};
    }
  }
  const Resolved whole = resolve(base, kind);
  const auto size = static_cast<std::int64_t>(whole.elements.size());
  Resolved picked{{}, false};
  if (index.kind == ExprKind::SET) {
    for (const NodeId element : list(index.items)) {
      picked.elements.push_back(
          whole.elements[static_cast<std::size_t>(element_index(element, size, base.text, what))]);
    }
    return picked;
  }
  if (index.kind == ExprKind::RANGE) {
    for (const std::int64_t at : slice(index, size))
      picked.elements.push_back(whole.elements[static_cast<std::size_t>(at)]);
    return picked;
  }
  const std::int64_t at = element_index(list(node.items)[0], size, base.text, what);
  return Resolved{{whole.elements[static_cast<std::size_t>(at)]}, true};
}

// An index into `size` elements, negative ones counting from the end.
std::int64_t Expander::element_index(NodeId id, std::int64_t size, std::string_view name,
                                     std::string_view what) {
  const std::int64_t index = integer(id);
  const std::optional<std::int64_t> at = counted_from_start(index, size);
  if (!at) {
    fail_value(expr(id).offset, "Index " + std::to_string(index) + " out of range for " +
                                    std::string(what) + " register " + std::string(name) + "[" +
                                    std::to_string(size) + "]");
  }
  return *at;
}

// As element_index, for `indexed` ("a register") of `size` elements.
std::int64_t Expander::index_within(NodeId id, std::int64_t size, std::string_view indexed) {
  const std::int64_t index = integer(id);
  const std::optional<std::int64_t> at = counted_from_start(index, size);
  if (!at) {
    fail_value(expr(id).offset, "Index " + std::to_string(index) + " out of range for " +
                                    std::string(indexed) + " of size " + std::to_string(size));
  }
  return *at;
}

// The indices `start:step:stop` picks from `size` elements of `indexed`; both ends are
// included, omitted ends are the ends of the register, negative ones count from the end.
std::vector<std::int64_t> Expander::slice(const Expr& range, std::int64_t size,
                                          std::string_view indexed) {
  const std::int64_t step = range.step == NO_NODE ? 1 : integer(range.step);
  if (step == 0) fail_value(range.offset, "A range step must not be zero");
  const auto end = [&](NodeId id, std::int64_t omitted) {
    return id == NO_NODE ? omitted : index_within(id, size, indexed);
  };
  const std::int64_t start = end(range.left, step > 0 ? 0 : size - 1);
  const std::int64_t stop = end(range.right, step > 0 ? size - 1 : 0);
  std::vector<std::int64_t> indices;
  for (std::int64_t k = start; step > 0 ? k <= stop : k >= stop; k += step) {
    if (indices.size() == max_statements_) fail_too_long(range.offset);
    indices.push_back(k);
  }
  return indices;
}

// ---------------------------------------------------------------- measurement and reset

void Expander::measure(NodeId measurement, NodeId target, std::string_view declared_bits) {
  if (target == NO_NODE && declared_bits.empty()) {
    for (const PlainOperand& qubit : qubits(expr(measurement).left).elements)
      emit_measure(qubit, std::nullopt, expr(measurement).offset);
    return;
  }
  measure_into(measurement, target != NO_NODE ? bits(target)
                                              : resolve(name_of(declared_bits), SymbolKind::BITS));
}

void Expander::measure_into(NodeId measurement, const Resolved& result) {
  const Resolved measured = qubits(expr(measurement).left);
  if (result.elements.size() != measured.elements.size()) {
    fail_value(expr(measurement).offset,
               "Measurement size mismatch: " + std::to_string(measured.elements.size()) +
                   " qubits, " + std::to_string(result.elements.size()) + " bits");
  }
  for (std::size_t k = 0; k < measured.elements.size(); ++k) {
    emit_measure(measured.elements[k], result.elements[k], expr(measurement).offset);
  }
}

void Expander::emit_measure(const PlainOperand& qubit, const std::optional<PlainOperand>& bit,
                            std::size_t offset) {
  if (!contexts_.empty() &&
      (!contexts_.back().controls.empty() || contexts_.back().collected != nullptr)) {
    fail_unsupported(offset, "A measurement cannot be controlled or inverted");
  }
  count_statement(offset);
  if (bit) set_bit_state(*bit, BitState::MEASURED);
  writer_.measure(qubit, bit);
}

void Expander::reset(const Stmt& stmt) {
  for (const NodeId operand : list(stmt.operands)) {
    for (const PlainOperand& qubit : qubits(operand).elements) {
      if (!contexts_.empty() &&
          (!contexts_.back().controls.empty() || contexts_.back().collected != nullptr)) {
        fail_unsupported(stmt.offset, "A reset cannot be controlled or inverted");
      }
      count_statement(stmt.offset);
      writer_.reset(qubit);
    }
  }
}

// ---------------------------------------------------------------- gate calls

std::optional<GateRef> Expander::find_gate(std::string_view name) {
  if (const Symbol* symbol = lookup(name)) {
    if (symbol->kind == SymbolKind::GATE) return symbol->gate;
  }
  if (const NativeGate* native = standard_gate(name)) {
    if (native != &EXPLICIT_MATRIX_ROW) note_native_called(*native);
    if (!expand_library_gates_) return native_ref(*native);
    if (auto library = library_gate(name)) return library;
    return native_ref(*native);
  }
  if (auto library = library_gate(name)) return library;
  return forward_call(name);
}

void Expander::gate_call(const Stmt& stmt) {
  const std::optional<GateRef> gate = find_gate(stmt.name);
  if (!gate) fail_value(stmt.offset, "Unknown gate '" + std::string(stmt.name) + "'");
  Call call = recycled_call();
  call.gate = *gate;
  call.has_parameters = stmt.has_args;
  for (const NodeId argument : list(stmt.args)) {
    if (free_inputs_.empty()) {
      call.parameters.push_back(parameter(argument));
    } else {
      add_parameter(call, argument);
    }
  }
  check_parameter_count(call, stmt);

  call.u_meaning = u_meaning_here();
  call.implicit_phase = in_library();

  // The modifiers, read left to right: controls are taken from the front of the operands.
  std::size_t control_count = 0;
  bool fractional = false;
  for (std::uint32_t k = 0; k < stmt.modifiers.size; ++k) {
    const Modifier& modifier = program_->modifiers[stmt.modifiers.begin + k];
    if (modifier.kind == ModifierKind::INV) {
      call.inverse = !call.inverse;
      call.powers.push_back(-1.0);
    } else if (modifier.kind == ModifierKind::POW) {
      const double exponent = parameter(modifier.argument);
      call.exponent *= exponent;
      call.powers.push_back(exponent);
      fractional = fractional || std::nearbyint(exponent) != exponent;
    } else {
      const std::int64_t count = modifier.argument == NO_NODE ? 1 : integer(modifier.argument);
      if (count < 1) fail_value(modifier.offset, "A control count must be positive");
      if (count > static_cast<std::int64_t>(stmt.operands.size)) {
        fail_value(modifier.offset, "More controls than operands");
      }
      call.states.insert(call.states.end(), static_cast<std::size_t>(count),
                         modifier.kind == ModifierKind::CTRL ? 1 : 0);
      control_count += static_cast<std::size_t>(count);
    }
  }

  // Whole powers and inverses commute, and the product and the parity say it all; a power
  // that is not whole needs them in order, innermost first.
  if (fractional) {
    std::reverse(call.powers.begin(), call.powers.end());
    call.inverse = false;
    call.exponent = 1.0;
  } else {
    call.powers.clear();
  }
  if (call.gate.name == EXPLICIT_MATRIX_GATE && call.gate.kind == GateRef::Kind::NATIVE) {
    if (has_free(call)) fail_free(call, stmt.offset, "an explicit unitary takes numbers");
    call.gate.qubits = unitary_target_count(call.parameters, stmt.offset);
  }
  // Most calls name single qubits only: those go straight into the call.
  call.qubits.reserve(stmt.operands.size);
  for (const NodeId operand : list(stmt.operands)) {
    if (!single_qubit(operand, call.qubits)) break;
  }
  std::vector<Resolved> operands;
  if (call.qubits.size() != stmt.operands.size) {
    call.qubits.clear();
    operands.reserve(stmt.operands.size);
    for (const NodeId operand : list(stmt.operands))
      operands.push_back(qubits(operand));
  }
  const std::size_t given = operands.empty() ? call.qubits.size() : operands.size();
  const std::size_t expected =
      call.gate.qubits < 0 ? given : control_count + static_cast<std::size_t>(call.gate.qubits);
  if (given != expected) {
    fail_value(stmt.offset, "'" + std::string(stmt.name) + "' takes " + std::to_string(expected) +
                                " qubit operands, " + std::to_string(given) + " given");
  }
  if (call.gate.kind == GateRef::Kind::WRITTEN && call.gate.qubits < 0) {
    forward_calls_.push_back({stmt.name, given, control_count, Place{program_, stmt.offset}});
  }
  if (operands.empty()) {
    submit(call, stmt);
  } else {
    broadcast(call, operands, stmt);
  }
}

// The qubits a `unitary` matrix acts on, by the importer's rule and with its messages for
// entries that are no such matrix.
int Expander::unitary_target_count(const std::vector<double>& parameters,
                                   std::size_t offset) const {
  return placed(offset, [&] { return detail::unitary_target_count(parameters); });
}

void Expander::check_parameter_count(const Call& call, const Stmt& stmt) const {
  const auto given = static_cast<int>(call.parameters.size());
  if (call.gate.angles < 0 || given == call.gate.angles) return;
  if (call.gate.kind == GateRef::Kind::NATIVE && given + 1 == call.gate.angles &&
      standard_gate(call.gate.name)->trailing_phase)
    return;  // phase omitted
  fail_value(stmt.offset, "'" + std::string(stmt.name) + "' takes " +
                              std::to_string(call.gate.angles) + " parameters, " +
                              std::to_string(given) + " given");
}

// A register or slice among the operands repeats the call once per element.
void Expander::broadcast(Call& call, const std::vector<Resolved>& operands, const Stmt& stmt) {
  std::size_t width = 1;
  bool any = false;
  for (const Resolved& operand : operands) {
    if (operand.single) continue;
    if (any && operand.elements.size() != width) {
      fail_value(stmt.offset, "Registers of different sizes in one broadcast");
    }
    width = operand.elements.size();
    any = true;
  }
  if (any && width == 0) return;
  for (std::size_t k = 0; k < width; ++k) {
    Call one = call;
    one.qubits.clear();
    for (const Resolved& operand : operands)
      one.qubits.push_back(operand.single ? operand.elements[0] : operand.elements[k]);
    submit(one, stmt);
  }
}

// A call made by a statement: inside an inlined body it gets the body's controls and,
// in an inverted body, waits to be applied in reverse. The body's controls are the
// qubits of the call that inlines it, which has checked them.
void Expander::submit(Call& call, const Stmt& stmt) {
  check_distinct_qubits(call.qubits, stmt);
  if (!contexts_.empty()) {
    InlineContext& context = contexts_.back();
    if (!context.controls.empty()) {
      call.states.insert(call.states.begin(), context.states.begin(), context.states.end());
      call.qubits.insert(call.qubits.begin(), context.controls.begin(), context.controls.end());
    }
    if (context.collected != nullptr) {
      context.collected->push_back(std::move(call));
      return;
    }
  }
  perform(call, stmt.offset);
  keep_buffers(call);
}

// The language forbids one qubit in two operands of a call.
void Expander::check_distinct_qubits(std::span<const PlainOperand> qubits, const Stmt& stmt) const {
  if (const PlainOperand* repeated = repeated_qubit(qubits)) fail_repeated(*repeated, stmt);
}

void Expander::fail_repeated(const PlainOperand& qubit, const Stmt& stmt) const {
  fail_value(stmt.offset, "Qubit " + qubit_text(qubit, hardware_register_) +
                              " is used twice in one call of '" + std::string(stmt.name) + "'");
}

// A fresh call with the room of a performed one: most calls then allocate nothing. It is
// moved from the spare rather than built and filled, which would clear it twice.
Call Expander::recycled_call() {
  Call call = std::move(spare_);
  call.gate = GateRef{};
  call.has_parameters = false;
  call.parameters.clear();
  call.free.clear();
  call.states.clear();
  call.qubits.clear();
  call.inverse = false;
  call.exponent = 1.0;
  call.powers.clear();
  call.u_meaning = UMeaning::LANGUAGE;
  call.implicit_phase = false;
  return call;
}

void Expander::keep_buffers(Call& call) {
  spare_.parameters = std::move(call.parameters);
  spare_.states = std::move(call.states);
  spare_.qubits = std::move(call.qubits);
}

void Expander::perform(Call& call, std::size_t offset) {
  if (!call.powers.empty()) {
    fractional_power(call, offset);
    return;
  }
  if (call.exponent != 1.0) {
    power(call, offset);
    return;
  }
  if (call.inverse && call.gate.kind == GateRef::Kind::NATIVE) invert_native(call, offset);
  if (call.inverse || call.gate.kind == GateRef::Kind::INLINED) {
    if (call.gate.program == nullptr) {  // a written definition further down the program
      fail_unsupported(offset, "The inverse of '" + std::string(call.gate.name) +
                                   "', defined further down, is not supported");
    }
    inline_body(call, offset);
    return;
  }
  if (call.gate.kind == GateRef::Kind::NATIVE && write_with_phases(call, offset)) return;
  if (call.gate.kind == GateRef::Kind::WRITTEN && call.gate.program != nullptr &&
      phase_dependent_.contains(call.gate.name)) {
    if (!call.states.empty()) {  // its global phase is observed: its body, controlled
      inline_body(call, offset);
      return;
    }
    note_phase_left_out();
  } else if (call.gate.kind == GateRef::Kind::WRITTEN && call.gate.program == nullptr) {
    note_phase_left_out();  // not known yet: taken as holding a phase
  }
  if (!call.states.empty()) spell_out_compact_name(call);
  write_plain(call, offset);
}

void Expander::write_plain(Call& call, std::size_t offset) {
  count_statement(offset);
  if (call.gate.kind == GateRef::Kind::WRITTEN) note_written_call(call.gate.name, offset);
  PlainCall plain{call.states,     call.gate.name, call.has_parameters,
                  call.parameters, call.qubits,    call.gate.kind == GateRef::Kind::WRITTEN};
  if (!call.free.empty()) [[unlikely]] {
    note_free_inputs(call);
    plain.free = free_texts_;
  }
  writer_.call(plain);
}

// ---------------------------------------------------------------- phases
// The importer reads `U` as the gate model's u and `cu` as a controlled u, leaving out
// phases that the language gives them: written with the phases on their controls, they
// read as what the program means. Whether it wrote the call itself.
bool Expander::write_with_phases(Call& call, std::size_t offset) {
  const std::string_view name = call.gate.name;
  if (name == "gphase") {
    // A phase no control observes, where no later control can either: left out, unless
    // the program wrote it. In a definition that stays one, its calls under a control
    // must then be inlined.
    const bool left_out = call.implicit_phase && call.states.empty() && !expand_library_gates_;
    if (left_out) note_phase_left_out();
    return left_out;
  }
  if (name == "U") {
    if (call.u_meaning != UMeaning::MODEL && has_free(call)) {
      const FreeTerm half = known_term(Value::integer(2));
      const FreeTerm phase =
          call.u_meaning == UMeaning::OPENQASM2
              ? folded(BinaryOp::DIVIDE,
                       folded(UnaryOp::NEGATE, folded(BinaryOp::ADD, parameter_term(call, 1),
                                                      parameter_term(call, 2))),
                       half)
              : folded(BinaryOp::DIVIDE, parameter_term(call, 0), half);
      Call model = call;
      write_model_u(model, offset);
      perform_free_phase(call, phase, offset);
    } else if (call.u_meaning != UMeaning::MODEL) {
      const std::vector<double>& angles = call.parameters;
      const double phase =
          call.u_meaning == UMeaning::OPENQASM2 ? -(angles[1] + angles[2]) / 2 : angles[0] / 2;
      Call model = call;
      write_model_u(model, offset);
      perform_phase(call, phase, offset);
    } else {
      write_model_u(call, offset);
    }
    return true;
  }
  if (name == "cu") {
    // cu(θ, φ, λ, γ) is p(γ) on the control and the model's controlled u(θ, φ, λ).
    const double gamma = call.parameters.size() == 4 ? call.parameters[3] : 0.0;
    if (call.free.size() == 4 && call.free[3]) {
      fail_free(call, offset, "whether cu's phase is written depends on its value");
    }
    call.parameters.resize(3);
    if (!call.free.empty()) call.free.resize(3);
    call.gate = native_ref("U");
    call.u_meaning = UMeaning::MODEL;
    call.states.push_back(1);
    Call model = call;
    write_model_u(model, offset);
    perform_phase(call, gamma, offset);
    return true;
  }
  return false;
}

// The gate model's u(θ, φ, λ) under the call's controls, in a form that the importer and
// the language read alike: cu(θ, φ, λ, 0) under one control, an explicit unitary under
// other controls. Alone, `U` differs from u by a global phase only, which no control
// observes where it is written, and which makes a definition holding it be inlined
// under controls.
void Expander::write_model_u(Call& call, std::size_t offset) {
  if (call.states.empty()) {
    note_phase_left_out();
    write_plain(call, offset);
    return;
  }
  if (call.states.size() == 1 && call.states[0] == 1) {
    call.gate = native_ref("cu");
    call.parameters.resize(3);
    call.parameters.push_back(0.0);
    if (!call.free.empty()) call.free.resize(4);
    call.states.clear();
    write_plain(call, offset);
    return;
  }
  if (has_free(call)) fail_free(call, offset, "U under these controls is written as its matrix");
  const SquareMatrix u = *standard_gate_matrix(
      "cu", std::vector<double>{call.parameters[0], call.parameters[1], call.parameters[2], 0.0});
  SquareMatrix target(2);
  for (std::size_t row = 0; row < 2; ++row) {
    for (std::size_t column = 0; column < 2; ++column)
      target.at(row, column) = u.at(2 * row + 1, 2 * column + 1);
  }
  call.gate = native_ref("unitary");
  call.gate.qubits = 1;
  call.parameters = written_unitary(target);
  write_plain(call, offset);
}

// In a definition that stays one, a phase left out makes the definition differ from the
// program's by a global phase, which a control would observe.
void Expander::note_phase_left_out() {
  if (!writing_.empty()) phase_dependent_.insert(writing_);
}

// OpenQASM 2's `U` in a program that says `OPENQASM 2.0;` and in qelib1.inc's definitions;
// the language's everywhere else.
UMeaning Expander::u_meaning_here() const {
  const bool openqasm2 = in_library() ? program_ == qelib1_ : openqasm2_;
  return openqasm2 ? UMeaning::OPENQASM2 : UMeaning::LANGUAGE;
}

// A phase e^{i·angle} on the controls of `on_controls_of` (the first of its qubits): p on
// one control, gphase under modifiers on more, a global phase on none.
void Expander::perform_phase(const Call& on_controls_of, double angle, std::size_t offset) {
  if (angle == 0) return;
  Call phase;
  phase.implicit_phase = true;
  phase.has_parameters = true;
  phase.parameters.push_back(angle);
  const std::size_t controls = on_controls_of.states.size();
  phase.qubits.assign(on_controls_of.qubits.begin(),
                      on_controls_of.qubits.begin() + static_cast<std::ptrdiff_t>(controls));
  if (controls == 1 && on_controls_of.states[0] == 1) {
    phase.gate = native_ref("p");
  } else {
    phase.gate = native_ref("gphase");
    phase.states = on_controls_of.states;
  }
  perform(phase, offset);
}

// ---------------------------------------------------------------- powers and inverses

void Expander::power(Call& call, std::size_t offset) {
  const double exponent = call.exponent;
  call.exponent = 1.0;
  const std::optional<Repetition> repetition = repetition_of_power(exponent);
  if (repetition->inverted) call.inverse = !call.inverse;
  if (std::fabs(exponent) > static_cast<double>(max_statements_)) fail_too_long(offset);
  for (std::uint64_t k = 0; k < repetition->times; ++k) {
    count_statement(offset);
    Call once = call;
    perform(once, offset);
  }
}

// Powers of which one at least is not whole. A rotation or phase of the standard libraries
// takes them as a scaled angle; any other standard gate takes its principal power, computed
// from its matrix; a gate the program defines has no matrix here.
void Expander::fractional_power(Call& call, std::size_t offset) {
  const std::vector<double> powers = std::move(call.powers);
  call.powers.clear();
  const bool standard =
      call.gate.kind == GateRef::Kind::NATIVE ||
      (call.gate.kind == GateRef::Kind::INLINED && call.gate.program->origin == Origin::LIBRARY);
  if (standard && power_scales_angle(call.gate.name) && !call.parameters.empty()) {
    if (!scale_free_power(call, powers)) {
      for (const double exponent : powers)
        call.parameters[0] *= exponent;
    }
    perform(call, offset);
    return;
  }
  if (has_free(call)) {
    const double shown = *std::find_if(powers.begin(), powers.end(),
                                       [](double k) { return std::nearbyint(k) != k; });
    fail_free(call, offset,
              "pow(" + shortest(shown) + ") @ " + std::string(call.gate.name) +
                  " needs the gate's matrix");
  }
  if (standard) {
    const bool openqasm2_u = call.gate.name == "U" && call.u_meaning == UMeaning::OPENQASM2;
    std::optional<SquareMatrix> matrix =
        standard_gate_matrix(openqasm2_u ? "u3" : call.gate.name, call.parameters);
    if (matrix) {
      for (const double exponent : powers)
        *matrix = principal_power(*matrix, exponent);
      if (call.inverse) *matrix = adjoint(*matrix);
      call.inverse = false;
      perform_matrix(call, *matrix, offset);
      return;
    }
  }
  const double shown =
      *std::find_if(powers.begin(), powers.end(), [](double k) { return std::nearbyint(k) != k; });
  fail_unsupported(offset, "pow(" + shortest(shown) + ") @ " + std::string(call.gate.name) +
                               " is not supported (a non-integer power needs the gate's matrix)");
}

// The call becomes the gate of that matrix on its own qubits: a gate the importer reads by
// name where one has the matrix, otherwise an explicit unitary.
void Expander::perform_matrix(Call& call, const SquareMatrix& matrix, std::size_t offset) {
  std::optional<NamedGate> named;
  if (!expand_library_gates_) named = named_gate(matrix);
  if (named) {
    call.gate = native_ref(named->name);
    call.has_parameters = named->angle.has_value();
    call.parameters.clear();
    if (named->angle) call.parameters.push_back(*named->angle);
  } else {
    call.gate = native_ref("unitary");
    call.gate.qubits = std::countr_zero(matrix.dimension);
    call.has_parameters = true;
    call.parameters = written_unitary(matrix);
  }
  perform(call, offset);
}

// The gates of the inverse but the last are performed as calls of their own; the call
// becomes the last.
void Expander::invert_native(Call& call, std::size_t offset) {
  call.inverse = false;
  if (has_free(call)) {
    invert_free(call, offset);
    return;
  }
  std::optional<NativeGates> inverse =
      placed(offset, [&] { return inverse_of_native(native_form(call)); });
  if (!inverse) {
    fail_unsupported(offset,
                     "The inverse of '" + std::string(call.gate.name) + "' is not supported");
  }
  for (std::size_t k = 0; k + 1 < inverse->size(); ++k) {
    Call before = call;
    take_form(before, std::move((*inverse)[k]));
    if (before.gate.qubits == 0) {  // a phase of the inverse, not one the program wrote
      before.qubits.resize(before.states.size());
      before.implicit_phase = true;
    }
    perform(before, offset);
  }
  take_form(call, std::move(inverse->back()));
}

// The inverse of a native whose parameters depend on free inputs, where the gate algebra
// only negates and reorders them (the rotations and phases, U, cu): the inverse is worked
// out twice, with different stand-ins for the free parameters, and each parameter of it
// must be the same number both times or the same free parameter, negated or not.
void Expander::invert_free(Call& call, std::size_t offset) {
  constexpr std::array<double, 2> STAND_INS = {1234.5, 5678.25};
  std::array<std::optional<NativeGates>, 2> inverses;
  for (std::size_t run = 0; run < 2; ++run) {
    NativeForm form{call.gate.name, call.has_parameters, call.parameters};
    for (std::size_t k = 0; k < call.free.size(); ++k) {
      if (call.free[k]) form.parameters[k] = STAND_INS[run] * static_cast<double>(k + 1);
    }
    inverses[run] = placed(offset, [&] { return inverse_of_native(std::move(form)); });
  }
  if (!inverses[0]) {
    fail_unsupported(offset,
                     "The inverse of '" + std::string(call.gate.name) + "' is not supported");
  }
  if (inverses[0]->size() != 1) fail_free(call, offset, "its inverse is written otherwise");
  NativeForm& first = (*inverses[0])[0];
  const NativeForm& second = (*inverses[1])[0];
  std::vector<FreeRef> free(first.parameters.size());
  for (std::size_t j = 0; j < first.parameters.size(); ++j) {
    if (first.parameters[j] == second.parameters[j]) continue;  // a number
    for (std::size_t k = 0; k < call.free.size() && !free[j]; ++k) {
      const auto place = static_cast<double>(k + 1);
      for (const double sign : {1.0, -1.0}) {
        if (call.free[k] && first.parameters[j] == sign * STAND_INS[0] * place &&
            second.parameters[j] == sign * STAND_INS[1] * place) {
          free[j] = sign > 0 ? call.free[k] : negated(call.free[k]);
          first.parameters[j] = std::numeric_limits<double>::quiet_NaN();
        }
      }
    }
    if (!free[j]) fail_free(call, offset, "its inverse is written otherwise");
  }
  take_form(call, std::move(first));
  call.free = std::move(free);
}

}  // namespace corvane::qasm3::detail::lower::expansion
