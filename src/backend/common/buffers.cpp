#include "common/buffers.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace corvane::qasm3::detail {

void advise_huge_pages([[maybe_unused]] const void* buffer,
                       [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20U;
  const auto begin = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (begin + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  const std::uintptr_t last = (begin + bytes) & ~(HUGE_PAGE - 1);
  if (last > first) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // NOLINT
  }
#endif
}

}  // namespace corvane::qasm3::detail
