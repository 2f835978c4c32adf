// Complex pair arithmetic and the batch phase rotations.
#include "values/pair/pair.hpp"

#include <cassert>
#include <cmath>

#include "core/guarded_math.hpp"
#include "core/number_text.hpp"

namespace vok {

Pair add(Pair x, Pair y) noexcept { return {x.real + y.real, x.imag + y.imag}; }

Pair sub(Pair x, Pair y) noexcept { return {x.real - y.real, x.imag - y.imag}; }

Pair mul(Pair x, Pair y) noexcept {
    const double a = x.real, b = x.imag, c = y.real, d = y.imag;
    return {a * c - b * d, a * d + b * c};
}

Pair div(Pair x, Pair y) noexcept {
    const double a = x.real, b = x.imag, c = y.real, d = y.imag;
    double q = c * c + d * d;
    if (q < LN_FLOOR) q = LN_FLOOR;  // NaN fails the test and stays NaN
    return {(a * c + b * d) / q, (b * c - a * d) / q};
}

double modulus(Pair x) noexcept { return std::sqrt(x.real * x.real + x.imag * x.imag); }

double argument(Pair x) noexcept { return std::atan2(x.imag, x.real); }

Pair from_polar(double r, double theta) noexcept {
    return {r * std::cos(theta), r * std::sin(theta)};
}

Pair conjugate(Pair x) noexcept { return {x.real, -x.imag}; }

bool approx_equal(Pair x, Pair y) noexcept {
    return std::fabs(x.real - y.real) < 1e-9 && std::fabs(x.imag - y.imag) < 1e-9;
}

std::string repr_text(Pair x) {
    std::string out = "VOKPair(";
    append_fixed_text(out, x.real, 6);
    out += x.imag >= 0.0 ? " + " : " - ";  // -0.0 counts as non-negative, NaN does not
    append_fixed_text(out, std::fabs(x.imag), 6);
    out += "i)";
    return out;
}

Pair rotate_phase(Pair x, double angle) noexcept {
    return rotate_by(x.real, x.imag, std::sin(angle), std::cos(angle));
}

void rotate_phase_n(std::span<const RealImag> in, std::span<const double> angles,
                    std::span<RealImag> out) noexcept {
    assert(out.size() <= in.size() && out.size() <= angles.size());
    for (std::size_t k = 0; k < out.size(); ++k) {
        const auto [a, b] = in[k];
        const Pair r = rotate_by(a, b, std::sin(angles[k]), std::cos(angles[k]));
        out[k] = {r.real, r.imag};
    }
}

void schrodinger_step_n(std::span<const RealImag> psi, std::span<const double> v, double dt,
                        double hbar, std::span<RealImag> out) noexcept {
    assert(out.size() <= psi.size() && out.size() <= v.size());
    for (std::size_t k = 0; k < out.size(); ++k) {
        const double theta = -(v[k] * dt) / hbar;
        const auto [a, b] = psi[k];
        const Pair r = rotate_by(a, b, std::sin(theta), std::cos(theta));
        out[k] = {r.real, r.imag};
    }
}

}  // namespace vok
