// The rounding allowances and thresholds the fits and their screens share,
// with and without weights.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

namespace vok::fit_allowances {

// Screening rows, and the shortest data for which screening is worth it.
inline constexpr std::size_t kScreenRows = 32;
inline constexpr std::size_t kScreenFrom = 4 * kScreenRows;

// f counts as flat (a constant) when its spread is below this share of its size.
inline constexpr double kFlat = 1e-24;

// Allowances for rounding between a screening bound and a full error: the
// bound is summed in another order (plain), or its cancellation and the full
// fit's rounding must be covered (scaled). Generous: they only cost pruning.
inline constexpr double kPlainShrink = 1.0 - 1e-9;
inline constexpr double kScaledSlack = 1e-9;
inline constexpr double kBoundGrowth = 1.0 + 1e-6;
inline constexpr double kEstimateSlack = 1e-7;
inline constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
inline constexpr double kRoundingSafety = 16.0;

[[nodiscard]] inline bool finite(double v) noexcept {
    return std::fabs(v) <= std::numeric_limits<double>::max();
}

}  // namespace vok::fit_allowances
