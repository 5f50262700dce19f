// The numbers behind the desktop's traces and sections panes: sampled curves in the user's
// units, the cursor's distance and the playback time a click asks for, segment ranges, zoom and
// pan, the section cell marks and order, the sections' CSV and the export file names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "analysis/segments.h"
#include "compare/compare.h"
#include "compare/compare_laps.h"
#include "compare/export_table.h"
#include "compare/lap_traces.h"
#include "compare/section_table.h"

namespace lapquill {
namespace {

using test::DriveProfile;
using test::LapFromArc;

// 25 m/s over 0 .. 300 m; the slow lap drops to 20 m/s between 100 and 200 m (1 s lost there).
struct TwoLaps {
    std::vector<ReplayFile> laps = {LapFromArc(DriveProfile(0, {{25, 300}})),
                                    LapFromArc(DriveProfile(0, {{25, 100}, {20, 200}, {25, 300}}))};
    std::vector<std::string> titles = {"clean", "slow"};
    std::vector<std::string> names = {"Turn 1", "Turn 2"};
    std::vector<float> markers = {100.0f, 200.0f};

    Comparison Compare(std::int32_t reference = 0) const {
        CompareInput in;
        in.laps = laps;
        in.titles = titles;
        in.markerNames = names;
        in.markerDistances = markers;
        return CompareLaps(in, {reference, AlignMode::Distance});
    }
};

std::size_t Nearest(const LapTraces& t, double shown) {
    std::size_t best = 0;
    for (std::size_t k = 0; k < t.distance.size(); ++k) {
        if (std::abs(t.distance[k] - shown) < std::abs(t.distance[best] - shown)) best = k;
    }
    return best;
}

TEST(LapTraces, CurvesCarryTheDeltaAndChannelsInTheUsersUnits) {
    const TwoLaps t;
    const Comparison cmp = t.Compare();
    const LapTraces whole = BuildLapTraces(cmp, WholeLapRange(cmp), 300, DisplayUnits{});
    ASSERT_EQ(whole.reference, 0);
    ASSERT_EQ(whole.distance.size(), 601u);  // two points a column and the end
    EXPECT_DOUBLE_EQ(whole.distance.front(), 0.0);
    EXPECT_NEAR(whole.distance.back(), 300.0, 1e-3);
    const auto delta = [&](std::size_t lap, double x) {
        return whole.values[static_cast<std::size_t>(TraceKind::Delta)][lap][Nearest(whole, x)];
    };
    // Halfway through the slow stretch the slow lap is half a second behind, at the end one.
    EXPECT_NEAR(delta(1, 150), 0.5, 1e-3);
    EXPECT_NEAR(delta(1, 300), 1.0, 1e-3);
    EXPECT_NEAR(delta(1, 50), 0.0, 1e-3);
    EXPECT_NEAR(delta(0, 150), 0.0, 1e-12);
    const std::size_t at150 = Nearest(whole, 150);
    EXPECT_NEAR(whole.values[static_cast<std::size_t>(TraceKind::Speed)][1][at150], 72.0, 0.1);
    EXPECT_NEAR(whole.values[static_cast<std::size_t>(TraceKind::Speed)][0][at150], 90.0, 0.1);
    EXPECT_NEAR(whole.values[static_cast<std::size_t>(TraceKind::Throttle)][0][at150], 100.0, 1e-9);
    EXPECT_NEAR(whole.values[static_cast<std::size_t>(TraceKind::Brake)][0][at150], 0.0, 1e-9);
    EXPECT_EQ(whole.values[static_cast<std::size_t>(TraceKind::Gear)][0][at150], 3.0);

    // Kilometres and miles per hour; a window's curves cover it and a third of it either side,
    // clamped to the lap.
    DisplayUnits imperial;
    imperial.distanceUnit = 1;
    imperial.speedUnit = 1;
    const LapTraces part = BuildLapTraces(cmp, {100, 160}, 60, imperial);
    EXPECT_NEAR(part.distance.front(), 0.080, 1e-9);
    EXPECT_NEAR(part.distance.back(), 0.180, 1e-9);
    EXPECT_NEAR(part.values[static_cast<std::size_t>(TraceKind::Speed)][0][Nearest(part, 0.15)],
                90.0 * 0.621371, 0.1);
    const LapTraces edge = BuildLapTraces(cmp, {0, 30}, 60, DisplayUnits{});
    EXPECT_DOUBLE_EQ(edge.distance.front(), 0.0);
    EXPECT_NEAR(edge.distance.back(), 40.0, 1e-9);

    // Readout values agree with the sampled curves.
    const auto at = TraceValuesAt(cmp, 150.0, DisplayUnits{});
    EXPECT_NEAR(at[static_cast<std::size_t>(TraceKind::Delta)][1], 0.5, 1e-3);
    EXPECT_NEAR(at[static_cast<std::size_t>(TraceKind::Speed)][1], 72.0, 0.1);
    // No laps, no curves.
    EXPECT_TRUE(BuildLapTraces(Comparison{}, {0, 10}, 10, DisplayUnits{}).distance.empty());
}

// Columns 30 m wide over a 3000 m lap at 25 m/s (a record every 25 cm). Lap 0 brakes hard
// for three records around 1234.5 m and drops a gear for one; lap 1 crawls through
// 1500 .. 1510 m and makes it up by 1530 m, so its delta rises to 0.4 s and falls back inside
// one column. Plain samples at each column's start and middle (1230, 1245; 1500, 1515 m) would
// miss all three.
TEST(LapTraces, EveryColumnKeepsTheExtremesOfTheRecordsInsideIt) {
    std::vector<ReplayFile> laps = {
        LapFromArc(DriveProfile(0, {{25, 3000}})),
        LapFromArc(DriveProfile(0, {{25, 1500}, {12.5, 1510}, {50, 1530}, {25, 3000}}))};
    for (ReplayRecord& r : laps[0].records) {
        if (std::abs(r.distance - 1234.5) < 0.3) r.brake = 1.0f, r.throttle = 0.0f;
    }
    laps[0].records[static_cast<std::size_t>(1234.5 / 0.25)].gear = 2;
    CompareInput in;
    in.laps = laps;
    const Comparison cmp = CompareLaps(in, {0, AlignMode::Distance});
    const LapTraces t = BuildLapTraces(cmp, WholeLapRange(cmp), 100, DisplayUnits{});
    ASSERT_EQ(t.distance.size(), 201u);
    const auto& brake = t.values[static_cast<std::size_t>(TraceKind::Brake)][0];
    const auto& throttle = t.values[static_cast<std::size_t>(TraceKind::Throttle)][0];
    const auto& gear = t.values[static_cast<std::size_t>(TraceKind::Gear)][0];
    const auto& delta = t.values[static_cast<std::size_t>(TraceKind::Delta)][1];
    // Column 41 starts at 1230 m: off the brake at its start, then the spike.
    EXPECT_DOUBLE_EQ(t.distance[82], 1230.0);
    EXPECT_DOUBLE_EQ(brake[82], 0.0);
    EXPECT_DOUBLE_EQ(brake[83], 100.0);
    EXPECT_DOUBLE_EQ(throttle[82], 100.0);  // the highest first: it comes before the lift
    EXPECT_DOUBLE_EQ(throttle[83], 0.0);
    EXPECT_EQ(*std::min_element(gear.begin(), gear.end()), 1.0);
    // Elsewhere the curves stay flat.
    EXPECT_DOUBLE_EQ(*std::max_element(brake.begin(), brake.begin() + 82), 0.0);
    EXPECT_DOUBLE_EQ(*std::max_element(brake.begin() + 84, brake.end()), 0.0);
    // Column 50 (1500 .. 1530 m) holds the whole loss and its recovery: 0 first, then 0.4 s.
    EXPECT_NEAR(delta[100], 0.0, 1e-9);
    EXPECT_NEAR(delta[101], 0.4, 1e-3);
    EXPECT_NEAR(delta[102], 0.0, 1e-3);
    EXPECT_NEAR(*std::max_element(delta.begin(), delta.end()), 0.4, 1e-3);
    // The reference's own delta is zero throughout.
    for (double d : t.values[static_cast<std::size_t>(TraceKind::Delta)][0]) ASSERT_EQ(d, 0.0);
}

// A plot draws a thinned curve: a long flat stretch, a ramp, a bend, a one-point spike and a
// gap. Every point left out must lie within the tolerance (in pixels) of the line drawn
// through the points kept around it; the spike, the gap and its edge must stay.
TEST(LapTraces, PointsToDrawThinCurvesOnlyWhereTheLineDoesNotMove) {
    std::vector<double> keys, values;
    for (int i = 0; i < 400; ++i) {
        keys.push_back(i * 0.5);
        double v = 10.0;                                   // flat
        if (i >= 100) v = 10.0 + 0.2 * (i - 100);          // ramp
        if (i >= 200) v = 30.0 + 5.0 * std::sin((i - 200) * 0.05);  // bend
        if (i == 250) v = 90.0;                            // spike
        if (i >= 300) v = 20.0;
        if (i == 350) v = std::nan("");                    // gap
        values.push_back(v);
    }
    const double keyPixels = 2.0, valuePixels = 1.5, tolerance = 0.33;
    const std::vector<std::uint32_t> keep =
        PointsToDraw(keys, values, keyPixels, valuePixels, tolerance);
    ASSERT_GE(keep.size(), 2u);
    EXPECT_EQ(keep.front(), 0u);
    EXPECT_EQ(keep.back(), 399u);
    EXPECT_LT(keep.size(), 120u);  // the flat, the ramp and the last stretch thin out
    const auto kept = [&](std::uint32_t i) {
        return std::find(keep.begin(), keep.end(), i) != keep.end();
    };
    EXPECT_TRUE(kept(250));
    EXPECT_TRUE(kept(349));
    EXPECT_TRUE(kept(350));
    for (std::size_t j = 0; j + 1 < keep.size(); ++j) {
        ASSERT_LT(keep[j], keep[j + 1]);
        const std::uint32_t a = keep[j], b = keep[j + 1];
        if (std::isnan(values[a]) || std::isnan(values[b])) continue;
        for (std::uint32_t i = a + 1; i < b; ++i) {
            const double t = (keys[i] - keys[a]) / (keys[b] - keys[a]);
            const double line = values[a] + t * (values[b] - values[a]);
            ASSERT_LE(std::abs(line - values[i]) * valuePixels, tolerance + 1e-9) << i;
        }
    }
    // Drawn as stairs (the gear), only repeated values go.
    const std::vector<double> gears = {3, 3, 3, 3, 4, 4, 4, 3, 3};
    const std::vector<std::uint32_t> stairs =
        PointsToDraw(std::vector<double>(keys.begin(), keys.begin() + 9), gears, 1, 1, 0, true);
    EXPECT_EQ(stairs, (std::vector<std::uint32_t>{0, 3, 4, 6, 7, 8}));
}

TEST(LapTraces, CursorAndClickMapPlaybackTimeToTheReferenceDistanceInEverySyncMode) {
    const TwoLaps t;
    const Comparison cmp = t.Compare();
    SegmentData seg;
    RecomputeSegments(t.laps, {}, t.markers, &seg);
    // The clean lap covers 0.25 m a record.
    EXPECT_NEAR(ReferenceDistanceAt(cmp, seg, SyncMode::Lap, 400), 100.0, 1e-3);
    EXPECT_EQ(PlaybackTimeAtDistance(cmp, seg, SyncMode::Lap, 100.0), 400);
    EXPECT_EQ(PlaybackTimeAtDistance(cmp, seg, SyncMode::Lap, 100.1), 400);   // nearest record
    EXPECT_EQ(PlaybackTimeAtDistance(cmp, seg, SyncMode::Lap, 100.2), 401);
    EXPECT_EQ(PlaybackTimeAtDistance(cmp, seg, SyncMode::Lap, -50.0), 0);

    // In the segment modes the time counts from the segment's sync point and stays inside it.
    seg.currentSegment = 1;  // from the marker at 200 m to the end
    EXPECT_EQ(PlaybackTimeAtDistance(cmp, seg, SyncMode::SegmentMarker, 250.0), 200);
    EXPECT_EQ(PlaybackTimeAtDistance(cmp, seg, SyncMode::SegmentMarker, 50.0), 0);
    EXPECT_NEAR(ReferenceDistanceAt(cmp, seg, SyncMode::SegmentMarker, 200), 250.0, 1e-3);
    seg.currentSegment = 0;  // 100 .. 200 m
    EXPECT_EQ(PlaybackTimeAtDistance(cmp, seg, SyncMode::SegmentMarker, 280.0), 399);

    const DistanceRange first = SegmentDistanceRange(cmp, seg, 0);
    EXPECT_NEAR(first.lo, 100.0, 1e-3);
    EXPECT_NEAR(first.hi, 199.75, 1e-3);
    const DistanceRange last = SegmentDistanceRange(cmp, seg, 1);
    EXPECT_NEAR(last.lo, 200.0, 1e-3);
    EXPECT_NEAR(last.hi, 300.0, 1e-3);

    // The slow lap as reference: its own distance at its own records.
    const Comparison slow = t.Compare(1);
    seg.currentSegment = 1;
    const double x = ReferenceDistanceAt(slow, seg, SyncMode::SegmentMarker, 100);
    EXPECT_NEAR(x, 225.0, 1e-3);
    EXPECT_EQ(PlaybackTimeAtDistance(slow, seg, SyncMode::SegmentMarker, x), 100);
    // Segment data for no lap yet (a set being replaced) falls back to lap time.
    EXPECT_EQ(PlaybackTimeAtDistance(cmp, SegmentData{}, SyncMode::SegmentMarker, 100.0), 400);
}

TEST(LapTraces, ZoomKeepsTheAnchorAndPanStopsAtTheEnds) {
    const DistanceRange whole{0, 1000};
    const DistanceRange z = ZoomRange({0, 1000}, 250, 0.5, whole);
    EXPECT_DOUBLE_EQ(z.Width(), 500);
    // 250 m stays a quarter of the way across.
    EXPECT_DOUBLE_EQ((250 - z.lo) / z.Width(), 0.25);
    // Out again as far as the whole lap and no further; never narrower than a metre.
    const DistanceRange out = ZoomRange(z, 250, 10, whole);
    EXPECT_DOUBLE_EQ(out.lo, 0);
    EXPECT_DOUBLE_EQ(out.hi, 1000);
    EXPECT_DOUBLE_EQ(ZoomRange({10, 12}, 11, 0.01, whole).Width(), 1.0);
    // Zooming near an end moves the window back inside.
    const DistanceRange nearEnd = ZoomRange({900, 1000}, 990, 1.5, whole);
    EXPECT_DOUBLE_EQ(nearEnd.hi, 1000);
    EXPECT_DOUBLE_EQ(nearEnd.Width(), 150);
    // Nonsense factors leave the width alone.
    EXPECT_DOUBLE_EQ(ZoomRange({100, 200}, 150, std::nan(""), whole).Width(), 100);
    EXPECT_DOUBLE_EQ(ZoomRange({100, 200}, 150, -2, whole).Width(), 100);

    EXPECT_DOUBLE_EQ(PanRange({100, 200}, 50, whole).lo, 150);
    EXPECT_DOUBLE_EQ(PanRange({100, 200}, -500, whole).lo, 0);
    EXPECT_DOUBLE_EQ(PanRange({100, 200}, 5000, whole).hi, 1000);
    EXPECT_DOUBLE_EQ(PanRange({100, 200}, 5000, whole).Width(), 100);

    EXPECT_NEAR(FromDisplayDistance(ToDisplayDistance(1234.5, {2, 0, 0}), {2, 0, 0}), 1234.5, 1e-9);
    EXPECT_NEAR(ToDisplayDistance(1609.344, {2, 0, 0}), 1.0, 1e-12);
}

// The value labels' step: the smallest allowed step that keeps to the count, on named cases and
// on random ranges against a plain search through every allowed step.
TEST(ValueTickStep, SmallestStepThatKeepsToTheCount) {
    struct Row {
        const char* name;
        double lo, hi;
        int maxTicks;
        double minimum;
        bool integers;
        double step;
    };
    const Row rows[] = {
        {"pedals, three", -5, 105, 3, 50, false, 50},  // 0, 50, 100
        {"pedals, two", -5, 105, 2, 50, false, 100},   // 0, 100
        {"pedals, one", -5, 105, 1, 50, false, 200},   // 0
        {"gears, three", -0.5, 6.5, 3, 0, true, 3},    // 0, 3, 6
        {"gears, two", -0.5, 6.5, 2, 0, true, 4},      // 0, 4
        {"steering", -170, 90, 3, 0, false, 100},      // -100, 0 (50 would give five)
        {"delta", -0.3, 1.2, 3, 0, false, 0.5},        // 0, 0.5, 1
        {"empty range", 3, 3, 3, 50, false, 50},
        {"not a number", std::nan(""), 1, 3, 2, false, 2},
    };
    for (const Row& r : rows) {
        EXPECT_DOUBLE_EQ(ValueTickStep(r.lo, r.hi, r.maxTicks, r.minimum, r.integers), r.step)
            << r.name;
    }

    // The multiples of step in [lo, hi], counted one by one up to one past the limit.
    const auto inside = [](double lo, double hi, double step, int limit) {
        int n = 0;
        for (double k = std::ceil(lo / step); k * step <= hi && n <= limit; ++k) ++n;
        return n;
    };
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(seed >> 8) / static_cast<double>(1u << 24);
    };
    for (int trial = 0; trial < 2000; ++trial) {
        const bool integers = trial % 3 == 0;
        // Whole-number steps are for gears: ranges of a few to a thousand.
        const double scale = integers ? std::pow(10.0, std::floor(next() * 3.0))
                                      : std::pow(10.0, std::floor(next() * 8.0) - 3.0);
        const double lo = (next() - 0.5) * 10.0 * scale;
        const double hi = lo + (0.05 + next() * 10.0) * scale;
        const int maxTicks = 1 + trial % 3;
        const double minimum = trial % 5 == 0 ? 50.0 : 0.0;
        const double got = ValueTickStep(lo, hi, maxTicks, minimum, integers);
        // Every allowed step, rising, up to the first that keeps to the count.
        double expected = 0;
        if (integers) {
            for (double s = std::max(1.0, minimum);; s += 1.0) {
                if (inside(lo, hi, s, maxTicks) <= maxTicks) {
                    expected = s;
                    break;
                }
            }
        } else {
            for (double decade = 1e-6; expected == 0; decade *= 10.0) {
                for (const double m : {1.0, 2.0, 5.0}) {
                    const double s = m * decade;
                    if (s >= minimum && inside(lo, hi, s, maxTicks) <= maxTicks) {
                        expected = s;
                        break;
                    }
                }
            }
        }
        ASSERT_NEAR(got, expected, expected * 1e-9)
            << "range " << lo << " .. " << hi << ", at most " << maxTicks << ", minimum "
            << minimum << (integers ? ", whole numbers" : "");
    }
}

TEST(ValueTicksThatFit, OneToThreeLabelsWithAThirdOfOneBetween) {
    EXPECT_EQ(ValueTicksThatFit(0, 15), 1);
    EXPECT_EQ(ValueTicksThatFit(34, 15), 1);   // two need 35 pixels
    EXPECT_EQ(ValueTicksThatFit(35, 15), 2);
    EXPECT_EQ(ValueTicksThatFit(54, 15), 2);   // three need 55
    EXPECT_EQ(ValueTicksThatFit(55, 15), 3);
    EXPECT_EQ(ValueTicksThatFit(1000, 15), 3);
    EXPECT_EQ(ValueTicksThatFit(40, 0), 3);
}

TEST(SectionTable, MarksOrderMarkersAndCsv) {
    TwoLaps t;
    // A third lap a tenth faster than the clean one in the last section: 25 -> 25.641 m/s.
    t.laps.push_back(LapFromArc(DriveProfile(0, {{25, 200}, {100.0 / 3.9, 300}})));
    t.titles.push_back("quick, end");
    const Comparison cmp = t.Compare();
    ASSERT_EQ(cmp.sections.size(), 3u);

    const SectionCellMark refCell = MarkSectionCell(cmp, 1, 0);
    EXPECT_TRUE(refCell.reference);
    EXPECT_TRUE(refCell.best);  // tied with the third lap; ties go to the lower slot
    EXPECT_EQ(MarkSectionCell(cmp, 1, 1).versus, Versus::Slower);
    EXPECT_FALSE(MarkSectionCell(cmp, 1, 1).best);
    EXPECT_EQ(MarkSectionCell(cmp, 1, 2).versus, Versus::Level);
    const SectionCellMark quick = MarkSectionCell(cmp, 2, 2);
    EXPECT_TRUE(quick.best);
    EXPECT_EQ(quick.versus, Versus::Faster);
    EXPECT_FALSE(MarkSectionCell(cmp, 2, 0).best);
    EXPECT_EQ(VersusReference(std::nan("")), Versus::Level);

    // Where the slow lap loses most comes first; the quick lap's gain sorts its section last.
    const std::vector<std::size_t> slow = SectionsByLoss(cmp, 1);
    EXPECT_EQ(slow.front(), 1u);
    const std::vector<std::size_t> quickOrder = SectionsByLoss(cmp, 2);
    EXPECT_EQ(quickOrder.back(), 2u);
    EXPECT_EQ(SectionsByLoss(cmp, 9), (std::vector<std::size_t>{0, 1, 2}));

    // The segment each section starts: by the marker at its start, in file order.
    const std::vector<float> reversed = {200.0f, 100.0f};
    EXPECT_EQ(SectionMarker(cmp, 1, t.markers), 0);
    EXPECT_EQ(SectionMarker(cmp, 2, reversed), 0);
    EXPECT_EQ(SectionMarker(cmp, 1, reversed), 1);
    EXPECT_EQ(SectionMarker(cmp, 0, t.markers), std::nullopt);  // the lap starts before both
    const std::vector<float> atStart = {200.0f, 0.0f, -10.0f, 100.0f};
    EXPECT_EQ(SectionMarker(cmp, 0, atStart), 1);
    EXPECT_EQ(SectionMarker(cmp, 7, t.markers), std::nullopt);
    // A segment's view with its margin, cut to the lap; a range outside the lap stays as it was.
    const DistanceRange lap{0.0, 300.0};
    const DistanceRange padded = PaddedWithin({100.0, 200.0}, 0.05, lap);
    EXPECT_DOUBLE_EQ(padded.lo, 95.0);
    EXPECT_DOUBLE_EQ(padded.hi, 205.0);
    EXPECT_DOUBLE_EQ(PaddedWithin({0.0, 290.0}, 0.1, lap).lo, 0.0);
    EXPECT_DOUBLE_EQ(PaddedWithin({0.0, 290.0}, 0.1, lap).hi, 300.0);
    EXPECT_DOUBLE_EQ(PaddedWithin({400.0, 500.0}, 0.1, lap).lo, 400.0);
    // And back: the section of a marker's segment; none for the custom segment.
    EXPECT_EQ(SectionOfSegment(cmp, 0, t.markers), 1u);
    EXPECT_EQ(SectionOfSegment(cmp, 0, reversed), 2u);
    EXPECT_EQ(SectionOfSegment(cmp, 1, atStart), 0u);
    EXPECT_EQ(SectionOfSegment(cmp, 2, atStart), std::nullopt);  // no section starts at -10
    EXPECT_EQ(SectionOfSegment(cmp, kCustomSegment, t.markers), std::nullopt);

    std::ostringstream csv;
    WriteSectionCsv(cmp, csv);
    std::istringstream lines(csv.str());
    std::string line;
    std::vector<std::string> rows;
    while (std::getline(lines, line)) rows.push_back(line);
    ASSERT_EQ(rows.size(), 6u);  // header, three sections, lap, theoretical best
    EXPECT_EQ(rows[0],
              "section,from (m),to (m),clean time (s),clean lost (s),slow time (s),slow lost (s),"
              "\"quick, end time (s)\",\"quick, end lost (s)\"");
    EXPECT_EQ(rows[2].substr(0, rows[2].find(',', 7)), "Turn 1,100");
    EXPECT_NE(rows[2].find(",5,1,"), std::string::npos) << rows[2];  // slow: 5 s, 1 s lost
    EXPECT_EQ(rows[4].substr(0, 4), "Lap,");
    EXPECT_EQ(rows[5].substr(0, 17), "Theoretical best,");
}

TEST(ExportFileStem, NamesTrackAndLapsAndKeepsToOneFileName) {
    const std::vector<std::string> two = {"ann", "bob"};
    EXPECT_EQ(ExportFileStem("Vale", "GP", two), "Vale GP - ann vs bob");
    const std::vector<std::string> five = {"a", "b", "c", "d", "e"};
    EXPECT_EQ(ExportFileStem("Vale", "", five), "Vale - a vs b vs c +2");
    const std::vector<std::string> odd = {"x/../y"};
    EXPECT_EQ(ExportFileStem("T:1", "a\\b\n", odd), "T_1 a_b_ - x_.._y");
    EXPECT_EQ(ExportFileStem("..", "", {}), "comparison");
    EXPECT_EQ(ExportFileStem("", "", {}), "comparison");
}

}  // namespace
}  // namespace lapquill
