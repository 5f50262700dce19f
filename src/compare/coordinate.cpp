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

CoordinatePoint AtEnd(std::span<const double> c) {
    const auto last = static_cast<std::int32_t>(c.size() - 1);
    return {last, last, 0.0, static_cast<double>(last) * kRecordSeconds};
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

std::vector<double> RisingDistance(const ReplayFile& lap, std::vector<float>* speeds) {
    // One pass over the records: they are large, and reading them is most of the cost.
    const std::size_t n = lap.records.size();
    std::vector<double> c;
    c.reserve(n);
    if (speeds) speeds->resize(n);
    std::size_t i = 0;
    while (i < n && !std::isfinite(lap.records[i].distance)) ++i;
    double top = i < n ? lap.records[i].distance : 0.0;
    c.assign(i, top);
    if (speeds) {
        for (std::size_t j = 0; j < i; ++j) (*speeds)[j] = lap.records[j].speed;
    }
    for (; i < n; ++i) {
        const ReplayRecord& r = lap.records[i];
        const double d = r.distance;
        if (std::isfinite(d) && d > top) top = d;
        c.push_back(top);
        if (speeds) (*speeds)[i] = r.speed;
    }
    return c;
}

CoordinatePoint LocateCoordinate(std::span<const double> c, double x) {
    assert(!c.empty());
    if (!(x > c.front())) return {};
    if (x >= c.back()) return AtEnd(c);
    const auto it = std::lower_bound(c.begin(), c.end(), x);
    return PointBetween(c, static_cast<std::size_t>(it - c.begin()), x);
}

CoordinatePoint CoordinateCursor::Seek(double x) {
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
    return PointBetween(c_, i, x);
}

}  // namespace lapquill
