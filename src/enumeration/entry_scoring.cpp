// The entries of a size below the largest, scored: each one's rank as an
// operand of a beam, its fit offered to the size's front, and its rows
// stored where they are worth keeping for the sizes above.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

#include "core/column_ops.hpp"
#include "enumeration/approx_ops.hpp"
#include "enumeration/enumerator.hpp"
#include "enumeration/row_weighting.hpp"
#include "enumeration/stand_in_verdict.hpp"

namespace vok::enumeration {
namespace {

// Row evaluations per scoring task: enough to amortise a task, few enough
// that a stop is seen quickly on long data.
constexpr std::size_t kRowsPerTask = std::size_t{1} << 20;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace

// Its steps are inline: a member of a class with external linkage is
// otherwise interposable under -fPIC, and GCC would never inline it. Those of
// an entry are always inlined into score_task, as one loop body. Rows: the
// search's sums (row_weighting.hpp).
template <class Rows>
class EntryScoring {
public:
    EntryScoring(Enumerator& run, std::uint32_t size, std::uint32_t first, std::uint32_t count);
    void run(SizeReport& report);

private:
    // One task's buffers and front.
    struct Task {
        Task(std::size_t rows, bool grown, std::vector<Ranked>& front)
            : buffers(rows), approx(grown ? rows : 0), top(front) {}
        RowBuffers buffers;
        std::vector<double> approx;  // a stand-in's values
        std::vector<Ranked>& top;
    };

    void cut_to_budget();
    void choose_places();
    void score_task(std::size_t task);
    void score_entry(Task& task, std::uint32_t i);
    [[nodiscard]] const double* operator_values(Task& task, std::uint32_t i, bool& ranked);
    void fit_entry(Task& task, std::uint32_t id, const double* f, bool ranked, Fit& fit);
    void gather(SizeReport& report, bool finished);

