// The test binary's counting operator new, and its positive control.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "alloc_count.hpp"

// Every form below pairs malloc with free; g++ cannot see that the replaced
// operator new is malloc underneath.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
thread_local std::size_t g_allocations = 0;
}

// Every replaceable form goes through malloc/free, so no pairing can mismatch
// (the standard library's nothrow and array forms included).
void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++g_allocations;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return ::operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace vok::testing {

std::size_t allocations_on_this_thread() noexcept { return g_allocations; }

namespace {

TEST(AllocCount, SeesAVectorAllocate) {
    EXPECT_EQ(allocations_during([] {}), 0u);
    EXPECT_GE(allocations_during([] {
                  std::vector<double> v(100);
                  double* volatile escape = v.data();  // keeps the allocation from being elided
                  (void)escape;
              }),
              1u);
}

}  // namespace
}  // namespace vok::testing
