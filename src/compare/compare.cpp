// The comparison of a set of laps: the reference, every lap's coordinates, the sections between
// the markers with their times, losses and minimum speeds, the lap totals, the theoretical best.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "compare/compare.h"

namespace lapquill {

namespace {

// The lap time the statistics table shows: the last split time the header holds.
std::int32_t TableLapTimeMs(const ReplayFile& lap) {
    const int sectors = std::min<int>(lap.header.SectorCount(), kMaxSectorCount);
    return sectors > 0 ? lap.header.SplitTime(sectors - 1) : 0;
}

struct Marker {
    double distance;  // m
    std::size_t index;  // file order
};

// The section boundaries S, the markers strictly between S and E (ascending, equal ones
// merged: the first in file order names the section), E; and the sections' names.
void BuildSections(const CompareInput& in, double s, double e, Comparison* cmp) {
    std::vector<Marker> markers;
    for (std::size_t m = 0; m < in.markerDistances.size(); ++m) {
        if (std::isfinite(in.markerDistances[m])) markers.push_back({in.markerDistances[m], m});
    }
    std::stable_sort(markers.begin(), markers.end(),
                     [](const Marker& a, const Marker& b) { return a.distance < b.distance; });
    auto nameOf = [&](std::size_t m) {
        return m < in.markerNames.size() ? in.markerNames[m] : std::string();
    };
    std::string firstName = "Start";
    // The greatest marker at or below S; among equal ones the first in file order.
    for (std::size_t m = 0; m < markers.size() && markers[m].distance <= s; ++m) {
        if (m == 0 || markers[m].distance > markers[m - 1].distance)
            firstName = nameOf(markers[m].index);
    }
    ComparedSection first;
    first.name = firstName;
    first.start = s;
    cmp->sections.push_back(first);
    for (std::size_t m = 0; m < markers.size(); ++m) {
        const double d = markers[m].distance;
        if (!(d > s && d < e)) continue;
        if (m > 0 && markers[m - 1].distance == d) continue;
        cmp->sections.back().end = d;
        ComparedSection next;
        next.name = nameOf(markers[m].index);
        next.start = d;
        cmp->sections.push_back(next);
    }
    cmp->sections.back().end = e;
}

// The smallest finite speed of the lap's records in each section: x0 <= c < x1, and
// x0 <= c <= x1 in the last one.
void MinimumSpeeds(std::span<const float> speeds, std::span<const double> coordinate,
                   Comparison* cmp) {
    auto& sections = cmp->sections;
    const std::size_t last = sections.size() - 1;
    std::size_t k = 0;
    for (std::size_t i = 0; i < coordinate.size(); ++i) {
        const double c = coordinate[i];
        if (c < cmp->start) continue;
        while (k < last && c >= sections[k + 1].start) ++k;
        if (k == last && c > cmp->end) break;
        const float v = speeds[i];
        if (!std::isfinite(v)) continue;
        std::optional<float>& slot = sections[k].minSpeed.back();
        if (!slot || v < *slot) slot = v;
    }
}

std::vector<float> RecordSpeeds(const ReplayFile& lap) {
    std::vector<float> v(lap.records.size());
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = lap.records[i].speed;
    return v;
}

}  // namespace

std::int32_t ResolveReference(std::span<const ReplayFile> laps, std::int32_t requested) {
    const auto n = static_cast<std::int32_t>(laps.size());
    if (requested >= 0) return requested < n ? requested : -1;
    if (requested != kFastestReference || n == 0) return -1;
    std::int32_t best = -1;
    for (std::int32_t r = 0; r < n; ++r) {
        const std::int32_t t = TableLapTimeMs(laps[static_cast<std::size_t>(r)]);
        if (t > 0 && (best < 0 || t < TableLapTimeMs(laps[static_cast<std::size_t>(best)])))
            best = r;
    }
    return best < 0 ? 0 : best;
}

Comparison CompareLaps(const CompareInput& in, const CompareOptions& options) {
    Comparison cmp;
    cmp.align = options.align;
    const std::int32_t r = ResolveReference(in.laps, options.reference);
    if (r < 0) return cmp;
    for (const ReplayFile& lap : in.laps) {
        if (lap.records.empty()) return cmp;  // never accepted into a set
    }
    const ReplayFile& reference = in.laps[static_cast<std::size_t>(r)];
    // Every lap's speeds are kept compact on the pass that reads its coordinate where it can:
    // the records are large, and reading them is most of the cost.
    std::vector<float> referenceSpeeds;
    std::vector<double> rc = RisingDistance(reference, &referenceSpeeds);
    cmp.reference = r;
    cmp.start = rc.front();
    cmp.end = rc.back();
    BuildSections(in, cmp.start, cmp.end, &cmp);
    cmp.laps.reserve(in.laps.size());
    for (std::size_t b = 0; b < in.laps.size(); ++b) {
        ComparedLap lap;
        lap.slot = static_cast<std::int32_t>(b);
        lap.title = b < in.titles.size() ? in.titles[b] : std::string();
        lap.replay = &in.laps[b];
        // The reference takes rc at the end, once the others no longer need it.
        const bool isReference = static_cast<std::int32_t>(b) == r;
        if (isReference) {
            lap.speed = std::move(referenceSpeeds);
        } else if (options.align == AlignMode::Position) {
            lap.coordinate = AlignByPosition(in.laps[b], reference, rc);
            lap.speed = RecordSpeeds(in.laps[b]);
        } else {
            lap.coordinate = RisingDistance(in.laps[b], &lap.speed);
        }
        const std::span<const double> c = isReference ? std::span<const double>(rc) : lap.coordinate;
        CoordinateCursor cursor(c);
        lap.startTime = cursor.Locate(cmp.start).time;
        double previous = lap.startTime;
        for (ComparedSection& sec : cmp.sections) {
            const double t = cursor.Locate(sec.end).time;
            sec.times.push_back(t - previous);
            sec.minSpeed.emplace_back();
            previous = t;
        }
        lap.time = previous - lap.startTime;
        MinimumSpeeds(lap.speed, c, &cmp);
        cmp.laps.push_back(std::move(lap));
    }
    cmp.laps[static_cast<std::size_t>(r)].coordinate = std::move(rc);
    const double referenceTime = cmp.laps[static_cast<std::size_t>(r)].time;
    for (ComparedLap& lap : cmp.laps) lap.delta = lap.time - referenceTime;
    for (ComparedSection& s : cmp.sections) {
        const double tr = s.times[static_cast<std::size_t>(r)];
        for (double t : s.times) s.lost.push_back(t - tr);
        s.best = static_cast<std::int32_t>(std::min_element(s.times.begin(), s.times.end()) -
                                           s.times.begin());
        cmp.theoreticalBest += s.times[static_cast<std::size_t>(s.best)];
    }
    return cmp;
}

Comparison CompareLaps(const ReplaySet& set, const CompareOptions& options) {
    CompareInput in;
    in.laps = set.Loaded();
    in.titles = {set.replayTitles.data(), static_cast<std::size_t>(set.replayCount)};
    in.markerNames = set.segmentMarkerNames;
    in.markerDistances = set.segmentMarkerDistances;
    return CompareLaps(in, options);
}

}  // namespace lapquill
