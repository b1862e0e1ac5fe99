#include "qasm/lower/build.hpp"

#include <algorithm>
#include <utility>

#include "qasm/records/explicit_matrix.hpp"
#include "qasm/records/measure_map.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

// ------------------------------------------------------------------ the layout

std::optional<GrowingLayout::Shift> GrowingLayout::add(std::string_view name,
                                                       std::optional<std::int64_t> size,
                                                       std::size_t records, std::size_t measures) {
  last_entry_ = nullptr;
  if (!size) {
    if (entries_.contains(name)) return std::nullopt;  // a scalar of a name laid out adds nothing
    const auto offset = arrays_total_ + static_cast<std::int64_t>(scalars_.size());
    entries_.emplace(std::string(name), Entry{offset, 1, true});
    scalars_.emplace_back(name);
    return std::nullopt;
  }
  std::optional<Shift> shift;
  if (!scalars_.empty() && *size > 0) {
    shift = shifts_.emplace_back(Shift{records, measures, arrays_total_, *size});
    for (const std::string& scalar : scalars_) {
      Entry& entry = entries_.find(scalar)->second;
      if (entry.scalar) entry.offset += *size;
    }
  }
  entries_.insert_or_assign(std::string(name), Entry{arrays_total_, *size, false});
  arrays_.emplace_back(name, *size);
  // Past the largest index the layout itself refuses the program (registers()).
  if (__builtin_add_overflow(arrays_total_, *size, &arrays_total_)) arrays_total_ = INT64_MAX;
  return shift;
}

std::int64_t GrowingLayout::index_of(const PlainOperand& operand, std::string_view what) {
  if (last_entry_ == nullptr || !same_text(operand.name, last_name_)) {
    const auto found = entries_.find(operand.name);
    if (found == entries_.end()) {
      raise_value_error("Unknown " + std::string(what) + " register: '" +
                        std::string(operand.name) + "'");
    }
    last_name_ = found->first;  // the key, which lives as long as the entry
    last_entry_ = &found->second;
  }
  if (operand.index == PlainOperand::NO_INDEX) return last_entry_->offset;
  return last_entry_->offset + operand.index;
}

Registers GrowingLayout::registers() const {
  RegisterLayout layout;
  layout.reserve(arrays_.size() + scalars_.size());
  for (const auto& [name, size] : arrays_)
    layout.add_array(name, size);
  for (const std::string& name : scalars_)
    layout.add_scalar(name);
  return std::move(layout).take();
}

// ------------------------------------------------------------------ statements

RecordBuilder::RecordBuilder(std::size_t expected_records) {
  gs_.reserve(expected_records);
}

// The highest index used so far moves with the indices a declaration moves. The records
// of open conditioned records move at once, the finished ones in take().
void RecordBuilder::qubit_declaration(std::string_view name, std::optional<std::int64_t> size) {
  if (const auto shift = qubits_.add(name, size, gs_.data().size(), read_.measure_map.size())) {
    if (read_.highest_qubit >= shift->from) read_.highest_qubit += shift->by;
    move_open_records(*shift, true);
  }
}

void RecordBuilder::bit_declaration(std::string_view name, std::optional<std::int64_t> size) {
  if (const auto shift = bits_.add(name, size, gs_.data().size(), read_.measure_map.size())) {
    if (read_.highest_bit >= shift->from) read_.highest_bit += shift->by;
    move_open_records(*shift, false);
  }
}

void RecordBuilder::begin_definition(std::string_view name,
                                     std::span<const std::string_view> arguments) {
  // A name defined again stands for its last definition everywhere, as the importer,
  // which reads every definition before the statements, finds it.
  Definition& definition = definitions_[std::string(name)];
  definition = Definition{};
  definition.arguments.assign(arguments.begin(), arguments.end());
  current_ = &definition;
}

void RecordBuilder::end_definition() {
  current_ = nullptr;
}

void RecordBuilder::call(const PlainCall& call) {
  check_gate_name(call.name);
  modifiers_.clear();
  for (const std::uint8_t positive : call.controls)
    modifiers_.push_back(positive != 0 ? Modifier::Ctrl : Modifier::Negctrl);
  resolve_qubits(call.operands);
  if (call.definition) {
    add_definition_call(call);
  } else {
    add_gate(call);
  }
  if (current_ == nullptr && !open_.empty()) {
    if (call.definition) open_.back().calls_definition = true;
    return;
  }
  if (current_ == nullptr) {
    for (const std::int64_t index : indices_)
      read_.uses_qubit(index);
    if (call.definition) pending_.push_back(gs_.data().size() - 1);
    return;
  }
  current_->calls_definition.push_back(call.definition);
  if (current_->arguments.size() == 1) {
    append_call_text(current_->statements.emplace_back(), call);
  }
}

