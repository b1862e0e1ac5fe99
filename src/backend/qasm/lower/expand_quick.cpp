// The expander's quick statements: the commonest statements of long programs (a call of a
// gate by name with number parameters on indexed qubits, a measurement of one qubit into
// one bit) lowered from their tokens (Parser::peek_quick), with the plain statements the
// general path writes for them. Whatever the general path would treat otherwise, errors
// included, is left to it: a quick statement is taken only once it is known to succeed.
#include <algorithm>
#include <cmath>

#include "qasm/lower/expander.hpp"

namespace corvane::qasm3::detail::lower::expansion {

namespace {

// The magnitude up to which a quick call's parameters are taken: a library gate's phases,
// sums and multiples of them, then stay finite (u_call_rule).
constexpr double QUICK_PARAMETER_BOUND = 0x1p1000;
constexpr double BOUNDED_PHASE = 0x1p1020;

// The number a literal, perhaps negated, evaluates to as a gate parameter: an integer
// negated as an integer (-0 is 0), a float as a float. Nothing where the general path
// reads it otherwise or fails.
std::optional<double> quick_value(const QuickNumber& number) {
  if (number.is_float) {
    const std::optional<double> value = read_float(number.text);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return number.negated ? -*value : *value;
  }
  const std::optional<std::int64_t> value = read_short_decimal(number.text);
  if (!value) return std::nullopt;
  return static_cast<double>(number.negated ? -*value : *value);
}

// The natives a call of which the general path lowers otherwise than as itself: gphase
// the program writes, cu with its phase, unitary with its matrix.
bool lowered_otherwise(const GateRef& gate) {
  return gate.angles < 0 || gate.name == "gphase" || gate.name == "cu";
}

}  // namespace

// Outside definitions and before `end;`, where the general path would lower the
// statement with no context around it.
bool Expander::quick_statement() {
  if (ended_ || expand_library_gates_ || !parser_.peek_quick(quick_)) return false;
  return quick_.kind == QuickStatement::Kind::CALL ? quick_call() : quick_measure();
}

// At top level a name stands for the same gate until something is declared.
const std::optional<GateRef>& Expander::quick_gate(std::string_view name) {
  RecentGate& recent = recent_gates_[NameHash{}(name) % recent_gates_.size()];
  if (recent.declarations != declarations_ || !same_text(recent.name, name)) {
    recent = RecentGate{name, find_gate(name), declarations_};
  }
  return recent.gate;
}

bool Expander::quick_call() {
  const std::optional<GateRef>& gate = quick_gate(quick_.name);
  if (!gate || !quick_parameters()) return false;
  const std::size_t controls = quick_.control_count;
  if (static_cast<int>(quick_.parameter_count) != gate->angles || gate->qubits < 0 ||
      quick_.operand_count != controls + static_cast<std::size_t>(gate->qubits)) {
    return false;
  }
  PlainCall plain{{}, gate->name, quick_.has_parameters, {}, {}, false};
  std::array<double, 3> angles{};
  std::copy_n(quick_.controls.begin(), controls, quick_states_.begin());
  std::size_t states = controls;
  switch (gate->kind) {
    case GateRef::Kind::NATIVE:
      // U alone drops a global phase that nothing observes at top level; under controls
      // it would not.
      if (lowered_otherwise(*gate) || (controls > 0 && gate->name == "U")) return false;
      plain.parameters = {quick_values_.data(), quick_.parameter_count};
      if (const auto spelled =
              controls > 0 ? spell_out_compact_controls(gate->name, controls) : std::nullopt) {
        plain.name = spelled->name;
        if (states + spelled->own_controls > quick_states_.size()) return false;
        std::fill_n(quick_states_.begin() + static_cast<std::ptrdiff_t>(states),
                    spelled->own_controls, 1);
        states += spelled->own_controls;
      }
      break;
    case GateRef::Kind::WRITTEN:
      if (gate->program == nullptr) return false;  // defined further down
      // Under controls a body with a phase is inlined, and a name that holds controls of
      // its own is spelled out.
      if (controls > 0 && (phase_dependent_.contains(gate->name) ||
                           spell_out_compact_controls(gate->name, controls))) {
        return false;
      }
      plain.definition = true;
      break;
    case GateRef::Kind::INLINED: {
      const UCallRule* rule = gate->u_call;
      if (rule == nullptr || controls > 0) return false;
      for (std::size_t k = 0; k < quick_.parameter_count; ++k) {
        if (std::fabs(quick_values_[k]) > QUICK_PARAMETER_BOUND) return false;
      }
      for (std::size_t k = 0; k < angles.size(); ++k) {
        const int from = rule->parameter[k];
        angles[k] = from >= 0 ? quick_values_[static_cast<std::size_t>(from)] : rule->constant[k];
      }
      plain.name = native_ref("U").name;
      plain.has_parameters = true;
      plain.parameters = angles;
      break;
    }
  }
  for (std::size_t k = 0; k < quick_.operand_count; ++k) {
    if (!quick_operand(quick_.operands[k], SymbolKind::QUBITS, quick_operands_[k])) return false;
  }
  plain.operands = {quick_operands_.data(), quick_.operand_count};
  plain.controls = {quick_states_.data(), states};
  if (repeated_qubit(plain.operands) != nullptr) return false;

  parser_.take_quick(quick_);
  const std::size_t offset = quick_.offset;
  outer_ = Place{program_, offset};
  placed(offset, [&] {
    count_statement(offset);
    if (plain.definition) note_written_call(plain.name, offset);
    writer_.call(plain);
  });
  return true;
}

bool Expander::quick_measure() {
  PlainOperand qubit;
  PlainOperand bit;
  if (!quick_operand(quick_.operands[0], SymbolKind::QUBITS, qubit) ||
      !quick_operand(quick_.operands[1], SymbolKind::BITS, bit)) {
    return false;
  }
  parser_.take_quick(quick_);
  const std::size_t offset = quick_.offset;
  outer_ = Place{program_, offset};
  placed(offset, [&] { emit_measure(qubit, bit, offset); });
  return true;
}

bool Expander::quick_parameters() {
  for (std::size_t k = 0; k < quick_.parameter_count; ++k) {
    const std::optional<double> value = quick_value(quick_.parameters[k]);
    if (!value) return false;
    quick_values_[k] = *value;
  }
  return true;
}

// An element of a declared register of `kind`, within its size.
bool Expander::quick_operand(const QuickOperand& operand, SymbolKind kind, PlainOperand& into) {
  // Most operands name the register the one before named.
  if (quick_register_.declarations != declarations_ ||
      !same_text(quick_register_.name, operand.name)) {
    quick_register_ = RecentLookup{operand.name, lookup(operand.name), declarations_};
  }
  const Symbol* symbol = quick_register_.symbol;
  if (symbol == nullptr || symbol->kind != kind || symbol->list || symbol->scalar) return false;
  const std::optional<std::int64_t> index = read_short_decimal(operand.index);
  if (!index || *index >= symbol->size) return false;
  into = PlainOperand{symbol->register_name, *index};
  return true;
}

// ---------------------------------------------------------------- rules of library gates

// The rule of `definition`, read from its body in the library, where names mean what
// they mean in its bodies (the built-in constants, the native U and gphase): calls of
// gphase whose angle stays finite for parameters up to QUICK_PARAMETER_BOUND, and one
// call of U on the gate's qubit, each angle a parameter or a constant.
std::optional<UCallRule> Expander::u_call_rule(const Program& library, const Stmt& definition) {
  if (definition.params.size != definition.angle_count + 1) return std::nullopt;
  const std::string_view qubit =
      library.params[definition.params.begin + definition.angle_count].name;
  const ProgramGuard in_library(program_, library);
  const ScopeGuard scope(scopes_, true);
  std::optional<UCallRule> rule;
  try {
    for (std::uint32_t k = 0; k < definition.body.size; ++k) {
      const Stmt& stmt = library.stmts[library.stmt_lists[definition.body.begin + k]];
      if (stmt.kind != StmtKind::GATE_CALL || stmt.modifiers.size != 0) return std::nullopt;
      const NodeId* args = library.list(stmt.args);
      if (stmt.name == "gphase" && stmt.args.size == 1 && stmt.operands.size == 0) {
        const std::optional<double> bound = magnitude_bound(definition, args[0]);
        if (!bound || !(*bound <= BOUNDED_PHASE)) return std::nullopt;
        continue;
      }
      if (stmt.name != "U" || rule || stmt.args.size != 3 || stmt.operands.size != 1) {
        return std::nullopt;
      }
      const Expr& operand = library.expr(library.list(stmt.operands)[0]);
      if (operand.kind != ExprKind::NAME || operand.text != qubit) return std::nullopt;
      rule.emplace();
      for (std::size_t a = 0; a < 3; ++a) {
        const Expr& angle = library.expr(args[a]);
        for (std::uint32_t p = 0; p < definition.angle_count; ++p) {
          if (angle.kind == ExprKind::NAME &&
              angle.text == library.params[definition.params.begin + p].name) {
            rule->parameter[a] = static_cast<int>(p);
          }
        }
        if (rule->parameter[a] >= 0) continue;
        if (!is_constant(args[a])) return std::nullopt;
        rule->constant[a] = parameter(args[a]);
      }
    }
  } catch (const Error&) {
    return std::nullopt;
  }
  return rule;
}

// The largest magnitude the expression `id` of the definition's body takes when each of
// its parameters is at most QUICK_PARAMETER_BOUND in magnitude; nothing where no bound
// is known.
std::optional<double> Expander::magnitude_bound(const Stmt& definition, NodeId id) {
  if (is_constant(id)) return std::fabs(parameter(id));
  const Expr& node = expr(id);
  if (node.kind == ExprKind::NAME) {
    for (std::uint32_t p = 0; p < definition.angle_count; ++p) {
      if (node.text == program_->params[definition.params.begin + p].name)
        return QUICK_PARAMETER_BOUND;
    }
    return std::nullopt;
  }
  if (node.kind == ExprKind::UNARY && node.unary_op == UnaryOp::NEGATE) {
    return magnitude_bound(definition, node.left);
  }
  if (node.kind != ExprKind::BINARY) return std::nullopt;
  const std::optional<double> left = magnitude_bound(definition, node.left);
  const std::optional<double> right = magnitude_bound(definition, node.right);
  if (!left || !right) return std::nullopt;
  switch (node.binary_op) {
    case BinaryOp::ADD:
    case BinaryOp::SUBTRACT:
      return *left + *right;
    case BinaryOp::MULTIPLY:
      return *left * *right;
    case BinaryOp::DIVIDE:
      // By a constant of magnitude 1 at least, which cannot make a quotient grow.
      if (is_constant(node.right) && *right >= 1) return *left / *right;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace corvane::qasm3::detail::lower::expansion
