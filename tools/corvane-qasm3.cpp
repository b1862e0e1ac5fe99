// corvane-qasm3: converts between OpenQASM 3.0 programs and gate sequences in JSON form.
//
// Exit status: 0 on success, 1 when the conversion fails (one line on standard error,
// "<Kind>: <message>", or "FILE:LINE:COLUMN: <Kind>: <message>" when the error has a
// place), 2 for usage errors and unreadable input. Output is written only once the
// conversion has succeeded, so a failed run leaves standard output empty.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/qasm/qasm3.hpp"
#include "corvane/backend/qasm/text_forms.hpp"
#include "json_form.hpp"
#include "tool_io.hpp"

#ifndef CORVANE_QASM3_VERSION
#define CORVANE_QASM3_VERSION "unknown"
#endif

namespace {

using corvane::GateSequence;
using corvane::RegisterList;
using corvane::qasm3::cli::InputText;
using corvane::qasm3::cli::IoError;
using corvane::qasm3::cli::write_output;
namespace qasm3 = corvane::qasm3;

constexpr std::string_view PROGRAM = "corvane-qasm3";
constexpr std::string_view INCLUDE_PATH = "--include-path";

constexpr std::string_view HELP =
    R"(usage: corvane-qasm3 import  [FILE] [--lower | --strict] [--input NAME=VALUE]... [-I DIR]...
       corvane-qasm3 export  [FILE] [--lower] [--qreg-name NAME] [--creg-name NAME] [--num-clbits N]
                             [--qregs NAME:SIZE[,NAME:SIZE...]] [--cregs NAME:SIZE[,NAME:SIZE...]]
                             [--input NAME=VALUE]...
       corvane-qasm3 convert [FILE] [--flat] [--lower | --strict] [--input NAME=VALUE]... [-I DIR]...
       corvane-qasm3 lower   [FILE] [--input NAME=VALUE]... [-I DIR]...
       corvane-qasm3 --help | --version

Converts between OpenQASM 3.0 programs and gate sequences in JSON form. FILE is read
whole; without FILE, or with FILE "-", standard input is read.

commands:
  import    read an OpenQASM 3 or 2 program, write its gate sequence as JSON
  export    read a gate sequence as JSON, write the OpenQASM 3.0 program
  convert   read a program and write it again, normalised (import, then export);
            the program keeps its registers, or with --flat uses one register "q"
            and one register "c"
  lower     read an OpenQASM 3 or 2 program as written in practice (loops, constants,
            parameterised gates, subroutines, inv/pow modifiers, broadcasts, ...) and
            write it in plain form: declarations, gate calls, measurements, resets,
            and if/while on measured bits

modes:
  --lower               the default of import and convert: read the language as
                        programs use it (loops, constants, subroutines, OpenQASM 2,
                        if/while on measured bits, ...); convert, and export when
                        given --lower, write the language beyond the gate subset
                        (if/while, reset, numbers that read back exactly)
  --strict              import and convert read only the fixed gate-level subset and
                        convert writes it, exactly as the library's plain functions do

lowering options (not with --strict):
  --input NAME=VALUE    the value of the program's `input` declaration NAME: a constant
                        expression (0.5, pi/2, 2*3, true), typed as the declaration says;
                        a NAME the program does not declare is an error. A float or angle
                        input given no value stays free: its gate parameters are kept as
                        expressions over its name ("qasm_inputs" in JSON). For export, the
                        values of the sequence's free inputs, bound before it is written
  -I DIR, --include-path DIR
                        a folder to look for files the program includes in, after the
                        folder of the including file (FILE's; none for standard input);
                        repeatable, searched in the order given

export options:
  --qreg-name NAME      name of the quantum register when --qregs is not given (q)
  --creg-name NAME      name of the classical register when --cregs is not given (c)
  --num-clbits N        classical bits to declare, at least as many as measured
  --qregs NAME:SIZE,... quantum registers, in order, covering every qubit used
  --cregs NAME:SIZE,... classical registers, in order, covering every bit used

Options take their value as the next argument or after "=" (--qreg-name=qr).

exit status:
  0  success
  1  the conversion failed: one line on standard error, "<Kind>: <message>", or
     "FILE:LINE:COLUMN: <Kind>: <message>" when the error has a place in the program
     (FILE being the included file's path for a place in a file the program includes;
     for export, where the record it fails on starts in the JSON input)
  2  usage error or unreadable input
)";

enum class Command { Import, Export, Convert, Lower };

struct Invocation {
  Command command = Command::Import;
  std::string file = "-";
  qasm3::ExportOptions export_args;
  bool flat = false;
  // The language path; import and convert take it unless --strict is given.
  bool lower = false;
  bool strict = false;
  qasm3::LowerOptions lower_options;
};

// What the tool answers instead of converting.
enum class Request { Convert, Help, Version };

// A command line the tool cannot follow (exit status 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ------------------------------------------------------------------ arguments

std::optional<Command> command_named(std::string_view name) {
  if (name == "import") return Command::Import;
  if (name == "export") return Command::Export;
  if (name == "convert") return Command::Convert;
  if (name == "lower") return Command::Lower;
  return std::nullopt;
}

std::optional<std::int64_t> read_integer(std::string_view text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// NAME:SIZE[,NAME:SIZE...]; a name may itself hold ':', the size follows the last one.
// Sizes are passed on as written: the exporter reports sizes that are not positive.
RegisterList read_registers(std::string_view option, std::string_view text) {
  const auto fail = [&] {
    throw UsageError(std::string(option) + " needs NAME:SIZE[,NAME:SIZE...], got " +
                     qasm3::quoted(text));
  };
  RegisterList regs;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view item = text.substr(start, comma - start);
    const std::size_t colon = item.rfind(':');
    if (colon == std::string_view::npos || colon == 0) fail();
    const std::optional<std::int64_t> size = read_integer(item.substr(colon + 1));
    if (!size) fail();
    regs.push_back({std::string(item.substr(0, colon)), *size});
    if (comma == text.size()) break;
    start = comma + 1;
  }
  return regs;
}

bool option_allowed(Command command, std::string_view option) {
  if (option == "--flat") return command == Command::Convert;
  if (option == "--lower") return command != Command::Lower;
  if (option == "--strict") return command == Command::Import || command == Command::Convert;
  if (option == "--input") return true;
  if (option == INCLUDE_PATH) return command != Command::Export;
  return command == Command::Export;
}

// NAME=VALUE of --input: a name and a constant expression, which lowering reads where
// the program declares the input, so that it is typed as the declaration says.
void add_input(qasm3::LowerOptions& options, std::string_view text) {
  const std::size_t equals = text.find('=');
  const std::string_view name = text.substr(0, equals);
  if (name.empty() || equals == std::string_view::npos || equals + 1 == text.size()) {
    throw UsageError("--input needs NAME=VALUE, got " + qasm3::quoted(text));
  }
  options.inputs.insert_or_assign(
      std::string(name), qasm3::InputValue::expression(std::string(text.substr(equals + 1))));
}

void apply_option(Invocation& inv, std::string_view option, std::string_view value) {
  qasm3::ExportOptions& args = inv.export_args;
  if (option == "--qreg-name") {
    args.qreg_name = value;
  } else if (option == "--creg-name") {
    args.creg_name = value;
  } else if (option == "--num-clbits") {
    args.num_clbits = read_integer(value);
    if (!args.num_clbits) {
      throw UsageError("--num-clbits needs an integer, got " + qasm3::quoted(value));
    }
  } else if (option == "--qregs") {
    args.qregs = read_registers(option, value);
  } else if (option == "--cregs") {
    args.cregs = read_registers(option, value);
  } else if (option == "--input") {
    add_input(inv.lower_options, value);
  } else if (option == INCLUDE_PATH) {
    inv.lower_options.include_paths.emplace_back(value);
  }
}

bool is_known_option(std::string_view option) {
  for (const std::string_view known :
       {"--qreg-name", "--creg-name", "--num-clbits", "--qregs", "--cregs", "--flat", "--lower",
        "--strict", "--input", "--include-path"}) {
    if (option == known) return true;
  }
  return false;
}

// Help and version win over everything else on the line, as users of such tools expect.
Request requested(const std::vector<std::string_view>& args) {
  for (const std::string_view arg : args) {
    if (arg == "--") break;
    if (arg == "-h" || arg == "--help") return Request::Help;
    if (arg == "--version") return Request::Version;
  }
  return Request::Convert;
}

// Import and convert read the language as programs use it unless told --strict, which
// keeps the fixed subset and its exact behaviour; lowering's options mean nothing there.
void choose_mode(Invocation& inv, std::string_view command) {
  if (inv.strict && inv.lower) throw UsageError("--lower and --strict exclude each other");
  const auto refuse_with_strict = [&](std::string_view option) {
    throw UsageError(std::string(option) + " is not an option of " + std::string(command) +
                     " --strict");
  };
  if (inv.strict && !inv.lower_options.inputs.empty()) refuse_with_strict("--input");
  if (inv.strict && !inv.lower_options.include_paths.empty()) refuse_with_strict(INCLUDE_PATH);
  if (inv.command == Command::Import || inv.command == Command::Convert) inv.lower = !inv.strict;
}

Invocation parse_arguments(const std::vector<std::string_view>& args) {
  if (args.empty()) throw UsageError("missing command (import, export, convert or lower)");
  const std::optional<Command> command = command_named(args[0]);
  if (!command) throw UsageError("unknown command " + qasm3::quoted(args[0]));
  Invocation inv;
  inv.command = *command;
  bool file_given = false;
  bool options_ended = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!options_ended && arg == "--") {
      options_ended = true;
      continue;
    }
    if (!options_ended && arg.size() > 1 && arg[0] == '-') {
      // -I DIR and -IDIR, as compilers take them: the folder may hold '='.
      const bool short_include = arg.starts_with("-I");
      const std::size_t equals = short_include ? 2 : arg.find('=');
      const std::string_view option = short_include ? INCLUDE_PATH : arg.substr(0, equals);
      if (!is_known_option(option)) {
        throw UsageError("unknown option " + qasm3::quoted(option));
      }
      if (!option_allowed(inv.command, option)) {
        throw UsageError(std::string(option) + " is not an option of " + std::string(args[0]));
      }
      if (option == "--flat" || option == "--lower" || option == "--strict") {
        if (equals != std::string_view::npos)
          throw UsageError(std::string(option) + " takes no value");
        (option == "--flat" ? inv.flat : option == "--lower" ? inv.lower : inv.strict) = true;
        continue;
      }
      std::string_view value;
      if (short_include && arg.size() > 2) {
        value = arg.substr(2);
      } else if (!short_include && equals != std::string_view::npos) {
        value = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        throw UsageError(std::string(option) + " needs a value");
      }
      apply_option(inv, option, value);
      continue;
    }
    if (file_given) throw UsageError("more than one FILE: " + qasm3::quoted(arg));
    inv.file = arg;
    file_given = true;
  }
  choose_mode(inv, args[0]);
  // Files the program includes are looked for beside it first.
  if (inv.file != "-") inv.lower_options.source_path = inv.file;
  return inv;
}

