// The combination search of several-term laws: screening, then every
// combination of the screened terms walked in parallel.
#include "terms/term_search.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "core/system_memory.hpp"
#include "runtime/memory_budget.hpp"
#include "runtime/thread_pool.hpp"
#include "terms/best_table.hpp"
#include "terms/combination_walker.hpp"
#include "terms/term_columns.hpp"

namespace vok::terms {
namespace {

// |correlation| this close to 1: a scaled copy of an earlier term.
constexpr double kCopy = 1e-9;

// Combinations of 2 .. max_terms among k terms, as a double (no overflow).
double combinations_of(std::size_t k, std::uint32_t max_terms) noexcept {
    double total = 0.0;
    double c = static_cast<double>(k);  // C(k, 1)
    for (std::uint32_t d = 2; d <= max_terms; ++d) {
        c = c * static_cast<double>(k + 1 - d) / d;
        if (c <= 0.0) break;
        total += c;
    }
    return total;
}

void check_settings(const TermSearchSettings& settings) {
    if (settings.max_terms < 2 || settings.max_terms > kMaxTerms)
        throw std::invalid_argument("max_terms must be between 2 and 5");
    if (settings.keep < 1) throw std::invalid_argument("keep must be at least 1");
}

// The terms that take part, with what the walk reads of them.
struct Screened {
    std::vector<std::uint32_t> program;  // the program of each, in the caller's order
    std::vector<double> corr;            // k x k correlations, 1 on the diagonal
    std::vector<double> with_y;          // each one's correlation with y
    std::vector<std::uint32_t> sizes;    // token counts
    std::uint32_t largest = 0;
};

// Valid, standardised programs; copies out, in the caller's order, then as many
// as the combination bound allows. Nothing when y is constant on the rows.
Screened screen(std::span<const Expr> programs, std::span<const Column> columns,
                std::span<const double> y, std::span<const double> weights,
                const TermSearchSettings& settings, ThreadPool& pool) {
    const std::size_t rows = y.size();
    const std::size_t n = programs.size();
    std::vector<double> values(n * rows);
    std::vector<std::uint8_t> valid(n, 0);
    evaluate_terms(programs, columns, rows, pool, values, valid);
    const double total = weight_total(weights, rows);
    std::vector<double> target(y.begin(), y.end());
    Screened out;
    if (!standardise(target, weights, total)) return out;  // nothing to explain
    pool.parallel_for(n, [&](std::size_t p) {
        if (valid[p])
            valid[p] = standardise(std::span(values).subspan(p * rows, rows), weights, total);
    });
    std::vector<std::uint32_t> live;
    for (std::uint32_t p = 0; p < n; ++p)
        if (valid[p]) live.push_back(p);
    const std::size_t v = live.size();
    std::vector<double> corr(v * v, 0.0);
    pool.parallel_for(v, [&](std::size_t j) {
        const double* b = values.data() + live[j] * rows;
        for (std::size_t i = 0; i < j; ++i)
            corr[j * v + i] = dot(values.data() + live[i] * rows, b, rows);
    });
    std::vector<std::uint32_t> kept;  // positions in live
    for (std::uint32_t j = 0; j < v; ++j) {
        const bool copy = std::any_of(kept.begin(), kept.end(), [&](std::uint32_t i) {
            return std::abs(corr[j * v + i]) > 1.0 - kCopy;
        });
        if (copy) continue;
        if (combinations_of(kept.size() + 1, settings.max_terms) >
            static_cast<double>(settings.max_combinations))
            break;
        kept.push_back(j);
    }
    const std::size_t k = kept.size();
    out.corr.assign(k * k, 1.0);
    out.with_y.resize(k);
    out.sizes.resize(k);
    for (std::size_t a = 0; a < k; ++a) {
        for (std::size_t b = 0; b < a; ++b) {
            const double c = corr[kept[a] * v + kept[b]];
            out.corr[a * k + b] = c;
            out.corr[b * k + a] = c;
        }
        const std::uint32_t p = live[kept[a]];
        out.program.push_back(p);
        out.with_y[a] = dot(values.data() + p * rows, target.data(), rows);
        out.sizes[a] = static_cast<std::uint32_t>(programs[p].tokens.size());
        out.largest = std::max(out.largest, out.sizes[a]);
    }
    return out;
}

// Every combination of the screened terms, a walk per first term, the workers'
// tables merged under a lock (the table's total order makes the merge order moot).
void walk_all(const Screened& s, double spread, const TermSearchSettings& settings,
              std::optional<Clock::time_point> deadline, TermControl* control, ThreadPool& pool,
              TermSearchResult& result) {
    const std::size_t k = s.program.size();
    const std::uint32_t max_terms = std::min<std::uint32_t>(settings.max_terms, k);
    BestTable best(max_terms, s.largest * max_terms, settings.keep);
    std::mutex merge;
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> fitted{0};
    BatchControl batch;
    batch.cancel = &stop;
    bool interrupted = false;
    if (control != nullptr && control->keep_going) {
        batch.poll_period = control->poll_period;
        batch.wait_hook = [&] {
            if (control->keep_going()) return true;
            interrupted = true;
            return false;
        };
    }
    pool.parallel_for(
        k,
        [&](std::size_t first) {
            BestTable local(max_terms, s.largest * max_terms, settings.keep);
            Walker walker(s.corr.data(), s.with_y.data(), s.sizes.data(), k, max_terms, spread,
                          local, stop, deadline);
            walker.walk_from(static_cast<std::uint32_t>(first));
            fitted.fetch_add(walker.fitted(), std::memory_order_relaxed);
            const std::lock_guard lock(merge);
            local.merge_into(best);
        },
        &batch);
    result.fitted = fitted.load();
    result.best = best.ranked();
    for (Combination& c : result.best)
        for (std::uint32_t d = 0; d < c.count; ++d) c.terms[d] = s.program[c.terms[d]];
    if (interrupted)
        result.stopped = TermStop::Interrupted;
    else if (stop.load())
        result.stopped = TermStop::Time;
}

}  // namespace

TermSearchResult search_combinations(std::span<const Expr> programs,
                                     std::span<const Column> columns, std::span<const double> y,
                                     std::span<const double> weights,
                                     const TermSearchSettings& settings, TermControl* control) {
    check_inputs(programs, columns, y, weights);
    check_settings(settings);
    std::optional<Clock::time_point> deadline;
    if (settings.time_limit > 0.0)
        deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(settings.time_limit));
    const std::size_t rows = y.size();
    const std::size_t n = programs.size();
    MemoryBudget budget(settings.memory_limit > 0 ? settings.memory_limit
                                                  : default_memory_budget());
    // The terms' values and y's, and the correlations of every pair.
    const ScopedCharge charge(
        budget, bytes_for(n + 1, bytes_for(rows, sizeof(double))) + bytes_for(n, n * 8 + 16));
    std::unique_ptr<ThreadPool> own;
    if (settings.n_threads > 0) own = std::make_unique<ThreadPool>(settings.n_threads);
    ThreadPool& pool = own ? *own : ThreadPool::global();

    TermSearchResult result;
    const Screened screened = screen(programs, columns, y, weights, settings, pool);
    result.screened = screened.program.size();
    if (result.screened < 2) return result;
    const double spread = spread_of(y, weights, weight_total(weights, rows));
    walk_all(screened, spread, settings, deadline, control, pool, result);
    return result;
}

}  // namespace vok::terms
