// Runs every program of the folder named by CORVANE_QASM3_PROGRAMS. The first line of a
// program states the outcome of importing it: "// expect: ok" or
// "// expect: <Kind>: <message>", preceded by "<line>:<column>: " when the error has a
// place in the program. A program that imports is also carried round: exported
// with the imported register layout (as the tool's convert does), imported and exported
// again, and the two exports must be equal. A second line "// export: <Kind>: <message>"
// states instead how the export of a program fails that the exporter cannot write back,
// and "// reimport: <Kind>: <message>" how the import of an export fails that does not
// read back.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "program_folder.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using corvane::GateSequence;
namespace qasm3 = corvane::qasm3;

// The text after `prefix` on line `index` (0-based), without a carriage return; empty
// when that line does not start with `prefix`.
std::string directive(const std::string& text, std::size_t index, const std::string& prefix) {
  std::size_t start = 0;
  for (std::size_t k = 0; k < index && start != std::string::npos; ++k) {
    start = text.find('\n', start);
    if (start != std::string::npos) ++start;
  }
  if (start == std::string::npos) return {};
  std::string line = text.substr(start, text.find('\n', start) - start);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : std::string();
}

// The export that the tool's convert writes: the imported layout, every other argument
// at its default.
std::string export_with_layout(const GateSequence& gs) {
  return qasm3::gate_sequence_to_qasm3(gs, "q", "c", std::nullopt, gs.qasm_quantum_registers,
                                       gs.qasm_classical_registers);
}

class Program : public testing::TestWithParam<std::string> {};

TEST_P(Program, ImportsAsStatedAndRoundTrips) {
  const std::string text = program_folder::read(GetParam());
  const std::string expected = directive(text, 0, "// expect: ");
  ASSERT_FALSE(expected.empty()) << "the first line must state the expected outcome";

  std::optional<GateSequence> imported;
  EXPECT_EQ(outcome_of([&] { imported = qasm3::qasm3_to_gate_sequence(text); }, true), expected);
  if (!imported) return;

  std::string first;
  const std::string export_outcome = outcome_of([&] { first = export_with_layout(*imported); });
  const std::string expected_export = directive(text, 1, "// export: ");
  EXPECT_EQ(export_outcome, expected_export.empty() ? "ok" : expected_export);
  if (export_outcome != "ok") return;

  std::string second;
  const std::string expected_reimport = directive(text, 1, "// reimport: ");
  EXPECT_EQ(outcome_of([&] { second = export_with_layout(qasm3::qasm3_to_gate_sequence(first)); }),
            expected_reimport.empty() ? "ok" : expected_reimport)
      << first;
  if (expected_reimport.empty()) {
    EXPECT_EQ(second, first);
  }
}

TEST(Programs, FolderHoldsThePrograms) {
  EXPECT_GE(program_folder::names().size(), 30U) << program_folder::directory();
}

INSTANTIATE_TEST_SUITE_P(Folder, Program, testing::ValuesIn(program_folder::names()),
                         program_folder::test_name);

}  // namespace
