// Arrays of hundreds of megabytes read a few bytes at a time at random (the
// seen set) on transparent huge pages where the system offers them: such
// reads then miss the address translation cache far less often. Arrays read
// mostly in order (entries, stored rows) are better off without: on these
// machines a huge page costs several times more to fault in than the small
// pages it replaces.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace vok {

// Allocations from this size up are aligned to, and advised as, huge pages.
inline constexpr std::size_t kLargeArrayBytes = std::size_t{4} << 20;

[[nodiscard]] void* allocate_large(std::size_t bytes);  // throws std::bad_alloc
void free_large(void* p) noexcept;

// Elements are default-initialised: resizing leaves trivially constructible
// values unwritten, so the caller's own (parallel) first writes are what
// brings the pages in.
template <class T, bool Huge>
struct ArrayAllocator {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = ArrayAllocator<U, Huge>;
    };
    ArrayAllocator() = default;
    template <class U>
    ArrayAllocator(const ArrayAllocator<U, Huge>&) noexcept {}

    [[nodiscard]] T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        return static_cast<T*>(Huge && bytes >= kLargeArrayBytes ? allocate_large(bytes)
                                                                 : ::operator new(bytes));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (Huge && n * sizeof(T) >= kLargeArrayBytes) {
            free_large(p);
        } else {
            ::operator delete(p);
        }
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        if constexpr (sizeof...(Args) == 0) {
            ::new (static_cast<void*>(p)) U;
        } else {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
    }
    friend bool operator==(const ArrayAllocator&, const ArrayAllocator&) noexcept { return true; }
};

// On huge pages (where offered) from kLargeArrayBytes up.
template <class T>
using LargeVector = std::vector<T, ArrayAllocator<T, true>>;

// On ordinary pages.
template <class T>
using RawVector = std::vector<T, ArrayAllocator<T, false>>;

}  // namespace vok
