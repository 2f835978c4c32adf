// Column-wise operators: one loop per operator over a run of rows. The
// arithmetic loops test every row without branching so they stay tight; the
// library-call loops stop at the first row without a value.
#include "core/column_ops.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/op_apply.hpp"

namespace vok {
namespace {

// Failures are collected in 64-bit lanes, the width of the values, so these
// loops run in vector registers (the same operations, row by row, in any
// register width: the same bits).
using Flags = std::uint64_t;

template <class F>
inline bool map_all(const double* a, double* out, std::size_t n, F f) noexcept {
    Flags failed = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = f(a[i]);
        failed |= is_finite_value(r) ? 0 : 1;
        out[i] = r;
    }
    return failed == 0;
}

template <class F>
inline bool zip_all(const double* a, const double* b, double* out, std::size_t n, F f) noexcept {
    Flags failed = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = f(a[i], b[i]);
        failed |= is_finite_value(r) ? 0 : 1;
        out[i] = r;
    }
    return failed == 0;
}

// Library calls cost more than a branch: stop at the first failing row.
template <class F>
inline bool map_until(const double* a, double* out, std::size_t n, F f) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        double r;
        if (!f(a[i], r) || !is_finite_value(r)) return false;
        out[i] = r;
    }
    return true;
}

}  // namespace

// In vector registers: GCC leaves the plain loop scalar. |v| < floor is
// taken as -floor < v < floor, false for NaN as the row evaluator has it.
[[gnu::target_clones("avx2", "default")]] bool any_below_floor(const double* v,
                                                               std::size_t n) noexcept {
    using Lanes = double __attribute__((vector_size(32)));
    using Masks = std::int64_t __attribute__((vector_size(32)));
    constexpr Lanes kFloor = {LN_FLOOR, LN_FLOOR, LN_FLOOR, LN_FLOOR};
    Masks below = {0, 0, 0, 0};
    const std::size_t whole = n - n % 4;
    for (std::size_t i = 0; i < whole; i += 4) {
        Lanes x;
        std::memcpy(&x, v + i, sizeof x);
        below |= (x < kFloor) & (x > -kFloor);
    }
    Flags rest = 0;
    for (std::size_t i = whole; i < n; ++i) rest |= std::fabs(v[i]) < LN_FLOOR ? 1 : 0;
    return ((below[0] | below[1]) | (below[2] | below[3]) | static_cast<std::int64_t>(rest)) != 0;
}

// Compiled twice: for processors with 256-bit vectors, and for any other.
[[gnu::target_clones("avx2", "default")]] bool apply_unary_rows(OpCode op, const double* a,
                                                                double* out,
                                                                std::size_t n) noexcept {
    switch (op) {
        case OpCode::Neg: return map_all(a, out, n, [](double v) { return -v; });
        case OpCode::Abs: return map_all(a, out, n, [](double v) { return std::fabs(v); });
        case OpCode::Square: return map_all(a, out, n, [](double v) { return v * v; });
        case OpCode::Cube: return map_all(a, out, n, [](double v) { return (v * v) * v; });
        case OpCode::Inv:
            return !any_below_floor(a, n) && map_all(a, out, n, [](double v) { return 1.0 / v; });
        case OpCode::Sqrt: {
            Flags negative = 0;
            for (std::size_t i = 0; i < n; ++i) negative |= a[i] < 0.0 ? 1 : 0;
            return negative == 0 && map_all(a, out, n, [](double v) { return std::sqrt(v); });
        }
        case OpCode::Exp:
            return map_until(a, out, n, [](double v, double& r) {
                r = std::exp(v);
                return true;
            });
        case OpCode::Ln:
            return map_until(a, out, n, [](double v, double& r) {
                if (!(v > 0.0)) return false;
                r = std::log(v);
                return true;
            });
        case OpCode::Sin:
            return map_until(a, out, n, [](double v, double& r) {
                r = std::sin(v);
                return true;
            });
        case OpCode::Cos:
            return map_until(a, out, n, [](double v, double& r) {
                r = std::cos(v);
                return true;
            });
        case OpCode::Tanh:
            return map_until(a, out, n, [](double v, double& r) {
                r = std::tanh(v);
                return true;
            });
        case OpCode::Asin:
            return map_until(a, out, n, [](double v, double& r) {
                if (!(std::fabs(v) <= 1.0)) return false;
                r = std::asin(v);
                return true;
            });
        case OpCode::Acos:
            return map_until(a, out, n, [](double v, double& r) {
                if (!(std::fabs(v) <= 1.0)) return false;
                r = std::acos(v);
                return true;
            });
        case OpCode::Atan:
            return map_until(a, out, n, [](double v, double& r) {
                r = std::atan(v);
                return true;
            });
        default: return false;
    }
}

