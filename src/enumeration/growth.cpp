// A size below the largest, in three steps: fingerprint its candidates and
// dedup them within each segment and against the smaller sizes (segments in
// parallel), join the survivors in generation order, and add them as
// entries, which are then scored.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <vector>

#include "enumeration/enumerator.hpp"
#include "enumeration/segment_pass.hpp"

namespace vok::enumeration {

// Its steps are inline: a member of a class with external linkage is
// otherwise interposable under -fPIC, and GCC would never inline it.
class Growth {
public:
    Growth(Enumerator& run, std::uint32_t size);
    bool run();  // false once stopped

private:
    void fingerprint_segment(std::size_t segment);
    bool join();
    void join_shards(std::size_t group, std::size_t groups, std::size_t seen_after,
                     std::vector<std::uint32_t>& kept_by_segment);
    bool add_entries();
    void finish();

    Enumerator& run_;
    const std::uint32_t size_;
    const std::chrono::steady_clock::time_point t0_;
    const SlotLayout layout_;
    const std::uint64_t slots_;
    const std::size_t n_segments_;
    std::vector<std::vector<Pending>> found_;  // per segment, its survivors in slot order
    std::vector<SegmentCounts> counts_;
    std::atomic<std::size_t> found_bytes_{0};
    std::size_t room_ = 0;                // bytes the survivors may take
    std::vector<std::uint32_t> offsets_;  // per segment, its first new entry from the size's first
    std::uint32_t first_ = 0;             // the size's first entry id
    SizeReport report_;
};

inline Growth::Growth(Enumerator& run, std::uint32_t size)
    : run_(run),
      size_(size),
      t0_(std::chrono::steady_clock::now()),
      layout_(size, run.operands_, run.settings_.unary, run.settings_.binary),
      slots_(layout_.slots()),
      n_segments_(static_cast<std::size_t>((slots_ + kSegmentSlots - 1) / kSegmentSlots)),
      found_(n_segments_),
      counts_(n_segments_) {}

inline bool Growth::run() {
    run_.current_size_ = size_;
    run_.expected_ = slots_;
    run_.done_.store(0);
    report_.size = size_;
    report_.complete = !run_.beam_;
    const std::size_t used = run_.table_.bytes() + run_.seen_.bytes();
    room_ = run_.memory_budget_ > used ? run_.memory_budget_ - used : 0;
    if (!run_.run_tasks(n_segments_, [this](std::size_t segment) { fingerprint_segment(segment); }))
        return false;
    if (!join() || !add_entries()) return false;
    finish();
    return !run_.stopped();
}

// Fingerprints, deduplicated within the segment and against smaller sizes.
inline void Growth::fingerprint_segment(std::size_t segment) {
    const EntryTable& table = run_.table_;
    SegmentKeys keys(run_.seen_, run_.drop_bits_);
    std::vector<Pending>& out = found_[segment];
    SegmentCounts& c = counts_[segment];
    const std::uint64_t lo = segment * kSegmentSlots;
    const std::uint64_t hi = std::min(slots_, lo + kSegmentSlots);
    auto consume = [&](const Pending& p) { out.push_back(p); };
    layout_.visit(lo, hi, [&](std::uint64_t slot, OpCode op, std::uint32_t a, std::uint32_t b) {
        ++c.candidates;
        const double* b_probes = b == kNoOperand ? nullptr : table.probes(b);
        if (!keys.push(slot, op, a, b, table.probes(a), b_probes, consume)) ++c.no_value;
    });
    keys.drain(consume);
    c.duplicates = keys.duplicates();
    if (found_bytes_.fetch_add(out.capacity() * sizeof(Pending)) > room_)
        run_.stop(StopReason::Memory);
    run_.done_.fetch_add(hi - lo, std::memory_order_relaxed);
}

// Survivors join in generation order; a key met in an earlier segment wins.
inline bool Growth::join() {
    std::size_t total = 0;
    for (std::size_t i = 0; i < n_segments_; ++i) {
        total += found_[i].size();
        counts_[i].add_to(report_);
    }
    report_.distinct = 0;
    const std::size_t entry_need = total * (EntryTable::kEntryBytes + 2 * sizeof(Key128));
    if (run_.table_.bytes() + run_.seen_.bytes() + entry_need > run_.memory_budget_ ||
        run_.table_.size() + total >= kNoOperand) {
        run_.stop(StopReason::Memory);
        return false;
    }
    const std::size_t groups = std::min(run_.pool_.size(), ShardedKeySet::kShards);
    const std::size_t seen_after = run_.seen_.size() + total;
    std::vector<std::vector<std::uint32_t>> kept_by_group(
        groups, std::vector<std::uint32_t>(n_segments_, 0));
    if (!run_.run_tasks(
            groups, [&](std::size_t g) { join_shards(g, groups, seen_after, kept_by_group[g]); }))
        return false;
    offsets_.assign(n_segments_ + 1, 0);
    for (std::size_t segment = 0; segment < n_segments_; ++segment) {
        std::uint32_t kept = 0;
        for (std::size_t g = 0; g < groups; ++g) kept += kept_by_group[g][segment];
        offsets_[segment + 1] = offsets_[segment] + kept;
        report_.duplicates += found_[segment].size() - kept;
    }
    return true;
}

// Keys of different shards never meet, so each group of shards joins its own
// survivors, in generation order, on its own task.
inline void Growth::join_shards(std::size_t group, std::size_t groups, std::size_t seen_after,
                                std::vector<std::uint32_t>& kept_by_segment) {
    ShardedKeySet& seen = run_.seen_;
    // A beam reads the set little, like the sizes below the largest.
    const TableUse use =
        size_ + 1 == run_.settings_.max_size && !run_.beam_ ? TableUse::Final : TableUse::Growing;
    for (std::size_t shard = group; shard < ShardedKeySet::kShards; shard += groups)
        seen.reserve_shard(shard, seen_after, use);
    constexpr std::size_t kAhead = 16;
    for (std::size_t segment = 0; segment < n_segments_; ++segment) {
        std::vector<Pending>& pending = found_[segment];
        std::uint32_t kept = 0;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (i + kAhead < pending.size() &&
                ShardedKeySet::shard_of(pending[i + kAhead].key) % groups == group)
                seen.prefetch(pending[i + kAhead].key);
            Pending& p = pending[i];
            if (ShardedKeySet::shard_of(p.key) % groups != group) continue;
            if (seen.insert(p.key)) {
                ++kept;
            } else {
                p.lost = true;
            }
        }
        kept_by_segment[segment] = kept;
    }
}

