// The parameter-expression evaluator: accepted values, every rejection and its walk order,
// the non-ValueError kinds, nesting bounds and hostile bytes.
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "qasm3_eval.hpp"
#include "test_support.hpp"

namespace {

using corvane::qasm3::detail::eval_param;
using corvane::qasm3::detail::parse_expression;
using corvane::qasm3::detail::SafeEval;

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out(piece.size() * times, ' ');
  for (std::size_t i = 0; i < times; ++i)
    out.replace(i * piece.size(), piece.size(), piece);
  return out;
}

// `count` copies of `item` with `separator` between them.
std::string joined(std::string_view item, std::string_view separator, std::size_t count) {
  return std::string(item) + repeat(std::string(separator) + std::string(item), count - 1);
}

std::string eval_outcome(std::string_view text) {
  return outcome_of([&] { eval_param(text); });
}

struct ValueCase {
  std::string text;
  double expected;
};

TEST(EvalParam, AcceptedValues) {
  const double pi = std::numbers::pi;
  const std::vector<ValueCase> cases = {
      // a plain number, read directly once trimmed
      {"  1.5  ", 1.5},
      // the constant pi and arithmetic on it
      {"pi", pi},
      {"-pi/2", -1.5707963267948966},
      {"2*pi", 6.283185307179586},
      {"(pi+1)/2", 2.0707963267948966},
      // grouping and precedence
      {"1-2-3", -4.0},
      {"8/4/2", 1.0},
      {"1-(2-3)", 2.0},
      {"8/(4/2)", 4.0},
      {"1+2*3", 7.0},
      {"(1+2)*3", 9.0},
      {"2*3-4/2", 4.0},
      {"1/3*3", 1.0},
      {"0.1+0.2", 0.1 + 0.2},
      // signs
      {"--1", 1.0},
      {"+-1", -1.0},
      {"2*-3", -6.0},
      {"- - +1", 1.0},
      {"1--1", 2.0},
      {"-(1)", -1.0},
      // literal forms through the expression path
      {"0x10", 16.0},
      {"0X_F", 15.0},
      {"0o17", 15.0},
      {"0b101", 5.0},
      {"0_0+1", 1.0},
      {"00+1", 1.0},
      {"1_0.5_5+0", 10.55},
      {"1.e2+0", 100.0},
      {"True", 1.0},
      {"False", 0.0},
      {"True+True", 2.0},
      {"09.5+0", 9.5},
      // integer literals round to the nearest double, ties to even
      {"9007199254740993+0", 9007199254740992.0},
      {"9007199254740995+0", 9007199254740996.0},
      {"0x20000000000001", 9007199254740992.0},
      {"0x20000000000003", 9007199254740996.0},
      {"0x1fffffffffffff8", 1.4411518807585587e+17},
      {"0x1fffffffffffff7ffff", 9.444732965739289e+21},
      {"0o777777777777777777777777777777", 1.2379400392853803e+27},
      // layout: comments, bracketed line breaks, continuation lines, full-width names
      {"1 # comment", 1.0},
      {"(1 +\n 2)", 3.0},
      {"(1 +\r\n 2)", 3.0},
      {"1 \\\n+ 2", 3.0},
      {"1\n# trailing comment", 1.0},
      {"\xEF\xBD\x90\xEF\xBD\x89", pi},
      {"1\t*\f2", 2.0},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(eval_param(c.text), c.expected);
  }
  EXPECT_TRUE(std::signbit(eval_param("-0")));
  EXPECT_TRUE(std::signbit(eval_param("-(0)")));
  EXPECT_TRUE(std::signbit(eval_param("0*-1")));
}

// Numbers read by the fast path and the same numbers read as literals of an expression agree.
TEST(EvalParam, PlainReadAgreesWithLiterals) {
  for (const std::string_view text :
       {"1.5", "1e-3", ".5", "5.", "1_000", "123456789012345678901234567890", "2.5e-308",
        "4.9e-324", "1e-400", "0.1",
        "179769313486231570000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000"
        "0000000000000000000000000000000"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(eval_param(text), eval_param("(" + std::string(text) + ")"));
  }
}

struct ErrorCase {
  std::string text;
  std::string outcome;
};

void expect_outcomes(const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(eval_outcome(c.text), c.outcome);
  }
}

