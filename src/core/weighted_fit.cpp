// Candidate errors with per-row weights, written apart from the unweighted
// ones so that a search without weights runs their code unchanged.
#include "core/weighted_fit.hpp"

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

// A row's term: exactly zero where its weight is, even when the value
// overflowed (0 * inf would be NaN).
[[gnu::always_inline]] inline double weighed(double w, double v) noexcept {
    return w > 0.0 ? w * v : 0.0;
}

// Equal values c have a weighted mean within about n eps |c| of c (the
// products, their sum and the weights' sum each round), so sff / sf2 is
// about (n eps)^2: with n eps at most 0.75e-12, under 5.7e-25, well below kFlat.
constexpr double kSureFlatLength = 0.75e-12;

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
    const double* w = t.w.data();
    for (std::size_t i = begin; i < end; ++i) {
        const double d = f[i] - t.y[i];
        sse += weighed(w[i], d * d);
    }
    return sse;
}

bool fit_plain_weighted(const double* f, const FitTarget& t, Fit& out) noexcept {
    const double sse = plain_sse_rows_weighted(f, t, 0, t.n, 0.0);
    if (!finite(sse)) return false;
    out = {sse, 1.0, 0.0};
    return true;
}

bool fit_scaled_weighted(const double* f, const FitTarget& t, Fit& out) noexcept {
    const std::size_t n = t.n;
    const double* w = t.w.data();
    double sf = 0.0;
    for (std::size_t i = 0; i < n; ++i) sf += weighed(w[i], f[i]);
    const double mf = sf / t.total_weight;
    double sff = 0.0;
    double sfy = 0.0;
    double sf2 = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = f[i] - mf;
        sff += weighed(w[i], d * d);
        sfy += weighed(w[i], d * t.centered[i]);
        sf2 += weighed(w[i], f[i] * f[i]);
    }
    double scale = 0.0;
    double offset = t.mean;
    if (sff > 0.0 && !(sff <= kFlat * sf2)) {
        scale = sfy / sff;
        offset = t.mean - scale * mf;
    }
    if (!finite(scale) || !finite(offset)) return false;
    const double sse = sse_at_weighted(f, t.y, t.w, scale, offset);
    if (!finite(sse)) return false;
    out = {sse, scale, offset};
    return true;
}

double sse_at_weighted(const double* f, std::span<const double> y, std::span<const double> w,
                       double scale, double offset) noexcept {
    double sse = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double r = y[i] - ((scale * f[i]) + offset);
        sse += weighed(w[i], r * r);
    }
    return sse;
}

bool fit_constant_scaled_weighted(const FitTarget& t, Fit& out) noexcept {
    // Then scale is 0, each residual is t.centered's, and the sse is t.syy
    // itself, its terms weighed and summed in the same order.
    if (!(static_cast<double>(t.n) * kEpsilon <= kSureFlatLength) || !finite(t.syy)) return false;
    out = {t.syy, 0.0, t.mean};
    return true;
}

// Always inlined, as the unweighted lane helpers are (see there for -Wpsabi).
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

using Lanes = double __attribute__((vector_size(32)));
using LaneBits = std::int64_t __attribute__((vector_size(32)));

struct WeightedSums {
    double shift = 0.0;
    double sum = 0.0;      // of w v, v = f - shift
    double squares = 0.0;  // of w v^2
    double cross = 0.0;    // of w v (y - mean)
    double plain = 0.0;    // of v^2 on rows of positive weight, for the magnitude only
};

// Each lane's term where its weight is positive, +0 elsewhere.
[[gnu::always_inline]] inline Lanes kept(Lanes w, Lanes term) noexcept {
    const Lanes zero = {0.0, 0.0, 0.0, 0.0};
    return reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(term) & (w > zero));
}

// lane_sums of candidate_fit.cpp with every term weighed.
template <class Rows4, class Row>
[[gnu::always_inline]] inline WeightedSums weighted_lane_sums(double shift, const FitTarget& t,
                                                              Rows4 rows4, Row row) noexcept {
    Lanes sf = {0.0, 0.0, 0.0, 0.0};
    Lanes s2 = sf;
    Lanes sy = sf;
    Lanes sp = sf;
    const Lanes by = {shift, shift, shift, shift};
    const std::size_t n = t.n;
    const std::size_t whole = n - n % 4;
    const double* yc = t.centered.data();
    const double* w = t.w.data();
    for (std::size_t i = 0; i < whole; i += 4) {
        Lanes c;
        Lanes wl;
        std::memcpy(&c, yc + i, sizeof c);
        std::memcpy(&wl, w + i, sizeof wl);
        Lanes v;
        rows4(i, v);
        v -= by;
        const Lanes vv = v * v;
        sf += kept(wl, wl * v);
        s2 += kept(wl, wl * vv);
        sy += kept(wl, wl * (v * c));
        sp += kept(wl, vv);
    }
    for (std::size_t i = whole; i < n; ++i) {
        const double v = row(i) - shift;
        sf[0] += weighed(w[i], v);
        s2[0] += weighed(w[i], v * v);
        sy[0] += weighed(w[i], v * yc[i]);
        sp[0] += w[i] > 0.0 ? v * v : 0.0;
    }
    return {shift, (sf[0] + sf[1]) + (sf[2] + sf[3]), (s2[0] + s2[1]) + (s2[2] + s2[3]),
            (sy[0] + sy[1]) + (sy[2] + sy[3]), (sp[0] + sp[1]) + (sp[2] + sp[3])};
}

