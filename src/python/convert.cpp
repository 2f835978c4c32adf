// One converter per target type, with the exact texts callers see.
#include "python/convert.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "python/errors.hpp"

namespace py {
namespace {

// A sequence that is not a list or tuple may report any length; reserve at most
// this many items up front and let the vector grow past it.
constexpr Py_ssize_t kMaxTrustedReserve = Py_ssize_t{1} << 20;

bool is_numpy_bool(PyObject* obj) noexcept {
    const char* name = Py_TYPE(obj)->tp_name;
    return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

template <class T>
bool convert_item(PyObject* item, std::vector<T>* out) {
    T value;
    if (!convert(item, &value)) return false;
    out->push_back(std::move(value));
    return true;
}

template <>
bool convert_item<double>(PyObject* item, std::vector<double>* out) {
    if (PyFloat_Check(item)) {  // reads the value directly, as float() would
        out->push_back(PyFloat_AS_DOUBLE(item));
        return true;
    }
    double value;
    if (!convert(item, &value)) return false;
    out->push_back(value);
    return true;
}

// Items are owned while they convert: a user's __float__ may empty the container.
template <class T>
bool convert_sequence(PyObject* obj, std::vector<T>* out) {
    if (PyUnicode_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(obj)) return fail_cannot_convert(obj, "Sequence");
    out->clear();
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
        const bool is_list = PyList_CheckExact(obj);
        out->reserve(std::size_t(Py_SIZE(obj)));
        // The size is re-read every step: conversion may shrink or grow a list.
        for (Py_ssize_t i = 0; i < Py_SIZE(obj); ++i) {
            Ref item = Ref::borrow(is_list ? PyList_GET_ITEM(obj, i) : PyTuple_GET_ITEM(obj, i));
            if (!convert_item(item.get(), out)) return false;
        }
        return true;
    }
    const Py_ssize_t reported = PySequence_Size(obj);
    if (reported < 0)
        PyErr_Clear();
    else
        out->reserve(std::size_t(std::min(reported, kMaxTrustedReserve)));
    Ref iterator = Ref::steal(PyObject_GetIter(obj));
    if (!iterator) return false;
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!convert_item(item.get(), out)) return false;
    }
    return !PyErr_Occurred();
}

// True for a struct format that means one native double: "d", "@d", "=d",
// or "<d" / ">d" when that byte order is this machine's.
bool is_native_double_format(const char* format) noexcept {
    if (format == nullptr) return false;  // unsigned bytes
    constexpr char kNativeOrder = std::endian::native == std::endian::little ? '<' : '>';
    if (*format == '@' || *format == '=' || *format == kNativeOrder) ++format;
    return format[0] == 'd' && format[1] == '\0';
}

// Exporters whose items, read one by one, are exactly their buffer's values.
// A subclass may change that (a masked array yields a masked constant where
// its buffer holds a number), so subclasses keep the item-by-item path.
bool items_are_buffer(PyObject* obj) noexcept {
    if (PyMemoryView_Check(obj)) return true;
    const char* name = Py_TYPE(obj)->tp_name;
    return std::strcmp(name, "numpy.ndarray") == 0 || std::strcmp(name, "array.array") == 0;
}

// A one-dimensional C-contiguous buffer of native doubles (a float64 numpy
// array, array('d'), a memoryview of either) is copied in one go: its items are
// the very doubles the sequence path would read one by one. Returns 1 when
// copied, 0 for anything else (left to the sequence path), -1 with an error
// set when the exporter failed for a reason other than refusing the request.
int copy_double_buffer(PyObject* obj, std::vector<double>* out) {
    if (!PyObject_CheckBuffer(obj) || !items_are_buffer(obj)) return 0;
    Py_buffer view;
    // Strides are asked for so that a non-contiguous exporter need not refuse.
    if (PyObject_GetBuffer(obj, &view, PyBUF_RECORDS_RO) != 0) {
        if (!PyErr_ExceptionMatches(PyExc_BufferError) &&
            !PyErr_ExceptionMatches(PyExc_TypeError) && !PyErr_ExceptionMatches(PyExc_ValueError))
            return -1;
        PyErr_Clear();
        return 0;
    }
    const bool doubles = view.ndim == 1 && view.itemsize == sizeof(double) &&
                         is_native_double_format(view.format) &&
                         PyBuffer_IsContiguous(&view, 'C') != 0;
    if (doubles) {
        const auto* first = static_cast<const double*>(view.buf);
        try {
            out->assign(first, first + view.len / Py_ssize_t(sizeof(double)));
        } catch (...) {
            PyBuffer_Release(&view);
            throw;
        }
    }
    PyBuffer_Release(&view);
    return doubles ? 1 : 0;
}

}  // namespace

