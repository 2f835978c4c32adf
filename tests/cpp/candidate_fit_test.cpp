// Shortcuts of the scaled fit give fit_scaled's own bits: a constant
// candidate's fit known without its rows, and an estimate that still prunes
// nearly flat candidates only where the full fit agrees.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "core/candidate_fit.hpp"
#include "core/column_ops.hpp"

namespace vok {
namespace {

std::vector<double> noise(std::size_t n, double mean, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> d(mean, 1.0);
    std::vector<double> y(n);
    for (double& v : y) v = d(rng);
    return y;
}

TEST(CandidateFit, ConstantFitIsFitScaledsOwn) {
    for (std::size_t n : {2, 3, 200, 6000}) {
        for (double mean : {0.0, -3.5, 1e6}) {
            const std::vector<double> y = noise(n, mean, static_cast<unsigned>(n));
            const FitTarget target(y);
            for (double c : {0.0, -0.0, 1.0, -2.718281828459045, 0.1, 1e-300, 3e154, -1.7e308}) {
                const std::vector<double> f(n, c);
                Fit full;
                Fit known;
                const bool fitted = fit_scaled(f.data(), target, full);
                ASSERT_TRUE(fit_constant_scaled(target, known)) << n;
                ASSERT_TRUE(fitted) << n << " " << c;
                EXPECT_EQ(std::bit_cast<std::uint64_t>(known.sse),
                          std::bit_cast<std::uint64_t>(full.sse))
                    << n << " " << mean << " " << c;
                EXPECT_EQ(known.scale, full.scale);
                EXPECT_EQ(known.offset, full.offset);
            }
        }
    }
    // Past the length where the flat test is sure, the shortcut declines.
    const std::vector<double> long_y = noise(std::size_t{1} << 14, 0.0, 1);
    Fit known;
    EXPECT_FALSE(fit_constant_scaled(FitTarget(long_y), known));
}

// 1 + eps g: the estimate keeps its spread, so it prunes what the full fit
// puts above the bound and nothing the full fit keeps.
TEST(CandidateFit, EstimatePrunesNearlyFlatValuesSafely) {
    const std::size_t n = 200;
    const std::vector<double> y = noise(n, 0.5, 7);
    const FitTarget target(y);
    const std::vector<double> g = noise(n, 0.0, 8);
    for (double eps : {1e-3, 1e-6, 1e-9}) {
        std::vector<double> f(n);
        for (std::size_t i = 0; i < n; ++i) f[i] = 1.0 + eps * (0.3 * y[i] + g[i]);
        Fit fit;
        ASSERT_TRUE(fit_scaled(f.data(), target, fit));
        const ScaledEstimate estimate = scaled_estimate(f.data(), target);
        EXPECT_FALSE(estimate.exceeds(fit.sse * (1.0 - 1e-12))) << eps;
        EXPECT_TRUE(estimate.exceeds(fit.sse * 0.99)) << eps;
    }
}

// The one-pass estimate over two operands is the estimate over their values,
// bit for bit, and has a value exactly when apply_binary_rows does.
TEST(CandidateFit, OnePassEstimateIsTheEstimateOfTheValues) {
    for (std::size_t n : {2, 7, 200}) {
        const FitTarget target(noise(n, 0.5, 9));
        std::vector<double> a = noise(n, 1.0, 10);
        std::vector<double> b = noise(n, -1.0, 11);
        std::vector<double> f(n);
        for (int variant = 0; variant < 3; ++variant) {
            if (variant == 1) b[n - 1] = 1e-320;   // Div has no value
            if (variant == 2) a[n / 2] = 1.5e308;  // Add and Mul overflow
            for (OpCode op : {OpCode::Add, OpCode::Sub, OpCode::Mul, OpCode::Div}) {
                ScaledEstimate one_pass;
                const bool has = scaled_estimate_binary(op, a.data(), b.data(), target, one_pass);
                ASSERT_EQ(has, apply_binary_rows(op, a.data(), b.data(), f.data(), n))
                    << n << " " << variant << " " << static_cast<int>(op);
                if (!has) continue;
                ScaledEstimate two_pass = scaled_estimate(f.data(), target);
                // Values lost in rounding: the one pass leaves the flat test to the full fit.
                if (std::isinf(one_pass.slack)) two_pass.slack = one_pass.slack;
                for (auto field :
                     {&ScaledEstimate::value, &ScaledEstimate::slack, &ScaledEstimate::magnitude,
                      &ScaledEstimate::spread, &ScaledEstimate::conditioning}) {
                    EXPECT_EQ(std::bit_cast<std::uint64_t>(one_pass.*field),
                              std::bit_cast<std::uint64_t>(two_pass.*field))
                        << n << " " << variant << " " << static_cast<int>(op);
                }
            }
        }
    }
}

}  // namespace
}  // namespace vok
