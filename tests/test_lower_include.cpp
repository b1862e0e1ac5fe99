// Lowering a program that includes files of its own: where they are found (beside the
// including file, then the search path in order), that they read as if their text stood
// at the include, and the errors of finding them and in them, placed in their file.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "lower_test_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace lower_test;
using namespace std::string_literals;

// A fresh folder of files for one case, removed afterwards.
class Folder {
 public:
  explicit Folder(const std::string& name)
      : root_(fs::path(testing::TempDir()) /
              ("corvane_include_" + std::to_string(::getpid()) + "_" + name)) {
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void write(const std::string& relative, std::string_view text) const {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string path(const std::string& relative) const { return (root_ / relative).string(); }
  // A path under the folder as the case names it: relative to the folder.
  std::string relative(const std::string& path) const {
    const std::string prefix = root_.string() + "/";
    return path.starts_with(prefix) ? path.substr(prefix.size()) : path;
  }

 private:
  fs::path root_;
};

using Files = std::vector<std::pair<std::string, std::string>>;

struct Case {
  std::string name;
  Files files;                      // relative path, text
  std::string program;              // the text lowered
  std::string source;               // the program's own path in the folder; "": none
  std::vector<std::string> search;  // folders of the search path, in the folder
  std::string expected;             // the lowered text without the header, or "<Kind>: <message>"
  std::string place = {};           // errors: "FILE:LINE:COLUMN", FILE "" for the program
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

qasm3::LowerOptions options_in(const Folder& folder, const Case& c) {
  qasm3::LowerOptions options;
  if (!c.source.empty()) options.source_path = folder.path(c.source);
  for (const std::string& search : c.search)
    options.include_paths.push_back(folder.path(search));
  return options;
}

class LowersIncluding : public testing::TestWithParam<Case> {};

TEST_P(LowersIncluding, AsIfTheTextStoodThere) {
  const Case& c = GetParam();
  const Folder folder(c.name);
  for (const auto& [path, text] : c.files)
    folder.write(path, text);
  try {
    expect_lowers_to(c.program, c.expected, options_in(folder, c));
    EXPECT_TRUE(c.place.empty()) << "expected an error";
  } catch (const qasm3::Error& e) {
    EXPECT_EQ(std::string(e.kind()) + ": " + e.what(), c.expected);
    ASSERT_TRUE(e.location().has_value());
    const qasm3::Location& where = *e.location();
    EXPECT_EQ(folder.relative(where.file) + ":" + std::to_string(where.line) + ":" +
                  std::to_string(where.column),
              c.place);
  }
}

const std::string GATES =
    "gate twist(t) a, b { rz(t) a; cx a, b; rz(-t) b; }\n"
    "gate pair a, b { h a; cx a, b; }\n";

INSTANTIATE_TEST_SUITE_P(
    Found, LowersIncluding,
    testing::Values(
        Case{"beside_the_program",
             {{"gates.inc", GATES}},
             "include \"gates.inc\";\nqubit[2] q;\ntwist(0.5) q[0], q[1];\npair q[1], q[0];",
             "main.qasm",
             {},
             "gate pair a, b {\n  h a;\n  cx a, b;\n}\nqubit[2] q;\nrz(0.5) q[0];\ncx q[0], "
             "q[1];\nrz(-0.5) q[1];\npair q[1], q[0];\n"},
        Case{"nested_beside_each_including_file",
             {{"lib/outer.inc", "include \"inner/deep.inc\";\ngate outer a { deep a; x a; }\n"},
              {"lib/inner/deep.inc", "gate deep a { h a; }\n"},
              {"src/.keep", ""}},
             "include \"lib/outer.inc\";\nqubit q;\nouter q;",
             "src/../main.qasm",
             {},
             "gate deep a {\n  h a;\n}\ngate outer a {\n  deep a;\n  x a;\n}\nqubit q;\nouter "
             "q;\n"},
        Case{"the_search_path_in_order_after_the_including_folder",
             {{"first/g.inc", "gate g a { x a; }\n"},
              {"second/g.inc", "gate g a { y a; }\n"},
              {"second/only.inc", "gate only a { z a; }\n"},
              {"here/h.inc", "gate h2 a { s a; }\n"},
              {"first/h.inc", "gate h2 a { t a; }\n"}},
             "include \"g.inc\"; include \"only.inc\"; include \"h.inc\"; qubit q; g q; only q; "
             "h2 q;",
             "here/main.qasm",
             {"first", "second"},
             "gate g a {\n  x a;\n}\ngate only a {\n  z a;\n}\ngate h2 a {\n  s a;\n}\nqubit "
             "q;\ng q;\nonly q;\nh2 q;\n"},
        Case{"text_without_a_path_through_the_search_path",
             {{"lib/g.inc", "gate g a { x a; }\n"}, {"g.inc", "gate g a { y a; }\n"}},
             "include \"g.inc\"; qubit q; g q;",
             "",
             {"lib"},
             "gate g a {\n  x a;\n}\nqubit q;\ng q;\n"},
        // The language reference's example of scopes across an include: the file sees
        // what the program declared before it, the program what the file declares.
        Case{"declarations_and_statements_both_ways",
             {{"defs.qasm",
               "int j = i + 5;\nqubit[2] r;\nconst float half = 0.5;\n"
               "def flip(qubit a) -> bit { x a; return measure a; }\nrx(j) q;\n"}},
             "qubit q; int i = 100; include \"defs.qasm\"; bit b = flip(r[1]); ry(half * j) r[0];",
             "main.qasm",
             {},
             "qubit q;\nqubit[2] r;\nrx(105.0) q;\nbit b;\nx r[1];\nb = measure r[1];\n"
             "ry(52.5) r[0];\n"},
        // A gate is declared once, in included files too: the calls before a second
        // definition would otherwise import with its body.
        Case{"a_gate_defined_again_by_another_file",
             {{"a.inc", "gate g a { x a; }\n"}, {"b.inc", "gate g a { y a; }\n"}},
             "qubit q; include \"a.inc\"; g q; include \"b.inc\"; g q;",
             "main.qasm",
             {},
             "ValueError: 'g' is already declared",
             "b.inc:1:1"},
        Case{"end_in_a_file_ends_the_program",
             {{"stop.inc", "x q;\nend;\ny q;\n"}},
             "qubit q; include \"stop.inc\"; z q;",
             "main.qasm",
             {},
             "qubit q;\nx q;\n"},
        // An OpenQASM 2 program's files are OpenQASM 2 too: `^` is a power there.
        Case{"openqasm2_files_of_an_openqasm2_program",
             {{"old.inc", "gate sq(t) a { u1(t^2) a; }\n"}},
             "OPENQASM 2.0; include \"qelib1.inc\"; include \"old.inc\"; qreg q[1]; sq(3) q[0];",
             "main.qasm",
             {},
             "qubit[1] q;\nU(0.0, 0.0, 9.0) q[0];\n"},
        Case{"a_byte_order_mark_is_no_part_of_a_file",
             {{"g.inc", "\xEF\xBB\xBFgate g a { x a; }\n"}},
             "include \"g.inc\"; qubit q; g q;",
             "main.qasm",
             {},
             "gate g a {\n  x a;\n}\nqubit q;\ng q;\n"},
        Case{"hardware_qubits_of_a_file_size_the_register",
             {{"hw.inc", "x $4;\n"}},
             "include \"hw.inc\"; h $1;",
             "main.qasm",
             {},
             "qubit[5] hw;\nx hw[4];\nh hw[1];\n"},
        Case{"local_bits_avoid_the_names_of_files",
             {{"loop.inc", "qubit q; bit b_1; for int i in [0:1] { bit b = measure q; }\n"}},
             "include \"loop.inc\";",
             "main.qasm",
             {},
             "qubit q;\nbit b_1;\nbit b_2;\nb_2 = measure q;\nb_2 = measure q;\n"},
        Case{"a_subroutine_of_a_file_with_a_sized_register_argument",
             {{"sub.inc", "const int n = 2;\ndef both(qubit[n] r, int[8 * n] k) { rz(k) r; }\n"}},
             "include \"sub.inc\"; qubit[2] q; both(q, 3);",
             "main.qasm",
             {},
             "qubit[2] q;\nrz(3.0) q[0];\nrz(3.0) q[1];\n"}),
    row_name<Case>);

INSTANTIATE_TEST_SUITE_P(
    Refused, LowersIncluding,
    testing::Values(Case{"not_found_placed_at_the_include",
                         {{"other/g.inc", "gate g a { x a; }\n"}},
                         "qubit q;\n  include \"g.inc\";",
                         "main.qasm",
                         {},
                         "ValueError: Include file 'g.inc' not found",
                         ":2:3"},
                    Case{"nothing_is_read_without_a_place_to_look",
                         {{"g.inc", "gate g a { x a; }\n"}},
                         "include \"g.inc\";",
                         "",
                         {},
                         "ValueError: Include file 'g.inc' not found",
                         ":1:1"},
                    Case{"a_folder_is_no_file",
                         {{"g.inc/inner", ""}},
                         "include \"g.inc\";",
                         "main.qasm",
                         {},
                         "ValueError: Include file 'g.inc' not found",
                         ":1:1"},
                    Case{"a_cycle_at_the_include_that_closes_it",
                         {{"a.inc", "gate a1 q { x q; }\ninclude \"b.inc\";\n"},
                          {"b.inc", "gate b1 q { x q; }\n\ninclude \"a.inc\";\n"}},
                         "include \"a.inc\";",
                         "main.qasm",
                         {},
                         "ValueError: Include cycle: 'a.inc' is already being included",
                         "b.inc:3:1"},
                    Case{"the_program_including_itself",
                         {{"main.qasm", "qubit q;\ninclude \"main.qasm\";"}},
                         "qubit q;\ninclude \"main.qasm\";",
                         "main.qasm",
                         {},
                         "ValueError: Include cycle: 'main.qasm' is already being included",
                         ":2:1"},
                    Case{"an_error_in_a_file_placed_in_it",
                         {{"lib/g.inc", "gate g a {\n  x a;\n  nosuch a;\n}\n"}},
                         "include \"lib/g.inc\"; qubit q; g q;",
                         "main.qasm",
                         {},
                         "ValueError: Unknown gate 'nosuch'",
                         "lib/g.inc:3:3"},
                    Case{"a_syntax_error_in_a_file_placed_in_it",
                         {{"g.inc", "gate g a { x a; }\nqubit[2 q;\n"}},
                         "qubit p;\ninclude \"g.inc\";",
                         "main.qasm",
                         {},
                         "ValueError: Expected ']', found 'q'",
                         "g.inc:2:9"},
                    Case{"invalid_utf8_in_a_file_placed_in_it",
                         {{"g.inc", "// ok\nqubit \xff;\n"}},
                         "include \"g.inc\";",
                         "main.qasm",
                         {},
                         "ValueError: Input is not valid UTF-8: invalid start byte at byte 12",
                         "g.inc:2:7"},
                    // The body of a gate is placed where it is written, whoever calls it.
                    Case{"a_file_calling_a_gate_of_the_program",
                         {{"call.inc", "qubit q;\nbad(0) q;\n"}},
                         "gate bad(t) a {\n  rx(1 / t) a;\n}\ninclude \"call.inc\";",
                         "main.qasm",
                         {},
                         "ZeroDivisionError: float division by zero",
                         ":2:8"},
                    Case{"the_program_calling_a_gate_of_a_file",
                         {{"gate.inc", "gate bad(t) a {\n  rx(1 / t) a;\n}\n"}},
                         "include \"gate.inc\";\nqubit q;\nbad(0) q;",
                         "main.qasm",
                         {},
                         "ZeroDivisionError: float division by zero",
                         "gate.inc:2:8"},
                    Case{"a_definition_in_a_file_calling_an_unknown_gate",
                         {{"g.inc", "gate g a {\n  later a;\n}\n"}},
                         "include \"g.inc\"; qubit q; g q;",
                         "main.qasm",
                         {},
                         "ValueError: Unknown gate 'later'",
                         "g.inc:2:3"},
                    Case{"only_in_the_global_scope",
                         {{"g.inc", "gate g a { x a; }\n"}},
                         "qubit q;\nif (true) {\n  include \"g.inc\";\n}",
                         "main.qasm",
                         {},
                         "ValueError: Files can only be included in the global scope",
                         ":3:3"},
                    Case{"break_at_the_top_of_a_file",
                         {{"g.inc", "qubit q;\nbreak;\n"}},
                         "include \"g.inc\";",
                         "main.qasm",
                         {},
                         "ValueError: 'break', 'continue', 'return' or 'end' outside its place",
                         "g.inc:2:1"},
                    Case{"hardware_qubit_out_of_range_in_a_file",
                         {{"hw.inc", "x $99999999999999999999;\n"}},
                         "include \"hw.inc\";",
                         "main.qasm",
                         {},
                         "ValueError: Hardware qubit $99999999999999999999 is out of range",
                         "hw.inc:1:3"}),
    row_name<Case>);

TEST(LowerIncludes, AnAbsoluteNameIsUsedAsWritten) {
  const Folder folder("absolute");
  folder.write("abs/g.inc", "gate g a { x a; }\n");
  const std::string program = "include \"" + folder.path("abs/g.inc") + "\"; qubit q; g q;";
  EXPECT_EQ(qasm3::lower_qasm3(program, {.include_paths = {folder.path("elsewhere")}}),
            std::string(HEADER) + "gate g a {\n  x a;\n}\nqubit q;\ng q;\n");
}

// One file by two names is one file: including it under the other name closes a cycle.
TEST(LowerIncludes, ACycleThroughALinkIsACycle) {
  const Folder folder("link");
  folder.write("a.inc", "include \"link.inc\";\n");
  fs::create_symlink(folder.path("a.inc"), folder.path("link.inc"));
  EXPECT_EQ(outcome_of([&] {
              qasm3::lower_qasm3("include \"a.inc\";", {.source_path = folder.path("main.qasm")});
            }),
            "ValueError: Include cycle: 'link.inc' is already being included");
}

// A name that holds a NUL byte would be read by the system up to it only.
TEST(LowerIncludes, ANameWithANulByteNamesNoFile) {
  const Folder folder("nul");
  folder.write("a", "gate g a { x a; }\n");
  const std::string program = "include \"a\0.inc\";"s;
  EXPECT_EQ(
      outcome_of([&] { qasm3::lower_qasm3(program, {.source_path = folder.path("main.qasm")}); }),
      "ValueError: Include file 'a\\x00.inc' not found");
}

TEST(LowerIncludes, NestingIsBounded) {
  const Folder folder("deep");
  constexpr int FILES = qasm3::MAX_NESTING_DEPTH + 5;
  for (int k = 0; k < FILES; ++k) {
    folder.write("f" + std::to_string(k) + ".inc",
                 "include \"f" + std::to_string(k + 1) + ".inc\";\n");
  }
  folder.write("f" + std::to_string(FILES) + ".inc", "qubit q;\n");
  EXPECT_EQ(outcome_of([&] {
              qasm3::lower_qasm3("include \"f0.inc\";", {.source_path = folder.path("main.qasm")});
            }),
            "RecursionError: maximum recursion depth exceeded");
}

// Lowering a program with its files gives what lowering the same text written out in one
// piece gives, on a program that uses every kind of declaration across the include.
TEST(LowerIncludes, ReadAsTheTextWrittenInPlace) {
  const Folder folder("in_place");
  const std::string library =
      "const int n = 3;\n"
      "gate layer(t) a, b { rx(t) a; ctrl @ rz(2 * t) a, b; }\n"
      "gate ent a, b { cx a, b; }\n"
      "def measure_all(qubit[n] r) -> bit[n] { return measure r; }\n"
      "qubit[n] q;\n";
  const std::string program_before =
      "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nfloat theta = 0.25;\n";
  const std::string program_after =
      "for int i in [0:n - 2] { layer(theta * i) q[i], q[i + 1]; ent q[i + 1], q[i]; }\n"
      "inv @ layer(theta) q[0], q[2];\nbit[n] c = measure_all(q);\n";
  folder.write("lib.inc", library);
  const std::string lowered =
      qasm3::lower_qasm3(program_before + "include \"lib.inc\";\n" + program_after,
                         {.source_path = folder.path("main.qasm")});
  EXPECT_EQ(lowered, qasm3::lower_qasm3(program_before + library + program_after));
}

}  // namespace
