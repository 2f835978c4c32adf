// A reader-writer lock in one atomic word, for critical sections of a few
// dozen instructions that are almost never contended (a seen-set shard): an
// uncontended lock and unlock cost one atomic operation each, where a
// pthread rwlock costs several times that.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace vok {

class RwSpinLock {
public:
    void lock() noexcept {
        std::uint32_t expected = 0;
        while (!state_.compare_exchange_weak(expected, kWriter, std::memory_order_acquire,
                                             std::memory_order_relaxed)) {
            expected = 0;
            std::this_thread::yield();
        }
    }
    void unlock() noexcept { state_.store(0, std::memory_order_release); }

    void lock_shared() noexcept {
        std::uint32_t seen = state_.load(std::memory_order_relaxed);
        for (;;) {
            if (seen != kWriter &&
                state_.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire,
                                             std::memory_order_relaxed))
                return;
            if (seen == kWriter) {
                std::this_thread::yield();
                seen = state_.load(std::memory_order_relaxed);
            }
        }
    }
    void unlock_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }

private:
    static constexpr std::uint32_t kWriter = ~std::uint32_t{0};  // else: the reader count
    std::atomic<std::uint32_t> state_{0};
};

}  // namespace vok
