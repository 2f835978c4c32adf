// Owned Python references and a fetched error, so ownership is visible at every call site.
#pragma once

#include <Python.h>

#include <utility>

namespace py {

// Owns one reference to a Python object; null means "a Python error is set".
class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        Ref(std::move(o)).swap(*this);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }
    [[nodiscard]] PyObject* get() const noexcept { return p_; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void swap(Ref& o) noexcept { std::swap(p_, o.p_); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// Owns the pending error (type, value, traceback) taken out of the interpreter.
class FetchedError {
public:
    FetchedError() noexcept {
        PyObject *t, *v, *tb;
        PyErr_Fetch(&t, &v, &tb);
        PyErr_NormalizeException(&t, &v, &tb);
        if (tb && v) PyException_SetTraceback(v, tb);
        type_ = Ref::steal(t);
        value_ = Ref::steal(v);
        traceback_ = Ref::steal(tb);
    }
    FetchedError(const FetchedError&) = delete;
    FetchedError& operator=(const FetchedError&) = delete;
    [[nodiscard]] PyObject* type() const noexcept { return type_.get(); }
    [[nodiscard]] PyObject* value() const noexcept { return value_.get(); }
    // Puts the error back as the pending one.
    void restore() noexcept {
        PyErr_Restore(type_.release(), value_.release(), traceback_.release());
    }

private:
    Ref type_, value_, traceback_;
};

}  // namespace py
