// The argument binder shared by every callable with parameters.
#include "python/bind_args.hpp"

#include "python/errors.hpp"

namespace py {
namespace {

// Index of the parameter called `keyword`, or -1. The keyword is matched as
// text, so a name that cannot be encoded simply matches nothing.
Py_ssize_t find_param(const Signature& sig, PyObject* keyword) noexcept {
    if (!PyUnicode_Check(keyword)) return -1;
    for (std::size_t i = 0; i < sig.names.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(keyword, sig.names[i]) == 0) return Py_ssize_t(i);
    }
    return -1;
}

bool place_keyword(const Signature& sig, PyObject* keyword, PyObject* value,
                   std::span<PyObject*> slots) noexcept {
    const Py_ssize_t i = find_param(sig, keyword);
    if (i < 0) return fail_unexpected_keyword(sig, keyword);
    if (slots[i]) return fail_multiple_values(sig, std::size_t(i));
    slots[i] = value;
    return true;
}

bool place_positional(const Signature& sig, PyObject* const* args, std::size_t nargs,
                      std::span<PyObject*> slots) noexcept {
    if (nargs > sig.names.size()) return fail_too_many_positional(sig, nargs);
    for (PyObject*& slot : slots) slot = nullptr;
    for (std::size_t i = 0; i < nargs; ++i) slots[i] = args[i];
    return true;
}

bool check_required(const Signature& sig, std::size_t nargs, std::span<PyObject*> slots) noexcept {
    for (std::size_t i = nargs; i < sig.required; ++i) {
        if (!slots[i]) return fail_missing(sig, slots);
    }
    return true;
}

}  // namespace

bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   std::span<PyObject*> slots) noexcept {
    const std::size_t n = std::size_t(nargs);
    if (!place_positional(sig, args, n, slots)) return false;
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (!place_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots))
                return false;
        }
    }
    return check_required(sig, n, slots);
}

bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs,
                std::span<PyObject*> slots) noexcept {
    const std::size_t n = std::size_t(PyTuple_GET_SIZE(args));
    if (!place_positional(sig, reinterpret_cast<PyTupleObject*>(args)->ob_item, n, slots))
        return false;
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!place_keyword(sig, key, value, slots)) return false;
        }
    }
    return check_required(sig, n, slots);
}

}  // namespace py
