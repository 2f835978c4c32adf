// The fast search against the plain reference search, on seeded random data
// (NaN, infinities, signed zeros, ragged targets) and random small settings:
// the same result to the last bit and the same candidate counts.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#include "beam/search.hpp"
#include "test_values.hpp"

namespace vok::beam {
namespace {

using namespace vok::test;  // kNaN, kInf, bits

struct Case {
    std::vector<Column> x;
    std::vector<double> y;
    std::uint64_t n_vars;
    SearchConfig config;
};

std::string describe(const Case& c) {
    std::ostringstream s;
    s << "rows " << c.x.front().size() << " cols " << c.x.size() << " n_vars " << c.n_vars << " y "
      << c.y.size() << " max_complexity " << c.config.max_complexity << " beam "
      << c.config.beam_width << " penalty " << c.config.complexity_penalty << " goal "
      << c.config.precision_goal << " trig " << c.config.use_trig << " vok " << c.config.use_vok;
    return s.str();
}

double hostile(std::mt19937_64& rng, int odds) {
    static const double special[] = {0.0, -0.0, kInf, -kInf, kNaN, 1e-300, 1e300, -1.0};
    if (std::uniform_int_distribution<int>(0, odds)(rng) == 0)
        return special[std::uniform_int_distribution<int>(0, 7)(rng)];
    return std::uniform_real_distribution<double>(-3.0, 3.0)(rng);
}

Case random_case(std::mt19937_64& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Case c;
    const int cols = pick(1, 3);
    const int rows = pick(0, 6) == 0 ? pick(0, 2) : pick(3, 40);
    const int odds = pick(0, 1) ? 60 : 8;  // mostly clean data, sometimes hostile
    c.x.assign(cols, Column(rows));
    for (Column& col : c.x)
        for (double& v : col) v = hostile(rng, odds);
    // Targets: a law of the first column, plain noise, or a ragged length.
    const int y_rows = pick(0, 5) == 0 ? pick(0, rows + 3) : rows;
    for (int i = 0; i < y_rows; ++i) {
        const double x0 = i < rows ? c.x[0][i] : 1.0;
        c.y.push_back(pick(0, 1) ? x0 * x0 + 0.5 * std::sin(x0) : hostile(rng, odds));
    }
    c.n_vars = pick(0, 8) == 0 ? static_cast<std::uint64_t>(pick(0, cols + 1)) : cols;
    c.config.max_complexity = static_cast<std::uint64_t>(pick(0, 7));
    const int beams[] = {0, 3, 4, 9, 40, 200, 2000};
    c.config.beam_width = static_cast<std::uint64_t>(beams[pick(0, 6)]);
    const double penalties[] = {0.001, 0.001, 0.0, -0.0, 0.5, -0.4, -2.0, 1e300, kNaN};
    c.config.complexity_penalty = penalties[pick(0, 8)];
    const double goals[] = {1e-10, 1e-10, 0.0, -1.0, 0.3, kNaN};
    c.config.precision_goal = goals[pick(0, 5)];
    c.config.use_trig = pick(0, 3) != 0;
    c.config.use_vok = pick(0, 3) != 0;
    return c;
}

void expect_same(const Case& c, std::size_t row_store_bytes = kRowStoreBytes) {
    SearchControl fast_control, ref_control;
    fast_control.row_store_bytes = row_store_bytes;
    const auto fast = search(c.x, c.y, c.n_vars, c.config, &fast_control);
    const auto ref = search_reference(c.x, c.y, c.n_vars, c.config, &ref_control);
    const std::string where = describe(c);
    ASSERT_EQ(fast.has_value(), ref.has_value()) << where;
    if (ref) {
        EXPECT_EQ(fast->formula, ref->formula) << where;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(fast->error),
                  std::bit_cast<std::uint64_t>(ref->error))
            << where << " fast " << fast->error << " reference " << ref->error;
        EXPECT_EQ(fast->complexity, ref->complexity) << where;
        EXPECT_EQ(fast->params, ref->params) << where;
        EXPECT_EQ(fast->expr.n_vars, ref->expr.n_vars) << where;
        EXPECT_EQ(fast->expr.tokens.size(), ref->expr.tokens.size()) << where;
    }
    const SearchStats& f = fast_control.stats;
    const SearchStats& r = ref_control.stats;
    EXPECT_EQ(f.levels, r.levels) << where;
    EXPECT_EQ(f.generated, r.generated) << where;
    EXPECT_EQ(f.no_fingerprint, r.no_fingerprint) << where;
    EXPECT_EQ(f.duplicates, r.duplicates) << where;
    EXPECT_EQ(f.scored, r.scored) << where;
    // Early stops only ever take away from the candidates scored in full.
    EXPECT_EQ(f.results + f.pruned <= r.scored, true) << where;
    EXPECT_LE(f.results, r.results) << where;
}

TEST(SearchDifferential, RandomSmallSearchesMatchTheReference) {
    std::mt19937_64 rng(0x5EA4C4);
    for (int trial = 0; trial < 150; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        // Every third search stores few or no row values, so pool entries are
        // computed from the ones they were built from, or from their programs.
        const std::size_t store =
            trial % 3 == 0 ? (trial % 2) * 40 * sizeof(double) : kRowStoreBytes;
        expect_same(random_case(rng), store);
        if (testing::Test::HasFailure()) return;
    }
}

// Long enough for pruning to bite at the default beam, with one target that
// no small formula fits and one that an exact formula ends early.
TEST(SearchDifferential, DefaultSettingsMatchTheReference) {
    std::mt19937_64 rng(99);
    Case c;
    c.x.assign(2, Column(120));
    for (Column& col : c.x)
        for (double& v : col) v = std::uniform_real_distribution<double>(0.2, 3.0)(rng);
    c.n_vars = 2;
    c.config.max_complexity = 6;
    for (int i = 0; i < 120; ++i)
        c.y.push_back(std::exp(-c.x[0][i]) * c.x[1][i] + 0.01 * std::sin(7.0 * i));
    expect_same(c);
    expect_same(c, 50 * 120 * sizeof(double));  // room for the leaves and a few more
    c.y.clear();
    for (int i = 0; i < 120; ++i) c.y.push_back(c.x[0][i] / (c.x[1][i] + 1.0));
    expect_same(c);
}

}  // namespace
}  // namespace vok::beam
