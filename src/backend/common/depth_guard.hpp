// Bounding the depth of recursive passes over nested blocks, definitions and expressions,
// for the gate model and every converter above it.
#pragma once

#include <cstdint>

#include "corvane/backend/qasm/qasm3_errors.hpp"

namespace corvane::qasm3::detail {

// Deepest nesting of blocks, definition calls and the like that any recursive pass
// follows (qasm3_errors.hpp); one level deeper fails with RecursionError(RECURSION_MESSAGE).
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
