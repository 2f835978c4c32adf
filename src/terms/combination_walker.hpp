// The walk over every combination that starts at one screened term.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "terms/best_table.hpp"
#include "terms/term_columns.hpp"
#include "terms/term_search.hpp"

namespace vok::terms {

// Combinations a worker scores between looks at the clock and the stop flag.
inline constexpr std::uint64_t kPollEvery = std::uint64_t{1} << 14;

using Clock = std::chrono::steady_clock;

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
            // max_terms_ <= kMaxTerms; the second bound tells the compiler so.
            if (depth + 1 < max_terms_ && depth + 1 < kMaxTerms)
                extend(depth + 1, j + 1, now, c.size);
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

}  // namespace vok::terms
