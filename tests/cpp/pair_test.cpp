// Pair maths: exact bits at the edges and the batch kernels against an independently
// written rotation (the documented values, equality and the repr are tested from Python).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "test_values.hpp"
#include "values/pair/pair.hpp"

namespace vok {
namespace {

using namespace vok::test;  // kNaN, kInf, bits

constexpr double kPi = std::numbers::pi;

#define EXPECT_SAME_BITS(got, want) EXPECT_EQ(bits(got), bits(want)) << (got) << " vs " << (want)

void expect_pair(Pair got, double real, double imag) {
    EXPECT_SAME_BITS(got.real, real);
    EXPECT_SAME_BITS(got.imag, imag);
}

// The documented values are checked through the module (test_pair.py); these are the edges.
TEST(Pair, DivisionFloorsTheDenominator) {
    expect_pair(div({1, 0}, {0, 1}), 0.0, -1.0);
    expect_pair(div({1, 2}, {0, 0}), 0.0, 0.0);
    // q = 1e-320 is floored to 1e-300, not used as is.
    expect_pair(div({1, 0}, {1e-160, 0}), 1e-160 / 1e-300, 0.0);
    const Pair nan = div({1, 0}, {kNaN, 0});
    EXPECT_TRUE(std::isnan(nan.real) && std::isnan(nan.imag));
}

TEST(Pair, DerivedQuantitiesAtTheirEdges) {
    EXPECT_SAME_BITS(argument({-1, 0.0}), kPi);
    EXPECT_SAME_BITS(modulus({1e200, 1e200}), kInf);
}

// The batch rotation as written for plain values, with sin and cos taken apart.
RealImag rotated(RealImag p, double angle) {
    const double s = std::sin(angle), c = std::cos(angle);
    const double a = p[0], b = p[1];
    return {a * c - b * s, b * c + a * s};
}

TEST(PairBatch, RotationMatchesSingleRotationBitForBit) {
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> wide(-1e3, 1e3);
    std::vector<RealImag> in(4096);
    std::vector<double> angles(in.size());
    for (std::size_t k = 0; k < in.size(); ++k) {
        // Raw bit patterns too, so subnormals, infinities and NaNs take part.
        if (k % 4 == 3) {
            in[k] = {std::bit_cast<double>(rng()), std::bit_cast<double>(rng())};
            angles[k] = std::bit_cast<double>(rng());
        } else {
            in[k] = {wide(rng), wide(rng)};
            angles[k] = wide(rng);
        }
    }
    std::vector<RealImag> out(in.size());
    rotate_phase_n(in, angles, out);
    for (std::size_t k = 0; k < in.size(); ++k) {
        const Pair single = rotate_phase({in[k][0], in[k][1]}, angles[k]);
        const RealImag loose = rotated(in[k], angles[k]);
        ASSERT_EQ(bits(out[k][0]), bits(single.real)) << k;
        ASSERT_EQ(bits(out[k][1]), bits(single.imag)) << k;
        ASSERT_EQ(bits(out[k][0]), bits(loose[0])) << k;
        ASSERT_EQ(bits(out[k][1]), bits(loose[1])) << k;
    }
}

TEST(PairBatch, RotationInPlaceOverTheShorterLength) {
    std::vector<RealImag> data{{1, 0}, {0, 1}, {7, 7}};
    const std::vector<double> angles{kPi / 2, kPi / 2};
    rotate_phase_n(data, angles, std::span(data).first(2));
    EXPECT_SAME_BITS(data[0][0], 6.123233995736766e-17);
    EXPECT_SAME_BITS(data[0][1], 1.0);
    EXPECT_SAME_BITS(data[1][0], -1.0);
    EXPECT_SAME_BITS(data[1][1], 6.123233995736766e-17);
    EXPECT_SAME_BITS(data[2][0], 7.0);  // beyond the output: untouched
}

TEST(PairBatch, SchrodingerStepUsesMinusVdtOverHbar) {
    const std::vector<RealImag> psi{{1, 0}, {0.25, -3}, {1, 1}, {1, 0}};
    const std::vector<double> v{1, 0.3, 1, 0};
    std::vector<RealImag> out(psi.size());
    schrodinger_step_n(psi, v, 1.0, 1.0, std::span(out).first(1));
    EXPECT_SAME_BITS(out[0][0], 0.5403023058681398);
    EXPECT_SAME_BITS(out[0][1], -0.8414709848078965);

    const double dt = 0.1, hbar = 0.7;
    schrodinger_step_n(psi, v, dt, hbar, out);
    const RealImag want = rotated(psi[1], -(v[1] * dt) / hbar);
    EXPECT_SAME_BITS(out[1][0], want[0]);
    EXPECT_SAME_BITS(out[1][1], want[1]);

    // hbar = 0: the angle is infinite (or NaN for v = 0) and the values NaN, not an error.
    schrodinger_step_n(psi, v, 1.0, 0.0, out);
    for (std::size_t k : {2u, 3u}) EXPECT_TRUE(std::isnan(out[k][0]) && std::isnan(out[k][1]));
}

}  // namespace
}  // namespace vok
