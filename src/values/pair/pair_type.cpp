// VOKPair: the Python face of vok::Pair. Immutable; every operation returns a new pair.
#include <Python.h>

#include <array>
#include <string>

#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"
#include "python/type_util.hpp"
#include "python/vok_core/registry.hpp"
#include "values/pair/pair.hpp"

namespace {

using vok::Pair;

constexpr const char* kNewNames[] = {"real", "imag"};
constexpr const char* kPolarNames[] = {"r", "theta"};
constexpr const char* kAngleNames[] = {"angle"};
constexpr py::Signature kNewSig{"__new__", "VOKPair", kNewNames, 2};
constexpr py::Signature kFromValuesSig{"from_values", "VOKPair", kNewNames, 2};
constexpr py::Signature kFromPolarSig{"from_polar", "VOKPair", kPolarNames, 2};
constexpr py::Signature kRotateSig{"rotate_phase", "VOKPair", kAngleNames, 1};

Pair& value(PyObject* self) { return py::payload<Pair>(self); }

bool is_pair(PyObject* obj) { return Py_IS_TYPE(obj, pair_type()); }

PyObject* new_pair(Pair p) { return py::new_instance<Pair>(pair_type(), p).release(); }

// Converts the bound slots in parameter order; the first failure names its argument.
template <std::size_t N>
bool convert_doubles(const py::Signature& sig, const std::array<PyObject*, N>& slots,
                     std::array<double, N>& out) {
    for (std::size_t i = 0; i < N; ++i) {
        if (!py::convert_arg(slots[i], &out[i], sig.names[i])) return false;
    }
    return true;
}

bool fastcall_doubles(const py::Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, std::array<double, 2>& out) {
    std::array<PyObject*, 2> slots{};
    return py::bind_fastcall(sig, args, nargs, kwnames, slots) && convert_doubles(sig, slots, out);
}

PyObject* pair_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    std::array<PyObject*, 2> slots{};
    std::array<double, 2> v{};
    if (!py::bind_tuple(kNewSig, args, kwargs, slots) || !convert_doubles(kNewSig, slots, v))
        return nullptr;
    return py::new_instance<Pair>(type, Pair{v[0], v[1]}).release();
}

PyObject* pair_from_values(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<double, 2> v{};
    if (!fastcall_doubles(kFromValuesSig, args, nargs, kwnames, v)) return nullptr;
    return new_pair({v[0], v[1]});
}

PyObject* pair_from_polar(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<double, 2> v{};
    if (!fastcall_doubles(kFromPolarSig, args, nargs, kwnames, v)) return nullptr;
    return new_pair(vok::from_polar(v[0], v[1]));
}

PyObject* pair_unit_i(PyObject*, PyObject*) { return new_pair({0.0, 1.0}); }
PyObject* pair_one(PyObject*, PyObject*) { return new_pair({1.0, 0.0}); }
PyObject* pair_zero(PyObject*, PyObject*) { return new_pair({0.0, 0.0}); }

PyObject* pair_rotate_phase(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    std::array<PyObject*, 1> slots{};
    std::array<double, 1> angle{};
    if (!py::bind_fastcall(kRotateSig, args, nargs, kwnames, slots) ||
        !convert_doubles(kRotateSig, slots, angle))
        return nullptr;
    return new_pair(vok::rotate_phase(value(self), angle[0]));
}

PyObject* pair_conjugate(PyObject* self, PyObject*) {
    return new_pair(vok::conjugate(value(self)));
}

PyObject* pair_real(PyObject* self, void*) { return PyFloat_FromDouble(value(self).real); }
PyObject* pair_imag(PyObject* self, void*) { return PyFloat_FromDouble(value(self).imag); }
PyObject* pair_modulus(PyObject* self, void*) {
    return PyFloat_FromDouble(vok::modulus(value(self)));
}
PyObject* pair_argument(PyObject* self, void*) {
    return PyFloat_FromDouble(vok::argument(value(self)));
}

PyObject* pair_abs(PyObject* self) { return PyFloat_FromDouble(vok::modulus(value(self))); }

