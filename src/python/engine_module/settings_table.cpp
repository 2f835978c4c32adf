// Each setting read and shown by the kind of its field.
#include "python/engine_module/settings_table.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <variant>

#include "core/op_table.hpp"
#include "python/convert.hpp"
#include "python/engine_module/engine_convert.hpp"

namespace engine {
namespace {

using vok::enumeration::EnumerationSettings;
using vok::enumeration::SettingField;
using vok::enumeration::SettingMember;

template <class... F>
struct Overload : F... {
    using F::operator()...;
};

template <class Count>
bool read_count(PyObject* obj, const SettingField& field, Count& out) {
    std::uint64_t wide = 0;
    if (!py::convert_arg(obj, &wide, field.name)) return false;
    if (field.at_most != 0 && wide > field.at_most) {
        PyErr_Format(PyExc_ValueError, "%s must be at most %llu", field.name,
                     static_cast<unsigned long long>(field.at_most));
        return false;
    }
    out = static_cast<Count>(std::min<std::uint64_t>(wide, std::numeric_limits<Count>::max()));
    return true;
}

bool read_progress(PyObject* obj, PyObject** progress) {
    if (obj == Py_None) return true;
    if (!PyCallable_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "progress must be callable or None");
        return false;
    }
    *progress = obj;
    return true;
}

bool read_setting(PyObject* obj, const SettingField& field, EnumerationSettings& out,
                  PyObject** progress) {
    return std::visit(
        Overload{
            [&](std::monostate) { return read_progress(obj, progress); },
            [&](SettingMember<std::uint32_t> m) { return read_count(obj, field, out.*m); },
            [&](SettingMember<std::uint64_t> m) { return read_count(obj, field, out.*m); },
            [&](SettingMember<std::vector<vok::OpCode>> m) {
                return convert_ops(obj, &(out.*m), field.arity, field.name);
            },
            [&](SettingMember<std::vector<double>> m) {
                if (field.none_reads_empty && obj == Py_None) {
                    (out.*m).clear();
                    return true;
                }
                return py::convert_arg(obj, &(out.*m), field.name);
            },
            [&](auto m) { return py::convert_arg(obj, &(out.*m), field.name); },
        },
        field.place);
}

template <class Item, class Make>
py::Ref tuple_of(const std::vector<Item>& items, Make make) {
    py::Ref tuple = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    if (!tuple) return tuple;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = make(items[i]);
        if (item == nullptr) return py::Ref();
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
    }
    return tuple;
}

py::Ref default_of(const SettingField& field, const EnumerationSettings& d) {
    return std::visit(
        Overload{
            [](std::monostate) { return py::Ref::borrow(Py_None); },
            [&](SettingMember<std::uint32_t> m) {
                return py::Ref::steal(PyLong_FromUnsignedLong(d.*m));
            },
            [&](SettingMember<std::uint64_t> m) {
                return py::Ref::steal(PyLong_FromUnsignedLongLong(d.*m));
            },
            [&](SettingMember<double> m) { return py::Ref::steal(PyFloat_FromDouble(d.*m)); },
            [&](SettingMember<bool> m) { return py::Ref::borrow(d.*m ? Py_True : Py_False); },
            [&](SettingMember<std::vector<vok::OpCode>> m) {
                return tuple_of(d.*m, [](vok::OpCode op) {
                    return PyUnicode_FromString(vok::op_info(op).name);
                });
            },
            [&](SettingMember<std::vector<double>> m) {
                return tuple_of(d.*m, PyFloat_FromDouble);
            },
        },
        field.place);
}

}  // namespace

bool read_settings(std::span<PyObject* const> slots, EnumerationSettings& out,
                   PyObject** progress) {
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        if (slots[i] && !read_setting(slots[i], vok::enumeration::kSettingFields[i], out, progress))
            return false;
    }
    return true;
}

py::Ref settings_defaults() {
    const EnumerationSettings defaults{};
    py::Ref dict = py::Ref::steal(PyDict_New());
    if (!dict) return dict;
    for (const SettingField& field : vok::enumeration::kSettingFields) {
        py::Ref value = default_of(field, defaults);
        if (!value || PyDict_SetItemString(dict.get(), field.name, value.get()) < 0)
            return py::Ref();
    }
    return dict;
}

std::optional<std::string> settings_signature(PyObject* defaults) {
    std::string text;
    for (const SettingField& field : vok::enumeration::kSettingFields) {
        PyObject* value = PyDict_GetItemString(defaults, field.name);  // borrowed
        py::Ref repr = py::Ref::steal(value ? PyObject_Repr(value) : nullptr);
        const char* chars = repr ? PyUnicode_AsUTF8(repr.get()) : nullptr;
        if (chars == nullptr) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_KeyError, "%s", field.name);
            return std::nullopt;
        }
        if (!text.empty()) text += ", ";
        text += field.name;
        text += '=';
        text += chars;
    }
    return text;
}

std::string settings_doc() {
    std::string text;
    for (const SettingField& field : vok::enumeration::kSettingFields) {
        text += "  ";
        text += field.name;
        text += ": ";
        text += field.doc;
        text += '\n';
    }
    return text;
}

}  // namespace engine
