// The enumeration's inner steps one at a time: a candidate's fingerprint and
// dedup (operator over stored probe values, key, set lookups), scoring a
// candidate on 200 rows in full, plain and scaled, and the stand-in screen.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "core/candidate_fit.hpp"
#include "core/column_ops.hpp"
#include "enumeration/approx_ops.hpp"
#include "enumeration/enumerate.hpp"
#include "enumeration/key_set.hpp"
#include "enumeration/probe_apply.hpp"
#include "enumeration/probe_points.hpp"
#include "runtime/lookahead.hpp"

namespace {

using vok::OpCode;

constexpr std::size_t kEntries = 1 << 16;
constexpr std::size_t kRows = 200;

std::vector<double> random_values(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> value(0.5, 4.0);
    std::vector<double> v(n);
    for (double& x : v) x = value(rng);
    return v;
}

// The operators that call the math library, one benchmark argument each.
void library_operators(benchmark::internal::Benchmark* b) {
    for (const OpCode op : {OpCode::Exp, OpCode::Ln, OpCode::Sin, OpCode::Cos, OpCode::Vok})
        b->Arg(static_cast<int>(op));
}

// Two operands' stored rows, a target (seeded) and room for a candidate's values.
struct Rows {
    std::vector<double> a = random_values(kRows, 3);
    std::vector<double> b = random_values(kRows, 4);
    std::vector<double> y = random_values(kRows, 5);
    vok::FitTarget target{y};  // refers to y
    std::vector<double> f = std::vector<double>(kRows);
};

// Candidates over a table of entries' probe values in slot order (the second
// operand runs fastest), deduplicated
// against a set of a million earlier keys and a segment-local set. With a
// second argument of 1, as the enumeration runs it: each candidate's set
// slots are prefetched and looked up a few candidates later, so misses overlap.
void BM_FingerprintAndDedup(benchmark::State& state) {
    const auto op = static_cast<OpCode>(state.range(0));
    const bool pipelined = state.range(1) != 0;
    const std::vector<double> probes = random_values(kEntries * vok::enumeration::kProbePoints, 1);
    vok::enumeration::KeySet earlier;
    const std::vector<double> noise = random_values(vok::enumeration::kProbePoints * (1 << 20), 2);
    for (std::size_t i = 0; i < (1 << 20); ++i)
        earlier.insert(vok::enumeration::probe_key(&noise[i * vok::enumeration::kProbePoints], 16));
    vok::enumeration::KeySet local(vok::enumeration::kSegmentSlots);
    double out[vok::enumeration::kProbePoints];
    std::size_t a = 0;
    std::size_t b = 1;
    std::uint64_t kept = 0;
    auto consume = [&](const vok::enumeration::Key128& key) {
        if (!earlier.contains(key) && local.insert(key)) ++kept;
    };
    vok::Lookahead<vok::enumeration::Key128> queue;
    for (auto _ : state) {
        if ((b & 0xffff) == 0) local.clear();
        const double* pa = &probes[(a % kEntries) * vok::enumeration::kProbePoints];
        const double* pb = &probes[(b % kEntries) * vok::enumeration::kProbePoints];
        // A unary operator's operand changes with every slot.
        const bool has = vok::arity(op) == 1
                             ? vok::enumeration::apply_at_probes(op, pb, nullptr, out)
                             : vok::enumeration::apply_at_probes(op, pa, pb, out);
        if (has) {
            const vok::enumeration::Key128 key = vok::enumeration::probe_key(out, 16);
            if (pipelined) {
                earlier.prefetch(key);
                local.prefetch(key);
                queue.push(key, consume);
            } else {
                consume(key);
            }
        }
        // b runs fastest, as in the enumeration's slots.
        if (++b % kEntries == 0) ++a;
    }
    queue.drain(consume);
    benchmark::DoNotOptimize(kept);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_FingerprintAndDedup)
    ->ArgsProduct({{static_cast<int>(OpCode::Add), static_cast<int>(OpCode::Div),
                    static_cast<int>(OpCode::Sin), static_cast<int>(OpCode::Vok)},
                   {0, 1}});

// One candidate scored on every row: the operator over two stored columns,
// then the error. Items are row evaluations.
void BM_ScoreInFull(benchmark::State& state) {
    const auto op = static_cast<OpCode>(state.range(0));
    const bool scaled = state.range(1) != 0;
    Rows rows;
    const double* a = rows.a.data();
    const double* b = rows.b.data();
    double* f = rows.f.data();
    for (auto _ : state) {
        const bool has = vok::arity(op) == 1 ? vok::apply_unary_rows(op, a, f, kRows)
                                             : vok::apply_binary_rows(op, a, b, f, kRows);
        vok::Fit fit;
        const bool ok = has && (scaled ? vok::fit_scaled(f, rows.target, fit)
                                       : vok::fit_plain(f, rows.target, fit));
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(fit);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows));
}
BENCHMARK(BM_ScoreInFull)
    ->Args({static_cast<int>(OpCode::Add), 0})
    ->Args({static_cast<int>(OpCode::Add), 1})
    ->Args({static_cast<int>(OpCode::Mul), 1})
    ->Args({static_cast<int>(OpCode::Sin), 1})
    ->Args({static_cast<int>(OpCode::Vok), 1});

