// search_terms and fit_terms: laws of several terms over screened programs,
// with the interpreter lock released while the workers run.
#include <Python.h>

#include <array>
#include <stdexcept>

#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/engine_module/program_input.hpp"
#include "python/engine_module/python_control.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"
#include "terms/term_search.hpp"

namespace {

const char* stop_name(vok::terms::TermStop stop) noexcept {
    switch (stop) {
        case vok::terms::TermStop::Complete: return "complete";
        case vok::terms::TermStop::Time: return "time";
        case vok::terms::TermStop::Interrupted: return "interrupted";
    }
    return "complete";
}

// Programs, columns, y and optional weights, checked. False with an error set.
bool read_inputs(PyObject* const* slot, std::vector<vok::Expr>& programs,
                 std::vector<vok::Column>& columns, std::vector<double>& y,
                 std::vector<double>& weights, PyObject* weights_obj, const char* entry) {
    if (!engine::read_columns(slot[1], columns) || !py::convert_arg(slot[2], &y, "y")) return false;
    if (!engine::check_samples(columns, y, entry)) return false;
    if (!engine::read_programs(slot[0], columns.size(), programs)) return false;
    if (weights_obj != nullptr && weights_obj != Py_None &&
        !py::convert_arg(weights_obj, &weights, "weights"))
        return false;
    if (!weights.empty() && weights.size() != y.size()) {
        PyErr_Format(PyExc_ValueError, "%s: weights must have one value per row", entry);
        return false;
    }
    return true;
}

bool read_count(PyObject* obj, std::uint64_t* out, const char* name) {
    return obj == nullptr || py::convert_arg(obj, out, name);
}

py::Ref combinations_list(const vok::terms::TermSearchResult& result) {
    py::Ref list = py::Ref::steal(PyList_New(static_cast<Py_ssize_t>(result.best.size())));
    if (!list) return list;
    for (std::size_t i = 0; i < result.best.size(); ++i) {
        const vok::terms::Combination& c = result.best[i];
        py::Ref terms = py::Ref::steal(PyTuple_New(c.count));
        if (!terms) return terms;
        for (std::uint32_t d = 0; d < c.count; ++d) {
            PyObject* index = PyLong_FromUnsignedLong(c.terms[d]);
            if (index == nullptr) return py::Ref();
            PyTuple_SET_ITEM(terms.get(), d, index);
        }
        PyObject* item = Py_BuildValue("(OId)", terms.get(), c.size, c.sse);
        if (item == nullptr) return py::Ref();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

constexpr std::array<const char*, 10> kSearchParams{
    "programs", "columns",          "y",          "max_terms",    "keep",
    "weights",  "max_combinations", "time_limit", "memory_limit", "n_threads"};
constexpr py::Signature kSearchSignature{"search_terms", nullptr, kSearchParams, 3};

PyObject* search_terms(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kSearchParams.size()> slot{};
    if (!py::bind_fastcall(kSearchSignature, args, nargs, kwnames, slot)) return nullptr;
    std::vector<vok::Expr> programs;
    std::vector<vok::Column> columns;
    std::vector<double> y;
    std::vector<double> weights;
    if (!read_inputs(slot.data(), programs, columns, y, weights, slot[5], "search_terms"))
        return nullptr;
    vok::terms::TermSearchSettings settings;
    std::uint64_t max_terms = settings.max_terms;
    std::uint64_t keep = settings.keep;
    if (!read_count(slot[3], &max_terms, "max_terms") || !read_count(slot[4], &keep, "keep") ||
        !read_count(slot[6], &settings.max_combinations, "max_combinations") ||
        (slot[7] && !py::convert_arg(slot[7], &settings.time_limit, "time_limit")) ||
        !read_count(slot[8], &settings.memory_limit, "memory_limit") ||
        !read_count(slot[9], &settings.n_threads, "n_threads"))
        return nullptr;
    if (max_terms < 2 || max_terms > vok::terms::kMaxTerms || keep < 1 || keep > 1000 ||
        !(settings.time_limit >= 0.0)) {
        PyErr_SetString(PyExc_ValueError,
                        "search_terms: max_terms must be 2 to 5, keep 1 to 1000 and "
                        "time_limit not negative");
        return nullptr;
    }
    settings.max_terms = static_cast<std::uint32_t>(max_terms);
    settings.keep = static_cast<std::uint32_t>(keep);

    engine::PythonControl python(nullptr);
    vok::enumeration::EnumerationControl polled = python.control();
    vok::terms::TermControl control;
    control.keep_going = [&] { return polled.keep_going(vok::enumeration::EnumerationProgress{}); };
    vok::terms::TermSearchResult result;
    try {
        python.run([&] {
            result =
                vok::terms::search_combinations(programs, columns, y, weights, settings, &control);
        });
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
        return nullptr;
    }
    if (python.restore_error()) return nullptr;
    py::Ref best = combinations_list(result);
    if (!best) return nullptr;
    return Py_BuildValue("{s:O,s:K,s:K,s:s}", "combinations", best.get(), "screened",
                         static_cast<unsigned long long>(result.screened), "fitted",
                         static_cast<unsigned long long>(result.fitted), "stopped",
                         stop_name(result.stopped));
}

constexpr std::array<const char*, 4> kFitParams{"programs", "columns", "y", "weights"};
constexpr py::Signature kFitSignature{"fit_terms", nullptr, kFitParams, 3};

PyObject* fit_terms(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kFitParams.size()> slot{};
    if (!py::bind_fastcall(kFitSignature, args, nargs, kwnames, slot)) return nullptr;
    std::vector<vok::Expr> programs;
    std::vector<vok::Column> columns;
    std::vector<double> y;
    std::vector<double> weights;
    if (!read_inputs(slot.data(), programs, columns, y, weights, slot[3], "fit_terms"))
        return nullptr;
    std::optional<vok::terms::TermFit> fit;
    try {
        engine::without_lock(
            [&] { fit = vok::terms::fit_combination(programs, columns, y, weights); });
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
        return nullptr;
    }
    if (!fit) Py_RETURN_NONE;
    py::Ref coefficients = py::new_float_list(fit->coefficients);
    py::Ref gram = coefficients ? py::new_float_list(fit->gram) : py::Ref();
    if (!gram) return nullptr;
    return Py_BuildValue("{s:O,s:d,s:d,s:O}", "coefficients", coefficients.get(), "intercept",
                         fit->intercept, "sse", fit->sse, "gram", gram.get());
}

}  // namespace

PyMethodDef search_terms_def = py::keyword_method<&search_terms>(
    "search_terms", R"(search_terms(programs, columns, y, max_terms=3, keep=2, weights=None,
             max_combinations=30000000, time_limit=0, memory_limit=0, n_threads=0)
--

Every combination of 2 to max_terms of the programs fitted to y by least squares
(y ~ c0 + c1 * f1 + ...), from one Gram matrix summed in row order: the best keep
of each (term count, summed token count) by (sse, term indices). Programs without a
value on some row, constant ones and scaled copies of earlier ones take no part; the
last programs are left out when the combinations would pass max_combinations.
Returns {'combinations': [(term indices, summed size, sse), ...], 'screened': terms
that took part, 'fitted': combinations scored, 'stopped': 'complete', 'time' or
'interrupted' (Ctrl-C: what was found until then)}. Any n_threads, the same result.)");

PyMethodDef fit_terms_def =
    py::keyword_method<&fit_terms>("fit_terms", R"(fit_terms(programs, columns, y, weights=None)
--

y ~ intercept + sum c_d * f_d fitted on every row (weighted with weights):
{'coefficients': [c_d], 'intercept', 'sse' (summed in row order), 'gram': the
row-major (d + 1)^2 matrix of sum w a_i a_j over a = (1, f_1, ...)}, or None when a
program has no value on some row or the fit is singular.)");
