#include "qasm/lower/expand.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qasm/lower/gate_algebra.hpp"
#include "qasm/lower/gate_library.hpp"
#include "qasm/lower/lexer.hpp"
#include "qasm/lower/parser.hpp"
#include "qasm/text/text_numbers.hpp"

namespace corvane::qasm3::detail::lower {
namespace {

// The built-in instructions of pulse-level code, which act on frames and waveforms rather
// than on gates: a program that calls one cannot be written as a circuit.
constexpr std::array<std::string_view, 9> PULSE_INSTRUCTIONS = {
    "capture",       "get_frequency", "get_phase",       "newframe",   "play",
    "set_frequency", "set_phase",     "shift_frequency", "shift_phase"};

bool is_pulse_instruction(std::string_view name) noexcept {
  return std::find(PULSE_INSTRUCTIONS.begin(), PULSE_INSTRUCTIONS.end(), name) !=
         PULSE_INSTRUCTIONS.end();
}

// Indices first: the qubits of one call mostly share their register's name.
bool same_qubit(const PlainOperand& a, const PlainOperand& b) {
  return a.index == b.index && a.name == b.name;
}

// Every name the program text spells, keywords included.
std::set<std::string, std::less<>> program_identifiers(std::string_view text) {
  std::set<std::string, std::less<>> names;
  Lexer lexer(text);
  for (Token token = lexer.next(); token.kind != TokenKind::END; token = lexer.next()) {
    if (token.kind == TokenKind::IDENTIFIER) names.emplace(token.text);
  }
  return names;
}

// A qubit as the program names it: a hardware qubit as `$3`.
std::string qubit_text(const PlainOperand& qubit, std::string_view hardware_register) {
  const std::string index = std::to_string(qubit.index);
  if (qubit.name == hardware_register) return "$" + index;
  if (qubit.index == PlainOperand::NO_INDEX) return std::string(qubit.name);
  return std::string(qubit.name) + "[" + index + "]";
}

// A qubit that a call of many holds twice, or null: sorted rather than compared
// pairwise, so that no call takes quadratic time.
[[gnu::noinline]] const PlainOperand* repeated_among_many(std::span<const PlainOperand> qubits) {
  std::vector<const PlainOperand*> sorted;
  sorted.reserve(qubits.size());
  for (const PlainOperand& qubit : qubits)
    sorted.push_back(&qubit);
  std::sort(sorted.begin(), sorted.end(), [](const PlainOperand* a, const PlainOperand* b) {
    return std::tie(a->name, a->index) < std::tie(b->name, b->index);
  });
  const auto repeated = std::adjacent_find(
      sorted.begin(), sorted.end(),
      [](const PlainOperand* a, const PlainOperand* b) { return same_qubit(*a, *b); });
  return repeated == sorted.end() ? nullptr : *repeated;
}

// A qubit that `qubits` holds twice, or null. Most calls have a few qubits, compared
// pairwise.
const PlainOperand* repeated_qubit(std::span<const PlainOperand> qubits) {
  constexpr std::size_t FEW = 16;
  if (qubits.size() > FEW) return repeated_among_many(qubits);
  for (std::size_t k = 1; k < qubits.size(); ++k) {
    for (std::size_t j = 0; j < k; ++j) {
      if (same_qubit(qubits[j], qubits[k])) return &qubits[k];
    }
  }
  return nullptr;
}

// What a gate name stands for where it is called.
struct GateRef {
  enum class Kind : unsigned char { NATIVE, WRITTEN, INLINED } kind = Kind::NATIVE;
  std::string_view name;
  const Program* program = nullptr;  // WRITTEN, INLINED: where the definition is
  NodeId definition = NO_NODE;       // WRITTEN, INLINED: its statement
  int angles = 0;
  int qubits = 0;
};

GateRef native_ref(const NativeGate& native) {
  return GateRef{GateRef::Kind::NATIVE, native.name,  nullptr, NO_NODE,
                 native.angles,         native.qubits};
}

// One gate application, modifiers resolved: controls (states and qubits) first.
// Expander::recycled_call() sets every field anew, a field added here too.
struct Call {
  GateRef gate;
  bool has_parameters = false;
  std::vector<double> parameters;
  std::vector<std::uint8_t> states;
  std::vector<PlainOperand> qubits;  // the controls, then the gate's own qubits
  bool inverse = false;
  double exponent = 1.0;
};

// TIMING: a duration or stretch, which only the dropped delays and boxes use.
enum class SymbolKind : unsigned char { QUBITS, BITS, CLASSICAL, GATE, SUBROUTINE, TIMING };

struct Symbol {
  SymbolKind kind = SymbolKind::CLASSICAL;
  // QUBITS, BITS: a declared register (`size` elements, or one bare name when scalar),
  // or, with `list` set, the qubits of an alias or a gate argument.
  std::string_view register_name;
  std::int64_t size = 0;
  bool scalar = false;
  std::shared_ptr<const std::vector<PlainOperand>> list;
  // CLASSICAL
  ScalarType type;
  std::optional<Value> value;
  bool is_const = false;
  // GATE
  GateRef gate;
  // SUBROUTINE: its definition
  NodeId definition = NO_NODE;
};

Symbol register_symbol(SymbolKind kind, std::string_view name, std::int64_t size, bool scalar) {
  Symbol symbol;
  symbol.kind = kind;
  symbol.register_name = name;
  symbol.size = size;
  symbol.scalar = scalar;
  return symbol;
}

// Hashes the short names of a program inline: looking names up is a large part of
// lowering a program that needs no lowering, and the library's hash is a call.
struct NameHash {
  std::size_t operator()(std::string_view name) const noexcept {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const char c : name) {
      hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    return static_cast<std::size_t>(hash);
  }
};
// And compares them inline too, where the library's comparison calls memcmp.
struct NameEqual {
  bool operator()(std::string_view a, std::string_view b) const noexcept { return same_text(a, b); }
};

// A name's meaning in one scope. A gate body is a boundary: inside it only the global
// scope is visible beyond its own names.
struct Scope {
  std::unordered_map<std::string_view, Symbol, NameHash, NameEqual> symbols;
  bool boundary = false;
};

// END: the program ends there (`end;`); nothing after it runs.
enum class Flow : unsigned char { NEXT, BREAK, CONTINUE, RETURN, END };

constexpr std::string_view MISPLACED_FLOW =
    "'break', 'continue', 'return' or 'end' outside its place";

// Whether a loop that meets `flow` in its body stops and hands it on.
constexpr bool leaves_loop(Flow flow) {
  return flow == Flow::RETURN || flow == Flow::END;
}

// The state of gate bodies being inlined: the controls their calls get, and where the
// calls of an inverted body are collected to be applied in reverse.
struct InlineContext {
  std::vector<std::uint8_t> states;
  std::vector<PlainOperand> controls;
  std::vector<Call>* collected = nullptr;
};

// A qubit or bit operand resolved: its elements, and whether it names one element (a
// register or slice broadcasts the statement over its elements).
struct Resolved {
  std::vector<PlainOperand> elements;
  bool single = true;
};

class Expander {
 public:
  Expander(Parser& parser, const InputValues& inputs, Writer& writer, std::size_t max_statements)
      : parser_(parser),
        user_(parser.program()),
        program_(&user_),
        inputs_(inputs),
        writer_(writer),
        max_statements_(max_statements) {
    scopes_.emplace_back();
  }

