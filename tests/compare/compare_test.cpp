#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "compare/compare.h"
#include "compare/compare_laps.h"

namespace lapquill {
namespace {

using test::DriveProfile;
using test::LapFromArc;
using test::Shape;

// Section times of laps built from double arc lengths stored as float distances: a float's
// resolution at a few hundred metres over a step of 0.2 m moves a crossing by well under 1e-6 s.
constexpr double kTimeTolerance = 1e-5;
// What position alignment must recover of the clean answer.
constexpr double kAlignedTolerance = 0.010;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Laps {
    std::vector<ReplayFile> laps;
    std::vector<std::string> names = {"Turn 1", "Turn 2"};
    std::vector<float> markers = {100.0f, 200.0f};

    Comparison Compare(CompareOptions options = {}) const {
        CompareInput in;
        in.laps = laps;
        in.markerNames = names;
        in.markerDistances = markers;
        return CompareLaps(in, options);
    }
};

// 25 m/s over 0 .. 300 m: 4 s a section between markers at 100 and 200.
std::vector<double> Clean() { return DriveProfile(0, {{25, 300}}); }
// The same lap slowed to 20 m/s between 100 and 200 m: one second lost there.
std::vector<double> SlowMiddle() { return DriveProfile(0, {{25, 100}, {20, 200}, {25, 300}}); }

TEST(LocateCoordinate, EndsInterpolationAndFirstArrival) {
    const std::vector<double> c = {10, 20, 20, 20, 40};
    EXPECT_EQ(LocateCoordinate(c, 5).time, 0.0);
    EXPECT_EQ(LocateCoordinate(c, 10).time, 0.0);
    EXPECT_EQ(LocateCoordinate(c, kNaN).time, 0.0);
    EXPECT_NEAR(LocateCoordinate(c, 15).time, 0.005, 1e-12);
    // A stall: the first moment the lap reaches 20 m, not the last.
    EXPECT_NEAR(LocateCoordinate(c, 20).time, 0.01, 1e-12);
    const CoordinatePoint p = LocateCoordinate(c, 30);
    EXPECT_EQ(p.before, 3);
    EXPECT_EQ(p.after, 4);
    EXPECT_NEAR(p.fraction, 0.5, 1e-12);
    EXPECT_NEAR(p.time, 0.035, 1e-12);
    EXPECT_NEAR(LocateCoordinate(c, 40).time, 0.04, 1e-12);
    EXPECT_NEAR(LocateCoordinate(c, 1e9).time, 0.04, 1e-12);
    const std::vector<double> one = {3};
    EXPECT_EQ(LocateCoordinate(one, 2).time, 0.0);
    EXPECT_EQ(LocateCoordinate(one, 4).time, 0.0);
}

TEST(CoordinateCursor, AnswersAsTheBinarySearchDoesInAnyOrder) {
    std::mt19937 rng(7);
    std::vector<double> c = {0};
    for (int i = 1; i < 5000; ++i) c.push_back(c.back() + (rng() % 4 == 0 ? 0.0 : (rng() % 100) * 0.01));
    std::uniform_real_distribution<double> jump(-10, c.back() + 10);
    CoordinateCursor cursor(c);
    double x = 0;
    for (int k = 0; k < 20000; ++k) {
        // Sweeps forward and back in small steps, with a far jump now and then.
        x = k % 500 == 0 ? jump(rng) : x + ((k / 1000) % 2 ? -0.37 : 0.41);
        const CoordinatePoint a = cursor.Locate(x), b = LocateCoordinate(c, x);
        ASSERT_EQ(a.after, b.after) << "x " << x;
        ASSERT_EQ(a.before, b.before) << "x " << x;
        ASSERT_EQ(a.time, b.time) << "x " << x;
    }
}

TEST(CoordinateCursor, SweepsOntoRecordsStallsAndTheLastRecord) {
    // Every look-up lands on a record's own value, a stall or the stall at the very end, where
    // the answer is the last record itself.
    const std::vector<double> c = {0, 1, 1, 2, 3, 3, 3, 4, 4};
    CoordinateCursor cursor(c);
    std::vector<double> xs;
    for (double x = -1; x <= 5; x += 0.5) xs.push_back(x);
    for (double x = 5; x >= -1; x -= 0.5) xs.push_back(x);
    for (double x : {1.0, 4.0, 3.0, 4.0, 3.5, 4.0}) xs.push_back(x);
    for (double x : xs) {
        const CoordinatePoint a = cursor.Locate(x), b = LocateCoordinate(c, x);
        ASSERT_EQ(a.before, b.before) << "x " << x;
        ASSERT_EQ(a.after, b.after) << "x " << x;
        ASSERT_EQ(a.fraction, b.fraction) << "x " << x;
        ASSERT_EQ(a.time, b.time) << "x " << x;
    }
    EXPECT_EQ(cursor.Locate(4.0).after, 8);
    EXPECT_EQ(cursor.Locate(3.0).after, 4);  // the first record at 3 m, not the last
}

TEST(RisingDistance, HoldsOverFallsNonFiniteValuesAndLeadingGaps) {
    ReplayFile lap = LapFromArc({0, 1, 2, 3, 4, 5});
    lap.records[2].distance = 0.5f;  // falls back
    lap.records[3].distance = std::numeric_limits<float>::infinity();
    EXPECT_EQ(RisingDistance(lap), (std::vector<double>{0, 1, 1, 1, 4, 5}));
    lap.records[0].distance = std::numeric_limits<float>::quiet_NaN();
    lap.records[1].distance = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(RisingDistance(lap), (std::vector<double>{0.5, 0.5, 0.5, 0.5, 4, 5}));
    for (auto& r : lap.records) r.distance = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(RisingDistance(lap), (std::vector<double>(6, 0.0)));
}

TEST(ChannelValue, LinearBetweenRecordsGearAsEngagedEndsAsRecorded) {
    ReplayFile lap = LapFromArc({0, 10, 20});
    lap.records[0].throttle = 0.0f;
    lap.records[1].throttle = 1.0f;
    lap.records[0].gear = 3;
    lap.records[1].gear = 4;
    const std::vector<double> c = RisingDistance(lap);
    const CoordinatePoint mid = LocateCoordinate(c, 2.5);
    EXPECT_NEAR(ChannelValue(lap, mid, Channel::Throttle), 0.25, 1e-9);
    EXPECT_NEAR(ChannelValue(lap, mid, Channel::PositionX), 2.5, 1e-6);
    EXPECT_EQ(ChannelValue(lap, mid, Channel::Gear), 2.0);  // shown gear: stored value - 1
    EXPECT_EQ(ChannelValue(lap, LocateCoordinate(c, 10), Channel::Gear), 3.0);
    EXPECT_EQ(ChannelValue(lap, LocateCoordinate(c, -4), Channel::Throttle), 0.0);
    EXPECT_EQ(ChannelValue(lap, LocateCoordinate(c, 99), Channel::PositionX), 20.0);
}

TEST(CompareLaps, ASlowedSectionLosesItsKnownTimeThere) {
    Laps t;
    t.laps = {LapFromArc(Clean()), LapFromArc(SlowMiddle())};
    const Comparison cmp = t.Compare();
    ASSERT_EQ(cmp.reference, 0);
    EXPECT_EQ(cmp.start, 0.0);
    EXPECT_NEAR(cmp.end, 300.0, 1e-4);
    ASSERT_EQ(cmp.sections.size(), 3u);
    const char* names[] = {"Start", "Turn 1", "Turn 2"};
    const double slowed[] = {4, 5, 4};
    for (std::size_t k = 0; k < 3; ++k) {
        const ComparedSection& s = cmp.sections[k];
        EXPECT_EQ(s.name, names[k]);
        EXPECT_NEAR(s.times[0], 4.0, kTimeTolerance) << s.name;
        EXPECT_NEAR(s.times[1], slowed[k], kTimeTolerance) << s.name;
        EXPECT_NEAR(s.lost[1], slowed[k] - 4.0, kTimeTolerance) << s.name;
        EXPECT_EQ(s.lost[0], 0.0);
    }
    EXPECT_EQ(cmp.sections[1].best, 0);
    ASSERT_TRUE(cmp.sections[1].minSpeed[1].has_value());
    EXPECT_NEAR(*cmp.sections[1].minSpeed[1], 20.0f, 1e-3);
    EXPECT_NEAR(*cmp.sections[0].minSpeed[1], 25.0f, 1e-3);
    EXPECT_NEAR(cmp.laps[1].time, 13.0, kTimeTolerance);
    EXPECT_NEAR(cmp.laps[1].delta, 1.0, kTimeTolerance);
    EXPECT_NEAR(cmp.theoreticalBest, 12.0, 3 * kTimeTolerance);
    // With the slowed lap as the reference the clean one gains the second back.
    const Comparison back = t.Compare({1, AlignMode::Distance});
    EXPECT_NEAR(back.sections[1].lost[0], -1.0, kTimeTolerance);
    EXPECT_EQ(back.sections[1].best, 0);
}

// The sum of a lap's lost times is its delta at E, and the trace, the per-record deltas and
// the single look-ups tell the same story.
TEST(CompareLaps, LostTimesAddUpToTheDeltaAtTheEnd) {
    Laps t;
    t.laps = {LapFromArc(Clean()), LapFromArc(SlowMiddle()),
              LapFromArc(DriveProfile(0, {{30, 50}, {15, 150}, {35, 290}}))};
    const Comparison cmp = t.Compare();
    for (std::size_t b = 0; b < cmp.laps.size(); ++b) {
        double lost = 0;
        for (const ComparedSection& s : cmp.sections) lost += s.lost[b];
        EXPECT_NEAR(lost, cmp.laps[b].delta, 1e-9) << "lap " << b;
        EXPECT_NEAR(DeltaAt(cmp, b, cmp.end), cmp.laps[b].delta, 1e-9) << "lap " << b;
        EXPECT_EQ(DeltaAt(cmp, b, cmp.start), 0.0);
    }
    const DeltaTrace trace = BuildDeltaTrace(cmp, 7.0);
    ASSERT_EQ(trace.distance.size(), 44u);  // 0, 7 .. 294, then E
    EXPECT_EQ(trace.distance[43], cmp.end);
    EXPECT_EQ(trace.distance[42], 294.0);
    for (std::size_t b = 0; b < cmp.laps.size(); ++b) {
        for (std::size_t k = 0; k < trace.distance.size(); ++k) {
            const double x = trace.distance[k];
            ASSERT_EQ(trace.delta[b][k], DeltaAt(cmp, b, x)) << "lap " << b << " at " << x;
            ASSERT_EQ(trace.speed[b][k], LapValueAt(cmp, b, x, Channel::Speed));
        }
        const std::vector<double> perRecord = RecordDeltas(cmp, b);
        for (std::size_t i = 0; i < perRecord.size(); i += 97)
            ASSERT_EQ(perRecord[i], DeltaAt(cmp, b, cmp.laps[b].coordinate[i]));
    }
    // The slowed lap loses 1/20 - 1/25 s per metre in its slow section and nothing elsewhere.
    const std::vector<double> rates = RecordDeltaRates(cmp, 1);
    EXPECT_NEAR(rates[400 + 250], 0.01, 1e-4);  // 150 m
    EXPECT_NEAR(rates[200], 0.0, 1e-6);         // 50 m
}

// The same path (a closed circle) driven by the slowed lap, its distance channel 2 % long and
// offset by 5 m, starting 2 m behind the reference's start and ending 3 m past its finish.
TEST(CompareLaps, PositionAlignmentRecoversTheCleanAnswer) {
    Laps t;
    t.markers = {100.0f, 200.0f, 300.0f};
    t.names = {"Turn 1", "Turn 2", "Turn 3"};
    const auto slowed = DriveProfile(-2, {{25, 100}, {20, 200}, {25, 403}});
    ReplayFile odd = LapFromArc(slowed, Shape::Circle);
    for (auto& r : odd.records) r.distance = r.distance * 1.02f + 5.0f;
    t.laps = {LapFromArc(DriveProfile(0, {{25, 400}}), Shape::Circle),
              LapFromArc(DriveProfile(0, {{25, 100}, {20, 200}, {25, 400}}), Shape::Circle), odd};
    const Comparison clean = t.Compare();
    const Comparison aligned = t.Compare({0, AlignMode::Position});
    ASSERT_EQ(aligned.sections.size(), 4u);
    for (const ComparedSection& s : aligned.sections) {
        const ComparedSection& truth = clean.sections[&s - aligned.sections.data()];
        EXPECT_NEAR(s.times[2], truth.times[1], kAlignedTolerance) << s.name;
        EXPECT_NEAR(s.times[1], truth.times[1], kAlignedTolerance) << s.name;
    }
    // Before the start and past the finish the coordinates go on beyond S and E.
    EXPECT_NEAR(aligned.laps[2].coordinate.front(), -2.0, 0.01);
    EXPECT_NEAR(aligned.laps[2].coordinate.back(), 403.0, 0.01);
    EXPECT_NEAR(aligned.laps[2].startTime, 0.08, 0.001);
    // The distance channel alone gets it wrong by far more.
    EXPECT_GT(std::fabs(clean.sections[1].times[2] - clean.sections[1].times[1]), 0.05);
}

TEST(CompareLaps, OddDistanceChannelsGiveTheirDefinedAnswers) {
    Laps t;
    ReplayFile fallsBack = LapFromArc(Clean());
    for (int i = 300; i < 310; ++i) fallsBack.records[i].distance -= 40.0f;
    ReplayFile nonFinite = LapFromArc(Clean());
    nonFinite.records[50].distance = std::numeric_limits<float>::quiet_NaN();
    nonFinite.records[51].distance = std::numeric_limits<float>::infinity();
    nonFinite.records[52].distance = -std::numeric_limits<float>::infinity();
    // Stopped for two seconds at 150 m.
    std::vector<double> stall = DriveProfile(0, {{25, 150}});
    stall.insert(stall.end(), 200, 150.0);
    const auto rest = DriveProfile(150, {{25, 300}});
    stall.insert(stall.end(), rest.begin() + 1, rest.end());
    // Jumps 125 m ahead for three records at 24.75 m, then carries on.
    ReplayFile jumps = LapFromArc(Clean());
    for (int i = 100; i < 103; ++i) jumps.records[i].distance = 150.0f;
    t.laps = {LapFromArc(Clean()), fallsBack, nonFinite, LapFromArc(stall), jumps,
              LapFromArc(DriveProfile(0, {{25, 250}}))};
    const Comparison cmp = t.Compare();
    ASSERT_EQ(cmp.laps.size(), 6u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(cmp.sections[k].times[1], 4.0, kTimeTolerance);
        EXPECT_NEAR(cmp.sections[k].times[2], 4.0, kTimeTolerance);
    }
    EXPECT_NEAR(cmp.sections[1].times[3], 6.0, kTimeTolerance);
    EXPECT_EQ(*cmp.sections[1].minSpeed[3], 0.0f);
    // The jump: 100 m is first reached between records 99 and 100, and 200 m at record 800.
    const double reach100 = (99 + (100 - 24.75) / (150 - 24.75)) * 0.01;
    EXPECT_NEAR(cmp.sections[0].times[4], reach100, kTimeTolerance);
    EXPECT_NEAR(cmp.sections[1].times[4], 8.0 - reach100, kTimeTolerance);
    EXPECT_NEAR(cmp.laps[4].time, 12.0, kTimeTolerance);
    // Ending early at 250 m: the last record's time stands for every coordinate beyond it.
    EXPECT_NEAR(cmp.sections[2].times[5], 2.0, kTimeTolerance);
    EXPECT_NEAR(*cmp.sections[2].minSpeed[5], 25.0f, 1e-3);
    for (const ComparedSection& s : cmp.sections)
        for (double v : s.times) EXPECT_TRUE(std::isfinite(v));
}

TEST(CompareLaps, OneRecordLapsGiveZeroTimesAndNoMinimumSpeed) {
    Laps t;
    t.laps = {LapFromArc({120.0}), LapFromArc(Clean())};
    const Comparison asReference = t.Compare();
    EXPECT_EQ(asReference.start, 120.0);
    EXPECT_EQ(asReference.end, 120.0);
    ASSERT_EQ(asReference.sections.size(), 1u);
    EXPECT_EQ(asReference.sections[0].name, "Turn 1");
    EXPECT_EQ(asReference.sections[0].times, (std::vector<double>{0, 0}));
    EXPECT_EQ(BuildDeltaTrace(asReference, 1.0).distance, (std::vector<double>{120.0}));
    const Comparison against = t.Compare({1, AlignMode::Position});
    EXPECT_EQ(against.laps[0].time, 0.0);
    EXPECT_FALSE(against.sections[0].minSpeed[0].has_value());
    ASSERT_TRUE(against.sections[1].minSpeed[0].has_value());  // it stands at 120 m
    EXPECT_NEAR(against.laps[0].delta, -12.0, kTimeTolerance);
}

TEST(CompareLaps, MarkersOutOfOrderDuplicatedOrOutsideTheLap) {
    Laps t;
    t.laps = {LapFromArc(Clean())};
    t.names = {"B", "A", "A again", "Behind", "At start", "Past", "Nowhere"};
    t.markers = {200, 100, 100, -5, 0, 500, std::numeric_limits<float>::quiet_NaN()};
    const Comparison cmp = t.Compare();
    ASSERT_EQ(cmp.sections.size(), 3u);
    EXPECT_EQ(cmp.sections[0].name, "At start");
    EXPECT_EQ(cmp.sections[1].name, "A");
    EXPECT_EQ(cmp.sections[1].start, 100.0);
    EXPECT_EQ(cmp.sections[2].name, "B");
    EXPECT_NEAR(cmp.sections[2].end, 300.0, 1e-4);
    t.markers = {};
    const Comparison none = t.Compare();
    ASSERT_EQ(none.sections.size(), 1u);
    EXPECT_EQ(none.sections[0].name, "Start");
}

TEST(ResolveReference, SlotFastestAndNone) {
    std::vector<ReplayFile> laps = {LapFromArc({0, 1}, Shape::Straight, {}),
                                    LapFromArc({0, 1}, Shape::Straight, {5000, 9000}),
                                    LapFromArc({0, 1}, Shape::Straight, {3000, 8000}),
                                    LapFromArc({0, 1}, Shape::Straight, {8000})};
    EXPECT_EQ(ResolveReference(laps, 3), 3);
    EXPECT_EQ(ResolveReference(laps, 4), -1);
    EXPECT_EQ(ResolveReference(laps, kFastestReference), 2);  // 8000 ties: the lower slot
    laps[2] = LapFromArc({0, 1}, Shape::Straight, {0});
    EXPECT_EQ(ResolveReference(laps, kFastestReference), 3);
    const std::vector<ReplayFile> untimed = {LapFromArc({0, 1}, Shape::Straight, {}),
                                             LapFromArc({0, 1}, Shape::Straight, {-4})};
    EXPECT_EQ(ResolveReference(untimed, kFastestReference), 0);
    EXPECT_EQ(ResolveReference({}, kFastestReference), -1);
    CompareInput in;
    in.laps = laps;
    EXPECT_TRUE(CompareLaps(in, {7, AlignMode::Distance}).Empty());
}

}  // namespace
}  // namespace lapquill
