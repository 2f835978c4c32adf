// The knot record: a point with a wrapping pulse counter and a phase.
#pragma once

#include <cstdint>
#include <string>

#include "values/point/point.hpp"

namespace vok {

inline constexpr double kHalfPi = 1.5707963267948966;
inline constexpr double kTwoPi = 6.283185307179586;

struct Knot {
    Point point;
    std::int64_t flip_count;
    double phase;  // always a result of fmod(..., kTwoPi)
};

// The stored phase is fmod(theta, 2π), keeping theta's sign.
[[nodiscard]] Knot make_knot(const Point& point, std::int64_t n, double theta) noexcept;
// Pulses the point, counts one (wrapping) and turns the phase a quarter turn.
[[nodiscard]] Knot mirror_pulse(const Knot& k) noexcept;
// Four pulses.
[[nodiscard]] Knot three_one_flip(const Knot& k) noexcept;
// |tension| of the point.
[[nodiscard]] double rho(const Knot& k) noexcept;
// 2 * (flip_count / 4), truncating toward zero.
[[nodiscard]] std::int64_t tread_yield(const Knot& k) noexcept;

// "VOKKnot(n=0, rho=1.000000, theta=0.0000, point=VOKPoint { x: 0.0, y: 1.0 })".
[[nodiscard]] std::string repr(const Knot& k);

}  // namespace vok
