// The key set's table: kept at most half full.
#include "enumeration/key_set.hpp"

#include <algorithm>
#include <bit>

namespace vok::enumeration {
namespace {

std::size_t capacity_for(std::size_t n, TableUse use) noexcept {
    const std::size_t least = std::max<std::size_t>(16, 2 * n);
    return use == TableUse::Final ? least : std::bit_ceil(least);
}

}  // namespace

bool KeySet::contains(const Key128& key) const noexcept {
    if (slots_.empty()) return false;
    for (std::size_t i = home_of(key);; i = next(i)) {
        const Key128& slot = slots_[i];
        if (slot.hi == 0) return false;
        if (slot == key) return true;
    }
}

bool KeySet::insert(const Key128& key) {
    // Grown to twice its slots, so inserts one at a time cost a constant each.
    if (2 * (size_ + 1) > slots_.size())
        rebuild(std::max<std::size_t>(16, 2 * slots_.size()), slots_.get_allocator().huge);
    for (std::size_t i = home_of(key);; i = next(i)) {
        Key128& slot = slots_[i];
        if (slot.hi == 0) {
            slot = key;
            ++size_;
            return true;
        }
        if (slot == key) return false;
    }
}

void KeySet::reserve(std::size_t expected, TableUse use) {
    if (2 * expected <= slots_.size()) return;
    rebuild(capacity_for(expected, use), use == TableUse::Final);
}

void KeySet::rebuild(std::size_t capacity, bool huge_pages) {
    LargeVector<Key128> old(capacity, LargeVector<Key128>::allocator_type(huge_pages));
    old.swap(slots_);
    for (const Key128& key : old) {
        if (key.hi == 0) continue;
        std::size_t i = home_of(key);
        while (slots_[i].hi != 0) i = next(i);
        slots_[i] = key;
    }
}

void KeySet::clear() noexcept {
    if (size_ == 0) return;
    std::fill(slots_.begin(), slots_.end(), Key128{});
    size_ = 0;
}

void ShardedKeySet::reserve_shard(std::size_t s, std::size_t expected, TableUse use) {
    // A shard's share, with room for it to run a little over.
    const std::size_t share = expected / kShards;
    shards_[s].reserve(share + share / 8 + 16, use);
}

std::size_t ShardedKeySet::size() const noexcept {
    std::size_t n = 0;
    for (const KeySet& shard : shards_) n += shard.size();
    return n;
}

std::size_t ShardedKeySet::bytes() const noexcept {
    std::size_t n = 0;
    for (const KeySet& shard : shards_) n += shard.bytes();
    return n;
}

}  // namespace vok::enumeration
