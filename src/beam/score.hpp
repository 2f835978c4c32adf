// Scoring candidates against the samples, and keeping the best result of a search.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/expr.hpp"
#include "runtime/thread_pool.hpp"

namespace vok::beam {

struct SearchConfig;

struct SearchResult {
    std::string formula;
    std::vector<double> params;
    Expr expr;
    double error = 0.0;  // fit x (complexity_penalty x complexity + 1)
    std::uint64_t complexity = 0;
};

// Thrown by a search or a level's scoring that its caller cancelled.
struct SearchCancelled : std::exception {
    [[nodiscard]] const char* what() const noexcept override { return "search cancelled"; }
};

// One candidate; no result when it cannot be evaluated on every row. scratch
// is resized to the row count and reused for the predictions. The columns
// must already have passed check_columns.
[[nodiscard]] std::optional<SearchResult> score_candidate(const Expr& candidate,
                                                          std::span<const Column> x_cols,
                                                          std::span<const double> y,
                                                          const SearchConfig& config,
                                                          std::vector<double>& scratch);

// A level, scored on the pool in contiguous ranges joined in candidate order,
// so the output never depends on the worker count. Throws SearchCancelled when
// control cancels it, and std::invalid_argument for columns of the wrong shape.
[[nodiscard]] std::vector<SearchResult> score_level(std::span<const Expr> candidates,
                                                    std::span<const Column> x_cols,
                                                    std::span<const double> y,
                                                    const SearchConfig& config,
                                                    ThreadPool& pool = ThreadPool::global(),
                                                    const BatchControl* control = nullptr);

// Folds results, in order, into best with plain less-than: the earliest of
// equal errors wins, and a NaN neither replaces nor is replaced by a present best.
void update_best(std::optional<SearchResult>& best, std::span<const SearchResult> results);

}  // namespace vok::beam
