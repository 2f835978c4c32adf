// evaluate: a program's values on every row, NaN where it has none.
#include <Python.h>

#include <array>
#include <cmath>
#include <limits>

#include "enumeration/enumerate.hpp"
#include "core/expr.hpp"
#include "python/engine_module/engine_convert.hpp"
#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"

namespace {

constexpr std::array<const char*, 2> kParams{"program", "columns"};
constexpr py::Signature kSignature{"evaluate", nullptr, kParams, 2};

// A program the evaluator would reject as a whole, told apart from rows
// without a value so that the caller hears about it.
bool check_program(const std::vector<vok::Token>& tokens, std::size_t n_vars) {
    std::size_t depth = 0;
    for (const vok::Token& t : tokens) {
        if (t.kind == vok::TokenKind::Var && t.index >= n_vars) {
            PyErr_Format(PyExc_ValueError, "the program reads variable %llu of %zu",
                         static_cast<unsigned long long>(t.index), n_vars);
            return false;
        }
        const std::size_t need = t.kind == vok::TokenKind::Op ? vok::arity(t.op) : 0;
        if (depth < need) {
            PyErr_SetString(PyExc_ValueError, "malformed program: an operator lacks operands");
            return false;
        }
        depth = depth - need + 1;
    }
    if (depth != 1) {
        PyErr_SetString(PyExc_ValueError, "malformed program: it must leave exactly one value");
        return false;
    }
    return true;
}

PyObject* evaluate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kParams.size()> slot{};
    if (!py::bind_fastcall(kSignature, args, nargs, kwnames, slot)) return nullptr;
    vok::Expr expr;
    std::vector<vok::Column> columns;
    if (!engine::convert_program(slot[0], &expr.tokens)) return nullptr;
    if (!py::convert_arg(slot[1], &columns, "columns")) return nullptr;
    const std::size_t rows = columns.empty() ? 0 : columns.front().size();
    for (const vok::Column& c : columns) {
        if (c.size() != rows) {
            PyErr_SetString(PyExc_ValueError, "columns must all have the same length");
            return nullptr;
        }
    }
    if (!check_program(expr.tokens, columns.size())) return nullptr;
    expr.n_vars = columns.size();
    std::vector<double> values(rows);
    std::vector<double> row(columns.size());
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t v = 0; v < columns.size(); ++v) row[v] = columns[v][i];
        values[i] = expr.eval(row, {}).value_or(std::numeric_limits<double>::quiet_NaN());
    }
    return py::new_float_list(values).release();
}

constexpr std::array<const char*, 4> kFitParams{"program", "columns", "y", "scaling"};
constexpr py::Signature kFitSignature{"fit", nullptr, kFitParams, 3};

PyObject* fit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kFitParams.size()> slot{};
    if (!py::bind_fastcall(kFitSignature, args, nargs, kwnames, slot)) return nullptr;
    vok::Expr expr;
    std::vector<vok::Column> columns;
    std::vector<double> y;
    bool scaling = true;
    if (!engine::convert_program(slot[0], &expr.tokens)) return nullptr;
    if (!py::convert_arg(slot[1], &columns, "columns") || !py::convert_arg(slot[2], &y, "y")) return nullptr;
    if (slot[3] && !py::convert_arg(slot[3], &scaling, "scaling")) return nullptr;
    if (columns.empty() || y.empty()) {
        PyErr_SetString(PyExc_ValueError, "fit needs at least one column and one row");
        return nullptr;
    }
    for (const vok::Column& c : columns) {
        if (c.size() != y.size()) {
            PyErr_SetString(PyExc_ValueError, "columns and y must all have the same length");
            return nullptr;
        }
    }
    if (!check_program(expr.tokens, columns.size())) return nullptr;
    expr.n_vars = columns.size();
    const auto result = vok::enumeration::fit_on_rows(expr, columns, y, scaling);
    if (!result) Py_RETURN_NONE;
    return Py_BuildValue("(ddd)", result->sse, result->scale, result->offset);
}

}  // namespace

PyMethodDef fit_def = {
    "fit", py::fastcall_method<&fit>(), METH_FASTCALL | METH_KEYWORDS,
    "fit(program, columns, y, scaling=True)\n--\n\n"
    "A program scored on every row exactly as the enumeration scores a candidate:\n"
    "(sse, scale, offset), or None when it has no value on some row or no finite fit."};

PyMethodDef evaluate_def = {
    "evaluate", py::fastcall_method<&evaluate>(), METH_FASTCALL | METH_KEYWORDS,
    "evaluate(program, columns)\n--\n\n"
    "A postfix program's value on every row of the columns, computed exactly as the\n"
    "enumeration computes it; NaN on rows where it has no value."};
