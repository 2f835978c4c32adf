// Complete enumeration by size: every distinct expression of 1, 2, ... tokens,
// scored on the samples, with the best few of each size kept as a front.
//
// Generation order (it decides ties, and `order` reports it). Size 1: the
// constants in the caller's order, then the variables. Size s > 1: first every
// kept entry of size s - 1 under every unary operator (entry-major, operators
// in the caller's order); then, for sa = 1 .. s - 2 and sb = s - 1 - sa, every
// kept entry a of size sa with every kept entry b of size sb (a-major), each
// pair under every binary operator in the caller's order. Add and Mul take one
// order only: the pair with sa < sb, or sa == sb and a's position <= b's.
//
// Every position of that order is a "slot"; a slot either names a candidate
// or is a skipped commutative duplicate. Slots are grouped into fixed segments.
// A candidate is dropped when it has no value at a probe point, when an
// expression of a smaller size took the same probe values, or when an earlier
// candidate of its size and segment did. For every size but the largest the
// survivors of all segments are then deduplicated against each other; the
// largest size keeps the per-segment rule, which lets it be split across
// machines with the same result.
//
// An entry is kept as an operand of larger sizes when it has a value on every
// sample row; once complete enumeration no longer fits the budgets, only the
// `beam_width` best entries of each size are (a beam), and the sizes generated
// that way are reported incomplete. "Best" is by a one-pass estimate of the
// entry's error, taken on the stand-in values of approx_ops.hpp for exp, ln,
// sin, cos and vok when they cover the rows, on the exact values otherwise
// (for arithmetic over two operands, straight from theirs: the same bits). An
// expression without a variable has its value on every row; scaled, its fit
// is the target's mean, known without computing its rows.
//
// Scoring stops a candidate early, or rules it out on those stand-in values,
// only when it provably cannot enter the front: the front is the one every
// candidate scored in full would give.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/expr.hpp"

