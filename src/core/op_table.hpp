// Every operator the engines know, with what front ends need to name, check
// and show it. Indexed by op code; the codes' numbering (token.hpp) is checked
// against it at compile time.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "core/token.hpp"

namespace vok {

struct OpInfo {
    OpCode code;
    const char* name;  // the name programs and operator lists use
    int arity;
    bool commutative;    // swapped operands give the same bits; the enumeration takes one order
    const char* symbol;  // infix symbol of a binary arithmetic operator, else nullptr
};

inline constexpr std::array<OpInfo, kOpCodeCount> kOps{{
    {OpCode::Neg, "neg", 1, false, nullptr},
    {OpCode::Inv, "inv", 1, false, nullptr},
    {OpCode::Exp, "exp", 1, false, nullptr},
    {OpCode::Ln, "ln", 1, false, nullptr},
    {OpCode::Sqrt, "sqrt", 1, false, nullptr},
    {OpCode::Sin, "sin", 1, false, nullptr},
    {OpCode::Cos, "cos", 1, false, nullptr},
    {OpCode::Abs, "abs", 1, false, nullptr},
    {OpCode::Vok, "vok", 2, false, nullptr},
    {OpCode::Add, "add", 2, true, "+"},
    {OpCode::Sub, "sub", 2, false, "-"},
    {OpCode::Mul, "mul", 2, true, "*"},
    {OpCode::Div, "div", 2, false, "/"},
    // Taken on request only; find_formula's search never builds them.
    {OpCode::Square, "square", 1, false, nullptr},
    {OpCode::Cube, "cube", 1, false, nullptr},
    {OpCode::Tanh, "tanh", 1, false, nullptr},
    {OpCode::Asin, "asin", 1, false, nullptr},
    {OpCode::Acos, "acos", 1, false, nullptr},
    {OpCode::Atan, "atan", 1, false, nullptr},
}};

// The order operators are listed in: the default settings' order, with the
// unary ones taken on request (abs, then the powers and the other functions)
// after them. An operator list is generated in its given order, so a list
// taken in this order searches as the Python layer's canonical one.
inline constexpr std::array<OpCode, kOpCodeCount> kOpListing{
    OpCode::Neg,  OpCode::Inv,  OpCode::Exp,  OpCode::Ln,     OpCode::Sqrt,
    OpCode::Sin,  OpCode::Cos,  OpCode::Abs,  OpCode::Square, OpCode::Cube,
    OpCode::Tanh, OpCode::Asin, OpCode::Acos, OpCode::Atan,   OpCode::Add,
    OpCode::Sub,  OpCode::Mul,  OpCode::Div,  OpCode::Vok};

[[nodiscard]] constexpr const OpInfo& op_info(OpCode op) noexcept {
    return kOps[static_cast<std::size_t>(op)];
}

[[nodiscard]] constexpr std::optional<OpCode> op_from_name(std::string_view name) noexcept {
    for (const OpInfo& info : kOps) {
        if (name == info.name) return info.code;
    }
    return std::nullopt;
}

namespace detail {
constexpr bool op_table_matches_codes() noexcept {
    for (std::size_t i = 0; i < kOps.size(); ++i) {
        if (static_cast<std::size_t>(kOps[i].code) != i || kOps[i].arity != arity(kOps[i].code))
            return false;
        if (kOps[i].symbol != nullptr && kOps[i].arity != 2) return false;
        std::size_t listed = 0;
        for (OpCode op : kOpListing) listed += op == kOps[i].code ? 1 : 0;
        if (listed != 1) return false;
    }
    return true;
}
}  // namespace detail

static_assert(detail::op_table_matches_codes(),
              "kOps must hold every op code in order, with its arity, and kOpListing each once");

}  // namespace vok
