// Evaluator: domain guards, the finiteness rule, malformed programs.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "core/expr.hpp"
#include "test_values.hpp"

namespace vok {
namespace {

using namespace vok::test;  // kNaN, kInf, bits

using T = Token;

Expr program(std::vector<Token> t) { return Expr{std::move(t), 0}; }
Expr unary(OpCode op, double a) { return program({T::constant(a), T::oper(op)}); }
Expr binary(OpCode op, double a, double b) {
    return program({T::constant(a), T::constant(b), T::oper(op)});
}
std::optional<double> run(const Expr& e, std::vector<double> row = {}) { return e.eval(row, {}); }

TEST(Expr, MalformedProgramsHaveNoValue) {
    EXPECT_FALSE(run(program({})));
    EXPECT_FALSE(run(program({T::constant(1), T::constant(2)})));
    EXPECT_FALSE(run(program({T::constant(1), T::oper(OpCode::Add)})));
    EXPECT_FALSE(run(program({T::var(3)}), {1, 2, 3}));
    EXPECT_EQ(run(program({T::var(2)}), {1, 2, 3}), 3.0);
}

TEST(Expr, ParamFallsBackToItsOwnValue) {
    const Expr e = program({T::param(2, 7.5)});
    std::vector<double> two{1, 2}, three{1, 2, 3};
    EXPECT_EQ(e.eval({}, two), 7.5);
    EXPECT_EQ(e.eval({}, three), 3.0);
}

struct GuardCase {
    Expr expr;
    std::optional<double> expected;  // nullopt: no value
};

class Guards : public ::testing::TestWithParam<GuardCase> {};

TEST_P(Guards, GiveTheStatedValue) {
    const auto& c = GetParam();
    const auto got = run(c.expr);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (got) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(*c.expected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Domain, Guards,
    ::testing::Values(GuardCase{unary(OpCode::Ln, 0.0), std::nullopt},
                      GuardCase{unary(OpCode::Ln, -0.0), std::nullopt},
                      GuardCase{unary(OpCode::Ln, -1.0), std::nullopt},
                      GuardCase{unary(OpCode::Sqrt, -0.0), -0.0},
                      GuardCase{unary(OpCode::Sqrt, -1e-12), std::nullopt},
                      GuardCase{unary(OpCode::Inv, 1e-301), std::nullopt},
                      GuardCase{unary(OpCode::Inv, 1e-300), 1.0 / 1e-300},
                      GuardCase{binary(OpCode::Div, 1.0, 0.0), std::nullopt},
                      GuardCase{binary(OpCode::Div, 1.0, -1e-300), 1.0 / -1e-300},
                      GuardCase{unary(OpCode::Exp, 709.0), std::exp(709.0)},
                      GuardCase{unary(OpCode::Exp, 710.0), std::nullopt},
                      GuardCase{binary(OpCode::Mul, 1e200, 1e200), std::nullopt},
                      GuardCase{binary(OpCode::Vok, 1000.0, 1.0), std::exp(std::log(1000.0))},
                      GuardCase{binary(OpCode::Vok, 0.0, 0.0), 1.0 - std::log(1e-300)},
                      GuardCase{binary(OpCode::Vok, 0.0, -1.0), 1.0},
                      GuardCase{unary(OpCode::Neg, kNaN), std::nullopt},
                      GuardCase{unary(OpCode::Abs, -2.0), 2.0}));

// The operators taken on request, at their domain and overflow edges.
INSTANTIATE_TEST_SUITE_P(
    OnRequest, Guards,
    ::testing::Values(GuardCase{unary(OpCode::Square, 1.4e154), std::nullopt},
                      GuardCase{unary(OpCode::Cube, -0.0), -0.0},
                      GuardCase{unary(OpCode::Cube, 0.1), (0.1 * 0.1) * 0.1},
                      GuardCase{unary(OpCode::Asin, 1.0), std::asin(1.0)},
                      GuardCase{unary(OpCode::Asin, std::nextafter(1.0, 2.0)), std::nullopt},
                      GuardCase{unary(OpCode::Acos, std::nextafter(-1.0, -2.0)), std::nullopt},
                      GuardCase{unary(OpCode::Acos, kNaN), std::nullopt}));

TEST(Expr, LeavesAreNotTestedForFiniteness) {
    const auto bare = run(program({T::var(0)}), {kNaN});
    ASSERT_TRUE(bare);
    EXPECT_TRUE(std::isnan(*bare));
    EXPECT_FALSE(run(program({T::var(0), T::oper(OpCode::Abs)}), {kNaN}));
}

TEST(Expr, BatchIsAllOrNothing) {
    std::vector<Column> cols{Column(1000, 2.0)};
    const Expr ln_x = program({T::var(0), T::oper(OpCode::Ln)});
    auto all = ln_x.eval_batch(cols, {});
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 1000u);
    cols[0][517] = -1.0;
    EXPECT_FALSE(ln_x.eval_batch(cols, {}));
}

TEST(Expr, BatchOverNoRowsIsAnEmptyValue) {
    std::vector<Column> cols{Column{}};
    auto r = program({T::var(0)}).eval_batch(cols, {});
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->empty());
}

TEST(Expr, BatchRefusesShapesItCannotRead) {
    const Expr x = program({T::var(0)});
    EXPECT_THROW((void)x.eval_batch(std::vector<Column>{}, {}), std::invalid_argument);
    EXPECT_THROW((void)x.eval_batch(std::vector<Column>{{1, 2, 3}, {1, 2}}, {}),
                 std::invalid_argument);
}

TEST(Expr, LongProgramsUseTheHeapStack) {
    std::vector<Token> t;
    for (int i = 0; i < 200; ++i) t.push_back(T::constant(1.0));
    for (int i = 0; i < 199; ++i) t.push_back(T::oper(OpCode::Add));
    EXPECT_EQ(run(program(t)), 200.0);
}

}  // namespace
}  // namespace vok
