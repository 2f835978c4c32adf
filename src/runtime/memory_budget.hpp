// Working memory accounted before it is taken. A request the machine cannot
// satisfy must fail as an exception (MemoryError in Python), never by the
// kernel killing the process; under AddressSanitizer a huge operator new
// aborts instead of throwing, so the refusal has to come before allocating.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "core/system_memory.hpp"

namespace vok {

// A request refused by a budget (or too large to express in bytes). It says
// what the holder would have had with the request granted and what the limit
// was, so the caller can tell the user; 0 means not known (needed: more than
// a size_t counts).
class MemoryLimitExceeded : public std::bad_alloc {
public:
    MemoryLimitExceeded() noexcept = default;
    MemoryLimitExceeded(std::size_t needed, std::size_t limit) noexcept
        : needed_(needed), limit_(limit) {}

    [[nodiscard]] const char* what() const noexcept override {
        return "working memory limit exceeded";
    }
    [[nodiscard]] std::size_t needed() const noexcept { return needed_; }
    [[nodiscard]] std::size_t limit() const noexcept { return limit_; }

private:
    std::size_t needed_ = 0;
    std::size_t limit_ = 0;
};

// count * each, or MemoryLimitExceeded when that does not fit in a size_t.
[[nodiscard]] std::size_t bytes_for(std::size_t count, std::size_t each);

// Bytes held against a limit. Thread-safe: structures grown inside worker
// tasks charge the same budget.
class MemoryBudget {
public:
    explicit MemoryBudget(std::size_t limit = default_memory_budget()) noexcept : limit_(limit) {}
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // MemoryLimitExceeded, with nothing charged, when bytes do not fit.
    void take(std::size_t bytes) {
        if (!try_take(bytes)) refuse(bytes);
    }
    [[nodiscard]] bool try_take(std::size_t bytes) noexcept;
    void give_back(std::size_t bytes) noexcept {
        used_.fetch_sub(bytes, std::memory_order_relaxed);
    }

    [[nodiscard]] std::size_t used() const noexcept {
        return used_.load(std::memory_order_relaxed);
    }
    [[nodiscard]] std::size_t limit() const noexcept { return limit_; }

private:
    [[noreturn, gnu::cold]] void refuse(std::size_t bytes) const;

    std::size_t limit_;
    std::atomic<std::size_t> used_{0};
};

// Holds a charge for a scope: memory a library call allocates by itself.
class ScopedCharge {
public:
    ScopedCharge(MemoryBudget& budget, std::size_t bytes) : budget_(budget), bytes_(bytes) {
        budget_.take(bytes_);
    }
    ~ScopedCharge() { budget_.give_back(bytes_); }
    ScopedCharge(const ScopedCharge&) = delete;
    ScopedCharge& operator=(const ScopedCharge&) = delete;

private:
    MemoryBudget& budget_;
    std::size_t bytes_;
};

// std::allocator charging a budget before every allocation (no budget: plain).
// A vector that grows holds its old and new blocks at once, and both are charged.
template <class T>
class BudgetAllocator {
public:
    using value_type = T;
    using propagate_on_container_copy_assignment = std::true_type;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;

    BudgetAllocator() noexcept = default;
    explicit BudgetAllocator(MemoryBudget* budget) noexcept : budget_(budget) {}
    template <class U>
    BudgetAllocator(const BudgetAllocator<U>& other) noexcept : budget_(other.budget()) {}

    [[nodiscard]] T* allocate(std::size_t n) {
        const std::size_t bytes = bytes_for(n, sizeof(T));
        if (budget_ == nullptr) return std::allocator<T>().allocate(n);
        budget_->take(bytes);
        try {
            return std::allocator<T>().allocate(n);
        } catch (...) {
            budget_->give_back(bytes);
            throw;
        }
    }
    void deallocate(T* p, std::size_t n) noexcept {
        std::allocator<T>().deallocate(p, n);
        if (budget_ != nullptr) budget_->give_back(n * sizeof(T));
    }

    [[nodiscard]] MemoryBudget* budget() const noexcept { return budget_; }

    template <class U>
    bool operator==(const BudgetAllocator<U>& other) const noexcept {
        return budget_ == other.budget();
    }

private:
    MemoryBudget* budget_ = nullptr;
};

template <class T>
using BudgetVector = std::vector<T, BudgetAllocator<T>>;

// Room for n elements, refused before anything is allocated when n elements
// exceed limit bytes or max_size() (which reserve would report as a
// length_error, not as memory); a budget allocator charges its own budget too.
template <class T, class A>
void reserve_or_throw(std::vector<T, A>& v, std::size_t n,
                      std::size_t limit = default_memory_budget()) {
    if (n <= v.capacity()) return;
    if (n > v.max_size()) throw MemoryLimitExceeded(0, limit);
    if (const std::size_t bytes = bytes_for(n, sizeof(T)); bytes > limit)
        throw MemoryLimitExceeded(bytes, limit);
    v.reserve(n);
}

}  // namespace vok
