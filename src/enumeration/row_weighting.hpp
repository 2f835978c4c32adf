// The sums a search scores its candidates with, chosen once for the whole
// search: every row once (candidate_fit.hpp), or each by its weight
// (weighted_fit.hpp). The scoring steps take one of these as a template
// argument, so neither path tests for weights on the way.
#pragma once

#include <cstddef>

#include "core/candidate_fit.hpp"
#include "core/weighted_fit.hpp"

namespace vok::enumeration {

struct Unweighted {
    [[nodiscard]] static bool fit_plain(const double* f, const FitTarget& t, Fit& out) noexcept {
        return vok::fit_plain(f, t, out);
    }
    [[nodiscard]] static bool fit_scaled(const double* f, const FitTarget& t, Fit& out) noexcept {
        return vok::fit_scaled(f, t, out);
    }
    [[nodiscard]] static bool fit_constant_scaled(const FitTarget& t, Fit& out) noexcept {
        return vok::fit_constant_scaled(t, out);
    }
    [[nodiscard]] static double plain_sse_rows(const double* f, const FitTarget& t,
                                               std::size_t begin, std::size_t end,
                                               double sse) noexcept {
        return vok::plain_sse_rows(f, t, begin, end, sse);
    }
    [[nodiscard]] static ScaledEstimate scaled_estimate(const double* f,
                                                        const FitTarget& t) noexcept {
        return vok::scaled_estimate(f, t);
    }
    [[nodiscard]] static bool scaled_estimate_binary(OpCode op, const double* a, const double* b,
                                                     const FitTarget& t,
                                                     ScaledEstimate& out) noexcept {
        return vok::scaled_estimate_binary(op, a, b, t, out);
    }
    [[nodiscard]] static bool screen_rejects(const double* f_screen, const FitTarget& t,
                                             bool scaled, double bound) noexcept {
        return vok::screen_rejects(f_screen, t, scaled, bound);
    }
    // A Euclidean distance between values, in the norm the sums measure.
    [[nodiscard]] static double norm_of(double euclidean, const FitTarget&) noexcept {
        return euclidean;
    }
};

struct Weighted {
    [[nodiscard]] static bool fit_plain(const double* f, const FitTarget& t, Fit& out) noexcept {
        return fit_plain_weighted(f, t, out);
    }
    [[nodiscard]] static bool fit_scaled(const double* f, const FitTarget& t, Fit& out) noexcept {
        return fit_scaled_weighted(f, t, out);
    }
    [[nodiscard]] static bool fit_constant_scaled(const FitTarget& t, Fit& out) noexcept {
        return fit_constant_scaled_weighted(t, out);
    }
    [[nodiscard]] static double plain_sse_rows(const double* f, const FitTarget& t,
                                               std::size_t begin, std::size_t end,
                                               double sse) noexcept {
        return plain_sse_rows_weighted(f, t, begin, end, sse);
    }
    [[nodiscard]] static ScaledEstimate scaled_estimate(const double* f,
                                                        const FitTarget& t) noexcept {
        return scaled_estimate_weighted(f, t);
    }
    [[nodiscard]] static bool scaled_estimate_binary(OpCode op, const double* a, const double* b,
                                                     const FitTarget& t,
                                                     ScaledEstimate& out) noexcept {
        return scaled_estimate_binary_weighted(op, a, b, t, out);
    }
    [[nodiscard]] static bool screen_rejects(const double* f_screen, const FitTarget& t,
                                             bool scaled, double bound) noexcept {
        return screen_rejects_weighted(f_screen, t, scaled, bound);
    }
    [[nodiscard]] static double norm_of(double euclidean, const FitTarget& t) noexcept {
        return euclidean * t.norm_factor;
    }
};

}  // namespace vok::enumeration