// The new entries, with probe values from their operands' (all of smaller
// sizes). Those of the size below the largest are only ever unary operands,
// one after another: their probe values are computed there, as needed,
// instead of being stored (a fifth of the peak memory).
inline bool Growth::add_entries() {
    EntryTable& table = run_.table_;
    const bool with_probes = size_ + 1 < run_.settings_.max_size;
    first_ = table.extend(offsets_[n_segments_], with_probes);
    return run_.run_tasks(n_segments_, [&](std::size_t segment) {
        std::uint32_t id = first_ + offsets_[segment];
        for (const Pending& p : found_[segment]) {
            if (p.lost) continue;
            table.set_op(id, Node{NodeKind::Op, p.op, false, p.a, p.b}, size_, p.slot);
            if (with_probes) {
                const double* b_probes = p.b == kNoOperand ? nullptr : table.probes(p.b);
                (void)apply_at_probes(p.op, table.probes(p.a), b_probes, table.probes_to_fill(id));
            }
            ++id;
        }
        std::vector<Pending>().swap(found_[segment]);
    });
}

// The new entries scored, and what the next sizes plan by.
inline void Growth::finish() {
    const std::uint32_t count = offsets_[n_segments_];
    report_.distinct = count;
    run_.entry_rank_.resize(run_.table_.size(), std::numeric_limits<double>::quiet_NaN());
    run_.size_begin_.push_back(static_cast<std::uint32_t>(run_.table_.size()));
    run_.score_entries(size_, first_, count, report_);
    run_.operands_.push_back(run_.valid_of_size(size_));
    report_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0_).count();
    run_.reports_.push_back(report_);
    run_.last_slot_seconds_ = report_.seconds / std::max(1.0, static_cast<double>(slots_));
    run_.last_distinct_share_ =
        static_cast<double>(count) / std::max<double>(1.0, static_cast<double>(report_.candidates));
    if (run_.beam_) run_.use_beam();
}

bool Enumerator::grow(std::uint32_t size) {
    plan(size);
    return Growth(*this, size).run();
}

}  // namespace vok::enumeration
