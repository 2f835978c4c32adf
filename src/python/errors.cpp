// Binding error texts, and the boundary that turns C++ failures into Python exceptions.
#include "python/errors.hpp"

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "python/entry.hpp"
#include "python/ref.hpp"

namespace py {
namespace {

constexpr const char* kGenericPanicText = "internal fault in vok_core";

// "find_formula()" or "VOKPair.__new__()".
std::string full_name(const Signature& sig) {
    std::string name;
    if (sig.owner) {
        name += sig.owner;
        name += '.';
    }
    name += sig.function;
    name += "()";
    return name;
}

const char* was_were(std::size_t n) { return n == 1 ? "was" : "were"; }

std::string type_name(PyObject* obj) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
    if (name) {
        if (const char* text = PyUnicode_AsUTF8(name.get())) return text;
    }
    PyErr_Clear();
    return Py_TYPE(obj)->tp_name;
}

}  // namespace

bool fail_too_many_positional(const Signature& sig, std::size_t given) noexcept try {
    const std::string name = full_name(sig);
    const std::size_t n = sig.names.size();
    if (sig.required == n) {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zu %s given",
                     name.c_str(), n, given, was_were(given));
    } else {
        PyErr_Format(PyExc_TypeError,
                     "%s takes from %zu to %zu positional arguments but %zu %s given", name.c_str(),
                     sig.required, n, given, was_were(given));
    }
    return false;
} catch (...) {
    raise_from_current_exception();
    return false;
}

bool fail_unexpected_keyword(const Signature& sig, PyObject* keyword) noexcept try {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'",
                 full_name(sig).c_str(), keyword);
    return false;
} catch (...) {
    raise_from_current_exception();
    return false;
}

bool fail_multiple_values(const Signature& sig, std::size_t param) noexcept try {
    PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'",
                 full_name(sig).c_str(), sig.names[param]);
    return false;
} catch (...) {
    raise_from_current_exception();
    return false;
}

bool fail_missing(const Signature& sig, std::span<PyObject* const> slots) noexcept try {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < sig.required; ++i) {
        if (!slots[i]) missing.push_back(sig.names[i]);
    }
    std::string list;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) {
            if (missing.size() == 2)
                list += " and ";
            else if (i + 1 == missing.size())
                list += ", and ";
            else
                list += ", ";
        }
        list += '\'';
        list += missing[i];
        list += '\'';
    }
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s",
                 full_name(sig).c_str(), missing.size(),
                 missing.size() == 1 ? "argument" : "arguments", list.c_str());
    return false;
} catch (...) {
    raise_from_current_exception();
    return false;
}

bool fail_cannot_convert(PyObject* obj, const char* target) noexcept try {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to '%s'", type_name(obj).c_str(),
                 target);
    return false;
} catch (...) {
    raise_from_current_exception();
    return false;
}

PyObject* raise_memory_needed(const char* who, std::size_t needed, std::size_t limit,
                              const char* limit_note, const char* hint) noexcept {
    constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
    char need[96];
    if (needed == 0) {
        std::snprintf(need, sizeof need, "more bytes than a 64-bit count holds");
    } else {
        std::snprintf(need, sizeof need, "%zu bytes (%.1f GiB)", needed,
                      static_cast<double>(needed) / kGiB);
    }
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s: the search needs %s of working memory, more than its limit of %zu bytes "
                  "(%.1f GiB%s%s); %s",
                  who, need, limit, static_cast<double>(limit) / kGiB, limit_note ? ", " : "",
                  limit_note ? limit_note : "", hint);
    PyErr_SetString(PyExc_MemoryError, text);
    return nullptr;
}

PyObject* panic_exception() noexcept {
    static PyObject* type = nullptr;  // created once, kept for the process
    if (!type) {
        type = PyErr_NewExceptionWithDoc(
            "vok_core.PanicException",
            "An internal fault of the native core. Derived from BaseException so that an "
            "ordinary `except Exception` does not swallow it.",
            PyExc_BaseException, nullptr);
    }
    return type;
}

PyObject* raise_from_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        if (PyObject* type = panic_exception()) {
            const char* what = e.what();
            PyErr_SetString(type, what && *what ? what : kGenericPanicText);
        }
    } catch (...) {
        if (PyObject* type = panic_exception()) PyErr_SetString(type, kGenericPanicText);
    }
    return nullptr;
}

}  // namespace py
