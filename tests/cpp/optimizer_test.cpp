// Constant optimizer: the error measure and the properties callers rely on.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "alloc_count.hpp"
#include "beam/optimizer.hpp"
#include "test_values.hpp"

namespace vok::beam {
namespace {

using namespace vok::test;  // kNaN, kInf, bits

using T = Token;

Expr prog(std::vector<Token> t) { return Expr{std::move(t), 1}; }
Token op(OpCode o) { return T::oper(o); }

const std::vector<Column> kX = {{1.0, 2.0, 3.0}};
const Expr kXPlusOne = prog({T::var(0), T::constant(1.0), op(OpCode::Add)});  // 2, 3, 4
// p0 * x + p1
const Expr kLinear =
    prog({T::param(0, 0.0), T::var(0), op(OpCode::Mul), T::param(1, 0.0), op(OpCode::Add)});

TEST(Optimize, WithoutStartingValuesOnlyMeasures) {
    // The error sums over the shorter of predictions and targets and divides by the
    // target count; missing rows count as zero terms.
    const std::vector<double> y = {1.0, 5.0, 10.0};
    const Fit fit = optimize(kXPlusOne, kX, y, {});
    EXPECT_TRUE(fit.params.empty());
    EXPECT_EQ(bits(fit.error), bits(std::sqrt(41.0 / 3.0)));
    EXPECT_EQ(bits(optimize(kXPlusOne, kX, std::vector<double>{1, 5, 10, 7}, {}).error),
              bits(std::sqrt(41.0 / 4.0)));
    EXPECT_EQ(bits(rmse(std::vector<double>{2, 3, 4}, std::vector<double>{1.0, 5.0})),
              bits(std::sqrt(5.0 / 2.0)));
    EXPECT_EQ(bits(rmse({}, std::vector<double>{1.0})), bits(-0.0));
    const Expr ln_x_minus_1 = prog({T::var(0), T::constant(1.0), op(OpCode::Sub), op(OpCode::Ln)});
    EXPECT_EQ(optimize(ln_x_minus_1, kX, y, {}).error, kInf);
    EXPECT_TRUE(std::isnan(optimize(kXPlusOne, kX, {}, {}).error));
}

TEST(Optimize, MeasuringAWarmCandidateNeedsNoHeap) {
    const std::vector<double> y = {1.0, 5.0, 10.0};
    (void)optimize(kXPlusOne, kX, y, {});  // the worker's scratch grows once
    EXPECT_EQ(testing::allocations_during([&] { (void)optimize(kXPlusOne, kX, y, {}); }), 0u);
    EXPECT_GT(testing::allocations_during(
                  [&] { (void)optimize(kLinear, kX, y, std::vector<double>{1.0, 0.0}); }),
              0u);
}

struct Case {
    const char* name;
    Expr expr;
    std::vector<double> y;
    std::vector<double> start;
    double below;  // the fit's error must end under this (NaN: only no worse than the start)
};

class Properties : public ::testing::TestWithParam<Case> {};

TEST_P(Properties, ErrorMatchesParamsAndNeverExceedsStart) {
    const Case& c = GetParam();
    const auto start_preds = c.expr.eval_batch(kX, c.start);
    const double start_error = start_preds ? rmse(*start_preds, c.y) : kInf;
    const Fit fit = optimize(c.expr, kX, c.y, c.start);
    ASSERT_EQ(fit.params.size(), c.start.size());
    EXPECT_LE(fit.error, start_error);
    if (!std::isnan(c.below)) {
        EXPECT_LT(fit.error, c.below);
    }
    // The reported error is the plain error of the returned parameters.
    const auto preds = c.expr.eval_batch(kX, fit.params);
    ASSERT_TRUE(preds);
    EXPECT_EQ(bits(fit.error), bits(rmse(*preds, c.y)));
}

const Expr kScaled = prog({T::param(0, 0), T::var(0), op(OpCode::Mul)});

INSTANTIATE_TEST_SUITE_P(
    Fits, Properties,
    ::testing::Values(
        // Under the start's own error (2, 3 and 4 off): the fit must improve on it.
        Case{"line_improves", kLinear, {3.0, 5.0, 7.0}, {1.0, 0.0}, std::sqrt(29.0 / 3.0)},
        Case{"converging_trial", kScaled, {2.0, 4.0, 6.0}, {1.0}, 1e-12},
        Case{"exponential",
             prog({T::param(0, 0), T::var(0), op(OpCode::Mul), op(OpCode::Exp)}),
             {2.0, 7.0, 20.0},
             {0.1},
             kNaN},
        Case{"already_exact", kScaled, {2, 4, 6}, {2.0}, kNaN},
        Case{"overflowing_steps",
             prog({T::param(0, 0), T::var(0), op(OpCode::Mul), op(OpCode::Exp)}),
             {1e300, 0, 0},
             {230.0},
             kNaN},
        Case{"more_rows_than_targets", kLinear, {3.0, 5.0}, {1.0, 0.0}, kNaN}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Optimize, UnusedParameterKeepsItsValue) {
    const Fit fit =
        optimize(kScaled, kX, std::vector<double>{3.0, 6.5, 9.0}, std::vector<double>{1.0, 42.0});
    EXPECT_EQ(bits(fit.params[1]), bits(42.0));
    EXPECT_NE(fit.params[0], 1.0);
}

struct Stuck {
    const char* name;
    Expr expr;
    std::vector<double> y;
    bool nan_error;  // else +infinity
};

class ReturnsStart : public ::testing::TestWithParam<Stuck> {};

TEST_P(ReturnsStart, WhenNoStepCanBeAccepted) {
    const Stuck& c = GetParam();
    const std::vector<double> start = {1.5, -0.0};
    const Fit fit = optimize(c.expr, kX, c.y, start);
    ASSERT_EQ(fit.params.size(), 2u);
    EXPECT_EQ(bits(fit.params[0]), bits(1.5));
    EXPECT_EQ(bits(fit.params[1]), bits(-0.0));
    if (c.nan_error)
        EXPECT_TRUE(std::isnan(fit.error));
    else
        EXPECT_EQ(fit.error, kInf);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReturnsStart,
                         ::testing::Values(Stuck{"nan_target", kLinear, {1.0, kNaN, 3.0}, true},
                                           Stuck{"empty_target", kLinear, {}, true},
                                           Stuck{"does_not_evaluate",
                                                 prog({T::param(0, 0), T::var(0), op(OpCode::Sub),
                                                       op(OpCode::Ln)}),
                                                 {1, 2, 3},
                                                 false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Optimize, RefusesFewerRowsThanTargetsWhenFitting) {
    EXPECT_THROW(
        (void)optimize(kLinear, kX, std::vector<double>{1, 2, 3, 4}, std::vector<double>{1.0, 0.0}),
        std::invalid_argument);
    EXPECT_THROW((void)optimize(kLinear, {}, std::vector<double>{1.0}, {}), std::invalid_argument);
}

}  // namespace
}  // namespace vok::beam
