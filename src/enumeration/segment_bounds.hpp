// What a segment of the largest size must beat, taken from segments well
// before it only: so the candidates it rules out, and every count, are the
// same with any number of workers, and workers seldom wait on each other.
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
    // Segment i is bounded by the worst error of the full front of its first
    // P segments, P a multiple of kStep: at least i / 2 rounded down to a
    // power of two, and at least i - kLag rounded down to kStep. The segments
    // counted are then long handed out, so none still runs unless some
    // segment takes as long as many others; a good fit helps from a fixed
    // number of segments on. Segments before 2 * kStep are bounded by their
    // own front only.
    static constexpr std::size_t kStep = 16;
    static constexpr std::size_t kLag = 64;

    SegmentBounds(std::size_t n_segments, std::size_t keep)
        : done_(std::make_unique<std::atomic<bool>[]>(n_segments)), keep_(keep) {}

    [[nodiscard]] static std::size_t prefix_of(std::size_t i) noexcept {
        const std::size_t half = i < 2 * kStep ? 0 : std::bit_floor(i / 2);
        const std::size_t lagged = i < kLag + kStep ? 0 : (i - kLag) / kStep * kStep;
        return std::max(half, lagged);
    }

    // Segment i's bound. front_of(j) is segment j's front, or null when the
    // segment does not count (abandoned: its fits are not on the front), asked
    // for once done(j) has been called. Waits while one of the first P
    // segments still runs, unless cancelled (then infinity: rules nothing out).
    template <class FrontOf>
    [[nodiscard]] double bound_for(std::size_t i, FrontOf front_of,
                                   const std::atomic<bool>& cancel) {
        const std::size_t prefix = prefix_of(i);
        std::unique_lock lock(mutex_);
        while (merged_ < prefix) {
            const std::size_t next = merged_ + kStep;
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
        return bounds_[prefix / kStep];
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
    std::size_t merged_ = 0;            // segments merged into front_, a multiple of kStep
    std::vector<Ranked> front_;         // theirs
    std::vector<double> bounds_{kInf};  // bounds_[k]: of the first k * kStep segments
};

}  // namespace vok::enumeration