TEST(EvalParam, RejectedOperators) {
  const std::string bin = "ValueError: Unsupported binary operator: ";
  const std::string un = "ValueError: Unsupported unary operator: ";
  expect_outcomes({
      {"2**3", bin + "Pow"},
      {"7//2", bin + "FloorDiv"},
      {"7%2", bin + "Mod"},
      {"a@b", bin + "MatMult"},
      {"1<<2", bin + "LShift"},
      {"1>>2", bin + "RShift"},
      {"1&2", bin + "BitAnd"},
      {"1^2", bin + "BitXor"},
      {"1|2", bin + "BitOr"},
      {"-2**2", bin + "Pow"},
      {"2**-1", bin + "Pow"},
      {"1+2|3", bin + "BitOr"},
      {"~1", un + "Invert"},
      {"not 1", un + "Not"},
      {"not not 1", un + "Not"},
      {"-~1", un + "Invert"},
  });
}

TEST(EvalParam, RejectedNamesAndConstants) {
  const std::string name = "ValueError: Unknown name in expression: ";
  const std::string constant = "ValueError: Unsupported constant: ";
  expect_outcomes({
      {"tau", name + "tau"},
      {"e", name + "e"},
      {"PI", name + "PI"},
      {"Pi*2", name + "Pi"},
      {"_", name + "_"},
      {"pi2", name + "pi2"},
      {"print", name + "print"},
      {"\xC3\xA9", name + "\xC3\xA9"},
      {"2j", constant + "2j"},
      {"-2j", constant + "2j"},
      {"1.5J", constant + "1.5j"},
      {"0j", constant + "0j"},
      {"1e16j", constant + "1e+16j"},
      {"1e15j", constant + "1000000000000000j"},
      {"1e-5j", constant + "1e-05j"},
      {"1e400j", constant + "infj"},
      {"'a'", constant + "'a'"},
      {"\"it's\"", constant + "\"it's\""},
      {"'a' \"b\"", constant + "'ab'"},
      {"'''x'''", constant + "'x'"},
      {"'\\x00\\t'", constant + "'\\x00\\t'"},
      {"'\\u00e9\\101'", constant + "'\xC3\xA9"
                                    "A'"},
      {"'\\ud800'", constant + "'\\ud800'"},
      {"'\\q'", constant + "'\\\\q'"},
      {"r'\\n'", constant + "'\\\\n'"},
      {"u'x'", constant + "'x'"},
      {"b'a'", constant + "b'a'"},
      {"Rb'\\x'", constant + "b'\\\\x'"},
      {"b'\\xff\\777'", constant + "b'\\xff\\xff'"},
      {"b\"'\"", constant + "b\"'\""},
      {"None", constant + "None"},
      {"...", constant + "Ellipsis"},
  });
}

TEST(EvalParam, RejectedNodeKinds) {
  const std::string node = "ValueError: Unsupported expression node: ";
  expect_outcomes({
      {"sin(pi)", node + "Call"},
      {"f(x for x in y)", node + "Call"},
      {"f(*a, k=1, **b)", node + "Call"},
      {"a.b", node + "Attribute"},
      {"1 .real", node + "Attribute"},
      {"a[1:2, ::3]", node + "Subscript"},
      {"a < b < c", node + "Compare"},
      {"1 not in 2", node + "Compare"},
      {"a is not b", node + "Compare"},
      {"a and b", node + "BoolOp"},
      {"1or 2", node + "BoolOp"},
      {"x if y else z", node + "IfExp"},
      {"1if 1else 2", node + "IfExp"},
      {"(1, 2)", node + "Tuple"},
      {"1,", node + "Tuple"},
      {"()", node + "Tuple"},
      {"[1]", node + "List"},
      {"{1}", node + "Set"},
      {"{}", node + "Dict"},
      {"{**a, 1: 2}", node + "Dict"},
      {"[x for x in y if x]", node + "ListComp"},
      {"{x for x, in y}", node + "SetComp"},
      {"{x: 1 for x in y}", node + "DictComp"},
      {"(x async for x in y)", node + "GeneratorExp"},
      {"lambda a, /, b=1, *c, d, **e: 0", node + "Lambda"},
      {"f'{x!r:>{w}}'", node + "JoinedStr"},
      {"'a' f'b'", node + "JoinedStr"},
      {"(x := 1)", node + "NamedExpr"},
      {"await x", node + "Await"},
      {"(yield)", node + "Yield"},
      {"(yield from x)", node + "YieldFrom"},
  });
}

