// The sums behind candidate_fit.hpp and weighted_fit.hpp, written once for
// both: each takes a row weighting, Unweighted (every row's term as it is) or
// Weighted (each term times its row's weight, exactly zero where that is).
// Unweighted compiles to the plain sums and nothing else, so a search without
// weights runs the same instructions, in the same order, as before weights.
// For those two files only.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>

#include "core/candidate_fit.hpp"
#include "core/column_ops.hpp"
#include "core/fit_allowances.hpp"
#include "core/op_apply.hpp"

// The lane helpers are always inlined, so no call passes a vector and the ABI
// note about vector arguments without AVX does not apply. Not popped: the
// note comes at the end of the including file, where the templates are made.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace vok::fit_kernels {

using namespace fit_allowances;

// Four lanes: lane l sums rows l, l + 4, ... (written as vectors so the
// compiler keeps them as such, whatever the register width).
using Lanes = double __attribute__((vector_size(32)));
using LaneBits = std::int64_t __attribute__((vector_size(32)));

// A row's term: exactly zero where its weight is, even when the value
// overflowed (0 * inf would be NaN).
[[gnu::always_inline]] inline double weighed(double w, double v) noexcept {
    return w > 0.0 ? w * v : 0.0;
}

struct Unweighted {
    static constexpr bool kWeighted = false;
    explicit Unweighted(const double* /*weights*/) noexcept {}
    [[gnu::always_inline]] double term(std::size_t /*row*/, double v) const noexcept { return v; }
    [[gnu::always_inline]] Lanes terms(std::size_t /*row*/, Lanes v) const noexcept { return v; }
    [[gnu::always_inline]] bool counts(std::size_t /*row*/) const noexcept { return true; }
};

struct Weighted {
    static constexpr bool kWeighted = true;
    explicit Weighted(const double* weights) noexcept : w(weights) {}
    [[gnu::always_inline]] double term(std::size_t row, double v) const noexcept {
        return weighed(w[row], v);
    }
    // Rows row .. row + 3: each lane's term times its weight where that is
    // positive, +0 elsewhere.
    [[gnu::always_inline]] Lanes terms(std::size_t row, Lanes v) const noexcept {
        Lanes wl;
        std::memcpy(&wl, w + row, sizeof wl);
        const Lanes zero = {0.0, 0.0, 0.0, 0.0};
        return reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(wl * v) & (wl > zero));
    }
    // The same, unweighed: the term as it is where the weight is positive.
    [[gnu::always_inline]] Lanes kept(std::size_t row, Lanes v) const noexcept {
        Lanes wl;
        std::memcpy(&wl, w + row, sizeof wl);
        const Lanes zero = {0.0, 0.0, 0.0, 0.0};
        return reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(v) & (wl > zero));
    }
    [[gnu::always_inline]] bool counts(std::size_t row) const noexcept { return w[row] > 0.0; }
    const double* w;
};

template <class W>
[[gnu::always_inline]] inline W rows_of(const FitTarget& t) noexcept {
    return W(t.w.data());
}

template <class W>
[[gnu::always_inline]] inline double plain_sse_rows(const double* f, const FitTarget& t,
                                                    std::size_t begin, std::size_t end,
                                                    double sse) noexcept {
    const W weight = rows_of<W>(t);
    for (std::size_t i = begin; i < end; ++i) {
        const double d = f[i] - t.y[i];
        sse += weight.term(i, d * d);
    }
    return sse;
}

template <class W>
[[gnu::always_inline]] inline double sse_at(const double* f, std::span<const double> y, W weight,
                                            double scale, double offset) noexcept {
    double sse = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double r = y[i] - ((scale * f[i]) + offset);
        sse += weight.term(i, r * r);
    }
    return sse;
}

struct CentredSums {
    double mean = 0.0;     // of f: the sum of its terms / total
    double spread = 0.0;   // sum of (f - mean)^2's terms
    double cross = 0.0;    // sum of (f - mean) (y - y's mean)'s terms
    double squares = 0.0;  // sum of f^2's terms, when asked for
};

// f's mean, then its centred sums against the centred targets yc, over rows
// [0, n), in row order.
template <bool kSquares, class W>
[[gnu::always_inline]] inline CentredSums centred_sums(const double* f, const double* yc,
                                                       std::size_t n, const W& weight,
                                                       double total) noexcept {
    double sf = 0.0;
    for (std::size_t i = 0; i < n; ++i) sf += weight.term(i, f[i]);
    CentredSums s;
    s.mean = sf / total;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = f[i] - s.mean;
        s.spread += weight.term(i, d * d);
        s.cross += weight.term(i, d * yc[i]);
        if constexpr (kSquares) s.squares += weight.term(i, f[i] * f[i]);
    }
    return s;
}

