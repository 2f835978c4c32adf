// evaluate: a program's values on every row, NaN where it has none.
#include <Python.h>

#include <array>
#include <cmath>
#include <limits>

#include "discover/expr.hpp"
#include "engine/engine_convert.hpp"
#include "lib/bind_args.hpp"
#include "lib/convert.hpp"
#include "lib/entry.hpp"
#include "lib/params.hpp"

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

}  // namespace

PyMethodDef evaluate_def = {
    "evaluate", py::fastcall_method<&evaluate>(), METH_FASTCALL | METH_KEYWORDS,
    "evaluate(program, columns)\n--\n\n"
    "A postfix program's value on every row of the columns, computed exactly as the\n"
    "enumeration computes it; NaN on rows where it has no value."};
