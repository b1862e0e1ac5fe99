// The importer's statement interpretation: operand resolution, recognition of the
// exporter's generated definitions, and the interpretation of statements into gate
// records with definition expansion, through the record rules of ../records/. The text
// passes it reads from are declared in qasm3_import_text.hpp.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "corvane/backend/gate/gatebase.hpp"
#include "corvane/backend/gatesequence/gatesequence.hpp"
#include "qasm/import/qasm3_import_text.hpp"
#include "qasm/records/definition_blocks.hpp"
#include "qasm/records/explicit_matrix.hpp"
#include "qasm/records/measure_map.hpp"
#include "qasm/records/qasm3_vocabulary.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ operand resolution
// Argument name of the definition whose body is interpreted -> its header position.
// Passed by pointer: null means "outside any definition", which differs from an empty map.
using LocalArgMap = std::unordered_map<std::string_view, std::int64_t, TextHash, std::equal_to<>>;

// Consecutive flat indices first, first + 1, ..., first + count - 1: what a whole
// register or a single operand stands for, without materialising the indices.
struct IndexRange {
  std::int64_t first = 0;
  std::int64_t count = 0;
  friend bool operator==(const IndexRange&, const IndexRange&) = default;
};

// One qubit: a flat index, or a local one inside a definition body.
std::int64_t resolve_operand(std::string_view tok, const RegisterMap& qreg_map,
                             const LocalArgMap* local_map = nullptr);
// All qubits of a whole register (outside definition bodies), else the one qubit.
IndexRange resolve_qubit_operands(std::string_view tok, const RegisterMap& qreg_map,
                                  const LocalArgMap* local_map = nullptr);
// One classical bit. A null or empty map means no bit registers are declared.
std::int64_t resolve_bit_operand(std::string_view tok, const RegisterMap* bit_reg_map = nullptr);
// All bits of a whole bit register, else the one bit.
IndexRange resolve_bit_operands(std::string_view tok, const RegisterMap* bit_reg_map = nullptr);

// ------------------------------------------------------------------ generated definitions
// The internal id whose exporter-written definition `gd` is, or nothing
// (definition_blocks.hpp).
std::optional<std::string_view> generated_non_standard_gate_id(const GateDef& gd);

// ------------------------------------------------------------------ interpretation
// What all nested interpretations of one import share: the definitions as shared blocks
// (definition_blocks.hpp), the recognition of generated definitions, and the count of
// whole-register measurement records.
struct ExpansionState {
  DefinitionBlocks blocks;
  std::unordered_map<const GateDef*, std::optional<std::string_view>> generated_ids;
  std::unordered_map<std::string_view, std::optional<Matrix>> generated_matrices;
  std::bitset<256> defined_initials;  // first bytes of the defined names
  const GateDefMap* initials_for = nullptr;
  const ProgramText* program = nullptr;  // places of the definitions' body statements
  std::int64_t measurement_records = 0;
};

// The records that statements interpret to, with the highest indices they use.
struct StmtsResult {
  std::vector<QuantumGate> gates;
  std::int64_t max_idx = -1;   // highest qubit index used, -1 for none
  std::int64_t max_cidx = -1;  // highest bit index used, -1 for none
  std::vector<MeasurePair> measure_map;
};

// Interprets statements into gate records. `local_map` is non-null exactly inside a
// definition body; `state` null starts a fresh import.
StmtsResult stmts_to_gates(const std::vector<std::string_view>& stmts, const GateDefMap& gate_defs,
                           const RegisterMap& qreg_map, const LocalArgMap* local_map = nullptr,
                           const RegisterMap* bit_reg_map = nullptr,
                           ExpansionState* state = nullptr);

// The child records of the definition `name` (a key of `gate_defs`), interpreted on
// local indices; ValueError when its expansion reaches itself again.
GateBlock expand_def(std::string_view name, const GateDefMap& gate_defs,
                     const RegisterMap& qreg_map, const RegisterMap* bit_reg_map,
                     ExpansionState& state);

}  // namespace corvane::qasm3::detail
