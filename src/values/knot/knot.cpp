// Knot maths: pulses advance point, counter and phase together.
#include "values/knot/knot.hpp"

#include <cmath>
#include <string>

#include "core/number_text.hpp"

namespace vok {

Knot make_knot(const Point& point, std::int64_t n, double theta) noexcept {
    return {point, n, std::fmod(theta, kTwoPi)};
}

Knot mirror_pulse(const Knot& k) noexcept {
    // Unsigned addition wraps the largest counter to the smallest without signed overflow.
    const auto count = static_cast<std::int64_t>(static_cast<std::uint64_t>(k.flip_count) + 1u);
    return {mirror_pulse(k.point), count, std::fmod(k.phase + kHalfPi, kTwoPi)};
}

Knot three_one_flip(const Knot& k) noexcept {
    Knot out = k;
    for (int i = 0; i < 4; ++i) out = mirror_pulse(out);
    return out;
}

double rho(const Knot& k) noexcept { return std::fabs(tension(k.point)); }

// c / 4 is at most 2^61 in magnitude, so doubling cannot overflow.
std::int64_t tread_yield(const Knot& k) noexcept { return 2 * (k.flip_count / 4); }

std::string repr(const Knot& k) {
    std::string out = "VOKKnot(n=" + std::to_string(k.flip_count) + ", rho=";
    append_fixed_text(out, rho(k), 6);
    out += ", theta=";
    append_fixed_text(out, k.phase, 4);
    out += ", point=";
    out += debug_form(k.point);
    out += ')';
    return out;
}

}  // namespace vok