// The first wrong node in walk order decides: an operator before its operands, a left
// operand completely before the right one.
TEST(EvalParam, WalkOrder) {
  expect_outcomes({
      {"x + 2**3", "ValueError: Unknown name in expression: x"},
      {"2**x", "ValueError: Unsupported binary operator: Pow"},
      {"sin(x)", "ValueError: Unsupported expression node: Call"},
      {"1 + sin(x)", "ValueError: Unsupported expression node: Call"},
      {"-(2**x)", "ValueError: Unsupported binary operator: Pow"},
      {"~x", "ValueError: Unsupported unary operator: Invert"},
      {"-~x", "ValueError: Unsupported unary operator: Invert"},
      {"1 - -x", "ValueError: Unknown name in expression: x"},
      {"1 + 2 + x + 3**2", "ValueError: Unknown name in expression: x"},
      {"1 + 2 + 3**2 + x", "ValueError: Unsupported binary operator: Pow"},
      {"x * (1, 2)", "ValueError: Unknown name in expression: x"},
      {"(1, 2) * x", "ValueError: Unsupported expression node: Tuple"},
      {"2j + x", "ValueError: Unsupported constant: 2j"},
      {"1/0 + x", "ZeroDivisionError: float division by zero"},
      {"x + 1/0", "ValueError: Unknown name in expression: x"},
      {"(x + 1) % 2", "ValueError: Unsupported binary operator: Mod"},
      {"y + x", "ValueError: Unknown name in expression: y"},
      {"1e308*10 + x", "ValueError: Unknown name in expression: x"},
      {repeat("9", 400) + " + x", "OverflowError: int too large to convert to float"},
      {"x + " + repeat("9", 400), "ValueError: Unknown name in expression: x"},
  });
}

TEST(EvalParam, NonFiniteResults) {
  const std::string finite = "ValueError: QASM gate parameter must be finite; got ";
  expect_outcomes({
      {"inf", finite + "'inf'"},
      {"  -Infinity\n", finite + "'-Infinity'"},
      {"NaN", finite + "'NaN'"},
      {"1e400", finite + "'1e400'"},
      {"1e308*10", finite + "'1e308*10'"},
      {"-1e308*10", finite + "'-1e308*10'"},
      {"1e308+1e308-1e308", finite + "'1e308+1e308-1e308'"},
      {"(1e308*10)-(1e308*10)", finite + "'(1e308*10)-(1e308*10)'"},
      {"1e999 # it's", finite + "\"1e999 # it's\""},
      {repeat("9", 400), finite + "'" + repeat("9", 400) + "'"},
  });
}

// Texts that are not well formed, down to the tokens.
// clang-format off
constexpr std::string_view SYNTAX_ERRORS[] = {
    "", "   ", "pi +", "007+1", "1__0", "1_", "0_", "0x", "0b2", "0o8", "09+1", "1e", "1.__x", "(",
    ")", "(1", "1)", "[1)", "1 2", "x := 1", "*a", "*a, b", "$", "?", "1 ! 2", "a<>b", "1\n2",
    "1 \\", "+not 1", "'abc", "'''abc", "b'\xC3\xA9'", "'a' b'b'", "'\\x4'", "'\\U00110000'",
    "'\\N'", "'\\N{}'", "'\\N{a_b}'", "f'\\N{<}'", "f'{'", "f'}'", "f'{}'", "f'{x!z}'",
    "f'{a:{b:{c}}}'", "f'{#}'", "f'{\\n}'", "lambda a=1, b: 0", "lambda *: 0", "lambda *, **k: 0",
    "lambda /: 0", "f(a=1, b)", "f(**a, *b)", "f(a for a in b, c)", "f(a.b=1)", "[1 for 1 in x]",
    "[x for f() in y]", "a.1", "a.if", "1 if 2", "not", "-", "1 +* 2", "a[]", "a[x:=1:2]", "(*a)",
    "{x := 1: 2}", "await await x", "yield", "pass", "1;", "x += 1", "\x01", "1\x7f", "ur'a'",
    "bu'a'", "1\xC2\xA0+2", "x\xC2\xB2"};
// clang-format on

