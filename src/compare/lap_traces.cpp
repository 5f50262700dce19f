// The traces pane's numbers. See lap_traces.h.
#include "compare/lap_traces.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <span>
#include <vector>

namespace lapquill {

namespace {

constexpr double kMetresPerMile = 1609.344;
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kMinimumWindow = 1.0;      // m: the narrowest distance window
constexpr double kMinimumStep = 0.01;       // m: samples never closer than this
constexpr std::size_t kPrefetchAhead = 32;  // records, about 2.6 KB

// The channel behind each plot; the delta has none.
constexpr Channel kChannelOf[kTraceKinds] = {Channel::Distance, Channel::Speed, Channel::Throttle,
                                             Channel::Brake,    Channel::Steer, Channel::Gear};

// A recorded value in the unit its plot shows.
double Shown(TraceKind kind, double v, const DisplayUnits& units) {
    switch (kind) {
        case TraceKind::Speed: return units.speedUnit == 0 ? v * 3.6 : v * 3.6 * 0.621371;
        case TraceKind::Throttle:
        case TraceKind::Brake: return v * 100.0;
        case TraceKind::Steer: return v * kDegreesPerRadian;
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

// A hint that *p will be read soon; nothing where the compiler has no such hint.
inline void Prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

// LocateCoordinate's answers for coordinates that never fall, by one walk over the lap: each
// call moves on to the first record at or past x. Index() is that record (the count of
// records when x lies past the last).
class ForwardWalk {
  public:
    explicit ForwardWalk(std::span<const double> c) : c_(c) {}
    CoordinatePoint At(double x) {
        while (i_ < c_.size() && c_[i_] < x) ++i_;
        if (i_ == 0) return {};
        if (i_ == c_.size()) {
            const auto last = static_cast<std::int32_t>(c_.size() - 1);
            return {last, last, 0.0, static_cast<double>(last) * kRecordSeconds};
        }
        return PointBetween(c_, i_, x);
    }
    std::size_t Index() const { return i_; }

  private:
    std::span<const double> c_;
    std::size_t i_ = 0;
};

// The smallest and largest value a curve takes in one column, and the records where it takes
// them (-1: at the column's start). Values that are not numbers compare false both ways and so
// are never an extreme; they leave a gap only where they are sampled.
struct Extremes {
    static constexpr double kNone = std::numeric_limits<double>::infinity();
    double lo, hi;
    std::ptrdiff_t loAt = -1, hiAt = -1;

    explicit Extremes(double start)
        : lo(std::isnan(start) ? kNone : start), hi(std::isnan(start) ? -kNone : start) {}
    // Without branches: steering and speed change direction too often to predict.
    void Meet(double v, std::ptrdiff_t at) {
        const bool below = v < lo;
        lo = below ? v : lo;
        loAt = below ? at : loAt;
        const bool above = v > hi;
        hi = above ? v : hi;
        hiAt = above ? at : hiAt;
    }
    // The column's two points, which hold its plain samples at its start and middle. When the
    // line through them and the next column's start already spans both extremes (a curve
    // that only rises or falls here), they stay, so smooth curves stay smooth. Otherwise they
    // become both extremes in the order the lap reaches them; a gap when the column holds no
    // number at all.
    void Put(double* first, double* second, double next) const {
        if (!(lo <= hi)) {
            *first = *second = std::numeric_limits<double>::quiet_NaN();
            return;
        }
        const double low = std::min({*first, *second, next});
        const double high = std::max({*first, *second, next});
        if (lo >= low && hi <= high) return;
        const bool lowFirst = loAt <= hiAt;
        *first = lowFirst ? lo : hi;
        *second = lowFirst ? hi : lo;
    }
};

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

LapTraces BuildLapTraces(const Comparison& cmp, DistanceRange window, std::size_t columns,
                         const DisplayUnits& units) {
    LapTraces out;
    if (cmp.Empty()) return out;
    out.reference = cmp.reference;
    columns = std::max<std::size_t>(columns, 1);
    const double margin = std::max(window.Width(), 0.0) / 3.0;
    const double lo = std::max(cmp.start, window.lo - margin);
    const double hi = std::min(cmp.end, window.hi + margin);
    const std::size_t laps = cmp.laps.size();
    if (!(hi > lo)) {
        // A lap of no length: one point of every curve.
        const double x = std::clamp(window.lo, cmp.start, cmp.end);
        const auto at = TraceValuesAt(cmp, x, units);
        out.distance.push_back(ToDisplayDistance(x, units));
        for (std::size_t c = 0; c < kTraceKinds; ++c) {
            out.values[c].resize(laps);
            for (std::size_t b = 0; b < laps; ++b) out.values[c][b].assign(1, at[c][b]);
        }
        return out;
    }

    const double step = std::max((hi - lo) / static_cast<double>(columns), kMinimumStep);
    const auto n = static_cast<std::size_t>(std::ceil((hi - lo) / step));
    // The keys: each column's start and middle, then the end of the stretch.
    std::vector<double> xs(2 * n + 1);
    for (std::size_t k = 0; k < n; ++k) {
        const double x0 = lo + static_cast<double>(k) * step;
        xs[2 * k] = x0;
        xs[2 * k + 1] = (x0 + std::min(x0 + step, hi)) / 2.0;
    }
    xs[2 * n] = hi;
    const ComparedLap& ref = Reference(cmp);
    std::vector<double> refTimes(xs.size());
    {
        ForwardWalk walk(ref.coordinate);
        for (std::size_t q = 0; q < xs.size(); ++q)
            refTimes[q] = walk.At(xs[q]).time - ref.startTime;
    }

    for (auto& kind : out.values) kind.assign(laps, std::vector<double>(xs.size()));
    std::vector<std::size_t> firstAt(xs.size());  // a lap's first record at or past each key
    for (std::size_t b = 0; b < laps; ++b) {
        const ComparedLap& lap = cmp.laps[b];
        const std::vector<ReplayRecord>& records = lap.replay->records;
        const std::span<const double> c(lap.coordinate);
        const bool isReference = static_cast<std::int32_t>(b) == cmp.reference;
        auto& v = out.values;

        // Every curve at a key, as a plain sample.
        ForwardWalk walk(c);
        const auto sample = [&](std::size_t q) {
            const CoordinatePoint at = walk.At(xs[q]);
            firstAt[q] = walk.Index();
            v[0][b][q] = isReference ? 0.0 : (at.time - lap.startTime) - refTimes[q];
            const ReplayRecord& ra = records[static_cast<std::size_t>(at.before)];
            const ReplayRecord& rb = records[static_cast<std::size_t>(at.after)];
            for (std::size_t ch = 1; ch < kTraceKinds; ++ch) {
                const Channel channel = kChannelOf[ch];
                v[ch][b][q] = ValueBetween(at, RecordValue(ra, channel), RecordValue(rb, channel),
                                           channel == Channel::Gear);
            }
        };

        // Column by column, in one pass over the lap's records (the samples at a column's keys
        // touch the records next to those it holds): the records the lap reaches inside it (a
        // record on the same coordinate as the one before it is never where the curves
        // stand). The curves are straight between records, so their extremes in a column lie
        // at its start or at one of these. The delta is taken at the lap's own records, where
        // its time is exact; the reference's records bend it in between by far less than a
        // millisecond.
        const auto reached = [&c](std::size_t m) { return m == 0 || c[m] > c[m - 1]; };
        ForwardWalk refWalk(ref.coordinate);
        sample(0);
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t s0 = 2 * k, s1 = 2 * k + 1;
            sample(s1);
            sample(s1 + 1);
            const std::size_t first = firstAt[s0], last = firstAt[s1 + 1];
            if (first == last) continue;  // no record inside: the two plain samples stay
            Extremes speed(v[1][b][s0]), throttle(v[2][b][s0]), brake(v[3][b][s0]),
                steer(v[4][b][s0]), gear(v[5][b][s0]);
            for (std::size_t m = first; m < last; ++m) {
                // The pass is bound by memory: ask for the records a little ahead.
                Prefetch(records.data() + std::min(m + kPrefetchAhead, records.size() - 1));
                if (!reached(m)) continue;
                const auto at = static_cast<std::ptrdiff_t>(m);
                const ReplayRecord& rec = records[m];
                speed.Meet(rec.speed, at);
                throttle.Meet(rec.throttle, at);
                brake.Meet(rec.brake, at);
                steer.Meet(rec.steer, at);
                gear.Meet(static_cast<double>(static_cast<int>(rec.gear) - 1), at);
            }
            speed.Put(&v[1][b][s0], &v[1][b][s1], v[1][b][s1 + 1]);
            throttle.Put(&v[2][b][s0], &v[2][b][s1], v[2][b][s1 + 1]);
            brake.Put(&v[3][b][s0], &v[3][b][s1], v[3][b][s1 + 1]);
            steer.Put(&v[4][b][s0], &v[4][b][s1], v[4][b][s1 + 1]);
            gear.Put(&v[5][b][s0], &v[5][b][s1], v[5][b][s1 + 1]);
            if (isReference) continue;
            Extremes delta(v[0][b][s0]);
            for (std::size_t m = first; m < last; ++m) {
                if (!reached(m)) continue;
                const double refTime = refWalk.At(c[m]).time;
                delta.Meet((static_cast<double>(m) * kRecordSeconds - lap.startTime) -
                               (refTime - ref.startTime),
                           static_cast<std::ptrdiff_t>(m));
            }
            delta.Put(&v[0][b][s0], &v[0][b][s1], v[0][b][s1 + 1]);
        }
        for (std::size_t ch = 1; ch < kTraceKinds; ++ch) {
            const auto kind = static_cast<TraceKind>(ch);
            for (double& value : v[ch][b]) value = Shown(kind, value, units);
        }
    }
    out.distance.resize(xs.size());
    for (std::size_t k = 0; k < xs.size(); ++k) out.distance[k] = ToDisplayDistance(xs[k], units);
    return out;
}

std::vector<std::uint32_t> PointsToDraw(std::span<const double> keys,
                                        std::span<const double> values, double keyPixels,
                                        double valuePixels, double tolerance, bool steps) {
    std::vector<std::uint32_t> keep;
    const std::size_t n = std::min(keys.size(), values.size());
    if (n == 0) return keep;
    keep.reserve(std::min<std::size_t>(n, 4096));
    const auto y = [&](std::size_t i) { return values[i] * valuePixels; };
    const auto x = [&](std::size_t i) { return keys[i] * keyPixels; };
    const auto put = [&keep](std::size_t i) {
        if (keep.empty() || keep.back() != i) keep.push_back(static_cast<std::uint32_t>(i));
    };
    put(0);
    if (steps) {
        double kept = y(0);
        // Comparisons with a NaN are false: a NaN, the point before it and the one after it
        // are all kept.
        for (std::size_t i = 1; i + 1 < n; ++i) {
            if (std::abs(y(i) - kept) <= tolerance && std::abs(y(i + 1) - kept) <= tolerance)
                continue;
            put(i);
            kept = y(i);
        }
        put(n - 1);
        return keep;
    }
    // The slopes from the anchor (the last point kept) of the lines that pass within the
    // tolerance of every point since: each point narrows them, and once the next point's own
    // slope falls outside, the point before it ends the run and anchors the next.
    constexpr double kAll = std::numeric_limits<double>::infinity();
    std::size_t a = 0;
    double lo = -kAll, hi = kAll;
    for (std::size_t i = 1; i < n; ++i) {
        if (std::isnan(values[i]) || std::isnan(values[a])) {
            put(i - 1);
            put(i);
            a = i;
            lo = -kAll;
            hi = kAll;
            continue;
        }
        double dx = x(i) - x(a);
        const double slope = (y(i) - y(a)) / dx;
        if (!(slope >= lo && slope <= hi)) {
            put(i - 1);
            a = i - 1;
            dx = x(i) - x(a);
            lo = -kAll;
            hi = kAll;
        }
        lo = std::max(lo, (y(i) - tolerance - y(a)) / dx);
        hi = std::min(hi, (y(i) + tolerance - y(a)) / dx);
    }
    put(n - 1);
    return keep;
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

DistanceRange PaddedWithin(DistanceRange range, double fraction, DistanceRange whole) {
    const double margin = std::max(range.Width(), 0.0) * fraction;
    DistanceRange r{std::max(whole.lo, range.lo - margin), std::min(whole.hi, range.hi + margin)};
    // A range already beyond the whole is left as it was.
    if (!(r.hi > r.lo)) r = range;
    return r;
}

double ValueTickStep(double lo, double hi, int maxTicks, double minimum, bool integers) {
    maxTicks = std::max(maxTicks, 1);
    minimum = std::max(minimum, 0.0);
    if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) return std::max(minimum, 1e-12);
    // The multiples of `step` inside [lo, hi].
    const auto inside = [lo, hi](double step) {
        return std::floor(hi / step) - std::ceil(lo / step) + 1.0;
    };
    // No step wider than the range and a bit puts two multiples inside it, so a wider one puts
    // at most one: the search stops there.
    const double widest = std::max(2.0 * (hi - lo), minimum);
    if (integers) {
        // Whole numbers. A step no wider than range / (maxTicks + 1) puts more than maxTicks
        // multiples inside any range that long: start at the widest of those.
        double step = std::max({1.0, std::ceil(minimum), std::floor((hi - lo) / (maxTicks + 1))});
        while (inside(step) > maxTicks && step < widest) step += 1.0;
        return step;
    }
    constexpr double kMantissas[] = {1.0, 2.0, 5.0};
    double decade = std::pow(10.0, std::floor(std::log10((hi - lo) / maxTicks)) - 1.0);
    for (;;) {
        for (const double m : kMantissas) {
            const double step = m * decade;
            if (step < minimum * (1.0 - 1e-12)) continue;
            if (inside(step) <= maxTicks || step >= widest) return step;
        }
        decade *= 10.0;
    }
}

int ValueTicksThatFit(int height, int labelHeight) {
    if (labelHeight <= 0) return 3;
    // n labels need n heights and n - 1 gaps of a third: (4n - 1) / 3 heights.
    const int n = (3 * std::max(height, 0) + labelHeight) / (4 * labelHeight);
    return std::clamp(n, 1, 3);
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
