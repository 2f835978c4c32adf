// The enumeration driver: leaves, then each size in three steps (fingerprint
// and dedup per segment in parallel, join the survivors in generation order,
// score the new entries in parallel), and the largest size scored with pruning.
#include "enumeration/enumerator.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "enumeration/approx_ops.hpp"
#include "core/column_ops.hpp"
#include "runtime/lookahead.hpp"
#include "enumeration/probe_apply.hpp"
#include "core/system_memory.hpp"
#include "enumeration/trig_pair_rows.hpp"
#include "enumeration/vok_terms.hpp"

namespace vok::enumeration {
namespace {

// Rows of stored operand values: a share of the memory budget, capped so a
// default search stays well inside a few GiB.
constexpr std::size_t kRowStoreCap = std::size_t{3} << 29;

// Row evaluations per scoring task: enough to amortise a task, few enough
// that a stop is seen quickly on long data.
constexpr std::size_t kRowsPerTask = std::size_t{1} << 20;

// vok's second terms are kept for the smallest entries up to these bytes of
// rows, which stay in a core's cache as b runs over them.
constexpr std::size_t kVokTermBytes = std::size_t{4} << 20;

// Slots between two looks at the cancel flag inside a segment.
constexpr std::uint64_t kCancelStride = 1024;

// Plain scoring checks its running error after a short first run of rows,
// then after every longer one.
constexpr std::size_t kFirstRun = 16;
constexpr std::size_t kLaterRun = 64;

// The screening rows are worth their cost while they stop enough candidates:
// judged on the first candidates of a segment, then kept or dropped for it.
constexpr std::uint64_t kScreenTrial = 512;
constexpr bool screening_pays(std::uint64_t screened, std::uint64_t hits) noexcept {
    return screened < kScreenTrial || hits * 4 >= screened;
}

// The largest size is estimated to take this share of a grown size's time per slot.
constexpr double kPrunedShare = 0.5;

// Segments per wave when an evaluation budget must be cut at a fixed place.
constexpr std::size_t kWaveSegmentsPerWorker = 8;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A candidate between its fingerprint and its dedup; for a grown size, also
// one that passed its segment's dedup, waiting to join (its probe values are
// computed again then: keeping them would double the waiting memory).
// 32 bytes: a size's survivors are held until they join, and their pages are
// fresh memory. A slot fits in 56 bits: 2^56 slots would take years to visit.
struct Pending {
    Key128 key;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::uint64_t slot : 56 = 0;
    OpCode op : 7 = OpCode::Neg;
    bool lost : 1 = false;  // its key was met in an earlier segment
};
static_assert(sizeof(Pending) == 32);

struct SegmentCounts {
    std::uint64_t candidates = 0;
    std::uint64_t no_value = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t distinct = 0;
    std::uint64_t scored = 0;
    std::uint64_t valid = 0;
    std::uint64_t pruned = 0;

