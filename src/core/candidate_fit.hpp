// Scoring one candidate's values against the targets: as they are, or after
// the least-squares line y ~ scale * f + offset, every sum in row order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/token.hpp"

namespace vok {

// With weights (finite, non-negative, not all zero; kept by the caller, as it
// keeps the targets), mean, centered, syy and the screen's sums are weighted
// ones (each row's term times its weight, zero where that is), for the
// functions of weighted_fit.hpp: those below then do not apply.
struct FitTarget {
    explicit FitTarget(std::span<const double> targets, std::span<const double> weights = {});

    [[nodiscard]] bool weighted() const noexcept { return !w.empty(); }

    std::span<const double> y;
    std::size_t n = 0;
    std::span<const double> w;  // empty: every row counts once
    double total_weight = 0.0;  // sum of w in row order; n without weights
    // sqrt(max w), rounded up: the weighted norm of any values is at most this
    // times their Euclidean norm (1 without weights).
    double norm_factor = 1.0;
    double mean = 0.0;             // sum of y / n
    std::vector<double> centered;  // y - mean
    double syy = 0.0;              // sum of centered^2
    double max_abs_y = 0.0;
    // A few rows spread over the data, in increasing order, for a cheap
    // lower bound of a candidate's error; empty when the data are too short
    // for it to pay.
    std::vector<std::uint32_t> screen;
    std::vector<double> screen_centered;  // y on those rows minus their own mean
    std::vector<double> screen_y;
    double screen_syy = 0.0;
    std::vector<double> screen_w;  // with weights: theirs on those rows, and their sum
    double screen_weight = 0.0;

private:
    void weigh();  // the weighted means and sums (weighted_fit.cpp)
};

struct Fit {
    double sse = 0.0;
    double scale = 1.0;
    double offset = 0.0;
};

// f holds a value for every row. False when the error (or, scaled, a fitted
// constant) is not finite: such a candidate is dropped.
//   plain:  sse = sum (f - y)^2
//   scaled: mf = sum f / n; sff = sum (f - mf)^2; sfy = sum (f - mf)(y - mean);
//           scale = sfy / sff, offset = mean - scale * mf (scale 0 and offset
//           mean when f is flat); sse = sum (y - ((scale * f) + offset))^2
[[nodiscard]] bool fit_plain(const double* f, const FitTarget& t, Fit& out) noexcept;
[[nodiscard]] bool fit_scaled(const double* f, const FitTarget& t, Fit& out) noexcept;

// sum (y - ((scale * f) + offset))^2 over the rows of y, in row order: the
// error of given constants, summed as fit_scaled sums its own; not finite
// when the values make it so.
[[nodiscard]] double sse_at(const double* f, std::span<const double> y, double scale,
                            double offset) noexcept;

// fit_scaled's result for values equal on every row, found without them: such
// values are flat (their computed spread is rounding only) and the line is the
// target's mean. False when that is not certain (data this long could round
// the spread past the flat threshold) or the error is not finite.
[[nodiscard]] bool fit_constant_scaled(const FitTarget& t, Fit& out) noexcept;

// Continues a plain sse over rows [begin, end), in row order: a running sum
// of fit_plain that can only grow, so a candidate can stop once it exceeds a bound.
[[nodiscard]] double plain_sse_rows(const double* f, const FitTarget& t, std::size_t begin,
                                    std::size_t end, double sse) noexcept;

// A quick estimate of the scaled error from sums over every row, taken in
// several lanes at once, with what rounding could make it miss by.
struct ScaledEstimate {
    double value = 0.0;      // the error of the least-squares line, estimated
    double slack = 0.0;      // cancellation allowance
    double magnitude = 0.0;  // size of the terms the full fit's residuals are made of
    double rows = 0.0;
    double syy = 0.0;  // the target's spread, and the parts of the estimate
    double explained = 0.0;
    double spread = 0.0;  // sum of (f - mean f)^2, with its cancellation
    double conditioning = 0.0;

    // True when fit_scaled's error is sure to exceed bound.
    [[nodiscard]] bool exceeds(double bound) const noexcept;

    // The same for values within value_error (in Euclidean norm) of those the
    // estimate was taken on, such as a stand-in's (approx_ops.hpp).
    [[nodiscard]] bool exceeds_near(double bound, double value_error) const noexcept;
};

// Deterministic: the lanes are summed in a fixed order.
[[nodiscard]] ScaledEstimate scaled_estimate(const double* f, const FitTarget& t) noexcept;

// scaled_estimate over the values op (Add, Sub, Mul or Div) gives on a's and
// b's rows, without storing them: the same bits, except that values lost in
// rounding here get no estimate (an unbounded slack). False when some row has
// no value (exactly when apply_binary_rows is false), or for another op.
[[nodiscard]] constexpr bool estimated_in_one_pass(OpCode op) noexcept {
    return op == OpCode::Add || op == OpCode::Sub || op == OpCode::Mul || op == OpCode::Div;
}
[[nodiscard]] bool scaled_estimate_binary(OpCode op, const double* a, const double* b,
                                          const FitTarget& t, ScaledEstimate& out) noexcept;

// True when values within value_error (in Euclidean norm) of values whose
// plain sse is `sse` are sure to have a plain sse above bound.
[[nodiscard]] bool plain_exceeds_near(double sse, double value_error, double bound) noexcept;

// True when f's values on the screening rows (in t.screen's order) already
// prove that its sse exceeds bound, with room for rounding: such a candidate
// cannot enter a front whose worst member has error bound.
[[nodiscard]] bool screen_rejects(const double* f_screen, const FitTarget& t, bool scaled,
                                  double bound) noexcept;

}  // namespace vok
