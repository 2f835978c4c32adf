// The scoring of candidate_fit.hpp with per-row weights (a target made with
// them): the error is sum w (y - f)^2 or sum w (y - ((scale * f) + offset))^2,
// the line the one that minimises it, from weighted means and centred sums
// in the same closed form. Every sum is in row order and each row's term is
// w * (its value), exactly zero where w is (a row of weight 0 takes no part,
// whatever its values). A search takes these or the unweighted ones once,
// for all its rows and candidates.
//
// The estimate and the screens keep their guarantee: their rounding
// allowances scale with the total weight where they scaled with the row
// count, and a caller with values within e of a candidate's in Euclidean norm
// passes e * t.norm_factor, a bound in the weighted norm.
#pragma once

#include <cstddef>
#include <span>

#include "core/candidate_fit.hpp"

namespace vok {

// fit_plain, fit_scaled, sse_at, fit_constant_scaled and plain_sse_rows, weighted.
[[nodiscard]] bool fit_plain_weighted(const double* f, const FitTarget& t, Fit& out) noexcept;
[[nodiscard]] bool fit_scaled_weighted(const double* f, const FitTarget& t, Fit& out) noexcept;
[[nodiscard]] double sse_at_weighted(const double* f, std::span<const double> y,
                                     std::span<const double> w, double scale,
                                     double offset) noexcept;
[[nodiscard]] bool fit_constant_scaled_weighted(const FitTarget& t, Fit& out) noexcept;
[[nodiscard]] double plain_sse_rows_weighted(const double* f, const FitTarget& t, std::size_t begin,
                                             std::size_t end, double sse) noexcept;

// scaled_estimate and scaled_estimate_binary, weighted: the same guarantee
// through ScaledEstimate::exceeds and exceeds_near.
[[nodiscard]] ScaledEstimate scaled_estimate_weighted(const double* f, const FitTarget& t) noexcept;
[[nodiscard]] bool scaled_estimate_binary_weighted(OpCode op, const double* a, const double* b,
                                                   const FitTarget& t,
                                                   ScaledEstimate& out) noexcept;

// screen_rejects, weighted: the weighted error on the screening rows.
[[nodiscard]] bool screen_rejects_weighted(const double* f_screen, const FitTarget& t, bool scaled,
                                           double bound) noexcept;

}  // namespace vok
