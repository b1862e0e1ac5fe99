// Runs every text pass of the importer on arbitrary UTF-8. A pass may reject its input
// with one of the converter's errors; anything else (a crash, a sanitizer report, another
// exception) is a finding. The invariants checked are the ones each pass promises for
// every input it accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "qasm/import/qasm3_import.hpp"
#include "qasm/text/text.hpp"

namespace {

using namespace corvane::qasm3::detail;

void check(bool ok) {
  if (!ok) std::abort();
}

bool is_trimmed(std::string_view text) {
  return trim(text) == text;
}

// Views returned by a pass must point into the text they were taken from.
bool within(std::string_view part, std::string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

template <class Pass>
void run(Pass&& pass) {
  try {
    pass();
  } catch (const corvane::qasm3::Error&) {
    // A clean rejection.
  }
}

void fuzz_split(std::string_view text) {
  run([&] {
    for (const std::string_view stmt : split_statements(text)) {
      check(!stmt.empty() && is_trimmed(stmt) && within(stmt, text));
    }
  });
}

void fuzz_registers(std::string_view text) {
  for (auto* extract : {&extract_qubit_registers, &extract_bit_registers}) {
    run([&] {
      const Registers regs = extract(text, nullptr);
      std::int64_t total = 0;
      for (const auto& decl : regs.list) {
        check(decl.size >= 0 && regs.map.find(decl.name) != nullptr);
        total += decl.size;
      }
      check(regs.map.size() <= regs.list.size() && total >= 0);
    });
  }
  run([&] { check(compute_n_qubits_from_body(text, "q") >= 1); });
}

void fuzz_statement(std::string_view text) {
  run([&] {
    const ModifierPrefix prefix = parse_modifiers_prefix(text);
    check(within(prefix.rest, text) && is_trimmed(prefix.rest));
    const OpCall call = parse_op_and_args(prefix.rest);
    check(!call.op.empty() && is_identifier(call.op));
    for (const std::string_view operand : call.operands) {
      check(!operand.empty() && is_trimmed(operand) && within(operand, text));
    }
  });
  run([&] {
    for (const std::string& ident : parse_ident_list(text))
      check(is_identifier(ident));
  });
}

void fuzz_gate_defs(std::string_view text) {
  run([&] {
    const ExtractedDefs extracted = extract_gate_defs(text);
    check(extracted.main_text.size() <= text.size());
    for (const auto& [name, def] : extracted.defs) {
      check(name == def.name && is_identifier(name));
      for (const std::string& arg : def.args)
        check(is_identifier(arg));
    }
    // The importer reads the main text in pieces; it must find the same statements, and
    // fail the same way, as a split of the joined text.
    std::vector<std::string_view> joined;
    bool joined_failed = false;
    try {
      joined = split_statements(extracted.main_text);
    } catch (const corvane::qasm3::Error&) {
      joined_failed = true;
    }
    try {
      const DefinitionScan scan = scan_gate_defs(text);
      const StatementList list(text, scan.main_pieces);
      check(!joined_failed && list.size() == joined.size());
      for (std::size_t k = 0; k < list.size(); ++k)
        check(list[k] == joined[k]);
    } catch (const corvane::qasm3::Error&) {
      check(joined_failed);
    }
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  try {
    validate_utf8(input);
  } catch (const corvane::qasm3::Error&) {
    return 0;  // the importer rejects such text before any pass sees it
  }
  const std::string stripped = strip_comments(input);
  check(stripped.size() <= input.size());
  fuzz_split(stripped);
  fuzz_registers(stripped);
  fuzz_statement(input);
  fuzz_gate_defs(stripped);
  // The statement parsers also see the statements the importer would hand them.
  run([&] {
    for (const std::string_view stmt : split_statements(stripped))
      fuzz_statement(stmt);
  });
  return 0;
}