// A candidate's exact values alone, on every row: for an operator that calls
// the math library, the cost that the stand-ins below avoid and that bounds
// any exact scoring. Items are row evaluations.
void BM_ExactRows(benchmark::State& state) {
    const auto op = static_cast<OpCode>(state.range(0));
    Rows rows;
    for (auto _ : state) {
        const bool has =
            vok::arity(op) == 1
                ? vok::apply_unary_rows(op, rows.a.data(), rows.f.data(), kRows)
                : vok::apply_binary_rows(op, rows.a.data(), rows.b.data(), rows.f.data(), kRows);
        benchmark::DoNotOptimize(has);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows));
}
BENCHMARK(BM_ExactRows)->Arg(static_cast<int>(OpCode::Add))->Apply(library_operators);

// The scaled estimate that rejects most candidates before the exact fit: a
// product's values, then the estimate over them; with an argument of 1, in
// one pass over the operands as the largest size takes it.
void BM_ScaledEstimate(benchmark::State& state) {
    const bool one_pass = state.range(0) != 0;
    Rows rows;
    const double* a = rows.a.data();
    const double* b = rows.b.data();
    double* f = rows.f.data();
    for (auto _ : state) {
        vok::ScaledEstimate estimate;
        const bool has = one_pass
                             ? vok::scaled_estimate_binary(OpCode::Mul, a, b, rows.target, estimate)
                             : vok::apply_binary_rows(OpCode::Mul, a, b, f, kRows);
        if (has && !one_pass) estimate = vok::scaled_estimate(f, rows.target);
        benchmark::DoNotOptimize(has && estimate.exceeds(1e-3));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows));
}
BENCHMARK(BM_ScaledEstimate)->Arg(0)->Arg(1);

// The stand-in screen that rules out a candidate with a library-call
// operator: the stand-in over every row, then the estimate against a bound
// it cannot reach. Items are row evaluations.
void BM_ApproxScreen(benchmark::State& state) {
    const auto op = static_cast<OpCode>(state.range(0));
    Rows rows;
    const double* a = rows.a.data();
    const double* b = rows.b.data();
    double* f = rows.f.data();
    for (auto _ : state) {
        double error = 0.0;
        const bool covered = vok::enumeration::approx_rows(op, a, b, f, kRows, error);
        const bool rejected =
            covered && vok::scaled_estimate(f, rows.target).exceeds_near(1e-3, error);
        benchmark::DoNotOptimize(rejected);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows));
}
BENCHMARK(BM_ApproxScreen)->Apply(library_operators);

// Sin and Cos over one operand as the largest size takes them: one stand-in
// pass gives both (they share the reduction), then each candidate's estimate.
// Items are row evaluations, two per row.
void BM_ApproxScreenSinCosPair(benchmark::State& state) {
    Rows rows;
    std::vector<double> trig(2 * kRows);
    for (auto _ : state) {
        double errors[2] = {0.0, 0.0};
        bool rejected = vok::enumeration::approx_sin_cos(rows.a.data(), trig.data(),
                                                         trig.data() + kRows, kRows, errors);
        for (std::size_t at = 0; at < 2; ++at)
            rejected = rejected && vok::scaled_estimate(trig.data() + at * kRows, rows.target)
                                       .exceeds_near(1e-3, errors[at]);
        benchmark::DoNotOptimize(rejected);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 2 * kRows));
}
BENCHMARK(BM_ApproxScreenSinCosPair);

// vok as the largest size takes it: b runs fastest, so the stand-in of its
// first term (exp of a) is kept while a stays. With an argument of 1, b is one
// of the smallest entries, whose second term (ln of b) is kept too; the screen
// is then their difference and the estimate. Items are row evaluations.
void BM_ApproxScreenKeptVokTerms(benchmark::State& state) {
    const bool second_kept = state.range(0) != 0;
    Rows rows;
    std::vector<double> grown(kRows);
    std::vector<double> logged(kRows);
    const bool covered = vok::enumeration::approx_vok_first(rows.a.data(), grown.data(), kRows) &&
                         vok::enumeration::approx_vok_second(rows.b.data(), logged.data(), kRows);
    double* f = rows.f.data();
    for (auto _ : state) {
        double error = 0.0;
        const bool has =
            second_kept
                ? vok::enumeration::approx_vok_terms(grown.data(), logged.data(), f, kRows, error)
                : vok::enumeration::approx_vok_rest(grown.data(), rows.b.data(), f, kRows, error);
        const bool rejected =
            covered && has && vok::scaled_estimate(f, rows.target).exceeds_near(1e-3, error);
        benchmark::DoNotOptimize(rejected);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRows));
}
BENCHMARK(BM_ApproxScreenKeptVokTerms)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