void apply_sin_cos_rows(const double* a, double* sin_out, double* cos_out, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
#if defined(__GLIBC__)
        // The GNU library's sincos runs the same reduction and kernels as its
        // sin and cos (checked bit for bit over 60 million arguments of every
        // exponent, and in the tests), once for both.
        ::sincos(a[i], &sin_out[i], &cos_out[i]);
#else
        sin_out[i] = std::sin(a[i]);
        cos_out[i] = std::cos(a[i]);
#endif
    }
}

[[gnu::target_clones("avx2", "default")]] bool apply_binary_rows(OpCode op, const double* a,
                                                                 const double* b, double* out,
                                                                 std::size_t n) noexcept {
    switch (op) {
        case OpCode::Add: return zip_all(a, b, out, n, [](double x, double y) { return x + y; });
        case OpCode::Sub: return zip_all(a, b, out, n, [](double x, double y) { return x - y; });
        case OpCode::Mul: return zip_all(a, b, out, n, [](double x, double y) { return x * y; });
        case OpCode::Div:
            return !any_below_floor(b, n) &&
                   zip_all(a, b, out, n, [](double x, double y) { return x / y; });
        case OpCode::Vok:
            for (std::size_t i = 0; i < n; ++i) {
                const double r = guarded_exp(a[i]) - guarded_ln(b[i]);
                if (!is_finite_value(r)) return false;
                out[i] = r;
            }
            return true;
        default: return false;
    }
}

bool ColumnEvaluator::run(std::span<const Token> tokens, std::span<const Column> columns,
                          std::span<const double> params, std::size_t begin, std::size_t n,
                          double* out) {
    if (n == 0) return true;
    if (tokens.empty()) return false;
    // Slot k holds its values in its own buffer, or points straight into a
    // column for a bare variable, so loading a variable copies nothing.
    const std::size_t slots = tokens.size();
    if (stack_.size() < slots * kRowChunk) stack_.resize(slots * kRowChunk);
    constexpr std::size_t kInlineSlots = 64;
    const double* inline_ptrs[kInlineSlots];
    std::vector<const double*> heap_ptrs;
    const double** ptr = inline_ptrs;
    if (slots > kInlineSlots) {
        heap_ptrs.resize(slots);
        ptr = heap_ptrs.data();
    }

    for (std::size_t done = 0; done < n; done += kRowChunk) {
        const std::size_t len = std::min(kRowChunk, n - done);
        const std::size_t row0 = begin + done;
        std::size_t depth = 0;
        for (const Token& t : tokens) {
            double* slot = stack_.data() + depth * kRowChunk;
            switch (t.kind) {
                case TokenKind::Const:
                case TokenKind::Param: {
                    const double v = t.kind == TokenKind::Param && t.index < params.size()
                                         ? params[t.index]
                                         : t.value;
                    std::fill(slot, slot + len, v);
                    ptr[depth++] = slot;
                    break;
                }
                case TokenKind::Var:
                    if (t.index >= columns.size()) return false;
                    ptr[depth++] = columns[t.index].data() + row0;
                    break;
                case TokenKind::Op:
                    if (arity(t.op) == 1) {
                        if (depth < 1) return false;
                        slot -= kRowChunk;
                        if (!apply_unary_rows(t.op, ptr[depth - 1], slot, len)) return false;
                        ptr[depth - 1] = slot;
                    } else {
                        if (depth < 2) return false;
                        slot -= 2 * kRowChunk;
                        if (!apply_binary_rows(t.op, ptr[depth - 2], ptr[depth - 1], slot, len))
                            return false;
                        ptr[depth - 2] = slot;
                        --depth;
                    }
                    break;
            }
        }
        if (depth != 1) return false;
        std::memcpy(out + done, ptr[0], len * sizeof(double));
    }
    return true;
}

bool values_or_nan(ColumnEvaluator& eval, const Expr& expr, std::span<const Column> columns,
                   std::span<double> out) {
    if (eval.run(expr.tokens, columns, {}, 0, out.size(), out.data())) return true;
    return expr.eval_rows_or_nan(columns, out);
}

}  // namespace vok
