// The state of one enumeration: entries, seen keys, operands per size, and
// the steering (budgets, polling, cancelling) of the sizes being worked on.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/candidate_fit.hpp"
#include "enumeration/entry_table.hpp"
#include "enumeration/enumerate.hpp"
#include "enumeration/front_fit.hpp"
#include "enumeration/front_keeping.hpp"
#include "enumeration/key_set.hpp"
#include "enumeration/slot_layout.hpp"
#include "runtime/thread_pool.hpp"

namespace vok::enumeration {

class Enumerator {
public:
    // weights: one per row of y, or empty (settings.weights is not read: a
    // search on a subset of the rows takes theirs).
    Enumerator(std::span<const Column> x_cols, std::span<const double> y,
               std::span<const double> weights, const EnumerationSettings& settings,
               EnumerationControl* control);
    Enumerator(const Enumerator&) = delete;
    Enumerator& operator=(const Enumerator&) = delete;

    // Sizes 1 .. last, the largest scored with pruning and per-segment dedup
    // unless it is below max_size. When last is max_size, a size too large to
    // grow within the budgets is scored that way too if it fits, and the
    // sizes above it are a beam. False once a budget or the caller stopped it.
    bool run_through(std::uint32_t last);

    // For a search on a subset of these rows: target_rmse is then met by a
    // size only when one of its front fits every row within it.
    void measure_target_on(std::span<const Column> x_cols, std::span<const double> y,
                           std::span<const double> weights);

    // The largest size over slots [begin, end) only.
    void run_largest(std::uint64_t begin, std::uint64_t end);

    [[nodiscard]] std::uint64_t slots_of(std::uint32_t size) const;

    // The compact state a slice needs, and its inverse.
    [[nodiscard]] std::vector<std::uint8_t> save_state() const;
    void load_state(std::span<const std::uint8_t> state);

    EnumerationResult finish();

private:
    // A size's steps, on this state: growth.cpp, entry_scoring.cpp, largest_size.cpp.
    friend class Growth;
    template <class Rows>
    friend class EntryScoring;
    template <class Rows>
    friend class LargestSize;

    bool grow(std::uint32_t size);  // a size below the largest
    void score_entries(std::uint32_t size, std::uint32_t first, std::uint32_t count,
                       SizeReport& report);
    [[nodiscard]] std::vector<std::uint32_t> valid_of_size(std::uint32_t size) const;
    void plan(std::uint32_t size);
    [[nodiscard]] bool needs_beam(std::uint32_t size, bool largest) const;
    [[nodiscard]] bool ends_complete(std::uint32_t size) const;
    void run_complete_last(std::uint32_t size);
    void use_beam();
    void leaves();
    bool poll();
    void stop(StopReason reason) noexcept;
    [[nodiscard]] bool stopped() const noexcept { return stop_code_.load() >= 0; }
    bool run_tasks(std::size_t n, const std::function<void(std::size_t)>& body);
    void add_front(std::uint32_t size, std::vector<Ranked> top);
    [[nodiscard]] Expr expr_of(const Ranked& r) const;
    [[nodiscard]] bool reaches_target(std::uint32_t size);
    [[nodiscard]] double elapsed() const;
    [[nodiscard]] std::uint64_t data_hash() const;
    [[nodiscard]] bool out_of_time() const;

    std::span<const Column> x_cols_;
    std::span<const double> y_;
    const EnumerationSettings& settings_;
    EnumerationControl* control_;
    std::size_t rows_;
    FitTarget target_;
    std::vector<ProbeArray> var_probes_;
    unsigned drop_bits_;
    std::size_t memory_budget_;
    EntryTable table_;
    ShardedKeySet seen_;
    // Per entry: its rank as an operand of a beam (the error, or its estimate
    // when scaled); NaN when it has no value on some row.
    std::vector<double> entry_rank_;
    std::vector<std::uint32_t> size_begin_;  // first entry id of each size (and one past the last)
    OperandLists operands_;
    bool beam_ = false;
    // The size scored like the largest: max_size, or a smaller one that ends
    // the complete sizes (run_complete_last).
    std::uint32_t largest_size_;

    ThreadPool pool_;
    std::atomic<bool> cancel_{false};
    BatchControl batch_;
    std::atomic<int> stop_code_{-1};  // a StopReason once stopped
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_progress_;

    std::atomic<std::uint64_t> done_{0};
    std::uint64_t expected_ = 0;
    std::uint32_t current_size_ = 0;
    double best_sse_;
    double last_slot_seconds_ = 0.0;  // seconds per slot of the last size grown
    double last_distinct_share_ = 1.0;

    std::vector<Ranked> front_;  // entries, sizes in order
    std::vector<std::uint32_t> front_sizes_;
    std::vector<SizeReport> reports_;
    std::uint64_t evaluations_ = 0;

    // Every row, when the search runs on a subset of them (measure_target_on).
    std::span<const Column> all_x_;
    std::span<const double> all_y_;
    std::span<const double> all_w_;
    std::unique_ptr<RowFitter> all_rows_;  // made at the first size it measures
};

}  // namespace vok::enumeration
