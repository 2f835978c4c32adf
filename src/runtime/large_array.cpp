// Huge-page backed allocations: aligned so whole huge pages fit, then advised.
#include "runtime/large_array.hpp"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vok {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void* allocate_large(std::size_t bytes) {
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (p == nullptr) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
    // Only advice: without huge pages the memory works the same.
    (void)madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return p;
}

void free_large(void* p) noexcept { std::free(p); }

}  // namespace vok
