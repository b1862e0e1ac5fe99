// The expander's gate definitions: written as definitions or inlined at their calls, the
// standard libraries read when first needed, and their nesting checked as the importer
// nests them.
#include "qasm/lower/expander.hpp"

#include <algorithm>

#include "qasm/lower/gate_library.hpp"

namespace corvane::qasm3::detail::lower::expansion {

// ---------------------------------------------------------------- gate definitions

GateRef Expander::definition_ref(const Stmt& stmt) {
  const int qubits = static_cast<int>(stmt.params.size - stmt.angle_count);
  return GateRef{stays_definition(stmt, qubits) ? GateRef::Kind::WRITTEN : GateRef::Kind::INLINED,
                 stmt.name,
                 program_,
                 static_cast<NodeId>(&stmt - program_->stmts.data()),
                 static_cast<int>(stmt.angle_count),
                 qubits,
                 nullptr};
}

// A definition without parameters stays a definition, unless the importer would read
// its calls differently: a name it reads as an identifier only when it starts with an
// ASCII letter, and a name whose calls it does not read as written (a standard name
// keeps that gate's operand layout: a controlled two-qubit name such as cx fits a
// definition of one argument, its target). Nor does a definition named as a gate of the
// standard libraries that a call has meant before or that its own body calls: the importer
// gives every call of a defined name to the definition, those written before it and
// in its body too, while they mean the library's gate.
bool Expander::stays_definition(const Stmt& stmt, int qubits) {
  if (stmt.angle_count != 0 || !is_identifier(stmt.name)) return false;
  if (called_as_library_gate(stmt.name) || names_itself(stmt)) return false;
  for (std::uint32_t k = 0; k < stmt.params.size; ++k) {
    if (!is_identifier(program_->params[stmt.params.begin + k].name)) return false;
  }
  return definition_reads_as_written(stmt.name, qubits);
}

// A gate, like every name of the global scope, is declared once, as the language has it;
// the built-in U is declared from the start.
// (The fixed importer gives every call the last definition of a name, so a program that
// redefines a gate it has called would otherwise change what those calls do.)
void Expander::gate_definition(const Stmt& stmt) {
  if (scopes_.back().symbols.contains(stmt.name) || stmt.name == "U") {
    fail_value(stmt.offset, "'" + std::string(stmt.name) + "' is already declared");
  }
  check_gate_body(stmt.body);
  Symbol symbol;
  symbol.kind = SymbolKind::GATE;
  symbol.gate = definition_ref(stmt);
  if (symbol.gate.kind == GateRef::Kind::WRITTEN) write_definition(stmt);
  declare(stmt.name, stmt.offset, std::move(symbol));
}

// A body is checked where it is defined, whether the definition is written or inlined at
// its calls: a body the language refuses is refused whether or not it is ever called, and
// with the messages and places it gets when it is lowered. Every statement counts, in any
// branch and loop: what it may hold does not depend on values.
void Expander::check_gate_body(Range body) {
  const ScopeGuard scope(scopes_, true);
  const auto check = [this](const auto& self, Range statements) -> void {
    const DepthGuard guard(depth_);
    for (std::uint32_t k = 0; k < statements.size; ++k) {
      const Stmt& stmt = program_->stmts[program_->stmt_lists[statements.begin + k]];
      check_placement(stmt, true);
      self(self, stmt.body);
      self(self, stmt.else_body);
    }
  };
  check(check, body);
}

// A written definition may call a gate defined further down, as the importer reads
// all definitions first: the call is written by name and checked at the end against a
// definition without parameters and with as many qubits as the call has operands.
std::optional<GateRef> Expander::forward_call(std::string_view name) {
  if (writing_.empty() || in_library()) return std::nullopt;
  return GateRef{GateRef::Kind::WRITTEN, name, nullptr, NO_NODE, 0, -1, nullptr};
}

void Expander::check_forward_calls() {
  for (const ForwardCall& call : forward_calls_) {
    const ProgramGuard in_caller(program_, *call.place.program);  // where errors are placed
    const Symbol* symbol = lookup(call.name);
    const bool defined = symbol != nullptr && symbol->kind == SymbolKind::GATE &&
                         symbol->gate.kind == GateRef::Kind::WRITTEN;
    if (!defined) fail_value(call.place.offset, "Unknown gate '" + std::string(call.name) + "'");
    if (call.controls > 0 && phase_dependent_.contains(call.name)) {
      fail_unsupported(call.place.offset, "A controlled call of '" + std::string(call.name) +
                                              "', defined further down with a phase that the "
                                              "control observes, is not supported");
    }
    if (static_cast<std::size_t>(symbol->gate.qubits) + call.controls != call.operands) {
      fail_value(call.place.offset,
                 "'" + std::string(call.name) + "' takes " +
                     std::to_string(symbol->gate.qubits + static_cast<int>(call.controls)) +
                     " qubit operands, " + std::to_string(call.operands) + " given");
    }
  }
}

// A definition without parameters stays a definition (it imports as a block); its
// body is lowered with the arguments as bare names.
void Expander::write_definition(const Stmt& stmt) {
  std::vector<std::string_view> arguments;
  const ScopeGuard scope(scopes_, true);
  for (std::uint32_t k = 0; k < stmt.params.size; ++k) {
    const Param& param = program_->params[stmt.params.begin + k];
    arguments.push_back(param.name);
    Symbol symbol = register_symbol(SymbolKind::QUBITS, param.name, 1, true);
    symbol.list = std::make_shared<const std::vector<PlainOperand>>(1, PlainOperand{param.name});
    declare(param.name, param.offset, std::move(symbol));
  }
  contexts_.emplace_back();
  writing_ = stmt.name;
  callees_[writing_].clear();
  phase_dependent_.erase(writing_);
  writer_.begin_definition(stmt.name, arguments);
  try {
    if (statements(stmt.body) != Flow::NEXT) fail_value(stmt.offset, std::string(MISPLACED_FLOW));
  } catch (...) {
    contexts_.pop_back();
    writing_ = {};
    throw;
  }
  contexts_.pop_back();
  writing_ = {};
  writer_.end_definition();
}

// ---------------------------------------------------------------- the standard libraries

// A gate of the standard libraries that the importer does not know by name (or, spelling
// every standard gate out, any of them): its definition is inlined. Both libraries are
// read, whichever the program includes, as programs written for one often use a gate or
// two of the other. A gate both define means what the language reference says, which is
// what stdgates.inc defines; qelib1.inc's u1 and p, say, are U(0, 0, λ) with OpenQASM 2's
// U, a phase away from p. OpenQASM 2's built-in CX is cx, as the reference has it
// (stdgates.inc writes it as ctrl @ U(π, 0, π), which with U's phase is a controlled iX).
std::optional<GateRef> Expander::library_gate(std::string_view name) {
  if (name == "CX") {
    note_native_called(*native_gate("cx"));
    if (!expand_library_gates_) return native_ref("cx");
    name = "cx";
  }
  load_libraries();
  const auto found = library_gates_.find(name);
  if (found == library_gates_.end()) return std::nullopt;
  found->second.called = true;
  return found->second.ref;
}

void Expander::note_native_called(const NativeGate& native) {
  natives_called_[static_cast<std::size_t>(&native - NATIVE_GATES.data())] = true;
}

bool Expander::called_as_library_gate(std::string_view name) {
  if (const NativeGate* native = native_gate(name)) {
    if (natives_called_[static_cast<std::size_t>(native - NATIVE_GATES.data())]) return true;
  }
  const auto found = library_gates_.find(name);
  return found != library_gates_.end() && found->second.called;
}

void Expander::load_libraries() {
  if (!libraries_.empty()) return;
  load_library("qelib1.inc");
  qelib1_ = libraries_.back().get();
  load_library("stdgates.inc");
}

// Whether a call in the body of a definition named as a gate of the libraries, at any
// depth, names it: that gate there, as the definition is not yet declared.
bool Expander::names_itself(const Stmt& definition) {
  load_libraries();
  if (native_gate(definition.name) == nullptr && !library_gates_.contains(definition.name)) {
    return false;
  }
  std::vector<Range> bodies{definition.body};
  while (!bodies.empty()) {
    const Range body = bodies.back();
    bodies.pop_back();
    for (std::uint32_t k = 0; k < body.size; ++k) {
      const Stmt& stmt = program_->stmts[program_->stmt_lists[body.begin + k]];
      if (stmt.kind == StmtKind::GATE_CALL && stmt.name == definition.name) return true;
      bodies.push_back(stmt.body);
      bodies.push_back(stmt.else_body);
    }
  }
  return false;
}

void Expander::load_library(std::string_view include_name) {
  const std::optional<std::string_view> source = library_source(include_name);
  if (!source) return;
  Program& library = *libraries_.emplace_back(std::make_unique<Program>(parse(*source)));
  library.origin = Origin::LIBRARY;
  for (std::uint32_t k = 0; k < library.top.size; ++k) {
    const NodeId id = library.stmt_lists[library.top.begin + k];
    const Stmt& stmt = library.stmts[id];
    if (stmt.kind != StmtKind::GATE_DEF) continue;
    const UCallRule* rule = nullptr;
    if (const std::optional<UCallRule> found = u_call_rule(library, stmt))
      rule = &u_call_rules_.emplace_back(*found);
    library_gates_[stmt.name].ref = GateRef{GateRef::Kind::INLINED,
                                            stmt.name,
                                            &library,
                                            id,
                                            static_cast<int>(stmt.angle_count),
                                            static_cast<int>(stmt.params.size - stmt.angle_count),
                                            rule};
  }
}

// ---------------------------------------------------------------- definitions inlined

// The body of a definition, applied to the call's qubits with the call's parameters;
// reversed and each statement inverted when the call is inverted.
void Expander::inline_body(Call& call, std::size_t offset) {
  DepthGuard guard(depth_);
  const Program* caller = program_;
  const Program& home = *call.gate.program;
  const Stmt& definition = home.stmts[call.gate.definition];
  const std::size_t control_count = call.states.size();
  std::vector<Call> collected;
  {
    program_ = &home;
    const ScopeGuard scope(scopes_, true);
    InlineContext context;
    context.states = call.states;
    context.controls.assign(call.qubits.begin(),
                            call.qubits.begin() + static_cast<std::ptrdiff_t>(control_count));
    context.collected = call.inverse ? &collected : nullptr;
    contexts_.push_back(std::move(context));
    try {
      bind_arguments(call, definition, control_count);
      if (statements(definition.body) != Flow::NEXT) {
        fail_value(definition.offset, std::string(MISPLACED_FLOW));
      }
    } catch (...) {
      contexts_.pop_back();
      program_ = caller;
      throw;
    }
    contexts_.pop_back();
    program_ = caller;
  }
  for (auto it = collected.rbegin(); it != collected.rend(); ++it) {
    it->inverse = !it->inverse;
    perform(*it, offset);
  }
}

void Expander::bind_arguments(const Call& call, const Stmt& definition, std::size_t control_count) {
  for (std::uint32_t k = 0; k < definition.params.size; ++k) {
    const Param& param = program_->params[definition.params.begin + k];
    Symbol symbol;
    if (k < definition.angle_count) {
      symbol.kind = SymbolKind::CLASSICAL;
      symbol.type = ScalarType{ScalarKind::FLOAT, std::nullopt};
      if (k < call.free.size() && call.free[k]) {
        symbol.free = as_float64(call.free[k]);
      } else {
        symbol.value = Value::floating(call.parameters[k]);
      }
    } else {
      symbol = register_symbol(SymbolKind::QUBITS, param.name, 1, true);
      symbol.list = std::make_shared<const std::vector<PlainOperand>>(
          1, call.qubits[control_count + k - definition.angle_count]);
    }
    declare(param.name, param.offset, std::move(symbol));
  }
}

// ---------------------------------------------------------------- nesting of definitions

// The importer expands a called definition's body and every definition it calls, and
// refuses cycles and nesting deeper than MAX_NESTING_DEPTH. Lowering refuses the same
// programs, so that whatever it returns imports.
void Expander::note_written_call(std::string_view callee, std::size_t offset) {
  if (writing_.empty()) {
    top_level_calls_.emplace_back(callee, in_library() ? outer_ : Place{program_, offset});
  } else {
    callees_[writing_].push_back(callee);
  }
}

// The importer's own rule, run on the calls alone: blocks of no records.
void Expander::check_definition_nesting() {
  DefinitionBlocks blocks;
  for (const auto& call : top_level_calls_) {
    placed_at(call.second, [&] { nest_definition(call.first, blocks); });
  }
}

void Expander::nest_definition(std::string_view name, DefinitionBlocks& blocks) const {
  blocks.block_of(name, [&](std::vector<QuantumGate>&) {
    const auto callees = callees_.find(name);
    if (callees == callees_.end()) return;
    for (const std::string_view callee : callees->second)
      nest_definition(callee, blocks);
  });
}

}  // namespace corvane::qasm3::detail::lower::expansion
