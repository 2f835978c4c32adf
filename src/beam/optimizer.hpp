// Damped least-squares fitting of an expression's parameter tokens.
#pragma once

#include <span>
#include <vector>

#include "core/expr.hpp"

namespace vok::beam {

struct Fit {
    std::vector<double> params;
    double error;
};

// Root-mean-square error over m = min(|predictions|, |y|) rows, summed in index
// order from -0.0 and divided by |y|: surplus predictions are ignored, missing
// ones count as zero terms; NaN when y is empty.
[[nodiscard]] double rmse(std::span<const double> predictions, std::span<const double> y) noexcept;

// With no starting values, only measures the expression's error (+infinity when
// it does not evaluate). Otherwise runs a damped diagonal Levenberg-Marquardt
// fit for at most 20 iterations; the returned error never exceeds the starting
// one and is the plain error of the returned parameters.
// Throws std::invalid_argument when the columns are malformed (as eval_batch
// does) or, with starting values, when they hold fewer rows than y.
[[nodiscard]] Fit optimize(const Expr& expr, std::span<const Column> x_cols,
                           std::span<const double> y, std::span<const double> init_params);

}  // namespace vok::beam
