// The six demo laps, checked as the analysis sees them: loaded back from their bytes, with
// accelerations, yaw and corner entries taken from the records the way the derived channels
// take them (second differences of positions at 100 records per second).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "support/compare.h"
#include "tools/data_writers.h"
#include "tools/demo_data.h"
#include "tools/demo_test_fixture.h"

namespace lapquill {
namespace {

using test::SharedDemo;

struct V3 {
    double x, y, z;
};
V3 Of(const Vector3& v) {
    return {v.x, v.y, v.z};
}
V3 Sub(V3 a, V3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double Dot(V3 a, V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
double Len(V3 a) {
    return std::sqrt(Dot(a, a));
}
V3 Unit(V3 a) {
    const double l = Len(a);
    return {a.x / l, a.y / l, a.z / l};
}

// Second difference of positions ending at record i, times 100 twice: m/s^2.
V3 Acceleration(const ReplayFile& f, int i) {
    const V3 a = Of(f.records[i].position), b = Of(f.records[i - 1].position),
             c = Of(f.records[i - 2].position);
    return {((a.x - b.x) * 100 - (b.x - c.x) * 100) * 100,
            ((a.y - b.y) * 100 - (b.y - c.y) * 100) * 100,
            ((a.z - b.z) * 100 - (b.z - c.z) * 100) * 100};
}

// Lateral and longitudinal acceleration of record i, centred on it.
std::pair<double, double> LateralLongitudinal(const ReplayFile& f, int i) {
    const int n = f.RecordCount();
    V3 acc;
    if (i < 2) {
        acc = Acceleration(f, i + 2);
    } else if (i >= n - 2) {
        acc = Acceleration(f, i);
    } else {
        const V3 a = Acceleration(f, i), b = Acceleration(f, i + 2);
        acc = {0.5 * a.x + 0.5 * b.x, 0.5 * a.y + 0.5 * b.y, 0.5 * a.z + 0.5 * b.z};
    }
    return {Dot(Unit(Of(f.records[i].lateralAxis)), acc),
            Dot(Unit(Of(f.records[i].forwardAxis)), acc)};
}

// Angle between where the car points and where it travels, degrees.
double YawDegrees(const ReplayFile& f, int i) {
    const V3 v = Unit(Sub(Of(f.records[i + 1].position), Of(f.records[i - 1].position)));
    return std::acos(std::clamp(Dot(Unit(Of(f.records[i].lateralAxis)), v), -1.0, 1.0)) * 180 /
               3.14159265358979 -
           90;
}

// The first 0.76 s of braking or hard cornering in [start, end), moved 0.1 s earlier.
int FindCornerEntry(const ReplayFile& f, int start, int end) {
    int run = 0;
    for (int i = start; i < end; ++i) {
        const auto [lat, lon] = LateralLongitudinal(f, i);
        if (!(lon < 0 || std::abs(lat) > 7.0)) {
            run = 0;
            continue;
        }
        if (run >= 75) return std::max(start, i - 75 - 10);
        ++run;
    }
    return end - 1;
}

int NearestRecord(const ReplayFile& f, double d) {
    for (int i = 1; i < f.RecordCount(); ++i) {
        if (f.records[i].distance > d) {
            return std::abs(f.records[i - 1].distance - d) <= f.records[i].distance - d ? i - 1 : i;
        }
    }
    return f.RecordCount() - 1;
}

// A channel averaged over 11 records (0.1 s), the way a driver reads a trace.
template <typename Fn>
std::vector<double> Smoothed(int n, Fn channel) {
    std::vector<double> raw(n), out(n);
    for (int i = 0; i < n; ++i) raw[i] = channel(i);
    for (int i = 0; i < n; ++i) {
        double sum = 0;
        int count = 0;
        for (int j = std::max(0, i - 5); j <= std::min(n - 1, i + 5); ++j, ++count) sum += raw[j];
        out[i] = sum / count;
    }
    return out;
}

const DemoCar& CarOf(const ReplayFile& f) {
    for (const DemoCar& c : SharedDemo().set.cars) {
        if (c.name == f.header.CarName()) return c;
    }
    ADD_FAILURE() << "unknown car " << f.header.CarName();
    return SharedDemo().set.cars.front();
}

TEST(BuildDemoDataSet, SixDriversInSeveralCarsInOneWeatherOnOneTrack) {
    const test::SharedDemoData& d = SharedDemo();
    ASSERT_EQ(d.laps.size(), 6u);
    std::set<std::string> drivers, cars, weathers, files;
    for (std::size_t i = 0; i < d.laps.size(); ++i) {
        ASSERT_TRUE(d.lapsLoaded[i]);
        const ReplayHeader& h = d.laps[i].header;
        EXPECT_NE(h.PlayerName().find('^'), std::string_view::npos) << h.PlayerName();
        drivers.insert(std::string(h.PlayerName()));
        cars.insert(std::string(h.CarName()));
        weathers.insert(std::string(h.Weather()));
        EXPECT_EQ(h.TrackName(), d.set.track.name);
        EXPECT_EQ(h.TrackConfig(), d.set.track.config);
        const std::string& file = d.set.laps[i].fileName;
        files.insert(file);
        EXPECT_EQ(file.find_first_of(" ^/\\"), std::string::npos) << file;
        EXPECT_EQ(file.substr(file.size() - 4), ".raf");
    }
    EXPECT_EQ(drivers.size(), 6u);
    EXPECT_EQ(files.size(), 6u);
    EXPECT_GE(cars.size(), 2u);
    ASSERT_EQ(weathers.size(), 1u);
    EXPECT_FALSE(weathers.begin()->empty());
}

TEST(BuildDemoDataSet, LapTimesLieWithinThreeSecondsAndMatchTheRecords) {
    const test::SharedDemoData& d = SharedDemo();
    std::int32_t fastest = 1 << 30, slowest = 0;
    for (std::size_t i = 0; i < d.laps.size(); ++i) {
        const ReplayFile& f = d.laps[i];
        const ReplayHeader& h = f.header;
        ASSERT_EQ(h.SectorCount(), 3);
        const std::int32_t lap = h.SplitTime(2);
        fastest = std::min(fastest, lap);
        slowest = std::max(slowest, lap);
        EXPECT_GE(lap, 90000);
        EXPECT_LE(lap, 120000);
        // One record every 10 ms up to the line.
        EXPECT_NEAR(f.RecordCount() * 10, lap, 10) << h.PlayerName();
        // Each split is the time at which the records pass the sector's end.
        for (int k = 0; k < 2; ++k) {
            EXPECT_LT(h.SplitTime(k), h.SplitTime(k + 1));
            const int at = NearestRecord(f, d.set.track.sectorEnds[k]);
            EXPECT_NEAR(at * 10, h.SplitTime(k), 10) << h.PlayerName() << " sector " << k + 1;
        }
    }
    EXPECT_LE(slowest - fastest, 3000);
    EXPECT_GT(slowest - fastest, 300);  // they are not all the same lap
}

TEST(BuildDemoDataSet, RecordsMoveAtTheirSpeedWithDistanceRisingAlongTheTrack) {
    const test::SharedDemoData& d = SharedDemo();
    const DemoTrack& t = d.set.track;
    for (const ReplayFile& f : d.laps) {
        const auto& r = f.records;
        EXPECT_LT(r.front().distance, 1.0f);
        EXPECT_LT(r.back().distance, t.length);
        EXPECT_GT(r.back().distance, t.length - 1.0);
        double path = 0, along = 0;
        for (std::size_t i = 0; i + 1 < r.size(); ++i) {
            ASSERT_GT(r[i + 1].distance, r[i].distance) << "record " << i;
            const double step = Len(Sub(Of(r[i + 1].position), Of(r[i].position)));
            const double expected = 0.5 * (r[i].speed + r[i + 1].speed) * 0.01;
            ASSERT_NEAR(step, expected,
                        test::kDemoStepTolerance * expected + test::kDemoPositionNoise)
                << "record " << i;
            path += step;
            along += r[i + 1].distance - r[i].distance;
        }
        // The line is longer in some corners and shorter in others than the centre line.
        EXPECT_NEAR(path / along, 1.0, 0.03);
        // Every record lies on the track at its own distance.
        for (std::size_t i = 0; i < r.size(); i += 7) {
            const DemoTrackPoint p = CentreLineAt(t, r[i].distance);
            const double off =
                std::hypot(r[i].position.x - p.position.x, r[i].position.y - p.position.y);
            ASSERT_LT(off, t.halfWidth + 1.0) << "record " << i;
            ASSERT_NEAR(r[i].position.z, p.position.z, 1.0) << "record " << i;
        }
    }
}

TEST(BuildDemoDataSet, AxesAreHalfUnitPerpendicularAndPointAlongTheTravel) {
    for (const ReplayFile& f : SharedDemo().laps) {
        double most = 0;
        for (int i = 1; i + 1 < f.RecordCount(); ++i) {
            const V3 l = Of(f.records[i].lateralAxis), fw = Of(f.records[i].forwardAxis);
            ASSERT_LE(Len(l), 0.5);
            ASSERT_GE(Len(l), 0.45);
            ASSERT_LE(Len(fw), 0.5);
            ASSERT_GE(Len(fw), 0.45);
            ASSERT_LT(std::abs(Dot(Unit(l), Unit(fw))), 0.01) << "record " << i;
            const double yaw = YawDegrees(f, i);
            ASSERT_LT(std::abs(yaw), 12.0) << "record " << i;
            most = std::max(most, std::abs(yaw));
        }
        // The yaw channel lives: the car slips a few degrees in the corners.
        EXPECT_GT(most, 2.0) << f.header.PlayerName();
    }
}

TEST(BuildDemoDataSet, CornersAndBrakingPullPlausibleAccelerations) {
    const test::SharedDemoData& d = SharedDemo();
    for (const ReplayFile& f : d.laps) {
        const int n = f.RecordCount();
        const auto lat = Smoothed(n, [&](int i) { return LateralLongitudinal(f, i).first; });
        const auto lon = Smoothed(n, [&](int i) { return LateralLongitudinal(f, i).second; });
        double peakLat = 0, peakBrake = 0, rawPeak = 0;
        for (int i = 0; i < n; ++i) {
            peakLat = std::max(peakLat, std::abs(lat[i]));
            peakBrake = std::max(peakBrake, -lon[i]);
            const auto [l, g] = LateralLongitudinal(f, i);
            rawPeak = std::max(rawPeak, std::hypot(l, g));
        }
        EXPECT_GE(peakLat, 12.0) << f.header.PlayerName();
        EXPECT_LE(peakLat, 20.0) << f.header.PlayerName();
        EXPECT_GE(peakBrake, 8.0) << f.header.PlayerName();
        EXPECT_LE(peakBrake, 15.0) << f.header.PlayerName();
        EXPECT_LT(rawPeak, 25.0) << f.header.PlayerName();
        // Fast corners are where the lateral peaks are.
        for (const DemoCorner& c : d.set.track.corners) {
            if (!c.fast) continue;
            double most = 0;
            for (int i = NearestRecord(f, c.start); i <= NearestRecord(f, c.end); ++i) {
                most = std::max(most, std::abs(lat[i]));
            }
            EXPECT_GE(most, 12.0) << f.header.PlayerName() << " " << c.name;
            EXPECT_LE(most, 20.0) << f.header.PlayerName() << " " << c.name;
        }
    }
}

TEST(BuildDemoDataSet, GearsPedalsAndSteeringMatchTheDriving) {
    const test::SharedDemoData& d = SharedDemo();
    for (const ReplayFile& f : d.laps) {
        const DemoCar& car = CarOf(f);
        double topThrottle = 0, topBrake = 0;
        int clutchDips = 0;
        std::size_t engaged = 0;
        bool wasDown = false;
        for (const ReplayRecord& r : f.records) {
            ASSERT_GE(r.gear, 2) << "a forward gear is engaged";
            const double rpm = DemoEngineRpm(car, r.gear - 1, r.speed);
            ASSERT_LE(rpm, car.shiftRpm * 1.02) << "gear " << r.gear - 1 << " at " << r.speed;
            if (r.gear > 2) {
                ASSERT_GE(rpm, 0.4 * car.shiftRpm) << "gear " << r.gear - 1 << " at " << r.speed;
            }
            for (float v : {r.throttle, r.brake, r.clutch}) {
                ASSERT_GE(v, 0.0f);
                ASSERT_LE(v, 1.0f);
            }
            ASSERT_FALSE(r.throttle > 0.5f && r.brake > 0.5f);
            topThrottle = std::max<double>(topThrottle, r.throttle);
            topBrake = std::max<double>(topBrake, r.brake);
            // The clutch reads 1 while engaged and dips towards 0 in a shift.
            if (r.clutch < 0.5f && !wasDown) ++clutchDips;
            wasDown = r.clutch < 0.5f;
            engaged += r.clutch == 1.0f ? 1 : 0;
        }
        EXPECT_EQ(topThrottle, 1.0);
        EXPECT_GT(topBrake, 0.8);
        EXPECT_GE(clutchDips, 20) << "a clutch dip for every shift";
        EXPECT_GT(engaged, f.records.size() * 9 / 10) << "engaged while driving";
        // Steering towards the inside at the apex of every corner that is not part of a flick.
        for (const DemoCorner& c : d.set.track.corners) {
            if (c.kind == DemoCornerKind::Chicane) continue;
            const float steer = f.records[NearestRecord(f, c.apex)].steer;
            EXPECT_GT(steer * c.direction, 0.05f) << f.header.PlayerName() << " " << c.name;
        }
    }
}

TEST(BuildDemoDataSet, WheelBlocksSpanTheCarsTrackWidth) {
    for (const ReplayFile& f : SharedDemo().laps) {
        ASSERT_EQ(f.blocks.size(), 4u);
        float lo = 1e12f, hi = -1e12f;
        for (const ReplayBlock& b : f.blocks) {
            lo = std::min(lo, b.LateralOffset());
            hi = std::max(hi, b.LateralOffset());
        }
        const DemoCar& car = CarOf(f);
        EXPECT_NEAR(lo, -0.5 * car.frontTrack, 1e-6);
        EXPECT_NEAR(hi, 0.5 * car.frontTrack, 1e-6);
        EXPECT_GT(hi - lo, 1.4f);
        EXPECT_LT(hi - lo, 2.0f);
    }
}

TEST(BuildDemoDataSet, EachSegmentDetectsItsCornerInTheBrakingZoneOrTurnIn) {
    const test::SharedDemoData& d = SharedDemo();
    const DemoTrack& t = d.set.track;
    const auto& markers = d.segments.records;
    for (const ReplayFile& f : d.laps) {
        for (std::size_t m = 0; m < markers.size(); ++m) {
            const int start = NearestRecord(f, markers[m].markerDistance);
            const int end = m + 1 < markers.size() ? NearestRecord(f, markers[m + 1].markerDistance)
                                                   : f.RecordCount();
            const double at = f.records[FindCornerEntry(f, start, end)].distance;
            const DemoCorner& first = t.corners[t.complexes[m].corners.front()];
            EXPECT_GE(at, markers[m].markerDistance - 1)
                << f.header.PlayerName() << " " << markers[m].Name();
            EXPECT_LE(at, first.apex) << f.header.PlayerName() << " " << markers[m].Name();
        }
    }
}

TEST(BuildDemoDataSet, GapsToTheFastestLapGrowAndShrinkAlongTheLap) {
    const test::SharedDemoData& d = SharedDemo();
    const auto& markers = d.segments.records;
    std::size_t fastest = 0;
    for (std::size_t i = 1; i < d.laps.size(); ++i) {
        if (d.laps[i].RecordCount() < d.laps[fastest].RecordCount()) fastest = i;
    }
    // A slower lap mostly loses time, but drivers and cars are quick in different places:
    // most laps win time back somewhere, and somewhere a slower lap is ahead.
    int lapsThatGain = 0;
    bool someoneAhead = false;
    for (std::size_t i = 0; i < d.laps.size(); ++i) {
        if (i == fastest) continue;
        bool gains = false;
        int previous = 0;
        for (const SegmentMarkerRecord& m : markers) {
            const int gap = NearestRecord(d.laps[i], m.markerDistance) -
                            NearestRecord(d.laps[fastest], m.markerDistance);
            if (gap < previous - 2) gains = true;
            if (gap < -2) someoneAhead = true;
            previous = gap;
        }
        if (gains) ++lapsThatGain;
    }
    EXPECT_GE(lapsThatGain, 3);
    EXPECT_TRUE(someoneAhead);
}

TEST(BuildDemoDataSet, SameSeedSameLapsAnotherSeedOtherLaps) {
    const test::SharedDemoData& d = SharedDemo();
    const DemoTrack& t = d.set.track;
    const std::vector<DemoDriver> again = DemoDrivers(DemoOptions{}.seed, t);
    const std::vector<DemoDriver> other = DemoDrivers(DemoOptions{}.seed + 1, t);
    ASSERT_EQ(again.size(), d.set.laps.size());
    const DemoLap& first = d.set.laps.front();
    DemoLapOptions o;
    o.pace = 1.0;
    const DemoCar& car = d.set.cars[first.driver.car];
    const auto a = EncodeReplayFile(SimulateDemoLap(t, car, again.front(), o));
    const auto b = EncodeReplayFile(SimulateDemoLap(t, car, again.front(), o));
    const auto c = EncodeReplayFile(SimulateDemoLap(t, car, other.front(), o));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    // The track and its mesh are the same whatever the seed.
    EXPECT_EQ(EncodeTrackMesh(BuildDemoTrackMesh(BuildDemoTrack(), 1.0)),
              EncodeTrackMesh(d.set.mesh));
}

TEST(SimulateDemoLap, LongerReplaysKeepDistanceRisingOverSeveralLaps) {
    const test::SharedDemoData& d = SharedDemo();
    const DemoLap& lap = d.set.laps.front();
    DemoLapOptions o;
    o.circuits = 2;
    const ReplayFile two = SimulateDemoLap(d.set.track, d.set.cars[lap.driver.car], lap.driver, o);
    const auto& r = two.records;
    EXPECT_GT(r.back().distance, 2 * d.set.track.length - 1.0);
    for (std::size_t i = 0; i + 1 < r.size(); ++i) ASSERT_GT(r[i + 1].distance, r[i].distance);
    const double lapTime = two.header.SplitTime(2) / 1000.0;
    EXPECT_NEAR(two.RecordCount() * 0.01, lapTime, 0.01);
    EXPECT_GT(lapTime, 2 * 90.0);
    EXPECT_LT(lapTime, 2 * 120.0);
}

TEST(SimulateDemoLap, StandingStartLaunchesOnTheClutchInFirstGear) {
    const test::SharedDemoData& d = SharedDemo();
    const DemoLap& lap = d.set.laps.front();
    DemoLapOptions flying, standing;
    standing.standingStart = true;
    const DemoCar& car = d.set.cars[lap.driver.car];
    const ReplayFile f = SimulateDemoLap(d.set.track, car, lap.driver, standing);
    EXPECT_LT(f.records.front().speed, 1.0f);
    EXPECT_EQ(f.records.front().gear, 2);
    EXPECT_EQ(f.records.front().clutch, 0.0f);  // pedal down: disengaged
    EXPECT_GT(f.records.front().throttle, 0.5f);
    EXPECT_EQ(f.records[150].clutch, 1.0f);  // engaged after 1.5 s
    EXPECT_GT(DemoLapTime(d.set.track, car, lap.driver, standing),
              DemoLapTime(d.set.track, car, lap.driver, flying) + 1.0);
}

}  // namespace
}  // namespace lapquill
