// Arrays of hundreds of megabytes read a few bytes at a time at random (the
// seen set, the entries' operators and probe values) on transparent huge
// pages where the system offers them: such reads then miss the address
// translation cache far less often. Arrays read in long runs (stored rows)
// are better off without: on these machines a huge page costs more to fault
// in than the small pages it replaces.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace vok {

// Allocations from this size up are aligned to, and advised as, huge pages.
inline constexpr std::size_t kLargeArrayBytes = std::size_t{4} << 20;

[[nodiscard]] void* allocate_large(std::size_t bytes);  // throws std::bad_alloc
void free_large(void* p) noexcept;

template <class T>
struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) noexcept {}

    [[nodiscard]] T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        return static_cast<T*>(bytes >= kLargeArrayBytes ? allocate_large(bytes) : ::operator new(bytes));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n * sizeof(T) >= kLargeArrayBytes) {
            free_large(p);
        } else {
            ::operator delete(p);
        }
    }
    friend bool operator==(const LargeAllocator&, const LargeAllocator&) noexcept { return true; }
};

template <class T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

}  // namespace vok
