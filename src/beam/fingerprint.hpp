// Duplicate detection: an expression's exact values at five fixed probe points,
// and the per-search set of fingerprints already seen.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "core/expr.hpp"

namespace vok {
class MemoryBudget;
}  // namespace vok

namespace vok::beam {

// Two words per probe, in probe order: the upper 32 bits of the value's bit
// pattern sign-extended, then the lower 32 bits zero-extended.
struct Fingerprint {
    std::array<std::int64_t, 10> words{};
    bool operator==(const Fingerprint&) const = default;
};

inline constexpr std::size_t kProbeCount = 5;

// An expression's values at the five probe points, in probe order.
using ProbeValues = std::array<double, kProbeCount>;

// The probe constant of point k; variable i of that point is (i + 1) times it.
[[nodiscard]] double probe_constant(std::size_t k) noexcept;

// None when any probe gives no value or a non-finite one.
[[nodiscard]] std::optional<ProbeValues> probe_values(const Expr& expr, std::uint64_t n_vars,
                                                      std::span<const double> params);

// The words of five probe values (which must be finite to match fingerprint()).
[[nodiscard]] Fingerprint fingerprint_of(const ProbeValues& values) noexcept;

// No fingerprint when any probe gives no value or a non-finite one.
[[nodiscard]] std::optional<Fingerprint> fingerprint(const Expr& expr, std::uint64_t n_vars,
                                                     std::span<const double> params);

[[nodiscard]] std::uint64_t hash_value(const Fingerprint& fp) noexcept;

// Insert-only set of fingerprints, split into shards each behind its own lock
// so that concurrent inserts are safe. Survival depends on exact equality only.

class SeenSet {
public:
    // Growth is charged to budget (when given) before it allocates; a refused
    // growth throws MemoryLimitExceeded from insert.
    explicit SeenSet(MemoryBudget* budget = nullptr);
    ~SeenSet();
    SeenSet(const SeenSet&) = delete;
    SeenSet& operator=(const SeenSet&) = delete;

    // True when an equal fingerprint was already present (nothing changes),
    // false when it was new and has been added.
    bool insert(const Fingerprint& fp);
    // The same, with hash == hash_value(fp) computed beforehand (off this thread).
    bool insert(const Fingerprint& fp, std::uint64_t hash);

    // The shard a fingerprint with this hash lives in. Equal fingerprints share
    // a shard, so inserts into different shards never decide for each other.
    [[nodiscard]] std::size_t shard_of(std::uint64_t hash) const noexcept {
        return hash >> shard_shift_;
    }

    // A hint that a fingerprint with this hash is about to be inserted: starts
    // loading its slot so a run of inserts overlaps their cache misses.
    void prefetch(std::uint64_t hash) const noexcept;

    [[nodiscard]] std::size_t size() const;

    // Smallest power of two >= 4 x hardware threads (and > 1), fixed per process.
    [[nodiscard]] static std::size_t shard_count() noexcept;

private:
    struct Shard;
    std::unique_ptr<Shard[]> shards_;
    unsigned shard_shift_;
};

}  // namespace vok::beam
