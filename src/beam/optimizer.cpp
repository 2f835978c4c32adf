// The constant optimizer: forward-difference Jacobian, diagonal damping.
#include "beam/optimizer.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace vok::beam {
namespace {

constexpr double kStep = 1e-6;
constexpr double kTol = 1e-12;
constexpr double kFactor = 10.0;
constexpr double kLambda0 = 0.001;
constexpr unsigned kCap = 20;
constexpr double kInf = std::numeric_limits<double>::infinity();

// The measure-only path runs once per promising candidate on the scoring
// workers: a per-thread buffer keeps it free of allocation.
double measure(const Expr& expr, std::span<const Column> x_cols, std::span<const double> y) {
    thread_local std::vector<double> scratch;
    const std::size_t rows = x_cols.front().size();
    if (scratch.size() < rows) scratch.resize(rows);
    const std::span<double> out(scratch.data(), rows);
    return expr.eval_rows_into(x_cols, {}, out) ? rmse(out, y) : kInf;
}

}  // namespace

double rmse(std::span<const double> predictions, std::span<const double> y) noexcept {
    const std::size_t m = std::min(predictions.size(), y.size());
    double sum = -0.0;
    for (std::size_t i = 0; i < m; ++i) {
        const double d = predictions[i] - y[i];
        sum += d * d;
    }
    return std::sqrt(sum / static_cast<double>(y.size()));
}

Fit optimize(const Expr& expr, std::span<const Column> x_cols, std::span<const double> y,
             std::span<const double> init_params) {
    check_columns(x_cols);
    if (init_params.empty()) return {{}, measure(expr, x_cols, y)};

    const std::size_t rows = x_cols.front().size();
    // The Jacobian reads a residual for every target row.
    if (rows < y.size())
        throw std::invalid_argument("optimize: the sample columns hold fewer rows than y");

    const std::size_t n = init_params.size();
    const std::size_t n_y = y.size();
    std::vector<double> params(init_params.begin(), init_params.end());
    std::vector<double> trial(n), probe(n), grad(n), diag(n);
    std::vector<double> base(rows), other(rows), resid(n_y);

    // Evaluation is deterministic, so the accepted trial's predictions stand in
    // for re-evaluating the accepted params at the top of each iteration.
    if (!expr.eval_rows_into(x_cols, params, base)) return {std::move(params), kInf};
    double best = rmse(base, y);
    double lambda = kLambda0;

    for (unsigned iterations = 1;; ++iterations) {
        for (std::size_t i = 0; i < n_y; ++i) resid[i] = base[i] - y[i];

        // One Jacobian column at a time: only its gradient entry and squared
        // norm are needed, summed in row order as the full matrix would be.
        probe = params;
        for (std::size_t j = 0; j < n; ++j) {
            probe[j] = params[j] + kStep;
            const bool moved = expr.eval_rows_into(x_cols, probe, other);
            probe[j] = params[j];
            double g = -0.0, d = -0.0;
            for (std::size_t i = 0; i < n_y; ++i) {
                const double jij = moved ? ((other[i] - y[i]) - resid[i]) / kStep : 0.0;
                g += jij * resid[i];
                d += jij * jij;
            }
            grad[j] = g;
            diag[j] = d;
        }
        for (std::size_t j = 0; j < n; ++j) trial[j] = params[j] - grad[j] / (lambda + diag[j]);

        const double e = expr.eval_rows_into(x_cols, trial, other) ? rmse(other, y) : kInf;
        if (e < best) {
            if (e < kTol) return {std::move(trial), e};
            params.swap(trial);
            base.swap(other);
            best = e;
            lambda = lambda / kFactor;
        } else {
            if (best < kTol) return {std::move(params), best};
            lambda = lambda * kFactor;
        }
        if (iterations == kCap) return {std::move(params), best};
    }
}

}  // namespace vok::beam
