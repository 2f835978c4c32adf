// Worker pool: every task once, errors carried to the caller, cancellation and
// sizing from the environment (use after fork is tested from Python).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "runtime/thread_pool.hpp"

namespace vok {
namespace {

class PoolWorkers : public testing::TestWithParam<std::size_t> {};

TEST_P(PoolWorkers, RunsEveryTaskExactlyOnce) {
    ThreadPool pool(GetParam());
    EXPECT_EQ(pool.size(), GetParam());
    for (const std::size_t n : {0u, 1u, 3u, 1000u}) {
        std::vector<std::atomic<int>> hits(n);
        EXPECT_TRUE(pool.parallel_for(n, [&](std::size_t t) { hits[t].fetch_add(1); }));
        for (std::size_t t = 0; t < n; ++t) EXPECT_EQ(hits[t].load(), 1) << "task " << t;
    }
}

TEST_P(PoolWorkers, FirstErrorReachesTheCallerAndThePoolStaysUsable) {
    ThreadPool pool(GetParam());
    EXPECT_THROW(pool.parallel_for(100,
                                   [](std::size_t t) {
                                       if (t == 37) throw std::bad_alloc();
                                   }),
                 std::bad_alloc);
    try {
        pool.parallel_for(50, [](std::size_t) { throw std::runtime_error("task failed"); });
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "task failed");
    }
    std::atomic<int> ran{0};
    EXPECT_TRUE(pool.parallel_for(10, [&](std::size_t) { ++ran; }));
    EXPECT_EQ(ran.load(), 10);
}

TEST_P(PoolWorkers, RaisedCancelFlagSkipsEveryTask) {
    ThreadPool pool(GetParam());
    std::atomic<bool> cancel{true};
    BatchControl control{&cancel, {}, std::chrono::milliseconds(50)};
    std::atomic<int> ran{0};
    EXPECT_FALSE(pool.parallel_for(100, [&](std::size_t) { ++ran; }, &control));
    EXPECT_EQ(ran.load(), 0);
}

TEST_P(PoolWorkers, WaitHookCancelsTheBatch) {
    ThreadPool pool(GetParam());
    std::atomic<bool> cancel{false};
    int polls = 0;
    BatchControl control{&cancel, [&] { return ++polls < 2; }, std::chrono::milliseconds(5)};
    std::atomic<std::size_t> started{0};
    // Each started task holds its worker until the hook has cancelled, so only
    // the first task of each worker can ever start.
    const bool complete = pool.parallel_for(
        1000,
        [&](std::size_t) {
            ++started;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!cancel.load() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
        },
        &control);
    EXPECT_FALSE(complete);
    EXPECT_TRUE(cancel.load());
    EXPECT_EQ(polls, 2);
    EXPECT_LE(started.load(), pool.size());
}

TEST_P(PoolWorkers, NestedBatchRunsOnTheCallingTask) {
    ThreadPool pool(GetParam());
    std::atomic<int> inner{0};
    pool.parallel_for(4, [&](std::size_t) { pool.parallel_for(5, [&](std::size_t) { ++inner; }); });
    EXPECT_EQ(inner.load(), 20);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PoolWorkers, testing::Values(1, 2, 7));

TEST(ThreadPool, HookErrorIsRethrownAfterTheBatch) {
    ThreadPool pool(2);
    BatchControl control{nullptr, [&]() -> bool { throw std::runtime_error("hook"); },
                         std::chrono::milliseconds(1)};
    EXPECT_THROW(pool.parallel_for(
                     2,
                     [&](std::size_t) {
                         const auto deadline =
                             std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
                         while (std::chrono::steady_clock::now() < deadline)
                             std::this_thread::yield();
                     },
                     &control),
                 std::runtime_error);
}

struct SizeCase {
    const char* num_threads;
    const char* num_cpus;
    std::size_t expected;
};

class PoolSize : public testing::TestWithParam<SizeCase> {};

TEST_P(PoolSize, FollowsTheEnvironmentRule) {
    const SizeCase& c = GetParam();
    EXPECT_EQ(ThreadPool::size_from(c.num_threads, c.num_cpus, 6), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rule, PoolSize,
                         testing::Values(SizeCase{nullptr, nullptr, 6}, SizeCase{"3", nullptr, 3},
                                         SizeCase{"0", "2", 6}, SizeCase{"0", nullptr, 6},
                                         SizeCase{"abc", "2", 2}, SizeCase{"-1", "2", 2},
                                         SizeCase{"", "2", 2}, SizeCase{" 3", nullptr, 6},
                                         SizeCase{"3x", "5", 5}, SizeCase{"+4", nullptr, 4},
                                         SizeCase{nullptr, "0", 6}, SizeCase{nullptr, "9", 9},
                                         SizeCase{"99999999999999999999", "2", 2}));

}  // namespace
}  // namespace vok
