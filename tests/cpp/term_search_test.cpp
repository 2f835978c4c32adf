// The combination search of several-term laws: the same bits with any worker
// count, the exact combination found, and memory refused before any work.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "runtime/memory_budget.hpp"
#include "terms/term_search.hpp"

namespace vok::terms {
namespace {

struct Data {
    std::vector<Column> columns;
    std::vector<double> y;
    std::vector<Expr> programs;  // every product of two variables, then every variable
};

Data products_data() {
    Data d;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(1.0, 5.0);
    d.columns.assign(5, Column(120));
    for (auto& c : d.columns)
        for (double& v : c) v = u(rng);
    for (std::size_t i = 0; i < 120; ++i)
        d.y.push_back(d.columns[0][i] * d.columns[1][i] + 2.5 * d.columns[2][i] * d.columns[3][i] -
                      d.columns[4][i]);
    for (std::uint64_t a = 0; a < 5; ++a)
        for (std::uint64_t b = a + 1; b < 5; ++b)
            d.programs.push_back(Expr{{Token::var(a), Token::var(b), Token::oper(OpCode::Mul)}, 5});
    for (std::uint64_t a = 0; a < 5; ++a) d.programs.push_back(Expr{{Token::var(a)}, 5});
    return d;
}

TEST(TermSearch, SameBitsWithAnyWorkerCountAndTheLawFirst) {
    const Data d = products_data();
    std::vector<TermSearchResult> runs;
    for (std::uint64_t n : {1, 2, 3}) {
        TermSearchSettings s;
        s.n_threads = n;
        runs.push_back(search_combinations(d.programs, d.columns, d.y, {}, s));
    }
    for (const auto& r : runs) {
        ASSERT_EQ(r.best.size(), runs[0].best.size());
        for (std::size_t i = 0; i < r.best.size(); ++i) {
            EXPECT_EQ(r.best[i].terms, runs[0].best[i].terms);
            EXPECT_EQ(r.best[i].sse, runs[0].best[i].sse);
        }
    }
    const Combination* best = &runs[0].best[0];
    for (const auto& c : runs[0].best)
        if (c.count == 3 && c.sse < best->sse) best = &c;
    EXPECT_EQ(best->count, 3u);
    EXPECT_EQ(best->terms[0], 0u);   // x0 x1
    EXPECT_EQ(best->terms[1], 7u);   // x2 x3
    EXPECT_EQ(best->terms[2], 14u);  // x4
    const std::vector<Expr> law{d.programs[0], d.programs[7], d.programs[14]};
    const auto fit = fit_combination(law, d.columns, d.y, {});
    ASSERT_TRUE(fit.has_value());
    EXPECT_NEAR(fit->coefficients[1], 2.5, 1e-12);
    EXPECT_NEAR(fit->coefficients[2], -1.0, 1e-12);
}

TEST(TermSearch, RefusesMemoryBeforeAnyWork) {
    const Data d = products_data();
    TermSearchSettings s;
    s.memory_limit = 1000;
    EXPECT_THROW((void)search_combinations(d.programs, d.columns, d.y, {}, s), MemoryLimitExceeded);
    s.memory_limit = 0;
    s.max_terms = 6;
    EXPECT_THROW((void)search_combinations(d.programs, d.columns, d.y, {}, s),
                 std::invalid_argument);
}

}  // namespace
}  // namespace vok::terms
