// What stand-in values (approx_ops.hpp) within value_error of a candidate's
// own tell about it, for a grown size's entries and the largest size alike.
#pragma once

#include "core/candidate_fit.hpp"

namespace vok::enumeration {

// The rank the values give the candidate (its plain error, or the scaled
// estimate), and whether they prove its error above cut.
struct StandInVerdict {
    double rank = 0.0;
    bool out_of_reach = false;
};

// Rows: the search's sums (row_weighting.hpp); value_error is Euclidean.
template <class Rows>
[[nodiscard]] inline StandInVerdict judge_near(const double* f, const FitTarget& t, bool scaled,
                                               double value_error, double cut) noexcept {
    const double error = Rows::norm_of(value_error, t);
    if (!scaled) {
        const double sse = Rows::plain_sse_rows(f, t, 0, t.n, 0.0);
        return {sse, plain_exceeds_near(sse, error, cut)};
    }
    const ScaledEstimate estimate = Rows::scaled_estimate(f, t);
    return {estimate.value, estimate.exceeds_near(cut, error)};
}

}  // namespace vok::enumeration
