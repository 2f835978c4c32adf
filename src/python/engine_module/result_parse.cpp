// Result dicts back into records, key by key, naming the key that is wrong.
#include "python/engine_module/result_parse.hpp"

#include <cstdint>
#include <limits>

#include "python/convert.hpp"
#include "python/engine_module/engine_convert.hpp"
#include "python/ref.hpp"

namespace engine {
namespace {

using vok::enumeration::EnumerationResult;
using vok::enumeration::FrontMember;
using vok::enumeration::SizeReport;

template <class T>
bool read_key(PyObject* mapping, const char* key, T* out) {
    py::Ref item = py::Ref::steal(PyMapping_GetItemString(mapping, key));
    return item && py::convert_arg(item.get(), out, key);
}

bool read_key(PyObject* mapping, const char* key, std::uint32_t* out) {
    std::uint64_t wide = 0;
    if (!read_key(mapping, key, &wide)) return false;
    if (wide > std::numeric_limits<std::uint32_t>::max()) {
        PyErr_Format(PyExc_OverflowError, "%s is too large", key);
        return false;
    }
    *out = static_cast<std::uint32_t>(wide);
    return true;
}

bool read_program(PyObject* obj, std::vector<vok::Token>& tokens) {
    py::Ref program = py::Ref::steal(PyMapping_GetItemString(obj, "program"));
    return program && convert_program(program.get(), &tokens);
}

bool read_member(PyObject* obj, FrontMember& m) {
    return read_key(obj, "size", &m.size) && read_program(obj, m.expr.tokens) &&
           read_key(obj, "sse", &m.sse) && read_key(obj, "rmse", &m.rmse) &&
           read_key(obj, "scale", &m.scale) && read_key(obj, "offset", &m.offset) &&
           read_key(obj, "order", &m.order);
}

bool read_report(PyObject* obj, SizeReport& r) {
    return read_key(obj, "size", &r.size) && read_key(obj, "complete", &r.complete) &&
           read_key(obj, "candidates", &r.candidates) && read_key(obj, "no_value", &r.no_value) &&
           read_key(obj, "duplicates", &r.duplicates) && read_key(obj, "distinct", &r.distinct) &&
           read_key(obj, "scored", &r.scored) && read_key(obj, "valid", &r.valid) &&
           read_key(obj, "seconds", &r.seconds);
}

template <class Item, class Read>
bool read_list(PyObject* obj, const char* what, std::vector<Item>& out, Read read) {
    py::Ref items = py::Ref::steal(PySequence_Fast(obj, what));
    if (!items) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    out.assign(static_cast<std::size_t>(n), Item{});
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!read(PySequence_Fast_GET_ITEM(items.get(), i), out[static_cast<std::size_t>(i)]))
            return false;
    }
    return true;
}

template <class Item, class Read>
bool read_list_key(PyObject* mapping, const char* key, const char* what, std::vector<Item>& out,
                   Read read) {
    py::Ref list = py::Ref::steal(PyMapping_GetItemString(mapping, key));
    return list && read_list(list.get(), what, out, read);
}

bool read_slice(PyObject* obj, EnumerationResult& out) {
    return read_list_key(obj, "front", "a front is a sequence of member dicts", out.front,
                         read_member) &&
           read_list_key(obj, "sizes", "sizes is a sequence of report dicts", out.sizes,
                         read_report);
}

}  // namespace

bool read_front(PyObject* obj, std::vector<FrontMember>& out) {
    return read_list(obj, "a front is a sequence of member dicts", out, read_member);
}

bool read_result(PyObject* obj, EnumerationResult& out) {
    return read_slice(obj, out) && read_key(obj, "evaluations", &out.evaluations) &&
           read_key(obj, "elapsed", &out.elapsed);
}

bool read_slices(PyObject* obj, std::vector<EnumerationResult>& out) {
    return read_list(obj, "slices must be a sequence of slice results", out, read_slice);
}

}  // namespace engine
