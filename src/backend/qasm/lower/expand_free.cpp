// The expander's inputs given no value: a float or angle input stays free, and a gate
// parameter that depends on it is kept as an expression over its name
// (free_parameters.hpp); anything else that needs its value refuses the program, naming
// the input where the value is needed.
#include <cmath>
#include <limits>

#include "qasm/lower/expander.hpp"

namespace corvane::qasm3::detail::lower::expansion {

// Any other input decides what lowering does with its value (a count, a condition, a
// size), which is not there.
void Expander::declare_free_input(const Stmt& stmt, const ScalarType& type, Symbol& symbol) {
  if (type.kind != ScalarKind::FLOAT && type.kind != ScalarKind::ANGLE) {
    fail_value(stmt.offset, no_value_message(stmt.name));
  }
  symbol.free = free_input(stmt.name, type);
  free_inputs_.emplace_back(stmt.name, type);
}

bool Expander::names_free(NodeId id) {
  const Expr& node = expr(id);
  if (node.kind == ExprKind::NAME) {
    const Symbol* symbol = lookup(node.text);
    return symbol != nullptr && symbol->kind == SymbolKind::CLASSICAL && symbol->free != nullptr;
  }
  for (const NodeId child : {node.left, node.right, node.step}) {
    if (child != NO_NODE && names_free(child)) return true;
  }
  for (const NodeId item : list(node.items)) {
    if (names_free(item)) return true;
  }
  return false;
}

// The expression's value, or its normal form where it names a free input: built bottom up
// in one pass, each operation applied as evaluate() applies it. What it cannot keep as an
// expression is evaluated, which names the free input where it needs the value.
FreeTerm Expander::free_term(NodeId id) {
  const Expr& node = expr(id);
  return placed(node.offset, [&] { return free_term_node(node, id); });
}

FreeTerm Expander::free_term_node(const Expr& node, NodeId id) {
  switch (node.kind) {
    case ExprKind::NAME:
      if (const Symbol* symbol = lookup(node.text); symbol != nullptr && symbol->free) {
        return FreeTerm{std::nullopt, symbol->free};
      }
      break;
    case ExprKind::UNARY:
      return folded(node.unary_op, free_term(node.left));
    case ExprKind::BINARY:
      return free_binary_term(node);
    case ExprKind::CAST: {
      const ScalarType type = resolved_type(node.type, node.right);
      const FreeTerm operand = free_term(node.left);
      if (operand.value) return known_term(cast_to(type, *operand.value));
      return FreeTerm{std::nullopt, free_cast(type, operand)};
    }
    case ExprKind::CALL:
      if (lookup(node.text) == nullptr && is_builtin_function(node.text)) {
        std::vector<FreeTerm> arguments;
        bool known = true;
        for (const NodeId argument : list(node.items)) {
          arguments.push_back(free_term(argument));
          known = known && arguments.back().value.has_value();
        }
        if (!known) return FreeTerm{std::nullopt, free_call(node.text, arguments)};
        std::vector<Value> values;
        for (const FreeTerm& argument : arguments)
          values.push_back(*argument.value);
        return known_term(call_builtin(node.text, values));
      }
      break;
    default:
      break;
  }
  return known_term(evaluate(id));
}

// As binary_value evaluates it: `&&` and `||` decided by a known left side, OpenQASM 2's
// real division.
FreeTerm Expander::free_binary_term(const Expr& node) {
  FreeTerm left = free_term(node.left);
  if (left.value && node.binary_op == BinaryOp::LOGICAL_AND && !left.value->as_bool())
    return known_term(Value::boolean(false));
  if (left.value && node.binary_op == BinaryOp::LOGICAL_OR && left.value->as_bool())
    return known_term(Value::boolean(true));
  if (openqasm2_ && node.binary_op == BinaryOp::DIVIDE) {
    left = left.value ? known_term(Value::floating(left.value->as_double()))
                      : FreeTerm{std::nullopt, free_cast({ScalarKind::FLOAT, std::nullopt}, left)};
  }
  return folded(node.binary_op, left, free_term(node.right));
}

void Expander::add_parameter(Call& call, NodeId argument) {
  if (!names_free(argument)) {
    call.parameters.push_back(parameter(argument));
    if (!call.free.empty()) call.free.emplace_back();
    return;
  }
  const FreeTerm term = free_term(argument);
  call.free.resize(call.parameters.size());
  if (term.value) {  // decided without the free input's value (`false && theta`)
    call.parameters.push_back(parameter_number(*term.value, expr(argument).offset));
    call.free.emplace_back();
    return;
  }
  call.parameters.push_back(std::numeric_limits<double>::quiet_NaN());
  call.free.push_back(term.free);
}

void Expander::fail_free(const Call& call, std::size_t offset, const std::string& why) const {
  const auto free = std::find_if(call.free.begin(), call.free.end(),
                                 [](const FreeRef& entry) { return entry != nullptr; });
  fail_value(offset, no_value_message((*free)->inputs.front()) + ": " + why);
}

bool Expander::scale_free_power(Call& call, std::span<const double> powers) {
  if (call.free.empty() || !call.free[0]) return false;
  for (const double exponent : powers)
    call.free[0] = scaled(call.free[0], exponent);
  return true;
}

// A phase on no control, where nothing observes it, is left out whatever its value; on
// controls, a phase of 0 is left out and any other written, which the value decides.
void Expander::perform_free_phase(const Call& on_controls_of, const FreeTerm& angle,
                                  std::size_t offset) {
  if (angle.value) {
    perform_phase(on_controls_of, angle.value->as_double(), offset);
    return;
  }
  if (on_controls_of.states.empty() && !expand_library_gates_) {
    note_phase_left_out();
    return;
  }
  fail_free(on_controls_of, offset, "whether the phase on its controls is written depends on it");
}

FreeTerm Expander::parameter_term(const Call& call, std::size_t k) const {
  if (k < call.free.size() && call.free[k]) return FreeTerm{std::nullopt, as_float64(call.free[k])};
  return known_term(Value::floating(call.parameters[k]));
}

void Expander::note_free_inputs(const Call& call) {
  free_texts_.assign(call.free.size(), std::string_view());
  for (std::size_t k = 0; k < call.free.size(); ++k) {
    if (!call.free[k]) continue;
    free_texts_[k] = call.free[k]->text;
    for (const std::string& input : call.free[k]->inputs) {
      if (!used_free_inputs_.contains(input)) used_free_inputs_.insert(input);
    }
  }
}

// A float input's type is written with its width, so that whoever declares it again
// declares the same double.
void Expander::report_free_inputs() {
  std::vector<FreeInput> used;
  for (const auto& [name, type] : free_inputs_) {
    if (!used_free_inputs_.contains(name)) continue;
    const bool float64 = type.kind == ScalarKind::FLOAT && !type.width;
    used.push_back(FreeInput{std::string(name), float64 ? "float[64]" : type_name(type)});
  }
  if (!used.empty()) writer_.free_inputs(used);
}

double Expander::parameter_value(std::string_view text) {
  validate_utf8(text);
  ParsedExpression parsed = parse_expression(text, false);
  parsed.program.origin = Origin::LIBRARY;  // placed nowhere
  return in_program(parsed.program, [&] {
    return parameter_number(evaluate(parsed.root), parsed.program.exprs[parsed.root].offset);
  });
}

}  // namespace corvane::qasm3::detail::lower::expansion
