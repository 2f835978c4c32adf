// Converters from Python objects to native values (CPython's shape: false means
// an error is set) and from native values to new Python objects.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "python/ref.hpp"

namespace py {

using Pair2 = std::array<double, 2>;
using Triple = std::array<double, 3>;

bool convert(PyObject* obj, double* out) noexcept;
bool convert(PyObject* obj, std::uint64_t* out) noexcept;
bool convert(PyObject* obj, std::int64_t* out) noexcept;
bool convert(PyObject* obj, bool* out) noexcept;
bool convert(PyObject* obj, Pair2* out) noexcept;
// Vectors may throw std::bad_alloc; the entry boundary turns it into MemoryError.
bool convert(PyObject* obj, std::vector<double>* out);
bool convert(PyObject* obj, std::vector<std::vector<double>>* out);
bool convert(PyObject* obj, std::vector<Pair2>* out);

// An instance of exactly `type` (the module's classes are final); returns the
// object borrowed, or nullptr with TypeError naming class_name.
PyObject* expect_instance(PyObject* obj, PyTypeObject* type, const char* class_name) noexcept;

// Rewrites a pending exact TypeError as "argument '<name>': <text>", carrying
// __cause__ over; other errors pass unchanged. Always returns false.
[[gnu::cold]] bool fail_argument(const char* name) noexcept;

// Converts one bound argument, naming it in a TypeError.
template <class T>
bool convert_arg(PyObject* obj, T* out, const char* name) {
    return convert(obj, out) || fail_argument(name);
}

// Result converters: each returns a new reference or null with an error set.
Ref new_float_list(std::span<const double> values);
Ref new_tuple_list(std::span<const Pair2> values);
Ref new_tuple_list(std::span<const Triple> values);
// values cut into `count` equal runs, as a list of read-only memoryviews of
// format 'd' over one bytes object.
Ref new_double_views(std::span<const double> values, std::size_t count);

}  // namespace py
