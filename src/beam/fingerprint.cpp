// Fingerprints and the sharded seen set.
#include "beam/fingerprint.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "runtime/memory_budget.hpp"
#include "runtime/rw_spinlock.hpp"

namespace vok::beam {
namespace {

// Pinned by bit pattern: the first is one ulp below the double nearest gamma.
constexpr std::array<double, kProbeCount> kProbes = {
    std::bit_cast<double>(std::uint64_t{0x3FE2788CFC6FB618}),  // Euler's gamma
    std::bit_cast<double>(std::uint64_t{0x3FF484D24F2FD873}),  // Glaisher-Kinkelin
    std::bit_cast<double>(std::uint64_t{0x3FF9E3779B97F4A8}),  // golden ratio
    std::bit_cast<double>(std::uint64_t{0x3FE62E42FEFA39EF}),  // ln 2
    std::bit_cast<double>(std::uint64_t{0x3FF33BA004F00621}),  // zeta(3)
};

// Probe rows up to this many variables live on the C stack.
constexpr std::size_t kInlineRow = 32;

// wyhash-style folded 128-bit product: full avalanche in one multiply.
inline std::uint64_t mum(std::uint64_t a, std::uint64_t b) noexcept {
    const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(p) ^ static_cast<std::uint64_t>(p >> 64);
}

}  // namespace

double probe_constant(std::size_t k) noexcept { return kProbes[k]; }

std::optional<ProbeValues> probe_values(const Expr& expr, std::uint64_t n_vars,
                                        std::span<const double> params) {
    // A variable outside the row fails every probe; otherwise entries past the
    // highest variable read are never looked at, so the row stops there.
    std::uint64_t row_len = 0;
    for (const Token& t : expr.tokens) {
        if (t.kind != TokenKind::Var) continue;
        if (t.index >= n_vars) return std::nullopt;
        row_len = std::max(row_len, t.index + 1);
    }
    double inline_row[kInlineRow];
    std::vector<double> heap_row;
    double* row = inline_row;
    if (row_len > kInlineRow) {
        heap_row.resize(row_len);
        row = heap_row.data();
    }

    ProbeValues values;
    for (std::size_t k = 0; k < kProbes.size(); ++k) {
        for (std::uint64_t i = 0; i < row_len; ++i)
            row[i] = static_cast<double>(i + 1) * kProbes[k];
        const std::optional<double> v = expr.eval({row, row_len}, params);
        if (!v || !std::isfinite(*v)) return std::nullopt;
        values[k] = *v;
    }
    return values;
}

Fingerprint fingerprint_of(const ProbeValues& values) noexcept {
    Fingerprint fp;
    for (std::size_t k = 0; k < kProbeCount; ++k) {
        const auto bits = std::bit_cast<std::int64_t>(values[k]);
        fp.words[2 * k] = bits >> 32;
        fp.words[2 * k + 1] = bits & 0xFFFFFFFF;
    }
    return fp;
}

std::optional<Fingerprint> fingerprint(const Expr& expr, std::uint64_t n_vars,
                                       std::span<const double> params) {
    const std::optional<ProbeValues> values = probe_values(expr, n_vars, params);
    if (!values) return std::nullopt;
    return fingerprint_of(*values);
}

std::uint64_t hash_value(const Fingerprint& fp) noexcept {
    constexpr std::uint64_t kSecret[3] = {0xA0761D6478BD642F, 0xE7037ED1A0B428DB,
                                          0x8EBC6AF09C88C6E3};
    std::uint64_t h = 0x2D358DCCAA6C78A5;
    for (std::size_t k = 0; k < 10; k += 2) {
        // Rejoin the halves: one 64-bit pattern per probe.
        const auto bits = static_cast<std::uint64_t>(fp.words[k]) << 32 |
                          static_cast<std::uint64_t>(fp.words[k + 1]);
        h = mum(bits ^ kSecret[0], h ^ kSecret[1]);
    }
    return mum(h ^ kSecret[2], h ^ kSecret[0]);
}

namespace {

// Open addressing with linear probing over one array of 48-byte slots: the
// tag (hash | 1; 0 = empty) beside the five probe bit patterns that the ten
// words encode, so a lookup usually costs a single cache miss.
class FingerprintTable {
public:
    // Called on the empty table: its slot arrays are charged to budget from now on.
    void charge_to(MemoryBudget* budget) { slots_ = Slots(BudgetAllocator<Slot>(budget)); }

