// enumerate and enumerate_slice: the samples and settings in, the front out,
// with the interpreter lock released while the workers run.
#include <Python.h>

#include <array>
#include <limits>
#include <stdexcept>

#include "enumeration/enumerate.hpp"
#include "python/engine_module/engine_convert.hpp"
#include "python/engine_module/python_control.hpp"
#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"

namespace {

// The settings both entries take, after their own leading parameters.
constexpr std::array<const char*, 15> kSettingNames{
    "max_size", "unary", "binary", "constants", "scaling", "front_size", "beam_width",
    "max_evaluations", "time_limit", "memory_limit", "target_rmse", "n_threads", "progress",
    "dedup_drop_bits", "max_rows"};

template <std::size_t N>
constexpr auto with_settings(std::array<const char*, N> leading) {
    std::array<const char*, N + kSettingNames.size()> names{};
    for (std::size_t i = 0; i < N; ++i) names[i] = leading[i];
    for (std::size_t i = 0; i < kSettingNames.size(); ++i) names[N + i] = kSettingNames[i];
    return names;
}

constexpr auto kEnumerateParams = with_settings<3>({"columns", "y", "split"});
constexpr auto kSliceParams = with_settings<5>({"columns", "y", "state", "begin", "end"});

constexpr py::Signature kEnumerateSignature{"enumerate", nullptr, kEnumerateParams, 2};
constexpr py::Signature kSliceSignature{"enumerate_slice", nullptr, kSliceParams, 5};

std::uint32_t clamp32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, std::numeric_limits<std::uint32_t>::max()));
}

// Reads the settings slots (nullptr: the default). False with an error set.
bool read_settings(std::span<PyObject* const> s, vok::enumeration::EnumerationSettings& out, PyObject** progress) {
    std::uint64_t wide = 0;
    if (s[0]) {
        if (!py::convert_arg(s[0], &wide, "max_size")) return false;
        out.max_size = clamp32(wide);
    }
    if (s[1] && !engine::convert_ops(s[1], &out.unary, 1, "unary")) return false;
    if (s[2] && !engine::convert_ops(s[2], &out.binary, 2, "binary")) return false;
    if (s[3] && !py::convert_arg(s[3], &out.constants, "constants")) return false;
    if (s[4] && !py::convert_arg(s[4], &out.scaling, "scaling")) return false;
    if (s[5]) {
        if (!py::convert_arg(s[5], &wide, "front_size")) return false;
        out.front_size = clamp32(wide);
    }
    if (s[6] && !py::convert_arg(s[6], &out.beam_width, "beam_width")) return false;
    if (s[7] && !py::convert_arg(s[7], &out.max_evaluations, "max_evaluations")) return false;
    if (s[8] && !py::convert_arg(s[8], &out.time_limit, "time_limit")) return false;
    if (s[9]) {
        if (!py::convert_arg(s[9], &wide, "memory_limit")) return false;
        out.memory_limit = wide;
    }
    if (s[10] && !py::convert_arg(s[10], &out.target_rmse, "target_rmse")) return false;
    if (s[11]) {
        if (!py::convert_arg(s[11], &wide, "n_threads")) return false;
        if (wide > 1024) {
            PyErr_SetString(PyExc_ValueError, "n_threads must be at most 1024");
            return false;
        }
        out.n_threads = wide;
    }
    if (s[12] && s[12] != Py_None) {
        if (!PyCallable_Check(s[12])) {
            PyErr_SetString(PyExc_TypeError, "progress must be callable or None");
            return false;
        }
        *progress = s[12];
    }
    if (s[13]) {
        if (!py::convert_arg(s[13], &wide, "dedup_drop_bits")) return false;
        out.dedup_drop_bits = clamp32(wide);
    }
    if (s[14] && !py::convert_arg(s[14], &out.max_rows, "max_rows")) return false;
    return true;
}

// Runs one engine call without the lock; its refusals become ValueError.
// False with the error set.
template <class F>
bool run_engine(PyObject* progress, F&& work) {
    engine::PythonControl python(progress);
    vok::enumeration::EnumerationControl control = python.control();
    try {
        python.run([&] { work(control); });
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
        return false;
    }
    return !python.restore_error();
}

bool read_samples(PyObject* columns_obj, PyObject* y_obj, std::vector<vok::Column>& columns,
                  std::vector<double>& y) {
    return py::convert_arg(columns_obj, &columns, "columns") && py::convert_arg(y_obj, &y, "y");
}

py::Ref split_dict(const vok::enumeration::SplitPlan& plan) {
    py::Ref state = py::Ref::steal(PyBytes_FromStringAndSize(
        reinterpret_cast<const char*>(plan.state.data()), static_cast<Py_ssize_t>(plan.state.size())));
    if (!state) return state;
    return py::Ref::steal(Py_BuildValue("{s:O,s:I,s:K,s:K}", "state", state.get(), "size", plan.size,
                                        "slots", static_cast<unsigned long long>(plan.slots),
                                        "segment", static_cast<unsigned long long>(plan.segment)));
}