template <class W>
[[gnu::always_inline]] inline bool fit_scaled(const double* f, const FitTarget& t,
                                              Fit& out) noexcept {
    const W weight = rows_of<W>(t);
    // total_weight is n itself without weights.
    const auto [mf, sff, sfy, sf2] =
        centred_sums<true>(f, t.centered.data(), t.n, weight, t.total_weight);
    double scale = 0.0;
    double offset = t.mean;
    if (sff > 0.0 && !(sff <= kFlat * sf2)) {
        scale = sfy / sff;
        offset = t.mean - scale * mf;
    }
    if (!finite(scale) || !finite(offset)) return false;
    const double sse = sse_at(f, t.y, weight, scale, offset);
    if (!finite(sse)) return false;
    out = {sse, scale, offset};
    return true;
}

struct EstimateSums {
    double shift = 0.0;
    double sum = 0.0;      // of the terms of v = f - shift
    double squares = 0.0;  // of those of v^2
    double cross = 0.0;    // of those of v (y - mean)
    double plain = 0.0;    // of v^2 on the rows that count, for the magnitude only
};

// The estimate's sums over the values rows4(i, v) (rows i .. i + 3 into v) and row(i),
// each less shift. The sums are taken on f - f[0]: the line's error does not
// change with a shift, and a nearly flat f (1 + 1e-6 g, say) then keeps its
// spread instead of losing it to cancellation against its own square. The
// shift rounds each value by at most half an ulp of the difference, far
// inside the slack.
template <class W, class Rows4, class Row>
[[gnu::always_inline]] inline EstimateSums lane_sums(double shift, const FitTarget& t, Rows4 rows4,
                                                     Row row) noexcept {
    const W weight = rows_of<W>(t);
    Lanes sf = {0.0, 0.0, 0.0, 0.0};
    Lanes s2 = sf;
    Lanes sy = sf;
    Lanes sp = sf;
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
        const Lanes vv = v * v;
        sf += weight.terms(i, v);
        s2 += weight.terms(i, vv);
        sy += weight.terms(i, v * c);
        if constexpr (W::kWeighted) sp += weight.kept(i, vv);
    }
    for (std::size_t i = whole; i < n; ++i) {
        const double v = row(i) - shift;
        sf[0] += weight.term(i, v);
        s2[0] += weight.term(i, v * v);
        sy[0] += weight.term(i, v * yc[i]);
        if constexpr (W::kWeighted) sp[0] += weight.counts(i) ? v * v : 0.0;
    }
    const double squares = (s2[0] + s2[1]) + (s2[2] + s2[3]);
    return {shift, (sf[0] + sf[1]) + (sf[2] + sf[3]), squares, (sy[0] + sy[1]) + (sy[2] + sy[3]),
            W::kWeighted ? (sp[0] + sp[1]) + (sp[2] + sp[3]) : squares};
}

// False when the spread is lost in rounding here (not in the exact fit):
// then there is no estimate, only syy with an unbounded slack. The total
// weight stands for the row count: the cancellation allowances are relative
// and carry over to weighed sums, and the full fit's rounding grows with its
// square root. Out of line: it is cold beside the sums.
[[gnu::noinline]] inline bool estimate_from(const EstimateSums& s, const FitTarget& t,
                                            ScaledEstimate& e) noexcept {
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
    // Cancellation in the spread and the cross sum grows with squares / spread:
    // the slack does too.
    const double conditioning = s.squares / spread;
    e.explained = explained;
    e.conditioning = conditioning;
    e.slack = kEstimateSlack * (t.syy * std::sqrt(conditioning) + explained * conditioning);
    // The full fit works on f itself: its residuals are made of terms this large.
    const double scale = s.cross / spread;
    const double f_norm =
        std::sqrt(s.plain) + std::fabs(s.shift) * std::sqrt(static_cast<double>(t.n));
    e.magnitude = t.max_abs_y + std::fabs(scale) * f_norm +
                  std::fabs(t.mean - scale * (s.shift + s.sum / rows));
    return true;
}

// scaled_estimate over x (op) y, with apply_binary_rows's test for a value.
template <class W, class Op>
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
    const EstimateSums sums = lane_sums<W>(first, t, rows4, row);
    if (!tail_finite || (all_finite[0] & all_finite[1] & all_finite[2] & all_finite[3]) == 0)
        return false;
    (void)estimate_from(sums, t, out);
    return true;
}

