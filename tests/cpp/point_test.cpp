// Point, knot and pulse-trajectory maths: exact bits (the texts are tested from Python).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

#include "test_values.hpp"
#include "values/knot/knot.hpp"
#include "values/point/point.hpp"

namespace vok {
namespace {

using namespace vok::test;  // kNaN, kInf, bits

constexpr double kE = 2.718281828459045;
constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();

#define EXPECT_BITS(a, b) EXPECT_EQ(bits(a), bits(b)) << (a) << " vs " << (b)

struct TensionCase {
    Point p;
    double tension;
    bool slipping;
};
class PointTension : public testing::TestWithParam<TensionCase> {};

TEST_P(PointTension, MatchesGuardedOperator) {
    const auto& c = GetParam();
    EXPECT_BITS(tension(c.p), c.tension);
    EXPECT_EQ(is_slipping(c.p), c.slipping);
}
INSTANTIATE_TEST_SUITE_P(Examples, PointTension,
                         testing::Values(TensionCase{{0, 1}, 1.0, false},
                                         TensionCase{{1, 1}, kE, false},
                                         TensionCase{{0, 0}, 691.7755278982137, false},
                                         TensionCase{{0, -0.0}, 691.7755278982137, false},
                                         TensionCase{{0, -kE}, 0.0, false},
                                         TensionCase{{710, 1}, 710.0000000000002, true},
                                         TensionCase{{709.78, 1}, 1.7928227943945155e308, false},
                                         TensionCase{{kNaN, 1}, kNaN, false},
                                         TensionCase{{kInf, 1}, kInf, true}));

TEST(Point, MirrorPulseChainsClampedYIntoX) {
    Point p{0, 1};
    const Point expected[] = {{1.0, 1.0}, {1.0, kE}, {kE, 1.718281828459045}};
    for (const Point& e : expected) {
        p = mirror_pulse(p);
        EXPECT_BITS(p.x, e.x);
        EXPECT_BITS(p.y, e.y);
    }
    const Point negative = mirror_pulse(Point{0, -2.0});
    EXPECT_BITS(negative.x, 2.0);
}

TEST(Point, FrameShiftFloorsTinyAndNaN) {
    const Point nan_y{0.5, kNaN};
    EXPECT_TRUE(std::isnan(mirror_pulse(nan_y).x));
    const Point shifted = frame_shift(nan_y);
    EXPECT_BITS(shifted.x, 1e-300);
    EXPECT_BITS(shifted.y, std::exp(0.5) + 690.7755278982137);

    const Point subnormal{0, 1e-310};
    EXPECT_BITS(mirror_pulse(subnormal).x, 1e-310);
    EXPECT_BITS(frame_shift(subnormal).x, 1e-300);
    // Elsewhere the two steps agree bit for bit.
    for (const Point p : {Point{1, 3}, Point{-2, -0.5}, Point{800, 0.0}}) {
        EXPECT_BITS(frame_shift(p).x, mirror_pulse(p).x);
        EXPECT_BITS(frame_shift(p).y, mirror_pulse(p).y);
    }
}

struct ConserveCase {
    double self_x, next_y, tol;
    bool expected;
};
class PointConserves : public testing::TestWithParam<ConserveCase> {};

TEST_P(PointConserves, ResidueAgainstTolerance) {
    const auto& c = GetParam();
    // next.x and self.y take no part.
    EXPECT_EQ(conserves_tension(Point{c.self_x, kNaN}, Point{kNaN, c.next_y}, c.tol), c.expected);
}
INSTANTIATE_TEST_SUITE_P(
    Examples, PointConserves,
    testing::Values(ConserveCase{kInf, 1, 0, true}, ConserveCase{kNaN, kNaN, -1, true},
                    ConserveCase{1, 2, 0, false}, ConserveCase{1, 2, -1, false},
                    ConserveCase{1, 2, 1e-12, true}, ConserveCase{1, kInf, 1e300, false},
                    ConserveCase{1, kNaN, 1e300, false}, ConserveCase{1, 2, kNaN, false},
                    // exp(ln 0.1) against ln 3 leaves a residue of 4.16e-17.
                    ConserveCase{std::log(0.1), 3, 1e-17, false},
                    ConserveCase{std::log(0.1), 3, 1e-16, true}));

TEST(Knot, PhaseIsReducedKeepingSign) {
    const Point p{0, 1};
    EXPECT_BITS(make_knot(p, 0, -1).phase, -1.0);
    EXPECT_BITS(make_knot(p, 0, 7).phase, 0.7168146928204138);
    EXPECT_BITS(make_knot(p, 0, -7).phase, -0.7168146928204138);
    EXPECT_BITS(make_knot(p, 0, kTwoPi).phase, 0.0);
    EXPECT_BITS(make_knot(p, 0, -0.0).phase, -0.0);
    const Knot spun = mirror_pulse(make_knot(p, 0, kInf));
    EXPECT_TRUE(std::isnan(spun.phase));
    EXPECT_TRUE(std::isnan(three_one_flip(spun).phase));
}

TEST(Knot, PulsesAdvancePointCounterAndPhase) {
    const Knot k = make_knot({0, 1}, 0, 0.0);
    Knot step = k;
    const double phases[] = {1.5707963267948966, 3.141592653589793, 4.71238898038469, 0.0};
    for (int i = 0; i < 4; ++i) {
        step = mirror_pulse(step);
        EXPECT_EQ(step.flip_count, i + 1);
        EXPECT_BITS(step.phase, phases[i]);
    }
    // A flip is four pulses at once (its values are checked through the module).
    const Knot flipped = three_one_flip(k);
    EXPECT_BITS(flipped.point.x, step.point.x);
    EXPECT_BITS(flipped.point.y, step.point.y);
    EXPECT_BITS(flipped.phase, step.phase);
    EXPECT_EQ(flipped.flip_count, step.flip_count);
}

TEST(Knot, CounterWrapsAndYieldTruncates) {
    const Point p{0, 1};
    EXPECT_EQ(mirror_pulse(make_knot(p, kMax64, 0)).flip_count, kMin64);
    EXPECT_EQ(three_one_flip(make_knot(p, kMax64 - 1, 0)).flip_count, kMin64 + 2);
    const std::pair<std::int64_t, std::int64_t> yields[] = {{0, 0},
                                                            {3, 0},
                                                            {-1, 0},
                                                            {-3, 0},
                                                            {4, 2},
                                                            {7, 2},
                                                            {-4, -2},
                                                            {-5, -2},
                                                            {-7, -2},
                                                            {kMax64, kMax64 / 4 * 2},
                                                            {kMin64, kMin64 / 2}};
    for (const auto& [n, y] : yields) EXPECT_EQ(tread_yield(make_knot(p, n, 0)), y) << n;
}

TEST(Simulate, AgreesWithRepeatedMirrorPulse) {
    // Starts that cross the floor, the slip branch, NaN and infinity.
    for (const Point start : {Point{0, 1}, Point{0, -1}, Point{0.5, -3}, Point{0, 1e-310},
                              Point{720, 2}, Point{1, kNaN}, Point{-kInf, 0.0}}) {
        const auto t = simulate_pulses(start.x, start.y, 12);
        ASSERT_EQ(t.size(), 13u);
        Point p = start;
        for (const PulseRecord& record : t) {
            EXPECT_BITS(record[0], p.x);
            EXPECT_BITS(record[1], p.y);
            EXPECT_BITS(record[2], tension(p));
            p = mirror_pulse(p);
        }
    }
    EXPECT_EQ(simulate_pulses(2, 3, 0).size(), 1u);
}

TEST(Simulate, RefusesCountsBeforeReserving) {
    EXPECT_THROW((void)pulse_record_count(kMaxPulseRecords), std::length_error);
    EXPECT_THROW((void)pulse_record_count(std::uint64_t{1} << 62), std::length_error);
    EXPECT_THROW((void)pulse_record_count(std::numeric_limits<std::uint64_t>::max()),
                 std::length_error);
    try {
        (void)simulate_pulses(0, 1, std::uint64_t{1} << 62);
        ADD_FAILURE();
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "capacity overflow");
    }
    // Below the limit but beyond any machine's memory: bad_alloc, not an abort.
    EXPECT_THROW((void)simulate_pulses(0, 1, kMaxPulseRecords - 1), std::bad_alloc);
    EXPECT_THROW((void)simulate_pulses(0, 1, 1'000'000'000'000'000), std::bad_alloc);
    EXPECT_EQ(pulse_record_count(9), 10u);
}

}  // namespace
}  // namespace vok
