// A fixed battery of search targets with deterministic data, shared by the
// search_battery program and (through its JSON dump) the Python-entry timing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/expr.hpp"

namespace vok::battery {

struct Target {
    std::string name;
    std::string law;  // how y was made, for the reader
    std::vector<Column> x_cols;
    std::vector<double> y;
};

// Always the same targets, in the same order, with the same bits: the data
// come from a generator written here, not from a library whose sequence may
// change between versions.
[[nodiscard]] std::vector<Target> targets();

// splitmix64: tiny, fixed, and good enough to spread sample points.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t next() noexcept {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi) from the top 53 bits.
    double uniform(double lo, double hi) noexcept {
        const double u = static_cast<double>(next() >> 11) * 0x1.0p-53;
        return lo + (hi - lo) * u;
    }

private:
    std::uint64_t state_;
};

}  // namespace vok::battery
