// A lap's rising coordinate and the look-ups along it: the time at a coordinate and a
// channel's value there, by binary search or by a cursor that walks from its last answer.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "compare/compare.h"

namespace lapquill {

namespace {

// Beyond this many steps from its last answer a cursor searches instead of walking.
constexpr std::size_t kCursorWalk = 16;

CoordinatePoint Between(std::span<const double> c, std::size_t i, double x) {
    // c[i - 1] < x <= c[i], so the difference is positive.
    const double f = (x - c[i - 1]) / (c[i] - c[i - 1]);
    return {static_cast<std::int32_t>(i - 1), static_cast<std::int32_t>(i), f,
            (static_cast<double>(i - 1) + f) * kRecordSeconds};
}

CoordinatePoint AtEnd(std::span<const double> c) {
    const auto last = static_cast<std::int32_t>(c.size() - 1);
    return {last, last, 0.0, static_cast<double>(last) * kRecordSeconds};
}

float RecordValue(const ReplayRecord& r, Channel channel) {
    switch (channel) {
        case Channel::Speed: return r.speed;
        case Channel::Throttle: return r.throttle;
        case Channel::Brake: return r.brake;
        case Channel::Clutch: return r.clutch;
        case Channel::Handbrake: return r.handbrake;
        case Channel::Steer: return r.steer;
        case Channel::Gear: return static_cast<float>(static_cast<int>(r.gear) - 1);
        case Channel::PositionX: return r.position.x;
        case Channel::PositionY: return r.position.y;
        case Channel::PositionZ: return r.position.z;
        case Channel::Distance: return r.distance;
    }
    return 0.0f;
}

}  // namespace

void MakeRising(std::vector<double>* values) {
    std::vector<double>& v = *values;
    const auto firstFinite =
        std::find_if(v.begin(), v.end(), [](double d) { return std::isfinite(d); });
    double top = firstFinite == v.end() ? 0.0 : *firstFinite;
    for (double& d : v) {
        if (std::isfinite(d) && d > top) top = d;
        d = top;
    }
}

std::vector<double> RisingDistance(const ReplayFile& lap) {
    std::vector<double> c(lap.records.size());
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = lap.records[i].distance;
    MakeRising(&c);
    return c;
}

CoordinatePoint LocateCoordinate(std::span<const double> c, double x) {
    assert(!c.empty());
    if (!(x > c.front())) return {};
    if (x >= c.back()) return AtEnd(c);
    const auto it = std::lower_bound(c.begin(), c.end(), x);
    return Between(c, static_cast<std::size_t>(it - c.begin()), x);
}

CoordinatePoint CoordinateCursor::Locate(double x) {
    assert(!c_.empty());
    if (!(x > c_.front())) {
        i_ = 0;
        return {};
    }
    if (x >= c_.back()) {
        i_ = c_.size() - 1;
        return AtEnd(c_);
    }
    // Wanted: the first i with c[i] >= x; it lies in [1, n - 1].
    std::size_t i = std::clamp<std::size_t>(i_, 1, c_.size() - 1);
    std::size_t steps = 0;
    if (c_[i] < x) {
        while (c_[i] < x && steps < kCursorWalk) ++i, ++steps;
        if (c_[i] < x) {
            i = static_cast<std::size_t>(std::lower_bound(c_.begin() + static_cast<std::ptrdiff_t>(i),
                                                          c_.end(), x) -
                                         c_.begin());
        }
    } else {
        while (i > 1 && c_[i - 1] >= x && steps < kCursorWalk) --i, ++steps;
        if (i > 1 && c_[i - 1] >= x) {
            i = static_cast<std::size_t>(
                std::lower_bound(c_.begin(), c_.begin() + static_cast<std::ptrdiff_t>(i), x) -
                c_.begin());
        }
    }
    i_ = i;
    return Between(c_, i, x);
}

double ChannelValue(const ReplayFile& lap, const CoordinatePoint& at, Channel channel) {
    const ReplayRecord& a = lap.records[static_cast<std::size_t>(at.before)];
    const ReplayRecord& b = lap.records[static_cast<std::size_t>(at.after)];
    const double va = RecordValue(a, channel);
    if (at.before == at.after || at.fraction <= 0.0) return va;
    const double vb = RecordValue(b, channel);
    // The gear is a step: the one engaged until the lap reaches the next record.
    if (at.fraction >= 1.0) return vb;
    if (channel == Channel::Gear) return va;
    return va + at.fraction * (vb - va);
}

}  // namespace lapquill
