// The expander's driver: the program lowered one top-level statement at a time, each
// statement dispatched to the files of its concern (expander.hpp).
#include "qasm/lower/expander.hpp"

#include <memory>
#include <string>

#include "qasm/lower/gate_library.hpp"

namespace corvane::qasm3::detail::lower::expansion {

// Each top-level statement is lowered as soon as it is read; its nodes are dropped
// afterwards unless a definition keeps them for later calls.
void Expander::run() {
  includes_.read_all(user_.text);
  declare_hardware_register();
  for (;;) {
    if (quick_statement()) continue;
    const Parser::Marks marks = parser_.marks();
    const NodeId id = parser_.next_statement();
    if (id == NO_NODE) break;
    const Stmt& stmt = user_.stmts[id];
    const bool keeps_nodes =
        stmt.kind == StmtKind::GATE_DEF || stmt.kind == StmtKind::SUBROUTINE_DEF;
    // After `end;` the rest of the program is read but never runs; its inputs are still
    // the program's.
    if (ended_ && stmt.kind == StmtKind::CLASSICAL_DECL && stmt.is_input) {
      declared_inputs_.emplace(stmt.name);
    }
    const Flow flow = ended_ ? Flow::NEXT : statement(id);
    if (flow == Flow::END) {
      ended_ = true;
    } else if (flow != Flow::NEXT) {
      fail_value(user_.stmts[id].offset, std::string(MISPLACED_FLOW));
    }
    if (!keeps_nodes) parser_.drop_since(marks);
  }
  check_forward_calls();
  check_definition_nesting();
  check_inputs_declared();
  report_free_inputs();
}

Flow Expander::statements(Range body) {
  for (std::uint32_t k = 0; k < body.size; ++k) {
    const Flow flow = statement(program_->stmt_lists[body.begin + k]);
    if (flow != Flow::NEXT) return flow;
  }
  return Flow::NEXT;
}

Flow Expander::statement(NodeId id) {
  const Stmt& stmt = program_->stmts[id];
  DepthGuard guard(depth_);
  if (!in_library()) outer_ = Place{program_, stmt.offset};
  return placed(stmt.offset, [&] { return dispatch(stmt); });
}

Flow Expander::dispatch(const Stmt& stmt) {
  switch (stmt.kind) {
    case StmtKind::VERSION:
      version(stmt);
      break;
    case StmtKind::INCLUDE:
      return include(stmt);
    case StmtKind::QUBIT_DECL:
      check_placement(stmt, in_gate());
      qubit_declaration(stmt);
      break;
    case StmtKind::BIT_DECL:
      check_placement(stmt, in_gate());
      bit_declaration(stmt);
      break;
    case StmtKind::CLASSICAL_DECL:
      classical_declaration(stmt);
      break;
    case StmtKind::ASSIGNMENT:
      assignment(stmt);
      break;
    case StmtKind::GATE_CALL:
      gate_call(stmt);
      break;
    case StmtKind::MEASURE:
      measure(stmt.value, stmt.target);
      break;
    case StmtKind::RESET:
      reset(stmt);
      break;
    case StmtKind::BARRIER:
    case StmtKind::DELAY:
    case StmtKind::NOP:
      break;  // nothing the circuit keeps
    case StmtKind::END:
      check_flow_placement(stmt);
      return Flow::END;
    case StmtKind::TIMING_DECL: {
      Symbol symbol;
      symbol.kind = SymbolKind::TIMING;
      declare(stmt.name, stmt.offset, std::move(symbol));
      break;
    }
    case StmtKind::GATE_DEF:
      check_placement(stmt, in_gate());
      gate_definition(stmt);
      break;
    case StmtKind::SUBROUTINE_DEF:
      check_placement(stmt, in_gate());
      subroutine_definition(stmt);
      break;
    case StmtKind::FOR:
      return for_loop(stmt);
    case StmtKind::IF:
      if (names_bits(stmt.value)) return runtime_if(stmt);
      return condition(stmt.value) ? statements_in_scope(stmt.body)
                                   : statements_in_scope(stmt.else_body);
    case StmtKind::WHILE:
      if (names_bits(stmt.value)) return runtime_while(stmt);
      return while_loop(stmt);
    case StmtKind::SWITCH:
      return switch_statement(stmt);
    case StmtKind::BREAK:
      check_flow_placement(stmt);
      return Flow::BREAK;
    case StmtKind::CONTINUE:
      check_flow_placement(stmt);
      return Flow::CONTINUE;
    case StmtKind::RETURN:
      check_flow_placement(stmt);
      return return_statement(stmt);
    case StmtKind::BLOCK:
    case StmtKind::SWITCH_CASE:  // reached through its switch only
      return statements_in_scope(stmt.body);
    case StmtKind::ALIAS:
      alias(stmt);
      break;
    case StmtKind::EXPRESSION:
      if (expr(stmt.value).kind == ExprKind::CALL) {
        next_call_return_bits_ = &DROPPED_RESULT;
        call(expr(stmt.value));
        next_call_return_bits_ = nullptr;
      } else {
        evaluate(stmt.value);
      }
      break;
    case StmtKind::UNSUPPORTED:
      fail_unsupported(stmt.offset, std::string(stmt.text) + " is not supported");
  }
  return Flow::NEXT;
}

// Where a statement may stand, whatever the values it meets: qubits are declared, gates and
// subroutines defined and files included in the global scope only, and bits are declared
// nowhere in a gate. The one place these rules are kept: a statement is checked when it is
// lowered, and a gate's body also when the gate is defined (check_gate_body).
void Expander::check_placement(const Stmt& stmt, bool in_gate) {
  switch (stmt.kind) {
    case StmtKind::QUBIT_DECL:
      require_global_scope(stmt, "Qubits can only be declared");
      break;
    case StmtKind::BIT_DECL:
      if (in_gate) fail_value(stmt.offset, "Bits cannot be declared in a gate");
      break;
    case StmtKind::GATE_DEF:
      require_global_scope(stmt, "Gates can only be defined");
      break;
    case StmtKind::SUBROUTINE_DEF:
      require_global_scope(stmt, "Subroutines can only be defined");
      break;
    case StmtKind::INCLUDE:
      if (!library_source(stmt.text)) require_global_scope(stmt, "Files can only be included");
      break;
    default:
      break;
  }
}

Flow Expander::statements_in_scope(Range body) {
  const ScopeGuard scope(scopes_);
  return statements(body);
}

void Expander::version(const Stmt& stmt) {
  const std::string_view number = stmt.text;
  if (number == "2.0") {
    openqasm2_ = true;
  } else if (number != "3" && number != "3.0" && number != "3.1") {
    fail_unsupported(stmt.offset, "OpenQASM version " + std::string(number) + " is not supported");
  }
}

// A file the program includes is read as if its text stood in place of the `include`: in
// the global scope, with every name declared so far, its declarations kept afterwards.
// Errors in it are placed in it. The standard libraries are read where a gate needs them.
Flow Expander::include(const Stmt& stmt) {
  if (library_source(stmt.text)) return Flow::NEXT;
  check_placement(stmt, in_gate());
  IncludedFile& file = includes_.find(program_->origin == Origin::INCLUDED
                                          ? program_->file
                                          : std::string_view(includes_.program_path()),
                                      stmt.text);
  if (file.open || file.is_program) {
    fail_value(stmt.offset, "Include cycle: " + quoted(stmt.text) + " is already being included");
  }
  const Program& included = included_program(file);
  file.open = true;
  struct Close {
    IncludedFile& file;
    ~Close() { file.open = false; }
  } close{file};
  return in_program(included, [&] { return included_statements(included); });
}

// Parsed when first included, in the language of the program at that point: OpenQASM 2
// files are included by OpenQASM 2 programs.
const Program& Expander::included_program(IncludedFile& file) {
  if (!file.program) {
    try {
      validate_utf8(file.text);
      file.program = std::make_unique<Program>(parse(file.text, openqasm2_));
    } catch (Error& error) {
      error.set_file_once(file.path);
      throw;
    }
    file.program->origin = Origin::INCLUDED;
    file.program->file = file.path;
  }
  return *file.program;
}

// As the program's own top-level statements: `end;` ends the whole program.
Flow Expander::included_statements(const Program& file) {
  for (std::uint32_t k = 0; k < file.top.size; ++k) {
    const NodeId id = file.stmt_lists[file.top.begin + k];
    const Flow flow = statement(id);
    if (flow == Flow::END) return flow;
    if (flow != Flow::NEXT) fail_value(file.stmts[id].offset, std::string(MISPLACED_FLOW));
  }
  return Flow::NEXT;
}

}  // namespace corvane::qasm3::detail::lower::expansion

