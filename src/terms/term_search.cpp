// The combination search of several-term laws, and the exact fit of one.
#include "terms/term_search.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "core/column_ops.hpp"
#include "core/system_memory.hpp"
#include "runtime/memory_budget.hpp"
#include "runtime/thread_pool.hpp"

namespace vok::terms {
namespace {

// |correlation| this close to 1: a scaled copy of an earlier term.
constexpr double kCopy = 1e-9;
// A term whose share of spread not explained by the others falls below this
// depends on them: the combination is that of the others.
constexpr double kDependent = 1e-10;
// Combinations a worker scores between looks at the clock and the stop flag.
constexpr std::uint64_t kPollEvery = std::uint64_t{1} << 14;

using Clock = std::chrono::steady_clock;

int exponent_of(std::span<const double> v) noexcept {
    double top = 0.0;
    for (const double x : v) top = std::max(top, std::abs(x));
    int e = 0;
    if (top > 0.0 && std::isfinite(top)) (void)std::frexp(top, &e);
    return e;
}

double weight_at(std::span<const double> weights, std::size_t row) noexcept {
    return weights.empty() ? 1.0 : weights[row];
}

// v centred on its weighted mean and scaled to unit weighted norm, each row
// times sqrt(w): the plain dot product of two such columns is their weighted
// correlation. False when v is constant on the weighted rows (or overflows).
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

double dot(const double* a, const double* b, std::size_t n) noexcept {
    double s = 0.0;
    for (std::size_t i = 0; i < n; ++i) s += a[i] * b[i];
    return s;
}

// Combinations of 2 .. max_terms among k terms, as a double (no overflow).
double combinations_of(std::size_t k, std::uint32_t max_terms) noexcept {
    double total = 0.0;
    double c = static_cast<double>(k);  // C(k, 1)
    for (std::uint32_t d = 2; d <= max_terms; ++d) {
        c = c * static_cast<double>(k + 1 - d) / d;
        if (c <= 0.0) break;
        total += c;
    }
    return total;
}

bool ranks_before(const Combination& a, const Combination& b) noexcept {
    if (a.sse != b.sse) return a.sse < b.sse;
    return std::lexicographical_compare(a.terms.begin(), a.terms.begin() + a.count, b.terms.begin(),
                                        b.terms.begin() + b.count);
}

// The best `keep` combinations of each (count, size): a total order, so the
// kept ones do not depend on the order they arrive in.
class BestTable {
public:
    BestTable(std::uint32_t max_terms, std::uint32_t max_size, std::uint32_t keep)
        : sizes_(max_size + 1),
          keep_(keep),
          slots_((max_terms - 1) * sizes_ * keep),
          filled_((max_terms - 1) * sizes_, 0) {}

    void offer(const Combination& c) {
        const std::size_t bucket = (c.count - 2) * sizes_ + c.size;
        Combination* first = slots_.data() + bucket * keep_;
        std::uint32_t& n = filled_[bucket];
        if (n == keep_ && !ranks_before(c, first[n - 1])) return;
        std::uint32_t at = n < keep_ ? n++ : n - 1;
        while (at > 0 && ranks_before(c, first[at - 1])) {
            first[at] = first[at - 1];
            --at;
        }
        first[at] = c;
    }

    void merge_into(BestTable& other) const {
        for (std::size_t b = 0; b < filled_.size(); ++b)
            for (std::uint32_t i = 0; i < filled_[b]; ++i) other.offer(slots_[b * keep_ + i]);
    }

    [[nodiscard]] std::vector<Combination> ranked() const {
        std::vector<Combination> out;
        for (std::size_t b = 0; b < filled_.size(); ++b)
            out.insert(out.end(), slots_.begin() + static_cast<std::ptrdiff_t>(b * keep_),
                       slots_.begin() + static_cast<std::ptrdiff_t>(b * keep_ + filled_[b]));
        return out;  // buckets run by (count, size), each by rank
    }

private:
    std::size_t sizes_;
    std::uint32_t keep_;
    std::vector<Combination> slots_;
    std::vector<std::uint32_t> filled_;
};

// Every combination whose first term is a given one, extended term by term
// with an incremental Cholesky factor of the terms' correlation matrix: the
// explained share of y's spread grows by one squared coordinate per term.
class Walker {
public:
    Walker(const double* corr, const double* with_y, const std::uint32_t* sizes, std::size_t k,
           std::uint32_t max_terms, double spread, BestTable& table, std::atomic<bool>& stop,
           std::optional<Clock::time_point> deadline)
        : corr_(corr),
          with_y_(with_y),
          sizes_(sizes),
          k_(k),
          max_terms_(max_terms),
          spread_(spread),
          table_(table),
          stop_(stop),
          deadline_(deadline) {}

