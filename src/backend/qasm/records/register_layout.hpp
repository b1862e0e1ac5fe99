// Register layout: the qubits (and the bits) of a program numbered on one flat line, each
// register a run of consecutive indices in the order its declaration is laid out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "corvane/backend/gatesequence/gatesequence.hpp"

namespace corvane::qasm3::detail {

// Hashes text keys so maps keyed by std::string can be searched with a string_view.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    return std::hash<std::string_view>{}(s);
  }
};

// Where a register's indices lie in the flat numbering: the first and how many.
struct RegisterSpan {
  std::int64_t offset = 0;
  std::int64_t size = 0;

  // The flat index of element `element` (absent: a number past every index), or
  // nothing when the register has no such element.
  [[nodiscard]] std::optional<std::int64_t> flat_index(
      std::optional<std::int64_t> element) const noexcept {
    if (!element || *element >= size) return std::nullopt;
    return offset + *element;
  }
};

// Register name -> (offset, size). Setting a name again replaces its entry. Hashed, so a
// program with many registers is laid out and resolved in linear time.
class RegisterMap {
 public:
  void set(std::string_view name, RegisterSpan span);
  [[nodiscard]] const RegisterSpan* find(std::string_view name) const;
  [[nodiscard]] bool empty() const noexcept { return entries_.empty(); }
  [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }

 private:
  std::unordered_map<std::string, RegisterSpan, TextHash, std::equal_to<>> entries_;
};

// The laid-out registers in layout order, and the same by name.
struct Registers {
  RegisterList list;
  RegisterMap map;
};

// Lays registers out one after another. Every array declaration takes the next run of
// indices, even under a name used before (the name then finds the later run); a scalar
// declaration of a name already laid out adds nothing.
class RegisterLayout {
 public:
  void reserve(std::size_t registers) { registers_.list.reserve(registers); }
  // ValueError when the running total would pass std::int64_t.
  void add_array(std::string_view name, std::int64_t size);
  void add_scalar(std::string_view name);
  [[nodiscard]] Registers take() && { return std::move(registers_); }

 private:
  Registers registers_;
  std::int64_t total_ = 0;
};

// ValueError: adding `size` to `total` indices passes std::int64_t.
[[noreturn]] void raise_total_too_large(std::int64_t total, std::int64_t size);

// The total of a layout checked while declarations arrive in program order: the
// declaration that makes the registers so far impossible to lay out raises the ValueError
// that RegisterLayout raises laying them out, arrays first, then scalars one by one.
class RegisterTotal {
 public:
  void add_array(std::int64_t size);
  // A scalar of a name not laid out before.
  void add_scalar();

 private:
  void check_scalars_fit() const;
  std::int64_t arrays_ = 0;
  std::int64_t scalars_ = 0;
};

// The qubit count of `registers`; ValueError when it does not fit std::int64_t.
std::int64_t qubit_total(const RegisterList& registers);

// A program that declares no qubits (or none but empty registers) uses one register of
// this name, as large as its highest index there needs.
inline constexpr std::string_view IMPLICIT_QUBIT_REGISTER = "q";
Registers implicit_qubit_register(std::int64_t size);

// A bit of a register that nothing declares stands for its element number itself; one
// more than it must still count the bits, so the largest number gives nothing.
inline std::optional<std::int64_t> undeclared_bit_index(
    std::optional<std::int64_t> element) noexcept {
  if (!element || *element == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
  return element;
}

}  // namespace corvane::qasm3::detail
