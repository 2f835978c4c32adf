// Beam search: leaves, then levels of unary and binary combinations of a growing
// pool, each level deduplicated by fingerprint, scored, sorted and cut.
//
// A candidate is held as (operator, operand indices) until it matters: its
// fingerprint is one operator on its operands' probe values, its predictions
// one operator on their stored row values, and its program and text are built
// only for pool entries and the best result. Generation order, the duplicate
// test, the errors and every tie-break are those of search_reference.
//
// Everything that grows with the pool and the levels (the fingerprint set,
// the pool, a level's candidates and scoring state) is charged to a memory
// budget before it is allocated, so a search too large for the machine ends
// with MemoryLimitExceeded instead of being killed; a level's candidate list
// is sized for every candidate it can generate before generating any.
#include "beam/search.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include "beam/combination.hpp"
#include "beam/fingerprint.hpp"
#include "beam/level_scoring.hpp"
#include "beam/search_pool.hpp"
#include "beam/search_steering.hpp"
#include "runtime/memory_budget.hpp"

namespace vok::beam {
namespace {

// Candidates fingerprinted together (in parallel) before their in-order insertion.
constexpr std::size_t kFingerprintBatch = 4096;

// The cost of fingerprinting and of inserting one candidate, counted in
// operator applications on one row (the unit of run_tasks' work estimate).
constexpr std::size_t kProbeWork = 16;
constexpr std::size_t kInsertWork = 8;

// Seen-set slots are requested this many inserts ahead of their use.
constexpr std::size_t kPrefetchAhead = 8;

// Unused room in the candidate list that is kept from one level to the next.
constexpr std::size_t kKeptRoomBytes = std::size_t{64} << 20;

bool builds_swapped(OpCode op) {
    return op == OpCode::Sub || op == OpCode::Div || op == OpCode::Vok;
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? UINT64_MAX : sum;
}

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

class Driver {
public:
    Driver(std::span<const Column> x_cols, std::span<const double> y, std::uint64_t n_vars,
           const SearchConfig& config, SearchControl* control)
        : x_cols_(x_cols),
          y_(y),
          n_vars_(n_vars),
          config_(config),
          steering_(control),
          workers_(steering_.workers()),
          ops_(operator_lists(config)),
          budget_(control != nullptr ? control->memory_limit : default_memory_budget()),
          seen_(&budget_),
          pool_(x_cols, control != nullptr ? control->row_store_bytes : kRowStoreBytes, budget_),
          next_(BudgetAllocator<Combination>(&budget_)) {}

    std::optional<SearchResult> run();

private:
    // Left uninitialised when allocated: every field is written before it is read.
    struct Pending {
        Combination c;
        bool has_fingerprint;  // written while fingerprinting
        bool is_new;           // written by the one task that inserts it
        std::uint64_t hash;
        ProbeValues values;
    };

    void run_or_cancel(std::size_t n_tasks, std::size_t work,
                       const std::function<void(std::size_t)>& body);
    void score_leaves();
    void generate(std::uint32_t a, std::uint32_t b, OpCode op, std::uint32_t size);
    [[gnu::noinline]] void flush_generated();
    template <class T>
    BudgetVector<T> budget_vector(std::size_t n = 0) {
        return BudgetVector<T>(n, BudgetAllocator<T>(&budget_));
    }
    void expand_level();
    void update_best(std::span<const LevelScore> results);
    void extend_pool(std::span<const LevelScore> sorted, std::size_t keep);
    bool reached_goal() const { return best_ && best_->error <= config_.precision_goal; }
    SearchStats& stats() { return steering_.stats(); }

