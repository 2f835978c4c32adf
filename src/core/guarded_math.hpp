// The guarded exp-minus-log operator, shared by the evaluator's Vok and the
// tension of points and knots: one definition so both compute the same bits.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace vok {

// The doubles nearest 709.78 and 1e-300, pinned by bit pattern.
inline constexpr double SLIP_THRESHOLD = std::bit_cast<double>(std::uint64_t{0x40862E3D70A3D70A});
inline constexpr double LN_FLOOR = std::bit_cast<double>(std::uint64_t{0x01A56E1FC2F8F359});

// Above the threshold exp would overflow; exp(ln a) grows like a instead.
inline double guarded_exp(double a) noexcept {
    return a > SLIP_THRESHOLD ? std::exp(std::log(a)) : std::exp(a);
}

// Non-positive values are taken by magnitude, floored; NaN passes through.
inline double pulse_clamp(double y) noexcept {
    return y <= 0.0 ? std::max(std::fabs(y), LN_FLOOR) : y;
}

inline double guarded_ln(double b) noexcept { return std::log(pulse_clamp(b)); }

// The tension operator vok(x, y) = exp(x) - ln(y), both sides guarded.
inline double tension(double x, double y) noexcept { return guarded_exp(x) - guarded_ln(y); }

}  // namespace vok
