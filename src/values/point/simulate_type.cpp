// simulate_pulses_n: the pulse trajectory computed natively, converted once.
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"
#include "python/vok_core/registry.hpp"
#include "values/point/point.hpp"

namespace {

// What each record costs as Python objects (a list slot, a 3-tuple and three
// floats, in pymalloc's size classes), held alongside the native trajectory.
constexpr std::size_t kPythonBytesPerRecord = 8 + 64 + 3 * 32;

constexpr const char* kNames[] = {"x0", "y0", "n_pulses"};
constexpr py::Signature kSignature{"simulate_pulses_n", nullptr, kNames, 3};

PyObject* simulate_pulses_n(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, 3> slots{};
    if (!py::bind_fastcall(kSignature, args, nargs, kwnames, slots)) return nullptr;
    double x0, y0;
    std::uint64_t n_pulses;
    if (!py::convert_arg(slots[0], &x0, "x0") || !py::convert_arg(slots[1], &y0, "y0") ||
        !py::convert_arg(slots[2], &n_pulses, "n_pulses"))
        return nullptr;
    // Refuse before computing a trajectory whose list could never be built.
    (void)vok::pulse_record_count(n_pulses, sizeof(vok::PulseRecord) + kPythonBytesPerRecord);
    const auto trajectory = vok::simulate_pulses(x0, y0, n_pulses);
    return py::new_tuple_list(trajectory).release();
}

}  // namespace

PyMethodDef simulate_pulses_n_def = {
    "simulate_pulses_n",
    py::fastcall_method<&simulate_pulses_n>(),
    METH_FASTCALL | METH_KEYWORDS,
    "simulate_pulses_n(x0, y0, n_pulses)\n--\n\n"
    "Simulate n_pulses of mirror_pulse, returning (x, y, tension) per step.",
};
