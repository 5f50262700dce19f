#include "analysis/channels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "support/compare.h"
#include "support/replay_builder.h"

namespace lapquill {
namespace {

ReplayFile FromPositions(const std::vector<Vector3>& positions, Vector3 lateral = {0, 0.5f, 0},
                         Vector3 forward = {0.5f, 0, 0}) {
    ReplayFile f;
    for (const Vector3& p : positions) {
        ReplayRecord r;
        r.position = p;
        r.distance = p.x;
        r.lateralAxis = lateral;
        r.forwardAxis = forward;
        f.records.push_back(r);
    }
    return f;
}

ReplayFile FromDistances(const std::vector<float>& distances) {
    ReplayFile f;
    for (float d : distances) {
        ReplayRecord r;
        r.distance = d;
        f.records.push_back(r);
    }
    return f;
}

std::vector<Vector3> Line(int n, float step, Vector3 direction) {
    std::vector<Vector3> p;
    for (int i = 0; i < n; ++i) {
        const float s = step * static_cast<float>(i);
        p.push_back({direction.x * s, direction.y * s, direction.z * s});
    }
    return p;
}

float Length(const Vector3& v) {
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

TEST(RecordVelocity, ConstantSpeedAlongForwardAxis) {
    const ReplayFile f = FromPositions(Line(20, 0.2f, {1, 0, 0}));
    for (int i = 0; i < 20; ++i) EXPECT_NEAR(Length(RecordVelocity(f, i)), 20.0f, 1e-3f) << i;
    for (int i = 2; i < 18; ++i) {
        const LateralLongitudinal a = LateralLongitudinalAccel(f, i);
        EXPECT_NEAR(a.lateral, 0.0f, 0.05f) << i;  // 0.2 m is not exact in binary
        EXPECT_NEAR(a.longitudinal, 0.0f, 0.05f) << i;
        EXPECT_NEAR(YawAngle(f, i), 0.0f, 1e-5f) << i;
    }
    // With exact positions the accelerations are exactly zero.
    const ReplayFile exact = FromPositions(Line(20, 0.25f, {1, 0, 0}));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(LateralLongitudinalAccel(exact, i).longitudinal, 0.0f);
        EXPECT_EQ(LateralLongitudinalAccel(exact, i).lateral, 0.0f);
    }
}

TEST(RecordVelocity, EndsUseOneSidedDifferences) {
    const ReplayFile f = FromPositions({{0, 0, 0}, {1, 0, 0}, {3, 0, 0}, {7, 0, 0}});
    EXPECT_FLOAT_EQ(RecordVelocity(f, 0).x, 100.0f);
    EXPECT_FLOAT_EQ(RecordVelocity(f, 1).x, 150.0f);
    EXPECT_FLOAT_EQ(RecordVelocity(f, 3).x, 400.0f);
    EXPECT_FLOAT_EQ(RecordVelocity(FromPositions({{5, 0, 0}}), 0).x, 0.0f);
}

TEST(LateralLongitudinalAccel, EndsUseTheSecondDifferenceThatExists) {
    // Steps 1, 2, 4, 8, 16 m: second differences 1, 2, 4, 8 m ending at records 2..5.
    const ReplayFile f =
        FromPositions({{0, 0, 0}, {1, 0, 0}, {3, 0, 0}, {7, 0, 0}, {15, 0, 0}, {31, 0, 0}});
    EXPECT_FLOAT_EQ(LateralLongitudinalAccel(f, 0).longitudinal, 1e4f);  // over records 0..2
    EXPECT_FLOAT_EQ(LateralLongitudinalAccel(f, 1).longitudinal, 2e4f);  // over 1..3
    EXPECT_FLOAT_EQ(LateralLongitudinalAccel(f, 2).longitudinal, 0.5f * 1e4f + 0.5f * 4e4f);
    EXPECT_FLOAT_EQ(LateralLongitudinalAccel(f, 4).longitudinal, 4e4f);  // over 2..4
    EXPECT_FLOAT_EQ(LateralLongitudinalAccel(f, 5).longitudinal, 8e4f);  // over 3..5
    EXPECT_FLOAT_EQ(RecordAcceleration(f, 5).x, 8e4f);
    // Too few records for any second difference: defined as no acceleration.
    EXPECT_EQ(LateralLongitudinalAccel(FromPositions({{0, 0, 0}, {1, 0, 0}}), 1).longitudinal,
              0.0f);
}

TEST(YawAngle, SlidingAndRollingBackwards) {
    const Vector3 lateral{0, 0.5f, 0}, forward{0.5f, 0, 0};
    EXPECT_NEAR(YawAngle(FromPositions(Line(5, 0.25f, {0, 1, 0}), lateral, forward), 2), -90.0f,
                1e-5f);
    const float against = YawAngle(FromPositions(Line(5, 0.25f, {0, -1, 0}), lateral, forward), 2);
    EXPECT_LT(against, 90.0f);
    EXPECT_NEAR(against, 90.0f, 1e-4f);
    EXPECT_NEAR(YawAngle(FromPositions(Line(5, 0.25f, {-1, 0, 0}), lateral, forward), 2), -180.0f,
                1e-5f);
    EXPECT_NEAR(YawAngle(FromPositions(Line(5, 0.25f, {1, 0, 0}), lateral, forward), 2),
                -0.0000049f, 1e-6f);
    // A stationary car has no direction of travel; the angle is still a number.
    EXPECT_TRUE(std::isfinite(YawAngle(FromPositions({{1, 1, 0}, {1, 1, 0}, {1, 1, 0}}), 1)));
}

TEST(RecordHeading, CompassDirectionsOfTheForwardAxis) {
    ReplayRecord r;
    r.forwardAxis = {0, -0.5f, 0};
    EXPECT_FLOAT_EQ(RecordHeading(r), 0.0f);
    r.forwardAxis = {-0.5f, 0, 0};
    EXPECT_NEAR(RecordHeading(r), 1.5707964f, test::kFloatTolerance);
    r.forwardAxis = {0, 0.5f, 0};
    EXPECT_NEAR(RecordHeading(r), 3.1415927f, test::kFloatTolerance);
    r.forwardAxis = {0.5f, 0, 0};
    EXPECT_NEAR(RecordHeading(r), 4.712389f, test::kFloatTolerance);
    r.forwardAxis = {0, 0, 0.5f};
    EXPECT_EQ(RecordHeading(r), 0.0f);
}

TEST(NearestRecordAtDistance, TiesAndRepeats) {
    const ReplayFile f = FromDistances({0, 10, 20, 20, 20, 30});
    EXPECT_EQ(NearestRecordAtDistance(f, 5.0f), 0);  // halfway: the earlier record
    EXPECT_EQ(NearestRecordAtDistance(f, 15.0f), 1);
    EXPECT_EQ(NearestRecordAtDistance(f, 20.0f), 4);  // equal to several: the last of them
    EXPECT_EQ(NearestRecordAtDistance(f, -50.0f), 0);
    EXPECT_EQ(NearestRecordAtDistance(f, 1e12f), 5);
    EXPECT_EQ(NearestRecordAtDistance(FromDistances({7}), 100.0f), 0);
    EXPECT_EQ(NearestRecordAtDistance(FromDistances({}), 100.0f), -1);
}

// The bisection over the running maximum must give the linear scan's answer for any series,
// rising or not, with repeats, NaNs and infinities, and for any distance asked.
TEST(NearestRecordAtDistance, SearchMatchesLinearScanOnRandomSeries) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> value(-50.0f, 150.0f);
    std::uniform_int_distribution<int> kind(0, 9);
    for (int series = 0; series < 400; ++series) {
        const int n = 1 + static_cast<int>(rng() % 200);
        std::vector<float> d;
        float rising = value(rng);
        for (int i = 0; i < n; ++i) {
            switch (series % 3 == 0 ? 9 : kind(rng)) {
                case 0:
                    d.push_back(value(rng));
                    break;  // jump anywhere
                case 1:
                    d.push_back(d.empty() ? 0.0f : d.back());
                    break;  // repeat
                case 2:
                    d.push_back(NAN);
                    break;
                case 3:
                    d.push_back(series % 7 == 0 ? INFINITY : rising);
                    break;
                default:
                    rising += static_cast<float>(rng() % 4) * 0.5f;
                    d.push_back(rising);
                    break;
            }
        }
        const ReplayFile f = FromDistances(d);
        DistanceSearch search;
        BuildDistanceSearch(f, &search);
        std::vector<float> probes = {NAN, INFINITY, -INFINITY, -1e12f, 1e12f};
        for (float v : d) {
            probes.push_back(v);
            probes.push_back(std::nextafter(v, INFINITY));
            probes.push_back(std::nextafter(v, -INFINITY));
        }
        for (int k = 0; k < 50; ++k) probes.push_back(value(rng));
        for (float p : probes) {
            ASSERT_EQ(NearestRecordAtDistance(f, p, &search), NearestRecordAtDistance(f, p))
                << "series " << series << " probe " << p;
        }
    }
}

TEST(TimingDifference, AgainstItselfAndAShiftedCopy) {
    test::LapPlan plan;
    plan.records = 400;
    const ReplayFile a = test::BuildLap(plan);
    for (int i : {0, 1, 200, 399}) EXPECT_EQ(TimingDifference(a, i, a, i), 0.0f);
    // b reaches a's distance at record k only at record k + 50.
    plan.startDistance = -50 * 0.25f;
    const ReplayFile b = test::BuildLap(plan);
    EXPECT_FLOAT_EQ(TimingDifference(a, 100, b, 100), 0.5f);
    EXPECT_FLOAT_EQ(TimingDifference(b, 100, a, 100), -0.5f);
    DistanceSearch sa, sb;
    BuildDistanceSearch(a, &sa);
    BuildDistanceSearch(b, &sb);
    EXPECT_FLOAT_EQ(TimingDifference(a, 100, b, 100, &sa, &sb), 0.5f);
}

}  // namespace
}  // namespace lapquill