    Enumerator& run_;
    const EntryTable& table_;
    const FitTarget& target_;
    std::vector<double>& rank_;  // the enumerator's entry_rank_
    const std::uint32_t size_;
    const std::uint32_t first_;
    std::uint32_t count_;
    const std::size_t rows_;
    const std::size_t keep_;
    const bool scaled_;
    std::vector<double*> places_;  // per entry, where its rows are stored (null: not stored)
    std::size_t per_task_ = 1;
    std::vector<std::vector<Ranked>> tops_;  // per task
    // Its own cache line: workers lower it while all read the fields above.
    alignas(64) std::atomic<double> bound_{kInf};
};

template <class Rows>
inline EntryScoring<Rows>::EntryScoring(Enumerator& run, std::uint32_t size, std::uint32_t first,
                                        std::uint32_t count)
    : run_(run),
      table_(run.table_),
      target_(run.target_),
      rank_(run.entry_rank_),
      size_(size),
      first_(first),
      count_(count),
      rows_(run.rows_),
      keep_(run.settings_.front_size),
      scaled_(run.settings_.scaling) {}

template <class Rows>
inline void EntryScoring<Rows>::run(SizeReport& report) {
    cut_to_budget();
    choose_places();
    per_task_ = std::max<std::size_t>(1, kRowsPerTask / std::max<std::size_t>(rows_, 1));
    tops_.resize((count_ + per_task_ - 1) / per_task_);
    const bool finished = run_.pool_.parallel_for(
        tops_.size(), [this](std::size_t task) { score_task(task); }, &run_.batch_);
    gather(report, finished);
}

template <class Rows>
inline void EntryScoring<Rows>::cut_to_budget() {
    const std::uint64_t budget = run_.settings_.max_evaluations;
    if (budget == 0) return;
    const std::uint64_t left = budget - std::min(budget, run_.evaluations_);
    if (count_ > left) {
        count_ = static_cast<std::uint32_t>(left);
        run_.stop(StopReason::Evaluations);
    }
}

// Operands of binary operators at the largest size are at most two tokens
// smaller: those are worth keeping rows for. Where the bound leaves room for
// only some, library calls go first: arithmetic is computed again from its
// operands for a tenth of their cost.
template <class Rows>
inline void EntryScoring<Rows>::choose_places() {
    places_.assign(count_, nullptr);
    if (size_ <= 1 || size_ + 2 > run_.settings_.max_size) return;
    bool room = true;
    for (const bool library_call : {true, false}) {
        for (std::uint32_t i = 0; i < count_ && room; ++i) {
            if (has_approx(table_.node(first_ + i).op) != library_call) continue;
            room = (places_[i] = run_.table_.take_place(first_ + i)) != nullptr;
        }
    }
}

template <class Rows>
inline void EntryScoring<Rows>::score_task(std::size_t task) {
    Task t(rows_, size_ > 1, tops_[task]);
    const std::size_t lo = task * per_task_;
    const std::size_t hi = std::min<std::size_t>(count_, lo + per_task_);
    for (std::size_t i = lo; i < hi; ++i) score_entry(t, static_cast<std::uint32_t>(i));
}

template <class Rows>
[[gnu::always_inline]] inline void EntryScoring<Rows>::score_entry(Task& t, std::uint32_t i) {
    const std::uint32_t id = first_ + i;
    Fit fit;
    if (size_ > 1 && scaled_ && places_[i] == nullptr && table_.constant(id) &&
        Rows::fit_constant_scaled(target_, fit)) {
        // Its probe value on every row: the rank and the fit are known.
        rank_[id] = target_.syy;
        take(t.top, keep_, bound_,
             Ranked{fit.sse, table_.order(id), fit.scale, fit.offset, OpCode::Neg, id, kNoOperand,
                    true});
        return;
    }
    bool ranked = false;
    const double* f = size_ == 1 ? table_.rows_of(id, t.buffers) : operator_values(t, i, ranked);
    if (f != nullptr) fit_entry(t, id, f, ranked, fit);
}

// An operator entry's rows, or null when it is out (ranked tells whether its
// rank is set already).
template <class Rows>
[[gnu::always_inline]] inline const double* EntryScoring<Rows>::operator_values(Task& t,
                                                                                std::uint32_t i,
                                                                                bool& ranked) {
    const std::uint32_t id = first_ + i;
    const OpCode op = table_.node(id).op;
    const double* a = nullptr;
    const double* b = nullptr;
    if (!table_.operand_rows(id, t.buffers, a, b)) return nullptr;
    // With a stand-in that covers the rows, the rank comes from it, so an
    // entry needs exact values only to be stored or fitted (and it has a
    // value on every row).
    double value_error = 0.0;
    if (has_approx(op) && approx_rows(op, a, b, t.approx.data(), rows_, value_error)) {
        ranked = true;
        const double cut = bound_.load(std::memory_order_relaxed);
        const StandInVerdict verdict =
            judge_near<Rows>(t.approx.data(), target_, scaled_, value_error, cut);
        rank_[id] = std::isfinite(verdict.rank) ? verdict.rank : kInf;
        if (verdict.out_of_reach && places_[i] == nullptr) return nullptr;
    }
    // Arithmetic over two operands is ranked straight from them; its values
    // are taken only to be stored or fitted.
    if (!ranked && scaled_ && places_[i] == nullptr && b != nullptr && estimated_in_one_pass(op)) {
        ScaledEstimate estimate;
        if (!Rows::scaled_estimate_binary(op, a, b, target_, estimate))
            return nullptr;  // rank stays NaN
        ranked = true;
        rank_[id] = std::isnan(estimate.value) ? kInf : estimate.value;
        if (estimate.exceeds(bound_.load(std::memory_order_relaxed))) return nullptr;
    }
    double* out = places_[i] != nullptr ? places_[i] : t.buffers.at(0);
    if (apply_rows(op, a, b, out, rows_)) return out;
    rank_[id] = kNaN;  // (never after a stand-in: its range has values)
    return nullptr;
}

// The rank of an operand for a beam comes from the same sums for every
// entry, so it never depends on what was stopped early.
template <class Rows>
[[gnu::always_inline]] inline void EntryScoring<Rows>::fit_entry(Task& t, std::uint32_t id,
                                                                 const double* f, bool ranked,
                                                                 Fit& fit) {
    if (!scaled_) {
        const bool fitted = Rows::fit_plain(f, target_, fit);
        if (!ranked) rank_[id] = fitted ? fit.sse : kInf;
        if (!fitted) return;
    } else {
        if (!ranked) {
            const ScaledEstimate estimate = Rows::scaled_estimate(f, target_);
            rank_[id] = std::isnan(estimate.value) ? kInf : estimate.value;
            if (estimate.exceeds(bound_.load(std::memory_order_relaxed))) return;
        }
        if (!Rows::fit_scaled(f, target_, fit)) return;
    }
    take(t.top, keep_, bound_,
         Ranked{fit.sse, table_.order(id), fit.scale, fit.offset, OpCode::Neg, id, kNoOperand,
                true});
}

template <class Rows>
inline void EntryScoring<Rows>::gather(SizeReport& report, bool finished) {
    run_.evaluations_ += count_;
    report.scored += count_;
    if (!finished) return;
    for (std::uint32_t i = 0; i < count_; ++i)
        report.valid += std::isnan(rank_[first_ + i]) ? 0 : 1;
    std::vector<Ranked> top;
    for (const auto& t : tops_) {
        for (const Ranked& r : t) offer(top, keep_, r);
    }
    run_.add_front(size_, std::move(top));
}

void Enumerator::score_entries(std::uint32_t size, std::uint32_t first, std::uint32_t count,
                               SizeReport& report) {
    if (target_.weighted()) {
        EntryScoring<Weighted>(*this, size, first, count).run(report);
    } else {
        EntryScoring<Unweighted>(*this, size, first, count).run(report);
    }
}

}  // namespace vok::enumeration
