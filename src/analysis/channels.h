// Values derived from a replay's records on demand: look-ups by index and by track distance,
// velocity, acceleration, lateral and longitudinal acceleration, yaw, heading and the timing
// difference of two replays. Pure functions of the loaded records; nothing is cached except
// DistanceSearch, a running maximum of the distances built once per accepted replay, which lets
// a distance look-up take O(log n) while returning exactly what the linear scan returns.
// Units: m, s, m/s, m/s^2, degrees (yaw), radians (heading); record i lies i x 0.01 s in.
#pragma once

#include <cstdint>
#include <vector>

#include "files/replay_file.h"
#include "math/math_types.h"

namespace lapquill {

// Per replay: runningMax[i] = the largest distance of records 1..i (NaN distances skipped;
// runningMax[0] is unused). The first record beyond a distance d is the first i >= 1 whose
// runningMax exceeds d, and runningMax never falls, so it can be found by bisection.
struct DistanceSearch {
    std::vector<float> runningMax;  // m, one per record of the replay it was built from
};

void BuildDistanceSearch(const ReplayFile& replay, DistanceSearch* search);

// Index of the record whose distance is nearest d; a tie goes to the earlier record. n < 2
// gives n - 1. With a search built from this replay the answer is found by bisection,
// otherwise by scanning from the first record; both give the same index for any series.
std::int32_t NearestRecordAtDistance(const ReplayFile& replay, float d,
                                     const DistanceSearch* search = nullptr);

struct LateralLongitudinal {
    float lateral = 0;       // m/s^2 along the car's lateral axis
    float longitudinal = 0;  // m/s^2 along its forward axis; negative while braking
};

// Central difference of positions (forward at record 0, backward at the last record), m/s.
// A replay of one record gives (0, 0, 0).
Vector3 RecordVelocity(const ReplayFile& replay, std::int32_t i);
// Second difference of positions ending at record i (i >= 2), m/s^2.
Vector3 RecordAcceleration(const ReplayFile& replay, std::int32_t i);
// The mean of the second differences ending at i and starting at i, projected on the car's
// axes. Where neither exists (replays of at most three records) the result is (0, 0).
LateralLongitudinal LateralLongitudinalAccel(const ReplayFile& replay, std::int32_t i);
// Angle between where the car points and where it travels, degrees in [-180, 180).
float YawAngle(const ReplayFile& replay, std::int32_t i);
// Compass heading of the forward axis, radians in [0, 2 pi): -Y is 0, -X is pi / 2.
float RecordHeading(const ReplayRecord& record);

// How far replay b at record ib trails the reference a at record ia, seconds: positive when b
// is behind. The searches may be null (linear look-ups).
float TimingDifference(const ReplayFile& a, std::int32_t ia, const ReplayFile& b, std::int32_t ib,
                       const DistanceSearch* searchA = nullptr,
                       const DistanceSearch* searchB = nullptr);

}  // namespace lapquill
