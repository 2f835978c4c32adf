#include "terms/term_columns.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/column_ops.hpp"

namespace vok::terms {

int exponent_of(std::span<const double> v) noexcept {
    double top = 0.0;
    for (const double x : v) top = std::max(top, std::abs(x));
    int e = 0;
    if (top > 0.0 && std::isfinite(top)) (void)std::frexp(top, &e);
    return e;
}

double weight_total(std::span<const double> weights, std::size_t rows) {
    if (weights.empty()) return static_cast<double>(rows);
    double total = 0.0;
    for (const double w : weights) total += w;
    return total;
}

bool standardise(std::span<double> v, std::span<const double> weights, double total) {
    const int e = exponent_of(v);
    double sum = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        v[i] = std::ldexp(v[i], -e);
        sum += weight_at(weights, i) * v[i];
    }
    const double mean = sum / total;
    double norm = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        v[i] = std::sqrt(weight_at(weights, i)) * (v[i] - mean);
        norm += v[i] * v[i];
    }
    if (!(norm > 0.0) || !std::isfinite(norm)) return false;
    const double root = std::sqrt(norm);
    for (double& x : v) x /= root;
    return true;
}

double spread_of(std::span<const double> y, std::span<const double> weights, double total) {
    const int y_exp = exponent_of(y);
    double sum = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i)
        sum += weight_at(weights, i) * std::ldexp(y[i], -y_exp);
    const double mean = sum / total;
    double spread = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        const double d = std::ldexp(y[i], -y_exp) - mean;
        spread += weight_at(weights, i) * d * d;
    }
    return std::ldexp(spread, 2 * y_exp);
}

void check_inputs(std::span<const Expr> programs, std::span<const Column> columns,
                  std::span<const double> y, std::span<const double> weights) {
    if (columns.empty() || y.empty()) throw std::invalid_argument("no samples");
    for (const Column& c : columns)
        if (c.size() != y.size())
            throw std::invalid_argument("every column must have one value per row");
    if (!weights.empty() && weights.size() != y.size())
        throw std::invalid_argument("weights must have one value per row");
    if (programs.size() >= UINT32_MAX) throw std::invalid_argument("too many programs");
}

void evaluate_terms(std::span<const Expr> programs, std::span<const Column> columns,
                    std::size_t rows, ThreadPool& pool, std::vector<double>& values,
                    std::vector<std::uint8_t>& valid) {
    pool.parallel_for(programs.size(), [&](std::size_t p) {
        ColumnEvaluator eval;
        valid[p] = vok::values_or_nan(eval, programs[p], columns,
                                      std::span(values).subspan(p * rows, rows));
    });
}

}  // namespace vok::terms
