// The syntax tree of the lowering front end: what the parser builds and the expander
// walks. Nodes live in flat arrays of one Program and refer to each other by index, so
// a tree costs a few growing arrays rather than an allocation per node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "qasm/lower/values.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

using NodeId = std::uint32_t;
inline constexpr NodeId NO_NODE = std::numeric_limits<NodeId>::max();

// A stretch of one of the Program's list arrays.
struct Range {
  std::uint32_t begin = 0;
  std::uint32_t size = 0;
};

enum class ExprKind : unsigned char {
  INTEGER,         // text: the literal
  FLOAT,           // text: the literal
  BOOLEAN,         // text: "true" or "false"
  BIT_STRING,      // text: the literal with its quotes
  DURATION,        // text: the literal; only delays use it, and they are dropped
  IMAGINARY,       // text: the literal
  NAME,            // text: the name
  HARDWARE_QUBIT,  // text: "$3"
  UNARY,           // unary_op, left
  BINARY,          // binary_op, left, right
  CAST,            // type (right: its width, where not a literal), left
  CALL,            // text: the function name, items: arguments
  INDEX,           // left: what is indexed, items: one index (expression, RANGE or SET)
  RANGE,           // left: start, right: stop, step: step (each NO_NODE when omitted)
  SET,             // items: the elements
  CONCAT,          // left ++ right (register aliases)
  MEASURE,         // left: the measured operand
};

struct Expr {
  ExprKind kind = ExprKind::INTEGER;
  UnaryOp unary_op = UnaryOp::NEGATE;
  BinaryOp binary_op = BinaryOp::ADD;
  ScalarType type;
  std::size_t offset = 0;
  std::string_view text;
  NodeId left = NO_NODE;
  NodeId right = NO_NODE;
  NodeId step = NO_NODE;
  Range items;  // into Program::expr_lists
};

enum class ModifierKind : unsigned char { INV, POW, CTRL, NEGCTRL };

struct Modifier {
  ModifierKind kind = ModifierKind::CTRL;
  NodeId argument = NO_NODE;  // pow's exponent, ctrl's count (NO_NODE: one)
  std::size_t offset = 0;
};

// A parameter of a gate or subroutine definition.
enum class ParamKind : unsigned char { ANGLE, QUBIT, CLASSICAL };
struct Param {
  ParamKind kind = ParamKind::ANGLE;
  ScalarType type;        // CLASSICAL: the declared type
  NodeId size = NO_NODE;  // QUBIT: the register size (NO_NODE: one qubit); CLASSICAL:
                          // the type's width, where not a literal
  std::string_view name;
  std::size_t offset = 0;
};

enum class StmtKind : unsigned char {
  VERSION,         // text: the version number
  INCLUDE,         // text: the file name without quotes
  QUBIT_DECL,      // name, size (NO_NODE: scalar)
  BIT_DECL,        // name, size or type.width (neither: scalar), value (NO_NODE: none)
  CLASSICAL_DECL,  // name, type, value (NO_NODE: none), is_const, is_input
                   // (size: the type's width, where not a literal; so for FOR and
                   // SUBROUTINE_DEF too)
  ASSIGNMENT,      // target, assign_op ("=" / "+=" / ...), value
  GATE_CALL,       // name, modifiers, args, operands
  MEASURE,         // operands: the measured operand; target (NO_NODE: discarded)
  RESET,           // operands
  BARRIER,         // operands (dropped)
  DELAY,           // (dropped)
  NOP,             // (dropped)
  TIMING_DECL,     // name, value (NO_NODE: none): a duration or stretch, for delays only
  GATE_DEF,        // name, params (angles, then qubits), body
  SUBROUTINE_DEF,  // name, params, body, type (the return type, has_return_type)
  FOR,             // name, type, value (the iterable), body
  IF,              // value (the condition), body, else_body
  WHILE,           // value (the condition), body
  SWITCH,          // value (the controlling value), body (its SWITCH_CASE items)
  SWITCH_CASE,     // args: the labels (none: `default`), body
  BREAK,
  CONTINUE,
  RETURN,  // value (NO_NODE: none)
  END,
  BLOCK,        // body (a scope, or a box's body)
  ALIAS,        // name, value
  EXPRESSION,   // value
  UNSUPPORTED,  // text: the construct, refused with NotImplementedError
};

struct Stmt {
  StmtKind kind = StmtKind::NOP;
  bool is_const = false;
  bool is_input = false;
  bool has_return_type = false;
  bool has_args = false;  // GATE_CALL: a parameter list was written, perhaps empty
  ScalarType type;
  std::size_t offset = 0;
  std::string_view name;
  std::string_view text;
  NodeId size = NO_NODE;
  NodeId value = NO_NODE;
  NodeId target = NO_NODE;
  Range modifiers;                // into Program::modifiers
  Range args;                     // into Program::expr_lists
  Range operands;                 // into Program::expr_lists
  Range params;                   // into Program::params
  Range body;                     // into Program::stmt_lists
  Range else_body;                // into Program::stmt_lists
  std::uint32_t angle_count = 0;  // GATE_DEF: how many of params are angles
};

// Where a parsed text comes from: the program being lowered, a file that it includes, or
// a standard library compiled in.
enum class Origin : unsigned char { PROGRAM, INCLUDED, LIBRARY };

// A parsed program. The strings it refers to are those of `text`, which must outlive it.
struct Program {
  std::string_view text;
  Origin origin = Origin::PROGRAM;
  std::string_view file;  // INCLUDED: the path it was read from
  std::vector<Expr> exprs;
  std::vector<NodeId> expr_lists;
  std::vector<Stmt> stmts;
  std::vector<NodeId> stmt_lists;
  std::vector<Modifier> modifiers;
  std::vector<Param> params;
  Range top;  // the top-level statements, into stmt_lists

  const Expr& expr(NodeId id) const { return exprs[id]; }
  const Stmt& stmt(NodeId id) const { return stmts[id]; }
  const NodeId* list(Range r) const { return expr_lists.data() + r.begin; }
};

}  // namespace corvane::qasm3::detail::lower
