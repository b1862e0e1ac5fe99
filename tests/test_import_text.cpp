// The importer's text passes: comments, statements, declarations, statement syntax and
// gate-definition extraction, including hostile inputs that must stay linear.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qasm/import/qasm3_import.hpp"
#include "qasm/text/text.hpp"
#include "test_support.hpp"

namespace {

using corvane::RegisterDecl;
using namespace corvane::qasm3::detail;
using namespace std::string_literals;

// The text as messages quote it (named so that std::quoted is never picked by lookup).
std::string shown(std::string_view text) {
  return corvane::qasm3::detail::quoted(text);
}

std::vector<std::string> strings(const std::vector<std::string_view>& views) {
  return {views.begin(), views.end()};
}

// ------------------------------------------------------------------ strip_comments

struct TextCase {
  std::string input;
  std::string expected;
};

TEST(StripComments, RemovesLineCommentsThenBlockComments) {
  const std::vector<TextCase> cases = {
      {"h q; // note; x q;\nx q;", "h q; \nx q;"},
      {"a/*x*/b", "ab"},
      {"x q[0]; /* spans\ntwo lines */ y q[1];", "x q[0];  y q[1];"},
      // A "//" inside a block comment eats the "*/" on its line.
      {"/* a // b */ c;\nd;", "/* a \nd;"},
      {"/* x\n// y */ z\n*/w", "w"},
      // The carriage return goes with the line comment, the line feed stays.
      {"h q; // c\r\nx q;", "h q; \nx q;"},
      // Only the line feed ends a line comment.
      {"a // b\u2028c\u0085d\ve", "a "},
      {"a//", "a"},
      {"///x\ny", "\ny"},
      // "//" is found at its first slash, so "*//" loses the slash a "*/" would need.
      {"*//x\n*/", "*\n*/"},
      // A "*/" must come after the "/*": "/*/" does not close itself.
      {"a/*/b", "a/*/b"},
      {"/*/ x */y", "y"},
      {"/**/x", "x"},
      {"/***/x", "x"},
      // The nearest "*/" closes; blocks do not nest.
      {"/* a /* b */ c */", " c */"},
      {"/* a */ b /* c", " b /* c"},
      {"\"a//b\" q;", "\"a"},
      {"q\0// nul\0\nx"s, "q\0\nx"s},
      {"", ""},
      // No comment opener: unchanged, which without_comments returns without a copy.
      {"a/b; c / *d; e*/f; /", "a/b; c / *d; e*/f; /"},
      {"/", "/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(strip_comments(c.input), c.expected) << shown(c.input);
    std::string storage;
    const std::string_view text = without_comments(c.input, storage);
    EXPECT_EQ(text, c.expected) << shown(c.input);
    const bool has_opener =
        c.input.find("//") != std::string::npos || c.input.find("/*") != std::string::npos;
    if (!has_opener) {
      EXPECT_EQ(text.data(), c.input.data()) << shown(c.input);
    }
  }
}

TEST(StripComments, HostileInputStaysLinear) {
  // Each unterminated opener must not search the rest of the text again.
  const std::string openers = repeat("/* ", 1'000'000);
  EXPECT_TRUE(strip_comments(openers) == openers);
  EXPECT_EQ(strip_comments(openers + "*/x"), "x");
  EXPECT_EQ(strip_comments(repeat("/*", 6) + "*/x"), "***/x");
  EXPECT_TRUE(strip_comments(repeat("// c\n", 1'000'000)) == std::string(1'000'000, '\n'));
  const std::string long_line = "x" + std::string(5'000'000, 'a') + "// " + std::string(1000, 'b');
  EXPECT_TRUE(strip_comments(long_line) == long_line.substr(0, 5'000'001));
}

// ------------------------------------------------------------------ split_statements

struct SplitCase {
  std::string input;
  std::vector<std::string> expected;
};

TEST(SplitStatements, SplitsAtTopLevelSemicolons) {
  const std::vector<SplitCase> cases = {
      {"h q[0];;  ;x q[1];", {"h q[0]", "x q[1]"}},
      {"rz(pi/2) q[0]", {"rz(pi/2) q[0]"}},
      {"f(a;b) q; g", {"f(a;b) q", "g"}},
      {"x(; y; z", {"x(; y; z"}},
      {"(;)(;);", {"(;)(;)"}},
      {"a { b; c } ;", {"a { b", "c }"}},
      {"q[0;1]", {"q[0", "1]"}},
      {"", {}},
      {" \t\n; ;\r\n;", {}},
      // Unicode whitespace is trimmed, including the separators U+001C..U+001F.
      {"\u00a0h q\u3000;\u2028x q\u0085;\x1c y\x1f", {"h q", "x q", "y"}},
      {"a\0b;c"s, {"a\0b"s, "c"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(strings(split_statements(c.input)), c.expected) << shown(c.input);
    const StatementList list(c.input, {c.input});
    std::vector<std::string> listed;
    for (std::size_t k = 0; k < list.size(); ++k)
      listed.emplace_back(list[k]);
    EXPECT_EQ(listed, c.expected) << shown(c.input);
  }
}

TEST(SplitStatements, ViewsPointIntoTheBody) {
  const std::string body = "  h q ;x q";
  const auto stmts = split_statements(body);
  ASSERT_EQ(stmts.size(), 2u);
  EXPECT_EQ(stmts[0].data(), body.data() + 2);
  EXPECT_EQ(stmts[1].data(), body.data() + 7);
}

TEST(SplitStatements, RejectsACloseParenWithoutOpenAndDoesNotRecurse) {
  for (const std::string input : {"a); b(", "h q; x)", "(a))(", ")"})
    EXPECT_THROW_MSG(split_statements(input), ValueError, "Unbalanced parentheses");
  const std::string deep = repeat("(", 1'000'000) + repeat(")", 1'000'000);
  EXPECT_EQ(split_statements(deep + ";x").size(), 2u);
  EXPECT_EQ(split_statements(repeat("(;", 1'000'000)).size(), 1u);
  EXPECT_THROW_MSG(split_statements(deep + ")"), ValueError, "Unbalanced parentheses");
}

// ------------------------------------------------------------------ registers

struct RegisterCase {
  std::string code;
  std::vector<RegisterDecl> list;
  std::vector<std::pair<std::string, RegisterSpan>> map;
};

void expect_registers(const Registers& got, const RegisterCase& c) {
  EXPECT_EQ(got.list, c.list) << shown(c.code);
  EXPECT_EQ(got.map.size(), c.map.size()) << shown(c.code);
  for (const auto& [name, span] : c.map) {
    const RegisterSpan* found = got.map.find(name);
    ASSERT_NE(found, nullptr) << name << " in " << shown(c.code);
    EXPECT_EQ(found->offset, span.offset) << name << " in " << shown(c.code);
    EXPECT_EQ(found->size, span.size) << name << " in " << shown(c.code);
  }
}

TEST(QubitRegisters, LaysOutArraysThenScalars) {
  const std::vector<RegisterCase> cases = {
      {"qubit[2] a; qubit[3] b;", {{"a", 2}, {"b", 3}}, {{"a", {0, 2}}, {"b", {2, 3}}}},
      {"qubit s; qubit[2] a;", {{"a", 2}, {"s", 1}}, {{"a", {0, 2}}, {"s", {2, 1}}}},
      {"qubit[2] q; qubit[3] q;", {{"q", 2}, {"q", 3}}, {{"q", {2, 3}}}},
      {"qubit[2] q; qubit q; qubit q;", {{"q", 2}}, {{"q", {0, 2}}}},
      {"qubit s; qubit s; qubit[1] t;", {{"t", 1}, {"s", 1}}, {{"t", {0, 1}}, {"s", {1, 1}}}},
      {"qubit [ 4 ]  q ;", {{"q", 4}}, {{"q", {0, 4}}}},
      {"qubit[2]q;", {{"q", 2}}, {{"q", {0, 2}}}},
      {"qubit[0] q;", {{"q", 0}}, {{"q", {0, 0}}}},
      {"qubit[007] q;", {{"q", 7}}, {{"q", {0, 7}}}},
      {"qubit[9223372036854775807] a;", {{"a", INT64_MAX}}, {{"a", {0, INT64_MAX}}}},
      // Unicode whitespace, digits of other scripts by value, non-ASCII word characters.
      {"qubit\u00a0[\u3000\u0663\u2003]\u2029q\u0085;", {{"q", 3}}, {{"q", {0, 3}}}},
      {"qubit[\uff11\uff12] r\u00e9g;", {{"r\u00e9g", 12}}, {{"r\u00e9g", {0, 12}}}},
      {"\u00a0qubit[2] q;", {{"q", 2}}, {{"q", {0, 2}}}},
      // A failed try at one keyword does not hide the next one.
      {"qubit[2] qubit[3] r;", {{"r", 3}}, {{"r", {0, 3}}}},
      {"qubit qubit q;", {{"q", 1}}, {{"q", {0, 1}}}},
      {"qubit[2] qubit;", {{"qubit", 2}}, {{"qubit", {0, 2}}}},
      // Not declarations here.
      {"", {}, {}},
      {"myqubit[2] q; qubits[2] q; \u00e9qubit[2] q; qubit2 q;", {}, {}},
      {"qubit[2] \u00e9q; qubit[2] 1q; qubit[2] q = 0; qubit[] q; qubit[-1] q;", {}, {}},
      {"qreg q[2]; qubit[x] q; qubit[2] q[1]; qubit[\u00b2] q; qubit q", {}, {}},
      {"bit[2] c; bit c;", {}, {}},
  };
  for (const auto& c : cases)
    expect_registers(extract_qubit_registers(c.code), c);
}

TEST(BitRegisters, SameRulesWithTheBitKeyword) {
  const std::vector<RegisterCase> cases = {
      {"qubit[2] q; bit[3] c; bit d; bit[1] e;",
       {{"c", 3}, {"e", 1}, {"d", 1}},
       {{"c", {0, 3}}, {"e", {3, 1}}, {"d", {4, 1}}}},
      {"qubit q; qubit[2] r;", {}, {}},
      {"bit[2] c = 0; creg c[2]; orbit[2] c;", {}, {}},
      {"bit [ 2 ] c ; bit c;", {{"c", 2}}, {{"c", {0, 2}}}},
  };
  for (const auto& c : cases)
    expect_registers(extract_bit_registers(c.code), c);
}

TEST(Registers, ManyDeclarationsAndHostileText) {
  std::string code;
  for (int i = 0; i < 50'000; ++i)
    code += "qubit[2] r" + std::to_string(i) + ";\n";
  const Registers regs = extract_qubit_registers(code);
  ASSERT_EQ(regs.list.size(), 50'000u);
  EXPECT_EQ(regs.map.find("r49999")->offset, 99'998);
  // Failed tries must not rescan what the next keyword's try reads again.
  for (const std::string& hostile :
       {repeat("qubit[", 300'000), repeat("qubit ", 300'000), repeat("qubit[1] ", 200'000),
        "qubit[" + std::string(1'000'000, '1'), "qubit " + std::string(1'000'000, ' ') + "q"}) {
    EXPECT_TRUE(extract_qubit_registers(hostile).list.empty());
    EXPECT_TRUE(extract_bit_registers(hostile).list.empty());
  }
}

struct CountCase {
  std::string code;
  std::string name;
  std::int64_t expected;
};

TEST(ComputeNQubits, LargestIndexedUsePlusOne) {
  const std::vector<CountCase> cases = {
      {"h q[5]; x q[2];", "q", 6},
      {"h q[0];", "q", 1},
      {"h q;", "q", 1},
      {"", "q", 1},
      {"cx aq[4], q[1];", "q", 5},  // no word boundary in front of the name
      {"x q [ 3 ]; y q\u00a0[\u3000\u0667];", "q", 8},
      {"x q[1:3]; y q[-1]; z q[]; w q[4;", "q", 1},
      {"x q[1]q[2]", "q", 3},
      {"x q.r[3]; y qxr[9];", "q.r", 4},  // the name is literal text
      {"x a+[3]; y aa[9];", "a+", 4},
      {"  [4] [7]", "", 8},
      {"q[9223372036854775806]", "q", 9223372036854775807},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compute_n_qubits_from_body(c.code, c.name), c.expected) << shown(c.code);
  }
  EXPECT_THROW_MSG(compute_n_qubits_from_body("q[9223372036854775807]", "q"), ValueError,
                   "Qubit index too large: 9223372036854775807");
  EXPECT_THROW_MSG(compute_n_qubits_from_body("q[123456789012345678901234]", "q"), ValueError,
                   "Qubit index too large: 123456789012345678901234");
}

TEST(ComputeNQubits, WhitespaceNamesStayLinear) {
  const std::string spaces(2'000'000, ' ');
  EXPECT_EQ(compute_n_qubits_from_body(spaces + "[" + spaces + "x", " "), 1);
  EXPECT_EQ(compute_n_qubits_from_body(spaces + "[ 3 ]", ""), 4);
  EXPECT_EQ(compute_n_qubits_from_body(repeat("q[", 1'000'000), "q"), 1);
}

// ------------------------------------------------------------------ modifiers

struct ModifierCase {
  std::string input;
  std::vector<Modifier> mods;
  std::string rest;
};

TEST(ModifiersPrefix, PeelsCtrlAndNegctrl) {
  using enum Modifier;
  const std::vector<ModifierCase> cases = {
      {"ctrl @ negctrl @ x q[0], q[1]", {Ctrl, Negctrl}, "x q[0], q[1]"},
      {"negctrl@x q", {Negctrl}, "x q"},
      {" \n ctrl\u00a0@\u3000\n h q \u2028", {Ctrl}, "h q"},
      {"ctrl @", {Ctrl}, ""},
      {"ctrl @ ctrl", {Ctrl}, "ctrl"},
      {"ctrl @ @ x", {Ctrl}, "@ x"},
      {"ctrl(2) @ x a, b", {}, "ctrl(2) @ x a, b"},
      {"inv @ h q", {}, "inv @ h q"},
      {"ctrlx @ h q", {}, "ctrlx @ h q"},
      {"Ctrl @ h q", {}, "Ctrl @ h q"},
      {"ctrl h q", {}, "ctrl h q"},
      {"", {}, ""},
  };
  ModifierPrefix reused;  // one statement after another, nothing may carry over
  for (const auto& c : cases) {
    const ModifierPrefix got = parse_modifiers_prefix(c.input);
    EXPECT_EQ(got.mods, c.mods) << shown(c.input);
    EXPECT_EQ(got.rest, c.rest) << shown(c.input);
    parse_modifiers_prefix(c.input, reused);
    EXPECT_EQ(reused.mods, c.mods) << shown(c.input);
    EXPECT_EQ(reused.rest, c.rest) << shown(c.input);
  }
}

TEST(ModifiersPrefix, LongChainsAreLinear) {
  const std::string chain = repeat("ctrl @ ", 1'000'000) + "x q";
  const ModifierPrefix got = parse_modifiers_prefix(chain);
  EXPECT_EQ(got.mods.size(), 1'000'000u);
  EXPECT_EQ(got.rest, "x q");
  EXPECT_EQ(got.rest.data(), chain.data() + chain.size() - 3);
}

// ------------------------------------------------------------------ op and args

struct OpCase {
  std::string input;
  std::string op;
  std::optional<std::vector<double>> params;
  std::vector<std::string> operands;
};

TEST(OpAndArgs, SplitsNameParametersAndOperands) {
  const std::vector<OpCase> cases = {
      {"h q[0]", "h", std::nullopt, {"q[0]"}},
      {"rz(0.5) q[1]", "rz", std::vector{0.5}, {"q[1]"}},
      {"  U (1, 2,3)  q , r  ", "U", std::vector{1.0, 2.0, 3.0}, {"q", "r"}},
      {"rz( -1.5 )q", "rz", std::vector{-1.5}, {"q"}},
      {"gphase()", "gphase", std::vector<double>{}, {}},
      {"gphase( \t )", "gphase", std::vector<double>{}, {}},
      {"barrier", "barrier", std::nullopt, {}},
      {"cx q[0],  q[1] ,", "cx", std::nullopt, {"q[0]", "q[1]"}},
      {"x ,, q ,", "x", std::nullopt, {"q"}},
      {"x q[0,1]", "x", std::nullopt, {"q[0", "1]"}},
      {"ctrl(2) @ x a, b", "ctrl", std::vector{2.0}, {"@ x a", "b"}},
      {"h(1)(2) q", "h", std::vector{1.0}, {"(2) q"}},
      {"h q(1)", "h", std::nullopt, {"q(1)"}},
      {"_x1\u00e9\u0663\u00a0q", "_x1\u00e9\u0663", std::nullopt, {"q"}},
      {"measure q -> c", "measure", std::nullopt, {"q -> c"}},
      // parameters are evaluated expressions
      {"rz((pi)/2) q[0]", "rz", std::vector{1.5707963267948966}, {"q[0]"}},
      {"U(-pi/2, (1+1)*0.25) q", "U", std::vector{-1.5707963267948966, 0.5}, {"q"}},
  };
  OpCall reused;  // one statement after another, nothing may carry over
  for (const auto& c : cases) {
    const OpCall got = parse_op_and_args(c.input);
    EXPECT_EQ(got.op, c.op) << shown(c.input);
    EXPECT_EQ(got.params, c.params) << shown(c.input);
    EXPECT_EQ(strings(got.operands), c.operands) << shown(c.input);
    parse_op_and_args(c.input, reused);
    EXPECT_EQ(reused.op, c.op) << shown(c.input);
    EXPECT_EQ(reused.params, c.params) << shown(c.input);
    EXPECT_EQ(strings(reused.operands), c.operands) << shown(c.input);
  }
}

TEST(OpAndArgs, ParameterErrorsPassThroughInOrder) {
  // Pieces are evaluated in order and the evaluator's error passes through unchanged;
  // a comma inside nested parentheses still splits.
  EXPECT_THROW_MSG(parse_op_and_args("rz(1, tau, 2**3) q"), ValueError,
                   "Unknown name in expression: tau");
  EXPECT_THROW_MSG(parse_op_and_args("rz(2**3, tau) q"), ValueError,
                   "Unsupported binary operator: Pow");
  EXPECT_EQ(outcome_of([] { parse_op_and_args("rz(,1) q"); }).rfind("SyntaxError: ", 0), 0u);
  EXPECT_EQ(outcome_of([] { parse_op_and_args("rz((1,2)) q"); }).rfind("SyntaxError: ", 0), 0u);
}

TEST(OpAndArgs, RejectsMissingNameAndUnclosedList) {
  const std::vector<TextCase> bad_name = {
      {"1x q", "Cannot parse op name from: '1x q'"},
      {" \t\n", "Cannot parse op name from: ''"},
      {"\u00e9 q", "Cannot parse op name from: '\u00e9 q'"},
      {"'x\\ q\t", "Cannot parse op name from: \"'x\\\\ q\""},
  };
  for (const auto& c : bad_name)
    EXPECT_THROW_MSG(parse_op_and_args(c.input), ValueError, c.expected);
  const std::vector<TextCase> unclosed = {
      {" rz((1) q ", "Unclosed parameter list in: 'rz((1) q'"},
  };
  for (const auto& c : unclosed)
    EXPECT_THROW_MSG(parse_op_and_args(c.input), ValueError, c.expected);
}

TEST(OpAndArgs, DeepParenthesesAreWalkedNotRecursed) {
  const std::string deep = "f" + repeat("(", 1'000'000) + " q";
  EXPECT_THROW_MSG(parse_op_and_args(deep), ValueError,
                   "Unclosed parameter list in: " + shown(deep));
  const std::string many_operands = "barrier " + repeat("q, ", 1'000'000);
  EXPECT_EQ(parse_op_and_args(many_operands).operands.size(), 1'000'000u);
}

// ------------------------------------------------------------------ identifier lists

TEST(IdentList, KeepsNonEmptyIdentifiers) {
  const std::vector<SplitCase> cases = {
      {"a, b ,,c", {"a", "b", "c"}},
      {"", {}},
      {" , ,\u00a0", {}},
      {"_, a\u00e9\u0663, Z9", {"_", "a\u00e9\u0663", "Z9"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(parse_ident_list(c.input), c.expected) << shown(c.input);
  const std::vector<TextCase> bad = {
      {"a, 2b", "Invalid identifier: '2b'"},    {"(theta) a", "Invalid identifier: '(theta) a'"},
      {"a b, 1c", "Invalid identifier: 'a b'"}, {"\u00e9", "Invalid identifier: '\u00e9'"},
      {"a-b", "Invalid identifier: 'a-b'"},
  };
  for (const auto& c : bad)
    EXPECT_THROW_MSG(parse_ident_list(c.input), ValueError, c.expected);
}

// ------------------------------------------------------------------ gate definitions

struct ExpectedDef {
  std::string name;
  std::vector<std::string> args;
  std::vector<std::string> body_stmts;
};

struct DefsCase {
  std::string code;
  std::vector<ExpectedDef> defs;
  std::string main_text;
};

void expect_defs(const ExtractedDefs& got, const DefsCase& c) {
  EXPECT_EQ(got.main_text, c.main_text) << shown(c.code);
  EXPECT_EQ(got.defs.size(), c.defs.size()) << shown(c.code);
  for (const ExpectedDef& def : c.defs) {
    const auto it = got.defs.find(def.name);
    ASSERT_NE(it, got.defs.end()) << def.name << " in " << shown(c.code);
    EXPECT_EQ(it->second.args, def.args) << def.name << " in " << shown(c.code);
    EXPECT_EQ(it->second.body_stmts, def.body_stmts) << def.name << " in " << shown(c.code);
  }
}

TEST(GateDefs, ExtractsTopLevelDefinitions) {
  const std::vector<DefsCase> cases = {
      {"x q[0];\ngate g a, b { cx a, b; h b; }\ny q[1];",
       {{"g", {"a", "b"}, {"cx a, b", "h b"}}},
       "x q[0];\n\ny q[1];"},
      {"gate id2 { }", {{"id2", {}, {}}}, ""},
      {"gate g a { U(0, 0, 0) a; { x a; } }", {{"g", {"a"}, {"U(0, 0, 0) a", "{ x a", "}"}}}, ""},
      {"gate g a { h a; } gate g b { x b; } z;", {{"g", {"b"}, {"x b"}}}, "  z;"},
      {"gate g a {}gate k b {}", {{"g", {"a"}, {}}, {"k", {"b"}, {}}}, ""},
      {"gate\u00a0g\u3000a,\u2003b, \u2029{\n h a;\n}", {{"g", {"a", "b"}, {"h a"}}}, ""},
      {"gate gate a { h a; }", {{"gate", {"a"}, {"h a"}}}, ""},
      {"gate g a { gate k b { x b; } }", {{"g", {"a"}, {"gate k b { x b", "}"}}}, ""},
      {"gate g\u00e9\u0663 a { h a; }", {{"g\u00e9\u0663", {"a"}, {"h a"}}}, ""},
      {"(gate g a { h a; })", {{"g", {"a"}, {"h a"}}}, "()"},
      // A brace before the keyword that the scan passed keeps later ones inside a block.
      {"box { gate g a { h a; } }", {}, "box { gate g a { h a; } }"},
      {"} gate g a { h a; }", {}, "} gate g a { h a; }"},
      {"} gate g a { h a; } { gate k b { x b; }",
       {{"k", {"b"}, {"x b"}}},
       "} gate g a { h a; } { "},
      // Headers that do not match stay in the main text.
      {"gate g(theta) a { rz(theta) a; }", {}, "gate g(theta) a { rz(theta) a; }"},
      {"gate id2{ }", {}, "gate id2{ }"},
      {"gate g a } { h a; }", {}, "gate g a } { h a; }"},
      {"gate 1g a { }", {}, "gate 1g a { }"},
      {"gate g", {}, "gate g"},
      {"gate g a { h a; } gate", {{"g", {"a"}, {"h a"}}}, " gate"},
      {"gates q; mygate q; gate_x q; \u00e9gate g a { } gate\u00e9 g a { }",
       {},
       "gates q; mygate q; gate_x q; \u00e9gate g a { } gate\u00e9 g a { }"},
      {"no definitions;", {}, "no definitions;"},
  };
  for (const auto& c : cases)
    expect_defs(extract_gate_defs(c.code), c);
}

// The importer reads the main text as pieces of the program instead of joining them.
// Its statements must be those of the joined text, also where one runs across the gap a
// definition left, and parentheses are balanced across gaps.
std::string statements_of_pieces(const std::string& code) {
  return outcome_of([&] {
    const DefinitionScan scan = scan_gate_defs(code);
    const StatementList list(code, scan.main_pieces);
    std::string out;
    for (std::size_t k = 0; k < list.size(); ++k)
      out += shown(list[k]) + ' ';
    return out;
  });
}

std::string statements_of_joined_text(const std::string& code) {
  return outcome_of([&] {
    const ExtractedDefs extracted = extract_gate_defs(code);
    std::string out;
    for (std::string_view stmt : split_statements(extracted.main_text))
      out += shown(stmt) + ' ';
    return out;
  });
}

TEST(GateDefs, PiecesGiveTheStatementsOfTheJoinedMainText) {
  const std::vector<std::string> programs = {
      "h q gate g a { x a; } ; x q;",
      "rz(0.5 gate g a { x a; } ) q; y q",
      " a gate g a { } gate k b { } b ; c",
      "gate g a { } gate k b { }",
      "x q; gate g a { } \u00a0",
      ") gate g a { } ;",
      "gate g a { } ) ;",
      "",
  };
  for (const std::string& code : programs)
    EXPECT_EQ(statements_of_pieces(code), statements_of_joined_text(code)) << shown(code);

  // Random programs from fragments that put statements, parentheses and definitions in
  // every order.
  const std::vector<std::string_view> fragments = {
      "h q", ";", " ", "(", ")", "gate g a { x a; }", "gate k b {}", "\n", "\u00a0", "x", "{", "}"};
  std::uint64_t state = 12345;
  const auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::size_t>(state >> 33U);
  };
  for (int round = 0; round < 3000; ++round) {
    std::string code;
    const std::size_t length = next() % 16;
    for (std::size_t i = 0; i < length; ++i)
      code += fragments[next() % fragments.size()];
    ASSERT_EQ(statements_of_pieces(code), statements_of_joined_text(code)) << shown(code);
  }
}

TEST(GateDefs, FailuresInCheckingOrder) {
  const std::vector<TextCase> value_errors = {
      {"gate g\u00e9 a { { }", "Unclosed gate body for g\u00e9"},
      {"gate g (theta) a { rz(theta) a; }", "Invalid identifier: '(theta) a'"},
      // The argument list is read before the body is walked, the body split after.
      {"gate g a, 1b { h a;", "Invalid identifier: '1b'"},
      {"gate g a { h a; } gate k b { x b;", "Unclosed gate body for k"},
  };
  for (const auto& c : value_errors) {
    EXPECT_THROW_MSG(extract_gate_defs(c.input), ValueError, c.expected);
  }
}

// The driver's tests hold the limit on plain keywords.
TEST(GateDefs, IterationLimitTripsAtTwoMillionKeywords) {
  const std::string limit_message =
      "Too many iterations while parsing gate definitions \u2014 possible malformed QASM.";
  EXPECT_THROW_MSG(extract_gate_defs("{" + repeat("gate\n", 2'000'000)), RuntimeError,
                   limit_message);
  // One keyword fewer leaves the loop on its last allowed pass.
  const std::string below = repeat("gate ", 1'999'999);
  EXPECT_TRUE(extract_gate_defs(below).main_text == below);
}

TEST(GateDefs, HostileTextStaysLinear) {
  // A long brace-free stretch after each header must not be rescanned per keyword.
  const std::string headers = repeat("gate a " + std::string(16, ' '), 200'000);
  EXPECT_TRUE(extract_gate_defs(headers).main_text == headers);
  const std::string unbalanced = repeat("{", 1'000'000) + "gate g a { }";
  EXPECT_TRUE(extract_gate_defs(unbalanced).defs.empty());
  EXPECT_THROW_MSG(extract_gate_defs("gate g a " + repeat("{", 1'000'000)), ValueError,
                   "Unclosed gate body for g");
  std::string many;
  for (int i = 0; i < 100'000; ++i)
    many += "gate g" + std::to_string(i) + " a { h a; }\nh q;\n";
  const ExtractedDefs got = extract_gate_defs(many);
  EXPECT_EQ(got.defs.size(), 100'000u);
  EXPECT_TRUE(got.main_text == repeat("\nh q;\n", 100'000));
}

}  // namespace
