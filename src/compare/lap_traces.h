// What the desktop's traces pane draws, worked out without any widget: every lap's delta and
// channels sampled along the reference lap's coordinate over a distance window, in the user's
// units; the values under a cursor; where the cursor stands at a playback time, and the playback
// time that puts the reference lap at a distance; the distance range of a track segment; and
// the zoom and pan steps of the distance axis. Distances given to and returned by these
// functions are metres; LapTraces::distance and the values are in display units.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/segments.h"
#include "analysis/stats_text.h"
#include "compare/compare.h"

namespace lapquill {

// The stacked plots, top to bottom.
enum class TraceKind : std::int32_t { Delta, Speed, Throttle, Brake, Steer, Gear };
inline constexpr std::size_t kTraceKinds = 6;

// The short names the plots' axes and the readout carry: "Delta s", "km/h" (or "mi/h"),
// "Throttle %", "Brake %", "Steer deg", "Gear".
std::string TraceLabel(TraceKind kind, const DisplayUnits& units);
// "m", "km" or "mi": the distance axis's unit.
const char* DistanceUnitName(const DisplayUnits& units);
// Metres in the user's distance unit, and back.
double ToDisplayDistance(double metres, const DisplayUnits& units);
double FromDisplayDistance(double shown, const DisplayUnits& units);

// A distance window of the comparison, m.
struct DistanceRange {
    double lo = 0;
    double hi = 0;
    double Width() const { return hi - lo; }
};

struct LapTraces {
    std::int32_t reference = -1;   // index into the comparison's laps; -1 without laps
    std::vector<double> distance;  // display unit, rising, shared by every curve
    // [kind][lap][sample]; NaN where a recorded value is not a number.
    std::array<std::vector<std::vector<double>>, kTraceKinds> values;
};

// The curves drawn for `window`, over the window widened by a third of its width on either side
// (so that a pan shows curves at once) and clamped to [S, E], cut into at most `columns` equal
// columns no narrower than 1 cm (one a pixel is what a plot needs). Each column gives two
// points, at its start and its middle, then one more at the end of the stretch: 2 x columns + 1.
// Where a lap reaches no record inside a column the two points are its values there; where it
// does, they are the smallest and largest value the curve takes in the column (at its start or
// at a record), in the order the lap reaches them, so a brake spike or a gear change shorter
// than a column still shows at its full height. Empty without laps.
LapTraces BuildLapTraces(const Comparison& cmp, DistanceRange window, std::size_t columns,
                         const DisplayUnits& units);

// The points of one curve (keys rising, one value each) a plot needs to draw it with every
// point dropped within `tolerance` pixels of the line drawn, given the pixels a unit of key and
// of value takes: the first and the last point, and the end of each longest run that one
// straight line passes within the tolerance of. As `steps` (a curve drawn as stairs), a point
// is dropped only when it and the next stay within the tolerance of the last point kept.
// Points that are not numbers are kept with the points before them, so a gap stays a gap.
// Indices, rising.
std::vector<std::uint32_t> PointsToDraw(std::span<const double> keys,
                                        std::span<const double> values, double keyPixels,
                                        double valuePixels, double tolerance, bool steps = false);

// Every lap's values at x (m), in display units: [kind][lap].
std::array<std::vector<double>, kTraceKinds> TraceValuesAt(const Comparison& cmp, double x,
                                                           const DisplayUnits& units);

// The reference lap's coordinate (m) at playback time t in the given sync mode and segment:
// the coordinate of the record the map shows for it.
double ReferenceDistanceAt(const Comparison& cmp, const SegmentData& segments, SyncMode mode,
                           std::int32_t t);
// The playback time at which the reference lap is nearest distance x (m): its nearest record,
// counted from the sync point of the current segment in the segment modes and kept inside that
// segment, as the keys keep it.
std::int32_t PlaybackTimeAtDistance(const Comparison& cmp, const SegmentData& segments,
                                    SyncMode mode, double x);
// The reference lap's coordinates (m) at the first and last record of track segment s (-1: the
// custom segment), by marker boundaries, widened to at least 1 m.
DistanceRange SegmentDistanceRange(const Comparison& cmp, const SegmentData& segments,
                                   std::int32_t s);
// `range` with `fraction` of its width added at each end, cut to `whole`: a segment shown with
// a margin, so that its boundaries and a cursor at its start stand clear of the plot's edges.
DistanceRange PaddedWithin(DistanceRange range, double fraction, DistanceRange whole);

// The step between the value labels of a plot showing [lo, hi]: the smallest of 1, 2 or 5 times
// a power of ten (with `integers`, the smallest whole number), at least `minimum`, that puts at
// most `maxTicks` (at least 1) multiples of itself inside the range. `minimum` when the range
// is empty or not finite.
double ValueTickStep(double lo, double hi, int maxTicks, double minimum, bool integers);
// How many value labels fit on a plot `height` pixels tall with labels `labelHeight` pixels
// tall, with a third of a label's height between two: 1 to 3 (three is all a plot of a few
// lines needs).
int ValueTicksThatFit(int height, int labelHeight);

// The whole comparison, [S, E], at least 1 m wide.
DistanceRange WholeLapRange(const Comparison& cmp);
// The window scaled by `factor` (< 1 zooms in) around `anchor`, which stays where it is on
// screen; then kept inside the whole lap, at least 1 m and at most the whole lap wide.
DistanceRange ZoomRange(DistanceRange window, double anchor, double factor, DistanceRange whole);
// The window moved by `shift` metres, stopped at the ends of the whole lap.
DistanceRange PanRange(DistanceRange window, double shift, DistanceRange whole);

}  // namespace lapquill
