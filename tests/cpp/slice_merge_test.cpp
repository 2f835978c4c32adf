// A split run's slices merged: ties of sse go by slot order whatever the
// slices' order, the slices' counts add up, and the stop reason follows.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "enumeration/slice_merge.hpp"

namespace vok::enumeration {
namespace {

FrontMember member(double sse, std::uint64_t order) {
    FrontMember m;
    m.size = 4;
    m.sse = sse;
    m.order = order;
    return m;
}

EnumerationResult slice(std::vector<FrontMember> front, std::uint64_t scored, bool complete) {
    EnumerationResult r;
    r.front = std::move(front);
    SizeReport report;
    report.size = 4;
    report.complete = complete;
    report.candidates = 2 * scored;
    report.scored = scored;
    report.valid = 1;
    r.sizes = {report};
    return r;
}

std::vector<std::uint64_t> orders(const EnumerationResult& r) {
    std::vector<std::uint64_t> out;
    for (const FrontMember& m : r.front) out.push_back(m.order);
    return out;
}

TEST(SliceMerge, RanksBySseThenSlotInAnySliceOrder) {
    EnumerationResult local;
    local.front = {member(9.0, 0)};
    local.evaluations = 10;
    local.elapsed = 1.0;
    const std::vector<EnumerationResult> slices{
        slice({member(2.0, 70000), member(1.0, 70001)}, 5, true),
        slice({member(2.0, 3), member(3.0, 4)}, 7, true)};
    const std::vector<EnumerationResult> reversed{slices[1], slices[0]};
    for (const auto& s : {slices, reversed}) {
        const EnumerationResult r = merge_slices(local, 4, s, 3, 0.5, true);
        EXPECT_EQ(orders(r), (std::vector<std::uint64_t>{0, 70001, 3, 70000}));
        ASSERT_EQ(r.sizes.size(), 1u);
        EXPECT_EQ(r.sizes[0].candidates, 24u);
        EXPECT_EQ(r.sizes[0].valid, 2u);
        EXPECT_TRUE(r.sizes[0].complete);
        EXPECT_EQ(r.evaluations, 22u);
        EXPECT_EQ(r.elapsed, 1.5);
        EXPECT_EQ(r.stopped, StopReason::Complete);
    }
}

TEST(SliceMerge, AnUnfinishedSliceOrRunLeavesTheSizeIncomplete) {
    const std::vector<EnumerationResult> slices{slice({}, 1, true),
                                                slice({member(1.0, 5)}, 1, false)};
    EXPECT_FALSE(merge_slices({}, 4, slices, 10, 0.0, true).sizes[0].complete);
    const EnumerationResult stopped =
        merge_slices({}, 4, std::span(slices).first(1), 10, 0.0, false);
    EXPECT_FALSE(stopped.sizes[0].complete);
    EXPECT_EQ(stopped.stopped, StopReason::Interrupted);
    EXPECT_THROW((void)merge_slices({}, 4, {}, 1, 0.0, true), std::invalid_argument);
}

}  // namespace
}  // namespace vok::enumeration
