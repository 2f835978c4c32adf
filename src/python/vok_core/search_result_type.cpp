// PySearchResult: read-only attributes, repr and the LaTeX / Python renderings.
#include "python/vok_core/search_result_type.hpp"

#include <string>

#include "core/number_text.hpp"
#include "core/render.hpp"
#include "python/convert.hpp"
#include "python/entry.hpp"
#include "python/type_util.hpp"
#include "python/vok_core/registry.hpp"

namespace {

using Record = ResultRecord;

const Record& record(PyObject* self) { return py::payload<Record>(self); }

PyObject* new_str(const std::string& text) {
    return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
}

PyObject* result_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyErr_Format(PyExc_TypeError, "No constructor defined for %s",
                 type->tp_name + sizeof("vok_core.") - 1);
    return nullptr;
}

PyObject* result_formula(PyObject* self, void*) { return new_str(record(self).formula); }
PyObject* result_error(PyObject* self, void*) { return PyFloat_FromDouble(record(self).error); }
PyObject* result_complexity(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(record(self).complexity);
}
PyObject* result_params(PyObject* self, void*) {
    return py::new_float_list(record(self).params).release();
}

PyObject* result_to_latex(PyObject* self, PyObject*) {
    return new_str(vok::to_latex(record(self).formula));
}
PyObject* result_to_python(PyObject* self, PyObject*) {
    return new_str(vok::to_python(record(self).formula));
}

PyObject* result_repr(PyObject* self) {
    const Record& r = record(self);
    std::string text = "SearchResult(formula='";
    text += r.formula;  // as stored, no escaping
    text += "', error=";
    text += vok::scientific2_text(r.error);
    text += ", complexity=";
    text += std::to_string(r.complexity);
    text += ')';
    return new_str(text);
}

PyGetSetDef result_getset[] = {
    {"formula", py::Entry<&result_formula>::call, nullptr, "", nullptr},
    {"error", py::Entry<&result_error>::call, nullptr, "", nullptr},
    {"complexity", py::Entry<&result_complexity>::call, nullptr, "", nullptr},
    {"params", py::Entry<&result_params>::call, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef result_methods[] = {
    {"to_latex", py::noargs_method<&result_to_latex>(), METH_NOARGS, "to_latex($self)\n--\n\n"},
    {"to_python", py::noargs_method<&result_to_python>(), METH_NOARGS, "to_python($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot result_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python-facing formula discovery result.")},
    {Py_tp_new, py::slot<&result_new>()},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::dealloc<Record>)},
    {Py_tp_repr, py::slot<&result_repr>()},
    {Py_tp_getset, result_getset},
    {Py_tp_methods, result_methods},
    {0, nullptr},
};

PyType_Spec result_spec = {"vok_core.PySearchResult", int(sizeof(py::Boxed<Record>)), 0,
                           py::kClassFlags, result_slots};

}  // namespace

PyTypeObject* search_result_type() noexcept {
    static PyTypeObject* type = nullptr;
    return py::cached_type(type, &result_spec);
}

py::Ref new_search_result(ResultRecord&& record) {
    return py::new_instance<Record>(search_result_type(), std::move(record));
}
