// The evaluator proper: node and operator names, the tree, the visitor and the entry point.
// The parser that builds trees is in qasm3_eval_parse.cpp.
#include "qasm/import/qasm3_eval.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {

std::string_view op_kind_name(OpKind op) noexcept {
  static constexpr std::array<std::string_view, 17> NAMES{
      "Add",   "Sub",    "Mult",   "MatMult",  "Div",    "Mod", "Pow",  "LShift", "RShift",
      "BitOr", "BitXor", "BitAnd", "FloorDiv", "Invert", "Not", "UAdd", "USub"};
  return NAMES[static_cast<std::size_t>(op)];
}

std::string_view node_kind_name(NodeKind kind) noexcept {
  static constexpr std::array<std::string_view, 27> NAMES{
      "Expression",   "BinOp",     "UnaryOp", "Name",      "Constant", "BoolOp",  "NamedExpr",
      "Lambda",       "IfExp",     "Dict",    "Set",       "ListComp", "SetComp", "DictComp",
      "GeneratorExp", "Await",     "Yield",   "YieldFrom", "Compare",  "Call",    "JoinedStr",
      "Attribute",    "Subscript", "Starred", "List",      "Tuple",    "Slice"};
  return NAMES[static_cast<std::size_t>(kind)];
}

// ------------------------------------------------------------------ tree

NodeKind NodeRef::kind() const noexcept {
  return tree_->node(id_).kind;
}
OpKind NodeRef::op() const noexcept {
  return tree_->node(id_).op;
}
ConstantKind NodeRef::constant() const noexcept {
  return tree_->node(id_).constant;
}
double NodeRef::number() const noexcept {
  return tree_->node(id_).number;
}
std::string_view NodeRef::text() const noexcept {
  return tree_->text(tree_->node(id_).text);
}
NodeRef NodeRef::left() const noexcept {
  return {*tree_, tree_->node(id_).left};
}
NodeRef NodeRef::right() const noexcept {
  return {*tree_, tree_->node(id_).right};
}

NodeId ExprTree::add(const ExprNode& node) {
  nodes_.push_back(node);
  return static_cast<NodeId>(nodes_.size() - 1);
}

std::uint32_t ExprTree::add_text(std::string text) {
  texts_.push_back(std::move(text));
  return static_cast<std::uint32_t>(texts_.size() - 1);
}

// ------------------------------------------------------------------ evaluator

namespace {

template <std::size_t N>
bool allowed(const std::array<OpKind, N>& set, OpKind op) {
  return std::find(set.begin(), set.end(), op) != set.end();
}

void check_binop(OpKind op) {
  if (!allowed(SafeEval::ALLOWED_BINOPS, op)) {
    raise_value_error("Unsupported binary operator: " + std::string(op_kind_name(op)));
  }
}

void check_unaryop(OpKind op) {
  if (!allowed(SafeEval::ALLOWED_UNARYOPS, op)) {
    raise_value_error("Unsupported unary operator: " + std::string(op_kind_name(op)));
  }
}

double apply_binop(OpKind op, double left, double right) {
  switch (op) {
    case OpKind::Add:
      return left + right;
    case OpKind::Sub:
      return left - right;
    case OpKind::Mult:
      return left * right;
    default:
      // Div: Python's float division refuses every zero divisor, -0.0 included.
      if (right == 0.0) raise_zero_division("float division by zero");
      return left / right;
  }
}

}  // namespace

SafeEval::SafeEval(std::optional<Names> names_in) {
  if (names_in && !names_in->empty()) {
    names = std::move(*names_in);
  } else {
    names.emplace("pi", std::numbers::pi);
  }
}

double SafeEval::visit(NodeRef node) {
  switch (node.kind()) {
    case NodeKind::Expression:
      return visit_Expression(node);
    case NodeKind::BinOp:
      return visit_BinOp(node);
    case NodeKind::UnaryOp:
      return visit_UnaryOp(node);
    case NodeKind::Name:
      return visit_Name(node);
    case NodeKind::Constant:
      return visit_Constant(node);
    default:
      generic_visit(node);
  }
}

double SafeEval::visit_Expression(NodeRef node) {
  return visit(node.body());
}

double SafeEval::visit_BinOp(NodeRef node) {
  return visit_operator_chain(node);
}

double SafeEval::visit_UnaryOp(NodeRef node) {
  return visit_operator_chain(node);
}

// Walks the left spine of operators ("1+1+...+1", "--x") in a loop rather than by recursion,
// so chains of any length evaluate on a small stack. Checks and evaluations happen in the
// order of the recursive walk: each operator on the way down before anything below it, then
// the innermost left operand, then the right operands from the bottom up.
double SafeEval::visit_operator_chain(NodeRef node) {
  std::vector<NodeRef> spine;
  NodeRef current = node;
  for (;;) {
    if (current.kind() == NodeKind::BinOp) {
      check_binop(current.op());
    } else if (current.kind() == NodeKind::UnaryOp) {
      check_unaryop(current.op());
    } else {
      break;
    }
    spine.push_back(current);
    current = current.left();
  }
  double value = visit(current);
  for (auto it = spine.rbegin(); it != spine.rend(); ++it) {
    if (it->kind() == NodeKind::UnaryOp) {
      value = it->op() == OpKind::USub ? -value : +value;
    } else {
      value = apply_binop(it->op(), value, visit(it->right()));
    }
  }
  return value;
}

double SafeEval::visit_Name(NodeRef node) {
  const auto found = names.find(node.text());
  if (found == names.end()) {
    raise_value_error("Unknown name in expression: " + std::string(node.text()));
  }
  return found->second;
}

double SafeEval::visit_Constant(NodeRef node) {
  switch (node.constant()) {
    case ConstantKind::Number:
      return node.number();
    case ConstantKind::HugeInt:
      raise_overflow("int too large to convert to float");
    default:
      raise_value_error("Unsupported constant: " + std::string(node.text()));
  }
}

void SafeEval::generic_visit(NodeRef node) {
  raise_value_error("Unsupported expression node: " + std::string(node_kind_name(node.kind())));
}

// ------------------------------------------------------------------ entry point

namespace {

// Everything that is not a plain number: parse, then walk with the default names.
double evaluate_expression(std::string_view text) {
  const ExprTree tree = parse_expression(text);
  return SafeEval().visit(tree.root());
}

}  // namespace

double eval_param(std::string_view expr) {
  const std::string_view text = trim(expr);
  const std::optional<double> plain = read_float(text);
  const double value = plain ? *plain : evaluate_expression(text);
  if (!std::isfinite(value)) {
    raise_value_error("QASM gate parameter must be finite; got " + quoted(text));
  }
  return value;
}

}  // namespace corvane::qasm3::detail
