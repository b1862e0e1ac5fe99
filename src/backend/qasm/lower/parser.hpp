// The lowering front end's parser: tokens -> the syntax tree of one program, by
// recursive descent over the grammar of OpenQASM 3 (and the register declarations of
// OpenQASM 2). Nesting of statements and expressions is bounded: past the bound the
// parse fails with RecursionError.
#pragma once

#include <cstddef>
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
