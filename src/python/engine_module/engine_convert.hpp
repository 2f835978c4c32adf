// Conversions between the enumeration's records and Python objects.
#pragma once

#include <Python.h>

#include <span>
#include <vector>

#include "enumeration/enumerate.hpp"
#include "python/ref.hpp"

namespace engine {

// A sequence of operator names of the given arity. False with an error set.
bool convert_ops(PyObject* obj, std::vector<vok::OpCode>* out, int arity, const char* name);

// A postfix program as a sequence of ("const", float), ("var", int) and
// ("op", name) pairs. False with an error set.
bool convert_program(PyObject* obj, std::vector<vok::Token>* out);

py::Ref program_tuple(std::span<const vok::Token> tokens);
py::Ref front_list(std::span<const vok::enumeration::FrontMember> front);
py::Ref result_dict(const vok::enumeration::EnumerationResult& result);

// The operator table (core/op_table.hpp) as a tuple of dicts, in listing order.
py::Ref operator_records();

}  // namespace engine