namespace vok::enumeration {

// Slots are handled in segments of this many; a segment is the unit of work
// and of the largest size's deduplication.
inline constexpr std::uint32_t kSegmentSlots = std::uint32_t{1} << 16;

// Named to callers through settings_fields.hpp, which lists every field.
struct EnumerationSettings {
    std::uint32_t max_size = 8;
    std::vector<OpCode> unary{OpCode::Neg,  OpCode::Inv, OpCode::Exp, OpCode::Ln,
                              OpCode::Sqrt, OpCode::Sin, OpCode::Cos};
    std::vector<OpCode> binary{OpCode::Add, OpCode::Sub, OpCode::Mul, OpCode::Div, OpCode::Vok};
    std::vector<double> constants{0.0, 1.0};
    // Fit y ~ scale * f + offset by least squares instead of scoring f as it is.
    bool scaling = true;
    std::uint32_t front_size = 1;       // best candidates kept per size
    std::uint64_t beam_width = 500;     // operands per size once enumeration is incomplete
    std::uint64_t max_evaluations = 0;  // candidates scored; 0 = no limit
    double time_limit = 0.0;            // seconds; 0 = no limit
    std::uint64_t memory_limit = 0;     // bytes; 0 = a share of physical memory
    double target_rmse = -1.0;          // stop after a size whose best reaches it
    std::uint64_t n_threads = 0;        // 0 = the configured pool size
    // Rows the search scores candidates on: with more data, an evenly spread
    // subset of this many, and the front is then fitted again on every row.
    // 0 = all rows.
    std::uint64_t max_rows = 0;
    // Low mantissa bits rounded away before probe values are compared, so
    // that rounding variants of one function, such as (x + y) + z and
    // x + (y + z), count once (0: exact bits). Exact bits count about a
    // quarter more distinct functions per size; past 8 dropped bits the
    // counts hardly move, and 16 still leaves 37 bits to tell functions apart.
    std::uint32_t dedup_drop_bits = 16;
    // One weight per row (finite, non-negative, not all zero): a candidate's
    // error is then sum w (y - prediction)^2, its scale and offset those that
    // minimise it, and its rmse sqrt(error / sum w). A row of weight 0 takes
    // no part in a fit, though a candidate still needs a value there. The
    // probe points and the dedup do not depend on them. Empty: every row once.
    std::vector<double> weights;
};

enum class StopReason { Complete, Target, Time, Evaluations, Memory, Interrupted };

[[nodiscard]] const char* stop_reason_name(StopReason reason) noexcept;

struct EnumerationProgress {
    std::uint32_t size = 0;
    std::uint64_t done = 0;      // slots of this size handled so far
    std::uint64_t expected = 0;  // slots of this size
    double best_rmse = 0.0;      // best so far over all sizes (infinity before any)
    double elapsed = 0.0;        // seconds
};

struct EnumerationControl {
    // Runs on the calling thread about every poll_period while a size is
    // worked on; false stops the search, which then reports Interrupted.
    std::function<bool(const EnumerationProgress&)> keep_going;
    std::chrono::milliseconds poll_period{50};
};

struct FrontMember {
    std::uint32_t size = 0;  // token count of f
    Expr expr;               // f, postfix
    double sse = 0.0;        // sum of squared residuals, in row order: the ranking key
    double rmse = 0.0;       // sqrt(sse / rows), or sqrt(sse / sum of weights)
    double scale = 1.0;      // prediction: (scale * f) + offset
    double offset = 0.0;
    std::uint64_t order = 0;  // slot within its size; breaks ties of sse
};

struct SizeReport {
    std::uint32_t size = 0;
    bool complete = false;         // every kept entry of every smaller size took part
    std::uint64_t candidates = 0;  // slots that name a candidate
    std::uint64_t no_value = 0;    // dropped: no value at some probe point
    std::uint64_t duplicates = 0;  // dropped: probe values already taken
    std::uint64_t distinct = 0;    // the rest
    std::uint64_t scored = 0;      // of those, scored (all, unless a budget cut the size)
    // Of those, with a value on every sample row; at the largest size only those not
    // pruned.
    std::uint64_t valid = 0;
    std::uint64_t pruned = 0;  // of those, stopped part-way
    double seconds = 0.0;
};

struct EnumerationResult {
    std::vector<FrontMember> front;  // by size, best first within a size
    std::vector<SizeReport> sizes;
    StopReason stopped = StopReason::Complete;
    std::uint64_t evaluations = 0;  // candidates scored
    double elapsed = 0.0;
};

// Throws std::invalid_argument for settings or data it cannot work with (the
// message says which), before any work.
[[nodiscard]] EnumerationResult enumerate_formulas(std::span<const Column> x_cols,
                                                   std::span<const double> y,
                                                   const EnumerationSettings& settings,
                                                   EnumerationControl* control = nullptr);

// The largest size split into slices of slots that can run anywhere.
struct SplitPlan {
    std::vector<std::uint8_t> state;  // the smaller sizes' kept entries, compact
    std::uint32_t size = 0;           // the largest size
    std::uint64_t slots = 0;          // its slot count
    std::uint64_t segment = 0;        // slices begin at multiples of this
};

// Runs every size below max_size exactly as enumerate_formulas does and fills
// plan for the largest one (plan.slots is 0 when the search stopped early).
[[nodiscard]] EnumerationResult enumerate_below_largest(std::span<const Column> x_cols,
                                                        std::span<const double> y,
                                                        const EnumerationSettings& settings,
                                                        SplitPlan& plan,
                                                        EnumerationControl* control = nullptr);

// Slots [begin, end) of the largest size, from a plan made with the same data
// and settings. The front of the whole size is the first front_size of all
// slices' fronts ordered by (sse, order): exactly enumerate_formulas' front.
// Budgets other than max_size do not apply to a slice.
[[nodiscard]] EnumerationResult enumerate_slice(std::span<const Column> x_cols,
                                                std::span<const double> y,
                                                const EnumerationSettings& settings,
                                                std::span<const std::uint8_t> state,
                                                std::uint64_t begin, std::uint64_t end,
                                                EnumerationControl* control = nullptr);

// A program fitted on the rows exactly as a candidate is scored (scaled or
// plain, weighted when weights are given): (sse, scale, offset), or nothing
// when it has no value on some row or its fit is not finite.
struct RowFit {
    double sse = 0.0;
    double scale = 1.0;
    double offset = 0.0;
};
[[nodiscard]] std::optional<RowFit> fit_on_rows(const Expr& expr, std::span<const Column> x_cols,
                                                std::span<const double> y, bool scaling,
                                                std::span<const double> weights = {});

// Throws std::invalid_argument, naming the problem, unless weights holds one
// finite, non-negative weight per row, not all zero, with a finite sum.
void check_weights(std::span<const double> weights, std::size_t rows);

// The rows a search with max_rows scores on, in increasing order: every row
// when max_rows is 0 or at least rows, else max_rows evenly spread ones,
// i * rows / max_rows. Throws std::invalid_argument for max_rows 1 or for
// 2^32 rows or more, which no search takes.
[[nodiscard]] std::vector<std::uint32_t> subset_rows(std::size_t rows, std::uint64_t max_rows);

// Orders front members by (sse, order): the rank within a size.
[[nodiscard]] bool ranks_before(const FrontMember& a, const FrontMember& b) noexcept;

}  // namespace vok::enumeration
