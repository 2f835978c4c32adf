// Insert-only sets of 128-bit keys: open addressing, linear probing, a key's
// home slot taken from its low word by multiplying (so a table holds just the
// slots it needs, not a power of two); and the same split over tables by the
// keys' top bits, for filling in parallel.
#pragma once

#include <array>
#include <cstddef>

#include "enumeration/probe_points.hpp"
#include "runtime/large_array.hpp"

namespace vok::enumeration {

// Written as an instruction: GCC 12 at -O2 drops some __builtin_prefetch
// calls once they are inlined into the enumeration's loops.
inline void prefetch_line(const void* p) noexcept {
#if defined(__x86_64__)
    asm volatile("prefetcht0 (%0)" : : "r"(p));
#else
    __builtin_prefetch(p);
#endif
}

// What a table is for. A growing table (the sizes below the largest, a
// segment's own keys) rounds twice its keys up to a power of two: room for
// the next sizes without being rebuilt and faulted in anew. The final table,
// the one the largest size reads, takes no more keys: it holds just twice its
// keys, on huge pages (see large_array.hpp), whose costly first fault only a
// table read far more than filled repays.
enum class TableUse : bool { Growing, Final };

class KeySet {
public:
    KeySet() = default;
    // Room for `expected` keys without growing.
    explicit KeySet(std::size_t expected) { reserve(expected); }

    [[nodiscard]] bool contains(const Key128& key) const noexcept;
    // A hint that key is about to be looked up: starts loading its slot and
    // the next line, where a probe run that starts late in its line goes on.
    // (No test for an empty table, whose home is slot 0: a prefetch never faults.)
    void prefetch(const Key128& key) const noexcept {
        const Key128* home = slots_.data() + home_of(key);
        prefetch_line(home);
        prefetch_line(home + 3);
    }
    // True when the key was new and has been added.
    bool insert(const Key128& key);
    void reserve(std::size_t expected, TableUse use = TableUse::Growing);
    // Empties the set, keeping its table.
    void clear() noexcept;

    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    [[nodiscard]] std::size_t bytes() const noexcept { return slots_.size() * sizeof(Key128); }

private:
    [[nodiscard]] std::size_t home_of(const Key128& key) const noexcept {
        return static_cast<std::size_t>((static_cast<unsigned __int128>(key.lo) * slots_.size()) >>
                                        64);
    }
    [[nodiscard]] std::size_t next(std::size_t i) const noexcept {
        return i + 1 == slots_.size() ? 0 : i + 1;
    }
    void rebuild(std::size_t capacity, bool huge_pages);

    LargeVector<Key128> slots_;  // hi == 0: empty
    std::size_t size_ = 0;
};

// Keys of different shards never meet, so each shard's table may be filled by
// its own thread; lookups and single-threaded inserts work as on one table.
class ShardedKeySet {
public:
    static constexpr std::size_t kShards = 16;

    [[nodiscard]] static std::size_t shard_of(const Key128& key) noexcept { return key.hi >> 60; }

    [[nodiscard]] bool contains(const Key128& key) const noexcept {
        return shards_[shard_of(key)].contains(key);
    }
    void prefetch(const Key128& key) const noexcept { shards_[shard_of(key)].prefetch(key); }
    bool insert(const Key128& key) { return shards_[shard_of(key)].insert(key); }

    [[nodiscard]] KeySet& shard(std::size_t s) noexcept { return shards_[s]; }
    // Room for about `expected` keys in shard s (keys spread evenly over the shards).
    void reserve_shard(std::size_t s, std::size_t expected, TableUse use);
    void reserve(std::size_t expected, TableUse use) {
        for (std::size_t s = 0; s < kShards; ++s) reserve_shard(s, expected, use);
    }

    [[nodiscard]] std::size_t size() const noexcept;
    [[nodiscard]] std::size_t bytes() const noexcept;

private:
    std::array<KeySet, kShards> shards_;
};

}  // namespace vok::enumeration
