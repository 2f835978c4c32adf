// Candidate scoring: the error measure and its weighting, level order under any
// worker count, and best tracking with ties and NaN.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "beam/score.hpp"
#include "beam/search.hpp"
#include "test_values.hpp"

namespace vok::beam {
namespace {

using namespace vok::test;  // kNaN, kInf, bits

using T = Token;

struct ScoreCase {
    const char* name;
    std::vector<Token> program;
    std::vector<Column> x;
    std::vector<double> y;
    double penalty;
    std::optional<double> error;  // none: the candidate leaves no result
};

class ScoreOne : public testing::TestWithParam<ScoreCase> {};

TEST_P(ScoreOne, WeightsThePlainErrorBySize) {
    const ScoreCase& c = GetParam();
    SearchConfig config;
    config.complexity_penalty = c.penalty;
    const Expr e{c.program, 1};
    std::vector<double> scratch;
    const auto r = score_candidate(e, c.x, c.y, config, scratch);
    ASSERT_EQ(r.has_value(), c.error.has_value());
    if (!r) return;
    if (std::isnan(*c.error)) {
        EXPECT_TRUE(std::isnan(r->error)) << r->error;
    } else {
        EXPECT_EQ(bits(r->error), bits(*c.error)) << r->error << " vs " << *c.error;
    }
    EXPECT_EQ(r->complexity, c.program.size());
    EXPECT_EQ(r->formula, e.to_string());
}

const std::vector<Token> kX{T::var(0)};
const std::vector<Token> kOne{T::constant(1.0)};
const std::vector<Token> kXPlusX{T::var(0), T::var(0), T::oper(OpCode::Add)};

INSTANTIATE_TEST_SUITE_P(
    Cases, ScoreOne,
    testing::Values(
        ScoreCase{"ExactLeaf", kX, {{1, 2, 3}}, {1, 2, 3}, 0.001, 0.0},
        ScoreCase{"UnitMiss", kOne, {{0, 0}}, {0, 0}, 0.001, 1.0 * ((0.001 * 1.0) + 1.0)},
        ScoreCase{"NoPenalty", kOne, {{0, 0}}, {3, 3}, 0.0, 2.0},
        ScoreCase{"NegativePenalty", kOne, {{0}}, {2}, -0.5, 1.0 * ((-0.5 * 1.0) + 1.0)},
        // Exactly 2.0 stays the plain error (the optimizer would give the same).
        ScoreCase{"ThresholdSized", kXPlusX, {{1}}, {0}, 0.001, 2.0 * ((0.001 * 3.0) + 1.0)},
        // Fewer rows than targets: the sum still divides by the target count.
        ScoreCase{"ShortRows", kX, {{3}}, {0, 5}, 0.001, std::sqrt(4.5) * ((0.001 * 1.0) + 1.0)},
        ScoreCase{"SurplusRows", kX, {{1, 2, 100}}, {1, 2}, 0.001, 0.0},
        ScoreCase{"EmptyTargets", kX, {{1, 2}}, {}, 0.001, kNaN},
        ScoreCase{"NaNTarget", kOne, {{0}}, {kNaN}, 0.001, kNaN},
        ScoreCase{"InfiniteTarget", kOne, {{0}}, {kInf}, 0.001, kInf},
        ScoreCase{"NaNInputThroughLeaf", kX, {{kNaN}}, {0}, 0.001, kNaN},
        ScoreCase{"NoRowsNoTargets", kX, {{}}, {}, 0.001, kNaN},
        ScoreCase{"DomainFailure",
                  {T::var(0), T::oper(OpCode::Ln)},
                  {{1, 0}},
                  {0, 0},
                  0.001,
                  std::nullopt},
        ScoreCase{"MissingVariable", {T::var(1)}, {{1}}, {1}, 0.001, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Every fourth candidate fails; the others must come back in candidate order.
std::vector<Expr> mixed_level(int n) {
    std::vector<Expr> level;
    for (int k = 0; k < n; ++k) {
        if (k % 4 == 3)
            level.push_back({{T::constant(-k), T::oper(OpCode::Ln)}, 1});
        else
            level.push_back({{T::var(0), T::constant(k), T::oper(OpCode::Mul)}, 1});
    }
    return level;
}

class ScoreLevelWorkers : public testing::TestWithParam<std::size_t> {};

TEST_P(ScoreLevelWorkers, ResultsFollowCandidateOrder) {
    ThreadPool pool(GetParam());
    const std::vector<Column> x{{0.5, 1.5, 2.5}};
    const std::vector<double> y{1, 2, 3};
    const std::vector<Expr> level = mixed_level(1001);
    const auto results = score_level(level, x, y, SearchConfig{}, pool);
    std::vector<double> scratch;
    std::size_t at = 0;
    for (const Expr& e : level) {
        const auto expected = score_candidate(e, x, y, SearchConfig{}, scratch);
        if (!expected) continue;
        ASSERT_LT(at, results.size());
        EXPECT_EQ(results[at].formula, expected->formula);
        EXPECT_EQ(bits(results[at].error), bits(expected->error));
        ++at;
    }
    EXPECT_EQ(at, results.size());
    EXPECT_EQ(results.size(), 751u);
}

TEST_P(ScoreLevelWorkers, CancelledLevelThrows) {
    ThreadPool pool(GetParam());
    std::atomic<bool> cancel{true};
    BatchControl control{&cancel, {}, std::chrono::milliseconds(50)};
    const std::vector<Column> x{{1}};
    const std::vector<double> y{1};
    EXPECT_THROW((void)score_level(mixed_level(10), x, y, SearchConfig{}, pool, &control),
                 SearchCancelled);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScoreLevelWorkers, testing::Values(1, 2, 7));

SearchResult named(const char* formula, double error) {
    return SearchResult{formula, {}, Expr{}, error, 1};
}

struct BestCase {
    const char* name;
    std::optional<SearchResult> start;
    std::vector<SearchResult> results;
    const char* winner;  // null: best stays absent
};

class UpdateBest : public testing::TestWithParam<BestCase> {};

TEST_P(UpdateBest, KeepsTheEarliestStrictlySmallest) {
    std::optional<SearchResult> best = GetParam().start;
    update_best(best, GetParam().results);
    if (GetParam().winner == nullptr) {
        EXPECT_FALSE(best);
    } else {
        ASSERT_TRUE(best);
        EXPECT_EQ(best->formula, GetParam().winner);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateBest,
    testing::Values(
        BestCase{"EmptyLeavesAbsent", std::nullopt, {}, nullptr},
        BestCase{"FirstTakenWhenAbsent", std::nullopt, {named("a", 5), named("b", 6)}, "a"},
        BestCase{"TieKeepsEarliest", std::nullopt, {named("a", 1), named("b", 1)}, "a"},
        BestCase{"TieKeepsPresent", named("p", 1), {named("a", 1)}, "p"},
        BestCase{"SmallerReplaces",
                 named("p", 1),
                 {named("a", 2), named("b", 0.5), named("c", 0.5)},
                 "b"},
        BestCase{"NaNTakenWhenAbsent", std::nullopt, {named("n", kNaN), named("a", 0)}, "n"},
        BestCase{"NaNNeverReplaces", named("p", 3), {named("n", kNaN)}, "p"},
        BestCase{"NegativeZeroTiesZero", named("p", 0.0), {named("m", -0.0)}, "p"},
        BestCase{"InfinityReplacedByFinite", named("p", kInf), {named("a", 1e308)}, "a"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vok::beam
