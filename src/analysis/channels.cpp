#include "analysis/channels.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "math/math3d.h"

namespace lapquill {

namespace {

Vector3 Sub(const Vector3& a, const Vector3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vector3 Scale(const Vector3& a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
float Dot(const Vector3& a, const Vector3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vector3 Normalized(const Vector3& v) {
    Vector3 out;
    D3DXVec3Normalize(&out, &v);
    return out;
}

// Position difference of two records as a speed: one record is 0.01 s.
Vector3 StepVelocity(const ReplayFile& replay, std::int32_t from, std::int32_t to) {
    return Scale(Sub(replay.records[to].position, replay.records[from].position), 100.0f);
}

std::int32_t NearestLinear(const ReplayFile& replay, float d) {
    const std::int32_t n = replay.RecordCount();
    std::int32_t i = 1;
    while (i < n && !(replay.records[i].distance > d)) ++i;
    return i;
}

std::int32_t NearestBisect(const DistanceSearch& search, std::int32_t n, float d) {
    // First i in [1, n) with runningMax[i] > d; n when there is none.
    const auto begin = search.runningMax.begin() + 1;
    const auto end = search.runningMax.begin() + n;
    const auto it = std::partition_point(begin, end, [d](float m) { return !(m > d); });
    return static_cast<std::int32_t>(it - search.runningMax.begin());
}

}  // namespace

void BuildDistanceSearch(const ReplayFile& replay, DistanceSearch* search) {
    const std::int32_t n = replay.RecordCount();
    search->runningMax.assign(static_cast<std::size_t>(std::max(n, 0)), 0.0f);
    if (n < 2) return;
    // -infinity compares greater than nothing, so records 1.. before the first real number
    // never count as "beyond d"; NaN distances compare false and are skipped the same way.
    float m = -INFINITY;
    for (std::int32_t i = 1; i < n; ++i) {
        const float v = replay.records[i].distance;
        if (v > m) m = v;
        search->runningMax[i] = m;
    }
}

std::int32_t NearestRecordAtDistance(const ReplayFile& replay, float d,
                                     const DistanceSearch* search) {
    const std::int32_t n = replay.RecordCount();
    if (n < 2) return n - 1;
    const bool indexed =
        search != nullptr && search->runningMax.size() == static_cast<std::size_t>(n);
    const std::int32_t i = indexed ? NearestBisect(*search, n, d) : NearestLinear(replay, d);
    if (i >= n) return n - 1;
    const float below = std::fabs(replay.records[i - 1].distance - d);
    const float above = replay.records[i].distance - d;
    return below <= above ? i - 1 : i;
}

Vector3 RecordVelocity(const ReplayFile& replay, std::int32_t i) {
    const std::int32_t n = replay.RecordCount();
    assert(i >= 0 && i < n);
    if (n < 2) return {0, 0, 0};
    if (i == 0) return StepVelocity(replay, 0, 1);
    if (i == n - 1) return StepVelocity(replay, n - 2, n - 1);
    const Vector3 back = StepVelocity(replay, i - 1, i);
    const Vector3 ahead = StepVelocity(replay, i, i + 1);
    return {0.5f * back.x + 0.5f * ahead.x, 0.5f * back.y + 0.5f * ahead.y,
            0.5f * back.z + 0.5f * ahead.z};
}

Vector3 RecordAcceleration(const ReplayFile& replay, std::int32_t i) {
    assert(i >= 2 && i < replay.RecordCount());
    return Scale(Sub(StepVelocity(replay, i - 1, i), StepVelocity(replay, i - 2, i - 1)), 100.0f);
}

LateralLongitudinal LateralLongitudinalAccel(const ReplayFile& replay, std::int32_t i) {
    const std::int32_t n = replay.RecordCount();
    assert(i >= 0 && i < n);
    const bool hasBefore = i >= 2;
    const bool hasAfter = i < n - 2;
    Vector3 acc;
    if (hasBefore && hasAfter) {
        const Vector3 a = RecordAcceleration(replay, i);
        const Vector3 b = RecordAcceleration(replay, i + 2);
        acc = {0.5f * a.x + 0.5f * b.x, 0.5f * a.y + 0.5f * b.y, 0.5f * a.z + 0.5f * b.z};
    } else if (hasAfter) {
        acc = RecordAcceleration(replay, i + 2);
    } else if (hasBefore) {
        acc = RecordAcceleration(replay, i);
    } else {
        return {};  // too few records for a second difference
    }
    const ReplayRecord& rec = replay.records[i];
    return {Dot(Normalized(rec.lateralAxis), acc), Dot(Normalized(rec.forwardAxis), acc)};
}

float YawAngle(const ReplayFile& replay, std::int32_t i) {
    const ReplayRecord& rec = replay.records[i];
    const Vector3 v = Normalized(RecordVelocity(replay, i));
    const Vector3 lateral = Normalized(rec.lateralAxis);
    const Vector3 forward = Normalized(rec.forwardAxis);
    // Rounding can push the cosine a hair outside [-1, 1]; the angle there is 0 or 180.
    const double c = std::clamp(static_cast<double>(Dot(lateral, v)), -1.0, 1.0);
    float yaw = static_cast<float>(std::acos(c) * 57.2957763671875 - 90.0);
    if (Dot(forward, v) < 0) yaw = yaw > 0 ? 180.0f - yaw : -180.0f - yaw;
    return yaw;
}

float RecordHeading(const ReplayRecord& record) {
    const Vector3& f = record.forwardAxis;
    if (f.x == 0 && f.y == 0) return 0;
    float h = std::atan2(-f.x, -f.y);
    if (h < 0) h += 6.2831855f;
    return h;
}

float TimingDifference(const ReplayFile& a, std::int32_t ia, const ReplayFile& b, std::int32_t ib,
                       const DistanceSearch* searchA, const DistanceSearch* searchB) {
    const float da = a.records[ia].distance;
    const float db = b.records[ib].distance;
    std::int32_t diff;
    if (da < db) {
        diff = ia - NearestRecordAtDistance(a, db, searchA);
    } else {
        diff = NearestRecordAtDistance(b, da, searchB) - ib;
    }
    return static_cast<float>(diff) * 0.01f;
}

}  // namespace lapquill
