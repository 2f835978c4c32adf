// Message builders for the binding errors, all formats in one place. Each sets
// the pending TypeError and returns false.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>

#include "python/params.hpp"

namespace py {

[[gnu::cold]] bool fail_too_many_positional(const Signature& sig, std::size_t given) noexcept;
[[gnu::cold]] bool fail_unexpected_keyword(const Signature& sig, PyObject* keyword) noexcept;
[[gnu::cold]] bool fail_multiple_values(const Signature& sig, std::size_t param) noexcept;
[[gnu::cold]] bool fail_missing(const Signature& sig, std::span<PyObject* const> slots) noexcept;

// MemoryError "{who}: the search needs {needed} bytes ({GiB}) of working memory, more
// than its limit of {limit} bytes ({GiB}[, {limit_note}]); {hint}". needed 0: more
// than a 64-bit count of bytes. Returns null.
[[gnu::cold]] PyObject* raise_memory_needed(const char* who, std::size_t needed, std::size_t limit,
                                            const char* limit_note, const char* hint) noexcept;

// "'{type name}' object cannot be converted to '{target}'".
[[gnu::cold]] bool fail_cannot_convert(PyObject* obj, const char* target) noexcept;

}  // namespace py
