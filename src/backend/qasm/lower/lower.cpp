// The lowering front end's entry points: text -> tokens -> tree -> plain statements -> text
// (lower_qasm3) or records (lower_to_gate_sequence).
#include "qasm/lower/lower.hpp"

#include <algorithm>

#include "qasm/lower/build.hpp"
#include "qasm/lower/expand.hpp"
#include "qasm/lower/parser.hpp"
#include "qasm/lower/write.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

namespace {

// Lowered statements allowed for each statement of the program: room for every gate of a
// program to be spelled out several times over, while a loop or power that asks for
// millions per statement still stops.
constexpr std::size_t LOWERED_PER_STATEMENT = 16;

std::size_t bound_for(std::size_t statements, const LowerOptions& options) {
  if (options.max_statements != 0) return options.max_statements;
  return std::max(MAX_LOWERED_STATEMENTS, LOWERED_PER_STATEMENT * statements);
}

}  // namespace

// The `;`s between one `/` and the next are counted in one loop, which the compiler
// vectorises: a long program is counted in a small part of the time it takes to read.
std::size_t count_statements(std::string_view program) {
  std::size_t count = 0;
  std::size_t at = 0;
  while (at < program.size()) {
    const std::size_t slash = program.find('/', at);
    const std::size_t stop = slash == std::string_view::npos ? program.size() : slash;
    for (std::size_t k = at; k < stop; ++k)
      count += program[k] == ';' ? 1 : 0;
    if (slash == std::string_view::npos) break;
    const char next = slash + 1 < program.size() ? program[slash + 1] : '\0';
    if (next == '/' || next == '*') {
      const std::size_t end = program.find(next == '/' ? "\n" : "*/", slash + 2);
      if (end == std::string_view::npos) break;
      at = end + (next == '/' ? 1 : 2);
    } else {
      at = slash + 1;
    }
  }
  return count;
}

std::size_t statement_bound(std::string_view program, const LowerOptions& options) {
  return bound_for(count_statements(program), options);
}

namespace {

// The program without what is no part of it; ValueError for text that is not UTF-8.
std::string_view program_text(std::string_view program) {
  validate_utf8(program);
  // Editors on some systems start a UTF-8 file with a byte-order mark.
  constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
  if (program.starts_with(BYTE_ORDER_MARK)) program.remove_prefix(BYTE_ORDER_MARK.size());
  return program;
}

void lower_into(std::string_view program, const LowerOptions& options, std::size_t max_statements,
                StatementSink& sink) {
  Parser parser(program);
  expand(parser, options.inputs, sink, max_statements, options.expand_library_gates,
         {.program_path = options.source_path, .folders = options.include_paths});
}

}  // namespace

std::string lower_program(std::string_view program, const LowerOptions& options,
                          std::size_t max_statements) {
  program = program_text(program);
  // A program that needs little lowering comes out about as long as it went in.
  Writer writer(program.size() + program.size() / 8);
  lower_into(program, options, max_statements, writer);
  return writer.take();
}

}  // namespace corvane::qasm3::detail::lower

namespace corvane::qasm3 {

std::string lower_qasm3(std::string_view program, const LowerOptions& options) {
  return detail::lower::lower_program(program, options,
                                      detail::lower::statement_bound(program, options));
}

GateSequence lower_to_gate_sequence(std::string_view program, const LowerOptions& options) {
  using namespace detail::lower;
  program = program_text(program);
  const std::size_t statements = count_statements(program);
  // A program that needs little lowering has about one record per statement.
  RecordBuilder builder(statements);
  lower_into(program, options, bound_for(statements, options), builder);
  return std::move(builder).take();
}

}  // namespace corvane::qasm3
