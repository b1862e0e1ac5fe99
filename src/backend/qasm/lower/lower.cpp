// The lowering front end's entry point: text -> tokens -> tree -> plain statements -> text.
#include "qasm/lower/lower.hpp"

#include "qasm/lower/expand.hpp"
#include "qasm/lower/parser.hpp"
#include "qasm/lower/write.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower {

std::string lower_program(std::string_view program, const LowerOptions& options,
                          std::size_t max_statements) {
  validate_utf8(program);
  // Editors on some systems start a UTF-8 file with a byte-order mark; it is no part of
  // the program.
  constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
  if (program.starts_with(BYTE_ORDER_MARK)) program.remove_prefix(BYTE_ORDER_MARK.size());
  Parser parser(program);
  // A program that needs little lowering comes out about as long as it went in.
  Writer writer(program.size() + program.size() / 8);
  expand(parser, options.inputs, writer, max_statements, options.expand_library_gates,
         {.program_path = options.source_path, .folders = options.include_paths});
  return writer.take();
}

}  // namespace corvane::qasm3::detail::lower

namespace corvane::qasm3 {

std::string lower_qasm3(std::string_view program, const LowerOptions& options) {
  return detail::lower::lower_program(program, options, detail::lower::MAX_LOWERED_STATEMENTS);
}

}  // namespace corvane::qasm3
