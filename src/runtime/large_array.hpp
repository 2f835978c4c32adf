// Arrays of hundreds of megabytes read a few bytes at a time at random (the
// seen set) on transparent huge pages where the system offers them: such
// reads then miss the address translation cache far less often. Arrays read
// mostly in order (entries, stored rows) are better off without: on these
// machines a fresh huge page costs several times more to fault in than the
// small pages it replaces (256 MB: 1.1 s against 0.2 s), so even the seen set
// takes them only where it is read many times over.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace vok {

// Allocations from this size up are aligned to, and advised as, huge pages.
inline constexpr std::size_t kLargeArrayBytes = std::size_t{4} << 20;

[[nodiscard]] void* allocate_large(std::size_t bytes);  // throws std::bad_alloc
void free_large(void* p) noexcept;

// Elements are default-initialised: resizing leaves trivially constructible
// values unwritten, so the caller's own (parallel) first writes are what
// brings the pages in. Huge is the default page choice; an allocator made
// with the other choice carries it along with the memory it allocated.
template <class T, bool Huge>
struct ArrayAllocator {
    using value_type = T;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    template <class U>
    struct rebind {
        using other = ArrayAllocator<U, Huge>;
    };
    ArrayAllocator() = default;
    explicit ArrayAllocator(bool huge_pages) noexcept : huge(huge_pages) {}
    template <class U>
    ArrayAllocator(const ArrayAllocator<U, Huge>& other) noexcept : huge(other.huge) {}

    [[nodiscard]] T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        return static_cast<T*>(huge && bytes >= kLargeArrayBytes ? allocate_large(bytes)
                                                                 : ::operator new(bytes));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (huge && n * sizeof(T) >= kLargeArrayBytes) {
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
    friend bool operator==(const ArrayAllocator& a, const ArrayAllocator& b) noexcept {
        return a.huge == b.huge;
    }

    bool huge = Huge;
};

// On huge pages (where offered) from kLargeArrayBytes up.
template <class T>
using LargeVector = std::vector<T, ArrayAllocator<T, true>>;

// On ordinary pages.
template <class T>
using RawVector = std::vector<T, ArrayAllocator<T, false>>;

}  // namespace vok
