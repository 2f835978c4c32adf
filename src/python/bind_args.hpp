// Binding positional and keyword arguments to a callable's parameter slots.
#pragma once

#include <Python.h>

#include <span>

#include "python/params.hpp"

namespace py {

// Fills slots (one per parameter, borrowed; nullptr when absent) from a
// METH_FASTCALL | METH_KEYWORDS call. False with TypeError set on a binding error.
bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   std::span<PyObject*> slots) noexcept;

// The same for tp_new's argument tuple and keyword dict (which may be null).
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs,
                std::span<PyObject*> slots) noexcept;

}  // namespace py
