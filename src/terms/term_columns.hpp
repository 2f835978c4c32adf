// The rows as the term search sees them: inputs checked, programs evaluated
// column-wise, columns brought near 1 by a power of two and standardised, and
// the weighted sums every fit here shares. Each sum runs over the rows in index
// order, so its bits do not depend on who computes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/expr.hpp"
#include "runtime/thread_pool.hpp"

namespace vok::terms {

// A term whose share of spread not explained by the others falls below this
// depends on them: the combination is that of the others.
inline constexpr double kDependent = 1e-10;

// The binary exponent of the largest finite |v|, 0 for an all-zero column.
[[nodiscard]] int exponent_of(std::span<const double> v) noexcept;

[[nodiscard]] inline double weight_at(std::span<const double> weights, std::size_t row) noexcept {
    return weights.empty() ? 1.0 : weights[row];
}

// The summed weights, or the row count without weights.
[[nodiscard]] double weight_total(std::span<const double> weights, std::size_t rows);

// v centred on its weighted mean and scaled to unit weighted norm, each row
// times sqrt(w): the plain dot product of two such columns is their weighted
// correlation. False when v is constant on the weighted rows (or overflows).
[[nodiscard]] bool standardise(std::span<double> v, std::span<const double> weights, double total);

[[nodiscard]] inline double dot(const double* a, const double* b, std::size_t n) noexcept {
    double s = 0.0;
    for (std::size_t i = 0; i < n; ++i) s += a[i] * b[i];
    return s;
}

// y's weighted squared deviations from its weighted mean, in y's units.
[[nodiscard]] double spread_of(std::span<const double> y, std::span<const double> weights,
                               double total);

// Throws std::invalid_argument for inputs no search can take.
void check_inputs(std::span<const Expr> programs, std::span<const Column> columns,
                  std::span<const double> y, std::span<const double> weights);

// The programs' values, term-major; valid[p] when program p has a value on every row.
void evaluate_terms(std::span<const Expr> programs, std::span<const Column> columns,
                    std::size_t rows, ThreadPool& pool, std::vector<double>& values,
                    std::vector<std::uint8_t>& valid);

}  // namespace vok::terms
