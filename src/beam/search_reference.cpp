// The straightforward beam search: every candidate built as a full program,
// fingerprinted and scored by whole-program evaluation. It is the reference
// the fast search is checked against.
#include "beam/search.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "beam/fingerprint.hpp"
#include "beam/search_steering.hpp"

namespace vok::beam {
namespace {

class Driver {
public:
    Driver(std::span<const Column> x_cols, std::span<const double> y, std::uint64_t n_vars,
           const SearchConfig& config, SearchControl* control)
        : x_cols_(x_cols),
          y_(y),
          n_vars_(n_vars),
          config_(config),
          steering_(control),
          ops_(operator_lists(config)) {}

    std::optional<SearchResult> run();

private:
    void admit_scratch(std::vector<Expr>& into);
    void expand_level(std::vector<Expr>& next);
    std::vector<SearchResult> score(std::span<const Expr> candidates);
    bool reached_goal() const { return best_ && best_->error <= config_.precision_goal; }
    SearchStats& stats() { return steering_.stats(); }

    std::span<const Column> x_cols_;
    std::span<const double> y_;
    std::uint64_t n_vars_;
    const SearchConfig& config_;
    SearchSteering steering_;
    OperatorLists ops_;
    SeenSet seen_;
    std::vector<Expr> pool_exprs_;
    std::optional<SearchResult> best_;
    Expr scratch_;  // candidate under construction, reused so duplicates cost no allocation
};

// The duplicate test: the first candidate with a given fingerprint stays.
void Driver::admit_scratch(std::vector<Expr>& into) {
    ++stats().generated;
    steering_.generation_tick();
    const std::optional<Fingerprint> fp = fingerprint(scratch_, n_vars_, {});
    if (!fp) {
        ++stats().no_fingerprint;
        return;
    }
    if (seen_.insert(*fp)) {
        ++stats().duplicates;
        return;
    }
    into.push_back(scratch_);
}

void Driver::expand_level(std::vector<Expr>& next) {
    const std::span<const Expr> pool = pool_exprs_;
    scratch_.n_vars = n_vars_;
    for (const Expr& e : pool) {
        for (const OpCode op : ops_.unary) {
            scratch_.tokens.assign(e.tokens.begin(), e.tokens.end());
            scratch_.tokens.push_back(Token::oper(op));
            admit_scratch(next);
        }
    }
    auto combine = [&](const Expr& a, const Expr& b, OpCode op) {
        scratch_.tokens.assign(a.tokens.begin(), a.tokens.end());
        scratch_.tokens.insert(scratch_.tokens.end(), b.tokens.begin(), b.tokens.end());
        scratch_.tokens.push_back(Token::oper(op));
        admit_scratch(next);
    };
    for (std::size_t i = 0; i < pool.size(); ++i) {
        for (std::size_t j = 0; j <= i; ++j) {
            const Expr& a = pool[i];
            const Expr& b = pool[j];
            // Size test first: most pairs of a late pool are too large to combine.
            if (a.tokens.size() + b.tokens.size() >= config_.max_complexity) continue;
            for (const OpCode op : ops_.binary) {
                combine(a, b, op);
                if (op == OpCode::Sub || op == OpCode::Div || op == OpCode::Vok) combine(b, a, op);
            }
        }
    }
}

std::vector<SearchResult> Driver::score(std::span<const Expr> candidates) {
    std::vector<SearchResult> results = score_level(candidates, x_cols_, y_, config_,
                                                    steering_.workers(), steering_.batch_control());
    SearchStats& s = stats();
    ++s.levels;
    s.scored += candidates.size();
    s.results += results.size();
    return results;
}

// Ascending by error, stable; NaN errors compare with nothing, so they go
// last in generation order instead of breaking the ordering.
void sort_results(std::vector<SearchResult>& results) {
    const auto numbered = std::stable_partition(
        results.begin(), results.end(), [](const SearchResult& r) { return !std::isnan(r.error); });
    std::stable_sort(results.begin(), numbered, [](const SearchResult& a, const SearchResult& b) {
        return a.error < b.error;
    });
}

std::optional<SearchResult> Driver::run() {
    std::vector<Expr> leaves;
    scratch_.n_vars = 0;
    for (const double c : {0.0, 1.0}) {
        scratch_.tokens.assign(1, Token::constant(c));
        admit_scratch(leaves);
    }
    for (std::uint64_t i = 0; i < n_vars_; ++i) {
        scratch_.tokens.assign(1, Token::var(i));
        scratch_.n_vars = i + 1;
        admit_scratch(leaves);
    }
    update_best(best_, score(leaves));
    if (reached_goal()) return std::move(best_);
    pool_exprs_ = std::move(leaves);
    if (config_.max_complexity < 2) return std::move(best_);

    std::vector<Expr> next;
    for (std::uint64_t level = 1; level < config_.max_complexity; ++level) {
        steering_.poll();
        next.clear();
        expand_level(next);
        if (next.empty()) return std::move(best_);
        std::vector<SearchResult> results = score(next);
        update_best(best_, results);
        if (reached_goal()) return std::move(best_);
        sort_results(results);
        if (results.size() > config_.beam_width)
            results.erase(results.begin() + static_cast<std::ptrdiff_t>(config_.beam_width),
                          results.end());
        const std::size_t keep = std::min<std::uint64_t>(config_.beam_width / 4, results.size());
        for (std::size_t k = 0; k < keep; ++k) pool_exprs_.push_back(std::move(results[k].expr));
    }
    return std::move(best_);
}

}  // namespace

std::optional<SearchResult> search_reference(std::span<const Column> x_cols,
                                             std::span<const double> y, std::uint64_t n_vars,
                                             const SearchConfig& config, SearchControl* control) {
    check_columns(x_cols);
    if (control != nullptr) control->stats = {};
    return Driver(x_cols, y, n_vars, config, control).run();
}

}  // namespace vok::beam
