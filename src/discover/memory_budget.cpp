// Physical memory and the working-memory budget.
#include "discover/memory_budget.hpp"

#include <unistd.h>

#include <limits>

namespace vok {

std::size_t physical_memory_bytes() noexcept {
    constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return kUnknown;
    const auto p = static_cast<std::size_t>(pages);
    const auto s = static_cast<std::size_t>(page_size);
    return p > kUnknown / s ? kUnknown : p * s;
}

std::size_t default_memory_limit() noexcept { return physical_memory_bytes() / 2; }

std::size_t bytes_for(std::size_t count, std::size_t each) {
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, each, &bytes)) throw MemoryLimitExceeded();
    return bytes;
}

bool MemoryBudget::try_take(std::size_t bytes) noexcept {
    std::size_t used = used_.load(std::memory_order_relaxed);
    do {
        if (bytes > limit_ - used) return false;  // used never exceeds limit_
    } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
}

}  // namespace vok
