#include "qasm/records/register_layout.hpp"

#include <limits>

#include "qasm/text/text.hpp"

namespace corvane::qasm3::detail {

void RegisterMap::set(std::string_view name, RegisterSpan span) {
  if (auto it = entries_.find(name); it != entries_.end()) {
    it->second = span;
  } else {
    entries_.emplace(std::string(name), span);
  }
}

const RegisterSpan* RegisterMap::find(std::string_view name) const {
  const auto it = entries_.find(name);
  return it == entries_.end() ? nullptr : &it->second;
}

void raise_total_too_large(std::int64_t total, std::int64_t size) {
  raise_value_error("Total register size too large: " + int_text(total) + " + " + int_text(size));
}

void RegisterLayout::add_array(std::string_view name, std::int64_t size) {
  if (size > std::numeric_limits<std::int64_t>::max() - total_) raise_total_too_large(total_, size);
  registers_.list.push_back(RegisterDecl{std::string(name), size});
  registers_.map.set(name, RegisterSpan{total_, size});
  total_ += size;
}

void RegisterLayout::add_scalar(std::string_view name) {
  if (registers_.map.find(name) == nullptr) add_array(name, 1);
}

void RegisterTotal::add_array(std::int64_t size) {
  if (size > std::numeric_limits<std::int64_t>::max() - arrays_)
    raise_total_too_large(arrays_, size);
  arrays_ += size;
  check_scalars_fit();
}

void RegisterTotal::add_scalar() {
  ++scalars_;
  check_scalars_fit();
}

// The first scalar that does not fit meets a total of the largest index.
void RegisterTotal::check_scalars_fit() const {
  constexpr std::int64_t LARGEST = std::numeric_limits<std::int64_t>::max();
  if (scalars_ > LARGEST - arrays_) raise_total_too_large(LARGEST, 1);
}

std::int64_t qubit_total(const RegisterList& registers) {
  std::int64_t total = 0;
  for (const RegisterDecl& reg : registers) {
    if (__builtin_add_overflow(total, reg.size, &total)) {
      std::string msg = "Qubit registers declare more than ";
      append_int(msg, std::numeric_limits<std::int64_t>::max());
      msg += " qubits";
      raise_value_error(msg);
    }
  }
  return total;
}

Registers implicit_qubit_register(std::int64_t size) {
  Registers registers;
  registers.list = {RegisterDecl{std::string(IMPLICIT_QUBIT_REGISTER), size}};
  registers.map.set(IMPLICIT_QUBIT_REGISTER, RegisterSpan{0, size});
  return registers;
}

}  // namespace corvane::qasm3::detail
