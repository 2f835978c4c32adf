// The stand-ins hold their stated error bound against the exact operators on
// millions of arguments (with a margin of ten to spare), refuse arguments
// outside their ranges, and never let a pruning decision differ from the
// exact values'.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/candidate_fit.hpp"
#include "core/column_ops.hpp"
#include "enumeration/approx_ops.hpp"

namespace vok::enumeration {
namespace {

constexpr std::size_t kRun = 1000;

// Arguments spread over several scales of the covered range, with the points
// where the reductions change branch or cancel.
std::vector<double> arguments(OpCode op, std::mt19937_64& rng, std::size_t n) {
    const double reach = op == OpCode::Sin || op == OpCode::Cos ? 0x1p19 : 300.0;
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> scale(-30, 9);
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        double x = unit(rng) * std::ldexp(1.0, scale(rng));
        switch (i % 4) {
            case 0: x = unit(rng) * reach; break;
            case 1:
                x = std::nearbyint(x / 1.5707963267948966) * 1.5707963267948966 + x * 1e-12;
                break;
            case 2:
                x = std::nearbyint(x / 0.6931471805599453) * 0.6931471805599453 *
                    (1 + 1e-16 * unit(rng));
                break;
            default: break;
        }
        x = std::fmax(-reach, std::fmin(reach, x));
        if (op == OpCode::Ln) {
            x = std::fabs(x) * (i % 3 == 0 ? 1e250 : 1.0) + 0x1p-1022;
            if (i % 5 == 0) x = 1.0 + x * 1e-9;
            if (i % 7 == 0) x = 1.4142135623730951 * (1 + 1e-16 * unit(rng));
        }
        v[i] = x;
    }
    return v;
}

class ApproxBound : public testing::TestWithParam<OpCode> {};

TEST_P(ApproxBound, HoldsWithRoomToSpare) {
    const OpCode op = GetParam();
    std::mt19937_64 rng(static_cast<unsigned>(op) + 7);
    double worst = 0.0;  // the largest share of the bound any row used
    std::vector<double> approx(kRun);
    std::vector<double> exact(kRun);
    for (int round = 0; round < 1000; ++round) {
        const std::vector<double> a = arguments(op, rng, kRun);
        std::vector<double> b = arguments(OpCode::Ln, rng, kRun);
        if (round % 2 == 1) {
            for (double& v : b) v = -v;  // vok's clamp
        }
        const double* second = op == OpCode::Vok ? b.data() : nullptr;
        double error_norm = 0.0;
        ASSERT_TRUE(approx_rows(op, a.data(), second, approx.data(), kRun, error_norm));
        ASSERT_TRUE(second ? apply_binary_rows(op, a.data(), second, exact.data(), kRun)
                           : apply_unary_rows(op, a.data(), exact.data(), kRun));
        double norm = 0.0;
        for (std::size_t i = 0; i < kRun; ++i) {
            double magnitude = std::fabs(approx[i]);
            if (op == OpCode::Vok) {
                magnitude = std::exp(a[i]) +
                            std::fabs(std::log(b[i] > 0 ? b[i] : std::fmax(-b[i], 1e-300)));
            }
            const double bound = kApproxRelative * magnitude + kApproxAbsolute;
            const double error = std::fabs(approx[i] - exact[i]);
            ASSERT_LE(error, bound) << "argument " << a[i];
            worst = std::max(worst, error / bound);
            norm += error * error;
        }
        ASSERT_LE(std::sqrt(norm), error_norm);
    }
    EXPECT_LT(worst, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Operators, ApproxBound,
                         testing::Values(OpCode::Exp, OpCode::Ln, OpCode::Sin, OpCode::Cos,
                                         OpCode::Vok));

TEST(Approx, RefusesArgumentsOutsideItsRanges) {
    struct Case {
        OpCode op;
        double a;
        double b;
    };
    const Case cases[] = {
        {OpCode::Exp, 300.5, 1.0},         {OpCode::Exp, -301.0, 1.0}, {OpCode::Ln, 0.0, 1.0},
        {OpCode::Ln, -2.0, 1.0},           {OpCode::Ln, 1e-310, 1.0},  {OpCode::Sin, 0x1p20, 1.0},
        {OpCode::Cos, -0x1p19 * 1.5, 1.0}, {OpCode::Vok, 301.0, 2.0},  {OpCode::Vok, 1.0, 1e-310},
        {OpCode::Neg, 1.0, 1.0},
    };
    for (const Case& c : cases) {
        std::vector<double> a(5, 1.5);
        std::vector<double> b(5, 2.5);
        a[3] = c.a;
        b[3] = c.b;
        std::vector<double> out(5);
        double error_norm = 0.0;
        EXPECT_FALSE(approx_rows(c.op, a.data(), b.data(), out.data(), 5, error_norm))
            << static_cast<int>(c.op) << " " << c.a << " " << c.b;
    }
}

// sin and cos taken together are each what approx_rows gives, bit for bit.
TEST(Approx, SinAndCosTogetherAreEachOnItsOwn) {
    std::mt19937_64 rng(5);
    const std::vector<double> x = arguments(OpCode::Sin, rng, kRun);
    std::vector<double> both(2 * kRun);
    std::vector<double> alone(kRun);
    double errors[2] = {0.0, 0.0};
    ASSERT_TRUE(approx_sin_cos(x.data(), both.data(), both.data() + kRun, kRun, errors));
    for (std::size_t k = 0; k < 2; ++k) {
        double error = 0.0;
        ASSERT_TRUE(approx_rows(k == 0 ? OpCode::Sin : OpCode::Cos, x.data(), nullptr, alone.data(),
                                kRun, error));
        EXPECT_EQ(error, errors[k]);
        for (std::size_t i = 0; i < kRun; ++i)
            ASSERT_EQ(alone[i], both[k * kRun + i]) << k << " " << x[i];
    }
}

// vok from a kept second term is approx_vok_rest, bit for bit, and neither
// covers a b whose clamp leaves ln's range.
TEST(Approx, VokFromKeptTermsIsVokRest) {
    std::mt19937_64 rng(9);
    const std::vector<double> a = arguments(OpCode::Exp, rng, kRun);
    std::vector<double> b = arguments(OpCode::Ln, rng, kRun);
    for (std::size_t i = 0; i < kRun; i += 3) b[i] = -b[i];
    std::vector<double> grown(kRun);
    std::vector<double> second(kRun);
    std::vector<double> rest(kRun);
    std::vector<double> terms(kRun);
    ASSERT_TRUE(approx_vok_first(a.data(), grown.data(), kRun));
    ASSERT_TRUE(approx_vok_second(b.data(), second.data(), kRun));
    double rest_error = 0.0;
    double terms_error = 0.0;
    ASSERT_TRUE(approx_vok_rest(grown.data(), b.data(), rest.data(), kRun, rest_error));
    ASSERT_TRUE(approx_vok_terms(grown.data(), second.data(), terms.data(), kRun, terms_error));
    EXPECT_EQ(rest_error, terms_error);
    for (std::size_t i = 0; i < kRun; ++i) ASSERT_EQ(rest[i], terms[i]) << b[i];
    b[kRun / 2] = std::numeric_limits<double>::min() / 4;  // subnormal: outside ln's range
    EXPECT_FALSE(approx_vok_second(b.data(), second.data(), kRun));
    EXPECT_FALSE(approx_vok_rest(grown.data(), b.data(), rest.data(), kRun, rest_error));
}

// Near the bound, the stand-in may not prune what the exact values keep: a
// candidate a hair above the bound is pruned by neither, one well above by both.
TEST(Approx, PrunesOnlyWhatTheExactValuesWould) {
    std::mt19937_64 rng(3);
    std::normal_distribution<double> noise;
    std::vector<double> x(200);
    std::vector<double> y(200);
    for (std::size_t i = 0; i < 200; ++i) {
        x[i] = 0.01 * static_cast<double>(i);
        y[i] = std::sin(x[i]) + 0.1 * noise(rng);
    }
    const FitTarget target(y);
    std::vector<double> exact(200);
    std::vector<double> approx(200);
    for (OpCode op : {OpCode::Sin, OpCode::Exp, OpCode::Cos}) {
        ASSERT_TRUE(apply_unary_rows(op, x.data(), exact.data(), 200));
        double error_norm = 0.0;
        ASSERT_TRUE(approx_rows(op, x.data(), nullptr, approx.data(), 200, error_norm));
        for (bool scaled : {true, false}) {
            Fit fit;
            ASSERT_TRUE(scaled ? fit_scaled(exact.data(), target, fit)
                               : fit_plain(exact.data(), target, fit));
            for (double factor : {0.5, 0.999, 1.0, 1.0 - 1e-12}) {
                const double bound = fit.sse * factor;
                const bool pruned =
                    scaled ? scaled_estimate(approx.data(), target).exceeds_near(bound, error_norm)
                           : plain_exceeds_near(plain_sse_rows(approx.data(), target, 0, 200, 0.0),
                                                error_norm, bound);
                EXPECT_EQ(pruned, factor < 0.9999)
                    << static_cast<int>(op) << " scaled " << scaled << " factor " << factor;
            }
        }
    }
}

}  // namespace
}  // namespace vok::enumeration
