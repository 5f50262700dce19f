#include "analysis/segments.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace lapquill {

namespace {

// A corner is a run of this many qualifying records in a row plus the one that completes it.
constexpr std::int32_t kCornerRun = 75;
// The corner begins this many records (0.1 s) before its run.
constexpr std::int32_t kCornerLead = 10;
// Cornering harder than this counts as part of a corner, m/s^2.
constexpr float kCornerLateral = 7.0f;

bool ValidSegment(const SegmentData& segments, std::int32_t s) {
    return s >= 0 && s < segments.MarkerCount();
}

}  // namespace

void SegmentData::ClearIndices() {
    customStartIndices.clear();
    customEndIndices.clear();
    customCornerIndices.clear();
    markerStartIndices.clear();
    cornerStartIndices.clear();
    cornerDistances.clear();
    customCornerDistance = 1e12f;
}

namespace {
bool Qualifies(const ReplayFile& replay, std::int32_t i) {
    const LateralLongitudinal acc = LateralLongitudinalAccel(replay, i);
    return acc.longitudinal < 0 || std::fabs(acc.lateral) > kCornerLateral;
}
}  // namespace

CornerSearch::CornerSearch(const ReplayFile& replay) {
    const std::int32_t n = replay.RecordCount();
    std::vector<std::int32_t> run(static_cast<std::size_t>(n));
    std::int32_t length = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        length = Qualifies(replay, i) ? length + 1 : 0;
        run[static_cast<std::size_t>(i)] = length;
    }
    firstRunEnd_.assign(static_cast<std::size_t>(n), n);
    std::int32_t next = n;
    for (std::int32_t i = n - 1; i >= 0; --i) {
        if (run[static_cast<std::size_t>(i)] > kCornerRun) next = i;
        firstRunEnd_[static_cast<std::size_t>(i)] = next;
    }
}

std::int32_t CornerSearch::Entry(std::int32_t start, std::int32_t end) const {
    if (end <= start) return start;
    // The run must lie inside the range: it ends kCornerRun records after start at the earliest.
    const std::int64_t earliest = static_cast<std::int64_t>(start) + kCornerRun;
    const auto n = static_cast<std::int64_t>(firstRunEnd_.size());
    const std::int64_t i = earliest < n ? firstRunEnd_[static_cast<std::size_t>(earliest)] : n;
    if (i >= end) return end - 1;
    const std::int32_t s = static_cast<std::int32_t>(i) - kCornerRun;
    return s - kCornerLead > start ? s - kCornerLead : start;
}

std::int32_t FindCornerEntry(const ReplayFile& replay, std::int32_t start, std::int32_t end) {
    // An empty range has no corner and no last record; its start is the only sensible answer.
    if (end <= start) return start;
    std::int32_t run = 0;
    for (std::int32_t i = start; i < end; ++i) {
        if (!Qualifies(replay, i)) {
            run = 0;
            continue;
        }
        if (run >= kCornerRun) {
            const std::int32_t s = i - kCornerRun;
            return s - kCornerLead > start ? s - kCornerLead : start;
        }
        ++run;
    }
    return end - 1;
}

void RecomputeSegments(std::span<const ReplayFile> replays,
                       std::span<const DistanceSearch> searches,
                       std::span<const float> markerDistances, SegmentData* seg) {
    seg->ClearIndices();
    const std::size_t m = markerDistances.size();
    seg->cornerDistances.assign(m, 1e12f);
    float customCorner = 1e12f;
    auto searchOf = [&](std::size_t r) { return r < searches.size() ? &searches[r] : nullptr; };

    for (std::size_t r = 0; r < replays.size(); ++r) {
        const ReplayFile& replay = replays[r];
        assert(replay.RecordCount() > 0);
        const DistanceSearch* search = searchOf(r);
        const std::int32_t a = NearestRecordAtDistance(replay, seg->customStartDistance, search);
        const std::int32_t b = NearestRecordAtDistance(replay, seg->customEndDistance, search);
        seg->customStartIndices.push_back(a);
        seg->customEndIndices.push_back(b);
        const CornerSearch corners(replay);
        const std::int32_t c = corners.Entry(a, b);
        customCorner = std::min(customCorner, replay.records[c].distance);

        std::vector<std::int32_t>& starts = seg->markerStartIndices.emplace_back();
        seg->cornerStartIndices.emplace_back();
        starts.reserve(m);
        for (float d : markerDistances)
            starts.push_back(NearestRecordAtDistance(replay, d, search));
        for (std::size_t k = 0; k < m; ++k) {
            const std::int32_t end = k + 1 < m ? starts[k + 1] : replay.RecordCount();
            const std::int32_t corner = corners.Entry(starts[k], end);
            seg->cornerDistances[k] =
                std::min(seg->cornerDistances[k], replay.records[corner].distance);
        }
    }
    seg->customCornerDistance = customCorner;

    for (std::size_t r = 0; r < replays.size(); ++r) {
        const ReplayFile& replay = replays[r];
        const DistanceSearch* search = searchOf(r);
        seg->customCornerIndices.push_back(NearestRecordAtDistance(replay, customCorner, search));
        std::vector<std::int32_t>& corners = seg->cornerStartIndices[r];
        corners.reserve(m);
        for (float d : seg->cornerDistances) {
            corners.push_back(NearestRecordAtDistance(replay, d, search));
        }
    }
}

