// Look-ups along a comparison: a lap's time, values and delta at any coordinate, the delta
// trace at a step, and the per-record values the map colours a lap's ribbon by.
#include <algorithm>
#include <cmath>

#include "compare/compare.h"

namespace lapquill {

namespace {

const ComparedLap& ReferenceLap(const Comparison& cmp) {
    return cmp.laps[static_cast<std::size_t>(cmp.reference)];
}

// A lap's delta along rising coordinates, with one cursor on the lap and one on the reference.
class DeltaCursor {
  public:
    DeltaCursor(const Comparison& cmp, std::size_t lap)
        : lap_(cmp.laps[lap]), ref_(ReferenceLap(cmp)), b_(lap_.coordinate), r_(ref_.coordinate) {}
    double At(double x) {
        return (b_.Locate(x).time - lap_.startTime) - (r_.Locate(x).time - ref_.startTime);
    }

  private:
    const ComparedLap& lap_;
    const ComparedLap& ref_;
    CoordinateCursor b_, r_;
};

}  // namespace

double LapTimeAt(const Comparison& cmp, std::size_t lap, double x) {
    return LocateCoordinate(cmp.laps[lap].coordinate, x).time;
}

double LapValueAt(const Comparison& cmp, std::size_t lap, double x, Channel channel) {
    const ComparedLap& l = cmp.laps[lap];
    return ChannelValue(*l.replay, LocateCoordinate(l.coordinate, x), channel);
}

double DeltaAt(const Comparison& cmp, std::size_t lap, double x) {
    const ComparedLap& ref = ReferenceLap(cmp);
    return (LapTimeAt(cmp, lap, x) - cmp.laps[lap].startTime) -
           (LocateCoordinate(ref.coordinate, x).time - ref.startTime);
}

std::vector<double> TraceCoordinates(const Comparison& cmp, double step) {
    std::vector<double> xs;
    if (cmp.Empty() || !(step > 0.0)) return xs;
    const double span = cmp.end - cmp.start;
    if (span > 0.0) xs.reserve(static_cast<std::size_t>(span / step) + 2);
    for (std::size_t k = 0;; ++k) {
        // Multiplied, not accumulated, so a long trace does not drift from S + k x step.
        const double x = cmp.start + static_cast<double>(k) * step;
        if (!(x < cmp.end)) break;
        xs.push_back(x);
    }
    xs.push_back(cmp.end);
    return xs;
}

DeltaTrace BuildDeltaTrace(const Comparison& cmp, double step) {
    DeltaTrace trace;
    trace.distance = TraceCoordinates(cmp, step);
    const std::size_t n = trace.distance.size();
    // The reference's own time along the trace, looked up once for every lap.
    std::vector<double> referenceTime(n);
    if (!cmp.Empty()) {
        const ComparedLap& ref = ReferenceLap(cmp);
        CoordinateCursor cursor(ref.coordinate);
        for (std::size_t k = 0; k < n; ++k)
            referenceTime[k] = cursor.Locate(trace.distance[k]).time - ref.startTime;
    }
    trace.delta.reserve(cmp.laps.size());
    trace.speed.reserve(cmp.laps.size());
    for (const ComparedLap& lap : cmp.laps) {
        CoordinateCursor cursor(lap.coordinate);
        std::vector<double> delta(n), speed(n);
        for (std::size_t k = 0; k < n; ++k) {
            const CoordinatePoint at = cursor.Locate(trace.distance[k]);
            delta[k] = (at.time - lap.startTime) - referenceTime[k];
            speed[k] = ValueBetween(at, lap.speed[static_cast<std::size_t>(at.before)],
                                    lap.speed[static_cast<std::size_t>(at.after)], false);
        }
        trace.delta.push_back(std::move(delta));
        trace.speed.push_back(std::move(speed));
    }
    return trace;
}

std::vector<double> RecordDeltas(const Comparison& cmp, std::size_t lap) {
    const std::vector<double>& c = cmp.laps[lap].coordinate;
    DeltaCursor cursor(cmp, lap);
    std::vector<double> out(c.size());
    for (std::size_t i = 0; i < c.size(); ++i) out[i] = cursor.At(c[i]);
    return out;
}

std::vector<double> RecordDeltaRates(const Comparison& cmp, std::size_t lap, double halfWindow) {
    const std::vector<double>& c = cmp.laps[lap].coordinate;
    DeltaCursor low(cmp, lap), high(cmp, lap);
    std::vector<double> out(c.size(), 0.0);
    for (std::size_t i = 0; i < c.size(); ++i) {
        const double x0 = std::clamp(c[i] - halfWindow, cmp.start, cmp.end);
        const double x1 = std::clamp(c[i] + halfWindow, cmp.start, cmp.end);
        if (x1 > x0) out[i] = (high.At(x1) - low.At(x0)) / (x1 - x0);
    }
    return out;
}

}  // namespace lapquill
