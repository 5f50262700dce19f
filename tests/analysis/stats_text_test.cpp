#include "analysis/stats_text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace lapquill {
namespace {

TEST(FormatLapTime, MinutesSecondsHundredths) {
    EXPECT_EQ(FormatLapTime(83456), "    1:23.45");
    EXPECT_EQ(FormatLapTime(9870), "    0:09.87");
    EXPECT_EQ(FormatLapTime(0), "    0:00.00");
    EXPECT_EQ(FormatLapTime(600000), "   10:00.00");
}

TEST(AlignOnDecimalPoint, PointsStandInColumnEight) {
    EXPECT_EQ(AlignOnDecimalPoint("3"), "       3");  // a whole number ends left of the point
    EXPECT_EQ(AlignOnDecimalPoint("-1"), "      -1");
    EXPECT_EQ(AlignOnDecimalPoint("148.32"), "     148.32");
    EXPECT_EQ(AlignOnDecimalPoint("-0.31"), "      -0.31");
    EXPECT_EQ(AlignOnDecimalPoint("123456789.5"), "123456789.5");  // too long: unchanged
    EXPECT_EQ(AlignOnDecimalPoint("1.2.3"), "       1.2.3");       // the first point counts
}

TEST(StripColourCodes, DropsCaretAndNextCharacter) {
    EXPECT_EQ(StripColourCodes("^1An^7na"), "Anna");
    EXPECT_EQ(StripColourCodes("Bob^"), "Bob");
    EXPECT_EQ(StripColourCodes("^^x"), "x");
    EXPECT_EQ(StripColourCodes(""), "");
}

TEST(DisplayUnits, EveryUnit) {
    DisplayUnits u;
    EXPECT_FLOAT_EQ(DisplaySpeed(10.0f, u), 36.0f);
    EXPECT_FLOAT_EQ(DisplayDistance(1500.0f, u), 1500.0f);
    EXPECT_FLOAT_EQ(DisplayAcceleration(9.807f, u), 9.807f);
    u = {1, 1, 1};
    EXPECT_FLOAT_EQ(DisplaySpeed(10.0f, u), 36.0f * 0.621371f);
    EXPECT_FLOAT_EQ(DisplayDistance(1500.0f, u), 1.5f);
    EXPECT_NEAR(DisplayAcceleration(9.807f, u), 1.0f, 1e-6f);
    u.distanceUnit = 2;
    EXPECT_FLOAT_EQ(DisplayDistance(1609.344f, u), 1609.344f * 0.00062137103f);
}

StatsColumnInput Column(const std::vector<std::int32_t>& splits) {
    StatsColumnInput c;
    c.title = "lap one";
    c.playerName = "^1An^7na";
    c.carName = "Formula Vee";
    c.weather = "Sunny";
    c.splitTimes = splits;
    c.cursor.gear = 4;
    c.cursor.speed = 41.2f;
    c.cursor.distance = 1234.5f;
    c.cursor.throttle = 0.75f;
    c.cursor.clutch = 0.25f;
    c.cursor.steer = -1.0f;  // about -57 degrees
    c.longitudinalAccel = -3.2f;
    c.lateralAccel = 7.9f;
    c.yaw = 1.25f;
    c.timingDifference = 0.31f;
    c.segmentTime = 12.34f;
    c.timeFromSync = 2.5f;
    c.entranceSpeed = 40.0f;
    c.exitSpeed = 55.0f;
    return c;
}

std::map<std::string, const StatsCell*> ByLabel(const StatsColumn& col) {
    std::map<std::string, const StatsCell*> m;
    for (const StatsCell& c : col.cells) m[c.label] = &c;
    return m;
}

TEST(BuildStatsTable, RowsOfAColumnAsDrawn) {
    const std::vector<std::int32_t> splits = {30000, 60000, 83456};
    const StatsColumnInput cols[] = {Column(splits), Column({})};
    const std::vector<std::string> names = {"Turn 1"};
    StatsInput in;
    in.columns = cols;
    in.currentSegment = 0;
    in.segmentMarkerNames = names;
    in.syncMode = SyncMode::DetectedCorner;
    in.isPlaying = true;
    in.playbackSpeed = 2.0f;
    in.playForward = false;
    const StatsTable t = BuildStatsTable(in);
    EXPECT_EQ(t.segmentText, "Turn 1");
    EXPECT_EQ(t.syncText, "Detected Corner");
    EXPECT_EQ(t.speedText, "-2.00x");
    ASSERT_EQ(t.labels.size(), 3u + 3u + 21u);
    EXPECT_EQ(t.labels[3], "Sector 1");
    EXPECT_EQ(t.labels[6], "Lap Time");
    EXPECT_EQ(t.labels[19], "");  // the blank row before the segment box

    const auto rows = ByLabel(t.columns[0]);
    EXPECT_EQ(t.columns[0].cells.size(), t.labels.size());
    EXPECT_EQ(rows.at("Player")->text, "Anna");
    EXPECT_EQ(rows.at("Sector 2")->text, "    0:30.00");
    EXPECT_EQ(rows.at("Sector 3")->text, "    0:23.45");
    EXPECT_EQ(rows.at("Lap Time")->text, "    1:23.45");
    EXPECT_EQ(rows.at("Gear")->text, "       3");
    EXPECT_EQ(rows.at("Speed (km/h)")->text, "     148.32");
    EXPECT_EQ(rows.at("Track Distance (m)")->text, "    1234.50");
    EXPECT_EQ(rows.at("Timing Diff (s)")->text, "       0.31");
    EXPECT_EQ(rows.at("Longitudinal accel")->text, "      -3.20");
    EXPECT_EQ(rows.at("Lateral accel (m/s^2)")->text, "       7.90");
    EXPECT_EQ(rows.at("Yaw (deg)")->text, "       1.25");
    EXPECT_EQ(rows.at("Track Segment:")->text, "Turn 1");
    EXPECT_EQ(rows.at("Segment Time (s)")->text, "      12.34");
    EXPECT_EQ(rows.at("Time from sync (s)")->text, "       2.50");
    EXPECT_EQ(rows.at("Entrance speed")->text, "     144.00");
    EXPECT_EQ(rows.at("Exit speed")->text, "     198.00");
    EXPECT_EQ(rows.at("Throttle")->kind, StatsRowKind::Gauge);
    EXPECT_EQ(rows.at("Throttle")->gauge, 0.75f);
    EXPECT_EQ(rows.at("Clutch")->gauge, 0.75f);  // the bar shows 1 - clutch
    EXPECT_EQ(rows.at("Input Steer")->kind, StatsRowKind::CentredGauge);
    EXPECT_EQ(rows.at("Input Steer")->gauge, -25.0f);

    // The second replay has no split times: no sector rows and an empty lap time; the span
    // texts belong to the first column only.
    const auto second = ByLabel(t.columns[1]);
    EXPECT_EQ(second.count("Sector 1"), 0u);
    EXPECT_EQ(second.at("Lap Time")->text, "");
    EXPECT_EQ(second.at("Track Segment:")->text, "");
}

// Found by fuzzing: the split times of a damaged file may be any 32-bit values, and a
// sector's time is their difference, which no longer fits in 32 bits.
TEST(BuildStatsTable, SectorTimesOfExtremeSplitsDoNotOverflow) {
    const std::vector<std::int32_t> splits = {INT32_MIN, INT32_MAX};
    const StatsColumnInput cols[] = {Column(splits)};
    StatsInput in;
    in.columns = cols;
    const StatsTable table = BuildStatsTable(in);
    const auto rows = ByLabel(table.columns[0]);
    EXPECT_EQ(rows.at("Sector 1")->text, "  -35791:-23.-64");
    EXPECT_EQ(rows.at("Sector 2")->text, "  71582:47.29");
    EXPECT_EQ(rows.at("Lap Time")->text, "  35791:23.64");
}

TEST(BuildStatsTable, GearsAndOtherUnits) {
    const std::vector<std::int32_t> splits = {9870};
    StatsColumnInput col = Column(splits);
    StatsInput in;
    in.columns = {&col, 1};
    in.units = {2, 1, 1};
    const std::map<int, std::string> gears = {{0, "      -1"}, {1, "       0"}, {2, "       1"}};
    for (const auto& [stored, shown] : gears) {
        col.cursor.gear = static_cast<std::uint8_t>(stored);
        EXPECT_EQ(ByLabel(BuildStatsTable(in).columns[0]).at("Gear")->text, shown);
    }
    const StatsTable t = BuildStatsTable(in);
    const auto rows = ByLabel(t.columns[0]);
    EXPECT_EQ(t.segmentText, "Custom Segment");
    EXPECT_EQ(t.syncText, "Lap");
    EXPECT_EQ(t.speedText, "");
    EXPECT_EQ(rows.at("Sector 1")->text, "    0:09.87");
    EXPECT_EQ(rows.at("Speed (mi/h)")->text, "      92.16");  // 41.2 m/s
    EXPECT_EQ(rows.at("Track Distance (mi)")->text, "       0.77");
    EXPECT_EQ(rows.at("Lateral accel (g)")->text, "       0.81");
    EXPECT_EQ(rows.at("Longitudinal accel")->text, "      -0.33");
    in.units = {1, 0, 0};
    EXPECT_EQ(ByLabel(BuildStatsTable(in).columns[0]).at("Track Distance (km)")->text,
              "       1.23");
}

}  // namespace
}  // namespace lapquill
