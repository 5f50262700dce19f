// The segments of a lap and their timing: per replay, the records nearest each segment
// marker, the custom segment's ends and every segment's detected corner. The view owns one
// SegmentData; RecomputeSegments rebuilds it after each accepted replay and each custom mark.
// Every index these operations return lies inside its replay (0 .. recordCount - 1); replays
// without records are never accepted, so none is passed here. Distances in m, times in s.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "analysis/channels.h"
#include "files/replay_file.h"

namespace lapquill {

// What playback time 0 is in each replay, and which boundaries a segment look-up uses.
enum class SyncMode : std::int32_t {
    Lap = 0,            // the replay's first record
    SegmentMarker = 1,  // its record at the current segment's marker (or the custom start)
    DetectedCorner = 2  // its record at the current segment's detected corner
};

inline constexpr std::int32_t kCustomSegment = -1;
// A time beyond any segment's end, in records.
inline constexpr std::int32_t kTimeBeyondEnd = 1073741823;

struct SegmentData {
    float customStartDistance = 0;                 // m; kept when the replay set is cleared
    float customEndDistance = 1e12f;               // m; kept when the replay set is cleared
    std::int32_t currentSegment = kCustomSegment;  // -1 custom, else the marker's index
    // Per replay slot, rebuilt by RecomputeSegments.
    std::vector<std::int32_t> customStartIndices;   // record nearest customStartDistance
    std::vector<std::int32_t> customEndIndices;     // record nearest customEndDistance
    std::vector<std::int32_t> customCornerIndices;  // record nearest the custom corner
    std::vector<std::vector<std::int32_t>> markerStartIndices;  // [replay][marker]
    std::vector<std::vector<std::int32_t>> cornerStartIndices;  // [replay][marker]
    // The detected corners common to all replays (the smallest of their own detections), m.
    float customCornerDistance = 1e12f;
    std::vector<float> cornerDistances;  // one per marker

    std::int32_t MarkerCount() const {
        return markerStartIndices.empty() ? 0
                                          : static_cast<std::int32_t>(markerStartIndices[0].size());
    }
    void ClearIndices();
};

// Where the corner of records [start, end) begins: 10 records before the first run of 76
// records that brake or corner harder than 7 m/s^2, not before start; end - 1 when there is
// no such run; start when the range is empty.
std::int32_t FindCornerEntry(const ReplayFile& replay, std::int32_t start, std::int32_t end);

// FindCornerEntry for any number of ranges of one replay at the cost of one pass over it: each
// record's qualification and run length are computed once, and each range is answered from
// them in constant time with the same result as FindCornerEntry.
class CornerSearch {
public:
    explicit CornerSearch(const ReplayFile& replay);
    std::int32_t Entry(std::int32_t start, std::int32_t end) const;

private:
    // firstRunEnd_[i]: the first record at or after i that ends 76 qualifying records in a
    // row; the record count when none does.
    std::vector<std::int32_t> firstRunEnd_;
};

// Rebuilds every per-replay index list and the common detected corners. searches may be
// empty or hold one DistanceSearch per replay.
void RecomputeSegments(std::span<const ReplayFile> replays,
                       std::span<const DistanceSearch> searches,
                       std::span<const float> markerDistances, SegmentData* segments);

// First and last record of segment s (-1 custom) of replay slot r, by marker or corner
// boundaries (Lap counts as marker). The end is never before the start.
std::int32_t SegmentStart(const SegmentData& segments, std::int32_t r, std::int32_t s,
                          SyncMode kind);
std::int32_t SegmentEnd(const SegmentData& segments, const ReplayFile& replay, std::int32_t r,
                        std::int32_t s, SyncMode kind);

// The record of replay slot r at time t (records since its sync point) in segment s: Lap
// gives record t, the others count from the segment's start and stop at its end. Always an
// index inside the replay (a negative time gives the first record of the range).
std::int32_t RecordIndexAt(const SegmentData& segments, const ReplayFile& replay, std::int32_t r,
                           std::int32_t t, SyncMode kind, std::int32_t s);
inline std::int32_t RecordIndexAt(const SegmentData& segments, const ReplayFile& replay,
                                  std::int32_t r, std::int32_t t, SyncMode kind) {
    return RecordIndexAt(segments, replay, r, t, kind, segments.currentSegment);
}
// The largest meaningful time in the current segment: its last record minus its first.
std::int32_t SegmentLength(const SegmentData& segments, const ReplayFile& replay, std::int32_t r,
                           SyncMode kind);

// Step the selection through the cycle -1, 0, 1 .. markerCount - 1.
void SelectPreviousSegment(SegmentData* segments, std::int32_t markerCount);
void SelectNextSegment(SegmentData* segments, std::int32_t markerCount);
// Move one end of the custom segment; the other end follows when they would cross.
void SetCustomStart(SegmentData* segments, float distance);
void SetCustomEnd(SegmentData* segments, float distance);

// Values of the current segment for the statistics: its time by marker boundaries (seconds,
// both ends counted), and the speed at the sync point and at the segment's last record (m/s).
float SegmentTime(const SegmentData& segments, const ReplayFile& replay, std::int32_t r);
float EntranceSpeed(const SegmentData& segments, const ReplayFile& replay, std::int32_t r,
                    SyncMode syncMode);
float ExitSpeed(const SegmentData& segments, const ReplayFile& replay, std::int32_t r,
                SyncMode syncMode);

}  // namespace lapquill
