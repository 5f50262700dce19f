// Laps with known answers for the comparison tests: a lap is the arc length s it has covered
// at each record (0.01 s apart), driven at constant speed through pieces, laid on a straight
// line along +X or on a circle of 400 m whose finish meets its start. The distance channel is
// s itself unless a test changes it.
#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "tools/data_writers.h"

namespace lapquill::test {

inline constexpr double kCircleLength = 400.0;  // m
inline constexpr double kPi = 3.14159265358979323846;

enum class Shape { Straight, Circle };

// Arc lengths from `from` to `to` at the given speeds: {speed m/s, until s} pieces.
inline std::vector<double> DriveProfile(double from, std::vector<std::pair<double, double>> pieces) {
    std::vector<double> s = {from};
    double x = from;
    for (const auto& [speed, until] : pieces) {
        const double step = speed * 0.01;
        // The record count of the piece rounded, so a piece ends on a record when it can.
        const long n = std::lround((until - x) / step);
        const double start = x;
        for (long k = 1; k <= n; ++k) s.push_back(start + step * static_cast<double>(k));
        x = s.back();
    }
    return s;
}

inline ReplayFile LapFromArc(const std::vector<double>& s, Shape shape = Shape::Straight,
                             std::vector<std::int32_t> splitTimes = {8000, 16000}) {
    ReplayHeaderFields f;
    f.playerName = "Test";
    f.carName = "Car";
    f.trackName = "Ring";
    f.trackConfig = "GP";
    f.weather = "Dry";
    f.splitTimes = std::move(splitTimes);
    f.blockCount = 0;
    f.recordCount = static_cast<std::int32_t>(s.size());
    ReplayFile lap;
    lap.header = BuildReplayHeader(f);
    const double radius = kCircleLength / (2 * kPi);
    for (std::size_t i = 0; i < s.size(); ++i) {
        ReplayRecord r;
        const double next = i + 1 < s.size() ? s[i + 1] : s[i];
        const double previous = i > 0 ? s[i - 1] : s[i];
        r.speed = static_cast<float>((next - previous) / (i > 0 && i + 1 < s.size() ? 0.02 : 0.01));
        r.throttle = 1.0f;
        r.gear = 4;
        r.distance = static_cast<float>(s[i]);
        if (shape == Shape::Straight) {
            r.position = {static_cast<float>(s[i]), 0.0f, 0.0f};
        } else {
            const double a = s[i] / radius;
            r.position = {static_cast<float>(radius * std::sin(a)),
                          static_cast<float>(radius * (1 - std::cos(a))), 0.0f};
        }
        lap.records.push_back(r);
    }
    return lap;
}

}  // namespace lapquill::test