    bool insert(const Fingerprint& fp, std::uint64_t hash) {
        if ((count_ + 1) * 4 > slots_.size() * 3) grow();
        const Slot key = pack(fp, hash | 1);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = key.tag & mask;; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (s.tag == 0) {
                s = key;
                ++count_;
                return false;
            }
            if (same(s, key)) return true;
        }
    }
    [[nodiscard]] std::size_t size() const noexcept { return count_; }

    // Starts loading the home slot of a hash. Safe from any thread: it reads
    // only the published pointer and mask, and a stale pair merely prefetches
    // something useless.
    void prefetch(std::uint64_t hash) const noexcept {
        const Slot* slots = slots_view_.load(std::memory_order_relaxed);
        if (slots == nullptr) return;
        const Slot* s = slots + ((hash | 1) & mask_view_.load(std::memory_order_relaxed));
        __builtin_prefetch(s);
        __builtin_prefetch(reinterpret_cast<const char*>(s) + sizeof(Slot) - 1);
    }

private:
    struct Slot {
        std::uint64_t tag;
        std::uint64_t bits[kProbeCount];
    };

    static Slot pack(const Fingerprint& fp, std::uint64_t tag) noexcept {
        Slot s{tag, {}};
        for (std::size_t k = 0; k < kProbeCount; ++k)
            s.bits[k] = static_cast<std::uint64_t>(fp.words[2 * k]) << 32 |
                        static_cast<std::uint64_t>(fp.words[2 * k + 1]);
        return s;
    }

    // All six words at once: no call, no early exit to mispredict.
    static bool same(const Slot& a, const Slot& b) noexcept {
        std::uint64_t diff = a.tag ^ b.tag;
        for (std::size_t k = 0; k < kProbeCount; ++k) diff |= a.bits[k] ^ b.bits[k];
        return diff == 0;
    }

    // The new array is charged and allocated before anything changes, so a
    // refused growth leaves the table as it was.
    void grow() {
        Slots old(std::max<std::size_t>(16, slots_.size() * 2), Slot{0, {}},
                  slots_.get_allocator());
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& s : old) {
            if (s.tag == 0) continue;
            std::size_t i = s.tag & mask;
            while (slots_[i].tag != 0) i = (i + 1) & mask;
            slots_[i] = s;
        }
        slots_view_.store(slots_.data(), std::memory_order_relaxed);
        mask_view_.store(mask, std::memory_order_relaxed);
    }

    using Slots = BudgetVector<Slot>;
    Slots slots_;
    std::size_t count_ = 0;
    std::atomic<const Slot*> slots_view_{nullptr};
    std::atomic<std::size_t> mask_view_{0};
};

}  // namespace

// Cache-line aligned so two shards' locks never share a line.
struct alignas(64) SeenSet::Shard {
    mutable RwSpinLock mutex;
    FingerprintTable table;
};

std::size_t SeenSet::shard_count() noexcept {
    static const std::size_t count = [] {
        const std::size_t hw = std::thread::hardware_concurrency();
        return std::bit_ceil(std::max<std::size_t>(4 * hw, 2));
    }();
    return count;
}

SeenSet::SeenSet(MemoryBudget* budget)
    : shards_(std::make_unique<Shard[]>(shard_count())),
      shard_shift_(64 - static_cast<unsigned>(std::countr_zero(shard_count()))) {
    for (std::size_t s = 0; s < shard_count(); ++s) shards_[s].table.charge_to(budget);
}

SeenSet::~SeenSet() = default;

bool SeenSet::insert(const Fingerprint& fp) { return insert(fp, hash_value(fp)); }

bool SeenSet::insert(const Fingerprint& fp, std::uint64_t h) {
    // High bits pick the shard, low bits the slot: the two stay independent.
    Shard& shard = shards_[shard_of(h)];
    std::unique_lock lock(shard.mutex);
    return shard.table.insert(fp, h);
}

void SeenSet::prefetch(std::uint64_t hash) const noexcept {
    shards_[shard_of(hash)].table.prefetch(hash);
}

std::size_t SeenSet::size() const {
    std::size_t total = 0;
    for (std::size_t s = 0; s < shard_count(); ++s) {
        std::shared_lock lock(shards_[s].mutex);
        total += shards_[s].table.size();
    }
    return total;
}

}  // namespace vok::beam
