// The complex pair: a plain record with its maths, free of any Python header.
// Every formula keeps its written order of operations (the build never fuses).
#pragma once

#include <array>
#include <span>
#include <string>

namespace vok {

struct Pair {
    double real;
    double imag;
};

// A (real, imag) value as the batch functions carry it.
using RealImag = std::array<double, 2>;

[[nodiscard]] Pair add(Pair x, Pair y) noexcept;
[[nodiscard]] Pair sub(Pair x, Pair y) noexcept;
[[nodiscard]] Pair mul(Pair x, Pair y) noexcept;
// A denominator below 1e-300 is floored, so dividing by zero gives zeros.
[[nodiscard]] Pair div(Pair x, Pair y) noexcept;
[[nodiscard]] double modulus(Pair x) noexcept;
[[nodiscard]] double argument(Pair x) noexcept;
[[nodiscard]] Pair from_polar(double r, double theta) noexcept;
[[nodiscard]] Pair conjugate(Pair x) noexcept;
// Absolute tolerance 1e-9 on both parts, strict; NaN is never equal.
[[nodiscard]] bool approx_equal(Pair x, Pair y) noexcept;
// "VOKPair(1.000000 - 2.000000i)"
[[nodiscard]] std::string repr_text(Pair x);

// Inline so the batch kernels compute exactly these bits without a call per element.
[[nodiscard]] inline Pair rotate_by(double a, double b, double s, double k) noexcept {
    return {k * a - s * b, s * a + k * b};
}
[[nodiscard]] Pair rotate_phase(Pair x, double angle) noexcept;

// out[k] = in[k] rotated by angles[k] for k < out.size(); out must not be longer
// than either input. out may be the same storage as in.
void rotate_phase_n(std::span<const RealImag> in, std::span<const double> angles,
                    std::span<RealImag> out) noexcept;
// The same with the angle -(v[k]·dt)/hbar.
void schrodinger_step_n(std::span<const RealImag> psi, std::span<const double> v, double dt,
                        double hbar, std::span<RealImag> out) noexcept;

}  // namespace vok
