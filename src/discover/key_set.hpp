// An insert-only set of 128-bit keys: open addressing, linear probing.
#pragma once

#include <cstddef>

#include "discover/large_array.hpp"
#include "discover/probe_points.hpp"

namespace vok {

class KeySet {
public:
    KeySet() = default;
    // Room for `expected` keys without growing.
    explicit KeySet(std::size_t expected) { reserve(expected); }

    [[nodiscard]] bool contains(const Key128& key) const noexcept;
    // A hint that key is about to be looked up: starts loading its slot.
    void prefetch(const Key128& key) const noexcept {
        if (!slots_.empty()) __builtin_prefetch(&slots_[key.lo & mask_]);
    }
    // True when the key was new and has been added.
    bool insert(const Key128& key);
    void reserve(std::size_t expected);
    // Empties the set, keeping its table.
    void clear() noexcept;

    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    [[nodiscard]] std::size_t bytes() const noexcept { return slots_.size() * sizeof(Key128); }
    // The table bytes a set needs to hold n keys.
    [[nodiscard]] static std::size_t bytes_for(std::size_t n) noexcept;

private:
    LargeVector<Key128> slots_;  // hi == 0: empty
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
};

}  // namespace vok