// fit_constant_scaled's test, with the longest data it holds for.
template <class W>
[[nodiscard]] inline bool fit_constant_scaled(const FitTarget& t, Fit& out) noexcept {
    // n equal values c sum to n c within (n - 1) u |n c| (u = eps / 2), so
    // each differs from their mean by about n u |c|, and sff / sf2 is about
    // (n u)^2: with n eps at most 1.5e-12, under 5.7e-25, well below kFlat.
    // A weighted mean rounds a little more (the products, their sum and the
    // weights' sum each round): half that length. Then scale is 0, each
    // residual y - (0 f + mean) is t.centered's, and the sse is t.syy itself,
    // summed (its terms weighed) in the same order.
    constexpr double kSureFlatLength = W::kWeighted ? 0.75e-12 : 1.5e-12;
    if (!(static_cast<double>(t.n) * kEpsilon <= kSureFlatLength) || !finite(t.syy)) return false;
    out = {t.syy, 0.0, t.mean};
    return true;
}

// True when fit_scaled is sure to take f as flat: equal values (see
// fit_constant_scaled), or a value whose square overflows on a row that
// counts, so that sf2 is infinite and so above any sff (which is never NaN:
// sums of finite values reach at most an infinity of one sign).
template <class W>
[[gnu::noinline]] inline bool surely_flat(const double* f, const FitTarget& t) noexcept {
    constexpr double kSquareOverflows = 0x1p512;
    const W weight = rows_of<W>(t);
    bool equal = true;
    for (std::size_t i = 0; i < t.n; ++i) {
        if (weight.counts(i) && std::fabs(f[i]) >= kSquareOverflows) return true;
        equal = equal && f[i] == f[0];
    }
    Fit unused;
    return equal && fit_constant_scaled<W>(t, unused);
}

template <class W>
[[gnu::always_inline]] inline ScaledEstimate scaled_estimate(const double* f,
                                                             const FitTarget& t) noexcept {
    auto rows4 = [f](std::size_t i, Lanes& v) { std::memcpy(&v, f + i, sizeof v); };
    ScaledEstimate e;
    if (!estimate_from(
            lane_sums<W>(t.n > 0 ? f[0] : 0.0, t, rows4, [f](std::size_t i) { return f[i]; }), t,
            e)) {
        // Unless the full fit is sure to find f flat and fit the target's
        // mean, with error syy exactly.
        if (surely_flat<W>(f, t)) e.slack = 0.0;
    }
    return e;
}

template <class W>
[[gnu::always_inline]] inline bool scaled_estimate_binary(OpCode op, const double* a,
                                                          const double* b, const FitTarget& t,
                                                          ScaledEstimate& out) noexcept {
    switch (op) {
        case OpCode::Add: return estimate_of<W>(a, b, t, [](auto x, auto y) { return x + y; }, out);
        case OpCode::Sub: return estimate_of<W>(a, b, t, [](auto x, auto y) { return x - y; }, out);
        case OpCode::Mul: return estimate_of<W>(a, b, t, [](auto x, auto y) { return x * y; }, out);
        case OpCode::Div:
            return !any_below_floor(b, t.n) &&
                   estimate_of<W>(a, b, t, [](auto x, auto y) { return x / y; }, out);
        default: return false;
    }
}

template <class W>
inline bool screen_rejects(const double* f_screen, const FitTarget& t, bool scaled,
                           double bound) noexcept {
    const std::size_t m = t.screen.size();
    if (m == 0 || !finite(bound)) return false;
    const W weight(t.screen_w.data());
    if (!scaled) {
        double partial = 0.0;
        for (std::size_t i = 0; i < m; ++i) {
            const double d = f_screen[i] - t.screen_y[i];
            partial += weight.term(i, d * d);
        }
        return partial * kPlainShrink > bound;
    }
    // Screening rows without weight bound nothing: their mean is any number.
    if (W::kWeighted && !(t.screen_weight > 0.0)) return false;
    [[maybe_unused]] const auto [mf, sff, sfy, squares] =
        centred_sums<false>(f_screen, t.screen_centered.data(), m, weight,
                            W::kWeighted ? t.screen_weight : static_cast<double>(m));
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
    const double rows = t.total_weight;
    const double rounding = kEpsilon * magnitude *
                            (std::sqrt(rows * std::max(bound, 0.0)) + rows * kEpsilon * magnitude);
    return least - kScaledSlack * t.screen_syy - kRoundingSafety * rounding > bound * kBoundGrowth;
}

}  // namespace vok::fit_kernels
