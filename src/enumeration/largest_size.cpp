// The largest size: its candidates deduplicated within their segment only
// (so slices of it can run anywhere with the same result), and each one
// ruled out as cheaply as it can be against the worst error of a full front
// (its segment's own, or that of the segments well before it: see
// segment_bounds.hpp): on a few rows, on a stand-in, or part-way through its
// rows.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

#include "core/column_ops.hpp"
#include "enumeration/enumerator.hpp"
#include "enumeration/largest_worker.hpp"
#include "enumeration/row_weighting.hpp"
#include "enumeration/segment_bounds.hpp"
#include "enumeration/segment_pass.hpp"
#include "enumeration/stand_in_verdict.hpp"

namespace vok::enumeration {
namespace {

// vok's second terms are kept for the smallest entries up to these bytes of
// rows, which stay in a core's cache as b runs over them.
constexpr std::size_t kVokTermBytes = std::size_t{4} << 20;

// Slots between two looks at the cancel flag inside a segment.
constexpr std::uint64_t kCancelStride = 1024;

// Plain scoring checks its running error after a short first run of rows,
// then after every longer one.
constexpr std::size_t kFirstRun = 16;
constexpr std::size_t kLaterRun = 64;

// Segments per wave when an evaluation budget must be cut at a fixed place.
constexpr std::size_t kWaveSegments = 16;

constexpr double kInf = std::numeric_limits<double>::infinity();

bool with_vok(const EnumerationSettings& settings) {
    return std::find(settings.binary.begin(), settings.binary.end(), OpCode::Vok) !=
           settings.binary.end();
}

}  // namespace

// Its steps are inline: a member of a class with external linkage is
// otherwise interposable under -fPIC, and GCC would never inline it. Those of
// a candidate are always inlined into consume, as one loop body. Rows: the
// search's sums (row_weighting.hpp).
template <class Rows>
class LargestSize {
public:
    LargestSize(Enumerator& run, std::uint64_t begin, std::uint64_t end);
    void run();

private:
    struct SegmentResult {
        SegmentCounts counts;
        std::vector<Ranked> top;
        bool finished = false;
    };
    // One segment's worker: its dedup, its buffers, and what it keeps per operand.
    struct Worker {
        Worker(const LargestSize& size, SegmentResult& result)
            : keys(size.run_.seen_, size.run_.drop_bits_),
              screen(size.screen_rows_),
              a(size.rows_),
              b(size.rows_),
              stand_ins(size.rows_),
              exact_trig(size.rows_),
              f(std::max<std::size_t>(size.rows_, 1)),
              out(result) {}
        SegmentKeys keys;
        OperandProbes probes;
        ScreenRows screen;
        OperandRows a;
        OperandRows b;
        StandIns stand_ins;
        SinCosOf exact_trig;
        std::vector<double> f;  // a candidate's values: its stand-in, then exact
        SegmentResult& out;
        double bound = kInf;     // from the segments well before this one
        bool abandoned = false;  // cancelled part-way
    };

    std::size_t run_waves();
    void score_segment(std::size_t index);
    void probe(Worker& w, std::uint64_t slot, OpCode op, std::uint32_t a, std::uint32_t b);
    void consume(Worker& w, const Pending& p);
    [[nodiscard]] bool passes_screen(Worker& w, OpCode op, std::uint32_t a, std::uint32_t b,
                                     double cut);
    [[nodiscard]] bool stand_in_rules_out(Worker& w, OpCode op, std::uint32_t a, std::uint32_t b,
                                          const double* a_rows, const double* b_rows, double cut);
    [[nodiscard]] bool fit_plain_rows(Worker& w, OpCode op, const double* a_rows,
                                      const double* b_rows, double cut, Fit& fit);
    [[nodiscard]] bool fit_scaled_rows(Worker& w, OpCode op, std::uint32_t a, const double* a_rows,
                                       const double* b_rows, double cut, Fit& fit);
    void gather(std::size_t kept);

