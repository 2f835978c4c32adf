// Fingerprints per second by program size; seen-set inserts per second.
#include <benchmark/benchmark.h>

#include <mutex>
#include <random>
#include <shared_mutex>
#include <unordered_set>
#include <vector>

#include "beam/fingerprint.hpp"
#include "programs.hpp"

namespace {

using vok::bench::program;

void BM_Fingerprint(benchmark::State& state) {
    const vok::Expr e = program(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(vok::beam::fingerprint(e, 2, {}));
    state.SetItemsProcessed(state.iterations());
    state.counters["tokens"] = static_cast<double>(e.tokens.size());
}
BENCHMARK(BM_Fingerprint)->Arg(1)->Arg(3)->Arg(7)->Arg(15)->Arg(31);

std::vector<vok::beam::Fingerprint> random_fingerprints(std::size_t n) {
    std::mt19937_64 rng(42);
    std::vector<vok::beam::Fingerprint> out(n);
    for (auto& fp : out)
        for (auto& w : fp.words) w = static_cast<std::int64_t>(rng() & 0xFFFFFFFF);
    return out;
}

constexpr std::size_t kBatch = 1 << 16;

// Fresh set per round: growth is part of the cost, as in a search.
void BM_SeenSetInsertNew(benchmark::State& state) {
    const auto fps = random_fingerprints(kBatch);
    for (auto _ : state) {
        vok::beam::SeenSet seen;
        for (const auto& fp : fps) benchmark::DoNotOptimize(seen.insert(fp));
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_SeenSetInsertNew);

void BM_SeenSetInsertRepeat(benchmark::State& state) {
    const auto fps = random_fingerprints(kBatch);
    vok::beam::SeenSet seen;
    for (const auto& fp : fps) (void)seen.insert(fp);
    for (auto _ : state)
        for (const auto& fp : fps) benchmark::DoNotOptimize(seen.insert(fp));
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_SeenSetInsertRepeat);

// Baseline for the table choice: the same shards built on std::unordered_set.
struct Hash {
    std::size_t operator()(const vok::beam::Fingerprint& fp) const noexcept {
        return vok::beam::hash_value(fp);
    }
};
struct alignas(64) StdShard {
    std::shared_mutex mutex;
    std::unordered_set<vok::beam::Fingerprint, Hash> set;
};

void BM_StdShardsInsertNew(benchmark::State& state) {
    const auto fps = random_fingerprints(kBatch);
    const std::size_t shards = vok::beam::SeenSet::shard_count();
    for (auto _ : state) {
        std::vector<StdShard> seen(shards);
        for (const auto& fp : fps) {
            StdShard& s = seen[vok::beam::hash_value(fp) & (shards - 1)];
            std::unique_lock lock(s.mutex);
            benchmark::DoNotOptimize(s.set.insert(fp).second);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_StdShardsInsertNew);

void BM_StdShardsInsertRepeat(benchmark::State& state) {
    const auto fps = random_fingerprints(kBatch);
    const std::size_t shards = vok::beam::SeenSet::shard_count();
    std::vector<StdShard> seen(shards);
    auto insert = [&](const vok::beam::Fingerprint& fp) {
        StdShard& s = seen[vok::beam::hash_value(fp) & (shards - 1)];
        std::unique_lock lock(s.mutex);
        return s.set.insert(fp).second;
    };
    for (const auto& fp : fps) (void)insert(fp);
    for (auto _ : state)
        for (const auto& fp : fps) benchmark::DoNotOptimize(insert(fp));
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_StdShardsInsertRepeat);

}  // namespace

BENCHMARK_MAIN();
