// The candidates kept for a size's front: the best few of what is offered,
// and the bound a worker's full front sets for what comes after.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/token.hpp"
#include "enumeration/enumerate.hpp"
#include "enumeration/slot_layout.hpp"

namespace vok::enumeration {

// A scored candidate that may enter a front.
struct Ranked {
    double sse = 0.0;
    std::uint64_t order = 0;
    double scale = 1.0;
    double offset = 0.0;
    OpCode op = OpCode::Neg;
    std::uint32_t a = kNoOperand;  // an entry id; for an entry itself, b is kNoOperand
    std::uint32_t b = kNoOperand;  // and op is unused when `entry` is set
    bool entry = false;
};

// By (sse, order), as front members rank: a Ranked becomes a member with the
// same sse and order, so the front keeps its order through finish().
[[nodiscard]] inline bool ranks_before(const Ranked& x, const Ranked& y) noexcept {
    return x.sse < y.sse || (x.sse == y.sse && x.order < y.order);
}

// Keeps the k best of what it is offered, best first.
void offer(std::vector<Ranked>& top, std::size_t k, const Ranked& candidate);

// Offers a fitted candidate to a worker's front; once that is full, its worst
// error bounds what later candidates must beat.
void take(std::vector<Ranked>& top, std::size_t keep, std::atomic<double>& bound, const Ranked& r);

}  // namespace vok::enumeration