    void walk_from(std::uint32_t first) {
        pick_[0] = first;
        factor_[0][0] = 1.0;
        coord_[0] = with_y_[first];
        extend(1, first + 1, coord_[0] * coord_[0], sizes_[first]);
    }

    [[nodiscard]] std::uint64_t fitted() const noexcept { return fitted_; }

private:
    bool halted() {
        if (++since_poll_ < kPollEvery) return halted_;
        since_poll_ = 0;
        if (stop_.load(std::memory_order_relaxed) || (deadline_ && Clock::now() > *deadline_)) {
            stop_.store(true, std::memory_order_relaxed);
            halted_ = true;
        }
        return halted_;
    }

    void extend(std::uint32_t depth, std::size_t start, double explained, std::uint32_t size) {
        std::array<double, kMaxTerms> w{};
        for (std::size_t j = start; j < k_; ++j) {
            if (halted()) return;
            double known = 0.0;
            for (std::uint32_t a = 0; a < depth; ++a) {
                double s = corr_[pick_[a] * k_ + j];
                for (std::uint32_t b = 0; b < a; ++b) s -= factor_[a][b] * w[b];
                w[a] = s / factor_[a][a];
                known += w[a] * w[a];
            }
            const double rest = 1.0 - known;
            ++fitted_;
            if (!(rest > kDependent)) continue;
            const double pivot = std::sqrt(rest);
            double coord = with_y_[j];
            for (std::uint32_t a = 0; a < depth; ++a) coord -= w[a] * coord_[a];
            coord /= pivot;
            const double now = explained + coord * coord;
            pick_[depth] = static_cast<std::uint32_t>(j);
            for (std::uint32_t a = 0; a < depth; ++a) factor_[depth][a] = w[a];
            factor_[depth][depth] = pivot;
            coord_[depth] = coord;
            Combination c;
            std::copy(pick_.begin(), pick_.begin() + depth + 1, c.terms.begin());
            c.count = depth + 1;
            c.size = size + sizes_[j];
            c.sse = std::max(0.0, 1.0 - now) * spread_;
            if (std::isfinite(c.sse)) table_.offer(c);
            if (depth + 1 < max_terms_) extend(depth + 1, j + 1, now, c.size);
        }
    }

    const double* corr_;
    const double* with_y_;
    const std::uint32_t* sizes_;
    std::size_t k_;
    std::uint32_t max_terms_;
    double spread_;
    BestTable& table_;
    std::atomic<bool>& stop_;
    std::optional<Clock::time_point> deadline_;
    std::array<std::uint32_t, kMaxTerms> pick_{};
    std::array<std::array<double, kMaxTerms>, kMaxTerms> factor_{};
    std::array<double, kMaxTerms> coord_{};
    std::uint64_t fitted_ = 0;
    std::uint64_t since_poll_ = 0;
    bool halted_ = false;
};

double weight_total(std::span<const double> weights, std::size_t rows) {
    if (weights.empty()) return static_cast<double>(rows);
    double total = 0.0;
    for (const double w : weights) total += w;
    return total;
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

// The programs' values, term-major; valid[p] when program p has a value on every row.
void evaluate_terms(std::span<const Expr> programs, std::span<const Column> columns,
                    std::size_t rows, ThreadPool& pool, std::vector<double>& values,
                    std::vector<std::uint8_t>& valid) {
    pool.parallel_for(programs.size(), [&](std::size_t p) {
        ColumnEvaluator eval;
        valid[p] = vok::values_or_nan(eval, programs[p], columns,
                                      std::span(values).subspan(p * rows, rows));
    });
}

}  // namespace

TermSearchResult search_combinations(std::span<const Expr> programs,
                                     std::span<const Column> columns, std::span<const double> y,
                                     std::span<const double> weights,
                                     const TermSearchSettings& settings, TermControl* control) {
    check_inputs(programs, columns, y, weights);
    if (settings.max_terms < 2 || settings.max_terms > kMaxTerms)
        throw std::invalid_argument("max_terms must be between 2 and 5");
    if (settings.keep < 1) throw std::invalid_argument("keep must be at least 1");
    const auto start = Clock::now();
    std::optional<Clock::time_point> deadline;
    if (settings.time_limit > 0.0)
        deadline = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(settings.time_limit));
    const std::size_t rows = y.size();
    const std::size_t n = programs.size();
    MemoryBudget budget(settings.memory_limit > 0 ? settings.memory_limit
                                                  : default_memory_budget());
    // The terms' values and y's, and the correlations of every pair.
    const ScopedCharge charge(
        budget, bytes_for(n + 1, bytes_for(rows, sizeof(double))) + bytes_for(n, n * 8 + 16));
    std::unique_ptr<ThreadPool> own;
    if (settings.n_threads > 0) own = std::make_unique<ThreadPool>(settings.n_threads);
    ThreadPool& pool = own ? *own : ThreadPool::global();

