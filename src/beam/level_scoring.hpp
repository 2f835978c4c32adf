// Scoring a level of combinations in parallel, leaving a candidate's remaining
// rows unevaluated once its error cannot reach the part of the level that is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "beam/combination.hpp"
#include "runtime/memory_budget.hpp"
#include "runtime/thread_pool.hpp"

namespace vok::beam {

struct LevelScore {
    std::uint32_t index;  // into the level's candidates
    double error;         // rmse x (complexity_penalty x size + 1)
};

struct LevelCounts {
    std::uint64_t results = 0;  // evaluated on every row
    std::uint64_t pruned = 0;   // stopped part-way
};

// Scores every candidate and returns, in candidate order, a list that holds
// every result among the `keep` smallest errors of the level, so its stably
// sorted first `keep` entries and its smallest error are exactly those of
// scoring everything. Which candidates are stopped early depends only on the
// candidates and the data, never on the worker count or timing. Returns false
// when cancelled. The working arrays, like out, are charged to the budget of
// out's allocator.
[[nodiscard]] bool score_level_pruned(std::span<const Combination> candidates,
                                      const SearchPool& pool, std::span<const double> y,
                                      double complexity_penalty, std::size_t keep,
                                      ThreadPool& workers, const BatchControl* control,
                                      BudgetVector<LevelScore>& out, LevelCounts& counts);

// Runs body(task) for tasks [0, n): on the calling thread when the work is too
// small to be worth waking the workers, else on the pool. False when cancelled.
[[nodiscard]] bool run_tasks(ThreadPool& workers, std::size_t n_tasks, std::size_t work,
                             const std::function<void(std::size_t)>& body,
                             const BatchControl* control);

}  // namespace vok::beam
