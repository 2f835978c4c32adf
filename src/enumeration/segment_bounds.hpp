// What a segment of the largest size must beat, taken from segments well
// before it only: so the candidates it rules out, and every count, are the
// same with any number of workers, and workers do not wait on each other
// past the first few segments.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "enumeration/front_keeping.hpp"

namespace vok::enumeration {

class SegmentBounds {
public:
    // Segment i (from 2 * kFirst on) is bounded by the worst error of the
    // full front of the first P segments, P the largest power of two up to
    // i / 2: half the segments before it, none of them still running unless
    // more than i / 2 workers run. Earlier segments are bounded by their own
    // front only.
    static constexpr std::size_t kFirst = 16;

    SegmentBounds(std::size_t n_segments, std::size_t keep)
        : done_(std::make_unique<std::atomic<bool>[]>(n_segments)), keep_(keep) {}

    // Segment i's bound. front_of(j) is segment j's front, or null when the
    // segment does not count (abandoned: its fits are not on the front), asked
    // for once done(j) has been called. Waits while one of the first P
    // segments still runs, unless cancelled (then infinity: rules nothing out).
    template <class FrontOf>
    [[nodiscard]] double bound_for(std::size_t i, FrontOf front_of,
                                   const std::atomic<bool>& cancel) {
        if (i < 2 * kFirst) return kInf;
        const std::size_t prefix = std::bit_floor(i / 2);
        std::unique_lock lock(mutex_);
        while (merged_ < prefix) {
            const std::size_t next = merged_ == 0 ? kFirst : 2 * merged_;
            std::size_t j = merged_;
            while (j < next && done_[j].load(std::memory_order_acquire)) ++j;
            if (j < next) {
                if (cancel.load(std::memory_order_relaxed)) return kInf;
                // done() may come between the test and the wait: never wait long.
                cv_.wait_for(lock, std::chrono::milliseconds(1));
                continue;
            }
            for (j = merged_; j < next; ++j) {
                const std::vector<Ranked>* front = front_of(j);
                if (front == nullptr) continue;
                for (const Ranked& r : *front) offer(front_, keep_, r);
            }
            bounds_.push_back(front_.size() == keep_ ? front_.back().sse : kInf);
            merged_ = next;
        }
        // bounds_[k] holds the bound of the first kFirst << k segments.
        return bounds_[static_cast<std::size_t>(std::countr_zero(prefix / kFirst))];
    }

    // Segment i has ended (finished or abandoned): its front is written.
    void done(std::size_t i) noexcept {
        done_[i].store(true, std::memory_order_release);
        cv_.notify_all();
    }

private:
    static constexpr double kInf = std::numeric_limits<double>::infinity();

    std::unique_ptr<std::atomic<bool>[]> done_;
    std::size_t keep_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::size_t merged_ = 0;      // segments merged into front_: 0 or kFirst << k
    std::vector<Ranked> front_;   // theirs
    std::vector<double> bounds_;  // by the prefixes merged
};

}  // namespace vok::enumeration
