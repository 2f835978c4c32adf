// Candidate errors, and the screening bound that lets most candidates stop
// after a few rows.
#include "core/candidate_fit.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/column_ops.hpp"
#include "core/fit_allowances.hpp"
#include "core/op_apply.hpp"

namespace vok {
namespace {

using namespace fit_allowances;

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
    for (std::size_t i = begin; i < end; ++i) {
        const double d = f[i] - t.y[i];
        sse += d * d;
    }
    return sse;
}

bool fit_plain(const double* f, const FitTarget& t, Fit& out) noexcept {
    const double sse = plain_sse_rows(f, t, 0, t.n, 0.0);
    if (!finite(sse)) return false;
    out = {sse, 1.0, 0.0};
    return true;
}

bool fit_scaled(const double* f, const FitTarget& t, Fit& out) noexcept {
    const std::size_t n = t.n;
    double sf = 0.0;
    for (std::size_t i = 0; i < n; ++i) sf += f[i];
    const double mf = sf / static_cast<double>(n);
    double sff = 0.0;
    double sfy = 0.0;
    double sf2 = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = f[i] - mf;
        sff += d * d;
        sfy += d * t.centered[i];
        sf2 += f[i] * f[i];
    }
    double scale = 0.0;
    double offset = t.mean;
    if (sff > 0.0 && !(sff <= kFlat * sf2)) {
        scale = sfy / sff;
        offset = t.mean - scale * mf;
    }
    if (!finite(scale) || !finite(offset)) return false;
    const double sse = sse_at(f, t.y, scale, offset);
    if (!finite(sse)) return false;
    out = {sse, scale, offset};
    return true;
}

double sse_at(const double* f, std::span<const double> y, double scale, double offset) noexcept {
    double sse = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double r = y[i] - ((scale * f[i]) + offset);
        sse += r * r;
    }
    return sse;
}

bool fit_constant_scaled(const FitTarget& t, Fit& out) noexcept {
    // n equal values c sum to n c within (n - 1) u |n c| (u = eps / 2), so
    // each differs from their mean by about n u |c|, and sff / sf2 is about
    // (n u)^2: with n eps at most 1.5e-12, under 5.7e-25, well below kFlat.
    // Then scale is 0, each residual y - (0 f + mean) is t.centered's, and the
    // sse is t.syy itself, summed in the same order.
    if (!(static_cast<double>(t.n) * kEpsilon <= 1.5e-12) || !finite(t.syy)) return false;
    out = {t.syy, 0.0, t.mean};
    return true;
}

// The lane helpers below are always inlined, so no call passes a vector and
// the ABI note about vector arguments without AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

// Four lanes: lane l sums rows l, l + 4, ... (written as vectors so the
// compiler keeps them as such, whatever the register width).
using Lanes = double __attribute__((vector_size(32)));
using LaneBits = std::int64_t __attribute__((vector_size(32)));

struct EstimateSums {
    double shift = 0.0;
    double sum = 0.0;
    double squares = 0.0;
    double cross = 0.0;
};

// The estimate's sums over the values rows4(i, v) (rows i .. i + 3 into v) and row(i),
// each less shift. The sums are taken on f - f[0]: the line's error does not
// change with a shift, and a nearly flat f (1 + 1e-6 g, say) then keeps its
// spread instead of losing it to cancellation against its own square. The
// shift rounds each value by at most half an ulp of the difference, far
// inside the slack.
template <class Rows4, class Row>
[[gnu::always_inline]] inline EstimateSums lane_sums(double shift, const FitTarget& t, Rows4 rows4,
                                                     Row row) noexcept {
    Lanes sf = {0.0, 0.0, 0.0, 0.0};
    Lanes s2 = sf;
    Lanes sy = sf;
    const Lanes by = {shift, shift, shift, shift};
    const std::size_t n = t.n;
    const std::size_t whole = n - n % 4;
    const double* yc = t.centered.data();
    for (std::size_t i = 0; i < whole; i += 4) {
        Lanes c;
        std::memcpy(&c, yc + i, sizeof c);
        Lanes v;
        rows4(i, v);
        v -= by;
        sf += v;
        s2 += v * v;
        sy += v * c;
    }
    for (std::size_t i = whole; i < n; ++i) {
        const double v = row(i) - shift;
        sf[0] += v;
        s2[0] += v * v;
        sy[0] += v * yc[i];
    }
    return {shift, (sf[0] + sf[1]) + (sf[2] + sf[3]), (s2[0] + s2[1]) + (s2[2] + s2[3]),
            (sy[0] + sy[1]) + (sy[2] + sy[3])};
}

// False when the spread is lost in rounding here (not in the exact fit):
// then there is no estimate, only syy with an unbounded slack.
bool estimate_from(const EstimateSums& s, const FitTarget& t, ScaledEstimate& e) noexcept {
    const double rows = static_cast<double>(t.n);
    const double spread = s.squares - s.sum * (s.sum / rows);
    e.rows = rows;
    e.syy = t.syy;
    e.spread = spread;
    if (!(spread > 0.0) || !finite(s.squares) || !finite(s.shift)) {
        e.value = t.syy;
        e.slack = std::numeric_limits<double>::infinity();
        e.magnitude = t.max_abs_y + std::fabs(t.mean);
        return false;
    }
    const double explained = s.cross * (s.cross / spread);
    e.value = t.syy - explained;
    // Cancellation in the spread and the cross sum grows with squares / spread:
    // the slack does too.
    const double conditioning = s.squares / spread;
    e.explained = explained;
    e.conditioning = conditioning;
    e.slack = kEstimateSlack * (t.syy * std::sqrt(conditioning) + explained * conditioning);
    // The full fit works on f itself: its residuals are made of terms this large.
    const double scale = s.cross / spread;
    const double f_norm = std::sqrt(s.squares) + std::fabs(s.shift) * std::sqrt(rows);
    e.magnitude = t.max_abs_y + std::fabs(scale) * f_norm +
                  std::fabs(t.mean - scale * (s.shift + s.sum / rows));
    return true;
}

