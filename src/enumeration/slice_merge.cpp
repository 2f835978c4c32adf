// One report and one front for the largest size from its slices.
#include "enumeration/slice_merge.hpp"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace vok::enumeration {
namespace {

SizeReport summed_report(std::uint32_t size, std::span<const EnumerationResult> parts, double seconds,
                         bool complete) {
    SizeReport sum;
    sum.size = size;
    sum.complete = complete;
    sum.seconds = seconds;
    for (const EnumerationResult& part : parts) {
        if (part.sizes.empty()) throw std::invalid_argument("a slice's result has no size report");
        const SizeReport& r = part.sizes.front();
        sum.complete = sum.complete && r.complete;
        sum.candidates += r.candidates;
        sum.no_value += r.no_value;
        sum.duplicates += r.duplicates;
        sum.distinct += r.distinct;
        sum.scored += r.scored;
        sum.valid += r.valid;
        sum.pruned += r.pruned;
    }
    return sum;
}

}  // namespace

EnumerationResult merge_slices(EnumerationResult local, std::uint32_t size,
                               std::span<const EnumerationResult> parts, std::uint32_t front_size,
                               double seconds, bool complete) {
    if (parts.empty()) throw std::invalid_argument("there is no slice to merge");
    const SizeReport report = summed_report(size, parts, seconds, complete);
    std::vector<FrontMember> members;
    for (const EnumerationResult& part : parts) members.insert(members.end(), part.front.begin(), part.front.end());
    std::stable_sort(members.begin(), members.end(), ranks_before);
    members.resize(std::min<std::size_t>(members.size(), front_size));

    local.front.insert(local.front.end(), std::make_move_iterator(members.begin()),
                       std::make_move_iterator(members.end()));
    local.sizes.push_back(report);
    local.stopped = complete ? StopReason::Complete : StopReason::Interrupted;
    local.evaluations += report.scored;
    local.elapsed += seconds;
    return local;
}

}  // namespace vok::enumeration
