// The lowering front end's expander: a parsed program -> plain statements for the
// writer. Constants are folded, loops unrolled, parameterised gates inlined, modifiers
// resolved, broadcasts and slices spelled out.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "corvane/backend/qasm/qasm3.hpp"
#include "qasm/lower/include_files.hpp"
#include "qasm/lower/parser.hpp"
#include "qasm/lower/syntax.hpp"
#include "qasm/lower/write.hpp"

namespace corvane::qasm3::detail::lower {

// The default bound on the statements one lowering writes, loop passes and repetitions
// counted as statements too; past it, ValueError. It bounds the work that loops and
// definitions calling definitions can ask for; a long program has a higher bound
// (statement_bound in lower.hpp).
inline constexpr std::size_t MAX_LOWERED_STATEMENTS = 4'000'000;

// Hardware qubits `$0`, `$1`, ... are written as the elements of one register of this
// name, sized to the highest number used plus one; where the program names something
// so itself, the first of hw_1, hw_2, ... that it does not name.
inline constexpr std::string_view HARDWARE_REGISTER = "hw";

using InputValues = decltype(LowerOptions::inputs);

// Expands the program that `parser` reads into `writer`, one top-level statement at a
// time, writing at most `max_statements` (loop passes counted too). Errors carry their
// place in the program text. With `expand_library_gates`, every gate of the standard
// libraries is replaced by its definition, down to `U` and `gphase`. Files the program
// includes are looked for as `includes` says; with no place to look, none is read.
void expand(Parser& parser, const InputValues& inputs, StatementSink& writer,
            std::size_t max_statements = MAX_LOWERED_STATEMENTS, bool expand_library_gates = false,
            IncludeSearch includes = {});

// The numbers of free parameters' expressions for values of their inputs: each expression
// read and evaluated as lowering reads a gate parameter, in a program that declares the
// inputs (`declarations`: "input float[64] theta;" ...) and is given `values`, so that the
// number is the one lowering with those values gives. An input without a value stays free,
// and an expression that needs it raises ValueError naming it.
class ParameterValues {
 public:
  ParameterValues(std::string declarations, const InputValues& values);
  ParameterValues(const ParameterValues&) = delete;
  ParameterValues& operator=(const ParameterValues&) = delete;
  ~ParameterValues();
  double operator()(std::string_view expression);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace corvane::qasm3::detail::lower
