// The lowering expander's class, private to its files: one pass over the parsed program
// that folds constants, unrolls loops, inlines parameterised gates and subroutines,
// resolves modifiers and spells out broadcasts and slices (expand.hpp says what it
// gives). Its methods are spread over files by concern:
//   expand.cpp              the driver: a program statement by statement, their dispatch,
//                           the files it includes
//   expand_scopes.cpp       names, scopes and symbols; errors with their places
//   expand_classical.cpp    declarations, classical statements and expressions, control
//                           flow, subroutines
//   expand_runtime.cpp      `if`, `while` and `switch` on measured bits: conditioned
//                           blocks, and what each bit holds where they stand
//   expand_quantum.cpp      operands, broadcasts, measurement, reset, gate calls and the
//                           gate algebra (gate_algebra.hpp) applied to them
//   expand_definitions.cpp  gate definitions: written, inlined, from the standard
//                           libraries; their nesting checked as the importer nests them
//   expand_quick.cpp        the commonest statements lowered from their tokens alone
// The few members that nearly every statement calls are defined here, inline. Those
// declared inline below are defined in the one file that calls them, so that the compiler
// may still fold them into their callers.
#pragma once

#include <algorithm>
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/depth_guard.hpp"
#include "qasm/lower/expand.hpp"
#include "qasm/lower/free_parameters.hpp"
#include "qasm/lower/gate_algebra.hpp"
#include "qasm/lower/gate_matrices.hpp"
#include "qasm/lower/include_files.hpp"
#include "qasm/lower/parser.hpp"
#include "qasm/lower/syntax.hpp"
#include "qasm/lower/values.hpp"
#include "qasm/lower/write.hpp"
#include "qasm/records/definition_blocks.hpp"
#include "qasm/records/native_gates.hpp"
#include "qasm/records/register_layout.hpp"
#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail::lower::expansion {

// A gate of the standard libraries whose body is one call of `U` on its qubit, each angle
// one of the gate's parameters or a constant, and otherwise global phases only (u1, u3,
// ...): called at top level without modifiers it lowers to that `U` alone, as no control
// observes the phases there. Their arguments are bounded so that they cannot fail.
struct UCallRule {
  std::array<int, 3> parameter{-1, -1, -1};  // the gate's parameter each angle is, or -1
  std::array<double, 3> constant{};          // where it is none, the angle's value
};

// What a gate name stands for where it is called.
struct GateRef {
  enum class Kind : unsigned char { NATIVE, WRITTEN, INLINED } kind = Kind::NATIVE;
  std::string_view name;
  const Program* program = nullptr;  // WRITTEN, INLINED: where the definition is
  NodeId definition = NO_NODE;       // WRITTEN, INLINED: its statement
  int angles = 0;
  int qubits = 0;
  const UCallRule* u_call = nullptr;  // INLINED from a library: its rule, if it has one
};

inline GateRef native_ref(const NativeGate& native) {
  return GateRef{GateRef::Kind::NATIVE, native.name,   nullptr, NO_NODE,
                 native.parameters,     native.qubits, nullptr};
}
// The standard gate `name` (standard_gate), which must be one.
inline GateRef native_ref(std::string_view name) {
  return native_ref(*standard_gate(name));
}

enum class UMeaning : unsigned char { LANGUAGE, OPENQASM2, MODEL };

// One gate application, modifiers resolved: controls (states and qubits) first.
// Expander::recycled_call() sets every field anew, a field added here too.
struct Call {
  GateRef gate;
  bool has_parameters = false;
  std::vector<double> parameters;
  // The parameters that depend on free inputs (free_parameters.hpp), by place: null where
  // the parameter is its number; empty when none does. Their numbers are placeholders.
  std::vector<FreeRef> free;
  std::vector<std::uint8_t> states;
  std::vector<PlainOperand> qubits;  // the controls, then the gate's own qubits
  bool inverse = false;
  double exponent = 1.0;
  // Powers not all whole, applied innermost first, an `inv` as -1: such powers of most
  // gates depend on their order (pow(0.5) @ inv @ x is sx, inv @ pow(0.5) @ x its inverse).
  // Empty otherwise, when `inverse` and `exponent` say it all.
  std::vector<double> powers;
  // What the call's `U` means: the language's, e^{iθ/2}·u; OpenQASM 2's, e^{-i(φ+λ)/2}·u;
  // or the gate model's u, which the importer reads `U` as.
  UMeaning u_meaning = UMeaning::LANGUAGE;
  // A `gphase` that the program did not write itself (the phase of a `U`, a library
  // definition's phase): where no control can observe it, it is left out.
  bool implicit_phase = false;
};

