// Programs fitted on every row, by the scoring's own fit and sums.
#include "enumeration/front_fit.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/candidate_fit.hpp"
#include "core/column_ops.hpp"

namespace vok::enumeration {
namespace {

std::optional<Fit> fit_values(const double* f, const FitTarget& target, bool scaling) {
    Fit fit;
    if (!(scaling ? fit_scaled(f, target, fit) : fit_plain(f, target, fit))) return std::nullopt;
    return fit;
}

// A member without a value on some row has no fit.
std::optional<Fit> fit_rows(const Expr& expr, std::span<const Column> x_cols,
                            const FitTarget& target, bool scaling, std::vector<double>& f) {
    f.resize(target.n);
    if (!expr.eval_rows_into(x_cols, {}, f)) return std::nullopt;
    return fit_values(f.data(), target, scaling);
}

void check_rows(std::span<const Column> x_cols, std::span<const double> y) {
    check_columns(x_cols);
    if (x_cols.front().size() != y.size() || y.empty())
        throw std::invalid_argument("the columns and y must have the same, nonzero, length");
}

}  // namespace

void refit_front(std::vector<FrontMember>& front, std::span<const Column> x_cols,
                 std::span<const double> y, bool scaling) {
    const FitTarget target(y);
    std::vector<double> f;
    std::vector<FrontMember> kept;
    for (FrontMember& m : front) {
        const auto refit = fit_rows(m.expr, x_cols, target, scaling, f);
        if (!refit) continue;
        const Fit& fit = *refit;
        m.sse = fit.sse;
        m.rmse = std::sqrt(fit.sse / static_cast<double>(y.size()));
        m.scale = fit.scale;
        m.offset = fit.offset;
        kept.push_back(std::move(m));
    }
    std::stable_sort(kept.begin(), kept.end(), [](const FrontMember& a, const FrontMember& b) {
        return a.size < b.size || (a.size == b.size && ranks_before(a, b));
    });
    front = std::move(kept);
}

std::optional<RowFit> fit_on_rows(const Expr& expr, std::span<const Column> x_cols,
                                  std::span<const double> y, bool scaling) {
    check_rows(x_cols, y);
    std::vector<double> f;
    const auto fit = fit_rows(expr, x_cols, FitTarget(y), scaling, f);
    if (!fit) return std::nullopt;
    return RowFit{fit->sse, fit->scale, fit->offset};
}

Settled settle_on_rows(const Expr& expr, std::span<const Column> x_cols, std::span<const double> y,
                       bool scaling, std::span<const std::array<double, 2>> constants) {
    check_rows(x_cols, y);
    std::vector<double> f(y.size());
    ColumnEvaluator eval;
    Settled out;
    if (values_or_nan(eval, expr, x_cols, f)) {
        if (const auto fit = fit_values(f.data(), FitTarget(y), scaling))
            out.fit = RowFit{fit->sse, fit->scale, fit->offset};
    }
    out.sse.reserve(constants.size());
    for (const auto& [scale, offset] : constants) out.sse.push_back(sse_at(f.data(), y, scale, offset));
    return out;
}

}  // namespace vok::enumeration
