// Shared pieces of the module's heap types: docstrings, creation, instances, dealloc.
#pragma once

#include <Python.h>

#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "python/ref.hpp"

namespace py {

// Flags shared by every class: final (no base-type flag), immutable type, no GC.
inline constexpr unsigned long kClassFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

// Creates a heap type from its spec; nullptr with the error set on failure.
PyTypeObject* create_type(PyType_Spec* spec) noexcept;

// The type cell of one class: filled from spec on first use and kept for the
// process; a failed creation is retried on the next use.
PyTypeObject* cached_type(PyTypeObject*& cell, PyType_Spec* spec) noexcept;

// A Python object holding its native record inline.
template <class Payload>
struct Boxed {
    PyObject_HEAD Payload value;
};

template <class Payload>
Payload& payload(PyObject* self) noexcept {
    return reinterpret_cast<Boxed<Payload>*>(self)->value;
}

// A new instance of type holding a copy (or move) of the record.
// The record is built before the object so that a throwing copy leaves nothing half made.
template <class Payload, class Arg>
Ref new_instance(PyTypeObject* type, Arg&& value) {
    static_assert(std::is_nothrow_move_constructible_v<Payload>);
    Payload record(std::forward<Arg>(value));
    if (!type) return Ref();
    Ref obj = Ref::steal(type->tp_alloc(type, 0));
    if (!obj) return obj;
    new (&payload<Payload>(obj.get())) Payload(std::move(record));
    return obj;
}

// tp_dealloc: drop the record, free the object, release the heap type.
template <class Payload>
void dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    payload<Payload>(self).~Payload();
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace py
