// find_formula: converts the samples and settings, runs the search, wraps the winner.
#include <Python.h>

#include <array>
#include <optional>
#include <vector>

#include "beam/search.hpp"
#include "core/system_memory.hpp"
#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/entry.hpp"
#include "python/errors.hpp"
#include "python/params.hpp"
#include "python/vok_core/registry.hpp"
#include "python/vok_core/search_result_type.hpp"

namespace {

constexpr std::array<const char*, 8> kParams{
    "x_data",         "y_data",   "max_complexity", "beam_width",
    "precision_goal", "use_trig", "use_vok",        "complexity_penalty"};
constexpr py::Signature kSignature{"find_formula", nullptr, kParams, 2};

// The search reads every column at every row of the first: refuse shapes it cannot read.
bool check_shape(const std::vector<vok::Column>& x) {
    if (x.empty()) {
        PyErr_SetString(PyExc_ValueError, "x_data must hold at least one column");
        return false;
    }
    const std::size_t rows = x.front().size();
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i].size() < rows) {
            PyErr_Format(PyExc_ValueError,
                         "x_data column %zu has %zu values, fewer than the %zu of the first column",
                         i, x[i].size(), rows);
            return false;
        }
    }
    return true;
}

PyObject* find_formula(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kParams.size()> slot;
    if (!py::bind_fastcall(kSignature, args, nargs, kwnames, slot)) return nullptr;

    std::vector<vok::Column> x_cols;
    std::vector<double> y;
    vok::beam::SearchConfig config;
    if (!py::convert_arg(slot[0], &x_cols, "x_data")) return nullptr;
    if (!py::convert_arg(slot[1], &y, "y_data")) return nullptr;
    if (slot[2] && !py::convert_arg(slot[2], &config.max_complexity, "max_complexity"))
        return nullptr;
    if (slot[3] && !py::convert_arg(slot[3], &config.beam_width, "beam_width")) return nullptr;
    if (slot[4] && !py::convert_arg(slot[4], &config.precision_goal, "precision_goal"))
        return nullptr;
    if (slot[5] && !py::convert_arg(slot[5], &config.use_trig, "use_trig")) return nullptr;
    if (slot[6] && !py::convert_arg(slot[6], &config.use_vok, "use_vok")) return nullptr;
    if (slot[7] && !py::convert_arg(slot[7], &config.complexity_penalty, "complexity_penalty"))
        return nullptr;
    if (!check_shape(x_cols)) return nullptr;

    // The interpreter lock stays held; Ctrl-C is answered by polling for signals
    // while the workers score. A raised KeyboardInterrupt cancels the search.
    vok::beam::SearchControl control;
    control.keep_going = [] { return PyErr_CheckSignals() == 0; };
    std::optional<vok::beam::SearchResult> best;
    try {
        best = vok::beam::search(x_cols, y, x_cols.size(), config, &control);
    } catch (const vok::beam::SearchCancelled&) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        return nullptr;
    } catch (const vok::MemoryLimitExceeded& e) {
        const bool by_default = control.memory_limit == vok::default_memory_budget() &&
                                vok::physical_memory_bytes() > 0;
        return py::raise_memory_needed("find_formula()", e.needed(),
                                       e.limit() != 0 ? e.limit() : control.memory_limit,
                                       by_default ? "half of this machine's memory" : nullptr,
                                       "a smaller beam_width or max_complexity needs less");
    }
    if (!best) Py_RETURN_NONE;
    return new_search_result(ResultRecord{std::move(best->formula), std::move(best->params),
                                          best->error, best->complexity})
        .release();
}

}  // namespace

PyMethodDef find_formula_def = {
    "find_formula", py::fastcall_method<&find_formula>(), METH_FASTCALL | METH_KEYWORDS,
    "find_formula(x_data, y_data, max_complexity=8, beam_width=2000, precision_goal=1e-10, "
    "use_trig=True, use_vok=True, complexity_penalty=0.001)\n--\n\n"
    "Find a formula fitting x_data \xe2\x86\x92 y_data.\n"
    "x_data: list of column vectors (one per variable), or a single 1D list for univariate.\n"
    "y_data: target values (1D list)."};
