// Column-wise evaluation against the row-by-row evaluator, bit for bit, on
// seeded random programs (malformed ones included) and hostile data.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "alloc_count.hpp"
#include "core/column_ops.hpp"
#include "core/op_apply.hpp"
#include "test_values.hpp"

namespace vok {
namespace {

using namespace vok::test;  // kNaN, kInf, bits

// Values that sit on every guard and finiteness edge.
const double kSpecial[] = {0.0,    -0.0,
                           1.0,    -1.0,
                           1e-300, -1e-300,
                           1e-301, 5e-324,
                           709.78, 710.0,
                           -745.0, 1e200,
                           -1e200, 1.7976931348623157e308,
                           kInf,   -kInf,
                           kNaN,   3.141592653589793,
                           0.5,    2.0};

double random_value(std::mt19937_64& rng) {
    std::uniform_int_distribution<int> pick(0, 3);
    if (pick(rng) == 0) {
        std::uniform_int_distribution<std::size_t> i(0, std::size(kSpecial) - 1);
        return kSpecial[i(rng)];
    }
    return std::uniform_real_distribution<double>(-4.0, 4.0)(rng);
}

// Mostly well-formed postfix programs; sometimes a missing operand, an extra
// value, a variable past the columns or a parameter token.
std::vector<Token> random_program(std::mt19937_64& rng, std::size_t n_vars) {
    std::uniform_int_distribution<int> len(1, 12);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<int> op(0, kOpCodeCount - 1);
    std::vector<Token> t;
    std::size_t depth = 0;
    const int n = len(rng);
    for (int k = 0; k < n; ++k) {
        const int choice = kind(rng);
        if (choice < 4 && depth > 0) {
            const auto code = static_cast<OpCode>(op(rng));
            if (arity(code) == 2 && depth < 2 && kind(rng) > 0) continue;
            t.push_back(Token::oper(code));
            depth = arity(code) <= static_cast<int>(depth) ? depth - arity(code) + 1 : 0;
        } else if (choice < 7) {
            t.push_back(Token::var(std::uniform_int_distribution<std::size_t>(0, n_vars)(rng)));
            ++depth;
        } else if (choice < 9) {
            t.push_back(Token::constant(random_value(rng)));
            ++depth;
        } else {
            t.push_back(Token::param(std::uniform_int_distribution<std::uint64_t>(0, 2)(rng),
                                     random_value(rng)));
            ++depth;
        }
    }
    while (depth > 1 && kind(rng) > 1) {
        t.push_back(Token::oper(static_cast<OpCode>(8 + op(rng) % 5)));
        --depth;
    }
    return t;
}

TEST(ColumnOps, ProgramsMatchTheRowEvaluator) {
    std::mt19937_64 rng(20240611);
    ColumnEvaluator eval;
    for (int trial = 0; trial < 3000; ++trial) {
        const std::size_t n_vars = std::uniform_int_distribution<std::size_t>(1, 3)(rng);
        // Row counts across the run length, so partial runs are covered.
        const std::size_t rows = std::uniform_int_distribution<std::size_t>(0, 2)(rng) == 0
                                     ? std::uniform_int_distribution<std::size_t>(250, 600)(rng)
                                     : std::uniform_int_distribution<std::size_t>(0, 12)(rng);
        std::vector<Column> cols(n_vars, Column(rows));
        const bool hostile = trial % 3 == 0;
        for (Column& c : cols)
            for (double& v : c)
                v = hostile ? random_value(rng)
                            : std::uniform_real_distribution<double>(0.1, 3.0)(rng);
        const Expr e{random_program(rng, n_vars), n_vars};
        const std::vector<double> params =
            trial % 2 ? std::vector<double>{0.25, -3.0} : std::vector<double>{};

        std::vector<double> want(rows);
        bool all = !e.tokens.empty() || rows == 0;
        std::vector<double> row(n_vars);
        for (std::size_t i = 0; all && i < rows; ++i) {
            for (std::size_t v = 0; v < n_vars; ++v) row[v] = cols[v][i];
            const std::optional<double> r = e.eval(row, params);
            if (!r)
                all = false;
            else
                want[i] = *r;
        }
        std::vector<double> got(rows);
        ASSERT_EQ(eval.run(e.tokens, cols, params, 0, rows, got.data()), all) << "trial " << trial;
        if (!all) continue;
        for (std::size_t i = 0; i < rows; ++i)
            ASSERT_EQ(std::bit_cast<std::uint64_t>(got[i]), std::bit_cast<std::uint64_t>(want[i]))
                << "trial " << trial << " row " << i;
    }
}

TEST(ColumnOps, ReusedEvaluatorDoesNotAllocate) {
    const std::vector<Column> cols{Column(1000, 0.5), Column(1000, 2.0)};
    const std::vector<Token> program{Token::var(0), Token::var(1), Token::oper(OpCode::Vok),
                                     Token::oper(OpCode::Sin)};
    ColumnEvaluator eval;
    std::vector<double> out(1000);
    ASSERT_TRUE(eval.run(program, cols, {}, 0, 1000, out.data()));
    EXPECT_EQ(testing::allocations_during(
                  [&] { (void)eval.run(program, cols, {}, 0, 1000, out.data()); }),
              0u);
}

// The divisor test, in vector lanes with a scalar tail, flags a value below
// LN_FLOOR in magnitude wherever it sits, and neither the floor itself nor NaN.
TEST(ColumnOps, DivisorTestFindsAValueBelowTheFloorAnywhere) {
    const double below = std::nextafter(LN_FLOOR, 0.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t n : {1, 3, 4, 5, 8, 203}) {
        std::vector<double> v(n, 2.0);
        v[n / 2] = LN_FLOOR;
        v[0] = -LN_FLOOR;
        v[n - 1] = nan;
        EXPECT_FALSE(any_below_floor(v.data(), n)) << n;
        for (std::size_t at = 0; at < n; ++at) {
            for (double x : {below, -below, 0.0, -0.0, 4.9e-324}) {
                std::vector<double> w(n, 2.0);
                w[at] = x;
                ASSERT_TRUE(any_below_floor(w.data(), n)) << n << " " << at << " " << x;
            }
        }
    }
}

// sin and cos from one call give apply_unary_rows' bits: arguments of every
// exponent (the large ones take the library's slow reduction), and the
// special values that are finite.
TEST(ColumnOps, SinAndCosTogetherAreEachOnItsOwn) {
    std::mt19937_64 rng(31);
    std::vector<double> a;
    for (double x : kSpecial)
        if (std::isfinite(x)) a.push_back(x);
    for (int i = 0; i < 200000; ++i) {
        const double x = std::bit_cast<double>(rng());
        if (std::isfinite(x)) a.push_back(x);
        a.push_back(
            std::ldexp(std::uniform_real_distribution<double>(-1.0, 1.0)(rng), i % 1080 - 60));
    }
    std::vector<double> sin_pair(a.size()), cos_pair(a.size()), sin_one(a.size()),
        cos_one(a.size());
    apply_sin_cos_rows(a.data(), sin_pair.data(), cos_pair.data(), a.size());
    ASSERT_TRUE(apply_unary_rows(OpCode::Sin, a.data(), sin_one.data(), a.size()));
    ASSERT_TRUE(apply_unary_rows(OpCode::Cos, a.data(), cos_one.data(), a.size()));
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(bits(sin_pair[i]), bits(sin_one[i])) << a[i];
        ASSERT_EQ(bits(cos_pair[i]), bits(cos_one[i])) << a[i];
    }
}

}  // namespace
}  // namespace vok