    TermSearchResult result;
    std::vector<double> values(n * rows);
    std::vector<std::uint8_t> valid(n, 0);
    evaluate_terms(programs, columns, rows, pool, values, valid);
    const double total = weight_total(weights, rows);
    std::vector<double> target(y.begin(), y.end());
    const int y_exp = exponent_of(target);
    if (!standardise(target, weights, total)) return result;  // nothing to explain
    double spread = 0.0;  // y's weighted squared deviations, in y's units
    {
        double sum = 0.0;
        for (std::size_t i = 0; i < rows; ++i)
            sum += weight_at(weights, i) * std::ldexp(y[i], -y_exp);
        const double mean = sum / total;
        for (std::size_t i = 0; i < rows; ++i) {
            const double d = std::ldexp(y[i], -y_exp) - mean;
            spread += weight_at(weights, i) * d * d;
        }
        spread = std::ldexp(spread, 2 * y_exp);
    }
    pool.parallel_for(n, [&](std::size_t p) {
        if (valid[p])
            valid[p] = standardise(std::span(values).subspan(p * rows, rows), weights, total);
    });
    std::vector<std::uint32_t> live;
    for (std::uint32_t p = 0; p < n; ++p)
        if (valid[p]) live.push_back(p);
    const std::size_t v = live.size();
    std::vector<double> corr(v * v, 0.0);
    pool.parallel_for(v, [&](std::size_t j) {
        const double* b = values.data() + live[j] * rows;
        for (std::size_t i = 0; i < j; ++i)
            corr[j * v + i] = dot(values.data() + live[i] * rows, b, rows);
    });
    // Copies out, in the caller's order, then as many as the combination bound allows.
    std::vector<std::uint32_t> kept;  // positions in live
    for (std::uint32_t j = 0; j < v; ++j) {
        const bool copy = std::any_of(kept.begin(), kept.end(), [&](std::uint32_t i) {
            return std::abs(corr[j * v + i]) > 1.0 - kCopy;
        });
        if (copy) continue;
        if (combinations_of(kept.size() + 1, settings.max_terms) >
            static_cast<double>(settings.max_combinations))
            break;
        kept.push_back(j);
    }
    const std::size_t k = kept.size();
    result.screened = k;
    std::vector<double> kcorr(k * k, 1.0);
    std::vector<double> with_y(k);
    std::vector<std::uint32_t> sizes(k);
    std::uint32_t largest = 0;
    for (std::size_t a = 0; a < k; ++a) {
        for (std::size_t b = 0; b < a; ++b) {
            const double c = corr[kept[a] * v + kept[b]];
            kcorr[a * k + b] = c;
            kcorr[b * k + a] = c;
        }
        with_y[a] = dot(values.data() + live[kept[a]] * rows, target.data(), rows);
        sizes[a] = static_cast<std::uint32_t>(programs[live[kept[a]]].tokens.size());
        largest = std::max(largest, sizes[a]);
    }
    if (k < 2) return result;

    const std::uint32_t max_terms = std::min<std::uint32_t>(settings.max_terms, k);
    BestTable best(max_terms, largest * max_terms, settings.keep);
    std::mutex merge;
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> fitted{0};
    BatchControl batch;
    batch.cancel = &stop;
    bool interrupted = false;
    if (control != nullptr && control->keep_going) {
        batch.poll_period = control->poll_period;
        batch.wait_hook = [&] {
            if (control->keep_going()) return true;
            interrupted = true;
            return false;
        };
    }
    pool.parallel_for(
        k,
        [&](std::size_t first) {
            BestTable local(max_terms, largest * max_terms, settings.keep);
            Walker walker(kcorr.data(), with_y.data(), sizes.data(), k, max_terms, spread, local,
                          stop, deadline);
            walker.walk_from(static_cast<std::uint32_t>(first));
            fitted.fetch_add(walker.fitted(), std::memory_order_relaxed);
            const std::lock_guard lock(merge);
            local.merge_into(best);
        },
        &batch);
    result.fitted = fitted.load();
    result.best = best.ranked();
    for (Combination& c : result.best)
        for (std::uint32_t d = 0; d < c.count; ++d) c.terms[d] = live[kept[c.terms[d]]];
    if (interrupted)
        result.stopped = TermStop::Interrupted;
    else if (stop.load())
        result.stopped = TermStop::Time;
    return result;
}

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
    // Centred columns, each brought near 1 by a power of two.
    std::vector<double> c(d * rows);
    std::vector<int> exps(d);
    std::vector<double> means(d);
    for (std::size_t t = 0; t < d; ++t) {
        const std::span<const double> col(f.data() + t * rows, rows);
        exps[t] = exponent_of(col);
        double sum = 0.0;
        for (std::size_t i = 0; i < rows; ++i)
            sum += weight_at(weights, i) * std::ldexp(col[i], -exps[t]);
        means[t] = sum / total;
        for (std::size_t i = 0; i < rows; ++i)
            c[t * rows + i] = std::ldexp(col[i], -exps[t]) - means[t];
    }
    const int y_exp = exponent_of(y);
    double y_sum = 0.0;
    for (std::size_t i = 0; i < rows; ++i)
        y_sum += weight_at(weights, i) * std::ldexp(y[i], -y_exp);
    const double y_mean = y_sum / total;
    std::vector<double> resid(rows);
    for (std::size_t i = 0; i < rows; ++i) resid[i] = std::ldexp(y[i], -y_exp) - y_mean;

