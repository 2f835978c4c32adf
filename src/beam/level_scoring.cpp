// A level scored in three passes. Every candidate first gets a few rows, which
// give a lower bound on its error; the `keep` most promising are then scored in
// full, and the largest of their errors bounds what can still be kept; the rest
// are scored against that bound and stop as soon as they pass it.
//
// Exactness: the squared differences are summed in row order from -0.0 and
// the error is sqrt(sum / |y|) x (penalty x size + 1), as a full scoring does.
// Each step is monotone in the running sum, whose terms are never negative, so
// an error computed from part of the rows never exceeds the final one.
#include "beam/level_scoring.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vok::beam {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Below this many row evaluations a batch runs on the calling thread: waking
// the workers would cost more than the work.
constexpr std::size_t kInlineWork = std::size_t{1} << 13;

// Row evaluations that pruning must be able to save before a level is scored
// in passes rather than in full.
constexpr std::size_t kPruneWork = 160'000;

// Candidates per task. Fixed, not derived from the worker count, so which
// candidates are stopped early (and the counters) never depend on it.
constexpr std::size_t kBlock = 64;

// Rows every candidate gets before the bound is known; later runs double.
constexpr std::size_t kFirstRun = 16;

// Blocks in the first wave of the last pass; later waves double. Fixed, like
// the blocks, so the bounds each wave starts from never depend on the workers.
constexpr std::size_t kFirstWaveBlocks = 8;

enum class State : std::uint8_t { Partial, NoValue, Pruned, Scored };

// One candidate's scoring so far.
struct Progress {
    double sum = -0.0;  // squared differences of the rows before `row`
    std::size_t row = 0;
    State state = State::Partial;
};

class Scorer {
public:
    Scorer(const SearchPool& pool, std::span<const double> y, double penalty)
        : pool_(pool),
          y_(y),
          penalty_(penalty),
          rows_(pool.row_count()),
          m_(std::min(rows_, y.size())),
          n_y_(static_cast<double>(y.size())) {}

    [[nodiscard]] double error(const Combination& c, double sum) const {
        return std::sqrt(sum / n_y_) * factor(c);
    }

    // Evaluates rows up to `stop`; stops as Pruned once the error so far is
    // above bound, as NoValue at a row without a value, as Scored at the end.
    void advance(const Combination& c, Progress& p, std::size_t stop, double bound) const {
        const double f = factor(c);
        const bool may_prune = bound < kInf && f > 0.0 && !y_.empty();
        auto past = [&] { return may_prune && std::sqrt(p.sum / n_y_) * f > bound; };
        if (p.row > 0 && p.row < rows_ && past()) {
            p.state = State::Pruned;
            return;
        }
        while (p.row < stop) {
            const std::size_t len = std::min(std::clamp(p.row, kFirstRun, kRowChunk), stop - p.row);
            const double* values = combination_run(pool_, c, p.row, len);
            if (values == nullptr) {
                p.state = State::NoValue;
                return;
            }
            const std::size_t end = std::min(p.row + len, m_);
            double sum = p.sum;
            for (std::size_t i = p.row; i < end; ++i) {
                const double d = values[i - p.row] - y_[i];
                sum += d * d;
            }
            p.sum = sum;
            p.row += len;
            if (p.row < rows_ && past()) {
                p.state = State::Pruned;
                return;
            }
        }
        if (p.row == rows_) p.state = State::Scored;
    }

    [[nodiscard]] std::size_t rows() const noexcept { return rows_; }

private:
    [[nodiscard]] double factor(const Combination& c) const {
        return (penalty_ * static_cast<double>(c.size)) + 1.0;
    }

    const SearchPool& pool_;
    std::span<const double> y_;
    double penalty_;
    std::size_t rows_;
    std::size_t m_;
    double n_y_;
};

// Keeps only the `keep` smallest of the numbered errors (which of equal values
// does not matter: only values count) and returns the largest of them, or
// +inf when there are fewer.
double keep_smallest(BudgetVector<double>& errors, std::size_t keep) {
    if (errors.size() < keep) return kInf;
    std::nth_element(errors.begin(), errors.begin() + static_cast<std::ptrdiff_t>(keep - 1),
                     errors.end());
    errors.resize(keep);
    return errors[keep - 1];
}

