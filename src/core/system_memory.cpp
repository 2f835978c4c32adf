// Physical memory from the operating system.
#include "core/system_memory.hpp"

#include <unistd.h>

namespace vok {

std::size_t physical_memory_bytes() noexcept {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return 0;
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size);
}

std::size_t default_memory_budget() noexcept {
    const std::size_t physical = physical_memory_bytes();
    return physical > 0 ? physical / 2 : std::size_t{4} << 30;
}

}  // namespace vok
