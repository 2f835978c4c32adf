// Candidate errors with per-row weights: the kernels of the unweighted ones
// (fit_kernels.hpp), each term weighed, in functions apart so that a search
// without weights runs its code unchanged.
#include "core/weighted_fit.hpp"

#include <algorithm>
#include <cmath>

#include "core/fit_allowances.hpp"
#include "core/fit_kernels.hpp"

namespace vok {
namespace {

using namespace fit_allowances;
using fit_kernels::weighed;
using fit_kernels::Weighted;

// A bound on sqrt(max w) a little above its rounded value.
constexpr double kNormFactorGrowth = 1.0 + 1e-12;

}  // namespace

void FitTarget::weigh() {
    double weight = 0.0;
    double sum = 0.0;
    double largest = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        weight += w[i];
        sum += weighed(w[i], y[i]);
        largest = std::max(largest, w[i]);
    }
    total_weight = weight;
    norm_factor = std::sqrt(largest) * kNormFactorGrowth;
    mean = sum / weight;
    syy = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        centered[i] = y[i] - mean;
        syy += weighed(w[i], centered[i] * centered[i]);
    }
    const std::size_t m = screen.size();
    screen_w.resize(m);
    double screen_sum = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        screen_w[i] = w[screen[i]];
        screen_weight += screen_w[i];
        screen_sum += weighed(screen_w[i], screen_y[i]);
    }
    // Screening rows without weight bound nothing: their mean is any number.
    const double screen_mean = screen_weight > 0.0 ? screen_sum / screen_weight : 0.0;
    screen_syy = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        screen_centered[i] = screen_y[i] - screen_mean;
        screen_syy += weighed(screen_w[i], screen_centered[i] * screen_centered[i]);
    }
}

double plain_sse_rows_weighted(const double* f, const FitTarget& t, std::size_t begin,
                               std::size_t end, double sse) noexcept {
    return fit_kernels::plain_sse_rows<Weighted>(f, t, begin, end, sse);
}

bool fit_plain_weighted(const double* f, const FitTarget& t, Fit& out) noexcept {
    const double sse = plain_sse_rows_weighted(f, t, 0, t.n, 0.0);
    if (!finite(sse)) return false;
    out = {sse, 1.0, 0.0};
    return true;
}

bool fit_scaled_weighted(const double* f, const FitTarget& t, Fit& out) noexcept {
    return fit_kernels::fit_scaled<Weighted>(f, t, out);
}

double sse_at_weighted(const double* f, std::span<const double> y, std::span<const double> w,
                       double scale, double offset) noexcept {
    return fit_kernels::sse_at(f, y, Weighted(w.data()), scale, offset);
}

bool fit_constant_scaled_weighted(const FitTarget& t, Fit& out) noexcept {
    return fit_kernels::fit_constant_scaled<Weighted>(t, out);
}

[[gnu::target_clones("avx2", "default")]] ScaledEstimate scaled_estimate_weighted(
    const double* f, const FitTarget& t) noexcept {
    return fit_kernels::scaled_estimate<Weighted>(f, t);
}

[[gnu::target_clones("avx2", "default")]] bool scaled_estimate_binary_weighted(
    OpCode op, const double* a, const double* b, const FitTarget& t, ScaledEstimate& out) noexcept {
    return fit_kernels::scaled_estimate_binary<Weighted>(op, a, b, t, out);
}

bool screen_rejects_weighted(const double* f_screen, const FitTarget& t, bool scaled,
                             double bound) noexcept {
    return fit_kernels::screen_rejects<Weighted>(f_screen, t, scaled, bound);
}

}  // namespace vok
