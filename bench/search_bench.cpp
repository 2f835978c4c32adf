// Throughput of level scoring (candidates per second by row count) and the
// wall time of small complete searches.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "beam/search.hpp"

namespace {

using vok::Column;
using vok::Expr;
using vok::OpCode;
using vok::Token;

std::vector<Column> columns(std::size_t rows) {
    std::vector<Column> x(2, Column(rows));
    for (std::size_t i = 0; i < rows; ++i) {
        x[0][i] = 0.1 + 3.0 * static_cast<double>(i) / static_cast<double>(rows);
        x[1][i] = 1.5 + std::sin(static_cast<double>(i));
    }
    return x;
}

// x^2 + sin(y), exactly or with a wobble that no small formula reproduces.
std::vector<double> target(const std::vector<Column>& x, bool wobble = false) {
    std::vector<double> y(x[0].size());
    for (std::size_t i = 0; i < y.size(); ++i) {
        y[i] = x[0][i] * x[0][i] + std::sin(x[1][i]);
        if (wobble) y[i] += 0.01 * std::sin(17.0 * static_cast<double>(i));
    }
    return y;
}

// A level-3-like mix: unary and binary forms over the leaves, each 2 to 5 tokens.
std::vector<Expr> candidates(std::size_t n) {
    const std::vector<Token> leaves{Token::constant(0.0), Token::constant(1.0), Token::var(0),
                                    Token::var(1)};
    const OpCode unary[] = {OpCode::Neg,  OpCode::Inv, OpCode::Exp, OpCode::Ln,
                            OpCode::Sqrt, OpCode::Sin, OpCode::Cos};
    const OpCode binary[] = {OpCode::Add, OpCode::Sub, OpCode::Mul, OpCode::Div, OpCode::Vok};
    std::vector<Expr> small;
    for (const Token& l : leaves) {
        small.push_back({{l}, 2});
        for (const OpCode u : unary) small.push_back({{l, Token::oper(u)}, 2});
    }
    std::vector<Expr> out;
    while (out.size() < n) {
        for (const Expr& a : small) {
            for (const Expr& b : small) {
                for (const OpCode op : binary) {
                    Expr e{a.tokens, 2};
                    e.tokens.insert(e.tokens.end(), b.tokens.begin(), b.tokens.end());
                    e.tokens.push_back(Token::oper(op));
                    out.push_back(std::move(e));
                    if (out.size() == n) return out;
                }
            }
        }
    }
    return out;
}

void BM_ScoreLevel(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const auto x = columns(rows);
    const auto y = target(x);
    const auto level = candidates(rows >= 10000 ? 1000 : 10000);
    const vok::beam::SearchConfig config;
    auto& pool = vok::ThreadPool::global();
    std::size_t kept = 0;
    for (auto _ : state) {
        auto results = vok::beam::score_level(level, x, y, config, pool);
        kept = results.size();
        benchmark::DoNotOptimize(results.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * level.size()));
    state.counters["workers"] = static_cast<double>(pool.size());
    state.counters["evaluable"] = static_cast<double>(kept);
}
BENCHMARK(BM_ScoreLevel)
    ->Arg(10)
    ->Arg(100)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Search(benchmark::State& state) {
    const auto x = columns(static_cast<std::size_t>(state.range(2)));
    const auto y = target(x, state.range(3) != 0);
    vok::beam::SearchConfig config;
    config.max_complexity = static_cast<std::uint64_t>(state.range(0));
    config.beam_width = static_cast<std::uint64_t>(state.range(1));
    vok::beam::SearchControl control;
    for (auto _ : state) {
        auto best = vok::beam::search(x, y, x.size(), config, &control);
        benchmark::DoNotOptimize(best);
    }
    const auto& s = control.stats;
    state.counters["levels"] = static_cast<double>(s.levels);
    state.counters["generated"] = static_cast<double>(s.generated);
    state.counters["duplicates"] = static_cast<double>(s.duplicates);
    state.counters["no_fp"] = static_cast<double>(s.no_fingerprint);
    state.counters["scored"] = static_cast<double>(s.scored);
    state.counters["scored/s"] =
        benchmark::Counter(static_cast<double>(s.scored) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
// max_complexity, beam_width, rows, wobble
BENCHMARK(BM_Search)
    ->Args({8, 2000, 20, 0})
    ->Args({5, 200, 20, 1})
    ->Args({6, 400, 20, 1})
    ->Args({6, 400, 1000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
