// Candidate scoring: evaluate, measure, weight by size; levels in parallel.
#include "beam/score.hpp"

#include <algorithm>

#include "beam/optimizer.hpp"
#include "beam/search.hpp"

namespace vok::beam {
namespace {

// Ranges per worker: enough to even out uneven candidates, few enough that
// each range's buffer and result list are allocated rarely.
constexpr std::size_t kRangesPerWorker = 16;

// The plain error below which the optimizer is asked to refine a candidate.
constexpr double kOptimizeBelow = 2.0;

}  // namespace

std::optional<SearchResult> score_candidate(const Expr& candidate, std::span<const Column> x_cols,
                                            std::span<const double> y, const SearchConfig& config,
                                            std::vector<double>& scratch) {
    scratch.resize(x_cols.front().size());
    if (!candidate.eval_rows_into(x_cols, {}, scratch)) return std::nullopt;
    const double plain = rmse(scratch, y);

    std::vector<double> params;
    double fit = plain;
    if (plain < kOptimizeBelow) {
        Fit refined = optimize(candidate, x_cols, y, {});
        params = std::move(refined.params);
        fit = refined.error;
    }
    std::string formula = candidate.to_string();
    const std::uint64_t complexity = candidate.tokens.size();
    const double error =
        fit * ((config.complexity_penalty * static_cast<double>(complexity)) + 1.0);
    return SearchResult{std::move(formula), std::move(params), candidate, error, complexity};
}

std::vector<SearchResult> score_level(std::span<const Expr> candidates,
                                      std::span<const Column> x_cols, std::span<const double> y,
                                      const SearchConfig& config, ThreadPool& pool,
                                      const BatchControl* control) {
    check_columns(x_cols);
    const std::size_t n = candidates.size();
    const std::size_t n_ranges = std::min(n, pool.size() * kRangesPerWorker);
    std::vector<std::vector<SearchResult>> ranges(n_ranges);
    const std::atomic<bool>* cancel = control != nullptr ? control->cancel : nullptr;

    auto score_range = [&](std::size_t r) {
        // Range r covers [n*r/R, n*(r+1)/R): contiguous, in order, covering all.
        const std::size_t begin = n * r / n_ranges;
        const std::size_t end = n * (r + 1) / n_ranges;
        std::vector<double> scratch;
        std::vector<SearchResult>& out = ranges[r];
        for (std::size_t i = begin; i < end; ++i) {
            if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return;
            if (auto scored = score_candidate(candidates[i], x_cols, y, config, scratch))
                out.push_back(std::move(*scored));
        }
    };
    if (!pool.parallel_for(n_ranges, score_range, control)) throw SearchCancelled{};

    std::size_t total = 0;
    for (const auto& range : ranges) total += range.size();
    std::vector<SearchResult> results;
    results.reserve(total);
    for (auto& range : ranges) std::move(range.begin(), range.end(), std::back_inserter(results));
    return results;
}

void update_best(std::optional<SearchResult>& best, std::span<const SearchResult> results) {
    for (const SearchResult& r : results) {
        if (!best || r.error < best->error) best = r;
    }
}

}  // namespace vok::beam
