// Benchmark programs shared by the engine benchmarks.
#pragma once

#include <cstddef>
#include <vector>

#include "core/expr.hpp"

namespace vok::bench {

// A finite program of about n tokens over two variables, mixing arithmetic and libm.
inline Expr program(std::size_t n) {
    std::vector<Token> t{Token::var(0)};
    for (std::size_t step = 0; t.size() < n; ++step) {
        switch (step % 3) {
            case 0: t.insert(t.end(), {Token::var(1), Token::oper(OpCode::Mul)}); break;
            case 1: t.push_back(Token::oper(OpCode::Sin)); break;
            default: t.insert(t.end(), {Token::var(0), Token::oper(OpCode::Add)}); break;
        }
    }
    return Expr{std::move(t), 2};
}

}  // namespace vok::bench