std::int32_t SegmentStart(const SegmentData& seg, std::int32_t r, std::int32_t s, SyncMode kind) {
    const bool corner = kind == SyncMode::DetectedCorner;
    if (!ValidSegment(seg, s)) {
        return corner ? seg.customCornerIndices[r] : seg.customStartIndices[r];
    }
    return corner ? seg.cornerStartIndices[r][s] : seg.markerStartIndices[r][s];
}

std::int32_t SegmentEnd(const SegmentData& seg, const ReplayFile& replay, std::int32_t r,
                        std::int32_t s, SyncMode kind) {
    std::int32_t end;
    if (!ValidSegment(seg, s)) {
        end = seg.customEndIndices[r];
    } else if (s == seg.MarkerCount() - 1) {
        end = replay.RecordCount() - 1;
    } else {
        const auto& list = kind == SyncMode::DetectedCorner ? seg.cornerStartIndices[r]
                                                            : seg.markerStartIndices[r];
        end = list[s + 1] - 1;
    }
    // Two markers nearest one record, or markers out of order, would end a segment before it
    // starts; such a segment is its start record alone.
    return std::max(end, SegmentStart(seg, r, s, kind));
}

std::int32_t RecordIndexAt(const SegmentData& seg, const ReplayFile& replay, std::int32_t r,
                           std::int32_t t, SyncMode kind, std::int32_t s) {
    const std::int32_t last = replay.RecordCount() - 1;
    if (kind == SyncMode::Lap) return std::clamp(t, 0, last);
    const std::int64_t start = SegmentStart(seg, r, s, kind);
    const std::int32_t end = SegmentEnd(seg, replay, r, s, kind);
    const std::int64_t i = std::max<std::int64_t>(start + t, start);
    return i >= end ? end : static_cast<std::int32_t>(i);
}

std::int32_t SegmentLength(const SegmentData& seg, const ReplayFile& replay, std::int32_t r,
                           SyncMode kind) {
    return RecordIndexAt(seg, replay, r, kTimeBeyondEnd, kind) -
           RecordIndexAt(seg, replay, r, 0, kind);
}

void SelectPreviousSegment(SegmentData* seg, std::int32_t markerCount) {
    seg->currentSegment -= 1;
    if (seg->currentSegment < kCustomSegment) seg->currentSegment = markerCount - 1;
}

void SelectNextSegment(SegmentData* seg, std::int32_t markerCount) {
    seg->currentSegment += 1;
    if (seg->currentSegment >= markerCount) seg->currentSegment = kCustomSegment;
}

void SetCustomStart(SegmentData* seg, float distance) {
    seg->customStartDistance = distance;
    if (seg->customStartDistance > seg->customEndDistance) seg->customEndDistance = distance;
}

void SetCustomEnd(SegmentData* seg, float distance) {
    seg->customEndDistance = distance;
    if (seg->customEndDistance < seg->customStartDistance) seg->customStartDistance = distance;
}

float SegmentTime(const SegmentData& seg, const ReplayFile& replay, std::int32_t r) {
    const std::int32_t s = seg.currentSegment;
    const std::int32_t records = SegmentEnd(seg, replay, r, s, SyncMode::SegmentMarker) -
                                 SegmentStart(seg, r, s, SyncMode::SegmentMarker) + 1;
    return static_cast<float>(records) * 0.01f;
}

float EntranceSpeed(const SegmentData& seg, const ReplayFile& replay, std::int32_t r,
                    SyncMode syncMode) {
    return replay.records[RecordIndexAt(seg, replay, r, 0, syncMode)].speed;
}

float ExitSpeed(const SegmentData& seg, const ReplayFile& replay, std::int32_t r,
                SyncMode syncMode) {
    return replay.records[RecordIndexAt(seg, replay, r, kTimeBeyondEnd, syncMode)].speed;
}

}  // namespace lapquill