// estimate_from of candidate_fit.cpp with the total weight for the row count:
// the cancellation allowances are relative and carry over to weighed sums,
// and the full fit's rounding grows with the square root of the total weight.
bool estimate_from_weighted(const WeightedSums& s, const FitTarget& t, ScaledEstimate& e) noexcept {
    const double rows = t.total_weight;
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
    const double conditioning = s.squares / spread;
    e.explained = explained;
    e.conditioning = conditioning;
    e.slack = kEstimateSlack * (t.syy * std::sqrt(conditioning) + explained * conditioning);
    const double scale = s.cross / spread;
    const double f_norm =
        std::sqrt(s.plain) + std::fabs(s.shift) * std::sqrt(static_cast<double>(t.n));
    e.magnitude = t.max_abs_y + std::fabs(scale) * f_norm +
                  std::fabs(t.mean - scale * (s.shift + s.sum / rows));
    return true;
}

// estimate_of of candidate_fit.cpp, weighed.
template <class Op>
[[gnu::always_inline]] inline bool weighted_estimate_of(const double* x, const double* y,
                                                        const FitTarget& t, Op op,
                                                        ScaledEstimate& out) noexcept {
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
    const WeightedSums sums = weighted_lane_sums(first, t, rows4, row);
    if (!tail_finite || (all_finite[0] & all_finite[1] & all_finite[2] & all_finite[3]) == 0)
        return false;
    (void)estimate_from_weighted(sums, t, out);
    return true;
}

// surely_flat of candidate_fit.cpp: a square that overflows counts only on a
// row of positive weight (elsewhere its term is zero).
bool surely_flat_weighted(const double* f, const FitTarget& t) noexcept {
    constexpr double kSquareOverflows = 0x1p512;
    bool equal = true;
    for (std::size_t i = 0; i < t.n; ++i) {
        if (t.w[i] > 0.0 && std::fabs(f[i]) >= kSquareOverflows) return true;
        equal = equal && f[i] == f[0];
    }
    Fit unused;
    return equal && fit_constant_scaled_weighted(t, unused);
}

}  // namespace

[[gnu::target_clones("avx2", "default")]] ScaledEstimate scaled_estimate_weighted(
    const double* f, const FitTarget& t) noexcept {
    auto rows4 = [f](std::size_t i, Lanes& v) { std::memcpy(&v, f + i, sizeof v); };
    ScaledEstimate e;
    if (!estimate_from_weighted(
            weighted_lane_sums(t.n > 0 ? f[0] : 0.0, t, rows4, [f](std::size_t i) { return f[i]; }),
            t, e)) {
        if (surely_flat_weighted(f, t)) e.slack = 0.0;
    }
    return e;
}

[[gnu::target_clones("avx2", "default")]] bool scaled_estimate_binary_weighted(
    OpCode op, const double* a, const double* b, const FitTarget& t, ScaledEstimate& out) noexcept {
    switch (op) {
        case OpCode::Add:
            return weighted_estimate_of(a, b, t, [](auto x, auto y) { return x + y; }, out);
        case OpCode::Sub:
            return weighted_estimate_of(a, b, t, [](auto x, auto y) { return x - y; }, out);
        case OpCode::Mul:
            return weighted_estimate_of(a, b, t, [](auto x, auto y) { return x * y; }, out);
        case OpCode::Div:
            return !any_below_floor(b, t.n) &&
                   weighted_estimate_of(a, b, t, [](auto x, auto y) { return x / y; }, out);
        default: return false;
    }
}

bool screen_rejects_weighted(const double* f_screen, const FitTarget& t, bool scaled,
                             double bound) noexcept {
    const std::size_t m = t.screen.size();
    if (m == 0 || !finite(bound)) return false;
    const double* w = t.screen_w.data();
    if (!scaled) {
        double partial = 0.0;
        for (std::size_t i = 0; i < m; ++i) {
            const double d = f_screen[i] - t.screen_y[i];
            partial += weighed(w[i], d * d);
        }
        return partial * kPlainShrink > bound;
    }
    if (!(t.screen_weight > 0.0)) return false;
    double sf = 0.0;
    for (std::size_t i = 0; i < m; ++i) sf += weighed(w[i], f_screen[i]);
    const double mf = sf / t.screen_weight;
    double sff = 0.0;
    double sfy = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        const double d = f_screen[i] - mf;
        sff += weighed(w[i], d * d);
        sfy += weighed(w[i], d * t.screen_centered[i]);
    }
    // The least weighted error any line through f reaches on the screening rows.
    const double least = sff > 0.0 ? t.screen_syy - sfy * (sfy / sff) : t.screen_syy;
    const double scale = sff > 0.0 ? sfy / sff : 0.0;
    double magnitude = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
        magnitude = std::max(magnitude, std::fabs(t.screen_y[i]) + std::fabs(scale * f_screen[i]));
    }
    magnitude += std::fabs(scale * mf);
    const double rows = t.total_weight;
    const double rounding = kEpsilon * magnitude *
                            (std::sqrt(rows * std::max(bound, 0.0)) + rows * kEpsilon * magnitude);
    return least - kScaledSlack * t.screen_syy - kRoundingSafety * rounding > bound * kBoundGrowth;
}

}  // namespace vok
