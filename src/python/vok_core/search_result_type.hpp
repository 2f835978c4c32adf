// The Python-facing result of find_formula.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <vector>

#include "python/ref.hpp"

// The record a PySearchResult holds inline; the expression itself is not kept.
struct ResultRecord {
    std::string formula;
    std::vector<double> params;
    double error = 0.0;
    std::uint64_t complexity = 0;
};

py::Ref new_search_result(ResultRecord&& record);
