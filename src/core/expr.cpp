// Evaluation of postfix programs: the inner loop of the whole search.
#include "core/expr.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>

#include "core/op_apply.hpp"

namespace vok {
namespace {

// Programs up to this many tokens evaluate with their stack on the C stack.
constexpr std::size_t kInlineStack = 64;

// Applies op to the top of the stack; false means "no value".
inline bool apply(OpCode op, double* stack, std::size_t& depth) noexcept {
    if (arity(op) == 1) return apply_unary(op, stack[depth - 1], stack[depth - 1]);
    if (!apply_binary(op, stack[depth - 2], stack[depth - 1], stack[depth - 2])) return false;
    --depth;
    return true;
}

// Runs the program once; load_var(index, &value) reads one variable of the row.
template <class LoadVar>
inline bool run(std::span<const Token> tokens, std::span<const double> params, double* stack,
                LoadVar&& load_var, double& result) noexcept {
    std::size_t depth = 0;
    for (const Token& t : tokens) {
        switch (t.kind) {
            case TokenKind::Const: stack[depth++] = t.value; break;
            case TokenKind::Param:
                stack[depth++] = t.index < params.size() ? params[t.index] : t.value;
                break;
            case TokenKind::Var:
                if (!load_var(t.index, stack[depth])) return false;
                ++depth;
                break;
            case TokenKind::Op:
                if (depth < static_cast<std::size_t>(arity(t.op))) return false;
                if (!apply(t.op, stack, depth)) return false;
                break;
        }
    }
    if (depth != 1) return false;
    result = stack[0];
    return true;
}

// A stack of the program's length: inline for short programs, one heap block otherwise.
class Stack {
public:
    explicit Stack(std::size_t n) {
        if (n > kInlineStack) heap_ = std::make_unique<double[]>(n);
    }
    double* data() noexcept { return heap_ ? heap_.get() : inline_; }

private:
    double inline_[kInlineStack];
    std::unique_ptr<double[]> heap_;
};

// A load_var for one row of columns: no value past the last column.
struct RowOf {
    std::span<const Column> columns;
    std::size_t row;
    bool operator()(std::uint64_t i, double& value) const noexcept {
        if (i >= columns.size()) return false;
        value = columns[i][row];
        return true;
    }
};

}  // namespace

void check_columns(std::span<const Column> columns) {
    if (columns.empty()) throw std::invalid_argument("x_data must hold at least one column");
    const std::size_t rows = columns.front().size();
    for (const Column& c : columns) {
        if (c.size() < rows)
            throw std::invalid_argument(
                "every column of x_data must be at least as long as the first");
    }
}

std::optional<double> Expr::eval(std::span<const double> x_row,
                                 std::span<const double> params) const noexcept {
    if (tokens.empty()) return std::nullopt;
    try {
        Stack stack(tokens.size());
        double result;
        auto load = [&](std::uint64_t i, double& out) noexcept {
            if (i >= x_row.size()) return false;
            out = x_row[i];
            return true;
        };
        if (!run(tokens, params, stack.data(), load, result)) return std::nullopt;
        return result;
    } catch (const std::bad_alloc&) {
        // Only a program of millions of tokens gets here; it has no value to give.
        return std::nullopt;
    }
}

bool Expr::eval_rows_into(std::span<const Column> columns, std::span<const double> params,
                          std::span<double> out) const noexcept {
    if (tokens.empty()) return out.empty();  // no row asks for a value
    try {
        Stack stack(tokens.size());
        for (std::size_t row = 0; row < out.size(); ++row) {
            if (!run(tokens, params, stack.data(), RowOf{columns, row}, out[row])) return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool Expr::eval_rows_or_nan(std::span<const Column> columns, std::span<double> out) const noexcept {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    bool all = true;
    try {
        Stack stack(tokens.size());
        for (std::size_t row = 0; row < out.size(); ++row) {
            // eval() answers an empty program with no value.
            if (tokens.empty() || !run(tokens, {}, stack.data(), RowOf{columns, row}, out[row])) {
                out[row] = kNaN;
                all = false;
            }
        }
    } catch (const std::bad_alloc&) {
        // As eval() does when a long program's stack cannot be had: no value.
        std::fill(out.begin(), out.end(), kNaN);
        return out.empty();
    }
    return all;
}

std::optional<std::vector<double>> Expr::eval_batch(std::span<const Column> columns,
                                                    std::span<const double> params) const {
    check_columns(columns);
    std::vector<double> out(columns.front().size());
    if (!eval_rows_into(columns, params, out)) return std::nullopt;
    return out;
}

}  // namespace vok
