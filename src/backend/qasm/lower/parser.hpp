// The lowering front end's parser: tokens -> the syntax tree of one program, by
// recursive descent over the grammar of OpenQASM 3 (and the register declarations of
// OpenQASM 2). Nesting of statements and expressions is bounded: past the bound the
// parse fails with RecursionError.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "qasm/lower/syntax.hpp"

namespace corvane::qasm3::detail::lower {

// One expression read from a text of its own, a value given from outside the program:
// the nodes in `program` (`top` empty), the expression's own node `root`.
struct ParsedExpression {
  Program program;
  NodeId root = NO_NODE;
};

// A statement of the commonest shapes of long programs, read from its tokens without
// building nodes:
//   CALL     name r[i], s[j], ...;  or  name(numbers) r[i], ...;  after any `ctrl @` and
//            `negctrl @` without counts
//   MEASURE  measure r[i] -> s[j];
// Numbers are integer or float literals, each perhaps negated; indices are integer
// literals. Registers are names the general parse would read as names too.
struct QuickNumber {
  std::string_view text;
  bool is_float = false;
  bool negated = false;
};
struct QuickOperand {
  std::string_view name;
  std::string_view index;
};
struct QuickStatement {
  static constexpr std::size_t MOST = 4;  // parameters, and operands, at most
  enum class Kind : unsigned char { CALL, MEASURE } kind = Kind::CALL;
  std::string_view name;  // CALL: the gate's
  std::size_t offset = 0;
  bool has_parameters = false;    // CALL: written with parentheses, perhaps empty
  std::size_t control_count = 0;  // CALL: its modifiers
  std::size_t parameter_count = 0;
  std::size_t operand_count = 0;              // MEASURE: the qubit, then the bit
  std::array<std::uint8_t, MOST> controls{};  // 1: ctrl, 0: negctrl
  std::array<QuickNumber, MOST> parameters;
  std::array<QuickOperand, MOST> operands;
  std::size_t tokens = 0;  // its tokens, `;` included
};

// Reads a program one top-level statement at a time, so that a long program need not be
// held whole: the nodes of a statement that is no longer needed can be dropped. Raises
// ValueError for text that is not a program and NotImplementedError for constructs the
// front end does not lower (pulse-level code, `extern`, `opaque`, ...); each error
// carries its place in the text. The text must be valid UTF-8 and outlive the parser and
// its program.
class Parser {
 public:
  explicit Parser(std::string_view text);
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
  ~Parser();

  // The next top-level statement, or NO_NODE at the end of the text.
  NodeId next_statement();
  // Whether the next top-level statement has one of the quick shapes; if so `quick` holds
  // it, still to be read: take_quick reads past it, or next_statement reads it in full.
  bool peek_quick(QuickStatement& quick);
  void take_quick(const QuickStatement& quick);
  // The nodes read so far (`top` stays empty).
  const Program& program() const;

  // The sizes of the node arrays: the nodes read after marks() are dropped by drop_since.
  struct Marks {
    std::size_t exprs, expr_lists, stmts, stmt_lists, modifiers, params;
  };
  Marks marks() const;
  void drop_since(const Marks& marks);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
  friend Program parse(std::string_view text, bool openqasm2);
  friend ParsedExpression parse_expression(std::string_view text, bool openqasm2);
};

// Parses the whole of `text`, its top-level statements listed in `top`. With `openqasm2`,
// the text is read as OpenQASM 2 from its start, as a file included by such a program is.
Program parse(std::string_view text, bool openqasm2 = false);

// Parses the whole of `text` as one expression; ValueError with its place in `text` for
// anything else, an empty text or more after the expression included.
ParsedExpression parse_expression(std::string_view text, bool openqasm2 = false);

}  // namespace corvane::qasm3::detail::lower
