// VOKPoint: an immutable (x, y) exposing the pulse maths to Python.
#include "values/point/point_type.hpp"

#include <Python.h>

#include <array>

#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"
#include "python/type_util.hpp"
#include "python/vok_core/registry.hpp"

namespace {

using vok::Point;

const Point& value(PyObject* self) noexcept { return py::payload<Point>(self); }

constexpr const char* kNewNames[] = {"x", "y"};
constexpr py::Signature kNewSignature{"__new__", "VOKPoint", kNewNames, 2};

PyObject* point_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    std::array<PyObject*, 2> slots{};
    if (!py::bind_tuple(kNewSignature, args, kwargs, slots)) return nullptr;
    Point p{};
    if (!py::convert_arg(slots[0], &p.x, "x") || !py::convert_arg(slots[1], &p.y, "y"))
        return nullptr;
    return py::new_instance<Point>(type, p).release();
}

PyObject* point_repr(PyObject* self) {
    const std::string text = vok::repr(value(self));
    return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
}

PyObject* point_get_x(PyObject* self, void*) { return PyFloat_FromDouble(value(self).x); }
PyObject* point_get_y(PyObject* self, void*) { return PyFloat_FromDouble(value(self).y); }

PyObject* point_tension(PyObject* self, PyObject*) {
    return PyFloat_FromDouble(vok::tension(value(self)));
}
PyObject* point_mirror_pulse(PyObject* self, PyObject*) {
    return new_point(vok::mirror_pulse(value(self))).release();
}
PyObject* point_frame_shift(PyObject* self, PyObject*) {
    return new_point(vok::frame_shift(value(self))).release();
}
PyObject* point_is_slipping(PyObject* self, PyObject*) {
    return PyBool_FromLong(vok::is_slipping(value(self)));
}

constexpr const char* kConservesNames[] = {"next", "tol"};
constexpr py::Signature kConservesSignature{"conserves_tension", "VOKPoint", kConservesNames, 2};

PyObject* point_conserves_tension(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    std::array<PyObject*, 2> slots{};
    if (!py::bind_fastcall(kConservesSignature, args, nargs, kwnames, slots)) return nullptr;
    PyObject* next = py::expect_instance(slots[0], point_type(), "VOKPoint");
    if (!next) return py::fail_argument("next"), nullptr;
    double tol;
    if (!py::convert_arg(slots[1], &tol, "tol")) return nullptr;
    return PyBool_FromLong(vok::conserves_tension(value(self), value(next), tol));
}

PyMethodDef point_methods[] = {
    {"tension", py::noargs_method<&point_tension>(), METH_NOARGS, "tension($self)\n--\n\n"},
    {"vok", py::noargs_method<&point_tension>(), METH_NOARGS,
     "vok($self)\n--\n\nAlias for tension() \u2014 vok(x, y) = exp(x) - ln(y)."},
    {"mirror_pulse", py::noargs_method<&point_mirror_pulse>(), METH_NOARGS,
     "mirror_pulse($self)\n--\n\n"},
    {"pulse", py::noargs_method<&point_mirror_pulse>(), METH_NOARGS,
     "pulse($self)\n--\n\nAlias for mirror_pulse()."},
    {"frame_shift", py::noargs_method<&point_frame_shift>(), METH_NOARGS,
     "frame_shift($self)\n--\n\n"},
    {"is_slipping", py::noargs_method<&point_is_slipping>(), METH_NOARGS,
     "is_slipping($self)\n--\n\n"},
    {"conserves_tension", py::fastcall_method<&point_conserves_tension>(),
     METH_FASTCALL | METH_KEYWORDS, "conserves_tension($self, next, tol)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef point_getset[] = {
    {"x", &py::Entry<&point_get_x>::call, nullptr, "", nullptr},
    {"y", &py::Entry<&point_get_y>::call, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot point_slots[] = {
    {Py_tp_doc, const_cast<char*>("VOKPoint(x, y)\n--\n\n")},
    {Py_tp_new, py::slot<&point_new>()},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::dealloc<Point>)},
    {Py_tp_repr, py::slot<&point_repr>()},
    {Py_tp_methods, point_methods},
    {Py_tp_getset, point_getset},
    {0, nullptr},
};

PyType_Spec point_spec = {
    "vok_core.VOKPoint", int(sizeof(py::Boxed<Point>)), 0, py::kClassFlags, point_slots,
};

}  // namespace

PyTypeObject* point_type() noexcept {
    static PyTypeObject* type = nullptr;
    return py::cached_type(type, &point_spec);
}

py::Ref new_point(const vok::Point& p) { return py::new_instance<vok::Point>(point_type(), p); }
