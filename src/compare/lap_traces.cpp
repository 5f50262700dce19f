// The traces pane's numbers. See lap_traces.h.
#include "compare/lap_traces.h"

#include <algorithm>
#include <cmath>

namespace lapquill {

namespace {

constexpr double kMetresPerMile = 1609.344;
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kMinimumWindow = 1.0;   // m: the narrowest distance window
constexpr double kMinimumStep = 0.01;    // m: samples never closer than this

// The channel behind each plot; the delta has none.
constexpr Channel kChannelOf[kTraceKinds] = {Channel::Distance, Channel::Speed, Channel::Throttle,
                                             Channel::Brake,    Channel::Steer, Channel::Gear};

// A recorded value in the unit its plot shows.
double Shown(TraceKind kind, double v, const DisplayUnits& units) {
    switch (kind) {
        case TraceKind::Speed:
            return units.speedUnit == 0 ? v * 3.6 : v * 3.6 * 0.621371;
        case TraceKind::Throttle:
        case TraceKind::Brake:
            return v * 100.0;
        case TraceKind::Steer:
            return v * kDegreesPerRadian;
        case TraceKind::Delta:
        case TraceKind::Gear:
            break;
    }
    return v;
}

const ComparedLap& Reference(const Comparison& cmp) {
    return cmp.laps[static_cast<std::size_t>(cmp.reference)];
}

// Whether the segment data was computed for the reference lap's slot (it is not while a set is
// being replaced, or for a comparison of laps the view does not hold).
bool HasSegments(const Comparison& cmp, const SegmentData& segments) {
    const auto slot = static_cast<std::size_t>(Reference(cmp).slot);
    return slot < segments.customStartIndices.size() && slot < segments.markerStartIndices.size();
}

// The record of the reference lap nearest coordinate x.
std::int32_t NearestReferenceRecord(const Comparison& cmp, double x) {
    const CoordinatePoint at = LocateCoordinate(Reference(cmp).coordinate, x);
    return at.fraction < 0.5 ? at.before : at.after;
}

}  // namespace

std::string TraceLabel(TraceKind kind, const DisplayUnits& units) {
    switch (kind) {
        case TraceKind::Delta: return "Delta s";
        case TraceKind::Speed: return units.speedUnit == 0 ? "km/h" : "mi/h";
        case TraceKind::Throttle: return "Throttle %";
        case TraceKind::Brake: return "Brake %";
        case TraceKind::Steer: return "Steer deg";
        case TraceKind::Gear: return "Gear";
    }
    return {};
}

const char* DistanceUnitName(const DisplayUnits& units) {
    return units.distanceUnit == 0 ? "m" : units.distanceUnit == 1 ? "km" : "mi";
}

double ToDisplayDistance(double metres, const DisplayUnits& units) {
    switch (units.distanceUnit) {
        case 0: return metres;
        case 1: return metres / 1000.0;
        default: return metres / kMetresPerMile;
    }
}

double FromDisplayDistance(double shown, const DisplayUnits& units) {
    switch (units.distanceUnit) {
        case 0: return shown;
        case 1: return shown * 1000.0;
        default: return shown * kMetresPerMile;
    }
}

LapTraces BuildLapTraces(const Comparison& cmp, DistanceRange window, std::size_t samples,
                         const DisplayUnits& units) {
    LapTraces out;
    if (cmp.Empty()) return out;
    out.reference = cmp.reference;
    samples = std::max<std::size_t>(samples, 1);
    const double margin = std::max(window.Width(), 0.0) / 3.0;
    const double lo = std::max(cmp.start, window.lo - margin);
    const double hi = std::min(cmp.end, window.hi + margin);
    std::vector<double> xs;
    if (hi > lo) {
        const double step = std::max((hi - lo) / static_cast<double>(samples), kMinimumStep);
        const auto n = static_cast<std::size_t>(std::ceil((hi - lo) / step));
        xs.reserve(n + 1);
        for (std::size_t k = 0; k < n; ++k) xs.push_back(lo + static_cast<double>(k) * step);
        xs.push_back(hi);
    } else {
        xs.push_back(std::clamp(window.lo, cmp.start, cmp.end));
    }

    const std::size_t laps = cmp.laps.size();
    for (auto& kind : out.values) kind.assign(laps, std::vector<double>(xs.size()));
    const ComparedLap& ref = Reference(cmp);
    std::vector<double> refTimes(xs.size());
    CoordinateCursor refCursor(ref.coordinate);
    for (std::size_t k = 0; k < xs.size(); ++k) refTimes[k] = refCursor.Locate(xs[k]).time - ref.startTime;

    for (std::size_t b = 0; b < laps; ++b) {
        const ComparedLap& lap = cmp.laps[b];
        const std::vector<ReplayRecord>& records = lap.replay->records;
        CoordinateCursor cursor(lap.coordinate);
        for (std::size_t k = 0; k < xs.size(); ++k) {
            const CoordinatePoint at = cursor.Locate(xs[k]);
            out.values[0][b][k] = (at.time - lap.startTime) - refTimes[k];
            const ReplayRecord& ra = records[static_cast<std::size_t>(at.before)];
            const ReplayRecord& rb = records[static_cast<std::size_t>(at.after)];
            for (std::size_t c = 1; c < kTraceKinds; ++c) {
                const Channel ch = kChannelOf[c];
                const double v = ValueBetween(at, RecordValue(ra, ch), RecordValue(rb, ch),
                                              ch == Channel::Gear);
                out.values[c][b][k] = Shown(static_cast<TraceKind>(c), v, units);
            }
        }
    }
    out.distance.reserve(xs.size());
    for (double x : xs) out.distance.push_back(ToDisplayDistance(x, units));
    return out;
}

std::array<std::vector<double>, kTraceKinds> TraceValuesAt(const Comparison& cmp, double x,
                                                           const DisplayUnits& units) {
    std::array<std::vector<double>, kTraceKinds> out;
    for (std::size_t b = 0; b < cmp.laps.size(); ++b) {
        const ComparedLap& lap = cmp.laps[b];
        const CoordinatePoint at = LocateCoordinate(lap.coordinate, x);
        out[0].push_back(DeltaAt(cmp, b, x));
        for (std::size_t c = 1; c < kTraceKinds; ++c) {
            out[c].push_back(Shown(static_cast<TraceKind>(c),
                                   ChannelValue(*lap.replay, at, kChannelOf[c]), units));
        }
    }
    return out;
}

double ReferenceDistanceAt(const Comparison& cmp, const SegmentData& segments, SyncMode mode,
                           std::int32_t t) {
    if (cmp.Empty()) return 0;
    const ComparedLap& ref = Reference(cmp);
    if (!HasSegments(cmp, segments)) mode = SyncMode::Lap;
    const std::int32_t k = RecordIndexAt(segments, *ref.replay, ref.slot, t, mode);
    return ref.coordinate[static_cast<std::size_t>(k)];
}

std::int32_t PlaybackTimeAtDistance(const Comparison& cmp, const SegmentData& segments,
                                    SyncMode mode, double x) {
    if (cmp.Empty()) return 0;
    const ComparedLap& ref = Reference(cmp);
    const std::int32_t k = NearestReferenceRecord(cmp, x);
    if (mode == SyncMode::Lap || !HasSegments(cmp, segments)) return k;
    const std::int32_t s = segments.currentSegment;
    const std::int32_t first = SegmentStart(segments, ref.slot, s, mode);
    const std::int32_t last = SegmentEnd(segments, *ref.replay, ref.slot, s, mode);
    return std::clamp(k, first, last) - first;
}

DistanceRange SegmentDistanceRange(const Comparison& cmp, const SegmentData& segments,
                                   std::int32_t s) {
    if (cmp.Empty()) return {};
    if (!HasSegments(cmp, segments)) return WholeLapRange(cmp);
    const ComparedLap& ref = Reference(cmp);
    const std::int32_t first = SegmentStart(segments, ref.slot, s, SyncMode::SegmentMarker);
    const std::int32_t last =
        SegmentEnd(segments, *ref.replay, ref.slot, s, SyncMode::SegmentMarker);
    DistanceRange r{ref.coordinate[static_cast<std::size_t>(first)],
                    ref.coordinate[static_cast<std::size_t>(last)]};
    if (r.Width() < kMinimumWindow) {
        const double mid = (r.lo + r.hi) / 2.0;
        r = {mid - kMinimumWindow / 2.0, mid + kMinimumWindow / 2.0};
    }
    return r;
}

DistanceRange WholeLapRange(const Comparison& cmp) {
    DistanceRange r{cmp.start, cmp.end};
    if (!(r.Width() >= kMinimumWindow)) r.hi = r.lo + kMinimumWindow;
    return r;
}

DistanceRange ZoomRange(DistanceRange window, double anchor, double factor, DistanceRange whole) {
    if (!(factor > 0.0) || !std::isfinite(factor)) factor = 1.0;
    const double width = std::clamp(window.Width() * factor, kMinimumWindow,
                                    std::max(whole.Width(), kMinimumWindow));
    // The anchor keeps its place as a fraction of the window.
    double f = window.Width() > 0.0 ? (anchor - window.lo) / window.Width() : 0.5;
    if (!std::isfinite(f)) f = 0.5;
    f = std::clamp(f, 0.0, 1.0);
    DistanceRange r{anchor - f * width, anchor - f * width + width};
    return PanRange(r, 0.0, whole);
}

DistanceRange PanRange(DistanceRange window, double shift, DistanceRange whole) {
    if (!std::isfinite(shift)) shift = 0.0;
    const double width = std::min(window.Width(), whole.Width());
    double lo = window.lo + shift;
    lo = std::clamp(lo, whole.lo, whole.hi - width);
    return {lo, lo + width};
}

}  // namespace lapquill