  // Each top-level statement is lowered as soon as it is read; its nodes are dropped
  // afterwards unless a definition keeps them for later calls.
  void run() {
    declare_hardware_register();
    for (;;) {
      const Parser::Marks marks = parser_.marks();
      const NodeId id = parser_.next_statement();
      if (id == NO_NODE) break;
      const Stmt& stmt = user_.stmts[id];
      const bool keeps_nodes =
          stmt.kind == StmtKind::GATE_DEF || stmt.kind == StmtKind::SUBROUTINE_DEF;
      // After `end;` the rest of the program is read but never runs.
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
  }

 private:
  // ---------------------------------------------------------------- errors
  // Runs `work`; an error it raises leaves with the place `offset` unless it has one.
  // Offsets are places only in the user's program, not in the built-in libraries.
  template <class Work>
  decltype(auto) placed(std::size_t offset, Work&& work) const {
    return with_place_of_error(
        [&]() -> std::optional<Location> {
          if (program_ != &user_) return std::nullopt;
          return locate(user_.text, offset);
        },
        std::forward<Work>(work));
  }
  template <class Raise>
  [[noreturn]] void fail(std::size_t offset, Raise raise, const std::string& message) const {
    placed(offset, [&] { raise(message); });
    std::abort();  // `raise` never returns
  }
  [[noreturn]] void fail_value(std::size_t offset, const std::string& message) const {
    fail(offset, raise_value_error, message);
  }
  [[noreturn]] void fail_unsupported(std::size_t offset, const std::string& message) const {
    fail(offset, raise_not_implemented, message);
  }

  [[noreturn]] void fail_too_long(std::size_t offset) const {
    fail_value(offset, "The lowered program would exceed " + std::to_string(max_statements_) +
                           " statements");
  }
  void count_statement(std::size_t offset) {
    if (++statement_count_ > max_statements_) fail_too_long(offset);
  }

  const Expr& expr(NodeId id) const { return program_->exprs[id]; }
  std::span<const NodeId> list(Range range) const {
    return {program_->expr_lists.data() + range.begin, range.size};
  }

  // ---------------------------------------------------------------- scopes
  // At the top level a program names the same few registers and gates over and over: what
  // a name means there is kept until the next declaration. Inlined wherever it is called:
  // most calls are made for gate calls, and the compiler stops inlining it as callers
  // elsewhere multiply.
  [[gnu::always_inline]] Symbol* lookup(std::string_view name) {
    if (scopes_.size() != 1 || program_ != &user_) return find_symbol(name);
    RecentLookup& recent = recent_lookups_[NameHash{}(name) % recent_lookups_.size()];
    if (recent.declarations != declarations_ || !same_text(recent.name, name)) {
      recent = RecentLookup{name, find_symbol(name), declarations_};
    }
    return recent.symbol;
  }

  Symbol* find_symbol(std::string_view name) {
    for (std::size_t k = scopes_.size(); k-- > 0;) {
      const auto found = scopes_[k].symbols.find(name);
      if (found != scopes_[k].symbols.end()) return &found->second;
      if (scopes_[k].boundary && k > 0) {
        if (program_ != &user_) return nullptr;  // library bodies see nothing of the program
        k = 1;                                   // jump to the global scope
      }
    }
    return nullptr;
  }

  void declare(std::string_view name, std::size_t offset, Symbol symbol) {
    auto& symbols = scopes_.back().symbols;
    ++declarations_;
    if (!symbols.emplace(name, std::move(symbol)).second) {
      fail_value(offset, "'" + std::string(name) + "' is already declared");
    }
  }

  struct ScopeGuard {
    explicit ScopeGuard(std::vector<Scope>& scopes, bool boundary = false) : scopes_(scopes) {
      scopes_.emplace_back();
      scopes_.back().boundary = boundary;
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
    ~ScopeGuard() { scopes_.pop_back(); }
    std::vector<Scope>& scopes_;
  };

  // ---------------------------------------------------------------- statements
  Flow statements(Range body) {
    for (std::uint32_t k = 0; k < body.size; ++k) {
      const Flow flow = statement(program_->stmt_lists[body.begin + k]);
      if (flow != Flow::NEXT) return flow;
    }
    return Flow::NEXT;
  }

  Flow statement(NodeId id) {
    const Stmt& stmt = program_->stmts[id];
    DepthGuard guard(depth_);
    if (program_ == &user_) outer_offset_ = stmt.offset;
    return placed(stmt.offset, [&] { return dispatch(stmt); });
  }

  Flow dispatch(const Stmt& stmt) {
    switch (stmt.kind) {
      case StmtKind::VERSION:
        version(stmt);
        break;
      case StmtKind::INCLUDE:
        include(stmt);
        break;
      case StmtKind::QUBIT_DECL:
        require_global_scope(stmt, "Qubits can only be declared");
        qubit_declaration(stmt);
        break;
      case StmtKind::BIT_DECL:
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
        return Flow::END;
      case StmtKind::TIMING_DECL: {
        Symbol symbol;
        symbol.kind = SymbolKind::TIMING;
        declare(stmt.name, stmt.offset, std::move(symbol));
        break;
      }
      case StmtKind::GATE_DEF:
        require_global_scope(stmt, "Gates can only be defined");
        gate_definition(stmt);
        break;
      case StmtKind::SUBROUTINE_DEF:
        require_global_scope(stmt, "Subroutines can only be defined");
        subroutine_definition(stmt);
        break;
      case StmtKind::FOR:
        return for_loop(stmt);
      case StmtKind::IF:
        return condition(stmt.value) ? statements_in_scope(stmt.body)
                                     : statements_in_scope(stmt.else_body);
      case StmtKind::WHILE:
        return while_loop(stmt);
      case StmtKind::SWITCH:
        return switch_statement(stmt);
      case StmtKind::BREAK:
        return Flow::BREAK;
      case StmtKind::CONTINUE:
        return Flow::CONTINUE;
      case StmtKind::RETURN:
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

  Flow statements_in_scope(Range body) {
    const ScopeGuard scope(scopes_);
    return statements(body);
  }

  void version(const Stmt& stmt) {
    const std::string_view number = stmt.text;
    if (number == "2.0") {
      library_name_ = "qelib1.inc";
    } else if (number != "3" && number != "3.0" && number != "3.1") {
      fail_unsupported(stmt.offset,
                       "OpenQASM version " + std::string(number) + " is not supported");
    }
  }

  void include(const Stmt& stmt) {
    if (!library_source(stmt.text)) {
      fail_unsupported(stmt.offset,
                       "Including " + quoted(stmt.text) +
                           " is not supported (only \"stdgates.inc\" and \"qelib1.inc\")");
    }
    library_name_ = stmt.text;
  }

  // ---------------------------------------------------------------- declarations
  std::optional<std::int64_t> register_size(const Stmt& stmt) {
    if (stmt.size == NO_NODE) {
      if (stmt.type.width) return static_cast<std::int64_t>(*stmt.type.width);
      return std::nullopt;
    }
    const std::int64_t size = integer(stmt.size);
    if (size < 0) fail_value(expr(stmt.size).offset, "A register size must not be negative");
    return size;
  }

  // The importer reads register names that start with an ASCII letter or '_'.
  void check_register_name(const Stmt& stmt) const {
    if (!is_identifier(stmt.name)) {
      fail_unsupported(stmt.offset,
                       "Register name " + quoted(stmt.name) +
                           " is not supported (names start with an ASCII letter or '_')");
    }
  }

  // The importer numbers all qubits (and all bits) of a program on one line, so their
  // total must be a number.
  void add_to_total(std::int64_t& total, std::int64_t size, std::size_t offset) const {
    if (size > std::numeric_limits<std::int64_t>::max() - total) {
      fail_value(offset, "Total register size too large: " + std::to_string(total) + " + " +
                             std::to_string(size));
    }
    total += size;
  }

  void qubit_declaration(const Stmt& stmt) {
    check_register_name(stmt);
    const std::optional<std::int64_t> size = register_size(stmt);
    add_to_total(qubit_total_, size.value_or(1), stmt.offset);
    Symbol symbol =
        register_symbol(SymbolKind::QUBITS, stmt.name, size.value_or(1), !size.has_value());
    declare(stmt.name, stmt.offset, symbol);
    writer_.qubit_declaration(stmt.name, size);
  }

  void require_global_scope(const Stmt& stmt, std::string_view what) {
    if (scopes_.size() != 1) fail_value(stmt.offset, std::string(what) + " in the global scope");
  }

  void bit_declaration(const Stmt& stmt) {
    check_register_name(stmt);
    if (!contexts_.empty()) fail_value(stmt.offset, "Bits cannot be declared in a gate");
    const std::optional<std::int64_t> size = register_size(stmt);
    const bool global = scopes_.size() == 1;
    if (global) add_to_total(bit_total_, size.value_or(1), stmt.offset);
    const std::string_view written = global ? stmt.name : local_bits(stmt, size);
    Symbol symbol = register_symbol(SymbolKind::BITS, written, size.value_or(1), !size.has_value());
    declare(stmt.name, stmt.offset, symbol);
    if (global) writer_.bit_declaration(stmt.name, size);
    if (stmt.value == NO_NODE) return;
    if (expr(stmt.value).kind == ExprKind::MEASURE) {
      measure(stmt.value, NO_NODE, stmt.name);
    } else {
      evaluate_into_bits(stmt.value, resolve(name_of(stmt.name), SymbolKind::BITS));
    }
  }

  // The register that bits declared in a block (a loop's body, a subroutine's) stand for:
  // one per declaration and size, declared in the lowered program when first met, so
  // that it is declared once however often the block runs. It is named after the bits
  // with a suffix the program does not use (`b_1`), which keeps it apart from any other
  // `b` the program declares.
  std::string_view local_bits(const Stmt& stmt, std::optional<std::int64_t> size) {
    // Statements are parsed and dropped one top-level statement at a time, so the
    // declaration is known by its place in the text.
    const auto key = std::pair{stmt.offset, size.value_or(-1)};
    const auto found = local_bits_.find(key);
    if (found != local_bits_.end()) return found->second;
    if (identifiers_.empty()) identifiers_ = program_identifiers(user_.text);
    std::string name;
    for (int k = 1; name.empty() || identifiers_.contains(name); ++k) {
      name = std::string(stmt.name) + "_" + std::to_string(k);
    }
    identifiers_.insert(name);
    add_to_total(bit_total_, size.value_or(1), stmt.offset);
    const std::string& written = local_bits_.emplace(key, std::move(name)).first->second;
    writer_.bit_declaration(written, size);
    return written;
  }

  // The register of the hardware qubits is declared before anything else, sized by the
  // highest one the program names, which a pass of the lexer finds.
  void declare_hardware_register() {
    if (user_.text.find('$') == std::string_view::npos) return;
    std::int64_t highest = -1;
    std::set<std::string_view> names_taken;
    Lexer lexer(user_.text);
    for (Token token = lexer.next(); token.kind != TokenKind::END; token = lexer.next()) {
      if (token.kind == TokenKind::IDENTIFIER && token.text.starts_with(HARDWARE_REGISTER)) {
        names_taken.insert(token.text);
      }
      if (token.kind != TokenKind::HARDWARE_QUBIT) continue;
      const auto number = read_decimal_digits(token.text.substr(1));
      if (!number) {
        fail_value(token.offset, "Hardware qubit " + std::string(token.text) + " is out of range");
      }
      highest = std::max(highest, *number);
    }
    if (highest < 0) return;
    add_to_total(qubit_total_, highest, 0);
    add_to_total(qubit_total_, 1, 0);
    hardware_size_ = highest + 1;
    for (int k = 1; names_taken.contains(hardware_register_); ++k) {
      hardware_register_ = std::string(HARDWARE_REGISTER) + "_" + std::to_string(k);
    }
    declare(hardware_register_, 0,
            register_symbol(SymbolKind::QUBITS, hardware_register_, hardware_size_, false));
    writer_.qubit_declaration(hardware_register_, hardware_size_);
  }

  // A type whose width the program wrote as an expression (`int[SIZE]`), with the width
  // worked out; other types as they stand.
  ScalarType resolved_type(ScalarType type, NodeId width) {
    if (width == NO_NODE) return type;
    const std::int64_t bits = integer(width);
    if (bits < 1 || bits > 64) {
      fail_unsupported(expr(width).offset,
                       "Type width " + std::to_string(bits) + " is not supported (1 to 64)");
    }
    type.width = static_cast<unsigned>(bits);
    return type;
  }

  void classical_declaration(const Stmt& stmt) {
    const ScalarType type = resolved_type(stmt.type, stmt.size);
    Symbol symbol;
    symbol.kind = SymbolKind::CLASSICAL;
    symbol.type = type;
    symbol.is_const = stmt.is_const;
    if (stmt.is_input) {
      const auto given = inputs_.find(stmt.name);
      if (given == inputs_.end()) {
        fail_value(stmt.offset, "No value given for input '" + std::string(stmt.name) + "'");
      }
      symbol.value =
          placed(stmt.offset, [&] { return input_value(stmt.name, type, given->second); });
    } else if (stmt.value != NO_NODE) {
      symbol.value = assigned(type, stmt.value);
    }
    declare(stmt.name, stmt.offset, std::move(symbol));
  }

  // An input's number is cast to the input's type. float and angle inputs take any
  // number; bool, bit, bit[n], int and uint inputs take a whole number the type holds
  // (bool and bit 0 or 1, bit[n] and uint[n] 0 to 2ⁿ-1), so a value that a cast would
  // truncate or wrap is refused instead.
  static Value input_value(std::string_view name, const ScalarType& type, double value) {
    if (type.kind == ScalarKind::FLOAT || type.kind == ScalarKind::ANGLE)
      return convert_for_assignment(type, Value::floating(value));
    const auto [low, high] = whole_input_range(type);
    if (std::nearbyint(value) != value || value < static_cast<double>(low) ||
        value >= static_cast<double>(high) + 1.0) {
      raise_value_error("Input '" + std::string(name) + "' is " + g15(value) +
                        ", not a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high) + " as " + type_name(type) + " needs");
    }
    return cast_to(type, Value::integer(static_cast<std::int64_t>(value)));
  }

  // The whole numbers an input of `type` holds, lowest and highest, within those of int64.
  static std::pair<std::int64_t, std::int64_t> whole_input_range(const ScalarType& type) {
    const bool is_signed = type.kind == ScalarKind::INT;
    const unsigned width = type.kind == ScalarKind::BOOL
                               ? 1U
                               : type.width.value_or(type.kind == ScalarKind::BIT ? 1U : 64U);
    const unsigned magnitude_bits = std::min(is_signed ? width - 1 : width, 63U);
    const auto high = static_cast<std::int64_t>((std::uint64_t{1} << magnitude_bits) - 1);
    return {is_signed ? -high - 1 : 0, high};
  }

  Value assigned(const ScalarType& type, NodeId value) {
    const Value computed = evaluate(value);
    return placed(expr(value).offset, [&] { return convert_for_assignment(type, computed); });
  }

  void assignment(const Stmt& stmt) {
    const Expr& target = expr(stmt.target);
    if (expr(stmt.value).kind == ExprKind::MEASURE) {
      measure(stmt.value, stmt.target);
      return;
    }
    if (target.kind != ExprKind::NAME) {
      Symbol* base = target.kind == ExprKind::INDEX ? lookup(expr(target.left).text) : nullptr;
      if (base != nullptr && base->kind == SymbolKind::BITS) {
        evaluate_into_bits(stmt.value, bits(stmt.target));
        return;
      }
      fail_unsupported(target.offset, "Assigning to parts of a value is not supported");
    }
    Symbol* symbol = lookup(target.text);
    if (symbol == nullptr)
      fail_value(target.offset, "Undeclared name '" + std::string(target.text) + "'");
    if (symbol->kind == SymbolKind::BITS) {
      evaluate_into_bits(stmt.value, bits(stmt.target));
      return;
    }
    if (symbol->kind != SymbolKind::CLASSICAL) {
      fail_value(target.offset, "'" + std::string(target.text) + "' cannot be assigned");
    }
    if (symbol->is_const)
      fail_value(target.offset, "'" + std::string(target.text) + "' is constant");
    Value value = evaluate(stmt.value);
    if (stmt.text != "=") {
      if (!symbol->value) {
        fail_value(target.offset, "'" + std::string(target.text) + "' has no value here");
      }
      value = apply(compound_operator(stmt.text), *symbol->value, value);
    }
    symbol->value = placed(expr(stmt.value).offset,
                           [&] { return convert_for_assignment(symbol->type, value); });
  }

  // The circuit keeps no classical values, so a value given to bits is dropped, except
  // that a subroutine called for it is inlined all the same: its body may hold gates,
  // and a measurement it returns measures into `target`.
  void evaluate_into_bits(NodeId value, const Resolved& target) {
    const Expr& node = expr(value);
    const Symbol* callee = node.kind == ExprKind::CALL ? lookup(node.text) : nullptr;
    if (callee == nullptr || callee->kind != SymbolKind::SUBROUTINE) return;
    next_call_return_bits_ = &target;
    const std::optional<Value> result = call(node);
    next_call_return_bits_ = nullptr;
    if (!result && !std::exchange(last_call_measured_, false)) {
      fail_value(node.offset, "'" + std::string(node.text) + "' returns no value");
    }
  }

  static Expr name_of(std::string_view name) {
    Expr node;
    node.kind = ExprKind::NAME;
    node.text = name;
    return node;
  }

  static BinaryOp compound_operator(std::string_view op) {
    static constexpr std::array<std::pair<std::string_view, BinaryOp>, 11> OPERATORS = {{
        {"+=", BinaryOp::ADD},
        {"-=", BinaryOp::SUBTRACT},
        {"*=", BinaryOp::MULTIPLY},
        {"/=", BinaryOp::DIVIDE},
        {"%=", BinaryOp::MODULO},
        {"**=", BinaryOp::POWER},
        {"&=", BinaryOp::BIT_AND},
        {"|=", BinaryOp::BIT_OR},
        {"^=", BinaryOp::BIT_XOR},
        {"<<=", BinaryOp::SHIFT_LEFT},
        {">>=", BinaryOp::SHIFT_RIGHT},
    }};
    for (const auto& [text, binary] : OPERATORS) {
      if (same_text(text, op)) return binary;
    }
    return BinaryOp::ADD;
  }

  void alias(const Stmt& stmt) {
    Resolved resolved;
    alias_elements(stmt.value, resolved);
    Symbol symbol = register_symbol(SymbolKind::QUBITS, stmt.name,
                                    static_cast<std::int64_t>(resolved.elements.size()), false);
    symbol.list = std::make_shared<const std::vector<PlainOperand>>(std::move(resolved.elements));
    declare(stmt.name, stmt.offset, std::move(symbol));
  }

  void alias_elements(NodeId id, Resolved& into) {
    const Expr& node = expr(id);
    if (node.kind == ExprKind::CONCAT) {
      alias_elements(node.left, into);
      alias_elements(node.right, into);
      return;
    }
    const Resolved part = qubits(id);
    into.elements.insert(into.elements.end(), part.elements.begin(), part.elements.end());
  }

  // ---------------------------------------------------------------- control flow
  bool condition(NodeId id) {
    const Value value = evaluate(id);
    return value.as_bool();
  }

  Flow for_loop(const Stmt& stmt) {
    const Expr& iterable = expr(stmt.value);
    const ScalarType type = resolved_type(stmt.type, stmt.size);
    const auto body = [&](const Value& element) {
      const ScopeGuard scope(scopes_);
      Symbol variable;
      variable.kind = SymbolKind::CLASSICAL;
      variable.type = type;
      variable.value = convert_for_assignment(type, element);
      declare(stmt.name, stmt.offset, std::move(variable));
      return statements_in_scope(stmt.body);
    };
    if (iterable.kind == ExprKind::RANGE) {
      const std::int64_t start = iterable.left == NO_NODE ? 0 : integer(iterable.left);
      const std::int64_t step = iterable.step == NO_NODE ? 1 : integer(iterable.step);
      if (iterable.right == NO_NODE) fail_value(iterable.offset, "A loop range needs an end");
      const std::int64_t stop = integer(iterable.right);
      if (step == 0) fail_value(iterable.offset, "A range step must not be zero");
      for (std::int64_t k = start; step > 0 ? k <= stop : k >= stop; k += step) {
        count_statement(stmt.offset);
        const Flow flow = body(Value::integer(k));
        if (flow == Flow::BREAK) break;
        if (leaves_loop(flow)) return flow;
        if ((step > 0 && k > INT64_MAX - step) || (step < 0 && k < INT64_MIN - step)) break;
      }
      return Flow::NEXT;
    }
    if (iterable.kind == ExprKind::SET) {
      for (const NodeId element : list(iterable.items)) {
        count_statement(stmt.offset);
        const Flow flow = body(evaluate(element));
        if (flow == Flow::BREAK) break;
        if (leaves_loop(flow)) return flow;
      }
      return Flow::NEXT;
    }
    fail_unsupported(iterable.offset, "A loop over anything but a range or a set is not supported");
  }

  Flow while_loop(const Stmt& stmt) {
    while (condition(stmt.value)) {
      count_statement(stmt.offset);
      const Flow flow = statements_in_scope(stmt.body);
      if (flow == Flow::BREAK) break;
      if (leaves_loop(flow)) return flow;
    }
    return Flow::NEXT;
  }

  // The case whose label is the value, else the default. The labels are checked first,
  // whatever the value: constant integers, each at most once. A switch is no loop:
  // `break` and `continue` in a case act on the loop around it. Cold, as in the parser.
  [[gnu::cold]] Flow switch_statement(const Stmt& stmt) {
    std::map<std::int64_t, NodeId> cases;
    NodeId fallback = NO_NODE;
    for (std::uint32_t k = 0; k < stmt.body.size; ++k) {
      const NodeId item = program_->stmt_lists[stmt.body.begin + k];
      if (program_->stmts[item].args.size == 0) fallback = item;
      for (const NodeId label : list(program_->stmts[item].args)) {
        if (!is_constant(label)) fail_value(expr(label).offset, "A 'case' label must be constant");
        const std::int64_t value = switch_integer(label, "A 'case' label");
        if (!cases.emplace(value, item).second) {
          fail_value(expr(label).offset, "Duplicate 'case' label " + std::to_string(value));
        }
      }
    }
    const auto chosen = cases.find(switch_integer(stmt.value, "A 'switch' value"));
    const NodeId item = chosen != cases.end() ? chosen->second : fallback;
    return item == NO_NODE ? Flow::NEXT : statements_in_scope(program_->stmts[item].body);
  }

  // A switch compares integers, and the language converts nothing to them implicitly.
  std::int64_t switch_integer(NodeId id, std::string_view what) {
    const Value value = evaluate(id);
    const ScalarKind kind = value.type().kind;
    if (kind != ScalarKind::INT && kind != ScalarKind::UINT) {
      fail_value(expr(id).offset,
                 std::string(what) + " must be an integer, not " + type_name(value.type()));
    }
    return value.as_integer();
  }

  // Literals and constants, and operators, casts and built-in functions applied to them.
  bool is_constant(NodeId id) {
    const Expr& node = expr(id);
    switch (node.kind) {
      case ExprKind::INTEGER:
      case ExprKind::FLOAT:
      case ExprKind::BOOLEAN:
      case ExprKind::BIT_STRING:
        return true;
      case ExprKind::NAME: {
        const Symbol* symbol = lookup(node.text);
        if (symbol == nullptr) return builtin_constant(node.text).has_value();
        return symbol->kind == SymbolKind::CLASSICAL && symbol->is_const;
      }
      case ExprKind::UNARY:
      case ExprKind::CAST:
        return is_constant(node.left);
      case ExprKind::BINARY:
        return is_constant(node.left) && is_constant(node.right);
      case ExprKind::CALL: {
        const auto arguments = list(node.items);
        return lookup(node.text) == nullptr && is_builtin_function(node.text) &&
               std::all_of(arguments.begin(), arguments.end(),
                           [this](NodeId argument) { return is_constant(argument); });
      }
      default:
        return false;
    }
  }

  // ---------------------------------------------------------------- expressions
  std::int64_t integer(NodeId id) {
    // A number as written, as nearly every index is, needs none of the general evaluation.
    if (expr(id).kind == ExprKind::INTEGER) {
      if (const auto number = read_short_decimal(expr(id).text)) return *number;
    }
    const Value value = evaluate(id);
    return placed(expr(id).offset, [&] { return value.as_integer(); });
  }

  Value evaluate(NodeId id) {
    const Expr& node = expr(id);
    return placed(node.offset, [&] { return evaluate_node(node); });
  }

  Value evaluate_node(const Expr& node) {
    switch (node.kind) {
      case ExprKind::INTEGER:
        return read_integer_literal(node.text);
      case ExprKind::FLOAT:
        return read_float_literal(node.text);
      case ExprKind::BOOLEAN:
        return Value::boolean(node.text == "true");
      case ExprKind::BIT_STRING:
        return read_bit_string_literal(node.text);
      case ExprKind::NAME:
        return name_value(node);
      case ExprKind::UNARY:
        return apply(node.unary_op, evaluate(node.left));
      case ExprKind::BINARY:
        return binary_value(node);
      case ExprKind::CAST:
        return cast_to(resolved_type(node.type, node.right), evaluate(node.left));
      case ExprKind::CALL: {
        std::optional<Value> result = call(node);
        if (!result) raise_value_error("'" + std::string(node.text) + "' returns no value");
        return *result;
      }
      case ExprKind::MEASURE:
        raise_not_implemented("A measurement result is known only when the circuit runs");
      case ExprKind::IMAGINARY:
        raise_not_implemented("Complex numbers are not supported");
      case ExprKind::DURATION:
        raise_not_implemented("Durations are not supported here");
      case ExprKind::INDEX: {
        const Symbol* base =
            expr(node.left).kind == ExprKind::NAME ? lookup(expr(node.left).text) : nullptr;
        if (base != nullptr && base->kind == SymbolKind::BITS) {
          raise_not_implemented("'" + std::string(base->register_name) +
                                "' is known only when the circuit runs");
        }
        raise_not_implemented("Indexing a classical value is not supported");
      }
      case ExprKind::HARDWARE_QUBIT:
      case ExprKind::RANGE:
      case ExprKind::SET:
      case ExprKind::CONCAT:
        break;
    }
    raise_value_error("Expected a classical value");
  }

  // `&&` and `||` evaluate their right side only when the left one leaves the result
  // open, so `false && 1/0 == 1` is false rather than a division by zero.
  Value binary_value(const Expr& node) {
    const Value left = evaluate(node.left);
    if (node.binary_op == BinaryOp::LOGICAL_AND && !left.as_bool()) return Value::boolean(false);
    if (node.binary_op == BinaryOp::LOGICAL_OR && left.as_bool()) return Value::boolean(true);
    return apply(node.binary_op, left, evaluate(node.right));
  }

  Value name_value(const Expr& node) {
    const Symbol* symbol = lookup(node.text);
    if (symbol == nullptr) {
      if (auto constant = builtin_constant(node.text)) return *constant;
      raise_value_error("Undeclared name '" + std::string(node.text) + "'");
    }
    switch (symbol->kind) {
      case SymbolKind::CLASSICAL:
        if (!symbol->value) raise_value_error("'" + std::string(node.text) + "' has no value here");
        return *symbol->value;
      case SymbolKind::BITS:
        raise_not_implemented("'" + std::string(node.text) +
                              "' is known only when the circuit runs");
      case SymbolKind::TIMING:
        raise_not_implemented("Durations are not supported here");
      case SymbolKind::QUBITS:
      case SymbolKind::GATE:
      case SymbolKind::SUBROUTINE:
        break;
    }
    raise_value_error("'" + std::string(node.text) + "' is not a classical value");
  }

  std::optional<Value> call(const Expr& node) {
    const Symbol* symbol = lookup(node.text);
    if (symbol != nullptr && symbol->kind == SymbolKind::SUBROUTINE)
      return call_subroutine(node, *symbol);
    if (symbol == nullptr && is_pulse_instruction(node.text))
      raise_not_implemented("'" + std::string(node.text) + "' is not supported");
    if (!is_builtin_function(node.text) || symbol != nullptr) {
      raise_value_error("'" + std::string(node.text) + "' is not a subroutine");
    }
    std::vector<Value> arguments;
    for (const NodeId argument : list(node.items))
      arguments.push_back(evaluate(argument));
    return call_builtin(node.text, arguments);
  }

  // ---------------------------------------------------------------- subroutines
  void subroutine_definition(const Stmt& stmt) {
    Symbol symbol;
    symbol.kind = SymbolKind::SUBROUTINE;
    symbol.definition = static_cast<NodeId>(&stmt - program_->stmts.data());
    declare(stmt.name, stmt.offset, std::move(symbol));
  }

  // A subroutine call is inlined: its body runs with the arguments bound, and the value
  // of its `return`, if any, is the call's value.
  std::optional<Value> call_subroutine(const Expr& node, const Symbol& symbol) {
    const DepthGuard guard(depth_);
    // Only this call returns into the bits; calls in its arguments do not.
    const Resolved* const return_bits = std::exchange(next_call_return_bits_, nullptr);
    const Stmt& definition = program_->stmts[symbol.definition];
    const auto arguments = list(node.items);
    if (arguments.size() != definition.params.size) {
      raise_value_error("'" + std::string(node.text) + "' takes " +
                        std::to_string(definition.params.size) + " arguments, " +
                        std::to_string(arguments.size()) + " given");
    }
    std::vector<Symbol> bound;
    for (std::uint32_t k = 0; k < definition.params.size; ++k) {
      bound.push_back(argument_symbol(program_->params[definition.params.begin + k], arguments[k]));
    }
    const ScopeGuard scope(scopes_, true);
    for (std::uint32_t k = 0; k < definition.params.size; ++k) {
      const Param& param = program_->params[definition.params.begin + k];
      declare(param.name, param.offset, std::move(bound[k]));
    }
    const Resolved* const outer_return_bits = std::exchange(return_bits_, return_bits);
    return_value_.reset();
    returned_measurement_ = false;
    if (statements(definition.body) == Flow::END)
      raise_not_implemented("'end' in a subroutine is not supported");
    return_bits_ = outer_return_bits;
    std::optional<Value> result = std::exchange(return_value_, std::nullopt);
    last_call_measured_ = std::exchange(returned_measurement_, false);
    if (last_call_measured_) return std::nullopt;
    if (definition.has_return_type) {
      if (!result)
        raise_value_error("'" + std::string(node.text) + "' ended without returning a value");
      return convert_for_assignment(resolved_type(definition.type, definition.size), *result);
    }
    return std::nullopt;
  }

  Symbol argument_symbol(const Param& param, NodeId argument) {
    if (param.kind == ParamKind::QUBIT) {
      Resolved qubits_given = qubits(argument);
      const std::int64_t size = param.size == NO_NODE ? 1 : integer(param.size);
      if (static_cast<std::int64_t>(qubits_given.elements.size()) != size ||
          (param.size == NO_NODE && !qubits_given.single)) {
        fail_value(expr(argument).offset, "Argument '" + std::string(param.name) + "' takes " +
                                              std::to_string(size) + " qubits");
      }
      Symbol symbol = register_symbol(SymbolKind::QUBITS, param.name, size, param.size == NO_NODE);
      symbol.list =
          std::make_shared<const std::vector<PlainOperand>>(std::move(qubits_given.elements));
      return symbol;
    }
    Symbol symbol;
    symbol.kind = SymbolKind::CLASSICAL;
    symbol.type = resolved_type(param.type, param.size);
    symbol.value = assigned(symbol.type, argument);
    return symbol;
  }

  Flow return_statement(const Stmt& stmt) {
    if (stmt.value != NO_NODE) {
      if (expr(stmt.value).kind == ExprKind::MEASURE) {
        if (return_bits_ == nullptr) {
          fail_unsupported(stmt.offset,
                           "A returned measurement must be assigned to bits where it is called");
        }
        if (return_bits_ == &DROPPED_RESULT) {
          measure(stmt.value, NO_NODE);
        } else {
          measure_into(stmt.value, *return_bits_);
        }
        returned_measurement_ = true;
        return Flow::RETURN;
      }
      return_value_ = evaluate(stmt.value);
    }
    return Flow::RETURN;
  }

  double parameter(NodeId id) {
    const Value value = evaluate(id);
    return placed(expr(id).offset, [&] {
      const double number = value.as_double();
      if (!std::isfinite(number)) raise_value_error("A gate parameter must be finite");
      return number;
    });
  }

  // ---------------------------------------------------------------- operands
  Resolved qubits(NodeId id) {
    const Expr& node = expr(id);
    return placed(node.offset, [&] { return resolve(node, SymbolKind::QUBITS); });
  }

  Resolved bits(NodeId id) {
    const Expr& node = expr(id);
    return placed(node.offset, [&] { return resolve(node, SymbolKind::BITS); });
  }

  Resolved resolve(const Expr& node, SymbolKind kind) {
    const std::string_view what = kind == SymbolKind::QUBITS ? "qubit" : "bit";
    if (node.kind == ExprKind::HARDWARE_QUBIT && kind == SymbolKind::QUBITS) {
      const auto number = read_decimal_digits(node.text.substr(1));
      return Resolved{{PlainOperand{hardware_register_, number.value_or(0)}}, true};
    }
    if (node.kind == ExprKind::NAME) {
      const Symbol& symbol = operand_symbol(node, kind, what);
      if (symbol.list) return Resolved{*symbol.list, symbol.scalar};
      if (symbol.scalar) return Resolved{{scalar_operand(symbol)}, true};
      // Spelling out more elements than the lowered program may hold would only fail later.
      if (static_cast<std::uint64_t>(symbol.size) > max_statements_) fail_too_long(node.offset);
      Resolved all{{}, false};
      all.elements.reserve(static_cast<std::size_t>(symbol.size));
      for (std::int64_t k = 0; k < symbol.size; ++k)
        all.elements.push_back(PlainOperand{symbol.register_name, k});
      return all;
    }
    if (node.kind == ExprKind::INDEX) return resolve_index(node, kind, what);
    raise_value_error("Expected a " + std::string(what) + " operand");
  }

  // A scalar register is written by its bare name, except in the body of a written
  // definition, where the importer reads bare names as the definition's arguments only.
  PlainOperand scalar_operand(const Symbol& symbol) const {
    const bool in_body = !writing_.empty() && symbol.kind == SymbolKind::QUBITS;
    return PlainOperand{symbol.register_name, in_body ? 0 : PlainOperand::NO_INDEX};
  }

  const Symbol& operand_symbol(const Expr& node, SymbolKind kind, std::string_view what) {
    const Symbol* symbol = lookup(node.text);
    if (symbol == nullptr) raise_value_error("Undeclared name '" + std::string(node.text) + "'");
    if (symbol->kind != kind)
      raise_value_error("'" + std::string(node.text) + "' is not a " + std::string(what));
    return *symbol;
  }

  // Appends the qubit `id` names when it names one qubit of a declared register (the
  // common case, read without building a list); false when it may name more.
  bool single_qubit(NodeId id, std::vector<PlainOperand>& into) {
    const Expr& node = expr(id);
    if (node.kind == ExprKind::INDEX && node.items.size == 1 &&
        expr(node.left).kind == ExprKind::NAME) {
      const ExprKind index = expr(list(node.items)[0]).kind;
      if (index == ExprKind::RANGE || index == ExprKind::SET) return false;
      const Symbol* symbol = lookup(expr(node.left).text);
      if (symbol == nullptr || symbol->kind != SymbolKind::QUBITS || symbol->list || symbol->scalar)
        return false;
      const std::int64_t at = placed(node.offset, [&] {
        return element_index(list(node.items)[0], symbol->size, symbol->register_name, "qubit");
      });
      into.push_back(PlainOperand{symbol->register_name, at});
      return true;
    }
    if (node.kind == ExprKind::NAME) {
      const Symbol* symbol = lookup(node.text);
      if (symbol == nullptr || symbol->kind != SymbolKind::QUBITS || !symbol->scalar) return false;
      into.push_back(symbol->list ? (*symbol->list)[0] : scalar_operand(*symbol));
      return true;
    }
    return false;
  }

  Resolved resolve_index(const Expr& node, SymbolKind kind, std::string_view what) {
    if (node.items.size != 1)
      raise_value_error("A " + std::string(what) + " register has one index");
    const Expr& base = expr(node.left);
    const Expr& index = expr(list(node.items)[0]);
    // A declared register is indexed in place, without spelling out its elements.
    if (base.kind == ExprKind::NAME && index.kind != ExprKind::RANGE &&
        index.kind != ExprKind::SET) {
      const Symbol& symbol = operand_symbol(base, kind, what);
      if (!symbol.list) {
        const std::int64_t at = element_index(list(node.items)[0], symbol.size, base.text, what);
        return Resolved{
            {symbol.scalar ? scalar_operand(symbol) : PlainOperand{symbol.register_name, at}},
            true};
      }
    }
    const Resolved whole = resolve(base, kind);
    const auto size = static_cast<std::int64_t>(whole.elements.size());
    Resolved picked{{}, false};
    if (index.kind == ExprKind::SET) {
      for (const NodeId element : list(index.items)) {
        picked.elements.push_back(
            whole
                .elements[static_cast<std::size_t>(element_index(element, size, base.text, what))]);
      }
      return picked;
    }
    if (index.kind == ExprKind::RANGE) {
      for (const std::int64_t at : slice(index, size))
        picked.elements.push_back(whole.elements[static_cast<std::size_t>(at)]);
      return picked;
    }
    const std::int64_t at = element_index(list(node.items)[0], size, base.text, what);
    return Resolved{{whole.elements[static_cast<std::size_t>(at)]}, true};
  }

  // An index into `size` elements, negative ones counting from the end.
  std::int64_t element_index(NodeId id, std::int64_t size, std::string_view name,
                             std::string_view what) {
    const std::int64_t index = integer(id);
    const std::int64_t at = index < 0 ? index + size : index;
    if (at < 0 || at >= size) {
      fail_value(expr(id).offset, "Index " + std::to_string(index) + " out of range for " +
                                      std::string(what) + " register " + std::string(name) + "[" +
                                      std::to_string(size) + "]");
    }
    return at;
  }

  // The indices `start:step:stop` picks from `size` elements; both ends are included,
  // omitted ends are the ends of the register, negative ones count from the end.
  std::vector<std::int64_t> slice(const Expr& range, std::int64_t size) {
    const std::int64_t step = range.step == NO_NODE ? 1 : integer(range.step);
    if (step == 0) fail_value(range.offset, "A range step must not be zero");
    const auto end = [&](NodeId id, std::int64_t omitted) {
      if (id == NO_NODE) return omitted;
      const std::int64_t value = integer(id);
      const std::int64_t at = value < 0 ? value + size : value;
      if (at < 0 || at >= size) {
        fail_value(expr(id).offset, "Index " + std::to_string(value) +
                                        " out of range for a register of size " +
                                        std::to_string(size));
      }
      return at;
    };
    const std::int64_t start = end(range.left, step > 0 ? 0 : size - 1);
    const std::int64_t stop = end(range.right, step > 0 ? size - 1 : 0);
    std::vector<std::int64_t> indices;
    for (std::int64_t k = start; step > 0 ? k <= stop : k >= stop; k += step) {
      if (indices.size() == max_statements_) fail_too_long(range.offset);
      indices.push_back(k);
    }
    return indices;
  }

  // ---------------------------------------------------------------- measurement and reset
  void measure(NodeId measurement, NodeId target, std::string_view declared_bits = {}) {
    if (target == NO_NODE && declared_bits.empty()) {
      for (const PlainOperand& qubit : qubits(expr(measurement).left).elements)
        emit_measure(qubit, std::nullopt, expr(measurement).offset);
      return;
    }
    measure_into(measurement, target != NO_NODE
                                  ? bits(target)
                                  : resolve(name_of(declared_bits), SymbolKind::BITS));
  }

  void measure_into(NodeId measurement, const Resolved& result) {
    const Resolved measured = qubits(expr(measurement).left);
    if (result.elements.size() != measured.elements.size()) {
      fail_value(expr(measurement).offset,
                 "Measurement size mismatch: " + std::to_string(measured.elements.size()) +
                     " qubits, " + std::to_string(result.elements.size()) + " bits");
    }
    for (std::size_t k = 0; k < measured.elements.size(); ++k) {
      emit_measure(measured.elements[k], result.elements[k], expr(measurement).offset);
    }
  }

  void emit_measure(const PlainOperand& qubit, const std::optional<PlainOperand>& bit,
                    std::size_t offset) {
    if (!contexts_.empty() &&
        (!contexts_.back().controls.empty() || contexts_.back().collected != nullptr)) {
      fail_unsupported(offset, "A measurement cannot be controlled or inverted");
    }
    count_statement(offset);
    writer_.measure(qubit, bit);
  }

  void reset(const Stmt& stmt) {
    for (const NodeId operand : list(stmt.operands)) {
      for (const PlainOperand& qubit : qubits(operand).elements) {
        if (!contexts_.empty() &&
            (!contexts_.back().controls.empty() || contexts_.back().collected != nullptr)) {
          fail_unsupported(stmt.offset, "A reset cannot be controlled or inverted");
        }
        count_statement(stmt.offset);
        writer_.reset(qubit);
      }
    }
  }

  // ---------------------------------------------------------------- gate definitions
  GateRef definition_ref(const Stmt& stmt) const {
    const int qubits = static_cast<int>(stmt.params.size - stmt.angle_count);
    return GateRef{stays_definition(stmt, qubits) ? GateRef::Kind::WRITTEN : GateRef::Kind::INLINED,
                   stmt.name,
                   program_,
                   static_cast<NodeId>(&stmt - program_->stmts.data()),
                   static_cast<int>(stmt.angle_count),
                   qubits};
  }

  // A definition without parameters stays a definition, unless the importer would read
  // its calls differently: a name it reads as an identifier only when it starts with an
  // ASCII letter, `i` it refuses, and a standard name keeps that gate's operand layout.
  // That layout fits a definition with as many arguments as a gate without controls
  // (one-qubit gates, swap), and one with a single argument for a controlled two-qubit
  // name (cx, cp, ...), whose one operand is then its target. ccx and cswap hold controls
  // that modifiers may not add to.
  bool stays_definition(const Stmt& stmt, int qubits) const {
    if (stmt.angle_count != 0 || !is_identifier(stmt.name) || stmt.name == "i") return false;
    for (std::uint32_t k = 0; k < stmt.params.size; ++k) {
      if (!is_identifier(program_->params[stmt.params.begin + k].name)) return false;
    }
    const NativeGate* native = find_native(stmt.name);
    if (native == nullptr) return true;
    if (native->qubits == 2 && stmt.name != "swap") return qubits == 1;
    return native->qubits <= 2 && qubits == native->qubits;
  }

  // A later definition of a gate replaces the earlier one, as the importer reads it.
  void gate_definition(const Stmt& stmt) {
    Symbol symbol;
    symbol.kind = SymbolKind::GATE;
    symbol.gate = definition_ref(stmt);
    if (symbol.gate.kind == GateRef::Kind::WRITTEN) write_definition(stmt);
    auto& symbols = scopes_.back().symbols;
    const auto existing = symbols.find(stmt.name);
    if (existing != symbols.end() && existing->second.kind == SymbolKind::GATE) {
      existing->second = std::move(symbol);
      return;
    }
    declare(stmt.name, stmt.offset, std::move(symbol));
  }

  // A written definition may call a gate defined further down, as the importer reads
  // all definitions first: the call is written by name and checked at the end against a
  // definition without parameters and with as many qubits as the call has operands.
  std::optional<GateRef> forward_call(std::string_view name) {
    if (writing_.empty() || program_ != &user_) return std::nullopt;
    return GateRef{GateRef::Kind::WRITTEN, name, nullptr, NO_NODE, 0, -1};
  }

  void check_forward_calls() {
    for (const ForwardCall& call : forward_calls_) {
      const Symbol* symbol = lookup(call.name);
      const bool defined = symbol != nullptr && symbol->kind == SymbolKind::GATE &&
                           symbol->gate.kind == GateRef::Kind::WRITTEN;
      if (!defined) fail_value(call.offset, "Unknown gate '" + std::string(call.name) + "'");
      if (static_cast<std::size_t>(symbol->gate.qubits) + call.controls != call.operands) {
        fail_value(call.offset,
                   "'" + std::string(call.name) + "' takes " +
                       std::to_string(symbol->gate.qubits + static_cast<int>(call.controls)) +
                       " qubit operands, " + std::to_string(call.operands) + " given");
      }
    }
  }

  // A definition without parameters stays a definition (it imports as a block); its
  // body is lowered with the arguments as bare names.
  void write_definition(const Stmt& stmt) {
    std::vector<std::string_view> arguments;
    const ScopeGuard scope(scopes_, true);
    for (std::uint32_t k = 0; k < stmt.params.size; ++k) {
      const Param& param = program_->params[stmt.params.begin + k];
      arguments.push_back(param.name);
      Symbol symbol = register_symbol(SymbolKind::QUBITS, param.name, 1, true);
      symbol.list = std::make_shared<const std::vector<PlainOperand>>(1, PlainOperand{param.name});
      declare(param.name, param.offset, std::move(symbol));
    }
    contexts_.emplace_back();
    writing_ = stmt.name;
    callees_[writing_].clear();  // a redefinition replaces what the name calls
    writer_.begin_definition(stmt.name, arguments);
    try {
      if (statements(stmt.body) != Flow::NEXT) fail_value(stmt.offset, std::string(MISPLACED_FLOW));
    } catch (...) {
      contexts_.pop_back();
      writing_ = {};
      throw;
    }
    contexts_.pop_back();
    writing_ = {};
    writer_.end_definition();
  }

  // ---------------------------------------------------------------- gate calls
  std::optional<GateRef> find_gate(std::string_view name) {
    if (const Symbol* symbol = lookup(name)) {
      if (symbol->kind == SymbolKind::GATE) return symbol->gate;
    }
    if (const NativeGate* native = find_native(name)) return native_ref(*native);
    if (auto library = library_gate(name)) return library;
    return forward_call(name);
  }

  // A gate of the standard libraries that the importer does not know by name: its
  // definition is inlined. The included library's definition counts; a gate only the
  // other library defines is taken from there, as programs written for one library often
  // use a gate or two of the other. OpenQASM 2's built-in CX is the importer's cx.
  std::optional<GateRef> library_gate(std::string_view name) {
    if (name == "CX") return native_ref(*find_native("cx"));
    if (libraries_.empty()) {
      const std::string_view other = library_name_ == "qelib1.inc" ? "stdgates.inc" : "qelib1.inc";
      load_library(other);
      load_library(library_name_);
    }
    const auto found = library_gates_.find(name);
    if (found == library_gates_.end()) return std::nullopt;
    return found->second;
  }

  void load_library(std::string_view include_name) {
    const std::optional<std::string_view> source = library_source(include_name);
    if (!source) return;
    const Program& library = *libraries_.emplace_back(std::make_unique<Program>(parse(*source)));
    for (std::uint32_t k = 0; k < library.top.size; ++k) {
      const NodeId id = library.stmt_lists[library.top.begin + k];
      const Stmt& stmt = library.stmts[id];
      if (stmt.kind != StmtKind::GATE_DEF) continue;
      library_gates_[stmt.name] = GateRef{GateRef::Kind::INLINED,
                                          stmt.name,
                                          &library,
                                          id,
                                          static_cast<int>(stmt.angle_count),
                                          static_cast<int>(stmt.params.size - stmt.angle_count)};
    }
  }

  void gate_call(const Stmt& stmt) {
    const std::optional<GateRef> gate = find_gate(stmt.name);
    if (!gate) fail_value(stmt.offset, "Unknown gate '" + std::string(stmt.name) + "'");
    Call call = recycled_call();
    call.gate = *gate;
    call.has_parameters = stmt.has_args;
    for (const NodeId argument : list(stmt.args))
      call.parameters.push_back(parameter(argument));
    check_parameter_count(call, stmt);

    // The modifiers, read left to right: controls are taken from the front of the operands.
    std::size_t control_count = 0;
    for (std::uint32_t k = 0; k < stmt.modifiers.size; ++k) {
      const Modifier& modifier = program_->modifiers[stmt.modifiers.begin + k];
      if (modifier.kind == ModifierKind::INV) {
        call.inverse = !call.inverse;
      } else if (modifier.kind == ModifierKind::POW) {
        call.exponent *= parameter(modifier.argument);
      } else {
        const std::int64_t count = modifier.argument == NO_NODE ? 1 : integer(modifier.argument);
        if (count < 1) fail_value(modifier.offset, "A control count must be positive");
        if (count > static_cast<std::int64_t>(stmt.operands.size)) {
          fail_value(modifier.offset, "More controls than operands");
        }
        call.states.insert(call.states.end(), static_cast<std::size_t>(count),
                           modifier.kind == ModifierKind::CTRL ? 1 : 0);
        control_count += static_cast<std::size_t>(count);
      }
    }

    if (call.gate.name == "unitary" && call.gate.kind == GateRef::Kind::NATIVE) {
      call.gate.qubits = unitary_target_count(call.parameters, stmt.offset);
    }
    // Most calls name single qubits only: those go straight into the call.
    call.qubits.reserve(stmt.operands.size);
    for (const NodeId operand : list(stmt.operands)) {
      if (!single_qubit(operand, call.qubits)) break;
    }
    std::vector<Resolved> operands;
    if (call.qubits.size() != stmt.operands.size) {
      call.qubits.clear();
      operands.reserve(stmt.operands.size);
      for (const NodeId operand : list(stmt.operands))
        operands.push_back(qubits(operand));
    }
    const std::size_t given = operands.empty() ? call.qubits.size() : operands.size();
    const std::size_t expected =
        call.gate.qubits < 0 ? given : control_count + static_cast<std::size_t>(call.gate.qubits);
    if (given != expected) {
      fail_value(stmt.offset, "'" + std::string(stmt.name) + "' takes " + std::to_string(expected) +
                                  " qubit operands, " + std::to_string(given) + " given");
    }
    if (call.gate.kind == GateRef::Kind::WRITTEN && call.gate.qubits < 0) {
      forward_calls_.push_back({stmt.name, given, control_count, stmt.offset});
    }
    if (operands.empty()) {
      submit(call, stmt);
    } else {
      broadcast(call, operands, stmt);
    }
  }

  // The qubits a `unitary` matrix acts on, from its entries written row by row as real
  // and imaginary parts; the importer's messages for entries that are no such matrix.
  int unitary_target_count(const std::vector<double>& parameters, std::size_t offset) const {
    if (parameters.empty()) fail_value(offset, "unitary gate requires flattened matrix parameters");
    if (parameters.size() % 2 != 0)
      fail_value(offset, "unitary parameters must be real/imaginary pairs");
    const std::size_t entries = parameters.size() / 2;
    const auto dimension =
        static_cast<std::size_t>(std::llround(std::sqrt(static_cast<double>(entries))));
    if (dimension * dimension != entries) {
      fail_value(offset, "unitary parameter count " + std::to_string(parameters.size()) +
                             " does not encode a square matrix");
    }
    if ((dimension & (dimension - 1)) != 0) {
      fail_value(offset, "unitary matrix dimension " + std::to_string(dimension) +
                             " must be a power of two");
    }
    return std::countr_zero(dimension);
  }

  void check_parameter_count(const Call& call, const Stmt& stmt) const {
    const auto given = static_cast<int>(call.parameters.size());
    if (call.gate.angles < 0 || given == call.gate.angles) return;
    if (call.gate.kind == GateRef::Kind::NATIVE && call.gate.name == "cu" && given == 3)
      return;  // phase omitted
    fail_value(stmt.offset, "'" + std::string(stmt.name) + "' takes " +
                                std::to_string(call.gate.angles) + " parameters, " +
                                std::to_string(given) + " given");
  }

  // A register or slice among the operands repeats the call once per element.
  void broadcast(Call& call, const std::vector<Resolved>& operands, const Stmt& stmt) {
    std::size_t width = 1;
    bool any = false;
    for (const Resolved& operand : operands) {
      if (operand.single) continue;
      if (any && operand.elements.size() != width) {
        fail_value(stmt.offset, "Registers of different sizes in one broadcast");
      }
      width = operand.elements.size();
      any = true;
    }
    if (any && width == 0) return;
    for (std::size_t k = 0; k < width; ++k) {
      Call one = call;
      one.qubits.clear();
      for (const Resolved& operand : operands)
        one.qubits.push_back(operand.single ? operand.elements[0] : operand.elements[k]);
      submit(one, stmt);
    }
  }

  // A call made by a statement: inside an inlined body it gets the body's controls and,
  // in an inverted body, waits to be applied in reverse. The body's controls are the
  // qubits of the call that inlines it, which has checked them.
  void submit(Call& call, const Stmt& stmt) {
    check_distinct_qubits(call.qubits, stmt);
    if (!contexts_.empty()) {
      InlineContext& context = contexts_.back();
      if (!context.controls.empty()) {
        call.states.insert(call.states.begin(), context.states.begin(), context.states.end());
        call.qubits.insert(call.qubits.begin(), context.controls.begin(), context.controls.end());
      }
      if (context.collected != nullptr) {
        context.collected->push_back(std::move(call));
        return;
      }
    }
    perform(call, stmt.offset);
    keep_buffers(call);
  }

  // The language forbids one qubit in two operands of a call.
  void check_distinct_qubits(std::span<const PlainOperand> qubits, const Stmt& stmt) const {
    if (const PlainOperand* repeated = repeated_qubit(qubits)) fail_repeated(*repeated, stmt);
  }
  [[noreturn, gnu::cold]] void fail_repeated(const PlainOperand& qubit, const Stmt& stmt) const {
    fail_value(stmt.offset, "Qubit " + qubit_text(qubit, hardware_register_) +
                                " is used twice in one call of '" + std::string(stmt.name) + "'");
  }

  // A fresh call with the room of a performed one: most calls then allocate nothing. It is
  // moved from the spare rather than built and filled, which would clear it twice.
  Call recycled_call() {
    Call call = std::move(spare_);
    call.gate = GateRef{};
    call.has_parameters = false;
    call.parameters.clear();
    call.states.clear();
    call.qubits.clear();
    call.inverse = false;
    call.exponent = 1.0;
    return call;
  }
  void keep_buffers(Call& call) {
    spare_.parameters = std::move(call.parameters);
    spare_.states = std::move(call.states);
    spare_.qubits = std::move(call.qubits);
  }

  void perform(Call& call, std::size_t offset) {
    if (call.exponent != 1.0) {
      power(call, offset);
      return;
    }
    if (call.inverse && call.gate.kind == GateRef::Kind::NATIVE) invert_native(call, offset);
    if (call.inverse || call.gate.kind == GateRef::Kind::INLINED) {
      if (call.gate.program == nullptr) {  // a written definition further down the program
        fail_unsupported(offset, "The inverse of '" + std::string(call.gate.name) +
                                     "', defined further down, is not supported");
      }
      inline_body(call, offset);
      return;
    }
    if (!call.states.empty()) spell_out_compact_name(call);
    count_statement(offset);
    if (call.gate.kind == GateRef::Kind::WRITTEN) note_written_call(call.gate.name, offset);
    const PlainCall plain{call.states, call.gate.name, call.has_parameters, call.parameters,
                          call.qubits};
    writer_.call(plain);
  }

  // ---------------------------------------------------------------- nesting of definitions
  // The importer expands a called definition's body and every definition it calls, and
  // refuses cycles and nesting deeper than MAX_NESTING_DEPTH. Lowering refuses the same
  // programs, so that whatever it returns imports.
  void note_written_call(std::string_view callee, std::size_t offset) {
    if (writing_.empty()) {
      top_level_calls_.emplace_back(callee, program_ == &user_ ? offset : outer_offset_);
    } else {
      callees_[writing_].push_back(callee);
    }
  }

  void check_definition_nesting() {
    std::unordered_map<std::string_view, int> heights;
    for (const auto& call : top_level_calls_) {
      int depth = 0;
      placed(call.second, [&] { nesting_height(call.first, heights, depth); });
    }
  }

  // How deep the importer nests to expand `name`; -1 marks a definition being expanded.
  int nesting_height(std::string_view name, std::unordered_map<std::string_view, int>& heights,
                     int& depth) {
    const auto known = heights.find(name);
    if (known != heights.end()) {
      if (known->second < 0) {
        raise_value_error("Circular gate definition detected: '" + std::string(name) +
                          "' calls itself directly or indirectly.");
      }
      if (depth + known->second > MAX_NESTING_DEPTH)
        raise_recursion_error(std::string(RECURSION_MESSAGE));
      return known->second;
    }
    const DepthGuard guard(depth);
    heights[name] = -1;
    int height = 1;
    const auto callees = callees_.find(name);
    if (callees != callees_.end()) {
      for (const std::string_view callee : callees->second) {
        height = std::max(height, 1 + nesting_height(callee, heights, depth));
      }
    }
    heights[name] = height;
    return height;
  }

  // The importer refuses modifiers on ccx and cswap, whose names hold controls of their
  // own: with more controls they are written as x and swap under modifiers.
  static void spell_out_compact_name(Call& call) {
    const auto spelled = spell_out_compact_controls(call.gate.name, call.states.size());
    if (!spelled) return;
    call.gate = native_ref(*find_native(spelled->name));
    call.states.insert(call.states.end(), spelled->own_controls, 1);
  }

  void power(Call& call, std::size_t offset) {
    const double exponent = call.exponent;
    call.exponent = 1.0;
    if (const std::optional<Repetition> repetition = repetition_of_power(exponent)) {
      if (repetition->inverted) call.inverse = !call.inverse;
      if (std::fabs(exponent) > static_cast<double>(max_statements_)) fail_too_long(offset);
      for (std::uint64_t k = 0; k < repetition->times; ++k) {
        count_statement(offset);
        Call once = call;
        perform(once, offset);
      }
      return;
    }
    if (call.gate.kind == GateRef::Kind::NATIVE) {
      if (std::optional<NativeForm> powered =
              fractional_power_of_native(native_form(call), exponent)) {
        take_form(call, std::move(*powered));
        perform(call, offset);
        return;
      }
    }
    fail_unsupported(offset,
                     "pow(" + shortest(exponent) + ") @ " + std::string(call.gate.name) +
                         " is not supported (only rotations and phases take a non-integer power)");
  }

  // The gates of the inverse but the last are performed as calls of their own; the call
  // becomes the last.
  void invert_native(Call& call, std::size_t offset) {
    call.inverse = false;
    std::optional<NativeGates> inverse =
        placed(offset, [&] { return inverse_of_native(native_form(call)); });
    if (!inverse) {
      fail_unsupported(offset,
                       "The inverse of '" + std::string(call.gate.name) + "' is not supported");
    }
    for (std::size_t k = 0; k + 1 < inverse->size(); ++k) {
      Call before = call;
      take_form(before, std::move((*inverse)[k]));
      if (before.gate.qubits == 0) before.qubits.resize(before.states.size());  // a phase
      perform(before, offset);
    }
    take_form(call, std::move(inverse->back()));
  }

  // A native call's gate as the gate algebra takes it, its parameters moved out rather than
  // copied; and the gate the algebra gives put back.
  static NativeForm native_form(Call& call) {
    return NativeForm{call.gate.name, call.has_parameters, std::move(call.parameters)};
  }
  static void take_form(Call& call, NativeForm&& form) {
    if (form.name != call.gate.name) call.gate = native_ref(*find_native(form.name));
    call.has_parameters = form.has_parameters;
    call.parameters = std::move(form.parameters);
  }

  // The body of a definition, applied to the call's qubits with the call's parameters;
  // reversed and each statement inverted when the call is inverted.
  void inline_body(Call& call, std::size_t offset) {
    DepthGuard guard(depth_);
    const Program* caller = program_;
    const Program& home = *call.gate.program;
    const Stmt& definition = home.stmts[call.gate.definition];
    const std::size_t control_count = call.states.size();
    std::vector<Call> collected;
    {
      program_ = &home;
      const ScopeGuard scope(scopes_, true);
      InlineContext context;
      context.states = call.states;
      context.controls.assign(call.qubits.begin(),
                              call.qubits.begin() + static_cast<std::ptrdiff_t>(control_count));
      context.collected = call.inverse ? &collected : nullptr;
      contexts_.push_back(std::move(context));
      try {
        bind_arguments(call, definition, control_count);
        if (statements(definition.body) != Flow::NEXT) {
          fail_value(definition.offset, std::string(MISPLACED_FLOW));
        }
      } catch (...) {
        contexts_.pop_back();
        program_ = caller;
        throw;
      }
      contexts_.pop_back();
      program_ = caller;
    }
    for (auto it = collected.rbegin(); it != collected.rend(); ++it) {
      it->inverse = !it->inverse;
      perform(*it, offset);
    }
  }

  void bind_arguments(const Call& call, const Stmt& definition, std::size_t control_count) {
    for (std::uint32_t k = 0; k < definition.params.size; ++k) {
      const Param& param = program_->params[definition.params.begin + k];
      Symbol symbol;
      if (k < definition.angle_count) {
        symbol.kind = SymbolKind::CLASSICAL;
        symbol.type = ScalarType{ScalarKind::FLOAT, std::nullopt};
        symbol.value = Value::floating(call.parameters[k]);
      } else {
        symbol = register_symbol(SymbolKind::QUBITS, param.name, 1, true);
        symbol.list = std::make_shared<const std::vector<PlainOperand>>(
            1, call.qubits[control_count + k - definition.angle_count]);
      }
      declare(param.name, param.offset, std::move(symbol));
    }
  }

  Parser& parser_;
  const Program& user_;
  const Program* program_;
  const InputValues& inputs_;
  Writer& writer_;
  std::vector<Scope> scopes_;
  struct RecentLookup {
    std::string_view name;
    Symbol* symbol = nullptr;
    std::uint64_t declarations = UINT64_MAX;  // none: the entry is empty
  };
  std::array<RecentLookup, 128> recent_lookups_{};
  std::uint64_t declarations_ = 0;
  std::vector<InlineContext> contexts_;
  std::string_view library_name_ = "stdgates.inc";
  std::vector<std::unique_ptr<Program>> libraries_;
  std::unordered_map<std::string_view, GateRef, NameHash, NameEqual> library_gates_;
  struct ForwardCall {
    std::string_view name;
    std::size_t operands;
    std::size_t controls;
    std::size_t offset;
  };
  std::vector<ForwardCall> forward_calls_;
  Call spare_;                // the buffers of the last call performed, for the next one
  std::string_view writing_;  // the definition being written, if any
  std::unordered_map<std::string_view, std::vector<std::string_view>> callees_;
  std::vector<std::pair<std::string_view, std::size_t>> top_level_calls_;
  std::size_t outer_offset_ = 0;  // the user statement being lowered
  std::optional<Value> return_value_;
  // A subroutine's `return measure ...;` writes these bits: those of the assignment or
  // declaration whose value is the call (set for the next call only, then for the call
  // being inlined); none where the call's value is not given to bits.
  // DROPPED_RESULT: the call is a statement of its own, its result goes nowhere.
  static inline const Resolved DROPPED_RESULT;
  const Resolved* next_call_return_bits_ = nullptr;
  const Resolved* return_bits_ = nullptr;
  bool returned_measurement_ = false;  // by the call being inlined
  bool last_call_measured_ = false;    // the call that ended last returned a measurement
  std::int64_t hardware_size_ = 0;
  std::string hardware_register_{HARDWARE_REGISTER};
  bool ended_ = false;  // the program has met `end;`
  std::map<std::pair<std::size_t, std::int64_t>, std::string> local_bits_;
  std::set<std::string, std::less<>> identifiers_;  // of the program, once local bits need them
  std::int64_t qubit_total_ = 0;
  std::int64_t bit_total_ = 0;
  std::size_t statement_count_ = 0;
  std::size_t max_statements_;
  int depth_ = 0;
};

}  // namespace

void expand(Parser& parser, const InputValues& inputs, Writer& writer, std::size_t max_statements) {
  Expander(parser, inputs, writer, max_statements).run();
}

}  // namespace corvane::qasm3::detail::lower
