// The lowering front end's writer: plain statements -> program text in the form the
// importer reads, behind the interface the expander writes to. Numbers are written in the shortest
// form that reads back to the same double, so nothing is lost between lowering and importing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"

namespace corvane::qasm3::detail::lower {

// One qubit or bit as written: `name[index]`, or the bare name (a scalar register, or a
// gate argument inside a definition) when `index` is NO_INDEX.
struct PlainOperand {
  static constexpr std::int64_t NO_INDEX = -1;
  std::string_view name;
  std::int64_t index = NO_INDEX;
};

// A gate call with its controls resolved: one modifier per control (1: `ctrl @`,
// 0: `negctrl @`), controls first among the operands. `definition`: the name is one of
// the program's own definitions that lowering writes out (a readback takes its last
// definition, wherever it stands).
struct PlainCall {
  std::span<const std::uint8_t> controls = {};
  std::string_view name = {};
  bool has_parameters = false;
  std::span<const double> parameters = {};
  std::span<const PlainOperand> operands = {};
  bool definition = false;
  // Parameters that depend on free inputs: their expressions by place, empty where the
  // number stands; no entries when none does.
  std::span<const std::string_view> free = {};
};

// An input that the statements written leave free: its name and type (`float[64]`).
struct FreeInput {
  std::string name;
  std::string type;
};

// What a conditioned block tests: the value `bits` hold (the first the least significant,
// all of one register) compared with `value`. `whole_register`: they are the register's
// bits in order, written by its name.
struct PlainCondition {
  std::span<const PlainOperand> bits = {};
  bool whole_register = false;
  Comparison compare = Comparison::Equal;
  std::uint64_t value = 0;
};

// Where the expander puts the plain statements: text (Writer) or records (RecordBuilder).
// One call per statement written.
class StatementSink {
 public:
  StatementSink() = default;
  StatementSink(const StatementSink&) = delete;
  StatementSink& operator=(const StatementSink&) = delete;
  virtual ~StatementSink() = default;

  virtual void qubit_declaration(std::string_view name, std::optional<std::int64_t> size) = 0;
  virtual void bit_declaration(std::string_view name, std::optional<std::int64_t> size) = 0;
  virtual void begin_definition(std::string_view name,
                                std::span<const std::string_view> arguments) = 0;
  virtual void end_definition() = 0;
  virtual void call(const PlainCall& call) = 0;
  // `bit = measure qubit;`, or `measure qubit;` when the result is discarded.
  virtual void measure(const PlainOperand& qubit, const std::optional<PlainOperand>& bit) = 0;
  virtual void reset(const PlainOperand& qubit) = 0;
  // A block that runs when, or while, a condition on measured bits holds: begin_if or
  // begin_while, its statements, for an `if` perhaps begin_else and the statements run
  // otherwise, then end_conditioned. Blocks nest; declarations may come while one is open.
  virtual void begin_if(const PlainCondition& condition) = 0;
  virtual void begin_while(const PlainCondition& condition) = 0;
  virtual void begin_else() = 0;
  virtual void end_conditioned() = 0;
  // The free inputs the statements used, in the order declared; once, at the end.
  virtual void free_inputs(std::span<const FreeInput> inputs) = 0;
};

// Appends the call as the writer writes it, without indent, `;` or line end.
void append_call_text(std::string& out, const PlainCall& call);
// Appends `name[index]`, or the bare name.
void append_operand_text(std::string& out, const PlainOperand& operand);
// Appends the condition as the writer writes it between the parentheses: `c[0] == 1`,
// `c == 5`, `c[1:2] >= 2` (a run of bits), `c[{0, 2}] != 0` (any other bits).
void append_condition_text(std::string& out, const PlainCondition& condition);

class Writer final : public StatementSink {
 public:
  // `expected_bytes`: about how long the program will be, reserved at once so that a long
  // program is not copied as it grows.
  explicit Writer(std::size_t expected_bytes = 0);

  void qubit_declaration(std::string_view name, std::optional<std::int64_t> size) override;
  void bit_declaration(std::string_view name, std::optional<std::int64_t> size) override;
  void begin_definition(std::string_view name,
                        std::span<const std::string_view> arguments) override;
  void end_definition() override;
  void call(const PlainCall& call) override;
  void measure(const PlainOperand& qubit, const std::optional<PlainOperand>& bit) override;
  void reset(const PlainOperand& qubit) override;
  void begin_if(const PlainCondition& condition) override;
  void begin_while(const PlainCondition& condition) override;
  void begin_else() override;
  void end_conditioned() override;
  void free_inputs(std::span<const FreeInput> inputs) override;

  // The program written so far; the writer is empty afterwards.
  std::string take();

 private:
  void declaration(std::string_view type, std::string_view name, std::optional<std::int64_t> size);
  void indent();
  void begin_conditioned(std::string_view keyword, const PlainCondition& condition);

  std::string out_;
  bool in_definition_ = false;
  int open_blocks_ = 0;  // conditioned blocks open
  // For each open block, innermost last: where its `} else {` line starts and ends, if
  // it has one. An else-block left empty is not written, as the builder keeps none.
  struct ElseLine {
    std::size_t start = 0;
    std::size_t end = 0;
  };
  std::vector<std::optional<ElseLine>> else_lines_;
  // Where the outermost open conditioned block starts: a declaration met inside one is
  // written there, as declarations stand in the global scope.
  std::size_t blocks_start_ = 0;
};

}  // namespace corvane::qasm3::detail::lower
