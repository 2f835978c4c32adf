// Data-derived probe points and the keys of probe values.
#include "enumeration/probe_points.hpp"

#include <algorithm>
#include <bit>

namespace vok::enumeration {
namespace {

// Fractional part of the golden ratio: successive multiples spread evenly.
constexpr double kGoldenFraction = 0.6180339887498949;

std::uint32_t nth_prime(std::size_t n) {
    std::uint32_t candidate = 1;
    for (std::size_t found = 0; found <= n;) {
        ++candidate;
        bool prime = true;
        for (std::uint32_t d = 2; d * d <= candidate; ++d) {
            if (candidate % d == 0) {
                prime = false;
                break;
            }
        }
        if (prime) ++found;
    }
    return candidate;
}

double radical_inverse(std::uint32_t base, std::uint64_t i) {
    const double inv = 1.0 / static_cast<double>(base);
    double scale = inv;
    double r = 0.0;
    while (i > 0) {
        r += scale * static_cast<double>(i % base);
        i /= base;
        scale *= inv;
    }
    return r;
}

double fraction(double v) { return v - static_cast<double>(static_cast<std::uint64_t>(v)); }

constexpr std::uint64_t rotl(std::uint64_t v, int r) { return (v << r) | (v >> (64 - r)); }

constexpr std::uint64_t finish(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

}  // namespace

std::vector<ProbeArray> data_probes(std::span<const Column> x_cols, std::size_t rows) {
    std::vector<ProbeArray> probes(x_cols.size());
    for (std::size_t v = 0; v < x_cols.size(); ++v) {
        const Column& col = x_cols[v];
        const auto [lo_it, hi_it] = std::minmax_element(col.begin(), col.begin() + rows);
        const double lo = rows > 0 ? *lo_it : 0.0;
        const double hi = rows > 0 ? *hi_it : 0.0;
        const std::uint32_t base = nth_prime(v);
        const double shift = fraction(static_cast<double>(v + 1) * kGoldenFraction);
        for (std::size_t k = 0; k < kProbePoints; ++k) {
            double u = radical_inverse(base, k + 1) + shift;
            if (u >= 1.0) u -= 1.0;
            // Two products, not lo + (hi - lo) * u: the width may overflow.
            probes[v][k] = lo * (1.0 - u) + hi * u;
        }
    }
    return probes;
}

Key128 probe_key(const double* values, unsigned drop_bits) noexcept {
    std::uint64_t a = 0x9e3779b97f4a7c15ULL;
    std::uint64_t b = 0xc2b2ae3d27d4eb4fULL;
    const std::uint64_t half = drop_bits > 0 ? std::uint64_t{1} << (drop_bits - 1) : 0;
    const std::uint64_t keep = drop_bits > 0 ? ~((std::uint64_t{1} << drop_bits) - 1) : ~0ULL;
    for (std::size_t k = 0; k < kProbePoints; ++k) {
        std::uint64_t w = values[k] == 0.0 ? 0 : std::bit_cast<std::uint64_t>(values[k]);
        w = (w + half) & keep;
        a = rotl(a ^ w, 23) * 0xff51afd7ed558ccdULL;
        b = rotl(b + w, 31) * 0xc4ceb9fe1a85ec53ULL;
    }
    return {finish(a), finish(b ^ a) | 1};
}

}  // namespace vok::enumeration
