// Raising errors, where they are, and the depth guard.
#include "text_errors.hpp"

#include <pthread.h>

#include <algorithm>
#include <cstdint>

#include "text_unicode.hpp"

namespace corvane::qasm3::detail {

void raise_value_error(const std::string& message) {
  throw ValueError(message);
}
void raise_not_implemented(const std::string& message) {
  throw NotImplementedError(message);
}
void raise_runtime_error(const std::string& message) {
  throw RuntimeError(message);
}
void raise_type_error(const std::string& message) {
  throw TypeError(message);
}
void raise_syntax_error(const std::string& message) {
  throw SyntaxError(message);
}
void raise_zero_division(const std::string& message) {
  throw ZeroDivisionError(message);
}
void raise_overflow(const std::string& message) {
  throw OverflowError(message);
}
void raise_recursion_error(const std::string& message) {
  throw RecursionError(message);
}

Location locate(std::string_view text, std::size_t offset) noexcept {
  offset = std::min(offset, text.size());
  const std::string_view before = text.substr(0, offset);
  const std::size_t last_newline = before.rfind('\n');
  const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
  const auto line_breaks = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  return Location{line_breaks + 1, count_code_points(before.substr(line_start)) + 1, offset};
}

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
  raise_recursion_error(std::string(RECURSION_MESSAGE));
}

}  // namespace corvane::qasm3::detail
