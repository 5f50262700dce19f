// Where the time goes: laps of a replay set compared against a reference lap along one rising
// coordinate per lap (its distance, or its position matched onto the reference's path), the
// time at any coordinate, the sections between the segment markers with the time gained or lost
// in each, and the delta-time trace. Pure functions of loaded replays; no Qt, no device.
// The CLI and the desktop panes build one Comparison per change of the set or the options.
// Units: seconds, metres, m/s; record i of a lap lies i x 0.01 s into it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/replay_set.h"
#include "files/replay_file.h"

namespace lapquill {

inline constexpr double kRecordSeconds = 0.01;  // s between two records
// CompareOptions::reference: the lap with the smallest lap time of its split times.
inline constexpr std::int32_t kFastestReference = -1;

enum class AlignMode : std::int32_t {
    Distance = 0,  // a lap's coordinate is its own rising distance channel
    Position = 1   // its positions matched onto the reference lap's path
};

struct CompareOptions {
    std::int32_t reference = 0;  // a slot, or kFastestReference
    AlignMode align = AlignMode::Distance;
};

// What a comparison is made of: the laps in slot order with their titles, and the markers of
// the segment file in file order. CompareLaps(const ReplaySet&) fills it from a set.
struct CompareInput {
    std::span<const ReplayFile> laps;        // every one with at least one record
    std::span<const std::string> titles;     // one per lap, or empty (titles are then "")
    std::span<const std::string> markerNames;  // one per marker distance, or empty
    std::span<const float> markerDistances;    // m, file order, any order and values
};

struct ComparedLap {
    std::int32_t slot = 0;
    std::string title;
    const ReplayFile* replay = nullptr;  // the lap's records: not owned, see Comparison
    std::vector<double> coordinate;      // m, one per record, never falling
    std::vector<float> speed;            // m/s, one per record as recorded, kept compact
    double startTime = 0;                // s, T(S): when the lap reaches the start
    double time = 0;                     // s, T(E) - T(S)
    double delta = 0;                    // s, time - the reference's time (positive: slower)
};

struct ComparedSection {
    std::string name;                          // the marker it starts at, or "Start"
    double start = 0, end = 0;                 // m, in the reference's coordinate
    std::vector<double> times;                 // s per lap: T(end) - T(start)
    std::vector<double> lost;                  // s per lap: time - the reference's time
    std::int32_t best = 0;                     // slot of the smallest time (ties: lower slot)
    std::vector<std::optional<float>> minSpeed;  // m/s per lap; none without records in it
};

// One comparison. It refers to the replays it was built from (ComparedLap::replay) and must be
// rebuilt, or dropped, when they are released or the set changes.
struct Comparison {
    AlignMode align = AlignMode::Distance;
    std::int32_t reference = -1;      // slot of the reference lap; -1 when there are no laps
    double start = 0, end = 0;        // m: S and E, the reference's first and last coordinate
    std::vector<ComparedLap> laps;    // slot order
    std::vector<ComparedSection> sections;  // from S to E, in order; empty without laps
    double theoreticalBest = 0;       // s: the sum of every section's smallest time

    bool Empty() const { return laps.empty(); }
};

// The reference slot for a request: the slot itself when a lap holds it, the fastest lap for
// kFastestReference (smallest positive last split time, ties to the lower slot; slot 0 when no
// lap has one), -1 when the request names no lap.
std::int32_t ResolveReference(std::span<const ReplayFile> laps, std::int32_t requested);

// Compares the laps. A request naming no lap gives an empty comparison (reference -1).
Comparison CompareLaps(const CompareInput& input, const CompareOptions& options);
Comparison CompareLaps(const ReplaySet& set, const CompareOptions& options);

// Makes a series rising in place: each value becomes the largest finite value so far (a
// non-finite value counts as no rise); values before the first finite one take it, a series
// without any becomes 0.
void MakeRising(std::vector<double>* values);
// The rising distance of a lap: the largest finite distance so far; records before the first
// finite distance take it, a lap without any takes 0.
// With speeds, also keeps every record's speed there, on the same pass over the records.
std::vector<double> RisingDistance(const ReplayFile& lap, std::vector<float>* speeds = nullptr);
// The lap's coordinates matched onto the reference's path, made rising (see CompareLaps).
std::vector<double> AlignByPosition(const ReplayFile& lap, const ReplayFile& reference,
                                    std::span<const double> referenceCoordinate);

// Where a coordinate x falls in a lap: between records `before` and `after` at `fraction`
// (0 at before, 1 at after), or on one record (before == after) outside the lap's range.
struct CoordinatePoint {
    std::int32_t before = 0;
    std::int32_t after = 0;
    double fraction = 0;  // 0 .. 1
    double time = 0;      // s, T(x): the first moment the lap reaches x
};

// T(x) and its two records by binary search: 0 (record 0) when x <= c(0), (n - 1) x 0.01 (the
// last record) when x >= c(n - 1), otherwise interpolated between the first record i with
// c(i) >= x and the record before it. c must not fall and must not be empty.
CoordinatePoint LocateCoordinate(std::span<const double> c, double x);

// The point at x between records i - 1 and i, where c[i - 1] < x <= c[i].
inline CoordinatePoint PointBetween(std::span<const double> c, std::size_t i, double x) {
    const double f = (x - c[i - 1]) / (c[i] - c[i - 1]);
    return {static_cast<std::int32_t>(i - 1), static_cast<std::int32_t>(i), f,
            (static_cast<double>(i - 1) + f) * kRecordSeconds};
}

// The same answers for a series of look-ups: each call walks from the last answer, and jumps
// by binary search when x lies far from it, so a sweep in either direction costs O(1) a call.
class CoordinateCursor {
  public:
    explicit CoordinateCursor(std::span<const double> c) : c_(c) {}
    // Inline for the usual step of a sweep: a few records ahead of the last answer.
    CoordinatePoint Locate(double x) {
        const std::size_t n = c_.size();
        if (i_ >= 1 && i_ < n && c_[i_ - 1] < x && x < c_[n - 1]) {
            // Some c[i] >= x with i <= n - 1, so the walk stays inside.
            for (std::size_t i = i_, end = i_ + 8; i < end; ++i) {
                if (c_[i] >= x) {
                    i_ = i;
                    return PointBetween(c_, i, x);
                }
            }
        }
        return Seek(x);
    }

