// Probe points for deduplication that follow the data: independent across
// variables and inside each variable's observed range, so distinct functions
// of several variables do not collide and ln/sqrt see the data's own domain.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/expr.hpp"

namespace vok::enumeration {

inline constexpr std::size_t kProbePoints = 8;
using ProbeArray = std::array<double, kProbePoints>;

// Probe values of each variable: a Halton sequence (one prime base per
// variable) shifted by a golden-ratio multiple, mapped into the column's
// [min, max]. Pure arithmetic on the data: the same everywhere.
[[nodiscard]] std::vector<ProbeArray> data_probes(std::span<const Column> x_cols, std::size_t rows);

// 128 bits identifying a vector of probe values; equal keys are taken for
// equal values (two independent 64-bit hashes: a false match is beyond
// reach). Zero never occurs, so it marks an empty slot.
struct Key128 {
    std::uint64_t lo = 0;
    std::uint64_t hi = 0;
    bool operator==(const Key128&) const = default;
};

// The key of kProbePoints values. With drop_bits > 0 each value is first
// rounded to nearest on its lowest drop_bits mantissa bits, so that rounding
// variants such as (x + y) + z and x + (y + z) meet; -0.0 counts as +0.0.
[[nodiscard]] Key128 probe_key(const double* values, unsigned drop_bits) noexcept;

}  // namespace vok::enumeration
