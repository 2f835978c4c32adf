// What a pass over one segment's slots shares between a grown size and the
// largest: the record of a candidate, its counts, and the step from its
// operands' probe values through its dedup.
#pragma once

#include <cstdint>

#include "core/column_ops.hpp"
#include "enumeration/enumerate.hpp"
#include "enumeration/key_set.hpp"
#include "enumeration/probe_apply.hpp"
#include "enumeration/slot_layout.hpp"
#include "runtime/lookahead.hpp"

namespace vok::enumeration {

// A candidate between its fingerprint and its dedup; for a grown size, also
// one that passed its segment's dedup, waiting to join (its probe values are
// computed again then: keeping them would double the waiting memory).
// 32 bytes: a size's survivors are held until they join, and their pages are
// fresh memory. A slot fits in 56 bits: 2^56 slots would take years to visit.
struct Pending {
    Key128 key;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::uint64_t slot : 56 = 0;
    OpCode op : 7 = OpCode::Neg;
    bool lost : 1 = false;  // its key was met in an earlier segment
};
static_assert(sizeof(Pending) == 32);

struct SegmentCounts {
    std::uint64_t candidates = 0;
    std::uint64_t no_value = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t distinct = 0;
    std::uint64_t scored = 0;
    std::uint64_t valid = 0;
    std::uint64_t pruned = 0;

    void add_to(SizeReport& r) const {
        r.candidates += candidates;
        r.no_value += no_value;
        r.duplicates += duplicates;
        r.distinct += distinct;
        r.scored += scored;
        r.valid += valid;
        r.pruned += pruned;
    }
};

// One segment's candidates from their probe values to their dedup: a key is
// prefetched as it is made and looked up a few candidates later, so that the
// cache misses of several candidates overlap. A candidate whose key a smaller
// size or an earlier candidate of the segment took counts as a duplicate;
// the others go on to consume, in slot order.
class SegmentKeys {
public:
    SegmentKeys(const ShardedKeySet& seen, unsigned drop_bits)
        : seen_(seen), local_(thread_keys()), drop_bits_(drop_bits) {
        local_.clear();
        local_.reserve(kSegmentSlots);
    }
    SegmentKeys(const SegmentKeys&) = delete;
    SegmentKeys& operator=(const SegmentKeys&) = delete;

    // Queues op(a, b) from its operands' probe values (b_probes null for a
    // unary operator); the candidate that leaves the queue meets its dedup.
    // False, and nothing queued, when it has no value at some probe point.
    template <class Consume>
    bool push(std::uint64_t slot, OpCode op, std::uint32_t a, std::uint32_t b,
              const double* a_probes, const double* b_probes, Consume&& consume) {
        // An entry's probe values are finite, and so are their sine and cosine.
        const double* values = probes_.data();
        if (op == OpCode::Sin || op == OpCode::Cos) {
            values = trig_.apply(op, a, a_probes);
        } else if (!apply_at_probes(op, a_probes, b_probes, probes_.data())) {
            return false;
        }
        push_values(values, slot, op, a, b, consume);
        return true;
    }

    // The same for probe values the caller computed.
    template <class Consume>
    void push_values(const double* values, std::uint64_t slot, OpCode op, std::uint32_t a,
                     std::uint32_t b, Consume&& consume) {
        const Key128 key = probe_key(values, drop_bits_);
        seen_.prefetch(key);
        local_.prefetch(key);
        queue_.push(Pending{key, a, b, slot, op}, [&](const Pending& p) { dedup(p, consume); });
    }

    template <class Consume>
    void drain(Consume&& consume) {
        queue_.drain([&](const Pending& p) { dedup(p, consume); });
    }

    [[nodiscard]] std::uint64_t duplicates() const noexcept { return duplicates_; }

private:
    // Inlined at the queue: it runs once a candidate, on the hot path.
    template <class Consume>
    [[gnu::always_inline]] void dedup(const Pending& p, Consume& consume) {
        if (seen_.contains(p.key) || !local_.insert(p.key)) {
            ++duplicates_;
            return;
        }
        consume(p);
    }

    // One set per thread, its table kept from segment to segment.
    static KeySet& thread_keys() {
        thread_local KeySet keys;
        return keys;
    }

    const ShardedKeySet& seen_;
    KeySet& local_;
    unsigned drop_bits_;
    std::uint64_t duplicates_ = 0;
    ProbeArray probes_{};
    SinCosOf trig_{kProbePoints};
    Lookahead<Pending> queue_;
};

}  // namespace vok::enumeration
