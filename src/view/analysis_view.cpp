#include "view/analysis_view.h"

#include <algorithm>
#include <array>
#include <utility>

#include "analysis/channels.h"

namespace lapquill {

namespace {

// The keys that only hand an argument on: the pan keys and the sync keys.
constexpr std::pair<std::uint32_t, CameraPan> kPanKeys[] = {{VK_LEFT, CameraPan::Left},
                                                            {VK_RIGHT, CameraPan::Right},
                                                            {VK_UP, CameraPan::Up},
                                                            {VK_DOWN, CameraPan::Down}};
constexpr std::pair<std::uint32_t, SyncMode> kSyncKeys[] = {
    {'1', SyncMode::Lap}, {'2', SyncMode::DetectedCorner}, {'3', SyncMode::SegmentMarker}};

// What `code` stands for in one of the key tables above; null when it is not there.
template <typename T, std::size_t N>
const T* KeyArgument(const std::pair<std::uint32_t, T> (&keys)[N], std::uint32_t code) {
    for (const auto& key : keys) {
        if (key.first == code) return &key.second;
    }
    return nullptr;
}

}  // namespace

CAnalysisView::CAnalysisView(ViewWindow& window, Clock clock)
    : window_(window), clock_(std::move(clock)) {
    overlay_.backdropVisible = true;
    overlay_.titleOutline = true;
    ClearReplays();
    BuildTrackCatalogue(&catalogue_);
}

CAnalysisView::CAnalysisView(ViewWindow& window, Clock clock, const std::string& catalogueFolder)
    : window_(window), clock_(std::move(clock)) {
    overlay_.backdropVisible = true;
    overlay_.titleOutline = true;
    ClearReplays();
    BuildTrackCatalogueFrom(catalogueFolder, &catalogue_);
}

CAnalysisView::~CAnalysisView() {
    if (device_) ReleaseDeviceObjects();
    device_.reset();
    ClearReplaySet(&set_);
}

// ---- Replay set ---------------------------------------------------------------------------

void CAnalysisView::OpenReplays(bool replace) {
    const auto chosen = window_.ChooseReplayFiles(OpenReplayDialog{});
    // A dialog can only be confirmed with a file chosen; an empty answer is a cancel.
    if (!chosen || chosen->empty()) return;
    if (replace) ClearReplays();
    for (const std::string& path : *chosen) {
        // Rejected files do not use up a place: the limit is on accepted replays only.
        if (set_.replayCount >= kMaxReplays) {
            window_.MessageBox(ReplayLimitMessage());
            return;
        }
        AddReplay(path);
    }
}

bool CAnalysisView::AddReplay(const std::string& path) {
    const std::int32_t n = set_.replayCount;
    if (n >= kMaxReplays) return false;
    if (n == 0) segments_.ClearIndices();
    std::vector<std::string> messages, details;
    const AcceptResult result =
        AcceptReplay(&set_, catalogue_, path, trackSearch_, &messages, &details);
    for (std::size_t m = 0; m < messages.size(); ++m) {
        if (details[m].empty()) {
            window_.MessageBox(messages[m]);
        } else {
            window_.MessageBoxWithDetails(messages[m], details[m]);
        }
    }
    if (result == AcceptResult::Rejected) return false;

    ++replaySetVersion_;
    RecomputeSegments();
    if (n == 0) segments_.currentSegment = set_.MarkerCount() > 0 ? 0 : kCustomSegment;
    if (device_) ResetDevice();
    if (set_.replayCount == 1) ApplyPlaybackTime();
    return true;
}

void CAnalysisView::ClearReplays() {
    if (device_) ReleaseDeviceObjects();
    playback_.playbackTime = 0;
    playback_.isPlaying = false;
    ResetCameraForClear(&camera_);
    ClearReplaySet(&set_);
    ++replaySetVersion_;
    segments_.ClearIndices();
    segments_.currentSegment = kCustomSegment;
    trackBoundsSet_ = false;
    targetRoomSet_ = false;
    denseMeshNoted_ = densePathsNoted_ = false;
    if (device_) ResetDevice();
}

void CAnalysisView::RecomputeSegments() {
    lapquill::RecomputeSegments(set_.Loaded(), set_.LoadedSearches(), set_.segmentMarkerDistances,
                                &segments_);
}

// ---- Segment look-ups ---------------------------------------------------------------------

std::int32_t CAnalysisView::RecordIndexAt(std::int32_t r, std::int32_t t) const {
    return RecordIndexAt(r, t, playback_.syncMode);
}

std::int32_t CAnalysisView::RecordIndexAt(std::int32_t r, std::int32_t t, SyncMode kind) const {
    return lapquill::RecordIndexAt(segments_, set_.replays[r], r, t, kind);
}

std::int32_t CAnalysisView::SegmentLength(std::int32_t r) const {
    return lapquill::SegmentLength(segments_, set_.replays[r], r, playback_.syncMode);
}

// ---- Keys and commands ----------------------------------------------------------------------

bool CAnalysisView::HandleKeyAction(std::uint32_t code) {
    switch (code) {
        case 'Q':
            overlay_.statsVisible = !overlay_.statsVisible;
            // The framed circuit takes the room the table leaves, or gives back.
            if (wholeTrack_ && !camera_.followCar && device_) {
                PlaceWholeTrack();
                UpdateCamera();
            }
            window_.InvalidateRect();
            return true;
        case VK_OEM_5:
            overlay_.fpsVisible = !overlay_.fpsVisible;
            window_.InvalidateRect();
            return true;
        case 'T':
            ToggleFollowCar();
            if (set_.replayCount > 0) ApplyPlaybackTime();
            return true;
        default:
            break;
    }
    if (set_.replayCount == 0) return false;

    if (const CameraPan* pan = KeyArgument(kPanKeys, code)) {
        PanCamera(*pan);
        return true;
    }
    if (const SyncMode* mode = KeyArgument(kSyncKeys, code)) {
        SetSyncMode(*mode);
        return true;
    }
    PlaybackState& p = playback_;
    switch (code) {
        case VK_HOME:
            p.playStartTime = AbsoluteTime();
            p.playbackTime = 0;
            ApplyPlaybackTime();
            return true;
        case VK_END:
            p.playbackTime = SegmentLength(0);
            ApplyPlaybackTime();
            return true;
        case 'Z':
            ZoomIn();
            return true;
        case 'X':
            ZoomOut();
            return true;
        case 'A':
            StepSpeedOrRecord(false);
            return true;
        case 'D':
            StepSpeedOrRecord(true);
            return true;
        case 'S':
            if (p.isPlaying) {
                // Pausing asks for no frame: the last one stays, speed readout and all.
                p.isPlaying = false;
            } else {
                StartPlayback(&p, SegmentLength(0), AbsoluteTime());
                window_.InvalidateRect();
            }
            return true;
        case 'F':
            p.playForward = !p.playForward;
            return true;
        case VK_PRIOR:
            SelectPreviousSegment();
            PlaceTimeInSelectedSegment();
            return true;
        case VK_NEXT:
            SelectNextSegment();
            PlaceTimeInSelectedSegment();
            return true;
        case VK_OEM_COMMA:
            MarkCustomStart();
            return true;
        case VK_OEM_PERIOD:
            MarkCustomEnd();
            return true;
        default:
            return false;
    }
}

// While playing, the next faster or slower speed; while paused, one record forward or back,
// within the segment.
void CAnalysisView::StepSpeedOrRecord(bool forward) {
    PlaybackState& p = playback_;
    if (p.isPlaying) {
        p.playbackSpeed = forward ? SpeedStepUp(p.playbackSpeed) : SpeedStepDown(p.playbackSpeed);
        return;
    }
    if (forward && p.playbackTime < SegmentLength(0)) ++p.playbackTime;
    if (!forward && p.playbackTime > 0) --p.playbackTime;
    ApplyPlaybackTime();
}

void CAnalysisView::SetSyncMode(SyncMode mode) {
    playback_.syncMode = mode;
    if (set_.replayCount > 0) ApplyPlaybackTime();
}

void CAnalysisView::SetPlaybackTime(std::int32_t time) {
    playback_.playbackTime = time;
    if (set_.replayCount > 0) ApplyPlaybackTime();
}

void CAnalysisView::MarkCustomStart() {
    MarkCustomBoundary(SetCustomStart);
}

void CAnalysisView::MarkCustomEnd() {
    MarkCustomBoundary(SetCustomEnd);
}

// Puts one end of the custom segment at replay 0's distance at the playback time.
void CAnalysisView::MarkCustomBoundary(void (*mark)(SegmentData*, float)) {
    if (set_.replayCount == 0) return;
    const std::int32_t i = RecordIndexAt(0, playback_.playbackTime);
    mark(&segments_, set_.replays[0].records[i].distance);
    RecomputeSegments();
    window_.InvalidateRect();
}

void CAnalysisView::SelectPreviousSegment() {
    lapquill::SelectPreviousSegment(&segments_, set_.MarkerCount());
}

void CAnalysisView::SelectNextSegment() {
    lapquill::SelectNextSegment(&segments_, set_.MarkerCount());
}

void CAnalysisView::SelectSegment(std::int32_t s) {
    if (set_.replayCount == 0 || s < kCustomSegment || s >= set_.MarkerCount()) return;
    segments_.currentSegment = s;
    PlaceTimeInSelectedSegment();
}

void CAnalysisView::PlaceTimeInSelectedSegment() {
    // In lap time a marker segment starts where replay 0 reaches its marker; every other
    // segment starts at its own sync point, time 0.
    if (playback_.syncMode == SyncMode::Lap && segments_.currentSegment != kCustomSegment) {
        playback_.playbackTime = RecordIndexAt(0, 0, SyncMode::SegmentMarker);
    } else {
        playback_.playbackTime = 0;
    }
    ApplyPlaybackTime();
}

// ---- Playback -------------------------------------------------------------------------------

void CAnalysisView::FollowSegmentInLapMode() {
    const std::int32_t markers = segments_.MarkerCount();
    const std::int32_t i0 = RecordIndexAt(0, playback_.playbackTime, SyncMode::Lap);
    std::int32_t s = 1;
    while (s < markers && lapquill::RecordIndexAt(segments_, set_.replays[0], 0, 0,
                                                  SyncMode::SegmentMarker, s) <= i0) {
        ++s;
    }
    segments_.currentSegment = s - 1;
}

void CAnalysisView::ApplyPlaybackTime() {
    if (set_.replayCount == 0) return;
    if (playback_.syncMode == SyncMode::Lap && segments_.currentSegment != kCustomSegment) {
        FollowSegmentInLapMode();
    }
    TrackCar();
}

void CAnalysisView::AdvancePlayback() {
    if (!playback_.isPlaying) return;
    if (set_.replayCount == 0) {
        playback_.isPlaying = false;
        return;
    }
    switch (AdvancePlaybackTime(&playback_, SegmentLength(0), clock_)) {
        case PlaybackStep::Idle:
            break;
        case PlaybackStep::Stopped:
        case PlaybackStep::ClockWentBack:
            window_.InvalidateRect();
            break;
        case PlaybackStep::Advanced:
            ApplyPlaybackTime();
            break;
    }
}

float CAnalysisView::TimeFromSync(std::int32_t r) const {
    const std::int32_t records = RecordIndexAt(r, playback_.playbackTime) - RecordIndexAt(r, 0) + 1;
    return static_cast<float>(records) * 0.01f;
}

float CAnalysisView::PlaybackTimingDifference(std::int32_t r) const {
    const std::int32_t t = std::min({SegmentLength(0), SegmentLength(r), playback_.playbackTime});
    return TimingDifference(set_.replays[0], RecordIndexAt(0, t), set_.replays[r],
                            RecordIndexAt(r, t), &set_.distanceSearches[0],
                            &set_.distanceSearches[r]);
}

// ---- Statistics -----------------------------------------------------------------------------

void CAnalysisView::GatherStats(StatsGathered* out) const {
    const std::int32_t n = set_.replayCount;
    const SyncMode mode = playback_.syncMode;
    for (std::int32_t r = 0; r < n; ++r) {
        const ReplayFile& replay = set_.replays[r];
        const ReplayHeader& h = replay.header;
        StatsColumnInput& c = out->columns[r];
        auto& splits = out->splits[r];
        const int sectors = std::min<int>(h.SectorCount(), kMaxSectorCount);
        for (int k = 0; k < sectors; ++k) splits[k] = h.SplitTime(k);
        c.title = set_.replayTitles[r];
        c.playerName = h.PlayerName();
        c.carName = h.CarName();
        c.weather = h.Weather();
        c.splitTimes = {splits.data(), static_cast<std::size_t>(sectors)};
        const std::int32_t k = RecordIndexAt(r, playback_.playbackTime);
        c.cursorIndex = k;
        c.cursor = replay.records[k];
        const LateralLongitudinal acc = LateralLongitudinalAccel(replay, k);
        c.lateralAccel = acc.lateral;
        c.longitudinalAccel = acc.longitudinal;
        c.yaw = YawAngle(replay, k);
        c.timingDifference = PlaybackTimingDifference(r);
        c.segmentTime = SegmentTime(segments_, replay, r);
        c.timeFromSync = TimeFromSync(r);
        c.entranceSpeed = EntranceSpeed(segments_, replay, r, mode);
        c.exitSpeed = ExitSpeed(segments_, replay, r, mode);
    }
    StatsInput& input = out->input;
    input.columns = {out->columns.data(), static_cast<std::size_t>(n)};
    input.currentSegment = segments_.currentSegment;
    input.segmentMarkerNames = set_.segmentMarkerNames;
    input.syncMode = mode;
    input.isPlaying = playback_.isPlaying;
    input.playbackSpeed = playback_.playbackSpeed;
    input.playForward = playback_.playForward;
    input.units = units_;
}

StatsTable CAnalysisView::BuildStatsTableNow() const {
    StatsGathered gathered;
    GatherStats(&gathered);
    return BuildStatsTable(gathered.input);
}

}  // namespace lapquill
