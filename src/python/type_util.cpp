// Shared pieces of the module's heap types.
#include "python/type_util.hpp"

namespace py {

PyTypeObject* create_type(PyType_Spec* spec) noexcept {
    PyObject* type = PyType_FromSpec(spec);
    // CPython 3.11 can fail an allocation in here without setting an error;
    // a NULL return must carry one.
    if (!type && !PyErr_Occurred()) PyErr_NoMemory();
    return reinterpret_cast<PyTypeObject*>(type);
}

PyTypeObject* cached_type(PyTypeObject*& cell, PyType_Spec* spec) noexcept {
    if (!cell) cell = create_type(spec);
    return cell;
}

}  // namespace py
