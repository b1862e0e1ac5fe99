// Allocation hints for the large buffers the gate model and the converters fill.
#pragma once

#include <cstddef>

namespace corvane::qasm3::detail {

// Asks the kernel to back [buffer, buffer + bytes) with 2 MiB pages where it is large
// enough. A buffer of tens of megabytes that is about to be filled for the first time
// then costs a handful of page faults instead of thousands, which on virtual machines
// is most of the time spent on it. Only a hint: nothing depends on it being followed.
void advise_huge_pages(const void* buffer, std::size_t bytes) noexcept;

// Reserves room for `count` elements of a buffer about to be filled, with the hint above.
template <class Buffer>
void reserve_for_filling(Buffer& buffer, std::size_t count) {
  buffer.reserve(count);
  advise_huge_pages(buffer.data(), count * sizeof(*buffer.data()));
}

}  // namespace corvane::qasm3::detail
