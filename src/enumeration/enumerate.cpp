// The enumeration's entry points: settings checked before any work, the
// whole run, and the largest size split into slices.
#include "enumeration/enumerate.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "core/candidate_fit.hpp"
#include "core/number_text.hpp"
#include "enumeration/enumerator.hpp"
#include "enumeration/front_fit.hpp"

namespace vok::enumeration {
namespace {

// Sizes beyond this could never finish: the count of expressions grows about
// sevenfold per token.
constexpr std::uint32_t kMaxSize = 30;
constexpr std::uint32_t kMaxFront = 1000;

void require(bool ok, const std::string& message) {
    if (!ok) throw std::invalid_argument(message);
}

bool all_finite(std::span<const double> values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

void check_operators(std::span<const OpCode> ops, int want_arity, const char* what) {
    for (std::size_t i = 0; i < ops.size(); ++i) {
        require(static_cast<int>(ops[i]) < kOpCodeCount && arity(ops[i]) == want_arity,
                std::string(what) + " operators must all take " +
                    (want_arity == 1 ? "one operand" : "two operands"));
        require(std::find(ops.begin(), ops.begin() + static_cast<std::ptrdiff_t>(i), ops[i]) ==
                    ops.begin() + static_cast<std::ptrdiff_t>(i),
                std::string(what) + " operators must not repeat");
    }
}

void check_input(std::span<const Column> x_cols, std::span<const double> y,
                 const EnumerationSettings& s) {
    require(y.size() >= 2, "at least 2 rows are needed");
    require(y.size() < (std::size_t{1} << 32), "too many rows");
    require(!x_cols.empty(), "at least one variable is needed");
    require(x_cols.size() < (std::size_t{1} << 31), "too many variables");
    for (std::size_t v = 0; v < x_cols.size(); ++v) {
        require(x_cols[v].size() == y.size(), "column " + std::to_string(v) + " has " +
                                                  std::to_string(x_cols[v].size()) +
                                                  " values, y has " + std::to_string(y.size()));
        require(all_finite(x_cols[v]),
                "column " + std::to_string(v) + " holds a value that is not finite");
    }
    require(all_finite(y), "y holds a value that is not finite");
    require(s.max_size >= 1 && s.max_size <= kMaxSize,
            "max_size must be between 1 and " + std::to_string(kMaxSize));
    require(s.front_size >= 1 && s.front_size <= kMaxFront,
            "front_size must be between 1 and " + std::to_string(kMaxFront));
    require(s.beam_width >= 1, "beam_width must be at least 1");
    require(std::isfinite(s.time_limit) && s.time_limit >= 0.0,
            "time_limit must be a finite number >= 0");
    require(!std::isnan(s.target_rmse), "target_rmse must be a number");
    require(s.dedup_drop_bits <= 52, "dedup_drop_bits must be at most 52");
    require(s.max_rows == 0 || s.max_rows >= 2, "max_rows must be 0 (all rows) or at least 2");
    if (!s.weights.empty()) check_weights(s.weights, y.size());
    require(all_finite(s.constants), "constants must be finite");
    require(s.constants.size() < (std::size_t{1} << 31), "too many constants");
    check_operators(s.unary, 1, "unary");
    check_operators(s.binary, 2, "binary");
}

bool subsampled(const EnumerationSettings& s, std::size_t rows) {
    return s.max_rows > 0 && rows > s.max_rows;
}

}  // namespace

const char* stop_reason_name(StopReason reason) noexcept {
    switch (reason) {
        case StopReason::Complete: return "complete";
        case StopReason::Target: return "target";
        case StopReason::Time: return "time";
        case StopReason::Evaluations: return "evaluations";
        case StopReason::Memory: return "memory";
        case StopReason::Interrupted: return "interrupted";
    }
    return "complete";
}

void check_weights(std::span<const double> weights, std::size_t rows) {
    require(weights.size() == rows, "weights has " + std::to_string(weights.size()) +
                                        " values, y has " + std::to_string(rows));
    double sum = 0.0;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        require(std::isfinite(weights[i]) && weights[i] >= 0.0,
                "weights must be finite and non-negative (row " + std::to_string(i) + " is " +
                    debug_text(weights[i]) + ")");
        sum += weights[i];
    }
    require(sum > 0.0, "weights must not all be zero");
    require(std::isfinite(sum), "weights must have a finite sum");
}

std::vector<std::uint32_t> subset_rows(std::size_t rows, std::uint64_t max_rows) {
    require(rows < (std::size_t{1} << 32), "too many rows");
    require(max_rows != 1, "max_rows must be 0 (all rows) or at least 2");
    const std::size_t m =
        max_rows > 0 && rows > max_rows ? static_cast<std::size_t>(max_rows) : rows;
    std::vector<std::uint32_t> out(m);
    // i * rows stays below 2^64: both are below 2^32.
    for (std::size_t i = 0; i < m; ++i) out[i] = static_cast<std::uint32_t>((i * rows) / m);
    return out;
}

bool ranks_before(const FrontMember& a, const FrontMember& b) noexcept {
    return a.sse < b.sse || (a.sse == b.sse && a.order < b.order);
}

EnumerationResult enumerate_formulas(std::span<const Column> x_cols, std::span<const double> y,
                                     const EnumerationSettings& settings,
                                     EnumerationControl* control) {
    check_input(x_cols, y, settings);
    if (!subsampled(settings, y.size())) {
        Enumerator run(x_cols, y, settings.weights, settings, control);
        run.run_through(settings.max_size);
        return run.finish();
    }
    const std::vector<std::uint32_t> rows = subset_rows(y.size(), settings.max_rows);
    const std::size_t m = rows.size();
    const bool weighted = !settings.weights.empty();
    std::vector<Column> sub_x(x_cols.size(), Column(m));
    std::vector<double> sub_y(m);
    std::vector<double> sub_w(weighted ? m : 0);
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t row = rows[i];
        for (std::size_t v = 0; v < x_cols.size(); ++v) sub_x[v][i] = x_cols[v][row];
        sub_y[i] = y[row];
        if (weighted) sub_w[i] = settings.weights[row];
    }
    require(!weighted || std::any_of(sub_w.begin(), sub_w.end(), [](double w) { return w > 0.0; }),
            "weights are all zero on the rows max_rows searches");
    EnumerationResult result;
    {
        Enumerator run(sub_x, sub_y, sub_w, settings, control);
        run.measure_target_on(x_cols, y, settings.weights);
        run.run_through(settings.max_size);
        result = run.finish();
    }
    refit_front(result.front, x_cols, y, settings.scaling, settings.weights);
    return result;
}

