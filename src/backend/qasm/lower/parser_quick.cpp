// The parser's quick statements: the commonest statement shapes of long programs read from
// their tokens alone (parser.hpp). Anything else, and anything the general parse would
// read otherwise, is left to it.
#include "qasm/lower/parser_impl.hpp"

namespace corvane::qasm3::detail::lower {

bool Parser::Impl::peek_quick(QuickStatement& quick) {
  const Token first = look(0);  // a copy: looking further ahead may move the tokens
  if (first.kind != TokenKind::IDENTIFIER) return false;
  quick.offset = first.offset;
  quick.has_parameters = false;
  quick.control_count = 0;
  quick.parameter_count = 0;
  quick.operand_count = 0;
  std::size_t ahead = 1;
  if (same_text(first.text, "measure")) {
    quick.kind = QuickStatement::Kind::MEASURE;
    if (!quick_operand(ahead, quick) || !is_symbol("->", ahead)) return false;
    ++ahead;
    if (!quick_operand(ahead, quick) || !is_symbol(";", ahead)) return false;
    quick.tokens = ahead + 1;
    return true;
  }
  quick.kind = QuickStatement::Kind::CALL;
  Token name = first;
  ahead = 0;
  for (; name.kind == TokenKind::IDENTIFIER; name = look(ahead)) {
    const bool ctrl = same_text(name.text, "ctrl");
    if (!ctrl && !same_text(name.text, "negctrl")) break;
    if (quick.control_count == QuickStatement::MOST || !is_symbol("@", ahead + 1)) return false;
    quick.controls[quick.control_count++] = ctrl ? 1 : 0;
    ahead += 2;
  }
  if (name.kind != TokenKind::IDENTIFIER || starts_keyword_statement(name.text)) return false;
  quick.name = name.text;
  ++ahead;
  if (is_symbol("(", ahead)) {
    quick.has_parameters = true;
    ++ahead;
    while (!is_symbol(")", ahead)) {
      if (quick.parameter_count == QuickStatement::MOST ||
          !quick_number(ahead, quick.parameters[quick.parameter_count++])) {
        return false;
      }
      if (is_symbol(",", ahead) && !is_symbol(")", ahead + 1)) {
        ++ahead;
      } else if (!is_symbol(")", ahead)) {
        return false;
      }
    }
    ++ahead;
  }
  for (;;) {
    if (!quick_operand(ahead, quick)) return false;
    if (is_symbol(";", ahead)) break;
    if (!is_symbol(",", ahead)) return false;
    ++ahead;
  }
  quick.tokens = ahead + 1;
  return true;
}

bool Parser::Impl::quick_number(std::size_t& ahead, QuickNumber& number) {
  number.negated = is_symbol("-", ahead);
  if (number.negated) ++ahead;
  const Token& token = look(ahead);
  if (token.kind != TokenKind::INTEGER && token.kind != TokenKind::FLOAT) return false;
  number.text = token.text;
  number.is_float = token.kind == TokenKind::FLOAT;
  ++ahead;
  return true;
}

// `name[integer]`, the name one that the general parse reads as a name.
bool Parser::Impl::quick_operand(std::size_t& ahead, QuickStatement& quick) {
  if (quick.operand_count == QuickStatement::MOST) return false;
  const Token name = look(ahead);
  if (name.kind != TokenKind::IDENTIFIER || is_constant_or_type(name.text) ||
      !is_symbol("[", ahead + 1) || look(ahead + 2).kind != TokenKind::INTEGER ||
      !is_symbol("]", ahead + 3)) {
    return false;
  }
  quick.operands[quick.operand_count++] = QuickOperand{name.text, look(ahead + 2).text};
  ahead += 4;
  return true;
}

bool Parser::peek_quick(QuickStatement& quick) {
  return impl_->peek_quick(quick);
}

void Parser::take_quick(const QuickStatement& quick) {
  impl_->take_quick(quick);
}

}  // namespace corvane::qasm3::detail::lower