void RecordBuilder::resolve_qubits(std::span<const PlainOperand> operands) {
  indices_.clear();
  for (const PlainOperand& operand : operands) {
    if (current_ == nullptr || operand.index != PlainOperand::NO_INDEX) {
      indices_.push_back(qubits_.index_of(operand, "qubit"));
      continue;
    }
    // Inside a body a bare name is an argument, numbered by its place.
    const auto& arguments = current_->arguments;
    const auto found = std::find(arguments.begin(), arguments.end(), operand.name);
    if (found == arguments.end()) {
      raise_value_error("Unknown local qubit: '" + std::string(operand.name) + "'");
    }
    indices_.push_back(found - arguments.begin());
  }
}

void RecordBuilder::add_gate(const PlainCall& call) {
  static const std::optional<std::vector<double>> NO_PARAMETERS;
  if (call.has_parameters) {
    if (!parameters_) parameters_.emplace();
    parameters_->assign(call.parameters.begin(), call.parameters.end());
  }
  const std::optional<std::vector<double>>& parameters =
      call.has_parameters ? parameters_ : NO_PARAMETERS;
  const std::string_view op = call.name;
  const NativeGate* native = native_of(op);
  const std::int64_t arity = call_arity(op, native, parameters, -1);
  const ControlSplit split =
      split_controls(native, arity, static_cast<std::int64_t>(indices_.size()),
                     static_cast<std::int64_t>(modifiers_.size()));
  if (split.problem != ControlProblem::None) [[unlikely]]
    raise_control_problem_of(call, split);
  const IndexList states =
      split.controls > 0 ? control_states(native, modifiers_, split.controls) : IndexList{};
  const std::string_view id = record_id(native, op);
  if (op == EXPLICIT_MATRIX_GATE) {
    add_call_record(output(), id, indices_, split.controls, states)
        .set_matrix(decode_unitary_matrix(*parameters));
  } else if (!call.free.empty()) {
    add_call_record(output(), id, indices_, split.controls, states,
                    parameter_with_texts(call, parameters));
  } else {
    add_call_record(output(), id, indices_, split.controls, states,
                    call_parameter(native, parameters));
  }
}

const NativeGate* RecordBuilder::native_of(std::string_view op) {
  if (op.empty()) return nullptr;
  const std::size_t slot = (static_cast<unsigned char>(op.front()) +
                            3 * static_cast<unsigned char>(op.back()) + 7 * op.size()) %
                           recent_natives_.size();
  const NativeGate* recent = recent_natives_[slot];
  if (recent != nullptr && same_text(recent->name, op)) return recent;
  const NativeGate* native = native_gate(op);
  if (native != nullptr) recent_natives_[slot] = native;
  return native;
}

// The parameter list of a call whose parameters depend on free inputs: the numbers' list,
// the expressions as text entries in their places.
Parameter RecordBuilder::parameter_with_texts(const PlainCall& call,
                                              const std::optional<std::vector<double>>& numbers) {
  const Parameter numbered = call_parameter(call.name, numbers);
  const ParamListView entries = numbered.as_list();
  std::vector<ParamScalar> items(entries.begin(), entries.end());
  for (std::size_t k = 0; k < items.size() && k < call.free.size(); ++k) {
    if (!call.free[k].empty()) items[k].emplace<std::string>(call.free[k]);
  }
  return Parameter::list(std::move(items), /*as_tuple=*/true);
}

void RecordBuilder::free_inputs(std::span<const FreeInput> inputs) {
  for (const FreeInput& input : inputs)
    gs_.qasm_inputs.push_back(InputDecl{input.name, input.type});
}

// Its block comes from the name's last definition, in take().
void RecordBuilder::add_definition_call(const PlainCall& call) {
  const auto controls = static_cast<std::int64_t>(modifiers_.size());
  const IndexList states =
      controls > 0 ? control_states(nullptr, modifiers_, controls) : IndexList{};
  add_block_record(output(), call.name, indices_, controls, states, nullptr);
}

void RecordBuilder::raise_control_problem_of(const PlainCall& call, const ControlSplit& split) {
  std::string statement;
  append_call_text(statement, call);
  std::vector<std::string> texts;
  for (const PlainOperand& operand : call.operands)
    append_operand_text(texts.emplace_back(), operand);
  const std::vector<std::string_view> operands(texts.begin(), texts.end());
  raise_control_problem(split, statement, call.name, modifiers_, operands);
}

