// The module vok_math._engine: the enumeration engine's Python entry.
#include <Python.h>

#include "enumeration/enumerate.hpp"
#include "python/entry.hpp"
#include "python/errors.hpp"
#include "python/ref.hpp"

extern PyMethodDef enumerate_def;
extern PyMethodDef enumerate_slice_def;
extern PyMethodDef evaluate_def;
extern PyMethodDef fit_def;

namespace {

PyMethodDef engine_methods[5];

PyModuleDef engine_module = {
    PyModuleDef_HEAD_INIT,
    "_engine",
    "Complete enumeration of expressions by size: the native entry of vok_math.discover.",
    0,
    engine_methods,
    nullptr, nullptr, nullptr, nullptr,
};

PyObject* init_module() {
    engine_methods[0] = enumerate_def;
    engine_methods[1] = enumerate_slice_def;
    engine_methods[2] = evaluate_def;
    engine_methods[3] = fit_def;
    engine_methods[4] = PyMethodDef{nullptr, nullptr, 0, nullptr};
    py::Ref module = py::Ref::steal(PyModule_Create(&engine_module));
    if (!module) return nullptr;
    if (py::panic_exception() == nullptr ||
        PyModule_AddObjectRef(module.get(), "PanicException", py::panic_exception()) < 0)
        return nullptr;
    if (PyModule_AddIntConstant(module.get(), "SEGMENT_SLOTS", vok::enumeration::kSegmentSlots) < 0) return nullptr;
    return module.release();
}

}  // namespace

PyMODINIT_FUNC PyInit__engine() {
    return py::Entry<&init_module>::call();
}