PyObject* enumerate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kEnumerateParams.size()> slot{};
    if (!py::bind_fastcall(kEnumerateSignature, args, nargs, kwnames, slot)) return nullptr;
    std::vector<vok::Column> columns;
    std::vector<double> y;
    bool split = false;
    vok::enumeration::EnumerationSettings settings;
    PyObject* progress = nullptr;
    if (!read_samples(slot[0], slot[1], columns, y)) return nullptr;
    if (slot[2] && !py::convert_arg(slot[2], &split, "split")) return nullptr;
    if (!read_settings(std::span(slot).subspan(3), settings, &progress)) return nullptr;

    // Results become Python objects once the lock is back.
    vok::enumeration::EnumerationResult result;
    vok::enumeration::SplitPlan plan;
    const bool ran = run_engine(progress, [&](vok::enumeration::EnumerationControl& control) {
        result = split ? vok::enumeration::enumerate_below_largest(columns, y, settings, plan, &control)
                       : vok::enumeration::enumerate_formulas(columns, y, settings, &control);
    });
    if (!ran) return nullptr;
    py::Ref d = engine::result_dict(result);
    if (!d || !split) return d.release();
    py::Ref info = split_dict(plan);
    if (!info || PyDict_SetItemString(d.get(), "split", info.get()) < 0) return nullptr;
    return d.release();
}

PyObject* enumerate_slice(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kSliceParams.size()> slot{};
    if (!py::bind_fastcall(kSliceSignature, args, nargs, kwnames, slot)) return nullptr;
    std::vector<vok::Column> columns;
    std::vector<double> y;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    vok::enumeration::EnumerationSettings settings;
    PyObject* progress = nullptr;
    if (!read_samples(slot[0], slot[1], columns, y)) return nullptr;
    if (!PyBytes_Check(slot[2])) {
        PyErr_SetString(PyExc_TypeError, "state must be bytes");
        return nullptr;
    }
    if (!py::convert_arg(slot[3], &begin, "begin") || !py::convert_arg(slot[4], &end, "end")) return nullptr;
    if (!read_settings(std::span(slot).subspan(5), settings, &progress)) return nullptr;
    // A copy: the bytes object is not read without the lock.
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(slot[2]));
    const std::vector<std::uint8_t> state(data, data + PyBytes_GET_SIZE(slot[2]));

    vok::enumeration::EnumerationResult result;
    const bool ran = run_engine(progress, [&](vok::enumeration::EnumerationControl& control) {
        result = vok::enumeration::enumerate_slice(columns, y, settings, state, begin, end, &control);
    });
    return ran ? engine::result_dict(result).release() : nullptr;
}

}  // namespace

PyMethodDef enumerate_def = {
    "enumerate", py::fastcall_method<&enumerate>(), METH_FASTCALL | METH_KEYWORDS,
    "enumerate(columns, y, split=False, max_size=8, unary=('neg', 'inv', 'exp', 'ln', 'sqrt', 'sin', 'cos'), "
    "binary=('add', 'sub', 'mul', 'div', 'vok'), constants=(0.0, 1.0), "
    "scaling=True, front_size=1, beam_width=500, max_evaluations=0, time_limit=0.0, "
    "memory_limit=0, target_rmse=-1.0, n_threads=0, progress=None, dedup_drop_bits=16, max_rows=0)\n--\n\n"
    "Enumerate every distinct expression by size and return the best of each size.\n\n"
    "columns holds one sequence per variable, y the targets. Returns a dict with the front,\n"
    "a report per size, why the search stopped, the candidates scored and the time taken.\n"
    "With split=True the largest size is left out and the dict's 'split' entry says how\n"
    "to run it in slices (enumerate_slice)."};

PyMethodDef enumerate_slice_def = {
    "enumerate_slice", py::fastcall_method<&enumerate_slice>(), METH_FASTCALL | METH_KEYWORDS,
    "enumerate_slice(columns, y, state, begin, end, max_size=8, unary=('neg', 'inv', 'exp', 'ln', 'sqrt', 'sin', 'cos'), "
    "binary=('add', 'sub', 'mul', 'div', 'vok'), "
    "constants=(0.0, 1.0), scaling=True, front_size=1, beam_width=500, max_evaluations=0, "
    "time_limit=0.0, memory_limit=0, target_rmse=-1.0, n_threads=0, progress=None, "
    "dedup_drop_bits=16, max_rows=0)\n--\n\n"
    "Enumerate slots [begin, end) of the largest size from the state of a split run made\n"
    "with the same data and settings. The largest size's front is the best front_size of\n"
    "all slices' fronts ordered by (sse, order)."};