// scaled_estimate over x (op) y, with apply_binary_rows's test for a value.
template <class Op>
[[gnu::always_inline]] inline bool estimate_of(const double* x, const double* y, const FitTarget& t,
                                               Op op, ScaledEstimate& out) noexcept {
    constexpr double kMax = std::numeric_limits<double>::max();
    const LaneBits magnitude_bits = {INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX};
    LaneBits all_finite = {-1, -1, -1, -1};
    bool tail_finite = true;
    auto rows4 = [&](std::size_t i, Lanes& r) {
        Lanes a;
        Lanes b;
        std::memcpy(&a, x + i, sizeof a);
        std::memcpy(&b, y + i, sizeof b);
        r = op(a, b);
        const Lanes size = reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(r) & magnitude_bits);
        all_finite &= size <= kMax;
    };
    auto row = [&](std::size_t i) {
        const double r = op(x[i], y[i]);
        tail_finite = tail_finite && is_finite_value(r);
        return r;
    };
    const double first = t.n > 0 ? row(0) : 0.0;
    const EstimateSums sums = lane_sums(first, t, rows4, row);
    if (!tail_finite || (all_finite[0] & all_finite[1] & all_finite[2] & all_finite[3]) == 0)
        return false;
    (void)estimate_from(sums, t, out);
    return true;
}

// True when fit_scaled is sure to take f as flat: equal values (see
// fit_constant_scaled), or a value whose square overflows, so that sf2 is
// infinite and so above any sff (which is never NaN: sums of finite values
// reach at most an infinity of one sign).
bool surely_flat(const double* f, const FitTarget& t) noexcept {
    constexpr double kSquareOverflows = 0x1p512;
    bool equal = true;
    for (std::size_t i = 0; i < t.n; ++i) {
        if (std::fabs(f[i]) >= kSquareOverflows) return true;
        equal = equal && f[i] == f[0];
    }
    Fit unused;
    return equal && fit_constant_scaled(t, unused);
}

}  // namespace

// Compiled twice: for processors with 256-bit vectors, and for any other.
[[gnu::target_clones("avx2", "default")]] ScaledEstimate scaled_estimate(
    const double* f, const FitTarget& t) noexcept {
    auto rows4 = [f](std::size_t i, Lanes& v) { std::memcpy(&v, f + i, sizeof v); };
    ScaledEstimate e;
    if (!estimate_from(
            lane_sums(t.n > 0 ? f[0] : 0.0, t, rows4, [f](std::size_t i) { return f[i]; }), t, e)) {
        // Unless the full fit is sure to find f flat and fit the target's
        // mean, with error syy exactly.
        if (surely_flat(f, t)) e.slack = 0.0;
    }
    return e;
}

[[gnu::target_clones("avx2", "default")]] bool scaled_estimate_binary(
    OpCode op, const double* a, const double* b, const FitTarget& t, ScaledEstimate& out) noexcept {
    switch (op) {
        case OpCode::Add: return estimate_of(a, b, t, [](auto x, auto y) { return x + y; }, out);
        case OpCode::Sub: return estimate_of(a, b, t, [](auto x, auto y) { return x - y; }, out);
        case OpCode::Mul: return estimate_of(a, b, t, [](auto x, auto y) { return x * y; }, out);
        case OpCode::Div:
            return !any_below_floor(b, t.n) &&
                   estimate_of(a, b, t, [](auto x, auto y) { return x / y; }, out);
        default: return false;
    }
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
    const std::size_t m = t.screen.size();
    if (m == 0 || !finite(bound)) return false;
    if (!scaled) {
        double partial = 0.0;
        for (std::size_t i = 0; i < m; ++i) {
            const double d = f_screen[i] - t.screen_y[i];
            partial += d * d;
        }
        return partial * kPlainShrink > bound;
    }
    double sf = 0.0;
    for (std::size_t i = 0; i < m; ++i) sf += f_screen[i];
    const double mf = sf / static_cast<double>(m);
    double sff = 0.0;
    double sfy = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        const double d = f_screen[i] - mf;
        sff += d * d;
        sfy += d * t.screen_centered[i];
    }
    // The least error any line through f reaches on the screening rows.
    const double least = sff > 0.0 ? t.screen_syy - sfy * (sfy / sff) : t.screen_syy;
    // The full fit's own rounding: its residuals are computed from terms of
    // about this size, which may cancel far below it.
    const double scale = sff > 0.0 ? sfy / sff : 0.0;
    double magnitude = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        magnitude = std::max(magnitude, std::fabs(t.screen_y[i]) + std::fabs(scale * f_screen[i]));
    }
    magnitude += std::fabs(scale * mf);
    const double n = static_cast<double>(t.n);
    const double rounding =
        kEpsilon * magnitude * (std::sqrt(n * std::max(bound, 0.0)) + n * kEpsilon * magnitude);
    return least - kScaledSlack * t.screen_syy - kRoundingSafety * rounding > bound * kBoundGrowth;
}

}  // namespace vok
