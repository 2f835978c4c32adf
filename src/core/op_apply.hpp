// One operator applied to one set of operands: the single definition of what
// every evaluator computes, so the row-wise, column-wise and cached paths give
// the same bits.
#pragma once

#include <cmath>
#include <limits>

#include "core/guarded_math.hpp"
#include "core/token.hpp"

namespace vok {

inline bool is_finite_value(double r) noexcept {
    return std::fabs(r) <= std::numeric_limits<double>::max();
}

// False means "no value": a domain guard, or a result that is not finite.
inline bool apply_unary(OpCode op, double a, double& out) noexcept {
    double r;
    switch (op) {
        case OpCode::Neg: r = -a; break;
        case OpCode::Inv:
            if (std::fabs(a) < LN_FLOOR) return false;
            r = 1.0 / a;
            break;
        case OpCode::Exp: r = std::exp(a); break;
        case OpCode::Ln:
            if (!(a > 0.0)) return false;
            r = std::log(a);
            break;
        case OpCode::Sqrt:
            if (a < 0.0) return false;
            r = std::sqrt(a);
            break;
        case OpCode::Sin: r = std::sin(a); break;
        case OpCode::Cos: r = std::cos(a); break;
        case OpCode::Abs: r = std::fabs(a); break;
        case OpCode::Square: r = a * a; break;
        case OpCode::Cube: r = (a * a) * a; break;
        case OpCode::Tanh: r = std::tanh(a); break;
        // Outside [-1, 1] there is no value (the library's NaN would say the same).
        case OpCode::Asin:
            if (!(std::fabs(a) <= 1.0)) return false;
            r = std::asin(a);
            break;
        case OpCode::Acos:
            if (!(std::fabs(a) <= 1.0)) return false;
            r = std::acos(a);
            break;
        case OpCode::Atan: r = std::atan(a); break;
        default: return false;
    }
    if (!is_finite_value(r)) return false;
    out = r;
    return true;
}

// a is the first operand (lower on the stack), b the second.
inline bool apply_binary(OpCode op, double a, double b, double& out) noexcept {
    double r;
    switch (op) {
        case OpCode::Vok: r = guarded_exp(a) - guarded_ln(b); break;
        case OpCode::Add: r = a + b; break;
        case OpCode::Sub: r = a - b; break;
        case OpCode::Mul: r = a * b; break;
        case OpCode::Div:
            if (std::fabs(b) < LN_FLOOR) return false;
            r = a / b;
            break;
        default: return false;
    }
    if (!is_finite_value(r)) return false;
    out = r;
    return true;
}

}  // namespace vok
