// The lowering front end's record builder: plain statements -> the gate sequence that the
// fixed importer reads from the text the writer would write for them, record for record,
// built with the record rules both readers share (native gates, control splits,
// parameters, explicit matrices, definitions as shared blocks, register layout, measure
// map) and no text in between.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "qasm/lower/write.hpp"
#include "qasm/records/definition_blocks.hpp"
#include "qasm/records/gate_records.hpp"
#include "qasm/records/measure_map.hpp"
#include "qasm/records/native_gates.hpp"
#include "qasm/records/register_layout.hpp"

namespace corvane::qasm3::detail::lower {

// Registers numbered as the importer numbers them, every array before every scalar, while
// declarations still arrive: an array declared after scalars moves them up, and the
// indices already given out move with them once the reading ends (`shifts`). Lowering
// declares no name twice and writes bodies on their arguments only, so a scalar that a
// later array of its name would hide, and register elements inside bodies, do not occur.
class GrowingLayout {
 public:
  struct Shift {
    std::size_t records = 0;   // top-level records made before the move
    std::size_t measures = 0;  // measure map entries made before it
    std::int64_t from = 0;     // indices from here on move
    std::int64_t by = 0;
  };

  // Declares a register after `records` top-level records and `measures` measure map
  // entries; returns the move of the scalars' indices it makes, if any.
  std::optional<Shift> add(std::string_view name, std::optional<std::int64_t> size,
                           std::size_t records, std::size_t measures);
  // The flat index of `operand`; ValueError for a register never declared.
  std::int64_t index_of(const PlainOperand& operand, std::string_view what);
  [[nodiscard]] const std::vector<Shift>& shifts() const noexcept { return shifts_; }
  // The registers in the importer's order, laid out by its rule.
  [[nodiscard]] Registers registers() const;

 private:
  struct Entry {
    std::int64_t offset = 0;
    std::int64_t size = 0;
    bool scalar = false;
  };
  std::unordered_map<std::string, Entry, TextHash, std::equal_to<>> entries_;
  std::vector<std::pair<std::string, std::int64_t>> arrays_;
  std::vector<std::string> scalars_;
  std::int64_t arrays_total_ = 0;
  std::vector<Shift> shifts_;
  std::string_view last_name_;  // the register looked up last, as most operands name it
  const Entry* last_entry_ = nullptr;
};

class RecordBuilder final : public StatementSink {
 public:
  // `expected_records`: about how many top-level records there will be, reserved at once.
  explicit RecordBuilder(std::size_t expected_records = 0);

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

  // The sequence with its layout and measure map; calls of definitions get their blocks
  // here, from each name's last definition, as the importer finds them.
  GateSequence take() &&;

 private:
  // A definition as written: its body's records on the argument numbers, the calls of
  // definitions among them still to be resolved (the name in the record's name).
  struct Definition {
    std::vector<std::string> arguments;
    std::vector<QuantumGate> body;
    std::vector<bool> calls_definition;
    // The body's statements as written, kept where the definition may be one the exporter
    // generates for a gate of its own (those have one argument).
    std::vector<std::string> statements;
    std::optional<std::optional<std::string_view>> generated;  // worked out once
  };

  // A conditioned record being built: its bodies on the sequence's own indices.
  struct OpenConditioned {
    std::string id;
    Condition condition;
    std::vector<QuantumGate> body;
    std::vector<QuantumGate> else_body;
    bool in_else = false;
    bool calls_definition = false;  // a call of a definition inside, its block still to come
    std::vector<QuantumGate>& records() { return in_else ? else_body : body; }
  };

  GateOutput output() {
    if (current_ != nullptr) return GateOutput{&current_->body, nullptr};
    if (!open_.empty()) return GateOutput{&open_.back().records(), nullptr};
    return GateOutput{nullptr, &gs_};
  }
  void begin_conditioned(std::string id, const PlainCondition& condition);
  void add_conditioned(QuantumGate record, bool calls_definition);
  void move_open_records(const GrowingLayout::Shift& shift, bool qubits);
  void resolve_calls_in_bodies(QuantumGate& record);
  void resolve_qubits(std::span<const PlainOperand> operands);
  void add_gate(const PlainCall& call);
  const NativeGate* native_of(std::string_view op);
  static Parameter parameter_with_texts(const PlainCall& call,
                                        const std::optional<std::vector<double>>& numbers);
  void add_definition_call(const PlainCall& call);
  [[noreturn]] void raise_control_problem_of(const PlainCall& call, const ControlSplit& split);
  void resolve_definition_call(QuantumGate& record);
  GateBlock block_of(const std::string& name);
  std::optional<std::string_view> generated_id(Definition& definition, std::string_view name);
  void apply_shifts();

  GateSequence gs_{0};
  GrowingLayout qubits_;
  GrowingLayout bits_;
  ReadLayout read_;  // the measure map and the highest indices used so far
  std::unordered_map<std::string, Definition, TextHash, std::equal_to<>> definitions_;
  Definition* current_ = nullptr;     // the definition being written, if any
  std::vector<std::size_t> pending_;  // top-level records that call definitions
  // Top-level conditioned records with calls of definitions in their bodies.
  std::vector<std::size_t> pending_conditioned_;
  std::vector<OpenConditioned> open_;  // the conditioned records open, innermost last
  DefinitionBlocks blocks_;
  std::unordered_map<std::string_view, std::optional<Matrix>> generated_matrices_;
  // The rows of the native gates called lately, by their first and last bytes and length:
  // a few names make most of a program's calls.
  std::array<const NativeGate*, 64> recent_natives_{};
  // The current call's parts, reused from one call to the next.
  std::vector<std::int64_t> indices_;
  std::vector<Modifier> modifiers_;
  std::optional<std::vector<double>> parameters_;
};

}  // namespace corvane::qasm3::detail::lower
