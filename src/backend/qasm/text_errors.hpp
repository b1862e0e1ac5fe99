// Raising the converter's errors, finding where in a text they are, and bounding the
// depth of recursive passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// Deepest nesting of blocks, definition calls and the like that any recursive pass
// follows (qasm3.hpp); one level deeper fails with RecursionError(RECURSION_MESSAGE).
using qasm3::MAX_NESTING_DEPTH;
using qasm3::RECURSION_MESSAGE;

// The frame addresses [low, high) that leave too little of the calling thread's stack
// for another level of recursion; both 0 when the stack's extent is unknown. Read once
// per thread, so that the guard below costs a few instructions where it is passed often.
struct StackReserve {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
  bool known = false;
};
inline thread_local constinit StackReserve stack_reserve;
StackReserve read_stack_reserve() noexcept;

// Whether the stack below the caller is too short for another level of recursion.
// Frames differ widely between builds (sanitizers multiply them) and threads may have
// small stacks, so the level count alone cannot promise that the stack suffices.
[[gnu::always_inline]] inline bool stack_nearly_exhausted() noexcept {
  StackReserve& reserve = stack_reserve;
  if (!reserve.known) [[unlikely]]
    reserve = read_stack_reserve();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  return here > reserve.low && here < reserve.high;
}

// Counts one level of recursion for as long as it lives; past MAX_NESTING_DEPTH, or when
// the thread's stack is nearly used up, it raises RecursionError instead of letting the
// stack run out.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) {
    if (++depth_ > MAX_NESTING_DEPTH || stack_nearly_exhausted()) [[unlikely]]
      refuse();
  }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  ~DepthGuard() { --depth_; }

 private:
  [[noreturn]] void refuse();

  int& depth_;
};

}  // namespace corvane::qasm3::detail