// Arithmetic is between pairs only; declining lets Python raise its usual TypeError.
template <Pair (*Op)(Pair, Pair) noexcept>
PyObject* pair_binary(PyObject* x, PyObject* y) {
    if (!is_pair(x) || !is_pair(y)) Py_RETURN_NOTIMPLEMENTED;
    return new_pair(Op(value(x), value(y)));
}

PyObject* pair_richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_NE) {
        // Through the interpreter, so a non-pair's own __eq__ and the identity fallback count.
        py::Ref eq = py::Ref::steal(PyObject_RichCompare(self, other, Py_EQ));
        if (!eq) return nullptr;
        const int truth = PyObject_IsTrue(eq.get());
        if (truth < 0) return nullptr;
        return PyBool_FromLong(!truth);
    }
    if (op != Py_EQ || !is_pair(other)) Py_RETURN_NOTIMPLEMENTED;
    return PyBool_FromLong(vok::approx_equal(value(self), value(other)));
}

PyObject* pair_repr(PyObject* self) {
    const std::string text = vok::repr_text(value(self));
    return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
}

constexpr int kStaticFastcall = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;
constexpr int kStaticNoargs = METH_NOARGS | METH_STATIC;

PyMethodDef pair_methods[] = {
    {"from_values", py::fastcall_method<&pair_from_values>(), kStaticFastcall,
     "from_values(real, imag)\n--\n\n"},
    {"from_polar", py::fastcall_method<&pair_from_polar>(), kStaticFastcall,
     "from_polar(r, theta)\n--\n\n"},
    {"unit_i", py::noargs_method<&pair_unit_i>(), kStaticNoargs, "unit_i()\n--\n\n"},
    {"one", py::noargs_method<&pair_one>(), kStaticNoargs, "one()\n--\n\n"},
    {"zero", py::noargs_method<&pair_zero>(), kStaticNoargs, "zero()\n--\n\n"},
    {"rotate_phase", py::fastcall_method<&pair_rotate_phase>(), METH_FASTCALL | METH_KEYWORDS,
     "rotate_phase($self, angle)\n--\n\n"},
    {"conjugate", py::noargs_method<&pair_conjugate>(), METH_NOARGS, "conjugate($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// The tension attributes are the stored parts themselves.
PyGetSetDef pair_getset[] = {
    {"real", py::Entry<&pair_real>::call, nullptr, "", nullptr},
    {"imag", py::Entry<&pair_imag>::call, nullptr, "", nullptr},
    {"real_tension", py::Entry<&pair_real>::call, nullptr, "", nullptr},
    {"imag_tension", py::Entry<&pair_imag>::call, nullptr, "", nullptr},
    {"modulus", py::Entry<&pair_modulus>::call, nullptr, "", nullptr},
    {"argument", py::Entry<&pair_argument>::call, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot pair_slots[] = {
    {Py_tp_doc, const_cast<char*>("VOKPair(real, imag)\n--\n\n")},
    {Py_tp_new, py::slot<&pair_new>()},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::dealloc<Pair>)},
    {Py_tp_repr, py::slot<&pair_repr>()},
    {Py_tp_richcompare, py::slot<&pair_richcompare>()},
    // Equality is a tolerance test, so no hash can agree with it.
    {Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)},
    {Py_tp_methods, pair_methods},
    {Py_tp_getset, pair_getset},
    {Py_nb_add, py::slot<&pair_binary<&vok::add>>()},
    {Py_nb_subtract, py::slot<&pair_binary<&vok::sub>>()},
    {Py_nb_multiply, py::slot<&pair_binary<&vok::mul>>()},
    {Py_nb_true_divide, py::slot<&pair_binary<&vok::div>>()},
    {Py_nb_absolute, py::slot<&pair_abs>()},
    {0, nullptr},
};

PyType_Spec pair_spec = {"vok_core.VOKPair", int(sizeof(py::Boxed<Pair>)), 0, py::kClassFlags,
                         pair_slots};

}  // namespace

PyTypeObject* pair_type() noexcept {
    static PyTypeObject* type = nullptr;
    return py::cached_type(type, &pair_spec);
}
