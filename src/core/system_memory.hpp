// What the machine can hold: the bound searches plan their memory against.
#pragma once

#include <cstddef>

namespace vok {

// Physical memory in bytes (0 when the system does not say).
[[nodiscard]] std::size_t physical_memory_bytes() noexcept;

// The default memory budget of one search: half of physical memory.
[[nodiscard]] std::size_t default_memory_budget() noexcept;

}  // namespace vok
