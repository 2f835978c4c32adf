// Fitting programs on every row as the enumeration scores a candidate: a
// front found on a subset of the rows, and the error of given constants.
// Weights, when given, are one per row, as check_weights accepts them.
#pragma once

#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

#include "core/candidate_fit.hpp"
#include "enumeration/enumerate.hpp"

namespace vok::enumeration {

// Programs fitted on the same rows one after another (fit_on_rows), the
// target and the values' buffer made once.
class RowFitter {
public:
    RowFitter(std::span<const Column> x_cols, std::span<const double> y,
              std::span<const double> weights, bool scaling);

    // Nothing when the program has no value on some row or no finite fit.
    [[nodiscard]] std::optional<RowFit> fit(const Expr& expr);
    // The rmse of an sse on these rows: over their count, or their weight.
    [[nodiscard]] double rmse(double sse) const noexcept {
        return std::sqrt(sse / target_.total_weight);
    }

private:
    std::span<const Column> x_cols_;
    FitTarget target_;
    bool scaling_;
    std::vector<double> f_;
};

// The front fitted again on these rows (fit_on_rows for each member): sse,
// rmse, scale and offset replaced, members without a value on some row or
// without a finite fit dropped, the rest ranked by (size, sse, order).
void refit_front(std::vector<FrontMember>& front, std::span<const Column> x_cols,
                 std::span<const double> y, bool scaling, std::span<const double> weights = {});

// One program on the rows: its fit (fit_on_rows), and the sse of each given
// (scale, offset) summed as the fit sums its own, NaN or infinite as the
// values make it (NaN when the program has no value on some row).
struct Settled {
    std::optional<RowFit> fit;
    std::vector<double> sse;
};
[[nodiscard]] Settled settle_on_rows(const Expr& expr, std::span<const Column> x_cols,
                                     std::span<const double> y, bool scaling,
                                     std::span<const std::array<double, 2>> constants,
                                     std::span<const double> weights = {});

}  // namespace vok::enumeration
