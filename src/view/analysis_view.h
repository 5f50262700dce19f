// CAnalysisView: the one view of the program. It owns the track catalogue, the replay set, the
// segment data, the playback state, the camera, the overlay and its fonts, the drawing device and
// every buffer on it, and turns keys, commands, scrolls, paints and size changes into changes of
// them. It talks to its window only through ViewWindow. Times are records (0.01 s) unless named
// in seconds; the clock is injectable so that tests and lapquill-cli run on simulated time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/playback.h"
#include "analysis/replay_set.h"
#include "analysis/segments.h"
#include "analysis/stats_text.h"
#include "files/track_mesh.h"
#include "render/camera.h"
#include "render/map_scene.h"
#include "math/math_types.h"
#include "render/render_device.h"
#include "render/stats_overlay.h"
#include "render/texture_font.h"
#include "view/view_window.h"

namespace lapquill {


class CAnalysisView {
  public:
    // Builds the catalogue from data/smx below the current directory.
    explicit CAnalysisView(ViewWindow& window, Clock clock = SteadyClock());
    // Same, with the catalogue from another folder (tests).
    CAnalysisView(ViewWindow& window, Clock clock, const std::string& catalogueFolder);
    ~CAnalysisView();
    CAnalysisView(const CAnalysisView&) = delete;
    CAnalysisView& operator=(const CAnalysisView&) = delete;

    // The replay set. OpenReplays asks the window for files; replace clears the set first.
    void OpenReplays(bool replace);
    bool AddReplay(const std::string& path);  // true when accepted; needs fewer than six
    void ClearReplays();
    // Where track data is looked for when data/smx has none for a replay's track.
    void SetTrackSearch(const TrackSearch& search) { trackSearch_ = search; }
    const TrackSearch& GetTrackSearch() const { return trackSearch_; }

    // Keys and commands. HandleKeyAction returns false for keys it leaves to the window.
    bool HandleKeyAction(std::uint32_t code);
    void SetSyncMode(SyncMode mode);          // the sync commands of the menu
    void SetPlaybackTime(std::int32_t time);  // playbackTime := time; applied when loaded
    void MarkCustomStart();
    void MarkCustomEnd();
    void SelectPreviousSegment();
    void SelectNextSegment();
    // Selects track segment s (-1 custom) and puts the playback time at its start, as Page Up
    // and Page Down do; a segment the set does not have is ignored.
    void SelectSegment(std::int32_t s);

    // Playback.
    void ApplyPlaybackTime();
    void AdvancePlayback();  // the step at the end of every frame
    double AbsoluteTime() const { return clock_(); }
    float TimeFromSync(std::int32_t r) const;              // s
    float PlaybackTimingDifference(std::int32_t r) const;  // s, positive when r is behind
    std::int32_t RecordIndexAt(std::int32_t r, std::int32_t t) const;
    std::int32_t RecordIndexAt(std::int32_t r, std::int32_t t, SyncMode kind) const;
    std::int32_t SegmentLength(std::int32_t r) const;

    // The statistics table at the playback time, as the overlay draws it.
    StatsTable BuildStatsTableNow() const;
    // The values the table shows, gathered at the playback time (the spans point into the
    // gathering itself, so it is filled in place); lapquill-cli reports them in JSON.
    struct StatsGathered {
        std::array<StatsColumnInput, kMaxReplays> columns;
        std::array<std::array<std::int32_t, kMaxSectorCount>, kMaxReplays> splits;
        StatsInput input;
        StatsGathered() = default;
        StatsGathered(const StatsGathered&) = delete;
        StatsGathered& operator=(const StatsGathered&) = delete;
    };
    void GatherStats(StatsGathered* out) const;
    void SetDisplayUnits(const DisplayUnits& units) { units_ = units; }
    const DisplayUnits& Units() const { return units_; }

    // Window messages and the rendering hooks.
    void OnPaint();
    void OnSize(std::int32_t width, std::int32_t height);
    void OnDestroy();
    void RenderFrame();
    HRESULT ResetDevice();
    void CreateDeviceObjects();
    void ReleaseDeviceObjects();
    void TrackCar();
    void UpdateCamera();
    void PanCamera(CameraPan direction);
    void ZoomIn();
    void ZoomOut();
    void ToggleFollowCar();
    // The scroll messages; the thumb's position is read from the window's bar.
    void OnHScroll(std::uint32_t code);
    void OnVScroll(std::uint32_t code);

