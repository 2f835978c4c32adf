#include "enumeration/key_set.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace vok::enumeration {
namespace {

// Keys from a small pool, so many are inserted twice; lo near the top of its
// range homes a key in the table's last slot, where probing wraps around.
std::vector<Key128> keys_with_repeats(std::size_t n, std::uint32_t seed) {
    std::mt19937_64 gen(seed);
    std::vector<Key128> keys;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t pick = gen() % (n / 2 + 1);
        const std::uint64_t lo =
            pick % 5 == 0 ? ~std::uint64_t{0} - pick : pick * 0x9e3779b97f4a7c15ULL;
        keys.push_back({lo, (pick << 1) | 1});
    }
    return keys;
}

class KeySetTest : public ::testing::TestWithParam<std::tuple<std::size_t, TableUse>> {};

TEST_P(KeySetTest, HoldsExactlyTheKeysInserted) {
    const auto [reserved, use] = GetParam();
    KeySet set;
    if (reserved > 0) set.reserve(reserved, use);
    std::set<std::pair<std::uint64_t, std::uint64_t>> truth;
    const std::vector<Key128> keys = keys_with_repeats(5000, 7);
    for (const Key128& key : keys) {
        ASSERT_EQ(set.insert(key), truth.insert({key.lo, key.hi}).second);
    }
    EXPECT_EQ(set.size(), truth.size());
    for (const Key128& key : keys_with_repeats(5000, 8)) {
        EXPECT_EQ(set.contains(key), truth.count({key.lo, key.hi}) == 1);
    }
    set.clear();
    EXPECT_EQ(set.size(), 0u);
    EXPECT_FALSE(set.contains(keys.front()));
}

INSTANTIATE_TEST_SUITE_P(Reserved, KeySetTest,
                         ::testing::Combine(::testing::Values(0, 1, 7, 1001, 300000),
                                            ::testing::Values(TableUse::Growing, TableUse::Final)));

}  // namespace
}  // namespace vok::enumeration
