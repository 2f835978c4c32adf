// The enumeration driver: the leaves, each size grown in turn (growth.cpp,
// entry_scoring.cpp) and the largest scored with pruning (largest_size.cpp),
// with the budgets, polling and beam planning between them.
#include "enumeration/enumerator.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/system_memory.hpp"
#include "enumeration/segment_pass.hpp"

namespace vok::enumeration {
namespace {

// Rows of stored operand values: a share of the memory budget, capped so a
// default search stays well inside a few GiB.
constexpr std::size_t kRowStoreCap = std::size_t{3} << 29;

// The largest size is estimated to take this share of a grown size's time per slot.
constexpr double kPrunedShare = 0.5;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::size_t pool_size(const EnumerationSettings& settings) {
    return settings.n_threads > 0 ? settings.n_threads : ThreadPool::configured_size();
}

}  // namespace

Enumerator::Enumerator(std::span<const Column> x_cols, std::span<const double> y,
                       std::span<const double> weights, const EnumerationSettings& settings,
                       EnumerationControl* control)
    : x_cols_(x_cols),
      y_(y),
      settings_(settings),
      control_(control),
      rows_(y.size()),
      target_(y, weights),
      var_probes_(data_probes(x_cols, y.size())),
      drop_bits_(settings.dedup_drop_bits),
      memory_budget_(settings.memory_limit > 0 ? settings.memory_limit : default_memory_budget()),
      table_(x_cols, settings.constants, y.size(), std::min(memory_budget_ / 4, kRowStoreCap)),
      largest_size_(settings.max_size),
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
        progress.best_rmse = std::sqrt(best_sse_ / target_.total_weight);
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
        std::nth_element(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(width), ids.end(),
                         worse);
        ids.resize(width);
        // Operands keep their generation order: it is the order of the slots.
        std::sort(ids.begin(), ids.end());
    }
}

bool Enumerator::needs_beam(std::uint32_t size, bool largest) const {
    const auto slots = static_cast<double>(slots_of(size));
    const double seconds = slots * last_slot_seconds_ * (largest ? kPrunedShare : 1.0);
    if (settings_.time_limit > 0.0 && elapsed() + seconds > settings_.time_limit) return true;
    if (largest) return false;
    // Stored rows have their own bound, already counted in the table's bytes.
    const double share = std::min(1.0, 1.5 * last_distinct_share_);
    const double per_entry =
        static_cast<double>(EntryTable::kEntryBytes + sizeof(Pending) + 2 * sizeof(Key128));
    const double need =
        static_cast<double>(table_.bytes() + seen_.bytes()) + slots * share * per_entry;
    return need > static_cast<double>(memory_budget_);
}

void Enumerator::plan(std::uint32_t size) {
    if (!beam_ && needs_beam(size, size == settings_.max_size)) use_beam();
}

// A size that cannot be grown and kept within the budgets, though it can be
// scored like the largest (pruned, nothing stored), is better complete than
// a beam: the sizes above it are then a beam over the smaller ones.
bool Enumerator::ends_complete(std::uint32_t size) const {
    return !beam_ && size < settings_.max_size && needs_beam(size, false) &&
           !needs_beam(size, true);
}

void Enumerator::run_complete_last(std::uint32_t size) {
    largest_size_ = size;
    run_largest(0, slots_of(size));
    largest_size_ = settings_.max_size;
    // No entries of this size: the beam takes its operands from the sizes below.
    size_begin_.push_back(static_cast<std::uint32_t>(table_.size()));
    operands_.emplace_back();
    use_beam();
}

bool Enumerator::run_through(std::uint32_t last) {
    leaves();
    if (stopped()) return false;
    for (std::uint32_t size = 2; size <= last; ++size) {
        if (size == settings_.max_size) {
            plan(size);
            run_largest(0, slots_of(size));
        } else if (last == settings_.max_size && ends_complete(size)) {
            run_complete_last(size);
        } else if (!grow(size)) {
            return false;
        }
        if (stopped()) return false;
        if (size < settings_.max_size && settings_.target_rmse >= 0.0 && reaches_target(size)) {
            stop(StopReason::Target);
            return false;
        }
    }
    return true;
}

void Enumerator::measure_target_on(std::span<const Column> x_cols, std::span<const double> y,
                                   std::span<const double> weights) {
    all_x_ = x_cols;
    all_y_ = y;
    all_w_ = weights;
}

Expr Enumerator::expr_of(const Ranked& r) const {
    if (r.entry) return table_.expr(r.a);
    Expr expr;
    table_.append_tokens(r.a, expr.tokens);
    if (r.b != kNoOperand) table_.append_tokens(r.b, expr.tokens);
    expr.tokens.push_back(Token::oper(r.op));
    expr.n_vars = x_cols_.size();
    return expr;
}

// On a subset of the rows, a best within the target may owe it to the rows
// left out: the size's front is then measured on every row, and the target
// is met only when one of its members fits them all within it.
bool Enumerator::reaches_target(std::uint32_t size) {
    if (!(std::sqrt(best_sse_ / target_.total_weight) <= settings_.target_rmse)) return false;
    if (all_y_.empty()) return true;
    if (!all_rows_)
        all_rows_ = std::make_unique<RowFitter>(all_x_, all_y_, all_w_, settings_.scaling);
    for (std::size_t i = 0; i < front_.size(); ++i) {
        if (front_sizes_[i] != size) continue;
        const auto fit = all_rows_->fit(expr_of(front_[i]));
        if (fit && all_rows_->rmse(fit->sse) <= settings_.target_rmse) return true;
    }
    return false;
}

EnumerationResult Enumerator::finish() {
    EnumerationResult result;
    result.front.reserve(front_.size());
    for (std::size_t i = 0; i < front_.size(); ++i) {
        const Ranked& r = front_[i];
        FrontMember member;
        member.size = front_sizes_[i];
        member.expr = expr_of(r);
        member.sse = r.sse;
        member.rmse = std::sqrt(r.sse / target_.total_weight);
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
