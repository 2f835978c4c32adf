// enumerate and enumerate_slice: the samples and settings in, the front out,
// with the interpreter lock released while the workers run.
#include <Python.h>

#include <array>
#include <stdexcept>
#include <string>

#include "enumeration/enumerate.hpp"
#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/engine_module/engine_convert.hpp"
#include "python/engine_module/python_control.hpp"
#include "python/engine_module/settings_table.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"

namespace {

// The settings both entries take, after their own leading parameters.
using engine::kSettingNames;

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
    py::Ref state =
        py::Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(plan.state.data()),
                                                 static_cast<Py_ssize_t>(plan.state.size())));
    if (!state) return state;
    return py::Ref::steal(Py_BuildValue("{s:O,s:I,s:K,s:K}", "state", state.get(), "size",
                                        plan.size, "slots",
                                        static_cast<unsigned long long>(plan.slots), "segment",
                                        static_cast<unsigned long long>(plan.segment)));
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
    if (!engine::read_settings(std::span(slot).subspan(3), settings, &progress)) return nullptr;

    // Results become Python objects once the lock is back.
    vok::enumeration::EnumerationResult result;
    vok::enumeration::SplitPlan plan;
    const bool ran = run_engine(progress, [&](vok::enumeration::EnumerationControl& control) {
        result =
            split ? vok::enumeration::enumerate_below_largest(columns, y, settings, plan, &control)
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
    if (!py::convert_arg(slot[3], &begin, "begin") || !py::convert_arg(slot[4], &end, "end"))
        return nullptr;
    if (!engine::read_settings(std::span(slot).subspan(5), settings, &progress)) return nullptr;
    // A copy: the bytes object is not read without the lock.
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(slot[2]));
    const std::vector<std::uint8_t> state(data, data + PyBytes_GET_SIZE(slot[2]));

    vok::enumeration::EnumerationResult result;
    const bool ran = run_engine(progress, [&](vok::enumeration::EnumerationControl& control) {
        result =
            vok::enumeration::enumerate_slice(columns, y, settings, state, begin, end, &control);
    });
    return ran ? engine::result_dict(result).release() : nullptr;
}

constexpr std::array<const char*, 2> kSubsetParams{"rows", "max_rows"};
constexpr py::Signature kSubsetSignature{"subset_rows", nullptr, kSubsetParams, 2};

PyObject* subset_rows(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kSubsetParams.size()> slot{};
    if (!py::bind_fastcall(kSubsetSignature, args, nargs, kwnames, slot)) return nullptr;
    std::uint64_t rows = 0;
    std::uint64_t max_rows = 0;
    if (!py::convert_arg(slot[0], &rows, "rows") ||
        !py::convert_arg(slot[1], &max_rows, "max_rows"))
        return nullptr;
    std::vector<std::uint32_t> picked;
    try {
        picked = vok::enumeration::subset_rows(rows, max_rows);
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
        return nullptr;
    }
    py::Ref list = py::Ref::steal(PyList_New(static_cast<Py_ssize_t>(picked.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < picked.size(); ++i) {
        PyObject* item = PyLong_FromUnsignedLong(picked[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

constexpr const char* kEnumerateText =
    "Enumerate every distinct expression by size and return the best of each size.\n\n"
    "columns holds one sequence per variable, y the targets. Returns a dict with the front,\n"
    "a report per size, why the search stopped, the candidates scored and the time taken.\n"
    "With split=True the largest size is left out and the dict's 'split' entry says how\n"
    "to run it in slices (enumerate_slice).";

constexpr const char* kSliceText =
    "Enumerate slots [begin, end) of the largest size from the state of a split run made\n"
    "with the same data and settings. The largest size's front is the best front_size of\n"
    "all slices' fronts ordered by (sse, order).";

std::string entry_doc(const char* head, const std::string& settings, const char* text) {
    std::string doc = head;
    doc += settings;
    doc += ")\n--\n\n";
    doc += text;
    doc += "\n\nSettings (defaults in DEFAULTS):\n";
    doc += engine::settings_doc();
    doc.pop_back();  // the last line's newline
    return doc;
}

}  // namespace

// No docstring until describe_enumerate_entries writes one with the settings' defaults.
PyMethodDef enumerate_def = {"enumerate", py::fastcall_method<&enumerate>(),
                             METH_FASTCALL | METH_KEYWORDS, nullptr};
PyMethodDef enumerate_slice_def = {"enumerate_slice", py::fastcall_method<&enumerate_slice>(),
                                   METH_FASTCALL | METH_KEYWORDS, nullptr};
PyMethodDef subset_rows_def =
    py::keyword_method<&subset_rows>("subset_rows", R"(subset_rows(rows, max_rows)
--

The rows enumerate searches on for data of this many rows with this max_rows, in
increasing order: every row when max_rows is 0 or not below rows, else max_rows
evenly spread ones (i * rows // max_rows).)");

bool describe_enumerate_entries(PyObject* defaults) {
    // Built once and kept for the process: method objects point into them.
    static std::string enumerate_doc;
    static std::string slice_doc;
    if (enumerate_def.ml_doc != nullptr) return true;
    const auto settings = engine::settings_signature(defaults);
    if (!settings) return false;
    std::string whole = entry_doc("enumerate(columns, y, split=False, ", *settings, kEnumerateText);
    std::string slice =
        entry_doc("enumerate_slice(columns, y, state, begin, end, ", *settings, kSliceText);
    enumerate_doc = std::move(whole);
    slice_doc = std::move(slice);
    enumerate_def.ml_doc = enumerate_doc.c_str();
    enumerate_slice_def.ml_doc = slice_doc.c_str();
    return true;
}
