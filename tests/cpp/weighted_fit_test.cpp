// The weighted fit's shortcuts and bounds: rows of weight 0 out of every sum
// even where their terms overflow, the constant shortcut giving the full
// fit's bits, and a stand-in's Euclidean error bound read in the weighted norm.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/weighted_fit.hpp"
#include "enumeration/row_weighting.hpp"
#include "enumeration/stand_in_verdict.hpp"
#include "test_values.hpp"

namespace vok {
namespace {

using test::bits;

struct Rows {
    std::vector<double> y, w, f;
};

Rows random_rows(std::size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> d(0.5, 1.0);
    Rows r{std::vector<double>(n), std::vector<double>(n), std::vector<double>(n)};
    for (std::size_t i = 0; i < n; ++i) {
        r.y[i] = d(rng);
        r.f[i] = 0.7 * r.y[i] + 0.2 * d(rng);
        r.w[i] = i % 3 == 1 ? 0.0 : std::exp(d(rng));
    }
    return r;
}

TEST(WeightedFit, RowsOfWeightZeroTakeNoPartEvenPastOverflow) {
    for (std::size_t n : {7, 200}) {
        Rows r = random_rows(n, static_cast<unsigned>(n));
        const FitTarget target(r.y, r.w);
        std::vector<double> wild = r.f;
        wild[1] = 1e200;  // its square overflows: 0 * inf would be NaN
        auto fit = [&](const std::vector<double>& f, bool scaled, Fit& out) {
            return scaled ? fit_scaled_weighted(f.data(), target, out)
                          : fit_plain_weighted(f.data(), target, out);
        };
        for (const bool scaled : {true, false}) {
            Fit a;
            Fit b;
            ASSERT_TRUE(fit(r.f, scaled, a));
            ASSERT_TRUE(fit(wild, scaled, b));
            EXPECT_EQ(bits(a.sse), bits(b.sse)) << n;
            EXPECT_EQ(bits(a.scale), bits(b.scale));
        }
        const ScaledEstimate a = scaled_estimate_weighted(r.f.data(), target);
        const ScaledEstimate b = scaled_estimate_weighted(wild.data(), target);
        EXPECT_EQ(bits(a.value), bits(b.value)) << n;
        EXPECT_EQ(bits(a.slack), bits(b.slack)) << n;
    }
}

TEST(WeightedFit, ConstantFitIsTheFullFitsOwn) {
    for (std::size_t n : {2, 200, 3000}) {
        const Rows r = random_rows(n, 3);
        const FitTarget target(r.y, r.w);
        for (double c : {0.0, -2.718281828459045, 1e-300, 3e154, -1.7e308}) {
            const std::vector<double> f(n, c);
            Fit full;
            Fit known;
            ASSERT_TRUE(fit_scaled_weighted(f.data(), target, full));
            ASSERT_TRUE(fit_constant_scaled_weighted(target, known)) << n;
            EXPECT_EQ(bits(known.sse), bits(full.sse)) << n << " " << c;
            EXPECT_EQ(known.scale, full.scale);
            EXPECT_EQ(bits(known.offset), bits(full.offset));
        }
    }
}

// The stand-in is off by its whole error on the heaviest row, the one its
// line misses most: only a bound in the weighted norm keeps the candidate's
// true error in reach.
TEST(WeightedFit, StandInErrorIsBoundInTheWeightedNorm) {
    Rows r = random_rows(200, 5);
    r.w[10] = 400.0;
    r.y[10] += 3.0;  // far off the line, so that its error moves the fit most
    const FitTarget target(r.y, r.w);
    for (const bool scaled : {true, false}) {
        Fit exact;
        ASSERT_TRUE(scaled ? fit_scaled_weighted(r.f.data(), target, exact)
                           : fit_plain_weighted(r.f.data(), target, exact));
        const double error = 1e-5;
        std::vector<double> stand_in = r.f;
        stand_in[10] += (r.y[10] > stand_in[10] ? -error : error);  // away from the target
        const auto verdict = enumeration::judge_near<enumeration::Weighted>(
            stand_in.data(), target, scaled, error, exact.sse);
        EXPECT_FALSE(verdict.out_of_reach) << scaled;
    }
}

}  // namespace
}  // namespace vok