// ------------------------------------------------------------------ input and output

// Error messages are single lines already; a line break in a value they quote must
// still not split the one line that reports the error.
std::string one_line(std::string_view message) {
  std::string out;
  out.reserve(message.size());
  for (const char c : message) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

void report(std::string_view kind, std::string_view message) {
  std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(kind.size()), kind.data(),
               one_line(message).c_str());
}

// An error with a place in the input shows it in front, "FILE:LINE:COLUMN: ", the form
// compilers use and editors jump to; a place in a file the program includes names that
// file.
void report(const std::string& file, const qasm3::Error& e) {
  const auto& where = e.location();
  if (!where) return report(e.kind(), e.what());
  const std::string shown_file = !where->file.empty() ? where->file
                                 : file == "-"        ? std::string("<stdin>")
                                                      : file;
  const std::string place =
      shown_file + ":" + std::to_string(where->line) + ":" + std::to_string(where->column);
  std::fprintf(stderr, "%s: %s: %s\n", one_line(place).c_str(), e.kind(),
               one_line(e.what()).c_str());
}

void report_usage(std::string_view message) {
  std::fprintf(stderr, "%.*s: %s (see '%.*s --help')\n", static_cast<int>(PROGRAM.size()),
               PROGRAM.data(), one_line(message).c_str(), static_cast<int>(PROGRAM.size()),
               PROGRAM.data());
}

