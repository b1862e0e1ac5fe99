// The lowering front end's parser: the trees it builds (precedence and associativity of
// the operators as the OpenQASM 3 language reference orders them, literal forms, ranges,
// sets, modifiers), its errors with their places, its bounds on hostile nesting, and
// reading a long program one statement at a time.
#include <cstddef>
#include <string>
#include <vector>

#include "lower_test_support.hpp"
#include "qasm/lower/parser.hpp"

namespace {

using lower::ExprKind;
using lower::NO_NODE;
using lower::NodeId;
using lower::Program;
using lower::StmtKind;
using lower_test::Row;
using lower_test::row_name;

// ------------------------------------------------------------------ trees as text
// An expression as an s-expression: `(op left right)`, `(neg x)`, `(call f args...)`,
// `(index x items...)`, `(range start step stop)` with `_` for an omitted part, `(set ...)`,
// `(cast type x)`; literals other than integers and names carry their kind.

std::string expr_text(const Program& program, NodeId id);

std::string list_text(const Program& program, lower::Range items) {
  std::string text;
  for (std::uint32_t k = 0; k < items.size; ++k)
    text += " " + expr_text(program, program.list(items)[k]);
  return text;
}

std::string binary_symbol(lower::BinaryOp op) {
  static const std::vector<std::string> SYMBOLS = {"+",  "-",  "*",  "/",  "%", "**", "&",
                                                   "|",  "^",  "<<", ">>", "<", "<=", ">",
                                                   ">=", "==", "!=", "&&", "||"};
  return SYMBOLS[static_cast<std::size_t>(op)];
}

std::string expr_text(const Program& program, NodeId id) {
  if (id == NO_NODE) return "_";
  const lower::Expr& node = program.expr(id);
  const std::string text(node.text);
  switch (node.kind) {
    case ExprKind::INTEGER:
    case ExprKind::NAME:
      return text;
    case ExprKind::FLOAT:
      return "float:" + text;
    case ExprKind::BOOLEAN:
      return "bool:" + text;
    case ExprKind::BIT_STRING:
      return "bits:" + text;
    case ExprKind::DURATION:
      return "duration:" + text;
    case ExprKind::IMAGINARY:
      return "imaginary:" + text;
    case ExprKind::HARDWARE_QUBIT:
      return "hw:" + text;
    case ExprKind::UNARY: {
      static const std::vector<std::string> NAMES = {"neg", "~", "!"};
      return "(" + NAMES[static_cast<std::size_t>(node.unary_op)] + " " +
             expr_text(program, node.left) + ")";
    }
    case ExprKind::BINARY:
      return "(" + binary_symbol(node.binary_op) + " " + expr_text(program, node.left) + " " +
             expr_text(program, node.right) + ")";
    case ExprKind::CAST: {
      std::string type = lower::type_name(node.type);
      if (node.right != NO_NODE) type += "[" + expr_text(program, node.right) + "]";
      return "(cast " + type + " " + expr_text(program, node.left) + ")";
    }
    case ExprKind::CALL:
      return "(call " + text + list_text(program, node.items) + ")";
    case ExprKind::INDEX:
      return "(index " + expr_text(program, node.left) + list_text(program, node.items) + ")";
    case ExprKind::RANGE:
      return "(range " + expr_text(program, node.left) + " " + expr_text(program, node.step) + " " +
             expr_text(program, node.right) + ")";
    case ExprKind::SET:
      return "(set" + list_text(program, node.items) + ")";
    case ExprKind::CONCAT:
      return "(++ " + expr_text(program, node.left) + " " + expr_text(program, node.right) + ")";
    case ExprKind::MEASURE:
      return "(measure " + expr_text(program, node.left) + ")";
  }
  return "?";
}

// The last statement of a program as text: a gate call as `mods @ name(args) operands`, an
// assignment, a measurement, a loop's or a declaration's value.
std::string stmt_text(const Program& program, NodeId id) {
  const lower::Stmt& stmt = program.stmt(id);
  switch (stmt.kind) {
    case StmtKind::GATE_CALL: {
      std::string text;
      for (std::uint32_t k = 0; k < stmt.modifiers.size; ++k) {
        const lower::Modifier& modifier = program.modifiers[stmt.modifiers.begin + k];
        static const std::vector<std::string> NAMES = {"inv", "pow", "ctrl", "negctrl"};
        text += NAMES[static_cast<std::size_t>(modifier.kind)];
        if (modifier.argument != NO_NODE) text += "(" + expr_text(program, modifier.argument) + ")";
        text += " @ ";
      }
      text += std::string(stmt.name);
      if (stmt.has_args) {
        const std::string args = list_text(program, stmt.args);
        text += "(" + (args.empty() ? args : args.substr(1)) + ")";
      }
      return text + list_text(program, stmt.operands);
    }
    case StmtKind::QUBIT_DECL:
      return "qubit " + std::string(stmt.name);
    case StmtKind::ASSIGNMENT:
      return expr_text(program, stmt.target) + " " + std::string(stmt.text) + " " +
             expr_text(program, stmt.value);
    case StmtKind::MEASURE:
      return expr_text(program, stmt.value) + " -> " + expr_text(program, stmt.target);
    case StmtKind::FOR:
      return "for " + lower::type_name(stmt.type) + " " + std::string(stmt.name) + " in " +
             expr_text(program, stmt.value);
    case StmtKind::ALIAS:
    case StmtKind::CLASSICAL_DECL:
    case StmtKind::BIT_DECL:
      return std::string(stmt.name) + " = " + expr_text(program, stmt.value);
    default:
      return "statement of kind " + std::to_string(static_cast<int>(stmt.kind));
  }
}

std::string last_statement(const std::string& text) {
  const Program program = lower::parse(text);
  return stmt_text(program, program.stmt_lists[program.top.begin + program.top.size - 1]);
}

// ------------------------------------------------------------------ expressions

class ExpressionTree : public testing::TestWithParam<Row> {};

// Each expression is read as the parameter of a gate call.
TEST_P(ExpressionTree, FollowsTheLanguagesPrecedence) {
  const Row& row = GetParam();
  EXPECT_EQ(last_statement("g(" + row.input + ") q;"), "g(" + row.expected + ") q");
}

// From the operator table of the language reference, tightest first: call, index and cast;
// `**` (right-associative); unary `!`, `-`, `~` (right); `*` `/` `%`; `+` `-`; `<<` `>>`;
// comparisons; `==` `!=`; `&`; `^`; `|`; `&&`; `||`, all left-associative.
INSTANTIATE_TEST_SUITE_P(
    Precedence, ExpressionTree,
    testing::Values(Row{"mul_over_add", "1 + 2 * 3", "(+ 1 (* 2 3))"},
                    Row{"sub_left", "1 - 2 - 3", "(- (- 1 2) 3)"},
                    Row{"div_left", "8 / 4 / 2", "(/ (/ 8 4) 2)"},
                    Row{"mul_div_mod_left", "8 % 3 * 2 / 4", "(/ (* (% 8 3) 2) 4)"},
                    Row{"add_sub_left", "1 - 2 + 3", "(+ (- 1 2) 3)"},
                    Row{"power_right", "2 ** 3 ** 2", "(** 2 (** 3 2))"},
                    Row{"power_over_negation", "-2 ** 2", "(neg (** 2 2))"},
                    Row{"negated_exponent", "2 ** -1", "(** 2 (neg 1))"},
                    Row{"power_over_mul", "2 * 3 ** 2", "(* 2 (** 3 2))"},
                    Row{"negated_exponent_then_mul", "2 ** -1 * 3", "(* (** 2 (neg 1)) 3)"},
                    Row{"unary_over_mul", "-a * b", "(* (neg a) b)"},
                    Row{"unary_over_mod", "-3 % 2", "(% (neg 3) 2)"},
                    Row{"unary_right", "- ! ~a", "(neg (! (~ a)))"},
                    Row{"double_negation", "- -1", "(neg (neg 1))"},
                    Row{"unary_plus_is_nothing", "+-+1", "(neg 1)"},
                    Row{"shift_below_add", "1 << 2 + 1", "(<< 1 (+ 2 1))"},
                    Row{"shift_left_assoc", "8 >> 1 >> 1", "(>> (>> 8 1) 1)"},
                    Row{"comparison_below_shift", "a < b << c", "(< a (<< b c))"},
                    Row{"comparison_left", "a < b <= c", "(<= (< a b) c)"},
                    Row{"equality_below_comparison", "a == b < c", "(== a (< b c))"},
                    Row{"equality_left", "a != b == c", "(== (!= a b) c)"},
                    Row{"and_below_equality", "a & b == c", "(& a (== b c))"},
                    Row{"xor_below_and", "a ^ b & c", "(^ a (& b c))"},
                    Row{"or_below_xor", "a | b ^ c", "(| a (^ b c))"},
                    Row{"logical_and_below_or", "a && b | c", "(&& a (| b c))"},
                    Row{"logical_or_lowest", "a || b && c", "(|| a (&& b c))"},
                    Row{"logical_or_left", "a || b || c", "(|| (|| a b) c)"},
                    Row{"all_levels", "a || b && c | d ^ e & f == g < h << i + j * k ** l",
                        "(|| a (&& b (| c (^ d (& e (== f (< g (<< h (+ i (* j (** k l)))))))))))"},
                    Row{"all_levels_reversed", "a ** b * c + d << e < f == g & h ^ i | j && k || l",
                        "(|| (&& (| (^ (& (== (< (<< (+ (* (** a b) c) d) e) f) g) h) i) j) k) l)"},
                    Row{"parentheses", "(1 + 2) * 3", "(* (+ 1 2) 3)"},
                    Row{"negated_parentheses", "-(1 + 2)", "(neg (+ 1 2))"},
                    Row{"index_over_power", "a[1] ** 2", "(** (index a 1) 2)"},
                    Row{"index_over_negation", "-a[1]", "(neg (index a 1))"},
                    Row{"call_over_power", "sin(x) ** 2", "(** (call sin x) 2)"},
                    Row{"cast_over_unary", "-int[8](x) * 2", "(* (neg (cast int[8] x)) 2)"},
                    Row{"cast_width_expression", "uint[n + 1](x)", "(cast uint[(+ n 1)] x)"},
                    Row{"index_chain", "a[1][2]", "(index (index a 1) 2)"},
                    Row{"call_arguments", "mod(a, b + 1)", "(call mod a (+ b 1))"}),
    row_name<Row>);

// The literal forms of the language reference, kept as written: the values are read later.
INSTANTIATE_TEST_SUITE_P(
    Literals, ExpressionTree,
    testing::Values(Row{"decimal_with_separators", "1_000_000", "1_000_000"},
                    Row{"hex", "0xff + 0XBEEF", "(+ 0xff 0XBEEF)"},
                    Row{"octal_and_binary", "0o73 + 0B0110_1001", "(+ 0o73 0B0110_1001)"},
                    Row{"leading_dot", ".1", "float:.1"}, Row{"trailing_dot", "0.", "float:0."},
                    Row{"exponents", "2e10 + 2e+1 + 2.0E-1",
                        "(+ (+ float:2e10 float:2e+1) float:2.0E-1)"},
                    Row{"negative_number", "-1.5", "(neg float:1.5)"},
                    Row{"booleans", "true && !false", "(&& bool:true (! bool:false))"},
                    Row{"bit_string", "\"0001_0001\"", "bits:\"0001_0001\""},
                    Row{"durations", "100ns + 2.5us + 10dt",
                        "(+ (+ duration:100ns duration:2.5us) duration:10dt)"},
                    Row{"imaginary", "1.5im", "imaginary:1.5im"},
                    Row{"constants", "2 * π + tau", "(+ (* 2 π) tau)"}),
    row_name<Row>);

// OpenQASM 2 writes the power `^` (right-associative, above the unary minus) and calls the
// natural logarithm `ln`; after an OPENQASM 3 header `^` is the exclusive or.
TEST(ExpressionTree, OpenQasm2PowerAndLogarithm) {
  EXPECT_EQ(last_statement("OPENQASM 2.0;\ng(2 ^ 3 ^ 2) q;"), "g((** 2 (** 3 2))) q");
  EXPECT_EQ(last_statement("OPENQASM 2.0;\ng(-2 ^ 2 * 3) q;"), "g((* (neg (** 2 2)) 3)) q");
  EXPECT_EQ(last_statement("OPENQASM 2.0;\ng(ln(2)) q;"), "g((call log 2)) q");
  EXPECT_EQ(last_statement("OPENQASM 3.0;\ng(2 ^ 3 ^ 2) q;"), "g((^ (^ 2 3) 2)) q");
  EXPECT_EQ(last_statement("OPENQASM 3.0;\ng(ln(2)) q;"), "g((call ln 2)) q");
}

// ------------------------------------------------------------------ statements

// The last statement of each program, as stmt_text shows it.
class StatementTree : public testing::TestWithParam<Row> {};

TEST_P(StatementTree, KeepsEveryPart) {
  EXPECT_EQ(last_statement(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, StatementTree,
    testing::Values(
        Row{"operands_shortcut_and_descent", "cx q[0], q[i + 1];",
            "cx (index q 0) (index q (+ i 1))"},
        Row{"hardware_qubits", "cx $0, $12;", "cx hw:$0 hw:$12"},
        Row{"no_parameters_written", "x q;", "x q"}, Row{"empty_parameter_list", "x() q;", "x() q"},
        Row{"ranges", "h q[0:2], q[:2], q[1:], q[:], q[::2], q[0:2:8];",
            "h (index q (range 0 _ 2)) (index q (range _ _ 2)) (index q (range 1 _ _)) "
            "(index q (range _ _ _)) (index q (range _ _ 2)) (index q (range 0 2 8))"},
        Row{"set_and_multiple_indices", "h q[{0, 2, 4}], q[1, 2];",
            "h (index q (set 0 2 4)) (index q 1 2)"},
        Row{"index_of_an_index", "h q[1][0];", "h (index (index q 1) 0)"},
        Row{"modifiers", "ctrl(2) @ negctrl @ inv @ pow(1/2) @ rx(t) a, b, c, d;",
            "ctrl(2) @ negctrl @ inv @ pow((/ 1 2)) @ rx(t) a b c d"},
        Row{"gphase_without_operands", "gphase(pi);", "gphase(pi)"},
        Row{"duration_of_a_call_is_read_and_dropped", "rx(t)[100ns] q;", "rx(t) q"},
        Row{"compound_assignment", "x <<= 1 + 2;", "x <<= (+ 1 2)"},
        Row{"indexed_assignment", "c[0] = measure q[0];", "(index c 0) = (measure (index q 0))"},
        Row{"measure_arrow", "measure q[1] -> c[1];", "(measure (index q 1)) -> (index c 1)"},
        Row{"for_over_a_range", "for uint[8] i in [0:2:10] x q;",
            "for uint[8] i in (range 0 2 10)"},
        Row{"for_without_type", "for i in {1, -1} x q;", "for int i in (set 1 (neg 1))"},
        Row{"for_over_a_register", "for bit b in c x q;", "for bit b in c"},
        Row{"alias_concatenation", "let a = q[0:1] ++ r ++ s[2];",
            "a = (++ (++ (index q (range 0 _ 1)) r) (index s 2))"},
        Row{"declaration_with_cast", "const float[64] f = float(1) / 3;",
            "f = (/ (cast float 1) 3)"},
        Row{"bits_from_a_string", "bit[8] b = \"0101_0101\";", "b = bits:\"0101_0101\""}),
    row_name<Row>);

// ------------------------------------------------------------------ errors

class ParseError : public testing::TestWithParam<Row> {};

TEST_P(ParseError, HasKindMessageAndPlace) {
  EXPECT_EQ(outcome_of([&] { lower::parse(GetParam().input); }, true), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ParseError,
    testing::Values(
        Row{"missing_operand", "qubit q;\nrz(1 +) q;",
            "2:7: ValueError: Expected an expression, found ')'"},
        Row{"missing_semicolon", "qubit[2] q",
            "1:11: ValueError: Expected ';', found end of input"},
        Row{"unclosed_parenthesis", "rz((1) q;", "1:8: ValueError: Expected ')', found 'q'"},
        Row{"unclosed_block", "gate g a { h a;",
            "1:16: ValueError: Expected '}', found end of input"},
        Row{"operand_not_a_qubit", "h 1;", "1:3: ValueError: Expected a qubit, found '1'"},
        Row{"empty_parameter", "gate g(a, , b) q { }",
            "1:11: ValueError: Expected a name, found ','"},
        Row{"for_without_in", "for int i of [0:2] x q;",
            "1:11: ValueError: Expected 'in', found 'of'"},
        Row{"reserved_name", "qubit pi;",
            "1:7: ValueError: 'pi' is a reserved word and cannot be declared"},
        Row{"keyword_as_name", "int for = 1;",
            "1:5: ValueError: 'for' is a reserved word and cannot be declared"},
        Row{"type_width_zero", "int[0] x;",
            "1:5: NotImplementedError: Type width 0 is not supported (1 to 64)"},
        Row{"type_width_too_large", "uint[65] x;",
            "1:6: NotImplementedError: Type width 65 is not supported (1 to 64)"},
        Row{"complex_type", "complex[float] c;",
            "1:1: NotImplementedError: 'complex' is not supported"},
        Row{"array_type", "array[int[8], 2] a;",
            "1:1: NotImplementedError: 'array' is not supported"},
        Row{"array_argument", "def f(readonly array[int[8], 2] a) { }",
            "1:7: NotImplementedError: Array arguments are not supported"},
        Row{"extern", "qubit q;\nextern f(int) -> int;",
            "2:1: NotImplementedError: 'extern' is not supported"},
        Row{"defcal", "defcal x $0 { }", "1:1: NotImplementedError: 'defcal' is not supported"},
        Row{"case_after_default", "switch (i) { default { } case 1 { } }",
            "1:26: ValueError: Nothing may follow 'default' in a 'switch'"},
        Row{"qubit_in_a_case", "switch (i) { case 1 { qubit r; } }",
            "1:23: ValueError: Qubits, gates and subroutines cannot be declared in a 'switch'"},
        Row{"const_without_value", "const int n;", "1:12: ValueError: Expected '=', found ';'"},
        Row{"reserved_literal", "qubit q;\nbit[2] true;",
            "2:8: ValueError: 'true' is a reserved word and cannot be declared"},
        Row{"stray_character_inside_a_statement", "qubit q;\nh q ?;",
            "2:5: ValueError: Unexpected character '?'"},
        Row{"syntax_error_before_a_stray_character", "h q[0;\n?",
            "1:6: ValueError: Expected ']', found ';'"},
        Row{"stray_character_after_good_statements", "h q;\nx q;\n  ?",
            "3:3: ValueError: Unexpected character '?'"}),
    row_name<Row>);

// ------------------------------------------------------------------ hostile nesting

std::string nested(std::string_view open, std::string_view inner, std::string_view close,
                   std::size_t depth) {
  return repeat(open, depth) + std::string(inner) + repeat(close, depth);
}

constexpr std::string_view RECURSION = "RecursionError: maximum recursion depth exceeded";

// Every kind of nesting, far past the bound, fails cleanly rather than running out of stack.
TEST(ParserNesting, DeepNestingIsARecursionError) {
  constexpr std::size_t DEEP = 20'000;
  const std::vector<std::string> programs = {
      "g(" + nested("(", "1", ")", DEEP) + ") q;",
      "g(" + nested("(", "x", ")", DEEP) + ") q;",
      "g(" + repeat("-", DEEP) + "1) q;",
      "g(" + repeat("!~", DEEP) + "x) q;",
      "g(" + nested("2 ** ", "2", "", DEEP) + ") q;",
      "g(" + nested("a[", "0", "]", DEEP) + ") q;",
      "g(" + nested("sin(", "0", ")", DEEP) + ") q;",
      "g(" + nested("int(", "0", ")", DEEP) + ") q;",
      "h " + nested("q[", "0", "]", DEEP) + ";",
      nested("{ ", "", " }", DEEP),
      repeat("if (true) ", DEEP) + "x q;",
      repeat("for int i in [0:1] ", DEEP) + "x q;",
      repeat("while (c) ", DEEP) + "x q;",
      "gate g a " + nested("{ ", "", " }", DEEP),
      "qubit q; switch (1) { case 1 " + nested("{ ", "", " }", DEEP) + " }",
  };
  for (const std::string& program : programs) {
    EXPECT_EQ(outcome_of([&] { lower::parse(program); }), RECURSION) << program.substr(0, 40);
  }
}

// Long flat chains are no nesting: they parse however long they are.
TEST(ParserNesting, FlatChainsAreNotBounded) {
  constexpr std::size_t LONG = 20'000;
  const std::vector<std::string> programs = {
      "g(1" + repeat(" + 1", LONG) + ") q;", "g(1" + repeat(" || 1", LONG) + ") q;",
      "h q" + repeat(", q", LONG) + ";",     "g(1" + repeat(", 1", LONG) + ") q;",
      repeat("inv @ ", LONG) + "x q;",
  };
  for (const std::string& program : programs)
    EXPECT_EQ(outcome_of([&] { lower::parse(program); }), "ok") << program.substr(0, 40);
}

// Numbers and `name[number]` take a shortcut past the descent; the bound must fall at the
// same depth for them as for the names that take the descent, or a program one level
// deeper would be refused or accepted depending on a literal.
TEST(ParserNesting, ShortcutsMeetTheBoundWhereTheDescentDoes) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"1", "x"}, {"-1", "-x"}, {"a[1]", "a[b]"}};
  for (const auto& [shortcut, descent] : pairs) {
    bool refused = false;
    bool accepted = false;
    for (std::size_t depth = 480; depth < 510; ++depth) {
      const std::string by_shortcut = "g(" + nested("(", shortcut, ")", depth) + ") q;";
      const std::string by_descent = "g(" + nested("(", descent, ")", depth) + ") q;";
      const std::string taken = outcome_of([&] { lower::parse(by_shortcut); });
      const std::string described = outcome_of([&] { lower::parse(by_descent); });
      EXPECT_EQ(taken, described) << shortcut << " at depth " << depth;
      refused = refused || taken != "ok";
      accepted = accepted || taken == "ok";
    }
    EXPECT_TRUE(refused && accepted) << shortcut << ": the bound lies outside the depths tried";
  }
}

// ------------------------------------------------------------------ reading on

// A long program read one statement at a time, dropping the nodes of each: the tokens are
// read ahead and forgotten in batches, which must neither lose nor repeat a statement.
TEST(ParserStream, ReadsEveryStatementOnceWithBoundedNodes) {
  constexpr int STATEMENTS = 5000;
  std::string text = "qubit[8] q;\n";
  for (int k = 1; k < STATEMENTS; ++k) {
    // A call whose parameter list is long makes the parser look far ahead.
    text += k % 7 == 0
                ? "g(" + repeat("1, ", 300) + "1) q[" + std::to_string(k % 8) + "];\n"
                : "cx q[" + std::to_string(k % 8) + "], q[" + std::to_string((k + 1) % 8) + "];\n";
  }
  lower::Parser parser(text);
  const lower::Parser::Marks start = parser.marks();
  int count = 0;
  for (NodeId id = parser.next_statement(); id != NO_NODE; id = parser.next_statement()) {
    const std::string q = "(index q " + std::to_string(count % 8) + ")";
    const std::string next_q = "(index q " + std::to_string((count + 1) % 8) + ")";
    const std::string expected = count == 0       ? "qubit q"
                                 : count % 7 == 0 ? "g(" + repeat("1 ", 300) + "1) " + q
                                                  : "cx " + q + " " + next_q;
    ASSERT_EQ(stmt_text(parser.program(), id), expected) << "statement " << count;
    parser.drop_since(start);
    ++count;
  }
  EXPECT_EQ(count, STATEMENTS);
  EXPECT_TRUE(parser.program().exprs.empty());
  EXPECT_EQ(parser.next_statement(), NO_NODE);
}

// Text that is no token is refused when the parser reaches it, not when the lexer reads
// ahead past it: the statements before it are read.
TEST(ParserStream, RefusesStrayTextOnlyWhenItIsReached) {
  lower::Parser parser("x q;\ny q;\nz q; ?");
  EXPECT_NE(parser.next_statement(), NO_NODE);
  EXPECT_NE(parser.next_statement(), NO_NODE);
  EXPECT_NE(parser.next_statement(), NO_NODE);
  EXPECT_EQ(outcome_of([&] { parser.next_statement(); }, true),
            "3:6: ValueError: Unexpected character '?'");
}

}  // namespace
