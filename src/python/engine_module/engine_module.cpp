// The module vok_math._engine: the enumeration engine's Python entry.
#include <Python.h>

#include <array>

#include "enumeration/enumerate.hpp"
#include "python/engine_module/engine_convert.hpp"
#include "python/engine_module/settings_table.hpp"
#include "python/entry.hpp"
#include "python/errors.hpp"
#include "python/ref.hpp"

extern PyMethodDef enumerate_def;
extern PyMethodDef enumerate_slice_def;
extern PyMethodDef evaluate_def;
extern PyMethodDef evaluate_many_def;
extern PyMethodDef fit_def;
extern PyMethodDef settle_def;
extern PyMethodDef refit_def;
extern PyMethodDef merge_slices_def;
extern PyMethodDef subset_rows_def;
extern PyMethodDef search_terms_def;
extern PyMethodDef fit_terms_def;
bool describe_enumerate_entries(PyObject* defaults);

namespace {

std::array<PyMethodDef, 12> engine_methods{};

PyModuleDef engine_module = {
    PyModuleDef_HEAD_INIT,
    "_engine",
    "Complete enumeration of expressions by size: the native entry of vok_math.discover.",
    0,
    engine_methods.data(),
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

bool add_tables(PyObject* module, py::Ref defaults) {
    py::Ref operators = engine::operator_records();
    return operators && PyModule_AddObjectRef(module, "OPERATORS", operators.get()) == 0 &&
           PyModule_AddObjectRef(module, "DEFAULTS", defaults.get()) == 0 &&
           PyModule_AddIntConstant(module, "SEGMENT_SLOTS", vok::enumeration::kSegmentSlots) == 0;
}

PyObject* init_module() {
    py::Ref defaults = engine::settings_defaults();
    if (!defaults || !describe_enumerate_entries(defaults.get())) return nullptr;
    engine_methods = {
        enumerate_def,    enumerate_slice_def, evaluate_def,
        fit_def,          evaluate_many_def,   settle_def,
        refit_def,        merge_slices_def,    subset_rows_def,
        search_terms_def, fit_terms_def,       PyMethodDef{nullptr, nullptr, 0, nullptr}};
    py::Ref module = py::Ref::steal(PyModule_Create(&engine_module));
    if (!module) return nullptr;
    if (py::panic_exception() == nullptr ||
        PyModule_AddObjectRef(module.get(), "PanicException", py::panic_exception()) < 0)
        return nullptr;
    if (!add_tables(module.get(), std::move(defaults))) return nullptr;
    return module.release();
}

}  // namespace

PyMODINIT_FUNC PyInit__engine() { return py::Entry<&init_module>::call(); }
