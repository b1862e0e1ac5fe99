// The safe evaluator of gate-parameter expressions: numbers, pi, parentheses and
// + - * / only; every other construct is parsed far enough to be rejected by kind.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::qasm3::detail {

// Evaluates one parameter text to a finite double (plain numbers take a fast path).
// SyntaxError for malformed text, ZeroDivisionError, OverflowError for an integer literal
// beyond the double range, ValueError for every construct outside the accepted language.
double eval_param(std::string_view expr);

// ------------------------------------------------------------------ expression tree
// Operator kinds, under the names that rejection messages show.
enum class OpKind : std::uint8_t {
  Add,
  Sub,
  Mult,
  MatMult,
  Div,
  Mod,
  Pow,
  LShift,
  RShift,
  BitOr,
  BitXor,
  BitAnd,
  FloorDiv,
  Invert,
  Not,
  UAdd,
  USub,
};
std::string_view op_kind_name(OpKind op) noexcept;

// Node kinds, under the names that rejection messages show. Only the first five are
// evaluated; the others are kept as leaves, since the evaluator never looks inside them.
enum class NodeKind : std::uint8_t {
  Expression,
  BinOp,
  UnaryOp,
  Name,
  Constant,
  BoolOp,
  NamedExpr,
  Lambda,
  IfExp,
  Dict,
  Set,
  ListComp,
  SetComp,
  DictComp,
  GeneratorExp,
  Await,
  Yield,
  YieldFrom,
  Compare,
  Call,
  JoinedStr,
  Attribute,
  Subscript,
  Starred,
  List,
  Tuple,
  Slice,
};
std::string_view node_kind_name(NodeKind kind) noexcept;

// What a Constant holds: a number (int, float or bool, already a double), an integer too
// large for a double, or a value of another type (shown by its literal form).
enum class ConstantKind : std::uint8_t { Number, HugeInt, Other };

using NodeId = std::uint32_t;
inline constexpr NodeId NO_NODE = UINT32_MAX;

struct ExprNode {
  NodeKind kind = NodeKind::Constant;
  OpKind op = OpKind::Add;  // BinOp, UnaryOp
  ConstantKind constant = ConstantKind::Number;
  bool assignable = false;  // may stand as a comprehension target
  NodeId left = NO_NODE;    // BinOp left, UnaryOp operand, Expression body
  NodeId right = NO_NODE;   // BinOp right
  double number = 0.0;      // Constant of kind Number
  std::uint32_t text = 0;   // Name id / Constant literal form, in texts
};

class ExprTree;

// A node together with the tree that owns it; what the visitor walks.
class NodeRef {
 public:
  NodeRef(const ExprTree& tree, NodeId id) : tree_(&tree), id_(id) {}
  [[nodiscard]] NodeKind kind() const noexcept;
  [[nodiscard]] OpKind op() const noexcept;
  [[nodiscard]] ConstantKind constant() const noexcept;
  [[nodiscard]] double number() const noexcept;
  [[nodiscard]] std::string_view text() const noexcept;  // Name id, Constant literal form
  [[nodiscard]] NodeRef left() const noexcept;
  [[nodiscard]] NodeRef right() const noexcept;
  [[nodiscard]] NodeRef operand() const noexcept { return left(); }
  [[nodiscard]] NodeRef body() const noexcept { return left(); }

 private:
  const ExprTree* tree_;
  NodeId id_;
};

// All nodes of one parsed expression in one array, so a chain of a million terms is built
// and dropped without recursion.
class ExprTree {
 public:
  NodeId add(const ExprNode& node);
  std::uint32_t add_text(std::string text);
  [[nodiscard]] const ExprNode& node(NodeId id) const { return nodes_[id]; }
  ExprNode& node(NodeId id) { return nodes_[id]; }
  [[nodiscard]] std::string_view text(std::uint32_t index) const { return texts_[index]; }
  [[nodiscard]] NodeRef root() const { return {*this, root_}; }
  void set_root(NodeId id) { root_ = id; }

 private:
  std::vector<ExprNode> nodes_;
  std::deque<std::string> texts_{std::string()};
  NodeId root_ = NO_NODE;
};

// Parses `text` (valid UTF-8, already trimmed) as one expression of Python's
// grammar; the root is an Expression node. SyntaxError when malformed.
ExprTree parse_expression(std::string_view text);

// ------------------------------------------------------------------ evaluator
// Walks a tree, computing + - * / on doubles and rejecting every other node kind, operator,
// name and literal with ValueError. An operator is checked before its operands, and a left
// operand is evaluated completely before the right one.
class SafeEval {
 public:
  using Names = std::map<std::string, double, std::less<>>;

  static constexpr std::array<OpKind, 4> ALLOWED_BINOPS{OpKind::Add, OpKind::Sub, OpKind::Mult,
                                                        OpKind::Div};
  static constexpr std::array<OpKind, 2> ALLOWED_UNARYOPS{OpKind::UAdd, OpKind::USub};

  // No names, or an empty map, means the single name pi.
  explicit SafeEval(std::optional<Names> names = std::nullopt);

  double visit(NodeRef node);
  double visit_Expression(NodeRef node);
  double visit_BinOp(NodeRef node);
  double visit_UnaryOp(NodeRef node);
  double visit_Name(NodeRef node);
  double visit_Constant(NodeRef node);
  [[noreturn]] static void generic_visit(NodeRef node);

  Names names;

 private:
  double visit_operator_chain(NodeRef node);
};

}  // namespace corvane::qasm3::detail