// ------------------------------------------------------------------ commands

// An export error about one record is placed where that record's object starts in the
// JSON text (the innermost record, for one inside blocks).
void place_failed_record(qasm3::Error& error, std::string_view text, const GateSequence& gs,
                         const qasm3::cli::RecordStarts& record_starts) {
  const std::optional<std::size_t> start =
      qasm3::cli::record_start(gs, record_starts, error.record_path());
  if (start) error.set_location_once(qasm3::cli::place_in_text(text, *start));
}

// Reads the input, converts it and writes the result. The input is given back as soon
// as the records are read from it, and the result is written only once the conversion
// has succeeded (the JSON form is checked in full before its first piece is written).
// With lowering, the records are read through it.
void convert(const Invocation& inv, InputText& input) {
  const auto read_records = [&inv, &input] {
    GateSequence gs = inv.lower ? qasm3::lower_to_gate_sequence(input.text(), inv.lower_options)
                                : qasm3::qasm3_to_gate_sequence(input.text());
    input.close();
    return gs;
  };
  switch (inv.command) {
    case Command::Lower: {
      std::string lowered = qasm3::lower_qasm3(input.text(), inv.lower_options);
      input.close();
      write_output(lowered);
      return;
    }
    case Command::Import: {
      const GateSequence gs = read_records();
      qasm3::cli::write_gate_sequence_json(gs, write_output);
      return;
    }
    case Command::Export: {
      qasm3::cli::RecordStarts record_starts;
      GateSequence gs = qasm3::cli::read_gate_sequence_json(
          input.text(), [&input](std::size_t begin, std::size_t end) { input.evict(begin, end); },
          &record_starts);
      // Values for the free parameters that lowering left: the sequence is bound first.
      if (!inv.lower_options.inputs.empty()) {
        gs = qasm3::bind_parameters(gs, inv.lower_options.inputs);
      }
      // The text is kept until the export succeeds, to place a record it fails on; a
      // mapped file's pages are given back meanwhile, to be read again only for that.
      input.evict(0, input.text().size());
      std::string program;
      qasm3::ExportOptions options = inv.export_args;
      options.full_language = inv.lower;
      try {
        program = qasm3::gate_sequence_to_qasm3(gs, options);
      } catch (qasm3::Error& error) {
        place_failed_record(error, input.text(), gs, record_starts);
        throw;
      }
      input.close();
      write_output(program);
      return;
    }
    case Command::Convert: {
      const GateSequence gs = read_records();
      qasm3::ExportOptions options{.full_language = inv.lower};
      if (!inv.flat) {
        options.qregs = gs.qasm_quantum_registers;
        options.cregs = gs.qasm_classical_registers;
      }
      write_output(qasm3::gate_sequence_to_qasm3(gs, options));
      return;
    }
  }
}

int run(const std::vector<std::string_view>& args) {
  switch (requested(args)) {
    case Request::Help:
      write_output(HELP);
      return 0;
    case Request::Version:
      write_output(std::string(PROGRAM) + " " + CORVANE_QASM3_VERSION + "\n");
      return 0;
    case Request::Convert:
      break;
  }
  const Invocation inv = parse_arguments(args);
  InputText input(inv.file);
  try {
    convert(inv, input);
  } catch (const qasm3::Error& e) {
    report(inv.file, e);
    return 1;
  } catch (const IoError&) {
    throw;
  } catch (const std::bad_alloc&) {
    report("MemoryError", "out of memory");
    return 1;
  } catch (const std::exception& e) {
    report("RuntimeError", e.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string_view>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    report_usage(e.what());
  } catch (const IoError& e) {
    std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(PROGRAM.size()), PROGRAM.data(),
                 one_line(e.what()).c_str());
  } catch (const std::bad_alloc&) {
    report("MemoryError", "out of memory");
    return 1;
  }
  return 2;
}
