// The legend's speed range, scanned once per version of the loaded laps.
#include <gtest/gtest.h>

#include <vector>

#include "render/ribbon_colours.h"

namespace lapquill {
namespace {

ReplayFile LapAtSpeeds(float first, float second) {
    ReplayFile lap;
    lap.records.resize(2);
    lap.records[0].speed = first;
    lap.records[1].speed = second;
    return lap;
}

TEST(SpeedRangeCache, ScansAgainOnlyForANewVersionOrLapCount) {
    std::vector<ReplayFile> laps = {LapAtSpeeds(20, 30), LapAtSpeeds(10, 25)};
    SpeedRangeCache cache;
    const SpeedRange& first = cache.Get(laps, 1);
    EXPECT_EQ(first.lo, 10.0f);
    EXPECT_EQ(first.hi, 30.0f);

    // The same version promises the same laps: the records are not read again.
    laps[0].records[0].speed = 50.0f;
    EXPECT_EQ(cache.Get(laps, 1).hi, 30.0f);

    // A new version of the set is scanned again.
    EXPECT_EQ(cache.Get(laps, 2).hi, 50.0f);

    // A set cut down to fewer laps is scanned again whatever the version says.
    laps[1].records[0].speed = 5.0f;
    const SpeedRange& one = cache.Get(std::span<const ReplayFile>(laps).first(1), 2);
    EXPECT_EQ(one.lo, 30.0f);
    EXPECT_EQ(one.hi, 50.0f);

    // No laps: the empty range, as LapsSpeedRange gives it.
    EXPECT_EQ(cache.Get({}, 3).hi, 0.0f);
    EXPECT_EQ(cache.Get({}, 3).lo, 0.0f);
}

}  // namespace
}  // namespace lapquill
