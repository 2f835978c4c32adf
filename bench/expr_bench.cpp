// Evaluations per second by program size: one row at a time, and whole
// columns row by row against the column-wise evaluator.
#include <benchmark/benchmark.h>

#include <vector>

#include "core/column_ops.hpp"
#include "core/expr.hpp"
#include "programs.hpp"

namespace {

using vok::bench::program;

std::vector<vok::Column> columns(std::size_t rows) {
    std::vector<vok::Column> cols(2, vok::Column(rows));
    for (std::size_t i = 0; i < rows; ++i) {
        cols[0][i] = 0.5 + 0.001 * double(i);
        cols[1][i] = 1.5 - 0.0007 * double(i);
    }
    return cols;
}

void BM_EvalOneRow(benchmark::State& state) {
    const vok::Expr e = program(std::size_t(state.range(0)));
    const double row[2] = {0.75, 1.25};
    for (auto _ : state) benchmark::DoNotOptimize(e.eval(row, {}));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvalOneRow)->Arg(1)->Arg(3)->Arg(7)->Arg(15)->Arg(31);

constexpr std::size_t kRows = 1000;

void BM_EvalRowsRowWise(benchmark::State& state) {
    const vok::Expr e = program(std::size_t(state.range(0)));
    const auto cols = columns(kRows);
    std::vector<double> out(kRows);
    for (auto _ : state) benchmark::DoNotOptimize(e.eval_rows_into(cols, {}, out));
    state.SetItemsProcessed(state.iterations() * std::int64_t(kRows));
}
BENCHMARK(BM_EvalRowsRowWise)->Arg(3)->Arg(7)->Arg(15)->Arg(31);

void BM_EvalRowsColumnWise(benchmark::State& state) {
    const vok::Expr e = program(std::size_t(state.range(0)));
    const auto cols = columns(kRows);
    std::vector<double> out(kRows);
    vok::ColumnEvaluator evaluator;
    for (auto _ : state) {
        bool ok = true;
        for (std::size_t begin = 0; begin < kRows; begin += vok::kRowChunk) {
            const std::size_t n = std::min(vok::kRowChunk, kRows - begin);
            ok &= evaluator.run(e.tokens, cols, {}, begin, n, out.data() + begin);
        }
        benchmark::DoNotOptimize(ok);
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(kRows));
}
BENCHMARK(BM_EvalRowsColumnWise)->Arg(3)->Arg(7)->Arg(15)->Arg(31);

}  // namespace

BENCHMARK_MAIN();
