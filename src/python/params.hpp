// The parameter description of a Python-callable: one constexpr record per callable.
#pragma once

#include <cstddef>
#include <span>

namespace py {

// Every parameter is positional-or-keyword; the first `required` have no default.
struct Signature {
    const char* function;  // "find_formula", "__new__", "rotate_phase"
    const char* owner;     // class name for members, nullptr for module functions
    std::span<const char* const> names;
    std::size_t required;
};

}  // namespace py