    std::span<const Column> x_cols_;
    std::span<const double> y_;
    std::uint64_t n_vars_;
    const SearchConfig& config_;
    SearchSteering steering_;
    ThreadPool& workers_;
    OperatorLists ops_;
    MemoryBudget budget_;  // before everything charged to it
    SeenSet seen_;
    SearchPool pool_;
    std::unique_ptr<Pending[]> pending_;  // kFingerprintBatch entries, reused
    std::size_t n_pending_ = 0;
    // The entries [0, expanded_) of the pool have been combined among
    // themselves, giving known_generated_ candidates, known_no_fingerprint_
    // of them without a fingerprint.
    std::size_t expanded_ = 0;
    std::uint64_t known_generated_ = 0;
    std::uint64_t known_no_fingerprint_ = 0;
    BudgetVector<Combination> next_;
    std::optional<SearchResult> best_;  // a level's best gets its text at the end
    bool best_rendered_ = false;
};

void Driver::run_or_cancel(std::size_t n_tasks, std::size_t work,
                           const std::function<void(std::size_t)>& body) {
    if (!run_tasks(workers_, n_tasks, work, body, steering_.batch_control()))
        throw SearchCancelled{};
}

// The leaves go through the plain path: a handful of one-token programs.
void Driver::score_leaves() {
    std::vector<Expr> leaves;
    std::vector<ProbeValues> probes;
    auto admit = [&](Expr leaf) {
        ++stats().generated;
        steering_.generation_tick();
        const std::optional<ProbeValues> values = probe_values(leaf, n_vars_, {});
        if (!values) {
            ++stats().no_fingerprint;
            return;
        }
        if (seen_.insert(fingerprint_of(*values))) {
            ++stats().duplicates;
            return;
        }
        leaves.push_back(std::move(leaf));
        probes.push_back(*values);
    };
    for (const double c : {0.0, 1.0}) admit(Expr{{Token::constant(c)}, 0});
    for (std::uint64_t i = 0; i < n_vars_; ++i) admit(Expr{{Token::var(i)}, i + 1});

    std::vector<double> scratch;
    SearchStats& s = stats();
    ++s.levels;
    s.scored += leaves.size();
    for (const Expr& leaf : leaves) {
        std::optional<SearchResult> r = score_candidate(leaf, x_cols_, y_, config_, scratch);
        if (!r) continue;
        ++s.results;
        if (!best_ || r->error < best_->error) best_ = std::move(r);
    }
    best_rendered_ = true;
    for (std::size_t i = 0; i < leaves.size(); ++i) pool_.add_leaf(leaves[i], probes[i]);
}

// The batch is sized once; only the combination is written here, the rest
// by the fingerprinting tasks.
inline void Driver::generate(std::uint32_t a, std::uint32_t b, OpCode op, std::uint32_t size) {
    if (n_pending_ == kFingerprintBatch) flush_generated();
    if (!pending_) pending_ = std::make_unique_for_overwrite<Pending[]>(kFingerprintBatch);
    pending_[n_pending_++].c = {a, b, op, size};
}

// Fingerprints in parallel, then the duplicate test, also in parallel without
// changing its outcome: equal fingerprints always fall in the same shard, so
// inserting each shard's candidates in generation order (one task per group
// of shards) keeps the first of every set of equals, exactly as inserting the
// whole batch in order would.
void Driver::flush_generated() {
    const std::size_t n = n_pending_;
    if (n == 0) return;
    const std::size_t n_tasks = std::min(n, workers_.size() * 4);
    run_or_cancel(n_tasks, n * kProbeWork, [&](std::size_t task) {
        for (std::size_t i = n * task / n_tasks; i < n * (task + 1) / n_tasks; ++i) {
            Pending& p = pending_[i];
            p.has_fingerprint = combination_probes(pool_, p.c, p.values);
            p.is_new = false;
            if (p.has_fingerprint) p.hash = hash_value(fingerprint_of(p.values));
        }
    });
    // Each group scans the whole batch: worth it only for a full one.
    const std::size_t groups =
        n < kFingerprintBatch ? 1 : std::min(SeenSet::shard_count(), workers_.size() * 2);
    run_or_cancel(groups, n * kInsertWork, [&](std::size_t group) {
        auto mine = [&](std::size_t i) {
            return pending_[i].has_fingerprint &&
                   seen_.shard_of(pending_[i].hash) % groups == group;
        };
        // Slots are requested a few inserts early so that their cache misses overlap.
        std::size_t ahead = 0, requested = 0;
        for (std::size_t i = 0; i < n; ++i) {
            for (; ahead < n && requested < kPrefetchAhead; ++ahead) {
                if (!mine(ahead)) continue;
                seen_.prefetch(pending_[ahead].hash);
                ++requested;
            }
            if (!mine(i)) continue;
            --requested;
            Pending& p = pending_[i];
            p.is_new = !seen_.insert(fingerprint_of(p.values), p.hash);
        }
    });
    SearchStats& s = stats();
    for (std::size_t i = 0; i < n; ++i) {
        ++s.generated;
        steering_.generation_tick();
        const Pending& p = pending_[i];
        if (!p.has_fingerprint)
            ++s.no_fingerprint;
        else if (!p.is_new)
            ++s.duplicates;
        else
            next_.push_back(p.c);
    }
    n_pending_ = 0;
}

// Kept whole: the order in which it visits operators and pool pairs is the order of
// find_formula's candidates, which its results depend on.
void Driver::expand_level() {
    // Every combination among the entries of the previous level's pool was
    // built at that level: its fingerprint is in the seen set, or it has none.
    // Built again it could only be dropped, so it is counted, not built.
    SearchStats& s = stats();
    s.generated += known_generated_;
    s.no_fingerprint += known_no_fingerprint_;
    s.duplicates += known_generated_ - known_no_fingerprint_;
    const std::uint64_t generated_before = s.generated;
    const std::uint64_t no_fingerprint_before = s.no_fingerprint;

    const std::size_t n = pool_.size();
    const std::uint32_t first_new = static_cast<std::uint32_t>(expanded_);
    BudgetVector<std::uint32_t> size = budget_vector<std::uint32_t>(n);
    std::uint32_t max_size = 0;
    for (std::size_t i = 0; i < n; ++i) {
        size[i] = static_cast<std::uint32_t>(pool_[i].expr.tokens.size());
        max_size = std::max(max_size, size[i]);
    }
    // smaller[s]: the entries with fewer than s tokens, in pool order. The pair
    // loop walks only partners that fit, in the order a full scan meets them.
    std::vector<BudgetVector<std::uint32_t>> smaller(max_size + 1, budget_vector<std::uint32_t>());
    for (std::uint32_t s = 2; s <= max_size; ++s)
        for (std::size_t j = 0; j < n; ++j)
            if (size[j] < s) smaller[s].push_back(static_cast<std::uint32_t>(j));

    // Every candidate this level generates, counted first (the partners are
    // those the pair loop below takes): the list that holds the new ones is
    // sized, and charged, for all of them before any is generated.
    auto partner_count = [&](std::uint32_t i) -> std::uint64_t {
        if (config_.max_complexity <= size[i]) return 0;
        const std::uint64_t room = config_.max_complexity - size[i];
        if (room > max_size) return std::uint64_t{i} + 1;
        const auto& list = smaller[room];
        return static_cast<std::uint64_t>(std::upper_bound(list.begin(), list.end(), i) -
                                          list.begin());
    };
    std::uint64_t per_pair = 0;
    for (const OpCode op : ops_.binary) per_pair += builds_swapped(op) ? 2 : 1;
    std::uint64_t to_generate = saturating_mul(n - first_new, ops_.unary.size());
    for (std::uint32_t i = first_new; i < n; ++i)
        to_generate = saturating_add(to_generate, saturating_mul(partner_count(i), per_pair));
    reserve_or_throw(next_, static_cast<std::size_t>(to_generate), budget_.limit());

    for (std::size_t i = first_new; i < n; ++i)
        for (const OpCode op : ops_.unary)
            generate(static_cast<std::uint32_t>(i), 0, op, size[i] + 1);

    auto pair = [&](std::uint32_t i, std::uint32_t j) {
        for (const OpCode op : ops_.binary) {
            generate(i, j, op, size[i] + size[j] + 1);
            if (builds_swapped(op)) generate(j, i, op, size[i] + size[j] + 1);
        }
    };
    for (std::uint32_t i = first_new; i < n; ++i) {
        if (config_.max_complexity <= size[i]) continue;
        const std::uint64_t room = config_.max_complexity - size[i];  // partner needs fewer tokens
        if (room > max_size) {
            for (std::uint32_t j = 0; j <= i; ++j) pair(i, j);
        } else {
            for (const std::uint32_t j : smaller[room]) {
                if (j > i) break;
                pair(i, j);
            }
        }
    }
    flush_generated();
    // Many candidates are duplicates: a large unused room goes back to the
    // budget before the level is scored; a small one is kept for the next level.
    if ((next_.capacity() - next_.size()) * sizeof(Combination) > kKeptRoomBytes)
        next_.shrink_to_fit();
    known_generated_ += s.generated - generated_before;
    known_no_fingerprint_ += s.no_fingerprint - no_fingerprint_before;
    expanded_ = n;
}

// Plain less-than in order: the earliest of equal errors wins.
void Driver::update_best(std::span<const LevelScore> results) {
    const LevelScore* winner = nullptr;
    double best_error = best_ ? best_->error : 0.0;
    bool present = best_.has_value();
    for (const LevelScore& r : results) {
        if (!present || r.error < best_error) {
            winner = &r;
            best_error = r.error;
            present = true;
        }
    }
    if (winner == nullptr) return;
    Expr expr = combination_expr(pool_, next_[winner->index], n_vars_);
    const std::uint64_t complexity = expr.tokens.size();
    best_ = SearchResult{{}, {}, std::move(expr), winner->error, complexity};
    best_rendered_ = false;
}

// Ascending by error, stable; NaN errors go last in generation order. The
// standard algorithms borrow a buffer of up to one element per result.
void sort_scores(BudgetVector<LevelScore>& results, MemoryBudget& budget) {
    const ScopedCharge buffer(budget, bytes_for(results.size(), sizeof(LevelScore)));
    const auto numbered = std::stable_partition(
        results.begin(), results.end(), [](const LevelScore& r) { return !std::isnan(r.error); });
    std::stable_sort(results.begin(), numbered,
                     [](const LevelScore& a, const LevelScore& b) { return a.error < b.error; });
}

void Driver::extend_pool(std::span<const LevelScore> sorted, std::size_t keep) {
    std::size_t tokens = 0;
    for (std::size_t k = 0; k < keep; ++k) tokens += next_[sorted[k].index].size;
    pool_.charge_programs(tokens, keep);
    BudgetVector<PoolEntry> added = budget_vector<PoolEntry>(keep);
    BudgetVector<double*> storage = budget_vector<double*>(keep);
    for (std::size_t k = 0; k < keep; ++k) storage[k] = pool_.take_row_storage();
    run_or_cancel(keep, keep * pool_.row_count(), [&](std::size_t k) {
        const Combination& c = next_[sorted[k].index];
        PoolEntry& e = added[k];
        e.expr = combination_expr(pool_, c, n_vars_);
        e.combined = true;
        e.op = c.op;
        e.left = c.a;
        e.right = c.b;
        (void)combination_probes(pool_, c, e.probes);  // it has a fingerprint
        // A kept result evaluated on every row; storage left unused otherwise
        // only costs the fallback to its program.
        if (storage[k] != nullptr && combination_rows(pool_, c, storage[k])) e.rows = storage[k];
    });
    for (PoolEntry& e : added) pool_.add(std::move(e));
}

std::optional<SearchResult> Driver::run() {
    score_leaves();
    if (reached_goal() || config_.max_complexity < 2) return std::move(best_);

    BudgetVector<LevelScore> results = budget_vector<LevelScore>();
    // Only the kept quarter-beam and the best can matter after a level.
    const std::size_t keep =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(config_.beam_width / 4, 1, SIZE_MAX));
    for (std::uint64_t level = 1; level < config_.max_complexity; ++level) {
        steering_.poll();
        next_.clear();
        expand_level();
        if (next_.empty()) break;
        LevelCounts counts;
        if (!score_level_pruned(next_, pool_, y_, config_.complexity_penalty, keep, workers_,
                                steering_.batch_control(), results, counts))
            throw SearchCancelled{};
        SearchStats& s = stats();
        ++s.levels;
        s.scored += next_.size();
        s.results += counts.results;
        s.pruned += counts.pruned;
        update_best(results);
        if (reached_goal()) break;
        sort_scores(results, budget_);
        const std::size_t joins = std::min<std::uint64_t>(
            std::min<std::uint64_t>(config_.beam_width, results.size()), config_.beam_width / 4);
        extend_pool(results, joins);
    }
    if (best_ && !best_rendered_) best_->formula = best_->expr.to_string();
    return std::move(best_);
}

}  // namespace

std::optional<SearchResult> search(std::span<const Column> x_cols, std::span<const double> y,
                                   std::uint64_t n_vars, const SearchConfig& config,
                                   SearchControl* control) {
    check_columns(x_cols);
    if (control != nullptr) control->stats = {};
    return Driver(x_cols, y, n_vars, config, control).run();
}

}  // namespace vok::beam