void RecordBuilder::measure(const PlainOperand& qubit, const std::optional<PlainOperand>& bit) {
  if (!bit) {  // read as a call of an operation named `measure`
    call(PlainCall{.name = "measure", .operands = {&qubit, 1}});
    return;
  }
  resolve_qubits({&qubit, 1});
  const std::int64_t q = indices_.front();
  const std::int64_t c = bits_.index_of(*bit, "bit");
  add_measurement_record(output(), q, c);
  if (current_ != nullptr) {
    // In a body it measures into the global bit, outside the measure map.
    current_->calls_definition.push_back(false);
    if (current_->arguments.size() == 1) {
      std::string& text = current_->statements.emplace_back();
      append_operand_text(text, *bit);
      text += " = measure ";
      append_operand_text(text, qubit);
    }
    return;
  }
  // In a conditioned body it enters the measure map when the outermost record ends.
  if (!open_.empty()) return;
  read_.measured(q, c);
}

void RecordBuilder::reset(const PlainOperand& qubit) {
  call(PlainCall{.name = "reset", .operands = {&qubit, 1}});
}

// ------------------------------------------------------------------ conditioned records

void RecordBuilder::begin_if(const PlainCondition& condition) {
  begin_conditioned("if", condition);
}

void RecordBuilder::begin_while(const PlainCondition& condition) {
  begin_conditioned("while", condition);
}

void RecordBuilder::begin_conditioned(std::string id, const PlainCondition& condition) {
  IndexList bits;
  bits.reserve(condition.bits.size());
  for (const PlainOperand& bit : condition.bits)
    bits.push_back(bits_.index_of(bit, "bit"));
  open_.push_back(OpenConditioned{std::move(id),
                                  Condition(std::move(bits), condition.compare, condition.value),
                                  {},
                                  {},
                                  false,
                                  false});
}

void RecordBuilder::begin_else() {
  open_.back().in_else = true;
}

void RecordBuilder::end_conditioned() {
  OpenConditioned finished = std::move(open_.back());
  open_.pop_back();
  // An else-block that holds nothing is none, as the writer writes none.
  GateBlock else_body =
      finished.else_body.empty() ? GateBlock{} : make_block(std::move(finished.else_body));
  QuantumGate record = make_conditioned(std::move(finished.id), std::move(finished.condition),
                                        make_block(std::move(finished.body)), std::move(else_body));
  add_conditioned(std::move(record), finished.calls_definition);
}

// A finished conditioned record goes into the body around it, or to the sequence, where
// its measurements enter the measure map in program order and its qubits and bits count.
void RecordBuilder::add_conditioned(QuantumGate record, bool calls_definition) {
  if (!open_.empty()) {
    open_.back().calls_definition = open_.back().calls_definition || calls_definition;
    open_.back().records().push_back(std::move(record));
    return;
  }
  for (const std::int64_t qubit : record.target)
    read_.uses_qubit(qubit);
  for (const std::int64_t bit : record.condition()->bits())
    read_.highest_bit = std::max(read_.highest_bit, bit);
  for (const auto& [qubit, bit] : measure_map_of({record}))
    read_.measured(qubit, bit);
  if (calls_definition) pending_conditioned_.push_back(gs_.data().size());
  gs_.emplace_gate(std::move(record));
}

// ------------------------------------------------------------------ the sequence

namespace {

void move_indices(IndexList& indices, const GrowingLayout::Shift& shift) {
  for (std::size_t k = 0; k < indices.size(); ++k) {
    if (indices[k] >= shift.from) indices[k] += shift.by;
  }
}

void move_record(QuantumGate& record, const GrowingLayout::Shift& shift, bool qubits);

void move_records(std::vector<QuantumGate>& records, const GrowingLayout::Shift& shift,
                  bool qubits) {
  for (QuantumGate& record : records)
    move_record(record, shift, qubits);
}

GateBlock moved_block(const GateBlock& block, const GrowingLayout::Shift& shift, bool qubits) {
  if (!block) return block;
  std::vector<QuantumGate> records = *block;
  move_records(records, shift, qubits);
  return make_block(std::move(records));
}

// Moves the qubit indices (`qubits`) or the bit indices of a record made on the sequence's
// indices; a conditioned record's bodies use them too. A move keeps the order of indices,
// so a conditioned record's target stays that of its bodies. Bodies nest no deeper than
// the statements that wrote them.
void move_record(QuantumGate& record, const GrowingLayout::Shift& shift, bool qubits) {
  if (qubits) {
    move_indices(record.target, shift);
    move_indices(record.control, shift);
  } else if (record.classical_target()) {
    IndexList bits = *record.classical_target();
    move_indices(bits, shift);
    record.set_classical_target(std::move(bits));
  }
  if (!record.condition()) return;
  if (!qubits) {
    const Condition& tested = *record.condition();
    IndexList bits = tested.bits();
    move_indices(bits, shift);
    record.set_condition(Condition(std::move(bits), tested.compare(), tested.value()));
  }
  record.set_block_gate_sequence(moved_block(record.block_gate_sequence(), shift, qubits));
  record.set_else_gate_sequence(moved_block(record.else_gate_sequence(), shift, qubits));
}

}  // namespace

