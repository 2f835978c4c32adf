// Heap allocations made by the calling thread, counted by the test binary's
// replacement operator new (alloc_count_test.cpp). One replacement per binary:
// include this header rather than defining another.
#pragma once

#include <cstddef>

namespace vok::testing {

std::size_t allocations_on_this_thread() noexcept;

// Allocations made by f() on this thread.
template <class F>
std::size_t allocations_during(F&& f) {
    const std::size_t before = allocations_on_this_thread();
    f();
    return allocations_on_this_thread() - before;
}

}  // namespace vok::testing
