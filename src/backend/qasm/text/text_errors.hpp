// Raising the converter's errors and finding where in a text they are; the depth guard
// of recursive passes comes with them (common/depth_guard.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// The line and column of byte `offset` of `text` (clamped to its size). Lines end at
// '\n' (so "\r\n" ends one line too); columns count code points, counting any byte
// that does not continue a UTF-8 sequence as one, so invalid text has places too.
Location locate(std::string_view text, std::size_t offset) noexcept;

}  // namespace corvane::qasm3::detail