void RecordBuilder::move_open_records(const GrowingLayout::Shift& shift, bool qubits) {
  for (OpenConditioned& open : open_) {
    move_records(open.body, shift, qubits);
    move_records(open.else_body, shift, qubits);
    if (qubits) continue;
    IndexList bits = open.condition.bits();
    move_indices(bits, shift);
    open.condition = Condition(std::move(bits), open.condition.compare(), open.condition.value());
  }
}

// Bodies nest no deeper than the statements that wrote them.
void RecordBuilder::resolve_calls_in_bodies(QuantumGate& record) {
  const auto resolved = [&](const GateBlock& block) {
    if (!block) return block;
    std::vector<QuantumGate> records = *block;
    for (QuantumGate& child : records) {
      if (child.condition()) {
        resolve_calls_in_bodies(child);
      } else if (child.id == "block" && child.name() && !child.block_gate_sequence()) {
        resolve_definition_call(child);
      }
    }
    return make_block(std::move(records));
  };
  record.set_block_gate_sequence(resolved(record.block_gate_sequence()));
  record.set_else_gate_sequence(resolved(record.else_gate_sequence()));
}

std::optional<std::string_view> RecordBuilder::generated_id(Definition& definition,
                                                            std::string_view name) {
  if (!definition.generated) {
    definition.generated =
        generated_non_standard_gate_id(name, definition.arguments.size(), definition.statements);
  }
  return *definition.generated;
}

void RecordBuilder::resolve_definition_call(QuantumGate& record) {
  const auto found = definitions_.find(*record.name());
  if (found == definitions_.end()) {
    raise_value_error("Unknown gate '" + *record.name() + "'");
  }
  if (const auto id = generated_id(found->second, found->first)) {
    auto [matrix, fresh] = generated_matrices_.try_emplace(*id);
    if (fresh) matrix->second = resolve_matrix_q3(*id, Parameter{});
    QuantumGate gate(std::string(*id), std::move(record.target), std::move(record.control),
                     std::move(record.control_state));
    gate.set_matrix(matrix->second);
    record = std::move(gate);
    return;
  }
  record.set_block_gate_sequence(block_of(found->first));
}

GateBlock RecordBuilder::block_of(const std::string& name) {
  const Definition& definition = definitions_.find(name)->second;
  return blocks_.block_of(name, [&](std::vector<QuantumGate>& children) {
    children.reserve(definition.body.size());
    for (std::size_t k = 0; k < definition.body.size(); ++k) {
      children.push_back(definition.body[k]);
      if (definition.calls_definition[k]) resolve_definition_call(children.back());
    }
  });
}

void RecordBuilder::apply_shifts() {
  std::vector<MeasurePair>& measure_map = read_.measure_map;
  for (const GrowingLayout::Shift& shift : qubits_.shifts()) {
    for (std::size_t k = 0; k < shift.records; ++k) {
      QuantumGate& record = gs_.gate_at(k);
      if (record.condition()) {
        move_record(record, shift, true);
        continue;
      }
      move_indices(record.target, shift);
      move_indices(record.control, shift);
    }
    for (std::size_t k = 0; k < shift.measures; ++k) {
      if (measure_map[k].first >= shift.from) measure_map[k].first += shift.by;
    }
  }
  for (const GrowingLayout::Shift& shift : bits_.shifts()) {
    for (std::size_t k = 0; k < shift.records; ++k) {
      QuantumGate& record = gs_.gate_at(k);
      if (record.condition()) {
        move_record(record, shift, false);
        continue;
      }
      if (!record.classical_target()) continue;
      IndexList bits = *record.classical_target();
      move_indices(bits, shift);
      record.set_classical_target(std::move(bits));
    }
    for (std::size_t k = 0; k < shift.measures; ++k) {
      if (measure_map[k].second >= shift.from) measure_map[k].second += shift.by;
    }
  }
}

GateSequence RecordBuilder::take() && {
  for (const std::size_t index : pending_)
    resolve_definition_call(gs_.gate_at(index));
  for (const std::size_t index : pending_conditioned_)
    resolve_calls_in_bodies(gs_.gate_at(index));
  apply_shifts();
  Registers qubit_registers = qubits_.registers();
  std::int64_t declared_qubits = qubit_total(qubit_registers.list);
  if (declared_qubits == 0) {
    // Lowering writes no indexed operand of an undeclared register, so the one register
    // the importer then makes up has its smallest size.
    declared_qubits = 1;
    qubit_registers = implicit_qubit_register(declared_qubits);
  }
  read_.qubit_registers = std::move(qubit_registers.list);
  read_.declared_qubits = declared_qubits;
  read_.bit_registers = bits_.registers().list;
  set_read_layout(gs_, std::move(read_));
  return std::move(gs_);
}

}  // namespace corvane::qasm3::detail::lower
