// evaluate and evaluate_many: programs' values on every row, NaN where they
// have none.
#include <Python.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "core/column_ops.hpp"
#include "core/expr.hpp"
#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/engine_module/engine_convert.hpp"
#include "python/engine_module/program_input.hpp"
#include "python/engine_module/python_control.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"
#include "runtime/thread_pool.hpp"

namespace {

constexpr std::array<const char*, 2> kParams{"program", "columns"};
constexpr py::Signature kSignature{"evaluate", nullptr, kParams, 2};

PyObject* evaluate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kParams.size()> slot{};
    if (!py::bind_fastcall(kSignature, args, nargs, kwnames, slot)) return nullptr;
    vok::Expr expr;
    std::vector<vok::Column> columns;
    if (!engine::convert_program(slot[0], &expr.tokens)) return nullptr;
    if (!engine::read_columns(slot[1], columns)) return nullptr;
    if (!engine::check_program(expr.tokens, columns.size())) return nullptr;
    const std::size_t rows = columns.empty() ? 0 : columns.front().size();
    expr.n_vars = columns.size();
    std::vector<double> values(rows);
    std::vector<double> row(columns.size());
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t v = 0; v < columns.size(); ++v) row[v] = columns[v][i];
        values[i] = expr.eval(row, {}).value_or(std::numeric_limits<double>::quiet_NaN());
    }
    return py::new_float_list(values).release();
}

// Runs of programs, one evaluator each; every program fills its own rows, so
// any worker count gives the same bits.
void evaluate_all(const std::vector<vok::Expr>& programs, std::span<const vok::Column> columns,
                  std::size_t rows, std::span<double> values) {
    if (programs.empty()) return;
    vok::ThreadPool& pool = vok::ThreadPool::global();
    const std::size_t runs = std::min(programs.size(), pool.size());
    pool.parallel_for(runs, [&](std::size_t run) {
        vok::ColumnEvaluator eval;
        for (std::size_t p = run * programs.size() / runs; p < (run + 1) * programs.size() / runs;
             ++p)
            (void)vok::values_or_nan(eval, programs[p], columns, values.subspan(p * rows, rows));
    });
}

constexpr std::array<const char*, 2> kManyParams{"programs", "columns"};
constexpr py::Signature kManySignature{"evaluate_many", nullptr, kManyParams, 2};

PyObject* evaluate_many(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kManyParams.size()> slot{};
    if (!py::bind_fastcall(kManySignature, args, nargs, kwnames, slot)) return nullptr;
    std::vector<vok::Column> columns;
    std::vector<vok::Expr> programs;
    if (!engine::read_columns(slot[1], columns)) return nullptr;
    if (!engine::read_programs(slot[0], columns.size(), programs)) return nullptr;
    const std::size_t rows = columns.empty() ? 0 : columns.front().size();
    std::vector<double> values(programs.size() * rows);
    engine::without_lock([&] { evaluate_all(programs, columns, rows, values); });
    return py::new_double_views(values, programs.size()).release();
}

}  // namespace

PyMethodDef evaluate_def = py::keyword_method<&evaluate>("evaluate", R"(evaluate(program, columns)
--

A postfix program's value on every row of the columns, computed exactly as the
enumeration computes it; NaN on rows where it has no value.)");

PyMethodDef evaluate_many_def =
    py::keyword_method<&evaluate_many>("evaluate_many", R"(evaluate_many(programs, columns)
--

evaluate() of each program on the same columns, read once: a list with one
read-only memoryview of float64 (format 'd') per program, holding evaluate()'s
values, NaN included, bit for bit. numpy.asarray takes each without a copy.
The programs are evaluated in parallel, without the interpreter lock.)");
