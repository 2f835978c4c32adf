// Renderings per second: scoring renders every candidate that evaluates.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/expr.hpp"
#include "core/render.hpp"

namespace {

using vok::OpCode;
using vok::Token;

// A program of `size` tokens mixing variables, constants, unary and binary operators.
vok::Expr program_of_size(int size) {
    constexpr OpCode kUnary[] = {OpCode::Exp, OpCode::Sqrt, OpCode::Neg, OpCode::Sin};
    constexpr OpCode kBinary[] = {OpCode::Add, OpCode::Mul, OpCode::Vok, OpCode::Div};
    vok::Expr e{{Token::var(0)}, 2};
    for (int i = 1; static_cast<int>(e.tokens.size()) < size; ++i) {
        if (i % 3 == 0 || static_cast<int>(e.tokens.size()) + 2 > size) {
            e.tokens.push_back(Token::oper(kUnary[i % 4]));
        } else {
            e.tokens.push_back(i % 2 ? Token::constant(0.1 * i) : Token::var(1));
            e.tokens.push_back(Token::oper(kBinary[i % 4]));
        }
    }
    return e;
}

void BM_ToString(benchmark::State& state) {
    const vok::Expr e = program_of_size(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(e.to_string());
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(e.to_string());
}
BENCHMARK(BM_ToString)->Arg(1)->Arg(3)->Arg(5)->Arg(8)->Arg(15)->Arg(31);

void BM_ToLatex(benchmark::State& state) {
    const std::string f = program_of_size(static_cast<int>(state.range(0))).to_string();
    for (auto _ : state) benchmark::DoNotOptimize(vok::to_latex(f));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToLatex)->Arg(8)->Arg(31);

}  // namespace

BENCHMARK_MAIN();
