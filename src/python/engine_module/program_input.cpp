// Reading and checking programs and samples for the evaluating entries.
#include "python/engine_module/program_input.hpp"

#include "python/convert.hpp"
#include "python/engine_module/engine_convert.hpp"
#include "python/ref.hpp"

namespace engine {
bool fail_at(const char* sequence, Py_ssize_t index) {
    if (!PyErr_ExceptionMatches(PyExc_ValueError) && !PyErr_ExceptionMatches(PyExc_TypeError))
        return false;
    py::FetchedError original;
    py::Ref text = py::Ref::steal(PyObject_Str(original.value()));
    if (!text) return false;
    PyErr_Format(original.type(), "%s[%zd]: %U", sequence, index, text.get());
    return false;
}

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

bool read_programs(PyObject* obj, std::size_t n_vars, std::vector<vok::Expr>& out) {
    py::Ref items = py::Ref::steal(PySequence_Fast(obj, "programs must be a sequence of programs"));
    if (!items) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    out.assign(static_cast<std::size_t>(n), vok::Expr{});
    for (Py_ssize_t i = 0; i < n; ++i) {
        vok::Expr& expr = out[static_cast<std::size_t>(i)];
        if (!convert_program(PySequence_Fast_GET_ITEM(items.get(), i), &expr.tokens) ||
            !check_program(expr.tokens, n_vars))
            return fail_at("programs", i);
        expr.n_vars = n_vars;
    }
    return true;
}

bool read_columns(PyObject* obj, std::vector<vok::Column>& columns) {
    if (!py::convert_arg(obj, &columns, "columns")) return false;
    const std::size_t rows = columns.empty() ? 0 : columns.front().size();
    for (const vok::Column& c : columns) {
        if (c.size() != rows) {
            PyErr_SetString(PyExc_ValueError, "columns must all have the same length");
            return false;
        }
    }
    return true;
}

bool check_samples(const std::vector<vok::Column>& columns, const std::vector<double>& y,
                   const char* entry) {
    if (columns.empty() || y.empty()) {
        PyErr_Format(PyExc_ValueError, "%s needs at least one column and one row", entry);
        return false;
    }
    for (const vok::Column& c : columns) {
        if (c.size() != y.size()) {
            PyErr_SetString(PyExc_ValueError, "columns and y must all have the same length");
            return false;
        }
    }
    return true;
}

}  // namespace engine
