// Candidate errors, and the screening bound that lets most candidates stop
// after a few rows.
#include "core/candidate_fit.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/fit_allowances.hpp"
#include "core/fit_kernels.hpp"

namespace vok {
namespace {

using namespace fit_allowances;
using fit_kernels::Unweighted;

// Values near those estimated: past this shift of direction the bound is too
// loose to be worth it, and the shift's allowance is taken with room to spare.
constexpr double kMaxDirectionShift = 1e-3;
constexpr double kShiftSafety = 1.5;

}  // namespace

FitTarget::FitTarget(std::span<const double> targets, std::span<const double> weights)
    : y(targets), n(targets.size()), w(weights), total_weight(static_cast<double>(targets.size())) {
    double sum = 0.0;
    for (double v : y) sum += v;
    mean = sum / static_cast<double>(n);
    centered.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        centered[i] = y[i] - mean;
        syy += centered[i] * centered[i];
        max_abs_y = std::max(max_abs_y, std::fabs(y[i]));
    }
    if (n >= kScreenFrom) {
        screen.resize(kScreenRows);
        screen_y.resize(kScreenRows);
        double screen_sum = 0.0;
        for (std::size_t i = 0; i < kScreenRows; ++i) {
            screen[i] = static_cast<std::uint32_t>((i * n) / kScreenRows + n / (2 * kScreenRows));
            screen_y[i] = y[screen[i]];
            screen_sum += screen_y[i];
        }
        const double screen_mean = screen_sum / static_cast<double>(kScreenRows);
        screen_centered.resize(kScreenRows);
        for (std::size_t i = 0; i < kScreenRows; ++i) {
            screen_centered[i] = screen_y[i] - screen_mean;
            screen_syy += screen_centered[i] * screen_centered[i];
        }
    }
    // The same rows, their means and sums then taken again with the weights.
    if (weighted()) weigh();
}

double plain_sse_rows(const double* f, const FitTarget& t, std::size_t begin, std::size_t end,
                      double sse) noexcept {
    return fit_kernels::plain_sse_rows<Unweighted>(f, t, begin, end, sse);
}

bool fit_plain(const double* f, const FitTarget& t, Fit& out) noexcept {
    const double sse = plain_sse_rows(f, t, 0, t.n, 0.0);
    if (!finite(sse)) return false;
    out = {sse, 1.0, 0.0};
    return true;
}

bool fit_scaled(const double* f, const FitTarget& t, Fit& out) noexcept {
    return fit_kernels::fit_scaled<Unweighted>(f, t, out);
}

double sse_at(const double* f, std::span<const double> y, double scale, double offset) noexcept {
    return fit_kernels::sse_at(f, y, Unweighted(nullptr), scale, offset);
}

bool fit_constant_scaled(const FitTarget& t, Fit& out) noexcept {
    return fit_kernels::fit_constant_scaled<Unweighted>(t, out);
}

// Compiled twice: for processors with 256-bit vectors, and for any other.
[[gnu::target_clones("avx2", "default")]] ScaledEstimate scaled_estimate(
    const double* f, const FitTarget& t) noexcept {
    return fit_kernels::scaled_estimate<Unweighted>(f, t);
}

[[gnu::target_clones("avx2", "default")]] bool scaled_estimate_binary(
    OpCode op, const double* a, const double* b, const FitTarget& t, ScaledEstimate& out) noexcept {
    return fit_kernels::scaled_estimate_binary<Unweighted>(op, a, b, t, out);
}

bool ScaledEstimate::exceeds(double bound) const noexcept {
    if (!finite(bound) || !finite(value) || !finite(slack)) return false;
    const double rounding = kEpsilon * magnitude *
                            (std::sqrt(rows * std::max(bound, 0.0)) + rows * kEpsilon * magnitude);
    return value - slack - kRoundingSafety * rounding > bound * kBoundGrowth;
}

bool ScaledEstimate::exceeds_near(double bound, double value_error) const noexcept {
    if (!(value_error >= 0.0) || !finite(value_error)) return false;
    // The centred values move by at most value_error, so their direction, and
    // with it the correlation with y, moves by at most delta: the explained
    // share is at most (r + delta)^2 of syy.
    const double spread_low = spread * (1.0 - kEstimateSlack * conditioning);
    if (!(spread_low > 0.0) || !(syy > 0.0)) return false;
    const double delta = 2.0 * value_error / std::sqrt(spread_low);
    if (!(delta < kMaxDirectionShift)) return false;
    const double r = std::min(1.0, std::sqrt(std::max(0.0, (explained + slack) / syy)));
    ScaledEstimate widened = *this;
    widened.slack += kShiftSafety * syy * (2.0 * r * delta + delta * delta);
    return widened.exceeds(bound);
}

bool plain_exceeds_near(double sse, double value_error, double bound) noexcept {
    if (!finite(bound) || !finite(value_error)) return false;
    // |f - y| shrinks by at most value_error; the sum's own rounding is far
    // inside the shrink factor.
    const double distance = std::sqrt(sse * kPlainShrink) - value_error;
    return finite(sse) && distance > 0.0 && distance * distance * kPlainShrink > bound;
}

bool screen_rejects(const double* f_screen, const FitTarget& t, bool scaled,
                    double bound) noexcept {
    return fit_kernels::screen_rejects<Unweighted>(f_screen, t, scaled, bound);
}

}  // namespace vok
