// The key set's table: kept at most half full.
#include "enumeration/key_set.hpp"

#include <algorithm>
#include <bit>

namespace vok::enumeration {
namespace {

std::size_t capacity_for(std::size_t n) noexcept {
    return std::bit_ceil(std::max<std::size_t>(16, 2 * n));
}

}  // namespace

bool KeySet::contains(const Key128& key) const noexcept {
    if (slots_.empty()) return false;
    for (std::size_t i = key.lo & mask_;; i = (i + 1) & mask_) {
        const Key128& slot = slots_[i];
        if (slot.hi == 0) return false;
        if (slot == key) return true;
    }
}

bool KeySet::insert(const Key128& key) {
    if (2 * (size_ + 1) > slots_.size()) reserve(size_ + 1);
    for (std::size_t i = key.lo & mask_;; i = (i + 1) & mask_) {
        Key128& slot = slots_[i];
        if (slot.hi == 0) {
            slot = key;
            ++size_;
            return true;
        }
        if (slot == key) return false;
    }
}

void KeySet::reserve(std::size_t expected) {
    const std::size_t capacity = capacity_for(expected);
    if (capacity <= slots_.size()) return;
    LargeVector<Key128> old(capacity);
    old.swap(slots_);
    mask_ = capacity - 1;
    for (const Key128& key : old) {
        if (key.hi == 0) continue;
        std::size_t i = key.lo & mask_;
        while (slots_[i].hi != 0) i = (i + 1) & mask_;
        slots_[i] = key;
    }
}

void KeySet::clear() noexcept {
    if (size_ == 0) return;
    std::fill(slots_.begin(), slots_.end(), Key128{});
    size_ = 0;
}

std::size_t KeySet::bytes_for(std::size_t n) noexcept { return capacity_for(n) * sizeof(Key128); }

void ShardedKeySet::reserve_shard(std::size_t s, std::size_t expected) {
    // A shard's share, with room for it to run a little over.
    const std::size_t share = expected / kShards;
    shards_[s].reserve(share + share / 8 + 16);
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