    Enumerator& run_;
    const std::chrono::steady_clock::time_point t0_;
    const EntryTable& table_;
    const FitTarget& target_;
    const std::uint32_t size_;
    const SlotLayout layout_;
    const std::uint64_t end_;
    const std::uint64_t begin_;
    const std::uint64_t first_segment_;
    const std::size_t n_segments_;
    const std::size_t keep_;
    const bool scaled_;
    const std::size_t screen_rows_;
    const std::size_t rows_;
    const VokSecondTerms vok_terms_;
    std::vector<SegmentResult> results_;
    SizeReport report_;
    SegmentBounds bounds_;
};

template <class Rows>
inline LargestSize<Rows>::LargestSize(Enumerator& run, std::uint64_t begin, std::uint64_t end)
    : run_(run),
      t0_(std::chrono::steady_clock::now()),
      table_(run.table_),
      target_(run.target_),
      size_(run.largest_size_),
      layout_(size_, run.operands_, run.settings_.unary, run.settings_.binary),
      end_(std::min(end, layout_.slots())),
      begin_(std::min(begin, end_)),
      first_segment_(begin_ / kSegmentSlots),
      n_segments_(
          static_cast<std::size_t>((end_ + kSegmentSlots - 1) / kSegmentSlots - first_segment_)),
      keep_(run.settings_.front_size),
      scaled_(run.settings_.scaling),
      screen_rows_(target_.screen.size()),
      rows_(run.rows_),
      vok_terms_(with_vok(run.settings_) ? VokSecondTerms(table_, kVokTermBytes)
                                         : VokSecondTerms()),
      results_(n_segments_),
      bounds_(n_segments_, keep_) {}

template <class Rows>
inline void LargestSize<Rows>::run() {
    run_.current_size_ = size_;
    run_.expected_ = end_ - begin_;
    run_.done_.store(0);
    report_.size = size_;
    report_.complete = !run_.beam_;
    gather(run_waves());
}

// With an evaluation budget, segments run in waves of a fixed length and the
// budget is settled in segment order, so the cut never depends on timing. Returns how many
// segments from the first count.
template <class Rows>
inline std::size_t LargestSize<Rows>::run_waves() {
    const std::uint64_t budget = run_.settings_.max_evaluations;
    const std::size_t wave = budget > 0 ? kWaveSegments : n_segments_;
    std::size_t kept = 0;
    for (std::size_t from = 0; from < n_segments_ && !run_.stopped(); from += wave) {
        const std::size_t n = std::min(wave, n_segments_ - from);
        run_.run_tasks(n, [&](std::size_t i) { score_segment(from + i); });
        for (std::size_t i = from; i < from + n; ++i) {
            if (!results_[i].finished) continue;
            kept = i + 1;
            run_.evaluations_ += results_[i].counts.scored;
            if (budget > 0 && run_.evaluations_ >= budget) {
                run_.stop(StopReason::Evaluations);
                break;
            }
        }
    }
    return kept;
}

template <class Rows>
inline void LargestSize<Rows>::score_segment(std::size_t index) {
    SegmentResult& result = results_[index];
    // Whatever happens here, later segments must not wait for this one.
    struct Done {
        SegmentBounds& bounds;
        std::size_t index;
        ~Done() { bounds.done(index); }
    } done{bounds_, index};
    Worker w(*this, result);
    w.bound = bounds_.bound_for(
        index, [&](std::size_t j) { return results_[j].finished ? &results_[j].top : nullptr; },
        run_.cancel_);
    const std::uint64_t lo = std::max(begin_, (first_segment_ + index) * kSegmentSlots);
    const std::uint64_t hi = std::min(end_, (first_segment_ + index + 1) * kSegmentSlots);
    layout_.visit(lo, hi, [&](std::uint64_t slot, OpCode op, std::uint32_t a, std::uint32_t b) {
        probe(w, slot, op, a, b);
    });
    if (!w.abandoned) w.keys.drain([&](const Pending& p) { consume(w, p); });
    result.counts.duplicates = w.keys.duplicates();
    result.finished = !w.abandoned;
    run_.done_.fetch_add(hi - lo, std::memory_order_relaxed);
}

// A slot's probe values, and its key queued for dedup.
template <class Rows>
inline void LargestSize<Rows>::probe(Worker& w, std::uint64_t slot, OpCode op, std::uint32_t a,
                                     std::uint32_t b) {
    if (w.abandoned) return;
    if (slot % kCancelStride == 0 && run_.cancel_.load(std::memory_order_relaxed)) {
        w.abandoned = true;
        return;
    }
    ++w.out.counts.candidates;
    const double* a_probes = w.probes.of_a(table_, a);
    auto consume = [&](const Pending& p) { this->consume(w, p); };
    bool has_value = true;
    if (op == OpCode::Vok) {
        has_value = w.probes.vok(table_, vok_terms_, a, b);
        if (has_value) w.keys.push_values(w.probes.values.data(), slot, op, a, b, consume);
    } else {
        const double* b_probes = b == kNoOperand ? nullptr : table_.probes(b);
        has_value = w.keys.push(slot, op, a, b, a_probes, b_probes, consume);
    }
    if (!has_value) ++w.out.counts.no_value;
}

// A distinct candidate out of the dedup queue: its fit offered to the
// worker's front unless something cheaper proves it cannot enter.
template <class Rows>
inline void LargestSize<Rows>::consume(Worker& w, const Pending& p) {
    SegmentCounts& c = w.out.counts;
    ++c.distinct;
    ++c.scored;
    const OpCode op = p.op;
    const std::uint32_t a = p.a;
    const std::uint32_t b = p.b;
    const bool unary = b == kNoOperand;
    Fit fit;
    // Without a variable the candidate has its probe value on every row;
    // scaled, its fit is known without them.
    if (scaled_ && table_.constant(a) && (unary || table_.constant(b)) &&
        Rows::fit_constant_scaled(target_, fit)) {
        ++c.valid;
        offer(w.out.top, keep_, Ranked{fit.sse, p.slot, fit.scale, fit.offset, op, a, b, false});
        return;
    }
    const double cut =
        w.out.top.size() == keep_ ? std::min(w.bound, w.out.top.back().sse) : w.bound;
    if (!passes_screen(w, op, a, b, cut)) return;
    const double* a_rows = w.a.of(table_, a);
    const double* b_rows = unary ? nullptr : w.b.of(table_, b);
    if (a_rows == nullptr || (!unary && b_rows == nullptr)) return;
    if (cut < kInf && has_approx(op) && stand_in_rules_out(w, op, a, b, a_rows, b_rows, cut)) {
        ++c.pruned;
        return;
    }
    const bool fitted = scaled_ ? fit_scaled_rows(w, op, a, a_rows, b_rows, cut, fit)
                                : fit_plain_rows(w, op, a_rows, b_rows, cut, fit);
    if (!fitted) return;
    ++c.valid;
    offer(w.out.top, keep_, Ranked{fit.sse, p.slot, fit.scale, fit.offset, op, a, b, false});
}

// A few spread rows first: most candidates are out after them. False when
// the candidate is out.
template <class Rows>
[[gnu::always_inline]] inline bool LargestSize<Rows>::passes_screen(Worker& w, OpCode op,
                                                                    std::uint32_t a,
                                                                    std::uint32_t b, double cut) {
    ScreenRows& s = w.screen;
    if (!(screen_rows_ > 0 && cut < kInf && s.pays())) return true;
    ++s.screened;
    if (a != s.a_of) {
        s.a = table_.values_at(a, target_.screen, s.a_few);
        s.a_of = a;
    }
    const bool unary = b == kNoOperand;
    const double* b_screen = unary ? nullptr : table_.values_at(b, target_.screen, s.b_few);
    if (s.a == nullptr || (!unary && b_screen == nullptr)) return false;
    if (!apply_rows(op, s.a, b_screen, s.f.data(), screen_rows_)) return false;
    if (!Rows::screen_rejects(s.f.data(), target_, scaled_, cut)) return true;
    ++s.hits;
    ++w.out.counts.pruned;
    return false;
}

// A stand-in for a library-call operator rules most candidates out at a
// tenth of the exact values' cost.
template <class Rows>
[[gnu::always_inline]] inline bool LargestSize<Rows>::stand_in_rules_out(
    Worker& w, OpCode op, std::uint32_t a, std::uint32_t b, const double* a_rows,
    const double* b_rows, double cut) {
    double value_error = 0.0;
    bool covered = false;
    const double* stand_in = w.f.data();
    if (op == OpCode::Vok) {
        covered = w.stand_ins.vok(vok_terms_, a, b, a_rows, b_rows, w.f.data(), value_error);
    } else if (op == OpCode::Sin || op == OpCode::Cos) {
        covered = w.stand_ins.sin_cos(op, a, a_rows, stand_in, value_error);
    } else {
        covered = approx_rows(op, a_rows, b_rows, w.f.data(), rows_, value_error);
    }
    return covered && judge_near<Rows>(stand_in, target_, scaled_, value_error, cut).out_of_reach;
}

// Row order, a run at a time: the running error only grows. False when the
// candidate is out (b_rows is null for a unary operator).
template <class Rows>
[[gnu::always_inline]] inline bool LargestSize<Rows>::fit_plain_rows(Worker& w, OpCode op,
                                                                     const double* a_rows,
                                                                     const double* b_rows,
                                                                     double cut, Fit& fit) {
    double* f = w.f.data();
    double sse = 0.0;
    for (std::size_t lo = 0; lo < rows_;) {
        const std::size_t len = std::min(rows_ - lo, lo == 0 ? kFirstRun : kLaterRun);
        if (!(b_rows == nullptr ? apply_unary_rows(op, a_rows + lo, f + lo, len)
                                : apply_binary_rows(op, a_rows + lo, b_rows + lo, f + lo, len)))
            return false;
        sse = Rows::plain_sse_rows(f, target_, lo, lo + len, sse);
        lo += len;
        if (sse > cut && lo < rows_) {
            ++w.out.counts.pruned;
            return false;
        }
    }
    if (!(std::fabs(sse) <= std::numeric_limits<double>::max())) return false;
    fit = Fit{sse, 1.0, 0.0};
    return true;
}

// Arithmetic over two operands is estimated straight from them: the values
// are taken only for a candidate that may enter. False when it is out.
template <class Rows>
[[gnu::always_inline]] inline bool LargestSize<Rows>::fit_scaled_rows(Worker& w, OpCode op,
                                                                      std::uint32_t a,
                                                                      const double* a_rows,
                                                                      const double* b_rows,
                                                                      double cut, Fit& fit) {
    const bool unary = b_rows == nullptr;
    const bool in_one_pass = !unary && estimated_in_one_pass(op);
    ScaledEstimate estimate;
    if (in_one_pass && !Rows::scaled_estimate_binary(op, a_rows, b_rows, target_, estimate))
        return false;
    if (in_one_pass && estimate.exceeds(cut)) {
        ++w.out.counts.pruned;
        return false;
    }
    const double* values = w.f.data();
    if (op == OpCode::Sin || op == OpCode::Cos) {
        // As with the stand-ins: both at once, the other kept for a's next candidate.
        values = w.exact_trig.apply(op, a, a_rows);
    } else if (!(unary ? apply_unary_rows(op, a_rows, w.f.data(), rows_)
                       : apply_binary_rows(op, a_rows, b_rows, w.f.data(), rows_))) {
        return false;
    }
    if (!in_one_pass && Rows::scaled_estimate(values, target_).exceeds(cut)) {
        ++w.out.counts.pruned;
        return false;
    }
    return Rows::fit_scaled(values, target_, fit);
}

// The front of the segments that count, in segment order.
template <class Rows>
inline void LargestSize<Rows>::gather(std::size_t kept) {
    std::vector<Ranked> top;
    for (std::size_t i = 0; i < kept; ++i) {
        if (!results_[i].finished) {
            report_.complete = false;
            continue;
        }
        results_[i].counts.add_to(report_);
        for (const Ranked& r : results_[i].top) offer(top, keep_, r);
    }
    if (kept < n_segments_) report_.complete = false;
    run_.add_front(size_, std::move(top));
    report_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0_).count();
    run_.reports_.push_back(report_);
}

void Enumerator::run_largest(std::uint64_t begin, std::uint64_t end) {
    if (target_.weighted()) {
        LargestSize<Weighted>(*this, begin, end).run();
    } else {
        LargestSize<Unweighted>(*this, begin, end).run();
    }
}

}  // namespace vok::enumeration
