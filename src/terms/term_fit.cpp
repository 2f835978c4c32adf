// The exact fit of one combination on every row.
#include "terms/term_search.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "core/column_ops.hpp"
#include "terms/term_columns.hpp"

namespace vok::terms {
namespace {

using Square = std::array<std::array<double, kMaxTerms>, kMaxTerms>;

// A column centred on its weighted mean after a power-of-two scaling near 1.
struct Centred {
    std::vector<double> values;  // term-major, rows each
    std::vector<int> exps;
    std::vector<double> means;
};

Centred centre(std::span<const double> f, std::size_t d, std::size_t rows,
               std::span<const double> weights, double total) {
    Centred c{std::vector<double>(d * rows), std::vector<int>(d), std::vector<double>(d)};
    for (std::size_t t = 0; t < d; ++t) {
        const std::span<const double> col = f.subspan(t * rows, rows);
        c.exps[t] = exponent_of(col);
        double sum = 0.0;
        for (std::size_t i = 0; i < rows; ++i)
            sum += weight_at(weights, i) * std::ldexp(col[i], -c.exps[t]);
        c.means[t] = sum / total;
        for (std::size_t i = 0; i < rows; ++i)
            c.values[t * rows + i] = std::ldexp(col[i], -c.exps[t]) - c.means[t];
    }
    return c;
}

// The lower Cholesky factor of the centred Gram matrix of c; false when a pivot
// is lost to rounding (a singular fit).
bool factor(const Centred& c, std::size_t d, std::size_t rows, std::span<const double> weights,
            Square& l) {
    Square g{};
    for (std::size_t a = 0; a < d; ++a)
        for (std::size_t b = 0; b <= a; ++b) {
            double s = 0.0;
            for (std::size_t i = 0; i < rows; ++i)
                s += weight_at(weights, i) * c.values[a * rows + i] * c.values[b * rows + i];
            g[a][b] = s;
        }
    for (std::size_t a = 0; a < d; ++a) {
        for (std::size_t b = 0; b <= a; ++b) {
            double s = g[a][b];
            for (std::size_t q = 0; q < b; ++q) s -= l[a][q] * l[b][q];
            if (a == b) {
                if (!(s > kDependent * g[a][a])) return false;
                l[a][a] = std::sqrt(s);
            } else {
                l[a][b] = s / l[b][b];
            }
        }
    }
    return true;
}

void solve(const Square& l, std::size_t d, std::array<double, kMaxTerms>& x) {
    for (std::size_t a = 0; a < d; ++a) {
        for (std::size_t q = 0; q < a; ++q) x[a] -= l[a][q] * x[q];
        x[a] /= l[a][a];
    }
    for (std::size_t a = d; a-- > 0;) {
        for (std::size_t q = a + 1; q < d; ++q) x[a] -= l[q][a] * x[q];
        x[a] /= l[a][a];
    }
}

// The solve, then two corrections from the residuals computed on the rows;
// resid holds y's centred values on entry and the residuals on return.
std::array<double, kMaxTerms> refined_solution(const Centred& c, const Square& l, std::size_t d,
                                               std::span<const double> weights,
                                               std::vector<double>& resid) {
    const std::size_t rows = resid.size();
    std::array<double, kMaxTerms> beta{};
    for (int pass = 0; pass < 3; ++pass) {
        std::array<double, kMaxTerms> step{};
        for (std::size_t a = 0; a < d; ++a) {
            double s = 0.0;
            for (std::size_t i = 0; i < rows; ++i)
                s += weight_at(weights, i) * c.values[a * rows + i] * resid[i];
            step[a] = s;
        }
        solve(l, d, step);
        for (std::size_t a = 0; a < d; ++a) beta[a] += step[a];
        for (std::size_t i = 0; i < rows; ++i) {
            double p = 0.0;
            for (std::size_t a = 0; a < d; ++a) p += step[a] * c.values[a * rows + i];
            resid[i] -= p;
        }
    }
    return beta;
}

// sum w a_i a_j of a = (1, f_1, ..., f_d), row-major.
std::vector<double> gram_of(std::span<const double> f, std::size_t d, std::size_t rows,
                            std::span<const double> weights) {
    std::vector<double> gram((d + 1) * (d + 1), 0.0);
    for (std::size_t a = 0; a <= d; ++a)
        for (std::size_t b = 0; b <= a; ++b) {
            double s = 0.0;
            for (std::size_t i = 0; i < rows; ++i) {
                const double fa = a == 0 ? 1.0 : f[(a - 1) * rows + i];
                const double fb = b == 0 ? 1.0 : f[(b - 1) * rows + i];
                s += weight_at(weights, i) * fa * fb;
            }
            gram[a * (d + 1) + b] = s;
            gram[b * (d + 1) + a] = s;
        }
    return gram;
}

}  // namespace

std::optional<TermFit> fit_combination(std::span<const Expr> programs,
                                       std::span<const Column> columns, std::span<const double> y,
                                       std::span<const double> weights) {
    check_inputs(programs, columns, y, weights);
    const std::size_t rows = y.size();
    const std::size_t d = programs.size();
    if (d == 0 || d > kMaxTerms) throw std::invalid_argument("a combination has 1 to 5 terms");
    std::vector<double> f(d * rows);
    ColumnEvaluator eval;
    for (std::size_t t = 0; t < d; ++t)
        if (!vok::values_or_nan(eval, programs[t], columns, std::span(f).subspan(t * rows, rows)))
            return std::nullopt;
    const double total = weight_total(weights, rows);
    const Centred c = centre(f, d, rows, weights, total);
    const int y_exp = exponent_of(y);
    double y_sum = 0.0;
    for (std::size_t i = 0; i < rows; ++i)
        y_sum += weight_at(weights, i) * std::ldexp(y[i], -y_exp);
    const double y_mean = y_sum / total;
    std::vector<double> resid(rows);
    for (std::size_t i = 0; i < rows; ++i) resid[i] = std::ldexp(y[i], -y_exp) - y_mean;
    Square l{};
    if (!factor(c, d, rows, weights, l)) return std::nullopt;
    const std::array<double, kMaxTerms> beta = refined_solution(c, l, d, weights, resid);

    TermFit fit;
    fit.coefficients.resize(d);
    double level = y_mean;
    for (std::size_t a = 0; a < d; ++a) {
        fit.coefficients[a] = std::ldexp(beta[a], y_exp - c.exps[a]);
        level -= beta[a] * c.means[a];
    }
    fit.intercept = std::ldexp(level, y_exp);
    double sse = 0.0;
    for (std::size_t i = 0; i < rows; ++i) {
        double p = fit.intercept;
        for (std::size_t a = 0; a < d; ++a) p += fit.coefficients[a] * f[a * rows + i];
        const double r = y[i] - p;
        sse += weight_at(weights, i) * r * r;
    }
    fit.sse = sse;
    fit.gram = gram_of(f, d, rows, weights);
    const bool finite = std::isfinite(fit.sse) && std::isfinite(fit.intercept) &&
                        std::all_of(fit.coefficients.begin(), fit.coefficients.end(),
                                    [](double x) { return std::isfinite(x); });
    if (!finite) return std::nullopt;
    return fit;
}

}  // namespace vok::terms
