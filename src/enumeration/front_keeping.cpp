#include "enumeration/front_keeping.hpp"

#include <algorithm>

namespace vok::enumeration {
namespace {

void lower_to(std::atomic<double>& bound, double value) noexcept {
    double current = bound.load(std::memory_order_relaxed);
    while (value < current &&
           !bound.compare_exchange_weak(current, value, std::memory_order_relaxed)) {}
}

}  // namespace

void offer(std::vector<Ranked>& top, std::size_t k, const Ranked& candidate) {
    if (top.size() == k && !ranks_before(candidate, top.back())) return;
    // A lambda: ranks_before also names front members' order, an overload set.
    auto before = [](const Ranked& x, const Ranked& y) { return ranks_before(x, y); };
    top.insert(std::upper_bound(top.begin(), top.end(), candidate, before), candidate);
    if (top.size() > k) top.pop_back();
}

void take(std::vector<Ranked>& top, std::size_t keep, std::atomic<double>& bound, const Ranked& r) {
    offer(top, keep, r);
    if (top.size() == keep) lower_to(bound, top.back().sse);
}

}  // namespace vok::enumeration