inline bool has_free(const Call& call) {
  return std::any_of(call.free.begin(), call.free.end(),
                     [](const FreeRef& free) { return free != nullptr; });
}

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
  // Without a value: an input given none, or a gate's angle bound to one's expression.
  FreeRef free;
  bool is_const = false;
  // GATE
  GateRef gate;
  // SUBROUTINE: its definition, in the program `home`
  NodeId definition = NO_NODE;
  const Program* home = nullptr;
};

inline Symbol register_symbol(SymbolKind kind, std::string_view name, std::int64_t size,
                              bool scalar) {
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

// A place in a text the program wrote: an offset in the program itself or in a file it
// includes.
struct Place {
  const Program* program = nullptr;
  std::size_t offset = 0;
};

// END: the program ends there (`end;`); nothing after it runs.
enum class Flow : unsigned char { NEXT, BREAK, CONTINUE, RETURN, END };

inline constexpr std::string_view MISPLACED_FLOW =
    "'break', 'continue', 'return' or 'end' outside its place";

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

// A condition on measured bits as one comparison: the bits (the first the least
// significant) against a constant.
struct RuntimeCondition {
  std::vector<PlainOperand> bits;
  bool whole_register = false;  // the bits are a register's, named by the register
  bool truth = false;           // bool(...) of several bits: only whether they are all zero
  bool sign_bit = false;        // read as int[n] of its n bits, the last one the sign
  Comparison compare = Comparison::NotEqual;
  std::uint64_t value = 0;
};

// A `case` label of a switch: its value, its case, and where it is written.
struct CaseLabel {
  std::int64_t value = 0;
  NodeId item = NO_NODE;
  NodeId label = NO_NODE;
};

// A qubit that `qubits` holds twice, or null.
const PlainOperand* repeated_qubit(std::span<const PlainOperand> qubits);

class Expander {
 public:
  Expander(Parser& parser, const InputValues& inputs, StatementSink& writer,
           std::size_t max_statements, bool expand_library_gates, IncludeFiles& includes)
      : parser_(parser),
        user_(parser.program()),
        program_(&user_),
        inputs_(inputs),
        writer_(writer),
        includes_(includes),
        max_statements_(max_statements),
        expand_library_gates_(expand_library_gates) {
    scopes_.emplace_back();
  }

  inline void run();
  // The number of a gate parameter written `text`, an expression over the names declared
  // (ParameterValues); placed nowhere, since the text is no part of a program.
  double parameter_value(std::string_view text);

 private:
  // ------------------------------------------------------------ the driver (expand.cpp)
  Flow statements(Range body);
  inline Flow statement(NodeId id);
  Flow dispatch(const Stmt& stmt);
  Flow statements_in_scope(Range body);
  void check_placement(const Stmt& stmt, bool in_gate);
  // In a gate's body, written or inlined (or a subroutine it calls).
  bool in_gate() const { return !contexts_.empty(); }
  void version(const Stmt& stmt);
  Flow include(const Stmt& stmt);
  const Program& included_program(IncludedFile& file);
  Flow included_statements(const Program& file);

  // ------------------------------------------------------------ errors (expand_scopes.cpp)
  // Runs `work`; an error it raises leaves with the place `offset` unless it has one.
  // Offsets are places only in the texts the program wrote (itself and the files it
  // includes), not in the built-in libraries.
  template <class Work>
  decltype(auto) placed(std::size_t offset, Work&& work) const {
    return placed_at(Place{program_, offset}, std::forward<Work>(work));
  }
  template <class Work>
  static decltype(auto) placed_at(const Place& place, Work&& work) {
    return with_place_of_error([&] { return location_of(place); }, std::forward<Work>(work));
  }
  static std::optional<Location> location_of(const Place& place);
  template <class Raise>
  [[noreturn]] void fail(std::size_t offset, Raise raise, const std::string& message) const {
    placed(offset, [&] { raise(message); });
    std::abort();  // `raise` never returns
  }
  [[noreturn]] void fail_value(std::size_t offset, const std::string& message) const;
  [[noreturn]] void fail_unsupported(std::size_t offset, const std::string& message) const;
  [[noreturn]] void fail_too_long(std::size_t offset) const;
  void count_statement(std::size_t offset) {
    if (++statement_count_ > max_statements_) fail_too_long(offset);
  }

  // The nodes of `next` are read until the guard goes, those of the program before again
  // afterwards (when an error leaves, before the places of outer statements are attached).
  struct ProgramGuard {
    ProgramGuard(const Program*& current, const Program& next)
        : current_(current), saved_(std::exchange(current, &next)) {}
    ProgramGuard(const ProgramGuard&) = delete;
    ProgramGuard& operator=(const ProgramGuard&) = delete;
    ~ProgramGuard() { current_ = saved_; }
    const Program*& current_;
    const Program* saved_;
  };
  template <class Work>
  decltype(auto) in_program(const Program& program, Work&& work) {
    const ProgramGuard guard(program_, program);
    return std::forward<Work>(work)();
  }
  bool in_library() const { return program_->origin == Origin::LIBRARY; }

  const Expr& expr(NodeId id) const { return program_->exprs[id]; }
  std::span<const NodeId> list(Range range) const {
    return {program_->expr_lists.data() + range.begin, range.size};
  }

  // ------------------------------------------------------------ scopes (expand_scopes.cpp)
  // At the top level a program names the same few registers and gates over and over: what
  // a name means there is kept until the next declaration. Inlined wherever it is called:
  // most calls are made for gate calls, and the compiler stops inlining it as callers
  // elsewhere multiply.
  [[gnu::always_inline]] Symbol* lookup(std::string_view name) {
    if (scopes_.size() != 1) return find_symbol(name);
    RecentLookup& recent = recent_lookups_[NameHash{}(name) % recent_lookups_.size()];
    if (recent.declarations != declarations_ || !same_text(recent.name, name)) {
      recent = RecentLookup{name, find_symbol(name), declarations_};
    }
    return recent.symbol;
  }
  // Inline too: in loops and bodies, where the recent lookups are not kept, every name is
  // looked up anew.
  Symbol* find_symbol(std::string_view name) {
    for (std::size_t k = scopes_.size(); k-- > 0;) {
      const auto found = scopes_[k].symbols.find(name);
      if (found != scopes_[k].symbols.end()) return &found->second;
      if (scopes_[k].boundary && k > 0) {
        if (in_library()) return nullptr;  // library bodies see nothing of the program
        k = 1;                             // jump to the global scope
      }
    }
    return nullptr;
  }
  void declare(std::string_view name, std::size_t offset, Symbol symbol);
  // Whether `name` means a symbol of a scope below `scope`, one opened earlier.
  bool declared_before(std::size_t scope, std::string_view name) const;
  void require_global_scope(const Stmt& stmt, std::string_view what);
  static Expr name_of(std::string_view name);

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

  // ------------------------------------------------------------ declarations
  // (expand_classical.cpp, as are the sections down to the subroutines)
  std::optional<std::int64_t> register_size(const Stmt& stmt);
  void check_register_name(const Stmt& stmt) const;
  void add_to_total(RegisterTotal& total, std::optional<std::int64_t> size,
                    std::size_t offset) const;
  void qubit_declaration(const Stmt& stmt);
  void bit_declaration(const Stmt& stmt);
  std::string_view local_bits(const Stmt& stmt, std::optional<std::int64_t> size);
  void declare_hardware_register();
  void find_hardware_qubits(std::string_view text, std::string_view file, std::int64_t& highest,
                            std::set<std::string_view>& names_taken) const;
  ScalarType resolved_type(ScalarType type, NodeId width);
  void classical_declaration(const Stmt& stmt);
  Value input_expression(std::string_view name, std::string_view text);
  void check_inputs_declared() const;
  Value assigned(const ScalarType& type, NodeId value);
  void assignment(const Stmt& stmt);
  void evaluate_into_bits(NodeId value, const Resolved& target);
  void alias(const Stmt& stmt);
  void alias_elements(NodeId id, Resolved& into);

  // ------------------------------------------------------------ control flow
  bool condition(NodeId id);
  Flow for_loop(const Stmt& stmt);
  Flow for_passes(const Stmt& stmt);
  Flow while_loop(const Stmt& stmt);
  Flow while_passes(const Stmt& stmt);
  [[gnu::cold]] Flow switch_statement(const Stmt& stmt);
  std::int64_t switch_integer(NodeId id, std::string_view what);
  bool is_constant(NodeId id);

  // ------------------------------------------------------------ blocks on measured bits
  // (expand_runtime.cpp)
  // What a bit may hold where the expander is, one flag for each way the program may have
  // taken here: a measurement's result, what it held when declared (nothing written), or
  // a value assigned to it, which the circuit does not keep.
  struct BitState {
    static constexpr std::uint8_t MEASURED = 1;
    static constexpr std::uint8_t UNWRITTEN = 2;
    static constexpr std::uint8_t ASSIGNED = 4;
  };
  struct BitKey {
    std::string_view name;
    std::int64_t index = PlainOperand::NO_INDEX;
    friend auto operator<=>(const BitKey&, const BitKey&) = default;
  };
  using BitStates = std::map<BitKey, std::uint8_t>;  // the bits written on some way here
  bool names_bits(NodeId id);
  RuntimeCondition runtime_condition(NodeId id);
  RuntimeCondition measured_value(NodeId id);
  RuntimeCondition measured_cast(const Expr& node);
  void compared_value(RuntimeCondition& tested, NodeId id, std::size_t offset);
  void compared_integer(RuntimeCondition& tested, std::int64_t value, std::size_t value_offset,
                        std::size_t offset);
  void set_bit_state(const PlainOperand& bit, std::uint8_t state);
  std::uint8_t bit_state(const PlainOperand& bit) const;
  static const char* unreadable_because(std::uint8_t state);
  void forget_bits_of(std::string_view name);
  static BitStates joined(const BitStates& a, const BitStates& b);
  void check_measured(const RuntimeCondition& tested, std::size_t offset);
  static PlainCondition plain_condition(const RuntimeCondition& tested);
  RuntimeCondition checked_condition(NodeId id, std::size_t offset);
  void check_condition_bits(const RuntimeCondition& tested, std::size_t offset);
  Flow runtime_body(Range body);
  Flow runtime_if(const Stmt& stmt);
  Flow runtime_while(const Stmt& stmt);
  Flow runtime_switch(const Stmt& stmt, std::span<const CaseLabel> labels, NodeId fallback);
  void check_flow_placement(const Stmt& stmt);

  // ------------------------------------------------------------ expressions
  std::int64_t integer(NodeId id) {
    // A number as written, as nearly every index is, needs none of the general evaluation.
    if (expr(id).kind == ExprKind::INTEGER) {
      if (const auto number = read_short_decimal(expr(id).text)) return *number;
    }
    const Value value = evaluate(id);
    return placed(expr(id).offset, [&] { return value.as_integer(); });
  }
  Value evaluate(NodeId id);
  Value evaluate_node(const Expr& node);
  Value binary_value(const Expr& node);
  Value name_value(const Expr& node);
  Value bits_of_value(const Expr& node);
  std::optional<Value> call(const Expr& node);
  double parameter(NodeId id);
  double parameter_number(const Value& value, std::size_t offset) const;

  // ------------------------------------------------------------ free inputs (expand_free.cpp)
  void declare_free_input(const Stmt& stmt, const ScalarType& type, Symbol& symbol);
  bool names_free(NodeId id);
  FreeTerm free_term(NodeId id);
  FreeTerm free_term_node(const Expr& node, NodeId id);
  FreeTerm free_binary_term(const Expr& node);
  void add_parameter(Call& call, NodeId argument);
  [[noreturn]] void fail_free(const Call& call, std::size_t offset, const std::string& why) const;
  void invert_free(Call& call, std::size_t offset);
  bool scale_free_power(Call& call, std::span<const double> powers);
  void perform_free_phase(const Call& on_controls_of, const FreeTerm& angle, std::size_t offset);
  FreeTerm parameter_term(const Call& call, std::size_t k) const;
  void note_free_inputs(const Call& call);
  void report_free_inputs();

  // ------------------------------------------------------------ subroutines
  void subroutine_definition(const Stmt& stmt);
  std::optional<Value> call_subroutine(const Expr& node, const Symbol& symbol);
  Symbol argument_symbol(const Param& param, const Program& home, NodeId argument);
  Flow return_statement(const Stmt& stmt);

  // ------------------------------------------------------------ operands
  // (expand_quantum.cpp, as are the sections down to the gate calls)
  Resolved qubits(NodeId id);
  Resolved bits(NodeId id);
  Resolved resolve(const Expr& node, SymbolKind kind);
  PlainOperand scalar_operand(const Symbol& symbol) const;
  const Symbol& operand_symbol(const Expr& node, SymbolKind kind, std::string_view what);
  inline bool single_qubit(NodeId id, std::vector<PlainOperand>& into);
  Resolved resolve_index(const Expr& node, SymbolKind kind, std::string_view what);
  std::int64_t element_index(NodeId id, std::int64_t size, std::string_view name,
                             std::string_view what);
  std::int64_t index_within(NodeId id, std::int64_t size, std::string_view indexed);
  // An index in [-size, size) as one from the start; nothing for any other.
  static std::optional<std::int64_t> counted_from_start(std::int64_t index, std::int64_t size) {
    const std::int64_t at = index < 0 ? index + size : index;
    if (at < 0 || at >= size) return std::nullopt;
    return at;
  }
  std::vector<std::int64_t> slice(const Expr& range, std::int64_t size,
                                  std::string_view indexed = "a register");

  // ------------------------------------------------------------ measurement and reset
  void measure(NodeId measurement, NodeId target, std::string_view declared_bits = {});
  void measure_into(NodeId measurement, const Resolved& result);
  void emit_measure(const PlainOperand& qubit, const std::optional<PlainOperand>& bit,
                    std::size_t offset);
  void reset(const Stmt& stmt);

  // ------------------------------------------------------------ gate calls
  std::optional<GateRef> find_gate(std::string_view name);
  void gate_call(const Stmt& stmt);
  int unitary_target_count(const std::vector<double>& parameters, std::size_t offset) const;
  inline void check_parameter_count(const Call& call, const Stmt& stmt) const;
  void broadcast(Call& call, const std::vector<Resolved>& operands, const Stmt& stmt);
  void submit(Call& call, const Stmt& stmt);
  inline void check_distinct_qubits(std::span<const PlainOperand> qubits, const Stmt& stmt) const;
  [[noreturn, gnu::cold]] void fail_repeated(const PlainOperand& qubit, const Stmt& stmt) const;
  inline Call recycled_call();
  inline void keep_buffers(Call& call);
  void perform(Call& call, std::size_t offset);
  void power(Call& call, std::size_t offset);
  void fractional_power(Call& call, std::size_t offset);
  void perform_matrix(Call& call, const SquareMatrix& matrix, std::size_t offset);
  void invert_native(Call& call, std::size_t offset);
  bool write_with_phases(Call& call, std::size_t offset);
  void perform_phase(const Call& on_controls_of, double angle, std::size_t offset);
  void write_plain(Call& call, std::size_t offset);
  void write_model_u(Call& call, std::size_t offset);
  void note_phase_left_out();
  UMeaning u_meaning_here() const;

  // ------------------------------------------------------------ gate definitions
  // (expand_definitions.cpp, as is the nesting of definitions)
  GateRef definition_ref(const Stmt& stmt);
  bool stays_definition(const Stmt& stmt, int qubits);
  void gate_definition(const Stmt& stmt);
  void check_gate_body(Range body);
  std::optional<GateRef> forward_call(std::string_view name);
  void check_forward_calls();
  void write_definition(const Stmt& stmt);
  std::optional<GateRef> library_gate(std::string_view name);
  void note_native_called(const NativeGate& native);
  bool called_as_library_gate(std::string_view name);
  bool names_itself(const Stmt& definition);
  void load_libraries();
  void load_library(std::string_view include_name);
  void inline_body(Call& call, std::size_t offset);
  void bind_arguments(const Call& call, const Stmt& definition, std::size_t control_count);

  // ------------------------------------------------------------ quick statements
  // (expand_quick.cpp)
  bool quick_statement();
  const std::optional<GateRef>& quick_gate(std::string_view name);
  bool quick_call();
  bool quick_measure();
  bool quick_parameters();
  bool quick_operand(const QuickOperand& operand, SymbolKind kind, PlainOperand& into);
  std::optional<UCallRule> u_call_rule(const Program& library, const Stmt& definition);
  std::optional<double> magnitude_bound(const Stmt& definition, NodeId id);

  // ------------------------------------------------------------ nesting of definitions
  void note_written_call(std::string_view callee, std::size_t offset);
  void check_definition_nesting();
  void nest_definition(std::string_view name, DefinitionBlocks& blocks) const;

  // ------------------------------------------------------------ state
  Parser& parser_;
  const Program& user_;
  const Program* program_;
  const InputValues& inputs_;
  StatementSink& writer_;
  IncludeFiles& includes_;
  std::vector<Scope> scopes_;
  struct RecentLookup {
    std::string_view name;
    Symbol* symbol = nullptr;
    std::uint64_t declarations = UINT64_MAX;  // none: the entry is empty
  };
  std::array<RecentLookup, 128> recent_lookups_{};
  std::uint64_t declarations_ = 0;
  std::vector<InlineContext> contexts_;
  std::vector<std::unique_ptr<Program>> libraries_;
  struct LibraryGate {
    GateRef ref;
    bool called = false;
  };
  std::unordered_map<std::string_view, LibraryGate, NameHash, NameEqual> library_gates_;
  // Which native gates a call has meant so far, by their row in NATIVE_GATES.
  std::array<bool, native_gate_rows::COUNT> natives_called_{};
  struct ForwardCall {
    std::string_view name;
    std::size_t operands;
    std::size_t controls;
    Place place;
  };
  std::vector<ForwardCall> forward_calls_;
  Call spare_;                // the buffers of the last call performed, for the next one
  std::string_view writing_;  // the definition being written, if any
  std::unordered_map<std::string_view, std::vector<std::string_view>> callees_;
  std::vector<std::pair<std::string_view, Place>> top_level_calls_;
  Place outer_;  // the statement the program wrote that is being lowered
  // The quick statement being read, its values, and the rules of library gates.
  QuickStatement quick_;
  std::array<double, QuickStatement::MOST> quick_values_{};
  std::array<PlainOperand, QuickStatement::MOST> quick_operands_{};
  std::array<std::uint8_t, 2 * QuickStatement::MOST> quick_states_{};
  std::deque<UCallRule> u_call_rules_;
  // What names stood for at top level when last called, as recent_lookups_ keeps them.
  struct RecentGate {
    std::string_view name;
    std::optional<GateRef> gate;
    std::uint64_t declarations = UINT64_MAX;  // none: the entry is empty
  };
  std::array<RecentGate, 64> recent_gates_{};
  RecentLookup quick_register_;  // the register a quick operand named last
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
  bool ended_ = false;                                  // the program has met `end;`
  std::set<std::string, std::less<>> declared_inputs_;  // names of the `input` declarations
  // By the declaration's place and size.
  std::map<std::tuple<const Program*, std::size_t, std::int64_t>, std::string> local_bits_;
  std::set<std::string, std::less<>> identifiers_;  // of the program, once local bits need them
  RegisterTotal qubit_total_;
  RegisterTotal bit_total_;
  std::size_t statement_count_ = 0;
  std::size_t max_statements_;
  int depth_ = 0;
  // Every standard gate spelled out by its definition (LowerOptions::expand_library_gates).
  bool expand_library_gates_ = false;
  bool openqasm2_ = false;  // the program says `OPENQASM 2.0;`
  // The written definitions that differ from what the program means by a global phase
  // (phases left out, `U`, calls of such definitions or of ones further down): under a
  // control, their bodies are inlined.
  std::unordered_set<std::string_view> phase_dependent_;
  const Program* qelib1_ = nullptr;  // qelib1.inc's definitions, once read
  // Blocks on measured bits: what each bit holds, the blocks open (all of them, and those
  // since the innermost loop or subroutine began), the first scope inside the outermost,
  // and for each loop on measured bits open, the bits that conditions in it read.
  BitStates bit_states_;
  int runtime_blocks_ = 0;
  int runtime_blocks_in_loop_ = 0;
  std::size_t runtime_scope_floor_ = 0;
  std::vector<std::vector<PlainOperand>> loop_reads_;
  // The inputs given no value that stay free (float and angle ones), as declared; and
  // those that the statements written use.
  std::vector<std::pair<std::string_view, ScalarType>> free_inputs_;
  std::set<std::string, std::less<>> used_free_inputs_;
  std::vector<std::string_view> free_texts_;  // of the call being written
};

}  // namespace corvane::qasm3::detail::lower::expansion