    // State, read by the program's frame, lapquill-cli and the tests.
    const ReplaySet& Replays() const { return set_; }
    std::int32_t ReplayCount() const { return set_.replayCount; }
    const SegmentData& Segments() const { return segments_; }
    const PlaybackState& Playback() const { return playback_; }
    const TrackCatalogue& Catalogue() const { return catalogue_; }
    bool StatsVisible() const { return overlay_.statsVisible; }
    // The dark panel behind the table (on unless turned off); a change rebuilds the panel.
    void SetStatsBackdrop(bool visible);
    bool StatsBackdrop() const { return overlay_.backdropVisible; }
    // The file each accepted slot was loaded from, as it was given to AddReplay.
    const std::string& ReplayPath(std::int32_t slot) const {
        return set_.replayPaths[static_cast<std::size_t>(slot)];
    }
    // A drag across the map by (dx, dy) client pixels: the top-down camera moves so that the
    // ground under the pointer follows it. The chase camera ignores drags.
    void DragMap(std::int32_t dx, std::int32_t dy);
    bool FpsVisible() const { return overlay_.fpsVisible; }
    const StatsOverlay& Overlay() const { return overlay_; }
    bool HasDevice() const { return device_ != nullptr; }
    RenderDevice* Device() const { return device_.get(); }
    const MapSceneBuffers& SceneBuffers() const { return scene_; }
    // The three fonts, in their order of creation and release.
    const TextureFont& FpsFont() const { return fpsFont_; }
    const TextureFont& ValueFont() const { return valueFont_; }
    const TextureFont& LabelFont() const { return labelFont_; }

    const CameraState& Camera() const { return camera_; }
    Vector3 CameraTarget() const { return camera_.cameraTarget; }
    float CameraHeight() const { return camera_.cameraHeight; }
    float CameraYaw() const { return camera_.cameraYaw; }
    float CameraPitch() const { return camera_.cameraPitch; }
    float CameraRoll() const { return camera_.cameraRoll; }
    bool FollowCar() const { return camera_.followCar; }
    std::int32_t FollowDistance() const { return camera_.followDistance; }
    Vector3 FollowPoint() const { return camera_.followPoint; }
    // The view transform of the last camera update and the projection it was made for.
    const Matrix4& ViewMatrix() const { return viewMatrix_; }
    const Matrix4& Projection() const { return projection_; }
    // The map's box, once a mesh has been built into the device objects.
    const MapExtent* TrackBounds() const { return trackBoundsSet_ ? &trackBounds_ : nullptr; }

    // The map beyond the first program: how the ribbons are coloured (rebuilds the ribbons), the
    // car markers and legend of the current frame, and the whole-track framing, which holds the
    // top-down camera over the whole circuit until a pan, zoom or scroll moves it.
    void SetRibbonColouring(RibbonColouring colouring);
    RibbonColouring RibbonColouringNow() const { return colouring_; }
    void FrameWholeTrack();
    bool WholeTrackFramed() const { return wholeTrack_; }
    // What is drawn over the map in client pixels: the statistics table (while shown, with
    // replays) and the legend; the whole-track framing keeps the circuit out from under them.
    std::vector<ClientRect> MapCoveredNow() const;
    // The ribbons' width step (RibbonWidthStep of the top-down camera, 0 under the chase camera)
    // the ribbon buffers were last built for; they are built again when the camera reaches
    // another step.
    std::int32_t RibbonWidthStepBuilt() const { return ribbonStep_; }
    std::vector<MapVertex> CarMarkersNow() const;
    std::vector<LegendEntry> RibbonLegendNow() const;
    // The lap the delta colouring measures against (a slot; slot 0 when no lap holds it).
    void SetComparisonReference(std::int32_t slot);
    std::int32_t ComparisonReference() const;
    // Counts the changes of the replay set (accepted replays, clears), so that a pane showing
    // a comparison of the set knows when to build it again.
    std::uint64_t ReplaySetVersion() const { return replaySetVersion_; }