// Syntax, division and overflow failures are their own kinds, never ValueError.
TEST(EvalParam, OtherErrorKinds) {
  for (const std::string_view text : SYNTAX_ERRORS) {
    SCOPED_TRACE(text);
    EXPECT_EQ(eval_outcome(text).rfind("SyntaxError: ", 0), 0U) << eval_outcome(text);
  }
  for (const std::string_view text : {"1/0", "1/0.0", "0/0", "1/-0.0", "pi/(1-1)", "1e308*10/0"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW_MSG(eval_param(text), ZeroDivisionError, "float division by zero");
  }
  for (const std::string& text : {"(" + repeat("9", 309) + ")", repeat("1", 400) + "+1",
                                  "0x" + repeat("f", 256) + "*1", "0b1" + repeat("0", 1024)}) {
    SCOPED_TRACE(text);
    EXPECT_THROW_MSG(eval_param(text), OverflowError, "int too large to convert to float");
  }
  // Just below the overflow threshold the literal still converts.
  EXPECT_EQ(eval_param("0x" + repeat("f", 255) + "+0"), std::ldexp(1.0, 1020));
}

// Nesting is bounded without running out of stack; flat chains of any length work.
TEST(EvalParam, NestingAndLongChains) {
  const std::string too_deep = "SyntaxError: too many nested parentheses";
  const std::string too_many_ops = "SyntaxError: too many nested operators";
  EXPECT_EQ(eval_param(repeat("(", 200) + "1" + repeat(")", 200)), 1.0);
  EXPECT_EQ(eval_outcome(repeat("(", 201) + "1" + repeat(")", 201)), too_deep);
  EXPECT_EQ(eval_outcome(repeat("(", 1000000) + "1" + repeat(")", 1000000)), too_deep);
  EXPECT_EQ(eval_outcome(repeat("[", 1000000)), too_deep);
  EXPECT_EQ(eval_param(repeat("-", 200) + "1"), 1.0);
  EXPECT_EQ(eval_outcome(repeat("-", 201) + "1"), too_many_ops);
  EXPECT_EQ(eval_outcome(repeat("-", 1000000) + "1"), too_many_ops);
  EXPECT_EQ(eval_outcome(repeat("not ", 100000) + "1"), too_many_ops);
  EXPECT_EQ(eval_outcome(repeat("2**", 100000) + "1"), too_many_ops);
  EXPECT_EQ(eval_outcome(repeat("lambda a=", 1000) + "0"), too_many_ops);
  EXPECT_EQ(eval_param(repeat("(-", 200) + "1" + repeat(")", 200)), 1.0);

  // A recursive walk of this left-leaning chain would need 100000 frames.
  EXPECT_EQ(eval_param(joined("1", "+", 100000)), 100000.0);
  EXPECT_EQ(eval_param(joined("2", "*", 1000) + "/" + joined("2", "/", 1000)), 1.0);
  EXPECT_EQ(eval_param("0" + repeat("-pi+pi", 10000)), 0.0);
  const std::string node = "ValueError: Unsupported expression node: ";
  expect_outcomes({
      {joined("1", "<", 50000), node + "Compare"},
      {joined("1", " or ", 50000), node + "BoolOp"},
      {joined("1", ",", 50000), node + "Tuple"},
      {repeat("lambda:", 50000) + "1", node + "Lambda"},
      {repeat("1 if 1 else ", 50000) + "1", node + "IfExp"},
      {"a" + repeat(".b", 50000), node + "Attribute"},
      {"a" + repeat("()", 50000), node + "Call"},
      {"'" + std::string(100000, 'a') + "'",
       "ValueError: Unsupported constant: '" + std::string(100000, 'a') + "'"},
  });
}

// Arbitrary bytes give an error of the converter's kinds, never a crash.
TEST(EvalParam, HostileBytes) {
  for (const std::string& text :
       {std::string("1\0", 2), std::string("'\0'", 3), std::string("\xFF"), std::string("1+\x80"),
        std::string("\xED\xA0\x80"), std::string("'\xC3'"), std::string("\xF4\x90\x80\x80"),
        std::string("pi\xE2\x80")}) {
    EXPECT_EQ(eval_outcome(text).rfind("SyntaxError: ", 0), 0U) << eval_outcome(text);
  }
  std::mt19937 rng(12345);
  const std::string alphabet = "0123456789.+-*/()[]{}'\"\\jxeEpi_ \n#,:=<>!~^&|%@fbru\xC3\xA9\xFF";
  for (int i = 0; i < 5000; ++i) {
    std::string text;
    const auto length = static_cast<int>(rng() % 24);
    for (int k = 0; k < length; ++k)
      text += alphabet[rng() % alphabet.size()];
    try {
      const double value = eval_param(text);
      EXPECT_TRUE(std::isfinite(value)) << text;
    } catch (const corvane::qasm3::Error&) {
    }
  }
}

TEST(SafeEval, NamesAndAllowedOperators) {
  const auto tree = parse_expression("x*3 - pi");
  EXPECT_EQ(SafeEval(SafeEval::Names{{"x", 2.0}, {"pi", 1.0}}).visit(tree.root()), 5.0);
  EXPECT_THROW_MSG(SafeEval(SafeEval::Names{{"x", 2.0}}).visit(tree.root()), ValueError,
                   "Unknown name in expression: pi");
  EXPECT_THROW_MSG(SafeEval(SafeEval::Names{}).visit(tree.root()), ValueError,
                   "Unknown name in expression: x");
  const SafeEval fallback(SafeEval::Names{});
  ASSERT_EQ(fallback.names.size(), 1U);
  EXPECT_EQ(fallback.names.at("pi"), std::numbers::pi);
}

}  // namespace