// The keep smallest errors known to one task: a max-heap whose top, once it
// is full, bounds the errors that can still be kept.
class KeptErrors {
public:
    void reset(std::span<const double> seed, std::size_t keep) {
        keep_ = keep;
        heap_.assign(seed.begin(), seed.end());
        std::make_heap(heap_.begin(), heap_.end());
    }
    [[nodiscard]] double bound() const noexcept {
        return heap_.size() == keep_ ? heap_.front() : kInf;
    }
    void add(double e) {
        if (std::isnan(e)) return;
        if (heap_.size() == keep_) {
            if (!(e < heap_.front())) return;
            std::pop_heap(heap_.begin(), heap_.end());
            heap_.pop_back();
        }
        heap_.push_back(e);
        std::push_heap(heap_.begin(), heap_.end());
    }

private:
    std::size_t keep_ = 0;
    std::vector<double> heap_;
};

// The `keep` candidates still partial with the smallest error so far, in
// that order (ties by index, NaN last): the likeliest members of the kept part.
BudgetVector<std::uint32_t> most_promising(std::span<const Combination> candidates,
                                           std::span<const Progress> progress, const Scorer& scorer,
                                           std::size_t keep, MemoryBudget* budget) {
    BudgetVector<std::pair<double, std::uint32_t>> keyed{
        BudgetAllocator<std::pair<double, std::uint32_t>>(budget)};
    for (std::uint32_t i = 0; i < progress.size(); ++i) {
        if (progress[i].state != State::Partial) continue;
        const double e = scorer.error(candidates[i], progress[i].sum);
        keyed.emplace_back(std::isnan(e) ? kInf : e, i);
    }
    const std::size_t take = std::min(keep, keyed.size());
    std::partial_sort(keyed.begin(), keyed.begin() + static_cast<std::ptrdiff_t>(take),
                      keyed.end());
    keyed.resize(take);
    BudgetVector<std::uint32_t> chosen{BudgetAllocator<std::uint32_t>(budget)};
    chosen.reserve(keyed.size());
    for (const auto& k : keyed) chosen.push_back(k.second);
    return chosen;
}

}  // namespace

bool run_tasks(ThreadPool& workers, std::size_t n_tasks, std::size_t work,
               const std::function<void(std::size_t)>& body, const BatchControl* control) {
    if (work < kInlineWork) {
        for (std::size_t t = 0; t < n_tasks; ++t) body(t);
        return control == nullptr || control->cancel == nullptr || !control->cancel->load();
    }
    return workers.parallel_for(n_tasks, body, control);
}

