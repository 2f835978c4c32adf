// A candidate formula as a flat postfix program, and its evaluators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/token.hpp"

namespace vok {

using Column = std::vector<double>;

struct Expr {
    std::vector<Token> tokens;
    // 0 for the constant leaves, index + 1 for a variable leaf, the search's
    // variable count for combined expressions. Evaluation does not read it.
    std::uint64_t n_vars = 0;

    [[nodiscard]] std::size_t complexity() const noexcept { return tokens.size(); }

    // One sample row. No value for a malformed program, a missing variable, a
    // domain guard or a non-finite operator result.
    [[nodiscard]] std::optional<double> eval(std::span<const double> x_row,
                                             std::span<const double> params) const noexcept;

    // Every row of the columns (row count from the first column). Throws
    // std::invalid_argument when there is no column or a column is shorter
    // than the first: such input would otherwise be read out of bounds.
    [[nodiscard]] std::optional<std::vector<double>> eval_batch(
        std::span<const Column> columns, std::span<const double> params) const;

    // Allocation-free form for reused buffers: writes one value per row into
    // out (which must hold the row count) and reports whether all rows had one.
    // The columns must already satisfy eval_batch's shape rule.
    [[nodiscard]] bool eval_rows_into(std::span<const Column> columns,
                                      std::span<const double> params,
                                      std::span<double> out) const noexcept;

    // eval() on every row into out (which must hold the row count), NaN on
    // rows without a value, with one stack for all rows. True when every row
    // had one. The columns must already satisfy eval_batch's shape rule.
    bool eval_rows_or_nan(std::span<const Column> columns, std::span<double> out) const noexcept;

    // Fully parenthesised infix text.
    [[nodiscard]] std::string to_string() const;
};

// Throws std::invalid_argument unless there is a column and none is shorter
// than the first.
void check_columns(std::span<const Column> columns);

}  // namespace vok
