// Operator names, programs and results to and from Python objects.
#include "python/engine_module/engine_convert.hpp"

#include <string>

#include "core/op_table.hpp"
#include "python/convert.hpp"

namespace engine {
namespace {

bool set_item(PyObject* dict, const char* key, py::Ref value) {
    return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

py::Ref token_tuple(const vok::Token& t) {
    switch (t.kind) {
        case vok::TokenKind::Const:
        case vok::TokenKind::Param: return py::Ref::steal(Py_BuildValue("(sd)", "const", t.value));
        case vok::TokenKind::Var:
            return py::Ref::steal(
                Py_BuildValue("(sK)", "var", static_cast<unsigned long long>(t.index)));
        case vok::TokenKind::Op:
            return py::Ref::steal(Py_BuildValue("(ss)", "op", vok::op_info(t.op).name));
    }
    return py::Ref();
}

py::Ref member_dict(const vok::enumeration::FrontMember& m) {
    py::Ref d = py::Ref::steal(PyDict_New());
    if (!d) return d;
    const bool ok =
        set_item(d.get(), "size", py::Ref::steal(PyLong_FromUnsignedLong(m.size))) &&
        set_item(d.get(), "program", program_tuple(m.expr.tokens)) &&
        set_item(d.get(), "sse", py::Ref::steal(PyFloat_FromDouble(m.sse))) &&
        set_item(d.get(), "rmse", py::Ref::steal(PyFloat_FromDouble(m.rmse))) &&
        set_item(d.get(), "scale", py::Ref::steal(PyFloat_FromDouble(m.scale))) &&
        set_item(d.get(), "offset", py::Ref::steal(PyFloat_FromDouble(m.offset))) &&
        set_item(d.get(), "order", py::Ref::steal(PyLong_FromUnsignedLongLong(m.order)));
    return ok ? std::move(d) : py::Ref();
}

py::Ref size_dict(const vok::enumeration::SizeReport& s) {
    return py::Ref::steal(Py_BuildValue("{s:I,s:O,s:K,s:K,s:K,s:K,s:K,s:K,s:d}", "size", s.size,
                                        "complete", s.complete ? Py_True : Py_False, "candidates",
                                        static_cast<unsigned long long>(s.candidates), "no_value",
                                        static_cast<unsigned long long>(s.no_value), "duplicates",
                                        static_cast<unsigned long long>(s.duplicates), "distinct",
                                        static_cast<unsigned long long>(s.distinct), "scored",
                                        static_cast<unsigned long long>(s.scored), "valid",
                                        static_cast<unsigned long long>(s.valid), "seconds",
                                        s.seconds));
}

template <class Item, class Make>
py::Ref list_of(std::span<const Item> items, Make make) {
    py::Ref list = py::Ref::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return list;
    for (std::size_t i = 0; i < items.size(); ++i) {
        py::Ref item = make(items[i]);
        if (!item) return py::Ref();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
}

bool fail_token(Py_ssize_t index, const char* what) {
    PyErr_Format(PyExc_ValueError, "program token %zd: %s", index, what);
    return false;
}

}  // namespace

bool convert_ops(PyObject* obj, std::vector<vok::OpCode>* out, int arity, const char* name) {
    if (PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s must be a sequence of operator names, not a str", name);
        return false;
    }
    py::Ref items = py::Ref::steal(PySequence_Fast(obj, "operators must be a sequence of names"));
    if (!items) return false;
    out->clear();
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (!PyUnicode_Check(item)) {
            PyErr_Format(PyExc_TypeError, "%s: operator names are str, not '%s'", name,
                         Py_TYPE(item)->tp_name);
            return false;
        }
        const char* text = PyUnicode_AsUTF8(item);
        if (text == nullptr) return false;
        const auto op = vok::op_from_name(text);
        if (!op || vok::arity(*op) != arity) {
            PyErr_Format(PyExc_ValueError, "%s: unknown %s operator %R", name,
                         arity == 1 ? "unary" : "binary", item);
            return false;
        }
        out->push_back(*op);
    }
    return true;
}

bool convert_program(PyObject* obj, std::vector<vok::Token>* out) {
    py::Ref items = py::Ref::steal(PySequence_Fast(obj, "a program is a sequence of tokens"));
    if (!items) return false;
    out->clear();
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2 ||
            !PyUnicode_Check(PyTuple_GET_ITEM(item, 0)))
            return fail_token(i, "expected a (kind, value) pair");
        const char* kind = PyUnicode_AsUTF8(PyTuple_GET_ITEM(item, 0));
        if (kind == nullptr) return false;
        PyObject* value = PyTuple_GET_ITEM(item, 1);
        const std::string_view k(kind);
        if (k == "const") {
            double v;
            if (!py::convert(value, &v)) return false;
            out->push_back(vok::Token::constant(v));
        } else if (k == "var") {
            std::uint64_t index;
            if (!py::convert(value, &index)) return false;
            out->push_back(vok::Token::var(index));
        } else if (k == "op") {
            const char* text = PyUnicode_Check(value) ? PyUnicode_AsUTF8(value) : nullptr;
            if (text == nullptr)
                return PyErr_Occurred() ? false : fail_token(i, "an operator is named by a str");
            const auto op = vok::op_from_name(text);
            if (!op) return fail_token(i, "unknown operator");
            out->push_back(vok::Token::oper(*op));
        } else {
            return fail_token(i, "the kind must be 'const', 'var' or 'op'");
        }
    }
    return true;
}

py::Ref program_tuple(std::span<const vok::Token> tokens) {
    py::Ref tuple = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(tokens.size())));
    if (!tuple) return tuple;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        py::Ref item = token_tuple(tokens[i]);
        if (!item) return py::Ref();
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return tuple;
}

py::Ref front_list(std::span<const vok::enumeration::FrontMember> front) {
    return list_of(front, member_dict);
}

py::Ref operator_records() {
    py::Ref tuple = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(vok::kOps.size())));
    if (!tuple) return tuple;
    for (std::size_t i = 0; i < vok::kOpListing.size(); ++i) {
        const vok::OpInfo& op = vok::op_info(vok::kOpListing[i]);
        py::Ref symbol =
            op.symbol ? py::Ref::steal(PyUnicode_FromString(op.symbol)) : py::Ref::borrow(Py_None);
        if (!symbol) return py::Ref();
        PyObject* record =
            Py_BuildValue("{s:s,s:i,s:O,s:O}", "name", op.name, "arity", op.arity, "commutative",
                          op.commutative ? Py_True : Py_False, "symbol", symbol.get());
        if (record == nullptr) return py::Ref();
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), record);
    }
    return tuple;
}

py::Ref result_dict(const vok::enumeration::EnumerationResult& result) {
    py::Ref d = py::Ref::steal(PyDict_New());
    if (!d) return d;
    const bool ok =
        set_item(d.get(), "front", front_list(result.front)) &&
        set_item(d.get(), "sizes", list_of(std::span(result.sizes), size_dict)) &&
        set_item(d.get(), "stopped",
                 py::Ref::steal(
                     PyUnicode_FromString(vok::enumeration::stop_reason_name(result.stopped)))) &&
        set_item(d.get(), "evaluations",
                 py::Ref::steal(PyLong_FromUnsignedLongLong(result.evaluations))) &&
        set_item(d.get(), "elapsed", py::Ref::steal(PyFloat_FromDouble(result.elapsed)));
    return ok ? std::move(d) : py::Ref();
}

}  // namespace engine