    // What the last frame's map cost against its budgets (pixels, see map_coverage.h), and
    // the notes said once per track when a layer was too dense to draw in full.
    struct MapFrameCost {
        CoverageBudget mesh;
        CoverageBudget paths;
    };
    const MapFrameCost& LastMapCost() const { return lastMapCost_; }

    // How often the device objects were released and the device reset (tests check that these
    // happen at the right moments).
    int ReleaseDeviceObjectsCalls() const { return releaseDeviceObjectsCalls_; }
    int ResetDeviceCalls() const { return resetDeviceCalls_; }

  private:
    void MarkCustomBoundary(void (*mark)(SegmentData*, float));
    void FollowZoom(CameraFollowUp next);
    void StepSpeedOrRecord(bool forward);
    void OnScroll(ScrollBarId bar, std::uint32_t code);
    void PlaceTimeInSelectedSegment();
    OverlayFonts Fonts();
    ChaseCar ChaseCarNow() const;
    GroundRect TopDownGround() const;
    void FollowSegmentInLapMode();
    void RecomputeSegments();
    void DrawRibbonLegend();
    // The legend's panel and text lines; false when there is no legend to draw.
    struct LegendBox {
        std::vector<LegendEntry> entries;
        ClientRect panel;            // client pixels
        std::int32_t lineHeight = 0; // pixels per entry
        std::int32_t firstLine = 0;  // y of the first entry's text
        std::int32_t textLeft = 0;   // x of the texts
    };
    bool MeasureLegend(LegendBox* box) const;
    std::int32_t RibbonWidthStepNow() const;
    // Builds the ribbons again at the camera's width step when it is not the one they have.
    void UpdateRibbonWidth();
    // Puts the top-down camera over the whole circuit, clear of the table and the legend.
    void PlaceWholeTrack();
    // The box the top-down target is kept in: the map's, grown to take in a target the
    // whole-track framing put beside it (null without a map).
    const MapExtent* TargetRoom() const;
    void NoteMapCost(const MapFrameBudget& budget);

    ViewWindow& window_;
    Clock clock_;

    TrackCatalogue catalogue_;
    TrackSearch trackSearch_;
    ReplaySet set_;
    SegmentData segments_;
    PlaybackState playback_;
    DisplayUnits units_;

    // Overlay: flags, replay colours, panel and frame rate; its fonts.
    StatsOverlay overlay_;
    TextureFont fpsFont_{"Arial", 12, 0};
    TextureFont valueFont_{"Courier New", 9, 0};
    TextureFont labelFont_{"Times New Roman", 9, 0};

    // Camera.
    CameraState camera_;
    Matrix4 projection_{};  // for the client size of the last camera update
    Matrix4 viewMatrix_{};  // of the active camera, as set on the device

    // Device and its objects.
    std::unique_ptr<RenderDevice> device_;
    bool deviceCreated_ = false;  // the first paint tried to make the device; never retried
    MapSceneBuffers scene_;
    MapExtent trackBounds_{};  // m, of the mesh last built into the buffers
    bool trackBoundsSet_ = false;
    int releaseDeviceObjectsCalls_ = 0;
    int resetDeviceCalls_ = 0;

    RibbonColouring colouring_ = RibbonColouring::ByLap;
    // Every record's colour per ribbon, kept from the last build of the device objects so that a
    // change of width only builds the geometry again.
    std::vector<std::vector<std::uint32_t>> ribbonColours_;
    std::int32_t ribbonStep_ = 0;
    bool wholeTrack_ = false;
    // Where the whole-track framing left the target beside the map, the map's box grown to take
    // it in. Pans, zooms and scrolls from there move the camera as anywhere else; the room
    // shrinks to what they leave between the target and the map, and is gone once the target is
    // back on the map or the camera follows the car again.
    MapExtent targetRoom_{};  // m
    bool targetRoomSet_ = false;
    std::int32_t comparisonReference_ = 0;
    std::uint64_t replaySetVersion_ = 0;
    mutable SpeedRangeCache legendSpeeds_;  // of the laps at replaySetVersion_

    MapFrameCost lastMapCost_;
    bool denseMeshNoted_ = false;   // the notes below are said once per track
    bool densePathsNoted_ = false;
};

}  // namespace lapquill