  private:
    CoordinatePoint Seek(double x);  // any x: walks or searches

    std::span<const double> c_;
    std::size_t i_ = 0;  // the last answer's `after`
};

enum class Channel : std::int32_t {
    Speed,      // m/s
    Throttle,   // 0 .. 1
    Brake,      // 0 .. 1
    Clutch,     // 0 .. 1
    Handbrake,  // 0 .. 1
    Steer,      // rad
    Gear,       // as the table shows it: -1 reverse, 0 neutral, 1 first ...; never interpolated
    PositionX,  // m
    PositionY,  // m
    PositionZ,  // m
    Distance    // m, the lap's own distance channel as recorded
};

// A channel's value at a located coordinate: linear between the two records (the gear is the
// one engaged at `before`); the record's own value outside the lap's range. Non-finite values
// come back as they are recorded.
// Inline: the trace asks it for every sample of every lap.
inline float RecordValue(const ReplayRecord& r, Channel channel) {
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

// The value at a located coordinate from the values va at `before` and vb at `after`; a step
// keeps va until the lap reaches `after`.
inline double ValueBetween(const CoordinatePoint& at, double va, double vb, bool step) {
    if (at.before == at.after || at.fraction <= 0.0) return va;
    if (at.fraction >= 1.0) return vb;
    if (step) return va;
    return va + at.fraction * (vb - va);
}

inline double ChannelValue(const ReplayFile& lap, const CoordinatePoint& at, Channel channel) {
    return ValueBetween(at, RecordValue(lap.records[static_cast<std::size_t>(at.before)], channel),
                        RecordValue(lap.records[static_cast<std::size_t>(at.after)], channel),
                        channel == Channel::Gear);
}

// Convenience look-ups by binary search for one lap of a comparison (index into laps).
double LapTimeAt(const Comparison& cmp, std::size_t lap, double x);              // s, T(x)
double LapValueAt(const Comparison& cmp, std::size_t lap, double x, Channel channel);
// Delta of a lap at x: (T_b(x) - T_b(S)) - (T_r(x) - T_r(S)), s; positive: behind.
double DeltaAt(const Comparison& cmp, std::size_t lap, double x);

// The sample coordinates of a trace: S + k x step while below E, then E. Empty without laps;
// step must be positive.
std::vector<double> TraceCoordinates(const Comparison& cmp, double step);

// The delta and chosen channels of every lap at every trace coordinate, by moving cursors.
struct DeltaTrace {
    std::vector<double> distance;            // m, the trace coordinates
    std::vector<std::vector<double>> delta;  // s, [lap][sample]
    std::vector<std::vector<double>> speed;  // m/s, [lap][sample]
};
DeltaTrace BuildDeltaTrace(const Comparison& cmp, double step);

// What the map colours a lap's ribbon by, one value per record of the lap.
// RecordDeltas: the delta at the record's coordinate, s.
std::vector<double> RecordDeltas(const Comparison& cmp, std::size_t lap);
// RecordDeltaRates: how fast the delta grows around the record, seconds per metre, measured
// over halfWindow metres either side (clamped to [S, E]): positive where the lap loses time.
std::vector<double> RecordDeltaRates(const Comparison& cmp, std::size_t lap,
                                     double halfWindow = 5.0);

}  // namespace lapquill