namespace corvane::qasm3::detail::lower {

void expand(Parser& parser, const InputValues& inputs, StatementSink& writer,
            std::size_t max_statements, bool expand_library_gates, IncludeSearch includes) {
  IncludeFiles files(includes);
  expansion::Expander(parser, inputs, writer, max_statements, expand_library_gates, files).run();
}

namespace {

// Where the declarations of ParameterValues' program go: they write nothing.
class NoStatements final : public StatementSink {
 public:
  void qubit_declaration(std::string_view, std::optional<std::int64_t>) override {}
  void bit_declaration(std::string_view, std::optional<std::int64_t>) override {}
  void begin_definition(std::string_view, std::span<const std::string_view>) override {}
  void end_definition() override {}
  void call(const PlainCall&) override {}
  void measure(const PlainOperand&, const std::optional<PlainOperand>&) override {}
  void reset(const PlainOperand&) override {}
  void begin_if(const PlainCondition&) override {}
  void begin_while(const PlainCondition&) override {}
  void begin_else() override {}
  void end_conditioned() override {}
  void free_inputs(std::span<const FreeInput>) override {}
};

}  // namespace

struct ParameterValues::State {
  State(std::string declarations, const InputValues& values)
      : text(std::move(declarations)),
        parser(text),
        files(IncludeSearch{}),
        expander(parser, values, sink, MAX_LOWERED_STATEMENTS, false, files) {}
  std::string text;
  Parser parser;
  NoStatements sink;
  IncludeFiles files;
  expansion::Expander expander;
};

ParameterValues::ParameterValues(std::string declarations, const InputValues& values)
    : state_(std::make_unique<State>(std::move(declarations), values)) {
  state_->expander.run();
}

ParameterValues::~ParameterValues() = default;

double ParameterValues::operator()(std::string_view expression) {
  return state_->expander.parameter_value(expression);
}

}  // namespace corvane::qasm3::detail::lower
