// The one boundary where C++ failures become Python exceptions.
#pragma once

#include <Python.h>

namespace py {

// Called inside a catch block: std::bad_alloc becomes MemoryError, anything
// else PanicException with the fault's message. Always returns nullptr.
[[gnu::cold]] PyObject* raise_from_current_exception() noexcept;

// The module's PanicException type (derived from BaseException), created once.
PyObject* panic_exception() noexcept;

template <auto Impl>
struct Entry;

// Wraps any slot or method implementation returning PyObject*, so that no C++
// exception unwinds into the interpreter.
template <typename... Args, PyObject* (*Impl)(Args...)>
struct Entry<Impl> {
    static PyObject* call(Args... args) noexcept {
        try {
            return Impl(args...);
        } catch (...) {
            return raise_from_current_exception();
        }
    }
};

// Method-table adapters: CPython stores every method as a PyCFunction.
template <auto Impl>
PyCFunction fastcall_method() noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Entry<Impl>::call));
}
// A module function taking arguments by position and keyword, with its docstring (the
// text signature first, as CPython reads it).
template <auto Impl>
PyMethodDef keyword_method(const char* name, const char* doc) noexcept {
    return {name, fastcall_method<Impl>(), METH_FASTCALL | METH_KEYWORDS, doc};
}
// Type-slot adapter: PyType_Slot stores every function as void*.
template <auto Impl>
void* slot() noexcept {
    return reinterpret_cast<void*>(&Entry<Impl>::call);
}
template <auto Impl>
PyCFunction noargs_method() noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Entry<Impl>::call));
}

}  // namespace py
