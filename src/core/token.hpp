// The vocabulary of expression programs: tokens and operator codes.
#pragma once

#include <cstdint>
#include <type_traits>

namespace vok {

// Codes 8 to 12 are binary, the others unary. The numbering is shared by the
// search's operator lists, the renderer and stored split states, so new codes
// are only ever appended.
enum class OpCode : std::uint8_t {
    Neg = 0,
    Inv = 1,
    Exp = 2,
    Ln = 3,
    Sqrt = 4,
    Sin = 5,
    Cos = 6,
    Abs = 7,
    Vok = 8,
    Add = 9,
    Sub = 10,
    Mul = 11,
    Div = 12,
    Square = 13,
    Cube = 14,
    Tanh = 15,
    Asin = 16,
    Acos = 17,
    Atan = 18,
};

inline constexpr int kOpCodeCount = 19;

constexpr int arity(OpCode op) noexcept {
    const auto code = static_cast<std::uint8_t>(op);
    return code >= 8 && code <= 12 ? 2 : 1;
}

enum class TokenKind : std::uint8_t { Const, Param, Var, Op };

// A tagged union kept trivially copyable so that combining programs is a memcpy.
struct Token {
    TokenKind kind = TokenKind::Const;
    OpCode op = OpCode::Neg;  // Op
    std::uint64_t index = 0;  // Param, Var
    double value = 0.0;       // Const, Param

    static constexpr Token constant(double v) noexcept {
        return {TokenKind::Const, OpCode::Neg, 0, v};
    }
    static constexpr Token param(std::uint64_t i, double v) noexcept {
        return {TokenKind::Param, OpCode::Neg, i, v};
    }
    static constexpr Token var(std::uint64_t i) noexcept {
        return {TokenKind::Var, OpCode::Neg, i, 0.0};
    }
    static constexpr Token oper(OpCode o) noexcept { return {TokenKind::Op, o, 0, 0.0}; }
};

static_assert(std::is_trivially_copyable_v<Token>);

}  // namespace vok
