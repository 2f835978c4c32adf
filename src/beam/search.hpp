// The beam search driver: level-by-level enumeration of postfix expressions.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "beam/score.hpp"
#include "core/expr.hpp"
#include "runtime/memory_budget.hpp"
#include "runtime/thread_pool.hpp"

namespace vok::beam {

struct SearchConfig {
    std::uint64_t max_complexity = 8;
    std::uint64_t beam_width = 2000;
    double precision_goal = 1e-10;
    double complexity_penalty = 0.001;
    bool use_trig = true;
    bool use_vok = true;
};

// Memory for stored row values in a search: with the rest of a default search
// over 100 000 rows it stays well under 1 GiB.
inline constexpr std::size_t kRowStoreBytes = std::size_t{512} << 20;

// Counters of one search, for benchmarks and tests.
struct SearchStats {
    std::uint64_t levels = 0;          // scored levels, the leaves included
    std::uint64_t generated = 0;       // candidates built, leaves included
    std::uint64_t no_fingerprint = 0;  // dropped: not evaluable at the probe points
    std::uint64_t duplicates = 0;      // dropped: fingerprint already seen
    std::uint64_t scored = 0;          // candidates handed to scoring
    std::uint64_t results = 0;         // of those, evaluated on every sample row
    // Of those scored, stopped part-way because their error could no longer
    // reach the kept quarter-beam or the best (the reference search never stops
    // early, so there results counts every evaluable candidate).
    std::uint64_t pruned = 0;
};

// How a caller steers a running search. keep_going runs on the calling thread
// between levels, while a level is scored and during long candidate
// generation, about every poll_period; false ends the search with
// SearchCancelled once the workers have stopped.
struct SearchControl {
    std::function<bool()> keep_going;
    std::chrono::milliseconds poll_period{50};
    ThreadPool* pool = nullptr;  // null: the process-wide pool
    // Bound on the stored row values of the search's pool entries; past it
    // entries are computed from those they were built from. Speed only.
    std::size_t row_store_bytes = kRowStoreBytes;
    // Bound on what the search holds (its fingerprint set, pool and a level's
    // candidates and scoring state), checked before each allocation: past it
    // the search throws MemoryLimitExceeded, a std::bad_alloc. The budget
    // counts the large structures only: the caller's data, the interpreter,
    // allocator overhead and a sanitizer's shadow come on top. The fast search
    // only; the reference search takes what it needs.
    std::size_t memory_limit = default_memory_budget();
    SearchStats stats;  // filled in by the search
};

// Starts the process-wide pool the searches run on, if it is not running yet,
// and reads the hardware thread count the seen set is sharded by, so that the
// first search does not wait for new threads to be created and first
// scheduled before its first level is scored (milliseconds on a busy machine).
// When the system refuses every thread, the first search reports it.
void start_workers() noexcept;

// Precondition checked first: at least one column and none shorter than the
// first (std::invalid_argument otherwise). Absent only when nothing scored.
[[nodiscard]] std::optional<SearchResult> search(std::span<const Column> x_cols,
                                                 std::span<const double> y, std::uint64_t n_vars,
                                                 const SearchConfig& config,
                                                 SearchControl* control = nullptr);

// The same search done the plain way: every candidate built, fingerprinted and
// scored as a whole program. Slow; it is what search is tested against, and
// gives bit for bit the same result.
[[nodiscard]] std::optional<SearchResult> search_reference(std::span<const Column> x_cols,
                                                           std::span<const double> y,
                                                           std::uint64_t n_vars,
                                                           const SearchConfig& config,
                                                           SearchControl* control = nullptr);

}  // namespace vok::beam
