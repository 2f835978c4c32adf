// VOKKnot: an immutable point with pulse counter and phase, exposed to Python.
#include <Python.h>

#include <array>
#include <cstdint>

#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"
#include "python/type_util.hpp"
#include "python/vok_core/registry.hpp"
#include "values/knot/knot.hpp"
#include "values/point/point_type.hpp"

namespace {

using vok::Knot;

const Knot& value(PyObject* self) noexcept { return py::payload<Knot>(self); }

PyObject* new_knot(PyObject* self, const Knot& k) {
    return py::new_instance<Knot>(Py_TYPE(self), k).release();
}

constexpr const char* kNewNames[] = {"point", "n", "theta"};
constexpr py::Signature kNewSignature{"__new__", "VOKKnot", kNewNames, 1};

PyObject* knot_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    std::array<PyObject*, 3> slots{};
    if (!py::bind_tuple(kNewSignature, args, kwargs, slots)) return nullptr;
    PyObject* point = py::expect_instance(slots[0], point_type(), "VOKPoint");
    if (!point) return py::fail_argument("point"), nullptr;
    std::int64_t n = 0;
    double theta = 0.0;
    if (slots[1] && !py::convert_arg(slots[1], &n, "n")) return nullptr;
    if (slots[2] && !py::convert_arg(slots[2], &theta, "theta")) return nullptr;
    const Knot k = vok::make_knot(py::payload<vok::Point>(point), n, theta);
    return py::new_instance<Knot>(type, k).release();
}

PyObject* knot_repr(PyObject* self) {
    const std::string text = vok::repr(value(self));
    return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
}

PyObject* knot_get_point(PyObject* self, void*) { return new_point(value(self).point).release(); }
PyObject* knot_get_flip_count(PyObject* self, void*) {
    return PyLong_FromLongLong(value(self).flip_count);
}
PyObject* knot_get_phase(PyObject* self, void*) { return PyFloat_FromDouble(value(self).phase); }
PyObject* knot_get_rho(PyObject* self, void*) { return PyFloat_FromDouble(vok::rho(value(self))); }

PyObject* knot_mirror_pulse(PyObject* self, PyObject*) {
    return new_knot(self, vok::mirror_pulse(value(self)));
}
PyObject* knot_three_one_flip(PyObject* self, PyObject*) {
    return new_knot(self, vok::three_one_flip(value(self)));
}
PyObject* knot_tread_yield(PyObject* self, PyObject*) {
    return PyLong_FromLongLong(vok::tread_yield(value(self)));
}

PyMethodDef knot_methods[] = {
    {"mirror_pulse", py::noargs_method<&knot_mirror_pulse>(), METH_NOARGS,
     "mirror_pulse($self)\n--\n\n"},
    {"pulse", py::noargs_method<&knot_mirror_pulse>(), METH_NOARGS,
     "pulse($self)\n--\n\nAlias for mirror_pulse()."},
    {"three_one_flip", py::noargs_method<&knot_three_one_flip>(), METH_NOARGS,
     "three_one_flip($self)\n--\n\n"},
    {"flip", py::noargs_method<&knot_three_one_flip>(), METH_NOARGS,
     "flip($self)\n--\n\nAlias for three_one_flip()."},
    {"tread_yield", py::noargs_method<&knot_tread_yield>(), METH_NOARGS,
     "tread_yield($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef knot_getset[] = {
    {"point", &py::Entry<&knot_get_point>::call, nullptr, "", nullptr},
    {"flip_count", &py::Entry<&knot_get_flip_count>::call, nullptr, "", nullptr},
    {"phase", &py::Entry<&knot_get_phase>::call, nullptr, "", nullptr},
    {"rho", &py::Entry<&knot_get_rho>::call, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot knot_slots[] = {
    {Py_tp_doc, const_cast<char*>("VOKKnot(point, n=0, theta=0.0)\n--\n\n")},
    {Py_tp_new, py::slot<&knot_new>()},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::dealloc<Knot>)},
    {Py_tp_repr, py::slot<&knot_repr>()},
    {Py_tp_methods, knot_methods},
    {Py_tp_getset, knot_getset},
    {0, nullptr},
};

PyType_Spec knot_spec = {
    "vok_core.VOKKnot", int(sizeof(py::Boxed<Knot>)), 0, py::kClassFlags, knot_slots,
};

}  // namespace

PyTypeObject* knot_type() noexcept {
    static PyTypeObject* type = nullptr;
    return py::cached_type(type, &knot_spec);
}
