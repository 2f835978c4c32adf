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

[[nodiscard]] inline StandInVerdict judge_near(const double* f, const FitTarget& t, bool scaled,
                                               double value_error, double cut) noexcept {
    if (!scaled) {
        const double sse = plain_sse_rows(f, t, 0, t.n, 0.0);
        return {sse, plain_exceeds_near(sse, value_error, cut)};
    }
    const ScaledEstimate estimate = scaled_estimate(f, t);
    return {estimate.value, estimate.exceeds_near(cut, value_error)};
}

}  // namespace vok::enumeration