EnumerationResult enumerate_below_largest(std::span<const Column> x_cols, std::span<const double> y,
                                          const EnumerationSettings& settings, SplitPlan& plan,
                                          EnumerationControl* control) {
    check_input(x_cols, y, settings);
    require(!subsampled(settings, y.size()), "max_rows does not apply to a split search");
    Enumerator run(x_cols, y, settings.weights, settings, control);
    plan = SplitPlan{};
    plan.size = settings.max_size;
    plan.segment = kSegmentSlots;
    if (settings.max_size < 2) {
        run.run_through(1);  // nothing to split: the leaves are the whole search
    } else if (run.run_through(settings.max_size - 1)) {
        plan.slots = run.slots_of(settings.max_size);
        plan.state = run.save_state();
    }
    return run.finish();
}

EnumerationResult enumerate_slice(std::span<const Column> x_cols, std::span<const double> y,
                                  const EnumerationSettings& settings,
                                  std::span<const std::uint8_t> state, std::uint64_t begin,
                                  std::uint64_t end, EnumerationControl* control) {
    check_input(x_cols, y, settings);
    require(settings.max_size >= 2, "a slice needs max_size of at least 2");
    require(!subsampled(settings, y.size()), "max_rows does not apply to a split search");
    require(begin <= end, "a slice must not end before it begins");
    require(begin % kSegmentSlots == 0, "a slice must begin at a multiple of the segment");
    EnumerationSettings unbounded = settings;
    unbounded.time_limit = 0.0;
    unbounded.max_evaluations = 0;
    Enumerator run(x_cols, y, settings.weights, unbounded, control);
    run.load_state(state);
    const std::uint64_t slots = run.slots_of(settings.max_size);
    require(end % kSegmentSlots == 0 || end >= slots,
            "a slice must end at a multiple of the segment or at the last slot");
    run.run_largest(begin, end);
    return run.finish();
}

}  // namespace vok::enumeration
