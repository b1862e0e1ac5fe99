// Raising the converter's errors and finding where in a text they are; the depth guard
// of recursive passes comes with them (common/depth_guard.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/depth_guard.hpp"
#include "corvane/backend/qasm/qasm3.hpp"

namespace corvane::qasm3::detail {

// ------------------------------------------------------------------ errors
// One helper per error kind, so messages are built at the call site and thrown here.
[[noreturn]] void raise_value_error(const std::string& message);
[[noreturn]] void raise_not_implemented(const std::string& message);
[[noreturn]] void raise_runtime_error(const std::string& message);
[[noreturn]] void raise_type_error(const std::string& message);
[[noreturn]] void raise_syntax_error(const std::string& message);
[[noreturn]] void raise_zero_division(const std::string& message);
[[noreturn]] void raise_overflow(const std::string& message);
[[noreturn]] void raise_recursion_error(const std::string& message);
// Raises an error of the kind of `error` with another message.
[[noreturn]] void raise_like(const Error& error, const std::string& message);

// ------------------------------------------------------------------ places
// Runs `work`; an error it raises leaves with the place `place_of_error()` gives unless it
// has one already, so the innermost place, attached first, wins. `place_of_error` returns
// a Location, or an optional one (empty: no place to give), and runs only when an error
// passes, so that the common path pays for nothing but the try.
inline void attach_place(Error& error, Location where) noexcept {
  error.set_location_once(std::move(where));
}
inline void attach_place(Error& error, std::optional<Location> where) noexcept {
  if (where) error.set_location_once(std::move(*where));
}
template <class PlaceOfError, class Work>
decltype(auto) with_place_of_error(PlaceOfError&& place_of_error, Work&& work) {
  try {
    return std::forward<Work>(work)();
  } catch (Error& error) {
    attach_place(error, place_of_error());
    throw;
  }
}

// The line and column of byte `offset` of `text` (clamped to its size). Lines end at
// '\n' (so "\r\n" ends one line too); columns count code points, counting any byte
// that does not continue a UTF-8 sequence as one, so invalid text has places too.
Location locate(std::string_view text, std::size_t offset) noexcept;

// Raises the error that `raise` makes of `message`, placed at byte `offset` of `text`.
template <class Raise>
[[noreturn]] void raise_at(std::string_view text, std::size_t offset, Raise raise,
                           const std::string& message) {
  with_place_of_error([&] { return locate(text, offset); }, [&] { raise(message); });
  // `raise` never returns; this line only tells the compiler so.
  std::abort();
}

}  // namespace corvane::qasm3::detail
