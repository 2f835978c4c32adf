// merge_slices: a split search's result put together from its slices.
#include <Python.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "enumeration/slice_merge.hpp"
#include "python/bind_args.hpp"
#include "python/convert.hpp"
#include "python/engine_module/engine_convert.hpp"
#include "python/engine_module/result_parse.hpp"
#include "python/entry.hpp"
#include "python/params.hpp"

namespace {

constexpr std::array<const char*, 6> kParams{"local",      "size",    "slices",
                                             "front_size", "seconds", "complete"};
constexpr py::Signature kSignature{"merge_slices", nullptr, kParams, 6};

bool read_u32(PyObject* obj, std::uint32_t* out, const char* name, bool clamp) {
    std::uint64_t wide = 0;
    if (!py::convert_arg(obj, &wide, name)) return false;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    if (wide > kMax && !clamp) {
        PyErr_Format(PyExc_OverflowError, "%s is too large", name);
        return false;
    }
    *out = static_cast<std::uint32_t>(std::min(wide, kMax));
    return true;
}

PyObject* merge_slices(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, kParams.size()> slot{};
    if (!py::bind_fastcall(kSignature, args, nargs, kwnames, slot)) return nullptr;
    vok::enumeration::EnumerationResult local;
    std::vector<vok::enumeration::EnumerationResult> slices;
    std::uint32_t size = 0;
    std::uint32_t front_size = 0;
    double seconds = 0.0;
    bool complete = false;
    // front_size past any front keeps every member, as a longer slice would.
    if (!engine::read_result(slot[0], local) || !read_u32(slot[1], &size, "size", false) ||
        !engine::read_slices(slot[2], slices) ||
        !read_u32(slot[3], &front_size, "front_size", true) ||
        !py::convert_arg(slot[4], &seconds, "seconds") ||
        !py::convert_arg(slot[5], &complete, "complete"))
        return nullptr;
    vok::enumeration::EnumerationResult merged;
    try {
        merged = vok::enumeration::merge_slices(std::move(local), size, slices, front_size, seconds,
                                                complete);
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
        return nullptr;
    }
    return engine::result_dict(merged).release();
}

}  // namespace

PyMethodDef merge_slices_def = py::keyword_method<&merge_slices>(
    "merge_slices", R"(merge_slices(local, size, slices, front_size, seconds, complete)
--

The result of a split search: local is enumerate(..., split=True)'s dict, slices the
enumerate_slice dicts of its largest size (size). That size's front is the first
front_size of all slices' fronts ranked by (sse, order); its report sums theirs,
is complete when complete and all of theirs are, and takes seconds.
stopped is 'complete' when complete, else 'interrupted'; evaluations and elapsed
add the report's scored and seconds. The same dict as enumerate's, without 'split'.)");
