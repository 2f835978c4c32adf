// Programs and samples as the evaluating entries take them, checked before
// any work so that a caller hears what is wrong instead of getting NaNs.
#pragma once

#include <Python.h>

#include <cstddef>
#include <vector>

#include "core/expr.hpp"

namespace engine {

// Puts "sequence[index]: " before a pending ValueError's or TypeError's
// message, naming the item it is about. Always false.
bool fail_at(const char* sequence, Py_ssize_t index);

// A program the evaluator would reject as a whole (it reads a missing
// variable, or is malformed), told apart from rows without a value.
// False with ValueError set.
bool check_program(const std::vector<vok::Token>& tokens, std::size_t n_vars);

// A sequence of programs (convert_program's form), each checked against
// n_vars; errors name the program's index. False with an error set.
bool read_programs(PyObject* obj, std::size_t n_vars, std::vector<vok::Expr>& out);

// Columns of one length. False with an error set.
bool read_columns(PyObject* obj, std::vector<vok::Column>& columns);

// At least one column and row, every column as long as y (entry names the
// caller in the message). False with ValueError set.
bool check_samples(const std::vector<vok::Column>& columns, const std::vector<double>& y,
                   const char* entry);

}  // namespace engine
