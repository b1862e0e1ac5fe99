// The parameter-expression evaluator: accepted values, every rejection and its walk order,
// the non-ValueError kinds, nesting bounds and hostile bytes.
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "qasm/import/qasm3_eval.hpp"
#include "test_support.hpp"

namespace {

using corvane::qasm3::detail::eval_param;
using corvane::qasm3::detail::parse_expression;
using corvane::qasm3::detail::SafeEval;

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
  for (const std::string& text : std::vector<std::string>{
           "1.5", "1e-3", ".5", "5.", "1_000", "123456789012345678901234567890", "2.5e-308",
           "4.9e-324", "1e-400", "0.1", "17976931348623157" + std::string(292, '0')}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(eval_param(text), eval_param("(" + text + ")"));
  }
}

struct ErrorCase {
  std::string text;
  std::string outcome;  // behind the prefix given with the table
};

void expect_outcomes(const std::string& prefix, const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(eval_outcome(c.text), prefix + c.outcome);
  }
}

TEST(EvalParam, RejectedOperators) {
  const std::vector<ErrorCase> binary = {
      {"2**3", "Pow"},    {"7//2", "FloorDiv"}, {"7%2", "Mod"},    {"a@b", "MatMult"},
      {"1<<2", "LShift"}, {"1>>2", "RShift"},   {"1&2", "BitAnd"}, {"1^2", "BitXor"},
      {"1|2", "BitOr"},   {"-2**2", "Pow"},     {"2**-1", "Pow"},  {"1+2|3", "BitOr"},
  };
  expect_outcomes("ValueError: Unsupported binary operator: ", binary);
  const std::vector<ErrorCase> unary = {
      {"~1", "Invert"},
      {"not 1", "Not"},
      {"not not 1", "Not"},
      {"-~1", "Invert"},
  };
  expect_outcomes("ValueError: Unsupported unary operator: ", unary);
}

TEST(EvalParam, RejectedNamesAndConstants) {
  const std::vector<ErrorCase> names = {
      {"e", "e"}, {"PI", "PI"},   {"Pi*2", "Pi"},
      {"_", "_"}, {"pi2", "pi2"}, {"\xC3\xA9", "\xC3\xA9"},
  };
  expect_outcomes("ValueError: Unknown name in expression: ", names);
  // Constants are named as the host's repr() writes them.
  const std::vector<ErrorCase> constants = {
      {"2j", "2j"},
      {"-2j", "2j"},
      {"1.5J", "1.5j"},
      {"1e16j", "1e+16j"},
      {"1e15j", "1000000000000000j"},
      {"1e-5j", "1e-05j"},
      {"1e400j", "infj"},
      {"'a'", "'a'"},
      {"\"it's\"", "\"it's\""},
      {"'a' \"b\"", "'ab'"},
      {"'''x'''", "'x'"},
      {"'\\x00\\t'", "'\\x00\\t'"},
      {"'\\u00e9\\101'",
       "'\xC3\xA9"
       "A'"},
      {"'\\ud800'", "'\\ud800'"},
      {"'\\q'", "'\\\\q'"},
      {"r'\\n'", "'\\\\n'"},
      {"u'x'", "'x'"},
      {"b'a'", "b'a'"},
      {"Rb'\\x'", "b'\\\\x'"},
      {"b'\\xff\\777'", "b'\\xff\\xff'"},
      {"b\"'\"", "b\"'\""},
      {"None", "None"},
      {"...", "Ellipsis"},
  };
  expect_outcomes("ValueError: Unsupported constant: ", constants);
}

TEST(EvalParam, RejectedNodeKinds) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> kinds = {
      {"Call", {"sin(pi)", "f(x for x in y)", "f(*a, k=1, **b)"}},
      {"Attribute", {"a.b", "1 .real"}},
      {"Subscript", {"a[1:2, ::3]"}},
      {"Compare", {"a < b < c", "1 not in 2", "a is not b"}},
      {"BoolOp", {"a and b", "1or 2"}},
      {"IfExp", {"x if y else z", "1if 1else 2"}},
      {"Tuple", {"(1, 2)", "1,", "()"}},
      {"List", {"[1]"}},
      {"Set", {"{1}"}},
      {"Dict", {"{}", "{**a, 1: 2}"}},
      {"ListComp", {"[x for x in y if x]"}},
      {"SetComp", {"{x for x, in y}"}},
      {"DictComp", {"{x: 1 for x in y}"}},
      {"GeneratorExp", {"(x async for x in y)"}},
      {"Lambda", {"lambda a, /, b=1, *c, d, **e: 0"}},
      {"JoinedStr", {"f'{x!r:>{w}}'", "'a' f'b'"}},
      {"NamedExpr", {"(x := 1)"}},
      {"Await", {"await x"}},
      {"Yield", {"(yield)"}},
      {"YieldFrom", {"(yield from x)"}},
  };
  for (const auto& [kind, texts] : kinds) {
    for (const std::string& text : texts)
      EXPECT_EQ(eval_outcome(text), "ValueError: Unsupported expression node: " + kind) << text;
  }
}

// The first wrong node in walk order decides: an operator before its operands, a left
// operand completely before the right one.
TEST(EvalParam, WalkOrder) {
  const std::vector<ErrorCase> cases = {
      {"x + 2**3", "ValueError: Unknown name in expression: x"},
      {"2**x", "ValueError: Unsupported binary operator: Pow"},
      {"sin(x)", "ValueError: Unsupported expression node: Call"},
      {"1 + sin(x)", "ValueError: Unsupported expression node: Call"},
      {"-(2**x)", "ValueError: Unsupported binary operator: Pow"},
      {"~x", "ValueError: Unsupported unary operator: Invert"},
      {"1 - -x", "ValueError: Unknown name in expression: x"},
      {"1 + 2 + x + 3**2", "ValueError: Unknown name in expression: x"},
      {"1 + 2 + 3**2 + x", "ValueError: Unsupported binary operator: Pow"},
      {"(1, 2) * x", "ValueError: Unsupported expression node: Tuple"},
      {"2j + x", "ValueError: Unsupported constant: 2j"},
      {"1/0 + x", "ZeroDivisionError: float division by zero"},
      {"(x + 1) % 2", "ValueError: Unsupported binary operator: Mod"},
      {"1e308*10 + x", "ValueError: Unknown name in expression: x"},
      {repeat("9", 400) + " + x", "OverflowError: int too large to convert to float"},
  };
  expect_outcomes("", cases);
}

TEST(EvalParam, NonFiniteResults) {
  const std::vector<ErrorCase> cases = {
      {"inf", "'inf'"},
      {"  -Infinity\n", "'-Infinity'"},
      {"NaN", "'NaN'"},
      {"1e400", "'1e400'"},
      {"-1e308*10", "'-1e308*10'"},
      {"(1e308*10)-(1e308*10)", "'(1e308*10)-(1e308*10)'"},
      {"1e999 # it's", "\"1e999 # it's\""},
      {repeat("9", 400), "'" + repeat("9", 400) + "'"},
  };
  expect_outcomes("ValueError: QASM gate parameter must be finite; got ", cases);
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
  expect_outcomes("", {
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
