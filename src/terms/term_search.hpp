// Laws of several terms: y ~ c0 + c1 * f1 + ... + cD * fD over a screened set
// of candidate expressions f. Every combination of up to D of them is fitted
// exactly by least squares, from one Gram matrix of the screened terms, and
// the best few of each (term count, summed size) are kept.
//
// Determinism: every sum runs over the rows in index order, each combination
// is scored by the same arithmetic whatever worker meets it, and the kept
// combinations are ranked by (sse, term indices): any worker count gives the
// same bits. A time limit or a stop from the control cuts the search short;
// the result then holds the combinations scored until then.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/expr.hpp"

namespace vok::terms {

inline constexpr std::uint32_t kMaxTerms = 5;

struct TermSearchSettings {
    std::uint32_t max_terms = 3;  // 2 .. kMaxTerms
    std::uint32_t keep = 2;       // combinations kept per (term count, summed size)
    // Screened terms beyond what keeps the combinations below this are left out
    // (the last ones of the caller's order).
    std::uint64_t max_combinations = 30'000'000;
    double time_limit = 0.0;         // seconds; 0 = none
    std::uint64_t memory_limit = 0;  // bytes; 0 = a share of physical memory
    std::uint64_t n_threads = 0;     // 0 = the configured pool size
};

struct TermControl {
    // Runs on the calling thread about every poll_period; false stops the search.
    std::function<bool()> keep_going;
    std::chrono::milliseconds poll_period{50};
};

struct Combination {
    std::array<std::uint32_t, kMaxTerms> terms{};  // indices into the programs, increasing
    std::uint32_t count = 0;
    std::uint32_t size = 0;  // summed token counts of the terms
    double sse = 0.0;        // least-squares error on the rows, through the Gram matrix
};

enum class TermStop { Complete, Time, Interrupted };

struct TermSearchResult {
    std::vector<Combination> best;  // ranked by (count, size, sse, terms)
    std::uint64_t screened = 0;     // terms that took part: valid, distinct after scaling
    std::uint64_t fitted = 0;       // combinations scored
    TermStop stopped = TermStop::Complete;
};

// Throws std::invalid_argument for settings it cannot work with, and
// MemoryLimitExceeded (a std::bad_alloc) when the working memory would pass
// the limit; both before any work. A program without a value on some row, or
// constant on the rows, or a scaled copy (a·f + b) of an earlier one, takes
// no part.
[[nodiscard]] TermSearchResult search_combinations(std::span<const Expr> programs,
                                                   std::span<const Column> columns,
                                                   std::span<const double> y,
                                                   std::span<const double> weights,
                                                   const TermSearchSettings& settings,
                                                   TermControl* control = nullptr);

// One combination fitted on every row: y ~ intercept + sum coefficients[d] * f_d,
// weighted when weights are given, with sse = sum w (y - prediction)^2 in row
// order and gram = the (count + 1)^2 matrix sum w a_i a_j of a = (1, f_1, ...),
// row-major. Nothing when a term has no value on some row or the fit is
// singular or not finite.
struct TermFit {
    std::vector<double> coefficients;
    double intercept = 0.0;
    double sse = 0.0;
    std::vector<double> gram;
};
[[nodiscard]] std::optional<TermFit> fit_combination(std::span<const Expr> programs,
                                                     std::span<const Column> columns,
                                                     std::span<const double> y,
                                                     std::span<const double> weights);

}  // namespace vok::terms
