// Fingerprints: exact bits at the probe points; the seen set's insert semantics.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "alloc_count.hpp"
#include "beam/fingerprint.hpp"
#include "test_values.hpp"

namespace vok::beam {
namespace {

using namespace vok::test;  // kNaN, kInf, bits

using T = Token;

Expr prog(std::vector<Token> t) { return Expr{std::move(t), 0}; }
const Token x = T::var(0), y = T::var(1), zero = T::constant(0.0), one = T::constant(1.0);
Token op(OpCode o) { return T::oper(o); }

// The words a fingerprint must hold for five given bit patterns.
Fingerprint words_of(const std::array<std::uint64_t, 5>& bits) {
    Fingerprint fp;
    for (std::size_t k = 0; k < 5; ++k) {
        fp.words[2 * k] = static_cast<std::int64_t>(bits[k]) >> 32;
        fp.words[2 * k + 1] = static_cast<std::int64_t>(bits[k] & 0xFFFFFFFF);
    }
    return fp;
}

// The probe constants as the table states them.
constexpr std::array<std::uint64_t, 5> kProbeBits = {0x3FE2788CFC6FB618, 0x3FF484D24F2FD873,
                                                     0x3FF9E3779B97F4A8, 0x3FE62E42FEFA39EF,
                                                     0x3FF33BA004F00621};

TEST(Fingerprint, LeavesHoldTheirExactBits) {
    EXPECT_EQ(fingerprint(prog({zero}), 0, {}), Fingerprint{});
    const Fingerprint ones = *fingerprint(prog({one}), 0, {});
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(ones.words[2 * k], 0x3FF00000);
        EXPECT_EQ(ones.words[2 * k + 1], 0);
    }
    EXPECT_EQ(fingerprint(prog({x}), 1, {}), words_of(kProbeBits));
    // Doubling adds one to the exponent field: variable 1 reads 2 x c_k.
    std::array<std::uint64_t, 5> doubled = kProbeBits;
    for (auto& b : doubled) b += std::uint64_t{1} << 52;
    EXPECT_EQ(fingerprint(prog({y}), 2, {}), words_of(doubled));
}

TEST(Fingerprint, NegativeZeroSignExtendsTheUpperWord) {
    const Fingerprint neg = *fingerprint(prog({zero, op(OpCode::Neg)}), 0, {});
    EXPECT_NE(neg, Fingerprint{});
    EXPECT_EQ(neg, words_of({0x8000000000000000, 0x8000000000000000, 0x8000000000000000,
                             0x8000000000000000, 0x8000000000000000}));
    EXPECT_EQ(neg.words[0], std::int64_t{-2147483648});
}

struct SamePair {
    std::vector<Token> a, b;
    bool equal;
};

class Duplicates : public ::testing::TestWithParam<SamePair> {};

TEST_P(Duplicates, DependOnExactValuesOnly) {
    const auto& c = GetParam();
    const auto fa = fingerprint(prog(c.a), 2, {});
    const auto fb = fingerprint(prog(c.b), 2, {});
    ASSERT_TRUE(fa && fb);
    EXPECT_EQ(*fa == *fb, c.equal);
}

INSTANTIATE_TEST_SUITE_P(
    Algebra, Duplicates,
    ::testing::Values(SamePair{{x, x, op(OpCode::Sub)}, {zero}, true},
                      SamePair{{x, one, op(OpCode::Mul)}, {x}, true},
                      SamePair{{x, zero, op(OpCode::Add)}, {x}, true},
                      SamePair{{x, y, op(OpCode::Add)}, {y, x, op(OpCode::Add)}, true},
                      SamePair{{x, y, op(OpCode::Mul)}, {y, x, op(OpCode::Mul)}, true},
                      SamePair{{zero, op(OpCode::Neg)}, {zero}, false},
                      SamePair{{x, y, op(OpCode::Sub)}, {y, x, op(OpCode::Sub)}, false},
                      SamePair{{x}, {y}, false}));

struct NoneCase {
    std::vector<Token> tokens;
    std::uint64_t n_vars;
    std::vector<double> params;
};

class NoFingerprint : public ::testing::TestWithParam<NoneCase> {};

TEST_P(NoFingerprint, WhenAnyProbeLacksAFiniteValue) {
    const auto& c = GetParam();
    EXPECT_FALSE(fingerprint(prog(c.tokens), c.n_vars, c.params));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoFingerprint,
    ::testing::Values(NoneCase{{x, op(OpCode::Neg), op(OpCode::Ln)}, 1, {}},
                      NoneCase{{x, one, op(OpCode::Sub), op(OpCode::Ln)}, 1, {}},
                      NoneCase{{T::var(3)}, 3, {}}, NoneCase{{x}, 0, {}},
                      NoneCase{{zero, x, op(OpCode::Mul)}, 0, {}},
                      NoneCase{{T::var(std::numeric_limits<std::uint64_t>::max())},
                               std::numeric_limits<std::uint64_t>::max(),
                               {}},
                      NoneCase{{T::constant(kInf)}, 0, {}},
                      NoneCase{{T::param(0, 1.0)}, 0, {std::numeric_limits<double>::quiet_NaN()}},
                      NoneCase{{}, 1, {}}));

TEST(Fingerprint, ReadsParamsAndWideRows) {
    EXPECT_TRUE(fingerprint(prog({x, op(OpCode::Ln)}), 1, {}));
    EXPECT_EQ(fingerprint(prog({T::param(0, 1.0)}), 0, std::vector<double>{0.0}), Fingerprint{});
    // Beyond the inline row: variable 99 reads exactly 100 x c_k.
    std::array<std::uint64_t, 5> hundred{};
    for (std::size_t k = 0; k < 5; ++k)
        hundred[k] = std::bit_cast<std::uint64_t>(100.0 * std::bit_cast<double>(kProbeBits[k]));
    EXPECT_EQ(fingerprint(prog({T::var(99)}), 1000, {}), words_of(hundred));
}

TEST(Fingerprint, ModestRowsNeedNoHeap) {
    // Twenty tokens over eight variables, the row on the C stack; a hundred
    // variables fall back to the heap (the control that the count is live).
    std::vector<Token> t{T::var(0)};
    for (std::uint64_t i = 1; i < 8; ++i) t.insert(t.end(), {T::var(i), op(OpCode::Add)});
    t.insert(t.end(), {op(OpCode::Sin), T::var(7), op(OpCode::Mul), op(OpCode::Exp)});
    const Expr small = prog(t), wide = prog({T::var(99)});
    EXPECT_EQ(testing::allocations_during([&] { ASSERT_TRUE(fingerprint(small, 8, {})); }), 0u);
    EXPECT_GT(testing::allocations_during([&] { ASSERT_TRUE(fingerprint(wide, 100, {})); }), 0u);
}

Fingerprint numbered(std::uint64_t i) {
    Fingerprint fp;
    fp.words[9] = static_cast<std::int64_t>(i);
    return fp;
}

TEST(SeenSet, ReportsOnlyRepeats) {
    SeenSet seen;
    EXPECT_FALSE(seen.insert(Fingerprint{}));
    EXPECT_TRUE(seen.insert(Fingerprint{}));
    Fingerprint other;
    other.words[0] = -2147483648;  // negative zero at probe 1
    EXPECT_FALSE(seen.insert(other));
    for (std::uint64_t i = 1; i < 50000; ++i) ASSERT_FALSE(seen.insert(numbered(i)));
    for (std::uint64_t i = 0; i < 50000; ++i) ASSERT_TRUE(seen.insert(numbered(i)));
    EXPECT_EQ(seen.size(), 50001u);
}

TEST(SeenSet, ConcurrentInsertsAddEachValueOnce) {
    constexpr std::uint64_t kDistinct = 20000;
    constexpr int kThreads = 6;
    SeenSet seen;
    std::atomic<std::uint64_t> fresh{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<std::uint64_t> order(kDistinct);
            for (std::uint64_t i = 0; i < kDistinct; ++i) order[i] = i;
            std::shuffle(order.begin(), order.end(), std::mt19937_64(t));
            std::uint64_t mine = 0;
            for (std::uint64_t i : order) mine += !seen.insert(numbered(i));
            fresh += mine;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(fresh.load(), kDistinct);
    EXPECT_EQ(seen.size(), kDistinct);
}

}  // namespace
}  // namespace vok::beam
