// Everything the module registers, each defined beside the code it exposes.
#pragma once

#include <Python.h>

// Type objects, created on first use and kept for the life of the process;
// nullptr with the error set when creation fails.
PyTypeObject* point_type() noexcept;
PyTypeObject* pair_type() noexcept;
PyTypeObject* knot_type() noexcept;
PyTypeObject* search_result_type() noexcept;

// Module functions.
extern PyMethodDef schrodinger_step_n_def;
extern PyMethodDef rotate_phase_n_def;
extern PyMethodDef simulate_pulses_n_def;
extern PyMethodDef find_formula_def;
