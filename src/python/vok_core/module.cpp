// Module initialisation and registration of the classes and functions.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>

#include "beam/search.hpp"
#include "python/entry.hpp"
#include "python/ref.hpp"
#include "python/vok_core/registry.hpp"

namespace {

PyModuleDef vok_core_module = {
    PyModuleDef_HEAD_INIT,
    "vok_core",  // m_name
    "",          // m_doc: empty, not absent
    0,           // m_size: no per-module state
    nullptr,     // m_methods: functions are added by registration
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

std::atomic<std::int64_t> interpreter_id{-1};
PyObject* module_cell = nullptr;  // strong reference for the life of the process

struct Item {
    const char* name;
    PyTypeObject* (*type)() noexcept;  // a class, or
    PyMethodDef* function;             // a function
};

// Registration order is part of the interface: __all__ follows it.
const Item kItems[] = {
    {"VOKPoint", &point_type, nullptr},
    {"VOKPair", &pair_type, nullptr},
    {"VOKKnot", &knot_type, nullptr},
    {"schrodinger_step_n", nullptr, &schrodinger_step_n_def},
    {"rotate_phase_n", nullptr, &rotate_phase_n_def},
    {"simulate_pulses_n", nullptr, &simulate_pulses_n_def},
    {"PySearchResult", &search_result_type, nullptr},
    {"find_formula", nullptr, &find_formula_def},
};

bool append_to_all(PyObject* module, const char* name) {
    py::Ref all = py::Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = py::Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    py::Ref text = py::Ref::steal(PyUnicode_FromString(name));
    if (!text) return false;
    if (!PyList_Check(all.get()) || PyList_Append(all.get(), text.get()) < 0) {
        PyErr_Clear();
        throw std::runtime_error("could not append __name__ to __all__");
    }
    return true;
}

bool add_item(PyObject* module, const Item& item) {
    py::Ref object;
    if (item.type) {
        object = py::Ref::borrow(reinterpret_cast<PyObject*>(item.type()));
    } else {
        py::Ref module_name = py::Ref::steal(PyModule_GetNameObject(module));
        if (!module_name) return false;
        object = py::Ref::steal(PyCFunction_NewEx(item.function, module, module_name.get()));
    }
    if (!object) return false;
    if (!append_to_all(module, item.name)) return false;
    return PyModule_AddObjectRef(module, item.name, object.get()) == 0;
}

PyObject* init_module() {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        return nullptr;
    }
    std::int64_t expected = -1;
    if (!interpreter_id.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "vok_core does not support sub-interpreters: it was already "
                        "initialised in another interpreter of this process");
        return nullptr;
    }
    if (module_cell) return Py_NewRef(module_cell);

    py::Ref module = py::Ref::steal(PyModule_Create2(&vok_core_module, 1013));
    if (!module) return nullptr;
    for (const Item& item : kItems) {
        if (!add_item(module.get(), item)) return nullptr;
    }
    module_cell = Py_NewRef(module.get());
    // The workers start with the module, not with the first search.
    vok::beam::start_workers();
    return module.release();
}

}  // namespace

PyMODINIT_FUNC PyInit_vok_core() { return py::Entry<&init_module>::call(); }