// One function on purpose: its three passes (each marked below) share the candidates'
// progress and the bound of kept errors, which steps of their own would all have to carry.
bool score_level_pruned(std::span<const Combination> candidates, const SearchPool& pool,
                        std::span<const double> y, double complexity_penalty, std::size_t keep,
                        ThreadPool& workers, const BatchControl* control,
                        BudgetVector<LevelScore>& out, LevelCounts& counts) {
    MemoryBudget* const budget = out.get_allocator().budget();
    const Scorer scorer(pool, y, complexity_penalty);
    const std::size_t n = candidates.size();
    const std::size_t rows = scorer.rows();
    const std::size_t blocks = (n + kBlock - 1) / kBlock;
    BudgetVector<Progress> progress(n, BudgetAllocator<Progress>(budget));
    auto for_blocks = [&](std::size_t work, auto&& per_block) {
        return run_tasks(
            workers, blocks, work,
            [&](std::size_t b) { per_block(b * kBlock, std::min(n, (b + 1) * kBlock)); }, control);
    };
    // Pruning pays only for the candidates past the most promising (which are
    // mostly scored in full anyway), and only when that saves more than the
    // extra passes cost.
    const std::size_t beyond = n > keep + keep / 2 ? n - keep - keep / 2 : 0;
    const bool pruning = keep > 0 && n > keep && beyond * rows >= kPruneWork;
    // The keep smallest numbered errors known.
    BudgetVector<double> kept{BudgetAllocator<double>(budget)};
    std::vector<bool, BudgetAllocator<bool>> collected(n, false, BudgetAllocator<bool>(budget));
    auto collect = [&](std::size_t i) {
        if (collected[i] || progress[i].state != State::Scored) return;
        collected[i] = true;
        const double e = scorer.error(candidates[i], progress[i].sum);
        if (!std::isnan(e)) kept.push_back(e);
    };
    // Takes the partial candidates index_of(0 .. count-1) to the last row, in
    // fixed blocks; each block starts from the keep smallest errors known and
    // tightens its own copy of that bound as its candidates finish.
    auto finish = [&](std::size_t count, auto index_of, std::size_t bound_keep, std::size_t work) {
        return run_tasks(
            workers, (count + kBlock - 1) / kBlock, work,
            [&](std::size_t b) {
                thread_local KeptErrors local;
                local.reset(kept, bound_keep);
                for (std::size_t k = b * kBlock; k < std::min(count, (b + 1) * kBlock); ++k) {
                    const std::size_t i = index_of(k);
                    if (progress[i].state != State::Partial) continue;
                    scorer.advance(candidates[i], progress[i], rows, local.bound());
                    if (progress[i].state == State::Scored)
                        local.add(scorer.error(candidates[i], progress[i].sum));
                }
            },
            control);
    };

    // Pass 1: a few rows each (all of them when nothing can be pruned).
    const std::size_t first = pruning ? std::min(rows, kFirstRun) : rows;
    if (!for_blocks(n * std::max<std::size_t>(first, 1), [&](std::size_t b, std::size_t e) {
            for (std::size_t i = b; i < e; ++i)
                scorer.advance(candidates[i], progress[i], first, kInf);
        }))
        return false;

    if (pruning) {
        for (std::size_t i = 0; i < n; ++i) collect(i);
        // Pass 2: the most promising, the first `keep` of them in full for a
        // bound, then as many again against it (a margin for those that turn
        // out to have no value on some row).
        const BudgetVector<std::uint32_t> chosen =
            most_promising(candidates, progress, scorer, 2 * keep, budget);
        for (std::size_t from = 0; from < chosen.size(); from += keep) {
            const auto part = std::span(chosen).subspan(from, std::min(keep, chosen.size() - from));
            if (!finish(
                    part.size(), [&](std::size_t k) { return part[k]; },
                    from == 0 ? SIZE_MAX : keep, part.size() * rows))
                return false;
            for (const std::uint32_t i : part) collect(i);
            (void)keep_smallest(kept, keep);
        }

        // Pass 3: the rest against the bound, in waves of growing length that
        // each start from the bound of the waves before.
        std::size_t wave_blocks = kFirstWaveBlocks;
        for (std::size_t start = 0; start < blocks; start += wave_blocks, wave_blocks *= 2) {
            const std::size_t lo = start * kBlock;
            const std::size_t hi = std::min(n, (start + wave_blocks) * kBlock);
            // Most of these stop within a few runs of rows.
            if (!finish(
                    hi - lo, [lo](std::size_t k) { return lo + k; }, keep, (hi - lo) * 4 * first))
                return false;
            for (std::size_t i = lo; i < hi; ++i) collect(i);
            (void)keep_smallest(kept, keep);
        }
    }

    out.clear();
    kept.clear();
    for (std::uint32_t i = 0; i < n; ++i) {
        if (progress[i].state == State::Pruned) ++counts.pruned;
        if (progress[i].state != State::Scored) continue;
        ++counts.results;
        out.push_back({i, scorer.error(candidates[i], progress[i].sum)});
        if (!std::isnan(out.back().error)) kept.push_back(out.back().error);
    }
    // Past a finite bound a result (NaN included) cannot be kept: drop it
    // here rather than sort it.
    const double bound = pruning ? keep_smallest(kept, keep) : kInf;
    if (bound < kInf)
        std::erase_if(out, [bound](const LevelScore& r) { return !(r.error <= bound); });
    return true;
}

}  // namespace vok::beam