bool convert(PyObject* obj, double* out) noexcept {
    if (PyFloat_Check(obj)) {
        *out = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return false;
    *out = v;
    return true;
}

bool convert(PyObject* obj, std::uint64_t* out) noexcept {
    // PyLong_AsUnsignedLongLong ignores __index__, so go through it explicitly.
    Ref index = Ref::steal(PyNumber_Index(obj));
    if (!index) return false;
    const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    *out = v;
    return true;
}

bool convert(PyObject* obj, std::int64_t* out) noexcept {
    Ref index = Ref::steal(PyNumber_Index(obj));
    if (!index) return false;
    const long long v = PyLong_AsLongLong(index.get());
    if (v == -1 && PyErr_Occurred()) return false;
    *out = v;
    return true;
}

bool convert(PyObject* obj, bool* out) noexcept {
    if (obj == Py_True || obj == Py_False) {
        *out = obj == Py_True;
        return true;
    }
    if (!is_numpy_bool(obj)) return fail_cannot_convert(obj, "PyBool");
    PyNumberMethods* number = Py_TYPE(obj)->tp_as_number;
    if (!number || !number->nb_bool) {
        PyErr_Format(PyExc_TypeError, "object of type '%s' does not define a '__bool__' conversion",
                     Py_TYPE(obj)->tp_name);
        return false;
    }
    const int truth = number->nb_bool(obj);
    if (truth < 0) return false;
    *out = truth != 0;
    return true;
}

bool convert(PyObject* obj, Pair2* out) noexcept {
    if (!PyTuple_Check(obj)) return fail_cannot_convert(obj, "PyTuple");
    if (PyTuple_GET_SIZE(obj) != 2) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length %d, but got tuple of length %zd",
                     2, PyTuple_GET_SIZE(obj));
        return false;
    }
    return convert(PyTuple_GET_ITEM(obj, 0), &(*out)[0]) &&
           convert(PyTuple_GET_ITEM(obj, 1), &(*out)[1]);
}

bool convert(PyObject* obj, std::vector<double>* out) {
    const int copied = copy_double_buffer(obj, out);
    return copied != 0 ? copied > 0 : convert_sequence(obj, out);
}
bool convert(PyObject* obj, std::vector<std::vector<double>>* out) {
    return convert_sequence(obj, out);
}
bool convert(PyObject* obj, std::vector<Pair2>* out) { return convert_sequence(obj, out); }

PyObject* expect_instance(PyObject* obj, PyTypeObject* type, const char* class_name) noexcept {
    if (!type) return nullptr;
    if (Py_IS_TYPE(obj, type)) return obj;
    fail_cannot_convert(obj, class_name);
    return nullptr;
}

bool fail_argument(const char* name) noexcept {
    // Only an exact TypeError is wrapped; OverflowError and the like pass unchanged.
    if (PyErr_Occurred() != PyExc_TypeError) return false;
    FetchedError original;
    Ref text = Ref::steal(PyObject_Str(original.value()));
    if (!text) return false;
    Ref cause = Ref::steal(PyException_GetCause(original.value()));
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, text.get());
    if (cause) {
        FetchedError wrapped;
        PyException_SetCause(wrapped.value(), cause.release());
        wrapped.restore();
    }
    return false;
}

namespace {

template <std::size_t N>
Ref new_float_tuple(const std::array<double, N>& values) {
    Ref tuple = Ref::steal(PyTuple_New(N));
    if (!tuple) return tuple;
    for (std::size_t k = 0; k < N; ++k) {
        PyObject* f = PyFloat_FromDouble(values[k]);
        if (!f) return Ref();
        PyTuple_SET_ITEM(tuple.get(), k, f);
    }
    return tuple;
}

template <class Item, class Make>
Ref new_list(std::span<const Item> values, Make make) {
    Ref list = Ref::steal(PyList_New(Py_ssize_t(values.size())));
    if (!list) return list;
    for (std::size_t i = 0; i < values.size(); ++i) {
        Ref item = make(values[i]);
        if (!item) return Ref();
        PyList_SET_ITEM(list.get(), Py_ssize_t(i), item.release());
    }
    return list;
}

}  // namespace

Ref new_float_list(std::span<const double> values) {
    return new_list(values, [](double v) { return Ref::steal(PyFloat_FromDouble(v)); });
}

Ref new_tuple_list(std::span<const Pair2> values) {
    return new_list(values, [](const Pair2& v) { return new_float_tuple(v); });
}

Ref new_tuple_list(std::span<const Triple> values) {
    return new_list(values, [](const Triple& v) { return new_float_tuple(v); });
}

Ref new_double_views(std::span<const double> values, std::size_t count) {
    Ref bytes = Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                                     Py_ssize_t(values.size() * sizeof(double))));
    Ref whole = bytes ? Ref::steal(PyMemoryView_FromObject(bytes.get())) : Ref();
    Ref list = whole ? Ref::steal(PyList_New(Py_ssize_t(count))) : Ref();
    if (!list) return list;
    const Py_ssize_t run = count == 0 ? 0 : Py_ssize_t(values.size() / count * sizeof(double));
    for (std::size_t i = 0; i < count; ++i) {
        Ref piece = Ref::steal(
            PySequence_GetSlice(whole.get(), Py_ssize_t(i) * run, Py_ssize_t(i + 1) * run));
        Ref view = piece ? Ref::steal(PyObject_CallMethod(piece.get(), "cast", "s", "d")) : Ref();
        if (!view) return Ref();
        PyList_SET_ITEM(list.get(), Py_ssize_t(i), view.release());
    }
    return list;
}

}  // namespace py
