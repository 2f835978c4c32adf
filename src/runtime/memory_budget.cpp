// The working-memory budget.
#include "runtime/memory_budget.hpp"

namespace vok {

std::size_t bytes_for(std::size_t count, std::size_t each) {
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, each, &bytes)) throw MemoryLimitExceeded();
    return bytes;
}

void MemoryBudget::refuse(std::size_t bytes) const {
    std::size_t needed = 0;
    if (__builtin_add_overflow(used(), bytes, &needed)) needed = 0;
    throw MemoryLimitExceeded(needed, limit_);
}

bool MemoryBudget::try_take(std::size_t bytes) noexcept {
    std::size_t used = used_.load(std::memory_order_relaxed);
    do {
        if (bytes > limit_ - used) return false;  // used never exceeds limit_
    } while (!used_.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
}

}  // namespace vok
