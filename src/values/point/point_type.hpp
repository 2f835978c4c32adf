// The VOKPoint Python type's helpers for the other types of the module.
#pragma once

#include "python/ref.hpp"
#include "values/point/point.hpp"

// A new VOKPoint holding a copy of p; null with the error set on failure.
py::Ref new_point(const vok::Point& p);
