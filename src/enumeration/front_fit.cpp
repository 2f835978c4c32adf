// Programs fitted on every row, by the scoring's own fit and sums.
#include "enumeration/front_fit.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "core/column_ops.hpp"
#include "core/weighted_fit.hpp"

namespace vok::enumeration {
namespace {

std::optional<Fit> fit_values(const double* f, const FitTarget& target, bool scaling) {
    Fit fit;
    const bool fitted =
        target.weighted()
            ? (scaling ? fit_scaled_weighted(f, target, fit) : fit_plain_weighted(f, target, fit))
            : (scaling ? fit_scaled(f, target, fit) : fit_plain(f, target, fit));
    if (!fitted) return std::nullopt;
    return fit;
}

void check_rows(std::span<const Column> x_cols, std::span<const double> y,
                std::span<const double> weights) {
    check_columns(x_cols);
    if (x_cols.front().size() != y.size() || y.empty())
        throw std::invalid_argument("the columns and y must have the same, nonzero, length");
    if (!weights.empty()) check_weights(weights, y.size());
}

}  // namespace

RowFitter::RowFitter(std::span<const Column> x_cols, std::span<const double> y,
                     std::span<const double> weights, bool scaling)
    : x_cols_(x_cols), target_(y, weights), scaling_(scaling), f_(y.size()) {}

std::optional<RowFit> RowFitter::fit(const Expr& expr) {
    // A member without a value on some row has no fit.
    if (!expr.eval_rows_into(x_cols_, {}, f_)) return std::nullopt;
    const auto fit = fit_values(f_.data(), target_, scaling_);
    if (!fit) return std::nullopt;
    return RowFit{fit->sse, fit->scale, fit->offset};
}

void refit_front(std::vector<FrontMember>& front, std::span<const Column> x_cols,
                 std::span<const double> y, bool scaling, std::span<const double> weights) {
    RowFitter rows(x_cols, y, weights, scaling);
    std::vector<FrontMember> kept;
    for (FrontMember& m : front) {
        const auto fit = rows.fit(m.expr);
        if (!fit) continue;
        m.sse = fit->sse;
        m.rmse = rows.rmse(fit->sse);
        m.scale = fit->scale;
        m.offset = fit->offset;
        kept.push_back(std::move(m));
    }
    std::stable_sort(kept.begin(), kept.end(), [](const FrontMember& a, const FrontMember& b) {
        return a.size < b.size || (a.size == b.size && ranks_before(a, b));
    });
    front = std::move(kept);
}

std::optional<RowFit> fit_on_rows(const Expr& expr, std::span<const Column> x_cols,
                                  std::span<const double> y, bool scaling,
                                  std::span<const double> weights) {
    check_rows(x_cols, y, weights);
    return RowFitter(x_cols, y, weights, scaling).fit(expr);
}

Settled settle_on_rows(const Expr& expr, std::span<const Column> x_cols, std::span<const double> y,
                       bool scaling, std::span<const std::array<double, 2>> constants,
                       std::span<const double> weights) {
    check_rows(x_cols, y, weights);
    std::vector<double> f(y.size());
    ColumnEvaluator eval;
    Settled out;
    const FitTarget target(y, weights);
    const bool every_row = values_or_nan(eval, expr, x_cols, f);
    if (every_row) {
        if (const auto fit = fit_values(f.data(), target, scaling))
            out.fit = RowFit{fit->sse, fit->scale, fit->offset};
    }
    out.sse.reserve(constants.size());
    for (const auto& [scale, offset] : constants) {
        if (!target.weighted()) {
            out.sse.push_back(sse_at(f.data(), y, scale, offset));
        } else {
            // NaN on a row of weight 0 counts as it does without weights: no value.
            out.sse.push_back(every_row ? sse_at_weighted(f.data(), y, weights, scale, offset)
                                        : std::numeric_limits<double>::quiet_NaN());
        }
    }
    return out;
}

}  // namespace vok::enumeration
