// The programs bench_tool.sh times the tool on, and the in-library import it measures
// the tool's memory against.
//
//   gate_mix_program write N     the exporter's text of N records of the gate mix, on stdout
//   gate_mix_program write-qasm2 N  an OpenQASM 2 program of N qelib1.inc gate calls, on stdout
//   gate_mix_program import FILE imports FILE with one read into one presized buffer and
//                                prints the number of records
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "corvane/backend/qasm/qasm3.hpp"
#include "gate_mix.hpp"

namespace {

std::string read_file(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr || std::fseek(file, 0, SEEK_END) != 0) std::exit(2);
  std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  if (std::fread(text.data(), 1, text.size(), file) != text.size()) std::exit(2);
  std::fclose(file);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view command = argc == 3 ? argv[1] : "";
  if (command == "write") {
    const std::string text = corvane::qasm3::gate_sequence_to_qasm3(
        corvane::bench::make_gate_mix(std::strtoull(argv[2], nullptr, 10)));
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  if (command == "write-qasm2") {
    const std::string text =
        corvane::bench::qelib1_mix_program(std::strtoull(argv[2], nullptr, 10));
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  if (command == "import") {
    const corvane::GateSequence gs = corvane::qasm3::qasm3_to_gate_sequence(read_file(argv[2]));
    std::printf("%zu\n", gs.data().size());
    return 0;
  }
  std::fputs("usage: gate_mix_program write N | write-qasm2 N | import FILE\n", stderr);
  return 2;
}
