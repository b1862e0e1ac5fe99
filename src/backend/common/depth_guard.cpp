#include "common/depth_guard.hpp"

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane::qasm3::detail {

namespace {

// The lowest usable address of the calling thread's stack, or 0 when it is unknown.
std::uintptr_t stack_floor() noexcept {
  std::uintptr_t low = 0;
#if defined(__linux__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* addr = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0) {
      low = reinterpret_cast<std::uintptr_t>(addr);
    }
    pthread_attr_destroy(&attr);
  }
#endif
  return low;
}

}  // namespace

StackReserve read_stack_reserve() noexcept {
  constexpr std::uintptr_t STACK_RESERVE = std::uintptr_t{256} << 10U;
  const std::uintptr_t floor = stack_floor();
  if (floor == 0) return StackReserve{0, 0, true};
  return StackReserve{floor, floor + STACK_RESERVE, true};
}

void DepthGuard::refuse() {
  --depth_;
  throw RecursionError(std::string(RECURSION_MESSAGE));
}

}  // namespace corvane::qasm3::detail
