// The measure map and what a reading of a program leaves on its sequence besides the
// records: the qubit count, the registers, and which measurement wrote which bit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::qasm3::detail {

// Most gate records that whole-register measurements of one reading may create; the
// declared register sizes could otherwise demand more records than memory holds.
inline constexpr std::int64_t MAX_MEASUREMENT_RECORDS = std::int64_t{1} << 22;

// Adds `count` records of a whole-register measurement to `counted`, those of the reading
// so far; ValueError when they would pass MAX_MEASUREMENT_RECORDS.
void count_measurement_records(std::int64_t& counted, std::int64_t count);

// The (qubit, bit) pairs of the measurement records among `gates` in program order: a
// conditioned record's measurements where the record stands, its block's before its
// else-block's. Definition blocks, whose indices are their own, are not entered. The
// reader of a program builds the same pairs as it reads; this gives them for records
// built otherwise.
std::vector<MeasurePair> measure_map_of(const std::vector<QuantumGate>& gates);

// A program without bit declarations measures into one register of this name, as large
// as its highest bit needs.
inline constexpr std::string_view IMPLICIT_BIT_REGISTER = "c";

// What reading a program's main statements found besides its records.
struct ReadLayout {
  RegisterList qubit_registers;
  std::int64_t declared_qubits = 0;  // the qubit count the registers declare
  RegisterList bit_registers;
  std::vector<MeasurePair> measure_map;  // in the order of the measurement records
  std::int64_t highest_qubit = -1;       // the highest qubit index used, -1 for none
  std::int64_t highest_bit = -1;         // the highest bit index used, -1 for none

  // A qubit that a main statement uses.
  void uses_qubit(std::int64_t qubit) noexcept { highest_qubit = std::max(highest_qubit, qubit); }
  // A main statement's measurement of `qubit` into `bit` (a body's measures into bits
  // outside the map).
  void measured(std::int64_t qubit, std::int64_t bit) {
    uses_qubit(qubit);
    highest_bit = std::max(highest_bit, bit);
    measure_map.emplace_back(qubit, bit);
  }
};

// Sets the sequence's qubit count (the declared one, raised to cover every qubit used)
// and its registers. The classical registers and the measure map are set only when
// there are bit registers or measurements; without bit declarations the bits used make
// one implicit register.
void set_read_layout(GateSequence& gs, ReadLayout layout);

}  // namespace corvane::qasm3::detail