    void add_to(SizeReport& r) const {
        r.candidates += candidates;
        r.no_value += no_value;
        r.duplicates += duplicates;
        r.distinct += distinct;
        r.scored += scored;
        r.valid += valid;
        r.pruned += pruned;
    }
};

// What values within value_error of a candidate's own tell: the rank they
// give it (its plain error, or the scaled estimate), and whether they prove
// its error above cut.
struct StandInVerdict {
    double rank = 0.0;
    bool out_of_reach = false;
};

StandInVerdict judge_near(const double* f, const FitTarget& t, bool scaled, double value_error,
                          double cut) noexcept {
    if (!scaled) {
        const double sse = plain_sse_rows(f, t, 0, t.n, 0.0);
        return {sse, plain_exceeds_near(sse, value_error, cut)};
    }
    const ScaledEstimate estimate = scaled_estimate(f, t);
    return {estimate.value, estimate.exceeds_near(cut, value_error)};
}

void lower_to(std::atomic<double>& bound, double value) noexcept {
    double current = bound.load(std::memory_order_relaxed);
    while (value < current &&
           !bound.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
    }
}

// Offers a fitted candidate to a worker's front; once that is full, its worst
// error bounds what later candidates must beat.
void take(std::vector<Ranked>& top, std::size_t keep, std::atomic<double>& bound, const Ranked& r) {
    offer(top, keep, r);
    if (top.size() == keep) lower_to(bound, top.back().sse);
}

std::size_t pool_size(const EnumerationSettings& settings) {
    return settings.n_threads > 0 ? settings.n_threads : ThreadPool::configured_size();
}

}  // namespace

void offer(std::vector<Ranked>& top, std::size_t k, const Ranked& candidate) {
    if (top.size() == k && !ranked_before(candidate, top.back())) return;
    auto at = std::upper_bound(top.begin(), top.end(), candidate, ranked_before);
    top.insert(at, candidate);
    if (top.size() > k) top.pop_back();
}

Enumerator::Enumerator(std::span<const Column> x_cols, std::span<const double> y,
                       const EnumerationSettings& settings, EnumerationControl* control)
    : x_cols_(x_cols),
      y_(y),
      settings_(settings),
      control_(control),
      rows_(y.size()),
      target_(y),
      var_probes_(data_probes(x_cols, y.size())),
      drop_bits_(settings.dedup_drop_bits),
      memory_budget_(settings.memory_limit > 0 ? settings.memory_limit : default_memory_budget()),
      table_(x_cols, settings.constants, y.size(), std::min(memory_budget_ / 4, kRowStoreCap)),
      pool_(pool_size(settings)),
      start_(std::chrono::steady_clock::now()),
      best_sse_(kInf) {
    batch_.cancel = &cancel_;
    batch_.wait_hook = [this] { return poll(); };
    if (control_ != nullptr) batch_.poll_period = control_->poll_period;
    size_begin_.assign(2, 0);  // sizes count from 1
    operands_.resize(1);
}

double Enumerator::elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

bool Enumerator::out_of_time() const {
    return settings_.time_limit > 0.0 && elapsed() >= settings_.time_limit;
}

void Enumerator::stop(StopReason reason) noexcept {
    int none = -1;
    stop_code_.compare_exchange_strong(none, static_cast<int>(reason));
    cancel_.store(true);
}

bool Enumerator::poll() {
    if (stopped()) return false;
    if (out_of_time()) {
        stop(StopReason::Time);
        return false;
    }
    if (control_ != nullptr && control_->keep_going) {
        EnumerationProgress progress;
        progress.size = current_size_;
        progress.done = done_.load(std::memory_order_relaxed);
        progress.expected = expected_;
        progress.best_rmse = std::sqrt(best_sse_ / static_cast<double>(rows_));
        progress.elapsed = elapsed();
        if (!control_->keep_going(progress)) {
            stop(StopReason::Interrupted);
            return false;
        }
    }
    return true;
}

bool Enumerator::run_tasks(std::size_t n, const std::function<void(std::size_t)>& body) {
    if (!poll()) return false;
    return pool_.parallel_for(n, body, &batch_) && !stopped();
}

void Enumerator::add_front(std::uint32_t size, std::vector<Ranked> top) {
    for (const Ranked& r : top) {
        front_.push_back(r);
        front_sizes_.push_back(size);
        best_sse_ = std::min(best_sse_, r.sse);
    }
}

std::uint64_t Enumerator::slots_of(std::uint32_t size) const {
    return SlotLayout(size, operands_, settings_.unary, settings_.binary).slots();
}

void Enumerator::leaves() {
    current_size_ = 1;
    SizeReport report;
    report.size = 1;
    report.complete = true;
    const std::size_t n_leaves = settings_.constants.size() + x_cols_.size();
    table_.reserve(n_leaves);
    ProbeArray values{};
    for (std::size_t i = 0; i < n_leaves; ++i) {
        Node node{};
        if (i < settings_.constants.size()) {
            node.kind = NodeKind::Const;
            node.left = static_cast<std::uint32_t>(i);
            values.fill(settings_.constants[i]);
        } else {
            node.kind = NodeKind::Var;
            node.left = static_cast<std::uint32_t>(i - settings_.constants.size());
            values = var_probes_[node.left];
        }
        ++report.candidates;
        if (!seen_.insert(probe_key(values.data(), drop_bits_))) {
            ++report.duplicates;
            continue;
        }
        table_.add(node, values.data(), 1, i);
    }
    report.distinct = table_.size();
    entry_rank_.assign(table_.size(), kNaN);
    size_begin_.push_back(static_cast<std::uint32_t>(table_.size()));
    const auto t0 = std::chrono::steady_clock::now();
    score_entries(1, 0, static_cast<std::uint32_t>(table_.size()), report);
    operands_.push_back(valid_of_size(1));
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    reports_.push_back(report);
}

void Enumerator::score_entries(std::uint32_t size, std::uint32_t first, std::uint32_t count,
                               SizeReport& report) {
    if (settings_.max_evaluations > 0) {
        const std::uint64_t left = settings_.max_evaluations - std::min(settings_.max_evaluations, evaluations_);
        if (count > left) {
            count = static_cast<std::uint32_t>(left);
            stop(StopReason::Evaluations);
        }
    }
    // Operands of binary operators at the largest size are at most two
    // tokens smaller: those are worth keeping rows for. Where the bound
    // leaves room for only some, library calls go first: arithmetic is
    // computed again from its operands for a tenth of their cost.
    std::vector<double*> places(count, nullptr);
    if (size > 1 && size + 2 <= settings_.max_size) {
        bool room = true;
        for (const bool library_call : {true, false}) {
            for (std::uint32_t i = 0; i < count && room; ++i) {
                if (has_approx(table_.node(first + i).op) != library_call) continue;
                room = (places[i] = table_.take_place(first + i)) != nullptr;
            }
        }
    }
    const std::size_t per_task = std::max<std::size_t>(1, kRowsPerTask / std::max<std::size_t>(rows_, 1));
    const std::size_t n_tasks = (count + per_task - 1) / per_task;
    std::vector<std::vector<Ranked>> tops(n_tasks);
    const std::size_t keep = settings_.front_size;
    const bool scaled = settings_.scaling;
    std::atomic<double> bound{kInf};
    auto body = [&](std::size_t task) {
        RowBuffers buffers(rows_);
        std::vector<double> approx(size > 1 ? rows_ : 0);
        const std::size_t lo = task * per_task;
        const std::size_t hi = std::min<std::size_t>(count, lo + per_task);
        std::vector<Ranked>& top = tops[task];
        for (std::size_t i = lo; i < hi; ++i) {
            const auto id = static_cast<std::uint32_t>(first + i);
            const double* f = nullptr;
            bool ranked = false;
            Fit fit;
            if (size > 1 && scaled && places[i] == nullptr && table_.constant(id) &&
                fit_constant_scaled(target_, fit)) {
                // Its probe value on every row: the rank and the fit are known.
                entry_rank_[id] = target_.syy;
                take(top, keep, bound, Ranked{fit.sse, table_.order(id), fit.scale, fit.offset,
                                              OpCode::Neg, id, kNoOperand, true});
                continue;
            }
            if (size == 1) {
                f = table_.rows_of(id, buffers);
            } else {
                const OpCode op = table_.node(id).op;
                const double* a = nullptr;
                const double* b = nullptr;
                if (!table_.operand_rows(id, buffers, a, b)) continue;
                // With a stand-in that covers the rows, the rank comes from
                // it, so an entry needs exact values only to be stored or
                // fitted (and it has a value on every row).
                double value_error = 0.0;
                if (has_approx(op) && approx_rows(op, a, b, approx.data(), rows_, value_error)) {
                    ranked = true;
                    const StandInVerdict verdict = judge_near(approx.data(), target_, scaled, value_error,
                                                              bound.load(std::memory_order_relaxed));
                    entry_rank_[id] = std::isfinite(verdict.rank) ? verdict.rank : kInf;
                    if (verdict.out_of_reach && places[i] == nullptr) continue;
                }
                // Arithmetic over two operands is ranked straight from them;
                // its values are taken only to be stored or fitted.
                if (!ranked && scaled && places[i] == nullptr && b != nullptr && estimated_in_one_pass(op)) {
                    ScaledEstimate estimate;
                    if (!scaled_estimate_binary(op, a, b, target_, estimate)) continue;  // rank stays NaN
                    ranked = true;
                    entry_rank_[id] = std::isnan(estimate.value) ? kInf : estimate.value;
                    if (estimate.exceeds(bound.load(std::memory_order_relaxed))) continue;
                }
                double* out = places[i] != nullptr ? places[i] : buffers.at(0);
                if (apply_rows(op, a, b, out, rows_)) {
                    f = out;
                } else {
                    entry_rank_[id] = kNaN;  // (never after a stand-in: its range has values)
                }
            }
            if (f == nullptr) continue;
            // The rank of an operand for a beam comes from the same sums for
            // every entry, so it never depends on what was stopped early.
            if (!scaled) {
                const bool fitted = fit_plain(f, target_, fit);
                if (!ranked) entry_rank_[id] = fitted ? fit.sse : kInf;
                if (!fitted) continue;
            } else {
                if (!ranked) {
                    const ScaledEstimate estimate = scaled_estimate(f, target_);
                    entry_rank_[id] = std::isnan(estimate.value) ? kInf : estimate.value;
                    if (estimate.exceeds(bound.load(std::memory_order_relaxed))) continue;
                }
                if (!fit_scaled(f, target_, fit)) continue;
            }
            take(top, keep, bound, Ranked{fit.sse, table_.order(id), fit.scale, fit.offset,
                                          OpCode::Neg, id, kNoOperand, true});
        }
    };
    const bool finished = pool_.parallel_for(n_tasks, body, &batch_);
    evaluations_ += count;
    report.scored += count;
    if (!finished) return;
    for (std::uint32_t i = 0; i < count; ++i) report.valid += std::isnan(entry_rank_[first + i]) ? 0 : 1;
    std::vector<Ranked> top;
    for (const auto& t : tops) {
        for (const Ranked& r : t) offer(top, keep, r);
    }
    add_front(size, std::move(top));
}


std::vector<std::uint32_t> Enumerator::valid_of_size(std::uint32_t size) const {
    std::vector<std::uint32_t> ids;
    for (std::uint32_t id = size_begin_[size]; id < size_begin_[size + 1]; ++id) {
        if (!std::isnan(entry_rank_[id])) ids.push_back(id);
    }
    return ids;
}

void Enumerator::use_beam() {
    beam_ = true;
    const std::size_t width = settings_.beam_width;
    for (std::uint32_t size = 1; size < operands_.size(); ++size) {
        std::vector<std::uint32_t>& ids = operands_[size];
        if (ids.size() <= width) continue;
        auto worse = [&](std::uint32_t x, std::uint32_t y) {
            const double ex = entry_rank_[x];
            const double ey = entry_rank_[y];
            return ex < ey || (ex == ey && x < y);
        };
        std::nth_element(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(width), ids.end(), worse);
        ids.resize(width);
        // Operands keep their generation order: it is the order of the slots.
        std::sort(ids.begin(), ids.end());
    }
}

void Enumerator::plan(std::uint32_t size) {
    if (beam_) return;
    const auto slots = static_cast<double>(slots_of(size));
    const bool largest = size == settings_.max_size;
    const double seconds = slots * last_slot_seconds_ * (largest ? kPrunedShare : 1.0);
    const bool too_long = settings_.time_limit > 0.0 && elapsed() + seconds > settings_.time_limit;
    bool too_big = false;
    if (!largest) {
        // Stored rows have their own bound, already counted in the table's bytes.
        const double share = std::min(1.0, 1.5 * last_distinct_share_);
        const double per_entry = static_cast<double>(EntryTable::kEntryBytes + sizeof(Pending) +
                                                     2 * sizeof(Key128));
        const double need = static_cast<double>(table_.bytes() + seen_.bytes()) + slots * share * per_entry;
        too_big = need > static_cast<double>(memory_budget_);
    }
    if (too_long || too_big) use_beam();
}

bool Enumerator::grow(std::uint32_t size) {
    plan(size);
    const auto t0 = std::chrono::steady_clock::now();
    const SlotLayout layout(size, operands_, settings_.unary, settings_.binary);
    const std::uint64_t slots = layout.slots();
    current_size_ = size;
    expected_ = slots;
    done_.store(0);
    SizeReport report;
    report.size = size;
    report.complete = !beam_;

    // Fingerprints, deduplicated within each segment and against smaller sizes.
    const std::size_t n_segments = static_cast<std::size_t>((slots + kSegmentSlots - 1) / kSegmentSlots);
    std::vector<std::vector<Pending>> found(n_segments);
    std::vector<SegmentCounts> counts(n_segments);
    std::atomic<std::size_t> found_bytes{0};
    const std::size_t used = table_.bytes() + seen_.bytes();
    const std::size_t room = memory_budget_ > used ? memory_budget_ - used : 0;
    auto fingerprint_segment = [&](std::size_t segment) {
        thread_local KeySet local;
        local.clear();
        local.reserve(kSegmentSlots);
        std::vector<Pending>& out = found[segment];
        SegmentCounts& c = counts[segment];
        const std::uint64_t lo = segment * kSegmentSlots;
        const std::uint64_t hi = std::min(slots, lo + kSegmentSlots);
        Lookahead<Pending> queue;
        auto consume = [&](const Pending& p) {
            if (seen_.contains(p.key) || !local.insert(p.key)) {
                ++c.duplicates;
                return;
            }
            out.push_back(p);
        };
        ProbeArray probes{};
        SinCosOf trig(kProbePoints);
        layout.visit(lo, hi, [&](std::uint64_t slot, OpCode op, std::uint32_t a, std::uint32_t b) {
            ++c.candidates;
            // An entry's probe values are finite, and so are their sine and cosine.
            const double* values = probes.data();
            if (op == OpCode::Sin || op == OpCode::Cos) {
                values = trig.apply(op, a, table_.probes(a));
            } else if (!apply_at_probes(op, table_.probes(a), b == kNoOperand ? nullptr : table_.probes(b),
                                        probes.data())) {
                ++c.no_value;
                return;
            }
            const Key128 key = probe_key(values, drop_bits_);
            seen_.prefetch(key);
            local.prefetch(key);
            queue.push(Pending{key, a, b, slot, op}, consume);
        });
        queue.drain(consume);
        if (found_bytes.fetch_add(out.capacity() * sizeof(Pending)) > room) stop(StopReason::Memory);
        done_.fetch_add(hi - lo, std::memory_order_relaxed);
    };
    if (!run_tasks(n_segments, fingerprint_segment)) return false;

    // Survivors join in generation order; a key met in an earlier segment wins.
    std::size_t total = 0;
    for (std::size_t i = 0; i < n_segments; ++i) {
        total += found[i].size();
        counts[i].add_to(report);
    }
    report.distinct = 0;
    const std::size_t entry_need = total * (EntryTable::kEntryBytes + 2 * sizeof(Key128));
    if (table_.bytes() + seen_.bytes() + entry_need > memory_budget_ ||
        table_.size() + total >= kNoOperand) {
        stop(StopReason::Memory);
        return false;
    }
    // Keys of different shards never meet, so each group of shards joins its
    // own survivors, in generation order, on its own task.
    const std::size_t groups = std::min(pool_.size(), ShardedKeySet::kShards);
    const std::size_t seen_after = seen_.size() + total;
    std::vector<std::vector<std::uint32_t>> kept_by_group(groups, std::vector<std::uint32_t>(n_segments, 0));
    if (!run_tasks(groups, [&](std::size_t g) {
            for (std::size_t shard = g; shard < ShardedKeySet::kShards; shard += groups)
                seen_.reserve_shard(shard, seen_after);
            constexpr std::size_t kAhead = 16;
            for (std::size_t segment = 0; segment < n_segments; ++segment) {
                std::vector<Pending>& pending = found[segment];
                std::uint32_t kept = 0;
                for (std::size_t i = 0; i < pending.size(); ++i) {
                    if (i + kAhead < pending.size() &&
                        ShardedKeySet::shard_of(pending[i + kAhead].key) % groups == g)
                        seen_.prefetch(pending[i + kAhead].key);
                    Pending& p = pending[i];
                    if (ShardedKeySet::shard_of(p.key) % groups != g) continue;
                    if (seen_.insert(p.key)) {
                        ++kept;
                    } else {
                        p.lost = true;
                    }
                }
                kept_by_group[g][segment] = kept;
            }
        }))
        return false;
    std::vector<std::uint32_t> offsets(n_segments + 1, 0);
    for (std::size_t segment = 0; segment < n_segments; ++segment) {
        std::uint32_t kept = 0;
        for (std::size_t g = 0; g < groups; ++g) kept += kept_by_group[g][segment];
        offsets[segment + 1] = offsets[segment] + kept;
        report.duplicates += found[segment].size() - kept;
    }
    const std::uint32_t count = offsets[n_segments];
    // The new entries, with probe values from their operands' (all of smaller
    // sizes). Those of the size below the largest are only ever unary
    // operands, one after another: their probe values are computed there, as
    // needed, instead of being stored (a fifth of the peak memory).
    const bool with_probes = size + 1 < settings_.max_size;
    const std::uint32_t first = table_.extend(count, with_probes);
    if (!run_tasks(n_segments, [&](std::size_t segment) {
            std::uint32_t id = first + offsets[segment];
            for (const Pending& p : found[segment]) {
                if (p.lost) continue;
                table_.set_op(id, Node{NodeKind::Op, p.op, false, p.a, p.b}, size, p.slot);
                if (with_probes)
                    (void)apply_at_probes(p.op, table_.probes(p.a),
                                          p.b == kNoOperand ? nullptr : table_.probes(p.b),
                                          table_.probes_to_fill(id));
                ++id;
            }
            std::vector<Pending>().swap(found[segment]);
        }))
        return false;
    report.distinct = count;
    entry_rank_.resize(table_.size(), kNaN);
    size_begin_.push_back(static_cast<std::uint32_t>(table_.size()));

    score_entries(size, first, count, report);
    operands_.push_back(valid_of_size(size));
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    reports_.push_back(report);
    last_slot_seconds_ = report.seconds / std::max(1.0, static_cast<double>(slots));
    last_distinct_share_ = static_cast<double>(count) / std::max<double>(1.0, static_cast<double>(report.candidates));
    if (beam_) use_beam();
    return !stopped();
}

void Enumerator::run_largest(std::uint64_t begin, std::uint64_t end) {
    const std::uint32_t size = settings_.max_size;
    const auto t0 = std::chrono::steady_clock::now();
    const SlotLayout layout(size, operands_, settings_.unary, settings_.binary);
    end = std::min(end, layout.slots());
    begin = std::min(begin, end);
    current_size_ = size;
    expected_ = end - begin;
    done_.store(0);
    SizeReport report;
    report.size = size;
    report.complete = !beam_;

    const std::uint64_t first_segment = begin / kSegmentSlots;
    const std::size_t n_segments =
        static_cast<std::size_t>((end + kSegmentSlots - 1) / kSegmentSlots - first_segment);
    struct SegmentResult {
        SegmentCounts counts;
        std::vector<Ranked> top;
        bool finished = false;
    };
    std::vector<SegmentResult> results(n_segments);
    std::atomic<double> bound{kInf};
    const std::size_t keep = settings_.front_size;
    const bool scaled = settings_.scaling;
    const std::size_t m = target_.screen.size();

    const bool with_vok = std::find(settings_.binary.begin(), settings_.binary.end(), OpCode::Vok) !=
                          settings_.binary.end();
    const VokSecondTerms vok_terms = with_vok ? VokSecondTerms(table_, kVokTermBytes) : VokSecondTerms();

    auto score_segment = [&](std::size_t index) {
        thread_local KeySet local;
        local.clear();
        local.reserve(kSegmentSlots);
        RowBuffers a_buffers(rows_);
        RowBuffers b_buffers(rows_);
        TrigPairRows a_trig(rows_);
        TrigPairRows b_trig(rows_);
        RowBuffers a_few(m);
        RowBuffers b_few(m);
        std::vector<double> f(std::max<std::size_t>(rows_, 1));
        std::vector<double> f_screen(std::max<std::size_t>(m, 1));
        std::vector<double> vok_first(std::max<std::size_t>(rows_, 1));
        std::vector<double> trig(2 * std::max<std::size_t>(rows_, 1));  // sin, then cos
        double trig_error[2] = {0.0, 0.0};
        std::uint32_t trig_of = kNoOperand;
        bool trig_covered = false;
        SinCosOf exact_trig(rows_);
        std::uint32_t vok_first_of = kNoOperand;
        bool vok_first_covered = false;
        const double* a_screen = nullptr;
        std::uint32_t screen_cached = kNoOperand;
        const double* b_rows = nullptr;
        std::uint32_t b_cached = kNoOperand;
        ProbeArray probes{};
        ProbeArray a_probe_buffer{};
        SinCosOf trig_probes(kProbePoints);
        const double* a_probes = nullptr;
        std::uint32_t a_probes_of = kNoOperand;
        // vok at the probes from its terms: exp of a's kept while a stays.
        ProbeArray exp_a_probes{};
        std::uint32_t exp_probes_of = kNoOperand;
        ProbeArray ln_b_probes{};
        auto vok_probes = [&](std::uint32_t a, std::uint32_t b, double* out) {
            if (a != exp_probes_of) {
                vok_first_at_probes(a_probes, exp_a_probes.data());
                exp_probes_of = a;
            }
            const double* ln_b = ln_b_probes.data();
            if (vok_terms.holds(b)) {
                ln_b = vok_terms.at_probes(b);
            } else {
                vok_second_at_probes(table_.probes(b), ln_b_probes.data());
            }
            return vok_at_probes(exp_a_probes.data(), ln_b, out);
        };
        SegmentResult& out = results[index];
        SegmentCounts& c = out.counts;
        const std::uint64_t lo = std::max(begin, (first_segment + index) * kSegmentSlots);
        const std::uint64_t hi = std::min(end, (first_segment + index + 1) * kSegmentSlots);
        std::uint32_t cached = kNoOperand;
        const double* a_rows = nullptr;
        bool abandoned = false;
        std::uint64_t screened = 0;
        std::uint64_t screen_hits = 0;
        auto consume = [&](const Pending& p) {
            const OpCode op = p.op;
            const std::uint32_t a = p.a;
            const std::uint32_t b = p.b;
            const std::uint64_t slot = p.slot;
            const bool unary = b == kNoOperand;
            if (seen_.contains(p.key) || !local.insert(p.key)) {
                ++c.duplicates;
                return;
            }
            ++c.distinct;
            ++c.scored;
            Fit fit;
            // Without a variable the candidate has its probe value on every
            // row; scaled, its fit is known without them.
            if (scaled && table_.constant(a) && (unary || table_.constant(b))) {
                if (fit_constant_scaled(target_, fit)) {
                    ++c.valid;
                    take(out.top, keep, bound, Ranked{fit.sse, slot, fit.scale, fit.offset, op, a, b, false});
                    return;
                }
            }
            const double cut = bound.load(std::memory_order_relaxed);
            // A few spread rows first: most candidates are out after them.
            if (m > 0 && cut < kInf && screening_pays(screened, screen_hits)) {
                ++screened;
                if (a != screen_cached) {
                    a_screen = table_.values_at(a, target_.screen, a_few);
                    screen_cached = a;
                }
                const double* b_screen = unary ? nullptr : table_.values_at(b, target_.screen, b_few);
                if (a_screen == nullptr || (!unary && b_screen == nullptr)) return;
                if (!apply_rows(op, a_screen, b_screen, f_screen.data(), m)) return;
                if (screen_rejects(f_screen.data(), target_, scaled, cut)) {
                    ++screen_hits;
                    ++c.pruned;
                    return;
                }
            }
            if (a != cached) {
                a_rows = a_trig.rows_of(table_, a, a_buffers);
                cached = a;
            }
            if (!unary && b != b_cached) {
                b_rows = b_trig.rows_of(table_, b, b_buffers);
                b_cached = b;
            }
            if (a_rows == nullptr || (!unary && b_rows == nullptr)) return;
            // A stand-in for a library-call operator rules most candidates
            // out at a tenth of the exact values' cost.
            if (cut < kInf && has_approx(op)) {
                double value_error = 0.0;
                bool covered = false;
                const double* stand_in = f.data();
                if (op == OpCode::Vok) {
                    // b runs fastest: vok's first term is kept while a stays.
                    if (a != vok_first_of) {
                        vok_first_covered = approx_vok_first(a_rows, vok_first.data(), rows_);
                        vok_first_of = a;
                    }
                    if (!vok_terms.holds(b)) {
                        covered = vok_first_covered &&
                                  approx_vok_rest(vok_first.data(), b_rows, f.data(), rows_, value_error);
                    } else if (const double* second = vok_terms.stand_in(b)) {
                        covered = vok_first_covered &&
                                  approx_vok_terms(vok_first.data(), second, f.data(), rows_, value_error);
                    }
                } else if (op == OpCode::Sin || op == OpCode::Cos) {
                    // Both come from one reduction: the other is kept for a's next candidate.
                    if (a != trig_of) {
                        trig_covered = approx_sin_cos(a_rows, trig.data(), trig.data() + rows_, rows_, trig_error);
                        trig_of = a;
                    }
                    const std::size_t at = op == OpCode::Sin ? 0 : 1;
                    stand_in = trig.data() + at * rows_;
                    value_error = trig_error[at];
                    covered = trig_covered;
                } else {
                    covered = approx_rows(op, a_rows, b_rows, f.data(), rows_, value_error);
                }
                if (covered && judge_near(stand_in, target_, scaled, value_error, cut).out_of_reach) {
                    ++c.pruned;
                    return;
                }
            }
            if (!scaled) {
                // Row order, a run at a time: the running error only grows.
                double sse = 0.0;
                for (std::size_t lo_row = 0; lo_row < rows_;) {
                    const std::size_t len = std::min(rows_ - lo_row, lo_row == 0 ? kFirstRun : kLaterRun);
                    if (!(unary ? apply_unary_rows(op, a_rows + lo_row, f.data() + lo_row, len)
                                : apply_binary_rows(op, a_rows + lo_row, b_rows + lo_row,
                                                    f.data() + lo_row, len)))
                        return;
                    sse = plain_sse_rows(f.data(), target_, lo_row, lo_row + len, sse);
                    lo_row += len;
                    if (sse > cut && lo_row < rows_) {
                        ++c.pruned;
                        return;
                    }
                }
                if (!(std::fabs(sse) <= std::numeric_limits<double>::max())) return;
                fit = Fit{sse, 1.0, 0.0};
            } else {
                // Arithmetic over two operands is estimated straight from them:
                // the values are taken only for a candidate that may enter.
                const bool in_one_pass = !unary && estimated_in_one_pass(op);
                ScaledEstimate estimate;
                if (in_one_pass && !scaled_estimate_binary(op, a_rows, b_rows, target_, estimate)) return;
                if (in_one_pass && estimate.exceeds(cut)) {
                    ++c.pruned;
                    return;
                }
                const double* values = f.data();
                if (op == OpCode::Sin || op == OpCode::Cos) {
                    // As with the stand-ins: both at once, the other kept for a's next candidate.
                    values = exact_trig.apply(op, a, a_rows);
                } else if (!(unary ? apply_unary_rows(op, a_rows, f.data(), rows_)
                                   : apply_binary_rows(op, a_rows, b_rows, f.data(), rows_))) {
                    return;
                }
                if (!in_one_pass && scaled_estimate(values, target_).exceeds(cut)) {
                    ++c.pruned;
                    return;
                }
                if (!fit_scaled(values, target_, fit)) return;
            }
            ++c.valid;
            take(out.top, keep, bound, Ranked{fit.sse, slot, fit.scale, fit.offset, op, a, b, false});
        };
        Lookahead<Pending> queue;
        layout.visit(lo, hi, [&](std::uint64_t slot, OpCode op, std::uint32_t a, std::uint32_t b) {
            if (abandoned) return;
            if (slot % kCancelStride == 0 && cancel_.load(std::memory_order_relaxed)) {
                abandoned = true;
                return;
            }
            ++c.candidates;
            if (a != a_probes_of) {
                a_probes = table_.probes_of(a, a_probe_buffer.data());
                a_probes_of = a;
            }
            // An entry's probe values are finite, and so are their sine and cosine.
            const double* values = probes.data();
            bool has_value = true;
            if (op == OpCode::Vok) {
                has_value = vok_probes(a, b, probes.data());
            } else if (op == OpCode::Sin || op == OpCode::Cos) {
                values = trig_probes.apply(op, a, a_probes);
            } else {
                has_value =
                    apply_at_probes(op, a_probes, b == kNoOperand ? nullptr : table_.probes(b), probes.data());
            }
            if (!has_value) {
                ++c.no_value;
                return;
            }
            const Key128 key = probe_key(values, drop_bits_);
            seen_.prefetch(key);
            local.prefetch(key);
            queue.push(Pending{key, a, b, slot, op}, consume);
        });
        if (!abandoned) queue.drain(consume);
        out.finished = !abandoned;
        done_.fetch_add(hi - lo, std::memory_order_relaxed);
    };

    // With an evaluation budget, segments run in waves and the budget is
    // settled in segment order, so the cut never depends on timing.
    const bool budgeted = settings_.max_evaluations > 0;
    const std::size_t wave = budgeted ? kWaveSegmentsPerWorker * pool_.size() : n_segments;
    std::size_t kept = 0;
    for (std::size_t from = 0; from < n_segments && !stopped(); from += wave) {
        const std::size_t n = std::min(wave, n_segments - from);
        run_tasks(n, [&](std::size_t i) { score_segment(from + i); });
        for (std::size_t i = from; i < from + n; ++i) {
            if (!results[i].finished) continue;
            kept = i + 1;
            evaluations_ += results[i].counts.scored;
            if (budgeted && evaluations_ >= settings_.max_evaluations) {
                stop(StopReason::Evaluations);
                break;
            }
        }
    }
    std::vector<Ranked> top;
    for (std::size_t i = 0; i < kept; ++i) {
        if (!results[i].finished) {
            report.complete = false;
            continue;
        }
        results[i].counts.add_to(report);
        for (const Ranked& r : results[i].top) offer(top, keep, r);
    }
    if (kept < n_segments) report.complete = false;
    add_front(size, std::move(top));
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    reports_.push_back(report);
}

bool Enumerator::run_through(std::uint32_t last) {
    leaves();
    if (stopped()) return false;
    for (std::uint32_t size = 2; size <= last; ++size) {
        if (size == settings_.max_size) {
            plan(size);
            run_largest(0, slots_of(size));
        } else if (!grow(size)) {
            return false;
        }
        if (stopped()) return false;
        if (size < settings_.max_size && settings_.target_rmse >= 0.0 &&
            std::sqrt(best_sse_ / static_cast<double>(rows_)) <= settings_.target_rmse) {
            stop(StopReason::Target);
            return false;
        }
    }
    return true;
}

EnumerationResult Enumerator::finish() {
    EnumerationResult result;
    result.front.reserve(front_.size());
    for (std::size_t i = 0; i < front_.size(); ++i) {
        const Ranked& r = front_[i];
        FrontMember member;
        member.size = front_sizes_[i];
        if (r.entry) {
            member.expr = table_.expr(r.a);
        } else {
            table_.append_tokens(r.a, member.expr.tokens);
            if (r.b != kNoOperand) table_.append_tokens(r.b, member.expr.tokens);
            member.expr.tokens.push_back(Token::oper(r.op));
            member.expr.n_vars = x_cols_.size();
        }
        member.sse = r.sse;
        member.rmse = std::sqrt(r.sse / static_cast<double>(rows_));
        member.scale = r.scale;
        member.offset = r.offset;
        member.order = r.order;
        result.front.push_back(std::move(member));
    }
    result.sizes = reports_;
    const int code = stop_code_.load();
    result.stopped = code < 0 ? StopReason::Complete : static_cast<StopReason>(code);
    result.evaluations = evaluations_;
    result.elapsed = elapsed();
    return result;
}

}  // namespace vok::enumeration
