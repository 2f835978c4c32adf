// The enumeration's records read back from the dicts result_dict makes, so
// that results handed around by Python (slices from a cluster, a front to
// fit again) come back to the engine. Each: false with an error set.
#pragma once

#include <Python.h>

#include <vector>

#include "enumeration/enumerate.hpp"

namespace engine {

bool read_front(PyObject* obj, std::vector<vok::enumeration::FrontMember>& out);

// "front", "sizes", "evaluations" and "elapsed"; "stopped" is the caller's.
bool read_result(PyObject* obj, vok::enumeration::EnumerationResult& out);

// A sequence of results, each with only its "front" and "sizes" read.
bool read_slices(PyObject* obj, std::vector<vok::enumeration::EnumerationResult>& out);

}  // namespace engine
