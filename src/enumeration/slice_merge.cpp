// One report and one front for the largest size from its slices.
#include "enumeration/slice_merge.hpp"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace vok::enumeration {
namespace {

SizeReport summed_report(std::uint32_t size, std::span<const EnumerationResult> slices,
                         double seconds, bool complete) {
    SizeReport sum;
    sum.size = size;
    sum.complete = complete;
    sum.seconds = seconds;
    for (const EnumerationResult& slice : slices) {
        if (slice.sizes.empty()) throw std::invalid_argument("a slice's result has no size report");
        const SizeReport& r = slice.sizes.front();
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
                               std::span<const EnumerationResult> slices, std::uint32_t front_size,
                               double seconds, bool complete) {
    if (slices.empty()) throw std::invalid_argument("there is no slice to merge");
    const SizeReport report = summed_report(size, slices, seconds, complete);
    std::vector<FrontMember> members;
    for (const EnumerationResult& slice : slices)
        members.insert(members.end(), slice.front.begin(), slice.front.end());
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
