// fit, settle and refit: programs scored on every row exactly as the
// enumeration scores a candidate.
#include <Python.h>

#include <array>
#include <stdexcept>

#include "enumeration/enumerate.hpp"
#include "enumeration/front_fit.hpp"
#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/engine_module/engine_convert.hpp"
#include "python/engine_module/program_input.hpp"
#include "python/engine_module/python_control.hpp"
#include "python/engine_module/result_parse.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"

namespace {

// Per-row weights, None, empty or absent for none, checked against the rows. False
// with ValueError (or the conversion's error) set.
bool read_weights(PyObject* obj, std::size_t rows, std::vector<double>& out) {
    if (obj == nullptr || obj == Py_None) return true;
    if (!py::convert_arg(obj, &out, "weights")) return false;
    if (out.empty()) return true;  // as the search's setting reads it: every row once
    try {
        vok::enumeration::check_weights(out, rows);
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
        return false;
    }
    return true;
}

constexpr std::array<const char*, 5> kFitParams{"program", "columns", "y", "scaling", "weights"};
constexpr py::Signature kFitSignature{"fit", nullptr, kFitParams, 3};

PyObject* fit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kFitParams.size()> slot{};
    if (!py::bind_fastcall(kFitSignature, args, nargs, kwnames, slot)) return nullptr;
    vok::Expr expr;
    std::vector<vok::Column> columns;
    std::vector<double> y;
    std::vector<double> weights;
    bool scaling = true;
    if (!engine::convert_program(slot[0], &expr.tokens)) return nullptr;
    if (!py::convert_arg(slot[1], &columns, "columns") || !py::convert_arg(slot[2], &y, "y"))
        return nullptr;
    if (slot[3] && !py::convert_arg(slot[3], &scaling, "scaling")) return nullptr;
    if (!engine::check_samples(columns, y, "fit") ||
        !engine::check_program(expr.tokens, columns.size()) ||
        !read_weights(slot[4], y.size(), weights))
        return nullptr;
    expr.n_vars = columns.size();
    const auto result = vok::enumeration::fit_on_rows(expr, columns, y, scaling, weights);
    if (!result) Py_RETURN_NONE;
    return Py_BuildValue("(ddd)", result->sse, result->scale, result->offset);
}

constexpr std::array<const char*, 6> kSettleParams{"program",   "columns", "y",
                                                   "constants", "scaling", "weights"};
constexpr py::Signature kSettleSignature{"settle", nullptr, kSettleParams, 4};

py::Ref settled_dict(const vok::enumeration::Settled& s) {
    py::Ref fit =
        s.fit ? py::Ref::steal(Py_BuildValue("(ddd)", s.fit->sse, s.fit->scale, s.fit->offset))
              : py::Ref::borrow(Py_None);
    py::Ref sse = fit ? py::new_float_list(s.sse) : py::Ref();
    if (!sse) return sse;
    return py::Ref::steal(Py_BuildValue("{s:O,s:O}", "fit", fit.get(), "sse", sse.get()));
}

PyObject* settle(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kSettleParams.size()> slot{};
    if (!py::bind_fastcall(kSettleSignature, args, nargs, kwnames, slot)) return nullptr;
    vok::Expr expr;
    std::vector<vok::Column> columns;
    std::vector<double> y;
    std::vector<py::Pair2> constants;
    std::vector<double> weights;
    bool scaling = true;
    if (!engine::convert_program(slot[0], &expr.tokens)) return nullptr;
    if (!py::convert_arg(slot[1], &columns, "columns") || !py::convert_arg(slot[2], &y, "y") ||
        !py::convert_arg(slot[3], &constants, "constants"))
        return nullptr;
    if (slot[4] && !py::convert_arg(slot[4], &scaling, "scaling")) return nullptr;
    if (!engine::check_samples(columns, y, "settle") ||
        !engine::check_program(expr.tokens, columns.size()) ||
        !read_weights(slot[5], y.size(), weights))
        return nullptr;
    expr.n_vars = columns.size();
    vok::enumeration::Settled settled;
    engine::without_lock([&] {
        settled = vok::enumeration::settle_on_rows(expr, columns, y, scaling, constants, weights);
    });
    return settled_dict(settled).release();
}

constexpr std::array<const char*, 5> kRefitParams{"front", "columns", "y", "scaling", "weights"};
constexpr py::Signature kRefitSignature{"refit", nullptr, kRefitParams, 3};

PyObject* refit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kRefitParams.size()> slot{};
    if (!py::bind_fastcall(kRefitSignature, args, nargs, kwnames, slot)) return nullptr;
    std::vector<vok::enumeration::FrontMember> front;
    std::vector<vok::Column> columns;
    std::vector<double> y;
    std::vector<double> weights;
    bool scaling = true;
    if (!engine::read_front(slot[0], front)) return nullptr;
    if (!py::convert_arg(slot[1], &columns, "columns") || !py::convert_arg(slot[2], &y, "y"))
        return nullptr;
    if (slot[3] && !py::convert_arg(slot[3], &scaling, "scaling")) return nullptr;
    if (!engine::check_samples(columns, y, "refit") || !read_weights(slot[4], y.size(), weights))
        return nullptr;
    for (std::size_t i = 0; i < front.size(); ++i) {
        if (!engine::check_program(front[i].expr.tokens, columns.size())) {
            engine::fail_at("front", static_cast<Py_ssize_t>(i));
            return nullptr;
        }
        front[i].expr.n_vars = columns.size();
    }
    engine::without_lock(
        [&] { vok::enumeration::refit_front(front, columns, y, scaling, weights); });
    return engine::front_list(front).release();
}

}  // namespace

PyMethodDef fit_def =
    py::keyword_method<&fit>("fit", R"(fit(program, columns, y, scaling=True, weights=None)
--

A program scored on every row exactly as the enumeration scores a candidate:
(sse, scale, offset), or None when it has no value on some row or no finite fit.
With weights (one per row), the sse is the weighted one and the fit minimises it.)");

PyMethodDef settle_def = py::keyword_method<&settle>(
    "settle", R"(settle(program, columns, y, constants, scaling=True, weights=None)
--

A program on every row: {'fit': fit()'s (sse, scale, offset) or None, 'sse': [...]}
with one sse per (scale, offset) pair of constants, the squared residuals of
y against (scale * f) + offset (each times its row's weight, with weights)
summed in row order as the fit sums its own (NaN when the program has no value
on some row, infinite on overflow).)");

PyMethodDef refit_def =
    py::keyword_method<&refit>("refit", R"(refit(front, columns, y, scaling=True, weights=None)
--

A front searched on a subset of the rows, fitted again on these rows as the
enumeration does after its own subset search (max_rows): sse, rmse, scale and
offset replaced, members without a value on some row or a finite fit dropped,
the rest ranked by (size, sse, order). Returns the new list of member dicts.
With weights (one per row), fitted as a weighted search fits them.)");
