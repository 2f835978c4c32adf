// Beam search: outcomes independent of the worker count, the stopping rules,
// the operator switches, input checks and cancellation.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "beam/search.hpp"
#include "test_values.hpp"

namespace vok::beam {
namespace {

using namespace vok::test;  // kNaN, kInf, bits

struct Outcome {
    std::optional<SearchResult> best;
    SearchStats stats;
};

Outcome run(const std::vector<Column>& x, const std::vector<double>& y, const SearchConfig& config,
            ThreadPool* pool = nullptr) {
    SearchControl control;
    control.pool = pool;
    Outcome r;
    r.best = search(x, y, x.size(), config, &control);
    r.stats = control.stats;
    return r;
}

SearchConfig with(std::uint64_t max_complexity, std::uint64_t beam_width = 2000) {
    SearchConfig c;
    c.max_complexity = max_complexity;
    c.beam_width = beam_width;
    return c;
}

// A target no small formula fits exactly, so every level runs.
const std::vector<Column> kTwoVars{{0.3, 1.1, 2.7, 3.2, 4.9}, {1.5, 0.2, 0.9, 2.2, 3.3}};
const std::vector<double> kHard{0.71, 2.35, 1.02, 7.7, 4.4};

TEST(Search, SameOutcomeWithOneTwoAndSevenWorkers) {
    std::vector<Outcome> runs;
    for (const std::size_t n : {1, 2, 7}) {
        ThreadPool pool(n);
        runs.push_back(run(kTwoVars, kHard, with(6, 200), &pool));
    }
    ASSERT_TRUE(runs[0].best);
    EXPECT_GT(runs[0].stats.levels, 3u);
    for (const Outcome& r : runs) {
        ASSERT_TRUE(r.best);
        EXPECT_EQ(r.best->formula, runs[0].best->formula);
        EXPECT_EQ(bits(r.best->error), bits(runs[0].best->error));
        EXPECT_EQ(r.best->complexity, runs[0].best->complexity);
        EXPECT_EQ(r.stats.scored, runs[0].stats.scored);
        EXPECT_EQ(r.stats.results, runs[0].stats.results);
    }
}

struct LevelCase {
    std::uint64_t max_complexity;
    std::uint64_t beam_width;
    std::uint64_t levels;
};

class SearchLevels : public testing::TestWithParam<LevelCase> {};

TEST_P(SearchLevels, StopsWhereTheBoundsSay) {
    const LevelCase& c = GetParam();
    const Outcome r = run(kTwoVars, kHard, with(c.max_complexity, c.beam_width));
    ASSERT_TRUE(r.best);
    EXPECT_EQ(r.stats.levels, c.levels);
    EXPECT_EQ(r.stats.generated, r.stats.no_fingerprint + r.stats.duplicates + r.stats.scored);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, SearchLevels,
    testing::Values(LevelCase{0, 2000, 1}, LevelCase{1, 2000, 1}, LevelCase{2, 2000, 2},
                    LevelCase{3, 2000, 3},
                    // Under 4 nothing joins the pool, so level 3 finds only known values.
                    LevelCase{8, 0, 2}, LevelCase{8, 1, 2}, LevelCase{8, 2, 2}, LevelCase{8, 3, 2},
                    LevelCase{5, 4, 5}));

struct ExactCase {
    std::vector<Column> x;
    std::vector<double> y;
    const char* formula;
    std::uint64_t complexity;
    std::uint64_t n_vars;
};

class ExactTargets : public testing::TestWithParam<ExactCase> {};

TEST_P(ExactTargets, AreFoundWithTheirVariableCount) {
    const ExactCase& c = GetParam();
    const Outcome r = run(c.x, c.y, with(8));
    ASSERT_TRUE(r.best);
    EXPECT_EQ(r.best->formula, c.formula);
    EXPECT_EQ(bits(r.best->error), bits(0.0));
    EXPECT_EQ(r.best->complexity, c.complexity);
    EXPECT_EQ(r.best->expr.n_vars, c.n_vars);
    EXPECT_TRUE(r.best->params.empty());
    if (c.complexity == 1) {
        EXPECT_EQ(r.stats.levels, 1u);  // an exact leaf ends the search
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, ExactTargets,
                         testing::Values(ExactCase{kTwoVars, kTwoVars[0], "x", 1, 1},
                                         ExactCase{{{1, 2}, {5, 7}}, {5, 7}, "y", 1, 2},
                                         ExactCase{{{0, 1, 2, 3}}, {0, 1, 4, 9}, "(x * x)", 3, 1}));

TEST(Search, ErrorEqualToGoalStops) {
    // Both constants miss by 0.5 and the variable by more: the best leaf error is
    // 0.5 x 1.001, and a goal of exactly that ends the search after the leaves.
    const std::vector<Column> x{{9, 9}};
    const std::vector<double> y{0.5, 0.5};
    const double leaf_error = 0.5 * ((0.001 * 1.0) + 1.0);
    SearchConfig config = with(3);
    config.precision_goal = leaf_error;
    EXPECT_EQ(run(x, y, config).stats.levels, 1u);
    config.precision_goal = std::nextafter(leaf_error, 0.0);
    EXPECT_GT(run(x, y, config).stats.levels, 1u);
}

struct SwitchCase {
    bool use_trig;
    bool use_vok;
};

class OperatorSwitches : public testing::TestWithParam<SwitchCase> {};

TEST_P(OperatorSwitches, DisabledOperatorsNeverAppear) {
    const std::vector<Column> x{{0.5, 1.0, 1.5, 2.0, 2.5}};
    std::vector<double> sin_y, vok_y;
    for (const double v : x[0]) {
        sin_y.push_back(std::sin(v));
        vok_y.push_back(std::exp(v) - std::log(v));
    }
    SearchConfig config = with(4, 40);
    config.use_trig = GetParam().use_trig;
    config.use_vok = GetParam().use_vok;
    const std::string sin_f = run(x, sin_y, config).best.value().formula;
    const std::string vok_f = run(x, vok_y, config).best.value().formula;
    for (const std::string& f : {sin_f, vok_f}) {
        const auto has = [&](const char* name) { return f.find(name) != std::string::npos; };
        EXPECT_FALSE(has("abs("));
        EXPECT_FALSE(!config.use_trig && (has("sin(") || has("cos("))) << f;
        EXPECT_FALSE(!config.use_vok && has("vok(")) << f;
    }
    // Positive control: with the operator enabled, the exact form is found.
    if (config.use_trig) {
        EXPECT_EQ(sin_f, "sin(x)");
    }
    if (config.use_vok) {
        EXPECT_EQ(vok_f, "vok(x, x)");
    }
}

INSTANTIATE_TEST_SUITE_P(Switches, OperatorSwitches,
                         testing::Values(SwitchCase{true, true}, SwitchCase{false, true},
                                         SwitchCase{true, false}, SwitchCase{false, false}));

TEST(Search, NaNErrorsSortLastAndNeverWin) {
    // With no targets every error is NaN: the first leaf stays best and every
    // level still sorts, cuts and feeds the pool.
    const Outcome r = run(kTwoVars, {}, with(4, 8));
    ASSERT_TRUE(r.best);
    EXPECT_EQ(r.best->formula, "0.0000");
    EXPECT_TRUE(std::isnan(r.best->error));
    EXPECT_EQ(r.stats.levels, 4u);
}

TEST(Search, RejectsMalformedColumnsBeforeWork) {
    const std::vector<double> y{1};
    EXPECT_THROW((void)search({}, y, 0, SearchConfig{}), std::invalid_argument);
    const std::vector<Column> ragged{{1, 2}, {1}};
    EXPECT_THROW((void)search(ragged, y, 2, SearchConfig{}), std::invalid_argument);
}

// Each limit leaves the outcome as it is or refuses the search, wherever the
// refusal lands: the candidate list, the fingerprint set (grown inside worker
// tasks), the scoring state or the pool. Nothing the Python surface can set.
TEST(Search, MemoryLimitRefusesOrLeavesTheOutcomeAlone) {
    ThreadPool pool(2);
    const Outcome unlimited = run(kTwoVars, kHard, with(6), &pool);
    ASSERT_TRUE(unlimited.best);
    int refused = 0;
    bool last_found = false;
    for (std::size_t limit = 1 << 12; limit <= std::size_t{1} << 26; limit += limit / 4) {
        SearchControl control;
        control.pool = &pool;
        control.memory_limit = limit;
        last_found = false;
        try {
            const auto best = search(kTwoVars, kHard, 2, with(6), &control);
            ASSERT_TRUE(best);
            EXPECT_EQ(best->formula, unlimited.best->formula);
            EXPECT_EQ(bits(best->error), bits(unlimited.best->error));
            EXPECT_EQ(control.stats.results, unlimited.stats.results);
            last_found = true;
        } catch (const MemoryLimitExceeded& e) {
            // The refusal says what it needed, beyond the limit that was set.
            EXPECT_EQ(e.limit(), limit);
            EXPECT_GT(e.needed(), limit);
            ++refused;
        }
    }
    EXPECT_GT(refused, 5);
    EXPECT_TRUE(last_found);
}

class SearchCancel : public testing::TestWithParam<int> {};

// The callback says stop after some number of polls: between levels, during
// generation or while a level is being scored.
TEST_P(SearchCancel, ThrowsAndLeavesTheEngineUsable) {
    ThreadPool pool(2);
    SearchControl control;
    control.pool = &pool;
    control.poll_period = std::chrono::milliseconds(1);
    int polls = 0;
    control.keep_going = [&] { return ++polls <= GetParam(); };
    EXPECT_THROW((void)search(kTwoVars, kHard, 2, with(8), &control), SearchCancelled);
    EXPECT_EQ(polls, GetParam() + 1);

    SearchControl plain;
    plain.pool = &pool;
    const auto best = search(kTwoVars, kTwoVars[1], 2, with(8), &plain);
    ASSERT_TRUE(best);
    EXPECT_EQ(best->formula, "y");
}

INSTANTIATE_TEST_SUITE_P(Polls, SearchCancel, testing::Values(0, 1, 3));

}  // namespace
}  // namespace vok::beam
