// rotate_phase_n and schrodinger_step_n: whole lists of (real, imag) tuples in one call.
#include <Python.h>

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"
#include "python/vok_core/registry.hpp"
#include "values/pair/pair.hpp"

namespace {

constexpr const char* kRotateNames[] = {"pairs", "angles"};
constexpr const char* kStepNames[] = {"psi", "v", "dt", "hbar"};
constexpr py::Signature kRotateSig{"rotate_phase_n", nullptr, kRotateNames, 2};
constexpr py::Signature kStepSig{"schrodinger_step_n", nullptr, kStepNames, 4};

// Every argument is converted in full, surplus items included, before any computing.
// The results overwrite the converted pairs in place: no second buffer.
PyObject* module_rotate_phase_n(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    std::array<PyObject*, 2> slots{};
    if (!py::bind_fastcall(kRotateSig, args, nargs, kwnames, slots)) return nullptr;
    std::vector<py::Pair2> pairs;
    std::vector<double> angles;
    if (!py::convert_arg(slots[0], &pairs, "pairs") ||
        !py::convert_arg(slots[1], &angles, "angles"))
        return nullptr;
    const std::span out = std::span(pairs).first(std::min(pairs.size(), angles.size()));
    vok::rotate_phase_n(pairs, angles, out);
    return py::new_tuple_list(out).release();
}

PyObject* module_schrodinger_step_n(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    std::array<PyObject*, 4> slots{};
    if (!py::bind_fastcall(kStepSig, args, nargs, kwnames, slots)) return nullptr;
    std::vector<py::Pair2> psi;
    std::vector<double> v;
    double dt = 0.0, hbar = 0.0;
    if (!py::convert_arg(slots[0], &psi, "psi") || !py::convert_arg(slots[1], &v, "v") ||
        !py::convert_arg(slots[2], &dt, "dt") || !py::convert_arg(slots[3], &hbar, "hbar"))
        return nullptr;
    const std::span out = std::span(psi).first(std::min(psi.size(), v.size()));
    vok::schrodinger_step_n(psi, v, dt, hbar, out);
    return py::new_tuple_list(out).release();
}

}  // namespace

PyMethodDef rotate_phase_n_def = {
    "rotate_phase_n", py::fastcall_method<&module_rotate_phase_n>(), METH_FASTCALL | METH_KEYWORDS,
    "rotate_phase_n(pairs, angles)\n--\n\nBatch rotate_phase for a list of VOKPairs."};

PyMethodDef schrodinger_step_n_def = {
    "schrodinger_step_n", py::fastcall_method<&module_schrodinger_step_n>(),
    METH_FASTCALL | METH_KEYWORDS,
    "schrodinger_step_n(psi, v, dt, hbar)\n--\n\n"
    "Batch Schrödinger potential-phase step: ψ_n → e^{-iV_n·dt/ħ}·ψ_n for all n.\n"
    "Returns list of (real, imag) tuples."};
