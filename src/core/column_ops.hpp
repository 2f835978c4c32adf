// Operators and programs applied to runs of rows at once: the same results as
// the row-by-row evaluator, without its per-row dispatch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/expr.hpp"

namespace vok {

// Rows are handled in runs of this length: long enough to amortise dispatch,
// short enough that a run of operands stays in the first-level cache.
inline constexpr std::size_t kRowChunk = 256;

// out[i] = op(a[i]) (or op(a[i], b[i])) for i < n. False when some row has no
// value; out is then unspecified. out may alias a or b.
[[nodiscard]] bool apply_unary_rows(OpCode op, const double* a, double* out,
                                    std::size_t n) noexcept;
[[nodiscard]] bool apply_binary_rows(OpCode op, const double* a, const double* b, double* out,
                                     std::size_t n) noexcept;
// sin and cos of the same rows, each exactly as apply_unary_rows gives it;
// with the GNU library they share one argument reduction. (Both always have a
// value on finite rows.)
void apply_sin_cos_rows(const double* a, double* sin_out, double* cos_out, std::size_t n) noexcept;

// sin and cos of one entry's n values, both from one pass and kept while the
// entry stays: the unary operators run fastest over each operand, so a walk
// in slot order meets sin(a) and cos(a) one after the other.
class SinCosOf {
public:
    explicit SinCosOf(std::size_t n) : values_(2 * n), n_(n) {}
    // Op (Sin or Cos) over a, which holds entry id's n finite values: what
    // apply_unary_rows gives, valid until the next entry is asked for.
    [[nodiscard]] const double* apply(OpCode op, std::uint32_t id, const double* a) noexcept {
        if (id != of_) {
            apply_sin_cos_rows(a, values_.data(), values_.data() + n_, n_);
            of_ = id;
        }
        return values_.data() + (op == OpCode::Sin ? 0 : n_);
    }

private:
    std::vector<double> values_;  // sin, then cos
    std::size_t n_;
    std::uint32_t of_ = UINT32_MAX;
};
// True when some value is below LN_FLOOR in magnitude, where Inv and Div have
// no value (the test fails for NaN too, like the row evaluator's).
[[nodiscard]] bool any_below_floor(const double* v, std::size_t n) noexcept;

// Either of the above: b is null for a unary operator.
[[nodiscard]] inline bool apply_rows(OpCode op, const double* a, const double* b, double* out,
                                     std::size_t n) noexcept {
    return b == nullptr ? apply_unary_rows(op, a, out, n) : apply_binary_rows(op, a, b, out, n);
}

// Evaluates a program over rows [begin, begin + n) of the columns, one token
// at a time over the whole run. Gives a value for every row exactly when the
// row-wise evaluator does; with n = 0 it reports success like eval_rows_into.
// Keeps its stack between calls, so a reused evaluator does not allocate.
class ColumnEvaluator {
public:
    [[nodiscard]] bool run(std::span<const Token> tokens, std::span<const Column> columns,
                           std::span<const double> params, std::size_t begin, std::size_t n,
                           double* out);

private:
    std::vector<double> stack_;  // depth x kRowChunk values
};

// expr.eval_rows_or_nan's values (out holds the row count): column-wise,
// unless some row has no value, then row by row for the NaNs. True when
// every row had a value.
bool values_or_nan(ColumnEvaluator& eval, const Expr& expr, std::span<const Column> columns,
                   std::span<double> out);

}  // namespace vok