    std::array<std::array<double, kMaxTerms>, kMaxTerms> g{};
    for (std::size_t a = 0; a < d; ++a)
        for (std::size_t b = 0; b <= a; ++b) {
            double s = 0.0;
            for (std::size_t i = 0; i < rows; ++i)
                s += weight_at(weights, i) * c[a * rows + i] * c[b * rows + i];
            g[a][b] = s;
        }
    // Cholesky of the centred Gram matrix; a pivot lost to rounding is a singular fit.
    std::array<std::array<double, kMaxTerms>, kMaxTerms> l{};
    for (std::size_t a = 0; a < d; ++a) {
        for (std::size_t b = 0; b <= a; ++b) {
            double s = g[a][b];
            for (std::size_t q = 0; q < b; ++q) s -= l[a][q] * l[b][q];
            if (a == b) {
                if (!(s > kDependent * g[a][a])) return std::nullopt;
                l[a][a] = std::sqrt(s);
            } else {
                l[a][b] = s / l[b][b];
            }
        }
    }
    auto solve = [&](std::array<double, kMaxTerms>& x) {
        for (std::size_t a = 0; a < d; ++a) {
            for (std::size_t q = 0; q < a; ++q) x[a] -= l[a][q] * x[q];
            x[a] /= l[a][a];
        }
        for (std::size_t a = d; a-- > 0;) {
            for (std::size_t q = a + 1; q < d; ++q) x[a] -= l[q][a] * x[q];
            x[a] /= l[a][a];
        }
    };
    // The solve, then two corrections from the residuals computed on the rows.
    std::array<double, kMaxTerms> beta{};
    for (int pass = 0; pass < 3; ++pass) {
        std::array<double, kMaxTerms> step{};
        for (std::size_t a = 0; a < d; ++a) {
            double s = 0.0;
            for (std::size_t i = 0; i < rows; ++i)
                s += weight_at(weights, i) * c[a * rows + i] * resid[i];
            step[a] = s;
        }
        solve(step);
        for (std::size_t a = 0; a < d; ++a) beta[a] += step[a];
        for (std::size_t i = 0; i < rows; ++i) {
            double p = 0.0;
            for (std::size_t a = 0; a < d; ++a) p += step[a] * c[a * rows + i];
            resid[i] -= p;
        }
    }
    TermFit fit;
    fit.coefficients.resize(d);
    double level = y_mean;
    for (std::size_t a = 0; a < d; ++a) {
        fit.coefficients[a] = std::ldexp(beta[a], y_exp - exps[a]);
        level -= beta[a] * means[a];
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
    fit.gram.assign((d + 1) * (d + 1), 0.0);
    for (std::size_t a = 0; a <= d; ++a)
        for (std::size_t b = 0; b <= a; ++b) {
            double s = 0.0;
            for (std::size_t i = 0; i < rows; ++i) {
                const double fa = a == 0 ? 1.0 : f[(a - 1) * rows + i];
                const double fb = b == 0 ? 1.0 : f[(b - 1) * rows + i];
                s += weight_at(weights, i) * fa * fb;
            }
            fit.gram[a * (d + 1) + b] = s;
            fit.gram[b * (d + 1) + a] = s;
        }
    const bool finite = std::isfinite(fit.sse) && std::isfinite(fit.intercept) &&
                        std::all_of(fit.coefficients.begin(), fit.coefficients.end(),
                                    [](double x) { return std::isfinite(x); });
    if (!finite) return std::nullopt;
    return fit;
}

}  // namespace vok::terms
