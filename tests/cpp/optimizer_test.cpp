// Constant optimizer: the error measure and the properties callers rely on.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "alloc_count.hpp"
#include "discover/optimizer.hpp"

namespace vok {
namespace {

using T = Token;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }
Expr prog(std::vector<Token> t) { return Expr{std::move(t), 1}; }
Token op(OpCode o) { return T::oper(o); }

const std::vector<Column> kX = {{1.0, 2.0, 3.0}};
const Expr kXPlusOne = prog({T::var(0), T::constant(1.0), op(OpCode::Add)});  // 2, 3, 4
// p0 * x + p1
const Expr kLinear = prog({T::param(0, 0.0), T::var(0), op(OpCode::Mul), T::param(1, 0.0),
                           op(OpCode::Add)});

TEST(Rmse, SumsOverTheShorterAndDividesByTargets) {
    const std::vector<double> p = {2.0, 3.0, 4.0};
    EXPECT_EQ(bits(rmse(p, std::vector<double>{1.0, 5.0, 10.0})), bits(std::sqrt(41.0 / 3.0)));
    EXPECT_EQ(bits(rmse(p, std::vector<double>{1.0, 5.0})), bits(std::sqrt(5.0 / 2.0)));
    EXPECT_EQ(bits(rmse(p, std::vector<double>{1.0, 5.0, 10.0, 7.0})), bits(std::sqrt(41.0 / 4.0)));
    EXPECT_EQ(bits(rmse({}, std::vector<double>{1.0})), bits(-0.0));
    EXPECT_TRUE(std::isnan(rmse(p, {})));
}

TEST(Optimize, WithoutStartingValuesOnlyMeasures) {
    const std::vector<double> y = {1.0, 5.0, 10.0};
    const Fit fit = optimize(kXPlusOne, kX, y, {});
    EXPECT_TRUE(fit.params.empty());
    EXPECT_EQ(bits(fit.error), bits(std::sqrt(41.0 / 3.0)));
    // Longer targets than rows are allowed here: missing rows count as zero terms.
    EXPECT_EQ(bits(optimize(kXPlusOne, kX, std::vector<double>{1, 5, 10, 7}, {}).error),
              bits(std::sqrt(41.0 / 4.0)));
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

TEST(Optimize, FitsALineWithoutGettingWorse) {
    const std::vector<Column> x = {{0.0, 1.0, 2.0, 3.0}};
    const std::vector<double> y = {1.0, 3.0, 5.0, 7.0};
    const std::vector<double> start = {1.0, 0.0};
    const double start_error = optimize(kLinear, x, y, {}).error;  // tokens' own values: 0
    const Fit fit = optimize(kLinear, x, y, start);
    ASSERT_EQ(fit.params.size(), 2u);
    const auto preds = kLinear.eval_batch(x, start);
    EXPECT_LT(fit.error, rmse(*preds, y));
    EXPECT_LT(fit.error, start_error);
    // The reported error is the plain error of the returned parameters.
    EXPECT_EQ(bits(fit.error), bits(rmse(*kLinear.eval_batch(x, fit.params), y)));
}

TEST(Optimize, ReturnsTheTrialThatConverges) {
    const Expr e = prog({T::param(0, 0), T::var(0), op(OpCode::Mul)});
    const std::vector<double> y = {2.0, 4.0, 6.0};
    const Fit fit = optimize(e, kX, y, std::vector<double>{1.0});
    EXPECT_LT(fit.error, 1e-12);
    EXPECT_EQ(bits(fit.error), bits(rmse(*e.eval_batch(kX, fit.params), y)));
}

struct Case {
    const char* name;
    Expr expr;
    std::vector<double> y;
    std::vector<double> start;
};

class Properties : public ::testing::TestWithParam<Case> {};

TEST_P(Properties, ErrorMatchesParamsAndNeverExceedsStart) {
    const Case& c = GetParam();
    const auto start_preds = c.expr.eval_batch(kX, c.start);
    const double start_error = start_preds ? rmse(*start_preds, c.y) : kInf;
    const Fit fit = optimize(c.expr, kX, c.y, c.start);
    ASSERT_EQ(fit.params.size(), c.start.size());
    EXPECT_LE(fit.error, start_error);
    const auto preds = c.expr.eval_batch(kX, fit.params);
    ASSERT_TRUE(preds);
    EXPECT_EQ(bits(fit.error), bits(rmse(*preds, c.y)));
}

INSTANTIATE_TEST_SUITE_P(
    Fits, Properties,
    ::testing::Values(
        Case{"exponential", prog({T::param(0, 0), T::var(0), op(OpCode::Mul), op(OpCode::Exp)}),
             {2.0, 7.0, 20.0}, {0.1}},
        Case{"already_exact", prog({T::param(0, 0), T::var(0), op(OpCode::Mul)}), {2, 4, 6}, {2.0}},
        Case{"overflowing_steps",
             prog({T::param(0, 0), T::var(0), op(OpCode::Mul), op(OpCode::Exp)}), {1e300, 0, 0},
             {230.0}},
        Case{"more_rows_than_targets", kLinear, {3.0, 5.0}, {1.0, 0.0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Optimize, UnusedParameterKeepsItsValue) {
    const Expr e = prog({T::param(0, 0), T::var(0), op(OpCode::Mul)});
    const Fit fit = optimize(e, kX, std::vector<double>{3.0, 6.5, 9.0}, std::vector<double>{1.0, 42.0});
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
    if (c.nan_error) EXPECT_TRUE(std::isnan(fit.error));
    else EXPECT_EQ(fit.error, kInf);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReturnsStart,
    ::testing::Values(Stuck{"nan_target", kLinear, {1.0, kNaN, 3.0}, true},
                      Stuck{"empty_target", kLinear, {}, true},
                      Stuck{"does_not_evaluate",
                            prog({T::param(0, 0), T::var(0), op(OpCode::Sub), op(OpCode::Ln)}),
                            {1, 2, 3}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Optimize, RefusesFewerRowsThanTargetsWhenFitting) {
    EXPECT_THROW((void)optimize(kLinear, kX, std::vector<double>{1, 2, 3, 4},
                                std::vector<double>{1.0, 0.0}),
                 std::invalid_argument);
    EXPECT_THROW((void)optimize(kLinear, {}, std::vector<double>{1.0}, {}), std::invalid_argument);
}

}  // namespace
}  // namespace vok
