// Fitting programs on every row as the enumeration scores a candidate: a
// front found on a subset of the rows, and the error of given constants.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "enumeration/enumerate.hpp"

namespace vok::enumeration {

// The front fitted again on these rows (fit_on_rows for each member): sse,
// rmse, scale and offset replaced, members without a value on some row or
// without a finite fit dropped, the rest ranked by (size, sse, order).
void refit_front(std::vector<FrontMember>& front, std::span<const Column> x_cols,
                 std::span<const double> y, bool scaling);

// One program on the rows: its fit (fit_on_rows), and the sse of each given
// (scale, offset) summed as the fit sums its own, NaN or infinite as the
// values make it (NaN when the program has no value on some row).
struct Settled {
    std::optional<RowFit> fit;
    std::vector<double> sse;
};
[[nodiscard]] Settled settle_on_rows(const Expr& expr, std::span<const Column> x_cols,
                                     std::span<const double> y, bool scaling,
                                     std::span<const std::array<double, 2>> constants);

}  // namespace vok::enumeration
