#include "analysis/segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "support/replay_builder.h"

namespace lapquill {
namespace {

using test::BuildLap;
using test::LapPlan;

// Braking steps on records [first, first + steps - 3] make records first - 2 .. that end
// qualify: `steps` records in a row.
LapPlan WithRun(std::int32_t first, std::int32_t qualifying, std::int32_t records = 1000) {
    LapPlan plan;
    plan.records = records;
    plan.braking = {{first, first + qualifying - 3}};
    return plan;
}

TEST(FindCornerEntry, SeventySixQualifyingRecordsMakeACorner) {
    const ReplayFile corner = BuildLap(WithRun(302, 76));  // qualifying records 300..375
    EXPECT_EQ(FindCornerEntry(corner, 0, 1000), 290);
    const ReplayFile noCorner = BuildLap(WithRun(302, 75));
    EXPECT_EQ(FindCornerEntry(noCorner, 0, 1000), 999);
    EXPECT_EQ(FindCornerEntry(noCorner, 100, 400), 399);
}

TEST(FindCornerEntry, NeverBeforeTheRangeAndEmptyRangesGiveTheirStart) {
    const ReplayFile lap = BuildLap(WithRun(302, 80));
    EXPECT_EQ(FindCornerEntry(lap, 295, 1000), 295);  // run starts 5 records in
    EXPECT_EQ(FindCornerEntry(lap, 0, 0), 0);
    EXPECT_EQ(FindCornerEntry(lap, 500, 500), 500);
    EXPECT_EQ(FindCornerEntry(lap, 600, 400), 600);
}

TEST(CornerSearch, AnswersEveryRangeAsTheScanDoes) {
    // Random laps of braking stretches around the 76-record threshold, and random ranges:
    // empty, reversed, cut inside a run, reaching the last record.
    std::mt19937 random(20261209);
    for (int lap = 0; lap < 20; ++lap) {
        LapPlan plan;
        plan.records = std::uniform_int_distribution<std::int32_t>(1, 1500)(random);
        plan.step = 2.0f;
        for (std::int32_t at = 3; at < plan.records;) {
            at += std::uniform_int_distribution<std::int32_t>(0, 120)(random);
            const std::int32_t steps = std::uniform_int_distribution<std::int32_t>(60, 90)(random);
            plan.braking.push_back({at, at + steps - 3});
            at += steps + 2;
        }
        const ReplayFile replay = BuildLap(plan);
        const CornerSearch search(replay);
        std::uniform_int_distribution<std::int32_t> index(0, plan.records);
        for (int q = 0; q < 300; ++q) {
            const std::int32_t start = std::min(index(random), plan.records - 1);
            const std::int32_t end = q % 10 == 0 ? plan.records : index(random);
            ASSERT_EQ(search.Entry(start, end), FindCornerEntry(replay, start, end))
                << "lap " << lap << " range " << start << ".." << end;
        }
    }
}

LapPlan Records(std::int32_t n) {
    LapPlan plan;
    plan.records = n;
    return plan;
}

SegmentData Recompute(const std::vector<ReplayFile>& replays, const std::vector<float>& markers,
                      SegmentData seg = {}) {
    RecomputeSegments(replays, {}, markers, &seg);
    return seg;
}

TEST(RecomputeSegments, FreshCustomSegmentIsTheWholeLap) {
    const std::vector<ReplayFile> one = {BuildLap(WithRun(302, 80))};
    const SegmentData seg = Recompute(one, {});
    EXPECT_EQ(seg.customStartIndices[0], 0);
    EXPECT_EQ(seg.customEndIndices[0], 999);
    EXPECT_EQ(seg.customCornerIndices[0], 290);
    EXPECT_EQ(SegmentStart(seg, 0, -1, SyncMode::SegmentMarker), 0);
    EXPECT_EQ(SegmentEnd(seg, one[0], 0, -1, SyncMode::SegmentMarker), 999);
    EXPECT_FLOAT_EQ(SegmentTime(seg, one[0], 0), 10.0f);  // both ends counted
}

TEST(RecomputeSegments, MarkerSegmentsAndCornersWithoutARun) {
    // Distance is 0.25 m per record: markers at 50 m and 150 m are records 200 and 600.
    const std::vector<ReplayFile> one = {BuildLap(Records(1000))};
    SegmentData seg = Recompute(one, {50.0f, 150.0f});
    EXPECT_EQ(seg.markerStartIndices[0], (std::vector<std::int32_t>{200, 600}));
    EXPECT_EQ(seg.cornerStartIndices[0], (std::vector<std::int32_t>{599, 999}));
    EXPECT_EQ(seg.customCornerIndices[0], 998);  // the record before the custom end
    seg.currentSegment = 0;
    EXPECT_EQ(SegmentEnd(seg, one[0], 0, 0, SyncMode::SegmentMarker), 599);
    EXPECT_FLOAT_EQ(SegmentTime(seg, one[0], 0), 4.0f);
    seg.currentSegment = 1;
    EXPECT_EQ(SegmentEnd(seg, one[0], 0, 1, SyncMode::SegmentMarker), 999);  // the last record
    EXPECT_FLOAT_EQ(SegmentTime(seg, one[0], 0), 4.0f);
}

TEST(RecomputeSegments, DetectedCornerIsCommonToAllReplays) {
    // Replay a corners at 400 m (record 1600 + 10 lead... run from record 1610), b at 380 m.
    LapPlan a = WithRun(1612, 80, 3000);  // qualifying from record 1610, corner at 1600 = 400 m
    LapPlan b = WithRun(1532, 80, 3000);  // qualifying from record 1530, corner at 1520 = 380 m
    const std::vector<ReplayFile> two = {BuildLap(a), BuildLap(b)};
    const SegmentData seg = Recompute(two, {100.0f});
    ASSERT_EQ(seg.cornerDistances.size(), 1u);
    EXPECT_FLOAT_EQ(seg.cornerDistances[0], 380.0f);
    EXPECT_EQ(seg.cornerStartIndices[0][0], 1520);
    EXPECT_EQ(seg.cornerStartIndices[1][0], 1520);
    EXPECT_FLOAT_EQ(seg.customCornerDistance, 380.0f);
}

TEST(SegmentEnd, NeverBeforeItsStart) {
    // Two markers before the first record are both nearest record 0; a marker out of order
    // lies before its predecessor.
    LapPlan plan = Records(400);
    plan.startDistance = 10.0f;
    const std::vector<ReplayFile> one = {BuildLap(plan)};
    SegmentData seg = Recompute(one, {1.0f, 2.0f, 80.0f, 40.0f});
    EXPECT_EQ(seg.markerStartIndices[0], (std::vector<std::int32_t>{0, 0, 280, 120}));
    for (std::int32_t s = -1; s < 4; ++s) {
        for (SyncMode kind : {SyncMode::SegmentMarker, SyncMode::DetectedCorner}) {
            const std::int32_t start = SegmentStart(seg, 0, s, kind);
            const std::int32_t end = SegmentEnd(seg, one[0], 0, s, kind);
            EXPECT_GE(start, 0);
            EXPECT_LE(end, 399);
            EXPECT_GE(end, start) << "segment " << s;
            seg.currentSegment = s;
            for (std::int32_t t : {-5, 0, 1, 1000, kTimeBeyondEnd}) {
                const std::int32_t i = RecordIndexAt(seg, one[0], 0, t, kind);
                EXPECT_GE(i, 0);
                EXPECT_LE(i, 399);
            }
        }
    }
    seg.currentSegment = 0;
    EXPECT_EQ(SegmentEnd(seg, one[0], 0, 0, SyncMode::SegmentMarker), 0);
    EXPECT_FLOAT_EQ(SegmentTime(seg, one[0], 0), 0.01f);
    seg.currentSegment = 2;
    EXPECT_EQ(SegmentEnd(seg, one[0], 0, 2, SyncMode::SegmentMarker), 280);
}

TEST(RecordIndexAt, LapCountsFromTheFirstRecordAndSegmentsStopAtTheirEnd) {
    const std::vector<ReplayFile> one = {BuildLap(Records(1000))};
    SegmentData seg = Recompute(one, {50.0f, 150.0f});
    seg.currentSegment = 0;
    EXPECT_EQ(RecordIndexAt(seg, one[0], 0, 5000, SyncMode::Lap), 999);
    EXPECT_EQ(RecordIndexAt(seg, one[0], 0, 7, SyncMode::Lap), 7);
    EXPECT_EQ(RecordIndexAt(seg, one[0], 0, 7, SyncMode::SegmentMarker), 207);
    EXPECT_EQ(RecordIndexAt(seg, one[0], 0, 5000, SyncMode::SegmentMarker), 599);
    EXPECT_EQ(SegmentLength(seg, one[0], 0, SyncMode::SegmentMarker), 399);
    EXPECT_EQ(SegmentLength(seg, one[0], 0, SyncMode::Lap), 999);
    // Entrance and exit speeds in lap mode are the first and last records', whatever segment.
    EXPECT_FLOAT_EQ(EntranceSpeed(seg, one[0], 0, SyncMode::Lap), one[0].records[0].speed);
    EXPECT_FLOAT_EQ(ExitSpeed(seg, one[0], 0, SyncMode::SegmentMarker), one[0].records[599].speed);
}

TEST(SelectSegment, CyclesThroughCustomAndMarkers) {
    SegmentData seg;
    seg.currentSegment = 0;
    SelectPreviousSegment(&seg, 3);
    EXPECT_EQ(seg.currentSegment, -1);
    SelectPreviousSegment(&seg, 3);
    EXPECT_EQ(seg.currentSegment, 2);
    SelectNextSegment(&seg, 3);
    EXPECT_EQ(seg.currentSegment, -1);
    SelectNextSegment(&seg, 0);
    EXPECT_EQ(seg.currentSegment, -1);
    SelectPreviousSegment(&seg, 0);
    EXPECT_EQ(seg.currentSegment, -1);
}

TEST(SetCustomStart, TheOtherEndFollowsWhenTheyWouldCross) {
    SegmentData seg;
    SetCustomEnd(&seg, 100.0f);
    SetCustomStart(&seg, 150.0f);
    EXPECT_EQ(seg.customEndDistance, 150.0f);
    SetCustomEnd(&seg, 20.0f);
    EXPECT_EQ(seg.customStartDistance, 20.0f);
}

}  // namespace
}  // namespace lapquill
